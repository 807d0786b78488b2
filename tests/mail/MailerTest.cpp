// The mail sender against a real SMTP server (aiosmtpd on loopback). Every
// message that arrives is parsed back with Python's email package.

#include "mail/SmtpTestServer.h"
#include "mail/mMailer10.h"

#include "common/Errors.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace ardanto {
namespace {

using namespace Qt::StringLiterals;
using test::HasHeader;
using test::Header;
using test::Strings;
using test::TServerOptions;
using test::TSmtpTestServer;
using test::TTestCertificates;
using ::testing::HasSubstr;
using ::testing::Not;

const QString kUser = u"mail-user"_s;
const QString kPassword = u"s3cr3t-Pässwörd"_s;

QJsonArray Parts(const QJsonObject& message)
{
  return message[u"parts"_s].toArray();
}

QJsonObject PartByFile(const QJsonObject& message, const QString& fileName)
{
  for (const QJsonValue& p : Parts(message))
    if (p[u"filename"_s].toString() == fileName)
      return p.toObject();
  return {};
}

std::string Errors(const TmMailer& mailer)
{
  QStringList texts;
  for (const TSendError& e : mailer.ErrorList())
    texts.append(QString::number(e.ErrType) + u": "_s + e.ErrMsg);
  return texts.join(u" | "_s).toStdString();
}

QString Sha256(const QByteArray& bytes)
{
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// What the client sent, as the conversation log shows it.
QStringList SentLines(const QString& log)
{
  QStringList sent;
  for (const QString& line : QString::fromUtf8(test::ReadFile(log)).split(u'\n'))
    if (line.startsWith(u"Sent "_s))
      sent.append(line);
  return sent;
}

QByteArray RandomBytes(qsizetype size)
{
  QByteArray bytes(size, Qt::Uninitialized);
  for (qsizetype i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
  return bytes;
}

class MailerTest : public ::testing::Test {
protected:
  // As the mail program creates it: root, certificate and key named; only
  // the root exists (the test CA), unless a client certificate is wanted.
  static std::unique_ptr<TmMailer> NewMailer(bool clientCertificate = false, const QString& keyPassword = QString())
  {
    const TTestCertificates& c = TTestCertificates::Get();
    return std::make_unique<TmMailer>(nullptr, c.Folder, u"ca.pem"_s,
                                      clientCertificate ? u"client.pem"_s : u"ardanto.crt"_s,
                                      clientCertificate ? u"client-protected.key"_s : u"ardanto.key"_s, keyPassword);
  }

  static void Address(TmMailer& mailer, const TSmtpTestServer& server)
  {
    mailer.SetHost(u"127.0.0.1"_s);
    mailer.SetPort(server.Port());
    mailer.SetFrom({u"Sender"_s, u"sender@example.org"_s});
    mailer.SetRecipients({TEmailAddress(u"anna@example.org"_s)});
    mailer.SetSubject(u"Test"_s);
    mailer.SetBody({u"Hello"_s});
    mailer.SetConnectTimeout(5000);
    mailer.SetReadTimeout(5000);
  }

  static QJsonObject Only(const TSmtpTestServer& server)
  {
    const QJsonArray messages = server.Messages();
    EXPECT_EQ(messages.size(), 1);
    const QJsonObject message = messages.isEmpty() ? QJsonObject() : messages[0].toObject();
    EXPECT_TRUE(message[u"defects"_s].toArray().isEmpty())
        << QJsonDocument(message[u"defects"_s].toArray()).toJson().toStdString();
    return message;
  }

  test::TempDir FFiles;
};

TEST_F(MailerTest, PlainDeliveryKeepsAddressesHeadersAndBody)
{
  TSmtpTestServer server;
  auto mailer = NewMailer();
  Address(*mailer, server);
  mailer->SetFrom({u"Jürgen Groß"_s, u"juergen@example.org"_s});
  mailer->SetRecipients({{u"Anna Beispiel"_s, u"anna@example.org"_s}, TEmailAddress(u"bob@example.org"_s)});
  mailer->SetCCList({{u"Müller, \"Max\""_s, u"max@example.org"_s}, {u"O'Brien, Pat"_s, u"pat@example.org"_s}});
  mailer->SetBCCList({TEmailAddress(u"hidden@example.org"_s)});
  // Long enough for several encoded words, with a character across the
  // first word's byte limit.
  const QString subject = u"Re: Grüße "_s + QString(30, u'ä') + u" – Sicherung 😀 für März"_s;
  mailer->SetSubject(subject);
  mailer->SetPriority(mpHigh);
  mailer->SetBody(
      {u"Hello Anna,"_s, QString(), u".a line that starts with a dot"_s, u"."_s, u"Grüße aus Köln"_s, u"tab\there"_s});
  mailer->AddExtraHeader(u"X-Test"_s, u"first"_s);
  mailer->AddExtraHeader(u"x-test"_s, u"second"_s);
  mailer->AddExtraHeader(u"Reply-To"_s, u"Jürgen Groß <replies@example.org>"_s);
  mailer->AddExtraHeader(u"X-Injected"_s, u"a\r\nBcc: evil@example.org"_s);
  EXPECT_THROW(mailer->AddExtraHeader(u"Bad Name"_s, u"x"_s), EArdantoError);

  ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
  EXPECT_TRUE(mailer->ErrorList().isEmpty());

  const QJsonObject message = Only(server);
  const QJsonObject envelope = message[u"envelope"_s].toObject();
  EXPECT_EQ(envelope[u"mail_from"_s].toString(), u"juergen@example.org"_s);
  EXPECT_EQ(Strings(envelope[u"rcpt_tos"_s]),
            QStringList({u"anna@example.org"_s, u"bob@example.org"_s, u"max@example.org"_s, u"pat@example.org"_s,
                         u"hidden@example.org"_s}));
  EXPECT_TRUE(Strings(envelope[u"mail_options"_s]).contains(u"BODY=8BITMIME"_s));
  EXPECT_TRUE(envelope[u"tls"_s].isNull());
  EXPECT_TRUE(envelope[u"login"_s].isNull());

  const QJsonObject addresses = message[u"addresses"_s].toObject();
  EXPECT_EQ(addresses[u"from"_s].toArray(), QJsonArray({QJsonArray({u"Jürgen Groß"_s, u"juergen@example.org"_s})}));
  EXPECT_EQ(addresses[u"to"_s].toArray(), QJsonArray({QJsonArray({u"Anna Beispiel"_s, u"anna@example.org"_s}),
                                                      QJsonArray({QString(), u"bob@example.org"_s})}));
  EXPECT_EQ(addresses[u"cc"_s].toArray(), QJsonArray({QJsonArray({u"Müller, \"Max\""_s, u"max@example.org"_s}),
                                                      QJsonArray({u"O'Brien, Pat"_s, u"pat@example.org"_s})}));
  EXPECT_FALSE(HasHeader(message, u"Bcc"_s));
  EXPECT_EQ(Header(message, u"Subject"_s), subject);
  EXPECT_EQ(Header(message, u"X-Priority"_s), u"2 (High)"_s);
  EXPECT_EQ(Header(message, u"X-Test"_s), u"second"_s);
  EXPECT_EQ(addresses[u"reply-to"_s].toArray(), QJsonArray({QJsonArray({u"Jürgen Groß"_s, u"replies@example.org"_s})}));
  EXPECT_EQ(Header(message, u"X-Injected"_s), u"a  Bcc: evil@example.org"_s);
  EXPECT_EQ(Header(message, u"MIME-Version"_s), u"1.0"_s);
  EXPECT_TRUE(Header(message, u"Message-ID"_s).endsWith(u"@example.org>"_s));
  EXPECT_FALSE(Header(message, u"Date"_s).isEmpty());

  const QJsonArray parts = Parts(message);
  ASSERT_EQ(parts.size(), 1);
  EXPECT_EQ(parts[0][u"content_type"_s].toString(), u"text/plain"_s);
  EXPECT_EQ(parts[0][u"charset"_s].toString(), u"iso-8859-1"_s);
  EXPECT_EQ(parts[0][u"cte"_s].toString(), u"8bit"_s);
  EXPECT_EQ(parts[0][u"text"_s].toString(),
            u"Hello Anna,\r\n\r\n.a line that starts with a dot\r\n.\r\nGrüße aus Köln\r\ntab\there\r\n"_s);
}

TEST_F(MailerTest, TlsModes)
{
  struct TCase {
    const char* Name;
    QString ServerTls;
    TSecTransfer Mode;
    QString Host;
    QString Error; // empty: delivered
    bool Encrypted;
  };
  const TCase cases[] = {
      {"explicit, offered", u"starttls"_s, stExplicit, u"127.0.0.1"_s, {}, true},
      {"explicit by host name", u"starttls"_s, stExplicit, u"localhost"_s, {}, true},
      {"explicit, not offered", u"none"_s, stExplicit, u"127.0.0.1"_s, {}, false},
      {"required, offered", u"starttls"_s, stRequired, u"127.0.0.1"_s, {}, true},
      {"required, not offered", u"none"_s, stRequired, u"127.0.0.1"_s, u"TLS is not available on this server."_s,
       false},
      {"implicit", u"implicit"_s, stImplicit, u"127.0.0.1"_s, {}, true},
      {"none, though offered", u"starttls"_s, stNone, u"127.0.0.1"_s, {}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServerOptions options;
    options.Tls = c.ServerTls;
    TSmtpTestServer server(options);
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetHost(c.Host);
    mailer->SetSecureTransfer(c.Mode);
    const bool sent = mailer->Send();
    if (c.Error.isEmpty()) {
      ASSERT_TRUE(sent) << Errors(*mailer);
      const QJsonObject envelope = Only(server)[u"envelope"_s].toObject();
      if (c.Encrypted)
        EXPECT_THAT(envelope[u"tls"_s].toString().toStdString(), HasSubstr("TLSv1."));
      else
        EXPECT_TRUE(envelope[u"tls"_s].isNull());
    } else {
      EXPECT_FALSE(sent);
      ASSERT_EQ(mailer->ErrorList().size(), 1);
      EXPECT_EQ(mailer->ErrorList()[0].ErrType, seSmtp);
      EXPECT_EQ(mailer->ErrorList()[0].ErrMsg, c.Error);
      EXPECT_TRUE(server.Messages().isEmpty());
    }
  }
}

TEST_F(MailerTest, RefusesServerCertificatesThatDoNotHold)
{
  struct TCase {
    const char* Name;
    QString ServerTls;
    TSecTransfer Mode;
    bool WrongName;
    bool TrustTestCa;
    const char* Reason;
  };
  const TCase cases[] = {
      {"other host name, STARTTLS", u"starttls"_s, stExplicit, true, true, "mismatch"},
      {"other host name, implicit", u"implicit"_s, stImplicit, true, true, "mismatch"},
      {"issuer not trusted", u"starttls"_s, stRequired, false, false, "local issuer"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServerOptions options;
    options.Tls = c.ServerTls;
    options.WrongName = c.WrongName;
    TSmtpTestServer server(options);
    // Without certificate files the system's trust store alone decides.
    auto mailer = c.TrustTestCa ? NewMailer() : std::make_unique<TmMailer>();
    Address(*mailer, server);
    mailer->SetSecureTransfer(c.Mode);
    EXPECT_FALSE(mailer->Send());
    ASSERT_EQ(mailer->ErrorList().size(), 1);
    EXPECT_EQ(mailer->ErrorList()[0].ErrType, seSmtp);
    EXPECT_THAT(mailer->ErrorList()[0].ErrMsg.toStdString(), HasSubstr("The server's certificate was refused"));
    EXPECT_THAT(mailer->ErrorList()[0].ErrMsg.toStdString(), HasSubstr(c.Reason));
    EXPECT_TRUE(server.Messages().isEmpty());
  }
}

TEST_F(MailerTest, PresentsClientCertificateWithKeyPasswordFromCallback)
{
  TServerOptions options;
  options.Tls = u"starttls"_s;
  options.ClientCa = true;
  TSmtpTestServer server(options);
  // The password given at creation is wrong; the callback's one wins.
  auto mailer = NewMailer(true, u"wrong"_s);
  mailer->SetOnSSLPassword([] { return TTestCertificates::ClientKeyPassword; });
  Address(*mailer, server);
  mailer->SetSecureTransfer(stRequired);
  ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
  EXPECT_EQ(Only(server)[u"envelope"_s][u"peer_cert"_s].toString(), u"Ardanto Test Client"_s);
}

TEST_F(MailerTest, KeyThatDoesNotLoadFailsWithoutContactingTheServer)
{
  TServerOptions options;
  options.Tls = u"starttls"_s;
  TSmtpTestServer server(options);
  auto mailer = NewMailer(true, u"wrong"_s);
  Address(*mailer, server);
  const QString log = FFiles.File(u"smtp.log"_s);
  mailer->SetLogname(log);
  mailer->SetWriteLogFile(true);
  mailer->SetSecureTransfer(stExplicit);

  EXPECT_FALSE(mailer->Send());
  ASSERT_EQ(mailer->ErrorList().size(), 1);
  EXPECT_EQ(mailer->ErrorList()[0].ErrType, seNoSecure);
  EXPECT_EQ(mailer->ErrorList()[0].ErrMsg, u"Error creating SSL session."_s);
  EXPECT_EQ(server.Connections(), 0);
  const std::string text = test::ReadFile(log).toStdString();
  EXPECT_THAT(text, HasSubstr("Error creating SSL session."));
  EXPECT_THAT(text, HasSubstr("wrong password or damaged file"));

  // Without TLS the same mailer delivers.
  mailer->SetSecureTransfer(stNone);
  EXPECT_TRUE(mailer->Send()) << Errors(*mailer);
  EXPECT_EQ(server.Messages().size(), 1);
}

TEST_F(MailerTest, AuthenticationMechanisms)
{
  struct TCase {
    QString Offered;
    QString Password;
    const char* Command; // what the log shows
    bool Accepted;
  };
  const TCase cases[] = {
      {u"LOGIN"_s, kPassword, "AUTH LOGIN", true},
      {u"PLAIN"_s, kPassword, "AUTH PLAIN ****", true},
      {u"CRAM-MD5"_s, kPassword, "AUTH CRAM-MD5", true},
      {u"CRAM-SHA1"_s, kPassword, "AUTH CRAM-SHA1", true},
      {u"CRAM-SHA1,CRAM-MD5,PLAIN,LOGIN"_s, kPassword, "AUTH LOGIN", true},
      {u"LOGIN"_s, u"wrong"_s, "AUTH LOGIN", false},
      {u"PLAIN"_s, u"wrong"_s, "AUTH PLAIN ****", false},
      {u"CRAM-MD5"_s, u"wrong"_s, "AUTH CRAM-MD5", false},
      {u"CRAM-SHA1"_s, u"wrong"_s, "AUTH CRAM-SHA1", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(QString(c.Offered + u" with "_s + c.Password).toStdString());
    TServerOptions options;
    options.Auth = c.Offered;
    options.User = kUser;
    options.Password = kPassword;
    TSmtpTestServer server(options);
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetUserId(kUser);
    mailer->SetPassword(c.Password);
    const QString log = FFiles.File(c.Offered + c.Password + u".log"_s);
    mailer->SetLogname(log);
    mailer->SetWriteLogFile(true);

    const bool sent = mailer->Send();
    const std::string text = test::ReadFile(log).toStdString();
    EXPECT_THAT(text, HasSubstr(c.Command));
    // Neither the secrets nor their Base64 forms reach the log.
    for (const QString& secret : {c.Password, kUser}) {
      EXPECT_THAT(text, Not(HasSubstr(secret.toStdString())));
      EXPECT_THAT(text, Not(HasSubstr(secret.toUtf8().toBase64().toStdString())));
    }
    if (c.Accepted) {
      ASSERT_TRUE(sent) << Errors(*mailer);
      EXPECT_EQ(Only(server)[u"envelope"_s][u"login"_s].toString(), kUser);
    } else {
      EXPECT_FALSE(sent);
      ASSERT_EQ(mailer->ErrorList().size(), 1);
      EXPECT_EQ(mailer->ErrorList()[0].ErrType, seSmtp);
      EXPECT_EQ(mailer->ErrorList()[0].ErrMsg, u"Authentication Failed"_s);
      EXPECT_TRUE(server.Messages().isEmpty());
    }
  }
}

TEST_F(MailerTest, EmptyUserOrPasswordSendsWithoutAuthentication)
{
  const std::pair<QString, QString> cases[] = {{QString(), kPassword}, {kUser, QString()}};
  for (const auto& [user, password] : cases) {
    SCOPED_TRACE(user.toStdString());
    TServerOptions options;
    options.Auth = u"LOGIN,PLAIN"_s;
    options.User = kUser;
    options.Password = kPassword;
    TSmtpTestServer server(options);
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetUserId(user);
    mailer->SetPassword(password);
    const QString log = FFiles.File(u"noauth"_s + user + u".log"_s);
    mailer->SetLogname(log);
    mailer->SetWriteLogFile(true);
    ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
    EXPECT_TRUE(Only(server)[u"envelope"_s][u"login"_s].isNull());
    EXPECT_THAT(SentLines(log).join(u'\n').toStdString(), Not(HasSubstr("AUTH")));
  }
}

TEST_F(MailerTest, RejectedRecipients)
{
  for (const bool goOn : {true, false}) {
    SCOPED_TRACE(goOn ? "continue" : "stop");
    TServerOptions options;
    options.Reject = {u"gone@example.org"_s, u"left@example.org"_s};
    TSmtpTestServer server(options);
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetRecipients({TEmailAddress(u"anna@example.org"_s), TEmailAddress(u"gone@example.org"_s),
                           TEmailAddress(u"bob@example.org"_s)});
    mailer->SetCCList({TEmailAddress(u"left@example.org"_s)});
    mailer->SetContinueOnFailedRecipient(goOn);
    const QString log = FFiles.File(goOn ? u"on.log"_s : u"off.log"_s);
    mailer->SetLogname(log);
    mailer->SetWriteLogFile(true);

    EXPECT_FALSE(mailer->Send());
    const QStringList rejected =
        goOn ? QStringList{u"gone@example.org"_s, u"left@example.org"_s} : QStringList{u"gone@example.org"_s};
    ASSERT_EQ(mailer->ErrorList().size(), rejected.size()) << Errors(*mailer);
    for (qsizetype i = 0; i < rejected.size(); ++i) {
      EXPECT_EQ(mailer->ErrorList()[i].ErrType, seFailedRecipient);
      EXPECT_EQ(mailer->ErrorList()[i].ErrMsg,
                rejected[i] + u": 5.1.1 <"_s + rejected[i] + u">: Recipient address rejected: User unknown"_s);
    }
    if (goOn) {
      EXPECT_EQ(Strings(Only(server)[u"envelope"_s][u"rcpt_tos"_s]),
                QStringList({u"anna@example.org"_s, u"bob@example.org"_s}));
    } else {
      EXPECT_TRUE(server.Messages().isEmpty());
      EXPECT_THAT(test::ReadFile(log).toStdString(), HasSubstr(": RSET"));
    }
  }
}

TEST_F(MailerTest, BodyFormats)
{
  struct TCase {
    const char* Name;
    TContentType Type;
    QStringList Body;
    QStringList Html;
    QStringList Types; // content types of the walked parts
    QString Charset;
    QString Encoding;
  };
  const QString longLine(1200, u'x');
  const TCase cases[] = {
      {"ascii", ctAscii, {u"Grüße"_s}, {}, {u"text/plain"_s}, u"iso-8859-1"_s, u"8bit"_s},
      {"ascii beyond Latin-1", ctAscii, {u"Preis: 5 €"_s}, {}, {u"text/plain"_s}, u"utf-8"_s, u"8bit"_s},
      {"utf-8",
       ctUtf8,
       {u"Grüße – ✓ 😀"_s, u"Ελληνικά"_s},
       {u"<p>ignored</p>"_s},
       {u"text/plain"_s},
       u"utf-8"_s,
       u"8bit"_s},
      {"line over 998", ctUtf8, {longLine}, {}, {u"text/plain"_s}, u"utf-8"_s, u"base64"_s},
      {"html alone", ctHtml, {}, {u"<p>Grüße</p>"_s}, {u"text/html"_s}, u"iso-8859-1"_s, u"8bit"_s},
      {"html with text",
       ctHtml,
       {u"Grüße"_s},
       {u"<p>Grüße</p>"_s},
       {u"multipart/alternative"_s, u"text/plain"_s, u"text/html"_s},
       u"iso-8859-1"_s,
       u"8bit"_s},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSmtpTestServer server;
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetContentType(c.Type);
    mailer->SetBody(c.Body);
    mailer->SetHTMLBody(c.Html);
    ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
    const QJsonArray parts = Parts(Only(server));
    ASSERT_EQ(parts.size(), c.Types.size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
      const QJsonValue part = parts[i];
      EXPECT_EQ(part[u"content_type"_s].toString(), c.Types[i]);
      if (part[u"multipart"_s].toBool())
        continue;
      EXPECT_EQ(part[u"charset"_s].toString(), c.Charset);
      EXPECT_EQ(part[u"cte"_s].toString(), c.Encoding);
      const QStringList& lines = c.Types[i] == u"text/html"_s ? c.Html : c.Body;
      EXPECT_EQ(part[u"text"_s].toString(), lines.join(u"\r\n"_s) + u"\r\n"_s);
    }
  }
}

TEST_F(MailerTest, AttachmentsKeepTypesNamesAndBytes)
{
  const QByteArray pdf = RandomBytes(70000);
  const QByteArray csv = "a;b\n\xc3\x84;1\n";
  const QByteArray txt = "Zeile 1\nGr\xc3\xbc\xc3\x9f"
                         "e\r\nEnde";
  const QByteArray withNul("text\0with NUL\n", 14);
  const QString longName =
      u"Überaus ausführliche Übersicht über sämtliche Sicherungen des Jahres – März bis Dezember.pdf"_s;
  FFiles.Write(u"report.pdf"_s, pdf);
  FFiles.Write(u"data.csv"_s, csv);
  FFiles.Write(u"notes.txt"_s, txt);
  FFiles.Write(u"nul.txt"_s, withNul);
  FFiles.Write(u"Übersicht März – 2024.bin"_s, pdf.left(1000));
  FFiles.Write(longName, pdf.left(5000));

  TSmtpTestServer server;
  auto mailer = NewMailer();
  Address(*mailer, server);
  mailer->SetContentType(ctHtml);
  mailer->SetBody({u"See attachments"_s});
  mailer->SetHTMLBody({u"<p>See attachments</p>"_s});
  mailer->Attachments().SetAttachedFiles({FFiles.File(u"report.pdf"_s) + u"|pdf"_s,
                                          FFiles.File(u"data.csv"_s) + u"|text/csv"_s, FFiles.File(u"notes.txt"_s),
                                          FFiles.File(u"nul.txt"_s), FFiles.File(u"Übersicht März – 2024.bin"_s),
                                          FFiles.File(longName)});
  ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
  const QJsonObject message = Only(server);

  const QJsonArray parts = Parts(message);
  ASSERT_EQ(parts.size(), 10);
  EXPECT_EQ(parts[0][u"content_type"_s].toString(), u"multipart/mixed"_s);
  EXPECT_EQ(parts[1][u"content_type"_s].toString(), u"multipart/alternative"_s);
  EXPECT_EQ(parts[2][u"text"_s].toString(), u"See attachments\r\n"_s);
  EXPECT_EQ(parts[3][u"text"_s].toString(), u"<p>See attachments</p>\r\n"_s);

  struct TExpected {
    QString File;
    QString Type;
    QString Encoding;
    QByteArray Bytes;
  };
  const TExpected expected[] = {
      {u"report.pdf"_s, u"application/pdf"_s, u"base64"_s, pdf},
      {u"data.csv"_s, u"text/csv"_s, u"base64"_s, csv},
      {u"notes.txt"_s, u"text/plain"_s, u"8bit"_s,
       "Zeile 1\r\nGr\xc3\xbc\xc3\x9f"
       "e\r\nEnde"},
      {u"nul.txt"_s, u"text/plain"_s, u"base64"_s, withNul},
      {u"Übersicht März – 2024.bin"_s, u"application/octet-stream"_s, u"base64"_s, pdf.left(1000)},
      {longName, u"application/pdf"_s, u"base64"_s, pdf.left(5000)},
  };
  for (const TExpected& e : expected) {
    SCOPED_TRACE(e.File.toStdString());
    const QJsonObject part = PartByFile(message, e.File);
    ASSERT_FALSE(part.isEmpty());
    EXPECT_EQ(part[u"content_type"_s].toString(), e.Type);
    EXPECT_EQ(part[u"cte"_s].toString(), e.Encoding);
    EXPECT_EQ(part[u"disposition"_s].toString(), u"attachment"_s);
    EXPECT_EQ(part[u"name"_s].toString(), e.File);
    EXPECT_EQ(part[u"sha256"_s].toString(), Sha256(e.Bytes));
  }
  const QJsonObject notes = PartByFile(message, u"notes.txt"_s);
  EXPECT_EQ(notes[u"charset"_s].toString(), u"utf-8"_s);
  EXPECT_EQ(notes[u"text"_s].toString(), u"Zeile 1\r\nGrüße\r\nEnde"_s);
}

TEST_F(MailerTest, BadInputFailsBeforeTheServerIsContacted)
{
  struct TCase {
    const char* Name;
    TEmailAddressList Recipients;
    QStringList Attachments;
    QString Error;
  };
  const QString missing = FFiles.Path() + u"/missing.pdf"_s;
  FFiles.Write(u"ok.txt"_s, "text");
  const TEmailAddressList anna{TEmailAddress(u"anna@example.org"_s)};
  const TCase cases[] = {
      {"missing attachment", anna, {missing}, missing},
      {"folder as attachment", anna, {FFiles.Path()}, u"it is a folder"_s},
      {"content type with a line break",
       anna,
       {FFiles.File(u"ok.txt"_s) + u"|text/plain\r\nX-Evil: 1"_s},
       u"Invalid content type"_s},
      {"address with a line break",
       {TEmailAddress(u"anna@example.org>\r\nRCPT TO:<evil@example.org"_s)},
       {},
       u"Invalid mail address"_s},
      {"no recipient", {}, {}, u"No recipient given."_s},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSmtpTestServer server;
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetRecipients(c.Recipients);
    mailer->Attachments().SetAttachedFiles(c.Attachments);
    EXPECT_FALSE(mailer->Send());
    ASSERT_EQ(mailer->ErrorList().size(), 1);
    EXPECT_EQ(mailer->ErrorList()[0].ErrType, seUnknown);
    EXPECT_THAT(mailer->ErrorList()[0].ErrMsg.toStdString(), HasSubstr(c.Error.toStdString()));
    EXPECT_EQ(server.Connections(), 0);
  }
}

TEST_F(MailerTest, ServersThatFailMidConversation)
{
  struct TCase {
    const char* Name;
    QString Misbehave;
    QString Tls;
    TSecTransfer Mode;
    QString Error;
  };
  const TCase cases[] = {
      {"closes inside a multi-line reply", u"close-multiline"_s, u"none"_s, stNone,
       u"Connection closed by the server."_s},
      {"stops answering after the greeting", u"silent"_s, u"none"_s, stNone, u"Read timed out."_s},
      {"never greets", u"mute"_s, u"none"_s, stNone, u"Read timed out."_s},
      // The server takes the connection but never answers the TLS hello.
      {"never completes the TLS handshake", u"mute"_s, u"none"_s, stImplicit, u"Connect timed out."_s},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServerOptions options;
    options.Misbehave = c.Misbehave;
    options.Tls = c.Tls;
    TSmtpTestServer server(options);
    auto mailer = NewMailer();
    Address(*mailer, server);
    mailer->SetSecureTransfer(c.Mode);
    mailer->SetConnectTimeout(300);
    mailer->SetReadTimeout(300);
    EXPECT_FALSE(mailer->Send());
    ASSERT_EQ(mailer->ErrorList().size(), 1);
    EXPECT_EQ(mailer->ErrorList()[0].ErrType, seSmtp);
    EXPECT_EQ(mailer->ErrorList()[0].ErrMsg, c.Error);
  }

  // Nobody listening at all.
  int port = 0;
  {
    TSmtpTestServer gone;
    port = gone.Port();
  }
  auto mailer = NewMailer();
  mailer->SetHost(u"127.0.0.1"_s);
  mailer->SetPort(port);
  mailer->SetRecipients({TEmailAddress(u"anna@example.org"_s)});
  EXPECT_FALSE(mailer->Send());
  ASSERT_EQ(mailer->ErrorList().size(), 1);
  EXPECT_THAT(mailer->ErrorList()[0].ErrMsg.toStdString(),
              HasSubstr("Cannot connect to 127.0.0.1:" + std::to_string(port)));
}

TEST_F(MailerTest, SaveToFileWritesAParsableMailFile)
{
  FFiles.Write(u"report.pdf"_s, RandomBytes(3000));
  FFiles.Write(u"notes.txt"_s, "one\ntwo\n");
  TmMailer mailer;
  mailer.SetFrom({u"Jürgen"_s, u"juergen@example.org"_s});
  mailer.SetRecipients({{u"Anna Beispiel"_s, u"anna@example.org"_s}});
  mailer.SetBCCList({TEmailAddress(u"hidden@example.org"_s)});
  mailer.SetSubject(u"Grüße – ✓"_s);
  mailer.SetContentType(ctHtml);
  mailer.SetBody({u".dot"_s, u"Grüße"_s});
  mailer.SetHTMLBody({u"<p>Grüße</p>"_s});
  mailer.Attachments().SetAttachedFiles({FFiles.File(u"report.pdf"_s), FFiles.File(u"notes.txt"_s)});

  const QString file = FFiles.File(u"mail.eml"_s);
  ASSERT_TRUE(mailer.SaveToFile(file));
  const QJsonObject message = test::ParseMessageFile(file);
  EXPECT_TRUE(message[u"defects"_s].toArray().isEmpty());
  EXPECT_EQ(message[u"bare_lf"_s].toInt(), 0);
  EXPECT_LE(message[u"max_line"_s].toInt(), 998);
  EXPECT_EQ(Header(message, u"Subject"_s), u"Grüße – ✓"_s);
  EXPECT_FALSE(HasHeader(message, u"Bcc"_s));
  const QJsonArray parts = Parts(message);
  ASSERT_EQ(parts.size(), 6);
  EXPECT_EQ(parts[2][u"text"_s].toString(), u".dot\r\nGrüße\r\n"_s);
  EXPECT_EQ(parts[3][u"text"_s].toString(), u"<p>Grüße</p>\r\n"_s);
  EXPECT_EQ(PartByFile(message, u"notes.txt"_s)[u"text"_s].toString(), u"one\r\ntwo\r\n"_s);
  EXPECT_EQ(PartByFile(message, u"report.pdf"_s)[u"sha256"_s].toString(),
            Sha256(test::ReadFile(FFiles.File(u"report.pdf"_s))));

  // A failure leaves an existing file as it was and creates nothing.
  mailer.Attachments().SetAttachedFiles({FFiles.Path() + u"/missing.pdf"_s});
  test::WriteFile(file, "old");
  EXPECT_FALSE(mailer.SaveToFile(file));
  EXPECT_EQ(test::ReadFile(file), QByteArray("old"));
  mailer.Attachments().Clear();
  EXPECT_FALSE(mailer.SaveToFile(FFiles.Path() + u"/no/such/folder/mail.eml"_s));
}

TEST_F(MailerTest, ProgressCallbacksAndConversationLog)
{
  TSmtpTestServer server;
  auto mailer = NewMailer();
  Address(*mailer, server);
  FFiles.Write(u"big.bin"_s, RandomBytes(3 * 1024 * 1024));
  mailer->Attachments().SetAttachedFiles({FFiles.File(u"big.bin"_s)});
  const QString log = FFiles.File(u"smtp.log"_s);
  mailer->SetLogname(log);
  mailer->SetWriteLogFile(true);

  int connected = 0, disconnected = 0, begun = 0, ended = 0;
  std::int64_t announced = 0, messageSize = 0;
  QList<std::int64_t> positions;
  mailer->SetOnConnected([&] { ++connected; });
  mailer->SetOnDisconnected([&] { ++disconnected; });
  mailer->SetOnBeginSend([&](TWorkMode mode, std::int64_t wire, std::int64_t size) {
    EXPECT_EQ(mode, wmWrite);
    ++begun;
    announced = wire;
    messageSize = size;
  });
  mailer->SetOnSending([&](TWorkMode, std::int64_t position) { positions.append(position); });
  mailer->SetOnEndSend([&](TWorkMode) { ++ended; });

  ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(begun, 1);
  EXPECT_EQ(ended, 1);
  const QJsonObject message = Only(server);
  EXPECT_EQ(message[u"envelope"_s][u"size"_s].toInteger(), messageSize);
  EXPECT_GT(announced, messageSize); // the final dot at least
  ASSERT_GE(positions.size(), 60);   // 4 MB in chunks of 64 KiB
  EXPECT_TRUE(std::is_sorted(positions.cbegin(), positions.cend()));
  EXPECT_EQ(positions.back(), announced);

  const std::string text = test::ReadFile(log).toStdString();
  EXPECT_THAT(text, HasSubstr(": EHLO Test"));
  EXPECT_THAT(text, HasSubstr(": 250 2.0.0 OK: queued"));
  EXPECT_THAT(text, HasSubstr("<message of " + std::to_string(messageSize) + " bytes>"));

  // The log grows with every delivery.
  ASSERT_TRUE(mailer->Send()) << Errors(*mailer);
  EXPECT_GT(test::ReadFile(log).size(), static_cast<qsizetype>(text.size()));
}

} // namespace
} // namespace ardanto
