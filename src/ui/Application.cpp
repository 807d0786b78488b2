#include "ui/Application.h"

#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "ui/ListEditor.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

// The socket pair a signal handler writes to; the only thing a handler may
// safely do is write(2).
int gSignalFds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnTerminationSignal(int)
{
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(gSignalFds[0], &byte, 1);
  errno = saved;
}

} // namespace

bool TGuardedApplication::notify(QObject* receiver, QEvent* event)
{
  try {
    return QApplication::notify(receiver, event);
  } catch (const EArdantoError& e) {
    ShowError(nullptr, e.Message());
  } catch (const std::exception& e) {
    ShowError(nullptr, QString::fromLocal8Bit(e.what()));
  }
  return false;
}

void UseOffscreenWithoutDisplay()
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool RunsWithoutDisplay()
{
  return QGuiApplication::platformName() == u"offscreen"_s;
}

void PrintUnattended(const QString& text, const QString& answer)
{
  QString plain = text;
  plain.replace(u"\r\n"_s, u"\n"_s);
  const QByteArray entry = (plain + u"\n-> "_s + answer + u'\n').toLocal8Bit();
  std::fwrite(entry.constData(), 1, static_cast<std::size_t>(entry.size()), stderr);
  std::fflush(stderr);
}

TUnattendedAnswers::TUnattendedAnswers()
{
  FResponders.Question = [](TQuestion& question) {
    TDialogButton answer = dbOk;
    QString word = u"OK"_s;
    if (question.Buttons & dbNo) {
      answer = dbNo;
      word = u"No"_s;
    } else if (question.Buttons & dbCancel) {
      answer = dbCancel;
      word = u"Cancel"_s;
    }
    PrintUnattended(question.Text, word);
    return answer;
  };
  FResponders.Folder = [](const QString& title, const QString&) {
    PrintUnattended(title, u"Cancel"_s);
    return QString();
  };
  FResponders.File = [](const TFileRequest& request) {
    PrintUnattended(request.Title, u"Cancel"_s);
    return QString();
  };
  FResponders.Text = [](const QString& label, QString&) {
    PrintUnattended(label, u"Cancel"_s);
    return false;
  };
  FResponders.Password = [](const QString& title, QString&) {
    PrintUnattended(title, u"Cancel"_s);
    return false;
  };
  FResponders.Placeholder = [](int) {
    PrintUnattended(u"Insert placeholder"_s, u"Cancel"_s);
    return QString();
  };
  SetListResponder([](const QString& title, QStringList&) {
    PrintUnattended(title, u"Cancel"_s);
    return false;
  });
}

TUnattendedAnswers::~TUnattendedAnswers()
{
  SetListResponder({});
}

bool ConfigAllowsDarkMode(const QString& configFile)
{
  try {
    return ReadBoolFromIni(configFile, u"Config"_s, u"DarkMode"_s, false);
  } catch (const EArdantoError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
    return false;
  }
}

TTerminationSignals::TTerminationSignals(QObject* parent, std::function<void()> action)
  : QObject(parent), FAction(std::move(action))
{
  if (gSignalFds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFds) != 0)
    return; // one watcher per process; without a socket the signals keep their default
  FNotifier = new QSocketNotifier(gSignalFds[1], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, &TTerminationSignals::Received);
  struct sigaction handler {};
  handler.sa_handler = OnTerminationSignal;
  sigemptyset(&handler.sa_mask);
  handler.sa_flags = SA_RESTART;
  for (const int signal : kSignals)
    ::sigaction(signal, &handler, nullptr);
}

TTerminationSignals::~TTerminationSignals()
{
  if (FNotifier == nullptr)
    return;
  for (const int signal : kSignals)
    std::signal(signal, SIG_DFL);
  ::close(gSignalFds[0]);
  ::close(gSignalFds[1]);
  gSignalFds[0] = gSignalFds[1] = -1;
}

void TTerminationSignals::Received()
{
  char bytes[16];
  [[maybe_unused]] const ssize_t read = ::read(gSignalFds[1], bytes, sizeof bytes);
  if (FAction)
    FAction();
}

} // namespace ardanto::ui
