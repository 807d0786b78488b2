#pragma once

// Portable devices: the manager that lists connected devices and opens one at
// a time, the opened device with its identity, and the device's object tree.
// Everything below goes through the platform operations of DevicePlatform.h.

#include "common/FileData.h"
#include "devices/DeviceErrors.h"
#include "devices/DevicePlatform.h"
#include "devices/DeviceTypes.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ardanto {

class TPortableDevice;
class TPortableDeviceContent;
class TPortableDeviceObject;

enum TObjectType { otUnknown, otDevice, otRoot, otFolder, otFile };
enum TObjectProperty { opCreationTime, opLastWriteTime, opSize };
// Called once per object while the tree is read: its list index and identifier.
using TFindObjects = std::function<void(int Index, const QString& AObjectID)>;

class TDeviceData {
public:
  explicit TDeviceData(QString AName) : FriendlyName(std::move(AName)) {}
  QString FriendlyName;
};

// Device identifiers with their data, in the platform's order.
class TDeviceList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  const QString& Strings(int index) const { return FItems.at(static_cast<std::size_t>(index)).first; }
  TDeviceData* Objects(int index) const { return FItems.at(static_cast<std::size_t>(index)).second.get(); }
  void AddObject(QString text, std::unique_ptr<TDeviceData> data);
  // First entry with that text, ignoring case; -1 if none.
  int IndexOf(const QString& text) const;
  void Clear() { FItems.clear(); }

private:
  std::vector<std::pair<QString, std::unique_ptr<TDeviceData>>> FItems;
};

// Objects whose children could not be listed, with the failing code.
class TErrorList {
public:
  void AddError(const QString& ObjectId, std::uint32_t ErrorCode) { FItems.emplace_back(ObjectId, ErrorCode); }
  int Count() const { return static_cast<int>(FItems.size()); }
  const QString& Strings(int index) const { return FItems.at(static_cast<std::size_t>(index)).first; }
  std::uint32_t GetErrorCode(int AIndex) const { return FItems.at(static_cast<std::size_t>(AIndex)).second; }
  void Clear() { FItems.clear(); }

private:
  std::vector<std::pair<QString, std::uint32_t>> FItems;
};

class TPortableDeviceManager {
public:
  // Lists the devices at once (Refresh); raises EOleSysError when that fails.
  explicit TPortableDeviceManager(std::shared_ptr<IDevicePlatform> platform);
  ~TPortableDeviceManager();
  TPortableDeviceManager(const TPortableDeviceManager&) = delete;
  TPortableDeviceManager& operator=(const TPortableDeviceManager&) = delete;

  // Lists the connected devices anew; leaves the open device alone.
  void Refresh();

  std::uint32_t DeviceCount() const { return FDeviceCount; }
  const TDeviceList& DeviceList() const { return FDeviceList; }
  TPortableDevice* SelectedDevice() const { return FCurrentDevice.get(); }

  // Each of these closes the open device first and returns the newly opened
  // one (owned by the manager, valid until the next of these calls), or none.
  TPortableDevice* GetDevice(int Index);
  TPortableDevice* Devices(int Index) { return GetDevice(Index); }
  TPortableDevice* GetDeviceByName(const QString& DeviceName);
  TPortableDevice* GetDeviceByID(const QString& DeviceID);

  static TClientInformation GetClientInformation();

private:
  friend class TPortableDevice;
  void CloseCurrentDevice();
  TPortableDevice* OpenDevice(const QString& deviceID);

  std::shared_ptr<IDevicePlatform> FPlatform;
  std::unique_ptr<IPlatformDeviceManager> pDeviceManager;
  std::uint32_t FDeviceCount = 0;
  TDeviceList FDeviceList;
  std::unique_ptr<TPortableDevice> FCurrentDevice;
};

class TPortableDevice {
public:
  // Opens the device; raises EOleSysError when it cannot be opened.
  TPortableDevice(TPortableDeviceManager* AManager, const QString& ADeviceID);
  // Closes the device if Close() has not; a failure here goes unreported.
  ~TPortableDevice();
  TPortableDevice(const TPortableDevice&) = delete;
  TPortableDevice& operator=(const TPortableDevice&) = delete;

