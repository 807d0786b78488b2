#include "ui/DesktopIconDialog.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "platform/Power.h"
#include "ui/Dialogs.h"
#include "ui/ErrorActionDialog.h"
#include "ui/HelpKeys.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

TDesktopIconDialog::TDesktopIconDialog(QWidget* parent)
  : QDialog(parent), leName(new QLineEdit(this)), leDescription(new QLineEdit(this)), edTasks(new QLineEdit(this)),
    rgStatus(new QGroupBox(_("Status window"), this)), cbNoSplash(new QCheckBox(_("No splash screen"), this)),
    cbParallel(new QCheckBox(_("Parallel processing of tasks"), this)),
    cbRunAs(new QCheckBox(_("Run as administrator"), this)),
    cbActionChangeable(new QCheckBox(_("Action changeable by user"), this)),
    gbAction(new QGroupBox(_("Action after backup"), this)),
    btErrorActions(new QPushButton(_("Action handling on errors"), gbAction))
{
  setObjectName(u"DesktopIconDialog"_s);
  leName->setObjectName(u"leName"_s);
  leDescription->setObjectName(u"leDescription"_s);
  edTasks->setObjectName(u"edTasks"_s);
  edTasks->setReadOnly(true);
  rgStatus->setObjectName(u"rgStatus"_s);
  cbNoSplash->setObjectName(u"cbNoSplash"_s);
  cbParallel->setObjectName(u"cbParallel"_s);
  cbRunAs->setObjectName(u"cbRunAs"_s);
  cbActionChangeable->setObjectName(u"cbActionChangeable"_s);
  gbAction->setObjectName(u"gbAction"_s);
  btErrorActions->setObjectName(u"btErrorActions"_s);

  const QString statusTexts[kStatusItemCount] = {_("Not visible"), _("Close automatically"),
                                                 _("Always wait for prompt"), _("Wait for prompt only on errors"),
                                                 _("Show only on errors")};
  auto* statusLayout = new QVBoxLayout(rgStatus);
  for (int i = 0; i < kStatusItemCount; ++i) {
    rbStatus[i] = new QRadioButton(statusTexts[i], rgStatus);
    rbStatus[i]->setObjectName(u"rbStatus"_s + QString::number(i));
    statusLayout->addWidget(rbStatus[i]);
  }
  statusLayout->addStretch();

  // Asked once: the answer does not change while the dialog is open.
  FHybridOffered = platform::CanHybridSleep();
  static const char* const actionNames[kShortcutActionCount] = {
      "rbNone", "rbSleep", "rbHibernate", "rbLogoff", "rbRestart", "rbShutdown", "rbLockShutdown", "rbHybrid"};
  auto* actionLayout = new QVBoxLayout(gbAction);
  for (int i = 0; i < kShortcutActionCount; ++i) {
    rbAction[i] = new QRadioButton(ShortcutActionCaption(TShortcutAction(i)), gbAction);
    rbAction[i]->setObjectName(QString::fromLatin1(actionNames[i]));
    actionLayout->addWidget(rbAction[i]);
    connect(rbAction[i], &QRadioButton::toggled, this, &TDesktopIconDialog::ActionChanged);
  }
  rbAction[saHybrid]->setVisible(FHybridOffered);
  actionLayout->addWidget(btErrorActions);
  actionLayout->addStretch();

  auto* fields = new QFormLayout;
  const auto addField = [this, fields](const QString& text, QLineEdit* edit) {
    auto* label = new QLabel(text, this);
    label->setBuddy(edit);
    fields->addRow(label, edit);
  };
  addField(_("Name of desktop shortcut:"), leName);
  addField(_("Description:"), leDescription);
  addField(_("Tasks to be executed:"), edTasks);

  auto* switches = new QVBoxLayout;
  switches->addWidget(cbNoSplash);
  switches->addWidget(cbParallel);
  switches->addWidget(cbRunAs);
  switches->addWidget(cbActionChangeable);
  auto* left = new QVBoxLayout;
  left->addWidget(rgStatus);
  left->addLayout(switches);
  left->addStretch();
  auto* groups = new QHBoxLayout;
  groups->addLayout(left);
  groups->addWidget(gbAction);

  QDialogButtonBox* buttons = OkCancelButtons(this);
  FOk = buttons->button(QDialogButtonBox::Ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(groups);
  layout->addWidget(buttons);

  connect(btErrorActions, &QPushButton::clicked, this, &TDesktopIconDialog::ErrorActionsClicked);
  connect(leName, &QLineEdit::textChanged, this, &TDesktopIconDialog::NameChanged);
  new THelpKeys(this, u"ardanto-dlink.html"_s);
}

bool TDesktopIconDialog::Execute(const QString& caption, const QString& tasks, int& runAs, QString& options,
                                 QString& description, QString& shortcutName)
{
  setWindowTitle(caption.isEmpty() ? _("Desktop shortcut") : caption);
  leName->setText(shortcutName);
  leDescription->setText(description);
  const TShortcutTasks list = SplitShortcutTasks(tasks);
  edTasks->setText(list.Text);
  edTasks->setToolTip(list.Hint);
  cbParallel->setVisible(list.OfferParallel);
  cbRunAs->setVisible(runAs >= 0);
  cbRunAs->setChecked(runAs > 0);

  TDesktopIconOptions state;
  state.ReadOptions(options);
  ShowState(state);
  NameChanged();

  if (exec() != QDialog::Accepted)
    return false;
  shortcutName = leName->text().trimmed();
  description = leDescription->text();
  options = State().Options();
  if (runAs >= 0)
    runAs = cbRunAs->isChecked() ? 1 : 0;
  return true;
}

TDesktopIconOptions TDesktopIconDialog::State() const
{
  TDesktopIconOptions state;
  for (int i = 0; i < kStatusItemCount; ++i) {
    if (rbStatus[i]->isChecked())
      state.Status = i;
  }
  state.Action = CheckedAction();
  state.NoSplash = cbNoSplash->isChecked();
  state.Parallel = !cbParallel->isHidden() && cbParallel->isChecked();
  state.ActionChangeable = cbActionChangeable->isChecked();
  state.ErrorMask = FErrorMask;
  state.KeptOver = FKeptOver;
  return state;
}

void TDesktopIconDialog::ShowState(const TDesktopIconOptions& state)
{
  const int status = state.Status >= 0 && state.Status < kStatusItemCount ? state.Status : int(siCloseAutomatically);
  rbStatus[status]->setChecked(true);
  TShortcutAction action = state.Action >= saNone && state.Action < kShortcutActionCount ? state.Action : saNone;
  // A shortcut made where hybrid sleep works still powers the machine off here.
  if (action == saHybrid && !FHybridOffered)
    action = saShutdown;
  rbAction[action]->setChecked(true);
  cbNoSplash->setChecked(state.NoSplash);
  cbParallel->setChecked(state.Parallel);
  cbActionChangeable->setChecked(state.ActionChangeable);
  FErrorMask = state.ErrorMask;
  FKeptOver = state.KeptOver;
  ActionChanged();
}

TShortcutAction TDesktopIconDialog::CheckedAction() const
{
  for (int i = 0; i < kShortcutActionCount; ++i) {
    if (rbAction[i]->isChecked())
      return TShortcutAction(i);
  }
  return saNone;
}

void TDesktopIconDialog::ActionChanged()
{
  const TShortcutAction action = CheckedAction();
  btErrorActions->setEnabled(action != saNone);
  btErrorActions->setToolTip(action == saNone ? QString()
                                              : SafeFormat(_("Disable %s on errors"), {ShortcutActionCaption(action)}));
}

void TDesktopIconDialog::ErrorActionsClicked()
{
  const TShortcutAction action = CheckedAction();
  if (action == saNone)
    return;
  int mask = FErrorMask;
  if (TErrorActionDialog::Execute(this, ShortcutActionCaption(action), mask))
    FErrorMask = mask;
}

void TDesktopIconDialog::NameChanged()
{
  // A shortcut needs a name to be found by on the desktop.
  FOk->setEnabled(!leName->text().trimmed().isEmpty());
}

} // namespace ardanto::ui
