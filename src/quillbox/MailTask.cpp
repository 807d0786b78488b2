#include "quillbox/MailTask.h"

#include "common/CommaText.h"
#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QFileInfo>

namespace quillbox {

using namespace Qt::StringLiterals;
using ardanto::TUnicodeIniFile;

namespace {

const QString kGlobal = u"Global"_s;
const QString kMail = u"Mail"_s;
const QString kDirFilter = u"DirFilter"_s;
const QString kRestore = u"Restore"_s;

// The engine's log, named after the task by the engine itself.
QString LogName(const QString& logDir)
{
  return logDir + u"%taskname%"_s + u'.' + u"log"_s;
}

void WriteProgramInfo(TUnicodeIniFile& ini)
{
  ini.WriteProgramInfo(u"Program"_s, u"Ardanto"_s);
  ini.WriteProgramInfo(u"Version"_s, QStringLiteral(ARDANTO_VERSION));
}

QString MaskKey(int index)
{
  return u"Mask"_s + u"%1"_s.arg(index, 3, 10, QChar(u'0'));
}

QString DirSection(int index)
{
  return u"Dir"_s + u"%1"_s.arg(index, 3, 10, QChar(u'0'));
}

// A mask list that got shorter must not leave its old tail behind.
void DeleteMasksFrom(TUnicodeIniFile& ini, int count)
{
  for (const QString& key : ini.ReadSection(kDirFilter)) {
    if (!key.startsWith(u"Mask"_s, Qt::CaseInsensitive))
      continue;
    bool ok = false;
    const int index = key.mid(4).toInt(&ok);
    if (ok && index >= count && key.compare(MaskKey(index), Qt::CaseInsensitive) == 0)
      ini.DeleteKey(kDirFilter, key);
  }
}

QString WithoutTrailingDelimiter(QString path)
{
  while (path.size() > 1 && path.endsWith(ardanto::kPathDelim))
    path.chop(1);
  return path;
}

QString SaveErrorText(const QString& fileName, const QString& reason)
{
  QString text = ardanto::FormatText(_("Error saving task \"%s\"!"), {fileName});
  if (!reason.isEmpty())
    text += u'\n' + reason;
  return text;
}

// Why a save failed, in the words the user can act on.
QString ErrorReason(const std::exception& e)
{
  if (const auto* write = dynamic_cast<const ardanto::EWriteFileStreamError*>(&e))
    return ardanto::SystemErrorText(write->ErrorCode());
  if (const auto* error = dynamic_cast<const ardanto::EArdantoError*>(&e))
    return error->Message();
  return QString::fromLocal8Bit(e.what());
}

void SetError(QString* error, const QString& text)
{
  if (error)
    *error = text;
}

} // namespace

QString TaskFileName(const QString& jobDir, const QString& profile)
{
  QString name = profile;
  for (QChar& c : name) {
    const char16_t u = c.unicode();
    if (u < 32 || QStringView(u"\"*/:<>?\\|").contains(c))
      c = u'_';
  }
  return ardanto::SetDirName(jobDir) + u"tb-"_s + name + u".buj"_s;
}

QString RestoreTaskFileName(const QString& backupTaskFile)
{
  return ardanto::NewExt(backupTaskFile, u"rsj"_s);
}

QString DefaultDirMasks()
{
  return u"*cache*,log*,crash*,calendar-data,backup,datareporting"_s;
}

QString NoCompressionTypes()
{
  return u"7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,otp,ots,ott,"
         u"pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx"_s;
}

bool SaveTask(const QString& fileName, TMailTaskSettings& task, const TTaskContext& context, bool forced,
              QString* error)
{
  if (task.TaskNote.isEmpty())
    task.TaskNote = u'#' + _("Thunderbird mail backup") + u'#';
  try {
    // Secrets first: one that cannot be stored must stop the save before the
    // file is touched.
    QString reason;
    if (!ardanto::CanProtectPassword(task.CryptPwd, &reason))
      throw ardanto::EArdantoError(_("Password for file encryption") + u": "_s + reason);
    const QString password = ardanto::ProtectPassword(task.CryptPwd);
    const ardanto::TMailSecrets mailSecrets = ardanto::ProtectMailSecrets(task.MailData);

    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(fileName);
    WriteProgramInfo(ini);

    const QString& g = kGlobal;
    ini.WriteInteger(g, u"FtpBackup"_s, 0);
    ini.WriteString(g, u"Destination"_s, forced && !context.BuDir.isEmpty() ? context.BuDir : context.DestDir);
    ini.WriteString(g, u"Note"_s, task.TaskNote);
    ini.WriteString(g, u"DriveId"_s, task.DriveId);
    ini.WriteInteger(g, u"SendMail"_s, task.MailMode);
    ardanto::WriteMailData(ini, kMail, task.MailData, mailSecrets);
    ini.WriteInteger(g, u"DeleteFile"_s, 0);
    ini.WriteInteger(g, u"DeleteDirs"_s, 0);
    ini.WriteInteger(g, u"Verify"_s, 0);
    ini.WriteInteger(g, u"UseVss"_s, 0);
    ini.WriteBool(g, u"Compress"_s, !task.NoCompression);
    ini.WriteInteger(g, u"CompressAsZip"_s, 1);
    ini.WriteString(g, u"NoCompTypes"_s, NoCompressionTypes());
    ini.WriteInteger(g, u"Encrypt"_s, task.EncryptFiles ? task.CryptMode : 0);
    ini.WriteBool(g, u"FixPassword"_s, task.FixedPassword);
    ini.WriteString(g, u"Password"_s, password);
    ini.WriteInteger(g, u"LogFile"_s, forced && context.LogMode >= 0 ? context.LogMode : task.LogKind + 1);
    ini.WriteString(g, u"LogName"_s, LogName(context.LogDir));
    ini.WriteInteger(g, u"Timespan"_s, 2);
    ini.WriteInteger(g, u"IgnoreDst"_s, 1);
    for (const QString& key : {u"AllowJunctions"_s, u"FollowJunctions"_s, u"ScanDirectories"_s, u"NoWriteCache"_s,
                               u"TimestampFile"_s, u"SkipUnavailDir"_s, u"DestMode"_s})
      ini.WriteInteger(g, key, 0);
    ini.WriteInteger(g, u"SyncMode"_s, task.Synchronize() ? 1 : 0);
    ini.WriteBool(g, u"UseRecycler"_s, task.UseRecycler);
    ini.WriteInteger(g, u"CopySummary"_s, 0);
    ini.WriteInteger(g, u"CopyPermissions"_s, 0);
    ini.WriteInteger(g, u"CreationTime"_s, 1);
    ini.WriteInteger(g, u"EmptyDirs"_s, 1);
    for (const QString& key : {u"ClearDest"_s, u"ArchBit"_s, u"UseArch"_s, u"OnlyArch"_s})
      ini.WriteInteger(g, key, 0);

    QString maskText = DefaultDirMasks();
    if (!context.ExcludedDirs.isEmpty())
      maskText += u',' + context.ExcludedDirs;
    const QStringList masks = maskText.split(u',');
    for (int i = 0; i < masks.size(); ++i)
      ini.WriteString(kDirFilter, MaskKey(i), masks[i]);
    ini.WriteInteger(kDirFilter, u"Count"_s, static_cast<int>(masks.size()));
    DeleteMasksFrom(ini, static_cast<int>(masks.size()));
    ini.WriteInteger(g, u"DirCount"_s, 2);

    // The engine splits Filter at "|"; the list's own quotes must not reach it.
    QStringList fileMasks = ardanto::CommaTextSplit(context.ExcludedFiles);
    fileMasks.removeAll(QString());
    const QString mailDir = WithoutTrailingDelimiter(context.MailDir);

    const QString d0 = DirSection(0);
    ini.WriteInteger(d0, u"Enabled"_s, 1);
    ini.WriteString(d0, u"Source"_s, mailDir);
    ini.WriteString(d0, u"Volume"_s, QString());
    ini.WriteInteger(d0, u"Regular"_s, 0);
    ini.WriteInteger(d0, u"FilterMode"_s, 2);
    ini.WriteString(d0, u"Filter"_s, fileMasks.join(u'|'));
    ini.WriteInteger(d0, u"ExtRegular"_s, 0);
    ini.WriteInteger(d0, u"ExtFilterMode"_s, 0);
    ini.WriteString(d0, u"ExtFilter"_s, u"*"_s);
    ini.WriteInteger(d0, u"Attributes"_s, 0);
    ini.WriteInteger(d0, u"SyncCount"_s, 0);
    ini.WriteInteger(d0, u"BackupMode"_s, 1);
    ini.WriteString(d0, u"Exclude"_s, context.ExcludedTypes);
    ini.WriteString(d0, u"DirFilter"_s, ardanto::CommaTextJoin(masks));
    ini.WriteInteger(d0, u"IncludeDirs"_s, 0);
    ini.WriteInteger(d0, u"SubCount"_s, 0);

    const QString d1 = DirSection(1);
    ini.WriteBool(d1, u"Enabled"_s, task.IncludeCalendar);
    ini.WriteString(d1, u"Source"_s, mailDir + ardanto::kPathDelim + u"calendar-data"_s);
    ini.WriteString(d1, u"Volume"_s, QString());
    ini.WriteInteger(d1, u"Regular"_s, 0);
    ini.WriteInteger(d1, u"FilterMode"_s, 0);
    ini.WriteInteger(d1, u"ExtRegular"_s, 0);
    ini.WriteInteger(d1, u"ExtFilterMode"_s, 0);
    ini.WriteString(d1, u"ExtFilter"_s, u"*"_s);
    ini.WriteInteger(d1, u"Attributes"_s, 0);
    ini.WriteInteger(d1, u"SyncCount"_s, 0);
    ini.WriteInteger(d1, u"BackupMode"_s, 1);
    ini.WriteString(d1, u"Exclude"_s, QString());
    ini.WriteString(d1, u"DirFilter"_s, u"backup"_s);
    ini.WriteInteger(d1, u"IncludeDirs"_s, 0);
    ini.WriteInteger(d1, u"SubCount"_s, 0);

    ini.UpdateFile();
  } catch (const std::exception& e) {
    SetError(error, SaveErrorText(fileName, ErrorReason(e)));
    return false;
  }
  task.Changed = false;
  SetError(error, QString());
  return true;
}

bool LoadTask(const QString& fileName, TMailTaskSettings& task, const QString& defaultDriveId, QString* error)
{
  SetError(error, QString());
  if (!QFileInfo(fileName).isFile())
    return false;
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
    const QString& g = kGlobal;
    TMailTaskSettings t = task;
    t.TaskNote = ini.ReadString(g, u"Note"_s, QString()).replace(u'#', u'"');
    t.DriveId = ini.ReadString(g, u"DriveId"_s, defaultDriveId);
    t.BackupCount = ini.ReadInteger(g, u"BackupCount"_s, 1);
    t.NoCompression = !ini.ReadBool(g, u"Compress"_s, true);

    t.MailData = ardanto::ReadMailData(ini, kMail);
    const int sendMail = ini.ReadInteger(g, u"SendMail"_s, ardanto::mmNone);
    t.MailMode = sendMail >= ardanto::mmNone && sendMail <= ardanto::mmError ? static_cast<ardanto::TMailMode>(sendMail)
                                                                             : ardanto::mmNone;
    // A mail without a server or a recipient cannot go out.
    if (t.MailData.SMTP.isEmpty() || t.MailData.Recipients.isEmpty())
      t.MailMode = ardanto::mmNone;

    t.CryptMode = ini.ReadInteger(g, u"Encrypt"_s, 0);
    t.EncryptFiles = t.CryptMode > 0;
    t.FixedPassword = t.EncryptFiles && ini.ReadBool(g, u"FixPassword"_s, false);
    t.FixedPasswordEnabled = t.EncryptFiles;
    t.PasswordButtonEnabled = t.FixedPassword;
    t.EncryptJustTicked = false;
    t.CryptPwd = ardanto::UnprotectPassword(ini.ReadString(g, u"Password"_s, QString()));

    const int logKind = ini.ReadInteger(g, u"LogFile"_s, 1) - 1;
    t.LogKind = logKind < lkShort || logKind > lkLong ? lkShort : logKind;

    t.SyncMode = ini.ReadInteger(g, u"SyncMode"_s, 0) != 0 ? 1 : 0;
    t.UseRecyclerEnabled = t.Synchronize();
    t.UseRecycler = t.Synchronize() && ini.ReadBool(g, u"UseRecycler"_s, false);
    t.Changed = false;
    task = t;
  } catch (const std::exception& e) {
    SetError(error, ErrorReason(e));
    return false;
  }
  return true;
}

