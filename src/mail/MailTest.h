#pragma once

// The test mail of the "E-Mail configuration" dialog: what the mailer is given
// for it, and the texts that report how the delivery went.

#include "mail/MailDialogRules.h"
#include "mail/mMailer10.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>

#include <memory>

class QObject;

namespace ardanto {

// The mail program's one mailer, as it makes it at start-up: the three
// certificate files in the program's folder, the key file's fixed password,
// and UTF-8 plain text bodies.
std::unique_ptr<TmMailer> CreateProgramMailer(QObject* owner, const QString& programFolder);

struct TMailTestContext {
  QString ProgramName; // the program's display name
  QString Version;     // the program's version, any number of parts
  QString LogFolder;   // the suite's log folder, with trailing "/"
  QDateTime Now;
  QLocale Locale;
};

// "Ardanto: Mail delivery test on <date and time in the locale's format>".
QString TestMailSubject(const QDateTime& now, const QLocale& locale);
// The conversation log of the test: LogFolder + "ArdantoSmtp.log".
QString TestMailLogFile(const QString& logFolder);
// The first three parts of a version ("6.1.0" of "6.1.0.27").
QString ThreePartVersion(const QString& version);

// Gives the mailer everything the test mail needs, from the dialog's fields
// (not yet from the record): body, subject, all recipients whatever their
// state, server and login, TLS mode, sender, extra headers and the log file
// with logging switched on. Attachments are cleared.
void PrepareTestMail(TmMailer& mailer, const TMailFields& fields, const TMailTestContext& context);

struct TDeliveryResult {
  bool Delivered = false;
  QString Message; // for the delivery status window
  QString LogFile;
};

// "Error during mail delivery (SMTP: host:port)" and one line per error.
QString DeliveryFailureText(const QString& host, int port, const QList<TSendError>& errors);
// "Mail notifications were sent to:\r\n<addresses>".
QString DeliverySuccessText(const TEmailAddressList& recipients);

// Sends what PrepareTestMail gave the mailer, switches logging off again and
// describes the outcome. A failure is only reported.
TDeliveryResult SendTestMail(TmMailer& mailer);

} // namespace ardanto
