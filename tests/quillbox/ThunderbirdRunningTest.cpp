// Whether Thunderbird runs: by its processes, and by the lock of a profile,
// which a Thunderbird in a snap or flatpak takes as well.

#include "quillbox/ThunderbirdRunning.h"

#include "HeadlessThunderbird.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;
using ardanto::test::TempDir;
using quillbox::ProfileInUse;

// A pid that was in use a moment ago and is free now.
pid_t EndedPid()
{
  const pid_t pid = ::fork();
  if (pid == 0)
    ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid;
}

bool Link(const QString& folder, const QByteArray& target)
{
  QFile::remove(folder + u"/lock"_s);
  return ::symlink(target.constData(), QFile::encodeName(folder + u"/lock"_s).constData()) == 0;
}

TEST(ProfileInUse, TheLockLinkCountsWhileItsProcessLives)
{
  TempDir dir;
  EXPECT_FALSE(ProfileInUse(dir.Path()));
  // Pid 1 is alive, though maybe not ours to signal.
  const struct {
    QByteArray Target;
    bool InUse;
  } cases[] = {
      {"127.0.1.1:+" + QByteArray::number(::getpid()), true},
      {"192.168.0.7:+1", true},
      {"127.0.1.1:+" + QByteArray::number(EndedPid()), false},
      {"127.0.1.1:+", false},
      {"127.0.1.1:+12ab", false},
      {"127.0.1.1:-" + QByteArray::number(::getpid()), false},
      {"garbage", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Link(dir.Path(), c.Target));
    EXPECT_EQ(ProfileInUse(dir.Path()), c.InUse) << c.Target.toStdString();
  }
  EXPECT_FALSE(ProfileInUse(QString()));
  EXPECT_FALSE(ProfileInUse(dir.Path() + u"/missing"_s));
}

TEST(ProfileInUse, AParentLockHeldByAnotherProcessCounts)
{
  if (!ardanto::test::HasProgram(u"python3"_s))
    GTEST_SKIP() << "needs python3";
  TempDir dir;
  const QString lock = dir.Write(u".parentlock"_s, QByteArray());
  EXPECT_FALSE(ProfileInUse(dir.Path())) << "an unlocked file left behind";
  const QByteArray before = ardanto::test::ReadFile(lock);
  const auto modified = QFileInfo(lock).lastModified();

  // Whatever the process is called, and in whatever namespace it runs.
  QProcess holder;
  holder.start(u"python3"_s, {u"-c"_s,
                              u"import fcntl, sys, time\n"
                              u"f = open(sys.argv[1], 'r+')\n"
                              u"fcntl.lockf(f, fcntl.LOCK_EX)\n"
                              u"print('locked', flush=True)\n"
                              u"time.sleep(60)\n"_s,
                              lock});
  ASSERT_TRUE(holder.waitForReadyRead(10000));
  ASSERT_EQ(holder.readAll().trimmed(), "locked");
  EXPECT_TRUE(ProfileInUse(dir.Path()));
  holder.kill();
  holder.waitForFinished();
  EXPECT_FALSE(ProfileInUse(dir.Path()));
  EXPECT_EQ(ardanto::test::ReadFile(lock), before);
  EXPECT_EQ(QFileInfo(lock).lastModified(), modified) << "looking changes nothing";
}

TEST(ThunderbirdRunning, AProcessNamedThunderbirdBinCounts)
{
  TempDir dir;
  const QString program = dir.Path() + u"/thunderbird-bin"_s;
  ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, program));
  QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  QProcess process;
  process.start(program, {u"30"_s});
  ASSERT_TRUE(process.waitForStarted(10000));
  EXPECT_TRUE(quillbox::ThunderbirdRunning({}));
  process.kill();
  process.waitForFinished();
}

TEST(ThunderbirdRunning, ARealThunderbirdHoldsItsProfileWhileItRuns)
{
  TempDir dir;
  const auto home = ardanto::test::CopyThunderbirdHome(dir.Path());
  const QString alpha = home.ProfileFolder(u"alpha"_s);
  const QString beta = home.ProfileFolder(u"beta"_s);
  ASSERT_FALSE(ProfileInUse(alpha));
  quillbox::test::THeadlessThunderbird thunderbird;
  ASSERT_TRUE(thunderbird.Start(home.Home, u"alpha"_s));
  ASSERT_TRUE(thunderbird.WaitFor([&] { return ProfileInUse(alpha); })) << thunderbird.Output().toStdString();
  EXPECT_FALSE(ProfileInUse(beta));
  EXPECT_TRUE(quillbox::ThunderbirdRunning({beta, alpha}));
  // As for a Thunderbird in another process namespace, whose lock link names
  // a pid that means nothing here: its .parentlock alone tells.
  ASSERT_TRUE(QFileInfo(alpha + u"/lock"_s).isSymLink());
  ASSERT_TRUE(QFile::remove(alpha + u"/lock"_s));
  EXPECT_TRUE(ProfileInUse(alpha));
  thunderbird.Stop();
  EXPECT_FALSE(ProfileInUse(alpha)) << "its lock goes with it";
}

} // namespace
