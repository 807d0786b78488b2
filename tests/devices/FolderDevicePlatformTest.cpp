#include "devices/DevicePlatforms.h"
#include "devices/PortableDeviceUtils.h"
#include "devices/backends/folder/FolderDevicePlatform.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

void SetMTime(const QString& path, std::int64_t seconds)
{
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

void Link(const QString& target, const QString& link)
{
  ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
}

std::shared_ptr<IDevicePlatform> Platform(const QStringList& folders, const QString& gvfsRoot = QString(),
                                          const QStringList& volumes = {})
{
  TFolderDeviceOptions options;
  options.UseEnvironment = false;
  options.Folders = folders;
  options.GvfsRoot = gvfsRoot.isEmpty() ? u"/nonexistent/gvfs"_s : gvfsRoot;
  options.RemovableVolumes = [volumes] { return volumes; };
  return CreateFolderDevicePlatform(options);
}

QString Listing(const TPortableDeviceManager& manager)
{
  QStringList lines;
  for (int i = 0; i < manager.DeviceList().Count(); ++i)
    lines << manager.DeviceList().Objects(i)->FriendlyName;
  return lines.join(u'|');
}

// Every object below the device as "path (type)" lines, in list order.
QString Tree(const TPortableDeviceContent& content)
{
  QStringList lines;
  for (int i = 1; i < content.ObjectCount(); ++i) {
    const TPortableDeviceObject* o = content.GetObject(i);
    static const char* const kTypes[] = {"?", "device", "root", "folder", "file"};
    lines << o->Path() + u" ("_s + QLatin1StringView(kTypes[o->ObjectType()]) + u')';
  }
  return lines.join(u'\n');
}

QByteArray ReadStream(IReadStream& stream, HRESULT& last, std::uint32_t chunk = 7)
{
  QByteArray data(static_cast<qsizetype>(chunk), '\0');
  QByteArray result;
  std::uint32_t got = 0;
  while (SUCCEEDED(last = stream.Read(data.data(), chunk, &got)) && got > 0)
    result.append(data.constData(), got);
  return result;
}

TEST(FolderDevices, ListedFromEnvironmentGvfsAndCameraCards)
{
  TempDir dir;
  dir.Write(u"env1/device.ini"_s, "[Device]\r\nFriendlyName=Ann's Phone\r\n");
  dir.Write(u"env2/a.txt"_s, "a");
  dir.Write(u"gvfs/mtp:host=SAMSUNG_Galaxy%20S9/Phone/a.txt"_s, "a");
  dir.Write(u"gvfs/smb-share:server=x/a.txt"_s, "a");
  dir.Write(u"card/DCIM/100CANON/IMG_1.JPG"_s, "a");
  dir.Write(u"stick/data.bin"_s, "a");

  const ScopedEnv env("PORTKEEP_FOLDER_DEVICES",
                      QFile::encodeName(dir.Path() + u"/env1::"_s + dir.Path() + u"/missing:"_s + dir.Path() +
                                        u"/env2:"_s + dir.Path() + u"/env1/../env1"_s));
  TFolderDeviceOptions options;
  options.GvfsRoot = dir.File(u"gvfs"_s);
  options.RemovableVolumes = [&] { return QStringList{dir.File(u"card"_s), dir.File(u"stick"_s)}; };
  TPortableDeviceManager manager(CreateFolderDevicePlatform(options));
  EXPECT_EQ(Listing(manager), u"Ann's Phone|env2|SAMSUNG_Galaxy S9|card"_s);
  EXPECT_EQ(manager.DeviceList().Strings(1), u"folder:"_s + dir.Path() + u"/env2"_s);

  TPortableDevice* card = manager.GetDeviceByName(u"card"_s);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->DeviceTypeAsString(), u"Camera"_s) << "a DCIM folder makes a camera";
  EXPECT_EQ(card->Description(), dir.Path() + u"/card"_s);
  TPortableDevice* phone = manager.GetDeviceByName(u"SAMSUNG_Galaxy S9"_s);
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(phone->DeviceTypeAsString(), u"Generic"_s);
  EXPECT_EQ(phone->Protocol(), u"MTP"_s);
  ASSERT_TRUE(phone->Content()->Refresh());
  EXPECT_EQ(Tree(*phone->Content()), u"Phone (root)\nPhone\\a.txt (file)"_s) << "gvfs: each top folder a storage";
}

