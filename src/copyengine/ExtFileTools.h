#pragma once

// The copy engine: one worker thread copies one source stream into a plain
// file, a gzip file or a zip archive with a single entry.
//
// The owner creates a thread per file, starts it, waits until Done() is true,
// then reads ErrorCode() and SysErrorMsg(). A thread never raises an error to
// its owner: every outcome is a result code plus a message. The destination
// appears only when complete: a failed job leaves no partial file, and an
// older file of that name stays as it was. The source is read to its end:
// a stream that delivers more or less than the size it was given for fails
// the job.

#include "common/AesLib.h"
#include "common/FileData.h"
#include "copyengine/WriteFileStream.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>

namespace ardanto {

enum TCopyOption {
  coCompress,
  coZipCompress,
  coVerify,
  coOverwrite,
  coStorage,
  coAltStreams,
  coPermissions,
  coAttributes,
  coTimeStamp,
  coCreationTime,
  coCheckTime,
  coNoCache,
  coResetArchive,
};

// A set of TCopyOption in a 16-bit word, bit n = option n.
class TCopyOptions {
public:
  constexpr TCopyOptions() = default;
  constexpr TCopyOptions(std::initializer_list<TCopyOption> options)
  {
    for (const TCopyOption option : options)
      Include(option);
  }
  static constexpr TCopyOptions FromWord(std::uint16_t word)
  {
    TCopyOptions options;
    options.FBits = word;
    return options;
  }
  constexpr std::uint16_t Word() const { return FBits; }
  constexpr bool Contains(TCopyOption option) const { return (FBits >> option) & 1u; }
  constexpr void Include(TCopyOption option) { FBits = static_cast<std::uint16_t>(FBits | (1u << option)); }
  constexpr void Exclude(TCopyOption option) { FBits = static_cast<std::uint16_t>(FBits & ~(1u << option)); }
  constexpr bool operator==(const TCopyOptions&) const = default;

private:
  std::uint16_t FBits = 0;
};

// Job kinds, ORed into every non-zero ErrorCode.
constexpr int etCopy = 0x1000;
constexpr int etGZip = 0x2000;
constexpr int etZip = 0x4000;

// Result codes (without the job kind).
constexpr int ceZipStructure = 5;   // zip headers, directory or end records not written
constexpr int ceUnexpected = 256;   // a failure none of the others describes
constexpr int ceCreateDest = 257;   // destination not created
constexpr int ceReadSource = 260;   // source read failed or delivered a different size
constexpr int ceWriteDest = 261;    // destination write or compressor failed
constexpr int ceResetAttr = 262;    // attributes of an existing destination not reset
constexpr int ceDestFull = 263;     // destination full
constexpr int ceSetAttr = 518;      // attributes not set
constexpr int ceSetTimeStamp = 527; // time stamps not set

// Transfer size used when the source recommends none.
constexpr std::uint32_t kMinCopyBufferSize = 64 * 1024;
// Sources larger than this get zip64 fields in a zip archive.
constexpr std::uint64_t kZipLargeEntry = 0xFF000000u;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Copies one source stream to one plain destination file.
class TCopyThread {
public:
  // Created suspended unless ASuspend is false; Start() begins the copy.
  TCopyThread(const TFileData& ASource, const QString& ADestName, bool ASuspend, TThreadPriority APriority = tpNormal);
  // Waits for the thread to end.
  virtual ~TCopyThread();
  TCopyThread(const TCopyThread&) = delete;
  TCopyThread& operator=(const TCopyThread&) = delete;

  void Start();
  // Blocks until the thread has ended (an alternative to polling Done()).
  void WaitFor();
  // Waits at most timeout for the result; returns Done(). Wakes as soon as
  // the result is final.
  bool WaitFor(std::chrono::microseconds timeout);
  // Gives up on a job whose source does not answer: the thread is left to
  // itself and frees itself if it ever ends; the process may end while it is
  // still blocked. It never puts its destination in place after this.
  static void Abandon(std::unique_ptr<TCopyThread> thread);

  // True once the result is final.
  bool Done() const { return FTerminated.load(std::memory_order_acquire); }
  // Source bytes read so far, from any thread.
  std::int64_t BytesCopied() const { return FBytesCopied.load(std::memory_order_relaxed); }
  int ErrorType() const { return FErrFlag; }
  // 0, or the result code ORed with ErrorType(). Read after Done().
  int ErrorCode() const { return FError; }
  const QString& SysErrorMsg() const { return FSysErrMsg; }
  // Write-through destination; effective only before Start().
  void SetNoWriteCache(bool value);

protected:
  struct TConstruct {};
  // Prepares everything without starting, for the constructors of the variants.
  TCopyThread(TConstruct, const TFileData& ASource, const QString& ADestName, TThreadPriority APriority);
  void StartUnlessSuspended(bool ASuspend);

  // The job; returns the result code. The plain copy by default.
  virtual int Execute();
  int PlainCopy();

