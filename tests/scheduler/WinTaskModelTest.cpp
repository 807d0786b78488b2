// The object model on the in-memory scheduler: connecting, folders, tasks,
// definitions with their actions, triggers and settings.

#include "scheduler/WinTask.h"
#include "scheduler/backends/memory/MemoryTaskPlatform.h"

#include "SchedulerTestSupport.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

class WinTaskModel : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(ConnectTaskScheduler(FScheduler), S_OK); }

  TWinTaskFolder& Folder() { return *FScheduler->TaskFolder(); }

  // A definition as the schedule wizard makes one: one program, one daily trigger.
  std::unique_ptr<TWinTask> NewBackupTask(const QString& program = u"/usr/bin/quillbox"_s)
  {
    auto task = FScheduler->NewTask();
    task->SetDescription(u"This task was created by Ardanto"_s);
    task->SetUserData(u"Quillbox-default"_s);
    task->SetLogonType(ltToken);
    TWinTaskAction* action = task->NewAction(taExec);
    action->SetPath(program);
    action->SetArguments(u"default /prompt:quiet /force"_s);
    TWinTaskTrigger* trigger = task->NewTrigger(ttDaily);
    trigger->SetDaysInterval(1);
    return task;
  }

  TMemoryTaskPlatform FPlatform;
  ScopedTaskPlatform FScoped{&FPlatform};
  std::unique_ptr<TWinTaskScheduler> FScheduler;
};

TEST(ConnectTaskScheduler, ReportsAMissingSchedulerWithoutAnObject)
{
  TMemoryTaskPlatform platform;
  platform.Running = false;
  ScopedTaskPlatform scoped(&platform);
  std::unique_ptr<TWinTaskScheduler> scheduler;
  EXPECT_EQ(ConnectTaskScheduler(scheduler), HRESULT(0x80041315u));
  EXPECT_EQ(scheduler, nullptr);
  EXPECT_FALSE(TWinTaskScheduler::IsRunning());
}

TEST(ConnectTaskScheduler, ReturnsTheCodeOfTheStepThatFailed)
{
  const struct {
    const char* Operation;
    HRESULT Code;
  } cases[] = {{"CreateService", E_OUTOFMEMORY}, {"Connect", E_ACCESSDENIED}, {"GetFolder", E_PATH_NOT_FOUND}};
  for (const auto& c : cases) {
    TMemoryTaskPlatform platform;
    platform.Fail(QString::fromLatin1(c.Operation), c.Code, u"refused"_s);
    ScopedTaskPlatform scoped(&platform);
    std::unique_ptr<TWinTaskScheduler> scheduler;
    EXPECT_EQ(ConnectTaskScheduler(scheduler), c.Code) << c.Operation;
    ASSERT_NE(scheduler, nullptr) << "handed out even when its start failed";
    EXPECT_EQ(scheduler->TaskFolder(), nullptr) << c.Operation;
  }
}

TEST_F(WinTaskModel, TheRootFolderHasNoNameButTheBackslashPath)
{
  EXPECT_EQ(FScheduler->Path(), u"\\"_s);
  EXPECT_EQ(Folder().FolderName(), QString());
  EXPECT_EQ(Folder().FolderPath(), u"\\"_s);
  EXPECT_EQ(Folder().TaskCount(), 0);
  EXPECT_EQ(FScheduler->NewTask()->Settings()->Compatibility(), tcWin10);
}

