#include "portkeep/WindowRules.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace portkeep;
using namespace Qt::StringLiterals;

TEST(RunProgress, BarsAndTexts)
{
  const auto progress = [](int filesDone, int filesTotal, std::int64_t bytesDone, std::int64_t bytesTotal,
                           std::int64_t currentDone, double rate, double left) {
    TRunProgress p;
    p.FilesDone = filesDone;
    p.FilesTotal = filesTotal;
    p.BytesDone = bytesDone;
    p.BytesTotal = bytesTotal;
    p.CurrentDone = currentDone;
    p.BytesPerSecond = rate;
    p.SecondsLeft = left;
    return p;
  };
  const struct {
    const char* What;
    TRunProgress Progress;
    int Permille;
    const char16_t* Text;
    const char16_t* Rate;
  } cases[] = {
      {"nothing to do", progress(0, 0, 0, 0, 0, 0, -1), 0, u"0 of 0 files, 0 B of 0 B", u""},
      {"the part of the file being copied counts", progress(1, 4, 1024, 4096, 1024, 0, -1), 500,
       u"1 of 4 files, 2.00 KiB of 4.00 KiB", u""},
      {"empty files count by number", progress(3, 4, 0, 0, 0, 0, -1), 750, u"3 of 4 files, 0 B of 0 B", u""},
      {"a file larger than the device said stays within the bar", progress(0, 1, 0, 100, 500, 0, -1), 1000,
       u"0 of 1 files, 100 B of 100 B", u""},
      {"rate and time left", progress(2, 9, 3 << 20, 20 << 20, 0, 2.5 * (1 << 20), 3723.4), 150,
       u"2 of 9 files, 3.00 MiB of 20.0 MiB", u"2.50 MiB/s, 01:02:03 left"},
      {"rate before the time left is known", progress(0, 9, 0, 20 << 20, 0, 1500, -1), 0,
       u"0 of 9 files, 0 B of 20.0 MiB", u"1.46 KiB/s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunPermille(c.Progress), c.Permille) << c.What;
    EXPECT_EQ(RunProgressText(c.Progress), QString::fromUtf16(c.Text)) << c.What;
    EXPECT_EQ(RateText(c.Progress), QString::fromUtf16(c.Rate)) << c.What;
  }
  EXPECT_EQ(ProgressPermille(5, -1), 0);
  EXPECT_EQ(ProgressPermille(1, 3), 333);
}

TEST(WindowRules, ResetKeepsWhatIsNotReset)
{
  TTaskSettings settings;
  settings.DeviceName = u"Phone"_s;
  settings.Destination = u"/backup/%device%"_s;
  settings.Overwrite = omNone;
  settings.ArchBit = true;
  settings.Compress = true;
  settings.CompressAsZip = true;
  settings.NoCompTypes = {u"raw"_s};
  settings.Filter.SetFilter(u"*.jpg"_s);
  settings.Filter.SetMode(ardanto::fmInclude);
  settings.TimePeriod = {tmSpan, trModify, 30, 0.5, 45000, 45010};
  settings.Dirs = {u"Phone\\DCIM"_s};
  const TDateTime today = DayOfDate(QDate(2024, 3, 31));
  ResetTaskSettings(settings, today);
  EXPECT_EQ(settings.Overwrite, omWhenOlder);
  EXPECT_FALSE(settings.Compress);
  EXPECT_FALSE(settings.CompressAsZip);
  EXPECT_EQ(settings.Filter.Mode(), ardanto::fmOff);
  EXPECT_EQ(settings.Filter.Filter(), u"*.jpg"_s) << "the text stays for later use";
  EXPECT_EQ(settings.TimePeriod.Mode, tmAll);
  EXPECT_EQ(DateOfDay(settings.TimePeriod.Dat1), QDate(2023, 3, 31));
  EXPECT_EQ(DateOfDay(settings.TimePeriod.Dat2), QDate(2024, 3, 31));
  EXPECT_DOUBLE_EQ(settings.TimePeriod.DayTime, 0.25);
  EXPECT_EQ(settings.TimePeriod.Days, 7);
  EXPECT_TRUE(settings.ArchBit);
  EXPECT_EQ(settings.NoCompTypes, QStringList{u"raw"_s});
  EXPECT_EQ(settings.Destination, u"/backup/%device%"_s);
  EXPECT_EQ(settings.DeviceName, u"Phone"_s);
  EXPECT_EQ(settings.Dirs, QStringList{u"Phone\\DCIM"_s});
}

TEST(WindowRules, TimeSlotFieldsAndBack)
{
  const struct {
    const char* What;
    TDateTime DayTime;
    QTime Shown;
    TDateTime Back;
  } times[] = {
      {"06:00", 0.25, QTime(6, 0), 0.25},
      {"seconds are not shown and not kept", 0.25 + 59.0 / 86400, QTime(6, 0), 0.25},
      {"just before midnight", 1439.0 / 1440, QTime(23, 59), 1439.0 / 1440},
      {"a date part is ignored", 45000.5, QTime(12, 0), 0.5},
      {"the last second of the day stays in it", 1 - 1.0 / 86400, QTime(23, 59), 1439.0 / 1440},
  };
  for (const auto& t : times) {
    TTimePeriod period;
    period.DayTime = t.DayTime;
    period.Dat1 = DayOfDate(QDate(2024, 3, 1));
    period.Dat2 = DayOfDate(QDate(2024, 3, 9));
    period.Days = 20000;
    const TTimeSlotFields fields = TimeSlotFields(period);
    EXPECT_EQ(fields.FromTime, t.Shown) << t.What;
    EXPECT_EQ(fields.From, QDate(2024, 3, 1)) << t.What;
    EXPECT_EQ(fields.To, QDate(2024, 3, 9)) << t.What;
    EXPECT_EQ(fields.Days, 9999) << t.What;
    TTimePeriod back;
    back.Mode = tmToday;
    ReadTimeSlotFields(fields, back);
    EXPECT_DOUBLE_EQ(back.DayTime, t.Back) << t.What;
    EXPECT_DOUBLE_EQ(back.Dat1, period.Dat1) << t.What;
    EXPECT_DOUBLE_EQ(back.Dat2, period.Dat2) << t.What;
    EXPECT_EQ(back.Days, 9999) << t.What;
    EXPECT_EQ(back.Mode, tmToday) << t.What;
  }
  // Both ways of reading the field give the same day time.
  EXPECT_DOUBLE_EQ(DayTimeOf(QTime(6, 30, 45)), DayTimeOf(QTime(6, 30)));
}

TEST(WindowRules, FromNeverLiesAfterTo)
{
  const QDate d1(2024, 3, 1), d5(2024, 3, 5), d20(2024, 3, 20);
  EXPECT_EQ(ToAfterFromChanged(d1, d5), d5);
  EXPECT_EQ(ToAfterFromChanged(d5, d5), d5) << "one day is a period";
  EXPECT_EQ(ToAfterFromChanged(d20, d5), QDate(2024, 3, 21)) << "pushed to the day after";
  EXPECT_EQ(FromAfterToChanged(d1, d5), d1);
  EXPECT_EQ(FromAfterToChanged(d20, d5), d5) << "pulled to the same day";
}

TEST(WindowRules, SelectionOrder)
{
  const struct {
    const char* What;
    QList<int> Order;
    QList<int> Selected;
    QList<int> Merged;
  } cases[] = {
      {"first selection", {}, {4, 2}, {4, 2}},           {"a click adds at the end", {7, 3}, {3, 5, 7}, {7, 3, 5}},
      {"deselected ones go", {7, 3, 5}, {5, 7}, {7, 5}}, {"nothing selected", {7, 3}, {}, {}},
      {"an index twice counts once", {7, 7}, {7}, {7}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MergeSelectionOrder(c.Order, c.Selected), c.Merged) << c.What;
}

TEST(WindowRules, TaskShortcut)
{
  const auto shortcut = TaskShortcut(u"/home/ann/jobs/My \"Phone\".pkj"_s, u"/usr/bin/portkeep"_s, u"/home/ann/jobs/"_s,
                                     u"/home/ann/Desktop"_s);
  EXPECT_EQ(shortcut.Name, u"Ardanto-Portkeep-My \"Phone\""_s);
  EXPECT_EQ(shortcut.FileName, u"/home/ann/Desktop/Ardanto-Portkeep-My \"Phone\".desktop"_s);
  EXPECT_EQ(shortcut.Comment, u"Device backup: My \"Phone\""_s);
  EXPECT_EQ(shortcut.Program, u"/usr/bin/portkeep"_s);
  EXPECT_EQ(shortcut.Arguments, (QStringList{u"/home/ann/jobs/My \"Phone\".pkj"_s, u"/f"_s}));
  EXPECT_EQ(shortcut.WorkingFolder, u"/home/ann/jobs/"_s);
  EXPECT_EQ(ShortcutQuestion(shortcut, u"/j/My \"Phone\".pkj"_s, false),
            u"Backup files from a portable device\r\nCreate desktop shortcut for \"My \"Phone\"\"?"_s);
  EXPECT_EQ(ShortcutQuestion(shortcut, u"/j/My \"Phone\".pkj"_s, true),
            u"Backup files from a portable device\r\nReplace existing desktop shortcut "
            u"\"Ardanto-Portkeep-My \"Phone\"\"?"_s);
}

TEST(WindowRules, FileListSortsByRawValues)
{
  // Sizes and times whose shown texts sort the wrong way round.
  const TFileEntry small{u"b.jpg"_s, 45000.25, 999};
  const TFileEntry large{u"A.png"_s, 45000.5, 1000};
  const TFileEntry sameTime{u"c.txt"_s, 45000.5, 5};
  EXPECT_TRUE(FileEntryLess(large, small, fcName)) << "names ignore case";
  EXPECT_TRUE(FileEntryLess(small, large, fcSize)) << "999 B before 1000 B (\"1000 B\" < \"999 B\" as text)";
  EXPECT_TRUE(FileEntryLess(small, large, fcDate));
  EXPECT_TRUE(FileEntryLess(large, sameTime, fcDate)) << "equal times go by name";
  EXPECT_FALSE(FileEntryLess(sameTime, large, fcDate));

  const struct {
    TFileSort Current;
    int Clicked;
    TFileSort Next;
  } clicks[] = {
      {{fcName, true}, fcDate, {fcDate, false}}, {{fcDate, false}, fcDate, {fcDate, true}},
      {{fcDate, true}, fcSize, {fcSize, false}}, {{fcSize, false}, fcName, {fcName, true}},
      {{fcName, true}, fcName, {fcName, false}},
  };
  for (const auto& c : clicks) {
    const TFileSort next = NextFileSort(c.Current, c.Clicked);
    EXPECT_EQ(next.Column, c.Next.Column) << c.Current.Column << " -> " << c.Clicked;
    EXPECT_EQ(next.Ascending, c.Next.Ascending) << c.Current.Column << " -> " << c.Clicked;
  }
}
