// Quillbox's start and backup run without a window: real Thunderbird
// profiles, the recording engine in the current folder, power requests
// through the recording backend.

#include "quillbox/ProgramState.h"
#include "quillbox/Startup.h"

#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "common/VolumePaths.h"
#include "platform/Power.h"
#include "support/RecordingEngine.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

using namespace Qt::StringLiterals;
using namespace ardanto::platform;
using ardanto::TUnicodeIniFile;
using ardanto::test::ScopedEnv;
using ardanto::test::TempDir;
using ardanto::test::TRecordingEngine;
using quillbox::TProgramState;

class TRecordingView : public quillbox::IProgramView {
public:
  void ShowError(const QString& text) override { Errors.append(text); }
  bool RetryVolume(const QString& question) override
  {
    Questions.append(question);
    return false;
  }
  void ProcessEvents() override
  {
    if (OnEvents)
      OnEvents();
  }

  QStringList Errors;
  QStringList Questions;
  std::function<void()> OnEvents;
};

// The task as the engine read it.
QString TaskValue(const QString& taskText, const QString& section, const QString& key)
{
  TempDir dir;
  const QString file = dir.Write(u"task.ini"_s, taskText.toUtf8());
  return TUnicodeIniFile::CreateForRead(file, ardanto::TIniEncoding::Utf8NoMark).ReadString(section, key, u"?"_s);
}

class ProgramStateTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    const QString home = FDir.Path() + u"/home"_s;
    ASSERT_TRUE(QDir().mkpath(home));
    FHome = ardanto::test::CopyThunderbirdHome(home);
    FEnvHome = std::make_unique<ScopedEnv>("HOME", home.toUtf8());
    FEnvConfig = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (FDir.Path() + u"/config"_s).toUtf8());
    FWork = FDir.Path() + u"/work"_s;
    ASSERT_TRUE(QDir().mkpath(FWork));
    FOldFolder = QDir::currentPath();
    // The engine is looked for in the current folder first.
    QDir::setCurrent(FWork);
    FEngine = std::make_unique<TRecordingEngine>(FWork);
    FOldPower = SetPowerBackend(&FPower);
    FBackup = FDir.Path() + u"/backup"_s;
  }
  void TearDown() override
  {
    SetPowerBackend(FOldPower);
    QDir::setCurrent(FOldFolder);
  }

  QString SettingsFolder() const { return FDir.Path() + u"/config/Ardanto6/"_s; }
  void WriteSettings(const QByteArray& config)
  {
    QDir().mkpath(SettingsFolder());
    ardanto::test::WriteFile(SettingsFolder() + u"Quillbox.ini"_s, "[Config]\n" + config);
  }
  void WriteBackupDirectory(const QString& folder) { WriteSettings("BackupDirectory=" + folder.toUtf8() + "\n"); }

  TProgramState& Create(const QStringList& arguments)
  {
    FView = TRecordingView();
    FState = std::make_unique<TProgramState>(FView);
    FState->Create(arguments);
    return *FState;
  }
  // As the window's start leaves it: the job folder made.
  TProgramState& Start(const QStringList& arguments)
  {
    TProgramState& state = Create(arguments);
    EXPECT_TRUE(state.CheckPrerequisites());
    return state;
  }
  // A fresh engine record for each case of a table.
  void ForgetCalls() { QFile::remove(FWork + u"/calls.jsonl"_s); }

  TempDir FDir;
  ardanto::test::ThunderbirdHome FHome;
  std::unique_ptr<ScopedEnv> FEnvHome;
  std::unique_ptr<ScopedEnv> FEnvConfig;
  QString FWork;
  QString FOldFolder;
  QString FBackup;
  std::unique_ptr<TRecordingEngine> FEngine;
  TRecordingPowerBackend FPower;
  TPowerBackend* FOldPower = nullptr;
  TRecordingView FView;
  std::unique_ptr<TProgramState> FState;
};

