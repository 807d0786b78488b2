// The suite's status window: what it shows, where, and its stop flag.

#include "ui/StatusWindow.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

using namespace ardanto::ui;
using namespace Qt::StringLiterals;

TEST(StatusWindow, ShowsTitleTextBarAndCancel)
{
  TStatusWindow status;
  status.ShowStatus(QPoint(-1, -1), u"Checking mail settings"_s, 0, false, u"Sending mail"_s);
  EXPECT_TRUE(status.isVisible());
  EXPECT_EQ(status.windowTitle(), u"Checking mail settings"_s);
  EXPECT_EQ(status.LowerText(), u"Sending mail"_s);
  EXPECT_TRUE(status.UpperText().isEmpty());
  EXPECT_FALSE(status.findChild<QProgressBar*>(u"pbProgress"_s)->isVisible()) << "progress 0: no bar";
  EXPECT_FALSE(status.findChild<QPushButton*>(u"btCancel"_s)->isVisible());

  // Shown again while visible: the title stays unless one is given.
  status.ShowStatus(QPoint(-1, -1), QString(), 0, true, u"second"_s);
  EXPECT_EQ(status.windowTitle(), u"Checking mail settings"_s);
  EXPECT_EQ(status.LowerText(), u"second"_s);
  status.findChild<QPushButton*>(u"btCancel"_s)->click();
  EXPECT_TRUE(status.Stopped());
  status.ShowStatus(QPoint(-1, -1), QString(), 0, true, u"third"_s);
  EXPECT_FALSE(status.Stopped()) << "each ShowStatus clears the flag";
  status.CloseStatus();
  EXPECT_FALSE(status.isVisible());

  // A bar at 0 that clamps, placed on the screen even when asked for a place off it.
  status.ShowStatus(QPoint(100000, 100000), u"Copying"_s, -1, true, u"file"_s);
  EXPECT_TRUE(status.findChild<QProgressBar*>(u"pbProgress"_s)->isVisible());
  status.SetProgress(250);
  EXPECT_EQ(status.Progress(), 100);
  status.SetProgress(-5);
  EXPECT_EQ(status.Progress(), 0);
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(screen.contains(status.geometry().topLeft()));

  // Long texts are shortened in the middle, the whole text is the hint.
  const QString path = u"/home/ann/"_s + QString(300, u'x') + u"/end.txt"_s;
  status.SetUpperText(path);
  EXPECT_LT(status.UpperText().size(), path.size());
  EXPECT_TRUE(status.UpperText().startsWith(u"/home/"_s));
  EXPECT_TRUE(status.UpperText().endsWith(u"end.txt"_s));
  EXPECT_EQ(status.findChild<QLabel*>(u"laUpper"_s)->toolTip(), path);
}
