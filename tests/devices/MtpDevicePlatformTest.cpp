#include "FakeLibmtp.h"

#include "devices/PortableDeviceUtils.h"
#include "devices/backends/mtp/MtpDevicePlatform.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

constexpr std::uint32_t kStorage = 0x00010001;
constexpr time_t kPhotoTime = 1560507323; // 2019-06-14 10:15:23 UTC

class MtpTest : public ::testing::Test {
protected:
  MtpTest()
  {
    fakemtp::Reset();
    Options.SysfsUsbRoot = Dir.File(u"sys"_s);
    Options.DevNodeRoot = Dir.File(u"dev"_s);
    Options.ChunkSize = 1000;
    QDir().mkpath(Options.SysfsUsbRoot);
  }
  ~MtpTest() override
  {
    Manager.reset();
    fakemtp::Reset();
  }

  // A phone: Internal shared storage / DCIM (1) / Camera (2) / IMG_0001.jpg (3), IMG_0002.jpg (4);
  // notes.txt (5) and Music (6) at the top.
  fakemtp::Device& AddPhone()
  {
    fakemtp::Device& d = fakemtp::Devices().emplace_back();
    d.Battery = 80;
    d.Storages = {{kStorage, "Internal shared storage", "vol-1"}};
    d.Objects = {
        {1, 0, kStorage, "DCIM", LIBMTP_FILETYPE_FOLDER, kPhotoTime, 0, {}},
        {2, 1, kStorage, "Camera", LIBMTP_FILETYPE_FOLDER, kPhotoTime, 0, {}},
        {3, 2, kStorage, "IMG_0001.jpg", LIBMTP_FILETYPE_JPEG, kPhotoTime, 10000, {}},
        {4, 2, kStorage, "IMG_0002.jpg", LIBMTP_FILETYPE_JPEG, kPhotoTime + 60, 2500, {}},
        {5, 0, kStorage, "notes.txt", LIBMTP_FILETYPE_TEXT, 0, 12, "hello device"},
        {6, 0, kStorage, "Music", LIBMTP_FILETYPE_FOLDER, kPhotoTime, 0, {}},
    };
    return d;
  }

  void AddSysfs(const fakemtp::Device& d, const QByteArray& serial)
  {
    const QString dev = Options.SysfsUsbRoot + u"/1-4"_s;
    QDir().mkpath(dev);
    WriteFile(dev + u"/busnum"_s, QByteArray::number(d.Bus) + '\n');
    WriteFile(dev + u"/devnum"_s, QByteArray::number(d.DevNum) + '\n');
    WriteFile(dev + u"/product"_s, "Pixel 7\n");
    WriteFile(dev + u"/manufacturer"_s, "Google\n");
    WriteFile(dev + u"/serial"_s, serial + '\n');
  }

  TPortableDevice* Open()
  {
    Manager = std::make_unique<TPortableDeviceManager>(CreateMtpDevicePlatform(Options));
    return Manager->GetDevice(0);
  }

  TPortableDeviceContent* Browse()
  {
    TPortableDevice* device = Open();
    if (device == nullptr)
      return nullptr;
    device->Content()->Refresh();
    return device->Content();
  }

  static QString Paths(const TPortableDeviceContent& content)
  {
    QStringList paths;
    for (int i = 1; i < content.ObjectCount(); ++i)
      paths << content.GetObject(i)->Path();
    return paths.join(u'|');
  }

  static QByteArray Expected(const fakemtp::Object& object)
  {
    QByteArray bytes;
    for (std::uint64_t i = 0; i < object.Size; ++i)
      bytes.append(static_cast<char>(fakemtp::DataByte(object, i)));
    return bytes;
  }

  static QByteArray ReadAll(IReadStream& stream, HRESULT& last, std::uint32_t chunk = 777)
  {
    QByteArray buffer(static_cast<qsizetype>(chunk), '\0');
    QByteArray result;
    std::uint32_t got = 0;
    while (SUCCEEDED(last = stream.Read(buffer.data(), chunk, &got)) && got > 0)
      result.append(buffer.constData(), got);
    return result;
  }

  std::shared_ptr<IReadStream> Stream(TPortableDeviceContent& content, const QString& path)
  {
    TFileData data;
    const TPortableDeviceObject* object = content.GetObjectByPath(path);
    if (object == nullptr || FAILED(object->GetFileData(data, true)))
      return nullptr;
    return data.StreamData.FileStream;
  }

