#pragma once

// Read streams for copy-engine tests: a file on disk, bytes in memory (with
// short reads, a failure in the middle or an early end on request), data
// generated on the fly for sizes no test should keep on disk, and a stream
// that throws.

#include "common/FileData.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace ardanto::test {

// Reads a file from disk, as the folder devices do.
class TFileSourceStream : public IReadStream, public IFileHandleStream {
public:
  explicit TFileSourceStream(const QString& fileName);
  ~TFileSourceStream() override;
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;
  int FileHandle() const override { return FHandle; }

private:
  int FHandle = -1;
};

// Delivers bytes from memory.
class TMemoryStream : public IReadStream {
public:
  // maxChunk > 0: no read delivers more than that, as device streams do.
  explicit TMemoryStream(QByteArray data, std::uint32_t maxChunk = 0);
  // The first read that would go past offset fails with status.
  void FailAfter(std::uint64_t offset, HRESULT status);
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;
  HRESULT Commit(std::uint32_t flags) override;

  std::uint32_t LargestRequest() const { return FLargestRequest; }
  int Commits() const { return FCommits; }

private:
  QByteArray FData;
  std::uint32_t FMaxChunk;
  std::uint64_t FPosition = 0;
  std::uint64_t FFailOffset = UINT64_MAX;
  HRESULT FFailStatus = S_OK;
  std::atomic<std::uint32_t> FLargestRequest{0};
  std::atomic<int> FCommits{0};
};

// size bytes made up on the fly: a pseudo-random 4 KiB block repeated, each
// MiB stamped with its number so that misplaced data changes the CRC.
// Compresses quickly and well.
class TGeneratedStream : public IReadStream {
public:
  TGeneratedStream(std::uint64_t size, std::uint32_t seed);
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;

private:
  std::array<unsigned char, 4096> FBlock{};
  std::uint64_t FSize;
  std::uint64_t FPosition = 0;
};

// Throws from Read, as a faulty driver might.
class TThrowingStream : public IReadStream {
public:
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;
};

// A source record as the device layer fills it.
TFileData MakeFileData(const QString& fileName, std::shared_ptr<IReadStream> stream, std::int64_t size,
                       std::uint32_t bufferSize = 64 * 1024);

} // namespace ardanto::test
