// ardanto-schedule-guard: decides for the user timers whether a task is due,
// and runs its programs (see scheduler/ScheduleGuard.h).

#include "common/LangUtils.h"
#include "scheduler/ScheduleGuard.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  // What it tells the journal, in the user's language (the user manager
  // passes on the session's locale).
  ardanto::ActivateLanguage(ardanto::SystemLanguageCode(), {QStringLiteral("ardanto-lib")});
  return ardanto::scheduler::ScheduleGuardMain(app.arguments().mid(1));
}
