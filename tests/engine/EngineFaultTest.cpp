// The engine when things go wrong: task files that are no tasks, a full
// destination, a run killed in the middle, a second engine on the same task,
// a database written to while it is backed up, and logind on a private bus.

#include "EngineTestSupport.h"

#include "support/ThunderbirdProfiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string_view>

using namespace enginetest;
using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;
using ardanto::test::WriteFile;

namespace {

class FaultTest : public EngineTest {
protected:
  QString Profile(const std::vector<TFixtureFile>& files)
  {
    const QString folder = Path(u"home/.thunderbird/p.default"_s);
    MakeTree(folder, files);
    return folder;
  }
  TBackupSpec Spec(const QString& source) const
  {
    TBackupSpec spec;
    spec.Destination = Path(u"backup"_s);
    spec.Sources = {source};
    return spec;
  }
  // Names below folder that are copies in progress.
  static QStringList Temporaries(const QString& folder)
  {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString name = QFileInfo(it.next()).fileName();
      if (name.startsWith(u".ar-"_s) || name.startsWith(u"..ar-"_s))
        found << name;
    }
    return found;
  }
  static QByteArray Random(qsizetype size)
  {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
  }
};

struct TBadTask;

class BadTaskTest : public FaultTest, public ::testing::WithParamInterface<TBadTask> {
public:
  // For the table below.
  using FaultTest::Path;
  using FaultTest::Spec;
  using FaultTest::WriteBackupTask;
  using FaultTest::WriteRestoreTask;
};

struct TBadTask {
  const char* Name;
  int Code;
  const char* Error;                                                    // part of the error line
  std::function<QStringList(BadTaskTest&, const QString& source)> Make; // the command line
};

void PrintTo(const TBadTask& task, std::ostream* os)
{
  *os << task.Name;
}

QStringList BackupWith(BadTaskTest& t, const QString& source, const std::function<void(TBackupSpec&)>& change)
{
  TBackupSpec spec = t.Spec(source);
  change(spec);
  return {t.WriteBackupTask(u"tb-bad.buj"_s, spec), u"/force"_s};
}

QStringList RawTask(BadTaskTest& t, const QByteArray& content)
{
  const QString file = t.Path(u"tb-bad.buj"_s);
  WriteFile(file, content);
  return {file, u"/force"_s};
}