bool WriteRestoreTask(const QString& fileName, const TRestoreTask& restore, QString* error)
{
  try {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(fileName);
    // A [Global] section would make the engine take the file for a backup.
    ini.EraseSection(kGlobal);
    WriteProgramInfo(ini);
    const QString& r = kRestore;
    ini.WriteString(r, u"Source"_s, restore.Source);
    ini.WriteString(r, u"DestDir"_s, restore.Target);
    ini.WriteInteger(r, u"Origin"_s, 0);
    ini.WriteInteger(r, u"Overwrite"_s, 0);
    ini.WriteInteger(r, u"RestoreMode"_s, 0);
    ini.WriteBool(r, u"ClearDest"_s, restore.Clear);
    ini.WriteInteger(r, u"LogFile"_s, restore.LogKind == lkLong ? 2 : 1);
    ini.WriteString(r, u"LogName"_s, LogName(restore.LogDir));
    ini.WriteInteger(r, u"CreationTime"_s, 1);
    ini.WriteInteger(r, u"CopyPermissions"_s, 0);
    ini.WriteInteger(r, u"AllowJunctions"_s, 0);
    ini.WriteInteger(r, u"CopySummary"_s, 0);
    ini.WriteInteger(r, u"EmptyDirs"_s, 0);
    ini.WriteInteger(r, u"UnCompress"_s, restore.UnCompress);
    ini.WriteInteger(r, u"NoDecrypt"_s, 0);
    ini.WriteString(r, u"Password"_s, QString());
    ini.WriteInteger(r, u"SecurityCopies"_s, 0);
    ini.WriteInteger(r, u"BakSecMode"_s, 0);
    ini.WriteInteger(r, u"BakDirs"_s, 1);
    ini.WriteInteger(r, u"BakFiles"_s, 1);
    ini.WriteString(r, u"BakPrefix"_s, u"~"_s);
    ini.WriteString(r, u"BakSuffix"_s, u"bak"_s);
    ini.WriteInteger(r, u"SyncSecMode"_s, 0);
    ini.WriteInteger(r, u"SyncDirs"_s, 1);
    ini.WriteInteger(r, u"SyncFiles"_s, 1);
    ini.WriteString(r, u"SyncPrefix"_s, u"_"_s);
    ini.WriteString(r, u"SyncSuffix"_s, u"sync"_s);
    ini.DeleteKey(r, u"DirPrefix"_s);
    ini.WriteString(r, u"DriveId"_s, restore.DriveId);
    ini.WriteInteger(r, u"Timespan"_s, 2);
    ini.WriteInteger(r, u"IgnoreDst"_s, 1);
    ini.WriteInteger(r, u"FtpBackup"_s, 0);
    ini.UpdateFile();
  } catch (const std::exception& e) {
    SetError(error, SaveErrorText(fileName, ErrorReason(e)));
    return false;
  }
  SetError(error, QString());
  return true;
}

