#include "support/CopyTestStreams.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace ardanto::test {

TFileSourceStream::TFileSourceStream(const QString& fileName)
{
  FHandle = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
  if (FHandle < 0)
    throw std::runtime_error("cannot open " + fileName.toStdString());
}

TFileSourceStream::~TFileSourceStream()
{
  ::close(FHandle);
}

HRESULT TFileSourceStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  *bytesRead = 0;
  ssize_t n;
  do {
    n = ::read(FHandle, buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return HResultFromErrno(errno);
  *bytesRead = static_cast<std::uint32_t>(n);
  return S_OK;
}

TMemoryStream::TMemoryStream(QByteArray data, std::uint32_t maxChunk) : FData(std::move(data)), FMaxChunk(maxChunk)
{
}

void TMemoryStream::FailAfter(std::uint64_t offset, HRESULT status)
{
  FFailOffset = offset;
  FFailStatus = status;
}

HRESULT TMemoryStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  *bytesRead = 0;
  FLargestRequest = std::max(FLargestRequest.load(), count);
  std::uint64_t n = std::min<std::uint64_t>(count, static_cast<std::uint64_t>(FData.size()) - FPosition);
  if (FMaxChunk > 0)
    n = std::min<std::uint64_t>(n, FMaxChunk);
  if (n > 0 && FPosition + n > FFailOffset)
    return FFailStatus;
  std::memcpy(buffer, FData.constData() + FPosition, n);
  FPosition += n;
  *bytesRead = static_cast<std::uint32_t>(n);
  return S_OK;
}

HRESULT TMemoryStream::Commit(std::uint32_t)
{
  ++FCommits;
  return S_OK;
}

TGeneratedStream::TGeneratedStream(std::uint64_t size, std::uint32_t seed) : FSize(size)
{
  std::uint32_t x = seed * 2654435761u + 1;
  for (unsigned char& b : FBlock) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 24);
  }
}

HRESULT TGeneratedStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  const std::uint64_t n = std::min<std::uint64_t>(count, FSize - FPosition);
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint64_t done = 0;
  while (done < n) {
    const std::uint64_t at = (FPosition + done) % FBlock.size();
    const std::uint64_t piece = std::min<std::uint64_t>(FBlock.size() - at, n - done);
    std::memcpy(out + done, FBlock.data() + at, piece);
    done += piece;
  }
  // Stamp every MiB with its number (8 bytes, little-endian).
  constexpr std::uint64_t kMiB = 1 << 20;
  for (std::uint64_t mib = FPosition / kMiB; mib * kMiB < FPosition + n; ++mib) {
    for (std::uint64_t i = 0; i < 8; ++i) {
      const std::uint64_t at = mib * kMiB + i;
      if (at >= FPosition && at < FPosition + n)
        out[at - FPosition] = static_cast<unsigned char>(mib >> (8 * i));
    }
  }
  FPosition += n;
  *bytesRead = static_cast<std::uint32_t>(n);
  return S_OK;
}

HRESULT TThrowingStream::Read(void*, std::uint32_t, std::uint32_t* bytesRead)
{
  *bytesRead = 0;
  throw std::runtime_error("device driver fault");
}

TFileData MakeFileData(const QString& fileName, std::shared_ptr<IReadStream> stream, std::int64_t size,
                       std::uint32_t bufferSize)
{
  TFileData data;
  data.FileName = fileName;
  data.FullPath = u"Phone\\DCIM\\" + fileName;
  data.StreamData.FileStream = std::move(stream);
  data.StreamData.BufferSize = bufferSize;
  data.FileSize = size;
  data.FileAttr = FILE_ATTRIBUTE_ARCHIVE;
  data.TimeStamps.Valid = true;
  // 2023-06-15 10:20:30 UTC
  data.TimeStamps.LastWriteTime = (std::int64_t(1686824430) + 11644473600) * 10'000'000;
  data.TimeStamps.LastAccessTime = data.TimeStamps.LastWriteTime;
  data.TimeStamps.CreationTime = data.TimeStamps.LastWriteTime;
  return data;
}

} // namespace ardanto::test
