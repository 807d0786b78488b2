#include "portkeep/BackupRun.h"
#include "common/FileUtils.h"
#include "devices/PortableDeviceUtils.h"
#include "devices/backends/folder/FolderDevicePlatform.h"
#include "devices/support/FakeDevicePlatform.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// Collects the progress lines as the progress box would show them.
class TRecordingView : public IRunView {
public:
  void AddLine(int indent, const QString& text) override
  {
    Lines << QString(indent, u' ') + text;
    if (OnLine)
      OnLine(Lines.last());
  }
  void ShowFolder(const QString& path) override { Folder = path; }
  void ProcessEvents() override { ++Events; }
  void ShowProgress(const TRunProgress& progress) override
  {
    EXPECT_LE(progress.FilesDone, progress.FilesTotal);
    EXPECT_LE(progress.BytesDone, progress.BytesTotal);
    Progress = progress;
  }
  bool CancelRequested() override { return Cancel; }
  QStringList Lines;
  QString Folder;
  int Events = 0;
  TRunProgress Progress;
  bool Cancel = false;
  std::function<void(const QString& line)> OnLine;
};

// The lines of a run without its closing summary, which holds a duration.
QStringList WithoutSummary(QStringList lines)
{
  if (!lines.isEmpty() && lines.last().startsWith(u"Summary: "_s))
    lines.removeLast();
  return lines;
}

void SetMTime(const QString& file, const QDateTime& when)
{
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
}

qint64 MTime(const QString& file)
{
  return QFileInfo(file).lastModified().toSecsSinceEpoch();
}

// A phone with one storage "Phone": DCIM/Camera with two pictures, Music with
// a song, Documents with a note and a file without extension.
class BackupRunTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FDevice = FDir.Path() + u"/device"_s;
    FDest = FDir.Path() + u"/backup"_s;
    FDir.Write(u"device/device.ini"_s, "[Device]\nFriendlyName=My Phone\nStorages=subfolders\n");
    AddFile(u"Phone/DCIM/Camera/IMG_0001.jpg"_s, QByteArray(3000, 'a'), kOld);
    AddFile(u"Phone/DCIM/Camera/IMG_0002.jpg"_s, QByteArray(2000, 'b'), kOld);
    AddFile(u"Phone/Music/song.mp3"_s, QByteArray(1000, 'c'), kOld);
    AddFile(u"Phone/Documents/note.txt"_s, QByteArray("a note, compressible ").repeated(50), kOld);
    AddFile(u"Phone/Documents/README"_s, QByteArray("no extension"), kOld);
    Open();
  }

  void AddFile(const QString& relative, const QByteArray& bytes, const QDateTime& when)
  {
    SetMTime(FDir.Write(u"device/"_s + relative, bytes), when);
  }

  void Open()
  {
    TFolderDeviceOptions options;
    options.UseEnvironment = false;
    options.Folders = {FDevice};
    FManager = std::make_unique<TPortableDeviceManager>(CreateFolderDevicePlatform(options));
    FPhone = FManager->GetDeviceByName(u"My Phone"_s);
    ASSERT_NE(FPhone, nullptr);
    FPhone->Content()->Refresh();
  }

  std::vector<TPortableDeviceObject*> Folders(const QStringList& paths)
  {
    std::vector<TPortableDeviceObject*> result;
    for (const QString& path : paths)
      result.push_back(FPhone->Content()->GetObjectByPath(path));
    return result;
  }

  QStringList RunBackup(const TTaskSettings& settings, const QStringList& paths)
  {
    TBackupRun run(*FPhone, settings, FView);
    run.Now = [] { return QDateTime(QDate(2024, 3, 5), QTime(10, 0)); };
    FView.Lines.clear();
    run.Run(Folders(paths));
    FTotal = run.TotalCopied();
    FSummary = run.Summary();
    return WithoutSummary(FView.Lines);
  }

  TTaskSettings Settings() const
  {
    TTaskSettings s;
    s.Destination = FDest;
    return s;
  }

  inline static const QDateTime kOld{QDate(2020, 6, 1), QTime(12, 0, 0)};
  TempDir FDir;
  QString FDevice;
  QString FDest;
  std::unique_ptr<TPortableDeviceManager> FManager;
  TPortableDevice* FPhone = nullptr;
  int FTotal = 0;
  TRecordingView FView;
  TRunSummary FSummary;
};

} // namespace

