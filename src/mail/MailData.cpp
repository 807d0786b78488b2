#include "mail/MailData.h"

#include "common/AesLib.h"
#include "common/CommaText.h"
#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/TextEncoding.h"
#include "common/Translate.h"

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

const QString kAttachment = u"Attachment"_s;

template <typename T> T Ordinal(int value, T last, T fallback)
{
  return value >= 0 && value <= static_cast<int>(last) ? static_cast<T>(value) : fallback;
}

QString ProtectNamed(const QString& password, const QString& what)
{
  QString reason;
  if (!CanProtectPassword(password, &reason))
    throw EArdantoError(what + u": "_s + reason);
  return ProtectPassword(password);
}

} // namespace

void ResetMailData(TMailData& data)
{
  data = TMailData();
}

bool CanProtectPassword(const QString& password, QString* reason)
{
  QString why;
  QByteArray bytes;
  if (password.size() > kMaxPasswordLength)
    why = FormatText(_("A password may hold at most %d characters!"), {kMaxPasswordLength});
  else if (!EncodeWindows1252(password, bytes))
    why = _("The password holds characters that cannot be stored!");
  if (reason)
    *reason = why;
  return why.isEmpty();
}

QString ProtectPassword(const QString& password)
{
  if (password.isEmpty())
    return QString();
  QString reason;
  QByteArray bytes;
  if (!CanProtectPassword(password, &reason) || !EncodeWindows1252(password, bytes))
    throw EArdantoError(reason);
  return QString::fromLatin1(ProtectString(BuiltInKey(), bytes, kMaxPasswordLength, false));
}

QString UnprotectPassword(const QString& stored)
{
  if (stored.isEmpty())
    return QString();
  return DecodeWindows1252(UnprotectString(BuiltInKey(), stored.toLatin1(), false));
}

TMailSecrets ProtectMailSecrets(const TMailData& data)
{
  TMailSecrets secrets;
  secrets.Password = ProtectNamed(data.Password, _("Password of the mail server"));
  secrets.CryptKey = ProtectNamed(data.CryptKey, _("Password of the zipped log"));
  return secrets;
}

TMailData ReadMailData(const TUnicodeIniFile& ini, const QString& section)
{
  TMailData data;
  data.SMTP = ini.ReadString(section, u"SMTP"_s, QString());
  data.Port = ini.ReadInteger(section, u"Port"_s, 25);
  data.Username = ini.ReadString(section, u"Username"_s, QString());
  data.Password = UnprotectPassword(ini.ReadString(section, u"Password"_s, QString()));
  data.Sender = ini.ReadString(section, u"Sender"_s, QString());
  data.ReplyTo = ini.ReadString(section, u"ReplyTo"_s, QString());
  data.Recipients = ini.ReadString(section, u"Recipients"_s, QString());
  data.Subject = ini.ReadString(section, u"Subject"_s, QString());
  data.SecureMode = Ordinal(ini.ReadInteger(section, u"UseTLS"_s, stNone), stImplicit, stNone);
  data.LogMode = Ordinal(ini.ReadInteger(section, u"AttachLog"_s, mmNone), mmError, mmNone);
  // Older tasks had only a yes/no for attaching the log.
  if (data.LogMode == mmNone && ini.ReadBool(section, u"SendLog"_s, false))
    data.LogMode = mmAlways;
  data.ZipMode = Ordinal(ini.ReadInteger(section, u"AsZip"_s, zmNo), zmEncrypt, zmNo);
  data.CryptKey = UnprotectPassword(ini.ReadString(section, u"Encrypt"_s, QString()));
  // An encrypted zip without a key cannot be made: pack it plainly.
  if (data.ZipMode == zmEncrypt && data.CryptKey.isEmpty())
    data.ZipMode = zmYes;
  QStringList attachments;
  for (int i = 0; i < kMaxMailAttachments; ++i) {
    const QString value = ini.ReadString(section, kAttachment + QString::number(i), QString());
    if (!value.isEmpty())
      attachments.append(value);
  }
  data.Attachments = attachments.join(u',');
  return data;
}

void WriteMailData(TUnicodeIniFile& ini, const QString& section, const TMailData& data)
{
  WriteMailData(ini, section, data, ProtectMailSecrets(data));
}

void WriteMailData(TUnicodeIniFile& ini, const QString& section, const TMailData& data, const TMailSecrets& secrets)
{
  // Emptied rather than erased: the section stays where it was in the file.
  ini.EraseSectionValues(section);
  ini.WriteString(section, u"SMTP"_s, data.SMTP);
  ini.WriteInteger(section, u"Port"_s, data.Port);
  ini.WriteString(section, u"Username"_s, data.Username);
  ini.WriteString(section, u"Password"_s, secrets.Password);
  ini.WriteString(section, u"Sender"_s, data.Sender);
  ini.WriteString(section, u"ReplyTo"_s, data.ReplyTo);
  ini.WriteString(section, u"Recipients"_s, data.Recipients);
  ini.WriteString(section, u"Subject"_s, data.Subject);
  ini.WriteInteger(section, u"UseTLS"_s, data.SecureMode);
  ini.WriteInteger(section, u"AttachLog"_s, data.LogMode);
  ini.WriteInteger(section, u"AsZip"_s, data.ZipMode);
  ini.WriteString(section, u"Encrypt"_s, secrets.CryptKey);
  // One entry per key, each in its comma-text form: a quoted name keeps its
  // quotes, and a name with a comma stays one entry.
  int number = 0;
  for (const QString& item : CommaTextSplit(data.Attachments)) {
    if (item.isEmpty())
      continue;
    ini.WriteString(section, kAttachment + QString::number(number++), CommaTextJoin({item}));
  }
}

} // namespace ardanto
