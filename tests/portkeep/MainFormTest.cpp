#include "portkeep/gui/MainForm.h"
#include "common/IniFileUtils.h"
#include "common/LangUtils.h"
#include "devices/PortableDeviceUtils.h"
#include "devices/support/FakeDevicePlatform.h"
#include "portkeep/gui/FilterDlg.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"
#include "ui/FieldFormats.h"
#include "ui/HistoryComboBox.h"
#include "ui/ListEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FPlatform = std::make_shared<TFakeDevicePlatform>();
    FResponders.Question = [this](ui::TQuestion& q) {
      Questions << q.Text;
      return Answers.isEmpty() ? ui::dbNo : Answers.takeFirst();
    };
  }

  // A phone with one storage of three folders, files in "DCIM".
  TFakeDevice& AddPhone(const QString& name = u"Fake Phone"_s)
  {
    TFakeDevice& device = FPlatform->AddDevice(u"fake:"_s + name, name);
    TFakeDevicePlatform::AddStorage(device, u"s1"_s, u"Phone"_s);
    TFakeDevicePlatform::AddFolder(device, u"music"_s, u"s1"_s, u"Music"_s);
    TFakeDevicePlatform::AddFolder(device, u"dcim"_s, u"s1"_s, u"DCIM"_s);
    TFakeDevicePlatform::AddFolder(device, u"cam"_s, u"dcim"_s, u"Camera"_s);
    TFakeDevicePlatform::AddFolder(device, u"alarms"_s, u"s1"_s, u"alarms"_s);
    TFakeDevicePlatform::AddFile(device, u"f1"_s, u"dcim"_s, u"b.jpg"_s, QByteArray(3000, 'b'), 45000.25, ctImage);
    TFakeDevicePlatform::AddFile(device, u"f2"_s, u"dcim"_s, u"A.png"_s, QByteArray(100, 'a'), 45002.5, ctImage);
    TFakeDevicePlatform::AddFile(device, u"f3"_s, u"dcim"_s, u"c.txt"_s, QByteArray(2000000, 'c'), 44000.0,
                                 ctUnspecified);
    return device;
  }

  std::unique_ptr<TMainForm> MakeWindow(const QStringList& args = {})
  {
    auto window = std::make_unique<TMainForm>(args, FPlatform);
    window->show();
    return window;
  }

  template <typename T> static T* Find(const TMainForm& window, const char* name)
  {
    T* child = window.findChild<T*>(QLatin1StringView(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  TempDir FDir;
  ScopedEnv FConfig{"XDG_CONFIG_HOME", (FDir.Path() + u"/config"_s).toUtf8()};
  ScopedEnv FHome{"HOME", FDir.Path().toUtf8()};
  ScopedEnv FData{"XDG_DATA_HOME", (FDir.Path() + u"/data"_s).toUtf8()};
  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  ui::TScopedResponders FResponders;
  QStringList Questions;
  QList<ui::TDialogButton> Answers;
};

} // namespace

TEST_F(MainFormTest, StartTimerListsDevicesAndHeaderOnlyForForceAndClose)
{
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  EXPECT_EQ(window->ProgressLines(), (QStringList{u"  Loading device list"_s, u"    No portable device found"_s}));
  EXPECT_EQ(Find<QListWidget>(*window, "lbDevices")->count(), 0);

  AddPhone();
  AddPhone(u"Second"_s);
  auto forced = MakeWindow({u"/f"_s, u"/cl"_s});
  forced->tmStartTimerTimer();
  const QStringList lines = forced->ProgressLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith(u"Portkeep - "_s)) << lines[0].toStdString();
  EXPECT_EQ(lines[2], u"    2 portable devices found"_s);
}

