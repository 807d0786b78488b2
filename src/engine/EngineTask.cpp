#include "engine/EngineTask.h"

#include "common/CommaText.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "common/TextFilter.h"
#include "common/Translate.h"
#include "mail/MailData.h"

#include <QDir>

#include <limits>

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::FormatText;
using ardanto::TUnicodeIniFile;

namespace {

const QString kGlobal = u"Global"_s;
const QString kRestore = u"Restore"_s;

class TReader {
public:
  TReader(const TUnicodeIniFile& ini, QList<TTaskProblem>& problems) : FIni(ini), FProblems(problems) {}

  void Problem(const QString& section, const QString& key, const QString& reason, TExitCode code = ecInvalidTask)
  {
    FProblems.append({code, u"["_s + section + u"] "_s + key + u": "_s + reason});
  }

  QString String(const QString& section, const QString& key, const QString& defaultValue = QString()) const
  {
    return FIni.ReadString(section, key, defaultValue);
  }

  // An integer within [minimum, maximum]; a missing or empty value gives the
  // default, anything else that is no such number is a problem.
  int Integer(const QString& section, const QString& key, int defaultValue, int minimum, int maximum)
  {
    const QString text = FIni.ReadString(section, key, QString()).trimmed();
    if (text.isEmpty())
      return defaultValue;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < minimum || value > maximum) {
      Problem(section, key, FormatText(_("\"%s\" is not a number from %d to %d"), {text, minimum, maximum}));
      return defaultValue;
    }
    return static_cast<int>(value);
  }

  bool Bool(const QString& section, const QString& key, bool defaultValue)
  {
    const QString text = FIni.ReadString(section, key, QString()).trimmed().toLower();
    if (text.isEmpty())
      return defaultValue;
    if (text == u"true"_s)
      return true;
    if (text == u"false"_s)
      return false;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok) {
      Problem(section, key, FormatText(_("\"%s\" is not a yes/no value"), {text}));
      return defaultValue;
    }
    return value != 0;
  }

private:
  const TUnicodeIniFile& FIni;
  QList<TTaskProblem>& FProblems;
};

QString DirSection(int index)
{
  return u"Dir"_s + u"%1"_s.arg(index, 3, 10, QChar(u'0'));
}

// A local folder as the engine works with it: "/" separators, no trailing
// "/", no "." or ".." parts.
QString CleanFolder(const QString& path)
{
  const QString folder = path.trimmed();
  if (folder.isEmpty())
    return folder;
  return QDir::cleanPath(folder);
}

bool IsAbsoluteFolder(const QString& path)
{
  // A volume path (":label:/rest") is resolved later.
  return path.startsWith(u'/') || path.startsWith(u':');
}

} // namespace

TTaskKind TaskKind(const TUnicodeIniFile& ini)
{
  const bool backup = ini.SectionExists(kGlobal);
  const bool restore = ini.SectionExists(kRestore);
  if (backup && restore)
    return tkBoth;
  return restore ? tkRestore : (backup ? tkBackup : tkNone);
}

QStringList NormaliseTypes(const QString& commaText)
{
  QStringList types;
  for (QString item : ardanto::CommaTextSplit(commaText)) {
    item = item.trimmed();
    if (item.startsWith(u"*."_s))
      item.remove(0, 2);
    else if (item.startsWith(u'.'))
      item.remove(0, 1);
    if (!item.isEmpty() && !types.contains(item.toUpper()))
      types << item.toUpper();
  }
  return types;
}

QString TaskPassword(const QString& stored)
{
  if (stored.isEmpty())
    return QString();
  const QString password = ardanto::UnprotectPassword(stored);
  return password.isEmpty() ? stored : password;
}

