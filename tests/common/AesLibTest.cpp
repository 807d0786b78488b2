#include "common/AesLib.h"
#include "common/AesPrimitives.h"
#include "common/FileUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray Hex(const char* digits)
{
  return QByteArray::fromHex(digits);
}

QByteArray Bytes(const unsigned char* data, std::size_t size)
{
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

QByteArray RandomData(qsizetype size, quint32 seed)
{
  QRandomGenerator random(seed);
  QByteArray data(size, Qt::Uninitialized);
  for (char& c : data)
    c = static_cast<char>(random.generate() & 0xFF);
  return data;
}

QByteArray Encrypt(QByteArrayView password, int mode, QByteArrayView plain, std::uint32_t bufSize = 4096)
{
  TEncryption encryption(password, mode, bufSize);
  TMemoryReadStream source(plain);
  TMemoryWriteStream dest;
  EXPECT_EQ(encryption.EncryptStream(source, dest), orOk);
  return dest.Data();
}

// Decrypts a whole encrypted stream; nullopt on orError.
std::optional<QByteArray> Decrypt(QByteArrayView password, int mode, QByteArrayView encrypted,
                                  std::uint32_t bufSize = 4096)
{
  TEncryption encryption(password, mode, bufSize);
  TMemoryReadStream source(encrypted);
  TMemoryWriteStream dest;
  if (encryption.DecryptStream(source, &dest, encrypted.size()) != orOk)
    return std::nullopt;
  return dest.Data();
}

// A source that counts its reads, or fails after failAfter bytes.
class TTestSource : public IReadStream {
public:
  explicit TTestSource(QByteArray data, qsizetype failAfter = -1) : FData(std::move(data)), FFailAfter(failAfter) {}
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    ++Reads;
    *bytesRead = 0;
    if (FFailAfter >= 0 && Position >= FFailAfter)
      return HResultFromErrno(EIO);
    const qsizetype n = std::min<qsizetype>(count, FData.size() - Position);
    std::memcpy(buffer, FData.constData() + Position, static_cast<std::size_t>(n));
    Position += n;
    *bytesRead = static_cast<std::uint32_t>(n);
    return S_OK;
  }
  int Reads = 0;
  qsizetype Position = 0;

private:
  QByteArray FData;
  qsizetype FFailAfter;
};

// A destination that refuses every write after the first failAfter bytes.
class TFailingDest : public IWriteStream {
public:
  explicit TFailingDest(qsizetype failAfter) : FFailAfter(failAfter) {}
  HRESULT Write(const void*, std::uint32_t count) override
  {
    if (FWritten + count > FFailAfter)
      return HResultFromErrno(ENOSPC);
    FWritten += count;
    return S_OK;
  }

private:
  qsizetype FFailAfter;
  qsizetype FWritten = 0;
};

void AppendLE(QByteArray& out, quint64 value, int size)
{
  for (int i = 0; i < size; ++i, value >>= 8)
    out.append(static_cast<char>(value & 0xFF));
}

