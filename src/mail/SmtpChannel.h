#pragma once

// The connection under the mail sender: a TCP socket that can be upgraded to
// TLS, with every step bounded by one overall deadline, replies read line by
// line, and a conversation log.

#include "common/Errors.h"

#include <Poco/Net/Context.h>
#include <Poco/Net/StreamSocket.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace ardanto::mail {

// A failure of the conversation: connection, TLS, timeout or a reply that
// ends the delivery. The message is the text for the error list.
class ESmtpError : public EArdantoError {
public:
  using EArdantoError::EArdantoError;
};

class TDeadline {
public:
  explicit TDeadline(int milliseconds)
    : FEnd(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds))
  {
  }
  // Milliseconds left, never below zero.
  std::int64_t Remaining() const;
  bool Expired() const { return Remaining() <= 0; }

private:
  std::chrono::steady_clock::time_point FEnd;
};

// Appends the conversation to a file. Logging never makes a delivery fail:
// a file that cannot be opened leaves the log inactive.
class TSmtpLog {
public:
  void Open(const QString& fileName);
  void Close();
  bool Active() const { return FFile.isOpen(); }
  void Stat(const QString& text) { Line("Stat", text); }
  void Sent(const QString& text) { Line("Sent", text); }
  void Recv(const QString& text) { Line("Recv", text); }
  void Error(const QString& text) { Line("Error", text); }

private:
  void Line(const char* kind, const QString& text);
  QFile FFile;
};

struct TSmtpReply {
  int Code = 0;
  QStringList Lines; // the texts after the code
  // The texts of all lines joined with blanks.
  QString Text() const { return Lines.join(u' '); }
  // The reply as received, without line breaks or other control characters.
  QString Raw() const;
  bool Positive() const { return Code >= 200 && Code < 400; }
};

// Settings of one TLS client context.
struct TTlsSettings {
  QString RootFile; // extra trusted root; used when it exists
  QString CertFile; // client certificate; used with KeyFile when both exist
  QString KeyFile;
  QString KeyPassword;
};

// A client context for one connection to host: system trust store plus the
// root file, host name checked, TLS 1.2 at least, the client certificate when
// given. Raises EArdantoError with the reason when it cannot be made.
struct TTlsContext {
  Poco::Net::Context::Ptr Context;
  std::shared_ptr<std::string> RejectReason; // filled when the server's certificate is refused
};
TTlsContext CreateTlsContext(const TTlsSettings& settings, const QString& host);
// Whether a TLS client context can be made at all; reason when not.
bool TlsUsable(QString& reason);

class TSmtpChannel {
public:
  TSmtpChannel(TSmtpLog& log, int connectTimeoutMs, int readTimeoutMs);
  ~TSmtpChannel();
  TSmtpChannel(const TSmtpChannel&) = delete;
  TSmtpChannel& operator=(const TSmtpChannel&) = delete;

  // Tries each address of host in turn within the connect time-out.
  void Connect(const QString& host, std::uint16_t port);
  // TLS handshake on the open connection, within the connect time-out.
  void StartTls(const TTlsContext& context, const QString& host);
  bool Secure() const { return FSecure; }

  // Sends one command line; logText replaces it in the log (for secrets).
  void SendCommand(const std::string& line, const QString& logText);
  void SendCommand(const std::string& line) { SendCommand(line, QString::fromUtf8(line)); }
  // Reads one complete reply within the read time-out.
  TSmtpReply ReadReply();
  // Writes raw message data within the read time-out.
  void SendData(const char* data, std::size_t size);

  void Close();
  // The conversation cannot go on (a message broken off inside DATA).
  void Abandon() { FConnected = false; }
  // Whether the connection can still carry a command (for a polite QUIT).
  bool Connected() const { return FConnected; }

private:
  std::string ReadLine(const TDeadline& deadline);
  void SendAll(const char* data, std::size_t size, const TDeadline& deadline, const QString& timeoutText);

  TSmtpLog& FLog;
  int FConnectTimeout;
  int FReadTimeout;
  Poco::Net::StreamSocket FPlain;  // the TCP socket, also under TLS
  Poco::Net::StreamSocket FSocket; // what data goes through: FPlain or its TLS layer
  bool FOpen = false;
  bool FConnected = false;
  bool FSecure = false;
  std::string FBuffer;
};

} // namespace ardanto::mail
