#pragma once

// Running copy jobs the way the device program does, and reading their
// output back with peers.

#include "copyengine/ExtFileTools.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ardanto::test {

struct TJobOutcome {
  bool Done = false;
  int Type = 0;
  int Code = 0;
  QString Message;
};

// Creates a suspended TWinCopyThread, starts it and polls Done() every
// millisecond while the event loop runs, then reads the result.
TJobOutcome RunCopyJob(const TFileData& source, const QString& dest, TCopyOptions options);

// Python's gzip or zipfile view of a file (readback.py); expected names a file
// with the data it should hold. Empty on failure, with the reason in error.
QJsonObject PythonReadBack(const QString& kind, const QString& file, const QString& expected, QString& error);

// Every name in a folder, hidden ones included.
QStringList FolderEntries(const QString& path);

// Delivers data chunk bytes at a time, but the read that would pass gateAt
// blocks until Release(), as a device that stops answering does.
class TGateStream : public IReadStream {
public:
  TGateStream(QByteArray data, std::uint64_t gateAt, std::uint32_t chunk);
  HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead) override;
  // Whether a reader reached the gate within the time.
  bool WaitUntilBlocked(std::chrono::seconds timeout);
  void Release();

private:
  QByteArray FData;
  std::uint64_t FGateAt;
  std::uint32_t FChunk;
  std::uint64_t FPosition = 0;
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FBlocked = false;
  bool FReleased = false;
};

} // namespace ardanto::test