  // Frees the object tree and closes the device; raises when closing fails.
  void Close();

  TPortableDeviceContent* Content() const { return FContent.get(); }
  const QString& DeviceID() const { return FDeviceID; }

  // Asked of the device manager; raise EOleSysError on failure.
  QString DeviceName() const;
  QString Manufacturer() const;
  QString Description() const;

  // Read from the device object; empty or 0 when unreadable.
  QString Firmware() const;
  QString Model() const;
  QString Protocol() const;
  QString SerialNumber() const;
  std::uint32_t PowerLevel() const;
  std::uint32_t PowerSource() const;
  QString PowerSourceAsString() const;
  std::uint32_t DeviceType() const;
  QString DeviceTypeAsString() const;

private:
  friend class TPortableDeviceContent;
  enum TManagerText { mtFriendlyName, mtManufacturer, mtDescription };
  QString ReadManagerText(TManagerText which) const;
  QString ReadString(TPropertyKey key) const;
  std::uint32_t ReadUInt32(TPropertyKey key) const;

  TPortableDeviceManager* FDeviceManager;
  QString FDeviceID;
  std::unique_ptr<IPlatformDevice> pDevice;
  std::unique_ptr<TPortableDeviceContent> FContent;
  std::unique_ptr<TPortableDeviceObject> FDeviceObject;
  bool FOpen = false;
};

// Fixed texts of the power source and device type values; empty outside the tables.
QString PowerSourceToString(std::uint32_t value);
QString DeviceTypeToString(std::uint32_t value);

class TPortableDeviceObject {
public:
  TPortableDeviceObject(TPortableDeviceContent* AContent, QString AObjectID, int AParentIndex, int ALevel);

  void AddChild(int AIndex);
  TPortableDeviceObject* GetChild(int Index) const;
  TPortableDeviceObject* Children(int Index) const { return GetChild(Index); }
  TPortableDeviceObject* GetChildByName(const QString& AName) const;
  TPortableDeviceObject* GetChildByOriginalName(const QString& AName) const;

  // One property of this object, asked of the device.
  HRESULT GetProperty(TPropertyKey PropertyKey, TPropVariant& pv) const;
  bool CanWriteProperty(TObjectProperty ObjectProperty) const;

  // Fills the record the copy engine reads; with AGetStream a file's data
  // stream too. Failures only come back as the result.
  HRESULT GetFileData(TFileData& AFileData, bool AGetStream) const;
  HRESULT GetFileStream(TFileStreamData& AStreamData) const;
  // Copies the object's data into a new local file. Raises EOleSysError when
  // the device side fails; returns the result of the file side. The file
  // appears only when complete.
  HRESULT CopyToFile(const QString& AFilename) const;
  // AFilename plus "." and ObjectExtension, when the name has no extension.
  QString AddNameExtension(const QString& AFilename) const;
  // S_OK when the children of this object were listed; the failing code
  // (as in the content's ErrorObjects) when they could not be.
  HRESULT ListError() const;
  // The local folder or file behind this object on a device that is a
  // folder; empty on any other device.
  QString LocalPath() const;

  const QString& ObjectID() const { return FObjectID; }
  int Index() const { return FIndex; }
  int Level() const { return FLevel; }
  int ParentIndex() const { return FParentIndex; }
  QString ParentID() const;
  QString ObjectName() const;
  QString OriginalName() const;
  QString DisplayName() const;
  // Display names from the storage down, joined with "\".
  QString Path() const;
  TGuid ContentGuid() const;
  TContentType ContentType() const { return ContentTypeFromGuid(ContentGuid()); }
  TObjectFormat ObjectFormat() const;
  QString ObjectExtension() const { return ObjectFormatExtension(ObjectFormat()); }
  TObjectType ObjectType() const;
  TDateTime CreationTime() const;  // local time; now when the device has none
  TDateTime LastWriteTime() const; // local time; now when the device has none
  std::int64_t Size() const;
  int ChildCount() const;

private:
  friend class TPortableDeviceContent;
  QString ReadText(TPropertyKey key, QString& cache) const;
  TDateTime ReadDate(TPropertyKey key) const;
  int ChildListSize() const { return FChildObjects ? static_cast<int>(FChildObjects->size()) : 0; }

