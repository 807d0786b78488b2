#pragma once

// Starting the engine and reading its answer.

#include "quillbox/EngineCommand.h"

#include <QString>

#include <functional>

namespace quillbox {

enum class TEngineResult {
  erSuccess,     // exit code 0
  erReported,    // the engine ended with another code
  erStartFailed, // the engine could not be started
  erWaitFailed,  // its end could not be learnt
};

struct TEngineOutcome {
  TEngineResult Result = TEngineResult::erSuccess;
  int ExitCode = 0; // erReported: the engine's code (or 128 + signal)
  QString Message;  // what to show; empty for success
};

// Starts the engine in the caller's folder with the caller's environment and
// waits for it, calling processEvents every 100 ms meanwhile.
TEngineOutcome ExecuteEngine(const TEngineCommand& command, const std::function<void()>& processEvents);

// "Error reported by Ardanto: " with the text of the exit code.
QString EngineReportText(int exitCode);

} // namespace quillbox
