#pragma once

// Whether the desktop is set to a dark colour scheme.

#include <QString>

namespace ardanto::platform {

// The desktop portal's org.freedesktop.appearance color-scheme (1 = dark),
// else GNOME's gsettings color-scheme ('prefer-dark').
bool SystemUsesDarkMode();

// Reads the answer of `gsettings get org.gnome.desktop.interface color-scheme`.
bool GsettingsMeansDark(const QString& output);

} // namespace ardanto::platform
