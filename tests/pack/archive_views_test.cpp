// The two views of an archive: the central directory, which zip tools list,
// and the stub's own walk of the local headers, which it installs. A .zip
// SOURCE is accepted exactly when the stub can extract every member and the
// two views agree; then the stub installs just what the directory lists.
// Run over a table of hostile archives and over the fuzz corpus.
#include "bridge/stub_session.h"
#include "cli/errors.h"
#include "pack_fixture.h"
#include "package/reader.h"
#include "zip/central_directory.h"
#include "zip/source_check.h"

namespace pack_test {
namespace {

using testing_support::ToBytes;

class ArchiveViews : public PackTest {
 protected:
  // Whether a .zip SOURCE holding `zip` is accepted; the message when not,
  // the warnings when it is. Whatever is accepted must install, member for
  // member, what the central directory lists.
  bool Accepted(const std::string &what, const std::string &zip, std::string &said,
                int codePage = 1252) {
    const fs::path path = dir / "in.zip";
    WriteFile(path, zip);
    std::ostringstream warnings;
    try {
      vantrel_pack::CheckZipForStub(path.string(), codePage, warnings);
    } catch (const vantrel_pack::PackError &e) {
      said = e.what();
      return false;
    }
    said = warnings.str();
    vantrel_pack::PieceSet bytes;
    bytes.AddFile(path.string());
    std::vector<std::string> installed;
    vantrel_pack::StubWalk walk;
    {
      vantrel_pack::StubSession stub(path.string());
      stub.OpenArchive(0);
      fs::create_directories(dir / "x");
      stub.ExtractArchive({(dir / "x").string(), std::string("pw"), true, nullptr, nullptr}, walk);
    }
    for (const vantrel_pack::StubMember &member : walk.members) {
      EXPECT_EQ(member.verdict, kMemberExtracted) << what;
      installed.push_back(vantrel_pack::ViewMember(bytes, member).rawName);
    }
    EXPECT_EQ(installed, vantrel_pack::DirectoryNames(bytes, 0)) << what;
    fs::remove_all(dir / "x");
    return true;
  }
};

std::string Replaced(std::string zip, size_t at, const std::string &bytes) {
  return zip.replace(at, bytes.size(), bytes);
}

TEST_F(ArchiveViews, HostileArchivesAreRefusedNamingTheMember) {
  ZipMember noSizes = Stored("big.bin", "not empty at all");
  noSizes.descriptor = true;
  noSizes.sizesInLocalHeader = false;
  ZipMember noCrc = Stored("nocrc.bin", "data");
  noCrc.descriptor = true;
  noCrc.crcInLocalHeader = false;
  ZipMember zip64 = Stored("huge.bin", "data");
  zip64.extra = ToBytes(std::string("\x01\x00\x10\x00", 4) + std::string(16, '\0'));
  ZipMember method = Stored("odd.bin", "data");
  method.method = 6;
  ZipMember deflate64 = Stored("big64.bin", "data");
  deflate64.method = 9;
  ZipMember aes = Stored("secret.bin", "data");
  aes.method = 99;
  ZipMember shortEncrypted = Stored("e.bin", "tiny");
  shortEncrypted.flags = 1;
  ZipMember noData = Stored("nodata.bin", "");
  noData.method = 8;
  noData.rawData = testing_support::Bytes();
  const ZipMember inf = Stored("setup.inf", kEmptyInf);
  const std::string pair = Zip({inf, Stored("b.txt", "b")});
  const size_t central = pair.find("PK\x01\x02");
  const std::string smuggled =
      Zip({inf, Stored("evil.bat", "format c:"), Stored("readme.txt", "read me")});
  const std::string smuggledName =
      Replaced(smuggled, smuggled.find("evil.bat", smuggled.find("PK\x01\x02")), "notes.md");
  struct Case {
    const char *what;
    std::string zip;
    const char *phrase;  // in the one-line refusal
    int codePage = 1252;
  } cases[] = {
      {"sizes only in the descriptor", Zip({inf, noSizes}), "\"big.bin\": the local header has no compressed size"},
      {"CRC only in the descriptor", Zip({inf, noCrc}), "\"nocrc.bin\": the local header has no CRC"},
      {"zip64", Zip({inf, zip64}), "Zip64"},
      {"method", Zip({inf, method}), "compression method 6 (imploded)"},
      {"Deflate64", Zip({inf, deflate64}), "(Deflate64), which the stub cannot extract (only "
                                           "stored and deflated): recompress it with deflate"},
      {"AES", Zip({inf, aes}), "(AES encryption), which the stub cannot open"},
      {"encrypted too short", Zip({inf, shortEncrypted}), "encrypted member shorter"},
      {"deflated without data", Zip({inf, noData}), "deflated member without data"},
      {"dot-dot", Zip({inf, Stored("../evil.txt", "x")}), "\"../evil.txt\": name leads outside"},
      {"unc", Zip({inf, Stored("\\\\server\\share\\x", "x")}), "name leads outside"},
      {"device", Zip({inf, Stored("sub/aux.txt", "x")}), "names a device"},
      {"empty name", Zip({inf, Stored("", "x")}), "empty name"},
      {"name too long", Zip({inf, Stored(std::string(259, 'n'), "x")}), "longer than 258"},
      {"path too long", Zip({inf, Stored(std::string(233, 'd') + "/x.txt", "x")}),
       "too long for any temporary folder"},
      // The stub ends its walk at any zip record, and at anything else too.
      {"walk ends at a record", Replaced(pair, pair.find("PK\x03\x04", 4) + 2, "\x09"),
       "the walk of local headers finds 1"},
      {"walk derails", Replaced(pair, pair.find("PK\x03\x04", 4), "X"),
       "walk ends at offset"},
      {"not a zip", "just text, no archive", "does not begin with a zip local header"},
      {"smuggled name", smuggledName, "the central directory names it \"notes.md\""},
      {"other size", Replaced(pair, central + 24, "\x09"), "uncompressed size"},
      {"other flags", Replaced(pair, central + 8, "\x02"), "flags"},
      // Names Windows takes for one file, or cannot make: the stub would
      // install another INF than the one checked, or stop.
      {"case folded", Zip({inf, Stored("SETUP.INF", kEmptyInf)}),
       "member 1 \"setup.inf\" and member 2 \"SETUP.INF\" are one file on Windows"},
      {"trailing dot", Zip({inf, Stored("setup.inf.", kEmptyInf)}), "\"setup.inf.\" are one file"},
      {"trailing space", Zip({inf, Stored("setup.inf ", kEmptyInf)}), "\"setup.inf \" are one file"},
      {"letters of the code page", Zip({inf, Stored("\xE9t\xE9.txt", "x"), Stored("\xC9T\xC9.TXT", "y")}),
       "are one file"},
      {"file, then a folder of its name", Zip({inf, Stored("a.txt", "x"), Stored("a.txt/b.txt", "y")}),
       "member 3 \"a.txt/b.txt\" needs a folder where member 2 \"a.txt\" is a file"},
      {"folder, then a file of its name", Zip({inf, Stored("LIB/x.dll", "x"), Stored("lib", "y")}),
       "member 3 \"lib\" is a file where member 2 \"LIB/x.dll\" needs a folder"},
      {"forbidden character", Zip({inf, Stored("what?.txt", "x")}),
       "the character \"?\" cannot be in a file name on Windows"},
      {"control character", Zip({inf, Stored("bell\x07.txt", "x")}), "control character \\x07"},
      // 表 is 95 5C in code page 932: the stub would make a folder "\x95".
      {"double-byte character ending in a backslash", Zip({inf, Stored("\x95\x5C\x8E\xA6.txt", "x")}),
       "\"\u8868\" (bytes 95 5C) ends in the byte of \"\\\", which the stub takes for a folder "
       "separator: rename the file", 932},
  };
  for (const Case &c : cases) {
    std::string said;
    EXPECT_FALSE(Accepted(c.what, c.zip, said, c.codePage)) << c.what;
    EXPECT_NE(said.find(c.phrase), std::string::npos) << c.what << ": " << said;
  }
  // inspect warns of a package another tool made so.
  testing_support::PackageContents contents;
  contents.archive = ToBytes(smuggledName);
  WriteFile(dir / "other.exe", testing_support::ToString(testing_support::BuildPackage(contents)));
  Run({"inspect", (dir / "other.exe").string()});
  EXPECT_NE(out.str().find("names it \"notes.md\""), std::string::npos) << out.str();
  // Of two names of one INF, Windows keeps the later: inspect checks that one.
  contents.archive = ToBytes(Zip({inf, Stored("SETUP.INF ", "[Version]\r\n")}));
  WriteFile(dir / "other.exe", testing_support::ToString(testing_support::BuildPackage(contents)));
  EXPECT_EQ(Run({"inspect", (dir / "other.exe").string()}), 0);
  EXPECT_NE(out.str().find("warning: member 1 \"setup.inf\" and member 2 \"SETUP.INF \" are one "
                           "file on Windows"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("warning: INF: the INF has no [Version] Signature"), std::string::npos)
      << out.str();
}

TEST_F(ArchiveViews, WhatTheStubHandlesIsAcceptedWarningOfWhatMayFail) {
  ZipMember descriptor = Stored("d.txt", "sizes in the header too");
  descriptor.descriptor = true;
  ZipMember oddSignature = Stored("odd.txt", "odd");
  oddSignature.signature = 0x50000000;
  // The descriptor's short form, without its signature, as some writers
  // leave it: before another member and after the last.
  ZipMember shortFirst = Stored("s1.txt", "short descriptor before another member");
  shortFirst.descriptor = true;
  shortFirst.descriptorSigned = false;
  ZipMember shortLast = shortFirst;
  shortLast.name = "s2.txt";
  std::vector<ZipMember> many;
  for (int i = 0; i < 256; ++i) many.push_back(Stored("f" + std::to_string(i), "x"));
  struct Case {
    const char *what;
    std::string zip;
    const char *warning;  // nullptr: none
    int codePage = 1252;
  } cases[] = {
      {"descriptor with sizes, odd signature, a name cut at a NUL",
       Zip({descriptor, oddSignature, Stored(std::string("abc\0def", 7), "cut"),
            Stored("a..b/c\\d", "x"), Stored("dir/", "")}),
       nullptr},
      {"short descriptors", Zip({shortFirst, Stored("b.txt", "b"), shortLast}), nullptr},
      {"a long name", Zip({Stored(std::string(200, 'l'), "x")}), "typical temporary folder"},
      {"256 files", Zip(many), "256 files: only the first 255"},
      // ア (83 41) and ヂ (83 61): a second byte is no letter to fold.
      {"double-byte characters whose second bytes are letters",
       Zip({Stored("\x83\x41.txt", "x"), Stored("\x83\x61.txt", "y")}), nullptr, 932},
  };
  for (const Case &c : cases) {
    std::string said;
    EXPECT_TRUE(Accepted(c.what, c.zip, said, c.codePage)) << c.what << ": " << said;
    if (c.warning) {
      EXPECT_NE(said.find(c.warning), std::string::npos) << c.what << ": " << said;
    } else {
      EXPECT_EQ(said, "") << c.what;
    }
  }
}

TEST_F(ArchiveViews, EveryArchiveOfTheFuzzCorpusKeepsThePromise) {
  int accepted = 0, refused = 0;
  const fs::path corpus = fs::path(VANTREL_SOURCE_DIR) / "tests/fuzz/corpus/fuzz_extract";
  for (const auto &entry : fs::directory_iterator(corpus)) {
    WriteFile(dir / "p.exe", std::string(kStubBytes, 'M') + ReadFile(entry.path()));
    uint64_t base = vantrel_pack::ReadPackage((dir / "p.exe").string(), false).archiveBase;
    std::string said;
    if (Accepted(entry.path().filename(), ReadFile(dir / "p.exe").substr(base), said)) {
      ++accepted;
    } else {
      ++refused;
    }
  }
  // Neither outcome may be missing: the corpus holds both kinds.
  EXPECT_GE(accepted, 2);
  EXPECT_GE(refused, 5);
}

}  // namespace
}  // namespace pack_test
