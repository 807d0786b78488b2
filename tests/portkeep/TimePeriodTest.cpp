#include "portkeep/TimePeriod.h"
#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0)
{
  return DateTimeFromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC));
}

} // namespace

TEST(TimePeriod, EachModeTestsTheFileTime)
{
  TTimePeriod p = TTimePeriod::Default(At(2024, 3, 10));
  p.Dat1 = At(2024, 3, 1);
  p.Dat2 = At(2024, 3, 1);
  p.Days = 7;
  p.DayTime = 0.25;
  const TDateTime today = At(2024, 3, 10);
  const struct {
    TTimeMode Mode;
    TDateTime X;
    bool Passes;
  } cases[] = {
      {tmAll, At(1990, 1, 1), true},
      {tmNewer, At(2024, 3, 1), true},
      {tmNewer, At(2024, 2, 29, 23, 59), false},
      {tmOlder, At(2024, 2, 29, 23, 59), true},
      {tmOlder, At(2024, 3, 1), false},
      {tmSpan, At(2024, 3, 1), true}, // the whole of 1 March ...
      {tmSpan, At(2024, 3, 1, 23, 59), true},
      {tmSpan, At(2024, 3, 2), false}, // ... up to, not including, 2 March
      {tmSpan, At(2024, 2, 29, 23, 59), false},
      {tmToday, At(2024, 3, 10, 5, 59), false},
      {tmToday, At(2024, 3, 10, 6, 0), true},
      {tmToday, At(2025, 1, 1), true}, // also a file dated in the future
      {tmLastDays, At(2024, 3, 3, 0, 0), true},
      {tmLastDays, At(2024, 3, 3, 23, 59), true},
      {tmLastDays, At(2024, 3, 2, 23, 59), false},
      {tmPrevDays, At(2024, 3, 2, 12, 0), true},
      {tmPrevDays, At(2024, 3, 3), false},
      {tmUpdate, At(2024, 3, 3), false}, // modes this program never offers pass nothing
  };
  for (const auto& c : cases) {
    p.Mode = c.Mode;
    EXPECT_EQ(TimePeriodPasses(p, c.X, today), c.Passes)
        << "mode " << c.Mode << " at " << QDateTimeFromDateTime(c.X, Qt::UTC).toString().toStdString();
  }
}

TEST(TimePeriod, DefaultsGoBackTwelveMonths)
{
  const TTimePeriod p = TTimePeriod::Default(At(2024, 2, 29, 15, 0));
  EXPECT_EQ(p.Mode, tmAll);
  EXPECT_EQ(p.Days, 7);
  EXPECT_DOUBLE_EQ(p.DayTime, 0.25);
  EXPECT_DOUBLE_EQ(p.Dat2, At(2024, 2, 29));
  EXPECT_DOUBLE_EQ(p.Dat1, At(2023, 2, 28)) << "clamped to the month's length";
}

TEST(TimePeriod, StoredFormsTravelBetweenLocales)
{
  EXPECT_EQ(DateToText(At(2024, 3, 5, 13, 0)), u"2024-03-05"_s);
  EXPECT_EQ(TimeToText(0.25 + 30.0 / 1440), u"06:30:00"_s);

  const QLocale german(QLocale::German, QLocale::Germany);
  const QLocale american(QLocale::English, QLocale::UnitedStates);
  const struct {
    const char16_t* Text;
    QLocale Locale;
    TDateTime Expected;
  } dates[] = {
      {u"2024-03-05", american, At(2024, 3, 5)}, {u"2024-03-05", german, At(2024, 3, 5)},
      {u"05.03.2024", german, At(2024, 3, 5)},   {u"05.03.24", german, At(2024, 3, 5)},
      {u"3/5/2024", american, At(2024, 3, 5)},   {u"3/5/24", american, At(2024, 3, 5)},
  };
  for (const auto& d : dates) {
    TDateTime value = 0;
    EXPECT_TRUE(TextToDate(QString::fromUtf16(d.Text), value, d.Locale)) << QString::fromUtf16(d.Text).toStdString();
    EXPECT_DOUBLE_EQ(value, d.Expected) << QString::fromUtf16(d.Text).toStdString();
  }
  TDateTime value = 0;
  EXPECT_FALSE(TextToDate(u"05.03.2024"_s, value, american));
  EXPECT_FALSE(TextToDate(u"yesterday"_s, value, german));

  for (const auto& [text, locale] :
       {std::pair{u"06:30:00"_s, american}, std::pair{u"06:30"_s, german}, std::pair{u"6:30:00 AM"_s, american}}) {
    TDateTime time = 0;
    EXPECT_TRUE(TextToTime(text, time, locale)) << text.toStdString();
    EXPECT_NEAR(time, 0.25 + 30.0 / 1440, 1e-9) << text.toStdString();
  }
  TDateTime time = 0;
  EXPECT_FALSE(TextToTime(u"25:99"_s, time, german));
}

TEST(TimePeriod, ReadingTheTimeSlotSection)
{
  TempDir dir;
  const auto read = [&](const QByteArray& body, TTimePeriod start, std::int32_t defaultMode) {
    const QString file = dir.Write(u"t.pkj"_s, "[TimeSlot]\n" + body);
    ReadTimeSlot(TUnicodeIniFile::CreateForRead(file), start, defaultMode);
    return start;
  };
  TTimePeriod current = TTimePeriod::Default(At(2024, 3, 10));
  current.Mode = tmLastDays;

  TTimePeriod p = read("TimeMode=3\nDays=12\nDayTime=07:15:00\nDateFrom=2024-01-02\nDateTo=2024-02-03\n", current, 0);
  EXPECT_EQ(p.Mode, tmSpan);
  EXPECT_EQ(p.Days, 12);
  EXPECT_NEAR(p.DayTime, (7 * 60 + 15) / 1440.0, 1e-9);
  EXPECT_DOUBLE_EQ(p.Dat1, At(2024, 1, 2));
  EXPECT_DOUBLE_EQ(p.Dat2, At(2024, 2, 3));

  EXPECT_EQ(read("TimeMode=9\n", current, 0).Mode, tmAll);
  EXPECT_EQ(read("Days=3\n", current, current.Mode).Mode, tmLastDays) << "a task keeps the current mode";
  EXPECT_EQ(read("Days=3\n", current, 0).Mode, tmAll) << "the settings file defaults to all";

  p = read("TimeMode=1\nDayTime=08:00\nDateFrom=never\nDateTo=2024-02-03\n", current, 0);
  EXPECT_EQ(p.Mode, tmAll) << "an unreadable date switches the slot off";
  EXPECT_NEAR(p.DayTime, 8 / 24.0, 1e-9) << "values read before it are kept";
  EXPECT_DOUBLE_EQ(p.Dat2, current.Dat2) << "values after it are not read";

  TUnicodeIniFile out = TUnicodeIniFile::CreateForWrite(dir.File(u"w.pkj"_s), true);
  WriteTimeSlot(out, p);
  EXPECT_EQ(out.ReadSectionValues(u"TimeSlot"_s), (QStringList{u"TimeMode=0"_s, u"Days=7"_s, u"DayTime=08:00:00"_s,
                                                               u"DateFrom=2023-03-10"_s, u"DateTo=2024-03-10"_s}));
}
