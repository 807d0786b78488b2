#include "portkeep/BackupRun.h"

#include "common/DateTimeUtils.h"
#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "copyengine/ExtFileTools.h"
#include "devices/PortableDeviceUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

// How often a run looks whether a copy has ended, letting the window handle
// its events each time. The first look comes sooner: most files take a
// fraction of a millisecond.
constexpr std::chrono::microseconds kPollInterval{1000};
constexpr std::chrono::microseconds kFirstPollPause{50};
// Files that are skipped or left out cost next to nothing; between them the
// window still gets its events at least this often, so that a long stretch
// of them does not freeze it.
constexpr std::chrono::milliseconds kEventInterval{20};

bool ExistsAsFile(const QString& name)
{
  struct stat st {};
  return ::lstat(QFile::encodeName(name).constData(), &st) == 0;
}

// Reserves a hidden file name in folder for a copy in progress. The copy goes
// there and takes the target's name only once it is complete, so a broken
// copy never stands in for the file, and an older copy stays until then.
// Creating the file makes the name unique; it is removed again at once, so
// that the copy engine creates it without replacing a file (ext4 writes the
// data of a file that replaces another out at once, which costs a small file
// more than its copy) and fails rather than replace a file someone else
// created meanwhile.
QString ReserveTempName(const QString& folder)
{
  QByteArray pattern = QFile::encodeName(SetDirName(folder)) + ".pk-XXXXXX.part";
  const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
  if (fd < 0)
    return QString();
  ::close(fd);
  ::unlink(pattern.constData());
  return QFile::decodeName(pattern);
}

QString JoinPath(const QString& first, const QString& second)
{
  if (first.isEmpty())
    return second;
  if (second.isEmpty())
    return first;
  return SetDirName(first) + second;
}

} // namespace

QString SafeFileName(const QString& name)
{
  if (name.isEmpty())
    return u"_"_s;
  QString safe = name;
  safe.replace(u'/', u'_');
  safe.replace(QChar(u'\0'), u'_');
  bool dotsOnly = true;
  for (const QChar c : safe) {
    if (c != u'.') {
      dotsOnly = false;
      break;
    }
  }
  if (dotsOnly)
    safe.fill(u'_');
  return safe;
}

QString SafeRelativePath(const QString& devicePath)
{
  QStringList parts;
  for (const QString& part : devicePath.split(u'\\', Qt::SkipEmptyParts))
    parts.append(SafeFileName(part));
  return parts.join(u'/');
}

TBackupRun::TBackupRun(TPortableDevice& device, const TTaskSettings& settings, IRunView& view)
  : FDevice(device), FSettings(settings), FView(view)
{
}

void TBackupRun::Run(const std::vector<TPortableDeviceObject*>& folders)
{
  FTotalCopied = 0;
  FTotalErrors = 0;
  FLastEvents = std::chrono::steady_clock::now();
  if (folders.empty()) {
    FView.AddLine(0, _("No directory selected"));
    return;
  }
  // An empty destination would put the copies wherever the program happens
  // to run; refuse it.
  if (FSettings.Destination.trimmed().isEmpty()) {
    FView.AddLine(0, _("No destination directory specified"));
    return;
  }
  for (const TPortableDeviceObject* folder : folders) {
    if (folder == nullptr)
      continue;
    FFileCount = 0;
    const QString destination = ExpandDevicePlaceholders(FSettings.Destination, FDevice.DeviceName(), Now());
    const QString root = JoinPath(destination, SafeRelativePath(folder->Path()));
    FView.AddLine(2, _("Destination directory") + u": "_s + root);
    CopyFolder(*folder, root);
    QString count;
    if (FFileCount == 0)
      count = _("No files copied");
    else if (FFileCount == 1)
      count = _("1 file copied");
    else
      count = FormatCount(_("%u files copied"), FFileCount);
    FView.AddLine(2, count);
    FTotalCopied += FFileCount;
  }
}

void TBackupRun::CopyFolder(const TPortableDeviceObject& folder, const QString& target)
{
  // Failures show up as copy errors of the files.
  QDir().mkpath(target);
  const TDateTime today = DateTimeFromQDateTime(QDateTime(Now().date(), QTime(0, 0), Qt::UTC));
  const int count = folder.ChildCount();
  for (int i = 0; i < count; ++i) {
    const TPortableDeviceObject* child = folder.GetChild(i);
    if (child != nullptr && child->ObjectType() == otFolder)
      CopyFolder(*child, JoinPath(target, SafeFileName(child->DisplayName())));
  }
  const QString line = _("Subdirectory") + u": "_s + folder.Path();
  FView.AddLine(2, line);
  FView.ShowFolder(line);
  for (int i = 0; i < count; ++i) {
    const TPortableDeviceObject* child = folder.GetChild(i);
    if (child != nullptr && child->ObjectType() == otFile)
      ProcessFile(*child, target, today);
  }
}