const TBadTask kBadTasks[] = {
    {"Missing", 1, "Task not found",
     [](BadTaskTest& t, const QString&) {
       return QStringList{t.Path(u"tb-bad.buj"_s), u"/force"_s};
     }},
    {"Folder", 1, "cannot be read",
     [](BadTaskTest& t, const QString&) {
       const QString folder = t.Path(u"tb-bad.buj"_s);
       QDir().mkpath(folder);
       return QStringList{folder, u"/force"_s};
     }},
    {"Empty", 6, "is no task file", [](BadTaskTest& t, const QString&) { return RawTask(t, QByteArray()); }},
    {"Garbage", 6, "is no task file",
     [](BadTaskTest& t, const QString&) {
       QByteArray garbage;
       for (int i = 0; i < 4096; ++i)
         garbage.append(static_cast<char>((i * 7919 + 13) & 0xFF));
       return RawTask(t, garbage);
     }},
    {"RestoreOptionOnABackup", 6, "backup task",
     [](BadTaskTest& t, const QString& source) { return BackupWith(t, source, [](TBackupSpec&) {}) << u"/restore"_s; }},
    {"RestoreTaskWithoutTheOption", 6, "restore task",
     [](BadTaskTest& t, const QString& source) {
       TRestoreSpec spec;
       spec.Source = source;
       spec.Target = t.Path(u"target"_s);
       return QStringList{t.WriteRestoreTask(u"tb-bad.rsj"_s, spec), u"/force"_s};
     }},
    {"DirCountNoNumber", 6, "[Global] DirCount",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.ExtraGlobal = {{u"DirCount"_s, u"two"_s}}; });
     }},
    {"DirCountAbsurd", 6, "[Global] DirCount",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.ExtraGlobal = {{u"DirCount"_s, u"2000000000"_s}}; });
     }},
    {"NoEnabledEntry", 6, "no enabled source",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.ExtraGlobal = {{u"DirCount"_s, u"0"_s}}; });
     }},
    {"BadTimespan", 6, "[Global] Timespan",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.ExtraGlobal = {{u"Timespan"_s, u"-5"_s}}; });
     }},
    {"BadFilter", 6, "[Dir000] Filter",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.Filter = u"[abc"_s; });
     }},
    {"DestinationEmpty", 2, "[Global] Destination",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.Destination.clear(); });
     }},
    {"DestinationRoot", 6, "root folder",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.Destination = u"/"_s; });
     }},
    {"DestinationInsideTheSource", 6, "lies inside the source",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [&](TBackupSpec& s) { s.Destination = source + u"/backup"_s; });
     }},
    {"DestinationOnAVolumeNotMounted", 2, "Volume \"NoSuchBackupDisk\" not found",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.Destination = u":NoSuchBackupDisk:/mail"_s; });
     }},
    {"DestinationRelative", 6, "no absolute path",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.Destination = u"backup"_s; });
     }},
    {"DestinationNotWritable", 2, "Could not create directory",
     [](BadTaskTest& t, const QString& source) {
       const QString file = t.Path(u"a-file"_s);
       WriteFile(file, "no folder");
       return BackupWith(t, source, [&](TBackupSpec& s) { s.Destination = file + u"/backup"_s; });
     }},
    {"SourceRelative", 6, "[Dir000] Source",
     [](BadTaskTest& t, const QString&) {
       return BackupWith(t, QString(), [](TBackupSpec& s) { s.Sources = {u"profile"_s}; });
     }},
    {"EncryptedWithoutPasswordUnattended", 6, "No password",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [](TBackupSpec& s) { s.Encrypt = 1; });
     }},
    {"SourceMissing", 3, "Source directory not found",
     [](BadTaskTest& t, const QString& source) {
       return BackupWith(t, source, [&](TBackupSpec& s) { s.Sources = {source + u"-gone"_s}; });
     }},
};

TEST_P(BadTaskTest, EndsWithItsCodeAndAReasonInTheLog)
{
  const TBadTask& bad = GetParam();
  const QString source = Profile({{u"prefs.js"_s, "p", {}}});
  const QStringList arguments = bad.Make(*this, source);
  const TEngineRun run = Run(arguments);
  EXPECT_EQ(run.ExitCode, bad.Code) << run.Output.toStdString();
  // A task that names no readable log goes to the log folder (the suite's
  // settings folder here) under its own name.
  const QString name = QFileInfo(arguments.front()).completeBaseName() + u".log"_s;
  const bool readable =
      bad.Code != 1 && std::string_view(bad.Name) != "Empty" && std::string_view(bad.Name) != "Garbage";
  const QString logFile = (readable ? LogFolder() : Path(u"config/Ardanto6"_s)) + u'/' + name;
  ASSERT_TRUE(QFileInfo::exists(logFile)) << logFile.toStdString();
  const QString log = LastSection(logFile).join(u'\n');
  const QStringList errors = Errors(LastSection(logFile));
  EXPECT_TRUE(std::any_of(errors.begin(), errors.end(),
                          [&](const QString& line) { return line.contains(QString::fromUtf8(bad.Error)); }))
      << "log:\n"
      << log.toStdString();
  EXPECT_TRUE(log.contains(u" - finished "_s));
  if (bad.Code != 3) {
    EXPECT_FALSE(QFileInfo::exists(Path(u"backup"_s))) << "nothing is written for a task that does not run";
  }
}