// A zip archive with one stored entry in WinZip's AES form (method 99, extra
// field 0x9901, AE-2 so the CRC is left 0), as WinZip and 7-Zip write it.
QByteArray BuildAesZip(const QByteArray& name, const QByteArray& encrypted, quint64 plainSize, int keyMode)
{
  QByteArray extra;
  AppendLE(extra, 0x9901, 2);
  AppendLE(extra, 7, 2);
  AppendLE(extra, 2, 2); // AE-2
  extra.append("AE");
  AppendLE(extra, static_cast<quint64>(keyMode), 1);
  AppendLE(extra, 0, 2); // stored

  const auto common = [&](QByteArray& out) {
    AppendLE(out, 51, 2);     // version needed: AES
    AppendLE(out, 0x0001, 2); // encrypted
    AppendLE(out, 99, 2);     // AES
    AppendLE(out, 0x6000, 2); // 12:00:00
    AppendLE(out, 0x5A21, 2); // 2025-01-01
    AppendLE(out, 0, 4);      // CRC: not used by AE-2
    AppendLE(out, static_cast<quint64>(encrypted.size()), 4);
    AppendLE(out, plainSize, 4);
    AppendLE(out, static_cast<quint64>(name.size()), 2);
    AppendLE(out, static_cast<quint64>(extra.size()), 2);
  };
  QByteArray zip;
  AppendLE(zip, 0x04034b50, 4);
  common(zip);
  zip.append(name).append(extra).append(encrypted);

  const auto centralOffset = static_cast<quint64>(zip.size());
  QByteArray central;
  AppendLE(central, 0x02014b50, 4);
  AppendLE(central, 0x033F, 2); // made by: Unix, 6.3
  common(central);
  AppendLE(central, 0, 2); // comment
  AppendLE(central, 0, 2); // disk
  AppendLE(central, 0, 2); // internal attributes
  AppendLE(central, 0100644u << 16, 4);
  AppendLE(central, 0, 4); // local header offset
  central.append(name).append(extra);
  zip.append(central);

  AppendLE(zip, 0x06054b50, 4);
  AppendLE(zip, 0, 4);
  AppendLE(zip, 1, 2);
  AppendLE(zip, 1, 2);
  AppendLE(zip, static_cast<quint64>(central.size()), 4);
  AppendLE(zip, centralOffset, 4);
  AppendLE(zip, 0, 2);
  return zip;
}

} // namespace

// ---- the primitives, against published vectors ----

TEST(AesPrimitivesTest, Pbkdf2HmacSha1MatchesRfc6070)
{
  struct Case {
    QByteArray Password, Salt;
    int Iterations;
    QByteArray Expected;
  };
  const Case cases[] = {
      {"password", "salt", 1, Hex("0c60c80f961f0e71f3a9b524af6012062fe037a6")},
      {"password", "salt", 2, Hex("ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957")},
      {"password", "salt", 4096, Hex("4b007901b765489abead49d926f721d065a429c1")},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
       Hex("3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038")},
      {QByteArray("pass\0word", 9), QByteArray("sa\0lt", 5), 4096, Hex("56fa6aa75548099dcc37d7f03425e0c3")},
  };
  for (const Case& c : cases) {
    unsigned char out[32];
    ASSERT_TRUE(crypto::Pbkdf2HmacSha1(c.Password, c.Salt, c.Iterations, out, c.Expected.size()));
    EXPECT_EQ(Bytes(out, c.Expected.size()).toHex(), c.Expected.toHex()) << c.Password.constData();
  }
}

