#include "portkeep/Startup.h"

#include "common/CommandLine.h"
#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"

#include <QDir>
#include <QLocale>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

TCommandLine ParseCommandLine(const QStringList& arguments, const QString& jobFolder)
{
  TCommandLine result;
  const QStringList words{u"dark"_s, u"close"_s, u"force"_s};
  for (const QString& arg : arguments) {
    const bool bareMark = arg == u"-"_s || arg == u"/"_s;
    if (!bareMark && !IsOptionArgument(arg)) {
      QString name = ExpandPathPlaceholders(arg);
      if (!IsAbsolutePath(name))
        name = SetDirName(jobFolder) + name;
      result.TaskName = AddExt(name, u"pkj"_s, 0);
      continue;
    }
    const QString word = arg.mid(1).toLower();
    int match = -1;
    if (word.isEmpty()) {
      match = 0; // an empty word is a prefix of the first
    } else {
      for (int i = 0; i < words.size() && match < 0; ++i) {
        if (MatchesOptionWord(word, words[i]))
          match = i;
      }
    }
    if (match == 0)
      result.UseDarkMode = true;
    else if (match == 1)
      result.CloseProg = true;
    else if (match == 2)
      result.ForceTask = true;
  }
  return result;
}

TPortkeepFolders DetermineFolders(bool programOnUsbDrive)
{
  TPortkeepFolders folders;
  const QString programFolder = CurrentProgramPaths().ProgramFolder;
  folders.AppPath = ProgramIniFolder(u"Ardanto6/"_s, false);
  folders.UserPath = DocumentsFolder();
  if (folders.AppPath.isEmpty() || programOnUsbDrive) {
    folders.SettingsFolder = programFolder;
  } else {
    folders.SettingsFolder = SetDirName(SettingsFolder(folders.AppPath));
    if (!QDir().mkpath(folders.SettingsFolder))
      folders.SettingsFolder = folders.AppPath;
  }
  folders.EngineSettingsFile = folders.SettingsFolder + u"Ardanto.ini"_s;
  folders.JobFolder = JobFolder(folders.EngineSettingsFile, folders.UserPath);
  folders.IniName = folders.SettingsFolder + u"Portkeep.ini"_s;
  return folders;
}

QString AutoRunLogFile(const QString& settingsFolder, const QString& taskName)
{
  return SetDirName(settingsFolder) + u"pk-"_s + NewExt(ExtractFileName(taskName), u"log"_s);
}

QString AutoRunHeader(const QString& title, const QString& version)
{
  return title + BitnessText() + u" ("_s + version.section(u'.', 0, 3) + u')';
}

QString AutoRunStartLine(const QDateTime& start, const QString& taskName)
{
  return u"==> "_s + _("Start: ") + QLocale().toString(start, QLocale::ShortFormat) + u" - "_s + _("Backup task") +
         u": "_s + ExtractFileName(taskName);
}

QString DurationText(qint64 seconds)
{
  if (seconds < 0)
    seconds = 0;
  const qint64 hours = seconds / 3600;
  return QString::number(hours).rightJustified(2, u'0') + u':' +
         QString::number((seconds / 60) % 60).rightJustified(2, u'0') + u':' +
         QString::number(seconds % 60).rightJustified(2, u'0');
}

QString AutoRunFinishedLine(const QDateTime& start, const QDateTime& end)
{
  return u"==> "_s + _("Backup finished") + u": "_s + QLocale().toString(end, QLocale::ShortFormat) + u" ("_s +
         DurationText(start.secsTo(end)) + u')';
}

QString AutoRunNotRunLine(const QDateTime& end)
{
  return u"==> "_s + _("Backup not run") + u": "_s + QLocale().toString(end, QLocale::ShortFormat);
}

void WriteLogFile(const QString& fileName, const QStringList& lines)
{
  QByteArray bytes("\xEF\xBB\xBF");
  for (const QString& line : lines)
    bytes += line.toUtf8() + '\n';
  if (const int error = WriteFileAtomically(fileName, bytes, 0644))
    throw EWriteFileStreamError(FormatText(_("Error writing to \"%s\""), {fileName}), error);
}

} // namespace portkeep
