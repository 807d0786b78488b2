#include "engine/ReportMail.h"

#include "common/CommaText.h"
#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "common/Translate.h"
#include "copyengine/ExtFileTools.h"
#include "copyengine/LocalFileSource.h"
#include "engine/EngineLog.h"
#include "mail/MailData.h"
#include "mail/MailTest.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::FormatText;
using ardanto::TEmailAddress;
using ardanto::TEmailAddressList;
using ardanto::TMailData;

namespace {

const QString kSuiteName = u"Ardanto"_s;

// The log of this run as a file of its own, in the form of the log file:
// UTF-8 with a byte-order mark, one line each.
bool WriteSection(const QString& fileName, const QStringList& lines, QString& error)
{
  QFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) {
    error = file.errorString();
    return false;
  }
  QByteArray bytes("\xEF\xBB\xBF");
  for (const QString& line : lines)
    bytes += line.toUtf8() + '\n';
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    error = file.errorString();
    return false;
  }
  return true;
}

// Packs the file into a zip archive of one entry, AES-encrypted when a
// password is given; the same writer as the backups'.
bool ZipFile(const QString& source, const QString& archive, const QString& password, QString& error)
{
  ardanto::TFileData data;
  if (const int code = ardanto::OpenLocalFileSource(source, data); code != 0) {
    error = ardanto::SystemErrorText(code);
    return false;
  }
  std::unique_ptr<ardanto::TEncryption> encryption;
  // 7-Zip and the other zip programs take the password as UTF-8.
  if (!password.isEmpty())
    encryption = std::make_unique<ardanto::TEncryption>(password.toUtf8(), 3, 0);
  ardanto::TWinCopyThread job(data, archive, std::move(encryption), {ardanto::coZipCompress, ardanto::coCompress},
                              false);
  job.WaitFor();
  if (job.ErrorCode() != 0) {
    error = job.SysErrorMsg();
    return false;
  }
  return true;
}

// One further attachment as its key holds it: a comma-text item, quoted when
// it holds a blank. A value someone wrote without the quotes is taken whole.
QString AttachmentPath(const QString& value)
{
  const QStringList items = ardanto::CommaTextSplit(value);
  if (items.size() == 1)
    return items.front();
  return value.trimmed();
}

QString SendErrorText(const QList<ardanto::TSendError>& errors)
{
  QStringList texts;
  for (const ardanto::TSendError& e : errors) {
    texts << (e.ErrType == ardanto::seFailedRecipient ? FormatText(_("not delivered to %s"), {e.ErrMsg})
                                                      : e.ErrMsg.simplified());
  }
  return texts.join(u"; "_s);
}

} // namespace

TEmailAddressList ReportRecipients(const QString& encoded, bool errors)
{
  TEmailAddressList list;
  for (const QString& entry : encoded.split(u',')) {
    QString address = entry.trimmed();
    if (address.startsWith(u'*'))
      continue;
    if (address.startsWith(u'#')) {
      if (!errors)
        continue;
      address = address.mid(1).trimmed();
    }
    if (!address.isEmpty() && !list.contains(TEmailAddress(address)))
      list.append(TEmailAddress(address));
  }
  return list;
}

bool ReportIsDue(int sendMail, bool errors)
{
  return sendMail == ardanto::mmAlways || (sendMail == ardanto::mmError && errors);
}

