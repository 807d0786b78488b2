#pragma once

// The schedule wizard: the window in which the user creates or changes the
// scheduled task that backs up one Thunderbird profile unattended. The
// schedule page (the six kinds, each with its step panel) and the user
// account page, with Back, Next/Done and Cancel. The flow and the rules are
// those of scheduler/editor; this window shows the values and asks the
// questions.
//
// The main window creates it once, hands it the scheduler and calls, for the
// profile's task: GetUserTask, GetStatus, RunTask, DeleteTask, and Execute in
// a loop while it returns srRetry (4).

#include "scheduler/editor/ScheduleEditor.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;

namespace ardanto {

class TCheckComboBox;

class TTaskScheduleDialog : public QDialog, private TScheduleEditorView {
  Q_OBJECT

public:
  explicit TTaskScheduleDialog(QWidget* parent);
  // With the machine's facts given, for tests.
  TTaskScheduleDialog(QWidget* parent, TScheduleEnvironment env);
  ~TTaskScheduleDialog() override;

  // The connected scheduler (not owned), or null when it is not available.
  void InitTaskScheduler(TWinTaskScheduler* scheduler) { FEditor.InitTaskScheduler(scheduler); }
  bool IsAvailable() const { return FEditor.IsAvailable(); }
  int GetUserTask(int action, const QString& userId) { return FEditor.GetUserTask(action, userId); }
  QString GetStatus(int index) { return FEditor.GetStatus(index); }
  void RunTask(int index) { FEditor.RunTask(index); }
  void DeleteTask(int index) { FEditor.DeleteTask(index); }
  // 1 registered, 2 cancelled or failed, 4 failed in a way the user can
  // correct: the caller opens the wizard again with the same arguments.
  int Execute(int index, int action, const QString& path, const QString& task, const QString& options, bool retry);

  // The window on values, as Execute opens it, and what the controls hold.
  void ShowValues(const TScheduleValues& values);
  TScheduleValues Values() const;

  // What clicks and picks do, public so that tests drive them.
  void bbBackClick();
  void bbNextClick();
  void KindChosen(TScheduleKind kind);
  void DailyChosen();
  void MonthlyChosen();
  void WeekDayClick(int box);
  void MonthClick(int month);
  void DelayUnitChosen(QSpinBox* number, QComboBox* unit, int picked);
  void LogonChosen();
  void btAdvancedClick();
  void btUserEventClick();
  void btDefaultEventClick();

  bool OnAccountPage() const;

private:
  bool PromptName(const QString& title, const QString& prompt, QString& name) override;
  bool AskYesNo(const QString& text) override;
  void ShowError(const QString& text) override;
  bool EditSchedule(TScheduleValues& values) override;

  void BuildWindow();
  QWidget* BuildDailyPanel();
  QWidget* BuildWeeklyPanel();
  QWidget* BuildMonthlyPanel();
  QWidget* BuildOneTimePanel();
  QWidget* BuildEventPanel();
  QWidget* BuildAccountPage();
  // The start date and time of a panel, kept equal on all panels.
  void AddStart(QWidget* panel, QLayout* layout, int index, QCheckBox* activate = nullptr);
  void StartDateChanged(int from);
  void StartTimeChanged(int from);
  QPushButton* AdvancedButton(QWidget* panel);
  void ShowSchedulePage();
  void UpdateEventPanel();

  TScheduleEditor FEditor;
  TScheduleValues FValues;
  bool FFilling = false;

  QLineEdit* edTaskName;
  QLabel* laSchedule;
  QStackedWidget* pcWizard;
  QWidget* tsSchedule;
  QWidget* tsAccount;
  QGroupBox* rgKind;
  std::array<QRadioButton*, 6> rbKinds;
  QCheckBox* cbEnabled;
  QStackedWidget* pcSteps;
  std::array<QDateEdit*, 5> deStart;
  std::array<QTimeEdit*, 5> teStart;
  // Daily.
  QRadioButton* rbEveryDay;
  QRadioButton* rbEveryDays;
  QSpinBox* edDays;
  // Weekly.
  QSpinBox* edWeeks;
  std::array<QCheckBox*, 7> cbWeekDays;
  // Monthly.
  QRadioButton* rbMonthDays;
  TCheckComboBox* cbxMonthDays;
  QRadioButton* rbMonthOn;
  TCheckComboBox* cbxMonthWeeks;
  TCheckComboBox* cbxMonthWeekDays;
  std::array<QCheckBox*, 12> cbMonths;
  // One time only.
  QCheckBox* cbRandomDelay;
  QSpinBox* edRandomDelay;
  QComboBox* cbxRandomDelayUnit;
  // Logon and wake-up.
  QLabel* laEventTitle;
  QCheckBox* cbActivate;
  QCheckBox* cbDelay;
  QSpinBox* edDelay;
  QComboBox* cbxDelayUnit;
  QLabel* laLogonUser;
  QPushButton* btUserEvent;
  QPushButton* btDefaultEvent;
  // User account.
  QLineEdit* edDescription;
  QRadioButton* rbPasswordUser;
  QRadioButton* rbLoggedOnUser;
  QLineEdit* edUserName;
  QLabel* laPassword;
  QLineEdit* edPassword;
  QCheckBox* cbHighest;

  QPushButton* bbBack;
  QPushButton* bbNext;
  QPushButton* bbCancel;
};

} // namespace ardanto
