#pragma once

// How Quillbox starts: its command line, where its settings file lies and
// what that file holds.

#include "platform/Power.h"

#include <QString>
#include <QStringList>

namespace quillbox {

// What the command line asks for. Folder values are kept as given; the
// start-up expands and completes them.
struct TCommandLine {
  QString MailProfile; // the first argument that is no option
  bool Force = false;
  bool IniGiven = false; // "ini" was given, also with an empty value
  QString IniName;
  QString JobDir;
  QString BuDir;
  int LogMode = -1; // -1: not given
  QString LogDir;   // empty, or ending in "/"
  bool UseDarkMode = false;
  QString ExcludedDirs;
  ardanto::platform::TDownMode LogOffMode = ardanto::platform::dmNone;
  ardanto::platform::TSuspendMode SuspendMode = ardanto::platform::smNone;
  int WaitDelay = 5;
  int StatusPrompt = 1;
};

// Every argument beginning with "/" or "-" is an option (an absolute path is
// not: its word holds a "/"); its word is matched by prefix against force,
// ini, taskdir, backupdir, logmode, logdir, dark, exclude, end, suspend, wait,
// prompt in this order, an empty word matching the first. "word:value" gives
// the value. Unknown words are ignored. A first plain argument that is the
// path of a task file (".buj", ".rsj") gives the profile of its name ("tb-"
// and the profile) and, unless taskdir is given, its folder as the task folder.
TCommandLine ParseCommandLine(const QStringList& arguments);

// An option's number: read up to the first blank after leading blanks;
// fallback when that is no integer.
int OptionNumber(const QString& value, int fallback);

// The settings file named by option "ini" (placeholders already expanded):
// an absolute folder (ending in "/" or without extension) gets
// "Quillbox.ini"; a bare name lies in the settings folder, with ".ini" when it
// has no dot; any other path gets ".ini" unless that is its extension and is
// taken below currentFolder when relative.
QString IniNameFromOption(const QString& value, const QString& settingsFolder, const QString& currentFolder);

// A missing default settings file is copied over from the suite's folder
// (when the settings folder is another one), else from the older suite's
// folder. Copy errors are ignored. suiteFolder and oldSuiteFolder end in "/".
void MigrateSettingsFile(const QString& iniName, const QString& settingsFolder, const QString& suiteFolder,
                         const QString& oldSuiteFolder);

// The keys of Quillbox.ini.
struct TProgramSettings {
  int Top = -1; // -1: where the window system puts it
  int Left = -1;
  QString BackupDirectory;
  QString MailProfile;
  bool BackupCalendar = true;
  int WaitTime = 5;     // 1 to 99
  int StatusWindow = 1; // index of the status-window mode
  QString ExcludedFiles;
  QString ExcludedTypes;
};

QString DefaultExcludedFiles();
QString DefaultExcludedTypes();

// Missing keys and out-of-range numbers take their defaults. Raises
// EArdantoError when the file exists but cannot be read.
TProgramSettings LoadProgramSettings(const QString& iniName);
// Writes every key (other entries kept) with the program's title and
// version. Raises EWriteFileStreamError ("Error writing to ..."); the old file
// is then unchanged.
void SaveProgramSettings(const QString& iniName, const TProgramSettings& settings, const QString& title,
                         const QString& version);

} // namespace quillbox
