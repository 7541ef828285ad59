// What create reads and checks before it writes anything: the stub, the
// texts of the header, the INF file the stub will hand on, the password.
#include "create_inputs.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/errors.h"
#include "cli/text.h"
#include "cli/windows_path.h"
#include "inf/check.h"
#include "stub_image.h"
#include "zip/windows_names.h"
#include "zip/top_folder.h"
#include "core/package_layout.h"

namespace vantrel_pack {
namespace {

// The password dialog takes at most this many characters.
constexpr size_t kMaxPasswordLength = 79;

// Texts and the stub are read whole: a device or a pipe given by mistake
// would be read for ever, so only regular files are taken.
std::string ReadWholeFile(const std::string &path, uint64_t largest) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    throw PackError("cannot open " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) throw PackError(path + " is not a regular file");
  if (uint64_t(info.st_size) > largest) {
    throw PackError(path + " has " + std::to_string(info.st_size) + " bytes; at most " +
                    std::to_string(largest) + " are possible here");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot open " + path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw PackError("cannot read " + path);
  return content.str();
}

// A text for the stub: UTF-8 in, code page and CR LF out.
std::string StubText(const std::string &utf8, const CreateOptions &options,
                     const std::string &what) {
  return ToCrLf(ToCodePage(WithoutByteOrderMark(utf8), options.codePage, what));
}


}  // namespace

std::string LoadStub(const CreateOptions &options) {
  std::string path = options.stub ? *options.stub : FindDefaultStub();
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      uint64_t(info.st_size) != kStubSize) {
    throw PackError("the stub " + path + " has " + std::to_string(info.st_size) +
                    " bytes; it must have exactly " + std::to_string(kStubSize));
  }
  std::string stub = ReadWholeFile(path, kStubSize);
  if (stub.size() != kStubSize) {
    throw PackError("the stub " + path + " has " + std::to_string(stub.size()) +
                    " bytes; it must have exactly " + std::to_string(kStubSize));
  }
  if (stub.compare(0, 2, "MZ") != 0) throw PackError("the stub " + path + " is not a program");
  return stub;
}

PackageTexts MakeTexts(const CreateOptions &options) {
  PackageTexts texts;
  if (options.title) texts.title = StubText(*options.title, options, "the title");
  if (texts.title.size() > kLongestShortText) {
    throw PackError("the title is longer than " + std::to_string(kLongestShortText) + " bytes");
  }
  if (options.welcomeText) {
    texts.welcomeText = StubText(*options.welcomeText, options, "the welcome text");
  } else if (options.welcomeFile) {
    texts.welcomeText = StubText(ReadWholeFile(*options.welcomeFile, kLargestPackage), options,
                                 *options.welcomeFile);
  }
  if (options.licenceFile) {
    texts.licenceText = StubText(ReadWholeFile(*options.licenceFile, kLargestPackage), options,
                                 *options.licenceFile);
  }
  // An empty text is no text to the stub: the licence dialog would silently
  // not appear, and a package without welcome text installs unattended.
  if ((options.welcomeText || options.welcomeFile) && texts.welcomeText.empty()) {
    throw PackError(
        "the welcome text is empty; without --welcome or --welcome-file the package "
        "installs unattended, which is what an empty text would do");
  }
  if (options.licenceFile && texts.licenceText.empty()) {
    throw PackError("the licence file " + *options.licenceFile +
                    " is empty: the stub would not show the licence at all");
  }
  // The header's stored password stays empty: anyone holding the package
  // could read it back.
  return texts;
}

bool IsFolder(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Why no INF was found; when every file lies in one folder, the way out.
std::string NoInfAtTheTop(const std::vector<std::string> &names, const CreateOptions &options) {
  const std::string text = "no .inf file at the top of the archive";
  std::optional<std::string> top = SharedTopFolder(names);
  if (!top) return text + " (name one with --inf)";
  const std::string folder = FromCodePage(*top, options.codePage);
  if (IsFolder(options.source)) {
    return text + ": every file lies in its folder " + folder + "; give " +
           options.source + "/" + folder + " as SOURCE";
  }
  return text + ": every file lies in its folder " + folder +
         "/; give create --strip-top-folder, or zip the files from inside that folder (cd " +
         folder + " && zip -r ../NAME.zip .)";
}

}  // namespace

// The INF file the stub hands to the installer, named as in the archive
// (Windows paths: '\' between folders).
std::string ChooseInf(const std::vector<std::string> &names, const CreateOptions &options) {
  std::string chosen;
  if (options.infName) {
    std::string wanted = ToCodePage(*options.infName, options.codePage, "the INF name");
    const WindowsNames windows(options.codePage);
    for (const std::string &name : names) {
      if (windows.Key(name) == windows.Key(wanted)) chosen = name;
    }
    if (chosen.empty())
      throw PackError("the INF file " + *options.infName + " is not in the archive");
  } else {
    std::vector<std::string> found;
    for (const std::string &name : names) {
      if (IsTopLevelInf(name)) found.push_back(name);
    }
    if (found.empty()) throw PackError(NoInfAtTheTop(names, options));
    if (found.size() > 1) {
      throw PackError("several .inf files at the top of the archive (" + found[0] + ", " +
                      found[1] + ", ...): name one with --inf");
    }
    chosen = found[0];
  }
  chosen = WithBackslashes(chosen);
  if (chosen.size() > kLongestShortText) {
    throw PackError("the INF name is longer than " + std::to_string(kLongestShortText) +
                    " bytes");
  }
  return chosen;
}

std::string CheckedPassword(const CreateOptions &options) {
  std::string password = ToCodePage(*options.password, options.codePage, "the password");
  if (password.empty()) throw PackError("the password is empty");
  for (unsigned char c : password) {
    if (c < 0x20 || c == 0x7F) {
      throw PackError(
          "the password holds a control character, which nobody can type into "
          "the password dialog");
    }
  }
  if (password.size() > kMaxPasswordLength) {
    throw PackError("the password is longer than " + std::to_string(kMaxPasswordLength) +
                    " characters, more than the password dialog takes");
  }
  return password;
}

}  // namespace vantrel_pack
