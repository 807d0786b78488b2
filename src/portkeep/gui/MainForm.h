#pragma once

// Portkeep's main window: devices, their folders and files, the destination,
// the options of a backup, its task file, and the progress box every
// operation writes to.

#include "portkeep/BackupRun.h"
#include "portkeep/Startup.h"
#include "portkeep/TaskSettings.h"
#include "portkeep/WindowRules.h"
#include "ui/BusyGuard.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>

#include <chrono>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace ardanto {
class IDevicePlatform;
class TPortableDevice;
class TPortableDeviceManager;
class TPortableDeviceObject;
namespace ui {
class THistoryComboBox;
}
} // namespace ardanto

namespace portkeep {

class TMainForm : public QMainWindow, private IRunView {
  Q_OBJECT

public:
  // arguments: the command line without the program; platform: how devices
  // are reached (folders and MTP in the program, fakes in tests).
  TMainForm(const QStringList& arguments, std::shared_ptr<ardanto::IDevicePlatform> platform,
            QWidget* parent = nullptr);
  ~TMainForm() override;

  // Window-state seams for tests.
  const TCommandLine& CommandLine() const { return FCommandLine; }
  const TPortkeepFolders& Folders() const { return FFolders; }
  const TTaskState& Task() const { return FTask; }
  TTaskSettings CurrentSettings();
  QStringList ProgressLines() const;
  bool Running() const { return FRunning; }
  ardanto::TPortableDevice* Device() const { return FDevice; }
  // Entry points: each does nothing (false) while the window is busy.
  // The start timer's work, callable at once (tests).
  void tmStartTimerTimer();
  // Loads the device list (with a header line when not empty). With
  // autoSelect, the device of the task or else a lone device is selected.
  void LoadDeviceList(const QString& header = QString(), bool autoSelect = false);
  void SelectDevice(int row);
  bool LoadTask(const QString& fileName);
  // False when the file could not be written (the error is shown).
  bool SaveTask(const QString& fileName);
  // The button: clears the progress box and runs.
  void StartBackup();
  // No one can see the window or answer it (no display): an automatic run
  // with "close" that cannot start ends the program with its log.
  void SetUnattended(bool unattended) { FUnattended = unattended; }
  // Test hook: how many events the window processed while a run was going.
  std::function<void()> OnRunEvent;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // IRunView
  void AddLine(int indent, const QString& text) override;
  void ShowFolder(const QString& path) override;
  void ProcessEvents() override;
  void ShowProgress(const TRunProgress& progress) override;
  bool CancelRequested() override;
  void CancelRun();
  void ApplyRunProgress();
  // After a run, also one that broke off.
  void EndRun();

  void BuildWindow();
  void FormCreate();
  void FormShow();
  void ReplaceLastLine(const QString& text);
  void SetCaption(const QString& taskDisplayName);
  void ApplySettingsToControls();
  void ReadControlsIntoSettings();
  void MarkChanged();
  void UpdateTaskButtons();
  void SetRunning(bool running);

  // Devices and their content.
  bool EnsureManager();
  void ForgetDevice();
  void ShowDeviceProperties();
  bool ReadTree(bool showErrors);
  void ShowTree();
  void AddChildNodes(QTreeWidgetItem* node);
  void NodeExpanded(QTreeWidgetItem* node);
  // Selects the folders a task names, in that order, expanding the tree down
  // to them; a folder not found gets a line of its own.
  void SelectStoredFolders(const QStringList& paths);
  void ShowFiles(QTreeWidgetItem* node);
  std::vector<ardanto::TPortableDeviceObject*> SelectedFolders() const;
  QStringList SelectedPaths() const;
  QList<int> SelectedIndexes() const;
  void FileHeaderClicked(int column);
  void SortFiles();

  // Options.
  void ShowCompressionControls();
  void EditNoCompTypes();
  void ShowNoCompTypes();
  void ChooseDestination();
  void InsertPlaceholder();
  void ShowFilter();
  void EditFilter();
  void ShowTimeSlot();
  void ReadTimeSlotBack();
  void LayoutTimeSlot();
  void TimeModeChosen(int index);
  void FromChanged();
  void ToChanged();

