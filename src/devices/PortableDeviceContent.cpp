#include "devices/PortableDeviceUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

const QString kDeviceObjectID = u"DEVICE"_s;

std::size_t IDHash(const QString& id)
{
  return qHash(id.toCaseFolded());
}

// Whether a name has an extension of its own: a "." after the last folder
// or drive delimiter ("name." and ".profile" count).
bool HasExtension(const QString& name)
{
  for (qsizetype i = name.size() - 1; i >= 0; --i) {
    const QChar c = name[i];
    if (c == u'.')
      return true;
    if (c == u'\\' || c == u'/' || c == u':')
      return false;
  }
  return false;
}

// Takes the first component off a device path: empty (and the path left
// alone) for an empty path, a path beginning with "\" or one with a ":".
QString TakeComponent(QString& path)
{
  if (path.isEmpty() || path.startsWith(u'\\') || path.contains(u':'))
    return {};
  const qsizetype k = path.indexOf(u'\\');
  QString component;
  if (k < 0) {
    component = path;
    path.clear();
  } else {
    component = path.left(k);
    path.remove(0, k + 1);
  }
  return component;
}

bool WriteAll(int fd, const char* data, std::size_t count, int& error)
{
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      error = errno;
      return false;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

} // namespace

// ---------------------------------------------------------------------------
// TPortableDeviceContent

TPortableDeviceContent::TPortableDeviceContent(TPortableDevice* ADevice) : FDevice(ADevice)
{
  std::shared_ptr<IPlatformContent> content;
  HRESULT hr = ADevice->pDevice->Content(content);
  if (SUCCEEDED(hr) && !content)
    hr = E_POINTER;
  OleCheck(hr, u"TPortableDeviceContent.Create:IPortableDevice.Content"_s);
  pContent = std::move(content);
}

TPortableDeviceContent::~TPortableDeviceContent() = default;

TPortableDeviceObject& TPortableDeviceContent::At(int index) const
{
  // The blocks hold the objects the content owns; callers get them to change.
  auto& block = const_cast<std::vector<TPortableDeviceObject>&>(FBlocks[static_cast<std::size_t>(index / kBlockSize)]);
  return block[static_cast<std::size_t>(index % kBlockSize)];
}

void TPortableDeviceContent::Clear()
{
  FBlocks.clear();
  FCount = 0;
  FOtherContentTypes.clear();
  FOtherFormats.clear();
  FIDIndex.clear();
  FIDIndexValid = false;
}

int TPortableDeviceContent::AddObject(const QString& id, int parentIndex, bool& listed,
                                      std::unique_ptr<IPlatformObjectEnum>& children)
{
  const int level = parentIndex < 0 ? 0 : At(parentIndex).FLevel + 1;
  const int index = FCount;
  if (FBlocks.empty() || FBlocks.back().size() == static_cast<std::size_t>(kBlockSize)) {
    FBlocks.emplace_back();
    FBlocks.back().reserve(kBlockSize);
  }
  FBlocks.back().emplace_back(this, id, parentIndex, level).FIndex = index;
  ++FCount;
  if (FFindCallback)
    FFindCallback(index, id);
  if (parentIndex >= 0)
    At(parentIndex).AddChild(index);

  children.reset();
  const HRESULT hr = pContent->EnumObjects(id, children);
  if (FAILED(hr)) {
    FErrorObjects.AddError(id, static_cast<std::uint32_t>(hr));
    FListErrors[index] = hr;
    children.reset();
    listed = false;
    return index;
  }
  listed = true;
  // Only a plain success lists the children.
  if (hr != S_OK)
    children.reset();
  return index;
}

