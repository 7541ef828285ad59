// vantrel-pack create: encryption, code pages, line ends, the INF choice,
// limits, usage errors and what is left behind when it fails.
#include <iconv.h>
#include <sys/stat.h>

#include <cstdlib>
#include <iostream>

#include "cli/progress.h"
#include "cli/timely_lines.h"
#include "pack_fixture.h"
#include "package/reader.h"
#include "zip/windows_names.h"

namespace pack_test {
namespace {

using vantrel_pack::ReadPackage;

bool HaveUnzip() { return std::system("unzip -v >/dev/null 2>&1") == 0; }

std::string ArchivePart(const fs::path &package) {
  auto view = ReadPackage(package.string());
  return ReadFile(package).substr(size_t(view.archiveBase));
}

TEST_F(PackTest, PasswordEncryptsEveryMemberWithTheCrcCheckByte) {
  ASSERT_EQ(Create(dir / "out.exe", {"--password", "s3cret"}), 0) << err.str();
  auto view = ReadPackage((dir / "out.exe").string());
  EXPECT_EQ(view.texts.storedPassword, "");
  std::string file = ReadFile(dir / "out.exe");
  EXPECT_EQ(file[kStubBytes + 7], 0);
  auto walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 3u);
  EXPECT_TRUE(vantrel_pack::WalkWarnings(walk).empty());
  for (const auto &m : walk.members) {
    EXPECT_TRUE(m.encrypted()) << m.name;
    EXPECT_FALSE(m.hasDescriptor()) << m.name;
    EXPECT_EQ(m.crc, Crc(ReadFile(source / m.name)));
    testing_support::ZipCipher keys("s3cret");
    size_t data = size_t(m.offset) + 30 + m.nameLength + m.extraLength;
    uint8_t last = 0;
    for (size_t i = 0; i < 12; ++i) last = keys.Decrypt(uint8_t(file[data + i]));
    EXPECT_EQ(last, uint8_t(m.crc >> 24)) << m.name;
  }
}

TEST_F(PackTest, EncryptedArchiveDecryptsWithUnzip) {
  if (!HaveUnzip()) GTEST_SKIP() << "Info-ZIP unzip is not installed";
  WriteFile(source / "empty.txt", "");
  for (const char *level : {"0", "6"}) {
    fs::path package = dir / (std::string("out") + level + ".exe");
    ASSERT_EQ(Create(package, {"--password", "pässword", "--level", level}), 0) << err.str();
    WriteFile(dir / "archive.zip", ArchivePart(package));
    fs::path target = dir / (std::string("x") + level);
    // The password is stored in code page 1252: "ä" is the byte E4.
    std::string command = "unzip -qq -P 'p\xE4ssword' '" + (dir / "archive.zip").string() +
                          "' -d '" + target.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char *name : {"setup.inf", "readme.txt", "sub/data.bin", "empty.txt"}) {
      EXPECT_TRUE(fs::exists(target / name)) << name;
      EXPECT_EQ(ReadFile(target / name), ReadFile(source / name)) << name;
    }
    std::string wrong = "unzip -qq -P wrong '" + (dir / "archive.zip").string() + "' -d '" +
                        (dir / "w").string() + "' 2>/dev/null";
    EXPECT_NE(std::system(wrong.c_str()), 0);
  }
}

TEST_F(PackTest, PasswordNeedsAFolderAndATypeablePassword) {
  WriteFile(dir / "in.zip", Zip({Stored("setup.inf", kEmptyInf)}));
  EXPECT_EQ(Create(dir / "out.exe", {"--password", "x"}, dir / "in.zip"), 2);
  EXPECT_EQ(Create(dir / "out.exe", {"--password", ""}), 1);
  EXPECT_EQ(Create(dir / "out.exe", {"--password", std::string(80, 'p')}), 1);
  EXPECT_EQ(Create(dir / "out.exe", {"--password", std::string(79, 'p')}), 0) << err.str();
  EXPECT_EQ(Create(dir / "out.exe", {"--password", "tab\there"}), 1);
  EXPECT_NE(err.str().find("control character"), std::string::npos) << err.str();
}

