#include "quillbox/MailTask.h"
#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace quillbox;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

const QString kGlobal = u"Global"_s;

// A file's sections and lines as text, with protected values in clear so
// that they can be compared with a reference (which has them so already).
QStringList Normalized(const TUnicodeIniFile& ini, bool decode = true)
{
  QStringList lines;
  for (const QString& section : ini.ReadSections()) {
    lines.append(u'[' + section + u']');
    for (const QString& line : ini.ReadSectionValues(section)) {
      const QString key = line.section(u'=', 0, 0);
      const QString value = line.mid(key.size() + 1);
      const bool secret = (key == u"Password"_s && (section == kGlobal || section == u"Mail"_s)) ||
                          (key == u"Encrypt"_s && section == u"Mail"_s);
      if (decode && secret && !value.isEmpty())
        lines.append(key + u"=<protected:"_s + UnprotectPassword(value) + u'>');
      else
        lines.append(line);
    }
  }
  return lines;
}

QStringList Reference(const QString& name)
{
  const TempDir dir;
  QByteArray text = ReadFile(QStringLiteral(QUILLBOX_TEST_DATA) + u'/' + name);
  text.replace("@VERSION@", ARDANTO_VERSION);
  return Normalized(TUnicodeIniFile::CreateForRead(dir.Write(u"reference.ini"_s, text)), false);
}

unsigned FileMode(const QString& file)
{
  struct stat st {};
  ::stat(QFile::encodeName(file).constData(), &st);
  return st.st_mode & 07777;
}

TTaskContext Context()
{
  TTaskContext c;
  c.DestDir = u"/backup/%date%"_s;
  c.MailDir = u"/home/ann/.thunderbird/abc.default/"_s;
  c.LogDir = u"/home/ann/logs/"_s;
  c.ExcludedFiles = u"parent.lock,global-messages-db.sqlite"_s;
  c.ExcludedTypes = u"SQLITE-SHM,SQLITE-WAL,LZ4,BAK,LOCK"_s;
  c.ExcludedDirs = u"Junk,Trash"_s;
  return c;
}

TMailTaskSettings Task()
{
  TMailTaskSettings t;
  t.DriveId = u"Drv?"_s;
  t.MailMode = mmError;
  t.MailData.SMTP = u"smtp.example.org"_s;
  t.MailData.Port = 465;
  t.MailData.Username = u"ann"_s;
  t.MailData.Password = u"mail secret"_s;
  t.MailData.Sender = u"ann@example.org"_s;
  t.MailData.Recipients = u"ann@example.org,#admin@example.org"_s;
  t.MailData.Subject = u"Backup %taskname%: %status%"_s;
  t.MailData.Attachments = u"\"/home/ann/my notes.txt\""_s;
  t.MailData.SecureMode = stImplicit;
  t.MailData.LogMode = mmError;
  t.MailData.ZipMode = zmYes;
  t.CryptMode = 1;
  t.CryptPwd = u"fixed secret"_s;
  t.FixedPassword = true;
  t.SyncMode = 1;
  t.UseRecycler = true;
  t.LogKind = lkLong;
  t.IncludeCalendar = false;
  t.Changed = true;
  return t;
}

QString Global(const QString& file, const QString& key)
{
  return TUnicodeIniFile::CreateForRead(file).ReadString(kGlobal, key, u"<missing>"_s);
}

// Every write past a few bytes fails while it lives, as on a full disk.
class TFileSizeLimit {
public:
  TFileSizeLimit()
  {
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit small = FOld;
    small.rlim_cur = 512;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~TFileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &FOld); }

private:
  rlimit FOld{};
};

} // namespace

