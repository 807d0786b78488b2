#pragma once

// The schedule wizard's flow without its window: finding the task of a
// profile, its status, running and deleting it, and Execute, which opens the
// wizard on a new or an existing task, writes what the user chose into the
// task and registers it. Everything the flow shows or asks goes through a
// view, which the wizard's window implements and tests replace.

#include "scheduler/WinTask.h"
#include "scheduler/editor/ScheduleValues.h"

#include <QString>

#include <memory>

namespace ardanto {

// Results of Execute.
enum : int {
  srRegistered = 1, // the task was registered
  srCancelled = 2,  // cancelled, or an error was shown
  srRetry = 4       // registration failed for a reason the user can correct: open the wizard again
};

class TScheduleEditorView {
public:
  virtual ~TScheduleEditorView() = default;
  // A text prompt; false when cancelled.
  virtual bool PromptName(const QString& title, const QString& prompt, QString& name) = 0;
  virtual bool AskYesNo(const QString& text) = 0;
  virtual void ShowError(const QString& text) = 0;
  // Shows the wizard on the values; true for OK, with the values as the user left them.
  virtual bool EditSchedule(TScheduleValues& values) = 0;
};

// The text the main window shows when scheduling is not available, for the
// status the connection gave.
QString TaskSchedulerConnectionErrorText(HRESULT status);
// The system's text of a result code, with the code.
QString SchedulerErrorText(HRESULT code);

// The key in a task's data that marks it as the task of a profile, and the
// task's default name: "Quillbox-" + the profile.
QString ScheduleTaskKey(int action, const QString& profile);
QString DefaultScheduleTaskName(int action, const QString& profile);
// The action's text in titles: "Thunderbird mail backup".
QString ScheduleActionText(int action);
// The characters a task name must not hold, and the message for a name that does.
bool IsValidTaskName(const QString& name);
QString InvalidTaskNameText(const QString& name);

class TScheduleEditor {
public:
  explicit TScheduleEditor(TScheduleEditorView& view, TScheduleEnvironment env = TScheduleEnvironment::Current());

  // The connected scheduler (not owned); null: scheduling is not available.
  void InitTaskScheduler(TWinTaskScheduler* scheduler) { FScheduler = scheduler; }
  bool IsAvailable() const { return FScheduler != nullptr; }

  // The 1-based position of the profile's task in the (refreshed) folder, or 0.
  int GetUserTask(int action, const QString& userId);
  // "Status: ...", "Last run time: ...", "Next run time: ..." of a 1-based
  // position; empty for any other.
  QString GetStatus(int index);
  void RunTask(int index);
  void DeleteTask(int index);

  // index -1 creates the profile's task (task = the profile, options = the
  // program's arguments), 1 or more edits that position. path and retry play
  // no part for the mail backup. Returns srRegistered, srCancelled or srRetry.
  int Execute(int index, int action, const QString& path, const QString& task, const QString& options, bool retry);

  // The values the wizard was last opened on, as it left them.
  const TScheduleValues& Values() const { return FValues; }
  const TScheduleEnvironment& Environment() const { return FEnv; }

private:
  TWinTaskFolder* Folder() const { return FScheduler ? FScheduler->TaskFolder() : nullptr; }
  TWinRegisteredTask* TaskAt(int index) const;
  int EditAndRegister(TWinTask& task, const QString& taskName, bool newTask, bool useOptions, int action,
                      const QString& profile, const QString& options);

  TScheduleEditorView& FView;
  TScheduleEnvironment FEnv;
  TWinTaskScheduler* FScheduler = nullptr;
  TScheduleValues FValues;
};

} // namespace ardanto