QString RunDuration(const TRunResult& result)
{
  // In whole seconds of the times the log shows, so the three agree.
  const qint64 seconds = result.Start.isValid() && result.End.isValid()
                             ? std::max<qint64>(0, result.End.toSecsSinceEpoch() - result.Start.toSecsSinceEpoch())
                             : 0;
  return QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

QString ExpandMailPlaceholders(const QString& text, const TRunResult& result)
{
  const std::pair<QString, QString> values[] = {
      {u"%taskname%"_s, result.TaskName},
      {u"%username%"_s, ardanto::UserName()},
      {u"%computername%"_s, ardanto::ComputerName()},
      {u"%computer%"_s, ardanto::ComputerName()},
      {u"%start%"_s, TEngineLog::TimeText(result.Start)},
      {u"%end%"_s, TEngineLog::TimeText(result.End)},
      {u"%duration%"_s, RunDuration(result)},
      {u"%status%"_s, ExitText(result.ExitCode)},
  };
  // One pass from left to right: a value is never looked into again.
  QString out;
  qsizetype i = 0;
  while (i < text.size()) {
    bool replaced = false;
    if (text[i] == u'%') {
      for (const auto& [word, value] : values) {
        if (QStringView(text).mid(i, word.size()).compare(word, Qt::CaseInsensitive) == 0) {
          out += value;
          i += word.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced)
      out += text[i++];
  }
  return out;
}

QString ReportSubject(const QString& subject, const TRunResult& result)
{
  if (subject.trimmed().isEmpty())
    return kSuiteName + u": "_s + result.TaskName + u" - "_s + ExitText(result.ExitCode);
  return ExpandMailPlaceholders(subject, result).simplified();
}

TReportOutcome SendReportMail(const QString& taskFile, const TRunResult& result, const std::function<void()>& idle)
{
  TReportOutcome outcome;
  const bool errors = result.ExitCode != ecOk;
  TMailData data;
  int sendMail = 0;
  QStringList further;
  try {
    const ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForRead(taskFile);
    sendMail = ini.ReadInteger(u"Global"_s, u"SendMail"_s, 0);
    if (!ini.SectionExists(u"Mail"_s))
      return outcome;
    data = ardanto::ReadMailData(ini, u"Mail"_s);
    for (int i = 0; i < ardanto::kMaxMailAttachments; ++i) {
      const QString value = ini.ReadString(u"Mail"_s, u"Attachment"_s + QString::number(i), QString()).trimmed();
      if (!value.isEmpty())
        further << AttachmentPath(value);
    }
  } catch (const ardanto::EArdantoError&) {
    return outcome; // a task that cannot be read asks for nothing
  }
  // As Quillbox reads it: no server or no recipient means no mail.
  if (!ReportIsDue(sendMail, errors) || data.SMTP.trimmed().isEmpty())
    return outcome;
  const TEmailAddressList recipients = ReportRecipients(data.Recipients, errors);
  if (recipients.isEmpty())
    return outcome;
  outcome.Due = true;
  for (const TEmailAddress& r : recipients)
    outcome.Recipients << r.Address;

  QTemporaryDir folder;
  if (!folder.isValid()) {
    outcome.Error = FormatText(_("No temporary folder for the attachments: %s"), {folder.errorString()});
    return outcome;
  }
  QStringList attached;
  const bool withLog = data.LogMode == ardanto::mmAlways || (data.LogMode == ardanto::mmError && errors);
  if (withLog) {
    const QString name = result.LogFile.isEmpty() ? result.TaskName + u".log"_s : QFileInfo(result.LogFile).fileName();
    const QString section = folder.filePath(name);
    QString error;
    if (!WriteSection(section, result.Section, error)) {
      outcome.Problems << FormatText(_("The log could not be attached: %s"), {error});
    } else if (data.ZipMode == ardanto::zmNo) {
      attached << section + u"|text/plain"_s;
    } else {
      const QString archive = section + u".zip"_s;
      if (ZipFile(section, archive, data.ZipMode == ardanto::zmEncrypt ? data.CryptKey : QString(), error))
        attached << archive + u"|application/zip"_s;
      else
        outcome.Problems << FormatText(_("The log could not be zipped: %s"), {error});
    }
  }
  for (const QString& file : std::as_const(further)) {
    if (QFileInfo(file).isFile())
      attached << file;
    else
      outcome.Problems << FormatText(_("The file \"%s\" to attach to the report mail was not found"), {file});
  }

  const std::unique_ptr<ardanto::TmMailer> mailer =
      ardanto::CreateProgramMailer(nullptr, QCoreApplication::applicationDirPath());
  mailer->SetHost(data.SMTP.trimmed());
  mailer->SetPort(data.Port);
  mailer->SetUserId(data.Username);
  mailer->SetPassword(data.Password);
  mailer->SetSecureTransfer(data.SecureMode);
  mailer->SetHeloName(kSuiteName);
  // A sender without "@" is a display name; the reply address sends.
  const TEmailAddress from = data.Sender.contains(u'@') ? TEmailAddress(kSuiteName, data.Sender.trimmed())
                                                        : TEmailAddress(data.Sender, data.ReplyTo.trimmed());
  mailer->SetFrom(from);
  mailer->SetRecipients(recipients);
  // One recipient the server refuses must not cost the others their report.
  mailer->SetContinueOnFailedRecipient(true);
  mailer->SetSubject(ReportSubject(data.Subject, result));
  mailer->SetBody(result.Summary);
  mailer->Attachments().SetAttachedFiles(attached);
  try {
    mailer->AddExtraHeader(u"User-Agent"_s, kSuiteName + u' ' + QStringLiteral(ARDANTO_VERSION));
    if (!data.ReplyTo.trimmed().isEmpty())
      mailer->AddExtraHeader(u"Reply-To"_s, data.ReplyTo.trimmed());
  } catch (const ardanto::EArdantoError& e) {
    outcome.Problems << e.Message();
  }
  if (idle)
    mailer->SetOnSending([&idle](ardanto::TWorkMode, std::int64_t) { idle(); });
  const bool sent = mailer->Send();
  outcome.Sent = sent && mailer->ErrorList().isEmpty();
  if (!outcome.Sent) {
    const QString reasons = SendErrorText(mailer->ErrorList());
    outcome.Error = FormatText(_("The report mail could not be sent (SMTP: %s:%d)"), {data.SMTP.trimmed(), data.Port}) +
                    (reasons.isEmpty() ? QString() : u": "_s + reasons);
  }
  return outcome;
}

} // namespace engine
