#include "portkeep/gui/MainForm.h"

#include "common/DateTimeUtils.h"
#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "common/LogText.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "devices/PortableDeviceUtils.h"
#include "platform/DesktopEntry.h"
#include "platform/Volumes.h"
#include "portkeep/TaskFolders.h"
#include "portkeep/WindowRules.h"
#include "portkeep/gui/ContentIcons.h"
#include "portkeep/gui/FilterDlg.h"
#include "ui/Dialogs.h"
#include "ui/DirectoryDialog.h"
#include "ui/FieldFormats.h"
#include "ui/HelpKeys.h"
#include "ui/HistoryComboBox.h"
#include "ui/ListEditor.h"
#include "ui/PlaceHolderDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

constexpr int kIndexRole = Qt::UserRole;
constexpr int kHistoryCount = 15;
const QString kHelpPage = u"ardanto-device.html"_s;
// How long a confirmation stays in the status line, in milliseconds.
constexpr int kStatusTimeout = 8000;
// A copy that gets nothing from the device for this long ends an automatic run.
constexpr std::chrono::milliseconds kAutomaticStallTimeout = std::chrono::minutes(5);

constexpr int kTimeRole = Qt::UserRole + 1; // file list: the raw time and size behind the shown texts
constexpr int kSizeRole = Qt::UserRole + 2;

// File list entries sort by the values they show, not by their text.
class TFileItem : public QTreeWidgetItem {
public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override
  {
    const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : fcName;
    return FileEntryLess(Entry(*this), Entry(other), column);
  }

private:
  static TFileEntry Entry(const QTreeWidgetItem& item)
  {
    return {item.text(0), item.data(0, kTimeRole).toDouble(), item.data(0, kSizeRole).toLongLong()};
  }
};

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

// The system's message for a device result code and the code, or "Error
// code = ..." when the system has no message for it.
QString DeviceErrorText(HRESULT code)
{
  QString message;
  if (HResultMessage(code, message))
    return message + FormatText(u" (0x%.8x)"_s, {code});
  return _("Error code") + FormatText(u" = 0x%.8x"_s, {code});
}

// Marks the tree as being filled by the window, not changed by the user.
class TFillingTree {
public:
  explicit TFillingTree(bool& flag) : FFlag(flag), FOld(flag) { FFlag = true; }
  ~TFillingTree() { FFlag = FOld; }
  TFillingTree(const TFillingTree&) = delete;
  TFillingTree& operator=(const TFillingTree&) = delete;

private:
  bool& FFlag;
  bool FOld;
};

// An error as one line of the progress box: its own line breaks become
// "; ", other control characters are made visible.
QString ErrorLine(const QString& message)
{
  QString text = message;
  text.replace(u"\r\n"_s, u"; "_s).replace(u'\n', u"; "_s).replace(u'\r', u"; "_s);
  return u"  *** "_s + LogSafeText(text);
}

// Children in alphabetical order, ignoring case.
void SortChildren(QTreeWidgetItem* node)
{
  QList<QTreeWidgetItem*> children = node->takeChildren();
  std::stable_sort(children.begin(), children.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return a->text(0).compare(b->text(0), Qt::CaseInsensitive) < 0;
  });
  node->addChildren(children);
}

} // namespace

// ---------------------------------------------------------------------------
// Creation

