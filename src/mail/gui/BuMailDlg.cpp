#include "mail/gui/BuMailDlg.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/Translate.h"
#include "mail/gui/MailTestDlg.h"
#include "ui/BusyGuard.h"
#include "ui/Dialogs.h"
#include "ui/HelpKeys.h"
#include "ui/HistoryComboBox.h"
#include "ui/PasswordDialog.h"
#include "ui/PlaceHolderDialog.h"
#include "ui/Prompts.h"
#include "ui/StatusWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

// Shown for each character of the password.
constexpr char16_t kPasswordDot = u'\u25CF';

Qt::CheckState CheckStateOf(TRecipientState state)
{
  switch (state) {
  case rsOnError:
    return Qt::PartiallyChecked;
  case rsNever:
    return Qt::Unchecked;
  case rsAlways:
    break;
  }
  return Qt::Checked;
}

TRecipientState StateOf(Qt::CheckState state)
{
  switch (state) {
  case Qt::PartiallyChecked:
    return rsOnError;
  case Qt::Unchecked:
    return rsNever;
  case Qt::Checked:
    break;
  }
  return rsAlways;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QString& hint)
{
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(hint);
  button->setAutoDefault(false);
  return button;
}

QRadioButton* Radio(QWidget* parent, const char* name, const QString& caption)
{
  auto* radio = new QRadioButton(caption, parent);
  radio->setObjectName(QString::fromLatin1(name));
  return radio;
}

ui::THistoryComboBox* HistoryBox(QWidget* parent, const char* name, int size, const QStringList& history)
{
  auto* box = new ui::THistoryComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->SetMaxHistory(size);
  box->SetHistory(history);
  return box;
}

} // namespace

bool EditMailSettings(QWidget* parent, TmMailer& mailer, const QString& taskText, TMailData& data, TMailMode& mode,
                      const TMailDialogContext& context)
{
  TMailDialog dialog(parent, mailer, taskText, data, mode, context);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  dialog.Apply(data, mode);
  return true;
}

