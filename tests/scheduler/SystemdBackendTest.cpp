// The systemd backend without a user manager: what it writes (checked with
// systemd-analyze verify), what it asks systemctl (a stand-in that records
// the calls), what it refuses, and how it reads a task's state back.

#include "scheduler/WinTask.h"
#include "scheduler/backends/systemd/SystemdTaskPlatform.h"
#include "scheduler/backends/systemd/SystemdUnits.h"

#include "SchedulerTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QString GuardProgram()
{
  return QCoreApplication::applicationDirPath() + u"/ardanto-schedule-guard"_s;
}

QStringList FilesBelow(const QString& dir)
{
  QStringList files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext())
    files.append(QDir(dir).relativeFilePath(it.next()));
  files.sort();
  return files;
}

class SystemdBackend : public ::testing::Test {
protected:
  void SetUp() override
  {
    FPaths.TasksDir = FRoot.File(u"data/ardanto/tasks"_s);
    FPaths.UnitDir = FRoot.File(u"config/systemd/user"_s);
    FPaths.StateDir = FRoot.File(u"state/ardanto/tasks"_s);
    FPaths.Guard = GuardProgram();
    FPaths.Systemctl = SourceDir() + u"/tests/scheduler/fake-systemctl"_s;
    FPlatform = std::make_unique<TSystemdTaskPlatform>(FPaths);
    FScoped = std::make_unique<ScopedTaskPlatform>(FPlatform.get());
    ASSERT_EQ(ConnectTaskScheduler(FScheduler), S_OK);
  }

  TWinTaskFolder& Folder() { return *FScheduler->TaskFolder(); }

  QStringList Calls() const
  {
    QStringList calls = QString::fromUtf8(ReadFile(FLog)).split(u'\n', Qt::SkipEmptyParts);
    calls.removeAll(u"--user is-system-running"_s);
    return calls;
  }

  void ClearCalls() const { QFile::remove(FLog); }

  std::unique_ptr<TWinTask> NewBackupTask()
  {
    auto task = FScheduler->NewTask();
    task->SetLogonType(ltToken);
    task->SetUserData(u"Quillbox-default"_s);
    TWinTaskAction* action = task->NewAction(taExec);
    action->SetPath(u"/usr/bin/quillbox"_s);
    action->SetArguments(u"default /prompt:quiet /force"_s);
    TWinTaskTrigger* trigger = task->NewTrigger(ttDaily);
    trigger->SetStartTime(DateTimeFromQDateTime(QDateTime(QDate(2024, 3, 1), QTime(2, 30))));
    return task;
  }

  // The state the stand-in reports for the timer and the two services.
  void ShowUnits(const QString& timerFile, const QString& timerActive, const QString& service,
                 const QString& runService)
  {
    const QString base = u"ardanto-Backup"_s;
    WriteFile(FShow, (u"Id="_s + base + u".timer\nActiveState="_s + timerActive + u"\nUnitFileState="_s + timerFile +
                      u"\n\nId="_s + base + u".service\nActiveState="_s + service + u"\nUnitFileState=static\n\nId="_s +
                      base + u".run.service\nActiveState="_s + runService + u"\nUnitFileState=static\n"_s)
                         .toUtf8());
  }

  TempDir FRoot;
  QString FLog = FRoot.File(u"systemctl.log"_s);
  QString FShow = FRoot.File(u"show.txt"_s);
  ScopedEnv FLogEnv{"FAKE_SYSTEMCTL_LOG", FLog.toUtf8()};
  ScopedEnv FShowEnv{"FAKE_SYSTEMCTL_SHOW", FShow.toUtf8()};
  TSystemdPaths FPaths;
  std::unique_ptr<TSystemdTaskPlatform> FPlatform;
  std::unique_ptr<ScopedTaskPlatform> FScoped;
  std::unique_ptr<TWinTaskScheduler> FScheduler;
};

