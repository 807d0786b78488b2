#include "common/TextFilter.h"

#include "common/Translate.h"

#include <QList>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace ardanto {

namespace {

// A name has an extension when a "." follows its last "/".
bool HasExtension(const QString& name)
{
  return name.lastIndexOf(u'.') > name.lastIndexOf(u'/');
}

// Splits a list the way items are taken from it one by one: a separator at
// the very end adds no item, an empty list has none.
QStringList SplitItems(const QString& list, QChar separator)
{
  QStringList items;
  if (list.isEmpty())
    return items;
  items = list.split(separator);
  if (items.size() > 1 && items.last().isEmpty())
    items.removeLast();
  return items;
}

} // namespace

// A mask compiled into single-character tokens, matched on case-folded code
// points so that "?" counts a character outside the BMP as one.
class TTextFilter::TCompiledMask {
public:
  // Returns null for an invalid mask.
  static std::shared_ptr<const TCompiledMask> Compile(const QString& mask)
  {
    const QList<uint> chars = mask.toCaseFolded().toUcs4();
    auto result = std::make_shared<TCompiledMask>();
    for (qsizetype i = 0; i < chars.size(); ++i) {
      TToken token;
      switch (chars[i]) {
      case U'*':
        // Runs of stars mean the same as one.
        if (!result->FTokens.empty() && result->FTokens.back().Kind == TToken::Star)
          continue;
        token.Kind = TToken::Star;
        break;
      case U'?':
        token.Kind = TToken::Any;
        break;
      case U'[': {
        token.Kind = TToken::Set;
        qsizetype j = i + 1;
        if (j < chars.size() && chars[j] == U'!') {
          token.Negated = true;
          ++j;
        }
        for (; j < chars.size() && chars[j] != U']'; ++j) {
          char32_t low = chars[j];
          char32_t high = low;
          if (j + 2 < chars.size() && chars[j + 1] == U'-' && chars[j + 2] != U']') {
            high = chars[j + 2];
            j += 2;
            if (high < low)
              std::swap(low, high);
          }
          token.Ranges.emplace_back(low, high);
        }
        if (j >= chars.size())
          return nullptr;
        i = j;
        break;
      }
      default:
        token.Kind = TToken::Literal;
        token.Char = chars[i];
        break;
      }
      result->FTokens.push_back(std::move(token));
    }
    return result;
  }

  bool Matches(const QString& name) const
  {
    const QList<uint> text = name.toCaseFolded().toUcs4();
    // Every token but "*" takes exactly one character, so backtracking to the
    // last star is enough: linear in practice, never exponential.
    std::size_t t = 0;
    qsizetype n = 0;
    std::size_t starToken = FTokens.size();
    qsizetype starText = 0;
    while (n < text.size()) {
      if (t < FTokens.size() && FTokens[t].Kind == TToken::Star) {
        starToken = t++;
        starText = n;
      } else if (t < FTokens.size() && FTokens[t].Matches(text[n])) {
        ++t;
        ++n;
      } else if (starToken < FTokens.size()) {
        t = starToken + 1;
        n = ++starText;
      } else {
        return false;
      }
    }
    while (t < FTokens.size() && FTokens[t].Kind == TToken::Star)
      ++t;
    return t == FTokens.size();
  }

private:
  struct TToken {
    enum TKind { Literal, Any, Star, Set } Kind = Literal;
    char32_t Char = 0;
    bool Negated = false;
    std::vector<std::pair<char32_t, char32_t>> Ranges;

    bool Matches(char32_t c) const
    {
      switch (Kind) {
      case Literal:
        return c == Char;
      case Any:
        return true;
      case Set: {
        const bool inSet = std::any_of(Ranges.begin(), Ranges.end(),
                                       [c](const auto& range) { return c >= range.first && c <= range.second; });
        return inSet != Negated;
      }
      case Star:
        break;
      }
      return false;
    }
  };

  std::vector<TToken> FTokens;
};