INSTANTIATE_TEST_SUITE_P(Tasks, BadTaskTest, ::testing::ValuesIn(kBadTasks),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(FaultTest, AFullDestinationStopsTheRunAndLeavesThePreviousBackupIntact)
{
  if (!ardanto::test::HasProgram(u"unshare"_s))
    GTEST_SKIP() << "needs unshare (util-linux)";
  const QString source = Profile({{u"prefs.js"_s, "first prefs", {}}, {u"z-mail"_s, "mail", {}}});
  TBackupSpec spec = Spec(source);
  const QString task = WriteBackupTask(u"tb-full.buj"_s, spec);
  const QString copy = Path(u"copy"_s);
  QDir().mkpath(copy);
  QDir().mkpath(spec.Destination);
  WriteFile(Path(u"big.bin"_s), Random(3 << 20));
  // In a mount namespace of its own a 1 MiB tmpfs becomes the destination:
  // one backup fits, then a file that does not fit comes along.
  const QString script = uR"py(
set -u
mount -t tmpfs -o size=1m tmpfs "$1" || exit 77
"$2" "$3" /force; echo "first=$?"
cp "$4/big.bin" "$5/big.bin"; echo "second prefs" > "$5/prefs.js"; touch -d '2024-01-01' "$5/prefs.js"
"$2" "$3" /force; echo "second=$?"
cp -a "$1/." "$6/"
)py"_s;
  const TToolResult result = RunTool(
      u"unshare"_s,
      {u"-rm"_s, u"sh"_s, u"-c"_s, script, u"sh"_s, spec.Destination, EngineProgram(), task, Root(), source, copy},
      Environment(), 120000);
  if (result.ExitCode == 77 || result.ExitCode == 1)
    GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << result.Err.toStdString();
  ASSERT_TRUE(result.Out.contains("first=0")) << result.Out.toStdString() << result.Err.toStdString();
  EXPECT_TRUE(result.Out.contains("second=5") || result.Out.contains("second=4")) << result.Out.toStdString();
  const QStringList log = LastSection(LogFolder() + u"/tb-full.log"_s);
  EXPECT_FALSE(Errors(log).isEmpty()) << log.join(u'\n').toStdString();

  const QString backup = BackupOf(copy, source);
  EXPECT_TRUE(Temporaries(copy).isEmpty()) << Temporaries(copy).join(u' ').toStdString();
  for (const QString& name : FilesBelow(backup)) {
    const TToolResult test = RunTool(u"unzip"_s, {u"-tq"_s, backup + u'/' + name});
    EXPECT_EQ(test.ExitCode, 0) << name.toStdString() << ": no incomplete file under a final name";
  }
  const TToolResult prefs = RunTool(u"unzip"_s, {u"-p"_s, backup + u"/prefs.js.zip"_s});
  EXPECT_TRUE(prefs.Out == "first prefs" || prefs.Out == "second prefs\n") << prefs.Out.toStdString();
  EXPECT_EQ(RunTool(u"unzip"_s, {u"-p"_s, backup + u"/z-mail.zip"_s}).Out, QByteArray("mail"));
}

TEST_F(FaultTest, ASecondEngineIsRefusedAndAKilledRunIsCleanedUpByTheNext)
{
  const QString source = Profile({{u"big.bin"_s, Random(64 << 20), {}}, {u"prefs.js"_s, "p", {}}});
  TBackupSpec spec = Spec(source);
  spec.Zip = false;
  const QString task = WriteBackupTask(u"tb-slow.buj"_s, spec);
  const QString backup = BackupOf(spec.Destination, source);

  QProcess first;
  first.setProcessEnvironment(Environment());
  first.start(EngineProgram(), {task, u"/force"_s});
  ASSERT_TRUE(first.waitForStarted());
  const QString lock = Path(u".tb-slow.buj.lock"_s);
  QElapsedTimer timer;
  timer.start();
  while (Temporaries(backup).isEmpty() && timer.elapsed() < 20000)
    QThread::msleep(5);
  ASSERT_TRUE(QFileInfo::exists(lock));
  ASSERT_FALSE(Temporaries(backup).isEmpty()) << "the first engine is copying";

  const TEngineRun second = Run({task, u"/force"_s});
  EXPECT_EQ(second.ExitCode, 5);
  EXPECT_TRUE(ReadFile(LogFolder() + u"/tb-slow.log"_s).contains("  *** The task is already running (process "));

  ASSERT_EQ(first.state(), QProcess::Running) << "the copy ended before it could be killed";
  ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
  first.waitForFinished();
  ASSERT_FALSE(QFileInfo::exists(backup + u"/big.bin.gz"_s)) << "no incomplete copy under the final name";
  ASSERT_FALSE(Temporaries(backup).isEmpty());

  // Temporaries count as left over when they are older than the run.
  QThread::msleep(1100);
  const TEngineRun rerun = Run({task, u"/force"_s});
  ASSERT_EQ(rerun.ExitCode, 0) << rerun.Log.join(u'\n').toStdString();
  EXPECT_TRUE(Temporaries(backup).isEmpty()) << Temporaries(backup).join(u' ').toStdString();
  EXPECT_EQ(RunTool(u"gzip"_s, {u"-t"_s, backup + u"/big.bin.gz"_s}).ExitCode, 0);
  EXPECT_EQ(FilesBelow(backup), (QStringList{u"big.bin.gz"_s, u"prefs.js.gz"_s}));
  EXPECT_FALSE(QFileInfo::exists(lock)) << "the lock goes with the run";
}

