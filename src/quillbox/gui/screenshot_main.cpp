// Grabs Quillbox's windows for the README. Not installed; scripts/screenshots
// runs it with a prepared HOME (Thunderbird profiles, settings, an engine).
//   quillbox-screenshot FILE.png [light|dark] [main|shortcut|schedule]
// "shortcut" and "schedule" grab the dialog that the window's button opens
// and cancel it, so that nothing is written; the schedule is made on the
// scheduler's memory backend, never the user's timers.

#include "quillbox/gui/MainForm.h"
#include "scheduler/TaskPlatform.h"
#include "scheduler/backends/memory/MemoryTaskPlatform.h"
#include "ui/Dialogs.h"
#include "ui/Styles.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2)
    return 2;
  ardanto::ui::ApplyStyle(app, args.size() > 2 && args[2] == QStringLiteral("dark"));
  const QString what = args.size() > 3 ? args[3] : QStringLiteral("main");
  ardanto::scheduler::TMemoryTaskPlatform memoryTasks;
  ardanto::scheduler::SetTaskPlatform(&memoryTasks);
  // The name of a new scheduled task is taken as proposed.
  ardanto::ui::TScopedResponders responders;
  responders.Text = [](const QString&, QString&) { return true; };
  quillbox::TMainForm window({});
  window.show();
  if (window.Stopped())
    return 1;
  QApplication::processEvents();
  if (what == QStringLiteral("main"))
    return window.grab().save(args[1]) ? 0 : 1;

  bool saved = false;
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, [&] {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      timer->stop();
      saved = dialog->grab().save(args[1]);
      dialog->close();
    }
  });
  timer->start(50);
  QTimer::singleShot(10000, &app, [&] {
    if (QWidget* dialog = QApplication::activeModalWidget())
      dialog->close();
  });
  if (what == QStringLiteral("shortcut"))
    window.bbBackupShortcutClick();
  else if (what == QStringLiteral("schedule"))
    window.bbWinTaskClick();
  else
    return 2;
  return saved ? 0 : 1;
}
