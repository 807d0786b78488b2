#include "portkeep/WindowRules.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "portkeep/Startup.h"

#include <algorithm>
#include <cmath>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

QString SizeText(std::int64_t size)
{
  return FormatFileSize(false, false, QChar(), std::max<std::int64_t>(size, 0));
}

} // namespace

int ProgressPermille(std::int64_t done, std::int64_t total)
{
  if (total <= 0 || done <= 0)
    return 0;
  if (done >= total)
    return 1000;
  return static_cast<int>(done * 1000 / total);
}

int RunPermille(const TRunProgress& progress)
{
  if (progress.BytesTotal > 0)
    return ProgressPermille(progress.BytesDone + progress.CurrentDone, progress.BytesTotal);
  return ProgressPermille(progress.FilesDone, progress.FilesTotal);
}

QString RunProgressText(const TRunProgress& progress)
{
  const std::int64_t bytes = std::min(progress.BytesDone + progress.CurrentDone, progress.BytesTotal);
  return FormatText(_("%d of %d files, %s of %s"),
                    {progress.FilesDone, progress.FilesTotal, SizeText(bytes), SizeText(progress.BytesTotal)});
}

QString RateText(const TRunProgress& progress)
{
  if (progress.BytesPerSecond <= 0)
    return QString();
  QString text = SizeText(static_cast<std::int64_t>(progress.BytesPerSecond)) + u"/s"_s;
  if (progress.SecondsLeft >= 0)
    text += u", "_s + FormatText(_("%s left"), {DurationText(std::llround(progress.SecondsLeft))});
  return text;
}

} // namespace portkeep
