#include "scheduler/backends/systemd/SystemdTaskPlatform.h"

#include "common/Translate.h"
#include "scheduler/TaskSchedule.h"
#include "scheduler/WinTask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QProcess>
#include <QSaveFile>

#include <pwd.h>
#include <unistd.h>

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

namespace {

constexpr int kSystemctlTimeoutMs = 60000;

struct TCommandResult {
  bool Ok = false;
  QString Output;
  QString Error;
};

TCommandResult Systemctl(const TSystemdPaths& paths, const QStringList& arguments)
{
  TCommandResult result;
  QProcess process;
  process.start(paths.Systemctl, QStringList{u"--user"_s} + arguments);
  if (!process.waitForStarted(10000)) {
    result.Error = _("systemctl cannot be started: %1").arg(process.errorString());
    return result;
  }
  process.closeWriteChannel();
  if (!process.waitForFinished(kSystemctlTimeoutMs)) {
    process.kill();
    process.waitForFinished(5000);
    result.Error = _("systemctl gave no answer in time");
    return result;
  }
  result.Output = QString::fromUtf8(process.readAllStandardOutput());
  result.Error = QString::fromUtf8(process.readAllStandardError()).trimmed();
  result.Ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  return result;
}

void SystemctlOrRaise(const TSystemdPaths& paths, const QStringList& arguments)
{
  const TCommandResult result = Systemctl(paths, arguments);
  if (!result.Ok)
    throw ETaskSchedulerError(E_FAIL, u"systemctl --user "_s + arguments.join(u' ') + u": "_s +
                                          (result.Error.isEmpty() ? _("failed") : result.Error));
}

// `systemctl show` of several units: one block of Key=Value lines per unit, in order.
std::vector<QHash<QString, QString>> ShowUnits(const TSystemdPaths& paths, const QStringList& units,
                                               const QString& properties)
{
  const TCommandResult result =
      Systemctl(paths, QStringList{u"show"_s, u"--timestamp=unix"_s, u"-p"_s, properties} + units);
  if (!result.Ok)
    throw ETaskSchedulerError(E_FAIL, u"systemctl --user show: "_s + result.Error);
  std::vector<QHash<QString, QString>> blocks(1);
  for (const QString& line : result.Output.split(u'\n')) {
    if (line.isEmpty()) {
      if (!blocks.back().isEmpty())
        blocks.emplace_back();
      continue;
    }
    const qsizetype equals = line.indexOf(u'=');
    if (equals > 0)
      blocks.back().insert(line.left(equals), line.mid(equals + 1));
  }
  if (blocks.back().isEmpty())
    blocks.pop_back();
  return blocks;
}

bool IsActive(const QString& state)
{
  return state == u"active" || state == u"activating" || state == u"deactivating" || state == u"reloading";
}

QString LoginName()
{
  if (const passwd* entry = getpwuid(getuid()))
    return QString::fromLocal8Bit(entry->pw_name);
  return qEnvironmentVariable("USER");
}

// A task or folder name becomes a file name: nothing that leaves the folder,
// nothing hidden, nothing systemd or a file system could not take.
void CheckName(const QString& name)
{
  bool valid = !name.isEmpty() && name != u"." && name != u".." && !name.startsWith(u'.') &&
               (name + u".xml"_s).toUtf8().size() <= 255;
  for (const QChar c : name)
    if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
      valid = false;
  if (!valid)
    throw ETaskSchedulerError(E_INVALIDARG, _("\"%1\" cannot be the name of a task or folder").arg(name));
}

void WriteFileWhole(const QString& fileName, const QByteArray& bytes)
{
  QDir().mkpath(QFileInfo(fileName).absolutePath());
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    throw ETaskSchedulerError(E_ACCESSDENIED, _("\"%1\" cannot be written: %2").arg(fileName, file.errorString()));
}

void RemoveFile(const QString& fileName)
{
  if (QFile::exists(fileName) && !QFile::remove(fileName))
    throw ETaskSchedulerError(E_ACCESSDENIED, _("\"%1\" cannot be removed").arg(fileName));
}

std::shared_ptr<TSchedDefinition> ReadDefinition(const QString& fileName)
{
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw ETaskSchedulerError(E_FILE_NOT_FOUND, _("\"%1\" cannot be read: %2").arg(fileName, file.errorString()));
  try {
    return TSchedDefinition::FromXml(file.readAll());
  } catch (const ETaskSchedulerError& error) {
    throw ETaskSchedulerError(error.Code(), fileName + u": "_s + error.Message());
  }
}

// The scheduler finds names regardless of case: the name of the file or
// folder there is for a name, or the name itself when there is none.
QString StoredName(const QString& dir, const QString& name, bool folder)
{
  const QStringList entries = folder ? QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                     : QDir(dir).entryList({u"*.xml"_s}, QDir::Files | QDir::Hidden);
  for (const QString& entry : entries) {
    const QString stored = folder ? entry : entry.chopped(4);
    if (stored.compare(name, Qt::CaseInsensitive) == 0)
      return stored;
  }
  return name;
}

TDateTime LocalFromEpoch(qint64 seconds)
{
  return seconds > 0 ? DateTimeFromQDateTime(QDateTime::fromSecsSinceEpoch(seconds).toLocalTime()) : 0;
}

// One task's files and units.
struct TTaskFiles {
  QString Name;
  QString Path; // "\Sub\Backup"
  QString XmlFile;
  QString StateFile;
  TTaskUnitNames Units;
};

TTaskFiles FilesOf(const TSystemdPaths& paths, const QString& folderPath, const QString& folderDir, const QString& name)
{
  TTaskFiles files;
  files.Name = name;
  files.Path = JoinTaskPath(folderPath, name);
  files.XmlFile = folderDir + u'/' + name + u".xml"_s;
  files.Units = TaskUnitNames(files.Path.mid(1).replace(u'\\', u'/'));
  files.StateFile = paths.StateDir + u'/' + files.Units.Base + u".state"_s;
  return files;
}

class TSystemdRegisteredTask : public TSchedRegisteredTask {
public:
  TSystemdRegisteredTask(TSystemdPaths paths, TTaskFiles files, std::shared_ptr<TSchedDefinition> definition)
    : FPaths(std::move(paths)), FFiles(std::move(files)), FDefinition(std::move(definition))
  {
  }

