#pragma once

// The backup of a .buj task: every enabled source folder is copied below the
// destination (destination + drive folder + the source's path below its
// root), each file in the form the task asks for, and only when its copy is
// missing or older than the source. With synchronisation, what the source
// no longer has is removed from the backup afterwards.

#include "engine/EngineResult.h"
#include "engine/EngineTask.h"
#include "engine/StoredFiles.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <ctime>
#include <deque>
#include <memory>
#include <vector>

#include <sys/stat.h>

namespace ardanto {
class TTextFilter;
}

namespace engine {

class IEngineView;
class TEngineLog;
class TCommitBatch;
struct TBackupJob;

// The update rule: whether a source last written at source needs copying over
// a copy last written at copy (seconds since 1970, with fractions). A copy
// older than its source by more than timespan seconds is out of date; with
// ignoreDst a difference of one hour (within timespan) is taken for a change
// of summer time, not of the file.
bool CopyIsOutOfDate(double source, double copy, int timespan, bool ignoreDst);

class TBackupRun {
public:
  TBackupRun(const TBackupTask& task, TEngineLog& log, IEngineView& view, TExitCodes& codes, TRunResult& result);
  ~TBackupRun();
  TBackupRun(const TBackupRun&) = delete;
  TBackupRun& operator=(const TBackupRun&) = delete;

  // Checks the destination, asks for the password where needed and copies.
  // force: nobody may be asked. Returns whether copying began (the caller
  // then counts the run in the task's BackupCount).
  bool Run(bool force);

private:
  struct TFolderSync {
    QString Folder;     // in the backup
    QSet<QString> Keep; // names that belong there
  };
  struct TFilePlan {
    QString Name;       // of the source file
    QString SourcePath; // what is read (a link's target inside the source)
    QString Display;    // path below the source root, for the log
    struct stat St {};
    TStoredForm Form = sfPlain;
    QString Stored; // name in the backup folder
    bool Sqlite = false;
    bool HasWal = false;
  };

  bool PrepareDestination();
  bool PreparePassword(bool force);
  void RunEntry(const TBackupEntry& entry);
  // Copies one source folder (relative below the entry's source) and what
  // lies below it. False when the folder could not be read.
  bool CopyFolder(const TBackupEntry& entry, const QString& relative, bool syncHere);
  void PlanFile(const TBackupEntry& entry, const QString& relative, TFilePlan& plan);
  void ProcessFile(const QString& targetFolder, const QString& relative, TFilePlan& plan, const QSet<QString>& keep);
  void StartJob(const QString& targetFolder, const QString& relative, const TFilePlan& plan,
                const QStringList& oldForms, int attempt);
  void FinishOldestJob();
  void FinishAllJobs();
  void FlushCommits();
  void Synchronise(const TBackupEntry& entry);
  void RemoveFromBackup(const QString& path, const QString& display);
  bool Protected(const QString& path) const;
  bool Stopping() const { return FCancelled || FFatal; }
  void NoteError(const QString& text);
  void Fatal(const QString& text);
  void Progress();
  void CountTotals();
  bool FileIsExcluded(const TBackupEntry& entry, const QString& name) const;
  bool FolderIsExcluded(const TBackupEntry& entry, const QString& name) const;
  TStoredForm FormFor(const QString& name) const;
  QString TargetFolder(const QString& relative) const;

  const TBackupTask& FTask;
  TEngineLog& FLog;
  IEngineView& FView;
  TExitCodes& FCodes;
  TRunResult& FResult;

  QString FDestination;      // expanded, resolved, without trailing "/"
  QString FSourceRoot;       // of the entry being copied
  QString FSourceCanonical;  // the same with links resolved
  QString FTargetRoot;       // its folder in the backup
  QStringList FOtherTargets; // the backup folders of the other entries
  QStringList FAllTargets;
  std::vector<TFolderSync> FSyncFolders;
  std::vector<std::unique_ptr<ardanto::TTextFilter>> FFilters; // per entry; empty when it filters nothing
  QByteArray FPassword;                                        // UTF-8, for the encryption
  std::unique_ptr<TCommitBatch> FBatch;
  std::deque<std::unique_ptr<TBackupJob>> FJobs;
  std::time_t FStartSeconds = 0;
  bool FCancelled = false;
  bool FFatal = false;
  bool FSyncEntry = false;
  std::int64_t FFilesDone = 0;
  std::int64_t FBytesDone = 0;
};

} // namespace engine
