#include "platform/Power.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace ardanto::platform;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// The fake takes the place of logind for as long as it lives.
class ScopedBackend {
public:
  explicit ScopedBackend(TPowerBackend* backend) : FOld(SetPowerBackend(backend)) {}
  ~ScopedBackend() { SetPowerBackend(FOld); }

private:
  TPowerBackend* FOld;
};

TEST(ShutDownWindows, AsksTheServiceForTheMatchingAction)
{
  struct TCase {
    TDownMode Kind;
    std::vector<TPowerAction> Requests;
  } cases[] = {
      {dmNone, {}},
      {dmLogOff, {TPowerAction::LogOff}},
      {dmRestart, {TPowerAction::Reboot}},
      {dmPowerOff, {TPowerAction::PowerOff}},
      {dmShutdown, {TPowerAction::PowerOff}},
      {dmIdleOff, {TPowerAction::PowerOff}},
      {dmHybrid, {TPowerAction::PowerOff}},
      {TDownMode(42), {}}, // a damaged setting switches nothing off
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.Kind));
    TRecordingPowerBackend fake;
    ScopedBackend scoped(&fake);
    QString error;
    EXPECT_EQ(ShutDownWindows(c.Kind, &error), c.Kind != TDownMode(42));
    EXPECT_EQ(fake.Requests, c.Requests);
  }
  TRecordingPowerBackend fake;
  ScopedBackend scoped(&fake);
  EXPECT_TRUE(SuspendWindows(false));
  EXPECT_TRUE(SuspendWindows(true));
  EXPECT_EQ(fake.Requests, (std::vector<TPowerAction>{TPowerAction::Suspend, TPowerAction::Hibernate}));
}

TEST(ShutDownWindows, PassesTheServicesReasonOn)
{
  TRecordingPowerBackend fake;
  fake.Accept = false;
  fake.Error = u"Interactive authentication required."_s;
  ScopedBackend scoped(&fake);
  QString error;
  EXPECT_FALSE(ShutDownWindows(dmShutdown, &error));
  EXPECT_EQ(error, fake.Error);
  error.clear();
  EXPECT_FALSE(SuspendWindows(true, &error));
  EXPECT_EQ(error, fake.Error);
  EXPECT_FALSE(ShutDownWindows(dmRestart)) << "the reason is optional";
}

// A private message bus with python-dbusmock's services on it; the code under
// test is pointed at it through its environment variables and never reaches
// the machine's own logind.
class PrivateBusTest : public ::testing::Test {
public:
  void SetUp() override
  {
    FPython = QFileInfo::exists(u"/usr/bin/python3"_s) ? u"/usr/bin/python3"_s : u"python3"_s;
    if (!HasProgram(u"dbus-daemon"_s) || ardanto::test::Run(FPython, {u"-c"_s, u"import dbusmock"_s}).ExitCode != 0)
      GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock (scripts/install-deps)";
    FAddress = u"unix:path="_s + FDir.File(u"bus"_s);
    FDaemon.setProgram(u"dbus-daemon"_s);
    FDaemon.setArguments({u"--session"_s, u"--nofork"_s, u"--nopidfile"_s, u"--address="_s + FAddress});
    FDaemon.start();
    ASSERT_TRUE(FDaemon.waitForStarted(5000));
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(FDir.File(u"bus"_s)) && timer.elapsed() < 10000)
      QThread::msleep(20);
    ASSERT_TRUE(QFileInfo::exists(FDir.File(u"bus"_s))) << "the bus did not come up";
    FSystem = std::make_unique<ScopedEnv>("ARDANTO_SYSTEM_BUS_ADDRESS", FAddress.toUtf8());
    FSession = std::make_unique<ScopedEnv>("ARDANTO_SESSION_BUS_ADDRESS", FAddress.toUtf8());
    FOld = SetPowerBackend(nullptr);
  }
  void TearDown() override
  {
    SetPowerBackend(FOld);
    QDBusConnection::disconnectFromBus(u"power-test"_s);
    for (auto& mock : FMocks) {
      mock->terminate();
      mock->waitForFinished(5000);
    }
    FDaemon.terminate();
    FDaemon.waitForFinished(5000);
  }

  // Starts dbusmock with these arguments and waits until it owns name.
  void StartMock(const QString& name, const QStringList& arguments, const QString& log)
  {
    auto mock = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, FAddress);
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, FAddress);
    mock->setProcessEnvironment(environment);
    mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock->start(FPython, QStringList{u"-m"_s, u"dbusmock"_s, u"-l"_s, log} + arguments);
    ASSERT_TRUE(mock->waitForStarted(5000));
    FMocks.push_back(std::move(mock));
    QElapsedTimer timer;
    timer.start();
    // Python starting dbusmock can take long on a loaded machine; a mock that
    // ended is a failure at once.
    while (!Bus().interface()->isServiceRegistered(name).value()) {
      ASSERT_EQ(FMocks.back()->state(), QProcess::Running) << "dbusmock ended without taking " << name.toStdString();
      ASSERT_LT(timer.elapsed(), 90000) << "dbusmock did not take " << name.toStdString();
      QThread::msleep(50);
    }
  }
  QDBusConnection Bus() { return QDBusConnection::connectToBus(FAddress, u"power-test"_s); }

  // The calls a mock logged, without their time stamps.
  static QStringList Calls(const QString& log)
  {
    QStringList calls;
    const QStringList lines = QString::fromUtf8(ReadFile(log)).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines)
      calls.append(line.section(u' ', 1));
    return calls;
  }

  void StartLogind(const QStringList& parameters = {})
  {
    StartMock(u"org.freedesktop.login1"_s, QStringList{u"--system"_s, u"--template"_s, u"logind"_s} + parameters,
              LogindLog());
  }
  QString LogindLog() const { return FDir.File(u"logind.log"_s); }

  TempDir FDir;
  QString FPython;
  QString FAddress;
  QProcess FDaemon;
  std::vector<std::unique_ptr<QProcess>> FMocks;
  std::unique_ptr<ScopedEnv> FSystem;
  std::unique_ptr<ScopedEnv> FSession;
  TPowerBackend* FOld = nullptr;
};

