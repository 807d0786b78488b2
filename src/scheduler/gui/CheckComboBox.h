#pragma once

// A drop-down list of check boxes, each standing for one bit of a mask; the
// closed box shows the checked items. Clicking an item in the open list
// checks or unchecks it and leaves the list open.

#include <QComboBox>
#include <QList>
#include <QStringList>

namespace ardanto {

class TCheckComboBox : public QComboBox {
  Q_OBJECT

public:
  explicit TCheckComboBox(QWidget* parent = nullptr);

  // One item per text, standing for the bit of the same position in bits.
  void SetItems(const QStringList& texts, const QList<quint32>& bits);
  quint32 Mask() const;
  void SetMask(quint32 mask);
  // The checked items' texts, joined by ", ".
  QString DisplayText() const;
  // Checks or unchecks an item as a click does.
  void ToggleItem(int index);

signals:
  void MaskChanged(quint32 mask);

protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace ardanto
