// Scheduled tasks under a real systemd user manager: the one that
// tests/support/start-user-manager starts for a throw-away user and names in
// ARDANTO_TEST_USER_MANAGER. Run as root, each test runs itself again as that
// user, whose manager it talks to; without a manager the tests are skipped.

#include "scheduler/WinTask.h"

#include "SchedulerTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QHash<QString, QString> ReadManagerFile(const QString& fileName)
{
  QHash<QString, QString> values;
  QFile file(fileName);
  if (file.open(QIODevice::ReadOnly))
    for (const QByteArray& line : file.readAll().split('\n'))
      if (const qsizetype equals = line.indexOf('='); equals > 0)
        values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
  return values;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs)
      return false;
    QThread::msleep(100);
  }
  return true;
}

ProcessResult Systemctl(const QStringList& arguments)
{
  // Times in UTC, whatever the machine's zone.
  ScopedEnv utc("TZ", "UTC");
  return Run(u"systemctl"_s, QStringList{u"--user"_s, u"--no-pager"_s} + arguments);
}

QString UnitProperty(const QString& unit, const QString& property)
{
  const ProcessResult result = Systemctl({u"show"_s, u"-P"_s, property, unit});
  return QString::fromUtf8(result.Output).trimmed();
}

// "Mon 2026-12-14 03:00:00 UTC" as systemctl prints it under TZ=UTC.
QDateTime SystemdTime(const QString& text)
{
  const QStringList parts = text.split(u' ');
  if (parts.size() != 4 || parts[3] != u"UTC")
    return {};
  return QDateTime::fromString(parts[1] + u'T' + parts[2] + u'Z', Qt::ISODate);
}

QString SystemdText(const QDateTime& instant)
{
  return QLocale::c().toString(instant.toUTC(), u"ddd yyyy-MM-dd HH:mm:ss"_s) + u" UTC"_s;
}

QDateTime InstantOf(TDateTime local)
{
  return QDateTimeFromDateTime(local).toUTC();
}

class LiveUserManager : public ::testing::Test {
protected:
  void SetUp() override
  {
    FFile = qEnvironmentVariable("ARDANTO_TEST_USER_MANAGER");
    if (FFile.isEmpty())
      GTEST_SKIP() << "No systemd user manager was started for these tests (tests/support/start-user-manager start "
                      "names one in ARDANTO_TEST_USER_MANAGER)";
    FManager = ReadManagerFile(FFile);
    if (FManager.value(u"STATUS"_s) != u"ready")
      GTEST_SKIP() << "No systemd user manager on this machine: "
                   << FManager.value(u"REASON"_s, u"unreadable "_s + FFile).toStdString();
    const uint uid = FManager.value(u"UID"_s).toUInt();
    if (getuid() == uid) {
      FAsManagerUser = true;
      ASSERT_EQ(ConnectTaskScheduler(FScheduler), S_OK) << "the manager answers";
      return;
    }
    if (getuid() != 0)
      GTEST_SKIP() << "The user manager belongs to " << FManager.value(u"USER"_s).toStdString();
  }

  void TearDown() override
  {
    // Nothing of a failed test stays scheduled; the other tests' tasks, which
    // may run at the same time, stay.
    if (!FScheduler || FScheduler->Refresh() != S_OK)
      return;
    for (const QString& name : FRegistered)
      if (Folder().IndexOfTask(name) >= 0)
        Folder().DeleteTask(name);
  }

