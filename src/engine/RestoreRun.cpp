#include "engine/RestoreRun.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"
#include "common/VolumePaths.h"
#include "copyengine/WriteFileStream.h"
#include "engine/EngineLog.h"
#include "engine/EngineView.h"
#include "engine/SqliteSnapshot.h"
#include "engine/TargetFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::FormatText;
using ardanto::SystemErrorText;

namespace {

// Where a form comes in the search for a file's copy: the stored form the
// task names first, then zip, gzip, encrypted gzip and the plain file.
int FormRank(TStoredForm form, int unCompress)
{
  const TStoredForm preferred = unCompress == 3 ? sfZip : (unCompress == 1 ? sfGZip : sfPlain);
  if (form == preferred || (preferred == sfGZip && form == sfGZipAes))
    return 0;
  switch (form) {
  case sfZip:
    return 1;
  case sfGZip:
    return 2;
  case sfGZipAes:
    return 3;
  case sfPlain:
    break;
  }
  return 4;
}

} // namespace

TRestoreRun::TRestoreRun(const TRestoreTask& task, TEngineLog& log, IEngineView& view, TExitCodes& codes,
                         TRunResult& result)
  : FTask(task), FLog(log), FView(view), FCodes(codes), FResult(result)
{
}

TRestoreRun::~TRestoreRun() = default;

void TRestoreRun::NoteError(const QString& text)
{
  FLog.Error(text);
  ++FResult.Errors;
  FCodes.Note(ecCopyErrors);
}

