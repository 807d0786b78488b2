#include "devices/PortableDeviceUtils.h"
#include "devices/support/FakeDevicePlatform.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

using P = TFakeDevicePlatform;

// A phone with two storages:
//   s1 Phone: DCIM (f1) / Camera (f2) / IMG_0001.jpg (p1), IMG_0002.jpg (p2); Music (f3) / song.mp3 (m1)
//   s2 SD card: notes.txt (t1)
class ContentTest : public ::testing::Test {
public:
  ContentTest() { Build(); }

  void Build()
  {
    Manager.reset();
    Platform = std::make_shared<TFakeDevicePlatform>();
    TFakeDevice& d = Phone();
    P::AddStorage(d, u"s1"_s, u"Phone"_s);
    P::AddFolder(d, u"f1"_s, u"s1"_s, u"DCIM"_s);
    P::AddFolder(d, u"f2"_s, u"f1"_s, u"Camera"_s);
    P::AddFile(d, u"p1"_s, u"f2"_s, u"IMG_0001.jpg"_s, "jpeg one", 43000.25, ctImage, ofExif);
    P::AddFile(d, u"p2"_s, u"f2"_s, u"IMG_0002.jpg"_s, "jpeg two", 43001.5, ctImage, ofExif);
    P::AddFolder(d, u"f3"_s, u"s1"_s, u"Music"_s);
    P::AddFile(d, u"m1"_s, u"f3"_s, u"song.mp3"_s, "mp3", 43002.0, ctAudio, ofMp3);
    P::AddStorage(d, u"s2"_s, u"SD card"_s);
    P::AddFile(d, u"t1"_s, u"s2"_s, u"notes.txt"_s, "text", 43003.0, ctDocument, ofText);
  }

  TFakeDevice& Phone()
  {
    if (Platform->Devices.empty())
      Platform->AddDevice(u"phone"_s, u"Phone"_s);
    return Platform->Devices.front();
  }
  TFakeObject& Object(const QString& id) { return Phone().Objects[id]; }

  TPortableDeviceContent* Open()
  {
    Manager = std::make_unique<TPortableDeviceManager>(Platform);
    TPortableDevice* device = Manager->GetDevice(0);
    return device != nullptr ? device->Content() : nullptr;
  }

  TPortableDeviceContent* Read(bool* result = nullptr)
  {
    TPortableDeviceContent* content = Open();
    const bool ok = content->Refresh();
    if (result != nullptr)
      *result = ok;
    return content;
  }

  static QString Ids(const TPortableDeviceContent& content)
  {
    QStringList ids;
    for (int i = 0; i < content.ObjectCount(); ++i)
      ids << content.GetObject(i)->ObjectID();
    return ids.join(u' ');
  }

  std::shared_ptr<TFakeDevicePlatform> Platform;
  std::unique_ptr<TPortableDeviceManager> Manager;
};

TEST_F(ContentTest, RefreshReadsTheTreeDepthFirstIntoAFlatList)
{
  TPortableDeviceContent* content = Open();
  ASSERT_NE(content, nullptr);
  QStringList notified;
  EXPECT_TRUE(content->Refresh([&](int index, const QString& id) { notified << QString::number(index) + id; }));

  EXPECT_EQ(Ids(*content), u"DEVICE s1 f1 f2 p1 p2 f3 m1 s2 t1"_s);
  EXPECT_EQ(notified.join(u' '), u"0DEVICE 1s1 2f1 3f2 4p1 5p2 6f3 7m1 8s2 9t1"_s);
  EXPECT_EQ(content->ErrorObjects().Count(), 0);

  struct Expected {
    int Index, Parent, Level, Children;
  };
  const Expected expected[] = {{0, -1, 0, 2}, {1, 0, 1, 2}, {2, 1, 2, 1}, {3, 2, 3, 2}, {4, 3, 4, 0},
                               {5, 3, 4, 0},  {6, 1, 2, 1}, {7, 6, 3, 0}, {8, 0, 1, 1}, {9, 8, 2, 0}};
  for (const Expected& e : expected) {
    const TPortableDeviceObject* object = content->GetObject(e.Index);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Index(), e.Index);
    EXPECT_EQ(object->ParentIndex(), e.Parent) << e.Index;
    EXPECT_EQ(object->Level(), e.Level) << e.Index;
    EXPECT_EQ(object->ChildCount(), e.Children) << e.Index;
  }
  EXPECT_EQ(content->GetObject(3)->GetChild(1)->ObjectID(), u"p2"_s);
  EXPECT_EQ(content->GetObject(3)->GetChild(2), nullptr);
  EXPECT_EQ(content->GetObject(3)->GetChild(-1), nullptr);
  EXPECT_EQ(content->GetObject(10), nullptr);
  EXPECT_EQ(content->GetObject(-1), nullptr);
  // Every object, files included, was asked for its children.
  EXPECT_EQ(Platform->Stats.EnumCalls, 10);
}

