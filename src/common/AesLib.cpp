#include "common/AesLib.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/Translate.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

namespace ardanto {

namespace {

constexpr int kPbkdf2Iterations = 1000;
// Key stream made per AES call: many blocks at once keep AES busy.
constexpr std::size_t kKeyStreamBlocks = 256;
constexpr std::uint32_t kDefaultBufSize = 4096;
constexpr std::uint32_t kProtectBufSize = 4096;
// A two-byte length prefix keeps 5 bits in its first byte.
constexpr int kMaxProtectedLength = 0x1FFF;

void XorInto(unsigned char* data, const unsigned char* key, std::size_t size)
{
  std::size_t i = 0;
  // Four words at a time: the compiler turns this into vector code.
  for (; i + 32 <= size; i += 32) {
    std::uint64_t d[4], k[4];
    std::memcpy(d, data + i, 32);
    std::memcpy(k, key + i, 32);
    for (int j = 0; j < 4; ++j)
      d[j] ^= k[j];
    std::memcpy(data + i, d, 32);
  }
  for (; i + 8 <= size; i += 8) {
    std::uint64_t d, k;
    std::memcpy(&d, data + i, 8);
    std::memcpy(&k, key + i, 8);
    d ^= k;
    std::memcpy(data + i, &d, 8);
  }
  for (; i < size; ++i)
    data[i] ^= key[i];
}

// Wipes the bytes of a QByteArray, then empties it.
void Wipe(QByteArray& bytes)
{
  // A shared copy still belongs to someone else; the last owner wipes it.
  if (bytes.isDetached())
    crypto::SecureZero(bytes.data(), static_cast<std::size_t>(bytes.size()));
  bytes.clear();
}

} // namespace

// ---- streams ----

HRESULT TMemoryReadStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  const qsizetype n = std::min<qsizetype>(count, FData.size() - FPosition);
  if (n > 0)
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  if (bytesRead)
    *bytesRead = static_cast<std::uint32_t>(n);
  return S_OK;
}

HRESULT TMemoryWriteStream::Write(const void* buffer, std::uint32_t count)
{
  FData.append(static_cast<const char*>(buffer), static_cast<qsizetype>(count));
  return S_OK;
}

HRESULT TFileReadStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  std::size_t got = 0;
  const int error = FFile.Read(buffer, count, got);
  if (bytesRead)
    *bytesRead = static_cast<std::uint32_t>(got);
  return HResultFromErrno(error);
}

HRESULT TFileWriteStream::Write(const void* buffer, std::uint32_t count)
{
  std::size_t written = 0;
  const int error = FFile.Write(buffer, count, written);
  if (error == 0 && written != count)
    return E_FAIL;
  return HResultFromErrno(error);
}

// ---- TCrypt ----

TCrypt::TCrypt(QByteArrayView password, int aMode, std::uint32_t bufSize)
  : FPwd(password.first(std::min<qsizetype>(password.size(), MaxPasswordLength)).toByteArray()),
    CBufSize(bufSize == 0 ? kDefaultBufSize : bufSize), CBuffer(CBufSize)
{
  FCryptCtx.Blocks.resize(kKeyStreamBlocks * crypto::TAesEncryptor::BlockSize);
  FCryptCtx.KeyStream.resize(kKeyStreamBlocks * crypto::TAesEncryptor::BlockSize);
  SetKeyMode(aMode);
  // The mode chosen from the password is what the caller asked for, so the
  // object counts as having a fixed key all the same.
  FFixedKey = true;
}

TCrypt::~TCrypt()
{
  Wipe(FPwd);
  crypto::SecureZero(CBuffer.data(), CBuffer.size());
  crypto::SecureZero(FCryptCtx.Blocks.data(), FCryptCtx.Blocks.size());
  crypto::SecureZero(FCryptCtx.KeyStream.data(), FCryptCtx.KeyStream.size());
  crypto::SecureZero(FCryptCtx.PwdCheck, sizeof FCryptCtx.PwdCheck);
}