TMainForm::TMainForm(const QStringList& arguments, std::shared_ptr<IDevicePlatform> platform, QWidget* parent)
  : QMainWindow(parent), FPlatform(std::move(platform))
{
  setObjectName(u"MainForm"_s);
  BuildWindow();
  FormCreate();
  // The command line is read once the folders are known (task files are
  // relative to the job folder).
  FCommandLine = ParseCommandLine(arguments, FFolders.JobFolder);
  FTask.SetTaskName(FCommandLine.TaskName);
  try {
    LoadSettingsFile(FFolders.IniName, FSettings, FProgram);
  } catch (const EArdantoError& e) {
    ui::ShowError(this, e.Message());
  }
  TFilterDialog::SetHistoryFile(FFolders.IniName, u"FileFilter"_s);
  if (FProgram.Top >= 0 && FProgram.Left >= 0)
    move(FProgram.Left, FProgram.Top);
  SetCaption(ExtractFileName(FTask.TaskName()));
  imWarning->hide();
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate()
{
  ProgTitle = u"Portkeep"_s;
  ProgVersion = ProgramVersionInfo(ProgTitle).Version;
  ProgVersName = ProgTitle + u" ("_s + VersionText(ProgVersion, 3) + u')';
  ProgVersDate = QLocale().toString(QFileInfo(QCoreApplication::applicationFilePath()).lastModified().date(),
                                    QLocale::ShortFormat);
  EnginePath = FindEngine();
  FDateFormat = ui::DateFieldFormat(QLocale::system());
  FTimeFormat = ui::TimeFieldFormat(QLocale::system());
  FSettings.TimePeriod = TTimePeriod::Default(Today());
  FSettings.NoCompTypes = NormalizeNoCompTypes(DefaultNoCompTypes());
  FFolders = DetermineFolders(platform::IsUsbDrive(CurrentProgramPaths().ProgramFolder));
  EnsureManager();
}

bool TMainForm::EnsureManager()
{
  if (DevManager)
    return true;
  try {
    DevManager = std::make_unique<TPortableDeviceManager>(FPlatform);
  } catch (const EArdantoError& e) {
    ui::ShowError(this, e.Message());
    return false;
  }
  return true;
}

void TMainForm::BuildWindow()
{
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // Devices and the selected device's properties.
  laDevices = new QLabel(_("Connected devices"), central);
  lbDevices = new QListWidget(central);
  lbDevices->setObjectName(u"lbDevices"_s);
  laDevices->setBuddy(lbDevices);
  btReload = Button(central, "btReload", QString(), _("Reload device list"), QStyle::SP_BrowserReload);
  imWarning = new QLabel(central);
  imWarning->setObjectName(u"imWarning"_s);
  imWarning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(20, 20));
  imWarning->setToolTip(_("Errors occurred when reading the directory structure"));
  gbDevice = new QGroupBox(central);
  gbDevice->setObjectName(u"gbDevice"_s);
  auto* properties = new QGridLayout(gbDevice);
  const auto propertyRow = [&](int row, const QString& caption, QLabel*& value, const char* name) {
    properties->addWidget(new QLabel(caption, gbDevice), row, 0);
    value = new QLabel(u"X"_s, gbDevice);
    value->setObjectName(QLatin1StringView(name));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long value is cut, not given room that moves the columns.
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    properties->addWidget(value, row, 1);
  };
  propertyRow(0, _("Manufacturer:"), laManufacturer, "laManufacturer");
  propertyRow(1, _("Type:"), laType, "laType");
  propertyRow(2, _("Description:"), laDescription, "laDescription");
  propertyRow(3, _("Power source:"), laPower, "laPower");
  propertyRow(4, _("Firmware:"), laFirmware, "laFirmware");
  // The group keeps the height it has with a device, also without one.
  gbDevice->setTitle(u"X"_s);
  gbDevice->setFixedHeight(gbDevice->sizeHint().height());
  gbDevice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  gbDevice->setTitle(QString());
  for (QLabel* value : {laManufacturer, laType, laDescription, laPower, laFirmware})
    value->clear();

  // Folders and files.
  auto* laFolders = new QLabel(_("Directories"), central);
  tvFolders = new QTreeWidget(central);
  tvFolders->setObjectName(u"tvFolders"_s);
  tvFolders->setHeaderHidden(true);
  tvFolders->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tvFolders->setToolTip(_("Select the directories to be backed up"));
  laFolders->setBuddy(tvFolders);
  auto* laFiles = new QLabel(_("Files"), central);
  lvFiles = new QTreeWidget(central);
  lvFiles->setObjectName(u"lvFiles"_s);
  lvFiles->setRootIsDecorated(false);
  lvFiles->setHeaderLabels({_("Filename"), _("Date"), _("Size")});
  lvFiles->header()->setSortIndicatorShown(true);
  lvFiles->header()->setSectionsClickable(true);
  lvFiles->header()->setSortIndicator(0, Qt::AscendingOrder);
  lvFiles->header()->setStretchLastSection(false);
  lvFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  laFiles->setBuddy(lvFiles);

  // Destination.
  auto* laDestination = new QLabel(_("Destination directory:"), central);
  cbxDestination = new ui::THistoryComboBox(central);
  cbxDestination->setObjectName(u"cbxDestination"_s);
  cbxDestination->SetMaxHistory(kHistoryCount);
  laDestination->setBuddy(cbxDestination);
  btDestination = Button(central, "btDestination", QString(), _("Select backup directory"), QStyle::SP_DirOpenIcon);
  btPlaceholder = Button(central, "btPlaceholder", u"%"_s, _("Insert placeholder"));

  // File processing.
  gbFileProcessing = new QGroupBox(_("File processing"), central);
  gbFileProcessing->setObjectName(u"gbFileProcessing"_s);
  cbCompress = new QCheckBox(_("Compress files"), gbFileProcessing);
  cbCompress->setObjectName(u"cbCompress"_s);
  cbZip = new QCheckBox(_("as zip"), gbFileProcessing);
  cbZip->setObjectName(u"cbZip"_s);
  laNoComp = new QLabel(_("No compression for these types:"), gbFileProcessing);
  laNoComp->setObjectName(u"laNoComp"_s);
  lbNoComp = new QListWidget(gbFileProcessing);
  lbNoComp->setObjectName(u"lbNoComp"_s);
  lbNoComp->setToolTip(_("File types not to compress"));
  lbNoComp->setFlow(QListView::TopToBottom);
  lbNoComp->setWrapping(true);
  lbNoComp->setResizeMode(QListView::Adjust);
  lbNoComp->setSelectionMode(QAbstractItemView::NoSelection);
  btNoComp = Button(gbFileProcessing, "btNoComp", u"…"_s, _("Select file types not to be compressed"));
  // Hidden without compression, but keeping their place: nothing else moves.
  for (QWidget* w : std::initializer_list<QWidget*>{cbZip, laNoComp, lbNoComp, btNoComp}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }
  auto* processing = new QGridLayout(gbFileProcessing);
  processing->addWidget(cbCompress, 0, 0);
  processing->addWidget(cbZip, 0, 1);
  processing->addWidget(laNoComp, 1, 0, 1, 2);
  processing->addWidget(lbNoComp, 2, 0, 1, 2);
  processing->addWidget(btNoComp, 2, 2, Qt::AlignTop);

  // Overwrite and archive bit.
  rgOverwrite = new QGroupBox(_("Overwrite"), central);
  rgOverwrite->setObjectName(u"rgOverwrite"_s);
  auto* overwrite = new QVBoxLayout(rgOverwrite);
  const QString overwriteTexts[3] = {_("existing files when older"), _("all existing files"), _("no existing files")};
  for (int i = 0; i < 3; ++i) {
    rbOverwrite[i] = new QRadioButton(overwriteTexts[i], rgOverwrite);
    rbOverwrite[i]->setObjectName(u"rbOverwrite%1"_s.arg(i));
    overwrite->addWidget(rbOverwrite[i]);
  }
  rbOverwrite[0]->setChecked(true);
  cbArchive = new QCheckBox(_("Set archive bit"), central);
  cbArchive->setObjectName(u"cbArchive"_s);

  // Time slot.
  gbTimeSlot = new QGroupBox(_("Time slot"), central);
  gbTimeSlot->setObjectName(u"gbTimeSlot"_s);
  cbxTimeMode = new QComboBox(gbTimeSlot);
  cbxTimeMode->setObjectName(u"cbxTimeMode"_s);
  for (const QString& mode : {_("All"), _("All since"), _("All before"), _("Time period"), _("Today from"),
                              _("Not older than"), _("Older than")})
    cbxTimeMode->addItem(u' ' + mode);
  laFrom = new QLabel(_("from:"), gbTimeSlot);
  laTo = new QLabel(_("to:"), gbTimeSlot);
  edFrom = new QDateTimeEdit(gbTimeSlot);
  edFrom->setObjectName(u"edFrom"_s);
  edFrom->setCalendarPopup(true);
  edTo = new QDateTimeEdit(gbTimeSlot);
  edTo->setObjectName(u"edTo"_s);
  edTo->setCalendarPopup(true);
  edDays = new QSpinBox(gbTimeSlot);
  edDays->setObjectName(u"edDays"_s);
  edDays->setRange(1, 9999);
  edDays->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  laDays = new QLabel(_("days"), gbTimeSlot);
  auto* slot = new QGridLayout(gbTimeSlot);
  slot->addWidget(cbxTimeMode, 0, 0, 1, 3);
  slot->addWidget(laFrom, 1, 0);
  slot->addWidget(edFrom, 1, 1);
  slot->addWidget(edDays, 1, 1);
  slot->addWidget(laDays, 1, 2);
  slot->addWidget(laTo, 2, 0);
  slot->addWidget(edTo, 2, 1);

  // Filter.
  gbFilter = new QGroupBox(_("Filter"), central);
  gbFilter->setObjectName(u"gbFilter"_s);
  edFilter = new QLineEdit(gbFilter);
  edFilter->setObjectName(u"edFilter"_s);
  edFilter->setReadOnly(true);
  edFilter->setToolTip(_("Filter for filenames"));
  laRegular = new QLabel(_("As regular expression"), gbFilter);
  laRegular->setObjectName(u"laRegular"_s);
  btFilter = Button(gbFilter, "btFilter", _("Settings"), _("Edit filename filter"));
  auto* filterLayout = new QGridLayout(gbFilter);
  filterLayout->addWidget(edFilter, 0, 0, 1, 2);
  filterLayout->addWidget(laRegular, 1, 0);
  filterLayout->addWidget(btFilter, 1, 1);

  // Tasks, run, others.
  bbOpen = Button(central, "bbOpen", QString(), _("Open backup task"), QStyle::SP_DialogOpenButton);
  bbSave = Button(central, "bbSave", QString(), _("Save configuration as task"), QStyle::SP_DialogSaveButton);
  bbSaveAs = Button(central, "bbSaveAs", QString(), _("Save as new task"), QStyle::SP_FileDialogNewFolder);
  bbShortcut = Button(central, "bbShortcut", QString(), _("Create Desktop shortcut"), QStyle::SP_DesktopIcon);
  bbReset = Button(central, "bbReset", QString(), _("Reset to default configuration"), QStyle::SP_DialogResetButton);
  bbBackup = Button(central, "bbBackup", _("Start backup"), _("Copy the selected directories"), QStyle::SP_MediaPlay);
  edFolder = new QLineEdit(central);
  edFolder->setObjectName(u"edFolder"_s);
  edFolder->setReadOnly(true);
  bbCancel =
      Button(central, "bbCancel", _("Cancel"), _("Stop the backup after the current file"), QStyle::SP_MediaStop);
  bbCancel->setEnabled(false);
  pbRun = new QProgressBar(central);
  pbRun->setObjectName(u"pbRun"_s);
  pbRun->setRange(0, 1000);
  pbRun->setToolTip(_("Files and bytes of the backup"));
  pbFile = new QProgressBar(central);
  pbFile->setObjectName(u"pbFile"_s);
  pbFile->setRange(0, 1000);
  pbFile->setToolTip(_("The file being copied"));
  laRate = new QLabel(central);
  laRate->setObjectName(u"laRate"_s);
  laRate->setMinimumWidth(fontMetrics().horizontalAdvance(u"999.99 MiB/s, 000:00:00 left"_s));
  bbInfo = Button(central, "bbInfo", QString(), _("Version info"), QStyle::SP_MessageBoxInformation);
  bbHelp = Button(central, "bbHelp", QString(), _("Program help"), QStyle::SP_DialogHelpButton);
  bbQuit = Button(central, "bbQuit", QString(), _("Quit program and save settings"), QStyle::SP_DialogCloseButton);

  // Progress.
  laStatus = new QLabel(_("Backup status:"), central);
  mmProgress = new QPlainTextEdit(central);
  mmProgress->setObjectName(u"mmProgress"_s);
  mmProgress->setReadOnly(true);
  mmProgress->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmProgress->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmProgress->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  laStatus->setBuddy(mmProgress);
  btCopy = Button(central, "btCopy", QString(), _("Copy to clipboard"), QStyle::SP_FileDialogDetailedView);

  // Layout: devices | folders | files above, options below, progress at the bottom.
  auto* deviceHead = new QHBoxLayout;
  deviceHead->addWidget(laDevices);
  deviceHead->addStretch();
  deviceHead->addWidget(imWarning);
  deviceHead->addWidget(btReload);
  auto* deviceColumn = new QVBoxLayout;
  deviceColumn->addLayout(deviceHead);
  deviceColumn->addWidget(lbDevices, 1);
  deviceColumn->addWidget(gbDevice);
  auto* folderColumn = new QVBoxLayout;
  folderColumn->addWidget(laFolders);
  folderColumn->addWidget(tvFolders, 1);
  auto* fileColumn = new QVBoxLayout;
  fileColumn->addWidget(laFiles);
  fileColumn->addWidget(lvFiles, 1);
  auto* upper = new QHBoxLayout;
  upper->addLayout(deviceColumn, 2);
  upper->addLayout(folderColumn, 2);
  upper->addLayout(fileColumn, 3);

  auto* destination = new QHBoxLayout;
  destination->addWidget(laDestination);
  destination->addWidget(cbxDestination, 1);
  destination->addWidget(btDestination);
  destination->addWidget(btPlaceholder);

  auto* optionColumn = new QVBoxLayout;
  optionColumn->addWidget(rgOverwrite);
  optionColumn->addWidget(cbArchive);
  optionColumn->addStretch();
  auto* options = new QHBoxLayout;
  options->addWidget(gbFileProcessing, 3, Qt::AlignTop);
  options->addLayout(optionColumn, 2);
  options->addWidget(gbTimeSlot, 2, Qt::AlignTop);
  options->addWidget(gbFilter, 2, Qt::AlignTop);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {bbOpen, bbSave, bbSaveAs, bbShortcut, bbReset})
    buttons->addWidget(b);
  buttons->addSpacing(12);
  buttons->addWidget(bbBackup);
  buttons->addWidget(edFolder, 1);
  buttons->addSpacing(12);
  for (QPushButton* b : {bbInfo, bbHelp, bbQuit})
    buttons->addWidget(b);

  // The run's progress: always in place, so that nothing moves when a run
  // starts or ends.
  auto* runRow = new QHBoxLayout;
  runRow->addWidget(pbRun, 3);
  runRow->addWidget(pbFile, 1);
  runRow->addWidget(laRate);
  runRow->addWidget(bbCancel);

  auto* progressHead = new QHBoxLayout;
  progressHead->addWidget(laStatus);
  progressHead->addStretch();
  progressHead->addWidget(btCopy);

  auto* layout = new QVBoxLayout(central);
  layout->addLayout(upper, 3);
  layout->addLayout(destination);
  layout->addLayout(options);
  layout->addLayout(buttons);
  layout->addLayout(runRow);
  layout->addLayout(progressHead);
  layout->addWidget(mmProgress, 2);
  // Made now: a status line that appears with its first message moves the window's contents.
  statusBar()->setObjectName(u"sbStatus"_s);
  resize(1100, 800);

  tmStartTimer = new QTimer(this);
  tmStartTimer->setObjectName(u"tmStartTimer"_s);
  tmStartTimer->setSingleShot(true);
  tmStartTimer->setInterval(1000);

  // Wiring.
  connect(tmStartTimer, &QTimer::timeout, this, [this] { Guard([this] { tmStartTimerTimer(); }); });
  connect(btReload, &QPushButton::clicked, this, [this] { Guard([this] { LoadDeviceList(QString(), true); }); });
  connect(lbDevices, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { Guard([this, item] { SelectDevice(lbDevices->row(item)); }); });
  connect(tvFolders, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    // The window's own expansions go through ExpandNode; this one came from
    // outside while the window is busy: the node stays closed.
    if (Busy()) {
      const QSignalBlocker block(tvFolders);
      item->setExpanded(false);
      return;
    }
    Exclusive([this, item] { NodeExpanded(item); });
  });
  connect(tvFolders, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { Exclusive([this, item] { ShowFiles(item); }); });
  connect(tvFolders, &QTreeWidget::itemSelectionChanged, this, [this] {
    FSelectionOrder = MergeSelectionOrder(FSelectionOrder, SelectedIndexes());
    // The user's own choice replaces the folders a task named.
    if (!FFillingTree)
      FKept.Valid = false;
  });
  tvFolders->installEventFilter(this);
  connect(lvFiles->header(), &QHeaderView::sectionClicked, this, &TMainForm::FileHeaderClicked);
  connect(cbCompress, &QCheckBox::clicked, this, [this] {
    ShowCompressionControls();
    MarkChanged();
  });
  connect(cbZip, &QCheckBox::clicked, this, [this] {
    ShowCompressionControls();
    MarkChanged();
  });
  connect(btNoComp, &QPushButton::clicked, this, [this] { Exclusive([this] { EditNoCompTypes(); }); });
  connect(btDestination, &QPushButton::clicked, this, [this] { Exclusive([this] { ChooseDestination(); }); });
  connect(btPlaceholder, &QPushButton::clicked, this, [this] { Exclusive([this] { InsertPlaceholder(); }); });
  connect(cbxDestination, &QComboBox::editTextChanged, this, [this] { MarkChanged(); });
  for (QRadioButton* rb : rbOverwrite)
    connect(rb, &QRadioButton::toggled, this, [this](bool on) {
      if (on)
        MarkChanged();
    });
  connect(cbxTimeMode, qOverload<int>(&QComboBox::activated), this, &TMainForm::TimeModeChosen);
  connect(edFrom, &QDateTimeEdit::dateTimeChanged, this, &TMainForm::FromChanged);
  connect(edTo, &QDateTimeEdit::dateTimeChanged, this, &TMainForm::ToChanged);
  connect(edDays, qOverload<int>(&QSpinBox::valueChanged), this, [this] { MarkChanged(); });
  connect(btFilter, &QPushButton::clicked, this, [this] { Exclusive([this] { EditFilter(); }); });
  connect(bbOpen, &QPushButton::clicked, this, [this] { Exclusive([this] { OpenTask(); }); });
  connect(bbSave, &QPushButton::clicked, this, [this] { Exclusive([this] { SaveTaskClicked(); }); });
  connect(bbSaveAs, &QPushButton::clicked, this, [this] { Exclusive([this] { SaveTaskAs(); }); });
  connect(bbShortcut, &QPushButton::clicked, this, [this] { Exclusive([this] { CreateShortcut(); }); });
  connect(bbReset, &QPushButton::clicked, this, [this] { Exclusive([this] { ResetSettings(); }); });
  connect(bbBackup, &QPushButton::clicked, this, [this] { Guard([this] { StartBackup(); }); });
  // Not through Guard: it has to work while the run holds the window.
  connect(bbCancel, &QPushButton::clicked, this, &TMainForm::CancelRun);
  connect(bbInfo, &QPushButton::clicked, this, [this] { ShowVersionInfo(); });
  connect(bbHelp, &QPushButton::clicked, this, [this] { ui::OpenHelp(this, kHelpPage); });
  connect(bbQuit, &QPushButton::clicked, this, &QWidget::close);
  connect(btCopy, &QPushButton::clicked, this, &TMainForm::CopyProgress);
  new ui::THelpKeys(this, kHelpPage);
}

