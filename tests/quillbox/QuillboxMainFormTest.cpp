// Quillbox's main window over real Thunderbird profiles and the recording
// engine: what the window decides itself (start steps, enabling, which
// options reach the engine, refusals while the engine runs).

#include "quillbox/gui/MainForm.h"

#include "common/IniFileUtils.h"
#include "common/LangUtils.h"
#include "common/VolumePaths.h"
#include "platform/Power.h"
#include "quillbox/WindowTestSupport.h"
#include "quillbox/gui/SelectProfileDlg.h"
#include "scheduler/editor/ScheduleEditor.h"
#include "scheduler/gui/TaskSchedDlg.h"
#include "support/RecordingEngine.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"
#include "ui/Dialogs.h"
#include "ui/ListEditor.h"
#include "ui/PasswordDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace Qt::StringLiterals;
using ardanto::TUnicodeIniFile;
using ardanto::test::ScopedEnv;
using ardanto::test::TempDir;
using ardanto::test::TRecordingEngine;
using quillbox::TMainForm;

class QuillboxWindowTest : public quillbox::test::TWindowTest {
protected:
  void SetUp() override
  {
    TWindowTest::SetUp();
    FResponders.Question = [this](ardanto::ui::TQuestion& question) {
      Messages.append(question.Text);
      return (question.Buttons & ardanto::ui::dbCancel) ? ardanto::ui::dbCancel : ardanto::ui::dbOk;
    };
    FResponders.Folder = [this](const QString& title, const QString&) {
      Messages.append(title);
      return FolderAnswer;
    };
  }
  void TearDown() override
  {
    TWindowTest::TearDown();
    quillbox::SetProfileResponder({});
  }

  QString TaskValue(const QString& section, const QString& key) const
  {
    return TUnicodeIniFile::CreateForRead(FWindow->State().BuTaskName).ReadString(section, key, u"?"_s);
  }

  QString FolderAnswer;
};

TEST_F(QuillboxWindowTest, HoldsItsControlsAndEveryButtonWorks)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open();
  for (const char* name : {"edProfile", "edMailDir", "leBackupDir"})
    Control<QLineEdit>(name);
  for (const char* name :
       {"cbNoCompression", "cbCalendar", "cbSync", "cbRecycler", "cbFixPassword", "cbSendMail", "cbOnTop"})
    Control<QCheckBox>(name);
  for (const char* name : {"rgLogFile", "gbEncrypt", "gbBackup", "gbRestore"})
    Control<QGroupBox>(name);
  for (const char* name : {"lbExcludedFiles", "lbExcludedTypes", "lbStatusMode"})
    Control<QListWidget>(name);
  Control<QSpinBox>("edWaitTime");
  for (const char* name : {"bbProfile", "btDest", "btnVolume", "btnPlaceholder", "btExcludedFiles", "btExcludedTypes",
                           "bbBackup", "bbRestore", "bbMove", "bbWinTask", "bbShowLog", "bbBackupShortcut",
                           "bbShowFiles", "bbInfo", "bbHelp", "bbQuit", "btMail"})
    EXPECT_TRUE(Control<QPushButton>(name)->isEnabled()) << name;
  EXPECT_TRUE(Control<QCheckBox>("cbSendMail")->isEnabled());
  auto* pages = Control<QTabWidget>("pcOptions");
  ASSERT_EQ(pages->count(), 2);
  EXPECT_EQ(pages->tabText(0), u"Settings"_s);
  EXPECT_EQ(pages->tabText(1), u"Status window"_s);
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_TRUE(window.windowTitle().startsWith(u"Quillbox - "_s));
  EXPECT_TRUE(Control<QLabel>("laStatus")->text().contains(u"User name: "_s));
  EXPECT_EQ(Messages, QStringList());
}

