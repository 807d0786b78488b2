#pragma once

// Real Thunderbird profiles for tests, made by the installed Thunderbird
// itself: "alpha" and "beta" created with -CreateProfile, and alpha started
// once headless, so that it holds the files a used profile has (address book,
// databases with their write-ahead logs, prefs.js, key stores, ...).
//
// Thunderbird runs only once per build tree: the first test process that
// needs the profiles makes a master copy below the build folder (under a file
// lock, so parallel tests wait for it), and every test works on a copy of it.

#include <QString>
#include <QStringList>

namespace ardanto::test {

// The profile that Thunderbird has run in, and the one it only created.
inline QString StartedProfile()
{
  return QStringLiteral("alpha");
}
inline QString FreshProfile()
{
  return QStringLiteral("beta");
}

struct ThunderbirdHome {
  QString Home;       // a HOME whose .thunderbird holds the profiles
  QString DataFolder; // Home + "/.thunderbird/"

  QString ProfilesIni() const { return DataFolder + QStringLiteral("profiles.ini"); }
  // The folder profiles.ini names for a profile, empty when it names none.
  QString ProfileFolder(const QString& name) const;
  // Every file below the profile's folder, relative to it, sorted.
  QStringList ProfileFiles(const QString& name) const;
};

// A private copy of the master profiles in folder (which becomes the copy's
// HOME; it must exist). Raises std::runtime_error with Thunderbird's output
// when the master cannot be made, e.g. when Thunderbird is not installed.
ThunderbirdHome CopyThunderbirdHome(const QString& folder);

// Runs the installed Thunderbird headless on the copy's HOME (for example
// -CreateProfile, which reads profiles.ini and writes it anew) and returns
// its output. Raises std::runtime_error when it fails.
QByteArray RunThunderbird(const ThunderbirdHome& home, const QStringList& args);

// The master itself, read only.
const ThunderbirdHome& MasterThunderbirdHome();

} // namespace ardanto::test
