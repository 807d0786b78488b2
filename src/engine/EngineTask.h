#pragma once

// The task files the engine runs: backup tasks (.buj, section [Global] and
// one [DirNNN] section per source folder) and restore tasks (.rsj, section
// [Restore]), as Quillbox writes them. Every value is checked here; a value
// that makes no sense is a problem naming its key, never a guess.

#include "engine/EngineResult.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace ardanto {
class TUnicodeIniFile;
}

namespace engine {

enum TTaskKind : int { tkNone, tkBackup, tkRestore, tkBoth };

// The kind a task file's content gives: [Restore] a restore, [Global] a backup.
TTaskKind TaskKind(const ardanto::TUnicodeIniFile& ini);

struct TTaskProblem {
  TExitCode Code = ecInvalidTask;
  QString Text;
};

// Highest number of source folders: section names have three digits.
constexpr int kMaxDirCount = 1000;

struct TBackupEntry {
  QString Section; // "Dir000"
  QString Source;  // absolute, without trailing "/"
  QString Volume;
  int FilterMode = 0;        // 0 off, 1 only matching files, 2 all but matching files
  bool Regular = false;      // Filter is a regular expression
  QString Filter;            // masks separated by "|"
  QStringList ExcludedTypes; // extensions, upper case, without dot
  QStringList DirMasks;      // folder names left out, with "*" and "?"
};

struct TBackupTask {
  QString Destination; // as written: may hold placeholders or be a volume path
  QString DriveId;
  int BackupCount = 1;
  bool Compress = true;
  bool CompressAsZip = true;
  QStringList NoCompTypes; // upper case, without dot
  int Encrypt = 0;         // > 0: AES-256
  bool FixPassword = false;
  QString Password;      // the fixed password in clear; empty when none
  int LogFile = 1;       // 1 short, 2 long
  int Timespan = 2;      // seconds a copy may be older than its source
  bool IgnoreDst = true; // a difference of one hour (± Timespan) counts as none
  bool Sync = false;
  bool UseRecycler = false;
  bool EmptyDirs = true;
  std::vector<TBackupEntry> Entries; // the enabled ones, in order
};

// False when a problem makes the task unusable; problems lists each one.
bool ReadBackupTask(const ardanto::TUnicodeIniFile& ini, TBackupTask& task, QList<TTaskProblem>& problems);

struct TRestoreTask {
  QString Source;  // backup folder of one profile
  QString DestDir; // the target
  bool ClearDest = false;
  int LogFile = 1;
  QString LogName;
  int UnCompress = 3; // the form looked for first: 3 zip, 1 gzip, 0 plain
  QString Password;   // in clear; empty: ask
  bool EmptyDirs = false;
};

bool ReadRestoreTask(const ardanto::TUnicodeIniFile& ini, TRestoreTask& task, QList<TTaskProblem>& problems);

// A comma list of file types as the task keeps it ("sqlite-wal, .tmp, *.bak")
// in the form names are compared with: upper case, no dot.
QStringList NormaliseTypes(const QString& commaText);

// The password of a task value: the protected form the programs write, or,
// for a value that is no protected string, the value itself.
QString TaskPassword(const QString& stored);

} // namespace engine
