#include "scheduler/editor/ScheduleValues.h"

#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/Translate.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kMsPerDay = 86400000;
// 1899-12-30, day 0 of a TDateTime; a plain number, as values are converted
// during static initialisation too.
constexpr qint64 kEpochJulianDay = 2415019;

qint64 Milliseconds(TDateTime value)
{
  return std::llround(value * double(kMsPerDay));
}

TDateTime FromMilliseconds(qint64 ms)
{
  return double(ms) / double(kMsPerDay);
}

// Days and the milliseconds into the day, also for values before the epoch.
void Split(TDateTime value, qint64& days, qint64& ms)
{
  const qint64 total = Milliseconds(value);
  days = total / kMsPerDay;
  ms = total % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --days;
  }
}

TNumberField Field(int number, int unit, int limit, int step)
{
  return TNumberField{std::min(number, limit), unit, limit, step};
}

} // namespace

// ---- dates and times

TDateTime DateTimeOf(const QDate& date, const QTime& time)
{
  if (!date.isValid())
    return 0;
  const qint64 days = date.toJulianDay() - kEpochJulianDay;
  return FromMilliseconds(days * kMsPerDay + (time.isValid() ? time.msecsSinceStartOfDay() : 0));
}

QDate DateOf(TDateTime value)
{
  qint64 days = 0, ms = 0;
  Split(value, days, ms);
  return QDate::fromJulianDay(days + kEpochJulianDay);
}

QTime TimeOf(TDateTime value)
{
  qint64 days = 0, ms = 0;
  Split(value, days, ms);
  return QTime::fromMSecsSinceStartOfDay(int(ms));
}

TDateTime TruncateToMinute(TDateTime value)
{
  qint64 days = 0, ms = 0;
  Split(value, days, ms);
  return FromMilliseconds(days * kMsPerDay + ms / 60000 * 60000);
}

TDateTime SavedStart(const QDate& date, const QTime& time)
{
  if (!date.isValid())
    return 0;
  const qint64 ms = time.isValid() ? time.msecsSinceStartOfDay() : 0;
  return FromMilliseconds((date.toJulianDay() - kEpochJulianDay) * kMsPerDay + (ms + 30000) / 60000 * 60000);
}

// ---- defaults

TAdvancedSettings TAdvancedSettings::Defaults(TDateTime now)
{
  TAdvancedSettings settings;
  settings.EndDate = now;
  return settings;
}

TScheduleValues TScheduleValues::Defaults(TDateTime now, const QString& samUserName)
{
  TScheduleValues values;
  values.ScheduleLabel = _("New schedule");
  values.StartDate = DateOf(now);
  values.StartTime = TimeOf(now);
  values.UserName = samUserName;
  values.LogonUser = samUserName;
  values.Advanced = TAdvancedSettings::Defaults(now);
  return values;
}

// ---- number fields

QStringList DelayUnitTexts()
{
  return {_("hour(s)"), _("minute(s)"), _("seconds(s)")};
}

QStringList RepeatUnitTexts()
{
  return {_("hour(s)"), _("minute(s)")};
}

QStringList LimitUnitTexts()
{
  return {_("day(s)"), _("hour(s)"), _("minute(s)")};
}

TNumberField DelayField(std::uint32_t seconds)
{
  const int value = int(std::min<std::uint32_t>(seconds, 0x7FFFFFFF));
  if (value % 3600 == 0 || value >= 43200)
    return Field(value / 3600, duHours, 24, 1);
  if (value % 60 != 0 && value < 1800)
    return Field(value, duSeconds, 599, 10);
  return Field(value / 60, duMinutes, 719, 10);
}

TNumberField DelayUnitPicked(int unit)
{
  switch (unit) {
  case duHours:
    return {1, duHours, 24, 1};
  case duMinutes:
    return {1, duMinutes, 719, 10};
  default:
    return {30, duSeconds, 599, 10};
  }
}

std::uint32_t DelaySeconds(const TNumberField& field)
{
  const auto number = std::uint32_t(std::max(field.Number, 0));
  switch (field.Unit) {
  case duHours:
    return number * 3600;
  case duMinutes:
    return number * 60;
  default:
    return number;
  }
}

