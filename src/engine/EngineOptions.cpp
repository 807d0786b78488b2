#include "engine/EngineOptions.h"

#include "common/CommandLine.h"
#include "common/Translate.h"

namespace engine {

using namespace Qt::StringLiterals;
using ardanto::TOptionArgument;

namespace {

struct TPromptWord {
  QString Word;
  TPromptMode Mode;
};

bool ParsePrompt(const QString& value, TPromptMode& mode)
{
  static const TPromptWord kWords[] = {{u"wait"_s, pmWait},
                                       {u"delay"_s, pmDelay},
                                       {u"quiet"_s, pmQuiet},
                                       {u"error"_s, pmError},
                                       {u"silent"_s, pmSilent}};
  const QString given = value.trimmed().toLower();
  for (const TPromptWord& word : kWords) {
    if (ardanto::MatchesOptionWord(given, word.Word)) {
      mode = word.Mode;
      return true;
    }
  }
  return false;
}

} // namespace

TEngineOptions ParseEngineOptions(const QStringList& arguments)
{
  TEngineOptions options;
  for (const QString& arg : arguments) {
    if (arg == u"--help"_s || arg == u"-?"_s || arg == u"/?"_s) {
      options.Help = true;
      continue;
    }
    if (arg == u"--version"_s) {
      options.Version = true;
      continue;
    }
    TOptionArgument option;
    if (!ardanto::SplitOptionArgument(arg, option)) {
      // The first plain argument is the task; a second one means nothing.
      if (options.TaskFile.isEmpty())
        options.TaskFile = arg;
      else
        options.Ignored << arg;
      continue;
    }
    const auto is = [&option](const char16_t* word) {
      return ardanto::MatchesOptionWord(option.Word, QString::fromUtf16(word));
    };
    // A prefix that two words share selects the first of them in this order.
    if (is(u"startapp")) {
      options.StartApp = option.Value;
    } else if (is(u"status")) {
      options.StatusOnTop = option.Value.trimmed().toLower().startsWith(u"ontop"_s);
    } else if (is(u"prompt")) {
      if (!ParsePrompt(option.Value, options.Prompt))
        options.Ignored << arg;
    } else if (is(u"wait")) {
      bool ok = false;
      const int seconds = option.Value.trimmed().toInt(&ok);
      options.WaitSeconds = ok && seconds >= 0 ? seconds : 5;
    } else if (is(u"hide")) {
      options.Hide = true;
    } else if (is(u"force")) {
      options.Force = true;
    } else if (is(u"restore")) {
      options.Restore = true;
    } else if (is(u"help")) {
      options.Help = true;
    } else {
      options.Ignored << arg;
    }
  }
  return options;
}

QString VersionLine()
{
  return u"ardanto "_s + QStringLiteral(ARDANTO_VERSION);
}

QString HelpText()
{
  return _("Usage: ardanto TASKFILE [/option[:value] ...]\n"
           "       ardanto --help | --version\n"
           "\n"
           "Runs a backup task (.buj) or a restore task (.rsj) of the Ardanto suite:\n"
           "copies, logs to the task's log file and ends with an exit code.\n"
           "\n"
           "Options (\"/\" or \"-\", any prefix of the word, a value after \":\"):\n"
           "  /startapp:NAME   who started the engine, for the log\n"
           "  /prompt:MODE     status window at the end: wait, delay, quiet, error, silent\n"
           "  /wait:N          seconds the window stays open for delay and error\n"
           "  /status:ontop    keep the status window above other windows (or normal)\n"
           "  /hide            no splash window\n"
           "  /force           unattended: never ask anything\n"
           "  /restore         the task is a restore task\n"
           "\n"
           "Exit codes (when several apply, the first in the order 1, 6, 2, 5, 3, 4):\n"
           "  0  everything in the task was done\n"
           "  1  the task file does not exist or cannot be read\n"
           "  2  the destination or the restore target is empty, cannot be created or is not writable\n"
           "  3  a source folder of an enabled entry does not exist\n"
           "  4  some files could not be copied\n"
           "  5  cancelled, or stopped on a fatal error (disk full, destination gone, task already running)\n"
           "  6  the task file is not a valid task (wrong kind, no enabled entry, bad values, wrong password)\n");
}

} // namespace engine
