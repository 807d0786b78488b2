#include "common/AesPrimitives.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>

namespace ardanto::crypto {

void SecureZero(void* data, std::size_t size)
{
  if (data && size)
    OPENSSL_cleanse(data, size);
}

bool ConstantTimeEqual(const void* a, const void* b, std::size_t size)
{
  return CRYPTO_memcmp(a, b, size) == 0;
}

bool RandomBytes(void* buffer, std::size_t size)
{
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    if (RAND_bytes(out, chunk) != 1)
      return false;
    out += chunk;
    size -= static_cast<std::size_t>(chunk);
  }
  return true;
}

bool Pbkdf2HmacSha1(QByteArrayView password, QByteArrayView salt, int iterations, unsigned char* out,
                    std::size_t outLen)
{
  if (password.size() > INT_MAX || salt.size() > INT_MAX || outLen > INT_MAX || iterations < 1)
    return false;
  // OpenSSL wants a non-null pointer even for an empty password.
  static const char kEmpty[1] = {0};
  const char* pwd = password.isEmpty() ? kEmpty : password.data();
  const auto* saltBytes = reinterpret_cast<const unsigned char*>(salt.isEmpty() ? kEmpty : salt.data());
  return PKCS5_PBKDF2_HMAC_SHA1(pwd, static_cast<int>(password.size()), saltBytes, static_cast<int>(salt.size()),
                                iterations, static_cast<int>(outLen), out) == 1;
}

TAesEncryptor::TAesEncryptor() : FCtx(EVP_CIPHER_CTX_new())
{
}

TAesEncryptor::~TAesEncryptor()
{
  // Frees and cleanses the key schedule.
  EVP_CIPHER_CTX_free(FCtx);
}

bool TAesEncryptor::SetKey(const unsigned char* key, std::size_t keyLen)
{
  FKeyed = false;
  if (!FCtx)
    return false;
  const EVP_CIPHER* cipher = nullptr;
  switch (keyLen) {
  case 16:
    cipher = EVP_aes_128_ecb();
    break;
  case 24:
    cipher = EVP_aes_192_ecb();
    break;
  case 32:
    cipher = EVP_aes_256_ecb();
    break;
  default:
    return false;
  }
  if (EVP_EncryptInit_ex(FCtx, cipher, nullptr, key, nullptr) != 1)
    return false;
  EVP_CIPHER_CTX_set_padding(FCtx, 0);
  FKeyed = true;
  return true;
}

bool TAesEncryptor::EncryptBlocks(const unsigned char* in, unsigned char* out, std::size_t size)
{
  if (!FKeyed || size % BlockSize != 0)
    return false;
  while (size > 0) {
    // Keep each call well inside OpenSSL's int lengths.
    const std::size_t chunk = size > (std::size_t(1) << 30) ? (std::size_t(1) << 30) : size;
    int written = 0;
    if (EVP_EncryptUpdate(FCtx, out, &written, in, static_cast<int>(chunk)) != 1 || written != static_cast<int>(chunk))
      return false;
    in += chunk;
    out += chunk;
    size -= chunk;
  }
  return true;
}

THmacSha1::THmacSha1()
{
  FMac = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
  if (FMac)
    FCtx = EVP_MAC_CTX_new(FMac);
}

THmacSha1::~THmacSha1()
{
  EVP_MAC_CTX_free(FCtx);
  EVP_MAC_free(FMac);
}

bool THmacSha1::Init(const unsigned char* key, std::size_t keyLen)
{
  FStarted = false;
  if (!FCtx || !key || keyLen == 0)
    return false;
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (EVP_MAC_init(FCtx, key, keyLen, params) != 1)
    return false;
  FStarted = true;
  return true;
}

bool THmacSha1::Update(const unsigned char* data, std::size_t size)
{
  if (!FStarted)
    return false;
  return size == 0 || EVP_MAC_update(FCtx, data, size) == 1;
}

bool THmacSha1::Final(unsigned char* out)
{
  if (!FStarted)
    return false;
  FStarted = false;
  std::size_t written = 0;
  return EVP_MAC_final(FCtx, out, &written, DigestSize) == 1 && written == DigestSize;
}

} // namespace ardanto::crypto
