#pragma once

// What the schedule wizard shows and edits, without any widget: the values of
// its pages and of the advanced options, their defaults, the number fields
// with their units and limits, the weekday masks, and the rules that load a
// task's first trigger into the values and write the values back into the
// task. The wizard's windows only bind controls to these values.

#include "common/DateTimeUtils.h"
#include "common/HResult.h"
#include "scheduler/WinTask.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <functional>

namespace ardanto {

// The backup actions the wizard schedules; the mail program uses only this one.
enum TProgAction : int { paQuillbox };

// The advanced options of a trigger and of the task's settings. The defaults
// are set each time the wizard opens.
struct TAdvancedSettings {
  bool UseEndDate = false;
  bool RepeatTask = false;
  bool StopEndDuration = false;
  bool UseLimit = false;
  bool ReRun = false;
  bool PowerOnly = true;
  bool StopBattery = true;
  bool WakeUp = false;
  bool NetworkOnly = false;
  TDateTime EndDate = 0;
  int MinutesLimit = 4320;
  int MinutesInterval = 60;
  int MinutesDuration = 480;

  static TAdvancedSettings Defaults(TDateTime now);
};

// The items of "Perform this task:", in their order.
enum TScheduleKind : int { skDaily, skWeekly, skMonthly, skOneTime, skLogon, skWakeUp };

// A number with a unit chosen from a list, as the wizard's delay, repetition
// and time-limit fields show it.
struct TNumberField {
  int Number = 0;
  int Unit = 0; // index into the field's unit list
  int Limit = 0;
  int Step = 1;
};

// Delays: "hour(s)", "minute(s)", "seconds(s)".
enum TDelayUnit : int { duHours, duMinutes, duSeconds };
// Repetition interval and duration: "hour(s)", "minute(s)".
enum TRepeatUnit : int { ruHours, ruMinutes };
// Time limit: "day(s)", "hour(s)", "minute(s)".
enum TLimitUnit : int { luDays, luHours, luMinutes };

QStringList DelayUnitTexts();
QStringList RepeatUnitTexts();
QStringList LimitUnitTexts();

// A delay in seconds with the unit that fits it: hours for whole hours or
// 43200 s and more, seconds below 1800 s when not whole minutes, else minutes.
TNumberField DelayField(std::uint32_t seconds);
// The number a delay field is reset to when its unit is picked.
TNumberField DelayUnitPicked(int unit);
std::uint32_t DelaySeconds(const TNumberField& field);

// Repetition minutes: in minutes when not whole hours, else in hours.
TNumberField RepeatField(int minutes);
TNumberField RepeatUnitPicked(int unit);
int RepeatMinutes(const TNumberField& field);

// Time-limit minutes: days for whole days or a week and more; minutes below a
// day when not whole hours; else hours.
TNumberField LimitField(int minutes);
TNumberField LimitUnitPicked(int unit);
int LimitMinutes(const TNumberField& field);

// A delay of a page: its check box and its number.
struct TDelayValue {
  bool Checked = false;
  TNumberField Value = DelayField(30);

  static TDelayValue FromSeconds(std::uint32_t seconds);
  std::uint32_t Seconds() const { return Checked ? DelaySeconds(Value) : 0; }
};

// What the advanced options dialog shows of a TAdvancedSettings.
struct TAdvancedFields {
  bool Expire = false;
  QDate ExpireDate;
  QTime ExpireTime; // "HH:mm"
  bool Repeat = false;
  TNumberField Interval;
  TNumberField Duration;
  bool StopAtEnd = false;
  bool Limit = false;
  TNumberField LimitValue;
  bool ReRun = false;
  bool PowerOnly = true;
  bool StopBattery = true; // unchecked while PowerOnly is off
  bool WakeUp = false;
  bool NetworkOnly = false;
};
// An expiry that is off is shown as today plus the length of this year, at 12:00.
TAdvancedFields AdvancedFieldsOf(const TAdvancedSettings& settings, const QDate& today);
void ApplyAdvancedFields(const TAdvancedFields& fields, TAdvancedSettings& settings);

// Weekday masks. The scheduler counts Sunday as bit 0 (Monday bit 1 ...
// Saturday bit 6); the check list of the monthly page counts Monday as bit 0
// and Sunday as bit 6.
constexpr int kSchedSunday = 1;
constexpr int kSchedMonday = 2;
int WeekdayListToScheduler(int listMask);
int SchedulerToWeekdayList(int schedulerMask);
// The scheduler's bit of a weekday box, 0 = Monday ... 6 = Sunday.
constexpr int WeekdayBoxBit(int box)
{
  return 1 << ((box + 1) % 7);
}
// After a click on a day or month box: none left checked brings back Monday
// or January.
int KeepOneWeekday(int schedulerMask);
int KeepOneMonth(int monthMask);

constexpr int kAllMonths = 0xFFF;
constexpr std::uint32_t kLastDayOfMonth = 0x80000000u; // bit 31 of the day list
constexpr int kLastWeekOfMonth = 16;                   // bit 4 of the week list

// The wake-up kind's event query, and its display with a line after each "><".
QString DefaultWakeUpQuery();
QString QueryForEditing(const QString& query);
QString QueryFromEditing(const QString& text);

// The values of all pages.
struct TScheduleValues {
  QString TaskName; // read-only, at the top of the window
  QString ScheduleLabel;
  TScheduleKind Kind = skDaily;
  QDate StartDate;
  QTime StartTime; // seconds kept until the time is edited
  bool ScheduleEnabled = true;

