#include "devices/DevicePlatform.h"

#include <algorithm>
#include <cstring>

namespace ardanto {

TPropVariant TPropVariant::String(QString value)
{
  TPropVariant v;
  v.vt = vtString;
  v.StrVal = std::move(value);
  return v;
}

TPropVariant TPropVariant::Guid(const TGuid& value)
{
  TPropVariant v;
  v.vt = vtGuid;
  v.GuidVal = value;
  return v;
}

TPropVariant TPropVariant::Date(TDateTime value)
{
  TPropVariant v;
  v.vt = vtDate;
  v.DateVal = value;
  return v;
}

TPropVariant TPropVariant::UInt32(std::uint32_t value)
{
  TPropVariant v;
  v.vt = vtUInt32;
  v.UIntVal = value;
  return v;
}

TPropVariant TPropVariant::UInt64(std::uint64_t value)
{
  TPropVariant v;
  v.vt = vtUInt64;
  v.UIntVal = value;
  return v;
}

TPropVariant TPropVariant::Bool(bool value)
{
  TPropVariant v;
  v.vt = vtBool;
  v.UIntVal = value ? 1 : 0;
  return v;
}

HRESULT TListedDeviceManager::GetDevices(QString* ids, std::uint32_t& count)
{
  // The first call takes the list, the second hands out the same list, so
  // that the count and the names agree.
  if (ids == nullptr || !FHaveList) {
    FListed.clear();
    const HRESULT hr = ListDeviceIDs(FListed);
    if (FAILED(hr))
      return hr;
    FHaveList = true;
  }
  if (ids == nullptr) {
    count = static_cast<std::uint32_t>(FListed.size());
    return S_OK;
  }
  const auto n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(FListed.size()));
  for (std::uint32_t i = 0; i < n; ++i)
    ids[i] = FListed[static_cast<qsizetype>(i)];
  count = n;
  FHaveList = false;
  return S_OK;
}

HRESULT TListedDeviceManager::TwoCallText(const QString& deviceID, TDeviceText which, char16_t* buffer,
                                          std::uint32_t& length)
{
  QString text;
  const HRESULT hr = ReadDeviceText(deviceID, which, text);
  if (FAILED(hr))
    return hr;
  if (buffer == nullptr) {
    length = text.isEmpty() ? 0 : static_cast<std::uint32_t>(text.size()) + 1;
    return S_OK;
  }
  if (length == 0)
    return E_INVALIDARG;
  const auto n = std::min<std::uint32_t>(length - 1, static_cast<std::uint32_t>(text.size()));
  std::memcpy(buffer, text.utf16(), n * sizeof(char16_t));
  buffer[n] = 0;
  return S_OK;
}

HRESULT TListedDeviceManager::GetDeviceFriendlyName(const QString& deviceID, char16_t* buffer, std::uint32_t& length)
{
  return TwoCallText(deviceID, dtFriendlyName, buffer, length);
}

HRESULT TListedDeviceManager::GetDeviceManufacturer(const QString& deviceID, char16_t* buffer, std::uint32_t& length)
{
  return TwoCallText(deviceID, dtManufacturer, buffer, length);
}

HRESULT TListedDeviceManager::GetDeviceDescription(const QString& deviceID, char16_t* buffer, std::uint32_t& length)
{
  return TwoCallText(deviceID, dtDescription, buffer, length);
}

HRESULT TListObjectEnum::Next(std::uint32_t count, QString* ids, std::uint32_t& fetched)
{
  fetched = 0;
  while (fetched < count && FPos < FIDs.size())
    ids[fetched++] = FIDs[FPos++];
  return fetched == count ? S_OK : S_FALSE;
}

} // namespace ardanto
