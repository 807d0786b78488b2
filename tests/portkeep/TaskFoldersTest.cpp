#include "portkeep/TaskFolders.h"
#include "devices/PortableDeviceUtils.h"
#include "devices/support/FakeDevicePlatform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// Phone\DCIM\Camera\2024 three levels below the storage, a second storage,
// and a file where a folder could be.
class TaskFoldersTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FPlatform = std::make_shared<TFakeDevicePlatform>();
    TFakeDevice& device = FPlatform->AddDevice(u"fake:1"_s, u"Phone A"_s);
    TFakeDevicePlatform::AddStorage(device, u"s1"_s, u"Phone"_s);
    TFakeDevicePlatform::AddStorage(device, u"s2"_s, u"Card"_s);
    TFakeDevicePlatform::AddFolder(device, u"dcim"_s, u"s1"_s, u"DCIM"_s);
    TFakeDevicePlatform::AddFolder(device, u"cam"_s, u"dcim"_s, u"Camera"_s);
    TFakeDevicePlatform::AddFolder(device, u"y24"_s, u"cam"_s, u"2024"_s);
    TFakeDevicePlatform::AddFolder(device, u"music"_s, u"s2"_s, u"Music"_s);
    TFakeDevicePlatform::AddFile(device, u"f1"_s, u"dcim"_s, u"notes.txt"_s, "x");
    FManager = std::make_unique<TPortableDeviceManager>(FPlatform);
    TPortableDevice* opened = FManager->GetDevice(0);
    ASSERT_NE(opened, nullptr);
    FContent = opened->Content();
    ASSERT_TRUE(FContent->Refresh());
  }

  QStringList Paths(const std::vector<TPortableDeviceObject*>& objects) const
  {
    QStringList paths;
    for (const TPortableDeviceObject* object : objects)
      paths << object->Path();
    return paths;
  }

  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  std::unique_ptr<TPortableDeviceManager> FManager;
  TPortableDeviceContent* FContent = nullptr;
};

} // namespace

TEST_F(TaskFoldersTest, StoredPathsAreFoundAtAnyDepthInStoredOrder)
{
  const struct {
    const char* What;
    QStringList Stored;
    QStringList Found;
    QStringList Missing;
  } cases[] = {
      {"nothing stored", {}, {}, {}},
      {"a storage", {u"Phone"_s}, {u"Phone"_s}, {}},
      {"three levels deep, before its storage",
       {u"Phone\\DCIM\\Camera\\2024"_s, u"Phone"_s},
       {u"Phone\\DCIM\\Camera\\2024"_s, u"Phone"_s},
       {}},
      {"case of the stored path ignored", {u"card\\music"_s}, {u"Card\\Music"_s}, {}},
      {"missing parts are named, the rest still found",
       {u"Phone\\DCIM\\Gone"_s, u"Card\\Music"_s, u"Nowhere"_s},
       {u"Card\\Music"_s},
       {u"Phone\\DCIM\\Gone"_s, u"Nowhere"_s}},
      {"a file is not a folder", {u"Phone\\DCIM\\notes.txt"_s}, {}, {u"Phone\\DCIM\\notes.txt"_s}},
      {"a folder stored twice counts once", {u"Phone\\DCIM"_s, u"PHONE\\dcim"_s}, {u"Phone\\DCIM"_s}, {}},
  };
  for (const auto& c : cases) {
    const TStoredFolders result = ResolveStoredFolders(*FContent, c.Stored);
    EXPECT_EQ(Paths(result.Found), c.Found) << c.What;
    EXPECT_EQ(result.Missing, c.Missing) << c.What;
  }
}

TEST_F(TaskFoldersTest, TreeNodePathRunsFromTheStorageDown)
{
  const auto indexes = [this](const QStringList& paths) {
    std::vector<int> result;
    for (const QString& path : paths)
      result.push_back(FContent->GetObjectIndexByPath(path));
    return result;
  };
  EXPECT_EQ(TreeNodePath(*FContent, *FContent->GetObjectByPath(u"Phone\\DCIM\\Camera\\2024"_s)),
            indexes({u"Phone"_s, u"Phone\\DCIM"_s, u"Phone\\DCIM\\Camera"_s, u"Phone\\DCIM\\Camera\\2024"_s}));
  EXPECT_EQ(TreeNodePath(*FContent, *FContent->GetObjectByPath(u"Card"_s)), indexes({u"Card"_s}));
  EXPECT_TRUE(TreeNodePath(*FContent, *FContent->DeviceObject()).empty()) << "the device is no node to reach";
}

TEST(DevicesNamed, FindsEveryDeviceOfAName)
{
  auto platform = std::make_shared<TFakeDevicePlatform>();
  platform->AddDevice(u"fake:1"_s, u"Phone"_s);
  platform->AddDevice(u"fake:2"_s, u"Camera"_s);
  platform->AddDevice(u"fake:3"_s, u"PHONE"_s);
  TPortableDeviceManager manager(platform);
  EXPECT_EQ(DevicesNamed(manager.DeviceList(), u"phone"_s), (std::vector<int>{0, 2}));
  EXPECT_EQ(DevicesNamed(manager.DeviceList(), u"Camera"_s), (std::vector<int>{1}));
  EXPECT_TRUE(DevicesNamed(manager.DeviceList(), u"Tablet"_s).empty());
}