TNumberField RepeatField(int minutes)
{
  if (minutes % 60 != 0)
    return Field(minutes, ruMinutes, 1439, 10);
  return Field(minutes / 60, ruHours, 167, 1);
}

TNumberField RepeatUnitPicked(int unit)
{
  return unit == ruMinutes ? TNumberField{30, ruMinutes, 1439, 10} : TNumberField{1, ruHours, 167, 1};
}

int RepeatMinutes(const TNumberField& field)
{
  return field.Unit == ruMinutes ? field.Number : field.Number * 60;
}

TNumberField LimitField(int minutes)
{
  if (minutes % 1440 == 0 || minutes >= 10080)
    return Field(minutes / 1440, luDays, 365, 1);
  if (minutes % 60 != 0 && minutes < 1440)
    return Field(minutes, luMinutes, 1439, 10);
  return Field(minutes / 60, luHours, 167, 1);
}

TNumberField LimitUnitPicked(int unit)
{
  switch (unit) {
  case luDays:
    return {3, luDays, 3650, 1};
  case luHours:
    return {6, luHours, 167, 1};
  default:
    return {30, luMinutes, 1439, 10};
  }
}

int LimitMinutes(const TNumberField& field)
{
  switch (field.Unit) {
  case luDays:
    return field.Number * 1440;
  case luHours:
    return field.Number * 60;
  default:
    return field.Number;
  }
}

TDelayValue TDelayValue::FromSeconds(std::uint32_t seconds)
{
  // No delay keeps the field's default for when the box is checked.
  TDelayValue delay;
  if (seconds != 0) {
    delay.Checked = true;
    delay.Value = DelayField(seconds);
  }
  return delay;
}

TAdvancedFields AdvancedFieldsOf(const TAdvancedSettings& settings, const QDate& today)
{
  TAdvancedFields fields;
  fields.Expire = settings.UseEndDate;
  if (settings.UseEndDate) {
    fields.ExpireDate = DateOf(settings.EndDate);
    fields.ExpireTime = TimeOf(settings.EndDate);
  } else {
    fields.ExpireDate = today.addDays(QDate::isLeapYear(today.year()) ? 366 : 365);
    fields.ExpireTime = QTime(12, 0);
  }
  fields.Repeat = settings.RepeatTask;
  fields.Interval = RepeatField(settings.MinutesInterval);
  fields.Duration = RepeatField(settings.MinutesDuration);
  fields.StopAtEnd = settings.StopEndDuration;
  fields.Limit = settings.UseLimit;
  fields.LimitValue = LimitField(settings.MinutesLimit);
  fields.ReRun = settings.ReRun;
  fields.PowerOnly = settings.PowerOnly;
  fields.StopBattery = settings.PowerOnly && settings.StopBattery;
  fields.WakeUp = settings.WakeUp;
  fields.NetworkOnly = settings.NetworkOnly;
  return fields;
}

void ApplyAdvancedFields(const TAdvancedFields& fields, TAdvancedSettings& settings)
{
  settings.UseEndDate = fields.Expire;
  settings.EndDate = TruncateToMinute(DateTimeOf(fields.ExpireDate, fields.ExpireTime));
  settings.RepeatTask = fields.Repeat;
  settings.MinutesInterval = RepeatMinutes(fields.Interval);
  settings.MinutesDuration = RepeatMinutes(fields.Duration);
  settings.StopEndDuration = fields.StopAtEnd;
  settings.UseLimit = fields.Limit;
  settings.MinutesLimit = LimitMinutes(fields.LimitValue);
  settings.ReRun = fields.ReRun;
  settings.PowerOnly = fields.PowerOnly;
  settings.StopBattery = fields.PowerOnly && fields.StopBattery;
  settings.WakeUp = fields.WakeUp;
  settings.NetworkOnly = fields.NetworkOnly;
}

// ---- masks and texts

int WeekdayListToScheduler(int listMask)
{
  return ((listMask << 1) | ((listMask >> 6) & 1)) & 0x7F;
}

int SchedulerToWeekdayList(int schedulerMask)
{
  return ((schedulerMask >> 1) | ((schedulerMask & 1) << 6)) & 0x7F;
}

