#pragma once

// Moving and copying whole folders, and telling the desktop that its folder
// changed.

#include <QString>

#include <functional>

namespace ardanto::platform {

// Moves the folder source so that it becomes target: a rename where both lie
// on one file system; across file systems a copy that keeps modes, times,
// owners (where allowed) and symbolic links as links, checked entry by entry
// and size by size and flushed to the disk before the source is removed. The
// target may exist as an empty folder; its parents are created. On failure
// nothing has changed: the source is whole and no partial target is left.
// Returns 0, or a negative errno value (-ENOTEMPTY for a target that holds
// something, -EINVAL for a target inside the source, -EIO for a copy that did
// not come out equal).
int ShellMove(const QString& source, const QString& target);
// The same without removing the source; always a copy.
int ShellCopy(const QString& source, const QString& target);

// Where tests step in: the rename used for the first attempt of a move (0 or
// errno), and a look at the finished copy before it is checked.
struct TFolderTransferSeams {
  std::function<int(const QString& from, const QString& to)> Rename;
  std::function<void(const QString& copy)> BeforeCheck;
};
int TransferFolder(const QString& source, const QString& target, bool move, const TFolderTransferSeams& seams);

// Desktops watch their folder: touching it (and the shortcut file, when
// given) makes them show what changed. Returns 0 or errno.
int RefreshDesktop(const QString& file = QString());

} // namespace ardanto::platform
