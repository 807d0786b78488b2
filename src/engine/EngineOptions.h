#pragma once

// The engine's command line:
//   ardanto TASKFILE [/option[:value] ...]
//   ardanto --help | --version
// Options begin with "/" or "-", are matched by prefix, carry a value after
// ":", and unknown words are ignored.

#include <QString>
#include <QStringList>

namespace engine {

// What the status window does at the end of a run.
enum TPromptMode : int { pmWait, pmDelay, pmQuiet, pmError, pmSilent };

struct TEngineOptions {
  QString TaskFile;
  QString StartApp; // who started the engine, for the log
  TPromptMode Prompt = pmDelay;
  int WaitSeconds = 5; // for delay and error
  bool StatusOnTop = false;
  bool Hide = false;    // no splash
  bool Force = false;   // unattended: never ask anything
  bool Restore = false; // the task is a restore task
  bool Help = false;
  bool Version = false;
  QStringList Ignored; // arguments that meant nothing (for the long log)
};

TEngineOptions ParseEngineOptions(const QStringList& arguments);

// "ardanto 6.0.0"
QString VersionLine();
QString HelpText();

} // namespace engine
