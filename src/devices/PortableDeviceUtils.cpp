#include "devices/PortableDeviceUtils.h"

#include "common/Translate.h"

#include <algorithm>
#include <vector>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

QString TextUpToZero(const std::vector<char16_t>& buffer)
{
  const auto end = std::find(buffer.begin(), buffer.end(), char16_t(0));
  return QString::fromUtf16(buffer.data(), static_cast<qsizetype>(end - buffer.begin()));
}

} // namespace

// ---------------------------------------------------------------------------
// Lists

void TDeviceList::AddObject(QString text, std::unique_ptr<TDeviceData> data)
{
  FItems.emplace_back(std::move(text), std::move(data));
}

int TDeviceList::IndexOf(const QString& text) const
{
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].first.compare(text, Qt::CaseInsensitive) == 0)
      return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------------------
// TPortableDeviceManager

TPortableDeviceManager::TPortableDeviceManager(std::shared_ptr<IDevicePlatform> platform)
  : FPlatform(std::move(platform))
{
  Refresh();
}

TPortableDeviceManager::~TPortableDeviceManager()
{
  // The open device goes first: it still talks to the platform.
  FCurrentDevice.reset();
}

void TPortableDeviceManager::Refresh()
{
  // The new manager replaces the old one only once it exists: the open
  // device keeps asking the manager for its names.
  std::unique_ptr<IPlatformDeviceManager> manager;
  HRESULT hr = FPlatform->CreateDeviceManager(manager);
  if (SUCCEEDED(hr) && !manager)
    hr = E_POINTER;
  OleCheck(hr, u"TPortableDeviceManager.Refresh:CoCreateInstance(CLSID_PortableDeviceManager)"_s);
  pDeviceManager = std::move(manager);

  FDeviceCount = 0;
  std::uint32_t count = 0;
  OleCheck(pDeviceManager->GetDevices(nullptr, count),
           u"TPortableDeviceManager.Refresh:IPortableDeviceManager.GetDevices"_s);
  std::vector<QString> ids(count);
  if (count > 0) {
    OleCheck(pDeviceManager->GetDevices(ids.data(), count),
             u"TPortableDeviceManager.Refresh:IPortableDeviceManager.GetDevices"_s);
    count = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(ids.size()));
  }

  FDeviceList.Clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    const QString& id = ids[i];
    QString name;
    std::uint32_t length = 0;
    if (FAILED(pDeviceManager->GetDeviceFriendlyName(id, nullptr, length))) {
      name = _("<Unknown device>");
    } else if (length > 0) {
      std::vector<char16_t> buffer(length, 0);
      if (FAILED(pDeviceManager->GetDeviceFriendlyName(id, buffer.data(), length)))
        name = _("<Unknown device>");
      else
        name = TextUpToZero(buffer);
    }
    FDeviceList.AddObject(id, std::make_unique<TDeviceData>(name));
  }
  FDeviceCount = count;
}

void TPortableDeviceManager::CloseCurrentDevice()
{
  // The device is gone from the manager even when closing it fails, so that
  // a failed close cannot leave a half-closed device to be closed again.
  std::unique_ptr<TPortableDevice> device = std::move(FCurrentDevice);
  if (device)
    device->Close();
}

TPortableDevice* TPortableDeviceManager::OpenDevice(const QString& deviceID)
{
  FCurrentDevice = std::make_unique<TPortableDevice>(this, deviceID);
  return FCurrentDevice.get();
}

TPortableDevice* TPortableDeviceManager::GetDevice(int Index)
{
  CloseCurrentDevice();
  if (Index < 0 || Index >= FDeviceList.Count())
    return nullptr;
  return OpenDevice(FDeviceList.Strings(Index));
}

TPortableDevice* TPortableDeviceManager::GetDeviceByName(const QString& DeviceName)
{
  CloseCurrentDevice();
  const int count = std::min<int>(static_cast<int>(FDeviceCount), FDeviceList.Count());
  for (int i = 0; i < count; ++i)
    if (FDeviceList.Objects(i)->FriendlyName.compare(DeviceName, Qt::CaseInsensitive) == 0)
      return OpenDevice(FDeviceList.Strings(i));
  return nullptr;
}

TPortableDevice* TPortableDeviceManager::GetDeviceByID(const QString& DeviceID)
{
  CloseCurrentDevice();
  const int count = std::min<int>(static_cast<int>(FDeviceCount), FDeviceList.Count());
  for (int i = 0; i < count; ++i)
    if (FDeviceList.Strings(i).compare(DeviceID, Qt::CaseInsensitive) == 0)
      return OpenDevice(FDeviceList.Strings(i));
  return nullptr;
}

TClientInformation TPortableDeviceManager::GetClientInformation()
{
  TClientInformation info;
  info.ClientName = u"Ardanto Portkeep"_s;
  return info;
}

// ---------------------------------------------------------------------------
// TPortableDevice

