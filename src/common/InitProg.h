#pragma once

// The program's environment: its folders, the suite's settings folders, the
// engine, names of user and computer, version texts and the conventions the
// programs share with the engine.

#include <QString>
#include <QStringList>

namespace ardanto {

// What a program says about itself.
struct TFileVersionInfo {
  QString Company;
  QString Description;
  QString Version;
  QString InternalName;
  QString Copyright;
  QString Comments;
};

// The suite's folder below the user's configuration folder
// (~/.config/<subfolder>, subfolder "Ardanto6/"), with trailing "/". The
// program's folder when there is no configuration folder, or when create is
// set and the folder cannot be created.
QString ProgramIniFolder(const QString& subfolder, bool create);

// The settings folder the user chose for the suite: [Ardanto6] IniPath of
// $XDG_CONFIG_HOME/ardanto6.conf when set, else defaultFolder.
QString SettingsFolder(const QString& defaultFolder);

// The engine `ardanto` as an absolute path: in the current folder, beside the
// program, named by [Ardanto6] Program of /etc/ardanto6.conf, or on PATH.
// Only an executable file counts. Empty when not found.
QString FindEngine();
// The same with another file in place of /etc/ardanto6.conf.
QString FindEngine(const QString& systemConfFile);

QString UserName();
// Linux has no domains: the account name.
QString SamUserName();
QString ComputerName();

// The user's documents folder with trailing "/".
QString DocumentsFolder();

// "Version" + " " + the version cut to its first `parts` dot-separated parts.
QString VersionText(const QString& version, int parts);

// This program's own description, compiled in from the build's version.
TFileVersionInfo ProgramVersionInfo(const QString& programName);
// Another program's description, read from its answer to --version (first
// line: "<name> <version>", the version beginning with a digit or "v" and a
// digit). False when it gives none within five seconds.
bool ReadVersionInfo(const QString& program, TFileVersionInfo& info);
bool ReadVersionInfo(const QString& program, TFileVersionInfo& info, int timeoutMs);

// "Version info" text: title, bitness, version and file date; with the
// engine's name and version when the engine answers.
QString InfoText(const QString& title, const QString& version, const QString& fileDate, const QString& enginePath,
                 int parts);
// " - 64-bit" or " - 32-bit" for the running process.
QString BitnessText();

// Conventions shared with the engine's command line.
QString QuoteIfBlank(const QString& text);
QString OptionItem(const QString& word);
QString OptionItem(const QString& word, const QString& value);

// The items of a command line built with QuoteIfBlank and OptionItem, so that
// it can be started without a shell. Items are separated by blanks. An item
// that begins with a double quote runs to the closing quote, "" inside
// standing for one quote, and whatever follows up to the next blank belongs to
// it; an unclosed quote runs to the end. In any other item quotes are plain
// characters, as QuoteIfBlank leaves them there. What cannot come back: an
// empty item, and an item without blanks that begins with a quote.
QStringList SplitCommandLine(const QString& commandLine);

// Text of an engine exit code (its low byte), followed by "!".
QString EngineResultText(int code);

// Tells LogFolder what the program learnt at start-up: the engine's [Config]
// ProtDir (empty when not read) and the program's settings folder.
void SetLogFolderSources(const QString& protDir, const QString& settingsFolder);
// ProtDir with trailing "/" when known; else the program's settings folder;
// else the user's configuration folder.
QString LogFolder();

// The default name pattern of the drive folders in a backup: "Lw?" for German,
// else "Drv?".
QString DefaultDriveId();
// The drive part of a path: "c:" of a path written on Windows, "\\srv\share"
// of a network path written there; empty for a POSIX path, which has none.
QString ExtractFileDrive(const QString& path);
// The folder of one source drive inside a backup, with trailing "/": the "?"
// of pattern (or its end) takes the drive letter; a network drive gives its
// server and share; a POSIX path has no drive and gives no folder (empty).
QString DriveFolder(const QString& pattern, const QString& drive);
// Where the engine keeps the copy of a source folder: the backup folder, the
// drive folder and the source path below its drive root
// (/home/ann/.thunderbird/x -> BACKUP/home/ann/.thunderbird/x).
QString SourceFolderInBackup(const QString& backupFolder, const QString& driveId, const QString& source);

// Where the engine writes the log of a task: [Global] LogName with
// "%taskname%", the destination and the log placeholders expanded, below
// LogFolder() unless absolute. Empty when the task file does not exist or names
// no log.
QString TaskLogFile(const QString& taskFile);

// The job folder: documents + "Ardanto/", or [Config] JobDir of the engine
// settings file when that names an existing folder; absolute, with "/".
QString JobFolder(const QString& engineSettingsFile, const QString& documentsFolder);

} // namespace ardanto
