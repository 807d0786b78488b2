#include "copyengine/ArchiveFormats.h"

#include "common/TextEncoding.h"

namespace ardanto {

namespace {

class TLittleEndian {
public:
  explicit TLittleEndian(QByteArray& bytes) : FBytes(bytes) {}
  TLittleEndian& U8(std::uint8_t v)
  {
    FBytes.append(static_cast<char>(v));
    return *this;
  }
  TLittleEndian& U16(std::uint16_t v) { return U8(static_cast<std::uint8_t>(v)).U8(static_cast<std::uint8_t>(v >> 8)); }
  TLittleEndian& U32(std::uint32_t v)
  {
    return U16(static_cast<std::uint16_t>(v)).U16(static_cast<std::uint16_t>(v >> 16));
  }
  TLittleEndian& U64(std::uint64_t v)
  {
    return U32(static_cast<std::uint32_t>(v)).U32(static_cast<std::uint32_t>(v >> 32));
  }
  TLittleEndian& Bytes(const QByteArray& bytes)
  {
    FBytes.append(bytes);
    return *this;
  }

private:
  QByteArray& FBytes;
};

bool AllBelow0100(const QString& name)
{
  for (const QChar c : name) {
    if (c.unicode() >= 0x100)
      return false;
  }
  return true;
}

std::uint32_t Clamp32(std::uint64_t v)
{
  return v > kZip64Limit ? kZip64Limit : static_cast<std::uint32_t>(v);
}

} // namespace

TEncodedName EncodeGZipName(const QString& name)
{
  if (AllBelow0100(name))
    return {name.toLatin1(), false};
  return {name.toUtf8(), true};
}

TEncodedName EncodeZipName(const QString& name)
{
  TEncodedName encoded;
  if (AllBelow0100(name) && EncodeCodePage437(name, encoded.Bytes))
    return encoded;
  return {name.toUtf8(), true};
}

QByteArray GZipHeader(std::uint32_t unixTime, const TEncodedName& name)
{
  QByteArray header;
  TLittleEndian out(header);
  const bool hasName = !name.Bytes.isEmpty();
  out.U8(0x1F).U8(0x8B).U8(8);
  out.U8(hasName ? 0x04 | 0x08 : 0x04);
  out.U32(unixTime);
  out.U8(0);
  out.U8(name.Utf8 ? kGZipNameUtf8 : kGZipNameLatin1);
  out.U16(20);     // extra field length
  out.U8(1).U8(0); // subfield: both sizes
  out.U16(16);
  out.U64(0).U64(0); // filled in when the data are complete
  if (hasName)
    out.Bytes(name.Bytes).U8(0);
  return header;
}

std::uint16_t ZipVersion(const TZipEntry& entry)
{
  if (entry.AesStrength != 0)
    return 51;
  return entry.Large ? 45 : 20;
}

std::uint16_t ZipFlags(const TZipEntry& entry)
{
  std::uint16_t flags = 0x0080;
  if (entry.Name.Utf8)
    flags |= 0x0800;
  if (entry.Deflated)
    flags |= 0x0002;
  if (entry.AesStrength != 0)
    flags |= 0x0001;
  return flags;
}

namespace {

std::uint16_t DataMethod(const TZipEntry& entry)
{
  return entry.Deflated ? 8 : 0;
}

void PutMethodAndTime(TLittleEndian& out, const TZipEntry& entry)
{
  out.U16(entry.AesStrength != 0 ? kZipMethodAes : DataMethod(entry));
  if (entry.DosTime == 0xFFFFFFFFu)
    out.U16(0xFFFF).U16(0xFFFF);
  else
    out.U16(static_cast<std::uint16_t>(entry.DosTime)).U16(static_cast<std::uint16_t>(entry.DosTime >> 16));
}

constexpr std::uint16_t kAesExtraSize = 11;

// The AES extra field: AE-2, vendor "AE", key strength, the real method.
void PutAesExtra(TLittleEndian& out, const TZipEntry& entry)
{
  if (entry.AesStrength == 0)
    return;
  out.U16(kZipAesExtraId).U16(7).U16(2).U8('A').U8('E');
  out.U8(static_cast<std::uint8_t>(entry.AesStrength)).U16(DataMethod(entry));
}

std::uint16_t AesExtraSize(const TZipEntry& entry)
{
  return entry.AesStrength != 0 ? kAesExtraSize : 0;
}

} // namespace

QByteArray ZipLocalHeader(const TZipEntry& entry)
{
  QByteArray header;
  TLittleEndian out(header);
  out.U32(0x04034B50);
  out.U16(ZipVersion(entry));
  out.U16(ZipFlags(entry));
  PutMethodAndTime(out, entry);
  out.U32(entry.Crc);
  if (entry.Large)
    out.U32(kZip64Limit).U32(kZip64Limit);
  else
    out.U32(static_cast<std::uint32_t>(entry.CompressedSize)).U32(static_cast<std::uint32_t>(entry.UncompressedSize));
  out.U16(static_cast<std::uint16_t>(entry.Name.Bytes.size()));
  out.U16(static_cast<std::uint16_t>((entry.Large ? 20 : 0) + AesExtraSize(entry)));
  out.Bytes(entry.Name.Bytes);
  if (entry.Large)
    out.U16(0x0001).U16(16).U64(entry.UncompressedSize).U64(entry.CompressedSize);
  PutAesExtra(out, entry);
  return header;
}

std::int64_t ZipLocalZip64SizesOffset(const TZipEntry& entry)
{
  return 30 + entry.Name.Bytes.size() + 4;
}

QByteArray ZipCentralHeader(const TZipEntry& entry)
{
  QByteArray header;
  TLittleEndian out(header);
  const bool bigUncompressed = entry.Large && entry.UncompressedSize > kZip64Limit;
  const bool bigCompressed = entry.Large && entry.CompressedSize > kZip64Limit;
  const int count = (bigUncompressed ? 1 : 0) + (bigCompressed ? 1 : 0);
  out.U32(0x02014B50);
  // Made by: the same version, on MS-DOS; for a UTF-8 name on Windows NTFS
  // instead (its attributes are the same MS-DOS bits). Info-ZIP's unzip
  // converts every name of an MS-DOS archive from code page 437, flag 0x0800
  // or not, which would garble a UTF-8 name.
  out.U16(static_cast<std::uint16_t>(ZipVersion(entry) | (entry.Name.Utf8 ? kZipHostNtfs << 8 : 0)));
  out.U16(ZipVersion(entry));
  out.U16(ZipFlags(entry));
  PutMethodAndTime(out, entry);
  out.U32(entry.Crc);
  out.U32(entry.Large ? Clamp32(entry.CompressedSize) : static_cast<std::uint32_t>(entry.CompressedSize));
  out.U32(entry.Large ? Clamp32(entry.UncompressedSize) : static_cast<std::uint32_t>(entry.UncompressedSize));
  out.U16(static_cast<std::uint16_t>(entry.Name.Bytes.size()));
  out.U16(static_cast<std::uint16_t>((entry.Large ? 4 + 8 * count : 0) + AesExtraSize(entry)));
  out.U16(0); // comment
  out.U16(0); // disk
  out.U16(0); // internal attributes
  out.U32(entry.ExternalAttributes & 0xFFFFu);
  out.U32(0); // the local header is at the start
  out.Bytes(entry.Name.Bytes);
  if (entry.Large) {
    out.U16(0x0001).U16(static_cast<std::uint16_t>(8 * count));
    if (bigUncompressed)
      out.U64(entry.UncompressedSize);
    if (bigCompressed)
      out.U64(entry.CompressedSize);
  }
  PutAesExtra(out, entry);
  return header;
}

QByteArray ZipEndRecords(std::uint64_t cdStart, std::uint64_t cdEnd)
{
  QByteArray records;
  TLittleEndian out(records);
  const std::uint64_t cdSize = cdEnd - cdStart;
  const bool zip64 = cdEnd > kZip64Limit;
  if (zip64) {
    out.U32(0x06064B50).U64(44).U16(45).U16(45).U32(0).U32(0).U64(1).U64(1).U64(cdSize).U64(cdStart);
    out.U32(0x07064B50).U32(0).U64(cdEnd).U32(1);
  }
  out.U32(0x06054B50).U16(0).U16(0).U16(1).U16(1);
  out.U32(zip64 ? Clamp32(cdSize) : static_cast<std::uint32_t>(cdSize));
  out.U32(zip64 ? kZip64Limit : static_cast<std::uint32_t>(cdStart));
  out.U16(0);
  return records;
}

} // namespace ardanto
