#include "devices/backends/mtp/MtpDevicePlatform.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "devices/DeviceErrors.h"
#include "devices/DeviceTypes.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <libmtp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

const QString kPrefix = u"mtp:"_s;
const QString kDeviceID = u"DEVICE"_s;
constexpr std::uint32_t kTopLevel = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// The one lock around libmtp

std::timed_mutex& MtpMutex()
{
  static std::timed_mutex mutex;
  return mutex;
}

// Holds the lock and sees that libmtp was initialised once.
class TMtpLock {
public:
  TMtpLock() : FLock(MtpMutex()) { Initialise(); }
  // Waits at most that long: a call that holds the lock longer is stuck on
  // a device that does not answer.
  explicit TMtpLock(std::chrono::milliseconds wait) : FLock(MtpMutex(), wait)
  {
    if (FLock.owns_lock())
      Initialise();
  }
  bool Owns() const { return FLock.owns_lock(); }

private:
  static void Initialise()
  {
    static bool initialised = false;
    if (!initialised) {
      LIBMTP_Init();
      initialised = true;
    }
  }

  std::unique_lock<std::timed_mutex> FLock;
};

QString TakeString(char* text)
{
  if (text == nullptr)
    return {};
  QString result = QString::fromUtf8(text).trimmed();
  std::free(text);
  return result;
}

HRESULT ResultFromMtpError(LIBMTP_error_number_t error)
{
  switch (error) {
  case LIBMTP_ERROR_NONE:
    return S_OK;
  case LIBMTP_ERROR_MEMORY_ALLOCATION:
    return E_OUTOFMEMORY;
  case LIBMTP_ERROR_NO_DEVICE_ATTACHED:
    return E_DEVICE_NOT_CONNECTED;
  case LIBMTP_ERROR_CANCELLED:
    return E_ABORT;
  case LIBMTP_ERROR_PTP_LAYER:
  case LIBMTP_ERROR_USB_LAYER:
  case LIBMTP_ERROR_CONNECTING:
    return E_DEVICE_IO;
  default:
    return E_FAIL;
  }
}

// The first error on the device's stack as a result code; clears the stack.
// Call with the lock held.
HRESULT TakeDeviceError(LIBMTP_mtpdevice_t* device)
{
  LIBMTP_error_t* errors = LIBMTP_Get_Errorstack(device);
  if (errors == nullptr)
    return S_OK;
  const HRESULT hr = ResultFromMtpError(errors->errornumber);
  LIBMTP_Clear_Errorstack(device);
  return FAILED(hr) ? hr : E_FAIL;
}

// ---------------------------------------------------------------------------
// Finding devices

struct TRawDevice {
  LIBMTP_raw_device_t Raw{};
  QString ID;
  QString FriendlyName;
  QString Manufacturer;
  QString Description;
};

QString ReadSysfsText(const QString& dir, const char* name)
{
  QFile file(dir + u'/' + QLatin1StringView(name));
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return QString::fromUtf8(file.readAll()).trimmed();
}

// Names and serial number of a USB device as the kernel read them at plug-in:
// asking needs no opening of the device.
void ReadSysfs(const TMtpDeviceOptions& options, TRawDevice& device, QString& serial)
{
  const QDir root(options.SysfsUsbRoot);
  for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
    const QString dir = root.filePath(name);
    bool ok1 = false;
    bool ok2 = false;
    const uint bus = ReadSysfsText(dir, "busnum").toUInt(&ok1);
    const uint devnum = ReadSysfsText(dir, "devnum").toUInt(&ok2);
    if (!ok1 || !ok2 || bus != device.Raw.bus_location || devnum != device.Raw.devnum)
      continue;
    device.FriendlyName = ReadSysfsText(dir, "product");
    device.Manufacturer = ReadSysfsText(dir, "manufacturer");
    serial = ReadSysfsText(dir, "serial");
    return;
  }
}

// Lists the attached MTP devices. Detection probes unknown USB devices by
// opening them, so this runs only when the user asks for the device list.
HRESULT DetectDevices(const TMtpDeviceOptions& options, std::vector<TRawDevice>& devices)
{
  devices.clear();
  LIBMTP_raw_device_t* raw = nullptr;
  int count = 0;
  LIBMTP_error_number_t error;
  {
    TMtpLock lock;
    error = LIBMTP_Detect_Raw_Devices(&raw, &count);
  }
  std::vector<LIBMTP_raw_device_t> found;
  if (raw != nullptr && error == LIBMTP_ERROR_NONE)
    found.assign(raw, raw + std::max(count, 0));
  std::free(raw);
  // Nothing attached is an empty list, not a failure.
  if (error == LIBMTP_ERROR_NO_DEVICE_ATTACHED)
    return S_OK;
  if (error != LIBMTP_ERROR_NONE)
    return ResultFromMtpError(error);

  for (const LIBMTP_raw_device_t& r : found) {
    TRawDevice device;
    device.Raw = r;
    QString serial;
    ReadSysfs(options, device, serial);
    const LIBMTP_device_entry_t& entry = r.device_entry;
    const QString vendorName = entry.vendor != nullptr ? QString::fromUtf8(entry.vendor) : QString();
    const QString productName = entry.product != nullptr ? QString::fromUtf8(entry.product) : QString();
    if (device.FriendlyName.isEmpty())
      device.FriendlyName = !productName.isEmpty() ? productName : _("MTP device");
    if (device.Manufacturer.isEmpty())
      device.Manufacturer = vendorName;
    device.Description = QStringList{vendorName, productName}.join(u' ').trimmed();
    if (device.Description.isEmpty())
      device.Description = device.FriendlyName;
    // Bus and device numbers change when libmtp resets a device, the serial
    // number does not: it keeps the identifier stable.
    const QString usbID = QString::asprintf("%04x:%04x", entry.vendor_id, entry.product_id);
    if (!serial.isEmpty())
      device.ID = kPrefix + usbID + u':' + serial;
    else
      device.ID = kPrefix + usbID + QString::asprintf("@%u-%u", r.bus_location, unsigned(r.devnum));
    if (std::none_of(devices.begin(), devices.end(), [&](const TRawDevice& d) { return d.ID == device.ID; }))
      devices.push_back(std::move(device));
  }
  return S_OK;
}

