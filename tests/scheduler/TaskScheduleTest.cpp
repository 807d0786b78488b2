// When triggers start a task: occurrences worked out by hand, the calendar
// expressions the timers get (checked with systemd's own calculator), and
// the guard's decision whether an occurrence is due.

#include "scheduler/TaskSchedule.h"

#include "SchedulerTestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

std::shared_ptr<TSchedDefinition> Definition(const char* triggers, const char* settings = "")
{
  return TSchedDefinition::FromXml(u"<Task><Triggers>"_s + QString::fromUtf8(triggers) + u"</Triggers><Settings>"_s +
                                   QString::fromUtf8(settings) + u"</Settings></Task>"_s);
}

TTriggerSchedule Schedule(const char* trigger)
{
  return ScheduleOf(*Definition(trigger)->Triggers()->Item(1));
}

QList<QDateTime> Instants(std::initializer_list<const char*> texts)
{
  QList<QDateTime> list;
  for (const char* text : texts)
    list.append(At(text));
  return list;
}

// systemd's elapses of the expressions after base, as instants: the "Next
// elapse" and "Iter. #n" lines, or the "(in UTC)" line after each.
QList<QDateTime> SystemdElapses(const QStringList& expressions, const QDateTime& base, const QByteArray& zone,
                                int iterations)
{
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(u"TZ"_s, QString::fromLatin1(zone));
  process.setProcessEnvironment(environment);
  process.start(u"systemd-analyze"_s, QStringList{u"calendar"_s, u"--iterations=%1"_s.arg(iterations),
                                                  u"--base-time=@%1"_s.arg(base.toSecsSinceEpoch())} +
                                          expressions);
  process.waitForFinished(30000);
  const QString output = QString::fromUtf8(process.readAllStandardOutput());
  EXPECT_EQ(process.exitCode(), 0) << output.toStdString() << process.readAllStandardError().toStdString();
  const QStringList lines = output.split(u'\n');
  QList<QDateTime> elapses;
  auto parse = [](const QString& line) {
    const QStringList parts = line.section(u": "_s, 1).trimmed().split(u' ');
    return parts.size() == 4 && parts[3] == u"UTC" ? At((parts[1] + u'T' + parts[2] + u'Z').toLatin1().constData())
                                                   : QDateTime();
  };
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (!lines[i].contains(u"Next elapse:"_s) && !lines[i].contains(u"Iter. #"_s))
      continue;
    const bool utcFollows = i + 1 < lines.size() && lines[i + 1].contains(u"(in UTC):"_s);
    const QDateTime elapse = parse(utcFollows ? lines[i + 1] : lines[i]);
    EXPECT_TRUE(elapse.isValid()) << lines[i].toStdString();
    elapses.append(elapse);
  }
  std::sort(elapses.begin(), elapses.end());
  elapses.erase(std::unique(elapses.begin(), elapses.end()), elapses.end());
  return elapses;
}

struct TOccurrenceCase {
  const char* Name;
  const char* Zone;
  const char* Trigger;
  const char* Base;
  QList<QDateTime> Expected;
  bool ThenNone; // no occurrence after the expected ones
  bool Exact;    // the calendar expressions fire at the occurrences only
};

const char* const kDaily = "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary>"
                           "<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger>";