TEST_F(MainFormTest, ALoneDeviceIsSelectedAtStartWithItsTreeAndProgress)
{
  TFakeDevice& device = AddPhone();
  for (int i = 0; i < 17; ++i)
    TFakeDevicePlatform::AddFile(device, u"m%1"_s.arg(i), u"music"_s, u"song%1.mp3"_s.arg(i), "x");
  auto window = MakeWindow();
  auto* progress = Find<QPlainTextEdit>(*window, "mmProgress");
  QStringList counts;
  QObject::connect(progress, &QPlainTextEdit::textChanged, [&] {
    const QString last = progress->toPlainText().section(u'\n', -1);
    if (last.endsWith(u"objects found"_s) && (counts.isEmpty() || counts.last() != last))
      counts << last;
  });
  window->tmStartTimerTimer();
  // device, storage, 4 folders, 3 + 17 files: 26 objects
  EXPECT_EQ(counts, (QStringList{u"    0 objects found"_s, u"    10 objects found"_s, u"    20 objects found"_s,
                                 u"    26 objects found"_s}));
  const QStringList lines = window->ProgressLines();
  EXPECT_EQ(lines, (QStringList{u"  Loading device list"_s, u"    1 portable device found"_s,
                                u"  Selected: Fake Phone"_s, u"  Reading the directory structure"_s,
                                u"    26 objects found"_s, u"    4 directories found"_s}));
  EXPECT_EQ(Find<QListWidget>(*window, "lbDevices")->currentRow(), 0);
  EXPECT_EQ(Find<QGroupBox>(*window, "gbDevice")->title(), u"Fake Phone"_s);
  EXPECT_EQ(Find<QLabel>(*window, "laManufacturer")->text(), u"Fake Devices Inc."_s);
  EXPECT_TRUE(Find<QLabel>(*window, "imWarning")->isHidden());

  auto* tree = Find<QTreeWidget>(*window, "tvFolders");
  QTreeWidgetItem* top = tree->topLevelItem(0);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->text(0), u"Fake Phone"_s);
  ASSERT_EQ(top->childCount(), 1);
  EXPECT_TRUE(top->child(0)->isSelected()) << "every storage is selected for backup";

  // Expanding a storage lists its folders sorted; collapsing and expanding
  // again rebuilds them and drops their selection.
  QTreeWidgetItem* storage = top->child(0);
  storage->setExpanded(true);
  ASSERT_EQ(storage->childCount(), 3);
  EXPECT_EQ(storage->child(0)->text(0), u"alarms"_s);
  EXPECT_EQ(storage->child(1)->text(0), u"DCIM"_s);
  EXPECT_EQ(storage->child(2)->text(0), u"Music"_s);
  storage->child(1)->setSelected(true);
  storage->setExpanded(false);
  storage->setExpanded(true);
  EXPECT_FALSE(storage->child(1)->isSelected());
}

TEST_F(MainFormTest, AStorageThatCannotBeListedShowsTheWarning)
{
  TFakeDevice& device = AddPhone();
  TFakeDevicePlatform::AddStorage(device, u"s2"_s, u"Card"_s).EnumResult = E_ACCESSDENIED;
  auto window = MakeWindow();
  window->tmStartTimerTimer(); // selects the lone device
  EXPECT_FALSE(Find<QLabel>(*window, "imWarning")->isHidden());
  const QStringList lines = window->ProgressLines();
  const qsizetype at = lines.indexOf(u"* Errors occurred when reading the directory structure:"_s);
  ASSERT_GE(at, 0) << lines.join(u'\n').toStdString();
  ASSERT_EQ(lines.size(), at + 2) << "one line per failing object";
  EXPECT_TRUE(lines[at + 1].startsWith(u"    Object \"s2\" (Card): "_s)) << lines[at + 1].toStdString();
  EXPECT_TRUE(lines[at + 1].endsWith(u"(0x80070005)"_s)) << lines[at + 1].toStdString();

  window->LoadDeviceList();
  EXPECT_TRUE(Find<QLabel>(*window, "imWarning")->isHidden());
  EXPECT_EQ(window->Device(), nullptr) << "a reloaded list leaves no closed device in use";
  EXPECT_EQ(Find<QTreeWidget>(*window, "tvFolders")->topLevelItemCount(), 0);
}

TEST_F(MainFormTest, FileListSortsByEachColumn)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  window->SelectDevice(0);
  auto* tree = Find<QTreeWidget>(*window, "tvFolders");
  QTreeWidgetItem* storage = tree->topLevelItem(0)->child(0);
  storage->setExpanded(true);
  QTreeWidgetItem* dcim = storage->child(1);
  emit tree->itemClicked(dcim, 0);
  auto* files = Find<QTreeWidget>(*window, "lvFiles");
  const auto names = [files] {
    QStringList list;
    for (int i = 0; i < files->topLevelItemCount(); ++i)
      list << files->topLevelItem(i)->text(0);
    return list;
  };
  EXPECT_EQ(names(), (QStringList{u"A.png"_s, u"b.jpg"_s, u"c.txt"_s})) << "by name, ignoring case";
  EXPECT_FALSE(files->topLevelItem(0)->icon(0).isNull()) << "images have an icon";
  EXPECT_TRUE(files->topLevelItem(2)->icon(0).isNull()) << "unspecified content has none";
  EXPECT_EQ(files->topLevelItem(2)->text(2), u"1.91 MiB"_s);

  emit files->header()->sectionClicked(1);
  EXPECT_EQ(names(), (QStringList{u"A.png"_s, u"b.jpg"_s, u"c.txt"_s})) << "date: newest first";
  emit files->header()->sectionClicked(1);
  EXPECT_EQ(names(), (QStringList{u"c.txt"_s, u"b.jpg"_s, u"A.png"_s})) << "date again: oldest first";
  emit files->header()->sectionClicked(2);
  EXPECT_EQ(names(), (QStringList{u"c.txt"_s, u"b.jpg"_s, u"A.png"_s})) << "size: largest first";
  emit files->header()->sectionClicked(0);
  EXPECT_EQ(names(), (QStringList{u"A.png"_s, u"b.jpg"_s, u"c.txt"_s}));
  emit files->header()->sectionClicked(0);
  EXPECT_EQ(names(), (QStringList{u"c.txt"_s, u"b.jpg"_s, u"A.png"_s}));
}

