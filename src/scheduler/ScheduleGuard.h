#pragma once

// The helper the task units run (ardanto-schedule-guard):
//
//   check --state FILE TASK.xml   exit 0 when an occurrence of the task is due
//                                 now and not run yet (and records it), 1 when
//                                 not (the reason goes to the journal), 255
//                                 when the definition cannot be read
//   run --state FILE [--cwd DIR] -- PROGRAM [ARGUMENT...]
//                                 runs the program, records when it started
//                                 and how it ended, and ends as it did
//
// A main program of the suite could take this over as one of its modes.

#include <QDateTime>
#include <QStringList>

namespace ardanto::scheduler {

int ScheduleGuardMain(const QStringList& arguments);

// When the user's service manager started ($MANAGERPID, as the manager sets
// it for its services); invalid when it cannot be told.
QDateTime ManagerStartTime();
// Whether a default route leaves this machine (IPv4 or IPv6).
bool NetworkAvailable();

} // namespace ardanto::scheduler
