// Finding the default stub, and naming a stub by its size and hash.
#include "stub_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <iterator>

#include "cli/errors.h"
#include "package/format.h"
#include "package/stub_resources.h"
#include "zip/sha256.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "unknown"
#endif

namespace vantrel_pack {
namespace {

bool IsRegularFile(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The folder part of an absolute path, without its last '/': "" for the
// root, whose parent is the root again.
std::string FolderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

uint32_t Read32(const std::string &image, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | uint8_t(image[at + size_t(i)]);
  return value;
}

// The image with the fields a signing tool writes set to zero: the PE
// checksum and the data directory's security entry (offset and size).
std::string WithoutSigningFields(std::string image) {
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return image;
  size_t pe = Read32(image, 0x3C);
  size_t optional = pe + 24;
  if (optional + 2 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return image;
  }
  unsigned magic = uint8_t(image[optional]) | unsigned(uint8_t(image[optional + 1])) << 8;
  // The data directory starts at 96 (PE32) or 112 (PE32+); security is its
  // fifth entry.
  size_t security = optional + (magic == 0x20B ? 112 : 96) + 4 * 8;
  if (security + 8 > image.size()) return image;
  image.replace(optional + 64, 4, 4, '\0');
  image.replace(security, 8, 8, '\0');
  return image;
}

}  // namespace

std::vector<std::string> StubPlaces(const std::string &self) {
  const std::string folder = FolderOf(self);
  return {folder + "/vantrel-stub.exe", FolderOf(folder) + "/share/vantrel/vantrel-stub.exe"};
}

std::string ProgramPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  return length > 0 ? std::string(self, size_t(length)) : std::string();
}

std::string FindDefaultStub() {
  const std::string self = ProgramPath();
  if (self.empty()) {
    throw PackError(
        "no stub found: this program cannot tell where it lies (/proc/self/exe); "
        "give one with --stub FILE");
  }
  std::string looked;
  for (const std::string &place : StubPlaces(self)) {
    if (IsRegularFile(place)) return place;
    looked += (looked.empty() ? "" : " and ") + place;
  }
  throw PackError("no stub found: looked for " + looked + "; give one with --stub FILE");
}

std::string StubHash(const std::string &image) {
  Sha256 hash;
  hash.Add(WithoutSigningFields(WithoutPackageResources(image)));
  std::array<uint8_t, 32> digest = hash.Finish();
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < 6; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

std::string DescribeStub(const std::string &image) {
  return std::to_string(image.size()) + " bytes, sha256 " + StubHash(image);
}

int PrintVersion(std::ostream &out, std::ostream &err) {
  out << "vantrel-pack " << VANTREL_VERSION << "\n";
  std::string path;
  try {
    path = FindDefaultStub();
  } catch (const PackError &e) {
    err << "vantrel-pack: " << e.what() << "\n";
    return 1;
  }
  // A file of another size is not read at all: it cannot be a stub.
  struct stat info;
  std::string image;
  if (stat(path.c_str(), &info) == 0 && uint64_t(info.st_size) == kStubSize) {
    std::ifstream in(path, std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (image.size() == kStubSize) out << "stub " << DescribeStub(image) << " (" << path << ")\n";
  if (image.size() != kStubSize || image.compare(0, 2, "MZ") != 0) {
    err << "vantrel-pack: the stub " << path << " is not usable: it must be a program of exactly "
        << kStubSize << " bytes\n";
    return 1;
  }
  return 0;
}

}  // namespace vantrel_pack