TEST_F(ProgramStateTest, AForcedRunStartsTheEngineWithTheTaskAndTheStatusOptions)
{
  WriteBackupDirectory(FBackup);
  const struct {
    QStringList Options;
    QStringList Items;
  } cases[] = {
      {{}, {u"/prompt:delay"_s, u"/wait:5"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {{u"/prompt:silent"_s, u"/wait:30"_s}, {u"/prompt:silent"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {{u"/prompt:error"_s, u"/wait:30"_s},
       {u"/prompt:error"_s, u"/wait:30"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {{u"/p:quiet"_s, u"/status:ontop"_s}, {u"/prompt:quiet"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {{u"/prompt:wait"_s, u"/wait:8"_s}, {u"/prompt:wait"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {{u"/prompt:delay"_s, u"/wait:soon"_s},
       {u"/prompt:delay"_s, u"/wait:5"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
  };
  for (const auto& c : cases) {
    ForgetCalls();
    TProgramState& state = Create(QStringList{u"alpha"_s, u"/force"_s} + c.Options);
    EXPECT_EQ(state.EnginePath, FEngine->Program());
    ASSERT_TRUE(state.CheckForce());
    EXPECT_EQ(FView.Errors, QStringList()) << c.Options.join(u' ').toStdString();
    const auto calls = FEngine->Calls();
    ASSERT_EQ(calls.size(), 1u);
    const QString task = state.JobDir + u"tb-alpha.buj"_s;
    EXPECT_EQ(calls[0].Arguments, QStringList({task, u"/startapp:quillbox"_s}) + c.Items)
        << c.Options.join(u' ').toStdString();
    EXPECT_EQ(calls[0].WorkingFolder, FWork) << "the engine works in the caller's folder";
    ASSERT_TRUE(calls[0].TaskRead);
    EXPECT_EQ(TaskValue(calls[0].TaskText, u"Dir000"_s, u"Source"_s), FHome.ProfileFolder(u"alpha"_s));
    EXPECT_EQ(TaskValue(calls[0].TaskText, u"Global"_s, u"Destination"_s), FBackup);
  }
  EXPECT_TRUE(FPower.Requests.empty());
}

TEST_F(ProgramStateTest, TheWindowsStatusSettingsGoToTheEngine)
{
  WriteBackupDirectory(FBackup);
  const struct {
    int Mode;
    int Seconds;
    bool OnTop;
    QStringList Items;
  } cases[] = {
      {2, 5, true, {u"/prompt:quiet"_s, u"/status:ontop"_s, u"/hide"_s, u"/force"_s}},
      {1, 12, false, {u"/prompt:delay"_s, u"/wait:12"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {3, 99, true, {u"/prompt:error"_s, u"/wait:99"_s, u"/status:ontop"_s, u"/hide"_s, u"/force"_s}},
      {4, 7, false, {u"/prompt:silent"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
  };
  // The options of a forced run do not reach a backup started from the window.
  TProgramState& state = Start({u"/prompt:wait"_s, u"/wait:44"_s});
  ASSERT_TRUE(state.ChooseProfile(u"beta"_s));
  for (const auto& c : cases) {
    ForgetCalls();
    state.StatusWindow = c.Mode;
    state.WaitTime = c.Seconds;
    state.OnTop = c.OnTop;
    ASSERT_TRUE(state.StartBackup(state.BuTaskName, false)) << FView.Errors.join(u'\n').toStdString();
    const auto calls = FEngine->Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Arguments, QStringList({state.BuTaskName, u"/startapp:quillbox"_s}) + c.Items) << c.Mode;
  }
}

TEST_F(ProgramStateTest, BuProfilesIniLandsInTheExpandedBackupFolder)
{
  WriteBackupDirectory(FBackup + u"/%year%"_s);
  TProgramState& state = Create({u"alpha"_s, u"/force"_s});
  ASSERT_TRUE(state.CheckForce());
  ASSERT_EQ(FView.Errors, QStringList());
  const QString folder = FBackup + u'/' + QString::number(QDate::currentDate().year());
  ASSERT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(quillbox::ReadBackupInfo(folder + u"/bu-profiles.ini"_s, u"alpha"_s), FHome.ProfileFolder(u"alpha"_s));
  EXPECT_FALSE(QFileInfo::exists(FBackup + u"/%year%"_s));
  // The engine expands the destination itself, with the counter it keeps.
  const auto calls = FEngine->Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(TaskValue(calls[0].TaskText, u"Global"_s, u"Destination"_s), FBackup + u"/%year%"_s);
}

TEST_F(ProgramStateTest, BackupDirReplacesTheFolderOfAForcedRunOnly)
{
  WriteBackupDirectory(FBackup);
  const QString other = FDir.Path() + u"/other"_s;
  const struct {
    QStringList Arguments;
    bool Forced;
    QString Folder;
  } cases[] = {
      {{u"alpha"_s, u"/force"_s, u"/backupdir:"_s + other + u"/%year%"_s}, true, other + u"/%year%"_s},
      {{u"alpha"_s, u"/force"_s}, true, FBackup},
      {{u"/backupdir:"_s + other}, false, FBackup},
  };
  for (const auto& c : cases) {
    ForgetCalls();
    QDir(other).removeRecursively();
    QDir(FBackup).removeRecursively();
    TProgramState& state = Start(c.Arguments);
    if (c.Forced) {
      ASSERT_TRUE(state.CheckForce());
    } else {
      ASSERT_TRUE(state.ChooseProfile(u"alpha"_s));
      ASSERT_TRUE(state.StartBackup(state.BuTaskName, false));
    }
    ASSERT_EQ(FView.Errors, QStringList());
    const QString expanded = QString(c.Folder).replace(u"%year%"_s, QString::number(QDate::currentDate().year()));
    EXPECT_TRUE(QFileInfo::exists(expanded + u"/bu-profiles.ini"_s)) << expanded.toStdString();
    EXPECT_EQ(QFileInfo::exists(other), c.Folder.startsWith(other)) << "the folder checks use the same folder";
    const auto calls = FEngine->Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(TaskValue(calls[0].TaskText, u"Global"_s, u"Destination"_s), c.Folder);
  }
}

TEST_F(ProgramStateTest, AForcedRunsLogAndExclusionOptionsReachTheTask)
{
  WriteBackupDirectory(FBackup);
  TProgramState& state =
      Create({u"alpha"_s, u"/force"_s, u"/logmode:2"_s, u"/logdir:%profile%/logs"_s, u"/exclude:Junk,Trash"_s});
  ASSERT_TRUE(state.CheckForce());
  const auto calls = FEngine->Calls();
  ASSERT_EQ(calls.size(), 1u);
  const QString& task = calls[0].TaskText;
  EXPECT_EQ(TaskValue(task, u"Global"_s, u"LogFile"_s), u"2"_s);
  EXPECT_EQ(TaskValue(task, u"Global"_s, u"LogName"_s), FHome.Home + u"/logs/%taskname%.log"_s);
  EXPECT_EQ(TaskValue(task, u"DirFilter"_s, u"Count"_s), u"8"_s);
  EXPECT_EQ(TaskValue(task, u"DirFilter"_s, u"Mask007"_s), u"Trash"_s);
}

TEST_F(ProgramStateTest, EachExitCodeOfTheEngineIsShownWithItsText)
{
  WriteBackupDirectory(FBackup);
  const struct {
    int Code;
    const char16_t* Text;
  } cases[] = {
      {1, u"Task not found!"},
      {2, u"Destination path not found!"},
      {3, u"Source directory not found!"},
      {4, u"Errors during backup!"},
      {5, u"The backup was aborted by the user or due to an error!"},
      {6, u"Invalid task configuration!"},
      {77, u"Unexpected error!"},
  };
  TProgramState& state = Start({});
  ASSERT_TRUE(state.ChooseProfile(u"alpha"_s));
  for (const auto& c : cases) {
    FView.Errors.clear();
    FEngine->SetExitCode(c.Code);
    EXPECT_FALSE(state.StartBackup(state.BuTaskName, false));
    EXPECT_EQ(FView.Errors, QStringList{u"Error reported by Ardanto: "_s + QString::fromUtf16(c.Text)}) << c.Code;
  }
  FView.Errors.clear();
  FEngine->SetExitCode(0);
  EXPECT_TRUE(state.StartBackup(state.BuTaskName, false));
  EXPECT_EQ(FView.Errors, QStringList()) << "success shows nothing";
}

TEST_F(ProgramStateTest, AnEngineThatCannotStartOrCannotBeWaitedForIsNamed)
{
  TProgramState& state = Create({});
  const QString plain = FDir.Write(u"plain/ardanto"_s, "#!/bin/sh\nexit 0\n");
  QFile::setPermissions(plain, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  const struct {
    QString Program;
    QString Message;
  } cases[] = {
      {FDir.Path() + u"/gone/ardanto"_s, u"Error on starting Ardanto: No such file or directory (0x00000002)"_s},
      {plain, u"Error on starting Ardanto: Permission denied (0x0000000D)"_s},
  };
  for (const auto& c : cases) {
    FView.Errors.clear();
    EXPECT_FALSE(state.RunEngine(quillbox::BackupCommand(c.Program, u"task.buj"_s, 1, 5, false)));
    EXPECT_EQ(FView.Errors, QStringList{c.Message});
    EXPECT_FALSE(state.EngineRunning());
  }

  // With SIGCHLD ignored the system collects the engine itself, and its end
  // can no longer be read.
  FView.Errors.clear();
  struct sigaction ignore {};
  struct sigaction old {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGCHLD, &ignore, &old);
  const bool ran = state.RunEngine(quillbox::BackupCommand(FEngine->Program(), u"task.buj"_s, 1, 5, false));
  ::sigaction(SIGCHLD, &old, nullptr);
  EXPECT_FALSE(ran);
  EXPECT_EQ(FView.Errors, QStringList{u"Error on executing Ardanto: No child processes (0x0000000A)"_s});
}

TEST_F(ProgramStateTest, ASecondStartWhileTheEngineRunsIsRefused)
{
  WriteBackupDirectory(FBackup);
  TProgramState& state = Start({});
  ASSERT_TRUE(state.ChooseProfile(u"alpha"_s));
  FEngine->Hold();
  bool tried = false;
  bool second = true;
  int events = 0;
  FView.OnEvents = [&] {
    ++events;
    if (tried)
      return;
    tried = true;
    EXPECT_TRUE(state.EngineRunning());
    second = state.StartBackup(state.BuTaskName, false);
    FEngine->Release();
  };
  EXPECT_TRUE(state.StartBackup(state.BuTaskName, false));
  EXPECT_TRUE(tried) << "the window's events are processed while the engine runs";
  EXPECT_FALSE(second);
  EXPECT_EQ(FView.Errors, QStringList{quillbox::EngineStillRunningText()});
  EXPECT_EQ(FEngine->Calls().size(), 1u);
  EXPECT_FALSE(state.EngineRunning());
  FEngine->Release();
}

TEST_F(ProgramStateTest, AForcedRunOfAnUnknownProfileEndsWithoutShuttingDown)
{
  WriteBackupDirectory(FBackup);
  TProgramState& state = Create({u"ghost"_s, u"/force"_s, u"/end:shutdown"_s, u"/suspend:standby"_s});
  EXPECT_TRUE(state.CheckForce());
  EXPECT_EQ(FView.Errors, QStringList{u"Profile \"ghost\" not found!"_s});
  EXPECT_TRUE(FPower.Requests.empty());
  EXPECT_TRUE(FEngine->Calls().empty());
}

TEST_F(ProgramStateTest, AForcedRunEndsWithTheShutdownOrSuspendAskedFor)
{
  WriteBackupDirectory(FBackup);
  const struct {
    QStringList Options;
    std::vector<TPowerAction> Requests;
  } cases[] = {
      {{u"/end:shutdown"_s}, {TPowerAction::PowerOff}},
      {{u"/end:restart"_s}, {TPowerAction::Reboot}},
      {{u"/end:logoff"_s}, {TPowerAction::LogOff}},
      {{u"/suspend:standby"_s}, {TPowerAction::Suspend}},
      {{u"/suspend:hibernate"_s}, {TPowerAction::Hibernate}},
      {{u"/suspend:hibernate"_s, u"/end:restart"_s}, {TPowerAction::Reboot}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    FPower.Requests.clear();
    Create(QStringList{u"alpha"_s, u"/force"_s} + c.Options);
    FEngine->SetExitCode(4); // a backup with errors is still followed by the action
    ASSERT_TRUE(FState->CheckForce());
    EXPECT_EQ(FPower.Requests, c.Requests) << c.Options.join(u' ').toStdString();
  }

  FPower.Requests.clear();
  FPower.Accept = false;
  Create({u"alpha"_s, u"/force"_s, u"/end:poweroff"_s});
  ASSERT_TRUE(FState->CheckForce());
  EXPECT_EQ(FView.Errors.last(), u"  *** Error on shutting down or logging off!\r\nAccess denied"_s);
  Create({u"alpha"_s, u"/force"_s, u"/suspend:standby"_s});
  ASSERT_TRUE(FState->CheckForce());
  EXPECT_EQ(FView.Errors.last(), u"  *** Error on suspending system!\r\nAccess denied"_s);
}

TEST_F(ProgramStateTest, AForcedRunThatCannotStartStillShutsDown)
{
  TempDir empty;
  const ScopedEnv home("HOME", empty.Path().toUtf8());
  TProgramState& state = Create({u"alpha"_s, u"/force"_s, u"/end:shutdown"_s});
  EXPECT_TRUE(state.CheckForce());
  EXPECT_EQ(FView.Errors, QStringList{u"No Thunderbird profiles found!"_s});
  EXPECT_EQ(FPower.Requests, std::vector<TPowerAction>{TPowerAction::PowerOff});
  EXPECT_TRUE(FEngine->Calls().empty());
}

TEST_F(ProgramStateTest, PrerequisitesReportTheirFirstFailure)
{
  TProgramState& state = Create({});
  EXPECT_TRUE(state.CheckPrerequisites());
  EXPECT_TRUE(QFileInfo(state.JobDir).isDir()) << "the job folder is made";

  state.JobDir = FDir.Write(u"a-file"_s, "x") + u"/jobs/"_s;
  EXPECT_FALSE(state.CheckPrerequisites());
  state.EnginePath.clear();
  EXPECT_FALSE(state.CheckPrerequisites());
  state.ProfFound = false;
  EXPECT_FALSE(state.CheckPrerequisites());
  EXPECT_EQ(FView.Errors,
            (QStringList{u"Error accessing directory: \""_s + state.JobDir + u'"',
                         u"\"ardanto\" not found on this system!"_s, u"No Thunderbird profiles found!"_s}));
}

TEST_F(ProgramStateTest, AFolderThatCannotBeMadeOrATaskThatCannotBeSavedStartsNoEngine)
{
  ardanto::TVolumeSource old = ardanto::SetVolumeSource([] { return QList<ardanto::TMountedVolume>(); });
  const QString file = FDir.Write(u"a-file"_s, "x");
  const struct {
    QString Folder;
    QString Task;
    QString Error;
  } cases[] = {
      {QString(), QString(), u"Destination: No directory specified!"_s},
      {file + u"/sub"_s, QString(), u"Could not create directory:\r\n\""_s + file + u"/sub\""_s},
      {u":NOTHERE:/mail"_s, QString(), u"Could not create directory:\r\n\":NOTHERE:/mail\""_s},
      {FBackup, file + u"/tb-alpha.buj"_s, u"Error saving task \""_s + file + u"/tb-alpha.buj\"!"_s},
  };
  TProgramState& state = Start({});
  ASSERT_TRUE(state.ChooseProfile(u"alpha"_s));
  for (const auto& c : cases) {
    FView.Errors.clear();
    state.SetDestDir(c.Folder, false);
    EXPECT_FALSE(state.StartBackup(c.Task.isEmpty() ? state.BuTaskName : c.Task, false));
    ASSERT_EQ(FView.Errors.size(), 1);
    EXPECT_TRUE(FView.Errors[0].startsWith(c.Error)) << FView.Errors[0].toStdString();
  }
  EXPECT_EQ(FView.Questions.size(), 1) << "the missing volume was asked for again";
  EXPECT_TRUE(FEngine->Calls().empty());
  EXPECT_FALSE(QFileInfo::exists(FBackup + u"/bu-profiles.ini"_s)) << "nothing recorded for a backup not run";
  ardanto::SetVolumeSource(old);
}

TEST_F(ProgramStateTest, FoldersComeFromTheOptionsOrTheEnginesSettings)
{
  const QString jobs = FDir.Path() + u"/jobs"_s;
  const QString logs = FDir.Path() + u"/logs"_s;
  QDir().mkpath(jobs);
  QDir().mkpath(SettingsFolder());
  ardanto::test::WriteFile(SettingsFolder() + u"Ardanto.ini"_s,
                           "[Config]\nJobDir=" + jobs.toUtf8() + "\nProtDir=" + logs.toUtf8() + "\n");
  TProgramState& state = Create({});
  EXPECT_EQ(state.SettingsDir, SettingsFolder());
  EXPECT_EQ(state.IniName, SettingsFolder() + u"Quillbox.ini"_s);
  EXPECT_EQ(state.JobDir, jobs + u'/');
  EXPECT_EQ(ardanto::LogFolder(), logs + u'/');

  // A task folder of the command line that exists wins, and the engine's log
  // folder is not read then.
  const QString own = FDir.Path() + u"/own tasks"_s;
  QDir().mkpath(own);
  Create({u"/taskdir:"_s + own});
  EXPECT_EQ(FState->JobDir, own + u'/');
  EXPECT_EQ(ardanto::LogFolder(), SettingsFolder());

  Create({u"/taskdir:../own tasks"_s});
  EXPECT_EQ(FState->JobDir, own + u'/') << "relative to the current folder";
  Create({u"/taskdir:"_s + FDir.Path() + u"/missing"_s});
  EXPECT_EQ(FState->JobDir, jobs + u'/');

  ardanto::test::WriteFile(SettingsFolder() + u"my.ini"_s, "[Config]\nBackupDirectory=/srv/mail\n");
  Create({u"/ini:my"_s});
  EXPECT_EQ(FState->IniName, SettingsFolder() + u"my.ini"_s);
  EXPECT_EQ(FState->DestDir, u"/srv/mail"_s);
}

TEST_F(ProgramStateTest, TheProfileComesFromTheCommandLineTheSettingsOrTheDefault)
{
  WriteSettings("MailProfile=beta\n");
  EXPECT_EQ(Create({}).MailProfile, u"beta"_s);
  EXPECT_EQ(Create({u"alpha"_s}).MailProfile, u"alpha"_s);
  EXPECT_EQ(Create({u"/force"_s}).MailProfile, u"alpha"_s) << "a forced run takes the default profile";
  WriteSettings("MailProfile=ghost\n");
  EXPECT_EQ(Create({}).MailProfile, QString()) << "a profile that is gone is not taken";

  TProgramState& state = Create({});
  ASSERT_TRUE(state.ChooseProfile(u"BETA"_s));
  EXPECT_EQ(state.MailProfile, u"beta"_s) << "the list's own spelling";
  EXPECT_EQ(state.MailDir, FHome.ProfileFolder(u"beta"_s));
  EXPECT_EQ(state.BuTaskName, state.JobDir + u"tb-beta.buj"_s);
  EXPECT_EQ(state.ReTaskName, state.JobDir + u"tb-beta.rsj"_s);
  EXPECT_FALSE(state.ChooseProfile(u"ghost"_s));
  EXPECT_EQ(state.MailProfile, u"beta"_s);
}

} // namespace

namespace {

// A scheduled task starts Quillbox with this text as its command line: a
// profile whose name holds a blank must come back as that one profile.
TEST_F(ProgramStateTest, AnUnattendedCommandLineGivesTheProfileBackWhole)
{
  TProgramState& state = Create({});
  for (const QString& profile : {u"alpha"_s, u"Default User"_s}) {
    state.MailProfile = profile;
    const QStringList items = ardanto::SplitCommandLine(state.UnattendedArguments(u" /prompt:quiet /force"_s));
    const quillbox::TCommandLine line = quillbox::ParseCommandLine(items);
    EXPECT_EQ(line.MailProfile, profile);
    EXPECT_TRUE(line.Force);
    EXPECT_EQ(line.StatusPrompt, 2);
  }
}

} // namespace
