#pragma once

// Rules of Portkeep's main window that need no widgets: how a run's progress
// reads, what a reset resets, how the time-slot fields map to the stored
// time slot, the order of the selected folders, the task's desktop shortcut
// and the sort order of the file list.

#include "portkeep/BackupRun.h"

#include <QString>

#include <cstdint>

namespace portkeep {

// Parts per thousand of done in total, for a progress bar; 0 without a total.
int ProgressPermille(std::int64_t done, std::int64_t total);
// The whole run: by bytes, or by files when the files hold no bytes.
int RunPermille(const TRunProgress& progress);
// "12 of 40 files, 3.10 MiB of 20.0 MiB".
QString RunProgressText(const TRunProgress& progress);
// "2.50 MiB/s, 00:01:05 left"; empty until the rate is known.
QString RateText(const TRunProgress& progress);

} // namespace portkeep
