#pragma once

// What the task scheduler object model needs from the scheduler below it: a
// service, its folders and registered tasks, and task definitions with their
// registration information, principal, settings, triggers and actions. The
// calls keep the shape of the Task Scheduler 2.0 interface the model was
// written against: platform values are the scheduler's own numbers and texts
// (ISO 8601 durations, boundary texts), collections count from 1, and every
// failure raises ETaskSchedulerError with a result code and a message.
//
// Definitions are the same for every backend: views over the task's XML, so
// that a definition keeps whatever it holds that the model does not know.
// Services, folders and registered tasks come from a backend: plain objects in
// memory (backends/memory) or systemd user timers (backends/systemd).

#include "common/DateTimeUtils.h"
#include "common/Errors.h"
#include "common/HResult.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace ardanto::scheduler {

class TXmlNode;

// Result codes of the scheduler, as the Task Scheduler reports them.
constexpr HRESULT SCHED_S_TASK_RUNNING = 0x00041301;
constexpr HRESULT SCHED_S_TASK_HAS_NOT_RUN = 0x00041303;
constexpr HRESULT SCHED_S_TASK_TERMINATED = 0x00041306;
constexpr HRESULT SCHED_E_SERVICE_NOT_RUNNING = static_cast<HRESULT>(0x80041315u);
constexpr HRESULT SCHED_E_MALFORMEDXML = static_cast<HRESULT>(0x8004131Au);
constexpr HRESULT E_FILE_NOT_FOUND = static_cast<HRESULT>(0x80070002u); // no such task
constexpr HRESULT E_PATH_NOT_FOUND = static_cast<HRESULT>(0x80070003u); // no such folder
constexpr HRESULT E_DIR_NOT_EMPTY = static_cast<HRESULT>(0x80070091u);  // folder still holds tasks
constexpr HRESULT E_ALREADY_EXISTS = static_cast<HRESULT>(0x800700B7u); // folder exists

// Task states (IRegisteredTask::State).
enum : int {
  TASK_STATE_UNKNOWN = 0,
  TASK_STATE_DISABLED = 1,
  TASK_STATE_QUEUED = 2,
  TASK_STATE_READY = 3,
  TASK_STATE_RUNNING = 4
};
// RegisterTaskDefinition: create a new task or update an existing one.
constexpr int TASK_CREATE_OR_UPDATE = 6;

// A failed platform call: the code and the platform's message.
class ETaskSchedulerError : public EArdantoError {
public:
  ETaskSchedulerError(HRESULT code, QString message);
  HRESULT Code() const noexcept { return FCode; }

private:
  HRESULT FCode;
};

// One element below the task, found again on every call so that a view stays
// valid when the whole definition is replaced. Reading a missing element gives
// the scheduler's default; writing an empty text removes the element.
class TSchedElement {
public:
  TSchedElement(std::shared_ptr<TXmlNode> base, QStringList path);

  QString Text(const QString& name) const;
  void SetText(const QString& name, const QString& value);
  bool Bool(const QString& name, bool defaultValue) const;
  void SetBool(const QString& name, bool value);
  qint64 Int(const QString& name, qint64 defaultValue) const;
  void SetInt(const QString& name, qint64 value);
  QString Attribute(const QString& name) const;
  void SetAttribute(const QString& name, const QString& value);

protected:
  const std::shared_ptr<TXmlNode>& Base() const { return FBase; }
  std::shared_ptr<TXmlNode> Node() const; // nullptr while it does not exist
  std::shared_ptr<TXmlNode> EnsureNode();

private:
  std::shared_ptr<TXmlNode> FBase;
  QStringList FPath;
};

// Element names are those of the Task Scheduler's XML (Author, Description,
// Documentation, Date, URI).
class TSchedRegistrationInfo : public TSchedElement {
public:
  using TSchedElement::TSchedElement;
};

class TSchedPrincipal : public TSchedElement {
public:
  using TSchedElement::TSchedElement;
  // TASK_LOGON_NONE (0) ... TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD (6)
  int LogonType() const;
  void SetLogonType(int value);
  // TASK_RUNLEVEL_LUA (0) or TASK_RUNLEVEL_HIGHEST (1)
  int RunLevel() const;
  void SetRunLevel(int value);
};

class TSchedIdleSettings : public TSchedElement {
public:
  using TSchedElement::TSchedElement;
};

