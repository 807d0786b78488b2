// The schedule wizard without its window, on the in-memory scheduler (and
// the systemd backend with a stand-in systemctl): names and keys, loading a
// task into the pages, saving the pages into the task, registration results.

#include "scheduler/editor/ScheduleEditor.h"
#include "scheduler/backends/memory/MemoryTaskPlatform.h"
#include "scheduler/backends/systemd/SystemdTaskPlatform.h"

#include "SchedulerTestSupport.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <functional>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

const QString kOptions = u"default /prompt:quiet /force"_s;

// Answers the wizard's questions as a test says and records what it was shown.
class TFakeView : public TScheduleEditorView {
public:
  bool PromptName(const QString& title, const QString& prompt, QString& name) override
  {
    Prompts.append(title + u'|' + prompt + u'|' + name);
    if (Names.isEmpty())
      return false;
    name = Names.takeFirst();
    return true;
  }
  bool AskYesNo(const QString& text) override
  {
    Questions.append(text);
    return !Answers.isEmpty() && Answers.takeFirst();
  }
  void ShowError(const QString& text) override { Errors.append(text); }
  bool EditSchedule(TScheduleValues& values) override
  {
    ++Edits;
    Shown = values;
    if (!Edit)
      return true;
    return Edit(values);
  }

  QStringList Names;
  QStringList Prompts;
  QList<bool> Answers;
  QStringList Questions;
  QStringList Errors;
  std::function<bool(TScheduleValues&)> Edit;
  int Edits = 0;
  TScheduleValues Shown;
};

// 2 June 2025 10:20:30, a Monday.
const TDateTime kNow = DateTimeOf(QDate(2025, 6, 2), QTime(10, 20, 30));

TScheduleEnvironment TestEnvironment()
{
  TScheduleEnvironment env;
  env.ProgramPath = u"/opt/ardanto/bin/quillbox"_s;
  env.UserName = u"ann"_s;
  env.SamUserName = u"ann"_s;
  env.Now = [] { return kNow; };
  return env;
}

class ScheduleEditorFlow : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_EQ(ConnectTaskScheduler(FScheduler), S_OK);
    FEditor.InitTaskScheduler(FScheduler.get());
  }

  TWinTaskFolder& Folder() { return *FScheduler->TaskFolder(); }

  // Creates the task of profile "default" through the wizard, its values set by edit.
  int Create(const std::function<void(TScheduleValues&)>& edit, const QString& name = u"Quillbox-default"_s)
  {
    FView.Names = {name};
    FView.Edit = [edit](TScheduleValues& values) {
      edit(values);
      return true;
    };
    return FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false);
  }

  // The registered definition of a task, read from the refreshed folder.
  TWinTask* Registered(const QString& name)
  {
    EXPECT_EQ(Folder().Refresh(), S_OK);
    const int index = Folder().IndexOfTask(name);
    return index >= 0 ? Folder().GetTask(index)->Definition() : nullptr;
  }

  TWinTaskTrigger* Trigger(const QString& name = u"Quillbox-default"_s)
  {
    TWinTask* task = Registered(name);
    return task && task->TriggerCount() > 0 ? task->GetTrigger(0) : nullptr;
  }

  // A task registered straight through the object model, with one trigger of a kind.
  void RegisterPlain(const QString& name, TWinTaskTriggerType kind, const QString& userData = QString())
  {
    auto task = FScheduler->NewTask();
    task->SetUserData(userData);
    task->SetLogonType(ltToken);
    TWinTaskAction* action = task->NewAction(taExec);
    action->SetPath(u"/usr/bin/quillbox"_s);
    action->SetArguments(u"old arguments"_s);
    task->NewTrigger(kind);
    ASSERT_GE(Folder().RegisterTask(name, *task, QString(), QString()), 0) << Folder().ErrorMessage().toStdString();
  }

  TMemoryTaskPlatform FPlatform;
  ScopedTaskPlatform FScoped{&FPlatform};
  std::unique_ptr<TWinTaskScheduler> FScheduler;
  TFakeView FView;
  TScheduleEditor FEditor{FView, TestEnvironment()};
};

