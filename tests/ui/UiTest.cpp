#include "common/IniFileUtils.h"
#include "common/LangUtils.h"
#include "common/TextFilter.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"
#include "ui/DirectoryDialog.h"
#include "ui/FieldFormats.h"
#include "ui/HelpKeys.h"
#include "ui/HistoryComboBox.h"
#include "ui/PlaceHolderDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::ui;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

TEST(PlaceHolderDialog, PagesListTheirChoicesAndGiveTheirPlaceholders)
{
  const struct {
    int Kind;
    const char16_t* Caption;
    int Count;
    int Row;
    const char16_t* Result;
  } cases[] = {
      {pkDateTime, u"Date and time", 13, 1, u"%yaw%"},
      {99, u"Date and time", 13, 11, u"%year%"}, // any other kind
      {pkPath, u"File path:", 10, 6, u"%progpath%"},
      {pkMailSubject, u"Mail subject", 7, 6, u"%status%"},
      {pkExternalBefore, u"External programs before backup", 9, 1, u"%taskname%"},
      {pkExternalAfter, u"External programs after backup", 11, 10, u"%status%"},
      {pkLogFile, u"Log file", 10, 8, u"%drive%"},
      {pkOtherLogs, u"Other logs", 7, 6, u"%computername%"},
      {pkPortable, u"Portable devices", 13, 0, u"%device%"},
      {pkPortable, u"Portable devices", 13, 12, u"%year%"},
  };
  for (const auto& c : cases) {
    TPlaceHolderDialog dialog(nullptr, QPoint(-1, -1), c.Kind);
    EXPECT_EQ(dialog.PageCaption(), QString::fromUtf16(c.Caption)) << c.Kind;
    EXPECT_EQ(dialog.Items().size(), c.Count) << c.Kind;
    EXPECT_EQ(dialog.Heading(), u"Placeholder for"_s);
    dialog.SelectItem(c.Row);
    EXPECT_EQ(dialog.Result(), QString::fromUtf16(c.Result)) << c.Kind << " row " << c.Row;
  }
  TPlaceHolderDialog mail(nullptr, QPoint(-1, -1), pkMailSubject, u"backup"_s);
  EXPECT_EQ(mail.Heading(), u"Placeholder for backup"_s);
}

TEST(PlaceHolderDialog, OtherSwitchesPagesAndCyclesTakeTheirLength)
{
  TPlaceHolderDialog dialog(nullptr, QPoint(-1, -1), pkDateTime);
  dialog.SelectItem(12); // "Other"
  EXPECT_EQ(dialog.Page(), TPlaceHolderDialog::pgTime);
  EXPECT_EQ(dialog.Result(), u"%time%"_s) << "the first item is selected";
  const struct {
    int Row;
    int Max;
    int Value;
    const char16_t* Result;
  } cycles[] = {{3, 366, 7, u"%d#7%"}, {4, 53, 60, u"%w#53%"}, {5, 12, 3, u"%m#3%"}, {6, 99, 5, u"%v#5%"}};
  for (const auto& c : cycles) {
    dialog.SelectItem(c.Row);
    EXPECT_TRUE(dialog.NumberVisible());
    EXPECT_EQ(dialog.NumberMaximum(), c.Max);
    dialog.SetNumber(c.Value);
    EXPECT_EQ(dialog.Result(), QString::fromUtf16(c.Result));
  }
  dialog.SelectItem(7);
  EXPECT_FALSE(dialog.NumberVisible());
  dialog.SelectItem(11); // "Other" again
  EXPECT_EQ(dialog.Page(), TPlaceHolderDialog::pgDate);

  TPlaceHolderDialog path(nullptr, QPoint(-1, -1), pkPath);
  path.SelectItem(9);
  EXPECT_EQ(path.Page(), TPlaceHolderDialog::pgSystem);
  path.SelectItem(8);
  EXPECT_EQ(path.Result(), u"%programdata%"_s);

  TPlaceHolderDialog external(nullptr, QPoint(-1, -1), pkExternalAfter);
  external.SelectItem(1);
  external.SelectItem(0);
  EXPECT_EQ(external.Page(), TPlaceHolderDialog::pgDate);
}

