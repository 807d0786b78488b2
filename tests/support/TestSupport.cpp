#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace ardanto::test {

using namespace Qt::StringLiterals;

TempDir::TempDir() : FDir(QDir::tempPath() + u"/ardanto-test-XXXXXX"_s)
{
  if (!FDir.isValid())
    throw std::runtime_error("cannot create a temporary folder");
  FPath = FDir.path();
}

QString TempDir::File(const QString& relative) const
{
  const QString full = FPath + u'/' + relative;
  QDir().mkpath(QFileInfo(full).path());
  return full;
}

QString TempDir::Write(const QString& relative, const QByteArray& bytes) const
{
  const QString full = File(relative);
  WriteFile(full, bytes);
  return full;
}

QByteArray ReadFile(const QString& fileName)
{
  QFile f(fileName);
  if (!f.open(QIODevice::ReadOnly))
    throw std::runtime_error("cannot read " + fileName.toStdString());
  return f.readAll();
}

void WriteFile(const QString& fileName, const QByteArray& bytes)
{
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write " + fileName.toStdString());
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value) : FName(name)
{
  if (qEnvironmentVariableIsSet(name))
    FOld = qgetenv(name);
  qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
  if (FOld)
    qputenv(FName.constData(), *FOld);
  else
    qunsetenv(FName.constData());
}

ProcessResult Run(const QString& program, const QStringList& args, int timeoutMs)
{
  ProcessResult result;
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, args);
  if (!process.waitForStarted(10000))
    return result;
  result.Started = true;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
  }
  result.Output = process.readAll();
  result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return result;
}

bool HasProgram(const QString& program)
{
  return !QStandardPaths::findExecutable(program).isEmpty();
}

QString SourceDir()
{
  return QString::fromLocal8Bit(qgetenv("ARDANTO_SOURCE_DIR"));
}

} // namespace ardanto::test
