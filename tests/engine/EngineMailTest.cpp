// The report mail of the real engine, received by a real SMTP server
// (aiosmtpd) and read back with Python's email, zipfile and 7-Zip.

#include "EngineTestSupport.h"

#include "common/CommaText.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "mail/MailData.h"
#include "mail/SmtpTestServer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <memory>

using namespace enginetest;
using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;
using ardanto::test::TSmtpTestServer;
using ardanto::test::WriteFile;

namespace {

const QString kRecipients = u"all@example.org,#errors@example.org,*never@example.org"_s;
const QString kZipKey = u"Schlüssel €42"_s;

struct TReceived {
  QString Subject;
  QString Body;
  QStringList To;   // the envelope's recipients
  QJsonArray Parts; // name, type and saved path of each attachment
};

class MailTest : public EngineTest {
protected:
  void SetUp() override
  {
    EngineTest::SetUp();
    if (ardanto::test::FixturePython().isEmpty())
      GTEST_SKIP() << "needs python3 with aiosmtpd";
    FServer = std::make_unique<TSmtpTestServer>();
    FSource = Path(u"home/.thunderbird/p"_s);
    MakeTree(FSource, {{u"prefs.js"_s, "user_pref(1);\n", {}}, {u"Mail/Inbox"_s, "From - x\n\nbody\n", {}}});
  }

  ardanto::TMailData Data(int port) const
  {
    ardanto::TMailData data;
    data.SMTP = u"127.0.0.1"_s;
    data.Port = port;
    data.Sender = u"backup@example.org"_s;
    data.Recipients = kRecipients;
    return data;
  }

  // A task as Quillbox writes it, with its mail section written by the
  // suite's own writer. failing: its source folder is missing (exit 3).
  QString Task(const ardanto::TMailData& data, int sendMail, bool failing, int logFile = 2)
  {
    TBackupSpec spec;
    spec.Destination = Path(u"backup"_s);
    spec.Sources = {failing ? Path(u"home/gone"_s) : FSource};
    spec.LogFile = logFile;
    spec.ExtraGlobal = {{u"SendMail"_s, QString::number(sendMail)}};
    const QString task = WriteBackupTask(u"tb-mail.buj"_s, spec);
    ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForWrite(task);
    ardanto::WriteMailData(ini, u"Mail"_s, data);
    ini.UpdateFile();
    return task;
  }

  TEngineRun RunTask(const QString& task) const
  {
    return Run({task, u"/startapp:quillbox"_s, u"/prompt:quiet"_s, u"/hide"_s, u"/force"_s});
  }

  // The messages received so far, each read back from what arrived.
  std::vector<TReceived> Received() const
  {
    std::vector<TReceived> messages;
    const QStringList files = QDir(FServer->Folder()).entryList({u"msg-*.eml"_s}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
      const QString folder = Path(u"received/"_s + file);
      QDir().mkpath(folder);
      const TToolResult read = RunTool(Python(), {ardanto::test::SourceDir() + u"/tests/engine/readback.py"_s,
                                                  u"mail"_s, FServer->Folder() + u'/' + file, folder});
      EXPECT_EQ(read.ExitCode, 0) << read.Err.toStdString();
      const QJsonObject mail = QJsonDocument::fromJson(read.Out).object();
      const QJsonObject summary =
          QJsonDocument::fromJson(ReadFile(FServer->Folder() + u'/' + QFileInfo(file).completeBaseName() + u".json"_s))
              .object();
      TReceived received;
      received.Subject = mail[u"subject"_s].toString();
      received.Body = mail[u"body"_s].toString();
      received.To = summary[u"envelope"_s][u"rcpt_tos"_s].toVariant().toStringList();
      received.Parts = mail[u"attachments"_s].toArray();
      messages.push_back(received);
    }
    return messages;
  }

  // The log file's last section up to its closing line: what the run had
  // logged when the mail went out.
  QString LogSection() const { return UpToTheEnd(LastSection(LogFolder() + u"/tb-mail.log"_s).join(u'\n')); }
  static QString UpToTheEnd(const QString& text)
  {
    const qsizetype end = text.indexOf(u"\nArdanto - tb-mail - finished "_s);
    return end < 0 ? QString() : text.left(text.indexOf(u'\n', end + 1));
  }