const TOccurrenceCase kCases[] = {
    {"daily", "UTC", kDaily, "2024-02-28T00:00:00Z",
     Instants({"2024-03-01T08:15:00Z", "2024-03-02T08:15:00Z", "2024-03-03T08:15:00Z", "2024-03-04T08:15:00Z"}), false,
     true},
    {"every third day", "UTC",
     "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary>"
     "<ScheduleByDay><DaysInterval>3</DaysInterval></ScheduleByDay></CalendarTrigger>",
     "2024-03-01T09:00:00Z",
     Instants({"2024-03-04T08:15:00Z", "2024-03-07T08:15:00Z", "2024-03-10T08:15:00Z", "2024-03-13T08:15:00Z"}), false,
     false},
    {"weekly on Monday and Wednesday", "UTC",
     "<CalendarTrigger><StartBoundary>2024-03-01T22:00:00</StartBoundary><ScheduleByWeek><DaysOfWeek><Monday/>"
     "<Wednesday/></DaysOfWeek><WeeksInterval>1</WeeksInterval></ScheduleByWeek></CalendarTrigger>",
     "2024-03-01T00:00:00Z",
     Instants({"2024-03-04T22:00:00Z", "2024-03-06T22:00:00Z", "2024-03-11T22:00:00Z", "2024-03-13T22:00:00Z"}), false,
     true},
    // Weeks count from the Sunday before the start: 25 February.
    {"every other week", "UTC",
     "<CalendarTrigger><StartBoundary>2024-03-01T22:00:00</StartBoundary><ScheduleByWeek><DaysOfWeek><Monday/>"
     "<Wednesday/></DaysOfWeek><WeeksInterval>2</WeeksInterval></ScheduleByWeek></CalendarTrigger>",
     "2024-02-26T00:00:00Z",
     Instants({"2024-03-11T22:00:00Z", "2024-03-13T22:00:00Z", "2024-03-25T22:00:00Z", "2024-03-27T22:00:00Z"}), false,
     false},
    // Day 31 is skipped in short months; the last day is not.
    {"days 31 and last of January to April", "UTC",
     "<CalendarTrigger><StartBoundary>2024-01-01T03:00:00</StartBoundary><ScheduleByMonth><DaysOfMonth><Day>31</Day>"
     "<Day>Last</Day></DaysOfMonth><Months><January/><February/><March/><April/></Months></ScheduleByMonth>"
     "</CalendarTrigger>",
     "2023-12-31T00:00:00Z",
     Instants({"2024-01-31T03:00:00Z", "2024-02-29T03:00:00Z", "2024-03-31T03:00:00Z", "2024-04-30T03:00:00Z",
               "2025-01-31T03:00:00Z"}),
     false, true},
    {"days 1 and 15 from a start in the month", "UTC",
     "<CalendarTrigger><StartBoundary>2024-01-10T12:00:00</StartBoundary><ScheduleByMonth><DaysOfMonth><Day>1</Day>"
     "<Day>15</Day></DaysOfMonth><Months><January/><February/><March/><April/><May/><June/><July/><August/>"
     "<September/><October/><November/><December/></Months></ScheduleByMonth></CalendarTrigger>",
     "2024-01-10T12:00:00Z", Instants({"2024-01-15T12:00:00Z", "2024-02-01T12:00:00Z", "2024-02-15T12:00:00Z"}), false,
     true},
    {"first and last Monday of January and April", "UTC",
     "<CalendarTrigger><StartBoundary>2024-01-01T03:00:00</StartBoundary><ScheduleByMonthDayOfWeek><Weeks>"
     "<Week>1</Week><Week>Last</Week></Weeks><DaysOfWeek><Monday/></DaysOfWeek><Months><January/><April/></Months>"
     "</ScheduleByMonthDayOfWeek></CalendarTrigger>",
     "2023-12-31T00:00:00Z",
     Instants({"2024-01-01T03:00:00Z", "2024-01-29T03:00:00Z", "2024-04-01T03:00:00Z", "2024-04-29T03:00:00Z",
               "2025-01-06T03:00:00Z", "2025-01-27T03:00:00Z"}),
     false, true},
    {"second Friday", "UTC",
     "<CalendarTrigger><StartBoundary>2024-01-01T18:30:00</StartBoundary><ScheduleByMonthDayOfWeek><Weeks>"
     "<Week>2</Week></Weeks><DaysOfWeek><Friday/></DaysOfWeek><Months><January/><February/><March/></Months>"
     "</ScheduleByMonthDayOfWeek></CalendarTrigger>",
     "2024-01-01T00:00:00Z", Instants({"2024-01-12T18:30:00Z", "2024-02-09T18:30:00Z", "2024-03-08T18:30:00Z"}), false,
     true},
    {"one time", "UTC", "<TimeTrigger><StartBoundary>2026-12-10T00:46:00</StartBoundary></TimeTrigger>",
     "2026-12-01T00:00:00Z", Instants({"2026-12-10T00:46:00Z"}), true, true},
    {"one time, every 90 minutes for 4 hours", "UTC",
     "<TimeTrigger><Repetition><Interval>PT1H30M</Interval><Duration>PT4H</Duration></Repetition>"
     "<StartBoundary>2024-03-01T08:00:00</StartBoundary></TimeTrigger>",
     "2024-03-01T00:00:00Z", Instants({"2024-03-01T08:00:00Z", "2024-03-01T09:30:00Z", "2024-03-01T11:00:00Z"}), true,
     true},
    {"daily at 20:00, every 2 hours for 6 hours", "UTC",
     "<CalendarTrigger><Repetition><Interval>PT2H</Interval><Duration>PT6H</Duration></Repetition>"
     "<StartBoundary>2024-03-01T20:00:00</StartBoundary><ScheduleByDay><DaysInterval>1</DaysInterval>"
     "</ScheduleByDay></CalendarTrigger>",
     "2024-03-01T12:00:00Z",
     Instants({"2024-03-01T20:00:00Z", "2024-03-01T22:00:00Z", "2024-03-02T00:00:00Z", "2024-03-02T20:00:00Z"}), false,
     false},
    {"one time, every 45 minutes for ever", "UTC",
     "<TimeTrigger><Repetition><Interval>PT45M</Interval></Repetition>"
     "<StartBoundary>2024-03-01T08:10:00</StartBoundary></TimeTrigger>",
     "2024-03-01T08:00:00Z",
     Instants({"2024-03-01T08:10:00Z", "2024-03-01T08:55:00Z", "2024-03-01T09:40:00Z", "2024-03-01T10:25:00Z"}), false,
     false},
    {"daily until an end boundary", "UTC",
     "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary><EndBoundary>2024-03-03T08:15:00"
     "</EndBoundary><ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger>",
     "2024-02-28T00:00:00Z", Instants({"2024-03-01T08:15:00Z", "2024-03-02T08:15:00Z", "2024-03-03T08:15:00Z"}), true,
     true},
    // Local time across the change to summer time on 31 March.
    {"daily in Berlin", "Europe/Berlin",
     "<CalendarTrigger><StartBoundary>2024-03-29T08:15:00</StartBoundary>"
     "<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger>",
     "2024-03-29T00:00:00Z",
     Instants({"2024-03-29T07:15:00Z", "2024-03-30T07:15:00Z", "2024-03-31T06:15:00Z", "2024-04-01T06:15:00Z"}), false,
     true},
    {"daily in Berlin, synchronised across time zones", "Europe/Berlin",
     "<CalendarTrigger><StartBoundary>2024-03-29T08:15:00+01:00</StartBoundary>"
     "<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger>",
     "2024-03-29T00:00:00Z",
     Instants({"2024-03-29T07:15:00Z", "2024-03-30T07:15:00Z", "2024-03-31T07:15:00Z", "2024-04-01T07:15:00Z"}), false,
     true},
};

