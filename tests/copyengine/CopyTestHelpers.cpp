#include "CopyTestHelpers.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace ardanto::test {

using namespace Qt::StringLiterals;

TJobOutcome RunCopyJob(const TFileData& source, const QString& dest, TCopyOptions options)
{
  TWinCopyThread thread(source, dest, nullptr, options, true, tpNormal);
  thread.Start();
  // The large jobs take a while; a hung job must still end the test.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  while (!thread.Done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QCoreApplication::processEvents();
  }
  TJobOutcome outcome;
  outcome.Done = thread.Done();
  outcome.Type = thread.ErrorType();
  if (outcome.Done) {
    outcome.Code = thread.ErrorCode();
    outcome.Message = thread.SysErrorMsg();
  }
  return outcome;
}

QJsonObject PythonReadBack(const QString& kind, const QString& file, const QString& expected, QString& error)
{
  QStringList args{SourceDir() + u"/tests/copyengine/readback.py"_s, kind, file};
  if (!expected.isEmpty())
    args << expected;
  const ProcessResult result = Run(u"python3"_s, args, 600000);
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(result.Output.trimmed(), &parseError);
  if (result.ExitCode != 0 || !doc.isObject()) {
    error = QString::fromUtf8(result.Output);
    return {};
  }
  return doc.object();
}

QStringList FolderEntries(const QString& path)
{
  return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TGateStream::TGateStream(QByteArray data, std::uint64_t gateAt, std::uint32_t chunk)
  : FData(std::move(data)), FGateAt(gateAt), FChunk(chunk)
{
}

HRESULT TGateStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  const std::uint64_t n =
      std::min<std::uint64_t>({count, FChunk, static_cast<std::uint64_t>(FData.size()) - FPosition});
  if (n > 0 && FPosition + n > FGateAt) {
    std::unique_lock<std::mutex> lock(FMutex);
    FBlocked = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FReleased; });
  }
  std::memcpy(buffer, FData.constData() + FPosition, n);
  FPosition += n;
  *bytesRead = static_cast<std::uint32_t>(n);
  return S_OK;
}

bool TGateStream::WaitUntilBlocked(std::chrono::seconds timeout)
{
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, timeout, [this] { return FBlocked; });
}

void TGateStream::Release()
{
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FReleased = true;
  }
  FChanged.notify_all();
}

} // namespace ardanto::test