TEST_F(WinTaskModel, RegisteredTasksAreFoundByNameInAnyCaseAndReadBackWhole)
{
  auto task = NewBackupTask();
  const int index = Folder().RegisterTask(u"Backup-Default"_s, *task, QString(), QString());
  ASSERT_EQ(index, 0) << Folder().ErrorMessage().toStdString();
  EXPECT_EQ(Folder().IndexOfTask(u"backup-default"_s), 0);
  EXPECT_EQ(Folder().IndexOfTask(u"BACKUP-DEFAULT"_s), 0);
  EXPECT_EQ(Folder().IndexOfTask(u"Backup"_s), -1);

  TWinRegisteredTask* registered = Folder().GetTask(0);
  EXPECT_EQ(registered->TaskName(), u"Backup-Default"_s);
  EXPECT_EQ(registered->TaskIndex(), 0);
  EXPECT_EQ(registered->Path(), u"\\Backup-Default"_s);
  TWinTask* definition = registered->Definition();
  EXPECT_EQ(definition->UserData(), u"Quillbox-default"_s);
  EXPECT_EQ(definition->Description(), u"This task was created by Ardanto"_s);
  EXPECT_EQ(definition->LogonType(), ltToken);
  ASSERT_EQ(definition->ActionCount(), 1);
  EXPECT_EQ(definition->GetAction(0)->Path(), u"/usr/bin/quillbox"_s);
  EXPECT_EQ(definition->GetAction(0)->Arguments(), u"default /prompt:quiet /force"_s);
  ASSERT_EQ(definition->TriggerCount(), 1);
  EXPECT_EQ(definition->GetTrigger(0)->TriggerType(), ttDaily);
  EXPECT_EQ(registered->IndexOfApp(u"QUILLBOX"_s), 0);

  // Registering copies: the caller's definition changes nothing registered.
  task->SetDescription(u"changed"_s);
  EXPECT_EQ(Folder().GetTask(0)->Definition()->Description(), u"This task was created by Ardanto"_s);
  // Registering again under the name updates the same task.
  ASSERT_EQ(Folder().RegisterTask(u"backup-default"_s, *task, QString(), QString()), 0);
  EXPECT_EQ(Folder().TaskCount(), 1);
  EXPECT_EQ(Folder().GetTask(0)->Definition()->Description(), u"changed"_s);
}

TEST_F(WinTaskModel, RegisterTaskDropsCredentialsTheLogonTypeDoesNotUse)
{
  const struct {
    TLogonType Logon;
    const char* User;
    const char* Password;
  } cases[] = {
      {ltToken, "", ""},
      {ltService, "HOST\\ann", ""},
      {ltPassword, "HOST\\ann", "secret"},
      {ltS4U, "HOST\\ann", "secret"},
  };
  for (const auto& c : cases) {
    auto task = NewBackupTask();
    task->SetLogonType(c.Logon);
    FPlatform.Registrations.clear();
    ASSERT_GE(Folder().RegisterTask(u"Backup"_s, *task, u"HOST\\ann"_s, u"secret"_s), 0);
    ASSERT_EQ(FPlatform.Registrations.size(), 1);
    const TMemoryRegistration& registration = FPlatform.Registrations.first();
    EXPECT_EQ(registration.UserId, QString::fromLatin1(c.User)) << c.Logon;
    EXPECT_EQ(registration.Password, QString::fromLatin1(c.Password)) << c.Logon;
    EXPECT_EQ(registration.LogonType, int(c.Logon));
    EXPECT_EQ(registration.Flags, 6) << "create or update";
  }
}

TEST_F(WinTaskModel, FolderOperationsReportFailuresInTheErrorFields)
{
  auto task = NewBackupTask();
  FPlatform.Fail(u"Register"_s, HRESULT(0x8007052Eu), u"The user name or password is incorrect."_s);
  EXPECT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), -1);
  EXPECT_EQ(Folder().ErrorCode(), HRESULT(0x8007052Eu));
  EXPECT_EQ(Folder().ErrorMessage(), u"The user name or password is incorrect."_s);
  FPlatform.ClearFailures();
  ASSERT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0);
  EXPECT_EQ(Folder().ErrorCode(), S_OK) << "cleared by the next call";
  EXPECT_EQ(Folder().ErrorMessage(), QString());

  EXPECT_FALSE(Folder().DeleteTask(u"Other"_s));
  EXPECT_EQ(Folder().ErrorCode(), E_FILE_NOT_FOUND);
  EXPECT_EQ(Folder().TaskCount(), 1);

  // The deletion itself works, but the refresh after it does not.
  FPlatform.Fail(u"GetTasks"_s, E_ACCESSDENIED, u"refused"_s);
  EXPECT_FALSE(Folder().DeleteTask(u"Backup"_s));
  EXPECT_EQ(FPlatform.Task(u"\\Backup"_s), nullptr);
  EXPECT_EQ(Folder().ErrorCode(), E_ACCESSDENIED);
  FPlatform.ClearFailures();
  EXPECT_EQ(Folder().Refresh(), S_OK);
  EXPECT_EQ(Folder().TaskCount(), 0);
}

