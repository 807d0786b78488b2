#include "mail/SmtpTestServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>

#include <csignal>
#include <stdexcept>

namespace ardanto::test {

using namespace Qt::StringLiterals;

namespace {

void Openssl(const QStringList& args, const QString& folder)
{
  QProcess process;
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(u"openssl"_s, args);
  if (!process.waitForFinished(30000) || process.exitCode() != 0)
    throw std::runtime_error("openssl " + args.join(u' ').toStdString() +
                             " failed: " + process.readAll().toStdString());
}

void Leaf(const QString& folder, const QString& name, const QString& subject, const QString& ext, int serial)
{
  WriteFile(folder + name + u".ext"_s, ext.toUtf8());
  Openssl({u"req"_s, u"-new"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s,
           u"-keyout"_s, name + u".key"_s, u"-out"_s, name + u".csr"_s, u"-subj"_s, subject},
          folder);
  Openssl({u"x509"_s, u"-req"_s, u"-in"_s, name + u".csr"_s, u"-CA"_s, u"ca.pem"_s, u"-CAkey"_s, u"ca.key"_s,
           u"-set_serial"_s, QString::number(serial), u"-days"_s, u"3"_s, u"-out"_s, name + u".pem"_s, u"-extfile"_s,
           name + u".ext"_s},
          folder);
}

} // namespace

const TTestCertificates& TTestCertificates::Get()
{
  static TempDir dir;
  static const TTestCertificates certificates = [] {
    TTestCertificates c;
    c.Folder = dir.Path() + u'/';
    Openssl({u"req"_s, u"-x509"_s, u"-new"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, u"ec_paramgen_curve:prime256v1"_s,
             u"-nodes"_s, u"-keyout"_s, u"ca.key"_s, u"-out"_s, u"ca.pem"_s, u"-days"_s, u"3"_s, u"-subj"_s,
             u"/CN=Ardanto Test CA"_s},
            c.Folder);
    Leaf(c.Folder, u"server"_s, u"/CN=localhost"_s,
         u"subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
         "extendedKeyUsage=serverAuth\n"_s,
         2);
    Leaf(c.Folder, u"other"_s, u"/CN=mail.example.org"_s,
         u"subjectAltName=DNS:mail.example.org\nbasicConstraints=CA:FALSE\n"
         "extendedKeyUsage=serverAuth\n"_s,
         3);
    Leaf(c.Folder, u"client"_s, u"/CN=Ardanto Test Client"_s,
         u"basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n"_s, 4);
    Openssl({u"pkey"_s, u"-in"_s, u"client.key"_s, u"-out"_s, u"client-protected.key"_s, u"-aes256"_s, u"-passout"_s,
             u"pass:"_s + ClientKeyPassword},
            c.Folder);
    return c;
  }();
  return certificates;
}

QString FixturePython()
{
  static const QString python = [] {
    QStringList candidates{u"/usr/bin/python3"_s};
    const QString onPath = QStandardPaths::findExecutable(u"python3"_s);
    if (!onPath.isEmpty())
      candidates.append(onPath);
    for (const QString& candidate : candidates) {
      const ProcessResult r = Run(candidate, {u"-c"_s, u"import aiosmtpd"_s}, 30000);
      if (r.Started && r.ExitCode == 0)
        return candidate;
    }
    return QString();
  }();
  return python;
}

QString FixtureScript()
{
  return QString::fromUtf8(ARDANTO_SMTP_FIXTURE);
}

TSmtpTestServer::TSmtpTestServer(const TServerOptions& options)
{
  const QString python = FixturePython();
  if (python.isEmpty())
    throw std::runtime_error("no python3 with aiosmtpd (Debian package python3-aiosmtpd)");
  QStringList args{FixtureScript(), u"serve"_s,  u"--dir"_s,       FDir.Path(),
                   u"--tls"_s,      options.Tls, u"--misbehave"_s, options.Misbehave};
  if (options.Tls != u"none"_s) {
    const TTestCertificates& c = TTestCertificates::Get();
    const QString name = options.WrongName ? u"other"_s : u"server"_s;
    args << u"--cert"_s << c.Folder + name + u".pem"_s << u"--key"_s << c.Folder + name + u".key"_s;
    if (options.ClientCa)
      args << u"--client-ca"_s << c.CaFile();
  }
  if (!options.Auth.isEmpty())
    args << u"--auth"_s << options.Auth << u"--user"_s << options.User << u"--password"_s << options.Password;
  for (const QString& r : options.Reject)
    args << u"--reject"_s << r;
  FProcess.setProcessChannelMode(QProcess::SeparateChannels);
  FProcess.start(python, args);
  if (!FProcess.waitForStarted(10000))
    throw std::runtime_error("cannot start the SMTP test server");
  QByteArray output;
  while (!output.contains('\n')) {
    if (!FProcess.waitForReadyRead(15000))
      throw std::runtime_error("SMTP test server did not start: " + FProcess.readAllStandardError().toStdString());
    output += FProcess.readAllStandardOutput();
  }
  const QByteArray line = output.left(output.indexOf('\n')).trimmed();
  if (!line.startsWith("PORT "))
    throw std::runtime_error("unexpected output of the SMTP test server: " + line.toStdString());
  FPort = line.mid(5).toInt();
}

TSmtpTestServer::~TSmtpTestServer()
{
  if (FProcess.state() == QProcess::NotRunning)
    return;
  ::kill(static_cast<pid_t>(FProcess.processId()), SIGTERM);
  if (!FProcess.waitForFinished(5000)) {
    ::kill(static_cast<pid_t>(FProcess.processId()), SIGKILL);
    FProcess.waitForFinished(5000);
  }
}

QJsonArray TSmtpTestServer::Messages() const
{
  QJsonArray messages;
  const QStringList files = QDir(FDir.Path()).entryList({u"msg-*.json"_s}, QDir::Files, QDir::Name);
  for (const QString& file : files)
    messages.append(QJsonDocument::fromJson(ReadFile(FDir.Path() + u'/' + file)).object());
  return messages;
}

int TSmtpTestServer::Connections() const
{
  QFile events(FDir.Path() + u"/events.jsonl"_s);
  if (!events.open(QIODevice::ReadOnly))
    return 0;
  return static_cast<int>(events.readAll().count('\n'));
}

QJsonObject ParseMessageFile(const QString& fileName)
{
  const ProcessResult r = Run(FixturePython(), {FixtureScript(), u"parse"_s, fileName}, 60000);
  if (r.ExitCode != 0)
    throw std::runtime_error("cannot parse " + fileName.toStdString() + ": " + r.Output.toStdString());
  return QJsonDocument::fromJson(r.Output).object();
}

QString Header(const QJsonObject& message, const QString& name)
{
  for (const QJsonValue& h : message[u"headers"_s].toArray())
    if (h[0].toString().compare(name, Qt::CaseInsensitive) == 0)
      return h[1].toString();
  return QString();
}

bool HasHeader(const QJsonObject& message, const QString& name)
{
  for (const QJsonValue& h : message[u"headers"_s].toArray())
    if (h[0].toString().compare(name, Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

QStringList Strings(const QJsonValue& array)
{
  QStringList result;
  for (const QJsonValue& v : array.toArray())
    result.append(v.toString());
  return result;
}

} // namespace ardanto::test
