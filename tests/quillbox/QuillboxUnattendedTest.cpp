// The window's functions around unattended backups and the smaller ones
// beside them: the desktop shortcut that starts a backup of the profile, the
// engine's log of the last backup, the file list of the profile and the
// program information, each over the real pieces where the machine has them
// (desktop-file-validate and gio for the shortcut, the real engine for the
// log and the information).

#include "quillbox/WindowTestSupport.h"

#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "platform/DesktopEntry.h"
#include "scheduler/WinTask.h"
#include "scheduler/gui/TaskSchedDlg.h"
#include "ui/ShowFilesDialog.h"
#include "ui/TextViewer.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

#include <functional>

namespace {

using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;
using ardanto::test::WriteFile;
using quillbox::TMainForm;

// Plays the user in the next modal window of type T once it is open; the
// window is rejected after ten seconds when a step failed to close it.
template <typename T> void WhenOpen(std::function<void(T*)> act)
{
  auto* timer = new QTimer;
  timer->setInterval(10);
  auto waited = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, waited, act] {
    if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->deleteLater();
      act(window);
      return;
    }
    if (++*waited > 1000) {
      ADD_FAILURE() << "no " << T::staticMetaObject.className() << " opened";
      timer->deleteLater();
    }
  });
  timer->start();
}

