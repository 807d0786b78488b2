// The desktop-shortcut dialog on the offscreen platform: what it shows for
// its inputs, what its controls enable, and what OK and Cancel give back.

#include "ui/DesktopIconDialog.h"
#include "platform/Power.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace ardanto;
using namespace ardanto::ui;
using namespace Qt::StringLiterals;

namespace {

class DesktopIconDialogTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    // Nothing here may ask the machine's logind.
    FBus =
        std::make_unique<test::ScopedEnv>("ARDANTO_SYSTEM_BUS_ADDRESS", "unix:path=" + FDir.File(u"no-bus"_s).toUtf8());
    FOld = platform::SetPowerBackend(&FPower);
  }
  void TearDown() override { platform::SetPowerBackend(FOld); }

  template <typename T> static T* Control(QWidget* dialog, const char* name)
  {
    T* control = dialog->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  static void Ok(QWidget* dialog) { dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); }
  static void Cancel(QWidget* dialog)
  {
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  }

  // Runs Execute while act plays the user; a failed step leaves the dialog
  // to the fail-safe instead of hanging.
  bool Execute(TDesktopIconDialog& dialog, const QString& tasks, std::function<void()> act)
  {
    QTimer::singleShot(0, &dialog, act);
    QTimer::singleShot(10000, &dialog, &QDialog::reject);
    return dialog.Execute(u"Backup mail data"_s, tasks, RunAs, Options, Description, Name);
  }

  test::TempDir FDir;
  std::unique_ptr<test::ScopedEnv> FBus;
  platform::TRecordingPowerBackend FPower;
  platform::TPowerBackend* FOld = nullptr;

  int RunAs = -1;
  QString Options = u" /prompt:delay /wait:5 /status:normal"_s;
  QString Description = u"Thunderbird mail backup: Default user"_s;
  QString Name = u"Backup tb-default"_s;
};

TEST_F(DesktopIconDialogTest, PresetsActionWithErrorMaskAndOk)
{
  TDesktopIconDialog dialog(nullptr);
  QString groupTitle;
  const bool ok = Execute(dialog, u"\"Default user\""_s, [&] {
    EXPECT_EQ(dialog.windowTitle(), u"Backup mail data"_s);
    EXPECT_EQ(Control<QLineEdit>(&dialog, "leName")->text(), Name);
    EXPECT_EQ(Control<QLineEdit>(&dialog, "leDescription")->text(), Description);
    EXPECT_EQ(Control<QLineEdit>(&dialog, "edTasks")->text(), u"Default user"_s);
    EXPECT_TRUE(Control<QCheckBox>(&dialog, "cbParallel")->isHidden());
    EXPECT_TRUE(Control<QCheckBox>(&dialog, "cbRunAs")->isHidden());
    EXPECT_TRUE(Control<QRadioButton>(&dialog, "rbStatus1")->isChecked()) << "Close automatically";
    EXPECT_TRUE(Control<QRadioButton>(&dialog, "rbNone")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(&dialog, "cbNoSplash")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(&dialog, "cbActionChangeable")->isChecked());
    QPushButton* errors = Control<QPushButton>(&dialog, "btErrorActions");
    EXPECT_FALSE(errors->isEnabled());

    Control<QRadioButton>(&dialog, "rbShutdown")->click();
    EXPECT_TRUE(errors->isEnabled());
    EXPECT_EQ(errors->toolTip(), u"Disable Shutdown on errors"_s);
    Control<QRadioButton>(&dialog, "rbStatus3")->click();
    Control<QLineEdit>(&dialog, "leName")->setText(u"Mail backup"_s);

    QTimer::singleShot(0, &dialog, [&] {
      QWidget* selection = QApplication::activeModalWidget();
      ASSERT_NE(selection, nullptr);
      ASSERT_EQ(selection->objectName(), u"ErrorActionDialog"_s);
      groupTitle = Control<QGroupBox>(selection, "gbErrors")->title();
      Control<QCheckBox>(selection, "cbError2")->click();
      Control<QCheckBox>(selection, "cbError16")->click();
      Ok(selection);
    });
    errors->click();
    Ok(&dialog);
  });
  ASSERT_TRUE(ok);
  EXPECT_EQ(groupTitle, u"No Shutdown on these errors"_s);
  EXPECT_EQ(Options, u" /prompt:error /hide /end:shutdown /erractions:18 /wait:5 /status:normal"_s);
  EXPECT_EQ(Name, u"Mail backup"_s);
  EXPECT_EQ(Description, u"Thunderbird mail backup: Default user"_s);
  EXPECT_EQ(RunAs, -1);
}

