#pragma once

// A stand-in for the engine `ardanto`: a small program installed into a
// folder as "ardanto" that records how it was started and the task file it
// was given, and exits with a chosen code (recording-engine.py). Tests put
// the folder where the program looks for the engine (the current folder, or
// PATH) and read back what the engine saw.

#include <QString>
#include <QStringList>

#include <vector>

namespace ardanto::test {

struct TEngineCall {
  QStringList Arguments; // without the program
  QString WorkingFolder;
  QString TaskText; // the task file as the engine read it; empty when it could not
  bool TaskRead = false;
};

class TRecordingEngine {
public:
  // Installs the engine as folder + "/ardanto" (the folder must exist).
  explicit TRecordingEngine(const QString& folder);

  const QString& Folder() const { return FFolder; }
  // The engine's full name.
  QString Program() const;

  // The exit code of the next starts.
  void SetExitCode(int code) const;
  // While held, a started engine waits (at most a minute) before it ends.
  void Hold() const;
  void Release() const;

  // Every start so far, oldest first.
  std::vector<TEngineCall> Calls() const;

private:
  QString FFolder;
};

} // namespace ardanto::test
