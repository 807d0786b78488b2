#include "scheduler/TaskPlatform.h"
#include "scheduler/backends/systemd/SystemdTaskPlatform.h"

#include <atomic>

namespace ardanto::scheduler {

namespace {
std::atomic<TSchedPlatform*> gPlatform{nullptr};
} // namespace

TSchedPlatform& TaskPlatform()
{
  static TSystemdTaskPlatform systemd;
  TSchedPlatform* platform = gPlatform.load();
  return platform ? *platform : systemd;
}

TSchedPlatform* SetTaskPlatform(TSchedPlatform* platform)
{
  return gPlatform.exchange(platform);
}

} // namespace ardanto::scheduler
