#include "engine/gui/EngineWindow.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "engine/EngineResult.h"
#include "ui/Dialogs.h"
#include "ui/PasswordDialog.h"
#include "ui/Prompts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace engine::gui {

using namespace Qt::StringLiterals;
using ardanto::FormatText;

namespace {

// The width long paths are shortened to, in the middle.
constexpr int kTextWidth = 440;
// How often the window gets its events and repaints while a run works.
constexpr qint64 kEventsMs = 20;
constexpr qint64 kPaintMs = 100;
// How long the splash stays when nothing closes it sooner.
constexpr int kSplashMs = 1500;

QString TimeText(qint64 seconds)
{
  if (seconds >= 3600)
    return QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

int Permille(std::int64_t part, std::int64_t whole)
{
  if (whole <= 0)
    return 1000;
  return static_cast<int>(std::clamp<std::int64_t>(part * 1000 / whole, 0, 1000));
}

} // namespace

bool PrepareDisplay()
{
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform == "offscreen" || platform == "minimal")
    return false;
  if (platform.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    return false;
  // A display that cannot be reached (a stale DISPLAY in a timer's
  // environment, say) must not end the run: Qt then goes on without one.
  if (platform.isEmpty())
    qputenv("QT_QPA_PLATFORM",
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "xcb;offscreen" : "wayland;xcb;offscreen");
  else if (!platform.contains(';'))
    qputenv("QT_QPA_PLATFORM", platform + ";offscreen");
  return true;
}

TEngineWindow::TEngineWindow(const TEngineOptions& options, QWidget* parent)
  : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
    FOptions(options), laAction(new QLabel(this)), laFolder(new QLabel(this)), laFile(new QLabel(this)),
    pbFiles(new QProgressBar(this)), pbBytes(new QProgressBar(this)), laRate(new QLabel(this)),
    laTimeLeft(new QLabel(this)), laResult(new QLabel(this)), btButton(new QPushButton(_("Cancel"), this))
{
  setObjectName(u"EngineWindow"_s);
  setModal(false);
  if (FOptions.StatusOnTop)
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
  laAction->setObjectName(u"laAction"_s);
  laFolder->setObjectName(u"laFolder"_s);
  laFile->setObjectName(u"laFile"_s);
  pbFiles->setObjectName(u"pbFiles"_s);
  pbBytes->setObjectName(u"pbBytes"_s);
  laRate->setObjectName(u"laRate"_s);
  laTimeLeft->setObjectName(u"laTimeLeft"_s);
  laResult->setObjectName(u"laResult"_s);
  btButton->setObjectName(u"btButton"_s);
  for (QProgressBar* bar : {pbFiles, pbBytes}) {
    bar->setRange(0, 1000);
    bar->setValue(0);
    bar->setFixedWidth(kTextWidth);
  }
  pbFiles->setFormat(QString());
  laResult->setWordWrap(true);
  laResult->hide();
  connect(btButton, &QPushButton::clicked, this, &TEngineWindow::ButtonClicked);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(_("Folder:"), this), 0, 0);
  grid->addWidget(laFolder, 0, 1);
  grid->addWidget(new QLabel(_("File:"), this), 1, 0);
  grid->addWidget(laFile, 1, 1);
  grid->addWidget(new QLabel(_("Files:"), this), 2, 0);
  grid->addWidget(pbFiles, 2, 1);
  grid->addWidget(new QLabel(_("Data:"), this), 3, 0);
  grid->addWidget(pbBytes, 3, 1);
  grid->addWidget(new QLabel(_("Rate:"), this), 4, 0);
  grid->addWidget(laRate, 4, 1);
  grid->addWidget(new QLabel(_("Time left:"), this), 5, 0);
  grid->addWidget(laTimeLeft, 5, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(laAction);
  layout->addLayout(grid);
  layout->addWidget(laResult);
  layout->addWidget(btButton, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  FLastEvents.start();
  FLastPaint.start();
}

TEngineWindow::~TEngineWindow()
{
  CloseSplash();
}

bool TEngineWindow::ShowsProgress() const
{
  return FOptions.Prompt == pmWait || FOptions.Prompt == pmDelay || FOptions.Prompt == pmError;
}

QString TEngineWindow::ResultText() const
{
  return laResult->text();
}

void TEngineWindow::RunStarted(const QString& taskName, bool restore)
{
  setWindowTitle(taskName);
  laAction->setText(restore ? _("Restoring mail data") : _("Backing up mail data"));
  if (!ShowsProgress())
    return;
  if (!FOptions.Hide)
    ShowSplash();
  show();
  raise();
  ProcessEvents(true);
}

bool TEngineWindow::WantsTotals() const
{
  return ShowsProgress();
}

void TEngineWindow::TotalsKnown(std::int64_t files, std::int64_t bytes)
{
  FTotalFiles = files;
  FTotalBytes = bytes;
  FClock.start();
  Refresh();
  ProcessEvents(true);
}

void TEngineWindow::FolderChanged(const QString& folder)
{
  FFolder = folder;
  ProcessEvents(false);
}

void TEngineWindow::FileChanged(const QString& file)
{
  FFile = file;
  ProcessEvents(false);
}

void TEngineWindow::Progress(std::int64_t filesDone, std::int64_t bytesDone)
{
  FFiles = filesDone;
  FBytes = bytesDone;
  ProcessEvents(false);
}

void TEngineWindow::Idle()
{
  ProcessEvents(false);
}

std::optional<QString> TEngineWindow::AskPassword(const QString& prompt, bool confirm)
{
  if (FOptions.Force)
    return std::nullopt;
  QWidget* parent = isVisible() ? this : nullptr;
  QString password;
  const bool given = confirm ? ardanto::ui::NewPassword(parent, prompt, password, 1)
                             : ardanto::ui::PromptPassword(parent, windowTitle(), prompt, password);
  if (!given || password.isEmpty())
    return std::nullopt;
  return password;
}

void TEngineWindow::RunFinished(const TRunResult& result)
{
  FFinished = true;
  FFiles = std::max(FFiles, FTotalFiles);
  FBytes = std::max(FBytes, FTotalBytes);
  CloseSplash();
  const bool errors = result.ExitCode != ecOk;
  QString text = FormatText(_("Finished: %s"), {ExitText(result.ExitCode)});
  // The counts: the line before the section's closing line.
  if (result.Summary.size() >= 2)
    text += u'\n' + result.Summary[result.Summary.size() - 2].trimmed();
  if (!result.MailError.isEmpty())
    text += u'\n' + result.MailError;
  laResult->setText(text);
  laResult->show();
  btButton->setText(_("OK"));
  btButton->setEnabled(true);
  Refresh();

  switch (FOptions.Prompt) {
  case pmQuiet:
    break;
  case pmSilent:
    if (errors)
      WaitForOk(errors);
    break;
  case pmWait:
    WaitForOk(errors);
    break;
  case pmError:
    if (errors)
      WaitForOk(errors);
    else
      WaitSeconds(FOptions.WaitSeconds);
    break;
  case pmDelay:
    WaitSeconds(FOptions.WaitSeconds);
    break;
  }
  hide();
}

void TEngineWindow::closeEvent(QCloseEvent* event)
{
  if (!FFinished) {
    // Closing a running backup stops it, as Cancel does.
    FCancel = true;
    btButton->setEnabled(false);
    event->ignore();
    return;
  }
  if (FLoop != nullptr)
    FLoop->quit();
  QDialog::closeEvent(event);
}

void TEngineWindow::reject()
{
  close();
}

void TEngineWindow::ButtonClicked()
{
  if (!FFinished) {
    FCancel = true;
    btButton->setEnabled(false);
    laAction->setText(_("Stopping after the current file ..."));
    return;
  }
  if (FLoop != nullptr)
    FLoop->quit();
}

void TEngineWindow::Refresh()
{
  const QFontMetrics metrics(laFolder->font());
  laFolder->setText(metrics.elidedText(FFolder, Qt::ElideMiddle, kTextWidth));
  laFile->setText(metrics.elidedText(FFile, Qt::ElideMiddle, kTextWidth));
  if (FTotalFiles >= 0) {
    pbFiles->setValue(Permille(FFiles, FTotalFiles));
    pbFiles->setFormat(FormatText(_("%d of %d"), {qlonglong(FFiles), qlonglong(FTotalFiles)}));
    pbBytes->setValue(Permille(FBytes, FTotalBytes));
  }
  const qint64 ms = FClock.isValid() ? FClock.elapsed() : 0;
  if (ms >= 500 && FBytes > 0) {
    const double rate = static_cast<double>(FBytes) * 1000.0 / static_cast<double>(ms);
    laRate->setText(ardanto::FormatFileSize(false, true, u'.', static_cast<std::int64_t>(rate)) + u"/s"_s);
    if (FTotalBytes >= 0 && !FFinished)
      laTimeLeft->setText(TimeText(static_cast<qint64>(static_cast<double>(FTotalBytes - FBytes) / rate + 0.5)));
  }
  if (FFinished)
    laTimeLeft->setText(TimeText(0));
  FLastPaint.restart();
}

void TEngineWindow::ProcessEvents(bool now)
{
  if (!isVisible())
    return;
  if (now || FLastPaint.elapsed() >= kPaintMs)
    Refresh();
  if (now || FLastEvents.elapsed() >= kEventsMs) {
    QCoreApplication::processEvents();
    FLastEvents.restart();
  }
}

void TEngineWindow::ShowSplash()
{
  auto* splash = new QLabel(u"<b>Ardanto</b> "_s + QStringLiteral(ARDANTO_VERSION) + u"<br>"_s +
                            _("Backup of the Thunderbird mail data"));
  splash->setObjectName(u"EngineSplash"_s);
  splash->setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
  splash->setMargin(24);
  splash->setAttribute(Qt::WA_DeleteOnClose);
  splash->show();
  FSplash = splash;
  QTimer::singleShot(kSplashMs, this, &TEngineWindow::CloseSplash);
}

void TEngineWindow::CloseSplash()
{
  if (FSplash == nullptr)
    return;
  FSplash->close();
  FSplash = nullptr;
}

void TEngineWindow::WaitForOk(bool errors)
{
  show();
  raise();
  Refresh();
  if (ardanto::ui::TScopedResponders* responders = ardanto::ui::CurrentResponders();
      responders != nullptr && responders->Question) {
    ardanto::ui::TQuestion question;
    question.Kind = errors ? ardanto::ui::TMessageKind::Error : ardanto::ui::TMessageKind::Information;
    question.Title = windowTitle();
    question.Text = laResult->text();
    question.Buttons = ardanto::ui::dbOk;
    responders->Question(question);
    return;
  }
  QEventLoop loop;
  FLoop = &loop;
  loop.exec();
  FLoop = nullptr;
}

void TEngineWindow::WaitSeconds(int seconds)
{
  if (seconds <= 0 || !isVisible())
    return;
  QEventLoop loop;
  FLoop = &loop;
  int left = seconds;
  const QString ok = _("OK");
  btButton->setText(FormatText(u"%s (%d)"_s, {ok, left}));
  QTimer tick;
  connect(&tick, &QTimer::timeout, &loop, [&]() {
    if (--left <= 0)
      loop.quit();
    else
      btButton->setText(FormatText(u"%s (%d)"_s, {ok, left}));
  });
  tick.start(1000);
  loop.exec();
  FLoop = nullptr;
  btButton->setText(ok);
}

} // namespace engine::gui
