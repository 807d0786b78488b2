#include "ui/DirectoryDialog.h"

#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "common/PathUtils.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

QString ExistingFolderAtOrAbove(const QString& path)
{
  QString folder = path;
  while (!folder.isEmpty()) {
    if (QFileInfo(folder).isDir())
      return folder;
    const QString parent = ParentDir(folder);
    if (parent == folder)
      break;
    folder = parent;
  }
  return QString();
}

TDirectoryDialog::TDirectoryDialog(const QString& iniFile, const QString& section)
  : FIniFile(iniFile), FSection(section)
{
  if (FIniFile.isEmpty())
    return;
  try {
    LoadHistory(FIniFile, FSection, QString(), false, kMaxRecent, FRecent);
  } catch (const EArdantoError&) {
    // Without the file the dialog simply has no recent folders.
  }
}

bool TDirectoryDialog::Execute(QWidget* parent, const QString& title, const QString& start, QString& result)
{
  const QString startFolder = ExistingFolderAtOrAbove(start);
  QString chosen;
  if (TScopedResponders* responders = CurrentResponders(); responders != nullptr && responders->Folder) {
    chosen = responders->Folder(title, startFolder);
  } else {
    QFileDialog dialog(parent, title, startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setHistory(FRecent);
    QList<QUrl> places = dialog.sidebarUrls();
    for (const QString& recent : FRecent) {
      const QUrl url = QUrl::fromLocalFile(recent);
      if (!places.contains(url) && QFileInfo(recent).isDir())
        places.append(url);
    }
    dialog.setSidebarUrls(places);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      chosen = dialog.selectedFiles().constFirst();
  }
  if (chosen.isEmpty())
    return false;
  result = chosen;
  AddToHistory(FRecent, chosen, kMaxRecent);
  if (!FIniFile.isEmpty()) {
    try {
      SaveHistory(FIniFile, FSection, QString(), false, FRecent, true);
    } catch (const EArdantoError& e) {
      ShowError(parent, e.Message());
    }
  }
  return true;
}

} // namespace ardanto::ui
