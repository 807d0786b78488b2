#include "mail/mMailer10.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpChannel.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Base64Encoder.h>
#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>
#include <Poco/HMACEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/MailStream.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/SHA1Engine.h>

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>

#include <csignal>
#include <exception>
#include <ostream>
#include <pthread.h>
#include <sstream>
#include <streambuf>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

constexpr std::size_t kDataChunk = 64 * 1024;

// A peer that closes during a TLS write makes OpenSSL's write() raise
// SIGPIPE, which would end the program. Block it on this thread while
// sending and drop one that arrived meanwhile.
class TSigPipeBlock {
public:
  TSigPipeBlock()
  {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    FBlocked = pthread_sigmask(SIG_BLOCK, &set, &FOld) == 0;
  }
  ~TSigPipeBlock()
  {
    if (!FBlocked || sigismember(&FOld, SIGPIPE))
      return;
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGPIPE);
      const timespec zero{0, 0};
      sigtimedwait(&set, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
  }
  TSigPipeBlock(const TSigPipeBlock&) = delete;
  TSigPipeBlock& operator=(const TSigPipeBlock&) = delete;

private:
  sigset_t FOld;
  bool FBlocked = false;
};

// Measures a message without keeping it: its size, and the size it takes on
// the wire once dot-stuffed and ended with the final dot.
class TMeasuringBuf : public std::streambuf {
public:
  TMeasuringBuf() : FBuffer(kDataChunk) { setp(FBuffer.data(), FBuffer.data() + FBuffer.size()); }
  std::int64_t Size()
  {
    Take();
    return FSize;
  }
  std::int64_t WireSize()
  {
    Take();
    // A line that starts with a dot gets a second one; then CRLF "." CRLF.
    return FSize + FDots + (FLast == '\n' ? 3 : 5);
  }

protected:
  int_type overflow(int_type c) override
  {
    Take();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override
  {
    Take();
    return 0;
  }

private:
  void Take()
  {
    for (const char* p = pbase(); p != pptr(); ++p) {
      if (*p == '.' && FLast == '\n')
        ++FDots;
      FLast = *p;
    }
    FSize += pptr() - pbase();
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
  }

  std::vector<char> FBuffer;
  std::int64_t FSize = 0;
  std::int64_t FDots = 0;
  char FLast = '\n';
};

// Writes to a Qt device; remembers a failed write.
class TDeviceBuf : public std::streambuf {
public:
  explicit TDeviceBuf(QIODevice& device) : FDevice(device) {}
  bool Failed() const { return FFailed; }

protected:
  int_type overflow(int_type c) override
  {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override
  {
    if (FFailed || FDevice.write(s, n) != n) {
      FFailed = true;
      return 0;
    }
    return n;
  }

private:
  QIODevice& FDevice;
  bool FFailed = false;
};

// Sends message data in chunks, reporting progress after each. An error of
// the connection is kept and ends all further writing.
class TSmtpDataBuf : public std::streambuf {
public:
  TSmtpDataBuf(mail::TSmtpChannel& channel, std::function<void(std::int64_t)> progress)
    : FChannel(channel), FProgress(std::move(progress)), FBuffer(kDataChunk)
  {
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
  }
  std::exception_ptr Error() const { return FError; }
  // After a failure nothing more may reach the server (least of all the
  // final dot that would make a half message valid).
  void Abandon() { FAbandoned = true; }

protected:
  int_type overflow(int_type c) override
  {
    if (!Transmit())
      return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Transmit() ? 0 : -1; }

private:
  bool Transmit()
  {
    const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
    if (FError || FAbandoned)
      return false;
    if (size == 0)
      return true;
    try {
      FChannel.SendData(FBuffer.data(), size);
      FPosition += static_cast<std::int64_t>(size);
      FProgress(FPosition);
      return true;
    } catch (...) {
      FError = std::current_exception();
      return false;
    }
  }