TMailDialog::TMailDialog(QWidget* parent, TmMailer& mailer, const QString& taskText, const TMailData& data,
                         TMailMode mode, const TMailDialogContext& context)
  : QDialog(parent), FMailer(mailer), FContext(context), FTaskText(taskText),
    FHistories(LoadMailHistories(context.SettingsFile))
{
  setObjectName(u"MailDialog"_s);
  setWindowTitle(_("E-Mail configuration"));

  laTask = new QLabel(taskText, this);
  laTask->setObjectName(u"laTask"_s);
  QFont bold = laTask->font();
  bold.setBold(true);
  laTask->setFont(bold);

  auto* server = new QGroupBox(_("SMTP server"), this);
  cbxServer = HistoryBox(server, "cbxServer", kMailHistorySize, FHistories.Servers);
  cbxServer->setToolTip(_("Name or address of the mail server"));
  edPort = new QSpinBox(server);
  edPort->setObjectName(u"edPort"_s);
  edPort->setRange(1, 65535);
  cbxTls = new QComboBox(server);
  cbxTls->setObjectName(u"cbxTls"_s);
  cbxTls->addItems({_("None"), _("If available (explicit)"), _("Require (explicit)"), _("Always (implicit)")});
  cbxTls->setToolTip(_("Encrypted connection (TLS)"));
  cbxUser = HistoryBox(server, "cbxUser", kMailHistorySize, FHistories.Users);
  edPassword = new QLineEdit(server);
  edPassword->setObjectName(u"edPassword"_s);
  edPassword->setReadOnly(true);
  btPassword = Button(server, "btPassword", _("Change"), _("Enter the password for the mail server"));
  auto* serverGrid = new QGridLayout(server);
  const auto label = [](QWidget* owner, const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, owner);
    l->setBuddy(buddy);
    return l;
  };
  serverGrid->addWidget(label(server, _("Server:"), cbxServer), 0, 0);
  serverGrid->addWidget(cbxServer, 0, 1, 1, 3);
  serverGrid->addWidget(label(server, _("Port:"), edPort), 1, 0);
  serverGrid->addWidget(edPort, 1, 1);
  serverGrid->addWidget(label(server, _("TLS:"), cbxTls), 1, 2);
  serverGrid->addWidget(cbxTls, 1, 3);
  serverGrid->addWidget(label(server, _("User name:"), cbxUser), 2, 0);
  serverGrid->addWidget(cbxUser, 2, 1, 1, 3);
  serverGrid->addWidget(label(server, _("Password:"), edPassword), 3, 0);
  serverGrid->addWidget(edPassword, 3, 1, 1, 2);
  serverGrid->addWidget(btPassword, 3, 3);
  serverGrid->setColumnStretch(1, 1);
  serverGrid->setColumnStretch(3, 1);

  auto* addresses = new QGroupBox(_("Addresses"), this);
  cbxSender = HistoryBox(addresses, "cbxSender", kMailAddressHistorySize, FHistories.Addresses);
  cbxSender->setToolTip(_("Mail address of the sender, or a name to show as sender"));
  cbxReplyTo = HistoryBox(addresses, "cbxReplyTo", kMailAddressHistorySize, FHistories.Addresses);
  lbRecipients = new QListWidget(addresses);
  lbRecipients->setObjectName(u"lbRecipients"_s);
  lbRecipients->setToolTip(_("Checked: every report; marked: only on errors; unchecked: none"));
  btAddRecipient = Button(addresses, "btAddRecipient", _("Add"), _("Add recipient"));
  btEditRecipient = Button(addresses, "btEditRecipient", _("Edit"), _("Edit recipient"));
  btRemoveRecipient = Button(addresses, "btRemoveRecipient", _("Remove"), _("Remove recipient"));
  auto* addressGrid = new QGridLayout(addresses);
  addressGrid->addWidget(label(addresses, _("Sender:"), cbxSender), 0, 0);
  addressGrid->addWidget(cbxSender, 0, 1);
  addressGrid->addWidget(label(addresses, _("Reply to:"), cbxReplyTo), 1, 0);
  addressGrid->addWidget(cbxReplyTo, 1, 1);
  addressGrid->addWidget(label(addresses, _("Recipients:"), lbRecipients), 2, 0, Qt::AlignTop);
  addressGrid->addWidget(lbRecipients, 2, 1);
  auto* recipientButtons = new QVBoxLayout;
  recipientButtons->addWidget(btAddRecipient);
  recipientButtons->addWidget(btEditRecipient);
  recipientButtons->addWidget(btRemoveRecipient);
  recipientButtons->addStretch();
  addressGrid->addLayout(recipientButtons, 2, 2);
  addressGrid->setColumnStretch(1, 1);

  auto* message = new QGroupBox(_("Message"), this);
  cbxSubject = HistoryBox(message, "cbxSubject", kMailHistorySize, FHistories.Subjects);
  btPlaceholder = Button(message, "btPlaceholder", _("%..."), _("Insert placeholder"));
  lbAttachments = new QListWidget(message);
  lbAttachments->setObjectName(u"lbAttachments"_s);
  lbAttachments->setSelectionMode(QAbstractItemView::ExtendedSelection);
  btAddAttachment = Button(message, "btAddAttachment", _("Add"), _("Select files to be attached"));
  btEditAttachment = Button(message, "btEditAttachment", _("Edit"), _("Edit selected attachment"));
  btRemoveAttachment = Button(message, "btRemoveAttachment", _("Remove"), _("Remove attachments from list"));
  auto* messageGrid = new QGridLayout(message);
  messageGrid->addWidget(label(message, _("Subject:"), cbxSubject), 0, 0);
  messageGrid->addWidget(cbxSubject, 0, 1);
  messageGrid->addWidget(btPlaceholder, 0, 2);
  messageGrid->addWidget(label(message, _("Attachments:"), lbAttachments), 1, 0, Qt::AlignTop);
  messageGrid->addWidget(lbAttachments, 1, 1);
  auto* attachmentButtons = new QVBoxLayout;
  attachmentButtons->addWidget(btAddAttachment);
  attachmentButtons->addWidget(btEditAttachment);
  attachmentButtons->addWidget(btRemoveAttachment);
  attachmentButtons->addStretch();
  messageGrid->addLayout(attachmentButtons, 1, 2);
  messageGrid->setColumnStretch(1, 1);

  rgSendMode = new QGroupBox(_("Send mail after action"), this);
  rgSendMode->setObjectName(u"rgSendMode"_s);
  rbSendNever = Radio(rgSendMode, "rbSendNever", _("Never"));
  rbSendListed = Radio(rgSendMode, "rbSendListed", _("As specified in list of recipients"));
  rbSendErrors = Radio(rgSendMode, "rbSendErrors", _("Only on errors"));
  auto* sendColumn = new QVBoxLayout(rgSendMode);
  for (QRadioButton* r : {rbSendNever, rbSendListed, rbSendErrors})
    sendColumn->addWidget(r);

  rgLogMode = new QGroupBox(_("Attach log file"), this);
  rgLogMode->setObjectName(u"rgLogMode"_s);
  rbLogNever = Radio(rgLogMode, "rbLogNever", _("Never"));
  rbLogAlways = Radio(rgLogMode, "rbLogAlways", _("Always"));
  rbLogErrors = Radio(rgLogMode, "rbLogErrors", _("Only on errors"));
  cbxZip = new QComboBox(rgLogMode);
  cbxZip->setObjectName(u"cbxZip"_s);
  cbxZip->addItems({_("No"), _("Plain text"), _("Encrypted")});
  auto* logColumn = new QVBoxLayout(rgLogMode);
  for (QRadioButton* r : {rbLogNever, rbLogAlways, rbLogErrors})
    logColumn->addWidget(r);
  auto* zipRow = new QHBoxLayout;
  zipRow->addWidget(label(rgLogMode, _("Pack as zip file:"), cbxZip));
  zipRow->addWidget(cbxZip, 1);
  logColumn->addLayout(zipRow);

  auto* modes = new QHBoxLayout;
  modes->addWidget(rgSendMode);
  modes->addWidget(rgLogMode);

  bbTest = Button(this, "bbTest", _("Test"), _("Send mail to check settings"));
  auto* buttons = ui::OkCancelButtons(this);
  bbOk = buttons->button(QDialogButtonBox::Ok);
  bbOk->setObjectName(u"bbOk"_s);
  bbCancel = buttons->button(QDialogButtonBox::Cancel);
  bbCancel->setObjectName(u"bbCancel"_s);
  // OK runs the checks before the dialog may close.
  disconnect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, this, &TMailDialog::bbOkClick);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(bbTest);
  bottom->addStretch();
  bottom->addWidget(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(laTask);
  layout->addWidget(server);
  layout->addWidget(addresses);
  layout->addWidget(message);
  layout->addLayout(modes);
  layout->addLayout(bottom);

  connect(bbTest, &QPushButton::clicked, this, &TMailDialog::bbTestClick);
  connect(btPassword, &QPushButton::clicked, this, &TMailDialog::btPasswordClick);
  connect(btAddRecipient, &QPushButton::clicked, this, &TMailDialog::btAddRecipientClick);
  connect(btEditRecipient, &QPushButton::clicked, this, &TMailDialog::btEditRecipientClick);
  connect(lbRecipients, &QListWidget::itemDoubleClicked, this, &TMailDialog::btEditRecipientClick);
  connect(btRemoveRecipient, &QPushButton::clicked, this, &TMailDialog::btRemoveRecipientClick);
  connect(lbRecipients, &QListWidget::itemChanged, this, &TMailDialog::RecipientChanged);
  connect(btAddAttachment, &QPushButton::clicked, this, &TMailDialog::btAddAttachmentClick);
  connect(btEditAttachment, &QPushButton::clicked, this, &TMailDialog::btEditAttachmentClick);
  connect(btRemoveAttachment, &QPushButton::clicked, this, &TMailDialog::btRemoveAttachmentClick);
  connect(btPlaceholder, &QPushButton::clicked, this, &TMailDialog::btPlaceholderClick);
  connect(cbxTls, qOverload<int>(&QComboBox::activated), this, &TMailDialog::TlsChosen);
  connect(cbxZip, qOverload<int>(&QComboBox::activated), this, &TMailDialog::ZipChosen);
  for (QRadioButton* r : {rbLogNever, rbLogAlways, rbLogErrors})
    connect(r, &QRadioButton::toggled, this, &TMailDialog::LogModeChanged);
  new ui::THelpKeys(this, u"ardanto-options.html#mail"_s);

  FShowResult = [this](const TDeliveryResult& result) {
    TMailTestDialog::Show(this, result.Message, result.LogFile, !result.Delivered, FContext.SettingsFile);
  };
  ShowFields(MailFieldsOf(data, mode));
  if (context.Position.x() >= 0 && context.Position.y() >= 0)
    move(context.Position);
}

