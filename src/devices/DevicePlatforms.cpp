#include "devices/DevicePlatforms.h"

#include <QHash>

#include <vector>

namespace ardanto {

namespace {

// Which platform each listed device came from.
using TOwners = QHash<QString, std::shared_ptr<IDevicePlatform>>;

class TCompositeManager : public TListedDeviceManager {
public:
  TCompositeManager(std::vector<std::shared_ptr<IDevicePlatform>> platforms, std::shared_ptr<TOwners> owners)
    : FPlatforms(std::move(platforms)), FOwners(std::move(owners))
  {
  }

protected:
  HRESULT ListDeviceIDs(QStringList& ids) override
  {
    FManagers.clear();
    FKeep.clear();
    HRESULT firstFailure = S_OK;
    bool anyAnswered = FPlatforms.empty();
    for (const auto& platform : FPlatforms) {
      std::unique_ptr<IPlatformDeviceManager> manager;
      HRESULT hr = platform->CreateDeviceManager(manager);
      std::uint32_t count = 0;
      if (SUCCEEDED(hr))
        hr = manager ? manager->GetDevices(nullptr, count) : E_POINTER;
      std::vector<QString> found(count);
      if (SUCCEEDED(hr) && count > 0)
        hr = manager->GetDevices(found.data(), count);
      if (FAILED(hr)) {
        if (SUCCEEDED(firstFailure))
          firstFailure = hr;
        continue;
      }
      anyAnswered = true;
      for (std::uint32_t i = 0; i < count && i < found.size(); ++i) {
        ids << found[i];
        FOwners->insert(found[i], platform);
        FManagers.insert(found[i], manager.get());
      }
      FKeep.push_back(std::move(manager));
    }
    return anyAnswered ? S_OK : firstFailure;
  }

  HRESULT ReadDeviceText(const QString& deviceID, TDeviceText which, QString& text) override
  {
    IPlatformDeviceManager* manager = FManagers.value(deviceID);
    if (manager == nullptr)
      return E_INVALIDARG;
    auto call = [&](char16_t* buffer, std::uint32_t& length) {
      switch (which) {
      case dtFriendlyName:
        return manager->GetDeviceFriendlyName(deviceID, buffer, length);
      case dtManufacturer:
        return manager->GetDeviceManufacturer(deviceID, buffer, length);
      case dtDescription:
        break;
      }
      return manager->GetDeviceDescription(deviceID, buffer, length);
    };
    std::uint32_t length = 0;
    HRESULT hr = call(nullptr, length);
    if (FAILED(hr) || length == 0) {
      text.clear();
      return hr;
    }
    std::vector<char16_t> buffer(length, 0);
    hr = call(buffer.data(), length);
    if (SUCCEEDED(hr)) {
      std::size_t n = 0;
      while (n < buffer.size() && buffer[n] != 0)
        ++n;
      text = QString::fromUtf16(buffer.data(), static_cast<qsizetype>(n));
    }
    return hr;
  }

private:
  std::vector<std::shared_ptr<IDevicePlatform>> FPlatforms;
  std::shared_ptr<TOwners> FOwners;
  std::vector<std::unique_ptr<IPlatformDeviceManager>> FKeep;
  QHash<QString, IPlatformDeviceManager*> FManagers;
};

class TCompositeDevice : public IPlatformDevice {
public:
  explicit TCompositeDevice(std::shared_ptr<TOwners> owners) : FOwners(std::move(owners)) {}

  HRESULT Open(const QString& deviceID, const TClientInformation& client) override
  {
    if (FDevice)
      return E_UNEXPECTED;
    const auto owner = FOwners->value(deviceID);
    if (!owner)
      return E_INVALIDARG;
    std::unique_ptr<IPlatformDevice> device;
    HRESULT hr = owner->CreateDevice(device);
    if (SUCCEEDED(hr) && !device)
      hr = E_POINTER;
    if (FAILED(hr))
      return hr;
    hr = device->Open(deviceID, client);
    if (FAILED(hr)) {
      FDetail = device->ErrorDetail();
      return hr;
    }
    FDevice = std::move(device);
    return hr;
  }

  HRESULT Content(std::shared_ptr<IPlatformContent>& content) override
  {
    return FDevice ? FDevice->Content(content) : E_UNEXPECTED;
  }

  HRESULT Close() override
  {
    if (!FDevice)
      return S_OK;
    const HRESULT hr = FDevice->Close();
    FDevice.reset();
    return hr;
  }

  QString ErrorDetail() const override { return FDevice ? FDevice->ErrorDetail() : FDetail; }

private:
  std::shared_ptr<TOwners> FOwners;
  std::unique_ptr<IPlatformDevice> FDevice;
  QString FDetail;
};

class TCompositePlatform : public IDevicePlatform {
public:
  explicit TCompositePlatform(std::vector<std::shared_ptr<IDevicePlatform>> platforms)
    : FPlatforms(std::move(platforms)), FOwners(std::make_shared<TOwners>())
  {
  }

  HRESULT CreateDeviceManager(std::unique_ptr<IPlatformDeviceManager>& manager) override
  {
    manager = std::make_unique<TCompositeManager>(FPlatforms, FOwners);
    return S_OK;
  }

  HRESULT CreateDevice(std::unique_ptr<IPlatformDevice>& device) override
  {
    device = std::make_unique<TCompositeDevice>(FOwners);
    return S_OK;
  }

private:
  std::vector<std::shared_ptr<IDevicePlatform>> FPlatforms;
  std::shared_ptr<TOwners> FOwners;
};

} // namespace

std::shared_ptr<IDevicePlatform> CreateCompositeDevicePlatform(std::vector<std::shared_ptr<IDevicePlatform>> platforms)
{
  return std::make_shared<TCompositePlatform>(std::move(platforms));
}

} // namespace ardanto
