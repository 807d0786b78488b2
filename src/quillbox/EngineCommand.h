#pragma once

// The command lines Quillbox starts the engine with. The engine learns
// everything else from the task file; these items only say how it shows
// itself and what kind of run it is.

#include <QString>
#include <QStringList>

namespace quillbox {

// Modes of the engine's status window, in the order of the list on the tab
// "Status window".
enum TStatusPrompt : int { spWait = 0, spDelay = 1, spQuiet = 2, spError = 3, spSilent = 4 };
constexpr int kDefaultStatusPrompt = spDelay;

// The engine's word for a mode ("wait", "delay", "quiet", "error",
// "silent"); a mode out of range counts as the default.
QString StatusPromptWord(int prompt);
// Whether the display time goes with the mode ("delay" and "error").
bool StatusPromptHasWait(int prompt);

// The option items for the status window, in the engine's order: prompt, wait
// (only with delay and error), status, hide, force.
QStringList StatusOptionItems(int prompt, int waitSeconds, bool onTop);
// The same as command-line text: each item after a blank, quoted when it
// holds a blank (" /prompt:delay /wait:5 /status:normal /hide /force").
QString StatusOptions(int prompt, int waitSeconds, bool onTop);

// A start of the engine, as arguments for process creation and as the one
// command-line text the suite shows and stores. Both say the same.
struct TEngineCommand {
  QString Program;
  QStringList Arguments;
  QString CommandLine;
};

// Engine, task file, "startapp" with "quillbox", then the status options.
TEngineCommand BackupCommand(const QString& enginePath, const QString& taskFile, int prompt, int waitSeconds,
                             bool onTop);
// Engine, restore task file, then "hide", "prompt" with "wait", "restore".
TEngineCommand RestoreCommand(const QString& enginePath, const QString& restoreTaskFile);

} // namespace quillbox
