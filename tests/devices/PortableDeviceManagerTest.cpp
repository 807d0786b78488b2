#include "devices/PortableDeviceUtils.h"
#include "devices/support/FakeDevicePlatform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

class ManagerTest : public ::testing::Test {
protected:
  ManagerTest() : Platform(std::make_shared<TFakeDevicePlatform>()) {}

  TFakeDevice& Add(const QString& id, const QString& name) { return Platform->AddDevice(id, name); }
  std::unique_ptr<TPortableDeviceManager> Manager() { return std::make_unique<TPortableDeviceManager>(Platform); }

  std::shared_ptr<TFakeDevicePlatform> Platform;
};

QString Names(const TPortableDeviceManager& manager)
{
  QStringList names;
  for (int i = 0; i < manager.DeviceList().Count(); ++i)
    names << manager.DeviceList().Strings(i) + u'=' + manager.DeviceList().Objects(i)->FriendlyName;
  return names.join(u'|');
}

// The exception text of a call, or "" when it does not raise.
template <typename Call> QString RaisedText(Call call, HRESULT* code = nullptr)
{
  try {
    call();
  } catch (const EOleSysError& e) {
    if (code != nullptr)
      *code = e.ErrorCode();
    return e.Message();
  }
  return {};
}

TEST_F(ManagerTest, ListsDevicesInPlatformOrderWithTheirFriendlyNames)
{
  Add(u"usb#1"_s, u"Ann's Phone"_s);
  Add(u"usb#2"_s, u""_s);                            // no name: empty text
  Add(u"usb#3"_s, u"Camera"_s).FriendlyName.reset(); // name cannot be read
  auto manager = Manager();
  EXPECT_EQ(manager->DeviceCount(), 3u);
  EXPECT_EQ(Names(*manager), u"usb#1=Ann's Phone|usb#2=|usb#3=<Unknown device>"_s);
  EXPECT_EQ(manager->SelectedDevice(), nullptr);
  EXPECT_EQ(Platform->Stats.Opens, 0) << "listing opens no device";
}

TEST_F(ManagerTest, SecondListingCallMayHandOutFewerDevices)
{
  Add(u"a"_s, u"A"_s);
  Add(u"b"_s, u"B"_s);
  Platform->LowerCountBy = 1; // unplugged between the two calls
  auto manager = Manager();
  EXPECT_EQ(manager->DeviceCount(), 1u);
  EXPECT_EQ(Names(*manager), u"a=A"_s);
}

TEST_F(ManagerTest, NoDeviceMeansNothingOpensAndTheOpenDeviceIsClosed)
{
  Add(u"a"_s, u"A"_s);
  auto manager = Manager();
  ASSERT_NE(manager->GetDevice(0), nullptr);
  Platform->Devices.clear();
  manager->Refresh();
  EXPECT_EQ(manager->DeviceCount(), 0u);
  EXPECT_NE(manager->SelectedDevice(), nullptr) << "Refresh leaves the open device alone";

  EXPECT_EQ(manager->GetDeviceByName(u"A"_s), nullptr);
  EXPECT_EQ(manager->SelectedDevice(), nullptr);
  EXPECT_EQ(Platform->Stats.Closes, 1);
  EXPECT_EQ(manager->GetDevice(0), nullptr);
  EXPECT_EQ(manager->GetDeviceByID(u"a"_s), nullptr);
  EXPECT_EQ(Platform->Stats.Closes, 1) << "nothing left to close";
}

TEST_F(ManagerTest, OpeningOperationsFindTheirDevice)
{
  Add(u"id-1"_s, u"Phone"_s);
  Add(u"id-2"_s, u"Phone"_s);
  Add(u"id-3"_s, u"Player"_s).FriendlyName.reset();
  auto manager = Manager();

  struct Case {
    const char* What;
    std::function<TPortableDevice*()> Open;
    const char16_t* Expected; // device id, or nullptr for none
  };
  const Case cases[] = {
      {"by index", [&] { return manager->GetDevice(1); }, u"id-2"},
      {"negative index", [&] { return manager->GetDevice(-1); }, nullptr},
      {"index past the end", [&] { return manager->GetDevice(3); }, nullptr},
      {"first of two with one name", [&] { return manager->GetDeviceByName(u"Phone"_s); }, u"id-1"},
      {"name ignores case", [&] { return manager->GetDeviceByName(u"pHONE"_s); }, u"id-1"},
      {"unreadable name", [&] { return manager->GetDeviceByName(u"<Unknown device>"_s); }, u"id-3"},
      {"unknown name", [&] { return manager->GetDeviceByName(u"Tablet"_s); }, nullptr},
      {"by id, ignoring case", [&] { return manager->GetDeviceByID(u"ID-3"_s); }, u"id-3"},
      {"unknown id", [&] { return manager->GetDeviceByID(u"id-9"_s); }, nullptr},
  };
  for (const Case& c : cases) {
    const int closesBefore = Platform->Stats.Closes;
    const bool wasOpen = manager->SelectedDevice() != nullptr;
    TPortableDevice* device = c.Open();
    EXPECT_EQ(manager->SelectedDevice(), device) << c.What;
    const QString opened = device != nullptr ? device->DeviceID() : u"(none)"_s;
    EXPECT_EQ(opened, c.Expected != nullptr ? QString::fromUtf16(c.Expected) : u"(none)"_s) << c.What;
    EXPECT_EQ(Platform->Stats.Closes, closesBefore + (wasOpen ? 1 : 0))
        << c.What << ": the open device is closed first";
  }
}