  // As root: runs this test again as the manager's user and takes its result.
  bool RanAsManagerUser()
  {
    if (FAsManagerUser)
      return false;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QStringList arguments = {u"--reuid="_s + FManager.value(u"UID"_s),
                             u"--regid="_s + FManager.value(u"GID"_s),
                             u"--init-groups"_s,
                             u"env"_s,
                             u"-i"_s,
                             u"HOME="_s + FManager.value(u"HOME"_s),
                             u"USER="_s + FManager.value(u"USER"_s),
                             u"LOGNAME="_s + FManager.value(u"USER"_s),
                             u"PATH=/usr/local/bin:/usr/bin:/bin"_s,
                             u"LANG=C.UTF-8"_s,
                             u"XDG_RUNTIME_DIR="_s + FManager.value(u"XDG_RUNTIME_DIR"_s),
                             u"DBUS_SESSION_BUS_ADDRESS="_s + FManager.value(u"DBUS_SESSION_BUS_ADDRESS"_s),
                             u"ARDANTO_TEST_USER_MANAGER="_s + FFile};
    for (const char* passed : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "ARDANTO_SOURCE_DIR", "ARDANTO_LOCALEDIR"})
      if (qEnvironmentVariableIsSet(passed))
        arguments.append(QString::fromLatin1(passed) + u'=' + qEnvironmentVariable(passed));
    arguments << QCoreApplication::applicationFilePath()
              << u"--gtest_filter="_s + QString::fromLatin1(test->test_suite_name()) + u'.' +
                     QString::fromLatin1(test->name());
    const ProcessResult result = ardanto::test::Run(u"setpriv"_s, arguments, 110000);
    EXPECT_EQ(result.ExitCode, 0) << result.Output.toStdString();
    EXPECT_TRUE(result.Output.contains("[  PASSED  ] 1 test")) << result.Output.toStdString();
    return true;
  }

  TWinTaskFolder& Folder() { return *FScheduler->TaskFolder(); }

  // A task that runs /bin/sh with a script and its arguments.
  std::unique_ptr<TWinTask> ShellTask(const QString& script, const QString& arguments = QString())
  {
    auto task = FScheduler->NewTask();
    task->SetLogonType(ltToken);
    task->Settings()->SetDisallowOnBatteries(false);
    TWinTaskAction* action = task->NewAction(taExec);
    action->SetPath(u"/bin/sh"_s);
    QString quoted = script;
    quoted.replace(u"\""_s, u"\"\""_s);
    action->SetArguments(u"-c \""_s + quoted + u'"' + (arguments.isEmpty() ? QString() : u' ' + arguments));
    return task;
  }

  TWinRegisteredTask* Register(const QString& name, TWinTask& task)
  {
    FRegistered.append(name);
    const int index = Folder().RegisterTask(name, task, QString(), QString());
    EXPECT_GE(index, 0) << Folder().ErrorMessage().toStdString();
    return index >= 0 ? Folder().GetTask(index) : nullptr;
  }

  QString UnitDir() const { return QDir::homePath() + u"/.config/systemd/user/"_s; }

  QString FFile;
  QHash<QString, QString> FManager;
  bool FAsManagerUser = false;
  std::unique_ptr<TWinTaskScheduler> FScheduler;
  QStringList FRegistered;
};

