#include "devices/backends/folder/FolderDevicePlatform.h"

#include "common/DescriptorStream.h"
#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "common/Translate.h"
#include "devices/DeviceErrors.h"
#include "devices/DeviceTypes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

const QString kPrefix = u"folder:"_s;
const QString kGvfsMtpPrefix = u"mtp:host="_s;
const QString kDeviceID = u"DEVICE"_s;
constexpr std::uint32_t kStreamBufferSize = 256 * 1024;

// ---------------------------------------------------------------------------
// Identity of a folder device

struct TFolderDeviceInfo {
  QString FriendlyName;
  QString Manufacturer;
  QString Description;
  QString Firmware;
  QString Model;
  QString Protocol;
  QString SerialNumber;
  std::optional<std::uint32_t> DeviceType;
  std::optional<std::uint32_t> PowerSource;
  std::optional<std::uint32_t> PowerLevel;
  bool SubfolderStorages = false;
  QString StorageName; // of the one storage when the folder is the storage
};

bool IsGvfsMount(const QString& root)
{
  return QFileInfo(root).fileName().startsWith(kGvfsMtpPrefix);
}

QString VolumeLabel(const QString& root)
{
  const QStorageInfo storage(root);
  if (storage.isValid() && QDir::cleanPath(storage.rootPath()) == root)
    return storage.name();
  return {};
}

QString DefaultName(const QString& root)
{
  const QString folderName = QFileInfo(root).fileName();
  if (IsGvfsMount(root))
    return QUrl::fromPercentEncoding(folderName.mid(kGvfsMtpPrefix.size()).toUtf8());
  const QString label = VolumeLabel(root);
  if (!label.isEmpty())
    return label;
  return folderName.isEmpty() ? root : folderName;
}

TFolderDeviceInfo LoadDeviceInfo(const QString& root)
{
  TFolderDeviceInfo info;
  const bool gvfs = IsGvfsMount(root);
  info.FriendlyName = DefaultName(root);
  info.StorageName = info.FriendlyName;
  info.Description = gvfs ? _("MTP device (gvfs)") : root;
  if (gvfs)
    info.Protocol = u"MTP"_s;
  info.DeviceType = QFileInfo(root + u"/DCIM"_s).isDir() ? 1u : 0u; // camera, else generic
  info.SubfolderStorages = gvfs;

  const QString iniName = root + u"/device.ini"_s;
  if (!QFileInfo(iniName).isFile())
    return info;
  try {
    const auto ini = TUnicodeIniFile::CreateForRead(iniName);
    const QString section = u"Device"_s;
    auto text = [&](const QString& key, QString& target) {
      if (ini.ValueExists(section, key))
        target = ini.ReadString(section, key, QString());
    };
    auto number = [&](const QString& key, std::optional<std::uint32_t>& target) {
      if (!ini.ValueExists(section, key))
        return;
      bool ok = false;
      const uint value = ini.ReadString(section, key, QString()).trimmed().toUInt(&ok);
      if (ok)
        target = value;
    };
    text(u"FriendlyName"_s, info.FriendlyName);
    text(u"Manufacturer"_s, info.Manufacturer);
    text(u"Description"_s, info.Description);
    text(u"Firmware"_s, info.Firmware);
    text(u"Model"_s, info.Model);
    text(u"Protocol"_s, info.Protocol);
    text(u"SerialNumber"_s, info.SerialNumber);
    number(u"DeviceType"_s, info.DeviceType);
    number(u"PowerSource"_s, info.PowerSource);
    number(u"PowerLevel"_s, info.PowerLevel);
    const QString storages = ini.ReadString(section, u"Storages"_s, QString()).trimmed();
    if (storages.compare(u"subfolders"_s, Qt::CaseInsensitive) == 0)
      info.SubfolderStorages = true;
    else if (storages.compare(u"folder"_s, Qt::CaseInsensitive) == 0)
      info.SubfolderStorages = false;
  } catch (const EArdantoError&) {
    // An unreadable device.ini leaves the folder's own identity.
  }
  return info;
}

QString RootOf(const QString& deviceID)
{
  return deviceID.mid(kPrefix.size());
}

