#include "common/InitProg.h"
#include "common/IniFileUtils.h"
#include "common/LangUtils.h"
#include "common/VolumePaths.h"
#include "support/TestSupport.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <sys/stat.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// A program in <tmp>/prog/, started from <tmp>/cwd, with a system file
// <tmp>/ardanto6.conf and PATH = <tmp>/path.
class FindEngineTest : public ::testing::Test {
public:
  void SetUp() override
  {
    FSavedPaths = CurrentProgramPaths();
    FSavedCurrent = QDir::currentPath();
    for (const char16_t* folder : {u"cwd", u"prog", u"etc", u"path"})
      QDir().mkpath(FDir.File(QString::fromUtf16(folder)));
    SetProgramPaths({FDir.File(u"prog/"_s), u"portkeep"_s, FDir.File(u"config/"_s)});
    ASSERT_TRUE(QDir::setCurrent(FDir.File(u"cwd"_s)));
  }
  void TearDown() override
  {
    QDir::setCurrent(FSavedCurrent);
    SetProgramPaths(FSavedPaths);
  }

  // An engine that answers --version, executable or not.
  QString Engine(const QString& folder, bool executable = true)
  {
    const QString file = FDir.Write(folder + u"/ardanto"_s, "#!/bin/sh\necho \"ardanto 6.2.1\"\n");
    ::chmod(QFile::encodeName(file).constData(), executable ? 0755 : 0644);
    return file;
  }
  QString SystemConf(const QString& program)
  {
    return FDir.Write(u"ardanto6.conf"_s, "[Ardanto6]\nProgram=" + program.toUtf8() + "\n");
  }

  TempDir FDir;
  TProgramPaths FSavedPaths;
  QString FSavedCurrent;
  ScopedEnv FPath{"PATH", QFile::encodeName(FDir.File(u"path"_s))};
};

TEST_F(FindEngineTest, FindsAnExecutableFileAsAnAbsolutePath)
{
  struct TCase {
    const char* Label;
    std::function<void(FindEngineTest&)> Arrange;
    const char16_t* Expected; // relative to the temporary folder; empty: none
  } cases[] = {
      {"current folder first",
       [](FindEngineTest& t) {
         t.Engine(u"cwd"_s);
         t.Engine(u"prog"_s);
       },
       u"cwd/ardanto"},
      {"not executable in the current folder",
       [](FindEngineTest& t) {
         t.Engine(u"cwd"_s, false);
         t.Engine(u"prog"_s);
       },
       u"prog/ardanto"},
      {"a folder of that name",
       [](FindEngineTest& t) {
         QDir().mkpath(t.FDir.File(u"cwd/ardanto"_s));
         t.Engine(u"prog"_s);
       },
       u"prog/ardanto"},
      {"named by the system file",
       [](FindEngineTest& t) {
         t.SystemConf(t.Engine(u"etc"_s));
         t.Engine(u"path"_s);
       },
       u"etc/ardanto"},
      {"system file names a missing file",
       [](FindEngineTest& t) {
         t.SystemConf(t.FDir.File(u"etc/gone"_s));
         t.Engine(u"path"_s);
       },
       u"path/ardanto"},
      {"system file names a file that cannot run",
       [](FindEngineTest& t) {
         t.SystemConf(t.Engine(u"etc"_s, false));
         t.Engine(u"path"_s);
       },
       u"path/ardanto"},
      {"only on PATH", [](FindEngineTest& t) { t.Engine(u"path"_s); }, u"path/ardanto"},
      {"nowhere", [](FindEngineTest& t) { t.Engine(u"path"_s, false); }, u""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    for (const char16_t* folder : {u"cwd/ardanto", u"prog/ardanto", u"etc/ardanto", u"path/ardanto"}) {
      QFile::remove(FDir.File(QString::fromUtf16(folder)));
      QDir(FDir.File(QString::fromUtf16(folder))).removeRecursively();
    }
    QFile::remove(FDir.File(u"ardanto6.conf"_s));
    c.Arrange(*this);
    const QString expected = QString::fromUtf16(c.Expected);
    EXPECT_EQ(FindEngine(FDir.File(u"ardanto6.conf"_s)), expected.isEmpty() ? QString() : FDir.File(expected));
  }
}

TEST_F(FindEngineTest, EngineInTheCurrentFolderCanBeAsked)
{
  Engine(u"cwd"_s);
  TFileVersionInfo info;
  ASSERT_TRUE(ReadVersionInfo(FindEngine(FDir.File(u"ardanto6.conf"_s)), info));
  EXPECT_EQ(info.InternalName, u"ardanto"_s);
  EXPECT_EQ(info.Version, u"6.2.1"_s);
}

TEST(ReadVersionInfo, TakesOnlyANameAndAVersion)
{
  TempDir dir;
  struct TCase {
    const char* Script;
    bool Read;
    const char16_t* Name;
    const char16_t* Version;
  } cases[] = {
      {"echo 'ardanto 6.2.1'", true, u"ardanto", u"6.2.1"},
      {"echo 'ardanto v6.3'; echo 'Copyright 2024'", true, u"ardanto", u"6.3"},
      {"echo 'tool 1.0.0-rc1 '", true, u"tool", u"1.0.0-rc1"},
      {"echo 'Usage: tool [options]'", false, u"", u""},
      {"echo 'Hello world'", false, u"", u""},
      {"echo 6.2.1", false, u"", u""},
      {"echo 'ardanto 6.2.1'; exit 1", false, u"", u""},
      {"read answer; echo \"ardanto 1.0$answer\"", true, u"ardanto", u"1.0"}, // stdin is at its end at once
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Script);
    const QString program = dir.Write(u"tool"_s, QByteArray("#!/bin/sh\n") + c.Script + "\n");
    ::chmod(QFile::encodeName(program).constData(), 0755);
    TFileVersionInfo info;
    info.InternalName = u"untouched"_s;
    EXPECT_EQ(ReadVersionInfo(program, info), c.Read);
    if (c.Read) {
      EXPECT_EQ(info.InternalName, QString::fromUtf16(c.Name));
      EXPECT_EQ(info.Version, QString::fromUtf16(c.Version));
    } else {
      EXPECT_EQ(info.InternalName, u"untouched"_s) << "a failed read leaves the record alone";
    }
  }
}