TEST_F(BackupRunTest, LogsEveryStepLikeTheExampleRun)
{
  const QString existing = FDir.Write(u"backup/Phone/DCIM/Camera/IMG_0002.jpg"_s, "newer copy");
  SetMTime(existing, kOld.addSecs(3600));
  const QStringList lines = RunBackup(Settings(), {u"Phone\\DCIM"_s});
  EXPECT_EQ(lines,
            (QStringList{u"  Destination directory: "_s + FDest + u"/Phone/DCIM"_s,
                         u"  Subdirectory: Phone\\DCIM\\Camera"_s, u"    + Copied: IMG_0001.jpg"_s,
                         u"    - Skipped: IMG_0002.jpg"_s, u"  Subdirectory: Phone\\DCIM"_s, u"  1 file copied"_s}));
  const QString copy = FDest + u"/Phone/DCIM/Camera/IMG_0001.jpg"_s;
  EXPECT_EQ(ReadFile(copy), QByteArray(3000, 'a'));
  EXPECT_EQ(MTime(copy), kOld.toSecsSinceEpoch()) << "the copy carries the device's time";
  EXPECT_EQ(ReadFile(existing), QByteArray("newer copy"));
  EXPECT_TRUE(QDir(FDest + u"/Phone/DCIM/Camera"_s).entryList(QDir::Hidden | QDir::Files).filter(u".part"_s).isEmpty());
}

TEST_F(BackupRunTest, NothingSelectedOrNoDestination)
{
  EXPECT_EQ(RunBackup(Settings(), {}), QStringList{u"No directory selected"_s});
  TTaskSettings noDest = Settings();
  noDest.Destination = u"  "_s;
  EXPECT_EQ(RunBackup(noDest, {u"Phone"_s}), QStringList{u"No destination directory specified"_s});
  EXPECT_FALSE(QFileInfo::exists(u"Phone"_s)) << "nothing written relative to the current folder";
}

TEST_F(BackupRunTest, EachSelectedFolderHasItsOwnCount)
{
  const QStringList lines = RunBackup(Settings(), {u"Phone\\Music"_s, u"Phone\\Documents"_s});
  EXPECT_EQ(lines, (QStringList{u"  Destination directory: "_s + FDest + u"/Phone/Music"_s,
                                u"  Subdirectory: Phone\\Music"_s, u"    + Copied: song.mp3"_s, u"  1 file copied"_s,
                                u"  Destination directory: "_s + FDest + u"/Phone/Documents"_s,
                                u"  Subdirectory: Phone\\Documents"_s, u"    + Copied: README"_s,
                                u"    + Copied: note.txt"_s, u"  2 files copied"_s}));
  EXPECT_EQ(FTotal, 3);
}