  // The content type and the format are kept as positions in their tables
  // (a device may hold hundreds of thousands of objects); the content keeps
  // the rare GUID that is in neither.
  static constexpr std::uint8_t kNotRead = 0xFF;
  static constexpr std::uint8_t kOtherGuid = 0xFE;

  QString FObjectID;
  mutable QString FParentID;
  mutable QString FObjectName;
  mutable QString FOriginalName;
  TPortableDeviceContent* FContent;
  std::unique_ptr<std::vector<std::int32_t>> FChildObjects; // none until the first child
  mutable std::int32_t FChildCount = -1;
  std::int32_t FIndex = 0;
  std::int32_t FParentIndex;
  std::int32_t FLevel;
  mutable std::uint8_t FContentType = kNotRead;
  mutable std::uint8_t FObjectFormat = kNotRead;
};

class TPortableDeviceContent {
public:
  // Raises EOleSysError when the device gives no content handle.
  explicit TPortableDeviceContent(TPortableDevice* ADevice);
  ~TPortableDeviceContent();
  TPortableDeviceContent(const TPortableDeviceContent&) = delete;
  TPortableDeviceContent& operator=(const TPortableDeviceContent&) = delete;

  // Reads the whole tree anew. Objects of an earlier tree are gone afterwards.
  // True when the children of every object could be listed.
  bool Refresh(TFindObjects ACallBack = {});

  int ObjectCount() const { return FCount; }
  TPortableDeviceObject* GetObject(int Index) const;
  TPortableDeviceObject* Objects(int Index) const { return GetObject(Index); }
  TPortableDeviceObject* GetObjectByID(const QString& AObjectID) const;
  // From AIndex on, the first object of that type; AIndex is left on it, or
  // on ObjectCount when there is none.
  TPortableDeviceObject* FindNextObject(TObjectType AObjectType, int& AIndex) const;
  TPortableDeviceObject* DeviceObject() const;
  int RootCount() const;
  int FolderCount() const;
  TPortableDeviceObject* GetRootObject(int Index) const;
  TPortableDeviceObject* RootObjects(int Index) const { return GetRootObject(Index); }
  // "storage\folder\subfolder" to the object; none when a part is missing.
  TPortableDeviceObject* GetObjectByPath(const QString& APath) const;
  int GetObjectIndexByPath(const QString& APath) const;
  const TErrorList& ErrorObjects() const { return FErrorObjects; }
  TPortableDevice* Device() const { return FDevice; }
  // Whether the device is still there, the same one that was opened. After a
  // failed read it tells a bad file from a device that is gone.
  bool DeviceConnected() const;

private:
  friend class TPortableDeviceObject;
  int AddObject(const QString& id, int parentIndex, bool& listed, std::unique_ptr<IPlatformObjectEnum>& children);
  void BuildIDIndex() const;
  TPortableDeviceObject& At(int index) const;
  void Clear();

  TPortableDevice* FDevice;
  std::shared_ptr<IPlatformContent> pContent;
  // The object list, in blocks that never move: objects keep their address
  // and cost no allocation of their own.
  static constexpr int kBlockSize = 256;
  std::vector<std::vector<TPortableDeviceObject>> FBlocks;
  int FCount = 0;
  mutable std::unordered_map<std::int32_t, TGuid> FOtherContentTypes;
  mutable std::unordered_map<std::int32_t, TGuid> FOtherFormats;
  TFindObjects FFindCallback;
  TErrorList FErrorObjects;
  std::unordered_map<std::int32_t, HRESULT> FListErrors; // the same, by object index
  // Identifier look-ups go through a hash of the case-folded identifier,
  // built on first use after each Refresh.
  mutable std::unordered_multimap<std::size_t, std::int32_t> FIDIndex;
  mutable bool FIDIndexValid = false;
};

} // namespace ardanto