TEST(ReadVersionInfo, RealProgramsAndOnesThatDoNotAnswer)
{
  TFileVersionInfo info;
  ASSERT_TRUE(ReadVersionInfo(u"sleep"_s, info)) << "coreutils answer --version";
  EXPECT_EQ(info.InternalName, u"sleep (GNU coreutils)"_s);
  EXPECT_TRUE(info.Version.front().isDigit());

  TempDir dir;
  const QString hanging = dir.Write(u"hang"_s, "#!/bin/sh\nexec sleep 30\n");
  ::chmod(QFile::encodeName(hanging).constData(), 0755);
  QElapsedTimer timer;
  timer.start();
  EXPECT_FALSE(ReadVersionInfo(hanging, info, 300));
  EXPECT_LT(timer.elapsed(), 5000) << "a program that never answers is given up";
  EXPECT_FALSE(ReadVersionInfo(dir.File(u"missing"_s), info));
  EXPECT_FALSE(ReadVersionInfo(QString(), info));
}

TEST(SplitCommandLine, ReadsTheSuitesQuoting)
{
  struct TCase {
    const char16_t* Line;
    QStringList Items;
  } cases[] = {
      {u"ardanto task.buj /hide", {u"ardanto"_s, u"task.buj"_s, u"/hide"_s}},
      {u"  a   b  ", {u"a"_s, u"b"_s}},
      {u"\"/opt/my tools/ardanto\" \"/home/ann/my task.buj\"",
       {u"/opt/my tools/ardanto"_s, u"/home/ann/my task.buj"_s}},
      {u"\"say \"\"hi\"\" now\"", {u"say \"hi\" now"_s}},
      {u"ab\"c d\"e", {u"ab\"c"_s, u"d\"e"_s}}, // quotes inside an item are plain
      {u"\"a b\"c d", {u"a bc"_s, u"d"_s}},
      {u"\"unclosed rest", {u"unclosed rest"_s}},
      {u"\"\"", {u""_s}},
      {u"", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Line).toStdString());
    EXPECT_EQ(SplitCommandLine(QString::fromUtf16(c.Line)), c.Items);
  }
}

TEST(SplitCommandLine, GivesBackWhatQuoteIfBlankAndOptionItemBuilt)
{
  const QString engine = u"/opt/Ardanto Suite/ardanto"_s;
  const QString task = u"/home/ann/Ardanto/tb \"work\" box.buj"_s;
  const QString line = QuoteIfBlank(engine) + u' ' + QuoteIfBlank(task) + OptionItem(u"startapp"_s, u"quillbox"_s) +
                       OptionItem(u"prompt"_s, u"delay"_s) + OptionItem(u"wait"_s, u"5"_s) + OptionItem(u"hide"_s) +
                       OptionItem(u"ini"_s, u"/home/ann/my settings/a\"b.ini"_s) + u' ' + QuoteIfBlank(u"ab\"cd"_s);
  EXPECT_EQ(SplitCommandLine(line),
            (QStringList{engine, task, u"/startapp:quillbox"_s, u"/prompt:delay"_s, u"/wait:5"_s, u"/hide"_s,
                         u"/ini:/home/ann/my settings/a\"b.ini"_s, u"ab\"cd"_s}));
}

