// The scheduler's text codecs, the enumeration tables and the display texts.

#include "scheduler/WinTask.h"

#include "SchedulerTestSupport.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

TDateTime Local(int y, int m, int d, int h = 0, int n = 0, int s = 0)
{
  return DateTimeFromQDateTime(QDateTime(QDate(y, m, d), QTime(h, n, s)));
}

TEST(SecondsToDuration, WritesTheLargestUnitsAndDropsARemainderOfDays)
{
  const struct {
    std::uint32_t Seconds;
    const char* Text;
  } cases[] = {
      {0, ""},        {59, "PT59S"},  {60, "PT1M"},    {3600, "PT1H"},  {3661, "PT1H1M1S"},   {86399, "PT23H59M59S"},
      {86400, "P1D"}, {90000, "P1D"}, {172800, "P2D"}, {180000, "P2D"}, {7200 + 5, "PT2H5S"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SecondsToDuration(c.Seconds), QString::fromLatin1(c.Text)) << c.Seconds;
}

TEST(DurationToSeconds, ReadsTimeUnitsOrWholeDaysOnly)
{
  const struct {
    const char* Text;
    std::uint32_t Seconds;
  } cases[] = {
      {"PT1H30M", 5400},
      {"P3D", 259200},
      {"P1DT12H", 86400}, // a day part ends the reading
      {"", 0},
      {"1H", 0},
      {"T1H", 0},
      {"P", 0},
      {"pT2M", 120},
      {"PT45S", 45},
      {"PT1H1M1S", 3661},
      {"PT23H59M59S", 86399},
      {"PTH", 0},
      {"P5", 0},
      {"P2W", 0},      // weeks are no days
      {"PT70000S", 0}, // a number beyond 16 bits does not convert
      {"PT65535S", 65535},
      {"P65535D", 0xFFFFFFFFu}, // more seconds than 32 bits hold
  };
  for (const auto& c : cases)
    EXPECT_EQ(DurationToSeconds(QString::fromLatin1(c.Text)), c.Seconds) << c.Text;
}

TEST(TaskTimeToDateTime, ReadsSixNumbersAndFlagsAnythingAfterThemAsAZone)
{
  const struct {
    const char* Text;
    TDateTime Value;
    bool Zone;
  } cases[] = {
      {"2024-03-01T08:15:00", Local(2024, 3, 1, 8, 15), false},
      // The offset is not applied: the value stays the wall-clock time written.
      {"2024-03-01T08:15:00+01:00", Local(2024, 3, 1, 8, 15), true},
      {"2024-03-01T08:15:00Z", Local(2024, 3, 1, 8, 15), true},
      {"2024-03-01", Local(2024, 3, 1), false},
      {"", 0, false},
      {"2024-02-30T08:15:00", 0, false},
      {"2024-03-01T25:00:00", 0, false},
      {"never", 0, false},
  };
  for (const auto& c : cases) {
    bool zone = !c.Zone;
    EXPECT_DOUBLE_EQ(TaskTimeToDateTime(QString::fromLatin1(c.Text), zone), c.Value) << c.Text;
    EXPECT_EQ(zone, c.Zone) << c.Text;
  }
}

TEST(DateTimeToTaskTime, AppendsTheMachinesCurrentOffset)
{
  const TDateTime value = Local(2024, 3, 1, 8, 15, 7);
  EXPECT_EQ(DateTimeToTaskTime(value, false), u"2024-03-01T08:15:07"_s);
  EXPECT_EQ(DateTimeToTaskTime(0.99, false), QString()) << "no date";
  EXPECT_EQ(DateTimeToTaskTime(0.99, true), QString());
  // Zones without summer time, so that the current offset is known.
  const struct {
    const char* Zone;
    const char* Suffix;
  } zones[] = {{"UTC", "Z"}, {"Asia/Kolkata", "+05:30"}, {"America/Argentina/Buenos_Aires", "-03:00"}};
  for (const auto& z : zones) {
    ScopedTimeZone zone(z.Zone);
    EXPECT_EQ(DateTimeToTaskTime(value, true), u"2024-03-01T08:15:07"_s + QString::fromLatin1(z.Suffix)) << z.Zone;
  }
}

TEST(TaskDateToText, IsEmptyBeforeTheYear2000)
{
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(TaskDateToText(0), QString());
  EXPECT_EQ(TaskDateToText(Local(1999, 12, 31, 23, 59, 59)), QString());
  EXPECT_EQ(TaskDateToText(Local(2000, 1, 1)), u"01.01.00 00:00"_s);
  EXPECT_EQ(TaskDateToText(Local(2024, 3, 1, 8, 15)), u"01.03.24 08:15"_s);
  QLocale::setDefault(before);
}

TEST(DefaultCompatibility, FollowsTheSystemsLineAndVersion)
{
  const struct {
    bool Nt;
    int Major, Minor;
    TWinTaskCompatibility Level;
  } cases[] = {
      {false, 4, 90, tcAT}, {true, 5, 1, tcXP},   {true, 5, 2, tcXP},     {true, 6, 0, tcVista},
      {true, 6, 1, tcWin7}, {true, 6, 3, tcWin7}, {true, 10, 0, tcWin10}, {true, 11, 0, tcWin10},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DefaultCompatibility(c.Nt, c.Major, c.Minor), c.Level) << c.Major << "." << c.Minor;
  EXPECT_EQ(DefaultCompatibility(), tcWin10);
}

TEST(EnumerationTables, WriteFixedValuesAndReadUnknownOnesAsTheFallback)
{
  // Written values.
  EXPECT_EQ(CompatibilityToPlatform(tcAT), 0);
  EXPECT_EQ(CompatibilityToPlatform(tcWin10), 4);
  EXPECT_EQ(MultipleInstancesToPlatform(miStopExisting), 3);
  const int actions[] = {ActionTypeToPlatform(taExec), ActionTypeToPlatform(taCom), ActionTypeToPlatform(taMail),
                         ActionTypeToPlatform(taMessage)};
  EXPECT_EQ(std::vector<int>(std::begin(actions), std::end(actions)), (std::vector<int>{0, 5, 6, 7}));
  for (int t = ttEvent; t <= ttLogon; ++t)
    EXPECT_EQ(TriggerTypeToPlatform(TWinTaskTriggerType(t)), t);
  EXPECT_EQ(TriggerTypeToPlatform(ttSessionStateChange), 11);
  EXPECT_EQ(TriggerTypeToPlatform(ttCustom), 12);
  EXPECT_EQ(LogonTypeToPlatform(ltTokenPassword), 6);
  const int priorities[] = {10, 9, 7, 5, 3, 1, 0};
  for (int p = tpIdle; p <= tpTimeCritical; ++p)
    EXPECT_EQ(PriorityToPlatform(TWinTaskPriority(p)), priorities[p]);

  // Read values, platform value -> member, for -1 to 12.
  const struct {
    const char* Table;
    int (*Read)(int);
    int Expected[14];
  } reads[] = {
      {"status",
       StatusFromPlatform,
       {tsUnknown, tsUnknown, tsDisabled, tsQueued, tsReady, tsRunning, tsUnknown, tsUnknown, tsUnknown, tsUnknown,
        tsUnknown, tsUnknown, tsUnknown, tsUnknown}},
      {"compatibility",
       [](int v) { return int(CompatibilityFromPlatform(v)); },
       {tcWin10, tcAT, tcXP, tcVista, tcWin7, tcWin10, tcWin10, tcWin10, tcWin10, tcWin10, tcWin10, tcWin10, tcWin10,
        tcWin10}},
      {"instances",
       [](int v) { return int(MultipleInstancesFromPlatform(v)); },
       {miParallel, miParallel, miQueue, miIgnoreNew, miStopExisting, miParallel, miParallel, miParallel, miParallel,
        miParallel, miParallel, miParallel, miParallel, miParallel}},
      {"action",
       [](int v) { return int(ActionTypeFromPlatform(v)); },
       {taExec, taExec, taExec, taExec, taExec, taExec, taCom, taMail, taMessage, taExec, taExec, taExec, taExec,
        taExec}},
      {"trigger",
       [](int v) { return int(TriggerTypeFromPlatform(v)); },
       {ttCustom, ttEvent, ttTime, ttDaily, ttWeekly, ttMonthly, ttMonthlyDow, ttIdle, ttRegistration, ttBoot, ttLogon,
        ttCustom, ttSessionStateChange, ttCustom}},
      {"logon",
       [](int v) { return int(LogonTypeFromPlatform(v)); },
       {ltNone, ltNone, ltPassword, ltS4U, ltToken, ltGroup, ltService, ltTokenPassword, ltNone, ltNone, ltNone, ltNone,
        ltNone, ltNone}},
      {"priority",
       [](int v) { return int(PriorityFromPlatform(v)); },
       {tpNormal, tpTimeCritical, tpHighest, tpHigher, tpHigher, tpNormal, tpNormal, tpNormal, tpLower, tpLower,
        tpLowest, tpIdle, tpNormal, tpNormal}},
  };
  for (const auto& table : reads)
    for (int value = -1; value <= 12; ++value)
      EXPECT_EQ(table.Read(value), table.Expected[value + 1]) << table.Table << " " << value;
}

TEST(DisplayTexts, FollowTheMemberOrder)
{
  EXPECT_EQ(StatusText(tsUnknown), u"Unknown"_s);
  EXPECT_EQ(StatusText(tsDisabled), u"Disabled"_s);
  EXPECT_EQ(ActionTypeText(taCom), u"File handler"_s);
  EXPECT_EQ(ActionTypeText(taMessage), u"Display a message"_s);
  EXPECT_EQ(TriggerTypeText(ttEvent), u"On an event"_s);
  EXPECT_EQ(TriggerTypeText(ttMonthly), u"Monthly"_s);
  EXPECT_EQ(TriggerTypeText(ttMonthlyDow), u"Monthly"_s);
  EXPECT_EQ(TriggerTypeText(ttRegistration), u"On task creation/modification"_s);
  EXPECT_EQ(TriggerTypeText(ttBoot), u"At startup"_s);
  EXPECT_EQ(TriggerTypeText(ttCustom), u"Custom trigger"_s);
  EXPECT_EQ(CompatibilityText(tcAT), u"deprecated"_s);
  EXPECT_EQ(CompatibilityText(tcWin10), u"Windows 10"_s);
}

TEST(DequoteTaskPath, RemovesOnePairOfQuotes)
{
  const struct {
    const char* Path;
    const char* Result;
  } cases[] = {
      {"/usr/bin/quillbox", "/usr/bin/quillbox"},
      {"\"/opt/Ardanto 6/quillbox\"", "/opt/Ardanto 6/quillbox"},
      {"\"/opt/a \"\"b\"\"/q\"", "/opt/a \"b\"/q"}, // doubled quotes inside stand for one
      {"\"/opt/a b\" --x", "/opt/a b"},             // what follows the closing quote goes
      {"\"/opt/unclosed", "\"/opt/unclosed"},       // no closing quote: unchanged
      {"\"\"", ""},
      {"", ""},
      // Quoted twice: the inner part is quoted and dequoted once more.
      {"\"\"/opt/a b/q\"\"", "\"/opt/a b/q\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DequoteTaskPath(QString::fromLatin1(c.Path)), QString::fromLatin1(c.Result)) << c.Path;
}

} // namespace
