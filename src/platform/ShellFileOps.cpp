#include "platform/ShellFileOps.h"

#include "common/PathUtils.h"
#include "platform/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ardanto::platform {

using namespace Qt::StringLiterals;

namespace {

QByteArray Native(const QString& name)
{
  return QFile::encodeName(name);
}

// One file descriptor that closes itself.
class TDescriptor {
public:
  explicit TDescriptor(int fd) : FFd(fd) {}
  ~TDescriptor()
  {
    if (FFd >= 0)
      ::close(FFd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return FFd; }
  int Close()
  {
    const int result = FFd >= 0 ? ::close(FFd) : 0;
    FFd = -1;
    return result < 0 ? errno : 0;
  }

private:
  int FFd;
};

// The names in a folder, without "." and "..". Returns errno.
int ListFolder(const QByteArray& folder, std::vector<QByteArray>& names)
{
  DIR* dir = ::opendir(folder.constData());
  if (!dir)
    return errno;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (name != "." && name != "..")
      names.push_back(name);
    errno = 0;
  }
  const int error = errno;
  ::closedir(dir);
  return error;
}

// Owners are kept where the system lets us (as root); elsewhere the copy
// belongs to the user who makes it, which is no failure.
void KeepOwner(const QByteArray& name, const struct stat& st)
{
  if (::geteuid() == 0)
    (void)::lchown(name.constData(), st.st_uid, st.st_gid);
}

int KeepTimes(const QByteArray& name, const struct stat& st)
{
  const timespec times[2] = {st.st_atim, st.st_mtim};
  return ::utimensat(AT_FDCWD, name.constData(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int CopyFileData(const QByteArray& from, const QByteArray& to, const struct stat& st)
{
  TDescriptor in(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (in.Get() < 0)
    return errno;
  TDescriptor out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.Get() < 0)
    return errno;
  std::vector<char> buffer(std::size_t(1) << 20);
  for (;;) {
    const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (got == 0)
      break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out.Get(), buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR)
          continue;
        return errno;
      }
      done += put;
    }
  }
  if (::geteuid() == 0)
    (void)::fchown(out.Get(), st.st_uid, st.st_gid);
  if (::fchmod(out.Get(), st.st_mode & 07777) != 0)
    return errno;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out.Get(), times) != 0)
    return errno;
  return out.Close();
}

// Copies one entry of any kind to a name that does not exist yet. Returns errno.
int CopyEntry(const QByteArray& from, const QByteArray& to)
{
  struct stat st {};
  if (::lstat(from.constData(), &st) != 0)
    return errno;
  switch (st.st_mode & S_IFMT) {
  case S_IFDIR: {
    if (::mkdir(to.constData(), 0700) != 0)
      return errno;
    std::vector<QByteArray> names;
    if (const int error = ListFolder(from, names))
      return error;
    for (const QByteArray& name : names) {
      if (const int error = CopyEntry(from + '/' + name, to + '/' + name))
        return error;
    }
    // Last, so that neither the entries made nor a read-only mode get in the way.
    KeepOwner(to, st);
    if (::chmod(to.constData(), st.st_mode & 07777) != 0)
      return errno;
    return KeepTimes(to, st);
  }
  case S_IFREG:
    return CopyFileData(from, to, st);
  case S_IFLNK: {
    QByteArray target(static_cast<qsizetype>(st.st_size) + 256, Qt::Uninitialized);
    const ssize_t size = ::readlink(from.constData(), target.data(), static_cast<std::size_t>(target.size()));
    if (size < 0)
      return errno;
    target.truncate(size);
    if (::symlink(target.constData(), to.constData()) != 0)
      return errno;
    KeepOwner(to, st);
    return KeepTimes(to, st);
  }
  default: // fifos, sockets and device nodes
    if (::mknod(to.constData(), st.st_mode, st.st_rdev) != 0)
      return errno;
    KeepOwner(to, st);
    return KeepTimes(to, st);
  }
}

// Whether copy holds what source holds: the same names, kinds, file sizes and
// link targets, all the way down.
bool SameTree(const QByteArray& source, const QByteArray& copy)
{
  struct stat a {};
  struct stat b {};
  if (::lstat(source.constData(), &a) != 0 || ::lstat(copy.constData(), &b) != 0)
    return false;
  if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
    return false;
  switch (a.st_mode & S_IFMT) {
  case S_IFREG:
    return a.st_size == b.st_size;
  case S_IFLNK: {
    char first[4096];
    char second[4096];
    const ssize_t n = ::readlink(source.constData(), first, sizeof first);
    const ssize_t m = ::readlink(copy.constData(), second, sizeof second);
    return n >= 0 && n == m && std::equal(first, first + n, second);
  }
  case S_IFDIR: {
    std::vector<QByteArray> names;
    std::vector<QByteArray> copied;
    if (ListFolder(source, names) != 0 || ListFolder(copy, copied) != 0 || names.size() != copied.size())
      return false;
    for (const QByteArray& name : names) {
      if (!SameTree(source + '/' + name, copy + '/' + name))
        return false;
    }
    return true;
  }
  default:
    return true;
  }
}

// Removes a tree without following links. Returns errno of the first failure.
int RemoveTree(const QByteArray& name)
{
  struct stat st {};
  if (::lstat(name.constData(), &st) != 0)
    return errno == ENOENT ? 0 : errno;
  if (!S_ISDIR(st.st_mode))
    return ::unlink(name.constData()) == 0 ? 0 : errno;
  // A folder without write permission cannot lose its entries.
  if ((st.st_mode & S_IRWXU) != S_IRWXU)
    (void)::chmod(name.constData(), st.st_mode | S_IRWXU);
  std::vector<QByteArray> names;
  int error = ListFolder(name, names);
  for (const QByteArray& entry : names) {
    if (const int failed = RemoveTree(name + '/' + entry); failed && !error)
      error = failed;
  }
  if (::rmdir(name.constData()) != 0 && !error)
    error = errno;
  return error;
}