  mail::TSmtpChannel& FChannel;
  std::function<void(std::int64_t)> FProgress;
  std::vector<char> FBuffer;
  std::int64_t FPosition = 0;
  std::exception_ptr FError;
  bool FAbandoned = false;
};

std::string Base64(const std::string& bytes)
{
  std::ostringstream out;
  Poco::Base64Encoder encoder(out);
  encoder.rdbuf()->setLineLength(0);
  encoder << bytes;
  encoder.close();
  return out.str();
}

std::string Unbase64(const std::string& text)
{
  std::istringstream in(text);
  Poco::Base64Decoder decoder(in);
  return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
}

template <class Engine> std::string HmacHex(const std::string& key, const std::string& challenge)
{
  Poco::HMACEngine<Engine> hmac(key);
  hmac.update(challenge);
  return Poco::DigestEngine::digestToHex(hmac.digest());
}

struct TExtensions {
  bool StartTls = false;
  bool EightBitMime = false;
  bool Size = false;
  QStringList Auth;
};

// A reply that ends the delivery while the connection stays usable.
[[noreturn]] void Refuse(const mail::TSmtpReply& reply)
{
  const QString text = reply.Text().trimmed();
  throw mail::ESmtpError(text.isEmpty() ? reply.Raw() : text);
}

void Expect(const mail::TSmtpReply& reply, int code)
{
  if (reply.Code != code)
    Refuse(reply);
}

} // namespace

QString TEmailAddress::Text() const
{
  if (Name.isEmpty())
    return Address;
  return Name + u" <"_s + Address + u'>';
}

QString EMailAddresses(const TEmailAddressList& list)
{
  QStringList addresses;
  for (const TEmailAddress& a : list)
    addresses.append(a.Address);
  return addresses.join(u", "_s);
}

TmMailer::TmMailer(QObject* AOwner) : TmMailer(AOwner, QString(), QString(), QString(), QString(), QString())
{
}

TmMailer::TmMailer(QObject* AOwner, const QString& Path, const QString& Root, const QString& Cert, const QString& Key,
                   const QString& Pwd)
  : QObject(AOwner), FHeloName(u"Test"_s), FLogname(QDir::tempPath() + u"/SmtpLog.txt"_s),
    FLog(std::make_unique<mail::TSmtpLog>())
{
  Poco::Net::initializeSSL();
  const auto inFolder = [&Path](const QString& name) { return name.isEmpty() ? QString() : Path + name; };
  FTls = {inFolder(Root), inFolder(Cert), inFolder(Key), Pwd};
  FTlsAvailable = mail::TlsUsable(FTlsUnavailableReason);
}

TmMailer::~TmMailer()
{
  Poco::Net::uninitializeSSL();
}

void TmMailer::AddExtraHeader(const QString& fId, const QString& fContents)
{
  const QString name = fId.trimmed();
  if (!mail::IsValidHeaderName(name))
    throw EArdantoError(SafeFormat(_("Invalid header name: \"%s\""), {fId}));
  for (auto& header : FExtraHeaders)
    if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
      header.second = fContents;
      return;
    }
  FExtraHeaders.append({name, fContents});
}

namespace {

mail::TMailContent ContentOf(const TmMailer& mailer, const QList<std::pair<QString, QString>>& extra)
{
  mail::TMailContent content;
  content.From = mailer.From();
  content.To = mailer.Recipients();
  content.Cc = mailer.CCList();
  content.Subject = mailer.Subject();
  content.ContentType = mailer.ContentType();
  content.Body = mailer.Body();
  content.HTMLBody = mailer.HTMLBody();
  content.Attachments = mailer.Attachments().AttachedFiles();
  content.Priority = mailer.Priority();
  content.ExtraHeaders = extra;
  return content;
}

} // namespace

bool TmMailer::SaveToFile(const QString& AFilename)
{
  try {
    const mail::TMimeMessage message(ContentOf(*this, FExtraHeaders));
    QSaveFile file(AFilename);
    if (!file.open(QIODevice::WriteOnly))
      return false;
    TDeviceBuf buffer(file);
    std::ostream out(&buffer);
    message.Write(out);
    out.flush();
    if (!out || buffer.Failed()) {
      file.cancelWriting();
      return false;
    }
    return file.commit();
  } catch (...) {
    return false;
  }
}

void TmMailer::AddError(TSendErrorType type, const QString& message)
{
  FErrorList.append({type, message});
  FLog->Error(message);
}

bool TmMailer::Send()
{
  FErrorList.clear();
  const TSigPipeBlock sigPipe;
  FLog->Close();
  if (FWriteLogFile)
    FLog->Open(FLogname);
  try {
    DoSend();
  } catch (const mail::ESmtpError& e) {
    AddError(seSmtp, e.Message());
  } catch (const mail::EMailBuildError& e) {
    AddError(seUnknown, e.Message());
  } catch (const Poco::Exception& e) {
    AddError(seSmtp, QString::fromStdString(e.displayText()));
  } catch (...) {
    AddError(seUnknown, _("Unknown or other error: Can not determine owner, other error, or the "
                          "error can not be revealed."));
  }
  FLog->Close();
  return FErrorList.isEmpty();
}

