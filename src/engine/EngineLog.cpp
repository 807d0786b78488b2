#include "engine/EngineLog.h"

#include "common/FileUtils.h"
#include "common/LogText.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

using namespace Qt::StringLiterals;

namespace {

bool WriteAll(int handle, const QByteArray& bytes)
{
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(handle, data, static_cast<std::size_t>(left));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    left -= n;
  }
  return true;
}

} // namespace

TEngineLog::~TEngineLog()
{
  if (FHandle >= 0)
    ::close(FHandle);
}

bool TEngineLog::Open(const QString& fileName, QString& error)
{
  FFileName = fileName;
  const QString folder = ardanto::ExtractFilePath(fileName);
  if (!folder.isEmpty() && !QDir().mkpath(folder)) {
    error = ardanto::FormatText(_("Error creating directory \"%s\""), {folder});
    return false;
  }
  // A log may name the user's mail server or folders: it is the user's only.
  const int handle = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (handle < 0) {
    error = ardanto::FormatText(_("Error writing to \"%s\""), {fileName}) + u' ' + ardanto::SystemErrorText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(handle, &st) == 0 && st.st_size == 0 && !WriteAll(handle, QByteArray("\xEF\xBB\xBF"))) {
    error = ardanto::FormatText(_("Error writing to \"%s\""), {fileName}) + u' ' + ardanto::SystemErrorText(errno);
    ::close(handle);
    return false;
  }
  FHandle = handle;
  return true;
}

QString TEngineLog::TimeText(const QDateTime& time)
{
  return time.toString(u"yyyy-MM-dd hh:mm:ss"_s);
}

void TEngineLog::Write(const QString& line, bool detail)
{
  FLines << line;
  if (!detail)
    FShortLines << line;
  const QByteArray bytes = line.toUtf8() + '\n';
  if (FHandle >= 0 && WriteAll(FHandle, bytes))
    return;
  std::fputs(bytes.constData(), stderr);
}

void TEngineLog::BeginSection(const QString& taskName, const QDateTime& start)
{
  Write(u"Ardanto - "_s + ardanto::LogSafeText(taskName) + u" - "_s + TimeText(start));
}

void TEngineLog::Line(int indent, const QString& text)
{
  Write(QString(indent, u' ') + ardanto::LogSafeText(text));
}

void TEngineLog::Detail(int indent, const QString& text)
{
  if (FLong)
    Write(QString(indent, u' ') + ardanto::LogSafeText(text), true);
}

void TEngineLog::Error(const QString& text)
{
  ++FErrors;
  Write(u"  *** "_s + ardanto::LogSafeText(text));
}

void TEngineLog::EndSection(const QString& taskName, const QDateTime& end, const QString& result)
{
  Write(u"Ardanto - "_s + ardanto::LogSafeText(taskName) + u" - "_s + _("finished") + u' ' + TimeText(end) + u": "_s +
        result);
}

} // namespace engine
