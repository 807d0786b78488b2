#pragma once

// File services: a stream over a file descriptor with explicit error codes,
// atomic replacement of whole files, copying with time stamps, time stamp
// conversions, size texts and error texts.

#include "common/DateTimeUtils.h"
#include "common/Errors.h"
#include "common/FileData.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <sys/types.h>

namespace ardanto {

// A file stream error with the system error code (errno).
class EExtFileStreamError : public EArdantoError {
public:
  EExtFileStreamError(QString message, int errorCode) : EArdantoError(std::move(message)), FErrorCode(errorCode) {}
  int ErrorCode() const noexcept { return FErrorCode; }

private:
  int FErrorCode;
};

// Raised by CopyFileWithTimestamp.
class ECopyError : public EExtFileStreamError {
public:
  using EExtFileStreamError::EExtFileStreamError;
};

// A file could not be written.
class EWriteFileStreamError : public EExtFileStreamError {
public:
  using EExtFileStreamError::EExtFileStreamError;
};

// Open modes of TExtFileStream: access in the low bits, sharing bits, and the
// create mode in the high byte.
enum : std::uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// A file stream over a POSIX file descriptor. Only the constructor raises;
// reads and writes report errno values.
class TExtFileStream {
public:
  // With fmCreate in the high byte the file is created (or truncated) with the
  // given permission bits; otherwise the existing file is opened.
  // Raises EExtFileStreamError "Cannot create file ..." / "Cannot open file ...".
  TExtFileStream(const QString& fileName, std::uint32_t mode, mode_t rights = 0666);
  ~TExtFileStream();
  TExtFileStream(const TExtFileStream&) = delete;
  TExtFileStream& operator=(const TExtFileStream&) = delete;

  const QString& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

  // Returns 0 or errno; count moved in readCount / writeCount. Read retries
  // interrupted and short reads until count bytes or the end of the file.
  int Read(void* buffer, std::size_t count, std::size_t& readCount);
  int Write(const void* buffer, std::size_t count, std::size_t& writeCount);
  // Returns the new position, or -1 (errno in LastError()).
  std::int64_t Seek(std::int64_t offset, int whence);
  std::int64_t Size() const;
  int Sync();
  int LastError() const { return FLastError; }

private:
  QString FFileName;
  int FHandle = -1;
  int FLastError = 0;
};

// Replaces fileName with data: writes a temporary file in the same folder,
// flushes it to the disk and renames it over the old file. A symbolic link is
// followed, so the file it points at is replaced. The old file's permissions
// stay; a new file gets newFileMode less the umask. Returns 0 or errno; on
// failure the old file is unchanged and no temporary file is left.
int WriteFileAtomically(const QString& fileName, QByteArrayView data, mode_t newFileMode = 0600);

// A hidden name in folder that no file has now: prefix, six random letters or
// digits, suffix (".pk-Ab3xZ9.part"). Nothing is created: whoever writes there
// creates it without replacing a file, so a name taken meanwhile fails that
// write instead of overwriting. (Creating and deleting a file per copy to
// reserve its name cost more than the copy: ext4 searches past recently
// deleted inodes for every new file.) Empty with error set when the folder
// cannot be looked into or no free name turned up.
QString FreeTempName(const QString& folder, QByteArrayView prefix, QByteArrayView suffix, int& error);

// Reads a whole file. Raises EExtFileStreamError with the system's reason.
QByteArray ReadWholeFile(const QString& fileName, std::int64_t maxSize = std::int64_t(256) << 20);

// Copies one file with its last-write time and attributes (attributes < 0:
// the source's own). The copy goes to a temporary name and replaces the
// destination only when complete. Raises ECopyError.
void CopyFileWithTimestamp(const QString& source, const QString& destination, int attributes, std::size_t bufferSize);

// Sets the time stamps of a file. Creation time cannot be set on Linux and is
// left alone; with allThree the last-access time is set too. Returns errno.
int SetFileTimestamps(const QString& fileName, const TFileTimestamps& stamps, bool check, bool followLink,
                      bool allThree);
// Sets only the last-write time (utc). Returns errno.
int SetFileWriteTime(const QString& fileName, TDateTime utc);
// Last-write time (UTC) of the file a name leads to; 0 when it cannot be read.
TDateTime GetFileWriteTime(const QString& fileName);
// Time stamps of a file from its status (creation where the kernel knows it).
bool GetFileTimestamps(const QString& fileName, TFileTimestamps& stamps);
// Marks the record valid and fills it from local date-times.
void TimestampsFromDates(TFileTimestamps& stamps, TDateTime lastWrite, TDateTime creation);

std::int64_t FileTimeToUnix(TFileTime ft);
// MS-DOS date (high word) and time (low word) in local time; 0xFFFFFFFF when
// the time cannot be expressed.
std::uint32_t FileTimeToDosTime(TFileTime ft);

// Attributes in the platform bits: read-only when the owner cannot write,
// directory, else archive.
std::uint32_t GetFileAttr(const QString& fileName);
// Read-only clears the write permission bits, anything else restores the
// owner's; hidden and system have no counterpart and are ignored. Returns errno.
int SetFileAttr(const QString& fileName, std::uint32_t attributes);

// The full path a symbolic link points to; false for a name that is no link
// or whose target does not exist.
bool GetLinkTarget(const QString& name, QString& target);

QString FormatFileSize(bool decimalUnits, bool trim, QChar decimalSeparator, std::int64_t size);
bool ParseFileSize(const QString& text, QChar decimalSeparator, std::int64_t& size);
// Orders two size texts by their sizes; a text that cannot be read counts 0.
int CompareFileSizeTexts(const QString& a, const QString& b, QChar decimalSeparator = QChar());

// strerror text of code followed by " (0x%.8x)".
QString SystemErrorText(int code);

// printf-style formatting of the suite's message patterns: %s %d %u %x %X %f
// %n (with thousands separators) %e %g %%, with "-", width, ".precision" and
// "index:". Raises EArdantoError when the arguments do not fit.
QString FormatText(const QString& pattern, const QVariantList& args);
// As FormatText, but gives "Format error: " + pattern instead of raising.
QString SafeFormat(const QString& pattern, const QVariantList& args);

// A count in a pattern such as "%u files copied": counts above 9999 get the
// locale's thousands separators.
QString FormatCount(const QString& pattern, std::int64_t count);

} // namespace ardanto