TEST_F(PackTest, TextsAreWrittenInTheCodePage) {
  ASSERT_EQ(Create(dir / "out.exe", {"--title", "Caf\u00e9 \u20ac", "--welcome", "\u00fcber"}), 0)
      << err.str();
  auto view = ReadPackage((dir / "out.exe").string());
  EXPECT_EQ(view.texts.title, "Caf\xE9 \x80");
  EXPECT_EQ(view.texts.welcomeText,
            "\xFC"
            "ber");
  ASSERT_EQ(Create(dir / "ru.exe", {"--codepage", "1251", "--title", "\u0416"}), 0) << err.str();
  EXPECT_EQ(ReadPackage((dir / "ru.exe").string()).texts.title, "\xC6");
  ASSERT_EQ(Run({"inspect", "--codepage", "1251", (dir / "ru.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"\u0416\""), std::string::npos) << out.str();
}

TEST_F(PackTest, ACharacterTheCodePageLacksIsAnError) {
  EXPECT_EQ(Create(dir / "out.exe", {"--title", "\u0416uk"}), 1);
  EXPECT_NE(err.str().find("\u0416"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("1252"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
  WriteFile(dir / "licence.txt", "\xE2\x98\x83 snowman");
  EXPECT_EQ(Create(dir / "out.exe", {"--licence-file", (dir / "licence.txt").string()}), 1);
  WriteFile(dir / "bad.txt", "not \xFF UTF-8");
  EXPECT_EQ(Create(dir / "out.exe", {"--welcome-file", (dir / "bad.txt").string()}), 1);
  EXPECT_NE(err.str().find("UTF-8"), std::string::npos) << err.str();
  EXPECT_EQ(Create(dir / "out.exe", {"--codepage", "77777"}), 2);
  EXPECT_EQ(Create(dir / "out.exe", {"--codepage", "9"}), 1);  // no such code page
}

// How many characters iconv's table of the code page reads in `bytes`; -1
// when it reads no character there.
int Characters(iconv_t decode, const std::string &bytes) {
  uint32_t out[4];
  char *in = const_cast<char *>(bytes.data()), *to = reinterpret_cast<char *>(out);
  size_t inLeft = bytes.size(), outLeft = sizeof out;
  iconv(decode, nullptr, nullptr, nullptr, nullptr);
  if (iconv(decode, &in, &inLeft, &to, &outLeft) == size_t(-1)) return -1;
  return int((sizeof out - outLeft) / 4);
}

// The lead bytes of each double-byte code page agree with the code page's
// table: a byte that begins a two-byte character is one, a byte that is a
// character on its own is none.
TEST(WindowsNames, LeadBytesAreThoseOfTheCodePageTables) {
  for (int codePage : {932, 936, 949, 950}) {
    const vantrel_pack::WindowsNames windows(codePage);
    iconv_t decode = iconv_open("UTF-32LE", ("CP" + std::to_string(codePage)).c_str());
    ASSERT_NE(decode, iconv_t(-1)) << codePage;
    int leads = 0;
    for (int byte = 0x80; byte < 0x100; ++byte) {
      bool pairs = false;
      for (int second = 0x40; second < 0x100 && !pairs; ++second) {
        pairs = Characters(decode, {char(byte), char(second)}) == 1;
      }
      if (pairs) {
        ++leads;
        EXPECT_TRUE(windows.IsLeadByte(byte)) << codePage << " " << byte;
      }
      if (Characters(decode, {char(byte)}) == 1) {
        EXPECT_FALSE(windows.IsLeadByte(byte)) << codePage << " " << byte;
      }
    }
    EXPECT_GE(leads, 50) << codePage;  // the table was read at all
    iconv_close(decode);
  }
}

TEST_F(PackTest, LineEndsBecomeCrLf) {
  WriteFile(dir / "welcome.txt", "\xEF\xBB\xBFunix\nmac\rdos\r\nend\n");
  ASSERT_EQ(Create(dir / "out.exe",
                   {"--welcome-file", (dir / "welcome.txt").string(), "--title", "a\nb"}),
            0)
      << err.str();
  auto view = ReadPackage((dir / "out.exe").string());
  EXPECT_EQ(view.texts.welcomeText, "unix\r\nmac\r\ndos\r\nend\r\n");
  EXPECT_EQ(view.texts.title, "a\r\nb");
}

TEST_F(PackTest, NoWelcomeTextMeansUnattended) {
  ASSERT_EQ(Create(dir / "out.exe", {}), 0) << err.str();
  std::string file = ReadFile(dir / "out.exe");
  EXPECT_EQ(Le(file, kStubBytes + 8, 4), 0u);
  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("unattended"), std::string::npos);
}

TEST_F(PackTest, TheOnlyTopLevelInfIsTheDefault) {
  WriteFile(source / "sub" / "other.inf", "[Version]\n");
  ASSERT_EQ(Create(dir / "out.exe", {}), 0) << err.str();
  EXPECT_EQ(ReadPackage((dir / "out.exe").string()).texts.infName, "setup.inf");
}

TEST_F(PackTest, InfChoiceErrors) {
  fs::remove(source / "setup.inf");
  EXPECT_EQ(Create(dir / "out.exe", {}), 1);
  EXPECT_NE(err.str().find("no .inf"), std::string::npos) << err.str();
  WriteFile(source / "a.inf", kEmptyInf);
  WriteFile(source / "B.INF", kEmptyInf);
  EXPECT_EQ(Create(dir / "out.exe", {}), 1);
  EXPECT_NE(err.str().find("several"), std::string::npos) << err.str();
  EXPECT_EQ(Create(dir / "out.exe", {"--inf", "c.inf"}), 1);
  EXPECT_NE(err.str().find("c.inf"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
  ASSERT_EQ(Create(dir / "out.exe", {"--inf", "b.inf"}), 0) << err.str();
  EXPECT_EQ(ReadPackage((dir / "out.exe").string()).texts.infName, "B.INF");
  WriteFile(source / "sub" / "deep.inf", kEmptyInf);
  ASSERT_EQ(Create(dir / "out.exe", {"--inf", "sub/deep.inf"}), 0) << err.str();
  EXPECT_EQ(ReadPackage((dir / "out.exe").string()).texts.infName, "sub\\deep.inf");
}

TEST_F(PackTest, TitleAndInfNameAtMost255Bytes) {
  ASSERT_EQ(Create(dir / "out.exe", {"--title", std::string(255, 't')}), 0) << err.str();
  EXPECT_EQ(ReadPackage((dir / "out.exe").string()).texts.title.size(), 255u);
  EXPECT_EQ(Create(dir / "out.exe", {"--title", std::string(256, 't')}), 1);
  // The limit counts the bytes written: 200 characters of two UTF-8 bytes
  // each are 200 bytes in code page 1252.
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\u00e9";
  EXPECT_EQ(Create(dir / "out.exe", {"--title", accents}), 0) << err.str();
  EXPECT_EQ(ReadPackage((dir / "out.exe").string()).texts.title.size(), 200u);
  for (int i = 200; i < 256; ++i) accents += "\u00e9";
  EXPECT_EQ(Create(dir / "out.exe", {"--title", accents}), 1);
  std::string longInf = std::string(200, 'd') + "/" + std::string(60, 'f') + ".inf";
  WriteFile(source / longInf, "x");
  EXPECT_EQ(Create(dir / "out.exe", {"--inf", longInf}), 1);
  EXPECT_NE(err.str().find("255"), std::string::npos) << err.str();
}

TEST_F(PackTest, StubMustHaveExactlyTheImageSize) {
  WriteFile(stub, "MZ" + std::string(kStubBytes - 1, '\0'));
  EXPECT_EQ(Create(dir / "out.exe", {}), 1);
  EXPECT_NE(err.str().find("35328"), std::string::npos) << err.str();
  WriteFile(stub, "MZ" + std::string(kStubBytes - 3, '\0'));
  EXPECT_EQ(Create(dir / "out.exe", {}), 1);
  EXPECT_EQ(Run({"create", "-o", (dir / "out.exe").string(), "--stub",
                 (dir / "missing.exe").string(), source.string()}),
            1);
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
}

TEST_F(PackTest, FailureLeavesNothingBehindAndKeepsAnOldOutput) {
  WriteFile(dir / "out.exe", "old package");
  std::vector<std::string> before = Entries(dir);
  EXPECT_EQ(Create(dir / "out.exe", {"--inf", "nothere.inf"}), 1);
  EXPECT_EQ(Create(dir / "out.exe", {"--title", "\u0416"}), 1);
  WriteFile(dir / "in.zip", Zip({Stored("setup.inf", "x"), Stored("../x", "y")}));
  EXPECT_EQ(Create(dir / "out.exe", {}, dir / "in.zip"), 1);
  fs::remove(dir / "in.zip");
  EXPECT_EQ(Entries(dir), before);
  EXPECT_EQ(ReadFile(dir / "out.exe"), "old package");
}

// Only regular files are read and replaced: a device or a pipe given by
// mistake is never read for ever, nor replaced by the package.
TEST_F(PackTest, InputsAndOutputsMustBeRegularFiles) {
  ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0644));
  EXPECT_EQ(Run({"create", "-o", (dir / "out.exe").string(), "--stub", "/dev/zero",
                 source.string()}),
            1);
  EXPECT_NE(err.str().find("not a regular file"), std::string::npos) << err.str();
  EXPECT_EQ(Create(dir / "out.exe", {"--licence-file", "/dev/zero"}), 1);
  EXPECT_NE(err.str().find("not a regular file"), std::string::npos) << err.str();
  EXPECT_EQ(Create(dir / "out.exe", {"--welcome-file", (dir / "pipe").string()}), 1);
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
  // The output: a pipe, and a link, stay what they were.
  EXPECT_EQ(Create(dir / "pipe", {}), 1);
  EXPECT_NE(err.str().find("not a regular file"), std::string::npos) << err.str();
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  WriteFile(dir / "target", "kept");
  fs::create_symlink(dir / "target", dir / "link.exe");
  EXPECT_EQ(Create(dir / "link.exe", {}), 1);
  EXPECT_TRUE(fs::is_symlink(dir / "link.exe"));
  EXPECT_EQ(ReadFile(dir / "target"), "kept");
}

TEST_F(PackTest, EmptyTextsAreRefused) {
  WriteFile(dir / "empty.txt", "");
  WriteFile(dir / "bom.txt", "\xEF\xBB\xBF");
  for (const char *file : {"empty.txt", "bom.txt"}) {
    EXPECT_EQ(Create(dir / "out.exe", {"--licence-file", (dir / file).string()}), 1) << file;
    EXPECT_NE(err.str().find("empty"), std::string::npos) << err.str();
    EXPECT_EQ(Create(dir / "out.exe", {"--welcome-file", (dir / file).string()}), 1) << file;
    EXPECT_NE(err.str().find("empty"), std::string::npos) << err.str();
  }
  EXPECT_EQ(Create(dir / "out.exe", {"--welcome", ""}), 1);
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
}

TEST_F(PackTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"create", source.string()},
      {"create", "-o", (dir / "o.exe").string()},
      {"create", "-o", (dir / "o.exe").string(), "--level", "10", source.string()},
      {"create", "-o", (dir / "o.exe").string(), "--bogus", source.string()},
      {"create", "-o", (dir / "o.exe").string(), "--split", "12x", source.string()},
      {"create", "-o", (dir / "o.exe").string(), "--split", "0", source.string()},
      {"create", "-o", (dir / "o.exe").string(), "--welcome", "a", "--welcome-file", "b",
       source.string()},
      {"create", "-o", (dir / "o.exe").string(), "--stay-open=1", source.string()},
      {"create", "-o", (dir / "o.exe").string(), source.string(), source.string()},
      {"create", "-o"},
      {"inspect"},
      {"inspect", "--bogus", "x"},
      {"frobnicate"},
      {},
  };
  for (const auto &args : cases) {
    EXPECT_EQ(Run(args), 2) << (args.empty() ? "" : args.back());
    EXPECT_FALSE(err.str().empty());
    EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << err.str();
  }
  EXPECT_FALSE(fs::exists(dir / "o.exe"));
}

TEST_F(PackTest, HelpDocumentsEveryOption) {
  ASSERT_EQ(Run({"--help"}), 0);
  std::string tool = out.str();
  ASSERT_EQ(Run({"create", "--help"}), 0);
  std::string create = out.str();
  for (const char *option : {"-o", "--level", "--title", "--inf", "--welcome ", "--welcome-file",
                             "--licence-file", "--password", "--stay-open", "--admin", "--advpack",
                             "--skip-check", "--stub", "--split", "--codepage", "--quiet"}) {
    EXPECT_NE(create.find(option), std::string::npos) << option;
    EXPECT_NE(tool.find(option), std::string::npos) << option;
  }
  // How to sign and how to build reproducibly are part of making a package.
  for (const char *topic : {"osslsigncode sign", "signtool sign", "SOURCE_DATE_EPOCH"}) {
    EXPECT_NE(create.find(topic), std::string::npos) << topic;
  }
  ASSERT_EQ(Run({"inspect", "--help"}), 0);
  for (const char *option : {"--json", "--codepage"}) {
    EXPECT_NE(out.str().find(option), std::string::npos) << option;
  }
  ASSERT_EQ(Run({"extract", "--help"}), 0);
  EXPECT_NE(out.str().find("--quiet"), std::string::npos);
}

// The progress line: redrawn in place, no more often than a few times a
// second, blanked before other output, and nothing at all when not shown.
TEST(Progress, IsDrawnInPlaceOnlyWhenShown) {
  double now = 100;
  std::ostringstream shown;
  vantrel_pack::Progress progress(shown, true, "zipping", 4 * 1048576, 2, [&] { return now; });
  now = 101;
  progress.AddBytes(1048576);
  EXPECT_EQ(shown.str(), "\rzipping 1.0 MiB of 4.0 MiB (25%), 0 of 2 members, 1.0 MiB/s");
  progress.AddBytes(1048576);  // at once again: not redrawn
  EXPECT_EQ(shown.str().find("2.0 MiB"), std::string::npos);
  now = 102;
  progress.SetMembersDone(1);
  EXPECT_NE(shown.str().find("\rzipping 2.0 MiB of 4.0 MiB (50%), 1 of 2 members, 1.0 MiB/s"),
            std::string::npos)
      << shown.str();
  shown.str("");
  progress.Clear();
  EXPECT_EQ(shown.str(), "\r" + std::string(59, ' ') + "\r");
  shown.str("");
  now = 104;
  progress.AddBytes(2 * 1048576);
  progress.SetMembersDone(2);
  progress.Finish();
  EXPECT_EQ(shown.str(), "\rzipping 4.0 MiB of 4.0 MiB (100%), 1 of 2 members, 1.0 MiB/s"
                         "\rzipping 4.0 MiB of 4.0 MiB (100%), 2 of 2 members, 1.0 MiB/s\n");

  std::ostringstream hidden;
  vantrel_pack::Progress quiet(hidden, false, "zipping", 10, 1, [&] { return now; });
  quiet.AddBytes(10);
  quiet.SetMembersDone(1);
  quiet.Finish();
  EXPECT_EQ(hidden.str(), "");
  // Only the standard streams can be terminals; a captured stream never is.
  EXPECT_FALSE(vantrel_pack::ShowsProgress(hidden, false));
  EXPECT_FALSE(vantrel_pack::ShowsProgress(std::cerr, true));
}

// Member lines into a pipe: out at once after a quiet spell, held while
// they come thick and fast, and never held longer than the next step of
// the work a twentieth of a second on, or the end.
TEST(TimelyLines, ReachTheStreamSoonWithoutAFlushPerLine) {
  struct CountingBuffer : std::stringbuf {
    int flushes = 0;
    int sync() override {
      ++flushes;
      return 0;
    }
  } buffer;
  std::ostream stream(&buffer);
  double now = 10;
  {
    vantrel_pack::TimelyLines lines(stream, [&] { return now; });
    lines.Written();
    EXPECT_EQ(buffer.flushes, 1);  // the first line goes out at once
    now = 10.01;
    lines.Written();
    now = 10.02;
    lines.Tick();
    EXPECT_EQ(buffer.flushes, 1);  // held
    now = 10.08;
    lines.Tick();
    EXPECT_EQ(buffer.flushes, 2);  // held no longer
    lines.Tick();
    EXPECT_EQ(buffer.flushes, 2);  // nothing held, nothing to do
    now = 10.09;
    lines.Written();
    lines.Finish();
    EXPECT_EQ(buffer.flushes, 3);  // out before what follows
    lines.Finish();
    now = 10.10;
    lines.Written();
    EXPECT_EQ(buffer.flushes, 3);
  }
  EXPECT_EQ(buffer.flushes, 4);  // and at the end
}

TEST_F(PackTest, OptionValuesMayFollowAnEqualsSign) {
  ASSERT_EQ(Run({"create", "-o", (dir / "out.exe").string(), "--stub=" + stub.string(),
                 "--title=A=B", source.string()}),
            0)
      << err.str();
  EXPECT_EQ(ReadPackage((dir / "out.exe").string()).texts.title, "A=B");
}

}  // namespace
}  // namespace pack_test

