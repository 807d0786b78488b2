#pragma once

// A folder posing as a device: camera cards and cameras in mass-storage mode,
// phones that GNOME's gvfs has mounted, the demo device, and any folder named
// in PORTKEEP_FOLDER_DEVICES.
//
// An optional device.ini at the folder's root gives the identity, in section
// [Device]: FriendlyName, Manufacturer, Description, Firmware, Model,
// Protocol, SerialNumber, DeviceType (0-6), PowerSource (0-1), PowerLevel, and
// Storages=folder (the folder is the one storage) or Storages=subfolders (each
// top-level folder is a storage). It is read like the suite's other INI
// files: text without a byte-order mark counts as Windows-1252.

#include "devices/DevicePlatform.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace ardanto {

// The file-system calls a test can make fail (TFolderDeviceOptions::FailCall).
enum TFolderCall { fcStat, fcListFolder, fcOpenFile };

struct TFolderDeviceOptions {
  // Read PORTKEEP_FOLDER_DEVICES (folders separated by ":") at every listing.
  bool UseEnvironment = true;
  // More folders to list as devices.
  QStringList Folders;
  // Where gvfs mounts appear; empty: /run/user/<uid>/gvfs.
  QString GvfsRoot;
  // Mount points of removable volumes; empty: the mounted volumes of the
  // system. Those with a top-level DCIM folder are listed.
  std::function<QStringList()> RemovableVolumes;
  // For tests: failures of a broken card or of missing permissions, also
  // where the tests run as root. Called before each call of that kind with
  // the object's path below the device folder ("/"-separated, empty for the
  // folder itself); an errno value makes the call fail with it, 0 lets it run.
  std::function<int(TFolderCall call, const QString& path)> FailCall;
};

std::shared_ptr<IDevicePlatform> CreateFolderDevicePlatform(TFolderDeviceOptions options = {});

// The device identifier of a folder device ("folder:" and the absolute path).
QString FolderDeviceID(const QString& folder);
bool IsFolderDeviceID(const QString& deviceID);

} // namespace ardanto
