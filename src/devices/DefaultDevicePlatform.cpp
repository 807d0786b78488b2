#include "devices/DevicePlatforms.h"

#include "devices/backends/folder/FolderDevicePlatform.h"
#ifdef ARDANTO_WITH_MTP
#include "devices/backends/mtp/MtpDevicePlatform.h"
#endif

namespace ardanto {

std::shared_ptr<IDevicePlatform> CreateDefaultDevicePlatform()
{
  std::vector<std::shared_ptr<IDevicePlatform>> platforms;
#ifdef ARDANTO_WITH_MTP
  platforms.push_back(CreateMtpDevicePlatform());
#endif
  platforms.push_back(CreateFolderDevicePlatform());
  return CreateCompositeDevicePlatform(std::move(platforms));
}

} // namespace ardanto