TEST(SystemdPlatform, IsNotRunningWhenNoUserManagerAnswers)
{
  TempDir runtime;
  ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.Path().toUtf8());
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime.File(u"no-bus"_s).toUtf8());
  TSystemdTaskPlatform platform;
  ScopedTaskPlatform scoped(&platform);
  EXPECT_FALSE(TWinTaskScheduler::IsRunning());
  std::unique_ptr<TWinTaskScheduler> scheduler;
  EXPECT_EQ(ConnectTaskScheduler(scheduler), HRESULT(0x80041315u));

  // Any answer of the manager counts, a degraded one too.
  TSystemdPaths paths;
  paths.Systemctl = SourceDir() + u"/tests/scheduler/fake-systemctl"_s;
  TSystemdTaskPlatform fake(paths);
  ScopedEnv log("FAKE_SYSTEMCTL_LOG", runtime.File(u"log"_s).toUtf8());
  for (const char* answer : {"running", "degraded", "starting"}) {
    ScopedEnv state("FAKE_SYSTEMCTL_STATE", answer);
    EXPECT_TRUE(fake.IsRunning()) << answer;
  }
  ScopedEnv offline("FAKE_SYSTEMCTL_STATE", "offline");
  EXPECT_FALSE(fake.IsRunning());
}

TEST_F(SystemdBackend, RegisteringKeepsTheDefinitionAndStartsTheTimer)
{
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"Quillbox-default"_s, *task, QString(), QString()), 0)
      << Folder().ErrorMessage().toStdString();
  EXPECT_EQ(FilesBelow(FRoot.Path()),
            (QStringList{u"config/systemd/user/ardanto-Quillbox\\x2ddefault.run.service"_s,
                         u"config/systemd/user/ardanto-Quillbox\\x2ddefault.service"_s,
                         u"config/systemd/user/ardanto-Quillbox\\x2ddefault.timer"_s,
                         u"data/ardanto/tasks/Quillbox-default.xml"_s,
                         u"state/ardanto/tasks/ardanto-Quillbox\\x2ddefault.state"_s, u"systemctl.log"_s}));
  EXPECT_EQ(Calls(), (QStringList{u"--user daemon-reload"_s, u"--user enable ardanto-Quillbox\\x2ddefault.timer"_s,
                                  u"--user restart ardanto-Quillbox\\x2ddefault.timer"_s}));

  const QString timer = QString::fromUtf8(ReadFile(FPaths.UnitDir + u"/ardanto-Quillbox\\x2ddefault.timer"_s));
  EXPECT_TRUE(timer.contains(u"\nOnCalendar=*-*-* 02:30:00\n"_s)) << timer.toStdString();
  EXPECT_TRUE(timer.contains(u"\nUnit=ardanto-Quillbox\\x2ddefault.service\n"_s));
  EXPECT_FALSE(timer.contains(u"Persistent"_s)) << "missed runs are not wanted";
  const QString service = QString::fromUtf8(ReadFile(FPaths.UnitDir + u"/ardanto-Quillbox\\x2ddefault.service"_s));
  const QString xml = FPaths.TasksDir + u"/Quillbox-default.xml"_s;
  EXPECT_TRUE(service.contains(u"\nExecCondition=\""_s + GuardProgram() + u"\" check --state \""_s))
      << service.toStdString();
  EXPECT_TRUE(service.contains(u"\" \""_s + xml + u"\"\n"_s));
  EXPECT_TRUE(service.contains(u" -- \"/usr/bin/quillbox\" \"default\" \"/prompt:quiet\" \"/force\"\n"_s));
  EXPECT_TRUE(service.contains(u"\nConditionACPower=true\n"_s));
  EXPECT_TRUE(service.contains(u"\nTimeoutStartSec=259200\n"_s)) << "the definition's 72 hours";
  const QString run = QString::fromUtf8(ReadFile(FPaths.UnitDir + u"/ardanto-Quillbox\\x2ddefault.run.service"_s));
  EXPECT_FALSE(run.contains(u"ExecCondition"_s));
  EXPECT_FALSE(run.contains(u"ConditionACPower"_s)) << "a start on demand is the user's own choice";

  // The stored definition is what the folder lists, with its path.
  const auto stored = TSchedDefinition::FromXml(ReadFile(xml));
  EXPECT_EQ(stored->RegistrationInfo()->Text(u"URI"_s), u"\\Quillbox-default"_s);
  EXPECT_EQ(Folder().GetTask(0)->Definition()->UserData(), u"Quillbox-default"_s);
  EXPECT_EQ(Folder().GetTask(0)->Path(), u"\\Quillbox-default"_s);

  // Occurrences before the registration are not missed runs.
  TTaskRunState state;
  ASSERT_TRUE(ReadRunState(FPaths.StateDir + u"/ardanto-Quillbox\\x2ddefault.state"_s, state));
  EXPECT_NEAR(double(state.LastHandled), double(QDateTime::currentSecsSinceEpoch()), 60.0);
  EXPECT_EQ(state.Result, SCHED_S_TASK_HAS_NOT_RUN);

  // Names are the same in any case, as everywhere in the scheduler.
  ASSERT_EQ(Folder().RegisterTask(u"QUILLBOX-DEFAULT"_s, *task, QString(), QString()), 0);
  EXPECT_EQ(Folder().TaskCount(), 1);
  EXPECT_EQ(Folder().GetTask(0)->TaskName(), u"Quillbox-default"_s);
}

