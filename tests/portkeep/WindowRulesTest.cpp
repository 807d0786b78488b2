#include "portkeep/WindowRules.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace portkeep;
using namespace Qt::StringLiterals;

TEST(RunProgress, BarsAndTexts)
{
  const auto progress = [](int filesDone, int filesTotal, std::int64_t bytesDone, std::int64_t bytesTotal,
                           std::int64_t currentDone, double rate, double left) {
    TRunProgress p;
    p.FilesDone = filesDone;
    p.FilesTotal = filesTotal;
    p.BytesDone = bytesDone;
    p.BytesTotal = bytesTotal;
    p.CurrentDone = currentDone;
    p.BytesPerSecond = rate;
    p.SecondsLeft = left;
    return p;
  };
  const struct {
    const char* What;
    TRunProgress Progress;
    int Permille;
    const char16_t* Text;
    const char16_t* Rate;
  } cases[] = {
      {"nothing to do", progress(0, 0, 0, 0, 0, 0, -1), 0, u"0 of 0 files, 0 B of 0 B", u""},
      {"the part of the file being copied counts", progress(1, 4, 1024, 4096, 1024, 0, -1), 500,
       u"1 of 4 files, 2.00 KiB of 4.00 KiB", u""},
      {"empty files count by number", progress(3, 4, 0, 0, 0, 0, -1), 750, u"3 of 4 files, 0 B of 0 B", u""},
      {"a file larger than the device said stays within the bar", progress(0, 1, 0, 100, 500, 0, -1), 1000,
       u"0 of 1 files, 100 B of 100 B", u""},
      {"rate and time left", progress(2, 9, 3 << 20, 20 << 20, 0, 2.5 * (1 << 20), 3723.4), 150,
       u"2 of 9 files, 3.00 MiB of 20.0 MiB", u"2.50 MiB/s, 01:02:03 left"},
      {"rate before the time left is known", progress(0, 9, 0, 20 << 20, 0, 1500, -1), 0,
       u"0 of 9 files, 0 B of 20.0 MiB", u"1.46 KiB/s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunPermille(c.Progress), c.Permille) << c.What;
    EXPECT_EQ(RunProgressText(c.Progress), QString::fromUtf16(c.Text)) << c.What;
    EXPECT_EQ(RateText(c.Progress), QString::fromUtf16(c.Rate)) << c.What;
  }
  EXPECT_EQ(ProgressPermille(5, -1), 0);
  EXPECT_EQ(ProgressPermille(1, 3), 333);
}
