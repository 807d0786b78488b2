#pragma once

// Option words on the command line: "/word", "-word" or "/word:value", matched
// by prefix ("/f", "/fo" ... "/force" all select "force").

#include <QString>

namespace ardanto {

struct TOptionArgument {
  QString Word;  // the text between "/" or "-" and the first ":", lower-cased
  QString Value; // the text after the first ":"
  bool HasValue = false;
};

// Whether arg is an option rather than a file name. A leading "-" always marks
// an option; a leading "/" does so only when the word holds no further "/",
// so that absolute paths such as "/home/ann/task.pkj" stay file names.
bool IsOptionArgument(const QString& arg);

// Splits an option argument into word and value. Returns false for an
// argument that is no option.
bool SplitOptionArgument(const QString& arg, TOptionArgument& option);

// Prefix match: the given word (already lower-cased, not empty) equals the
// first as many characters of word.
bool MatchesOptionWord(const QString& given, const QString& word);

// Replaces every "%NAME%" by the environment variable NAME (empty when it is
// not defined).
QString ExpandEnvironmentVariables(const QString& text);

} // namespace ardanto
