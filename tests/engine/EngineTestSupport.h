#pragma once

// Runs the real `ardanto` program on task files written the way Quillbox
// writes them, in a sandbox of its own: HOME, the configuration and data
// folders (and with them the trash) lie in a temporary folder.

#include "support/TestSupport.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace enginetest {

using TKeys = std::vector<std::pair<QString, QString>>;
using TSections = std::vector<std::pair<QString, TKeys>>;

// Writes an INI file as the suite does (UTF-16LE, every key in order).
void WriteIni(const QString& fileName, const TSections& sections);

// What a backup task of one or two source folders asks for. The defaults are
// those of a task that Quillbox writes for a profile.
struct TBackupSpec {
  QString Destination;
  QStringList Sources;
  bool Compress = true;
  bool Zip = true;
  int Encrypt = 0;
  QString Password; // the fixed password, in clear
  bool Sync = false;
  bool UseRecycler = false;
  int LogFile = 2;
  QString LogName; // default: the sandbox's log folder + %taskname%.log
  int Timespan = 2;
  bool IgnoreDst = true;
  bool EmptyDirs = true;
  QString Filter;  // masks separated by "|" (FilterMode 2 when set)
  QString Exclude; // comma text of types
  QString DirFilter = QStringLiteral("*cache*,log*,crash*,calendar-data,backup,datareporting");
  QString NoCompTypes = QStringLiteral("7z,gz,gze,jpg,png,zip");
  TKeys ExtraGlobal; // added to (or replacing keys of) [Global]
};

struct TRestoreSpec {
  QString Source;
  QString Target;
  bool Clear = false;
  int UnCompress = 3;
  QString Password; // written protected, as a task would keep it
  int LogFile = 2;
  QString LogName;
  bool EmptyDirs = true;
};

struct TEngineRun {
  int ExitCode = -1;
  QByteArray Output;
  QStringList Log; // the lines of the last section of the task's log
};

// A file to put into a fixture: its bytes and its last-write time.
struct TFixtureFile {
  QString Relative;
  QByteArray Content;
  QDateTime Modified; // invalid: a fixed time in 2020
};

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override;

  QString Root() const { return FDir.Path(); }
  QString Path(const QString& relative) const { return FDir.Path() + u'/' + relative; }
  QString LogFolder() const { return Path(QStringLiteral("logs")); }
  QString TrashFiles() const { return Path(QStringLiteral("data/Trash/files")); }

  QString WriteBackupTask(const QString& name, const TBackupSpec& spec) const;
  QString WriteRestoreTask(const QString& name, const TRestoreSpec& spec) const;

  // Runs ardanto with the arguments; the log read is that of the task
  // (the first argument) in the log folder.
  TEngineRun Run(const QStringList& arguments, int timeoutMs = 60000) const;
  QProcessEnvironment Environment() const;
  // The last section of a log file, without the byte-order mark.
  static QStringList LastSection(const QString& logFile);
  // Lines of the log that mark errors.
  static QStringList Errors(const QStringList& log);

  // A small profile-like tree with a fixed time on every file.
  void MakeTree(const QString& folder, const std::vector<TFixtureFile>& files) const;
  static std::vector<TFixtureFile> ProfileFiles();

  ardanto::test::TempDir FDir;
};

// The program being tested.
QString EngineProgram();
// The Python interpreter that has the test modules (dbusmock needs the system's).
QString Python();
// Runs a program, stdout and stderr apart.
struct TToolResult {
  int ExitCode = -1;
  QByteArray Out;
  QByteArray Err;
};
TToolResult RunTool(const QString& program, const QStringList& args, const QProcessEnvironment& env = {},
                    int timeoutMs = 60000);

// Last-write time of a file in nanoseconds since 1970 (links not followed);
// -1 when there is none.
qint64 ModifiedNs(const QString& path);
void SetModified(const QString& path, const QDateTime& time);
// Every file below folder, relative to it, sorted.
QStringList FilesBelow(const QString& folder);

// Where the backup of a source folder lies: destination + the source path.
QString BackupOf(const QString& destination, const QString& source);

} // namespace enginetest
