#pragma once

// What a run tells the one who watches it, and what it may ask: the status
// window implements this; unattended runs use THeadlessView, which shows
// nothing, asks nothing and never cancels.

#include <QString>

#include <cstdint>
#include <optional>

namespace engine {

struct TRunResult;

class IEngineView {
public:
  virtual ~IEngineView() = default;

  // The run begins; restore tells a restore from a backup.
  virtual void RunStarted(const QString& taskName, bool restore) = 0;
  // Whether the view shows totals; only then does the run count the files
  // and bytes before it copies.
  virtual bool WantsTotals() const = 0;
  virtual void TotalsKnown(std::int64_t files, std::int64_t bytes) = 0;
  virtual void FolderChanged(const QString& folder) = 0;
  virtual void FileChanged(const QString& file) = 0;
  // Files handled so far (copied, up to date or failed) and their bytes,
  // including what running copies have read.
  virtual void Progress(std::int64_t filesDone, std::int64_t bytesDone) = 0;
  // Called at least every 50 ms while the run waits for a copy: a window
  // handles its events here.
  virtual void Idle() = 0;
  // The encryption password, asked once, or twice with confirm. Nothing
  // when the user cancels or there is nobody to ask.
  virtual std::optional<QString> AskPassword(const QString& prompt, bool confirm) = 0;
  // The user asked to stop; the run stops after the file in hand.
  virtual bool CancelRequested() = 0;
  // The run has ended and its log is closed.
  virtual void RunFinished(const TRunResult& result) = 0;
};

class THeadlessView : public IEngineView {
public:
  void RunStarted(const QString&, bool) override {}
  bool WantsTotals() const override { return false; }
  void TotalsKnown(std::int64_t, std::int64_t) override {}
  void FolderChanged(const QString&) override {}
  void FileChanged(const QString&) override {}
  void Progress(std::int64_t, std::int64_t) override {}
  void Idle() override {}
  std::optional<QString> AskPassword(const QString&, bool) override { return std::nullopt; }
  bool CancelRequested() override { return false; }
  void RunFinished(const TRunResult&) override {}
};

} // namespace engine