TEST_F(ManagerTest, DevicesAreOpenedWithTheClientInformation)
{
  Add(u"a"_s, u"A"_s);
  auto manager = Manager();
  ASSERT_NE(manager->GetDevice(0), nullptr);
  const TClientInformation& client = Platform->Stats.LastClient;
  EXPECT_FALSE(client.ClientName.isEmpty());
  EXPECT_EQ(client.MajorVersion, 1u);
  EXPECT_EQ(client.MinorVersion, 0u);
  EXPECT_EQ(client.Revision, 4u);
  EXPECT_EQ(client.SecurityQualityOfService, 0x20000);
}

TEST_F(ManagerTest, FailuresWhileOpeningRaiseAndLeaveNoDevice)
{
  TFakeDevice& busy = Add(u"busy"_s, u"Busy"_s);
  busy.OpenResult = E_DEVICE_BUSY;
  busy.OpenDetail = u"The device is in use by gvfsd-mtp (process 42)."_s;
  Add(u"nocontent"_s, u"NoContent"_s).ContentResult = E_DEVICE_IO;
  auto manager = Manager();

  HRESULT code = S_OK;
  const QString text = RaisedText([&] { manager->GetDeviceByName(u"Busy"_s); }, &code);
  EXPECT_EQ(code, E_DEVICE_BUSY);
  EXPECT_EQ(text, u"Error calling: TPortableDevice.Create:IPortableDevice.Open : The requested resource is in use. "
                  u"(0x800700aa)\nThe device is in use by gvfsd-mtp (process 42)."_s);
  EXPECT_EQ(manager->SelectedDevice(), nullptr);

  const QString contentText = RaisedText([&] { manager->GetDeviceByName(u"NoContent"_s); });
  EXPECT_TRUE(contentText.startsWith(u"Error calling: TPortableDeviceContent.Create:IPortableDevice.Content : "_s))
      << contentText.toStdString();
  EXPECT_EQ(manager->SelectedDevice(), nullptr);
  EXPECT_EQ(Platform->Stats.Closed, QStringList{u"nocontent"_s}) << "an opened device is closed again";

  Platform->CreateDeviceResult = E_OUTOFMEMORY;
  EXPECT_NE(RaisedText([&] { manager->GetDevice(0); }), QString());
}

TEST_F(ManagerTest, FailedCloseRaisesOnceAndLeavesNoDeviceBehind)
{
  Add(u"a"_s, u"A"_s).CloseResult = E_DEVICE_IO;
  Add(u"b"_s, u"B"_s);
  auto manager = Manager();
  ASSERT_NE(manager->GetDevice(0), nullptr);

  const QString text = RaisedText([&] { manager->GetDevice(1); });
  EXPECT_TRUE(text.startsWith(u"Error calling: TPortableDevice.Destroy:IPortableDevice.Close : "_s))
      << text.toStdString();
  EXPECT_EQ(manager->SelectedDevice(), nullptr);
  // The failed device is gone: the next opening must not close it again.
  ASSERT_NE(manager->GetDevice(1), nullptr);
  EXPECT_EQ(Platform->Stats.Closes, 1);
}

TEST_F(ManagerTest, ListingFailuresRaiseWithTheirContext)
{
  Add(u"a"_s, u"A"_s);
  struct Case {
    HRESULT TFakeDevicePlatform::*Switch;
    const char16_t* Context;
  };
  const Case cases[] = {
      {&TFakeDevicePlatform::CreateManagerResult,
       u"TPortableDeviceManager.Refresh:CoCreateInstance(CLSID_PortableDeviceManager)"},
      {&TFakeDevicePlatform::GetDevicesResult, u"TPortableDeviceManager.Refresh:IPortableDeviceManager.GetDevices"},
      {&TFakeDevicePlatform::GetDevicesSecondResult,
       u"TPortableDeviceManager.Refresh:IPortableDeviceManager.GetDevices"},
  };
  for (const Case& c : cases) {
    (*Platform).*c.Switch = E_ACCESSDENIED;
    const QString text = RaisedText([&] { Manager(); });
    EXPECT_EQ(text, u"Error calling: "_s + QString::fromUtf16(c.Context) + u" : Access is denied. (0x80070005)"_s);
    (*Platform).*c.Switch = S_OK;
  }
}

