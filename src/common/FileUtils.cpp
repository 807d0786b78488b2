#include "common/FileUtils.h"

#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

QByteArray Native(const QString& name)
{
  return QFile::encodeName(name);
}

// The system's text for an errno value, without the code.
QString SysErrorMessage(int code)
{
  return QString::fromLocal8Bit(std::strerror(code));
}

int Retry(auto call)
{
  int result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

timespec FileTimeToTimespec(TFileTime ft)
{
  const std::int64_t sinceUnix = ft - kUnixEpochFileTimeSeconds * kFileTimePerSecond;
  std::int64_t seconds = sinceUnix / kFileTimePerSecond;
  std::int64_t rest = sinceUnix % kFileTimePerSecond;
  if (rest < 0) {
    rest += kFileTimePerSecond;
    --seconds;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

// A file time that converts to a date in the range the file system keeps and
// does not lie more than a day ahead of now.
bool PlausibleFileTime(TFileTime ft, TFileTime now)
{
  return ft > 0 && ft <= now + kFileTimePerDay;
}

// Removes a temporary file unless released.
class TTempFileGuard {
public:
  explicit TTempFileGuard(QByteArray name) : FName(std::move(name)) {}
  ~TTempFileGuard()
  {
    if (!FName.isEmpty())
      ::unlink(FName.constData());
  }
  void Release() { FName.clear(); }
  const QByteArray& Name() const { return FName; }

private:
  QByteArray FName;
};

class TFdGuard {
public:
  explicit TFdGuard(int fd = -1) : FFd(fd) {}
  ~TFdGuard() { Close(); }
  TFdGuard(const TFdGuard&) = delete;
  TFdGuard& operator=(const TFdGuard&) = delete;
  int Get() const { return FFd; }
  int Close()
  {
    int result = 0;
    if (FFd >= 0)
      result = ::close(FFd);
    FFd = -1;
    return result < 0 ? errno : 0;
  }

private:
  int FFd;
};

int WriteAll(int fd, const char* data, std::size_t size)
{
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (written == 0)
      return ENOSPC;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

// Creates a unique temporary file beside target; the name is hidden and says
// what it belongs to, in case a power cut leaves it behind.
int CreateTempBeside(const QByteArray& target, QByteArray& tempName, mode_t mode)
{
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray dir = slash < 0 ? QByteArray() : target.left(slash + 1);
  const QByteArray base = target.mid(slash + 1);
  tempName = dir + '.' + base + ".XXXXXX";
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0)
    return -1;
  ::fchmod(fd, mode);
  return fd;
}

// The process's umask. The kernel tells it in /proc; setting it to read it
// back would let another thread create a file under the wrong mask.
mode_t CurrentUmask()
{
  QFile status(u"/proc/self/status"_s);
  if (status.open(QIODevice::ReadOnly)) {
    while (!status.atEnd()) {
      const QByteArray line = status.readLine();
      if (line.startsWith("Umask:")) {
        bool ok = false;
        const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
        if (ok)
          return static_cast<mode_t>(mask & 0777);
      }
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// Follows symbolic links so that the file they lead to is the one replaced.
QByteArray ResolveLinkChain(const QByteArray& name)
{
  QByteArray current = name;
  for (int depth = 0; depth < 40; ++depth) {
    char buffer[4096];
    const ssize_t length = ::readlink(current.constData(), buffer, sizeof buffer);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer)
      return current;
    QByteArray target(buffer, length);
    if (!target.startsWith('/')) {
      const qsizetype slash = current.lastIndexOf('/');
      target = (slash < 0 ? QByteArray() : current.left(slash + 1)) + target;
    }
    current = target;
  }
  return current;
}

} // namespace

// ---------------------------------------------------------------------------
// TExtFileStream

TExtFileStream::TExtFileStream(const QString& fileName, std::uint32_t mode, mode_t rights) : FFileName(fileName)
{
  const bool create = (mode & 0xFF00u) == 0xFF00u;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_CREAT | O_TRUNC | O_RDWR;
  } else {
    switch (mode & 0x3u) {
    case fmOpenWrite:
      flags |= O_WRONLY;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDONLY;
      break;
    }
  }
  const QByteArray native = Native(fileName);
  FHandle = Retry([&] { return ::open(native.constData(), flags, rights); });
  if (FHandle < 0) {
    const int error = errno;
    const QString pattern = create ? _("Cannot create file \"%s\". %s") : _("Cannot open file \"%s\". %s");
    throw EExtFileStreamError(FormatText(pattern, {QFileInfo(fileName).absoluteFilePath(), SysErrorMessage(error)}),
                              error);
  }
}

TExtFileStream::~TExtFileStream()
{
  if (FHandle >= 0)
    ::close(FHandle);
}

int TExtFileStream::Read(void* buffer, std::size_t count, std::size_t& readCount)
{
  readCount = 0;
  auto* out = static_cast<char*>(buffer);
  while (readCount < count) {
    const ssize_t n = ::read(FHandle, out + readCount, count - readCount);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return FLastError = errno;
    }
    if (n == 0)
      break;
    readCount += static_cast<std::size_t>(n);
  }
  return FLastError = 0;
}

int TExtFileStream::Write(const void* buffer, std::size_t count, std::size_t& writeCount)
{
  writeCount = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (writeCount < count) {
    const ssize_t n = ::write(FHandle, in + writeCount, count - writeCount);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return FLastError = errno;
    }
    if (n == 0)
      return FLastError = ENOSPC;
    writeCount += static_cast<std::size_t>(n);
  }
  return FLastError = 0;
}

std::int64_t TExtFileStream::Seek(std::int64_t offset, int whence)
{
  const off_t position = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (position < 0) {
    FLastError = errno;
    return -1;
  }
  return position;
}

std::int64_t TExtFileStream::Size() const
{
  struct stat st {};
  return ::fstat(FHandle, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

int TExtFileStream::Sync()
{
  return ::fsync(FHandle) == 0 ? 0 : (FLastError = errno);
}

// ---------------------------------------------------------------------------
// Whole files

int WriteFileAtomically(const QString& fileName, QByteArrayView data, mode_t newFileMode)
{
  if (fileName.isEmpty())
    return ENOENT;
  const QByteArray target = ResolveLinkChain(Native(fileName));

  // A new file gets what the user's umask allows of the mode asked for.
  mode_t mode = newFileMode & ~CurrentUmask();
  struct stat old {};
  const bool exists = ::stat(target.constData(), &old) == 0;
  if (exists) {
    if (S_ISDIR(old.st_mode))
      return EISDIR;
    mode = old.st_mode & 07777;
  }

  QByteArray tempName;
  TFdGuard fd(CreateTempBeside(target, tempName, mode));
  if (fd.Get() < 0)
    return errno;
  TTempFileGuard temp(tempName);
  if (exists && ::geteuid() == 0)
    (void)::fchown(fd.Get(), old.st_uid, old.st_gid); // root keeps the owner

  if (int error = WriteAll(fd.Get(), data.data(), static_cast<std::size_t>(data.size())))
    return error;
  if (::fsync(fd.Get()) != 0)
    return errno;
  if (int error = fd.Close())
    return error;
  if (::rename(tempName.constData(), target.constData()) != 0)
    return errno;
  temp.Release();

  // Make the rename itself durable.
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray dir = slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : target.left(slash);
  TFdGuard dirFd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.Get() >= 0)
    ::fsync(dirFd.Get());
  return 0;
}

QByteArray ReadWholeFile(const QString& fileName, std::int64_t maxSize)
{
  TExtFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  struct stat st {};
  if (::fstat(stream.Handle(), &st) != 0 || S_ISDIR(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    throw EExtFileStreamError(
        FormatText(_("Cannot open file \"%s\". %s"), {QFileInfo(fileName).absoluteFilePath(), SysErrorMessage(error)}),
        error);
  }
  if (st.st_size > maxSize) {
    throw EExtFileStreamError(
        FormatText(_("Cannot open file \"%s\". %s"), {QFileInfo(fileName).absoluteFilePath(), SysErrorMessage(EFBIG)}),
        EFBIG);
  }
  QByteArray data;
  // Files in /proc report size 0: read until the end in any case.
  std::size_t capacity = static_cast<std::size_t>(st.st_size) + 1;
  for (;;) {
    const auto used = static_cast<std::size_t>(data.size());
    data.resize(static_cast<qsizetype>(std::max(capacity, used + 4096)));
    std::size_t got = 0;
    const int error = stream.Read(data.data() + used, static_cast<std::size_t>(data.size()) - used, got);
    if (error != 0) {
      throw EExtFileStreamError(FormatText(_("Error reading from \"%s\""), {QFileInfo(fileName).absoluteFilePath()}) +
                                    u' ' + SysErrorMessage(error),
                                error);
    }
    data.resize(static_cast<qsizetype>(used + got));
    if (used + got < capacity && got < 4096)
      break;
    if (static_cast<std::int64_t>(data.size()) > maxSize) {
      throw EExtFileStreamError(FormatText(_("Cannot open file \"%s\". %s"),
                                           {QFileInfo(fileName).absoluteFilePath(), SysErrorMessage(EFBIG)}),
                                EFBIG);
    }
    capacity = static_cast<std::size_t>(data.size()) * 2;
  }
  return data;
}

// ---------------------------------------------------------------------------
// Copying

void CopyFileWithTimestamp(const QString& source, const QString& destination, int attributes, std::size_t bufferSize)
{
  if (source.compare(destination, Qt::CaseInsensitive) == 0)
    return;
  const QByteArray src = Native(source);
  struct stat srcStat {};
  if (destination.isEmpty() || ::stat(src.constData(), &srcStat) != 0 || S_ISDIR(srcStat.st_mode))
    throw ECopyError(FormatText(_("File not found: \"%s\""), {source}), ENOENT);

  const TFileTime lastWrite = UnixTimeToFileTime(srcStat.st_mtim.tv_sec, srcStat.st_mtim.tv_nsec);
  const std::uint32_t attr = attributes < 0 ? GetFileAttr(source) : static_cast<std::uint32_t>(attributes);

  TFdGuard in(Retry([&] { return ::open(src.constData(), O_RDONLY | O_CLOEXEC); }));
  if (in.Get() < 0)
    throw ECopyError(FormatText(_("Error opening \"%s\""), {source}), errno);

  // The copy goes to a temporary file beside the destination: an old
  // destination stays as it was until the new one is complete.
  const QByteArray dest = Native(destination);
  QByteArray tempName;
  TFdGuard out(CreateTempBeside(dest, tempName, 0600));
  if (out.Get() < 0)
    throw ECopyError(FormatText(_("Error creating \"%s\""), {destination}), errno);
  TTempFileGuard temp(tempName);

  std::vector<char> buffer(std::max<std::size_t>(bufferSize, 4096));
  for (;;) {
    const ssize_t n = ::read(in.Get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw ECopyError(FormatText(_("Error reading from \"%s\""), {source}), errno);
    }
    if (n == 0)
      break;
    if (int error = WriteAll(out.Get(), buffer.data(), static_cast<std::size_t>(n)))
      throw ECopyError(FormatText(_("Error writing to \"%s\""), {destination}), error);
  }
  in.Close();
  if (::fsync(out.Get()) != 0 || out.Close() != 0)
    throw ECopyError(FormatText(_("Error writing to \"%s\""), {destination}), errno);
  if (::rename(tempName.constData(), dest.constData()) != 0)
    throw ECopyError(FormatText(_("Error creating \"%s\""), {destination}), errno);
  temp.Release();

  TFileTimestamps stamps;
  stamps.Valid = true;
  stamps.LastWriteTime = lastWrite;
  if (int error = SetFileTimestamps(destination, stamps, true, false, false))
    throw ECopyError(FormatText(_("Error setting timestamps of \"%s\""), {destination}), error);
  if (int error = SetFileAttr(destination, attr))
    throw ECopyError(FormatText(_("Error setting attributes of \"%s\""), {destination}), error);
}

// ---------------------------------------------------------------------------
// Time stamps

int SetFileTimestamps(const QString& fileName, const TFileTimestamps& stamps, bool check, bool followLink,
                      bool allThree)
{
  const TFileTime now = CurrentFileTime();
  TFileTime access = stamps.LastAccessTime;
  TFileTime write = stamps.LastWriteTime;
  if (!stamps.Valid) {
    access = write = now;
  } else if (check) {
    if (!PlausibleFileTime(access, now))
      access = now;
    if (!PlausibleFileTime(write, now))
      write = now;
  }
  timespec times[2];
  times[0] = allThree ? FileTimeToTimespec(access) : timespec{0, UTIME_OMIT};
  times[1] = FileTimeToTimespec(write);
  const QByteArray native = Native(fileName);
  if (::utimensat(AT_FDCWD, native.constData(), times, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  return 0;
}

int SetFileWriteTime(const QString& fileName, TDateTime utc)
{
  timespec times[2];
  times[0] = timespec{0, UTIME_OMIT};
  times[1] = FileTimeToTimespec(DateTimeUtcToFileTime(utc));
  const QByteArray native = Native(fileName);
  return ::utimensat(AT_FDCWD, native.constData(), times, 0) == 0 ? 0 : errno;
}

TDateTime GetFileWriteTime(const QString& fileName)
{
  struct stat st {};
  const QByteArray native = Native(fileName);
  if (::stat(native.constData(), &st) != 0 && ::lstat(native.constData(), &st) != 0)
    return 0.0;
  return FileTimeToDateTimeUtc(UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
}

bool GetFileTimestamps(const QString& fileName, TFileTimestamps& stamps)
{
  struct statx stx {};
  const QByteArray native = Native(fileName);
  if (::statx(AT_FDCWD, native.constData(), 0, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
    return false;
  stamps.Valid = true;
  stamps.LastWriteTime = UnixTimeToFileTime(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
  stamps.LastAccessTime = UnixTimeToFileTime(stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec);
  stamps.CreationTime = (stx.stx_mask & STATX_BTIME) ? UnixTimeToFileTime(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec)
                                                     : stamps.LastWriteTime;
  return true;
}

void TimestampsFromDates(TFileTimestamps& stamps, TDateTime lastWrite, TDateTime creation)
{
  stamps.Valid = true;
  stamps.CreationTime = DateTimeUtcToFileTime(LocalToUtc(creation));
  stamps.LastWriteTime = DateTimeUtcToFileTime(LocalToUtc(lastWrite));
  stamps.LastAccessTime = stamps.LastWriteTime;
}

std::int64_t FileTimeToUnix(TFileTime ft)
{
  const std::int64_t sinceUnix = ft - kUnixEpochFileTimeSeconds * kFileTimePerSecond;
  // Round half away from zero to the nearest second.
  const std::int64_t half = kFileTimePerSecond / 2;
  return sinceUnix >= 0 ? (sinceUnix + half) / kFileTimePerSecond : -((-sinceUnix + half) / kFileTimePerSecond);
}

std::uint32_t FileTimeToDosTime(TFileTime ft)
{
  if (ft < 0)
    return 0xFFFFFFFFu;
  const std::int64_t sinceUnix = ft - kUnixEpochFileTimeSeconds * kFileTimePerSecond;
  std::int64_t seconds = sinceUnix / kFileTimePerSecond;
  if (sinceUnix % kFileTimePerSecond < 0)
    --seconds;
  const auto t = static_cast<time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr)
    return 0xFFFFFFFFu;
  const int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107)
    return 0xFFFFFFFFu;
  const std::uint32_t date = (static_cast<std::uint32_t>(year - 1980) << 9) |
                             (static_cast<std::uint32_t>(local.tm_mon + 1) << 5) |
                             static_cast<std::uint32_t>(local.tm_mday);
  const std::uint32_t time = (static_cast<std::uint32_t>(local.tm_hour) << 11) |
                             (static_cast<std::uint32_t>(local.tm_min) << 5) |
                             static_cast<std::uint32_t>(local.tm_sec / 2);
  return (date << 16) | time;
}

// ---------------------------------------------------------------------------
// Attributes and links

std::uint32_t GetFileAttr(const QString& fileName)
{
  struct stat st {};
  const QByteArray native = Native(fileName);
  if (::stat(native.constData(), &st) != 0)
    return 0xFFFFFFFFu;
  if (S_ISDIR(st.st_mode))
    return FILE_ATTRIBUTE_DIRECTORY | ((st.st_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
  return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_READONLY;
}

int SetFileAttr(const QString& fileName, std::uint32_t attributes)
{
  struct stat st {};
  const QByteArray native = Native(fileName);
  if (::stat(native.constData(), &st) != 0)
    return errno;
  mode_t mode = st.st_mode & 07777;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  if (mode == (st.st_mode & 07777))
    return 0;
  return ::chmod(native.constData(), mode) == 0 ? 0 : errno;
}

bool GetLinkTarget(const QString& name, QString& target)
{
  const QFileInfo info(name);
  if (!info.isSymLink())
    return false;
  const QString resolved = info.symLinkTarget(); // absolute, relative targets resolved
  if (resolved.isEmpty() || !QFileInfo::exists(resolved))
    return false;
  target = resolved;
  return true;
}

// ---------------------------------------------------------------------------
// Size texts

QString FormatFileSize(bool decimalUnits, bool trim, QChar decimalSeparator, std::int64_t size)
{
  const double base = decimalUnits ? 1000.0 : 1024.0;
  if (static_cast<double>(size) < base)
    return QString::number(size) + u" B"_s;
  static const char* const kBinary[] = {"KiB", "MiB", "GiB"};
  static const char* const kDecimal[] = {"kB", "MB", "GB"};
  double value = static_cast<double>(size);
  int unit = -1;
  while (value >= base && unit < 2) {
    value /= base;
    ++unit;
  }
  int decimals = 2;
  if (unit < 2)
    decimals = value < 10.0 ? 2 : (value < 100.0 ? 1 : 0);
  if (trim && decimals > 0) {
    const double tolerance = decimals == 1 ? 0.1 : 0.01;
    if (std::fabs(value - std::round(value)) < tolerance)
      decimals = 0;
  }
  QString number = QString::number(value, 'f', decimals);
  const QString separator = decimalSeparator.isNull() ? QLocale().decimalPoint() : QString(decimalSeparator);
  number.replace(u'.', separator);
  return number + u' ' + QLatin1StringView(decimalUnits ? kDecimal[unit] : kBinary[unit]);
}

bool ParseFileSize(const QString& text, QChar decimalSeparator, std::int64_t& size)
{
  QString s = text.trimmed();
  if (s.isEmpty())
    s = u"0"_s;
  if (s.endsWith(u'B', Qt::CaseInsensitive))
    s.chop(1);
  double base = 1000.0;
  if (s.endsWith(u'i', Qt::CaseInsensitive)) {
    base = 1024.0;
    s.chop(1);
  }
  s = s.trimmed();
  if (s.isEmpty())
    return false;
  double factor = 1.0;
  QString number = s;
  const QChar last = s.back();
  if (!last.isDigit()) {
    const int power = QStringView(u"KMGT").indexOf(last.toUpper()) + 1;
    if (power == 0)
      return false;
    factor = std::pow(base, power);
    const qsizetype blank = s.indexOf(u' ');
    number = blank >= 0 ? s.left(blank) : s.left(s.size() - 1);
  } else {
    const qsizetype blank = s.indexOf(u' ');
    if (blank >= 0)
      number = s.left(blank);
  }
  const QString separator = decimalSeparator.isNull() ? QLocale().decimalPoint() : QString(decimalSeparator);
  if (separator != u"."_s)
    number.replace(separator, u"."_s);
  bool ok = false;
  const double value = number.trimmed().toDouble(&ok);
  if (!ok)
    return false;
  const double result = std::round(value * factor);
  if (!std::isfinite(result) || std::fabs(result) > 9.2e18)
    return false;
  size = static_cast<std::int64_t>(result);
  return true;
}

int CompareFileSizeTexts(const QString& a, const QString& b, QChar decimalSeparator)
{
  std::int64_t x = 0;
  std::int64_t y = 0;
  if (!ParseFileSize(a, decimalSeparator, x))
    x = 0;
  if (!ParseFileSize(b, decimalSeparator, y))
    y = 0;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Error texts and formatting

QString SystemErrorText(int code)
{
  const char* description = ::strerrordesc_np(code);
  if (description == nullptr)
    return _("Error code") + FormatText(u" = 0x%.8x"_s, {code});
  return SysErrorMessage(code) + FormatText(u" (0x%.8x)"_s, {code});
}

namespace {

bool ArgAsInteger(const QVariant& v, std::int64_t& value, bool& wide)
{
  switch (v.typeId()) {
  case QMetaType::Int:
  case QMetaType::Short:
  case QMetaType::Char:
  case QMetaType::SChar:
  case QMetaType::Long:
    value = v.toLongLong();
    wide = v.typeId() == QMetaType::Long;
    return true;
  case QMetaType::UInt:
  case QMetaType::UShort:
  case QMetaType::UChar:
    value = static_cast<std::int64_t>(v.toUInt());
    wide = false;
    return true;
  case QMetaType::LongLong:
  case QMetaType::ULongLong:
  case QMetaType::ULong:
    value = v.toLongLong();
    wide = true;
    return true;
  default:
    return false;
  }
}

bool ArgAsDouble(const QVariant& v, double& value)
{
  std::int64_t i = 0;
  bool wide = false;
  if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
    value = v.toDouble();
    return true;
  }
  if (ArgAsInteger(v, i, wide)) {
    value = static_cast<double>(i);
    return true;
  }
  return false;
}

} // namespace

QString FormatText(const QString& pattern, const QVariantList& args)
{
  const auto fail = [&pattern]() { return EArdantoError(_("Format error: ") + pattern); };
  QString out;
  out.reserve(pattern.size() + 32);
  qsizetype next = 0;
  const qsizetype n = pattern.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = pattern[i];
    if (c != u'%') {
      out += c;
      continue;
    }
    if (++i >= n)
      throw fail();
    if (pattern[i] == u'%') {
      out += u'%';
      continue;
    }
    // [index ":"] ["-"] [width] ["." precision] type
    auto readNumber = [&](int& value) {
      bool any = false;
      value = 0;
      while (i < n && pattern[i].isDigit()) {
        value = value * 10 + pattern[i].digitValue();
        if (value > 4096)
          throw fail();
        ++i;
        any = true;
      }
      return any;
    };
    int number = 0;
    const qsizetype specStart = i;
    if (readNumber(number) && i < n && pattern[i] == u':') {
      next = number;
      ++i;
    } else {
      i = specStart;
    }
    bool left = false;
    if (i < n && pattern[i] == u'-') {
      left = true;
      ++i;
    }
    int width = 0;
    readNumber(width);
    int precision = -1;
    if (i < n && pattern[i] == u'.') {
      ++i;
      if (!readNumber(precision))
        precision = 0;
    }
    if (i >= n || next >= args.size())
      throw fail();
    const QChar type = pattern[i].toLower();
    const QVariant& arg = args[next++];
    QString text;
    std::int64_t integer = 0;
    bool wide = false;
    double real = 0.0;
    switch (type.unicode()) {
    case u'd':
    case u'u':
      if (!ArgAsInteger(arg, integer, wide))
        throw fail();
      if (type == u'u' && integer < 0)
        integer = wide ? integer : static_cast<std::int64_t>(static_cast<std::uint32_t>(integer));
      text = QString::number(integer < 0 ? -integer : integer);
      if (precision > 0 && text.size() < precision)
        text = QString(precision - text.size(), u'0') + text;
      if (integer < 0)
        text.prepend(u'-');
      break;
    case u'x': {
      if (!ArgAsInteger(arg, integer, wide))
        throw fail();
      const std::uint64_t bits =
          wide ? static_cast<std::uint64_t>(integer) : static_cast<std::uint32_t>(static_cast<std::int32_t>(integer));
      text = QString::number(bits, 16).toUpper();
      if (precision > 0 && text.size() < precision)
        text = QString(precision - text.size(), u'0') + text;
      break;
    }
    case u'f':
    case u'n':
    case u'e':
    case u'g': {
      if (!ArgAsDouble(arg, real))
        throw fail();
      const QLocale locale;
      if (type == u'f') {
        text = locale.toString(real, 'f', precision < 0 ? 2 : precision);
        text.remove(locale.groupSeparator());
      } else if (type == u'n') {
        text = locale.toString(real, 'f', precision < 0 ? 2 : precision);
      } else if (type == u'e') {
        text = locale.toString(real, 'e', precision < 0 ? 15 : precision);
      } else {
        text = locale.toString(real, 'g', precision < 0 ? 15 : precision);
        text.remove(locale.groupSeparator());
      }
      break;
    }
    case u's':
      if (arg.typeId() != QMetaType::QString && arg.typeId() != QMetaType::QChar)
        throw fail();
      text = arg.toString();
      if (precision >= 0)
        text.truncate(precision);
      break;
    default:
      throw fail();
    }
    if (text.size() < width) {
      const QString pad(width - text.size(), u' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

QString SafeFormat(const QString& pattern, const QVariantList& args)
{
  try {
    return FormatText(pattern, args);
  } catch (const EArdantoError&) {
    return _("Format error: ") + pattern;
  }
}

QString FormatCount(const QString& pattern, std::int64_t count)
{
  const QString number = count > 9999 ? QLocale().toString(static_cast<qlonglong>(count)) : QString::number(count);
  QString text = pattern;
  const qsizetype at = text.indexOf(QRegularExpression(u"%[ud]"_s));
  if (at >= 0)
    text.replace(at, 2, number);
  return text;
}

QString FreeTempName(const QString& folder, QByteArrayView prefix, QByteArrayView suffix, int& error)
{
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const QByteArray base = QFile::encodeName(SetDirName(folder)) + prefix;
  for (int attempt = 0; attempt < 100; ++attempt) {
    QByteArray name = base;
    for (int i = 0; i < 6; ++i)
      name += kChars[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kChars - 1))];
    name += suffix;
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0)
      continue;
    if (errno != ENOENT) {
      error = errno;
      return QString();
    }
    error = 0;
    return QFile::decodeName(name);
  }
  error = EEXIST;
  return QString();
}

} // namespace ardanto
