#include "quillbox/ThunderbirdRunning.h"

#include "platform/Processes.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace quillbox {

using namespace Qt::StringLiterals;

namespace {

// The "lock" link holds "address:+pid" of the process that took it.
bool LockLinkHeld(const QByteArray& folder)
{
  char target[512];
  const ssize_t size = ::readlink(QByteArray(folder + "/lock").constData(), target, sizeof target - 1);
  if (size <= 0)
    return false;
  const QByteArray text(target, size);
  const qsizetype mark = text.lastIndexOf(":+");
  if (mark < 0)
    return false;
  bool numeric = false;
  const qlonglong pid = text.mid(mark + 2).toLongLong(&numeric);
  if (!numeric || pid <= 0 || pid > 0x3FFFFFFF)
    return false;
  // A process of another user is alive too, though we may not signal it.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool ParentLockHeld(const QByteArray& folder)
{
  // Read only: looking must neither create the file nor change its time.
  const int fd =
      ::open(QByteArray(folder + "/.parentlock").constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;
  const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

} // namespace

bool ProfileInUse(const QString& profileFolder)
{
  if (profileFolder.isEmpty())
    return false;
  const QByteArray folder = QFile::encodeName(profileFolder);
  return LockLinkHeld(folder) || ParentLockHeld(folder);
}

bool ThunderbirdRunning(const QStringList& profileFolders)
{
  using ardanto::platform::ProcessRunning;
  if (ProcessRunning(u"thunderbird"_s) || ProcessRunning(u"thunderbird-bin"_s))
    return true;
  for (const QString& folder : profileFolders) {
    if (ProfileInUse(folder))
      return true;
  }
  return false;
}

} // namespace quillbox
