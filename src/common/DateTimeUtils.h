#pragma once

// Day-based date-times and platform file times.
//
// TDateTime: days since 1899-12-30 plus the fraction of the day, local time
// unless a name says UTC. TFileTime: 100-ns intervals since 1601-01-01 UTC.

#include "common/FileData.h"

#include <QDateTime>

#include <cstdint>
#include <optional>

namespace ardanto {

using TDateTime = double;

constexpr double kMillisecondsPerDay = 86400000.0;
constexpr std::int64_t kFileTimePerSecond = 10'000'000;
constexpr std::int64_t kFileTimePerDay = 864'000'000'000;
// Days from 1601-01-01 to 1899-12-30, and seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kFileTimeEpochDays = 109205;
constexpr std::int64_t kUnixEpochFileTimeSeconds = 11644473600;

// The wall-clock value of dt as a TDateTime (no zone conversion).
TDateTime DateTimeFromQDateTime(const QDateTime& dt);
// A TDateTime read as wall-clock time in the given zone (local or UTC).
QDateTime QDateTimeFromDateTime(TDateTime value, Qt::TimeSpec spec = Qt::LocalTime);
TDateTime DateTimeNow(); // local
TDateTime DateTimeNowUtc();

TDateTime FileTimeToDateTimeUtc(TFileTime ft);
TFileTime DateTimeUtcToFileTime(TDateTime utc);
TFileTime UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds = 0);
TFileTime CurrentFileTime();

// Local time to UTC. In the hour that a change to summer time skips, the
// offset before the change applies; in the hour that is repeated when summer
// time ends, the first (summer-time) occurrence is taken.
TDateTime LocalToUtc(TDateTime local);
TDateTime UtcToLocal(TDateTime utc);

} // namespace ardanto