TEST(HistoryComboBox, KeepsEntriesAndInsertsAtTheCaret)
{
  THistoryComboBox box;
  box.SetHistory({u"/b"_s, u"/a"_s});
  EXPECT_EQ(box.currentText(), u"/b"_s);
  box.setEditText(u"/backup/x"_s);
  box.AddToHistory(u"/A"_s);
  EXPECT_EQ(box.History(), (QStringList{u"/A"_s, u"/b"_s}));
  EXPECT_EQ(box.currentText(), u"/backup/x"_s);
  for (int i = 0; i < 20; ++i)
    box.AddToHistory(u"/e%1"_s.arg(i));
  EXPECT_EQ(box.History().size(), 15);

  box.setEditText(u"/backup/"_s);
  box.InsertAtCaret(u"%device%"_s);
  EXPECT_EQ(box.currentText(), u"/backup/%device%"_s) << "at the end without a remembered caret";
  box.lineEdit()->setCursorPosition(1);
  QFocusEvent out(QEvent::FocusOut);
  QCoreApplication::sendEvent(box.lineEdit(), &out);
  EXPECT_EQ(box.RememberedCaret(), 1);
  box.InsertAtCaret(u"x/"_s);
  EXPECT_EQ(box.currentText(), u"/x/backup/%device%"_s);
}

TEST(Dialogs, RespondersAnswerAndRecord)
{
  TScopedResponders responders;
  QStringList asked;
  responders.Question = [&](TQuestion& q) {
    asked << q.Text;
    q.Checked = true;
    return q.Text.contains(u"Yes"_s) ? dbYes : dbCancel;
  };
  EXPECT_TRUE(AskYesNo(nullptr, u"t"_s, u"Yes?"_s));
  EXPECT_EQ(AskYesNoCancel(nullptr, u"t"_s, u"Other?"_s), dbCancel);
  TQuestion withBox;
  withBox.Text = u"Yes with box"_s;
  withBox.CheckText = u"Don't ask again"_s;
  Ask(nullptr, withBox);
  EXPECT_TRUE(withBox.Checked);
  ShowError(nullptr, u"Broken"_s);
  EXPECT_EQ(asked, (QStringList{u"Yes?"_s, u"Other?"_s, u"Yes with box"_s, u"Broken"_s}));
}

TEST(DirectoryDialog, RecentFoldersAreKeptInTheSettingsFile)
{
  TempDir dir;
  const QString ini = dir.File(u"Portkeep.ini"_s);
  TScopedResponders responders;
  QString started;
  responders.Folder = [&](const QString&, const QString& start) -> QString {
    started = start;
    return dir.Path() + u"/chosen"_s;
  };
  QString result;
  {
    TDirectoryDialog dialog(ini, u"Directories"_s);
    ASSERT_TRUE(dialog.Execute(nullptr, u"Select"_s, dir.Path() + u"/missing/deeper/%date%"_s, result));
  }
  EXPECT_EQ(started, dir.Path()) << "the nearest existing parent";
  EXPECT_EQ(result, dir.Path() + u"/chosen"_s);
  TDirectoryDialog again(ini, u"Directories"_s);
  EXPECT_EQ(again.Recent(), QStringList{result});

  responders.Folder = [](const QString&, const QString&) { return QString(); };
  EXPECT_FALSE(again.Execute(nullptr, u"Select"_s, QString(), result));
}

TEST(HelpKeys, HintsAndMissingHelp)
{
  QWidget window;
  auto* edit = new QLineEdit(&window);
  edit->setToolTip(u"Filter for filenames"_s);
  auto* plain = new QLineEdit(&window);
  auto* label = new QLabel(u"&Destination directory:"_s, &window);
  label->setBuddy(plain);
  EXPECT_EQ(THelpKeys::HintOf(edit), u"Filter for filenames"_s);
  EXPECT_EQ(THelpKeys::HintOf(plain), u"Destination directory:"_s);

  ScopedEnv helpDir("ARDANTO_HELPDIR", "/nonexistent");
  TScopedResponders responders;
  QString shown;
  responders.Question = [&](TQuestion& q) {
    shown = q.Text;
    return dbOk;
  };
  EXPECT_FALSE(OpenHelp(&window, u"no-such-page.html"_s));
  EXPECT_EQ(shown, u"Help is not available on this system!"_s);
}