TEST(FolderDevices, IdentityFromDeviceIni)
{
  TempDir dir;
  dir.Write(u"dev/device.ini"_s, "[Device]\nFriendlyName=Demo\nManufacturer=Acme\nDescription=Acme X1\n"
                                  "Firmware=1.2.3\nModel=X1\nProtocol=MTP: 1.00\nSerialNumber=SN9\n"
                                  "DeviceType=2\nPowerSource=1\nPowerLevel=57\nStorages=subfolders\n");
  dir.Write(u"dev/Internal/DCIM/a.jpg"_s, "a");
  dir.Write(u"dev/Card/b.mp3"_s, "b");
  dir.Write(u"dev/top-level-file.txt"_s, "not in any storage");
  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}));
  TPortableDevice* device = manager.GetDevice(0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->DeviceName(), u"Demo"_s);
  EXPECT_EQ(device->Manufacturer(), u"Acme"_s);
  EXPECT_EQ(device->Description(), u"Acme X1"_s);
  EXPECT_EQ(device->Firmware(), u"1.2.3"_s);
  EXPECT_EQ(device->Model(), u"X1"_s);
  EXPECT_EQ(device->Protocol(), u"MTP: 1.00"_s);
  EXPECT_EQ(device->SerialNumber(), u"SN9"_s);
  EXPECT_EQ(device->DeviceTypeAsString(), u"Media Player"_s);
  EXPECT_EQ(device->PowerSourceAsString(), u"External"_s);
  EXPECT_EQ(device->PowerLevel(), 57u);
  ASSERT_TRUE(device->Content()->Refresh());
  EXPECT_EQ(Tree(*device->Content()), u"Card (root)\nCard\\b.mp3 (file)\nInternal (root)\nInternal\\DCIM (folder)\n"
                                      u"Internal\\DCIM\\a.jpg (file)"_s);
}

TEST(FolderDevices, PlainFolderIsOneStorageWithoutTheIni)
{
  TempDir dir;
  dir.Write(u"Stick/device.ini"_s, "[Device]\nPowerLevel=not a number\n");
  dir.Write(u"Stick/DCIM/x.jpg"_s, "x");
  dir.Write(u"Stick/Docs/device.ini"_s, "below the top: an ordinary file");
  TPortableDeviceManager manager(Platform({dir.File(u"Stick"_s)}));
  TPortableDevice* device = manager.GetDevice(0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->DeviceName(), u"Stick"_s);
  EXPECT_EQ(device->Firmware(), QString());
  EXPECT_EQ(device->PowerLevel(), 0u);
  EXPECT_EQ(device->DeviceTypeAsString(), u"Camera"_s);
  ASSERT_TRUE(device->Content()->Refresh());
  EXPECT_EQ(Tree(*device->Content()), u"Stick (root)\nStick\\DCIM (folder)\nStick\\DCIM\\x.jpg (file)\n"
                                      u"Stick\\Docs (folder)\nStick\\Docs\\device.ini (file)"_s);
}