int KeepOneWeekday(int schedulerMask)
{
  return (schedulerMask & 0x7F) == 0 ? kSchedMonday : schedulerMask;
}

int KeepOneMonth(int monthMask)
{
  return (monthMask & kAllMonths) == 0 ? 1 : monthMask;
}

QString DefaultWakeUpQuery()
{
  return u"<QueryList><Query Id=\"0\" Path=\"System\"><Select Path=\"System\">*[System[Provider[@Name='Microsoft-"
         u"Windows-Kernel-Power'] and (EventID=107 or EventID=507)]]</Select></Query></QueryList>"_s;
}

QString QueryForEditing(const QString& query)
{
  QString text = query;
  return text.replace(u"><"_s, u">\n<"_s);
}

QString QueryFromEditing(const QString& text)
{
  QString query = text;
  query.remove(u'\r');
  query.remove(u'\n');
  return query;
}

TWinTaskTriggerType TriggerTypeOf(const TScheduleValues& values)
{
  switch (values.Kind) {
  case skDaily:
    return ttDaily;
  case skWeekly:
    return ttWeekly;
  case skMonthly:
    return values.ByDays ? ttMonthly : ttMonthlyDow;
  case skOneTime:
    return ttTime;
  case skLogon:
    return ttLogon;
  case skWakeUp:
    return ttEvent;
  }
  return ttDaily;
}

QString EventPageTitle(TScheduleKind kind)
{
  return kind == skLogon ? _("On logon of:") : _("On waking up the computer:");
}

QString OrdinalText(int number)
{
  switch (number) {
  case 1:
    return _("1st ");
  case 2:
    return _("2nd ");
  case 3:
    return _("3rd ");
  default:
    return QString::number(number) + _("th ");
  }
}

QString QuoteIfSpace(const QString& text)
{
  return text.contains(u' ') ? u'"' + text + u'"' : text;
}

QString ActionProgramPath(const QString& currentPath, const QString& programPath, bool newTask)
{
  if (newTask || currentPath.isEmpty())
    return QuoteIfSpace(programPath);
  const QFileInfo current(DequoteTaskPath(currentPath));
  const QFileInfo program(programPath);
  if (current.path().compare(program.path(), Qt::CaseInsensitive) == 0)
    return QuoteIfSpace(current.filePath());
  return QuoteIfSpace(program.path() + u'/' + current.fileName());
}

TScheduleEnvironment TScheduleEnvironment::Current()
{
  TScheduleEnvironment env;
  env.ProgramPath = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
  env.UserName = ardanto::UserName();
  env.SamUserName = ardanto::SamUserName();
  if (env.SamUserName.isEmpty())
    env.SamUserName = env.UserName;
  env.Now = [] { return DateTimeNow(); };
  return env;
}

// ---- loading

