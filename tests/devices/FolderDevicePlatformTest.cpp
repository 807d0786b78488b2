#include "devices/backends/folder/FolderDevicePlatform.h"
#include "devices/DevicePlatforms.h"
#include "devices/PortableDeviceUtils.h"
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

using TFailCall = std::function<int(TFolderCall, const QString&)>;

std::shared_ptr<IDevicePlatform> Platform(const QStringList& folders, const QString& gvfsRoot = QString(),
                                          const QStringList& volumes = {}, TFailCall failCall = {})
{
  TFolderDeviceOptions options;
  options.UseEnvironment = false;
  options.Folders = folders;
  options.GvfsRoot = gvfsRoot.isEmpty() ? u"/nonexistent/gvfs"_s : gvfsRoot;
  options.RemovableVolumes = [volumes] { return volumes; };
  options.FailCall = std::move(failCall);
  return CreateFolderDevicePlatform(options);
}

bool RunningAsRoot()
{
  return ::geteuid() == 0;
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
      {u"IMG_1.jpg", ctImage, ofExif},
      {u"IMG_2.JPEG", ctImage, ofExif},
      {u"clip.mp4", ctVideo, ofMp4},
      {u"song.mp3", ctAudio, ofMp3},
      {u"notes.txt", ctDocument, ofText},
      {u"card.vcf", ctContact, ofVCard3},
      {u"list.m3u", ctPlayList, ofM3uPlaylist},
      {u"paper.pdf", ctDocument, ofUnknown},
      {u"data.xyz", ctGenericFile, ofUnknown},
      {u"README", ctGenericFile, ofUnknown},
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
  Link(dev + u"/Music/song.mp3"_s, dev + u"/Photos/song-link.mp3"_s);     // inside: a file
  Link(u"../Music"_s, dev + u"/Photos/music-link"_s);                     // inside: a folder
  Link(dir.File(u"outside/secret.txt"_s), dev + u"/Photos/secret.txt"_s); // outside
  Link(dir.File(u"outside"_s), dev + u"/Photos/outside-dir"_s);           // outside
  Link(u".."_s, dev + u"/Photos/up"_s);                                   // loops back to the top
  Link(u"."_s, dev + u"/Music/here"_s);                                   // loops onto itself
  Link(u"self"_s, dev + u"/Music/self"_s);                                // a link to itself
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

// What cannot be read stays in the tree and fails where it is used. The
// failures are those of a broken card and of missing permissions, played
// through the test hook so that they happen for root too.
TEST(FolderDevices, UnreadableNamesStayInTheTree)
{
  TempDir dir;
  dir.Write(u"dev/DCIM/a.jpg"_s, "photo");
  dir.Write(u"dev/DCIM/broken.jpg"_s, "cannot be examined");
  dir.Write(u"dev/Locked/x.txt"_s, "cannot be listed");
  dir.Write(u"dev/secret.txt"_s, "cannot be opened");
  const TFailCall failures = [](TFolderCall call, const QString& path) {
    if (call == fcStat && path == u"DCIM/broken.jpg"_s)
      return EIO;
    if (call == fcListFolder && path == u"Locked"_s)
      return EACCES;
    if (call == fcOpenFile && path == u"secret.txt"_s)
      return EACCES;
    return 0;
  };
  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}, {}, {}, failures));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  EXPECT_FALSE(content->Refresh());
  EXPECT_EQ(Tree(*content), u"dev (root)\n"
                            u"dev\\DCIM (folder)\n"
                            u"dev\\DCIM\\a.jpg (file)\n"
                            u"dev\\DCIM\\broken.jpg (file)\n"
                            u"dev\\Locked (folder)\n"
                            u"dev\\secret.txt (file)"_s);

  const TPortableDeviceObject* broken = content->GetObjectByPath(u"dev\\DCIM\\broken.jpg"_s);
  TFileData data;
  EXPECT_EQ(broken->GetFileData(data, true), E_DEVICE_IO);
  EXPECT_EQ(data.FileName, u"broken.jpg"_s);
  EXPECT_EQ(data.FileSize, 0) << "a size it does not have";
  EXPECT_FALSE(data.StreamData.FileStream);
  EXPECT_EQ(content->GetObjectByPath(u"dev\\secret.txt"_s)->GetFileData(data, true), E_ACCESSDENIED);
  EXPECT_EQ(content->GetObjectByPath(u"dev\\DCIM\\a.jpg"_s)->GetFileData(data, true), S_OK);

  const TPortableDeviceObject* locked = content->GetObjectByPath(u"dev\\Locked"_s);
  EXPECT_EQ(locked->ListError(), E_ACCESSDENIED);
  EXPECT_EQ(locked->ChildCount(), 0);
  EXPECT_EQ(content->GetObjectByPath(u"dev\\DCIM"_s)->ListError(), S_OK);
  ASSERT_EQ(content->ErrorObjects().Count(), 1);
  EXPECT_EQ(content->ErrorObjects().Strings(0), locked->ObjectID());

  // On a device whose top folders are storages, such a name is a storage
  // that cannot be listed.
  dir.Write(u"phone/device.ini"_s, "[Device]\nStorages=subfolders\n");
  dir.Write(u"phone/Internal/a.txt"_s, "a");
  dir.Write(u"phone/Card/b.txt"_s, "b");
  TPortableDeviceManager phones(Platform({dir.File(u"phone"_s)}, {}, {}, [](TFolderCall call, const QString& path) {
    return call == fcStat && path == u"Card"_s ? EIO : 0;
  }));
  TPortableDeviceContent* phone = phones.GetDevice(0)->Content();
  EXPECT_FALSE(phone->Refresh());
  EXPECT_EQ(phone->RootCount(), 2);
  EXPECT_EQ(phone->GetObjectByPath(u"Card"_s)->ListError(), E_DEVICE_IO);
  EXPECT_NE(phone->GetObjectByPath(u"Internal\\a.txt"_s), nullptr);
}