void TMainForm::Guard(const std::function<void()>& action)
{
  // The window's general error display: no exception leaves an event handler.
  try {
    action();
  } catch (const EArdantoError& e) {
    QApplication::restoreOverrideCursor();
    ui::ShowError(this, e.Message());
  } catch (const std::exception& e) {
    QApplication::restoreOverrideCursor();
    ui::ShowError(this, QString::fromLocal8Bit(e.what()));
  }
}

void TMainForm::Exclusive(const std::function<void()>& action)
{
  if (Busy())
    return;
  const TBusyGuard busy(FBusy);
  Guard(action);
}

void TMainForm::showEvent(QShowEvent* event)
{
  QMainWindow::showEvent(event);
  if (!FShown) {
    FShown = true;
    FormShow();
  }
}

void TMainForm::FormShow()
{
  FLoading = true;
  cbxDestination->SetHistory(FProgram.DestinationHistory);
  ApplySettingsToControls();
  FLoading = false;
  tmStartTimer->start();
  FTask.SetEditStatus(esNew);
  UpdateTaskButtons();
  bbShortcut->setEnabled(false);
}

void TMainForm::SetCaption(const QString& taskDisplayName)
{
  QString caption = ProgTitle + u" - "_s + _("Backup files from a portable device");
  if (!FTask.TaskName().isEmpty())
    caption += u" ["_s + taskDisplayName + u']';
  setWindowTitle(caption);
}