class TSchedSettings : public TSchedElement {
public:
  using TSchedElement::TSchedElement;
  std::shared_ptr<TSchedIdleSettings> IdleSettings() const;
  std::shared_ptr<TSchedElement> RestartOnFailure() const; // Interval, Count
  // TASK_COMPATIBILITY_*: the minor part of the definition's version ("1.2" is 2).
  int Compatibility() const;
  void SetCompatibility(int value);
  // TASK_INSTANCES_PARALLEL (0) ... TASK_INSTANCES_STOP_EXISTING (3)
  int MultipleInstances() const;
  void SetMultipleInstances(int value);
  int Priority() const;
  void SetPriority(int value);
};

// TASK_TRIGGER_* numbers.
enum : int {
  TASK_TRIGGER_EVENT = 0,
  TASK_TRIGGER_TIME = 1,
  TASK_TRIGGER_DAILY = 2,
  TASK_TRIGGER_WEEKLY = 3,
  TASK_TRIGGER_MONTHLY = 4,
  TASK_TRIGGER_MONTHLYDOW = 5,
  TASK_TRIGGER_IDLE = 6,
  TASK_TRIGGER_REGISTRATION = 7,
  TASK_TRIGGER_BOOT = 8,
  TASK_TRIGGER_LOGON = 9,
  TASK_TRIGGER_SESSION_STATE_CHANGE = 11,
  TASK_TRIGGER_CUSTOM_TRIGGER_01 = 12
};

// One trigger element. Fields that its kind does not have read as empty.
class TSchedTrigger {
public:
  explicit TSchedTrigger(std::shared_ptr<TXmlNode> element);

  int Type() const;
  QString Id() const;
  void SetId(const QString& value);
  bool Enabled() const;
  void SetEnabled(bool value);
  QString StartBoundary() const;
  void SetStartBoundary(const QString& value);
  QString EndBoundary() const;
  void SetEndBoundary(const QString& value);
  QString ExecutionTimeLimit() const;
  void SetExecutionTimeLimit(const QString& value);
  QString RepetitionInterval() const;
  void SetRepetitionInterval(const QString& value);
  QString RepetitionDuration() const;
  void SetRepetitionDuration(const QString& value);
  bool StopAtDurationEnd() const;
  void SetStopAtDurationEnd(bool value);
  QString Delay() const;
  void SetDelay(const QString& value);
  QString RandomDelay() const;
  void SetRandomDelay(const QString& value);
  QString UserId() const;
  void SetUserId(const QString& value);
  QString Subscription() const;
  void SetSubscription(const QString& value);
  int DaysInterval() const;
  void SetDaysInterval(int value);
  int WeeksInterval() const;
  void SetWeeksInterval(int value);
  // bit 0 Sunday ... bit 6 Saturday
  int DaysOfWeek() const;
  void SetDaysOfWeek(int value);
  // bit 0 day 1 ... bit 30 day 31, bit 31 the last day
  quint32 DaysOfMonth() const;
  void SetDaysOfMonth(quint32 value);
  bool RunOnLastDayOfMonth() const;
  void SetRunOnLastDayOfMonth(bool value);
  // bit 0 first ... bit 3 fourth week; writing bit 4 selects the last week
  int WeeksOfMonth() const;
  void SetWeeksOfMonth(int value);
  bool RunOnLastWeekOfMonth() const;
  void SetRunOnLastWeekOfMonth(bool value);
  // bit 0 January ... bit 11 December
  int MonthsOfYear() const;
  void SetMonthsOfYear(int value);

  const std::shared_ptr<TXmlNode>& Element() const { return FElement; }

private:
  QString Field(const QStringList& path) const;
  void SetField(const QStringList& path, const QString& value);
  std::shared_ptr<TXmlNode> Schedule() const; // ScheduleByDay ... of a calendar trigger
  int NamedMask(const QString& list, const QStringList& names) const;
  void SetNamedMask(const QString& list, const QStringList& names, int mask);

  std::shared_ptr<TXmlNode> FElement;
};

enum : int {
  TASK_ACTION_EXEC = 0,
  TASK_ACTION_COM_HANDLER = 5,
  TASK_ACTION_SEND_EMAIL = 6,
  TASK_ACTION_SHOW_MESSAGE = 7
};

// One action element; Command, Arguments and WorkingDirectory for TASK_ACTION_EXEC.
class TSchedAction : public TSchedElement {
public:
  explicit TSchedAction(std::shared_ptr<TXmlNode> element);
  int Type() const;
  QString Id() const;
  void SetId(const QString& value);
  const std::shared_ptr<TXmlNode>& Element() const { return FElement; }

private:
  std::shared_ptr<TXmlNode> FElement;
};