TEST_F(SystemdBackend, WhatCannotRunHereIsRefusedBeforeAnythingIsWritten)
{
  const struct {
    const char* Name;
    const char* TaskName;
    std::function<void(TWinTask&)> Change;
    const char* Message;
  } cases[] = {
      {"a password", "Backup", [](TWinTask& t) { t.SetLogonType(ltPassword); }, "As logged-on user"},
      {"another user", "Backup",
       [](TWinTask& t) {
         t.SetLogonType(ltS4U);
         t.SetUserId(u"HOST\\somebody-else"_s);
       },
       "logged-on user"},
      {"waking up", "Backup",
       [](TWinTask& t) {
         t.NewTrigger(ttEvent)->SetSubscription(u"<QueryList><Query Id=\"0\" Path=\"System\"/></QueryList>"_s);
       },
       "wakes up"},
      {"at startup", "Backup", [](TWinTask& t) { t.NewTrigger(ttBoot); }, "At startup"},
      {"a message", "Backup", [](TWinTask& t) { t.NewAction(taMessage); }, "Display a message"},
      {"no action", "Backup", [](TWinTask& t) { t.Actions().ClearAll(); }, "no action"},
      {"a relative working folder", "Backup", [](TWinTask& t) { t.GetAction(0)->SetWorkingDirectory(u"tmp"_s); },
       "full path"},
      {"a name that leaves the folder", "../Backup", [](TWinTask&) {}, "cannot be the name"},
      {"a name with a slash", "a/b", [](TWinTask&) {}, "cannot be the name"},
      {"a hidden name", ".Backup", [](TWinTask&) {}, "cannot be the name"},
      {"a name with a line break", "Back\nup", [](TWinTask&) {}, "cannot be the name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto task = NewBackupTask();
    c.Change(*task);
    // The password case needs a user name for the model to pass it on.
    EXPECT_EQ(Folder().RegisterTask(QString::fromUtf8(c.TaskName), *task, u"HOST\\ann"_s, u"secret"_s), -1);
    EXPECT_EQ(Folder().ErrorCode(), E_INVALIDARG);
    EXPECT_TRUE(Folder().ErrorMessage().contains(QString::fromUtf8(c.Message)))
        << Folder().ErrorMessage().toStdString();
    EXPECT_EQ(FilesBelow(FRoot.Path()), QStringList{u"systemctl.log"_s}) << "nothing written";
    EXPECT_EQ(Calls(), QStringList()) << "nothing asked of the manager";
  }
  // A trigger that is switched off is no obstacle.
  auto task = NewBackupTask();
  task->NewTrigger(ttEvent)->SetEnabled(false);
  EXPECT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0)
      << Folder().ErrorMessage().toStdString();
}