TEST_F(BackupRunTest, FilterAndTimeSlotLeaveNoLine)
{
  TTaskSettings s = Settings();
  s.Filter.SetMode(fmExclude);
  s.Filter.SetFilter(u"*.mp3"_s);
  AddFile(u"Phone/Music/new.ogg"_s, "x", QDateTime(QDate(2024, 3, 1), QTime(8, 0)));
  Open();
  s.TimePeriod.Mode = tmNewer;
  s.TimePeriod.Dat1 = DateTimeFromQDateTime(QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
  EXPECT_EQ(RunBackup(s, {u"Phone\\Music"_s}),
            (QStringList{u"  Destination directory: "_s + FDest + u"/Phone/Music"_s, u"  Subdirectory: Phone\\Music"_s,
                         u"    + Copied: new.ogg"_s, u"  1 file copied"_s}));
}

TEST_F(BackupRunTest, OverwriteModes)
{
  const QString target = FDest + u"/Phone/Music/song.mp3"_s;
  const auto runWith = [&](int mode, const QDateTime& targetTime) {
    FDir.Write(u"backup/Phone/Music/song.mp3"_s, "old");
    SetMTime(target, targetTime);
    TTaskSettings s = Settings();
    s.Overwrite = mode;
    return RunBackup(s, {u"Phone\\Music"_s}).at(2);
  };
  EXPECT_EQ(runWith(omWhenOlder, kOld), u"    - Skipped: song.mp3"_s) << "equal time";
  EXPECT_EQ(runWith(omWhenOlder, kOld.addSecs(-1)), u"    + Updated: song.mp3"_s);
  EXPECT_EQ(ReadFile(target).size(), 1000);
  EXPECT_EQ(runWith(omAll, kOld.addSecs(3600)), u"    + Updated: song.mp3"_s);
  EXPECT_EQ(runWith(omNone, kOld.addSecs(-3600)), u"    - Skipped: song.mp3"_s);
  QFile::remove(target);
  TTaskSettings s = Settings();
  s.Overwrite = omNone;
  EXPECT_EQ(RunBackup(s, {u"Phone\\Music"_s}).at(2), u"    + Copied: song.mp3"_s);
}

TEST_F(BackupRunTest, CompressionNamesAndContents)
{
  TTaskSettings s = Settings();
  s.Compress = true;
  RunBackup(s, {u"Phone"_s});
  EXPECT_TRUE(QFileInfo::exists(FDest + u"/Phone/DCIM/Camera/IMG_0001.jpg"_s)) << "jpg is on the no-compression list";
  EXPECT_TRUE(QFileInfo::exists(FDest + u"/Phone/Documents/README.gz"_s)) << "no extension: compressible";
  const QString gz = FDest + u"/Phone/Documents/note.txt.gz"_s;
  const ProcessResult gunzip = ardanto::test::Run(u"gzip"_s, {u"-dc"_s, gz});
  EXPECT_EQ(gunzip.ExitCode, 0);
  EXPECT_EQ(gunzip.Output, QByteArray("a note, compressible ").repeated(50));
  EXPECT_EQ(MTime(gz), kOld.toSecsSinceEpoch());

  s.CompressAsZip = true;
  s.NoCompTypes.append(QString()); // an empty entry keeps files without extension as they are
  const QString zipDest = FDir.Path() + u"/zips"_s;
  s.Destination = zipDest;
  RunBackup(s, {u"Phone"_s});
  for (const QString& name : {u"/Phone/DCIM/Camera/IMG_0001.jpg.zip"_s, u"/Phone/Documents/note.txt.zip"_s,
                              u"/Phone/Documents/README.zip"_s}) {
    const ProcessResult test = ardanto::test::Run(u"unzip"_s, {u"-t"_s, zipDest + name});
    EXPECT_EQ(test.ExitCode, 0) << name.toStdString() << test.Output.toStdString();
  }
  const ProcessResult listing = ardanto::test::Run(u"zipinfo"_s, {zipDest + u"/Phone/DCIM/Camera/IMG_0001.jpg.zip"_s});
  EXPECT_TRUE(listing.Output.contains(" stor ")) << "jpg is stored, not deflated: " << listing.Output.toStdString();
}

TEST_F(BackupRunTest, DestinationPlaceholders)
{
  TTaskSettings s = Settings();
  s.Destination = FDest + u"/%device%/%date%"_s;
  const QStringList lines = RunBackup(s, {u"Phone\\Music"_s});
  EXPECT_EQ(lines.first(), u"  Destination directory: "_s + FDest + u"/My Phone/2024-03-05/Phone/Music"_s);
  EXPECT_TRUE(QFileInfo::exists(FDest + u"/My Phone/2024-03-05/Phone/Music/song.mp3"_s));
}

TEST_F(BackupRunTest, ArchiveBitMakesCopiesWritable)
{
  TTaskSettings s = Settings();
  s.ArchBit = true;
  RunBackup(s, {u"Phone\\Music"_s});
  EXPECT_EQ(GetFileAttr(FDest + u"/Phone/Music/song.mp3"_s), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(BackupRunTest, ProgressCoversWhatTheRunLooksAtAndTheSummaryCountsIt)
{
  FDir.Write(u"backup/Phone/Music/song.mp3"_s, "kept");
  SetMTime(FDest + u"/Phone/Music/song.mp3"_s, kOld);
  FDir.Write(u"backup/Phone/Documents/note.txt"_s, "older");
  SetMTime(FDest + u"/Phone/Documents/note.txt"_s, kOld.addDays(-1));
  RunBackup(Settings(), {u"Phone"_s});
  EXPECT_EQ(FView.Progress.FilesTotal, 5);
  EXPECT_EQ(FView.Progress.BytesTotal, 3000 + 2000 + 1000 + 21 * 50 + 12);
  EXPECT_EQ(FView.Progress.FilesDone, 5);
  EXPECT_EQ(FView.Progress.BytesDone, FView.Progress.BytesTotal);
  EXPECT_EQ(FSummary.Copied, 3);
  EXPECT_EQ(FSummary.Updated, 1);
  EXPECT_EQ(FSummary.Skipped, 1);
  EXPECT_EQ(FSummary.Failed, 0);
  EXPECT_EQ(FSummary.Bytes, 3000 + 2000 + 21 * 50 + 12);
  EXPECT_TRUE(FView.Lines.last().startsWith(u"Summary: 3 copied, 1 updated, 1 skipped, 0 failed; "_s))
      << FView.Lines.last().toStdString();
}

TEST_F(BackupRunTest, CancelStopsAfterTheCurrentFileAndKeepsTheCopies)
{
  FView.OnLine = [this](const QString& line) {
    if (line.startsWith(u"    + Copied"_s))
      FView.Cancel = true;
  };
  const QStringList lines = RunBackup(Settings(), {u"Phone\\DCIM"_s, u"Phone\\Music"_s});
  EXPECT_EQ(lines, (QStringList{u"  Destination directory: "_s + FDest + u"/Phone/DCIM"_s,
                                u"  Subdirectory: Phone\\DCIM\\Camera"_s, u"    + Copied: IMG_0001.jpg"_s,
                                u"  1 file copied"_s, u"Backup cancelled"_s}));
  EXPECT_TRUE(FSummary.Cancelled);
  EXPECT_EQ(ReadFile(FDest + u"/Phone/DCIM/Camera/IMG_0001.jpg"_s), QByteArray(3000, 'a'));
  EXPECT_FALSE(QFileInfo::exists(FDest + u"/Phone/DCIM/Camera/IMG_0002.jpg"_s));
  EXPECT_FALSE(QFileInfo::exists(FDest + u"/Phone/Music"_s));
}

TEST_F(BackupRunTest, ADeviceThatGoesAwaySaysSoOnceAndStops)
{
  // As when a phone is unplugged: the folder behind the device disappears
  // after the first copy.
  FView.OnLine = [this](const QString& line) {
    if (line.startsWith(u"    + Copied"_s) && QFileInfo::exists(FDevice)) {
      ASSERT_TRUE(QDir().rename(FDevice, FDevice + u".unplugged"_s));
    }
  };
  const QStringList lines = RunBackup(Settings(), {u"Phone"_s});
  const QString log = lines.join(u'\n');
  // The file opened while the first was copied may still arrive; nothing after it.
  EXPECT_LE(lines.filter(u"    + "_s).size(), 2) << log.toStdString();
  EXPECT_EQ(lines.filter(u"  *** "_s).size(), 2) << "the file that failed, then the device" << log.toStdString();
  // After the device's line only the selected folder's count.
  const qsizetype gone = lines.indexOf(u"  *** The device is no longer connected; the backup stops."_s);
  ASSERT_GE(gone, 0) << log.toStdString();
  EXPECT_EQ(gone, lines.size() - 2) << log.toStdString();
  EXPECT_TRUE(lines.last().endsWith(u"copied"_s)) << log.toStdString();
  EXPECT_TRUE(FSummary.DeviceLost);
  EXPECT_EQ(FSummary.Failed, 1);
}

TEST_F(BackupRunTest, UnreadableFilesAreErrorsNotCopies)
{
  // Root reads everything, so the unreadable file is one that has turned
  // into a folder since the tree was read.
  Open();
  QFile::remove(FDevice + u"/Phone/Music/song.mp3"_s);
  QDir().mkpath(FDevice + u"/Phone/Music/song.mp3"_s);
  const QStringList lines = RunBackup(Settings(), {u"Phone\\Music"_s});
  ASSERT_EQ(lines.size(), 4) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines[2].startsWith(u"  *** song.mp3: "_s)) << lines[2].toStdString();
  EXPECT_EQ(lines[3], u"  No files copied"_s);
  EXPECT_EQ(FSummary.Failed, 1);
  EXPECT_FALSE(QFileInfo::exists(FDest + u"/Phone/Music/song.mp3"_s));
}

TEST_F(BackupRunTest, TwoNamesForOneTargetBothArrive)
{
  // Names that are not valid UTF-8 both read as U+FFFD; "..." and "___" both
  // become "___"; the names differing in case meet on a FAT backup drive.
  for (const QByteArray& name : {QByteArray("bad\xff.txt"), QByteArray("bad\xfe.txt"), QByteArray("..."),
                                 QByteArray("___"), QByteArray("Same.txt"), QByteArray("same.txt")}) {
    // Written by byte name: Qt's file names would turn the invalid bytes into U+FFFD.
    const QByteArray path = QFile::encodeName(FDevice) + "/Phone/Music/" + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, name.constData(), name.size()), name.size());
    ::close(fd);
  }
  Open();
  RunBackup(Settings(), {u"Phone\\Music"_s});
  EXPECT_EQ(FTotal, 7);
  QSet<QByteArray> contents;
  for (const QFileInfo& info : QDir(FDest + u"/Phone/Music"_s).entryInfoList(QDir::Files | QDir::Hidden))
    contents.insert(ReadFile(info.filePath()));
  EXPECT_EQ(contents.size(), 7) << "every device file has a copy of its own";
  // "..." as "___", then "___", "bad\xff.txt" and "same.txt" numbered.
  EXPECT_EQ(FView.Lines.filter(u"      Saved as: "_s).size(), 4) << FView.Lines.join(u'\n').toStdString();
  // The next run maps the names the same way and finds its copies.
  RunBackup(Settings(), {u"Phone\\Music"_s});
  EXPECT_EQ(FSummary.Skipped, 7);
}