TEST(MailTaskFile, TaskFileNamesStayInsideTheJobFolder)
{
  const QString jobDir = u"/home/ann/Ardanto/"_s;
  struct Case {
    QString Profile;
    QString Name;
  } cases[] = {
      {u"a/b:c"_s, u"tb-a_b_c.buj"_s},
      {u"\"*/:<>?\\|"_s, u"tb-_________.buj"_s},
      {u"line\nbreak\ttab"_s + QChar(0) + QChar(31), u"tb-line_break_tab__.buj"_s},
      {u"../../etc/passwd"_s, u"tb-.._.._etc_passwd.buj"_s},
      {u".."_s, u"tb-...buj"_s},
      {u"Jürgen 日本 ~#%"_s, u"tb-Jürgen 日本 ~#%.buj"_s},
      {u""_s, u"tb-.buj"_s},
  };
  for (const Case& c : cases) {
    const QString file = TaskFileName(jobDir, c.Profile);
    EXPECT_EQ(file, jobDir + c.Name) << c.Name.toStdString();
    EXPECT_EQ(QFileInfo(file).absolutePath() + u'/', jobDir) << c.Name.toStdString();
  }
  EXPECT_EQ(TaskFileName(u"/jobs"_s, u"x"_s), u"/jobs/tb-x.buj"_s);
  EXPECT_EQ(RestoreTaskFileName(TaskFileName(jobDir, u"a/b:c"_s)), jobDir + u"tb-a_b_c.rsj"_s);
}

TEST(MailTaskFile, FirstSaveWritesEveryKeyInOrderOwnerOnly)
{
  TempDir dir;
  const QString file = dir.File(u"tb-default.buj"_s);
  TMailTaskSettings task = Task();
  QString error = u"stale"_s;
  ASSERT_TRUE(SaveTask(file, task, Context(), false, &error)) << error.toStdString();
  EXPECT_TRUE(error.isEmpty());
  EXPECT_FALSE(task.Changed);
  EXPECT_EQ(task.TaskNote, u"#Thunderbird mail backup#"_s);

  EXPECT_EQ(Normalized(TUnicodeIniFile::CreateForRead(file)), Reference(u"first-save.buj"_s));
  EXPECT_TRUE(ReadFile(file).startsWith("\xFF\xFE"));
  EXPECT_EQ(FileMode(file), 0600u);
  EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file is left";
}

TEST(MailTaskFile, RewriteKeepsForeignEntriesAndTheNoteComesBackWithQuotes)
{
  TempDir dir;
  const QString file = dir.Write(u"t.buj"_s, "[Global]\nBackupCount=7\nFtpBackup=1\nFuture=keep me\n"
                                             "[DirFilter]\nMask000=old\nMask008=old\nMask009=old\nMask010x=odd\n"
                                             "Count=10\n[Dir000]\nForeign=1\n[Dir002]\nEnabled=1\n");
  ::chmod(QFile::encodeName(file).constData(), 0640);
  TMailTaskSettings task = Task();
  ASSERT_TRUE(SaveTask(file, task, Context(), false));

  TMailTaskSettings loaded;
  ASSERT_TRUE(LoadTask(file, loaded, u"Drv?"_s));
  EXPECT_EQ(loaded.TaskNote, u"\"Thunderbird mail backup\""_s);
  EXPECT_EQ(loaded.BackupCount, 7);
  ASSERT_TRUE(SaveTask(file, loaded, Context(), false));

  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadString(kGlobal, u"Note"_s, {}), u"\"Thunderbird mail backup\""_s);
  EXPECT_EQ(ini.ReadString(kGlobal, u"BackupCount"_s, {}), u"7"_s);
  EXPECT_EQ(ini.ReadString(kGlobal, u"Future"_s, {}), u"keep me"_s);
  EXPECT_EQ(ini.ReadString(kGlobal, u"FtpBackup"_s, {}), u"0"_s);
  EXPECT_EQ(ini.ReadString(u"Dir000"_s, u"Foreign"_s, {}), u"1"_s);
  EXPECT_TRUE(ini.SectionExists(u"Dir002"_s));
  // The old mask list was longer: its tail goes, what is no mask stays.
  EXPECT_EQ(ini.ReadString(u"DirFilter"_s, u"Count"_s, {}), u"8"_s);
  EXPECT_FALSE(ini.ValueExists(u"DirFilter"_s, u"Mask008"_s));
  EXPECT_FALSE(ini.ValueExists(u"DirFilter"_s, u"Mask009"_s));
  EXPECT_TRUE(ini.ValueExists(u"DirFilter"_s, u"Mask010x"_s));
  EXPECT_EQ(ini.ReadSections(),
            (QStringList{u"Global"_s, u"DirFilter"_s, u"Dir000"_s, u"Dir002"_s, u"Unicode"_s, u"Mail"_s, u"Dir001"_s}));
  EXPECT_EQ(FileMode(file), 0640u) << "the user's own permissions stay";
}

