#pragma once

// When a task's triggers start it: the occurrences of time, daily, weekly,
// monthly and logon triggers with their start and end boundaries, day and
// week intervals and repetition; the systemd calendar expressions whose
// elapses include every occurrence; and the decision, at one moment, whether
// an occurrence is due that has not been run yet. The user timers wake the
// guard at the calendar expressions, and the guard decides with these rules,
// so that whatever a calendar expression cannot say (every third day, the
// boundaries, missed runs) still holds.

#include "scheduler/TaskPlatform.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace ardanto::scheduler {

// One trigger's schedule in plain values. Times of day follow the calendar of
// Zone: the local one, or UTC when the start boundary carried a zone (the
// scheduler's "synchronise across time zones").
struct TTriggerSchedule {
  int Type = TASK_TRIGGER_TIME; // TASK_TRIGGER_*
  bool Enabled = true;
  QDateTime Start; // invalid: none
  QDateTime End;   // invalid: none
  Qt::TimeSpec Zone = Qt::LocalTime;
  int DaysInterval = 1;
  int WeeksInterval = 1;
  int DaysOfWeek = 0;      // bit 0 Sunday ... bit 6 Saturday
  quint32 DaysOfMonth = 0; // bit 0 day 1 ... bit 30 day 31, bit 31 the last day
  int WeeksOfMonth = 0;    // bit 0 first ... bit 3 fourth week, bit 4 the last week
  int MonthsOfYear = 0;    // bit 0 January ... bit 11 December
  qint64 Interval = 0;     // repetition, seconds
  qint64 Duration = 0;     // of the repetition, seconds; 0 with an interval: indefinitely
  qint64 RandomDelay = 0;  // seconds
  qint64 Delay = 0;        // after logon, seconds
};

// A boundary text as an instant: with its zone when it has one, else local.
QDateTime ParseBoundary(const QString& text, bool* hasZone = nullptr);
TTriggerSchedule ScheduleOf(const TSchedTrigger& trigger);
// Whether the kind has occurrences the guard can compute (time, daily,
// weekly, both monthly kinds, logon).
bool IsSchedulable(int type);

// The latest occurrence in (after, until], or an invalid time. A logon trigger
// occurs Delay after logon, when that is known.
QDateTime LatestOccurrence(const TTriggerSchedule& schedule, const QDateTime& after, const QDateTime& until,
                           const QDateTime& logon = {});
// The first occurrence after the given moment within the next eight years, or
// an invalid time; logon triggers have none that can be foreseen.
QDateTime NextOccurrence(const TTriggerSchedule& schedule, const QDateTime& after);

// OnCalendar= expressions for a trigger. Exact: their elapses from the start
// boundary to the end boundary are the occurrences themselves; otherwise they
// are more, and the guard turns the others down.
struct TCalendarMapping {
  QStringList Lines;
  bool Exact = true;
};
TCalendarMapping CalendarLines(const TTriggerSchedule& schedule);

// Seconds an occurrence may lie behind the moment the timer wakes for it and
// still count as on time (besides the trigger's random delay).
constexpr qint64 kOnTimeGraceSeconds = 60;

struct TRunCheck {
  QDateTime Now;
  QDateTime LastHandled; // the last occurrence run, or the registration; invalid: unknown
  QDateTime LogonTime;   // when the user's manager started; invalid: unknown
  bool NetworkAvailable = true;
};

struct TRunDecision {
  bool Due = false;
  QDateTime Occurrence; // the occurrence that is due (or was looked at)
  QString Reason;       // why not, for the journal
};

// Whether the definition has an occurrence due now that was not run yet: the
// latest occurrence after the last one handled, on time or, with "run if
// missed", late; not when the task is disabled or wants a network there is none of.
TRunDecision DecideScheduledRun(const TSchedDefinition& definition, const TRunCheck& check);

} // namespace ardanto::scheduler
