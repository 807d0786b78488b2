#pragma once

// Running copy jobs the way the device program does, and reading their
// output back with peers.

#include "copyengine/ExtFileTools.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace ardanto::test {

struct TJobOutcome {
  bool Done = false;
  int Type = 0;
  int Code = 0;
  QString Message;
};

// Creates a suspended TWinCopyThread, starts it and polls Done() every
// millisecond while the event loop runs, then reads the result.
TJobOutcome RunCopyJob(const TFileData& source, const QString& dest, TCopyOptions options);

// Python's gzip or zipfile view of a file (readback.py); expected names a file
// with the data it should hold. Empty on failure, with the reason in error.
QJsonObject PythonReadBack(const QString& kind, const QString& file, const QString& expected, QString& error);

// Every name in a folder, hidden ones included.
QStringList FolderEntries(const QString& path);

} // namespace ardanto::test
