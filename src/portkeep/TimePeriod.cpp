#include "portkeep/TimePeriod.h"

#include "common/IniFileUtils.h"

#include <QLocale>

#include <cmath>

namespace portkeep {

using namespace Qt::StringLiterals;
using ardanto::DateTimeFromQDateTime;
using ardanto::QDateTimeFromDateTime;

namespace {

const QString kSection = u"TimeSlot"_s;

TDateTime FromDate(const QDate& date)
{
  return DateTimeFromQDateTime(QDateTime(date, QTime(0, 0), Qt::UTC));
}

QDate ToDate(TDateTime value)
{
  return QDateTimeFromDateTime(std::floor(value), Qt::UTC).date();
}

// Two-digit years of short locale formats belong to this century or the last.
QDate FixCentury(QDate date, const QString& format)
{
  if (date.isValid() && !format.contains(u"yyyy"_s) && date.year() < 1950)
    date = date.addYears(100);
  return date;
}

} // namespace

TTimePeriod TTimePeriod::Default(TDateTime today)
{
  TTimePeriod period;
  period.Dat2 = std::floor(today);
  period.Dat1 = FromDate(ToDate(today).addMonths(-12)); // clamped to the month's length
  return period;
}

TDateTime Today()
{
  return FromDate(QDate::currentDate());
}

bool TimePeriodPasses(const TTimePeriod& period, TDateTime x, TDateTime today)
{
  switch (period.Mode) {
  case tmAll:
    return true;
  case tmNewer:
    return x >= period.Dat1;
  case tmOlder:
    return x < period.Dat2;
  case tmSpan:
    return x >= period.Dat1 && x < period.Dat2 + 1.0;
  case tmToday:
    return x >= today + period.DayTime;
  case tmLastDays:
    return std::floor(x) >= today - period.Days;
  case tmPrevDays:
    return std::floor(x) < today - period.Days;
  default:
    return false;
  }
}

QString DateToText(TDateTime date)
{
  return ToDate(date).toString(Qt::ISODate);
}

QString TimeToText(TDateTime time)
{
  const double fraction = time - std::floor(time);
  const int msecs = static_cast<int>(std::llround(fraction * ardanto::kMillisecondsPerDay)) % 86400000;
  return QTime::fromMSecsSinceStartOfDay(msecs).toString(u"HH:mm:ss"_s);
}

bool TextToDate(const QString& text, TDateTime& date, const QLocale& locale)
{
  const QString trimmed = text.trimmed();
  QDate parsed = QDate::fromString(trimmed, u"yyyy-MM-dd"_s);
  if (!parsed.isValid()) {
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    QString longYear = shortFormat;
    if (!longYear.contains(u"yyyy"_s))
      longYear.replace(u"yy"_s, u"yyyy"_s);
    for (const QString& format : {longYear, shortFormat, locale.dateFormat(QLocale::LongFormat)}) {
      parsed = FixCentury(locale.toDate(trimmed, format), format);
      if (parsed.isValid())
        break;
    }
  }
  if (!parsed.isValid())
    return false;
  date = FromDate(parsed);
  return true;
}

bool TextToTime(const QString& text, TDateTime& time, const QLocale& locale)
{
  const QString trimmed = text.trimmed();
  QTime parsed = QTime::fromString(trimmed, u"HH:mm:ss"_s);
  if (!parsed.isValid())
    parsed = QTime::fromString(trimmed, u"HH:mm"_s);
  if (!parsed.isValid()) {
    for (const QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat}) {
      QString format = locale.timeFormat(type);
      parsed = locale.toTime(trimmed, format);
      if (parsed.isValid())
        break;
      // Qt's long form ends in the zone name, which files never hold.
      format.remove(u" t"_s).remove(u"t"_s);
      parsed = locale.toTime(trimmed, format.trimmed());
      if (parsed.isValid())
        break;
    }
  }
  if (!parsed.isValid())
    return false;
  time = parsed.msecsSinceStartOfDay() / ardanto::kMillisecondsPerDay;
  return true;
}

void ReadTimeSlot(const ardanto::TUnicodeIniFile& ini, TTimePeriod& period, std::int32_t defaultMode)
{
  period.Days = ini.ReadInteger(kSection, u"Days"_s, period.Days);
  std::int32_t mode = ini.ReadInteger(kSection, u"TimeMode"_s, defaultMode);
  if (mode < 0 || mode > kLastDeviceTimeMode)
    mode = tmAll;
  period.Mode = static_cast<TTimeMode>(mode);

  const struct {
    const char16_t* Key;
    TDateTime* Value;
    bool IsTime;
  } fields[] = {
      {u"DayTime", &period.DayTime, true},
      {u"DateFrom", &period.Dat1, false},
      {u"DateTo", &period.Dat2, false},
  };
  for (const auto& field : fields) {
    const QString text = ini.ReadString(kSection, QString::fromUtf16(field.Key), QString());
    if (text.isEmpty())
      continue;
    const bool ok = field.IsTime ? TextToTime(text, *field.Value) : TextToDate(text, *field.Value);
    if (!ok) {
      period.Mode = tmAll;
      return;
    }
  }
}

void WriteTimeSlot(ardanto::TUnicodeIniFile& ini, const TTimePeriod& period)
{
  ini.WriteInteger(kSection, u"TimeMode"_s, period.Mode);
  ini.WriteInteger(kSection, u"Days"_s, period.Days);
  ini.WriteString(kSection, u"DayTime"_s, TimeToText(period.DayTime));
  ini.WriteString(kSection, u"DateFrom"_s, DateToText(period.Dat1));
  ini.WriteString(kSection, u"DateTo"_s, DateToText(period.Dat2));
}

} // namespace portkeep
