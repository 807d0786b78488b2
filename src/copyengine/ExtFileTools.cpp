#include "copyengine/ExtFileTools.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"
#include "copyengine/ArchiveFormats.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

// Deflate output is collected in a block of this size before it is written.
constexpr std::size_t kDeflateOutSize = 256 * 1024;
// What zlib asks for with window bits 15 and memory level 8 (about 262 KiB),
// with room to spare. Larger needs fall back to the heap.
constexpr std::size_t kZlibArenaSize = 288 * 1024;
constexpr std::size_t kDeflateMemorySize = kDeflateOutSize + kZlibArenaSize;
// Bytes per call when the kernel copies: small enough for the progress to move.
constexpr std::uint64_t kKernelCopyChunk = 16 * 1024 * 1024;

// zlib's memory, handed out from the block the owner's thread allocated.
struct TZlibArena {
  unsigned char* Base = nullptr;
  std::size_t Size = 0;
  std::size_t Used = 0;
};

voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size)
{
  auto* arena = static_cast<TZlibArena*>(opaque);
  const std::size_t bytes = (std::size_t{items} * size + 63) & ~std::size_t{63};
  if (arena->Base != nullptr && arena->Size - arena->Used >= bytes) {
    void* block = arena->Base + arena->Used;
    arena->Used += bytes;
    return block;
  }
  return std::malloc(std::size_t{items} * size);
}

void ArenaFree(voidpf opaque, voidpf address)
{
  const auto* arena = static_cast<TZlibArena*>(opaque);
  const auto* p = static_cast<unsigned char*>(address);
  if (arena->Base != nullptr && p >= arena->Base && p < arena->Base + arena->Size)
    return;
  std::free(address);
}

QString Hex(std::uint32_t code)
{
  return QString::asprintf(" (0x%.8x)", code);
}

// Text of a failed stream status, as the device layer words it; the bare
// code when no one has a text for it.
QString HResultText(HRESULT hr)
{
  const auto code = static_cast<std::uint32_t>(hr);
  QString message;
  if (HResultMessage(hr, message))
    return message + Hex(code);
  return _("Error code") + QString::asprintf(" = 0x%.8x", code);
}

QString StreamErrorText(HRESULT hr)
{
  return FormatText(_("System error: %s"), {HResultText(hr)});
}

// Text of an error noted by a metadata step.
QString NotedErrorText(std::uint32_t code)
{
  if ((code & 0xFFFF0000u) == 0x00070000u)
    return CopySystemErrorText(static_cast<int>(code & 0xFFFFu));
  return StreamErrorText(static_cast<HRESULT>(code));
}

void ApplyPriority(TThreadPriority priority)
{
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  if (priority == tpNormal)
    return;
  // A raised priority needs privileges; without them the thread runs at
  // normal priority, which is no reason to fail the copy.
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice[priority]);
}

std::uint32_t UnixTime32(TFileTime ft)
{
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(FileTimeToUnix(ft)));
}

QByteArray LittleEndian(std::initializer_list<std::pair<std::uint64_t, int>> fields)
{
  QByteArray bytes;
  for (const auto& [value, size] : fields) {
    for (int i = 0; i < size; ++i)
      bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
  return bytes;
}

class ECompressionError : public EArdantoError {
public:
  using EArdantoError::EArdantoError;
};

[[noreturn]] void RaiseCompressionError(const z_stream& z, int status)
{
  const char* reason = z.msg != nullptr ? z.msg : ::zError(status);
  throw ECompressionError(FormatText(_("Compression error: %s"), {QString::fromLatin1(reason)}));
}

// The destination as the encryption's output, keeping the first failure.
class TDestWriter : public IWriteStream {
public:
  explicit TDestWriter(TWriteFileStream& dest) : FDest(dest) {}
  HRESULT Write(const void* buffer, std::uint32_t count) override
  {
    try {
      FDest.Write(buffer, count);
      return S_OK;
    } catch (const EWriteFileStreamError& e) {
      FError = e.ErrorCode();
      FMessage = e.Message();
      return HResultFromErrno(e.ErrorCode() != 0 ? e.ErrorCode() : EIO);
    }
  }
  int Error() const { return FError; }
  const QString& Message() const { return FMessage; }

private:
  TWriteFileStream& FDest;
  int FError = 0;
  QString FMessage;
};

} // namespace

// ---------------------------------------------------------------------------
// TCopyThread