TEST_F(MainFormTest, CompressionControlsAndCaption)
{
  auto window = MakeWindow({u"daily"_s});
  EXPECT_TRUE(window->windowTitle().endsWith(u" - Backup files from a portable device [daily.pkj]"_s))
      << window->windowTitle().toStdString();
  auto* compress = Find<QCheckBox>(*window, "cbCompress");
  auto* zip = Find<QCheckBox>(*window, "cbZip");
  EXPECT_TRUE(zip->isHidden());
  EXPECT_TRUE(Find<QListWidget>(*window, "lbNoComp")->isHidden());
  compress->click();
  EXPECT_FALSE(zip->isHidden());
  EXPECT_FALSE(Find<QListWidget>(*window, "lbNoComp")->isHidden());
  zip->click();
  EXPECT_TRUE(zip->isChecked());
  compress->click();
  EXPECT_TRUE(zip->isHidden());
  EXPECT_FALSE(zip->isChecked()) << "hidden means unchecked";

  auto plain = MakeWindow();
  EXPECT_FALSE(plain->windowTitle().contains(u'['));
}

TEST_F(MainFormTest, NoCompressionEditorShowsTheEmptyTypeAsOhne)
{
  auto window = MakeWindow();
  ui::SetListResponder([](const QString& title, QStringList& items) {
    EXPECT_EQ(title, u"File types not to compress"_s);
    items = {u"raw"_s, QString(), u"JPG"_s};
    return true;
  });
  Find<QCheckBox>(*window, "cbCompress")->click();
  Find<QPushButton>(*window, "btNoComp")->click();
  ui::SetListResponder({});
  auto* list = Find<QListWidget>(*window, "lbNoComp");
  QStringList shown;
  for (int i = 0; i < list->count(); ++i)
    shown << list->item(i)->text();
  EXPECT_EQ(shown, (QStringList{u"<ohne>"_s, u"JPG"_s, u"raw"_s}));
  EXPECT_EQ(window->CurrentSettings().NoCompTypes, (QStringList{QString(), u"JPG"_s, u"raw"_s}));
}

TEST_F(MainFormTest, TimeSlotFieldsFollowTheMode)
{
  auto window = MakeWindow();
  auto* mode = Find<QComboBox>(*window, "cbxTimeMode");
  auto* from = Find<QDateTimeEdit>(*window, "edFrom");
  auto* to = Find<QDateTimeEdit>(*window, "edTo");
  auto* days = Find<QSpinBox>(*window, "edDays");
  EXPECT_EQ(mode->itemText(3), u" Time period"_s);
  const struct {
    int Mode;
    bool From, To, Days;
  } layouts[] = {{0, false, false, false}, {1, true, false, false}, {2, false, true, false}, {3, true, true, false},
                 {4, true, false, false},  {5, false, false, true}, {6, false, false, true}};
  for (const auto& l : layouts) {
    mode->setCurrentIndex(l.Mode);
    emit mode->activated(l.Mode);
    EXPECT_EQ(!from->isHidden(), l.From) << l.Mode;
    EXPECT_EQ(!to->isHidden(), l.To) << l.Mode;
    EXPECT_EQ(!days->isHidden(), l.Days) << l.Mode;
  }
  mode->setCurrentIndex(4);
  emit mode->activated(4);
  EXPECT_FALSE(from->displayFormat().contains(u"yyyy"_s)) << "a time field in mode 4";

  mode->setCurrentIndex(3);
  emit mode->activated(3);
  to->setDate(QDate(2024, 3, 10));
  from->setDate(QDate(2024, 3, 1));
  from->setDate(QDate(2024, 3, 20));
  EXPECT_EQ(to->date(), QDate(2024, 3, 21)) << "to-date pushed to the day after";
  to->setDate(QDate(2024, 3, 5));
  EXPECT_EQ(from->date(), QDate(2024, 3, 5)) << "from-date pulled to the same day";
  days->setValue(20000);
  EXPECT_EQ(days->value(), 9999);
  const TTaskSettings s = window->CurrentSettings();
  EXPECT_EQ(s.TimePeriod.Mode, tmSpan);
  EXPECT_DOUBLE_EQ(s.TimePeriod.Dat1, DateTimeFromQDateTime(QDateTime(QDate(2024, 3, 5), QTime(0, 0), Qt::UTC)));
}

