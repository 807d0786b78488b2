#pragma once

// Byte layouts of the gzip files and single-entry zip archives the copy
// engine writes. All numbers are little-endian.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace ardanto {

struct TEncodedName {
  QByteArray Bytes;
  bool Utf8 = false;
};

// gzip: ISO 8859-1 when every character fits, else UTF-8.
TEncodedName EncodeGZipName(const QString& name);
// zip: code page 437 when every character is below U+0100 and has a place in
// it, else UTF-8 (flag 0x0800).
TEncodedName EncodeZipName(const QString& name);

// Offset of the two 8-byte size fields of the gzip header's extra field.
constexpr std::int64_t kGZipSizeFieldsOffset = 16;
// gzip OS byte, used here to tell how the name is encoded.
constexpr std::uint8_t kGZipNameLatin1 = 0;
constexpr std::uint8_t kGZipNameUtf8 = 11;

// The header up to and including the name, with both size fields zero.
QByteArray GZipHeader(std::uint32_t unixTime, const TEncodedName& name);

struct TZipEntry {
  TEncodedName Name;
  bool Large = false;
  bool Deflated = false;
  std::uint32_t DosTime = 0; // date in the high word; 0xFFFFFFFF when unknown
  std::uint32_t Crc = 0;
  std::uint64_t UncompressedSize = 0;
  std::uint64_t CompressedSize = 0;
  std::uint32_t ExternalAttributes = 0;
  // Encryption in the zip AES format, version AE-2: 0 none, 1 to 3 the key
  // strength (AES-128, -192, -256). The entry's method is then 99, the real
  // one sits in the AES extra field, and the CRC is 0: AE-2 leaves integrity
  // to the authentication code. The compressed size includes salt, password
  // check and code.
  int AesStrength = 0;
};

// Method number of an AES-encrypted entry and the id of its extra field.
constexpr std::uint16_t kZipMethodAes = 99;
constexpr std::uint16_t kZipAesExtraId = 0x9901;

constexpr std::int64_t kZipLocalCrcOffset = 14;
constexpr std::uint16_t kZipHostNtfs = 10;
constexpr std::uint32_t kZip64Limit = 0xFFFFFFFFu;

std::uint16_t ZipVersion(const TZipEntry& entry);
std::uint16_t ZipFlags(const TZipEntry& entry);
// Local header with name and (large entries) the zip64 field.
QByteArray ZipLocalHeader(const TZipEntry& entry);
// Offset of the zip64 field's sizes in the local header of a large entry.
std::int64_t ZipLocalZip64SizesOffset(const TZipEntry& entry);
QByteArray ZipCentralHeader(const TZipEntry& entry);
// End records for a directory from cdStart to cdEnd: zip64 end record and
// locator as well when cdEnd lies above 4 GiB.
QByteArray ZipEndRecords(std::uint64_t cdStart, std::uint64_t cdEnd);

} // namespace ardanto
