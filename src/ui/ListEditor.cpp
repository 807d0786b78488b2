#include "ui/ListEditor.h"

#include "common/Translate.h"
#include "ui/Dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace ardanto::ui {

namespace {
TListResponder gListResponder;
} // namespace

void SetListResponder(TListResponder responder)
{
  gListResponder = std::move(responder);
}

TListEditorDialog::TListEditorDialog(QWidget* parent, const QString& title, const QString& heading,
                                     const QStringList& items, const QStringList& defaults)
  : QDialog(parent), FList(new QListWidget(this)), FDefaults(defaults)
{
  setWindowTitle(title);
  setObjectName(QStringLiteral("ListEditor"));
  auto* label = new QLabel(heading, this);
  label->setBuddy(FList);
  for (const QString& item : items) {
    auto* entry = new QListWidgetItem(item, FList);
    entry->setFlags(entry->flags() | Qt::ItemIsEditable);
  }
  auto* add = new QPushButton(_("&Add"), this);
  FRemove = new QPushButton(_("&Remove"), this);
  FUp = new QPushButton(_("Move &up"), this);
  FDown = new QPushButton(_("Move &down"), this);
  auto* defaultsButton = new QPushButton(_("De&faults"), this);
  defaultsButton->setVisible(!defaults.isEmpty());

  auto* side = new QVBoxLayout;
  for (QPushButton* b : {add, FRemove, FUp, FDown, defaultsButton})
    side->addWidget(b);
  side->addStretch();
  auto* middle = new QHBoxLayout;
  middle->addWidget(FList, 1);
  middle->addLayout(side);

  QDialogButtonBox* buttons = OkCancelButtons(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addLayout(middle);
  layout->addWidget(buttons);

  connect(add, &QPushButton::clicked, this, &TListEditorDialog::AddItem);
  connect(FRemove, &QPushButton::clicked, this, &TListEditorDialog::RemoveItem);
  connect(FUp, &QPushButton::clicked, this, [this] { MoveItem(-1); });
  connect(FDown, &QPushButton::clicked, this, [this] { MoveItem(1); });
  connect(defaultsButton, &QPushButton::clicked, this, &TListEditorDialog::UseDefaults);
  connect(FList, &QListWidget::currentRowChanged, this, &TListEditorDialog::UpdateButtons);
  UpdateButtons();
}

QStringList TListEditorDialog::Items() const
{
  QStringList items;
  for (int i = 0; i < FList->count(); ++i)
    items.append(FList->item(i)->text().trimmed());
  return items;
}

void TListEditorDialog::AddItem()
{
  auto* entry = new QListWidgetItem(QString(), FList);
  entry->setFlags(entry->flags() | Qt::ItemIsEditable);
  FList->setCurrentItem(entry);
  FList->editItem(entry);
}

void TListEditorDialog::RemoveItem()
{
  delete FList->takeItem(FList->currentRow());
  UpdateButtons();
}

void TListEditorDialog::MoveItem(int delta)
{
  const int row = FList->currentRow();
  const int target = row + delta;
  if (row < 0 || target < 0 || target >= FList->count())
    return;
  QListWidgetItem* item = FList->takeItem(row);
  FList->insertItem(target, item);
  FList->setCurrentRow(target);
}

void TListEditorDialog::UseDefaults()
{
  FList->clear();
  for (const QString& item : FDefaults) {
    auto* entry = new QListWidgetItem(item, FList);
    entry->setFlags(entry->flags() | Qt::ItemIsEditable);
  }
  UpdateButtons();
}

void TListEditorDialog::UpdateButtons()
{
  const int row = FList->currentRow();
  FRemove->setEnabled(row >= 0);
  FUp->setEnabled(row > 0);
  FDown->setEnabled(row >= 0 && row < FList->count() - 1);
}

bool TListEditorDialog::Edit(QWidget* parent, const QString& title, const QString& heading, QStringList& items,
                             const QStringList& defaults)
{
  if (gListResponder)
    return gListResponder(title, items);
  TListEditorDialog dialog(parent, title, heading, items, defaults);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  items = dialog.Items();
  return true;
}

} // namespace ardanto::ui
