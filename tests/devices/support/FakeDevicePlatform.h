#pragma once

// An in-memory device platform for tests: devices with object trees whose
// failures can be scripted per object and per call.

#include "devices/DeviceErrors.h"
#include "devices/DevicePlatform.h"
#include "devices/DeviceTypes.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace ardanto::test {

struct TFakeObject {
  QString ID;
  QHash<int, TPropVariant> Properties;  // by TPropertyKey; a missing one fails
  QHash<int, HRESULT> PropertyFailures; // by TPropertyKey
  QHash<int, bool> Writable;            // by TPropertyKey
  HRESULT CanWriteResult = S_OK;
  QStringList Children;      // identifiers, in listing order; "" gives an empty slot
  HRESULT EnumResult = S_OK; // failure, or S_FALSE: success without a listing
  int NextFailsAfter = -1;   // Next calls that succeed before one fails
  HRESULT NextFailure = E_FAIL;
  QByteArray Data;
  HRESULT StreamResult = S_OK; // GetStream fails
  std::uint32_t BufferSize = 4096;
  qint64 FailReadAt = -1; // a read that reaches this offset fails
  HRESULT ReadFailure = E_DEVICE_IO;
  qint64 EndEarlyAt = -1; // the stream ends here, before the data does
  // Called on the reader's thread before every read: a test can block in it
  // to play a device that stops answering.
  std::function<void()> BeforeRead;
};

struct TFakeDevice {
  QString ID;
  // nullopt: the platform has no answer and the call fails.
  std::optional<QString> FriendlyName;
  std::optional<QString> Manufacturer;
  std::optional<QString> Description;
  HRESULT OpenResult = S_OK;
  QString OpenDetail;
  HRESULT ContentResult = S_OK;
  HRESULT CloseResult = S_OK;
  HRESULT ConnectionResult = S_OK;        // what a check of the connection finds
  std::map<QString, TFakeObject> Objects; // by exact identifier
};

// Calls the platform saw, for tests of what the layer above asks and when.
struct TFakeStats {
  int ManagersCreated = 0;
  int DevicesCreated = 0;
  int Opens = 0;
  int Closes = 0;
  int EnumCalls = 0;
  int NextCalls = 0;
  QStringList Opened; // device identifiers
  QStringList Closed;
  TClientInformation LastClient;
  std::map<std::pair<QString, int>, int> PropertyReads; // (object, key) -> count

  int Reads(const QString& object, TPropertyKey key) const
  {
    const auto it = PropertyReads.find({object, int(key)});
    return it == PropertyReads.end() ? 0 : it->second;
  }
};

class TFakeDevicePlatform : public IDevicePlatform, public std::enable_shared_from_this<TFakeDevicePlatform> {
public:
  std::vector<TFakeDevice> Devices;
  HRESULT CreateManagerResult = S_OK;
  HRESULT CreateDeviceResult = S_OK;
  HRESULT GetDevicesResult = S_OK;       // both calls
  HRESULT GetDevicesSecondResult = S_OK; // the second call only
  std::uint32_t LowerCountBy = 0;        // the second call hands out fewer
  TFakeStats Stats;

  // A device with its "DEVICE" object (a functional object named after it).
  TFakeDevice& AddDevice(const QString& id, const QString& friendlyName);
  TFakeDevice* FindDevice(const QString& id);

  // Objects below a parent; they are appended to the parent's children.
  static TFakeObject& AddObject(TFakeDevice& device, const QString& id, const QString& parentID);
  static TFakeObject& AddStorage(TFakeDevice& device, const QString& id, const QString& name);
  static TFakeObject& AddFolder(TFakeDevice& device, const QString& id, const QString& parentID, const QString& name,
                                TDateTime modified = 45000.5);
  static TFakeObject& AddFile(TFakeDevice& device, const QString& id, const QString& parentID, const QString& name,
                              const QByteArray& data, TDateTime modified = 45000.5,
                              TContentType contentType = ctGenericFile, TObjectFormat format = ofUnknown);

  HRESULT CreateDeviceManager(std::unique_ptr<IPlatformDeviceManager>& manager) override;
  HRESULT CreateDevice(std::unique_ptr<IPlatformDevice>& device) override;
};

} // namespace ardanto::test
