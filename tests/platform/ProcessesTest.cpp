#include "platform/Processes.h"
#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace ardanto;
using namespace ardanto::platform;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

std::uint32_t RunToEnd(const QString& program, const QStringList& arguments, const QString& folder = QString())
{
  TProcessHandle handle = StartProcess(program, arguments, folder);
  return WaitForProcess(handle, 0, false);
}

// The state letter of a process in /proc ("Z" for a zombie); empty when gone.
QString ProcessState(pid_t pid)
{
  QFile stat(u"/proc/"_s + QString::number(pid) + u"/stat"_s);
  if (!stat.open(QIODevice::ReadOnly))
    return QString();
  const QByteArray text = stat.readAll();
  return QString::fromLatin1(text.mid(text.lastIndexOf(')') + 2, 1));
}

TEST(WaitForProcess, GivesExitCodesWithBit29)
{
  struct TCase {
    const char* Script;
    std::uint32_t Result;
  } cases[] = {
      {"exit 0", 0},
      {"exit 4", 0x20000004},
      {"exit 255", 0x200000FF},
      {"kill -KILL $$", 0x20000000 | (128 + 9)},
      {"kill -TERM $$", 0x20000000 | (128 + 15)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Script);
    const std::uint32_t result = RunToEnd(u"sh"_s, {u"-c"_s, QString::fromLatin1(c.Script)});
    EXPECT_EQ(result, c.Result);
    EXPECT_TRUE(IsProcessResult(result));
  }
  EXPECT_EQ(EngineResultText(int(0x20000004)), u"Errors during backup!"_s) << "the engine's text from the low byte";
}

TEST(WaitForProcess, TimesOutAndWaitsAgainOrLetsGo)
{
  TProcessHandle handle = StartProcess(u"sleep"_s, {u"0.6"_s}, QString());
  const pid_t pid = handle.Pid();
  int events = 0;
  EXPECT_EQ(WaitForProcess(handle, 250, false, [&] { ++events; }), kWaitTimeout);
  EXPECT_FALSE(IsProcessResult(kWaitTimeout));
  EXPECT_GE(events, 2) << "the caller's events run while it waits";
  ASSERT_TRUE(handle.Valid()) << "without closeAnyway the process can be waited for again";
  EXPECT_EQ(WaitForProcess(handle, 0, false), 0u);
  EXPECT_FALSE(handle.Valid());
  EXPECT_EQ(WaitForProcess(handle, 0, false), std::uint32_t(ECHILD)) << "a released handle is a system error";
  EXPECT_TRUE(ProcessState(pid).isEmpty());

  handle = StartProcess(u"sleep"_s, {u"0.3"_s}, QString());
  const pid_t unwatched = handle.Pid();
  EXPECT_EQ(WaitForProcess(handle, 50, true), kWaitTimeout);
  EXPECT_FALSE(handle.Valid());
  // It runs on, and is collected when it ends rather than left as a zombie.
  EXPECT_EQ(ProcessState(unwatched), u"S"_s);
  for (int i = 0; i < 50 && !ProcessState(unwatched).isEmpty(); ++i)
    QThread::msleep(50);
  EXPECT_TRUE(ProcessState(unwatched).isEmpty()) << "state " << ProcessState(unwatched).toStdString();
}

TEST(StartProcess, CommandLineArgumentsArriveAsBuilt)
{
  TempDir dir;
  // A program in a folder with a blank, that writes each argument on a line.
  const QString program =
      dir.Write(u"my tools/show args"_s, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done >\"$OUT\"\n");
  ::chmod(QFile::encodeName(program).constData(), 0755);
  ScopedEnv out("OUT", QFile::encodeName(dir.File(u"args.txt"_s)));
  const QString task = u"/home/ann/tb \"work\" box.buj"_s;
  const QString line = QuoteIfBlank(program) + u' ' + QuoteIfBlank(task) + OptionItem(u"prompt"_s, u"delay"_s) +
                       OptionItem(u"ini"_s, u"/a b/c.ini"_s) + OptionItem(u"hide"_s);
  TProcessHandle handle = StartProcess(line, QString());
  EXPECT_EQ(WaitForProcess(handle, 0, false), 0u);
  EXPECT_EQ(QString::fromUtf8(ReadFile(dir.File(u"args.txt"_s))),
            task + u"\n/prompt:delay\n/ini:/a b/c.ini\n/hide\n"_s);
}

TEST(StartProcess, RunsInTheGivenFolderOrTheCallers)
{
  TempDir dir;
  const QString folder = QFileInfo(dir.Path()).canonicalFilePath();
  ScopedEnv out("OUT", QFile::encodeName(folder + u"/pwd.txt"_s));
  EXPECT_EQ(RunToEnd(u"sh"_s, {u"-c"_s, u"pwd >\"$OUT\""_s}, folder), 0u);
  EXPECT_EQ(ReadFile(folder + u"/pwd.txt"_s).trimmed(), QFile::encodeName(folder));
  EXPECT_EQ(RunToEnd(u"sh"_s, {u"-c"_s, u"pwd >\"$OUT\""_s}), 0u);
  EXPECT_EQ(ReadFile(folder + u"/pwd.txt"_s).trimmed(), QFile::encodeName(QDir::currentPath()));
}

