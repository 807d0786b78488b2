#include "quillbox/BackupRun.h"

#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/Translate.h"
#include "platform/Processes.h"

namespace quillbox {

using namespace ardanto::platform;

QString EngineReportText(int exitCode)
{
  return ardanto::FormatText(_("Error reported by Ardanto: %s"), {ardanto::EngineResultText(exitCode)});
}

TEngineOutcome ExecuteEngine(const TEngineCommand& command, const std::function<void()>& processEvents)
{
  TEngineOutcome outcome;
  TProcessHandle process;
  try {
    process = StartProcess(command.Program, command.Arguments, QString());
  } catch (const EProcessError& e) {
    outcome.Result = TEngineResult::erStartFailed;
    outcome.Message = ardanto::FormatText(_("Error on starting Ardanto: %s"), {e.Message()});
    return outcome;
  }
  const std::uint32_t result = WaitForProcess(process, 0, false, processEvents);
  if (result == 0)
    return outcome;
  if (IsProcessResult(result)) {
    outcome.Result = TEngineResult::erReported;
    outcome.ExitCode = static_cast<int>(result & ~kExitCodeFlag);
    outcome.Message = EngineReportText(outcome.ExitCode);
    return outcome;
  }
  outcome.Result = TEngineResult::erWaitFailed;
  outcome.Message =
      ardanto::FormatText(_("Error on executing Ardanto: %s"), {ardanto::SystemErrorText(static_cast<int>(result))});
  return outcome;
}

} // namespace quillbox