TEST(FolderDevices, FilePropertiesFromNamesAndStatus)
{
  TempDir dir;
  struct Case {
    const char16_t* Name;
    TContentType Type;
    TObjectFormat Format;
  };
  const Case cases[] = {
    {u"IMG_1.jpg", ctImage, ofExif},      {u"IMG_2.JPEG", ctImage, ofExif}, {u"clip.mp4", ctVideo, ofMp4},
    {u"song.mp3", ctAudio, ofMp3},        {u"notes.txt", ctDocument, ofText}, {u"card.vcf", ctContact, ofVCard3},
    {u"list.m3u", ctPlayList, ofM3uPlaylist}, {u"paper.pdf", ctDocument, ofUnknown},
    {u"data.xyz", ctGenericFile, ofUnknown}, {u"README", ctGenericFile, ofUnknown},
  };
  const std::int64_t when = 1560507323; // 2019-06-14 10:15:23 UTC
  for (const Case& c : cases)
    SetMTime(dir.Write(u"dev/"_s + QString::fromUtf16(c.Name), QByteArray(1234, 'z')), when);
  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  ASSERT_TRUE(content->Refresh());
  const TPortableDeviceObject* root = content->GetRootObject(0);
  ASSERT_NE(root, nullptr);
  for (const Case& c : cases) {
    const QString name = QString::fromUtf16(c.Name);
    const TPortableDeviceObject* file = root->GetChildByName(name);
    ASSERT_NE(file, nullptr) << name.toStdString();
    EXPECT_EQ(file->ObjectType(), otFile) << name.toStdString();
    EXPECT_EQ(file->ContentType(), c.Type) << name.toStdString();
    EXPECT_EQ(file->ObjectFormat(), c.Format) << name.toStdString();
    EXPECT_EQ(file->Size(), 1234);
    EXPECT_EQ(file->OriginalName(), name);
    EXPECT_DOUBLE_EQ(file->LastWriteTime(),
                     DateTimeFromQDateTime(QDateTime::fromSecsSinceEpoch(when, Qt::UTC).toLocalTime()));
  }
  TFileData data;
  ASSERT_EQ(root->GetChildByName(u"notes.txt"_s)->GetFileData(data, false), S_OK);
  EXPECT_EQ(data.TimeStamps.LastWriteTime, UnixTimeToFileTime(when)) << "back to the file's own time";
}

TEST(FolderDevices, StreamsReadTheFileOnAnyThread)
{
  TempDir dir;
  QByteArray bytes;
  for (int i = 0; i < 300000; ++i)
    bytes.append(static_cast<char>(i * 31));
  dir.Write(u"dev/big.bin"_s, bytes);
  dir.Write(u"dev/sub/empty.txt"_s, "");
  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  ASSERT_TRUE(content->Refresh());

  TFileData data;
  ASSERT_EQ(content->GetObjectByPath(u"dev\\big.bin"_s)->GetFileData(data, true), S_OK);
  EXPECT_GT(data.StreamData.BufferSize, 0u);
  HRESULT last = E_FAIL;
  QByteArray read;
  std::thread reader([&] { read = ReadStream(*data.StreamData.FileStream, last, 65536); });
  reader.join();
  EXPECT_EQ(last, S_OK);
  EXPECT_EQ(read, bytes);

  ASSERT_EQ(content->GetObjectByPath(u"dev\\sub\\empty.txt"_s)->GetFileData(data, true), S_OK);
  EXPECT_EQ(ReadStream(*data.StreamData.FileStream, last), QByteArray());
  EXPECT_EQ(last, S_OK);

  TFileStreamData folderStream;
  EXPECT_TRUE(FAILED(content->GetObjectByPath(u"dev\\sub"_s)->GetFileStream(folderStream)));

  // Gone since the listing: a clear failure.
  QFile::remove(dir.File(u"dev/sub/empty.txt"_s));
  EXPECT_EQ(content->GetObjectByPath(u"dev\\sub\\empty.txt"_s)->GetFileStream(folderStream), HResultFromErrno(ENOENT));
}

