#include "common/VolumePaths.h"
#include "common/PlaceHolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include <sys/mount.h>
#include <unistd.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// The mount table a test wants, for as long as it lives.
class ScopedVolumes {
public:
  explicit ScopedVolumes(QList<TMountedVolume> volumes)
    : FVolumes(std::make_shared<QList<TMountedVolume>>(std::move(volumes)))
  {
    auto shared = FVolumes;
    FOld = SetVolumeSource([shared] { return *shared; });
  }
  ~ScopedVolumes() { SetVolumeSource(FOld); }
  QList<TMountedVolume>& Volumes() { return *FVolumes; }

private:
  std::shared_ptr<QList<TMountedVolume>> FVolumes;
  TVolumeSource FOld;
};

TMountedVolume Volume(const QString& root, const QString& label, const QString& type = u"ext4"_s)
{
  return {root, label, type, u"/dev/sdz1"_s};
}

QList<TMountedVolume> SomeVolumes()
{
  return {Volume(u"/"_s, u"system"_s), Volume(u"/media/ann/BACKUP"_s, u"BACKUP"_s),
          Volume(u"/media/ann/stick"_s, QString(), u"vfat"_s), Volume(u"/net/srv"_s, u"share"_s, u"nfs4"_s)};
}

TEST(ResolveVolumePath, FindsTheMountPointByLabel)
{
  ScopedVolumes volumes(SomeVolumes());
  struct TCase {
    const char16_t* Path;
    TVolumeResult Result;
    const char16_t* Resolved;
    const char16_t* Label;
  } cases[] = {
      {u":Backup:/Mail", vrResolved, u"/media/ann/BACKUP/Mail", u"Backup"}, // label case ignored
      {u":BACKUP:/Mail/a b/c", vrResolved, u"/media/ann/BACKUP/Mail/a b/c", u"BACKUP"},
      {u":BACKUP:/", vrResolved, u"/media/ann/BACKUP/", u"BACKUP"},
      {u":BACKUP:", vrResolved, u"/media/ann/BACKUP/", u"BACKUP"},
      {u":BACKUP:Mail/x", vrResolved, u"/media/ann/BACKUP/x", u"BACKUP"}, // the rest begins after the first "/"
      {u":system:/home", vrResolved, u"/home", u"system"},
      {u":Gone:/Mail", vrNotFound, u":Gone:/Mail", u""},
      {u"::/Mail", vrNotFound, u"::/Mail", u""},
      {u":Mail", vrNotFound, u":Mail", u""},
      {u"", vrNotFound, u"", u""},
      {u"/home/ann/Mail", vrNoVolumePath, u"/home/ann/Mail", u""},
      {u"Mail:x", vrNoVolumePath, u"Mail:x", u""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Path).toStdString());
    QString path = QString::fromUtf16(c.Path);
    QString label;
    EXPECT_EQ(ResolveVolumePath(path, label), c.Result);
    EXPECT_EQ(path, QString::fromUtf16(c.Resolved));
    EXPECT_EQ(label, QString::fromUtf16(c.Label));
  }
}

TEST(ResolveVolumePath, AsksUntilTheMediumIsThereOrTheUserGivesUp)
{
  ScopedVolumes volumes(SomeVolumes());
  QStringList questions;
  // The first answer is "Retry" after the user has plugged the disk in.
  const TVolumePrompt insertAndRetry = [&](const QString& question) {
    questions.append(question);
    volumes.Volumes().append(Volume(u"/media/ann/CARD"_s, u"Card"_s));
    return true;
  };
  QString path = u":card:/x"_s;
  QString label;
  EXPECT_EQ(ResolveVolumePath(path, label, insertAndRetry), vrResolved);
  EXPECT_EQ(path, u"/media/ann/CARD/x"_s);
  EXPECT_EQ(questions, QStringList{u"Volume \"card\" not found!\r\nPlease insert medium!"_s});

  int asked = 0;
  path = u":other:/x"_s;
  EXPECT_EQ(ResolveVolumePath(path, label, [&](const QString&) { return ++asked > 2 ? false : true; }), vrNotFound);
  EXPECT_EQ(asked, 3) << "each Retry searches again, Cancel ends";
  EXPECT_EQ(path, u":other:/x"_s);
}

TEST(ToVolumePath, GivesTheOtherFormOrSaysWhyNot)
{
  ScopedVolumes volumes(SomeVolumes());
  struct TCase {
    const char16_t* Path;
    const char16_t* Result;
    const char16_t* Error;
  } cases[] = {
      {u"/media/ann/BACKUP/Mail", u":BACKUP:/Mail", u""},
      {u"/media/ann/BACKUP", u":BACKUP:/", u""},
      {u"/media/ann/BACKUPS/Mail", u":system:/media/ann/BACKUPS/Mail", u""}, // a longer name is another folder
      {u":backup:/Mail", u"/media/ann/BACKUP/Mail", u""},
      {u":gone:/Mail", u"", u""}, // the prompt has told the user already
      {u"/media/ann/stick/Mail", u"", u"No volume name available for /media/ann/stick"},
      {u"/net/srv/Mail", u"", u"No volume name available for /net/srv"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Path).toStdString());
    QString error;
    EXPECT_EQ(ToVolumePath(QString::fromUtf16(c.Path), {}, [&](const QString& message) { error = message; }),
              QString::fromUtf16(c.Result));
    EXPECT_EQ(error, QString::fromUtf16(c.Error));
  }
}

