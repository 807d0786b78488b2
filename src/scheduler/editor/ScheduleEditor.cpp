#include "scheduler/editor/ScheduleEditor.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/Translate.h"

#include <stdexcept>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

struct TCodeText {
  std::uint32_t Code;
  const char* Text;
};

// The scheduler's own codes and the logon failures a registration reports;
// everything else is in the common table.
constexpr TCodeText kSchedulerTexts[] = {
    {0x80041315u, N_("The Task Scheduler service is not running.")},
    {0x8004131Au, N_("The task XML is malformed.")},
    {0x80070002u, N_("The system cannot find the file specified.")},
    {0x80070003u, N_("The system cannot find the path specified.")},
    {0x80070091u, N_("The directory is not empty.")},
    {0x800700B7u, N_("Cannot create a file when that file already exists.")},
    {0x8007052Eu, N_("The user name or password is incorrect.")},
    {0x8007052Fu, N_("Account restrictions are preventing this user from signing in.")},
    {0x80070530u, N_("Your account has time restrictions that keep you from signing in right now.")},
    {0x80070531u, N_("This user isn't allowed to sign in to this computer.")},
    {0x80070532u, N_("The password for this account has expired.")},
    {0x80070533u, N_("This user can't sign in because this account is currently disabled.")},
    {0x80070534u, N_("No mapping between account names and security IDs was done.")},
};

// Logon failures (a wrong password ...) and invalid parameters: the user can
// put them right in the wizard.
bool CorrectableInWizard(HRESULT code)
{
  const int low = int(std::uint32_t(code) & 0xFFFFu);
  return (low >= 1326 && low <= 1332) || low == 87;
}

const QString kInvalidNameCharacters = u"*?<>:\"/\\|"_s;

} // namespace

QString SchedulerErrorText(HRESULT code)
{
  QString message;
  bool known = false;
  for (const TCodeText& entry : kSchedulerTexts) {
    if (entry.Code == std::uint32_t(code)) {
      message = _(entry.Text);
      known = true;
      break;
    }
  }
  if (!known)
    known = HResultMessage(code, message);
  if (!known)
    return _("Error code") + QString::asprintf(" = 0x%.8x", std::uint32_t(code));
  return message + QString::asprintf(" (0x%.8x)", std::uint32_t(code));
}

QString TaskSchedulerConnectionErrorText(HRESULT status)
{
  if (status == kSchedulerNotOnXP)
    return _("Windows Task Scheduler 2.0 is not available on Windows XP");
  return SafeFormat(_("Error on connecting to Windows Task Scheduler:\r\n%s"), {SchedulerErrorText(status)});
}

QString ScheduleTaskKey(int /*action*/, const QString& profile)
{
  return u"Quillbox-"_s + profile;
}

QString DefaultScheduleTaskName(int action, const QString& profile)
{
  return ScheduleTaskKey(action, profile);
}

QString ScheduleActionText(int /*action*/)
{
  return _("Thunderbird mail backup");
}

bool IsValidTaskName(const QString& name)
{
  for (const QChar c : name) {
    if (c.unicode() < 32 || kInvalidNameCharacters.contains(c))
      return false;
  }
  return true;
}

QString InvalidTaskNameText(const QString& name)
{
  QStringList characters;
  for (const QChar c : kInvalidNameCharacters)
    characters.append(QString(c));
  return _("Task Scheduler") + u"\r\n"_s +
         SafeFormat(_("\"%s\" contains invalid characters (%s)!"), {name, characters.join(u' ')});
}

TScheduleEditor::TScheduleEditor(TScheduleEditorView& view, TScheduleEnvironment env)
  : FView(view), FEnv(std::move(env))
{
}

TWinRegisteredTask* TScheduleEditor::TaskAt(int index) const
{
  TWinTaskFolder* folder = Folder();
  if (!folder || index < 1 || index > folder->TaskCount())
    return nullptr;
  // TaskCount is the count of the last listing; a listing stopped by an error holds fewer.
  try {
    return folder->GetTask(index - 1);
  } catch (const std::out_of_range&) {
    return nullptr;
  }
}

int TScheduleEditor::GetUserTask(int action, const QString& userId)
{
  TWinTaskFolder* folder = Folder();
  if (!folder)
    return 0;
  folder->Refresh();
  const QString key = ScheduleTaskKey(action, userId);
  for (int i = 1; i <= folder->TaskCount(); ++i) {
    TWinRegisteredTask* task = TaskAt(i);
    if (task && task->Definition()->UserData().compare(key, Qt::CaseInsensitive) == 0)
      return i;
  }
  return 0;
}

QString TScheduleEditor::GetStatus(int index)
{
  TWinRegisteredTask* task = TaskAt(index);
  if (!task)
    return QString();
  try {
    return _("Status") + u": "_s + task->StatusAsString() + u"\r\n"_s + _("Last run time") + u": "_s +
           task->LastRunTimeAsString() + u"\r\n"_s + _("Next run time") + u": "_s + task->NextRunTimeAsString();
  } catch (const EArdantoError& error) {
    return error.Message();
  }
}

