#pragma once

// A backup run: every selected device folder, with everything below it, is
// copied into the destination, mirroring the device's folder tree.

#include "portkeep/TaskSettings.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace ardanto {
class TPortableDevice;
class TPortableDeviceObject;
} // namespace ardanto

namespace portkeep {

// How far a run has got, for a progress bar. Totals count what the run will
// look at: the files of the selected folders that pass the filter and the
// time slot, with their sizes as the device reports them.
struct TRunProgress {
  int FilesDone = 0;
  int FilesTotal = 0;
  std::int64_t BytesDone = 0; // of the files finished; CurrentDone has the current one's part
  std::int64_t BytesTotal = 0;
  QString CurrentFile; // the file being copied; empty between copies
  std::int64_t CurrentDone = 0;
  std::int64_t CurrentSize = 0;
  double BytesPerSecond = 0; // of the copies so far; 0 until known
  double SecondsLeft = -1;   // -1 until known
};

// What a run did, for the closing line and the caller.
struct TRunSummary {
  int Copied = 0;         // new files
  int Updated = 0;        // files that replaced an older copy
  int Skipped = 0;        // left alone by the overwrite rule
  int Failed = 0;         // files and folders that could not be read or written
  std::int64_t Bytes = 0; // read from the device by successful copies
  std::int64_t Milliseconds = 0;
  bool Cancelled = false;
  bool DeviceLost = false; // the device went away; the run stopped
  bool Stalled = false;    // a read made no progress for the stall time-out; the run stopped
};

// Where a run reports: the progress box, the field showing the folder being
// processed, and the window's event loop.
class IRunView {
public:
  virtual ~IRunView() = default;
  // One progress line, indent blanks in front of text.
  virtual void AddLine(int indent, const QString& text) = 0;
  virtual void ShowFolder(const QString& path) = 0;
  // Lets the window handle pending events; a run calls it between files and
  // while a copy is under way.
  virtual void ProcessEvents() = 0;
  // Called with ProcessEvents while the run goes on.
  virtual void ShowProgress(const TRunProgress& /*progress*/) {}
  // Asked between files: true stops the run after the current file.
  virtual bool CancelRequested() { return false; }
};

// A device name made fit to be one file name: "/" and NUL become "_", a name
// of dots only becomes underscores, an empty name "_". The same name always
// gives the same result, so a later run finds its earlier copies.
QString SafeFileName(const QString& name);
// A device path ("Phone\DCIM\Camera") as a relative local path of safe names.
QString SafeRelativePath(const QString& devicePath);

class TBackupRun {
public:
  TBackupRun(ardanto::TPortableDevice& device, const TTaskSettings& settings, IRunView& view);

  // Copies the folders (the selected tree nodes' objects, in selection order).
  // Exceptions of the device layer end the run and pass on to the caller.
  void Run(const std::vector<ardanto::TPortableDeviceObject*>& folders);

  // Files copied without error, over all folders of the last Run.
  int TotalCopied() const { return FTotalCopied; }
  // Files whose copy failed in the last Run.
  int TotalErrors() const { return FTotalErrors; }
  const TRunSummary& Summary() const { return FSummary; }

  // A copy whose source delivers nothing for this long ends the run (an
  // unattended run must end even when a device mount hangs). Zero waits for
  // ever, which suits a run someone watches and can cancel.
  void SetStallTimeout(std::chrono::milliseconds timeout) { FStallTimeout = timeout; }

  // The clock of placeholders and of "today"; tests set it.
  std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

private:
  struct TPlannedFile;
  void CopyFolder(const ardanto::TPortableDeviceObject& folder, const QString& target);
  void CountFolder(const ardanto::TPortableDeviceObject& folder, ardanto::TDateTime today);
  bool Selected(const ardanto::TPortableDeviceObject& file, ardanto::TDateTime today) const;
  bool DestinationInsideSource(const std::vector<ardanto::TPortableDeviceObject*>& folders);
  bool MakeFolder(const QString& target);
  void RemoveStaleTemporaries(const QString& folder);
  void PlanFile(const ardanto::TPortableDeviceObject& file, const QString& targetName, TPlannedFile& plan) const;
  // Opens the source stream of a planned copy; false after logging why not.
  bool OpenSource(TPlannedFile& plan);
  void CopyPlanned(TPlannedFile& plan, TPlannedFile* next);
  void LogFailure(const QString& text);
  // After a failed read: when the device has gone, say so once and stop.
  void CheckDeviceAfterFailure();
  bool Stopped() const { return FStop; }
  void ProcessEvents();
  // Processes events unless that was done a moment ago.
  void KeepResponsive();
  ardanto::TDateTime Today() const;

  ardanto::TPortableDevice& FDevice;
  const TTaskSettings& FSettings;
  IRunView& FView;
  int FFileCount = 0;
  int FTotalCopied = 0;
  int FTotalErrors = 0;
  TRunSummary FSummary;
  TRunProgress FProgress;
  std::chrono::milliseconds FStallTimeout{0};
  std::chrono::steady_clock::time_point FLastEvents;
  std::chrono::steady_clock::time_point FStart;
  std::chrono::steady_clock::duration FCopyTime{};
  std::int64_t FCopiedBytes = 0;     // of finished copies, for the rate
  std::int64_t FRunStartSeconds = 0; // wall clock: older temporaries are stale
  bool FStop = false;
  bool FOpenFilesKnown = false;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> FOpenFiles; // device and inode of files held open
};

} // namespace portkeep