TEST_F(FaultTest, ADatabaseWrittenDuringTheBackupRestoresWhole)
{
  ardanto::test::ThunderbirdHome home;
  try {
    QDir().mkpath(Path(u"tb"_s));
    home = ardanto::test::CopyThunderbirdHome(Path(u"tb"_s));
  } catch (const std::exception& e) {
    GTEST_SKIP() << "needs a Thunderbird profile: " << e.what();
  }
  const QString profile = home.ProfileFolder(ardanto::test::StartedProfile());
  QString database;
  for (const QString& name : {u"abook.sqlite"_s, u"places.sqlite"_s, u"global-messages-db.sqlite"_s}) {
    if (QFileInfo::exists(profile + u'/' + name)) {
      database = name;
      break;
    }
  }
  ASSERT_FALSE(database.isEmpty()) << "the profile has no database";

  // The writer keeps committing into the log and never checkpoints, so the
  // rows are in the -wal file only: a plain copy of the database lacks them.
  const QString writer = uR"py(
import os, sqlite3, sys, time
db, progress = sys.argv[1], sys.argv[2]
c = sqlite3.connect(db, isolation_level=None, timeout=30)
c.execute("pragma journal_mode=wal")
c.execute("pragma wal_autocheckpoint=0")
c.execute("create table if not exists ardanto_rows(n integer primary key, pad text)")
n = 0
while not os.path.exists(progress + ".stop"):
    c.execute("begin")
    for _ in range(20):
        n += 1
        c.execute("insert into ardanto_rows values(?, ?)", (n, "x" * 300))
    c.execute("commit")
    with open(progress + ".tmp", "w") as f:
        f.write(str(n))
    os.replace(progress + ".tmp", progress)
    time.sleep(0.001)
)py"_s;
  const QString progress = Path(u"progress"_s);
  QProcess writing;
  writing.start(Python(), {u"-c"_s, writer, profile + u'/' + database, progress});
  ASSERT_TRUE(writing.waitForStarted());
  const auto committed = [&] {
    return QString::fromUtf8(QFile::exists(progress) ? ReadFile(progress) : "0").toLongLong();
  };
  QElapsedTimer timer;
  timer.start();
  while (committed() < 3000 && timer.elapsed() < 30000)
    QThread::msleep(10);
  const qint64 before = committed();
  ASSERT_GE(before, 3000) << writing.readAllStandardError().toStdString();

  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {profile};
  spec.Exclude = u"SQLITE-WAL,SQLITE-SHM"_s;
  const TEngineRun run = Run({WriteBackupTask(u"tb-live.buj"_s, spec), u"/force"_s}, 120000);
  WriteFile(progress + u".stop"_s, "");
  writing.waitForFinished(30000);
  ASSERT_EQ(run.ExitCode, 0) << run.Log.join(u'\n').toStdString();
  const QString backup = BackupOf(spec.Destination, profile);
  EXPECT_FALSE(QFileInfo::exists(backup + u'/' + database + u"-wal.zip"_s));

  TRestoreSpec restore;
  restore.Source = backup;
  restore.Target = Path(u"restored"_s);
  const TEngineRun restored = Run({WriteRestoreTask(u"tb-live.rsj"_s, restore), u"/restore"_s, u"/force"_s}, 120000);
  ASSERT_EQ(restored.ExitCode, 0) << restored.Log.join(u'\n').toStdString();
  const QString check = uR"py(
