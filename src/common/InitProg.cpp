#include "common/InitProg.h"

#include "common/IniFileUtils.h"
#include "common/LangUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>

#include <pwd.h>
#include <vector>
#include <unistd.h>

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
  if (program.isEmpty())
    return false;
  QProcess process;
  process.start(program, {u"--version"_s});
  if (!process.waitForStarted(5000) || !process.waitForFinished(5000)) {
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
  info = TFileVersionInfo();
  info.InternalName = line.left(blank).trimmed();
  info.Version = line.mid(blank + 1);
  info.Description = info.InternalName;
  return !info.Version.isEmpty();
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