TEST_F(WinTaskModel, SubfoldersAreCreatedOpenedAndDeletedWhenEmpty)
{
  EXPECT_EQ(Folder().CreateFolder(u"Mail"_s), 0);
  EXPECT_EQ(Folder().CreateFolder(u"Archive"_s), 0) << "listed by name";
  EXPECT_EQ(Folder().IndexOfFolder(u"mail"_s), 1);
  EXPECT_EQ(Folder().FolderCount(), 2);
  EXPECT_EQ(Folder().GetFolder(1)->Path(), u"\\Mail"_s);
  EXPECT_EQ(Folder().CreateFolder(u"MAIL"_s), -1);
  EXPECT_EQ(Folder().ErrorCode(), E_ALREADY_EXISTS);

  ASSERT_EQ(FScheduler->SetPath(u"\\Mail"_s), S_OK);
  EXPECT_EQ(Folder().FolderName(), u"Mail"_s);
  EXPECT_EQ(Folder().FolderPath(), u"\\Mail"_s);
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0);
  EXPECT_EQ(Folder().GetTask(0)->Path(), u"\\Mail\\Backup"_s);

  ASSERT_EQ(FScheduler->SetPath(u"\\"_s), S_OK);
  EXPECT_FALSE(Folder().DeleteFolder(u"Mail"_s));
  EXPECT_EQ(Folder().ErrorCode(), E_DIR_NOT_EMPTY);
  EXPECT_TRUE(Folder().DeleteFolder(u"Archive"_s));
  EXPECT_EQ(Folder().FolderCount(), 1);

  EXPECT_EQ(FScheduler->SetPath(u"\\Nowhere"_s), E_PATH_NOT_FOUND);
  EXPECT_EQ(FScheduler->TaskFolder(), nullptr);
}

TEST_F(WinTaskModel, HiddenTasksAreNotListed)
{
  auto task = NewBackupTask();
  task->Settings()->SetHidden(true);
  EXPECT_EQ(Folder().RegisterTask(u"Hidden"_s, *task, QString(), QString()), -1) << "not found after the refresh";
  EXPECT_EQ(Folder().ErrorCode(), S_OK);
  EXPECT_NE(FPlatform.Task(u"\\Hidden"_s), nullptr);
  EXPECT_EQ(Folder().TaskCount(), 0);
}

TEST_F(WinTaskModel, ARefreshReplacesEveryTaskObject)
{
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"B"_s, *task, QString(), QString()), 0);
  ASSERT_EQ(Folder().RegisterTask(u"A"_s, *task, QString(), QString()), 0);
  ASSERT_EQ(Folder().TaskCount(), 2);
  FPlatform.Task(u"\\B"_s)->LastResult = 0x41301;
  ASSERT_EQ(Folder().Refresh(), S_OK);
  ASSERT_EQ(Folder().TaskCount(), 2);
  EXPECT_EQ(Folder().GetTask(0)->TaskName(), u"A"_s);
  EXPECT_EQ(Folder().GetTask(1)->TaskIndex(), 1);
  EXPECT_EQ(Folder().GetTask(1)->LastResult(), 0x41301);
  // The caller's own definition outlives every refresh and registers again.
  task->SetDescription(u"after the refreshes"_s);
  ASSERT_EQ(Folder().RegisterTask(u"C"_s, *task, QString(), QString()), 2);
  EXPECT_EQ(Folder().GetTask(2)->Definition()->Description(), u"after the refreshes"_s);

  // An enumeration that fails lists nothing past the failure, and says so.
  FPlatform.Fail(u"GetTask"_s, E_ACCESSDENIED, u"unreadable"_s);
  EXPECT_EQ(Folder().Refresh(), E_ACCESSDENIED);
  EXPECT_EQ(Folder().ErrorMessage(), u"unreadable"_s);
  EXPECT_EQ(Folder().TaskCount(), 0) << "the count covers what was listed";
}

