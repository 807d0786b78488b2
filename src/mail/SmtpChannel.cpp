#include "mail/SmtpChannel.h"

#include "common/FileUtils.h"
#include "common/Translate.h"

#include <Poco/Crypto/EVPPKey.h>
#include <Poco/Crypto/X509Certificate.h>
#include <Poco/Exception.h>
#include <Poco/Net/DNS.h>
#include <Poco/Net/HostEntry.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/RejectCertificateHandler.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/VerificationErrorArgs.h>
#include <Poco/Timespan.h>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace ardanto::mail {

using namespace Qt::StringLiterals;

namespace {

// Replies longer than this are not SMTP; stop before they eat memory.
constexpr std::size_t kMaxReplyLine = 64 * 1024;
constexpr int kMaxReplyLines = 1000;

Poco::Timespan Span(std::int64_t milliseconds)
{
  return Poco::Timespan(std::max<std::int64_t>(milliseconds, 1) * 1000);
}

QString PocoText(const Poco::Exception& e)
{
  if (e.code() > 0 && e.code() < 4096 && dynamic_cast<const Poco::Net::NetException*>(&e))
    return QString::fromLocal8Bit(std::strerror(e.code()));
  return QString::fromStdString(e.displayText());
}

std::string Utf8Path(const QString& fileName)
{
  return QFile::encodeName(fileName).toStdString();
}

} // namespace

// Refuses every certificate the verification finds fault with, and keeps
// OpenSSL's reason so that the error says why.
class TCertificateRejecter : public Poco::Net::RejectCertificateHandler {
public:
  explicit TCertificateRejecter(std::shared_ptr<std::string> reason)
    : RejectCertificateHandler(false), FReason(std::move(reason))
  {
  }
  void onInvalidCertificate(const void*, Poco::Net::VerificationErrorArgs& args) override
  {
    if (FReason->empty())
      *FReason = args.errorMessage();
    args.setIgnoreError(false);
  }

private:
  std::shared_ptr<std::string> FReason;
};

std::int64_t TDeadline::Remaining() const
{
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(FEnd - std::chrono::steady_clock::now()).count();
  return std::max<std::int64_t>(left, 0);
}

void TSmtpLog::Open(const QString& fileName)
{
  Close();
  FFile.setFileName(fileName);
  if (!FFile.open(QIODevice::WriteOnly | QIODevice::Append))
    FFile.setFileName(QString());
}

void TSmtpLog::Close()
{
  if (FFile.isOpen())
    FFile.close();
}

void TSmtpLog::Line(const char* kind, const QString& text)
{
  if (!FFile.isOpen())
    return;
  const QString stamp = QDateTime::currentDateTime().toString(u"yyyy-MM-dd hh:mm:ss.zzz"_s);
  QString line = QString::fromLatin1(kind) + u' ' + stamp + u": "_s + text;
  // One entry per line, whatever the server sent.
  line.replace(u'\r', u' ').replace(u'\n', u' ');
  FFile.write(line.toUtf8() + "\n");
  FFile.flush();
}

QString TSmtpReply::Raw() const
{
  QString raw = QString::number(Code);
  for (const QString& line : Lines)
    raw += u' ' + line;
  raw.removeIf([](QChar c) { return c.unicode() < 32; });
  return raw;
}

