// What a run tells its view and asks of it, driven in-process through the
// same interface the status window implements.

#include "EngineTestSupport.h"

#include "engine/EngineRun.h"
#include "engine/EngineView.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace enginetest;
using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;

namespace {

class TRecordingView : public engine::IEngineView {
public:
  void RunStarted(const QString& taskName, bool restore) override
  {
    Started = taskName;
    Restore = restore;
  }
  bool WantsTotals() const override { return Totals; }
  void TotalsKnown(std::int64_t files, std::int64_t bytes) override
  {
    TotalFiles = files;
    TotalBytes = bytes;
  }
  void FolderChanged(const QString& folder) override { Folders << folder; }
  void FileChanged(const QString& file) override { Files << file; }
  void Progress(std::int64_t filesDone, std::int64_t bytesDone) override
  {
    LastFiles = filesDone;
    LastBytes = bytesDone;
    ++ProgressCalls;
  }
  void Idle() override {}
  std::optional<QString> AskPassword(const QString&, bool confirm) override
  {
    Asked << confirm;
    return Answer;
  }
  bool CancelRequested() override { return CancelAfter >= 0 && ProgressCalls > CancelAfter; }
  void RunFinished(const engine::TRunResult& result) override { FinishedCode = result.ExitCode; }

  bool Totals = false;
  int CancelAfter = -1;
  std::optional<QString> Answer;
  QString Started;
  bool Restore = false;
  std::int64_t TotalFiles = -1;
  std::int64_t TotalBytes = -1;
  std::int64_t LastFiles = 0;
  std::int64_t LastBytes = 0;
  int ProgressCalls = 0;
  QStringList Folders;
  QStringList Files;
  QList<bool> Asked;
  int FinishedCode = -1;
};

class ViewTest : public EngineTest {
protected:
  void SetUp() override
  {
    EngineTest::SetUp();
    FBus = std::make_unique<ardanto::test::ScopedEnv>("ARDANTO_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  }
  engine::TRunResult RunWith(TRecordingView& view, const QString& task, bool force, bool restore = false)
  {
    engine::TEngineOptions options;
    options.TaskFile = task;
    options.Force = force;
    options.Restore = restore;
    return engine::RunEngine(options, view);
  }
  std::unique_ptr<ardanto::test::ScopedEnv> FBus;
};

TEST_F(ViewTest, CancelStopsTheRunAfterTheFileInHand)
{
  std::vector<TFixtureFile> files;
  for (int i = 0; i < 20; ++i)
    files.push_back({u"file%1"_s.arg(i, 2, 10, QChar(u'0')), QByteArray(20000, 'x'), {}});
  const QString source = Path(u"home/p"_s);
  MakeTree(source, files);
  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {source};
  TRecordingView view;
  view.CancelAfter = 2;
  const engine::TRunResult result = RunWith(view, WriteBackupTask(u"tb-cancel.buj"_s, spec), true);
  EXPECT_EQ(result.ExitCode, 5);
  EXPECT_EQ(view.FinishedCode, 5);
  EXPECT_EQ(view.Started, u"tb-cancel"_s);
  EXPECT_LT(result.Copied, 20);
  const QStringList backup = FilesBelow(BackupOf(spec.Destination, source));
  EXPECT_EQ(backup.size(), result.Copied) << "what was copied is complete and in place, nothing else";
  EXPECT_TRUE(ReadFile(result.LogFile).contains("  *** The backup was aborted by the user"));
}

TEST_F(ViewTest, ThePasswordIsAskedWhenTheTaskHasNoneButNeverInAnUnattendedRun)
{
  const QString source = Path(u"home/p"_s);
  MakeTree(source, {{u"prefs.js"_s, "secret prefs", {}}});
  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {source};
  spec.Encrypt = 1;
  const QString task = WriteBackupTask(u"tb-ask.buj"_s, spec);

  TRecordingView unattended;
  unattended.Answer = u"never used"_s;
  EXPECT_EQ(RunWith(unattended, task, true).ExitCode, 6);
  EXPECT_TRUE(unattended.Asked.isEmpty());

  TRecordingView cancelled;
  EXPECT_EQ(RunWith(cancelled, task, false).ExitCode, 6);
  EXPECT_EQ(cancelled.Asked, QList<bool>{true}) << "asked once, to be typed twice";

  TRecordingView backup;
  backup.Answer = u"typed password"_s;
  ASSERT_EQ(RunWith(backup, task, false).ExitCode, 0);
  const QString stored = BackupOf(spec.Destination, source) + u"/prefs.js.zip"_s;
  if (ardanto::test::HasProgram(u"7z"_s)) {
    EXPECT_EQ(RunTool(u"7z"_s, {u"x"_s, u"-so"_s, u"-ptyped password"_s, stored}).Out, QByteArray("secret prefs"));
  }

  TRestoreSpec restoreSpec;
  restoreSpec.Source = BackupOf(spec.Destination, source);
  restoreSpec.Target = Path(u"restored"_s);
  TRecordingView restore;
  restore.Answer = u"typed password"_s;
  ASSERT_EQ(RunWith(restore, WriteRestoreTask(u"tb-ask.rsj"_s, restoreSpec), false, true).ExitCode, 0);
  EXPECT_EQ(restore.Asked, QList<bool>{false}) << "a restore asks once";
  EXPECT_TRUE(restore.Restore);
  EXPECT_EQ(ReadFile(restoreSpec.Target + u"/prefs.js"_s), QByteArray("secret prefs"));
}

TEST_F(ViewTest, TotalsAreCountedOnlyForAViewThatShowsThem)
{
  const QString source = Path(u"home/p"_s);
  MakeTree(source, {{u"prefs.js"_s, "12345", {}}, {u"Mail/Inbox"_s, "1234567890", {}}, {u"cache2/x"_s, "xxx", {}}});
  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {source};
  const QString task = WriteBackupTask(u"tb-totals.buj"_s, spec);
  TRecordingView plain;
  ASSERT_EQ(RunWith(plain, task, true).ExitCode, 0);
  EXPECT_EQ(plain.TotalFiles, -1);
  TRecordingView counting;
  counting.Totals = true;
  ASSERT_EQ(RunWith(counting, task, true).ExitCode, 0);
  EXPECT_EQ(counting.TotalFiles, 2) << "excluded folders are not counted";
  EXPECT_EQ(counting.TotalBytes, 15);
  EXPECT_EQ(counting.LastFiles, 2);
  EXPECT_EQ(counting.LastBytes, 15);
  EXPECT_TRUE(counting.Files.contains(u"Mail/Inbox"_s));
}

// The program decides by the display it finds: none, or one it cannot
// reach, is an unattended run that asks nothing and never waits, whatever
// the prompt mode says.
TEST_F(ViewTest, WithoutADisplayNothingIsShownOrAskedAndNothingWaits)
{
  const QString source = Path(u"home/p"_s);
  MakeTree(source, {{u"prefs.js"_s, "secret prefs", {}}});
  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {source};
  spec.Encrypt = 1; // without a fixed password: a question, if anyone could answer
  const QString task = WriteBackupTask(u"tb-nodisplay.buj"_s, spec);
  for (const char* display : {"", ":97"}) {
    SCOPED_TRACE(display);
    QProcessEnvironment env = Environment();
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    if (*display != 0)
      env.insert(u"DISPLAY"_s, QString::fromLatin1(display));
    else
      env.remove(u"DISPLAY"_s);
    QElapsedTimer clock;
    clock.start();
    const TToolResult run = RunTool(EngineProgram(), {task, u"/prompt:wait"_s}, env, 20000);
    EXPECT_EQ(run.ExitCode, 6) << run.Err.toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(ReadFile(LogFolder() + u"/tb-nodisplay.log"_s).contains("nobody can be asked"));
  }
}

TEST_F(ViewTest, UnderAnXServerTheWindowShowsAndClosesAfterItsTime)
{
  if (!ardanto::test::HasProgram(u"xvfb-run"_s) || !ardanto::test::HasProgram(u"xwininfo"_s))
    GTEST_SKIP() << "needs xvfb-run and xwininfo";
  const QString source = Path(u"home/p"_s);
  MakeTree(source, {{u"prefs.js"_s, "prefs", {}}});
  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {source};
  const QString task = WriteBackupTask(u"tb-shown.buj"_s, spec);
  QProcessEnvironment env = Environment();
  env.remove(u"QT_QPA_PLATFORM"_s);
  env.remove(u"WAYLAND_DISPLAY"_s);
  env.insert(u"ENGINE"_s, EngineProgram());
  env.insert(u"TASK"_s, task);
  // The window as the X server holds it; the engine ends on its own once
  // the display time is over.
  const QString script = u"\"$ENGINE\" \"$TASK\" /prompt:delay /wait:2 /hide & p=$!; for i in $(seq 100); do "
                         u"t=$(xwininfo -root -tree | grep '\"tb-shown\"'); [ -n \"$t\" ] && break; sleep 0.05; "
                         u"done; echo \"window: $t\"; wait $p; echo \"exit: $?\""_s;
  QElapsedTimer clock;
  clock.start();
  const TToolResult run = RunTool(u"/usr/bin/xvfb-run"_s, {u"-a"_s, u"/bin/bash"_s, u"-c"_s, script}, env, 60000);
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Out.contains("\"tb-shown\": (")) << run.Out.toStdString();
  EXPECT_TRUE(run.Out.contains("exit: 0")) << run.Out.toStdString();
  EXPECT_GE(clock.elapsed(), 2000) << "open for its display time";
  EXPECT_TRUE(QFileInfo::exists(BackupOf(spec.Destination, source) + u"/prefs.js.zip"_s));
}

} // namespace
