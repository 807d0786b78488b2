#include "quillbox/gui/MainForm.h"

#include "common/CommaText.h"
#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "common/VolumePaths.h"
#include "mail/MailTest.h"
#include "mail/gui/BuMailDlg.h"
#include "mail/mMailer10.h"
#include "platform/DesktopEntry.h"
#include "quillbox/MoveProfile.h"
#include "quillbox/RestoreRun.h"
#include "quillbox/ThunderbirdRunning.h"
#include "quillbox/gui/ChoiceDlg.h"
#include "quillbox/gui/SelectProfileDlg.h"
#include "scheduler/WinTask.h"
#include "scheduler/gui/TaskSchedDlg.h"
#include "ui/Application.h"
#include "ui/BusyGuard.h"
#include "ui/DesktopIconDialog.h"
#include "ui/Dialogs.h"
#include "ui/DirectoryDialog.h"
#include "ui/HelpKeys.h"
#include "ui/ListEditor.h"
#include "ui/PasswordDialog.h"
#include "ui/PlaceHolderDialog.h"
#include "ui/ShowFilesDialog.h"
#include "ui/TextViewer.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace quillbox {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

const QString kHelpPage = u"ardanto-quill.html"_s;

QPushButton* Button(QWidget* parent, const char* name, const QString& text, const QString& hint,
                    QStyle::StandardPixmap icon = QStyle::SP_CustomBase)
{
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1StringView(name));
  button->setToolTip(hint);
  if (icon != QStyle::SP_CustomBase)
    button->setIcon(parent->style()->standardIcon(icon));
  return button;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& text)
{
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QLatin1StringView(name));
  return box;
}

QLineEdit* ReadOnlyField(QWidget* parent, const char* name)
{
  auto* field = new QLineEdit(parent);
  field->setObjectName(QLatin1StringView(name));
  field->setReadOnly(true);
  return field;
}

void FillList(QListWidget* list, const QString& commaText)
{
  list->clear();
  QStringList items = CommaTextSplit(commaText);
  items.removeAll(QString());
  list->addItems(items);
}

// The status-window modes in the order of their indexes.
QStringList StatusModeTexts()
{
  return {_("Wait for prompt"), _("Close automatically"), _("Not visible"), _("Wait only on error"),
          _("Not visible except on errors")};
}

// Holds a flag for a scope: while the window fills its controls, while a
// move runs.
class TFilling {
public:
  explicit TFilling(bool& flag) : FFlag(flag), FOld(flag) { FFlag = true; }
  ~TFilling() { FFlag = FOld; }
  TFilling(const TFilling&) = delete;
  TFilling& operator=(const TFilling&) = delete;

private:
  bool& FFlag;
  bool FOld;
};

} // namespace

// ---------------------------------------------------------------------------
// Creation

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent) : QMainWindow(parent), FState(*this)
{
  setObjectName(u"MainForm"_s);
  BuildWindow();
  FState.Create(arguments);
  FPrinter = ui::ReadPrinterSettings(FState.EngineSettingsFile);
  FTaskSchedStatus = ConnectTaskScheduler(FTaskScheduler);
  FScheduleDialog = std::make_unique<TTaskScheduleDialog>(this);
  FProfileDialog = std::make_unique<TSelectProfileDialog>(this);
  setWindowTitle(FState.ProgTitle + u" - "_s + _("Backup of Thunderbird mail data"));
  if (FState.Top >= 0 && FState.Left >= 0)
    move(FState.Left, FState.Top);
  {
    const TFilling filling(FFilling);
    ShowBackupDir(FState.DestDir);
    ShowTask();
    ShowStatusPage();
  }
  WireControls();
}

TMainForm::~TMainForm()
{
  // Hiding the window as QWidget goes takes the focus from the folder field,
  // which would finish its editing on a form that is no longer there.
  disconnect(leBackupDir, nullptr, this, nullptr);
  if (FUnattended)
    SetChoiceResponder({});
}

void TMainForm::SetUnattended(bool unattended)
{
  FUnattended = unattended;
  if (unattended) {
    SetChoiceResponder([](TChoice& choice) {
      ui::PrintUnattended(choice.Text, u"Cancel"_s);
      return -1;
    });
  } else {
    SetChoiceResponder({});
  }
}

bool TMainForm::CheckForce()
{
  bool ended = false;
  Guard([this, &ended] { ended = FState.CheckForce(); });
  return ended || FState.Force;
}

