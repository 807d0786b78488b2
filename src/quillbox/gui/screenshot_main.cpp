// Grabs the main window for the README. Not installed; scripts/screenshots
// runs it with a prepared HOME (Thunderbird profiles, settings, an engine).
//   quillbox-screenshot FILE.png [dark]

#include "quillbox/gui/MainForm.h"
#include "ui/Styles.h"

#include <QApplication>

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2)
    return 2;
  ardanto::ui::ApplyStyle(app, args.size() > 2 && args[2] == QStringLiteral("dark"));
  quillbox::TMainForm window({});
  window.show();
  if (window.Stopped())
    return 1;
  QApplication::processEvents();
  return window.grab().save(args[1]) ? 0 : 1;
}
