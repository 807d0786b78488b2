#pragma once

// The task scheduler object model: the scheduler, its folders, registered
// tasks and task definitions with their actions, triggers and settings. Each
// wrapper holds one counted reference to its platform object (TaskPlatform.h)
// and reads and writes it directly; nothing is stored until a definition is
// registered through TWinTaskFolder::RegisterTask. Also the codecs between
// the scheduler's texts (ISO 8601 durations, boundary texts) and seconds and
// local date-times, and the display texts of states, kinds and levels.
//
// Ownership runs down the tree, and a folder refresh replaces every task
// below it: keep no TWinRegisteredTask, TWinTask taken from one, or any of
// their actions and triggers across TWinTaskScheduler::Refresh,
// TWinTaskFolder::Refresh, RegisterTask, DeleteTask, CreateFolder or
// DeleteFolder.

#include "common/DateTimeUtils.h"
#include "common/HResult.h"
#include "scheduler/TaskPlatform.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace ardanto {

enum TWinTaskStatus : int { tsUnknown, tsReady, tsQueued, tsRunning, tsDisabled };
enum TWinTaskCompatibility : int { tcAT, tcXP, tcVista, tcWin7, tcWin10 };
enum TMultipleInstances : int { miParallel, miQueue, miIgnoreNew, miStopExisting };
enum TWinTaskActionType : int { taExec, taCom, taMail, taMessage };
enum TWinTaskTriggerType : int {
  ttEvent,
  ttTime,
  ttDaily,
  ttWeekly,
  ttMonthly,
  ttMonthlyDow,
  ttIdle,
  ttRegistration,
  ttBoot,
  ttLogon,
  ttSessionStateChange,
  ttCustom
};
enum TLogonType : int { ltNone, ltPassword, ltS4U, ltToken, ltGroup, ltService, ltTokenPassword };
enum TWinTaskPriority : int { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The scheduler's numbers for the enumerations, and back (unknown numbers
// give the fallback of each type).
int StatusFromPlatform(int state); // -> TWinTaskStatus
int CompatibilityToPlatform(TWinTaskCompatibility value);
TWinTaskCompatibility CompatibilityFromPlatform(int value);
int MultipleInstancesToPlatform(TMultipleInstances value);
TMultipleInstances MultipleInstancesFromPlatform(int value);
int ActionTypeToPlatform(TWinTaskActionType value);
TWinTaskActionType ActionTypeFromPlatform(int value);
int TriggerTypeToPlatform(TWinTaskTriggerType value);
TWinTaskTriggerType TriggerTypeFromPlatform(int value);
int LogonTypeToPlatform(TLogonType value);
TLogonType LogonTypeFromPlatform(int value);
int PriorityToPlatform(TWinTaskPriority value);
TWinTaskPriority PriorityFromPlatform(int value);

// Display texts, translated.
QString StatusText(TWinTaskStatus value);
QString ActionTypeText(TWinTaskActionType value);
QString TriggerTypeText(TWinTaskTriggerType value);
QString CompatibilityText(TWinTaskCompatibility value);

// "PT1H30M" -> 5400, "P3D" -> 259200; anything not beginning with "P" -> 0.
std::uint32_t DurationToSeconds(const QString& text);
// 0 -> "", 3661 -> "PT1H1M1S", 90000 -> "P1D" (a remainder of whole days is dropped).
QString SecondsToDuration(std::uint32_t seconds);
// "2024-03-01T08:15:00+01:00" -> 1 March 2024 08:15 with useTimeZone true
// (the offset itself is not applied); "" or no valid date-time -> 0, false.
TDateTime TaskTimeToDateTime(const QString& text, bool& useTimeZone);
TDateTime TaskTimeToDateTime(const QString& text);
// "yyyy-mm-ddThh:nn:ss", with the machine's current UTC offset ("Z" or
// "+hh:nn") when useTimeZone is set; "" below 1.0 (no date).
QString DateTimeToTaskTime(TDateTime value, bool useTimeZone);
// The locale's short date and time; "" before 1 January 2000, the
// scheduler's "never".
QString TaskDateToText(TDateTime value);

// The compatibility level a new task gets on an operating system of this
// kind and version; DefaultCompatibility() for the running one. Linux is
// taken for the newest line the scheduler knows.
TWinTaskCompatibility DefaultCompatibility(bool ntLine, int majorVersion, int minorVersion);
TWinTaskCompatibility DefaultCompatibility();

// An action's program path without its enclosing double quotes.
QString DequoteTaskPath(const QString& path);

class TWinTask;
class TWinTaskFolder;

// Status codes of ConnectTaskScheduler besides the platform's own.
constexpr HRESULT kSchedulerNotOnXP = static_cast<HRESULT>(0xA0001322u);
constexpr HRESULT kSchedulerNotRunning = scheduler::SCHED_E_SERVICE_NOT_RUNNING;

class TWinTaskScheduler {
public:
  TWinTaskScheduler();
  ~TWinTaskScheduler();
  TWinTaskScheduler(const TWinTaskScheduler&) = delete;
  TWinTaskScheduler& operator=(const TWinTaskScheduler&) = delete;

