#pragma once

// F1 opens the help page of a window; F11 shows the hint of the focused
// control in a small message.

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

// The help file a page would be opened from; empty when it does not exist.
QString HelpFile(const QString& page);

} // namespace ardanto::ui