// ---------------------------------------------------------------------------
// Progress box

namespace {

// How often a run's new lines and its progress bars are brought into the
// window. Painting them takes milliseconds, the time of copying dozens of
// small files; 25 times a second still looks smooth.
constexpr std::chrono::milliseconds kShowInterval{40};

// Puts the lines into the box in one edit and scrolls once: line by line, the
// box's layout and scrolling cost more than copying a small file.
void AppendLines(QPlainTextEdit& box, QStringList& lines)
{
  if (lines.isEmpty())
    return;
  box.appendPlainText(lines.join(u'\n'));
  lines.clear();
  box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
}

} // namespace

void TMainForm::AddLine(int indent, const QString& text)
{
  // A run's lines go into the box together, at the pace the window shows the
  // run. Failures and the closing summary go in at once, so a run always ends
  // with all its lines in the box.
  FPendingLines.append(QString(indent, u' ') + text);
  if (FRunning && indent > 0) {
    // Also when the run breaks off and nothing else brings them in.
    if (FPendingLines.size() == 1)
      QTimer::singleShot(kShowInterval, this, [this] { AppendLines(*mmProgress, FPendingLines); });
    return;
  }
  AppendLines(*mmProgress, FPendingLines);
}

void TMainForm::ReplaceLastLine(const QString& text)
{
  AppendLines(*mmProgress, FPendingLines);
  QTextCursor cursor(mmProgress->document());
  // One edit: the cursor then does not lay the line out after every step.
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(text);
  cursor.endEditBlock();
}

void TMainForm::ShowFolder(const QString& path)
{
  edFolder->setText(path);
}

void TMainForm::ProcessEvents()
{
  // A run asks after every file and every slice of a copy. Painting the
  // window each time would cost more than copying thousands of small files:
  // it gets its events a hundred times a second, and what it shows of the
  // run changes at the calmer pace of kShowInterval.
  const auto now = std::chrono::steady_clock::now();
  if (now - FLastEvents < std::chrono::milliseconds(10))
    return;
  FLastEvents = now;
  if (now - FLastShown >= kShowInterval) {
    FLastShown = now;
    AppendLines(*mmProgress, FPendingLines);
    ApplyRunProgress();
  }
  if (OnRunEvent)
    OnRunEvent();
  QCoreApplication::processEvents();
}

void TMainForm::ShowProgress(const TRunProgress& progress)
{
  // Shown when the window gets its events, not at every call.
  FProgress = progress;
}

bool TMainForm::CancelRequested()
{
  return FCancelRequested;
}

void TMainForm::CancelRun()
{
  if (!FRunning || FCancelRequested)
    return;
  FCancelRequested = true;
  bbCancel->setEnabled(false);
  statusBar()->showMessage(_("The backup stops after the current file"));
}

void TMainForm::ApplyRunProgress()
{
  pbRun->setValue(RunPermille(FProgress));
  pbRun->setFormat(RunProgressText(FProgress));
  pbFile->setValue(ProgressPermille(FProgress.CurrentDone, FProgress.CurrentSize));
  pbFile->setFormat(FProgress.CurrentFile.isEmpty() ? QString() : u"%p%"_s);
  laRate->setText(RateText(FProgress));
}

QStringList TMainForm::ProgressLines() const
{
  AppendLines(*mmProgress, FPendingLines);
  const QString text = mmProgress->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(u'\n');
}

void TMainForm::CopyProgress()
{
  QTextCursor cursor = mmProgress->textCursor();
  const QString text = cursor.hasSelection() ? cursor.selection().toPlainText() : mmProgress->toPlainText();
  QGuiApplication::clipboard()->setText(text);
  cursor.clearSelection();
  mmProgress->setTextCursor(cursor);
}

// ---------------------------------------------------------------------------
// Settings and controls

void TMainForm::ApplySettingsToControls()
{
  const bool loading = FLoading;
  FLoading = true;
  rbOverwrite[std::clamp(FSettings.Overwrite, 0, 2)]->setChecked(true);
  cbArchive->setChecked(FSettings.ArchBit);
  cbCompress->setChecked(FSettings.Compress);
  cbZip->setChecked(FSettings.Compress && FSettings.CompressAsZip);
  ShowNoCompTypes();
  ShowCompressionControls();
  ShowFilter();
  ShowTimeSlot();
  FLoading = loading;
}

void TMainForm::ReadControlsIntoSettings()
{
  ReadTimeSlotBack();
  for (int i = 0; i < 3; ++i) {
    if (rbOverwrite[i]->isChecked())
      FSettings.Overwrite = i;
  }
  FSettings.ArchBit = cbArchive->isChecked();
  FSettings.Compress = cbCompress->isChecked();
  FSettings.CompressAsZip = cbCompress->isChecked() && cbZip->isChecked();
  FSettings.Destination = cbxDestination->currentText();
  if (FKept.Valid) {
    FSettings.DeviceName = FKept.DeviceName;
    FSettings.Dirs = FKept.Dirs;
  } else {
    FSettings.DeviceName = gbDevice->title();
    FSettings.Dirs = SelectedPaths();
  }
}

QStringList TMainForm::SelectedPaths() const
{
  QStringList paths;
  if (FDevice != nullptr) {
    for (TPortableDeviceObject* object : SelectedFolders())
      paths.append(object->Path());
  }
  return paths;
}

TTaskSettings TMainForm::CurrentSettings()
{
  ReadControlsIntoSettings();
  return FSettings;
}

void TMainForm::MarkChanged()
{
  if (FLoading)
    return;
  FTask.MarkChanged();
  UpdateTaskButtons();
}

void TMainForm::UpdateTaskButtons()
{
  // Without a task file, saving asks for one.
  bbSave->setEnabled(!FRunning && (FTask.TaskName().isEmpty() || FTask.EditStatus() == esChanged));
}

void TMainForm::SetRunning(bool running)
{
  // While a run goes on, nothing may start another one, change the device or
  // its tree, load a task or close the window.
  FRunning = running;
  for (QWidget* w : std::initializer_list<QWidget*>{lbDevices, btReload, tvFolders, bbBackup, bbOpen, bbSaveAs, bbReset,
                                                    bbShortcut, bbQuit, btDestination, btPlaceholder, cbxDestination,
                                                    gbFileProcessing, rgOverwrite, cbArchive, gbTimeSlot, gbFilter})
    w->setEnabled(!running);
  bbCancel->setEnabled(running);
  if (!running)
    bbShortcut->setEnabled(!FTask.TaskName().isEmpty() && FTask.EditStatus() != esNew);
  UpdateTaskButtons();
}

// ---------------------------------------------------------------------------
// Devices