TCopyThread::TCopyThread(TConstruct, const TFileData& ASource, const QString& ADestName, TThreadPriority APriority)
  : SourceName(ASource.FullPath), DestName(ADestName), DestNameXL(ToLongPath(ADestName)), SourceFileData(ASource),
    iSource(ASource.StreamData.FileStream),
    FBufSize(ASource.StreamData.BufferSize != 0 ? ASource.StreamData.BufferSize : kMinCopyBufferSize),
    FPriority(APriority)
{
  // Taken on the owner's thread, whose heap keeps the memory for the next
  // job; a worker's own heap is handed back to the system when it ends.
  // Filled by every read before it is used: no need to clear it. A failure
  // shows as the job's result.
  FBuffer.reset(new (std::nothrow) unsigned char[FBufSize]);
}

TCopyThread::TCopyThread(const TFileData& ASource, const QString& ADestName, bool ASuspend, TThreadPriority APriority)
  : TCopyThread(TConstruct{}, ASource, ADestName, APriority)
{
  StartUnlessSuspended(ASuspend);
}

TCopyThread::~TCopyThread()
{
  WaitFor();
}

void TCopyThread::StartUnlessSuspended(bool ASuspend)
{
  if (!ASuspend)
    Start();
}

void TCopyThread::Start()
{
  if (FThread.joinable() || Done())
    return;
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    FSysErrMsg = CopySystemErrorText(e.code().value());
    FinishThread(ceUnexpected);
  }
}

void TCopyThread::WaitFor()
{
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
    FThread.join();
}

bool TCopyThread::WaitFor(std::chrono::microseconds timeout)
{
  std::unique_lock<std::mutex> lock(FEndMutex);
  FEnded.wait_for(lock, timeout, [this] { return Done(); });
  return Done();
}

void TCopyThread::Abandon(std::unique_ptr<TCopyThread> thread)
{
  if (!thread)
    return;
  TCopyThread* job = thread.release();
  {
    std::lock_guard<std::mutex> lock(job->FEndMutex);
    if (job->FThread.joinable() && !job->FRunEnded) {
      // From here the thread owns the job: Run() frees it at its end.
      job->FAbandoned.store(true, std::memory_order_release);
      job->FThread.detach();
      return;
    }
  }
  // Never started, or as good as done: an ordinary end.
  delete job;
}

void TCopyThread::SetNoWriteCache(bool value)
{
  FWriteMode = value ? (wmWriteThrough | wmSequential) : wmSequential;
}

void TCopyThread::Run() noexcept
{
  ApplyPriority(FPriority);
  int code = 0;
  try {
    if (!FBuffer)
      throw std::bad_alloc();
    code = Execute();
  } catch (const EArdantoError& e) {
    code = ceUnexpected;
    FSysErrMsg = e.Message();
  } catch (const std::bad_alloc&) {
    code = ceUnexpected;
    FSysErrMsg = CopySystemErrorText(ENOMEM);
  } catch (const std::exception& e) {
    code = ceUnexpected;
    FSysErrMsg = QString::fromLocal8Bit(e.what());
  } catch (...) {
    code = ceUnexpected;
    FSysErrMsg = _("Unexpected error");
  }
  if (code != 0)
    ReleaseStreams();
  FinishThread(code);
  bool abandoned = false;
  {
    std::lock_guard<std::mutex> lock(FEndMutex);
    FRunEnded = true;
    abandoned = FAbandoned.load(std::memory_order_acquire);
  }
  // Nobody waits for an abandoned job: it goes with its thread.
  if (abandoned)
    delete this;
}

int TCopyThread::Execute()
{
  return PlainCopy();
}

int TCopyThread::PlainCopy()
{
  // A plain copy stores no checksum; skipping it keeps the copy as fast as
  // the kernel's own.
  FUpdateCrc = false;
  int code = OpenStreams();
  if (code == 0) {
    KernelCopy(*sDest, SrcSize);
    code = CopyData(*sDest);
  }
  if (code == 0)
    code = CheckSize();
  if (code == 0)
    return FinishCopy();
  ReleaseStreams();
  return code;
}