TEST_F(ContentTest, ChildrenComeTenAtATimeAndEmptySlotsAreSkipped)
{
  TFakeDevice& d = Phone();
  for (int i = 0; i < 23; ++i)
    P::AddFile(d, u"x"_s + QString::number(i), u"f3"_s, u"f"_s + QString::number(i), "x");
  Object(u"f3"_s).Children.insert(5, QString()); // the device leaves a slot empty
  TPortableDeviceContent* content = Read();
  const TPortableDeviceObject* music = content->GetObjectByID(u"f3"_s);
  ASSERT_NE(music, nullptr);
  EXPECT_EQ(music->ChildCount(), 24);
  EXPECT_EQ(music->GetChild(5)->ObjectID(), u"x4"_s);
}

TEST_F(ContentTest, TopLevelThatCannotBeListed)
{
  Object(u"DEVICE"_s).EnumResult = E_DEVICE_IO;
  bool result = true;
  TPortableDeviceContent* content = Read(&result);
  EXPECT_FALSE(result);
  EXPECT_EQ(Ids(*content), u"DEVICE"_s);
  ASSERT_EQ(content->ErrorObjects().Count(), 1);
  EXPECT_EQ(content->ErrorObjects().Strings(0), u"DEVICE"_s);
  EXPECT_EQ(content->ErrorObjects().GetErrorCode(0), static_cast<std::uint32_t>(E_DEVICE_IO));
  ASSERT_NE(content->DeviceObject(), nullptr);
  EXPECT_EQ(content->DeviceObject()->ObjectID(), u"DEVICE"_s);
  EXPECT_EQ(content->RootCount(), 0);
}

TEST_F(ContentTest, ListingFailuresBelowTheTop)
{
  struct Case {
    const char* What;
    std::function<void(ContentTest&)> Script;
    bool Result;
    const char16_t* Ids;
    int Errors;
    const char16_t* Failing; // the object whose ListError() tells the failure
    HRESULT Code;
  };
  const Case cases[] = {
      {"a folder that cannot be listed is kept, without children",
       [](ContentTest& t) { t.Object(u"f2"_s).EnumResult = E_ACCESSDENIED; }, false, u"DEVICE s1 f1 f2 f3 m1 s2 t1", 1,
       u"f2", E_ACCESSDENIED},
      {"a listing that succeeds with S_FALSE gives no children and no error",
       [](ContentTest& t) { t.Object(u"f1"_s).EnumResult = S_FALSE; }, true, u"DEVICE s1 f1 f3 m1 s2 t1", 0, u"", S_OK},
      {"a failing Next ends the listing quietly", [](ContentTest& t) { t.Object(u"s1"_s).NextFailsAfter = 0; }, true,
       u"DEVICE s1 s2 t1", 0, u"", S_OK},
      {"files are asked too, and may fail", [](ContentTest& t) { t.Object(u"m1"_s).EnumResult = E_FAIL; }, false,
       u"DEVICE s1 f1 f2 p1 p2 f3 m1 s2 t1", 1, u"m1", E_FAIL},
  };
  for (const Case& c : cases) {
    Build();
    c.Script(*this);
    bool result = !c.Result;
    TPortableDeviceContent* content = Read(&result);
    EXPECT_EQ(result, c.Result) << c.What;
    EXPECT_EQ(Ids(*content), QString::fromUtf16(c.Ids)) << c.What;
    EXPECT_EQ(content->ErrorObjects().Count(), c.Errors) << c.What;
    for (int i = 0; i < content->ObjectCount(); ++i) {
      const TPortableDeviceObject* object = content->GetObject(i);
      EXPECT_EQ(object->ListError(), object->ObjectID() == QString::fromUtf16(c.Failing) ? c.Code : S_OK)
          << c.What << ": " << object->ObjectID().toStdString();
    }
  }
  // A new reading forgets the old failures.
  Build();
  Object(u"f2"_s).EnumResult = E_ACCESSDENIED;
  TPortableDeviceContent* content = Read();
  EXPECT_EQ(content->GetObjectByID(u"f2"_s)->ListError(), E_ACCESSDENIED);
  Object(u"f2"_s).EnumResult = S_OK;
  EXPECT_TRUE(content->Refresh());
  EXPECT_EQ(content->GetObjectByID(u"f2"_s)->ListError(), S_OK);
}