TEST_F(ScheduleEditorFlow, ANewTaskGetsTheDefaultNameTheKeyAndTheProgram)
{
  EXPECT_EQ(Create([](TScheduleValues&) {}), srRegistered);
  EXPECT_EQ(FView.Prompts, QStringList{u"Thunderbird mail backup|Name of new scheduled task:|Quillbox-default"_s});
  EXPECT_EQ(FView.Errors, QStringList());
  EXPECT_EQ(FView.Shown.ScheduleLabel, u"New schedule"_s);
  EXPECT_EQ(FView.Shown.TaskName, u"Quillbox-default"_s);
  EXPECT_EQ(FView.Shown.Kind, skDaily);

  TWinTask* task = Registered(u"Quillbox-default"_s);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->UserData(), u"Quillbox-default"_s);
  EXPECT_EQ(task->Description(), u"This task was created by Ardanto"_s);
  EXPECT_EQ(task->Author(), u"ann"_s);
  EXPECT_EQ(task->UserId(), u"ann"_s);
  EXPECT_EQ(task->Date(), kNow);
  EXPECT_EQ(task->LogonType(), ltToken);
  ASSERT_EQ(task->ActionCount(), 1);
  EXPECT_EQ(task->GetAction(0)->Path(), u"/opt/ardanto/bin/quillbox"_s);
  EXPECT_EQ(task->GetAction(0)->Arguments(), kOptions);
  EXPECT_EQ(task->GetAction(0)->WorkingDirectory(), QString());
  ASSERT_EQ(task->TriggerCount(), 1);
  EXPECT_EQ(task->GetTrigger(0)->TriggerType(), ttDaily);
  EXPECT_EQ(task->GetTrigger(0)->DaysInterval(), 1);
  // The logged-on user: the registration gets no credentials.
  ASSERT_EQ(FPlatform.Registrations.size(), 1);
  EXPECT_EQ(FPlatform.Registrations[0].UserId, QString());
  EXPECT_EQ(FPlatform.Registrations[0].Password, QString());

  EXPECT_EQ(FEditor.GetUserTask(paQuillbox, u"default"_s), 1);
  EXPECT_EQ(FEditor.GetUserTask(paQuillbox, u"DEFAULT"_s), 1) << "the key is compared without case";
  EXPECT_EQ(FEditor.GetUserTask(paQuillbox, u"other"_s), 0);
}

TEST_F(ScheduleEditorFlow, ARenamedTaskKeepsItsKeyAndIsFoundByIt)
{
  RegisterPlain(u"Aaa unrelated"_s, ttDaily, u"Quillbox-other"_s);
  EXPECT_EQ(Create([](TScheduleValues&) {}, u"Nightly mail"_s), srRegistered);
  TWinTask* task = Registered(u"Nightly mail"_s);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->UserData(), u"Quillbox-default"_s);
  EXPECT_EQ(Folder().IndexOfTask(u"Quillbox-default"_s), -1);
  const int position = FEditor.GetUserTask(paQuillbox, u"default"_s);
  EXPECT_EQ(position, 2);

  EXPECT_EQ(FEditor.GetStatus(position), u"Status: Ready\r\nLast run time: \r\nNext run time: "_s);
  EXPECT_EQ(FEditor.GetStatus(0), QString());
  EXPECT_EQ(FEditor.GetStatus(3), QString());
  FEditor.RunTask(position);
  FEditor.RunTask(3);
  EXPECT_EQ(FPlatform.Task(u"\\Nightly mail"_s)->Runs, 1);

  FPlatform.Fail(u"DeleteTask"_s, E_ACCESSDENIED, u"the task is locked"_s);
  FEditor.DeleteTask(position);
  EXPECT_EQ(FView.Errors, QStringList{u"the task is locked"_s});
  FPlatform.ClearFailures();
  FEditor.DeleteTask(position);
  EXPECT_EQ(FPlatform.Task(u"\\Nightly mail"_s), nullptr);
  EXPECT_NE(FPlatform.Task(u"\\Aaa unrelated"_s), nullptr);
}

TEST_F(ScheduleEditorFlow, NamesWithInvalidCharactersAreRefusedAndAskedForAgain)
{
  const QString invalid = u"* ? < > : \" / \\ |"_s;
  for (const QString& name : {u"a:b"_s, u"x*"_s, u"?"_s, u"<"_s, u">"_s, u"\"q\""_s, u"a/b"_s, u"a\\b"_s, u"a|b"_s,
                              u"tab\there"_s, QString(QChar(31))})
    EXPECT_FALSE(IsValidTaskName(name)) << name.toStdString();
  EXPECT_TRUE(IsValidTaskName(QString()));
  EXPECT_TRUE(IsValidTaskName(u"Mail backup (daily) - ann's, #1"_s));

  FView.Names = {u"Mail:daily"_s, u"Mail daily"_s};
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srRegistered);
  EXPECT_EQ(FView.Errors,
            QStringList{u"Task Scheduler\r\n\"Mail:daily\" contains invalid characters ("_s + invalid + u")!"_s});
  ASSERT_EQ(FView.Prompts.size(), 2);
  EXPECT_TRUE(FView.Prompts[1].endsWith(u"|Mail:daily"_s)) << "the refused name is offered for correcting";
  EXPECT_NE(Registered(u"Mail daily"_s), nullptr);

  // An empty name passes the check; the scheduler has the last word on it.
  FView.Errors.clear();
  FView.Names = {QString()};
  FEditor.Execute(-1, paQuillbox, QString(), u"second"_s, kOptions, false);
  EXPECT_EQ(FView.Edits, 2);
  for (const QString& error : FView.Errors)
    EXPECT_FALSE(error.contains(u"invalid characters"_s)) << error.toStdString();
}