TEST(AesPrimitivesTest, HmacSha1MatchesRfc2202InOneOrManyPieces)
{
  QByteArray key4;
  for (int i = 1; i <= 25; ++i)
    key4.append(static_cast<char>(i));
  struct Case {
    QByteArray Key, Data, Expected;
  };
  const Case cases[] = {
      {QByteArray(20, '\x0b'), "Hi There", Hex("b617318655057264e28bc0b6fb378c8ef146be00")},
      {"Jefe", "what do ya want for nothing?", Hex("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79")},
      {QByteArray(20, '\xaa'), QByteArray(50, '\xdd'), Hex("125d7342b9ac11cd91a39af48aa17b4f63f175d3")},
      {key4, QByteArray(50, '\xcd'), Hex("4c9007f4026250c6bc8414f9bf50c86c2d7235da")},
      {QByteArray(20, '\x0c'), "Test With Truncation", Hex("4c1a03424b55e07fe7f27be1d58bb9324a9a5a04")},
      {QByteArray(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       Hex("aa4ae5e15272d00e95705637ce8a3b55ed402112")},
      {QByteArray(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       Hex("e8e99d0f45237d786d6bbaa7965c7808bbff1a91")},
  };
  crypto::THmacSha1 hmac; // one object for all: Init must start afresh
  for (const Case& c : cases) {
    for (const qsizetype piece : {c.Data.size(), qsizetype(1), qsizetype(7)}) {
      ASSERT_TRUE(hmac.Init(reinterpret_cast<const unsigned char*>(c.Key.constData()), c.Key.size()));
      for (qsizetype i = 0; i < c.Data.size(); i += piece) {
        const qsizetype n = std::min(piece, c.Data.size() - i);
        ASSERT_TRUE(hmac.Update(reinterpret_cast<const unsigned char*>(c.Data.constData() + i), n));
      }
      unsigned char out[crypto::THmacSha1::DigestSize];
      ASSERT_TRUE(hmac.Final(out));
      EXPECT_EQ(Bytes(out, sizeof out).toHex(), c.Expected.toHex()) << c.Data.constData() << " piece " << piece;
    }
  }
}

TEST(AesPrimitivesTest, AesMatchesFips197)
{
  const QByteArray plain = Hex("00112233445566778899aabbccddeeff");
  const struct {
    QByteArray Key, Expected;
  } cases[] = {
      {Hex("000102030405060708090a0b0c0d0e0f"), Hex("69c4e0d86a7b0430d8cdb78070b4c55a")},
      {Hex("000102030405060708090a0b0c0d0e0f1011121314151617"), Hex("dda97ca4864cdfe06eaf70a0ec0d7191")},
      {Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
       Hex("8ea2b7ca516745bfeafc49904b496089")},
  };
  for (const auto& c : cases) {
    crypto::TAesEncryptor aes;
    ASSERT_TRUE(aes.SetKey(reinterpret_cast<const unsigned char*>(c.Key.constData()), c.Key.size()));
    // Two blocks in one call, in place: each block is encrypted on its own.
    QByteArray buffer = plain + plain;
    auto* data = reinterpret_cast<unsigned char*>(buffer.data());
    ASSERT_TRUE(aes.EncryptBlocks(data, data, buffer.size()));
    EXPECT_EQ(buffer.toHex(), QByteArray(c.Expected + c.Expected).toHex());
  }
  crypto::TAesEncryptor aes;
  const unsigned char shortKey[10] = {};
  EXPECT_FALSE(aes.SetKey(shortKey, sizeof shortKey));
}

// ---- encrypted streams ----

TEST(AesStreamTest, EmptyStreamIsSaltCheckAndCode)
{
  for (const int mode : {1, 2, 3}) {
    TEncryption encryption("secret", mode, 4096);
    EXPECT_EQ(encryption.GetHeaderSize(), 6 + 4 * mode);
    EXPECT_EQ(encryption.GetTrailerSize(), 10);
    const QByteArray encrypted = Encrypt("secret", mode, {});
    EXPECT_EQ(encrypted.size(), 16 + 4 * mode) << "mode " << mode;
    TMemoryReadStream source(encrypted);
    EXPECT_EQ(encryption.DecryptStream(source, nullptr, encrypted.size()), orOk);
  }
}

TEST(AesStreamTest, StreamOfExactlyOneBufferIsReadTwiceAndFramedOnce)
{
  const QByteArray plain = RandomData(4096, 1);
  TEncryption encryption("pw", 3, 4096);
  TTestSource source(plain);
  TMemoryWriteStream dest;
  ASSERT_EQ(encryption.EncryptStream(source, dest), orOk);
  EXPECT_EQ(source.Reads, 2);
  EXPECT_EQ(dest.Data().size(), 18 + 4096 + 10);
  EXPECT_EQ(Decrypt("pw", 3, dest.Data()), plain);
}

TEST(AesStreamTest, KeyModeComesFromTheCallerOrThePasswordLength)
{
  struct Case {
    int PasswordLength, Mode, ExpectedMode;
  };
  const Case cases[] = {
      {40, 0, 2}, {31, 0, 1}, {32, 0, 2}, {47, 0, 2}, {48, 0, 3}, {200, 7, 3}, {0, -1, 1}, {60, 1, 1}, {5, 3, 3},
  };
  for (const Case& c : cases) {
    TEncryption encryption(QByteArray(c.PasswordLength, 'p'), c.Mode, 4096);
    EXPECT_EQ(encryption.KeyMode(), c.ExpectedMode) << c.PasswordLength << "/" << c.Mode;
    // Chosen at creation, the mode counts as fixed.
    EXPECT_TRUE(encryption.FixedKey());
  }
  TEncryption encryption(QByteArray(40, 'p'), 3, 4096);
  encryption.SetKeyMode(0);
  EXPECT_EQ(encryption.KeyMode(), 2);
  EXPECT_FALSE(encryption.FixedKey());
  encryption.SetKeyMode(1);
  EXPECT_EQ(encryption.KeyMode(), 1);
}

TEST(AesStreamTest, PasswordBeyond128BytesIsCut)
{
  const QByteArray longPassword = RandomData(200, 2);
  const QByteArray plain = "the mail archive";
  const QByteArray encrypted = Encrypt(longPassword, 0, plain);
  EXPECT_EQ(Decrypt(longPassword.left(128), 0, encrypted), plain);
  EXPECT_EQ(Decrypt(longPassword.left(127), 0, encrypted), std::nullopt);
}

TEST(AesStreamTest, PiecesOfAnySizeContinueOneKeyStream)
{
  const QByteArray plain = RandomData(20000, 3);
  const int pieces[] = {1, 15, 16, 17, 4095, 4097, 333, 0, 5000};

  TEncryption writer("pieces", 2, 64);
  TMemoryWriteStream dest;
  ASSERT_TRUE(writer.WriteHeader(dest));
  QByteArray work = plain;
  for (qsizetype at = 0, i = 0; at < work.size(); ++i) {
    const qsizetype n = std::min<qsizetype>(pieces[i % std::size(pieces)], work.size() - at);
    ASSERT_TRUE(writer.EncryptBlock(work.data() + at, static_cast<std::uint32_t>(n)));
    at += n;
  }
  ASSERT_EQ(dest.Write(work.constData(), static_cast<std::uint32_t>(work.size())), S_OK);
  ASSERT_TRUE(writer.WriteTrailer(dest));
  const QByteArray encrypted = dest.Data();

  // Whole-buffer decryption agrees with the pieces, and so does piecewise decryption.
  EXPECT_EQ(Decrypt("pieces", 2, encrypted, 1 << 16), plain);
  TEncryption reader("pieces", 2, 64);
  TMemoryReadStream source(encrypted);
  ASSERT_TRUE(reader.ReadHeader(source));
  QByteArray body = encrypted.mid(reader.GetHeaderSize(), plain.size());
  for (qsizetype at = 0, i = 3; at < body.size(); ++i) {
    const qsizetype n = std::min<qsizetype>(pieces[i % std::size(pieces)], body.size() - at);
    ASSERT_TRUE(reader.DecryptBlock(body.data() + at, static_cast<std::uint32_t>(n)));
    at += n;
  }
  EXPECT_EQ(body, plain);
  TMemoryReadStream trailer(QByteArrayView(encrypted).last(10));
  EXPECT_TRUE(reader.ReadTrailer(trailer));

  // Without a header there is no key: nothing is touched.
  QByteArray untouched = "plain";
  EXPECT_FALSE(reader.EncryptBlock(untouched.data(), 5));
  EXPECT_EQ(untouched, "plain");
}

TEST(AesStreamTest, SaltIsFreshForEveryStream)
{
  const QByteArray a = Encrypt("pw", 1, "same text");
  const QByteArray b = Encrypt("pw", 1, "same text");
  EXPECT_NE(a.left(8), b.left(8));
  EXPECT_NE(a.mid(10, 9), b.mid(10, 9));
}

// 7-Zip reads our stream as the one entry of a WinZip AES archive: the format
// is the standard one, for every key size.
TEST(AesStreamTest, SevenZipExtractsOurStreamAndRefusesAWrongPassword)
{
  ASSERT_TRUE(HasProgram(u"7z"_s)) << "7z (p7zip-full) is needed";
  struct Case {
    int Mode;
    qsizetype Size;
    bool InPieces;
  };
  const Case cases[] = {{1, 70001, false}, {2, 0, false}, {3, 131072, false}, {3, 9999, true}};
  const QByteArray password = "Corr3ct horse!";
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.Mode << " size " << c.Size);
    const QByteArray plain = RandomData(c.Size, static_cast<quint32>(c.Size + c.Mode));
    const QString plainFile = dir.Write(u"plain.bin"_s, plain);
    const QString encryptedFile = dir.File(u"encrypted.bin"_s);
    QByteArray encrypted;
    if (!c.InPieces) {
      // From file to file, the way the engine uses it.
      TExtFileStream in(plainFile, fmOpenRead);
      TExtFileStream out(encryptedFile, fmCreate, 0600);
      TFileReadStream source(in);
      TFileWriteStream dest(out);
      TEncryption encryption(password, c.Mode, 4096);
      ASSERT_EQ(encryption.EncryptStream(source, dest), orOk);
      encrypted = ReadFile(encryptedFile);
    } else {
      TEncryption encryption(password, c.Mode, 4096);
      TMemoryWriteStream dest;
      ASSERT_TRUE(encryption.WriteHeader(dest));
      QByteArray work = plain;
      for (qsizetype at = 0, n = 1; at < work.size(); at += n, n = n * 3 % 1000 + 1) {
        n = std::min(n, work.size() - at);
        ASSERT_TRUE(encryption.EncryptBlock(work.data() + at, static_cast<std::uint32_t>(n)));
      }
      dest.Write(work.constData(), static_cast<std::uint32_t>(work.size()));
      ASSERT_TRUE(encryption.WriteTrailer(dest));
      encrypted = dest.Data();
    }
    ASSERT_EQ(encrypted.size(), plain.size() + 6 + 4 * c.Mode + 10);

    const QString zip =
        dir.Write(u"entry%1.zip"_s.arg(c.Mode), BuildAesZip("data.bin", encrypted, plain.size(), c.Mode));
    const QString good = dir.File(u"good%1/x"_s.arg(c.Size));
    const ProcessResult ok = ardanto::test::Run(
        u"7z"_s, {u"x"_s, u"-y"_s, u"-p"_s + QString::fromLatin1(password), u"-o"_s + QFileInfo(good).path(), zip});
    ASSERT_EQ(ok.ExitCode, 0) << ok.Output.constData();
    EXPECT_EQ(ReadFile(QFileInfo(good).path() + u"/data.bin"_s), plain);

    const QString bad = dir.File(u"bad%1/x"_s.arg(c.Size));
    const ProcessResult refused =
        ardanto::test::Run(u"7z"_s, {u"x"_s, u"-y"_s, u"-pCorr3ct horse?"_s, u"-o"_s + QFileInfo(bad).path(), zip});
    EXPECT_NE(refused.ExitCode, 0) << refused.Output.constData();
    const QString badFile = QFileInfo(bad).path() + u"/data.bin"_s;
    if (c.Size > 0 && QFile::exists(badFile)) {
      EXPECT_NE(ReadFile(badFile), plain);
    }
  }
}