  // Task buttons and others.
  void OpenTask();
  bool SaveTaskClicked();
  bool SaveTaskAs();
  int AskSaveChanged();
  void CreateShortcut();
  void ResetSettings();
  void ShowVersionInfo();
  void CopyProgress();
  // automatic: started with the task from the command line.
  void RunBackup(bool automatic);
  // The start timer's work; these return whether the program ends now.
  bool StartTask();
  bool AutomaticRun();
  // Writes the log of an automatic run (to the output when the file cannot
  // be written and nobody sees the window).
  bool WriteAutomaticLog();
  ardanto::TPortableDevice* OpenTaskDevice(const QString& name);
  // The general error display of an event handler.
  void Guard(const std::function<void()>& action);
  // An event handler that reaches the device or lets the event loop run (a
  // dialog): nothing when the window is busy, otherwise busy while it runs.
  void Exclusive(const std::function<void()>& action);
  // Whatever the window is doing that lets events in: reading a tree, a run,
  // a task being loaded, a dialog. The entry points (the start timer, the
  // device list, a device, a task, a run, tree expansion, the dialogs) do
  // nothing while it is held, so that nothing closes the device under it.
  bool Busy() const { return FBusy > 0; }
  using TBusyGuard = ardanto::ui::TBusyGuard;
  // Internal steps of the entry points, run while the guard is held.
  void ReadDeviceList(const QString& header, bool autoSelect);
  void OpenListedDevice(int row);
  bool LoadTaskFile(const QString& fileName);
  // Expands a node as the window's own step (the signal would be refused
  // while busy).
  void ExpandNode(QTreeWidgetItem* node);

  // State.
  TCommandLine FCommandLine;
  TPortkeepFolders FFolders;
  TTaskSettings FSettings;
  TProgramSettings FProgram;
  TTaskState FTask;
  QString ProgTitle;
  QString ProgVersion;
  QString ProgVersName;
  QString ProgVersDate;
  QString EnginePath;
  QDateTime StartTime;
  std::shared_ptr<ardanto::IDevicePlatform> FPlatform;
  std::unique_ptr<ardanto::TPortableDeviceManager> DevManager;
  ardanto::TPortableDevice* FDevice = nullptr;
  int FBusy = 0;
  bool FRunning = false;
  bool FCancelRequested = false;
  bool FCloseAfterRun = false; // closing was asked for during the run
  TRunProgress FProgress;
  std::chrono::steady_clock::time_point FLastEvents; // of a run
  mutable QStringList FPendingLines;                 // of a run, not yet in the progress box
  std::chrono::steady_clock::time_point FLastShown;  // a run's lines and progress last brought into the window
  bool FShown = false;
  bool FUnattended = false;
  QString FHeader;                             // first line of the progress box in an automatic run
  QString FLoadFailure;                        // why the last LoadTask failed
  QHash<QString, QString> FListedDescriptions; // device identifier -> description, of the listed devices
  bool FLoading = false;                       // controls are being filled, not changed by the user
  TFileSort FSort;                             // the file list's, names A to Z at first
  QList<int> FSelectionOrder;                  // object indexes, in the order they were selected
  // The device and folders a task names, kept from loading (or from the tree
  // when its device goes) until the user chooses others: a reloaded list or
  // a device that is away must not empty the task.
  struct TKeptSelection {
    QString DeviceName;
    QStringList Dirs;
    bool Valid = false;
  } FKept;
  bool FFillingTree = false; // selection changes come from the window, not the user

  // Controls.
  QLabel* laDevices;
  QListWidget* lbDevices;
  QPushButton* btReload;
  QLabel* imWarning;
  QGroupBox* gbDevice;
  QLabel* laManufacturer;
  QLabel* laType;
  QLabel* laDescription;
  QLabel* laPower;
  QLabel* laFirmware;
  QTreeWidget* tvFolders;
  QTreeWidget* lvFiles;
  ardanto::ui::THistoryComboBox* cbxDestination;
  QPushButton* btDestination;
  QPushButton* btPlaceholder;
  QGroupBox* gbFileProcessing;
  QCheckBox* cbCompress;
  QCheckBox* cbZip;
  QLabel* laNoComp;
  QListWidget* lbNoComp;
  QPushButton* btNoComp;
  QGroupBox* rgOverwrite;
  QRadioButton* rbOverwrite[3];
  QCheckBox* cbArchive;
  QGroupBox* gbTimeSlot;
  QComboBox* cbxTimeMode;
  QLabel* laFrom;
  QLabel* laTo;
  QDateTimeEdit* edFrom;
  QDateTimeEdit* edTo;
  QSpinBox* edDays;
  QLabel* laDays;
  QGroupBox* gbFilter;
  QLineEdit* edFilter;
  QLabel* laRegular;
  QPushButton* btFilter;
  QPushButton* bbOpen;
  QPushButton* bbSave;
  QPushButton* bbSaveAs;
  QPushButton* bbShortcut;
  QPushButton* bbReset;
  QPushButton* bbBackup;
  QLineEdit* edFolder;
  QPushButton* bbCancel;
  QProgressBar* pbRun;
  QProgressBar* pbFile;
  QLabel* laRate;
  QPushButton* bbInfo;
  QPushButton* bbHelp;
  QPushButton* bbQuit;
  QLabel* laStatus;
  QPlainTextEdit* mmProgress;
  QPushButton* btCopy;
  QTimer* tmStartTimer;
  QString FDateFormat;
  QString FTimeFormat;
};

} // namespace portkeep