bool TRestoreRun::CheckFolders()
{
  QString source = FTask.Source;
  QString target = FTask.DestDir;
  QString label;
  FLog.Line(2, _("Source:") + u' ' + FTask.Source);
  FLog.Line(2, _("Destination:") + u' ' + FTask.DestDir);
  if (ardanto::ResolveVolumePath(target, label) == ardanto::vrNotFound) {
    FLog.Error(FormatText(_("Destination path not found: %s"), {FTask.DestDir}));
    FCodes.Note(ecDestination);
    return false;
  }
  const bool sourceFound = ardanto::ResolveVolumePath(source, label) != ardanto::vrNotFound;
  source = QDir::cleanPath(source);
  target = QDir::cleanPath(target);
  FResult.Destination = target;

  // Clearing "/" or the home folder, or restoring into the backup itself,
  // would destroy what the user has; no task of Quillbox asks for that.
  const QString resolvedTarget = ResolvedPath(target);
  const QString home = ResolvedPath(QDir::homePath());
  if (resolvedTarget == u"/"_s || (FTask.ClearDest && IsSameOrBelow(home, resolvedTarget))) {
    FLog.Error(u"[Restore] DestDir: "_s + FormatText(_("\"%s\" cannot be a restore target"), {target}));
    FCodes.Note(ecInvalidTask);
    return false;
  }
  const QString resolvedSource = ResolvedPath(source);
  if (IsSameOrBelow(resolvedSource, resolvedTarget) || IsSameOrBelow(resolvedTarget, resolvedSource)) {
    FLog.Error(FormatText(_("The restore target \"%s\" and the backup \"%s\" overlap"), {target, source}));
    FCodes.Note(ecInvalidTask);
    return false;
  }
  struct stat st {};
  if (!sourceFound || ::stat(Native(source).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    FLog.Error(FormatText(_("Source directory not found: %s"), {FTask.Source}));
    FCodes.Note(ecSource);
    return false;
  }
  FSource = QFileInfo(source).canonicalFilePath();
  FTarget = target;
  return true;
}

bool TRestoreRun::ScanFolder(const QString& relative)
{
  const QString folder = relative.isEmpty() ? FSource : FSource + u'/' + relative;
  DIR* dir = ::opendir(Native(folder).constData());
  if (dir == nullptr) {
    NoteError(FormatText(_("Error reading directory \"%s\""), {folder}) + u": "_s + SystemErrorText(errno));
    return false;
  }
  QStringList files;
  QStringList folders;
  const int handle = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
      continue;
    const QString name = QFile::decodeName(entry->d_name);
    if (Native(name) != QByteArray(entry->d_name)) {
      NoteError(FormatText(_("The name \"%s\" in \"%s\" cannot be read"), {name, folder}));
      continue;
    }
    struct stat st {};
    if (::fstatat(handle, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    if (S_ISDIR(st.st_mode))
      folders << name;
    else if (S_ISREG(st.st_mode) && !IsTempName(name))
      files << name;
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());

  // One copy per original name: when a file is there in two forms (the
  // form was changed and a run ended before the old one went), the form the
  // task names wins.
  TFolder result;
  result.Relative = relative;
  result.HasSubfolders = !folders.isEmpty();
  QHash<QString, std::size_t> byName;
  for (const QString& name : std::as_const(files)) {
    TStoredFile file;
    QString error;
    if (!InspectStoredFile(Join(folder, name), file, error)) {
      NoteError(FormatText(_("Error restoring \"%s\""), {Join(relative, name)}) + u": "_s + error);
      continue;
    }
    const auto found = byName.constFind(file.Name);
    if (found == byName.cend()) {
      byName.insert(file.Name, result.Files.size());
      result.Files.push_back(file);
    } else if (FormRank(file.Form, FTask.UnCompress) < FormRank(result.Files[*found].Form, FTask.UnCompress)) {
      result.Files[*found] = file;
    }
  }
  FFolders.push_back(std::move(result));
  for (const QString& name : std::as_const(folders))
    ScanFolder(relative.isEmpty() ? name : relative + u'/' + name);
  return true;
}

bool TRestoreRun::Scan()
{
  if (!ScanFolder(QString()))
    return false;
  if (FTask.ClearDest) {
    const auto& root = FFolders.front().Files;
    const bool hasPrefs =
        std::any_of(root.begin(), root.end(), [](const TStoredFile& file) { return file.Name == u"prefs.js"_s; });
    if (!hasPrefs) {
      FLog.Error(FormatText(_("No Thunderbird data found in \"%s\"!"), {FTask.Source}) + u' ' +
                 _("The restore target was not cleared."));
      FCodes.Note(ecSource);
      return false;
    }
  }
  return true;
}

bool TRestoreRun::PreparePassword(bool force)
{
  // The password is tried on prefs.js first (every profile has it), else on
  // the first encrypted file; a wrong one stops the restore before anything
  // is written.
  const TStoredFile* probe = nullptr;
  for (const TFolder& folder : FFolders) {
    for (const TStoredFile& file : folder.Files) {
      if (!file.Encrypted)
        continue;
      if (probe == nullptr || (folder.Relative.isEmpty() && file.Name == u"prefs.js"_s))
        probe = &file;
    }
  }
  if (probe == nullptr)
    return true;
  QString password = FTask.Password;
  if (password.isEmpty() && !force) {
    const std::optional<QString> answer = FView.AskPassword(_("Password for file encryption"), false);
    if (answer)
      password = *answer;
  }
  if (password.isEmpty()) {
    FLog.Error(_("The backup is encrypted and no password was given"));
    FCodes.Note(ecInvalidTask);
    return false;
  }
  QString error;
  if (!CheckStoredPassword(*probe, password.toUtf8(), error)) {
    FLog.Error(FormatText(_("Wrong password for \"%s\""), {probe->Path}) + u" ("_s + error + u')');
    FCodes.Note(ecInvalidTask);
    return false;
  }
  FPassword = password.toUtf8();
  return true;
}

bool TRestoreRun::ClearTarget()
{
  QDir target(FTarget);
  if (!target.exists())
    return true;
  const QStringList names =
      target.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& name : names) {
    const QString path = Join(FTarget, name);
    // In the trash where it can go, so that a mistaken restore can be undone.
    QString error;
    if (MoveToTrash(path, error))
      continue;
    if (const int code = RemoveTree(path); code != 0) {
      NoteError(FormatText(_("Error removing \"%s\""), {path}) + u": "_s + SystemErrorText(code));
      return false;
    }
  }
  if (!names.isEmpty())
    FLog.Line(2, FormatText(_("The restore target was cleared: %d entries"), {names.size()}));
  return true;
}

void TRestoreRun::Run(bool force)
{
  FStartSeconds = std::time(nullptr);
  if (!CheckFolders())
    return;
  if (!Scan())
    return;
  if (!PreparePassword(force))
    return;
  if (const int error = MakeFolders(FTarget); error != 0) {
    FLog.Error(FormatText(_("Could not create directory \"%s\""), {FTarget}) + u": "_s + SystemErrorText(error));
    FCodes.Note(ecDestination);
    return;
  }
  if (::access(Native(FTarget).constData(), W_OK | X_OK) != 0) {
    const int error = errno;
    FLog.Error(FormatText(_("Destination path not writable: %s"), {FTarget}) + u" ("_s + SystemErrorText(error) + u')');
    FCodes.Note(ecDestination);
    return;
  }
  FTarget = QFileInfo(FTarget).canonicalFilePath();
  if (FTask.ClearDest && !ClearTarget())
    return;

  if (FView.WantsTotals()) {
    std::int64_t files = 0;
    std::int64_t bytes = 0;
    for (const TFolder& folder : FFolders) {
      files += static_cast<std::int64_t>(folder.Files.size());
      for (const TStoredFile& file : folder.Files)
        bytes += QFileInfo(file.Path).size();
    }
    FView.TotalsKnown(files, bytes);
  }

  FBatch = std::make_unique<TCommitBatch>(FTarget);
  for (const TFolder& folder : FFolders) {
    if (FCancelled || FFatal)
      break;
    RestoreFolder(folder);
  }
  FlushBatch();
  if (FCancelled) {
    FLog.Error(_("The restore was aborted by the user"));
    ++FResult.Errors;
    FCodes.Note(ecAborted);
  }
}

void TRestoreRun::NoteFatal(const QString& text)
{
  if (!FFatal) {
    FLog.Error(text);
    ++FResult.Errors;
  }
  FFatal = true;
  FCodes.Note(ecAborted);
}

void TRestoreRun::FlushBatch()
{
  FBatch->Flush([this](const TPendingFile& file, int error) {
    if (error != 0) {
      NoteError(FormatText(_("Error restoring \"%s\""), {file.Display}) + u": "_s + SystemErrorText(error));
      return;
    }
    ++FResult.Copied;
    FResult.Bytes += file.Bytes;
    FLog.Detail(4, file.Display);
  });
}

void TRestoreRun::RestoreFolder(const TFolder& folder)
{
  const QString targetFolder = folder.Relative.isEmpty() ? FTarget : FTarget + u'/' + folder.Relative;
  FView.FolderChanged(folder.Relative.isEmpty() ? FSource : FSource + u'/' + folder.Relative);
  if (folder.Files.empty() && !FTask.EmptyDirs)
    return;
  if (const int error = MakeFolderBelow(FTarget, folder.Relative); error != 0) {
    NoteError(FormatText(_("Error creating directory \"%s\""), {targetFolder}) + u": "_s + SystemErrorText(error));
    return;
  }
  RemoveStaleTemporaries(targetFolder, FStartSeconds);
  for (const TStoredFile& file : folder.Files) {
    if (FCancelled || FFatal)
      return;
    RestoreFile(targetFolder, folder.Relative, file);
    FView.Idle();
    if (!FCancelled && FView.CancelRequested())
      FCancelled = true;
  }
}

void TRestoreRun::RestoreFile(const QString& targetFolder, const QString& relative, const TStoredFile& file)
{
  const QString display = relative.isEmpty() ? file.Name : relative + u'/' + file.Name;
  FView.FileChanged(display);
  const auto fail = [&](const QString& text) {
    NoteError(FormatText(_("Error restoring \"%s\""), {display}) + u": "_s + text);
    ++FFilesDone;
  };
  struct stat stored {};
  if (::stat(Native(file.Path).constData(), &stored) != 0) {
    fail(SystemErrorText(errno));
    return;
  }
  int error = 0;
  const QString temp = ReserveTempName(targetFolder, error);
  if (temp.isEmpty()) {
    fail(SystemErrorText(error));
    return;
  }
  std::int64_t size = 0;
  try {
    ardanto::TWriteFileStream out(temp, false, ardanto::wmSequential, stored.st_mode & 0777);
    QString reason;
    int writeError = 0;
    if (!ExtractStoredFile(file, FPassword, out, size, reason, &writeError)) {
      out.Discard();
      fail(reason);
      if (writeError == ENOSPC || writeError == EDQUOT)
        NoteFatal(FormatText(_("The destination is full: %s"), {FTarget}));
      return;
    }
    out.Commit();
  } catch (const ardanto::EWriteFileStreamError& e) {
    ::unlink(Native(temp).constData());
    fail(e.Message());
    if (e.ErrorCode() == ENOSPC || e.ErrorCode() == EDQUOT)
      NoteFatal(FormatText(_("The destination is full: %s"), {FTarget}));
    return;
  }
  if (const int timeError = SetWriteTime(temp, stored.st_mtim); timeError != 0) {
    ::unlink(Native(temp).constData());
    fail(SystemErrorText(timeError));
    return;
  }
  TPendingFile pending;
  pending.Temp = temp;
  pending.Final = Join(targetFolder, file.Name);
  pending.Bytes = size;
  pending.Display = display;
  // A database restored over one that has a write-ahead log or journal
  // beside it: those belong to the old database and would be played into
  // the restored one.
  if (HasSqliteHeader(temp)) {
    for (const QString& suffix : {u"-wal"_s, u"-shm"_s, u"-journal"_s})
      pending.Remove << pending.Final + suffix;
  }
  FBatch->Add(std::move(pending));
  if (FBatch->Due())
    FlushBatch();
  ++FFilesDone;
  FBytesDone += stored.st_size;
  FView.Progress(FFilesDone, FBytesDone);
}

} // namespace engine
