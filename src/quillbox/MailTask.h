#pragma once

// The backup task of one Thunderbird profile as the engine reads it (.buj),
// the restore task (.rsj), and the rules of the option controls that edit the
// task in the main window. The window binds its controls to these fields and
// calls these functions; nothing here shows a window of its own.

#include "mail/MailData.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace quillbox {

// The task file of a profile: jobDir + "tb-" + the profile name + ".buj",
// with control characters and " * / : < > ? \ | of the name turned into "_",
// so that the name stays one file inside jobDir whatever the profile is called.
QString TaskFileName(const QString& jobDir, const QString& profile);
// The restore task beside a backup task: the extension "rsj" for "buj".
QString RestoreTaskFileName(const QString& backupTaskFile);

// Choices of the radio group "Log file"; the task file stores index + 1.
enum TLogKind : int { lkShort = 0, lkLong = 1 };

// The folder masks every backup leaves out.
QString DefaultDirMasks();
// The types the engine stores without compressing them.
QString NoCompressionTypes();

// What the window edits of a task: the task's own values and the state of the
// option controls.
struct TMailTaskSettings {
  QString DriveId;     // pattern of the folder that holds a source drive
  int BackupCount = 0; // kept by the engine; read for the placeholders
  QString TaskNote;
  int CryptMode = 0; // encryption the engine applies while "Encrypt files" is ticked
  QString CryptPwd;  // the fixed password, in clear
  int SyncMode = 0;  // "Synchronize backup directory": ticked when not 0
  ardanto::TMailMode MailMode = ardanto::mmNone;
  ardanto::TMailData MailData;

  bool NoCompression = false;  // "No compression"
  bool IncludeCalendar = true; // "Include calendar data"
  int LogKind = lkShort;       // "Log file"
  bool EncryptFiles = false;   // "Encrypt files"
  bool FixedPassword = false;  // "Use fixed password"
  bool FixedPasswordEnabled = false;
  bool PasswordButtonEnabled = false; // "Enter fixed password for this task"
  bool UseRecycler = false;           // "Use Recycle Bin"
  bool UseRecyclerEnabled = false;

  // The task settings differ from the task file.
  bool Changed = false;
  // "Encrypt files" was ticked and "Use fixed password" has not changed since.
  bool EncryptJustTicked = false;

  bool Synchronize() const { return SyncMode != 0; }
  // "Send mail after backup".
  bool SendMail() const { return MailMode != ardanto::mmNone; }
};

// What a task takes from the rest of the window.
struct TTaskContext {
  QString DestDir;       // the backup folder as entered (placeholders, volume path)
  QString MailDir;       // the profile's folder
  QString LogDir;        // put in front of the engine's log name: empty or ending in "/"
  QString ExcludedFiles; // comma text of file masks
  QString ExcludedTypes; // comma text of extensions
  QString ExcludedDirs;  // further folder masks, cut at every comma
  // A forced run's options: the backup folder and the log kind (-1: not given).
  QString BuDir;
  int LogMode = -1;
};

// Writes the backup task; entries the program does not write (BackupCount,
// keys of other versions) stay. The file goes to the disk whole or not at
// all, and a new file is readable by its owner only. Changed becomes false on
// success; on failure it stays, the file is as it was, and error receives
// "Error saving task ..." with the reason.
[[nodiscard]] bool SaveTask(const QString& fileName, TMailTaskSettings& task, const TTaskContext& context, bool forced,
                            QString* error = nullptr);

// Sets the task's values and controls from the file; Changed becomes false.
// False, with nothing changed, when the file does not exist (error stays
// empty) or cannot be read (error says why). defaultDriveId is taken when the
// file has no DriveId.
[[nodiscard]] bool LoadTask(const QString& fileName, TMailTaskSettings& task, const QString& defaultDriveId,
                            QString* error = nullptr);

struct TRestoreTask {
  QString Source;     // the backup folder of the profile
  QString Target;     // the folder to restore into
  bool Clear = false; // empty the target first
  int UnCompress = 3; // stored form: 3 zip, 1 gzip, 0 plain
  int LogKind = lkShort;
  QString LogDir;
  QString DriveId;
};

// Writes the restore task over fileName (entries of other sections stay,
// [Global] goes, so the engine sees a restore). As SaveTask for failures.
[[nodiscard]] bool WriteRestoreTask(const QString& fileName, const TRestoreTask& restore, QString* error = nullptr);

// The window's dialogs, as the option rules need them.
struct TTaskDialogs {
  // The new-password dialog "File encryption"; true and the password on OK.
  std::function<bool(QString& password)> NewPassword;
  // The mail settings of the task; true on OK with record and mode changed.
  std::function<bool(ardanto::TMailData& data, ardanto::TMailMode& mode)> MailSettings;
};

// "Encrypt files" ticked or unticked.
void EncryptFilesChanged(TMailTaskSettings& task, bool ticked);
// "Use fixed password" changed; byClick: the user clicked it. Ticking it asks
// for the password; Cancel removes the tick again (FixedPassword tells the
// window what the box shows now).
void FixedPasswordChanged(TMailTaskSettings& task, bool ticked, bool byClick, const TTaskDialogs& dialogs);
// "Enter fixed password for this task".
void EnterPasswordClick(TMailTaskSettings& task, const TTaskDialogs& dialogs);
// "Synchronize backup directory".
void SynchronizeChanged(TMailTaskSettings& task, bool ticked);
// "Use Recycle Bin".
void UseRecyclerChanged(TMailTaskSettings& task, bool ticked);
// "Send mail after backup": ticking opens the mail settings; the box shows
// SendMail() afterwards.
void SendMailChanged(TMailTaskSettings& task, bool ticked, const TTaskDialogs& dialogs);
// "Edit" of the mail settings.
void EditMailClick(TMailTaskSettings& task, const TTaskDialogs& dialogs);

// The list editor: caption, prompt and the items; true and the edited items
// on OK.
using TListEditor = std::function<bool(const QString& caption, const QString& prompt, QStringList& items)>;
// Edits a comma text as a list under the prompt "Filter expressions:". On OK
// the edited items, without empty ones, become the new comma text and true is
// returned; Changed is not touched.
bool EditFilterList(const QString& caption, QString& list, const TListEditor& editor);

} // namespace quillbox