void TBackupRun::ProcessFile(const TPortableDeviceObject& file, const QString& target, TDateTime today)
{
  const QString name = file.DisplayName();
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString ext = dot < 0 ? QString() : name.mid(dot + 1);

  // The slot is the user's idea of days and hours: it judges the device's
  // local time. The overwrite rule compares with file times, which are UTC.
  const TDateTime localTime = file.LastWriteTime();
  const TDateTime utcTime = LocalToUtc(localTime);
  if (!FSettings.Filter.MatchesFilter(name) || !TimePeriodPasses(FSettings.TimePeriod, localTime, today)) {
    KeepResponsive();
    return;
  }

  QString targetName = JoinPath(target, SafeFileName(name));
  const bool compressible = FSettings.Compress && !FSettings.NoCompTypes.contains(ext, Qt::CaseInsensitive);
  if (FSettings.CompressAsZip)
    targetName += u".zip"_s;
  else if (compressible)
    targetName += u".gz"_s;

  const bool exists = ExistsAsFile(targetName);
  bool copy = true;
  switch (FSettings.Overwrite) {
  case omWhenOlder:
    // File times keep 100 ns; compare at whole milliseconds, which is what a
    // day-based date-time holds reliably.
    copy = !exists || std::llround(GetFileWriteTime(targetName) * kMillisecondsPerDay) <
                          std::llround(utcTime * kMillisecondsPerDay);
    break;
  case omAll:
    copy = true;
    break;
  default:
    copy = !exists;
    break;
  }
  if (!copy) {
    FView.AddLine(4, u"- "_s + _("Skipped") + u": "_s + name);
    KeepResponsive();
    return;
  }
  FView.AddLine(4, u"+ "_s + (exists ? _("Updated") : _("Copied")) + u": "_s + name);
  ProcessEvents();
  if (!CopyOne(file, targetName, compressible))
    return;
  SetFileWriteTime(targetName, utcTime);
  if (FSettings.ArchBit)
    SetFileAttr(targetName, FILE_ATTRIBUTE_ARCHIVE);
}

void TBackupRun::ProcessEvents()
{
  FView.ProcessEvents();
  FLastEvents = std::chrono::steady_clock::now();
}

void TBackupRun::KeepResponsive()
{
  if (std::chrono::steady_clock::now() - FLastEvents >= kEventInterval)
    ProcessEvents();
}

bool TBackupRun::CopyOne(const TPortableDeviceObject& file, const QString& targetName, bool compressible)
{
  TFileData data;
  if (FAILED(file.GetFileData(data, true)))
    return false;

  TCopyOptions options{coTimeStamp};
  if (FSettings.CompressAsZip)
    options.Include(coZipCompress);
  if (compressible)
    options.Include(coCompress);

  const QString temp = ReserveTempName(ExtractFilePath(targetName));
  if (temp.isEmpty()) {
    FView.AddLine(0, u"  *** "_s + FormatText(_("Error creating \"%s\""), {targetName}) + u' ' +
                         SystemErrorText(errno));
    ++FTotalErrors;
    return false;
  }
  int error = 0;
  QString message;
  {
    TWinCopyThread thread(data, temp, nullptr, options, true);
    thread.Start();
    // Look for the end soon at first, then every millisecond, so that a run
    // of many small files does not wait out a whole millisecond for each.
    std::chrono::microseconds pause{kFirstPollPause};
    while (!thread.Done()) {
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, kPollInterval);
      ProcessEvents();
    }
    error = thread.ErrorCode();
    message = thread.SysErrorMsg();
  }
  if (error == 0 && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(targetName).constData()) != 0) {
    error = errno;
    message = u"  "_s + FormatText(_("Error creating \"%s\""), {targetName}) + u' ' + SystemErrorText(error);
  }
  if (error != 0) {
    ::unlink(QFile::encodeName(temp).constData());
    FView.AddLine(0, u"  *** "_s + message.trimmed());
    ++FTotalErrors;
    return false;
  }
  ++FFileCount;
  return true;
}

} // namespace portkeep