TEST_F(WinTaskModel, RegisteredTasksRunStopAndSwitchOnAndOff)
{
  auto task = NewBackupTask();
  ASSERT_EQ(Folder().RegisterTask(u"Backup"_s, *task, QString(), QString()), 0);
  TWinRegisteredTask* registered = Folder().GetTask(0);
  EXPECT_EQ(registered->Status(), tsReady);
  EXPECT_EQ(registered->LastRunTimeAsString(), QString()) << "never ran";
  EXPECT_EQ(registered->LastResult(), SCHED_S_TASK_HAS_NOT_RUN);
  registered->SetEnabled(false);
  EXPECT_FALSE(registered->Enabled());
  EXPECT_EQ(registered->Status(), tsDisabled);
  EXPECT_EQ(registered->StatusAsString(), u"Disabled"_s);
  registered->SetEnabled(true);
  registered->Run();
  registered->Stop();
  const TMemoryTaskData* data = FPlatform.Task(u"\\Backup"_s);
  EXPECT_EQ(data->Runs, 1);
  EXPECT_EQ(data->Stops, 1);
  EXPECT_GT(registered->LastRunTime(), DateTimeNow() - 1.0 / 24);
  EXPECT_EQ(registered->LastResult(), S_OK);

  FPlatform.Fail(u"Run"_s, E_ACCESSDENIED, u"refused"_s);
  try {
    registered->Run();
    ADD_FAILURE() << "a failed start passes on";
  } catch (const ETaskSchedulerError& error) {
    EXPECT_EQ(error.Code(), E_ACCESSDENIED);
  }
}

TEST_F(WinTaskModel, DeleteTriggerIgnoresPositionsOutsideTheList)
{
  auto task = FScheduler->NewTask();
  task->NewTrigger(ttDaily);
  task->NewTrigger(ttWeekly);
  const QString before = task->XmlText();
  EXPECT_TRUE(task->DeleteTrigger(-1));
  EXPECT_TRUE(task->DeleteTrigger(task->TriggerCount()));
  EXPECT_EQ(task->TriggerCount(), 2);
  EXPECT_EQ(task->XmlText(), before);

  EXPECT_TRUE(task->DeleteTrigger(0));
  ASSERT_EQ(task->TriggerCount(), 1);
  EXPECT_EQ(task->GetTrigger(0)->TriggerType(), ttWeekly);
  const auto platformTriggers = task->Definition()->Triggers();
  ASSERT_EQ(platformTriggers->Count(), 1) << "removed from the definition itself";
  EXPECT_EQ(platformTriggers->Item(1)->Type(), TASK_TRIGGER_WEEKLY);

  task->NewAction(taExec);
  task->NewAction(taMessage);
  EXPECT_TRUE(task->DeleteAction(5));
  EXPECT_TRUE(task->DeleteAction(0));
  ASSERT_EQ(task->ActionCount(), 1);
  EXPECT_EQ(task->GetAction(0)->ActionType(), taMessage);
}

TEST_F(WinTaskModel, NewTriggersStartNowAndLogonTriggersNameTheUser)
{
  auto task = FScheduler->NewTask();
  task->SetUserId(u"HOST\\ann"_s);
  const TDateTime before = DateTimeNow() - 1.0 / 86400;
  TWinTaskTrigger* daily = task->NewTrigger(ttDaily);
  EXPECT_GE(daily->StartTime(), before);
  EXPECT_LE(daily->StartTime(), DateTimeNow());
  EXPECT_EQ(daily->LogonUserId(), QString());
  TWinTaskTrigger* logon = task->NewTrigger(ttLogon);
  EXPECT_EQ(logon->LogonUserId(), u"HOST\\ann"_s);
  EXPECT_EQ(logon->TriggerTypeAsString(), u"At log on"_s);
}

