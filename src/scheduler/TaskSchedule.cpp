#include "scheduler/TaskSchedule.h"

#include "common/Translate.h"
#include "scheduler/WinTask.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kDay = 86400;
// How far back occurrences are looked for, and forward for the next one.
constexpr qint64 kLookBackDays = 400;
constexpr qint64 kLookAheadDays = 8 * 366;

// Occurrences are worked out on the wall clock of the trigger's calendar, as
// seconds of a clock without zone: a daily 08:15 stays 08:15 across a change
// to summer time, and repetitions step through the wall clock as the
// calendar expressions do.
qint64 WallOf(const QDateTime& instant, Qt::TimeSpec zone)
{
  const QDateTime wall = instant.toTimeSpec(zone);
  return QDateTime(wall.date(), QTime(wall.time().hour(), wall.time().minute(), wall.time().second()), Qt::UTC)
      .toSecsSinceEpoch();
}

QDateTime InstantOf(qint64 wall, Qt::TimeSpec zone)
{
  const QDateTime naive = QDateTime::fromSecsSinceEpoch(wall, Qt::UTC);
  return QDateTime(naive.date(), naive.time(), zone);
}

QDate DateOf(qint64 wall)
{
  return QDateTime::fromSecsSinceEpoch(wall, Qt::UTC).date();
}

qint64 WallAt(const QDate& date, qint64 secondOfDay)
{
  return QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + secondOfDay;
}

// What is fixed for one search: the start on the wall clock, the end, the
// repetition window.
struct TPattern {
  const TTriggerSchedule& S;
  qint64 StartWall = 0;
  QDate StartDate;
  qint64 TimeOfDay = 0;
  std::optional<qint64> EndWall;

  explicit TPattern(const TTriggerSchedule& schedule) : S(schedule)
  {
    if (S.Start.isValid()) {
      StartWall = WallOf(S.Start, S.Zone);
      StartDate = DateOf(StartWall);
      TimeOfDay = StartWall - WallAt(StartDate, 0);
    }
    if (S.End.isValid())
      EndWall = WallOf(S.End, S.Zone);
  }

  bool Repeats() const { return S.Interval > 0; }
  bool Indefinite() const { return Repeats() && S.Duration <= 0; }
  qint64 WindowDays() const
  {
    if (!Repeats())
      return 0;
    return Indefinite() ? kLookBackDays : (S.Duration + kDay - 1) / kDay;
  }

  bool DayQualifies(const QDate& day) const
  {
    if (!StartDate.isValid() || day < StartDate)
      return false;
    const qint64 days = StartDate.daysTo(day);
    const int weekdayBit = day.dayOfWeek() % 7; // Sunday is bit 0
    switch (S.Type) {
    case TASK_TRIGGER_DAILY:
      return days % std::max(1, S.DaysInterval) == 0;
    case TASK_TRIGGER_WEEKLY: {
      if (!(S.DaysOfWeek & (1 << weekdayBit)))
        return false;
      // Weeks run from Sunday, the first day of the scheduler's weekday mask.
      const QDate firstWeek = StartDate.addDays(-(StartDate.dayOfWeek() % 7));
      const QDate thisWeek = day.addDays(-weekdayBit);
      return firstWeek.daysTo(thisWeek) / 7 % std::max(1, S.WeeksInterval) == 0;
    }
    case TASK_TRIGGER_MONTHLY:
      if (!(S.MonthsOfYear & (1 << (day.month() - 1))))
        return false;
      return (S.DaysOfMonth & (1u << (day.day() - 1))) ||
             ((S.DaysOfMonth & 0x80000000u) && day.day() == day.daysInMonth());
    case TASK_TRIGGER_MONTHLYDOW:
      if (!(S.MonthsOfYear & (1 << (day.month() - 1))) || !(S.DaysOfWeek & (1 << weekdayBit)))
        return false;
      return ((day.day() - 1) / 7 < 4 && (S.WeeksOfMonth & (1 << ((day.day() - 1) / 7)))) ||
             ((S.WeeksOfMonth & 16) && day.day() > day.daysInMonth() - 7);
    default:
      return false;
    }
  }

  // The latest point of the repetitions from base in (after, until].
  std::optional<qint64> LatestFrom(qint64 base, qint64 after, qint64 until) const
  {
    if (base > until)
      return std::nullopt;
    qint64 k = 0;
    if (Repeats()) {
      k = (until - base) / S.Interval;
      if (!Indefinite())
        k = std::min(k, (S.Duration - 1) / S.Interval);
      if (EndWall) {
        if (*EndWall < base)
          return std::nullopt;
        k = std::min(k, (*EndWall - base) / S.Interval);
      }
    } else if (EndWall && base > *EndWall) {
      return std::nullopt;
    }
    const qint64 point = base + k * S.Interval;
    return point > after ? std::optional<qint64>(point) : std::nullopt;
  }