import sqlite3, sys
c = sqlite3.connect("file:" + sys.argv[1] + "?mode=ro", uri=True)
print(c.execute("pragma integrity_check").fetchone()[0])
print(c.execute("select count(*), coalesce(max(n), 0) from ardanto_rows").fetchone())
print(sorted(r[0] for r in c.execute("select name from sqlite_master where type='table'")))
)py"_s;
  const TToolResult result = RunTool(Python(), {u"-c"_s, check, restore.Target + u'/' + database});
  ASSERT_EQ(result.ExitCode, 0) << result.Err.toStdString();
  const QStringList lines = QString::fromUtf8(result.Out).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << result.Out.toStdString();
  EXPECT_EQ(lines[0], u"ok"_s);
  const QStringList counts = lines[1].mid(1, lines[1].size() - 2).split(u", "_s);
  ASSERT_EQ(counts.size(), 2);
  EXPECT_GE(counts[0].toLongLong(), before) << "every row committed before the backup began";
  EXPECT_EQ(counts[0], counts[1]) << "no row of a transaction missing";
  const TToolResult original = RunTool(Python(), {u"-c"_s, check, profile + u'/' + database});
  EXPECT_EQ(QString::fromUtf8(original.Out).split(u'\n').value(2), lines[2]) << "the same tables";
}

TEST_F(FaultTest, LogindHoldsShutdownAndSuspendForTheRun)
{
  const QString python = Python();
  if (!ardanto::test::HasProgram(u"dbus-daemon"_s) || RunTool(python, {u"-c"_s, u"import dbusmock"_s}).ExitCode != 0)
    GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock";
  const QString address = u"unix:path="_s + Path(u"bus"_s);
  QProcess daemon;
  daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--nopidfile"_s, u"--address="_s + address});
  ASSERT_TRUE(daemon.waitForStarted());
  QElapsedTimer timer;
  timer.start();
  while (!QFileInfo::exists(Path(u"bus"_s)) && timer.elapsed() < 10000)
    QThread::msleep(20);
  QProcess mock;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
  mock.setProcessEnvironment(environment);
  mock.start(python,
             {u"-m"_s, u"dbusmock"_s, u"-l"_s, Path(u"logind.log"_s), u"--system"_s, u"--template"_s, u"logind"_s});
  ASSERT_TRUE(mock.waitForStarted());
  {
    QDBusConnection bus = QDBusConnection::connectToBus(address, u"engine-test"_s);
    while (!bus.interface()->isServiceRegistered(u"org.freedesktop.login1"_s).value() && timer.elapsed() < 20000)
      QThread::msleep(50);
    ASSERT_TRUE(bus.interface()->isServiceRegistered(u"org.freedesktop.login1"_s).value());
  }
  QDBusConnection::disconnectFromBus(u"engine-test"_s);

  const QString source = Profile({{u"prefs.js"_s, "p", {}}});
  QProcessEnvironment engineEnvironment = Environment();
  engineEnvironment.insert(u"ARDANTO_SYSTEM_BUS_ADDRESS"_s, address);
  const TToolResult run =
      RunTool(EngineProgram(), {WriteBackupTask(u"tb-logind.buj"_s, Spec(source)), u"/force"_s}, engineEnvironment);
  mock.terminate();
  mock.waitForFinished();
  daemon.terminate();
  daemon.waitForFinished();
  EXPECT_EQ(run.ExitCode, 0);
  const QString log = LastSection(LogFolder() + u"/tb-logind.log"_s).join(u'\n');
  EXPECT_TRUE(log.contains(u"Shutdown and suspend wait for the run (logind: block)"_s)) << log.toStdString();
  const QByteArray calls = ReadFile(Path(u"logind.log"_s));
  EXPECT_TRUE(calls.contains("Inhibit \"sleep:shutdown\" \"Ardanto\"")) << calls.toStdString();
  EXPECT_TRUE(calls.contains("\"block\"")) << calls.toStdString();
}

} // namespace