TEST_F(LiveUserManager, EveryKindIsScheduledWhereSystemdExpectsIt)
{
  if (RanAsManagerUser())
    return;
  const TDateTime past = DateTimeFromQDateTime(QDateTime(QDate(2024, 1, 1), QTime(0, 0)));
  auto at = [](int hour, int minute) { return double(hour) / 24 + double(minute) / 1440; };
  const QDateTime inTwoDays = QDateTime(QDate::currentDate().addDays(2), QTime(7, 0));
  const struct {
    const char* Name;
    std::function<void(TWinTaskTrigger&)> Set;
    TWinTaskTriggerType Kind;
    bool Exact;
  } cases[] = {
      {"LiveDaily", [&](TWinTaskTrigger& t) { t.SetStartTime(past + at(3, 0)); }, ttDaily, true},
      {"LiveWeekly",
       [&](TWinTaskTrigger& t) {
         t.SetStartTime(past + at(4, 30));
         t.SetDaysOfWeek(2 | 16);
       },
       ttWeekly, true},
      {"LiveMonthly",
       [&](TWinTaskTrigger& t) {
         t.SetStartTime(past + at(5, 0));
         t.SetDaysOfMonth(1 | (1 << 14) | 0x80000000u);
         t.SetMonthsOfYear(4095);
       },
       ttMonthly, true},
      {"LiveMonthlyWeekday",
       [&](TWinTaskTrigger& t) {
         t.SetStartTime(past + at(6, 0));
         t.SetWeeksOfMonth(1 | 16);
         t.SetDaysOfWeek(2);
         t.SetMonthsOfYear(4095);
       },
       ttMonthlyDow, true},
      {"LiveOneTime", [&](TWinTaskTrigger& t) { t.SetStartTime(DateTimeFromQDateTime(inTwoDays)); }, ttTime, true},
      {"LiveRepeating",
       [&](TWinTaskTrigger& t) {
         t.SetStartTime(past + at(8, 0));
         t.SetInterval(2 * 3600);
         t.SetDuration(8 * 3600);
       },
       ttDaily, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString name = QString::fromLatin1(c.Name);
    auto task = ShellTask(u"true"_s);
    c.Set(*task->NewTrigger(c.Kind));
    TWinRegisteredTask* registered = Register(name, *task);
    ASSERT_NE(registered, nullptr);
    const QString timer = u"ardanto-"_s + name + u".timer"_s;
    const QStringList files = {UnitDir() + timer, UnitDir() + u"ardanto-"_s + name + u".service"_s,
                               UnitDir() + u"ardanto-"_s + name + u".run.service"_s};
    const ProcessResult verify =
        ardanto::test::Run(u"systemd-analyze"_s, QStringList{u"verify"_s, u"--user"_s} + files);
    EXPECT_EQ(verify.ExitCode, 0);
    EXPECT_EQ(verify.Output, QByteArray());

    EXPECT_EQ(UnitProperty(timer, u"ActiveState"_s), u"active"_s);
    EXPECT_EQ(UnitProperty(timer, u"UnitFileState"_s), u"enabled"_s);
    EXPECT_EQ(registered->Status(), tsReady);
    const QDateTime elapse = SystemdTime(UnitProperty(timer, u"NextElapseUSecRealtime"_s));
    ASSERT_TRUE(elapse.isValid()) << UnitProperty(timer, u"NextElapseUSecRealtime"_s).toStdString();
    const QDateTime next = InstantOf(registered->NextRunTime());
    if (c.Exact)
      EXPECT_EQ(next, elapse);
    else
      EXPECT_GE(next, elapse) << "the timer wakes for every run, and maybe for more";
    const QString listed = QString::fromUtf8(Systemctl({u"list-timers"_s}).Output);
    const QString line = listed.section(timer, 0, 0).section(u'\n', -1);
    EXPECT_TRUE(line.startsWith(SystemdText(elapse))) << listed.toStdString();
  }
  // Worked out by hand: the next 03:00 of the local clock.
  QDateTime daily(QDate::currentDate(), QTime(3, 0));
  if (daily <= QDateTime::currentDateTime())
    daily = daily.addDays(1);
  EXPECT_EQ(InstantOf(Folder().GetTask(Folder().IndexOfTask(u"LiveDaily"_s))->NextRunTime()), daily.toUTC());
  EXPECT_EQ(InstantOf(Folder().GetTask(Folder().IndexOfTask(u"LiveOneTime"_s))->NextRunTime()), inTwoDays.toUTC());

  const QString tasks = QDir::homePath() + u"/.local/share/ardanto/tasks/"_s;
  for (const auto& c : cases) {
    const QString name = QString::fromLatin1(c.Name);
    EXPECT_TRUE(Folder().DeleteTask(name)) << Folder().ErrorMessage().toStdString();
    EXPECT_EQ(Folder().IndexOfTask(name), -1);
    EXPECT_FALSE(QString::fromUtf8(Systemctl({u"list-timers"_s, u"--all"_s}).Output)
                     .contains(u"ardanto-"_s + name + u".timer"_s));
    EXPECT_EQ(UnitProperty(u"ardanto-"_s + name + u".timer"_s, u"LoadState"_s), u"not-found"_s);
    EXPECT_FALSE(QFile::exists(tasks + name + u".xml"_s));
    EXPECT_FALSE(QFile::exists(UnitDir() + u"ardanto-"_s + name + u".service"_s));
  }
}

TEST_F(LiveUserManager, ATaskRunsOnScheduleWithItsArgumentsIntact)
{
  if (RanAsManagerUser())
    return;
  TempDir dir;
  const QString marker = dir.File(u"ran"_s);
  // Words that the unit file must keep as they are: blanks, quotes, "%", "$", a lone ";".
  auto task = ShellTask(u"printf '%s\\n' \"$@\" > \"$0\""_s, marker + uR"( "a b" 100% $HOME "quote""d" ;)"_s);
  // Time enough to register it on a busy machine: a start missed while
  // registering would never come.
  const QDateTime start = QDateTime::currentDateTime().addSecs(8);
  task->NewTrigger(ttTime)->SetStartTime(DateTimeFromQDateTime(start));
  TWinRegisteredTask* registered = Register(u"LiveOnce"_s, *task);
  ASSERT_NE(registered, nullptr);
  ASSERT_LT(QDateTime::currentDateTime(), start) << "registering took longer than the test allows";
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(marker); }, 60000)) << "the timer started the task";
  ASSERT_TRUE(WaitFor([&] { return registered->Status() == tsReady; }, 20000));
  EXPECT_EQ(QString::fromUtf8(ReadFile(marker)), u"a b\n100%\n$HOME\nquote\"d\n;\n"_s);
  EXPECT_EQ(registered->LastResult(), S_OK);
  const QDateTime ran = InstantOf(registered->LastRunTime());
  EXPECT_GE(ran, start.toUTC().addSecs(-1));
  EXPECT_LE(ran, QDateTime::currentDateTimeUtc());
  EXPECT_EQ(registered->NextRunTime(), 0.0) << "a one-time task is done";
}