bool IsDirectory(const QString& path)
{
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A volume is removable when udisks mounted it for the user or its block
// device sits on a USB bus.
bool IsRemovableVolume(const QStorageInfo& volume)
{
  const QString root = volume.rootPath();
  if (root.startsWith(u"/media/"_s) || root.startsWith(u"/run/media/"_s))
    return true;
  const QByteArray device = volume.device();
  if (!device.startsWith("/dev/"))
    return false;
  const QByteArray sysPath = "/sys/class/block/" + device.mid(5);
  char* real = ::realpath(sysPath.constData(), nullptr);
  if (real == nullptr)
    return false;
  const bool usb = std::strstr(real, "/usb") != nullptr;
  std::free(real);
  return usb;
}

QStringList SystemRemovableVolumes()
{
  QStringList result;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
    if (volume.isValid() && volume.isReady() && IsRemovableVolume(volume))
      result << volume.rootPath();
  return result;
}

// ---------------------------------------------------------------------------
// The object tree

enum TEntryKind : std::uint8_t { ekDevice, ekStorage, ekFolder, ekFile };

// One object. Kept small: a device may hold hundreds of thousands of files.
struct TEntry {
  std::int64_t Size = 0;
  std::int64_t MTime = 0;       // nanoseconds since 1970
  std::uint32_t NameOffset = 0; // in the name arena; the device and a folder-wide storage have none
  std::uint32_t Parent = 0;
  union {
    std::uint32_t Folder = 0; // all but files: their TFolder
    std::uint32_t Mode;       // files: st_mode
  };
  std::uint16_t NameLength = 0;
  TEntryKind Kind = ekFile;
  // errno of a name that could not be examined. It stays in the tree, so
  // that reading (a file) or listing it (a storage) fails with this.
  std::uint8_t Error = 0;
};

struct TFolder {
  dev_t Device = 0; // with Inode: to notice a folder that contains itself
  ino_t Inode = 0;
  std::uint32_t FirstChild = 0;
  std::uint32_t ChildCount = 0;
  bool Listed = false;
};

class TFolderContent;

class TRangeEnum : public IPlatformObjectEnum {
public:
  TRangeEnum(std::shared_ptr<const TFolderContent> owner, std::uint32_t first, std::uint32_t count)
    : FOwner(std::move(owner)), FNext(first), FEnd(first + count)
  {
  }
  HRESULT Next(std::uint32_t count, QString* ids, std::uint32_t& fetched) override;

private:
  std::shared_ptr<const TFolderContent> FOwner;
  std::uint32_t FNext;
  std::uint32_t FEnd;
};

class TFolderContent : public IPlatformContent, public std::enable_shared_from_this<TFolderContent> {
public:
  TFolderContent(QString root, std::function<int(TFolderCall, const QString&)> failCall)
    : FRoot(std::move(root)), FRootBytes(QFile::encodeName(FRoot)), FFailCall(std::move(failCall))
  {
  }

  // Takes a new snapshot of the device: its identity and its storages.
  HRESULT Reset();

  HRESULT EnumObjects(const QString& parentID, std::unique_ptr<IPlatformObjectEnum>& result) override;
  HRESULT GetProperty(const QString& objectID, TPropertyKey key, TPropVariant& value) override;
  HRESULT CanWriteProperty(const QString& objectID, TPropertyKey key, bool& canWrite) override;
  HRESULT GetStream(const QString& objectID, std::shared_ptr<IReadStream>& stream,
                    std::uint32_t& optimalBufferSize) override;
  HRESULT CheckConnection() override;
  QString LocalPath(const QString& objectID) override;

  QString IDOf(std::uint32_t index) const;

private:
  bool ParseID(const QString& id, std::uint32_t& index) const;
  QByteArray PathOf(std::uint32_t index) const;
  HRESULT List(std::uint32_t index);
  // A folder of the tree opened for reading, or -1 with errno.
  int OpenFolder(std::uint32_t index) const;
  int OpenRoot() const;
  // Opens a listed file for reading: the descriptor, or -1 with errno.
  int OpenFile(std::uint32_t index) const;
  bool IsInside(const QByteArray& realPath) const;
  // Whether what a descriptor leads to lies inside the device folder.
  bool IsInsideFd(int fd) const;
  bool IsRoot(const struct stat& status) const { return status.st_dev == FRootDevice && status.st_ino == FRootInode; }
  // The failure a test wants for this call, or 0.
  int InjectedFailure(TFolderCall call, std::uint32_t index, QByteArrayView childName = {}) const;
  bool IsAncestorFolder(std::uint32_t index, dev_t device, ino_t inode) const;
  QByteArrayView RawName(const TEntry& entry) const
  {
    return QByteArrayView(FNames.data() + entry.NameOffset, entry.NameLength);
  }
  QString NameOf(const TEntry& entry) const { return QFile::decodeName(RawName(entry).toByteArray()); }
  std::uint32_t AddFolder(const struct stat& status);
  TEntry& AddEntry(std::uint32_t parent, TEntryKind kind, const struct stat& status, QByteArrayView name);

  QString FRoot;
  QByteArray FRootBytes;
  std::function<int(TFolderCall, const QString&)> FFailCall;
  QByteArray FRootReal;
  dev_t FRootDevice = 0; // the device folder as it was opened
  ino_t FRootInode = 0;
  TFolderDeviceInfo FInfo;
  std::vector<TEntry> FEntries;
  std::vector<TFolder> FFolders;
  std::vector<char> FNames; // every name, one after the other
};

HRESULT TRangeEnum::Next(std::uint32_t count, QString* ids, std::uint32_t& fetched)
{
  fetched = 0;
  while (fetched < count && FNext < FEnd)
    ids[fetched++] = FOwner->IDOf(FNext++);
  return fetched == count ? S_OK : S_FALSE;
}

QString TFolderContent::IDOf(std::uint32_t index) const
{
  switch (FEntries[index].Kind) {
  case ekDevice:
    return kDeviceID;
  case ekStorage:
    return u's' + QString::number(index);
  default:
    return u'o' + QString::number(index);
  }
}

bool TFolderContent::ParseID(const QString& id, std::uint32_t& index) const
{
  if (id.size() < 2)
    return false;
  const QChar prefix = id[0].toLower();
  if (prefix != u'o' && prefix != u's')
    return false;
  bool ok = false;
  const uint value = QStringView(id).mid(1).toUInt(&ok);
  if (!ok || value == 0 || value >= FEntries.size())
    return false;
  if ((FEntries[value].Kind == ekStorage) != (prefix == u's'))
    return false;
  index = value;
  return true;
}

QByteArray TFolderContent::PathOf(std::uint32_t index) const
{
  std::vector<QByteArrayView> parts;
  for (std::uint32_t i = index; i != 0; i = FEntries[i].Parent)
    if (FEntries[i].NameLength > 0)
      parts.push_back(RawName(FEntries[i]));
  QByteArray path = FRootBytes;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    path += '/';
    path += *it;
  }
  return path;
}

