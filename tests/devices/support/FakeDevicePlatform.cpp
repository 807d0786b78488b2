#include "devices/support/FakeDevicePlatform.h"

#include <algorithm>
#include <cstring>

namespace ardanto::test {

using namespace Qt::StringLiterals;

namespace {

const QString kDevice = u"DEVICE"_s;

class TFakeStream : public IReadStream {
public:
  explicit TFakeStream(const TFakeObject& object)
    : FData(object.Data), FFailAt(object.FailReadAt), FFailure(object.ReadFailure), FEndAt(object.EndEarlyAt),
      FBeforeRead(object.BeforeRead)
  {
  }

  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    if (FBeforeRead)
      FBeforeRead();
    qint64 end = FData.size();
    if (FEndAt >= 0)
      end = std::min(end, FEndAt);
    qint64 n = std::min<qint64>(count, end - FPos);
    HRESULT hr = S_OK;
    if (FFailAt >= 0 && FPos + n >= FFailAt) {
      n = std::max<qint64>(0, FFailAt - FPos);
      hr = FFailure;
    }
    if (n > 0)
      std::memcpy(buffer, FData.constData() + FPos, static_cast<std::size_t>(n));
    FPos += n;
    if (bytesRead != nullptr)
      *bytesRead = static_cast<std::uint32_t>(n);
    return hr;
  }

private:
  QByteArray FData;
  qint64 FPos = 0;
  qint64 FFailAt;
  HRESULT FFailure;
  qint64 FEndAt;
  std::function<void()> FBeforeRead;
};

class TFakeEnum : public IPlatformObjectEnum {
public:
  TFakeEnum(TFakeStats& stats, QStringList ids, int failsAfter, HRESULT failure)
    : FStats(stats), FIDs(std::move(ids)), FFailsAfter(failsAfter), FFailure(failure)
  {
  }

  HRESULT Next(std::uint32_t count, QString* ids, std::uint32_t& fetched) override
  {
    ++FStats.NextCalls;
    fetched = 0;
    if (FFailsAfter >= 0 && FCalls++ >= FFailsAfter)
      return FFailure;
    while (fetched < count && FPos < FIDs.size())
      ids[fetched++] = FIDs[FPos++];
    return fetched == count ? S_OK : S_FALSE;
  }

private:
  TFakeStats& FStats;
  QStringList FIDs;
  qsizetype FPos = 0;
  int FFailsAfter;
  int FCalls = 0;
  HRESULT FFailure;
};

class TFakeContent : public IPlatformContent {
public:
  TFakeContent(std::shared_ptr<TFakeDevicePlatform> platform, QString deviceID)
    : FPlatform(std::move(platform)), FDeviceID(std::move(deviceID))
  {
  }

  HRESULT EnumObjects(const QString& parentID, std::unique_ptr<IPlatformObjectEnum>& result) override
  {
    ++FPlatform->Stats.EnumCalls;
    const TFakeObject* object = Find(parentID);
    if (object == nullptr)
      return E_ELEMENT_NOT_FOUND;
    if (FAILED(object->EnumResult))
      return object->EnumResult;
    result =
        std::make_unique<TFakeEnum>(FPlatform->Stats, object->Children, object->NextFailsAfter, object->NextFailure);
    return object->EnumResult;
  }

  HRESULT GetProperty(const QString& objectID, TPropertyKey key, TPropVariant& value) override
  {
    ++FPlatform->Stats.PropertyReads[{objectID, int(key)}];
    const TFakeObject* object = Find(objectID);
    if (object == nullptr)
      return E_ELEMENT_NOT_FOUND;
    if (object->PropertyFailures.contains(key))
      return object->PropertyFailures.value(key);
    if (!object->Properties.contains(key))
      return E_ELEMENT_NOT_FOUND;
    value = object->Properties.value(key);
    return S_OK;
  }

  HRESULT CanWriteProperty(const QString& objectID, TPropertyKey key, bool& canWrite) override
  {
    const TFakeObject* object = Find(objectID);
    if (object == nullptr)
      return E_ELEMENT_NOT_FOUND;
    canWrite = object->Writable.value(key, false);
    return object->CanWriteResult;
  }

  HRESULT GetStream(const QString& objectID, std::shared_ptr<IReadStream>& stream,
                    std::uint32_t& optimalBufferSize) override
  {
    const TFakeObject* object = Find(objectID);
    if (object == nullptr)
      return E_ELEMENT_NOT_FOUND;
    if (FAILED(object->StreamResult))
      return object->StreamResult;
    stream = std::make_shared<TFakeStream>(*object);
    optimalBufferSize = object->BufferSize;
    return S_OK;
  }

