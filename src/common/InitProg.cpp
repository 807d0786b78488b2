#include "common/InitProg.h"

#include "common/IniFileUtils.h"
#include "common/LangUtils.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "common/VolumePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>

#include <mutex>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

QString ConfigHome()
{
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString ReadConf(const QString& file, const QString& key)
{
  try {
    return TUnicodeIniFile::CreateForRead(file).ReadString(u"Ardanto6"_s, key, QString()).trimmed();
  } catch (const std::exception&) {
    return QString(); // an unreadable file counts as a missing value
  }
}

std::mutex gLogFolderLock;
QString gProtDir;
QString gSettingsFolder;

} // namespace

QString ProgramIniFolder(const QString& subfolder, bool create)
{
  const QString programFolder = CurrentProgramPaths().ProgramFolder;
  const QString config = ConfigHome();
  if (config.isEmpty())
    return programFolder;
  const QString folder = SetDirName(AddPath(config, subfolder));
  if (create && !QDir().mkpath(folder))
    return programFolder;
  return folder;
}

QString SettingsFolder(const QString& defaultFolder)
{
  const QString iniPath = ReadConf(ConfigHome() + u"/ardanto6.conf"_s, u"IniPath"_s);
  return iniPath.isEmpty() ? defaultFolder : SetDirName(iniPath);
}

QString FindEngine()
{
  return FindEngine(u"/etc/ardanto6.conf"_s);
}

QString FindEngine(const QString& systemConfFile)
{
  // Absolute, because a bare name is looked up on PATH when it is started;
  // and a stale entry in the system file is no reason to stop looking.
  const auto usable = [](const QString& candidate) {
    const QFileInfo info(candidate);
    return !candidate.isEmpty() && info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
  };
  const QString name = u"ardanto"_s;
  const QStringList candidates{name, CurrentProgramPaths().ProgramFolder + name,
                               ReadConf(systemConfFile, u"Program"_s)};
  for (const QString& candidate : candidates) {
    const QString found = usable(candidate);
    if (!found.isEmpty())
      return found;
  }
  return usable(QStandardPaths::findExecutable(name));
}

QString UserName()
{
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return QString::fromLocal8Bit(found->pw_name);
  // Containers sometimes run with a user id that has no passwd entry.
  QString name = qEnvironmentVariable("USER");
  return name.isEmpty() ? qEnvironmentVariable("LOGNAME") : name;
}

QString SamUserName()
{
  return UserName();
}

QString ComputerName()
{
  return QSysInfo::machineHostName();
}