bool TFolderContent::IsInside(const QByteArray& realPath) const
{
  if (FRootReal == "/")
    return realPath.startsWith('/');
  return realPath == FRootReal || (realPath.startsWith(FRootReal) && realPath[FRootReal.size()] == '/');
}

bool TFolderContent::IsAncestorFolder(std::uint32_t index, dev_t device, ino_t inode) const
{
  for (std::uint32_t i = index;; i = FEntries[i].Parent) {
    const TFolder& folder = FFolders[FEntries[i].Folder];
    if (folder.Device == device && folder.Inode == inode)
      return true;
    if (i == 0)
      return false;
  }
}

std::uint32_t TFolderContent::AddFolder(const struct stat& status)
{
  TFolder folder;
  folder.Device = status.st_dev;
  folder.Inode = status.st_ino;
  FFolders.push_back(folder);
  return static_cast<std::uint32_t>(FFolders.size() - 1);
}

TEntry& TFolderContent::AddEntry(std::uint32_t parent, TEntryKind kind, const struct stat& status, QByteArrayView name)
{
  TEntry entry;
  entry.Kind = kind;
  entry.Parent = parent;
  entry.MTime = std::int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
  entry.NameOffset = static_cast<std::uint32_t>(FNames.size());
  entry.NameLength = static_cast<std::uint16_t>(name.size());
  FNames.insert(FNames.end(), name.begin(), name.end());
  if (kind == ekFile) {
    entry.Size = status.st_size;
    entry.Mode = static_cast<std::uint32_t>(status.st_mode);
  } else {
    entry.Folder = AddFolder(status);
  }
  FEntries.push_back(entry);
  return FEntries.back();
}

