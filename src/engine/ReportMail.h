#pragma once

// The report mail of a backup run, sent when the run has ended and its log is
// closed, as the task's [Global] SendMail and its [Mail] section ask: to the
// recipients whose state fits the run, with the run's summary as the body,
// the run's log attached plain, zipped or AES-zipped, and further files.

#include "engine/EngineResult.h"
#include "mail/mMailer10.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace engine {

// Who gets the report of a run from an encoded recipient list ("," between
// entries): an address without a prefix always, "#" + address only when the
// run had errors, "*" + address never.
ardanto::TEmailAddressList ReportRecipients(const QString& encoded, bool errors);

// Whether a report goes out for the task's SendMail value: 1 always, 2 only
// when the run had errors, anything else never.
bool ReportIsDue(int sendMail, bool errors);

// The mail placeholders (%taskname%, %username%, %computername%, %computer%,
// %start%, %end%, %duration%, %status%) replaced by the run's values, in any
// case; other words between "%" stay, and what a value brings in is not
// expanded again.
QString ExpandMailPlaceholders(const QString& text, const TRunResult& result);

// The subject with its placeholders expanded; an empty one gives
// "Ardanto: <task name> - <status>".
QString ReportSubject(const QString& subject, const TRunResult& result);

// "h:mm:ss" of the run.
QString RunDuration(const TRunResult& result);

struct TReportOutcome {
  bool Due = false;  // the task asks for a mail for this run
  bool Sent = false; // the server took it
  QString Error;     // why it did not go out
  QStringList Recipients;
  // What went wrong without stopping the mail (a further file that is
  // missing, say): each to be logged.
  QStringList Problems;
};

// Reads the task file and sends the report of result when one is due. idle
// is called while the mail goes out, so that a window stays responsive.
TReportOutcome SendReportMail(const QString& taskFile, const TRunResult& result, const std::function<void()>& idle);

} // namespace engine
