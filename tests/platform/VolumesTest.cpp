#include "platform/Volumes.h"
#include "platform/DarkMode.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

using namespace ardanto::platform;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

TEST(Volumes, UsbIsToldByTheDevicesPlaceInSysfs)
{
  TempDir root;
  const QString usbTarget =
      u"devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0/block/sdb/sdb1"_s;
  const QString sataTarget = u"devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1"_s;
  QDir().mkpath(root.Path() + u"/sys/"_s + usbTarget);
  QDir().mkpath(root.Path() + u"/sys/"_s + sataTarget);
  QDir().mkpath(root.Path() + u"/sys/dev/block"_s);
  ASSERT_TRUE(QFile::link(u"../../"_s + usbTarget, root.Path() + u"/sys/dev/block/8:17"_s));
  ASSERT_TRUE(QFile::link(u"../../"_s + sataTarget, root.Path() + u"/sys/dev/block/8:1"_s));

  EXPECT_TRUE(IsUsbBlockDevice(makedev(8, 17), root.Path()));
  EXPECT_FALSE(IsUsbBlockDevice(makedev(8, 1), root.Path()));
  EXPECT_FALSE(IsUsbBlockDevice(makedev(8, 33), root.Path())) << "unknown device";
  EXPECT_FALSE(IsUsbDrive(root.Path())) << "a temporary folder is no USB drive here";
}

// An encrypted stick: the file system is on dm-0, which sits on the USB disk's
// partition.
TEST(Volumes, AnEncryptedVolumeIsOnUsbWhenItsDeviceIs)
{
  TempDir root;
  const QString sys = root.Path() + u"/sys/"_s;
  const QString usbPartition = sys + u"devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/block/sdb/sdb1"_s;
  const QString sataPartition = sys + u"devices/pci0000:00/0000:00:17.0/ata1/host0/block/sda/sda2"_s;
  for (const QString& folder : QStringList{usbPartition, sataPartition, sys + u"dev/block"_s})
    QDir().mkpath(folder);
  for (const char16_t* dm : {u"dm-0", u"dm-1", u"dm-2"})
    QDir().mkpath(sys + u"devices/virtual/block/"_s + QString::fromUtf16(dm) + u"/slaves"_s);
  ASSERT_TRUE(QFile::link(usbPartition, sys + u"devices/virtual/block/dm-0/slaves/sdb1"_s));
  ASSERT_TRUE(QFile::link(sataPartition, sys + u"devices/virtual/block/dm-1/slaves/sda2"_s));
  // A logical volume on the encrypted one.
  ASSERT_TRUE(QFile::link(sys + u"devices/virtual/block/dm-0"_s, sys + u"devices/virtual/block/dm-2/slaves/dm-0"_s));
  ASSERT_TRUE(QFile::link(sys + u"devices/virtual/block/dm-0"_s, sys + u"dev/block/253:0"_s));
  ASSERT_TRUE(QFile::link(sys + u"devices/virtual/block/dm-1"_s, sys + u"dev/block/253:1"_s));
  ASSERT_TRUE(QFile::link(sys + u"devices/virtual/block/dm-2"_s, sys + u"dev/block/253:2"_s));

  EXPECT_TRUE(IsUsbBlockDevice(makedev(253, 0), root.Path()));
  EXPECT_FALSE(IsUsbBlockDevice(makedev(253, 1), root.Path()));
  EXPECT_TRUE(IsUsbBlockDevice(makedev(253, 2), root.Path()));
  EXPECT_FALSE(IsUsbDrive(root.Path() + u"/not/yet/made"_s)) << "a folder still to be made is asked about too";
}

TEST(DarkMode, GsettingsAnswers)
{
  EXPECT_TRUE(ardanto::platform::GsettingsMeansDark(u"'prefer-dark'\n"_s));
  EXPECT_FALSE(ardanto::platform::GsettingsMeansDark(u"'default'\n"_s));
  EXPECT_FALSE(ardanto::platform::GsettingsMeansDark(u"'prefer-light'"_s));
  EXPECT_FALSE(ardanto::platform::GsettingsMeansDark(QString()));
}