TEST(AesStreamTest, DamagedOrShortStreamsEndInError)
{
  const QByteArray plain = RandomData(10000, 4);
  const QByteArray encrypted = Encrypt("pw", 1, plain, 1024);
  const qsizetype n = encrypted.size();
  QByteArray flippedData = encrypted;
  flippedData[5000] = static_cast<char>(flippedData[5000] ^ 1);
  QByteArray flippedCode = encrypted;
  flippedCode[n - 1] = static_cast<char>(flippedCode[n - 1] ^ 0x80);
  struct Case {
    const char* What;
    QByteArray Data;
    std::int64_t Length;
    QByteArray Password;
  };
  const Case cases[] = {
      {"source ends before the given length", encrypted.left(n - 100), n, "pw"},
      {"source ends inside the code", encrypted.left(n - 3), n, "pw"},
      {"source ends inside the header", encrypted.left(5), n, "pw"},
      {"length shorter than the stream", encrypted, n - 1, "pw"},
      {"length too short for header and code", encrypted, 19, "pw"},
      {"negative length", encrypted, -5, "pw"},
      {"changed data", flippedData, n, "pw"},
      {"changed code", flippedCode, n, "pw"},
      {"wrong password", encrypted, n, "pW"},
      {"empty source", {}, n, "pw"},
  };
  for (const Case& c : cases) {
    TEncryption encryption(c.Password, 0, 1024);
    TTestSource source(c.Data);
    TMemoryWriteStream dest;
    EXPECT_EQ(encryption.DecryptStream(source, &dest, c.Length), orError) << c.What;
    EXPECT_LE(source.Position, std::max<std::int64_t>(c.Length, 0)) << c.What << ": read beyond the length";
  }
  // The source's own stream goes on after the given length untouched.
  QByteArray followed = encrypted + "NEXT";
  TEncryption encryption("pw", 0, 1024);
  TTestSource source(followed);
  ASSERT_EQ(encryption.DecryptStream(source, nullptr, n), orOk);
  EXPECT_EQ(source.Position, n);
}