int TCopyThread::OpenStreams()
{
  if (SourceFileData.FileSize < 0) {
    FSysErrMsg = FormatText(_("The size of \"%s\" is unknown."), {SourceName});
    return ceReadSource;
  }
  SrcSize = static_cast<std::uint64_t>(SourceFileData.FileSize);
  if (!iSource) {
    FSysErrMsg = StreamErrorText(E_POINTER);
    return ceReadSource;
  }

  if (FOverwrite) {
    // Only a file of our own is made writable; a link is replaced, never
    // followed.
    struct stat st {};
    if (::lstat(QFile::encodeName(DestNameXL).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
      if (const int error = SetFileAttr(DestNameXL, FILE_ATTRIBUTE_ARCHIVE)) {
        NoteSysError(static_cast<std::uint32_t>(error));
        return ceResetAttr;
      }
    }
  }

  // The source's permissions where the device knows them, never writable for
  // everyone; the umask applies on top.
  const mode_t mode = (SourceFileData.PosixMode != 0 ? SourceFileData.PosixMode & 0777 : 0644) & ~mode_t(S_IWOTH);
  try {
    sDest = std::make_unique<TWriteFileStream>(DestNameXL, FOverwrite, FWriteMode, mode);
  } catch (const EWriteFileStreamError& e) {
    FSysErrMsg = e.Message();
    return ceCreateDest;
  }
  return 0;
}

int TCopyThread::ReadChunk(std::uint32_t count, std::uint32_t& bytesRead)
{
  bytesRead = 0;
  std::uint32_t got = 0;
  const HRESULT hr = iSource->Read(FBuffer.get(), count, &got);
  if (FAILED(hr)) {
    FSysErrMsg = StreamErrorText(hr);
    return ceReadSource;
  }
  // A stream that claims more than it was asked for cannot be trusted.
  if (got > count) {
    FSysErrMsg = StreamErrorText(E_UNEXPECTED);
    return ceReadSource;
  }
  bytesRead = got;
  return 0;
}

int TCopyThread::WriteErrorCode(const EWriteFileStreamError& error)
{
  return (error.ErrorCode() == ENOSPC || error.ErrorCode() == EDQUOT) ? ceDestFull : ceWriteDest;
}

void TCopyThread::NoteSizeMismatch()
{
  FSysErrMsg = FormatText(_("The source delivered %d bytes instead of %d."),
                          {static_cast<qint64>(UTotal), static_cast<qint64>(SrcSize)});
}

int TCopyThread::CheckSize()
{
  if (static_cast<std::uint64_t>(UTotal) == SrcSize)
    return 0;
  NoteSizeMismatch();
  return ceReadSource;
}

void TCopyThread::CountRead(std::uint64_t count)
{
  UTotal += static_cast<std::int64_t>(count);
  FBytesCopied.store(UTotal, std::memory_order_relaxed);
}

int TCopyThread::CopyData(TWriteFileStream& dest)
{
  for (;;) {
    std::uint32_t got = 0;
    if (const int code = ReadChunk(FBufSize, got))
      return code;
    // Streams may deliver less than asked for at any time; only an empty
    // read ends the input.
    if (got == 0)
      return 0;
    const auto before = static_cast<std::uint64_t>(UTotal);
    CountRead(got);
    if (FUpdateCrc)
      FCrc = static_cast<std::uint32_t>(::crc32_z(FCrc, FBuffer.get(), got));
    if (before >= SrcSize)
      continue;
    try {
      WriteData(dest, FBuffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(got, SrcSize - before)));
    } catch (const EWriteFileStreamError& e) {
      FSysErrMsg = e.Message();
      return WriteErrorCode(e);
    }
  }
}

void TCopyThread::WriteData(TWriteFileStream& dest, unsigned char* data, std::size_t count)
{
  if (FEncryption != nullptr && count > 0 && !FEncryption->EncryptBlock(data, static_cast<std::uint32_t>(count)))
    throw EWriteFileStreamError(_("Encryption error"), EINVAL);
  dest.Write(data, count);
}

int TCopyThread::WriteEncryptionHeader(TWriteFileStream& dest)
{
  TDestWriter writer(dest);
  if (FEncryption->WriteHeader(writer))
    return 0;
  FSysErrMsg = writer.Message().isEmpty() ? _("Encryption error") : writer.Message();
  return (writer.Error() == ENOSPC || writer.Error() == EDQUOT) ? ceDestFull : ceWriteDest;
}

int TCopyThread::WriteEncryptionTrailer(TWriteFileStream& dest)
{
  TDestWriter writer(dest);
  if (FEncryption->WriteTrailer(writer))
    return 0;
  FSysErrMsg = writer.Message().isEmpty() ? _("Encryption error") : writer.Message();
  return (writer.Error() == ENOSPC || writer.Error() == EDQUOT) ? ceDestFull : ceWriteDest;
}