  TempDir Dir;
  TMtpDeviceOptions Options;
  std::unique_ptr<TPortableDeviceManager> Manager;
};

TEST_F(MtpTest, NoDeviceAttachedIsAnEmptyList)
{
  TPortableDeviceManager manager(CreateMtpDevicePlatform(Options));
  EXPECT_EQ(manager.DeviceCount(), 0u);
  EXPECT_EQ(manager.GetDevice(0), nullptr);
  EXPECT_EQ(fakemtp::Stats().Detects, 1) << "one detection per listing: it probes the bus";
}

TEST_F(MtpTest, DevicesAreNamedFromUsbAndKeepTheirIdentifier)
{
  AddSysfs(AddPhone(), "2A281FDH30045Z");
  TPortableDeviceManager manager(CreateMtpDevicePlatform(Options));
  ASSERT_EQ(manager.DeviceCount(), 1u);
  EXPECT_EQ(manager.DeviceList().Strings(0), u"mtp:18d1:4ee1:2A281FDH30045Z"_s);
  EXPECT_EQ(manager.DeviceList().Objects(0)->FriendlyName, u"Pixel 7"_s);

  // Reset by libmtp, the phone comes back with another device number.
  fakemtp::Devices()[0].DevNum = 9;
  WriteFile(Options.SysfsUsbRoot + u"/1-4/devnum"_s, "9\n");
  manager.Refresh();
  EXPECT_EQ(manager.DeviceList().Strings(0), u"mtp:18d1:4ee1:2A281FDH30045Z"_s);

  TPortableDevice* phone = manager.GetDeviceByName(u"pixel 7"_s);
  ASSERT_NE(phone, nullptr);
  const int detects = fakemtp::Stats().Detects;
  EXPECT_EQ(phone->DeviceName(), u"Pixel 7"_s);
  EXPECT_EQ(phone->Manufacturer(), u"Google"_s);
  EXPECT_EQ(phone->Description(), u"Google Nexus/Pixel (MTP)"_s);
  EXPECT_EQ(fakemtp::Stats().Detects, detects) << "names come from the last listing";
}

TEST_F(MtpTest, WithoutUsbDetailsTheLibraryNamesTheDevice)
{
  AddPhone();
  TPortableDeviceManager manager(CreateMtpDevicePlatform(Options));
  ASSERT_EQ(manager.DeviceCount(), 1u);
  EXPECT_EQ(manager.DeviceList().Strings(0), u"mtp:18d1:4ee1@1-5"_s);
  EXPECT_EQ(manager.DeviceList().Objects(0)->FriendlyName, u"Nexus/Pixel (MTP)"_s);
}

TEST_F(MtpTest, IdentityOfTheOpenedDevice)
{
  struct Case {
    std::vector<std::string> Extensions;
    int Battery;
    const char16_t* Type;
    const char16_t* Protocol;
    std::uint32_t Level;
  };
  const Case cases[] = {
      {{"microsoft.com", "android.com"}, 80, u"Phone", u"MTP", 80},
      {{"microsoft.com"}, 35, u"Media Player", u"MTP", 35},
      {{}, -1, u"Camera", u"PTP", 0},
  };
  for (const Case& c : cases) {
    Manager.reset();
    fakemtp::Reset();
    fakemtp::Device& d = AddPhone();
    d.Extensions = c.Extensions;
    d.Battery = c.Battery;
    d.Friendly = "Ann's Pixel";
    TPortableDevice* device = Open();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->DeviceTypeAsString(), QString::fromUtf16(c.Type));
    EXPECT_EQ(device->Protocol(), QString::fromUtf16(c.Protocol));
    EXPECT_EQ(device->PowerLevel(), c.Level);
    EXPECT_EQ(device->Firmware(), u"1.0"_s);
    EXPECT_EQ(device->Model(), u"Pixel 7"_s);
    EXPECT_EQ(device->SerialNumber(), u"2A281FDH30045Z"_s);
    ASSERT_TRUE(device->Content()->Refresh());
    EXPECT_EQ(device->Content()->DeviceObject()->DisplayName(), u"Ann's Pixel"_s);
  }
}