TEST_F(QuillboxWindowTest, TheRememberedProfileIsShownAndQuitWritesItsTaskAndTheSettings)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=beta\nStatusWindow=3\nWaitTime=12\n");
  TMainForm& window = Open();
  EXPECT_EQ(Messages, QStringList());
  EXPECT_EQ(Control<QLineEdit>("edProfile")->text(), u"beta"_s);
  EXPECT_TRUE(Control<QLineEdit>("edMailDir")->text().startsWith(u"<Thunderbird>/"_s));
  EXPECT_EQ(Control<QLineEdit>("leBackupDir")->text(), FBackup);
  auto* files = Control<QListWidget>("lbExcludedFiles");
  ASSERT_EQ(files->count(), 2);
  EXPECT_EQ(files->item(1)->text(), u"global-messages-db.sqlite"_s);
  EXPECT_EQ(Control<QListWidget>("lbExcludedTypes")->count(), 5);
  EXPECT_EQ(Control<QListWidget>("lbStatusMode")->currentRow(), 3);
  EXPECT_EQ(Control<QSpinBox>("edWaitTime")->value(), 12);

  const QString task = window.State().BuTaskName;
  EXPECT_EQ(task, window.State().JobDir + u"tb-beta.buj"_s);
  ASSERT_FALSE(QFileInfo::exists(task));
  Control<QCheckBox>("cbCalendar")->click();
  window.bbQuitClick();
  EXPECT_FALSE(window.isVisible());
  ASSERT_TRUE(QFileInfo::exists(task)) << "a new task is written on Quit";
  EXPECT_EQ(TaskValue(u"Dir000"_s, u"Source"_s), FHome.ProfileFolder(u"beta"_s));
  EXPECT_EQ(TaskValue(u"Dir001"_s, u"Enabled"_s), u"0"_s) << "the calendar was unticked";
  EXPECT_EQ(QFileInfo(task).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
  const auto settings = TUnicodeIniFile::CreateForRead(SettingsFile());
  EXPECT_EQ(settings.ReadString(u"Config"_s, u"MailProfile"_s, QString()), u"beta"_s);
  EXPECT_EQ(settings.ReadString(u"Config"_s, u"BackupCalendar"_s, QString()), u"0"_s);
  EXPECT_EQ(settings.ReadString(u"Config"_s, u"StatusWindow"_s, QString()), u"3"_s);
  EXPECT_EQ(settings.ReadString(u"Unicode"_s, u"Program"_s, QString()), u"Quillbox"_s);
  EXPECT_TRUE(FEngine->Calls().empty());
}

TEST_F(QuillboxWindowTest, WithoutARememberedFolderAndProfileTheStartAsksForBoth)
{
  FolderAnswer = FBackup;
  QStringList offered;
  quillbox::SetProfileResponder([&offered](const QStringList& items, int& index) {
    offered = items;
    index = static_cast<int>(items.indexOf(u"beta"_s));
    return true;
  });
  TMainForm& window = Open();
  EXPECT_EQ(Messages, QStringList{u"Select destination directory"_s});
  EXPECT_EQ(offered, (QStringList{u"Default user"_s, u"beta"_s}));
  EXPECT_EQ(window.State().MailProfile, u"beta"_s);
  EXPECT_EQ(window.State().DestDir, FBackup);
  EXPECT_EQ(Control<QLineEdit>("leBackupDir")->text(), FBackup);
  EXPECT_FALSE(window.Stopped());
}

TEST_F(QuillboxWindowTest, AStartThatCannotGoOnEndsTheProgram)
{
  // No folder chosen.
  FolderAnswer.clear();
  TMainForm& window = Open();
  QApplication::processEvents();
  EXPECT_TRUE(window.Stopped());
  EXPECT_FALSE(window.isVisible());
  FWindow.reset();

  // No Thunderbird.
  Messages.clear();
  TempDir empty;
  const ScopedEnv home("HOME", empty.Path().toUtf8());
  TMainForm& bare = Open();
  QApplication::processEvents();
  EXPECT_EQ(Messages, QStringList{u"No Thunderbird profiles found!"_s});
  EXPECT_TRUE(bare.Stopped());
  EXPECT_FALSE(bare.isVisible());
}

TEST_F(QuillboxWindowTest, TheStatusPageDecidesTheEnginesStatusOptions)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open({u"/prompt:silent"_s});
  auto* modes = Control<QListWidget>("lbStatusMode");
  auto* seconds = Control<QSpinBox>("edWaitTime");
  EXPECT_EQ(modes->count(), 5);
  EXPECT_EQ(modes->currentRow(), 1);
  EXPECT_FALSE(seconds->isHidden());
  modes->setCurrentRow(2);
  EXPECT_TRUE(seconds->isHidden()) << "no display time without a status window";
  modes->setCurrentRow(3);
  EXPECT_FALSE(seconds->isHidden());
  seconds->setValue(17);
  Control<QCheckBox>("cbOnTop")->click();

  window.bbBackupClick();
  EXPECT_EQ(Messages, QStringList());
  auto calls = FEngine->Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Arguments, (QStringList{window.State().BuTaskName, u"/startapp:quillbox"_s, u"/prompt:error"_s,
                                             u"/wait:17"_s, u"/status:ontop"_s, u"/hide"_s, u"/force"_s}));
  EXPECT_FALSE(window.State().Task.Changed) << "the task was saved for the run";
}

