#include <cstdlib>

#include "arguments.h"
#include "commands.h"
#include "create.h"
#include "pack_error.h"

namespace vantrel_pack {

const char *CreateHelp() {
  return R"(usage: vantrel-pack create -o OUT [options] SOURCE

Makes the setup program OUT: the stub, a package header with the texts
below, and a zip archive. SOURCE is a folder (zipped here, deflated) or a
.zip file (appended byte for byte after checking that the stub can extract
every member: sizes in every local header, no Zip64, at most 2 GiB).

  -o, --output OUT      the program file to write (also the name the parts
                        of a split package are derived from)
  --level N             deflate level 0..9 for a folder SOURCE; 0 stores
                        (default 6)
  --title TEXT          dialog caption and disk prompt caption, at most 255
                        bytes once converted
  --inf NAME            the INF file to install; default: the only .inf file
                        at the top of the archive
  --welcome TEXT        text of the main dialog
  --welcome-file FILE   the same, read from FILE; without either option the
                        package installs unattended, without a dialog
  --licence-file FILE   licence text the user must accept first
  --password TEXT       folder SOURCE: encrypt every member with the
                        traditional zip encryption; the user types the
                        password (at most 79 characters), the package does
                        not contain it
  --stay-open           keep the dialog open after the installation
  --admin               refuse to run without administrator rights
  --advpack             install through advpack LaunchINFSection
  --skip-check          write the flag that makes the stub skip its check of
                        the archive's end; without it a single-part package
                        that would fail that check is refused here
  --no-inf-check        make the package even when the INF checks find errors
                        (they are shown as warnings)
  --stub FILE           the stub (exactly 35,328 bytes); default:
                        vantrel-stub.exe beside this program
  --split SIZE          split into pieces of SIZE bytes (k or m suffix,
                        1024-based; rounded down to a multiple of 8, so that
                        OUT can be signed): OUT holds the stub, header, texts
                        and the start of the archive, the rest goes to OUT
                        with its last three characters replaced by 001, 002,
                        ... (at most 255 parts)
  --codepage N          Windows ANSI code page of the texts and file names
                        (default 1252); texts are read as UTF-8, and one that
                        cannot be written in the code page is an error
  -q, --quiet           no progress display and no summary line (progress is
                        shown only when standard error is a terminal anyway)

The INF file is checked against the archive and the package's road: the
sections the stub runs (DefaultInstall; with --advpack DefaultInstall2,
DefaultInstall2.ntx86 and DefaultInstallX), the files its install sections
copy (through SourceDisksNames/SourceDisksFiles, sub-folders included), the
sections its directives name, and its name (8.3, no space or comma, and a
setupx command line within the 126 characters of the 16-bit rundll.exe).
Errors stop create; `vantrel-pack inf` writes an INF that passes.

Line ends of the texts become CR LF. Exit status: 0 done, 1 bad input or a
failed file operation, 2 bad command line. OUT is written under a temporary
name and appears only when complete.

Reproducible packages: the same SOURCE, options and stub give the same
bytes, on any machine and at any time. Members are in name order, their
times are the files' modification times read as UTC, and nothing else of
the machine goes in; only the random bytes that open each encrypted member
differ from run to run. With SOURCE_DATE_EPOCH set (seconds since 1970), no
member time is later than it, and those bytes are derived from the password
and the member's name and content instead: packages made so show which
encrypted members they share (see the README).

Signing: sign OUT once it is made; the stub accepts the certificate table a
signing tool appends, and nothing else after the archive. Sign last: a byte
changed afterwards makes the stub refuse the package as corrupted. Of a split
package sign OUT only, and keep its name: the parts are found by it.
  Linux:    osslsigncode sign -pkcs12 cert.pfx -pass PASSWORD -n "TITLE" \
              -ts http://timestamp.example.com -in OUT -out signed.exe
            mv signed.exe OUT
  Windows:  signtool sign /fd sha256 /f cert.pfx /p PASSWORD
              /tr http://timestamp.example.com /td sha256 OUT
Then `vantrel-pack inspect OUT` shows where the signature lies and whether the
stub accepts the package; `osslsigncode verify` or `signtool verify /pa` says
whether the signature is valid.
)";
}

namespace {

// Seconds since 1970, as the reproducible-builds convention writes them; an
// empty value counts as unset.
std::optional<int64_t> ParseSourceDateEpoch(const char *value) {
  if (!value || !*value) return std::nullopt;
  std::string text = value;
  bool digits = text.size() <= 12;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (!digits) {
    throw PackError("SOURCE_DATE_EPOCH is \"" + text + "\", not a number of seconds since 1970");
  }
  return std::stoll(text);
}

}  // namespace

CreateOptions ParseCreateOptions(const std::vector<std::string> &args,
                                 const char *sourceDateEpoch) {
  CreateOptions options;
  std::vector<std::string> positional;
  bool haveOutput = false;
  Arguments in(args);
  while (in.Next()) {
    if (!in.IsOption()) {
      positional.push_back(in.Word());
      continue;
    }
    const std::string name = in.Name();
    if (name == "-o" || name == "--output") {
      options.output = in.Value();
      haveOutput = true;
    } else if (name == "--level") {
      options.level = int(ParseNumber(in.Value(), 0, 9, "--level"));
      options.levelGiven = true;
    } else if (name == "--title") {
      options.title = in.Value();
    } else if (name == "--inf") {
      options.infName = in.Value();
    } else if (name == "--welcome") {
      options.welcomeText = in.Value();
    } else if (name == "--welcome-file") {
      options.welcomeFile = in.Value();
    } else if (name == "--licence-file") {
      options.licenceFile = in.Value();
    } else if (name == "--password") {
      options.password = in.Value();
    } else if (name == "--stub") {
      options.stub = in.Value();
    } else if (name == "--split") {
      options.splitSize = ParseSize(in.Value(), "--split");
    } else if (name == "--codepage") {
      options.codePage = int(ParseNumber(in.Value(), 1, 65535, "--codepage"));
    } else if (name == "--stay-open") {
      in.NoValue();
      options.stayOpen = true;
    } else if (name == "--admin") {
      in.NoValue();
      options.adminRequired = true;
    } else if (name == "--advpack") {
      in.NoValue();
      options.useAdvpack = true;
    } else if (name == "--skip-check") {
      in.NoValue();
      options.skipIntegrityCheck = true;
    } else if (name == "--no-inf-check") {
      in.NoValue();
      options.noInfCheck = true;
    } else if (name == "-q" || name == "--quiet") {
      in.NoValue();
      options.quiet = true;
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  if (!haveOutput || options.output.empty()) throw UsageError("no output file (-o OUT)");
  if (positional.empty()) throw UsageError("no SOURCE folder or .zip file");
  if (positional.size() > 1) throw UsageError("more than one SOURCE: " + positional[1]);
  options.source = positional[0];
  options.sourceDateEpoch = ParseSourceDateEpoch(sourceDateEpoch);
  if (options.welcomeText && options.welcomeFile) {
    throw UsageError("--welcome and --welcome-file exclude each other");
  }
  return options;
}

int RunCreate(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  CreatePackage(ParseCreateOptions(args, std::getenv("SOURCE_DATE_EPOCH")), out, err);
  return 0;
}

}  // namespace vantrel_pack
