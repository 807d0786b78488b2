#include "quillbox/Profiles.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/TextEncoding.h"
#include "common/Translate.h"

#include <QDir>
#include <QFileInfo>

namespace quillbox {

using namespace Qt::StringLiterals;
using ardanto::TIniEncoding;
using ardanto::TUnicodeIniFile;

namespace {

const QString kDefaultRelease = u"default-release"_s;
// profiles.ini is a few hundred bytes; anything near this size is not Thunderbird's.
constexpr std::int64_t kMaxIniSize = std::int64_t(1) << 20;

bool SameText(const QString& a, const QString& b)
{
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString WithSlash(const QString& path)
{
  return path.endsWith(u'/') ? path : path + u'/';
}

// A folder name without "." and ".." steps and without a trailing "/".
QString CleanFolder(const QString& path)
{
  return QDir::cleanPath(path);
}

bool IsValidUtf8(QByteArrayView bytes)
{
  qsizetype i = 0;
  const qsizetype n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    int follow = 0;
    if (c < 0x80)
      follow = 0;
    else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
      follow = 1;
    else if ((c & 0xF0) == 0xE0)
      follow = 2;
    else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
      follow = 3;
    else
      return false;
    if (i + follow >= n && follow > 0)
      return false;
    for (int k = 1; k <= follow; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
        return false;
    }
    i += follow + 1;
  }
  return true;
}

bool HasMark(QByteArrayView bytes)
{
  return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

// Why bytes read from an INI file cannot be written back as they came: the
// reader would have dropped or replaced part of them. Empty when they can.
QString DamageOf(QByteArrayView bytes)
{
  if (bytes.startsWith("\xEF\xBB\xBF"))
    return IsValidUtf8(bytes.sliced(3)) ? QString() : _("its UTF-8 text is invalid");
  if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
    return bytes.size() % 2 == 0 ? QString() : _("its UTF-16 text has an odd number of bytes");
  return bytes.contains('\0') ? _("it holds binary data") : QString();
}

// Reads profiles.ini whole; false with the system's reason when it cannot.
bool ReadIniBytes(const QString& fileName, QByteArray& bytes, QString& problem)
{
  if (!QFileInfo(fileName).isFile()) {
    problem = ardanto::FormatText(_("Cannot open file \"%s\". %s"), {fileName, _("It is not a regular file.")});
    return false;
  }
  try {
    bytes = ardanto::ReadWholeFile(fileName, kMaxIniSize);
    return true;
  } catch (const ardanto::EArdantoError& e) {
    problem = e.Message();
    return false;
  }
}

// The Windows-1252 bytes the characters were read from, one character each,
// so that the UTF-8 test sees bytes 0x80-0x9F as the bytes they were.
QString AsReadBytes(const QString& text)
{
  QByteArray bytes;
  return ardanto::EncodeWindows1252(text, bytes) ? QString::fromLatin1(bytes) : text;
}

QString ReadInstallDefault(const QString& fileName, const QString& id, TIniEncoding unmarked)
{
  const QFileInfo info(fileName);
  if (!info.isFile() || info.size() > kMaxIniSize)
    return QString();
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName, unmarked);
    return ini.ReadString(id, u"Default"_s, QString());
  } catch (const ardanto::EArdantoError&) {
    return QString();
  }
}

// The profile folder a Path value names; empty when a relative one climbs out
// of the Thunderbird folder or an absolute one is not absolute.
QString ProfileFolder(const QString& tbApp, const QString& path, bool relative)
{
  if (!relative)
    return QDir::isAbsolutePath(path) ? CleanFolder(path) : QString();
  const QString app = CleanFolder(tbApp);
  const QString full = CleanFolder(tbApp + path);
  return full == app || full.startsWith(app + u'/') ? full : QString();
}

} // namespace

TMailProfile::TMailProfile(const QString& AProfileName, const QString& APath, const QString& AFull, bool ARelative,
                           bool ADefault, int ASection)
  : ProfileName(AProfileName), Path(APath), FullPath(AFull), Default(ADefault), Relative(ARelative), Section(ASection)
{
}

