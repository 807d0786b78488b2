#include "common/TextEncoding.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// Python's cp437 codec is the standard mapping; every byte must agree with it.
TEST(CodePage437Test, AllBytesMatchTheStandardMapping)
{
  const ProcessResult python = ardanto::test::Run(
      u"python3"_s,
      {u"-c"_s, u"import json; print(json.dumps([ord(bytes([b]).decode('cp437')) for b in range(256)]))"_s});
  ASSERT_EQ(python.ExitCode, 0) << python.Output.constData();
  const QJsonArray table = QJsonDocument::fromJson(python.Output).array();
  ASSERT_EQ(table.size(), 256);

  QByteArray all(256, Qt::Uninitialized);
  QString expected;
  for (int b = 0; b < 256; ++b) {
    all[b] = static_cast<char>(b);
    expected += QChar(char16_t(table[b].toInt()));
  }
  EXPECT_EQ(DecodeCodePage437(all), expected);
  QByteArray encoded;
  ASSERT_TRUE(EncodeCodePage437(expected, encoded));
  EXPECT_EQ(encoded, all);
}

TEST(CodePage437Test, CharactersOutsideTheCodePageAreRefused)
{
  QByteArray bytes;
  EXPECT_TRUE(EncodeCodePage437(u"Résumé"_s, bytes));
  EXPECT_EQ(bytes, QByteArray("R\x82sum\x82"));
  for (const QString& text : {u"5 €"_s, u"Отчёт"_s, u"Ā"_s, u"¤"_s}) {
    EXPECT_FALSE(EncodeCodePage437(text, bytes)) << text.toStdString();
  }
}

} // namespace
