#include "portkeep/BackupRun.h"

#include "portkeep/Startup.h"

#include "common/DateTimeUtils.h"
#include "common/FileUtils.h"
#include "common/LogText.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "copyengine/ExtFileTools.h"
#include "devices/PortableDeviceUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace portkeep {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

// How long a run waits for a copy before it looks at the window again. The
// copy thread wakes the run the moment it ends, so this only paces the
// window while a large file is copied.
constexpr std::chrono::milliseconds kWaitSlice{10};
// Files that are skipped or left out cost next to nothing; between them the
// window still gets its events at least this often, so that a long stretch
// of them does not freeze it.
constexpr std::chrono::milliseconds kEventInterval{20};

// Where a copy in progress is kept: ".pk-" + six characters + ".part".
constexpr char kTempPrefix[] = ".pk-";
constexpr char kTempSuffix[] = ".part";

struct stat StatOf(const QString& name, bool& exists)
{
  struct stat st {};
  exists = ::lstat(QFile::encodeName(name).constData(), &st) == 0;
  return st;
}

// A free hidden file name in folder for a copy in progress. The copy goes
// there and takes the target's name only once it is complete, so a broken
// copy never stands in for the file, and an older copy stays until then.
QString ReserveTempName(const QString& folder)
{
  // A folder that takes no new files is the run's error, told with the target's name.
  if (::access(QFile::encodeName(SetDirName(folder)).constData(), W_OK | X_OK) != 0)
    return QString();
  int error = 0;
  const QString name = FreeTempName(folder, kTempPrefix, kTempSuffix, error);
  errno = error;
  return name;
}

bool IsTempName(const char* name)
{
  const std::size_t length = std::strlen(name);
  const std::size_t prefix = sizeof(kTempPrefix) - 1;
  const std::size_t suffix = sizeof(kTempSuffix) - 1;
  return length == prefix + 6 + suffix && std::strncmp(name, kTempPrefix, prefix) == 0 &&
         std::strcmp(name + prefix + 6, kTempSuffix) == 0;
}

QString JoinPath(const QString& first, const QString& second)
{
  if (first.isEmpty())
    return second;
  if (second.isEmpty())
    return first;
  return SetDirName(first) + second;
}

QString DeviceErrorText(HRESULT code)
{
  QString message;
  if (HResultMessage(code, message))
    return message + FormatText(u" (0x%.8x)"_s, {code});
  return _("Error code") + FormatText(u" = 0x%.8x"_s, {code});
}

QString ExtensionOf(const QString& name)
{
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? QString() : name.mid(dot + 1);
}

// "name (2).ext": a second name for a file whose name another file of the
// folder already took.
QString NumberedName(const QString& name, int number)
{
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString suffix = u" ("_s + QString::number(number) + u')';
  if (dot <= 0)
    return name + suffix;
  return name.left(dot) + suffix + name.mid(dot);
}

// Target names for the children of one folder: every child gets a name no
// other child of the folder has (compared ignoring case, as FAT and NTFS
// backup drives do), in child order, so the same folder always maps the same
// way and no copy overwrites another one of the same run.
QHash<int, QString> TargetNames(const TPortableDeviceObject& folder)
{
  QHash<int, QString> names;
  QSet<QString> taken;
  const int count = folder.ChildCount();
  for (int i = 0; i < count; ++i) {
    const TPortableDeviceObject* child = folder.GetChild(i);
    if (child == nullptr || (child->ObjectType() != otFolder && child->ObjectType() != otFile))
      continue;
    const QString safe = SafeFileName(child->DisplayName());
    QString name = safe;
    QString folded = name.toCaseFolded();
    for (int n = 2; taken.contains(folded); ++n) {
      name = NumberedName(safe, n);
      folded = name.toCaseFolded();
    }
    // The compressed forms get their suffix later; keep those free as well,
    // so "a.txt.gz" of a compressed "a.txt" cannot meet a device file of that
    // name. (Case folding goes character by character: the suffix folds alone.)
    if (child->ObjectType() == otFile) {
      taken.insert(folded + u".gz"_s);
      taken.insert(folded + u".zip"_s);
    }
    taken.insert(std::move(folded));
    names.insert(i, name);
  }
  return names;
}

