#pragma once

// Quillbox's state and the steps of its start and of a forced run, without
// a window: the folders, the engine, the Thunderbird profiles, the command
// line's options, the settings file's values and the task being edited. The
// main window holds one and binds its controls to it; tests drive it with a
// recording view.

#include "quillbox/EngineCommand.h"
#include "quillbox/MailTask.h"
#include "quillbox/Profiles.h"
#include "quillbox/Startup.h"

#include <QString>
#include <QStringList>

namespace quillbox {

// What the state needs from whoever shows it.
class IProgramView {
public:
  virtual ~IProgramView() = default;
  // An error message; the view decides where it opens and whether the
  // program's title goes first.
  virtual void ShowError(const QString& text) = 0;
  // The volume of a volume path is not mounted: true for "Retry".
  virtual bool RetryVolume(const QString& question) = 0;
  // Called every 100 ms while the engine runs, so the window stays responsive.
  virtual void ProcessEvents() = 0;
};

class TProgramState {
public:
  explicit TProgramState(IProgramView& view);

  // The window-free steps of the window's creation: folders, engine,
  // profiles, command line, settings file, the task's defaults.
  void Create(const QStringList& arguments);

  // Profiles found, engine found, job folder usable; shows the first failure.
  bool CheckPrerequisites();
  // Nothing without "force" (false). Otherwise runs the backup of the
  // profile, then shuts down or suspends as asked, and returns true: the
  // program ends without showing its window. An unknown profile ends it at
  // once, without shutting down.
  bool CheckForce();

  // The chosen profile: its folder and task files. False when it is not in
  // the list (nothing changes then).
  bool ChooseProfile(const QString& name);

  // The task file with the window's context; failures are shown.
  bool LoadTask(const QString& fileName);
  bool SaveTask(const QString& fileName, bool forced);
  TTaskContext TaskContext() const;

  // The backup folder as entered: DestDir, and RealDir with a volume path
  // resolved (asking to retry while its volume is not mounted, when prompt).
  void SetDestDir(const QString& text, bool prompt);

  // The status-window items for the engine: the window's controls, or the
  // options of a forced run (never on top).
  QString StatusOptions(bool forced) const;
  TEngineCommand BackupCommand(const QString& taskFile, bool forced) const;

  // The backup folder of a run: BuDir in a forced run that names one, else
  // RealDir, with a volume path resolved (asking to retry) and the
  // placeholders expanded; empty when none is given.
  QString BackupFolder(bool forced);
  // Expands and creates the backup folder, writes the task, records the
  // profile's folder in bu-profiles.ini, starts the engine and waits for it.
  // True when the engine reported success. Refused while the engine runs.
  bool StartBackup(const QString& taskFile, bool forced);

  // What a scheduled task or a desktop shortcut needs before it is made: a
  // backup folder (false after saying there is none), a folder that can be
  // created and the task saved in normal mode (false after showing why not).
  bool HasBackupDir();
  bool SaveUnattendedTask();
  // The command line of an unattended backup of the profile: the profile's
  // name, in double quotes when it holds a blank, and the options.
  QString UnattendedArguments(const QString& options) const;
  // Starts the engine and waits; the engine's report and every failure is
  // shown. Refused (false) while an engine started here still runs.
  bool RunEngine(const TEngineCommand& command);
  bool EngineRunning() const { return FEngineRunning; }

  // The settings file's values from the state, and back.
  TProgramSettings ProgramSettings() const;
  // Writes the settings file; false after showing why it could not.
  bool SaveSettings(int top, int left);

  // Folders.
  QString AppPath;            // the suite's folder, ~/.config/Ardanto6/
  QString UserPath;           // documents, with "/"
  QString SettingsDir;        // where Quillbox.ini and Ardanto.ini live
  QString EngineSettingsFile; // SettingsDir + Ardanto.ini
  QString IniName;
  QString JobDir;
  QString BuDir;
  QString LogDir;
  int LogMode = -1;
  QString DestDir;
  QString RealDir;
  QString EnginePath;
  QString ProgTitle;
  QString ProgVersion;
  QString UserName;

  // Thunderbird.
  TThunderbirdProfiles Profiles{QString()};
  bool ProfFound = false;
  QString MailProfile;
  QString MailDir;
  QString BuTaskName;
  QString ReTaskName;

  // What a backup leaves out, and the task.
  QString ExcludedFiles;
  QString ExcludedTypes;
  QString ExcludedDirs;
  TMailTaskSettings Task;

  // A forced run.
  bool Force = false;
  ardanto::platform::TDownMode LogOffMode = ardanto::platform::dmNone;
  ardanto::platform::TSuspendMode SuspendMode = ardanto::platform::smNone;
  int StatusPrompt = 1;
  int WaitDelay = 5;
  bool UseDarkMode = false;

  // The page "Status window".
  int StatusWindow = 1;
  int WaitTime = 5;
  bool OnTop = false;

  // Where the window was; -1 when unknown.
  int Top = -1;
  int Left = -1;

private:
  // What follows a forced run.
  void ShutDownOrSuspend();
  // The expanded backup folder, created; false after showing why not.
  bool MakeBackupFolder(bool forced, QString& folder);

  IProgramView& FView;
  bool FEngineRunning = false;
};

// The texts the run shows.
QString EngineNotFoundText();
QString EngineStillRunningText();
QString NoBackupDirText();

} // namespace quillbox