  // The first point of the repetitions from base after the given moment.
  std::optional<qint64> FirstFrom(qint64 base, qint64 after) const
  {
    qint64 point = base;
    if (base <= after) {
      if (!Repeats())
        return std::nullopt;
      const qint64 k = (after - base) / S.Interval + 1;
      if (!Indefinite() && k * S.Interval >= S.Duration)
        return std::nullopt;
      point = base + k * S.Interval;
    }
    if (EndWall && point > *EndWall)
      return std::nullopt;
    return point;
  }
};

QString Two(qint64 value)
{
  return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString TimeText(qint64 secondOfDay)
{
  return Two(secondOfDay / 3600) + u':' + Two(secondOfDay / 60 % 60) + u':' + Two(secondOfDay % 60);
}

QString MonthList(int months)
{
  if ((months & 0xFFF) == 0xFFF)
    return u"*"_s;
  QStringList list;
  for (int month = 0; month < 12; ++month)
    if (months & (1 << month))
      list.append(Two(month + 1));
  return list.join(u',');
}

QString WeekdayList(int days)
{
  static const char16_t* const names[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  QStringList list;
  for (int day = 0; day < 7; ++day)
    if (days & (1 << day))
      list.append(QString::fromUtf16(names[day]));
  return list.join(u',');
}

// Every point of a repetition lies on a grid of gcd(interval, one day) from
// the start's time of day; the grid repeats every day.
QString RepetitionGrid(qint64 interval, qint64 timeOfDay)
{
  const qint64 step = std::gcd(interval, kDay);
  const qint64 hour = timeOfDay / 3600;
  const qint64 minute = timeOfDay / 60 % 60;
  const qint64 second = timeOfDay % 60;
  if (step % 3600 == 0) {
    const qint64 hours = step / 3600;
    return Two(hour % hours) + u'/' + QString::number(hours) + u':' + Two(minute) + u':' + Two(second);
  }
  if (step % 60 == 0) {
    const qint64 minutes = std::gcd(step / 60, qint64(60));
    return u"*:"_s + Two(minute % minutes) + u'/' + QString::number(minutes) + u':' + Two(second);
  }
  const qint64 seconds = std::gcd(step, qint64(60));
  return u"*:*:"_s + Two(second % seconds) + u'/' + QString::number(seconds);
}

} // namespace

QDateTime ParseBoundary(const QString& text, bool* hasZone)
{
  if (hasZone)
    *hasZone = false;
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty())
    return {};
  QDateTime value = QDateTime::fromString(trimmed, Qt::ISODate);
  if (!value.isValid())
    return {};
  if (hasZone)
    *hasZone = value.timeSpec() != Qt::LocalTime;
  return value;
}

TTriggerSchedule ScheduleOf(const TSchedTrigger& trigger)
{
  TTriggerSchedule s;
  s.Type = trigger.Type();
  s.Enabled = trigger.Enabled();
  bool hasZone = false;
  s.Start = ParseBoundary(trigger.StartBoundary(), &hasZone);
  s.Zone = hasZone ? Qt::UTC : Qt::LocalTime;
  s.End = ParseBoundary(trigger.EndBoundary());
  s.DaysInterval = std::max(1, trigger.DaysInterval());
  s.WeeksInterval = std::max(1, trigger.WeeksInterval());
  s.DaysOfWeek = trigger.DaysOfWeek();
  s.DaysOfMonth = trigger.DaysOfMonth();
  s.WeeksOfMonth = trigger.WeeksOfMonth() | (trigger.RunOnLastWeekOfMonth() ? 16 : 0);
  s.MonthsOfYear = trigger.MonthsOfYear();
  s.Interval = DurationToSeconds(trigger.RepetitionInterval());
  s.Duration = DurationToSeconds(trigger.RepetitionDuration());
  if (s.Type == TASK_TRIGGER_TIME || (s.Type >= TASK_TRIGGER_DAILY && s.Type <= TASK_TRIGGER_MONTHLYDOW))
    s.RandomDelay = DurationToSeconds(trigger.RandomDelay());
  if (s.Type == TASK_TRIGGER_LOGON)
    s.Delay = DurationToSeconds(trigger.Delay());
  return s;
}