bool TPortableDeviceContent::Refresh(TFindObjects ACallBack)
{
  Clear();
  FErrorObjects.Clear();
  FListErrors.clear();
  FFindCallback = std::move(ACallBack);
  struct TClearCallback {
    TFindObjects& Callback;
    ~TClearCallback() { Callback = nullptr; }
  } clearCallback{FFindCallback};

  // Depth first, in the order the device lists the children. An explicit
  // stack instead of recursion: a device's tree may be deeper than the
  // thread's stack allows.
  constexpr std::uint32_t kBatch = 10;
  struct TFrame {
    int Index;
    std::unique_ptr<IPlatformObjectEnum> Children;
    std::array<QString, kBatch> IDs;
    std::uint32_t Fetched = 0;
    std::uint32_t Pos = 0;
    bool More = true;
    bool Result = true;
  };
  std::vector<TFrame> stack;

  bool result = true;
  auto add = [&](const QString& id, int parentIndex) {
    bool listed = false;
    std::unique_ptr<IPlatformObjectEnum> children;
    const int index = AddObject(id, parentIndex, listed, children);
    if (children)
      stack.push_back(TFrame{index, std::move(children), {}, 0, 0, true, true});
    return listed;
  };

  result = add(kDeviceObjectID, -1);
  while (!stack.empty()) {
    const std::size_t top = stack.size() - 1;
    TFrame& frame = stack[top];
    if (frame.Pos < frame.Fetched) {
      const QString id = std::move(frame.IDs[frame.Pos++]);
      if (id.isEmpty())
        continue;
      const int parentIndex = frame.Index;
      if (!add(id, parentIndex)) // may grow the stack: frame is not used after this
        stack[top].Result = false;
      continue;
    }
    if (frame.More) {
      for (QString& id : frame.IDs)
        id.clear();
      std::uint32_t fetched = 0;
      const HRESULT hr = frame.Children->Next(kBatch, frame.IDs.data(), fetched);
      frame.Pos = 0;
      frame.Fetched = SUCCEEDED(hr) ? std::min(fetched, kBatch) : 0;
      // A failing Next quietly ends this object's listing.
      frame.More = hr == S_OK;
      continue;
    }
    const bool frameResult = frame.Result;
    stack.pop_back();
    if (stack.empty())
      result = result && frameResult;
    else
      stack.back().Result = stack.back().Result && frameResult;
  }
  return result;
}

TPortableDeviceObject* TPortableDeviceContent::GetObject(int Index) const
{
  if (Index < 0 || Index >= ObjectCount())
    return nullptr;
  return &At(Index);
}

void TPortableDeviceContent::BuildIDIndex() const
{
  FIDIndex.clear();
  FIDIndex.reserve(static_cast<std::size_t>(FCount));
  for (int i = 0; i < FCount; ++i)
    FIDIndex.emplace(IDHash(At(i).FObjectID), i);
  FIDIndexValid = true;
}

TPortableDeviceObject* TPortableDeviceContent::GetObjectByID(const QString& AObjectID) const
{
  if (!FIDIndexValid)
    BuildIDIndex();
  // The first entry in list order, as a scan from the front would find it.
  int best = -1;
  const auto range = FIDIndex.equal_range(IDHash(AObjectID));
  for (auto it = range.first; it != range.second; ++it)
    if ((best < 0 || it->second < best) && At(it->second).FObjectID.compare(AObjectID, Qt::CaseInsensitive) == 0)
      best = it->second;
  return GetObject(best);
}

TPortableDeviceObject* TPortableDeviceContent::FindNextObject(TObjectType AObjectType, int& AIndex) const
{
  for (int i = std::max(AIndex, 0); i < ObjectCount(); ++i) {
    TPortableDeviceObject* object = &At(i);
    if (object->ObjectType() == AObjectType) {
      AIndex = i;
      return object;
    }
  }
  AIndex = ObjectCount();
  return nullptr;
}

TPortableDeviceObject* TPortableDeviceContent::DeviceObject() const
{
  int index = 0;
  return FindNextObject(otDevice, index);
}

int TPortableDeviceContent::RootCount() const
{
  int count = 0;
  for (int i = 0; i < FCount; ++i)
    count += At(i).ObjectType() == otRoot;
  return count;
}

int TPortableDeviceContent::FolderCount() const
{
  int count = 0;
  for (int i = 0; i < FCount; ++i)
    count += At(i).ObjectType() == otFolder;
  return count;
}

TPortableDeviceObject* TPortableDeviceContent::GetRootObject(int Index) const
{
  if (Index < 0)
    return nullptr;
  int seen = 0;
  for (int i = 0; i < FCount; ++i)
    if (At(i).ObjectType() == otRoot && seen++ == Index)
      return &At(i);
  return nullptr;
}