TMailDialog::~TMailDialog() = default;

void TMailDialog::ShowFields(const TMailFields& f)
{
  cbxServer->setEditText(f.Server);
  edPort->setValue(f.Port);
  FSecureMode = f.SecureMode;
  cbxTls->setCurrentIndex(f.SecureMode);
  cbxUser->setEditText(f.User);
  FPassword = f.Password;
  edPassword->setText(QString(f.Password.size(), QChar(kPasswordDot)));
  cbxSender->setEditText(f.Sender);
  cbxReplyTo->setEditText(f.ReplyTo);
  FRecipients = TRecipientList(f.Recipients);
  ShowRecipients(FRecipients.Count() > 0 ? 0 : -1);
  cbxSubject->setEditText(f.Subject);
  FAttachments = TAttachmentList(f.Attachments);
  ShowAttachments(-1);
  (f.SendMode == mmError ? rbSendErrors : f.SendMode == mmAlways ? rbSendListed : rbSendNever)->setChecked(true);
  (f.LogMode == mmError ? rbLogErrors : f.LogMode == mmAlways ? rbLogAlways : rbLogNever)->setChecked(true);
  FCryptKey = f.CryptKey;
  FZipIndex = f.ZipMode;
  cbxZip->setCurrentIndex(f.ZipMode);
  LogModeChanged();
}

