// The guard the task units run: it runs a task's program and records the
// run, and lets an occurrence through once.

#include "scheduler/ScheduleGuard.h"
#include "scheduler/backends/systemd/SystemdTaskPlatform.h"

#include "SchedulerTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QString Guard()
{
  return QCoreApplication::applicationDirPath() + u"/ardanto-schedule-guard"_s;
}

TTaskRunState StateOf(const QString& file)
{
  TTaskRunState state;
  EXPECT_TRUE(ReadRunState(file, state)) << file.toStdString();
  return state;
}

TEST(ScheduleGuardRun, RecordsWhenTheProgramStartedAndHowItEnded)
{
  const struct {
    const char* Name;
    QStringList Command;
    int ExitCode;
    qint64 Result;
  } cases[] = {
      {"success, found on PATH", {u"true"_s}, 0, 0},
      {"an exit code", {u"/bin/sh"_s, u"-c"_s, u"exit 3"_s}, 3, 3},
      {"killed", {u"/bin/sh"_s, u"-c"_s, u"kill -9 $$"_s}, 137, SCHED_S_TASK_TERMINATED},
      {"no such program", {u"/nonexistent/program"_s}, 127, E_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const QString state = dir.File(u"task.state"_s);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const ProcessResult result =
        ardanto::test::Run(Guard(), QStringList{u"run"_s, u"--state"_s, state, u"--"_s} + c.Command);
    EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Output.toStdString();
    const TTaskRunState recorded = StateOf(state);
    EXPECT_GE(recorded.LastRun, before);
    EXPECT_LE(recorded.LastRun, QDateTime::currentSecsSinceEpoch());
    EXPECT_EQ(recorded.Result, c.Result);
    EXPECT_FALSE(recorded.Running);
  }
}

TEST(ScheduleGuardRun, StartsInTheWorkingFolder)
{
  TempDir dir;
  const QString state = dir.File(u"task.state"_s);
  const QString folder = dir.File(u"work folder/"_s);
  QDir().mkpath(folder);
  const ProcessResult result = ardanto::test::Run(
      Guard(), {u"run"_s, u"--state"_s, state, u"--cwd"_s, folder, u"--"_s, u"/bin/sh"_s, u"-c"_s, u"pwd > here"_s});
  EXPECT_EQ(result.ExitCode, 0) << result.Output.toStdString();
  EXPECT_EQ(QString::fromUtf8(ReadFile(folder + u"here"_s)).trimmed(), QDir(folder).canonicalPath());

  const ProcessResult missing = ardanto::test::Run(
      Guard(), {u"run"_s, u"--state"_s, state, u"--cwd"_s, dir.File(u"gone"_s), u"--"_s, u"/bin/true"_s});
  EXPECT_EQ(missing.ExitCode, 127);
  EXPECT_EQ(StateOf(state).Result, E_FILE_NOT_FOUND);
}

TEST(ScheduleGuardRun, StaysToRecordARunThatIsStopped)
{
  TempDir dir;
  const QString state = dir.File(u"task.state"_s);
  QProcess guard;
  // Its own process group, which the test signals as the manager signals a unit's processes.
  guard.setChildProcessModifier([] { setsid(); });
  guard.start(Guard(), {u"run"_s, u"--state"_s, state, u"--"_s, u"sleep"_s, u"30"_s});
  ASSERT_TRUE(guard.waitForStarted());
  QElapsedTimer waited;
  waited.start();
  TTaskRunState recorded;
  while (!(ReadRunState(state, recorded) && recorded.Running) && waited.elapsed() < 10000)
    QThread::msleep(20);
  ASSERT_TRUE(recorded.Running);
  QThread::msleep(100);
  ASSERT_EQ(kill(-pid_t(guard.processId()), SIGTERM), 0);
  ASSERT_TRUE(guard.waitForFinished(10000));
  EXPECT_EQ(guard.exitCode(), 128 + SIGTERM);
  recorded = StateOf(state);
  EXPECT_EQ(recorded.Result, SCHED_S_TASK_TERMINATED);
  EXPECT_FALSE(recorded.Running);
}

TEST(ScheduleGuardCheck, LetsADueOccurrenceThroughOnce)
{
  TempDir dir;
  const QString state = dir.File(u"task.state"_s);
  const QDateTime start = QDateTime::currentDateTime().addSecs(-5);
  const QString xml = dir.Write(u"task.xml"_s, (u"<Task><Triggers><TimeTrigger><StartBoundary>"_s +
                                                start.toString(u"yyyy-MM-dd'T'HH:mm:ss"_s) +
                                                u"</StartBoundary></TimeTrigger></Triggers></Task>"_s)
                                                   .toUtf8());
  QString error;
  const qint64 registered = QDateTime::currentSecsSinceEpoch() - 60;
  ASSERT_TRUE(UpdateRunState(
      state, [&](TTaskRunState& s) { s.LastHandled = registered; }, error));

  const ProcessResult first = ardanto::test::Run(Guard(), {u"check"_s, u"--state"_s, state, xml});
  EXPECT_EQ(first.ExitCode, 0) << first.Output.toStdString();
  EXPECT_EQ(StateOf(state).LastHandled, start.toSecsSinceEpoch());
  const ProcessResult second = ardanto::test::Run(Guard(), {u"check"_s, u"--state"_s, state, xml});
  EXPECT_EQ(second.ExitCode, 1);
  EXPECT_TRUE(second.Output.contains("No occurrence is due")) << second.Output.toStdString();

  // A definition that cannot be read fails the unit instead of skipping it quietly.
  const QString broken = dir.Write(u"broken.xml"_s, "<Task>");
  const ProcessResult unreadable = ardanto::test::Run(Guard(), {u"check"_s, u"--state"_s, state, broken});
  EXPECT_EQ(unreadable.ExitCode, 255);
  EXPECT_TRUE(unreadable.Output.contains("broken.xml")) << unreadable.Output.toStdString();
  EXPECT_EQ(ardanto::test::Run(Guard(), {u"check"_s, u"--state"_s, state, dir.File(u"gone.xml"_s)}).ExitCode, 255);
  EXPECT_EQ(ardanto::test::Run(Guard(), {u"check"_s}).ExitCode, 255);

  // The journal gets it in the session's language.
  const ardanto::test::ScopedEnv german("LANGUAGE", "de");
  const ProcessResult inGerman =
      ardanto::test::Run(Guard(), {u"check"_s, u"--state"_s, state, dir.File(u"gone.xml"_s)});
  EXPECT_TRUE(inGerman.Output.contains("kann nicht gelesen werden")) << inGerman.Output.toStdString();
}

TEST(ManagerStartTime, IsWhenTheNamedProcessStarted)
{
  {
    ScopedEnv manager("MANAGERPID", QByteArray::number(qint64(getpid())));
    const QDateTime started = ManagerStartTime();
    ASSERT_TRUE(started.isValid());
    EXPECT_LE(started, QDateTime::currentDateTimeUtc());
    EXPECT_GT(started, QDateTime::currentDateTimeUtc().addSecs(-3600)) << "this test began moments ago";
  }
  ScopedEnv none("MANAGERPID", "");
  EXPECT_FALSE(ManagerStartTime().isValid());
  ScopedEnv gone("MANAGERPID", "999999999");
  EXPECT_FALSE(ManagerStartTime().isValid());
}

} // namespace
