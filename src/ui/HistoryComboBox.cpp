#include "ui/HistoryComboBox.h"

#include "common/IniFileUtils.h"

#include <QEvent>
#include <QLineEdit>

namespace ardanto::ui {

THistoryComboBox::THistoryComboBox(QWidget* parent) : QComboBox(parent)
{
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxVisibleItems(FMaxHistory);
  lineEdit()->installEventFilter(this);
}

QStringList THistoryComboBox::History() const
{
  QStringList items;
  for (int i = 0; i < count(); ++i)
    items.append(itemText(i));
  return items;
}

void THistoryComboBox::SetHistory(const QStringList& history)
{
  clear();
  addItems(history.mid(0, FMaxHistory));
  if (!history.isEmpty())
    setCurrentIndex(0);
}

void THistoryComboBox::AddToHistory(const QString& text)
{
  QStringList items = History();
  ardanto::AddToHistory(items, text, FMaxHistory);
  const QString current = currentText();
  blockSignals(true);
  clear();
  addItems(items);
  setEditText(current);
  blockSignals(false);
}

void THistoryComboBox::SetMaxHistory(int count)
{
  FMaxHistory = count;
  setMaxVisibleItems(count);
}

void THistoryComboBox::RememberCaret()
{
  FCaret = lineEdit()->cursorPosition();
}

void THistoryComboBox::InsertAtCaret(const QString& text)
{
  QString value = currentText();
  const int at = (FCaret < 0 || FCaret > value.size()) ? static_cast<int>(value.size()) : FCaret;
  value.insert(at, text);
  setEditText(value);
  lineEdit()->setCursorPosition(at + static_cast<int>(text.size()));
  FCaret = lineEdit()->cursorPosition();
  setFocus();
}

bool THistoryComboBox::eventFilter(QObject* watched, QEvent* event)
{
  if (watched == lineEdit() && (event->type() == QEvent::KeyRelease || event->type() == QEvent::FocusOut ||
                                event->type() == QEvent::Leave || event->type() == QEvent::MouseButtonRelease))
    RememberCaret();
  return QComboBox::eventFilter(watched, event);
}

void THistoryComboBox::focusOutEvent(QFocusEvent* event)
{
  RememberCaret();
  QComboBox::focusOutEvent(event);
}

void THistoryComboBox::leaveEvent(QEvent* event)
{
  RememberCaret();
  QComboBox::leaveEvent(event);
}

} // namespace ardanto::ui
