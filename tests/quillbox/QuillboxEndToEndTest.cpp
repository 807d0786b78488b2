// Quillbox with the real engine on a real Thunderbird profile: the forced
// run as a timer starts it, then a restore from the backup it left, checked
// file by file against the profile, and Thunderbird itself finding the
// profile where the restore put it. Nothing reaches the machine's logind or a
// display: the buses are private and the display is gone.

#include "quillbox/ProgramState.h"
#include "quillbox/RestoreRun.h"

#include "HeadlessThunderbird.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "quillbox/ThunderbirdRunning.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <optional>

namespace {

using namespace Qt::StringLiterals;
using ardanto::TUnicodeIniFile;
using ardanto::test::ReadFile;
using ardanto::test::ScopedEnv;
using ardanto::test::TempDir;

// Takes an environment variable away for the lifetime of the object.
class ScopedUnset {
public:
  explicit ScopedUnset(const char* name) : FName(name)
  {
    if (qEnvironmentVariableIsSet(name))
      FOld = qgetenv(name);
    qunsetenv(name);
  }
  ~ScopedUnset()
  {
    if (FOld)
      qputenv(FName.constData(), *FOld);
  }
  ScopedUnset(const ScopedUnset&) = delete;
  ScopedUnset& operator=(const ScopedUnset&) = delete;

private:
  QByteArray FName;
  std::optional<QByteArray> FOld;
};

// The view of a restore whose answers the test gives: the first choice's
// button and check box, then the folder to restore into.
class TRestoreAnswers : public quillbox::IProgramView, public quillbox::IMailDataView {
public:
  void ShowError(const QString& text) override { Messages.append(text); }
  bool RetryVolume(const QString&) override { return false; }
  void ProcessEvents() override {}
  bool AskYesNo(const QString& text) override
  {
    Messages.append(text);
    return false;
  }
  int Choose(quillbox::TChoice& choice) override
  {
    choice.Checked = Clear;
    return Button;
  }
  bool SelectFolder(const QString&, const QString&, QString& folder) override
  {
    folder = Target;
    return !folder.isEmpty();
  }
  void ShowPlainError(const QString& text) override { Messages.append(text); }
  void ShowInfo(const QString& text) override { Messages.append(text); }
  QString Caption() const override { return u"Quillbox"_s; }
  // The profiles' own locks only: a Thunderbird that another test runs at
  // the same time is no Thunderbird of these profiles.
  bool ThunderbirdRunning(const QStringList& folders) override
  {
    return std::any_of(folders.begin(), folders.end(), [](const QString& f) { return quillbox::ProfileInUse(f); });
  }

  int Button = 1; // Continue
  bool Clear = true;
  QString Target;
  QStringList Messages;
};

bool IsSqlite(const QString& file)
{
  QFile f(file);
  return f.open(QIODevice::ReadOnly) && f.read(16) == QByteArray("SQLite format 3", 16);
}

// The content of a database as SQLite itself sees it, write-ahead log
// included: read from a copy, so the original stays as it is.
QString SqliteDump(const QString& file)
{
  TempDir dir;
  const QString copy = dir.Path() + u"/db"_s;
  QFile::copy(file, copy);
  if (QFileInfo::exists(file + u"-wal"_s))
    QFile::copy(file + u"-wal"_s, copy + u"-wal"_s);
  const auto result = ardanto::test::Run(u"sqlite3"_s, {copy, u".dump"_s});
  return result.ExitCode == 0 ? QString::fromUtf8(result.Output)
                              : u"sqlite3 failed: "_s + QString::fromUtf8(result.Output);
}

// Every file below folder, relative to it.
QStringList Files(const QString& folder)
{
  QStringList files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext())
    files.append(it.next().mid(folder.size() + 1));
  files.sort();
  return files;
}

class QuillboxEndToEndTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (!ardanto::test::HasProgram(u"sqlite3"_s))
      GTEST_SKIP() << "needs sqlite3 to compare databases";
    FHomeDir = FDir.Path() + u"/home"_s;
    ASSERT_TRUE(QDir().mkpath(FHomeDir));
    FHome = ardanto::test::CopyThunderbirdHome(FHomeDir);
    FMail = FHome.ProfileFolder(u"alpha"_s);
    // A copy of the profile as it was, to compare the restore with.
    FOriginal = FDir.Path() + u"/original"_s;
    ASSERT_EQ(ardanto::test::Run(u"cp"_s, {u"-a"_s, FMail, FOriginal}).ExitCode, 0);
    FWork = FDir.Path() + u"/work"_s;
    ASSERT_TRUE(QDir().mkpath(FWork));
    FConfig = FDir.Path() + u"/config"_s;
    FBackup = FDir.Path() + u"/backup"_s;
    QDir().mkpath(FHomeDir + u"/.local/share"_s);
    FNoBus = u"unix:path="_s + FDir.Path() + u"/no-bus"_s;
    QDir().mkpath(FConfig + u"/Ardanto6"_s);
    ardanto::test::WriteFile(FConfig + u"/Ardanto6/Quillbox.ini"_s,
                             "[Config]\nBackupDirectory=" + FBackup.toUtf8() + "/mail-%year%\n");
    FExpanded = FBackup + u"/mail-"_s + QString::number(QDate::currentDate().year());
  }

  QString JobDir() const { return FHomeDir + u"/Documents/Ardanto/"_s; }
  QString Task() const { return JobDir() + u"tb-alpha.buj"_s; }
  QString SourceInBackup() const { return FExpanded + FMail; }

  // quillbox with the arguments, as a timer starts it: no display, and the
  // engine the build put beside the program.
  int RunQuillbox(const QStringList& arguments)
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, FHomeDir);
    env.insert(u"XDG_CONFIG_HOME"_s, FConfig);
    env.insert(u"XDG_DATA_HOME"_s, FHomeDir + u"/.local/share"_s);
    env.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    env.insert(u"ARDANTO_SYSTEM_BUS_ADDRESS"_s, FNoBus);
    env.insert(u"ARDANTO_SESSION_BUS_ADDRESS"_s, FNoBus);
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    env.remove(u"LANGUAGE"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(FWork);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QUILLBOX_PROGRAM), arguments);
    if (!process.waitForStarted(10000))
      return -1;
    const bool ended = process.waitForFinished(90000);
    if (!ended) {
      process.kill();
      process.waitForFinished();
    }
    FOutput = QString::fromLocal8Bit(process.readAll());
    return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  }

  // The program's state in this process, on the same HOME and settings, with
  // the real engine; the engine it starts finds no display and no logind.
  std::unique_ptr<quillbox::TProgramState> State(TRestoreAnswers& view)
  {
    auto state = std::make_unique<quillbox::TProgramState>(view);
    state->Create({});
    state->EnginePath = QStringLiteral(ARDANTO_PROGRAM);
    EXPECT_TRUE(state->CheckPrerequisites());
    EXPECT_TRUE(state->ChooseProfile(u"alpha"_s));
    EXPECT_TRUE(state->LoadTask(state->BuTaskName));
    return state;
  }

  // What a restore brought back, checked against the profile as it was:
  // every file it holds byte for byte with its time, databases by their
  // content, and the files that matter all there.
  void ExpectRestored(const QString& folder)
  {
    const QStringList restored = Files(folder);
    const QStringList original = Files(FOriginal);
    for (const QString& name : {u"prefs.js"_s, u"abook.sqlite"_s, u"key4.db"_s, u"cert9.db"_s, u"logins.db"_s,
                                u"history.sqlite"_s, u"times.json"_s})
      EXPECT_TRUE(restored.contains(name)) << name.toStdString();
    EXPECT_GT(restored.size(), 20);
    for (const QString& name : restored) {
      SCOPED_TRACE(name.toStdString());
      ASSERT_TRUE(original.contains(name)) << "restored, but not in the profile";
      EXPECT_FALSE(name.endsWith(u"-wal"_s)) << "the log is in the database's copy";
      const QString before = FOriginal + u'/' + name;
      const QString after = folder + u'/' + name;
      if (IsSqlite(before)) {
        EXPECT_EQ(SqliteDump(after), SqliteDump(before));
        continue;
      }
      EXPECT_EQ(ReadFile(after), ReadFile(before));
      EXPECT_EQ(QFileInfo(after).lastModified().toSecsSinceEpoch(),
                QFileInfo(before).lastModified().toSecsSinceEpoch());
    }
  }

  TempDir FDir;
  QString FHomeDir;
  ardanto::test::ThunderbirdHome FHome;
  QString FMail;
  QString FOriginal;
  QString FWork;
  QString FConfig;
  QString FBackup;
  QString FExpanded;
  QString FNoBus;
  QString FOutput;
};

