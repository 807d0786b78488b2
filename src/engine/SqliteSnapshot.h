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

// Writes a consistent copy of the database source into dest (a new file):
// the online backup API from a read-only connection, all pages in one step,
// retried while a writer holds the database locked. False with the reason
// when the file does not open as a database or the copy fails; dest is then
// removed, and diskFull tells a destination that takes no more.
bool SnapshotSqliteDatabase(const QString& source, const QString& dest, QString& error, bool* diskFull = nullptr);

} // namespace engine