TEST_F(SystemdBackend, AnUnreadableDefinitionStopsTheListingAndIsNamed)
{
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"A"_s, *task, QString(), QString()), 0);
  ASSERT_EQ(Folder().RegisterTask(u"C"_s, *task, QString(), QString()), 1);
  WriteFile(FPaths.TasksDir + u"/B.xml"_s, "<Task><Triggers>");
  EXPECT_EQ(Folder().Refresh(), SCHED_E_MALFORMEDXML);
  EXPECT_TRUE(Folder().ErrorMessage().contains(u"B.xml"_s)) << Folder().ErrorMessage().toStdString();
  ASSERT_EQ(Folder().TaskCount(), 1);
  EXPECT_EQ(Folder().GetTask(0)->TaskName(), u"A"_s);
  // Files that are no definitions of ours are not listed at all.
  QFile::remove(FPaths.TasksDir + u"/B.xml"_s);
  WriteFile(FPaths.TasksDir + u"/notes.txt"_s, "x");
  WriteFile(FPaths.TasksDir + u"/.hidden.xml"_s, "x");
  EXPECT_EQ(Folder().Refresh(), S_OK);
  EXPECT_EQ(Folder().TaskCount(), 2);
}

TEST_F(SystemdBackend, DeletingStopsTheTimerFirstAndThenRemovesEverything)
{
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0);
  const QStringList written = FilesBelow(FRoot.Path());

  ClearCalls();
  ScopedEnv fail("FAKE_SYSTEMCTL_FAIL", "disable");
  EXPECT_FALSE(Folder().DeleteTask(u"Backup"_s));
  EXPECT_EQ(Folder().ErrorCode(), E_FAIL);
  EXPECT_TRUE(Folder().ErrorMessage().contains(u"Access denied"_s)) << Folder().ErrorMessage().toStdString();
  QStringList kept = FilesBelow(FRoot.Path());
  EXPECT_EQ(kept, written) << "a timer that still runs keeps its task";

  qunsetenv("FAKE_SYSTEMCTL_FAIL");
  ClearCalls();
  EXPECT_TRUE(Folder().DeleteTask(u"backup"_s)) << Folder().ErrorMessage().toStdString();
  EXPECT_EQ(FilesBelow(FRoot.Path()), QStringList{u"systemctl.log"_s});
  const QStringList calls = Calls();
  ASSERT_FALSE(calls.isEmpty());
  EXPECT_EQ(calls.first(), u"--user disable --now ardanto-Backup.timer"_s);
  EXPECT_EQ(calls.last(), u"--user daemon-reload"_s);
  EXPECT_EQ(Folder().TaskCount(), 0);
  EXPECT_FALSE(Folder().DeleteTask(u"Backup"_s));
  EXPECT_EQ(Folder().ErrorCode(), E_FILE_NOT_FOUND);
}