void TProfileList::AddProfile(const QString& AProfile, const QString& APath, const QString& AFull, bool ARelative,
                              bool ADefault, int ASection)
{
  const QString shown = DisplayName(AProfile);
  FEntries.push_back(TEntry{AProfile, TMailProfile(shown, APath, AFull, ARelative, ADefault, ASection)});
  if (FDefProfile.isEmpty() && ADefault)
    FDefProfile = AProfile;
}

void TProfileList::Clear()
{
  FEntries.clear();
  FDefProfile.clear();
}

qsizetype TProfileList::IndexOf(const QString& AProfile) const
{
  for (std::size_t i = 0; i < FEntries.size(); ++i) {
    if (SameText(FEntries[i].Name, AProfile))
      return static_cast<qsizetype>(i);
  }
  return -1;
}

QStringList TProfileList::Names() const
{
  QStringList names;
  for (const TEntry& e : FEntries)
    names.append(e.Name);
  return names;
}

QString TProfileList::DisplayName(const QString& name) const
{
  return SameText(name, FDefProfile) ? _("Default user") : name;
}

QString TProfileList::GetProfileName(const QString& AProfile) const
{
  const qsizetype i = IndexOf(AProfile);
  return i < 0 ? AProfile : DisplayName(Profile(i).ProfileName);
}

QString TProfileList::GetPathName(const QString& AProfile) const
{
  const qsizetype i = IndexOf(AProfile);
  if (i < 0)
    return QString();
  const TMailProfile& p = Profile(i);
  return p.Relative ? u"<Thunderbird>/"_s + p.Path : p.Path;
}

QString TProfileList::GetFullPath(const QString& AProfile) const
{
  const qsizetype i = IndexOf(AProfile);
  return i < 0 ? QString() : Profile(i).FullPath;
}

void TProfileList::SetDefault(const QString& AProfile)
{
  const qsizetype chosen = IndexOf(AProfile);
  if (chosen >= 0) {
    // The shown name comes from the default as it was before this call.
    const QString shown = DisplayName(AProfile);
    for (TEntry& e : FEntries) {
      e.Profile.ProfileName = e.Name;
      e.Profile.Default = false;
    }
    Profile(chosen).ProfileName = shown;
    Profile(chosen).Default = true;
  }
  FDefProfile = AProfile;
}

QString TProfileList::DefaultProfile()
{
  if (FEntries.empty())
    return QString();
  QString name;
  if (FEntries.size() == 1) {
    name = FEntries.front().Name;
  } else if (!FDefProfile.isEmpty()) {
    name = FDefProfile;
  } else if (IsInList(kDefaultRelease)) {
    name = Name(IndexOf(kDefaultRelease));
  } else if (IsInList(u"default"_s)) {
    name = Name(IndexOf(u"default"_s));
  } else {
    name = FEntries.front().Name;
    for (const TEntry& e : FEntries) {
      if (e.Profile.Path.endsWith(u".default-release"_s, Qt::CaseInsensitive)) {
        name = e.Name;
        break;
      }
    }
  }
  SetDefault(name);
  return name;
}

void TProfileList::SetDefaultFromPath(const QString& APath)
{
  const QString wanted = WithSlash(APath);
  for (const TEntry& e : FEntries) {
    if (!e.Profile.Path.isEmpty() && SameText(WithSlash(e.Profile.Path), wanted)) {
      const QString name = e.Name; // SetDefault changes the entries
      SetDefault(name);
      return;
    }
  }
}

bool LooksLikeUtf8(QStringView text)
{
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if ((text[i].unicode() & 0xC0) == 0xC0 && (text[i + 1].unicode() & 0xC0) == 0x80)
      return true;
  }
  return false;
}

QStringList ThunderbirdFolders(const QString& home)
{
  const QString base = WithSlash(home);
  return {base + u".thunderbird/"_s, base + u"snap/thunderbird/common/.thunderbird/"_s,
          base + u".var/app/org.mozilla.Thunderbird/.thunderbird/"_s};
}

QString FindThunderbirdFolder(const QString& home)
{
  const QStringList folders = ThunderbirdFolders(home);
  for (const QString& folder : folders) {
    if (QFileInfo::exists(folder + u"profiles.ini"_s))
      return folder;
  }
  return folders.front();
}