TEST(AesStreamTest, ReadAndWriteFailuresEndInError)
{
  const QByteArray plain = RandomData(10000, 5);
  const QByteArray encrypted = Encrypt("pw", 3, plain, 1024);
  {
    TEncryption encryption("pw", 3, 1024);
    TTestSource source(plain, 3000);
    TMemoryWriteStream dest;
    EXPECT_EQ(encryption.EncryptStream(source, dest), orError);
  }
  for (const qsizetype failAfter : {0, 18, 5000, 18 + 10000}) {
    TEncryption encryption("pw", 3, 1024);
    TMemoryReadStream source(plain);
    TFailingDest dest(failAfter);
    EXPECT_EQ(encryption.EncryptStream(source, dest), orError) << failAfter;
  }
  {
    TEncryption encryption("pw", 3, 1024);
    TTestSource source(encrypted, 5000);
    EXPECT_EQ(encryption.DecryptStream(source, nullptr, encrypted.size()), orError);
  }
  {
    TEncryption encryption("pw", 3, 1024);
    TMemoryReadStream source(encrypted);
    TFailingDest dest(4000);
    EXPECT_EQ(encryption.DecryptStream(source, &dest, encrypted.size()), orError);
  }
  // A real full disk.
  if (QFile::exists(u"/dev/full"_s)) {
    TExtFileStream full(u"/dev/full"_s, fmOpenWrite);
    TFileWriteStream dest(full);
    TEncryption encryption("pw", 1, 1024);
    TMemoryReadStream source(plain);
    EXPECT_EQ(encryption.EncryptStream(source, dest), orError);
  }
}

