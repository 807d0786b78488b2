#include "common/CommaText.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace Qt::StringLiterals;

TEST(CommaText, SplitsAtCommasAndAtBlanksOutsideQuotes)
{
  struct Case {
    QString Text;
    QStringList Items;
  } cases[] = {
      {u""_s, {}},
      {u"   "_s, {}},
      {u"a"_s, {u"a"_s}},
      {u"a,b"_s, {u"a"_s, u"b"_s}},
      {u"a b"_s, {u"a"_s, u"b"_s}},
      {u"  a ,\tb  "_s, {u"a"_s, u"b"_s}},
      {u"a,,b"_s, {u"a"_s, u""_s, u"b"_s}},
      {u",a"_s, {u""_s, u"a"_s}},
      {u"a,"_s, {u"a"_s, u""_s}},
      {u","_s, {u""_s, u""_s}},
      {u"\"\""_s, {u""_s}},
      {u"\"my file.txt\",x"_s, {u"my file.txt"_s, u"x"_s}},
      {u"\"a,b\",c"_s, {u"a,b"_s, u"c"_s}},
      {u"\"say \"\"hi\"\"\""_s, {u"say \"hi\""_s}},
      {u"\"open, to the end"_s, {u"open, to the end"_s}},
      {u"\"a b\"c"_s, {u"a b"_s, u"c"_s}},
      {u"x\"y"_s, {u"x\"y"_s}},
      {u"a\u0001b"_s, {u"a"_s, u"b"_s}},
      {u"Ärger,日本"_s, {u"Ärger"_s, u"日本"_s}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CommaTextSplit(c.Text), c.Items) << c.Text.toStdString();
}

TEST(CommaText, QuotesItemsWithBlanksCommasQuotesAndControlCharacters)
{
  struct Case {
    QStringList Items;
    QString Text;
  } cases[] = {
      {{}, u""_s},
      {{u"parent.lock"_s, u"global-messages-db.sqlite"_s}, u"parent.lock,global-messages-db.sqlite"_s},
      {{u"my file.txt"_s}, u"\"my file.txt\""_s},
      {{u"a,b"_s, u"c"_s}, u"\"a,b\",c"_s},
      {{u"say \"hi\""_s}, u"\"say \"\"hi\"\"\""_s},
      {{u"tab\there"_s}, u"\"tab\there\""_s},
      {{u"a"_s, u""_s, u"b"_s}, u"a,,b"_s},
      {{u""_s}, u"\"\""_s},
      {{u"*cache*"_s, u"log*"_s}, u"*cache*,log*"_s},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CommaTextJoin(c.Items), c.Text) << c.Text.toStdString();
}

TEST(CommaText, EveryListReadsBackAsItWasWritten)
{
  const QStringList lists[] = {
      {},
      {u""_s},
      {u""_s, u""_s},
      {u" lead"_s, u"trail "_s, u"in side"_s},
      {u"\""_s, u"\"\""_s, u"\"quoted\""_s},
      {u","_s, u",,"_s, u"a,"_s},
      {u"line\r\nbreak"_s, QString(1, QChar(0)) + u"nul"_s},
      {u"/home/ann/My Mail/a,b.txt"_s, u"C:\\x y\\z"_s, u"plain"_s},
  };
  for (const QStringList& list : lists)
    EXPECT_EQ(CommaTextSplit(CommaTextJoin(list)), list) << CommaTextJoin(list).toStdString();
}
