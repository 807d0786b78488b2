#include "engine/BackupRun.h"

#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/TextFilter.h"
#include "common/Translate.h"
#include "common/VolumePaths.h"
#include "copyengine/ExtFileTools.h"
#include "copyengine/LocalFileSource.h"
#include "engine/EngineLog.h"
#include "engine/EngineView.h"
#include "engine/SqliteSnapshot.h"
#include "engine/TargetFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::FormatText;
using ardanto::SystemErrorText;

namespace {

// Copies that run at the same time: one file is compressed while the next
// is read.
constexpr std::size_t kParallelJobs = 2;
// A file that changes while it is copied is tried this often.
constexpr int kCopyAttempts = 3;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

double Seconds(const timespec& t)
{
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool Later(const timespec& a, const timespec& b)
{
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

struct TDirEntry {
  QString Name;
  struct stat St {};
};

// The entries of a folder with their status (links not followed), by name.
// False with errno in error when the folder cannot be listed.
bool ListFolder(const QString& folder, std::vector<TDirEntry>& entries, int& error, QStringList& badNames)
{
  entries.clear();
  DIR* dir = ::opendir(Native(folder).constData());
  if (dir == nullptr) {
    error = errno;
    return false;
  }
  const int handle = ::dirfd(dir);
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
      continue;
    TDirEntry item;
    item.Name = QFile::decodeName(entry->d_name);
    // A name that is not valid in the file names' encoding cannot be found
    // again by its text.
    if (Native(item.Name) != QByteArray(entry->d_name)) {
      badNames << item.Name;
      continue;
    }
    if (::fstatat(handle, entry->d_name, &item.St, AT_SYMLINK_NOFOLLOW) != 0)
      continue; // gone since it was listed
    entries.push_back(std::move(item));
  }
  error = errno;
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const TDirEntry& a, const TDirEntry& b) { return a.Name < b.Name; });
  return error == 0;
}

QString ErrorText(int error)
{
  return SystemErrorText(error);
}

bool IsCompanionSuffix(const QString& name, QString& base)
{
  for (const QString& suffix : {u"-wal"_s, u"-shm"_s, u"-journal"_s}) {
    if (name.size() > suffix.size() && name.endsWith(suffix)) {
      base = name.left(name.size() - suffix.size());
      return true;
    }
  }
  return false;
}

} // namespace

// One copy in progress.
struct TBackupJob {
  std::unique_ptr<ardanto::TWinCopyThread> Thread;
  QString TargetFolder;
  QString Relative;
  QString Temp;
  QString Final;
  QString Snapshot; // consistent copy of a database, removed after the job
  QStringList Remove;
  timespec MTime{};
  std::int64_t Size = 0;
  bool Replaced = false;
  int Attempt = 1;
  QString Display;
  // What to start again when the source changed during the copy.
  QString Name;
  QString SourcePath;
  TStoredForm Form = sfPlain;
  bool Sqlite = false;
  bool HasWal = false;
  struct stat St {};
};

bool CopyIsOutOfDate(double source, double copy, int timespan, bool ignoreDst)
{
  const double difference = source - copy;
  if (difference <= timespan)
    return false;
  if (ignoreDst && std::fabs(difference - 3600.0) <= timespan)
    return false;
  return true;
}

TBackupRun::TBackupRun(const TBackupTask& task, TEngineLog& log, IEngineView& view, TExitCodes& codes,
                       TRunResult& result)
  : FTask(task), FLog(log), FView(view), FCodes(codes), FResult(result)
{
  for (const TBackupEntry& entry : FTask.Entries) {
    std::unique_ptr<ardanto::TTextFilter> filter;
    if (entry.FilterMode != 0) {
      filter = std::make_unique<ardanto::TTextFilter>(true, true);
      filter->SetRegular(entry.Regular);
      filter->SetMode(entry.FilterMode == 1 ? ardanto::fmInclude : ardanto::fmExclude);
      // Checked when the task was read; one that fails here has fallen back
      // to matching every name.
      try {
        filter->SetFilter(entry.Filter);
      } catch (const ardanto::EFilterError&) {
      }
    }
    FFilters.push_back(std::move(filter));
  }
}

