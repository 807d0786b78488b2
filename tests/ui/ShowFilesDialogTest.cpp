// The file list of a folder: going down into folders and back up, never above
// the folder it was opened with, and the error for a folder that is missing.

#include "ui/ShowFilesDialog.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace ardanto::ui;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

TEST(FolderNavigation, NeverLeavesTheRoot)
{
  TempDir dir;
  const QString root = dir.Path();
  TFolderNavigation navigation(root + u'/');
  EXPECT_EQ(navigation.Shown(), root);
  EXPECT_FALSE(navigation.CanGoUp()) << "a trailing / is the same folder";
  EXPECT_FALSE(navigation.Up());
  navigation.Open(u"a"_s);
  navigation.Open(root + u"/a/b"_s);
  EXPECT_EQ(navigation.Shown(), root + u"/a/b"_s);
  EXPECT_TRUE(navigation.CanGoUp());
  EXPECT_TRUE(navigation.Up());
  EXPECT_EQ(navigation.Shown(), root + u"/a"_s);
  navigation.Open(u"../.."_s);
  EXPECT_EQ(navigation.Shown(), root) << "a name leading out of the tree shows the root";
  EXPECT_FALSE(navigation.CanGoUp());

  // The case does not count: a folder that differs only in case is the root.
  TFolderNavigation upper(u"/tmp/MailDir"_s);
  upper.Open(u"/tmp/maildir/"_s);
  EXPECT_FALSE(upper.CanGoUp());
}

class ShowFilesDialogTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FRoot = FDir.Path();
    FDir.Write(u"b.txt"_s, "b");
    FDir.Write(u"Alpha/x.txt"_s, "x");
    FDir.Write(u"Alpha/inner/y.txt"_s, "y");
    FDir.Write(u"c.dat"_s, "c");
  }

  static void DoubleClick(TShowFilesDialog& dialog, const QString& name)
  {
    auto* list = dialog.findChild<QTreeView*>(u"lvFiles"_s);
    const int row = int(dialog.Names().indexOf(name));
    ASSERT_GE(row, 0) << name.toStdString();
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }
  static void ExpectShown(TShowFilesDialog& dialog, const QString& folder, bool upEnabled)
  {
    EXPECT_EQ(dialog.findChild<QLineEdit*>(u"edFolder"_s)->text(), folder);
    EXPECT_EQ(dialog.findChild<QTreeView*>(u"lvFiles"_s)->toolTip(), u"Directory: "_s + folder);
    EXPECT_EQ(dialog.findChild<QPushButton*>(u"btUp"_s)->isEnabled(), upEnabled);
  }

  TempDir FDir;
  QString FRoot;
};

TEST_F(ShowFilesDialogTest, GoesDownAndUpWithTheButtonEnabledBelowTheRoot)
{
  TShowFilesDialog dialog(nullptr, QString(), FRoot);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.windowTitle(), u"Show files"_s);
  EXPECT_EQ(dialog.Names(), (QStringList{u"Alpha"_s, u"b.txt"_s, u"c.dat"_s})) << "folders first";
  ExpectShown(dialog, FRoot, false);

  DoubleClick(dialog, u"b.txt"_s);
  ExpectShown(dialog, FRoot, false); // a file opens nothing
  DoubleClick(dialog, u"Alpha"_s);
  EXPECT_EQ(dialog.Names(), (QStringList{u"inner"_s, u"x.txt"_s}));
  ExpectShown(dialog, FRoot + u"/Alpha"_s, true);
  DoubleClick(dialog, u"inner"_s);
  ExpectShown(dialog, FRoot + u"/Alpha/inner"_s, true);

  auto* up = dialog.findChild<QPushButton*>(u"btUp"_s);
  up->click();
  ExpectShown(dialog, FRoot + u"/Alpha"_s, true);
  up->click();
  ExpectShown(dialog, FRoot, false);
  EXPECT_EQ(dialog.Names(), (QStringList{u"Alpha"_s, u"b.txt"_s, u"c.dat"_s}));
}

TEST_F(ShowFilesDialogTest, AMissingFolderIsAnErrorAndNoWindow)
{
  TScopedResponders responders;
  QStringList errors;
  responders.Question = [&](TQuestion& question) {
    EXPECT_EQ(question.Kind, TMessageKind::Error);
    errors.append(question.Text);
    return dbOk;
  };
  // Should a window open all the same, the test must not wait for a user.
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget())
      modal->close();
  });
  const QString missing = FRoot + u"/missing"_s;
  TShowFilesDialog::Execute(nullptr, u"Mail profile: alpha"_s, missing);
  EXPECT_EQ(errors, QStringList{u"Directory not found:\r\n"_s + missing + u'!'});

  // A folder removed while it is listed: the error, and the list as it is now.
  TShowFilesDialog dialog(nullptr, u"Mail profile: alpha"_s, FRoot);
  EXPECT_EQ(dialog.windowTitle(), u"Mail profile: alpha"_s);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  ASSERT_TRUE(QDir(FRoot + u"/Alpha"_s).removeRecursively());
  errors.clear();
  DoubleClick(dialog, u"Alpha"_s);
  EXPECT_EQ(errors, QStringList{u"Directory not found:\r\n"_s + FRoot + u"/Alpha!"_s});
  EXPECT_EQ(dialog.Names(), (QStringList{u"b.txt"_s, u"c.dat"_s}));
  ExpectShown(dialog, FRoot, false);
}

} // namespace