// Files any process holds open, by device and inode, as far as /proc shows
// them to us.
std::vector<std::pair<std::uint64_t, std::uint64_t>> OpenFiles()
{
  std::vector<std::pair<std::uint64_t, std::uint64_t>> result;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr)
    return result;
  while (const dirent* process = ::readdir(proc)) {
    if (process->d_name[0] < '0' || process->d_name[0] > '9')
      continue;
    const QByteArray fdFolder = QByteArray("/proc/") + process->d_name + "/fd";
    DIR* fds = ::opendir(fdFolder.constData());
    if (fds == nullptr)
      continue;
    while (const dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.')
        continue;
      struct stat st {};
      const QByteArray link = fdFolder + '/' + fd->d_name;
      if (::stat(link.constData(), &st) == 0 && S_ISREG(st.st_mode))
        result.emplace_back(st.st_dev, st.st_ino);
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  std::sort(result.begin(), result.end());
  return result;
}

QString MinutesText(std::chrono::milliseconds duration)
{
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(duration).count();
  if (minutes >= 1)
    return minutes == 1 ? _("1 minute") : FormatCount(_("%u minutes"), minutes);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  return seconds == 1 ? _("1 second") : FormatCount(_("%u seconds"), seconds);
}

} // namespace

struct TBackupRun::TPlannedFile {
  const TPortableDeviceObject* File = nullptr;
  QString Name;       // as the device calls it, for the log
  QString TargetName; // full local name
  bool Compressible = false;
  bool Exists = false;
  bool Copy = false;
  std::int64_t Size = 0;
  TDateTime UtcTime = 0;
  bool Opened = false;
  HRESULT OpenError = S_OK;
  TFileData Data;
};

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

QString SummaryText(const TRunSummary& summary)
{
  return FormatText(_("Summary: %d copied, %d updated, %d skipped, %d failed; %s read in %s"),
                    {summary.Copied, summary.Updated, summary.Skipped, summary.Failed,
                     FormatFileSize(false, true, QChar(), summary.Bytes), DurationText(summary.Milliseconds / 1000)});
}

TBackupRun::TBackupRun(TPortableDevice& device, const TTaskSettings& settings, IRunView& view)
  : FDevice(device), FSettings(settings), FView(view)
{
}

TDateTime TBackupRun::Today() const
{
  return DateTimeFromQDateTime(QDateTime(Now().date(), QTime(0, 0), Qt::UTC));
}

void TBackupRun::Run(const std::vector<TPortableDeviceObject*>& folders)
{
  FTotalCopied = 0;
  FTotalErrors = 0;
  FSummary = TRunSummary();
  FProgress = TRunProgress();
  FStop = false;
  FOpenFilesKnown = false;
  FCopyTime = {};
  FCopiedBytes = 0;
  FStart = std::chrono::steady_clock::now();
  FLastEvents = FStart;
  FRunStartSeconds = std::time(nullptr);
  std::vector<const TPortableDeviceObject*> selected;
  for (const TPortableDeviceObject* folder : folders) {
    if (folder != nullptr)
      selected.push_back(folder);
  }
  if (selected.empty()) {
    FView.AddLine(0, _("No directory selected"));
    return;
  }
  // An empty destination would put the copies wherever the program happens
  // to run; refuse it.
  if (FSettings.Destination.trimmed().isEmpty()) {
    FView.AddLine(0, _("No destination directory specified"));
    return;
  }
  if (DestinationInsideSource(folders))
    return;

  // What the run will look at, for the progress bar.
  const TDateTime today = Today();
  for (const TPortableDeviceObject* folder : selected)
    CountFolder(*folder, today);

  for (const TPortableDeviceObject* folder : selected) {
    if (Stopped())
      break;
    FFileCount = 0;
    const QString destination = ExpandDevicePlaceholders(FSettings.Destination, FDevice.DeviceName(), Now());
    const QString root = JoinPath(destination, SafeRelativePath(folder->Path()));
    FView.AddLine(2, _("Destination directory") + u": "_s + LogSafeText(root));
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
  if (FSummary.Cancelled)
    FView.AddLine(0, _("Backup cancelled"));
  FSummary.Failed = FTotalErrors;
  FSummary.Milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart).count();
  FView.AddLine(0, SummaryText(FSummary));
  FProgress.CurrentFile.clear();
  FView.ShowProgress(FProgress);
}