  QString Name() const override { return FFiles.Name; }
  QString Path() const override { return FFiles.Path; }

  int State() override
  {
    const Units units = Read();
    if (units.Running)
      return TASK_STATE_RUNNING;
    return units.Enabled ? TASK_STATE_READY : TASK_STATE_DISABLED;
  }

  bool Enabled() override { return Read().Enabled; }

  void SetEnabled(bool value) override
  {
    FDefinition->Settings()->SetBool(u"Enabled"_s, value);
    WriteFileWhole(FFiles.XmlFile, FDefinition->XmlBytes());
    if (HasTimer())
      SystemctlOrRaise(FPaths, {value ? u"enable"_s : u"disable"_s, u"--now"_s, FFiles.Units.Timer});
  }

  void Run() override { SystemctlOrRaise(FPaths, {u"start"_s, u"--no-block"_s, FFiles.Units.RunService}); }

  void Stop() override
  {
    SystemctlOrRaise(FPaths, {u"stop"_s, u"--no-block"_s, FFiles.Units.Service, FFiles.Units.RunService});
  }

  TDateTime LastRunTime() override
  {
    TTaskRunState state;
    ReadRunState(FFiles.StateFile, state);
    return LocalFromEpoch(state.LastRun);
  }

  HRESULT LastTaskResult() override
  {
    if (Read().Running)
      return SCHED_S_TASK_RUNNING;
    TTaskRunState state;
    ReadRunState(FFiles.StateFile, state);
    // Still marked running while no unit runs: the run was killed before the guard could tell.
    return state.Running ? SCHED_S_TASK_TERMINATED : HRESULT(state.Result);
  }

  int NumberOfMissedRuns() override { return 0; }

  TDateTime NextRunTime() override
  {
    // The timer may wake for checks the guard turns down (every other day,
    // before the start boundary); the next run is the next occurrence, as
    // long as the timer is waiting.
    if (!HasTimer() || !Read().TimerWaiting)
      return 0;
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime next;
    const auto triggers = FDefinition->Triggers();
    for (int position = 1, count = triggers->Count(); position <= count; ++position) {
      const TTriggerSchedule schedule = ScheduleOf(*triggers->Item(position));
      if (!schedule.Enabled)
        continue;
      const QDateTime occurrence = NextOccurrence(schedule, now);
      if (occurrence.isValid() && (!next.isValid() || occurrence < next))
        next = occurrence;
    }
    return next.isValid() ? DateTimeFromQDateTime(next.toLocalTime()) : 0;
  }

  std::shared_ptr<TSchedDefinition> Definition() override { return FDefinition->Clone(); }
  QString Xml() override { return FDefinition->XmlText(); }

private:
  struct Units {
    bool Running = false;
    bool Enabled = false;
    bool TimerWaiting = false;
  };

