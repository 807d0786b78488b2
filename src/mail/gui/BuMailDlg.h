#pragma once

// The "E-Mail configuration" dialog of a backup task's report mail, with the
// test delivery. The rules live in mail/MailDialogRules.h and mail/MailTest.h;
// this window shows the fields and wires the buttons to them.

#include "mail/MailData.h"
#include "mail/MailDialogRules.h"
#include "mail/MailTest.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace ardanto::ui {
class THistoryComboBox;
class TStatusWindow;
} // namespace ardanto::ui

namespace ardanto {

// What the dialog needs from the program around it.
struct TMailDialogContext {
  // The engine settings file: the history lists, and [View] and [Printer] of
  // the text viewer that shows the conversation log.
  QString SettingsFile;
  QString ProgramName; // empty: the application's name
  QString Version;     // empty: the application's version
  QString LogFolder;   // empty: the suite's log folder (LogFolder())
  // The program's status window; the dialog makes its own when none is given.
  ui::TStatusWindow* StatusWindow = nullptr;
  QPoint Position = QPoint(-1, -1); // where the dialog opens; negative: centred
};

// Shows the mail settings of a task and, on OK, writes them into data and
// mode and returns true; Cancel changes nothing and returns false. taskText is
// shown above the fields; its part before the first ":" names the action for
// the placeholder dialog. The mailer is the program's one TmMailer; a test
// mail leaves its properties set.
bool EditMailSettings(QWidget* parent, TmMailer& mailer, const QString& taskText, TMailData& data, TMailMode& mode,
                      const TMailDialogContext& context);

class TMailDialog : public QDialog {
  Q_OBJECT

public:
  TMailDialog(QWidget* parent, TmMailer& mailer, const QString& taskText, const TMailData& data, TMailMode mode,
              const TMailDialogContext& context);
  ~TMailDialog() override;

  // What the fields hold now.
  TMailFields Fields() const;
  // After OK: the record and the mode take the fields.
  void Apply(TMailData& data, TMailMode& mode) const;
  const TMailHistories& Histories() const { return FHistories; }

  // How a test delivery is shown; by default in the delivery status window.
  using TResultShower = std::function<void(const TDeliveryResult&)>;
  void SetResultShower(TResultShower shower) { FShowResult = std::move(shower); }

  // The handlers of the buttons, public so that tests drive them as a click
  // would.
  void bbOkClick();
  void bbTestClick();
  void btPasswordClick();
  void btAddRecipientClick();
  void btEditRecipientClick();
  void btRemoveRecipientClick();
  void btAddAttachmentClick();
  void btEditAttachmentClick();
  void btRemoveAttachmentClick();
  void btPlaceholderClick();
  void TlsChosen(int index);
  void ZipChosen(int index);

  void done(int result) override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void ShowFields(const TMailFields& fields);
  void ShowRecipients(qsizetype select);
  void ShowAttachments(qsizetype select);
  void RecipientChanged(QListWidgetItem* item);
  void LogModeChanged();
  void FocusField(TMailField field);
  bool CheckFields();
  bool KeepablePassword(const QString& password);
  TMailTestContext TestContext() const;

  TmMailer& FMailer;
  TMailDialogContext FContext;
  QString FTaskText;
  TMailHistories FHistories;
  TRecipientList FRecipients;
  TAttachmentList FAttachments;
  QString FPassword;
  QString FCryptKey;
  TSecTransfer FSecureMode = stNone;
  int FZipIndex = 0;
  int FBusy = 0;
  bool FFilling = false;
  ui::TStatusWindow* FOwnStatus = nullptr;
  TResultShower FShowResult;

  QLabel* laTask;
  ui::THistoryComboBox* cbxServer;
  QSpinBox* edPort;
  QComboBox* cbxTls;
  ui::THistoryComboBox* cbxUser;
  QLineEdit* edPassword;
  QPushButton* btPassword;
  ui::THistoryComboBox* cbxSender;
  ui::THistoryComboBox* cbxReplyTo;
  QListWidget* lbRecipients;
  QPushButton* btAddRecipient;
  QPushButton* btEditRecipient;
  QPushButton* btRemoveRecipient;
  ui::THistoryComboBox* cbxSubject;
  QPushButton* btPlaceholder;
  QGroupBox* rgSendMode;
  QRadioButton* rbSendNever;
  QRadioButton* rbSendListed;
  QRadioButton* rbSendErrors;
  QGroupBox* rgLogMode;
  QRadioButton* rbLogNever;
  QRadioButton* rbLogAlways;
  QRadioButton* rbLogErrors;
  QComboBox* cbxZip;
  QListWidget* lbAttachments;
  QPushButton* btAddAttachment;
  QPushButton* btEditAttachment;
  QPushButton* btRemoveAttachment;
  QPushButton* bbTest;
  QPushButton* bbOk;
  QPushButton* bbCancel;
};

} // namespace ardanto
