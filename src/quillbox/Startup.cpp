#include "quillbox/Startup.h"

#include "common/CommandLine.h"
#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "common/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>

namespace quillbox {

using namespace Qt::StringLiterals;
using namespace ardanto::platform;

namespace {

const QString kConfig = u"Config"_s;

enum TOptionWord : int {
  owForce,
  owIni,
  owTaskDir,
  owBackupDir,
  owLogMode,
  owLogDir,
  owDark,
  owExclude,
  owEnd,
  owSuspend,
  owWait,
  owPrompt,
  owNone = -1,
};

// The first word that given is a prefix of; an empty text is a prefix of the
// first word.
int MatchWord(const QString& given, std::initializer_list<QStringView> words)
{
  int index = 0;
  for (const QStringView word : words) {
    if (given.isEmpty() || (given.size() <= word.size() && word.startsWith(given)))
      return index;
    ++index;
  }
  return owNone;
}

int MatchOption(const QString& word)
{
  return MatchWord(word, {u"force", u"ini", u"taskdir", u"backupdir", u"logmode", u"logdir", u"dark", u"exclude",
                          u"end", u"suspend", u"wait", u"prompt"});
}

// A bare "/" or "-" is an option with an empty word.
bool IsOption(const QString& arg)
{
  return arg == u"/"_s || arg == u"-"_s || ardanto::IsOptionArgument(arg);
}

} // namespace

int OptionNumber(const QString& value, int fallback)
{
  QStringView text(value);
  while (!text.isEmpty() && text.front() == u' ')
    text = text.mid(1);
  const qsizetype blank = text.indexOf(u' ');
  if (blank >= 0)
    text = text.left(blank);
  bool ok = false;
  const int number = text.toInt(&ok, 10);
  return ok ? number : fallback;
}

TCommandLine ParseCommandLine(const QStringList& arguments)
{
  TCommandLine result;
  bool profileSeen = false;
  for (const QString& arg : arguments) {
    if (!IsOption(arg)) {
      if (!profileSeen) {
        result.MailProfile = arg;
        profileSeen = true;
      }
      continue;
    }
    const QString body = arg.mid(1);
    const qsizetype colon = body.indexOf(u':');
    const QString word = (colon < 0 ? body : body.left(colon)).toLower();
    const QString value = colon < 0 ? QString() : body.mid(colon + 1);
    const QString lowerValue = value.toLower();
    switch (MatchOption(word)) {
    case owForce:
      result.Force = true;
      break;
    case owIni:
      result.IniGiven = true;
      result.IniName = value;
      break;
    case owTaskDir:
      result.JobDir = value;
      break;
    case owBackupDir:
      result.BuDir = value;
      break;
    case owLogMode:
      result.LogMode = OptionNumber(value, 0);
      break;
    case owLogDir:
      result.LogDir = ardanto::SetDirName(value);
      break;
    case owDark:
      result.UseDarkMode = true;
      break;
    case owExclude:
      result.ExcludedDirs = value;
      break;
    case owEnd: {
      // "lockdown" before "logoff": "lo" locks down.
      static constexpr std::array<TDownMode, 5> modes{dmShutdown, dmShutdown, dmLogOff, dmRestart, dmPowerOff};
      const int mode = MatchWord(lowerValue, {u"shutdown", u"lockdown", u"logoff", u"restart", u"poweroff"});
      if (mode >= 0)
        result.LogOffMode = modes[static_cast<std::size_t>(mode)];
      break;
    }
    case owSuspend: {
      const int mode = MatchWord(lowerValue, {u"standby", u"hibernate"});
      if (mode >= 0)
        result.SuspendMode = mode == 0 ? smStandby : smHibernate;
      break;
    }
    case owWait:
      result.WaitDelay = OptionNumber(value, 5);
      break;
    case owPrompt: {
      static constexpr std::array<int, 4> prompts{0, 2, 3, 4};
      const int prompt = MatchWord(lowerValue, {u"wait", u"quiet", u"error", u"silent"});
      result.StatusPrompt = prompt >= 0 ? prompts[static_cast<std::size_t>(prompt)] : 1;
      break;
    }
    default:
      break; // unknown words, "status" and "hide" among them
    }
  }
  // A task file opened from the file manager ("quillbox %f" of the menu
  // entry): its profile, and its folder as the task folder unless one is given.
  const QString& path = result.MailProfile;
  if (path.contains(ardanto::kPathDelim) &&
      (path.endsWith(u".buj"_s, Qt::CaseInsensitive) || path.endsWith(u".rsj"_s, Qt::CaseInsensitive))) {
    const QFileInfo file(path);
    if (result.JobDir.isEmpty())
      result.JobDir = file.absolutePath();
    QString profile = file.completeBaseName();
    if (profile.startsWith(u"tb-"_s, Qt::CaseInsensitive))
      profile.remove(0, 3);
    result.MailProfile = profile;
  }
  return result;
}

QString IniNameFromOption(const QString& value, const QString& settingsFolder, const QString& currentFolder)
{
  const QString defaultName = u"Quillbox.ini"_s;
  if (ardanto::IsAbsolutePath(value) && (value.endsWith(ardanto::kPathDelim) || ardanto::GetExt(value).isEmpty()))
    return ardanto::SetDirName(value) + defaultName;
  if (!value.contains(ardanto::kPathDelim)) {
    const QString name = value.contains(u'.') ? value : value + u".ini"_s;
    return ardanto::SetDirName(settingsFolder) + name;
  }
  QString name = value;
  if (ardanto::GetExt(name).compare(u"ini"_s, Qt::CaseInsensitive) != 0)
    name += u".ini"_s;
  return QDir::cleanPath(QDir(currentFolder).absoluteFilePath(name));
}

void MigrateSettingsFile(const QString& iniName, const QString& settingsFolder, const QString& suiteFolder,
                         const QString& oldSuiteFolder)
{
  if (QFileInfo::exists(iniName))
    return;
  const auto same = [](const QString& a, const QString& b) { return QDir::cleanPath(a) == QDir::cleanPath(b); };
  if (same(settingsFolder, suiteFolder))
    return;
  const QString name = ardanto::ExtractFileName(iniName);
  const QString current = ardanto::SetDirName(suiteFolder) + name;
  if (QFileInfo(current).isFile() && QFile::copy(current, iniName))
    return;
  const QString old = ardanto::SetDirName(oldSuiteFolder) + name;
  if (QFileInfo(old).isFile())
    QFile::copy(old, iniName);
}

QString DefaultExcludedFiles()
{
  return u"parent.lock,global-messages-db.sqlite"_s;
}

QString DefaultExcludedTypes()
{
  return u"SQLITE-SHM,SQLITE-WAL,LZ4,BAK,LOCK"_s;
}

TProgramSettings LoadProgramSettings(const QString& iniName)
{
  TProgramSettings settings;
  const ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForRead(iniName);
  settings.Top = ini.ReadInteger(kConfig, u"Top"_s, -1);
  settings.Left = ini.ReadInteger(kConfig, u"Left"_s, -1);
  settings.BackupDirectory = ini.ReadString(kConfig, u"BackupDirectory"_s, QString());
  settings.MailProfile = ini.ReadString(kConfig, u"MailProfile"_s, QString());
  settings.BackupCalendar = ini.ReadBool(kConfig, u"BackupCalendar"_s, true);
  settings.WaitTime = ini.ReadInteger(kConfig, u"WaitTime"_s, 5);
  if (settings.WaitTime < 1 || settings.WaitTime > 99)
    settings.WaitTime = 5;
  settings.StatusWindow = ini.ReadInteger(kConfig, u"StatusWindow"_s, 1);
  if (settings.StatusWindow < 0 || settings.StatusWindow > 4)
    settings.StatusWindow = 1;
  settings.ExcludedFiles = ini.ReadString(kConfig, u"ExcludedFiles"_s, DefaultExcludedFiles());
  settings.ExcludedTypes = ini.ReadString(kConfig, u"ExcludedTypes"_s, DefaultExcludedTypes());
  return settings;
}

void SaveProgramSettings(const QString& iniName, const TProgramSettings& settings, const QString& title,
                         const QString& version)
{
  ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForWrite(iniName);
  ini.WriteProgramInfo(u"Program"_s, title);
  ini.WriteProgramInfo(u"Version"_s, version);
  ini.WriteInteger(kConfig, u"Top"_s, settings.Top);
  ini.WriteInteger(kConfig, u"Left"_s, settings.Left);
  ini.WriteString(kConfig, u"BackupDirectory"_s, settings.BackupDirectory);
  ini.WriteString(kConfig, u"MailProfile"_s, settings.MailProfile);
  ini.WriteBool(kConfig, u"BackupCalendar"_s, settings.BackupCalendar);
  ini.WriteInteger(kConfig, u"WaitTime"_s, settings.WaitTime);
  ini.WriteInteger(kConfig, u"StatusWindow"_s, settings.StatusWindow);
  ini.WriteString(kConfig, u"ExcludedFiles"_s, settings.ExcludedFiles);
  ini.WriteString(kConfig, u"ExcludedTypes"_s, settings.ExcludedTypes);
  ini.UpdateFile();
}

} // namespace quillbox