void TMainForm::BuildWindow()
{
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // The profile and its folder.
  gbProfile = new QGroupBox(_("Thunderbird"), central);
  gbProfile->setObjectName(u"gbProfile"_s);
  auto* laProfile = new QLabel(_("Mail profile"), gbProfile);
  laProfile->setObjectName(u"laProfile"_s);
  edProfile = ReadOnlyField(gbProfile, "edProfile");
  laProfile->setBuddy(edProfile);
  bbProfile = Button(gbProfile, "bbProfile", _("Select…"), _("Select Thunderbird profile"), QStyle::SP_DirHomeIcon);
  auto* laMailDir = new QLabel(_("Mail directory"), gbProfile);
  edMailDir = ReadOnlyField(gbProfile, "edMailDir");
  laMailDir->setBuddy(edMailDir);
  bbShowFiles = Button(gbProfile, "bbShowFiles", _("Show files"), _("Show files"), QStyle::SP_FileDialogContentsView);
  auto* profileGrid = new QGridLayout(gbProfile);
  profileGrid->addWidget(laProfile, 0, 0);
  profileGrid->addWidget(edProfile, 0, 1);
  profileGrid->addWidget(bbProfile, 0, 2);
  profileGrid->addWidget(laMailDir, 1, 0);
  profileGrid->addWidget(edMailDir, 1, 1);
  profileGrid->addWidget(bbShowFiles, 1, 2);
  profileGrid->setColumnStretch(1, 1);

  // The backup folder.
  auto* gbDestination = new QGroupBox(_("Backup directory"), central);
  gbDestination->setObjectName(u"gbDestination"_s);
  leBackupDir = new QLineEdit(gbDestination);
  leBackupDir->setObjectName(u"leBackupDir"_s);
  leBackupDir->setToolTip(_("Directory to which the mail data are backed up"));
  btDest = Button(gbDestination, "btDest", QString(), _("Select backup directory"), QStyle::SP_DirOpenIcon);
  btnVolume = Button(gbDestination, "btnVolume", QString(), _("Use volume name instead of drive letter"),
                     QStyle::SP_DriveHDIcon);
  btnPlaceholder = Button(gbDestination, "btnPlaceholder", u"%"_s, _("Insert placeholder"));
  for (QPushButton* b : {btDest, btnVolume, btnPlaceholder})
    b->setFixedWidth(b->sizeHint().height() + 8);
  auto* destinationRow = new QHBoxLayout(gbDestination);
  destinationRow->addWidget(leBackupDir, 1);
  destinationRow->addWidget(btDest);
  destinationRow->addWidget(btnVolume);
  destinationRow->addWidget(btnPlaceholder);

  // Page "Settings".
  pcOptions = new QTabWidget(central);
  pcOptions->setObjectName(u"pcOptions"_s);
  auto* tsSettings = new QWidget(pcOptions);
  tsSettings->setObjectName(u"tsSettings"_s);

  auto* gbOptions = new QGroupBox(_("Backup options"), tsSettings);
  gbOptions->setObjectName(u"gbOptions"_s);
  cbNoCompression = CheckBox(gbOptions, "cbNoCompression", _("No compression"));
  cbNoCompression->setToolTip(_("Copy the files as they are instead of packing each into a zip file"));
  cbCalendar = CheckBox(gbOptions, "cbCalendar", _("Include calendar data"));
  cbSync = CheckBox(gbOptions, "cbSync", _("Synchronize backup directory"));
  cbSync->setToolTip(_("Remove files from the backup that are no longer in the mail profile"));
  cbRecycler = CheckBox(gbOptions, "cbRecycler", _("Use Recycle Bin"));
  cbRecycler->setToolTip(_("Move removed files to the trash instead of deleting them"));
  rgLogFile = new QGroupBox(_("Log file"), gbOptions);
  rgLogFile->setObjectName(u"rgLogFile"_s);
  rgLogFile->setToolTip(_("Log file"));
  rbLogShort = new QRadioButton(_("Short"), rgLogFile);
  rbLogShort->setObjectName(u"rbLogShort"_s);
  rbLogLong = new QRadioButton(_("Long"), rgLogFile);
  rbLogLong->setObjectName(u"rbLogLong"_s);
  auto* logRow = new QHBoxLayout(rgLogFile);
  logRow->addWidget(rbLogShort);
  logRow->addWidget(rbLogLong);
  logRow->addStretch();
  auto* optionColumn = new QVBoxLayout(gbOptions);
  optionColumn->addWidget(cbNoCompression);
  optionColumn->addWidget(cbCalendar);
  optionColumn->addWidget(cbSync);
  auto* recyclerRow = new QHBoxLayout;
  recyclerRow->addSpacing(20);
  recyclerRow->addWidget(cbRecycler);
  optionColumn->addLayout(recyclerRow);
  optionColumn->addWidget(rgLogFile);
  optionColumn->addStretch();

  gbEncrypt = new QGroupBox(_("Encrypt files"), tsSettings);
  gbEncrypt->setObjectName(u"gbEncrypt"_s);
  gbEncrypt->setCheckable(true);
  cbFixPassword = CheckBox(gbEncrypt, "cbFixPassword", _("Use fixed password"));
  cbFixPassword->setToolTip(_("Store the password in the task, so that unattended backups can encrypt"));
  btPassword = Button(gbEncrypt, "btPassword", _("Password…"), _("Enter fixed password for this task"));
  auto* encryptColumn = new QVBoxLayout(gbEncrypt);
  encryptColumn->addWidget(cbFixPassword);
  encryptColumn->addWidget(btPassword, 0, Qt::AlignLeft);
  encryptColumn->addStretch();

  auto* gbMail = new QGroupBox(_("Notification"), tsSettings);
  gbMail->setObjectName(u"gbMail"_s);
  cbSendMail = CheckBox(gbMail, "cbSendMail", _("Send mail after backup"));
  cbSendMail->setToolTip(_("Send mail after backup"));
  btMail = Button(gbMail, "btMail", _("Edit"), _("Edit mail settings"));
  auto* mailRow = new QHBoxLayout(gbMail);
  mailRow->addWidget(cbSendMail);
  mailRow->addStretch();
  mailRow->addWidget(btMail);

  auto* gbExcluded = new QGroupBox(_("Excluded from the backup"), tsSettings);
  gbExcluded->setObjectName(u"gbExcluded"_s);
  auto* laFiles = new QLabel(_("Files:"), gbExcluded);
  lbExcludedFiles = new QListWidget(gbExcluded);
  lbExcludedFiles->setObjectName(u"lbExcludedFiles"_s);
  lbExcludedFiles->setSelectionMode(QAbstractItemView::NoSelection);
  laFiles->setBuddy(lbExcludedFiles);
  btExcludedFiles = Button(gbExcluded, "btExcludedFiles", u"…"_s, _("Edit list of files to be excluded"));
  auto* laTypes = new QLabel(_("File types:"), gbExcluded);
  lbExcludedTypes = new QListWidget(gbExcluded);
  lbExcludedTypes->setObjectName(u"lbExcludedTypes"_s);
  lbExcludedTypes->setSelectionMode(QAbstractItemView::NoSelection);
  laTypes->setBuddy(lbExcludedTypes);
  btExcludedTypes = Button(gbExcluded, "btExcludedTypes", u"…"_s, _("Edit list of file types to be excluded"));
  for (QPushButton* b : {btExcludedFiles, btExcludedTypes})
    b->setFixedWidth(b->sizeHint().height() + 8);
  auto* excludedGrid = new QGridLayout(gbExcluded);
  excludedGrid->addWidget(laFiles, 0, 0);
  excludedGrid->addWidget(laTypes, 0, 2);
  excludedGrid->addWidget(lbExcludedFiles, 1, 0);
  excludedGrid->addWidget(btExcludedFiles, 1, 1, Qt::AlignTop);
  excludedGrid->addWidget(lbExcludedTypes, 1, 2);
  excludedGrid->addWidget(btExcludedTypes, 1, 3, Qt::AlignTop);
  excludedGrid->setColumnStretch(0, 1);
  excludedGrid->setColumnStretch(2, 1);

  auto* settingsGrid = new QGridLayout(tsSettings);
  settingsGrid->addWidget(gbOptions, 0, 0, 2, 1);
  settingsGrid->addWidget(gbEncrypt, 0, 1);
  settingsGrid->addWidget(gbMail, 1, 1);
  settingsGrid->addWidget(gbExcluded, 0, 2, 2, 1);
  settingsGrid->setColumnStretch(2, 1);
  pcOptions->addTab(tsSettings, _("Settings"));

  // Page "Status window".
  auto* tsStatus = new QWidget(pcOptions);
  tsStatus->setObjectName(u"tsStatus"_s);
  auto* laStatusMode = new QLabel(_("Status window of the backup:"), tsStatus);
  lbStatusMode = new QListWidget(tsStatus);
  lbStatusMode->setObjectName(u"lbStatusMode"_s);
  lbStatusMode->addItems(StatusModeTexts());
  lbStatusMode->setToolTip(_("How Ardanto shows the progress of a backup"));
  laStatusMode->setBuddy(lbStatusMode);
  laWaitTime = new QLabel(_("Status display time:"), tsStatus);
  edWaitTime = new QSpinBox(tsStatus);
  edWaitTime->setObjectName(u"edWaitTime"_s);
  edWaitTime->setRange(1, 99);
  edWaitTime->setToolTip(_("Seconds the status window stays open after the backup"));
  laWaitTime->setBuddy(edWaitTime);
  laSeconds = new QLabel(_("s"), tsStatus);
  cbOnTop = CheckBox(tsStatus, "cbOnTop", _("Show always on top"));
  auto* waitRow = new QHBoxLayout;
  waitRow->addWidget(laWaitTime);
  waitRow->addWidget(edWaitTime);
  waitRow->addWidget(laSeconds);
  waitRow->addStretch();
  auto* statusColumn = new QVBoxLayout;
  statusColumn->addLayout(waitRow);
  statusColumn->addWidget(cbOnTop);
  statusColumn->addStretch();
  auto* statusGrid = new QGridLayout(tsStatus);
  statusGrid->addWidget(laStatusMode, 0, 0);
  statusGrid->addWidget(lbStatusMode, 1, 0);
  statusGrid->addLayout(statusColumn, 1, 1);
  statusGrid->setColumnStretch(1, 1);
  // The field keeps its place while it is hidden: nothing moves.
  for (QWidget* w : std::initializer_list<QWidget*>{laWaitTime, edWaitTime, laSeconds}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }
  pcOptions->addTab(tsStatus, _("Status window"));

  // Backup, restore and the unattended starts.
  gbBackup = new QGroupBox(_("Backup mail data"), central);
  gbBackup->setObjectName(u"gbBackup"_s);
  bbBackup = Button(gbBackup, "bbBackup", _("Start backup"), _("Start backup"), QStyle::SP_MediaPlay);
  bbWinTask =
      Button(gbBackup, "bbWinTask", _("Schedule…"), _("Create Windows Scheduled Task"), QStyle::SP_BrowserReload);
  bbBackupShortcut = Button(gbBackup, "bbBackupShortcut", _("Shortcut…"), _("Create Desktop shortcut to start backup"),
                            QStyle::SP_DesktopIcon);
  bbShowLog = Button(gbBackup, "bbShowLog", _("Log"), _("Show backup log file"), QStyle::SP_FileDialogDetailedView);
  auto* backupRow = new QHBoxLayout(gbBackup);
  for (QPushButton* b : {bbBackup, bbWinTask, bbBackupShortcut, bbShowLog})
    backupRow->addWidget(b);

  gbRestore = new QGroupBox(_("Restore mail data"), central);
  gbRestore->setObjectName(u"gbRestore"_s);
  bbRestore = Button(gbRestore, "bbRestore", _("Start restore"), _("Start restore"), QStyle::SP_BrowserReload);
  bbMove = Button(gbRestore, "bbMove", _("Move…"), _("Move mail data"), QStyle::SP_FileDialogNewFolder);
  auto* restoreRow = new QHBoxLayout(gbRestore);
  restoreRow->addWidget(bbRestore);
  restoreRow->addWidget(bbMove);

  // The bottom line.
  laStatus = new QLabel(central);
  laStatus->setObjectName(u"laStatus"_s);
  laStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  bbInfo = Button(central, "bbInfo", QString(), _("Info about the program"), QStyle::SP_MessageBoxInformation);
  bbHelp = Button(central, "bbHelp", QString(), _("Program help"), QStyle::SP_DialogHelpButton);
  bbQuit = Button(central, "bbQuit", _("Quit"), _("Quit program and save settings"), QStyle::SP_DialogCloseButton);

  auto* actions = new QHBoxLayout;
  actions->addWidget(gbBackup, 3);
  actions->addWidget(gbRestore, 2);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(laStatus, 1);
  bottom->addWidget(bbInfo);
  bottom->addWidget(bbHelp);
  bottom->addWidget(bbQuit);

  auto* layout = new QVBoxLayout(central);
  layout->addWidget(gbProfile);
  layout->addWidget(gbDestination);
  layout->addWidget(pcOptions, 1);
  layout->addLayout(actions);
  layout->addLayout(bottom);

  // Static texts and read-only fields become tab stops for screen readers.
  if (QAccessible::isActive()) {
    for (QLabel* label : central->findChildren<QLabel*>())
      label->setFocusPolicy(Qt::TabFocus);
  }
  resize(940, 640);
}