void TMainForm::ForgetDevice()
{
  // What the tree shows is still what a task will name, also while the
  // device is not shown.
  if (FDevice != nullptr && !FKept.Valid)
    FKept = {gbDevice->title(), SelectedPaths(), true};
  // The manager closes a device when it opens another one; the window must
  // not go on showing (or using) a closed device.
  const TFillingTree filling(FFillingTree);
  FDevice = nullptr;
  tvFolders->clear();
  lvFiles->clear();
  FSelectionOrder.clear();
  gbDevice->setTitle(QString());
  gbDevice->setToolTip(QString());
  for (QLabel* value : {laManufacturer, laType, laDescription, laPower, laFirmware}) {
    value->clear();
    value->setToolTip(QString());
  }
}

void TMainForm::LoadDeviceList(const QString& header, bool autoSelect)
{
  if (Busy())
    return;
  const TBusyGuard busy(FBusy);
  ReadDeviceList(header, autoSelect);
}

void TMainForm::ReadDeviceList(const QString& header, bool autoSelect)
{
  imWarning->hide();
  mmProgress->clear();
  if (!header.isEmpty())
    AddLine(0, header);
  AddLine(2, _("Loading device list"));
  lbDevices->clear();
  ForgetDevice();
  if (!EnsureManager())
    return;
  DevManager->Refresh();
  FListedDescriptions.clear();
  const int count = static_cast<int>(DevManager->DeviceCount());
  int listed = 0;
  for (int i = 0; i < count; ++i) {
    // One device that cannot be opened (a phone another program holds) must
    // not hide the others.
    try {
      if (TPortableDevice* device = DevManager->GetDevice(i)) {
        auto* item = new QListWidgetItem(device->DeviceName(), lbDevices);
        item->setData(kIndexRole, i);
        ++listed;
        try {
          FListedDescriptions.insert(device->DeviceID(), device->Description());
        } catch (const EArdantoError&) {
          // Only the warning about devices of one name uses it.
        }
      }
    } catch (const EArdantoError& e) {
      const TDeviceList& devices = DevManager->DeviceList();
      const QString name =
          i < devices.Count() && devices.Objects(i) != nullptr ? devices.Objects(i)->FriendlyName : QString();
      AddLine(0, ErrorLine(FormatText(_("Device \"%s\" cannot be opened: %s"), {name, e.Message()})));
    }
  }
  QString line;
  if (listed == 0)
    line = _("No portable device found");
  else if (listed == 1)
    line = _("1 portable device found");
  else
    line = FormatCount(_("%u portable devices found"), listed);
  AddLine(4, line);
  if (!autoSelect)
    return;
  // The device of the task comes back with its folders; without a task's
  // device, a lone device is the one the user wants.
  int row = -1;
  if (FKept.Valid && !FKept.DeviceName.isEmpty()) {
    for (int i = 0; i < lbDevices->count() && row < 0; ++i) {
      if (lbDevices->item(i)->text().compare(FKept.DeviceName, Qt::CaseInsensitive) == 0)
        row = i;
    }
  } else if (lbDevices->count() == 1) {
    row = 0;
  }
  if (row >= 0)
    OpenListedDevice(row);
}

void TMainForm::SelectDevice(int row)
{
  if (Busy())
    return;
  const TBusyGuard busy(FBusy);
  OpenListedDevice(row);
}

void TMainForm::OpenListedDevice(int row)
{
  if (row < 0 || row >= lbDevices->count() || !EnsureManager())
    return;
  lbDevices->setCurrentRow(row);
  ForgetDevice();
  // Devices that could not be opened have no line: the line knows its device.
  FDevice = DevManager->GetDevice(lbDevices->item(row)->data(kIndexRole).toInt());
  if (FDevice == nullptr)
    return;
  ShowDeviceProperties();
  imWarning->hide();
  AddLine(2, _("Selected: ") + FDevice->DeviceName());
  ReadTree(true);
  ShowTree();
  if (FKept.Valid && FKept.DeviceName.compare(FDevice->DeviceName(), Qt::CaseInsensitive) == 0) {
    SelectStoredFolders(FKept.Dirs);
    return;
  }
  FKept.Valid = false;
  const TFillingTree filling(FFillingTree);
  if (QTreeWidgetItem* top = tvFolders->topLevelItem(0)) {
    for (int i = 0; i < top->childCount(); ++i)
      top->child(i)->setSelected(true);
  }
}

void TMainForm::ShowDeviceProperties()
{
  if (FDevice == nullptr)
    return;
  gbDevice->setTitle(FDevice->DeviceName());
  laManufacturer->setText(FDevice->Manufacturer());
  laType->setText(FDevice->DeviceTypeAsString());
  laDescription->setText(FDevice->Description());
  laPower->setText(FDevice->PowerSourceAsString() + u" ("_s + QString::number(FDevice->PowerLevel()) + u"%)"_s);
  laFirmware->setText(FDevice->Firmware());
  // Values too long for the group can still be read.
  gbDevice->setToolTip(gbDevice->title());
  for (QLabel* value : {laManufacturer, laType, laDescription, laPower, laFirmware})
    value->setToolTip(value->text());
}

