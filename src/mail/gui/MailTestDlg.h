#pragma once

// "Mail delivery status": how a test mail went, with the SMTP conversation log
// to show or delete.

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace ardanto {

class TMailTestDialog : public QDialog {
  Q_OBJECT

public:
  // settingsFile: the engine settings file, for the text viewer's place and
  // printer settings.
  TMailTestDialog(QWidget* parent, const QString& message, const QString& logFile, bool error,
                  const QString& settingsFile);

  // Shows the window until the user presses OK.
  static void Show(QWidget* parent, const QString& message, const QString& logFile, bool error,
                   const QString& settingsFile);

  QString Message() const;
  bool IsError() const { return FError; }

  // "Show": the log in the suite's text viewer.
  void btShowClick();
  // "Delete": asks, then deletes the log; nothing when there is no log file.
  void btDeleteClick();

private:
  QString FLogFile;
  QString FSettingsFile;
  bool FError;
  QLabel* laIcon;
  QLabel* laMessage;
  QPushButton* btShow;
  QPushButton* btDelete;
};

} // namespace ardanto