TEST_F(PrivateBusTest, LogindIsAskedWithoutInteraction)
{
  StartLogind();
  QString error;
  EXPECT_TRUE(ShutDownWindows(dmShutdown, &error)) << error.toStdString();
  EXPECT_TRUE(ShutDownWindows(dmRestart, &error)) << error.toStdString();
  EXPECT_TRUE(SuspendWindows(false, &error)) << error.toStdString();
  EXPECT_TRUE(SuspendWindows(true, &error)) << error.toStdString();
  EXPECT_EQ(Calls(LogindLog()),
            (QStringList{u"PowerOff False"_s, u"Reboot False"_s, u"Suspend False"_s, u"Hibernate False"_s}));
}

TEST_F(PrivateBusTest, ARefusalComesBackAsTheReason)
{
  StartLogind();
  QDBusMessage refuse = QDBusMessage::createMethodCall(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
                                                       u"org.freedesktop.DBus.Mock"_s, u"AddMethod"_s);
  refuse << u"org.freedesktop.login1.Manager"_s << u"PowerOff"_s << u"b"_s << QString()
         << u"raise dbus.exceptions.DBusException('Access denied', "
            "name='org.freedesktop.DBus.Error.AccessDenied')"_s;
  ASSERT_EQ(Bus().call(refuse).type(), QDBusMessage::ReplyMessage);
  QString error;
  EXPECT_FALSE(ShutDownWindows(dmPowerOff, &error));
  EXPECT_EQ(error, u"Access denied"_s);
}

TEST_F(PrivateBusTest, LogOffEndsTheSessionWhenNoSessionManagerRuns)
{
  StartLogind();
  ScopedEnv session("XDG_SESSION_ID", "c7");
  QString error;
  EXPECT_TRUE(ShutDownWindows(dmLogOff, &error)) << error.toStdString();
  EXPECT_EQ(Calls(LogindLog()), QStringList{u"TerminateSession \"c7\""_s});
}

TEST_F(PrivateBusTest, LogOffGoesThroughTheSessionManager)
{
  StartLogind();
  const QString log = FDir.File(u"gnome.log"_s);
  StartMock(
      u"org.gnome.SessionManager"_s,
      {u"--session"_s, u"org.gnome.SessionManager"_s, u"/org/gnome/SessionManager"_s, u"org.gnome.SessionManager"_s},
      log);
  QDBusMessage add = QDBusMessage::createMethodCall(u"org.gnome.SessionManager"_s, u"/org/gnome/SessionManager"_s,
                                                    u"org.freedesktop.DBus.Mock"_s, u"AddMethod"_s);
  add << QString() << u"Logout"_s << u"u"_s << QString() << QString();
  ASSERT_EQ(Bus().call(add).type(), QDBusMessage::ReplyMessage);
  QString error;
  EXPECT_TRUE(ShutDownWindows(dmLogOff, &error)) << error.toStdString();
  EXPECT_EQ(Calls(log), QStringList{u"Logout 1"_s}) << "no confirmation asked";
  EXPECT_EQ(Calls(LogindLog()), QStringList()) << "the session manager ends the session itself";
}

class HybridSleepTest : public PrivateBusTest, public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(HybridSleepTest, LogindsAnswerDecides)
{
  const auto [answer, offered] = GetParam();
  StartLogind({u"-p"_s, u"{\"CanHybridSleep\": \""_s + QLatin1StringView(answer) + u"\"}"_s});
  EXPECT_EQ(CanHybridSleep(), offered);
}

INSTANTIATE_TEST_SUITE_P(Answers, HybridSleepTest,
                         ::testing::Values(std::pair{"yes", true}, std::pair{"challenge", true}, std::pair{"no", false},
                                           std::pair{"na", false}),
                         [](const auto& answer) { return std::string(answer.param.first); });

TEST(LogindPowerBackend, NoBusIsAFailureWithAReason)
{
  TempDir dir;
  ScopedEnv system("ARDANTO_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir.File(u"no-bus"_s)));
  ScopedEnv session("ARDANTO_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir.File(u"no-bus"_s)));
  TLogindPowerBackend logind;
  for (TPowerAction action : {TPowerAction::PowerOff, TPowerAction::LogOff}) {
    QString error;
    EXPECT_FALSE(logind.Request(action, error));
    EXPECT_FALSE(error.isEmpty());
  }
  EXPECT_FALSE(logind.CanHybridSleep()) << "nobody to ask offers nothing";
}

} // namespace
