#pragma once

// The desktop-shortcut dialog: name, description and the options a shortcut
// starts a backup with (status window, action after the backup, errors that
// stop that action).

#include "ui/DesktopIconOptions.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ardanto::ui {

class TDesktopIconDialog : public QDialog {
  Q_OBJECT

public:
  explicit TDesktopIconDialog(QWidget* parent);

  // Shows the dialog for the tasks (items separated by blanks, double quotes
  // grouping one). runAs -1 hides "Run as administrator", else 0 or 1 is its
  // state, in and out. options in: the items the shortcut had, out: the items
  // it is to start with. False on Cancel, and nothing is changed.
  bool Execute(const QString& caption, const QString& tasks, int& runAs, QString& options, QString& description,
               QString& shortcutName);

  // What the controls say now.
  TDesktopIconOptions State() const;
  // Whether "Hybrid shutdown" is offered (the machine can do hybrid sleep).
  bool HybridOffered() const { return FHybridOffered; }

private:
  void ShowState(const TDesktopIconOptions& state);
  void ActionChanged();
  void ErrorActionsClicked();
  void NameChanged();
  TShortcutAction CheckedAction() const;

  bool FHybridOffered = false;
  int FErrorMask = 0;
  QString FKeptOver;

  QLineEdit* leName;
  QLineEdit* leDescription;
  QLineEdit* edTasks;
  QGroupBox* rgStatus;
  std::array<QRadioButton*, kStatusItemCount> rbStatus;
  QCheckBox* cbNoSplash;
  QCheckBox* cbParallel;
  QCheckBox* cbRunAs;
  QCheckBox* cbActionChangeable;
  QGroupBox* gbAction;
  std::array<QRadioButton*, kShortcutActionCount> rbAction;
  QPushButton* btErrorActions;
  QPushButton* FOk;
};

} // namespace ardanto::ui