TMailFields TMailDialog::Fields() const
{
  TMailFields f;
  f.Server = cbxServer->currentText().trimmed();
  f.Port = edPort->value();
  f.User = cbxUser->currentText().trimmed();
  f.Password = FPassword;
  f.Sender = cbxSender->currentText().trimmed();
  f.ReplyTo = cbxReplyTo->currentText().trimmed();
  f.Recipients = FRecipients.Items();
  f.Subject = cbxSubject->currentText();
  f.SecureMode = FSecureMode;
  f.LogMode = rbLogErrors->isChecked() ? mmError : rbLogAlways->isChecked() ? mmAlways : mmNone;
  f.ZipMode = static_cast<TZipMode>(FZipIndex);
  f.CryptKey = FCryptKey;
  f.Attachments = FAttachments.Items();
  f.SendMode = rbSendErrors->isChecked() ? mmError : rbSendListed->isChecked() ? mmAlways : mmNone;
  return f;
}

void TMailDialog::Apply(TMailData& data, TMailMode& mode) const
{
  ApplyMailFields(Fields(), data, mode);
}

void TMailDialog::ShowRecipients(qsizetype select)
{
  FFilling = true;
  lbRecipients->clear();
  for (const TMailRecipient& r : FRecipients.Items()) {
    auto* item = new QListWidgetItem(r.Address, lbRecipients);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsUserTristate);
    item->setCheckState(CheckStateOf(r.State));
  }
  lbRecipients->setCurrentRow(static_cast<int>(select));
  FFilling = false;
}

void TMailDialog::ShowAttachments(qsizetype select)
{
  lbAttachments->clear();
  lbAttachments->addItems(FAttachments.Items());
  if (select >= 0)
    lbAttachments->setCurrentRow(static_cast<int>(select));
}

void TMailDialog::RecipientChanged(QListWidgetItem* item)
{
  if (FFilling)
    return;
  FRecipients.SetState(lbRecipients->row(item), StateOf(item->checkState()));
}

void TMailDialog::LogModeChanged()
{
  cbxZip->setEnabled(!rbLogNever->isChecked());
}

bool TMailDialog::KeepablePassword(const QString& password)
{
  QString reason;
  if (CanProtectPassword(password, &reason))
    return true;
  ui::ShowError(this, reason);
  return false;
}