TEST(NextOccurrence, FollowsTheTriggersRules)
{
  for (const TOccurrenceCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    ScopedTimeZone zone(c.Zone);
    const TTriggerSchedule schedule = Schedule(c.Trigger);
    QList<QDateTime> found;
    QDateTime after = At(c.Base);
    for (qsizetype i = 0; i < c.Expected.size(); ++i) {
      after = NextOccurrence(schedule, after);
      found.append(after);
    }
    EXPECT_EQ(found, c.Expected);
    if (c.ThenNone) {
      EXPECT_FALSE(NextOccurrence(schedule, c.Expected.back()).isValid());
    }
  }
}

TEST(CalendarLines, ElapseAtEveryOccurrenceAndOnlyThereWhenExact)
{
  if (!HasProgram(u"systemd-analyze"_s))
    GTEST_SKIP() << "systemd-analyze is not installed";
  for (const TOccurrenceCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    ScopedTimeZone zone(c.Zone);
    const TTriggerSchedule schedule = Schedule(c.Trigger);
    const TCalendarMapping mapping = CalendarLines(schedule);
    ASSERT_FALSE(mapping.Lines.isEmpty());
    EXPECT_EQ(mapping.Exact, c.Exact) << mapping.Lines.join(u" | ").toStdString();
    // Exact from the start boundary on: the guard turns down what comes before.
    QList<QDateTime> elapses = SystemdElapses(mapping.Lines, At(c.Base), c.Zone, 60);
    elapses.erase(std::remove_if(elapses.begin(), elapses.end(),
                                 [&](const QDateTime& t) { return t < schedule.Start || t > c.Expected.back(); }),
                  elapses.end());
    if (c.Exact) {
      EXPECT_EQ(elapses, c.Expected) << mapping.Lines.join(u" | ").toStdString();
    } else {
      for (const QDateTime& occurrence : c.Expected)
        EXPECT_TRUE(elapses.contains(occurrence))
            << occurrence.toString(Qt::ISODate).toStdString() << " in " << mapping.Lines.join(u" | ").toStdString();
    }
  }
}

