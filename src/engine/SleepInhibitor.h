#pragma once

// Keeps a scheduled shutdown or suspend from cutting a backup short: a
// logind inhibitor lock ("sleep:shutdown") for as long as the object lives.
// "block" mode where logind grants it, else "delay". Without logind (no
// system bus, a container) the run goes on without one. The bus is the
// system bus, or $ARDANTO_SYSTEM_BUS_ADDRESS when set.

#include <QString>

#include <memory>

class QDBusUnixFileDescriptor;

namespace engine {

class TSleepInhibitor {
public:
  TSleepInhibitor();
  ~TSleepInhibitor();
  TSleepInhibitor(const TSleepInhibitor&) = delete;
  TSleepInhibitor& operator=(const TSleepInhibitor&) = delete;

  // Asks logind for the lock; the mode granted ("block" or "delay"), or
  // empty with the reason in error.
  QString Acquire(const QString& why, QString& error);
  void Release();

private:
  std::unique_ptr<QDBusUnixFileDescriptor> FLock;
};

} // namespace engine