TEST_F(LiveUserManager, TasksRunAndStopOnDemandAndSwitchOff)
{
  if (RanAsManagerUser())
    return;
  TempDir dir;
  const QString started = dir.File(u"started"_s);
  auto task = ShellTask(u"echo > \"$0\"; sleep 2; exit 3"_s, started);
  task->NewTrigger(ttDaily)->SetStartTime(DateTimeFromQDateTime(QDateTime(QDate(2024, 1, 1), QTime(3, 0))));
  TWinRegisteredTask* registered = Register(u"LiveOnDemand"_s, *task);
  ASSERT_NE(registered, nullptr);
  EXPECT_EQ(registered->LastResult(), SCHED_S_TASK_HAS_NOT_RUN);
  registered->Run();
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(started); }, 20000));
  EXPECT_EQ(registered->Status(), tsRunning);
  EXPECT_EQ(registered->LastResult(), SCHED_S_TASK_RUNNING);
  ASSERT_TRUE(WaitFor([&] { return registered->Status() == tsReady; }, 20000));
  EXPECT_EQ(registered->LastResult(), 3);

  const QString waiting = dir.File(u"waiting"_s);
  auto longTask = ShellTask(u"echo > \"$0\"; sleep 60"_s, waiting);
  TWinRegisteredTask* running = Register(u"LiveStopped"_s, *longTask);
  ASSERT_NE(running, nullptr);
  running->Run();
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(waiting); }, 20000));
  running->Stop();
  ASSERT_TRUE(WaitFor([&] { return running->Status() != tsRunning; }, 20000));
  EXPECT_EQ(running->LastResult(), SCHED_S_TASK_TERMINATED);
  EXPECT_EQ(running->Status(), tsReady) << "a task without triggers is ready to be started";

  registered = Folder().GetTask(Folder().IndexOfTask(u"LiveOnDemand"_s));
  registered->SetEnabled(false);
  EXPECT_EQ(registered->Status(), tsDisabled);
  EXPECT_FALSE(registered->Enabled());
  EXPECT_EQ(UnitProperty(u"ardanto-LiveOnDemand.timer"_s, u"UnitFileState"_s), u"disabled"_s);
  EXPECT_FALSE(QString::fromUtf8(Systemctl({u"list-timers"_s}).Output).contains(u"ardanto-LiveOnDemand"_s));
  EXPECT_EQ(registered->NextRunTime(), 0.0);
  registered->SetEnabled(true);
  EXPECT_EQ(registered->Status(), tsReady);
  EXPECT_TRUE(QString::fromUtf8(Systemctl({u"list-timers"_s}).Output).contains(u"ardanto-LiveOnDemand"_s));
}

TEST_F(LiveUserManager, TheGuardTurnsDownAWakeUpThatIsNoOccurrence)
{
  if (RanAsManagerUser())
    return;
  TempDir dir;
  const QString marker = dir.File(u"ran"_s);
  // A logon trigger's timer fires as soon as it is started, also when the
  // task is registered long after the logon: that is no logon.
  auto task = ShellTask(u"echo > \"$0\""_s, marker);
  task->NewTrigger(ttLogon);
  TWinRegisteredTask* registered = Register(u"LiveLogon"_s, *task);
  ASSERT_NE(registered, nullptr);
  ASSERT_TRUE(
      WaitFor([&] { return !UnitProperty(u"ardanto-LiveLogon.timer"_s, u"LastTriggerUSec"_s).isEmpty(); }, 20000))
      << "the timer fired";
  ASSERT_TRUE(WaitFor([&] { return registered->Status() == tsReady; }, 20000));
  QThread::msleep(500);
  EXPECT_FALSE(QFile::exists(marker));
  EXPECT_EQ(registered->LastRunTime(), 0.0);
  EXPECT_EQ(UnitProperty(u"ardanto-LiveLogon.service"_s, u"ConditionResult"_s), u"no"_s);
}

} // namespace
