#include "support/RecordingEngine.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

namespace ardanto::test {

using namespace Qt::StringLiterals;

TRecordingEngine::TRecordingEngine(const QString& folder) : FFolder(folder)
{
  const QString program = Program();
  QFile::remove(program);
  if (!QFile::copy(SourceDir() + u"/tests/support/recording-engine.py"_s, program) ||
      !QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ExeGroup))
    throw std::runtime_error("cannot install the recording engine in " + folder.toStdString());
}

QString TRecordingEngine::Program() const
{
  return FFolder + u"/ardanto"_s;
}

void TRecordingEngine::SetExitCode(int code) const
{
  WriteFile(FFolder + u"/exit-code"_s, QByteArray::number(code));
}

void TRecordingEngine::Hold() const
{
  WriteFile(FFolder + u"/hold"_s, QByteArray());
}

void TRecordingEngine::Release() const
{
  QFile::remove(FFolder + u"/hold"_s);
}

std::vector<TEngineCall> TRecordingEngine::Calls() const
{
  std::vector<TEngineCall> calls;
  if (!QFile::exists(FFolder + u"/calls.jsonl"_s))
    return calls;
  const QList<QByteArray> lines = ReadFile(FFolder + u"/calls.jsonl"_s).split('\n');
  for (const QByteArray& line : lines) {
    if (line.trimmed().isEmpty())
      continue;
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    TEngineCall call;
    for (const QJsonValue& arg : object.value(u"args"_s).toArray())
      call.Arguments.append(arg.toString());
    call.WorkingFolder = object.value(u"cwd"_s).toString();
    call.TaskRead = object.value(u"task"_s).isString();
    call.TaskText = object.value(u"task"_s).toString();
    calls.push_back(call);
  }
  return calls;
}

} // namespace ardanto::test
