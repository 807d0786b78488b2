#pragma once

// What the desktop-shortcut dialog decides, without its widgets: the status
// window, the action after the backup and the other switches, read from the
// option items a shortcut starts with and turned back into them.

#include <QString>
#include <QStringList>

namespace ardanto::ui {

// The items of the "Status window" group, in their order.
enum TStatusItem : int {
  siNotVisible,         // "prompt:quiet"
  siCloseAutomatically, // "prompt:delay"
  siAlwaysWait,         // "prompt:wait"
  siWaitOnErrors,       // "prompt:error"
  siShowOnlyOnErrors,   // "prompt:silent"
};
inline constexpr int kStatusItemCount = 5;

// The buttons of the "Action after backup" group, in their order.
enum TShortcutAction : int {
  saNone,
  saSleep,        // "suspend:standby"
  saHibernate,    // "suspend:hibernate"
  saLogoff,       // "end:logoff"
  saRestart,      // "end:restart"
  saShutdown,     // "end:shutdown"
  saLockShutdown, // "end:lockdown"
  saHybrid,       // "end:hybrid"
};
inline constexpr int kShortcutActionCount = 8;

// The caption of an action's button, also the name the error selection uses.
QString ShortcutActionCaption(TShortcutAction action);

struct TDesktopIconOptions {
  // The member values are the dialog's presets.
  int Status = siCloseAutomatically;
  TShortcutAction Action = saNone;
  bool NoSplash = true;
  bool Parallel = false;
  bool ActionChangeable = true;
  int ErrorMask = 0;
  // Items this dialog has no control for, each " /word[:value]", passed on
  // behind the others.
  QString KeptOver;

  // Takes over the option items of a command line: prompt, end, suspend and
  // hide set the controls (words and values matched by prefix), other items
  // beginning with "/" or "-" are kept over, anything else is ignored.
  void ReadOptions(const QString& options);

  // The option items for the shortcut, each with its leading blank: prompt,
  // parallel, hide, noaction, the action, erractions, then the kept-over
  // items.
  QString Options() const;
};

// The tasks a shortcut runs, as the dialog shows them.
struct TShortcutTasks {
  QStringList Items;
  QString Text; // the one task, or "%u selected tasks"
  QString Hint; // with several tasks: one a line
  bool OfferParallel = false;
};

// Splits the tasks text (items separated by blanks, double quotes grouping
// one item).
TShortcutTasks SplitShortcutTasks(const QString& tasks);

} // namespace ardanto::ui