// The process that has the device node open, if one can be seen.
bool FindHolder(const TMtpDeviceOptions& options, const LIBMTP_raw_device_t& raw, QString& name, qint64& pid)
{
  const QByteArray node =
      QFile::encodeName(options.DevNodeRoot + QString::asprintf("/%03u/%03u", raw.bus_location, unsigned(raw.devnum)));
  const QDir proc(options.ProcRoot);
  for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool numeric = false;
    const qint64 id = entry.toLongLong(&numeric);
    if (!numeric)
      continue;
    const QByteArray fdDir = QFile::encodeName(proc.filePath(entry) + u"/fd"_s);
    DIR* dir = ::opendir(fdDir.constData());
    if (dir == nullptr)
      continue;
    bool found = false;
    while (const dirent* d = ::readdir(dir)) {
      char target[4096];
      const QByteArray link = fdDir + '/' + d->d_name;
      const ssize_t n = ::readlink(link.constData(), target, sizeof(target) - 1);
      if (n > 0 && QByteArray(target, n) == node) {
        found = true;
        break;
      }
    }
    ::closedir(dir);
    if (found) {
      QFile comm(proc.filePath(entry) + u"/comm"_s);
      name = comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
      if (name.isEmpty())
        name = _("another program");
      pid = id;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// An opened device, shared by its content and its streams

struct TPump;

struct TMtpSession {
  LIBMTP_mtpdevice_t* Device = nullptr; // under the lock
  std::atomic<bool> Open{false};        // set under the lock; cleared without it by a Close that cannot get it
  bool PartialReads = false;
  TMtpDeviceOptions Options;

  std::mutex PumpsMutex;
  std::vector<std::weak_ptr<TPump>> Pumps;
};

// ---------------------------------------------------------------------------
// Read streams

// Reads the file in large chunks at growing offsets. The end is reached
// when the offset reaches the size: some devices return a chunk short.
class TMtpPullStream : public IReadStream {
public:
  TMtpPullStream(std::shared_ptr<TMtpSession> session, std::uint32_t id, std::uint64_t size)
    : FSession(std::move(session)), FID(id), FSize(size)
  {
  }

  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t total = 0;
    HRESULT hr = S_OK;
    while (total < count) {
      if (FPos < FChunk.size()) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count - total, FChunk.size() - FPos));
        std::memcpy(out + total, FChunk.data() + FPos, n);
        FPos += n;
        total += n;
        continue;
      }
      if (FOffset >= FSize)
        break;
      hr = Fetch();
      if (FAILED(hr))
        break;
    }
    if (bytesRead != nullptr)
      *bytesRead = total;
    return hr;
  }

private:
  HRESULT Fetch()
  {
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(FSession->Options.ChunkSize, FSize - FOffset));
    unsigned char* data = nullptr;
    unsigned int length = 0;
    HRESULT hr = S_OK;
    {
      TMtpLock lock;
      if (!FSession->Open)
        return E_DEVICE_NOT_CONNECTED;
      if (LIBMTP_GetPartialObject(FSession->Device, FID, FOffset, want, &data, &length) != 0) {
        hr = TakeDeviceError(FSession->Device);
        if (SUCCEEDED(hr))
          hr = E_DEVICE_IO;
      }
    }
    if (FAILED(hr)) {
      std::free(data);
      return hr;
    }
    if (length == 0) {
      // The device ended before the size it stated: the copy would be short.
      std::free(data);
      return E_DEVICE_IO;
    }
    length = std::min<unsigned int>(length, want);
    FChunk.assign(data, data + length);
    std::free(data);
    FPos = 0;
    FOffset += length;
    return S_OK;
  }

  std::shared_ptr<TMtpSession> FSession;
  std::uint32_t FID;
  std::uint64_t FSize;
  std::uint64_t FOffset = 0;
  std::vector<unsigned char> FChunk;
  std::size_t FPos = 0;
};

// State shared by a push stream and its pump thread.
struct TPump {
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::vector<unsigned char>> Queue;
  std::size_t Queued = 0;
  std::size_t Limit = 0;
  std::uint64_t Received = 0;
  bool Done = false;
  bool Cancel = false;
  HRESULT Result = S_OK;