TEST_F(MainFormTest, TasksSaveLoadAskAndReset)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  window->SelectDevice(0);
  const QString task = FDir.File(u"jobs/phone.pkj"_s);
  window->SaveTask(task);
  EXPECT_EQ(window->Task().EditStatus(), esSaved);
  auto* save = Find<QPushButton>(*window, "bbSave");
  EXPECT_FALSE(save->isEnabled());

  Find<QTreeWidget>(*window, "tvFolders")->clearSelection();
  EXPECT_EQ(window->Task().EditStatus(), esSaved) << "the folder selection does not mark a change";
  Find<QRadioButton>(*window, "rbOverwrite2")->click();
  EXPECT_EQ(window->Task().EditStatus(), esChanged);
  EXPECT_TRUE(save->isEnabled());

  // Closing asks; Cancel keeps the window open.
  Answers = {ui::dbCancel};
  EXPECT_FALSE(window->close());
  EXPECT_EQ(Questions.last(), u"Save changed task to \"phone.pkj\"?"_s);

  // Reset after confirmation: overwrite mode back to 0, the filter off.
  Answers = {ui::dbYes};
  Find<QPushButton>(*window, "bbReset")->click();
  EXPECT_EQ(Questions.last(), u"Reset to default configuration?"_s);
  EXPECT_TRUE(Find<QRadioButton>(*window, "rbOverwrite0")->isChecked());

  // Loading the saved task selects its storage again.
  auto second = MakeWindow();
  second->tmStartTimerTimer();
  ASSERT_TRUE(second->LoadTask(task));
  EXPECT_EQ(Find<QTreeWidget>(*second, "tvFolders")->selectedItems().size(), 1);
  EXPECT_TRUE(Find<QPushButton>(*second, "bbShortcut")->isEnabled());
  EXPECT_EQ(second->Task().EditStatus(), esSaved);
}

TEST_F(MainFormTest, LoadingATaskForAMissingDeviceAsksAndCanGiveUp)
{
  TempDir tasks;
  const QString task = tasks.Write(u"t.pkj"_s, "[Config]\nDeviceName=Gone Phone\n");
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  Answers = {ui::dbNo};
  EXPECT_FALSE(window->LoadTask(task));
  ASSERT_FALSE(Questions.isEmpty());
  EXPECT_EQ(Questions.last(), u"Portable device \"Gone Phone\" is not ready!\r\nPlease connect it to the computer "
                              u"and activate the device!\r\nContinue?"_s);
  EXPECT_EQ(window->Task().TaskName(), task);
}

TEST(FilterDialog, EnablingRulesAndInvalidMasks)
{
  TempDir dir;
  const QString ini = dir.File(u"Portkeep.ini"_s);
  TFilterDialog::SetHistoryFile(ini, u"FileFilter"_s);
  TTextFilter filter(true, true);
  TFilterDialog dialog;
  dialog.Prepare(filter, u"Filter for filenames"_s, u"Backup files"_s, true, true);
  auto* all = dialog.findChild<QRadioButton*>(u"rbAll"_s);
  auto* matching = dialog.findChild<QRadioButton*>(u"rbMatching"_s);
  auto* regular = dialog.findChild<QCheckBox*>(u"cbRegular"_s);
  auto* edit = dialog.findChild<QPushButton*>(u"btEdit"_s);
  auto* text = dialog.findChild<ui::THistoryComboBox*>(u"cbxFilter"_s);
  auto* evaluate = dialog.findChild<QGroupBox*>(u"rgEvaluate"_s);
  auto* andOp = dialog.findChild<QRadioButton*>(u"rbAnd"_s);
  ASSERT_TRUE(all && matching && regular && edit && text && evaluate && andOp);

  EXPECT_TRUE(all->isChecked());
  EXPECT_FALSE(regular->isEnabled());
  EXPECT_FALSE(text->isEnabled());
  EXPECT_EQ(text->currentText(), u"*"_s);

  matching->click();
  EXPECT_TRUE(regular->isEnabled());
  EXPECT_TRUE(text->isEnabled());
  EXPECT_TRUE(edit->isEnabled());
  regular->click();
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_EQ(text->currentText(), u"."_s) << "checking turns * into .";
  EXPECT_TRUE(evaluate->isHidden());
  regular->click();
  EXPECT_EQ(text->currentText(), u"*"_s);
  text->setEditText(u"*.jpg"_s);
  andOp->click();
  EXPECT_EQ(text->currentText(), u"+*.jpg"_s);

  ui::TScopedResponders responders;
  QString shown;
  responders.Question = [&](ui::TQuestion& q) {
    shown = q.Text;
    return ui::dbOk;
  };
  text->setEditText(u"[ab"_s);
  EXPECT_FALSE(dialog.Apply(filter));
  EXPECT_EQ(shown, u"Invalid filter mask!\r\nShould resemble * or [ab]*"_s);
  EXPECT_EQ(filter.Mode(), fmOff) << "a rejected text leaves the filter as it was";
  regular->click();
  text->setEditText(u"(unclosed"_s);
  EXPECT_FALSE(dialog.Apply(filter));
  EXPECT_EQ(shown, u"Invalid filter mask!\r\nShould resemble \\D or A+[bc]."_s);

  regular->click();
  text->setEditText(QString());
  ASSERT_TRUE(dialog.Apply(filter));
  EXPECT_EQ(filter.Filter(), u"*.*"_s) << "an empty text with All matching stores *.*";
  EXPECT_FALSE(filter.Regular());
  EXPECT_EQ(filter.Mode(), fmInclude);
  EXPECT_EQ(ui::FilterDisplayText(filter), u"only *.*"_s);

  all->click();
  ASSERT_TRUE(dialog.Apply(filter));
  EXPECT_EQ(filter.Mode(), fmOff);
  EXPECT_EQ(filter.Filter(), u"*.*"_s) << "All keeps the previous mask";
  EXPECT_EQ(ui::FilterDisplayText(filter), u"All files"_s);
  dialog.SaveHistory();
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(ini).ReadString(u"FileFilter"_s, u"History0"_s, {}), u"*.*"_s);
}

