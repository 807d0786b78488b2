// The rules of the mail settings dialog, without its window: stored forms of
// the recipient and attachment lists, the TLS port rule, the checks of OK
// and Test, and the history lists in the engine settings file.

#include "mail/MailDialogRules.h"

#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

TMailFields Complete()
{
  TMailFields f;
  f.Server = u"smtp.example.org"_s;
  f.User = u"ann"_s;
  f.Recipients = {{u"ann@example.org"_s, rsAlways}};
  f.Sender = u"ann@example.org"_s;
  return f;
}

} // namespace

TEST(MailDialogRules, RecipientStatesRoundTripThroughTheStoredList)
{
  const TMailRecipients three{
      {u"ann@example.org"_s, rsAlways}, {u"admin@example.org"_s, rsOnError}, {u"old@example.org"_s, rsNever}};
  EXPECT_EQ(EncodeRecipients(three), u"ann@example.org,#admin@example.org,*old@example.org"_s);
  EXPECT_EQ(DecodeRecipients(u"ann@example.org,#admin@example.org,*old@example.org"_s), three);

  // Through the record and the task file and back into the dialog's fields.
  TMailFields fields = Complete();
  fields.Recipients = three;
  TMailData data;
  TMailMode mode = mmNone;
  ApplyMailFields(fields, data, mode);
  TempDir dir;
  const QString file = dir.File(u"t.buj"_s);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    WriteMailData(ini, u"Mail"_s, data);
    ini.UpdateFile();
  }
  EXPECT_EQ(MailFieldsOf(ReadMailData(TUnicodeIniFile::CreateForRead(file), u"Mail"_s), mode).Recipients, three);

  // Hand-edited lists: blanks around the pieces, empty pieces, a lone prefix.
  const TMailRecipients loose = DecodeRecipients(u" a@x , ,# b@x,*,c@x,"_s);
  EXPECT_EQ(loose, (TMailRecipients{{u"a@x"_s, rsAlways}, {u"b@x"_s, rsOnError}, {u"c@x"_s, rsAlways}}));
  EXPECT_TRUE(DecodeRecipients(QString()).isEmpty());
}

TEST(MailDialogRules, AddressesThatTheStoredListCannotHoldAreRefused)
{
  const struct {
    const char16_t* Address;
    bool Accepted;
  } cases[] = {
      {u"ann@example.org", true}, {u"  ann@example.org ", true}, {u"", false},       {u"   ", false},
      {u"a@x,b@x", false},        {u"#ann@example.org", false},  {u"*ann@x", false}, {u"ann @x", false},
      {u"ann\t@x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RecipientProblem(QString::fromUtf16(c.Address)).isEmpty(), c.Accepted)
        << QString::fromUtf16(c.Address).toStdString();
  EXPECT_EQ(RecipientProblem(u"a,b"_s), u"Invalid mail address: \"a,b\""_s);
}

TEST(MailDialogRules, RecipientListKeepsAddressesUniqueAndTheSelectionInPlace)
{
  TRecipientList list;
  EXPECT_EQ(list.Add(u"a@x"_s), 0);
  EXPECT_EQ(list.Add(u"b@x"_s), 1);
  EXPECT_EQ(list.Add(u"c@x"_s), 2);
  EXPECT_EQ(list.Add(u"B@X"_s), -1) << "listed already, whatever the case";
  EXPECT_EQ(list.Add(u"  "_s), -1);
  EXPECT_EQ(list.Count(), 3);

  list.SetState(1, rsNever);
  EXPECT_TRUE(list.Replace(1, u"bee@x"_s));
  EXPECT_EQ(list.Items()[1], (TMailRecipient{u"bee@x"_s, rsNever})) << "an edit keeps the state";
  EXPECT_FALSE(list.Replace(1, u"A@x"_s)) << "another entry has it";
  EXPECT_TRUE(list.Replace(0, u"A@x"_s)) << "the same entry in other case";
  EXPECT_FALSE(list.Replace(7, u"z@x"_s));

  EXPECT_EQ(list.Remove(1), 1) << "the next entry moves up into the place";
  EXPECT_EQ(list.Remove(1), 0) << "the last entry went: the one before it";
  EXPECT_EQ(list.Remove(0), -1);
  EXPECT_EQ(list.Count(), 0);
}

TEST(MailDialogRules, AttachmentListHoldsTenAtMost)
{
  TAttachmentList list;
  QStringList nine;
  for (int i = 0; i < 9; ++i)
    nine.append(u"/f%1"_s.arg(i));
  EXPECT_TRUE(list.Add(nine));
  EXPECT_FALSE(list.Full());
  // The tenth still fits; of the next ones none does.
  EXPECT_FALSE(list.Add({u"/ten"_s, u""_s, u"/eleven"_s, u"/twelve"_s}));
  EXPECT_EQ(list.Items().size(), 10);
  EXPECT_EQ(list.Items().last(), u"/ten"_s);
  EXPECT_TRUE(list.Full());
  EXPECT_FALSE(list.Add({u"/more"_s}));
  EXPECT_EQ(AttachmentLimitText(), u"The maximum number of attachments is 10!"_s);

  list.Remove({9, 0, 0, 42});
  EXPECT_EQ(list.Items(), nine.mid(1));
  EXPECT_TRUE(list.Replace(0, u"/g"_s));
  EXPECT_FALSE(list.Replace(0, QString()));
  EXPECT_EQ(list.Items().first(), u"/g"_s);
}

TEST(MailDialogRules, AttachmentsWithBlanksAndCommasSurviveTheTaskFile)
{
  const QStringList files{u"/home/ann/my notes.txt"_s, u"/tmp/a,b.log"_s, u"/tmp/\"q\".txt"_s, u"/tmp/plain"_s};
  TMailFields fields = Complete();
  fields.Attachments = files;
  TMailData data;
  TMailMode mode = mmAlways;
  ApplyMailFields(fields, data, mode);
  TempDir dir;
  const QString file = dir.File(u"t.buj"_s);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    WriteMailData(ini, u"Mail"_s, data);
    ini.UpdateFile();
  }
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadString(u"Mail"_s, u"Attachment0"_s, {}), u"\"/home/ann/my notes.txt\""_s);
  EXPECT_EQ(MailFieldsOf(ReadMailData(ini, u"Mail"_s), mode).Attachments, files);
}

