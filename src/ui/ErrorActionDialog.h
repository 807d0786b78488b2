#pragma once

// Which errors of a backup keep the action after it (shutdown, sleep ...)
// from being carried out: a mask of five error kinds.

#include <QDialog>

#include <array>

class QCheckBox;
class QGroupBox;

namespace ardanto::ui {

// Bit 1 task file not found, 2 destination not accessible, 4 source folder
// not found, 8 invalid task configuration, 16 other errors during the backup.
inline constexpr int kErrorActionMask = 0x1F;

class TErrorActionDialog : public QDialog {
  Q_OBJECT

public:
  TErrorActionDialog(QWidget* parent, const QString& actionName);

  // Ticks the boxes of the bits set in mask.
  void SetMask(int mask);
  // The bits of the ticked boxes.
  int Mask() const;

  // Opens the dialog for the action. On OK the mask's five bits are those of
  // the ticked boxes (other bits stay) and the result is true.
  static bool Execute(QWidget* parent, const QString& actionName, int& mask);

private:
  QGroupBox* gbErrors;
  std::array<QCheckBox*, 5> cbErrors;
};

} // namespace ardanto::ui