  int OpenStreams();
  int ReadChunk(std::uint32_t count, std::uint32_t& bytesRead);
  // Copies the rest of the source, to its end, into dest. What comes beyond
  // SrcSize is counted but not written: the job fails on it anyway.
  int CopyData(TWriteFileStream& dest);
  // Source bytes that have arrived.
  void CountRead(std::uint64_t count);
  // Copies up to count bytes inside the kernel when the source is a file;
  // returns how many. The rest is left to CopyData.
  std::uint64_t KernelCopy(TWriteFileStream& dest, std::uint64_t count);
  int FinishCopy();
  void ReleaseStreams() noexcept;
  void FinishThread(int code);
  void NoteSysError(std::uint32_t code);
  // Message of a source that ended before (or went on after) its size.
  void NoteSizeMismatch();
  // ceReadSource with its message when the source did not deliver SrcSize bytes.
  int CheckSize();
  // Result code of a failed destination write.
  int WriteErrorCode(const EWriteFileStreamError& error);
  // Writes data of the file, encrypted in place first when the job encrypts.
  // Raises EWriteFileStreamError.
  void WriteData(TWriteFileStream& dest, unsigned char* data, std::size_t count);
  // Starts (salt and password check) and ends (authentication code) the
  // encrypted part of the destination. Return a result code.
  int WriteEncryptionHeader(TWriteFileStream& dest);
  int WriteEncryptionTrailer(TWriteFileStream& dest);

  // Encrypts what WriteData writes; owned by the variant that takes it.
  TEncryption* FEncryption = nullptr;

  bool FCompress = false;
  std::uint32_t FSysError = 0;
  int FError = 0;
  int FErrFlag = etCopy;
  QString FSysErrMsg;
  QString SourceName;
  QString DestName;
  QString DestNameXL;
  TFileData SourceFileData;
  std::unique_ptr<unsigned char[]> FBuffer; // FBufSize bytes
  std::shared_ptr<IReadStream> iSource;
  std::unique_ptr<TWriteFileStream> sDest;
  std::uint64_t SrcSize = 0;
  std::uint32_t FWriteMode = wmSequential;
  std::uint32_t FBufSize = 0;
  bool FCopyTimeStamp = true;
  bool FCopyAttr = true;
  bool FResetArchive = false;
  bool FCopyCrTm = false;
  bool FCheckTime = true;
  bool FOverwrite = false;
  std::uint32_t FCrc = 0;
  bool FUpdateCrc = true; // CopyData keeps FCrc
  std::int64_t UTotal = 0;
  std::int64_t CTotal = 0;

private:
  void Run() noexcept;

  TThreadPriority FPriority;
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<std::int64_t> FBytesCopied{0};
  // Guard the end of the thread against Abandon().
  std::mutex FEndMutex;
  std::condition_variable FEnded;
  bool FRunEnded = false;              // under FEndMutex: Run() touches nothing more
  std::atomic<bool> FAbandoned{false}; // written under FEndMutex
};

// Writes the destination as a gzip file holding one deflated file.
class TGZipThread : public TCopyThread {
public:
  TGZipThread(const TFileData& ASource, const QString& ADestName, bool ASuspend, TThreadPriority APriority = tpNormal);
  ~TGZipThread() override;

protected:
  TGZipThread(TConstruct, const TFileData& ASource, const QString& ADestName, TThreadPriority APriority);
  int Execute() override;

  int GZipJob();
  int ZipJob(bool compress);
  // Deflates the whole source into dest; the caller checks the size.
  int CompressData(TWriteFileStream& dest);

  QString FName;                                   // the name stored inside the gzip or zip file
  std::unique_ptr<unsigned char[]> FDeflateMemory; // deflate output and zlib's state
};

// The copy job of the programs: plain, gzip or zip as the options say.
//
// With an encryption object (the device program passes none) the data are
// encrypted with it in the zip AES format: a zip entry becomes an AES entry
// (AE-2) that 7-Zip and WinZip open with the password; a gzip file is
// encrypted whole, as one AES stream (salt, password check, the encrypted
// gzip file, code), and keeps zeros in the size fields of its header because
// encrypted bytes cannot be written again. A plain copy is never encrypted:
// without coZipCompress and coCompress the job writes a zip archive with a
// stored entry instead, so that nothing leaves the job unencrypted. The job
// derives a fresh key (new salt) from the object's password.
class TWinCopyThread : public TGZipThread {
public:
  TWinCopyThread(const TFileData& ASource, const QString& ADestName, std::unique_ptr<TEncryption> AEncryption,
                 TCopyOptions AOptions, bool ASuspend, TThreadPriority APriority = tpNormal);
  ~TWinCopyThread() override;

protected:
  int Execute() override;

  bool FZipCompress = false;
  std::unique_ptr<TEncryption> FOwnEncryption;
};

} // namespace ardanto