// ---- protected strings ----

TEST(ProtectStringTest, TenCharactersGiveFixedLengthsAndFreshTextsPerKeySize)
{
  const QByteArray text = "0123456789";
  struct Case {
    QByteArray Key;
    qsizetype Ascii85Length, HexLength;
  };
  const Case cases[] = {
      {BuiltInKey(), 105, 168},
      {QByteArray(32, 'k'), 110, 176},
      {QByteArray(48, 'k'), 115, 184},
  };
  for (const Case& c : cases) {
    const QByteArray first = ProtectString(c.Key, text);
    const QByteArray second = ProtectString(c.Key, text);
    EXPECT_EQ(first.size(), c.Ascii85Length);
    EXPECT_EQ(second.size(), c.Ascii85Length);
    EXPECT_NE(first, second);
    EXPECT_EQ(UnprotectString(c.Key, first), text);
    EXPECT_EQ(UnprotectString(c.Key, second), text);

    const QByteArray hex = ProtectString(c.Key, text, 64, true);
    EXPECT_EQ(hex.size(), c.HexLength);
    EXPECT_EQ(hex, hex.toUpper());
    EXPECT_EQ(UnprotectString(c.Key, hex, true), text);
    EXPECT_EQ(UnprotectString(c.Key, hex.toLower(), true), text);
  }
}

