#include "platform/DesktopEntry.h"
#include "support/TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::platform;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// Splits an Exec value the way a desktop reads it: first the string-level
// escapes, then the quoting of arguments.
QStringList ParseExec(const QString& exec)
{
  QString unescaped;
  for (qsizetype i = 0; i < exec.size(); ++i) {
    if (exec[i] == u'\\' && i + 1 < exec.size())
      ++i;
    else if (exec[i] == u'%' && i + 1 < exec.size() && exec[i + 1] == u'%')
      ++i;
    unescaped += exec[i];
  }
  QStringList args;
  QString current;
  bool inQuotes = false;
  bool any = false;
  for (qsizetype i = 0; i < unescaped.size(); ++i) {
    const QChar c = unescaped[i];
    if (inQuotes) {
      if (c == u'\\' && i + 1 < unescaped.size())
        current += unescaped[++i];
      else if (c == u'"')
        inQuotes = false;
      else
        current += c;
    } else if (c == u' ') {
      if (any)
        args << current;
      current.clear();
      any = false;
    } else if (c == u'"') {
      inQuotes = true;
      any = true;
    } else {
      current += c;
      any = true;
    }
  }
  if (any)
    args << current;
  return args;
}

} // namespace

TEST(DesktopEntry, ExecArgumentsSurviveQuoting)
{
  const QStringList awkward = {u"/home/ann/Ardanto/phone.pkj"_s,
                               u"/home/ann/My Tasks/phone 1.pkj"_s,
                               u"/tmp/quote\"and$dollar`tick\\back.pkj"_s,
                               u"/tmp/100%.pkj"_s,
                               u"/tmp/Жанна €.pkj"_s,
                               u"/f"_s};
  EXPECT_EQ(QuoteExecArgument(u"/f"_s), u"/f"_s);
  EXPECT_EQ(QuoteExecArgument(u"/a b"_s), u"\"/a b\""_s);
  EXPECT_EQ(QuoteExecArgument(u"/a\"b"_s), u"\"/a\\\\\"b\""_s);
  EXPECT_EQ(QuoteExecArgument(u"/100%"_s), u"/100%%"_s);
  QString exec = QuoteExecArgument(u"/usr/bin/portkeep"_s);
  for (const QString& arg : awkward)
    exec += u' ' + QuoteExecArgument(arg);
  EXPECT_EQ(ParseExec(exec), QStringList{u"/usr/bin/portkeep"_s} + awkward);
}

TEST(DesktopEntry, AShortcutsFileStaysInItsFolderWhateverItsName)
{
  const struct {
    QString Name;
    QString File;
  } cases[] = {
      {u"Backup tb-alpha"_s, u"Backup tb-alpha.desktop"_s},
      {u"../../.bashrc"_s, u".._.._.bashrc.desktop"_s},
      {u".."_s, u"_...desktop"_s},
      {QString(), u"_.desktop"_s},
      {u"a\nb\tc"_s, u"a_b_c.desktop"_s},
      {u"Sicherung Jörg"_s, u"Sicherung Jörg.desktop"_s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShortcutFileName(u"/home/ann/Desktop"_s, c.Name), u"/home/ann/Desktop/"_s + c.File)
        << c.Name.toStdString();
}

TEST(DesktopEntry, WritesAValidExecutableLauncher)
{
  if (!HasProgram(u"desktop-file-validate"_s))
    GTEST_SKIP() << "desktop-file-validate is not installed";
  TempDir dir;
  TDesktopShortcut shortcut;
  shortcut.FileName = dir.File(u"Ardanto-Portkeep-My Phone.desktop"_s);
  shortcut.Name = u"Ardanto-Portkeep-My Phone"_s;
  shortcut.Comment = u"Device backup: My Phone\\1"_s;
  shortcut.Program = u"/usr/bin/portkeep"_s;
  shortcut.Arguments = {u"/home/ann/Ardanto/My Phone.pkj"_s, u"/f"_s};
  shortcut.WorkingFolder = u"/home/ann/Ardanto/"_s;
  shortcut.Icon = u"portkeep"_s;
  ASSERT_EQ(CreateDesktopShortcut(shortcut), 0);

  const ProcessResult check = ardanto::test::Run(u"desktop-file-validate"_s, {shortcut.FileName});
  EXPECT_EQ(check.ExitCode, 0) << check.Output.toStdString();
  EXPECT_TRUE(check.Output.trimmed().isEmpty()) << check.Output.toStdString();
  EXPECT_TRUE(QFileInfo(shortcut.FileName).isExecutable());

  const QString text = QString::fromUtf8(ReadFile(shortcut.FileName));
  EXPECT_TRUE(text.contains(u"\nExec=/usr/bin/portkeep \"/home/ann/Ardanto/My Phone.pkj\" /f\n"_s))
      << text.toStdString();
  EXPECT_TRUE(text.contains(u"\nPath=/home/ann/Ardanto/\n"_s));
  EXPECT_TRUE(text.contains(u"\nComment=Device backup: My Phone\\\\1\n"_s));
}
