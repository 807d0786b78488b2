#pragma once

// Thunderbird's profiles as Quillbox sees them: the data folder, the profile
// list read from profiles.ini and installs.ini, the default profile, writing a
// moved profile folder back into profiles.ini, and the bu-profiles.ini record
// kept in each backup folder.

#include "common/IniFileUtils.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace quillbox {

struct TMailProfile {
  TMailProfile() = default;
  TMailProfile(const QString& AProfileName, const QString& APath, const QString& AFull, bool ARelative, bool ADefault,
               int ASection = -1);

  QString ProfileName; // the name shown: the name, or "Default user"
  QString Path;        // as profiles.ini has it: relative with "/", or absolute
  QString FullPath;    // absolute, without a trailing "/"
  bool Default = false;
  bool Relative = false;
  // N of the [ProfileN] section the entry came from, -1 when not read from a
  // file. Skipped sections make it differ from the entry's position.
  int Section = -1;
};

// Profile names in the order read, each with its profile. Name lookups ignore case.
class TProfileList {
public:
  void AddProfile(const QString& AProfile, const QString& APath, const QString& AFull, bool ARelative, bool ADefault,
                  int ASection = -1);
  // Also forgets the default, so that each reading finds it anew.
  void Clear();

  qsizetype Count() const { return static_cast<qsizetype>(FEntries.size()); }
  bool IsEmpty() const { return FEntries.empty(); }
  qsizetype IndexOf(const QString& AProfile) const;
  const QString& Name(qsizetype index) const { return FEntries[static_cast<std::size_t>(index)].Name; }
  const TMailProfile& Profile(qsizetype index) const { return FEntries[static_cast<std::size_t>(index)].Profile; }
  TMailProfile& Profile(qsizetype index) { return FEntries[static_cast<std::size_t>(index)].Profile; }
  QStringList Names() const;

  bool IsInList(const QString& AProfile) const { return IndexOf(AProfile) >= 0; }
  bool NotInList(const QString& AProfile) const { return IndexOf(AProfile) < 0; }

  // "Default user" for the default profile, otherwise the name itself.
  QString DisplayName(const QString& name) const;
  // The name itself when not in the list, else the display name of the entry's ProfileName.
  QString GetProfileName(const QString& AProfile) const;
  // Path, with "<Thunderbird>/" before a relative one; empty when not in the list.
  QString GetPathName(const QString& AProfile) const;
  QString GetFullPath(const QString& AProfile) const;

  const QString& DefProfile() const { return FDefProfile; }
  void SetDefault(const QString& AProfile);
  // Chooses the default (see the .cpp for the order), makes it the default and returns it.
  QString DefaultProfile();
  void SetDefaultFromPath(const QString& APath);

private:
  struct TEntry {
    QString Name;
    TMailProfile Profile;
  };
  std::vector<TEntry> FEntries;
  QString FDefProfile;
};

// True when some character with both top bits of its low byte set is followed
// by one whose low byte starts with the bits 10: a UTF-8 lead and continuation
// byte pair read as single-byte characters.
bool LooksLikeUtf8(QStringView text);

// Where Thunderbird keeps its data below home: the plain, snap and flatpak
// folders, each with a trailing "/".
QStringList ThunderbirdFolders(const QString& home);
// The first of them that holds a profiles.ini, else the first.
QString FindThunderbirdFolder(const QString& home);

// Thunderbird's data folder and what was read from it: the TbApp, TbProf,
// TbEnc and ProfileList state of Quillbox's main window.
class TThunderbirdProfiles {
public:
  explicit TThunderbirdProfiles(const QString& tbApp);

  const QString& TbApp() const { return FTbApp; }
  const QString& TbProf() const { return FTbProf; }
  // The encoding profiles.ini was last read in.
  ardanto::TIniEncoding TbEnc() const { return FTbEnc; }
  TProfileList& ProfileList() { return FList; }
  const TProfileList& ProfileList() const { return FList; }

  // Reads profiles.ini into the list; true when it lists a profile, and then
  // the default is chosen. A missing or unreadable file leaves the list as it
  // was and gives false.
  bool ReadProfiles();
  // Why the last reading could not be trusted (unreadable or damaged file);
  // empty after a clean read. A damaged file is still listed as far as it
  // goes, but UpdateProfilesIni never rewrites it.
  const QString& ReadProblem() const { return FReadProblem; }

  // The window-free steps of CheckProfile: re-reads the list and finds the
  // profile. On failure error holds the message to show.
  bool CheckProfile(const QString& mailProfile, QString& mailDir, QString& shownPath, QString& error);

  // Records mailDir as the folder of the profile, in the list and in the
  // section of profiles.ini the profile was read from, every other section
  // and key kept. Writes the file atomically in the encoding it was read in.
  // False with a message when the file cannot be trusted or written; the file
  // is then unchanged.
  bool UpdateProfilesIni(const QString& mailProfile, const QString& mailDir, QString& error);

private:
  bool ParseProfilesIni(ardanto::TIniEncoding unmarked);

  QString FTbApp;
  QString FTbProf;
  ardanto::TIniEncoding FTbEnc = ardanto::TIniEncoding::Ansi;
  TProfileList FList;
  bool FReadDone = false; // the list came from a readable profiles.ini
  QString FReadProblem;
};

// [profile] "Path" of the bu-profiles.ini in a backup folder: where the
// profile's mail folder was at the last backup into that folder.
QString BackupInfoFile(const QString& folder);
// Adds or replaces the profile's entry, keeping the others. False with the
// message ("Error writing to ...") when the file cannot be written.
bool WriteBackupInfo(const QString& folder, const QString& mailProfile, const QString& mailDir, QString& error);
// Empty on any error.
QString ReadBackupInfo(const QString& fileName, const QString& profile);

} // namespace quillbox