void EncryptFilesChanged(TMailTaskSettings& task, bool ticked)
{
  task.EncryptFiles = ticked;
  task.FixedPasswordEnabled = ticked;
  if (ticked && task.CryptMode == 0)
    task.CryptMode = 1;
  task.EncryptJustTicked = ticked;
  task.PasswordButtonEnabled = false;
  task.Changed = true;
}

void FixedPasswordChanged(TMailTaskSettings& task, bool ticked, bool byClick, const TTaskDialogs& dialogs)
{
  const bool ask = ticked && !task.PasswordButtonEnabled && (byClick || task.EncryptJustTicked);
  task.EncryptJustTicked = false;
  QString password;
  bool entered = false;
  if (ask) {
    entered = dialogs.NewPassword && dialogs.NewPassword(password);
    // Cancel takes the tick away again, and that is a change of its own.
    if (!entered)
      ticked = false;
  }
  task.FixedPassword = ticked;
  task.CryptPwd = entered ? password : QString();
  task.PasswordButtonEnabled = ticked;
  task.Changed = true;
}

void EnterPasswordClick(TMailTaskSettings& task, const TTaskDialogs& dialogs)
{
  QString password;
  if (!dialogs.NewPassword || !dialogs.NewPassword(password))
    return;
  task.CryptPwd = password;
  task.Changed = true;
}

