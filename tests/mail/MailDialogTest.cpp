// The "E-Mail configuration" dialog and the delivery status window through
// their seams: the responders answer the prompts and questions, a real SMTP
// server (aiosmtpd) receives the test mail.

#include "mail/SmtpTestServer.h"
#include "mail/gui/BuMailDlg.h"
#include "mail/gui/MailTestDlg.h"

#include "common/IniFileUtils.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"
#include "ui/PlaceHolderDialog.h"
#include "ui/StatusWindow.h"
#include "ui/TextViewer.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace ardanto {
namespace {

using namespace Qt::StringLiterals;
using ui::TQuestion;
using ui::TScopedResponders;

TMailData Record()
{
  TMailData d;
  d.SMTP = u"smtp.example.org"_s;
  d.Port = 587;
  d.Username = u"ann"_s;
  d.Password = u"pw"_s;
  d.Sender = u"Backup of Ann"_s;
  d.ReplyTo = u"ann@example.org"_s;
  d.Recipients = u"ann@example.org,#admin@example.org,*old@example.org"_s;
  d.Subject = u"%taskname% - %status%"_s;
  d.Attachments = u"\"/home/ann/my notes.txt\",/tmp/b.log"_s;
  d.CryptKey = u"zip-key"_s;
  d.SecureMode = stRequired;
  d.LogMode = mmError;
  d.ZipMode = zmEncrypt;
  return d;
}

// Records every question and message and answers them.
struct TAnswers {
  TAnswers()
  {
    Responders.Question = [this](TQuestion& q) {
      Questions.append(q.Text);
      return Answer;
    };
    Responders.Text = [this](const QString& label, QString& value) {
      Prompts.append(label);
      Values.append(value);
      if (Texts.isEmpty())
        return false;
      value = Texts.takeFirst();
      return true;
    };
  }
  TScopedResponders Responders;
  QStringList Questions;
  QStringList Prompts;
  QStringList Values; // what each prompt showed
  QStringList Texts;  // the next answers of prompts; none left: Cancel
  ui::TDialogButton Answer = ui::dbYes;
};

class MailDialogTest : public ::testing::Test {
protected:
  std::unique_ptr<TMailDialog> Dialog(const TMailData& data = Record(), TMailMode mode = mmError)
  {
    auto dialog = std::make_unique<TMailDialog>(nullptr, FMailer, u"Backup mail data"_s, data, mode, Context());
    dialog->SetResultShower([this](const TDeliveryResult& r) { FResults.append(r); });
    return dialog;
  }
  TMailDialogContext Context()
  {
    TMailDialogContext c;
    c.SettingsFile = FSettings;
    c.ProgramName = u"Quillbox"_s;
    c.Version = u"6.1.0.27"_s;
    c.LogFolder = FDir.Path() + u'/';
    c.StatusWindow = &FStatus;
    return c;
  }
  template <class T> static T* Find(const QWidget& dialog, const char* name)
  {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  static QString Text(const QWidget& d, const char* combo) { return Find<QComboBox>(d, combo)->currentText(); }
  static void SetText(const QWidget& d, const char* combo, const QString& text)
  {
    Find<QComboBox>(d, combo)->setEditText(text);
  }
  static void Choose(const QWidget& d, const char* combo, int index)
  {
    auto* box = Find<QComboBox>(d, combo);
    box->setCurrentIndex(index);
    emit box->activated(index);
  }
  static QStringList Items(const QWidget& d, const char* list)
  {
    QStringList items;
    auto* l = Find<QListWidget>(d, list);
    for (int i = 0; i < l->count(); ++i)
      items.append(l->item(i)->text());
    return items;
  }

  test::TempDir FDir;
  QString FSettings = FDir.Write(u"Ardanto.ini"_s, "[Config]\r\nJobDir=/jobs\r\n[MailTo]\r\nAddress0=known@x\r\n");
  TmMailer FMailer;
  ui::TStatusWindow FStatus;
  QList<TDeliveryResult> FResults;
};

TEST_F(MailDialogTest, ShowsTheRecordAndGivesItBackUnchanged)
{
  const auto dialog = Dialog();
  const QWidget& d = *dialog;
  EXPECT_EQ(d.windowTitle(), u"E-Mail configuration"_s);
  EXPECT_EQ(Find<QLabel>(d, "laTask")->text(), u"Backup mail data"_s);
  EXPECT_EQ(Text(d, "cbxServer"), u"smtp.example.org"_s);
  EXPECT_EQ(Find<QSpinBox>(d, "edPort")->value(), 587);
  EXPECT_EQ(Text(d, "cbxTls"), u"Require (explicit)"_s);
  EXPECT_EQ(Text(d, "cbxUser"), u"ann"_s);
  EXPECT_EQ(Find<QLineEdit>(d, "edPassword")->text(), u"\u25CF\u25CF"_s);
  EXPECT_TRUE(Find<QLineEdit>(d, "edPassword")->isReadOnly());
  EXPECT_EQ(Text(d, "cbxSender"), u"Backup of Ann"_s);
  EXPECT_EQ(Text(d, "cbxReplyTo"), u"ann@example.org"_s);
  EXPECT_EQ(Find<QComboBox>(d, "cbxSender")->itemText(0), u"known@x"_s) << "the address history";
  auto* recipients = Find<QListWidget>(d, "lbRecipients");
  ASSERT_EQ(recipients->count(), 3);
  EXPECT_EQ(recipients->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(recipients->item(1)->checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(recipients->item(2)->checkState(), Qt::Unchecked);
  EXPECT_EQ(recipients->item(1)->text(), u"admin@example.org"_s);
  EXPECT_EQ(Text(d, "cbxSubject"), u"%taskname% - %status%"_s);
  EXPECT_EQ(Items(d, "lbAttachments"), (QStringList{u"/home/ann/my notes.txt"_s, u"/tmp/b.log"_s}));
  EXPECT_TRUE(Find<QRadioButton>(d, "rbSendErrors")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>(d, "rbLogErrors")->isChecked());
  EXPECT_EQ(Text(d, "cbxZip"), u"Encrypted"_s);
  EXPECT_TRUE(Find<QComboBox>(d, "cbxZip")->isEnabled());
  EXPECT_EQ(Find<QPushButton>(d, "bbTest")->toolTip(), u"Send mail to check settings"_s);

  TMailData back;
  TMailMode mode = mmNone;
  dialog->Apply(back, mode);
  EXPECT_EQ(back, Record());
  EXPECT_EQ(mode, mmError);

  // Without an attached log there is nothing to pack.
  Find<QRadioButton>(d, "rbLogNever")->setChecked(true);
  EXPECT_FALSE(Find<QComboBox>(d, "cbxZip")->isEnabled());
  Find<QRadioButton>(d, "rbLogAlways")->setChecked(true);
  EXPECT_TRUE(Find<QComboBox>(d, "cbxZip")->isEnabled());

  // A recipient's state follows its box.
  recipients->item(2)->setCheckState(Qt::PartiallyChecked);
  EXPECT_EQ(dialog->Fields().Recipients[2].State, rsOnError);
}

TEST_F(MailDialogTest, OkAndTestCheckInOrderWithMessageAndFocus)
{
  const struct {
    const char* Name;
    std::function<void(QWidget&)> Fill;
    QString Message;
    const char* Focus; // null: the add-recipient prompt opens
  } cases[] = {
      {"nothing", [](QWidget&) {}, u"Please specify an SMTP server!"_s, "cbxServer"},
      {"server", [](QWidget& d) { SetText(d, "cbxServer", u"smtp.example.org"_s); }, u"Please specify a user name!"_s,
       "cbxUser"},
      {"server and user",
       [](QWidget& d) {
         SetText(d, "cbxServer", u"smtp.example.org"_s);
         SetText(d, "cbxUser", u"ann"_s);
       },
       u"Please specify at least one recipient!"_s, nullptr},
  };
  for (const bool test : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (test ? " (Test)" : " (OK)"));
      TAnswers answers;
      const auto dialog = Dialog(TMailData(), mmAlways);
      dialog->show();
      QApplication::setActiveWindow(dialog.get());
      c.Fill(*dialog);
      test ? dialog->bbTestClick() : dialog->bbOkClick();
      EXPECT_EQ(answers.Questions, QStringList{c.Message});
      if (c.Focus != nullptr) {
        EXPECT_TRUE(Find<QWidget>(*dialog, c.Focus)->hasFocus());
        EXPECT_TRUE(answers.Prompts.isEmpty());
      } else {
        EXPECT_EQ(answers.Prompts, QStringList{u"Address:"_s});
      }
      EXPECT_TRUE(dialog->isVisible()) << "the dialog stays open";
      EXPECT_EQ(dialog->result(), QDialog::Rejected);
      EXPECT_TRUE(FResults.isEmpty()) << "nothing was sent";
    }
  }

  // The reply address: sender and reply-to both without "@".
  TAnswers answers;
  TMailData data = Record();
  data.Sender = u"Backup"_s;
  data.ReplyTo = u"nobody"_s;
  const auto dialog = Dialog(data);
  dialog->show();
  QApplication::setActiveWindow(dialog.get());
  dialog->bbOkClick();
  EXPECT_EQ(answers.Questions, QStringList{u"Please specify a valid reply address!"_s});
  EXPECT_TRUE(Find<QWidget>(*dialog, "cbxReplyTo")->hasFocus());
  EXPECT_TRUE(dialog->isVisible());

  SetText(*dialog, "cbxReplyTo", u"ann@example.org"_s);
  dialog->bbOkClick();
  EXPECT_EQ(answers.Questions.size(), 1);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(MailDialogTest, AddEditAndRemoveRecipients)
{
  TAnswers answers;
  const auto dialog = Dialog();
  auto* list = Find<QListWidget>(*dialog, "lbRecipients");

  answers.Texts = {u" new@example.org "_s};
  dialog->btAddRecipientClick();
  EXPECT_EQ(answers.Prompts.last(), u"Address:"_s);
  EXPECT_EQ(Items(*dialog, "lbRecipients").last(), u"new@example.org"_s);
  EXPECT_EQ(list->currentRow(), 3);
  EXPECT_EQ(list->item(3)->checkState(), Qt::Checked);

  // Listed already: nothing new, the entry is selected.
  list->setCurrentRow(0);
  answers.Texts = {u"ADMIN@example.org"_s};
  dialog->btAddRecipientClick();
  EXPECT_EQ(list->count(), 4);
  EXPECT_EQ(list->currentRow(), 1);

  // An address the stored list would break is refused with a message.
  answers.Texts = {u"#x@example.org"_s};
  dialog->btAddRecipientClick();
  EXPECT_EQ(answers.Questions.last(), u"Invalid mail address: \"#x@example.org\""_s);
  EXPECT_EQ(list->count(), 4);

  // A double click edits; the state stays.
  list->setCurrentRow(1);
  answers.Texts = {u"root@example.org"_s};
  emit list->itemDoubleClicked(list->item(1));
  EXPECT_EQ(answers.Values.last(), u"admin@example.org"_s) << "the prompt shows the entry";
  EXPECT_EQ(list->item(1)->text(), u"root@example.org"_s);
  EXPECT_EQ(list->item(1)->checkState(), Qt::PartiallyChecked);

  // Removing asks; No keeps the entry.
  answers.Answer = ui::dbNo;
  dialog->btRemoveRecipientClick();
  EXPECT_EQ(answers.Questions.last(), u"Remove recipient:\r\nroot@example.org\r\nfrom list?"_s);
  EXPECT_EQ(list->count(), 4);
  answers.Answer = ui::dbYes;
  dialog->btRemoveRecipientClick();
  EXPECT_EQ(Items(*dialog, "lbRecipients"),
            (QStringList{u"ann@example.org"_s, u"old@example.org"_s, u"new@example.org"_s}));
  EXPECT_EQ(list->currentRow(), 1) << "the same position";
  list->setCurrentRow(2);
  dialog->btRemoveRecipientClick();
  EXPECT_EQ(list->currentRow(), 1) << "the last entry";
  EXPECT_EQ(EncodeRecipients(dialog->Fields().Recipients), u"ann@example.org,*old@example.org"_s);
}

TEST_F(MailDialogTest, AttachmentsUpToTen)
{
  TAnswers answers;
  QList<ui::TFileRequest> requests;
  QString chosen;
  answers.Responders.File = [&](const ui::TFileRequest& r) {
    requests.append(r);
    return chosen;
  };
  const auto dialog = Dialog();
  auto* list = Find<QListWidget>(*dialog, "lbAttachments");

  // The chooser starts in the folder of the selected attachment.
  list->item(0)->setSelected(true);
  list->setCurrentRow(0);
  chosen = u"/data/c.txt\n/data/d.txt"_s;
  dialog->btAddAttachmentClick();
  ASSERT_EQ(requests.size(), 1);
  EXPECT_EQ(requests[0].Folder, u"/home/ann"_s);
  EXPECT_EQ(Items(*dialog, "lbAttachments").mid(2), (QStringList{u"/data/c.txt"_s, u"/data/d.txt"_s}));

  // Nothing selected: "Edit" asks for a new path.
  list->clearSelection();
  answers.Texts = {u"/data/e f.txt"_s};
  dialog->btEditAttachmentClick();
  EXPECT_EQ(answers.Prompts.last(), u"File path:"_s);
  EXPECT_EQ(answers.Values.last(), QString());
  EXPECT_EQ(list->count(), 5);

  // With 5 listed, of six chosen files five fit; the rest is refused.
  chosen = u"/m/1\n/m/2\n/m/3\n/m/4\n/m/5\n/m/6"_s;
  dialog->btAddAttachmentClick();
  EXPECT_EQ(list->count(), 10);
  EXPECT_EQ(answers.Questions.last(), u"The maximum number of attachments is 10!"_s);
  EXPECT_FALSE(Items(*dialog, "lbAttachments").contains(u"/m/6"_s));

  // A full list refuses before anything is chosen, both ways.
  const qsizetype asked = requests.size();
  answers.Questions.clear();
  dialog->btAddAttachmentClick();
  list->clearSelection();
  dialog->btEditAttachmentClick();
  EXPECT_EQ(requests.size(), asked);
  EXPECT_EQ(answers.Questions, QStringList(2, u"The maximum number of attachments is 10!"_s));

  // Editing the selected entry.
  list->item(1)->setSelected(true);
  answers.Texts = {u"/tmp/renamed.log"_s};
  dialog->btEditAttachmentClick();
  EXPECT_EQ(answers.Values.last(), u"/tmp/b.log"_s);
  EXPECT_EQ(list->item(1)->text(), u"/tmp/renamed.log"_s);

  // Removing asks, then takes all selected entries.
  list->clearSelection();
  for (int row : {0, 2, 9})
    list->item(row)->setSelected(true);
  dialog->btRemoveAttachmentClick();
  EXPECT_EQ(answers.Questions.last(), u"Remove selected attachments?"_s);
  EXPECT_EQ(list->count(), 7);
  EXPECT_EQ(Items(*dialog, "lbAttachments").first(), u"/tmp/renamed.log"_s);
  EXPECT_EQ(dialog->Fields().Attachments.size(), 7);
  TMailData data;
  TMailMode mode = mmNone;
  dialog->Apply(data, mode);
  EXPECT_TRUE(data.Attachments.contains(u"\"/data/e f.txt\""_s));
}

TEST_F(MailDialogTest, TlsChoicePasswordsZipAndPlaceholder)
{
  TAnswers answers;
  QStringList passwordTitles;
  QString nextKey;
  answers.Responders.Password = [&](const QString& title, QString& password) {
    passwordTitles.append(title);
    if (nextKey.isEmpty())
      return false;
    password = nextKey;
    return true;
  };
  answers.Responders.Placeholder = [](int kind) { return kind == ui::pkMailSubject ? u"%status%"_s : QString(); };
  const auto dialog = Dialog();
  const QWidget& d = *dialog;
  auto* port = Find<QSpinBox>(d, "edPort");

  Choose(d, "cbxTls", stImplicit);
  EXPECT_EQ(port->value(), 465);
  Choose(d, "cbxTls", stRequired);
  EXPECT_EQ(port->value(), 25);
  port->setValue(2525);
  Choose(d, "cbxTls", stRequired);
  EXPECT_EQ(port->value(), 2525) << "the choice that is set changes nothing";

  answers.Texts = {u"new-pass"_s};
  dialog->btPasswordClick();
  EXPECT_EQ(answers.Prompts.last(), u"Password:"_s);
  EXPECT_EQ(Find<QLineEdit>(d, "edPassword")->text(), QString(8, QChar(u'\u25CF')));
  // A password the task file could not keep is refused.
  answers.Texts = {u"пароль"_s};
  dialog->btPasswordClick();
  EXPECT_EQ(answers.Questions.last(), u"The password holds characters that cannot be stored!"_s);
  EXPECT_EQ(dialog->Fields().Password, u"new-pass"_s);

  Choose(d, "cbxZip", zmYes);
  Choose(d, "cbxZip", zmEncrypt);
  EXPECT_EQ(passwordTitles, QStringList{u"File encryption"_s});
  EXPECT_EQ(Text(d, "cbxZip"), u"Plain text"_s) << "cancelled: the choice goes back";
  nextKey = u"zip-secret"_s;
  Choose(d, "cbxZip", zmEncrypt);
  TMailData data;
  TMailMode mode = mmNone;
  dialog->Apply(data, mode);
  EXPECT_EQ(data.ZipMode, zmEncrypt);
  EXPECT_EQ(data.CryptKey, u"zip-secret"_s);
  Choose(d, "cbxZip", zmYes);
  dialog->Apply(data, mode);
  EXPECT_TRUE(data.CryptKey.isEmpty());

  SetText(d, "cbxSubject", u"Backup: "_s);
  dialog->btPlaceholderClick();
  EXPECT_EQ(Text(d, "cbxSubject"), u"Backup: %status%"_s);
}

// Runs action on the dialog EditMailSettings opens, once it is shown.
void OnDialog(std::function<void(TMailDialog&)> action)
{
  QTimer::singleShot(0, [action] {
    auto* dialog = qobject_cast<TMailDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    action(*dialog);
  });
}

TEST_F(MailDialogTest, CancelChangesNothingAndOkKeepsTheInputs)
{
  TAnswers answers;
  const QByteArray settings = test::ReadFile(FSettings);
  TMailData data = Record();
  TMailMode mode = mmError;
  OnDialog([](TMailDialog& d) {
    SetText(d, "cbxServer", u"other.example.org"_s);
    Find<QRadioButton>(d, "rbSendNever")->setChecked(true);
    Find<QPushButton>(d, "bbCancel")->click();
  });
  EXPECT_FALSE(EditMailSettings(nullptr, FMailer, u"Backup mail data"_s, data, mode, Context()));
  EXPECT_EQ(data, Record());
  EXPECT_EQ(mode, mmError);
  EXPECT_EQ(test::ReadFile(FSettings), settings);

  OnDialog([](TMailDialog& d) {
    SetText(d, "cbxServer", u"other.example.org"_s);
    SetText(d, "cbxSender", u"me@example.org"_s);
    Find<QRadioButton>(d, "rbSendListed")->setChecked(true);
    Find<QPushButton>(d, "bbOk")->click();
  });
  ASSERT_TRUE(EditMailSettings(nullptr, FMailer, u"Backup mail data"_s, data, mode, Context()));
  EXPECT_EQ(data.SMTP, u"other.example.org"_s);
  EXPECT_EQ(data.Sender, u"me@example.org"_s);
  EXPECT_EQ(mode, mmAlways);
  EXPECT_TRUE(answers.Questions.isEmpty());
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(FSettings);
  EXPECT_EQ(ini.ReadString(u"SmtpServer"_s, u"History0"_s, {}), u"other.example.org"_s);
  EXPECT_EQ(ini.ReadString(u"MailUser"_s, u"History0"_s, {}), u"ann"_s);
  EXPECT_EQ(ini.ReadString(u"Subjects"_s, u"History0"_s, {}), u"%taskname% - %status%"_s);
  EXPECT_EQ(ini.ReadString(u"MailTo"_s, u"Address0"_s, {}), u"me@example.org"_s);
  EXPECT_EQ(ini.ReadString(u"MailTo"_s, u"Address1"_s, {}), u"ann@example.org"_s);
  EXPECT_EQ(ini.ReadString(u"MailTo"_s, u"Address2"_s, {}), u"known@x"_s);
  EXPECT_EQ(ini.ReadString(u"Config"_s, u"JobDir"_s, {}), u"/jobs"_s);
}

TEST_F(MailDialogTest, TestSendsTheFieldsAndLeavesTheRecord)
{
  // The dialog's login, not yet the record's, reaches the server.
  test::TServerOptions options;
  options.Auth = u"LOGIN"_s;
  options.User = u"ann"_s;
  options.Password = u"pw"_s;
  test::TSmtpTestServer server(options);
  TAnswers answers;
  const auto dialog = Dialog();
  dialog->show();
  SetText(*dialog, "cbxServer", u"127.0.0.1"_s);
  Choose(*dialog, "cbxTls", stNone);
  Find<QSpinBox>(*dialog, "edPort")->setValue(server.Port());
  FMailer.SetConnectTimeout(5000);
  FMailer.SetReadTimeout(5000);
  // While the mail goes out, window messages come in: the dialog must not
  // close under the delivery.
  bool closeTried = false;
  FMailer.SetOnSending([&](TWorkMode, std::int64_t) {
    if (!closeTried) {
      closeTried = true;
      dialog->reject();
    }
  });

  dialog->bbTestClick();
  ASSERT_EQ(FResults.size(), 1);
  EXPECT_TRUE(FResults[0].Delivered) << FResults[0].Message.toStdString();
  EXPECT_TRUE(closeTried);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->isEnabled());
  EXPECT_EQ(FResults[0].LogFile, FDir.Path() + u"/ArdantoSmtp.log"_s);
  EXPECT_TRUE(QFile::exists(FResults[0].LogFile));
  EXPECT_EQ(FStatus.windowTitle(), u"Checking mail settings"_s);
  EXPECT_EQ(FStatus.LowerText(), u"Sending mail"_s);
  EXPECT_FALSE(FStatus.isVisible()) << "closed after sending";
  const QJsonArray messages = server.Messages();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0][u"envelope"_s][u"rcpt_tos"_s].toArray().size(), 3);
  EXPECT_EQ(messages[0][u"envelope"_s][u"login"_s].toString(), u"ann"_s);
  EXPECT_EQ(FMailer.Host(), u"127.0.0.1"_s) << "the mailer keeps the test's settings";