  std::unique_ptr<TSmtpTestServer> FServer;
  QString FSource;
};

// Text of an attached log without its byte-order mark, with plain line ends.
QString AttachedText(const QByteArray& bytes)
{
  QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
  text.replace("\r\n", "\n");
  return QString::fromUtf8(text).trimmed();
}

struct TRecipientCase {
  const char* Name;
  int SendMail;
  bool Failing;
  QStringList Expected; // empty: no mail at all
};

void PrintTo(const TRecipientCase& c, std::ostream* os)
{
  *os << c.Name;
}

class RecipientTest : public MailTest, public ::testing::WithParamInterface<TRecipientCase> {};

TEST_P(RecipientTest, RecipientsByTheirStateAndTheRunsExitCode)
{
  const TRecipientCase& c = GetParam();
  const TEngineRun run = RunTask(Task(Data(FServer->Port()), c.SendMail, c.Failing));
  ASSERT_EQ(run.ExitCode, c.Failing ? 3 : 0) << run.Log.join(u'\n').toStdString();
  EXPECT_TRUE(Errors(run.Log).size() == (c.Failing ? 1 : 0)) << run.Log.join(u'\n').toStdString();
  const std::vector<TReceived> messages = Received();
  if (c.Expected.isEmpty()) {
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(FServer->Connections(), 0) << "nothing due, nothing sent";
    return;
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].To, c.Expected);
  // The body is the run's section as a short log has it: the summary, not
  // the files of the long log.
  const QString body = messages[0].Body;
  EXPECT_TRUE(body.contains(u"Ardanto - tb-mail - finished "_s)) << body.toStdString();
  EXPECT_TRUE(body.contains(u"files copied"_s)) << body.toStdString();
  EXPECT_EQ(body.contains(u"    prefs.js"_s), false) << body.toStdString();
  if (!c.Failing) {
    EXPECT_TRUE(LogSection().contains(u"    prefs.js"_s)) << "the long log names the files";
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, RecipientTest,
    ::testing::Values(TRecipientCase{"AlwaysWithoutErrors", 1, false, {u"all@example.org"_s}},
                      TRecipientCase{"AlwaysWithErrors", 1, true, {u"all@example.org"_s, u"errors@example.org"_s}},
                      TRecipientCase{"OnErrorsWithoutErrors", 2, false, {}},
                      TRecipientCase{"OnErrorsWithErrors", 2, true, {u"all@example.org"_s, u"errors@example.org"_s}},
                      TRecipientCase{"NeverWithErrors", 0, true, {}}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST_F(MailTest, SubjectPlaceholdersAndTheSubjectOfAnEmptyOne)
{
  ardanto::TMailData data = Data(FServer->Port());
  data.Subject = u"%TaskName%|%username%|%ComputerName%|%computer%|%start%|%end%|%duration%|%status%|%unknown%|"
                 "%date%"_s;
  const TEngineRun failed = RunTask(Task(data, 1, true));
  ASSERT_EQ(failed.ExitCode, 3);
  // Start and end as the log has them.
  const QString first = failed.Log.front();
  const QString last = [&]() {
    for (const QString& line : failed.Log) {
      if (line.startsWith(u"Ardanto - tb-mail - finished "_s))
        return line;
    }
    return QString();
  }();
  const QString start = first.mid(first.lastIndexOf(u" - "_s) + 3);
  const QString end = last.mid(29, 19);
  const qint64 seconds = QDateTime::fromString(start, u"yyyy-MM-dd hh:mm:ss"_s)
                             .secsTo(QDateTime::fromString(end, u"yyyy-MM-dd hh:mm:ss"_s));
  const QString expected = u"tb-mail|"_s + ardanto::UserName() + u'|' + ardanto::ComputerName() + u'|' +
                           ardanto::ComputerName() + u'|' + start + u'|' + end + u"|0:00:0"_s +
                           QString::number(seconds) + u"|Source directory not found!|%unknown%|%date%"_s;
  data.Subject.clear();
  const TEngineRun good = RunTask(Task(data, 1, false));
  ASSERT_EQ(good.ExitCode, 0);

  const std::vector<TReceived> messages = Received();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].Subject, expected);
  EXPECT_EQ(messages[1].Subject, u"Ardanto: tb-mail - OK"_s);
}

struct TAttachCase {
  const char* Name;
  ardanto::TMailMode AttachLog;
  ardanto::TZipMode AsZip;
  bool Failing;
  bool Attached;
  int LogFile = 2;
};

void PrintTo(const TAttachCase& c, std::ostream* os)
{
  *os << c.Name;
}

class AttachTest : public MailTest, public ::testing::WithParamInterface<TAttachCase> {};

TEST_P(AttachTest, TheLogIsAttachedPlainZippedOrEncryptedWithTheFurtherFiles)
{
  const TAttachCase& c = GetParam();
  const QString notes = Path(u"home/my notes, 2024.txt"_s);
  WriteFile(notes, "further file\n");
  ardanto::TMailData data = Data(FServer->Port());
  data.LogMode = c.AttachLog;
  data.ZipMode = c.AsZip;
  data.CryptKey = c.AsZip == ardanto::zmEncrypt ? kZipKey : QString();
  data.Attachments = ardanto::CommaTextJoin({notes});
  const TEngineRun run = RunTask(Task(data, 1, c.Failing, c.LogFile));
  ASSERT_EQ(run.ExitCode, c.Failing ? 3 : 0) << run.Log.join(u'\n').toStdString();

  const std::vector<TReceived> messages = Received();
  ASSERT_EQ(messages.size(), 1u);
  const QJsonArray parts = messages[0].Parts;
  QStringList names;
  for (const auto& part : parts)
    names << part.toObject()[u"name"_s].toString();
  const QString log = c.AsZip == ardanto::zmNo ? u"tb-mail.log"_s : u"tb-mail.log.zip"_s;
  const QStringList expected =
      c.Attached ? QStringList{log, u"my notes, 2024.txt"_s} : QStringList{u"my notes, 2024.txt"_s};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(ReadFile(parts.last().toObject()[u"path"_s].toString()), QByteArray("further file\n"));
  if (!c.Attached)
    return;

  // What the log file holds of this run, or with no log file, what the
  // standard error output got.
  QString section;
  if (c.LogFile != 0) {
    section = LogSection();
  } else {
    EXPECT_FALSE(QFileInfo::exists(LogFolder() + u"/tb-mail.log"_s));
    const QString output = QString::fromUtf8(run.Output);
    section = UpToTheEnd(output.mid(output.indexOf(u"Ardanto - tb-mail - "_s)));
  }
  ASSERT_TRUE(section.startsWith(u"Ardanto - tb-mail - "_s)) << section.toStdString();
  const QJsonObject part = parts.first().toObject();
  const QString saved = part[u"path"_s].toString();
  if (c.AsZip == ardanto::zmNo) {
    EXPECT_EQ(part[u"type"_s].toString(), u"text/plain"_s);
    EXPECT_EQ(AttachedText(ReadFile(saved)), section);
    return;
  }
  EXPECT_EQ(part[u"type"_s].toString(), u"application/zip"_s);
  const QString out = Path(u"entry.out"_s);
  const TToolResult zip =
      RunTool(Python(), {ardanto::test::SourceDir() + u"/tests/engine/readback.py"_s, u"zip"_s, saved, out});
  ASSERT_EQ(zip.ExitCode, 0) << zip.Err.toStdString();
  const QJsonObject info = QJsonDocument::fromJson(zip.Out).object();
  EXPECT_EQ(info[u"names"_s].toVariant().toStringList(), QStringList{u"tb-mail.log"_s});
  if (c.AsZip == ardanto::zmYes) {
    EXPECT_EQ(info[u"methods"_s].toVariant().toList().value(0).toInt(), 8);
    EXPECT_EQ(AttachedText(ReadFile(out)), section);
    return;
  }
  EXPECT_EQ(info[u"methods"_s].toVariant().toList().value(0).toInt(), 99) << "an AES entry";
  if (!ardanto::test::HasProgram(u"7z"_s))
    GTEST_SKIP() << "needs 7z (p7zip-full)";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(u"LANG"_s, u"C.UTF-8"_s);
  const TToolResult opened = RunTool(u"7z"_s, {u"x"_s, u"-so"_s, u"-p"_s + kZipKey, saved}, env);
  EXPECT_EQ(opened.ExitCode, 0) << opened.Err.toStdString();
  EXPECT_EQ(AttachedText(opened.Out), section);
  EXPECT_NE(RunTool(u"7z"_s, {u"t"_s, u"-pwrong"_s, saved}, env).ExitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AttachTest,
    ::testing::Values(TAttachCase{"Plain", ardanto::mmAlways, ardanto::zmNo, false, true},
                      TAttachCase{"Zip", ardanto::mmAlways, ardanto::zmYes, false, true},
                      TAttachCase{"AesZip", ardanto::mmAlways, ardanto::zmEncrypt, false, true},
                      TAttachCase{"OnErrorsWithoutErrors", ardanto::mmError, ardanto::zmYes, false, false},
                      TAttachCase{"OnErrorsWithErrors", ardanto::mmError, ardanto::zmYes, true, true},
                      TAttachCase{"Never", ardanto::mmNone, ardanto::zmYes, true, false},
                      TAttachCase{"WithoutLogFile", ardanto::mmAlways, ardanto::zmNo, false, true, 0}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST_F(MailTest, WhatTheMailMeetsIsLoggedBelowTheRunAndLeavesItsExitCode)
{
  ardanto::TMailData data = Data(FServer->Port());
  const QString missing = Path(u"home/not there.txt"_s);
  data.Attachments = ardanto::CommaTextJoin({missing});
  const TEngineRun sent = RunTask(Task(data, 1, false, 1));
  EXPECT_EQ(sent.ExitCode, 0);
  ASSERT_EQ(Received().size(), 1u) << "the report goes out without the missing file";
  EXPECT_TRUE(Received()[0].Parts.isEmpty());
  ASSERT_GE(sent.Log.size(), 2);
  EXPECT_TRUE(sent.Log[sent.Log.size() - 2].startsWith(u"Ardanto - tb-mail - finished "_s));
  EXPECT_EQ(sent.Log.back(), u"  *** The file \""_s + missing + u"\" to attach to the report mail was not found"_s);

  // Nobody listens on the port any more.
  const int port = FServer->Port();
  FServer.reset();
  const TEngineRun failed = RunTask(Task(Data(port), 1, false));
  EXPECT_EQ(failed.ExitCode, 0) << "the backup itself went well";
  ASSERT_GE(failed.Log.size(), 2);
  EXPECT_TRUE(failed.Log[failed.Log.size() - 2].endsWith(u": OK"_s));
  EXPECT_TRUE(failed.Log.back().startsWith(u"  *** The report mail could not be sent (SMTP: 127.0.0.1:"_s +
                                           QString::number(port) + u')'))
      << failed.Log.back().toStdString();
}

} // namespace
