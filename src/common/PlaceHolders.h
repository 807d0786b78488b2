#pragma once

// Placeholders: words between percent signs in paths, file names and texts,
// replaced when the text is used. Matching ignores case; every occurrence is
// replaced; a word the routine at hand does not know stays in the text.
// Values put into the text are final: a device name or variable holding
// "%date%" is not expanded again.
//
// Two kinds carry an argument: the cycle counters "%d#N%", "%w#N%", "%m#N%",
// "%v#N%" (N the cycle length) and the environment form "%evar(NAME)%".
//
// Folders on Linux (no trailing "/"):
//   %perspath%               documents folder (XDG_DOCUMENTS_DIR)
//   %apppath%, %appdata%     $XDG_CONFIG_HOME (~/.config)
//   %localappdata%           $XDG_DATA_HOME (~/.local/share)
//   %profile%, %userprofile% $HOME
//   %desktop%                desktop folder (XDG_DESKTOP_DIR)
//   %favorites%              empty: Linux desktops have no favorites folder
//   %progfiles%              /opt, where add-on programs get a folder each
//   %progpath%               folder of the running program
//   %programfiles%, %programfiles(x86)%
//                            $ProgramW6432 / $ProgramFiles(x86) when set, else /opt
//   %commonprogramfiles%, %commonprogramfiles(x86)%
//                            $CommonProgramW6432 / $CommonProgramFiles(x86) when
//                            set, else /usr/lib (components shared by programs)
//   %allusersprofile%, %programdata%
//                            $ALLUSERSPROFILE when set, else the first system
//                            data folder of $XDG_DATA_DIRS (/usr/local/share)
//   %public%                 $PUBLIC when set, else the XDG public share folder
// User name: the account of the effective user id; computer name: the host name.
// Day and month names come from the user's locale (QLocale::system()).
//
// Every routine reads the clock once per call; the overloads taking a
// QDateTime (and a locale) exist so that tests can fix both.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace ardanto {

// The vocabularies, in the order the placeholder dialog lists them.
const QStringList& DatePlaceholders();
const QStringList& TimePlaceholders();
const QStringList& PathPlaceholders();
const QStringList& SystemPlaceholders();
const QStringList& MailPlaceholders();
const QStringList& ExternalPlaceholders();
const QStringList& LogPlaceholders();
const QStringList& PortablePlaceholders();

// Date table, then (counter > 0) the cycle counters, then the time table.
QString ExpandDatePlaceholders(const QString& text, int counter);
QString ExpandDatePlaceholders(const QString& text, int counter, const QDateTime& now,
                               const QLocale& locale = QLocale::system());

// The portable table. The device name cannot add folders to the path: "/" in
// it becomes "_", and a name of dots only becomes underscores.
QString ExpandDevicePlaceholders(const QString& text, const QString& deviceName);
QString ExpandDevicePlaceholders(const QString& text, const QString& deviceName, const QDateTime& now,
                                 const QLocale& locale = QLocale::system());

// The path table, then the system table.
QString ExpandPathPlaceholders(const QString& text);

// "%volume%" with volumeName, then the environment form, then the date
// placeholders with counter.
QString ExpandDestinationPlaceholders(const QString& text, const QString& volumeName, int counter);
QString ExpandDestinationPlaceholders(const QString& text, const QString& volumeName, int counter, const QDateTime& now,
                                      const QLocale& locale = QLocale::system());

// The log table. "%drive%" is the mount point holding the destination,
// "%volume%" the label of that filesystem; a destination ":label:/rest" names
// its label itself, and its drive is where that label is mounted.
QString ExpandLogPlaceholders(const QString& text, const QString& destination);
QString ExpandLogPlaceholders(const QString& text, const QString& destination, const QDateTime& now);

// The leading components of path that hold no "%", each followed by "/"; the
// whole path when it holds no "%".
QString PathBeforePlaceholders(const QString& path);

} // namespace ardanto