TBackupRun::~TBackupRun()
{
  // Jobs still running end before their temporaries go.
  FJobs.clear();
}

void TBackupRun::NoteError(const QString& text)
{
  FLog.Error(text);
  ++FResult.Errors;
  FCodes.Note(ecCopyErrors);
}

void TBackupRun::Fatal(const QString& text)
{
  if (!FFatal) {
    FLog.Error(text);
    ++FResult.Errors;
  }
  FFatal = true;
  FCodes.Note(ecAborted);
}

bool TBackupRun::PrepareDestination()
{
  QString destination = FTask.Destination;
  QString label;
  if (ardanto::ResolveVolumePath(destination, label) == ardanto::vrNotFound) {
    FLog.Error(FormatText(_("Destination path not found: %s"), {FTask.Destination}) + u" (" +
               FormatText(_("Volume \"%s\" not found"), {destination.section(u':', 1, 1)}) + u')');
    FCodes.Note(ecDestination);
    return false;
  }
  const QString volume = FTask.Entries.empty() ? QString() : FTask.Entries.front().Volume;
  destination = ardanto::ExpandDestinationPlaceholders(destination, volume, FTask.BackupCount).trimmed();
  if (!destination.startsWith(u'/')) {
    FLog.Error(u"[Global] Destination: "_s + FormatText(_("\"%s\" is no absolute path"), {destination}));
    FCodes.Note(ecInvalidTask);
    return false;
  }
  destination = QDir::cleanPath(destination);
  FResult.Destination = destination;
  FLog.Line(2, _("Destination:") + u' ' + destination);
  if (destination == u"/"_s) {
    FLog.Error(u"[Global] Destination: "_s + _("the root folder cannot hold a backup"));
    FCodes.Note(ecInvalidTask);
    return false;
  }
  // A backup must never be written into what it backs up: it would copy
  // itself, and synchronising would feed on its own copies.
  const QString resolvedDestination = ResolvedPath(destination);
  for (const TBackupEntry& entry : FTask.Entries) {
    QString source = entry.Source;
    QString sourceLabel;
    if (ardanto::ResolveVolumePath(source, sourceLabel) == ardanto::vrNotFound)
      continue;
    const QString resolvedSource = ResolvedPath(source);
    if (IsSameOrBelow(resolvedDestination, resolvedSource)) {
      FLog.Error(
          FormatText(_("The destination \"%s\" lies inside the source directory \"%s\""), {destination, entry.Source}));
      FCodes.Note(ecInvalidTask);
      return false;
    }
  }
  FDestination = destination;
  return true;
}

bool TBackupRun::PreparePassword(bool force)
{
  if (FTask.Encrypt <= 0)
    return true;
  QString password = FTask.Password;
  if (password.isEmpty() && !force) {
    const std::optional<QString> answer = FView.AskPassword(_("Password for file encryption"), true);
    if (answer)
      password = *answer;
  }
  if (password.isEmpty()) {
    FLog.Error(_("No password for the file encryption: the task has no fixed password and nobody can be asked"));
    FCodes.Note(ecInvalidTask);
    return false;
  }
  FPassword = password.toUtf8();
  return true;
}