TEST_F(SystemdBackend, StatusIsReadFromTheUnitsAndTheGuardsRecord)
{
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0);
  TWinRegisteredTask* registered = Folder().GetTask(0);
  const QString stateFile = FPaths.StateDir + u"/ardanto-Backup.state"_s;

  ShowUnits(u"enabled"_s, u"active"_s, u"inactive"_s, u"inactive"_s);
  EXPECT_EQ(registered->Status(), tsReady);
  EXPECT_TRUE(registered->Enabled());
  EXPECT_EQ(registered->LastResult(), SCHED_S_TASK_HAS_NOT_RUN);
  EXPECT_EQ(registered->LastRunTimeAsString(), QString());
  EXPECT_GT(registered->NextRunTime(), DateTimeNow());
  EXPECT_LE(registered->NextRunTime(), DateTimeNow() + 1.0) << "daily";

  ShowUnits(u"enabled"_s, u"active"_s, u"inactive"_s, u"activating"_s);
  EXPECT_EQ(registered->Status(), tsRunning) << "started on demand";
  EXPECT_EQ(registered->LastResult(), SCHED_S_TASK_RUNNING);

  QString error;
  ASSERT_TRUE(UpdateRunState(
      stateFile,
      [](TTaskRunState& s) {
        s.LastRun = QDateTime(QDate(2024, 3, 1), QTime(2, 30)).toSecsSinceEpoch();
        s.Result = 3;
      },
      error));
  ShowUnits(u"enabled"_s, u"active"_s, u"failed"_s, u"inactive"_s);
  EXPECT_EQ(registered->Status(), tsReady);
  EXPECT_EQ(registered->LastResult(), 3);
  EXPECT_DOUBLE_EQ(registered->LastRunTime(), DateTimeFromQDateTime(QDateTime(QDate(2024, 3, 1), QTime(2, 30))));
  // Marked as running while no unit runs: killed before it could be recorded.
  ASSERT_TRUE(UpdateRunState(
      stateFile, [](TTaskRunState& s) { s.Running = true; }, error));
  EXPECT_EQ(registered->LastResult(), SCHED_S_TASK_TERMINATED);

  ClearCalls();
  registered->SetEnabled(false);
  EXPECT_EQ(Calls(), QStringList{u"--user disable --now ardanto-Backup.timer"_s});
  EXPECT_FALSE(
      TSchedDefinition::FromXml(ReadFile(FPaths.TasksDir + u"/Backup.xml"_s))->Settings()->Bool(u"Enabled"_s, true));
  ShowUnits(u"disabled"_s, u"inactive"_s, u"inactive"_s, u"inactive"_s);
  EXPECT_EQ(registered->Status(), tsDisabled);
  EXPECT_EQ(registered->NextRunTime(), 0.0);

  ClearCalls();
  registered->Run();
  registered->Stop();
  EXPECT_EQ(Calls(), (QStringList{u"--user start --no-block ardanto-Backup.run.service"_s,
                                  u"--user stop --no-block ardanto-Backup.service ardanto-Backup.run.service"_s}));
}

TEST_F(SystemdBackend, FoldersAreFoldersBelowTheTasksFolder)
{
  ASSERT_EQ(Folder().CreateFolder(u"Mail"_s), 0);
  EXPECT_TRUE(QFileInfo(FPaths.TasksDir + u"/Mail"_s).isDir());
  ASSERT_EQ(FScheduler->SetPath(u"\\Mail"_s), S_OK);
  EXPECT_EQ(Folder().FolderName(), u"Mail"_s);
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0);
  EXPECT_TRUE(QFile::exists(FPaths.TasksDir + u"/Mail/Backup.xml"_s));
  EXPECT_TRUE(QFile::exists(FPaths.UnitDir + u"/ardanto-Mail-Backup.timer"_s));
  EXPECT_EQ(Folder().GetTask(0)->Path(), u"\\Mail\\Backup"_s);
  ASSERT_EQ(FScheduler->SetPath(u"\\"_s), S_OK);
  EXPECT_FALSE(Folder().DeleteFolder(u"Mail"_s));
  EXPECT_EQ(Folder().ErrorCode(), E_DIR_NOT_EMPTY);
  EXPECT_EQ(FScheduler->SetPath(u"\\..\\.."_s), E_PATH_NOT_FOUND);
}

// Unit names decode with systemd's own tool to the task's path.
TEST(SystemdUnits, NamesDecodeWithSystemdEscape)
{
  if (!HasProgram(u"systemd-escape"_s))
    GTEST_SKIP() << "systemd-escape is not installed";
  for (const QString& path : {u"Quillbox-default"_s, u"Mail/Back up v1.2"_s, u"Zürich €"_s, u"a\\b:c_d"_s}) {
    const QString escaped = EscapeUnitNamePart(path);
    EXPECT_FALSE(escaped.contains(u'.')) << "a dot only separates our suffixes";
    const ProcessResult result = ardanto::test::Run(u"systemd-escape"_s, {u"--unescape"_s, escaped});
    EXPECT_EQ(QString::fromUtf8(result.Output).trimmed(), path);
  }
  EXPECT_THROW(TaskUnitNames(QString(300, u'x')), ETaskSchedulerError);
}