std::uint64_t TCopyThread::KernelCopy(TWriteFileStream& dest, std::uint64_t count)
{
  // Encrypted data must pass through the job.
  if (FEncryption != nullptr)
    return 0;
  const auto* file = dynamic_cast<const IFileHandleStream*>(iSource.get());
  if (file == nullptr || file->FileHandle() < 0)
    return 0;
  std::uint64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kKernelCopyChunk));
    const ssize_t n = ::copy_file_range(file->FileHandle(), nullptr, dest.Handle(), nullptr, chunk, 0);
    if (n < 0 && errno == EINTR)
      continue;
    // Refused (another file system, a pipe) or failed: the buffer loop goes
    // on from here and reports an error from the side it comes from.
    if (n <= 0)
      break;
    done += static_cast<std::uint64_t>(n);
    CountRead(static_cast<std::uint64_t>(n));
  }
  return done;
}

int TCopyThread::FinishCopy()
{
  int code = 0;
  // The owner has moved on: what it gave up on must not appear later.
  if (FAbandoned.load(std::memory_order_acquire)) {
    ReleaseStreams();
    FSysErrMsg = _("Operation aborted");
    return ceUnexpected;
  }
  try {
    sDest->Commit();
  } catch (const EWriteFileStreamError& e) {
    FSysErrMsg = e.Message();
    code = e.ErrorCode() == EEXIST ? ceCreateDest : WriteErrorCode(e);
  }
  ReleaseStreams();
  if (code != 0)
    return code;

  if (FCopyTimeStamp) {
    if (const int error = SetFileTimestamps(DestNameXL, SourceFileData.TimeStamps, FCheckTime, false, FCopyCrTm)) {
      NoteSysError(static_cast<std::uint32_t>(error));
      return ceSetTimeStamp;
    }
  }
  if (FCopyAttr) {
    std::uint32_t wanted = SourceFileData.FileAttr & 0xFFFFu;
    if (FResetArchive)
      wanted &= ~FILE_ATTRIBUTE_ARCHIVE;
    // The copy was created with the permissions it may have; only read-only
    // remains to be done. Making it writable here would go past the source's
    // mode or the umask.
    const std::uint32_t current = GetFileAttr(DestNameXL);
    if ((wanted & FILE_ATTRIBUTE_READONLY) && (current == 0xFFFFFFFFu || !(current & FILE_ATTRIBUTE_READONLY))) {
      if (const int error = SetFileAttr(DestNameXL, wanted)) {
        NoteSysError(static_cast<std::uint32_t>(error));
        return ceSetAttr;
      }
    }
  }
  return 0;
}

void TCopyThread::ReleaseStreams() noexcept
{
  if (iSource) {
    try {
      (void)iSource->Commit(0);
    } catch (...) {
      // The source's own clean-up failing changes nothing about the copy.
    }
  }
  if (sDest) {
    sDest->Discard();
    sDest.reset();
  }
}

void TCopyThread::NoteSysError(std::uint32_t code)
{
  if (code == 0)
    return;
  FSysError = (code & 0x07FF0000u) != 0 ? code : (0x00070000u | (code & 0xFFFFu));
}

void TCopyThread::FinishThread(int code)
{
  try {
    if (FSysError != 0)
      FSysErrMsg = NotedErrorText(FSysError);
    if (code != 0 && FSysErrMsg.isEmpty())
      FSysErrMsg = FormatText(_("Copy error %d"), {code});
  } catch (...) {
    // Out of memory for a message: the code below still tells the owner.
  }
  if (code != 0)
    FError = code | FErrFlag;
  {
    std::lock_guard<std::mutex> lock(FEndMutex);
    FTerminated.store(true, std::memory_order_release);
  }
  FEnded.notify_all();
}

// ---------------------------------------------------------------------------
// TGZipThread

TGZipThread::TGZipThread(TConstruct, const TFileData& ASource, const QString& ADestName, TThreadPriority APriority)
  : TCopyThread(TConstruct{}, ASource, ADestName, APriority), FName(ASource.FileName)
{
  FCompress = true;
  FErrFlag = etGZip;
  FDeflateMemory.reset(new (std::nothrow) unsigned char[kDeflateMemorySize]);
}

TGZipThread::TGZipThread(const TFileData& ASource, const QString& ADestName, bool ASuspend, TThreadPriority APriority)
  : TGZipThread(TConstruct{}, ASource, ADestName, APriority)
{
  StartUnlessSuspended(ASuspend);
}