  void Stop()
  {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      Cancel = true;
    }
    Changed.notify_all();
  }
};

uint16_t PutChunk(void*, void* priv, uint32_t sendlen, unsigned char* data, uint32_t* putlen)
{
  auto* pump = static_cast<TPump*>(priv);
  std::unique_lock<std::mutex> lock(pump->Mutex);
  pump->Changed.wait(lock, [&] { return pump->Cancel || pump->Queued < pump->Limit; });
  if (pump->Cancel) {
    *putlen = 0;
    return LIBMTP_HANDLER_RETURN_CANCEL;
  }
  pump->Queue.emplace_back(data, data + sendlen);
  pump->Queued += sendlen;
  pump->Received += sendlen;
  *putlen = sendlen;
  lock.unlock();
  pump->Changed.notify_all();
  return LIBMTP_HANDLER_RETURN_OK;
}

// For devices without partial reads: libmtp pushes the whole file through a
// callback, which a pump thread turns into a bounded queue for the reader.
// The pump holds the device until the file is through or the stream goes.
class TMtpPushStream : public IReadStream {
public:
  TMtpPushStream(std::shared_ptr<TMtpSession> session, std::uint32_t id, std::uint64_t size)
    : FSession(std::move(session)), FID(id), FSize(size), FPump(std::make_shared<TPump>())
  {
    FPump->Limit = std::max<std::size_t>(FSession->Options.QueueLimit, 1);
    std::lock_guard<std::mutex> lock(FSession->PumpsMutex);
    std::erase_if(FSession->Pumps, [](const std::weak_ptr<TPump>& p) { return p.expired(); });
    FSession->Pumps.push_back(FPump);
  }

  ~TMtpPushStream() override
  {
    FPump->Stop();
    if (FThread.joinable())
      FThread.join();
  }

  TMtpPushStream(const TMtpPushStream&) = delete;
  TMtpPushStream& operator=(const TMtpPushStream&) = delete;

  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    // The pump starts with the first read, on the reader's side: it holds
    // libmtp's lock for the whole file and must not block the opener.
    if (!FStarted) {
      FStarted = true;
      FThread = std::thread([session = FSession, pump = FPump, id = FID] { RunPump(*session, *pump, id); });
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t total = 0;
    HRESULT hr = S_OK;
    std::unique_lock<std::mutex> lock(FPump->Mutex);
    while (total < count) {
      FPump->Changed.wait(lock, [&] { return !FPump->Queue.empty() || FPump->Done; });
      if (FPump->Queue.empty()) {
        if (FAILED(FPump->Result))
          hr = FPump->Result;
        else if (FPump->Received < FSize)
          hr = E_DEVICE_IO; // the device sent less than the size it stated
        break;
      }
      std::vector<unsigned char>& front = FPump->Queue.front();
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count - total, front.size() - FFrontPos));
      std::memcpy(out + total, front.data() + FFrontPos, n);
      FFrontPos += n;
      total += n;
      if (FFrontPos == front.size()) {
        FPump->Queued -= front.size();
        FPump->Queue.pop_front();
        FFrontPos = 0;
        FPump->Changed.notify_all();
      }
    }
    if (bytesRead != nullptr)
      *bytesRead = total;
    return hr;
  }

private:
  static void RunPump(TMtpSession& session, TPump& pump, std::uint32_t id)
  {
    HRESULT hr = S_OK;
    {
      TMtpLock lock;
      if (!session.Open)
        hr = E_DEVICE_NOT_CONNECTED;
      else if (LIBMTP_Get_File_To_Handler(session.Device, id, PutChunk, &pump, nullptr, nullptr) != 0) {
        hr = TakeDeviceError(session.Device);
        if (SUCCEEDED(hr))
          hr = E_DEVICE_IO;
      }
    }
    {
      std::lock_guard<std::mutex> lock(pump.Mutex);
      pump.Result = hr;
      pump.Done = true;
    }
    pump.Changed.notify_all();
  }

  std::shared_ptr<TMtpSession> FSession;
  std::uint32_t FID;
  std::uint64_t FSize;
  std::shared_ptr<TPump> FPump;
  std::thread FThread;
  bool FStarted = false;
  std::size_t FFrontPos = 0;
};

// ---------------------------------------------------------------------------
// Content

struct TMtpIdentity {
  QString FriendlyName;
  QString Manufacturer;
  QString Model;
  QString SerialNumber;
  QString Firmware;
  QString Protocol;
  std::optional<std::uint32_t> PowerLevel;
  std::uint32_t DeviceType = 0;
};

struct TMtpStorage {
  std::uint32_t ID = 0;
  QString Name;
  bool Listed = false;
  std::vector<std::uint32_t> Children;
};

struct TMtpObject {
  QString Name;
  std::uint64_t Size = 0;
  time_t Modified = 0;
  std::uint32_t Parent = 0; // an object, or the storage when ParentIsStorage
  std::uint32_t Storage = 0;
  LIBMTP_filetype_t Type = LIBMTP_FILETYPE_UNKNOWN;
  bool ParentIsStorage = false;
  bool InTree = false; // handed out by a listing (not just looked up)
  bool Listed = false;
  std::vector<std::uint32_t> Children;
};