TEST(SystemdUnits, PassSystemdAnalyzeVerifyForEveryKind)
{
  if (!HasProgram(u"systemd-analyze"_s))
    GTEST_SKIP() << "systemd-analyze is not installed";
  const struct {
    const char* Name;
    std::function<void(TWinTask&)> Build;
  } cases[] = {
      {"Daily", [](TWinTask& t) { t.NewTrigger(ttDaily)->SetDaysInterval(2); }},
      {"Weekly",
       [](TWinTask& t) {
         TWinTaskTrigger* trigger = t.NewTrigger(ttWeekly);
         trigger->SetDaysOfWeek(2 | 8);
         trigger->SetRandomDelay(600);
       }},
      {"Monthly",
       [](TWinTask& t) {
         TWinTaskTrigger* trigger = t.NewTrigger(ttMonthly);
         trigger->SetDaysOfMonth(1 | 0x80000000u);
         trigger->SetMonthsOfYear(1 | 8);
         t.Settings()->SetRunIfMissed(true);
       }},
      {"Monthly by weekday",
       [](TWinTask& t) {
         TWinTaskTrigger* trigger = t.NewTrigger(ttMonthlyDow);
         trigger->SetWeeksOfMonth(1 | 16);
         trigger->SetDaysOfWeek(2);
         trigger->SetMonthsOfYear(4095);
       }},
      {"One time", [](TWinTask& t) { t.NewTrigger(ttTime)->SetRandomDelay(30); }},
      {"Repeating",
       [](TWinTask& t) {
         TWinTaskTrigger* trigger = t.NewTrigger(ttDaily);
         trigger->SetInterval(100 * 60);
         trigger->SetDuration(10 * 3600);
         trigger->SetExecutionTimeLimit(3600);
       }},
      {"Logon", [](TWinTask& t) { t.NewTrigger(ttLogon)->SetDelay(30); }},
      {"No trigger", [](TWinTask&) {}},
      {"Quoted arguments",
       [](TWinTask& t) {
         t.NewTrigger(ttDaily);
         t.GetAction(0)->SetArguments(uR"("a b" 100% $HOME \ ; "x""y")"_s);
         t.GetAction(0)->SetWorkingDirectory(u"\"/tmp/a b\""_s);
         t.NewAction(taExec)->SetPath(u"/bin/true"_s);
       }},
  };
  TempDir dir;
  TempDir runtime;
  QFile::setPermissions(runtime.Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.Path().toUtf8());
  TSystemdPaths paths;
  paths.Guard = GuardProgram();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TWinTask task(TSchedDefinition::Create());
    task.NewAction(taExec)->SetPath(u"/bin/echo"_s);
    c.Build(task);
    const QString name = QString::fromUtf8(c.Name);
    const TTaskUnitNames names = TaskUnitNames(name);
    const TTaskUnits units =
        BuildTaskUnits(*task.Definition(), u"\\"_s + name, dir.File(name + u".xml"_s), dir.File(u"x.state"_s), paths);
    QStringList files = {dir.Write(names.Service, units.Service.toUtf8()),
                         dir.Write(names.RunService, units.RunService.toUtf8())};
    EXPECT_EQ(units.Timer.isEmpty(), name == u"No trigger");
    if (!units.Timer.isEmpty())
      files.append(dir.Write(names.Timer, units.Timer.toUtf8()));
    const ProcessResult result =
        ardanto::test::Run(u"systemd-analyze"_s, QStringList{u"verify"_s, u"--user"_s} + files);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(QString::fromUtf8(result.Output), QString()) << units.Timer.toStdString() << units.Service.toStdString();
  }
}

} // namespace