TGZipThread::~TGZipThread()
{
  // The thread runs this class's job: it must end before this part goes.
  WaitFor();
}

int TGZipThread::Execute()
{
  return GZipJob();
}

int TGZipThread::CompressData(TWriteFileStream& dest)
{
  // Memory taken on the owner's thread, where freed memory is reused by the
  // next job; without it each file pays for fresh pages.
  std::unique_ptr<unsigned char[]> ownOut;
  unsigned char* out = nullptr;
  TZlibArena arena;
  if (FDeflateMemory) {
    out = FDeflateMemory.get();
    arena.Base = FDeflateMemory.get() + kDeflateOutSize;
    arena.Size = kZlibArenaSize;
  } else {
    ownOut = std::make_unique_for_overwrite<unsigned char[]>(kDeflateOutSize);
    out = ownOut.get();
  }
  z_stream z{};
  z.zalloc = ArenaAlloc;
  z.zfree = ArenaFree;
  z.opaque = &arena;
  int status = ::deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    FSysErrMsg = FormatText(_("Compression error: %s"), {QString::fromLatin1(::zError(status))});
    return ceWriteDest;
  }
  struct TDeflateEnd {
    z_stream& Z;
    ~TDeflateEnd() { ::deflateEnd(&Z); }
  } deflateEnd{z};

  const auto drain = [&](int flush) {
    do {
      z.next_out = out;
      z.avail_out = static_cast<uInt>(kDeflateOutSize);
      status = ::deflate(&z, flush);
      if (status == Z_STREAM_ERROR || (status < 0 && status != Z_BUF_ERROR))
        RaiseCompressionError(z, status);
      WriteData(dest, out, kDeflateOutSize - z.avail_out);
    } while (z.avail_out == 0);
  };

  std::int64_t start = 0;
  try {
    start = dest.Position();
    for (;;) {
      std::uint32_t got = 0;
      if (const int code = ReadChunk(FBufSize, got))
        return code;
      // Streams may deliver less than asked for at any time; only an empty
      // read ends the input.
      if (got == 0)
        break;
      CountRead(got);
      FCrc = static_cast<std::uint32_t>(::crc32_z(FCrc, FBuffer.get(), got));
      z.next_in = FBuffer.get();
      z.avail_in = got;
      drain(Z_NO_FLUSH);
    }
    while (status != Z_STREAM_END)
      drain(Z_FINISH);
    if (UTotal > 0 && dest.Position() == start)
      return ceDestFull;
  } catch (const EArdantoError& e) {
    FSysErrMsg = e.Message();
    return ceWriteDest;
  }
  return 0;
}

int TGZipThread::GZipJob()
{
  int code = OpenStreams();
  if (code != 0) {
    ReleaseStreams();
    return code;
  }
  TWriteFileStream& dest = *sDest;
  std::int64_t dataStart = 0;
  if (FEncryption != nullptr)
    code = WriteEncryptionHeader(dest);
  if (code == 0) {
    try {
      QByteArray header = GZipHeader(UnixTime32(SourceFileData.TimeStamps.LastWriteTime), EncodeGZipName(FName));
      WriteData(dest, reinterpret_cast<unsigned char*>(header.data()), static_cast<std::size_t>(header.size()));
      dataStart = dest.Position();
    } catch (const EWriteFileStreamError& e) {
      FSysErrMsg = e.Message();
      code = WriteErrorCode(e);
    }
  }
  if (code == 0)
    code = CompressData(dest);
  if (code == 0)
    code = CheckSize();
  if (code == 0) {
    try {
      CTotal = dest.Position() - dataStart;
      QByteArray trailer = LittleEndian({{FCrc, 4}, {static_cast<std::uint64_t>(UTotal), 4}});
      WriteData(dest, reinterpret_cast<unsigned char*>(trailer.data()), static_cast<std::size_t>(trailer.size()));
      if (FEncryption == nullptr) {
        dest.Seek(kGZipSizeFieldsOffset, SEEK_SET);
        dest.Write(LittleEndian({{static_cast<std::uint64_t>(CTotal), 8}, {static_cast<std::uint64_t>(UTotal), 8}}));
      }
    } catch (const EWriteFileStreamError& e) {
      FSysErrMsg = e.Message();
      code = ceWriteDest;
    }
  }
  if (code == 0 && FEncryption != nullptr)
    code = WriteEncryptionTrailer(dest);
  if (code == 0)
    return FinishCopy();
  ReleaseStreams();
  return code;
}