template <typename T> T* Find(QWidget* window, const char* name)
{
  T* control = window->findChild<T*>(QLatin1StringView(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

void PressOk(QWidget* dialog)
{
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

class QuillboxUnattendedTest : public quillbox::test::TWindowTest {
protected:
  void SetUp() override
  {
    TWindowTest::SetUp();
    FDesktop = FDir.Path() + u"/home/Desktop"_s;
    ASSERT_TRUE(QDir().mkpath(FDesktop));
    FResponders.Question = [this](ardanto::ui::TQuestion& question) {
      Messages.append(question.Text);
      if (question.Buttons & ardanto::ui::dbYes)
        return Answer;
      return ardanto::ui::dbOk;
    };
  }
  // The real engine where the window looks for it, instead of the recording one.
  void UseRealEngine()
  {
    const QString engine = FWork + u"/ardanto"_s;
    ASSERT_TRUE(QFile::remove(engine));
    ASSERT_TRUE(QFile::link(QStringLiteral(ARDANTO_PROGRAM), engine));
  }

  QString FDesktop;
  ardanto::ui::TDialogButton Answer = ardanto::ui::dbYes;
};

TEST_F(QuillboxUnattendedTest, TheScheduledBackupOfAProfileIsCreatedRunEditedAndRemoved)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\nStatusWindow=3\nWaitTime=12\n");
  TMainForm& window = Open();
  QPushButton* button = Control<QPushButton>("bbWinTask");
  ASSERT_TRUE(button->isEnabled());
  QStringList prompts;
  FResponders.Text = [&](const QString& label, QString& value) {
    prompts.append(label + u" "_s + value);
    return true;
  };
  QStringList choices;
  QList<int> answers;
  quillbox::SetChoiceResponder([&](quillbox::TChoice& choice) {
    choices.append(choice.Title + u"|"_s + choice.Buttons.join(u',') + u"|"_s + choice.Text.section(u"\r\n"_s, 0, 0));
    return answers.isEmpty() ? -1 : answers.takeFirst();
  });

  // No task yet: the wizard opens for a new one, weekly on Mondays.
  WhenOpen<ardanto::TTaskScheduleDialog>([](ardanto::TTaskScheduleDialog* wizard) {
    Find<QRadioButton>(wizard, "rbWeekly")->click();
    Find<QPushButton>(wizard, "bbNext")->click();
    Find<QPushButton>(wizard, "bbNext")->click(); // Done
  });
  button->click();
  EXPECT_EQ(Messages, QStringList());
  EXPECT_EQ(prompts, QStringList(u"Name of new scheduled task: Quillbox-alpha"_s));
  EXPECT_EQ(choices, QStringList());
  ASSERT_EQ(FTasks.Registrations.size(), 1);
  ardanto::scheduler::TMemoryTaskData* data = FTasks.Task(u"\\Quillbox-alpha"_s);
  ASSERT_NE(data, nullptr);
  {
    ardanto::TWinTask task(data->Definition);
    EXPECT_EQ(task.UserData(), u"Quillbox-alpha"_s);
    ASSERT_GE(task.ActionCount(), 1);
    EXPECT_EQ(task.GetAction(0)->Path(), QCoreApplication::applicationFilePath());
    EXPECT_EQ(task.GetAction(0)->Arguments(), u"alpha /prompt:error /wait:12 /status:normal /hide /force"_s);
    ASSERT_EQ(task.TriggerCount(), 1);
    EXPECT_EQ(task.GetTrigger(0)->TriggerType(), ardanto::ttWeekly);
  }
  EXPECT_TRUE(QFileInfo::exists(window.State().BuTaskName)) << "the task the schedule starts is saved";

  // Found again by its key: run it, then edit it to daily, then remove it.
  answers = {0};
  button->click();
  ASSERT_EQ(choices.size(), 1);
  EXPECT_EQ(choices[0], u"Scheduled task for mail profile: alpha|Run,Edit,Remove|Status: Ready"_s);
  EXPECT_EQ(data->Runs, 1);

  answers = {1};
  WhenOpen<ardanto::TTaskScheduleDialog>([](ardanto::TTaskScheduleDialog* wizard) {
    Find<QRadioButton>(wizard, "rbDaily")->click();
    Find<QPushButton>(wizard, "bbNext")->click();
    Find<QPushButton>(wizard, "bbNext")->click();
  });
  button->click();
  ASSERT_EQ(FTasks.Registrations.size(), 2);
  data = FTasks.Task(u"\\Quillbox-alpha"_s);
  ASSERT_NE(data, nullptr);
  {
    ardanto::TWinTask task(data->Definition);
    ASSERT_EQ(task.TriggerCount(), 1);
    EXPECT_EQ(task.GetTrigger(0)->TriggerType(), ardanto::ttDaily);
  }

  answers = {2};
  button->click();
  EXPECT_EQ(FTasks.Task(u"\\Quillbox-alpha"_s), nullptr);
  EXPECT_EQ(Messages, QStringList());

  // Without a scheduler the button says so.
  FTasks.Running = false;
  Open();
  Messages.clear();
  Control<QPushButton>("bbWinTask")->click();
  ASSERT_EQ(Messages.size(), 1);
  EXPECT_TRUE(Messages[0].contains(u"Task Scheduler"_s)) << Messages[0].toStdString();
}

TEST_F(QuillboxUnattendedTest, TheShortcutStartsAnUnattendedBackupOfTheProfileWithTheChosenOptions)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\nStatusWindow=3\nWaitTime=12\n");
  TMainForm& window = Open();
  QPushButton* button = Control<QPushButton>("bbBackupShortcut");
  ASSERT_TRUE(button->isEnabled());
  WhenOpen<QDialog>([](QDialog* dialog) {
    EXPECT_EQ(Find<QLineEdit>(dialog, "leName")->text(), u"Backup tb-alpha"_s);
    EXPECT_EQ(Find<QLineEdit>(dialog, "leDescription")->text(), u"Thunderbird mail backup: Default user"_s);
    EXPECT_EQ(Find<QLineEdit>(dialog, "edTasks")->text(), u"Default user"_s);
    EXPECT_FALSE(Find<QCheckBox>(dialog, "cbParallel")->isVisible()) << "one task only";
    EXPECT_FALSE(Find<QCheckBox>(dialog, "cbRunAs")->isVisible());
    EXPECT_TRUE(Find<QRadioButton>(dialog, "rbStatus3")->isChecked()) << "from the status page";
    Find<QRadioButton>(dialog, "rbShutdown")->click();
    PressOk(dialog);
  });
  button->click();
  EXPECT_EQ(Messages, QStringList());

  const QString file = FDesktop + u"/Backup tb-alpha.desktop"_s;
  ASSERT_TRUE(QFileInfo::exists(file));
  EXPECT_TRUE(QFileInfo(file).isExecutable());
  EXPECT_TRUE(QFileInfo::exists(window.State().BuTaskName)) << "the task the shortcut starts is saved";
  EXPECT_TRUE(QFileInfo(FBackup).isDir());
  if (ardanto::test::HasProgram(u"desktop-file-validate"_s)) {
    const auto check = ardanto::test::Run(u"desktop-file-validate"_s, {file});
    EXPECT_EQ(check.ExitCode, 0) << check.Output.toStdString();
    EXPECT_TRUE(check.Output.trimmed().isEmpty()) << check.Output.toStdString();
  }

  // What a desktop starts: the same entry with a program that writes down its
  // arguments, launched by gio, which reads Exec by the desktop-entry rules.
  if (!ardanto::test::HasProgram(u"gio"_s))
    GTEST_SKIP() << "gio is not installed to launch the entry";
  const QString recorder = FDir.Path() + u"/record-arguments"_s;
  WriteFile(recorder, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.out\"\npwd >> \"$0.out\"\n");
  ASSERT_TRUE(QFile::setPermissions(recorder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  QString entry = QString::fromUtf8(ReadFile(file));
  const QString program = ardanto::platform::QuoteExecArgument(QCoreApplication::applicationFilePath());
  ASSERT_TRUE(entry.contains(u"\nExec="_s + program + u' ')) << entry.toStdString();
  entry.replace(u"\nExec="_s + program + u' ', u"\nExec="_s + recorder + u' ');
  const QString copy = FDir.Path() + u"/launch.desktop"_s;
  WriteFile(copy, entry.toUtf8());
  const auto launched = ardanto::test::Run(u"gio"_s, {u"launch"_s, copy});
  ASSERT_EQ(launched.ExitCode, 0) << launched.Output.toStdString();
  for (int i = 0; i < 500 && !QFileInfo::exists(recorder + u".out"_s); ++i)
    QThread::msleep(10);
  QThread::msleep(50);
  const QStringList arguments = QString::fromUtf8(ReadFile(recorder + u".out"_s)).split(u'\n', Qt::SkipEmptyParts);
  EXPECT_EQ(arguments, (QStringList{u"alpha"_s, u"/prompt:error"_s, u"/hide"_s, u"/end:shutdown"_s, u"/wait:12"_s,
                                    u"/status:normal"_s, u"/force"_s, QDir(window.State().JobDir).absolutePath()}));
}

TEST_F(QuillboxUnattendedTest, AShortcutThatIsThereIsReplacedOnlyWhenTheUserSaysSo)
{
  WriteAlphaSettings();
  TMainForm& window = Open();
  const QString file = FDesktop + u"/Backup tb-alpha.desktop"_s;
  WriteFile(file, "the user's own launcher");
  ASSERT_FALSE(QFileInfo::exists(window.State().BuTaskName));

  Answer = ardanto::ui::dbNo;
  WhenOpen<QDialog>([](QDialog* dialog) { PressOk(dialog); });
  window.bbBackupShortcutClick();
  EXPECT_EQ(Messages, QStringList(u"Replace existing desktop shortcut \"Backup tb-alpha\"?"_s));
  EXPECT_EQ(ReadFile(file), "the user's own launcher");
  EXPECT_FALSE(QFileInfo::exists(window.State().BuTaskName)) << "no means nothing at all is written";
  EXPECT_FALSE(QFileInfo::exists(FBackup));

  // A name typed with a path in it still lands on the desktop; "yes" replaces.
  Messages.clear();
  Answer = ardanto::ui::dbYes;
  WhenOpen<QDialog>([](QDialog* dialog) {
    Find<QLineEdit>(dialog, "leName")->setText(u"../Backup tb-alpha"_s);
    PressOk(dialog);
  });
  window.bbBackupShortcutClick();
  EXPECT_EQ(Messages, QStringList());
  EXPECT_TRUE(QFileInfo::exists(FDesktop + u"/.._Backup tb-alpha.desktop"_s));
  EXPECT_FALSE(QFileInfo::exists(FDir.Path() + u"/home/Backup tb-alpha.desktop"_s));

  Messages.clear();
  WhenOpen<QDialog>([](QDialog* dialog) { PressOk(dialog); });
  window.bbBackupShortcutClick();
  EXPECT_EQ(Messages, QStringList(u"Replace existing desktop shortcut \"Backup tb-alpha\"?"_s));
  EXPECT_TRUE(ReadFile(file).startsWith("[Desktop Entry]"));
}

TEST_F(QuillboxUnattendedTest, WithoutABackupFolderNoShortcutIsOffered)
{
  WriteAlphaSettings();
  TMainForm& window = Open();
  Messages.clear();
  window.State().RealDir.clear();
  window.bbBackupShortcutClick();
  EXPECT_EQ(Messages, QStringList(u"Destination: No directory specified!"_s));
  EXPECT_EQ(QDir(FDesktop).entryList(QDir::Files), QStringList());
}

TEST_F(QuillboxUnattendedTest, TheLogButtonShowsTheEnginesLogOfTheLastBackup)
{
  UseRealEngine();
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\nStatusWindow=2\n");
  TMainForm& window = Open();
  Messages.clear();
  window.bbShowLogClick();
  ASSERT_EQ(Messages.size(), 1);
  EXPECT_TRUE(Messages[0].startsWith(u"Log file not found: "_s)) << Messages[0].toStdString();

  Messages.clear();
  window.bbBackupClick();
  ASSERT_EQ(Messages, QStringList());
  const QString logFile = ardanto::TaskLogFile(window.State().BuTaskName);
  ASSERT_TRUE(QFileInfo::exists(logFile)) << logFile.toStdString();
  QString shown;
  QString title;
  WhenOpen<ardanto::ui::TTextViewer>([&](ardanto::ui::TTextViewer* viewer) {
    shown = viewer->Text();
    title = viewer->windowTitle();
    EXPECT_TRUE(viewer->NextSection());
    viewer->reject();
  });
  window.bbShowLogClick();
  EXPECT_EQ(Messages, QStringList());
  EXPECT_TRUE(shown.contains(u"Ardanto -"_s)) << shown.toStdString();
  EXPECT_TRUE(shown.contains(u"prefs.js"_s) || shown.contains(u"files"_s)) << shown.toStdString();
  EXPECT_EQ(title, u"Quillbox - Show log file ["_s + logFile + u']');
}

TEST_F(QuillboxUnattendedTest, TheFileListShowsTheProfilesFolder)
{
  WriteAlphaSettings();
  TMainForm& window = Open();
  QString title;
  QString top;
  WhenOpen<QDialog>([&](QDialog* dialog) {
    title = dialog->windowTitle();
    if (auto* line = dialog->findChild<QLineEdit*>())
      top = line->text();
    dialog->reject();
  });
  Control<QPushButton>("bbShowFiles")->click();
  EXPECT_EQ(title, u"Mail profile: Default user"_s);
  EXPECT_EQ(Messages, QStringList());

  // A profile folder that is gone is said so, without a window.
  ASSERT_TRUE(QDir(FMail).removeRecursively());
  window.bbShowFilesClick();
  EXPECT_EQ(Messages, QStringList(u"Directory not found:\r\n"_s + FMail + u'!'));
}

TEST_F(QuillboxUnattendedTest, TheInfoBoxNamesTheEngineAsItAnswers)
{
  UseRealEngine();
  WriteAlphaSettings();
  Open();
  Messages.clear();
  Control<QPushButton>("bbInfo")->click();
  ASSERT_EQ(Messages.size(), 1);
  const auto version = ardanto::test::Run(QStringLiteral(ARDANTO_PROGRAM), {u"--version"_s});
  const QString engineVersion = QString::fromUtf8(version.Output).section(u'\n', 0, 0).section(u' ', 1);
  ASSERT_FALSE(engineVersion.isEmpty());
  EXPECT_TRUE(Messages[0].contains(u"Quillbox"_s)) << Messages[0].toStdString();
  EXPECT_TRUE(Messages[0].contains(engineVersion)) << Messages[0].toStdString();
}

} // namespace
