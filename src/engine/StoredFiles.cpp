#include "engine/StoredFiles.h"

#include "common/AesLib.h"
#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/TextEncoding.h"
#include "common/Translate.h"
#include "copyengine/ArchiveFormats.h"
#include "copyengine/WriteFileStream.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::FormatText;
using ardanto::HRESULT;
using ardanto::IReadStream;

namespace {

constexpr std::uint32_t kBufferSize = 256 * 1024;
// The engine writes every encrypted gzip file with AES-256.
constexpr int kGZipAesMode = 3;

// A file opened for reading, closed with the object.
class TInput {
public:
  explicit TInput(const QString& path)
    : FHandle(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK))
  {
    struct stat st {};
    if (FHandle >= 0 && ::fstat(FHandle, &st) == 0 && S_ISREG(st.st_mode))
      FSize = st.st_size;
    else
      FError = FHandle < 0 ? errno : EINVAL;
  }
  ~TInput()
  {
    if (FHandle >= 0)
      ::close(FHandle);
  }
  TInput(const TInput&) = delete;
  TInput& operator=(const TInput&) = delete;

  bool Ok() const { return FError == 0; }
  int Error() const { return FError; }
  int Handle() const { return FHandle; }
  std::int64_t Size() const { return FSize; }

  // Exactly count bytes at offset, or false.
  bool ReadAt(std::int64_t offset, void* buffer, std::size_t count) const
  {
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
      const ssize_t n = ::pread(FHandle, out, count, offset);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return false;
      out += n;
      offset += n;
      count -= static_cast<std::size_t>(n);
    }
    return true;
  }

private:
  int FHandle = -1;
  int FError = 0;
  std::int64_t FSize = 0;
};

// A stretch of a file as a stream.
class TRangeStream : public IReadStream {
public:
  TRangeStream(const TInput& input, std::int64_t offset, std::int64_t size)
    : FInput(input), FPosition(offset), FEnd(offset + size)
  {
  }
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(count, FEnd - FPosition));
    std::size_t got = 0;
    while (got < wanted) {
      const ssize_t n = ::pread(FInput.Handle(), static_cast<char*>(buffer) + got, wanted - got, FPosition);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        *bytesRead = static_cast<std::uint32_t>(got);
        return ardanto::HResultFromErrno(errno);
      }
      if (n == 0)
        break;
      got += static_cast<std::size_t>(n);
      FPosition += n;
    }
    *bytesRead = static_cast<std::uint32_t>(got);
    return ardanto::S_OK;
  }

private:
  const TInput& FInput;
  std::int64_t FPosition;
  std::int64_t FEnd;
};

// Decrypts a given number of bytes of ciphertext from its source.
class TDecryptStream : public IReadStream {
public:
  TDecryptStream(IReadStream& source, ardanto::TCrypt& crypt, std::int64_t size)
    : FSource(source), FCrypt(crypt), FLeft(size)
  {
  }
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    const auto wanted = static_cast<std::uint32_t>(std::min<std::int64_t>(count, FLeft));
    std::uint32_t got = 0;
    while (got < wanted) {
      std::uint32_t n = 0;
      const HRESULT hr = FSource.Read(static_cast<char*>(buffer) + got, wanted - got, &n);
      if (ardanto::FAILED(hr)) {
        *bytesRead = 0;
        return hr;
      }
      if (n == 0)
        break;
      got += n;
    }
    if (got > 0 && !FCrypt.DecryptBlock(buffer, got)) {
      *bytesRead = 0;
      return ardanto::E_FAIL;
    }
    FLeft -= got;
    *bytesRead = got;
    return ardanto::S_OK;
  }
  std::int64_t Left() const { return FLeft; }

private:
  IReadStream& FSource;
  ardanto::TCrypt& FCrypt;
  std::int64_t FLeft;
};

// Byte-wise reading over a stream, for headers, with the rest of its buffer
// handed to the decompressor.
class TBufferedInput {
public:
  explicit TBufferedInput(IReadStream& source) : FSource(source), FBuffer(kBufferSize) {}

