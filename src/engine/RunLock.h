#pragma once

// One engine per task: a lock file beside the task file (".NAME.lock"),
// held with flock() for as long as the run lasts. The kernel releases the
// lock when its process ends in any way, so the lock of a crashed or killed
// run is taken over by the next one; the file names the holder's process.

#include <QString>

namespace engine {

class TRunLock {
public:
  TRunLock() = default;
  ~TRunLock();
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  enum TResult { lrAcquired, lrHeld, lrFailed };
  // lrHeld: another engine runs the task (holder: its process id, 0 when
  // unknown). lrFailed: no lock file could be made, error says why. When
  // the task's folder takes no file, the lock goes to the runtime folder.
  TResult Acquire(const QString& taskFile, long& holder, QString& error);
  void Release();
  const QString& FileName() const { return FFileName; }

  // The lock file of a task in its own folder.
  static QString LockFileName(const QString& taskFile);

private:
  TResult AcquireAt(const QString& lockFile, long& holder, int& error);

  QString FFileName;
  int FHandle = -1;
};

} // namespace engine
