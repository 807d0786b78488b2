#include "engine/SqliteSnapshot.h"

#include "common/Translate.h"

#include <QFile>

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace engine {

using namespace Qt::StringLiterals;

namespace {

// How long a snapshot waits for a writer that holds the database.
constexpr auto kBusyWait = std::chrono::seconds(5);
constexpr auto kBusyStep = std::chrono::milliseconds(25);

struct TConnection {
  sqlite3* Db = nullptr;
  ~TConnection()
  {
    if (Db != nullptr)
      sqlite3_close_v2(Db);
  }
  QString Error() const { return QString::fromUtf8(sqlite3_errmsg(Db)); }
};

// A database copied aside with its log, removed again with what SQLite made
// beside it.
struct TAsideCopy {
  QByteArray Name;
  ~TAsideCopy()
  {
    if (Name.isEmpty())
      return;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      ::unlink(QByteArray(Name + suffix).constData());
  }
};

bool Exists(const QByteArray& path)
{
  struct stat st {};
  return ::lstat(path.constData(), &st) == 0;
}

// Whether another process holds a lock on the database: SQLite locks bytes
// from 1 GiB on. A connection in exclusive locking mode keeps its lock and
// needs no -shm.
bool HeldByOthers(const QByteArray& path)
{
  const int handle = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (handle < 0)
    return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0x40000000;
  lock.l_len = 512;
  const bool held = ::fcntl(handle, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(handle);
  return held;
}

// What tells whether a file was written to.
struct TFileState {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  bool operator==(const TFileState& o) const
  {
    return Device == o.Device && Inode == o.Inode && Size == o.Size && Modified.tv_sec == o.Modified.tv_sec &&
           Modified.tv_nsec == o.Modified.tv_nsec;
  }
};

bool StateOf(const QByteArray& path, TFileState& state)
{
  struct stat st {};
  if (::stat(path.constData(), &st) != 0)
    return false;
  state = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  return true;
}

// Copies a file whole into a new file; 0 or errno.
int CopyWhole(const QByteArray& from, const QByteArray& to)
{
  const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0)
    return errno;
  const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return error;
  }
  int error = 0;
  for (;;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t(1) << 30, 0);
    if (n > 0)
      continue;
    if (n == 0)
      break;
    if (errno == EINTR)
      continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
      error = errno;
      break;
    }
    // No copy inside the kernel: through a buffer.
    char buffer[65536];
    for (;;) {
      const ssize_t r = ::read(in, buffer, sizeof buffer);
      if (r < 0 && errno == EINTR)
        continue;
      if (r <= 0) {
        error = r < 0 ? errno : 0;
        break;
      }
      for (ssize_t done = 0; done < r && error == 0;) {
        const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(r - done));
        if (w < 0 && errno == EINTR)
          continue;
        if (w <= 0)
          error = w < 0 ? errno : EIO;
        else
          done += w;
      }
      if (error != 0)
        break;
    }
    break;
  }
  ::close(in);
  if (::close(out) != 0 && error == 0)
    error = errno;
  if (error != 0)
    ::unlink(to.constData());
  return error;
}

} // namespace

bool HasSqliteHeader(const QString& fileName)
{
  static constexpr char kHeader[] = "SQLite format 3"; // with its zero byte: 16 bytes
  const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return false;
  char buffer[sizeof kHeader] = {};
  ssize_t n = 0;
  do {
    n = ::pread(fd, buffer, sizeof buffer, 0);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof kHeader) && std::memcmp(buffer, kHeader, sizeof kHeader) == 0;
}