void TmMailer::DoSend()
{
  mail::TTlsContext tls;
  if (FSecureTransfer != stNone) {
    QString reason = FTlsUnavailableReason;
    if (FTlsAvailable) {
      mail::TTlsSettings settings{FTls.Root, FTls.Cert, FTls.Key, FTls.Password};
      if (FOnSSLPassword)
        settings.KeyPassword = FOnSSLPassword();
      try {
        tls = mail::CreateTlsContext(settings, FHost);
      } catch (const EArdantoError& e) {
        reason = e.Message();
      }
    }
    if (!tls.Context) {
      AddError(seNoSecure, _("Error creating SSL session."));
      if (!reason.isEmpty())
        FLog->Error(reason);
      return;
    }
  }

  const mail::TMimeMessage message(ContentOf(*this, FExtraHeaders));
  QStringList recipients;
  for (const TEmailAddressList* list : {&FRecipients, &FCCList, &FBCCList})
    for (const TEmailAddress& a : *list) {
      if (!mail::IsValidAddress(a.Address))
        throw mail::EMailBuildError(SafeFormat(_("Invalid mail address: \"%s\""), {a.Address}));
      const QString address = a.Address.trimmed();
      if (!recipients.contains(address, Qt::CaseInsensitive))
        recipients.append(address);
    }
  if (recipients.isEmpty())
    throw mail::EMailBuildError(_("No recipient given."));
  const QString helo = FHeloName.trimmed().isEmpty() ? u"localhost"_s : FHeloName.trimmed();
  if (!mail::IsValidAddress(helo))
    throw mail::EMailBuildError(SafeFormat(_("Invalid greeting name: \"%s\""), {FHeloName}));
  if (FHost.trimmed().isEmpty())
    throw mail::ESmtpError(_("No SMTP server given."));

  // Sizes for the progress: the message itself and what goes over the wire
  // (with dot-stuffing and the final dot). Reading every attachment once
  // here also finds unreadable ones before the server is contacted.
  TMeasuringBuf measure;
  std::ostream measureStream(&measure);
  message.Write(measureStream);
  const std::int64_t messageSize = measure.Size();
  const std::int64_t wireSize = measure.WireSize();

  mail::TSmtpChannel channel(*FLog, FConnectTimeout, FReadTimeout);
  bool connected = false;
  const auto finish = [&]() {
    channel.Close();
    if (connected && FOnDisconnected)
      FOnDisconnected();
  };
  try {
    channel.Connect(FHost, static_cast<std::uint16_t>(FPort & 0xFFFF));
    connected = true;
    if (FOnConnected)
      FOnConnected();
    if (FSecureTransfer == stImplicit)
      channel.StartTls(tls, FHost);
    Expect(channel.ReadReply(), 220);

    const std::string heloName = helo.toStdString();
    const auto hello = [&]() {
      TExtensions ext;
      channel.SendCommand("EHLO " + heloName);
      const mail::TSmtpReply reply = channel.ReadReply();
      if (reply.Code != 250) {
        channel.SendCommand("HELO " + heloName);
        Expect(channel.ReadReply(), 250);
        return ext;
      }
      for (qsizetype i = 1; i < reply.Lines.size(); ++i) {
        const QStringList words = reply.Lines[i].toUpper().split(QRegularExpression(u"[ =]"_s), Qt::SkipEmptyParts);
        if (words.isEmpty())
          continue;
        if (words[0] == u"STARTTLS"_s)
          ext.StartTls = true;
        else if (words[0] == u"8BITMIME"_s)
          ext.EightBitMime = true;
        else if (words[0] == u"SIZE"_s)
          ext.Size = true;
        else if (words[0] == u"AUTH"_s)
          ext.Auth += words.mid(1);
      }
      return ext;
    };
    TExtensions ext = hello();
    if (FSecureTransfer == stExplicit || FSecureTransfer == stRequired) {
      if (ext.StartTls) {
        channel.SendCommand("STARTTLS");
        Expect(channel.ReadReply(), 220);
        channel.StartTls(tls, FHost);
        ext = hello();
      } else if (FSecureTransfer == stRequired) {
        throw mail::ESmtpError(_("TLS is not available on this server."));
      }
    }
    if (!FUserId.isEmpty() && !FPassword.isEmpty())
      Authenticate(channel, ext.Auth);

    std::string mailFrom = "MAIL FROM:<" + FFrom.Address.trimmed().toStdString() + ">";
    if (ext.EightBitMime && message.HasEightBit())
      mailFrom += " BODY=8BITMIME";
    if (ext.Size)
      mailFrom += " SIZE=" + std::to_string(messageSize);
    channel.SendCommand(mailFrom);
    const mail::TSmtpReply fromReply = channel.ReadReply();
    if (fromReply.Code / 100 != 2)
      Refuse(fromReply);

    int accepted = 0;
    bool stopped = false;
    for (const QString& recipient : recipients) {
      channel.SendCommand("RCPT TO:<" + recipient.toStdString() + ">");
      const mail::TSmtpReply reply = channel.ReadReply();
      if (reply.Code / 100 == 2) {
        ++accepted;
        continue;
      }
      // The address leads the text: many servers do not repeat it.
      QString text = reply.Text().trimmed();
      if (text.isEmpty())
        text = reply.Raw();
      AddError(seFailedRecipient, recipient + u": "_s + text);
      if (!FContinueOnFailedRecipient) {
        stopped = true;
        break;
      }
    }
    if (stopped || accepted == 0) {
      channel.SendCommand("RSET");
      channel.ReadReply();
    } else {
      channel.SendCommand("DATA");
      Expect(channel.ReadReply(), 354);
      Transmit(channel, message, wireSize, messageSize);
      const mail::TSmtpReply dataReply = channel.ReadReply();
      if (dataReply.Code / 100 != 2)
        Refuse(dataReply);
    }
    channel.SendCommand("QUIT");
    channel.ReadReply();
  } catch (...) {
    // After a refused command the session is still sound: end it politely.
    if (channel.Connected()) {
      try {
        channel.SendCommand("QUIT");
        channel.ReadReply();
      } catch (...) {
      }
    }
    finish();
    throw;
  }
  finish();
}

