#pragma once

// Rules of Portkeep's main window that need no widgets: how a run's progress
// reads, what a reset resets, how the time-slot fields map to the stored
// time slot, the order of the selected folders, the task's desktop shortcut
// and the sort order of the file list.

#include "platform/DesktopEntry.h"
#include "portkeep/BackupRun.h"
#include "portkeep/TaskSettings.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QTime>

#include <cstdint>

namespace portkeep {

// Parts per thousand of done in total, for a progress bar; 0 without a total.
int ProgressPermille(std::int64_t done, std::int64_t total);
// The whole run: by bytes, or by files when the files hold no bytes.
int RunPermille(const TRunProgress& progress);
// "12 of 40 files, 3.10 MiB of 20.0 MiB".
QString RunProgressText(const TRunProgress& progress);
// "2.50 MiB/s, 00:01:05 left"; empty until the rate is known.
QString RateText(const TRunProgress& progress);

// "Reset to default configuration": overwrite mode, compression, the filter's
// mode (its text stays) and the time slot go back to their defaults. The
// archive bit, no-compression types, destination, device and task stay; the
// window clears the folder selection.
void ResetTaskSettings(TTaskSettings& settings, TDateTime today);

// The time-slot fields of the window and the stored time slot. Dates are
// whole days; the day time counts in whole minutes, as the field shows it.
struct TTimeSlotFields {
  QDate From;     // the from field as a date
  QTime FromTime; // the from field as a time ("Today from")
  QDate To;
  int Days = 7; // 1 to 9999
};
TTimeSlotFields TimeSlotFields(const TTimePeriod& period);
// Mode and TmRef stay as they are.
void ReadTimeSlotFields(const TTimeSlotFields& fields, TTimePeriod& period);
TDateTime DayTimeOf(const QTime& time);
QTime TimeOfDayTime(TDateTime dayTime);
QDate DateOfDay(TDateTime day);
TDateTime DayOfDate(const QDate& date);
// From never lies after To: moving From past To pushes To to the day after,
// moving To before From pulls From to the same day.
QDate ToAfterFromChanged(const QDate& from, const QDate& to);
QDate FromAfterToChanged(const QDate& from, const QDate& to);

// The order in which folders were selected (object indexes), brought up to
// date with what is selected now: what is no longer selected goes, what is
// newly selected comes last, in the order given. A run copies the folders in
// this order and a task stores them so.
QList<int> MergeSelectionOrder(const QList<int>& order, const QList<int>& selected);

// The desktop shortcut of a task: "Ardanto-Portkeep-<task>" on the desktop,
// starting the program with the task and "/f" in the job folder.
ardanto::platform::TDesktopShortcut TaskShortcut(const QString& taskName, const QString& program,
                                                 const QString& jobFolder, const QString& desktopFolder);
// What the user is asked before the shortcut is written.
QString ShortcutQuestion(const ardanto::platform::TDesktopShortcut& shortcut, const QString& taskName, bool exists);

// The file list: entries sort by their raw values, never by the text shown.
struct TFileEntry {
  QString Name;
  TDateTime Time = 0;
  std::int64_t Size = 0;
};
enum TFileColumn { fcName, fcDate, fcSize };
// Ascending order of a column; equal dates or sizes go by name.
bool FileEntryLess(const TFileEntry& a, const TFileEntry& b, int column);
struct TFileSort {
  int Column = fcName;
  bool Ascending = true;
};
// A click on a column header: the sort column again reverses the direction;
// another column sorts names A to Z, dates and sizes largest first.
TFileSort NextFileSort(const TFileSort& current, int column);

} // namespace portkeep
