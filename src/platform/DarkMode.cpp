#include "platform/DarkMode.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>

namespace ardanto::platform {

using namespace Qt::StringLiterals;

namespace {

// The portal wraps the value in a variant, which Debian 12's portal wraps
// once more.
QVariant Unwrap(QVariant value)
{
  for (int i = 0; i < 3 && value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>(); ++i)
    value = value.value<QDBusVariant>().variant();
  return value;
}

} // namespace

bool GsettingsMeansDark(const QString& output)
{
  return output.trimmed().remove(u'\'').compare(u"prefer-dark"_s, Qt::CaseInsensitive) == 0;
}

bool SystemUsesDarkMode()
{
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s, u"/org/freedesktop/portal/desktop"_s,
                                       u"org.freedesktop.portal.Settings"_s, u"Read"_s);
    call << u"org.freedesktop.appearance"_s << u"color-scheme"_s;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 1000);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
      bool ok = false;
      const uint scheme = Unwrap(reply.arguments().constFirst()).toUInt(&ok);
      if (ok)
        return scheme == 1;
    }
  }
  const QString gsettings = QStandardPaths::findExecutable(u"gsettings"_s);
  if (gsettings.isEmpty())
    return false;
  QProcess process;
  process.start(gsettings, {u"get"_s, u"org.gnome.desktop.interface"_s, u"color-scheme"_s});
  if (!process.waitForStarted(2000) || !process.waitForFinished(2000))
    return false;
  return process.exitCode() == 0 && GsettingsMeansDark(QString::fromUtf8(process.readAllStandardOutput()));
}

} // namespace ardanto::platform