TEST(MailDialogRules, TlsChoiceSetsThePort)
{
  const struct {
    TSecTransfer Old, New;
    int Port, Expected;
  } cases[] = {
      {stRequired, stImplicit, 587, 465}, {stImplicit, stRequired, 465, 25},  {stNone, stExplicit, 587, 25},
      {stImplicit, stNone, 465, 25},      {stRequired, stRequired, 587, 587}, {stImplicit, stImplicit, 2465, 2465},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PortAfterTlsChoice(c.Old, c.New, c.Port), c.Expected) << c.Old << "->" << c.New;
}

TEST(MailDialogRules, ChecksComeInTheirOrder)
{
  const auto without = [](void (*change)(TMailFields&)) {
    TMailFields f = Complete();
    change(f);
    return f;
  };
  const struct {
    const char* Name;
    TMailFields Fields;
    TMailField Field;
    QString Message;
  } cases[] = {
      {"everything missing", TMailFields(), mfServer, u"Please specify an SMTP server!"_s},
      {"blank server", without([](TMailFields& f) { f.Server = u"  "_s; }), mfServer,
       u"Please specify an SMTP server!"_s},
      {"no user", without([](TMailFields& f) {
         f.User.clear();
         f.Recipients.clear();
       }),
       mfUser, u"Please specify a user name!"_s},
      {"no recipient", without([](TMailFields& f) {
         f.Recipients.clear();
         f.Sender.clear();
       }),
       mfRecipients, u"Please specify at least one recipient!"_s},
      {"no address with @", without([](TMailFields& f) {
         f.Sender = u"Backup"_s;
         f.ReplyTo = u"none"_s;
       }),
       mfReplyTo, u"Please specify a valid reply address!"_s},
      {"only unchecked recipients count too", without([](TMailFields& f) {
         f.Recipients = {{u"x@y"_s, rsNever}};
       }),
       mfNone, QString()},
      {"reply-to alone", without([](TMailFields& f) {
         f.Sender = u"Backup"_s;
         f.ReplyTo = u"r@x"_s;
       }),
       mfNone, QString()},
      {"sender alone", Complete(), mfNone, QString()},
  };
  for (const auto& c : cases) {
    const TMailCheck check = CheckMailFields(c.Fields);
    EXPECT_EQ(check.Field, c.Field) << c.Name;
    EXPECT_EQ(check.Message, c.Message) << c.Name;
    EXPECT_EQ(check.Passed(), c.Field == mfNone) << c.Name;
  }
}

