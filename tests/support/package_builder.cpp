#include "support/package_builder.h"

#include <stdexcept>

#include "support/zlib_codec.h"

namespace testing_support {
namespace {
void Put16(Bytes &out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(Bytes &out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Append(Bytes &out, const Bytes &more) { out.insert(out.end(), more.begin(), more.end()); }

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
  crc ^= byte;
  for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  return crc;
}

}  // namespace

Bytes ToBytes(const std::string &text) { return Bytes(text.begin(), text.end()); }
std::string ToString(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

ZipCipher::ZipCipher(const std::string &password) {
  for (unsigned char c : password) Update(c);
}
void ZipCipher::Update(uint8_t plain) {
  k0_ = CrcStep(k0_, plain);
  k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
  k2_ = CrcStep(k2_, uint8_t(k1_ >> 24));
}
uint8_t ZipCipher::Stream() const {
  uint16_t t = uint16_t((k2_ & 0xFFFF) | 2);
  return uint8_t((uint32_t(t) * uint32_t(t ^ 1)) >> 8);
}
uint8_t ZipCipher::Encrypt(uint8_t plain) {
  uint8_t c = plain ^ Stream();
  Update(plain);
  return c;
}
uint8_t ZipCipher::Decrypt(uint8_t cipher) {
  uint8_t p = cipher ^ Stream();
  Update(p);
  return p;
}

uint32_t Crc32(const Bytes &data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) crc = CrcStep(crc, b);
  return crc ^ 0xFFFFFFFFu;
}

namespace {
// The fields the local and the central header share, in the order both hold
// them: from the flags to the name's length. A local header may leave the
// CRC or the sizes 0.
void PutSharedFields(Bytes &out, const ZipMember &m, uint16_t flags, uint32_t crc,
                     size_t storedSize, bool local) {
  bool sizes = !local || m.sizesInLocalHeader;
  Put16(out, flags);
  Put16(out, uint16_t(m.method));
  Put16(out, m.dosTime);
  Put16(out, m.dosDate);
  Put32(out, sizes && (!local || m.crcInLocalHeader) ? crc : 0);
  Put32(out, sizes ? uint32_t(storedSize) : 0);
  Put32(out, sizes ? m.uncompressedSize.value_or(uint32_t(m.data.size())) : 0);
  Put16(out, uint16_t(m.name.size()));
}
}  // namespace

Bytes BuildZip(const std::vector<ZipMember> &members, const std::string &comment) {
  Bytes zip, central;
  for (const ZipMember &m : members) {
    uint32_t crc = m.crc.value_or(Crc32(m.data));
    Bytes body = m.rawData ? *m.rawData : (m.method == 8 ? RawDeflate(m.data) : m.data);
    uint16_t flags = uint16_t(m.flags | (m.descriptor ? 8 : 0));
    if (!m.password.empty()) {
      flags |= 1;
      ZipCipher cipher(m.password);
      Bytes encrypted;
      for (int i = 0; i < 11; ++i) encrypted.push_back(cipher.Encrypt(uint8_t(i * 37 + 11)));
      encrypted.push_back(
          cipher.Encrypt(m.descriptor ? uint8_t(m.dosTime >> 8) : uint8_t(crc >> 24)));
      for (uint8_t b : body) encrypted.push_back(cipher.Encrypt(b));
      body = encrypted;
    }
    uint32_t offset = uint32_t(zip.size());
    Put32(zip, m.signature.value_or(0x04034B50));
    Put16(zip, 20);
    PutSharedFields(zip, m, flags, crc, body.size(), true);
    Put16(zip, uint16_t(m.extra.size()));
    Append(zip, ToBytes(m.name));
    Append(zip, m.extra);
    Append(zip, body);
    if (m.descriptor) {
      if (m.descriptorSigned) Put32(zip, 0x08074B50);
      Put32(zip, crc);
      Put32(zip, uint32_t(body.size()));
      Put32(zip, m.uncompressedSize.value_or(uint32_t(m.data.size())));
    }
    Put32(central, 0x02014B50);
    Put16(central, 20);
    Put16(central, 20);
    PutSharedFields(central, m, flags, crc, body.size(), false);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0);
    Put32(central, offset);
    Append(central, ToBytes(m.name));
  }
  uint32_t centralOffset = uint32_t(zip.size());
  Append(zip, central);
  Put32(zip, 0x06054B50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, uint16_t(members.size()));
  Put16(zip, uint16_t(members.size()));
  Put32(zip, uint32_t(central.size()));
  Put32(zip, centralOffset);
  Put16(zip, uint16_t(comment.size()));
  Append(zip, ToBytes(comment));
  return zip;
}

Bytes Scramble(const std::string &text) {
  Bytes out = ToBytes(text);
  uint32_t generator = 0x3A9;
  for (size_t i = 1; i < out.size(); ++i) {
    generator = generator * 134775813u + 1;
    out[i] ^= uint8_t((generator >> 25) | 0x80);
  }
  return out;
}

Bytes BuildPackage(const PackageContents &contents) {
  Bytes out(35328, 0);
  if (!contents.magic) {
    Append(out, contents.archive);
    return out;
  }
  Append(out, ToBytes("ZEP"));
  out.push_back(contents.stayOpen);
  out.push_back(uint8_t(contents.title.size()));
  out.push_back(uint8_t(contents.infName.size()));
  out.push_back(contents.admin);
  out.push_back(uint8_t(contents.storedPassword.size()));
  Put32(out, uint32_t(contents.welcomeLength.value_or(int32_t(contents.welcome.size()))));
  Put32(out, uint32_t(contents.licenceLength.value_or(int32_t(contents.licence.size()))));
  out.push_back(0);
  out.push_back(contents.multiPart);
  out.push_back(contents.skipCheck);
  out.push_back(contents.advpack);
  out.push_back(0);
  size_t totalAt = out.size();
  Put32(out, 0);
  Append(out, ToBytes(contents.title));
  Append(out, ToBytes(contents.infName));
  Append(out, Scramble(contents.storedPassword));
  Append(out, Scramble(contents.welcome));
  Append(out, Scramble(contents.licence));
  Append(out, contents.archive);
  uint32_t total = uint32_t(contents.totalSize.value_or(int32_t(out.size())));
  for (int i = 0; i < 4; ++i) out[totalAt + i] = uint8_t(total >> (8 * i));
  return out;
}

}  // namespace testing_support
