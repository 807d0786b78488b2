#include "common/CommandLine.h"

#include <QByteArray>

#include <cstdlib>

namespace ardanto {

using namespace Qt::StringLiterals;

bool IsOptionArgument(const QString& arg)
{
  if (arg.size() < 2)
    return false;
  if (arg.front() == u'-')
    return true;
  if (arg.front() != u'/')
    return false;
  const qsizetype colon = arg.indexOf(u':');
  const QStringView word = QStringView(arg).mid(1, colon < 0 ? -1 : colon - 1);
  return !word.contains(u'/');
}

bool SplitOptionArgument(const QString& arg, TOptionArgument& option)
{
  if (!IsOptionArgument(arg))
    return false;
  const QString body = arg.mid(1);
  const qsizetype colon = body.indexOf(u':');
  option.HasValue = colon >= 0;
  option.Word = (colon < 0 ? body : body.left(colon)).toLower();
  option.Value = colon < 0 ? QString() : body.mid(colon + 1);
  return true;
}

bool MatchesOptionWord(const QString& given, const QString& word)
{
  return !given.isEmpty() && given.size() <= word.size() && word.startsWith(given);
}

QString ExpandEnvironmentVariables(const QString& text)
{
  QString result;
  result.reserve(text.size());
  qsizetype pos = 0;
  while (pos < text.size()) {
    const qsizetype open = text.indexOf(u'%', pos);
    if (open < 0)
      break;
    const qsizetype close = text.indexOf(u'%', open + 1);
    if (close < 0)
      break;
    result += QStringView(text).mid(pos, open - pos);
    const QString name = text.mid(open + 1, close - open - 1);
    if (name.isEmpty()) {
      result += u'%'; // "%%" stands for a single percent sign
    } else {
      result += QString::fromLocal8Bit(qgetenv(name.toLocal8Bit().constData()));
    }
    pos = close + 1;
  }
  result += QStringView(text).mid(pos);
  return result;
}

} // namespace ardanto