bool TMainForm::ReadTree(bool showErrors)
{
  TPortableDeviceContent* content = FDevice != nullptr ? FDevice->Content() : nullptr;
  if (content == nullptr)
    return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QString objectsFound = _("%u objects found");
  AddLine(2, _("Reading the directory structure"));
  AddLine(0, u"    "_s + FormatCount(objectsFound, 0));
  content->Refresh([this, &objectsFound](int index, const QString&) {
    if (index % 10 == 0) {
      ReplaceLastLine(u"    "_s + FormatCount(objectsFound, index));
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  });
  ReplaceLastLine(u"    "_s + FormatCount(objectsFound, content->ObjectCount()));
  AddLine(4, FormatCount(_("%u directories found"), content->FolderCount()));
  const TErrorList& errors = content->ErrorObjects();
  if (showErrors && errors.Count() > 0) {
    imWarning->show();
    AddLine(0, u"* "_s + _("Errors occurred when reading the directory structure") + u':');
    for (int i = 0; i < errors.Count(); ++i) {
      const TPortableDeviceObject* object = content->GetObjectByID(errors.Strings(i));
      const QString name = object != nullptr ? object->DisplayName() : QString();
      AddLine(4, FormatText(_("Object \"%s\" (%s): %s"),
                            {errors.Strings(i), name, DeviceErrorText(static_cast<HRESULT>(errors.GetErrorCode(i)))}));
    }
  }
  QApplication::restoreOverrideCursor();
  return true;
}

void TMainForm::ShowTree()
{
  const TFillingTree filling(FFillingTree);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tvFolders->clear();
  FSelectionOrder.clear();
  lvFiles->clear();
  TPortableDeviceContent* content = FDevice != nullptr ? FDevice->Content() : nullptr;
  TPortableDeviceObject* deviceObject = content != nullptr ? content->DeviceObject() : nullptr;
  if (deviceObject != nullptr) {
    auto* top = new QTreeWidgetItem(tvFolders, {deviceObject->DisplayName()});
    top->setData(0, kIndexRole, deviceObject->Index());
    top->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    AddChildNodes(top);
    SortChildren(top);
    const QSignalBlocker block(tvFolders);
    top->setExpanded(true);
  }
  QApplication::restoreOverrideCursor();
}

void TMainForm::AddChildNodes(QTreeWidgetItem* node)
{
  TPortableDeviceContent* content = FDevice != nullptr ? FDevice->Content() : nullptr;
  const TPortableDeviceObject* object =
      content != nullptr ? content->GetObject(node->data(0, kIndexRole).toInt()) : nullptr;
  if (object == nullptr)
    return;
  for (int i = 0; i < object->ChildCount(); ++i) {
    const TPortableDeviceObject* child = object->GetChild(i);
    if (child == nullptr || (child->ObjectType() != otRoot && child->ObjectType() != otFolder))
      continue;
    QString name = child->DisplayName();
    if (name.isEmpty())
      name = child->ObjectID().section(u'/', -1).section(u'\\', -1);
    auto* item = new QTreeWidgetItem(node, {name});
    item->setData(0, kIndexRole, child->Index());
    item->setIcon(0,
                  style()->standardIcon(child->ObjectType() == otRoot ? QStyle::SP_DriveFDIcon : QStyle::SP_DirIcon));
    new QTreeWidgetItem(item); // an empty child gives the node its expand button
  }
}

void TMainForm::ExpandNode(QTreeWidgetItem* node)
{
  if (node->isExpanded())
    return;
  {
    const QSignalBlocker block(tvFolders);
    node->setExpanded(true);
  }
  NodeExpanded(node);
}

void TMainForm::NodeExpanded(QTreeWidgetItem* node)
{
  if (node->parent() == nullptr && node->childCount() > 0 && !node->child(0)->text(0).isEmpty())
    return; // the top node's children are the storages, already there
  const QSignalBlocker block(tvFolders);
  qDeleteAll(node->takeChildren());
  AddChildNodes(node);
  SortChildren(node);
  // Selected nodes below went away with their items.
  const qsizetype before = FSelectionOrder.size();
  FSelectionOrder = MergeSelectionOrder(FSelectionOrder, SelectedIndexes());
  if (!FFillingTree && FSelectionOrder.size() != before)
    FKept.Valid = false;
}

void TMainForm::SelectStoredFolders(const QStringList& paths)
{
  TPortableDeviceContent* content = FDevice != nullptr ? FDevice->Content() : nullptr;
  QTreeWidgetItem* top = tvFolders->topLevelItem(0);
  if (content == nullptr || top == nullptr)
    return;
  const TFillingTree filling(FFillingTree);
  const TStoredFolders folders = ResolveStoredFolders(*content, paths);
  for (const QString& path : folders.Missing)
    AddLine(0, ErrorLine(FormatText(_("Directory not found: %s"), {path})));
  // A folder deep down has no node until the folders above it are expanded.
  for (const TPortableDeviceObject* object : folders.Found) {
    QTreeWidgetItem* node = top;
    for (const int index : TreeNodePath(*content, *object)) {
      if (node != top)
        ExpandNode(node);
      QTreeWidgetItem* child = nullptr;
      for (int i = 0; i < node->childCount() && child == nullptr; ++i) {
        if (!node->child(i)->text(0).isEmpty() && node->child(i)->data(0, kIndexRole).toInt() == index)
          child = node->child(i);
      }
      node = child;
      if (node == nullptr)
        break;
    }
    if (node != nullptr && node != top)
      node->setSelected(true);
  }
}

void TMainForm::ShowFiles(QTreeWidgetItem* node)
{
  if (node == nullptr || FDevice == nullptr || FDevice->Content() == nullptr)
    return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  lvFiles->clear();
  const TPortableDeviceObject* folder = FDevice->Content()->GetObject(node->data(0, kIndexRole).toInt());
  if (folder != nullptr) {
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < folder->ChildCount(); ++i) {
      const TPortableDeviceObject* child = folder->GetChild(i);
      if (child == nullptr || child->ObjectType() != otFile)
        continue;
      auto* item = new TFileItem;
      item->setText(0, child->DisplayName());
      item->setIcon(0, ContentTypeIcon(child->ContentType()));
      const TDateTime time = child->LastWriteTime();
      const std::int64_t size = child->Size();
      item->setText(1, QLocale().toString(QDateTimeFromDateTime(time), QLocale::ShortFormat));
      item->setText(2, FormatFileSize(false, false, QChar(), size));
      item->setData(0, kTimeRole, time);
      item->setData(0, kSizeRole, static_cast<qlonglong>(size));
      item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
      item->setData(0, kIndexRole, child->Index());
      items.append(item);
    }
    lvFiles->addTopLevelItems(items);
    SortFiles();
  }
  QApplication::restoreOverrideCursor();
}

void TMainForm::FileHeaderClicked(int column)
{
  FSort = NextFileSort(FSort, column);
  SortFiles();
}

void TMainForm::SortFiles()
{
  const Qt::SortOrder order = FSort.Ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
  lvFiles->sortItems(FSort.Column, order);
  lvFiles->header()->setSortIndicator(FSort.Column, order);
}

QList<int> TMainForm::SelectedIndexes() const
{
  QList<int> selected;
  for (QTreeWidgetItem* item : tvFolders->selectedItems())
    selected.append(item->data(0, kIndexRole).toInt());
  return selected;
}

std::vector<TPortableDeviceObject*> TMainForm::SelectedFolders() const
{
  std::vector<TPortableDeviceObject*> folders;
  TPortableDeviceContent* content = FDevice != nullptr ? FDevice->Content() : nullptr;
  if (content == nullptr)
    return folders;
  for (const int index : MergeSelectionOrder(FSelectionOrder, SelectedIndexes())) {
    if (TPortableDeviceObject* object = content->GetObject(index))
      folders.push_back(object);
  }
  return folders;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
  if (watched == tvFolders && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
      Exclusive([this] { ShowFiles(tvFolders->currentItem()); });
      return true; // the space key is consumed
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
  QMainWindow::resizeEvent(event);
  // Date and size keep their widths; the name takes the rest.
  const double scale = logicalDpiX() / 96.0;
  lvFiles->setColumnWidth(1, static_cast<int>(120 * scale));
  lvFiles->setColumnWidth(2, static_cast<int>(70 * scale));
}

// ---------------------------------------------------------------------------
// Options

void TMainForm::ShowCompressionControls()
{
  const bool compress = cbCompress->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{lbNoComp, btNoComp, laNoComp, cbZip})
    w->setVisible(compress);
  if (!compress)
    cbZip->setChecked(false);
}

void TMainForm::ShowNoCompTypes()
{
  lbNoComp->clear();
  for (const QString& type : FSettings.NoCompTypes)
    lbNoComp->addItem(type.isEmpty() ? u"<ohne>"_s : type);
  // Six columns of types.
  lbNoComp->setGridSize(QSize(std::max(40, (lbNoComp->viewport()->width() - 4) / 6), fontMetrics().height() + 2));
}

void TMainForm::EditNoCompTypes()
{
  QStringList types = FSettings.NoCompTypes;
  if (ui::TListEditorDialog::Edit(this, _("File types not to compress"), _("Type"), types, DefaultNoCompTypes())) {
    // "<ohne>" is how the list shows the entry for names without extension.
    for (QString& type : types) {
      if (type == u"<ohne>"_s)
        type.clear();
    }
    FSettings.NoCompTypes = NormalizeNoCompTypes(types);
    ShowNoCompTypes();
  }
  MarkChanged();
}

void TMainForm::ChooseDestination()
{
  QString start = PathBeforePlaceholders(cbxDestination->currentText());
  ui::TDirectoryDialog dialog(FFolders.IniName, u"Directories"_s);
  QString chosen;
  if (!dialog.Execute(this, _("Select destination directory"), start, chosen))
    return;
  cbxDestination->AddToHistory(chosen);
  cbxDestination->setEditText(chosen);
  MarkChanged();
}

void TMainForm::InsertPlaceholder()
{
  const QPoint position = btPlaceholder->mapToGlobal(QPoint(0, btPlaceholder->height()));
  const QString placeholder = ui::TPlaceHolderDialog::Choose(this, position, ui::pkPortable);
  if (placeholder.isEmpty())
    return;
  cbxDestination->InsertAtCaret(placeholder);
  MarkChanged();
}

void TMainForm::ShowFilter()
{
  edFilter->setText(ui::FilterDisplayText(FSettings.Filter));
  laRegular->setVisible(FSettings.Filter.Regular());
}

void TMainForm::EditFilter()
{
  TFilterDialog dialog(this);
  if (dialog.Execute(FSettings.Filter, _("Filter for filenames"), _("Backup files"), true, true,
                     mapToGlobal(QPoint(gbFilter->x(), gbFilter->y())))) {
    ShowFilter();
    MarkChanged();
  }
}

