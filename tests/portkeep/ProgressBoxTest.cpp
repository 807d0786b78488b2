// The progress box during a run: lines arrive in batches, and the box must
// still end up with every line, in order, whichever way the run ends.

#include "devices/support/FakeDevicePlatform.h"
#include "portkeep/gui/MainForm.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"
#include "ui/HistoryComboBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

class ProgressBoxTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FPlatform = std::make_shared<TFakeDevicePlatform>();
    FResponders.Question = [this](ui::TQuestion& q) {
      Shown << q.Text;
      return ui::dbOk;
    };
    // Ten files that take a moment each, so that a run lasts long enough for
    // the window to show it several times while it goes.
    TFakeDevice& device = FPlatform->AddDevice(u"fake:phone"_s, u"Fake Phone"_s);
    TFakeDevicePlatform::AddStorage(device, u"s1"_s, u"Phone"_s);
    TFakeDevicePlatform::AddFolder(device, u"dcim"_s, u"s1"_s, u"DCIM"_s);
    for (int i = 0; i < kFiles; ++i) {
      TFakeObject& file =
          TFakeDevicePlatform::AddFile(device, u"f%1"_s.arg(i), u"dcim"_s, u"IMG_%1.jpg"_s.arg(i), "jpeg data");
      file.BeforeRead = [this, i] {
        FStarted.store(std::max(FStarted.load(), i + 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
      };
    }
    FWindow = std::make_unique<TMainForm>(QStringList(), FPlatform);
    FWindow->show();
    FWindow->tmStartTimerTimer();
    FWindow->findChild<ui::THistoryComboBox*>(u"cbxDestination"_s)->setEditText(FDir.Path() + u"/backup"_s);
    FBox = FWindow->findChild<QPlainTextEdit*>(u"mmProgress"_s);
    ASSERT_NE(FBox, nullptr);
  }

  // What the box itself shows, without asking the window to bring it up to date.
  QStringList BoxLines() const { return FBox->toPlainText().split(u'\n'); }

  static constexpr int kFiles = 10;
  std::atomic<int> FStarted{0}; // files whose copy has begun
  TempDir FDir;
  ScopedEnv FConfig{"XDG_CONFIG_HOME", (FDir.Path() + u"/config"_s).toUtf8()};
  ScopedEnv FHome{"HOME", FDir.Path().toUtf8()};
  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  ui::TScopedResponders FResponders;
  QStringList Shown;
  std::unique_ptr<TMainForm> FWindow;
  QPlainTextEdit* FBox = nullptr;
};

TEST_F(ProgressBoxTest, LinesArriveWhileTheRunGoesAndAllOfThemByItsEnd)
{
  int copiedSeenDuringRun = 0;
  FWindow->OnRunEvent = [&] {
    copiedSeenDuringRun = std::max<int>(copiedSeenDuringRun, BoxLines().filter(u"+ Copied: "_s).size());
  };
  FWindow->findChild<QPushButton*>(u"bbBackup"_s)->click();
  EXPECT_GT(copiedSeenDuringRun, 0) << "the box showed nothing of the run until its end";

  const QStringList shown = BoxLines();
  EXPECT_EQ(shown, FWindow->ProgressLines());
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_TRUE(shown.last().startsWith(u"Summary: 10 copied"_s)) << shown.join(u'\n').toStdString();
  QStringList copied;
  for (int i = 0; i < kFiles; ++i)
    copied << u"    + Copied: IMG_%1.jpg"_s.arg(i);
  EXPECT_EQ(shown.filter(u"+ Copied: "_s), copied);

  // Run again at once, without the window getting its events in between:
  // the box holds this run's lines only, and all of them.
  FWindow->OnRunEvent = nullptr;
  FWindow->StartBackup();
  const QStringList again = BoxLines();
  EXPECT_EQ(again, FWindow->ProgressLines());
  EXPECT_TRUE(again.filter(u"+ Copied: "_s).isEmpty()) << again.join(u'\n').toStdString();
  EXPECT_EQ(again.filter(u"- Skipped: "_s).size(), kFiles);
  EXPECT_TRUE(again.last().startsWith(u"Summary: 0 copied, 0 updated, 10 skipped"_s));
}

TEST_F(ProgressBoxTest, ARunThatBreaksOffStillGetsItsLinesIntoTheBox)
{
  // Something under the run throws while the box is behind it (files are
  // copied, and so logged, whose lines the box does not show yet): the run
  // ends without its summary, and the window shows the error.
  bool thrown = false;
  FWindow->OnRunEvent = [&] {
    if (!thrown && BoxLines().filter(u"+ Copied: "_s).size() < FStarted.load() - 1) {
      thrown = true;
      throw std::runtime_error("broken off");
    }
  };
  FWindow->findChild<QPushButton*>(u"bbBackup"_s)->click();
  ASSERT_TRUE(thrown);
  EXPECT_EQ(Shown, QStringList{u"broken off"_s});
  EXPECT_FALSE(FWindow->Running());

  // Once the window gets its events again, the lines the run still wrote are
  // in the box.
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < 200)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const QStringList shown = BoxLines();
  EXPECT_GE(shown.filter(u"+ Copied: "_s).size(), FStarted.load() - 1) << shown.join(u'\n').toStdString();
  EXPECT_EQ(shown, FWindow->ProgressLines());
}

} // namespace
