#pragma once

// What the tests of Quillbox's window share: a home with the Thunderbird
// profiles "alpha" and "beta", a settings folder, a working folder holding the
// recording engine, the power backend and the task scheduler replaced by
// recording ones, and the dialogs answered by the test.

#include "quillbox/gui/MainForm.h"

#include "platform/Power.h"
#include "quillbox/gui/ChoiceDlg.h"
#include "scheduler/TaskPlatform.h"
#include "scheduler/backends/memory/MemoryTaskPlatform.h"
#include "support/RecordingEngine.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>

namespace quillbox::test {

class TWindowTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    using namespace Qt::StringLiterals;
    const QString home = FDir.Path() + u"/home"_s;
    ASSERT_TRUE(QDir().mkpath(home));
    FHome = ardanto::test::CopyThunderbirdHome(home);
    FMail = FHome.ProfileFolder(u"alpha"_s);
    FEnvHome = std::make_unique<ardanto::test::ScopedEnv>("HOME", home.toUtf8());
    FEnvConfig = std::make_unique<ardanto::test::ScopedEnv>("XDG_CONFIG_HOME", (FDir.Path() + u"/config"_s).toUtf8());
    FWork = FDir.Path() + u"/work"_s;
    ASSERT_TRUE(QDir().mkpath(FWork));
    FOldFolder = QDir::currentPath();
    QDir::setCurrent(FWork);
    FEngine = std::make_unique<ardanto::test::TRecordingEngine>(FWork);
    FOldPower = ardanto::platform::SetPowerBackend(&FPower);
    FOldTasks = ardanto::scheduler::SetTaskPlatform(&FTasks);
    FBackup = FDir.Path() + u"/backup"_s;
  }
  void TearDown() override
  {
    FWindow.reset();
    quillbox::SetChoiceResponder({});
    ardanto::scheduler::SetTaskPlatform(FOldTasks);
    ardanto::platform::SetPowerBackend(FOldPower);
    QDir::setCurrent(FOldFolder);
  }

  QString SettingsFile() const { return FDir.Path() + QStringLiteral("/config/Ardanto6/Quillbox.ini"); }
  void WriteSettings(const QByteArray& config)
  {
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    ardanto::test::WriteFile(SettingsFile(), "[Config]\n" + config);
  }
  // Settings that open the window on profile alpha with FBackup as the folder.
  void WriteAlphaSettings() { WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=alpha\n"); }

  TMainForm& Open(const QStringList& arguments = {})
  {
    FWindow = std::make_unique<TMainForm>(arguments);
    FWindow->ThunderbirdProbe = [](const QStringList&) { return false; };
    FWindow->show();
    QApplication::processEvents();
    return *FWindow;
  }
  template <typename T> T* Control(const char* name) const
  {
    T* control = FWindow->findChild<T*>(QLatin1StringView(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  ardanto::test::TempDir FDir;
  ardanto::test::ThunderbirdHome FHome;
  QString FMail; // profile alpha's folder
  std::unique_ptr<ardanto::test::ScopedEnv> FEnvHome;
  std::unique_ptr<ardanto::test::ScopedEnv> FEnvConfig;
  QString FWork;
  QString FOldFolder;
  QString FBackup;
  std::unique_ptr<ardanto::test::TRecordingEngine> FEngine;
  ardanto::platform::TRecordingPowerBackend FPower;
  ardanto::platform::TPowerBackend* FOldPower = nullptr;
  ardanto::scheduler::TMemoryTaskPlatform FTasks;
  ardanto::scheduler::TSchedPlatform* FOldTasks = nullptr;
  ardanto::ui::TScopedResponders FResponders;
  QStringList Messages;
  std::unique_ptr<TMainForm> FWindow;
};

} // namespace quillbox::test