TPortableDeviceObject* TPortableDeviceContent::GetObjectByPath(const QString& APath) const
{
  QString path = APath;
  const QString first = TakeComponent(path);
  TPortableDeviceObject* object = nullptr;
  for (int i = 0; i < FCount && object == nullptr; ++i)
    if (At(i).ObjectType() == otRoot && At(i).DisplayName().compare(first, Qt::CaseInsensitive) == 0)
      object = &At(i);
  while (!path.isEmpty() && object != nullptr)
    object = object->GetChildByName(TakeComponent(path));
  return object;
}

int TPortableDeviceContent::GetObjectIndexByPath(const QString& APath) const
{
  const TPortableDeviceObject* object = GetObjectByPath(APath);
  return object != nullptr ? object->Index() : -1;
}

bool TPortableDeviceContent::DeviceConnected() const
{
  return SUCCEEDED(pContent->CheckConnection());
}

// ---------------------------------------------------------------------------
// TPortableDeviceObject

TPortableDeviceObject::TPortableDeviceObject(TPortableDeviceContent* AContent, QString AObjectID, int AParentIndex,
                                             int ALevel)
  : FObjectID(std::move(AObjectID)), FContent(AContent), FParentIndex(AParentIndex), FLevel(ALevel)
{
}

void TPortableDeviceObject::AddChild(int AIndex)
{
  if (!FChildObjects)
    FChildObjects = std::make_unique<std::vector<std::int32_t>>();
  FChildObjects->push_back(AIndex);
}

TPortableDeviceObject* TPortableDeviceObject::GetChild(int Index) const
{
  if (Index < 0 || Index >= ChildListSize())
    return nullptr;
  return FContent->GetObject((*FChildObjects)[static_cast<std::size_t>(Index)]);
}

TPortableDeviceObject* TPortableDeviceObject::GetChildByName(const QString& AName) const
{
  if (!FChildObjects)
    return nullptr;
  for (const std::int32_t index : *FChildObjects) {
    TPortableDeviceObject* child = FContent->GetObject(index);
    if (child != nullptr && child->ObjectName().compare(AName, Qt::CaseInsensitive) == 0)
      return child;
  }
  return nullptr;
}

TPortableDeviceObject* TPortableDeviceObject::GetChildByOriginalName(const QString& AName) const
{
  if (!FChildObjects)
    return nullptr;
  for (const std::int32_t index : *FChildObjects) {
    TPortableDeviceObject* child = FContent->GetObject(index);
    if (child != nullptr && child->OriginalName().compare(AName, Qt::CaseInsensitive) == 0)
      return child;
  }
  return nullptr;
}

int TPortableDeviceObject::ChildCount() const
{
  if (FChildCount < 0)
    FChildCount = ChildListSize();
  return FChildCount;
}

HRESULT TPortableDeviceObject::GetProperty(TPropertyKey PropertyKey, TPropVariant& pv) const
{
  pv.Clear();
  return FContent->pContent->GetProperty(FObjectID, PropertyKey, pv);
}

QString TPortableDeviceObject::ReadText(TPropertyKey key, QString& cache) const
{
  // An empty cache means "not read": an empty name is asked again.
  if (!cache.isEmpty())
    return cache;
  TPropVariant value;
  if (SUCCEEDED(GetProperty(key, value)) && value.vt == vtString) {
    cache = std::move(value.StrVal);
    return cache;
  }
  return {};
}

QString TPortableDeviceObject::ParentID() const
{
  return ReadText(pkParentID, FParentID);
}

QString TPortableDeviceObject::ObjectName() const
{
  return ReadText(pkObjectName, FObjectName);
}

QString TPortableDeviceObject::OriginalName() const
{
  return ReadText(pkOriginalFileName, FOriginalName);
}

TGuid TPortableDeviceObject::ContentGuid() const
{
  if (FContentType == kOtherGuid)
    return FContent->FOtherContentTypes[FIndex];
  if (FContentType != kNotRead)
    return ContentTypeGuid(static_cast<TContentType>(FContentType));
  TPropVariant value;
  if (FAILED(GetProperty(pkContentType, value)))
    return ContentTypeGuid(ctUnspecified);
  // A read of another type counts as unspecified, and is kept as that.
  const TGuid guid = value.vt == vtGuid ? value.GuidVal : ContentTypeGuid(ctUnspecified);
  if (guid.IsNull())
    return guid; // all zero means "not read": asked again
  const TContentType type = ContentTypeFromGuid(guid);
  if (ContentTypeGuid(type) == guid) {
    FContentType = static_cast<std::uint8_t>(type);
  } else {
    FContent->FOtherContentTypes[FIndex] = guid;
    FContentType = kOtherGuid;
  }
  return guid;
}

