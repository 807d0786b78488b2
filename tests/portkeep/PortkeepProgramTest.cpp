// The program as users and scheduled runs start it: portkeep TASK /force /close
// against the demo device, without a display.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

#include <thread>

using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

class PortkeepProgramTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FDevice = FDir.Path() + u"/device"_s;
    const ProcessResult made =
        ardanto::test::Run(u"python3"_s, {SourceDir() + u"/scripts/make-demo-device"_s, FDevice});
    ASSERT_EQ(made.ExitCode, 0) << made.Output.toStdString();
    FOut = FDir.Path() + u"/out"_s;
    FTask = FDir.Write(u"jobs/demo.pkj"_s, "[Config]\nDeviceName=Demo Phone\nDestination=" + FOut.toUtf8() +
                                               "\nDirCount=1\n[Directories]\nDir00=Internal storage\\DCIM\n");
  }

  QProcessEnvironment Environment() const
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, FDir.Path());
    env.insert(u"XDG_CONFIG_HOME"_s, FDir.Path() + u"/config"_s);
    env.insert(u"PORTKEEP_FOLDER_DEVICES"_s, FDevice);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    env.remove(u"LANGUAGE"_s);
    return env;
  }

  // Runs portkeep; when it does not end within waitMs, kills it and returns -2.
  int Start(const QStringList& args, int waitMs) { return Start(args, waitMs, Environment()); }
  int Start(const QStringList& args, int waitMs, const QProcessEnvironment& env,
            const QString& program = QStringLiteral(PORTKEEP_PROGRAM))
  {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(FDir.Path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000))
      return -1;
    if (!process.waitForFinished(waitMs)) {
      process.kill();
      process.waitForFinished();
      FOutput = process.readAll();
      return -2;
    }
    FOutput = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  // As a scheduler starts it: no display, and nothing said about Qt's platform.
  int StartUnattended(const QStringList& args, QProcessEnvironment env = {})
  {
    if (env.isEmpty())
      env = Environment();
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.insert(u"DISPLAY"_s, QString());
    env.insert(u"WAYLAND_DISPLAY"_s, QString());
    // A hang fails the test instead of blocking it.
    return Start(args, 30000, env);
  }

  QString LogFile(const QString& task = u"demo"_s) const
  {
    return FDir.Path() + u"/config/Ardanto6/pk-"_s + task + u".log"_s;
  }

  QStringList LogLines(const QString& task) const
  {
    QStringList lines = QString::fromUtf8(ReadFile(LogFile(task)).mid(3)).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
      lines.removeLast();
    return lines;
  }

  TempDir FDir;
  QString FDevice;
  QString FOut;
  QString FTask;
  QByteArray FOutput;
};

} // namespace

TEST_F(PortkeepProgramTest, ForceAndCloseRunTheTaskWriteTheLogAndEnd)
{
  ASSERT_EQ(Start({FTask, u"/force"_s, u"/close"_s}, 60000), 0) << FOutput.toStdString();

  const QString camera = FOut + u"/Internal storage/DCIM/Camera/"_s;
  const QStringList pictures = QDir(camera).entryList(QDir::Files);
  EXPECT_EQ(pictures.size(), 4) << pictures.join(u' ').toStdString();
  for (const QString& name : pictures) {
    EXPECT_EQ(ReadFile(camera + name), ReadFile(FDevice + u"/Internal storage/DCIM/Camera/"_s + name));
    EXPECT_EQ(QFileInfo(camera + name).lastModified(),
              QFileInfo(FDevice + u"/Internal storage/DCIM/Camera/"_s + name).lastModified());
  }

  const QByteArray log = ReadFile(LogFile());
  ASSERT_TRUE(log.startsWith("\xEF\xBB\xBF")) << "UTF-8 with a byte-order mark";
  QStringList lines = QString::fromUtf8(log.mid(3)).split(u'\n');
  if (lines.last().isEmpty())
    lines.removeLast();
  // Times aside, the log is fixed.
  const QRegularExpression start(u"^==> Start: .+ - Backup task: demo\\.pkj$"_s);
  const QRegularExpression finished(u"^==> Backup finished: .+ \\(\\d\\d:\\d\\d:\\d\\d\\)$"_s);
  // The run's closing summary stands between its lines and the last one.
  ASSERT_EQ(lines.size(), 21) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines[19].startsWith(u"Summary: 5 copied"_s)) << lines[19].toStdString();
  EXPECT_TRUE(lines[0].startsWith(u"Portkeep - 64-bit ("_s)) << lines[0].toStdString();
  EXPECT_EQ(lines.mid(1, 3),
            (QStringList{u"  Loading device list"_s, u"    1 portable device found"_s, u"  Selected: Demo Phone"_s}));
  EXPECT_EQ(lines[4], u"  Reading the directory structure"_s);
  EXPECT_TRUE(lines[5].endsWith(u" objects found"_s));
  EXPECT_TRUE(lines[6].endsWith(u" directories found"_s));
  EXPECT_EQ(lines[7], u"========================="_s);
  EXPECT_TRUE(start.match(lines[8]).hasMatch()) << lines[8].toStdString();
  EXPECT_EQ(
      lines.mid(9, 10),
      (QStringList{u"  Destination directory: "_s + FOut + u"/Internal storage/DCIM"_s,
                   u"  Subdirectory: Internal storage\\DCIM\\Camera"_s, u"    + Copied: IMG_20190614_101523.jpg"_s,
                   u"    + Copied: IMG_20200823_174402.jpg"_s, u"    + Copied: IMG_20211224_190015.jpg"_s,
                   u"    + Copied: IMG_20230402_083010.jpg"_s, u"  Subdirectory: Internal storage\\DCIM\\Screenshots"_s,
                   u"    + Copied: Screenshot_20220315-120000.png"_s, u"  Subdirectory: Internal storage\\DCIM"_s,
                   u"  5 files copied"_s}))
      << lines.join(u'\n').toStdString();
  EXPECT_TRUE(finished.match(lines.last()).hasMatch()) << lines.last().toStdString();
}

