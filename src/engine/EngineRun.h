#pragma once

// One run of the engine from its command line to its exit code: the task
// file is read and checked, the run is locked against a second engine on the
// same task, shutdown and suspend wait for it, the backup or restore runs,
// and the log gets its section with a closing line.

#include "engine/EngineOptions.h"
#include "engine/EngineResult.h"

#include <QString>

namespace engine {

class IEngineView;

// The settings the engine takes from the suite's folder: [Config] ProtDir of
// Ardanto.ini tells where logs without a folder of their own go.
void LoadEngineSettings();

// Where the log of a task goes: its LogName (backup tasks in [Global],
// restore tasks in [Restore]) expanded, else the log folder + the task
// file's name + ".log". The same place also for a task file that is missing
// or cannot be read, so the reason is found where the log would have been.
QString EngineLogFile(const QString& taskFile);

TRunResult RunEngine(const TEngineOptions& options, IEngineView& view);

} // namespace engine