struct TMtpKind {
  TObjectFormat Format;
  TContentType ContentType;
};

TMtpKind KindOf(LIBMTP_filetype_t type)
{
  switch (type) {
  case LIBMTP_FILETYPE_FOLDER:
    return {ofPropsOnly, ctFolder};
  case LIBMTP_FILETYPE_WAV:
    return {ofWave, ctAudio};
  case LIBMTP_FILETYPE_MP3:
    return {ofMp3, ctAudio};
  case LIBMTP_FILETYPE_WMA:
    return {ofWma, ctAudio};
  case LIBMTP_FILETYPE_OGG:
    return {ofOgg, ctAudio};
  case LIBMTP_FILETYPE_AUDIBLE:
    return {ofAudible, ctAudio};
  case LIBMTP_FILETYPE_MP4:
    return {ofMp4, ctVideo};
  case LIBMTP_FILETYPE_UNDEF_AUDIO:
    return {ofUnknown, ctAudio};
  case LIBMTP_FILETYPE_WMV:
    return {ofWmv, ctVideo};
  case LIBMTP_FILETYPE_AVI:
    return {ofAvi, ctVideo};
  case LIBMTP_FILETYPE_MPEG:
    return {ofMpeg, ctVideo};
  case LIBMTP_FILETYPE_ASF:
    return {ofAdvStream, ctVideo};
  case LIBMTP_FILETYPE_QT:
    return {ofUnknown, ctVideo};
  case LIBMTP_FILETYPE_UNDEF_VIDEO:
    return {ofUnknown, ctVideo};
  case LIBMTP_FILETYPE_JPEG:
    return {ofExif, ctImage};
  case LIBMTP_FILETYPE_JFIF:
    return {ofJpgInterchange, ctImage};
  case LIBMTP_FILETYPE_TIFF:
    return {ofTiff, ctImage};
  case LIBMTP_FILETYPE_BMP:
    return {ofBmp, ctImage};
  case LIBMTP_FILETYPE_GIF:
    return {ofGif, ctImage};
  case LIBMTP_FILETYPE_PICT:
    return {ofPict, ctImage};
  case LIBMTP_FILETYPE_PNG:
    return {ofPng, ctImage};
  case LIBMTP_FILETYPE_VCALENDAR1:
    return {ofVCalendar, ctCalendar};
  case LIBMTP_FILETYPE_VCALENDAR2:
    return {ofICalendar, ctCalendar};
  case LIBMTP_FILETYPE_VCARD2:
    return {ofVCard2, ctContact};
  case LIBMTP_FILETYPE_VCARD3:
    return {ofVCard3, ctContact};
  case LIBMTP_FILETYPE_WINDOWSIMAGEFORMAT:
    return {ofWinImg, ctImage};
  case LIBMTP_FILETYPE_WINEXEC:
    return {ofExecutable, ctProgram};
  case LIBMTP_FILETYPE_TEXT:
    return {ofText, ctDocument};
  case LIBMTP_FILETYPE_HTML:
    return {ofHtml, ctDocument};
  case LIBMTP_FILETYPE_AAC:
    return {ofAdvAudioCoding, ctAudio};
  case LIBMTP_FILETYPE_FLAC:
    return {ofFlac, ctAudio};
  case LIBMTP_FILETYPE_MP2:
    return {ofMp2, ctAudio};
  case LIBMTP_FILETYPE_M4A:
    return {ofM4a, ctAudio};
  case LIBMTP_FILETYPE_DOC:
    return {ofMSWord, ctDocument};
  case LIBMTP_FILETYPE_XML:
    return {ofXml, ctDocument};
  case LIBMTP_FILETYPE_XLS:
    return {ofMSExel, ctDocument};
  case LIBMTP_FILETYPE_PPT:
    return {ofMSPowerpoint, ctDocument};
  case LIBMTP_FILETYPE_MHT:
    return {ofUnknown, ctDocument};
  case LIBMTP_FILETYPE_JP2:
    return {ofJp2, ctImage};
  case LIBMTP_FILETYPE_JPX:
    return {ofJpX, ctImage};
  case LIBMTP_FILETYPE_ALBUM:
    return {ofUnknown, ctAudioAlbum};
  case LIBMTP_FILETYPE_PLAYLIST:
    return {ofUnknown, ctPlayList};
  default:
    return {ofUnknown, ctGenericFile};
  }
}

class TMtpContent : public IPlatformContent, public std::enable_shared_from_this<TMtpContent> {
public:
  TMtpContent(std::shared_ptr<TMtpSession> session, TMtpIdentity identity)
    : FSession(std::move(session)), FIdentity(std::move(identity))
  {
  }

