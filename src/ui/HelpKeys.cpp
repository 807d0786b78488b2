#include "ui/HelpKeys.h"

#include "common/LangUtils.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QToolTip>
#include <QUrl>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

THelpKeys::THelpKeys(QWidget* window, QString helpPage)
  : QObject(window), FWindow(window), FHelpPage(std::move(helpPage))
{
  qApp->installEventFilter(this);
}

QString THelpKeys::HintOf(const QWidget* widget)
{
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (!w->toolTip().isEmpty())
      return w->toolTip();
    if (w->isWindow())
      break;
  }
  if (widget != nullptr && widget->parentWidget() != nullptr) {
    const auto labels = widget->parentWidget()->findChildren<QLabel*>();
    for (const QLabel* label : labels) {
      if (label->buddy() == widget)
        return label->text().remove(u'&');
    }
  }
  return QString();
}

bool THelpKeys::eventFilter(QObject* watched, QEvent* event)
{
  if (event->type() != QEvent::KeyPress)
    return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != FWindow)
    return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_F1) {
    OpenHelp(FWindow, FHelpPage);
    return true;
  }
  if (key->key() == Qt::Key_F11) {
    QWidget* focused = QApplication::focusWidget();
    const QString hint = HintOf(focused);
    if (!hint.isEmpty() && focused != nullptr)
      QToolTip::showText(focused->mapToGlobal(QPoint(0, focused->height())), hint, focused);
    return true;
  }
  return false;
}

QString HelpFile(const QString& page)
{
  const QString name = page.section(u'#', 0, 0);
  if (name.isEmpty())
    return QString();
  const QString base = QDir::cleanPath(CurrentProgramPaths().ProgramFolder + u"../share/ardanto/help"_s);
  const QString fromEnv = QString::fromLocal8Bit(qgetenv("ARDANTO_HELPDIR"));
  for (const QString& folder : {fromEnv, base, QStringLiteral(ARDANTO_INSTALL_HELPDIR)}) {
    if (folder.isEmpty())
      continue;
    for (const QString& candidate :
         QStringList{folder + u'/' + CurrentLanguage() + u'/' + name, folder + u'/' + name}) {
      if (QFileInfo(candidate).isFile())
        return candidate;
    }
  }
  return QString();
}

bool OpenHelp(QWidget* parent, const QString& page)
{
  const QString target = page.isEmpty() ? u"index.html"_s : page;
  const QString file = HelpFile(target);
  QUrl url = QUrl::fromLocalFile(file);
  if (target.contains(u'#'))
    url.setFragment(target.section(u'#', 1));
  if (file.isEmpty() || !QDesktopServices::openUrl(url)) {
    ShowError(parent, _("Help is not available on this system!"));
    return false;
  }
  return true;
}

QIcon ApplicationIcon(const QString& name)
{
  const QString base = QDir::cleanPath(CurrentProgramPaths().ProgramFolder + u"../share/icons/hicolor"_s);
  QIcon icon;
  const QStringList files{u"/scalable/apps/"_s + name + u".svg"_s, u"/256x256/apps/"_s + name + u".png"_s,
                          u"/48x48/apps/"_s + name + u".png"_s};
  for (const QString& file : files) {
    if (QFileInfo(base + file).isFile())
      icon.addFile(base + file);
  }
  return icon.isNull() ? QIcon::fromTheme(name) : icon;
}

} // namespace ardanto::ui