void TMainForm::WireControls()
{
  connect(bbProfile, &QPushButton::clicked, this, [this] { Exclusive([this] { bbProfileClick(); }); });
  connect(leBackupDir, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!FFilling)
      FState.SetDestDir(text, false);
  });
  // A volume that is not mounted is asked for once the text is complete.
  connect(leBackupDir, &QLineEdit::editingFinished, this,
          [this] { Exclusive([this] { FState.SetDestDir(leBackupDir->text(), true); }); });
  connect(btDest, &QPushButton::clicked, this, [this] { Exclusive([this] { btDestClick(); }); });
  connect(btnVolume, &QPushButton::clicked, this, [this] { Exclusive([this] { btnVolumeClick(); }); });
  connect(btnPlaceholder, &QPushButton::clicked, this, [this] { Exclusive([this] { btnPlaceholderClick(); }); });

  connect(cbNoCompression, &QCheckBox::toggled, this, [this](bool on) {
    if (!FFilling)
      FState.Task.NoCompression = on;
  });
  connect(cbCalendar, &QCheckBox::toggled, this, [this](bool on) {
    if (!FFilling)
      FState.Task.IncludeCalendar = on;
  });
  connect(rbLogLong, &QRadioButton::toggled, this, [this](bool on) {
    if (!FFilling)
      FState.Task.LogKind = on ? lkLong : lkShort;
  });
  connect(cbSync, &QCheckBox::clicked, this, [this](bool on) {
    SynchronizeChanged(FState.Task, on);
    ShowTask();
  });
  connect(cbRecycler, &QCheckBox::clicked, this, [this](bool on) {
    UseRecyclerChanged(FState.Task, on);
    ShowTask();
  });
  connect(gbEncrypt, &QGroupBox::clicked, this, [this](bool on) {
    EncryptFilesChanged(FState.Task, on);
    ShowTask();
  });
  connect(cbFixPassword, &QCheckBox::clicked, this, [this](bool on) {
    Exclusive([this, on] { FixedPasswordChanged(FState.Task, on, true, Dialogs()); });
    ShowTask();
  });
  connect(btPassword, &QPushButton::clicked, this,
          [this] { Exclusive([this] { EnterPasswordClick(FState.Task, Dialogs()); }); });
  connect(cbSendMail, &QCheckBox::clicked, this, [this](bool on) {
    Exclusive([this, on] { SendMailChanged(FState.Task, on, Dialogs()); });
    ShowTask();
  });
  connect(btMail, &QPushButton::clicked, this, [this] {
    Exclusive([this] { EditMailClick(FState.Task, Dialogs()); });
    ShowTask();
  });
  connect(btExcludedFiles, &QPushButton::clicked, this, [this] { Exclusive([this] { EditExcludedFiles(); }); });
  connect(btExcludedTypes, &QPushButton::clicked, this, [this] { Exclusive([this] { EditExcludedTypes(); }); });

  connect(lbStatusMode, &QListWidget::currentRowChanged, this, [this](int row) {
    if (FFilling || row < 0)
      return;
    FState.StatusWindow = row;
    ShowStatusPage();
  });
  connect(edWaitTime, qOverload<int>(&QSpinBox::valueChanged), this, [this](int value) {
    if (!FFilling)
      FState.WaitTime = value;
  });
  connect(cbOnTop, &QCheckBox::toggled, this, [this](bool on) { FState.OnTop = on; });

  connect(bbBackup, &QPushButton::clicked, this, [this] { bbBackupClick(); });
  connect(bbRestore, &QPushButton::clicked, this, [this] { bbRestoreClick(); });
  connect(bbMove, &QPushButton::clicked, this, [this] { bbMoveClick(); });
  connect(bbWinTask, &QPushButton::clicked, this, [this] { Exclusive([this] { bbWinTaskClick(); }); });
  connect(bbBackupShortcut, &QPushButton::clicked, this, [this] { Exclusive([this] { bbBackupShortcutClick(); }); });
  connect(bbShowFiles, &QPushButton::clicked, this, [this] { Exclusive([this] { bbShowFilesClick(); }); });
  connect(bbShowLog, &QPushButton::clicked, this, [this] { Exclusive([this] { bbShowLogClick(); }); });
  connect(bbInfo, &QPushButton::clicked, this, [this] { Exclusive([this] { bbInfoClick(); }); });
  connect(bbHelp, &QPushButton::clicked, this, [this] { ui::OpenHelp(this, kHelpPage); });
  connect(bbQuit, &QPushButton::clicked, this, [this] { bbQuitClick(); });
  new ui::THelpKeys(this, kHelpPage);
}