TEST_F(BackupRunTest, LeftOverTemporariesOfAKilledRunAreRemoved)
{
  const QString folder = FDest + u"/Phone/Music/"_s;
  const QString stale = FDir.Write(u"backup/Phone/Music/.pk-AbC123.part"_s, "half a copy");
  SetMTime(stale, kOld);
  const QString busy = FDir.Write(u"backup/Phone/Music/.pk-Busy01.part"_s, "another run writes this");
  SetMTime(busy, kOld);
  QFile held(busy);
  ASSERT_TRUE(held.open(QIODevice::ReadOnly));
  const QString fresh = FDir.Write(u"backup/Phone/Music/.pk-New001.part"_s, "started after us");
  SetMTime(fresh, QDateTime::currentDateTime().addSecs(60));
  const QString foreign = FDir.Write(u"backup/Phone/Music/.pk-notours.partial"_s, "someone else's");
  SetMTime(foreign, kOld);
  RunBackup(Settings(), {u"Phone\\Music"_s});
  EXPECT_FALSE(QFileInfo::exists(stale));
  EXPECT_TRUE(QFileInfo::exists(busy)) << "held open";
  EXPECT_TRUE(QFileInfo::exists(fresh)) << "newer than the run";
  EXPECT_TRUE(QFileInfo::exists(foreign)) << "not our pattern";
  EXPECT_TRUE(QFileInfo::exists(folder + u"song.mp3"_s));
}

