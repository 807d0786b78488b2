#pragma once

// Consistent copies of live SQLite databases. Thunderbird keeps its address
// books, history, saved passwords and certificates in SQLite databases with
// write-ahead logs; a plain copy of the database file can be torn, and
// committed data can sit in the "-wal" file long after Thunderbird closed.
// SQLite's online backup reads a snapshot that includes the log.

#include <QString>

namespace engine {

// Whether the file begins with the SQLite header ("SQLite format 3" and a
// zero byte).
bool HasSqliteHeader(const QString& fileName);

enum TSnapshotResult : int {
  srOk,
  srNoDatabase, // begins like a database but does not open as one: copy it as a file
  srLocked,     // another program keeps it locked (exclusive locking mode): no consistent copy now
  srFull,       // the destination takes no more
  srFailed,
};

// Writes a consistent copy of the database source into dest (a new file):
// the online backup API from a connection that only reads (and leaves no
// -wal or -shm file behind that was not there before), all pages in one step,
// retried for a while when a writer holds the database locked. On anything
// but srOk, dest is removed and error tells why.
TSnapshotResult SnapshotSqliteDatabase(const QString& source, const QString& dest, QString& error);

} // namespace engine
