#include "portkeep/gui/FilterDlg.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"
#include "ui/HelpKeys.h"
#include "ui/HistoryComboBox.h"
#include "ui/ListEditor.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {
QString gHistoryFile;
QString gHistorySection = u"FileFilter"_s;
constexpr int kHistory = 15;
} // namespace

void TFilterDialog::SetHistoryFile(const QString& iniFile, const QString& section)
{
  gHistoryFile = iniFile;
  gHistorySection = section;
}

TFilterDialog::TFilterDialog(QWidget* parent)
  : QDialog(parent), FGroup(new QGroupBox(this)), rbAll(new QRadioButton(_("All"), FGroup)),
    rbMatching(new QRadioButton(_("All matching"), FGroup)),
    rbNotMatching(new QRadioButton(_("All not matching"), FGroup)), cbxFilter(new ui::THistoryComboBox(FGroup)),
    laFilter(new QLabel(_("Filter expressions:"), FGroup)),
    cbRegular(new QCheckBox(_("Use regular expressions"), FGroup)),
    rgEvaluate(new QGroupBox(_("Evaluate multiple expressions by"), FGroup)),
    rbOr(new QRadioButton(_("OR operation"), rgEvaluate)), rbAnd(new QRadioButton(_("AND operation"), rgEvaluate)),
    btEdit(new QPushButton(_("Edit expressions"), FGroup))
{
  setObjectName(u"FilterDialog"_s);
  setWindowTitle(_("Text filter dialog"));
  rbAll->setObjectName(u"rbAll"_s);
  rbMatching->setObjectName(u"rbMatching"_s);
  rbNotMatching->setObjectName(u"rbNotMatching"_s);
  cbxFilter->setObjectName(u"cbxFilter"_s);
  cbxFilter->setToolTip(_("Filter expressions:"));
  cbxFilter->SetMaxHistory(kHistory);
  laFilter->setObjectName(u"laFilter"_s);
  laFilter->setBuddy(cbxFilter);
  cbRegular->setObjectName(u"cbRegular"_s);
  rgEvaluate->setObjectName(u"rgEvaluate"_s);
  rbOr->setObjectName(u"rbOr"_s);
  rbAnd->setObjectName(u"rbAnd"_s);
  btEdit->setObjectName(u"btEdit"_s);
  rbAll->setChecked(true);
  rbOr->setChecked(true);

  auto* evaluation = new QVBoxLayout(rgEvaluate);
  evaluation->addWidget(rbOr);
  evaluation->addWidget(rbAnd);
  auto* modes = new QVBoxLayout;
  modes->addWidget(rbAll);
  modes->addWidget(rbMatching);
  modes->addWidget(rbNotMatching);
  auto* top = new QHBoxLayout;
  top->addLayout(modes);
  top->addWidget(rgEvaluate);
  auto* group = new QVBoxLayout(FGroup);
  group->addLayout(top);
  group->addWidget(laFilter);
  group->addWidget(cbxFilter);
  auto* row = new QHBoxLayout;
  row->addWidget(cbRegular);
  row->addStretch();
  row->addWidget(btEdit);
  group->addLayout(row);

  QDialogButtonBox* buttons = ui::OkCancelButtons(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FGroup);
  layout->addWidget(buttons);

  for (QRadioButton* mode : {rbAll, rbMatching, rbNotMatching})
    connect(mode, &QRadioButton::clicked, this, &TFilterDialog::ModeClicked);
  connect(cbRegular, &QCheckBox::clicked, this, &TFilterDialog::RegularClicked);
  connect(rbOr, &QRadioButton::clicked, this, &TFilterDialog::EvaluationClicked);
  connect(rbAnd, &QRadioButton::clicked, this, &TFilterDialog::EvaluationClicked);
  connect(cbxFilter, qOverload<int>(&QComboBox::activated), this, &TFilterDialog::HistoryChosen);
  connect(btEdit, &QPushButton::clicked, this, &TFilterDialog::EditExpressions);
  new ui::THelpKeys(this, u"ardanto-device.html"_s);
}

void TFilterDialog::Prepare(const TTextFilter& filter, const QString& title, const QString& groupCaption,
                            bool offerRegular, bool offerEdit)
{
  setWindowTitle(title);
  FGroup->setTitle(groupCaption);
  FOfferRegular = offerRegular;
  cbRegular->setVisible(offerRegular);
  btEdit->setVisible(offerEdit);

  const QString text = filter.Filter();
  (text.startsWith(u'+') ? rbAnd : rbOr)->setChecked(true);

  QStringList history;
  if (!gHistoryFile.isEmpty()) {
    try {
      LoadHistory(gHistoryFile, gHistorySection, QString(), false, kHistory, history);
    } catch (const EArdantoError&) {
      // An unreadable settings file only costs the history.
    }
  }
  ardanto::AddToHistory(history, text, kHistory);
  cbxFilter->SetHistory(history);
  cbxFilter->setEditText(text);
  cbRegular->setChecked(filter.Regular());
  rgEvaluate->setVisible(!filter.Regular());
  switch (filter.Mode()) {
  case fmInclude:
    rbMatching->setChecked(true);
    break;
  case fmExclude:
    rbNotMatching->setChecked(true);
    break;
  default:
    rbAll->setChecked(true);
    break;
  }
  ApplyEnabling();
}