TEST_F(PortkeepProgramTest, LangDeWritesTheRunInGerman)
{
  ASSERT_EQ(Start({FTask, u"/force"_s, u"/close"_s, u"/lang:de"_s}, 60000), 0) << FOutput.toStdString();
  const QStringList lines = LogLines(u"demo"_s);
  const QString log = lines.join(u'\n');
  EXPECT_TRUE(lines.contains(u"  Geräteliste wird geladen"_s)) << log.toStdString();
  EXPECT_TRUE(lines.contains(u"    1 tragbares Gerät gefunden"_s)) << log.toStdString();
  EXPECT_TRUE(lines.contains(u"  5 Dateien kopiert"_s)) << log.toStdString();
  EXPECT_TRUE(
      QRegularExpression(u"^==> Start: .+ - Sicherungsauftrag: demo\\.pkj$"_s, QRegularExpression::MultilineOption)
          .match(log)
          .hasMatch())
      << log.toStdString();
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_TRUE(lines.last().startsWith(u"==> Sicherung beendet: "_s)) << lines.last().toStdString();
}

TEST_F(PortkeepProgramTest, AStoredFolderBelowTheFirstLevelIsBackedUp)
{
  const QString task =
      FDir.Write(u"jobs/camera.pkj"_s, "[Config]\nDeviceName=Demo Phone\nDestination=" + FOut.toUtf8() +
                                           "\nDirCount=1\n[Directories]\n"
                                           "Dir00=Internal storage\\DCIM\\Camera\n");
  ASSERT_EQ(Start({task, u"/force"_s, u"/close"_s}, 60000), 0) << FOutput.toStdString();
  const QString log = QString::fromUtf8(ReadFile(FDir.Path() + u"/config/Ardanto6/pk-camera.log"_s));
  EXPECT_FALSE(log.contains(u"No directory selected"_s)) << log.toStdString();
  EXPECT_TRUE(log.contains(u"  4 files copied"_s)) << log.toStdString();
  EXPECT_EQ(QDir(FOut + u"/Internal storage/DCIM/Camera"_s).entryList(QDir::Files).size(), 4);
}

TEST_F(PortkeepProgramTest, OptionWordsAndTaskArguments)
{
  // "/cl" is close; of two task files the last counts.
  ASSERT_EQ(Start({u"missing"_s, FTask, u"/f"_s, u"/cl"_s}, 60000), 0) << FOutput.toStdString();
  EXPECT_TRUE(QFileInfo::exists(LogFile()));
  EXPECT_TRUE(QFileInfo::exists(FOut + u"/Internal storage/DCIM/Camera"_s));
}

TEST_F(PortkeepProgramTest, CloseWithoutForceOnlyLoadsAndStaysOpen)
{
  EXPECT_EQ(Start({FTask, u"/close"_s}, 4000), -2) << "the program stays open";
  EXPECT_FALSE(QFileInfo::exists(FOut)) << "nothing was copied";
  EXPECT_EQ(Start({FTask, u"/f"_s, u"/closed"_s}, 4000), -2) << "/closed matches no word";
}

