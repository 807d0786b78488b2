#pragma once

// The records that travel from the device layer to the copy engine.

#include "common/HResult.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace ardanto {

// Platform file time: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
using TFileTime = std::int64_t;

// Platform attribute bits as they appear in task files and records.
constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// A read stream handed out by a device. Shared between the device object that
// opened it and the copy thread that reads it; the last owner closes it.
class IReadStream {
public:
  virtual ~IReadStream() = default;
  // Reads up to count bytes. Zero bytes read with S_OK means the end.
  virtual HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) = 0;
  virtual HRESULT Commit(std::uint32_t /*flags*/) { return S_OK; }
};

// Implemented, besides IReadStream, by streams that read an open file: the
// copy engine then copies inside the kernel where it can.
class IFileHandleStream {
public:
  virtual ~IFileHandleStream() = default;
  // The descriptor that reads continue from; the stream keeps owning it.
  virtual int FileHandle() const = 0;
};

struct TFileStreamData {
  std::shared_ptr<IReadStream> FileStream;
  std::uint32_t BufferSize = 0; // transfer size the stream's owner recommends
};

struct TFileTimestamps {
  bool Valid = false;
  TFileTime CreationTime = 0;
  TFileTime LastAccessTime = 0;
  TFileTime LastWriteTime = 0;
};

struct TFileData {
  QString FileName; // without folder
  QString FullPath;
  TFileStreamData StreamData;
  std::int64_t FileSize = 0;
  std::uint32_t FileAttr = 0;
  TFileTimestamps TimeStamps;
  // The source's st_mode (type and permission bits) where the device knows
  // it; 0 = unknown. A copy gets the same permissions, within the umask.
  std::uint32_t PosixMode = 0;
};

} // namespace ardanto