TEST(MailTaskFile, FolderMasksAndFileMasks)
{
  TempDir dir;
  const QString file = dir.File(u"t.buj"_s);
  struct Case {
    QString ExcludedDirs;
    QString ExcludedFiles;
    QStringList Masks;
    QString DirFilter;
    QString Filter;
  } cases[] = {
      {u""_s,
       u""_s,
       {u"*cache*"_s, u"log*"_s, u"crash*"_s, u"calendar-data"_s, u"backup"_s, u"datareporting"_s},
       u"*cache*,log*,crash*,calendar-data,backup,datareporting"_s,
       u""_s},
      // Items are cut at every comma as given: blanks and empty items stay.
      {u"Junk,,My Trash"_s,
       u"\"my file.txt\",*.tmp"_s,
       {u"*cache*"_s, u"log*"_s, u"crash*"_s, u"calendar-data"_s, u"backup"_s, u"datareporting"_s, u"Junk"_s, u""_s,
        u"My Trash"_s},
       u"*cache*,log*,crash*,calendar-data,backup,datareporting,Junk,,\"My Trash\""_s,
       u"my file.txt|*.tmp"_s},
  };
  for (const Case& c : cases) {
    TTaskContext context = Context();
    context.ExcludedDirs = c.ExcludedDirs;
    context.ExcludedFiles = c.ExcludedFiles;
    TMailTaskSettings task = Task();
    ASSERT_TRUE(SaveTask(file, task, context, false));
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
    QStringList masks;
    for (int i = 0; i < ini.ReadInteger(u"DirFilter"_s, u"Count"_s, 0); ++i)
      masks.append(ini.ReadString(u"DirFilter"_s, u"Mask%1"_s.arg(i, 3, 10, QChar(u'0')), u"<missing>"_s));
    EXPECT_EQ(masks, c.Masks);
    EXPECT_EQ(ini.ReadString(u"Dir000"_s, u"DirFilter"_s, {}), c.DirFilter);
    EXPECT_EQ(ini.ReadString(u"Dir000"_s, u"Filter"_s, {}), c.Filter);
  }
}

TEST(MailTaskFile, OptionsOfAForcedRunAndEncryptWhileUnticked)
{
  TempDir dir;
  const QString file = dir.File(u"t.buj"_s);
  TTaskContext context = Context();
  context.BuDir = u"/mnt/usb/backup"_s;
  context.LogMode = 0;
  TMailTaskSettings task = Task();

  ASSERT_TRUE(SaveTask(file, task, context, true));
  EXPECT_EQ(Global(file, u"Destination"_s), u"/mnt/usb/backup"_s);
  EXPECT_EQ(Global(file, u"LogFile"_s), u"0"_s);
  ASSERT_TRUE(SaveTask(file, task, context, false));
  EXPECT_EQ(Global(file, u"Destination"_s), u"/backup/%date%"_s);
  EXPECT_EQ(Global(file, u"LogFile"_s), u"2"_s);
  context.BuDir.clear();
  context.LogMode = -1;
  ASSERT_TRUE(SaveTask(file, task, context, true));
  EXPECT_EQ(Global(file, u"Destination"_s), u"/backup/%date%"_s);
  EXPECT_EQ(Global(file, u"LogFile"_s), u"2"_s);

  // CryptMode 1 is kept while "Encrypt files" is unticked, but not written.
  EXPECT_EQ(task.CryptMode, 1);
  EXPECT_EQ(Global(file, u"Encrypt"_s), u"0"_s);
  EncryptFilesChanged(task, true);
  ASSERT_TRUE(SaveTask(file, task, context, false));
  EXPECT_EQ(Global(file, u"Encrypt"_s), u"1"_s);
  EncryptFilesChanged(task, false);
  ASSERT_TRUE(SaveTask(file, task, context, false));
  EXPECT_EQ(Global(file, u"Encrypt"_s), u"0"_s);
  EXPECT_EQ(task.CryptMode, 1);
}