TEST_F(MainFormTest, ARunLocksTheWindowAndShowsItsProgress)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  Find<ui::THistoryComboBox>(*window, "cbxDestination")->setEditText(FDir.Path() + u"/backup"_s);
  int events = 0;
  bool closed = true;
  bool backupEnabled = true;
  bool devicesEnabled = true;
  bool cancelEnabled = false;
  window->OnRunEvent = [&] {
    if (events++ == 0) {
      closed = window->close(); // answered No: the run goes on
      backupEnabled = Find<QPushButton>(*window, "bbBackup")->isEnabled();
      devicesEnabled = Find<QListWidget>(*window, "lbDevices")->isEnabled();
      cancelEnabled = Find<QPushButton>(*window, "bbCancel")->isEnabled();
    }
  };
  auto* cancel = Find<QPushButton>(*window, "bbCancel");
  EXPECT_FALSE(cancel->isEnabled());
  Find<QPushButton>(*window, "bbBackup")->click();
  EXPECT_GT(events, 0);
  EXPECT_FALSE(closed) << "the window stays while the run goes on";
  EXPECT_EQ(Questions.value(0), u"A backup is running.\r\nCancel it and close the window?"_s);
  EXPECT_FALSE(backupEnabled);
  EXPECT_FALSE(devicesEnabled);
  EXPECT_TRUE(cancelEnabled);
  EXPECT_FALSE(cancel->isEnabled()) << "nothing to cancel after the run";
  EXPECT_TRUE(Find<QPushButton>(*window, "bbBackup")->isEnabled());
  EXPECT_TRUE(window->ProgressLines().contains(u"  3 files copied"_s))
      << window->ProgressLines().join(u'\n').toStdString();
  auto* bar = Find<QProgressBar>(*window, "pbRun");
  EXPECT_EQ(bar->value(), 1000);
  EXPECT_EQ(bar->format(), u"3 of 3 files, 1.91 MiB of 1.91 MiB"_s);
}

TEST_F(MainFormTest, CancelStopsTheRunAfterTheCurrentFile)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  Find<ui::THistoryComboBox>(*window, "cbxDestination")->setEditText(FDir.Path() + u"/backup"_s);
  auto* cancel = Find<QPushButton>(*window, "bbCancel");
  window->OnRunEvent = [&] {
    if (cancel->isEnabled())
      cancel->click();
  };
  Find<QPushButton>(*window, "bbBackup")->click();
  const QStringList lines = window->ProgressLines();
  EXPECT_TRUE(lines.contains(u"Backup cancelled"_s)) << lines.join(u'\n').toStdString();
  EXPECT_FALSE(lines.contains(u"  3 files copied"_s)) << lines.join(u'\n').toStdString();
  EXPECT_LT(Find<QProgressBar>(*window, "pbRun")->value(), 1000);

  // Closing during a run, answered Yes: the run stops and the window closes.
  window->OnRunEvent = [&] {
    if (cancel->isEnabled()) {
      Answers = {ui::dbYes};
      window->close();
    }
  };
  window->show();
  Find<QPushButton>(*window, "bbBackup")->click();
  EXPECT_TRUE(window->isVisible()) << "not while the run still ends";
  QCoreApplication::processEvents();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(window->ProgressLines().contains(u"Backup cancelled"_s));
}