TEST_F(PortkeepProgramTest, UnattendedRunsThatCannotStartEndWithALog)
{
  QDir().mkpath(FDir.Path() + u"/jobs/folder.pkj"_s);
  QByteArray garbage;
  for (int i = 0; i < 4000; ++i)
    garbage += static_cast<char>((i * 37 + i / 7) & 0xff);
  FDir.Write(u"jobs/garbage.pkj"_s, garbage);
  {
    // Sparse: 300 MB that take no room.
    QFile huge(FDir.File(u"jobs/huge.pkj"_s));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.write("[Config]\nDeviceName=Demo Phone\n") > 0);
    ASSERT_TRUE(huge.resize(300LL * 1024 * 1024));
  }
  const struct {
    const char* What;
    QString Task;
    bool NoDevices;
    const char16_t* Reason; // part of the "  *** " line
  } cases[] = {
      {"the device is not connected", u"demo"_s, true, u"Demo Phone"},
      {"the task file is missing", u"missing"_s, false, u"missing.pkj"},
      {"the task is a folder", u"folder"_s, false, u"folder.pkj"},
      {"the task file is garbage", u"garbage"_s, false, u"garbage.pkj"},
      {"the task file is huge", u"huge"_s, false, u"huge.pkj"},
  };
  for (const auto& c : cases) {
    QProcessEnvironment env = Environment();
    if (c.NoDevices)
      env.insert(u"PORTKEEP_FOLDER_DEVICES"_s, FDir.Path() + u"/gone"_s);
    ASSERT_EQ(StartUnattended({FDir.File(u"jobs/"_s + c.Task), u"/force"_s, u"/close"_s}, env), 0)
        << c.What << ": the program must end\n"
        << FOutput.toStdString();
    const QStringList lines = LogLines(c.Task);
    ASSERT_FALSE(lines.isEmpty()) << c.What << ": no log";
    EXPECT_TRUE(lines[0].startsWith(u"Portkeep - "_s)) << c.What;
    EXPECT_TRUE(lines.last().startsWith(u"==> Backup not run: "_s)) << c.What << ": the log is complete";
    const QString reason = QString::fromUtf16(c.Reason);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const QString& l) { return l.startsWith(u"  *** "_s) && l.contains(reason); }))
        << c.What << "\n"
        << lines.join(u'\n').toStdString();
  }
  // The question nobody could answer went to the output, with the answer taken.
  ASSERT_EQ(StartUnattended({FTask, u"/f"_s, u"/c"_s},
                            [&] {
                              QProcessEnvironment env = Environment();
                              env.insert(u"PORTKEEP_FOLDER_DEVICES"_s, FDir.Path() + u"/gone"_s);
                              return env;
                            }()),
            0);
  EXPECT_TRUE(FOutput.contains("Portable device \"Demo Phone\" is not ready!")) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains("-> No")) << FOutput.toStdString();
}

TEST_F(PortkeepProgramTest, ALogThatCannotBeWrittenGoesToTheOutput)
{
  // A folder where the log file should be: no file can take its place.
  QDir().mkpath(LogFile());
  ASSERT_EQ(StartUnattended({FTask, u"/force"_s, u"/close"_s}), 0) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains("  5 files copied")) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains("==> Backup finished: ")) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains(LogFile().toUtf8())) << "the error names the log file\n" << FOutput.toStdString();
}

TEST_F(PortkeepProgramTest, AnUnreadableSharedConfigurationDoesNotStopTheProgram)
{
  // Ardanto.cfg is a folder: it cannot be read as a file.
  QDir().mkpath(FDir.Path() + u"/config/Ardanto6/Ardanto.cfg"_s);
  ASSERT_EQ(StartUnattended({FTask, u"/force"_s, u"/close"_s}), 0) << FOutput.toStdString();
  EXPECT_FALSE(FOutput.contains("terminate called")) << FOutput.toStdString();
  EXPECT_TRUE(LogLines(u"demo"_s).contains(u"  5 files copied"_s)) << FOutput.toStdString();
}

TEST_F(PortkeepProgramTest, TheWindowTitleNamesTheProgramOnce)
{
  if (!HasProgram(u"xvfb-run"_s) || !HasProgram(u"xwininfo"_s))
    GTEST_SKIP() << "needs xvfb-run and xwininfo";
  QProcessEnvironment env = Environment();
  env.remove(u"QT_QPA_PLATFORM"_s);
  env.insert(u"PORTKEEP_PROGRAM"_s, QStringLiteral(PORTKEEP_PROGRAM));
  // The titles as the X server holds them, once the main window is up.
  const QString script = u"\"$PORTKEEP_PROGRAM\" & p=$!; for i in $(seq 100); do "
                         u"t=$(xwininfo -root -tree | grep 'Backup files from a portable device'); "
                         u"[ -n \"$t\" ] && break; sleep 0.1; done; echo \"$t\"; kill $p"_s;
  ASSERT_EQ(Start({u"-a"_s, u"bash"_s, u"-c"_s, script}, 30000, env, u"xvfb-run"_s), 0) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains("\"Portkeep - Backup files from a portable device\":")) << FOutput.toStdString();
}