// ---------------------------------------------------------------------------
// The view of the state

void TMainForm::ShowError(const QString& text)
{
  if (isVisible() && !FUnattended)
    ui::ShowError(this, text);
  else
    ui::ShowError(nullptr, FState.ProgTitle + u"\r\n"_s + text);
}

bool TMainForm::RetryVolume(const QString& question)
{
  ui::TQuestion ask;
  ask.Kind = ui::TMessageKind::Warning;
  ask.Title = FState.ProgTitle;
  ask.Text = question;
  ask.Buttons = ui::dbRetry | ui::dbCancel;
  ask.Default = ui::dbRetry;
  return ui::Ask(isVisible() ? this : nullptr, ask) == ui::dbRetry;
}

void TMainForm::ProcessEvents()
{
  QApplication::processEvents();
  if (OnEngineEvents)
    OnEngineEvents();
}

bool TMainForm::AskYesNo(const QString& text)
{
  return ui::AskYesNo(isVisible() ? this : nullptr, FState.ProgTitle, text);
}

int TMainForm::Choose(TChoice& choice)
{
  return ShowChoice(isVisible() ? this : nullptr, choice);
}

bool TMainForm::SelectFolder(const QString& title, const QString& start, QString& folder)
{
  return DirectoryDialog().Execute(this, title, start, folder);
}

