#pragma once

// F1 opens the help page of a window; F11 shows the hint of the focused
// control in a small message. The help pages and the program's icon are
// found beside the program, installed or in the build tree.

#include <QIcon>
#include <QObject>
#include <QString>

class QWidget;

namespace ardanto::ui {

class THelpKeys : public QObject {
  Q_OBJECT

public:
  // Watches window (and its children) for F1 and F11.
  THelpKeys(QWidget* window, QString helpPage);

  // The hint F11 shows for a widget: its tool tip, or the text of the label
  // that names it.
  static QString HintOf(const QWidget* widget);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget* FWindow;
  QString FHelpPage;
};

// Opens a page of the suite's HTML help (share/help) in the browser. Shows
// "Help is not available on this system!" when there is no help.
bool OpenHelp(QWidget* parent, const QString& page);

// The help file a page would be opened from (a "#part" of the page is not
// part of the file's name); empty when it does not exist.
QString HelpFile(const QString& page);

// The program's icon in its sizes from share/icons/hicolor beside the
// program, else the icon theme's icon of that name.
QIcon ApplicationIcon(const QString& name);

} // namespace ardanto::ui
