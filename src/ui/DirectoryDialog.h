#pragma once

// Choosing a folder, with a history of recently chosen folders kept in an
// INI file section (keys History0 ... History14).

#include <QString>
#include <QStringList>

class QWidget;

namespace ardanto::ui {

class TDirectoryDialog {
public:
  // iniFile and section: where the recent folders are kept; empty: nowhere.
  TDirectoryDialog(const QString& iniFile, const QString& section);

  // Shows the dialog starting at start (its nearest existing parent when it
  // does not exist). True and the folder in result on OK; the folder then
  // heads the recent list, which is saved.
  bool Execute(QWidget* parent, const QString& title, const QString& start, QString& result);

  const QStringList& Recent() const { return FRecent; }

  static constexpr int kMaxRecent = 15;

private:
  QString FIniFile;
  QString FSection;
  QStringList FRecent;
};

// The nearest existing folder at or above path; empty when there is none.
QString ExistingFolderAtOrAbove(const QString& path);

} // namespace ardanto::ui
