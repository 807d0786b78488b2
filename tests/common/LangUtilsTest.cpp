#include "common/LangUtils.h"
#include "common/CommandLine.h"
#include "common/FileUtils.h"
#include "common/Translate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// A program living in <tmp>/prog/ with its configuration folder <tmp>/config/.
class LanguageTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FSaved = CurrentProgramPaths();
    SetProgramPaths({FDir.Path() + u"/prog/"_s, u"portkeep"_s, FDir.Path() + u"/config/"_s});
  }
  void TearDown() override
  {
    SetProgramPaths(FSaved);
    ActivateLanguage(u"en"_s);
  }
  QString WriteCfg(const QString& relative, const QByteArray& langId)
  {
    return FDir.Write(relative, "[Language]\r\nLangID=" + langId + "\r\n");
  }
  TLanguageSelection Select(const QStringList& args)
  {
    return SelectLanguage(u"Ardanto6/"_s, u"Ardanto.cfg"_s, {u"ardanto-lib"_s}, args);
  }

  TempDir FDir;
  TProgramPaths FSaved;
  ScopedEnv FLanguage{"LANGUAGE", ""};
  ScopedEnv FLang{"LANG", "C"};
  ScopedEnv FLcAll{"LC_ALL", ""};
  ScopedEnv FLcMessages{"LC_MESSAGES", ""};
};

} // namespace

TEST(LanguageCode, MapsPrimaryLanguageIdentifiers)
{
  EXPECT_EQ(LanguageCode(0x0407), u"de"_s); // German (Germany): primary 7
  EXPECT_EQ(LanguageCode(0x0C0A), u"es"_s);
  EXPECT_EQ(LanguageCode(146), u"ku"_s);
  EXPECT_EQ(LanguageCode(13), u"en"_s) << "13 has no code";
  EXPECT_EQ(LanguageCode(0), u"en"_s);
  EXPECT_TRUE(IsKnownLanguageCode(u"FR"_s));
  EXPECT_FALSE(IsKnownLanguageCode(u"xx"_s));
}

TEST_F(LanguageTest, CommandLineWinsOverTheConfigurationFile)
{
  const QString cfg = WriteCfg(u"config/Ardanto6/Ardanto.cfg"_s, "fr-FR");
  const TLanguageSelection selection = Select({u"/force"_s, u"/lang:de"_s});
  EXPECT_EQ(selection.LanguageCode, u"de"_s);
  EXPECT_EQ(selection.ConfigFile, cfg);
  EXPECT_EQ(Select({}).LanguageCode, u"fr"_s) << "LangID fr-FR gives fr";
}

TEST_F(LanguageTest, TranslatedTextsComeThroughEvenUnderTheCLocale)
{
  Select({u"-la:de"_s});
  EXPECT_EQ(CurrentLanguage(), u"de"_s);
  EXPECT_EQ(TranslateText("ardanto-lib", "Error writing to \"%s\""), u"Fehler beim Schreiben in \"%s\""_s);
  EXPECT_EQ(TranslateText("ardanto-lib", "A text without translation"), u"A text without translation"_s);
  // A message raised inside the library arrives in German.
  const QString missing = FDir.File(u"missing.ini"_s);
  try {
    TExtFileStream stream(missing, fmOpenRead);
    FAIL();
  } catch (const EExtFileStreamError& e) {
    EXPECT_TRUE(e.Message().startsWith(u"Datei \""_s + missing + u"\" kann nicht geöffnet werden."_s))
        << e.Message().toStdString();
  }
  Select({u"/lang:en"_s});
  EXPECT_EQ(TranslateText("ardanto-lib", "Error writing to \"%s\""), u"Error writing to \"%s\""_s);
}

TEST_F(LanguageTest, WithoutSettingTheLocaleDecides)
{
  const struct {
    const char* Lang;
    const char16_t* Expected;
  } cases[] = {{"de_DE.UTF-8", u"de"}, {"pt_BR", u"pt"}, {"xx_YY.UTF-8", u"en"}, {"C", u"en"}, {"", u"en"}};
  for (const auto& c : cases) {
    ScopedEnv lang("LANG", c.Lang);
    ScopedEnv language("LANGUAGE", "");
    EXPECT_EQ(Select({}).LanguageCode, QString::fromUtf16(c.Expected)) << c.Lang;
  }
}