TEST(FolderDevices, LinksAreFollowedOnlyInsideTheDevice)
{
  TempDir dir;
  dir.Write(u"outside/secret.txt"_s, "secret");
  dir.Write(u"dev/Music/song.mp3"_s, "la la");
  dir.Write(u"dev/Photos/a.jpg"_s, "photo");
  const QString dev = dir.File(u"dev"_s);
  Link(dev + u"/Music/song.mp3"_s, dev + u"/Photos/song-link.mp3"_s);   // inside: a file
  Link(u"../Music"_s, dev + u"/Photos/music-link"_s);                    // inside: a folder
  Link(dir.File(u"outside/secret.txt"_s), dev + u"/Photos/secret.txt"_s); // outside
  Link(dir.File(u"outside"_s), dev + u"/Photos/outside-dir"_s);           // outside
  Link(u".."_s, dev + u"/Photos/up"_s);                                  // loops back to the top
  Link(u"."_s, dev + u"/Music/here"_s);                                  // loops onto itself
  Link(u"self"_s, dev + u"/Music/self"_s);                               // a link to itself
  Link(u"nothing"_s, dev + u"/Music/dangling"_s);
  ASSERT_EQ(::mkfifo(QFile::encodeName(dev + u"/Music/pipe"_s).constData(), 0600), 0);

  TPortableDeviceManager manager(Platform({dev}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  ASSERT_TRUE(content->Refresh());
  EXPECT_EQ(Tree(*content), u"dev (root)\n"
                            u"dev\\Music (folder)\n"
                            u"dev\\Music\\song.mp3 (file)\n"
                            u"dev\\Photos (folder)\n"
                            u"dev\\Photos\\a.jpg (file)\n"
                            u"dev\\Photos\\music-link (folder)\n"
                            u"dev\\Photos\\music-link\\song.mp3 (file)\n"
                            u"dev\\Photos\\song-link.mp3 (file)"_s);
  TFileData data;
  ASSERT_EQ(content->GetObjectByPath(u"dev\\Photos\\song-link.mp3"_s)->GetFileData(data, true), S_OK);
  HRESULT last = E_FAIL;
  EXPECT_EQ(ReadStream(*data.StreamData.FileStream, last), QByteArray("la la"));

  // A link turned to point outside after the listing is not read.
  QFile::remove(dev + u"/Photos/song-link.mp3"_s);
  Link(dir.File(u"outside/secret.txt"_s), dev + u"/Photos/song-link.mp3"_s);
  TFileStreamData stream;
  EXPECT_EQ(content->GetObjectByPath(u"dev\\Photos\\song-link.mp3"_s)->GetFileStream(stream), E_ACCESSDENIED);
  EXPECT_FALSE(stream.FileStream);
}

TEST(FolderDevices, FolderThatCannotBeListedIsAnErrorEntry)
{
  TempDir dir;
  dir.Write(u"dev/gone/a.txt"_s, "a");
  dir.Write(u"dev/open/b.txt"_s, "b");
  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  // The folder vanishes between its parent's listing and its own.
  const bool ok = content->Refresh([&](int index, const QString&) {
    if (content->GetObject(index)->ObjectName() == u"gone"_s)
      QDir(dir.File(u"dev/gone"_s)).removeRecursively();
  });
  EXPECT_FALSE(ok);
  ASSERT_EQ(content->ErrorObjects().Count(), 1);
  EXPECT_EQ(content->ErrorObjects().GetErrorCode(0), static_cast<std::uint32_t>(HResultFromErrno(ENOENT)));
  EXPECT_EQ(content->GetObjectByID(content->ErrorObjects().Strings(0))->DisplayName(), u"gone"_s);
  EXPECT_NE(content->GetObjectByPath(u"dev\\open\\b.txt"_s), nullptr);
}

TEST(FolderDevices, VanishedDeviceCannotBeOpened)
{
  TempDir dir;
  dir.Write(u"dev/a.txt"_s, "a");
  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}));
  QDir(dir.File(u"dev"_s)).removeRecursively();
  try {
    manager.GetDevice(0);
    FAIL() << "opened a vanished folder";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(e.Message().startsWith(u"Error calling: TPortableDevice.Create:IPortableDevice.Open : "_s));
  }
  EXPECT_EQ(manager.SelectedDevice(), nullptr);
}

// ---------------------------------------------------------------------------
// The demo device

struct DemoFile {
  const char16_t* Path;
  std::int64_t Modified; // POSIX time
};

// What scripts/make-demo-device promises.
const DemoFile kDemoFiles[] = {
  {u"Internal storage\\DCIM\\Camera\\IMG_20190614_101523.jpg", 1560507323},
  {u"Internal storage\\Music\\Morning Walk.mp3", 1489226700},
  {u"Internal storage\\Documents\\shopping-list.txt", 1704108600},
};

QString Sources()
{
  const QString dir = SourceDir();
  return dir.isEmpty() ? QStringLiteral(ARDANTO_TEST_SOURCE_DIR) : dir;
}