void TCrypt::SetKeyMode(int mode)
{
  if (mode >= 1 && mode <= 3) {
    FMode = mode;
    return;
  }
  FFixedKey = false;
  if (FPwd.size() < 32)
    FMode = 1;
  else if (FPwd.size() < 48)
    FMode = 2;
  else
    FMode = 3;
}

int TCrypt::SaltSize() const
{
  return 4 + 4 * FMode;
}

int TCrypt::KeySize() const
{
  return 8 + 8 * FMode;
}

int TCrypt::GetHeaderSize() const
{
  return SaltSize() + 2;
}

bool TCrypt::ReadFully(IReadStream& source, unsigned char* buffer, std::uint32_t count, std::uint32_t& got)
{
  got = 0;
  while (got < count) {
    std::uint32_t n = 0;
    if (FAILED(source.Read(buffer + got, count - got, &n)))
      return false;
    if (n == 0)
      break;
    if (n > count - got) // a source that claims more than it was given room for
      return false;
    got += n;
  }
  return true;
}

bool TCrypt::DeriveKeys(const unsigned char* salt)
{
  EndKeyedState();
  const auto k = static_cast<std::size_t>(KeySize());
  unsigned char derived[2 * 32 + 2];
  const std::size_t derivedLen = 2 * k + 2;
  bool ok = crypto::Pbkdf2HmacSha1(FPwd, QByteArrayView(salt, SaltSize()), kPbkdf2Iterations, derived, derivedLen) &&
            FCryptCtx.Aes.SetKey(derived, k) && FCryptCtx.Hmac.Init(derived + k, k);
  if (ok) {
    FCryptCtx.PwdCheck[0] = derived[2 * k];
    FCryptCtx.PwdCheck[1] = derived[2 * k + 1];
    FCryptCtx.Counter = 0;
    FCryptCtx.KeyStreamPos = FCryptCtx.KeyStreamLen = 0;
    FCryptCtx.Keyed = true;
  }
  crypto::SecureZero(derived, sizeof derived);
  return ok;
}

void TCrypt::EndKeyedState()
{
  FCryptCtx.Keyed = false;
  crypto::SecureZero(FCryptCtx.KeyStream.data(), FCryptCtx.KeyStream.size());
  FCryptCtx.KeyStreamPos = FCryptCtx.KeyStreamLen = 0;
}

void TCrypt::RefillKeyStream(std::size_t wanted)
{
  constexpr std::size_t B = crypto::TAesEncryptor::BlockSize;
  const std::size_t blocks = std::min(kKeyStreamBlocks, (wanted + B - 1) / B);
  unsigned char* block = FCryptCtx.Blocks.data();
  // The zip format counts in the first 8 bytes, least significant first;
  // bytes 8 to 15 stay zero from the start.
  for (std::size_t i = 0; i < blocks; ++i, block += B)
    qToLittleEndian<std::uint64_t>(++FCryptCtx.Counter, block);
  FCryptCtx.KeyStreamPos = 0;
  if (FCryptCtx.Aes.EncryptBlocks(FCryptCtx.Blocks.data(), FCryptCtx.KeyStream.data(), blocks * B))
    FCryptCtx.KeyStreamLen = blocks * B;
  else
    FCryptCtx.KeyStreamLen = 0;
}

bool TCrypt::ApplyKeyStream(unsigned char* data, std::size_t size)
{
  while (size > 0) {
    if (FCryptCtx.KeyStreamPos == FCryptCtx.KeyStreamLen) {
      RefillKeyStream(size);
      if (FCryptCtx.KeyStreamLen == 0)
        return false;
    }
    const std::size_t n = std::min(size, FCryptCtx.KeyStreamLen - FCryptCtx.KeyStreamPos);
    XorInto(data, FCryptCtx.KeyStream.data() + FCryptCtx.KeyStreamPos, n);
    FCryptCtx.KeyStreamPos += n;
    data += n;
    size -= n;
  }
  return true;
}