// Whether every folder of the tree, and the one holding it, lets us remove
// its entries: checked before copying, so that a move never ends half done.
int CheckRemovable(const QByteArray& name, bool top)
{
  if (top) {
    const QByteArray parent = Native(QFileInfo(QFile::decodeName(name)).path());
    if (::access(parent.constData(), W_OK | X_OK) != 0)
      return errno;
  }
  struct stat st {};
  if (::lstat(name.constData(), &st) != 0)
    return errno;
  if (!S_ISDIR(st.st_mode))
    return 0;
  // A folder of our own that we may not change we can still open up.
  if (st.st_uid != ::geteuid() && ::access(name.constData(), R_OK | W_OK | X_OK) != 0)
    return errno;
  std::vector<QByteArray> names;
  if (const int error = ListFolder(name, names))
    return error;
  for (const QByteArray& entry : names) {
    if (const int error = CheckRemovable(name + '/' + entry, false))
      return error;
  }
  return 0;
}

// A free name beside path for work in progress.
QString SiblingName(const QString& path, const QString& purpose)
{
  const QFileInfo info(path);
  for (;;) {
    const QString name = info.path() + u"/."_s + info.fileName() + u".ardanto-"_s + purpose + u'-' +
                         QString::number(QRandomGenerator::global()->generate(), 36);
    struct stat st {};
    if (::lstat(Native(name).constData(), &st) != 0 && errno == ENOENT)
      return name;
  }
}

int SystemRename(const QString& from, const QString& to)
{
  return ::rename(Native(from).constData(), Native(to).constData()) == 0 ? 0 : errno;
}

int FlushFileSystem(const QString& folder)
{
  TDescriptor fd(::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0)
    return errno;
  return ::syncfs(fd.Get()) == 0 ? 0 : errno;
}

// The copy half of a move across file systems, and all of a copy.
int CopyFolder(const QString& source, const QString& target, bool move, const TFolderTransferSeams& seams)
{
  if (move) {
    if (const int error = CheckRemovable(Native(source), true))
      return error;
  }
  const QString partial = SiblingName(target, u"partial"_s);
  const QByteArray partialName = Native(partial);
  int error = CopyEntry(Native(source), partialName);
  if (!error) {
    if (seams.BeforeCheck)
      seams.BeforeCheck(partial);
    if (!SameTree(Native(source), partialName))
      error = EIO;
  }
  if (!error)
    error = FlushFileSystem(partial);
  QString aside;
  if (!error && move) {
    // Out of the way first, so that a failure later can still put it back.
    aside = SiblingName(source, u"moved"_s);
    error = SystemRename(source, aside);
    if (error)
      aside.clear();
  }
  if (!error) {
    error = SystemRename(partial, target);
    if (error && !aside.isEmpty())
      SystemRename(aside, source);
  }
  if (error) {
    RemoveTree(partialName);
    return error;
  }
  // The copy is whole and in place; what cannot be removed of the old folder
  // stays under its hidden name rather than looking like the mail data.
  if (!aside.isEmpty())
    RemoveTree(Native(aside));
  return 0;
}

bool IsEmptyFolder(const QString& path)
{
  std::vector<QByteArray> names;
  return ListFolder(Native(path), names) == 0 && names.empty();
}

} // namespace

int TransferFolder(const QString& source, const QString& target, bool move, const TFolderTransferSeams& seams)
{
  if (source.isEmpty() || target.isEmpty())
    return -EINVAL;
  const QString from = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
  const QString to = QDir::cleanPath(QFileInfo(target).absoluteFilePath());
  struct stat st {};
  if (::lstat(Native(from).constData(), &st) != 0)
    return -errno;
  if (!S_ISDIR(st.st_mode))
    return -ENOTDIR;
  // Compare real places, so that a link cannot hide a target inside the source.
  const QString realFrom = QFileInfo(from).canonicalFilePath();
  QString realTo = to;
  for (QString probe = to; !probe.isEmpty(); probe = QFileInfo(probe).path()) {
    if (QFileInfo::exists(probe)) {
      realTo = QFileInfo(probe).canonicalFilePath() + to.mid(probe.size());
      break;
    }
    if (probe == QFileInfo(probe).path())
      break;
  }
  if (realTo == realFrom || realTo.startsWith(realFrom + u'/') || from == u"/"_s)
    return -EINVAL;
  if (::lstat(Native(to).constData(), &st) == 0) {
    if (!S_ISDIR(st.st_mode))
      return -EEXIST;
    if (!IsEmptyFolder(to))
      return -ENOTEMPTY;
  } else if (errno != ENOENT) {
    return -errno;
  } else if (!QDir().mkpath(QFileInfo(to).path())) {
    return -EACCES;
  }
  if (move) {
    const int renamed = seams.Rename ? seams.Rename(from, to) : SystemRename(from, to);
    if (renamed != EXDEV)
      return -renamed;
  }
  return -CopyFolder(from, to, move, seams);
}

int ShellMove(const QString& source, const QString& target)
{
  return TransferFolder(source, target, true, {});
}

int ShellCopy(const QString& source, const QString& target)
{
  return TransferFolder(source, target, false, {});
}

int RefreshDesktop(const QString& file)
{
  int error = 0;
  for (const QString& name : {DesktopFolder(), file}) {
    if (!name.isEmpty() && ::utimensat(AT_FDCWD, Native(name).constData(), nullptr, 0) != 0 && !error)
      error = errno;
  }
  return error;
}

} // namespace ardanto::platform
