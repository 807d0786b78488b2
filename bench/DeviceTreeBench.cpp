// Reads the object tree of a folder device and asks every object for its
// name, type, date and size, as Portkeep's window and backup run do.
//   device_tree_bench FOLDER
// Prints the object count, the times of both steps and the process's memory.

#include "devices/PortableDeviceUtils.h"
#include "devices/backends/folder/FolderDevicePlatform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <sys/resource.h>

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

long ResidentKiB()
{
  QFile status(u"/proc/self/status"_s);
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').value(0).toLong();
  return -1;
}

} // namespace

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: device_tree_bench FOLDER\n");
    return 2;
  }
  TFolderDeviceOptions options;
  options.UseEnvironment = false;
  options.Folders = {QFile::decodeName(argv[1])};
  options.GvfsRoot = u"/nonexistent"_s;
  options.RemovableVolumes = [] { return QStringList(); };

  const long before = ResidentKiB();
  TPortableDeviceManager manager(CreateFolderDevicePlatform(options));
  TPortableDevice* device = manager.GetDevice(0);
  if (device == nullptr) {
    std::fprintf(stderr, "no folder device at %s\n", argv[1]);
    return 1;
  }
  TPortableDeviceContent* content = device->Content();

  QElapsedTimer timer;
  timer.start();
  const bool complete = content->Refresh();
  const qint64 readMs = timer.elapsed();
  const long afterTree = ResidentKiB();

  timer.restart();
  std::int64_t bytes = 0;
  qsizetype nameChars = 0;
  double dates = 0;
  int files = 0;
  int folders = 0;
  for (int i = 0; i < content->ObjectCount(); ++i) {
    const TPortableDeviceObject* object = content->GetObject(i);
    nameChars += object->DisplayName().size();
    const TObjectType type = object->ObjectType();
    files += type == otFile;
    folders += type == otFolder;
    dates += object->LastWriteTime();
    bytes += object->Size();
  }
  const qint64 askMs = timer.elapsed();
  const long afterAsk = ResidentKiB();

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("objects %d (files %d, folders %d), complete %s, bytes %lld, name chars %lld, date sum %.1f\n",
              content->ObjectCount(), files, folders, complete ? "yes" : "no", static_cast<long long>(bytes),
              static_cast<long long>(nameChars), dates);
  std::printf("read tree %lld ms, ask properties %lld ms, total %lld ms\n", static_cast<long long>(readMs),
              static_cast<long long>(askMs), static_cast<long long>(readMs + askMs));
  std::printf("rss KiB: start %ld, after tree %ld, after properties %ld, peak %ld\n", before, afterTree, afterAsk,
              usage.ru_maxrss);
  return 0;
}
