// Portkeep's main window, measured offscreen (QT_QPA_PLATFORM=offscreen).
//   portkeep_window_bench start
//       Starts like the program does (language, window, style, show) with the
//       devices the program would list (PORTKEEP_FOLDER_DEVICES), and prints
//       when main() was entered, the window was built, shown and first
//       painted, the start timer fired and the device list was loaded. Times
//       count from PK_BENCH_T0_NS (CLOCK_REALTIME in ns, set by whoever
//       started the process) when given, else from main().
//   portkeep_window_bench tree DEVICE
//       Lists the folder device DEVICE and times selecting it (reading and
//       showing its folder tree) and painting the window afterwards.
//   portkeep_window_bench run DEVICE DEST [RUNS]
//       Selects DEVICE, backs up all its storages into DEST with the window's
//       Backup button RUNS times (default 2: a first run and one with nothing
//       changed), and measures the gaps between the moments the run let the
//       window process events (OnRunEvent, with a steady clock).

#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "devices/DevicePlatforms.h"
#include "devices/PortableDeviceUtils.h"
#include "devices/backends/folder/FolderDevicePlatform.h"
#include "portkeep/gui/MainForm.h"
#include "ui/HistoryComboBox.h"
#include "ui/Styles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

std::int64_t RealtimeNs()
{
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t g_t0 = 0;

double SinceStartMs()
{
  return static_cast<double>(RealtimeNs() - g_t0) / 1e6;
}

double Ms(Clock::duration d)
{
  return std::chrono::duration<double, std::milli>(d).count();
}

// Records the first time an object receives an event of one type.
class TFirstEvent : public QObject {
public:
  TFirstEvent(QEvent::Type type, double& when) : FType(type), FWhen(when) {}
  bool eventFilter(QObject* watched, QEvent* event) override
  {
    if (event->type() == FType && FWhen < 0)
      FWhen = SinceStartMs();
    return QObject::eventFilter(watched, event);
  }

private:
  QEvent::Type FType;
  double& FWhen;
};

std::shared_ptr<ardanto::IDevicePlatform> FolderPlatform(const char* folder)
{
  ardanto::TFolderDeviceOptions options;
  options.UseEnvironment = false;
  options.Folders = {QFile::decodeName(folder)};
  options.GvfsRoot = u"/nonexistent"_s;
  options.RemovableVolumes = [] { return QStringList(); };
  return ardanto::CreateFolderDevicePlatform(options);
}

int StartBench(QApplication& app)
{
  const double entered = SinceStartMs();
  QApplication::setApplicationName(u"Portkeep"_s);
  const QStringList arguments = QApplication::arguments().mid(1, 0);
  ardanto::SelectLanguage(ardanto::SettingsFolder(u"Ardanto6/"_s), u"Ardanto.cfg"_s, {u"portkeep"_s, u"ardanto-lib"_s},
                          arguments);
  double shown = -1;
  double painted = -1;
  double timerFired = -1;
  double listLoaded = -1;
  const double beforeForm = SinceStartMs();
  portkeep::TMainForm window(arguments, ardanto::CreateDefaultDevicePlatform());
  const double formBuilt = SinceStartMs();
  ardanto::ui::ApplyStyle(app, false);
  TFirstEvent showWatch(QEvent::Show, shown);
  TFirstEvent paintWatch(QEvent::Paint, painted);
  window.installEventFilter(&showWatch);
  window.installEventFilter(&paintWatch);
  // The timer event reaches the timer before its timeout runs the window's
  // handler; a slot connected after the window's runs once that has returned.
  auto* startTimer = window.findChild<QTimer*>(u"tmStartTimer"_s);
  TFirstEvent timerWatch(QEvent::Timer, timerFired);
  startTimer->installEventFilter(&timerWatch);
  QObject::connect(startTimer, &QTimer::timeout, &app, [&] {
    listLoaded = SinceStartMs();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
  });
  window.show();
  app.exec();
  const int devices = window.findChild<QListWidget*>(u"lbDevices"_s)->count();
  std::printf("main entered %.1f ms, form constructor %.1f ms (from %.1f to %.1f), shown %.1f ms, first paint %.1f "
              "ms, start timer %.1f ms, device list loaded %.1f ms (took %.1f ms, %d devices)\n",
              entered, formBuilt - beforeForm, beforeForm, formBuilt, shown, painted, timerFired, listLoaded,
              listLoaded - timerFired, devices);
  return devices > 0 ? 0 : 1;
}

int TreeBench(const char* folder)
{
  portkeep::TMainForm window({}, FolderPlatform(folder));
  window.show();
  QApplication::processEvents();
  // The start timer's work at once (it stops the timer): the device list.
  window.tmStartTimerTimer();
  QApplication::processEvents();

  const auto start = Clock::now();
  window.SelectDevice(0);
  const auto selected = Clock::now();
  QApplication::processEvents();
  const auto painted = Clock::now();

  ardanto::TPortableDeviceContent* content = window.Device() != nullptr ? window.Device()->Content() : nullptr;
  auto* tree = window.findChild<QTreeWidget*>(u"tvFolders"_s);
  int items = 0;
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
    ++items;
  std::printf("objects %d, folders %d, tree items %d\n", content != nullptr ? content->ObjectCount() : 0,
              content != nullptr ? content->FolderCount() : 0, items);
  std::printf("select device (read and show tree) %.1f ms, paint %.1f ms, total %.1f ms\n", Ms(selected - start),
              Ms(painted - selected), Ms(painted - start));
  return content != nullptr ? 0 : 1;
}

int RunBench(const char* folder, const char* dest, int runs)
{
  portkeep::TMainForm window({}, FolderPlatform(folder));
  window.show();
  QApplication::processEvents();
  window.tmStartTimerTimer();
  window.SelectDevice(0);
  window.findChild<ardanto::ui::THistoryComboBox*>(u"cbxDestination"_s)->setEditText(QFile::decodeName(dest));
  QApplication::processEvents();
  auto* progress = window.findChild<QPlainTextEdit*>(u"mmProgress"_s);

  int status = 0;
  for (int r = 1; r <= runs; ++r) {
    std::vector<Clock::time_point> events;
    events.reserve(1 << 20);
    double longest = 0;
    QString longestAfter;
    auto last = Clock::now();
    const auto start = last;
    window.OnRunEvent = [&] {
      const auto now = Clock::now();
      const double gap = Ms(now - last);
      if (gap > longest) {
        longest = gap;
        longestAfter = progress->document()->lastBlock().text();
      }
      events.push_back(now);
      last = now;
    };
    window.StartBackup();
    const auto end = Clock::now();
    window.OnRunEvent = nullptr;
    const double tail = Ms(end - last);
    if (tail > longest) {
      longest = tail;
      longestAfter = u"(end of run)"_s;
    }

    std::vector<double> gaps;
    gaps.reserve(events.size() + 1);
    auto previous = start;
    for (const auto& e : events) {
      gaps.push_back(Ms(e - previous));
      previous = e;
    }
    gaps.push_back(tail);
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 100.0; });
    const QStringList lines = window.ProgressLines();
    const QString summary = lines.size() >= 2 ? lines[lines.size() - 1] : QString();
    std::printf("run %d: %.0f ms, %s, %zu event calls, gaps: median %.2f ms, 99%% %.2f ms, 99.9%% %.2f ms, longest "
                "%.1f ms (after \"%s\"), over 100 ms: %lld\n",
                r, Ms(end - start), qPrintable(summary.trimmed()), events.size(), sorted[sorted.size() / 2],
                sorted[sorted.size() * 99 / 100], sorted[sorted.size() * 999 / 1000], longest,
                qPrintable(longestAfter.trimmed()), static_cast<long long>(over));
    if (events.empty())
      status = 1;
  }
  return status;
}

} // namespace

int main(int argc, char** argv)
{
  const QByteArray t0 = qgetenv("PK_BENCH_T0_NS");
  g_t0 = t0.isEmpty() ? RealtimeNs() : t0.toLongLong();
  QApplication app(argc, argv);
  const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
  if (mode == "start" && argc == 2)
    return StartBench(app);
  if (mode == "tree" && argc == 3)
    return TreeBench(argv[2]);
  if (mode == "run" && (argc == 4 || argc == 5))
    return RunBench(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 2);
  std::fprintf(stderr, "usage: portkeep_window_bench start | tree DEVICE | run DEVICE DEST [RUNS]\n");
  return 2;
}
