#include "scheduler/WinTask.h"

#include "common/Translate.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <limits>

namespace ardanto {

using namespace Qt::StringLiterals;
using scheduler::ETaskSchedulerError;

// ---- mapping tables

int StatusFromPlatform(int state)
{
  switch (state) {
  case scheduler::TASK_STATE_DISABLED:
    return tsDisabled;
  case scheduler::TASK_STATE_QUEUED:
    return tsQueued;
  case scheduler::TASK_STATE_READY:
    return tsReady;
  case scheduler::TASK_STATE_RUNNING:
    return tsRunning;
  default:
    return tsUnknown;
  }
}

int CompatibilityToPlatform(TWinTaskCompatibility value)
{
  return int(value);
}

TWinTaskCompatibility CompatibilityFromPlatform(int value)
{
  return value >= 0 && value <= 3 ? TWinTaskCompatibility(value) : tcWin10;
}

int MultipleInstancesToPlatform(TMultipleInstances value)
{
  return int(value);
}

TMultipleInstances MultipleInstancesFromPlatform(int value)
{
  return value >= 1 && value <= 3 ? TMultipleInstances(value) : miParallel;
}

int ActionTypeToPlatform(TWinTaskActionType value)
{
  static const int values[] = {0, 5, 6, 7};
  return values[std::clamp(int(value), 0, 3)];
}

TWinTaskActionType ActionTypeFromPlatform(int value)
{
  switch (value) {
  case 5:
    return taCom;
  case 6:
    return taMail;
  case 7:
    return taMessage;
  default:
    return taExec;
  }
}

int TriggerTypeToPlatform(TWinTaskTriggerType value)
{
  if (value == ttSessionStateChange)
    return 11;
  if (value == ttCustom)
    return 12;
  return int(value);
}

TWinTaskTriggerType TriggerTypeFromPlatform(int value)
{
  if (value >= 0 && value <= 9)
    return TWinTaskTriggerType(value);
  return value == 11 ? ttSessionStateChange : ttCustom;
}

int LogonTypeToPlatform(TLogonType value)
{
  return int(value);
}

TLogonType LogonTypeFromPlatform(int value)
{
  return value >= 1 && value <= 6 ? TLogonType(value) : ltNone;
}

int PriorityToPlatform(TWinTaskPriority value)
{
  static const int values[] = {10, 9, 7, 5, 3, 1, 0};
  return values[std::clamp(int(value), 0, 6)];
}

TWinTaskPriority PriorityFromPlatform(int value)
{
  switch (value) {
  case 0:
    return tpTimeCritical;
  case 1:
    return tpHighest;
  case 2:
  case 3:
    return tpHigher;
  case 7:
  case 8:
    return tpLower;
  case 9:
    return tpLowest;
  case 10:
    return tpIdle;
  default:
    return tpNormal;
  }
}

// ---- display texts

namespace {

template <std::size_t N> QString TableText(const char* const (&table)[N], int index)
{
  return index >= 0 && index < int(N) ? _(table[index]) : QString();
}

} // namespace

QString StatusText(TWinTaskStatus value)
{
  static const char* const texts[] = {N_("Unknown"), N_("Ready"), N_("Queued"), N_("Running"), N_("Disabled")};
  return TableText(texts, value);
}

QString ActionTypeText(TWinTaskActionType value)
{
  static const char* const texts[] = {N_("Start a program"), N_("File handler"), N_("Send an email"),
                                      N_("Display a message")};
  return TableText(texts, value);
}

QString TriggerTypeText(TWinTaskTriggerType value)
{
  static const char* const texts[] = {N_("On an event"),
                                      N_("One time"),
                                      N_("Daily"),
                                      N_("Weekly"),
                                      N_("Monthly"),
                                      N_("Monthly"),
                                      N_("On idle"),
                                      N_("On task creation/modification"),
                                      N_("At startup"),
                                      N_("At log on"),
                                      N_("On session state change"),
                                      N_("Custom trigger")};
  return TableText(texts, value);
}

QString CompatibilityText(TWinTaskCompatibility value)
{
  static const char* const texts[] = {N_("deprecated"), N_("Windows XP"), N_("Windows Vista"), N_("Windows 7"),
                                      N_("Windows 10")};
  return TableText(texts, value);
}

// ---- codecs

namespace {

// Skips to the first decimal digit, takes the digits there and drops
// everything up to their end. A run that is missing or too long for 16 bits
// reads as 0.
std::uint32_t ReadNumber(QString& text)
{
  qsizetype start = 0;
  while (start < text.size() && !(text[start] >= u'0' && text[start] <= u'9'))
    ++start;
  qsizetype end = start;
  while (end < text.size() && text[end] >= u'0' && text[end] <= u'9')
    ++end;
  bool ok = false;
  const uint value = text.mid(start, end - start).toUInt(&ok);
  text.remove(0, end);
  return ok && value <= 0xFFFF ? value : 0;
}

bool StartsWithLetter(const QString& text, char16_t letter)
{
  return !text.isEmpty() && text[0].toUpper() == QChar(letter);
}

} // namespace

std::uint32_t DurationToSeconds(const QString& text)
{
  if (!StartsWithLetter(text, u'P'))
    return 0;
  QString rest = text.mid(1);
  if (!StartsWithLetter(rest, u'T')) {
    const std::uint64_t days = ReadNumber(rest);
    const std::uint64_t seconds = days * 86400;
    return StartsWithLetter(rest, u'D') ? std::uint32_t(std::min<std::uint64_t>(seconds, UINT32_MAX)) : 0;
  }
  std::uint64_t seconds = 0;
  while (!rest.isEmpty()) {
    const std::uint64_t number = ReadNumber(rest);
    if (StartsWithLetter(rest, u'H'))
      seconds += number * 3600;
    else if (StartsWithLetter(rest, u'M'))
      seconds += number * 60;
    else if (StartsWithLetter(rest, u'S'))
      seconds += number;
    rest.remove(0, 1);
  }
  return std::uint32_t(std::min<std::uint64_t>(seconds, std::numeric_limits<std::uint32_t>::max()));
}

QString SecondsToDuration(std::uint32_t seconds)
{
  if (seconds == 0)
    return {};
  if (seconds >= 86400)
    return u"P"_s + QString::number(seconds / 86400) + u'D';
  QString text = u"PT"_s;
  if (const std::uint32_t hours = seconds / 3600)
    text += QString::number(hours) + u'H';
  if (const std::uint32_t minutes = seconds / 60 % 60)
    text += QString::number(minutes) + u'M';
  if (const std::uint32_t rest = seconds % 60)
    text += QString::number(rest) + u'S';
  return text;
}

TDateTime TaskTimeToDateTime(const QString& text, bool& useTimeZone)
{
  useTimeZone = false;
  QString rest = text;
  int parts[6];
  for (int& part : parts)
    part = int(ReadNumber(rest));
  const QDate date(parts[0], parts[1], parts[2]);
  const QTime time(parts[3], parts[4], parts[5]);
  if (text.isEmpty() || !date.isValid() || !time.isValid())
    return 0;
  useTimeZone = !rest.isEmpty();
  return DateTimeFromQDateTime(QDateTime(date, time));
}

TDateTime TaskTimeToDateTime(const QString& text)
{
  bool useTimeZone = false;
  return TaskTimeToDateTime(text, useTimeZone);
}

QString DateTimeToTaskTime(TDateTime value, bool useTimeZone)
{
  if (value < 1.0)
    return {};
  QString text = QDateTimeFromDateTime(value).toString(u"yyyy-MM-dd'T'HH:mm:ss"_s);
  if (useTimeZone) {
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    if (offset == 0) {
      text += u'Z';
    } else {
      const int minutes = std::abs(offset) / 60;
      text +=
          (offset < 0 ? u'-' : u'+') +
          QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
  }
  return text;
}

QString TaskDateToText(TDateTime value)
{
  static const TDateTime year2000 = DateTimeFromQDateTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
  if (value < year2000)
    return {};
  return QLocale().toString(QDateTimeFromDateTime(value), QLocale::ShortFormat);
}

TWinTaskCompatibility DefaultCompatibility(bool ntLine, int majorVersion, int minorVersion)
{
  if (!ntLine)
    return tcAT;
  if (majorVersion == 5)
    return tcXP;
  if (majorVersion > 9)
    return tcWin10;
  return minorVersion != 0 ? tcWin7 : tcVista;
}

TWinTaskCompatibility DefaultCompatibility()
{
  // The user manager does everything the newest scheduler level stands for.
  return DefaultCompatibility(true, 10, 0);
}

namespace {

// Delphi's AnsiExtractQuotedStr and AnsiDequotedStr with '"', whose rules the
// stored paths were written for.
QString ExtractQuoted(const QString& text, qsizetype& end)
{
  end = 0;
  if (text.isEmpty() || text[0] != u'"')
    return {};
  QString result;
  qsizetype i = 1;
  while (i < text.size()) {
    if (text[i] == u'"') {
      if (i + 1 < text.size() && text[i + 1] == u'"') {
        result += u'"';
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    result += text[i++];
  }
  end = i;
  return result;
}

QString DequotedStr(const QString& text)
{
  qsizetype end = 0;
  QString result = ExtractQuoted(text, end);
  if ((result.isEmpty() || end == text.size()) && !text.isEmpty() && (text.front() != u'"' || text.back() != u'"'))
    result = text;
  return result;
}

QString QuotedStr(const QString& text)
{
  QString inner = text;
  inner.replace(u"\""_s, u"\"\""_s);
  return u'"' + inner + u'"';
}

} // namespace

QString DequoteTaskPath(const QString& path)
{
  QString result = DequotedStr(path);
  if (result.isEmpty() && path.size() > 2 && path.front() == u'"' && path.back() == u'"')
    result = DequotedStr(QuotedStr(path.mid(1, path.size() - 2)));
  return result;
}

// ---- scheduler

TWinTaskScheduler::TWinTaskScheduler() : FFolder(u"\\"_s)
{
  // The process-wide security set-up of the scheduler's interface has no
  // counterpart here; creating the service is the whole step.
  try {
    pService = scheduler::TaskPlatform().CreateService();
    FResult = S_OK;
  } catch (const ETaskSchedulerError& error) {
    FResult = error.Code();
  }
}

TWinTaskScheduler::~TWinTaskScheduler() = default;

HRESULT TWinTaskScheduler::Init()
{
  if (FAILED(FResult))
    return FResult;
  if (!pService)
    return E_POINTER;
  try {
    pService->Connect({}, {}, {}, {});
  } catch (const ETaskSchedulerError& error) {
    return error.Code();
  }
  return Refresh();
}

HRESULT TWinTaskScheduler::Refresh()
{
  FTaskFolder.reset();
  if (!pService)
    return FAILED(FResult) ? FResult : E_POINTER;
  try {
    FTaskFolder = std::make_unique<TWinTaskFolder>(pService->GetFolder(FFolder));
  } catch (const ETaskSchedulerError& error) {
    return error.Code();
  }
  return FTaskFolder->Refresh();
}

HRESULT TWinTaskScheduler::SetPath(const QString& path)
{
  FFolder = path;
  return Refresh();
}

std::unique_ptr<TWinTask> TWinTaskScheduler::NewTask()
{
  if (!pService)
    throw ETaskSchedulerError(FAILED(FResult) ? FResult : E_POINTER, _("The task scheduler is not connected"));
  auto task = std::make_unique<TWinTask>(pService->NewTask(0));
  task->Settings()->SetCompatibility(DefaultCompatibility());
  return task;
}

bool TWinTaskScheduler::IsRunning()
{
  return scheduler::TaskPlatform().IsRunning();
}

HRESULT ConnectTaskScheduler(std::unique_ptr<TWinTaskScheduler>& scheduler)
{
  // The check for a scheduler older than 2.0 (kSchedulerNotOnXP) has nothing to test on Linux.
  scheduler.reset();
  if (!TWinTaskScheduler::IsRunning())
    return kSchedulerNotRunning;
  scheduler = std::make_unique<TWinTaskScheduler>();
  return scheduler->Init();
}

// ---- actions

TWinTaskAction::TWinTaskAction(std::shared_ptr<scheduler::TSchedAction> action)
  : pAction(std::move(action)), FActionType(ActionTypeFromPlatform(pAction->Type()))
{
}

QString TWinTaskAction::ActionTypeAsString() const
{
  return ActionTypeText(FActionType);
}

QString TWinTaskAction::Id() const
{
  return pAction->Id();
}

void TWinTaskAction::SetId(const QString& value)
{
  pAction->SetId(value);
}

QString TWinTaskAction::ExecField(const QString& name) const
{
  return FActionType == taExec ? pAction->Text(name) : QString();
}

void TWinTaskAction::SetExecField(const QString& name, const QString& value)
{
  if (FActionType == taExec)
    pAction->SetText(name, value);
}

QString TWinTaskAction::Path() const
{
  return DequoteTaskPath(ExecField(u"Command"_s));
}

void TWinTaskAction::SetPath(const QString& value)
{
  SetExecField(u"Command"_s, value);
}

QString TWinTaskAction::Arguments() const
{
  return ExecField(u"Arguments"_s);
}

void TWinTaskAction::SetArguments(const QString& value)
{
  SetExecField(u"Arguments"_s, value);
}

QString TWinTaskAction::WorkingDirectory() const
{
  return ExecField(u"WorkingDirectory"_s);
}

void TWinTaskAction::SetWorkingDirectory(const QString& value)
{
  SetExecField(u"WorkingDirectory"_s, value);
}

// ---- triggers

TWinTaskTrigger::TWinTaskTrigger() = default;

void TWinTaskTrigger::SetTaskTrigger(std::shared_ptr<scheduler::TSchedTrigger> value)
{
  pTrigger = std::move(value);
  FTriggerType = TriggerTypeFromPlatform(pTrigger->Type());
  TaskTimeToDateTime(pTrigger->StartBoundary(), FTimeZone);
}

void TWinTaskTrigger::SetToDefault(const QString& userId)
{
  SetStartTime(DateTimeNow());
  SetLogonUserId(userId);
}

TWinTaskTriggerType TWinTaskTrigger::TriggerType() const
{
  return pTrigger ? TriggerTypeFromPlatform(pTrigger->Type()) : ttCustom;
}

QString TWinTaskTrigger::TriggerTypeAsString() const
{
  return TriggerTypeText(TriggerType());
}

bool TWinTaskTrigger::Is(std::initializer_list<TWinTaskTriggerType> kinds) const
{
  return pTrigger && std::find(kinds.begin(), kinds.end(), FTriggerType) != kinds.end();
}

std::uint32_t TWinTaskTrigger::Delay() const
{
  return Is({ttEvent, ttBoot, ttLogon}) ? DurationToSeconds(pTrigger->Delay()) : 0;
}

void TWinTaskTrigger::SetDelay(std::uint32_t value)
{
  if (Is({ttEvent, ttBoot, ttLogon}))
    pTrigger->SetDelay(SecondsToDuration(value));
}

int TWinTaskTrigger::DaysInterval() const
{
  return Is({ttDaily}) ? pTrigger->DaysInterval() : 0;
}

void TWinTaskTrigger::SetDaysInterval(int value)
{
  if (Is({ttDaily}) && value > 0)
    pTrigger->SetDaysInterval(std::min(value, 0x7FFF));
}

std::uint32_t TWinTaskTrigger::DaysOfMonth() const
{
  return Is({ttMonthly}) ? pTrigger->DaysOfMonth() : 0;
}

void TWinTaskTrigger::SetDaysOfMonth(std::uint32_t value)
{
  if (Is({ttMonthly}) && value > 0)
    pTrigger->SetDaysOfMonth(value);
}

int TWinTaskTrigger::DaysOfWeek() const
{
  return Is({ttWeekly, ttMonthlyDow}) ? pTrigger->DaysOfWeek() : 0;
}

void TWinTaskTrigger::SetDaysOfWeek(int value)
{
  if (Is({ttWeekly, ttMonthlyDow}) && value >= 1 && value <= 127)
    pTrigger->SetDaysOfWeek(value);
}

int TWinTaskTrigger::WeeksInterval() const
{
  return Is({ttWeekly}) ? pTrigger->WeeksInterval() : 0;
}

void TWinTaskTrigger::SetWeeksInterval(int value)
{
  if (Is({ttWeekly}) && value > 0)
    pTrigger->SetWeeksInterval(value);
}

int TWinTaskTrigger::WeeksOfMonth() const
{
  if (!Is({ttMonthlyDow}))
    return 0;
  return pTrigger->WeeksOfMonth() + (pTrigger->RunOnLastWeekOfMonth() ? 16 : 0);
}

void TWinTaskTrigger::SetWeeksOfMonth(int value)
{
  if (Is({ttMonthlyDow}) && value >= 1 && value <= 31)
    pTrigger->SetWeeksOfMonth(value);
}

int TWinTaskTrigger::MonthsOfYear() const
{
  return Is({ttMonthly, ttMonthlyDow}) ? pTrigger->MonthsOfYear() : 0;
}

void TWinTaskTrigger::SetMonthsOfYear(int value)
{
  if (Is({ttMonthly, ttMonthlyDow}) && value >= 1 && value <= 4095)
    pTrigger->SetMonthsOfYear(value);
}

bool TWinTaskTrigger::RunOnLastDayOfMonth() const
{
  return Is({ttMonthly}) && pTrigger->RunOnLastDayOfMonth();
}

void TWinTaskTrigger::SetRunOnLastDayOfMonth(bool value)
{
  if (Is({ttMonthly}))
    pTrigger->SetRunOnLastDayOfMonth(value);
}

bool TWinTaskTrigger::RunOnLastWeekOfMonth() const
{
  return Is({ttMonthlyDow}) && pTrigger->RunOnLastWeekOfMonth();
}

void TWinTaskTrigger::SetRunOnLastWeekOfMonth(bool value)
{
  if (Is({ttMonthlyDow}))
    pTrigger->SetRunOnLastWeekOfMonth(value);
}

std::uint32_t TWinTaskTrigger::RandomDelay() const
{
  return Is({ttTime, ttDaily, ttWeekly, ttMonthly, ttMonthlyDow}) ? DurationToSeconds(pTrigger->RandomDelay()) : 0;
}

void TWinTaskTrigger::SetRandomDelay(std::uint32_t value)
{
  if (Is({ttTime, ttDaily, ttWeekly, ttMonthly, ttMonthlyDow}))
    pTrigger->SetRandomDelay(SecondsToDuration(value));
}

QString TWinTaskTrigger::LogonUserId() const
{
  return Is({ttLogon}) ? pTrigger->UserId() : QString();
}

void TWinTaskTrigger::SetLogonUserId(const QString& value)
{
  if (Is({ttLogon}))
    pTrigger->SetUserId(value);
}

QString TWinTaskTrigger::Subscription() const
{
  return Is({ttEvent}) ? pTrigger->Subscription() : QString();
}

void TWinTaskTrigger::SetSubscription(const QString& value)
{
  if (Is({ttEvent}))
    pTrigger->SetSubscription(value);
}

TDateTime TWinTaskTrigger::StartTime() const
{
  return pTrigger ? TaskTimeToDateTime(pTrigger->StartBoundary()) : 0;
}

void TWinTaskTrigger::SetStartTime(TDateTime value)
{
  if (pTrigger)
    pTrigger->SetStartBoundary(DateTimeToTaskTime(value, FTimeZone));
}

TDateTime TWinTaskTrigger::EndTime() const
{
  return pTrigger ? TaskTimeToDateTime(pTrigger->EndBoundary()) : 0;
}

void TWinTaskTrigger::SetEndTime(TDateTime value)
{
  if (pTrigger)
    pTrigger->SetEndBoundary(DateTimeToTaskTime(value, FTimeZone));
}

std::uint32_t TWinTaskTrigger::Interval() const
{
  return pTrigger ? DurationToSeconds(pTrigger->RepetitionInterval()) : 0;
}

void TWinTaskTrigger::SetInterval(std::uint32_t value)
{
  if (pTrigger)
    pTrigger->SetRepetitionInterval(SecondsToDuration(value));
}

std::uint32_t TWinTaskTrigger::Duration() const
{
  return pTrigger ? DurationToSeconds(pTrigger->RepetitionDuration()) : 0;
}

void TWinTaskTrigger::SetDuration(std::uint32_t value)
{
  if (pTrigger)
    pTrigger->SetRepetitionDuration(SecondsToDuration(value));
}

bool TWinTaskTrigger::StopAtDurationEnd() const
{
  return pTrigger && pTrigger->StopAtDurationEnd();
}

void TWinTaskTrigger::SetStopAtDurationEnd(bool value)
{
  if (pTrigger)
    pTrigger->SetStopAtDurationEnd(value);
}

std::uint32_t TWinTaskTrigger::ExecutionTimeLimit() const
{
  return pTrigger ? DurationToSeconds(pTrigger->ExecutionTimeLimit()) : 0;
}

void TWinTaskTrigger::SetExecutionTimeLimit(std::uint32_t value)
{
  if (pTrigger)
    pTrigger->SetExecutionTimeLimit(SecondsToDuration(value));
}

bool TWinTaskTrigger::Enabled() const
{
  return pTrigger && pTrigger->Enabled();
}

void TWinTaskTrigger::SetEnabled(bool value)
{
  if (pTrigger)
    pTrigger->SetEnabled(value);
}

QString TWinTaskTrigger::Id() const
{
  return pTrigger ? pTrigger->Id() : QString();
}

void TWinTaskTrigger::SetId(const QString& value)
{
  if (pTrigger)
    pTrigger->SetId(value);
}

// ---- collections

TWinTaskActions::TWinTaskActions(TWinTask* task) : FTask(task)
{
}

TWinTaskAction* TWinTaskActions::New(TWinTaskActionType type)
{
  return Add(FTask->Definition()->Actions()->Create(ActionTypeToPlatform(type)));
}

TWinTaskAction* TWinTaskActions::Add(std::shared_ptr<scheduler::TSchedAction> action)
{
  FItems.push_back(std::make_unique<TWinTaskAction>(std::move(action)));
  return FItems.back().get();
}

void TWinTaskActions::ClearAll()
{
  FTask->Definition()->Actions()->Clear();
  FItems.clear();
}

void TWinTaskActions::Remove(int index)
{
  FTask->Definition()->Actions()->Remove(index + 1);
  FItems.erase(FItems.begin() + index);
}

TWinTaskTriggers::TWinTaskTriggers(TWinTask* task) : FTask(task)
{
}

TWinTaskTrigger* TWinTaskTriggers::New(TWinTaskTriggerType type)
{
  return Add(FTask->Definition()->Triggers()->Create(TriggerTypeToPlatform(type)));
}

TWinTaskTrigger* TWinTaskTriggers::Add(std::shared_ptr<scheduler::TSchedTrigger> trigger)
{
  auto wrapper = std::make_unique<TWinTaskTrigger>();
  wrapper->SetTaskTrigger(std::move(trigger));
  FItems.push_back(std::move(wrapper));
  return FItems.back().get();
}

void TWinTaskTriggers::ClearAll()
{
  FTask->Definition()->Triggers()->Clear();
  FItems.clear();
}

void TWinTaskTriggers::Remove(int index)
{
  FTask->Definition()->Triggers()->Remove(index + 1);
  FItems.erase(FItems.begin() + index);
}

// ---- settings

TWinTaskIdleSettings::TWinTaskIdleSettings(std::shared_ptr<scheduler::TSchedIdleSettings> settings)
  : pIdleSettings(std::move(settings))
{
}

std::uint32_t TWinTaskIdleSettings::IdleDuration() const
{
  return DurationToSeconds(pIdleSettings->Text(u"Duration"_s));
}

void TWinTaskIdleSettings::SetIdleDuration(std::uint32_t value)
{
  pIdleSettings->SetText(u"Duration"_s, SecondsToDuration(value));
}

bool TWinTaskIdleSettings::RestartOnIdle() const
{
  return pIdleSettings->Bool(u"RestartOnIdle"_s, false);
}

void TWinTaskIdleSettings::SetRestartOnIdle(bool value)
{
  pIdleSettings->SetBool(u"RestartOnIdle"_s, value);
}

bool TWinTaskIdleSettings::StopOnIdleEnd() const
{
  return pIdleSettings->Bool(u"StopOnIdleEnd"_s, true);
}

void TWinTaskIdleSettings::SetStopOnIdleEnd(bool value)
{
  pIdleSettings->SetBool(u"StopOnIdleEnd"_s, value);
}

std::uint32_t TWinTaskIdleSettings::WaitTimeout() const
{
  return DurationToSeconds(pIdleSettings->Text(u"WaitTimeout"_s));
}

void TWinTaskIdleSettings::SetWaitTimeout(std::uint32_t value)
{
  pIdleSettings->SetText(u"WaitTimeout"_s, SecondsToDuration(value));
}

TWinTaskSettings::TWinTaskSettings(std::shared_ptr<scheduler::TSchedSettings> settings)
  : pSettings(std::move(settings)), FIdleSettings(std::make_unique<TWinTaskIdleSettings>(pSettings->IdleSettings()))
{
}

namespace {

std::uint32_t Scaled(std::uint32_t value, std::uint32_t factor)
{
  const std::uint64_t product = std::uint64_t(value) * factor;
  return std::uint32_t(std::min<std::uint64_t>(product, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

bool TWinTaskSettings::AllowDemandStart() const
{
  return pSettings->Bool(u"AllowStartOnDemand"_s, true);
}

void TWinTaskSettings::SetAllowDemandStart(bool value)
{
  pSettings->SetBool(u"AllowStartOnDemand"_s, value);
}

bool TWinTaskSettings::AllowHardTerminate() const
{
  return pSettings->Bool(u"AllowHardTerminate"_s, true);
}

void TWinTaskSettings::SetAllowHardTerminate(bool value)
{
  pSettings->SetBool(u"AllowHardTerminate"_s, value);
}

TWinTaskCompatibility TWinTaskSettings::Compatibility() const
{
  return CompatibilityFromPlatform(pSettings->Compatibility());
}

void TWinTaskSettings::SetCompatibility(TWinTaskCompatibility value)
{
  pSettings->SetCompatibility(CompatibilityToPlatform(value));
}

int TWinTaskSettings::DeleteExpiredTaskAfter() const
{
  const QString text = pSettings->Text(u"DeleteExpiredTaskAfter"_s);
  return text.isEmpty() ? -1 : int(DurationToSeconds(text) / 3600);
}

void TWinTaskSettings::SetDeleteExpiredTaskAfter(int hours)
{
  QString text;
  if (hours == 0)
    text = u"PT0S"_s;
  else if (hours > 0)
    text = SecondsToDuration(Scaled(std::uint32_t(hours), 3600));
  pSettings->SetText(u"DeleteExpiredTaskAfter"_s, text);
}

bool TWinTaskSettings::DisallowOnBatteries() const
{
  return pSettings->Bool(u"DisallowStartIfOnBatteries"_s, true);
}

void TWinTaskSettings::SetDisallowOnBatteries(bool value)
{
  pSettings->SetBool(u"DisallowStartIfOnBatteries"_s, value);
}

std::uint32_t TWinTaskSettings::ExecutionTimeLimit() const
{
  return DurationToSeconds(pSettings->Text(u"ExecutionTimeLimit"_s)) / 3600;
}

void TWinTaskSettings::SetExecutionTimeLimit(std::uint32_t hours)
{
  pSettings->SetText(u"ExecutionTimeLimit"_s, SecondsToDuration(Scaled(hours, 3600)));
}

bool TWinTaskSettings::Hidden() const
{
  return pSettings->Bool(u"Hidden"_s, false);
}

void TWinTaskSettings::SetHidden(bool value)
{
  pSettings->SetBool(u"Hidden"_s, value);
}

TMultipleInstances TWinTaskSettings::MultipleInstances() const
{
  return MultipleInstancesFromPlatform(pSettings->MultipleInstances());
}

void TWinTaskSettings::SetMultipleInstances(TMultipleInstances value)
{
  pSettings->SetMultipleInstances(MultipleInstancesToPlatform(value));
}

TWinTaskPriority TWinTaskSettings::Priority() const
{
  return PriorityFromPlatform(pSettings->Priority());
}

void TWinTaskSettings::SetPriority(TWinTaskPriority value)
{
  pSettings->SetPriority(PriorityToPlatform(value));
}

std::uint32_t TWinTaskSettings::RestartCount() const
{
  return std::uint32_t(std::max<qint64>(0, pSettings->RestartOnFailure()->Int(u"Count"_s, 0)));
}

void TWinTaskSettings::SetRestartCount(std::uint32_t value)
{
  pSettings->RestartOnFailure()->SetInt(u"Count"_s, value);
}

std::uint32_t TWinTaskSettings::RestartInterval() const
{
  return DurationToSeconds(pSettings->RestartOnFailure()->Text(u"Interval"_s)) / 60;
}

void TWinTaskSettings::SetRestartInterval(std::uint32_t minutes)
{
  pSettings->RestartOnFailure()->SetText(u"Interval"_s, SecondsToDuration(Scaled(minutes, 60)));
}

bool TWinTaskSettings::RunIfMissed() const
{
  return pSettings->Bool(u"StartWhenAvailable"_s, false);
}

void TWinTaskSettings::SetRunIfMissed(bool value)
{
  pSettings->SetBool(u"StartWhenAvailable"_s, value);
}

bool TWinTaskSettings::RunOnlyIfIdle() const
{
  return pSettings->Bool(u"RunOnlyIfIdle"_s, false);
}

void TWinTaskSettings::SetRunOnlyIfIdle(bool value)
{
  pSettings->SetBool(u"RunOnlyIfIdle"_s, value);
}

bool TWinTaskSettings::RunOnlyIfNetwork() const
{
  return pSettings->Bool(u"RunOnlyIfNetworkAvailable"_s, false);
}

void TWinTaskSettings::SetRunOnlyIfNetwork(bool value)
{
  pSettings->SetBool(u"RunOnlyIfNetworkAvailable"_s, value);
}

bool TWinTaskSettings::StopOnBatteries() const
{
  return pSettings->Bool(u"StopIfGoingOnBatteries"_s, true);
}

void TWinTaskSettings::SetStopOnBatteries(bool value)
{
  pSettings->SetBool(u"StopIfGoingOnBatteries"_s, value);
}

bool TWinTaskSettings::WakeToRun() const
{
  return pSettings->Bool(u"WakeToRun"_s, false);
}

void TWinTaskSettings::SetWakeToRun(bool value)
{
  pSettings->SetBool(u"WakeToRun"_s, value);
}

// ---- task definitions

TWinTask::TWinTask(std::shared_ptr<scheduler::TSchedDefinition> definition)
  : pDefinition(std::move(definition)), FActions(this), FTriggers(this),
    FSettings(std::make_unique<TWinTaskSettings>(pDefinition->Settings()))
{
  Refresh();
}

TWinTask::~TWinTask() = default;

TWinTaskAction* TWinTask::NewAction(TWinTaskActionType type)
{
  TWinTaskAction* action = FActions.New(type);
  FSelectedAction = FActions.Count() - 1;
  return action;
}

bool TWinTask::DeleteAction(int index)
{
  if (index < 0 || index >= FActions.Count())
    return true;
  try {
    FActions.Remove(index);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

TWinTaskTrigger* TWinTask::NewTrigger(TWinTaskTriggerType type)
{
  TWinTaskTrigger* trigger = FTriggers.New(type);
  trigger->SetToDefault(UserId());
  return trigger;
}

bool TWinTask::DeleteTrigger(int index)
{
  if (index < 0 || index >= FTriggers.Count())
    return true;
  try {
    FTriggers.Remove(index);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void TWinTask::Refresh()
{
  FTriggers.ClearWrappers();
  FActions.ClearWrappers();
  const auto triggers = pDefinition->Triggers();
  for (int position = 1, count = triggers->Count(); position <= count; ++position)
    FTriggers.Add(triggers->Item(position));
  const auto actions = pDefinition->Actions();
  for (int position = 1, count = actions->Count(); position <= count; ++position)
    FActions.Add(actions->Item(position));
}

int TWinTask::IndexOfApp(const QString& appFilter)
{
  FSelectedAction = -1;
  for (int i = 0; i < FActions.Count(); ++i) {
    const TWinTaskAction* action = FActions.Items(i);
    if (action->ActionType() != taExec)
      continue;
    const QString path = action->Path();
    if (appFilter.size() <= path.size() && path.right(appFilter.size()).compare(appFilter, Qt::CaseInsensitive) == 0) {
      FSelectedAction = i;
      break;
    }
  }
  return FSelectedAction;
}

int TWinTask::IndexOfNextExecAction(int fromIndex)
{
  FSelectedAction = -1;
  for (int i = std::max(fromIndex, 0); i < FActions.Count(); ++i) {
    if (FActions.Items(i)->ActionType() == taExec) {
      FSelectedAction = i;
      break;
    }
  }
  return FSelectedAction;
}

QString TWinTask::Author() const
{
  return pDefinition->RegistrationInfo()->Text(u"Author"_s);
}

void TWinTask::SetAuthor(const QString& value)
{
  pDefinition->RegistrationInfo()->SetText(u"Author"_s, value);
}

QString TWinTask::Description() const
{
  return pDefinition->RegistrationInfo()->Text(u"Description"_s);
}

void TWinTask::SetDescription(const QString& value)
{
  pDefinition->RegistrationInfo()->SetText(u"Description"_s, value);
}

QString TWinTask::Documentation() const
{
  return pDefinition->RegistrationInfo()->Text(u"Documentation"_s);
}

void TWinTask::SetDocumentation(const QString& value)
{
  pDefinition->RegistrationInfo()->SetText(u"Documentation"_s, value);
}

TDateTime TWinTask::Date() const
{
  return TaskTimeToDateTime(pDefinition->RegistrationInfo()->Text(u"Date"_s));
}

void TWinTask::SetDate(TDateTime value)
{
  pDefinition->RegistrationInfo()->SetText(u"Date"_s, DateTimeToTaskTime(value, false));
}

QString TWinTask::DateAsString() const
{
  return TaskDateToText(Date());
}

QString TWinTask::DisplayName() const
{
  return pDefinition->Principal()->Text(u"DisplayName"_s);
}

void TWinTask::SetDisplayName(const QString& value)
{
  pDefinition->Principal()->SetText(u"DisplayName"_s, value);
}

QString TWinTask::GroupId() const
{
  return pDefinition->Principal()->Text(u"GroupId"_s);
}

void TWinTask::SetGroupId(const QString& value)
{
  pDefinition->Principal()->SetText(u"GroupId"_s, value);
}

QString TWinTask::Id() const
{
  return pDefinition->Principal()->Attribute(u"id"_s);
}

void TWinTask::SetId(const QString& value)
{
  pDefinition->Principal()->SetAttribute(u"id"_s, value);
}

QString TWinTask::UserId() const
{
  return pDefinition->Principal()->Text(u"UserId"_s);
}

void TWinTask::SetUserId(const QString& value)
{
  pDefinition->Principal()->SetText(u"UserId"_s, value);
}

TLogonType TWinTask::LogonType() const
{
  return LogonTypeFromPlatform(pDefinition->Principal()->LogonType());
}

void TWinTask::SetLogonType(TLogonType value)
{
  pDefinition->Principal()->SetLogonType(LogonTypeToPlatform(value));
}

bool TWinTask::HighestRunLevel() const
{
  return pDefinition->Principal()->RunLevel() == 1;
}

void TWinTask::SetHighestRunLevel(bool value)
{
  pDefinition->Principal()->SetRunLevel(value ? 1 : 0);
}

QString TWinTask::UserData() const
{
  return pDefinition->Data();
}

void TWinTask::SetUserData(const QString& value)
{
  pDefinition->SetData(value);
}

QString TWinTask::XmlText() const
{
  return pDefinition->XmlText();
}

void TWinTask::SetXmlText(const QString& value)
{
  pDefinition->SetXmlText(value);
  Refresh();
}

QString TWinTask::CompatibilityAsString() const
{
  return CompatibilityText(FSettings->Compatibility());
}

// ---- registered tasks

TWinRegisteredTask::TWinRegisteredTask(std::shared_ptr<scheduler::TSchedRegisteredTask> task)
  : pRegisteredTask(std::move(task)), FTaskName(pRegisteredTask->Name()),
    FTask(std::make_unique<TWinTask>(pRegisteredTask->Definition()))
{
}

TWinRegisteredTask::~TWinRegisteredTask() = default;

void TWinRegisteredTask::Refresh()
{
  FTask->Refresh();
}

void TWinRegisteredTask::Run()
{
  pRegisteredTask->Run();
}

void TWinRegisteredTask::Stop()
{
  pRegisteredTask->Stop();
}

bool TWinRegisteredTask::Enabled() const
{
  return pRegisteredTask->Enabled();
}

void TWinRegisteredTask::SetEnabled(bool value)
{
  pRegisteredTask->SetEnabled(value);
}

HRESULT TWinRegisteredTask::LastResult() const
{
  return pRegisteredTask->LastTaskResult();
}

TDateTime TWinRegisteredTask::LastRunTime() const
{
  return pRegisteredTask->LastRunTime();
}

TDateTime TWinRegisteredTask::NextRunTime() const
{
  return pRegisteredTask->NextRunTime();
}

QString TWinRegisteredTask::LastRunTimeAsString() const
{
  return TaskDateToText(LastRunTime());
}

QString TWinRegisteredTask::NextRunTimeAsString() const
{
  return TaskDateToText(NextRunTime());
}

int TWinRegisteredTask::NumberOfMissedRuns() const
{
  return pRegisteredTask->NumberOfMissedRuns();
}

QString TWinRegisteredTask::Path() const
{
  QString path = pRegisteredTask->Path();
  if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"')
    path = path.mid(1, path.size() - 2);
  return path;
}

TWinTaskStatus TWinRegisteredTask::Status() const
{
  return TWinTaskStatus(StatusFromPlatform(pRegisteredTask->State()));
}

QString TWinRegisteredTask::StatusAsString() const
{
  return StatusText(Status());
}

QString TWinRegisteredTask::Xml() const
{
  return pRegisteredTask->Xml();
}

// ---- folders

TWinTaskSubFolder::TWinTaskSubFolder(std::shared_ptr<scheduler::TSchedFolder> folder) : pTaskFolder(std::move(folder))
{
}

QString TWinTaskSubFolder::Name() const
{
  return pTaskFolder->Name();
}

QString TWinTaskSubFolder::Path() const
{
  return pTaskFolder->Path();
}

TWinTaskFolder::TWinTaskFolder(std::shared_ptr<scheduler::TSchedFolder> folder) : pRootFolder(std::move(folder))
{
}

TWinTaskFolder::~TWinTaskFolder() = default;

void TWinTaskFolder::ClearError()
{
  FErrorCode = S_OK;
  FErrMsg.clear();
}

void TWinTaskFolder::SetError(const ETaskSchedulerError& error)
{
  FErrorCode = error.Code();
  FErrMsg = error.Message();
}

HRESULT TWinTaskFolder::Refresh()
{
  try {
    const scheduler::TSchedTaskList tasks = pRootFolder->GetTasks(0);
    FNumTasks = int(tasks.size());
    FTasks.clear();
    for (const auto& load : tasks) {
      auto task = std::make_unique<TWinRegisteredTask>(load());
      task->SetTaskIndex(int(FTasks.size()));
      FTasks.push_back(std::move(task));
    }
    const auto folders = pRootFolder->GetFolders();
    FNumFolders = int(folders.size());
    FFolders.clear();
    for (const auto& folder : folders)
      FFolders.push_back(std::make_unique<TWinTaskSubFolder>(folder));
  } catch (const ETaskSchedulerError& error) {
    // The count covers what was listed, so that no caller reaches past the list.
    FNumTasks = int(FTasks.size());
    FNumFolders = int(FFolders.size());
    SetError(error);
    return error.Code();
  }
  FErrorCode = S_OK;
  return S_OK;
}

int TWinTaskFolder::IndexOfTask(const QString& taskName) const
{
  for (std::size_t i = 0; i < FTasks.size(); ++i)
    if (FTasks[i]->TaskName().compare(taskName, Qt::CaseInsensitive) == 0)
      return int(i);
  return -1;
}

int TWinTaskFolder::IndexOfFolder(const QString& folderName) const
{
  for (std::size_t i = 0; i < FFolders.size(); ++i)
    if (FFolders[i]->Name().compare(folderName, Qt::CaseInsensitive) == 0)
      return int(i);
  return -1;
}

int TWinTaskFolder::RegisterTask(const QString& taskName, TWinTask& task, const QString& userName,
                                 const QString& password)
{
  ClearError();
  QString user = userName;
  QString secret = password;
  const TLogonType logonType = task.LogonType();
  if (logonType == ltToken) {
    user.clear();
    secret.clear();
  } else if (logonType == ltService) {
    secret.clear();
  }
  try {
    pRootFolder->RegisterTaskDefinition(taskName, *task.Definition(), scheduler::TASK_CREATE_OR_UPDATE, user, secret,
                                        LogonTypeToPlatform(logonType), QString());
  } catch (const ETaskSchedulerError& error) {
    SetError(error);
    return -1;
  }
  Refresh();
  return IndexOfTask(taskName);
}

bool TWinTaskFolder::DeleteTask(const QString& taskName)
{
  ClearError();
  try {
    pRootFolder->DeleteTask(taskName);
  } catch (const ETaskSchedulerError& error) {
    SetError(error);
    return false;
  }
  return SUCCEEDED(Refresh());
}

int TWinTaskFolder::CreateFolder(const QString& name)
{
  ClearError();
  try {
    pRootFolder->CreateFolder(name, QString());
  } catch (const ETaskSchedulerError& error) {
    SetError(error);
    return -1;
  }
  if (FAILED(Refresh()))
    return -1;
  return IndexOfFolder(name);
}

bool TWinTaskFolder::DeleteFolder(const QString& name)
{
  ClearError();
  try {
    pRootFolder->DeleteFolder(name);
  } catch (const ETaskSchedulerError& error) {
    SetError(error);
    return false;
  }
  return SUCCEEDED(Refresh());
}

QString TWinTaskFolder::FolderName() const
{
  const QString name = pRootFolder->Name();
  return name == u"\\" ? QString() : name;
}

QString TWinTaskFolder::FolderPath() const
{
  return pRootFolder->Path();
}

} // namespace ardanto
