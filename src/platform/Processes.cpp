#include "platform/Processes.h"

#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ardanto::platform {

using namespace Qt::StringLiterals;

namespace {

constexpr auto kEventStep = std::chrono::milliseconds(100);
constexpr qsizetype kCommLength = 15; // the kernel keeps this many bytes of a name

// Collects a child nobody waits for any more once it ends.
void ReapLater(pid_t pid)
{
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::uint32_t ResultOfStatus(int status)
{
  if (WIFEXITED(status)) {
    const auto code = static_cast<std::uint32_t>(WEXITSTATUS(status));
    return code == 0 ? 0 : kExitCodeFlag | code;
  }
  if (WIFSIGNALED(status))
    return kExitCodeFlag | (kSignalBase + static_cast<std::uint32_t>(WTERMSIG(status)));
  return kExitCodeFlag | 0xFF;
}

// A descriptor that becomes readable when the process ends, so a wait step
// ends with the process rather than at the next 100 ms mark; -1 where the
// kernel has none.
int OpenPidDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

void WaitStep(int pidFd, std::chrono::milliseconds step)
{
  if (step.count() <= 0)
    return;
  if (pidFd >= 0) {
    pollfd descriptor{pidFd, POLLIN, 0};
    ::poll(&descriptor, 1, static_cast<int>(step.count()));
  } else {
    std::this_thread::sleep_for(step);
  }
}

QString ReadLink(const QString& link)
{
  QByteArray buffer(4096, Qt::Uninitialized);
  const ssize_t size = ::readlink(QFile::encodeName(link).constData(), buffer.data(), buffer.size());
  if (size <= 0)
    return QString();
  return QFile::decodeName(buffer.left(size));
}

QString FirstLine(const QString& fileName)
{
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    return QString();
  return QFile::decodeName(file.readLine().trimmed());
}

} // namespace

TProcessHandle& TProcessHandle::operator=(TProcessHandle&& other) noexcept
{
  if (this != &other) {
    if (Valid())
      ReapLater(FPid);
    FPid = other.Release();
  }
  return *this;
}

TProcessHandle::~TProcessHandle()
{
  if (Valid())
    ReapLater(FPid);
}

pid_t TProcessHandle::Release() noexcept
{
  const pid_t pid = FPid;
  FPid = -1;
  return pid;
}

TProcessHandle StartProcess(const QString& program, const QStringList& arguments, const QString& folder)
{
  if (program.isEmpty())
    throw EProcessError(SystemErrorText(ENOENT), ENOENT);
  std::vector<QByteArray> encoded;
  encoded.reserve(static_cast<std::size_t>(arguments.size()) + 1);
  encoded.push_back(QFile::encodeName(program));
  for (const QString& argument : arguments)
    encoded.push_back(QFile::encodeName(argument));
  std::vector<char*> argv;
  for (QByteArray& item : encoded)
    argv.push_back(item.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const QByteArray workingFolder = QFile::encodeName(folder);
  if (!folder.isEmpty())
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.constData());
  // Whatever this program ignores or blocks (SIGPIPE for its sockets, say) is
  // no business of the program it starts.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  const int error = program.contains(u'/') ? ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                                           : ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0)
    throw EProcessError(SystemErrorText(error), error);
  return TProcessHandle(pid);
}

TProcessHandle StartProcess(const QString& commandLine, const QString& folder)
{
  QStringList items = SplitCommandLine(commandLine);
  if (items.isEmpty())
    throw EProcessError(SystemErrorText(ENOENT), ENOENT);
  const QString program = items.takeFirst();
  return StartProcess(program, items, folder);
}

std::uint32_t WaitForProcess(TProcessHandle& handle, std::uint32_t milliseconds, bool closeAnyway,
                             const std::function<void()>& processEvents)
{
  if (!handle.Valid())
    return ECHILD;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  const int pidFd = OpenPidDescriptor(handle.Pid());
  std::uint32_t result = 0;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(handle.Pid(), &status, WNOHANG);
    if (done == handle.Pid()) {
      handle.Release();
      result = ResultOfStatus(status);
      break;
    }
    if (done < 0) {
      if (errno == EINTR)
        continue;
      result = static_cast<std::uint32_t>(errno);
      handle.Release();
      break;
    }
    auto step = std::chrono::duration_cast<std::chrono::milliseconds>(kEventStep);
    if (milliseconds > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        if (closeAnyway) {
          TProcessHandle unwatched(handle.Release());
        }
        result = kWaitTimeout;
        break;
      }
      step = std::min(step, left);
    }
    if (processEvents)
      processEvents();
    WaitStep(pidFd, step);
  }
  if (pidFd >= 0)
    ::close(pidFd);
  return result;
}

bool IsProcessResult(std::uint32_t result)
{
  return result == 0 || (result & kExitCodeFlag) != 0;
}

bool ProcessRunning(const QString& name, bool fullPath)
{
  return ProcessRunning(name, fullPath, u"/proc"_s, ::geteuid());
}

bool ProcessRunning(const QString& name, bool fullPath, const QString& procRoot, uid_t user)
{
  if (name.isEmpty())
    return false;
  const QString wanted = fullPath ? QDir::cleanPath(name) : name;
  // The exe link holds the real place; the caller may name it through a link.
  const QString wantedReal = fullPath ? QFileInfo(name).canonicalFilePath() : QString();
  const QByteArray nameBytes = QFile::encodeName(name);
  const bool longName = nameBytes.size() > kCommLength;
  const QString shortName = QFile::decodeName(nameBytes.left(kCommLength));
  const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& entry : entries) {
    bool numeric = false;
    entry.toInt(&numeric);
    if (!numeric)
      continue;
    const QString folder = procRoot + u'/' + entry;
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || st.st_uid != user)
      continue;
    QString exe = ReadLink(folder + u"/exe"_s);
    // The kernel marks an executable that was replaced or removed meanwhile.
    const QString deleted = u" (deleted)"_s;
    if (exe.endsWith(deleted))
      exe.chop(deleted.size());
    if (fullPath) {
      if (!exe.isEmpty() && (exe == wanted || exe == wantedReal))
        return true;
      continue;
    }
    const QString exeName = ExtractFileName(exe);
    if (!exe.isEmpty() && exeName.compare(wanted, Qt::CaseInsensitive) == 0)
      return true;
    // comm names a script by its own name rather than its interpreter's; but
    // the kernel cuts it to 15 bytes, and a cut-off name of the very
    // executable the exe link names says no more than that link.
    const QString comm = FirstLine(folder + u"/comm"_s);
    if (comm.isEmpty())
      continue;
    const bool commCut = QFile::encodeName(comm).size() == kCommLength &&
                         QFile::encodeName(exeName).size() > kCommLength && exeName.startsWith(comm);
    if (commCut)
      continue;
    if (comm.compare(longName ? shortName : wanted, Qt::CaseInsensitive) == 0 && (!longName || exe.isEmpty()))
      return true;
  }
  return false;
}

} // namespace ardanto::platform