bool TBackupRun::Run(bool force)
{
  FStartSeconds = std::time(nullptr);
  if (!PrepareDestination() || !PreparePassword(force))
    return false;

  if (const int error = MakeFolders(FDestination); error != 0) {
    FLog.Error(FormatText(_("Could not create directory \"%s\""), {FDestination}) + u": "_s + ErrorText(error));
    FCodes.Note(ecDestination);
    return false;
  }
  if (::access(Native(FDestination).constData(), W_OK | X_OK) != 0) {
    const int error = errno;
    FLog.Error(FormatText(_("Destination path not writable: %s"), {FDestination}) + u" ("_s + ErrorText(error) + u')');
    FCodes.Note(ecDestination);
    return false;
  }
  // Everything below is relative to the real folder, so that a link on the
  // way there is followed once and never again below it.
  FDestination = QFileInfo(FDestination).canonicalFilePath();
  FBatch = std::make_unique<TCommitBatch>(FDestination);

  for (const TBackupEntry& entry : FTask.Entries) {
    QString source = entry.Source;
    QString label;
    if (ardanto::ResolveVolumePath(source, label) != ardanto::vrNotFound)
      FAllTargets << QDir::cleanPath(ardanto::SourceFolderInBackup(FDestination, FTask.DriveId, source));
  }
  if (FView.WantsTotals())
    CountTotals();

  for (const TBackupEntry& entry : FTask.Entries) {
    if (Stopping())
      break;
    RunEntry(entry);
  }
  FinishAllJobs();
  FlushCommits();
  if (FCancelled) {
    FLog.Error(_("The backup was aborted by the user"));
    ++FResult.Errors;
    FCodes.Note(ecAborted);
  }
  return true;
}

QString TBackupRun::TargetFolder(const QString& relative) const
{
  return relative.isEmpty() ? FTargetRoot : FTargetRoot + u'/' + relative;
}

bool TBackupRun::FolderIsExcluded(const TBackupEntry& entry, const QString& name) const
{
  for (const QString& mask : entry.DirMasks) {
    if (ardanto::TTextFilter::MatchesMask(name, mask))
      return true;
  }
  return false;
}

bool TBackupRun::FileIsExcluded(const TBackupEntry& entry, const QString& name) const
{
  if (!entry.ExcludedTypes.isEmpty()) {
    const QString type = ardanto::GetExt(name).toUpper();
    if (!type.isEmpty() && entry.ExcludedTypes.contains(type))
      return true;
  }
  const auto index = static_cast<std::size_t>(&entry - FTask.Entries.data());
  return index < FFilters.size() && FFilters[index] && !FFilters[index]->MatchesFilter(name);
}

TStoredForm TBackupRun::FormFor(const QString& name) const
{
  const QString type = ardanto::GetExt(name).toUpper();
  const bool compress = FTask.Compress && (type.isEmpty() || !FTask.NoCompTypes.contains(type));
  if (FTask.Encrypt > 0)
    return compress && !FTask.CompressAsZip ? sfGZipAes : sfZip;
  if (!compress)
    return sfPlain;
  return FTask.CompressAsZip ? sfZip : sfGZip;
}