  // False at the end or on a read error (Failed() tells).
  bool Fill()
  {
    if (FPos < FLen)
      return true;
    std::uint32_t got = 0;
    const HRESULT hr = FSource.Read(FBuffer.data(), static_cast<std::uint32_t>(FBuffer.size()), &got);
    FPos = 0;
    FLen = got;
    if (ardanto::FAILED(hr))
      FFailed = true;
    return !FFailed && got > 0;
  }
  bool Byte(std::uint8_t& b)
  {
    if (!Fill())
      return false;
    b = FBuffer[FPos++];
    return true;
  }
  bool Skip(std::size_t count)
  {
    std::uint8_t b = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!Byte(b))
        return false;
    }
    return true;
  }
  bool Le(int bytes, std::uint64_t& value)
  {
    value = 0;
    for (int i = 0; i < bytes; ++i) {
      std::uint8_t b = 0;
      if (!Byte(b))
        return false;
      value |= std::uint64_t{b} << (8 * i);
    }
    return true;
  }
  unsigned char* Data() { return FBuffer.data() + FPos; }
  std::size_t Available() const { return FLen - FPos; }
  void Consume(std::size_t count) { FPos += count; }
  bool Failed() const { return FFailed; }

private:
  IReadStream& FSource;
  std::vector<unsigned char> FBuffer;
  std::size_t FPos = 0;
  std::size_t FLen = 0;
  bool FFailed = false;
};