TTlsContext CreateTlsContext(const TTlsSettings& settings, const QString& host)
{
  using Poco::Net::Context;
  TTlsContext result;
  result.RejectReason = std::make_shared<std::string>();
  try {
    Context::Params params;
    params.verificationMode = Context::VERIFY_STRICT;
    params.loadDefaultCAs = true;
    params.cipherList = "DEFAULT";
    if (!settings.RootFile.isEmpty() && QFileInfo(settings.RootFile).isFile())
      params.caLocation = Utf8Path(settings.RootFile);
    result.Context = new Context(Context::TLS_CLIENT_USE, params);
    result.Context->requireMinimumProtocol(Context::PROTO_TLSV1_2);
    // OpenSSL checks the name during the handshake; POCO's own later check
    // would look names up in DNS, which says nothing about the certificate.
    result.Context->enableExtendedCertificateVerification(false);
    result.Context->setInvalidCertificateHandler(new TCertificateRejecter(result.RejectReason));
    X509_VERIFY_PARAM* verify = SSL_CTX_get0_param(result.Context->sslContext());
    X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const std::string name = host.trimmed().toStdString();
    Poco::Net::IPAddress ip;
    const int ok = Poco::Net::IPAddress::tryParse(name, ip)
                       ? X509_VERIFY_PARAM_set1_ip_asc(verify, name.c_str())
                       : X509_VERIFY_PARAM_set1_host(verify, name.c_str(), name.size());
    if (ok != 1)
      throw EArdantoError(SafeFormat(_("Invalid server name for TLS: %s"), {host}));

    const bool haveCert = !settings.CertFile.isEmpty() && QFileInfo::exists(settings.CertFile);
    const bool haveKey = !settings.KeyFile.isEmpty() && QFileInfo::exists(settings.KeyFile);
    if (haveCert != haveKey)
      throw EArdantoError(
          SafeFormat(_("The client certificate \"%s\" needs its key \"%s\"."), {settings.CertFile, settings.KeyFile}));
    if (haveCert) {
      try {
        result.Context->useCertificate(Poco::Crypto::X509Certificate(Utf8Path(settings.CertFile)));
      } catch (const Poco::Exception& e) {
        throw EArdantoError(
            SafeFormat(_("Cannot load the client certificate \"%s\": %s"), {settings.CertFile, PocoText(e)}));
      }
      std::unique_ptr<Poco::Crypto::EVPPKey> key;
      try {
        key =
            std::make_unique<Poco::Crypto::EVPPKey>("", Utf8Path(settings.KeyFile), settings.KeyPassword.toStdString());
      } catch (const Poco::Exception&) {
        // OpenSSL's text for a wrong password names a decoder routine.
        throw EArdantoError(
            SafeFormat(_("Cannot load the client key \"%s\": wrong password or damaged file."), {settings.KeyFile}));
      }
      try {
        result.Context->usePrivateKey(*key);
      } catch (const Poco::Exception& e) {
        throw EArdantoError(
            SafeFormat(_("The client key \"%s\" does not fit the certificate: %s"), {settings.KeyFile, PocoText(e)}));
      }
    }
  } catch (const EArdantoError&) {
    throw;
  } catch (const Poco::Exception& e) {
    throw EArdantoError(SafeFormat(_("Cannot create the TLS context: %s"), {PocoText(e)}));
  }
  return result;
}

bool TlsUsable(QString& reason)
{
  try {
    Poco::Net::Context::Ptr context =
        new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, "", Poco::Net::Context::VERIFY_STRICT, 9, true);
    return true;
  } catch (const Poco::Exception& e) {
    reason = PocoText(e);
    return false;
  }
}

TSmtpChannel::TSmtpChannel(TSmtpLog& log, int connectTimeoutMs, int readTimeoutMs)
  : FLog(log), FConnectTimeout(connectTimeoutMs), FReadTimeout(readTimeoutMs)
{
}

TSmtpChannel::~TSmtpChannel()
{
  Close();
}