template <class T> class TSchedList {
public:
  virtual ~TSchedList() = default;
  virtual int Count() const = 0;
  virtual std::shared_ptr<T> Item(int position) const = 0; // 1-based
  virtual std::shared_ptr<T> Create(int type) = 0;
  virtual void Remove(int position) = 0; // 1-based
  virtual void Clear() = 0;
};
using TSchedTriggerCollection = TSchedList<TSchedTrigger>;
using TSchedActionCollection = TSchedList<TSchedAction>;

class TSchedDefinition {
public:
  // A new definition as the scheduler hands it out: default settings, no
  // triggers, no actions, a principal "Author".
  static std::shared_ptr<TSchedDefinition> Create();
  static std::shared_ptr<TSchedDefinition> FromXml(const QString& xml);      // raises on malformed XML
  static std::shared_ptr<TSchedDefinition> FromXml(const QByteArray& bytes); // raises on malformed XML
  std::shared_ptr<TSchedDefinition> Clone() const;

  std::shared_ptr<TSchedRegistrationInfo> RegistrationInfo() const;
  std::shared_ptr<TSchedPrincipal> Principal() const;
  std::shared_ptr<TSchedSettings> Settings() const;
  std::shared_ptr<TSchedTriggerCollection> Triggers() const;
  std::shared_ptr<TSchedActionCollection> Actions() const;
  QString Data() const;
  void SetData(const QString& value);
  // The whole definition; the text declares UTF-16 as the scheduler's does.
  QString XmlText() const;
  void SetXmlText(const QString& xml);
  // The same as UTF-8 bytes for a file.
  QByteArray XmlBytes() const;

private:
  explicit TSchedDefinition(std::shared_ptr<TXmlNode> root);
  void Replace(const std::shared_ptr<TXmlNode>& root);
  std::shared_ptr<TXmlNode> FRoot; // the Task element; it stays the same object for the views
};

class TSchedRegisteredTask {
public:
  virtual ~TSchedRegisteredTask() = default;
  virtual QString Name() const = 0;
  virtual QString Path() const = 0;
  virtual int State() = 0;
  virtual bool Enabled() = 0;
  virtual void SetEnabled(bool value) = 0;
  virtual void Run() = 0;
  virtual void Stop() = 0;
  virtual TDateTime LastRunTime() = 0; // local; 0 when it never ran
  virtual HRESULT LastTaskResult() = 0;
  virtual int NumberOfMissedRuns() = 0;
  virtual TDateTime NextRunTime() = 0; // local; 0 when none is due
  // A copy: changes count once the definition is registered again.
  virtual std::shared_ptr<TSchedDefinition> Definition() = 0;
  virtual QString Xml() = 0;
};

class TSchedFolder;
using TSchedTaskList = std::vector<std::function<std::shared_ptr<TSchedRegisteredTask>()>>;

class TSchedFolder {
public:
  virtual ~TSchedFolder() = default;
  virtual QString Name() const = 0; // "\" for the root folder
  virtual QString Path() const = 0;
  // Loaders of the tasks (without hidden ones), one call per task, so that a
  // task that cannot be read stops an enumeration where it is.
  virtual TSchedTaskList GetTasks(int flags) = 0;
  virtual std::vector<std::shared_ptr<TSchedFolder>> GetFolders() = 0;
  virtual std::shared_ptr<TSchedFolder> CreateFolder(const QString& name, const QString& sddl) = 0;
  virtual void DeleteFolder(const QString& name) = 0;
  virtual void DeleteTask(const QString& name) = 0;
  virtual std::shared_ptr<TSchedRegisteredTask> RegisterTaskDefinition(const QString& name,
                                                                       const TSchedDefinition& definition, int flags,
                                                                       const QString& userId, const QString& password,
                                                                       int logonType, const QString& sddl) = 0;
};

class TSchedService {
public:
  virtual ~TSchedService() = default;
  virtual void Connect(const QString& server, const QString& user, const QString& domain, const QString& password) = 0;
  virtual std::shared_ptr<TSchedFolder> GetFolder(const QString& path) = 0;
  virtual std::shared_ptr<TSchedDefinition> NewTask(int flags) = 0;
};

// Where services come from.
class TSchedPlatform {
public:
  virtual ~TSchedPlatform() = default;
  // Whether the scheduler answers at all.
  virtual bool IsRunning() = 0;
  virtual std::shared_ptr<TSchedService> CreateService() = 0;
};

// The platform the object model uses: the systemd user manager unless one was
// set. Returns the one set before (nullptr: systemd); nullptr brings systemd back.
TSchedPlatform& TaskPlatform();
TSchedPlatform* SetTaskPlatform(TSchedPlatform* platform);

// The path of a task or folder in a folder: "\" + name in the root folder.
QString JoinTaskPath(const QString& folderPath, const QString& name);

} // namespace ardanto::scheduler