TEST_F(BackupRunTest, AFolderThatTakesNoFilesIsAnErrorNamingEachTarget)
{
  if (::geteuid() == 0)
    GTEST_SKIP() << "root may write into any folder";
  RunBackup(Settings(), {u"Phone\\Music"_s});
  const QByteArray music = QFile::encodeName(FDest + u"/Phone/Music"_s);
  ASSERT_EQ(::chmod(music.constData(), 0555), 0);
  AddFile(u"Phone/Music/new.mp3"_s, "new song", kOld);
  Open();
  const QStringList lines = RunBackup(Settings(), {u"Phone\\Music"_s});
  ::chmod(music.constData(), 0755);
  EXPECT_TRUE(lines.contains(u"  *** new.mp3: Error creating \""_s + FDest + u"/Phone/Music/new.mp3\" "_s +
                             SystemErrorText(EACCES)))
      << lines.join(u'\n').toStdString();
  EXPECT_EQ(FSummary.Failed, 1);
  EXPECT_EQ(QDir(QFile::decodeName(music)).entryList(QDir::Files | QDir::Hidden), QStringList{u"song.mp3"_s});
}

TEST_F(BackupRunTest, ADestinationInsideTheDeviceFolderIsRefused)
{
  TTaskSettings s = Settings();
  s.Destination = FDevice + u"/Phone/backup"_s;
  const QStringList lines = RunBackup(s, {u"Phone"_s});
  ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines[0].startsWith(u"  *** The destination directory"_s)) << lines[0].toStdString();
  EXPECT_FALSE(QFileInfo::exists(FDevice + u"/Phone/backup"_s));
}

