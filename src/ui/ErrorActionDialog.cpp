#include "ui/ErrorActionDialog.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"
#include "ui/HelpKeys.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

TErrorActionDialog::TErrorActionDialog(QWidget* parent, const QString& actionName)
  : QDialog(parent), gbErrors(new QGroupBox(this))
{
  setObjectName(u"ErrorActionDialog"_s);
  setWindowTitle(_("Subsequent action"));
  gbErrors->setObjectName(u"gbErrors"_s);
  gbErrors->setTitle(SafeFormat(_("No %s on these errors"), {actionName}));
  const QString texts[] = {_("Task file not found"), _("Destination not accessible"), _("Source directory not found"),
                           _("Invalid task configuration"), _("Other errors during backup")};
  auto* boxes = new QVBoxLayout(gbErrors);
  for (std::size_t i = 0; i < cbErrors.size(); ++i) {
    cbErrors[i] = new QCheckBox(texts[i], gbErrors);
    cbErrors[i]->setObjectName(u"cbError"_s + QString::number(1 << i));
    boxes->addWidget(cbErrors[i]);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gbErrors);
  layout->addWidget(OkCancelButtons(this));
  new THelpKeys(this, u"ardanto-dlink.html"_s);
}

void TErrorActionDialog::SetMask(int mask)
{
  for (std::size_t i = 0; i < cbErrors.size(); ++i)
    cbErrors[i]->setChecked((mask & (1 << i)) != 0);
}

int TErrorActionDialog::Mask() const
{
  int mask = 0;
  for (std::size_t i = 0; i < cbErrors.size(); ++i) {
    if (cbErrors[i]->isChecked())
      mask |= 1 << i;
  }
  return mask;
}

bool TErrorActionDialog::Execute(QWidget* parent, const QString& actionName, int& mask)
{
  TErrorActionDialog dialog(parent, actionName);
  dialog.SetMask(mask);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  mask = (mask & ~kErrorActionMask) | dialog.Mask();
  return true;
}

} // namespace ardanto::ui