TTextFilter::TTextFilter(bool isFileFilter, bool ignoreCase) : FIsFileFilter(isFileFilter), FIgnoreCase(ignoreCase)
{
  FExpression.setPatternOptions(ignoreCase ? QRegularExpression::CaseInsensitiveOption
                                           : QRegularExpression::NoPatternOption);
  FExpression.setPattern(u"."_s);
  Reset();
}

void TTextFilter::Reset()
{
  FRegExp = false;
  FMode = fmOff;
  SetMask(u"*"_s);
}

void TTextFilter::Assign(const TTextFilter& filter)
{
  FRegExp = filter.FRegExp;
  FMode = filter.FMode;
  FSep = filter.FSep;
  SetMask(filter.FMask);
  // A copy that claims to be regular but keeps its own old expression would
  // pass other names than the original, so the expression comes along too.
  FExpression.setPattern(filter.FExpression.pattern());
}

QString TTextFilter::Filter() const
{
  return FRegExp ? FExpression.pattern() : FMask;
}

QString TTextFilter::MatchAll() const
{
  return FRegExp ? u"."_s : u"*"_s;
}

void TTextFilter::SetSeparator(QChar separator)
{
  FSep = separator;
  CompileItems();
}

void TTextFilter::SetFilter(const QString& value)
{
  if (FRegExp) {
    if (value.isEmpty()) {
      FExpression.setPattern(u"."_s);
      return;
    }
    FExpression.setPattern(value);
    if (!FExpression.isValid()) {
      FExpression.setPattern(u"."_s);
      throw EFilterError(_("Illegal regular expression!"));
    }
    return;
  }

  if (value.isEmpty()) {
    SetMask(u"*"_s);
    return;
  }

  QString mask = value;
  if (FIsFileFilter) {
    QStringList items = SplitItems(value, FSep);
    for (QString& item : items) {
      if (!HasExtension(item))
        item += u".*"_s;
    }
    mask = items.join(FSep);
  }
  SetMask(mask);

  const bool allValid =
      std::all_of(FItems.begin(), FItems.end(), [](const TMaskItem& item) { return item.Empty || item.Mask; });
  if (!allValid) {
    SetMask(u"*"_s);
    throw EFilterError(_("Illegal mask!"));
  }
}

void TTextFilter::SetMask(const QString& mask)
{
  FMask = mask;
  CompileItems();
}

void TTextFilter::CompileItems()
{
  FItems.clear();
  FAndList = FMask.startsWith(u'+');
  const QStringList items = SplitItems(FAndList ? FMask.mid(1) : FMask, FSep);
  FItems.reserve(items.size());
  for (QString text : items) {
    TMaskItem item;
    item.Empty = text.isEmpty();
    if (!item.Empty) {
      item.Negated = text.startsWith(u'!');
      if (item.Negated)
        text.remove(0, 1);
      item.EndsWithDot = text.endsWith(u'.');
      item.Mask = TCompiledMask::Compile(text);
    }
    FItems.push_back(std::move(item));
  }
}

bool TTextFilter::MatchesFilter(const QString& text) const
{
  if (FMode == fmOff)
    return true;

  bool result = true;
  if (FRegExp) {
    result = FExpression.match(text).hasMatch();
  } else {
    const bool withDot = FIsFileFilter && !HasExtension(text);
    for (const TMaskItem& item : FItems) {
      // An empty item is skipped. It must not end an OR list early: "|*.jpg"
      // would otherwise pass every name.
      if (item.Empty)
        continue;
      const QString subject = withDot && item.EndsWithDot ? text + u'.' : text;
      bool match = item.Mask && item.Mask->Matches(subject);
      if (item.Negated)
        match = !match;
      result = FAndList ? result && match : match;
      if (FAndList ? !result : result)
        break;
    }
  }
  return FMode == fmExclude ? !result : result;
}

bool TTextFilter::MatchesMask(const QString& name, const QString& mask, bool* valid)
{
  const auto compiled = TCompiledMask::Compile(mask);
  if (valid)
    *valid = compiled != nullptr;
  return compiled && compiled->Matches(name);
}

} // namespace ardanto