void TMainForm::ShowTimeSlot()
{
  const bool loading = FLoading;
  FLoading = true;
  const TTimeSlotFields fields = TimeSlotFields(FSettings.TimePeriod);
  edFrom->setDateTime(QDateTime(fields.From, fields.FromTime));
  edTo->setDateTime(QDateTime(fields.To, QTime(0, 0)));
  edDays->setValue(fields.Days);
  cbxTimeMode->setCurrentIndex(std::clamp<int>(FSettings.TimePeriod.Mode, 0, kLastDeviceTimeMode));
  LayoutTimeSlot();
  FLoading = loading;
}

void TMainForm::ReadTimeSlotBack()
{
  ReadTimeSlotFields({edFrom->date(), edFrom->time(), edTo->date(), edDays->value()}, FSettings.TimePeriod);
}

void TMainForm::LayoutTimeSlot()
{
  const int mode = cbxTimeMode->currentIndex();
  const bool loading = FLoading;
  FLoading = true;
  const QDate date = edFrom->date();
  edFrom->setDisplayFormat(mode == tmToday ? FTimeFormat : FDateFormat);
  // A format without date sections pins the date range to the date shown;
  // a date field needs the whole range back.
  edFrom->clearMinimumDate();
  edFrom->clearMaximumDate();
  edFrom->setDate(date);
  edTo->setDisplayFormat(FDateFormat);
  FLoading = loading;
  edFrom->setVisible(mode == tmNewer || mode == tmSpan || mode == tmToday);
  edTo->setVisible(mode == tmOlder || mode == tmSpan);
  laFrom->setVisible(mode == tmSpan);
  laTo->setVisible(mode == tmSpan);
  edDays->setVisible(mode == tmLastDays || mode == tmPrevDays);
  laDays->setVisible(mode == tmLastDays || mode == tmPrevDays);
}

void TMainForm::TimeModeChosen(int index)
{
  if (index != FSettings.TimePeriod.Mode) {
    FSettings.TimePeriod.Mode = static_cast<TTimeMode>(index);
    ReadTimeSlotBack();
    LayoutTimeSlot();
  }
  MarkChanged();
}

void TMainForm::FromChanged()
{
  if (FLoading)
    return;
  if (cbxTimeMode->currentIndex() == tmToday) {
    FSettings.TimePeriod.DayTime = DayTimeOf(edFrom->time());
  } else {
    const bool loading = FLoading;
    FLoading = true;
    edTo->setDate(ToAfterFromChanged(edFrom->date(), edTo->date()));
    FLoading = loading;
  }
  MarkChanged();
}

void TMainForm::ToChanged()
{
  if (FLoading)
    return;
  const bool loading = FLoading;
  FLoading = true;
  edFrom->setDate(FromAfterToChanged(edFrom->date(), edTo->date()));
  FLoading = loading;
  MarkChanged();
}

// ---------------------------------------------------------------------------
// Tasks

bool TMainForm::LoadTask(const QString& fileName)
{
  if (Busy())
    return false;
  const TBusyGuard busy(FBusy);
  return LoadTaskFile(fileName);
}

bool TMainForm::LoadTaskFile(const QString& fileName)
{
  FTask.SetTaskName(fileName);
  FLoadFailure.clear();
  QStringList notes;
  const TTaskSettings stored = ReadTaskFile(fileName, CurrentSettings(), &notes);
  for (const QString& note : notes)
    AddLine(0, ErrorLine(note));
  if (!EnsureManager())
    return false;
  ForgetDevice();
  FDevice = OpenTaskDevice(stored.DeviceName);
  for (;;) {
    bool ready = false;
    if (FDevice != nullptr) {
      AddLine(2, _("Selected: ") + FDevice->DeviceName());
      ReadTree(false);
      ShowDeviceProperties();
      ready = FDevice->Content() != nullptr && FDevice->Content()->ObjectCount() > 1;
    }
    if (ready)
      break;
    const QString question =
        FormatText(_("Portable device \"%s\" is not ready!\r\nPlease connect it to the computer and activate the "
                     "device!\r\nContinue?"),
                   {stored.DeviceName});
    if (!ui::AskYesNo(this, ProgTitle, question)) {
      FLoadFailure = FormatText(_("Portable device \"%s\" is not ready!"), {stored.DeviceName});
      return false;
    }
    ReadDeviceList(FHeader, false);
    FDevice = OpenTaskDevice(stored.DeviceName);
  }

  const QString name = FDevice->DeviceName();
  for (int i = 0; i < lbDevices->count(); ++i) {
    if (lbDevices->item(i)->text() == name) {
      lbDevices->setCurrentRow(i);
      break;
    }
  }
  ShowTree();

  FLoading = true;
  FSettings = stored;
  cbxDestination->setEditText(stored.Destination);
  ApplySettingsToControls();
  FLoading = false;

  if (QTreeWidgetItem* top = tvFolders->topLevelItem(0)) {
    for (int i = 0; i < top->childCount(); ++i)
      ExpandNode(top->child(i));
  }
  FKept = {stored.DeviceName, stored.Dirs, true};
  SelectStoredFolders(stored.Dirs);
  bbShortcut->setEnabled(true);
  FTask.SetEditStatus(esSaved);
  UpdateTaskButtons();
  return true;
}

TPortableDevice* TMainForm::OpenTaskDevice(const QString& name)
{
  // A device that cannot be opened counts as not ready: the user may free it
  // (another program holding a phone) and try again.
  const std::vector<int> named = DevicesNamed(DevManager->DeviceList(), name);
  if (named.size() > 1) {
    QStringList devices;
    for (const int i : named) {
      const QString id = DevManager->DeviceList().Strings(i);
      const QString description = FListedDescriptions.value(id);
      devices << (description.isEmpty() ? id : description + u" ("_s + id + u')');
    }
    AddLine(0, u"  * "_s + LogSafeText(FormatText(_("Several devices are named \"%s\": %s; using %s"),
                                                  {name, devices.join(u", "_s), devices.first()})));
  }
  try {
    return DevManager->GetDeviceByName(name);
  } catch (const EArdantoError& e) {
    AddLine(0, ErrorLine(e.Message()));
    return nullptr;
  }
}

bool TMainForm::SaveTask(const QString& fileName)
{
  ReadControlsIntoSettings();
  try {
    WriteTaskFile(fileName, FSettings);
  } catch (const EArdantoError& e) {
    // Not written: the task stays what it was, changed and under its old name.
    ui::ShowError(this, e.Message());
    return false;
  }
  FTask.SetTaskName(fileName);
  FTask.SetEditStatus(esSaved);
  UpdateTaskButtons();
  statusBar()->showMessage(FormatText(_("Task saved: %s"), {fileName}), kStatusTimeout);
  return true;
}

bool TMainForm::SaveTaskClicked()
{
  if (FTask.TaskName().isEmpty())
    return SaveTaskAs();
  return SaveTask(FTask.TaskName());
}

bool TMainForm::SaveTaskAs()
{
  ui::TFileRequest request;
  request.Save = true;
  request.Title = _("Save backup configuration for portable device");
  request.Folder = FFolders.JobFolder;
  request.FileName = FTask.TaskName();
  request.Filter = ui::TaskFileFilter(u"pkj"_s);
  request.DefaultSuffix = u"pkj"_s;
  QDir().mkpath(FFolders.JobFolder);
  QString file = ui::ChooseFile(this, request);
  if (file.isEmpty())
    return false;
  if (GetExt(ExtractFileName(file)).isEmpty())
    file = AddExt(file, u"pkj"_s, 0);
  if (!SaveTask(file))
    return false;
  SetCaption(DelExt(ExtractFileName(file)));
  bbShortcut->setEnabled(true);
  return true;
}

