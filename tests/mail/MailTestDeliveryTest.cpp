// The test mail of the mail settings dialog, delivered to a real SMTP server
// (aiosmtpd on loopback) and parsed back with Python's email package.

#include "mail/MailTest.h"
#include "mail/SmtpTestServer.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
const QString kPassword = u"Pässwörd-42"_s;

QJsonArray Address(const QString& name, const QString& address)
{
  return QJsonArray({QJsonArray({name, address})});
}

class MailTestDeliveryTest : public ::testing::Test {
protected:
  // As the mail program makes it, with the test CA as the extra root.
  static std::unique_ptr<TmMailer> NewMailer(bool trustTestCa = true)
  {
    const TTestCertificates& c = TTestCertificates::Get();
    auto mailer = trustTestCa ? std::make_unique<TmMailer>(nullptr, c.Folder, u"ca.pem"_s, u"ardanto.crt"_s,
                                                           u"ardanto.key"_s, u"SilverMarigold"_s)
                              : std::make_unique<TmMailer>();
    mailer->SetContentType(ctUtf8);
    mailer->SetConnectTimeout(5000);
    mailer->SetReadTimeout(5000);
    return mailer;
  }

  TMailFields Fields(const TSmtpTestServer& server) const
  {
    TMailFields f;
    f.Server = u"127.0.0.1"_s;
    f.Port = server.Port();
    f.User = kUser;
    f.Sender = u"ann@example.org"_s;
    f.ReplyTo = u"replies@example.org"_s;
    // Every entry gets the test mail, whatever its state.
    f.Recipients = {
        {u"anna@example.org"_s, rsAlways}, {u"admin@example.org"_s, rsOnError}, {u"old@example.org"_s, rsNever}};
    // Never part of a test mail.
    f.Subject = u"%taskname%"_s;
    f.Attachments = {u"/etc/hostname"_s};
    return f;
  }

  TMailTestContext Context() const
  {
    TMailTestContext c;
    c.ProgramName = u"Quillbox"_s;
    c.Version = u"6.1.0.27"_s;
    c.LogFolder = FLogs.Path() + u'/';
    c.Now = QDateTime(QDate(2024, 3, 9), QTime(14, 5));
    c.Locale = QLocale(QLocale::German, QLocale::Germany);
    return c;
  }

  QString LogFile() const { return FLogs.Path() + u"/ArdantoSmtp.log"_s; }

  static QJsonObject Only(const TSmtpTestServer& server)
  {
    const QJsonArray messages = server.Messages();
    EXPECT_EQ(messages.size(), 1);
    const QJsonObject message = messages.isEmpty() ? QJsonObject() : messages[0].toObject();
    EXPECT_TRUE(message[u"defects"_s].toArray().isEmpty())
        << QJsonDocument(message[u"defects"_s].toArray()).toJson().toStdString();
    return message;
  }

  test::TempDir FLogs;
};

