#include "platform/ShellFileOps.h"
#include "platform/DesktopEntry.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ardanto::platform;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray Native(const QString& name)
{
  return QFile::encodeName(name);
}

void SetTimes(const QString& name, time_t seconds, bool link = false)
{
  const timespec times[2] = {{seconds - 100, 0}, {seconds, 123456789}};
  ::utimensat(AT_FDCWD, Native(name).constData(), times, link ? AT_SYMLINK_NOFOLLOW : 0);
}

// A small mail folder with what a move must keep: nested folders, an empty
// one, modes, times to the nanosecond, a link inside and a dangling one, a
// read-only folder and a fifo.
void MakeProfile(const QString& root)
{
  QDir().mkpath(root + u"/Mail/Local Folders"_s);
  QDir().mkpath(root + u"/empty"_s);
  QDir().mkpath(root + u"/locked"_s);
  WriteFile(root + u"/prefs.js"_s, "user_pref(\"x\", 1);\n");
  WriteFile(root + u"/Mail/Local Folders/Inbox"_s, QByteArray(300000, 'm'));
  WriteFile(root + u"/locked/key4.db"_s, "secret");
  WriteFile(root + u"/empty.txt"_s, QByteArray());
  ::chmod(Native(root + u"/prefs.js"_s).constData(), 0640);
  ::chmod(Native(root + u"/locked/key4.db"_s).constData(), 0400);
  QFile::link(u"Mail/Local Folders/Inbox"_s, root + u"/inbox-link"_s);
  QFile::link(u"/nonexistent/target"_s, root + u"/dangling"_s);
  ::mkfifo(Native(root + u"/fifo"_s).constData(), 0600);
  SetTimes(root + u"/prefs.js"_s, 1600000000);
  SetTimes(root + u"/Mail/Local Folders/Inbox"_s, 1500000000);
  SetTimes(root + u"/inbox-link"_s, 1400000000, true);
  SetTimes(root + u"/Mail/Local Folders"_s, 1300000000);
  ::chmod(Native(root + u"/locked"_s).constData(), 0500);
  SetTimes(root + u"/locked"_s, 1200000000);
}

struct TEntry {
  mode_t Mode;
  off_t Size;
  timespec Modified;
  QByteArray Link;
  QByteArray Data;
};

// Everything below root that a move must keep, by relative name.
std::map<QString, TEntry> Snapshot(const QString& root)
{
  std::map<QString, TEntry> entries;
  QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString name = it.next();
    struct stat st {};
    ::lstat(Native(name).constData(), &st);
    TEntry entry{st.st_mode, S_ISDIR(st.st_mode) ? 0 : st.st_size, st.st_mtim, {}, {}};
    if (S_ISLNK(st.st_mode)) {
      entry.Link.resize(4096);
      entry.Link.resize(std::max<ssize_t>(0, ::readlink(Native(name).constData(), entry.Link.data(), 4096)));
    } else if (S_ISREG(st.st_mode))
      entry.Data = ReadFile(name);
    entries[name.mid(root.size())] = entry;
  }
  return entries;
}

void ExpectSame(const std::map<QString, TEntry>& expected, const std::map<QString, TEntry>& actual)
{
  ASSERT_EQ(expected.size(), actual.size());
  for (const auto& [name, entry] : expected) {
    SCOPED_TRACE(name.toStdString());
    const auto found = actual.find(name);
    ASSERT_NE(found, actual.end());
    EXPECT_EQ(entry.Mode, found->second.Mode);
    EXPECT_EQ(entry.Size, found->second.Size);
    EXPECT_EQ(entry.Link, found->second.Link);
    EXPECT_EQ(entry.Data, found->second.Data);
    if (!S_ISFIFO(entry.Mode)) {
      EXPECT_EQ(entry.Modified.tv_sec, found->second.Modified.tv_sec);
      EXPECT_EQ(entry.Modified.tv_nsec, found->second.Modified.tv_nsec);
    }
  }
}

// Names the transfer keeps its work under; none may stay behind.
QStringList Leftovers(const QString& folder)
{
  return QDir(folder).entryList({u".*.ardanto-*"_s}, QDir::AllEntries | QDir::Hidden | QDir::System);
}

