#include "ui/StatusWindow.h"

#include "common/Translate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

TStatusWindow::TStatusWindow(QWidget* parent)
  : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint), laUpper(new QLabel(this)),
    laLower(new QLabel(this)), pbProgress(new QProgressBar(this)), btCancel(new QPushButton(_("Cancel"), this))
{
  setObjectName(u"StatusWindow"_s);
  setWindowTitle(_("Status"));
  setModal(false);
  laUpper->setObjectName(u"laUpper"_s);
  laLower->setObjectName(u"laLower"_s);
  pbProgress->setObjectName(u"pbProgress"_s);
  pbProgress->setTextVisible(false);
  pbProgress->setRange(0, 100);
  btCancel->setObjectName(u"btCancel"_s);
  connect(btCancel, &QPushButton::clicked, this, [this] { FStopped = true; });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(laUpper);
  layout->addWidget(laLower);
  layout->addWidget(pbProgress);
  layout->addWidget(btCancel, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  pbProgress->setFixedWidth(360);
}

void TStatusWindow::ShowStatus(QPoint pos, const QString& title, int progress, bool withCancel, const QString& text)
{
  FStopped = false;
  btCancel->setVisible(withCancel);
  if (!title.isEmpty() || !isVisible())
    setWindowTitle(title.isEmpty() ? _("Status") : title);
  SetUpperText(QString());
  SetLowerText(text);
  if (isVisible()) {
    repaint();
    return;
  }
  pbProgress->setVisible(progress != 0);
  if (progress > 0)
    pbProgress->setRange(0, 0); // runs on its own
  else {
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
  }
  adjustSize();
  const QScreen* screen = QApplication::primaryScreen();
  const QRect room = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 800, 600);
  QPoint place = pos;
  if (place.x() < 0 || place.y() < 0)
    place = room.center() - QPoint(width() / 2, height() / 2);
  place.setX(std::clamp(place.x(), room.left(), std::max(room.left(), room.right() - width())));
  place.setY(std::clamp(place.y(), room.top(), std::max(room.top(), room.bottom() - height())));
  move(place);
  show();
  raise();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TStatusWindow::CloseStatus()
{
  hide();
}

void TStatusWindow::SetLine(QLabel* label, const QString& text)
{
  label->setToolTip(text);
  label->setText(QFontMetrics(label->font()).elidedText(text, Qt::ElideMiddle, pbProgress->width()));
}

void TStatusWindow::SetUpperText(const QString& text)
{
  SetLine(laUpper, text);
}

void TStatusWindow::SetLowerText(const QString& text)
{
  SetLine(laLower, text);
}

QString TStatusWindow::UpperText() const
{
  return laUpper->text();
}

QString TStatusWindow::LowerText() const
{
  return laLower->text();
}

void TStatusWindow::SetProgress(int value)
{
  pbProgress->setValue(std::clamp(value, pbProgress->minimum(), pbProgress->maximum()));
}

int TStatusWindow::Progress() const
{
  return pbProgress->value();
}

} // namespace ardanto::ui