void TSmtpChannel::Connect(const QString& host, std::uint16_t port)
{
  const TDeadline deadline(FConnectTimeout);
  const std::string name = host.trimmed().toStdString();
  const QString target = host + u':' + QString::number(port);
  std::vector<Poco::Net::IPAddress> addresses;
  Poco::Net::IPAddress literal;
  if (Poco::Net::IPAddress::tryParse(name, literal)) {
    addresses.push_back(literal);
  } else {
    try {
      const Poco::Net::HostEntry entry = Poco::Net::DNS::hostByName(name);
      addresses = entry.addresses();
    } catch (const Poco::Exception& e) {
      throw ESmtpError(SafeFormat(_("Cannot find the server %s: %s"), {host, PocoText(e)}));
    }
  }
  QString reason = _("no address");
  for (const auto& address : addresses) {
    if (deadline.Expired())
      break;
    FLog.Stat(SafeFormat(_("Connecting to %s (%s)."), {target, QString::fromStdString(address.toString())}));
    try {
      Poco::Net::StreamSocket socket;
      socket.connect(Poco::Net::SocketAddress(address, port), Span(deadline.Remaining()));
      socket.setNoDelay(true);
      FPlain = socket;
      FSocket = socket;
      FOpen = true;
      FConnected = true;
      FSecure = false;
      FBuffer.clear();
      FLog.Stat(_("Connected."));
      return;
    } catch (const Poco::TimeoutException&) {
      reason = _("Connect timed out.");
    } catch (const Poco::Exception& e) {
      reason = PocoText(e);
    }
  }
  if (deadline.Expired())
    reason = _("Connect timed out.");
  throw ESmtpError(SafeFormat(_("Cannot connect to %s: %s"), {target, reason}));
}

void TSmtpChannel::StartTls(const TTlsContext& context, const QString& host)
{
  const TDeadline deadline(FConnectTimeout);
  FLog.Stat(_("Starting TLS."));
  try {
    // Driven without blocking so that the whole handshake keeps to the
    // deadline; POCO's blocking handshake waits up to three times as long.
    FPlain.setBlocking(false);
    Poco::Net::SecureStreamSocket secure =
        Poco::Net::SecureStreamSocket::attach(FPlain, host.trimmed().toStdString(), context.Context);
    FSocket = secure;
    FSecure = true;
    FBuffer.clear();
    for (;;) {
      const int rc = secure.completeHandshake();
      if (rc == 1)
        break;
      if (rc != Poco::Net::SecureStreamSocket::ERR_SSL_WANT_READ &&
          rc != Poco::Net::SecureStreamSocket::ERR_SSL_WANT_WRITE)
        throw ESmtpError(_("Connection closed by the server."));
      if (deadline.Expired())
        throw ESmtpError(_("Connect timed out."));
      const int mode = rc == Poco::Net::SecureStreamSocket::ERR_SSL_WANT_READ ? Poco::Net::Socket::SELECT_READ
                                                                              : Poco::Net::Socket::SELECT_WRITE;
      FPlain.poll(Span(deadline.Remaining()), mode | Poco::Net::Socket::SELECT_ERROR);
    }
    FPlain.setBlocking(true);
    QString subject;
    try {
      subject = QString::fromStdString(secure.peerCertificate().subjectName());
    } catch (const Poco::Exception&) {
    }
    FLog.Stat(SafeFormat(_("TLS established; server certificate: %s"), {subject}));
  } catch (const ESmtpError&) {
    throw;
  } catch (const Poco::Exception& e) {
    if (!context.RejectReason->empty())
      throw ESmtpError(
          SafeFormat(_("The server's certificate was refused: %s"), {QString::fromStdString(*context.RejectReason)}));
    throw ESmtpError(SafeFormat(_("TLS handshake failed: %s"), {PocoText(e)}));
  }
}

void TSmtpChannel::SendAll(const char* data, std::size_t size, const TDeadline& deadline, const QString& timeoutText)
{
  if (!FConnected)
    throw ESmtpError(_("Connection closed by the server."));
  try {
    while (size > 0) {
      if (deadline.Expired())
        throw ESmtpError(timeoutText);
      FPlain.setSendTimeout(Span(deadline.Remaining()));
      const int piece = static_cast<int>(std::min<std::size_t>(size, 16384));
      const int sent = FSocket.sendBytes(data, piece);
      if (sent == 0)
        throw ESmtpError(_("Connection closed by the server."));
      if (sent < 0)
        continue;
      data += sent;
      size -= static_cast<std::size_t>(sent);
    }
  } catch (const ESmtpError&) {
    FConnected = false;
    throw;
  } catch (const Poco::TimeoutException&) {
    FConnected = false;
    throw ESmtpError(timeoutText);
  } catch (const Poco::Exception& e) {
    FConnected = false;
    throw ESmtpError(SafeFormat(_("Connection to the server lost: %s"), {PocoText(e)}));
  }
}