std::uint16_t U16(const unsigned char* p)
{
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const unsigned char* p)
{
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

std::uint64_t U64(const unsigned char* p)
{
  return std::uint64_t{U32(p)} | (std::uint64_t{U32(p + 4)} << 32);
}

QString Damaged(const QString& detail)
{
  return FormatText(_("The stored file is damaged: %s"), {detail});
}

QString WrongPassword()
{
  return _("Wrong password");
}

// The one entry of a zip archive. 0: it is one of ours (file filled in);
// 1: some other archive; -1: refused (error set).
int InspectZip(const TInput& input, TStoredFile& file, QString& error)
{
  const std::int64_t size = input.Size();
  if (size < 22)
    return 1;
  const std::int64_t tailSize = std::min<std::int64_t>(size, 22 + 65535);
  std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
  if (!input.ReadAt(size - tailSize, tail.data(), tail.size()))
    return 1;
  std::int64_t eocd = -1;
  for (std::int64_t i = tailSize - 22; i >= 0; --i) {
    if (U32(&tail[static_cast<std::size_t>(i)]) == 0x06054B50u) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0)
    return 1;
  const unsigned char* e = &tail[static_cast<std::size_t>(eocd)];
  std::uint64_t entries = U16(e + 10);
  std::uint64_t cdOffset = U32(e + 16);
  if (entries == 0xFFFF || cdOffset == 0xFFFFFFFFu) {
    // Zip64: the locator sits right before the end record.
    const std::int64_t locator = size - tailSize + eocd - 20;
    unsigned char loc[20];
    unsigned char rec[56];
    if (locator < 0 || !input.ReadAt(locator, loc, sizeof loc) || U32(loc) != 0x07064B50u)
      return 1;
    const auto recordOffset = static_cast<std::int64_t>(U64(loc + 8));
    if (recordOffset < 0 || recordOffset > size - 56 || !input.ReadAt(recordOffset, rec, sizeof rec) ||
        U32(rec) != 0x06064B50u)
      return 1;
    entries = U64(rec + 32);
    cdOffset = U64(rec + 48);
  }
  if (entries != 1 || cdOffset > static_cast<std::uint64_t>(size) - 46)
    return 1;
  unsigned char cd[46];
  if (!input.ReadAt(static_cast<std::int64_t>(cdOffset), cd, sizeof cd) || U32(cd) != 0x02014B50u)
    return 1;
  const std::uint16_t flags = U16(cd + 8);
  std::uint16_t method = U16(cd + 10);
  std::uint32_t crc = U32(cd + 16);
  std::uint64_t compressed = U32(cd + 20);
  std::uint64_t uncompressed = U32(cd + 24);
  const std::uint16_t nameLength = U16(cd + 28);
  const std::uint16_t extraLength = U16(cd + 30);
  std::uint64_t localOffset = U32(cd + 42);
  std::vector<unsigned char> variable(std::size_t{nameLength} + extraLength);
  if (!input.ReadAt(static_cast<std::int64_t>(cdOffset) + 46, variable.data(), variable.size()))
    return 1;
  const QByteArrayView nameBytes(reinterpret_cast<const char*>(variable.data()), nameLength);
  const QString entryName = (flags & 0x0800) ? QString::fromUtf8(nameBytes) : ardanto::DecodeCodePage437(nameBytes);

  int aesVersion = 0;
  int aesStrength = 0;
  std::uint16_t aesMethod = 0;
  for (std::size_t p = nameLength; p + 4 <= variable.size();) {
    const std::uint16_t id = U16(&variable[p]);
    const std::uint16_t length = U16(&variable[p + 2]);
    const std::size_t body = p + 4;
    if (body + length > variable.size())
      break;
    if (id == 0x0001) {
      std::size_t q = body;
      const auto take = [&](std::uint64_t& value) {
        if (value == 0xFFFFFFFFu && q + 8 <= body + length) {
          value = U64(&variable[q]);
          q += 8;
        }
      };
      take(uncompressed);
      take(compressed);
      take(localOffset);
    } else if (id == ardanto::kZipAesExtraId && length >= 7) {
      aesVersion = U16(&variable[body]);
      aesStrength = variable[body + 4];
      aesMethod = U16(&variable[body + 5]);
    }
    p = body + length;
  }

  // Only the archive's own name says where the file goes; an entry that
  // names a path has no business in a backup of ours.
  if (entryName != file.Name) {
    const QString last = entryName.section(u'/', -1).section(u'\\', -1);
    if (last == file.Name || entryName == u".."_s || entryName == u"."_s) {
      error = FormatText(_("The archive's entry \"%s\" is no plain file name"), {entryName});
      return -1;
    }
    return 1;
  }

  unsigned char local[30];
  if (localOffset > static_cast<std::uint64_t>(size) - 30 ||
      !input.ReadAt(static_cast<std::int64_t>(localOffset), local, sizeof local) || U32(local) != 0x04034B50u) {
    error = Damaged(_("no local header"));
    return -1;
  }
  const std::uint64_t dataOffset = localOffset + 30 + U16(local + 26) + U16(local + 28);
  if (dataOffset > static_cast<std::uint64_t>(size) || compressed > static_cast<std::uint64_t>(size) - dataOffset) {
    error = Damaged(_("the entry runs past the end"));
    return -1;
  }

  file.Form = sfZip;
  file.DataOffset = static_cast<std::int64_t>(dataOffset);
  file.DataSize = static_cast<std::int64_t>(compressed);
  file.Size = static_cast<std::int64_t>(uncompressed);
  file.Crc = crc;
  file.CheckCrc = true;
  if (method == ardanto::kZipMethodAes) {
    if (aesStrength < 1 || aesStrength > 3 || (aesVersion != 1 && aesVersion != 2)) {
      error = Damaged(_("unknown AES form"));
      return -1;
    }
    file.Encrypted = true;
    file.AesStrength = aesStrength;
    // AE-2 leaves the CRC out.
    file.CheckCrc = aesVersion == 1;
    method = aesMethod;
  } else if (flags & 0x0001) {
    error = _("The archive uses an encryption that is not supported");
    return -1;
  }
  if (method != 0 && method != 8) {
    error = FormatText(_("The archive uses the unsupported method %d"), {int(method)});
    return -1;
  }
  file.Deflated = method == 8;
  return 0;
}

struct TGZipHeader {
  QString Name;
  bool SizeField = false; // the suite's writer puts both sizes in an extra field
};

bool ReadGZipHeader(TBufferedInput& in, TGZipHeader& header, QString& error)
{
  std::uint8_t id1 = 0, id2 = 0, method = 0, flags = 0, os = 0;
  if (!in.Byte(id1) || !in.Byte(id2) || id1 != 0x1F || id2 != 0x8B || !in.Byte(method) || method != 8 ||
      !in.Byte(flags)) {
    error = Damaged(_("no gzip header"));
    return false;
  }
  std::uint64_t value = 0;
  if (!in.Le(4, value) || !in.Skip(1) || !in.Byte(os)) {
    error = Damaged(_("no gzip header"));
    return false;
  }
  if (flags & 0x04) {
    std::uint64_t extraLength = 0;
    if (!in.Le(2, extraLength)) {
      error = Damaged(_("no gzip header"));
      return false;
    }
    std::vector<std::uint8_t> extra(extraLength);
    for (std::uint8_t& b : extra) {
      if (!in.Byte(b)) {
        error = Damaged(_("no gzip header"));
        return false;
      }
    }
    for (std::size_t p = 0; p + 4 <= extra.size();) {
      const std::size_t length = extra[p + 2] | (extra[p + 3] << 8);
      if (extra[p] == 1 && extra[p + 1] == 0 && length == 16)
        header.SizeField = true;
      p += 4 + length;
    }
  }
  const auto zeroTerminated = [&](QByteArray& bytes) {
    std::uint8_t b = 0;
    while (in.Byte(b)) {
      if (b == 0)
        return true;
      if (bytes.size() < 65536)
        bytes.append(static_cast<char>(b));
    }
    return false;
  };
  if (flags & 0x08) {
    QByteArray name;
    if (!zeroTerminated(name)) {
      error = Damaged(_("no gzip header"));
      return false;
    }
    header.Name = os == ardanto::kGZipNameUtf8 ? QString::fromUtf8(name) : QString::fromLatin1(name);
  }
  if (flags & 0x10) {
    QByteArray comment;
    if (!zeroTerminated(comment)) {
      error = Damaged(_("no gzip header"));
      return false;
    }
  }
  if ((flags & 0x02) && !in.Skip(2)) {
    error = Damaged(_("no gzip header"));
    return false;
  }
  return true;
}

void Write(ardanto::TWriteFileStream& out, const unsigned char* data, std::size_t count, std::uint32_t& crc,
           std::int64_t& size)
{
  crc = static_cast<std::uint32_t>(::crc32_z(crc, data, count));
  size += static_cast<std::int64_t>(count);
  out.Write(data, count);
}

// Inflates a raw deflate stream from in to out; the input that follows the
// stream stays in in.
bool Inflate(TBufferedInput& in, ardanto::TWriteFileStream& out, std::uint32_t& crc, std::int64_t& size, QString& error)
{
  z_stream z{};
  if (::inflateInit2(&z, -15) != Z_OK) {
    error = Damaged(_("the decompressor did not start"));
    return false;
  }
  struct TEnd {
    z_stream& Z;
    ~TEnd() { ::inflateEnd(&Z); }
  } end{z};
  std::vector<unsigned char> output(kBufferSize);
  for (;;) {
    if (!in.Fill()) {
      error = in.Failed() ? _("The stored file could not be read") : Damaged(_("the data end too early"));
      return false;
    }
    z.next_in = in.Data();
    z.avail_in = static_cast<uInt>(in.Available());
    int status = Z_OK;
    do {
      z.next_out = output.data();
      z.avail_out = static_cast<uInt>(output.size());
      status = ::inflate(&z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        error = Damaged(QString::fromLatin1(z.msg != nullptr ? z.msg : ::zError(status)));
        return false;
      }
      Write(out, output.data(), output.size() - z.avail_out, crc, size);
    } while (z.avail_out == 0 && status != Z_STREAM_END);
    in.Consume(in.Available() - z.avail_in);
    if (status == Z_STREAM_END)
      return true;
  }
}

bool CopyAll(TBufferedInput& in, ardanto::TWriteFileStream& out, std::uint32_t& crc, std::int64_t& size)
{
  while (in.Fill()) {
    Write(out, in.Data(), in.Available(), crc, size);
    in.Consume(in.Available());
  }
  return !in.Failed();
}

// The gzip file from in: header, data, trailer.
bool ExtractGZip(TBufferedInput& in, ardanto::TWriteFileStream& out, std::int64_t& size, QString& error)
{
  TGZipHeader header;
  if (!ReadGZipHeader(in, header, error))
    return false;
  std::uint32_t crc = 0;
  if (!Inflate(in, out, crc, size, error))
    return false;
  std::uint64_t storedCrc = 0;
  std::uint64_t storedSize = 0;
  if (!in.Le(4, storedCrc) || !in.Le(4, storedSize)) {
    error = Damaged(_("the data end too early"));
    return false;
  }
  if (storedCrc != crc || storedSize != (static_cast<std::uint64_t>(size) & 0xFFFFFFFFu)) {
    error = Damaged(_("CRC error"));
    return false;
  }
  return true;
}

} // namespace