void TBackupRun::RunEntry(const TBackupEntry& entry)
{
  QString source = entry.Source;
  QString label;
  FLog.Line(2, entry.Source);
  FView.FolderChanged(entry.Source);
  struct stat st {};
  if (ardanto::ResolveVolumePath(source, label) == ardanto::vrNotFound ||
      ::stat(Native(source).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    FLog.Error(FormatText(_("Source directory not found: %s"), {entry.Source}));
    ++FResult.Errors;
    FCodes.Note(ecSource);
    return;
  }
  FSourceRoot = QDir::cleanPath(source);
  FSourceCanonical = QFileInfo(FSourceRoot).canonicalFilePath();
  FTargetRoot = QDir::cleanPath(ardanto::SourceFolderInBackup(FDestination, FTask.DriveId, FSourceRoot));
  FOtherTargets.clear();
  for (const QString& target : FAllTargets) {
    if (target != FTargetRoot)
      FOtherTargets << target;
  }
  FSyncFolders.clear();

  // The folder in the backup is reached through folders the engine made;
  // one of them replaced by a link would lead the copies elsewhere.
  const QString relativeTarget = FTargetRoot.mid(FDestination.size() + 1);
  if (const int error = MakeFolderBelow(FDestination, FTask.EmptyDirs ? relativeTarget : QString()); error != 0) {
    NoteError(FormatText(_("Error creating directory \"%s\""), {FTargetRoot}) + u": "_s + ErrorText(error));
    return;
  }

  FSyncEntry = FTask.Sync;
  if (FSyncEntry) {
    // A source that is empty while its backup is not is taken for a source
    // that vanished or is not mounted: its backup stays as it is.
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const bool sourceEmpty = QDir(FSourceRoot).isEmpty(all);
    const bool backupEmpty = !QFileInfo(FTargetRoot).isDir() || QDir(FTargetRoot).isEmpty(all);
    if (sourceEmpty && !backupEmpty) {
      FLog.Error(FormatText(_("Source directory \"%s\" is empty while its backup is not: the backup is not "
                              "synchronised"),
                            {entry.Source}));
      ++FResult.Errors;
      FCodes.Note(ecSource);
      FSyncEntry = false;
    }
  }

  CopyFolder(entry, QString(), FSyncEntry);
  FinishAllJobs();
  FlushCommits();
  if (FSyncEntry && !FCancelled && !FFatal)
    Synchronise(entry);
}

bool TBackupRun::CopyFolder(const TBackupEntry& entry, const QString& relative, bool syncHere)
{
  const QString sourceFolder = relative.isEmpty() ? FSourceRoot : FSourceRoot + u'/' + relative;
  const QString targetFolder = TargetFolder(relative);
  if (!relative.isEmpty())
    FView.FolderChanged(sourceFolder);

  std::vector<TDirEntry> entries;
  int error = 0;
  QStringList badNames;
  const bool listed = ListFolder(sourceFolder, entries, error, badNames);
  for (const QString& name : badNames)
    NoteError(FormatText(_("The name \"%s\" in \"%s\" cannot be read"), {name, sourceFolder}));
  if (!listed) {
    NoteError(FormatText(_("Error reading directory \"%s\""), {sourceFolder}) + u": "_s + ErrorText(error));
    return false;
  }

  struct stat targetStat {};
  const bool targetExists = ::lstat(Native(targetFolder).constData(), &targetStat) == 0 && S_ISDIR(targetStat.st_mode);
  if (targetExists)
    RemoveStaleTemporaries(targetFolder, FStartSeconds);
  else if (FTask.EmptyDirs && !relative.isEmpty()) {
    if (const int made = MakeFolderBelow(FDestination, targetFolder.mid(FDestination.size() + 1)); made != 0)
      NoteError(FormatText(_("Error creating directory \"%s\""), {targetFolder}) + u": "_s + ErrorText(made));
  }

  // What the folder holds, decided before anything is written: the stored
  // names of all files, so that the old form of one file is never taken
  // for the copy of another.
  QSet<QString> names;
  for (const TDirEntry& item : entries)
    names.insert(item.Name);
  std::vector<TFilePlan> files;
  QStringList folders;
  QSet<QString> keep;
  for (const TDirEntry& item : entries) {
    const QString display = relative.isEmpty() ? item.Name : relative + u'/' + item.Name;
    if (S_ISDIR(item.St.st_mode)) {
      if (FolderIsExcluded(entry, item.Name)) {
        FLog.Detail(4, display + u"/ - "_s + _("excluded"));
        continue;
      }
      folders << item.Name;
      keep.insert(item.Name);
      continue;
    }
    TFilePlan plan;
    plan.Name = item.Name;
    plan.SourcePath = Join(sourceFolder, item.Name);
    plan.Display = display;
    plan.St = item.St;
    if (S_ISLNK(item.St.st_mode)) {
      // A link is followed only to a file inside the source; the copy is the
      // file it points to.
      const QString target = QFileInfo(plan.SourcePath).canonicalFilePath();
      struct stat targetSt {};
      if (target.isEmpty() || !IsSameOrBelow(target, FSourceCanonical)) {
        FLog.Line(4, FormatText(_("Link \"%s\" points outside the source and is skipped"), {display}));
        continue;
      }
      if (::stat(Native(target).constData(), &targetSt) != 0 || !S_ISREG(targetSt.st_mode)) {
        FLog.Line(4, FormatText(_("Link \"%s\" does not point to a file and is skipped"), {display}));
        continue;
      }
      plan.SourcePath = target;
      plan.St = targetSt;
    } else if (!S_ISREG(item.St.st_mode)) {
      FLog.Detail(4, FormatText(_("\"%s\" is no regular file and is skipped"), {display}));
      continue;
    }
    if (FileIsExcluded(entry, item.Name))
      continue;
    files.push_back(std::move(plan));
  }
  // A database's journal and write-ahead log are inside its consistent copy;
  // kept beside an older copy they would be played into it on restore.
  QSet<QString> databases;
  for (TFilePlan& plan : files) {
    plan.HasWal = names.contains(plan.Name + u"-wal"_s);
    const bool hasCompanion =
        plan.HasWal || names.contains(plan.Name + u"-shm"_s) || names.contains(plan.Name + u"-journal"_s);
    if (hasCompanion && HasSqliteHeader(plan.SourcePath)) {
      plan.Sqlite = true;
      databases.insert(plan.Name);
    }
  }
  std::erase_if(files, [&](const TFilePlan& plan) {
    QString base;
    if (!IsCompanionSuffix(plan.Name, base) || !databases.contains(base))
      return false;
    FLog.Detail(4, FormatText(_("\"%s\" belongs to its database and is not copied on its own"), {plan.Display}));
    return true;
  });
  // "a" stored as "a.zip" and a file "a.zip" kept as it is would share a
  // name; the second one would overwrite the first at every run.
  std::erase_if(files, [&](TFilePlan& plan) {
    plan.Form = FormFor(plan.Name);
    plan.Stored = plan.Name + FormSuffix(plan.Form);
    if (keep.contains(plan.Stored)) {
      NoteError(FormatText(_("\"%s\" is not backed up: its copy would have the name of another one (\"%s\")"),
                           {plan.Display, plan.Stored}));
      return true;
    }
    keep.insert(plan.Stored);
    return false;
  });

  for (TFilePlan& plan : files) {
    if (Stopping())
      break;
    ProcessFile(targetFolder, relative, plan, keep);
  }

  for (const QString& folder : std::as_const(folders)) {
    if (Stopping())
      break;
    // A folder that could not be read is not synchronised: its backup stays
    // as it is (its name is kept here, its contents are not looked at).
    CopyFolder(entry, relative.isEmpty() ? folder : relative + u'/' + folder, syncHere);
  }
  if (syncHere)
    FSyncFolders.push_back({targetFolder, keep});
  return true;
}

void TBackupRun::ProcessFile(const QString& targetFolder, const QString& relative, TFilePlan& plan,
                             const QSet<QString>& keep)
{
  FView.FileChanged(plan.Display);
  timespec sourceTime = plan.St.st_mtim;
  if (plan.Sqlite && plan.HasWal) {
    // Committed changes can sit in the log for long without touching the
    // database file's own time.
    struct stat wal {};
    if (::stat(Native(plan.SourcePath + u"-wal"_s).constData(), &wal) == 0 && Later(wal.st_mtim, sourceTime))
      sourceTime = wal.st_mtim;
  }
  const QString stored = Join(targetFolder, plan.Stored);
  QStringList oldForms;
  for (const TStoredForm form : {sfPlain, sfZip, sfGZip, sfGZipAes}) {
    const QString name = plan.Name + FormSuffix(form);
    if (form == plan.Form || keep.contains(name))
      continue;
    struct stat st {};
    if (::lstat(Native(Join(targetFolder, name)).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
      oldForms << Join(targetFolder, name);
  }

  struct stat copy {};
  const bool exists = ::lstat(Native(stored).constData(), &copy) == 0;
  if (exists && S_ISREG(copy.st_mode) &&
      !CopyIsOutOfDate(Seconds(sourceTime), Seconds(copy.st_mtim), FTask.Timespan, FTask.IgnoreDst)) {
    ++FResult.Skipped;
    ++FFilesDone;
    FBytesDone += plan.St.st_size;
    // Left over by a run that ended between the new form and the removal
    // of the old one.
    for (const QString& old : oldForms)
      ::unlink(Native(old).constData());
    Progress();
    return;
  }
  if (exists && S_ISDIR(copy.st_mode)) {
    NoteError(FormatText(_("Error copying \"%s\""), {plan.Display}) + u": "_s +
              FormatText(_("\"%s\" is a directory"), {stored}));
    ++FFilesDone;
    return;
  }
  plan.St.st_mtim = sourceTime;
  StartJob(targetFolder, relative, plan, oldForms, 1);
}

void TBackupRun::StartJob(const QString& targetFolder, const QString& relative, const TFilePlan& plan,
                          const QStringList& oldForms, int attempt)
{
  while (FJobs.size() >= kParallelJobs)
    FinishOldestJob();
  if (Stopping())
    return;

  if (const int error = MakeFolderBelow(FDestination, targetFolder.mid(FDestination.size() + 1)); error != 0) {
    NoteError(FormatText(_("Error creating directory \"%s\""), {targetFolder}) + u": "_s + ErrorText(error));
    ++FFilesDone;
    return;
  }

  auto job = std::make_unique<TBackupJob>();
  job->TargetFolder = targetFolder;
  job->Relative = relative;
  job->Final = Join(targetFolder, plan.Stored);
  job->Remove = oldForms;
  job->MTime = plan.St.st_mtim;
  job->Attempt = attempt;
  job->Display = plan.Display;
  job->Name = plan.Name;
  job->SourcePath = plan.SourcePath;
  job->Form = plan.Form;
  job->Sqlite = plan.Sqlite;
  job->HasWal = plan.HasWal;
  job->St = plan.St;
  struct stat existing {};
  job->Replaced = ::lstat(Native(job->Final).constData(), &existing) == 0;

  int error = 0;
  const auto failed = [&](const QString& text, int code) {
    if (code == ENOSPC || code == EDQUOT)
      Fatal(FormatText(_("The destination is full: %s"), {FDestination}) + u" ("_s + ErrorText(code) + u')');
    else
      NoteError(FormatText(_("Error copying \"%s\""), {plan.Display}) + u": "_s + text);
    ++FFilesDone;
  };

  QString readFrom = plan.SourcePath;
  bool sqlite = plan.Sqlite || HasSqliteHeader(plan.SourcePath);
  if (sqlite) {
    job->Snapshot = ReserveTempName(targetFolder, error);
    if (job->Snapshot.isEmpty()) {
      failed(ErrorText(error), error);
      return;
    }
    QString reason;
    switch (SnapshotSqliteDatabase(plan.SourcePath, job->Snapshot, reason)) {
    case srOk:
      readFrom = job->Snapshot;
      break;
    case srNoDatabase:
      job->Snapshot.clear();
      FLog.Line(4, FormatText(_("\"%s\" begins like a database but does not open as one (%s); it is copied as "
                                "a plain file"),
                              {plan.Display, reason}));
      break;
    case srFull:
      failed(reason, ENOSPC);
      return;
    case srLocked:
      // A copy of a database another program holds could be torn: the
      // earlier copy stays until one can be made.
      failed(FormatText(_("the database is locked by another program (%s)"), {reason}), 0);
      return;
    case srFailed:
      failed(reason, 0);
      return;
    }
  }

  ardanto::TFileData data;
  if (const int openError = ardanto::OpenLocalFileSource(readFrom, data); openError != 0) {
    if (!job->Snapshot.isEmpty())
      ::unlink(Native(job->Snapshot).constData());
    failed(FormatText(_("Error reading \"%s\""), {plan.SourcePath}) + u": "_s + ErrorText(openError), 0);
    return;
  }
  // The name inside an archive, the mode and the time are the original's.
  data.FileName = plan.Name;
  data.FullPath = plan.SourcePath;
  data.PosixMode = plan.St.st_mode;
  data.FileAttr = (plan.St.st_mode & S_IWUSR) ? ardanto::FILE_ATTRIBUTE_ARCHIVE : ardanto::FILE_ATTRIBUTE_READONLY;
  data.TimeStamps.LastWriteTime = ardanto::UnixTimeToFileTime(job->MTime.tv_sec, job->MTime.tv_nsec);
  job->Size = data.FileSize;

  job->Temp = ReserveTempName(targetFolder, error);
  if (job->Temp.isEmpty()) {
    if (!job->Snapshot.isEmpty())
      ::unlink(Native(job->Snapshot).constData());
    failed(ErrorText(error), error);
    return;
  }
  ardanto::TCopyOptions options;
  if (plan.Form == sfZip) {
    options.Include(ardanto::coZipCompress);
    const QString type = ardanto::GetExt(plan.Name).toUpper();
    if (FTask.Compress && (type.isEmpty() || !FTask.NoCompTypes.contains(type)))
      options.Include(ardanto::coCompress);
  } else if (plan.Form == sfGZip || plan.Form == sfGZipAes) {
    options.Include(ardanto::coCompress);
  }
  std::unique_ptr<ardanto::TEncryption> encryption;
  if (FTask.Encrypt > 0)
    encryption = std::make_unique<ardanto::TEncryption>(FPassword, 3, 0);
  job->Thread = std::make_unique<ardanto::TWinCopyThread>(data, job->Temp, std::move(encryption), options, true);
  job->Thread->Start();
  FJobs.push_back(std::move(job));
}

void TBackupRun::FinishOldestJob()
{
  if (FJobs.empty())
    return;
  std::unique_ptr<TBackupJob> job = std::move(FJobs.front());
  FJobs.pop_front();
  while (!job->Thread->WaitFor(kWaitSlice))
    Progress();
  const int code = job->Thread->ErrorCode();
  const QString message = job->Thread->SysErrorMsg();
  job->Thread.reset();
  if (!job->Snapshot.isEmpty())
    ::unlink(Native(job->Snapshot).constData());

  if (code != 0) {
    ::unlink(Native(job->Temp).constData());
    const int result = code & 0xFFF;
    if (result == ardanto::ceReadSource && job->Attempt < kCopyAttempts && !Stopping()) {
      // The file changed while it was read: its new state is copied instead.
      TFilePlan plan;
      plan.Name = job->Name;
      plan.SourcePath = job->SourcePath;
      plan.Display = job->Display;
      plan.Form = job->Form;
      plan.Stored = ardanto::ExtractFileName(job->Final);
      plan.Sqlite = job->Sqlite;
      plan.HasWal = job->HasWal;
      plan.St = job->St;
      struct stat now {};
      if (::stat(Native(job->SourcePath).constData(), &now) == 0 && S_ISREG(now.st_mode)) {
        if (Later(now.st_mtim, plan.St.st_mtim))
          plan.St.st_mtim = now.st_mtim;
        StartJob(job->TargetFolder, job->Relative, plan, job->Remove, job->Attempt + 1);
        return;
      }
    }
    ++FFilesDone;
    if (result == ardanto::ceDestFull) {
      Fatal(FormatText(_("The destination is full: %s"), {FDestination}) + u" ("_s + message + u')');
      return;
    }
    if (!QFileInfo(FDestination).isDir()) {
      Fatal(FormatText(_("The destination \"%s\" is no longer there"), {FDestination}));
      return;
    }
    NoteError(FormatText(_("Error copying \"%s\""), {job->Display}) + u": "_s + message);
    return;
  }
  if (const int error = SetWriteTime(job->Temp, job->MTime); error != 0) {
    ::unlink(Native(job->Temp).constData());
    ++FFilesDone;
    NoteError(FormatText(_("Error copying \"%s\""), {job->Display}) + u": "_s + ErrorText(error));
    return;
  }
  ++FFilesDone;
  FBytesDone += job->Size;
  TPendingFile pending;
  pending.Temp = job->Temp;
  pending.Final = job->Final;
  pending.Remove = job->Remove;
  pending.Bytes = job->Size;
  pending.Display = job->Display;
  pending.Replaced = job->Replaced;
  FBatch->Add(std::move(pending));
  if (FBatch->Due())
    FlushCommits();
  Progress();
}

void TBackupRun::FinishAllJobs()
{
  while (!FJobs.empty())
    FinishOldestJob();
}

void TBackupRun::FlushCommits()
{
  if (!FBatch)
    return;
  FBatch->Flush([this](const TPendingFile& file, int error) {
    if (error != 0) {
      NoteError(FormatText(_("Error copying \"%s\""), {file.Display}) + u": "_s + ErrorText(error));
      return;
    }
    ++FResult.Copied;
    FResult.Bytes += file.Bytes;
    FLog.Detail(4, file.Display + (file.Replaced ? u" - "_s + _("updated") : QString()));
  });
}

bool TBackupRun::Protected(const QString& path) const
{
  for (const QString& target : FOtherTargets) {
    if (IsSameOrBelow(target, path))
      return true;
  }
  return false;
}

void TBackupRun::RemoveFromBackup(const QString& path, const QString& display)
{
  // Only what lies inside the entry's own backup folder is ever touched.
  if (!path.startsWith(FTargetRoot + u'/'))
    return;
  QString error;
  bool removed = false;
  if (FTask.UseRecycler) {
    removed = MoveToTrash(path, error);
  } else {
    const int code = RemoveTree(path);
    removed = code == 0;
    if (!removed)
      error = ErrorText(code);
  }
  if (!removed) {
    NoteError(FormatText(_("Error removing \"%s\""), {display}) + u": "_s + error);
    return;
  }
  ++FResult.Removed;
  FLog.Detail(4, display + u" - "_s + (FTask.UseRecycler ? _("moved to the trash") : _("removed")));
}

void TBackupRun::Synchronise(const TBackupEntry& entry)
{
  Q_UNUSED(entry);
  for (const TFolderSync& folder : FSyncFolders) {
    if (Stopping())
      return;
    std::vector<TDirEntry> entries;
    int error = 0;
    QStringList badNames;
    if (!ListFolder(folder.Folder, entries, error, badNames))
      continue;
    for (const TDirEntry& item : entries) {
      if (folder.Keep.contains(item.Name) || IsTempName(item.Name))
        continue;
      const QString path = Join(folder.Folder, item.Name);
      if (Protected(path))
        continue;
      const QString display = path.mid(FTargetRoot.size() + 1);
      RemoveFromBackup(path, display);
    }
  }
}

void TBackupRun::Progress()
{
  std::int64_t running = 0;
  for (const auto& job : FJobs) {
    if (job->Thread)
      running += job->Thread->BytesCopied();
  }
  FView.Progress(FFilesDone, FBytesDone + running);
  // Also between files that need no copy: a long stretch of them must not
  // leave the window without its events or the user without Cancel.
  FView.Idle();
  if (!FCancelled && FView.CancelRequested())
    FCancelled = true;
}

void TBackupRun::CountTotals()
{
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  for (const TBackupEntry& entry : FTask.Entries) {
    QString source = entry.Source;
    QString label;
    if (ardanto::ResolveVolumePath(source, label) == ardanto::vrNotFound)
      continue;
    QStringList pending{QDir::cleanPath(source)};
    while (!pending.isEmpty()) {
      const QString folder = pending.takeLast();
      std::vector<TDirEntry> entries;
      int error = 0;
      QStringList badNames;
      if (!ListFolder(folder, entries, error, badNames))
        continue;
      for (const TDirEntry& item : entries) {
        if (S_ISDIR(item.St.st_mode)) {
          if (!FolderIsExcluded(entry, item.Name))
            pending << Join(folder, item.Name);
        } else if (S_ISREG(item.St.st_mode) && !FileIsExcluded(entry, item.Name)) {
          ++files;
          bytes += item.St.st_size;
        }
      }
      FView.Idle();
    }
  }
  FView.TotalsKnown(files, bytes);
}

} // namespace engine
