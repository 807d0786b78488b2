#pragma once

// Logging off, shutting down, restarting and suspending after an unattended
// run: logind over the system bus, logging off through the desktop's session
// manager.

#include <QList>
#include <QString>

#include <vector>

namespace ardanto::platform {

// What follows a forced run. The programs never set dmIdleOff and dmHybrid;
// both power off like dmShutdown.
enum TDownMode : int { dmNone, dmPowerOff, dmShutdown, dmLogOff, dmRestart, dmIdleOff, dmHybrid };
enum TSuspendMode : int { smNone, smStandby, smHibernate };

enum class TPowerAction { PowerOff, Reboot, Suspend, Hibernate, LogOff };

// The service that carries an action out.
class TPowerBackend {
public:
  virtual ~TPowerBackend() = default;
  // True when the request was accepted; otherwise error says why.
  virtual bool Request(TPowerAction action, QString& error) = 0;
  // Whether the machine can suspend to memory and disk at once.
  virtual bool CanHybridSleep() = 0;
};

// logind's Manager (PowerOff, Reboot, Suspend, Hibernate, never asking the
// user) on the system bus, or on $ARDANTO_SYSTEM_BUS_ADDRESS when set. Log
// off: GNOME's, KDE's or Xfce's session manager on the session bus
// ($ARDANTO_SESSION_BUS_ADDRESS when set), else logind's TerminateSession of
// $XDG_SESSION_ID (or of the caller's own session). Hybrid sleep: logind's
// CanHybridSleep answers "yes", or "challenge" (allowed after authentication).
class TLogindPowerBackend : public TPowerBackend {
public:
  bool Request(TPowerAction action, QString& error) override;
  bool CanHybridSleep() override;
};

// Records what it is asked and answers as told: for tests.
class TRecordingPowerBackend : public TPowerBackend {
public:
  bool Request(TPowerAction action, QString& error) override;
  bool CanHybridSleep() override { return HybridSleep; }

  std::vector<TPowerAction> Requests; // std::vector: equal empty lists compare without touching memory
  bool Accept = true;
  QString Error = QStringLiteral("Access denied");
  bool HybridSleep = false;
};

// The backend the routines below use: logind unless one was set. Returns the
// one used so far (nullptr: logind); nullptr brings logind back.
TPowerBackend* SetPowerBackend(TPowerBackend* backend);

// dmLogOff logs the user off, dmRestart restarts, the others but dmNone power
// off; nothing is asked of the user. dmNone does nothing and succeeds. On
// failure error (when given) gets the system's reason.
bool ShutDownWindows(TDownMode kind, QString* error = nullptr);
// Standby, or hibernation.
bool SuspendWindows(bool hibernate, QString* error = nullptr);

// Whether hybrid sleep can be offered; false when the service cannot be asked.
bool CanHybridSleep();

} // namespace ardanto::platform
