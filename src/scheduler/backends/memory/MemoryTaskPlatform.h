#pragma once

// A scheduler of plain objects: folders, registered tasks and their
// definitions live in memory for as long as the platform object does. For the
// tests of the object model and of the windows that use it. A test can make
// any operation fail with a code of its choice, and sees the credentials each
// registration was given.

#include "scheduler/TaskPlatform.h"

#include <QHash>
#include <QList>
#include <QString>

#include <map>
#include <memory>

namespace ardanto::scheduler {

struct TMemoryFolderData;

// What RegisterTaskDefinition was called with.
struct TMemoryRegistration {
  QString Path;
  int Flags = 0;
  QString UserId;
  QString Password;
  int LogonType = 0;
};

// One registered task's state as the scheduler keeps it.
struct TMemoryTaskData {
  QString Name;
  QString Path;
  std::shared_ptr<TSchedDefinition> Definition; // the registered copy
  bool Enabled = true;
  int State = TASK_STATE_READY;
  TDateTime LastRunTime = 0;
  HRESULT LastResult = SCHED_S_TASK_HAS_NOT_RUN;
  int MissedRuns = 0;
  TDateTime NextRunTime = 0;
  int Runs = 0;  // Run calls
  int Stops = 0; // Stop calls
};

class TMemoryTaskPlatform : public TSchedPlatform {
public:
  TMemoryTaskPlatform();
  ~TMemoryTaskPlatform() override;

  bool IsRunning() override { return Running; }
  std::shared_ptr<TSchedService> CreateService() override;

  // Operations that fail: "CreateService", "Connect", "GetFolder", "NewTask",
  // "GetTasks", "GetTask" (loading one task during an enumeration), "GetFolders",
  // "CreateFolder", "DeleteFolder", "DeleteTask", "Register", "Run", "Stop",
  // "SetEnabled". The failure stays until cleared.
  void Fail(const QString& operation, HRESULT code, const QString& message);
  void ClearFailures() { FFailures.clear(); }
  void Check(const QString& operation) const; // raises the failure set for operation

  // The task at a path such as "\Backup" (nullptr when there is none).
  TMemoryTaskData* Task(const QString& path);
  // Every registration so far, oldest first.
  QList<TMemoryRegistration> Registrations;
  bool Running = true;

  // The tree itself, for the backend's objects.
  std::shared_ptr<TMemoryFolderData> Root() const { return FRoot; }

private:
  std::shared_ptr<TMemoryFolderData> FRoot;
  QHash<QString, QPair<HRESULT, QString>> FFailures;
};

struct TMemoryFolderData {
  QString Name;
  QString Path;
  // Sorted by name, as the scheduler lists them.
  std::map<QString, std::shared_ptr<TMemoryTaskData>> Tasks;
  std::map<QString, std::shared_ptr<TMemoryFolderData>> Folders;
};

} // namespace ardanto::scheduler