TEST_F(ManagerTest, FailedRefreshKeepsTheManagerTheOpenDeviceAsksForItsNames)
{
  Add(u"a"_s, u"Ann's Phone"_s);
  auto manager = Manager();
  TPortableDevice* device = manager->GetDevice(0);
  ASSERT_NE(device, nullptr);
  Platform->CreateManagerResult = E_FAIL;
  EXPECT_THROW(manager->Refresh(), EOleSysError);
  EXPECT_EQ(device->DeviceName(), u"Ann's Phone"_s);
}

TEST_F(ManagerTest, ManagerTextsOfTheOpenDevice)
{
  TFakeDevice& phone = Add(u"a"_s, u"Ann's Phone"_s);
  phone.Manufacturer = u""_s;
  auto manager = Manager();
  TPortableDevice* device = manager->GetDevice(0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->DeviceName(), u"Ann's Phone"_s);
  EXPECT_EQ(device->Manufacturer(), QString());
  EXPECT_EQ(device->Description(), u"Ann's Phone (fake)"_s);
  Platform->Devices[0].Description.reset();
  EXPECT_EQ(RaisedText([&] { device->Description(); }),
            u"Error calling: TPortableDevice.GetDescription:IPortableDeviceManager.GetDeviceDescription : "
            u"Element not found. (0x80070490)"_s);
}

TEST_F(ManagerTest, DevicePropertiesKeepToTheirTypes)
{
  TFakeDevice& phone = Add(u"a"_s, u"A"_s);
  TFakeObject& root = phone.Objects[u"DEVICE"_s];
  root.Properties[pkFirmwareVersion] = TPropVariant::String(u"2.1.0"_s);
  root.Properties[pkModel] = TPropVariant::UInt32(7); // a number where text belongs
  root.PropertyFailures[pkProtocol] = E_DEVICE_IO;
  root.Properties[pkSerialNumber] = TPropVariant::String(u"SN123"_s);
  root.Properties[pkPowerLevel] = TPropVariant::UInt64(80); // 64 bits: not accepted
  root.Properties[pkPowerSource] = TPropVariant::UInt32(1);
  root.Properties[pkDeviceType] = TPropVariant::UInt32(3);
  auto manager = Manager();
  TPortableDevice* device = manager->GetDevice(0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Firmware(), u"2.1.0"_s);
  EXPECT_EQ(device->Model(), QString());
  EXPECT_EQ(device->Protocol(), QString());
  EXPECT_EQ(device->SerialNumber(), u"SN123"_s);
  EXPECT_EQ(device->PowerLevel(), 0u);
  EXPECT_EQ(device->PowerSourceAsString(), u"External"_s);
  EXPECT_EQ(device->DeviceTypeAsString(), u"Phone"_s);
}

TEST(DeviceTextTables, ValuesOutsideTheTablesGiveEmptyText)
{
  const std::pair<std::uint32_t, const char16_t*> types[] = {
      {0, u"Generic"},        {1, u"Camera"}, {2, u"Media Player"},
      {3, u"Phone"},          {4, u"Video"},  {5, u"Personal Information Manager"},
      {6, u"Audio Recorder"}, {7, u""},       {0xFFFFFFFF, u""}};
  for (const auto& [value, text] : types)
    EXPECT_EQ(DeviceTypeToString(value), QString::fromUtf16(text)) << value;
  EXPECT_EQ(PowerSourceToString(0), u"Battery"_s);
  EXPECT_EQ(PowerSourceToString(1), u"External"_s);
  EXPECT_EQ(PowerSourceToString(2), QString());
}

TEST(DeviceErrorText, SystemMessageWithCodeOrUnknown)
{
  EXPECT_EQ(OleErrorText(E_FAIL, u"TA.B:C.D"_s), u"Error calling: TA.B:C.D : Unspecified error (0x80004005)"_s);
  EXPECT_EQ(OleErrorText(HResultFromErrno(ENOSPC), u"X"_s),
            u"Error calling: X : "_s + QString::fromLocal8Bit(std::strerror(ENOSPC)) + u" (0x8007001c)"_s);
  EXPECT_EQ(OleErrorText(static_cast<HRESULT>(0x8123ABCDu), u"X"_s), u"Error calling: X : <Unknown error code>"_s);
  EXPECT_EQ(OleErrorText(static_cast<HRESULT>(0x8007FFF0u), u"X"_s), u"Error calling: X : <Unknown error code>"_s);
  // An I/O error must not read as "access denied", which has the same number.
  EXPECT_EQ(DeviceResultFromErrno(EIO), E_DEVICE_IO);
  EXPECT_NO_THROW(OleCheck(S_FALSE, u"X"_s));
}

} // namespace