TEST_F(MainFormTest, DesktopShortcutStartsTheTask)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  window->SelectDevice(0);
  const QString task = FDir.File(u"jobs/My Phone.pkj"_s);
  window->SaveTask(task);
  Answers = {ui::dbYes};
  Find<QPushButton>(*window, "bbShortcut")->setEnabled(true);
  Find<QPushButton>(*window, "bbShortcut")->click();
  EXPECT_EQ(Questions.last(), u"Backup files from a portable device\r\nCreate desktop shortcut for \"My Phone\"?"_s);
  const QString link = FDir.Path() + u"/Desktop/Ardanto-Portkeep-My Phone.desktop"_s;
  ASSERT_TRUE(QFileInfo::exists(link));
  const QString text = QString::fromUtf8(ReadFile(link));
  EXPECT_TRUE(text.contains(u" \"" + task + u"\" /f\n"_s)) << text.toStdString();
  EXPECT_TRUE(text.contains(u"Comment=Device backup: My Phone\n"_s));
  if (HasProgram(u"desktop-file-validate"_s)) {
    const ProcessResult check = ardanto::test::Run(u"desktop-file-validate"_s, {link});
    EXPECT_EQ(check.ExitCode, 0) << check.Output.toStdString();
  }
  Answers = {ui::dbYes};
  Find<QPushButton>(*window, "bbShortcut")->click();
  EXPECT_EQ(Questions.last(), u"Backup files from a portable device\r\n"
                              u"Replace existing desktop shortcut \"Ardanto-Portkeep-My Phone\"?"_s);
}

TEST_F(MainFormTest, TheStartTimerWaitsForARunningBackup)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  window->SelectDevice(0);
  Find<ui::THistoryComboBox>(*window, "cbxDestination")->setEditText(FDir.Path() + u"/backup"_s);
  ardanto::TPortableDevice* device = window->Device();
  bool fired = false;
  window->OnRunEvent = [&] {
    if (!fired) {
      fired = true;
      window->tmStartTimerTimer(); // as if the one-second timer fired now
      EXPECT_EQ(window->Device(), device) << "the running backup keeps its device";
    }
  };
  Find<QPushButton>(*window, "bbBackup")->click();
  EXPECT_TRUE(fired);
  EXPECT_TRUE(window->ProgressLines().contains(u"  3 files copied"_s));
  EXPECT_TRUE(window->findChild<QTimer*>(u"tmStartTimer"_s)->isActive()) << "it looks again after the run";
}

TEST_F(MainFormTest, LoadingATaskSelectsStoredFoldersAtAnyDepth)
{
  AddPhone();
  TempDir tasks;
  const QString task = tasks.Write(u"t.pkj"_s, "[Config]\nDeviceName=Fake Phone\nDirCount=3\n[Directories]\n"
                                               "Dir00=Phone\\DCIM\\Camera\nDir01=Phone\\Nowhere\nDir02=Phone\\Music\n");
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  ASSERT_TRUE(window->LoadTask(task));
  EXPECT_TRUE(window->ProgressLines().contains(u"  *** Directory not found: Phone\\Nowhere"_s))
      << window->ProgressLines().join(u'\n').toStdString();
  const QList<QTreeWidgetItem*> selected = Find<QTreeWidget>(*window, "tvFolders")->selectedItems();
  QStringList names;
  for (const QTreeWidgetItem* item : selected)
    names << item->text(0);
  names.sort();
  EXPECT_EQ(names, (QStringList{u"Camera"_s, u"Music"_s}));
  for (const QTreeWidgetItem* item : selected)
    EXPECT_TRUE(item->parent()->isExpanded()) << "the tree is opened down to " << item->text(0).toStdString();
  // The folder not found now stays in the task until the user picks folders.
  EXPECT_EQ(window->CurrentSettings().Dirs,
            (QStringList{u"Phone\\DCIM\\Camera"_s, u"Phone\\Nowhere"_s, u"Phone\\Music"_s}));
}

TEST_F(MainFormTest, ReloadKeepsTheLoadedTasksDeviceAndFolders)
{
  AddPhone();
  TempDir tasks;
  const QString task = tasks.Write(u"t.pkj"_s, "[Config]\nDeviceName=Fake Phone\nDirCount=2\n[Directories]\n"
                                               "Dir00=Phone\\DCIM\\Camera\nDir01=Card\\Music\n");
  const auto stored = [&task] {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(task);
    QStringList values{ini.ReadString(u"Config"_s, u"DeviceName"_s, {})};
    for (int i = 0; i < ini.ReadInteger(u"Config"_s, u"DirCount"_s, 0); ++i)
      values << ini.ReadString(u"Directories"_s, DirKey(i), {});
    return values;
  };
  const QStringList whole{u"Fake Phone"_s, u"Phone\\DCIM\\Camera"_s, u"Card\\Music"_s};
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  ASSERT_TRUE(window->LoadTask(task));
  auto* reload = Find<QPushButton>(*window, "btReload");

  // Reload, change an option, save: the task keeps its device and folders,
  // also the folder of the card that is not in the phone now.
  reload->click();
  Find<QRadioButton>(*window, "rbOverwrite1")->click();
  window->SaveTask(task);
  EXPECT_EQ(stored(), whole);

  // The same while the phone is away.
  FPlatform->Devices.clear();
  reload->click();
  EXPECT_EQ(window->Device(), nullptr);
  Find<QRadioButton>(*window, "rbOverwrite2")->click();
  window->SaveTask(task);
  EXPECT_EQ(stored(), whole);

  // Back again: Reload opens it with the task's folders selected.
  AddPhone();
  reload->click();
  ASSERT_NE(window->Device(), nullptr);
  QStringList selected;
  for (QTreeWidgetItem* item : Find<QTreeWidget>(*window, "tvFolders")->selectedItems())
    selected << item->text(0);
  EXPECT_EQ(selected, QStringList{u"Camera"_s});

  // A folder the user picks now replaces the task's folders.
  Find<QTreeWidget>(*window, "tvFolders")->topLevelItem(0)->child(0)->setSelected(true);
  EXPECT_EQ(window->CurrentSettings().Dirs, (QStringList{u"Phone\\DCIM\\Camera"_s, u"Phone"_s}));
}