  bool HasTimer() const { return QFile::exists(FPaths.UnitDir + u'/' + FFiles.Units.Timer); }

  Units Read()
  {
    const auto blocks = ShowUnits(FPaths, {FFiles.Units.Timer, FFiles.Units.Service, FFiles.Units.RunService},
                                  u"Id,ActiveState,UnitFileState"_s);
    Units units;
    for (const auto& block : blocks) {
      const QString id = block.value(u"Id"_s);
      const QString active = block.value(u"ActiveState"_s);
      if (id == FFiles.Units.Timer) {
        const QString file = block.value(u"UnitFileState"_s);
        units.Enabled = file.startsWith(u"enabled");
        units.TimerWaiting = active == u"active";
      } else if (IsActive(active)) {
        units.Running = true;
      }
    }
    // A task without triggers has no timer: its own setting tells.
    if (!HasTimer())
      units.Enabled = FDefinition->Settings()->Bool(u"Enabled"_s, true);
    return units;
  }

  TSystemdPaths FPaths;
  TTaskFiles FFiles;
  std::shared_ptr<TSchedDefinition> FDefinition;
};

class TSystemdFolder : public TSchedFolder {
public:
  TSystemdFolder(TSystemdPaths paths, QString path, QString dir)
    : FPaths(std::move(paths)), FPath(std::move(path)), FDir(std::move(dir))
  {
  }

  QString Name() const override { return FPath == u"\\" ? FPath : FPath.section(u'\\', -1); }
  QString Path() const override { return FPath; }

  TSchedTaskList GetTasks(int /*flags*/) override
  {
    TSchedTaskList tasks;
    const QStringList files =
        QDir(FDir).entryList({u"*.xml"_s}, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString& file : files) {
      const QString name = file.chopped(4);
      if (name.isEmpty() || name.startsWith(u'.'))
        continue;
      std::shared_ptr<TSchedDefinition> definition;
      QString error;
      HRESULT code = S_OK;
      try {
        definition = ReadDefinition(FDir + u'/' + file);
        if (definition->Settings()->Bool(u"Hidden"_s, false))
          continue;
      } catch (const ETaskSchedulerError& failure) {
        code = failure.Code();
        error = failure.Message();
      }
      tasks.push_back([this, name, definition, code, error]() -> std::shared_ptr<TSchedRegisteredTask> {
        if (!definition)
          throw ETaskSchedulerError(code, error);
        return std::make_shared<TSystemdRegisteredTask>(FPaths, FilesOf(FPaths, FPath, FDir, name), definition);
      });
    }
    return tasks;
  }

  std::vector<std::shared_ptr<TSchedFolder>> GetFolders() override
  {
    std::vector<std::shared_ptr<TSchedFolder>> folders;
    for (const QString& name : QDir(FDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase))
      folders.push_back(std::make_shared<TSystemdFolder>(FPaths, JoinTaskPath(FPath, name), FDir + u'/' + name));
    return folders;
  }

  std::shared_ptr<TSchedFolder> CreateFolder(const QString& name, const QString& /*sddl*/) override
  {
    CheckName(name);
    const QString dir = FDir + u'/' + StoredName(FDir, name, true);
    if (QFileInfo::exists(dir))
      throw ETaskSchedulerError(E_ALREADY_EXISTS, _("The folder \"%1\" already exists").arg(name));
    if (!QDir().mkpath(dir))
      throw ETaskSchedulerError(E_ACCESSDENIED, _("The folder \"%1\" cannot be created").arg(dir));
    return std::make_shared<TSystemdFolder>(FPaths, JoinTaskPath(FPath, name), dir);
  }