QString DocumentsFolder()
{
  return SetDirName(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

QString VersionText(const QString& version, int parts)
{
  return _("Version") + u' ' + version.section(u'.', 0, parts - 1);
}

TFileVersionInfo ProgramVersionInfo(const QString& programName)
{
  TFileVersionInfo info;
  info.Company = u"Ardanto"_s;
  info.Description = programName;
  info.Version = QStringLiteral(ARDANTO_VERSION) + u".0"_s;
  info.InternalName = programName;
  info.Copyright = u"Ardanto backup suite"_s;
  return info;
}

bool ReadVersionInfo(const QString& program, TFileVersionInfo& info)
{
  return ReadVersionInfo(program, info, 5000);
}

bool ReadVersionInfo(const QString& program, TFileVersionInfo& info, int timeoutMs)
{
  if (program.isEmpty())
    return false;
  QProcess process;
  // Nothing to read from us: a program that asks for input gets its end at once.
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(program, {u"--version"_s});
  if (!process.waitForStarted(timeoutMs) || !process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(1000);
    return false;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    return false;
  const QString line = QString::fromUtf8(process.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
  const qsizetype blank = line.lastIndexOf(u' ');
  if (blank <= 0)
    return false;
  QString version = line.mid(blank + 1);
  if (version.startsWith(u'v') || version.startsWith(u'V'))
    version.remove(0, 1);
  // A usage text or a greeting is no version: "ardanto 6.2.1", "sleep (GNU coreutils) 9.1".
  static const QRegularExpression pattern(u"^\\d+(\\.\\d+)*([-+~.][0-9A-Za-z.~+-]*)?$"_s);
  if (!pattern.match(version).hasMatch())
    return false;
  info = TFileVersionInfo();
  info.InternalName = line.left(blank).trimmed();
  info.Version = version;
  info.Description = info.InternalName;
  return true;
}

QString BitnessText()
{
  return sizeof(void*) == 8 ? u" - 64-bit"_s : u" - 32-bit"_s;
}

QString InfoText(const QString& title, const QString& version, const QString& fileDate, const QString& enginePath,
                 int parts)
{
  QString text = title + BitnessText() + u" ("_s + _("Version") + u' ' + version + u") - "_s + fileDate;
  text += u"\n"_s + _("Part of the Ardanto backup suite for Linux");
  TFileVersionInfo engine;
  if (ReadVersionInfo(enginePath, engine)) {
    text += u"\n"_s + _("Part of program package:") + u'\n' + engine.InternalName + BitnessText();
    if (parts > 0)
      text += u" ("_s + VersionText(engine.Version, parts) + u')';
  }
  return text;
}

QString QuoteIfBlank(const QString& text)
{
  if (!text.contains(u' '))
    return text;
  QString quoted = text;
  quoted.replace(u"\""_s, u"\"\""_s);
  return u'"' + quoted + u'"';
}

QString OptionItem(const QString& word)
{
  return u" /"_s + word;
}

QString OptionItem(const QString& word, const QString& value)
{
  return u' ' + QuoteIfBlank(u'/' + word + u':' + value);
}

QStringList SplitCommandLine(const QString& commandLine)
{
  QStringList items;
  const qsizetype size = commandLine.size();
  qsizetype i = 0;
  for (;;) {
    while (i < size && commandLine[i] == u' ')
      ++i;
    if (i >= size)
      return items;
    QString item;
    if (commandLine[i] == u'"') {
      for (++i; i < size; ++i) {
        if (commandLine[i] != u'"') {
          item += commandLine[i];
        } else if (i + 1 < size && commandLine[i + 1] == u'"') {
          item += u'"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    }
    while (i < size && commandLine[i] != u' ')
      item += commandLine[i++];
    items.append(item);
  }
}

QString EngineResultText(int code)
{
  switch (code & 0xFF) {
  case 1:
    return _("Task not found") + u'!';
  case 2:
    return _("Destination path not found") + u'!';
  case 3:
    return _("Source directory not found") + u'!';
  case 4:
    return _("Errors during backup") + u'!';
  case 5:
    return _("The backup was aborted by the user or due to an error") + u'!';
  case 6:
    return _("Invalid task configuration") + u'!';
  default:
    return _("Unexpected error") + u'!';
  }
}

void SetLogFolderSources(const QString& protDir, const QString& settingsFolder)
{
  const std::lock_guard lock(gLogFolderLock);
  gProtDir = protDir;
  gSettingsFolder = settingsFolder;
}

QString LogFolder()
{
  {
    const std::lock_guard lock(gLogFolderLock);
    if (!gProtDir.isEmpty())
      return SetDirName(gProtDir);
    if (!gSettingsFolder.isEmpty())
      return SetDirName(gSettingsFolder);
  }
  return SetDirName(ConfigHome());
}

QString DefaultDriveId()
{
  return CurrentLanguage() == u"de"_s ? u"Lw?"_s : u"Drv?"_s;
}

QString ExtractFileDrive(const QString& path)
{
  if (path.size() >= 2 && path[1] == u':' && path[0].isLetter() && path[0].unicode() < 128)
    return path.left(2);
  if (path.startsWith(u"\\\\"_s)) {
    // server and share: up to the backslash after the share's name
    const qsizetype server = path.indexOf(u'\\', 2);
    const qsizetype share = server < 0 ? -1 : path.indexOf(u'\\', server + 1);
    return share < 0 ? path : path.left(share);
  }
  return QString();
}

QString DriveFolder(const QString& pattern, const QString& drive)
{
  if (drive.startsWith(u"\\\\"_s))
    return SetDirName(drive.mid(2).replace(u'\\', u'/'));
  if (!drive.contains(u':'))
    return drive == u"/"_s ? QString() : SetDirName(drive);
  const QString letter = drive.left(1).toUpper();
  if (pattern.contains(u'?'))
    return SetDirName(QString(pattern).replace(u'?', letter));
  return SetDirName(pattern + letter);
}

QString SourceFolderInBackup(const QString& backupFolder, const QString& driveId, const QString& source)
{
  const QString drive = ExtractFileDrive(source);
  QString below = source.mid(drive.size());
  while (below.startsWith(u'/') || below.startsWith(u'\\'))
    below.remove(0, 1);
  return SetDirName(backupFolder) + DriveFolder(driveId, drive) + below;
}

QString TaskLogFile(const QString& taskFile)
{
  if (taskFile.isEmpty() || !QFileInfo(taskFile).isFile())
    return QString();
  QString name;
  QString destination;
  QString volume;
  int counter = 1;
  try {
    const TUnicodeIniFile task = TUnicodeIniFile::CreateForRead(taskFile);
    name = task.ReadString(u"Global"_s, u"LogName"_s, QString());
    destination = task.ReadString(u"Global"_s, u"Destination"_s, QString());
    volume = task.ReadString(u"Dir000"_s, u"Volume"_s, QString());
    counter = task.ReadInteger(u"Global"_s, u"BackupCount"_s, 1);
  } catch (const std::exception&) {
    return QString(); // a task that cannot be read names no log
  }
  if (name.isEmpty())
    return QString();
  name.replace(u"%taskname%"_s, QFileInfo(taskFile).completeBaseName(), Qt::CaseInsensitive);
  const QString destPlaceholder = u"%dest%"_s;
  if (name.startsWith(destPlaceholder, Qt::CaseInsensitive)) {
    // Without a destination the name stays as it is rather than turning into
    // a file at the root of the file system.
    if (destination.isEmpty())
      return name;
    QString resolved = destination;
    QString label;
    if (ResolveVolumePath(resolved, label) != vrNotFound)
      destination = ExpandDestinationPlaceholders(resolved, volume, counter);
  }
  const QString result = ExpandLogPlaceholders(name, destination);
  if (IsAbsolutePath(result) || result.startsWith(destPlaceholder, Qt::CaseInsensitive))
    return result;
  return LogFolder() + result;
}

QString JobFolder(const QString& engineSettingsFile, const QString& documentsFolder)
{
  QString folder = SetDirName(documentsFolder) + u"Ardanto/"_s;
  if (QFileInfo(engineSettingsFile).isFile()) {
    try {
      const QString jobDir =
          TUnicodeIniFile::CreateForRead(engineSettingsFile).ReadString(u"Config"_s, u"JobDir"_s, QString());
      if (!jobDir.isEmpty() && QFileInfo(jobDir).isDir())
        folder = SetDirName(jobDir);
    } catch (const std::exception&) {
      // An unreadable engine settings file leaves the default folder.
    }
  }
  return SetDirName(QDir::current().absoluteFilePath(folder));
}

} // namespace ardanto