  HRESULT EnumObjects(const QString& parentID, std::unique_ptr<IPlatformObjectEnum>& result) override
  {
    QStringList ids;
    if (parentID.compare(kDeviceID, Qt::CaseInsensitive) == 0) {
      // Listing the device starts a new reading of the tree.
      const HRESULT hr = ReadStorages();
      if (FAILED(hr))
        return hr;
      for (const TMtpStorage& storage : FStorages)
        ids << StorageID(storage.ID);
    } else if (TMtpStorage* storage = FindStorage(parentID)) {
      if (!storage->Listed) {
        const HRESULT hr = ListChildren(storage->ID, kTopLevel, storage->Children);
        if (FAILED(hr))
          return hr;
        storage->Listed = true;
      }
      for (const std::uint32_t id : storage->Children)
        ids << ObjectID(id);
    } else {
      TMtpObject* object = nullptr;
      std::uint32_t id = 0;
      const HRESULT hr = FindObject(parentID, id, object);
      if (FAILED(hr))
        return hr;
      if (object->Type == LIBMTP_FILETYPE_FOLDER && !object->Listed) {
        std::vector<std::uint32_t> children;
        const HRESULT listed = ListChildren(object->Storage, id, children);
        if (FAILED(listed))
          return listed;
        object->Children = std::move(children);
        object->Listed = true;
      }
      for (const std::uint32_t child : object->Children)
        ids << ObjectID(child);
    }
    result = std::make_unique<TListObjectEnum>(std::move(ids));
    return S_OK;
  }

  HRESULT GetProperty(const QString& objectID, TPropertyKey key, TPropVariant& value) override
  {
    if (objectID.compare(kDeviceID, Qt::CaseInsensitive) == 0)
      return DeviceProperty(key, value);
    if (const TMtpStorage* storage = FindStorage(objectID))
      return StorageProperty(*storage, key, value);
    TMtpObject* object = nullptr;
    std::uint32_t id = 0;
    const HRESULT hr = FindObject(objectID, id, object);
    if (FAILED(hr))
      return hr;
    return ObjectProperty(*object, key, value);
  }

  HRESULT CanWriteProperty(const QString& objectID, TPropertyKey, bool& canWrite) override
  {
    // Nothing is ever written to a device.
    canWrite = false;
    if (objectID.compare(kDeviceID, Qt::CaseInsensitive) == 0 || FindStorage(objectID) != nullptr)
      return S_OK;
    TMtpObject* object = nullptr;
    std::uint32_t id = 0;
    return FindObject(objectID, id, object);
  }

  HRESULT GetStream(const QString& objectID, std::shared_ptr<IReadStream>& stream,
                    std::uint32_t& optimalBufferSize) override
  {
    TMtpObject* object = nullptr;
    std::uint32_t id = 0;
    if (objectID.compare(kDeviceID, Qt::CaseInsensitive) == 0 || FindStorage(objectID) != nullptr)
      return E_INVALIDARG;
    const HRESULT hr = FindObject(objectID, id, object);
    if (FAILED(hr))
      return hr;
    if (object->Type == LIBMTP_FILETYPE_FOLDER)
      return HResultFromErrno(EISDIR);
    if (FSession->PartialReads)
      stream = std::make_shared<TMtpPullStream>(FSession, id, object->Size);
    else
      stream = std::make_shared<TMtpPushStream>(FSession, id, object->Size);
    optimalBufferSize = FSession->Options.ChunkSize;
    return S_OK;
  }

  HRESULT CheckConnection() override
  {
    // The storage list needs the device to answer, and costs a few short
    // requests.
    TMtpLock lock(FSession->Options.ProbeWait);
    if (!lock.Owns())
      return E_DEVICE_BUSY;
    if (!FSession->Open)
      return E_DEVICE_NOT_CONNECTED;
    if (LIBMTP_Get_Storage(FSession->Device, LIBMTP_STORAGE_SORTBY_NOTSORTED) == 0)
      return S_OK;
    const HRESULT hr = TakeDeviceError(FSession->Device);
    if (FAILED(hr))
      return hr;
    // libmtp fails without a word when there is no storage: a device that
    // had some has stopped answering, one that never had any (a locked
    // phone) may just be locked.
    return FStorages.empty() ? S_OK : E_DEVICE_NOT_CONNECTED;
  }

private:
  static QString StorageID(std::uint32_t id) { return QString::asprintf("s%08X", id); }
  static QString ObjectID(std::uint32_t id) { return QString::asprintf("o%08X", id); }

  static bool ParseID(const QString& text, QChar prefix, std::uint32_t& id)
  {
    if (text.size() < 2 || text[0].toLower() != prefix)
      return false;
    bool ok = false;
    id = QStringView(text).mid(1).toUInt(&ok, 16);
    return ok;
  }

  TMtpStorage* FindStorage(const QString& objectID)
  {
    std::uint32_t id = 0;
    if (!ParseID(objectID, u's', id))
      return nullptr;
    for (TMtpStorage& storage : FStorages)
      if (storage.ID == id)
        return &storage;
    return nullptr;
  }

  HRESULT FindObject(const QString& objectID, std::uint32_t& id, TMtpObject*& object)
  {
    if (!ParseID(objectID, u'o', id))
      return E_ELEMENT_NOT_FOUND;
    const auto it = FObjects.find(id);
    if (it != FObjects.end()) {
      object = &it->second;
      return S_OK;
    }
    // Not listed yet: ask the device about this one object.
    LIBMTP_file_t* file = nullptr;
    HRESULT hr = S_OK;
    {
      TMtpLock lock;
      if (!FSession->Open)
        return E_DEVICE_NOT_CONNECTED;
      file = LIBMTP_Get_Filemetadata(FSession->Device, id);
      if (file == nullptr) {
        hr = TakeDeviceError(FSession->Device);
        if (SUCCEEDED(hr))
          hr = E_ELEMENT_NOT_FOUND;
      } else {
        TMtpObject entry = FromFile(*file, IsTopLevel(*file));
        LIBMTP_destroy_file_t(file);
        object = &(FObjects[id] = std::move(entry));
      }
    }
    return hr;
  }

