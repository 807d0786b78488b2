#pragma once

// Helpers of the scheduler tests: a platform for the model for the lifetime
// of a test, a fixed time zone, instants written as text.

#include "scheduler/TaskPlatform.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QTimeZone>

#include <ctime>
#include <memory>
#include <ostream>

inline void PrintTo(const QDateTime& value, std::ostream* os)
{
  *os << (value.isValid() ? value.toString(Qt::ISODateWithMs).toStdString() : std::string("(invalid)"));
}

namespace ardanto::test {

class ScopedTaskPlatform {
public:
  explicit ScopedTaskPlatform(scheduler::TSchedPlatform* platform) : FOld(scheduler::SetTaskPlatform(platform)) {}
  ~ScopedTaskPlatform() { scheduler::SetTaskPlatform(FOld); }
  ScopedTaskPlatform(const ScopedTaskPlatform&) = delete;
  ScopedTaskPlatform& operator=(const ScopedTaskPlatform&) = delete;

private:
  scheduler::TSchedPlatform* FOld;
};

// Local time is this zone while the object lives.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const QByteArray& zone) : FEnv(std::make_unique<ScopedEnv>("TZ", zone)) { tzset(); }
  ~ScopedTimeZone()
  {
    FEnv.reset();
    tzset();
  }

private:
  std::unique_ptr<ScopedEnv> FEnv;
};

// "2024-03-01T08:15:00Z" or "2024-03-01T08:15:00" (local).
inline QDateTime At(const char* text)
{
  return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

} // namespace ardanto::test
