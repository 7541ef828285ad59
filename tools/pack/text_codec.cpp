#include "text_codec.h"

#include <errno.h>
#include <iconv.h>

#include <cstdio>
#include <vector>

#include "pack_error.h"

namespace vantrel_pack {
namespace {

constexpr int kUtf8CodePage = 65001;

std::string IconvName(int codePage) {
  return codePage == kUtf8CodePage ? "UTF-8" : "CP" + std::to_string(codePage);
}

// The UTF-8 sequence starting at `at`, for the error message.
std::string CharacterAt(const std::string &text, size_t at) {
  size_t end = at + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return text.substr(at, end - at);
}

struct Converter {
  iconv_t handle;
  Converter(const std::string &to, const std::string &from)
      : handle(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (handle != iconv_t(-1)) iconv_close(handle);
  }
};

// Converts as much as possible; returns the offset of the first byte that
// does not convert, or npos.
size_t Convert(iconv_t handle, const std::string &in, std::string &out) {
  std::vector<char> buffer(in.size() * 4 + 16);
  char *inPtr = const_cast<char *>(in.data());
  size_t inLeft = in.size();
  char *outPtr = buffer.data();
  size_t outLeft = buffer.size();
  size_t result = iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft);
  out.assign(buffer.data(), size_t(outPtr - buffer.data()));
  if (result == size_t(-1)) return size_t(inPtr - in.data());
  // Reversible conversions only: iconv counts substitutions it made.
  if (result != 0) return in.size();
  return std::string::npos;
}

}  // namespace

bool CodePageSupported(int codePage) {
  Converter converter(IconvName(codePage), "UTF-8");
  return converter.handle != iconv_t(-1);
}

std::string ToCodePage(const std::string &utf8, int codePage, const std::string &what) {
  Converter converter(IconvName(codePage), "UTF-8");
  if (converter.handle == iconv_t(-1)) {
    throw PackError("code page " + std::to_string(codePage) + " is not supported");
  }
  std::string out;
  size_t bad = Convert(converter.handle, utf8, out);
  if (bad == std::string::npos) return out;
  if (bad >= utf8.size()) {
    throw PackError(what + " cannot be written exactly in code page " + std::to_string(codePage));
  }
  Converter checker("UTF-32LE", "UTF-8");
  std::string ignored;
  if (Convert(checker.handle, utf8.substr(bad), ignored) == 0) {
    throw PackError(what + " is not valid UTF-8 (byte " + std::to_string(bad) + ")");
  }
  throw PackError(what + ": the character \"" + CharacterAt(utf8, bad) +
                  "\" cannot be written in code page " + std::to_string(codePage));
}

std::string FromCodePage(const std::string &text, int codePage) {
  Converter converter("UTF-8", IconvName(codePage));
  std::string out;
  if (converter.handle != iconv_t(-1) &&
      Convert(converter.handle, text, out) == std::string::npos) {
    return out;
  }
  out.clear();
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ToCrLf(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace vantrel_pack
