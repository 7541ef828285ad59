// The traditional zip cipher, and an encrypted deflated member made by
// Info-ZIP zip decoded through the decoder's reader.
#include "core/zipcrypto.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>

#include "inflate_harness.h"

using namespace inflate_test;
using testing_support::Crc32;

namespace {

class ZipCrypto : public InflateTest {};

TEST_F(ZipCrypto, EmptyPasswordLeavesTheInitialKeys) {
  InitKeys("ignored", 0);
  EXPECT_EQ(0x12345678u, state.key0);
  EXPECT_EQ(0x23456789u, state.key1);
  EXPECT_EQ(0x34567890u, state.key2);
}

// Known answers for the password "Pa55 word", worked out from the format's
// key schedule with a separate implementation: the keys after the password,
// and the first twelve ciphertext bytes of twelve zero bytes.
const DWORD kKnownKeys[3] = {0x298BC1EC, 0x6C5E6B2A, 0xA22E88B2};
const BYTE kZerosEnciphered[12] = {0x24, 0x60, 0xF4, 0x95, 0xF7, 0x76,
                                   0xEB, 0xE1, 0xCA, 0x8A, 0x79, 0x50};

TEST_F(ZipCrypto, KnownKeysAfterAPassword) {
  InitKeys("Pa55 word", 9);
  EXPECT_EQ(kKnownKeys[0], state.key0);
  EXPECT_EQ(kKnownKeys[1], state.key1);
  EXPECT_EQ(kKnownKeys[2], state.key2);
}

TEST_F(ZipCrypto, KnownCiphertextDeciphersByteAfterByte) {
  InitKeys("Pa55 word", 9);
  Bytes buffer(kZerosEnciphered, kZerosEnciphered + 12);
  DecipherBuffer(buffer.data(), 5);
  DecipherBuffer(buffer.data() + 5, 7);  // in two pieces: the keys carry over
  EXPECT_EQ(Bytes(12, 0), buffer);
}

TEST_F(ZipCrypto, KeystreamByteDoesNotMoveTheKeys) {
  InitKeys("Pa55 word", 9);
  EXPECT_EQ(kZerosEnciphered[0], DecryptByte());
  EXPECT_EQ(kZerosEnciphered[0], DecryptByte());
  EXPECT_EQ(kKnownKeys[0], state.key0);
  EXPECT_EQ(kKnownKeys[1], state.key1);
  EXPECT_EQ(kKnownKeys[2], state.key2);
}

TEST_F(ZipCrypto, PasswordLengthCountsNotTheTerminator) {
  InitKeys("abc\0def", 7);
  DWORD withTail = state.key0;
  InitKeys("abc", 3);
  EXPECT_NE(withTail, state.key0);
}

uint32_t Le32(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const Bytes &b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

TEST_F(ZipCrypto, InfoZipEncryptedMemberDecodesThroughTheReader) {
  if (system("zip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP zip is not installed";
  // Larger than one read chunk compressed, so the keys run across refills.
  Bytes data = TextBytes(150000, 21);
  Bytes noise = RandomBytes(60000, 22);
  data.insert(data.end(), noise.begin(), noise.end());
  WriteFile("in/data.txt", data);
  std::string command = "cd '" + Posix("in") + "' && zip -q -X -9 -P 'Pa55 word' '" +
                        Posix("member.zip") + "' data.txt";
  ASSERT_EQ(0, system(command.c_str()));
  Bytes zip = ReadFile("member.zip");
  ASSERT_EQ(0x04034B50u, Le32(zip, 0));
  uint16_t flags = Le16(zip, 6);
  ASSERT_EQ(8, Le16(zip, 8));
  ASSERT_TRUE(flags & 1);
  uint32_t crc = Le32(zip, 14);
  uint32_t compressed = Le32(zip, 18);
  size_t dataAt = 30 + Le16(zip, 26) + Le16(zip, 28);
  if (flags & 8) {
    // Sizes in a descriptor: take them from the central directory instead.
    size_t cd = zip.size() - 22;
    size_t central = Le32(zip, cd + 16);
    crc = Le32(zip, central + 16);
    compressed = Le32(zip, central + 20);
  }
  ASSERT_GT(compressed, 32768u + 12);

  // The encryption header, deciphered and checked as the walker does.
  const char *password = "Pa55 word";
  InitKeys(password, DWORD(strlen(password)));
  Bytes header(zip.begin() + long(dataAt), zip.begin() + long(dataAt) + 12);
  DecipherBuffer(header.data(), 12);
  uint16_t dosTime = Le16(zip, 10);
  EXPECT_EQ((flags & 8) ? (dosTime >> 8) : (crc >> 24), header[11]);

  // Expected keys after every compressed byte has been deciphered once.
  DWORD k0 = state.key0, k1 = state.key1, k2 = state.key2;
  Bytes rest(zip.begin() + long(dataAt) + 12, zip.begin() + long(dataAt + compressed));
  DecipherBuffer(rest.data(), DWORD(rest.size()));
  DWORD e0 = state.key0, e1 = state.key1, e2 = state.key2;
  state.key0 = k0, state.key1 = k1, state.key2 = k2;

  state.packageFile = CreateFileA("C:\\member.zip", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, state.packageFile);
  SetFilePointer(state.packageFile, LONG(dataAt + 12), nullptr, FILE_BEGIN);
  state.bytesLeft = LONG(compressed - 12);
  state.localHeader.flags = flags;
  Decoded d = DecodePrepared();
  EXPECT_TRUE(data == d.output);
  EXPECT_EQ(crc, d.crc);
  EXPECT_EQ(Crc32(data), d.crc);
  EXPECT_EQ(e0, state.key0);
  EXPECT_EQ(e1, state.key1);
  EXPECT_EQ(e2, state.key2);
}

}  // namespace
