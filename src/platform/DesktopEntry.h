#pragma once

// Desktop shortcuts: freedesktop .desktop files in the user's desktop folder.

#include <QString>
#include <QStringList>

namespace ardanto::platform {

// One argument of an Exec line, quoted by the desktop-entry rules (reserved
// characters put the argument in double quotes, backslashes doubled once more
// for the string level, "%" written "%%").
QString QuoteExecArgument(const QString& argument);

// A value of a localestring/string key: backslash, line breaks and tabs escaped.
QString EscapeDesktopValue(const QString& value);

struct TDesktopShortcut {
  QString FileName; // full name of the .desktop file
  QString Name;     // shown under the icon
  QString Comment;  // the description
  QString Program;  // absolute path of the program
  QStringList Arguments;
  QString WorkingFolder;
  QString Icon; // icon name or absolute path
};

// The text of the .desktop file.
QString DesktopEntryText(const TDesktopShortcut& shortcut);

// Writes the file (replacing an old one whole), makes it executable and marks
// it trusted where the desktop supports it (gio). Returns 0 or errno.
int CreateDesktopShortcut(const TDesktopShortcut& shortcut);

// The user's desktop folder, with trailing "/".
QString DesktopFolder();

// The .desktop file in folder for a shortcut the user named: a "/" or a
// control character becomes "_", and an empty name or one of dots only gets a
// "_" in front, so that whatever was typed names a file in that folder.
QString ShortcutFileName(const QString& folder, const QString& name);

} // namespace ardanto::platform
