#include "quillbox/Startup.h"

#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using namespace ardanto::platform;
using ardanto::test::TempDir;
using quillbox::ParseCommandLine;
using quillbox::TCommandLine;

TEST(CommandLine, OptionWordsByPrefixInTableOrder)
{
  struct TCase {
    QStringList Args;
    std::function<bool(const TCommandLine&)> Check;
    const char* What;
  };
  const std::vector<TCase> cases{
      {{u"/f"_s}, [](auto& c) { return c.Force; }, "/f selects force"},
      {{u"-FORCE"_s}, [](auto& c) { return c.Force; }, "-FORCE selects force"},
      {{u"/forcex"_s}, [](auto& c) { return !c.Force && c.MailProfile.isEmpty(); }, "/forcex selects nothing"},
      {{u"/"_s}, [](auto& c) { return c.Force && c.MailProfile.isEmpty(); }, "a bare / selects force"},
      {{u"-"_s}, [](auto& c) { return c.Force; }, "a bare - selects force"},
      {{u"/p:quiet"_s}, [](auto& c) { return c.StatusPrompt == 2; }, "/p:quiet"},
      {{u"/prompt:xyz"_s}, [](auto& c) { return c.StatusPrompt == 1; }, "/prompt:xyz"},
      {{u"/prompt:"_s}, [](auto& c) { return c.StatusPrompt == 0; }, "/prompt: matches wait"},
      {{u"/prompt:SIL"_s}, [](auto& c) { return c.StatusPrompt == 4; }, "/prompt:SIL"},
      {{u"/prompt:e"_s}, [](auto& c) { return c.StatusPrompt == 3; }, "/prompt:e"},
      {{u"/end:"_s}, [](auto& c) { return c.LogOffMode == dmShutdown; }, "/end: matches shutdown"},
      {{u"/end:lock"_s}, [](auto& c) { return c.LogOffMode == dmShutdown; }, "/end:lock is lockdown"},
      {{u"/end:lo"_s}, [](auto& c) { return c.LogOffMode == dmShutdown; }, "/end:lo: lockdown before logoff"},
      {{u"/end:logoff"_s}, [](auto& c) { return c.LogOffMode == dmLogOff; }, "/end:logoff"},
      {{u"/end:re"_s}, [](auto& c) { return c.LogOffMode == dmRestart; }, "/end:re"},
      {{u"/end:POWER"_s}, [](auto& c) { return c.LogOffMode == dmPowerOff; }, "/end:POWER"},
      {{u"/end:reboot"_s}, [](auto& c) { return c.LogOffMode == dmNone; }, "/end:reboot changes nothing"},
      {{u"/end:restart"_s, u"/end:nap"_s}, [](auto& c) { return c.LogOffMode == dmRestart; }, "unknown end kept"},
      {{u"/suspend:h"_s}, [](auto& c) { return c.SuspendMode == smHibernate; }, "/suspend:h"},
      {{u"/s:standby"_s}, [](auto& c) { return c.SuspendMode == smStandby; }, "/s is suspend"},
      {{u"/suspend:doze"_s}, [](auto& c) { return c.SuspendMode == smNone; }, "/suspend:doze"},
      {{u"a"_s, u"b"_s}, [](auto& c) { return c.MailProfile == u"a"_s; }, "the first plain argument"},
      {{u"/f"_s, u"Ann Smith"_s, u"/w:9"_s, u"b"_s},
       [](auto& c) { return c.MailProfile == u"Ann Smith"_s && c.WaitDelay == 9; },
       "profile between options"},
      {{u"/home/ann/x"_s},
       [](auto& c) { return c.MailProfile == u"/home/ann/x"_s && !c.Force; },
       "an absolute path is no option"},
      {{u"/home/ann/.config/Ardanto6/tb-Ann Smith.buj"_s},
       [](auto& c) { return c.MailProfile == u"Ann Smith"_s && c.JobDir == u"/home/ann/.config/Ardanto6"_s; },
       "a task file opened from the file manager gives its profile and folder"},
      {{u"/t:/srv/tasks"_s, u"/media/usb/tb-alpha.RSJ"_s},
       [](auto& c) { return c.MailProfile == u"alpha"_s && c.JobDir == u"/srv/tasks"_s; },
       "a restore task file, taskdir given"},
      {{u"/logmode:abc"_s}, [](auto& c) { return c.LogMode == 0; }, "logmode not a number"},
      {{u"/logmode:  2 long"_s}, [](auto& c) { return c.LogMode == 2; }, "number up to the blank"},
      {{u"/l:2x"_s}, [](auto& c) { return c.LogMode == 0; }, "/l is logmode; 2x is no number"},
      {{}, [](auto& c) { return c.LogMode == -1 && c.WaitDelay == 5 && c.StatusPrompt == 1; }, "defaults"},
      {{u"/wait:soon"_s}, [](auto& c) { return c.WaitDelay == 5; }, "wait not a number"},
      {{u"/wait:30"_s}, [](auto& c) { return c.WaitDelay == 30; }, "/wait:30"},
      {{u"/logdir:/var/log/q"_s}, [](auto& c) { return c.LogDir == u"/var/log/q/"_s; }, "logdir gets a /"},
      {{u"/logdir:"_s}, [](auto& c) { return c.LogDir.isEmpty(); }, "empty logdir stays empty"},
      {{u"/d"_s}, [](auto& c) { return c.UseDarkMode; }, "/d is dark"},
      {{u"/e:Junk,Trash"_s}, [](auto& c) { return c.ExcludedDirs == u"Junk,Trash"_s; }, "/e is exclude"},
      {{u"/backupdir:/media/ann/usb"_s}, [](auto& c) { return c.BuDir == u"/media/ann/usb"_s; }, "backupdir"},
      {{u"/b:x:y"_s}, [](auto& c) { return c.BuDir == u"x:y"_s; }, "the value runs on past a colon"},
      {{u"/t:/srv/tasks"_s}, [](auto& c) { return c.JobDir == u"/srv/tasks"_s; }, "/t is taskdir"},
      {{u"/i:/etc/q"_s}, [](auto& c) { return c.IniGiven && c.IniName == u"/etc/q"_s; }, "/i is ini"},
      {{u"/ini:"_s}, [](auto& c) { return c.IniGiven && c.IniName.isEmpty(); }, "an empty ini is given"},
      {{u"/status:normal"_s, u"/hide"_s, u"/lang:de"_s, u"/portable"_s},
       [](auto& c) { return !c.Force && c.StatusPrompt == 1 && c.MailProfile.isEmpty() && c.LogMode == -1; },
       "words of other programs change nothing"},
  };
  for (const TCase& c : cases)
    EXPECT_TRUE(c.Check(ParseCommandLine(c.Args))) << c.What;
}

