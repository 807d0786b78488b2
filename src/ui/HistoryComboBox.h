#pragma once

// An editable combo box that remembers its last entries, most recent first,
// and where its caret was when the user left it (so a placeholder can be
// inserted there).

#include <QComboBox>
#include <QStringList>

namespace ardanto::ui {

class THistoryComboBox : public QComboBox {
  Q_OBJECT

public:
  explicit THistoryComboBox(QWidget* parent = nullptr);

  QStringList History() const;
  // Shows the entries; the first becomes the text.
  void SetHistory(const QStringList& history);
  // Puts text at the front (moving an equal entry up), keeping MaxHistory().
  void AddToHistory(const QString& text);
  int MaxHistory() const { return FMaxHistory; }
  void SetMaxHistory(int count);

  // Caret position when the user last left the field or pressed a key; -1
  // before that.
  int RememberedCaret() const { return FCaret; }
  // Inserts text at the remembered caret (at the end without one) and focuses.
  void InsertAtCaret(const QString& text);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void leaveEvent(QEvent* event) override;

private:
  void RememberCaret();

  int FMaxHistory = 15;
  int FCaret = -1;
};

} // namespace ardanto::ui