TObjectFormat TPortableDeviceObject::ObjectFormat() const
{
  if (FObjectFormat == kOtherGuid)
    return ofUnknown; // not in the table
  if (FObjectFormat != kNotRead)
    return static_cast<TObjectFormat>(FObjectFormat);
  TPropVariant value;
  // Kept whatever the answer: a failed read counts as the unknown format.
  TGuid guid = ObjectFormatGuid(ofUnknown);
  if (SUCCEEDED(GetProperty(pkObjectFormat, value)) && value.vt == vtGuid)
    guid = value.GuidVal;
  if (guid.IsNull())
    return ofUnknown; // all zero means "not read": asked again
  const TObjectFormat format = ObjectFormatFromGuid(guid);
  if (ObjectFormatGuid(format) == guid) {
    FObjectFormat = static_cast<std::uint8_t>(format);
  } else {
    FContent->FOtherFormats[FIndex] = guid;
    FObjectFormat = kOtherGuid;
  }
  return format;
}

TObjectType TPortableDeviceObject::ObjectType() const
{
  const TGuid type = ContentGuid();
  if (type == ContentTypeGuid(ctFunctionalObject))
    return ParentID().isEmpty() ? otDevice : otRoot;
  if (type == ContentTypeGuid(ctFolder))
    return otFolder;
  return ContentTypeIsFile(ContentTypeFromGuid(type)) ? otFile : otUnknown;
}

QString TPortableDeviceObject::DisplayName() const
{
  QString name;
  if (ObjectType() == otFile) {
    name = OriginalName();
    if (name.isEmpty())
      name = ObjectName();
    if (name.isEmpty())
      name = FObjectID + u".data"_s;
  } else {
    name = ObjectName();
    if (name.isEmpty())
      name = OriginalName();
    if (name.isEmpty())
      name = FObjectID;
  }
  return name;
}

QString TPortableDeviceObject::Path() const
{
  QString path = DisplayName();
  QString parentID = ParentID();
  // A device that reports parents in a circle must not keep us here: no
  // path can have more parts than the tree has objects.
  int steps = FContent->ObjectCount();
  while (!parentID.isEmpty() && parentID.compare(kDeviceObjectID, Qt::CaseInsensitive) != 0 && steps-- > 0) {
    const TPortableDeviceObject* parent = FContent->GetObjectByID(parentID);
    if (parent == nullptr)
      break;
    path = parent->DisplayName() + u'\\' + path;
    parentID = parent->ParentID();
  }
  return path;
}

TDateTime TPortableDeviceObject::ReadDate(TPropertyKey key) const
{
  TPropVariant value;
  if (SUCCEEDED(GetProperty(key, value)) && value.vt == vtDate)
    return value.DateVal;
  return DateTimeNow();
}

TDateTime TPortableDeviceObject::CreationTime() const
{
  return ReadDate(pkDateCreated);
}

TDateTime TPortableDeviceObject::LastWriteTime() const
{
  return ReadDate(pkDateModified);
}