TEST(DriveFolder, NamesTheFolderOfOneSourceDrive)
{
  struct TCase {
    const char16_t* Pattern;
    const char16_t* Drive;
    const char16_t* Folder;
  } cases[] = {
      {u"Drv?", u"c:", u"DrvC/"},     {u"Lw", u"d:", u"LwD/"},
      {u"?-?", u"e:", u"E-E/"},       {u"Drv?", u"\\\\srv\\share", u"srv/share/"},
      {u"Drv?", u"share", u"share/"}, {u"Drv?", u"", u""}, // a POSIX path has no drive and no drive folder
      {u"Drv?", u"/", u""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Drive).toStdString());
    EXPECT_EQ(DriveFolder(QString::fromUtf16(c.Pattern), QString::fromUtf16(c.Drive)), QString::fromUtf16(c.Folder));
  }
  EXPECT_EQ(ExtractFileDrive(u"c:\\Users\\ann"_s), u"c:"_s);
  EXPECT_EQ(ExtractFileDrive(u"\\\\srv\\share\\mail"_s), u"\\\\srv\\share"_s);
  EXPECT_EQ(ExtractFileDrive(u"/home/ann"_s), QString());
  EXPECT_EQ(SourceFolderInBackup(u"/backup"_s, u"Drv?"_s, u"/home/ann/.thunderbird/x"_s),
            u"/backup/home/ann/.thunderbird/x"_s);
  EXPECT_EQ(SourceFolderInBackup(u"/backup/"_s, u"Drv?"_s, u"c:\\Mail"_s), u"/backup/DrvC/Mail"_s);
}

TEST(DefaultDriveId, FollowsTheLanguage)
{
  const QString saved = CurrentLanguage();
  ActivateLanguage(u"de"_s);
  EXPECT_EQ(DefaultDriveId(), u"Lw?"_s);
  ActivateLanguage(u"fr"_s);
  EXPECT_EQ(DefaultDriveId(), u"Drv?"_s);
  ActivateLanguage(saved);
}

// The user's configuration folder is <tmp>/config.
class EnvironmentTest : public ::testing::Test {
public:
  void SetUp() override { SetLogFolderSources(QString(), QString()); }
  void TearDown() override { SetLogFolderSources(QString(), QString()); }

  TempDir FDir;
  ScopedEnv FConfig{"XDG_CONFIG_HOME", QFile::encodeName(FDir.File(u"config"_s))};
};