namespace pack_test {
namespace {

TEST_F(PackTest, FileNamesWindowsCannotCreateAreRefused) {
  for (const char *name : {"a:b.txt", "what?.txt", "back\\slash.txt", "pipe|.txt"}) {
    WriteFile(source / name, "x");
    EXPECT_EQ(Create(dir / "out.exe", {}), 1) << name;
    EXPECT_NE(err.str().find(name), std::string::npos) << err.str();
    fs::remove(source / name);
  }
  // Names Windows takes for one file, or for a file where a folder must be
  // (the folder holds setup.inf, readme.txt and sub/data.bin); 表 is 95 5C
  // in code page 932, whose second byte the stub would take for a '\'.
  const struct {
    const char *file;
    std::vector<std::string> options;
    const char *phrase;
  } clashes[] = {
      {"README.TXT", {}, "\"README.TXT\" and \"readme.txt\" are one file on Windows"},
      {"readme.txt.", {}, "\"readme.txt\" and \"readme.txt.\" are one file"},
      {"readme.txt ", {}, "\"readme.txt\" and \"readme.txt \" are one file"},
      {"SETUP.INF", {"--inf", "setup.inf"}, "\"SETUP.INF\" and \"setup.inf\" are one"},
      {"SUB", {}, "\"sub/data.bin\" needs a folder where \"SUB\" is a file"},
      {"Readme.TXT/x.txt", {}, "\"readme.txt\" is a file where \"Readme.TXT/x.txt\" needs a folder"},
      {"\u8868\u793a.txt", {"--codepage", "932"}, "the character \"\u8868\" (bytes 95 5C)"},
  };
  for (const auto &c : clashes) {
    WriteFile(source / c.file, "x");
    EXPECT_EQ(Create(dir / "out.exe", c.options), 1) << c.file;
    EXPECT_NE(err.str().find(c.phrase), std::string::npos) << err.str();
    fs::remove_all(source / fs::path(c.file).begin()->string());
  }
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
  WriteFile(source / "caf\u00e9 [1].txt", "x");
  ASSERT_EQ(Create(dir / "out.exe", {}), 0) << err.str();
  auto view = vantrel_pack::ReadPackage((dir / "out.exe").string());
  auto walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 4u);
  EXPECT_EQ(walk.members[0].name, "caf\xE9 [1].txt");  // in code page 1252
}

}  // namespace
}  // namespace pack_test
