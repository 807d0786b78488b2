#pragma once

// A backup run: every selected device folder, with everything below it, is
// copied into the destination, mirroring the device's folder tree.

#include "portkeep/TaskSettings.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <vector>

namespace ardanto {
class TPortableDevice;
class TPortableDeviceObject;
} // namespace ardanto

namespace portkeep {

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

  // The clock of placeholders and of "today"; tests set it.
  std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

private:
  void CopyFolder(const ardanto::TPortableDeviceObject& folder, const QString& target);
  void ProcessFile(const ardanto::TPortableDeviceObject& file, const QString& target, ardanto::TDateTime today);
  bool CopyOne(const ardanto::TPortableDeviceObject& file, const QString& targetName, bool compressible);
  void ProcessEvents();
  // Processes events unless that was done a moment ago.
  void KeepResponsive();

  ardanto::TPortableDevice& FDevice;
  const TTaskSettings& FSettings;
  IRunView& FView;
  int FFileCount = 0;
  int FTotalCopied = 0;
  int FTotalErrors = 0;
  std::chrono::steady_clock::time_point FLastEvents;
};

} // namespace portkeep
