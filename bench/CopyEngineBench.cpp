// Copy engine benchmark: copies one file, or every file of a folder, into a
// destination folder with TWinCopyThread jobs run one after another, as the
// device program does. bench/copyengine.sh times it against cp, gzip and zip.
//
//   copyengine_bench plain|gzip|zip SOURCE DESTDIR [BUFFER_BYTES, default 256 KiB]

#include "copyengine/ExtFileTools.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

// A file as the device layer would hand it over.
class TFileStream : public IReadStream, public IFileHandleStream {
public:
  explicit TFileStream(int handle) : FHandle(handle) {}
  int FileHandle() const override { return FHandle; }
  ~TFileStream() override { ::close(FHandle); }
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override
  {
    ssize_t n;
    do {
      n = ::read(FHandle, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      *bytesRead = 0;
      return HResultFromErrno(errno);
    }
    *bytesRead = static_cast<std::uint32_t>(n);
    return S_OK;
  }

private:
  int FHandle;
};

} // namespace

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: copyengine_bench plain|gzip|zip SOURCE DESTDIR [BUFFER_BYTES]\n");
    return 2;
  }
  const QString mode = args[1];
  TCopyOptions options{coOverwrite, coTimeStamp};
  QString extension;
  if (mode == u"gzip"_s) {
    options.Include(coCompress);
    extension = u".gz"_s;
  } else if (mode == u"zip"_s) {
    options.Include(coCompress);
    options.Include(coZipCompress);
    extension = u".zip"_s;
  } else if (mode != u"plain"_s) {
    std::fprintf(stderr, "unknown mode\n");
    return 2;
  }
  const auto bufferSize = static_cast<std::uint32_t>(args.size() > 4 ? args[4].toUInt() : 256u * 1024);

  QStringList sources;
  if (QFileInfo(args[2]).isDir()) {
    QDirIterator it(args[2], QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
      sources << it.next();
    sources.sort();
  } else {
    sources << args[2];
  }

  std::int64_t bytes = 0;
  int failures = 0;
  for (const QString& source : sources) {
    const int handle = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) {
      ++failures;
      continue;
    }
    const QFileInfo info(source);
    TFileData data;
    data.FileName = info.fileName();
    data.FullPath = source;
    data.StreamData.FileStream = std::make_shared<TFileStream>(handle);
    data.StreamData.BufferSize = bufferSize;
    data.FileSize = info.size();
    data.FileAttr = FILE_ATTRIBUTE_ARCHIVE;
    data.TimeStamps.Valid = true;
    data.TimeStamps.LastWriteTime = (info.lastModified().toSecsSinceEpoch() + 11644473600LL) * 10'000'000LL;

    TWinCopyThread thread(data, args[3] + u'/' + info.fileName() + extension, nullptr, options, true);
    thread.Start();
    thread.WaitFor();
    if (thread.ErrorCode() != 0) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(source), qPrintable(thread.SysErrorMsg()));
      ++failures;
    }
    bytes += info.size();
  }
  std::printf("%lld files, %lld bytes, %d failures\n", static_cast<long long>(sources.size()),
              static_cast<long long>(bytes), failures);
  return failures == 0 ? 0 : 1;
}