  static TMtpObject FromFile(const LIBMTP_file_t& file, bool parentIsStorage)
  {
    TMtpObject object;
    object.Name = QString::fromUtf8(file.filename != nullptr ? file.filename : "");
    object.Size = file.filesize;
    object.Modified = file.modificationdate;
    object.Storage = file.storage_id;
    object.Type = file.filetype;
    object.ParentIsStorage = parentIsStorage;
    object.Parent = parentIsStorage ? file.storage_id : file.parent_id;
    return object;
  }

  // Top-level objects name 0, 0xFFFFFFFF or (Apple) the storage as parent.
  static bool IsTopLevel(const LIBMTP_file_t& file)
  {
    return file.parent_id == 0 || file.parent_id == kTopLevel || file.parent_id == file.storage_id;
  }

  HRESULT ReadStorages()
  {
    FStorages.clear();
    FObjects.clear();
    TMtpLock lock;
    if (!FSession->Open)
      return E_DEVICE_NOT_CONNECTED;
    if (LIBMTP_Get_Storage(FSession->Device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0) {
      // libmtp also fails when there is no storage at all (a locked phone
      // shows none): that is an empty device, not an error.
      const HRESULT hr = TakeDeviceError(FSession->Device);
      if (FAILED(hr) && FSession->Device->storage != nullptr)
        return hr;
    }
    for (const LIBMTP_devicestorage_t* s = FSession->Device->storage; s != nullptr; s = s->next) {
      TMtpStorage storage;
      storage.ID = s->id;
      // Copied now: libmtp rebuilds this list when it likes.
      storage.Name = QString::fromUtf8(s->StorageDescription != nullptr ? s->StorageDescription : "").trimmed();
      if (storage.Name.isEmpty() && s->VolumeIdentifier != nullptr)
        storage.Name = QString::fromUtf8(s->VolumeIdentifier).trimmed();
      FStorages.push_back(std::move(storage));
    }
    return S_OK;
  }

  // One request for the whole folder; the children are kept and handed out
  // ten at a time, and their properties answered from here.
  HRESULT ListChildren(std::uint32_t storage, std::uint32_t parent, std::vector<std::uint32_t>& children)
  {
    children.clear();
    TMtpLock lock;
    if (!FSession->Open)
      return E_DEVICE_NOT_CONNECTED;
    LIBMTP_file_t* files = LIBMTP_Get_Files_And_Folders(FSession->Device, storage, parent);
    if (files == nullptr) {
      const HRESULT hr = TakeDeviceError(FSession->Device);
      return FAILED(hr) ? hr : S_OK; // an empty folder
    }
    while (files != nullptr) {
      LIBMTP_file_t* file = files;
      files = files->next;
      const std::uint32_t id = file->item_id;
      auto it = FObjects.find(id);
      // An object can be in the tree once only: a device that reports one
      // again (or a folder as its own child) would repeat a subtree forever.
      if (id != parent && (it == FObjects.end() || !it->second.InTree)) {
        TMtpObject object = FromFile(*file, parent == kTopLevel);
        // Where we found it, whatever it claims.
        object.Parent = parent == kTopLevel ? storage : parent;
        object.Storage = storage;
        object.InTree = true;
        FObjects[id] = std::move(object);
        children.push_back(id);
      }
      LIBMTP_destroy_file_t(file);
    }
    return S_OK;
  }

  HRESULT DeviceProperty(TPropertyKey key, TPropVariant& value) const
  {
    auto text = [&](const QString& s) {
      if (s.isEmpty())
        return E_ELEMENT_NOT_FOUND;
      value = TPropVariant::String(s);
      return S_OK;
    };
    switch (key) {
    case pkObjectName:
      return text(FIdentity.FriendlyName);
    case pkParentID:
      value = TPropVariant::String(QString());
      return S_OK;
    case pkContentType:
      value = TPropVariant::Guid(ContentTypeGuid(ctFunctionalObject));
      return S_OK;
    case pkObjectFormat:
      value = TPropVariant::Guid(ObjectFormatGuid(ofPropsOnly));
      return S_OK;
    case pkFirmwareVersion:
      return text(FIdentity.Firmware);
    case pkModel:
      return text(FIdentity.Model);
    case pkProtocol:
      return text(FIdentity.Protocol);
    case pkSerialNumber:
      return text(FIdentity.SerialNumber);
    case pkPowerLevel:
      if (!FIdentity.PowerLevel)
        return E_ELEMENT_NOT_FOUND;
      value = TPropVariant::UInt32(*FIdentity.PowerLevel);
      return S_OK;
    case pkDeviceType:
      value = TPropVariant::UInt32(FIdentity.DeviceType);
      return S_OK;
    default:
      return E_ELEMENT_NOT_FOUND; // MTP does not tell the power source
    }
  }

  static HRESULT StorageProperty(const TMtpStorage& storage, TPropertyKey key, TPropVariant& value)
  {
    switch (key) {
    case pkObjectName:
      if (storage.Name.isEmpty())
        return E_ELEMENT_NOT_FOUND;
      value = TPropVariant::String(storage.Name);
      return S_OK;
    case pkParentID:
      value = TPropVariant::String(kDeviceID);
      return S_OK;
    case pkContentType:
      value = TPropVariant::Guid(ContentTypeGuid(ctFunctionalObject));
      return S_OK;
    case pkObjectFormat:
      value = TPropVariant::Guid(ObjectFormatGuid(ofPropsOnly));
      return S_OK;
    default:
      return E_ELEMENT_NOT_FOUND;
    }
  }

  static HRESULT ObjectProperty(const TMtpObject& object, TPropertyKey key, TPropVariant& value)
  {
    const bool folder = object.Type == LIBMTP_FILETYPE_FOLDER;
    switch (key) {
    case pkObjectName:
    case pkOriginalFileName:
      if (object.Name.isEmpty())
        return E_ELEMENT_NOT_FOUND;
      value = TPropVariant::String(object.Name);
      return S_OK;
    case pkParentID:
      value = TPropVariant::String(object.ParentIsStorage ? StorageID(object.Parent) : ObjectID(object.Parent));
      return S_OK;
    case pkContentType:
      value = TPropVariant::Guid(ContentTypeGuid(KindOf(object.Type).ContentType));
      return S_OK;
    case pkObjectFormat:
      value = TPropVariant::Guid(ObjectFormatGuid(KindOf(object.Type).Format));
      return S_OK;
    case pkDateModified:
      // 0: the device did not say.
      if (object.Modified == 0)
        return E_ELEMENT_NOT_FOUND;
      value = TPropVariant::Date(UnixTimeToLocalDateTime(object.Modified));
      return S_OK;
    case pkSize:
      if (folder)
        return E_ELEMENT_NOT_FOUND;
      value = TPropVariant::UInt64(object.Size);
      return S_OK;
    default:
      return E_ELEMENT_NOT_FOUND;
    }
  }

  std::shared_ptr<TMtpSession> FSession;
  TMtpIdentity FIdentity;
  std::vector<TMtpStorage> FStorages;
  std::unordered_map<std::uint32_t, TMtpObject> FObjects;
};

// ---------------------------------------------------------------------------
// Device, manager, platform

class TMtpDevice : public IPlatformDevice {
public:
  explicit TMtpDevice(const TMtpDeviceOptions& options) : FOptions(options) {}
  ~TMtpDevice() override { Close(); }
  TMtpDevice(const TMtpDevice&) = delete;
  TMtpDevice& operator=(const TMtpDevice&) = delete;