bool TBackupRun::DestinationInsideSource(const std::vector<TPortableDeviceObject*>& folders)
{
  // A backup into the folder it backs up would copy its previous copies one
  // level deeper at every run.
  const QString destination = ExpandDevicePlaceholders(FSettings.Destination, FDevice.DeviceName(), Now());
  for (const TPortableDeviceObject* folder : folders) {
    if (folder == nullptr)
      continue;
    const QString local = folder->LocalPath();
    if (local.isEmpty())
      continue;
    const QString source = ResolvedPath(local);
    const QString root = ResolvedPath(JoinPath(destination, SafeRelativePath(folder->Path())));
    if (IsSameOrBelow(root, source)) {
      LogFailure(FormatText(_("The destination directory \"%s\" lies inside the device directory \"%s\"; "
                              "choose a destination outside it."),
                            {LogSafeText(root), LogSafeText(source)}));
      return true;
    }
  }
  return false;
}

bool TBackupRun::Selected(const TPortableDeviceObject& file, TDateTime today) const
{
  // Without a filter or a time slot the name and the time are not read: each
  // is a question to the device, asked for every file, twice per run.
  if (FSettings.Filter.Mode() != fmOff && !FSettings.Filter.MatchesFilter(file.DisplayName()))
    return false;
  // The slot is the user's idea of days and hours: it judges the device's
  // local time. The overwrite rule compares with file times, which are UTC.
  return FSettings.TimePeriod.Mode == tmAll || TimePeriodPasses(FSettings.TimePeriod, file.LastWriteTime(), today);
}

void TBackupRun::CountFolder(const TPortableDeviceObject& folder, TDateTime today)
{
  const int count = folder.ChildCount();
  for (int i = 0; i < count; ++i) {
    const TPortableDeviceObject* child = folder.GetChild(i);
    if (child == nullptr)
      continue;
    if (child->ObjectType() == otFolder) {
      CountFolder(*child, today);
    } else if (child->ObjectType() == otFile && Selected(*child, today)) {
      ++FProgress.FilesTotal;
      FProgress.BytesTotal += std::max<std::int64_t>(child->Size(), 0);
    }
  }
}

bool TBackupRun::MakeFolder(const QString& target)
{
  // Folders of a backup are the user's own: 0755 less the umask, never
  // writable by others whatever the umask says.
  const QByteArray path = QFile::encodeName(QDir::cleanPath(target));
  for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
    const QByteArray part = slash < 0 ? path : path.left(slash);
    if (::mkdir(part.constData(), 0755) != 0 && errno != EEXIST) {
      const int error = errno;
      LogFailure(FormatText(_("Error creating directory \"%s\""), {LogSafeText(QFile::decodeName(part))}) + u' ' +
                 SystemErrorText(error));
      return false;
    }
    if (slash < 0)
      break;
  }
  struct stat st {};
  if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    LogFailure(FormatText(_("Error creating directory \"%s\""), {LogSafeText(target)}) + u' ' +
               SystemErrorText(ENOTDIR));
    return false;
  }
  return true;
}

