#include "common/DateTimeUtils.h"

#include <QTimeZone>

#include <cmath>
#include <ctime>

namespace ardanto {

namespace {

const QDate kDateTimeEpoch(1899, 12, 30);

} // namespace

TDateTime DateTimeFromQDateTime(const QDateTime& dt)
{
  if (!dt.isValid())
    return 0.0;
  const double days = static_cast<double>(kDateTimeEpoch.daysTo(dt.date()));
  return days + dt.time().msecsSinceStartOfDay() / kMillisecondsPerDay;
}

QDateTime QDateTimeFromDateTime(TDateTime value, Qt::TimeSpec spec)
{
  if (!std::isfinite(value))
    return QDateTime();
  const double whole = std::floor(value);
  const auto msecs = static_cast<qint64>(std::llround((value - whole) * kMillisecondsPerDay));
  QDate date = kDateTimeEpoch.addDays(static_cast<qint64>(whole));
  // Rounding may carry a whole day.
  const qint64 dayMsecs = static_cast<qint64>(kMillisecondsPerDay);
  const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs % dayMsecs));
  if (msecs >= dayMsecs)
    date = date.addDays(1);
  return QDateTime(date, time, spec);
}

TDateTime DateTimeNow()
{
  return DateTimeFromQDateTime(QDateTime::currentDateTime());
}

TDateTime DateTimeNowUtc()
{
  return DateTimeFromQDateTime(QDateTime::currentDateTimeUtc());
}

TDateTime FileTimeToDateTimeUtc(TFileTime ft)
{
  return static_cast<double>(ft) / static_cast<double>(kFileTimePerDay) - static_cast<double>(kFileTimeEpochDays);
}

TFileTime DateTimeUtcToFileTime(TDateTime utc)
{
  return static_cast<TFileTime>(
      std::llround((utc + static_cast<double>(kFileTimeEpochDays)) * static_cast<double>(kFileTimePerDay)));
}

TFileTime UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds)
{
  return (seconds + kUnixEpochFileTimeSeconds) * kFileTimePerSecond + nanoseconds / 100;
}

TFileTime CurrentFileTime()
{
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return UnixTimeToFileTime(now.tv_sec, now.tv_nsec);
}

TDateTime LocalToUtc(TDateTime local)
{
  const QDateTime wall = QDateTimeFromDateTime(local, Qt::UTC); // the wall-clock fields
  std::tm tm{};
  tm.tm_year = wall.date().year() - 1900;
  tm.tm_mon = wall.date().month() - 1;
  tm.tm_mday = wall.date().day();
  tm.tm_hour = wall.time().hour();
  tm.tm_min = wall.time().minute();
  tm.tm_sec = wall.time().second();
  const double msec = wall.time().msec() / kMillisecondsPerDay;
  // Most times lie a day or more away from any change of the offset: then
  // the time has one meaning, which mktime finds at once. The question below
  // is not for them: asked for a summer time where none applies, mktime
  // searches the year around it, a hundred times slower, and a backup run
  // converts the time of every file.
  std::tm probe = tm;
  probe.tm_isdst = -1;
  time_t t = std::mktime(&probe);
  if (t != time_t(-1) && probe.tm_hour == tm.tm_hour && probe.tm_min == tm.tm_min && probe.tm_mday == tm.tm_mday) {
    std::tm before{};
    std::tm after{};
    const time_t day = 86400;
    const time_t earlier = t - day;
    const time_t later = t + day;
    if (localtime_r(&earlier, &before) != nullptr && localtime_r(&later, &after) != nullptr &&
        before.tm_gmtoff == probe.tm_gmtoff && after.tm_gmtoff == probe.tm_gmtoff &&
        before.tm_isdst == probe.tm_isdst && after.tm_isdst == probe.tm_isdst)
      return static_cast<double>(t) / 86400.0 + 25569.0 + msec;
  }
  // Near a change, ask as summer time first: for a repeated hour that picks
  // the first occurrence, and for a skipped hour mktime keeps the offset from
  // before.
  tm.tm_isdst = 1;
  probe = tm;
  t = std::mktime(&probe);
  if (t == time_t(-1) || probe.tm_isdst <= 0) {
    probe = tm;
    probe.tm_isdst = 0;
    t = std::mktime(&probe);
    if (t == time_t(-1)) {
      probe = tm;
      probe.tm_isdst = -1;
      t = std::mktime(&probe);
    }
  }
  return static_cast<double>(t) / 86400.0 + 25569.0 + msec;
}

TDateTime UtcToLocal(TDateTime utc)
{
  const QDateTime u = QDateTimeFromDateTime(utc, Qt::UTC);
  return DateTimeFromQDateTime(u.toLocalTime());
}

} // namespace ardanto
