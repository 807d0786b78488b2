#pragma once

// Filename filter: a list of wildcard masks or one regular expression that
// includes or excludes the names it matches, or is switched off.
//
// Mask lists: items separated by "|"; a "+" in front of the whole list means
// every item must match (otherwise one is enough); an item beginning with "!"
// matches when its mask does not. A mask matches the whole name, ignoring
// case: "*" any run of characters, "?" one character, "[a-z]" / "[!abc]" one
// character of (not of) a set; "." is an ordinary character.
// Regular expressions use PCRE2 (through QRegularExpression) and are searched
// anywhere in the name.

#include "common/Errors.h"

#include <QRegularExpression>
#include <QString>

#include <memory>
#include <vector>

namespace ardanto {

enum TFilterMode : int { fmOff = 0, fmInclude = 1, fmExclude = 2 };

// An invalid mask or regular expression. The filter has already fallen back to
// its match-all text when this is raised.
class EFilterError : public EArdantoError {
public:
  using EArdantoError::EArdantoError;
};

class TTextFilter {
public:
  // isFileFilter: masks are file-name masks (an item without extension gets
  // ".*"); ignoreCase: regular expressions ignore case (masks always do).
  TTextFilter(bool isFileFilter, bool ignoreCase);

  // Not regular, fmOff, mask "*".
  void Reset();
  // Copies Regular, Mode, the mask list, the separator and the expression.
  void Assign(const TTextFilter& filter);

  // The expression when Regular, else the mask list.
  QString Filter() const;
  // Sets the expression (Regular) or the mask list. Raises EFilterError
  // "Illegal regular expression!" / "Illegal mask!" after falling back to
  // MatchAll().
  void SetFilter(const QString& value);

  TFilterMode Mode() const { return FMode; }
  void SetMode(TFilterMode mode) { FMode = mode; }
  bool Regular() const { return FRegExp; }
  void SetRegular(bool regular) { FRegExp = regular; }
  QChar Separator() const { return FSep; }
  void SetSeparator(QChar separator);
  bool IsFileFilter() const { return FIsFileFilter; }
  // The filter text that matches everything: "." or "*".
  QString MatchAll() const;

  // Whether text passes the filter. Never raises.
  bool MatchesFilter(const QString& text) const;

  // One wildcard mask against a whole name, ignoring case. Returns false for
  // an invalid mask ("[" without "]"); valid reports which it was.
  static bool MatchesMask(const QString& name, const QString& mask, bool* valid = nullptr);

private:
  class TCompiledMask;
  struct TMaskItem {
    bool Empty = true;                         // skipped when matching
    bool Negated = false;                      // began with "!"
    bool EndsWithDot = false;                  // "*." style item of a file filter
    std::shared_ptr<const TCompiledMask> Mask; // null when invalid
  };

  void SetMask(const QString& mask);
  void CompileItems();

  bool FRegExp = false;
  bool FIsFileFilter;
  bool FIgnoreCase;
  TFilterMode FMode = fmOff;
  QString FMask;
  QChar FSep = u'|';
  QRegularExpression FExpression;
  // FMask split into items once, so that matching does not parse it per name.
  std::vector<TMaskItem> FItems;
  bool FAndList = false;
};

} // namespace ardanto