TEST_F(LanguageTest, IniAndPortableOptionsMoveTheConfigurationFile)
{
  const QString base = FDir.Path();
  ScopedEnv where("ARDANTO_TEST_DIR", base.toUtf8());
  const struct {
    QStringList Args;
    QString Expected;
  } cases[] = {
      {{}, base + u"/config/Ardanto6/Ardanto.cfg"_s},
      {{u"/ini:%ARDANTO_TEST_DIR%/elsewhere/"_s}, base + u"/elsewhere/Ardanto.cfg"_s},
      {{u"/ini:/etc/suite/Portkeep.ini"_s}, u"/etc/suite/Ardanto.cfg"_s},
      {{u"/ini:Portkeep.ini"_s}, base + u"/config/Ardanto6/Ardanto.cfg"_s},
      {{u"/portable"_s}, base + u"/prog/Ardanto.cfg"_s},
      {{u"/portable"_s, u"/ini:/opt/p/Portkeep.ini"_s}, u"/opt/p/Portkeep.cfg"_s},
      {{u"/ini:/opt/p/Portkeep.ini"_s, u"/portable"_s}, u"/opt/p/Portkeep.cfg"_s},
      {{u"/ini:Portkeep.ini"_s, u"/port"_s}, base + u"/prog/Portkeep.cfg"_s},
      {{u"/ini:sub/Portkeep.ini"_s, u"/portable"_s}, base + u"/prog/sub/Portkeep.cfg"_s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Select(c.Args).ConfigFile, c.Expected) << c.Args.join(u' ').toStdString();

  WriteCfg(u"prog/Ardanto.cfg"_s, "sv");
  EXPECT_EQ(Select({u"/portable"_s}).LanguageCode, u"sv"_s);
}

TEST_F(LanguageTest, AnUnreadableConfigurationFileFallsBackToTheLocale)
{
  FDir.Write(u"config/Ardanto6/Ardanto.cfg/x"_s, ""); // a folder where the file should be
  ScopedEnv lang("LANG", "de_DE.UTF-8");
  EXPECT_EQ(Select({}).LanguageCode, u"de"_s);
}

TEST(CommandLine, OptionsAndFileNames)
{
  const struct {
    const char16_t* Arg;
    bool IsOption;
    const char16_t* Word;
    const char16_t* Value;
  } cases[] = {
      {u"/force", true, u"force", u""},         {u"-F", true, u"f", u""},
      {u"/lang:de", true, u"lang", u"de"},      {u"/ini:/home/ann/x.ini", true, u"ini", u"/home/ann/x.ini"},
      {u"/home/ann/task.pkj", false, u"", u""}, {u"/home/a:b/c", false, u"", u""},
      {u"task.pkj", false, u"", u""},           {u"/", false, u"", u""},
  };
  for (const auto& c : cases) {
    const QString arg = QString::fromUtf16(c.Arg);
    TOptionArgument option;
    EXPECT_EQ(IsOptionArgument(arg), c.IsOption) << arg.toStdString();
    EXPECT_EQ(SplitOptionArgument(arg, option), c.IsOption) << arg.toStdString();
    if (c.IsOption) {
      EXPECT_EQ(option.Word, QString::fromUtf16(c.Word));
      EXPECT_EQ(option.Value, QString::fromUtf16(c.Value));
    }
  }
  EXPECT_TRUE(MatchesOptionWord(u"fo"_s, u"force"_s));
  EXPECT_TRUE(MatchesOptionWord(u"force"_s, u"force"_s));
  EXPECT_FALSE(MatchesOptionWord(u"forced"_s, u"force"_s));
  EXPECT_FALSE(MatchesOptionWord(u""_s, u"force"_s));

  ScopedEnv var("ARDANTO_X", "/data");
  ScopedEnv unset("ARDANTO_UNSET", "");
  EXPECT_EQ(ExpandEnvironmentVariables(u"%ARDANTO_X%/a/%ARDANTO_UNSET%b/100%%/%open"_s), u"/data/a/b/100%/%open"_s);
}