bool IsSchedulable(int type)
{
  return type == TASK_TRIGGER_TIME || type == TASK_TRIGGER_DAILY || type == TASK_TRIGGER_WEEKLY ||
         type == TASK_TRIGGER_MONTHLY || type == TASK_TRIGGER_MONTHLYDOW || type == TASK_TRIGGER_LOGON;
}

QDateTime LatestOccurrence(const TTriggerSchedule& schedule, const QDateTime& after, const QDateTime& until,
                           const QDateTime& logon)
{
  if (!until.isValid() || !IsSchedulable(schedule.Type))
    return {};
  const TPattern p(schedule);
  const qint64 u = WallOf(until, schedule.Zone);
  const qint64 a = after.isValid() ? WallOf(after, schedule.Zone) : u - kLookBackDays * kDay;
  std::optional<qint64> best;

  if (schedule.Type == TASK_TRIGGER_LOGON) {
    if (!logon.isValid())
      return {};
    const QDateTime occurred = logon.addSecs(schedule.Delay);
    if (schedule.Start.isValid() && occurred < schedule.Start)
      return {};
    best = p.LatestFrom(WallOf(occurred, schedule.Zone), a, u);
  } else if (!schedule.Start.isValid()) {
    return {};
  } else if (schedule.Type == TASK_TRIGGER_TIME) {
    best = p.LatestFrom(p.StartWall, a, u);
  } else {
    const qint64 low = std::max(a, u - kLookBackDays * kDay) - p.WindowDays() * kDay - kDay;
    const QDate first = std::max(p.StartDate, DateOf(low));
    for (QDate day = DateOf(u); day >= first; day = day.addDays(-1)) {
      if (!p.DayQualifies(day))
        continue;
      const auto point = p.LatestFrom(WallAt(day, p.TimeOfDay), a, u);
      if (point && (!best || *point > *best))
        best = point;
      // Without repetition a later day always has the later occurrence.
      if (best && !p.Repeats())
        break;
    }
  }
  return best ? InstantOf(*best, schedule.Zone) : QDateTime();
}

QDateTime NextOccurrence(const TTriggerSchedule& schedule, const QDateTime& after)
{
  if (!after.isValid() || !schedule.Start.isValid() || !IsSchedulable(schedule.Type) ||
      schedule.Type == TASK_TRIGGER_LOGON)
    return {};
  const TPattern p(schedule);
  const qint64 a = WallOf(after, schedule.Zone);
  std::optional<qint64> best;
  if (schedule.Type == TASK_TRIGGER_TIME) {
    best = p.FirstFrom(p.StartWall, a);
  } else {
    const QDate first = std::max(p.StartDate, DateOf(a).addDays(-p.WindowDays() - 1));
    const QDate last = DateOf(a).addDays(kLookAheadDays);
    for (QDate day = first; day <= last; day = day.addDays(1)) {
      if (!p.DayQualifies(day))
        continue;
      const qint64 base = WallAt(day, p.TimeOfDay);
      if (p.EndWall && base > *p.EndWall)
        break;
      if (const auto point = p.FirstFrom(base, a))
        best = best ? std::min(*best, *point) : *point;
      // Later days begin after this one's base, which is already later than the moment.
      if (base > a)
        break;
    }
  }
  return best ? InstantOf(*best, schedule.Zone) : QDateTime();
}

