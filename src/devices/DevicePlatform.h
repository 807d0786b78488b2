#pragma once

// The few operations the device layer needs from whatever reaches the
// devices: a folder posing as a device, libmtp, or a fake in the tests. They
// keep the shape of the platform calls the device code was written against:
// every call answers with a result code, texts come in two calls (length, then
// text), children come in batches.

#include "common/DateTimeUtils.h"
#include "common/FileData.h"
#include "common/HResult.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace ardanto {

struct TGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  bool IsNull() const { return *this == TGuid{}; }
  friend bool operator==(const TGuid&, const TGuid&) = default;
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  QString ToString() const;
};

// The properties the device layer reads.
enum TPropertyKey : std::uint8_t {
  pkObjectName,       // text
  pkOriginalFileName, // text
  pkParentID,         // text; empty for the device object
  pkContentType,      // GUID
  pkObjectFormat,     // GUID
  pkDateModified,     // date, local time
  pkDateCreated,      // date, local time
  pkSize,             // unsigned 64-bit
  pkFirmwareVersion,  // text (device object)
  pkModel,            // text (device object)
  pkProtocol,         // text (device object)
  pkSerialNumber,     // text (device object)
  pkPowerLevel,       // unsigned 32-bit, percent (device object)
  pkPowerSource,      // unsigned 32-bit (device object)
  pkDeviceType,       // unsigned 32-bit (device object)
  pkPosixMode,        // unsigned 32-bit, st_mode of a file; only where the device is a folder
};

enum TVarType : std::uint8_t { vtEmpty, vtString, vtGuid, vtDate, vtUInt32, vtUInt64, vtBool };

// One property value and its type. Readers check the type: a device may
// answer with another type than the one asked for.
struct TPropVariant {
  TVarType vt = vtEmpty;
  QString StrVal;
  TGuid GuidVal;
  TDateTime DateVal = 0;
  std::uint64_t UIntVal = 0; // vtUInt32, vtUInt64 and vtBool (0/1)

  void Clear() { *this = TPropVariant(); }
  static TPropVariant String(QString value);
  static TPropVariant Guid(const TGuid& value);
  static TPropVariant Date(TDateTime value);
  static TPropVariant UInt32(std::uint32_t value);
  static TPropVariant UInt64(std::uint64_t value);
  static TPropVariant Bool(bool value);
};

// What a device is told about the program that opens it.
struct TClientInformation {
  QString ClientName;
  std::uint32_t MajorVersion = 1;
  std::uint32_t MinorVersion = 0;
  std::uint32_t Revision = 4;
  std::int32_t SecurityQualityOfService = 0x20000; // impersonation level
};

// The children of one object.
class IPlatformObjectEnum {
public:
  virtual ~IPlatformObjectEnum() = default;
  // Up to count identifiers into ids; S_OK when count were fetched (more may
  // follow), S_FALSE when fewer (the end).
  virtual HRESULT Next(std::uint32_t count, QString* ids, std::uint32_t& fetched) = 0;
};

// The objects of an opened device. Called from the thread that opened the
// device; only the streams it hands out may be read from another thread.
class IPlatformContent {
public:
  virtual ~IPlatformContent() = default;
  // S_OK and an enumerator of the direct children of parentID; an object
  // without children may leave result empty.
  virtual HRESULT EnumObjects(const QString& parentID, std::unique_ptr<IPlatformObjectEnum>& result) = 0;
  // One property of one object. A property the object does not have is a failure.
  virtual HRESULT GetProperty(const QString& objectID, TPropertyKey key, TPropVariant& value) = 0;
  // Whether the device lets the property be written.
  virtual HRESULT CanWriteProperty(const QString& objectID, TPropertyKey key, bool& canWrite) = 0;
  // The object's data as a read stream, with the transfer size the device
  // prefers. The stream stays usable from any one thread at a time.
  virtual HRESULT GetStream(const QString& objectID, std::shared_ptr<IReadStream>& stream,
                            std::uint32_t& optimalBufferSize) = 0;
  // S_OK while the device is still there and is the one that was opened;
  // the reason otherwise. Asked after a failed read, to tell a bad file from
  // a device that is gone; cheap, and never more than one short request.
  virtual HRESULT CheckConnection() { return S_OK; }
  // The local file or folder behind an object, for devices that are folders;
  // empty for every other kind of device.
  virtual QString LocalPath(const QString& /*objectID*/) { return {}; }
};

class IPlatformDevice {
public:
  virtual ~IPlatformDevice() = default;
  virtual HRESULT Open(const QString& deviceID, const TClientInformation& client) = 0;
  virtual HRESULT Content(std::shared_ptr<IPlatformContent>& content) = 0;
  virtual HRESULT Close() = 0;
  // A sentence for the user about the last failure, beyond what its code
  // says (which program holds a busy device); empty when there is none.
  virtual QString ErrorDetail() const { return {}; }
};

class IPlatformDeviceManager {
public:
  virtual ~IPlatformDeviceManager() = default;
  // ids == nullptr: count = number of devices. Otherwise fills up to count
  // identifiers and lowers count to the number filled.
  virtual HRESULT GetDevices(QString* ids, std::uint32_t& count) = 0;
  // buffer == nullptr: length = characters including the terminating zero
  // (0 = no text). Otherwise copies at most length characters, zero-terminated.
  virtual HRESULT GetDeviceFriendlyName(const QString& deviceID, char16_t* buffer, std::uint32_t& length) = 0;
  virtual HRESULT GetDeviceManufacturer(const QString& deviceID, char16_t* buffer, std::uint32_t& length) = 0;
  virtual HRESULT GetDeviceDescription(const QString& deviceID, char16_t* buffer, std::uint32_t& length) = 0;
};

// One way of reaching devices.
class IDevicePlatform {
public:
  virtual ~IDevicePlatform() = default;
  virtual HRESULT CreateDeviceManager(std::unique_ptr<IPlatformDeviceManager>& manager) = 0;
  virtual HRESULT CreateDevice(std::unique_ptr<IPlatformDevice>& device) = 0;
};

// Serves the manager's two-call forms from plain lists, for platforms that
// find their devices in one go.
class TListedDeviceManager : public IPlatformDeviceManager {
public:
  enum TDeviceText { dtFriendlyName, dtManufacturer, dtDescription };

  HRESULT GetDevices(QString* ids, std::uint32_t& count) override;
  HRESULT GetDeviceFriendlyName(const QString& deviceID, char16_t* buffer, std::uint32_t& length) override;
  HRESULT GetDeviceManufacturer(const QString& deviceID, char16_t* buffer, std::uint32_t& length) override;
  HRESULT GetDeviceDescription(const QString& deviceID, char16_t* buffer, std::uint32_t& length) override;

protected:
  virtual HRESULT ListDeviceIDs(QStringList& ids) = 0;
  virtual HRESULT ReadDeviceText(const QString& deviceID, TDeviceText which, QString& text) = 0;

private:
  HRESULT TwoCallText(const QString& deviceID, TDeviceText which, char16_t* buffer, std::uint32_t& length);
  QStringList FListed;
  bool FHaveList = false;
};

// Children handed out from a list, count at a time.
class TListObjectEnum : public IPlatformObjectEnum {
public:
  explicit TListObjectEnum(QStringList ids) : FIDs(std::move(ids)) {}
  HRESULT Next(std::uint32_t count, QString* ids, std::uint32_t& fetched) override;

private:
  QStringList FIDs;
  qsizetype FPos = 0;
};

} // namespace ardanto
