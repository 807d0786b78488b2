#include "copyengine/LocalFileSource.h"

#include "common/DateTimeUtils.h"
#include "common/PathUtils.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ardanto {

int OpenLocalFileSource(const QString& fileName, TFileData& data, bool followLink)
{
  int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (!followLink)
    flags |= O_NOFOLLOW;
  int fd = -1;
  do {
    fd = ::open(QFile::encodeName(fileName).constData(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return errno;
  struct stat st {};
  const int error = ::fstat(fd, &st) != 0 ? errno : (S_ISREG(st.st_mode) ? 0 : EINVAL);
  if (error != 0) {
    ::close(fd);
    return error;
  }
  // Opened without blocking so that a fifo put in a file's place cannot
  // hang us; a regular file reads the same either way.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  data.FileName = ExtractFileName(fileName);
  data.FullPath = fileName;
  data.FileSize = st.st_size;
  data.PosixMode = st.st_mode;
  data.FileAttr = (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_READONLY;
  data.TimeStamps.Valid = true;
  data.TimeStamps.LastWriteTime = UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  data.TimeStamps.LastAccessTime = UnixTimeToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  data.StreamData.FileStream = std::make_shared<TLocalFileStream>(fd);
  data.StreamData.BufferSize = 0;
  return 0;
}

} // namespace ardanto
