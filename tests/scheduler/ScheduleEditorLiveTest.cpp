// What the schedule wizard saves, carried out by a real systemd user manager:
// the one that tests/support/start-user-manager starts for a throw-away user
// and names in ARDANTO_TEST_USER_MANAGER. Run as root, the test runs itself
// again as that user; without a manager it is skipped with the reason.

#include "scheduler/backends/systemd/SystemdUnits.h"
#include "scheduler/editor/ScheduleEditor.h"

#include "SchedulerTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

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

// Takes every name the wizard proposes and leaves its values as the test set them.
class TAcceptingView : public TScheduleEditorView {
public:
  bool PromptName(const QString&, const QString&, QString&) override { return true; }
  bool AskYesNo(const QString&) override { return true; }
  void ShowError(const QString& text) override { Errors.append(text); }
  bool EditSchedule(TScheduleValues& values) override
  {
    Edit(values);
    return true;
  }

  std::function<void(TScheduleValues&)> Edit;
  QStringList Errors;
};

class ScheduleEditorLive : public ::testing::Test {
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
    if (getuid() == FManager.value(u"UID"_s).toUInt()) {
      FAsManagerUser = true;
      ASSERT_EQ(ConnectTaskScheduler(FScheduler), S_OK) << "the manager answers";
      return;
    }
    if (getuid() != 0)
      GTEST_SKIP() << "The user manager belongs to " << FManager.value(u"USER"_s).toStdString();
  }

  void TearDown() override
  {
    if (!FScheduler || FScheduler->Refresh() != S_OK)
      return;
    for (const QString& name : FRegistered)
      if (FScheduler->TaskFolder()->IndexOfTask(name) >= 0)
        FScheduler->TaskFolder()->DeleteTask(name);
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

  QString UnitDir() const { return QDir::homePath() + u"/.config/systemd/user/"_s; }

  QString FFile;
  QHash<QString, QString> FManager;
  bool FAsManagerUser = false;
  std::unique_ptr<TWinTaskScheduler> FScheduler;
  QStringList FRegistered;
};