TThunderbirdProfiles::TThunderbirdProfiles(const QString& tbApp)
  : FTbApp(WithSlash(tbApp)), FTbProf(FTbApp + u"profiles.ini"_s)
{
}

bool TThunderbirdProfiles::ReadProfiles()
{
  if (!QFileInfo::exists(FTbProf))
    return false;
  QByteArray bytes;
  QString problem;
  if (!ReadIniBytes(FTbProf, bytes, problem)) {
    FReadDone = false;
    FReadProblem = problem;
    return false;
  }
  const QString damage = DamageOf(bytes);
  FReadProblem = damage.isEmpty() ? QString() : ardanto::FormatText(_("\"%s\" is damaged: %s"), {FTbProf, damage});
  try {
    if (!ParseProfilesIni(TIniEncoding::Ansi))
      ParseProfilesIni(TIniEncoding::Utf8NoMark);
  } catch (const ardanto::EArdantoError& e) {
    FReadDone = false;
    FReadProblem = e.Message();
    return false;
  }
  FReadDone = true;
  if (FList.IsEmpty())
    return false;
  FList.DefaultProfile();
  return true;
}

bool TThunderbirdProfiles::ParseProfilesIni(TIniEncoding unmarked)
{
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(FTbProf, unmarked);
  FTbEnc = ini.ReadEncoding();

  QString installId;
  const QStringList sections = ini.ReadSections();
  for (const QString& section : sections) {
    if (section.startsWith(u"install"_s, Qt::CaseInsensitive)) {
      installId = section.mid(7);
      break;
    }
  }
  const QString installDefault =
      installId.isEmpty() ? QString() : ReadInstallDefault(FTbApp + u"installs.ini"_s, installId, unmarked);

  FList.Clear();
  bool plain = true;
  for (int n = 0; n <= 9; ++n) {
    const QString section = u"Profile"_s + QString::number(n);
    if (!ini.SectionExists(section))
      continue;
    const QString name = ini.ReadString(section, u"Name"_s, kDefaultRelease);
    const QString path = ini.ReadString(section, u"Path"_s, QString());
    if (FTbEnc == TIniEncoding::Ansi && (LooksLikeUtf8(AsReadBytes(name)) || LooksLikeUtf8(AsReadBytes(path))))
      plain = false;
    const bool relative = ini.ReadBool(section, u"IsRelative"_s, true);
    const bool isDefault = ini.ReadBool(section, u"Default"_s, false);
    // A name no one could pick or a folder outside the profile's place is no profile.
    if (name.isEmpty())
      continue;
    const QString full = ProfileFolder(FTbApp, path, relative);
    if (!full.isEmpty() && QFileInfo(full).isDir() && FList.NotInList(name))
      FList.AddProfile(name, path, full, relative, isDefault, n);
  }
  if (plain && !installDefault.isEmpty())
    FList.SetDefaultFromPath(installDefault);
  return plain;
}

bool TThunderbirdProfiles::CheckProfile(const QString& mailProfile, QString& mailDir, QString& shownPath,
                                        QString& error)
{
  if (!ReadProfiles()) {
    error = _("No Thunderbird profiles found!");
    return false;
  }
  if (FList.NotInList(mailProfile)) {
    error = ardanto::FormatText(_("Profile \"%s\" not found!"), {mailProfile});
    return false;
  }
  mailDir = FList.GetFullPath(mailProfile);
  shownPath = FList.GetPathName(mailProfile);
  error.clear();
  return true;
}

