#include "mail/MailData.h"
#include "common/AesLib.h"
#include "common/CommaText.h"
#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

const QString kMail = u"Mail"_s;

TMailData FullRecord()
{
  TMailData d;
  d.SMTP = u"smtp.example.org"_s;
  d.Port = 587;
  d.Username = u"ann"_s;
  d.Password = u"Mail paßword"_s;
  d.Sender = u"Backup of Ann"_s;
  d.ReplyTo = u"ann@example.org"_s;
  d.Recipients = u"ann@example.org,#admin@example.org,*old@example.org"_s;
  d.Subject = u"%taskname% - %status%"_s;
  d.Attachments = CommaTextJoin({u"/home/ann/my notes.txt"_s, u"/tmp/a,b.log"_s, u"/tmp/plain.txt"_s});
  d.CryptKey = u"zip-key-123"_s;
  d.SecureMode = stRequired;
  d.LogMode = mmError;
  d.ZipMode = zmEncrypt;
  return d;
}

TMailData ReadBody(const TempDir& dir, const QByteArray& body)
{
  return ReadMailData(TUnicodeIniFile::CreateForRead(dir.Write(u"t.buj"_s, body)), kMail);
}

} // namespace

TEST(MailData, WritesEveryKeyInOrderAndReadsTheRecordBack)
{
  TempDir dir;
  const QString file = dir.File(u"t.buj"_s);
  const TMailData data = FullRecord();
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    WriteMailData(ini, kMail, data);
    ini.UpdateFile();
  }
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadSection(kMail),
            (QStringList{u"SMTP"_s, u"Port"_s, u"Username"_s, u"Password"_s, u"Sender"_s, u"ReplyTo"_s, u"Recipients"_s,
                         u"Subject"_s, u"UseTLS"_s, u"AttachLog"_s, u"AsZip"_s, u"Encrypt"_s, u"Attachment0"_s,
                         u"Attachment1"_s, u"Attachment2"_s}));
  EXPECT_EQ(ini.ReadString(kMail, u"Port"_s, {}), u"587"_s);
  EXPECT_EQ(ini.ReadString(kMail, u"UseTLS"_s, {}), u"2"_s);
  EXPECT_EQ(ini.ReadString(kMail, u"AttachLog"_s, {}), u"2"_s);
  EXPECT_EQ(ini.ReadString(kMail, u"AsZip"_s, {}), u"2"_s);
  EXPECT_EQ(ini.ReadString(kMail, u"Recipients"_s, {}), data.Recipients);
  // A name with a blank keeps its quotes in the file; one with a comma stays one entry.
  EXPECT_EQ(ini.ReadString(kMail, u"Attachment0"_s, {}), u"\"/home/ann/my notes.txt\""_s);
  EXPECT_EQ(ini.ReadString(kMail, u"Attachment1"_s, {}), u"\"/tmp/a,b.log\""_s);
  EXPECT_EQ(ini.ReadString(kMail, u"Attachment2"_s, {}), u"/tmp/plain.txt"_s);

  // The secrets are stored protected, never in clear, under the suite's key.
  const QString password = ini.ReadString(kMail, u"Password"_s, {});
  EXPECT_FALSE(password.contains(u"word"_s));
  EXPECT_EQ(UnprotectString(BuiltInKey(), password.toLatin1()), QByteArray("Mail pa\xdfword"));
  EXPECT_EQ(UnprotectString(BuiltInKey(), ini.ReadString(kMail, u"Encrypt"_s, {}).toLatin1()),
            QByteArray("zip-key-123"));

  const TMailData back = ReadMailData(ini, kMail);
  EXPECT_EQ(back, data);
  EXPECT_EQ(CommaTextSplit(back.Attachments),
            (QStringList{u"/home/ann/my notes.txt"_s, u"/tmp/a,b.log"_s, u"/tmp/plain.txt"_s}));
}

