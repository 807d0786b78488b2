#pragma once

// Scheduled tasks as systemd user timers. Each registered task is kept as its
// definition in the scheduler's XML below the tasks folder (subfolders are
// folders there) and realised as the units of SystemdUnits.h in the user's
// unit folder, enabled and started through `systemctl --user`. Only the
// suite's own tasks are listed. When no user manager answers, the scheduler
// counts as not running.

#include "scheduler/TaskPlatform.h"
#include "scheduler/backends/systemd/SystemdUnits.h"

#include <functional>
#include <optional>

namespace ardanto::scheduler {

class TSystemdTaskPlatform : public TSchedPlatform {
public:
  // The default places; a test gives its own.
  TSystemdTaskPlatform();
  explicit TSystemdTaskPlatform(TSystemdPaths paths);

  bool IsRunning() override;
  std::shared_ptr<TSchedService> CreateService() override;

  // The given places, or the default ones as the environment names them now.
  TSystemdPaths Paths() const;

private:
  std::optional<TSystemdPaths> FPaths;
};

// The per-task record the guard keeps: the last occurrence handled (or the
// moment of registration), when a program of the task last started and how
// the last one ended.
struct TTaskRunState {
  qint64 LastHandled = 0; // seconds since the epoch; 0: unknown
  qint64 LastRun = 0;
  qint64 Result = SCHED_S_TASK_HAS_NOT_RUN;
  bool Running = false;
};
bool ReadRunState(const QString& fileName, TTaskRunState& state);
// Reads, changes and writes the record under a lock, replacing the file whole.
bool UpdateRunState(const QString& fileName, const std::function<void(TTaskRunState&)>& change, QString& error);

} // namespace ardanto::scheduler
