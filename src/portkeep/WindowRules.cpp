#include "portkeep/WindowRules.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"
#include "portkeep/Startup.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

QString SizeText(std::int64_t size)
{
  return FormatFileSize(false, false, QChar(), std::max<std::int64_t>(size, 0));
}

} // namespace

int ProgressPermille(std::int64_t done, std::int64_t total)
{
  if (total <= 0 || done <= 0)
    return 0;
  if (done >= total)
    return 1000;
  return static_cast<int>(done * 1000 / total);
}

int RunPermille(const TRunProgress& progress)
{
  if (progress.BytesTotal > 0)
    return ProgressPermille(progress.BytesDone + progress.CurrentDone, progress.BytesTotal);
  return ProgressPermille(progress.FilesDone, progress.FilesTotal);
}

QString RunProgressText(const TRunProgress& progress)
{
  const std::int64_t bytes = std::min(progress.BytesDone + progress.CurrentDone, progress.BytesTotal);
  return FormatText(_("%d of %d files, %s of %s"),
                    {progress.FilesDone, progress.FilesTotal, SizeText(bytes), SizeText(progress.BytesTotal)});
}

QString RateText(const TRunProgress& progress)
{
  if (progress.BytesPerSecond <= 0)
    return QString();
  QString text = SizeText(static_cast<std::int64_t>(progress.BytesPerSecond)) + u"/s"_s;
  if (progress.SecondsLeft >= 0)
    text += u", "_s + FormatText(_("%s left"), {DurationText(std::llround(progress.SecondsLeft))});
  return text;
}

void ResetTaskSettings(TTaskSettings& settings, TDateTime today)
{
  settings.Overwrite = omWhenOlder;
  settings.Compress = false;
  settings.CompressAsZip = false;
  settings.Filter.SetMode(fmOff);
  const TTimePeriod defaults = TTimePeriod::Default(today);
  settings.TimePeriod.Mode = tmAll;
  settings.TimePeriod.Dat1 = defaults.Dat1;
  settings.TimePeriod.Dat2 = defaults.Dat2;
  settings.TimePeriod.DayTime = defaults.DayTime;
  settings.TimePeriod.Days = defaults.Days;
}

QDate DateOfDay(TDateTime day)
{
  return QDateTimeFromDateTime(std::floor(day), Qt::UTC).date();
}

TDateTime DayOfDate(const QDate& date)
{
  return DateTimeFromQDateTime(QDateTime(date, QTime(0, 0), Qt::UTC));
}

TDateTime DayTimeOf(const QTime& time)
{
  return (time.hour() * 60 + time.minute()) / 1440.0;
}

QTime TimeOfDayTime(TDateTime dayTime)
{
  // Whole minutes, rounded down as the field drops seconds; the small
  // allowance keeps 06:00 stored as a fraction from turning into 05:59.
  const auto minutes = static_cast<long long>(std::floor((dayTime - std::floor(dayTime)) * 1440.0 + 1e-6)) % 1440;
  return QTime(static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
}

TTimeSlotFields TimeSlotFields(const TTimePeriod& period)
{
  TTimeSlotFields fields;
  fields.From = DateOfDay(period.Dat1);
  fields.FromTime = TimeOfDayTime(period.DayTime);
  fields.To = DateOfDay(period.Dat2);
  fields.Days = std::clamp(period.Days, 1, 9999);
  return fields;
}

void ReadTimeSlotFields(const TTimeSlotFields& fields, TTimePeriod& period)
{
  period.Dat1 = DayOfDate(fields.From);
  period.Dat2 = DayOfDate(fields.To);
  period.DayTime = DayTimeOf(fields.FromTime);
  period.Days = std::clamp(fields.Days, 1, 9999);
}

QDate ToAfterFromChanged(const QDate& from, const QDate& to)
{
  return to < from ? from.addDays(1) : to;
}

QDate FromAfterToChanged(const QDate& from, const QDate& to)
{
  return to < from ? to : from;
}

QList<int> MergeSelectionOrder(const QList<int>& order, const QList<int>& selected)
{
  QList<int> merged;
  for (const int index : order) {
    if (selected.contains(index) && !merged.contains(index))
      merged.append(index);
  }
  for (const int index : selected) {
    if (!merged.contains(index))
      merged.append(index);
  }
  return merged;
}

platform::TDesktopShortcut TaskShortcut(const QString& taskName, const QString& program, const QString& jobFolder,
                                        const QString& desktopFolder)
{
  const QString name = DelExt(ExtractFileName(taskName));
  platform::TDesktopShortcut shortcut;
  shortcut.Name = u"Ardanto-Portkeep-"_s + name;
  shortcut.FileName = SetDirName(desktopFolder) + shortcut.Name + u".desktop"_s;
  shortcut.Comment = _("Device backup: ") + name;
  shortcut.Program = program;
  shortcut.Arguments = {taskName, u"/f"_s};
  shortcut.WorkingFolder = jobFolder;
  shortcut.Icon = u"portkeep"_s;
  return shortcut;
}

QString ShortcutQuestion(const platform::TDesktopShortcut& shortcut, const QString& taskName, bool exists)
{
  const QString question =
      exists ? FormatText(_("Replace existing desktop shortcut \"%s\"?"), {shortcut.Name})
             : FormatText(_("Create desktop shortcut for \"%s\"?"), {DelExt(ExtractFileName(taskName))});
  return _("Backup files from a portable device") + u"\r\n"_s + question;
}

bool FileEntryLess(const TFileEntry& a, const TFileEntry& b, int column)
{
  if (column == fcDate && a.Time != b.Time)
    return a.Time < b.Time;
  if (column == fcSize && a.Size != b.Size)
    return a.Size < b.Size;
  return a.Name.compare(b.Name, Qt::CaseInsensitive) < 0;
}

TFileSort NextFileSort(const TFileSort& current, int column)
{
  if (column == current.Column)
    return {column, !current.Ascending};
  return {column, column == fcName};
}

} // namespace portkeep
