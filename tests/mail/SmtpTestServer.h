#pragma once

// A real SMTP server (aiosmtpd, tests/mail/smtp_server.py) on a free loopback
// port, and certificates for it made with openssl.

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace ardanto::test {

// Test CA, a server certificate for 127.0.0.1/localhost, one for another
// name, and a client certificate whose key is protected by ClientKeyPassword.
// Made once per test program.
struct TTestCertificates {
  QString Folder; // with a trailing "/"
  QString CaFile() const { return Folder + u"ca.pem"; }
  static inline const QString ClientKeyPassword = QStringLiteral("Silver-Marigold");
  static const TTestCertificates& Get();
};

struct TServerOptions {
  QString Tls = QStringLiteral("none"); // none, starttls, implicit
  QString Auth;                         // offered mechanisms, comma separated
  QString User;
  QString Password;
  QStringList Reject;                         // recipients answered with 550
  QString Misbehave = QStringLiteral("none"); // close-multiline, silent, mute
  bool WrongName = false;                     // certificate for another host name
  bool ClientCa = false;                      // ask for client certificates
};

class TSmtpTestServer {
public:
  explicit TSmtpTestServer(const TServerOptions& options = {});
  ~TSmtpTestServer();
  TSmtpTestServer(const TSmtpTestServer&) = delete;
  TSmtpTestServer& operator=(const TSmtpTestServer&) = delete;

  int Port() const { return FPort; }
  // Summaries of the received messages, oldest first.
  QJsonArray Messages() const;
  // Connections the server accepted.
  int Connections() const;
  // Where the server keeps each message: msg-NNN.eml (as received) beside
  // its summary msg-NNN.json.
  const QString& Folder() const { return FDir.Path(); }

private:
  TempDir FDir;
  QProcess FProcess;
  int FPort = 0;
};

// The Python that has aiosmtpd (Debian's python3-aiosmtpd); empty when none.
QString FixturePython();
QString FixtureScript();
// Summary of a message file, made by the same parser the server uses.
QJsonObject ParseMessageFile(const QString& fileName);

// Reading a parsed message: a header's value (empty when missing), whether
// it is there, and a JSON array of texts.
QString Header(const QJsonObject& message, const QString& name);
bool HasHeader(const QJsonObject& message, const QString& name);
QStringList Strings(const QJsonValue& array);

} // namespace ardanto::test
