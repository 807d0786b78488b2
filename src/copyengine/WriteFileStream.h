#pragma once

// The destination of a copy job. Data goes to a hidden temporary file beside
// the destination; only Commit() puts it in place. A job that fails therefore
// never leaves a half-written file behind, and an older copy being replaced
// stays intact until the new one is complete.

#include "common/FileUtils.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <sys/types.h>

namespace ardanto {

// Extra open flags of the destination (TCopyThread::FWriteMode).
enum : std::uint32_t {
  wmSequential = 0x01,   // tell the kernel the file is written front to back
  wmWriteThrough = 0x02, // every write reaches the device before it returns
};

// "System error: " followed by the system's text for an errno value and its
// code, the form every system error of the copy engine takes.
QString CopySystemErrorText(int error);

class TWriteFileStream {
public:
  // Prepares writing fileName. Without overwrite an existing name (a file, a
  // directory, a link) fails with EEXIST; an existing directory always fails.
  // The file gets the permission bits of mode, less the umask. Raises
  // EWriteFileStreamError.
  TWriteFileStream(const QString& fileName, bool overwrite, std::uint32_t writeMode, mode_t mode = 0644);
  // Without a successful Commit() the temporary file is removed.
  ~TWriteFileStream();
  TWriteFileStream(const TWriteFileStream&) = delete;
  TWriteFileStream& operator=(const TWriteFileStream&) = delete;

  const QString& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

  // Writes all bytes; raises EWriteFileStreamError (ENOSPC when the device
  // takes no more).
  void Write(const void* buffer, std::size_t count);
  void Write(const QByteArray& bytes) { Write(bytes.constData(), static_cast<std::size_t>(bytes.size())); }
  // Returns the new position; raises EWriteFileStreamError.
  std::int64_t Seek(std::int64_t offset, int whence);
  std::int64_t Position() { return Seek(0, SEEK_CUR); }

  // Closes the file and moves it to the destination name (replacing an old
  // file only when overwriting was asked for). Raises EWriteFileStreamError.
  void Commit();
  // Closes and removes the temporary file, if still there. Never raises.
  void Discard() noexcept;

private:
  [[noreturn]] void Fail(int error) const;

  QString FFileName;
  QByteArray FNative;
  QByteArray FTempName;
  bool FOverwrite;
  int FHandle = -1;
};

} // namespace ardanto
