#include "platform/Power.h"

#include "common/Translate.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariant>

#include <atomic>

namespace ardanto::platform {

using namespace Qt::StringLiterals;

namespace {

std::atomic<TPowerBackend*> gBackend{nullptr};

constexpr int kCallTimeoutMs = 25000;
// A question asked while a dialog opens must not keep it from opening.
constexpr int kQueryTimeoutMs = 3000;

// One bus connection for one request; a test names its own bus in the
// environment, and a new address must not reuse an older connection.
class TBus {
public:
  TBus(QDBusConnection::BusType type, const char* addressVariable)
  {
    const QString address = qEnvironmentVariable(addressVariable);
    if (address.isEmpty()) {
      FConnection = type == QDBusConnection::SystemBus ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
      return;
    }
    FName = u"ardanto-power-"_s + address;
    FConnection = QDBusConnection::connectToBus(address, FName);
  }
  ~TBus()
  {
    if (!FName.isEmpty())
      QDBusConnection::disconnectFromBus(FName);
  }
  TBus(const TBus&) = delete;
  TBus& operator=(const TBus&) = delete;

  QDBusConnection& Connection() { return FConnection; }

  bool HasService(const QString& service)
  {
    if (!FConnection.isConnected() || !FConnection.interface())
      return false;
    const QDBusReply<bool> reply = FConnection.interface()->isServiceRegistered(service);
    return reply.isValid() && reply.value();
  }

  // True when the call was answered without an error; answer (when given)
  // gets the reply.
  bool Call(const QString& service, const QString& path, const QString& interface, const QString& method,
            const QVariantList& arguments, QString& error, QDBusMessage* answer = nullptr,
            int timeoutMs = kCallTimeoutMs)
  {
    if (!FConnection.isConnected()) {
      const QString reason = FConnection.lastError().message();
      error = reason.isEmpty() ? _("The message bus is not available") : reason;
      return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = FConnection.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
      if (answer)
        *answer = reply;
      return true;
    }
    error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    if (error.isEmpty())
      error = _("No answer from ") + service;
    return false;
  }

private:
  QString FName;
  QDBusConnection FConnection{QString()};
};

const QString kLogind = u"org.freedesktop.login1"_s;
const QString kLogindPath = u"/org/freedesktop/login1"_s;
const QString kLogindManager = u"org.freedesktop.login1.Manager"_s;

bool LogOff(QString& error)
{
  {
    TBus session(QDBusConnection::SessionBus, "ARDANTO_SESSION_BUS_ADDRESS");
    struct TManager {
      QString Service, Path, Interface, Method;
      QVariantList Arguments;
    };
    // Mode 1: no confirmation; applications may still ask to save their work.
    const TManager managers[] = {
        {u"org.gnome.SessionManager"_s,
         u"/org/gnome/SessionManager"_s,
         u"org.gnome.SessionManager"_s,
         u"Logout"_s,
         {QVariant::fromValue(uint(1))}},
        {u"org.kde.Shutdown"_s, u"/Shutdown"_s, u"org.kde.Shutdown"_s, u"logout"_s, {}},
        {u"org.kde.ksmserver"_s, u"/KSMServer"_s, u"org.kde.KSMServerInterface"_s, u"logout"_s, {0, 0, 0}},
        {u"org.xfce.SessionManager"_s,
         u"/org/xfce/SessionManager"_s,
         u"org.xfce.Session.Manager"_s,
         u"Logout"_s,
         {false, true}},
    };
    for (const TManager& manager : managers) {
      if (session.HasService(manager.Service))
        return session.Call(manager.Service, manager.Path, manager.Interface, manager.Method, manager.Arguments, error);
    }
  }
  // No session manager: logind ends the session itself (an empty id means the
  // caller's own).
  TBus system(QDBusConnection::SystemBus, "ARDANTO_SYSTEM_BUS_ADDRESS");
  return system.Call(kLogind, kLogindPath, kLogindManager, u"TerminateSession"_s,
                     {qEnvironmentVariable("XDG_SESSION_ID")}, error);
}

TPowerBackend& Backend()
{
  static TLogindPowerBackend logind;
  TPowerBackend* backend = gBackend.load();
  return backend ? *backend : logind;
}

bool Carry(TPowerAction action, QString* error)
{
  QString reason;
  const bool done = Backend().Request(action, reason);
  if (!done && error)
    *error = reason;
  return done;
}

} // namespace

bool TLogindPowerBackend::Request(TPowerAction action, QString& error)
{
  if (action == TPowerAction::LogOff)
    return LogOff(error);
  QString method;
  switch (action) {
  case TPowerAction::PowerOff:
    method = u"PowerOff"_s;
    break;
  case TPowerAction::Reboot:
    method = u"Reboot"_s;
    break;
  case TPowerAction::Suspend:
    method = u"Suspend"_s;
    break;
  case TPowerAction::Hibernate:
    method = u"Hibernate"_s;
    break;
  case TPowerAction::LogOff:
    break;
  }
  TBus system(QDBusConnection::SystemBus, "ARDANTO_SYSTEM_BUS_ADDRESS");
  // interactive = false: an unattended run has nobody to answer a password prompt.
  return system.Call(kLogind, kLogindPath, kLogindManager, method, {false}, error);
}

bool TLogindPowerBackend::CanHybridSleep()
{
  TBus system(QDBusConnection::SystemBus, "ARDANTO_SYSTEM_BUS_ADDRESS");
  QString error;
  QDBusMessage answer;
  if (!system.Call(kLogind, kLogindPath, kLogindManager, u"CanHybridSleep"_s, {}, error, &answer, kQueryTimeoutMs))
    return false;
  const QVariantList values = answer.arguments();
  if (values.isEmpty())
    return false;
  const QString can = values.front().toString();
  return can == u"yes"_s || can == u"challenge"_s;
}

bool TRecordingPowerBackend::Request(TPowerAction action, QString& error)
{
  Requests.push_back(action);
  if (!Accept)
    error = Error;
  return Accept;
}

TPowerBackend* SetPowerBackend(TPowerBackend* backend)
{
  return gBackend.exchange(backend);
}

bool ShutDownWindows(TDownMode kind, QString* error)
{
  switch (kind) {
  case dmNone:
    return true;
  case dmLogOff:
    return Carry(TPowerAction::LogOff, error);
  case dmRestart:
    return Carry(TPowerAction::Reboot, error);
  case dmPowerOff:
  case dmShutdown:
  case dmIdleOff:
  case dmHybrid:
    return Carry(TPowerAction::PowerOff, error);
  }
  // A value from a damaged setting must not switch the machine off.
  if (error)
    *error = _("Unknown shutdown mode");
  return false;
}

bool SuspendWindows(bool hibernate, QString* error)
{
  return Carry(hibernate ? TPowerAction::Hibernate : TPowerAction::Suspend, error);
}

bool CanHybridSleep()
{
  return Backend().CanHybridSleep();
}

} // namespace ardanto::platform