void TFilterDialog::ApplyEnabling()
{
  const bool active = !rbAll->isChecked();
  cbRegular->setEnabled(active);
  if (!active)
    cbRegular->setChecked(false);
  btEdit->setEnabled(!cbRegular->isChecked());
  cbxFilter->setEnabled(active);
  if (!active)
    cbxFilter->setEditText(u"*"_s);
  laFilter->setEnabled(cbRegular->isEnabled());
}

void TFilterDialog::ModeClicked()
{
  ApplyEnabling();
  rgEvaluate->setVisible(!cbRegular->isChecked());
  if (!rbAll->isChecked() && isVisible())
    cbxFilter->setFocus();
}

void TFilterDialog::RegularClicked()
{
  const bool regular = cbRegular->isChecked();
  btEdit->setEnabled(!regular);
  rgEvaluate->setVisible(!regular);
  const QString text = cbxFilter->currentText();
  if (regular && text == u"*"_s)
    cbxFilter->setEditText(u"."_s);
  else if (!regular && text == u"."_s)
    cbxFilter->setEditText(u"*"_s);
}

void TFilterDialog::EvaluationClicked()
{
  QString text = cbxFilter->currentText();
  if (rbAnd->isChecked() && !text.startsWith(u'+'))
    text.prepend(u'+');
  else if (rbOr->isChecked() && text.startsWith(u'+'))
    text.remove(0, 1);
  cbxFilter->setEditText(text);
}

void TFilterDialog::HistoryChosen(int index)
{
  (cbxFilter->itemText(index).startsWith(u'+') ? rbAnd : rbOr)->setChecked(true);
}

void TFilterDialog::EditExpressions()
{
  QString text = cbxFilter->currentText();
  if (text.startsWith(u'+'))
    text.remove(0, 1);
  QStringList items = text.split(u'|');
  if (!ui::TListEditorDialog::Edit(this, windowTitle() + u':', _("Filter expressions:"), items))
    return;
  QString joined = items.join(u'|');
  if (rbAnd->isChecked())
    joined.prepend(u'+');
  cbxFilter->setEditText(joined);
}

bool TFilterDialog::Apply(TTextFilter& filter)
{
  // The dialog works on a copy: a rejected text, or Cancel afterwards, leaves
  // the filter as it was.
  TTextFilter edited(filter.IsFileFilter(), true);
  edited.Assign(filter);
  QString text = cbxFilter->currentText();
  if (!text.isEmpty()) {
    edited.SetRegular(FOfferRegular && cbRegular->isChecked());
  } else {
    edited.SetRegular(false);
    text = u"*"_s;
  }
  edited.SetMode(rbMatching->isChecked() ? fmInclude : rbNotMatching->isChecked() ? fmExclude : fmOff);
  if (edited.Mode() != fmOff) {
    try {
      edited.SetFilter(text);
    } catch (const EFilterError&) {
      const QVariantList examples =
          edited.Regular() ? QVariantList{u"\\D"_s, u"A+[bc]."_s} : QVariantList{u"*"_s, u"[ab]*"_s};
      ui::ShowError(this, FormatText(_("Invalid filter mask!\r\nShould resemble %s or %s"), examples));
      cbxFilter->setFocus();
      return false;
    }
    cbxFilter->AddToHistory(edited.Filter());
  } else {
    edited.SetRegular(false);
  }
  filter.Assign(edited);
  return true;
}

void TFilterDialog::SaveHistory()
{
  if (gHistoryFile.isEmpty())
    return;
  try {
    ardanto::SaveHistory(gHistoryFile, gHistorySection, QString(), false, cbxFilter->History(), true);
  } catch (const EArdantoError& e) {
    ui::ShowError(this, e.Message());
  }
}

bool TFilterDialog::Execute(TTextFilter& filter, const QString& title, const QString& groupCaption, bool offerRegular,
                            bool offerEdit, QPoint position)
{
  Prepare(filter, title, groupCaption, offerRegular, offerEdit);
  if (position.x() >= 0 && position.y() >= 0)
    move(position);
  bool accepted = false;
  while (exec() == QDialog::Accepted) {
    if (Apply(filter)) {
      accepted = true;
      break;
    }
  }
  SaveHistory();
  return accepted;
}

} // namespace portkeep
