// The shortcut dialog's rules without its window: which controls an incoming
// command line sets, what it keeps over, and the items a shortcut gets.

#include "ui/DesktopIconOptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ardanto::ui;
using namespace Qt::StringLiterals;

namespace {

TEST(DesktopIconOptions, IncomingItemsSetTheControlsAndTheRestIsKeptOver)
{
  struct TCase {
    const char16_t* Incoming;
    int Status;
    TShortcutAction Action;
    const char16_t* KeptOver;
    std::function<void(TDesktopIconOptions&)> Change; // what the user does before OK
    const char16_t* Outgoing;
  };
  const TCase cases[] = {
      {u" /prompt:delay /wait:5 /status:normal /hide /force", siCloseAutomatically, saNone,
       u" /wait:5 /status:normal /force", [](TDesktopIconOptions& o) { o.Action = saShutdown; },
       u" /prompt:delay /hide /end:shutdown /wait:5 /status:normal /force"},
      // The presets, and "Action changeable by user" unticked, with and
      // without parallel processing.
      {u"", siCloseAutomatically, saNone, u"", nullptr, u" /prompt:delay /hide"},
      {u"", siCloseAutomatically, saNone, u"", [](TDesktopIconOptions& o) { o.ActionChangeable = false; },
       u" /prompt:delay /hide /noaction"},
      {u"", siCloseAutomatically, saNone, u"",
       [](TDesktopIconOptions& o) {
         o.ActionChangeable = false;
         o.Parallel = true;
       },
       u" /prompt:delay /parallel /hide"},
      {u"", siCloseAutomatically, saNone, u"", [](TDesktopIconOptions& o) { o.NoSplash = false; }, u" /prompt:delay"},
      // Words and values by prefix, "-" as well as "/", any case.
      {u"-P:Q /e:l /H", siNotVisible, saLogoff, u"", nullptr, u" /prompt:quiet /hide /end:logoff"},
      {u"/pr:e /su:st", siWaitOnErrors, saSleep, u"", nullptr, u" /prompt:error /hide /suspend:standby"},
      {u"/s:h /end:lock", siCloseAutomatically, saLockShutdown, u"", nullptr, u" /prompt:delay /hide /end:lockdown"},
      // What matches no control goes on as it came; a value with a blank
      // stays one item; a plain word is no option and is dropped.
      {u"\"Default user\" /prompt:bogus /end -force \"/logdir:/tmp/my logs\"", siCloseAutomatically, saNone,
       u" /prompt:bogus /end /force \"/logdir:/tmp/my logs\"", nullptr,
       u" /prompt:delay /hide /prompt:bogus /end /force \"/logdir:/tmp/my logs\""},
      // The error mask follows the action.
      {u"/end:restart", siCloseAutomatically, saRestart, u"", [](TDesktopIconOptions& o) { o.ErrorMask = 5; },
       u" /prompt:delay /hide /end:restart /erractions:5"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Incoming).toStdString());
    TDesktopIconOptions options;
    options.ReadOptions(QString::fromUtf16(c.Incoming));
    EXPECT_EQ(options.Status, c.Status);
    EXPECT_EQ(options.Action, c.Action);
    EXPECT_TRUE(options.NoSplash);
    EXPECT_EQ(options.KeptOver, QString::fromUtf16(c.KeptOver));
    if (c.Change)
      c.Change(options);
    EXPECT_EQ(options.Options(), QString::fromUtf16(c.Outgoing));
  }
}

TEST(DesktopIconOptions, EveryStatusItemAndActionReadsBack)
{
  for (int status = 0; status < kStatusItemCount; ++status) {
    for (int action = 0; action < kShortcutActionCount; ++action) {
      SCOPED_TRACE(testing::Message() << "status " << status << ", action " << action);
      TDesktopIconOptions chosen;
      chosen.Status = status;
      chosen.Action = TShortcutAction(action);
      chosen.NoSplash = (status + action) % 2 == 0; // "hide" ticks a box that starts unticked
      TDesktopIconOptions read;
      read.NoSplash = false;
      read.ReadOptions(chosen.Options());
      EXPECT_EQ(read.Status, status);
      EXPECT_EQ(read.Action, action);
      EXPECT_EQ(read.NoSplash, chosen.NoSplash);
      EXPECT_EQ(read.KeptOver, QString()) << read.Options().toStdString();
    }
  }
}

TEST(DesktopIconOptions, OneTaskShowsItselfSeveralAreCountedAndListed)
{
  const TShortcutTasks one = SplitShortcutTasks(u"\"Default user\""_s);
  EXPECT_EQ(one.Items, QStringList{u"Default user"_s});
  EXPECT_EQ(one.Text, u"Default user"_s);
  EXPECT_TRUE(one.Hint.isEmpty());
  EXPECT_FALSE(one.OfferParallel);

  const TShortcutTasks three = SplitShortcutTasks(u"alpha \"Default user\"  beta"_s);
  EXPECT_EQ(three.Items, (QStringList{u"alpha"_s, u"Default user"_s, u"beta"_s}));
  EXPECT_EQ(three.Text, u"3 selected tasks"_s);
  EXPECT_EQ(three.Hint, u"alpha\nDefault user\nbeta"_s);
  EXPECT_TRUE(three.OfferParallel);
}

} // namespace
