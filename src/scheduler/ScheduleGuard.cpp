#include "scheduler/ScheduleGuard.h"

#include "common/HResult.h"
#include "common/Translate.h"
#include "scheduler/TaskSchedule.h"
#include "scheduler/backends/systemd/SystemdTaskPlatform.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

namespace {

void Say(const QString& text)
{
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int Usage()
{
  Say(u"usage: ardanto-schedule-guard check --state FILE TASK.xml\n"
      "       ardanto-schedule-guard run --state FILE [--cwd DIR] -- PROGRAM [ARGUMENT...]"_s);
  return 255;
}

int Check(const QString& stateFile, const QString& xmlFile)
{
  std::shared_ptr<TSchedDefinition> definition;
  try {
    QFile file(xmlFile);
    if (!file.open(QIODevice::ReadOnly)) {
      Say(_("The task's definition %1 cannot be read: %2").arg(xmlFile, file.errorString()));
      return 255;
    }
    definition = TSchedDefinition::FromXml(file.readAll());
  } catch (const ETaskSchedulerError& error) {
    Say(xmlFile + u": "_s + error.Message());
    return 255;
  }
  TTaskRunState state;
  ReadRunState(stateFile, state);
  TRunCheck check;
  check.Now = QDateTime::currentDateTimeUtc();
  if (state.LastHandled > 0)
    check.LastHandled = QDateTime::fromSecsSinceEpoch(state.LastHandled, Qt::UTC);
  check.LogonTime = ManagerStartTime();
  check.NetworkAvailable = NetworkAvailable();
  const TRunDecision decision = DecideScheduledRun(*definition, check);
  if (!decision.Due) {
    Say(decision.Reason);
    return 1;
  }
  QString error;
  const qint64 occurrence = decision.Occurrence.toSecsSinceEpoch();
  if (!UpdateRunState(
          stateFile, [occurrence](TTaskRunState& s) { s.LastHandled = occurrence; }, error))
    Say(error); // the run goes ahead; at worst the occurrence is offered once more
  Say(_("Starting the task for its start at %1").arg(decision.Occurrence.toLocalTime().toString(Qt::ISODate)));
  return 0;
}

volatile std::sig_atomic_t gStopRequested = 0;

void NoteStop(int)
{
  gStopRequested = 1;
}

int RunProgram(const QString& stateFile, const QString& directory, const QStringList& command)
{
  QString error;
  const qint64 started = QDateTime::currentSecsSinceEpoch();
  UpdateRunState(
      stateFile,
      [started](TTaskRunState& s) {
        s.LastRun = started;
        s.Running = true;
      },
      error);

  // The manager stops a unit by signalling every process in it: the program
  // gets the signal itself, and the guard stays to record how it ended.
  struct sigaction action = {};
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  std::vector<QByteArray> words;
  for (const QString& word : command)
    words.push_back(word.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const QByteArray cwd = directory.toLocal8Bit();

  // The child reports a failed exec through a pipe that closes on success.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0)
    return 255;
  const pid_t child = fork();
  if (child < 0)
    return 255;
  if (child == 0) {
    close(report[0]);
    int failure = 0;
    if (!cwd.isEmpty() && chdir(cwd.constData()) != 0)
      failure = errno;
    else {
      execvp(argv[0], argv.data());
      failure = errno;
    }
    [[maybe_unused]] const ssize_t written = write(report[1], &failure, sizeof failure);
    _exit(127);
  }
  close(report[1]);
  int execError = 0;
  ssize_t got;
  do
    got = read(report[0], &execError, sizeof execError);
  while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got != ssize_t(sizeof execError))
    execError = 0;

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  qint64 result = 0;
  int exitCode = 0;
  if (execError != 0) {
    Say(_("%1 cannot be started: %2").arg(command.first(), QString::fromLocal8Bit(std::strerror(execError))));
    result = HResultFromErrno(execError);
    exitCode = 127;
  } else if (WIFEXITED(status)) {
    result = WEXITSTATUS(status);
    exitCode = WEXITSTATUS(status);
  } else {
    result = SCHED_S_TASK_TERMINATED;
    exitCode = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  }
  UpdateRunState(
      stateFile,
      [result](TTaskRunState& s) {
        s.Result = result;
        s.Running = false;
      },
      error);
  return exitCode;
}

} // namespace

int ScheduleGuardMain(const QStringList& arguments)
{
  if (arguments.size() < 3 || arguments[1] != u"--state")
    return Usage();
  const QString mode = arguments[0];
  const QString stateFile = arguments[2];
  if (mode == u"check" && arguments.size() == 4)
    return Check(stateFile, arguments[3]);
  if (mode == u"run") {
    qsizetype next = 3;
    QString directory;
    if (next + 1 < arguments.size() && arguments[next] == u"--cwd") {
      directory = arguments[next + 1];
      next += 2;
    }
    if (next < arguments.size() && arguments[next] == u"--" && next + 1 < arguments.size())
      return RunProgram(stateFile, directory, arguments.mid(next + 1));
  }
  return Usage();
}

QDateTime ManagerStartTime()
{
  bool ok = false;
  const qint64 pid = qEnvironmentVariable("MANAGERPID").toLongLong(&ok);
  if (!ok || pid <= 0)
    return {};
  QFile statFile(u"/proc/%1/stat"_s.arg(pid));
  QFile bootFile(u"/proc/stat"_s);
  if (!statFile.open(QIODevice::ReadOnly) || !bootFile.open(QIODevice::ReadOnly))
    return {};
  // The command name in parentheses may hold blanks; the fields after it are
  // numbers, the start time (clock ticks after boot) the 20th of them.
  const QByteArray stat = statFile.readAll();
  const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
  if (fields.size() < 20)
    return {};
  const qint64 ticks = fields[19].toLongLong(&ok);
  if (!ok)
    return {};
  qint64 bootTime = 0;
  for (const QByteArray& line : bootFile.readAll().split('\n'))
    if (line.startsWith("btime "))
      bootTime = line.mid(6).trimmed().toLongLong();
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  if (bootTime <= 0 || ticksPerSecond <= 0)
    return {};
  return QDateTime::fromSecsSinceEpoch(bootTime + ticks / ticksPerSecond, Qt::UTC);
}

bool NetworkAvailable()
{
  QFile ipv4(u"/proc/net/route"_s);
  if (ipv4.open(QIODevice::ReadOnly)) {
    // Iface Destination Gateway Flags ... Mask: a default route has destination and mask 0.
    for (const QByteArray& line : ipv4.readAll().split('\n')) {
      const QList<QByteArray> fields = line.simplified().split(' ');
      if (fields.size() > 7 && fields[0] != "lo" && fields[1] == "00000000" && fields[7] == "00000000")
        return true;
    }
  }
  QFile ipv6(u"/proc/net/ipv6_route"_s);
  if (ipv6.open(QIODevice::ReadOnly)) {
    // destination, prefix length, ..., interface last.
    for (const QByteArray& line : ipv6.readAll().split('\n')) {
      const QList<QByteArray> fields = line.simplified().split(' ');
      if (fields.size() >= 10 && fields[0] == QByteArray(32, '0') && fields[1] == "00" && fields[9] != "lo")
        return true;
    }
  }
  return false;
}

} // namespace ardanto::scheduler
