#pragma once

// Language of the user interface: which catalogue every _() text comes from.

#include <QString>
#include <QStringList>

namespace ardanto {

// ISO 639-1 code for a Windows primary language identifier (the low ten bits
// of a language id), as the suite's configuration files have always stored
// them; "en" for any identifier we have no code for.
QString LanguageCode(int languageId);

// Whether code is one of the languages LanguageCode() can give.
bool IsKnownLanguageCode(const QString& code);

// The two-letter language of the user's locale (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG), when it is a known code; "en" otherwise.
QString SystemLanguageCode();

// Where the compiled catalogues live: $ARDANTO_LOCALEDIR, else share/locale
// next to the program's bin folder, else the installation's locale folder.
QString LocaleDirectory();

struct TLanguageSelection {
  QString LanguageCode;  // the active language
  QString ConfigFile;    // full name of the shared configuration file
  bool Portable = false; // option "portable" was given
};

// Locates the shared configuration file (Ardanto.cfg), reads the language from
// the command line ("lang:xx"), from the file's [Language] LangID or from the
// user's locale, registers the text domains and activates the language.
// folder: absolute, or relative to the user's configuration folder.
// fileName: the configuration file's name; empty means "<program name>.cfg".
// arguments: the program's command line without the program itself.
TLanguageSelection SelectLanguage(const QString& folder, const QString& fileName, const QStringList& textDomains,
                                  const QStringList& arguments);

// Registers a text domain and makes code the language of every catalogue.
void ActivateLanguage(const QString& code, const QStringList& textDomains = {});

// The language made active last; "en" before any selection.
QString CurrentLanguage();

// Process-wide facts SelectLanguage needs; the programs set them at start-up
// and tests point them at temporary folders.
struct TProgramPaths {
  QString ProgramFolder; // folder of the running program, with trailing "/"
  QString ProgramName;   // file name without folder and extension
  QString ConfigFolder;  // the user's configuration folder, with trailing "/"
};
TProgramPaths CurrentProgramPaths();
void SetProgramPaths(const TProgramPaths& paths);

} // namespace ardanto