TEST(MailData, ReadingRulesForOldAndIncompleteSections)
{
  TempDir dir;
  struct Case {
    const char* Name;
    QByteArray Section;
    TMailMode LogMode;
    TZipMode ZipMode;
  } cases[] = {
      {"old SendLog without AttachLog", "SendLog=1\n", mmAlways, zmNo},
      {"old SendLog with AttachLog 0", "SendLog=1\nAttachLog=0\n", mmAlways, zmNo},
      {"AttachLog wins over SendLog", "SendLog=1\nAttachLog=2\n", mmError, zmNo},
      {"SendLog 0", "SendLog=0\n", mmNone, zmNo},
      {"encrypted zip without a key", "AttachLog=1\nAsZip=2\n", mmAlways, zmYes},
      {"encrypted zip whose key does not decrypt", "AsZip=2\nEncrypt=garbage\n", mmNone, zmYes},
      {"values out of range", "AttachLog=7\nAsZip=-1\nUseTLS=9\n", mmNone, zmNo},
  };
  for (const Case& c : cases) {
    const TMailData d = ReadBody(dir, "[Mail]\n" + c.Section);
    EXPECT_EQ(d.LogMode, c.LogMode) << c.Name;
    EXPECT_EQ(d.ZipMode, c.ZipMode) << c.Name;
    EXPECT_EQ(d.SecureMode, stNone) << c.Name;
  }

  TMailData key;
  key.CryptKey = u"secret"_s;
  const QByteArray stored = ProtectPassword(key.CryptKey).toLatin1();
  EXPECT_EQ(ReadBody(dir, "[Mail]\nAsZip=2\nEncrypt=" + stored + "\n").ZipMode, zmEncrypt);

  // No section at all: the values of a new task.
  EXPECT_EQ(ReadBody(dir, "[Global]\nSendMail=1\n"), TMailData());
  EXPECT_EQ(TMailData().Port, 25);
}

TEST(MailData, ReadsTenAttachmentsAtMostAndSkipsEmptyOnes)
{
  TempDir dir;
  QByteArray body = "[Mail]\n";
  for (int i = 0; i <= 10; ++i)
    body += "Attachment" + QByteArray::number(i) + "=/f" + QByteArray::number(i) + "\n";
  QStringList first10;
  for (int i = 0; i < 10; ++i)
    first10.append(u"/f%1"_s.arg(i));
  EXPECT_EQ(ReadBody(dir, body).Attachments, first10.join(u','));

  EXPECT_EQ(ReadBody(dir, "[Mail]\nAttachment0=\nAttachment1=/a\nAttachment3=/c\n").Attachments, u"/a,/c"_s);
}

TEST(MailData, RewritingEmptiesTheSectionInPlace)
{
  TempDir dir;
  const QString file = dir.Write(u"t.buj"_s, "[Global]\nSendMail=1\n[Mail]\nSMTP=old\nSendLog=1\nAttachment0=/a\n"
                                             "Attachment1=/b\nAttachment2=/c\nForeign=1\n[Dir000]\nEnabled=1\n");
  TMailData data = ReadMailData(TUnicodeIniFile::CreateForRead(file), kMail);
  EXPECT_EQ(data.LogMode, mmAlways);
  data.Attachments = u"/only"_s;
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    WriteMailData(ini, kMail, data);
    ini.UpdateFile();
  }
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadSections(), (QStringList{u"Global"_s, u"Mail"_s, u"Dir000"_s, u"Unicode"_s}));
  EXPECT_FALSE(ini.ValueExists(kMail, u"SendLog"_s));
  EXPECT_FALSE(ini.ValueExists(kMail, u"Attachment1"_s));
  EXPECT_FALSE(ini.ValueExists(kMail, u"Foreign"_s));
  EXPECT_EQ(ini.ReadString(kMail, u"AttachLog"_s, {}), u"1"_s);
  EXPECT_EQ(ini.ReadString(kMail, u"Attachment0"_s, {}), u"/only"_s);
  EXPECT_EQ(ini.ReadString(kMail, u"SMTP"_s, {}), u"old"_s);
}

TEST(MailData, PasswordsThatCannotBeKeptStopTheWriteBeforeAnythingChanges)
{
  TempDir dir;
  const QString file = dir.Write(u"t.buj"_s, "[Mail]\nSMTP=kept\n");
  struct Case {
    const char* Name;
    QString Password;
    QString CryptKey;
    QString Names;
  } cases[] = {
      {"outside Windows-1252", u"пароль"_s, {}, u"Password of the mail server"_s},
      {"longer than 64 characters", {}, QString(65, u'x'), u"Password of the zipped log"_s},
  };
  for (const Case& c : cases) {
    TMailData data;
    data.SMTP = u"new"_s;
    data.Password = c.Password;
    data.CryptKey = c.CryptKey;
    EXPECT_FALSE(CanProtectPassword(c.Password.isEmpty() ? c.CryptKey : c.Password)) << c.Name;
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    try {
      WriteMailData(ini, kMail, data);
      ADD_FAILURE() << c.Name << ": written";
    } catch (const EArdantoError& e) {
      EXPECT_TRUE(e.Message().startsWith(c.Names)) << e.Message().toStdString();
    }
    EXPECT_EQ(ini.ReadString(kMail, u"SMTP"_s, {}), u"kept"_s) << c.Name;
  }
  EXPECT_TRUE(CanProtectPassword(QString(64, u'ÿ')));
  EXPECT_EQ(UnprotectPassword(ProtectPassword(QString(64, u'ÿ'))), QString(64, u'ÿ'));
  EXPECT_EQ(ProtectPassword(QString()), QString());
}