  // Daily.
  bool EveryDay = true;
  int DaysInterval = 2;
  // Weekly.
  int WeeksInterval = 1;
  int WeekDays = kSchedMonday; // scheduler mask
  // Monthly.
  bool ByDays = true;          // "Days:"; false: "On:"
  std::uint32_t MonthDays = 0; // scheduler mask, bit 31 the last day
  int MonthWeeks = 1;          // first week; bit 4 the last week
  int MonthWeekDays = 1;       // list mask: Monday
  int Months = kAllMonths;
  // One time only.
  TDelayValue RandomDelay;
  // Logon and wake-up.
  bool Activate = true;
  TDelayValue EventDelay;
  QString LogonUser;
  QString Query = DefaultWakeUpQuery();

  // User account.
  QString Description;
  bool LoggedOnUser = true; // "As logged-on user"; false: "As any user with password"
  QString UserName;
  QString Password;
  bool HighestPrivileges = false;
  QString WorkingDirectory; // dequoted

  TAdvancedSettings Advanced;

  // What loading found: whether saving makes a new trigger, and the kind of
  // the one it loaded.
  bool NewTrigger = true;
  TWinTaskTriggerType LoadedType = ttDaily;

  static TScheduleValues Defaults(TDateTime now, const QString& samUserName);
};

// The kind of trigger a schedule kind writes.
TWinTaskTriggerType TriggerTypeOf(const TScheduleValues& values);
// The event page's title: "On logon of:" or "On waking up the computer:".
QString EventPageTitle(TScheduleKind kind);
// "1st ", "2nd ", "3rd ", else the number and "th ".
QString OrdinalText(int number);

// The full start being saved: the date and the time rounded to the nearest minute.
TDateTime SavedStart(const QDate& date, const QTime& time);
TDateTime DateTimeOf(const QDate& date, const QTime& time);
QDate DateOf(TDateTime value);
QTime TimeOf(TDateTime value);
TDateTime TruncateToMinute(TDateTime value);

// What the wizard needs from the machine; tests give their own.
struct TScheduleEnvironment {
  QString ProgramPath; // the running program
  QString UserName;    // plain user name
  QString SamUserName; // "DOMAIN\user" where there are domains, else the user name
  std::function<TDateTime()> Now;

  static TScheduleEnvironment Current();
};

// Shows the task and its first trigger: defaults first, then the task's
// values. False, with the message, when the trigger is of a kind that cannot
// be edited here.
bool LoadScheduleValues(TWinTask& task, const QString& taskName, const TScheduleEnvironment& env,
                        TScheduleValues& values, QString& error);

struct TSaveOptions {
  bool NewTask = false;
  bool UseOptions = false; // the arguments become Options (new task, or one found by its name)
  QString Options;
  QString UserDataKey;
};

// Writes the values into the task through the object model; registering is
// the caller's. Returns the messages of steps that could not be done (a
// trigger that could not be deleted) for the caller to show.
QStringList SaveScheduleValues(const TScheduleValues& values, TWinTask& task, const QString& taskName,
                               const TSaveOptions& options, const TScheduleEnvironment& env);

// The program path an action gets: the running program for a new task; for an
// existing one its own path, with the folder replaced by the running
// program's when that differs (case-insensitively). Quoted when it holds a blank.
QString ActionProgramPath(const QString& currentPath, const QString& programPath, bool newTask);
QString QuoteIfSpace(const QString& text);

} // namespace ardanto
