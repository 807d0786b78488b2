#pragma once

// The suite's small status window: a title, two lines of text, an optional
// progress bar and an optional "Cancel" button. It is shown without blocking
// while the program works, and closed again by the code that opened it.

#include <QDialog>
#include <QPoint>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ardanto::ui {

class TStatusWindow : public QDialog {
  Q_OBJECT

public:
  explicit TStatusWindow(QWidget* parent = nullptr);

  // Clears the stop flag and shows text in the lower line. The title is set
  // when one is given or the window is not visible yet. A window that is not
  // visible yet is placed at pos (kept on the screen; a negative coordinate
  // centres it) with a bar that runs on its own (progress > 0, the interval),
  // a bar at 0 (progress < 0) or no bar (0). A visible window is repainted.
  void ShowStatus(QPoint pos, const QString& title, int progress, bool withCancel, const QString& text);
  void CloseStatus();

  // Long texts are shortened in the middle to the width of the bar.
  void SetUpperText(const QString& text);
  void SetLowerText(const QString& text);
  QString UpperText() const;
  QString LowerText() const;
  // Clamped to the bar's range.
  void SetProgress(int value);
  int Progress() const;

  // "Cancel" was pressed since the last ShowStatus.
  bool Stopped() const { return FStopped; }

private:
  void SetLine(QLabel* label, const QString& text);

  QLabel* laUpper;
  QLabel* laLower;
  QProgressBar* pbProgress;
  QPushButton* btCancel;
  bool FStopped = false;
};

} // namespace ardanto::ui