  TMailData data = Record();
  TMailMode mode = mmError;
  EXPECT_EQ(data, Record()) << "the record changes only on OK";
  dialog->Apply(data, mode);
  EXPECT_EQ(data.SMTP, u"127.0.0.1"_s);
}

TEST_F(MailDialogTest, DeliveryStatusWindowShowsAndDeletesTheLog)
{
  TAnswers answers;
  const QString log = FDir.Write(u"ArdantoSmtp.log"_s, "Stat 2024-03-09 14:05:00.000: Connecting\n"
                                                       "Recv 2024-03-09 14:05:00.010: 220 Grüße\n");
  const QString message = u"Error during mail delivery (SMTP: smtp.example.org:25)\r\n - Authentication Failed"_s;
  TMailTestDialog dialog(nullptr, message, log, true, FSettings);
  EXPECT_EQ(dialog.windowTitle(), u"Mail delivery status"_s);
  EXPECT_EQ(dialog.Message(), u"Error during mail delivery (SMTP: smtp.example.org:25)\n - Authentication Failed"_s);
  EXPECT_TRUE(dialog.IsError());
  EXPECT_EQ(Find<QGroupBox>(dialog, "gbLog")->title(), u"SMTP communication log"_s);
  const int longest = QFontMetrics(Find<QLabel>(dialog, "laMessage")->font())
                          .horizontalAdvance(u"Error during mail delivery (SMTP: smtp.example.org:25)"_s);
  EXPECT_GE(dialog.minimumWidth(), longest * 11 / 10);

  // "Show" opens the log in the text viewer, read as UTF-8.
  QString shown;
  QTimer::singleShot(0, [&shown] {
    auto* viewer = qobject_cast<ui::TTextViewer*>(QApplication::activeModalWidget());
    ASSERT_NE(viewer, nullptr);
    shown = viewer->Text();
    viewer->reject();
  });
  dialog.btShowClick();
  EXPECT_TRUE(shown.endsWith(u"220 Grüße\n"_s)) << shown.toStdString();

  answers.Answer = ui::dbNo;
  dialog.btDeleteClick();
  EXPECT_EQ(answers.Questions, QStringList{u"Delete log file \"%1\"?"_s.arg(log)});
  EXPECT_TRUE(QFile::exists(log));
  answers.Answer = ui::dbYes;
  dialog.btDeleteClick();
  EXPECT_FALSE(QFile::exists(log));

  // Without the file, Delete does nothing and Show says so.
  answers.Questions.clear();
  dialog.btDeleteClick();
  EXPECT_TRUE(answers.Questions.isEmpty());
  dialog.btShowClick();
  EXPECT_EQ(answers.Questions, QStringList{u"File: \"%1\" not found!"_s.arg(log)});

  TMailTestDialog info(nullptr, u"Mail notifications were sent to:\r\na@x"_s, log, false, FSettings);
  EXPECT_FALSE(info.IsError());
}

} // namespace
} // namespace ardanto