int TGZipThread::ZipJob(bool compress)
{
  TWriteFileStream& dest = *sDest;
  TZipEntry entry;
  entry.Name = EncodeZipName(FName);
  entry.Large = SrcSize > kZipLargeEntry;
  entry.Deflated = compress && SrcSize > 0;
  entry.DosTime = FileTimeToDosTime(SourceFileData.TimeStamps.LastWriteTime);
  entry.ExternalAttributes = SourceFileData.FileAttr & 0xFFFFu;
  entry.AesStrength = FEncryption != nullptr ? FEncryption->KeyMode() : 0;

  std::int64_t dataStart = 0;
  try {
    dest.Write(ZipLocalHeader(entry));
    dataStart = dest.Position();
  } catch (const EWriteFileStreamError& e) {
    FSysErrMsg = e.Message();
    return ceZipStructure;
  }

  int code = FEncryption != nullptr ? WriteEncryptionHeader(dest) : 0;
  // A stored entry ends where the listed size does; the data must agree.
  if (code == 0)
    code = entry.Deflated ? CompressData(dest) : CopyData(dest);
  if (code == 0)
    code = CheckSize();
  if (code == 0 && FEncryption != nullptr)
    code = WriteEncryptionTrailer(dest);
  if (code != 0)
    return code;

  try {
    CTotal = dest.Position() - dataStart;
    // AE-2 keeps the CRC out of the archive: of a small file it would give
    // the content away.
    entry.Crc = entry.AesStrength != 0 ? 0 : FCrc;
    entry.UncompressedSize = static_cast<std::uint64_t>(UTotal);
    entry.CompressedSize = static_cast<std::uint64_t>(CTotal);
    dest.Seek(kZipLocalCrcOffset, SEEK_SET);
    if (!entry.Large) {
      dest.Write(LittleEndian({{entry.Crc, 4}, {entry.CompressedSize, 4}, {entry.UncompressedSize, 4}}));
    } else {
      dest.Write(LittleEndian({{entry.Crc, 4}}));
      dest.Seek(ZipLocalZip64SizesOffset(entry), SEEK_SET);
      dest.Write(LittleEndian({{entry.UncompressedSize, 8}, {entry.CompressedSize, 8}}));
    }
    const auto cdStart = static_cast<std::uint64_t>(dest.Seek(0, SEEK_END));
    dest.Write(ZipCentralHeader(entry));
    const auto cdEnd = static_cast<std::uint64_t>(dest.Position());
    dest.Write(ZipEndRecords(cdStart, cdEnd));
  } catch (const EWriteFileStreamError& e) {
    FSysErrMsg = e.Message();
    return ceZipStructure;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// TWinCopyThread

TWinCopyThread::TWinCopyThread(const TFileData& ASource, const QString& ADestName,
                               std::unique_ptr<TEncryption> AEncryption, TCopyOptions AOptions, bool ASuspend,
                               TThreadPriority APriority)
  : TGZipThread(TConstruct{}, ASource, ADestName, APriority), FOwnEncryption(std::move(AEncryption))
{
  FEncryption = FOwnEncryption.get();
  FCompress = AOptions.Contains(coCompress);
  FZipCompress = AOptions.Contains(coZipCompress) || (FEncryption != nullptr && !FCompress);
  FOverwrite = AOptions.Contains(coOverwrite);
  FCopyTimeStamp = AOptions.Contains(coTimeStamp);
  FCopyCrTm = AOptions.Contains(coCreationTime);
  FCheckTime = AOptions.Contains(coCheckTime);
  SetNoWriteCache(AOptions.Contains(coNoCache));
  FErrFlag = FZipCompress ? etZip : (FCompress ? etGZip : etCopy);
  if (!FCompress)
    FDeflateMemory.reset();
  StartUnlessSuspended(ASuspend);
}

TWinCopyThread::~TWinCopyThread()
{
  WaitFor();
}

int TWinCopyThread::Execute()
{
  if (FZipCompress) {
    int code = OpenStreams();
    if (code == 0)
      code = ZipJob(FCompress);
    if (code == 0)
      return FinishCopy();
    ReleaseStreams();
    return code;
  }
  if (FCompress)
    return GZipJob();
  return PlainCopy();
}

} // namespace ardanto