TEST(HelpKeys, HelpFileTakesTheLanguageFolderFirstAndIgnoresThePartOfAPage)
{
  TempDir dir;
  dir.Write(u"ardanto-options.html"_s, "<html lang=en>");
  dir.Write(u"de/ardanto-options.html"_s, "<html lang=de>");
  dir.Write(u"ardanto-quill.html"_s, "<html lang=en>");
  ScopedEnv helpDir("ARDANTO_HELPDIR", dir.Path().toLocal8Bit());
  ActivateLanguage(u"de"_s);
  EXPECT_EQ(HelpFile(u"ardanto-options.html#mail"_s), dir.Path() + u"/de/ardanto-options.html"_s);
  EXPECT_EQ(HelpFile(u"ardanto-quill.html"_s), dir.Path() + u"/ardanto-quill.html"_s); // no German page
  ActivateLanguage(u"en"_s);
  EXPECT_EQ(HelpFile(u"ardanto-options.html#mail"_s), dir.Path() + u"/ardanto-options.html"_s);
  EXPECT_EQ(HelpFile(u"#mail"_s), QString());
}

TEST(HelpKeys, ApplicationIconComesFromTheIconsBesideTheProgram)
{
  TempDir dir;
  QImage image(48, 48, QImage::Format_ARGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(QDir().mkpath(dir.Path() + u"/share/icons/hicolor/48x48/apps"_s));
  ASSERT_TRUE(image.save(dir.Path() + u"/share/icons/hicolor/48x48/apps/portkeep.png"_s));
  ASSERT_TRUE(QDir().mkpath(dir.Path() + u"/share/icons/hicolor/256x256/apps"_s));
  ASSERT_TRUE(image.scaled(256, 256).save(dir.Path() + u"/share/icons/hicolor/256x256/apps/portkeep.png"_s));
  const TProgramPaths saved = CurrentProgramPaths();
  TProgramPaths paths = saved;
  paths.ProgramFolder = dir.Path() + u"/bin/"_s;
  SetProgramPaths(paths);
  const QIcon icon = ApplicationIcon(u"portkeep"_s);
  const QIcon missing = ApplicationIcon(u"no-such-program"_s);
  SetProgramPaths(saved);
  EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(256, 256), QSize(48, 48)}));
  EXPECT_TRUE(missing.isNull());
}

TEST(FieldFormats, DateAndTimeFieldsByLocale)
{
  EXPECT_EQ(DateFieldFormat(QLocale(QLocale::English, QLocale::UnitedStates)), u"MM/dd/yyyy"_s);
  EXPECT_EQ(DateFieldFormat(QLocale(QLocale::German, QLocale::Germany)), u"dd.MM.yyyy"_s);
  EXPECT_EQ(DateFieldFormat(QLocale(QLocale::Swedish, QLocale::Sweden)), u"yyyy-MM-dd"_s);
  EXPECT_EQ(TimeFieldFormat(QLocale(QLocale::German, QLocale::Germany)), u"HH:mm"_s);
  EXPECT_EQ(TimeFieldFormat(QLocale(QLocale::English, QLocale::UnitedStates)), u"hh:mm AP"_s);
}

TEST(FieldFormats, TaskFileFilterAndFilterText)
{
  EXPECT_EQ(TaskFileFilter(u"pkj"_s), u"Backup tasks (*.pkj);;all (*)"_s);
  EXPECT_EQ(TaskFileFilter(u"buj"_s), u"Backup tasks (*.buj);;all (*)"_s);

  TTextFilter filter(true, true);
  EXPECT_EQ(FilterDisplayText(filter), u"All files"_s);
  filter.SetFilter(u"*.jpg"_s);
  filter.SetMode(fmInclude);
  EXPECT_EQ(FilterDisplayText(filter), u"only *.jpg"_s);
  filter.SetMode(fmExclude);
  EXPECT_EQ(FilterDisplayText(filter), u"all except *.jpg"_s);
  filter.SetMode(fmOff);
  EXPECT_EQ(FilterDisplayText(filter), u"All files"_s) << "a switched-off filter keeps its text, unseen";
}