TEST_F(MailTestDeliveryTest, TestMailOverEveryTransport)
{
  struct TCase {
    const char* Name;
    QString ServerTls;
    TSecTransfer Mode;
    QString Auth;
    const char* Tls; // what the server saw; null: no TLS
  };
  const TCase cases[] = {
      {"plain", u"none"_s, stNone, {}, nullptr},
      {"STARTTLS with the test CA", u"starttls"_s, stRequired, {}, "TLSv1."},
      {"implicit TLS", u"implicit"_s, stImplicit, {}, "TLSv1."},
      {"AUTH LOGIN", u"none"_s, stNone, u"LOGIN"_s, nullptr},
      {"AUTH PLAIN over STARTTLS", u"starttls"_s, stExplicit, u"PLAIN"_s, "TLSv1."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServerOptions options;
    options.Tls = c.ServerTls;
    options.Auth = c.Auth;
    options.User = kUser;
    options.Password = kPassword;
    TSmtpTestServer server(options);
    auto mailer = NewMailer();
    TMailFields fields = Fields(server);
    fields.SecureMode = c.Mode;
    if (!c.Auth.isEmpty())
      fields.Password = kPassword;
    QFile::remove(LogFile());

    PrepareTestMail(*mailer, fields, Context());
    const TDeliveryResult result = SendTestMail(*mailer);

    ASSERT_TRUE(result.Delivered) << result.Message.toStdString();
    EXPECT_EQ(result.Message,
              u"Mail notifications were sent to:\r\nanna@example.org, admin@example.org, old@example.org"_s);
    EXPECT_EQ(result.LogFile, LogFile());
    const QJsonObject message = Only(server);
    EXPECT_EQ(Header(message, u"Subject"_s), u"Ardanto: Mail delivery test on 09.03.24 14:05"_s);
    EXPECT_EQ(Header(message, u"User-Agent"_s), u"Quillbox 6.1.0"_s);
    EXPECT_EQ(Header(message, u"Sender"_s), u"ann@example.org"_s);
    const QJsonObject addresses = message[u"addresses"_s].toObject();
    EXPECT_EQ(addresses[u"from"_s].toArray(), Address(u"Ardanto"_s, u"ann@example.org"_s));
    EXPECT_EQ(addresses[u"reply-to"_s].toArray(), Address(QString(), u"replies@example.org"_s));
    const QJsonArray parts = message[u"parts"_s].toArray();
    ASSERT_EQ(parts.size(), 1) << "no attachments in a test mail";
    EXPECT_EQ(parts[0][u"charset"_s].toString(), u"utf-8"_s);
    EXPECT_EQ(parts[0][u"text"_s].toString(), u"This is a test mail from Quillbox (6.1.0.27)\r\n"_s);

    const QJsonObject envelope = message[u"envelope"_s].toObject();
    EXPECT_EQ(envelope[u"mail_from"_s].toString(), u"ann@example.org"_s);
    EXPECT_EQ(Strings(envelope[u"rcpt_tos"_s]),
              (QStringList{u"anna@example.org"_s, u"admin@example.org"_s, u"old@example.org"_s}));
    if (c.Tls != nullptr)
      EXPECT_THAT(envelope[u"tls"_s].toString().toStdString(), HasSubstr(c.Tls));
    else
      EXPECT_TRUE(envelope[u"tls"_s].isNull());
    if (c.Auth.isEmpty())
      EXPECT_TRUE(envelope[u"login"_s].isNull());
    else
      EXPECT_EQ(envelope[u"login"_s].toString(), kUser);

    // The conversation is logged in the log folder, without the password in
    // any form.
    ASSERT_TRUE(QFileInfo::exists(LogFile()));
    const QByteArray log = test::ReadFile(LogFile());
    EXPECT_THAT(log.toStdString(), HasSubstr("EHLO Ardanto"));
    EXPECT_THAT(log.toStdString(), Not(HasSubstr(kPassword.toStdString())));
    EXPECT_THAT(log.toStdString(), Not(HasSubstr(kPassword.toUtf8().toBase64().toStdString())));
    EXPECT_THAT(
        log.toStdString(),
        Not(HasSubstr(
            QByteArray(QByteArray(1, '\0') + kUser.toUtf8() + '\0' + kPassword.toUtf8()).toBase64().toStdString())));

    // Logging is off again afterwards; the mailer keeps the test's settings.
    ASSERT_TRUE(mailer->Send());
    EXPECT_EQ(test::ReadFile(LogFile()), log);
    EXPECT_EQ(mailer->Subject(), Header(message, u"Subject"_s));
  }
}

TEST_F(MailTestDeliveryTest, SenderWithoutAtIsTheDisplayNameOfTheReplyAddress)
{
  TSmtpTestServer server;
  auto mailer = NewMailer();
  TMailFields fields = Fields(server);
  fields.Sender = u"Backup of Ann"_s;
  fields.ReplyTo = u"ann@example.org"_s;
  PrepareTestMail(*mailer, fields, Context());
  ASSERT_TRUE(SendTestMail(*mailer).Delivered);
  const QJsonObject message = Only(server);
  const QJsonObject addresses = message[u"addresses"_s].toObject();
  EXPECT_EQ(addresses[u"from"_s].toArray(), Address(u"Backup of Ann"_s, u"ann@example.org"_s));
  EXPECT_EQ(Header(message, u"Sender"_s), u"ann@example.org"_s);
  EXPECT_EQ(addresses[u"reply-to"_s].toArray(), Address(QString(), u"ann@example.org"_s));
  EXPECT_EQ(message[u"envelope"_s][u"mail_from"_s].toString(), u"ann@example.org"_s);
}

TEST_F(MailTestDeliveryTest, EmptyReplyToSendsNoReplyToHeader)
{
  TSmtpTestServer server;
  auto mailer = NewMailer();
  TMailFields fields = Fields(server);
  fields.ReplyTo.clear();
  PrepareTestMail(*mailer, fields, Context());
  ASSERT_TRUE(SendTestMail(*mailer).Delivered);
  EXPECT_FALSE(HasHeader(Only(server), u"Reply-To"_s));
}

TEST_F(MailTestDeliveryTest, FailuresNameServerPortAndEachError)
{
  struct TCase {
    const char* Name;
    TServerOptions Options;
    QString Password;
    bool TrustTestCa;
    TSecTransfer Mode;
    const char* Expected; // the lines after the first
  };
  TServerOptions refusing;
  refusing.Reject = {u"admin@example.org"_s};
  TServerOptions login;
  login.Auth = u"LOGIN"_s;
  login.User = kUser;
  login.Password = kPassword;
  TServerOptions otherName;
  otherName.Tls = u"starttls"_s;
  otherName.WrongName = true;
  TServerOptions starttls;
  starttls.Tls = u"starttls"_s;
  const TCase cases[] = {
      {"refused recipient",
       refusing,
       {},
       true,
       stNone,
       "\r\n - Could not deliver mail to admin@example.org: 5.1.1 <admin@example.org>: Recipient address rejected: "
       "User unknown!"},
      {"wrong password", login, u"wrong"_s, true, stNone, "\r\n - Authentication Failed"},
      {"certificate for another name",
       otherName,
       {},
       true,
       stRequired,
       "\r\n - The server's certificate was refused: "},
      {"certificate of an untrusted issuer",
       starttls,
       {},
       false,
       stRequired,
       "\r\n - The server's certificate was refused: "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSmtpTestServer server(c.Options);
    auto mailer = NewMailer(c.TrustTestCa);
    TMailFields fields = Fields(server);
    fields.Password = c.Password;
    fields.SecureMode = c.Mode;
    PrepareTestMail(*mailer, fields, Context());
    const TDeliveryResult result = SendTestMail(*mailer);
    EXPECT_FALSE(result.Delivered);
    const QString head = u"Error during mail delivery (SMTP: 127.0.0.1:%1)"_s.arg(server.Port());
    EXPECT_TRUE(result.Message.startsWith(head + QString::fromUtf8(c.Expected))) << result.Message.toStdString();
    EXPECT_TRUE(server.Messages().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(LogFile()));
  }
}

TEST_F(MailTestDeliveryTest, CertificateFailuresSayWhy)
{
  TServerOptions otherName;
  otherName.Tls = u"implicit"_s;
  otherName.WrongName = true;
  TSmtpTestServer wrongName(otherName);
  auto mailer = NewMailer();
  TMailFields fields = Fields(wrongName);
  fields.SecureMode = stImplicit;
  PrepareTestMail(*mailer, fields, Context());
  EXPECT_THAT(SendTestMail(*mailer).Message.toStdString(), HasSubstr("mismatch"));

  TServerOptions starttls;
  starttls.Tls = u"starttls"_s;
  TSmtpTestServer untrusted(starttls);
  auto system = NewMailer(false);
  fields = Fields(untrusted);
  fields.SecureMode = stRequired;
  PrepareTestMail(*system, fields, Context());
  EXPECT_THAT(SendTestMail(*system).Message.toStdString(), HasSubstr("unable to get local issuer certificate"));
}

TEST_F(MailTestDeliveryTest, ProgramMailerTrustsTheRootInTheProgramFolder)
{
  test::TempDir program;
  ASSERT_TRUE(QFile::copy(TTestCertificates::Get().CaFile(), program.File(u"ardantoroot.pem"_s)));
  TServerOptions starttls;
  starttls.Tls = u"starttls"_s;
  TSmtpTestServer server(starttls);
  const std::unique_ptr<TmMailer> mailer = CreateProgramMailer(nullptr, program.Path());
  EXPECT_EQ(mailer->ContentType(), ctUtf8);
  TMailFields fields = Fields(server);
  fields.SecureMode = stRequired;
  PrepareTestMail(*mailer, fields, Context());
  const TDeliveryResult result = SendTestMail(*mailer);
  ASSERT_TRUE(result.Delivered) << result.Message.toStdString();
  EXPECT_THAT(Only(server)[u"envelope"_s][u"tls"_s].toString().toStdString(), HasSubstr("TLSv1."));
}

TEST(MailTestTexts, SubjectVersionAndResultTexts)
{
  const QDateTime now(QDate(2024, 12, 31), QTime(23, 59));
  EXPECT_EQ(TestMailSubject(now, QLocale(QLocale::English, QLocale::UnitedStates)),
            u"Ardanto: Mail delivery test on 12/31/24 11:59 PM"_s);
  EXPECT_EQ(ThreePartVersion(u"6.1.0.27"_s), u"6.1.0"_s);
  EXPECT_EQ(ThreePartVersion(u"6.1"_s), u"6.1"_s);
  EXPECT_EQ(TestMailLogFile(u"/var/log/ardanto"_s), u"/var/log/ardanto/ArdantoSmtp.log"_s);
  EXPECT_EQ(TestMailLogFile(u"/var/log/ardanto/"_s), u"/var/log/ardanto/ArdantoSmtp.log"_s);

  EXPECT_EQ(DeliveryFailureText(u"smtp.example.org"_s, 587,
                                {{seFailedRecipient, u"a@x: 5.1.1 unknown"_s},
                                 {seSmtp, u"Connection closed"_s},
                                 {seNoSecure, u"Error creating SSL session."_s}}),
            u"Error during mail delivery (SMTP: smtp.example.org:587)\r\n - Could not deliver mail to a@x: 5.1.1 "
            "unknown!\r\n - Connection closed\r\n - Error creating SSL session."_s);
  EXPECT_EQ(DeliverySuccessText({TEmailAddress(u"a@x"_s)}), u"Mail notifications were sent to:\r\na@x"_s);
}

} // namespace
} // namespace ardanto
