// The program as users and scheduled runs start it: portkeep TASK /force /close
// against the demo device, without a display.

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

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
  int Start(const QStringList& args, int waitMs)
  {
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.setWorkingDirectory(FDir.Path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(PORTKEEP_PROGRAM), args);
    if (!process.waitForStarted(10000))
      return -1;
    if (!process.waitForFinished(waitMs)) {
      process.kill();
      process.waitForFinished();
      return -2;
    }
    FOutput = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  QString LogFile() const { return FDir.Path() + u"/config/Ardanto6/pk-demo.log"_s; }

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
  ASSERT_EQ(lines.size(), 20) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines[0].startsWith(u"Portkeep - 64-bit ("_s)) << lines[0].toStdString();
  EXPECT_EQ(lines.mid(1, 3), (QStringList{u"  Loading device list"_s, u"    1 portable device found"_s,
                                         u"  Selected: Demo Phone"_s}));
  EXPECT_EQ(lines[4], u"  Reading the directory structure"_s);
  EXPECT_TRUE(lines[5].endsWith(u" objects found"_s));
  EXPECT_TRUE(lines[6].endsWith(u" directories found"_s));
  EXPECT_EQ(lines[7], u"========================="_s);
  EXPECT_TRUE(start.match(lines[8]).hasMatch()) << lines[8].toStdString();
  EXPECT_EQ(lines.mid(9, 10), (QStringList{u"  Destination directory: "_s + FOut + u"/Internal storage/DCIM"_s,
                                           u"  Subdirectory: Internal storage\\DCIM\\Camera"_s,
                                           u"    + Copied: IMG_20190614_101523.jpg"_s,
                                           u"    + Copied: IMG_20200823_174402.jpg"_s,
                                           u"    + Copied: IMG_20211224_190015.jpg"_s,
                                           u"    + Copied: IMG_20230402_083010.jpg"_s,
                                           u"  Subdirectory: Internal storage\\DCIM\\Screenshots"_s,
                                           u"    + Copied: Screenshot_20220315-120000.png"_s,
                                           u"  Subdirectory: Internal storage\\DCIM"_s, u"  5 files copied"_s}))
      << lines.join(u'\n').toStdString();
  EXPECT_TRUE(finished.match(lines.last()).hasMatch()) << lines.last().toStdString();
}

TEST_F(PortkeepProgramTest, AStoredFolderBelowTheFirstLevelIsBackedUp)
{
  const QString task = FDir.Write(u"jobs/camera.pkj"_s, "[Config]\nDeviceName=Demo Phone\nDestination=" +
                                                            FOut.toUtf8() +
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
