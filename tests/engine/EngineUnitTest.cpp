// The engine's rules that a run cannot show one by one: how its command line
// is read, which exit code wins when several apply, and who gets the report
// mail with which subject.

#include "engine/EngineOptions.h"
#include "engine/EngineResult.h"
#include "engine/ReportMail.h"

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

TEST(ReportMailTest, RecipientsAndSubjectOfARun)
{
  const QString list = u" a@x.org , #b@x.org,*c@x.org,,a@x.org, # d@x.org"_s;
  const auto addresses = [](const ardanto::TEmailAddressList& recipients) {
    QStringList out;
    for (const ardanto::TEmailAddress& r : recipients)
      out << r.Address;
    return out;
  };
  EXPECT_EQ(addresses(ReportRecipients(list, false)), QStringList{u"a@x.org"_s});
  EXPECT_EQ(addresses(ReportRecipients(list, true)), (QStringList{u"a@x.org"_s, u"b@x.org"_s, u"d@x.org"_s}));
  EXPECT_FALSE(ReportIsDue(0, true));
  EXPECT_TRUE(ReportIsDue(1, false));
  EXPECT_FALSE(ReportIsDue(2, false));
  EXPECT_TRUE(ReportIsDue(2, true));
  EXPECT_FALSE(ReportIsDue(3, true));

  TRunResult result;
  result.TaskName = u"tb-%status%"_s; // a value is never expanded again
  result.ExitCode = ecCopyErrors;
  result.Start = QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 900));
  result.End = QDateTime(QDate(2024, 3, 1), QTime(1, 2, 3, 100));
  EXPECT_EQ(ExpandMailPlaceholders(u"%TASKNAME% %Start%..%end% (%duration%) %status% %STATUS %unknown%"_s, result),
            u"tb-%status% 2024-02-29 23:59:58..2024-03-01 01:02:03 (1:02:05) Errors during backup! %STATUS "
            "%unknown%"_s);
  EXPECT_EQ(ReportSubject(u"  "_s, result), u"Ardanto: tb-%status% - Errors during backup!"_s);
}

} // namespace