TEST_F(ContentTest, ConnectionAsTheDeviceTellsIt)
{
  TPortableDeviceContent* content = Read();
  EXPECT_TRUE(content->DeviceConnected());
  for (const HRESULT gone : {E_DEVICE_NOT_CONNECTED, E_DEVICE_IO}) {
    Phone().ConnectionResult = gone;
    EXPECT_FALSE(content->DeviceConnected());
  }
  Phone().ConnectionResult = S_OK;
  EXPECT_TRUE(content->DeviceConnected());
  // Nothing on this device is a local file or folder.
  EXPECT_EQ(content->GetObjectByID(u"p1"_s)->LocalPath(), QString());
  EXPECT_EQ(content->DeviceObject()->LocalPath(), QString());
}

TEST_F(ContentTest, NextFailingAfterTheFirstBatchKeepsThatBatch)
{
  for (int i = 0; i < 15; ++i)
    P::AddFile(Phone(), u"x"_s + QString::number(i), u"s2"_s, u"f"_s + QString::number(i), "x");
  Object(u"s2"_s).NextFailsAfter = 1;
  bool result = false;
  TPortableDeviceContent* content = Read(&result);
  EXPECT_TRUE(result);
  EXPECT_EQ(content->GetObjectByID(u"s2"_s)->ChildCount(), 10);
}

TEST_F(ContentTest, ObjectTypesFollowContentTypeAndParent)
{
  TFakeDevice& d = Phone();
  P::AddFile(d, u"c1"_s, u"s2"_s, u"group"_s, "", 0, ctContactGroup);
  P::AddFile(d, u"c2"_s, u"s2"_s, u"unreadable type"_s, "").PropertyFailures[pkContentType] = E_FAIL;
  P::AddFile(d, u"c3"_s, u"s2"_s, u"odd type"_s, "").Properties[pkContentType] = TPropVariant::String(u"image"_s);
  P::AddFile(d, u"c4"_s, u"s2"_s, u"unknown guid"_s, "").Properties[pkContentType] = TPropVariant::Guid({1, 2, 3, {}});
  P::AddStorage(d, u"s3"_s, u"no parent"_s).Properties[pkParentID] = TPropVariant::String(QString());
  TPortableDeviceContent* content = Read();

  const std::pair<const char16_t*, TObjectType> cases[] = {
      {u"DEVICE", otDevice}, {u"s1", otRoot}, {u"f1", otFolder},  {u"p1", otFile},   {u"c1", otUnknown},
      {u"c2", otFile},       {u"c3", otFile}, {u"c4", otUnknown}, {u"s3", otDevice}, // a functional object without
                                                                                     // parent is a device
  };
  for (const auto& [id, type] : cases) {
    const TPortableDeviceObject* object = content->GetObjectByID(QString::fromUtf16(id));
    ASSERT_NE(object, nullptr) << QString::fromUtf16(id).toStdString();
    EXPECT_EQ(object->ObjectType(), type) << QString::fromUtf16(id).toStdString();
  }
  EXPECT_EQ(content->GetObjectByID(u"c2"_s)->ContentType(), ctUnspecified);
  EXPECT_EQ(content->GetObjectByID(u"c4"_s)->ContentType(), ctUnknown);
  EXPECT_EQ(content->RootCount(), 2);
  EXPECT_EQ(content->FolderCount(), 3);
  EXPECT_EQ(content->GetRootObject(1)->ObjectID(), u"s2"_s);
  EXPECT_EQ(content->GetRootObject(2), nullptr);
  EXPECT_EQ(content->DeviceObject()->ObjectID(), u"DEVICE"_s);

  int index = 3;
  EXPECT_EQ(content->FindNextObject(otFolder, index)->ObjectID(), u"f2"_s);
  EXPECT_EQ(index, 3);
  index = 7;
  EXPECT_EQ(content->FindNextObject(otFolder, index), nullptr);
  EXPECT_EQ(index, content->ObjectCount());
}