TEST_F(DesktopIconDialogTest, CancelChangesNothing)
{
  const QString options = Options, description = Description, name = Name;
  TDesktopIconDialog dialog(nullptr);
  RunAs = 0;
  const bool ok = Execute(dialog, u"alpha beta"_s, [&] {
    Control<QLineEdit>(&dialog, "leName")->setText(u"other"_s);
    Control<QLineEdit>(&dialog, "leDescription")->setText(u"other"_s);
    Control<QRadioButton>(&dialog, "rbRestart")->click();
    Control<QCheckBox>(&dialog, "cbRunAs")->click();
    Cancel(&dialog);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(Options, options);
  EXPECT_EQ(Description, description);
  EXPECT_EQ(Name, name);
  EXPECT_EQ(RunAs, 0);
}

TEST_F(DesktopIconDialogTest, SeveralTasksOfferParallelProcessing)
{
  TDesktopIconDialog dialog(nullptr);
  RunAs = 0;
  const bool ok = Execute(dialog, u"alpha \"Default user\""_s, [&] {
    QLineEdit* tasks = Control<QLineEdit>(&dialog, "edTasks");
    EXPECT_EQ(tasks->text(), u"2 selected tasks"_s);
    EXPECT_EQ(tasks->toolTip(), u"alpha\nDefault user"_s);
    EXPECT_FALSE(Control<QCheckBox>(&dialog, "cbParallel")->isHidden());
    QCheckBox* runAs = Control<QCheckBox>(&dialog, "cbRunAs");
    EXPECT_FALSE(runAs->isHidden());
    EXPECT_FALSE(runAs->isChecked());
    runAs->click();
    Control<QCheckBox>(&dialog, "cbParallel")->click();
    Control<QCheckBox>(&dialog, "cbActionChangeable")->click();
    Control<QCheckBox>(&dialog, "cbNoSplash")->click();
    QPushButton* okButton = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    Control<QLineEdit>(&dialog, "leName")->setText(u"  "_s);
    EXPECT_FALSE(okButton->isEnabled()) << "a shortcut needs a name";
    Control<QLineEdit>(&dialog, "leName")->setText(u"Both"_s);
    EXPECT_TRUE(okButton->isEnabled());
    Ok(&dialog);
  });
  ASSERT_TRUE(ok);
  EXPECT_EQ(Options, u" /prompt:delay /parallel /wait:5 /status:normal"_s) << "no noaction with parallel tasks";
  EXPECT_EQ(RunAs, 1);
}

TEST_F(DesktopIconDialogTest, HybridShutdownOnlyWhereTheMachineCanDoIt)
{
  FPower.HybridSleep = true;
  {
    TDesktopIconDialog dialog(nullptr);
    EXPECT_TRUE(dialog.HybridOffered());
    EXPECT_FALSE(Control<QRadioButton>(&dialog, "rbHybrid")->isHidden());
  }
  FPower.HybridSleep = false;
  TDesktopIconDialog dialog(nullptr);
  EXPECT_FALSE(dialog.HybridOffered());
  EXPECT_TRUE(Control<QRadioButton>(&dialog, "rbHybrid")->isHidden());
  // A shortcut that came with hybrid shutdown keeps powering off.
  Options = u" /prompt:wait /end:hybrid"_s;
  const bool ok = Execute(dialog, u"alpha"_s, [&] {
    EXPECT_TRUE(Control<QRadioButton>(&dialog, "rbShutdown")->isChecked());
    Ok(&dialog);
  });
  ASSERT_TRUE(ok);
  EXPECT_EQ(Options, u" /prompt:wait /hide /end:shutdown"_s);
}

} // namespace
