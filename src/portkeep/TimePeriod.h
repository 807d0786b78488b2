#pragma once

// The time slot of a device backup: which files take part, by their time.

#include "common/DateTimeUtils.h"

#include <QLocale>
#include <QString>

#include <cstdint>

namespace ardanto {
class TUnicodeIniFile;
}

namespace portkeep {

using ardanto::TDateTime;

enum TTimeMode : std::int32_t {
  tmAll,
  tmNewer,
  tmOlder,
  tmSpan,
  tmToday,
  tmLastDays,
  tmPrevDays,
  tmUpdate,
  tmOff,
  tmError,
  tmPrompt,
};
// The device program offers the modes up to this one.
constexpr std::int32_t kLastDeviceTimeMode = tmPrevDays;

enum TTimeRef : std::int32_t { trModify, trCreate, trBoth };

struct TTimePeriod {
  TTimeMode Mode = tmAll;
  TTimeRef TmRef = trModify;
  std::int32_t Days = 7;
  TDateTime DayTime = 0.25; // 06:00
  TDateTime Dat1 = 0;       // whole days
  TDateTime Dat2 = 0;

  // Mode tmAll, 7 days, 06:00, from today less 12 months to today.
  static TTimePeriod Default(TDateTime today);
};

// Whether a file with time x passes the slot; today is the whole day the run
// takes for the file's folder.
bool TimePeriodPasses(const TTimePeriod& period, TDateTime x, TDateTime today);

// Today as a whole day (local).
TDateTime Today();

// Stored forms. Dates and times are written in ISO form (yyyy-MM-dd,
// HH:mm:ss) so that a task file means the same under every locale; reading
// also takes the forms the user's locale writes, as older task files hold them.
QString DateToText(TDateTime date);
QString TimeToText(TDateTime time);
bool TextToDate(const QString& text, TDateTime& date, const QLocale& locale = QLocale::system());
bool TextToTime(const QString& text, TDateTime& time, const QLocale& locale = QLocale::system());

// Section "TimeSlot". Reading starts from `period` (the current values);
// defaultMode applies when the key is missing. A date or time that cannot be
// read switches the mode to tmAll and keeps what was read before it.
void ReadTimeSlot(const ardanto::TUnicodeIniFile& ini, TTimePeriod& period, std::int32_t defaultMode);
void WriteTimeSlot(ardanto::TUnicodeIniFile& ini, const TTimePeriod& period);

} // namespace portkeep
