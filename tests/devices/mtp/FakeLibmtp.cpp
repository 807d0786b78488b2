#include "FakeLibmtp.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace fakemtp {

std::vector<Device>& Devices()
{
  static std::vector<Device> devices;
  return devices;
}

Counters& Stats()
{
  static Counters counters;
  return counters;
}

// Devices opened and not yet released.
std::vector<LIBMTP_mtpdevice_t*>& OpenDevices()
{
  static std::vector<LIBMTP_mtpdevice_t*> open;
  return open;
}

void Reset()
{
  while (!OpenDevices().empty())
    LIBMTP_Release_Device(OpenDevices().back());
  Devices().clear();
  Counters& c = Stats();
  c.Overlaps = 0;
  c.Detects = 0;
  c.Opens = 0;
  c.Releases = 0;
  c.Listings = 0;
  c.Metadata = 0;
  c.PartialReads = 0;
  c.Handlers = 0;
}

unsigned char DataByte(const Object& object, std::uint64_t offset)
{
  if (!object.Data.empty())
    return static_cast<unsigned char>(object.Data[offset]);
  return static_cast<unsigned char>((offset * 7 + object.Id) & 0xFF);
}

} // namespace fakemtp

using namespace fakemtp;

namespace {

// Notes every call; two at once mean the caller forgot its lock.
struct CallGuard {
  CallGuard()
  {
    if (Stats().InFlight.fetch_add(1) > 0)
      ++Stats().Overlaps;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  ~CallGuard() { --Stats().InFlight; }
};

Device* DeviceOf(LIBMTP_mtpdevice_t* device)
{
  const auto index = reinterpret_cast<std::intptr_t>(device->params) - 1;
  return &Devices().at(static_cast<std::size_t>(index));
}

void PushError(LIBMTP_mtpdevice_t* device, LIBMTP_error_number_t number, const char* text)
{
  auto* error = static_cast<LIBMTP_error_t*>(std::calloc(1, sizeof(LIBMTP_error_t)));
  error->errornumber = number;
  error->error_text = strdup(text);
  error->next = nullptr;
  LIBMTP_error_t** tail = &device->errorstack;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = error;
}

void FreeErrors(LIBMTP_mtpdevice_t* device)
{
  LIBMTP_error_t* error = device->errorstack;
  while (error != nullptr) {
    LIBMTP_error_t* next = error->next;
    std::free(error->error_text);
    std::free(error);
    error = next;
  }
  device->errorstack = nullptr;
}

void FreeStorages(LIBMTP_mtpdevice_t* device)
{
  LIBMTP_devicestorage_t* storage = device->storage;
  while (storage != nullptr) {
    LIBMTP_devicestorage_t* next = storage->next;
    std::free(storage->StorageDescription);
    std::free(storage->VolumeIdentifier);
    std::free(storage);
    storage = next;
  }
  device->storage = nullptr;
}

const Object* FindObject(Device& device, std::uint32_t id)
{
  for (const Object& object : device.Objects)
    if (object.Id == id)
      return &object;
  return nullptr;
}

LIBMTP_file_t* MakeFile(const Device& device, const Object& object)
{
  auto* file = static_cast<LIBMTP_file_t*>(std::calloc(1, sizeof(LIBMTP_file_t)));
  file->item_id = object.Id;
  if (object.Parent != 0)
    file->parent_id = object.Parent;
  else
    file->parent_id = device.Top == tpZero ? 0 : device.Top == tpAllOnes ? 0xFFFFFFFFu : object.Storage;
  file->storage_id = object.Storage;
  file->filename = strdup(object.Name.c_str());
  file->filesize = object.Size;
  file->modificationdate = object.Modified;
  file->filetype = object.Type;
  return file;
}

char* Dup(const std::string& text)
{
  return text.empty() ? nullptr : strdup(text.c_str());
}

} // namespace

void LIBMTP_Init(void)
{
}

LIBMTP_error_number_t LIBMTP_Detect_Raw_Devices(LIBMTP_raw_device_t** devices, int* count)
{
  CallGuard guard;
  ++Stats().Detects;
  *devices = nullptr;
  *count = 0;
  if (Devices().empty())
    return LIBMTP_ERROR_NO_DEVICE_ATTACHED;
  auto* list = static_cast<LIBMTP_raw_device_t*>(std::calloc(Devices().size(), sizeof(LIBMTP_raw_device_t)));
  for (std::size_t i = 0; i < Devices().size(); ++i) {
    Device& d = Devices()[i];
    list[i].device_entry.vendor = d.Vendor.data();
    list[i].device_entry.vendor_id = d.VendorId;
    list[i].device_entry.product = d.Product.data();
    list[i].device_entry.product_id = d.ProductId;
    list[i].bus_location = d.Bus;
    list[i].devnum = d.DevNum;
  }
  *devices = list;
  *count = static_cast<int>(Devices().size());
  return LIBMTP_ERROR_NONE;
}

LIBMTP_mtpdevice_t* LIBMTP_Open_Raw_Device_Uncached(LIBMTP_raw_device_t* raw)
{
  CallGuard guard;
  for (std::size_t i = 0; i < Devices().size(); ++i) {
    Device& d = Devices()[i];
    if (d.Bus != raw->bus_location || d.DevNum != raw->devnum)
      continue;
    if (d.Busy)
      return nullptr; // libmtp prints "device busy" and gives up
    ++Stats().Opens;
    auto* device = static_cast<LIBMTP_mtpdevice_t*>(std::calloc(1, sizeof(LIBMTP_mtpdevice_t)));
    device->params = reinterpret_cast<void*>(static_cast<std::intptr_t>(i + 1));
    device->object_bitsize = 32;
    LIBMTP_device_extension_t** tail = &device->extensions;
    for (const std::string& name : d.Extensions) {
      auto* extension = static_cast<LIBMTP_device_extension_t*>(std::calloc(1, sizeof(LIBMTP_device_extension_t)));
      extension->name = strdup(name.c_str());
      extension->major = 1;
      *tail = extension;
      tail = &extension->next;
    }
    OpenDevices().push_back(device);
    return device;
  }
  return nullptr;
}

void LIBMTP_Release_Device(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  ++Stats().Releases;
  std::erase(OpenDevices(), device);
  FreeErrors(device);
  FreeStorages(device);
  LIBMTP_device_extension_t* extension = device->extensions;
  while (extension != nullptr) {
    LIBMTP_device_extension_t* next = extension->next;
    std::free(extension->name);
    std::free(extension);
    extension = next;
  }
  std::free(device);
}

char* LIBMTP_Get_Manufacturername(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  return Dup(DeviceOf(device)->Manufacturer);
}

char* LIBMTP_Get_Modelname(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  return Dup(DeviceOf(device)->Model);
}

char* LIBMTP_Get_Serialnumber(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  return Dup(DeviceOf(device)->Serial);
}

char* LIBMTP_Get_Deviceversion(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  return Dup(DeviceOf(device)->Version);
}

char* LIBMTP_Get_Friendlyname(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  return Dup(DeviceOf(device)->Friendly);
}

int LIBMTP_Get_Batterylevel(LIBMTP_mtpdevice_t* device, uint8_t* const maximum, uint8_t* const current)
{
  CallGuard guard;
  const Device* d = DeviceOf(device);
  if (d->Battery < 0) {
    PushError(device, LIBMTP_ERROR_GENERAL, "battery level not supported");
    return -1;
  }
  *maximum = 100;
  *current = static_cast<uint8_t>(d->Battery);
  return 0;
}

int LIBMTP_Check_Capability(LIBMTP_mtpdevice_t* device, LIBMTP_devicecap_t capability)
{
  CallGuard guard;
  return capability == LIBMTP_DEVICECAP_GetPartialObject && DeviceOf(device)->PartialReads ? 1 : 0;
}

LIBMTP_error_t* LIBMTP_Get_Errorstack(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  return device->errorstack;
}

void LIBMTP_Clear_Errorstack(LIBMTP_mtpdevice_t* device)
{
  CallGuard guard;
  FreeErrors(device);
}

int LIBMTP_Get_Storage(LIBMTP_mtpdevice_t* device, int const)
{
  CallGuard guard;
  FreeStorages(device);
  const Device* d = DeviceOf(device);
  if (d->Storages.empty() || d->Gone)
    return -1; // as libmtp: no storage, or no answer, is a failure without an error
  LIBMTP_devicestorage_t** tail = &device->storage;
  LIBMTP_devicestorage_t* previous = nullptr;
  for (const Storage& s : d->Storages) {
    auto* storage = static_cast<LIBMTP_devicestorage_t*>(std::calloc(1, sizeof(LIBMTP_devicestorage_t)));
    storage->id = s.Id;
    storage->StorageDescription = Dup(s.Description);
    storage->VolumeIdentifier = Dup(s.Volume);
    storage->prev = previous;
    *tail = storage;
    tail = &storage->next;
    previous = storage;
  }
  return 0;
}

void LIBMTP_destroy_file_t(LIBMTP_file_t* file)
{
  CallGuard guard;
  if (file == nullptr)
    return;
  std::free(file->filename);
  std::free(file);
}

LIBMTP_file_t* LIBMTP_Get_Files_And_Folders(LIBMTP_mtpdevice_t* device, uint32_t const storage, uint32_t const parent)
{
  CallGuard guard;
  ++Stats().Listings;
  Device& d = *DeviceOf(device);
  if (d.FailListing.count(parent) != 0) {
    PushError(device, LIBMTP_ERROR_PTP_LAYER, "listing failed");
    return nullptr;
  }
  LIBMTP_file_t* head = nullptr;
  LIBMTP_file_t** tail = &head;
  auto append = [&](const Object& object) {
    *tail = MakeFile(d, object);
    tail = &(*tail)->next;
  };
  for (const Object& object : d.Objects) {
    if (object.Storage != storage)
      continue;
    if ((parent == 0xFFFFFFFFu && object.Parent == 0) || (parent != 0xFFFFFFFFu && object.Parent == parent))
      append(object);
  }
  for (const auto& [listedParent, child] : d.ExtraChildren)
    if (listedParent == parent)
      if (const Object* object = FindObject(d, child))
        append(*object);
  return head;
}

LIBMTP_file_t* LIBMTP_Get_Filemetadata(LIBMTP_mtpdevice_t* device, uint32_t const id)
{
  CallGuard guard;
  ++Stats().Metadata;
  Device& d = *DeviceOf(device);
  const Object* object = FindObject(d, id);
  if (object == nullptr) {
    PushError(device, LIBMTP_ERROR_GENERAL, "no such object");
    return nullptr;
  }
  return MakeFile(d, *object);
}

int LIBMTP_GetPartialObject(LIBMTP_mtpdevice_t* device, uint32_t const id, uint64_t offset, uint32_t maxbytes,
                            unsigned char** data, unsigned int* size)
{
  CallGuard guard;
  ++Stats().PartialReads;
  *data = nullptr;
  *size = 0;
  Device& d = *DeviceOf(device);
  if (d.DuringRead)
    d.DuringRead();
  if (d.Gone) {
    PushError(device, LIBMTP_ERROR_USB_LAYER, "no device");
    return -1;
  }
  const Object* object = FindObject(d, id);
  if (!d.PartialReads || object == nullptr || (offset > 0xFFFFFFFFu && !d.Offsets64)) {
    PushError(device, LIBMTP_ERROR_GENERAL, "partial read refused");
    return -1;
  }
  if (offset >= object->Size)
    return 0;
  std::uint64_t n = std::min<std::uint64_t>(maxbytes, object->Size - offset);
  if (d.FailAtOffset >= 0 && offset + n > static_cast<std::uint64_t>(d.FailAtOffset)) {
    PushError(device, LIBMTP_ERROR_USB_LAYER, "transfer failed");
    return -1;
  }
  if (d.ShortLastChunk && offset + n == object->Size && n > 1)
    --n;
  *data = static_cast<unsigned char*>(std::malloc(n));
  for (std::uint64_t i = 0; i < n; ++i)
    (*data)[i] = DataByte(*object, offset + i);
  *size = static_cast<unsigned int>(n);
  return 0;
}

int LIBMTP_Get_File_To_Handler(LIBMTP_mtpdevice_t* device, uint32_t const id, MTPDataPutFunc put, void* priv,
                               LIBMTP_progressfunc_t const, void const* const)
{
  CallGuard guard;
  ++Stats().Handlers;
  Device& d = *DeviceOf(device);
  const Object* object = FindObject(d, id);
  if (object == nullptr) {
    PushError(device, LIBMTP_ERROR_GENERAL, "no such object");
    return -1;
  }
  std::vector<unsigned char> buffer;
  for (std::uint64_t offset = 0; offset < object->Size;) {
    const std::uint64_t n = std::min<std::uint64_t>(4096, object->Size - offset);
    if (d.FailAtOffset >= 0 && offset + n > static_cast<std::uint64_t>(d.FailAtOffset)) {
      PushError(device, LIBMTP_ERROR_USB_LAYER, "transfer failed");
      return -1;
    }
    buffer.resize(n);
    for (std::uint64_t i = 0; i < n; ++i)
      buffer[i] = DataByte(*object, offset + i);
    uint32_t taken = 0;
    const uint16_t result = put(nullptr, priv, static_cast<uint32_t>(n), buffer.data(), &taken);
    if (result == LIBMTP_HANDLER_RETURN_CANCEL) {
      PushError(device, LIBMTP_ERROR_CANCELLED, "cancelled");
      return -1;
    }
    if (result != LIBMTP_HANDLER_RETURN_OK || taken != n) {
      PushError(device, LIBMTP_ERROR_GENERAL, "handler failed");
      return -1;
    }
    offset += n;
  }
  return 0;
}
