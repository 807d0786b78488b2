// Grabs the main window on the demo device, in the light or the dark style,
// for the README. Not installed; scripts/screenshots runs it.
//   portkeep-screenshot FILE.png [dark]

#include "devices/DevicePlatforms.h"
#include "portkeep/gui/MainForm.h"
#include "ui/Styles.h"

#include <QApplication>
#include <QListWidget>
#include <QTreeWidget>

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2)
    return 2;
  ardanto::ui::ApplyStyle(app, args.size() > 2 && args[2] == QStringLiteral("dark"));
  portkeep::TMainForm window({}, ardanto::CreateDefaultDevicePlatform());
  window.resize(1180, 860);
  window.show();
  window.tmStartTimerTimer();
  window.SelectDevice(0);
  if (auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("tvFolders"))) {
    QTreeWidgetItem* storage = tree->topLevelItem(0) != nullptr ? tree->topLevelItem(0)->child(0) : nullptr;
    if (storage != nullptr) {
      storage->setExpanded(true);
      for (int i = 0; i < storage->childCount(); ++i) {
        if (storage->child(i)->text(0) == QStringLiteral("DCIM")) {
          storage->child(i)->setExpanded(true);
          if (QTreeWidgetItem* camera = storage->child(i)->child(0)) {
            tree->setCurrentItem(camera);
            emit tree->itemClicked(camera, 0);
          }
        }
      }
    }
  }
  QApplication::processEvents();
  return window.grab().save(args[1]) ? 0 : 1;
}