TEST_F(ContentTest, WhatIsCachedAndWhatIsAskedAgain)
{
  P::AddFile(Phone(), u"e1"_s, u"s2"_s, u""_s, "");
  Object(u"e1"_s).PropertyFailures[pkObjectFormat] = E_FAIL;
  Object(u"t1"_s).Properties[pkContentType] = TPropVariant::String(u"wrong type"_s);
  TPortableDeviceContent* content = Read();
  const TPortableDeviceObject* song = content->GetObjectByID(u"m1"_s);
  const TPortableDeviceObject* empty = content->GetObjectByID(u"e1"_s);
  const TPortableDeviceObject* notes = content->GetObjectByID(u"t1"_s);
  auto reads = [&](const char16_t* id, TPropertyKey key) { return Platform->Stats.Reads(QString::fromUtf16(id), key); };

  for (int i = 0; i < 3; ++i) {
    song->ObjectName();
    song->ContentGuid();
    song->ObjectFormat();
    song->LastWriteTime();
    song->Size();
    empty->ObjectName();
    empty->ObjectFormat();
    notes->ContentGuid();
  }
  EXPECT_EQ(reads(u"m1", pkObjectName), 1);
  EXPECT_EQ(reads(u"m1", pkContentType), 1);
  EXPECT_EQ(reads(u"m1", pkObjectFormat), 1);
  EXPECT_EQ(reads(u"m1", pkDateModified), 3) << "dates are never kept";
  EXPECT_EQ(reads(u"m1", pkSize), 3) << "sizes are never kept";
  EXPECT_EQ(reads(u"e1", pkObjectName), 3) << "an empty name counts as not read";
  EXPECT_EQ(reads(u"e1", pkObjectFormat), 1) << "the format is kept even when unreadable";
  EXPECT_EQ(empty->ObjectFormat(), ofUnknown);
  EXPECT_EQ(reads(u"t1", pkContentType), 1) << "a read of the wrong type is kept, as unspecified";
  EXPECT_EQ(notes->ContentType(), ctUnspecified);
}