  HRESULT Open(const QString& deviceID, const TClientInformation&) override
  {
    FDetail.clear();
    if (!IsMtpDeviceID(deviceID))
      return E_INVALIDARG;
    if (FSession)
      return E_UNEXPECTED;
    std::vector<TRawDevice> devices;
    HRESULT hr = DetectDevices(FOptions, devices);
    if (FAILED(hr))
      return hr;
    const auto it = std::find_if(devices.begin(), devices.end(),
                                 [&](const TRawDevice& d) { return d.ID.compare(deviceID, Qt::CaseInsensitive) == 0; });
    if (it == devices.end())
      return E_DEVICE_NOT_CONNECTED;

    auto session = std::make_shared<TMtpSession>();
    session->Options = FOptions;
    TMtpIdentity identity;
    {
      TMtpLock lock;
      LIBMTP_mtpdevice_t* device = LIBMTP_Open_Raw_Device_Uncached(&it->Raw);
      if (device != nullptr) {
        session->Device = device;
        session->Open = true;
        session->PartialReads = LIBMTP_Check_Capability(device, LIBMTP_DEVICECAP_GetPartialObject) != 0;
        identity = ReadIdentity(device);
      }
    }
    if (!session->Open) {
      // libmtp only prints why; a device held by another program is the
      // usual reason, and the holder can often be named.
      QString holder;
      qint64 pid = 0;
      if (FindHolder(FOptions, it->Raw, holder, pid)) {
        FDetail = SafeFormat(_("The device is in use by %s (process %d). Release it in the file manager "
                               "(eject it there) and try again."),
                             {holder, pid});
        return E_DEVICE_BUSY;
      }
      FDetail = _("The device could not be opened. If another program such as the file manager is using it, "
                  "release the device there (eject it) and try again.");
      return E_FAIL;
    }
    if (identity.FriendlyName.isEmpty())
      identity.FriendlyName = it->FriendlyName;
    if (identity.Manufacturer.isEmpty())
      identity.Manufacturer = it->Manufacturer;
    FSession = std::move(session);
    FContent = std::make_shared<TMtpContent>(FSession, std::move(identity));
    return S_OK;
  }

  HRESULT Content(std::shared_ptr<IPlatformContent>& content) override
  {
    if (!FContent)
      return E_DEVICE_NOT_CONNECTED;
    content = FContent;
    return S_OK;
  }