  void DeleteFolder(const QString& name) override
  {
    CheckName(name);
    const QString dir = FDir + u'/' + StoredName(FDir, name, true);
    if (!QFileInfo(dir).isDir())
      throw ETaskSchedulerError(E_PATH_NOT_FOUND, _("There is no folder \"%1\"").arg(name));
    if (!QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
      throw ETaskSchedulerError(E_DIR_NOT_EMPTY, _("The folder \"%1\" is not empty").arg(name));
    if (!QDir().rmdir(dir))
      throw ETaskSchedulerError(E_ACCESSDENIED, _("The folder \"%1\" cannot be removed").arg(dir));
  }

  void DeleteTask(const QString& name) override
  {
    CheckName(name);
    const TTaskFiles files = FilesOf(FPaths, FPath, FDir, StoredName(FDir, name, false));
    if (!QFile::exists(files.XmlFile))
      throw ETaskSchedulerError(E_FILE_NOT_FOUND, _("There is no task \"%1\"").arg(name));
    const QString timer = FPaths.UnitDir + u'/' + files.Units.Timer;
    // Nothing is removed while the manager still runs the task's timer.
    if (QFile::exists(timer))
      SystemctlOrRaise(FPaths, {u"disable"_s, u"--now"_s, files.Units.Timer});
    Systemctl(FPaths, {u"stop"_s, files.Units.Service, files.Units.RunService});
    Systemctl(FPaths, {u"reset-failed"_s, files.Units.Service, files.Units.RunService});
    // The time stamp that Persistent= keeps.
    Systemctl(FPaths, {u"clean"_s, u"--what=state"_s, files.Units.Timer});
    RemoveFile(timer);
    RemoveFile(FPaths.UnitDir + u'/' + files.Units.Service);
    RemoveFile(FPaths.UnitDir + u'/' + files.Units.RunService);
    RemoveFile(files.StateFile);
    RemoveFile(files.XmlFile);
    SystemctlOrRaise(FPaths, {u"daemon-reload"_s});
  }

  std::shared_ptr<TSchedRegisteredTask> RegisterTaskDefinition(const QString& name, const TSchedDefinition& definition,
                                                               int flags, const QString& userId,
                                                               const QString& /*password*/, int logonType,
                                                               const QString& /*sddl*/) override
  {
    CheckName(name);
    CheckLogon(userId, logonType);
    const TTaskFiles files = FilesOf(FPaths, FPath, FDir, StoredName(FDir, name, false));
    const bool exists = QFile::exists(files.XmlFile);
    if (exists && !(flags & 4))
      throw ETaskSchedulerError(E_ALREADY_EXISTS, _("The task \"%1\" already exists").arg(name));
    if (!exists && !(flags & 2))
      throw ETaskSchedulerError(E_FILE_NOT_FOUND, _("There is no task \"%1\"").arg(name));

    auto stored = definition.Clone();
    stored->RegistrationInfo()->SetText(u"URI"_s, files.Path);
    // Everything that can be refused is refused before anything is written.
    const TTaskUnits units = BuildTaskUnits(*stored, files.Path, files.XmlFile, files.StateFile, FPaths);
    const QString timer = FPaths.UnitDir + u'/' + files.Units.Timer;
    if (units.Timer.isEmpty() && QFile::exists(timer))
      SystemctlOrRaise(FPaths, {u"disable"_s, u"--now"_s, files.Units.Timer});

    WriteFileWhole(files.XmlFile, stored->XmlBytes());
    // Occurrences before the registration are not missed runs.
    QString error;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (!UpdateRunState(
            files.StateFile, [now](TTaskRunState& state) { state.LastHandled = now; }, error))
      throw ETaskSchedulerError(E_ACCESSDENIED, error);
    WriteFileWhole(FPaths.UnitDir + u'/' + files.Units.Service, units.Service.toUtf8());
    WriteFileWhole(FPaths.UnitDir + u'/' + files.Units.RunService, units.RunService.toUtf8());
    if (units.Timer.isEmpty())
      RemoveFile(timer);
    else
      WriteFileWhole(timer, units.Timer.toUtf8());

    SystemctlOrRaise(FPaths, {u"daemon-reload"_s});
    if (!units.Timer.isEmpty()) {
      if (stored->Settings()->Bool(u"Enabled"_s, true)) {
        SystemctlOrRaise(FPaths, {u"enable"_s, files.Units.Timer});
        // A running timer keeps its old next elapse until it is started anew.
        SystemctlOrRaise(FPaths, {u"restart"_s, files.Units.Timer});
      } else {
        SystemctlOrRaise(FPaths, {u"disable"_s, u"--now"_s, files.Units.Timer});
      }
    }
    return std::make_shared<TSystemdRegisteredTask>(FPaths, files, stored);
  }

private:
  static void CheckLogon(const QString& userId, int logonType)
  {
    if (logonType == 1)
      throw ETaskSchedulerError(E_INVALIDARG,
                                _("A task cannot run as a user given with a password here: the user's own service "
                                  "manager runs it. Choose \"As logged-on user\"."));
    if (logonType == 4 || logonType == 5)
      throw ETaskSchedulerError(E_INVALIDARG, _("A task can only run as the logged-on user here"));
    // "DOMAIN\user" or "user"; only the user the manager belongs to.
    const QString user = userId.section(u'\\', -1);
    if (!user.isEmpty() && user != LoginName())
      throw ETaskSchedulerError(E_INVALIDARG,
                                _("A task can only run as the logged-on user (%1), not as %2").arg(LoginName(), user));
  }

  TSystemdPaths FPaths;
  QString FPath;
  QString FDir;
};

class TSystemdService : public TSchedService {
public:
  TSystemdService(TSystemdTaskPlatform& platform) : FPlatform(platform), FPaths(platform.Paths()) {}

