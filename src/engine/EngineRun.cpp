#include "engine/EngineRun.h"

#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "engine/BackupRun.h"
#include "engine/EngineLog.h"
#include "engine/EngineTask.h"
#include "engine/EngineView.h"
#include "engine/ReportMail.h"
#include "engine/RestoreRun.h"
#include "engine/RunLock.h"
#include "engine/SleepInhibitor.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::FormatText;
using ardanto::TUnicodeIniFile;

namespace {

QString FallbackLogFile(const QString& taskFile)
{
  return ardanto::LogFolder() + QFileInfo(taskFile).completeBaseName() + u".log"_s;
}

// The log name of a restore task: Quillbox writes it as for the backup task,
// but in [Restore], with the restore target as the destination.
QString RestoreLogFile(const QString& taskFile, const TUnicodeIniFile& ini)
{
  QString name = ini.ReadString(u"Restore"_s, u"LogName"_s, QString()).trimmed();
  if (name.isEmpty())
    return QString();
  name.replace(u"%taskname%"_s, QFileInfo(taskFile).completeBaseName(), Qt::CaseInsensitive);
  const QString result = ardanto::ExpandLogPlaceholders(name, ini.ReadString(u"Restore"_s, u"DestDir"_s, QString()));
  if (ardanto::IsAbsolutePath(result))
    return result;
  return ardanto::LogFolder() + result;
}

QString SummaryLine(const TRunResult& result, std::int64_t milliseconds)
{
  const QString bytes = ardanto::FormatFileSize(false, true, u'.', result.Bytes);
  const QString duration = milliseconds < 60000
                               ? QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 1) + u" s"_s
                               : QString::asprintf("%lld:%02lld:%02lld", static_cast<long long>(milliseconds / 3600000),
                                                   static_cast<long long>(milliseconds / 60000 % 60),
                                                   static_cast<long long>(milliseconds / 1000 % 60));
  if (result.Restore)
    return FormatText(_("%d files restored, %d errors, %s in %s"),
                      {qlonglong(result.Copied), qlonglong(result.Errors), bytes, duration});
  return FormatText(_("%d files copied, %d skipped, %d removed, %d errors, %s in %s"),
                    {qlonglong(result.Copied), qlonglong(result.Skipped), qlonglong(result.Removed),
                     qlonglong(result.Errors), bytes, duration});
}

// Whether the task wants a log file: LogFile 0 (a forced run of Quillbox
// with /logmode:0) asks for none. The lines then go to the standard error
// output only, where the journal of a timer keeps them.
bool TaskWritesLog(const QString& taskFile)
{
  if (!QFileInfo(taskFile).isFile())
    return true;
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(taskFile);
    const QString section = TaskKind(ini) == tkRestore ? u"Restore"_s : u"Global"_s;
    bool ok = false;
    const int kind = ini.ReadString(section, u"LogFile"_s, QString()).trimmed().toInt(&ok);
    return !ok || kind != 0;
  } catch (const ardanto::EArdantoError&) {
    return true;
  }
}

// Counts the run in the task, so the cycle placeholders of the next run move
// on. The task is rewritten whole and atomically, every other key kept.
bool CountRun(const QString& taskFile, QString& error)
{
  try {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(taskFile);
    const int count = ini.ReadInteger(u"Global"_s, u"BackupCount"_s, 1);
    ini.WriteInteger(u"Global"_s, u"BackupCount"_s, count < 1 ? 2 : count + 1);
    ini.UpdateFile();
    return true;
  } catch (const ardanto::EArdantoError& e) {
    error = e.Message();
    return false;
  }
}

} // namespace

void LoadEngineSettings()
{
  const QString settingsFolder = ardanto::SettingsFolder(ardanto::ProgramIniFolder(u"Ardanto6/"_s, false));
  QString protDir;
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(ardanto::SetDirName(settingsFolder) + u"Ardanto.ini"_s);
    protDir = ini.ReadString(u"Config"_s, u"ProtDir"_s, QString()).trimmed();
  } catch (const ardanto::EArdantoError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
  }
  if (!protDir.isEmpty())
    protDir = ardanto::ExpandPathPlaceholders(protDir);
  ardanto::SetLogFolderSources(protDir, settingsFolder);
}

QString EngineLogFile(const QString& taskFile)
{
  QString log;
  if (QFileInfo(taskFile).isFile()) {
    try {
      const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(taskFile);
      log = TaskKind(ini) == tkRestore ? RestoreLogFile(taskFile, ini) : ardanto::TaskLogFile(taskFile);
    } catch (const ardanto::EArdantoError&) {
      log.clear();
    }
  }
  // A name whose destination part could not be expanded names no file.
  if (log.isEmpty() || log.startsWith(u'%') || !ardanto::IsAbsolutePath(log) || log.endsWith(u'/'))
    log = FallbackLogFile(taskFile);
  return log;
}