TEST(ProtectStringTest, LongTextsAreCutToTheLength)
{
  const QByteArray key = BuiltInKey();
  struct Case {
    qsizetype TextLength;
    int Len;
    qsizetype Kept;
  };
  const Case cases[] = {
      {1, 64, 1},      {63, 64, 63},    {64, 64, 64},    {65, 64, 64},       {100, 64, 64},
      {222, 300, 222}, {223, 300, 223}, {400, 300, 300}, {9000, 9000, 8191}, {5, 1, 1},
  };
  for (const Case& c : cases) {
    QByteArray text(c.TextLength, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
      text[i] = static_cast<char>(1 + i % 255); // every byte value but 0
    const QByteArray protectedText = ProtectString(key, text, c.Len);
    EXPECT_EQ(UnprotectString(key, protectedText), text.left(c.Kept)) << c.TextLength << "/" << c.Len;
    EXPECT_EQ(UnprotectString({}, ProtectString({}, text, c.Len)), text.left(c.Kept)) << "no key";
  }
  EXPECT_EQ(ProtectString(key, {}), QByteArray());
  EXPECT_EQ(UnprotectString(key, {}), QByteArray());
}

// Without a key the bytes are the length prefix and the text; values from
// Python's base64.a85encode.
TEST(ProtectStringTest, PlainFormsMatchAscii85AndHexadecimal)
{
  struct Case {
    QByteArray Text;
    int Len;
    bool Hex;
    QByteArray Expected;
  };
  const Case cases[] = {
      {"Man is d", 8, false, ".8=5g+DGm>A,"},
      {QByteArray("abc\0\0\0\0xy", 9), 9, false, ".UcdrzG^0"}, // zero group as "z", partial group
      {"abc", 4, false, ",[k.l"},
      {"abc", 4, true, "24616263"},
      {"\xff\x01", 2, true, "23FF01"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProtectString({}, c.Text, c.Len, c.Hex), c.Expected) << c.Expected.constData();
    EXPECT_EQ(UnprotectString({}, c.Expected, c.Hex), c.Text) << c.Expected.constData();
  }
}

// A password protected with the built-in key by a separate implementation of
// the format (Python's hashlib and hmac, AES from the openssl command line), as
// an older task file holds it.
TEST(ProtectStringTest, BuiltInKeyReadsAStoredPassword)
{
  const QByteArray key = BuiltInKey();
  EXPECT_FALSE(key.isEmpty());
  EXPECT_LE(key.size(), 11);
  EXPECT_EQ(BuiltInKey(), key);
  const QByteArray stored =
      R"(]/dPCZ=G*nE%s1&.%s/\KMA]$mHjehn$NG8;4(_X?1++m3d0?aKoE8cf3I-Ik\Qmi^pC2@aFA-!.6+H3`DjIP69oR"@G)$k0Y%sO42E=H)";
  EXPECT_EQ(UnprotectString(key, stored), QByteArray("Mail pa\xdfword"));
}

TEST(ProtectStringTest, DamagedTextsAndWrongKeysGiveEmptyText)
{
  const QByteArray key = BuiltInKey();
  const QByteArray good = ProtectString(key, "s3cret!");
  const QByteArray goodHex = ProtectString(key, "s3cret!", 64, true);
  ASSERT_EQ(UnprotectString(key, good), "s3cret!");
  QByteArray tampered = good;
  tampered[50] = tampered[50] == '!' ? '"' : '!';
  QByteArray tamperedHex = goodHex;
  tamperedHex[100] = tamperedHex[100] == '0' ? '1' : '0';

  struct Case {
    const char* What;
    QByteArray Key, Text;
    bool Hex;
  };
  const Case cases[] = {
      {"different key", "another key", good, false},
      {"different key, hex", "another key", goodHex, true},
      {"truncated", key, good.left(good.size() - 1), false},
      {"cut to a single character group", key, good.left(101), false},
      {"cut to the header", key, good.left(20), false},
      {"one character", key, "A", false},
      {"tampered", key, tampered, false},
      {"tampered, hex", key, tamperedHex, true},
      {"character beyond u", key, good.left(50) + "v" + good.mid(51), false},
      {"blank inside", key, good.left(50) + " " + good.mid(51), false},
      {"z inside a group", key, good.left(52) + "z" + good.mid(53), false},
      {"group above 32 bits", {}, "uuuuu", false},
      {"odd-length hex", key, goodHex.left(goodHex.size() - 1), true},
      {"non-hex pair", key, goodHex.left(10) + "G0" + goodHex.mid(12), true},
      {"non-hex pair, no key", {}, "2G61", true},
      {"prefix longer than the text, no key", {}, "2541", true}, // '%' says 4 bytes follow
      {"two-byte prefix without its second byte", {}, "01", true},
      {"two-byte prefix beyond the text", {}, "01FF41", true},
      {"Ascii85 text read as hex", key, good, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UnprotectString(c.Key, c.Text, c.Hex), QByteArray()) << c.What;
  // Every shorter cut, whether it ends inside a group or between groups.
  for (qsizetype n = 0; n < good.size(); ++n)
    EXPECT_EQ(UnprotectString(key, good.left(n)), QByteArray()) << "cut to " << n;
}
