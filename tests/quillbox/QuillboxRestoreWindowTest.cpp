// The window's part in restore and move: its buttons, the choice dialog with
// named buttons, the dialogs the core's questions reach, the fields that
// follow a profile to its new folder, and the refusals while the engine
// runs. The paths through the questions are tested on the core.

#include "quillbox/gui/MainForm.h"

#include "common/IniFileUtils.h"
#include "platform/Power.h"
#include "platform/ShellFileOps.h"
#include "quillbox/MoveProfile.h"
#include "quillbox/WindowTestSupport.h"
#include "quillbox/gui/ChoiceDlg.h"
#include "support/RecordingEngine.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace Qt::StringLiterals;
using ardanto::test::ScopedEnv;
using ardanto::test::TempDir;
using ardanto::test::TRecordingEngine;
using quillbox::TChoice;
using quillbox::TMainForm;

class QuillboxRestoreWindowTest : public quillbox::test::TWindowTest {
protected:
  void SetUp() override
  {
    TWindowTest::SetUp();
    WriteAlphaSettings();
    FResponders.Question = [this](ardanto::ui::TQuestion& question) {
      Messages.append(question.Text);
      if (question.Buttons & ardanto::ui::dbYes)
        return ardanto::ui::dbYes;
      return ardanto::ui::dbOk;
    };
    FResponders.Folder = [this](const QString& title, const QString& start) {
      Messages.append(title + u" @ "_s + start);
      return FolderAnswers.isEmpty() ? QString() : FolderAnswers.takeFirst();
    };
    quillbox::SetChoiceResponder([this](TChoice& choice) {
      Messages.append(u"choice: "_s + choice.Text);
      return ChoiceAnswers.isEmpty() ? -1 : ChoiceAnswers.takeFirst();
    });
  }

  void WriteBackup()
  {
    const QString source = FBackup + FMail;
    ASSERT_TRUE(QDir().mkpath(source));
    ardanto::test::WriteFile(source + u"/prefs.js.zip"_s, "zip");
    QString error;
    ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
  }

  QStringList FolderAnswers;
  QList<int> ChoiceAnswers;
};

TEST_F(QuillboxRestoreWindowTest, ARestoreIntoAnotherFolderFromTheWindowShowsTheProfilesNewPlace)
{
  WriteBackup();
  const QString other = FDir.Path() + u"/other"_s;
  QDir().mkpath(other);
  TMainForm& window = Open();
  for (const char* name : {"bbRestore", "bbMove"}) {
    EXPECT_TRUE(Control<QPushButton>(name)->isEnabled()) << name;
    EXPECT_FALSE(Control<QPushButton>(name)->toolTip().contains(u"later version"_s)) << name;
  }
  ChoiceAnswers = {0}; // Other directory
  FolderAnswers = {other};
  Control<QPushButton>("bbRestore")->click();
  EXPECT_EQ(Messages, (QStringList{u"choice: Restoring mail data to \""_s + FMail +
                                       u"\" will overwrite all existing mails of profile \"Default user\"!"_s,
                                   u"Select directory to which to restore files @ "_s + FMail}));
  const auto calls = FEngine->Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Arguments, (QStringList{window.State().ReTaskName, u"/hide"_s, u"/prompt:wait"_s, u"/restore"_s}));
  EXPECT_EQ(Control<QLineEdit>("edMailDir")->text(), other);
  EXPECT_EQ(window.State().MailDir, other);

  // Quit writes the backup task for the new folder.
  window.bbQuitClick();
  EXPECT_EQ(ardanto::TUnicodeIniFile::CreateForRead(window.State().BuTaskName)
                .ReadString(u"Dir000"_s, u"Source"_s, QString()),
            other);
}

TEST_F(QuillboxRestoreWindowTest, AMoveFromTheWindowAsksFirstAndShowsWhereTheDataWent)
{
  TMainForm& window = Open();
  const QString target = FHome.DataFolder + u"moved.alpha"_s;
  FolderAnswers = {target};
  Control<QPushButton>("bbMove")->click();
  ASSERT_EQ(Messages.size(), 3) << Messages.join(u'\n').toStdString();
  EXPECT_EQ(Messages[0], u"Move mail data of the selected profile to a different location?"_s);
  EXPECT_EQ(Messages[1], u"Select new mail folder @ "_s + window.State().UserPath + u"Mail"_s);
  EXPECT_EQ(Messages[2], u"Mail data successfully moved to:\r\n\"<Thunderbird>/moved.alpha\""_s);
  EXPECT_EQ(Control<QLineEdit>("edMailDir")->text(), u"<Thunderbird>/moved.alpha"_s);
  EXPECT_TRUE(QFileInfo::exists(target + u"/prefs.js"_s));
}