TEST_F(MainFormTest, AFailedSaveLeavesTheTaskChangedAndTheWindowOpen)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  window->SelectDevice(0);
  const QString task = FDir.File(u"jobs/phone.pkj"_s);
  window->SaveTask(task);
  ASSERT_EQ(window->Task().EditStatus(), esSaved);
  Find<QRadioButton>(*window, "rbOverwrite2")->click();
  // The job folder turns into a file: nothing can be written below it.
  ASSERT_TRUE(QDir(FDir.File(u"jobs"_s)).removeRecursively());
  WriteFile(FDir.File(u"jobs"_s), "not a folder");

  Answers = {ui::dbYes}; // save the changed task before closing
  EXPECT_FALSE(window->close()) << "the edits are not lost";
  EXPECT_EQ(Questions.value(0), u"Save changed task to \"phone.pkj\"?"_s);
  EXPECT_EQ(Questions.size(), 2) << "the write error is shown";
  EXPECT_EQ(window->Task().EditStatus(), esChanged);
  EXPECT_TRUE(Find<QPushButton>(*window, "bbSave")->isEnabled());

  // Save as into the same place: no shortcut for a file never written.
  auto fresh = MakeWindow();
  const QString other = FDir.File(u"jobs"_s) + u"/other.pkj"_s;
  FResponders.File = [&](const ui::TFileRequest&) { return other; };
  Find<QPushButton>(*fresh, "bbSaveAs")->click();
  EXPECT_FALSE(Find<QPushButton>(*fresh, "bbShortcut")->isEnabled());
  EXPECT_TRUE(fresh->Task().TaskName().isEmpty());
}

TEST_F(MainFormTest, ADeviceThatCannotBeOpenedHidesNoOther)
{
  TFakeDevice& held = AddPhone(u"Held Phone"_s);
  held.OpenResult = E_DEVICE_BUSY;
  held.OpenDetail = u"in use by gvfsd-mtp (pid 4321)"_s;
  AddPhone(u"Free Phone"_s);
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  auto* list = Find<QListWidget>(*window, "lbDevices");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), u"Free Phone"_s);
  const QStringList lines = window->ProgressLines();
  const auto held_line = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
    return l.startsWith(u"  *** "_s) && l.contains(u"Held Phone"_s) && l.contains(u"gvfsd-mtp (pid 4321)"_s);
  });
  EXPECT_NE(held_line, lines.end()) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines.contains(u"    1 portable device found"_s)) << lines.join(u'\n').toStdString();

  // The list's line opens the device it shows.
  window->SelectDevice(0);
  ASSERT_NE(window->Device(), nullptr);
  EXPECT_EQ(window->Device()->DeviceName(), u"Free Phone"_s);
}

TEST_F(MainFormTest, TwoDevicesOfTheTasksNameAreNamedInTheLog)
{
  TFakeDevice& first = AddPhone();
  first.Description = u"Phone of Ann"_s;
  TFakeDevice& second = AddPhone();
  second.ID = u"fake:Fake Phone 2"_s;
  second.Description = u"Phone of Bob"_s;
  TempDir tasks;
  const QString task = tasks.Write(u"t.pkj"_s, "[Config]\nDeviceName=Fake Phone\n");
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  ASSERT_TRUE(window->LoadTask(task));
  EXPECT_EQ(window->Device()->DeviceID(), u"fake:Fake Phone"_s) << "the first one, as before";
  const QStringList lines = window->ProgressLines();
  const auto warning = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
    return l.contains(u"Phone of Ann"_s) && l.contains(u"Phone of Bob"_s);
  });
  ASSERT_NE(warning, lines.end()) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(warning->contains(u"fake:Fake Phone 2"_s)) << warning->toStdString();
}