  HRESULT Init();
  // Replaces TaskFolder by a fresh one of Path; TaskFolder is null after a failure.
  HRESULT Refresh();
  // A new, empty definition with the default compatibility; the caller owns it.
  std::unique_ptr<TWinTask> NewTask();
  static bool IsRunning();

  const QString& Path() const { return FFolder; }
  HRESULT SetPath(const QString& path);
  TWinTaskFolder* TaskFolder() const { return FTaskFolder.get(); }

private:
  std::shared_ptr<scheduler::TSchedService> pService;
  QString FFolder;
  std::unique_ptr<TWinTaskFolder> FTaskFolder;
  HRESULT FResult = S_OK;
};

// Creates the program's scheduler object (handed out in scheduler) and returns
// its status: kSchedulerNotRunning, without an object, when no scheduler answers.
HRESULT ConnectTaskScheduler(std::unique_ptr<TWinTaskScheduler>& scheduler);

class TWinTaskAction {
public:
  explicit TWinTaskAction(std::shared_ptr<scheduler::TSchedAction> action);

  TWinTaskActionType ActionType() const { return FActionType; }
  QString ActionTypeAsString() const;
  QString Id() const;
  void SetId(const QString& value);
  const std::shared_ptr<scheduler::TSchedAction>& TaskAction() const { return pAction; }
  // Actions that start a program; other kinds read empty and ignore writes.
  QString Path() const; // without enclosing double quotes
  void SetPath(const QString& value);
  QString Arguments() const;
  void SetArguments(const QString& value);
  QString WorkingDirectory() const;
  void SetWorkingDirectory(const QString& value);

private:
  QString ExecField(const QString& name) const;
  void SetExecField(const QString& name, const QString& value);

  std::shared_ptr<scheduler::TSchedAction> pAction;
  TWinTaskActionType FActionType;
};

class TWinTaskTrigger {
public:
  TWinTaskTrigger();

  void SetTaskTrigger(std::shared_ptr<scheduler::TSchedTrigger> value);
  void SetToDefault(const QString& userId);
  const std::shared_ptr<scheduler::TSchedTrigger>& TaskTrigger() const { return pTrigger; }

  TWinTaskTriggerType TriggerType() const; // from the platform on every call
  QString TriggerTypeAsString() const;
  bool UseTimeZone() const { return FTimeZone; }
  void SetUseTimeZone(bool value) { FTimeZone = value; }

