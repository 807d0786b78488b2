#include "quillbox/EngineCommand.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quillbox;
using namespace Qt::StringLiterals;

TEST(EngineCommand, StatusOptionsPerMode)
{
  struct Case {
    int Prompt;
    int Wait;
    bool OnTop;
    QString Text;
  } cases[] = {
      {spWait, 5, false, u" /prompt:wait /status:normal /hide /force"_s},
      {spDelay, 12, false, u" /prompt:delay /wait:12 /status:normal /hide /force"_s},
      {spQuiet, 5, true, u" /prompt:quiet /status:ontop /hide /force"_s},
      {spError, 30, false, u" /prompt:error /wait:30 /status:normal /hide /force"_s},
      {spSilent, 30, false, u" /prompt:silent /status:normal /hide /force"_s},
      // A mode from a damaged settings file counts as the default.
      {7, 5, false, u" /prompt:delay /wait:5 /status:normal /hide /force"_s},
      {-1, 5, false, u" /prompt:delay /wait:5 /status:normal /hide /force"_s},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusOptions(c.Prompt, c.Wait, c.OnTop), c.Text);
    EXPECT_EQ(u' ' + StatusOptionItems(c.Prompt, c.Wait, c.OnTop).join(u' '), c.Text);
  }
}

TEST(EngineCommand, BackupAndRestoreCommandLines)
{
  struct Case {
    TEngineCommand Command;
    QString Text;
    QStringList Arguments;
  } cases[] = {
      {BackupCommand(u"/usr/bin/ardanto"_s, u"/home/ann/Ardanto/tb-default.buj"_s, spDelay, 12, false),
       u"/usr/bin/ardanto /home/ann/Ardanto/tb-default.buj /startapp:quillbox /prompt:delay /wait:12 "
       u"/status:normal /hide /force"_s,
       {u"/home/ann/Ardanto/tb-default.buj"_s, u"/startapp:quillbox"_s, u"/prompt:delay"_s, u"/wait:12"_s,
        u"/status:normal"_s, u"/hide"_s, u"/force"_s}},
      {BackupCommand(u"/opt/my tools/ardanto"_s, u"/home/ann/My Tasks/tb-Ann \"work\".buj"_s, spQuiet, 5, true),
       u"\"/opt/my tools/ardanto\" \"/home/ann/My Tasks/tb-Ann \"\"work\"\".buj\" /startapp:quillbox "
       u"/prompt:quiet /status:ontop /hide /force"_s,
       {u"/home/ann/My Tasks/tb-Ann \"work\".buj"_s, u"/startapp:quillbox"_s, u"/prompt:quiet"_s, u"/status:ontop"_s,
        u"/hide"_s, u"/force"_s}},
      {RestoreCommand(u"/usr/bin/ardanto"_s, u"/home/ann/Ardanto/tb-default.rsj"_s),
       u"/usr/bin/ardanto /home/ann/Ardanto/tb-default.rsj /hide /prompt:wait /restore"_s,
       {u"/home/ann/Ardanto/tb-default.rsj"_s, u"/hide"_s, u"/prompt:wait"_s, u"/restore"_s}},
      {RestoreCommand(u"/usr/bin/ardanto"_s, u"/tmp/a b.rsj"_s),
       u"/usr/bin/ardanto \"/tmp/a b.rsj\" /hide /prompt:wait /restore"_s,
       {u"/tmp/a b.rsj"_s, u"/hide"_s, u"/prompt:wait"_s, u"/restore"_s}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.Command.CommandLine, c.Text);
    EXPECT_EQ(c.Command.Arguments, c.Arguments) << c.Text.toStdString();
    EXPECT_TRUE(c.Command.Program.endsWith(u"ardanto"_s));
  }
}
