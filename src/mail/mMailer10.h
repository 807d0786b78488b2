#pragma once

// The suite's mail sender: composes a MIME message from plain properties and
// delivers it to one SMTP server, optionally over TLS, collecting every failure
// in an error list and, on request, writing the conversation to a log file.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace ardanto {

namespace mail {
class TMimeMessage;
class TSmtpChannel;
class TSmtpLog;
} // namespace mail

enum TContentType : int { ctAscii = 0, ctHtml = 1, ctUtf8 = 2 };

enum TSecTransfer : int { stNone = 0, stExplicit = 1, stRequired = 2, stImplicit = 3 };

enum TSendErrorType : int { seUnknown = 0, seSmtp = 1, seFailedRecipient = 2, seNoSecure = 3 };

enum TMessagePriority : int { mpHighest = 0, mpHigh = 1, mpNormal = 2, mpLow = 3, mpLowest = 4 };

enum TWorkMode : int { wmRead = 0, wmWrite = 1 };

struct TSendError {
  TSendErrorType ErrType = seUnknown;
  QString ErrMsg;
};

// One mail address with an optional display name.
struct TEmailAddress {
  QString Name;
  QString Address;

  TEmailAddress() = default;
  TEmailAddress(QString address) : Address(std::move(address)) {}
  TEmailAddress(QString name, QString address) : Name(std::move(name)), Address(std::move(address)) {}
  // "Name <address>" or the bare address.
  QString Text() const;
  bool operator==(const TEmailAddress&) const = default;
};

using TEmailAddressList = QList<TEmailAddress>;

// The addresses of a list joined with ", ".
QString EMailAddresses(const TEmailAddressList& list);

// Files to attach: each entry is a path, optionally followed by "|" and a
// content type ("report.pdf|pdf", "data.csv|text/csv").
class TAttachement {
public:
  const QStringList& AttachedFiles() const { return FAttachedFiles; }
  void SetAttachedFiles(const QStringList& files) { FAttachedFiles = files; }
  void Clear() { FAttachedFiles.clear(); }

private:
  QStringList FAttachedFiles;
};

class TmMailer : public QObject {
public:
  using TNotifyEvent = std::function<void()>;
  // Mode, size announced for the transfer (the bytes that go over the wire
  // for the message data), size of the complete message.
  using TWorkBeginEvent = std::function<void(TWorkMode, std::int64_t, std::int64_t)>;
  using TWorkEvent = std::function<void(TWorkMode, std::int64_t)>;
  using TWorkEndEvent = std::function<void(TWorkMode)>;
  using TPasswordEvent = std::function<QString()>;

  // Without certificate files TLS still works: the server is checked against
  // the system's trust store.
  explicit TmMailer(QObject* AOwner = nullptr);
  // Path is a folder with a trailing separator; Root, Cert and Key are file
  // names in it (extra trusted root, client certificate, client key), Pwd the
  // key file's password. Files that are named but missing are not used.
  TmMailer(QObject* AOwner, const QString& Path, const QString& Root, const QString& Cert, const QString& Key,
           const QString& Pwd);
  ~TmMailer() override;
  TmMailer(const TmMailer&) = delete;
  TmMailer& operator=(const TmMailer&) = delete;