TEST_F(BackupRunTest, CopiesKeepTheSourcesPermissionsWithinTheUmask)
{
  ::chmod(QFile::encodeName(FDevice + u"/Phone/Documents/note.txt"_s).constData(), 0600);
  ::chmod(QFile::encodeName(FDevice + u"/Phone/Documents/README"_s).constData(), 0666);
  Open();
  const struct {
    mode_t Umask;
    mode_t Note, Readme, Folder;
  } cases[] = {{022, 0600, 0644, 0755}, {000, 0600, 0664, 0755}, {077, 0600, 0600, 0700}};
  for (const auto& c : cases) {
    QDir(FDest).removeRecursively();
    const mode_t old = ::umask(c.Umask);
    RunBackup(Settings(), {u"Phone\\Documents"_s});
    ::umask(old);
    const auto mode = [](const QString& name) {
      struct stat st {};
      ::stat(QFile::encodeName(name).constData(), &st);
      return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(FDest + u"/Phone/Documents/note.txt"_s), c.Note) << "umask " << c.Umask;
    EXPECT_EQ(mode(FDest + u"/Phone/Documents/README"_s), c.Readme) << "umask " << c.Umask;
    EXPECT_EQ(mode(FDest + u"/Phone/Documents"_s), c.Folder) << "umask " << c.Umask;
  }
}

TEST_F(BackupRunTest, TheTimeSlotJudgesTheDevicesLocalTime)
{
  // 06:30 in Berlin is 05:30 UTC in March: "today from 06:00" takes the
  // file by its local time; judged by UTC it would be left out.
  struct TBerlin {
    std::optional<ScopedEnv> Zone;
    TBerlin() { Zone.emplace("TZ", "Europe/Berlin"), ::tzset(); }
    ~TBerlin() { Zone.reset(), ::tzset(); }
  } berlin;
  AddFile(u"Phone/Music/morning.ogg"_s, "x", QDateTime(QDate(2024, 3, 5), QTime(6, 30)));
  AddFile(u"Phone/Music/night.ogg"_s, "y", QDateTime(QDate(2024, 3, 5), QTime(5, 59)));
  Open();
  TTaskSettings s = Settings();
  s.TimePeriod.Mode = tmToday;
  s.TimePeriod.DayTime = 6.0 / 24;
  const QStringList lines = RunBackup(s, {u"Phone\\Music"_s});
  EXPECT_TRUE(lines.contains(u"    + Copied: morning.ogg"_s)) << lines.join(u'\n').toStdString();
  EXPECT_FALSE(lines.join(u'\n').contains(u"night.ogg"_s));
}

TEST(SafeNames, DeviceNamesStayInsideTheDestination)
{
  const struct {
    const char16_t* Name;
    const char16_t* Safe;
  } names[] = {{u"a/b", u"a_b"},         {u".", u"_"},          {u"..", u"__"}, {u"", u"_"},
               {u".hidden", u".hidden"}, {u"ok.jpg", u"ok.jpg"}};
  for (const auto& n : names)
    EXPECT_EQ(SafeFileName(QString::fromUtf16(n.Name)), QString::fromUtf16(n.Safe));
  EXPECT_EQ(SafeFileName(QString(u"a\u0000b"_s)), u"a_b"_s);
  EXPECT_EQ(SafeRelativePath(u"Phone\\..\\..\\etc"_s), u"Phone/__/__/etc"_s);
  EXPECT_EQ(SafeRelativePath(u"Card\\DCIM"_s), u"Card/DCIM"_s);
}

