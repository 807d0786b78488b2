#include "engine/SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace engine {

using namespace Qt::StringLiterals;

namespace {

// A logind that does not answer must not hold up the backup.
constexpr int kCallTimeoutMs = 3000;

} // namespace

TSleepInhibitor::TSleepInhibitor() = default;

TSleepInhibitor::~TSleepInhibitor()
{
  Release();
}

QString TSleepInhibitor::Acquire(const QString& why, QString& error)
{
  Release();
  // As everywhere in the suite, $ARDANTO_SYSTEM_BUS_ADDRESS points tests at a
  // bus of their own; Qt itself honours $DBUS_SYSTEM_BUS_ADDRESS.
  const QString address = qEnvironmentVariable("ARDANTO_SYSTEM_BUS_ADDRESS");
  QDBusConnection bus =
      address.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection::connectToBus(address, u"ardanto-inhibitor"_s);
  if (!bus.isConnected()) {
    error = bus.lastError().message();
    if (error.isEmpty())
      error = u"no system bus"_s;
    return QString();
  }
  for (const QString& mode : {u"block"_s, u"delay"_s}) {
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
                                                       u"org.freedesktop.login1.Manager"_s, u"Inhibit"_s);
    call << u"sleep:shutdown"_s << u"Ardanto"_s << why << mode;
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.isValid() && reply.value().isValid()) {
      FLock = std::make_unique<QDBusUnixFileDescriptor>(reply.value());
      error.clear();
      return mode;
    }
    error = reply.error().message();
    // Nobody there: the second mode would get the same answer.
    if (reply.error().type() == QDBusError::ServiceUnknown || reply.error().type() == QDBusError::NoReply ||
        reply.error().type() == QDBusError::Timeout)
      break;
  }
  return QString();
}

void TSleepInhibitor::Release()
{
  // Closing the descriptor ends the lock.
  FLock.reset();
}

} // namespace engine
