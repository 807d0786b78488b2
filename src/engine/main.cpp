// ardanto: the suite's backup engine. Runs a backup task (.buj) or a restore
// task (.rsj) written by Quillbox, logs it and ends with the exit code of the
// engine contract.

#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "engine/EngineOptions.h"
#include "engine/EngineRun.h"
#include "engine/EngineView.h"
#include "engine/gui/EngineWindow.h"
#include "ui/Application.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
  // Only a run with a display gets a window; the help, the version and
  // every run without a display need no more than Qt Core.
  QStringList rawArguments;
  for (int i = 1; i < argc; ++i)
    rawArguments << QString::fromLocal8Bit(argv[i]);
  const engine::TEngineOptions early = engine::ParseEngineOptions(rawArguments);
  const bool textOnly = early.Help || early.Version || early.TaskFile.isEmpty();
  const bool display = !textOnly && engine::gui::PrepareDisplay();
  std::unique_ptr<QCoreApplication> app;
  if (display)
    app = std::make_unique<ardanto::ui::TGuardedApplication>(argc, argv);
  else
    app = std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName(u"ardanto"_s);
  QCoreApplication::setApplicationVersion(QStringLiteral(ARDANTO_VERSION));

  const QStringList arguments = QCoreApplication::arguments().mid(1);
  ardanto::SelectLanguage(ardanto::SettingsFolder(u"Ardanto6/"_s), u"Ardanto.cfg"_s, {u"ardanto"_s, u"ardanto-lib"_s},
                          arguments);
  const engine::TEngineOptions options = engine::ParseEngineOptions(arguments);
  if (options.Version) {
    std::printf("%s\n", qPrintable(engine::VersionLine()));
    return 0;
  }
  if (options.Help) {
    std::printf("%s", qPrintable(engine::HelpText()));
    return 0;
  }
  if (options.TaskFile.isEmpty()) {
    std::fprintf(stderr, "%s", qPrintable(engine::HelpText()));
    return engine::ecTaskNotFound;
  }

  engine::LoadEngineSettings();
  engine::TRunResult result;
  // Qt falls back to running offscreen when the display cannot be reached:
  // nobody could see a window or answer a question then.
  if (display && !ardanto::ui::RunsWithoutDisplay()) {
    engine::gui::TEngineWindow window(options);
    result = engine::RunEngine(options, window);
  } else {
    engine::THeadlessView view;
    result = engine::RunEngine(options, view);
  }
  if (result.ExitCode != 0)
    std::fprintf(stderr, "%s\n", qPrintable(engine::ExitText(result.ExitCode)));
  return result.ExitCode;
}