TEST_F(MainFormTest, ANewTaskCanBeSavedAndSavingIsConfirmed)
{
  AddPhone();
  auto window = MakeWindow();
  window->tmStartTimerTimer();
  auto* save = Find<QPushButton>(*window, "bbSave");
  EXPECT_TRUE(save->isEnabled()) << "a new task saves as a new file";
  const QString task = FDir.File(u"jobs/new.pkj"_s);
  FResponders.File = [&](const ui::TFileRequest& request) {
    EXPECT_TRUE(request.Save);
    return task;
  };
  save->click();
  ASSERT_TRUE(QFileInfo::exists(task));
  EXPECT_FALSE(save->isEnabled());
  EXPECT_TRUE(window->statusBar()->currentMessage().contains(task))
      << window->statusBar()->currentMessage().toStdString();

  Answers = {ui::dbYes};
  Find<QPushButton>(*window, "bbShortcut")->click();
  EXPECT_TRUE(window->statusBar()->currentMessage().contains(u"Ardanto-Portkeep-new"_s))
      << window->statusBar()->currentMessage().toStdString();
}

TEST_F(MainFormTest, NothingMovesWhenADeviceIsChosenOrCompressionTicked)
{
  TFakeDevice& device = AddPhone(u"A phone whose name is much longer than the column of devices is wide"_s);
  device.Description = u"A description that is far longer than the group of properties would like it to be"_s;
  auto window = MakeWindow();
  const auto settle = [] {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  };
  const auto geometries = [&] {
    QStringList places;
    for (const char* name : {"lbDevices", "tvFolders", "lvFiles", "cbxDestination", "gbTimeSlot", "gbFilter",
                             "bbBackup", "pbRun", "mmProgress"}) {
      const QWidget* widget = Find<QWidget>(*window, name);
      const QPoint at = widget->mapTo(window.get(), QPoint(0, 0));
      places << u"%1 %2,%3 %4x%5"_s.arg(QLatin1StringView(name))
                    .arg(at.x())
                    .arg(at.y())
                    .arg(widget->width())
                    .arg(widget->height());
    }
    return places;
  };
  settle();
  const QStringList before = geometries();
  window->tmStartTimerTimer(); // selects the lone device
  settle();
  ASSERT_NE(window->Device(), nullptr);
  EXPECT_EQ(geometries(), before) << "choosing a device";
  Find<QCheckBox>(*window, "cbCompress")->click();
  settle();
  EXPECT_EQ(geometries(), before) << "ticking Compress files";
  Find<QCheckBox>(*window, "cbCompress")->click();
  settle();
  EXPECT_EQ(geometries(), before) << "and off again";
}

TEST_F(MainFormTest, NothingReachesTheDeviceWhileItsTreeIsRead)
{
  TFakeDevice& phone = AddPhone();
  for (int i = 0; i < 40; ++i)
    TFakeDevicePlatform::AddFile(phone, u"m%1"_s.arg(i), u"music"_s, u"song%1.mp3"_s.arg(i), "x");
  AddPhone(u"Second"_s);
  auto window = MakeWindow();
  window->tmStartTimerTimer(); // two devices: none is selected
  // The tree is read with the window taking its events: these come then.
  bool fired = false;
  QTimer::singleShot(0, window.get(), [&] {
    fired = true;
    Find<QPushButton>(*window, "btReload")->click();
    emit Find<QListWidget>(*window, "lbDevices")->itemClicked(Find<QListWidget>(*window, "lbDevices")->item(1));
    window->tmStartTimerTimer();
  });
  FPlatform->Stats.Closed.clear();
  window->SelectDevice(0);
  EXPECT_TRUE(fired) << "the events came while the tree was read";
  EXPECT_FALSE(FPlatform->Stats.Closed.contains(u"fake:Fake Phone"_s)) << "the device stayed open under the reading";
  ASSERT_NE(window->Device(), nullptr);
  EXPECT_EQ(window->Device()->DeviceID(), u"fake:Fake Phone"_s);
  EXPECT_EQ(window->Device()->Content()->ObjectCount(), 49);
  EXPECT_EQ(Find<QTreeWidget>(*window, "tvFolders")->topLevelItem(0)->text(0), u"Fake Phone"_s);
  EXPECT_TRUE(window->findChild<QTimer*>(u"tmStartTimer"_s)->isActive()) << "the start timer looks again later";
}

TEST_F(MainFormTest, TheWindowSpeaksGermanWithTheGermanCatalogue)
{
  ActivateLanguage(u"de"_s, {u"portkeep"_s, u"ardanto-lib"_s});
  const auto window = MakeWindow();
  ActivateLanguage(u"en"_s);
  EXPECT_EQ(Find<QPushButton>(*window, "bbBackup")->text(), u"Sicherung starten"_s);
  EXPECT_EQ(Find<QGroupBox>(*window, "gbFileProcessing")->title(), u"Dateiverarbeitung"_s);
  EXPECT_EQ(Find<QGroupBox>(*window, "gbTimeSlot")->title(), u"Zeitraum"_s);
}