std::int64_t TPortableDeviceObject::Size() const
{
  TPropVariant value;
  if (SUCCEEDED(GetProperty(pkSize, value)) && value.vt == vtUInt64)
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(value.UIntVal, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
  return 0;
}

bool TPortableDeviceObject::CanWriteProperty(TObjectProperty ObjectProperty) const
{
  TPropertyKey key = pkSize;
  switch (ObjectProperty) {
  case opCreationTime:
    key = pkDateCreated;
    break;
  case opLastWriteTime:
    key = pkDateModified;
    break;
  case opSize:
    key = pkSize;
    break;
  }
  bool canWrite = false;
  return SUCCEEDED(FContent->pContent->CanWriteProperty(FObjectID, key, canWrite)) && canWrite;
}

HRESULT TPortableDeviceObject::GetFileStream(TFileStreamData& AStreamData) const
{
  AStreamData = TFileStreamData();
  std::shared_ptr<IReadStream> stream;
  std::uint32_t bufferSize = 0;
  HRESULT hr = FContent->pContent->GetStream(FObjectID, stream, bufferSize);
  if (SUCCEEDED(hr) && !stream)
    hr = E_POINTER;
  if (SUCCEEDED(hr)) {
    AStreamData.FileStream = std::move(stream);
    AStreamData.BufferSize = bufferSize;
  }
  return hr;
}

HRESULT TPortableDeviceObject::GetFileData(TFileData& AFileData, bool AGetStream) const
{
  AFileData = TFileData();
  AFileData.FileAttr = FILE_ATTRIBUTE_ARCHIVE;

  AFileData.FileName = DisplayName();
  AFileData.FileSize = Size();
  const TFileTime written = DateTimeUtcToFileTime(LocalToUtc(LastWriteTime()));
  AFileData.TimeStamps.Valid = true;
  AFileData.TimeStamps.LastWriteTime = written;
  AFileData.TimeStamps.LastAccessTime = written;

  if (ObjectType() == otFile) {
    AFileData.FileAttr = FILE_ATTRIBUTE_NORMAL;
    TPropVariant mode;
    if (SUCCEEDED(GetProperty(pkPosixMode, mode)) && mode.vt == vtUInt32)
      AFileData.PosixMode = static_cast<std::uint32_t>(mode.UIntVal);
    if (AGetStream)
      return GetFileStream(AFileData.StreamData);
    return S_OK;
  }
  AFileData.FileAttr = FILE_ATTRIBUTE_DIRECTORY;
  return S_OK;
}

HRESULT TPortableDeviceObject::CopyToFile(const QString& AFilename) const
{
  std::shared_ptr<IReadStream> stream;
  std::uint32_t bufferSize = 0;
  HRESULT hr = FContent->pContent->GetStream(FObjectID, stream, bufferSize);
  if (SUCCEEDED(hr) && !stream)
    hr = E_POINTER;
  OleCheck(hr, u"TPortableDeviceObject.CopyToFile:IPortableDeviceResources.GetStream"_s);
  // A device that recommends no size (or an absurd one) gets a usual one.
  constexpr std::uint32_t kMinBuffer = 64 * 1024;
  constexpr std::uint32_t kMaxBuffer = 16 * 1024 * 1024;
  bufferSize = std::clamp(bufferSize, kMinBuffer, kMaxBuffer);

  // The data goes to a temporary file beside the target, which takes the
  // target's name only when all of it has arrived: a failed copy leaves the
  // old file, or nothing.
  static std::atomic<unsigned> counter{0};
  const QFileInfo info(AFilename);
  const QByteArray target = QFile::encodeName(AFilename);
  QByteArray temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = QFile::encodeName(info.absolutePath() + u"/."_s + info.fileName() +
                             QString::asprintf(".%d-%u.part", int(::getpid()), counter.fetch_add(1)));
    fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST)
      break;
  }
  if (fd < 0)
    return DeviceResultFromErrno(errno);

  std::vector<char> buffer(bufferSize);
  std::uint32_t got = 0;
  int error = 0;
  do {
    got = 0;
    hr = stream->Read(buffer.data(), bufferSize, &got);
    if (SUCCEEDED(hr) && got > 0 && !WriteAll(fd, buffer.data(), std::min(got, bufferSize), error))
      hr = DeviceResultFromErrno(error);
  } while (SUCCEEDED(hr) && got > 0);

  if (SUCCEEDED(hr) && ::fsync(fd) != 0)
    hr = DeviceResultFromErrno(errno);
  if (::close(fd) != 0 && SUCCEEDED(hr))
    hr = DeviceResultFromErrno(errno);
  if (SUCCEEDED(hr) && ::rename(temp.constData(), target.constData()) != 0)
    hr = DeviceResultFromErrno(errno);
  if (FAILED(hr))
    ::unlink(temp.constData());
  return hr;
}

HRESULT TPortableDeviceObject::ListError() const
{
  const auto it = FContent->FListErrors.find(FIndex);
  return it != FContent->FListErrors.end() ? it->second : S_OK;
}

QString TPortableDeviceObject::LocalPath() const
{
  return FContent->pContent->LocalPath(FObjectID);
}

QString TPortableDeviceObject::AddNameExtension(const QString& AFilename) const
{
  const QString extension = ObjectExtension();
  if (extension.isEmpty() || HasExtension(AFilename))
    return AFilename;
  return AFilename + u'.' + extension;
}

} // namespace ardanto
