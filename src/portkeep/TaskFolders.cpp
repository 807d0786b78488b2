#include "portkeep/TaskFolders.h"

#include "devices/PortableDeviceUtils.h"

#include <algorithm>

namespace portkeep {

using namespace ardanto;

TStoredFolders ResolveStoredFolders(const TPortableDeviceContent& content, const QStringList& paths)
{
  TStoredFolders result;
  for (const QString& path : paths) {
    TPortableDeviceObject* object = content.GetObjectByPath(path);
    const bool folder = object != nullptr && (object->ObjectType() == otRoot || object->ObjectType() == otFolder);
    if (!folder) {
      result.Missing.append(path);
      continue;
    }
    if (std::find(result.Found.begin(), result.Found.end(), object) == result.Found.end())
      result.Found.push_back(object);
  }
  return result;
}

std::vector<int> TreeNodePath(const TPortableDeviceContent& content, const TPortableDeviceObject& object)
{
  std::vector<int> path;
  const TPortableDeviceObject* at = &object;
  // A tree has no more levels than objects; a broken parent chain ends here.
  for (int steps = content.ObjectCount(); at != nullptr && at->Level() > 0 && steps > 0; --steps) {
    path.push_back(at->Index());
    if (at->Level() == 1)
      break;
    at = content.GetObject(at->ParentIndex());
  }
  if (at == nullptr || at->Level() != 1)
    return {};
  std::reverse(path.begin(), path.end());
  return path;
}

std::vector<int> DevicesNamed(const TDeviceList& list, const QString& name)
{
  std::vector<int> found;
  for (int i = 0; i < list.Count(); ++i) {
    if (list.Objects(i) != nullptr && list.Objects(i)->FriendlyName.compare(name, Qt::CaseInsensitive) == 0)
      found.push_back(i);
  }
  return found;
}

} // namespace portkeep