TEST_F(QuillboxWindowTest, WhileTheEngineRunsANewStartAndClosingAreRefusedInWords)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open();
  FEngine->Hold();
  bool once = false;
  window.OnEngineEvents = [&] {
    if (once)
      return;
    once = true;
    Control<QPushButton>("bbBackup")->click();
    window.close();
    FEngine->Release();
  };
  window.bbBackupClick();
  EXPECT_TRUE(once);
  ASSERT_EQ(Messages.size(), 2) << Messages.join(u'\n').toStdString();
  EXPECT_EQ(Messages[0], quillbox::EngineStillRunningText());
  EXPECT_TRUE(Messages[1].startsWith(u"Ardanto is still running!"_s)) << Messages[1].toStdString();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(FEngine->Calls().size(), 1u);
  FEngine->Release();
}

TEST_F(QuillboxWindowTest, TheEncryptionControlsAskForThePasswordAndTheTaskKeepsIt)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  QStringList asked;
  bool give = false;
  FResponders.Password = [&](const QString& title, QString& password) {
    asked.append(title);
    password = u"correct horse"_s;
    return give;
  };
  TMainForm& window = Open();
  auto* encrypt = Control<QGroupBox>("gbEncrypt");
  auto* fixed = Control<QCheckBox>("cbFixPassword");
  auto* enter = Control<QPushButton>("btPassword");
  EXPECT_FALSE(encrypt->isChecked());
  encrypt->setChecked(true);
  emit encrypt->clicked(true);
  EXPECT_TRUE(fixed->isEnabled());
  EXPECT_FALSE(enter->isEnabled());

  fixed->click(); // cancelled: the tick goes again
  EXPECT_EQ(asked, QStringList{u"File encryption"_s});
  EXPECT_FALSE(fixed->isChecked());
  EXPECT_FALSE(enter->isEnabled());

  give = true;
  fixed->click();
  EXPECT_TRUE(fixed->isChecked());
  EXPECT_TRUE(enter->isEnabled());
  EXPECT_EQ(window.State().Task.CryptPwd, u"correct horse"_s);

  window.bbQuitClick();
  EXPECT_EQ(TaskValue(u"Global"_s, u"Encrypt"_s), u"1"_s);
  EXPECT_EQ(TaskValue(u"Global"_s, u"FixPassword"_s), u"1"_s);
  const QString stored = TaskValue(u"Global"_s, u"Password"_s);
  EXPECT_FALSE(stored.isEmpty());
  EXPECT_FALSE(stored.contains(u"horse"_s)) << "only the protected form is stored";
}

TEST_F(QuillboxWindowTest, TheBackupFolderIsChosenOrGetsAPlaceholder)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open();
  window.State().Task.Changed = false;
  auto* field = Control<QLineEdit>("leBackupDir");

  const QString chosen = FDir.Path() + u"/chosen"_s;
  FolderAnswer = chosen;
  Control<QPushButton>("btDest")->click();
  EXPECT_EQ(field->text(), chosen);
  EXPECT_EQ(window.State().DestDir, chosen);
  EXPECT_EQ(window.State().RealDir, chosen);

  FResponders.Placeholder = [](int) { return u"%year%"_s; };
  Control<QPushButton>("btnPlaceholder")->click();
  EXPECT_EQ(field->text(), chosen + u"%year%"_s);
  EXPECT_EQ(window.State().DestDir, chosen + u"%year%"_s);
  EXPECT_TRUE(window.State().Task.Changed);

  // A profile on a file system without a label has no volume name.
  const ardanto::TVolumeSource old = ardanto::SetVolumeSource([] {
    return QList<ardanto::TMountedVolume>{{u"/"_s, QString(), u"ext4"_s, u"/dev/sda1"_s}};
  });
  Messages.clear();
  FResponders.Placeholder = [](int) { return u"%volume%"_s; };
  Control<QPushButton>("btnPlaceholder")->click();
  EXPECT_EQ(Messages,
            QStringList{u"Placeholder for volume name is only available for source directories on same drive!"_s});
  EXPECT_EQ(field->text(), chosen + u"%year%"_s);
  ardanto::SetVolumeSource([] {
    return QList<ardanto::TMountedVolume>{{u"/"_s, u"MAIL"_s, u"ext4"_s, u"/dev/sda1"_s}};
  });
  Control<QPushButton>("btnPlaceholder")->click();
  EXPECT_EQ(field->text(), chosen + u"%year%%volume%"_s);
  ardanto::SetVolumeSource(old);

  field->setText(u"/srv/typed"_s);
  EXPECT_EQ(window.State().DestDir, u"/srv/typed"_s) << "every change of the text is the folder";
}

