#include "platform/Volumes.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace ardanto::platform {

using namespace Qt::StringLiterals;

bool IsUsbBlockDevice(dev_t device, const QString& sysRoot)
{
  const QString link = sysRoot + u"/sys/dev/block/"_s + QString::number(major(device)) + u':' +
                       QString::number(minor(device));
  // The link resolves to the device's place in the bus tree, e.g.
  // /sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/.../block/sdb/sdb1
  const QString resolved = QFileInfo(link).canonicalFilePath();
  return resolved.contains(u"/usb"_s);
}

bool IsUsbDrive(const QString& path)
{
  const QStorageInfo storage(path);
  if (!storage.isValid())
    return false;
  struct stat st {};
  if (::stat(storage.device().constData(), &st) != 0 || !S_ISBLK(st.st_mode))
    return false;
  return IsUsbBlockDevice(st.st_rdev);
}

} // namespace ardanto::platform