QString FormSuffix(TStoredForm form)
{
  switch (form) {
  case sfZip:
    return u".zip"_s;
  case sfGZip:
    return u".gz"_s;
  case sfGZipAes:
    return u".gze"_s;
  case sfPlain:
    break;
  }
  return QString();
}

bool InspectStoredFile(const QString& path, TStoredFile& file, QString& error)
{
  file = TStoredFile();
  file.Path = path;
  file.Name = ardanto::ExtractFileName(path);
  file.Size = -1;
  error.clear();
  TStoredForm byName = sfPlain;
  for (const TStoredForm form : {sfZip, sfGZipAes, sfGZip}) {
    const QString suffix = FormSuffix(form);
    if (file.Name.size() > suffix.size() && file.Name.endsWith(suffix, Qt::CaseInsensitive)) {
      byName = form;
      break;
    }
  }
  if (byName == sfPlain)
    return true;
  const QString original = file.Name.left(file.Name.size() - FormSuffix(byName).size());
  TInput input(path);
  if (!input.Ok()) {
    error = ardanto::SystemErrorText(input.Error());
    return false;
  }
  TStoredFile candidate = file;
  candidate.Name = original;
  if (byName == sfZip) {
    const int result = InspectZip(input, candidate, error);
    if (result < 0)
      return false;
    if (result == 0)
      file = candidate;
    return true;
  }
  if (byName == sfGZipAes) {
    const std::int64_t minimum =
        ardanto::TCrypt(QByteArrayView(), kGZipAesMode, 0).GetHeaderSize() + ardanto::TCrypt::TrailerSize;
    if (input.Size() < minimum) {
      error = Damaged(_("too short for an encrypted file"));
      return false;
    }
    candidate.Form = sfGZipAes;
    candidate.Encrypted = true;
    candidate.AesStrength = kGZipAesMode;
    candidate.DataOffset = 0;
    candidate.DataSize = input.Size();
    file = candidate;
    return true;
  }
  TRangeStream range(input, 0, input.Size());
  TBufferedInput in(range);
  TGZipHeader header;
  QString headerError;
  if (ReadGZipHeader(in, header, headerError) && header.SizeField && header.Name == original) {
    candidate.Form = sfGZip;
    candidate.DataOffset = 0;
    candidate.DataSize = input.Size();
    file = candidate;
  }
  return true;
}