TEST_F(ContentTest, PropertiesOfTheWrongTypeOrMissingGiveDefaults)
{
  TFakeObject& song = Object(u"m1"_s);
  song.Properties[pkSize] = TPropVariant::UInt32(3); // not 64-bit: 0
  song.Properties[pkDateModified] = TPropVariant::String(u"2020-01-01"_s);
  song.Properties[pkObjectName] = TPropVariant::Guid({});
  Object(u"p1"_s).Properties[pkSize] = TPropVariant::UInt64(5'000'000'000ull);
  TPortableDeviceContent* content = Read();
  const TPortableDeviceObject* object = content->GetObjectByID(u"m1"_s);
  EXPECT_EQ(object->Size(), 0);
  EXPECT_EQ(object->ObjectName(), QString());
  EXPECT_NEAR(object->LastWriteTime(), DateTimeNow(), 1.0 / 86400 * 5) << "an unreadable date is now";
  EXPECT_NEAR(object->CreationTime(), DateTimeNow(), 1.0 / 86400 * 5);
  EXPECT_EQ(content->GetObjectByID(u"p1"_s)->Size(), 5'000'000'000);
  EXPECT_DOUBLE_EQ(content->GetObjectByID(u"p1"_s)->LastWriteTime(), 43000.25);
}

TEST_F(ContentTest, DisplayNamesAndPaths)
{
  TFakeDevice& d = Phone();
  P::AddFile(d, u"n1"_s, u"f3"_s, u"object name"_s, "").Properties.remove(pkOriginalFileName);
  P::AddFile(d, u"n2"_s, u"f3"_s, u"object name"_s, "").Properties[pkOriginalFileName] =
      TPropVariant::String(u"original.mp3"_s);
  TFakeObject& n3 = P::AddFile(d, u"n3"_s, u"f3"_s, QString(), "");
  n3.Properties.remove(pkObjectName);
  n3.Properties.remove(pkOriginalFileName);
  TFakeObject& n4 = P::AddFolder(d, u"n4"_s, u"f3"_s, u"name"_s);
  n4.Properties[pkOriginalFileName] = TPropVariant::String(u"original"_s);
  TFakeObject& n5 = P::AddFolder(d, u"n5"_s, u"f3"_s, QString());
  n5.Properties.remove(pkObjectName);
  n5.Properties.remove(pkOriginalFileName);
  P::AddFile(d, u"n6"_s, u"f3"_s, u"orphan.txt"_s, "").Properties[pkParentID] = TPropVariant::String(u"gone"_s);
  TPortableDeviceContent* content = Read();

  const std::tuple<const char16_t*, const char16_t*, const char16_t*> cases[] = {
      {u"n1", u"object name", u"Phone\\Music\\object name"},
      {u"n2", u"original.mp3", u"Phone\\Music\\original.mp3"}, // files: original name first
      {u"n3", u"n3.data", u"Phone\\Music\\n3.data"},
      {u"n4", u"name", u"Phone\\Music\\name"}, // others: object name first
      {u"n5", u"n5", u"Phone\\Music\\n5"},
      {u"n6", u"orphan.txt", u"orphan.txt"}, // the walk ends at a missing parent
      {u"s2", u"SD card", u"SD card"},
      {u"DEVICE", u"Phone", u"Phone"},
  };
  for (const auto& [id, name, path] : cases) {
    const TPortableDeviceObject* object = content->GetObjectByID(QString::fromUtf16(id));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->DisplayName(), QString::fromUtf16(name));
    EXPECT_EQ(object->Path(), QString::fromUtf16(path));
  }
}

TEST_F(ContentTest, PathEndsEvenWhenTheDeviceReportsParentsInACircle)
{
  Object(u"f1"_s).Properties[pkParentID] = TPropVariant::String(u"f2"_s);
  TPortableDeviceContent* content = Read();
  const QString path = content->GetObjectByID(u"p1"_s)->Path();
  EXPECT_TRUE(path.endsWith(u"DCIM\\Camera\\IMG_0001.jpg"_s)) << path.toStdString();
}

TEST_F(ContentTest, ObjectsByIdentifierAndByPath)
{
  // The device lists one identifier twice: the first stays the one found.
  Object(u"s2"_s).Children << u"m1"_s;
  TPortableDeviceContent* content = Read();
  EXPECT_EQ(content->GetObjectByID(u"M1"_s)->Index(), 7);
  EXPECT_EQ(content->GetObjectByID(u"nothing"_s), nullptr);

  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"Phone", u"s1"},
      {u"phone\\dcim\\CAMERA", u"f2"},
      {u"Phone\\DCIM\\Camera\\IMG_0002.jpg", u"p2"},
      {u"SD card\\notes.txt", u"t1"},
      {u"Phone\\", u"s1"},
      {u"", nullptr},
      {u"\\Phone\\DCIM", nullptr},
      {u"Phone:\\DCIM", nullptr},
      {u"Phone\\DCIM\\Screenshots", nullptr},
      {u"Tablet\\DCIM", nullptr},
      {u"DCIM", nullptr},
  };
  for (const auto& [path, id] : cases) {
    const TPortableDeviceObject* object = content->GetObjectByPath(QString::fromUtf16(path));
    const QString found = object != nullptr ? object->ObjectID() : u"(none)"_s;
    EXPECT_EQ(found, id != nullptr ? QString::fromUtf16(id) : u"(none)"_s) << QString::fromUtf16(path).toStdString();
    EXPECT_EQ(content->GetObjectIndexByPath(QString::fromUtf16(path)), object != nullptr ? object->Index() : -1);
  }
  EXPECT_EQ(content->GetObjectByID(u"f2"_s)->GetChildByName(u"img_0001.JPG"_s)->ObjectID(), u"p1"_s);
  EXPECT_EQ(content->GetObjectByID(u"f2"_s)->GetChildByOriginalName(u"IMG_0002.JPG"_s)->ObjectID(), u"p2"_s);
  EXPECT_EQ(content->GetObjectByID(u"f2"_s)->GetChildByName(u"IMG_0003.jpg"_s), nullptr);
}