TEST_F(WinTaskModel, TriggerPropertiesServeTheirKindsAndIgnoreValuesOutOfRange)
{
  auto task = FScheduler->NewTask();
  TWinTaskTrigger* daily = task->NewTrigger(ttDaily);
  TWinTaskTrigger* weekly = task->NewTrigger(ttWeekly);
  TWinTaskTrigger* monthly = task->NewTrigger(ttMonthly);
  TWinTaskTrigger* byWeekday = task->NewTrigger(ttMonthlyDow);
  TWinTaskTrigger* logon = task->NewTrigger(ttLogon);
  TWinTaskTrigger* event = task->NewTrigger(ttEvent);
  const QString start = task->XmlText();

  // Properties of other kinds: reads give nothing, writes change nothing.
  daily->SetDaysOfWeek(2);
  daily->SetMonthsOfYear(1);
  daily->SetDelay(30);
  weekly->SetDaysInterval(3);
  monthly->SetWeeksOfMonth(1);
  byWeekday->SetDaysOfMonth(1);
  logon->SetRandomDelay(30);
  event->SetLogonUserId(u"x"_s);
  daily->SetSubscription(u"<QueryList/>"_s);
  EXPECT_EQ(task->XmlText(), start);
  EXPECT_EQ(daily->DaysOfWeek(), 0);
  EXPECT_EQ(weekly->DaysInterval(), 0);
  EXPECT_EQ(logon->RandomDelay(), 0u);

  // Masks and intervals outside their ranges are ignored too.
  daily->SetDaysInterval(0);
  weekly->SetWeeksInterval(0);
  weekly->SetDaysOfWeek(0);
  weekly->SetDaysOfWeek(128);
  monthly->SetDaysOfMonth(0);
  monthly->SetMonthsOfYear(0);
  monthly->SetMonthsOfYear(4096);
  byWeekday->SetWeeksOfMonth(0);
  byWeekday->SetWeeksOfMonth(32);
  EXPECT_EQ(task->XmlText(), start);

  daily->SetDaysInterval(3);
  weekly->SetWeeksInterval(2);
  weekly->SetDaysOfWeek(127);
  monthly->SetDaysOfMonth(0x80000001u); // day 1 and the last day
  monthly->SetMonthsOfYear(4095);
  byWeekday->SetWeeksOfMonth(31); // every week and the last
  byWeekday->SetDaysOfWeek(2);
  logon->SetDelay(90);
  event->SetDelay(30);
  EXPECT_EQ(daily->DaysInterval(), 3);
  EXPECT_EQ(weekly->WeeksInterval(), 2);
  EXPECT_EQ(weekly->DaysOfWeek(), 127);
  EXPECT_EQ(monthly->DaysOfMonth(), 0x80000001u);
  EXPECT_TRUE(monthly->RunOnLastDayOfMonth());
  EXPECT_EQ(monthly->MonthsOfYear(), 4095);
  EXPECT_EQ(byWeekday->WeeksOfMonth(), 31) << "the last week reads as 16";
  EXPECT_TRUE(byWeekday->RunOnLastWeekOfMonth());
  EXPECT_EQ(logon->Delay(), 90u);
  EXPECT_EQ(event->Delay(), 30u);
  EXPECT_TRUE(task->XmlText().contains(u"<Day>Last</Day>"_s));
  EXPECT_TRUE(task->XmlText().contains(u"<Week>Last</Week>"_s));

  // Every kind: repetition, limit, boundaries.
  event->SetInterval(3600);
  event->SetDuration(8 * 3600);
  event->SetExecutionTimeLimit(4320 * 60);
  event->SetEnabled(false);
  EXPECT_EQ(event->Interval(), 3600u);
  EXPECT_EQ(event->Duration(), 28800u);
  EXPECT_EQ(event->ExecutionTimeLimit(), 259200u);
  EXPECT_FALSE(event->Enabled());
  event->SetInterval(0);
  EXPECT_EQ(event->Interval(), 0u);
}