  HRESULT CheckConnection() override
  {
    const TFakeDevice* device = FPlatform->FindDevice(FDeviceID);
    return device != nullptr ? device->ConnectionResult : E_DEVICE_NOT_CONNECTED;
  }

private:
  const TFakeObject* Find(const QString& id) const
  {
    TFakeDevice* device = FPlatform->FindDevice(FDeviceID);
    if (device == nullptr)
      return nullptr;
    const auto it = device->Objects.find(id);
    return it == device->Objects.end() ? nullptr : &it->second;
  }

  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  QString FDeviceID;
};

class TFakePlatformDevice : public IPlatformDevice {
public:
  explicit TFakePlatformDevice(std::shared_ptr<TFakeDevicePlatform> platform) : FPlatform(std::move(platform)) {}

  HRESULT Open(const QString& deviceID, const TClientInformation& client) override
  {
    ++FPlatform->Stats.Opens;
    FPlatform->Stats.LastClient = client;
    TFakeDevice* device = FPlatform->FindDevice(deviceID);
    if (device == nullptr)
      return E_DEVICE_NOT_CONNECTED;
    if (FAILED(device->OpenResult)) {
      FDetail = device->OpenDetail;
      return device->OpenResult;
    }
    FPlatform->Stats.Opened << deviceID;
    FDeviceID = deviceID;
    return S_OK;
  }

  HRESULT Content(std::shared_ptr<IPlatformContent>& content) override
  {
    TFakeDevice* device = FPlatform->FindDevice(FDeviceID);
    if (device == nullptr)
      return E_DEVICE_NOT_CONNECTED;
    if (FAILED(device->ContentResult))
      return device->ContentResult;
    content = std::make_shared<TFakeContent>(FPlatform, FDeviceID);
    return S_OK;
  }

  HRESULT Close() override
  {
    ++FPlatform->Stats.Closes;
    FPlatform->Stats.Closed << FDeviceID;
    TFakeDevice* device = FPlatform->FindDevice(FDeviceID);
    return device != nullptr ? device->CloseResult : S_OK;
  }

  QString ErrorDetail() const override { return FDetail; }

private:
  std::shared_ptr<TFakeDevicePlatform> FPlatform;
  QString FDeviceID;
  QString FDetail;
};

class TFakeManager : public IPlatformDeviceManager {
public:
  explicit TFakeManager(std::shared_ptr<TFakeDevicePlatform> platform) : FPlatform(std::move(platform)) {}

  HRESULT GetDevices(QString* ids, std::uint32_t& count) override
  {
    if (FAILED(FPlatform->GetDevicesResult))
      return FPlatform->GetDevicesResult;
    const auto total = static_cast<std::uint32_t>(FPlatform->Devices.size());
    if (ids == nullptr) {
      count = total;
      return S_OK;
    }
    if (FAILED(FPlatform->GetDevicesSecondResult))
      return FPlatform->GetDevicesSecondResult;
    const std::uint32_t n = std::min(count, total - std::min(total, FPlatform->LowerCountBy));
    for (std::uint32_t i = 0; i < n; ++i)
      ids[i] = FPlatform->Devices[i].ID;
    count = n;
    return S_OK;
  }

  HRESULT GetDeviceFriendlyName(const QString& id, char16_t* buffer, std::uint32_t& length) override
  {
    return Text(id, &TFakeDevice::FriendlyName, buffer, length);
  }
  HRESULT GetDeviceManufacturer(const QString& id, char16_t* buffer, std::uint32_t& length) override
  {
    return Text(id, &TFakeDevice::Manufacturer, buffer, length);
  }
  HRESULT GetDeviceDescription(const QString& id, char16_t* buffer, std::uint32_t& length) override
  {
    return Text(id, &TFakeDevice::Description, buffer, length);
  }

private:
  HRESULT Text(const QString& id, std::optional<QString> TFakeDevice::*member, char16_t* buffer, std::uint32_t& length)
  {
    TFakeDevice* device = FPlatform->FindDevice(id);
    if (device == nullptr || !(device->*member))
      return E_ELEMENT_NOT_FOUND;
    const QString& text = *(device->*member);
    if (buffer == nullptr) {
      length = text.isEmpty() ? 0 : static_cast<std::uint32_t>(text.size()) + 1;
      return S_OK;
    }
    const auto n = std::min<std::uint32_t>(length - 1, static_cast<std::uint32_t>(text.size()));
    std::memcpy(buffer, text.utf16(), n * sizeof(char16_t));
    buffer[n] = 0;
    return S_OK;
  }