HRESULT TFolderContent::Reset()
{
  FEntries.clear();
  FFolders.clear();
  FNames.clear();
  FInfo = LoadDeviceInfo(FRoot);

  struct stat st {};
  if (::stat(FRootBytes.constData(), &st) != 0)
    return DeviceResultFromErrno(errno);
  if (!S_ISDIR(st.st_mode))
    return E_DEVICE_NOT_CONNECTED;
  char* real = ::realpath(FRootBytes.constData(), nullptr);
  if (real == nullptr)
    return DeviceResultFromErrno(errno);
  FRootReal = real;
  std::free(real);
  FRootDevice = st.st_dev;
  FRootInode = st.st_ino;

  AddEntry(0, ekDevice, st, {});
  if (FInfo.SubfolderStorages)
    return List(0);
  AddEntry(0, ekStorage, st, {});
  TFolder& device = FFolders[FEntries[0].Folder];
  device.FirstChild = 1;
  device.ChildCount = 1;
  device.Listed = true;
  return S_OK;
}

int TFolderContent::InjectedFailure(TFolderCall call, std::uint32_t index, QByteArrayView childName) const
{
  if (!FFailCall)
    return 0;
  QByteArray relative = PathOf(index).mid(FRootBytes.size());
  if (!childName.isEmpty())
    relative += '/' + childName.toByteArray();
  if (relative.startsWith('/'))
    relative.remove(0, 1);
  return FFailCall(call, QFile::decodeName(relative));
}

int TFolderContent::OpenRoot() const
{
  const int fd = ::open(FRootBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !IsRoot(st)) {
    ::close(fd);
    errno = ENOENT; // another folder in its place: the device is gone
    return -1;
  }
  return fd;
}

int TFolderContent::OpenFolder(std::uint32_t index) const
{
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  const QByteArray path = PathOf(index);
  if (path.size() < PATH_MAX)
    return ::open(path.constData(), kFlags);
  // Too long for one call: one folder at a time from the device folder.
  std::vector<std::uint32_t> chain;
  for (std::uint32_t i = index; i != 0; i = FEntries[i].Parent)
    if (FEntries[i].NameLength > 0)
      chain.push_back(i);
  int fd = OpenRoot();
  for (auto it = chain.rbegin(); it != chain.rend() && fd >= 0; ++it) {
    const QByteArray name = RawName(FEntries[*it]).toByteArray();
    const int next = ::openat(fd, name.constData(), kFlags);
    const int error = errno;
    ::close(fd);
    fd = next;
    errno = error;
  }
  return fd;
}