TEST_F(WinTaskModel, ABoundaryReadWithAZoneIsWrittenWithTheMachinesOffset)
{
  ScopedTimeZone zone("Asia/Kolkata");
  auto task = FScheduler->NewTask();
  task->SetXmlText(uR"(<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <Triggers>
    <TimeTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary></TimeTrigger>
    <TimeTrigger><StartBoundary>2024-03-01T08:15:00+01:00</StartBoundary></TimeTrigger>
    <TimeTrigger><StartBoundary>tomorrow</StartBoundary></TimeTrigger>
  </Triggers></Task>)"_s);
  ASSERT_EQ(task->TriggerCount(), 3);
  TWinTaskTrigger* plain = task->GetTrigger(0);
  TWinTaskTrigger* zoned = task->GetTrigger(1);
  const TDateTime expected = DateTimeFromQDateTime(QDateTime(QDate(2024, 3, 1), QTime(8, 15)));
  EXPECT_DOUBLE_EQ(plain->StartTime(), expected);
  EXPECT_FALSE(plain->UseTimeZone());
  EXPECT_DOUBLE_EQ(zoned->StartTime(), expected);
  EXPECT_TRUE(zoned->UseTimeZone());
  EXPECT_EQ(task->GetTrigger(2)->StartTime(), 0.0) << "unreadable boundaries read as no date";

  zoned->SetStartTime(zoned->StartTime());
  EXPECT_EQ(zoned->TaskTrigger()->StartBoundary(), u"2024-03-01T08:15:00+05:30"_s);
  zoned->SetEndTime(0);
  EXPECT_EQ(zoned->TaskTrigger()->EndBoundary(), QString());
}

TEST_F(WinTaskModel, SettingsConvertTheirUnits)
{
  auto task = FScheduler->NewTask();
  TWinTaskSettings* settings = task->Settings();
  const auto platform = task->Definition()->Settings();
  const struct {
    int Hours;
    const char* Text;
    int ReadBack;
  } expiry[] = {{0, "PT0S", 0}, {-5, "", -1}, {48, "P2D", 48}, {5, "PT5H", 5}};
  for (const auto& c : expiry) {
    settings->SetDeleteExpiredTaskAfter(c.Hours);
    EXPECT_EQ(platform->Text(u"DeleteExpiredTaskAfter"_s), QString::fromLatin1(c.Text)) << c.Hours;
    EXPECT_EQ(settings->DeleteExpiredTaskAfter(), c.ReadBack) << c.Hours;
  }
  EXPECT_EQ(settings->ExecutionTimeLimit(), 72u) << "a new task's limit";
  settings->SetExecutionTimeLimit(0);
  EXPECT_EQ(platform->Text(u"ExecutionTimeLimit"_s), QString());
  EXPECT_EQ(settings->ExecutionTimeLimit(), 0u);
  settings->SetRestartInterval(5);
  settings->SetRestartCount(3);
  EXPECT_EQ(platform->RestartOnFailure()->Text(u"Interval"_s), u"PT5M"_s);
  EXPECT_EQ(settings->RestartInterval(), 5u);
  EXPECT_EQ(settings->RestartCount(), 3u);
  settings->IdleSettings()->SetIdleDuration(600);
  EXPECT_EQ(settings->IdleSettings()->IdleDuration(), 600u);
  for (int p = tpIdle; p <= tpTimeCritical; ++p) {
    settings->SetPriority(TWinTaskPriority(p));
    EXPECT_EQ(settings->Priority(), TWinTaskPriority(p));
  }
  settings->SetMultipleInstances(miQueue);
  EXPECT_EQ(platform->Text(u"MultipleInstancesPolicy"_s), u"Queue"_s);
  settings->SetCompatibility(tcVista);
  EXPECT_EQ(task->CompatibilityAsString(), u"Windows Vista"_s);
  EXPECT_TRUE(task->XmlText().contains(u"version=\"1.2\""_s));
  // The defaults of a new definition.
  EXPECT_TRUE(settings->DisallowOnBatteries());
  EXPECT_TRUE(settings->StopOnBatteries());
  EXPECT_TRUE(settings->AllowDemandStart());
  EXPECT_FALSE(settings->RunIfMissed());
  EXPECT_FALSE(settings->WakeToRun());
  EXPECT_EQ(settings->MultipleInstances(), miQueue);

  task->SetHighestRunLevel(true);
  EXPECT_TRUE(task->HighestRunLevel());
  EXPECT_EQ(task->Definition()->Principal()->RunLevel(), 1);
  task->SetDate(DateTimeFromQDateTime(QDateTime(QDate(2024, 3, 1), QTime(8, 15))));
  EXPECT_EQ(task->Definition()->RegistrationInfo()->Text(u"Date"_s), u"2024-03-01T08:15:00"_s);
}

