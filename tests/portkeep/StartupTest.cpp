#include "portkeep/Startup.h"
#include "common/LangUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QLocale>

#include <gtest/gtest.h>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

TEST(PortkeepCommandLine, TaskFilesAndOptionWords)
{
  const QString jobs = u"/home/ann/Documents/Ardanto/"_s;
  ScopedEnv home("HOME", "/home/ann");
  const struct {
    QStringList Args;
    const char16_t* Task;
    bool Force;
    bool Close;
    bool Dark;
  } cases[] = {
      {{u"task"_s, u"-f"_s}, u"/home/ann/Documents/Ardanto/task.pkj", true, false, false},
      {{u"/media/ann/Tasks/Phone.pkj"_s, u"/force"_s, u"/close"_s}, u"/media/ann/Tasks/Phone.pkj", true, true, false},
      {{u"/CLOSE"_s}, u"", false, true, false},
      {{u"/cl"_s}, u"", false, true, false},
      {{u"/closed"_s}, u"", false, false, false},
      {{u"first"_s, u"second.PKJ"_s}, u"/home/ann/Documents/Ardanto/second.PKJ", false, false, false},
      {{u"task."_s}, u"/home/ann/Documents/Ardanto/task.pkj", false, false, false},
      {{u"%profile%/t"_s}, u"/home/ann/t.pkj", false, false, false},
      {{u"-"_s, u"/d"_s}, u"", false, false, true},
      {{u"/x"_s, u"/fo"_s}, u"", true, false, false},
  };
  for (const auto& c : cases) {
    const TCommandLine line = ParseCommandLine(c.Args, jobs);
    const std::string what = c.Args.join(u' ').toStdString();
    EXPECT_EQ(line.TaskName, QString::fromUtf16(c.Task)) << what;
    EXPECT_EQ(line.ForceTask, c.Force) << what;
    EXPECT_EQ(line.CloseProg, c.Close) << what;
    EXPECT_EQ(line.UseDarkMode, c.Dark) << what;
  }
}

TEST(PortkeepStartup, FoldersFollowTheSuiteSettings)
{
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", (dir.Path() + u"/config"_s).toUtf8());
  ScopedEnv home("HOME", dir.Path().toUtf8());
  TPortkeepFolders folders = DetermineFolders(false);
  EXPECT_EQ(folders.AppPath, dir.Path() + u"/config/Ardanto6/"_s);
  EXPECT_EQ(folders.SettingsFolder, folders.AppPath);
  EXPECT_TRUE(QDir(folders.SettingsFolder).exists());
  EXPECT_EQ(folders.IniName, folders.AppPath + u"Portkeep.ini"_s);
  EXPECT_TRUE(folders.JobFolder.endsWith(u"/Ardanto/"_s)) << folders.JobFolder.toStdString();

  // The user's chosen settings folder and the engine's job folder.
  const QString chosen = dir.Path() + u"/settings/"_s;
  dir.Write(u"config/ardanto6.conf"_s, "[Ardanto6]\nIniPath=" + chosen.toUtf8() + "\n");
  QDir().mkpath(dir.Path() + u"/jobs"_s);
  dir.Write(u"settings/Ardanto.ini"_s, "[Config]\nJobDir=" + dir.Path().toUtf8() + "/jobs\n");
  folders = DetermineFolders(false);
  EXPECT_EQ(folders.SettingsFolder, chosen);
  EXPECT_EQ(folders.JobFolder, dir.Path() + u"/jobs/"_s);

  folders = DetermineFolders(true);
  EXPECT_EQ(folders.SettingsFolder, CurrentProgramPaths().ProgramFolder) << "a USB drive keeps its settings";
}

TEST(PortkeepStartup, AutomaticRunTexts)
{
  EXPECT_EQ(DurationText(3723), u"01:02:03"_s);
  EXPECT_EQ(DurationText(90000), u"25:00:00"_s);
  EXPECT_EQ(AutoRunLogFile(u"/s/"_s, u"/j/Phone.pkj"_s), u"/s/pk-Phone.log"_s);
  const QDateTime start(QDate(2024, 3, 5), QTime(10, 0, 0));
  EXPECT_TRUE(AutoRunFinishedLine(start, start.addSecs(3723)).endsWith(u" (01:02:03)"_s));
  EXPECT_TRUE(AutoRunFinishedLine(start, start).startsWith(u"==> Backup finished: "_s));
  EXPECT_EQ(AutoRunNotRunLine(start), u"==> Backup not run: "_s + QLocale().toString(start, QLocale::ShortFormat));
  EXPECT_TRUE(AutoRunStartLine(start, u"/j/Phone.pkj"_s).endsWith(u" - Backup task: Phone.pkj"_s));
  EXPECT_TRUE(AutoRunHeader(u"Portkeep"_s, u"6.0.0.0"_s).startsWith(u"Portkeep - "_s));

  TempDir dir;
  WriteLogFile(dir.File(u"pk-x.log"_s), {u"line"_s, u"  Zeile äöü"_s});
  EXPECT_EQ(ReadFile(dir.File(u"pk-x.log"_s)), QByteArray("\xEF\xBB\xBFline\n  Zeile \xC3\xA4\xC3\xB6\xC3\xBC\n"));
}
