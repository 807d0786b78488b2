#include "scheduler/gui/CheckComboBox.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QStylePainter>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

constexpr int kBitRole = Qt::UserRole + 1;

} // namespace

TCheckComboBox::TCheckComboBox(QWidget* parent) : QComboBox(parent)
{
  setModel(new QStandardItemModel(this));
  view()->viewport()->installEventFilter(this);
  view()->installEventFilter(this);
}

void TCheckComboBox::SetItems(const QStringList& texts, const QList<quint32>& bits)
{
  auto* items = static_cast<QStandardItemModel*>(model());
  items->clear();
  for (qsizetype i = 0; i < texts.size(); ++i) {
    auto* item = new QStandardItem(texts[i]);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setData(Qt::Unchecked, Qt::CheckStateRole);
    item->setData(bits.value(i), kBitRole);
    items->appendRow(item);
  }
  update();
}

quint32 TCheckComboBox::Mask() const
{
  quint32 mask = 0;
  const auto* items = static_cast<const QStandardItemModel*>(model());
  for (int i = 0; i < items->rowCount(); ++i) {
    const QStandardItem* item = items->item(i);
    if (item->checkState() == Qt::Checked)
      mask |= item->data(kBitRole).toUInt();
  }
  return mask;
}

void TCheckComboBox::SetMask(quint32 mask)
{
  auto* items = static_cast<QStandardItemModel*>(model());
  for (int i = 0; i < items->rowCount(); ++i) {
    QStandardItem* item = items->item(i);
    item->setCheckState((mask & item->data(kBitRole).toUInt()) != 0 ? Qt::Checked : Qt::Unchecked);
  }
  update();
}

QString TCheckComboBox::DisplayText() const
{
  QStringList texts;
  const auto* items = static_cast<const QStandardItemModel*>(model());
  for (int i = 0; i < items->rowCount(); ++i) {
    if (items->item(i)->checkState() == Qt::Checked)
      texts.append(items->item(i)->text());
  }
  return texts.join(u", "_s);
}

void TCheckComboBox::ToggleItem(int index)
{
  auto* items = static_cast<QStandardItemModel*>(model());
  QStandardItem* item = items->item(index);
  if (!item)
    return;
  item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  update();
  emit MaskChanged(Mask());
}

void TCheckComboBox::paintEvent(QPaintEvent* /*event*/)
{
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText = DisplayText();
  option.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

bool TCheckComboBox::eventFilter(QObject* watched, QEvent* event)
{
  // The list stays open while items are checked; Escape or a click outside closes it.
  if (watched == view()->viewport() && event->type() == QEvent::MouseButtonRelease) {
    const QModelIndex index = view()->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (index.isValid())
      ToggleItem(index.row());
    return true;
  }
  if (watched == view() && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
      ToggleItem(view()->currentIndex().row());
      return true;
    }
  }
  return QComboBox::eventFilter(watched, event);
}

} // namespace ardanto