TEST_F(ScheduleEditorFlow, CancellingOrDecliningRegistersNothing)
{
  // The name prompt cancelled.
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
  // The wizard cancelled.
  FView.Names = {u"Quillbox-default"_s};
  FView.Edit = [](TScheduleValues&) { return false; };
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
  EXPECT_EQ(FPlatform.Registrations.size(), 0);

  // A task of the default name: asked before it is edited.
  RegisterPlain(u"quillbox-DEFAULT"_s, ttWeekly);
  FView.Edit = nullptr;
  FView.Answers = {false};
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
  EXPECT_EQ(FView.Questions, QStringList{u"Task \"quillbox-DEFAULT\" already exists - edit?"_s});
  EXPECT_EQ(FView.Edits, 1);

  // "Yes" edits it, and it takes the new arguments and the key.
  FView.Answers = {true};
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srRegistered);
  EXPECT_EQ(FView.Shown.Kind, skWeekly);
  EXPECT_EQ(FView.Shown.ScheduleLabel, u"1st  Schedule"_s);
  TWinTask* task = Registered(u"quillbox-DEFAULT"_s);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->GetAction(0)->Arguments(), kOptions);
  EXPECT_EQ(task->UserData(), u"Quillbox-default"_s);
  EXPECT_EQ(Folder().TaskCount(), 1);
}

TEST_F(ScheduleEditorFlow, ATypedNameOfAnotherTaskIsNotReplacedUnasked)
{
  RegisterPlain(u"Other task"_s, ttDaily);
  FView.Names = {u"other TASK"_s, u"Fresh name"_s};
  FView.Answers = {false};
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srRegistered);
  EXPECT_EQ(FView.Questions, QStringList{u"Task \"Other task\" already exists - edit?"_s});
  EXPECT_EQ(Registered(u"Other task"_s)->GetAction(0)->Arguments(), u"old arguments"_s);
  EXPECT_NE(Registered(u"Fresh name"_s), nullptr);
}

TEST_F(ScheduleEditorFlow, AnExistingTaskKeepsItsArgumentsAndGetsTheProgramsFolder)
{
  auto task = FScheduler->NewTask();
  task->SetLogonType(ltToken);
  task->Settings()->SetCompatibility(tcXP);
  TWinTaskAction* action = task->NewAction(taExec);
  action->SetPath(u"\"/old place/bin/quillbox\""_s);
  action->SetArguments(u"old arguments"_s);
  action->SetWorkingDirectory(u"\"/home/ann/my jobs\""_s);
  task->NewTrigger(ttDaily)->SetDaysInterval(3);
  ASSERT_GE(Folder().RegisterTask(u"Mine"_s, *task, QString(), QString()), 0);

  FView.Edit = [](TScheduleValues& values) {
    values.Kind = skWeekly;
    values.WeekDays = WeekdayBoxBit(2); // Wednesday
    return true;
  };
  EXPECT_EQ(FEditor.Execute(1, paQuillbox, QString(), u"default"_s, kOptions, false), srRegistered);
  EXPECT_EQ(FView.Shown.WorkingDirectory, u"/home/ann/my jobs"_s);
  EXPECT_FALSE(FView.Shown.EveryDay);
  EXPECT_EQ(FView.Shown.DaysInterval, 3);
  TWinTask* saved = Registered(u"Mine"_s);
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(saved->GetAction(0)->Arguments(), u"old arguments"_s);
  EXPECT_EQ(saved->GetAction(0)->Path(), u"/opt/ardanto/bin/quillbox"_s);
  EXPECT_EQ(saved->GetAction(0)->WorkingDirectory(), u"\"/home/ann/my jobs\""_s);
  EXPECT_EQ(saved->Settings()->Compatibility(), tcWin10);
  EXPECT_EQ(saved->UserData(), u"Quillbox-default"_s);
  // The kind changed: the old trigger went, one weekly trigger is left.
  ASSERT_EQ(saved->TriggerCount(), 1);
  EXPECT_EQ(saved->GetTrigger(0)->TriggerType(), ttWeekly);
  EXPECT_EQ(saved->GetTrigger(0)->DaysOfWeek(), 8);
}

