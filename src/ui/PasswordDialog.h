#pragma once

// The new-password dialog: a password typed twice, hidden, with a minimum
// length.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ardanto::ui {

class TNewPasswordDialog : public QDialog {
  Q_OBJECT

public:
  TNewPasswordDialog(QWidget* parent, const QString& title, int minLength);

  QString Password() const;
  // Why OK is not possible yet; empty when it is.
  QString Problem() const;

private:
  void Check();

  int FMinLength;
  QLineEdit* edPassword;
  QLineEdit* edConfirm;
  QLabel* laProblem;
  QPushButton* FOk;
};

// Asks for a new password (or asks the test responder). True and the
// password on OK.
bool NewPassword(QWidget* parent, const QString& title, QString& password, int minLength = 8);

} // namespace ardanto::ui
