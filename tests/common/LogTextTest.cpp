#include "common/LogText.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace Qt::StringLiterals;

TEST(LogText, NoNameCanStartALineOfItsOwn)
{
  const struct {
    QString Raw;
    QString Shown;
  } cases[] = {
      {u"IMG_0001.jpg"_s, u"IMG_0001.jpg"_s},
      {u"Phone\\DCIM\\é€"_s, u"Phone\\DCIM\\é€"_s},
      {u"a\n  99 files copied"_s, u"a\u240A  99 files copied"_s},
      {u"tab\there\r"_s, u"tab\u2409here\u240D"_s},
      {QString(u"nul\u0000del\u007F"_s), u"nul\u2400del\u2421"_s},
      {u"sep\u2028par\u2029nel\u0085"_s, u"sep\u2424par\u2424nel\u2424"_s},
  };
  for (const auto& c : cases) {
    const QString shown = LogSafeText(c.Raw);
    EXPECT_EQ(shown, c.Shown);
    for (const QChar ch : shown)
      EXPECT_FALSE(ch.unicode() < 0x20 || ch == u'\u2028' || ch == u'\u2029') << shown.toStdString();
  }
}
