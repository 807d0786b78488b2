#include "scheduler/backends/memory/MemoryTaskPlatform.h"

#include "common/Translate.h"

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

namespace {

// Names are found regardless of case, as the scheduler finds them.
QString Key(const QString& name)
{
  return name.toCaseFolded();
}

class TMemoryRegisteredTask : public TSchedRegisteredTask {
public:
  TMemoryRegisteredTask(TMemoryTaskPlatform& platform, std::shared_ptr<TMemoryTaskData> data)
    : FPlatform(platform), FData(std::move(data))
  {
  }

  QString Name() const override { return FData->Name; }
  QString Path() const override { return FData->Path; }
  int State() override { return FData->Enabled ? FData->State : TASK_STATE_DISABLED; }
  bool Enabled() override { return FData->Enabled; }
  void SetEnabled(bool value) override
  {
    FPlatform.Check(u"SetEnabled"_s);
    FData->Enabled = value;
    FData->Definition->Settings()->SetBool(u"Enabled"_s, value);
  }
  void Run() override
  {
    FPlatform.Check(u"Run"_s);
    ++FData->Runs;
    FData->LastRunTime = DateTimeNow();
    FData->LastResult = S_OK;
  }
  void Stop() override
  {
    FPlatform.Check(u"Stop"_s);
    ++FData->Stops;
    if (FData->State == TASK_STATE_RUNNING)
      FData->State = TASK_STATE_READY;
  }
  TDateTime LastRunTime() override { return FData->LastRunTime; }
  HRESULT LastTaskResult() override { return FData->LastResult; }
  int NumberOfMissedRuns() override { return FData->MissedRuns; }
  TDateTime NextRunTime() override { return FData->NextRunTime; }
  std::shared_ptr<TSchedDefinition> Definition() override { return FData->Definition->Clone(); }
  QString Xml() override { return FData->Definition->XmlText(); }

private:
  TMemoryTaskPlatform& FPlatform;
  std::shared_ptr<TMemoryTaskData> FData;
};

class TMemoryFolder : public TSchedFolder {
public:
  TMemoryFolder(TMemoryTaskPlatform& platform, std::shared_ptr<TMemoryFolderData> data)
    : FPlatform(platform), FData(std::move(data))
  {
  }

  QString Name() const override { return FData->Name; }
  QString Path() const override { return FData->Path; }

  TSchedTaskList GetTasks(int /*flags*/) override
  {
    FPlatform.Check(u"GetTasks"_s);
    TSchedTaskList tasks;
    for (const auto& [key, task] : FData->Tasks) {
      if (task->Definition->Settings()->Bool(u"Hidden"_s, false))
        continue;
      tasks.push_back([this, task = task]() -> std::shared_ptr<TSchedRegisteredTask> {
        FPlatform.Check(u"GetTask"_s);
        return std::make_shared<TMemoryRegisteredTask>(FPlatform, task);
      });
    }
    return tasks;
  }

  std::vector<std::shared_ptr<TSchedFolder>> GetFolders() override
  {
    FPlatform.Check(u"GetFolders"_s);
    std::vector<std::shared_ptr<TSchedFolder>> folders;
    for (const auto& [key, folder] : FData->Folders)
      folders.push_back(std::make_shared<TMemoryFolder>(FPlatform, folder));
    return folders;
  }

  std::shared_ptr<TSchedFolder> CreateFolder(const QString& name, const QString& /*sddl*/) override
  {
    FPlatform.Check(u"CreateFolder"_s);
    CheckName(name);
    if (FData->Folders.count(Key(name)))
      throw ETaskSchedulerError(E_ALREADY_EXISTS, _("The folder \"%1\" already exists").arg(name));
    auto folder = std::make_shared<TMemoryFolderData>();
    folder->Name = name;
    folder->Path = JoinTaskPath(FData->Path, name);
    FData->Folders[Key(name)] = folder;
    return std::make_shared<TMemoryFolder>(FPlatform, folder);
  }

  void DeleteFolder(const QString& name) override
  {
    FPlatform.Check(u"DeleteFolder"_s);
    const auto it = FData->Folders.find(Key(name));
    if (it == FData->Folders.end())
      throw ETaskSchedulerError(E_PATH_NOT_FOUND, _("There is no folder \"%1\"").arg(name));
    if (!it->second->Tasks.empty() || !it->second->Folders.empty())
      throw ETaskSchedulerError(E_DIR_NOT_EMPTY, _("The folder \"%1\" is not empty").arg(name));
    FData->Folders.erase(it);
  }

