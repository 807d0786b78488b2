#pragma once

#include "common/PathUtils.h"

// Writing into a backup folder or a restore target: every file is written to
// a temporary name in its folder and takes its final name only when it is
// complete and on the disk, so that a failed, cancelled or killed run never
// leaves an incomplete file under a final name, and an older copy stays
// intact until its replacement is complete. A later run removes what a killed
// one left behind.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

namespace engine {

// Paths as the engine compares and joins them.
QByteArray Native(const QString& path);
QString Join(const QString& folder, const QString& name);
using ardanto::IsSameOrBelow;
using ardanto::ResolvedPath;

// Chooses a temporary name in folder: ".ar-" + six characters + ".part",
// free when this returns (the copy creates it exclusively). Empty with errno
// in error when the folder cannot be looked into.
QString ReserveTempName(const QString& folder, int& error);
// A temporary of ours: a reserved name, the copy engine's own temporary of
// one (". + name + . + eight characters"), a database copied aside for its
// snapshot (name + "-src") or a database journal beside either.
bool IsTempName(const QString& name);
// Removes our temporaries in folder (not below it) that are older than
// notBefore (seconds since 1970); a run that is still writing one is newer.
// Returns how many went.
int RemoveStaleTemporaries(const QString& folder, std::time_t notBefore);

// Creates a folder and its missing parents (links on the way are followed).
// Returns 0 or errno.
int MakeFolders(const QString& path);

// Creates root/relative folder by folder with mode 0755 (less the umask).
// A part below root that is a symbolic link or no folder fails the call
// (ELOOP, ENOTDIR): what is written below root must stay below root.
// Returns 0 or errno.
int MakeFolderBelow(const QString& root, const QString& relative);

// Deletes a file, a link or a whole folder tree without following any link.
// Returns 0 or errno.
int RemoveTree(const QString& path);

// Moves a file or folder to the user's trash (freedesktop trash: the home
// trash, or the volume's .Trash-UID). A symbolic link is deleted instead:
// removing it loses nothing, and trashing it would look at its target.
bool MoveToTrash(const QString& path, QString& error);

// Sets the last-write time to the nanosecond (and the access time to now).
// Returns 0 or errno.
int SetWriteTime(const QString& path, const timespec& mtime);

// One file ready to take its final name.
struct TPendingFile {
  QString Temp;
  QString Final;
  QStringList Remove; // the file's old forms, removed once it is in place
  std::int64_t Bytes = 0;
  QString Display; // the name the log shows
  bool Replaced = false;
};

// Files wait here until enough have come together to flush them to the disk
// with one call (syncfs of the target's file system) rather than one per
// file; then each takes its final name.
class TCommitBatch {
public:
  // folder: any folder on the file system written to.
  explicit TCommitBatch(const QString& folder);
  ~TCommitBatch();
  TCommitBatch(const TCommitBatch&) = delete;
  TCommitBatch& operator=(const TCommitBatch&) = delete;

  void Add(TPendingFile file);
  bool Due() const;
  bool Empty() const { return FFiles.empty(); }
  // Flushes, renames, removes old forms; done gets each file with 0 or the
  // errno of its rename.
  void Flush(const std::function<void(const TPendingFile& file, int error)>& done);
  // Removes the temporaries of the files not flushed (a run that stops).
  void Discard();

private:
  int FHandle = -1;
  std::vector<TPendingFile> FFiles;
  std::int64_t FBytes = 0;
};

} // namespace engine
