#include "mail/MailDialogRules.h"

#include "common/CommaText.h"
#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/Translate.h"

#include <algorithm>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

const QString kServerSection = u"SmtpServer"_s;
const QString kUserSection = u"MailUser"_s;
const QString kSubjectSection = u"Subjects"_s;
const QString kAddressSection = u"MailTo"_s;
const QString kAddressPrefix = u"Address"_s;
const QString kHistoryPrefix = u"History"_s;

QChar PrefixOf(TRecipientState state)
{
  switch (state) {
  case rsOnError:
    return u'#';
  case rsNever:
    return u'*';
  case rsAlways:
    break;
  }
  return QChar();
}

QStringList ReadList(const TUnicodeIniFile& ini, const QString& section, const QString& prefix, int count)
{
  QStringList list;
  for (int i = 0; i < count; ++i) {
    const QString value = ini.ReadString(section, prefix + QString::number(i), QString());
    if (!value.isEmpty())
      list.append(value);
  }
  return list;
}

void WriteList(TUnicodeIniFile& ini, const QString& section, const QString& prefix, const QStringList& list, int count)
{
  ini.EraseSection(section);
  const qsizetype n = std::min<qsizetype>(count, list.size());
  for (qsizetype i = 0; i < n; ++i)
    ini.WriteString(section, prefix + QString::number(i), list[i]);
}

} // namespace

TMailRecipients DecodeRecipients(const QString& stored)
{
  TMailRecipients recipients;
  for (const QString& piece : stored.split(u',')) {
    QString address = piece.trimmed();
    TRecipientState state = rsAlways;
    if (address.startsWith(u'#'))
      state = rsOnError;
    else if (address.startsWith(u'*'))
      state = rsNever;
    if (state != rsAlways)
      address = address.mid(1).trimmed();
    if (!address.isEmpty())
      recipients.append({address, state});
  }
  return recipients;
}

QString EncodeRecipients(const TMailRecipients& recipients)
{
  QStringList pieces;
  for (const TMailRecipient& r : recipients) {
    const QChar prefix = PrefixOf(r.State);
    pieces.append(prefix.isNull() ? r.Address : prefix + r.Address);
  }
  return pieces.join(u',');
}

QString RecipientProblem(const QString& address)
{
  const QString text = address.trimmed();
  const bool unusable = text.isEmpty() || text.contains(u',') || text.startsWith(u'#') || text.startsWith(u'*') ||
                        std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace() || c < u' '; });
  return unusable ? SafeFormat(_("Invalid mail address: \"%s\""), {address}) : QString();
}

qsizetype TRecipientList::IndexOf(const QString& address) const
{
  const QString text = address.trimmed();
  for (qsizetype i = 0; i < FItems.size(); ++i)
    if (FItems[i].Address.compare(text, Qt::CaseInsensitive) == 0)
      return i;
  return -1;
}

qsizetype TRecipientList::Add(const QString& address)
{
  const QString text = address.trimmed();
  if (text.isEmpty() || IndexOf(text) >= 0)
    return -1;
  FItems.append({text, rsAlways});
  return FItems.size() - 1;
}

bool TRecipientList::Replace(qsizetype index, const QString& address)
{
  const QString text = address.trimmed();
  if (index < 0 || index >= FItems.size() || text.isEmpty())
    return false;
  const qsizetype other = IndexOf(text);
  if (other >= 0 && other != index)
    return false;
  FItems[index].Address = text;
  return true;
}

qsizetype TRecipientList::Remove(qsizetype index)
{
  if (index >= 0 && index < FItems.size())
    FItems.removeAt(index);
  if (FItems.isEmpty())
    return -1;
  return std::clamp<qsizetype>(index, 0, FItems.size() - 1);
}

void TRecipientList::SetState(qsizetype index, TRecipientState state)
{
  if (index >= 0 && index < FItems.size())
    FItems[index].State = state;
}

TAttachmentList TAttachmentList::FromCommaText(const QString& text)
{
  QStringList items;
  for (const QString& item : CommaTextSplit(text))
    if (!item.isEmpty())
      items.append(item);
  return TAttachmentList(items);
}

QString TAttachmentList::CommaText() const
{
  return CommaTextJoin(FItems);
}

bool TAttachmentList::Add(const QStringList& files)
{
  for (const QString& file : files) {
    if (file.isEmpty())
      continue;
    if (Full())
      return false;
    FItems.append(file);
  }
  return true;
}

bool TAttachmentList::Replace(qsizetype index, const QString& file)
{
  if (index < 0 || index >= FItems.size() || file.isEmpty())
    return false;
  FItems[index] = file;
  return true;
}