  HRESULT Close() override
  {
    if (!FSession)
      return S_OK;
    // Pumps waiting for their reader let go of libmtp's lock first.
    {
      std::lock_guard<std::mutex> lock(FSession->PumpsMutex);
      for (const auto& weak : FSession->Pumps)
        if (const auto pump = weak.lock())
          pump->Stop();
      FSession->Pumps.clear();
    }
    {
      TMtpLock lock(FOptions.CloseWait);
      if (!lock.Owns()) {
        // A call is stuck on the device (a copy that was given up on): the
        // device stays with it until the process ends, and is not used again.
        FSession->Open = false;
      } else if (FSession->Open) {
        LIBMTP_Release_Device(FSession->Device);
        FSession->Device = nullptr;
        FSession->Open = false;
      }
    }
    FContent.reset();
    FSession.reset();
    return S_OK;
  }

  QString ErrorDetail() const override { return FDetail; }

private:
  // Call with the lock held.
  static TMtpIdentity ReadIdentity(LIBMTP_mtpdevice_t* device)
  {
    TMtpIdentity identity;
    identity.Manufacturer = TakeString(LIBMTP_Get_Manufacturername(device));
    identity.Model = TakeString(LIBMTP_Get_Modelname(device));
    identity.SerialNumber = TakeString(LIBMTP_Get_Serialnumber(device));
    identity.Firmware = TakeString(LIBMTP_Get_Deviceversion(device));
    identity.FriendlyName = TakeString(LIBMTP_Get_Friendlyname(device));
    if (identity.FriendlyName.isEmpty())
      identity.FriendlyName = identity.Model;
    std::uint8_t maximum = 0;
    std::uint8_t current = 0;
    if (LIBMTP_Get_Batterylevel(device, &maximum, &current) == 0 && maximum > 0)
      identity.PowerLevel = std::min<std::uint32_t>(100, std::uint32_t(current) * 100 / maximum);
    LIBMTP_Clear_Errorstack(device);
    // MTP names no device type: Android's extension means a phone, a device
    // without any vendor extension speaks plain PTP (a camera).
    bool android = false;
    bool extensions = false;
    for (const LIBMTP_device_extension_t* e = device->extensions; e != nullptr; e = e->next) {
      extensions = true;
      if (e->name != nullptr && std::strcmp(e->name, "android.com") == 0)
        android = true;
    }
    identity.Protocol = extensions ? u"MTP"_s : u"PTP"_s;
    identity.DeviceType = android ? 3 : extensions ? 2 : 1;
    return identity;
  }

  TMtpDeviceOptions FOptions;
  std::shared_ptr<TMtpSession> FSession;
  std::shared_ptr<TMtpContent> FContent;
  QString FDetail;
};

class TMtpDeviceManager : public TListedDeviceManager {
public:
  explicit TMtpDeviceManager(const TMtpDeviceOptions& options) : FOptions(options) {}

protected:
  HRESULT ListDeviceIDs(QStringList& ids) override
  {
    const HRESULT hr = DetectDevices(FOptions, FDevices);
    if (FAILED(hr))
      return hr;
    for (const TRawDevice& device : FDevices)
      ids << device.ID;
    return S_OK;
  }

  HRESULT ReadDeviceText(const QString& deviceID, TDeviceText which, QString& text) override
  {
    // Answered from the last listing: detecting again would probe the bus.
    auto it = std::find_if(FDevices.begin(), FDevices.end(),
                           [&](const TRawDevice& d) { return d.ID.compare(deviceID, Qt::CaseInsensitive) == 0; });
    if (it == FDevices.end()) {
      const HRESULT hr = DetectDevices(FOptions, FDevices);
      if (FAILED(hr))
        return hr;
      it = std::find_if(FDevices.begin(), FDevices.end(),
                        [&](const TRawDevice& d) { return d.ID.compare(deviceID, Qt::CaseInsensitive) == 0; });
      if (it == FDevices.end())
        return E_DEVICE_NOT_CONNECTED;
    }
    switch (which) {
    case dtFriendlyName:
      text = it->FriendlyName;
      break;
    case dtManufacturer:
      text = it->Manufacturer;
      break;
    case dtDescription:
      text = it->Description;
      break;
    }
    return S_OK;
  }

private:
  TMtpDeviceOptions FOptions;
  std::vector<TRawDevice> FDevices;
};

class TMtpDevicePlatform : public IDevicePlatform {
public:
  explicit TMtpDevicePlatform(TMtpDeviceOptions options) : FOptions(std::move(options)) {}

  HRESULT CreateDeviceManager(std::unique_ptr<IPlatformDeviceManager>& manager) override
  {
    manager = std::make_unique<TMtpDeviceManager>(FOptions);
    return S_OK;
  }

  HRESULT CreateDevice(std::unique_ptr<IPlatformDevice>& device) override
  {
    device = std::make_unique<TMtpDevice>(FOptions);
    return S_OK;
  }

private:
  TMtpDeviceOptions FOptions;
};

} // namespace

std::shared_ptr<IDevicePlatform> CreateMtpDevicePlatform(TMtpDeviceOptions options)
{
  return std::make_shared<TMtpDevicePlatform>(std::move(options));
}

bool IsMtpDeviceID(const QString& deviceID)
{
  return deviceID.startsWith(kPrefix) && deviceID.size() > kPrefix.size();
}

} // namespace ardanto