bool ReadBackupTask(const TUnicodeIniFile& ini, TBackupTask& task, QList<TTaskProblem>& problems)
{
  const qsizetype before = problems.size();
  TReader read(ini, problems);
  const QString& g = kGlobal;

  task.Destination = read.String(g, u"Destination"_s).trimmed();
  task.DriveId = read.String(g, u"DriveId"_s, ardanto::DefaultDriveId());
  task.BackupCount = read.Integer(g, u"BackupCount"_s, 1, 0, std::numeric_limits<int>::max() - 1);
  task.Compress = read.Bool(g, u"Compress"_s, true);
  task.CompressAsZip = read.Bool(g, u"CompressAsZip"_s, true);
  task.NoCompTypes = NormaliseTypes(read.String(g, u"NoCompTypes"_s));
  task.Encrypt = read.Integer(g, u"Encrypt"_s, 0, 0, 3);
  task.FixPassword = read.Bool(g, u"FixPassword"_s, false);
  task.LogFile = read.Integer(g, u"LogFile"_s, 1, 0, 2);
  task.Timespan = read.Integer(g, u"Timespan"_s, 2, 0, 86400);
  task.IgnoreDst = read.Bool(g, u"IgnoreDst"_s, true);
  task.Sync = read.Integer(g, u"SyncMode"_s, 0, 0, 255) != 0;
  task.UseRecycler = read.Bool(g, u"UseRecycler"_s, false);
  task.EmptyDirs = read.Bool(g, u"EmptyDirs"_s, true);

  if (task.Encrypt > 0 && task.FixPassword) {
    const QString stored = read.String(g, u"Password"_s);
    task.Password = ardanto::UnprotectPassword(stored);
    if (task.Password.isEmpty())
      read.Problem(g, u"Password"_s,
                   stored.isEmpty() ? _("no fixed password for the encryption") : _("the password cannot be read"));
  }

  // Whether it is absolute can only be told once its placeholders are expanded.
  if (task.Destination.isEmpty())
    read.Problem(g, u"Destination"_s, _("No directory specified!"), ecDestination);

  int dirCount = 0;
  const QString countText = read.String(g, u"DirCount"_s).trimmed();
  if (countText.isEmpty()) {
    while (dirCount < kMaxDirCount && ini.SectionExists(DirSection(dirCount)))
      ++dirCount;
  } else {
    dirCount = read.Integer(g, u"DirCount"_s, 0, 0, kMaxDirCount);
  }

  for (int i = 0; i < dirCount; ++i) {
    const QString d = DirSection(i);
    if (!ini.SectionExists(d) || !read.Bool(d, u"Enabled"_s, true))
      continue;
    TBackupEntry entry;
    entry.Section = d;
    entry.Source = CleanFolder(read.String(d, u"Source"_s));
    entry.Volume = read.String(d, u"Volume"_s);
    entry.FilterMode = read.Integer(d, u"FilterMode"_s, 0, 0, 2);
    entry.Regular = read.Bool(d, u"Regular"_s, false);
    entry.Filter = read.String(d, u"Filter"_s);
    entry.ExcludedTypes = NormaliseTypes(read.String(d, u"Exclude"_s));
    read.Integer(d, u"BackupMode"_s, 1, 1, 1);
    if (entry.Source.isEmpty()) {
      read.Problem(d, u"Source"_s, _("No directory specified!"));
      continue;
    }
    if (!IsAbsoluteFolder(entry.Source)) {
      read.Problem(d, u"Source"_s, FormatText(_("\"%s\" is no absolute path"), {entry.Source}));
      continue;
    }
    if (entry.FilterMode != 0) {
      ardanto::TTextFilter filter(true, true);
      filter.SetRegular(entry.Regular);
      try {
        filter.SetFilter(entry.Filter);
      } catch (const ardanto::EFilterError& e) {
        read.Problem(d, u"Filter"_s, e.Message());
      }
    }
    for (const QString& item : ardanto::CommaTextSplit(read.String(d, u"DirFilter"_s))) {
      const QString mask = item.trimmed();
      if (mask.isEmpty())
        continue;
      bool valid = true;
      ardanto::TTextFilter::MatchesMask(u"x"_s, mask, &valid);
      if (!valid)
        read.Problem(d, u"DirFilter"_s, FormatText(_("Illegal mask!") + u" (%s)"_s, {mask}));
      else
        entry.DirMasks << mask;
    }
    task.Entries.push_back(entry);
  }
  if (task.Entries.empty() && problems.size() == before)
    problems.append({ecInvalidTask, _("The task has no enabled source directory")});
  return problems.size() == before;
}

bool ReadRestoreTask(const TUnicodeIniFile& ini, TRestoreTask& task, QList<TTaskProblem>& problems)
{
  const qsizetype before = problems.size();
  TReader read(ini, problems);
  const QString& r = kRestore;
  task.Source = CleanFolder(read.String(r, u"Source"_s));
  task.DestDir = CleanFolder(read.String(r, u"DestDir"_s));
  task.ClearDest = read.Bool(r, u"ClearDest"_s, false);
  task.LogFile = read.Integer(r, u"LogFile"_s, 1, 0, 2);
  task.LogName = read.String(r, u"LogName"_s);
  task.UnCompress = read.Integer(r, u"UnCompress"_s, 3, 0, 3);
  task.Password = TaskPassword(read.String(r, u"Password"_s));
  task.EmptyDirs = read.Bool(r, u"EmptyDirs"_s, false);
  read.Integer(r, u"Overwrite"_s, 0, 0, 1);
  if (task.Source.isEmpty())
    read.Problem(r, u"Source"_s, _("No directory specified!"));
  else if (!IsAbsoluteFolder(task.Source))
    read.Problem(r, u"Source"_s, FormatText(_("\"%s\" is no absolute path"), {task.Source}));
  if (task.DestDir.isEmpty())
    read.Problem(r, u"DestDir"_s, _("No directory specified!"), ecDestination);
  else if (!IsAbsoluteFolder(task.DestDir))
    read.Problem(r, u"DestDir"_s, FormatText(_("\"%s\" is no absolute path"), {task.DestDir}));
  return problems.size() == before;
}

} // namespace engine