  const QStringList& Body() const { return FBody; }
  void SetBody(const QStringList& lines) { FBody = lines; }
  const QStringList& HTMLBody() const { return FHTMLBody; }
  void SetHTMLBody(const QStringList& lines) { FHTMLBody = lines; }
  TAttachement& Attachments() { return FAttachments; }
  const TAttachement& Attachments() const { return FAttachments; }
  void SetAttachments(const TAttachement& value) { FAttachments = value; }
  const QString& Host() const { return FHost; }
  void SetHost(const QString& value) { FHost = value; }
  int Port() const { return FPort; }
  void SetPort(int value) { FPort = value; }
  const QString& UserId() const { return FUserId; }
  void SetUserId(const QString& value) { FUserId = value; }
  const QString& Password() const { return FPassword; }
  void SetPassword(const QString& value) { FPassword = value; }
  const QString& HeloName() const { return FHeloName; }
  void SetHeloName(const QString& value) { FHeloName = value; }
  TMessagePriority Priority() const { return FPriority; }
  void SetPriority(TMessagePriority value) { FPriority = value; }
  const TEmailAddress& From() const { return FFrom; }
  void SetFrom(const TEmailAddress& value) { FFrom = value; }
  const TEmailAddressList& Recipients() const { return FRecipients; }
  void SetRecipients(const TEmailAddressList& value) { FRecipients = value; }
  const TEmailAddressList& CCList() const { return FCCList; }
  void SetCCList(const TEmailAddressList& value) { FCCList = value; }
  const TEmailAddressList& BCCList() const { return FBCCList; }
  void SetBCCList(const TEmailAddressList& value) { FBCCList = value; }
  const QString& Subject() const { return FSubject; }
  void SetSubject(const QString& value) { FSubject = value; }
  TContentType ContentType() const { return FContentType; }
  void SetContentType(TContentType value) { FContentType = value; }
  void SetSecureTransfer(TSecTransfer value) { FSecureTransfer = value; }
  bool ContinueOnFailedRecipient() const { return FContinueOnFailedRecipient; }
  void SetContinueOnFailedRecipient(bool value) { FContinueOnFailedRecipient = value; }
  const QList<TSendError>& ErrorList() const { return FErrorList; }
  const QString& Logname() const { return FLogname; }
  void SetLogname(const QString& value) { FLogname = value; }
  void SetWriteLogFile(bool value) { FWriteLogFile = value; }

  // Connect and read time-outs in milliseconds (30000 each); each step of the
  // conversation must finish within its time-out, TLS handshakes included.
  int ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int ms) { FConnectTimeout = ms; }
  int ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int ms) { FReadTimeout = ms; }

  void SetOnConnected(TNotifyEvent handler) { FOnConnected = std::move(handler); }
  void SetOnDisconnected(TNotifyEvent handler) { FOnDisconnected = std::move(handler); }
  void SetOnBeginSend(TWorkBeginEvent handler) { FOnBeginSend = std::move(handler); }
  void SetOnSending(TWorkEvent handler) { FOnSending = std::move(handler); }
  void SetOnEndSend(TWorkEndEvent handler) { FOnEndSend = std::move(handler); }
  void SetOnSSLPassword(TPasswordEvent handler) { FOnSSLPassword = std::move(handler); }

  void ClearBody() { FBody.clear(); }
  void AddToBody(const QString& AText) { FBody.append(AText); }
  void ClearExtraHeaders() { FExtraHeaders.clear(); }
  // Sets header fId to fContents; a second call with the same name replaces
  // the value. Raises EArdantoError for a name that is not a valid header name.
  void AddExtraHeader(const QString& fId, const QString& fContents);

  // Writes the message as a mail file (CRLF lines); true on success. The file
  // is replaced as a whole or left untouched.
  bool SaveToFile(const QString& AFilename);
  // Builds and delivers the message; true when ErrorList is empty afterwards.
  // Never raises.
  bool Send();

private:
  struct TTlsFiles {
    QString Root, Cert, Key, Password;
  };

  void AddError(TSendErrorType type, const QString& message);
  void DoSend();
  void Authenticate(mail::TSmtpChannel& channel, const QStringList& offered);
  void Transmit(mail::TSmtpChannel& channel, const mail::TMimeMessage& message, std::int64_t wireSize,
                std::int64_t messageSize);

  QStringList FBody;
  QStringList FHTMLBody;
  TAttachement FAttachments;
  QString FHost;
  int FPort = 25;
  QString FUserId;
  QString FPassword;
  QString FHeloName;
  TMessagePriority FPriority = mpNormal;
  TEmailAddress FFrom;
  TEmailAddressList FRecipients, FCCList, FBCCList;
  QString FSubject;
  TContentType FContentType = ctAscii;
  TSecTransfer FSecureTransfer = stNone;
  bool FContinueOnFailedRecipient = false;
  QList<TSendError> FErrorList;
  QString FLogname;
  bool FWriteLogFile = false;
  int FConnectTimeout = 30000;
  int FReadTimeout = 30000;
  QList<std::pair<QString, QString>> FExtraHeaders;
  TTlsFiles FTls;
  bool FTlsAvailable = false;
  QString FTlsUnavailableReason;
  std::unique_ptr<mail::TSmtpLog> FLog;

  TNotifyEvent FOnConnected, FOnDisconnected;
  TWorkBeginEvent FOnBeginSend;
  TWorkEvent FOnSending;
  TWorkEndEvent FOnEndSend;
  TPasswordEvent FOnSSLPassword;
};

} // namespace ardanto
