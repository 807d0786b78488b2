#pragma once

// A task names its device by friendly name and its folders by device path;
// these rules find them again on the device that is connected now.

#include <QString>
#include <QStringList>

#include <vector>

namespace ardanto {
class TDeviceList;
class TPortableDeviceContent;
class TPortableDeviceObject;
} // namespace ardanto

namespace portkeep {

struct TStoredFolders {
  // The storages and folders behind the paths, in the stored order, each once.
  std::vector<ardanto::TPortableDeviceObject*> Found;
  // Paths with no storage or folder behind them (a file does not count).
  QStringList Missing;
};

TStoredFolders ResolveStoredFolders(const ardanto::TPortableDeviceContent& content, const QStringList& paths);

// The indexes of the tree nodes from the storage down to the object itself:
// the nodes to expand (all but the last) so that the object's node exists.
// Empty for the device object and for objects outside the tree.
std::vector<int> TreeNodePath(const ardanto::TPortableDeviceContent& content,
                              const ardanto::TPortableDeviceObject& object);

// Positions in the manager's list of the devices with that friendly name
// (ignoring case, as opening by name does).
std::vector<int> DevicesNamed(const ardanto::TDeviceList& list, const QString& name);

} // namespace portkeep