  // Seconds; event, boot and logon triggers.
  std::uint32_t Delay() const;
  void SetDelay(std::uint32_t value);
  int DaysInterval() const; // daily
  void SetDaysInterval(int value);
  std::uint32_t DaysOfMonth() const; // monthly: bit 0 = day 1 ... bit 30 = day 31, bit 31 = last day
  void SetDaysOfMonth(std::uint32_t value);
  int DaysOfWeek() const; // weekly, monthly by weekday: bit 0 = Sunday ... bit 6 = Saturday
  void SetDaysOfWeek(int value);
  int WeeksInterval() const; // weekly
  void SetWeeksInterval(int value);
  int WeeksOfMonth() const; // monthly by weekday: bits 0-3, and 16 for the last week
  void SetWeeksOfMonth(int value);
  int MonthsOfYear() const; // monthly kinds: bit 0 = January ... bit 11 = December
  void SetMonthsOfYear(int value);
  bool RunOnLastDayOfMonth() const;
  void SetRunOnLastDayOfMonth(bool value);
  bool RunOnLastWeekOfMonth() const;
  void SetRunOnLastWeekOfMonth(bool value);
  std::uint32_t RandomDelay() const; // seconds; time and calendar triggers
  void SetRandomDelay(std::uint32_t value);
  QString LogonUserId() const;
  void SetLogonUserId(const QString& value);
  QString Subscription() const;
  void SetSubscription(const QString& value);

  // Every kind.
  TDateTime StartTime() const;
  void SetStartTime(TDateTime value);
  TDateTime EndTime() const;
  void SetEndTime(TDateTime value);
  std::uint32_t Interval() const; // seconds
  void SetInterval(std::uint32_t value);
  std::uint32_t Duration() const; // seconds
  void SetDuration(std::uint32_t value);
  bool StopAtDurationEnd() const;
  void SetStopAtDurationEnd(bool value);
  std::uint32_t ExecutionTimeLimit() const; // seconds
  void SetExecutionTimeLimit(std::uint32_t value);
  bool Enabled() const;
  void SetEnabled(bool value);
  QString Id() const;
  void SetId(const QString& value);

private:
  bool Is(std::initializer_list<TWinTaskTriggerType> kinds) const;

  std::shared_ptr<scheduler::TSchedTrigger> pTrigger;
  TWinTaskTriggerType FTriggerType = ttCustom;
  bool FTimeZone = false;
};

class TWinTaskActions {
public:
  explicit TWinTaskActions(TWinTask* task);
  TWinTaskAction* New(TWinTaskActionType type);
  TWinTaskAction* Add(std::shared_ptr<scheduler::TSchedAction> action);
  void ClearAll();
  void Remove(int index); // 0-based; raises on a platform failure
  int Count() const { return int(FItems.size()); }
  TWinTaskAction* Items(int index) const { return FItems.at(index).get(); }
  void ClearWrappers() { FItems.clear(); }

private:
  TWinTask* FTask;
  std::vector<std::unique_ptr<TWinTaskAction>> FItems;
};

class TWinTaskTriggers {
public:
  explicit TWinTaskTriggers(TWinTask* task);
  TWinTaskTrigger* New(TWinTaskTriggerType type);
  TWinTaskTrigger* Add(std::shared_ptr<scheduler::TSchedTrigger> trigger);
  void ClearAll();
  void Remove(int index); // 0-based; raises on a platform failure
  int Count() const { return int(FItems.size()); }
  TWinTaskTrigger* Items(int index) const { return FItems.at(index).get(); }
  void ClearWrappers() { FItems.clear(); }

private:
  TWinTask* FTask;
  std::vector<std::unique_ptr<TWinTaskTrigger>> FItems;
};

class TWinTaskIdleSettings {
public:
  explicit TWinTaskIdleSettings(std::shared_ptr<scheduler::TSchedIdleSettings> settings);
  std::uint32_t IdleDuration() const; // seconds
  void SetIdleDuration(std::uint32_t value);
  bool RestartOnIdle() const;
  void SetRestartOnIdle(bool value);
  bool StopOnIdleEnd() const;
  void SetStopOnIdleEnd(bool value);
  std::uint32_t WaitTimeout() const; // seconds
  void SetWaitTimeout(std::uint32_t value);

private:
  std::shared_ptr<scheduler::TSchedIdleSettings> pIdleSettings;
};

class TWinTaskSettings {
public:
  explicit TWinTaskSettings(std::shared_ptr<scheduler::TSchedSettings> settings);