namespace {

// A device whose read fails in the middle of one file, and whose names would
// lead out of the destination if taken as they are.
class FakeDeviceRunTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FPlatform = std::make_shared<TFakeDevicePlatform>();
    TFakeDevice& device = FPlatform->AddDevice(u"fake:1"_s, u"Fake Phone"_s);
    TFakeDevicePlatform::AddStorage(device, u"s1"_s, u"Phone"_s);
    TFakeDevicePlatform::AddFolder(device, u"f1"_s, u"s1"_s, u"DCIM"_s);
    TFakeDevicePlatform::AddFile(device, u"good"_s, u"f1"_s, u"good.jpg"_s, QByteArray(5000, 'g'), kDeviceTime);
    TFakeDevicePlatform::AddFile(device, u"bad"_s, u"f1"_s, u"bad.jpg"_s, QByteArray(50000, 'b'), kDeviceTime)
        .FailReadAt = 20000;
    TFakeDevicePlatform::AddFolder(device, u"up"_s, u"f1"_s, u".."_s);
    TFakeDevicePlatform::AddFile(device, u"slash"_s, u"up"_s, u"x/../../escape.txt"_s, "inside", kDeviceTime);
    Open();
  }

  void Open()
  {
    FManager = std::make_unique<TPortableDeviceManager>(FPlatform);
    FDevice = FManager->GetDeviceByName(u"Fake Phone"_s);
    ASSERT_NE(FDevice, nullptr);
    FDevice->Content()->Refresh();
  }

  QStringList RunBackup(std::chrono::milliseconds stallTimeout = {})
  {
    TRecordingView view;
    TTaskSettings settings;
    settings.Destination = FDest;
    TBackupRun run(*FDevice, settings, view);
    run.SetStallTimeout(stallTimeout);
    run.Run({FDevice->Content()->GetObjectByPath(u"Phone\\DCIM"_s)});
    FCopied = run.TotalCopied();
    FSummary = run.Summary();
    return WithoutSummary(view.Lines);
  }

  TFakeDevice& Device() { return FPlatform->Devices[0]; }

  static constexpr TDateTime kDeviceTime = 45000.5; // 2023-03-15 12:00 local
  TempDir FDir;
  QString FDest = FDir.Path() + u"/dest"_s;
  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  std::unique_ptr<TPortableDeviceManager> FManager;
  TPortableDevice* FDevice = nullptr;
  int FCopied = 0;
  TRunSummary FSummary;
};

} // namespace

TEST_F(FakeDeviceRunTest, AReadErrorKeepsTheOldCopyAndTheNextRunRetries)
{
  const QString bad = FDest + u"/Phone/DCIM/bad.jpg"_s;
  FDir.Write(u"dest/Phone/DCIM/bad.jpg"_s, "old copy");
  SetMTime(bad, QDateTime(QDate(2020, 1, 1), QTime(0, 0)));

  QStringList lines = RunBackup();
  EXPECT_FALSE(lines.join(u'\n').contains(u"+ Updated: bad.jpg"_s)) << "only a copy that succeeded is logged as one";
  EXPECT_EQ(lines.filter(u"  *** bad.jpg: "_s).size(), 1) << lines.join(u'\n').toStdString();
  EXPECT_EQ(lines.last(), u"  2 files copied"_s) << "the failed file is not counted";
  EXPECT_EQ(FCopied, 2);
  EXPECT_EQ(ReadFile(bad), QByteArray("old copy"));
  EXPECT_EQ(MTime(bad), QDateTime(QDate(2020, 1, 1), QTime(0, 0)).toSecsSinceEpoch()) << "no device time on it";
  EXPECT_TRUE(QDir(FDest + u"/Phone/DCIM"_s).entryList(QDir::Hidden | QDir::Files).filter(u".part"_s).isEmpty());

  FPlatform->Devices[0].Objects[u"bad"_s].FailReadAt = -1;
  Open();
  lines = RunBackup();
  EXPECT_TRUE(lines.contains(u"    + Updated: bad.jpg"_s));
  EXPECT_TRUE(lines.contains(u"    - Skipped: good.jpg"_s));
  EXPECT_EQ(ReadFile(bad), QByteArray(50000, 'b'));
}