namespace {

TEST_F(FaultTest, ADatabaseHeldExclusivelyKeepsItsEarlierCopy)
{
  const QString source = Profile({{u"prefs.js"_s, "p", {}}});
  const QString database = source + u"/places.sqlite"_s;
  const QString make = uR"py(
import sqlite3, sys
c = sqlite3.connect(sys.argv[1], isolation_level=None)
c.execute("pragma journal_mode=wal")
c.execute("create table t(a)")
c.execute("insert into t values('first')")
c.close()
)py"_s;
  ASSERT_EQ(RunTool(Python(), {u"-c"_s, make, database}).ExitCode, 0);
  TBackupSpec spec = Spec(source);
  spec.Timespan = 0; // the write below comes within the same second
  const QString task = WriteBackupTask(u"tb-locked.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  const QString copy = BackupOf(spec.Destination, source) + u"/places.sqlite.zip"_s;
  const QByteArray earlier = ReadFile(copy);

  // Exclusive locking mode: after its first write the holder lets no reader in.
  const QString hold = uR"py(
import sqlite3, sys
c = sqlite3.connect(sys.argv[1], isolation_level=None)
c.execute("pragma locking_mode=exclusive")
c.execute("insert into t values('second')")
print("locked", flush=True)
sys.stdin.read()
)py"_s;
  QProcess holder;
  holder.start(Python(), {u"-c"_s, hold, database});
  ASSERT_TRUE(holder.waitForReadyRead(10000)) << holder.readAllStandardError().toStdString();
  const TEngineRun run = Run({task, u"/force"_s});
  holder.closeWriteChannel();
  holder.waitForFinished();
  EXPECT_EQ(run.ExitCode, 4);
  ASSERT_EQ(Errors(run.Log).size(), 1) << run.Log.join(u'\n').toStdString();
  EXPECT_TRUE(Errors(run.Log).front().contains(u"locked by another program"_s));
  EXPECT_EQ(ReadFile(copy), earlier) << "no copy that could be torn replaces the earlier one";
}

// A closed Thunderbird leaves its databases in WAL mode without a -wal or
// -shm file. Reading one through SQLite must not leave those files in the
// profile: a -wal newer than the copy would have the next run copy the
// database again, and again.
TEST_F(FaultTest, AClosedDatabaseIsCopiedWithoutLeavingFilesInTheProfile)
{
  const QString source = Profile({{u"prefs.js"_s, "p", {}}});
  const QString make = uR"py(
import sqlite3, sys
c = sqlite3.connect(sys.argv[1], isolation_level=None)
c.execute("pragma journal_mode=wal")
c.execute("create table t(a)")
c.executemany("insert into t values(?)", ((str(i) * 50,) for i in range(2000)))
c.close()
)py"_s;
  for (const char* name : {"abook.sqlite", "places.sqlite", "global-messages-db.sqlite"})
    ASSERT_EQ(RunTool(Python(), {u"-c"_s, make, source + u'/' + QString::fromLatin1(name)}).ExitCode, 0);
  for (const QString& file : FilesBelow(source))
    SetModified(source + u'/' + file, QDateTime(QDate(2024, 3, 9), QTime(16, 0), Qt::UTC));
  const QStringList before = FilesBelow(source);
  ASSERT_EQ(before.size(), 4);
  const QString task = WriteBackupTask(u"tb-closed.buj"_s, Spec(source));
  const TEngineRun first = Run({task, u"/force"_s});
  ASSERT_EQ(first.ExitCode, 0) << first.Log.join(u'\n').toStdString();
  EXPECT_EQ(FilesBelow(source), before);
  const TEngineRun second = Run({task, u"/force"_s});
  ASSERT_EQ(second.ExitCode, 0);
  EXPECT_TRUE(second.Log.join(u'\n').contains(u"0 files copied, 4 skipped"_s)) << second.Log.join(u'\n').toStdString();
  EXPECT_EQ(FilesBelow(source), before);
}

