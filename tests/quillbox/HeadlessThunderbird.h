#pragma once

// The installed Thunderbird started headless on a test's HOME, in a process
// group of its own, until the test ends it.

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <functional>

#include <csignal>
#include <unistd.h>

namespace quillbox::test {

class THeadlessThunderbird {
public:
  // False when Thunderbird is not installed or does not start.
  bool Start(const QString& home, const QString& profile)
  {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("thunderbird"));
    if (program.isEmpty())
      return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("MOZ_HEADLESS"), QStringLiteral("1"));
    env.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    FProcess.setProcessEnvironment(env);
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that the end reaches every process it starts.
    FProcess.setChildProcessModifier([] { ::setpgid(0, 0); });
    FProcess.start(program,
                   {QStringLiteral("--headless"), QStringLiteral("-no-remote"), QStringLiteral("-P"), profile});
    return FProcess.waitForStarted(10000);
  }
  // Waits at most timeoutMs for condition while Thunderbird runs.
  bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000)
  {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
      // The wrapper script may end while the program it started goes on in
      // its group: only the time limit ends the wait.
      if (condition())
        return true;
      QThread::msleep(100);
    }
    return false;
  }
  // Ends it as a session end would.
  void Stop()
  {
    if (FProcess.state() == QProcess::NotRunning)
      return;
    const pid_t group = static_cast<pid_t>(FProcess.processId());
    ::kill(-group, SIGTERM);
    if (!FProcess.waitForFinished(20000)) {
      ::kill(-group, SIGKILL);
      FProcess.waitForFinished(10000);
    }
  }
  QByteArray Output() { return FProcess.readAll(); }
  ~THeadlessThunderbird() { Stop(); }

private:
  QProcess FProcess;
};

} // namespace quillbox::test
