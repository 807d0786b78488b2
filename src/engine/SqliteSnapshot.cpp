#include "engine/SqliteSnapshot.h"

#include "common/Translate.h"

#include <QFile>

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
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
  TConnection from;
  TConnection to;
  // Reading a database in WAL mode takes a -wal and a -shm file; a read-only
  // connection creates them when they are missing (Thunderbird closed) and,
  // unable to check-point, leaves them behind: a -wal newer than the copy
  // would have the next run copy the database again. Without a -wal the
  // source is therefore opened for writing but only queried, so that as the
  // last connection it removes both files again on closing. A -wal that is
  // there belongs to someone else and is only read.
  const QByteArray sourceName = QFile::encodeName(source);
  const bool walThere = ::access(QByteArray(sourceName + "-wal").constData(), F_OK) == 0;
  int rc = sqlite3_open_v2(sourceName.constData(), &from.Db,
                           (walThere ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK)
    return fail(resultOf(rc), from.Error());
  if (!walThere)
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