  bool AllowDemandStart() const;
  void SetAllowDemandStart(bool value);
  bool AllowHardTerminate() const;
  void SetAllowHardTerminate(bool value);
  TWinTaskCompatibility Compatibility() const;
  void SetCompatibility(TWinTaskCompatibility value);
  int DeleteExpiredTaskAfter() const; // hours; -1: not set
  void SetDeleteExpiredTaskAfter(int hours);
  bool DisallowOnBatteries() const;
  void SetDisallowOnBatteries(bool value);
  std::uint32_t ExecutionTimeLimit() const; // hours; 0: none
  void SetExecutionTimeLimit(std::uint32_t hours);
  bool Hidden() const;
  void SetHidden(bool value);
  TWinTaskIdleSettings* IdleSettings() const { return FIdleSettings.get(); }
  TMultipleInstances MultipleInstances() const;
  void SetMultipleInstances(TMultipleInstances value);
  TWinTaskPriority Priority() const;
  void SetPriority(TWinTaskPriority value);
  std::uint32_t RestartCount() const;
  void SetRestartCount(std::uint32_t value);
  std::uint32_t RestartInterval() const; // minutes
  void SetRestartInterval(std::uint32_t minutes);
  bool RunIfMissed() const;
  void SetRunIfMissed(bool value);
  bool RunOnlyIfIdle() const;
  void SetRunOnlyIfIdle(bool value);
  bool RunOnlyIfNetwork() const;
  void SetRunOnlyIfNetwork(bool value);
  bool StopOnBatteries() const;
  void SetStopOnBatteries(bool value);
  bool WakeToRun() const;
  void SetWakeToRun(bool value);

private:
  std::shared_ptr<scheduler::TSchedSettings> pSettings;
  std::unique_ptr<TWinTaskIdleSettings> FIdleSettings;
};

class TWinTask {
public:
  explicit TWinTask(std::shared_ptr<scheduler::TSchedDefinition> definition);
  ~TWinTask();
  TWinTask(const TWinTask&) = delete;
  TWinTask& operator=(const TWinTask&) = delete;

  TWinTaskAction* NewAction(TWinTaskActionType type);
  bool DeleteAction(int index);
  TWinTaskTrigger* NewTrigger(TWinTaskTriggerType type);
  bool DeleteTrigger(int index);
  // Wraps the platform's triggers and actions again.
  void Refresh();
  // The first action that starts a program whose path ends with appFilter
  // (case-insensitive), or -1; also kept in SelectedAction.
  int IndexOfApp(const QString& appFilter);
  // The first action from fromIndex on that starts a program, or -1; also kept in SelectedAction.
  int IndexOfNextExecAction(int fromIndex);
  TWinTaskAction* GetAction(int index) const { return FActions.Items(index); }
  TWinTaskTrigger* GetTrigger(int index) const { return FTriggers.Items(index); }

  QString Author() const;
  void SetAuthor(const QString& value);
  QString Description() const;
  void SetDescription(const QString& value);
  QString Documentation() const;
  void SetDocumentation(const QString& value);
  TDateTime Date() const;
  void SetDate(TDateTime value);
  QString DateAsString() const;
  QString DisplayName() const;
  void SetDisplayName(const QString& value);
  QString GroupId() const;
  void SetGroupId(const QString& value);
  QString Id() const;
  void SetId(const QString& value);
  QString UserId() const;
  void SetUserId(const QString& value);
  TLogonType LogonType() const;
  void SetLogonType(TLogonType value);
  bool HighestRunLevel() const;
  void SetHighestRunLevel(bool value);
  QString UserData() const;
  void SetUserData(const QString& value);
  QString XmlText() const;
  void SetXmlText(const QString& value); // raises ETaskSchedulerError for malformed XML
  TWinTaskSettings* Settings() const { return FSettings.get(); }
  int SelectedAction() const { return FSelectedAction; }
  void SetSelectedAction(int value) { FSelectedAction = value; }
  int ActionCount() const { return FActions.Count(); }
  int TriggerCount() const { return FTriggers.Count(); }
  QString CompatibilityAsString() const;

