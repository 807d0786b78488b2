#include "mail/MailTest.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/Translate.h"

#include <QStringList>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

// The suite's own name in the greeting, the subject and the sender.
const QString kSuiteName = u"Ardanto"_s;

} // namespace

std::unique_ptr<TmMailer> CreateProgramMailer(QObject* owner, const QString& programFolder)
{
  QString folder = programFolder;
  if (!folder.isEmpty() && !folder.endsWith(u'/'))
    folder += u'/';
  auto mailer = std::make_unique<TmMailer>(owner, folder, u"ardantoroot.pem"_s, u"ardanto.crt"_s, u"ardanto.key"_s,
                                           u"SilverMarigold"_s);
  mailer->SetContentType(ctUtf8);
  return mailer;
}

QString TestMailSubject(const QDateTime& now, const QLocale& locale)
{
  return kSuiteName + u": "_s + _("Mail delivery test on ") + locale.toString(now, QLocale::ShortFormat);
}

QString TestMailLogFile(const QString& logFolder)
{
  QString folder = logFolder;
  if (!folder.isEmpty() && !folder.endsWith(u'/'))
    folder += u'/';
  return folder + u"ArdantoSmtp.log"_s;
}

QString ThreePartVersion(const QString& version)
{
  return version.split(u'.').mid(0, 3).join(u'.');
}

void PrepareTestMail(TmMailer& mailer, const TMailFields& fields, const TMailTestContext& context)
{
  mailer.ClearBody();
  mailer.SetHTMLBody({});
  mailer.AddToBody(_("This is a test mail from ") + context.ProgramName + u" ("_s + context.Version + u')');
  mailer.SetSubject(TestMailSubject(context.Now, context.Locale));
  TEmailAddressList recipients;
  for (const TMailRecipient& r : fields.Recipients)
    recipients.append(TEmailAddress(r.Address));
  mailer.SetRecipients(recipients);
  mailer.SetCCList({});
  mailer.SetBCCList({});
  mailer.SetHost(fields.Server);
  mailer.SetPort(fields.Port);
  mailer.SetUserId(fields.User);
  mailer.SetPassword(fields.Password);
  mailer.SetSecureTransfer(fields.SecureMode);
  mailer.SetHeloName(kSuiteName);
  mailer.SetLogname(TestMailLogFile(context.LogFolder));
  mailer.SetWriteLogFile(true);
  mailer.Attachments().Clear();

  // A sender text without "@" is a display name; the reply address sends.
  const TEmailAddress from = fields.Sender.contains(u'@') ? TEmailAddress(kSuiteName, fields.Sender)
                                                          : TEmailAddress(fields.Sender, fields.ReplyTo);
  mailer.SetFrom(from);
  mailer.ClearExtraHeaders();
  mailer.AddExtraHeader(u"User-Agent"_s, context.ProgramName + u' ' + ThreePartVersion(context.Version));
  mailer.AddExtraHeader(u"Sender"_s, from.Address);
  // An empty Reply-To would be a malformed header; without one, replies go
  // to the sender.
  if (!fields.ReplyTo.trimmed().isEmpty())
    mailer.AddExtraHeader(u"Reply-To"_s, fields.ReplyTo);
}

QString DeliveryFailureText(const QString& host, int port, const QList<TSendError>& errors)
{
  QString text = SafeFormat(_("Error during mail delivery (SMTP: %s:%u)"), {host, port});
  for (const TSendError& e : errors) {
    text += u"\r\n - "_s;
    text += e.ErrType == seFailedRecipient ? SafeFormat(_("Could not deliver mail to %s!"), {e.ErrMsg}) : e.ErrMsg;
  }
  return text;
}

QString DeliverySuccessText(const TEmailAddressList& recipients)
{
  QString text = SafeFormat(_("Mail notifications were sent to: %s"), {EMailAddresses(recipients)});
  return text.replace(u": "_s, u":\r\n"_s);
}

TDeliveryResult SendTestMail(TmMailer& mailer)
{
  TDeliveryResult result;
  result.LogFile = mailer.Logname();
  bool sent = false;
  QList<TSendError> errors;
  try {
    sent = mailer.Send();
    errors = mailer.ErrorList();
  } catch (const EArdantoError& e) {
    // Send does not raise; should it ever, the test failed all the same.
    errors = mailer.ErrorList();
    errors.append({seUnknown, e.Message()});
  } catch (const std::exception& e) {
    errors = mailer.ErrorList();
    errors.append({seUnknown, QString::fromLocal8Bit(e.what())});
  }
  mailer.SetWriteLogFile(false);
  result.Delivered = sent && errors.isEmpty();
  if (result.Delivered)
    result.Message = DeliverySuccessText(mailer.Recipients());
  else
    result.Message = DeliveryFailureText(mailer.Host(), mailer.Port(), errors);
  return result;
}

} // namespace ardanto