bool TThunderbirdProfiles::UpdateProfilesIni(const QString& mailProfile, const QString& mailDir, QString& error)
{
  const qsizetype index = FList.IndexOf(mailProfile);
  if (index < 0) {
    error = ardanto::FormatText(_("Profile \"%s\" not found!"), {mailProfile});
    return false;
  }
  TMailProfile& entry = FList.Profile(index);
  const QString dir = CleanFolder(mailDir);
  const QString app = CleanFolder(FTbApp);
  // Linux file names are case-sensitive, so the prefix is compared exactly.
  QString path = dir;
  if (dir == app)
    path.clear();
  else if (dir.startsWith(app + u'/'))
    path = dir.mid(app.size() + 1);
  entry.FullPath = dir;
  entry.Path = path;
  entry.Relative = dir != path;

  const QString unchanged = ardanto::FormatText(_("\"%s\" is left unchanged."), {FTbProf});
  if (!FReadDone) {
    error = FReadProblem + u'\n' + unchanged;
    return false;
  }
  QByteArray bytes;
  QString problem;
  if (!ReadIniBytes(FTbProf, bytes, problem)) {
    error = problem + u'\n' + unchanged;
    return false;
  }
  const QString damage = DamageOf(bytes);
  if (!damage.isEmpty()) {
    error = ardanto::FormatText(_("\"%s\" is damaged: %s"), {FTbProf, damage}) + u'\n' + unchanged;
    return false;
  }
  // Without a byte-order mark, valid UTF-8 is read as UTF-8 and anything else
  // as Windows-1252: either way every line not written here goes back byte for
  // byte, and new names come out as UTF-8 where Thunderbird reads UTF-8.
  const TIniEncoding unmarked = HasMark(bytes) || !IsValidUtf8(bytes) ? TIniEncoding::Ansi : TIniEncoding::Utf8NoMark;
  try {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(FTbProf, unmarked);
    const QString section = u"Profile"_s + QString::number(entry.Section);
    if (entry.Section < 0 || !ini.SectionExists(section) ||
        !SameText(ini.ReadString(section, u"Name"_s, kDefaultRelease), FList.Name(index))) {
      error = ardanto::FormatText(_("\"%s\" has changed since it was read."), {FTbProf}) + u'\n' + unchanged;
      return false;
    }
    if (ini.ReadEncoding() == TIniEncoding::Ansi) {
      QByteArray encoded;
      if (!ardanto::EncodeWindows1252(QString(FList.Name(index) + entry.Path), encoded)) {
        error =
            ardanto::FormatText(_("The folder \"%s\" cannot be written in the encoding of \"%s\"."), {dir, FTbProf}) +
            u'\n' + unchanged;
        return false;
      }
    }
    ini.WriteString(section, u"Name"_s, FList.Name(index));
    ini.WriteBool(section, u"IsRelative"_s, entry.Relative);
    ini.WriteString(section, u"Path"_s, entry.Path);
    ini.WriteBool(section, u"Default"_s, entry.Default);
    ini.SetEncoding(ini.ReadEncoding());
    QByteArray out = ini.ToBytes();
    const bool singleByteLines = ini.ReadEncoding() == TIniEncoding::Ansi || ini.ReadEncoding() == TIniEncoding::Utf8 ||
                                 ini.ReadEncoding() == TIniEncoding::Utf8NoMark;
    if (singleByteLines && !bytes.contains('\r'))
      out.replace("\r\n", "\n"); // Thunderbird's own line ends
    if (const int code = ardanto::WriteFileAtomically(FTbProf, out, 0644)) {
      error = ardanto::FormatText(_("Error writing to \"%s\""), {FTbProf}) + u' ' + ardanto::SystemErrorText(code);
      return false;
    }
  } catch (const ardanto::EArdantoError& e) {
    error = e.Message() + u'\n' + unchanged;
    return false;
  }
  error.clear();
  return true;
}

QString BackupInfoFile(const QString& folder)
{
  return WithSlash(folder) + u"bu-profiles.ini"_s;
}

bool WriteBackupInfo(const QString& folder, const QString& mailProfile, const QString& mailDir, QString& error)
{
  try {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(BackupInfoFile(folder));
    ini.WriteString(mailProfile, u"Path"_s, mailDir);
    ini.UpdateFile();
  } catch (const ardanto::EArdantoError& e) {
    error = e.Message();
    return false;
  }
  error.clear();
  return true;
}

QString ReadBackupInfo(const QString& fileName, const QString& profile)
{
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
    return ini.ReadString(profile, u"Path"_s, QString());
  } catch (const ardanto::EArdantoError&) {
    return QString();
  }
}

} // namespace quillbox
