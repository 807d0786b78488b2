#include "engine/EngineResult.h"

#include "common/InitProg.h"

namespace engine {

using namespace Qt::StringLiterals;

void TExitCodes::Note(TExitCode code)
{
  if (code != ecOk)
    FSeen |= 1u << code;
}

int TExitCodes::Result() const
{
  for (const TExitCode code : {ecTaskNotFound, ecInvalidTask, ecDestination, ecAborted, ecSource, ecCopyErrors}) {
    if (Has(code))
      return code;
  }
  return ecOk;
}

QString ExitText(int code)
{
  return code == ecOk ? u"OK"_s : ardanto::EngineResultText(code);
}

} // namespace engine