void TScheduleEditor::RunTask(int index)
{
  TWinRegisteredTask* task = TaskAt(index);
  if (!task)
    return;
  try {
    task->Run();
  } catch (const EArdantoError& error) {
    FView.ShowError(error.Message());
  }
}

void TScheduleEditor::DeleteTask(int index)
{
  TWinRegisteredTask* task = TaskAt(index);
  if (!task)
    return;
  // The folder's listing, and the task with it, is replaced by the deletion.
  const QString name = task->TaskName();
  TWinTaskFolder* folder = Folder();
  if (!folder->DeleteTask(name))
    FView.ShowError(folder->ErrorMessage());
}

int TScheduleEditor::Execute(int index, int action, const QString& /*path*/, const QString& task,
                             const QString& options, bool /*retry*/)
{
  if (!IsAvailable()) {
    FView.ShowError(_("Scheduled tasks are not available on this computer!"));
    return srCancelled;
  }
  if (index >= 1) {
    TWinRegisteredTask* registered = TaskAt(index);
    if (!registered)
      return srCancelled;
    const QString name = registered->TaskName();
    return EditAndRegister(*registered->Definition(), name, false, false, action, task, options);
  }

  const QString defaultName = DefaultScheduleTaskName(action, task);
  const HRESULT refreshed = FScheduler->Refresh();
  TWinTaskFolder* folder = Folder();
  if (!folder || FAILED(refreshed)) {
    FView.ShowError(TaskSchedulerConnectionErrorText(refreshed));
    return srCancelled;
  }
  QString name = defaultName;
  int existing = folder->IndexOfTask(name);
  if (existing >= 0) {
    if (!FView.AskYesNo(SafeFormat(_("Task \"%s\" already exists - edit?"), {folder->GetTask(existing)->TaskName()})))
      return srCancelled;
  } else {
    for (;;) {
      if (!FView.PromptName(ScheduleActionText(action), _("Name of new scheduled task:"), name))
        return srCancelled;
      if (!IsValidTaskName(name)) {
        FView.ShowError(InvalidTaskNameText(name));
        continue;
      }
      // Registering under the name of another task would replace that task:
      // offer to edit it instead, or to choose another name.
      existing = folder->IndexOfTask(name);
      if (existing < 0 ||
          FView.AskYesNo(SafeFormat(_("Task \"%s\" already exists - edit?"), {folder->GetTask(existing)->TaskName()})))
        break;
    }
  }
  if (existing >= 0) {
    const QString existingName = folder->GetTask(existing)->TaskName();
    return EditAndRegister(*folder->GetTask(existing)->Definition(), existingName, false, true, action, task, options);
  }

  std::unique_ptr<TWinTask> created;
  try {
    created = FScheduler->NewTask();
  } catch (const EArdantoError& error) {
    FView.ShowError(_("Error creating new scheduled task!") + u"\r\n"_s + u"- "_s + error.Message());
    return srCancelled;
  }
  created->SetDescription(_("This task was created by Ardanto"));
  created->SetAuthor(FEnv.UserName);
  created->SetUserId(FEnv.SamUserName.isEmpty() ? FEnv.UserName : FEnv.SamUserName);
  created->SetDate(FEnv.Now());
  // So that the account page opens on its default, the logged-on user.
  created->SetLogonType(ltToken);
  TWinTaskAction* exec = created->NewAction(taExec);
  exec->SetPath(QuoteIfSpace(FEnv.ProgramPath));
  exec->SetArguments(options);
  exec->SetWorkingDirectory(QString());
  // The new definition is discarded with `created` whatever the outcome.
  return EditAndRegister(*created, name, true, true, action, task, options);
}

int TScheduleEditor::EditAndRegister(TWinTask& task, const QString& taskName, bool newTask, bool useOptions, int action,
                                     const QString& profile, const QString& options)
{
  QString error;
  if (!LoadScheduleValues(task, taskName, FEnv, FValues, error)) {
    FView.ShowError(error);
    return srCancelled;
  }
  if (!FView.EditSchedule(FValues))
    return srCancelled;

  TSaveOptions save;
  save.NewTask = newTask;
  save.UseOptions = useOptions;
  save.Options = options;
  save.UserDataKey = ScheduleTaskKey(action, profile);
  TWinTaskFolder* folder = Folder();
  try {
    for (const QString& message : SaveScheduleValues(FValues, task, taskName, save, FEnv))
      FView.ShowError(message);
  } catch (const EArdantoError& failure) {
    // A definition the scheduler refuses to change; nothing was registered.
    FView.ShowError(_("Could not create or modify scheduled task!") + u"\r\n"_s + failure.Message());
    if (!newTask)
      folder->Refresh();
    return srCancelled;
  }
  // `task` may belong to the folder's listing, which registering replaces:
  // nothing of it is used after this call.
  if (folder->RegisterTask(taskName, task, FValues.UserName, FValues.Password) >= 0)
    return srRegistered;
  const HRESULT code = folder->ErrorCode();
  FView.ShowError(_("Could not create or modify scheduled task!") + u"\r\n"_s + SchedulerErrorText(code) + u" - "_s +
                  folder->ErrorMessage());
  if (!newTask)
    folder->Refresh();
  return CorrectableInWizard(code) ? srRetry : srCancelled;
}

} // namespace ardanto
