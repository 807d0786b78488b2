#pragma once

// The log of a run: one section appended to the task's log file, UTF-8 with
// a byte-order mark (the suite's log viewer reads that), newest run at the
// end. The viewer finds sections by "Ardanto -" and errors by "  *** ".
// Lines reach the file as they are logged, so a run that is killed still
// leaves what it did.
//
//   Ardanto - <task name> - <start>
//     Task file: <path>
//     ...
//     *** <error>
//   Ardanto - <task name> - finished <end>: <exit text or OK>

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace engine {

class TEngineLog {
public:
  TEngineLog() = default;
  ~TEngineLog();
  TEngineLog(const TEngineLog&) = delete;
  TEngineLog& operator=(const TEngineLog&) = delete;

  // Opens (creates) the file for appending; its folder is created when
  // missing. False with the reason when it cannot be written: the lines then
  // go to the standard error output only.
  bool Open(const QString& fileName, QString& error);
  const QString& FileName() const { return FFileName; }
  bool IsOpen() const { return FHandle >= 0; }
  // Long log: also one line per file copied, removed or failed.
  void SetLong(bool value) { FLong = value; }
  bool Long() const { return FLong; }

  void BeginSection(const QString& taskName, const QDateTime& start);
  // A line indented by indent blanks. Control characters in it (a line break
  // in a file name, say) are shown as symbols and start no line of their own.
  void Line(int indent, const QString& text);
  // A line of the long log only.
  void Detail(int indent, const QString& text);
  // "  *** " + text.
  void Error(const QString& text);
  void EndSection(const QString& taskName, const QDateTime& end, const QString& result);

  int ErrorCount() const { return FErrors; }
  // Every line of the section so far.
  const QStringList& Lines() const { return FLines; }
  // The same without the lines of the long log: what a short log holds.
  const QStringList& ShortLines() const { return FShortLines; }

  // Date and time as the log shows them.
  static QString TimeText(const QDateTime& time);

private:
  void Write(const QString& line, bool detail = false);

  QString FFileName;
  int FHandle = -1;
  bool FLong = false;
  int FErrors = 0;
  QStringList FLines;
  QStringList FShortLines;
};

} // namespace engine
