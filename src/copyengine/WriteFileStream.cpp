#include "copyengine/WriteFileStream.h"

#include "common/Translate.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ardanto {

namespace {

// Longest part of the destination's name that goes into the temporary name,
// so that the temporary name stays within the 255-byte limit of a name.
constexpr qsizetype kMaxTempBase = 200;

QByteArray TempBase(const QByteArray& base)
{
  if (base.size() <= kMaxTempBase)
    return base;
  qsizetype cut = kMaxTempBase;
  // Never split a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80)
    --cut;
  return base.left(cut);
}

QByteArray RandomSuffix()
{
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  QByteArray suffix(8, Qt::Uninitialized);
  for (char& c : suffix)
    c = kChars[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kChars - 1))];
  return suffix;
}

} // namespace

QString CopySystemErrorText(int error)
{
  return FormatText(_("System error: %s"), {SystemErrorText(error)});
}

TWriteFileStream::TWriteFileStream(const QString& fileName, bool overwrite, std::uint32_t writeMode, mode_t mode)
  : FFileName(fileName), FNative(QFile::encodeName(fileName)), FOverwrite(overwrite)
{
  if (FNative.isEmpty() || FNative.endsWith('/'))
    Fail(FNative.isEmpty() ? ENOENT : EISDIR);
  struct stat st {};
  if (::lstat(FNative.constData(), &st) == 0) {
    if (S_ISDIR(st.st_mode))
      Fail(EISDIR);
    if (!overwrite)
      Fail(EEXIST);
  }

  const qsizetype slash = FNative.lastIndexOf('/');
  const QByteArray dir = FNative.left(slash + 1);
  const QByteArray base = TempBase(FNative.mid(slash + 1));
  int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  if (writeMode & wmWriteThrough)
    flags |= O_DSYNC;
  for (int attempt = 0; attempt < 100; ++attempt) {
    FTempName = dir + '.' + base + '.' + RandomSuffix();
    do {
      FHandle = ::open(FTempName.constData(), flags, mode & 0777);
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle >= 0 || errno != EEXIST)
      break;
  }
  if (FHandle < 0) {
    const int error = errno;
    FTempName.clear();
    Fail(error);
  }
  if (writeMode & wmSequential)
    ::posix_fadvise(FHandle, 0, 0, POSIX_FADV_SEQUENTIAL);
}

TWriteFileStream::~TWriteFileStream()
{
  Discard();
}

void TWriteFileStream::Fail(int error) const
{
  throw EWriteFileStreamError(CopySystemErrorText(error), error);
}

void TWriteFileStream::Write(const void* buffer, std::size_t count)
{
  if (FHandle < 0)
    Fail(EBADF);
  const auto* data = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(FHandle, data, count);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      Fail(errno);
    }
    // A device that accepts nothing and reports no error is full.
    if (n == 0)
      Fail(ENOSPC);
    data += n;
    count -= static_cast<std::size_t>(n);
  }
}

std::int64_t TWriteFileStream::Seek(std::int64_t offset, int whence)
{
  if (FHandle < 0)
    Fail(EBADF);
  const off_t position = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (position < 0)
    Fail(errno);
  return position;
}

void TWriteFileStream::Commit()
{
  if (FHandle < 0 || FTempName.isEmpty())
    Fail(EBADF);
  // close() is where a network or quota-limited file system reports the
  // last write errors.
  const int closed = ::close(FHandle);
  FHandle = -1;
  if (closed != 0 && errno != EINTR) {
    const int error = errno;
    Discard();
    Fail(error);
  }

  int result = 0;
  if (FOverwrite) {
    result = ::rename(FTempName.constData(), FNative.constData());
  } else {
    // The name may have been taken while the data were written: never
    // replace what someone else created meanwhile.
    result = ::renameat2(AT_FDCWD, FTempName.constData(), AT_FDCWD, FNative.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // The file system cannot rename exclusively: a hard link can.
      result = ::link(FTempName.constData(), FNative.constData());
      if (result == 0) {
        ::unlink(FTempName.constData());
        FTempName.clear();
        return;
      }
      if (errno == EPERM || errno == ENOTSUP) {
        struct stat st {};
        if (::lstat(FNative.constData(), &st) == 0) {
          errno = EEXIST;
          result = -1;
        } else {
          result = ::rename(FTempName.constData(), FNative.constData());
        }
      }
    }
  }
  if (result != 0) {
    const int error = errno;
    Discard();
    Fail(error);
  }
  FTempName.clear();
}

void TWriteFileStream::Discard() noexcept
{
  if (FHandle >= 0) {
    ::close(FHandle);
    FHandle = -1;
  }
  if (!FTempName.isEmpty()) {
    ::unlink(FTempName.constData());
    FTempName.clear();
  }
}

} // namespace ardanto
