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
constexpr auto kBusyWait = std::chrono::seconds(20);
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

bool SnapshotSqliteDatabase(const QString& source, const QString& dest, QString& error, bool* diskFull)
{
  if (diskFull != nullptr)
    *diskFull = false;
  const QByteArray destName = QFile::encodeName(dest);
  const auto fail = [&](const QString& reason) {
    error = reason;
    ::unlink(destName.constData());
    ::unlink(QByteArray(destName + "-journal").constData());
    return false;
  };
  TConnection from;
  TConnection to;
  if (sqlite3_open_v2(QFile::encodeName(source).constData(), &from.Db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK)
    return fail(from.Error());
  sqlite3_busy_timeout(from.Db, 200);
  if (sqlite3_open_v2(destName.constData(), &to.Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK)
    return fail(to.Error());
  // The copy is written once and renamed; it needs no journal of its own.
  sqlite3_exec(to.Db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);

  sqlite3_backup* backup = sqlite3_backup_init(to.Db, "main", from.Db, "main");
  if (backup == nullptr)
    return fail(to.Error());
  int rc = SQLITE_OK;
  const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
  for (;;) {
    rc = sqlite3_backup_step(backup, -1);
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || std::chrono::steady_clock::now() > deadline)
      break;
    std::this_thread::sleep_for(kBusyStep);
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    if (diskFull != nullptr)
      *diskFull = rc == SQLITE_FULL;
    return fail(QString::fromUtf8(sqlite3_errstr(rc)));
  }
  if (sqlite3_close(to.Db) != SQLITE_OK)
    return fail(_("The copy of the database could not be closed"));
  to.Db = nullptr;
  error.clear();
  return true;
}

} // namespace engine
