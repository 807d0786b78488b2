#include "quillbox/gui/SelectProfileDlg.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "quillbox/Profiles.h"
#include "ui/Dialogs.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QVBoxLayout>

namespace quillbox {

using namespace Qt::StringLiterals;

namespace {
TProfileResponder gProfileResponder;
} // namespace

void SetProfileResponder(TProfileResponder responder)
{
  gProfileResponder = std::move(responder);
}

TSelectProfileDialog::TSelectProfileDialog(QWidget* parent) : QDialog(parent), lbProfiles(new QListWidget(this))
{
  setObjectName(u"SelectProfileDialog"_s);
  setWindowTitle(_("Multiple profiles found"));
  lbProfiles->setObjectName(u"lbProfiles"_s);
  auto* label = new QLabel(_("Select Thunderbird profile:"), this);
  label->setBuddy(lbProfiles);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(lbProfiles);
  layout->addWidget(ardanto::ui::OkCancelButtons(this));
  connect(lbProfiles, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TSelectProfileDialog::Prepare(TProfileList& ProfList, QString& AProfile)
{
  lbProfiles->clear();
  for (qsizetype i = 0; i < ProfList.Count(); ++i)
    lbProfiles->addItem(ProfList.Profile(i).ProfileName);
  if (AProfile.isEmpty())
    AProfile = ProfList.DefaultProfile();
  const QString shown = ProfList.DisplayName(AProfile);
  int row = 0;
  for (int i = 0; i < lbProfiles->count(); ++i) {
    if (lbProfiles->item(i)->text() == shown) {
      row = i;
      break;
    }
  }
  if (lbProfiles->count() > 0)
    lbProfiles->setCurrentRow(row);
}

void TSelectProfileDialog::Place(QPoint APos)
{
  adjustSize();
  const QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
  QRect frame(QPoint(), frameGeometry().size());
  if (APos.x() < 0 || APos.y() < 0) {
    frame.moveCenter(area.center());
  } else {
    frame.moveTopLeft(APos);
    // Kept on screen: pushed back from the right and bottom edges, then the left and top.
    if (frame.right() > area.right())
      frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
      frame.moveBottom(area.bottom());
    if (frame.left() < area.left())
      frame.moveLeft(area.left());
    if (frame.top() < area.top())
      frame.moveTop(area.top());
  }
  move(frame.topLeft());
}

QString TSelectProfileDialog::Chosen(const TProfileList& ProfList) const
{
  if (ProfList.IsEmpty())
    return QString();
  const int row = lbProfiles->currentRow();
  return ProfList.Name(row >= 0 && row < ProfList.Count() ? row : 0);
}

bool TSelectProfileDialog::Execute(QPoint APos, TProfileList& ProfList, QString& AProfile)
{
  Prepare(ProfList, AProfile);
  if (gProfileResponder) {
    QStringList items;
    for (int i = 0; i < lbProfiles->count(); ++i)
      items.append(lbProfiles->item(i)->text());
    int index = lbProfiles->currentRow();
    if (!gProfileResponder(items, index))
      return false;
    lbProfiles->setCurrentRow(index);
  } else {
    Place(APos);
    if (exec() != QDialog::Accepted)
      return false;
  }
  AProfile = Chosen(ProfList);
  return true;
}

bool SelectProfile(QWidget* parent, TSelectProfileDialog& dialog, QPoint pos, TProfileList& list, QString& name)
{
  if (list.IsEmpty())
    return false;
  QString chosen = name.isEmpty() ? list.DefaultProfile() : name;
  if (list.Count() == 1) {
    chosen = list.Name(0);
    ardanto::ui::ShowInfo(
        parent, ardanto::FormatText(_("Single Thunderbird profile \"%s\" found!"), {list.GetProfileName(chosen)}));
  } else if (!dialog.Execute(pos, list, chosen)) {
    return false;
  }
  const qsizetype index = list.IndexOf(chosen);
  if (index < 0)
    return false;
  name = list.Name(index);
  return true;
}

} // namespace quillbox
