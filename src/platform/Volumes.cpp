#include "platform/Volumes.h"

#include "common/VolumePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace ardanto::platform {

using namespace Qt::StringLiterals;

namespace {

// An encrypted or logical volume sits on the devices listed in its "slaves"
// folder; it is on USB when one of them is.
bool IsUsbNode(const QString& node, int depth)
{
  if (node.contains(u"/usb"_s))
    return true;
  if (depth > 8)
    return false;
  const QFileInfoList slaves = QDir(node + u"/slaves"_s).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot);
  for (const QFileInfo& slave : slaves) {
    const QString resolved = slave.canonicalFilePath();
    if (!resolved.isEmpty() && IsUsbNode(resolved, depth + 1))
      return true;
  }
  return false;
}

} // namespace

bool IsUsbBlockDevice(dev_t device, const QString& sysRoot)
{
  const QString link =
      sysRoot + u"/sys/dev/block/"_s + QString::number(major(device)) + u':' + QString::number(minor(device));
  // The link resolves to the device's place in the bus tree, e.g.
  // /sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/.../block/sdb/sdb1
  const QString resolved = QFileInfo(link).canonicalFilePath();
  return !resolved.isEmpty() && IsUsbNode(resolved, 0);
}

bool IsUsbDrive(const QString& path)
{
  // The folder need not exist yet: a backup folder is created by the run.
  const auto volume = VolumeOfPath(path);
  if (!volume)
    return false;
  struct stat st {};
  if (::stat(QFile::encodeName(volume->Device).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
    return false;
  return IsUsbBlockDevice(st.st_rdev);
}

} // namespace ardanto::platform
