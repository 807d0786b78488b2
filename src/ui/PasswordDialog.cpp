#include "ui/PasswordDialog.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

TNewPasswordDialog::TNewPasswordDialog(QWidget* parent, const QString& title, int minLength)
  : QDialog(parent), FMinLength(minLength)
{
  setObjectName(u"NewPasswordDialog"_s);
  setWindowTitle(title);
  edPassword = new QLineEdit(this);
  edPassword->setObjectName(u"edPassword"_s);
  edPassword->setEchoMode(QLineEdit::Password);
  edConfirm = new QLineEdit(this);
  edConfirm->setObjectName(u"edConfirm"_s);
  edConfirm->setEchoMode(QLineEdit::Password);
  laProblem = new QLabel(this);
  laProblem->setObjectName(u"laProblem"_s);
  auto* form = new QFormLayout;
  form->addRow(_("Password:"), edPassword);
  form->addRow(_("Repeat password:"), edConfirm);
  QDialogButtonBox* buttons = OkCancelButtons(this);
  FOk = buttons->button(QDialogButtonBox::Ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(laProblem);
  layout->addWidget(buttons);
  connect(edPassword, &QLineEdit::textChanged, this, &TNewPasswordDialog::Check);
  connect(edConfirm, &QLineEdit::textChanged, this, &TNewPasswordDialog::Check);
  Check();
}

QString TNewPasswordDialog::Password() const
{
  return edPassword->text();
}

QString TNewPasswordDialog::Problem() const
{
  if (edPassword->text().size() < FMinLength)
    return FormatText(_("At least %d characters"), {FMinLength});
  if (edPassword->text() != edConfirm->text())
    return _("The two entries differ");
  return QString();
}

void TNewPasswordDialog::Check()
{
  const QString problem = Problem();
  laProblem->setText(problem);
  FOk->setEnabled(problem.isEmpty());
}

bool NewPassword(QWidget* parent, const QString& title, QString& password, int minLength)
{
  if (TScopedResponders* responders = CurrentResponders(); responders != nullptr && responders->Password)
    return responders->Password(title, password);
  TNewPasswordDialog dialog(parent, title, minLength);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  password = dialog.Password();
  return true;
}

} // namespace ardanto::ui
