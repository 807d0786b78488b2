#include "common/PlaceHolders.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QDateTime At(const char16_t* iso)
{
  return QDateTime::fromString(QString::fromUtf16(iso), Qt::ISODate);
}

// First line a peer program printed, without its line end.
QString PeerOutput(const QString& program, const QStringList& args)
{
  const ProcessResult result = Run(program, args);
  EXPECT_TRUE(result.Started && result.ExitCode == 0) << program.toStdString();
  return QString::fromLocal8Bit(result.Output).section(u'\n', 0, 0).trimmed();
}

QString SystemUser()
{
  return PeerOutput(u"id"_s, {u"-un"_s});
}

QString SystemHost()
{
  return PeerOutput(u"hostname"_s, {});
}

struct TDateCase {
  const char16_t* Text;
  const char16_t* When;
  int Counter;
  const char16_t* Expected;
};

void PrintTo(const TDateCase& c, std::ostream* os)
{
  *os << QString::fromUtf16(c.Text).toStdString() << " at " << QString::fromUtf16(c.When).toStdString() << " counter "
      << c.Counter;
}

class DatePlaceholder : public ::testing::TestWithParam<TDateCase> {};

TEST_P(DatePlaceholder, Expands)
{
  const TDateCase& c = GetParam();
  EXPECT_EQ(ExpandDatePlaceholders(QString::fromUtf16(c.Text), c.Counter, At(c.When), QLocale::c()),
            QString::fromUtf16(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DatePlaceholder,
    ::testing::Values(
        TDateCase{u"%date%|%DATE%|%Date%", u"2010-12-04T12:00:00", 0, u"2010-12-04|2010-12-04|2010-12-04"},
        TDateCase{u"%foo%/%date/%dates%", u"2010-12-04T12:00:00", 0, u"%foo%/%date/%dates%"},
        // ISO weeks at the turn of the year.
        TDateCase{u"%yaw% %week%", u"2010-01-02T12:00:00", 0, u"2009-53 53"},
        TDateCase{u"%yaw% %week%", u"2008-12-29T12:00:00", 0, u"2009-01 01"},
        TDateCase{u"%yaw% %week%", u"2010-01-04T12:00:00", 0, u"2010-01 01"},
        TDateCase{u"%dow% %ldow% %dnw%", u"2010-01-04T12:00:00", 0, u"Mon Monday 1"},
        TDateCase{u"%dow% %ldow% %dnw%", u"2010-01-03T12:00:00", 0, u"Sun Sunday 7"},
        TDateCase{u"%day%", u"2010-01-08T12:00:00", 0, u"008"}, TDateCase{u"%day%", u"2008-12-31T12:00:00", 0, u"366"},
        TDateCase{u"%dom%.%month%.%year% %lmonth%", u"2010-03-05T12:00:00", 0, u"05.03.2010 March"},
        // A week belongs to the month that holds its Thursday.
        TDateCase{u"%wom%", u"2010-01-01T12:00:00", 0, u"5"}, TDateCase{u"%wom%", u"2010-01-04T12:00:00", 0, u"1"},
        TDateCase{u"%wom%", u"2010-03-25T12:00:00", 0, u"4"}, TDateCase{u"%wom%", u"2010-03-31T12:00:00", 0, u"1"},
        TDateCase{u"%wom%", u"2010-12-30T12:00:00", 0, u"5"},
        TDateCase{u"%time% %hour%:%minute%", u"2010-12-04T07:05:09", 0, u"070509 07:05"},
        TDateCase{u"%TIME%", u"2010-12-04T23:59:59", 0, u"235959"},
        // Placeholders without a value are removed.
        TDateCase{u"a%d#?%b%w#?%%m#?%%v#?%%volume%%MODE%c", u"2010-12-04T12:00:00", 0, u"abc"},
        // Cycle counters.
        TDateCase{u"%v#3%", u"2010-12-04T12:00:00", 5, u"2"}, TDateCase{u"%v#3%", u"2010-12-04T12:00:00", 3, u"3"},
        TDateCase{u"%v#3%", u"2010-12-04T12:00:00", 0, u"%v#3%"}, TDateCase{u"%d#7%", u"2010-01-08T12:00:00", 1, u"1"},
        TDateCase{u"%D#7%", u"2010-01-08T12:00:00", 1, u"1"}, TDateCase{u"[%d#x%]", u"2010-01-08T12:00:00", 1, u"[]"},
        TDateCase{u"[%d#0%][%d#-3%]", u"2010-01-08T12:00:00", 1, u"[][]"},
        TDateCase{u"%d#10% %d#100%", u"2010-01-08T12:00:00", 1, u"08 008"},
        TDateCase{u"%d#7%-%d#3%/%d#7%", u"2010-01-08T12:00:00", 1, u"1-2/1"},
        TDateCase{u"%w#2% %m#5%", u"2010-01-02T12:00:00", 1, u"1 1"},
        TDateCase{u"%m#5%", u"2010-12-04T12:00:00", 1, u"2"},
        TDateCase{u"x%d#7", u"2010-01-08T12:00:00", 1, u"x%d#7"}));

TEST(PlaceHolders, UserAndComputerComeFromTheSystem)
{
  const QString user = SystemUser();
  const QString host = SystemHost();
  ASSERT_FALSE(user.isEmpty());
  EXPECT_EQ(ExpandDatePlaceholders(u"%user%|%computer%|%USERNAME%|%computername%"_s, 0),
            user + u'|' + host + u'|' + user + u'|' + host);
}

TEST(PlaceHolders, PublicRoutinesUseTheCurrentDate)
{
  const QString before = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
  const QString date = ExpandDatePlaceholders(u"%date%"_s, 0);
  const QString device = ExpandDevicePlaceholders(u"%date%"_s, u"cam"_s);
  const QString log = ExpandLogPlaceholders(u"%date%"_s, QString());
  const QString after = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
  for (const QString& value : {date, device, log})
    EXPECT_TRUE(value == before || value == after) << value.toStdString();
}

// The names come from the locale the user's environment selects; German
// short day names end with a dot, which a folder name does without.
TEST(PlaceHolders, DayAndMonthNamesFollowTheUsersLocale)
{
  ScopedEnv lcAll("LC_ALL", "de_DE.UTF-8");
  const ProcessResult result =
      test::Run(QStringLiteral(PLACEHOLDERS_PROBE), {u"%dow%|%ldow%|%lmonth%|%date%"_s, u"2010-03-01T12:00:00"_s});
  ASSERT_TRUE(result.Started);
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(QString::fromUtf8(result.Output), u"Mo|Montag|März|2010-03-01"_s);
}

TEST(PlaceHolders, DeviceTableHasTheDeviceAndTheDate)
{
  const QDateTime when = At(u"2010-03-01T12:00:00");
  const struct {
    const char16_t* Text;
    const char16_t* Device;
    const char16_t* Expected;
  } cases[] = {
      {u"/backup/%Device%/%date%_%dow%_%wom%", u"Pixel 7", u"/backup/Pixel 7/2010-03-01_Mon_1"},
      // Not part of the device table.
      {u"%time%%user%%computer%%d#?%", u"Pixel 7", u"%time%%user%%computer%%d#?%"},
      // A device name cannot lead out of the destination or into subfolders.
      {u"/backup/%device%/x", u"Ann/Phone", u"/backup/Ann_Phone/x"},
      {u"/backup/%device%/x", u"..", u"/backup/__/x"},
      {u"/backup/%device%", u".hidden", u"/backup/.hidden"},
      // Inserted values are not expanded again.
      {u"/backup/%device%", u"%date%", u"/backup/%date%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandDevicePlaceholders(QString::fromUtf16(c.Text), QString::fromUtf16(c.Device), when, QLocale::c()),
              QString::fromUtf16(c.Expected))
        << QString::fromUtf16(c.Text).toStdString();
  }
}

class PathPlaceholder : public ::testing::Test {
protected:
  PathPlaceholder()
    : FHomeEnv("HOME", QFile::encodeName(Home())), FConfigEnv("XDG_CONFIG_HOME", QFile::encodeName(Config() + u'/')),
      FDataEnv("XDG_DATA_HOME", QFile::encodeName(Data())), FDataDirsEnv("XDG_DATA_DIRS", "/srv/share/:/usr/share")
  {
    FTemp.Write(u"config/user-dirs.dirs"_s, "# written by xdg-user-dirs-update\n"
                                            "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                                            "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                            "XDG_PUBLICSHARE_DIR=\"$HOME/\xC3\x96"
                                            "ffentlich\"\n");
    QDir().mkpath(Home());
    QDir().mkpath(Data());
  }

  QString Home() const { return FTemp.Path() + u"/home/ann"_s; }
  QString Config() const { return FTemp.Path() + u"/config"_s; }
  QString Data() const { return FTemp.Path() + u"/data"_s; }

  TempDir FTemp;
  ScopedEnv FHomeEnv;
  ScopedEnv FConfigEnv;
  ScopedEnv FDataEnv;
  ScopedEnv FDataDirsEnv;
};

TEST_F(PathPlaceholder, NameTheUsersFolders)
{
  const ScopedEnv unset[] = {{"ProgramW6432", ""},      {"CommonProgramW6432", ""},
                             {"ProgramFiles(x86)", ""}, {"CommonProgramFiles(x86)", ""},
                             {"ALLUSERSPROFILE", ""},   {"PUBLIC", ""}};
  const struct {
    const char16_t* Text;
    QString Expected;
  } cases[] = {
      {u"%perspath%/notes", Home() + u"/Dokumente/notes"},
      {u"%APPPATH%|%appdata%", Config() + u'|' + Config()},
      {u"%localappdata%", Data()},
      {u"%profile%|%userprofile%", Home() + u'|' + Home()},
      {u"%desktop%", Home() + u"/Schreibtisch"},
      {u"[%favorites%][%user%][%computer%]", u"[][][]"_s},
      {u"%progfiles%|%programfiles%|%programfiles(x86)%", u"/opt|/opt|/opt"_s},
      {u"%commonprogramfiles%|%commonprogramfiles(x86)%", u"/usr/lib|/usr/lib"_s},
      {u"%allusersprofile%|%programdata%", u"/srv/share|/srv/share"_s},
      {u"%public%", Home() + u"/Öffentlich"},
      {u"%progpath%", QCoreApplication::applicationDirPath()},
      {u"%username%@%computername%", SystemUser() + u'@' + SystemHost()},
      {u"%unknown%/%date%", u"%unknown%/%date%"_s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExpandPathPlaceholders(QString::fromUtf16(c.Text)), c.Expected)
        << QString::fromUtf16(c.Text).toStdString();
}

TEST_F(PathPlaceholder, SystemTableTakesItsVariablesWhenSet)
{
  const ScopedEnv set[] = {{"ProgramW6432", "/w64"},      {"CommonProgramW6432", "/cw64"},
                           {"ProgramFiles(x86)", "/x86"}, {"CommonProgramFiles(x86)", "/cx86"},
                           {"ALLUSERSPROFILE", "/all/"},  {"PUBLIC", "/pub"}};
  EXPECT_EQ(ExpandPathPlaceholders(u"%programfiles%|%commonprogramfiles%|%programfiles(x86)%|"
                                   u"%commonprogramfiles(x86)%|%allusersprofile%|%programdata%|%public%|%progfiles%"_s),
            u"/w64|/cw64|/x86|/cx86|/all|/all|/pub|/opt"_s);
}

TEST(PlaceHolders, DestinationExpandsVolumeEnvironmentAndDate)
{
  TempDir temp;
  const ScopedEnv tempEnv("TEMP", QFile::encodeName(temp.Path()));
  const ScopedEnv valueEnv("ARDANTO_PLACEHOLDER_VALUE", "%date%");
  const QDateTime when = At(u"2010-12-04T12:00:00");
  const struct {
    const char16_t* Text;
    const char16_t* Volume;
    int Counter;
    QString Expected;
  } cases[] = {
      {u"%Volume%/%evar(TEMP)%/%date%", u"DATA", 1, u"DATA/"_s + temp.Path() + u"/2010-12-04"},
      {u"%EVAR(TEMP)%|%evar(TEMP)%", u"", 1, temp.Path() + u'|' + temp.Path()},
      {u"%date%%evar(TEMP)%", u"", 1, u"2010-12-04"_s + temp.Path()},
      {u"%evar(ARDANTO_NOT_DEFINED_4711)%/x", u"", 1, u"%evar(ARDANTO_NOT_DEFINED_4711)%/x"_s},
      {u"%evar(TEMP/x", u"", 1, u"%evar(TEMP/x"_s},
      {u"%v#3%", u"", 5, u"2"_s},
      // Values are final: a variable or label holding a placeholder stays as it is.
      {u"%evar(ARDANTO_PLACEHOLDER_VALUE)%", u"", 1, u"%date%"_s},
      {u"%volume%", u"%year%", 1, u"%year%"_s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandDestinationPlaceholders(QString::fromUtf16(c.Text), QString::fromUtf16(c.Volume), c.Counter, when,
                                            QLocale::c()),
              c.Expected)
        << QString::fromUtf16(c.Text).toStdString();
  }
}

TEST(PlaceHolders, LogTableNamesDestinationDriveAndVolume)
{
  TempDir temp;
  const QString destination = temp.Path() + u"/not/yet/there"_s;
  const QDateTime when = At(u"2019-07-03T10:20:30");
  // df names the mount point of the filesystem that holds the folder.
  const ProcessResult df = test::Run(u"df"_s, {u"--output=target"_s, temp.Path()});
  ASSERT_EQ(df.ExitCode, 0);
  const QString mountPoint = QString::fromLocal8Bit(df.Output).split(u'\n').value(1).trimmed();
  ASSERT_FALSE(mountPoint.isEmpty());

  EXPECT_EQ(ExpandLogPlaceholders(u"%date%_%time%_%yaw%_%yam%_%year%"_s, destination, when),
            u"2019-07-03_102030_2019-27_2019-07_2019"_s);
  EXPECT_EQ(ExpandLogPlaceholders(u"%dest%|%drive%|%username%|%computername%"_s, destination, when),
            destination + u'|' + mountPoint + u'|' + SystemUser() + u'|' + SystemHost());
  EXPECT_EQ(ExpandLogPlaceholders(u"%volume%|%drive%|%dest%"_s, u":BACKUP_4711:/logs"_s, when),
            u"BACKUP_4711||:BACKUP_4711:/logs"_s);
  EXPECT_EQ(ExpandLogPlaceholders(u"[%drive%][%volume%][%dow%]"_s, QString(), when), u"[][][%dow%]"_s);
}

TEST(PlaceHolders, PathBeforePlaceholders)
{
  const struct {
    const char16_t* Path;
    const char16_t* Expected;
  } cases[] = {
      {u"/backup/%date%/mail", u"/backup/"},
      {u"/home/ann/backup", u"/home/ann/backup"},
      {u"/home/ann/", u"/home/ann/"},
      {u"/a/b%year%c/d", u"/a/"},
      {u"relative/dir/%date%", u"relative/dir/"},
      {u"%evar(HOME)%/x", u""},
      {u"", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PathBeforePlaceholders(QString::fromUtf16(c.Path)), QString::fromUtf16(c.Expected));
}

// Every word a routine's tables offer is known to that routine.
TEST(PlaceHolders, EveryTableEntryIsExpandedByItsRoutine)
{
  const QDateTime when = At(u"2010-12-04T12:00:00");
  const auto expectGone = [](const QString& placeholder, const QString& expanded) {
    EXPECT_FALSE(expanded.contains(placeholder, Qt::CaseInsensitive)) << placeholder.toStdString();
  };
  for (const QStringList* table : {&DatePlaceholders(), &TimePlaceholders()}) {
    for (const QString& placeholder : *table)
      expectGone(placeholder, ExpandDatePlaceholders(placeholder, 1, when, QLocale::c()));
  }
  for (const QString& placeholder : PortablePlaceholders())
    expectGone(placeholder, ExpandDevicePlaceholders(placeholder, u"cam"_s, when, QLocale::c()));
  for (const QStringList* table : {&PathPlaceholders(), &SystemPlaceholders()}) {
    for (const QString& placeholder : *table)
      expectGone(placeholder, ExpandPathPlaceholders(placeholder));
  }
  for (const QString& placeholder : LogPlaceholders())
    expectGone(placeholder, ExpandLogPlaceholders(placeholder, QDir::tempPath(), when));
}

} // namespace