TEST_F(QuillboxEndToEndTest, AForcedRunBacksUpWhatARestoreIntoAnotherFolderBringsBack)
{
  ASSERT_EQ(RunQuillbox({u"alpha"_s, u"/force"_s, u"/prompt:quiet"_s}), 0) << FOutput.toStdString();
  EXPECT_FALSE(FOutput.contains(u"Error"_s)) << FOutput.toStdString();

  // The task, the record of the profile's folder and the backup itself.
  ASSERT_TRUE(QFileInfo::exists(Task())) << FOutput.toStdString();
  const TUnicodeIniFile task = TUnicodeIniFile::CreateForRead(Task());
  EXPECT_EQ(task.ReadString(u"Global"_s, u"Destination"_s, {}), FBackup + u"/mail-%year%"_s);
  EXPECT_EQ(task.ReadString(u"Dir000"_s, u"Source"_s, {}), FMail);
  EXPECT_EQ(task.ReadInteger(u"Global"_s, u"BackupCount"_s, 0), 2) << "the engine counted the run";
  EXPECT_EQ(quillbox::ReadBackupInfo(FExpanded + u"/bu-profiles.ini"_s, u"alpha"_s), FMail);
  EXPECT_EQ(quillbox::DetectBackupFormat(SourceInBackup()), quillbox::bfZip);

  // The engine's log is where the program's log viewer looks for it.
  const ScopedEnv config("XDG_CONFIG_HOME", FConfig.toUtf8());
  ardanto::SetLogFolderSources(QString(), FConfig + u"/Ardanto6/"_s);
  const QString log = ardanto::TaskLogFile(Task());
  ASSERT_EQ(log, FConfig + u"/Ardanto6/tb-alpha.log"_s);
  const QByteArray logText = ReadFile(log);
  EXPECT_TRUE(logText.startsWith("\xEF\xBB\xBF")) << "UTF-8 with a byte-order mark";
  EXPECT_TRUE(logText.contains("Ardanto - tb-alpha")) << logText.toStdString();
  EXPECT_FALSE(logText.contains("  *** ")) << logText.toStdString();

  // Restored into another folder from the window's core, with the engine
  // really copying back.
  const ScopedEnv home("HOME", FHomeDir.toUtf8());
  const ScopedEnv data("XDG_DATA_HOME", (FHomeDir + u"/.local/share"_s).toUtf8());
  const ScopedEnv systemBus("ARDANTO_SYSTEM_BUS_ADDRESS", FNoBus.toUtf8());
  const ScopedEnv sessionBus("ARDANTO_SESSION_BUS_ADDRESS", FNoBus.toUtf8());
  const ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
  const ScopedUnset display("DISPLAY");
  const ScopedUnset wayland("WAYLAND_DISPLAY");
  const QString other = FDir.Path() + u"/restored/alpha"_s;
  ASSERT_TRUE(QDir().mkpath(other));
  TRestoreAnswers view;
  view.Button = 0; // Other directory
  view.Target = other;
  auto state = State(view);
  ASSERT_TRUE(quillbox::StartRestore(*state, view)) << view.Messages.join(u'\n').toStdString();
  EXPECT_EQ(view.Messages, QStringList());
  ExpectRestored(other);
  for (const QString& name : Files(FOriginal))
    EXPECT_TRUE(QFileInfo::exists(FMail + u'/' + name)) << "the old folder keeps " << name.toStdString();
  EXPECT_EQ(state->MailDir, other);
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(FHome.ProfilesIni()).ReadString(u"Profile0"_s, u"Path"_s, {}), other);
  const QString restoreLog = QString::fromUtf8(ReadFile(log));
  EXPECT_TRUE(restoreLog.contains(u"  Task file: "_s + JobDir() + u"tb-alpha.rsj\n"_s)) << "the restore is logged too";
  EXPECT_TRUE(restoreLog.contains(u"  Destination: "_s + other + u'\n'));
  EXPECT_TRUE(restoreLog.trimmed().endsWith(u": OK"_s)) << restoreLog.toStdString();

  // Thunderbird itself opens the profile in its new place.
  quillbox::test::THeadlessThunderbird thunderbird;
  if (!thunderbird.Start(FHomeDir, u"alpha"_s))
    GTEST_SKIP() << "Thunderbird does not start here";
  EXPECT_TRUE(thunderbird.WaitFor([&] { return quillbox::ProfileInUse(other); })) << thunderbird.Output().toStdString();
  EXPECT_FALSE(quillbox::ProfileInUse(FMail));
  thunderbird.Stop();
}

