// A Portkeep backup run without the window: opens a folder device, reads its
// object tree and backs up every storage into DEST through TBackupRun, the
// run the window and the automatic start use. The view keeps the progress
// lines in memory, as cheap as a view can be, and lets Qt process events
// where the window would.
//   portkeep_run_bench DEVICE DEST [MODE]
// MODE is the overwrite rule: 0 existing files when older (the default),
// 1 all, 2 none. Prints the times of both steps and the counts of the run.

#include "devices/PortableDeviceUtils.h"
#include "devices/backends/folder/FolderDevicePlatform.h"
#include "portkeep/BackupRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

class TMemoryView : public portkeep::IRunView {
public:
  void AddLine(int indent, const QString& text) override
  {
    Lines.append(QString(indent, u' ') + text);
    if (indent == 4 && text.startsWith(u"- "_s))
      ++Skipped;
  }
  void ShowFolder(const QString& path) override { Folder = path; }
  void ProcessEvents() override
  {
    ++Events;
    QCoreApplication::processEvents();
  }

  QStringList Lines;
  QString Folder;
  int Skipped = 0;
  long Events = 0;
};

} // namespace

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: portkeep_run_bench DEVICE DEST [MODE]\n");
    return 2;
  }
  TFolderDeviceOptions options;
  options.UseEnvironment = false;
  options.Folders = {QFile::decodeName(argv[1])};
  options.GvfsRoot = u"/nonexistent"_s;
  options.RemovableVolumes = [] { return QStringList(); };

  QElapsedTimer timer;
  timer.start();
  TPortableDeviceManager manager(CreateFolderDevicePlatform(options));
  TPortableDevice* device = manager.GetDevice(0);
  if (device == nullptr || device->Content() == nullptr) {
    std::fprintf(stderr, "no folder device at %s\n", argv[1]);
    return 1;
  }
  TPortableDeviceContent* content = device->Content();
  content->Refresh();
  // The window selects every storage of a device it opens.
  std::vector<TPortableDeviceObject*> storages;
  const TPortableDeviceObject* top = content->DeviceObject();
  for (int i = 0; top != nullptr && i < top->ChildCount(); ++i)
    storages.push_back(top->GetChild(i));
  const qint64 treeMs = timer.elapsed();

  portkeep::TTaskSettings settings;
  settings.Destination = QFile::decodeName(argv[2]);
  settings.Overwrite = argc == 4 ? std::atoi(argv[3]) : portkeep::omWhenOlder;
  TMemoryView view;
  portkeep::TBackupRun run(*device, settings, view);
  timer.restart();
  run.Run(storages);
  const qint64 runMs = timer.elapsed();

  std::printf("objects %d, storages %zu\n", content->ObjectCount(), storages.size());
  std::printf("copied %d, skipped %d, errors %d, progress lines %lld, event calls %ld\n", run.TotalCopied(),
              view.Skipped, run.TotalErrors(), static_cast<long long>(view.Lines.size()), view.Events);
  std::printf("read tree %lld ms, run %lld ms, total %lld ms\n", static_cast<long long>(treeMs),
              static_cast<long long>(runMs), static_cast<long long>(treeMs + runMs));
  return run.TotalErrors() == 0 ? 0 : 1;
}
