// The program as users, timers and shortcuts start it: quillbox [PROFILE]
// [/force ...] on real Thunderbird profiles with the recording engine, without
// a display unless a test says otherwise. Power requests never reach this
// machine: the buses the program would use are private to the test.

#include "common/IniFileUtils.h"
#include "support/RecordingEngine.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

class QuillboxProgramTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FHomeDir = FDir.Path() + u"/home"_s;
    ASSERT_TRUE(QDir().mkpath(FHomeDir));
    FHome = CopyThunderbirdHome(FHomeDir);
    FWork = FDir.Path() + u"/work"_s;
    ASSERT_TRUE(QDir().mkpath(FWork));
    FEngine = std::make_unique<TRecordingEngine>(FWork);
    FBackup = FDir.Path() + u"/backup"_s;
    // Until a test starts a bus of its own, the program finds none at all.
    FBusAddress = u"unix:path="_s + FDir.Path() + u"/no-bus"_s;
  }
  void TearDown() override
  {
    for (auto& process : FServices) {
      process->terminate();
      process->waitForFinished(5000);
    }
  }

  QString SettingsFile() const { return FDir.Path() + u"/config/Ardanto6/Quillbox.ini"_s; }
  void WriteSettings(const QByteArray& config) const
  {
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    WriteFile(SettingsFile(), "[Config]\n" + config);
  }
  QString JobDir() const { return FHomeDir + u"/Documents/Ardanto/"_s; }

  QProcessEnvironment Environment() const
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, FHomeDir);
    env.insert(u"XDG_CONFIG_HOME"_s, FDir.Path() + u"/config"_s);
    env.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    env.insert(u"ARDANTO_SYSTEM_BUS_ADDRESS"_s, FBusAddress);
    env.insert(u"ARDANTO_SESSION_BUS_ADDRESS"_s, FBusAddress);
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    env.remove(u"LANGUAGE"_s);
    // As a timer starts it: no display, and nothing said about Qt's platform.
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    return env;
  }

  // Runs the program in folder (the engine's by default) to its end; a hang
  // is killed and fails the test.
  int Run(const QStringList& args, QProcessEnvironment env = {}, const QString& folder = QString(),
          const QString& program = QStringLiteral(QUILLBOX_PROGRAM))
  {
    if (env.isEmpty())
      env = Environment();
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder.isEmpty() ? FWork : folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000))
      return -1;
    const bool ended = process.waitForFinished(60000);
    if (!ended) {
      process.kill();
      process.waitForFinished();
    }
    FOutput = QString::fromLocal8Bit(process.readAll());
    if (!ended)
      return -2;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  // A private bus with python-dbusmock's logind on it, for the program's
  // power requests; false when the machine has no dbusmock.
  bool StartLogind()
  {
    const QString python = u"/usr/bin/python3"_s;
    if (!HasProgram(u"dbus-daemon"_s) || ardanto::test::Run(python, {u"-c"_s, u"import dbusmock"_s}).ExitCode != 0)
      return false;
    const QString socket = FDir.Path() + u"/bus"_s;
    FBusAddress = u"unix:path="_s + socket;
    auto daemon = std::make_unique<QProcess>();
    daemon->start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--nopidfile"_s, u"--address="_s + FBusAddress});
    EXPECT_TRUE(daemon->waitForStarted(5000));
    FServices.push_back(std::move(daemon));
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(socket) && timer.elapsed() < 10000)
      QThread::msleep(20);
    auto mock = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, FBusAddress);
    mock->setProcessEnvironment(env);
    mock->start(python, {u"-m"_s, u"dbusmock"_s, u"-l"_s, LogindLog(), u"--system"_s, u"--template"_s, u"logind"_s});
    EXPECT_TRUE(mock->waitForStarted(5000));
    FServices.push_back(std::move(mock));
    const QDBusConnection bus = QDBusConnection::connectToBus(FBusAddress, u"quillbox-test"_s);
    while (!bus.interface()->isServiceRegistered(u"org.freedesktop.login1"_s).value()) {
      if (timer.elapsed() > 20000) {
        ADD_FAILURE() << "dbusmock did not take org.freedesktop.login1";
        break;
      }
      QThread::msleep(50);
    }
    QDBusConnection::disconnectFromBus(u"quillbox-test"_s);
    return true;
  }
  QString LogindLog() const { return FDir.Path() + u"/logind.log"_s; }
  // The calls logind got, without their time stamps.
  QStringList LogindCalls() const
  {
    QStringList calls;
    if (!QFileInfo::exists(LogindLog()))
      return calls;
    for (const QString& line : QString::fromUtf8(ReadFile(LogindLog())).split(u'\n', Qt::SkipEmptyParts))
      calls.append(line.section(u' ', 1));
    return calls;
  }

  TempDir FDir;
  QString FHomeDir;
  ThunderbirdHome FHome;
  QString FWork;
  QString FBackup;
  QString FBusAddress;
  std::unique_ptr<TRecordingEngine> FEngine;
  std::vector<std::unique_ptr<QProcess>> FServices;
  QString FOutput;
};