void TMailDialog::btPasswordClick()
{
  QString value = FPassword;
  if (!ui::PromptPassword(this, _("Mail server"), _("Password:"), value) || !KeepablePassword(value))
    return;
  FPassword = value;
  edPassword->setText(QString(value.size(), QChar(kPasswordDot)));
}

void TMailDialog::btAddRecipientClick()
{
  QString address;
  if (!ui::PromptWithHistory(this, _("New mail recipient"), _("Address:"), FHistories.Addresses, address))
    return;
  address = address.trimmed();
  if (const QString problem = RecipientProblem(address); !problem.isEmpty()) {
    ui::ShowError(this, problem);
    return;
  }
  const qsizetype added = FRecipients.Add(address);
  ShowRecipients(added >= 0 ? added : FRecipients.IndexOf(address));
}

void TMailDialog::btEditRecipientClick()
{
  const int row = lbRecipients->currentRow();
  if (row < 0 || row >= FRecipients.Count())
    return;
  QString address = FRecipients.Items()[row].Address;
  if (!ui::PromptWithHistory(this, _("Edit mail recipient"), _("Address:"), FHistories.Addresses, address))
    return;
  address = address.trimmed();
  if (const QString problem = RecipientProblem(address); !problem.isEmpty()) {
    ui::ShowError(this, problem);
    return;
  }
  // An address that another entry has already is not listed twice.
  ShowRecipients(FRecipients.Replace(row, address) ? row : FRecipients.IndexOf(address));
}

void TMailDialog::btRemoveRecipientClick()
{
  const int row = lbRecipients->currentRow();
  if (row < 0 || row >= FRecipients.Count())
    return;
  const QString text = SafeFormat(_("Remove recipient:\r\n%s\r\nfrom list?"), {FRecipients.Items()[row].Address});
  if (!ui::AskYesNo(this, windowTitle(), text))
    return;
  ShowRecipients(FRecipients.Remove(row));
}

void TMailDialog::btAddAttachmentClick()
{
  if (FAttachments.Full()) {
    ui::ShowError(this, AttachmentLimitText());
    return;
  }
  const QStringList& items = FAttachments.Items();
  const int row = lbAttachments->currentRow();
  QString near;
  if (row >= 0 && row < items.size() && lbAttachments->item(row)->isSelected())
    near = items[row];
  else if (!items.isEmpty())
    near = items.last();
  ui::TFileRequest request;
  request.Title = _("Select files to be attached");
  request.Folder = near.isEmpty() ? QDir::homePath() : QFileInfo(near).absolutePath();
  request.Filter = _("All files") + u" (*)"_s;
  const QStringList files = ui::ChooseFiles(this, request);
  if (files.isEmpty())
    return;
  const bool all = FAttachments.Add(files);
  ShowAttachments(FAttachments.Items().size() - 1);
  if (!all)
    ui::ShowError(this, AttachmentLimitText());
}

void TMailDialog::btEditAttachmentClick()
{
  int row = -1;
  for (int i = 0; i < lbAttachments->count() && row < 0; ++i)
    if (lbAttachments->item(i)->isSelected())
      row = i;
  if (row >= 0) {
    QString path = FAttachments.Items()[row];
    if (ui::PromptText(this, _("Edit attachment"), _("File path:"), path) && FAttachments.Replace(row, path.trimmed()))
      ShowAttachments(row);
    return;
  }
  if (FAttachments.Full()) {
    ui::ShowError(this, AttachmentLimitText());
    return;
  }
  QString path;
  if (!ui::PromptText(this, _("Add attachment"), _("File path:"), path) || path.trimmed().isEmpty())
    return;
  FAttachments.Add({path.trimmed()});
  ShowAttachments(FAttachments.Items().size() - 1);
}

void TMailDialog::btRemoveAttachmentClick()
{
  QList<qsizetype> rows;
  for (int i = 0; i < lbAttachments->count(); ++i)
    if (lbAttachments->item(i)->isSelected())
      rows.append(i);
  if (rows.isEmpty() || !ui::AskYesNo(this, windowTitle(), _("Remove selected attachments?")))
    return;
  FAttachments.Remove(rows);
  ShowAttachments(-1);
}

