// Portkeep: backs up folders of phones, cameras and media players.

#include "common/Errors.h"
#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "devices/DevicePlatforms.h"
#include "platform/DarkMode.h"
#include "portkeep/gui/MainForm.h"
#include "ui/Application.h"
#include "ui/HelpKeys.h"
#include "ui/Styles.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
  ardanto::ui::UseOffscreenWithoutDisplay();
  ardanto::ui::TGuardedApplication app(argc, argv);
  // No display name: Qt would append it to every window title, and the main
  // window's title starts with the program's name already.
  QApplication::setApplicationName(u"Portkeep"_s);
  QApplication::setApplicationVersion(QStringLiteral(ARDANTO_VERSION));
  // The desktop finds the menu entry, and with it the icon, by this name.
  QGuiApplication::setDesktopFileName(u"org.ardanto.Portkeep"_s);
  QApplication::setWindowIcon(ardanto::ui::ApplicationIcon(u"portkeep"_s));

  QStringList arguments = QApplication::arguments().mid(1);
  if (arguments.contains(u"--version"_s)) {
    std::printf("Portkeep %s\n", ARDANTO_VERSION);
    return 0;
  }
  const ardanto::TLanguageSelection language = ardanto::SelectLanguage(
      ardanto::SettingsFolder(u"Ardanto6/"_s), u"Ardanto.cfg"_s, {u"portkeep"_s, u"ardanto-lib"_s}, arguments);
  if (arguments.contains(u"--print-paths"_s)) {
    // Where this program takes its texts and its help from, for checking an installation.
    std::printf("locale: %s\nhelp: %s\n", qPrintable(ardanto::LocaleDirectory()),
                qPrintable(ardanto::ui::HelpFile(u"ardanto-device.html"_s)));
    return 0;
  }

  // Without a screen nobody can answer a question: every question gets the
  // answer that changes nothing, and the question goes to the output with
  // the answer taken.
  const bool headless = ardanto::ui::RunsWithoutDisplay();
  std::unique_ptr<ardanto::ui::TUnattendedAnswers> unattended;
  if (headless)
    unattended = std::make_unique<ardanto::ui::TUnattendedAnswers>();

  try {
    portkeep::TMainForm window(arguments, ardanto::CreateDefaultDevicePlatform());
    window.SetUnattended(headless);
    // The dark style: asked for on the command line, or allowed by the
    // suite's configuration and chosen in the desktop's settings.
    const bool dark = window.CommandLine().UseDarkMode || (ardanto::ui::ConfigAllowsDarkMode(language.ConfigFile) &&
                                                           ardanto::platform::SystemUsesDarkMode());
    ardanto::ui::ApplyStyle(app, dark);
    window.show();
    app.exec();
  } catch (const ardanto::EArdantoError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 0; // failures are shown to the user, never returned as exit codes
}
