// Shared set-up for the vantrel-pack tests: a scratch folder with a dummy
// stub and a small source folder, the tool run in-process with its output
// captured, and a builder for hand-made zip archives.
#ifndef VANTREL_TESTS_PACK_FIXTURE_H
#define VANTREL_TESTS_PACK_FIXTURE_H

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "support/scratch_folder.h"

namespace pack_test {

namespace fs = std::filesystem;

constexpr size_t kStubBytes = 35328;

inline std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

inline void WriteFile(const fs::path &path, const std::string &content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline uint32_t Le(const std::string &bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | uint8_t(bytes[at + size_t(i)]);
  return value;
}

inline uint32_t Crc(const std::string &data) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
}

// Bytes that compress poorly, so that archives have a predictable size.
inline std::string Noise(size_t count, uint32_t seed) {
  std::string out(count, '\0');
  for (char &c : out) {
    seed = seed * 1103515245u + 12345u;
    c = char(seed >> 24);
  }
  return out;
}

// Little-endian record writer for hand-made archives.
struct ZipBytes {
  std::string bytes;
  ZipBytes &U16(uint32_t v) { return Put(v, 2); }
  ZipBytes &U32(uint32_t v) { return Put(v, 4); }
  ZipBytes &Raw(const std::string &s) {
    bytes += s;
    return *this;
  }
  ZipBytes &Put(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes += char(uint8_t(v >> (8 * i)));
    return *this;
  }
};

struct CraftedMember {
  CraftedMember(std::string name_ = "", std::string data_ = "")
      : name(std::move(name_)), data(std::move(data_)) {}
  std::string name;
  std::string data;  // stored as is
  uint16_t flags = 0;
  uint16_t method = 0;
  std::string extra;
  bool sizesInLocalHeader = true;
  bool crcInLocalHeader = true;
  bool descriptor = false;
  uint32_t signature = 0x04034B50;
};

// A member whose sizes come only in the descriptor after its data, as a
// streaming writer leaves them: the stub cannot find where such data ends.
inline CraftedMember SizesOnlyInDescriptor(std::string name, std::string data) {
  CraftedMember m(std::move(name), std::move(data));
  m.flags = 8;
  m.descriptor = true;
  m.sizesInLocalHeader = false;
  return m;
}

// A zip archive written by the test itself: local headers, optional
// descriptors, central directory and end record.
inline std::string CraftZip(const std::vector<CraftedMember> &members) {
  ZipBytes zip, central;
  for (const CraftedMember &m : members) {
    uint32_t offset = uint32_t(zip.bytes.size());
    uint32_t crc = Crc(m.data);
    uint32_t size = uint32_t(m.data.size());
    bool sizes = m.sizesInLocalHeader;
    zip.U32(m.signature).U16(20).U16(m.flags).U16(m.method).U16(0).U16(0x21);
    zip.U32(sizes && m.crcInLocalHeader ? crc : 0).U32(sizes ? size : 0).U32(sizes ? size : 0);
    zip.U16(uint32_t(m.name.size())).U16(uint32_t(m.extra.size())).Raw(m.name).Raw(m.extra);
    zip.Raw(m.data);
    if (m.descriptor) zip.U32(0x08074B50).U32(crc).U32(size).U32(size);
    central.U32(0x02014B50).U16(20).U16(20).U16(m.flags).U16(m.method).U16(0).U16(0x21);
    central.U32(crc).U32(size).U32(size).U16(uint32_t(m.name.size())).U16(0).U16(0);
    central.U16(0).U16(0).U32(0).U32(offset).Raw(m.name);
  }
  uint32_t centralOffset = uint32_t(zip.bytes.size());
  zip.Raw(central.bytes);
  zip.U32(0x06054B50).U16(0).U16(0).U16(uint32_t(members.size())).U16(uint32_t(members.size()));
  zip.U32(uint32_t(central.bytes.size())).U32(centralOffset).U16(0);
  return zip.bytes;
}

// An INF file that passes vantrel-pack's checks on every road and installs
// nothing: for archives whose other members are beside the point.
inline const std::string kEmptyInf =
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\n"
    "[DefaultInstall]\r\n[DefaultInstall2]\r\n[DefaultInstall2.ntx86]\r\n[DefaultInstallX]\r\n";

// The INF of the test folder: it installs readme.txt and sub/data.bin on
// every road.
inline const std::string kFolderInf =
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\n"
    "[DefaultInstall]\r\nCopyFiles=Top,Sub\r\n"
    "[DefaultInstall2]\r\nCopyFiles=Top,Sub\r\n"
    "[DefaultInstall2.ntx86]\r\nCopyFiles=Top,Sub\r\n"
    "[DefaultInstallX]\r\n"
    "[DestinationDirs]\r\nTop=24,App\r\nSub=24,App\\sub\r\n"
    "[Top]\r\nreadme.txt\r\n[Sub]\r\ndata.bin\r\n"
    "[SourceDisksNames]\r\n1=App,,,\r\n"
    "[SourceDisksFiles]\r\nreadme.txt=1\r\ndata.bin=1,sub\r\n";

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = scratch_.path();
    stub = dir / "stub.exe";
    std::string image = "MZ" + Noise(kStubBytes - 2, 7);
    WriteFile(stub, image);
    source = dir / "src";
    WriteFile(source / "setup.inf", kFolderInf);
    WriteFile(source / "readme.txt", std::string(5000, 'r'));
    WriteFile(source / "sub" / "data.bin", Noise(20000, 3));
  }
  int Run(const std::vector<std::string> &args) {
    out.str("");
    err.str("");
    return vantrel_pack::PackMain(args, out, err);
  }

  // `create -o OUTPUT --stub STUB OPTIONS... SOURCE`
  int Create(const fs::path &output, const std::vector<std::string> &options,
             const fs::path &from) {
    std::vector<std::string> args = {"create", "-o", output.string(), "--stub", stub.string()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(from.string());
    return Run(args);
  }
  int Create(const fs::path &output, const std::vector<std::string> &options) {
    return Create(output, options, source);
  }

  std::vector<std::string> Entries(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testing_support::ScratchFolder scratch_{"pack-test"};
  fs::path dir, stub, source;
  std::ostringstream out, err;
};

}  // namespace pack_test

#endif