bool TCrypt::EncryptBlock(void* buffer, std::uint32_t bLen)
{
  if (!FCryptCtx.Keyed)
    return false;
  auto* data = static_cast<unsigned char*>(buffer);
  if (!ApplyKeyStream(data, bLen) || !FCryptCtx.Hmac.Update(data, bLen)) {
    EndKeyedState();
    return false;
  }
  return true;
}

bool TCrypt::DecryptBlock(void* buffer, std::uint32_t bLen)
{
  if (!FCryptCtx.Keyed)
    return false;
  auto* data = static_cast<unsigned char*>(buffer);
  if (!FCryptCtx.Hmac.Update(data, bLen) || !ApplyKeyStream(data, bLen)) {
    EndKeyedState();
    return false;
  }
  return true;
}

bool TCrypt::WriteTrailer(IWriteStream& sDest)
{
  if (!FCryptCtx.Keyed)
    return false;
  EndKeyedState();
  unsigned char code[crypto::THmacSha1::DigestSize];
  if (!FCryptCtx.Hmac.Final(code))
    return false;
  try {
    return SUCCEEDED(sDest.Write(code, TrailerSize));
  } catch (...) {
    return false;
  }
}

bool TCrypt::ReadHeader(IReadStream& sSource)
{
  EndKeyedState();
  try {
    unsigned char header[16 + 2];
    const auto size = static_cast<std::uint32_t>(GetHeaderSize());
    std::uint32_t got = 0;
    if (!ReadFully(sSource, header, size, got) || got != size)
      return false;
    if (!DeriveKeys(header))
      return false;
    if (!crypto::ConstantTimeEqual(header + SaltSize(), FCryptCtx.PwdCheck, 2)) {
      EndKeyedState();
      return false;
    }
    return true;
  } catch (...) {
    EndKeyedState();
    return false;
  }
}

bool TCrypt::ReadTrailer(IReadStream& sSource)
{
  if (!FCryptCtx.Keyed)
    return false;
  EndKeyedState();
  unsigned char code[crypto::THmacSha1::DigestSize];
  if (!FCryptCtx.Hmac.Final(code))
    return false;
  try {
    unsigned char stored[TrailerSize];
    std::uint32_t got = 0;
    return ReadFully(sSource, stored, TrailerSize, got) && got == TrailerSize &&
           crypto::ConstantTimeEqual(stored, code, TrailerSize);
  } catch (...) {
    return false;
  }
}

// ---- TEncryption ----

TEncryption::TEncryption(QByteArrayView password, int aMode, std::uint32_t bufSize) : TCrypt(password, aMode, bufSize)
{
}

bool TEncryption::WriteHeader(IWriteStream& sDest)
{
  try {
    unsigned char header[16 + 2];
    const int saltSize = SaltSize();
    if (!crypto::RandomBytes(header, static_cast<std::size_t>(saltSize)) || !DeriveKeys(header))
      return false;
    std::memcpy(header + saltSize, PasswordCheck(), 2);
    return SUCCEEDED(sDest.Write(header, static_cast<std::uint32_t>(GetHeaderSize())));
  } catch (...) {
    return false;
  }
}

TOpResult TEncryption::EncryptStream(IReadStream& sSource, IWriteStream& sDest)
{
  try {
    if (!WriteHeader(sDest))
      return orError;
    std::uint32_t got = 0;
    do {
      if (!ReadFully(sSource, CBuffer.data(), CBufSize, got))
        return orError;
      if (got > 0 && (!EncryptBlock(CBuffer.data(), got) || FAILED(sDest.Write(CBuffer.data(), got))))
        return orError;
    } while (got == CBufSize);
    return WriteTrailer(sDest) ? orOk : orError;
  } catch (...) {
    return orError;
  }
}