void TAttachmentList::Remove(QList<qsizetype> indexes)
{
  std::sort(indexes.begin(), indexes.end(), std::greater<>());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  for (const qsizetype i : indexes)
    if (i >= 0 && i < FItems.size())
      FItems.removeAt(i);
}

QString AttachmentLimitText()
{
  return SafeFormat(_("The maximum number of attachments is %u!"), {kMaxMailAttachments});
}

int PortAfterTlsChoice(TSecTransfer oldMode, TSecTransfer newMode, int port)
{
  if (oldMode == newMode)
    return port;
  return newMode == stImplicit ? 465 : 25;
}

TMailFields MailFieldsOf(const TMailData& data, TMailMode mode)
{
  TMailFields f;
  f.Server = data.SMTP;
  f.Port = data.Port;
  f.User = data.Username;
  f.Password = data.Password;
  f.Sender = data.Sender;
  f.ReplyTo = data.ReplyTo;
  f.Recipients = DecodeRecipients(data.Recipients);
  f.Subject = data.Subject;
  f.SecureMode = data.SecureMode;
  f.LogMode = data.LogMode;
  f.ZipMode = data.ZipMode;
  f.CryptKey = data.CryptKey;
  f.Attachments = TAttachmentList::FromCommaText(data.Attachments).Items();
  f.SendMode = mode;
  return f;
}

void ApplyMailFields(const TMailFields& fields, TMailData& data, TMailMode& mode)
{
  mode = fields.SendMode;
  data.SMTP = fields.Server;
  data.Port = fields.Port;
  data.Username = fields.User;
  data.Password = fields.Password;
  data.Sender = fields.Sender;
  data.ReplyTo = fields.ReplyTo;
  data.Recipients = EncodeRecipients(fields.Recipients);
  data.SecureMode = fields.SecureMode;
  data.LogMode = fields.LogMode;
  data.ZipMode = fields.ZipMode;
  data.CryptKey = fields.ZipMode == zmEncrypt ? fields.CryptKey : QString();
  data.Subject = fields.Subject;
  data.Attachments = TAttachmentList(fields.Attachments).CommaText();
}

TMailCheck CheckMailFields(const TMailFields& fields)
{
  if (fields.Server.trimmed().isEmpty())
    return {mfServer, _("Please specify an SMTP server!")};
  if (fields.User.trimmed().isEmpty())
    return {mfUser, _("Please specify a user name!")};
  if (fields.Recipients.isEmpty())
    return {mfRecipients, _("Please specify at least one recipient!")};
  if (!fields.Sender.contains(u'@') && !fields.ReplyTo.contains(u'@'))
    return {mfReplyTo, _("Please specify a valid reply address!")};
  return {};
}

TMailHistories LoadMailHistories(const QString& iniFile)
{
  TMailHistories h;
  if (iniFile.isEmpty())
    return h;
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(iniFile);
    h.Servers = ReadList(ini, kServerSection, kHistoryPrefix, kMailHistorySize);
    h.Users = ReadList(ini, kUserSection, kHistoryPrefix, kMailHistorySize);
    h.Subjects = ReadList(ini, kSubjectSection, kHistoryPrefix, kMailHistorySize);
    h.Addresses = ReadList(ini, kAddressSection, kAddressPrefix, kMailAddressHistorySize);
  } catch (const EArdantoError&) {
    // An unreadable settings file costs only the suggestions.
  }
  return h;
}

void RememberMailInputs(TMailHistories& histories, const TMailFields& fields)
{
  AddToHistory(histories.Servers, fields.Server, kMailHistorySize);
  AddToHistory(histories.Users, fields.User, kMailHistorySize);
  AddToHistory(histories.Subjects, fields.Subject, kMailHistorySize);
  AddToHistory(histories.Addresses, fields.ReplyTo, kMailAddressHistorySize);
  AddToHistory(histories.Addresses, fields.Sender, kMailAddressHistorySize);
}

void SaveMailHistories(const QString& iniFile, const TMailHistories& histories)
{
  // One store and one write, so the four lists change together or not at
  // all; the file keeps the encoding it had.
  TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(iniFile);
  WriteList(ini, kServerSection, kHistoryPrefix, histories.Servers, kMailHistorySize);
  WriteList(ini, kUserSection, kHistoryPrefix, histories.Users, kMailHistorySize);
  WriteList(ini, kSubjectSection, kHistoryPrefix, histories.Subjects, kMailHistorySize);
  WriteList(ini, kAddressSection, kAddressPrefix, histories.Addresses, kMailAddressHistorySize);
  ini.UpdateFile();
}

} // namespace ardanto