int TMainForm::AskSaveChanged()
{
  return FTask.AskSaveChanged(
      [this](const QString& question) {
        switch (ui::AskYesNoCancel(this, ProgTitle, question)) {
        case ui::dbYes:
          return TSaveAnswer::Yes;
        case ui::dbNo:
          return TSaveAnswer::No;
        default:
          return TSaveAnswer::Cancel;
        }
      },
      [this] { return SaveTaskClicked(); });
}

void TMainForm::OpenTask()
{
  if (AskSaveChanged() == 2)
    return;
  ui::TFileRequest request;
  request.Title = _("Load backup configuration for portable device");
  request.Folder = FFolders.JobFolder;
  request.FileName = FTask.TaskName();
  request.Filter = ui::TaskFileFilter(u"pkj"_s);
  request.DefaultSuffix = u"pkj"_s;
  const QString file = ui::ChooseFile(this, request);
  if (file.isEmpty())
    return;
  mmProgress->clear();
  QCoreApplication::processEvents();
  if (LoadTaskFile(file))
    SetCaption(DelExt(ExtractFileName(file)));
}

void TMainForm::CreateShortcut()
{
  const QString taskName = FTask.TaskName();
  if (taskName.isEmpty())
    return;
  const platform::TDesktopShortcut shortcut =
      TaskShortcut(taskName, QCoreApplication::applicationFilePath(), FFolders.JobFolder, platform::DesktopFolder());
  if (!ui::AskYesNo(this, ProgTitle, ShortcutQuestion(shortcut, taskName, QFileInfo::exists(shortcut.FileName))))
    return;
  QDir().mkpath(platform::DesktopFolder());
  if (const int error = platform::CreateDesktopShortcut(shortcut)) {
    ui::ShowError(this, _("Error creating desktop shortcut!") + u"\r\n"_s + SystemErrorText(error));
    return;
  }
  statusBar()->showMessage(FormatText(_("Desktop shortcut created: %s"), {shortcut.Name}), kStatusTimeout);
}

void TMainForm::ResetSettings()
{
  if (!ui::AskYesNo(this, ProgTitle, _("Reset to default configuration") + u'?'))
    return;
  ReadControlsIntoSettings(); // what is not reset stays as the controls show it
  ResetTaskSettings(FSettings, Today());
  const TEditStatus status = FTask.EditStatus();
  ApplySettingsToControls();
  tvFolders->clearSelection();
  FKept.Dirs.clear(); // also the folders of a task whose device is away
  FTask.SetEditStatus(status);
  UpdateTaskButtons();
}

// ---------------------------------------------------------------------------
// Runs

void TMainForm::StartBackup()
{
  if (Busy())
    return;
  const TBusyGuard busy(FBusy);
  mmProgress->clear();
  RunBackup(false);
}

void TMainForm::RunBackup(bool automatic)
{
  if (FDevice == nullptr) {
    AddLine(0, _("No directory selected"));
    return;
  }
  ReadControlsIntoSettings();
  cbxDestination->AddToHistory(cbxDestination->currentText());
  FCancelRequested = false;
  FProgress = TRunProgress();
  ApplyRunProgress();
  SetRunning(true);
  FLastEvents = {};
  try {
    TBackupRun run(*FDevice, FSettings, *this);
    // Nobody may be there to cancel an automatic run that hangs on a device.
    run.SetStallTimeout(automatic ? kAutomaticStallTimeout : std::chrono::milliseconds(0));
    run.Run(SelectedFolders());
  } catch (...) {
    EndRun();
    throw;
  }
  EndRun();
}

void TMainForm::EndRun()
{
  SetRunning(false);
  edFolder->clear();
  ApplyRunProgress();
  if (FCancelRequested)
    statusBar()->showMessage(_("Backup cancelled"), kStatusTimeout);
  // The user asked to close while the run went on; the run is over now.
  if (FCloseAfterRun) {
    FCloseAfterRun = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void TMainForm::tmStartTimerTimer()
{
  tmStartTimer->stop();
  // Whatever the window is doing (a run, a tree being read, a dialog) may
  // hold the device: reloading the list now would close it under that. Look
  // again later.
  if (Busy()) {
    tmStartTimer->start();
    return;
  }
  bool closing = false;
  {
    const TBusyGuard busy(FBusy);
    closing = StartTask();
  }
  if (closing)
    close();
}

bool TMainForm::StartTask()
{
  FHeader = FCommandLine.ForceTask && FCommandLine.CloseProg ? AutoRunHeader(ProgTitle, ProgVersion) : QString();
  const QString taskName = FTask.TaskName();
  // A task picks its device itself; without one, a lone device is the one.
  ReadDeviceList(FHeader, taskName.isEmpty());
  if (taskName.isEmpty())
    return false;
  if (!FCommandLine.ForceTask) {
    // Only loaded: a task file that is not there gives no run and no word.
    if (QFileInfo(taskName).isFile())
      LoadTaskFile(taskName);
    return false;
  }
  bool loaded = false;
  try {
    loaded = LoadTaskFile(taskName);
  } catch (const EArdantoError& e) {
    FLoadFailure = e.Message();
  } catch (const std::exception& e) {
    FLoadFailure = QString::fromLocal8Bit(e.what());
  }
  if (loaded)
    return AutomaticRun();
  if (FLoadFailure.isEmpty())
    FLoadFailure = _("The backup task could not be loaded");
  AddLine(0, ErrorLine(FLoadFailure));
  // Without a display nobody can take over the open window: the run ends here.
  if (!FUnattended || !FCommandLine.CloseProg)
    return false;
  AddLine(0, AutoRunNotRunLine(QDateTime::currentDateTime()));
  return WriteAutomaticLog();
}

bool TMainForm::AutomaticRun()
{
  AddLine(0, u"========================="_s);
  StartTime = QDateTime::currentDateTime();
  AddLine(0, AutoRunStartLine(StartTime, FTask.TaskName()));
  // A run that breaks off still ends with its log.
  try {
    RunBackup(true);
  } catch (const EArdantoError& e) {
    AddLine(0, ErrorLine(e.Message()));
  } catch (const std::exception& e) {
    AddLine(0, ErrorLine(QString::fromLocal8Bit(e.what())));
  }
  AddLine(0, AutoRunFinishedLine(StartTime, QDateTime::currentDateTime()));
  return FCommandLine.CloseProg && WriteAutomaticLog();
}

bool TMainForm::WriteAutomaticLog()
{
  const QString logFile = AutoRunLogFile(FFolders.SettingsFolder, FTask.TaskName());
  try {
    WriteLogFile(logFile, ProgressLines());
  } catch (const EArdantoError& e) {
    if (!FUnattended) {
      // Someone is there: the window stays, so that the log can be copied.
      ui::ShowError(this, e.Message());
      return false;
    }
    // Nobody sees the window; the output is the only place left for the log.
    const QByteArray text = (ProgressLines().join(u'\n') + u'\n' + e.Message() + u'\n').toUtf8();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Information and closing

void TMainForm::ShowVersionInfo()
{
  ui::ShowInfo(this, InfoText(ProgTitle, ProgVersion, ProgVersDate, EnginePath, 3));
}

void TMainForm::closeEvent(QCloseEvent* event)
{
  if (FRunning) {
    // The run stops after the current file and the window closes then.
    if (ui::AskYesNo(this, ProgTitle, _("A backup is running.\r\nCancel it and close the window?"), false)) {
      CancelRun();
      FCloseAfterRun = true;
    }
    event->ignore();
    return;
  }
  if (AskSaveChanged() == 2) {
    event->ignore();
    return;
  }
  ReadControlsIntoSettings();
  cbxDestination->AddToHistory(cbxDestination->currentText());
  FProgram.DestinationHistory = cbxDestination->History();
  FProgram.Top = y();
  FProgram.Left = x();
  try {
    SaveSettingsFile(FFolders.IniName, FSettings, FProgram);
  } catch (const EWriteFileStreamError& e) {
    ui::ShowError(this, e.Message());
  }
  event->accept();
}

} // namespace portkeep