  const std::shared_ptr<scheduler::TSchedDefinition>& Definition() const { return pDefinition; }
  TWinTaskActions& Actions() { return FActions; }
  TWinTaskTriggers& Triggers() { return FTriggers; }

private:
  std::shared_ptr<scheduler::TSchedDefinition> pDefinition;
  TWinTaskActions FActions;
  int FSelectedAction = -1;
  TWinTaskTriggers FTriggers;
  std::unique_ptr<TWinTaskSettings> FSettings;
};

class TWinRegisteredTask {
public:
  explicit TWinRegisteredTask(std::shared_ptr<scheduler::TSchedRegisteredTask> task);
  ~TWinRegisteredTask();

  void Refresh();
  void Run();
  void Stop();
  int IndexOfApp(const QString& appFilter) { return FTask->IndexOfApp(appFilter); }

  TWinTask* Definition() const { return FTask.get(); }
  bool Enabled() const;
  void SetEnabled(bool value);
  HRESULT LastResult() const;
  TDateTime LastRunTime() const;
  TDateTime NextRunTime() const;
  QString LastRunTimeAsString() const;
  QString NextRunTimeAsString() const;
  int NumberOfMissedRuns() const;
  QString Path() const;
  TWinTaskStatus Status() const;
  QString StatusAsString() const;
  int TaskIndex() const { return FIndex; }
  void SetTaskIndex(int value) { FIndex = value; }
  const QString& TaskName() const { return FTaskName; }
  QString Xml() const;

private:
  std::shared_ptr<scheduler::TSchedRegisteredTask> pRegisteredTask;
  QString FTaskName;
  int FIndex = -1;
  std::unique_ptr<TWinTask> FTask;
};

class TWinTaskSubFolder {
public:
  explicit TWinTaskSubFolder(std::shared_ptr<scheduler::TSchedFolder> folder);
  QString Name() const;
  QString Path() const;

private:
  std::shared_ptr<scheduler::TSchedFolder> pTaskFolder;
};

class TWinTaskFolder {
public:
  explicit TWinTaskFolder(std::shared_ptr<scheduler::TSchedFolder> folder);
  ~TWinTaskFolder();
  TWinTaskFolder(const TWinTaskFolder&) = delete;
  TWinTaskFolder& operator=(const TWinTaskFolder&) = delete;

  // 0, or the platform's code of the error that stopped the listing.
  HRESULT Refresh();
  bool DeleteTask(const QString& taskName);
  int IndexOfTask(const QString& taskName) const;
  // The new position of the task in the refreshed folder, or -1 (error fields set).
  int RegisterTask(const QString& taskName, TWinTask& task, const QString& userName, const QString& password);
  int IndexOfFolder(const QString& folderName) const;
  int CreateFolder(const QString& name);
  bool DeleteFolder(const QString& name);
  TWinTaskSubFolder* GetFolder(int index) const { return FFolders.at(index).get(); }
  TWinRegisteredTask* GetTask(int index) const { return FTasks.at(index).get(); }

  HRESULT ErrorCode() const { return FErrorCode; }
  const QString& ErrorMessage() const { return FErrMsg; }
  QString FolderName() const;
  QString FolderPath() const;
  int FolderCount() const { return int(FFolders.size()); }
  int NumberOfTasks() const { return FNumTasks; }
  int TaskCount() const { return FNumTasks; }
  TWinRegisteredTask* Tasks(int index) const { return GetTask(index); }
  TWinTaskSubFolder* Folders(int index) const { return GetFolder(index); }

private:
  void ClearError();
  void SetError(const scheduler::ETaskSchedulerError& error);

  std::shared_ptr<scheduler::TSchedFolder> pRootFolder;
  int FNumTasks = 0;
  int FNumFolders = 0;
  std::vector<std::unique_ptr<TWinRegisteredTask>> FTasks;
  std::vector<std::unique_ptr<TWinTaskSubFolder>> FFolders;
  QString FErrMsg;
  HRESULT FErrorCode = S_OK;
};

} // namespace ardanto