TEST(LatestOccurrence, IsTheLastOneInTheWindow)
{
  ScopedTimeZone zone("UTC");
  const TTriggerSchedule everyThirdDay =
      Schedule("<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary>"
               "<ScheduleByDay><DaysInterval>3</DaysInterval></ScheduleByDay></CalendarTrigger>");
  const TTriggerSchedule evening =
      Schedule("<CalendarTrigger><Repetition><Interval>PT2H</Interval><Duration>PT6H</Duration></Repetition>"
               "<StartBoundary>2024-03-01T20:00:00</StartBoundary><ScheduleByDay><DaysInterval>1</DaysInterval>"
               "</ScheduleByDay></CalendarTrigger>");
  const TTriggerSchedule lastDay =
      Schedule("<CalendarTrigger><StartBoundary>2024-01-01T03:00:00</StartBoundary><ScheduleByMonth><DaysOfMonth>"
               "<Day>Last</Day></DaysOfMonth><Months><February/><March/></Months></ScheduleByMonth></CalendarTrigger>");
  const TTriggerSchedule ending =
      Schedule("<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary><EndBoundary>2024-03-03T09:00:00"
               "</EndBoundary><ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger>");
  const TTriggerSchedule logon = Schedule("<LogonTrigger><Delay>PT30S</Delay></LogonTrigger>");
  const TTriggerSchedule logonLater =
      Schedule("<LogonTrigger><StartBoundary>2024-03-02T00:00:00</StartBoundary></LogonTrigger>");
  const QDateTime logonTime = At("2024-03-01T10:00:00Z");
  const struct {
    const char* Name;
    const TTriggerSchedule& Schedule;
    const char* After; // "" for none
    const char* Until;
    const char* Expected; // "" for none
  } cases[] = {
      {"every third day", everyThirdDay, "", "2024-03-05T12:00:00Z", "2024-03-04T08:15:00Z"},
      {"the window is open at its start", everyThirdDay, "2024-03-04T08:15:00Z", "2024-03-06T12:00:00Z", ""},
      {"and closed at its end", everyThirdDay, "2024-03-04T08:15:00Z", "2024-03-07T08:15:00Z", "2024-03-07T08:15:00Z"},
      {"before the start", everyThirdDay, "", "2024-03-01T08:14:59Z", ""},
      {"a repetition after midnight", evening, "", "2024-03-02T01:00:00Z", "2024-03-02T00:00:00Z"},
      {"the repetition has ended", evening, "2024-03-02T00:00:00Z", "2024-03-02T19:00:00Z", ""},
      {"the last day of February", lastDay, "", "2024-03-15T00:00:00Z", "2024-02-29T03:00:00Z"},
      {"nothing after the end boundary", ending, "", "2024-03-10T00:00:00Z", "2024-03-03T08:15:00Z"},
      {"logon with its delay", logon, "2024-03-01T09:00:00Z", "2024-03-01T10:00:31Z", "2024-03-01T10:00:30Z"},
      {"not before the delay", logon, "2024-03-01T09:00:00Z", "2024-03-01T10:00:29Z", ""},
      {"not before the start boundary", logonLater, "", "2024-03-03T00:00:00Z", ""},
  };
  for (const auto& c : cases) {
    const QDateTime after = *c.After ? At(c.After) : QDateTime();
    const QDateTime expected = *c.Expected ? At(c.Expected) : QDateTime();
    EXPECT_EQ(LatestOccurrence(c.Schedule, after, At(c.Until), logonTime), expected) << c.Name;
  }
}