TEST_F(QuillboxProgramTest, WithoutThunderbirdTheStartSaysSoAndEnds)
{
  QProcessEnvironment env = Environment();
  TempDir empty;
  env.insert(u"HOME"_s, empty.Path());
  ASSERT_EQ(Run({}, env), 0) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains(u"Quillbox\nNo Thunderbird profiles found!\n-> OK"_s)) << FOutput.toStdString();
}

TEST_F(QuillboxProgramTest, WithoutTheEngineTheStartNamesIt)
{
  if (QFileInfo::exists(u"/etc/ardanto6.conf"_s) || QFileInfo::exists(u"/usr/bin/ardanto"_s))
    GTEST_SKIP() << "an engine is installed on this machine";
  // The build puts the real engine beside the program; a copy of the program
  // elsewhere has none beside it.
  const QString program = FDir.Path() + u"/bin/quillbox"_s;
  ASSERT_TRUE(QDir().mkpath(FDir.Path() + u"/bin"_s));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLBOX_PROGRAM), program));
  const QString empty = FDir.Path() + u"/elsewhere"_s;
  ASSERT_TRUE(QDir().mkpath(empty));
  ASSERT_EQ(Run({}, Environment(), empty, program), 0) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains(u"Quillbox\n\"ardanto\" not found on this system!\n-> OK"_s)) << FOutput.toStdString();
  EXPECT_TRUE(FEngine->Calls().empty());
}

TEST_F(QuillboxProgramTest, AForcedRunGivesTheEngineItsTaskAndShowsItsReport)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "/%year%\n");
  const QByteArray settings = ReadFile(SettingsFile());
  FEngine->SetExitCode(4);
  ASSERT_EQ(Run({u"alpha"_s, u"/prompt:error"_s, u"/wait:30"_s, u"/status:ontop"_s, u"/hide"_s, u"/force"_s}), 0)
      << FOutput.toStdString();
  const auto calls = FEngine->Calls();
  ASSERT_EQ(calls.size(), 1u) << FOutput.toStdString();
  EXPECT_EQ(calls[0].Arguments, (QStringList{JobDir() + u"tb-alpha.buj"_s, u"/startapp:quillbox"_s, u"/prompt:error"_s,
                                             u"/wait:30"_s, u"/status:normal"_s, u"/hide"_s, u"/force"_s}));
  EXPECT_TRUE(calls[0].TaskText.contains(u"Source="_s + FHome.ProfileFolder(u"alpha"_s)));
  EXPECT_TRUE(FOutput.contains(u"Quillbox\nError reported by Ardanto: Errors during backup!\n-> OK"_s))
      << FOutput.toStdString();
  const QString folder = FBackup + u'/' + QString::number(QDate::currentDate().year());
  EXPECT_TRUE(QFileInfo::exists(folder + u"/bu-profiles.ini"_s));
  EXPECT_EQ(ReadFile(SettingsFile()), settings) << "a forced run writes no settings";
}

TEST_F(QuillboxProgramTest, AForcedRunOfAnUnknownProfileDoesNotShutDown)
{
  if (!StartLogind())
    GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock (scripts/install-deps)";
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\n");
  ASSERT_EQ(Run({u"x"_s, u"/force"_s, u"/end:shutdown"_s}), 0) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains(u"Quillbox\nProfile \"x\" not found!\n-> OK"_s)) << FOutput.toStdString();
  EXPECT_TRUE(FEngine->Calls().empty());
  EXPECT_EQ(LogindCalls(), QStringList());

  // A run that cannot start at all still shuts down as asked.
  QProcessEnvironment env = Environment();
  TempDir empty;
  env.insert(u"HOME"_s, empty.Path());
  ASSERT_EQ(Run({u"alpha"_s, u"/force"_s, u"/end:shutdown"_s}, env), 0) << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains(u"No Thunderbird profiles found!"_s)) << FOutput.toStdString();
  EXPECT_EQ(LogindCalls(), QStringList{u"PowerOff False"_s});
}

