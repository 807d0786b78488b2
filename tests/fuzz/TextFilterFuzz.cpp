// Arbitrary mask lists and regular expressions against arbitrary names. Bad
// filter text may raise EFilterError and nothing else; matching never raises.
// Single masks are also matched by a plain dynamic-programming matcher of the
// mask rules, which must agree with the filter's own backtracking one.

#include "FuzzSupport.h"

#include "common/TextFilter.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

using namespace ardanto;
using namespace ardanto::fuzz;
using namespace Qt::StringLiterals;

namespace {

// One position of a mask: a literal, "?", "*", or a set "[...]".
struct TRefToken {
  enum { Literal, Any, Star, Set } Kind = Literal;
  char32_t Char = 0;
  bool Negated = false;
  std::vector<std::pair<char32_t, char32_t>> Ranges;

  bool Takes(char32_t c) const
  {
    if (Kind == Any)
      return true;
    if (Kind == Literal)
      return c == Char;
    bool inSet = false;
    for (const auto& [low, high] : Ranges)
      inSet = inSet || (c >= low && c <= high);
    return inSet != Negated;
  }
};

// nullopt for a "[" without "]". Inside brackets "x-y" is a range (either
// order) unless the "-" stands right before the "]".
std::optional<std::vector<TRefToken>> ParseMask(const QList<uint>& mask)
{
  std::vector<TRefToken> tokens;
  for (qsizetype i = 0; i < mask.size(); ++i) {
    TRefToken token;
    if (mask[i] == U'*') {
      token.Kind = TRefToken::Star;
    } else if (mask[i] == U'?') {
      token.Kind = TRefToken::Any;
    } else if (mask[i] == U'[') {
      token.Kind = TRefToken::Set;
      qsizetype j = i + 1;
      if (j < mask.size() && mask[j] == U'!') {
        token.Negated = true;
        ++j;
      }
      while (j < mask.size() && mask[j] != U']') {
        if (j + 2 < mask.size() && mask[j + 1] == U'-' && mask[j + 2] != U']') {
          token.Ranges.emplace_back(std::min(mask[j], mask[j + 2]), std::max(mask[j], mask[j + 2]));
          j += 3;
        } else {
          token.Ranges.emplace_back(mask[j], mask[j]);
          ++j;
        }
      }
      if (j >= mask.size())
        return std::nullopt;
      i = j;
    } else {
      token.Char = mask[i];
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

// matched[t][n]: the first t tokens match the first n characters.
bool ReferenceMatch(const std::vector<TRefToken>& tokens, const QList<uint>& name)
{
  const std::size_t m = tokens.size();
  const auto n = static_cast<std::size_t>(name.size());
  std::vector<std::vector<char>> matched(m + 1, std::vector<char>(n + 1, 0));
  matched[0][0] = 1;
  for (std::size_t t = 1; t <= m; ++t) {
    const TRefToken& token = tokens[t - 1];
    for (std::size_t c = 0; c <= n; ++c) {
      if (token.Kind == TRefToken::Star)
        matched[t][c] = matched[t - 1][c] || (c > 0 && matched[t][c - 1]);
      else
        matched[t][c] = c > 0 && matched[t - 1][c - 1] && token.Takes(name[c - 1]);
    }
  }
  return matched[m][n] != 0;
}

QString TakeText(FuzzedDataProvider& provider, std::size_t maxBytes)
{
  const std::string bytes = provider.ConsumeRandomLengthString(maxBytes);
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// SetFilter, with EFilterError accepted when it leaves the match-all text.
bool SetFilterChecked(TTextFilter& filter, const QString& text)
{
  try {
    filter.SetFilter(text);
    return true;
  } catch (const EFilterError&) {
    FUZZ_CHECK(filter.Filter() == filter.MatchAll(),
               u"after EFilterError for "_s + Show(text) + u" the filter is "_s + Show(filter.Filter()));
    return false;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  FuzzedDataProvider provider(data, size);
  const bool isFileFilter = provider.ConsumeBool();
  const bool ignoreCase = provider.ConsumeBool();
  const bool regular = provider.ConsumeBool();
  const bool otherSeparator = provider.ConsumeBool();
  const QString filterText = TakeText(provider, 256);
  QStringList names;
  while (provider.remaining_bytes() > 0 && names.size() < 8)
    names.append(TakeText(provider, 128));

  TTextFilter filter(isFileFilter, ignoreCase);
  filter.SetRegular(regular);
  if (otherSeparator)
    filter.SetSeparator(u';');
  SetFilterChecked(filter, filterText);

  // What Filter() shows is valid filter text that sets the same filter again,
  // as when a task file stores it and loads it. Not so the plain "*" of a file
  // filter (empty or rejected text), which comes back as "*.*": the device
  // program switches such a filter off instead of storing it.
  TTextFilter again(isFileFilter, ignoreCase);
  again.SetRegular(regular);
  again.SetSeparator(filter.Separator());
  const bool roundTrips = !(isFileFilter && !regular && filter.Filter() == filter.MatchAll());
  FUZZ_CHECK(SetFilterChecked(again, filter.Filter()), u"stored filter rejected: "_s + Show(filter.Filter()));
  FUZZ_CHECK(!roundTrips || again.Filter() == filter.Filter(),
             u"set again from "_s + Show(filter.Filter()) + u" gives "_s + Show(again.Filter()));

  TTextFilter copy(isFileFilter, ignoreCase);
  copy.Assign(filter);

  // A single plain mask: no list syntax, so the filter is just the mask.
  const bool singleMask = !regular && !isFileFilter && !filterText.isEmpty() &&
                          !filterText.contains(filter.Separator()) && !filterText.startsWith(u'+') &&
                          !filterText.startsWith(u'!');
  const std::optional<std::vector<TRefToken>> reference = ParseMask(filterText.toCaseFolded().toUcs4());

  for (const QString& name : names) {
    filter.SetMode(fmOff);
    FUZZ_CHECK(filter.MatchesFilter(name), u"mode off rejects "_s + Show(name));
    filter.SetMode(fmInclude);
    const bool included = filter.MatchesFilter(name);
    filter.SetMode(fmExclude);
    FUZZ_CHECK(filter.MatchesFilter(name) == !included, u"exclude is not the opposite of include"_s);

    again.SetMode(fmInclude);
    copy.SetMode(fmInclude);
    FUZZ_CHECK(!roundTrips || again.MatchesFilter(name) == included,
               u"filter set again from its text differs on "_s + Show(name));
    FUZZ_CHECK(copy.MatchesFilter(name) == included, u"assigned copy differs on "_s + Show(name));

    bool valid = false;
    const bool masked = TTextFilter::MatchesMask(name, filterText, &valid);
    FUZZ_CHECK(valid == reference.has_value(), u"validity of mask "_s + Show(filterText));
    if (reference) {
      const bool expected = ReferenceMatch(*reference, name.toCaseFolded().toUcs4());
      FUZZ_CHECK(masked == expected, u"mask "_s + Show(filterText) + u" on "_s + Show(name) +
                                         (expected ? u": should match"_s : u": should not match"_s));
      if (singleMask)
        FUZZ_CHECK(included == expected, u"filter "_s + Show(filterText) + u" on "_s + Show(name));
    }
  }
  return 0;
}
