#pragma once

// Choosing a placeholder to insert into a path, file name or text.

#include <QDialog>
#include <QPoint>
#include <QStringList>

class QGroupBox;
class QLabel;
class QListWidget;
class QSpinBox;

namespace ardanto::ui {

// Page kinds: which placeholders a field offers.
enum TPlaceholderKind : int {
  pkDateTime = 0,
  pkPath = 1,
  pkMailSubject = 2,
  pkExternalBefore = 3,
  pkExternalAfter = 4,
  pkLogFile = 5,
  pkOtherLogs = 6,
  pkPortable = 7,
};

class TPlaceHolderDialog : public QDialog {
  Q_OBJECT

public:
  // pos: where to open (moved onto the screen); a negative coordinate centres
  // the dialog. actionText names the action on the mail-subject page.
  TPlaceHolderDialog(QWidget* parent, QPoint pos, int kind, const QString& actionText = QString());

  // The chosen placeholder; empty when cancelled.
  QString Execute();

  // Opens the dialog for one use (or asks the test responder).
  static QString Choose(QWidget* parent, QPoint pos, int kind, const QString& actionText = QString());

  // What the dialog shows and would give; for the window and its tests.
  enum TPage {
    pgDate,
    pgTime,
    pgPath,
    pgSystem,
    pgMail,
    pgExternalBefore,
    pgExternalAfter,
    pgLog,
    pgOtherLogs,
    pgPortable
  };
  TPage Page() const { return FPage; }
  QString PageCaption() const;
  QStringList Items() const;
  QString Heading() const;
  void SelectItem(int row);
  bool NumberVisible() const;
  void SetNumber(int value);
  int NumberMaximum() const;
  // The placeholder for the selected item; empty for an item that switches pages.
  QString Result() const;

private:
  void ShowPage(TPage page);
  void ItemChosen(int row);

  TPage FPage = pgDate;
  int FKind;
  QString FActionText;
  QGroupBox* FGroup;
  QLabel* FHeading;
  QListWidget* FList;
  QSpinBox* FNumber;
};

} // namespace ardanto::ui
