// `vantrel-pack test`: every member extracted by the stub's own extraction
// into a scratch folder, as `unzip -t` tests an archive, and each one the
// stub would not install named with the stub's reason. Where the stub's walk
// stops at a member, the test goes on after it, so that one run finds every
// damaged member.
#include <filesystem>

#include "cli/arguments.h"
#include "cli/errors.h"
#include "cli/text.h"
#include "commands.h"
#include "extraction.h"

namespace fs = std::filesystem;

namespace vantrel_pack {
namespace {

const Option<ExtractionOptions> kTestOptions[] = {
    kPasswordOption,
    kCodePageOption,
    {"-q, --quiet", nullptr, "name only the members that fail, and the result",
     Switch<&ExtractionOptions::quiet>},
};

}  // namespace

const char *TestHelp() {
  static const std::string help =
      "usage: vantrel-pack test PACKAGE [--password TEXT] [--codepage N] [-q]\n"
      "  Tests the package as `unzip -t` tests an archive, with the stub's own\n"
      "  loader and extraction into a scratch folder under $TMPDIR: each member\n"
      "  is shown OK or FAILED with the reason (CRC, damaged data, name, method,\n"
      "  password), and the test goes on past the member the stub would stop at.\n"
      "  A package the stub would refuse as a whole (corrupted, a part missing)\n"
      "  fails with the reason.\n\n" +
      OptionsHelp(kTestOptions, 20) +
      "\n  Exit status 0 exactly when the stub would extract every member, 1 when\n"
      "  it would not or the package cannot be read, 2 bad command line.\n";
  return help.c_str();
}

int RunTest(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  ExtractionOptions options;
  options.package =
      OnlyPositional(ParseOptions(args, kTestOptions, options), "no package given", "package");
  LoadedPackage loaded;
  if (!LoadForExtraction(options, "test", err, loaded)) return 1;
  const bool namesMakeable = NamesAsWindowsReadsThem(loaded.listing, loaded.codePage, "test", err);
  std::optional<std::string> password =
      PasswordFor(loaded.listing, options.password, loaded.codePage, err);

  StubSession &stub = *loaded.view.session;
  StubSession::Extraction how;
  how.folder = stub.Scratch() + "/test";
  how.password = password;
  how.goOn = true;
  how.onMember = [&](const StubMember &member) {
    WalkedMember shown = ViewMember(*loaded.view.bytes, member);
    std::string problem = VerdictText(shown);
    if (problem.empty() && options.quiet) return;
    out << (problem.empty() ? "OK      " : "FAILED  ") << Quoted(FromCodePage(shown.name, loaded.codePage), Escape::kControls)
        << (problem.empty() ? "" : ": " + problem) << "\n";
  };
  std::error_code ec;
  if (!fs::create_directories(how.folder, ec)) {
    throw PackError("cannot make the scratch folder " + how.folder);
  }
  StubWalk walk;
  stub.ExtractArchive(how, walk);
  std::vector<std::string> failures = ExtractionFailures(ViewWalk(*loaded.view.bytes, walk));
  size_t members = walk.members.size();
  if (failures.empty() && namesMakeable) {
    out << "no errors: the stub extracts all " << members << (members == 1 ? " member" : " members")
        << " of " << options.package << "\n";
    return 0;
  }
  for (const std::string &failure : failures) err << "vantrel-pack test: " << failure << "\n";
  return 1;
}

}  // namespace vantrel_pack