TRunResult RunEngine(const TEngineOptions& options, IEngineView& view)
{
  TRunResult result;
  TExitCodes codes;
  QElapsedTimer clock;
  clock.start();
  result.Start = QDateTime::currentDateTime();
  result.TaskFile = QFileInfo(options.TaskFile).absoluteFilePath();
  result.TaskName = QFileInfo(options.TaskFile).completeBaseName();
  result.Restore = options.Restore;

  TEngineLog log;
  if (TaskWritesLog(result.TaskFile)) {
    result.LogFile = EngineLogFile(result.TaskFile);
    QString logError;
    if (!log.Open(result.LogFile, logError)) {
      std::fprintf(stderr, "%s\n", qPrintable(logError));
      result.LogFile.clear();
    }
  }
  log.BeginSection(result.TaskName, result.Start);
  log.Line(2, _("Task file:") + u' ' + result.TaskFile);
  if (!options.StartApp.isEmpty())
    log.Line(2, _("Started by:") + u' ' + options.StartApp);

  bool mailTask = false; // a backup task: it may ask for a report mail
  const auto finish = [&]() {
    result.ExitCode = codes.Result();
    result.Errors = log.ErrorCount();
    result.End = QDateTime::currentDateTime();
    log.Line(2, SummaryLine(result, clock.elapsed()));
    log.EndSection(result.TaskName, result.End, ExitText(result.ExitCode));
    result.Summary = log.ShortLines();
    result.Section = log.Lines();
    if (mailTask) {
      // The log is complete; what the mail meets goes below the section and
      // leaves the run's exit code as it is.
      const TReportOutcome mail = SendReportMail(result.TaskFile, result, [&view]() { view.Idle(); });
      for (const QString& problem : mail.Problems)
        log.Error(problem);
      if (!mail.Error.isEmpty()) {
        result.MailError = mail.Error;
        log.Error(mail.Error);
      } else if (mail.Sent) {
        log.Detail(2, FormatText(_("Report mail sent to %s"), {mail.Recipients.join(u", "_s)}));
      }
    }
    view.RunFinished(result);
    return result;
  };

  // The task file.
  const QFileInfo taskInfo(result.TaskFile);
  if (options.TaskFile.isEmpty() || !taskInfo.exists()) {
    log.Error(FormatText(_("Task not found: %s"), {result.TaskFile}));
    codes.Note(ecTaskNotFound);
    return finish();
  }
  TTaskKind kind = tkNone;
  TBackupTask backup;
  TRestoreTask restore;
  QList<TTaskProblem> problems;
  bool valid = false;
  try {
    if (!taskInfo.isFile())
      throw ardanto::EArdantoError(_("no regular file"));
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(result.TaskFile);
    kind = TaskKind(ini);
    if (kind == tkRestore && options.Restore)
      valid = ReadRestoreTask(ini, restore, problems);
    else if (kind == tkBackup && !options.Restore)
      valid = ReadBackupTask(ini, backup, problems);
  } catch (const ardanto::EArdantoError& e) {
    log.Error(FormatText(_("The task file \"%s\" cannot be read"), {result.TaskFile}) + u": "_s + e.Message());
    codes.Note(ecTaskNotFound);
    return finish();
  }
  if (kind == tkNone || kind == tkBoth) {
    log.Error(FormatText(_("\"%s\" is no task file of Ardanto"), {result.TaskFile}));
    codes.Note(ecInvalidTask);
    return finish();
  }
  mailTask = kind == tkBackup;
  if ((kind == tkRestore) != options.Restore) {
    log.Error(kind == tkRestore ? _("The task is a restore task, but no restore was asked for (option restore)")
                                : _("A restore was asked for, but the task is a backup task"));
    codes.Note(ecInvalidTask);
    return finish();
  }
  result.Restore = kind == tkRestore;
  log.SetLong((result.Restore ? restore.LogFile : backup.LogFile) == 2);
  for (const TTaskProblem& problem : std::as_const(problems)) {
    log.Error(problem.Text);
    codes.Note(problem.Code);
  }
  if (!valid)
    return finish();

  // One engine per task.
  TRunLock lock;
  long holder = 0;
  QString lockError;
  switch (lock.Acquire(result.TaskFile, holder, lockError)) {
  case TRunLock::lrHeld:
    log.Error(holder > 0 ? FormatText(_("The task is already running (process %d)"), {qlonglong(holder)})
                         : _("The task is already running"));
    codes.Note(ecAborted);
    return finish();
  case TRunLock::lrFailed:
    log.Line(2, _("The task could not be locked against a second run:") + u' ' + lockError);
    break;
  case TRunLock::lrAcquired:
    break;
  }

  TSleepInhibitor inhibitor;
  QString inhibitError;
  const QString inhibitMode = inhibitor.Acquire(
      result.Restore ? _("A restore of mail data is running") : _("A backup of mail data is running"), inhibitError);
  if (!inhibitMode.isEmpty())
    log.Detail(2, FormatText(_("Shutdown and suspend wait for the run (logind: %s)"), {inhibitMode}));
  else
    log.Detail(2, FormatText(_("Shutdown and suspend are not held back: %s"), {inhibitError}));

  view.RunStarted(result.TaskName, result.Restore);
  if (result.Restore) {
    TRestoreRun run(restore, log, view, codes, result);
    run.Run(options.Force);
  } else {
    TBackupRun run(backup, log, view, codes, result);
    if (run.Run(options.Force)) {
      QString countError;
      if (!CountRun(result.TaskFile, countError))
        log.Error(FormatText(_("The backup count of the task could not be updated: %s"), {countError}));
    }
  }
  return finish();
}

} // namespace engine
