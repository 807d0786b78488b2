#pragma once

#include "devices/DeviceTypes.h"

#include <QIcon>

namespace portkeep {

// The file list's icon for a content type: the desktop theme's icon where it
// has one, else a drawn badge. Types without an icon of their own (also
// "unspecified") give a null icon.
QIcon ContentTypeIcon(ardanto::TContentType type);

} // namespace portkeep