TEST(MailTaskFile, LoadTaskSetsTheStateFromTheFile)
{
  TempDir dir;
  struct Case {
    const char* Name;
    QByteArray Body;
    std::function<void(const TMailTaskSettings&)> Check;
  } cases[] = {
      {"missing keys take the defaults", "[Global]\n",
       [](const TMailTaskSettings& t) {
         EXPECT_EQ(t.DriveId, u"Lw?"_s);
         EXPECT_EQ(t.BackupCount, 1);
         EXPECT_EQ(t.TaskNote, QString());
         EXPECT_FALSE(t.NoCompression);
         EXPECT_EQ(t.MailMode, mmNone);
         EXPECT_EQ(t.CryptMode, 0);
         EXPECT_FALSE(t.EncryptFiles || t.FixedPassword || t.FixedPasswordEnabled || t.PasswordButtonEnabled);
         EXPECT_EQ(t.LogKind, lkShort);
         EXPECT_FALSE(t.Synchronize() || t.UseRecycler || t.UseRecyclerEnabled);
       }},
      {"values",
       "[Global]\nNote=a #quoted# note\nDriveId=Disk?\nCompress=0\nEncrypt=3\nFixPassword=1\n"
       "LogFile=2\nSyncMode=5\nUseRecycler=1\n",
       [](const TMailTaskSettings& t) {
         EXPECT_EQ(t.TaskNote, u"a \"quoted\" note"_s);
         EXPECT_EQ(t.DriveId, u"Disk?"_s);
         EXPECT_TRUE(t.NoCompression);
         EXPECT_EQ(t.CryptMode, 3);
         EXPECT_TRUE(t.EncryptFiles && t.FixedPassword && t.FixedPasswordEnabled && t.PasswordButtonEnabled);
         EXPECT_EQ(t.LogKind, lkLong);
         EXPECT_EQ(t.SyncMode, 1);
         EXPECT_TRUE(t.UseRecycler && t.UseRecyclerEnabled);
       }},
      {"no fixed password without encryption", "[Global]\nEncrypt=0\nFixPassword=1\nSyncMode=0\nUseRecycler=1\n",
       [](const TMailTaskSettings& t) {
         EXPECT_FALSE(t.EncryptFiles || t.FixedPassword || t.FixedPasswordEnabled);
         EXPECT_FALSE(t.UseRecycler || t.UseRecyclerEnabled);
       }},
      {"log kinds out of range", "[Global]\nLogFile=5\n",
       [](const TMailTaskSettings& t) { EXPECT_EQ(t.LogKind, lkShort); }},
      {"log kind zero", "[Global]\nLogFile=0\n", [](const TMailTaskSettings& t) { EXPECT_EQ(t.LogKind, lkShort); }},
      {"mail without a server", "[Global]\nSendMail=2\n[Mail]\nRecipients=a@b.c\n",
       [](const TMailTaskSettings& t) {
         EXPECT_EQ(t.MailMode, mmNone);
         EXPECT_EQ(t.MailData.Recipients, u"a@b.c"_s);
       }},
      {"mail without recipients", "[Global]\nSendMail=1\n[Mail]\nSMTP=mx\n",
       [](const TMailTaskSettings& t) { EXPECT_EQ(t.MailMode, mmNone); }},
      {"mail on errors", "[Global]\nSendMail=2\n[Mail]\nSMTP=mx\nRecipients=a@b.c\n",
       [](const TMailTaskSettings& t) { EXPECT_EQ(t.MailMode, mmError); }},
      {"unknown mail mode", "[Global]\nSendMail=9\n[Mail]\nSMTP=mx\nRecipients=a@b.c\n",
       [](const TMailTaskSettings& t) { EXPECT_EQ(t.MailMode, mmNone); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMailTaskSettings task;
    task.Changed = true;
    ASSERT_TRUE(LoadTask(dir.Write(u"t.buj"_s, c.Body), task, u"Lw?"_s));
    EXPECT_FALSE(task.Changed);
    c.Check(task);
  }
}

TEST(MailTaskFile, SavedTaskLoadsBackAndPasswordsTravelProtected)
{
  TempDir dir;
  const QString file = dir.File(u"t.buj"_s);
  TMailTaskSettings task = Task();
  EncryptFilesChanged(task, true);
  task.CryptPwd = u"Passwört ÿ"_s;
  task.NoCompression = true;
  ASSERT_TRUE(SaveTask(file, task, Context(), false));
  EXPECT_FALSE(Global(file, u"Password"_s).contains(u"Passw"_s));

  TMailTaskSettings back;
  ASSERT_TRUE(LoadTask(file, back, u"Drv?"_s));
  EXPECT_EQ(back.CryptPwd, u"Passwört ÿ"_s);
  EXPECT_EQ(back.MailData, task.MailData);
  EXPECT_EQ(back.MailMode, mmError);
  EXPECT_TRUE(back.EncryptFiles && back.FixedPassword);
  EXPECT_EQ(back.CryptMode, 1);
  EXPECT_TRUE(back.NoCompression);
  EXPECT_EQ(back.LogKind, lkLong);
  EXPECT_TRUE(back.Synchronize() && back.UseRecycler);

  task.CryptPwd.clear();
  ASSERT_TRUE(SaveTask(file, task, Context(), false));
  EXPECT_EQ(Global(file, u"Password"_s), QString()) << "an empty password stays empty";
}

TEST(MailTaskFile, MissingOrUnreadableTaskFilesChangeNothing)
{
  TempDir dir;
  TMailTaskSettings task = Task();
  QString error;
  EXPECT_FALSE(LoadTask(dir.File(u"none.buj"_s), task, u"Drv?"_s, &error));
  EXPECT_TRUE(error.isEmpty());
  EXPECT_TRUE(task.Changed);
  EXPECT_EQ(task.CryptPwd, u"fixed secret"_s);

  const QString unreadable = dir.File(u"t.buj"_s);
  dir.Write(u"t.buj/inside"_s, "x");
  EXPECT_FALSE(LoadTask(unreadable, task, u"Drv?"_s, &error));
  EXPECT_TRUE(task.Changed);
}

TEST(MailTaskFile, FailedSaveKeepsTheOldFileAndStaysChanged)
{
  TempDir dir;
  const QString file = dir.Write(u"t.buj"_s, "[Global]\nBackupCount=3\n");
  const QByteArray old = ReadFile(file);
  struct Case {
    const char* Name;
    std::function<void(TMailTaskSettings&)> Spoil;
    bool FullDisk;
    QString Reason;
  } cases[] = {
      {"disk full", [](TMailTaskSettings&) {}, true, u"File too large"_s},
      {"password outside the code page", [](TMailTaskSettings& t) { t.CryptPwd = u"密码密码密码密码"_s; }, false,
       u"Password for file encryption: "_s},
      {"password too long", [](TMailTaskSettings& t) { t.CryptPwd = QString(65, u'x'); }, false,
       u"Password for file encryption: "_s},
      {"mail password outside the code page", [](TMailTaskSettings& t) { t.MailData.Password = u"€uro→"_s; }, false,
       u"Password of the mail server: "_s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMailTaskSettings task = Task();
    c.Spoil(task);
    QString error;
    bool saved = true;
    if (c.FullDisk) {
      TFileSizeLimit limit;
      saved = SaveTask(file, task, Context(), false, &error);
    } else {
      saved = SaveTask(file, task, Context(), false, &error);
    }
    EXPECT_FALSE(saved);
    EXPECT_TRUE(task.Changed);
    EXPECT_TRUE(error.startsWith(u"Error saving task \"%1\"!\n"_s.arg(file))) << error.toStdString();
    EXPECT_TRUE(error.contains(c.Reason)) << error.toStdString();
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"t.buj"_s});
  }

  // A name that is a folder is refused without touching it.
  const QString folder = dir.File(u"folder.buj"_s);
  dir.Write(u"folder.buj/inside"_s, "x");
  TMailTaskSettings task = Task();
  QString error;
  EXPECT_FALSE(SaveTask(folder, task, Context(), false, &error));
  EXPECT_TRUE(error.startsWith(u"Error saving task"_s));
  EXPECT_EQ(ReadFile(folder + u"/inside"_s), QByteArray("x"));
}

TEST(MailTaskFile, RestoreTaskReplacesTheBackupSections)
{
  TempDir dir;
  const QString file = dir.Write(u"tb-default.rsj"_s, "[Unicode]\nEncoding=UTF-16LE\nProgram=Old\n"
                                                      "[Global]\nDestination=/x\n[Restore]\nDirPrefix=old\n"
                                                      "[Extra]\nCustom=kept\n");
  TRestoreTask restore;
  restore.Source = u"/backup/2024-05-01/home/ann/.thunderbird/abc.default"_s;
  restore.Target = u"/home/ann/restored mail"_s;
  restore.Clear = true;
  restore.UnCompress = 1;
  restore.LogKind = lkLong;
  restore.DriveId = u"Drv?"_s;
  QString error;
  ASSERT_TRUE(WriteRestoreTask(file, restore, &error)) << error.toStdString();
  EXPECT_EQ(Normalized(TUnicodeIniFile::CreateForRead(file)), Reference(u"restore.rsj"_s));

  QString failure;
  EXPECT_FALSE(WriteRestoreTask(dir.Path(), restore, &failure));
  EXPECT_TRUE(failure.startsWith(u"Error saving task"_s));
}

namespace {

// Dialog answers a test gives, and what the dialogs were asked.
struct TScriptedDialogs {
  QStringList Passwords; // answers in turn; an empty one is Cancel
  int PasswordAsks = 0;
  bool MailOk = true;
  TMailMode MailAnswer = mmAlways;
  int MailAsks = 0;
  TMailMode ModeShown = mmNone;

  TTaskDialogs Dialogs()
  {
    TTaskDialogs d;
    d.NewPassword = [this](QString& password) {
      ++PasswordAsks;
      const QString answer = Passwords.isEmpty() ? QString() : Passwords.takeFirst();
      password = answer;
      return !answer.isEmpty();
    };
    d.MailSettings = [this](TMailData& data, TMailMode& mode) {
      ++MailAsks;
      ModeShown = mode;
      if (!MailOk)
        return false;
      data.SMTP = u"mx"_s;
      mode = MailAnswer;
      return true;
    };
    return d;
  }
};

} // namespace

TEST(MailTaskOptions, EncryptionAndFixedPassword)
{
  TScriptedDialogs script;
  script.Passwords = {u"first-secret"_s, QString(), u"second-secret"_s};
  const TTaskDialogs dialogs = script.Dialogs();
  TMailTaskSettings t;

  EncryptFilesChanged(t, true);
  EXPECT_EQ(t.CryptMode, 1);
  EXPECT_TRUE(t.FixedPasswordEnabled && t.Changed);
  EXPECT_FALSE(t.PasswordButtonEnabled);

  // The first change after ticking asks even when it is not a click.
  FixedPasswordChanged(t, true, false, dialogs);
  EXPECT_EQ(script.PasswordAsks, 1);
  EXPECT_TRUE(t.FixedPassword && t.PasswordButtonEnabled);
  EXPECT_EQ(t.CryptPwd, u"first-secret"_s);

  FixedPasswordChanged(t, false, true, dialogs);
  EXPECT_EQ(script.PasswordAsks, 1) << "unticking asks nothing";
  EXPECT_FALSE(t.FixedPassword || t.PasswordButtonEnabled);
  EXPECT_EQ(t.CryptPwd, QString());

  // Cancel takes the tick away again.
  t.Changed = false;
  FixedPasswordChanged(t, true, true, dialogs);
  EXPECT_EQ(script.PasswordAsks, 2);
  EXPECT_FALSE(t.FixedPassword || t.PasswordButtonEnabled);
  EXPECT_EQ(t.CryptPwd, QString());
  EXPECT_TRUE(t.Changed);

  // A change that is neither a click nor the first after ticking asks nothing.
  FixedPasswordChanged(t, true, false, dialogs);
  EXPECT_EQ(script.PasswordAsks, 2);
  EXPECT_TRUE(t.FixedPassword && t.PasswordButtonEnabled);
  EXPECT_EQ(t.CryptPwd, QString());

  EnterPasswordClick(t, dialogs);
  EXPECT_EQ(t.CryptPwd, u"second-secret"_s);
  t.Changed = false;
  EnterPasswordClick(t, dialogs); // answered with Cancel
  EXPECT_EQ(t.CryptPwd, u"second-secret"_s);
  EXPECT_FALSE(t.Changed);

  // Unticking "Encrypt files" disables the box but keeps its tick and the mode.
  t.CryptMode = 3;
  EncryptFilesChanged(t, false);
  EXPECT_TRUE(t.FixedPassword);
  EXPECT_FALSE(t.FixedPasswordEnabled || t.PasswordButtonEnabled);
  EncryptFilesChanged(t, true);
  EXPECT_EQ(t.CryptMode, 3);
}

TEST(MailTaskOptions, SynchronizeAndRecycleBin)
{
  TMailTaskSettings t;
  SynchronizeChanged(t, true);
  EXPECT_EQ(t.SyncMode, 1);
  EXPECT_TRUE(t.UseRecyclerEnabled && t.Changed);
  t.Changed = false;
  UseRecyclerChanged(t, true);
  EXPECT_TRUE(t.UseRecycler && t.Changed);
  SynchronizeChanged(t, false);
  EXPECT_EQ(t.SyncMode, 0);
  EXPECT_FALSE(t.UseRecycler || t.UseRecyclerEnabled);
}

TEST(MailTaskOptions, SendMailAndEdit)
{
  TScriptedDialogs script;
  const TTaskDialogs dialogs = script.Dialogs();
  TMailTaskSettings t;

  script.MailAnswer = mmError;
  SendMailChanged(t, true, dialogs);
  EXPECT_EQ(script.ModeShown, mmAlways) << "ticking starts with \"always\"";
  EXPECT_EQ(t.MailMode, mmError);
  EXPECT_TRUE(t.SendMail() && t.Changed);
  EXPECT_EQ(t.MailData.SMTP, u"mx"_s);

  SendMailChanged(t, false, dialogs);
  EXPECT_EQ(t.MailMode, mmNone);
  EXPECT_EQ(script.MailAsks, 1);

  script.MailOk = false;
  SendMailChanged(t, true, dialogs);
  EXPECT_FALSE(t.SendMail());

  // OK with "never" leaves the box unticked.
  script.MailOk = true;
  script.MailAnswer = mmNone;
  SendMailChanged(t, true, dialogs);
  EXPECT_FALSE(t.SendMail());

  // "Edit" while unticked ticks the box.
  script.MailAnswer = mmAlways;
  t.Changed = false;
  EditMailClick(t, dialogs);
  EXPECT_EQ(t.MailMode, mmAlways);
  EXPECT_TRUE(t.Changed);
  EXPECT_EQ(script.ModeShown, mmAlways);

  // "Edit" while ticked: Cancel changes nothing, OK sets Changed.
  t.Changed = false;
  script.MailOk = false;
  const int asks = script.MailAsks;
  EditMailClick(t, dialogs);
  EXPECT_EQ(script.MailAsks, asks + 1);
  EXPECT_EQ(t.MailMode, mmAlways);
  EXPECT_FALSE(t.Changed);
  script.MailOk = true;
  script.MailAnswer = mmError;
  EditMailClick(t, dialogs);
  EXPECT_EQ(t.MailMode, mmError);
  EXPECT_TRUE(t.Changed);
}

TEST(MailTaskOptions, EditFilterListExchangesCommaText)
{
  QString list = u"parent.lock,\"my file.txt\""_s;
  QString caption;
  QString prompt;
  QStringList shown;
  const auto editor = [&](const QString& c, const QString& p, QStringList& items) {
    caption = c;
    prompt = p;
    shown = items;
    items = {u"a b"_s, u"  "_s, u""_s, u" x "_s, u"q\"t"_s};
    return true;
  };
  EXPECT_TRUE(EditFilterList(u"Edit list of files to be excluded"_s, list, editor));
  EXPECT_EQ(caption, u"Edit list of files to be excluded"_s);
  EXPECT_EQ(prompt, u"Filter expressions:"_s);
  EXPECT_EQ(shown, (QStringList{u"parent.lock"_s, u"my file.txt"_s}));
  EXPECT_EQ(list, u"\"a b\",x,\"q\"\"t\""_s);

  const auto cancel = [](const QString&, const QString&, QStringList& items) {
    items.clear();
    return false;
  };
  EXPECT_FALSE(EditFilterList(u"c"_s, list, cancel));
  EXPECT_EQ(list, u"\"a b\",x,\"q\"\"t\""_s);
}