TEST_F(WinTaskModel, ProgramActionsAreFoundByTheEndOfTheirPath)
{
  auto task = FScheduler->NewTask();
  task->NewAction(taMessage);
  task->NewAction(taExec)->SetPath(u"\"/opt/Ardanto 6/Quillbox\""_s);
  task->NewAction(taExec)->SetPath(u"/usr/bin/other"_s);
  EXPECT_EQ(task->SelectedAction(), 2);
  EXPECT_EQ(task->GetAction(0)->Path(), QString()) << "only program actions have a path";
  EXPECT_EQ(task->GetAction(1)->Path(), u"/opt/Ardanto 6/Quillbox"_s);
  EXPECT_EQ(task->IndexOfApp(u"quillbox"_s), 1);
  EXPECT_EQ(task->SelectedAction(), 1);
  EXPECT_EQ(task->IndexOfApp(u"Ardanto 6/QUILLBOX"_s), 1);
  EXPECT_EQ(task->IndexOfApp(u"/usr/bin/other"_s), 2);
  EXPECT_EQ(task->IndexOfApp(u"x/usr/bin/other"_s), -1) << "longer than the path";
  EXPECT_EQ(task->SelectedAction(), -1);
  EXPECT_EQ(task->IndexOfNextExecAction(0), 1);
  EXPECT_EQ(task->IndexOfNextExecAction(2), 2);
  EXPECT_EQ(task->IndexOfNextExecAction(3), -1);
}

TEST_F(WinTaskModel, WritingTheXmlReplacesTheDefinitionOrNothing)
{
  auto task = NewBackupTask();
  const QString original = task->XmlText();
  try {
    task->SetXmlText(u"<Task><Triggers>"_s);
    ADD_FAILURE() << "malformed XML is refused";
  } catch (const ETaskSchedulerError& error) {
    EXPECT_EQ(error.Code(), SCHED_E_MALFORMEDXML);
    EXPECT_TRUE(error.Message().contains(u"line"_s)) << error.Message().toStdString();
  }
  EXPECT_THROW(task->SetXmlText(u"<Other/>"_s), ETaskSchedulerError);
  EXPECT_EQ(task->XmlText(), original);

  TWinTaskSettings* settings = task->Settings();
  task->SetXmlText(uR"(<Task><Triggers><BootTrigger/><LogonTrigger/></Triggers>
    <Settings><Hidden>true</Hidden></Settings><Actions/></Task>)"_s);
  EXPECT_EQ(task->ActionCount(), 0);
  ASSERT_EQ(task->TriggerCount(), 2);
  EXPECT_EQ(task->GetTrigger(0)->TriggerTypeAsString(), u"At startup"_s);
  EXPECT_TRUE(settings->Hidden()) << "the settings object reads the new definition";
}

} // namespace
