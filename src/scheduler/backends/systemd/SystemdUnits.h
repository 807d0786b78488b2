#pragma once

// The user units that realise one registered task: a timer that wakes at the
// task's calendar expressions (and at the start of the user's manager for
// logon triggers), a service that asks the guard whether an occurrence is due
// and then runs the task's programs, and a sibling service without the guard
// for starting the task on demand. Every program runs under the guard's "run"
// mode, which records when it ran and how it ended.

#include "scheduler/TaskPlatform.h"

#include <QString>
#include <QStringList>

namespace ardanto::scheduler {

// Where the systemd backend keeps things.
struct TSystemdPaths {
  QString TasksDir; // definitions: <folder>/<name>.xml
  QString UnitDir;  // the user's unit files
  QString StateDir; // per task: when it last ran, how it ended, the last occurrence handled
  QString Guard;    // ardanto-schedule-guard
  QString Systemctl = QStringLiteral("systemctl");

  // $XDG_DATA_HOME/ardanto/tasks, $XDG_CONFIG_HOME/systemd/user,
  // $XDG_STATE_HOME/ardanto/tasks; the guard from $ARDANTO_SCHEDULE_GUARD,
  // beside the running program, or on PATH.
  static TSystemdPaths Default();
};

// systemd's escaping of a unit name part ("/" becomes "-", other characters
// outside letters, digits, ":" and "_" become \xNN) with "." escaped as well,
// so that a "." in a unit name only ever separates the suffixes we add.
QString EscapeUnitNamePart(const QString& text);

struct TTaskUnitNames {
  QString Base;       // ardanto-<escaped task path>
  QString Timer;      // Base.timer
  QString Service;    // Base.service
  QString RunService; // Base.run.service: the same programs, without the guard
};
// For a task path below the tasks folder such as "Sub/Backup"; raises
// E_INVALIDARG when the names would be too long for systemd.
TTaskUnitNames TaskUnitNames(const QString& relativePath);

// One word of an Exec line, quoted so that systemd hands it over unchanged.
QString QuoteExecWord(const QString& word);

struct TTaskUnits {
  QString Timer; // empty when the task has no trigger that can wake it
  QString Service;
  QString RunService;
};

// The unit files for a definition stored in xmlFile. Raises E_INVALIDARG,
// with the reason, for what the user manager cannot carry out: no action, an
// action that does not start a program, an enabled trigger that has no
// counterpart here (events such as waking up, idle, boot, registration,
// session changes).
TTaskUnits BuildTaskUnits(const TSchedDefinition& definition, const QString& taskPath, const QString& xmlFile,
                          const QString& stateFile, const TSystemdPaths& paths);

} // namespace ardanto::scheduler
