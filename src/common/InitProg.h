#pragma once

// The program's environment: its folders, the suite's settings folders, the
// engine, names of user and computer, version texts and the conventions the
// programs share with the engine.

#include <QString>

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
// line: "<name> <version>"). False when it gives none.
bool ReadVersionInfo(const QString& program, TFileVersionInfo& info);

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

// Text of an engine exit code (its low byte), followed by "!".
QString EngineResultText(int code);

// The job folder: documents + "Ardanto/", or [Config] JobDir of the engine
// settings file when that names an existing folder; absolute, with "/".
QString JobFolder(const QString& engineSettingsFile, const QString& documentsFolder);

} // namespace ardanto
