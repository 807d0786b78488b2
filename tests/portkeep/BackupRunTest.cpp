#include "common/FileUtils.h"
#include "devices/PortableDeviceUtils.h"
#include "devices/backends/folder/FolderDevicePlatform.h"
#include "portkeep/BackupRun.h"
#include "devices/support/FakeDevicePlatform.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// Collects the progress lines as the progress box would show them.
class TRecordingView : public IRunView {
public:
  void AddLine(int indent, const QString& text) override { Lines << QString(indent, u' ') + text; }
  void ShowFolder(const QString& path) override { Folder = path; }
  void ProcessEvents() override { ++Events; }
  QStringList Lines;
  QString Folder;
  int Events = 0;
};

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
    AddFile(u"Phone/Documents/note.txt"_s, QByteArray("a note, compressible ") .repeated(50), kOld);
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

  QStringList RunBackup(const TTaskSettings& settings, const QStringList& paths, TBackupRun** last = nullptr)
  {
    TRecordingView view;
    TBackupRun run(*FPhone, settings, view);
    run.Now = [] { return QDateTime(QDate(2024, 3, 5), QTime(10, 0)); };
    run.Run(Folders(paths));
    FTotal = run.TotalCopied();
    (void)last;
    return view.Lines;
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
};

} // namespace

TEST_F(BackupRunTest, LogsEveryStepLikeTheExampleRun)
{
  const QString existing = FDir.Write(u"backup/Phone/DCIM/Camera/IMG_0002.jpg"_s, "newer copy");
  SetMTime(existing, kOld.addSecs(3600));
  const QStringList lines = RunBackup(Settings(), {u"Phone\\DCIM"_s});
  EXPECT_EQ(lines, (QStringList{u"  Destination directory: "_s + FDest + u"/Phone/DCIM"_s,
                                u"  Subdirectory: Phone\\DCIM\\Camera"_s, u"    + Copied: IMG_0001.jpg"_s,
                                u"    - Skipped: IMG_0002.jpg"_s, u"  Subdirectory: Phone\\DCIM"_s,
                                u"  1 file copied"_s}));
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

TEST(SafeNames, DeviceNamesStayInsideTheDestination)
{
  const struct {
    const char16_t* Name;
    const char16_t* Safe;
  } names[] = {{u"a/b", u"a_b"}, {u".", u"_"}, {u"..", u"__"}, {u"", u"_"}, {u".hidden", u".hidden"},
               {u"ok.jpg", u"ok.jpg"}};
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

  QStringList RunBackup()
  {
    TRecordingView view;
    TTaskSettings settings;
    settings.Destination = FDest;
    TBackupRun run(*FDevice, settings, view);
    run.Run({FDevice->Content()->GetObjectByPath(u"Phone\\DCIM"_s)});
    FCopied = run.TotalCopied();
    return view.Lines;
  }

  static constexpr TDateTime kDeviceTime = 45000.5; // 2023-03-15 12:00 local
  TempDir FDir;
  QString FDest = FDir.Path() + u"/dest"_s;
  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  std::unique_ptr<TPortableDeviceManager> FManager;
  TPortableDevice* FDevice = nullptr;
  int FCopied = 0;
};

} // namespace

TEST_F(FakeDeviceRunTest, AReadErrorKeepsTheOldCopyAndTheNextRunRetries)
{
  const QString bad = FDest + u"/Phone/DCIM/bad.jpg"_s;
  FDir.Write(u"dest/Phone/DCIM/bad.jpg"_s, "old copy");
  SetMTime(bad, QDateTime(QDate(2020, 1, 1), QTime(0, 0)));

  QStringList lines = RunBackup();
  const qsizetype at = lines.indexOf(u"    + Updated: bad.jpg"_s);
  ASSERT_GE(at, 0) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines.at(at + 1).startsWith(u"  *** "_s)) << lines.at(at + 1).toStdString();
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