void TmMailer::Authenticate(mail::TSmtpChannel& channel, const QStringList& offered)
{
  static const char* const preference[] = {"LOGIN", "PLAIN", "CRAM-MD5", "CRAM-SHA1"};
  QString mechanism;
  for (const char* m : preference)
    if (offered.contains(QString::fromLatin1(m))) {
      mechanism = QString::fromLatin1(m);
      break;
    }
  const auto failed = []() { return mail::ESmtpError(_("Authentication Failed")); };
  if (mechanism.isEmpty()) {
    FLog->Error(_("The server offers no authentication method that can be used."));
    throw failed();
  }
  const std::string user = FUserId.toStdString();
  const std::string password = FPassword.toStdString();
  const QString masked = u"****"_s;
  mail::TSmtpReply reply;
  if (mechanism == u"PLAIN"_s) {
    channel.SendCommand("AUTH PLAIN " + Base64(std::string(1, '\0') + user + '\0' + password),
                        u"AUTH PLAIN "_s + masked);
    reply = channel.ReadReply();
  } else if (mechanism == u"LOGIN"_s) {
    // The prompts' wording varies between servers; only the codes count.
    channel.SendCommand("AUTH LOGIN");
    reply = channel.ReadReply();
    if (reply.Code == 334) {
      channel.SendCommand(Base64(user), masked);
      reply = channel.ReadReply();
      if (reply.Code == 334) {
        channel.SendCommand(Base64(password), masked);
        reply = channel.ReadReply();
      }
    }
  } else {
    const bool md5 = mechanism == u"CRAM-MD5"_s;
    channel.SendCommand("AUTH " + mechanism.toStdString());
    reply = channel.ReadReply();
    if (reply.Code == 334) {
      const std::string challenge = Unbase64(reply.Lines.value(0).trimmed().toStdString());
      const std::string digest =
          md5 ? HmacHex<Poco::MD5Engine>(password, challenge) : HmacHex<Poco::SHA1Engine>(password, challenge);
      channel.SendCommand(Base64(user + ' ' + digest), masked);
      reply = channel.ReadReply();
    }
  }
  if (reply.Code != 235)
    throw failed();
}

void TmMailer::Transmit(mail::TSmtpChannel& channel, const mail::TMimeMessage& message, std::int64_t wireSize,
                        std::int64_t messageSize)
{
  const auto progress = [this](std::int64_t position) {
    if (FOnSending)
      FOnSending(wmWrite, position);
    else if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
      QCoreApplication::processEvents();
  };
  if (FOnBeginSend)
    FOnBeginSend(wmWrite, wireSize, messageSize);
  FLog->Sent(SafeFormat(_("<message of %d bytes>"), {QVariant::fromValue(messageSize)}));
  TSmtpDataBuf buffer(channel, progress);
  std::ostream sink(&buffer);
  try {
    Poco::Net::MailOutputStream dotted(sink);
    message.Write(dotted);
    dotted.close();
    sink.flush();
    if (buffer.Error())
      std::rethrow_exception(buffer.Error());
    if (!dotted || !sink)
      throw mail::ESmtpError(_("Connection closed by the server."));
  } catch (...) {
    buffer.Abandon();
    channel.Abandon();
    throw;
  }
  if (FOnEndSend)
    FOnEndSend(wmWrite);
}

} // namespace ardanto
