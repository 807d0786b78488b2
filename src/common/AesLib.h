#pragma once

// Password-based stream encryption in the zip format's AES form (WinZip
// AE-1/AE-2: PBKDF2-HMAC-SHA-1 key derivation with 1000 rounds, AES in a
// little-endian counter mode, a 10-byte HMAC-SHA-1 code), and the protected
// strings that keep passwords in settings and task files.
//
// Encrypted stream: salt (8, 12 or 16 bytes) | 2-byte password check |
// ciphertext, as long as the plaintext | 10-byte authentication code.
//
// Streams. The source is the suite's IReadStream (common/FileData.h), the same
// interface the device layer hands to the copy engine, so the engine can
// encrypt straight from a device or a file. The destination is IWriteStream
// below. Adapters for open TExtFileStream files and for memory come with it.
// A read that returns fewer bytes than asked for is not taken as the end: the
// routines read on until the count is reached or a read returns nothing.

#include "common/AesPrimitives.h"
#include "common/FileData.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace ardanto {

class TExtFileStream;

// Where encrypted or decrypted bytes go. Write stores all count bytes and
// returns S_OK, or returns a failure code; nothing in between.
class IWriteStream {
public:
  virtual ~IWriteStream() = default;
  virtual HRESULT Write(const void* buffer, std::uint32_t count) = 0;
};

// Reads from bytes the caller keeps alive for the stream's lifetime.
class TMemoryReadStream : public IReadStream {
public:
  explicit TMemoryReadStream(QByteArrayView data) : FData(data) {}
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;

private:
  QByteArrayView FData;
  qsizetype FPosition = 0;
};

// Collects what is written in memory.
class TMemoryWriteStream : public IWriteStream {
public:
  HRESULT Write(const void* buffer, std::uint32_t count) override;
  const QByteArray& Data() const { return FData; }
  QByteArray& Data() { return FData; }

private:
  QByteArray FData;
};

// Reads an open file from its current position; errors as 0x8007xxxx codes.
class TFileReadStream : public IReadStream {
public:
  explicit TFileReadStream(TExtFileStream& file) : FFile(file) {}
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;

private:
  TExtFileStream& FFile;
};

// Writes to an open file at its current position; errors as 0x8007xxxx codes.
class TFileWriteStream : public IWriteStream {
public:
  explicit TFileWriteStream(TExtFileStream& file) : FFile(file) {}
  HRESULT Write(const void* buffer, std::uint32_t count) override;

private:
  TExtFileStream& FFile;
};

enum TOpResult : int { orOk, orError };

// The keyed state of one encrypted stream and the reading side of the format.
// The password and every key byte are wiped when the object goes.
class TCrypt {
public:
  static constexpr int MaxPasswordLength = 128;
  static constexpr int TrailerSize = 10;

  // Keeps the first 128 bytes of the password. aMode 1, 2 or 3 selects
  // AES-128, -192 or -256; any other value picks the mode from the password
  // length (see SetKeyMode). bufSize 0 means 4096.
  TCrypt(QByteArrayView password, int aMode, std::uint32_t bufSize);
  virtual ~TCrypt();
  TCrypt(const TCrypt&) = delete;
  TCrypt& operator=(const TCrypt&) = delete;

  int KeyMode() const { return FMode; }
  // 1 to 3 select the mode. Another value clears FixedKey and chooses by the
  // password length: below 32 bytes 1, below 48 bytes 2, else 3.
  void SetKeyMode(int mode);
  bool FixedKey() const { return FFixedKey; }

  int GetHeaderSize() const;
  int GetTrailerSize() const { return TrailerSize; }
  int SaltSize() const;
  int KeySize() const;

  // Reads salt and password check and derives the keys. False on a read
  // error, a short source or a wrong password.
  bool ReadHeader(IReadStream& sSource);
  // Encrypts in place and continues the authentication code. False (data left
  // as it was) when no header started a keyed state.
  bool EncryptBlock(void* buffer, std::uint32_t bLen);
  // Feeds the ciphertext to the authentication code, then decrypts in place.
  bool DecryptBlock(void* buffer, std::uint32_t bLen);
  // Writes the 10-byte code and ends the keyed state.
  bool WriteTrailer(IWriteStream& sDest);
  // Reads 10 bytes and compares them with the code; ends the keyed state.
  bool ReadTrailer(IReadStream& sSource);

protected:
  // Derives AES key, HMAC key and password check from the salt and starts a
  // new keyed state.
  bool DeriveKeys(const unsigned char* salt);
  const unsigned char* PasswordCheck() const { return FCryptCtx.PwdCheck; }
  static bool ReadFully(IReadStream& source, unsigned char* buffer, std::uint32_t count, std::uint32_t& got);

  int FMode = 1;
  bool FFixedKey = true;

  struct TCryptCtx {
    crypto::TAesEncryptor Aes;
    crypto::THmacSha1 Hmac;
    std::uint64_t Counter = 0;         // little-endian in bytes 0 to 7 of the counter block
    std::vector<unsigned char> Blocks; // counter blocks, then key stream of as many blocks
    std::vector<unsigned char> KeyStream;
    std::size_t KeyStreamPos = 0; // == KeyStreamLen: used up
    std::size_t KeyStreamLen = 0;
    unsigned char PwdCheck[2] = {0, 0};
    bool Keyed = false;
  } FCryptCtx;

  QByteArray FPwd;
  std::uint32_t CBufSize;
  std::vector<unsigned char> CBuffer;

private:
  bool ApplyKeyStream(unsigned char* data, std::size_t size);
  void RefillKeyStream(std::size_t wanted);
  void EndKeyedState();
};

// Adds the writing side: fresh random salts, whole streams.
class TEncryption : public TCrypt {
public:
  TEncryption(QByteArrayView password, int aMode, std::uint32_t bufSize);

  // Draws a new salt, derives the keys, writes salt and password check.
  bool WriteHeader(IWriteStream& sDest);

  // Header, the whole source encrypted, trailer. Never raises.
  TOpResult EncryptStream(IReadStream& sSource, IWriteStream& sDest);
  // sLength is the size of the whole encrypted stream (header, data, trailer)
  // from the source's current position; no more than that is read. Without a
  // destination the data are only checked. The plaintext goes out before the
  // code at the end is checked: on orError the caller discards what was
  // written. Never raises.
  TOpResult DecryptStream(IReadStream& sSource, IWriteStream* sDest, std::int64_t sLength);
};

// Protected strings: the text (8-bit, in the single-byte code page) is
// length-prefixed, padded with random characters to len - 1 characters,
// encrypted with key (unless it is empty) and written as Ascii85, or as
// uppercase hexadecimal with hex. A text longer than len is cut to len
// characters. len is kept within 1 to 8191, the longest length the prefix can
// hold. Raises EArdantoError only if the system's random generator fails.
QByteArray ProtectString(QByteArrayView key, QByteArrayView text, int len = 64, bool hex = false);

// The text back; an empty text for a wrong key or damaged input.
QByteArray UnprotectString(QByteArrayView key, QByteArrayView text, bool hex = false);

// The key every caller of the two routines above uses.
QByteArray BuiltInKey();

} // namespace ardanto