void TBackupRun::RemoveStaleTemporaries(const QString& folder)
{
  // A run that was killed leaves its copy in progress behind. Ours are the
  // ".pk-XXXXXX.part" files from before this run that nobody holds open
  // (another run may be writing into the same folder right now).
  const QByteArray path = QFile::encodeName(folder);
  DIR* dir = ::opendir(path.constData());
  if (dir == nullptr)
    return;
  const int dirHandle = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTempName(entry->d_name))
      continue;
    struct stat st {};
    if (::fstatat(dirHandle, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_mtime >= FRunStartSeconds)
      continue;
    if (!FOpenFilesKnown) {
      FOpenFiles = OpenFiles();
      FOpenFilesKnown = true;
    }
    const std::pair<std::uint64_t, std::uint64_t> key(st.st_dev, st.st_ino);
    if (std::binary_search(FOpenFiles.begin(), FOpenFiles.end(), key))
      continue;
    ::unlinkat(dirHandle, entry->d_name, 0);
  }
  ::closedir(dir);
}

void TBackupRun::CopyFolder(const TPortableDeviceObject& folder, const QString& target)
{
  if (Stopped())
    return;
  const bool targetReady = MakeFolder(target);
  if (targetReady)
    RemoveStaleTemporaries(target);
  const TDateTime today = Today();
  const QHash<int, QString> names = TargetNames(folder);
  const int count = folder.ChildCount();
  if (targetReady) {
    for (int i = 0; i < count && !Stopped(); ++i) {
      const TPortableDeviceObject* child = folder.GetChild(i);
      if (child != nullptr && child->ObjectType() == otFolder)
        CopyFolder(*child, JoinPath(target, names.value(i)));
    }
  }
  if (Stopped())
    return;
  const QString line = _("Subdirectory") + u": "_s + LogSafeText(folder.Path());
  FView.AddLine(2, line);
  FView.ShowFolder(line);
  const HRESULT listError = folder.ListError();
  if (FAILED(listError)) {
    LogFailure(FormatText(_("Directory \"%s\" could not be read completely: %s"),
                          {LogSafeText(folder.Path()), DeviceErrorText(listError)}));
    ++FTotalErrors;
  }

  std::vector<TPlannedFile> plans;
  for (int i = 0; i < count; ++i) {
    const TPortableDeviceObject* child = folder.GetChild(i);
    if (child == nullptr || child->ObjectType() != otFile)
      continue;
    if (!Selected(*child, today)) {
      KeepResponsive();
      continue;
    }
    TPlannedFile plan;
    PlanFile(*child, JoinPath(target, names.value(i)), plan);
    plans.push_back(std::move(plan));
  }
  if (!targetReady) {
    // Every file of the folder would fail the same way.
    FTotalErrors += static_cast<int>(plans.size());
    for (const TPlannedFile& plan : plans) {
      ++FProgress.FilesDone;
      FProgress.BytesDone += plan.Size;
    }
    return;
  }

  for (std::size_t i = 0; i < plans.size() && !Stopped(); ++i) {
    TPlannedFile& plan = plans[i];
    if (FView.CancelRequested()) {
      FSummary.Cancelled = true;
      FStop = true;
      break;
    }
    if (!plan.Copy) {
      FView.AddLine(4, u"- "_s + _("Skipped") + u": "_s + LogSafeText(plan.Name));
      ++FSummary.Skipped;
      ++FProgress.FilesDone;
      FProgress.BytesDone += plan.Size;
      KeepResponsive();
      continue;
    }
    TPlannedFile* next = nullptr;
    for (std::size_t j = i + 1; j < plans.size() && next == nullptr; ++j) {
      if (plans[j].Copy)
        next = &plans[j];
    }
    CopyPlanned(plan, next);
  }
}

