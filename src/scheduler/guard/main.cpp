// ardanto-schedule-guard: decides for the user timers whether a task is due,
// and runs its programs (see scheduler/ScheduleGuard.h).

#include "scheduler/ScheduleGuard.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  return ardanto::scheduler::ScheduleGuardMain(app.arguments().mid(1));
}