TEST_F(ContentTest, RefreshStartsAfreshAndChildCountStaysAsFirstSeen)
{
  Object(u"f3"_s).EnumResult = E_FAIL;
  TPortableDeviceContent* content = Read();
  EXPECT_EQ(content->ErrorObjects().Count(), 1);
  Object(u"f3"_s).EnumResult = S_OK;
  EXPECT_TRUE(content->Refresh());
  EXPECT_EQ(content->ErrorObjects().Count(), 0);
  EXPECT_EQ(content->ObjectCount(), 10);

  TPortableDeviceObject* music = content->GetObjectByID(u"f3"_s);
  EXPECT_EQ(music->ChildCount(), 1);
  music->AddChild(9);
  EXPECT_EQ(music->ChildCount(), 1);
  EXPECT_EQ(music->GetChild(1)->ObjectID(), u"t1"_s);
}

TEST_F(ContentTest, DeepTreesDoNotExhaustTheStack)
{
  TFakeDevice& d = Phone();
  QString parent = u"s2"_s;
  constexpr int kDepth = 50000;
  for (int i = 0; i < kDepth; ++i) {
    const QString id = u"d"_s + QString::number(i);
    P::AddFolder(d, id, parent, u"level"_s);
    parent = id;
  }
  bool result = false;
  TPortableDeviceContent* content = Read(&result);
  EXPECT_TRUE(result);
  EXPECT_EQ(content->ObjectCount(), 10 + kDepth);
  EXPECT_EQ(content->GetObject(content->ObjectCount() - 1)->Level(), kDepth + 1);
}

TEST_F(ContentTest, FileDataForTheCopyEngine)
{
  Object(u"p1"_s).BufferSize = 3;
  TPortableDeviceContent* content = Read();
  const TPortableDeviceObject* photo = content->GetObjectByID(u"p1"_s);

  TFileData data;
  data.FullPath = u"left over"_s;
  ASSERT_EQ(photo->GetFileData(data, true), S_OK);
  EXPECT_EQ(data.FileName, u"IMG_0001.jpg"_s);
  EXPECT_EQ(data.FullPath, QString());
  EXPECT_EQ(data.FileSize, 8);
  EXPECT_EQ(data.FileAttr, FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(data.TimeStamps.Valid);
  const TFileTime expected = DateTimeUtcToFileTime(LocalToUtc(43000.25));
  EXPECT_EQ(data.TimeStamps.LastWriteTime, expected);
  EXPECT_EQ(data.TimeStamps.LastAccessTime, expected);
  EXPECT_EQ(data.PosixMode, 0u) << "the device does not say";
  EXPECT_EQ(data.StreamData.BufferSize, 3u);
  ASSERT_TRUE(data.StreamData.FileStream);

  // The copy engine reads on its own thread.
  QByteArray read;
  HRESULT last = S_OK;
  std::thread reader([&] {
    char buffer[3];
    std::uint32_t got = 0;
    while (SUCCEEDED(last = data.StreamData.FileStream->Read(buffer, sizeof(buffer), &got)) && got > 0)
      read.append(buffer, got);
  });
  reader.join();
  EXPECT_EQ(last, S_OK);
  EXPECT_EQ(read, QByteArray("jpeg one"));

  ASSERT_EQ(photo->GetFileData(data, false), S_OK);
  EXPECT_FALSE(data.StreamData.FileStream);

  const TPortableDeviceObject* folder = content->GetObjectByID(u"f2"_s);
  ASSERT_EQ(folder->GetFileData(data, true), S_OK);
  EXPECT_EQ(data.FileAttr, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(data.FileName, u"Camera"_s);
  EXPECT_FALSE(data.StreamData.FileStream);
}

TEST_F(ContentTest, StreamFailuresComeBackAsResults)
{
  Object(u"p1"_s).StreamResult = E_ACCESSDENIED;
  TPortableDeviceContent* content = Read();
  const TPortableDeviceObject* photo = content->GetObjectByID(u"p1"_s);
  TFileData data;
  EXPECT_EQ(photo->GetFileData(data, true), E_ACCESSDENIED);
  EXPECT_FALSE(data.StreamData.FileStream);
  EXPECT_EQ(data.FileName, u"IMG_0001.jpg"_s);

  TFileStreamData stream;
  stream.BufferSize = 99;
  EXPECT_EQ(photo->GetFileStream(stream), E_ACCESSDENIED);
  EXPECT_EQ(stream.BufferSize, 0u);
  EXPECT_EQ(content->GetObjectByID(u"p2"_s)->GetFileStream(stream), S_OK);
  EXPECT_EQ(stream.BufferSize, 4096u);
}

TEST_F(ContentTest, CopyToFileWritesAllOrNothing)
{
  TempDir dir;
  TFakeObject& photo = Object(u"p1"_s);
  photo.Data = QByteArray(10000, 'x');
  photo.BufferSize = 0; // a device that recommends nothing
  TFakeObject& broken = Object(u"p2"_s);
  broken.Data = QByteArray(10000, 'y');
  broken.FailReadAt = 5000;
  broken.BufferSize = 1000;
  Object(u"m1"_s).StreamResult = E_DEVICE_NOT_CONNECTED;
  TPortableDeviceContent* content = Read();

  const QString target = dir.File(u"copy.jpg"_s);
  EXPECT_EQ(content->GetObjectByID(u"p1"_s)->CopyToFile(target), S_OK);
  EXPECT_EQ(ReadFile(target), QByteArray(10000, 'x'));

  EXPECT_EQ(content->GetObjectByID(u"p2"_s)->CopyToFile(target), E_DEVICE_IO);
  EXPECT_EQ(ReadFile(target), QByteArray(10000, 'x')) << "a failed copy leaves the old file";
  EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"copy.jpg"_s});

  EXPECT_THROW(content->GetObjectByID(u"m1"_s)->CopyToFile(target), EOleSysError);
  EXPECT_NE(content->GetObjectByID(u"p1"_s)->CopyToFile(dir.Path() + u"/missing/x.jpg"_s), S_OK);
}

