#include "text.h"

#include <errno.h>
#include <iconv.h>

#include <cstdio>
#include <vector>

#include "errors.h"

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
  // ASCII reads the same in every code page a package may use; most names
  // are ASCII, and iconv costs more than the scan.
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii) return text;
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

std::string ToUtf16(const std::string &utf8, const std::string &what) {
  Converter converter("UTF-16LE", "UTF-8");
  std::string out;
  size_t bad = Convert(converter.handle, utf8, out);
  if (bad != std::string::npos) {
    throw PackError(what + " is not valid UTF-8 (byte " + std::to_string(bad) + ")");
  }
  return out;
}

std::string FromUtf16(const std::string &utf16) {
  Converter converter("UTF-8", "UTF-16LE");
  std::string out;
  Convert(converter.handle, utf16, out);
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

std::string WithoutByteOrderMark(const std::string &text) {
  return text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
}

std::string FoldCase(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

std::string Escaped(const std::string &text, Escape how) {
  std::string out;
  for (unsigned char c : text) {
    const char *named = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\r' ? "\\r"
                      : c == '\n' ? "\\n" : c == '\t' ? "\\t" : nullptr;
    if (how != Escape::kControls && named) {
      out += named;
    } else if (c < 0x20 || c == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, how == Escape::kJson ? "\\u%04X" : "\\x%02X", c);
      out += code;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string Quoted(const std::string &text, Escape how) { return "\"" + Escaped(text, how) + "\""; }

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", unsigned(value));
  return text;
}

}  // namespace vantrel_pack