void TSmtpChannel::SendCommand(const std::string& line, const QString& logText)
{
  FLog.Sent(logText);
  const std::string data = line + "\r\n";
  SendAll(data.data(), data.size(), TDeadline(FReadTimeout), _("Write timed out."));
}

void TSmtpChannel::SendData(const char* data, std::size_t size)
{
  SendAll(data, size, TDeadline(FReadTimeout), _("Write timed out."));
}

std::string TSmtpChannel::ReadLine(const TDeadline& deadline)
{
  for (;;) {
    const auto end = FBuffer.find('\n');
    if (end != std::string::npos) {
      std::string line = FBuffer.substr(0, end);
      FBuffer.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      return line;
    }
    if (FBuffer.size() > kMaxReplyLine)
      throw ESmtpError(_("The server sent an overlong reply."));
    if (!FConnected)
      throw ESmtpError(_("Connection closed by the server."));
    if (deadline.Expired())
      throw ESmtpError(_("Read timed out."));
    // Wait on the socket ourselves: under TLS a blocking read waits up to
    // twice its time-out. Data that TLS has already decrypted is not seen by
    // poll, so ask for it first.
    if (FSocket.available() <= 0 &&
        !FPlain.poll(Span(deadline.Remaining()), Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR))
      throw ESmtpError(_("Read timed out."));
    FPlain.setReceiveTimeout(Span(deadline.Remaining()));
    char buffer[4096];
    const int received = FSocket.receiveBytes(buffer, sizeof buffer);
    if (received == 0) {
      FConnected = false;
      throw ESmtpError(_("Connection closed by the server."));
    }
    if (received > 0)
      FBuffer.append(buffer, static_cast<std::size_t>(received));
  }
}

TSmtpReply TSmtpChannel::ReadReply()
{
  const TDeadline deadline(FReadTimeout);
  TSmtpReply reply;
  try {
    for (int count = 0;; ++count) {
      if (count >= kMaxReplyLines)
        throw ESmtpError(_("The server sent an overlong reply."));
      const std::string line = ReadLine(deadline);
      FLog.Recv(QString::fromUtf8(line));
      const bool wellFormed = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                              std::isdigit(static_cast<unsigned char>(line[1])) &&
                              std::isdigit(static_cast<unsigned char>(line[2])) &&
                              (line.size() == 3 || line[3] == ' ' || line[3] == '-');
      if (!wellFormed)
        throw ESmtpError(SafeFormat(_("Invalid reply from the server: %s"), {QString::fromUtf8(line)}));
      reply.Code = std::stoi(line.substr(0, 3));
      reply.Lines.append(line.size() > 4 ? QString::fromUtf8(line.substr(4)) : QString());
      if (line.size() == 3 || line[3] == ' ')
        return reply;
    }
  } catch (const ESmtpError&) {
    throw;
  } catch (const Poco::TimeoutException&) {
    FConnected = false;
    throw ESmtpError(_("Read timed out."));
  } catch (const Poco::Exception& e) {
    FConnected = false;
    throw ESmtpError(SafeFormat(_("Connection to the server lost: %s"), {PocoText(e)}));
  }
}

void TSmtpChannel::Close()
{
  if (!FOpen)
    return;
  try {
    // A TLS close notification could wait on a dead peer; QUIT has already
    // ended the session, so the socket is simply closed.
    FPlain.setBlocking(false);
    FSocket.close();
    FPlain.close();
  } catch (const Poco::Exception&) {
  }
  FOpen = false;
  FConnected = false;
  FSecure = false;
  FSocket = Poco::Net::StreamSocket();
  FPlain = Poco::Net::StreamSocket();
  FLog.Stat(_("Disconnected."));
}

} // namespace ardanto::mail
