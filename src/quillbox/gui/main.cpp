// Quillbox: backs up the mail data of Thunderbird profiles through the engine.

#include "common/Errors.h"
#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "common/Translate.h"
#include "platform/DarkMode.h"
#include "quillbox/Profiles.h"
#include "quillbox/gui/MainForm.h"
#include "quillbox/gui/SelectProfileDlg.h"
#include "ui/Application.h"
#include "ui/HelpKeys.h"
#include "ui/Styles.h"

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
  ardanto::ui::UseOffscreenWithoutDisplay();
  ardanto::ui::TGuardedApplication app(argc, argv);
  // No display name: Qt would append it to every window title, and the main
  // window's title starts with the program's name already.
  QApplication::setApplicationName(u"Quillbox"_s);
  QApplication::setApplicationVersion(QStringLiteral(ARDANTO_VERSION));
  // The desktop finds the menu entry, and with it the icon, by this name.
  QGuiApplication::setDesktopFileName(u"org.ardanto.Quillbox"_s);
  QApplication::setWindowIcon(ardanto::ui::ApplicationIcon(u"quillbox"_s));

  const QStringList arguments = QApplication::arguments().mid(1);
  if (arguments.contains(u"--version"_s)) {
    std::printf("Quillbox %s\n", ARDANTO_VERSION);
    return 0;
  }
  const ardanto::TLanguageSelection language = ardanto::SelectLanguage(
      ardanto::SettingsFolder(u"Ardanto6/"_s), u"Ardanto.cfg"_s, {u"quillbox"_s, u"ardanto-lib"_s}, arguments);

  // Forced runs are started by timers and shortcuts, often without a screen:
  // nothing may wait for an answer then, and every message goes to the
  // output, where the journal of the timer keeps it.
  const bool unattended = ardanto::ui::RunsWithoutDisplay();
  std::unique_ptr<ardanto::ui::TUnattendedAnswers> answers;
  if (unattended) {
    answers = std::make_unique<ardanto::ui::TUnattendedAnswers>();
    // Choosing among several profiles takes the one offered first, the
    // default, as Enter would.
    quillbox::SetProfileResponder([](const QStringList& items, int& index) {
      ardanto::ui::PrintUnattended(_("Select Thunderbird profile:"),
                                   u"OK: "_s + (index >= 0 && index < items.size() ? items[index] : QString()));
      return true;
    });
  }

  try {
    quillbox::TMainForm window(arguments);
    window.SetUnattended(unattended);
    const bool dark = window.State().UseDarkMode || (ardanto::ui::ConfigAllowsDarkMode(language.ConfigFile) &&
                                                     ardanto::platform::SystemUsesDarkMode());
    ardanto::ui::ApplyStyle(app, dark);
    if (!window.CheckForce()) {
      window.show();
      app.exec();
    }
  } catch (const ardanto::EArdantoError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  quillbox::SetProfileResponder({});
  return 0; // failures are shown to the user, never returned as exit codes
}