void TBackupRun::PlanFile(const TPortableDeviceObject& file, const QString& targetName, TPlannedFile& plan) const
{
  plan.File = &file;
  plan.Name = file.DisplayName();
  plan.Size = std::max<std::int64_t>(file.Size(), 0);
  plan.UtcTime = LocalToUtc(file.LastWriteTime());
  plan.Compressible =
      FSettings.Compress && !FSettings.NoCompTypes.contains(ExtensionOf(plan.Name), Qt::CaseInsensitive);
  plan.TargetName = targetName;
  if (FSettings.CompressAsZip)
    plan.TargetName += u".zip"_s;
  else if (plan.Compressible)
    plan.TargetName += u".gz"_s;

  const struct stat st = StatOf(plan.TargetName, plan.Exists);
  switch (FSettings.Overwrite) {
  case omWhenOlder: {
    if (!plan.Exists) {
      plan.Copy = true;
      break;
    }
    // The time of what a link points to, as GetFileWriteTime gives it; a
    // plain file's time is at hand already.
    const TDateTime existing = S_ISLNK(st.st_mode)
                                   ? GetFileWriteTime(plan.TargetName)
                                   : FileTimeToDateTimeUtc(UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
    // File times keep 100 ns; compare at whole milliseconds, which is what a
    // day-based date-time holds reliably.
    plan.Copy = std::llround(existing * kMillisecondsPerDay) < std::llround(plan.UtcTime * kMillisecondsPerDay);
    break;
  }
  case omAll:
    plan.Copy = true;
    break;
  default:
    plan.Copy = !plan.Exists;
    break;
  }
}

void TBackupRun::LogFailure(const QString& text)
{
  FView.AddLine(0, u"  *** "_s + text);
}

void TBackupRun::CheckDeviceAfterFailure()
{
  TPortableDeviceContent* content = FDevice.Content();
  if (content != nullptr && content->DeviceConnected())
    return;
  LogFailure(_("The device is no longer connected; the backup stops."));
  FSummary.DeviceLost = true;
  FStop = true;
}

bool TBackupRun::OpenSource(TPlannedFile& plan)
{
  if (plan.Opened)
    return true;
  if (FAILED(plan.OpenError))
    return false;
  const HRESULT hr = plan.File->GetFileData(plan.Data, true);
  if (FAILED(hr) || !plan.Data.StreamData.FileStream) {
    plan.OpenError = FAILED(hr) ? hr : E_UNEXPECTED;
    plan.Data = TFileData();
    return false;
  }
  plan.Opened = true;
  return true;
}

void TBackupRun::CopyPlanned(TPlannedFile& plan, TPlannedFile* next)
{
  const auto finishFile = [this, &plan] {
    ++FProgress.FilesDone;
    FProgress.BytesDone += plan.Size;
    FProgress.CurrentFile.clear();
    FProgress.CurrentDone = 0;
    FProgress.CurrentSize = 0;
  };
  const auto fail = [this, &plan, &finishFile](const QString& message) {
    LogFailure(LogSafeText(plan.Name) + u": "_s + message);
    ++FTotalErrors;
    finishFile();
  };

  if (!OpenSource(plan)) {
    fail(FormatText(_("The file could not be opened on the device: %s"), {DeviceErrorText(plan.OpenError)}));
    CheckDeviceAfterFailure();
    return;
  }

  TCopyOptions options{coTimeStamp};
  if (FSettings.CompressAsZip)
    options.Include(coZipCompress);
  if (plan.Compressible)
    options.Include(coCompress);

  const QString temp = ReserveTempName(ExtractFilePath(plan.TargetName));
  if (temp.isEmpty()) {
    const int error = errno;
    plan.Data = TFileData();
    fail(FormatText(_("Error creating \"%s\""), {LogSafeText(plan.TargetName)}) + u' ' + SystemErrorText(error));
    return;
  }

  FProgress.CurrentFile = plan.Name;
  FProgress.CurrentSize = plan.Size;
  FProgress.CurrentDone = 0;
  bool stalled = false;
  // Ended only once this file is in place and logged: the thread's own end
  // (releasing its stack) then no longer holds up the run.
  auto thread = std::make_unique<TWinCopyThread>(plan.Data, temp, nullptr, options, true);
  plan.Data = TFileData(); // the thread holds the stream now
  thread->Start();
  const auto copyStart = std::chrono::steady_clock::now();
  // While this file is copied, the next one is opened: opening a file, from
  // a slow device or a cold disk cache alike, then overlaps with the copy.
  if (next != nullptr)
    OpenSource(*next);
  std::int64_t lastBytes = -1;
  auto lastProgress = copyStart;
  while (!thread->WaitFor(kWaitSlice)) {
    const std::int64_t bytes = thread->BytesCopied();
    const auto now = std::chrono::steady_clock::now();
    if (bytes != lastBytes) {
      lastBytes = bytes;
      lastProgress = now;
    } else if (FStallTimeout.count() > 0 && now - lastProgress >= FStallTimeout) {
      stalled = true;
      break;
    }
    FProgress.CurrentDone = bytes;
    ProcessEvents();
  }
  FCopyTime += std::chrono::steady_clock::now() - copyStart;
  if (stalled) {
    // The read hangs inside the device layer and cannot be interrupted;
    // leave the thread to itself and end the run.
    TCopyThread::Abandon(std::move(thread));
    ::unlink(QFile::encodeName(temp).constData());
    fail(FormatText(_("Reading from the device made no progress for %s; the backup stops."),
                    {MinutesText(FStallTimeout)}));
    FSummary.Stalled = true;
    FStop = true;
    return;
  }
  int error = thread->ErrorCode();
  QString message = thread->SysErrorMsg();
  if (error == 0 &&
      ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(plan.TargetName).constData()) != 0) {
    error = errno;
    message = FormatText(_("Error creating \"%s\""), {LogSafeText(plan.TargetName)}) + u' ' + SystemErrorText(error);
  }
  if (error != 0) {
    ::unlink(QFile::encodeName(temp).constData());
    fail(message.trimmed());
    if ((error & 0xFFF) == ceReadSource)
      CheckDeviceAfterFailure();
    return;
  }
  SetFileWriteTime(plan.TargetName, plan.UtcTime);
  if (FSettings.ArchBit)
    SetFileAttr(plan.TargetName, FILE_ATTRIBUTE_ARCHIVE);
  FView.AddLine(4, u"+ "_s + (plan.Exists ? _("Updated") : _("Copied")) + u": "_s + LogSafeText(plan.Name));
  // A name the file system cannot take, or one another file of the folder
  // took first: say where the copy is.
  const QString stored = ExtractFileName(plan.TargetName);
  if (stored != plan.Name && stored != plan.Name + u".gz"_s && stored != plan.Name + u".zip"_s)
    FView.AddLine(6, _("Saved as") + u": "_s + LogSafeText(stored));
  ++FFileCount;
  ++(plan.Exists ? FSummary.Updated : FSummary.Copied);
  FSummary.Bytes += plan.Size;
  FCopiedBytes += plan.Size;
  finishFile();
  ProcessEvents();
}

void TBackupRun::ProcessEvents()
{
  const double seconds = std::chrono::duration<double>(FCopyTime).count();
  if (seconds > 0.5 && FCopiedBytes > 0) {
    FProgress.BytesPerSecond = static_cast<double>(FCopiedBytes) / seconds;
    const std::int64_t left = FProgress.BytesTotal - FProgress.BytesDone - FProgress.CurrentDone;
    FProgress.SecondsLeft = std::max<double>(0, static_cast<double>(left) / FProgress.BytesPerSecond);
  }
  FView.ShowProgress(FProgress);
  FView.ProcessEvents();
  FLastEvents = std::chrono::steady_clock::now();
}

void TBackupRun::KeepResponsive()
{
  if (std::chrono::steady_clock::now() - FLastEvents >= kEventInterval)
    ProcessEvents();
}

} // namespace portkeep
