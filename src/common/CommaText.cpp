#include "common/CommaText.h"

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

constexpr QChar kQuote = u'"';
constexpr QChar kComma = u',';

// Blanks and control characters: they end an unquoted item.
bool IsSpace(QChar c)
{
  return c.unicode() <= u' ';
}

bool NeedsQuotes(const QString& item)
{
  for (const QChar c : item)
    if (IsSpace(c) || c == kQuote || c == kComma)
      return true;
  return false;
}

} // namespace

QString CommaTextJoin(const QStringList& items)
{
  if (items.size() == 1 && items.front().isEmpty())
    return u"\"\""_s;
  QString text;
  for (qsizetype i = 0; i < items.size(); ++i) {
    if (i > 0)
      text += kComma;
    const QString& item = items[i];
    if (!NeedsQuotes(item)) {
      text += item;
      continue;
    }
    text += kQuote;
    for (const QChar c : item) {
      if (c == kQuote)
        text += kQuote;
      text += c;
    }
    text += kQuote;
  }
  return text;
}

QStringList CommaTextSplit(const QString& text)
{
  QStringList items;
  const qsizetype size = text.size();
  qsizetype pos = 0;
  auto skipSpaces = [&] {
    while (pos < size && IsSpace(text[pos]))
      ++pos;
  };
  skipSpaces();
  while (pos < size) {
    QString item;
    if (text[pos] == kQuote) {
      ++pos;
      while (pos < size) {
        if (text[pos] == kQuote) {
          if (pos + 1 < size && text[pos + 1] == kQuote) {
            item += kQuote;
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos++];
      }
    } else {
      const qsizetype start = pos;
      while (pos < size && !IsSpace(text[pos]) && text[pos] != kComma)
        ++pos;
      item = text.mid(start, pos - start);
    }
    items.append(item);
    skipSpaces();
    if (pos < size && text[pos] == kComma) {
      ++pos;
      if (pos == size)
        items.append(QString());
      skipSpaces();
    }
  }
  return items;
}

} // namespace ardanto