TEST(CommandLine, TheShortcutsArgumentTextGivesItsOptionsBack)
{
  const TCommandLine line = ParseCommandLine(
      {u"Default User"_s, u"/prompt:error"_s, u"/wait:12"_s, u"/status:ontop"_s, u"/hide"_s, u"/force"_s});
  EXPECT_EQ(line.MailProfile, u"Default User"_s);
  EXPECT_TRUE(line.Force);
  EXPECT_EQ(line.StatusPrompt, 3);
  EXPECT_EQ(line.WaitDelay, 12);
}

TEST(SettingsFile, TheIniOptionNamesAFolderAFileOrANameInTheSettingsFolder)
{
  const QString settings = u"/home/ann/.config/Ardanto6/"_s;
  const QString current = u"/home/ann/work"_s;
  const struct {
    QString Value;
    QString Expected;
  } cases[] = {
      {u"/cfg"_s, u"/cfg/Quillbox.ini"_s},
      {u"/cfg/"_s, u"/cfg/Quillbox.ini"_s},
      {u"my"_s, settings + u"my.ini"_s},
      {u"my.cfg"_s, settings + u"my.cfg"_s},
      {u"sub/x.cfg"_s, current + u"/sub/x.cfg.ini"_s},
      {u"sub/x.INI"_s, current + u"/sub/x.INI"_s},
      {u"../x"_s, u"/home/ann/x.ini"_s},
      {u"/cfg/q.conf"_s, u"/cfg/q.conf.ini"_s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quillbox::IniNameFromOption(c.Value, settings, current), c.Expected) << c.Value.toStdString();
}

TEST(SettingsFile, AMissingFileComesFromTheSuitesFolderElseFromTheOlderOne)
{
  TempDir dir;
  const QString suite = dir.Path() + u"/Ardanto6/"_s;
  const QString old = dir.Path() + u"/Ardanto5/"_s;
  const QString own = dir.Path() + u"/own/"_s;
  QDir().mkpath(own);

  dir.Write(u"Ardanto5/Quillbox.ini"_s, "old");
  quillbox::MigrateSettingsFile(own + u"Quillbox.ini"_s, own, suite, old);
  EXPECT_EQ(ardanto::test::ReadFile(own + u"Quillbox.ini"_s), "old") << "only the older folder has one";

  QFile::remove(own + u"Quillbox.ini"_s);
  dir.Write(u"Ardanto6/Quillbox.ini"_s, "current");
  quillbox::MigrateSettingsFile(own + u"Quillbox.ini"_s, own, suite, old);
  EXPECT_EQ(ardanto::test::ReadFile(own + u"Quillbox.ini"_s), "current") << "the suite's folder comes first";

  dir.Write(u"own/Quillbox.ini"_s, "mine");
  quillbox::MigrateSettingsFile(own + u"Quillbox.ini"_s, own, suite, old);
  EXPECT_EQ(ardanto::test::ReadFile(own + u"Quillbox.ini"_s), "mine") << "an existing file stays";

  // In the suite's folder itself nothing is migrated, not even from the older one.
  QFile::remove(suite + u"Quillbox.ini"_s);
  quillbox::MigrateSettingsFile(suite + u"Quillbox.ini"_s, suite, suite, old);
  EXPECT_FALSE(QFile::exists(suite + u"Quillbox.ini"_s));
}

TEST(SettingsFile, KeysRoundTripAndBadValuesTakeTheirDefaults)
{
  TempDir dir;
  const QString ini = dir.File(u"Quillbox.ini"_s);
  const quillbox::TProgramSettings defaults = quillbox::LoadProgramSettings(ini);
  EXPECT_EQ(defaults.Top, -1);
  EXPECT_TRUE(defaults.BackupCalendar);
  EXPECT_EQ(defaults.WaitTime, 5);
  EXPECT_EQ(defaults.StatusWindow, 1);
  EXPECT_EQ(defaults.ExcludedFiles, u"parent.lock,global-messages-db.sqlite"_s);
  EXPECT_EQ(defaults.ExcludedTypes, u"SQLITE-SHM,SQLITE-WAL,LZ4,BAK,LOCK"_s);

  quillbox::TProgramSettings settings;
  settings.Top = 40;
  settings.Left = 70;
  settings.BackupDirectory = u":BACKUP:/mail/%year%"_s;
  settings.MailProfile = u"Ann's \"work\""_s;
  settings.BackupCalendar = false;
  settings.WaitTime = 99;
  settings.StatusWindow = 4;
  settings.ExcludedFiles = u"\"a b.txt\",c"_s;
  settings.ExcludedTypes = QString();
  dir.Write(u"Quillbox.ini"_s, "[Directories]\r\nHistory0=/media\r\n");
  quillbox::SaveProgramSettings(ini, settings, u"Quillbox"_s, u"6.0.0"_s);
  const quillbox::TProgramSettings back = quillbox::LoadProgramSettings(ini);
  EXPECT_EQ(back.Top, 40);
  EXPECT_EQ(back.Left, 70);
  EXPECT_EQ(back.BackupDirectory, settings.BackupDirectory);
  EXPECT_EQ(back.MailProfile, settings.MailProfile);
  EXPECT_FALSE(back.BackupCalendar);
  EXPECT_EQ(back.WaitTime, 99);
  EXPECT_EQ(back.StatusWindow, 4);
  EXPECT_EQ(back.ExcludedFiles, settings.ExcludedFiles);
  EXPECT_EQ(back.ExcludedTypes, QString()) << "an emptied list stays empty";
  const auto file = ardanto::TUnicodeIniFile::CreateForRead(ini);
  EXPECT_EQ(file.ReadString(u"Directories"_s, u"History0"_s, QString()), u"/media"_s) << "the dialog's keys stay";
  EXPECT_EQ(file.ReadString(u"Unicode"_s, u"Program"_s, QString()), u"Quillbox"_s);

  dir.Write(u"Quillbox.ini"_s, "[Config]\r\nWaitTime=0\r\nStatusWindow=5\r\n");
  const quillbox::TProgramSettings bad = quillbox::LoadProgramSettings(ini);
  EXPECT_EQ(bad.WaitTime, 5);
  EXPECT_EQ(bad.StatusWindow, 1);
}

} // namespace