TEST_F(QuillboxEndToEndTest, ARestoreIntoTheProfileClearsItFirst)
{
  ASSERT_EQ(RunQuillbox({u"alpha"_s, u"/force"_s, u"/prompt:quiet"_s}), 0) << FOutput.toStdString();
  const QByteArray profilesIni = ReadFile(FHome.ProfilesIni());
  // The profile damaged after the backup: a file gone, one changed, one new.
  ASSERT_TRUE(QFile::remove(FMail + u"/prefs.js"_s));
  ardanto::test::WriteFile(FMail + u"/times.json"_s, "{}");
  ardanto::test::WriteFile(FMail + u"/stray.txt"_s, "not from the backup");

  const ScopedEnv home("HOME", FHomeDir.toUtf8());
  const ScopedEnv config("XDG_CONFIG_HOME", FConfig.toUtf8());
  const ScopedEnv data("XDG_DATA_HOME", (FHomeDir + u"/.local/share"_s).toUtf8());
  const ScopedEnv systemBus("ARDANTO_SYSTEM_BUS_ADDRESS", FNoBus.toUtf8());
  const ScopedEnv sessionBus("ARDANTO_SESSION_BUS_ADDRESS", FNoBus.toUtf8());
  const ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
  const ScopedUnset display("DISPLAY");
  const ScopedUnset wayland("WAYLAND_DISPLAY");
  TRestoreAnswers view;
  auto state = State(view);
  ASSERT_TRUE(quillbox::StartRestore(*state, view)) << view.Messages.join(u'\n').toStdString();
  EXPECT_EQ(view.Messages, QStringList());
  EXPECT_FALSE(QFileInfo::exists(FMail + u"/stray.txt"_s)) << "cleared before restoring";
  ExpectRestored(FMail);
  EXPECT_EQ(ReadFile(FHome.ProfilesIni()), profilesIni);
  EXPECT_EQ(state->MailDir, FMail);
}

TEST_F(QuillboxEndToEndTest, ABackupLeavesTheProfileAsItWas)
{
  ASSERT_EQ(RunQuillbox({u"alpha"_s, u"/force"_s, u"/prompt:quiet"_s}), 0) << FOutput.toStdString();
  const QStringList before = Files(FOriginal);
  for (const QString& name : before)
    EXPECT_EQ(ReadFile(FMail + u'/' + name), ReadFile(FOriginal + u'/' + name)) << name.toStdString();
  QStringList added = Files(FMail);
  for (const QString& name : before)
    added.removeAll(name);
  EXPECT_EQ(added, QStringList());
}

} // namespace