TEST_F(ContentTest, NameExtensionsFromTheObjectFormat)
{
  TFakeDevice& d = Phone();
  P::AddFile(d, u"u1"_s, u"s2"_s, u"raw"_s, "", 0, ctGenericFile, ofUnknown);
  TPortableDeviceContent* content = Read();
  const TPortableDeviceObject* photo = content->GetObjectByID(u"p1"_s);
  const TPortableDeviceObject* unknown = content->GetObjectByID(u"u1"_s);
  const std::tuple<const TPortableDeviceObject*, const char16_t*, const char16_t*> cases[] = {
      {photo, u"IMG_0001", u"IMG_0001.jpg"},
      {photo, u"IMG_0001.png", u"IMG_0001.png"},
      {photo, u"IMG_0001.", u"IMG_0001."},
      {photo, u"dir.d\\IMG", u"dir.d\\IMG.jpg"},
      {unknown, u"raw", u"raw"},
      {unknown, u"raw.bin", u"raw.bin"},
  };
  for (const auto& [object, name, expected] : cases)
    EXPECT_EQ(object->AddNameExtension(QString::fromUtf16(name)), QString::fromUtf16(expected));
  EXPECT_EQ(photo->ObjectExtension(), u"jpg"_s);
}

TEST_F(ContentTest, WritablePropertiesAsTheDeviceReportsThem)
{
  TFakeObject& photo = Object(u"p1"_s);
  photo.Writable[pkDateModified] = true;
  Object(u"p2"_s).Writable[pkDateModified] = true;
  Object(u"p2"_s).CanWriteResult = E_FAIL;
  TPortableDeviceContent* content = Read();
  EXPECT_TRUE(content->GetObjectByID(u"p1"_s)->CanWriteProperty(opLastWriteTime));
  EXPECT_FALSE(content->GetObjectByID(u"p1"_s)->CanWriteProperty(opSize));
  EXPECT_FALSE(content->GetObjectByID(u"p1"_s)->CanWriteProperty(opCreationTime));
  EXPECT_FALSE(content->GetObjectByID(u"p2"_s)->CanWriteProperty(opLastWriteTime));
}

} // namespace