bool LoadScheduleValues(TWinTask& task, const QString& taskName, const TScheduleEnvironment& env,
                        TScheduleValues& values, QString& error)
{
  const TDateTime now = env.Now();
  values = TScheduleValues::Defaults(now, env.SamUserName);
  values.TaskName = taskName;
  values.Description = task.Description();
  values.LoggedOnUser = task.LogonType() == ltToken;
  values.HighestPrivileges = task.HighestRunLevel();
  if (const int exec = task.IndexOfNextExecAction(0); exec >= 0)
    values.WorkingDirectory = DequoteTaskPath(task.GetAction(exec)->WorkingDirectory());
  values.UserName = task.UserId();
  if (values.UserName.isEmpty() && values.LoggedOnUser)
    values.UserName = env.SamUserName;
  values.LogonUser = values.UserName.isEmpty() ? env.SamUserName : values.UserName;

  TAdvancedSettings& advanced = values.Advanced;
  const TWinTaskSettings& settings = *task.Settings();
  advanced.ReRun = settings.RunIfMissed();
  advanced.PowerOnly = settings.DisallowOnBatteries();
  advanced.StopBattery = settings.StopOnBatteries();
  advanced.WakeUp = settings.WakeToRun();
  advanced.NetworkOnly = settings.RunOnlyIfNetwork();

  if (task.TriggerCount() == 0) {
    values.NewTrigger = true;
    values.Kind = skDaily;
    return true;
  }
  const TWinTaskTrigger& trigger = *task.GetTrigger(0);
  const TWinTaskTriggerType type = trigger.TriggerType();
  if (type == ttLogon ? trigger.LogonUserId().isEmpty()
                      : type != ttEvent && type != ttTime && type != ttDaily && type != ttWeekly && type != ttMonthly &&
                            type != ttMonthlyDow) {
    error = SafeFormat(_("The trigger mode \"%s\" is not supported by Ardanto.\r\nPlease use the Windows Task "
                         "Scheduler for editing!"),
                       {TriggerTypeText(type)});
    return false;
  }
  values.NewTrigger = false;
  values.LoadedType = type;
  values.ScheduleLabel = OrdinalText(1) + u' ' + _("Schedule");
  values.ScheduleEnabled = trigger.Enabled();

  TDateTime start = trigger.StartTime();
  if (start < 1) {
    start = TruncateToMinute(now);
    values.Activate = false;
  }
  values.StartDate = DateOf(start);
  values.StartTime = TimeOf(start);

  const TDateTime end = trigger.EndTime();
  advanced.UseEndDate = end > now;
  advanced.EndDate = advanced.UseEndDate ? DateTimeOf(DateOf(end), QTime(23, 59, 59)) : task.Date() + 366 - 1.0 / 86400;
  // Numbers of options that are off keep their defaults for when they are switched on.
  advanced.RepeatTask = trigger.Interval() != 0;
  if (advanced.RepeatTask) {
    advanced.MinutesInterval = int(trigger.Interval() / 60);
    advanced.MinutesDuration = int(trigger.Duration() / 60);
  }
  advanced.StopEndDuration = trigger.StopAtDurationEnd();
  advanced.UseLimit = trigger.ExecutionTimeLimit() != 0;
  if (advanced.UseLimit)
    advanced.MinutesLimit = int(trigger.ExecutionTimeLimit() / 60);

  switch (type) {
  case ttEvent:
    values.Kind = skWakeUp;
    values.Query = trigger.Subscription();
    values.EventDelay = TDelayValue::FromSeconds(trigger.Delay());
    break;
  case ttTime:
    values.Kind = skOneTime;
    values.RandomDelay = TDelayValue::FromSeconds(trigger.RandomDelay());
    break;
  case ttDaily:
    values.Kind = skDaily;
    values.EveryDay = trigger.DaysInterval() == 1;
    if (!values.EveryDay)
      values.DaysInterval = std::clamp(trigger.DaysInterval(), 2, 99);
    break;
  case ttWeekly:
    values.Kind = skWeekly;
    values.WeeksInterval = std::clamp(trigger.WeeksInterval(), 1, 99);
    values.WeekDays = trigger.DaysOfWeek() & 0x7F;
    break;
  case ttMonthly:
    values.Kind = skMonthly;
    values.ByDays = true;
    values.MonthDays = trigger.DaysOfMonth();
    values.Months = trigger.MonthsOfYear();
    break;
  case ttMonthlyDow:
    values.Kind = skMonthly;
    values.ByDays = false;
    values.MonthWeeks = trigger.WeeksOfMonth();
    values.MonthWeekDays = SchedulerToWeekdayList(trigger.DaysOfWeek());
    values.Months = trigger.MonthsOfYear();
    break;
  case ttLogon:
    values.Kind = skLogon;
    values.EventDelay = TDelayValue::FromSeconds(trigger.Delay());
    values.LogonUser = trigger.LogonUserId();
    break;
  default:
    break;
  }
  return true;
}

// ---- saving

