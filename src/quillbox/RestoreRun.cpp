#include "quillbox/RestoreRun.h"

#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "quillbox/EngineCommand.h"
#include "quillbox/MailTask.h"
#include "quillbox/ProgramState.h"

#include <QDir>
#include <QFileInfo>

namespace quillbox {

using namespace Qt::StringLiterals;
using ardanto::FormatText;

namespace {

enum TChoiceButton : int { cbOtherDirectory = 0, cbContinue = 1 };

QString CleanFolder(const QString& folder)
{
  return folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

// Linux file names are case-sensitive: two spellings are two folders.
bool SameFolder(const QString& a, const QString& b)
{
  const QString first = QFileInfo(a).canonicalFilePath();
  const QString second = QFileInfo(b).canonicalFilePath();
  if (!first.isEmpty() && !second.isEmpty())
    return first == second;
  return CleanFolder(a) == CleanFolder(b);
}

bool Inside(const QString& folder, const QString& outer)
{
  return folder == outer || folder.startsWith(outer + u'/') || outer == u"/"_s;
}

// The real places, so that a link cannot hide that one holds the other.
bool Overlap(const QString& a, const QString& b)
{
  const auto real = [](const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? CleanFolder(QFileInfo(path).absoluteFilePath()) : canonical;
  };
  const QString first = real(a);
  const QString second = real(b);
  return Inside(first, second) || Inside(second, first);
}

bool IsEmptyFolder(const QString& folder)
{
  return QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

TChoice RestoreChoice(const QString& title, const QString& text, const QString& checkText, int focus)
{
  TChoice choice;
  choice.Title = title;
  choice.Text = text;
  choice.Buttons = {_("Other directory"), _("Continue")};
  choice.CheckText = checkText;
  choice.Checked = true;
  choice.Focus = focus;
  return choice;
}

} // namespace

TBackupFormat DetectBackupFormat(const QString& folder)
{
  const QString prefs = ardanto::SetDirName(folder) + u"prefs.js"_s;
  if (QFileInfo(prefs + u".zip"_s).isFile())
    return bfZip;
  if (QFileInfo(prefs + u".gz"_s).isFile() || QFileInfo(prefs + u".gze"_s).isFile())
    return bfGzip;
  if (QFileInfo(prefs).isFile())
    return bfPlain;
  return bfNone;
}

bool SelectRestoreSource(IMailDataView& view, QString& folder)
{
  for (;;) {
    QString chosen;
    if (!view.SelectFolder(_("Select directory from which to restore files"), folder, chosen))
      return false;
    folder = CleanFolder(chosen);
    if (DetectBackupFormat(folder) != bfNone)
      return true;
    view.ShowError(FormatText(_("No Thunderbird data found in \"%s\"!"), {folder}));
  }
}

QString RestoreStartFolder(const QString& source, const QString& realDir, const QString& userPath)
{
  if (source.startsWith(ardanto::kPathDelim)) {
    for (QString folder = CleanFolder(source);; folder = QFileInfo(folder).path()) {
      if (QFileInfo(folder).isDir())
        return folder;
      if (folder == QFileInfo(folder).path())
        break;
    }
  }
  const QString fixed = ardanto::PathBeforePlaceholders(realDir);
  if (fixed.startsWith(ardanto::kPathDelim))
    return fixed;
  return userPath;
}

bool StartRestore(TProgramState& state, IMailDataView& view)
{
  if (state.EngineRunning()) {
    view.ShowError(EngineStillRunningText());
    return false;
  }
  QString mailDir;
  QString shownPath;
  QString error;
  if (!state.Profiles.CheckProfile(state.MailProfile, mailDir, shownPath, error)) {
    view.ShowError(error);
    return false;
  }
  state.MailDir = mailDir;
  const QString profileName = state.Profiles.ProfileList().GetProfileName(state.MailProfile);

  // Where the backups of the profile were made to.
  const QString backupFolder = ardanto::SetDirName(state.BackupFolder(false));
  const QString infoFile = BackupInfoFile(backupFolder);
  QString source;
  bool found = false;
  if (backupFolder.startsWith(ardanto::kPathDelim) && QFileInfo(infoFile).isFile()) {
    const QString recorded = ReadBackupInfo(infoFile, state.MailProfile);
    if (!SameFolder(recorded, state.MailDir) &&
        !view.AskYesNo(FormatText(
            _("Thunderbird configuration was changed since last backup!\r\nRestore data of profile \"%s\" anyway?"),
            {profileName})))
      return false;
    source = ardanto::SourceFolderInBackup(backupFolder, state.Task.DriveId, state.MailDir);
    found = QFileInfo(source).isDir();
    if (!found && !view.AskYesNo(FormatText(
                      _("Could not find backup directory \"%s\"!\r\nRestore from another directory?"), {source})))
      return false;
    // A folder without a prefs.js in any form would make the engine refuse
    // the task; the user gets to choose another one instead.
    if (found && DetectBackupFormat(source) == bfNone) {
      view.ShowError(FormatText(_("No Thunderbird data found in \"%s\"!"), {source}));
      found = false;
    }
  } else {
    if (!view.AskYesNo(_("Could not find backup information for selected profile!\r\n"
                         "Select backup directory manually?")))
      return false;
    source = infoFile;
  }
  if (!found) {
    source = RestoreStartFolder(source, state.RealDir, state.UserPath);
    if (!SelectRestoreSource(view, source))
      return false;
  }
  const TBackupFormat format = DetectBackupFormat(source);

  QString target = CleanFolder(state.MailDir);
  if (!QFileInfo(target).isDir() && !QDir().mkpath(target)) {
    view.ShowError(FormatText(_("Could not create directory:\r\n\"%s\""), {target}));
    return false;
  }

  const QString title = _("Restore mail data from: ") + backupFolder;
  TChoice first =
      RestoreChoice(title,
                    FormatText(_("Restoring mail data to \"%s\" will overwrite all existing mails of profile \"%s\"!"),
                               {target, profileName}),
                    _("Clear mail profile completely prior to restoring"), cbContinue);
  const int answer = view.Choose(first);
  if (answer < 0)
    return false;
  bool clear = first.Checked;
  bool otherFolder = false;
  if (answer == cbOtherDirectory) {
    for (;;) {
      QString chosen;
      if (!view.SelectFolder(_("Select directory to which to restore files"), target, chosen))
        return false;
      target = CleanFolder(chosen);
      otherFolder = true;
      if (IsEmptyFolder(target))
        break;
      TChoice again = RestoreChoice(title, FormatText(_("The selected directory \"%s\" is not empty!"), {target}),
                                    _("Clear directory completely prior to restoring?"), cbOtherDirectory);
      const int next = view.Choose(again);
      if (next < 0)
        return false;
      clear = again.Checked;
      if (next == cbContinue)
        break;
    }
  }
  // Choosing the profile's own folder again is no move to another one.
  if (otherFolder && SameFolder(target, state.MailDir))
    otherFolder = false;
  // Clearing the target would take the backup with it, and restoring into
  // the backup would mix the two.
  if (Overlap(source, target)) {
    view.ShowError(FormatText(_("The restore target \"%s\" and the backup \"%s\" overlap"), {target, source}));
    return false;
  }

  TRestoreTask task;
  task.Source = source;
  task.Target = target;
  task.Clear = clear;
  task.UnCompress = format;
  task.LogKind = state.Task.LogKind;
  task.LogDir = state.LogDir;
  task.DriveId = state.Task.DriveId;
  if (!WriteRestoreTask(state.ReTaskName, task, &error)) {
    view.ShowPlainError(error);
    return false;
  }

  QStringList folders{state.MailDir};
  if (otherFolder)
    folders.append(target);
  if (view.ThunderbirdRunning(folders)) {
    TChoice close;
    close.Title = view.Caption();
    close.Text = _("Please close the running Thunderbird application\r\nand then click \"Continue\" ") +
                 _("to start the restore!");
    close.Buttons = {_("Continue")};
    close.Focus = -1;
    if (view.Choose(close) < 0)
      return false;
    if (view.ThunderbirdRunning(folders)) {
      view.ShowError(_("Thunderbird is still running - ") + _("restore aborted!"));
      return false;
    }
  }

  const bool restored = state.RunEngine(RestoreCommand(state.EnginePath, state.ReTaskName));
  if (otherFolder) {
    state.MailDir = target;
    state.Task.Changed = true;
    if (!state.Profiles.UpdateProfilesIni(state.MailProfile, state.MailDir, error))
      view.ShowError(error);
  }
  return restored;
}

} // namespace quillbox