TCalendarMapping CalendarLines(const TTriggerSchedule& schedule)
{
  TCalendarMapping mapping;
  if (!schedule.Start.isValid() || !IsSchedulable(schedule.Type) || schedule.Type == TASK_TRIGGER_LOGON)
    return mapping;
  const TPattern p(schedule);
  const QString zone = schedule.Zone == Qt::UTC ? u" UTC"_s : QString();
  const QString time = TimeText(p.TimeOfDay);

  if (schedule.Type == TASK_TRIGGER_TIME) {
    // A one-time start with a short repetition is written out point by point.
    if (!p.Repeats() || (!p.Indefinite() && (schedule.Duration - 1) / schedule.Interval < 48)) {
      const qint64 count = p.Repeats() ? (schedule.Duration - 1) / schedule.Interval + 1 : 1;
      for (qint64 k = 0; k < count; ++k) {
        const qint64 point = p.StartWall + k * schedule.Interval;
        if (p.EndWall && point > *p.EndWall)
          break;
        const QDateTime wall = QDateTime::fromSecsSinceEpoch(point, Qt::UTC);
        mapping.Lines.append(wall.date().toString(u"yyyy-MM-dd"_s) + u' ' +
                             TimeText(wall.time().msecsSinceStartOfDay() / 1000) + zone);
      }
      return mapping;
    }
  }
  if (p.Repeats()) {
    // Repetitions may run past midnight into a day the pattern does not
    // have: wake every day on the repetition's grid.
    mapping.Lines.append(u"*-*-* "_s + RepetitionGrid(schedule.Interval, p.TimeOfDay) + zone);
    mapping.Exact = false;
    return mapping;
  }
  switch (schedule.Type) {
  case TASK_TRIGGER_DAILY:
    mapping.Lines.append(u"*-*-* "_s + time + zone);
    mapping.Exact = schedule.DaysInterval <= 1;
    break;
  case TASK_TRIGGER_WEEKLY:
    if (schedule.DaysOfWeek & 0x7F)
      mapping.Lines.append(WeekdayList(schedule.DaysOfWeek) + u" *-*-* "_s + time + zone);
    mapping.Exact = schedule.WeeksInterval <= 1;
    break;
  case TASK_TRIGGER_MONTHLY: {
    if (!(schedule.MonthsOfYear & 0xFFF))
      break;
    const QString months = MonthList(schedule.MonthsOfYear);
    QStringList days;
    for (int day = 0; day < 31; ++day)
      if (schedule.DaysOfMonth & (1u << day))
        days.append(Two(day + 1));
    if (!days.isEmpty())
      mapping.Lines.append(u"*-"_s + months + u'-' + days.join(u',') + u' ' + time + zone);
    if (schedule.DaysOfMonth & 0x80000000u)
      mapping.Lines.append(u"*-"_s + months + u"~01 "_s + time + zone);
    break;
  }
  case TASK_TRIGGER_MONTHLYDOW: {
    if (!(schedule.MonthsOfYear & 0xFFF) || !(schedule.DaysOfWeek & 0x7F))
      break;
    const QString months = MonthList(schedule.MonthsOfYear);
    const QString weekdays = WeekdayList(schedule.DaysOfWeek);
    QStringList ranges;
    for (int week = 0; week < 4; ++week)
      if (schedule.WeeksOfMonth & (1 << week))
        ranges.append(Two(week * 7 + 1) + u".."_s + Two(week * 7 + 7));
    if (!ranges.isEmpty())
      mapping.Lines.append(weekdays + u" *-"_s + months + u'-' + ranges.join(u',') + u' ' + time + zone);
    if (schedule.WeeksOfMonth & 16)
      mapping.Lines.append(weekdays + u" *-"_s + months + u"~07/1 "_s + time + zone);
    break;
  }
  default:
    break;
  }
  return mapping;
}

TRunDecision DecideScheduledRun(const TSchedDefinition& definition, const TRunCheck& check)
{
  TRunDecision decision;
  const auto settings = definition.Settings();
  if (!settings->Bool(u"Enabled"_s, true)) {
    decision.Reason = _("The task is disabled");
    return decision;
  }
  std::vector<TTriggerSchedule> schedules;
  qint64 randomDelay = 0;
  const auto triggers = definition.Triggers();
  for (int position = 1, count = triggers->Count(); position <= count; ++position) {
    TTriggerSchedule schedule = ScheduleOf(*triggers->Item(position));
    if (!schedule.Enabled || !IsSchedulable(schedule.Type))
      continue;
    randomDelay = std::max(randomDelay, schedule.RandomDelay);
    schedules.push_back(std::move(schedule));
  }
  const qint64 grace = kOnTimeGraceSeconds + randomDelay;
  QDateTime after = check.Now.addSecs(-grace);
  if (check.LastHandled.isValid())
    after = std::max(check.LastHandled, check.Now.addDays(-kLookBackDays));

  for (const TTriggerSchedule& schedule : schedules) {
    const QDateTime occurrence = LatestOccurrence(schedule, after, check.Now, check.LogonTime);
    if (occurrence.isValid() && (!decision.Occurrence.isValid() || occurrence > decision.Occurrence))
      decision.Occurrence = occurrence;
  }
  if (!decision.Occurrence.isValid()) {
    decision.Reason = _("No occurrence is due");
    return decision;
  }
  if (decision.Occurrence.secsTo(check.Now) > grace && !settings->Bool(u"StartWhenAvailable"_s, false)) {
    decision.Reason = _("The start at %1 was missed").arg(decision.Occurrence.toString(Qt::ISODate));
    return decision;
  }
  if (settings->Bool(u"RunOnlyIfNetworkAvailable"_s, false) && !check.NetworkAvailable) {
    decision.Reason = _("No network connection is available");
    return decision;
  }
  decision.Due = true;
  return decision;
}

} // namespace ardanto::scheduler
