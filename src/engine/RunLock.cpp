#include "engine/RunLock.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

using namespace Qt::StringLiterals;

TRunLock::~TRunLock()
{
  Release();
}

QString TRunLock::LockFileName(const QString& taskFile)
{
  const QFileInfo info(taskFile);
  return ardanto::SetDirName(info.absolutePath()) + u'.' + info.fileName() + u".lock"_s;
}

TRunLock::TResult TRunLock::AcquireAt(const QString& lockFile, long& holder, int& error)
{
  const QByteArray name = QFile::encodeName(lockFile);
  // A run that ends removes its lock file while it still holds it; whoever
  // opened the old file in the meantime sees it is no longer the one by that
  // name and tries again.
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      error = errno;
      return lrFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int lockError = errno;
      char buffer[32] = {};
      const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
      holder = n > 0 ? std::strtol(buffer, nullptr, 10) : 0;
      ::close(fd);
      if (lockError == EWOULDBLOCK)
        return lrHeld;
      error = lockError;
      return lrFailed;
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino) {
      const QByteArray pid = QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n';
      if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.constData(), static_cast<std::size_t>(pid.size()), 0);
      FHandle = fd;
      FFileName = lockFile;
      return lrAcquired;
    }
    ::close(fd);
  }
  error = EAGAIN;
  return lrFailed;
}

TRunLock::TResult TRunLock::Acquire(const QString& taskFile, long& holder, QString& error)
{
  Release();
  holder = 0;
  int code = 0;
  TResult result = AcquireAt(LockFileName(taskFile), holder, code);
  if (result != lrFailed)
    return result;
  // A task in a folder we may not write to (shared, read-only) still gets
  // its lock, in the user's runtime folder, named after the task's path.
  QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.isEmpty() || !QFileInfo(runtime).isDir())
    runtime = QDir::tempPath();
  const QByteArray key = QFile::encodeName(QFileInfo(taskFile).absoluteFilePath());
  const QString fallback = ardanto::SetDirName(runtime) + u"ardanto-"_s +
                           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex()) +
                           u".lock"_s;
  int fallbackCode = 0;
  result = AcquireAt(fallback, holder, fallbackCode);
  if (result == lrFailed)
    error = ardanto::SystemErrorText(code);
  return result;
}

void TRunLock::Release()
{
  if (FHandle < 0)
    return;
  ::unlink(QFile::encodeName(FFileName).constData());
  ::close(FHandle);
  FHandle = -1;
  FFileName.clear();
}

} // namespace engine
