// The error selection of an action after a backup: the mask shown as boxes
// and read back from them.

#include "ui/ErrorActionDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace ardanto::ui;
using namespace Qt::StringLiterals;

namespace {

QCheckBox* Box(QWidget* dialog, int bit)
{
  return dialog->findChild<QCheckBox*>(u"cbError"_s + QString::number(bit));
}

TEST(ErrorActionDialog, MaskInBoxesMaskOut)
{
  int mask = 1 | 4 | 16 | 0x40; // 0x40 is no box of this dialog and stays
  QString title, group;
  QStringList texts;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    QTimer::singleShot(10000, dialog, [dialog] { dialog->close(); });
    title = dialog->windowTitle();
    group = dialog->findChild<QGroupBox*>(u"gbErrors"_s)->title();
    for (int bit : {1, 2, 4, 8, 16}) {
      ASSERT_NE(Box(dialog, bit), nullptr) << bit;
      texts.append(Box(dialog, bit)->text());
      EXPECT_EQ(Box(dialog, bit)->isChecked(), (mask & bit) != 0) << bit;
    }
    Box(dialog, 1)->click();
    Box(dialog, 8)->click();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(TErrorActionDialog::Execute(nullptr, u"Sleep"_s, mask));
  EXPECT_EQ(title, u"Subsequent action"_s);
  EXPECT_EQ(group, u"No Sleep on these errors"_s);
  EXPECT_EQ(texts,
            (QStringList{u"Task file not found"_s, u"Destination not accessible"_s, u"Source directory not found"_s,
                         u"Invalid task configuration"_s, u"Other errors during backup"_s}));
  EXPECT_EQ(mask, 4 | 8 | 16 | 0x40);

  QTimer::singleShot(0, [] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    Box(dialog, 2)->click();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(TErrorActionDialog::Execute(nullptr, u"Sleep"_s, mask));
  EXPECT_EQ(mask, 4 | 8 | 16 | 0x40) << "Cancel keeps the mask";
}

} // namespace
