// ardanto: the suite's backup engine. Runs a backup task (.buj) or a restore
// task (.rsj) written by Quillbox, logs it and ends with the exit code of the
// engine contract.

#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "engine/EngineOptions.h"
#include "engine/EngineRun.h"
#include "engine/EngineView.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
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
  // The status window comes with its own view; until then every run is
  // unattended.
  engine::THeadlessView view;
  const engine::TRunResult result = engine::RunEngine(options, view);
  if (result.ExitCode != 0)
    std::fprintf(stderr, "%s\n", qPrintable(engine::ExitText(result.ExitCode)));
  return result.ExitCode;
}