TEST(ScheduleProgramPath, OnlyTheFolderOfAnotherPlaceIsReplaced)
{
  const struct {
    const char* Current;
    const char* Program;
    bool NewTask;
    const char* Expected;
  } cases[] = {
      {"/usr/bin/anything", "/opt/ardanto/bin/quillbox", true, "/opt/ardanto/bin/quillbox"},
      {"", "/opt/my apps/quillbox", true, "\"/opt/my apps/quillbox\""},
      {"/usr/bin/quillbox", "/opt/ardanto/bin/quillbox", false, "/opt/ardanto/bin/quillbox"},
      {"\"/old place/quillbox-wrapper\"", "/opt/ardanto/bin/quillbox", false, "/opt/ardanto/bin/quillbox-wrapper"},
      {"/OPT/Ardanto/BIN/qb", "/opt/ardanto/bin/quillbox", false, "/OPT/Ardanto/BIN/qb"},
      {"/usr/bin/quillbox", "/opt/my apps/quillbox", false, "\"/opt/my apps/quillbox\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ActionProgramPath(QString::fromUtf8(c.Current), QString::fromUtf8(c.Program), c.NewTask),
              QString::fromUtf8(c.Expected))
        << c.Current;
}

TEST_F(ScheduleEditorFlow, SavingFillsWhatThePagesLeaveOpen)
{
  const struct {
    const char* Name;
    std::function<void(TScheduleValues&)> Edit;
    std::function<void(const TWinTaskTrigger&)> Check;
  } cases[] = {
      {"weekly without a day",
       [](TScheduleValues& v) {
         v.Kind = skWeekly;
         v.WeekDays = 0;
       },
       [](const TWinTaskTrigger& t) { EXPECT_EQ(t.DaysOfWeek(), kSchedMonday); }},
      {"monthly with no day",
       [](TScheduleValues& v) {
         v.Kind = skMonthly;
         v.MonthDays = 0;
       },
       [](const TWinTaskTrigger& t) {
         EXPECT_EQ(t.TriggerType(), ttMonthly);
         EXPECT_EQ(t.DaysOfMonth(), 1u);
         EXPECT_EQ(t.MonthsOfYear(), kAllMonths);
       }},
      {"monthly on no week and no weekday",
       [](TScheduleValues& v) {
         v.Kind = skMonthly;
         v.ByDays = false;
         v.MonthWeeks = 0;
         v.MonthWeekDays = 0;
         v.Months = 0;
       },
       [](const TWinTaskTrigger& t) {
         EXPECT_EQ(t.TriggerType(), ttMonthlyDow);
         EXPECT_EQ(t.WeeksOfMonth(), 1);
         EXPECT_EQ(t.DaysOfWeek(), kSchedMonday);
         EXPECT_EQ(t.MonthsOfYear(), 1);
       }},
      {"expiry before the start",
       [](TScheduleValues& v) {
         v.StartDate = QDate(2025, 7, 1);
         v.StartTime = QTime(8, 0);
         v.Advanced.UseEndDate = true;
         v.Advanced.EndDate = DateTimeOf(QDate(2025, 6, 30), QTime(12, 0));
       },
       [](const TWinTaskTrigger& t) {
         EXPECT_EQ(DateTimeToTaskTime(t.EndTime(), false), u"2025-07-01T08:01:00"_s);
         EXPECT_EQ(DateTimeToTaskTime(t.StartTime(), false), u"2025-07-01T08:00:00"_s);
       }},
      {"expiry after the start",
       [](TScheduleValues& v) {
         v.StartDate = QDate(2025, 7, 1);
         v.StartTime = QTime(8, 0);
         v.Advanced.UseEndDate = true;
         v.Advanced.EndDate = DateTimeOf(QDate(2025, 12, 31), QTime(23, 59, 59));
       },
       [](const TWinTaskTrigger& t) { EXPECT_EQ(DateTimeToTaskTime(t.EndTime(), false), u"2025-12-31T23:59:59"_s); }},
      {"start 08.14.40",
       [](TScheduleValues& v) {
         v.StartDate = QDate(2025, 7, 1);
         v.StartTime = QTime(8, 14, 40);
       },
       [](const TWinTaskTrigger& t) { EXPECT_EQ(DateTimeToTaskTime(t.StartTime(), false), u"2025-07-01T08:15:00"_s); }},
      {"start 08.14.20",
       [](TScheduleValues& v) {
         v.StartDate = QDate(2025, 7, 1);
         v.StartTime = QTime(8, 14, 20);
       },
       [](const TWinTaskTrigger& t) { EXPECT_EQ(DateTimeToTaskTime(t.StartTime(), false), u"2025-07-01T08:14:00"_s); }},
      {"start 23.59.50 rounds into the next day",
       [](TScheduleValues& v) {
         v.StartDate = QDate(2025, 12, 31);
         v.StartTime = QTime(23, 59, 50);
       },
       [](const TWinTaskTrigger& t) { EXPECT_EQ(DateTimeToTaskTime(t.StartTime(), false), u"2026-01-01T00:00:00"_s); }},
      {"wake-up without Activate",
       [](TScheduleValues& v) {
         v.Kind = skWakeUp;
         v.Activate = false;
       },
       [](const TWinTaskTrigger& t) {
         EXPECT_EQ(t.TriggerType(), ttEvent);
         EXPECT_EQ(t.TaskTrigger()->StartBoundary(), QString());
         EXPECT_EQ(t.Subscription(), DefaultWakeUpQuery());
       }},
      {"unchecked delays",
       [](TScheduleValues& v) {
         v.Kind = skLogon;
         v.EventDelay.Checked = false;
         v.EventDelay.Value = DelayField(600);
       },
       [](const TWinTaskTrigger& t) {
         EXPECT_EQ(t.Delay(), 0u);
         EXPECT_EQ(t.LogonUserId(), u"ann"_s);
       }},
      {"advanced options off",
       [](TScheduleValues& v) {
         v.Advanced.MinutesInterval = 10;
         v.Advanced.MinutesLimit = 10;
         v.ScheduleEnabled = false;
       },
       [](const TWinTaskTrigger& t) {
         EXPECT_EQ(t.TaskTrigger()->EndBoundary(), QString());
         EXPECT_EQ(t.Interval(), 0u);
         EXPECT_EQ(t.Duration(), 0u);
         EXPECT_EQ(t.ExecutionTimeLimit(), 0u);
         EXPECT_FALSE(t.Enabled());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString name = QString::fromUtf8(c.Name);
    ASSERT_EQ(Create(c.Edit, name), srRegistered) << FView.Errors.join(u'\n').toStdString();
    const TWinTaskTrigger* trigger = Trigger(name);
    ASSERT_NE(trigger, nullptr);
    c.Check(*trigger);
  }
}

TEST_F(ScheduleEditorFlow, RegistrationFailuresTheUserCanCorrectAskForARetry)
{
  const struct {
    HRESULT Code;
    int Result;
  } cases[] = {
      {HRESULT(0x8007052Eu), srRetry}, // wrong password
      {HRESULT(0x80070534u), srRetry}, // the other end of the logon failures
      {HRESULT(0x8007052Du), srCancelled}, {HRESULT(0x80070535u), srCancelled}, {E_INVALIDARG, srRetry},
      {E_ACCESSDENIED, srCancelled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    FView.Errors.clear();
    FPlatform.Fail(u"Register"_s, c.Code, u"refused"_s);
    EXPECT_EQ(Create([](TScheduleValues& v) {
                v.LoggedOnUser = false;
                v.UserName = u"ann"_s;
                v.Password = u"wrong"_s;
              }),
              c.Result);
    ASSERT_EQ(FView.Errors.size(), 1);
    EXPECT_EQ(FView.Errors[0],
              u"Could not create or modify scheduled task!\r\n"_s + SchedulerErrorText(c.Code) + u" - refused"_s);
  }
  EXPECT_EQ(Folder().TaskCount(), 0);
  EXPECT_EQ(SchedulerErrorText(HRESULT(0x8007052Eu)), u"The user name or password is incorrect. (0x8007052e)"_s);

  // The user name and password fields are what the registration gets.
  FPlatform.ClearFailures();
  EXPECT_EQ(Create([](TScheduleValues& v) {
              v.LoggedOnUser = false;
              v.UserName = u"ann"_s;
              v.Password = u"right"_s;
            }),
            srRegistered);
  EXPECT_EQ(FPlatform.Registrations.back().UserId, u"ann"_s);
  EXPECT_EQ(FPlatform.Registrations.back().Password, u"right"_s);
  EXPECT_EQ(FPlatform.Registrations.back().LogonType, 1);
  ASSERT_TRUE(Folder().DeleteTask(u"Quillbox-default"_s));

  // A failed change of an existing task leaves it as it was registered.
  RegisterPlain(u"Existing"_s, ttDaily);
  FPlatform.Fail(u"Register"_s, E_ACCESSDENIED, u"refused"_s);
  FView.Edit = [](TScheduleValues& v) {
    v.Kind = skWeekly;
    return true;
  };
  EXPECT_EQ(FEditor.Execute(1, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
  EXPECT_EQ(Trigger(u"Existing"_s)->TriggerType(), ttDaily);
}

TEST_F(ScheduleEditorFlow, TriggersOfOtherKindsAreNotOpened)
{
  const struct {
    TWinTaskTriggerType Kind;
    const char* Text;
  } cases[] = {{ttBoot, "At startup"}, {ttIdle, "On idle"}, {ttLogon, "At log on"}};
  int position = 0;
  for (const auto& c : cases) {
    ++position;
    const QString name = u"Task "_s + QString::number(position);
    RegisterPlain(name, c.Kind);
    if (c.Kind == ttLogon) {
      // A logon trigger of any user (no user id) cannot be shown either.
      FPlatform.Task(u"\\"_s + name)->Definition->Triggers()->Item(1)->SetUserId(QString());
      ASSERT_EQ(Folder().Refresh(), S_OK);
    }
    FView.Errors.clear();
    EXPECT_EQ(FEditor.Execute(position, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
    EXPECT_EQ(FView.Errors, QStringList{u"The trigger mode \""_s + QString::fromUtf8(c.Text) +
                                        u"\" is not supported by Ardanto.\r\nPlease use the Windows Task Scheduler "
                                        u"for editing!"_s});
  }
  EXPECT_EQ(FView.Edits, 0);
}

TEST_F(ScheduleEditorFlow, EveryKindLoadsBackAsItWasSaved)
{
  const QDate date(2025, 7, 14);
  const QTime time(6, 45);
  const struct {
    const char* Name;
    std::function<void(TScheduleValues&)> Set;
  } cases[] = {
      {"daily every day", [](TScheduleValues& v) { v.Kind = skDaily; }},
      {"daily every 5 days",
       [](TScheduleValues& v) {
         v.EveryDay = false;
         v.DaysInterval = 5;
       }},
      {"weekly",
       [](TScheduleValues& v) {
         v.Kind = skWeekly;
         v.WeeksInterval = 3;
         v.WeekDays = WeekdayBoxBit(1) | WeekdayBoxBit(4) | WeekdayBoxBit(6);
       }},
      {"monthly days",
       [](TScheduleValues& v) {
         v.Kind = skMonthly;
         v.MonthDays = 1u | (1u << 14) | kLastDayOfMonth;
         v.Months = 1 | (1 << 6);
       }},
      {"monthly on",
       [](TScheduleValues& v) {
         v.Kind = skMonthly;
         v.ByDays = false;
         v.MonthWeeks = 2 | kLastWeekOfMonth;
         v.MonthWeekDays = (1 << 2) | (1 << 6); // Wednesday, Sunday
         v.Months = kAllMonths & ~(1 << 11);
       }},
      {"one time",
       [](TScheduleValues& v) {
         v.Kind = skOneTime;
         v.RandomDelay = TDelayValue{true, DelayField(5400)};
       }},
      {"logon",
       [](TScheduleValues& v) {
         v.Kind = skLogon;
         v.EventDelay = TDelayValue{true, DelayField(45)};
       }},
      {"wake-up",
       [](TScheduleValues& v) {
         v.Kind = skWakeUp;
         v.Activate = false;
         v.Query = u"<QueryList><Query Id=\"0\"><Select Path=\"System\">*</Select></Query></QueryList>"_s;
         v.EventDelay = TDelayValue{true, DelayField(7200)};
       }},
      {"advanced options",
       [](TScheduleValues& v) {
         v.Description = u"Mail of ann"_s;
         v.HighestPrivileges = true;
         v.Advanced.UseEndDate = true;
         v.Advanced.EndDate = DateTimeOf(QDate(2026, 3, 1), QTime(12, 0));
         v.Advanced.RepeatTask = true;
         v.Advanced.MinutesInterval = 30;
         v.Advanced.MinutesDuration = 240;
         v.Advanced.StopEndDuration = true;
         v.Advanced.UseLimit = true;
         v.Advanced.MinutesLimit = 90;
         v.Advanced.ReRun = true;
         v.Advanced.PowerOnly = false;
         v.Advanced.StopBattery = false;
         v.Advanced.WakeUp = true;
         v.Advanced.NetworkOnly = true;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TScheduleValues saved;
    ASSERT_EQ(Create([&](TScheduleValues& v) {
                v.StartDate = date;
                v.StartTime = time;
                c.Set(v);
                saved = v;
              }),
              srRegistered);
    const int position = FEditor.GetUserTask(paQuillbox, u"default"_s);
    ASSERT_GE(position, 1);
    FView.Edit = [](TScheduleValues&) { return false; };
    ASSERT_EQ(FEditor.Execute(position, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
    const TScheduleValues& shown = FView.Shown;
    EXPECT_EQ(shown.ScheduleLabel, u"1st  Schedule"_s);
    EXPECT_EQ(shown.Kind, saved.Kind);
    EXPECT_EQ(shown.ByDays, saved.ByDays);
    EXPECT_EQ(shown.StartDate, saved.Activate ? date : QDate(2025, 6, 2));
    EXPECT_EQ(shown.StartTime, saved.Activate ? time : QTime(10, 20));
    EXPECT_EQ(shown.Activate, saved.Activate);
    EXPECT_EQ(shown.EveryDay, saved.EveryDay);
    EXPECT_EQ(shown.DaysInterval, saved.DaysInterval);
    EXPECT_EQ(shown.WeeksInterval, saved.WeeksInterval);
    EXPECT_EQ(shown.WeekDays, saved.WeekDays);
    if (saved.Kind == skMonthly) {
      EXPECT_EQ(shown.Months, saved.Months);
      EXPECT_EQ(saved.ByDays ? shown.MonthDays : shown.MonthWeeks, saved.ByDays ? saved.MonthDays : saved.MonthWeeks);
      EXPECT_EQ(shown.MonthWeekDays, saved.MonthWeekDays);
    }
    EXPECT_EQ(shown.RandomDelay.Checked, saved.RandomDelay.Checked);
    EXPECT_EQ(shown.RandomDelay.Seconds(), saved.RandomDelay.Seconds());
    EXPECT_EQ(shown.RandomDelay.Value.Unit, saved.RandomDelay.Value.Unit);
    EXPECT_EQ(shown.EventDelay.Checked, saved.EventDelay.Checked);
    EXPECT_EQ(shown.EventDelay.Seconds(), saved.EventDelay.Seconds());
    EXPECT_EQ(shown.EventDelay.Value.Unit, saved.EventDelay.Value.Unit);
    EXPECT_EQ(shown.Query, saved.Query);
    EXPECT_EQ(shown.LogonUser, u"ann"_s);
    EXPECT_EQ(shown.Description, saved.Description);
    EXPECT_EQ(shown.HighestPrivileges, saved.HighestPrivileges);
    const TAdvancedSettings& a = shown.Advanced;
    const TAdvancedSettings& b = saved.Advanced;
    EXPECT_EQ(a.UseEndDate, b.UseEndDate);
    // An expiry is shown as the last second of its day.
    EXPECT_NEAR(a.EndDate, b.UseEndDate ? DateTimeOf(DateOf(b.EndDate), QTime(23, 59, 59)) : kNow + 366 - 1.0 / 86400,
                0.1 / 86400);
    EXPECT_EQ(a.RepeatTask, b.RepeatTask);
    EXPECT_EQ(a.MinutesInterval, b.MinutesInterval);
    EXPECT_EQ(a.MinutesDuration, b.MinutesDuration);
    EXPECT_EQ(a.StopEndDuration, b.StopEndDuration);
    EXPECT_EQ(a.UseLimit, b.UseLimit);
    EXPECT_EQ(a.MinutesLimit, b.MinutesLimit);
    EXPECT_EQ(a.ReRun, b.ReRun);
    EXPECT_EQ(a.PowerOnly, b.PowerOnly);
    EXPECT_EQ(a.StopBattery, b.StopBattery);
    EXPECT_EQ(a.WakeUp, b.WakeUp);
    EXPECT_EQ(a.NetworkOnly, b.NetworkOnly);
    ASSERT_TRUE(Folder().DeleteTask(u"Quillbox-default"_s));
  }
}

TEST_F(ScheduleEditorFlow, WithoutASchedulerNothingOpens)
{
  FEditor.InitTaskScheduler(nullptr);
  EXPECT_FALSE(FEditor.IsAvailable());
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
  EXPECT_EQ(FView.Errors, QStringList{u"Scheduled tasks are not available on this computer!"_s});
  EXPECT_EQ(FEditor.GetUserTask(paQuillbox, u"default"_s), 0);

  EXPECT_EQ(TaskSchedulerConnectionErrorText(HRESULT(0xA0001322u)),
            u"Windows Task Scheduler 2.0 is not available on Windows XP"_s);
  EXPECT_EQ(TaskSchedulerConnectionErrorText(HRESULT(0x80041315u)),
            u"Error on connecting to Windows Task Scheduler:\r\nThe Task Scheduler service is not running. "
            u"(0x80041315)"_s);
}

TEST_F(ScheduleEditorFlow, ANewDefinitionThatCannotBeMadeIsReported)
{
  FPlatform.Fail(u"NewTask"_s, E_OUTOFMEMORY, u"no room"_s);
  FView.Names = {u"Quillbox-default"_s};
  EXPECT_EQ(FEditor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srCancelled);
  EXPECT_EQ(FView.Errors, QStringList{u"Error creating new scheduled task!\r\n- no room"_s});
  EXPECT_EQ(FView.Edits, 0);
}

TEST(ScheduleFields, NumbersTakeTheUnitThatFitsThem)
{
  const struct {
    std::function<TNumberField(int)> Of;
    int Value;
    TNumberField Expected;
  } cases[] = {
      // Delays in seconds.
      {[](int s) { return DelayField(std::uint32_t(s)); }, 30, {30, duSeconds, 599, 10}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 1799, {599, duSeconds, 599, 10}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 1830, {30, duMinutes, 719, 10}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 600, {10, duMinutes, 719, 10}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 7200, {2, duHours, 24, 1}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 43230, {12, duHours, 24, 1}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 43140, {719, duMinutes, 719, 10}},
      {[](int s) { return DelayField(std::uint32_t(s)); }, 172800, {24, duHours, 24, 1}},
      // Repetition in minutes.
      {RepeatField, 60, {1, ruHours, 167, 1}},
      {RepeatField, 90, {90, ruMinutes, 1439, 10}},
      {RepeatField, 20160, {167, ruHours, 167, 1}},
      // Time limits in minutes.
      {LimitField, 4320, {3, luDays, 365, 1}},
      {LimitField, 10081, {7, luDays, 365, 1}},
      {LimitField, 1500, {25, luHours, 167, 1}},
      {LimitField, 1441, {24, luHours, 167, 1}},
      {LimitField, 90, {90, luMinutes, 1439, 10}},
      {LimitField, 120, {2, luHours, 167, 1}},
  };
  for (const auto& c : cases) {
    const TNumberField field = c.Of(c.Value);
    EXPECT_EQ(field.Number, c.Expected.Number) << c.Value;
    EXPECT_EQ(field.Unit, c.Expected.Unit) << c.Value;
    EXPECT_EQ(field.Limit, c.Expected.Limit) << c.Value;
    EXPECT_EQ(field.Step, c.Expected.Step) << c.Value;
  }
  // Picking a unit resets the number.
  const struct {
    TNumberField Picked;
    TNumberField Expected;
  } picks[] = {
      {DelayUnitPicked(duHours), {1, duHours, 24, 1}},        {DelayUnitPicked(duMinutes), {1, duMinutes, 719, 10}},
      {DelayUnitPicked(duSeconds), {30, duSeconds, 599, 10}}, {RepeatUnitPicked(ruMinutes), {30, ruMinutes, 1439, 10}},
      {RepeatUnitPicked(ruHours), {1, ruHours, 167, 1}},      {LimitUnitPicked(luDays), {3, luDays, 3650, 1}},
      {LimitUnitPicked(luHours), {6, luHours, 167, 1}},       {LimitUnitPicked(luMinutes), {30, luMinutes, 1439, 10}},
  };
  for (const auto& p : picks) {
    EXPECT_EQ(p.Picked.Number, p.Expected.Number) << p.Expected.Unit;
    EXPECT_EQ(p.Picked.Limit, p.Expected.Limit) << p.Expected.Unit;
    EXPECT_EQ(p.Picked.Step, p.Expected.Step) << p.Expected.Unit;
  }
  EXPECT_EQ(DelaySeconds({2, duHours, 24, 1}), 7200u);
  EXPECT_EQ(LimitMinutes({3, luDays, 365, 1}), 4320);
  EXPECT_EQ(RepeatMinutes({8, ruHours, 167, 1}), 480);
  EXPECT_EQ(DelayUnitTexts(), (QStringList{u"hour(s)"_s, u"minute(s)"_s, u"seconds(s)"_s}));
}

TEST(ScheduleFields, WeekdayListsAndSchedulerMasksConvertBothWays)
{
  EXPECT_EQ(WeekdayListToScheduler(1), 2) << "Monday";
  EXPECT_EQ(WeekdayListToScheduler(1 << 6), 1) << "Sunday";
  EXPECT_EQ(WeekdayListToScheduler(1 << 5), 64) << "Saturday";
  EXPECT_EQ(SchedulerToWeekdayList(1), 1 << 6);
  EXPECT_EQ(SchedulerToWeekdayList(2 | 64), 1 | (1 << 5));
  for (int mask = 0; mask < 128; ++mask)
    EXPECT_EQ(SchedulerToWeekdayList(WeekdayListToScheduler(mask)), mask) << mask;
  EXPECT_EQ(WeekdayBoxBit(0), kSchedMonday);
  EXPECT_EQ(WeekdayBoxBit(6), kSchedSunday);
  EXPECT_EQ(KeepOneWeekday(0), kSchedMonday);
  EXPECT_EQ(KeepOneWeekday(kSchedSunday), kSchedSunday);
  EXPECT_EQ(KeepOneMonth(0), 1);
  EXPECT_EQ(KeepOneMonth(1 << 11), 1 << 11);

  const QString query = DefaultWakeUpQuery();
  EXPECT_TRUE(QueryForEditing(query).startsWith(u"<QueryList>\n<Query Id=\"0\" Path=\"System\">\n<Select"_s));
  EXPECT_EQ(QueryFromEditing(QueryForEditing(query).replace(u"\n"_s, u"\r\n"_s)), query);
}

TEST(ScheduleFields, TheAdvancedDialogShowsAnExpiryThatIsOffAYearAhead)
{
  TAdvancedSettings settings = TAdvancedSettings::Defaults(kNow);
  TAdvancedFields fields = AdvancedFieldsOf(settings, QDate(2024, 2, 10));
  EXPECT_FALSE(fields.Expire);
  EXPECT_EQ(fields.ExpireDate, QDate(2025, 2, 10)) << "366 days in a leap year";
  EXPECT_EQ(fields.ExpireTime, QTime(12, 0));
  EXPECT_EQ(AdvancedFieldsOf(settings, QDate(2025, 2, 10)).ExpireDate, QDate(2026, 2, 10));
  EXPECT_EQ(fields.Interval.Number, 1);
  EXPECT_EQ(fields.Duration.Number, 8);
  EXPECT_EQ(fields.LimitValue.Number, 3);

  settings.PowerOnly = false;
  fields = AdvancedFieldsOf(settings, QDate(2025, 2, 10));
  EXPECT_FALSE(fields.StopBattery) << "shown unchecked while disabled";
  fields.Expire = true;
  fields.ExpireTime = QTime(7, 30, 45);
  fields.Interval = {15, ruMinutes, 1439, 10};
  ApplyAdvancedFields(fields, settings);
  EXPECT_TRUE(settings.UseEndDate);
  EXPECT_EQ(settings.EndDate, DateTimeOf(QDate(2026, 2, 10), QTime(7, 30)));
  EXPECT_EQ(settings.MinutesInterval, 15);
  EXPECT_FALSE(settings.StopBattery);
}

// The systemd backend turns down a user given with a password before it
// writes anything; the user can choose the logged-on user instead.
TEST(ScheduleEditorOnSystemd, AUserWithAPasswordIsRefusedForARetry)
{
  TempDir root;
  TSystemdPaths paths;
  paths.TasksDir = root.File(u"data/ardanto/tasks"_s);
  paths.UnitDir = root.File(u"config/systemd/user"_s);
  paths.StateDir = root.File(u"state/ardanto/tasks"_s);
  paths.Guard = QCoreApplication::applicationDirPath() + u"/ardanto-schedule-guard"_s;
  paths.Systemctl = SourceDir() + u"/tests/scheduler/fake-systemctl"_s;
  ScopedEnv log("FAKE_SYSTEMCTL_LOG", root.File(u"systemctl.log"_s).toUtf8());
  TSystemdTaskPlatform platform(paths);
  ScopedTaskPlatform scoped(&platform);
  std::unique_ptr<TWinTaskScheduler> scheduler;
  ASSERT_EQ(ConnectTaskScheduler(scheduler), S_OK);

  TFakeView view;
  TScheduleEditor editor(view, TestEnvironment());
  editor.InitTaskScheduler(scheduler.get());
  view.Names = {u"Quillbox-default"_s};
  view.Edit = [](TScheduleValues& v) {
    v.LoggedOnUser = false;
    v.Password = u"secret"_s;
    return true;
  };
  EXPECT_EQ(editor.Execute(-1, paQuillbox, QString(), u"default"_s, kOptions, false), srRetry);
  ASSERT_EQ(view.Errors.size(), 1);
  EXPECT_EQ(view.Errors[0], u"Could not create or modify scheduled task!\r\nThe parameter is incorrect. (0x80070057) - "
                            u"A task cannot run as a user given with a password here: the user's own service manager "
                            u"runs it. Choose \"As logged-on user\"."_s);
  EXPECT_FALSE(QDir(paths.UnitDir).exists() && !QDir(paths.UnitDir).isEmpty());
  EXPECT_EQ(scheduler->TaskFolder()->TaskCount(), 0);
}

} // namespace