TEST_F(MtpTest, TreeIsTheSameWhicheverWayTopLevelObjectsNameTheirParent)
{
  for (const fakemtp::TopParent top : {fakemtp::tpZero, fakemtp::tpAllOnes, fakemtp::tpStorage}) {
    Manager.reset();
    fakemtp::Reset();
    AddPhone().Top = top;
    TPortableDeviceContent* content = Browse();
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(Paths(*content),
              u"Internal shared storage|Internal shared storage\\DCIM|"
              u"Internal shared storage\\DCIM\\Camera|Internal shared storage\\DCIM\\Camera\\IMG_0001.jpg|"
              u"Internal shared storage\\DCIM\\Camera\\IMG_0002.jpg|"
              u"Internal shared storage\\notes.txt|Internal shared storage\\Music"_s)
        << "top-level parent mode " << top;
    EXPECT_EQ(content->RootCount(), 1);
  }
}

TEST_F(MtpTest, EachFolderIsListedOnceAndPropertiesComeFromThatListing)
{
  AddPhone();
  TPortableDeviceContent* content = Browse();
  ASSERT_NE(content, nullptr);
  // The storage's top, DCIM, Camera and Music.
  EXPECT_EQ(fakemtp::Stats().Listings, 4);
  for (int i = 0; i < content->ObjectCount(); ++i) {
    const TPortableDeviceObject* object = content->GetObject(i);
    object->DisplayName();
    object->ObjectType();
    object->LastWriteTime();
    object->Size();
    object->Path();
  }
  EXPECT_EQ(fakemtp::Stats().Listings, 4);
  EXPECT_EQ(fakemtp::Stats().Metadata, 0);

  const TPortableDeviceObject* photo =
      content->GetObjectByPath(u"Internal shared storage\\DCIM\\Camera\\IMG_0001.jpg"_s);
  ASSERT_NE(photo, nullptr);
  EXPECT_EQ(photo->ObjectType(), otFile);
  EXPECT_EQ(photo->ContentType(), ctImage);
  EXPECT_EQ(photo->ObjectFormat(), ofExif);
  EXPECT_EQ(photo->Size(), 10000);
  EXPECT_DOUBLE_EQ(photo->LastWriteTime(), UnixTimeToLocalDateTime(kPhotoTime));
  EXPECT_EQ(content->GetObjectByPath(u"Internal shared storage\\DCIM"_s)->ObjectType(), otFolder);
  EXPECT_EQ(content->GetObjectByPath(u"Internal shared storage\\notes.txt"_s)->ContentType(), ctDocument);
  // A date of 0 is "unknown": the time of asking, as for any unreadable date.
  EXPECT_NEAR(content->GetObjectByPath(u"Internal shared storage\\notes.txt"_s)->LastWriteTime(), DateTimeNow(),
              5.0 / 86400);
}

