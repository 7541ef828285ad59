// Shared set-up for the vantrel-pack tests: a scratch folder with a dummy
// stub and a small source folder, and the tool run in-process with its
// output captured. Hand-made archives come from support/package_builder.h.
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

#include "commands/commands.h"
#include "support/package_builder.h"
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

using testing_support::ZipMember;

// A member stored as it is.
inline ZipMember Stored(const std::string &name, const std::string &data) {
  return ZipMember{name, testing_support::ToBytes(data)};
}

inline std::string Zip(const std::vector<ZipMember> &members) {
  return testing_support::ToString(testing_support::BuildZip(members));
}

// An INF file that passes vantrel-pack's checks on every road and installs
// no file, only a registry value: for archives whose other members are
// beside the point.
inline const std::string kEmptyInf =
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\n"
    "[DefaultInstall]\r\nAddReg=Mark\r\n[DefaultInstall2]\r\nAddReg=Mark\r\n"
    "[DefaultInstall2.ntx86]\r\nAddReg=Mark\r\n[DefaultInstallX]\r\n"
    "[Mark]\r\nHKCU,Software\\Vantrel Test,Mark,,1\r\n";

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

// The stub the build made, with its manifest and version information.
inline fs::path BuiltStub() { return VANTREL_STUB_EXE; }

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
