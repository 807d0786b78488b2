#pragma once

// The engine's status window: the task's name as its title, the folder and
// file in hand, progress over files and bytes, rate, time left and Cancel.
// How it shows itself and how it ends follow the prompt mode:
//   wait    shown, and open at the end until OK is pressed;
//   delay   shown, and closed the given seconds after the end (OK closes it
//           sooner);
//   error   as wait when the run had errors, else as delay;
//   silent  nothing shown, unless the run had errors: then the result, open
//           until OK;
//   quiet   never shown.
// A forced run asks nothing: no password question. Waiting for OK goes
// through the question responder of the suite's dialogs when a test has one
// in force.

#include "engine/EngineOptions.h"
#include "engine/EngineView.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <optional>

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;

namespace engine::gui {

// Whether there is a display to show a window on. Without one the engine
// runs unattended: it shows nothing and asks nothing. Call before the
// application object exists: an X display that cannot be reached then
// falls back to running without one.
bool PrepareDisplay();

class TEngineWindow : public QDialog, public IEngineView {
  Q_OBJECT

public:
  explicit TEngineWindow(const TEngineOptions& options, QWidget* parent = nullptr);
  ~TEngineWindow() override;

  void RunStarted(const QString& taskName, bool restore) override;
  bool WantsTotals() const override;
  void TotalsKnown(std::int64_t files, std::int64_t bytes) override;
  void FolderChanged(const QString& folder) override;
  void FileChanged(const QString& file) override;
  void Progress(std::int64_t filesDone, std::int64_t bytesDone) override;
  void Idle() override;
  std::optional<QString> AskPassword(const QString& prompt, bool confirm) override;
  bool CancelRequested() override { return FCancel; }
  void RunFinished(const TRunResult& result) override;

  // Whether the window is shown while the run copies.
  bool ShowsProgress() const;
  // The line that tells how the run ended; empty before.
  QString ResultText() const;

protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

private:
  void ButtonClicked();
  void Refresh();
  void ProcessEvents(bool now);
  void ShowSplash();
  void CloseSplash();
  void WaitForOk(bool errors);
  void WaitSeconds(int seconds);

  TEngineOptions FOptions;
  QLabel* laAction;
  QLabel* laFolder;
  QLabel* laFile;
  QProgressBar* pbFiles;
  QProgressBar* pbBytes;
  QLabel* laRate;
  QLabel* laTimeLeft;
  QLabel* laResult;
  QPushButton* btButton;
  QWidget* FSplash = nullptr;
  QEventLoop* FLoop = nullptr; // while the window waits at the end

  bool FCancel = false;
  bool FFinished = false;
  std::int64_t FTotalFiles = -1;
  std::int64_t FTotalBytes = -1;
  std::int64_t FFiles = 0;
  std::int64_t FBytes = 0;
  QString FFolder;
  QString FFile;
  QElapsedTimer FClock;      // since the totals were known
  QElapsedTimer FLastEvents; // events last processed
  QElapsedTimer FLastPaint;  // labels and bars last updated
};

} // namespace engine::gui
