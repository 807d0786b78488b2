#pragma once

// The ways of reaching devices that the programs use, put together.

#include "devices/DevicePlatform.h"

#include <memory>
#include <vector>

namespace ardanto {

// Devices of several platforms in one list, in the order of the platforms.
// A platform whose listing fails is left out as long as another one answers.
std::shared_ptr<IDevicePlatform> CreateCompositeDevicePlatform(std::vector<std::shared_ptr<IDevicePlatform>> platforms);

// Folder devices and, when built with it, MTP devices through libmtp.
std::shared_ptr<IDevicePlatform> CreateDefaultDevicePlatform();

} // namespace ardanto
