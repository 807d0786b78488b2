// The engine's status window offscreen, over real runs in this process: how
// each prompt mode shows the window and ends, Cancel, the password
// questions, and what the window shows. Questions and the wait for OK are
// answered through the suite's dialog responders.

#include "EngineTestSupport.h"

#include "engine/EngineRun.h"
#include "engine/gui/EngineWindow.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace enginetest;
using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;
using ardanto::ui::TDialogButton;
using ardanto::ui::TQuestion;
using ardanto::ui::TScopedResponders;
using engine::gui::TEngineWindow;

namespace {

// The window, with what it looked like at the steps of the run.
class TWatchedWindow : public TEngineWindow {
public:
  using TEngineWindow::TEngineWindow;

  void RunStarted(const QString& taskName, bool restore) override
  {
    TEngineWindow::RunStarted(taskName, restore);
    VisibleInRun = isVisible();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() == u"EngineSplash"_s && widget->isVisible())
        Splash = true;
    }
  }
  void FileChanged(const QString& file) override
  {
    TEngineWindow::FileChanged(file);
    VisibleInRun = VisibleInRun && isVisible();
    if (++Files == CancelAt)
      findChild<QPushButton*>(u"btButton"_s)->click();
  }
  void RunFinished(const engine::TRunResult& result) override
  {
    QElapsedTimer clock;
    clock.start();
    TEngineWindow::RunFinished(result);
    EndMs = clock.elapsed();
  }

  bool VisibleInRun = false;
  bool Splash = false;
  int Files = 0;
  int CancelAt = -1;
  qint64 EndMs = -1;
};

