#pragma once

// Thin owners of the OpenSSL primitives the AES stream format rests on: AES
// block encryption, HMAC-SHA-1, PBKDF2-HMAC-SHA-1 and random bytes. They keep
// OpenSSL's types out of our headers and free (and so wipe) what they hold.

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

struct evp_cipher_ctx_st;
struct evp_mac_st;
struct evp_mac_ctx_st;

namespace ardanto::crypto {

// Overwrites memory in a way the optimiser may not drop.
void SecureZero(void* data, std::size_t size);

// Compares two byte ranges in time that does not depend on where they differ.
bool ConstantTimeEqual(const void* a, const void* b, std::size_t size);

// Fills the buffer from OpenSSL's random generator. False when it cannot.
bool RandomBytes(void* buffer, std::size_t size);

// PBKDF2 with HMAC-SHA-1 (RFC 2898), outLen bytes into out.
bool Pbkdf2HmacSha1(QByteArrayView password, QByteArrayView salt, int iterations, unsigned char* out,
                    std::size_t outLen);

// AES encryption of whole 16-byte blocks, each on its own (the counter modes
// are built on top of it). Keys of 16, 24 or 32 bytes.
class TAesEncryptor {
public:
  static constexpr std::size_t BlockSize = 16;

  TAesEncryptor();
  ~TAesEncryptor();
  TAesEncryptor(const TAesEncryptor&) = delete;
  TAesEncryptor& operator=(const TAesEncryptor&) = delete;

  bool SetKey(const unsigned char* key, std::size_t keyLen);
  // size is a multiple of BlockSize; in and out may be the same buffer.
  bool EncryptBlocks(const unsigned char* in, unsigned char* out, std::size_t size);

private:
  evp_cipher_ctx_st* FCtx = nullptr;
  bool FKeyed = false;
};

// HMAC with SHA-1 (RFC 2104), fed in pieces.
class THmacSha1 {
public:
  static constexpr std::size_t DigestSize = 20;

  THmacSha1();
  ~THmacSha1();
  THmacSha1(const THmacSha1&) = delete;
  THmacSha1& operator=(const THmacSha1&) = delete;

  // Starts a new code with the key. The key must not be empty.
  bool Init(const unsigned char* key, std::size_t keyLen);
  bool Update(const unsigned char* data, std::size_t size);
  // Ends the code: DigestSize bytes into out. Init starts the next one.
  bool Final(unsigned char* out);

private:
  evp_mac_st* FMac = nullptr;
  evp_mac_ctx_st* FCtx = nullptr;
  bool FStarted = false;
};

} // namespace ardanto::crypto