TSnapshotResult SnapshotSqliteDatabase(const QString& source, const QString& dest, QString& error)
{
  const QByteArray destName = QFile::encodeName(dest);
  const auto fail = [&](TSnapshotResult result, const QString& reason) {
    error = reason;
    ::unlink(destName.constData());
    ::unlink(QByteArray(destName + "-journal").constData());
    return result;
  };
  // What a failing step means for the file.
  const auto resultOf = [](int rc) {
    switch (rc & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_CANTOPEN:
      return srNoDatabase;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return srLocked;
    case SQLITE_FULL:
      return srFull;
    default:
      return srFailed;
    }
  };
  // Reading a database in WAL mode takes a -wal and a -shm file. A
  // read-only connection creates them when they are missing and, unable to
  // check-point, leaves them in the profile: a -wal newer than the copy has
  // the next run copy the database again, and neither belongs there.
  // - No -wal (Thunderbird closed): the source is opened for writing but
  //   only queried; as the last connection it removes both files again.
  // - A -wal but no -shm and no lock of another process (closed, with
  //   committed data left in the log): nobody has the database open, since
  //   an open one has its -shm or, in exclusive locking mode, its lock. The
  //   two files are copied beside the copy and read there, unless they
  //   changed meanwhile.
  // - Both (Thunderbird running): they are someone else's, read-only.
  const QByteArray sourceName = QFile::encodeName(source);
  const QByteArray walName = sourceName + "-wal";
  const bool walThere = Exists(walName);
  TAsideCopy aside;
  if (walThere && !Exists(sourceName + "-shm") && !HeldByOthers(sourceName)) {
    const QByteArray name = destName + "-src";
    TFileState dbBefore, walBefore, dbAfter, walAfter;
    int copyError = 0;
    if (StateOf(sourceName, dbBefore) && StateOf(walName, walBefore)) {
      aside.Name = name;
      copyError = CopyWhole(sourceName, name);
      if (copyError == 0)
        copyError = CopyWhole(walName, name + "-wal");
    }
    if (copyError == ENOSPC || copyError == EDQUOT)
      return fail(srFull, QString::fromLocal8Bit(std::strerror(copyError)));
    const bool unchanged = copyError == 0 && !aside.Name.isEmpty() && StateOf(sourceName, dbAfter) &&
                           StateOf(walName, walAfter) && dbAfter == dbBefore && walAfter == walBefore &&
                           !Exists(sourceName + "-shm") && !HeldByOthers(sourceName);
    if (!unchanged) {
      // Opened meanwhile: read where it is, like a running one.
      const TAsideCopy discard{aside.Name};
      aside.Name.clear();
    }
  }
  const QByteArray readFrom = aside.Name.isEmpty() ? sourceName : aside.Name;
  const bool inPlaceReadOnly = walThere && aside.Name.isEmpty();
  TConnection from;
  TConnection to;
  int rc =
      sqlite3_open_v2(readFrom.constData(), &from.Db,
                      (inPlaceReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK)
    return fail(resultOf(rc), from.Error());
  if (!inPlaceReadOnly)
    sqlite3_exec(from.Db, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
  sqlite3_busy_timeout(from.Db, 200);
  rc = sqlite3_open_v2(destName.constData(), &to.Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                       nullptr);
  if (rc != SQLITE_OK)
    return fail(rc == SQLITE_FULL ? srFull : srFailed, to.Error());
  // The copy is written once and renamed; it needs no journal of its own.
  sqlite3_exec(to.Db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);

  sqlite3_backup* backup = sqlite3_backup_init(to.Db, "main", from.Db, "main");
  if (backup == nullptr)
    return fail(srFailed, to.Error());
  const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
  for (;;) {
    rc = sqlite3_backup_step(backup, -1);
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || std::chrono::steady_clock::now() > deadline)
      break;
    std::this_thread::sleep_for(kBusyStep);
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE)
    return fail(resultOf(rc), QString::fromUtf8(sqlite3_errstr(rc)));
  if (sqlite3_close(to.Db) != SQLITE_OK)
    return fail(srFailed, _("The copy of the database could not be closed"));
  to.Db = nullptr;
  error.clear();
  return srOk;
}

} // namespace engine
