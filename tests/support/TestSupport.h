#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os)
{
  *os << '{';
  for (const QString& s : list)
    *os << '"' << s.toStdString() << "\" ";
  *os << '}';
}

namespace ardanto::test {

// A temporary folder that disappears with the test.
class TempDir {
public:
  TempDir();
  const QString& Path() const { return FPath; }
  // Full name of a file below the folder ("a/b.txt" creates folder a).
  QString File(const QString& relative) const;
  QString Write(const QString& relative, const QByteArray& bytes) const;

private:
  QTemporaryDir FDir;
  QString FPath;
};

QByteArray ReadFile(const QString& fileName);
void WriteFile(const QString& fileName, const QByteArray& bytes);

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const QByteArray& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  QByteArray FName;
  std::optional<QByteArray> FOld;
};

struct ProcessResult {
  int ExitCode = -1;
  bool Started = false;
  QByteArray Output; // stdout and stderr
};
// Runs a program to its end (at most timeoutMs).
ProcessResult Run(const QString& program, const QStringList& args, int timeoutMs = 120000);
// Whether a program can be found on PATH.
bool HasProgram(const QString& program);
// The checked-out source tree.
QString SourceDir();

} // namespace ardanto::test