TEST(ResolveVolumePath, LogPlaceholdersFindTheSameVolume)
{
  ScopedVolumes volumes(SomeVolumes());
  const QDateTime when(QDate(2019, 7, 3), QTime(10, 20));
  EXPECT_EQ(ExpandLogPlaceholders(u"%drive%|%volume%"_s, u":backup:/logs"_s, when), u"/media/ann/BACKUP|backup"_s);
  EXPECT_EQ(ExpandLogPlaceholders(u"%drive%|%volume%"_s, u"/media/ann/BACKUP/logs/new"_s, when),
            u"/media/ann/BACKUP|BACKUP"_s);
}

TEST(VolumeOfPath, TakesTheDeepestMountAfterFollowingLinks)
{
  TempDir temp;
  const QString base = QFileInfo(temp.Path()).canonicalFilePath();
  const QString disk = base + u"/media/disk"_s;
  QDir().mkpath(disk + u"/Mail"_s);
  QDir().mkpath(base + u"/home"_s);
  ASSERT_TRUE(QFile::link(disk, base + u"/home/link"_s));
  ScopedVolumes volumes(
      {Volume(u"/"_s, u"root"_s), Volume(base, u"tmp"_s), Volume(disk, u"DISK"_s), Volume(disk, u"OVER"_s)});

  const auto through = VolumeOfPath(base + u"/home/link/Mail/not/yet"_s);
  ASSERT_TRUE(through);
  EXPECT_EQ(through->Label, u"OVER"_s) << "the later of two mounts on one point is the one seen";
  EXPECT_EQ(ToVolumePath(base + u"/home/link/Mail/new"_s, {}, {}), u":OVER:/Mail/new"_s);
  EXPECT_EQ(VolumeOfPath(base + u"/media/diskette"_s)->Label, u"tmp"_s);
  EXPECT_EQ(VolumeOfPath(u"/usr"_s)->Label, u"root"_s);
  EXPECT_FALSE(VolumeOfPath(QString()));
}

TEST(ReadMountedVolumes, ReadsTheMountTableWithItsEscapes)
{
  TempDir temp;
  const QString table = temp.Write(
      u"mountinfo"_s, "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                      "40 22 8:17 / /media/ann/My\\040Disk rw,nosuid master:12 - vfat /dev/sdb1 rw,fmask=0022\n"
                      "41 22 0:50 / /net/srv rw - nfs4 srv:/export rw,vers=4.2\n"
                      "garbage line\n");
  const QList<TMountedVolume> volumes = ReadMountedVolumes(table, temp.File(u"no-labels"_s));
  ASSERT_EQ(volumes.size(), 3);
  EXPECT_EQ(volumes[0].RootPath, u"/"_s);
  EXPECT_EQ(volumes[1].RootPath, u"/media/ann/My Disk"_s);
  EXPECT_EQ(volumes[1].FileSystemType, u"vfat"_s);
  EXPECT_EQ(volumes[1].Device, u"/dev/sdb1"_s);
  EXPECT_EQ(volumes[2].FileSystemType, u"nfs4"_s);
  EXPECT_TRUE(IsNetworkFileSystem(volumes[2].FileSystemType));
  EXPECT_FALSE(IsNetworkFileSystem(volumes[1].FileSystemType));
}

// A real labelled file system on a loop device, mounted in the test's folder.
// The label reaches us the way udev offers it: a link in a by-label folder.
TEST(ReadMountedVolumes, LabelsAMountedFileSystemThroughItsBlockDevice)
{
  if (::geteuid() != 0 || !HasProgram(u"mkfs.ext4"_s) || !HasProgram(u"losetup"_s))
    GTEST_SKIP() << "needs root, mkfs.ext4 and losetup";
  TempDir temp;
  const QString image = temp.File(u"disk.img"_s);
  {
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(8 << 20));
  }
  ASSERT_EQ(test::Run(u"mkfs.ext4"_s, {u"-q"_s, u"-L"_s, u"Mail Backup"_s, image}).ExitCode, 0);
  const ProcessResult attach = test::Run(u"losetup"_s, {u"--find"_s, u"--show"_s, image});
  if (attach.ExitCode != 0)
    GTEST_SKIP() << "no loop device here: " << attach.Output.toStdString();
  const QString device = QString::fromLocal8Bit(attach.Output).trimmed();
  const QString mountPoint = temp.File(u"mnt"_s);
  QDir().mkpath(mountPoint);
  const bool mounted = ::mount(QFile::encodeName(device).constData(), QFile::encodeName(mountPoint).constData(), "ext4",
                               0, nullptr) == 0;
  const int mountError = errno;
  if (mounted) {
    QDir().mkpath(temp.File(u"by-label"_s));
    QFile::link(device, temp.File(u"by-label/Mail\\x20Backup"_s));
    QFile::link(u"/dev/null"_s, temp.File(u"by-label/not-a-disk"_s));
    const QList<TMountedVolume> volumes = ReadMountedVolumes(u"/proc/self/mountinfo"_s, temp.File(u"by-label"_s));
    const auto found =
        std::find_if(volumes.begin(), volumes.end(), [&](const TMountedVolume& v) { return v.RootPath == mountPoint; });
    ASSERT_NE(found, volumes.end());
    EXPECT_EQ(found->Label, u"Mail Backup"_s);
    EXPECT_EQ(found->FileSystemType, u"ext4"_s);
    const auto root =
        std::find_if(volumes.begin(), volumes.end(), [](const TMountedVolume& v) { return v.RootPath == u"/"_s; });
    ASSERT_NE(root, volumes.end());
    EXPECT_TRUE(root->Label.isEmpty()) << "no link leads to the root's device";
    ::umount(QFile::encodeName(mountPoint).constData());
  }
  test::Run(u"losetup"_s, {u"--detach"_s, device});
  if (!mounted)
    GTEST_SKIP() << "mounting is not allowed here: " << std::strerror(mountError);
}

} // namespace