TEST(StartProcess, FailuresRaiseTheSystemsText)
{
  TempDir dir;
  struct TCase {
    const char* Label;
    QString Program;
    QString Folder;
    int Error;
  } cases[] = {
      {"no such program", dir.File(u"missing"_s), QString(), ENOENT},
      {"not on PATH", u"ardanto-no-such-program"_s, QString(), ENOENT},
      {"not executable", dir.Write(u"plain.txt"_s, "text"), QString(), EACCES},
      {"no such folder", u"sh"_s, dir.File(u"gone"_s), ENOENT},
      {"empty", QString(), QString(), ENOENT},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    try {
      StartProcess(c.Program, {}, c.Folder);
      ADD_FAILURE() << "started";
    } catch (const EProcessError& error) {
      EXPECT_EQ(error.ErrorCode(), c.Error);
      EXPECT_EQ(error.Message(), SystemErrorText(c.Error));
    }
  }
  EXPECT_THROW(StartProcess(u"   "_s, QString()), EProcessError);
}

// What this program ignores, the one it starts must not.
TEST(StartProcess, ChildGetsDefaultSignalHandling)
{
  struct sigaction ignore {};
  struct sigaction old {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGTERM, &ignore, &old);
  const std::uint32_t result = RunToEnd(u"sh"_s, {u"-c"_s, u"kill -TERM $$; exit 0"_s});
  ::sigaction(SIGTERM, &old, nullptr);
  EXPECT_EQ(result, 0x20000000u | (128 + 15));
}

// A copy of sleep under the name to look for.
class ProcessRunningTest : public ::testing::Test {
public:
  TProcessHandle Start(const QString& name)
  {
    const QString program = FDir.File(name);
    if (!QFile::exists(program)) {
      EXPECT_TRUE(QFile::copy(u"/bin/sleep"_s, program));
    }
    ::chmod(QFile::encodeName(program).constData(), 0755);
    return StartProcess(program, {u"30"_s}, QString());
  }
  static void Stop(TProcessHandle& handle)
  {
    ::kill(handle.Pid(), SIGKILL);
    WaitForProcess(handle, 0, false);
  }
  // exec takes a moment; the name is the new program's once it is done.
  static void AwaitExec(const TProcessHandle& handle, const QString& name)
  {
    for (int i = 0; i < 100; ++i) {
      QFile comm(u"/proc/"_s + QString::number(handle.Pid()) + u"/comm"_s);
      if (comm.open(QIODevice::ReadOnly) && name.startsWith(QString::fromUtf8(comm.readAll().trimmed())))
        return;
      QThread::msleep(10);
    }
  }

  TempDir FDir;
};

// Names of this test process's own, so that a Thunderbird that another test
// starts meanwhile cannot answer for ours.
QString OwnName(const QString& stem)
{
  return stem + QString::number(::getpid());
}

TEST_F(ProcessRunningTest, FindsAProcessByNameOrPath)
{
  const QString name = OwnName(u"tbird"_s);
  ASSERT_FALSE(ProcessRunning(name));
  TProcessHandle handle = Start(name);
  AwaitExec(handle, name);
  EXPECT_TRUE(ProcessRunning(name));
  EXPECT_TRUE(ProcessRunning(name.toUpper())) << "case ignored";
  EXPECT_FALSE(ProcessRunning(name.chopped(1)));
  EXPECT_FALSE(ProcessRunning(name + u"-bin"_s));
  EXPECT_TRUE(ProcessRunning(FDir.File(name), true));
  EXPECT_TRUE(ProcessRunning(FDir.Path() + u"/./"_s + name, true));
  EXPECT_FALSE(ProcessRunning(FDir.File(u"other/"_s + name), true));
  EXPECT_FALSE(ProcessRunning(name, true)) << "a bare name is no full path";
  EXPECT_FALSE(ProcessRunning(name, false, u"/proc"_s, ::geteuid() + 4711)) << "another user's";

  // Updated while it runs: the old executable is gone, the process is not.
  ASSERT_TRUE(QFile::remove(FDir.File(name)));
  EXPECT_TRUE(ProcessRunning(name));
  EXPECT_TRUE(ProcessRunning(FDir.File(name), true));
  Stop(handle);
  EXPECT_FALSE(ProcessRunning(name));
}

TEST_F(ProcessRunningTest, NamesLongerThanTheKernelKeeps)
{
  const QString name = OwnName(u"tbird-long-name-"_s); // comm holds "tbird-long-name"
  TProcessHandle handle = Start(name);
  AwaitExec(handle, name);
  EXPECT_TRUE(ProcessRunning(name));
  EXPECT_FALSE(ProcessRunning(u"tbird-long-name"_s)) << "a cut-off name is not the whole name";
  EXPECT_FALSE(ProcessRunning(name + u's'));
  Stop(handle);
}

TEST_F(ProcessRunningTest, AScriptCountsByItsOwnName)
{
  const QString name = OwnName(u"tbs"_s);
  const QString script = FDir.Write(name, "#!/bin/sh\nwhile :; do sleep 0.1; done\n");
  ::chmod(QFile::encodeName(script).constData(), 0755);
  TProcessHandle handle = StartProcess(script, {}, QString());
  AwaitExec(handle, name);
  EXPECT_TRUE(ProcessRunning(name)) << "comm names the script, exe its interpreter";
  Stop(handle);
}

} // namespace
