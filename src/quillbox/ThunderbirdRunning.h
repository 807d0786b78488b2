#pragma once

// Whether Thunderbird is running: it holds its profile's files open, so a
// restore or a move must wait until it has ended.

#include <QString>
#include <QStringList>

namespace quillbox {

// A process of the current user named "thunderbird" or "thunderbird-bin", or
// a live process holding the lock of one of the profile folders. The lock
// also finds a Thunderbird in a snap or flatpak, whose process may carry
// another name or live in a process namespace of its own.
bool ThunderbirdRunning(const QStringList& profileFolders);

// Thunderbird's lock of a profile folder is taken: the "lock" link names a
// process that is alive, or ".parentlock" is locked (fcntl) by a process.
// A lock left behind by a Thunderbird that crashed counts as free.
bool ProfileInUse(const QString& profileFolder);

} // namespace quillbox
