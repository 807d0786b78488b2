#pragma once

// A read stream over an open file descriptor: the stream of a local file
// (the engine's sources, the files of a folder posing as a device). The copy
// engine sees the descriptor and copies inside the kernel where it can.

#include "common/FileData.h"

namespace ardanto {

class TDescriptorReadStream : public IReadStream, public IFileHandleStream {
public:
  // How a failed read's errno becomes the stream's result.
  using TErrorMapping = HRESULT (*)(int error);

  // Takes over the descriptor.
  explicit TDescriptorReadStream(int handle, TErrorMapping mapping = HResultFromErrno)
    : FHandle(handle), FMapping(mapping)
  {
  }
  ~TDescriptorReadStream() override;
  TDescriptorReadStream(const TDescriptorReadStream&) = delete;
  TDescriptorReadStream& operator=(const TDescriptorReadStream&) = delete;

  // Fills the buffer unless the file ends first; interrupted reads go on.
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;
  int FileHandle() const override { return FHandle; }

private:
  int FHandle;
  TErrorMapping FMapping;
};

} // namespace ardanto