// The same with real permissions, which root does not feel.
TEST(FolderDevices, PermissionsThatKeepTheUserOut)
{
  if (RunningAsRoot())
    GTEST_SKIP() << "root reads files whatever their mode; UnreadableNamesStayInTheTree plays these failures";
  TempDir dir;
  const QString dev = dir.File(u"dev"_s);
  dir.Write(u"dev/private.txt"_s, "mode 000");
  dir.Write(u"dev/Closed/a.txt"_s, "in a folder of mode 000");
  dir.Write(u"dev/NoSearch/b.txt"_s, "in a folder that can be read but not searched");
  const auto mode = [](const QString& path, mode_t m) { ::chmod(QFile::encodeName(path).constData(), m); };
  mode(dev + u"/private.txt"_s, 0);
  mode(dev + u"/Closed"_s, 0);
  mode(dev + u"/NoSearch"_s, 0444);
  TPortableDeviceManager manager(Platform({dev}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  EXPECT_FALSE(content->Refresh());
  TFileData data;
  EXPECT_EQ(content->GetObjectByPath(u"dev\\private.txt"_s)->GetFileData(data, true), E_ACCESSDENIED);
  EXPECT_EQ(content->GetObjectByPath(u"dev\\Closed"_s)->ListError(), E_ACCESSDENIED);
  const TPortableDeviceObject* hidden = content->GetObjectByPath(u"dev\\NoSearch\\b.txt"_s);
  ASSERT_NE(hidden, nullptr) << "a name that cannot be examined is still listed";
  EXPECT_EQ(hidden->GetFileData(data, true), E_ACCESSDENIED);
  mode(dev + u"/Closed"_s, 0755);
  mode(dev + u"/NoSearch"_s, 0755);
}

// A tree deeper than a path may be long is read to the bottom, one folder at
// a time, and its files are read too.
TEST(FolderDevices, TreeDeeperThanThePathLimit)
{
  TempDir dir;
  const QByteArray root = QFile::encodeName(dir.File(u"dev"_s));
  ASSERT_EQ(::mkdir(root.constData(), 0755), 0);
  dir.Write(u"outside.txt"_s, "not on the device");
  const QByteArray shallow = root + "/shallow.txt";
  WriteFile(QFile::decodeName(shallow), "near the top");
  // rm copes with any depth; QDir does not.
  struct TRemove {
    QByteArray Root;
    ~TRemove() { ardanto::test::Run(u"rm"_s, {u"-rf"_s, QFile::decodeName(Root)}); }
  } remove{root};

  constexpr int kLevels = 250;
  const QByteArray name = "level-with-a-longer-name";
  int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < kLevels; ++i) {
    ASSERT_EQ(::mkdirat(fd, name.constData(), 0755), 0) << i;
    const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    ASSERT_GE(fd, 0) << i;
  }
  const QByteArray data = "at the bottom";
  const int file = ::openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0640);
  ASSERT_EQ(::write(file, data.constData(), data.size()), data.size());
  ::close(file);
  ASSERT_EQ(::symlinkat(QFile::encodeName(dir.File(u"outside.txt"_s)).constData(), fd, "outside-link.txt"), 0);
  ASSERT_EQ(::symlinkat(shallow.constData(), fd, "shallow-link.txt"), 0);
  ::close(fd);

  TPortableDeviceManager manager(Platform({dir.File(u"dev"_s)}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  EXPECT_TRUE(content->Refresh());
  EXPECT_EQ(content->ErrorObjects().Count(), 0);
  EXPECT_EQ(content->FolderCount(), kLevels);
  QStringList parts{u"dev"_s};
  for (int i = 0; i < kLevels; ++i)
    parts << QString::fromLatin1(name);
  const QString deepest = parts.join(u'\\');
  ASSERT_GT(deepest.size(), 4096);
  const TPortableDeviceObject* folder = content->GetObjectByPath(deepest);
  ASSERT_NE(folder, nullptr);
  QStringList names;
  for (int i = 0; i < folder->ChildCount(); ++i)
    names << folder->GetChild(i)->DisplayName();
  EXPECT_EQ(names, (QStringList{u"bottom.txt"_s, u"shallow-link.txt"_s})) << "a link out of the device stays out";

  for (const auto& [leaf, expected] : {std::pair{u"bottom.txt"_s, data}, {u"shallow-link.txt"_s, "near the top"}}) {
    TFileData fileData;
    ASSERT_EQ(content->GetObjectByPath(deepest + u'\\' + leaf)->GetFileData(fileData, true), S_OK)
        << leaf.toStdString();
    HRESULT last = E_FAIL;
    EXPECT_EQ(ReadStream(*fileData.StreamData.FileStream, last), expected);
    EXPECT_EQ(last, S_OK);
  }
}

// The device folder moved away, or another folder in its place, is a
// device that is gone.
TEST(FolderDevices, ConnectedWhileTheSameFolderIsThere)
{
  TempDir dir;
  dir.Write(u"dev/a.txt"_s, "a");
  const QString dev = dir.File(u"dev"_s);
  TPortableDeviceManager manager(Platform({dev}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  ASSERT_TRUE(content->Refresh());
  EXPECT_TRUE(content->DeviceConnected());
  ASSERT_TRUE(QFile::rename(dev, dir.File(u"away"_s)));
  EXPECT_FALSE(content->DeviceConnected());
  ASSERT_TRUE(QFile::rename(dir.File(u"away"_s), dev));
  EXPECT_TRUE(content->DeviceConnected()) << "back again";
  ASSERT_TRUE(QFile::rename(dev, dir.File(u"away"_s)));
  ASSERT_TRUE(QDir().mkpath(dev));
  EXPECT_FALSE(content->DeviceConnected()) << "a new folder of that name is another device";
  TFileStreamData stream;
  EXPECT_TRUE(FAILED(content->GetObjectByPath(u"dev\\a.txt"_s)->GetFileStream(stream)));
}

TEST(FolderDevices, LocalPathsAndModesOfTheObjects)
{
  TempDir dir;
  const QString a = dir.Write(u"dev/DCIM/a.jpg"_s, "a");
  ::chmod(QFile::encodeName(a).constData(), 0640);
  const QString dev = dir.File(u"dev"_s);
  TPortableDeviceManager manager(Platform({dev}));
  TPortableDeviceContent* content = manager.GetDevice(0)->Content();
  ASSERT_TRUE(content->Refresh());
  EXPECT_EQ(content->DeviceObject()->LocalPath(), dev);
  EXPECT_EQ(content->GetObjectByPath(u"dev"_s)->LocalPath(), dev) << "the folder is the one storage";
  EXPECT_EQ(content->GetObjectByPath(u"dev\\DCIM"_s)->LocalPath(), dev + u"/DCIM"_s);
  const TPortableDeviceObject* file = content->GetObjectByPath(u"dev\\DCIM\\a.jpg"_s);
  EXPECT_EQ(file->LocalPath(), a);
  TFileData data;
  ASSERT_EQ(file->GetFileData(data, false), S_OK);
  EXPECT_EQ(data.PosixMode, static_cast<std::uint32_t>(S_IFREG | 0640));
  ASSERT_EQ(content->GetObjectByPath(u"dev\\DCIM"_s)->GetFileData(data, false), S_OK);
  EXPECT_EQ(data.PosixMode, 0u) << "folders are not copied";
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
  for (const char16_t* folder :
       {u"Internal storage\\DCIM\\Camera", u"Internal storage\\Music", u"Internal storage\\Documents"}) {
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