  void Connect(const QString&, const QString&, const QString&, const QString&) override
  {
    if (!FPlatform.IsRunning())
      throw ETaskSchedulerError(SCHED_E_SERVICE_NOT_RUNNING, _("No systemd user manager answers"));
    if (!QDir().mkpath(FPaths.TasksDir))
      throw ETaskSchedulerError(E_ACCESSDENIED, _("The folder \"%1\" cannot be created").arg(FPaths.TasksDir));
    FConnected = true;
  }

  std::shared_ptr<TSchedFolder> GetFolder(const QString& path) override
  {
    if (!FConnected)
      throw ETaskSchedulerError(SCHED_E_SERVICE_NOT_RUNNING, _("Not connected to the task scheduler"));
    QString dir = FPaths.TasksDir;
    QString folderPath = u"\\"_s;
    for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
      try {
        CheckName(part);
      } catch (const ETaskSchedulerError&) {
        throw ETaskSchedulerError(E_PATH_NOT_FOUND, _("There is no folder \"%1\"").arg(path));
      }
      const QString stored = StoredName(dir, part, true);
      dir += u'/' + stored;
      folderPath = JoinTaskPath(folderPath, stored);
    }
    if (!QFileInfo(dir).isDir())
      throw ETaskSchedulerError(E_PATH_NOT_FOUND, _("There is no folder \"%1\"").arg(path));
    return std::make_shared<TSystemdFolder>(FPaths, folderPath, dir);
  }

  std::shared_ptr<TSchedDefinition> NewTask(int /*flags*/) override { return TSchedDefinition::Create(); }

private:
  TSystemdTaskPlatform& FPlatform;
  TSystemdPaths FPaths;
  bool FConnected = false;
};

} // namespace

TSystemdTaskPlatform::TSystemdTaskPlatform() = default;

TSystemdTaskPlatform::TSystemdTaskPlatform(TSystemdPaths paths) : FPaths(std::move(paths))
{
}

TSystemdPaths TSystemdTaskPlatform::Paths() const
{
  return FPaths ? *FPaths : TSystemdPaths::Default();
}

bool TSystemdTaskPlatform::IsRunning()
{
  // Any answer counts, "degraded" included; "offline" or no answer does not.
  static const QStringList answers = {u"initializing"_s, u"starting"_s,    u"running"_s,
                                      u"degraded"_s,     u"maintenance"_s, u"stopping"_s};
  const TCommandResult result = Systemctl(Paths(), {u"is-system-running"_s});
  return answers.contains(result.Output.trimmed());
}

std::shared_ptr<TSchedService> TSystemdTaskPlatform::CreateService()
{
  return std::make_shared<TSystemdService>(*this);
}

// ---- the guard's record

bool ReadRunState(const QString& fileName, TTaskRunState& state)
{
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0)
      continue;
    const QByteArray key = line.left(equals).trimmed();
    bool ok = false;
    const qint64 value = line.mid(equals + 1).trimmed().toLongLong(&ok);
    if (!ok)
      continue;
    if (key == "LastHandled")
      state.LastHandled = value;
    else if (key == "LastRun")
      state.LastRun = value;
    else if (key == "Result")
      state.Result = value;
    else if (key == "Running")
      state.Running = value != 0;
  }
  return true;
}

bool UpdateRunState(const QString& fileName, const std::function<void(TTaskRunState&)>& change, QString& error)
{
  QDir().mkpath(QFileInfo(fileName).absolutePath());
  QLockFile lock(fileName + u".lock"_s);
  if (!lock.tryLock(10000)) {
    error = _("\"%1\" is locked").arg(fileName);
    return false;
  }
  TTaskRunState state;
  ReadRunState(fileName, state);
  change(state);
  const QByteArray text =
      "LastHandled=" + QByteArray::number(state.LastHandled) + "\nLastRun=" + QByteArray::number(state.LastRun) +
      "\nResult=" + QByteArray::number(state.Result) + "\nRunning=" + QByteArray::number(state.Running ? 1 : 0) + "\n";
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
    error = _("\"%1\" cannot be written: %2").arg(fileName, file.errorString());
    return false;
  }
  return true;
}

} // namespace ardanto::scheduler
