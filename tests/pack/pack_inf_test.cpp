// The INF file: read as the installers read it, checked against the
// package's road and archive, written by `vantrel-pack inf`, and the checks
// as `create` and `inspect` apply them.
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "cli/errors.h"
#include "cli/text.h"
#include "inf/check.h"
#include "inf/file.h"
#include "inf/roads.h"
#include "inf/writer.h"
#include "install/launch.h"
#include "pack_fixture.h"
#include "package/reader.h"
#include "support/host_machine.h"

namespace pack_test {
namespace {

using vantrel_pack::CheckInf;
using vantrel_pack::InfEntry;
using vantrel_pack::InfFile;
using vantrel_pack::InfFinding;
using vantrel_pack::InfPlan;
using vantrel_pack::InfSection;
using vantrel_pack::InfSubject;
using vantrel_pack::kTargetNt;
using vantrel_pack::kTargetsAll;
using vantrel_pack::ParseInf;

// ---- reading --------------------------------------------------------------

struct ReadCase {
  const char *why;
  std::string text;
  const char *section;
  size_t entry;
  bool hasKey;
  std::string key;
  std::vector<std::string> values;
};

TEST(InfRead, EntriesAreSplitQuotedContinuedAndSubstitutedAsTheInstallersDo) {
  const std::string strings =
      "[Strings]\r\nAppName=\"Acme, Inc.\"\r\nPct=\"50%\"\r\n[Strings.0407]\r\nOnly=\"de\"\r\n";
  const ReadCase cases[] = {
      {"blanks and a comment", "[S]\r\n  a = b , c ;comment, d\r\n", "S", 0, true, "a", {"b", "c"}},
      {"quotes keep commas, semicolons and blanks; \"\" is a quote",
       "[S]\r\nx=\"He said \"\"hi\"\", ok; \",2\r\n",
       "S",
       0,
       true,
       "x",
       {"He said \"hi\", ok; ", "2"}},
      {"a final backslash continues the line",
       "[S]\r\nk=one,\\\r\n  two ; c\r\n",
       "S",
       0,
       true,
       "k",
       {"one", "two"}},
      {"no key: empty fields stay",
       "[S]\r\n\"Read Me.txt\",,,1\r\n",
       "S",
       0,
       false,
       "",
       {"Read Me.txt", "", "", "1"}},
      {"'=' after a comma is no key",
       "[S]\r\nHKLM,Soft,N,,a=b\r\n",
       "S",
       0,
       false,
       "",
       {"HKLM", "Soft", "N", "", "a=b"}},
      {"strings replace %name% in any case, inside quotes too; commas in them stay",
       "[S]\r\nName=%appname%,\"%APPNAME% Setup\"\r\n" + strings,
       "S",
       0,
       true,
       "Name",
       {"Acme, Inc.", "Acme, Inc. Setup"}},
      {"directory ids stay for the installer; %% is a percent sign",
       "[S]\r\nk=\"%24%\\Acme\",100%%\r\n" + strings,
       "S",
       0,
       true,
       "k",
       {"%24%\\Acme", "100%"}},
      {"a language's strings fill in", "[S]\r\nk=%Only%\r\n" + strings, "S", 0, true, "k", {"de"}},
      {"[Strings] itself is taken as written", strings, "Strings", 1, true, "Pct", {"50%"}},
      {"sections of one name merge, found in any case",
       "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n",
       "A",
       1,
       true,
       "y",
       {"2"}},
      {"LF alone ends lines too", "[S]\nfirst=1\nsecond=2\n", "S", 1, true, "second", {"2"}},
      {"blanks and line ends after a final Ctrl-Z change nothing",
       "[S]\r\nk=1\r\n\x1A\r\n \x1A",
       "S",
       0,
       true,
       "k",
       {"1"}},
  };
  for (const ReadCase &c : cases) {
    InfFile inf = ParseInf(c.text);
    EXPECT_TRUE(inf.problems.empty()) << c.why << ": " << inf.problems[0].text;
    const InfSection *section = inf.Find(c.section);
    ASSERT_NE(section, nullptr) << c.why;
    ASSERT_GT(section->entries.size(), c.entry) << c.why;
    const InfEntry &entry = section->entries[c.entry];
    EXPECT_EQ(entry.hasKey, c.hasKey) << c.why;
    EXPECT_EQ(entry.key, c.key) << c.why;
    EXPECT_EQ(entry.values, c.values) << c.why;
  }
}

TEST(InfRead, WhatAnInstallerWouldMisreadIsAProblemOnItsLine) {
  const struct {
    std::string text;
    int line;
    const char *expected;
  } cases[] = {
      {"[S]\r\nk=\"open\r\n", 2, "quote is not closed"},
      {"; header\r\nstray=1\r\n[S]\r\n", 2, "before the first section"},
      {"[S\r\n", 1, "not closed with ']'"},
      {"[S] x\r\n", 1, "text after the section name"},
      {"[S]\r\n\r\nk=%Nowhere%\r\n", 3, "%Nowhere% is not defined"},
      {"[S]\r\nk=50%\r\n", 2, "lone %"},
      {"[S]\r\nk=1,\\\r\n", 2, "continuation"},
      {"\xEF\xBB\xBF[S]\r\n", 1, "byte-order mark"},
      {std::string("\xFF\xFE[\0S\0]\0", 8), 0, "UTF-16"},
      // Where the installers are documented to read otherwise, or not
      // documented at all, the INF is refused rather than guessed at.
      {"[S]\r\nk=1\r\n\x1A[T]\r\nk=2\r\n", 3, "Ctrl-Z"},
      {"[S]\r\nfirst=1\rsecond=2\r\n", 2, "carriage return without a line feed"},
      {"[DefaultInstall ]\r\n", 1, "blanks inside its brackets"},
      {"[S]\r\n[" + std::string(256, 'n') + "]\r\n", 2, "longer than 255"},
      {"[S]\r\nk=" + std::string(4095, 'v') + "\r\n", 2, "longer than the installers"},
      {"[S]\r\nk=\"%A%%A%\"\r\n[Strings]\r\nA=\"" + std::string(500, 's') + "\"\r\n" +
           "B=\"" + std::string(512, 's') + "\"\r\n",
       5,
       "cuts to 511"},
      {"[S]\r\nk=%A%%A%%A%%A%%A%%A%%A%%A%%A%\r\n[Strings]\r\nA=\"" + std::string(500, 's') +
           "\"\r\n",
       2,
       "at most 4095"},
      {"[S]\r\nk=" + std::string(4 << 20, 'v') + "\r\n", 0, "larger than 4 MiB"},
      {[] {
         std::string many = "[S]\r\n";
         for (int i = 0; i < 1000; ++i) many += std::string(400, ',') + "\r\n";
         return many;
       }(),
       996,  // 402 a line and 40 for [S]: the 995th line of entries passes 400,000
       "more than 400000 entries and values"},
  };
  for (const auto &c : cases) {
    InfFile inf = ParseInf(c.text);
    EXPECT_EQ(inf.problems.size(), 1u) << c.expected;
    if (inf.problems.empty()) continue;
    EXPECT_EQ(inf.problems[0].line, c.line) << c.expected;
    EXPECT_NE(inf.problems[0].text.find(c.expected), std::string::npos) << inf.problems[0].text;
  }
}

// ---- checks ---------------------------------------------------------------

// An INF for a folder with a sub-folder, on both roads.
const std::string kGoodInf =
    "[Version]\r\nSignature=\"$Chicago$\"\r\n"
    "[DefaultInstall]\r\nCopyFiles=Top,Docs\r\nAddReg=Reg\r\n"
    "[DefaultInstall.NTx86]\r\nCopyFiles=Top,Docs\r\n"
    "[DefaultInstall2]\r\nCopyFiles=Top,Docs\r\n[DefaultInstall2.ntx86]\r\nCopyFiles=Top,Docs\r\n"
    "[DefaultInstallX]\r\nAddReg=Reg\r\n"
    "[DefaultUninstall]\r\nDelFiles=Top,Docs\r\nDelReg=Reg\r\n"
    "[DestinationDirs]\r\nTop=24,App\r\nDocs=24,App\\docs\r\n"
    "[Top]\r\n\"Acme Mines.exe\"\r\n[Docs]\r\nguide.txt\r\n"
    "[Reg]\r\nHKLM,Software\\Acme,Version,,\"1.0\"\r\n"
    "[SourceDisksNames]\r\n1=%Disk%,,,\r\n"
    "[SourceDisksFiles]\r\n\"Acme Mines.exe\"=1\r\nguide.txt=1,docs\r\n"
    "[Strings]\r\nDisk=\"Acme\"\r\n";

std::string Replaced(std::string text, const std::string &from, const std::string &to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct CheckCase {
  const char *why;
  std::string inf;
  bool advpack;
  std::vector<std::string> errors;  // each must be found in one error
  std::string infName = "acme.inf";
  std::vector<std::string> members = {"acme.inf", "Acme Mines.exe", "docs/guide.txt"};
  unsigned targets = 0;             // 0: as the INF's Signature says
  std::vector<std::string> notes;  // each must be found in one note
};

// An INF written from Microsoft's NT examples: it installs on the NT family
// only, and says so.
const std::string kNtOnlyInf =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
    "[DefaultInstall.NTx86]\r\nCopyFiles=Top\r\n"
    "[DestinationDirs]\r\nTop=24,App\r\n[Top]\r\n\"Acme Mines.exe\"\r\n"
    "[SourceDisksNames]\r\n1=%Disk%,,,\r\n[SourceDisksFiles]\r\n\"Acme Mines.exe\"=1\r\n"
    "[Strings]\r\nDisk=\"Acme\"\r\n";
const std::vector<std::string> kNtOnlyMembers = {"acme-notes-setup.inf", "Acme Mines.exe"};
const std::string kEmptyDefaultInstall =
    Replaced(kGoodInf, "[DefaultInstall]\r\nCopyFiles=Top,Docs\r\nAddReg=Reg\r\n",
             "[DefaultInstall]\r\n");

std::vector<std::string> Texts(const std::vector<InfFinding> &found, InfFinding::Severity kind) {
  std::vector<std::string> texts;
  for (const InfFinding &f : found) {
    if (f.severity == kind) texts.push_back(f.text);
  }
  return texts;
}

TEST(InfCheck, EachFaultIsAnErrorThatNamesItsFix) {
  const CheckCase cases[] = {
      {"a good INF, plain", kGoodInf, false, {}},
      {"a good INF, advpack", kGoodInf, true, {}},
      // Windows stores "Acme Mines.exe." as "Acme Mines.exe", in any case.
      {"members named as Windows takes them", kGoodInf, false, {}, "acme.inf",
       {"ACME.INF", "Acme Mines.exe.", "DOCS /guide.txt "}},
      {"a [DefaultInstall] INF with --advpack",
       Replaced(Replaced(Replaced(kGoodInf, "[DefaultInstall2]", "[Other2]"),
                         "[DefaultInstall2.ntx86]", "[Other3]"),
                "[DefaultInstallX]", "[Other4]"),
       true,
       {"lacks [DefaultInstall2] (advpack runs it on Windows 95/98), [DefaultInstall2.ntx86] "
        "(advpack runs it on the NT family) and [DefaultInstallX]",
        "make the package without --advpack"}},
      {"advpack without its NT section",
       Replaced(kGoodInf, "[DefaultInstall2.ntx86]", "[X]"),
       true,
       {"lacks [DefaultInstall2.ntx86] (advpack runs it on the NT family)"}},
      {"advpack sections packed without --advpack",
       Replaced(Replaced(kGoodInf, "[DefaultInstall]", "[A1]"), "[DefaultInstall.NTx86]", "[A2]"),
       false,
       {"lacks [DefaultInstall]", "make the package with --advpack"}},
      {"only the NT section: setupx finds nothing",
       Replaced(kGoodInf, "[DefaultInstall]\r\n", "[Renamed]\r\n"),
       false,
       {"lacks [DefaultInstall] (setupx runs it on Windows 95/98"}},
      {"a sub-folder's file without its sub-folder",
       Replaced(kGoodInf, "guide.txt=1,docs", "guide.txt=1"),
       false,
       {"[Docs] copies \"guide.txt\" from the INF's folder, where the archive has no such file; "
        "it is in \"docs\": write \"guide.txt\"=1,\"docs\" in [SourceDisksFiles]"}},
      {"a file [SourceDisksFiles] does not list",
       Replaced(kGoodInf, "guide.txt=1,docs\r\n", ""),
       false,
       {"which [SourceDisksFiles] does not list: add \"guide.txt\"=1,\"docs\" to it"}},
      {"a disk [SourceDisksNames] does not list",
       Replaced(kGoodInf, "guide.txt=1", "guide.txt=2"),
       false,
       {"on disk 2, which [SourceDisksNames] does not list"}},
      {"a file the archive lacks",
       kGoodInf,
       false,
       {"copies \"guide.txt\" from \"docs\", where the archive has no such file: add the file"},
       "acme.inf",
       {"acme.inf", "Acme Mines.exe"}},
      {"no destination for a file list",
       Replaced(kGoodInf, "Docs=24,App\\docs\r\n", ""),
       false,
       {"[DestinationDirs] has no entry for [Docs] (used by CopyFiles in [DefaultInstall])"}},
      {"a directive naming a missing section, in the uninstall section too",
       Replaced(kGoodInf, "DelReg=Reg", "DelReg=Reg,Gone"),
       false,
       {"[DefaultUninstall] DelReg=Gone (line 16) names a section the INF does not have"}},
      {"no signature",
       Replaced(kGoodInf, "Signature=\"$Chicago$\"", "Provider=x"),
       false,
       {"no [Version] Signature=\"$CHICAGO$\""}},
      {"an NT-only signature, for every family",
       Replaced(kGoodInf, "$Chicago$", "$Windows NT$"),
       false,
       {"refused by setupx on Windows 95/98"},
       "acme.inf",
       {"acme.inf", "Acme Mines.exe", "docs/guide.txt"},
       kTargetsAll},
      {"an NT-only INF: Windows 95/98's faults are notes",
       kNtOnlyInf,
       false,
       {},
       "acme-notes-setup.inf",
       kNtOnlyMembers,
       0,
       {"for Windows 95/98, which the package does not target (--targets): the INF name "
        "\"acme-notes-setup.inf\" is not an 8.3 name",
        "for Windows 95/98, which the package does not target (--targets): [Version] "
        "Signature=\"$Windows NT$\" is refused by setupx",
        "for Windows 95/98, which the package does not target (--targets): the INF lacks "
        "[DefaultInstall] (setupx runs it on Windows 95/98)"}},
      {"the NT-only INF for every family: Windows 95/98's three faults",
       kNtOnlyInf,
       false,
       {"\"acme-notes-setup.inf\" is not an 8.3 name", "is refused by setupx on Windows 95/98",
        "lacks [DefaultInstall] (setupx runs it on Windows 95/98)"},
       "acme-notes-setup.inf",
       kNtOnlyMembers,
       kTargetsAll},
      {"the NT-only INF with an empty NT section",
       Replaced(kNtOnlyInf, "[DefaultInstall.NTx86]\r\nCopyFiles=Top\r\n", "[DefaultInstall.NTx86]\r\n"),
       false,
       {"[DefaultInstall.NTx86], which the installer runs on the NT family, copies nothing, "
        "adds nothing and runs nothing"},
       "acme-notes-setup.inf",
       kNtOnlyMembers,
       kTargetNt},
      {"an empty [DefaultInstall]: Windows 95/98 gets nothing",
       kEmptyDefaultInstall,
       false,
       {"[DefaultInstall], which the installer runs on Windows 95/98, copies nothing, adds "
        "nothing and runs nothing",
        "--targets nt"}},
      {"an empty [DefaultInstall] for the NT family alone",
       kEmptyDefaultInstall,
       false,
       {},
       "acme.inf",
       {"acme.inf", "Acme Mines.exe", "docs/guide.txt"},
       kTargetNt,
       {"for Windows 95/98, which the package does not target (--targets): [DefaultInstall], "
        "which the installer runs on Windows 95/98, copies nothing"}},
      {"a file listed twice",
       Replaced(kGoodInf, "guide.txt=1,docs", "guide.txt=1,docs\r\nGUIDE.TXT=1"),
       false,
       {"lists \"GUIDE.TXT\" twice"}},
      {"a syntax problem",
       Replaced(kGoodInf, "[Top]", "[Top"),
       false,
       {"line 20: the section name is not closed"}},
      {"a space in the name, plain (setupx splits there)",
       kGoodInf,
       false,
       {"the INF name \"Acme Mines.inf\" has a space, where setupx (Windows 95/98) splits the "
        "unquoted command line",
        "rename it to an 8.3 name such as acmemine.inf"},
       "Acme Mines.inf",
       {"Acme Mines.inf", "Acme Mines.exe", "docs/guide.txt"}},
      {"a comma in the name, advpack",
       kGoodInf,
       true,
       {"has a comma, where advpack split"},
       "a,b.inf",
       {"a,b.inf", "Acme Mines.exe", "docs/guide.txt"}},
      {"a 76-character name on the setupx road",
       kGoodInf,
       false,
       {"is not an 8.3 name",
        "would pass 155 characters to rundll.exe under "
        "C:\\WINDOWS\\TEMP\\$Vantrel.Tmp, more than the 126"},
       std::string(72, 'a') + ".inf",
       {std::string(72, 'a') + ".inf", "Acme Mines.exe", "docs/guide.txt"}},
      {"8.3 folders, still too deep for rundll.exe",
       kGoodInf,
       false,
       {"would pass 132 characters"},
       "abcdefgh\\abcdefgh\\abcdefgh\\abcdefgh\\abcdefgh\\acme.inf",
       {"abcdefgh/abcdefgh/abcdefgh/abcdefgh/abcdefgh/acme.inf",
        "abcdefgh/abcdefgh/abcdefgh/abcdefgh/abcdefgh/Acme Mines.exe",
        "abcdefgh/abcdefgh/abcdefgh/abcdefgh/abcdefgh/docs/guide.txt"}},
      {"an INF in a sub-folder finds its files from there",
       kGoodInf,
       false,
       {},
       "setup\\acme.inf",
       {"setup/acme.inf", "setup/Acme Mines.exe", "setup/docs/guide.txt"}},
      {"a disk path",
       Replaced(Replaced(kGoodInf, "1=%Disk%,,,", "1=%Disk%,,,\r\n2=d,,,\\docs"),
                "guide.txt=1,docs", "guide.txt=2"),
       false,
       {}},
      {"advpack's command sections may carry a flag",
       Replaced(kGoodInf, "[DefaultInstallX]\r\n",
                "[DefaultInstallX]\r\nRunPostSetupCommands=Cmds:1\r\n[Cmds]\r\n"),
       true,
       {}},
  };
  for (const CheckCase &c : cases) {
    std::vector<InfFinding> found =
        CheckInf({c.infName, c.inf, c.members, c.advpack, c.targets});
    std::vector<std::string> errors = Texts(found, InfFinding::kError);
    std::string all, notes;
    for (const std::string &e : errors) all += "\n  " + e;
    for (const std::string &n : Texts(found, InfFinding::kNote)) notes += "\n  " + n;
    for (const std::string &expected : c.notes) {
      EXPECT_NE(notes.find(expected), std::string::npos) << c.why << ": wanted " << expected << notes;
    }
    if (c.errors.empty()) {
      EXPECT_TRUE(errors.empty()) << c.why << all;
    }
    for (const std::string &expected : c.errors) {
      EXPECT_NE(all.find(expected), std::string::npos) << c.why << ": wanted " << expected << all;
    }
  }
}

TEST(InfCheck, LongNamesWarnOnAdvpackAndUncopiedFilesAreNoted) {
  std::vector<std::string> members = {"Acme Mines.inf", "Acme Mines.exe", "docs/guide.txt",
                                      "extra.txt", "docs/more.txt"};
  std::vector<InfFinding> found = CheckInf({"Acme Mines.inf", kGoodInf, members, true});
  EXPECT_TRUE(Texts(found, InfFinding::kError).empty());
  ASSERT_EQ(Texts(found, InfFinding::kWarning).size(), 1u);
  EXPECT_NE(Texts(found, InfFinding::kWarning)[0].find("not an 8.3 name"), std::string::npos);
  // The INF itself is the installer's, not a file to copy.
  EXPECT_EQ(Texts(found, InfFinding::kNote),
            std::vector<std::string>{"2 files of the archive are not copied by the install "
                                     "sections: docs/more.txt, extra.txt"});
}

// ---- roads ----------------------------------------------------------------

// vantrel-pack shows the lines the stub builds: LaunchInf, run on the host
// under the same temporary folder, must start exactly those.
class InfRoadLines : public testing_support::HostMachine,
                     public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(InfRoadLines, AreTheLinesTheStubStarts) {
  const auto [advpack, nt] = GetParam();
  std::vector<std::string> shown;
  std::string folder;
  for (const auto &road : vantrel_pack::PackageRoads(advpack, "sub\\acme.inf")) {
    if ((road.platform == "NT family") != nt) continue;
    shown.push_back(road.commandLine);
    folder = road.folder;
  }
  ASSERT_FALSE(shown.empty());
  PrepareProgram();
  std::string posix = folder.substr(3);
  for (char &c : posix) c = c == '\\' ? '/' : c;
  MakeFolder(posix);
  // A typical machine of the family: where its system folder and its
  // installer programs lie.
  const char *systemDir = nt ? "C:\\WINDOWS\\system32" : "C:\\WINDOWS\\SYSTEM";
  host::SetWindowsDirectory("C:\\WINDOWS");
  if (nt) {
    WriteFile("WINDOWS/system32/rundll32.exe", "MZ");
  } else {
    WriteFile("WINDOWS/rundll32.exe", "MZ");
    WriteFile("WINDOWS/rundll.exe", "MZ");
    WriteFile("WINDOWS/SYSTEM/SetupX.dll", "x");
    host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  }
  std::strcpy(state.tempDir, folder.c_str());
  std::strcpy(state.infName, "sub\\acme.inf");
  std::strcpy(state.systemDir, systemDir);
  std::strcpy(state.startDir, "C:\\");
  state.useAdvpack = advpack;
  host::RunAsProcess([] {
    LaunchInf(nullptr);
    return 0;
  });
  std::vector<std::string> started;
  for (const auto &process : host::Processes()) started.push_back(process.commandLine);
  EXPECT_EQ(started, shown);
}

INSTANTIATE_TEST_SUITE_P(Roads, InfRoadLines,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// ---- writing --------------------------------------------------------------

// The registry keys and the files (destination folder and name) that the
// sections of `inf` named `sections` add, or with `remove` delete.
struct Effects {
  std::set<std::string> files, keys;
};

std::string DestinationOf(const InfFile &inf, const std::string &list) {
  const InfEntry *entry = inf.Find("DestinationDirs")->Find(list);
  if (!entry) return "?";
  std::string out;
  for (const std::string &v : entry->values) out += v + ",";
  return out;
}

Effects EffectsOf(const InfFile &inf, const std::string &name, bool remove) {
  Effects effects;
  const InfSection *section = inf.Find(name);
  EXPECT_NE(section, nullptr) << name;
  if (!section) return effects;
  for (const InfEntry &directive : section->entries) {
    std::string key = vantrel_pack::FoldCase(directive.key);
    bool files = key == (remove ? "delfiles" : "copyfiles");
    bool registry = key == (remove ? "delreg" : "addreg");
    if (!files && !registry) continue;
    for (const std::string &list : directive.values) {
      const InfSection *listed = inf.Find(list);
      EXPECT_NE(listed, nullptr) << list;
      if (!listed) continue;
      for (const InfEntry &line : listed->entries) {
        if (files) effects.files.insert(DestinationOf(inf, list) + line.Value(0));
        if (registry) effects.keys.insert(line.Value(0) + "\\" + line.Value(1));
      }
    }
  }
  return effects;
}

InfPlan AcmePlan(bool advpack) {
  InfPlan plan;
  plan.infName = "acmemine.inf";
  plan.name = "Acme Mines";
  plan.version = "1.0";
  plan.publisher = "Acme, Ltd.";
  plan.advpack = advpack;
  plan.files = {"Acme Mines.exe",   "Read Me.txt",     "docs/User Guide.txt",
                "docs/50% off.txt", "docs/deep/x.dat", "tools/setup;cfg.exe"};
  plan.shortcuts = {{"Acme Mines", "Acme Mines.exe"}, {"Configure", "tools/setup;cfg.exe"}};
  return plan;
}

TEST(InfWriter, WritesAnInfThatPassesTheChecksAndUndoesItselfOnEveryRoad) {
  for (unsigned targets : {vantrel_pack::kTargetsAll, vantrel_pack::kTargetNt,
                           vantrel_pack::kTarget9x}) {
  for (bool advpack : {false, true}) {
    for (const char *destination : {"", "Acme\\Mines", "24,Acme"}) {
      SCOPED_TRACE(std::string(advpack ? "advpack" : "plain") + ", dest " + destination +
                   ", targets " + std::to_string(targets));
      InfPlan plan = AcmePlan(advpack);
      plan.destination = destination;
      plan.targets = targets;
      std::string text = vantrel_pack::WriteInf(plan);
      std::vector<std::string> members = plan.files;
      members.push_back(plan.infName);
      // Checked as create checks it: the targets from the Signature alone
      // where the INF can say them.
      unsigned checked = targets == vantrel_pack::kTarget9x ? targets : 0;
      std::vector<InfFinding> found = CheckInf({plan.infName, text, members, advpack, checked});
      for (const InfFinding &f : found) {
        // Notes on the road left out only.
        if (targets == vantrel_pack::kTargetsAll || f.severity != InfFinding::kNote ||
            (f.families & targets))
          ADD_FAILURE() << f.text;
      }

      InfFile inf = ParseInf(text);
      ASSERT_TRUE(inf.problems.empty());
      // Every name comes back exactly as it is, spaces, % and ; included.
      std::set<std::string> listed;
      for (const InfEntry &e : inf.Find("SourceDisksFiles")->entries) listed.insert(e.key);
      EXPECT_EQ(listed,
                (std::set<std::string>{"Acme Mines.exe", "Read Me.txt", "User Guide.txt",
                                       "50% off.txt", "x.dat", "setup;cfg.exe", "acmemine.inf"}));
      // What each road's install adds, its uninstall removes.
      const char *installs[] = {advpack ? "DefaultInstall2.ntx86" : "DefaultInstall.NTx86",
                                advpack ? "DefaultInstall2" : "DefaultInstall"};
      const char *uninstalls[] = {"DefaultUninstall.NTx86", "DefaultUninstall"};
      for (int road = 0; road < 2; ++road) {
        if (!(targets & (road == 0 ? vantrel_pack::kTargetNt : vantrel_pack::kTarget9x))) {
          // Only the targets' sections are written.
          EXPECT_EQ(inf.Find(installs[road]), nullptr) << installs[road];
          EXPECT_EQ(inf.Find(uninstalls[road]), nullptr) << uninstalls[road];
          continue;
        }
        Effects added = EffectsOf(inf, installs[road], false);
        if (advpack) {
          Effects second = EffectsOf(inf, "DefaultInstallX", false);
          added.keys.insert(second.keys.begin(), second.keys.end());
        }
        Effects removed = EffectsOf(inf, uninstalls[road], true);
        EXPECT_EQ(added.files.size(), 7u);
        for (const std::string &file : added.files) EXPECT_TRUE(removed.files.count(file)) << file;
        EXPECT_EQ(
            removed.keys,
            (std::set<std::string>{"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                   "Acme Mines"}));
        for (const std::string &key : added.keys) EXPECT_EQ(key, *removed.keys.begin());
      }
      EXPECT_EQ(inf.Find("Version")->Find("Signature")->Value(0),
                targets == vantrel_pack::kTargetNt ? "$Windows NT$" : "$CHICAGO$");
      if (!(targets & vantrel_pack::kTargetNt)) continue;
      // The entry Add/Remove Programs shows, and the uninstall it runs.
      const InfSection *nt = inf.Find("Entry.NT");
      ASSERT_NE(nt, nullptr);
      std::map<std::string, std::string> values;
      for (const char *name : {"Entry", "Entry.NT"}) {
        for (const InfEntry &e : inf.Find(name)->entries) values[e.Value(2)] = e.Value(4);
      }
      EXPECT_EQ(values["DisplayName"], "Acme Mines");
      EXPECT_EQ(values["DisplayVersion"], "1.0");
      EXPECT_EQ(values["Publisher"], "Acme, Ltd.");
      EXPECT_EQ(values["UninstallString"],
                advpack ? "\"%11%\\rundll32.exe\" advpack,LaunchINFSection %17%\\acmemine.inf,"
                          "DefaultUninstall.NTx86"
                        : "\"%11%\\rundll32.exe\" setupapi,InstallHinfSection DefaultUninstall "
                          "132 %17%\\acmemine.inf");
      const InfSection *link = inf.Find("Link.2");
      ASSERT_NE(link, nullptr);
      std::vector<std::string> program = link->Find("CmdLine")->values;
      std::string expectedFolder = std::string(destination) == "24,Acme" ? "Acme\\tools"
                                   : std::string(destination).empty()    ? "Acme Mines\\tools"
                                                                         : "Acme\\Mines\\tools";
      EXPECT_EQ(program,
                (std::vector<std::string>{std::string(destination) == "24,Acme" ? "24" : "16422",
                                          expectedFolder, "setup;cfg.exe"}));
    }
  }
  }
}

TEST(InfWriter, RefusesWhatAnInfCannotHold) {
  const struct {
    const char *why;
    std::function<void(InfPlan &)> change;
    const char *expected;
  } cases[] = {
      {"one name in two folders", [](InfPlan &p) { p.files.push_back("tools/Read Me.txt"); },
       "have the same name"},
      {"the INF's name in a sub-folder", [](InfPlan &p) { p.files.push_back("docs/ACMEMINE.INF"); },
       "have the same name"},
      {"a shortcut to nothing",
       [](InfPlan &p) {
         p.shortcuts.push_back({"X", "missing.exe"});
       },
       "which is not in the folder"},
      {"a name that is no folder name", [](InfPlan &p) { p.name = "Acme: Mines"; }, "--name"},
      {"a percent sign in a text", [](InfPlan &p) { p.version = "100%"; }, "--version"},
      {"a destination outside Program Files", [](InfPlan &p) { p.destination = "C:\\Acme"; },
       "--dest"},
      {"two shortcuts of one name",
       [](InfPlan &p) {
         p.shortcuts.push_back({"configure", "Read Me.txt"});
       },
       "two shortcuts"},
  };
  for (const auto &c : cases) {
    InfPlan plan = AcmePlan(false);
    c.change(plan);
    try {
      vantrel_pack::WriteInf(plan);
      ADD_FAILURE() << c.why << ": written";
    } catch (const vantrel_pack::PackError &e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos)
          << c.why << ": " << e.what();
    }
  }
}

// ---- the commands ---------------------------------------------------------

// The four ways a package used to install nothing, or only part, while
// create and inspect said nothing.
TEST_F(PackTest, CreateRefusesTheSilentFailuresNamingTheFix) {
  const struct {
    const char *why;
    std::string infName, inf;
    std::vector<std::string> options;
    std::string fix;
  } cases[] = {
      {"[DefaultInstall] with --advpack",
       "setup.inf",
       "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[DefaultInstall]\r\nCopyFiles=Top,Sub\r\n" +
           kFolderInf.substr(kFolderInf.find("[DestinationDirs]")),
       {"--advpack"},
       "make the package without --advpack"},
      {"a sub-folder's file without its sub-folder",
       "setup.inf",
       Replaced(kFolderInf, "data.bin=1,sub", "data.bin=1"),
       {},
       "write \"data.bin\"=1,\"sub\" in [SourceDisksFiles]"},
      {"a 76-character INF name",
       std::string(72, 'l') + ".inf",
       kFolderInf,
       {},
       "more than the 126 a 16-bit program receives"},
      {"a space in the INF's name",
       "Acme Mines.inf",
       kFolderInf,
       {},
       "rename it to an 8.3 name such as acmemine.inf"},
      {"a blank inside the brackets of [DefaultInstall ]",
       "setup.inf",
       Replaced(kFolderInf, "[DefaultInstall]", "[DefaultInstall ]"),
       {},
       "blanks inside its brackets"},
      {"text after a Ctrl-Z, which setupapi does not read",
       "setup.inf",
       Replaced(kFolderInf, "[DestinationDirs]", "\x1A[DestinationDirs]"),
       {},
       "Ctrl-Z (end-of-file mark) with text after it"},
      {"an empty [DefaultInstall] for every family",
       "setup.inf",
       Replaced(kFolderInf, "[DefaultInstall]\r\nCopyFiles=Top,Sub\r\n", "[DefaultInstall]\r\n"),
       {"--targets", "all"},
       "copies nothing, adds nothing and runs nothing"},
  };
  for (const auto &c : cases) {
    fs::remove(source / "setup.inf");
    fs::remove(dir / "out.exe");
    WriteFile(source / c.infName, c.inf);
    EXPECT_EQ(Create(dir / "out.exe", c.options), 1) << c.why;
    EXPECT_NE(err.str().find(c.fix), std::string::npos) << c.why << ": " << err.str();
    EXPECT_NE(err.str().find("--no-inf-check makes the package anyway"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.exe")) << c.why;
    // Made anyway on request, and inspect warns of the same fault.
    std::vector<std::string> forced = c.options;
    forced.push_back("--no-inf-check");
    ASSERT_EQ(Create(dir / "out.exe", forced), 0) << c.why << ": " << err.str();
    EXPECT_EQ(err.str().find("error:"), std::string::npos) << err.str();
    ASSERT_EQ(Run({"inspect", (dir / "out.exe").string()}), 0);
    EXPECT_NE(out.str().find("warning: INF: "), std::string::npos) << c.why << out.str();
    EXPECT_NE(out.str().find(c.fix), std::string::npos) << c.why;
    fs::remove(source / c.infName);
  }
}

// An INF past the most the packer reads is refused, from a folder and from
// a .zip alike (there without inflating it: the header's size tells), and
// inspect says why it was not checked.
TEST_F(PackTest, AnInfPastTheLargestReadIsRefusedUnread) {
  const std::string huge = kFolderInf + "; " + std::string(15 << 20, 'x') + "\r\n";
  WriteFile(source / "setup.inf", huge);
  EXPECT_EQ(Create(dir / "folder.exe", {}), 1);
  EXPECT_NE(err.str().find("larger than 4 MiB"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("--no-inf-check makes the package anyway"), std::string::npos);

  ZipMember inf{"setup.inf", testing_support::ToBytes(huge), 8};
  WriteFile(dir / "big.zip", Zip({inf, Stored("readme.txt", "r"), Stored("sub/data.bin", "d")}));
  EXPECT_EQ(Create(dir / "zip.exe", {}, dir / "big.zip"), 1);
  EXPECT_NE(err.str().find("larger than 4 MiB"), std::string::npos) << err.str();
  ASSERT_EQ(Create(dir / "zip.exe", {"--no-inf-check"}, dir / "big.zip"), 0) << err.str();
  ASSERT_EQ(Run({"inspect", (dir / "zip.exe").string()}), 0);
  EXPECT_NE(out.str().find("not done: it is larger than 4 MiB"), std::string::npos) << out.str();
}

// An INF from Microsoft's NT examples packs as it is, for the NT family; for
// every family it is refused with Windows 95/98's faults.
TEST_F(PackTest, AnNtOnlyInfPacksForTheNtFamily) {
  fs::remove(source / "setup.inf");
  WriteFile(source / "acme-notes-setup.inf",
            "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
            "[DefaultInstall.NTx86]\r\nCopyFiles=Top\r\n" +
                kFolderInf.substr(kFolderInf.find("[DestinationDirs]")));
  // sub/data.bin is not copied: a note.
  ASSERT_EQ(Create(dir / "out.exe", {}), 0) << err.str();
  EXPECT_EQ(err.str().find("error:"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("warning:"), std::string::npos) << err.str();
  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("installs on         NT family (setupapi) only"), std::string::npos)
      << out.str();
  EXPECT_EQ(out.str().find("setupx.dll"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("warnings            0"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"inspect", "--json", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"installsOn\": [\"NT family\"]"), std::string::npos) << out.str();

  EXPECT_EQ(Create(dir / "out.exe", {"--targets", "all"}), 1);
  for (const char *fault : {"is not an 8.3 name", "is refused by setupx on Windows 95/98",
                            "lacks [DefaultInstall] (setupx runs it on Windows 95/98)"}) {
    EXPECT_NE(err.str().find(fault), std::string::npos) << fault << err.str();
  }
  EXPECT_NE(err.str().find("(3 errors above)"), std::string::npos) << err.str();
  EXPECT_EQ(Create(dir / "out.exe", {"--targets", "me"}), 2);
  EXPECT_NE(err.str().find("--targets must be nt, 9x or all"), std::string::npos);
}

TEST_F(PackTest, InfThenCreateMakesAPackageThatPassesEveryCheck) {
  fs::remove(source / "setup.inf");
  WriteFile(source / "Acme Mines.exe", "MZ");
  WriteFile(source / "sub" / "Read Me.txt", "hello");
  ASSERT_EQ(Run({"inf", "--name", "Acme Mines", "--version", "2.1", "--shortcut",
                 "Acme Mines=Acme Mines.exe", source.string()}),
            0)
      << err.str();
  EXPECT_TRUE(fs::exists(source / "acmemine.inf"));
  // The hint names the title too, quoted for the shell.
  EXPECT_NE(out.str().find("next: vantrel-pack create -o setup.exe --title 'Acme Mines' "),
            std::string::npos)
      << out.str();
  EXPECT_NE(ReadFile(source / "acmemine.inf").find("\r\n[DefaultInstall.NTx86]\r\n"),
            std::string::npos);
  // The INF is the author's own once written: never replaced unasked.
  EXPECT_EQ(Run({"inf", "--name", "Acme Mines", source.string()}), 1);
  EXPECT_NE(err.str().find("--force"), std::string::npos) << err.str();

  ASSERT_EQ(Create(dir / "out.exe", {}), 0) << err.str();
  EXPECT_EQ(err.str(), "");  // no error, warning or note
  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("warnings            0"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 "
                           "C:\\WINDOWS\\TEMP\\$Vantrel.Tmp\\acmemine.inf"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("91 of 126 characters after rundll.exe"), std::string::npos);
  ASSERT_EQ(Run({"inspect", "--json", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"commandLine\": \"C:\\\\WINDOWS\\\\system32\\\\rundll32.exe "
                           "setupapi,InstallHinfSection "
                           "DefaultInstall 132 C:\\\\Users\\\\User\\\\AppData\\\\Local\\\\Temp\\\\"
                           "$Vantrel.Tmp\\\\acmemine.inf\", \"argumentsLength\": "),
            std::string::npos)
      << out.str();

  // The advpack form of the same folder.
  ASSERT_EQ(Run({"inf", "--advpack", "--force", "--name", "Acme Mines", source.string()}), 0);
  ASSERT_EQ(Create(dir / "out.exe", {"--advpack"}), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(Create(dir / "out.exe", {}), 1);  // and it is no setupapi INF
}

TEST_F(PackTest, InfCommandRefusesBadInputWritingNothing) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char *expected;
  } cases[] = {
      {{"--name", "Acme", "-o", (source / "Acme Mines.inf").string()}, 1, "has a space"},
      {{"--name", "Acme", "-o", (source / "sub" / "acme.inf").string()}, 1, "sub-folder"},
      {{"--name", "Acme", "--shortcut", "Go=none.exe"}, 1, "not in the folder"},
      {{"--name", "Acme", "--shortcut", "no-equals"}, 2, "NAME=PROGRAM"},
      {{"--version", "1"}, 2, "--name"},
      {{"--name", "Acme", "--dest", "C:\\Acme"}, 1, "--dest"},
      {{"--name", "Acme", "-o", (source / "Aux.inf").string()}, 1, "device name"},
      {{"--name", "Acme", "-o", (source / "com1").string()}, 1, "device name"},
      // A link planted where the INF goes is a file of the user's: kept, and
      // nothing written where it points.
      {{"--name", "Link", "-o", (dir / "link.inf").string()}, 1, "exists (--force replaces it)"},
  };
  fs::create_symlink(dir / "elsewhere.inf", dir / "link.inf");
  std::vector<std::string> before = Entries(source);
  for (const auto &c : cases) {
    std::vector<std::string> args = {"inf"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(source.string());
    EXPECT_EQ(Run(args), c.status) << c.expected;
    EXPECT_NE(err.str().find(c.expected), std::string::npos) << err.str();
    EXPECT_EQ(Entries(source), before) << c.expected;
    EXPECT_FALSE(fs::exists(dir / "elsewhere.inf")) << c.expected;
    EXPECT_TRUE(fs::is_symlink(dir / "link.inf")) << c.expected;
  }
}

// --name of a device (Aux, nul, COM1 ...) gives an INF name that is not one,
// says so, and create takes the folder.
TEST_F(PackTest, InfNamedLikeADeviceGetsASafeName) {
  fs::remove(source / "setup.inf");
  for (const char *name : {"Aux", "nul.txt", "COM1", "lpt9"}) {
    ASSERT_EQ(Run({"inf", "--force", "--name", name, source.string()}), 0) << err.str();
    EXPECT_NE(err.str().find("would be a device's on Windows"), std::string::npos) << err.str();
    std::string expected = vantrel_pack::FoldCase(std::string(name).substr(0, 4));
    if (expected.back() == '.') expected.pop_back();
    EXPECT_TRUE(fs::exists(source / (expected + "app.inf"))) << name << ": " << out.str();
    ASSERT_EQ(Create(dir / "out.exe", {"--inf", expected + "app.inf"}), 0) << err.str();
    fs::remove(source / (expected + "app.inf"));
  }
}

}  // namespace
}  // namespace pack_test

namespace pack_test {
namespace {

// A file Windows would take for another, or a name whose double-byte
// character the stub would split: inf refuses it as create does.
TEST_F(PackTest, InfCommandReadsNamesAsWindowsDoes) {
  const struct {
    const char *file;
    const char *codePage;
    const char *phrase;
  } cases[] = {
      {"readme.txt.", "1252", "\"readme.txt\" and \"readme.txt.\" are one file on Windows"},
      {"\u8868\u793a.txt", "932", "\"\u8868\" (bytes 95 5C) ends in the byte of \"\\\""},
  };
  for (const auto &c : cases) {
    WriteFile(source / c.file, "x");
    std::vector<std::string> before = Entries(source);
    EXPECT_EQ(Run({"inf", "--name", "Acme", "--codepage", c.codePage, source.string()}), 1)
        << c.file;
    EXPECT_NE(err.str().find(c.phrase), std::string::npos) << err.str();
    EXPECT_EQ(Entries(source), before) << c.file;
    fs::remove(source / c.file);
  }
}

// examples/shortcut-app/acmenote.inf is what the inf command writes: the
// README's example cannot drift from the program.
TEST_F(PackTest, TheExampleInfIsWhatTheInfCommandWrites) {
  const fs::path example = fs::path(VANTREL_SOURCE_DIR) / "examples" / "shortcut-app";
  const fs::path copy = dir / "shortcut-app";
  fs::copy(example, copy, fs::copy_options::recursive);
  fs::remove(copy / "acmenote.inf");
  ASSERT_EQ(Run({"inf", "--name", "Acme Notes", "--version", "1.0", "--publisher", "Acme Ltd",
                 "--shortcut", "Acme Notes=Acme Notes.bat", copy.string()}),
            0)
      << err.str();
  EXPECT_EQ(ReadFile(copy / "acmenote.inf"), ReadFile(example / "acmenote.inf"));
  ASSERT_EQ(Create(dir / "out.exe", {}, copy), 0) << err.str();
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace pack_test