void TMainForm::ShowPlainError(const QString& text)
{
  ui::ShowError(nullptr, text);
}

void TMainForm::ShowInfo(const QString& text)
{
  ui::ShowInfo(isVisible() ? this : nullptr, text);
}

QString TMainForm::Caption() const
{
  return windowTitle();
}

bool TMainForm::ThunderbirdRunning(const QStringList& profileFolders)
{
  if (ThunderbirdProbe)
    return ThunderbirdProbe(profileFolders);
  return quillbox::ThunderbirdRunning(profileFolders);
}

ui::TDirectoryDialog& TMainForm::DirectoryDialog()
{
  if (!FDirectoryDialog)
    FDirectoryDialog = std::make_unique<ui::TDirectoryDialog>(FState.IniName, u"Directories"_s);
  return *FDirectoryDialog;
}

void TMainForm::Guard(const std::function<void()>& action)
{
  // The window's general error display: no exception leaves an event handler.
  try {
    action();
  } catch (const EArdantoError& e) {
    ShowError(e.Message());
  } catch (const std::exception& e) {
    ShowError(QString::fromLocal8Bit(e.what()));
  }
}

void TMainForm::Exclusive(const std::function<void()>& action)
{
  if (Busy())
    return;
  {
    const ui::TBusyGuard busy(FBusy);
    Guard(action);
  }
  if (FQuitPending && !Busy()) {
    FQuitPending = false;
    bbQuitClick();
  }
}

