#include "ui/Dialogs.h"

#include "common/Translate.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <array>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

TScopedResponders* gResponders = nullptr;

struct TButtonText {
  TDialogButton Button;
  QMessageBox::ButtonRole Role;
  const char* Text;
};

constexpr std::array<TButtonText, 7> kButtons{{
    {dbYes, QMessageBox::YesRole, N_("&Yes")},
    {dbNo, QMessageBox::NoRole, N_("&No")},
    {dbOk, QMessageBox::AcceptRole, N_("OK")},
    {dbRetry, QMessageBox::AcceptRole, N_("&Retry")},
    {dbAbort, QMessageBox::RejectRole, N_("&Abort")},
    {dbIgnore, QMessageBox::AcceptRole, N_("&Ignore")},
    {dbCancel, QMessageBox::RejectRole, N_("Cancel")},
}};

QMessageBox::Icon IconOf(TMessageKind kind)
{
  switch (kind) {
  case TMessageKind::Information:
    return QMessageBox::Information;
  case TMessageKind::Question:
    return QMessageBox::Question;
  case TMessageKind::Warning:
    return QMessageBox::Warning;
  case TMessageKind::Error:
    return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

// Windows texts carry "\r\n"; a label wants plain line breaks.
QString Lines(QString text)
{
  return text.replace(u"\r\n"_s, u"\n"_s);
}

void Show(QWidget* parent, TMessageKind kind, const QString& text)
{
  TQuestion question;
  question.Kind = kind;
  question.Title = QApplication::applicationDisplayName();
  question.Text = text;
  question.Buttons = dbOk;
  question.Default = dbOk;
  Ask(parent, question);
}

} // namespace

TScopedResponders::TScopedResponders() : FPrevious(gResponders)
{
  gResponders = this;
}

TScopedResponders::~TScopedResponders()
{
  gResponders = FPrevious;
}

TScopedResponders* CurrentResponders()
{
  return gResponders;
}

TDialogButton Ask(QWidget* parent, TQuestion& question)
{
  if (gResponders != nullptr && gResponders->Question)
    return gResponders->Question(question);

  QMessageBox box(IconOf(question.Kind), question.Title, Lines(question.Text), QMessageBox::NoButton, parent);
  TDialogButton escape = dbNone;
  std::array<QPushButton*, kButtons.size()> pushButtons{};
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    if ((question.Buttons & kButtons[i].Button) == 0)
      continue;
    pushButtons[i] = box.addButton(TranslateText(ARDANTO_TEXT_DOMAIN, kButtons[i].Text), kButtons[i].Role);
    if (kButtons[i].Button == question.Default)
      box.setDefaultButton(pushButtons[i]);
    if (kButtons[i].Button == dbCancel || (escape == dbNone && kButtons[i].Button == dbNo))
      escape = kButtons[i].Button;
  }
  QCheckBox* check = nullptr;
  if (!question.CheckText.isEmpty()) {
    check = new QCheckBox(question.CheckText, &box);
    check->setChecked(question.Checked);
    box.setCheckBox(check);
  }
  box.exec();
  if (check != nullptr)
    question.Checked = check->isChecked();
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    if (pushButtons[i] != nullptr && box.clickedButton() == pushButtons[i])
      return kButtons[i].Button;
  }
  return escape != dbNone ? escape : question.Default;
}

TDialogButton AskYesNoCancel(QWidget* parent, const QString& title, const QString& text, TDialogButton defaultButton)
{
  TQuestion question;
  question.Title = title;
  question.Text = text;
  question.Buttons = dbYes | dbNo | dbCancel;
  question.Default = defaultButton;
  return Ask(parent, question);
}

bool AskYesNo(QWidget* parent, const QString& title, const QString& text, bool defaultYes)
{
  TQuestion question;
  question.Title = title;
  question.Text = text;
  question.Buttons = dbYes | dbNo;
  question.Default = defaultYes ? dbYes : dbNo;
  return Ask(parent, question) == dbYes;
}

void ShowError(QWidget* parent, const QString& text)
{
  Show(parent, TMessageKind::Error, text);
}

void ShowWarning(QWidget* parent, const QString& text)
{
  Show(parent, TMessageKind::Warning, text);
}

void ShowInfo(QWidget* parent, const QString& text)
{
  Show(parent, TMessageKind::Information, text);
}

QDialogButtonBox* OkCancelButtons(QDialog* dialog)
{
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(_("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(_("Cancel"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

bool PromptText(QWidget* parent, const QString& title, const QString& label, QString& value)
{
  if (gResponders != nullptr && gResponders->Text)
    return gResponders->Text(label, value);
  bool ok = false;
  const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, value, &ok);
  if (ok)
    value = text;
  return ok;
}

QString ChooseFile(QWidget* parent, const TFileRequest& request)
{
  if (gResponders != nullptr && gResponders->File)
    return gResponders->File(request);
  QFileDialog dialog(parent, request.Title, request.Folder, request.Filter);
  dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(request.DefaultSuffix);
  if (!request.FileName.isEmpty())
    dialog.selectFile(request.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return QString();
  return dialog.selectedFiles().constFirst();
}

} // namespace ardanto::ui