bool TFolderContent::IsInsideFd(int fd) const
{
  char opened[PATH_MAX + 1];
  const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
  const ssize_t n = ::readlink(self.constData(), opened, PATH_MAX);
  if (n > 0 && n < PATH_MAX)
    return IsInside(QByteArray(opened, n));
  // Too long for the kernel to name: a folder is inside when the device
  // folder is among its parents. A file that deep cannot be checked.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  int current = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  bool inside = false;
  for (int steps = 0; current >= 0 && steps < 1'000'000; ++steps) {
    if (IsRoot(st)) {
      inside = true;
      break;
    }
    const int parent = ::openat(current, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat up {};
    const bool moved = parent >= 0 && ::fstat(parent, &up) == 0 && (up.st_dev != st.st_dev || up.st_ino != st.st_ino);
    ::close(current);
    current = parent;
    if (!moved)
      break; // at "/" without passing the device folder
    st = up;
  }
  if (current >= 0)
    ::close(current);
  return inside;
}

HRESULT TFolderContent::List(std::uint32_t index)
{
  if (FFolders[FEntries[index].Folder].Listed)
    return S_OK;
  if (FEntries[index].Error != 0)
    return DeviceResultFromErrno(FEntries[index].Error);
  const TEntryKind kind = FEntries[index].Kind;
  const bool atRoot = kind == ekDevice || (kind == ekStorage && FEntries[index].NameLength == 0);
  // Below the device itself only folders count: each is a storage.
  const bool storages = kind == ekDevice;

  if (const int injected = InjectedFailure(fcListFolder, index))
    return DeviceResultFromErrno(injected);
  const int dirHandle = OpenFolder(index);
  if (dirHandle < 0)
    return DeviceResultFromErrno(errno);
  DIR* dir = ::fdopendir(dirHandle);
  if (dir == nullptr) {
    const int error = errno;
    ::close(dirHandle);
    return DeviceResultFromErrno(error);
  }

  struct TItem {
    QByteArray Name;
    struct stat Status;
    int Error; // the name could not be examined
  };
  std::vector<TItem> items;
  int readError = 0;
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (d == nullptr) {
      readError = errno;
      break;
    }
    const char* name = d->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
      continue;
    if (atRoot && std::strcmp(name, "device.ini") == 0)
      continue;
    struct stat st {};
    int error = InjectedFailure(fcStat, index, QByteArrayView(name));
    if (error == 0 && ::fstatat(dirHandle, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      error = errno;
    if (error == 0 && S_ISLNK(st.st_mode)) {
      // Followed only while the target stays inside the device folder.
      const int target = ::openat(dirHandle, name, O_PATH | O_CLOEXEC);
      if (target < 0 && (errno == ENOENT || errno == ELOOP))
        continue; // dangling, or a loop of links: nothing to back up
      if (target < 0) {
        error = errno;
      } else {
        const bool inside = IsInsideFd(target) && ::fstat(target, &st) == 0;
        ::close(target);
        if (!inside)
          continue;
      }
    }
    if (error != 0) {
      // Unreadable is not absent: the name stays, and fails when it is used.
      items.push_back(TItem{QByteArray(name), {}, error});
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      // A folder that is its own ancestor (through a link or a bind mount)
      // would repeat the tree without end.
      if (IsAncestorFolder(index, st.st_dev, st.st_ino))
        continue;
    } else if (!S_ISREG(st.st_mode) || storages) {
      continue; // pipes, sockets and devices have no data to back up
    }
    items.push_back(TItem{QByteArray(name), st, 0});
  }
  ::closedir(dir);
  if (readError != 0)
    return DeviceResultFromErrno(readError);

  std::sort(items.begin(), items.end(), [](const TItem& a, const TItem& b) { return a.Name < b.Name; });
  const auto first = static_cast<std::uint32_t>(FEntries.size());
  for (const TItem& item : items) {
    TEntryKind childKind = ekFile;
    if (storages)
      childKind = ekStorage; // a storage that cannot be examined fails when it is listed
    else if (item.Error == 0 && S_ISDIR(item.Status.st_mode))
      childKind = ekFolder;
    TEntry& entry = AddEntry(index, childKind, item.Status, item.Name);
    entry.Error = static_cast<std::uint8_t>(std::clamp(item.Error, 0, 255));
  }
  TFolder& listed = FFolders[FEntries[index].Folder];
  listed.FirstChild = first;
  listed.ChildCount = static_cast<std::uint32_t>(items.size());
  listed.Listed = true;
  return S_OK;
}

HRESULT TFolderContent::EnumObjects(const QString& parentID, std::unique_ptr<IPlatformObjectEnum>& result)
{
  std::uint32_t index = 0;
  if (parentID.compare(kDeviceID, Qt::CaseInsensitive) == 0) {
    // Listing the device starts a new reading of the tree.
    const HRESULT hr = Reset();
    if (FAILED(hr))
      return hr;
  } else if (!ParseID(parentID, index)) {
    return E_ELEMENT_NOT_FOUND;
  } else if (FEntries[index].Kind != ekFile) {
    const HRESULT hr = List(index);
    if (FAILED(hr))
      return hr;
  }
  const TEntry& entry = FEntries[index];
  if (entry.Kind == ekFile)
    return S_OK; // no children, and no enumerator to make for them
  const TFolder& folder = FFolders[entry.Folder];
  result = std::make_unique<TRangeEnum>(shared_from_this(), folder.FirstChild, folder.ChildCount);
  return S_OK;
}

HRESULT TFolderContent::GetProperty(const QString& objectID, TPropertyKey key, TPropVariant& value)
{
  std::uint32_t index = 0;
  if (objectID.compare(kDeviceID, Qt::CaseInsensitive) != 0 && !ParseID(objectID, index))
    return E_ELEMENT_NOT_FOUND;
  if (FEntries.empty())
    return E_DEVICE_NOT_CONNECTED;
  const TEntry& entry = FEntries[index];

  auto text = [&](const QString& s) {
    if (s.isEmpty())
      return E_ELEMENT_NOT_FOUND;
    value = TPropVariant::String(s);
    return S_OK;
  };
  auto number = [&](const std::optional<std::uint32_t>& n) {
    if (!n)
      return E_ELEMENT_NOT_FOUND;
    value = TPropVariant::UInt32(*n);
    return S_OK;
  };
  auto fileKind = [&] {
    const QByteArrayView name = RawName(entry);
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0)
      return TFileKind{};
    return FileKindFromExtension(QFile::decodeName(name.sliced(dot + 1).toByteArray()));
  };

  switch (key) {
  case pkObjectName:
    if (entry.Kind == ekDevice)
      return text(FInfo.FriendlyName);
    if (entry.Kind == ekStorage && entry.NameLength == 0)
      return text(FInfo.StorageName);
    return text(NameOf(entry));
  case pkOriginalFileName:
    if (entry.Kind == ekDevice || entry.Kind == ekStorage)
      return E_ELEMENT_NOT_FOUND;
    return text(NameOf(entry));
  case pkParentID:
    if (entry.Kind == ekDevice)
      value = TPropVariant::String(QString());
    else
      value = TPropVariant::String(IDOf(entry.Parent));
    return S_OK;
  case pkContentType:
    switch (entry.Kind) {
    case ekDevice:
    case ekStorage:
      value = TPropVariant::Guid(ContentTypeGuid(ctFunctionalObject));
      break;
    case ekFolder:
      value = TPropVariant::Guid(ContentTypeGuid(ctFolder));
      break;
    case ekFile:
      value = TPropVariant::Guid(ContentTypeGuid(fileKind().ContentType));
      break;
    }
    return S_OK;
  case pkObjectFormat:
    value = TPropVariant::Guid(ObjectFormatGuid(entry.Kind == ekFile ? fileKind().Format : ofPropsOnly));
    return S_OK;
  case pkDateModified:
    if (entry.Kind == ekDevice || entry.Error != 0)
      return E_ELEMENT_NOT_FOUND;
    value = TPropVariant::Date(UnixTimeToLocalDateTime(entry.MTime / 1'000'000'000, entry.MTime % 1'000'000'000));
    return S_OK;
  case pkDateCreated:
    return E_ELEMENT_NOT_FOUND; // not kept by every file system; never copied
  case pkSize:
    if (entry.Kind != ekFile || entry.Error != 0)
      return E_ELEMENT_NOT_FOUND;
    value = TPropVariant::UInt64(static_cast<std::uint64_t>(entry.Size));
    return S_OK;
  case pkPosixMode:
    if (entry.Kind != ekFile || entry.Error != 0)
      return E_ELEMENT_NOT_FOUND;
    value = TPropVariant::UInt32(entry.Mode);
    return S_OK;
  default:
    break;
  }

  if (entry.Kind != ekDevice)
    return E_ELEMENT_NOT_FOUND;
  switch (key) {
  case pkFirmwareVersion:
    return text(FInfo.Firmware);
  case pkModel:
    return text(FInfo.Model);
  case pkProtocol:
    return text(FInfo.Protocol);
  case pkSerialNumber:
    return text(FInfo.SerialNumber);
  case pkPowerLevel:
    return number(FInfo.PowerLevel);
  case pkPowerSource:
    return number(FInfo.PowerSource);
  case pkDeviceType:
    return number(FInfo.DeviceType);
  default:
    return E_ELEMENT_NOT_FOUND;
  }
}

HRESULT TFolderContent::CanWriteProperty(const QString& objectID, TPropertyKey key, bool& canWrite)
{
  canWrite = false;
  std::uint32_t index = 0;
  if (objectID.compare(kDeviceID, Qt::CaseInsensitive) != 0 && !ParseID(objectID, index))
    return E_ELEMENT_NOT_FOUND;
  if (FEntries.empty())
    return E_DEVICE_NOT_CONNECTED;
  // Only the modification time of files and folders could be set.
  if (key == pkDateModified && FEntries[index].Kind != ekDevice)
    canWrite = ::access(PathOf(index).constData(), W_OK) == 0;
  return S_OK;
}

int TFolderContent::OpenFile(std::uint32_t index) const
{
  // Non-blocking, so that a file swapped for a pipe since the listing cannot hang us.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const QByteArray path = PathOf(index);
  int fd = -1;
  bool inside = false;
  if (path.size() < PATH_MAX) {
    fd = ::open(path.constData(), kFlags);
    inside = fd >= 0 && IsInsideFd(fd);
  } else {
    // Too long for one call: through its folder, which is checked instead
    // of the file when the name is no link.
    const int folder = OpenFolder(FEntries[index].Parent);
    if (folder < 0)
      return -1;
    const QByteArray name = RawName(FEntries[index]).toByteArray();
    fd = ::openat(folder, name.constData(), kFlags | O_NOFOLLOW);
    if (fd >= 0) {
      inside = IsInsideFd(folder);
    } else if (errno == ELOOP) {
      fd = ::openat(folder, name.constData(), kFlags);
      inside = fd >= 0 && IsInsideFd(fd);
    }
    const int error = errno;
    ::close(folder);
    errno = error;
  }
  if (fd < 0)
    return -1;
  // The file actually opened must lie inside the device folder, also when a
  // link was changed since the listing, and hold data.
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const int flags = ::fcntl(fd, F_GETFL);
  if (!inside || !regular || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = !inside || !regular ? EACCES : errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

HRESULT TFolderContent::GetStream(const QString& objectID, std::shared_ptr<IReadStream>& stream,
                                  std::uint32_t& optimalBufferSize)
{
  std::uint32_t index = 0;
  if (!ParseID(objectID, index))
    return objectID.compare(kDeviceID, Qt::CaseInsensitive) == 0 ? E_INVALIDARG : E_ELEMENT_NOT_FOUND;
  const TEntry& entry = FEntries[index];
  if (entry.Kind != ekFile)
    return HResultFromErrno(EISDIR);
  if (entry.Error != 0)
    return DeviceResultFromErrno(entry.Error);
  if (const int injected = InjectedFailure(fcOpenFile, index))
    return DeviceResultFromErrno(injected);
  const int fd = OpenFile(index);
  if (fd < 0)
    return DeviceResultFromErrno(errno);
  // Device read errors keep their own codes; the copy engine may copy from
  // the descriptor inside the kernel.
  stream = std::make_shared<TDescriptorReadStream>(fd, DeviceResultFromErrno);
  optimalBufferSize = kStreamBufferSize;
  return S_OK;
}

HRESULT TFolderContent::CheckConnection()
{
  if (FEntries.empty())
    return E_DEVICE_NOT_CONNECTED;
  // Gone, or another folder in its place (a card taken out leaves its
  // mount point behind).
  struct stat st {};
  if (::stat(FRootBytes.constData(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? E_DEVICE_NOT_CONNECTED : DeviceResultFromErrno(errno);
  return S_ISDIR(st.st_mode) && IsRoot(st) ? S_OK : E_DEVICE_NOT_CONNECTED;
}

QString TFolderContent::LocalPath(const QString& objectID)
{
  std::uint32_t index = 0;
  if (objectID.compare(kDeviceID, Qt::CaseInsensitive) == 0)
    return FRoot;
  if (!ParseID(objectID, index))
    return {};
  return QFile::decodeName(PathOf(index));
}

// ---------------------------------------------------------------------------
// Device and manager

class TFolderDevice : public IPlatformDevice {
public:
  explicit TFolderDevice(std::shared_ptr<const TFolderDeviceOptions> options) : FOptions(std::move(options)) {}

  HRESULT Open(const QString& deviceID, const TClientInformation&) override
  {
    if (!IsFolderDeviceID(deviceID))
      return E_INVALIDARG;
    if (FContent)
      return E_UNEXPECTED;
    auto content = std::make_shared<TFolderContent>(RootOf(deviceID), FOptions->FailCall);
    const HRESULT hr = content->Reset();
    if (FAILED(hr))
      return hr == HResultFromErrno(ENOENT) ? E_DEVICE_NOT_CONNECTED : hr;
    FContent = std::move(content);
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
    FContent.reset();
    return S_OK;
  }

private:
  std::shared_ptr<const TFolderDeviceOptions> FOptions;
  std::shared_ptr<TFolderContent> FContent;
};

class TFolderDeviceManager : public TListedDeviceManager {
public:
  explicit TFolderDeviceManager(std::shared_ptr<const TFolderDeviceOptions> options) : FOptions(std::move(options)) {}

protected:
  HRESULT ListDeviceIDs(QStringList& ids) override
  {
    QStringList folders;
    if (FOptions->UseEnvironment)
      folders << qEnvironmentVariable("PORTKEEP_FOLDER_DEVICES").split(u':', Qt::SkipEmptyParts);
    folders << FOptions->Folders;

    const QString gvfsRoot =
        FOptions->GvfsRoot.isEmpty() ? u"/run/user/"_s + QString::number(::getuid()) + u"/gvfs"_s : FOptions->GvfsRoot;
    const QDir gvfs(gvfsRoot);
    if (gvfs.exists())
      for (const QString& name : gvfs.entryList({kGvfsMtpPrefix + u'*'}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        folders << gvfs.filePath(name);

    const QStringList volumes = FOptions->RemovableVolumes ? FOptions->RemovableVolumes() : SystemRemovableVolumes();
    for (const QString& volume : volumes)
      if (IsDirectory(volume + u"/DCIM"_s))
        folders << volume;

    QStringList seen;
    for (const QString& folder : folders) {
      const QFileInfo info(folder);
      if (!info.isDir())
        continue;
      const QString canonical = info.canonicalFilePath();
      if (canonical.isEmpty() || seen.contains(canonical))
        continue;
      seen << canonical;
      ids << FolderDeviceID(canonical);
    }
    return S_OK;
  }

  HRESULT ReadDeviceText(const QString& deviceID, TDeviceText which, QString& text) override
  {
    if (!IsFolderDeviceID(deviceID))
      return E_INVALIDARG;
    const QString root = RootOf(deviceID);
    if (!IsDirectory(root))
      return E_DEVICE_NOT_CONNECTED;
    const TFolderDeviceInfo info = LoadDeviceInfo(root);
    switch (which) {
    case dtFriendlyName:
      text = info.FriendlyName;
      break;
    case dtManufacturer:
      text = info.Manufacturer;
      break;
    case dtDescription:
      text = info.Description;
      break;
    }
    return S_OK;
  }

private:
  std::shared_ptr<const TFolderDeviceOptions> FOptions;
};

class TFolderDevicePlatform : public IDevicePlatform {
public:
  explicit TFolderDevicePlatform(TFolderDeviceOptions options)
    : FOptions(std::make_shared<const TFolderDeviceOptions>(std::move(options)))
  {
  }

  HRESULT CreateDeviceManager(std::unique_ptr<IPlatformDeviceManager>& manager) override
  {
    manager = std::make_unique<TFolderDeviceManager>(FOptions);
    return S_OK;
  }

  HRESULT CreateDevice(std::unique_ptr<IPlatformDevice>& device) override
  {
    device = std::make_unique<TFolderDevice>(FOptions);
    return S_OK;
  }

private:
  std::shared_ptr<const TFolderDeviceOptions> FOptions;
};

} // namespace

std::shared_ptr<IDevicePlatform> CreateFolderDevicePlatform(TFolderDeviceOptions options)
{
  return std::make_shared<TFolderDevicePlatform>(std::move(options));
}

QString FolderDeviceID(const QString& folder)
{
  return kPrefix + QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

bool IsFolderDeviceID(const QString& deviceID)
{
  return deviceID.startsWith(kPrefix) && deviceID.size() > kPrefix.size();
}

} // namespace ardanto
