#include "common/LogText.h"

namespace ardanto {

namespace {

bool NeedsPicture(char16_t c)
{
  return c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029;
}

} // namespace

QString LogSafeText(const QString& text)
{
  qsizetype i = 0;
  while (i < text.size() && !NeedsPicture(text[i].unicode()))
    ++i;
  if (i == text.size())
    return text;
  QString result = text;
  for (; i < result.size(); ++i) {
    const char16_t c = result[i].unicode();
    if (c < 0x20)
      result[i] = QChar(char16_t(0x2400 + c));
    else if (c == 0x7F)
      result[i] = QChar(char16_t(0x2421));
    else if (NeedsPicture(c))
      result[i] = QChar(char16_t(0x2424));
  }
  return result;
}

} // namespace ardanto