TEST_F(QuillboxProgramTest, WhatFollowsAForcedRunReachesLogindAsTheRightCall)
{
  if (!StartLogind())
    GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock (scripts/install-deps)";
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\n");
  const struct {
    QStringList Options;
    QStringList Calls;
  } cases[] = {
      {{u"/end:restart"_s}, {u"Reboot False"_s}},
      {{u"/end:po"_s}, {u"PowerOff False"_s}},
      {{u"/end:lock"_s}, {u"PowerOff False"_s}},
      {{u"/end:logoff"_s}, {u"TerminateSession \"c7\""_s}},
      {{u"/suspend:standby"_s}, {u"Suspend False"_s}},
      {{u"/suspend:h"_s}, {u"Hibernate False"_s}},
      {{u"/suspend:hibernate"_s, u"/end:restart"_s}, {u"Reboot False"_s}},
      {{u"/end:later"_s, u"/suspend:never"_s}, {}},
  };
  QProcessEnvironment env = Environment();
  // No session manager on the private bus: logging off ends the session.
  env.insert(u"XDG_SESSION_ID"_s, u"c7"_s);
  for (const auto& c : cases) {
    const qsizetype before = LogindCalls().size();
    ASSERT_EQ(Run(QStringList{u"alpha"_s, u"/force"_s} + c.Options, env), 0) << FOutput.toStdString();
    EXPECT_EQ(LogindCalls().mid(before), c.Calls) << c.Options.join(u' ').toStdString() << FOutput.toStdString();
  }
  EXPECT_EQ(FEngine->Calls().size(), std::size(cases)) << "each run backed up first";
}

// Ends a started program the way a session manager does, once its window
// has taken its first steps (the job folder is made then).
int TerminateOnceStarted(QProcess& process, const QString& jobDir)
{
  QElapsedTimer timer;
  timer.start();
  while (!QFileInfo(jobDir).isDir() && timer.elapsed() < 30000 && process.state() == QProcess::Running)
    QThread::msleep(50);
  QThread::msleep(300);
  process.terminate();
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    return -2;
  }
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

TEST_F(QuillboxProgramTest, AnInteractiveStartTakesTheDefaultProfileAndEndsCleanlyOnTermination)
{
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\n");
  QProcess process;
  process.setProcessEnvironment(Environment());
  process.setWorkingDirectory(FWork);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(QStringLiteral(QUILLBOX_PROGRAM), QStringList());
  ASSERT_TRUE(process.waitForStarted(10000));
  ASSERT_EQ(TerminateOnceStarted(process, JobDir()), 0);
  FOutput = QString::fromLocal8Bit(process.readAll());
  EXPECT_TRUE(FOutput.contains(u"Select Thunderbird profile:\n-> OK: Default user"_s)) << FOutput.toStdString();
  // Ended as Quit ends it: the new task and the settings are written.
  const QString task = JobDir() + u"tb-alpha.buj"_s;
  ASSERT_TRUE(QFileInfo::exists(task)) << FOutput.toStdString();
  const auto ini = ardanto::TUnicodeIniFile::CreateForRead(task);
  EXPECT_EQ(ini.ReadString(u"Dir000"_s, u"Source"_s, QString()), FHome.ProfileFolder(u"alpha"_s));
  EXPECT_EQ(ardanto::TUnicodeIniFile::CreateForRead(SettingsFile()).ReadString(u"Config"_s, u"MailProfile"_s, {}),
            u"alpha"_s);
  EXPECT_TRUE(FEngine->Calls().empty());
}

TEST_F(QuillboxProgramTest, UnderAnXServerTheWindowOpensWithTheRememberedProfile)
{
  if (!HasProgram(u"xvfb-run"_s) || !HasProgram(u"xwininfo"_s))
    GTEST_SKIP() << "needs xvfb-run and xwininfo";
  WriteSettings("BackupDirectory=" + FBackup.toUtf8() + "\nMailProfile=beta\n");
  QProcessEnvironment env = Environment();
  env.insert(u"QUILLBOX_PROGRAM"_s, QStringLiteral(QUILLBOX_PROGRAM));
  // The window as the X server holds it, then the end a session manager asks for.
  const QString script = u"\"$QUILLBOX_PROGRAM\" & p=$!; for i in $(seq 150); do "
                         u"t=$(xwininfo -root -tree | grep 'Backup of Thunderbird mail data'); "
                         u"[ -n \"$t\" ] && break; sleep 0.1; done; echo \"$t\"; sleep 0.5; kill $p; wait $p"_s;
  ASSERT_EQ(Run({u"-a"_s, u"/bin/bash"_s, u"-c"_s, script}, env, QString(), u"/usr/bin/xvfb-run"_s), 0)
      << FOutput.toStdString();
  EXPECT_TRUE(FOutput.contains(u"\"Quillbox - Backup of Thunderbird mail data\":"_s)) << FOutput.toStdString();
  EXPECT_TRUE(QFileInfo::exists(JobDir() + u"tb-beta.buj"_s)) << FOutput.toStdString();
}

} // namespace