void TMailDialog::btPlaceholderClick()
{
  const QString action = FTaskText.section(u':', 0, 0);
  const QPoint pos = btPlaceholder->mapToGlobal(QPoint(0, btPlaceholder->height()));
  const QString placeholder = ui::TPlaceHolderDialog::Choose(this, pos, ui::pkMailSubject, action);
  if (!placeholder.isEmpty())
    cbxSubject->InsertAtCaret(placeholder);
}

void TMailDialog::TlsChosen(int index)
{
  const auto mode = static_cast<TSecTransfer>(std::clamp(index, 0, static_cast<int>(stImplicit)));
  edPort->setValue(PortAfterTlsChoice(FSecureMode, mode, edPort->value()));
  FSecureMode = mode;
}

void TMailDialog::ZipChosen(int index)
{
  if (index == zmEncrypt) {
    QString key;
    if (!ui::NewPassword(this, _("File encryption"), key) || !KeepablePassword(key)) {
      cbxZip->setCurrentIndex(FZipIndex);
      return;
    }
    FCryptKey = key;
  }
  FZipIndex = index;
}

void TMailDialog::FocusField(TMailField field)
{
  switch (field) {
  case mfServer:
    cbxServer->setFocus();
    break;
  case mfUser:
    cbxUser->setFocus();
    break;
  case mfRecipients:
    btAddRecipientClick();
    break;
  case mfReplyTo:
    cbxReplyTo->setFocus();
    break;
  case mfNone:
    break;
  }
}

bool TMailDialog::CheckFields()
{
  const TMailCheck check = CheckMailFields(Fields());
  if (check.Passed())
    return true;
  ui::ShowError(this, check.Message);
  FocusField(check.Field);
  return false;
}

void TMailDialog::bbOkClick()
{
  if (FBusy > 0 || !CheckFields())
    return;
  RememberMailInputs(FHistories, Fields());
  if (!FContext.SettingsFile.isEmpty()) {
    try {
      SaveMailHistories(FContext.SettingsFile, FHistories);
    } catch (const EArdantoError& e) {
      // The settings themselves are kept; only the suggestions are lost.
      ui::ShowError(this, e.Message());
    }
  }
  accept();
}

TMailTestContext TMailDialog::TestContext() const
{
  TMailTestContext c;
  c.ProgramName = FContext.ProgramName.isEmpty() ? QCoreApplication::applicationName() : FContext.ProgramName;
  c.Version = FContext.Version.isEmpty() ? QCoreApplication::applicationVersion() : FContext.Version;
  c.LogFolder = FContext.LogFolder.isEmpty() ? LogFolder() : FContext.LogFolder;
  c.Now = QDateTime::currentDateTime();
  c.Locale = QLocale();
  return c;
}

void TMailDialog::bbTestClick()
{
  if (FBusy > 0 || !CheckFields())
    return;
  // The mailer lets window messages in while it sends: nothing may start a
  // second delivery or close the dialog meanwhile.
  const ui::TBusyGuard busy(FBusy);
  ui::TStatusWindow* status = FContext.StatusWindow;
  if (status == nullptr) {
    if (FOwnStatus == nullptr)
      FOwnStatus = new ui::TStatusWindow(this);
    status = FOwnStatus;
  }
  status->ShowStatus(mapToGlobal(QPoint(width() / 4, height() / 3)), _("Checking mail settings"), 0, false,
                     _("Sending mail"));
  setEnabled(false);
  TDeliveryResult result;
  try {
    PrepareTestMail(FMailer, Fields(), TestContext());
  } catch (const EArdantoError& e) {
    setEnabled(true);
    status->CloseStatus();
    ui::ShowError(this, e.Message());
    return;
  }
  setEnabled(true);
  result = SendTestMail(FMailer);
  status->CloseStatus();
  if (FShowResult)
    FShowResult(result);
}

void TMailDialog::done(int result)
{
  if (FBusy > 0)
    return;
  QDialog::done(result);
}

void TMailDialog::closeEvent(QCloseEvent* event)
{
  if (FBusy > 0) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

} // namespace ardanto
