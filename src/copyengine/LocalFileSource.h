#pragma once

// A file of the local file system as the source of a copy job. Reads go
// through its descriptor, so the copy engine copies inside the kernel where
// source and destination allow it.

#include "common/FileData.h"

#include <QString>

namespace ardanto {

class TLocalFileStream : public IReadStream, public IFileHandleStream {
public:
  // Takes over the descriptor.
  explicit TLocalFileStream(int handle) : FHandle(handle) {}
  ~TLocalFileStream() override;
  TLocalFileStream(const TLocalFileStream&) = delete;
  TLocalFileStream& operator=(const TLocalFileStream&) = delete;

  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;
  int FileHandle() const override { return FHandle; }

private:
  int FHandle;
};

// Opens fileName for reading and describes the open file in data: name,
// path, size, time stamps, mode and attributes, all taken from the file that
// was opened, so they belong to the bytes the job will read. A final symbolic
// link is refused (ELOOP) unless followLink. Returns 0 or errno; a name that
// is no regular file gives EINVAL.
int OpenLocalFileSource(const QString& fileName, TFileData& data, bool followLink = false);

} // namespace ardanto
