// Encrypts or decrypts a file in the zip AES format from file to file and
// prints the time and rate; bench/aes.sh compares the figures with OpenSSL's
// own command line.
//
//   aes_bench encrypt|decrypt <in> <out> <password> [key mode 1-3] [buffer bytes]

#include "common/AesLib.h"
#include "common/FileUtils.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace ardanto;

int main(int argc, char** argv)
{
  if (argc < 5 || (std::strcmp(argv[1], "encrypt") != 0 && std::strcmp(argv[1], "decrypt") != 0)) {
    std::fprintf(stderr, "usage: %s encrypt|decrypt <in> <out> <password> [mode 1-3] [buffer bytes]\n", argv[0]);
    return 2;
  }
  const bool encrypt = std::strcmp(argv[1], "encrypt") == 0;
  const int mode = argc > 5 ? std::atoi(argv[5]) : 3;
  const auto bufSize = static_cast<std::uint32_t>(argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 262144);
  try {
    TExtFileStream in(QString::fromLocal8Bit(argv[2]), fmOpenRead);
    TExtFileStream out(QString::fromLocal8Bit(argv[3]), fmCreate, 0600);
    const std::int64_t size = in.Size();
    TFileReadStream source(in);
    TFileWriteStream dest(out);
    TEncryption encryption(QByteArrayView(argv[4]), mode, bufSize);

    const auto start = std::chrono::steady_clock::now();
    const TOpResult result =
        encrypt ? encryption.EncryptStream(source, dest) : encryption.DecryptStream(source, &dest, size);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != orOk) {
      std::fprintf(stderr, "%s failed\n", argv[1]);
      return 1;
    }
    std::printf("%s %lld bytes in %.3f s: %.0f MB/s\n", argv[1], static_cast<long long>(size), seconds,
                static_cast<double>(size) / seconds / 1e6);
    return 0;
  } catch (const EArdantoError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
