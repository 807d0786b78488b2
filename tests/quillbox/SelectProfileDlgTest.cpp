#include "quillbox/gui/SelectProfileDlg.h"

#include "quillbox/Profiles.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using quillbox::TProfileList;
using quillbox::TSelectProfileDialog;

// alpha, beta (the default, from Default=1) and gamma; the default's entry
// was named before it became the default, so it is listed as "beta" until the
// reading's DefaultProfile names it anew.
TProfileList ThreeProfiles()
{
  TProfileList list;
  list.AddProfile(u"alpha"_s, u"a"_s, u"/t/a"_s, true, false);
  list.AddProfile(u"beta"_s, u"b"_s, u"/t/b"_s, true, true);
  list.AddProfile(u"gamma"_s, u"c"_s, u"/t/c"_s, true, false);
  list.DefaultProfile();
  return list;
}

QListWidget* ListOf(TSelectProfileDialog& dialog)
{
  return dialog.findChild<QListWidget*>(u"lbProfiles"_s);
}

QStringList Items(QListWidget* list)
{
  QStringList items;
  for (int i = 0; i < list->count(); ++i)
    items.append(list->item(i)->text());
  return items;
}

TEST(SelectProfileDialog, ListsTheShownNamesAndSelectsTheProfile)
{
  TSelectProfileDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), u"Multiple profiles found"_s);
  EXPECT_NE(dialog.findChild<QLabel*>(), nullptr);
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(), u"Select Thunderbird profile:"_s);
  TProfileList list = ThreeProfiles();
  QListWidget* items = ListOf(dialog);
  ASSERT_NE(items, nullptr);

  struct TCase {
    QString Profile;
    QString Selected; // row text
  };
  const TCase cases[] = {{u"gamma"_s, u"gamma"_s},
                         {QString(), u"Default user"_s},
                         {u"BETA"_s, u"Default user"_s},
                         {u"nobody"_s, u"alpha"_s},
                         {u"Alpha"_s, u"alpha"_s}}; // the text must match: another case is no match
  for (const TCase& c : cases) {
    QString profile = c.Profile;
    dialog.Prepare(list, profile);
    EXPECT_EQ(Items(items), (QStringList{u"alpha"_s, u"Default user"_s, u"gamma"_s}));
    ASSERT_NE(items->currentItem(), nullptr);
    EXPECT_EQ(items->currentItem()->text(), c.Selected) << c.Profile.toStdString();
  }
  QString profile;
  dialog.Prepare(list, profile);
  EXPECT_EQ(profile, u"beta"_s) << "an empty profile becomes the default";
  EXPECT_EQ(dialog.Chosen(list), u"beta"_s) << "the list name, not the shown one";
  items->setCurrentRow(-1);
  EXPECT_EQ(dialog.Chosen(list), u"alpha"_s) << "nothing selected: the first entry";
}

TEST(SelectProfileDialog, ExecuteAnswersByDoubleClickOkAndCancel)
{
  TSelectProfileDialog dialog;
  TProfileList list = ThreeProfiles();
  QListWidget* items = ListOf(dialog);
  // A dialog that fails to close fails the test instead of hanging it.
  const auto failSafe = [&] { QTimer::singleShot(5000, &dialog, &QDialog::reject); };

  QString profile = u"alpha"_s;
  failSafe();
  QTimer::singleShot(0, &dialog, [&] {
    QListWidgetItem* item = items->item(2);
    const QRect rect = items->visualItemRect(item);
    QTest::mouseClick(items->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(items->viewport(), Qt::LeftButton, {}, rect.center());
  });
  EXPECT_TRUE(dialog.Execute(QPoint(-1, -1), list, profile));
  EXPECT_EQ(profile, u"gamma"_s);

  failSafe();
  QTimer::singleShot(0, &dialog, [&] {
    items->setCurrentRow(1);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  EXPECT_TRUE(dialog.Execute(QPoint(10, 10), list, profile));
  EXPECT_EQ(profile, u"beta"_s);

  profile = u"alpha"_s;
  QTimer::singleShot(0, &dialog,
                     [&] { dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click(); });
  EXPECT_FALSE(dialog.Execute(QPoint(10, 10), list, profile));
  EXPECT_EQ(profile, u"alpha"_s);
}

TEST(SelectProfileDialog, OpensWhereAskedAndStaysOnScreen)
{
  TSelectProfileDialog dialog;
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  dialog.Place(QPoint(area.left() + 20, area.top() + 30));
  EXPECT_EQ(dialog.pos(), QPoint(area.left() + 20, area.top() + 30));
  dialog.Place(QPoint(area.right() + 500, area.bottom() + 500));
  EXPECT_TRUE(area.contains(dialog.frameGeometry())) << "pushed back onto the screen";
  dialog.Place(QPoint(-1, 40));
  EXPECT_LE(std::abs(dialog.frameGeometry().center().x() - area.center().x()), 1);
  EXPECT_LE(std::abs(dialog.frameGeometry().center().y() - area.center().y()), 1);
}

TEST(SelectProfile, OneIsAnnouncedSeveralAreOffered)
{
  ardanto::ui::TScopedResponders responders;
  QStringList messages;
  responders.Question = [&](ardanto::ui::TQuestion& q) {
    messages.append(q.Text);
    return ardanto::ui::dbOk;
  };
  TSelectProfileDialog dialog;

  TProfileList empty;
  QString name = u"x"_s;
  EXPECT_FALSE(quillbox::SelectProfile(nullptr, dialog, QPoint(), empty, name));

  TProfileList one;
  one.AddProfile(u"Solo"_s, u"s"_s, u"/t/s"_s, true, false);
  one.DefaultProfile(); // as reading does
  name = u"stale"_s;    // a profile from the settings that is gone
  EXPECT_TRUE(quillbox::SelectProfile(nullptr, dialog, QPoint(), one, name));
  EXPECT_EQ(name, u"Solo"_s);
  EXPECT_EQ(messages, QStringList{u"Single Thunderbird profile \"Default user\" found!"_s});

  TProfileList list = ThreeProfiles();
  QStringList offered;
  int preselected = -1;
  quillbox::SetProfileResponder([&](const QStringList& items, int& index) {
    offered = items;
    preselected = index;
    index = 2;
    return true;
  });
  name = u"ALPHA"_s;
  EXPECT_TRUE(quillbox::SelectProfile(nullptr, dialog, QPoint(), list, name));
  EXPECT_EQ(offered, (QStringList{u"alpha"_s, u"Default user"_s, u"gamma"_s}));
  EXPECT_EQ(preselected, 0) << "ALPHA is not the text alpha: the first row";
  EXPECT_EQ(name, u"gamma"_s);

  quillbox::SetProfileResponder([&](const QStringList&, int& index) {
    preselected = index;
    return false;
  });
  name.clear();
  EXPECT_FALSE(quillbox::SelectProfile(nullptr, dialog, QPoint(), list, name));
  EXPECT_EQ(preselected, 1) << "no name: the default is offered";
  EXPECT_TRUE(name.isEmpty());

  // The choice comes back in the list's own spelling.
  quillbox::SetProfileResponder([&](const QStringList&, int&) { return true; });
  name = u"Gamma"_s;
  EXPECT_TRUE(quillbox::SelectProfile(nullptr, dialog, QPoint(), list, name));
  EXPECT_EQ(name, u"alpha"_s) << "Gamma matches no row text, so the first row stays selected";
  quillbox::SetProfileResponder({});
  EXPECT_EQ(messages.size(), 1);
}

} // namespace