void SynchronizeChanged(TMailTaskSettings& task, bool ticked)
{
  task.SyncMode = ticked ? 1 : 0;
  task.UseRecyclerEnabled = ticked;
  if (!ticked)
    task.UseRecycler = false;
  task.Changed = true;
}

void UseRecyclerChanged(TMailTaskSettings& task, bool ticked)
{
  task.UseRecycler = ticked && task.UseRecyclerEnabled;
  task.Changed = true;
}

void SendMailChanged(TMailTaskSettings& task, bool ticked, const TTaskDialogs& dialogs)
{
  if (ticked) {
    task.MailMode = ardanto::mmAlways;
    if (!dialogs.MailSettings || !dialogs.MailSettings(task.MailData, task.MailMode))
      task.MailMode = ardanto::mmNone;
  } else {
    task.MailMode = ardanto::mmNone;
  }
  task.Changed = true;
}

void EditMailClick(TMailTaskSettings& task, const TTaskDialogs& dialogs)
{
  if (!task.SendMail()) {
    SendMailChanged(task, true, dialogs);
    return;
  }
  if (dialogs.MailSettings && dialogs.MailSettings(task.MailData, task.MailMode))
    task.Changed = true;
}

bool EditFilterList(const QString& caption, QString& list, const TListEditor& editor)
{
  QStringList items = ardanto::CommaTextSplit(list);
  if (!editor || !editor(caption, _("Filter expressions:"), items))
    return false;
  QStringList kept;
  for (const QString& item : items) {
    const QString text = item.trimmed();
    if (!text.isEmpty())
      kept.append(text);
  }
  list = ardanto::CommaTextJoin(kept);
  return true;
}

} // namespace quillbox
