#include "engine/TargetFiles.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

using namespace Qt::StringLiterals;

namespace {

constexpr char kTempPrefix[] = ".ar-";
constexpr char kTempSuffix[] = ".part";
// Flush after this many files or bytes.
constexpr std::size_t kBatchFiles = 256;
constexpr std::int64_t kBatchBytes = std::int64_t(128) << 20;

int RemoveTreeAt(int dirHandle, const char* name)
{
  struct stat st {};
  if (::fstatat(dirHandle, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? 0 : errno;
  if (!S_ISDIR(st.st_mode))
    return ::unlinkat(dirHandle, name, 0) == 0 || errno == ENOENT ? 0 : errno;
  const int handle = ::openat(dirHandle, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (handle < 0)
    return errno;
  DIR* dir = ::fdopendir(handle);
  if (dir == nullptr) {
    const int error = errno;
    ::close(handle);
    return error;
  }
  int result = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
      continue;
    if (const int error = RemoveTreeAt(::dirfd(dir), entry->d_name); error != 0 && result == 0)
      result = error;
  }
  ::closedir(dir);
  if (result != 0)
    return result;
  return ::unlinkat(dirHandle, name, AT_REMOVEDIR) == 0 || errno == ENOENT ? 0 : errno;
}

} // namespace

QByteArray Native(const QString& path)
{
  return QFile::encodeName(path);
}

QString Join(const QString& folder, const QString& name)
{
  if (folder.isEmpty())
    return name;
  if (name.isEmpty())
    return folder;
  return folder.endsWith(u'/') ? QString(folder + name) : QString(folder + u'/' + name);
}

QString ReserveTempName(const QString& folder, int& error)
{
  return ardanto::FreeTempName(folder, kTempPrefix, kTempSuffix, error);
}

bool IsTempName(const QString& name)
{
  static const QRegularExpression kPattern(
      uR"(^(\.ar-[A-Za-z0-9]{6}\.part(-src)?(-journal|-wal|-shm)?|\.\.ar-[A-Za-z0-9]{6}\.part\.[A-Za-z0-9]{8})$)"_s);
  return kPattern.match(name).hasMatch();
}

int RemoveStaleTemporaries(const QString& folder, std::time_t notBefore)
{
  DIR* dir = ::opendir(Native(folder).constData());
  if (dir == nullptr)
    return 0;
  int removed = 0;
  const int handle = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.' || !IsTempName(QFile::decodeName(entry->d_name)))
      continue;
    struct stat st {};
    if (::fstatat(handle, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_mtime >= notBefore)
      continue;
    if (::unlinkat(handle, entry->d_name, 0) == 0)
      ++removed;
  }
  ::closedir(dir);
  return removed;
}

int MakeFolders(const QString& path)
{
  const QByteArray native = Native(QDir::cleanPath(path));
  struct stat st {};
  for (qsizetype slash = native.indexOf('/', 1);; slash = native.indexOf('/', slash + 1)) {
    const QByteArray part = slash < 0 ? native : native.left(slash);
    if (::mkdir(part.constData(), 0755) != 0 && errno != EEXIST)
      return errno;
    if (slash < 0)
      break;
  }
  if (::stat(native.constData(), &st) != 0)
    return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int MakeFolderBelow(const QString& root, const QString& relative)
{
  QByteArray path = Native(root);
  while (path.size() > 1 && path.endsWith('/'))
    path.chop(1);
  struct stat st {};
  if (::stat(path.constData(), &st) != 0)
    return errno;
  if (!S_ISDIR(st.st_mode))
    return ENOTDIR;
  for (const QString& part : relative.split(u'/', Qt::SkipEmptyParts)) {
    if (part == u"."_s || part == u".."_s)
      return EINVAL;
    path += '/' + Native(part);
    if (::lstat(path.constData(), &st) == 0) {
      if (S_ISLNK(st.st_mode))
        return ELOOP;
      if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
      continue;
    }
    if (errno != ENOENT)
      return errno;
    if (::mkdir(path.constData(), 0755) != 0 && errno != EEXIST)
      return errno;
  }
  return 0;
}

int RemoveTree(const QString& path)
{
  return RemoveTreeAt(AT_FDCWD, Native(path).constData());
}

bool MoveToTrash(const QString& path, QString& error)
{
  struct stat st {};
  if (::lstat(Native(path).constData(), &st) != 0) {
    error = ardanto::SystemErrorText(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    if (::unlink(Native(path).constData()) == 0)
      return true;
    error = ardanto::SystemErrorText(errno);
    return false;
  }
  if (QFile::moveToTrash(path))
    return true;
  error = _("It could not be moved to the trash");
  return false;
}

int SetWriteTime(const QString& path, const timespec& mtime)
{
  const timespec times[2] = {{0, UTIME_NOW}, mtime};
  return ::utimensat(AT_FDCWD, Native(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

TCommitBatch::TCommitBatch(const QString& folder)
  : FHandle(::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
}

TCommitBatch::~TCommitBatch()
{
  Discard();
  if (FHandle >= 0)
    ::close(FHandle);
}

void TCommitBatch::Add(TPendingFile file)
{
  // The data start for the disk now, while the next files are copied; the
  // batch's flush then waits for little more than the last of them.
  const int handle = ::open(Native(file.Temp).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (handle >= 0) {
    ::sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(handle);
  }
  FBytes += file.Bytes;
  FFiles.push_back(std::move(file));
}

bool TCommitBatch::Due() const
{
  return FFiles.size() >= kBatchFiles || FBytes >= kBatchBytes;
}

void TCommitBatch::Flush(const std::function<void(const TPendingFile& file, int error)>& done)
{
  if (FFiles.empty())
    return;
  // One flush for the whole batch: the data are on the disk before any name
  // points at them.
  if (FHandle < 0 || ::syncfs(FHandle) != 0)
    ::sync();
  for (const TPendingFile& file : FFiles) {
    int error = 0;
    if (::rename(Native(file.Temp).constData(), Native(file.Final).constData()) != 0) {
      error = errno;
      ::unlink(Native(file.Temp).constData());
    } else {
      for (const QString& old : file.Remove)
        ::unlink(Native(old).constData());
    }
    done(file, error);
  }
  FFiles.clear();
  FBytes = 0;
}

void TCommitBatch::Discard()
{
  for (const TPendingFile& file : FFiles)
    ::unlink(Native(file.Temp).constData());
  FFiles.clear();
  FBytes = 0;
}

} // namespace engine