TFolderTransferSeams AcrossFileSystems()
{
  TFolderTransferSeams seams;
  seams.Rename = [](const QString&, const QString&) { return EXDEV; };
  return seams;
}

TEST(ShellMove, RenamesOnOneFileSystem)
{
  TempDir dir;
  MakeProfile(dir.File(u"old/profile"_s));
  const auto before = Snapshot(dir.File(u"old/profile"_s));
  EXPECT_EQ(ShellMove(dir.File(u"old/profile"_s), dir.File(u"new/deeper/profile"_s)), 0) << "parents are created";
  EXPECT_FALSE(QFileInfo::exists(dir.File(u"old/profile"_s)));
  ExpectSame(before, Snapshot(dir.File(u"new/deeper/profile"_s)));

  QDir().mkpath(dir.File(u"chosen"_s));
  EXPECT_EQ(ShellMove(dir.File(u"new/deeper/profile"_s), dir.File(u"chosen"_s)), 0) << "into an empty folder";
  ExpectSame(before, Snapshot(dir.File(u"chosen"_s)));
}

TEST(ShellMove, RefusesWhatWouldLoseOrTangleData)
{
  TempDir dir;
  MakeProfile(dir.File(u"profile"_s));
  dir.Write(u"full/other.txt"_s, "keep me");
  dir.Write(u"file"_s, "a file");
  const auto before = Snapshot(dir.Path());
  struct TCase {
    const char* Label;
    QString Source;
    QString Target;
    int Result;
  } cases[] = {
      {"target holds something", dir.File(u"profile"_s), dir.File(u"full"_s), -ENOTEMPTY},
      {"target is a file", dir.File(u"profile"_s), dir.File(u"file"_s), -EEXIST},
      {"target inside the source", dir.File(u"profile"_s), dir.File(u"profile/Mail/copy"_s), -EINVAL},
      {"target is the source", dir.File(u"profile"_s), dir.File(u"profile/"_s), -EINVAL},
      {"no source", dir.File(u"missing"_s), dir.File(u"new"_s), -ENOENT},
      {"source is a file", dir.File(u"file"_s), dir.File(u"new"_s), -ENOTDIR},
      {"empty names", QString(), dir.File(u"new"_s), -EINVAL},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(ShellMove(c.Source, c.Target), c.Result);
    EXPECT_EQ(TransferFolder(c.Source, c.Target, true, AcrossFileSystems()), c.Result);
    EXPECT_EQ(ShellCopy(c.Source, c.Target), c.Result);
  }
  ExpectSame(before, Snapshot(dir.Path()));
}

TEST(ShellMove, CopiesAcrossFileSystemsKeepingWhatMatters)
{
  TempDir dir;
  MakeProfile(dir.File(u"old/profile"_s));
  const auto before = Snapshot(dir.File(u"old/profile"_s));
  QDir().mkpath(dir.File(u"new/profile"_s));
  ASSERT_EQ(TransferFolder(dir.File(u"old/profile"_s), dir.File(u"new/profile"_s), true, AcrossFileSystems()), 0);
  EXPECT_FALSE(QFileInfo::exists(dir.File(u"old/profile"_s)));
  ExpectSame(before, Snapshot(dir.File(u"new/profile"_s)));
  EXPECT_EQ(Leftovers(dir.File(u"old"_s)), QStringList());
  EXPECT_EQ(Leftovers(dir.File(u"new"_s)), QStringList());
}

TEST(ShellMove, ACopyThatDoesNotComeOutEqualLeavesTheSourceAlone)
{
  TempDir dir;
  MakeProfile(dir.File(u"old/profile"_s));
  const auto before = Snapshot(dir.File(u"old/profile"_s));
  struct TCase {
    const char* Label;
    std::function<void(const QString& copy)> Spoil;
  } cases[] = {
      {"a file came out short",
       [](const QString& copy) { EXPECT_EQ(::truncate(Native(copy + u"/prefs.js"_s).constData(), 3), 0); }},
      {"a file is missing", [](const QString& copy) { QFile::remove(copy + u"/empty.txt"_s); }},
      {"an extra file", [](const QString& copy) { WriteFile(copy + u"/Mail/stray"_s, "x"); }},
      {"a link points elsewhere",
       [](const QString& copy) {
         QFile::remove(copy + u"/inbox-link"_s);
         QFile::link(u"prefs.js"_s, copy + u"/inbox-link"_s);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TFolderTransferSeams seams = AcrossFileSystems();
    seams.BeforeCheck = c.Spoil;
    EXPECT_EQ(TransferFolder(dir.File(u"old/profile"_s), dir.File(u"new/profile"_s), true, seams), -EIO);
    ExpectSame(before, Snapshot(dir.File(u"old/profile"_s)));
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"new/profile"_s)));
    EXPECT_EQ(Leftovers(dir.File(u"new"_s)), QStringList());
    EXPECT_EQ(Leftovers(dir.File(u"old"_s)), QStringList());
  }
}