QString MakeDemoDevice(const QString& target)
{
  const ProcessResult result = Run(u"python3"_s, {Sources() + u"/scripts/make-demo-device"_s, target});
  EXPECT_EQ(result.ExitCode, 0) << result.Output.toStdString();
  return target;
}

TEST(DemoDevice, OpensAsAPhoneWithItsTree)
{
  TempDir dir;
  const QString demo = MakeDemoDevice(dir.File(u"demo"_s));
  TPortableDeviceManager manager(Platform({demo}));
  TPortableDevice* phone = manager.GetDeviceByName(u"demo phone"_s);
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(phone->DeviceTypeAsString(), u"Phone"_s);
  EXPECT_FALSE(phone->Firmware().isEmpty());
  EXPECT_GT(phone->PowerLevel(), 0u);
  EXPECT_FALSE(phone->PowerSourceAsString().isEmpty());
  TPortableDeviceContent* content = phone->Content();
  ASSERT_TRUE(content->Refresh());
  EXPECT_EQ(content->RootCount(), 1);
  for (const char16_t* folder : {u"Internal storage\\DCIM\\Camera", u"Internal storage\\Music",
                                 u"Internal storage\\Documents"}) {
    const TPortableDeviceObject* object = content->GetObjectByPath(QString::fromUtf16(folder));
    ASSERT_NE(object, nullptr) << QString::fromUtf16(folder).toStdString();
    EXPECT_GT(object->ChildCount(), 1);
  }
  for (const DemoFile& f : kDemoFiles) {
    const TPortableDeviceObject* file = content->GetObjectByPath(QString::fromUtf16(f.Path));
    ASSERT_NE(file, nullptr) << QString::fromUtf16(f.Path).toStdString();
    EXPECT_EQ(file->ObjectType(), otFile);
    EXPECT_GT(file->Size(), 1000);
    EXPECT_LT(file->Size(), 20000);
    EXPECT_DOUBLE_EQ(file->LastWriteTime(), UnixTimeToLocalDateTime(f.Modified));
  }
  // The pictures are real JPEG files.
  const TPortableDeviceObject* photo = content->GetObjectByPath(QString::fromUtf16(kDemoFiles[0].Path));
  TFileData data;
  ASSERT_EQ(photo->GetFileData(data, true), S_OK);
  HRESULT last = E_FAIL;
  const QByteArray jpeg = ReadStream(*data.StreamData.FileStream, last, 4096);
  EXPECT_TRUE(jpeg.startsWith("\xFF\xD8\xFF"));
  EXPECT_TRUE(jpeg.endsWith("\xFF\xD9"));
}

TEST(DemoDevice, CommittedTreeIsWhatTheScriptMakes)
{
  TempDir dir;
  const QString made = MakeDemoDevice(dir.File(u"demo"_s));
  const QString committed = Sources() + u"/data/demo-device"_s;
  auto files = [](const QString& root) {
    QStringList names;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
      names << QDir(root).relativeFilePath(it.next());
    names.sort();
    return names;
  };
  const QStringList names = files(made);
  EXPECT_EQ(files(committed), names);
  for (const QString& name : names)
    EXPECT_EQ(ReadFile(committed + u'/' + name), ReadFile(made + u'/' + name)) << name.toStdString();
}

TEST(DefaultPlatform, FindsFolderDevicesBesideTheOthers)
{
  TempDir dir;
  const QString demo = MakeDemoDevice(dir.File(u"demo"_s));
  const ScopedEnv env("PORTKEEP_FOLDER_DEVICES", QFile::encodeName(demo));
  TPortableDeviceManager manager(CreateDefaultDevicePlatform());
  TPortableDevice* phone = manager.GetDeviceByName(u"Demo Phone"_s);
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(phone->DeviceID(), FolderDeviceID(demo));
  EXPECT_EQ(phone->DeviceName(), u"Demo Phone"_s);
  ASSERT_TRUE(phone->Content()->Refresh());
  EXPECT_NE(phone->Content()->GetObjectByPath(QString::fromUtf16(kDemoFiles[0].Path)), nullptr);
}

} // namespace
