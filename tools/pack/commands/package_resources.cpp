#include "package_resources.h"

#include "cli/errors.h"
#include "cli/text.h"
#include "inf/scope.h"

namespace vantrel_pack {
namespace {

// Each version string and the create option that sets it.
const struct {
  const char *key;
  const char *option;
} kVersionOptions[] = {
    {"CompanyName", "--company"},         {"FileDescription", "--description"},
    {"FileVersion", "--product-version"}, {"LegalCopyright", "--copyright"},
    {"ProductName", "--product-name"},    {"ProductVersion", "--product-version"},
};

const char *OptionOf(const std::string &key) {
  for (const auto &row : kVersionOptions) {
    if (key == row.key) return row.option;
  }
  return "";
}

// A value and where it came from, for the message when it does not fit.
struct Chosen {
  std::string value;  // UTF-8
  std::string from;   // "" when its own option gave it
};

// The values the version strings get: each option, else what the INF
// written by `vantrel-pack inf` records, else what the title says.
struct Names {
  Chosen name, version, company, description, copyright;
};

Names ChooseNames(const CreateOptions &options, const std::string *infText) {
  std::optional<WrittenInfNames> written;
  if (infText) written = ReadWrittenInfNames(*infText);
  auto fromInf = [&](const std::string &value) { return FromCodePage(value, options.codePage); };
  Names names;
  const std::string title = options.title ? *options.title : "";
  if (options.productName) {
    names.name = {*options.productName, ""};
  } else if (written) {
    names.name = {fromInf(written->name), "the INF's AppName"};
  } else if (!title.empty()) {
    names.name = {title, "--title"};
  }
  if (options.productVersion) {
    names.version = {*options.productVersion, ""};
  } else if (written && !written->version.empty()) {
    names.version = {fromInf(written->version), "the INF's AppVersion"};
  }
  if (options.company) {
    names.company = {*options.company, ""};
  } else if (written && !written->publisher.empty()) {
    names.company = {fromInf(written->publisher), "the INF's Publisher"};
  }
  if (options.description) {
    names.description = {*options.description, ""};
  } else if (!title.empty()) {
    names.description = {title, "--title"};
  } else if (!names.name.value.empty()) {
    names.description = {names.name.value + " setup",
                         names.name.from.empty() ? "--product-name" : names.name.from};
  }
  if (options.copyright) names.copyright = {*options.copyright, ""};
  return names;
}

bool AsksForVersionInfo(const CreateOptions &o) {
  return o.productName || o.productVersion || o.company || o.description || o.copyright;
}

void SetVersionInfo(std::string &image, const CreateOptions &options, const std::string *infText,
                    std::ostream &err) {
  Names names = ChooseNames(options, infText);
  const std::pair<const char *, const Chosen *> values[] = {
      {"CompanyName", &names.company}, {"FileDescription", &names.description},
      {"FileVersion", &names.version}, {"LegalCopyright", &names.copyright},
      {"ProductName", &names.name},    {"ProductVersion", &names.version}};
  VersionInfo info;
  for (const auto &value : values) info.strings.push_back({value.first, value.second->value, 0});
  if (!names.version.value.empty()) {
    std::optional<std::array<uint16_t, 4>> numbers = ParseVersionNumbers(names.version.value);
    if (numbers) {
      info.fileVersion = info.productVersion = *numbers;
    } else {
      err << "vantrel-pack create: warning: the version \"" << names.version.value
          << "\" is not up to four dotted numbers of 0..65535; the binary file and product "
             "versions stay 0.0.0.0\n";
    }
  }
  WriteVersionInfo(image, info, [&](const std::string &key) {
    for (const auto &value : values) {
      if (key != value.first || value.second->from.empty()) continue;
      return "the value taken from " + value.second->from + " for " + key + " (" + OptionOf(key) +
             " gives another)";
    }
    return std::string(OptionOf(key));
  });
}

}  // namespace

const char *const kVersionKeys[6] = {"ProductName", "ProductVersion",  "FileVersion",
                                     "CompanyName", "FileDescription", "LegalCopyright"};

Elevation DefaultElevation(bool adminRequired, const std::string *infText,
                           const std::string &unreadable, bool useAdvpack, int codePage) {
  if (adminRequired) {
    return {"requireAdministrator", "--admin: the package runs only with administrator rights"};
  }
  if (!infText) {
    return {"asInvoker", "the INF could not be read here (" + unreadable +
                             "), so nothing shows that it installs for the whole machine"};
  }
  std::optional<std::string> reason = MachineWideReason(*infText, useAdvpack);
  if (reason) return {"requireAdministrator", FromCodePage(*reason, codePage)};
  return {"asInvoker",
          "the INF installs for the current user: nothing in Program Files or the Windows "
          "folders, no HKLM key, no Start-menu item for all users"};
}

std::string PackageStub(const std::string &stub, const CreateOptions &options,
                        const std::string *infText, const std::string &unreadable,
                        std::ostream &err) {
  std::string image = stub;
  Elevation level = DefaultElevation(options.adminRequired, infText, unreadable, options.useAdvpack,
                                     options.codePage);
  if (options.elevation) level.level = *options.elevation;
  if (options.adminRequired && level.level == "asInvoker") {
    err << "vantrel-pack create: warning: --elevation asInvoker with --admin: on Windows "
           "Vista and later the package then refuses to run unless started with \"Run as "
           "administrator\"\n";
  }
  if (ReadExecutionLevel(image)) {
    WriteExecutionLevel(image, level.level);
  } else if (options.elevation) {
    throw PackError("--elevation: the stub has no manifest with an execution level to set");
  }
  if (ReadVersionInfo(image)) {
    SetVersionInfo(image, options, infText, err);
  } else if (AsksForVersionInfo(options)) {
    throw PackError(
        "the stub has no version information to fill in (--product-name, "
        "--product-version, --company, --description, --copyright)");
  }
  if (image != stub) UpdateImageChecksum(image);
  return image;
}

}  // namespace vantrel_pack
