#pragma once

// The filename filter dialog: off, include or exclude, with masks or a
// regular expression, and a history of expressions kept in the settings file.

#include "common/TextFilter.h"

#include <QDialog>
#include <QPoint>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace ardanto::ui {
class THistoryComboBox;
}

namespace portkeep {

class TFilterDialog : public QDialog {
  Q_OBJECT

public:
  explicit TFilterDialog(QWidget* parent = nullptr);

  // Where every filter dialog keeps its history (file and section).
  static void SetHistoryFile(const QString& iniFile, const QString& section);

  // Shows the dialog for filter; true when closed with OK (filter changed).
  bool Execute(ardanto::TTextFilter& filter, const QString& title, const QString& groupCaption, bool offerRegular,
               bool offerEdit, QPoint position = QPoint(-1, -1));

  // The steps of Execute, for tests that drive the dialog without a modal loop.
  void Prepare(const ardanto::TTextFilter& filter, const QString& title, const QString& groupCaption, bool offerRegular,
               bool offerEdit);
  // Applies the dialog to a copy of the filter; false (and the message shown)
  // when the text is invalid.
  bool Apply(ardanto::TTextFilter& filter);
  void SaveHistory();

private:
  void ApplyEnabling();
  void ModeClicked();
  void RegularClicked();
  void EvaluationClicked();
  void HistoryChosen(int index);
  void EditExpressions();

  QGroupBox* FGroup;
  QRadioButton* rbAll;
  QRadioButton* rbMatching;
  QRadioButton* rbNotMatching;
  ardanto::ui::THistoryComboBox* cbxFilter;
  QLabel* laFilter;
  QCheckBox* cbRegular;
  QGroupBox* rgEvaluate;
  QRadioButton* rbOr;
  QRadioButton* rbAnd;
  QPushButton* btEdit;
  bool FOfferRegular = true;
};

} // namespace portkeep
