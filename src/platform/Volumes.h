#pragma once

// Volumes and the bus they are attached by.

#include <QString>

#include <sys/types.h>

namespace ardanto::platform {

// Whether the block device with this number sits below a USB node in sysfs
// (sysRoot: "/" normally, a prepared tree in tests).
bool IsUsbBlockDevice(dev_t device, const QString& sysRoot = QStringLiteral("/"));

// Whether the file system holding path (which need not exist yet) is on a
// USB-attached drive, also through an encrypted or logical volume.
bool IsUsbDrive(const QString& path);

} // namespace ardanto::platform
