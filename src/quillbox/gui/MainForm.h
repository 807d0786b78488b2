#pragma once

// Quillbox's main window: the Thunderbird profile, the backup folder, the
// options of the profile's backup task on the pages "Settings" and "Status
// window", and the buttons that back up, restore and schedule. The state
// and its rules live in TProgramState; the window binds controls to it.

#include "quillbox/MailDataView.h"
#include "quillbox/ProgramState.h"
#include "ui/TextViewer.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace ardanto {
class TmMailer;
class TTaskScheduleDialog;
class TWinTaskScheduler;
} // namespace ardanto

namespace ardanto::ui {
class TDirectoryDialog;
}

namespace quillbox {

class TSelectProfileDialog;

class TMainForm : public QMainWindow, private IProgramView, private IMailDataView {
  Q_OBJECT

public:
  // arguments: the command line without the program.
  explicit TMainForm(const QStringList& arguments, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Runs a forced backup when the command line asks for one; true means the
  // program ends now, without showing the window.
  bool CheckForce();

  // Nobody can see the window (no display): every message then carries the
  // program's title, as for an invisible window, and the choices of restore
  // and move are answered "Cancel" on standard error.
  void SetUnattended(bool unattended);

  // The interactive start ended before the window could be used.
  bool Stopped() const { return FStopped; }

  // The state, for the program and for tests.
  TProgramState& State() { return FState; }
  const TProgramState& State() const { return FState; }

  // The handlers of the buttons, callable at once (tests, signals).
  void bbBackupClick();
  void bbQuitClick();
  void bbProfileClick();
  void bbRestoreClick();
  void bbMoveClick();
  void bbShowLogClick();
  void bbShowFilesClick();
  void bbWinTaskClick();
  void bbBackupShortcutClick();
  // Test hook: runs whenever the window processes events while the engine
  // runs or a move copies.
  std::function<void()> OnEngineEvents;
  // Test hook: answers whether Thunderbird runs instead of the processes and
  // the profile's lock.
  std::function<bool(const QStringList& profileFolders)> ThunderbirdProbe;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  // IProgramView
  void ShowError(const QString& text) override;
  bool RetryVolume(const QString& question) override;
  void ProcessEvents() override;
  // IMailDataView (ShowError and ProcessEvents as above)
  bool AskYesNo(const QString& text) override;
  int Choose(TChoice& choice) override;
  bool SelectFolder(const QString& title, const QString& start, QString& folder) override;
  void ShowPlainError(const QString& text) override;
  void ShowInfo(const QString& text) override;
  QString Caption() const override;
  bool ThunderbirdRunning(const QStringList& profileFolders) override;
  ardanto::ui::TDirectoryDialog& DirectoryDialog();

  void BuildWindow();
  void WireControls();
  void FormShow();
  // Ends an interactive start that cannot go on.
  void Stop();
  QPoint DialogPos() const;

  // The task's values into the controls, without the controls' handlers.
  void ShowTask();
  void ShowStatusPage();
  void ShowProfile();
  void ShowExclusions();
  void ShowBackupDir(const QString& text);

  void btDestClick();
  void btnVolumeClick();
  void btnPlaceholderClick();
  void EditExcludedFiles();
  void EditExcludedTypes();
  void bbInfoClick();
  TTaskDialogs Dialogs();

  // The general error display of an event handler.
  void Guard(const std::function<void()>& action);
  // A handler that lets the event loop run (a dialog, the engine): nothing
  // while the window is busy with another one.
  void Exclusive(const std::function<void()>& action);
  bool Busy() const { return FBusy > 0; }
  // A termination signal: quits now, or once the window is no longer busy.
  void QuitRequested();

  TProgramState FState;
  std::unique_ptr<TSelectProfileDialog> FProfileDialog;
  std::unique_ptr<ardanto::ui::TDirectoryDialog> FDirectoryDialog;
  std::unique_ptr<ardanto::TmMailer> FMailer;
  ardanto::ui::TPrinterSettings FPrinter; // of the log viewer, read at start-up
  // The connection to the task scheduler, made once at start-up; a negative
  // status means scheduling is not available.
  std::unique_ptr<ardanto::TWinTaskScheduler> FTaskScheduler;
  std::int32_t FTaskSchedStatus = -1; // an HRESULT
  std::unique_ptr<ardanto::TTaskScheduleDialog> FScheduleDialog;
  bool FShown = false;
  bool FStopped = false;
  bool FUnattended = false;
  bool FFilling = false; // the window sets controls, the user does not
  int FBusy = 0;
  bool FQuitPending = false;
  bool FMoving = false; // a move of the mail data runs

  // Controls.
  QGroupBox* gbProfile;
  QLineEdit* edProfile;
  QPushButton* bbProfile;
  QLineEdit* edMailDir;
  QPushButton* bbShowFiles;
  QLineEdit* leBackupDir;
  QPushButton* btDest;
  QPushButton* btnVolume;
  QPushButton* btnPlaceholder;
  QTabWidget* pcOptions;
  QCheckBox* cbNoCompression;
  QCheckBox* cbCalendar;
  QGroupBox* rgLogFile;
  QRadioButton* rbLogShort;
  QRadioButton* rbLogLong;
  QCheckBox* cbSync;
  QCheckBox* cbRecycler;
  QGroupBox* gbEncrypt;
  QCheckBox* cbFixPassword;
  QPushButton* btPassword;
  QCheckBox* cbSendMail;
  QPushButton* btMail;
  QListWidget* lbExcludedFiles;
  QPushButton* btExcludedFiles;
  QListWidget* lbExcludedTypes;
  QPushButton* btExcludedTypes;
  QListWidget* lbStatusMode;
  QLabel* laWaitTime;
  QSpinBox* edWaitTime;
  QLabel* laSeconds;
  QCheckBox* cbOnTop;
  QGroupBox* gbBackup;
  QPushButton* bbBackup;
  QPushButton* bbWinTask;
  QPushButton* bbBackupShortcut;
  QPushButton* bbShowLog;
  QGroupBox* gbRestore;
  QPushButton* bbRestore;
  QPushButton* bbMove;
  QLabel* laStatus;
  QPushButton* bbInfo;
  QPushButton* bbHelp;
  QPushButton* bbQuit;
};

} // namespace quillbox