TEST_F(MtpTest, SizesBeyondFourGigabytes)
{
  AddPhone().Objects.push_back({7, 6, kStorage, "film.mp4", LIBMTP_FILETYPE_MP4, kPhotoTime, 5'000'000'000ull, {}});
  TPortableDeviceContent* content = Browse();
  const TPortableDeviceObject* film = content->GetObjectByPath(u"Internal shared storage\\Music\\film.mp4"_s);
  ASSERT_NE(film, nullptr);
  EXPECT_EQ(film->Size(), 5'000'000'000);
  EXPECT_EQ(film->ContentType(), ctVideo);
}

TEST_F(MtpTest, LockedPhoneShowsNoStorages)
{
  AddPhone().Storages.clear();
  TPortableDevice* phone = Open();
  ASSERT_NE(phone, nullptr);
  EXPECT_TRUE(phone->Content()->Refresh());
  EXPECT_EQ(phone->Content()->RootCount(), 0);
  EXPECT_EQ(phone->Content()->ObjectCount(), 1);
}

TEST_F(MtpTest, FolderThatCannotBeListedIsAnErrorEntry)
{
  AddPhone().FailListing = {2};
  TPortableDevice* phone = Open();
  ASSERT_NE(phone, nullptr);
  EXPECT_FALSE(phone->Content()->Refresh());
  const TErrorList& errors = phone->Content()->ErrorObjects();
  ASSERT_EQ(errors.Count(), 1);
  EXPECT_EQ(phone->Content()->GetObjectByID(errors.Strings(0))->DisplayName(), u"Camera"_s);
  EXPECT_EQ(errors.GetErrorCode(0), static_cast<std::uint32_t>(E_DEVICE_IO));
}

TEST_F(MtpTest, ObjectsReportedTwiceOrInACircleAppearOnce)
{
  fakemtp::Device& d = AddPhone();
  d.ExtraChildren = {{2, 1}, {2, 2}, {6, 3}}; // DCIM below Camera, Camera below itself, a photo twice
  TPortableDeviceContent* content = Browse();
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->ObjectCount(), 8);
}

TEST_F(MtpTest, BusyDeviceNamesTheProgramThatHoldsIt)
{
  AddPhone().Busy = true;
  // This test process plays the file manager that holds the device node.
  QDir().mkpath(Options.DevNodeRoot + u"/001"_s);
  QFile node(Options.DevNodeRoot + u"/001/005"_s);
  ASSERT_TRUE(node.open(QIODevice::WriteOnly));
  const QString self = QString::fromUtf8(ReadFile(u"/proc/self/comm"_s)).trimmed();
  Manager = std::make_unique<TPortableDeviceManager>(CreateMtpDevicePlatform(Options));
  try {
    Manager->GetDevice(0);
    FAIL() << "a busy device opened";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_DEVICE_BUSY);
    EXPECT_TRUE(e.Message().contains(self + u" (process "_s + QString::number(::getpid()) + u')'))
        << e.Message().toStdString();
    EXPECT_TRUE(e.Message().contains(u"Release it in the file manager"_s)) << e.Message().toStdString();
  }
  node.close();
  try {
    Manager->GetDevice(0);
    FAIL() << "a busy device opened";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL) << "nobody to be seen holding it";
    EXPECT_TRUE(e.Message().contains(u"release the device there"_s)) << e.Message().toStdString();
  }
  EXPECT_EQ(Manager->SelectedDevice(), nullptr);
}

struct StreamCase {
  const char* What;
  bool PartialReads;
  bool ShortLastChunk;
  std::int64_t FailAt;
  HRESULT Result;
};

void PrintTo(const StreamCase& c, std::ostream* out)
{
  *out << c.What;
}

class MtpStreamTest : public MtpTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(MtpStreamTest, ReadsTheWholeFileOrFails)
{
  const StreamCase& c = GetParam();
  fakemtp::Device& d = AddPhone();
  d.PartialReads = c.PartialReads;
  d.ShortLastChunk = c.ShortLastChunk;
  d.FailAtOffset = c.FailAt;
  Options.QueueLimit = 3000;
  const fakemtp::Object photo = d.Objects[2];
  TPortableDeviceContent* content = Browse();
  ASSERT_NE(content, nullptr);
  const auto stream = Stream(*content, u"Internal shared storage\\DCIM\\Camera\\IMG_0001.jpg"_s);
  ASSERT_TRUE(stream);

  // Read on another thread, as the copy engine does, while this one browses on.
  HRESULT last = S_OK;
  QByteArray read;
  std::thread reader([&] { read = ReadAll(*stream, last); });
  for (int i = 0; i < 5; ++i)
    content->Refresh();
  reader.join();

