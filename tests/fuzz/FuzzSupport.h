#pragma once

// Shared by the fuzz harnesses: a broken rule aborts, so that libFuzzer keeps
// the input as a crash artifact, after printing what was expected.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace ardanto::fuzz {

using namespace Qt::StringLiterals;

// Text with control characters, surrogates and non-ASCII as \uXXXX, quoted,
// so that a report shows exactly which characters were involved.
inline QString Show(const QString& text)
{
  QString shown = u"\""_s;
  for (const QChar c : text) {
    if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'"' && c != u'\\')
      shown += c;
    else
      shown += u"\\u%1"_s.arg(c.unicode(), 4, 16, QChar(u'0'));
  }
  return shown + u'"';
}

inline QString Show(const QStringList& list)
{
  QStringList shown;
  for (const QString& item : list)
    shown.append(Show(item));
  return u'[' + shown.join(u", "_s) + u']';
}

[[noreturn]] inline void Fail(const char* rule, const QString& detail)
{
  std::fprintf(stderr, "\n*** Broken rule: %s\n%s\n", rule, detail.toUtf8().constData());
  std::abort();
}

inline void WriteBytes(const QString& fileName, const QByteArray& bytes)
{
  QFile file(fileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    Fail("the harness can write its scratch file", fileName);
}

} // namespace ardanto::fuzz

// The detail is built only when the rule is broken.
#define FUZZ_CHECK(condition, detail)                                                                                  \
  do {                                                                                                                 \
    if (!(condition))                                                                                                  \
      ::ardanto::fuzz::Fail(#condition, (detail));                                                                     \
  } while (false)
