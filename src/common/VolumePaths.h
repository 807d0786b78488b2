#pragma once

// Volume paths: ":label:/rest" names a folder on whichever mounted file system
// carries that label, so a task keeps working when a backup disk is mounted
// somewhere else next time.

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace ardanto {

struct TMountedVolume {
  QString RootPath;       // the mount point ("/media/ann/BACKUP", "/")
  QString Label;          // the file system's label; empty when it has none
  QString FileSystemType; // "ext4", "vfat", "nfs4", ...
  QString Device;         // "/dev/sdb1", "tmpfs", "srv:/export"
};

// Whether a file system of this type lives on another computer.
bool IsNetworkFileSystem(const QString& fileSystemType);

// The mounted file systems in mount order as mountInfoFile lists them, labels
// taken from the links in byLabelFolder (udev's) that lead to the same block
// device. Network and pseudo file systems are kept: a path on them must not be
// taken for one on the file system below.
QList<TMountedVolume> ReadMountedVolumes(const QString& mountInfoFile = QStringLiteral("/proc/self/mountinfo"),
                                         const QString& byLabelFolder = QStringLiteral("/dev/disk/by-label"));

// The list every routine below works on: ReadMountedVolumes(), or what a test
// put in its place.
QList<TMountedVolume> MountedVolumes();
using TVolumeSource = std::function<QList<TMountedVolume>()>;
// Replaces the list (an empty function brings the system's back); returns the
// source used so far.
TVolumeSource SetVolumeSource(TVolumeSource source);

// The file system that holds path: the deepest mount point above it, after
// symbolic links of its existing part are resolved. The path need not exist.
std::optional<TMountedVolume> VolumeOfPath(const QString& path);
// The first mounted file system whose label equals label, case ignored.
std::optional<TMountedVolume> VolumeWithLabel(const QString& label);

// Asked when the volume of a volume path is not mounted: the question text,
// and true for "Retry", false for "Cancel".
using TVolumePrompt = std::function<bool(const QString& question)>;

// Results of ResolveVolumePath.
enum TVolumeResult : int {
  vrNoVolumePath = 0, // path unchanged: it is no volume path
  vrResolved = 1,     // path now names the folder below the mount point
  vrNotFound = 2,     // path unchanged: empty, malformed or not mounted
};

// ":label:/rest" -> mount point of the volume with that label + "/rest", and
// label set to the label. The rest is what follows the first "/" after the
// second colon (nothing when there is no "/"). Without a prompt, or when the
// prompt gives up, a volume that is not mounted gives vrNotFound.
TVolumeResult ResolveVolumePath(QString& path, QString& label, const TVolumePrompt& prompt = {});

// The other form of a backup path: a volume path becomes the folder it names;
// a path on a local file system with a label becomes ":label:/rest". Empty
// when there is no other form; showError then gets "No volume name available
// for " + the mount point (not for a volume path that was not found, which
// the prompt has already told about).
QString ToVolumePath(const QString& path, const TVolumePrompt& prompt,
                     const std::function<void(const QString& message)>& showError);

} // namespace ardanto