  std::shared_ptr<TFakeDevicePlatform> FPlatform;
};

} // namespace

TFakeDevice& TFakeDevicePlatform::AddDevice(const QString& id, const QString& friendlyName)
{
  TFakeDevice& device = Devices.emplace_back();
  device.ID = id;
  device.FriendlyName = friendlyName;
  device.Manufacturer = u"Fake Devices Inc."_s;
  device.Description = friendlyName + u" (fake)"_s;
  TFakeObject& root = device.Objects[kDevice];
  root.ID = kDevice;
  root.Properties[pkObjectName] = TPropVariant::String(friendlyName);
  root.Properties[pkParentID] = TPropVariant::String(QString());
  root.Properties[pkContentType] = TPropVariant::Guid(ContentTypeGuid(ctFunctionalObject));
  root.Properties[pkObjectFormat] = TPropVariant::Guid(ObjectFormatGuid(ofPropsOnly));
  return device;
}

TFakeDevice* TFakeDevicePlatform::FindDevice(const QString& id)
{
  for (TFakeDevice& device : Devices)
    if (device.ID == id)
      return &device;
  return nullptr;
}

TFakeObject& TFakeDevicePlatform::AddObject(TFakeDevice& device, const QString& id, const QString& parentID)
{
  TFakeObject& object = device.Objects[id];
  object.ID = id;
  object.Properties[pkParentID] = TPropVariant::String(parentID);
  device.Objects[parentID].Children << id;
  return object;
}

TFakeObject& TFakeDevicePlatform::AddStorage(TFakeDevice& device, const QString& id, const QString& name)
{
  TFakeObject& object = AddObject(device, id, kDevice);
  object.Properties[pkObjectName] = TPropVariant::String(name);
  object.Properties[pkContentType] = TPropVariant::Guid(ContentTypeGuid(ctFunctionalObject));
  object.Properties[pkObjectFormat] = TPropVariant::Guid(ObjectFormatGuid(ofPropsOnly));
  return object;
}

TFakeObject& TFakeDevicePlatform::AddFolder(TFakeDevice& device, const QString& id, const QString& parentID,
                                            const QString& name, TDateTime modified)
{
  TFakeObject& object = AddObject(device, id, parentID);
  object.Properties[pkObjectName] = TPropVariant::String(name);
  object.Properties[pkOriginalFileName] = TPropVariant::String(name);
  object.Properties[pkContentType] = TPropVariant::Guid(ContentTypeGuid(ctFolder));
  object.Properties[pkObjectFormat] = TPropVariant::Guid(ObjectFormatGuid(ofPropsOnly));
  object.Properties[pkDateModified] = TPropVariant::Date(modified);
  return object;
}

TFakeObject& TFakeDevicePlatform::AddFile(TFakeDevice& device, const QString& id, const QString& parentID,
                                          const QString& name, const QByteArray& data, TDateTime modified,
                                          TContentType contentType, TObjectFormat format)
{
  TFakeObject& object = AddObject(device, id, parentID);
  object.Properties[pkObjectName] = TPropVariant::String(name);
  object.Properties[pkOriginalFileName] = TPropVariant::String(name);
  object.Properties[pkContentType] = TPropVariant::Guid(ContentTypeGuid(contentType));
  object.Properties[pkObjectFormat] = TPropVariant::Guid(ObjectFormatGuid(format));
  object.Properties[pkDateModified] = TPropVariant::Date(modified);
  object.Properties[pkSize] = TPropVariant::UInt64(static_cast<std::uint64_t>(data.size()));
  object.Data = data;
  return object;
}

HRESULT TFakeDevicePlatform::CreateDeviceManager(std::unique_ptr<IPlatformDeviceManager>& manager)
{
  ++Stats.ManagersCreated;
  if (FAILED(CreateManagerResult))
    return CreateManagerResult;
  manager = std::make_unique<TFakeManager>(shared_from_this());
  return S_OK;
}

HRESULT TFakeDevicePlatform::CreateDevice(std::unique_ptr<IPlatformDevice>& device)
{
  ++Stats.DevicesCreated;
  if (FAILED(CreateDeviceResult))
    return CreateDeviceResult;
  device = std::make_unique<TFakePlatformDevice>(shared_from_this());
  return S_OK;
}

} // namespace ardanto::test