TEST(DecideScheduledRun, RunsTheLatestOccurrenceOnceOnTimeOrWhenMissedRunsAreWanted)
{
  ScopedTimeZone zone("UTC");
  const char* const everyOtherDay = "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary>"
                                    "<ScheduleByDay><DaysInterval>2</DaysInterval></ScheduleByDay></CalendarTrigger>";
  const char* const until3rd = "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary><EndBoundary>"
                               "2024-03-03T12:00:00</EndBoundary><ScheduleByDay><DaysInterval>1</DaysInterval>"
                               "</ScheduleByDay></CalendarTrigger>";
  const char* const randomHour = "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary>"
                                 "<RandomDelay>PT1H</RandomDelay><ScheduleByDay><DaysInterval>1</DaysInterval>"
                                 "</ScheduleByDay></CalendarTrigger>";
  const char* const switchedOff = "<CalendarTrigger><StartBoundary>2024-03-01T08:15:00</StartBoundary>"
                                  "<Enabled>false</Enabled><ScheduleByDay><DaysInterval>1</DaysInterval>"
                                  "</ScheduleByDay></CalendarTrigger>";
  const char* const atLogon = "<LogonTrigger><Delay>PT30S</Delay></LogonTrigger>";
  const struct {
    const char* Name;
    const char* Triggers;
    const char* Settings;
    const char* Now;
    const char* LastHandled; // "" unknown
    bool Network;
    bool Due;
    const char* Occurrence; // "" none
  } cases[] = {
      {"on time", kDaily, "", "2024-03-05T08:15:20Z", "2024-03-04T08:15:00Z", true, true, "2024-03-05T08:15:00Z"},
      {"on time without a record", kDaily, "", "2024-03-05T08:15:20Z", "", true, true, "2024-03-05T08:15:00Z"},
      {"already run", kDaily, "", "2024-03-05T08:15:40Z", "2024-03-05T08:15:00Z", true, false, ""},
      {"late", kDaily, "", "2024-03-05T10:00:00Z", "2024-03-04T08:15:00Z", true, false, "2024-03-05T08:15:00Z"},
      {"late, but missed runs are wanted", kDaily, "<StartWhenAvailable>true</StartWhenAvailable>",
       "2024-03-05T10:00:00Z", "2024-03-04T08:15:00Z", true, true, "2024-03-05T08:15:00Z"},
      {"registered after the occurrence", kDaily, "<StartWhenAvailable>true</StartWhenAvailable>",
       "2024-03-05T10:00:00Z", "2024-03-05T09:00:00Z", true, false, ""},
      {"a day between two occurrences", everyOtherDay, "", "2024-03-04T08:15:05Z", "2024-03-03T08:15:00Z", true, false,
       ""},
      {"an occurrence day", everyOtherDay, "", "2024-03-05T08:15:05Z", "2024-03-03T08:15:00Z", true, true,
       "2024-03-05T08:15:00Z"},
      {"before the start", kDaily, "", "2024-02-29T08:15:05Z", "2024-02-01T00:00:00Z", true, false, ""},
      {"after the end", until3rd, "", "2024-03-04T08:15:05Z", "2024-03-03T08:15:00Z", true, false, ""},
      {"within the random delay", randomHour, "", "2024-03-05T09:10:00Z", "2024-03-04T08:15:00Z", true, true,
       "2024-03-05T08:15:00Z"},
      {"a trigger that is switched off", switchedOff, "", "2024-03-05T08:15:05Z", "", true, false, ""},
      {"the task is switched off", kDaily, "<Enabled>false</Enabled>", "2024-03-05T08:15:05Z", "", true, false, ""},
      {"no network", kDaily, "<RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>", "2024-03-05T08:15:05Z", "",
       false, false, "2024-03-05T08:15:00Z"},
      {"with network", kDaily, "<RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>", "2024-03-05T08:15:05Z",
       "", true, true, "2024-03-05T08:15:00Z"},
      {"after logon", atLogon, "", "2024-03-01T10:00:31Z", "2024-03-01T09:00:00Z", true, true, "2024-03-01T10:00:30Z"},
      // The timer of a logon trigger fires as soon as it is started, also at registration.
      {"registered after logon", atLogon, "", "2024-03-01T10:05:01Z", "2024-03-01T10:05:00Z", true, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto definition = Definition(c.Triggers, c.Settings);
    TRunCheck check;
    check.Now = At(c.Now);
    check.LastHandled = *c.LastHandled ? At(c.LastHandled) : QDateTime();
    check.LogonTime = At("2024-03-01T10:00:00Z");
    check.NetworkAvailable = c.Network;
    const TRunDecision decision = DecideScheduledRun(*definition, check);
    EXPECT_EQ(decision.Due, c.Due) << decision.Reason.toStdString();
    EXPECT_EQ(decision.Occurrence, *c.Occurrence ? At(c.Occurrence) : QDateTime());
    EXPECT_EQ(decision.Reason.isEmpty(), c.Due);
  }
}

} // namespace