TEST_F(QuillboxWindowTest, TheExclusionListsAreEditedAsListsAndKeptAsCommaText)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open();
  window.State().Task.Changed = false;
  QString title;
  ardanto::ui::SetListResponder([&title](const QString& caption, QStringList& items) {
    title = caption;
    items.append(u"Junk mail.msf"_s);
    return true;
  });
  Control<QPushButton>("btExcludedFiles")->click();
  ardanto::ui::SetListResponder({});
  EXPECT_EQ(title, u"Files to be excluded"_s);
  EXPECT_EQ(window.State().ExcludedFiles, u"parent.lock,global-messages-db.sqlite,\"Junk mail.msf\""_s);
  auto* list = Control<QListWidget>("lbExcludedFiles");
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(2)->text(), u"Junk mail.msf"_s);
  EXPECT_FALSE(window.State().Task.Changed) << "the lists are settings of the program, not of the task";
}

TEST_F(QuillboxWindowTest, ProfilesThatAreGoneWhenChoosingEndTheProgram)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open();
  ASSERT_TRUE(QFile::remove(FHome.ProfilesIni()));
  Control<QPushButton>("bbProfile")->click();
  QApplication::processEvents();
  EXPECT_EQ(Messages, QStringList{u"No Thunderbird profiles found!"_s});
  EXPECT_FALSE(window.isVisible());
}

TEST(NewPasswordDialog, OkNeedsTwoEqualEntriesOfEightCharacters)
{
  ardanto::ui::TNewPasswordDialog dialog(nullptr, u"File encryption"_s, 8);
  auto* first = dialog.findChild<QLineEdit*>(u"edPassword"_s);
  auto* second = dialog.findChild<QLineEdit*>(u"edConfirm"_s);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->echoMode(), QLineEdit::Password);
  EXPECT_EQ(second->echoMode(), QLineEdit::Password);
  const struct {
    const char16_t* First;
    const char16_t* Second;
    bool Ok;
  } cases[] = {
      {u"", u"", false},
      {u"1234567", u"1234567", false},
      {u"12345678", u"12345679", false},
      {u"12345678", u"12345678", true},
      {u"äöüß 1234", u"äöüß 1234", true},
  };
  for (const auto& c : cases) {
    first->setText(QString::fromUtf16(c.First));
    second->setText(QString::fromUtf16(c.Second));
    EXPECT_EQ(dialog.Problem().isEmpty(), c.Ok) << QString::fromUtf16(c.First).toStdString();
  }
  EXPECT_EQ(dialog.Password(), u"äöüß 1234"_s);
}

} // namespace

TEST_F(QuillboxWindowTest, SendMailOpensTheMailSettingsAndCancelLeavesItOff)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n");
  TMainForm& window = Open();
  QString task;
  QTimer::singleShot(0, [&task] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->objectName(), u"MailDialog"_s);
    task = dialog->findChild<QLabel*>(u"laTask"_s)->text();
    dialog->findChild<QPushButton*>(u"bbCancel"_s)->click();
  });
  Control<QCheckBox>("cbSendMail")->click();
  EXPECT_TRUE(task.contains(u"Backup mail data"_s)) << task.toStdString();
  EXPECT_FALSE(Control<QCheckBox>("cbSendMail")->isChecked());
  EXPECT_FALSE(window.State().Task.SendMail());
}

namespace {

// The system's texts that name Windows services stay the source texts; the
// English catalogue says what the program uses on Linux.
TEST_F(QuillboxWindowTest, InEnglishTheTextsNameTheLinuxServices)
{
  ardanto::ActivateLanguage(u"en"_s, {u"quillbox"_s, u"ardanto-lib"_s});
  WriteAlphaSettings();
  Open();
  const QString hint = Control<QPushButton>("bbWinTask")->toolTip();
  const QString wizard = FWindow->findChild<ardanto::TTaskScheduleDialog*>()->windowTitle();
  const QString noScheduler = ardanto::TaskSchedulerConnectionErrorText(ardanto::kSchedulerNotRunning);
  ardanto::ActivateLanguage(u"c"_s, {u"quillbox"_s, u"ardanto-lib"_s});
  EXPECT_TRUE(hint.startsWith(u"Create scheduled task"_s)) << hint.toStdString();
  EXPECT_TRUE(wizard.startsWith(u"Scheduled Task Wizard"_s)) << wizard.toStdString();
  EXPECT_TRUE(noScheduler.contains(u"systemd user manager"_s)) << noScheduler.toStdString();
}

} // namespace