TEST_F(FakeDeviceRunTest, DeviceNamesCannotLeadOutOfTheDestination)
{
  RunBackup();
  EXPECT_EQ(ReadFile(FDest + u"/Phone/DCIM/__/x_.._.._escape.txt"_s), QByteArray("inside"));
  EXPECT_EQ(QDir(FDir.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{u"dest"_s});
  EXPECT_FALSE(QFileInfo::exists(FDest + u"/Phone/escape.txt"_s));
}

TEST_F(FakeDeviceRunTest, WhatCannotBeReadIsAnErrorLineAndNeverACopy)
{
  TFakeDevice& device = Device();
  TFakeDevicePlatform::AddFile(device, u"closed"_s, u"f1"_s, u"closed.jpg"_s, "x", kDeviceTime).StreamResult =
      E_ACCESSDENIED;
  // Sizes the device gets wrong: a plain copy must not stop at the claim.
  TFakeDevicePlatform::AddFile(device, u"short"_s, u"f1"_s, u"short.jpg"_s, QByteArray(5000, 's'), kDeviceTime)
      .Properties[pkSize] = TPropVariant::UInt64(100);
  TFakeDevicePlatform::AddFile(device, u"zero"_s, u"f1"_s, u"zero.jpg"_s, QByteArray(700, 'z'), kDeviceTime)
      .Properties[pkSize] = TPropVariant::UInt64(0);
  TFakeDevicePlatform::AddFolder(device, u"locked"_s, u"f1"_s, u"Locked"_s).EnumResult = E_ACCESSDENIED;
  Open();
  const QStringList lines = RunBackup();
  const QString log = lines.join(u'\n');
  for (const QString& name : {u"closed.jpg"_s, u"short.jpg"_s, u"zero.jpg"_s}) {
    EXPECT_EQ(lines.filter(u"  *** "_s + name + u": "_s).size(), 1) << log.toStdString();
    EXPECT_FALSE(log.contains(u"+ Copied: "_s + name)) << log.toStdString();
    EXPECT_FALSE(QFileInfo::exists(FDest + u"/Phone/DCIM/"_s + name)) << name.toStdString();
  }
  EXPECT_EQ(lines.filter(u"  *** Directory \"Phone\\DCIM\\Locked\" could not be read"_s).size(), 1)
      << log.toStdString();
  EXPECT_EQ(FCopied, 2) << "good.jpg and escape.txt";
  EXPECT_EQ(FSummary.Failed, 5) << "three files, bad.jpg and the folder";
}

TEST_F(FakeDeviceRunTest, ControlCharactersInNamesCannotForgeLogLines)
{
  TFakeDevicePlatform::AddFile(Device(), u"evil"_s, u"f1"_s, u"x\n  99 files copied\n==> Backup finished: forged"_s,
                               "x", kDeviceTime);
  Open();
  const QStringList lines = RunBackup();
  EXPECT_FALSE(lines.contains(u"  99 files copied"_s));
  EXPECT_FALSE(lines.contains(u"==> Backup finished: forged"_s));
  EXPECT_TRUE(lines.contains(u"    + Copied: x\u240A  99 files copied\u240A==> Backup finished: forged"_s))
      << lines.join(u'\n').toStdString();
}

TEST_F(FakeDeviceRunTest, AReadThatHangsEndsAnUnattendedRun)
{
  // A hung gvfs or FUSE mount: the read never returns. The gate is released
  // at the end so that the abandoned copy can finish and free itself.
  struct TGate {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = false;
  };
  const auto gate = std::make_shared<TGate>();
  TFakeDevicePlatform::AddFile(Device(), u"hang"_s, u"f1"_s, u"a-hanging.jpg"_s, QByteArray(100000, 'h'), kDeviceTime)
      .BeforeRead = [gate] {
    std::unique_lock lock(gate->Mutex);
    gate->Changed.wait(lock, [&] { return gate->Open; });
  };
  Open();
  const QStringList lines = RunBackup(std::chrono::milliseconds(1000));
  {
    const std::lock_guard lock(gate->Mutex);
    gate->Open = true;
  }
  gate->Changed.notify_all();
  const QString log = lines.join(u'\n');
  const qsizetype stalled =
      lines.indexOf(u"  *** a-hanging.jpg: Reading from the device made no progress for 1 second; the backup stops."_s);
  ASSERT_GE(stalled, 0) << log.toStdString();
  EXPECT_EQ(stalled, lines.size() - 2) << "only the count follows" << log.toStdString();
  EXPECT_TRUE(FSummary.Stalled);
  // Once the read returns, the abandoned copy ends without leaving its file.
  const auto leftovers = [this] {
    return QDir(FDest + u"/Phone/DCIM"_s).entryList(QDir::Hidden | QDir::Files).filter(u".part"_s);
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!leftovers().isEmpty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(leftovers(), QStringList());
  EXPECT_FALSE(QFileInfo::exists(FDest + u"/Phone/DCIM/a-hanging.jpg"_s));
}
