// The engine's rules that a run cannot show one by one: how its command line
// is read and which exit code wins when several apply.

#include "engine/EngineOptions.h"
#include "engine/EngineResult.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace engine;
using namespace Qt::StringLiterals;

namespace {

TEST(EngineOptionsTest, QuillboxCommandLinesAreUnderstood)
{
  const TEngineOptions backup = ParseEngineOptions({u"/jobs/tb-x y.buj"_s, u"/startapp:quillbox"_s, u"/prompt:delay"_s,
                                                    u"/wait:12"_s, u"/status:ontop"_s, u"/hide"_s, u"/force"_s});
  EXPECT_EQ(backup.TaskFile, u"/jobs/tb-x y.buj"_s);
  EXPECT_EQ(backup.StartApp, u"quillbox"_s);
  EXPECT_EQ(backup.Prompt, pmDelay);
  EXPECT_EQ(backup.WaitSeconds, 12);
  EXPECT_TRUE(backup.StatusOnTop);
  EXPECT_TRUE(backup.Hide);
  EXPECT_TRUE(backup.Force);
  EXPECT_FALSE(backup.Restore);

  const TEngineOptions restore = ParseEngineOptions({u"tb-x.rsj"_s, u"/hide"_s, u"/prompt:wait"_s, u"/restore"_s});
  EXPECT_EQ(restore.TaskFile, u"tb-x.rsj"_s);
  EXPECT_EQ(restore.Prompt, pmWait);
  EXPECT_TRUE(restore.Restore);
  EXPECT_FALSE(restore.Force);
}

TEST(EngineOptionsTest, WordsGoByPrefixAndUnknownOnesAreIgnored)
{
  const TEngineOptions o =
      ParseEngineOptions({u"-FO"_s, u"/pr:si"_s, u"/w:x"_s, u"/res"_s, u"/bogus:1"_s, u"task.buj"_s, u"second"_s});
  EXPECT_TRUE(o.Force);
  EXPECT_EQ(o.Prompt, pmSilent);
  EXPECT_EQ(o.WaitSeconds, 5) << "a wait that is no number keeps the default";
  EXPECT_TRUE(o.Restore);
  EXPECT_EQ(o.TaskFile, u"task.buj"_s);
  EXPECT_EQ(o.Ignored, (QStringList{u"/bogus:1"_s, u"second"_s}));
  EXPECT_TRUE(ParseEngineOptions({u"--help"_s}).Help);
  EXPECT_TRUE(ParseEngineOptions({u"--version"_s}).Version);
  EXPECT_EQ(VersionLine(), u"ardanto "_s + QStringLiteral(ARDANTO_VERSION));
}

TEST(ExitCodesTest, TheFirstInTheOrderOneSixTwoFiveThreeFourWins)
{
  struct TCase {
    std::vector<TExitCode> Noted;
    int Expected;
  };
  const TCase cases[] = {
      {{}, 0},
      {{ecCopyErrors}, 4},
      {{ecCopyErrors, ecSource}, 3},
      {{ecSource, ecAborted}, 5},
      {{ecAborted, ecDestination, ecCopyErrors}, 2},
      {{ecDestination, ecInvalidTask}, 6},
      {{ecInvalidTask, ecTaskNotFound, ecCopyErrors}, 1},
  };
  for (const TCase& c : cases) {
    TExitCodes codes;
    for (const TExitCode code : c.Noted)
      codes.Note(code);
    EXPECT_EQ(codes.Result(), c.Expected);
  }
  EXPECT_EQ(ExitText(0), u"OK"_s);
  EXPECT_EQ(ExitText(5), u"The backup was aborted by the user or due to an error!"_s);
}

} // namespace