  void DeleteTask(const QString& name) override
  {
    FPlatform.Check(u"DeleteTask"_s);
    if (FData->Tasks.erase(Key(name)) == 0)
      throw ETaskSchedulerError(E_FILE_NOT_FOUND, _("There is no task \"%1\"").arg(name));
  }

  std::shared_ptr<TSchedRegisteredTask> RegisterTaskDefinition(const QString& name, const TSchedDefinition& definition,
                                                               int flags, const QString& userId,
                                                               const QString& password, int logonType,
                                                               const QString& /*sddl*/) override
  {
    FPlatform.Check(u"Register"_s);
    CheckName(name);
    const QString path = JoinTaskPath(FData->Path, name);
    FPlatform.Registrations.append({path, flags, userId, password, logonType});
    auto& slot = FData->Tasks[Key(name)];
    if (!slot) {
      slot = std::make_shared<TMemoryTaskData>();
      slot->Name = name;
      slot->Path = path;
    }
    slot->Definition = definition.Clone();
    slot->Definition->RegistrationInfo()->SetText(u"URI"_s, path);
    slot->Enabled = slot->Definition->Settings()->Bool(u"Enabled"_s, true);
    return std::make_shared<TMemoryRegisteredTask>(FPlatform, slot);
  }

private:
  static void CheckName(const QString& name)
  {
    if (name.isEmpty() || name.contains(u'\\'))
      throw ETaskSchedulerError(E_INVALIDARG, _("\"%1\" is not a valid name").arg(name));
  }

  TMemoryTaskPlatform& FPlatform;
  std::shared_ptr<TMemoryFolderData> FData;
};

class TMemoryService : public TSchedService {
public:
  explicit TMemoryService(TMemoryTaskPlatform& platform) : FPlatform(platform) {}

  void Connect(const QString&, const QString&, const QString&, const QString&) override
  {
    FPlatform.Check(u"Connect"_s);
    FConnected = true;
  }

  std::shared_ptr<TSchedFolder> GetFolder(const QString& path) override
  {
    FPlatform.Check(u"GetFolder"_s);
    if (!FConnected)
      throw ETaskSchedulerError(SCHED_E_SERVICE_NOT_RUNNING, _("Not connected to the task scheduler"));
    auto folder = FPlatform.Root();
    for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
      const auto it = folder->Folders.find(Key(part));
      if (it == folder->Folders.end())
        throw ETaskSchedulerError(E_PATH_NOT_FOUND, _("There is no folder \"%1\"").arg(path));
      folder = it->second;
    }
    return std::make_shared<TMemoryFolder>(FPlatform, folder);
  }

  std::shared_ptr<TSchedDefinition> NewTask(int /*flags*/) override
  {
    FPlatform.Check(u"NewTask"_s);
    return TSchedDefinition::Create();
  }

private:
  TMemoryTaskPlatform& FPlatform;
  bool FConnected = false;
};

} // namespace

TMemoryTaskPlatform::TMemoryTaskPlatform() : FRoot(std::make_shared<TMemoryFolderData>())
{
  FRoot->Name = u"\\"_s;
  FRoot->Path = u"\\"_s;
}

TMemoryTaskPlatform::~TMemoryTaskPlatform() = default;

std::shared_ptr<TSchedService> TMemoryTaskPlatform::CreateService()
{
  Check(u"CreateService"_s);
  return std::make_shared<TMemoryService>(*this);
}

void TMemoryTaskPlatform::Fail(const QString& operation, HRESULT code, const QString& message)
{
  FFailures.insert(operation, {code, message});
}

void TMemoryTaskPlatform::Check(const QString& operation) const
{
  const auto it = FFailures.constFind(operation);
  if (it != FFailures.constEnd())
    throw ETaskSchedulerError(it->first, it->second);
}

TMemoryTaskData* TMemoryTaskPlatform::Task(const QString& path)
{
  auto folder = FRoot;
  QStringList parts = path.split(u'\\', Qt::SkipEmptyParts);
  if (parts.isEmpty())
    return nullptr;
  const QString name = parts.takeLast();
  for (const QString& part : parts) {
    const auto it = folder->Folders.find(Key(part));
    if (it == folder->Folders.end())
      return nullptr;
    folder = it->second;
  }
  const auto it = folder->Tasks.find(Key(name));
  return it == folder->Tasks.end() ? nullptr : it->second.get();
}

} // namespace ardanto::scheduler