QStringList SaveScheduleValues(const TScheduleValues& values, TWinTask& task, const QString& taskName,
                               const TSaveOptions& options, const TScheduleEnvironment& env)
{
  QStringList messages;
  task.SetDescription(values.Description);
  task.SetUserData(options.UserDataKey);
  task.SetLogonType(values.LoggedOnUser ? ltToken : ltPassword);
  task.SetHighestRunLevel(values.HighestPrivileges);
  TWinTaskSettings& settings = *task.Settings();
  const TAdvancedSettings& advanced = values.Advanced;
  settings.SetRunIfMissed(advanced.ReRun);
  settings.SetDisallowOnBatteries(advanced.PowerOnly);
  settings.SetStopOnBatteries(advanced.StopBattery);
  settings.SetWakeToRun(advanced.WakeUp);
  settings.SetRunOnlyIfNetwork(advanced.NetworkOnly);
  if (!options.NewTask && settings.Compatibility() < tcVista)
    settings.SetCompatibility(DefaultCompatibility());

  const int exec = task.IndexOfNextExecAction(0);
  TWinTaskAction& action = exec >= 0 ? *task.GetAction(exec) : *task.NewAction(taExec);
  action.SetPath(ActionProgramPath(action.Path(), env.ProgramPath, options.NewTask));
  action.SetWorkingDirectory(options.NewTask ? QString() : QuoteIfSpace(values.WorkingDirectory));
  if (options.UseOptions)
    action.SetArguments(options.Options);

  const TWinTaskTriggerType type = TriggerTypeOf(values);
  TWinTaskTrigger* trigger = nullptr;
  if (task.TriggerCount() == 0) {
    trigger = task.NewTrigger(type);
  } else if (task.GetTrigger(0)->TriggerType() == type) {
    trigger = task.GetTrigger(0);
  } else if (task.DeleteTrigger(0)) {
    trigger = task.NewTrigger(type);
  } else {
    messages.append(SafeFormat(_("Could not delete trigger (%u)\r\nTask: "), {0u}) + taskName);
    trigger = task.GetTrigger(0);
  }
  trigger->SetEnabled(values.ScheduleEnabled);

  const TDateTime start = SavedStart(values.StartDate, values.StartTime);
  if (advanced.UseEndDate)
    trigger->SetEndTime(advanced.EndDate > start ? advanced.EndDate : start + 1.0 / 1440);
  else
    trigger->SetEndTime(0);
  trigger->SetStopAtDurationEnd(advanced.StopEndDuration);
  if (advanced.RepeatTask) {
    trigger->SetDuration(std::uint32_t(std::max(advanced.MinutesDuration, 0)) * 60);
    trigger->SetInterval(std::uint32_t(std::max(advanced.MinutesInterval, 0)) * 60);
  } else {
    trigger->SetDuration(0);
    trigger->SetInterval(0);
  }
  trigger->SetExecutionTimeLimit(advanced.UseLimit ? std::uint32_t(std::max(advanced.MinutesLimit, 0)) * 60 : 0);

  switch (values.Kind) {
  case skOneTime:
    trigger->SetRandomDelay(values.RandomDelay.Seconds());
    break;
  case skDaily:
    trigger->SetDaysInterval(values.EveryDay ? 1 : values.DaysInterval);
    break;
  case skWeekly:
    trigger->SetWeeksInterval(values.WeeksInterval);
    trigger->SetDaysOfWeek(KeepOneWeekday(values.WeekDays) & 0x7F);
    break;
  case skMonthly:
    if (values.ByDays) {
      trigger->SetDaysOfMonth(values.MonthDays != 0 ? values.MonthDays : 1u);
    } else {
      trigger->SetWeeksOfMonth((values.MonthWeeks & 0x1F) != 0 ? values.MonthWeeks & 0x1F : 1);
      trigger->SetDaysOfWeek(KeepOneWeekday(WeekdayListToScheduler(values.MonthWeekDays)));
    }
    trigger->SetMonthsOfYear(KeepOneMonth(values.Months) & kAllMonths);
    break;
  case skWakeUp:
    trigger->SetSubscription(values.Query);
    trigger->SetDelay(values.EventDelay.Seconds());
    break;
  case skLogon:
    trigger->SetLogonUserId(values.LogonUser);
    trigger->SetDelay(values.EventDelay.Seconds());
    break;
  }

  const bool eventKind = values.Kind == skLogon || values.Kind == skWakeUp;
  trigger->SetStartTime(eventKind && !values.Activate ? 0 : start);
  return messages;
}

} // namespace ardanto