TEST_F(ScheduleEditorLive, EveryKindSavedByTheWizardMakesUnitsSystemdAccepts)
{
  if (RanAsManagerUser())
    return;
  TAcceptingView view;
  TScheduleEnvironment env = TScheduleEnvironment::Current();
  // A harmless program: the guard may start a task whose occurrence is due.
  env.ProgramPath = u"/bin/true"_s;
  TScheduleEditor editor(view, env);
  editor.InitTaskScheduler(FScheduler.get());
  const QDate start = QDate::currentDate().addDays(3);
  const struct {
    const char* Profile;
    std::function<void(TScheduleValues&)> Set;
    QStringList Calendars; // the timer's OnCalendar lines
    QString TimerLine;     // another line the timer must hold
  } cases[] = {
      {"daily", [](TScheduleValues& v) { v.Kind = skDaily; }, {u"*-*-* 06:45:00"_s}, {}},
      // Every third day: the timer wakes daily, the guard lets every third day through.
      {"every-3-days",
       [](TScheduleValues& v) {
         v.EveryDay = false;
         v.DaysInterval = 3;
       },
       {u"*-*-* 06:45:00"_s},
       {}},
      {"weekly",
       [](TScheduleValues& v) {
         v.Kind = skWeekly;
         v.WeekDays = WeekdayBoxBit(0) | WeekdayBoxBit(4);
       },
       {u"Mon,Fri *-*-* 06:45:00"_s},
       {}},
      {"monthly",
       [](TScheduleValues& v) {
         v.Kind = skMonthly;
         v.MonthDays = 1u | (1u << 14) | kLastDayOfMonth;
         v.Months = 1 | (1 << 6);
       },
       {u"*-01,07-01,15 06:45:00"_s, u"*-01,07~01 06:45:00"_s},
       {}},
      {"monthly-on",
       [](TScheduleValues& v) {
         v.Kind = skMonthly;
         v.ByDays = false;
         v.MonthWeeks = 2 | kLastWeekOfMonth;
         v.MonthWeekDays = 1 << 2; // Wednesday
       },
       {u"Wed *-*-08..14 06:45:00"_s, u"Wed *-*~07/1 06:45:00"_s},
       {}},
      {"one-time",
       [](TScheduleValues& v) {
         v.Kind = skOneTime;
         v.RandomDelay = TDelayValue{true, DelayField(600)};
       },
       {start.toString(u"yyyy-MM-dd"_s) + u" 06:45:00"_s},
       u"RandomizedDelaySec=600"_s},
      {"repeating",
       [](TScheduleValues& v) {
         v.Advanced.RepeatTask = true;
         v.Advanced.MinutesInterval = 120;
         v.Advanced.MinutesDuration = 480;
         v.Advanced.UseEndDate = true;
         v.Advanced.EndDate = DateTimeOf(QDate::currentDate().addDays(60), QTime(23, 59, 59));
       },
       {u"*-*-* 00/2:45:00"_s},
       {}},
      {"logon",
       [](TScheduleValues& v) {
         v.Kind = skLogon;
         v.EventDelay = TDelayValue{true, DelayField(45)};
       },
       {},
       u"OnStartupSec=45"_s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Profile);
    const QString profile = QString::fromLatin1(c.Profile);
    const QString name = DefaultScheduleTaskName(paQuillbox, profile);
    FRegistered.append(name);
    view.Errors.clear();
    view.Edit = [&](TScheduleValues& v) {
      v.StartDate = start;
      v.StartTime = QTime(6, 44, 50); // saved as 06:45
      c.Set(v);
    };
    ASSERT_EQ(editor.Execute(-1, paQuillbox, QString(), profile, profile + u" /prompt:quiet /force"_s, false),
              srRegistered)
        << view.Errors.join(u'\n').toStdString();
    EXPECT_GE(editor.GetUserTask(paQuillbox, profile), 1);

    const TTaskUnitNames units = TaskUnitNames(name);
    const QStringList files = {UnitDir() + units.Timer, UnitDir() + units.Service, UnitDir() + units.RunService};
    for (const QString& file : files)
      ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
    const ProcessResult verify =
        ardanto::test::Run(u"systemd-analyze"_s, QStringList{u"verify"_s, u"--user"_s} + files);
    EXPECT_EQ(verify.ExitCode, 0) << verify.Output.toStdString();
    EXPECT_EQ(verify.Output, QByteArray());

    const QString timer = QString::fromUtf8(ReadFile(files[0]));
    const QString service = QString::fromUtf8(ReadFile(files[1]));
    // The program with the wizard's arguments, one word each; the default
    // advanced options: only on AC power.
    EXPECT_TRUE(service.contains(u"-- \"/bin/true\" \""_s + profile + u"\" \"/prompt:quiet\" \"/force\"\n"_s))
        << service.toStdString();
    EXPECT_TRUE(service.contains(u"\nConditionACPower=true\n"_s)) << service.toStdString();
    QStringList calendars;
    static const QRegularExpression onCalendar(u"^OnCalendar=(.+)$"_s, QRegularExpression::MultilineOption);
    for (auto it = onCalendar.globalMatch(timer); it.hasNext();)
      calendars.append(it.next().captured(1).trimmed());
    EXPECT_EQ(calendars, c.Calendars) << timer.toStdString();
    if (!c.TimerLine.isEmpty()) {
      EXPECT_TRUE(timer.contains(u'\n' + c.TimerLine + u'\n')) << timer.toStdString();
    }
    for (const QString& expression : calendars) {
      const ProcessResult checked = ardanto::test::Run(u"systemd-analyze"_s, {u"calendar"_s, expression});
      EXPECT_EQ(checked.ExitCode, 0) << expression.toStdString() << "\n" << checked.Output.toStdString();
      EXPECT_TRUE(checked.Output.contains("Next elapse:")) << checked.Output.toStdString();
    }
  }

  // Waking up has no counterpart here: refused before anything is written,
  // and the user can choose another kind.
  view.Errors.clear();
  view.Edit = [](TScheduleValues& v) { v.Kind = skWakeUp; };
  FRegistered.append(u"Quillbox-wake-up"_s);
  EXPECT_EQ(editor.Execute(-1, paQuillbox, QString(), u"wake-up"_s, u"wake-up /force"_s, false), srRetry);
  ASSERT_EQ(view.Errors.size(), 1);
  EXPECT_TRUE(view.Errors[0].startsWith(u"Could not create or modify scheduled task!\r\n"_s))
      << view.Errors[0].toStdString();
  EXPECT_FALSE(QFile::exists(UnitDir() + TaskUnitNames(u"Quillbox-wake-up"_s).Service));
  EXPECT_EQ(editor.GetUserTask(paQuillbox, u"wake-up"_s), 0);

  // Removing a task through the wizard takes its units with it.
  const int daily = editor.GetUserTask(paQuillbox, u"daily"_s);
  ASSERT_GE(daily, 1);
  editor.DeleteTask(daily);
  EXPECT_EQ(view.Errors.size(), 1);
  EXPECT_EQ(editor.GetUserTask(paQuillbox, u"daily"_s), 0);
  EXPECT_FALSE(QFile::exists(UnitDir() + TaskUnitNames(u"Quillbox-daily"_s).Timer));
  EXPECT_TRUE(QFile::exists(UnitDir() + TaskUnitNames(u"Quillbox-weekly"_s).Timer));
}

} // namespace
