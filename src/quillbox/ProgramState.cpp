#include "quillbox/ProgramState.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "common/PathUtils.h"
#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "common/VolumePaths.h"
#include "platform/Volumes.h"
#include "quillbox/BackupRun.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quillbox {

using namespace Qt::StringLiterals;
using namespace ardanto;

namespace {

// The engine's program file, as messages name it.
const QString kEngineName = u"ardanto"_s;

QString AbsoluteFolder(const QString& folder)
{
  return SetDirName(QDir::cleanPath(QDir::current().absoluteFilePath(folder)));
}

// [Config] ProtDir of the engine's settings: the folder of its logs.
QString ReadProtDir(const QString& engineSettingsFile)
{
  if (!QFileInfo(engineSettingsFile).isFile())
    return QString();
  try {
    return TUnicodeIniFile::CreateForRead(engineSettingsFile).ReadString(u"Config"_s, u"ProtDir"_s, QString());
  } catch (const std::exception&) {
    return QString(); // an unreadable engine settings file names no log folder
  }
}

// Holds the flag while the engine runs, also when the wait is left by an
// exception of an event handler.
class TRunningFlag {
public:
  explicit TRunningFlag(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TRunningFlag() { FFlag = false; }
  TRunningFlag(const TRunningFlag&) = delete;
  TRunningFlag& operator=(const TRunningFlag&) = delete;

private:
  bool& FFlag;
};

} // namespace

QString EngineNotFoundText()
{
  return FormatText(_("\"%s\" not found on this system!"), {kEngineName});
}

QString EngineStillRunningText()
{
  return _("Ardanto is still running a backup or restore!\r\n"
           "Wait until it has finished before starting the next one.");
}

QString NoBackupDirText()
{
  return _("Destination") + u": "_s + _("No directory specified!");
}

TProgramState::TProgramState(IProgramView& view) : FView(view)
{
}

void TProgramState::Create(const QStringList& arguments)
{
  AppPath = ProgramIniFolder(u"Ardanto6/"_s, false);
  UserPath = DocumentsFolder();
  ProgTitle = u"Quillbox"_s;
  ProgVersion = ProgramVersionInfo(ProgTitle).Version;

  // A program carried on a USB stick keeps its settings with it.
  const QString programFolder = CurrentProgramPaths().ProgramFolder;
  if (platform::IsUsbDrive(programFolder))
    SettingsDir = programFolder;
  else
    SettingsDir = SetDirName(SettingsFolder(AppPath));

  JobDir.clear();
  IniName.clear();
  BuDir.clear();
  LogDir.clear();
  LogMode = -1;
  UserName = ardanto::UserName();
  WaitDelay = 5;
  StatusPrompt = 1;
  ExcludedDirs.clear();

  EnginePath = FindEngine();

  Profiles = TThunderbirdProfiles(FindThunderbirdFolder(QDir::homePath()));
  ProfFound = Profiles.ReadProfiles();

  LogOffMode = platform::dmNone;
  SuspendMode = platform::smNone;
  Force = false;
  MailProfile.clear();
  MailDir.clear();

  const TCommandLine line = ParseCommandLine(arguments);
  MailProfile = line.MailProfile;
  Force = line.Force;
  JobDir = line.JobDir;
  BuDir = line.BuDir;
  LogMode = line.LogMode;
  LogDir = line.LogDir;
  UseDarkMode = line.UseDarkMode;
  ExcludedDirs = line.ExcludedDirs;
  LogOffMode = line.LogOffMode;
  SuspendMode = line.SuspendMode;
  WaitDelay = line.WaitDelay;
  StatusPrompt = line.StatusPrompt;

  if (!LogDir.isEmpty())
    LogDir = SetDirName(ExpandPathPlaceholders(LogDir));

  if (!QDir().mkpath(SettingsDir))
    SettingsDir = AppPath;
  EngineSettingsFile = SettingsDir + u"Ardanto.ini"_s;

  if (!JobDir.isEmpty())
    JobDir = AbsoluteFolder(SetDirName(ExpandPathPlaceholders(JobDir)));
  QString protDir;
  if (JobDir.isEmpty() || !QFileInfo(JobDir).isDir()) {
    JobDir = JobFolder(EngineSettingsFile, UserPath);
    protDir = ReadProtDir(EngineSettingsFile);
  }
  JobDir = AbsoluteFolder(JobDir);
  SetLogFolderSources(protDir, SettingsDir);

  if (line.IniGiven) {
    IniName = IniNameFromOption(ExpandPathPlaceholders(line.IniName), SettingsDir, QDir::currentPath());
  } else {
    IniName = SettingsDir + u"Quillbox.ini"_s;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    MigrateSettingsFile(IniName, SettingsDir, SetDirName(config) + u"Ardanto6/"_s, SetDirName(config) + u"Ardanto5/"_s);
  }

  TProgramSettings settings;
  try {
    settings = LoadProgramSettings(IniName);
  } catch (const EArdantoError& e) {
    FView.ShowError(e.Message()); // the defaults serve, and closing writes a readable file
  }
  Top = settings.Top;
  Left = settings.Left;
  SetDestDir(settings.BackupDirectory, true);
  if (MailProfile.isEmpty()) {
    if (Force)
      MailProfile = Profiles.ProfileList().DefaultProfile();
    else if (Profiles.ProfileList().IsInList(settings.MailProfile))
      MailProfile = settings.MailProfile;
  }
  Task = TMailTaskSettings();
  Task.IncludeCalendar = settings.BackupCalendar;
  WaitTime = settings.WaitTime;
  StatusWindow = settings.StatusWindow;
  ExcludedFiles = settings.ExcludedFiles;
  ExcludedTypes = settings.ExcludedTypes;

  ResetMailData(Task.MailData);
  Task.MailMode = mmNone;
  Task.CryptMode = 0;
  Task.CryptPwd.clear();
  Task.SyncMode = 0;
  Task.TaskNote.clear();
  Task.Changed = false;
  Task.DriveId = DefaultDriveId();
  Task.BackupCount = 0;
}

bool TProgramState::CheckPrerequisites()
{
  if (!ProfFound) {
    QString text = _("No Thunderbird profiles found!");
    if (!Profiles.ReadProblem().isEmpty())
      text += u"\r\n"_s + Profiles.ReadProblem();
    FView.ShowError(text);
    return false;
  }
  if (EnginePath.isEmpty()) {
    FView.ShowError(EngineNotFoundText());
    return false;
  }
  if (!QDir().mkpath(JobDir)) {
    FView.ShowError(FormatText(_("Error accessing directory: \"%s\""), {JobDir}));
    return false;
  }
  return true;
}

bool TProgramState::CheckForce()
{
  if (!Force)
    return false;
  if (CheckPrerequisites()) {
    const TProfileList& list = Profiles.ProfileList();
    if (list.NotInList(MailProfile)) {
      FView.ShowError(FormatText(_("Profile \"%s\" not found!"), {list.GetProfileName(MailProfile)}));
      return true;
    }
    ChooseProfile(MailProfile);
    LoadTask(BuTaskName);
    StartBackup(BuTaskName, true);
  }
  ShutDownOrSuspend();
  return true;
}

void TProgramState::ShutDownOrSuspend()
{
  QString error;
  if (LogOffMode != platform::dmNone) {
    if (!platform::ShutDownWindows(LogOffMode, &error))
      FView.ShowError(u"  *** "_s + FormatText(_("Error on shutting down or logging off!\r\n%s"), {error}));
  } else if (SuspendMode != platform::smNone) {
    if (!platform::SuspendWindows(SuspendMode == platform::smHibernate, &error))
      FView.ShowError(u"  *** "_s + FormatText(_("Error on suspending system!\r\n%s"), {error}));
  }
}

bool TProgramState::ChooseProfile(const QString& name)
{
  const TProfileList& list = Profiles.ProfileList();
  const qsizetype index = list.IndexOf(name);
  if (index < 0)
    return false;
  MailProfile = list.Name(index);
  MailDir = list.GetFullPath(MailProfile);
  BuTaskName = TaskFileName(JobDir, MailProfile);
  ReTaskName = RestoreTaskFileName(BuTaskName);
  return true;
}

bool TProgramState::LoadTask(const QString& fileName)
{
  QString error;
  if (quillbox::LoadTask(fileName, Task, DefaultDriveId(), &error))
    return true;
  if (!error.isEmpty()) {
    FView.ShowError(error);
  } else {
    // No task file yet: what the window shows is a task the file does not
    // hold, and quitting writes it.
    Task.Changed = true;
  }
  return false;
}

bool TProgramState::SaveTask(const QString& fileName, bool forced)
{
  QString error;
  if (quillbox::SaveTask(fileName, Task, TaskContext(), forced, &error))
    return true;
  FView.ShowError(error);
  return false;
}

TTaskContext TProgramState::TaskContext() const
{
  TTaskContext context;
  context.DestDir = DestDir;
  context.MailDir = MailDir;
  context.LogDir = LogDir;
  context.ExcludedFiles = ExcludedFiles;
  context.ExcludedTypes = ExcludedTypes;
  context.ExcludedDirs = ExcludedDirs;
  context.BuDir = BuDir;
  context.LogMode = LogMode;
  return context;
}

void TProgramState::SetDestDir(const QString& text, bool prompt)
{
  DestDir = text;
  RealDir = text;
  QString label;
  TVolumePrompt ask;
  if (prompt)
    ask = [this](const QString& question) { return FView.RetryVolume(question); };
  ResolveVolumePath(RealDir, label, ask);
}

QString TProgramState::StatusOptions(bool forced) const
{
  if (forced)
    return quillbox::StatusOptions(StatusPrompt, WaitDelay, false);
  return quillbox::StatusOptions(StatusWindow, WaitTime, OnTop);
}

TEngineCommand TProgramState::BackupCommand(const QString& taskFile, bool forced) const
{
  if (forced)
    return quillbox::BackupCommand(EnginePath, taskFile, StatusPrompt, WaitDelay, false);
  return quillbox::BackupCommand(EnginePath, taskFile, StatusWindow, WaitTime, OnTop);
}

QString TProgramState::BackupFolder(bool forced)
{
  // A volume that was away when the folder was entered may be there now.
  QString folder = forced && !BuDir.isEmpty() ? BuDir : RealDir;
  QString label;
  ResolveVolumePath(folder, label, [this](const QString& question) { return FView.RetryVolume(question); });
  // The engine expands the destination the same way, with the volume name of
  // the task's first folder entry, which the task leaves empty.
  return ExpandDestinationPlaceholders(folder, QString(), Task.BackupCount).trimmed();
}

bool TProgramState::MakeBackupFolder(bool forced, QString& folder)
{
  folder = BackupFolder(forced);
  if (folder.isEmpty()) {
    FView.ShowError(NoBackupDirText());
    return false;
  }
  // A folder that is not absolute (a volume that is not mounted, say) would
  // land wherever the program happens to run.
  if (!folder.startsWith(kPathDelim) || !QDir().mkpath(folder)) {
    FView.ShowError(FormatText(_("Could not create directory:\r\n\"%s\""), {folder}));
    return false;
  }
  return true;
}

bool TProgramState::StartBackup(const QString& taskFile, bool forced)
{
  if (FEngineRunning) {
    FView.ShowError(EngineStillRunningText());
    return false;
  }
  QString folder;
  if (!MakeBackupFolder(forced, folder) || !SaveTask(taskFile, forced))
    return false;
  QString error;
  if (!WriteBackupInfo(folder, MailProfile, MailDir, error))
    FView.ShowError(error); // the record helps a restore later; the backup goes on without it
  return RunEngine(BackupCommand(taskFile, forced));
}

bool TProgramState::HasBackupDir()
{
  if (!RealDir.trimmed().isEmpty())
    return true;
  FView.ShowError(NoBackupDirText());
  return false;
}

bool TProgramState::SaveUnattendedTask()
{
  QString folder;
  return MakeBackupFolder(false, folder) && SaveTask(BuTaskName, false);
}

QString TProgramState::UnattendedArguments(const QString& options) const
{
  return QuoteIfBlank(MailProfile) + options;
}

bool TProgramState::RunEngine(const TEngineCommand& command)
{
  if (FEngineRunning) {
    FView.ShowError(EngineStillRunningText());
    return false;
  }
  TEngineOutcome outcome;
  {
    const TRunningFlag running(FEngineRunning);
    outcome = ExecuteEngine(command, [this] { FView.ProcessEvents(); });
  }
  if (outcome.Result == TEngineResult::erSuccess)
    return true;
  FView.ShowError(outcome.Message);
  return false;
}

TProgramSettings TProgramState::ProgramSettings() const
{
  TProgramSettings settings;
  settings.Top = Top;
  settings.Left = Left;
  settings.BackupDirectory = DestDir;
  settings.MailProfile = MailProfile;
  settings.BackupCalendar = Task.IncludeCalendar;
  settings.WaitTime = WaitTime;
  settings.StatusWindow = StatusWindow;
  settings.ExcludedFiles = ExcludedFiles;
  settings.ExcludedTypes = ExcludedTypes;
  return settings;
}

bool TProgramState::SaveSettings(int top, int left)
{
  Top = top;
  Left = left;
  try {
    SaveProgramSettings(IniName, ProgramSettings(), ProgTitle, ProgVersion);
  } catch (const EArdantoError& e) {
    FView.ShowError(e.Message());
    return false;
  }
  return true;
}

} // namespace quillbox