TEST(ShellCopy, LeavesTheSource)
{
  TempDir dir;
  MakeProfile(dir.File(u"profile"_s));
  const auto before = Snapshot(dir.File(u"profile"_s));
  EXPECT_EQ(ShellCopy(dir.File(u"profile"_s), dir.File(u"copy"_s)), 0);
  ExpectSame(before, Snapshot(dir.File(u"profile"_s)));
  ExpectSame(before, Snapshot(dir.File(u"copy"_s)));
}

// A real second file system: a tmpfs mounted in the test's folder.
class TmpfsTest : public ::testing::Test {
public:
  void SetUp() override
  {
    FMountPoint = FDir.File(u"tmpfs"_s);
    QDir().mkpath(FMountPoint);
    if (::mount("tmpfs", Native(FMountPoint).constData(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    FMounted = true;
  }
  void TearDown() override
  {
    if (FMounted)
      ::umount2(Native(FMountPoint).constData(), MNT_DETACH);
  }

  TempDir FDir;
  QString FMountPoint;
  bool FMounted = false;
};

TEST_F(TmpfsTest, MovesOntoAnotherFileSystemAndBack)
{
  const QString source = FDir.File(u"old/profile"_s);
  MakeProfile(source);
  const auto before = Snapshot(source);
  ASSERT_EQ(ShellMove(source, FMountPoint + u"/profile"_s), 0);
  EXPECT_FALSE(QFileInfo::exists(source));
  ExpectSame(before, Snapshot(FMountPoint + u"/profile"_s));
  ASSERT_EQ(ShellMove(FMountPoint + u"/profile"_s, source), 0);
  ExpectSame(before, Snapshot(source));
  EXPECT_EQ(QDir(FMountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(TmpfsTest, AFullDiskLeavesNoPartialCopy)
{
  const QString source = FDir.File(u"old/profile"_s);
  MakeProfile(source);
  WriteFile(source + u"/Mail/big"_s, QByteArray(2 << 20, 'b'));
  const auto before = Snapshot(source);
  EXPECT_EQ(ShellMove(source, FMountPoint + u"/profile"_s), -ENOSPC);
  ExpectSame(before, Snapshot(source));
  EXPECT_EQ(QDir(FMountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
  EXPECT_EQ(ShellCopy(source, FMountPoint + u"/profile"_s), -ENOSPC);
  EXPECT_EQ(QDir(FMountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

TEST(RefreshDesktop, TouchesTheDesktopFolderAndTheShortcut)
{
  TempDir dir;
  ScopedEnv home("HOME", Native(dir.Path()));
  ScopedEnv config("XDG_CONFIG_HOME", Native(dir.File(u"config"_s)));
  dir.Write(u"config/user-dirs.dirs"_s, "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  const QString shortcut = dir.Write(u"Schreibtisch/quillbox.desktop"_s, "[Desktop Entry]\n");
  ASSERT_EQ(DesktopFolder(), dir.File(u"Schreibtisch/"_s));
  SetTimes(dir.File(u"Schreibtisch"_s), 1000000000);
  SetTimes(shortcut, 1000000000);
  EXPECT_EQ(RefreshDesktop(shortcut), 0);
  EXPECT_GT(QFileInfo(dir.File(u"Schreibtisch"_s)).lastModified().toSecsSinceEpoch(), 1000000000);
  EXPECT_GT(QFileInfo(shortcut).lastModified().toSecsSinceEpoch(), 1000000000);
  EXPECT_EQ(RefreshDesktop(dir.File(u"Schreibtisch/gone.desktop"_s)), ENOENT);
}

} // namespace