TPortableDevice::TPortableDevice(TPortableDeviceManager* AManager, const QString& ADeviceID)
  : FDeviceManager(AManager), FDeviceID(ADeviceID)
{
  std::unique_ptr<IPlatformDevice> device;
  HRESULT hr = FDeviceManager->FPlatform->CreateDevice(device);
  if (SUCCEEDED(hr) && !device)
    hr = E_POINTER;
  OleCheck(hr, u"TPortableDevice.Create:CoCreateInstance(CLSID_PortableDeviceFTM)"_s);
  pDevice = std::move(device);

  hr = pDevice->Open(FDeviceID, TPortableDeviceManager::GetClientInformation());
  OleCheck(hr, u"TPortableDevice.Create:IPortableDevice.Open"_s, FAILED(hr) ? pDevice->ErrorDetail() : QString());
  FOpen = true;
  try {
    FContent = std::make_unique<TPortableDeviceContent>(this);
  } catch (...) {
    FOpen = false;
    pDevice->Close();
    throw;
  }
  FDeviceObject = std::make_unique<TPortableDeviceObject>(FContent.get(), u"DEVICE"_s, 0, 0);
}

TPortableDevice::~TPortableDevice()
{
  FDeviceObject.reset();
  FContent.reset();
  if (FOpen && pDevice)
    pDevice->Close();
}

void TPortableDevice::Close()
{
  FDeviceObject.reset();
  FContent.reset();
  if (!FOpen)
    return;
  FOpen = false;
  OleCheck(pDevice->Close(), u"TPortableDevice.Destroy:IPortableDevice.Close"_s);
}

QString TPortableDevice::ReadManagerText(TManagerText which) const
{
  IPlatformDeviceManager* manager = FDeviceManager->pDeviceManager.get();
  QString context;
  auto call = [&](char16_t* buffer, std::uint32_t& length) {
    switch (which) {
    case mtFriendlyName:
      return manager->GetDeviceFriendlyName(FDeviceID, buffer, length);
    case mtManufacturer:
      return manager->GetDeviceManufacturer(FDeviceID, buffer, length);
    case mtDescription:
      break;
    }
    return manager->GetDeviceDescription(FDeviceID, buffer, length);
  };
  switch (which) {
  case mtFriendlyName:
    context = u"TPortableDevice.GetDeviceName:IPortableDeviceManager.GetDeviceFriendlyName"_s;
    break;
  case mtManufacturer:
    context = u"TPortableDevice.GetManufacturer:IPortableDeviceManager.GetDeviceManufacturer"_s;
    break;
  case mtDescription:
    context = u"TPortableDevice.GetDescription:IPortableDeviceManager.GetDeviceDescription"_s;
    break;
  }
  if (manager == nullptr)
    OleCheck(E_POINTER, context);
  std::uint32_t length = 0;
  OleCheck(call(nullptr, length), context);
  if (length == 0)
    return {};
  std::vector<char16_t> buffer(length, 0);
  OleCheck(call(buffer.data(), length), context);
  return TextUpToZero(buffer);
}

QString TPortableDevice::DeviceName() const
{
  return ReadManagerText(mtFriendlyName);
}

QString TPortableDevice::Manufacturer() const
{
  return ReadManagerText(mtManufacturer);
}

QString TPortableDevice::Description() const
{
  return ReadManagerText(mtDescription);
}

QString TPortableDevice::ReadString(TPropertyKey key) const
{
  if (!FDeviceObject)
    return {};
  TPropVariant value;
  if (SUCCEEDED(FDeviceObject->GetProperty(key, value)) && value.vt == vtString)
    return value.StrVal;
  return {};
}

std::uint32_t TPortableDevice::ReadUInt32(TPropertyKey key) const
{
  if (!FDeviceObject)
    return 0;
  TPropVariant value;
  if (SUCCEEDED(FDeviceObject->GetProperty(key, value)) && value.vt == vtUInt32)
    return static_cast<std::uint32_t>(value.UIntVal);
  return 0;
}

QString TPortableDevice::Firmware() const
{
  return ReadString(pkFirmwareVersion);
}

QString TPortableDevice::Model() const
{
  return ReadString(pkModel);
}

QString TPortableDevice::Protocol() const
{
  return ReadString(pkProtocol);
}

QString TPortableDevice::SerialNumber() const
{
  return ReadString(pkSerialNumber);
}

std::uint32_t TPortableDevice::PowerLevel() const
{
  return ReadUInt32(pkPowerLevel);
}

std::uint32_t TPortableDevice::PowerSource() const
{
  return ReadUInt32(pkPowerSource);
}

std::uint32_t TPortableDevice::DeviceType() const
{
  return ReadUInt32(pkDeviceType);
}

QString TPortableDevice::PowerSourceAsString() const
{
  return PowerSourceToString(PowerSource());
}

QString TPortableDevice::DeviceTypeAsString() const
{
  return DeviceTypeToString(DeviceType());
}

QString PowerSourceToString(std::uint32_t value)
{
  switch (value) {
  case 0:
    return u"Battery"_s;
  case 1:
    return u"External"_s;
  default:
    return {};
  }
}

QString DeviceTypeToString(std::uint32_t value)
{
  static const char16_t* const kNames[] = {
      u"Generic", u"Camera", u"Media Player", u"Phone", u"Video", u"Personal Information Manager", u"Audio Recorder"};
  if (value >= std::size(kNames))
    return {};
  return QString::fromUtf16(kNames[value]);
}

} // namespace ardanto
