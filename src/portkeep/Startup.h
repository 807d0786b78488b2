#pragma once

// How Portkeep starts: its command line, its folders and the texts of an
// automatic run.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace portkeep {

struct TCommandLine {
  QString TaskName; // full name of the task file, empty for none
  bool ForceTask = false;
  bool CloseProg = false;
  bool UseDarkMode = false;
};

// Arguments in order: a task file (placeholders expanded, below the job
// folder when relative, ".pkj" added), or an option word matched by prefix
// among "dark", "close", "force". A later task file replaces an earlier one;
// unknown words are ignored.
TCommandLine ParseCommandLine(const QStringList& arguments, const QString& jobFolder);

struct TPortkeepFolders {
  QString AppPath;            // ~/.config/Ardanto6/
  QString UserPath;           // the documents folder
  QString SettingsFolder;     // where Portkeep.ini lives
  QString EngineSettingsFile; // SettingsFolder + Ardanto.ini
  QString JobFolder;          // where task files are kept
  QString IniName;            // SettingsFolder + Portkeep.ini
};

// The settings folder is the program's own folder when there is no
// configuration folder or the program runs from a USB drive; otherwise the
// suite's settings folder (created when missing).
TPortkeepFolders DetermineFolders(bool programOnUsbDrive);

// Where an automatic run with "close" keeps its log: pk-<task>.log.
QString AutoRunLogFile(const QString& settingsFolder, const QString& taskName);

// The lines an automatic run writes.
QString AutoRunHeader(const QString& title, const QString& version);
QString AutoRunStartLine(const QDateTime& start, const QString& taskName);
QString AutoRunFinishedLine(const QDateTime& start, const QDateTime& end);
// The last line of an automatic run whose task could not be started.
QString AutoRunNotRunLine(const QDateTime& end);
// Hours (two digits at least, not limited to a day), minutes and seconds.
QString DurationText(qint64 seconds);

// Writes the progress lines as UTF-8 with a byte-order mark, replacing an
// older file whole. Raises EWriteFileStreamError.
void WriteLogFile(const QString& fileName, const QStringList& lines);

} // namespace portkeep
