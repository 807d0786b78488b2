#pragma once

// The restore of a .rsj task: the backup folder of one profile is copied
// back into the target, every file decoded from whichever form it was stored
// in, under its original name and with its stored time. Nothing is written
// before the source was found to hold Thunderbird data (for clearing the
// target) and the password was found right.

#include "engine/EngineResult.h"
#include "engine/EngineTask.h"
#include "engine/StoredFiles.h"

#include <QString>

#include <ctime>
#include <memory>
#include <vector>

namespace engine {

class IEngineView;
class TEngineLog;
class TCommitBatch;

class TRestoreRun {
public:
  TRestoreRun(const TRestoreTask& task, TEngineLog& log, IEngineView& view, TExitCodes& codes, TRunResult& result);
  ~TRestoreRun();
  TRestoreRun(const TRestoreRun&) = delete;
  TRestoreRun& operator=(const TRestoreRun&) = delete;

  // force: nobody may be asked.
  void Run(bool force);

private:
  struct TFolder {
    QString Relative; // below the source ("" for the source itself)
    std::vector<TStoredFile> Files;
    bool HasSubfolders = false;
  };

  bool CheckFolders();
  bool Scan();
  bool ScanFolder(const QString& relative);
  bool PreparePassword(bool force);
  bool ClearTarget();
  void RestoreFolder(const TFolder& folder);
  void RestoreFile(const QString& targetFolder, const QString& relative, const TStoredFile& file);
  void NoteError(const QString& text);
  void NoteFatal(const QString& text);
  void FlushBatch();

  const TRestoreTask& FTask;
  TEngineLog& FLog;
  IEngineView& FView;
  TExitCodes& FCodes;
  TRunResult& FResult;

  QString FSource;
  QString FTarget;
  std::vector<TFolder> FFolders;
  QByteArray FPassword;
  std::unique_ptr<TCommitBatch> FBatch;
  std::time_t FStartSeconds = 0;
  bool FCancelled = false;
  bool FFatal = false;
  std::int64_t FFilesDone = 0;
  std::int64_t FBytesDone = 0;
};

} // namespace engine