// Thunderbird can end with committed data still in a database's -wal and no
// -shm. The copy must hold that data, and the profile must keep exactly its
// two files: a -shm left beside them is not the profile's, and the database
// file itself must not be changed by folding the log into it.
TEST_F(FaultTest, ADatabaseWithDataInItsLogIsCopiedWholeAndLeftAsItWas)
{
  const QString source = Profile({{u"prefs.js"_s, "p", {}}});
  const QString database = source + u"/abook.sqlite"_s;
  const QString make = uR"py(
import os, sqlite3, sys
path = sys.argv[1]
c = sqlite3.connect(path, isolation_level=None)
c.execute("pragma journal_mode=wal")
c.execute("create table t(a)")
c.close()
c = sqlite3.connect(path, isolation_level=None)
c.execute("pragma wal_autocheckpoint=0")
c.executemany("insert into t values(?)", ((str(i) * 50,) for i in range(2000)))
os.remove(path + "-shm")
os._exit(0)  # the log stays as an ended program leaves it
)py"_s;
  ASSERT_EQ(RunTool(Python(), {u"-c"_s, make, database}).ExitCode, 0);
  ASSERT_EQ(FilesBelow(source), (QStringList{u"abook.sqlite"_s, u"abook.sqlite-wal"_s, u"prefs.js"_s}));
  const QByteArray db = ReadFile(database);
  const QByteArray wal = ReadFile(database + u"-wal"_s);
  ASSERT_GT(wal.size(), 100000) << "the rows are in the log";

  TBackupSpec spec = Spec(source);
  const QString task = WriteBackupTask(u"tb-wal.buj"_s, spec);
  const TEngineRun first = Run({task, u"/force"_s});
  ASSERT_EQ(first.ExitCode, 0) << first.Log.join(u'\n').toStdString();
  EXPECT_EQ(FilesBelow(source), (QStringList{u"abook.sqlite"_s, u"abook.sqlite-wal"_s, u"prefs.js"_s}));
  EXPECT_EQ(ReadFile(database), db);
  EXPECT_EQ(ReadFile(database + u"-wal"_s), wal);
  const QString backup = BackupOf(spec.Destination, source);
  EXPECT_EQ(FilesBelow(backup), (QStringList{u"abook.sqlite.zip"_s, u"prefs.js.zip"_s})) << "no temporaries left";

  TRestoreSpec restore;
  restore.Source = backup;
  restore.Target = Path(u"restored"_s);
  ASSERT_EQ(Run({WriteRestoreTask(u"tb-wal.rsj"_s, restore), u"/restore"_s, u"/force"_s}).ExitCode, 0);
  const QString count = uR"py(
import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
print(c.execute("pragma integrity_check").fetchone()[0], c.execute("select count(*) from t").fetchone()[0])
)py"_s;
  const TToolResult rows = RunTool(Python(), {u"-c"_s, count, restore.Target + u"/abook.sqlite"_s});
  EXPECT_EQ(rows.Out.trimmed(), QByteArray("ok 2000")) << rows.Err.toStdString();

  const TEngineRun second = Run({task, u"/force"_s});
  ASSERT_EQ(second.ExitCode, 0);
  EXPECT_TRUE(second.Log.join(u'\n').contains(u"0 files copied, 2 skipped"_s)) << second.Log.join(u'\n').toStdString();
  EXPECT_EQ(FilesBelow(source), (QStringList{u"abook.sqlite"_s, u"abook.sqlite-wal"_s, u"prefs.js"_s}));
}

} // namespace