class WindowTest : public EngineTest {
protected:
  void SetUp() override
  {
    EngineTest::SetUp();
    FBus = std::make_unique<ardanto::test::ScopedEnv>("ARDANTO_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    FSource = Path(u"home/p"_s);
    std::vector<TFixtureFile> files;
    for (int i = 0; i < 6; ++i)
      files.push_back({u"Mail/file%1"_s.arg(i), QByteArray(5000 + i, 'm'), {}});
    MakeTree(FSource, files);
  }
  // failing: its source folder is missing (exit 3).
  QString Task(bool failing, int encrypt = 0)
  {
    TBackupSpec spec;
    spec.Destination = Path(u"backup"_s);
    spec.Sources = {failing ? Path(u"home/gone"_s) : FSource};
    spec.Encrypt = encrypt;
    return WriteBackupTask(u"tb-window.buj"_s, spec);
  }
  static engine::TEngineOptions Options(const QString& task, engine::TPromptMode prompt)
  {
    engine::TEngineOptions options;
    options.TaskFile = task;
    options.Prompt = prompt;
    options.WaitSeconds = 1;
    options.Hide = true;
    options.Force = true;
    return options;
  }

  std::unique_ptr<ardanto::test::ScopedEnv> FBus;
  QString FSource;
};

struct TPromptCase {
  const char* Name;
  engine::TPromptMode Prompt;
  bool Failing;
  bool ShownInRun;
  bool WaitsForOk;
  bool WaitsSeconds;
};

void PrintTo(const TPromptCase& c, std::ostream* os)
{
  *os << c.Name;
}

class PromptTest : public WindowTest, public ::testing::WithParamInterface<TPromptCase> {};

TEST_P(PromptTest, EachPromptModeShowsTheWindowAndEndsAsItSays)
{
  const TPromptCase& c = GetParam();
  const engine::TEngineOptions options = Options(Task(c.Failing), c.Prompt);
  TWatchedWindow window(options);
  TScopedResponders responders;
  int asked = 0;
  bool visibleWhenAsked = false;
  TQuestion question;
  responders.Question = [&](TQuestion& q) {
    ++asked;
    visibleWhenAsked = window.isVisible();
    question = q;
    return ardanto::ui::dbOk;
  };
  const engine::TRunResult result = engine::RunEngine(options, window);
  ASSERT_EQ(result.ExitCode, c.Failing ? 3 : 0);
  EXPECT_EQ(window.VisibleInRun, c.ShownInRun);
  EXPECT_EQ(asked, c.WaitsForOk ? 1 : 0);
  if (c.WaitsForOk) {
    EXPECT_TRUE(visibleWhenAsked) << "the result is shown while it waits";
    EXPECT_EQ(question.Kind, c.Failing ? ardanto::ui::TMessageKind::Error : ardanto::ui::TMessageKind::Information);
    EXPECT_EQ(question.Title, u"tb-window"_s);
    EXPECT_TRUE(question.Text.contains(c.Failing ? u"Source directory not found!"_s : u"Finished: OK"_s))
        << question.Text.toStdString();
  }
  if (c.WaitsSeconds) {
    EXPECT_GE(window.EndMs, 900) << "closed after the display time";
  } else {
    EXPECT_LT(window.EndMs, 900);
  }
  EXPECT_FALSE(window.isVisible()) << "the window is gone once the run has ended";
}

INSTANTIATE_TEST_SUITE_P(Modes, PromptTest,
                         ::testing::Values(TPromptCase{"WaitOk", engine::pmWait, false, true, true, false},
                                           TPromptCase{"WaitErrors", engine::pmWait, true, true, true, false},
                                           TPromptCase{"DelayOk", engine::pmDelay, false, true, false, true},
                                           TPromptCase{"DelayErrors", engine::pmDelay, true, true, false, true},
                                           TPromptCase{"ErrorOk", engine::pmError, false, true, false, true},
                                           TPromptCase{"ErrorErrors", engine::pmError, true, true, true, false},
                                           TPromptCase{"SilentOk", engine::pmSilent, false, false, false, false},
                                           TPromptCase{"SilentErrors", engine::pmSilent, true, false, true, false},
                                           TPromptCase{"QuietOk", engine::pmQuiet, false, false, false, false},
                                           TPromptCase{"QuietErrors", engine::pmQuiet, true, false, false, false}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(WindowTest, CancelStopsTheRunAndOkEndsTheWait)
{
  // No responder: the window's own button ends the wait.
  engine::TEngineOptions options = Options(Task(false), engine::pmWait);
  TWatchedWindow window(options);
  window.CancelAt = 2;
  QPushButton* button = window.findChild<QPushButton*>(u"btButton"_s);
  QString textAtEnd;
  QTimer press;
  QObject::connect(&press, &QTimer::timeout, &window, [&]() {
    if (window.isVisible() && window.ResultText().isEmpty() == false) {
      textAtEnd = button->text();
      button->click();
      press.stop();
    }
  });
  press.start(100);
  const engine::TRunResult result = engine::RunEngine(options, window);
  EXPECT_EQ(result.ExitCode, 5);
  EXPECT_LT(result.Copied, 6);
  EXPECT_EQ(textAtEnd, u"OK"_s);
  EXPECT_TRUE(window.ResultText().contains(u"The backup was aborted by the user"_s))
      << window.ResultText().toStdString();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(ReadFile(result.LogFile).contains("  *** The backup was aborted by the user"));
}

TEST_F(WindowTest, TitleProgressOnTopAndSplash)
{
  engine::TEngineOptions options = Options(Task(false), engine::pmDelay);
  options.WaitSeconds = 0;
  options.StatusOnTop = true;
  options.Hide = false;
  TWatchedWindow window(options);
  ASSERT_EQ(engine::RunEngine(options, window).ExitCode, 0);
  EXPECT_EQ(window.windowTitle(), u"tb-window"_s);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.Splash) << "without hide the splash shows";
  EXPECT_EQ(window.findChild<QProgressBar*>(u"pbFiles"_s)->format(), u"6 of 6"_s);
  EXPECT_EQ(window.findChild<QProgressBar*>(u"pbBytes"_s)->value(), 1000);
  EXPECT_TRUE(window.findChild<QLabel*>(u"laFile"_s)->text().startsWith(u"Mail/file"_s));
  EXPECT_EQ(window.findChild<QLabel*>(u"laFolder"_s)->text(), FSource + u"/Mail"_s);

  options.Hide = true;
  options.StatusOnTop = false;
  TWatchedWindow hidden(options);
  ASSERT_EQ(engine::RunEngine(options, hidden).ExitCode, 0);
  EXPECT_FALSE(hidden.Splash);
  EXPECT_FALSE(hidden.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

  // Rate and time left, from the bytes done since the totals were known.
  TWatchedWindow shown(options);
  shown.RunStarted(u"tb-rate"_s, false);
  shown.TotalsKnown(10, 2000000);
  QThread::msleep(700);
  shown.Progress(5, 1000000);
  const QString rate = shown.findChild<QLabel*>(u"laRate"_s)->text();
  EXPECT_TRUE(rate.endsWith(u"/s"_s) && rate.front().isDigit()) << rate.toStdString();
  EXPECT_TRUE(QRegularExpression(u"^0:0[1-9]$"_s).match(shown.findChild<QLabel*>(u"laTimeLeft"_s)->text()).hasMatch())
      << shown.findChild<QLabel*>(u"laTimeLeft"_s)->text().toStdString();
}

TEST_F(WindowTest, PasswordsAreAskedThroughTheSuitesDialogsButNeverInAForcedRun)
{
  const QString task = Task(false, 1);
  TScopedResponders responders;
  QStringList asked;
  QString answer = u"typed secret"_s;
  responders.Password = [&](const QString& title, QString& password) {
    asked << u"new: "_s + title;
    password = answer;
    return !answer.isEmpty();
  };
  responders.Text = [&](const QString& label, QString& value) {
    asked << u"once: "_s + label;
    value = answer;
    return !answer.isEmpty();
  };
  responders.Question = [](TQuestion&) { return ardanto::ui::dbOk; };

  engine::TEngineOptions forced = Options(task, engine::pmQuiet);
  TWatchedWindow unattended(forced);
  EXPECT_EQ(engine::RunEngine(forced, unattended).ExitCode, 6);
  EXPECT_TRUE(asked.isEmpty());

  engine::TEngineOptions options = forced;
  options.Force = false;
  answer.clear();
  TWatchedWindow cancelled(options);
  EXPECT_EQ(engine::RunEngine(options, cancelled).ExitCode, 6);
  EXPECT_EQ(asked, QStringList{u"new: Password for file encryption"_s}) << "typed twice, to confirm";

  answer = u"typed secret"_s;
  asked.clear();
  TWatchedWindow backup(options);
  ASSERT_EQ(engine::RunEngine(options, backup).ExitCode, 0);
  EXPECT_EQ(asked, QStringList{u"new: Password for file encryption"_s});

  TRestoreSpec restoreSpec;
  restoreSpec.Source = BackupOf(Path(u"backup"_s), FSource);
  restoreSpec.Target = Path(u"restored"_s);
  engine::TEngineOptions restore = Options(WriteRestoreTask(u"tb-window.rsj"_s, restoreSpec), engine::pmWait);
  restore.Force = false;
  restore.Restore = true;
  asked.clear();
  TWatchedWindow restoring(restore);
  ASSERT_EQ(engine::RunEngine(restore, restoring).ExitCode, 0);
  EXPECT_EQ(asked, QStringList{u"once: Password for file encryption"_s});
  EXPECT_EQ(ReadFile(restoreSpec.Target + u"/Mail/file0"_s), QByteArray(5000, 'm'));
}

} // namespace