bool CheckStoredPassword(const TStoredFile& file, const QByteArray& password, QString& error)
{
  TInput input(file.Path);
  if (!input.Ok()) {
    error = ardanto::SystemErrorText(input.Error());
    return false;
  }
  TRangeStream range(input, file.DataOffset, file.DataSize);
  ardanto::TCrypt crypt(password, file.AesStrength, 0);
  if (!crypt.ReadHeader(range)) {
    error = WrongPassword();
    return false;
  }
  return true;
}

bool ExtractStoredFile(const TStoredFile& file, const QByteArray& password, ardanto::TWriteFileStream& out,
                       std::int64_t& size, QString& error, int* writeError)
{
  size = 0;
  if (writeError != nullptr)
    *writeError = 0;
  TInput input(file.Path);
  if (!input.Ok()) {
    error = ardanto::SystemErrorText(input.Error());
    return false;
  }
  try {
    if (file.Form == sfPlain) {
      TRangeStream range(input, 0, input.Size());
      TBufferedInput in(range);
      std::uint32_t crc = 0;
      if (!CopyAll(in, out, crc, size)) {
        error = _("The stored file could not be read");
        return false;
      }
      return true;
    }

    TRangeStream range(input, file.DataOffset, file.DataSize);
    std::unique_ptr<ardanto::TCrypt> crypt;
    std::unique_ptr<TDecryptStream> decrypted;
    IReadStream* data = &range;
    if (file.Encrypted) {
      crypt = std::make_unique<ardanto::TCrypt>(password, file.AesStrength, 0);
      if (!crypt->ReadHeader(range)) {
        error = WrongPassword();
        return false;
      }
      const std::int64_t cipher = file.DataSize - crypt->GetHeaderSize() - crypt->GetTrailerSize();
      if (cipher < 0) {
        error = Damaged(_("too short for an encrypted file"));
        return false;
      }
      decrypted = std::make_unique<TDecryptStream>(range, *crypt, cipher);
      data = decrypted.get();
    }
    TBufferedInput in(*data);
    bool ok = false;
    std::uint32_t crc = 0;
    if (file.Form == sfZip)
      ok = file.Deflated ? Inflate(in, out, crc, size, error) : CopyAll(in, out, crc, size);
    else
      ok = ExtractGZip(in, out, size, error);
    if (!ok) {
      if (error.isEmpty())
        error = _("The stored file could not be read");
      return false;
    }
    if (decrypted) {
      // What follows the data inside the encrypted part must be nothing; the
      // authentication code then proves every byte.
      if (in.Available() > 0 || decrypted->Left() > 0) {
        error = Damaged(_("data after the end"));
        return false;
      }
      if (!crypt->ReadTrailer(range)) {
        error = Damaged(_("the authentication code does not match"));
        return false;
      }
    }
    if (file.Form == sfZip) {
      if (file.Size >= 0 && size != file.Size) {
        error = Damaged(_("the size does not match"));
        return false;
      }
      if (file.CheckCrc && crc != file.Crc) {
        error = Damaged(_("CRC error"));
        return false;
      }
    }
    return true;
  } catch (const ardanto::EWriteFileStreamError& e) {
    error = e.Message();
    if (writeError != nullptr)
      *writeError = e.ErrorCode();
    return false;
  }
}

} // namespace engine