void TMainForm::QuitRequested()
{
  // The engine's wait or a dialog holds the window: quit once it is done.
  if (Busy() || FState.EngineRunning())
    FQuitPending = true;
  else
    bbQuitClick();
}

// ---------------------------------------------------------------------------
// Interactive start

void TMainForm::showEvent(QShowEvent* event)
{
  QMainWindow::showEvent(event);
  if (!FShown) {
    FShown = true;
    // Only an open window ends on a signal as Quit ends it; a forced run,
    // which never shows it, keeps the signals' default.
    new ui::TTerminationSignals(this, [this] { QuitRequested(); });
    Exclusive([this] { FormShow(); });
  }
}

void TMainForm::Stop()
{
  FStopped = true;
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TMainForm::FormShow()
{
  if (FTaskSchedStatus >= 0)
    FScheduleDialog->InitTaskScheduler(FTaskScheduler.get());
  FDirectoryDialog = std::make_unique<ui::TDirectoryDialog>(FState.IniName, u"Directories"_s);
  // One mail sender for the program's lifetime: the test mails of the mail
  // settings go through it.
  FMailer = CreateProgramMailer(nullptr, QCoreApplication::applicationDirPath());
  laStatus->setText(FState.ProgTitle + BitnessText() + u" ("_s + VersionText(FState.ProgVersion, 3) + u")\n"_s +
                    _("User name: ") + FState.UserName);
  if (!FState.CheckPrerequisites()) {
    Stop();
    return;
  }
  if (FState.DestDir.isEmpty()) {
    QString folder;
    if (!FDirectoryDialog->Execute(this, _("Select destination directory"), FState.UserPath, folder)) {
      Stop();
      return;
    }
    FState.DestDir = folder;
    FState.RealDir = folder;
  }
  {
    const TFilling filling(FFilling);
    ShowBackupDir(FState.DestDir);
  }
  QString profile = FState.MailProfile;
  if (profile.isEmpty() || FState.Profiles.ProfileList().NotInList(profile)) {
    if (!SelectProfile(this, *FProfileDialog, DialogPos(), FState.Profiles.ProfileList(), profile)) {
      Stop();
      return;
    }
  }
  FState.ChooseProfile(profile);
  ShowProfile();
  ShowExclusions();
  pcOptions->setCurrentIndex(0);
  FState.LoadTask(FState.BuTaskName);
  ShowTask();
}

QPoint TMainForm::DialogPos() const
{
  return gbProfile->mapToGlobal(QPoint(gbProfile->width() / 4, gbProfile->height()));
}

// ---------------------------------------------------------------------------
// Controls from the state

void TMainForm::ShowBackupDir(const QString& text)
{
  if (leBackupDir->text() != text)
    leBackupDir->setText(text);
}

void TMainForm::ShowProfile()
{
  const TProfileList& list = FState.Profiles.ProfileList();
  edProfile->setText(list.GetProfileName(FState.MailProfile));
  edMailDir->setText(list.GetPathName(FState.MailProfile));
}

void TMainForm::ShowExclusions()
{
  FillList(lbExcludedFiles, FState.ExcludedFiles);
  FillList(lbExcludedTypes, FState.ExcludedTypes);
}

void TMainForm::ShowTask()
{
  const TFilling filling(FFilling);
  const TMailTaskSettings& task = FState.Task;
  cbNoCompression->setChecked(task.NoCompression);
  cbCalendar->setChecked(task.IncludeCalendar);
  (task.LogKind == lkLong ? rbLogLong : rbLogShort)->setChecked(true);
  cbSync->setChecked(task.Synchronize());
  cbRecycler->setChecked(task.UseRecycler);
  cbRecycler->setEnabled(task.UseRecyclerEnabled);
  gbEncrypt->setChecked(task.EncryptFiles);
  // A checkable group disables its children while unticked; the password
  // controls follow their own rules on top of that.
  cbFixPassword->setChecked(task.FixedPassword);
  cbFixPassword->setEnabled(task.FixedPasswordEnabled);
  btPassword->setEnabled(task.PasswordButtonEnabled);
  cbSendMail->setChecked(task.SendMail());
}

void TMainForm::ShowStatusPage()
{
  const TFilling filling(FFilling);
  lbStatusMode->setCurrentRow(FState.StatusWindow);
  edWaitTime->setValue(FState.WaitTime);
  cbOnTop->setChecked(FState.OnTop);
  const bool withTime = StatusPromptHasWait(FState.StatusWindow);
  for (QWidget* w : std::initializer_list<QWidget*>{laWaitTime, edWaitTime, laSeconds})
    w->setVisible(withTime);
}

TTaskDialogs TMainForm::Dialogs()
{
  TTaskDialogs dialogs;
  dialogs.NewPassword = [this](QString& password) { return ui::NewPassword(this, _("File encryption"), password); };
  dialogs.MailSettings = [this](TMailData& data, TMailMode& mode) {
    TMailDialogContext context;
    context.SettingsFile = FState.EngineSettingsFile;
    context.Position = DialogPos();
    return EditMailSettings(this, *FMailer, _("Backup mail data"), data, mode, context);
  };
  return dialogs;
}

// ---------------------------------------------------------------------------
// Handlers

void TMainForm::bbProfileClick()
{
  if (!FState.Profiles.ReadProfiles()) {
    ShowError(_("No Thunderbird profiles found!"));
    Stop();
    return;
  }
  QString profile = FState.MailProfile;
  if (!SelectProfile(this, *FProfileDialog, DialogPos(), FState.Profiles.ProfileList(), profile))
    return;
  FState.ChooseProfile(profile);
  ShowProfile();
  FState.LoadTask(FState.BuTaskName);
  ShowTask();
}

void TMainForm::btDestClick()
{
  QString folder;
  if (!FDirectoryDialog->Execute(this, _("Select destination directory"), PathBeforePlaceholders(FState.RealDir),
                                 folder))
    return;
  {
    const TFilling filling(FFilling);
    ShowBackupDir(folder);
  }
  FState.DestDir = folder;
  FState.RealDir = folder;
}

void TMainForm::btnVolumeClick()
{
  const QString other = ToVolumePath(
      leBackupDir->text(), [this](const QString& question) { return RetryVolume(question); },
      [this](const QString& message) { ShowError(message); });
  if (!other.isEmpty())
    leBackupDir->setText(other);
}

void TMainForm::btnPlaceholderClick()
{
  const QPoint position = btnPlaceholder->mapToGlobal(QPoint(0, btnPlaceholder->height()));
  const QString placeholder = ui::TPlaceHolderDialog::Choose(this, position, ui::pkDateTime);
  if (!placeholder.isEmpty()) {
    const auto volume = VolumeOfPath(FState.MailDir);
    if (placeholder.compare(u"%volume%"_s, Qt::CaseInsensitive) == 0 && (!volume || volume->Label.isEmpty())) {
      ShowError(_("Placeholder for volume name is only available for source directories on same drive!"));
    } else {
      leBackupDir->setText(leBackupDir->text() + placeholder);
      FState.Task.Changed = true;
    }
  }
  leBackupDir->setFocus();
}

void TMainForm::EditExcludedFiles()
{
  const auto editor = [this](const QString& caption, const QString& prompt, QStringList& items) {
    return ui::TListEditorDialog::Edit(this, caption, prompt, items, CommaTextSplit(DefaultExcludedFiles()));
  };
  if (EditFilterList(_("Files to be excluded"), FState.ExcludedFiles, editor))
    FillList(lbExcludedFiles, FState.ExcludedFiles);
}

void TMainForm::EditExcludedTypes()
{
  const auto editor = [this](const QString& caption, const QString& prompt, QStringList& items) {
    return ui::TListEditorDialog::Edit(this, caption, prompt, items, CommaTextSplit(DefaultExcludedTypes()));
  };
  if (EditFilterList(_("File types to be excluded"), FState.ExcludedTypes, editor))
    FillList(lbExcludedTypes, FState.ExcludedTypes);
}

void TMainForm::bbWinTaskClick()
{
  if (FState.BuTaskName.isEmpty() || !FState.HasBackupDir())
    return;
  if (!FScheduleDialog->IsAvailable()) {
    ShowError(TaskSchedulerConnectionErrorText(FTaskSchedStatus));
    return;
  }
  if (!FState.SaveUnattendedTask())
    return;
  int index = FScheduleDialog->GetUserTask(paQuillbox, FState.MailProfile);
  enum { chRun, chEdit, chRemove };
  int choice = chEdit;
  if (index > 0) {
    TChoice question;
    question.Title = _("Scheduled task for mail profile: ") + FState.MailProfile;
    question.Text = FScheduleDialog->GetStatus(index);
    question.Buttons = {_("Run"), _("Edit"), _("Remove")};
    choice = Choose(question);
  } else {
    index = -1;
  }
  switch (choice) {
  case chEdit: {
    const QString arguments = FState.UnattendedArguments(FState.StatusOptions(false));
    while (FScheduleDialog->Execute(index, paQuillbox, QString(), FState.MailProfile, arguments, false) == srRetry) {
    }
    break;
  }
  case chRun:
    FScheduleDialog->RunTask(index);
    break;
  case chRemove:
    FScheduleDialog->DeleteTask(index);
    break;
  default:
    break; // Cancel
  }
}

void TMainForm::bbBackupShortcutClick()
{
  if (FState.BuTaskName.isEmpty() || !FState.HasBackupDir())
    return;
  ui::TDesktopIconDialog dialog(this);
  int runAs = -1;
  QString options = FState.StatusOptions(false);
  QString description = _("Thunderbird mail backup") + u": "_s + edProfile->text();
  QString name = _("Backup ") + DelExt(ExtractFileName(FState.BuTaskName));
  if (!dialog.Execute(gbBackup->title(), QuoteIfBlank(edProfile->text()), runAs, options, description, name))
    return;
  platform::TDesktopShortcut shortcut;
  shortcut.FileName = platform::ShortcutFileName(platform::DesktopFolder(), name);
  if (QFileInfo::exists(shortcut.FileName) &&
      !AskYesNo(FormatText(_("Replace existing desktop shortcut \"%s\"?"), {name})))
    return;
  // The task the shortcut starts; a shortcut that cannot be made leaves it saved.
  if (!FState.SaveUnattendedTask())
    return;
  shortcut.Name = name;
  shortcut.Comment = description;
  shortcut.Program = QCoreApplication::applicationFilePath();
  shortcut.Arguments = QStringList{FState.MailProfile} + SplitCommandLine(options);
  shortcut.WorkingFolder = FState.JobDir;
  shortcut.Icon = u"quillbox"_s;
  if (const int error = platform::CreateDesktopShortcut(shortcut))
    ShowError(_("Error creating desktop shortcut!") + u"\r\n"_s + SystemErrorText(error));
}

void TMainForm::bbShowFilesClick()
{
  ui::TShowFilesDialog::Execute(this, _("Mail profile") + u": "_s + edProfile->text(), FState.MailDir);
}

void TMainForm::bbShowLogClick()
{
  const QString logFile = TaskLogFile(FState.BuTaskName);
  if (!QFileInfo(logFile).isFile()) {
    ShowError(_("Log file not found: ") + logFile);
    return;
  }
  ui::TTextViewerOptions options = ui::EngineLogViewerOptions(FState.ProgTitle, logFile, FState.EngineSettingsFile);
  options.Printer = FPrinter;
  options.Position = DialogPos();
  ui::TTextViewer::Show(this, options);
}

void TMainForm::bbInfoClick()
{
  const QString fileDate = QLocale().toString(QFileInfo(QCoreApplication::applicationFilePath()).lastModified().date(),
                                              QLocale::ShortFormat);
  ui::ShowInfo(this, InfoText(FState.ProgTitle, FState.ProgVersion, fileDate, FState.EnginePath, 3));
}

void TMainForm::bbBackupClick()
{
  // Said in words rather than ignored: the button stays enabled while the
  // engine runs, as the user acts in the engine's own window meanwhile.
  if (FState.EngineRunning()) {
    ShowError(EngineStillRunningText());
    return;
  }
  if (FState.BuTaskName.isEmpty())
    return;
  Exclusive([this] {
    FState.StartBackup(FState.BuTaskName, false);
    ShowTask();
  });
}

void TMainForm::bbRestoreClick()
{
  // As for a backup: refused in words while the engine runs.
  if (FState.EngineRunning()) {
    ShowError(EngineStillRunningText());
    return;
  }
  if (FState.BuTaskName.isEmpty())
    return;
  Exclusive([this] {
    StartRestore(FState, *this);
    ShowProfile();
  });
}

void TMainForm::bbMoveClick()
{
  if (FState.EngineRunning()) {
    ShowError(EngineStillRunningText());
    return;
  }
  if (FState.BuTaskName.isEmpty())
    return;
  Exclusive([this] {
    const TFilling moving(FMoving);
    MoveMailData(FState, *this);
    ShowProfile();
  });
}

void TMainForm::bbQuitClick()
{
  if (FState.EngineRunning()) {
    ShowError(_("Ardanto is still running!\r\nThe program ends when it has finished."));
    FQuitPending = true;
    return;
  }
  if (FMoving) {
    ShowError(_("The mail data are being moved!\r\nThe program ends when the move has finished."));
    FQuitPending = true;
    return;
  }
  // A task that could not be saved keeps the window open with the message
  // shown: closing now would lose the settings.
  if (FState.Task.Changed && !FState.BuTaskName.isEmpty() && !FState.SaveTask(FState.BuTaskName, false))
    return;
  close();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
  if (FState.EngineRunning()) {
    ShowError(_("Ardanto is still running!\r\nThe program can be closed when it has finished."));
    event->ignore();
    return;
  }
  if (FMoving) {
    ShowError(_("The mail data are being moved!\r\nThe program can be closed when the move has finished."));
    event->ignore();
    return;
  }
  FState.SaveSettings(y(), x());
  event->accept();
}

} // namespace quillbox