TEST(MailDialogRules, OkWritesEveryFieldAndKeepsTheZipKeyOnlyForAnEncryptedZip)
{
  TMailData data;
  data.SMTP = u"smtp.example.org"_s;
  data.Port = 587;
  data.Username = u"ann"_s;
  data.Password = u"pw"_s;
  data.Sender = u"Backup of Ann"_s;
  data.ReplyTo = u"ann@example.org"_s;
  data.Recipients = u"ann@example.org,#admin@example.org"_s;
  data.Subject = u"%taskname%"_s;
  data.Attachments = u"\"/a b\",/c"_s;
  data.CryptKey = u"zip-key"_s;
  data.SecureMode = stRequired;
  data.LogMode = mmError;
  data.ZipMode = zmEncrypt;
  for (const TMailMode mode : {mmNone, mmAlways, mmError}) {
    TMailData back;
    TMailMode backMode = mmNone;
    ApplyMailFields(MailFieldsOf(data, mode), back, backMode);
    EXPECT_EQ(back, data);
    EXPECT_EQ(backMode, mode);
  }

  for (const TZipMode zip : {zmNo, zmYes}) {
    TMailFields f = MailFieldsOf(data, mmAlways);
    f.ZipMode = zip;
    TMailData back = data;
    TMailMode mode = mmNone;
    ApplyMailFields(f, back, mode);
    EXPECT_EQ(back.ZipMode, zip);
    EXPECT_TRUE(back.CryptKey.isEmpty()) << zip;
  }
}

TEST(MailDialogRules, HistoryListsLiveInTheEngineSettingsFile)
{
  TempDir dir;
  QByteArray body = "[Config]\r\nJobDir=/jobs\r\n[SmtpServer]\r\nHistory0=old.example.org\r\n"
                    "[MailTo]\r\nAddress0=first@x\r\n";
  for (int i = 1; i < 60; ++i)
    body += "Address" + QByteArray::number(i) + "=a" + QByteArray::number(i) + "@x\r\n";
  const QString file = dir.Write(u"Ardanto.ini"_s, body);

  TMailHistories h = LoadMailHistories(file);
  EXPECT_EQ(h.Servers, QStringList{u"old.example.org"_s});
  ASSERT_EQ(h.Addresses.size(), 50) << "50 addresses at most";
  EXPECT_EQ(h.Addresses.last(), u"a49@x"_s);

  TMailFields f = Complete();
  f.Server = u"smtp.example.org"_s;
  f.Subject = u"Backup %status%"_s;
  f.Sender = u"Backup of Ann"_s;
  f.ReplyTo = u"a7@X"_s;
  RememberMailInputs(h, f);
  EXPECT_EQ(h.Servers, (QStringList{u"smtp.example.org"_s, u"old.example.org"_s}));
  EXPECT_EQ(h.Users, QStringList{u"ann"_s});
  EXPECT_EQ(h.Subjects, QStringList{u"Backup %status%"_s});
  ASSERT_EQ(h.Addresses.size(), 50) << "the last one makes room";
  EXPECT_EQ(h.Addresses.mid(0, 3), (QStringList{u"Backup of Ann"_s, u"a7@X"_s, u"first@x"_s}));
  EXPECT_FALSE(h.Addresses.contains(u"a7@x"_s)) << "moved up, not doubled";
  EXPECT_FALSE(h.Addresses.contains(u"a49@x"_s));

  SaveMailHistories(file, h);
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadString(u"Config"_s, u"JobDir"_s, {}), u"/jobs"_s) << "other sections stay";
  EXPECT_EQ(ini.ReadString(u"MailUser"_s, u"History0"_s, {}), u"ann"_s);
  EXPECT_EQ(ini.ReadString(u"Subjects"_s, u"History0"_s, {}), u"Backup %status%"_s);
  EXPECT_EQ(ini.ReadString(u"MailTo"_s, u"Address1"_s, {}), u"a7@X"_s);
  EXPECT_FALSE(ini.ValueExists(u"MailTo"_s, u"Address50"_s));
  EXPECT_EQ(LoadMailHistories(file).Addresses, h.Addresses);

  // Inputs the suite's single-byte code page has no place for are kept.
  f.Subject = u"Резервная копия"_s;
  RememberMailInputs(h, f);
  SaveMailHistories(file, h);
  EXPECT_EQ(LoadMailHistories(file).Subjects.first(), u"Резервная копия"_s);

  EXPECT_TRUE(LoadMailHistories(dir.File(u"missing.ini"_s)).Servers.isEmpty());
}

TEST(MailDialogRules, HistoriesThatCannotBeWrittenRaise)
{
  TempDir dir;
  const QString file = dir.Path() + u"/no such folder/Ardanto.ini"_s;
  TMailHistories h;
  h.Servers = {u"smtp.example.org"_s};
  EXPECT_THROW(SaveMailHistories(file, h), EArdantoError);
  EXPECT_FALSE(QFile::exists(file));
}