TEST_F(EnvironmentTest, SettingsFolderComesFromTheSuitesFileWhenItNamesOne)
{
  struct TCase {
    const char* Label;
    std::optional<QByteArray> File;
    const char16_t* Folder; // empty: the default
  } cases[] = {
      {"no file", std::nullopt, u""},
      {"no value", QByteArray("[Ardanto6]\nProgram=x\n"), u""},
      {"empty value", QByteArray("[Ardanto6]\nIniPath=\n"), u""},
      {"blanks only", QByteArray("[Ardanto6]\nIniPath=   \n"), u""},
      {"other section", QByteArray("[Other]\nIniPath=/srv/x\n"), u""},
      {"a folder", QByteArray("[ardanto6]\ninipath=/srv/ardanto\n"), u"/srv/ardanto/"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    QFile::remove(FDir.File(u"config/ardanto6.conf"_s));
    if (c.File)
      FDir.Write(u"config/ardanto6.conf"_s, *c.File);
    const QString expected = QString::fromUtf16(c.Folder);
    EXPECT_EQ(SettingsFolder(u"/default/"_s), expected.isEmpty() ? u"/default/"_s : expected);
  }
}

TEST_F(EnvironmentTest, LogFolderPrefersProtDirThenTheSettingsFolder)
{
  EXPECT_EQ(LogFolder(), FDir.File(u"config/"_s));
  SetLogFolderSources(QString(), u"/home/ann/.config/Ardanto6"_s);
  EXPECT_EQ(LogFolder(), u"/home/ann/.config/Ardanto6/"_s);
  SetLogFolderSources(u"/var/log/ardanto"_s, u"/home/ann/.config/Ardanto6/"_s);
  EXPECT_EQ(LogFolder(), u"/var/log/ardanto/"_s);
}

TEST_F(EnvironmentTest, ProgramIniFolderFallsBackToTheProgramFolder)
{
  const TProgramPaths saved = CurrentProgramPaths();
  SetProgramPaths({FDir.File(u"prog/"_s), u"quillbox"_s, FDir.File(u"config/"_s)});
  EXPECT_EQ(ProgramIniFolder(u"Ardanto6/"_s, true), FDir.File(u"config/Ardanto6/"_s));
  EXPECT_TRUE(QFileInfo(FDir.File(u"config/Ardanto6"_s)).isDir());
  // A file where the folder should be: it cannot be created.
  FDir.Write(u"config/Blocked"_s, "x");
  EXPECT_EQ(ProgramIniFolder(u"Blocked/"_s, true), FDir.File(u"prog/"_s));
  EXPECT_EQ(ProgramIniFolder(u"Blocked/"_s, false), FDir.File(u"config/Blocked/"_s));
  SetProgramPaths(saved);
}

TEST(UserAndComputer, AgreeWithTheSystemsTools)
{
  const ProcessResult id = test::Run(u"id"_s, {u"-un"_s});
  ASSERT_EQ(id.ExitCode, 0);
  EXPECT_EQ(UserName(), QString::fromLocal8Bit(id.Output).trimmed());
  EXPECT_EQ(SamUserName(), UserName());
  const ProcessResult host = test::Run(u"hostname"_s, {});
  if (host.ExitCode == 0) {
    EXPECT_EQ(ComputerName(), QString::fromLocal8Bit(host.Output).trimmed());
  }
}

// Task files in <tmp>/jobs, logs below <tmp>/logs, and a mount table of the
// test's own.
class TaskLogFileTest : public EnvironmentTest {
public:
  void SetUp() override
  {
    EnvironmentTest::SetUp();
    SetLogFolderSources(FDir.File(u"logs"_s), QString());
    FOldVolumes = SetVolumeSource([] {
      return QList<TMountedVolume>{{u"/"_s, QString(), u"ext4"_s, u"/dev/sda1"_s},
                                   {u"/media/ann/BACKUP"_s, u"BACKUP"_s, u"ext4"_s, u"/dev/sdb1"_s}};
    });
  }
  void TearDown() override
  {
    SetVolumeSource(FOldVolumes);
    EnvironmentTest::TearDown();
  }
  QString Task(const QByteArray& global, const QByteArray& dir000 = QByteArray())
  {
    return FDir.Write(u"jobs/tb-x.buj"_s, "[Global]\n" + global + "\n[Dir000]\n" + dir000 + "\n");
  }

  TVolumeSource FOldVolumes;
};

TEST_F(TaskLogFileTest, ExpandsTheLogNameOfATask)
{
  const QString logs = FDir.File(u"logs/"_s);
  struct TCase {
    const char* Global;
    const char* Dir000;
    QString Expected;
  } cases[] = {
      {"LogName=%TaskName%.log", "", logs + u"tb-x.log"_s},
      {"LogName=sub/%taskname%-%year%.log", "",
       logs + u"sub/tb-x-"_s + QString::number(QDate::currentDate().year()) + u".log"_s},
      {"LogName=/var/log/%taskname%.log", "", u"/var/log/tb-x.log"_s},
      {"LogName=%dest%/logs/%taskname%.log\nDestination=/backup/%volume%/%v#3%\nBackupCount=5", "Volume=SRC",
       u"/backup/SRC/2/logs/tb-x.log"_s},
      {"LogName=%dest%/%taskname%.log\nDestination=/backup/%v#3%", "", u"/backup/1/tb-x.log"_s}, // count 1
      {"LogName=%dest%/%taskname%.log\nDestination=:backup:/mail", "", u"/media/ann/BACKUP/mail/tb-x.log"_s},
      {"LogName=%dest%/%taskname%.log\nDestination=:gone:/mail", "", u":gone:/mail/tb-x.log"_s},
      {"LogName=%dest%/%taskname%.log", "", u"%dest%/tb-x.log"_s}, // never the root of the file system
      {"LogName=%volume%.log\nDestination=:BACKUP:/mail", "", logs + u"BACKUP.log"_s},
      {"LogName=\nDestination=/backup", "", QString()},
      {"Destination=/backup", "", QString()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Global);
    EXPECT_EQ(TaskLogFile(Task(c.Global, c.Dir000)), c.Expected);
  }
}

TEST_F(TaskLogFileTest, TaskNameAndDateFormTheDefaultName)
{
  const QString task = Task("LogName=%taskname%_%date%.log");
  const QString before = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
  const QString log = TaskLogFile(task);
  const QString after = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
  EXPECT_TRUE(log == FDir.File(u"logs/tb-x_"_s) + before + u".log"_s ||
              log == FDir.File(u"logs/tb-x_"_s) + after + u".log"_s)
      << log.toStdString();
}

TEST_F(TaskLogFileTest, NoTaskNoLog)
{
  EXPECT_EQ(TaskLogFile(QString()), QString());
  EXPECT_EQ(TaskLogFile(FDir.File(u"jobs/missing.buj"_s)), QString());
  QDir().mkpath(FDir.File(u"jobs/folder.buj"_s));
  EXPECT_EQ(TaskLogFile(FDir.File(u"jobs/folder.buj"_s)), QString());
}

} // namespace