  EXPECT_EQ(last, c.Result) << c.What;
  if (SUCCEEDED(c.Result)) {
    EXPECT_EQ(read, Expected(photo)) << c.What;
  } else {
    EXPECT_LT(read.size(), static_cast<qsizetype>(photo.Size)) << c.What;
  }
  EXPECT_EQ(fakemtp::Stats().Overlaps, 0) << "libmtp was entered by two threads at once";
  if (c.PartialReads && c.FailAt < 0) {
    EXPECT_GE(fakemtp::Stats().PartialReads, 10) << "read in chunks of the configured size";
  }
  if (!c.PartialReads) {
    EXPECT_EQ(fakemtp::Stats().Handlers, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, MtpStreamTest,
                         ::testing::Values(StreamCase{"partial reads", true, false, -1, S_OK},
                                           StreamCase{"last chunk one byte short", true, true, -1, S_OK},
                                           StreamCase{"partial reads failing midway", true, false, 5500, E_DEVICE_IO},
                                           StreamCase{"pushed through a queue", false, false, -1, S_OK},
                                           StreamCase{"pushed, failing midway", false, false, 5500, E_DEVICE_IO}),
                         [](const ::testing::TestParamInfo<StreamCase>& param) {
                           return std::string(param.param.PartialReads ? "Pull" : "Push") + std::to_string(param.index);
                         });

TEST_F(MtpTest, AbandonedOrOrphanedStreamsDoNotHang)
{
  fakemtp::Device& d = AddPhone();
  d.PartialReads = false;
  d.Objects[2].Size = 200000;
  Options.QueueLimit = 4096;
  TPortableDeviceContent* content = Browse();
  ASSERT_NE(content, nullptr);
  const QString path = u"Internal shared storage\\DCIM\\Camera\\IMG_0001.jpg"_s;

  // Read a little, then let go: the pump must stop pushing.
  {
    const auto stream = Stream(*content, path);
    char buffer[100];
    std::uint32_t got = 0;
    ASSERT_EQ(stream->Read(buffer, sizeof(buffer), &got), S_OK);
    EXPECT_EQ(got, 100u);
  }

  // Close the device while a stream is half read: its next read fails.
  auto stream = Stream(*content, path);
  char buffer[100];
  std::uint32_t got = 0;
  ASSERT_EQ(stream->Read(buffer, sizeof(buffer), &got), S_OK);
  EXPECT_EQ(Manager->GetDevice(-1), nullptr);
  HRESULT last = S_OK;
  const QByteArray rest = ReadAll(*stream, last);
  EXPECT_TRUE(FAILED(last));
  EXPECT_LT(rest.size(), 200000 - 100);
  stream.reset();
  EXPECT_EQ(fakemtp::Stats().Releases, 1);
}

TEST_F(MtpTest, PullStreamOfAClosedDeviceFails)
{
  AddPhone();
  TPortableDeviceContent* content = Browse();
  const auto stream = Stream(*content, u"Internal shared storage\\notes.txt"_s);
  ASSERT_TRUE(stream);
  Manager->GetDevice(-1);
  char buffer[16];
  std::uint32_t got = 99;
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), E_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(got, 0u);
}

TEST_F(MtpTest, ConnectionIsAskedOfTheDevice)
{
  fakemtp::Device& d = AddPhone();
  TPortableDeviceContent* content = Browse();
  ASSERT_NE(content, nullptr);
  EXPECT_TRUE(content->DeviceConnected());
  d.Gone = true;
  EXPECT_FALSE(content->DeviceConnected());
  d.Gone = false;
  EXPECT_TRUE(content->DeviceConnected());
  EXPECT_EQ(content->GetObjectByPath(u"Internal shared storage\\notes.txt"_s)->LocalPath(), QString());
  Manager.reset();

  // A locked phone shows no storages and answers like a gone one: no reason
  // to give up on it.
  fakemtp::Reset();
  AddPhone().Storages.clear();
  content = Browse();
  EXPECT_TRUE(content->DeviceConnected());
}

// A copy given up on may leave a call stuck in libmtp, with the lock held.
TEST_F(MtpTest, StuckCallHoldsUpNeitherTheCheckNorTheClose)
{
  Options.ProbeWait = std::chrono::milliseconds(100);
  Options.CloseWait = std::chrono::milliseconds(100);
  fakemtp::Device& d = AddPhone();
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false;
  bool released = false;
  d.DuringRead = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    inside = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  };
  TPortableDeviceContent* content = Browse();
  ASSERT_NE(content, nullptr);
  const auto stream = Stream(*content, u"Internal shared storage\\DCIM\\Camera\\IMG_0001.jpg"_s);
  ASSERT_TRUE(stream);
  HRESULT last = S_OK;
  std::thread reader([&] { ReadAll(*stream, last); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return inside; }));
  }

  EXPECT_FALSE(content->DeviceConnected());
  Manager.reset(); // closes the device without waiting for the stuck call
  EXPECT_EQ(fakemtp::Stats().Releases, 0);
  {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
  }
  changed.notify_all();
  reader.join();
  EXPECT_EQ(last, E_DEVICE_NOT_CONNECTED) << "the device is not used again";
  EXPECT_EQ(fakemtp::Stats().Overlaps, 0);
}

} // namespace