TEST_F(QuillboxRestoreWindowTest, WhileAMoveCopiesTheWindowAnswersAndEndsOnlyAfterIt)
{
  TMainForm& window = Open();
  // A move that takes its time, as one across file systems does.
  quillbox::SetFolderMover([](const QString& source, const QString& target) {
    QThread::msleep(400);
    return ardanto::platform::ShellMove(source, target);
  });
  const QString target = FDir.Path() + u"/elsewhere/alpha"_s;
  FolderAnswers = {target};
  bool once = false;
  window.OnEngineEvents = [&] {
    if (once)
      return;
    once = true;
    window.close();
    Control<QPushButton>("bbQuit")->click();
    EXPECT_TRUE(window.isVisible());
  };
  Control<QPushButton>("bbMove")->click();
  quillbox::SetFolderMover({});
  EXPECT_TRUE(once) << "the window is served while the move runs";
  ASSERT_EQ(Messages.size(), 5) << Messages.join(u'\n').toStdString();
  EXPECT_EQ(Messages[2], u"The mail data are being moved!\r\nThe program can be closed when the move has finished."_s);
  EXPECT_EQ(Messages[3], u"The mail data are being moved!\r\nThe program ends when the move has finished."_s);
  EXPECT_TRUE(Messages[4].startsWith(u"Mail data successfully moved to:"_s));
  EXPECT_TRUE(QFileInfo::exists(target + u"/prefs.js"_s));
  // The Quit asked for meanwhile comes once the move is done, with the task
  // for the new folder.
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(ardanto::TUnicodeIniFile::CreateForRead(window.State().BuTaskName)
                .ReadString(u"Dir000"_s, u"Source"_s, QString()),
            target);
}

TEST_F(QuillboxRestoreWindowTest, WhileTheRestoreRunsEveryOtherStartIsRefusedInWords)
{
  WriteBackup();
  TMainForm& window = Open();
  FEngine->Hold();
  ChoiceAnswers = {1}; // Continue
  bool once = false;
  window.OnEngineEvents = [&] {
    if (once)
      return;
    once = true;
    for (const char* name : {"bbBackup", "bbRestore", "bbMove"})
      Control<QPushButton>(name)->click();
    window.close();
    FEngine->Release();
  };
  Control<QPushButton>("bbRestore")->click();
  EXPECT_TRUE(once) << "the window is served while the engine runs";
  const QString refused = quillbox::EngineStillRunningText();
  ASSERT_EQ(Messages.size(), 5) << Messages.join(u'\n').toStdString();
  EXPECT_EQ(Messages.mid(1, 3), (QStringList{refused, refused, refused}));
  EXPECT_TRUE(Messages[4].startsWith(u"Ardanto is still running!"_s)) << Messages[4].toStdString();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(FEngine->Calls().size(), 1u);
  FEngine->Release();
}

TEST_F(QuillboxRestoreWindowTest, TheThunderbirdCheckLooksAtTheProfilesFolder)
{
  WriteBackup();
  TMainForm& window = Open();
  QList<QStringList> probed;
  window.ThunderbirdProbe = [&](const QStringList& folders) {
    probed.append(folders);
    return true;
  };
  ChoiceAnswers = {1, 0}; // Continue, then Continue in "close Thunderbird"
  Control<QPushButton>("bbRestore")->click();
  EXPECT_EQ(probed, (QList<QStringList>{{FMail}, {FMail}}));
  EXPECT_EQ(Messages.last(), u"Thunderbird is still running - restore aborted!"_s);
  EXPECT_TRUE(FEngine->Calls().empty());
}

// The dialog itself, as a user gets it.
TEST(ChoiceDialog, ShowsTheNamedButtonsTheCheckBoxAndTheFocus)
{
  TChoice choice;
  choice.Title = u"Restore mail data from: /backup/"_s;
  choice.Text = u"First line\r\nsecond line"_s;
  choice.Buttons = {u"Other directory"_s, u"Continue"_s};
  choice.CheckText = u"Clear mail profile completely prior to restoring"_s;
  choice.Checked = true;
  choice.Focus = 1;
  QStringList seen;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen.append(box->windowTitle());
    seen.append(box->text());
    for (QAbstractButton* button : box->buttons())
      seen.append(button->text());
    seen.append(u"default: "_s + box->defaultButton()->text());
    seen.append(box->checkBox()->text() + (box->checkBox()->isChecked() ? u" [x]"_s : u" [ ]"_s));
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    box->checkBox()->setChecked(false);
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == u"Other directory"_s)
        button->click();
    }
  });
  EXPECT_EQ(quillbox::ShowChoice(nullptr, choice), 0);
  EXPECT_FALSE(choice.Checked);
  seen.sort();
  EXPECT_EQ(seen, (QStringList{u"Cancel"_s, u"Clear mail profile completely prior to restoring [x]"_s, u"Continue"_s,
                               u"First line\nsecond line"_s, u"Other directory"_s,
                               u"Restore mail data from: /backup/"_s, u"default: Continue"_s}));

  // Focus on Cancel, and Escape is Cancel.
  TChoice close;
  close.Text = u"Please close the running Thunderbird application"_s;
  close.Buttons = {u"Continue"_s};
  QString focus;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    focus = box->defaultButton()->text();
    EXPECT_EQ(box->checkBox(), nullptr);
    box->reject();
  });
  EXPECT_LT(quillbox::ShowChoice(nullptr, close), 0);
  EXPECT_EQ(focus, u"Cancel"_s);
}

TEST(ChoiceDialog, WithoutAnyoneToAnswerTheWindowAnswersCancel)
{
  TempDir dir;
  const ScopedEnv home("HOME", dir.Path().toUtf8());
  const ScopedEnv config("XDG_CONFIG_HOME", (dir.Path() + u"/config"_s).toUtf8());
  TMainForm window({});
  window.SetUnattended(true);
  TChoice choice;
  choice.Text = u"Close it\r\nfirst"_s;
  choice.Buttons = {u"Continue"_s};
  testing::internal::CaptureStderr();
  const int answer = quillbox::ShowChoice(nullptr, choice);
  const std::string output = testing::internal::GetCapturedStderr();
  EXPECT_LT(answer, 0);
  EXPECT_EQ(output, "Close it\nfirst\n-> Cancel\n");
}

} // namespace
