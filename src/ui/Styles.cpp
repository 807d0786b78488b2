#include "ui/Styles.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace ardanto::ui {

namespace {
bool gDark = false;
}

void ApplyStyle(QApplication& app, bool dark)
{
  gDark = dark;
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  if (!dark) {
    app.setPalette(app.style()->standardPalette());
    return;
  }
  QPalette p;
  const QColor window(45, 45, 48);
  const QColor base(30, 30, 30);
  const QColor text(230, 230, 230);
  const QColor disabled(128, 128, 128);
  const QColor highlight(42, 130, 218);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, window);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabled);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Link, highlight);
  p.setColor(QPalette::Highlight, highlight);
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::Light, QColor(70, 70, 74));
  p.setColor(QPalette::Midlight, QColor(60, 60, 64));
  p.setColor(QPalette::Mid, QColor(40, 40, 42));
  p.setColor(QPalette::Dark, QColor(25, 25, 27));
  p.setColor(QPalette::Shadow, Qt::black);
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, disabled);
  p.setColor(QPalette::Disabled, QPalette::Base, window);
  app.setPalette(p);
}

bool DarkStyleActive()
{
  return gDark;
}

} // namespace ardanto::ui
