#pragma once

// Starting other programs, waiting for them, and asking whether one runs.

#include "common/Errors.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

#include <sys/types.h>

namespace ardanto::platform {

// A program could not be started; the message is the system's text.
class EProcessError : public EArdantoError {
public:
  EProcessError(QString message, int errorCode) : EArdantoError(std::move(message)), FErrorCode(errorCode) {}
  int ErrorCode() const noexcept { return FErrorCode; }

private:
  int FErrorCode;
};

// A started child process. WaitForProcess releases it; one that is dropped
// unwaited is still collected when it ends, so it never lingers as a zombie.
class TProcessHandle {
public:
  TProcessHandle() = default;
  explicit TProcessHandle(pid_t pid) : FPid(pid) {}
  TProcessHandle(TProcessHandle&& other) noexcept : FPid(other.Release()) {}
  TProcessHandle& operator=(TProcessHandle&& other) noexcept;
  TProcessHandle(const TProcessHandle&) = delete;
  TProcessHandle& operator=(const TProcessHandle&) = delete;
  ~TProcessHandle();

  pid_t Pid() const { return FPid; }
  bool Valid() const { return FPid > 0; }
  pid_t Release() noexcept;

private:
  pid_t FPid = -1;
};

// Starts program with arguments in folder (the caller's when empty). A name
// without "/" is looked up on PATH. The child gets the caller's environment
// and standard handles, default signal handling and no blocked signals.
// Raises EProcessError with the system's text when it cannot start, also when
// the folder does not exist.
TProcessHandle StartProcess(const QString& program, const QStringList& arguments, const QString& folder);
// The same for a command line in the suite's quoting (SplitCommandLine).
TProcessHandle StartProcess(const QString& commandLine, const QString& folder);

// What WaitForProcess gives besides an exit code.
constexpr std::uint32_t kExitCodeFlag = 0x20000000; // set on every non-zero exit code
constexpr std::uint32_t kWaitTimeout = 258;
// A process ended by a signal gives kExitCodeFlag | (128 + signal number),
// as a shell would report it.
constexpr std::uint32_t kSignalBase = 128;

// Waits for the process. milliseconds 0 waits until it ends; otherwise at most
// that long, then kWaitTimeout: the handle stays usable for another wait
// unless closeAnyway, which lets the process run on unwatched. While waiting,
// processEvents (when given) runs every 100 ms, so a window stays responsive.
// Result: 0 for exit code 0; kExitCodeFlag | code for any other exit code; a
// signal as above; kWaitTimeout; or the errno value when the process cannot be
// waited for (no such child). Anything without kExitCodeFlag other than 0 and
// kWaitTimeout is therefore a system error.
std::uint32_t WaitForProcess(TProcessHandle& handle, std::uint32_t milliseconds, bool closeAnyway,
                             const std::function<void()>& processEvents = {});

// Whether WaitForProcess's result is an exit code or a signal of the process
// rather than a time-out or system error.
bool IsProcessResult(std::uint32_t result);

// Whether a process of the current user runs whose executable has this name
// (its comm or the base name of its exe link, case ignored), or with fullPath
// whose exe link is this path. An executable replaced while it runs (an
// update) still counts.
bool ProcessRunning(const QString& name, bool fullPath = false);
// The same over another /proc and for another user id, for tests.
bool ProcessRunning(const QString& name, bool fullPath, const QString& procRoot, uid_t user);

} // namespace ardanto::platform