TOpResult TEncryption::DecryptStream(IReadStream& sSource, IWriteStream* sDest, std::int64_t sLength)
{
  try {
    // Checked before reading, so that no byte beyond sLength is ever taken.
    if (sLength < GetHeaderSize() + TrailerSize)
      return orError;
    if (!ReadHeader(sSource))
      return orError;
    std::int64_t left = sLength - GetHeaderSize() - TrailerSize;
    while (left > 0) {
      const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(CBufSize, left));
      std::uint32_t got = 0;
      // A source that ends early is damaged, not a reason to wait for more.
      if (!ReadFully(sSource, CBuffer.data(), want, got) || got != want)
        return orError;
      if (!DecryptBlock(CBuffer.data(), got))
        return orError;
      if (sDest && FAILED(sDest->Write(CBuffer.data(), got)))
        return orError;
      left -= got;
    }
    return ReadTrailer(sSource) ? orOk : orError;
  } catch (...) {
    return orError;
  }
}

// ---- protected strings ----

namespace {

QByteArray Ascii85Encode(QByteArrayView bytes)
{
  QByteArray out;
  out.reserve(bytes.size() / 4 * 5 + 5);
  qsizetype i = 0;
  for (; i < bytes.size(); i += 4) {
    const qsizetype n = std::min<qsizetype>(4, bytes.size() - i);
    std::uint32_t value = 0;
    for (qsizetype j = 0; j < 4; ++j)
      value = (value << 8) | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    if (n == 4 && value == 0) {
      out.append('z');
      continue;
    }
    char digits[5];
    for (int j = 4; j >= 0; --j) {
      digits[j] = static_cast<char>('!' + value % 85);
      value /= 85;
    }
    out.append(digits, n + 1);
  }
  return out;
}

std::optional<QByteArray> Ascii85Decode(QByteArrayView text)
{
  QByteArray out;
  out.reserve(text.size() / 5 * 4 + 4);
  unsigned char group[5];
  int count = 0;
  const auto flush = [&](int digits) -> bool {
    // Pad a short group with the highest digit; it then yields digits - 1 bytes.
    for (int j = digits; j < 5; ++j)
      group[j] = 'u' - '!';
    std::uint64_t value = 0;
    for (int j = 0; j < 5; ++j)
      value = value * 85 + group[j];
    if (value > 0xFFFFFFFFu)
      return false;
    for (int j = 0; j < digits - 1; ++j)
      out.append(static_cast<char>((value >> (24 - 8 * j)) & 0xFF));
    return true;
  };
  for (const char c : text) {
    if (c == 'z' && count == 0) {
      out.append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u')
      return std::nullopt;
    group[count++] = static_cast<unsigned char>(c - '!');
    if (count == 5) {
      if (!flush(5))
        return std::nullopt;
      count = 0;
    }
  }
  if (count == 1 || (count > 1 && !flush(count)))
    return std::nullopt;
  return out;
}

int HexDigit(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

std::optional<QByteArray> HexDecode(QByteArrayView text)
{
  if (text.size() % 2 != 0)
    return std::nullopt;
  QByteArray out(text.size() / 2, Qt::Uninitialized);
  for (qsizetype i = 0; i < out.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    // A damaged pair would silently turn into another password.
    if (high < 0 || low < 0)
      return std::nullopt;
    out[i] = static_cast<char>(high * 16 + low);
  }
  return out;
}

[[noreturn]] void RaiseRandomFailure()
{
  throw EArdantoError(_("The system's random generator failed."));
}

} // namespace

QByteArray ProtectString(QByteArrayView key, QByteArrayView text, int len, bool hex)
{
  if (text.isEmpty())
    return {};
  len = std::clamp(len, 1, kMaxProtectedLength);
  const QByteArrayView kept = text.first(std::min<qsizetype>(text.size(), len));
  const auto s = static_cast<int>(kept.size());

  QByteArray plain;
  plain.reserve(len + 2);
  if (s < 223) {
    plain.append(static_cast<char>(s + 33));
  } else {
    plain.append(static_cast<char>((s >> 8) & 0x1F));
    plain.append(static_cast<char>(s & 0xFF));
  }
  plain.append(kept);
  const qsizetype padding = std::max(0, len - 1 - s);
  if (padding > 0) {
    QByteArray random(padding, Qt::Uninitialized);
    if (!crypto::RandomBytes(random.data(), static_cast<std::size_t>(padding))) {
      Wipe(plain);
      RaiseRandomFailure();
    }
    // 64 characters from "!" to "`": six random bits each, all equally likely.
    for (const char r : std::as_const(random))
      plain.append(static_cast<char>(0x21 + (static_cast<unsigned char>(r) & 0x3F)));
    Wipe(random);
  }

  QByteArray bytes;
  if (key.isEmpty()) {
    bytes = plain;
  } else {
    TEncryption encryption(key, 0, kProtectBufSize);
    TMemoryReadStream source(plain);
    TMemoryWriteStream dest;
    dest.Data().reserve(plain.size() + encryption.GetHeaderSize() + encryption.GetTrailerSize());
    const TOpResult result = encryption.EncryptStream(source, dest);
    Wipe(plain);
    if (result != orOk) // memory streams fail only when no salt could be drawn
      RaiseRandomFailure();
    bytes = std::move(dest.Data());
  }
  const QByteArray out = hex ? bytes.toHex().toUpper() : Ascii85Encode(bytes);
  Wipe(bytes);
  Wipe(plain);
  return out;
}

QByteArray UnprotectString(QByteArrayView key, QByteArrayView text, bool hex)
{
  if (text.isEmpty())
    return {};
  std::optional<QByteArray> decoded = hex ? HexDecode(text) : Ascii85Decode(text);
  if (!decoded)
    return {};
  QByteArray bytes = std::move(*decoded);
  if (!key.isEmpty()) {
    TEncryption encryption(key, 0, kProtectBufSize);
    TMemoryReadStream source(bytes);
    TMemoryWriteStream dest;
    dest.Data().reserve(bytes.size());
    const TOpResult result = encryption.DecryptStream(source, &dest, bytes.size());
    Wipe(bytes);
    if (result != orOk) {
      Wipe(dest.Data());
      return {};
    }
    bytes = std::move(dest.Data());
  }
  QByteArray result;
  if (!bytes.isEmpty()) {
    const auto first = static_cast<unsigned char>(bytes[0]);
    qsizetype length = -1;
    qsizetype start = 1;
    if (first <= 32) {
      if (bytes.size() >= 2) {
        length = first * 256 + static_cast<unsigned char>(bytes[1]);
        start = 2;
      }
    } else {
      length = first - 33;
    }
    // A length beyond the bytes there are means damage, not a shorter text.
    if (length >= 0 && length <= bytes.size() - start)
      result = bytes.mid(start, length);
  }
  Wipe(bytes);
  return result;
}

QByteArray BuiltInKey()
{
  static const char kDigits[] = "4ED5C91B92B68C9AC460D8CBFC868AB2D730C0753706DF2F";
  constexpr unsigned char kMask = 0xA5;
  unsigned char b[24];
  for (int i = 0; i < 24; ++i)
    b[i] = static_cast<unsigned char>((HexDigit(kDigits[2 * i]) << 4 | HexDigit(kDigits[2 * i + 1])) ^ kMask);
  unsigned char values[12];
  for (int i = 0; i < 12; ++i) {
    const unsigned char lo = b[2 * i];
    const unsigned char hi = b[2 * i + 1];
    values[i] = (i % 2 == 0) ? static_cast<unsigned char>((lo & 0x0F) + ((hi & 0x0F) << 4))
                             : static_cast<unsigned char>((lo & 0xF0) + ((hi & 0xF0) >> 4));
  }
  const int n = std::min<int>(values[0], 11);
  QByteArray key(reinterpret_cast<const char*>(values + 1), n);
  crypto::SecureZero(b, sizeof b);
  crypto::SecureZero(values, sizeof values);
  return key;
}

} // namespace ardanto
