#include "common/TextFilter.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

struct TMaskCase {
  bool FileFilter;
  const char16_t* Filter;
  TFilterMode Mode;
  const char16_t* Name;
  bool Passes;
};

void PrintTo(const TMaskCase& c, std::ostream* os)
{
  *os << (c.FileFilter ? "file " : "text ") << QString::fromUtf16(c.Filter).toStdString() << " mode " << c.Mode
      << " name '" << QString::fromUtf16(c.Name).toStdString() << "'";
}

class MaskFilter : public ::testing::TestWithParam<TMaskCase> {};

TEST_P(MaskFilter, DecidesWhetherNamePasses)
{
  const TMaskCase& c = GetParam();
  TTextFilter filter(c.FileFilter, true);
  filter.SetFilter(QString::fromUtf16(c.Filter));
  filter.SetMode(c.Mode);
  EXPECT_EQ(filter.MatchesFilter(QString::fromUtf16(c.Name)), c.Passes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaskFilter,
    ::testing::Values(
        // "*" in a file filter means "*.*": names without a dot fail.
        TMaskCase{true, u"*", fmInclude, u"README", false}, TMaskCase{true, u"*", fmInclude, u"a.txt", true},
        TMaskCase{false, u"*", fmInclude, u"README", true},
        // OR lists, case ignored.
        TMaskCase{true, u"*.jpg|*.png", fmInclude, u"a.JPG", true},
        TMaskCase{true, u"*.jpg|*.png", fmInclude, u"b.png", true},
        TMaskCase{true, u"*.jpg|*.png", fmInclude, u"a.gif", false},
        TMaskCase{true, u"*.jpg|*.png", fmInclude, u"a.jpg.gif", false},
        // AND lists with a negated item.
        TMaskCase{true, u"+*.jpg|!IMG*", fmInclude, u"photo.jpg", true},
        TMaskCase{true, u"+*.jpg|!IMG*", fmInclude, u"IMG_1.jpg", false},
        TMaskCase{true, u"+*.jpg|!IMG*", fmInclude, u"photo.png", false},
        TMaskCase{true, u"!*.tmp", fmInclude, u"a.txt", true}, TMaskCase{true, u"!*.tmp", fmInclude, u"a.tmp", false},
        // "*." stands for names without extension.
        TMaskCase{true, u"*.", fmInclude, u"Makefile", true}, TMaskCase{true, u"*.", fmInclude, u"a.txt", false},
        TMaskCase{true, u"*.jpg|*.", fmInclude, u"Makefile", true},
        // Exclude inverts; off passes everything.
        TMaskCase{true, u"*.tmp", fmExclude, u"a.txt", true}, TMaskCase{true, u"*.tmp", fmExclude, u"b.TMP", false},
        TMaskCase{true, u"*.jpg", fmOff, u"a.gif", true}, TMaskCase{true, u"*.jpg", fmOff, u"", true},
        // Mask characters: "?" one character, sets, ranges, negated sets.
        TMaskCase{false, u"a?c", fmInclude, u"abc", true}, TMaskCase{false, u"a?c", fmInclude, u"ac", false},
        TMaskCase{false, u"a?c", fmInclude, u"abbc", false}, TMaskCase{false, u"[a-c]*", fmInclude, u"Beta", true},
        TMaskCase{false, u"[a-c]*", fmInclude, u"delta", false},
        TMaskCase{false, u"[!a-c]*", fmInclude, u"beta", false},
        TMaskCase{false, u"[!a-c]*", fmInclude, u"delta", true},
        TMaskCase{false, u"file[0-9x].txt", fmInclude, u"FILEX.TXT", true},
        TMaskCase{false, u"[-_]*", fmInclude, u"-x", true}, TMaskCase{false, u"[*]", fmInclude, u"a", false},
        TMaskCase{false, u"[*]", fmInclude, u"*", true},
        // "." is an ordinary character, and the whole name must match.
        TMaskCase{false, u"a.c", fmInclude, u"abc", false}, TMaskCase{false, u"*.*", fmInclude, u"README", false},
        TMaskCase{false, u"*.txt", fmInclude, u"a.txt.bak", false},
        // Case ignored beyond ASCII; "?" takes one character even outside the BMP.
        TMaskCase{true, u"ÄPFEL*", fmInclude, u"äpfel.txt", true},
        TMaskCase{false, u"?.txt", fmInclude, u"😀.txt", true}, TMaskCase{false, u"?.txt", fmInclude, u"ab.txt", false},
        // An empty item of a file filter becomes ".*" (hidden files).
        TMaskCase{true, u"*.jpg||*.png", fmInclude, u".profile", true},
        TMaskCase{true, u"*.jpg||*.png", fmInclude, u"a.gif", false},
        // An empty item of a plain list is skipped, also at the start.
        TMaskCase{false, u"|*.jpg", fmInclude, u"a.gif", false}, TMaskCase{false, u"|*.jpg", fmInclude, u"a.jpg", true},
        TMaskCase{false, u"+*.jpg||!IMG*", fmInclude, u"IMG_2.jpg", false},
        TMaskCase{false, u"+*.jpg||!IMG*", fmInclude, u"x.jpg", true}));

TEST(TextFilter, FileFilterGivesItemsWithoutExtensionAWildcardOne)
{
  const struct {
    const char16_t* Given;
    const char16_t* Stored;
  } cases[] = {
      {u"*", u"*.*"},        {u"IMG*|*.jpg|!tmp", u"IMG*.*|*.jpg|!tmp.*"},
      {u"*.jpg|", u"*.jpg"}, {u"*.jpg||*.png", u"*.jpg|.*|*.png"},
      {u"*.", u"*."},        {u"", u"*"},
  };
  for (const auto& c : cases) {
    TTextFilter filter(true, true);
    filter.SetFilter(QString::fromUtf16(c.Given));
    EXPECT_EQ(filter.Filter(), QString::fromUtf16(c.Stored)) << QString::fromUtf16(c.Given).toStdString();
  }
  TTextFilter plain(false, true);
  plain.SetFilter(u"IMG*|*.jpg|"_s);
  EXPECT_EQ(plain.Filter(), u"IMG*|*.jpg|"_s);
}

TEST(TextFilter, InvalidMaskRaisesAndFallsBackToMatchAll)
{
  for (const QString& bad : {u"[abc"_s, u"*.jpg|IMG[0-9"_s, u"x[!"_s}) {
    TTextFilter filter(true, true);
    filter.SetFilter(u"*.jpg"_s);
    filter.SetMode(fmInclude);
    try {
      filter.SetFilter(bad);
      ADD_FAILURE() << "no error for " << bad.toStdString();
    } catch (const EFilterError& error) {
      EXPECT_EQ(error.Message(), u"Illegal mask!"_s);
    }
    EXPECT_EQ(filter.Filter(), u"*"_s);
    EXPECT_TRUE(filter.MatchesFilter(u"README"_s));
  }
}

TEST(TextFilter, RegularExpressionIsSearchedAnywhere)
{
  TTextFilter filter(true, true);
  filter.SetRegular(true);
  filter.SetMode(fmInclude);
  filter.SetFilter(uR"(^IMG_\d+\.jpg$)"_s);
  EXPECT_TRUE(filter.MatchesFilter(u"img_12.JPG"_s));
  EXPECT_FALSE(filter.MatchesFilter(u"img_12.jpg.bak"_s));
  EXPECT_FALSE(filter.MatchesFilter(u"IMG_.jpg"_s));

  filter.SetFilter(u"jpe?g"_s);
  EXPECT_TRUE(filter.MatchesFilter(u"holiday.jpeg.bak"_s));
  filter.SetMode(fmExclude);
  EXPECT_FALSE(filter.MatchesFilter(u"holiday.JPG"_s));
  EXPECT_TRUE(filter.MatchesFilter(u"notes.txt"_s));

  TTextFilter caseSensitive(true, false);
  caseSensitive.SetRegular(true);
  caseSensitive.SetMode(fmInclude);
  caseSensitive.SetFilter(u"^IMG"_s);
  EXPECT_TRUE(caseSensitive.MatchesFilter(u"IMG_1.jpg"_s));
  EXPECT_FALSE(caseSensitive.MatchesFilter(u"img_1.jpg"_s));
}

TEST(TextFilter, InvalidRegularExpressionRaisesAndFallsBackToDot)
{
  for (const QString& bad : {u"(abc"_s, u"[a-"_s, u"a{2,1}"_s, u"*x"_s}) {
    TTextFilter filter(true, true);
    filter.SetRegular(true);
    filter.SetMode(fmInclude);
    filter.SetFilter(u"^x$"_s);
    try {
      filter.SetFilter(bad);
      ADD_FAILURE() << "no error for " << bad.toStdString();
    } catch (const EFilterError& error) {
      EXPECT_EQ(error.Message(), u"Illegal regular expression!"_s);
    }
    EXPECT_EQ(filter.Filter(), u"."_s);
    EXPECT_TRUE(filter.MatchesFilter(u"anything"_s));
    EXPECT_FALSE(filter.MatchesFilter(QString()));
  }
  TTextFilter empty(true, true);
  empty.SetRegular(true);
  empty.SetFilter(QString());
  EXPECT_EQ(empty.Filter(), u"."_s);
}

TEST(TextFilter, ResetAssignAndMatchAll)
{
  TTextFilter source(true, true);
  source.SetRegular(true);
  source.SetFilter(u"\\.mp4$"_s);
  source.SetRegular(false);
  source.SetFilter(u"*.jpg"_s);
  source.SetRegular(true);
  source.SetMode(fmExclude);
  EXPECT_EQ(source.MatchAll(), u"."_s);

  TTextFilter copy(true, true);
  copy.Assign(source);
  EXPECT_TRUE(copy.Regular());
  EXPECT_EQ(copy.Mode(), fmExclude);
  EXPECT_EQ(copy.Filter(), u"\\.mp4$"_s);
  EXPECT_FALSE(copy.MatchesFilter(u"clip.MP4"_s));
  copy.SetRegular(false);
  EXPECT_EQ(copy.Filter(), u"*.jpg"_s);
  EXPECT_FALSE(copy.MatchesFilter(u"a.jpg"_s));
  EXPECT_TRUE(copy.MatchesFilter(u"a.png"_s));

  copy.Reset();
  EXPECT_FALSE(copy.Regular());
  EXPECT_EQ(copy.Mode(), fmOff);
  EXPECT_EQ(copy.Filter(), u"*"_s);
  EXPECT_EQ(copy.MatchAll(), u"*"_s);
}

TEST(TextFilter, SeparatorCanBeChanged)
{
  TTextFilter filter(true, true);
  filter.SetSeparator(u';');
  filter.SetFilter(u"*.jpg;IMG*"_s);
  filter.SetMode(fmInclude);
  EXPECT_EQ(filter.Filter(), u"*.jpg;IMG*.*"_s);
  EXPECT_TRUE(filter.MatchesFilter(u"img_3.png"_s));
  EXPECT_TRUE(filter.MatchesFilter(u"a.jpg"_s));
  EXPECT_FALSE(filter.MatchesFilter(u"a|b.jpg.png"_s));
}

// Many stars against a long name that almost matches: a backtracking matcher
// that tried every split would never finish.
TEST(TextFilter, ManyStarsOnLongNamesStayFast)
{
  const QString name = QString(5000, u'a');
  QString mask;
  for (int i = 0; i < 40; ++i)
    mask += u"*a"_s;
  EXPECT_TRUE(TTextFilter::MatchesMask(name, mask));
  EXPECT_FALSE(TTextFilter::MatchesMask(name, mask + u"b"_s));
  bool valid = true;
  EXPECT_FALSE(TTextFilter::MatchesMask(u"abc"_s, u"a[bc"_s, &valid));
  EXPECT_FALSE(valid);
}

} // namespace
