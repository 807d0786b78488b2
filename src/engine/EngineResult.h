#pragma once

// The exit codes of the engine and what a run leaves for whoever comes after
// it (the report mail, the status window).

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace engine {

enum TExitCode : int {
  ecOk = 0,
  ecTaskNotFound = 1, // the task file does not exist or cannot be read
  ecDestination = 2,  // destination or restore target empty, not created or not writable
  ecSource = 3,       // a source folder of an enabled entry does not exist
  ecCopyErrors = 4,   // some files could not be copied
  ecAborted = 5,      // cancelled, or stopped on a fatal error (disk full, destination gone, task running)
  ecInvalidTask = 6,  // no valid task (wrong kind, no enabled entry, bad values, wrong password)
};

// Collects every code that applies during a run; Result() is the first of
// them in the order 1, 6, 2, 5, 3, 4.
class TExitCodes {
public:
  void Note(TExitCode code);
  bool Has(TExitCode code) const { return (FSeen & (1u << code)) != 0; }
  int Result() const;

private:
  unsigned FSeen = 0;
};

struct TRunResult {
  int ExitCode = ecOk;
  QString TaskFile;
  QString TaskName; // the task file's name without folder and extension
  bool Restore = false;
  QString Destination; // the folder written to (backup folder or restore target), as expanded
  QString LogFile;     // where the log went; empty when none was written
  QDateTime Start;
  QDateTime End;
  std::int64_t Copied = 0;  // files written (restored, for a restore)
  std::int64_t Skipped = 0; // files whose copy was up to date
  std::int64_t Removed = 0; // entries removed by synchronisation
  std::int64_t Errors = 0;  // lines marked "  *** "
  std::int64_t Bytes = 0;   // source bytes of the files written
  // The run's section of the log as a short log has it (the report mail's
  // body), and whole, with the lines of a long log (its attached log).
  QStringList Summary;
  QStringList Section;
  // Why the report mail did not go out; empty when it went or none was due.
  QString MailError;
};

// "OK", or the text of the code.
QString ExitText(int code);

} // namespace engine
