#include "scheduler/backends/systemd/SystemdUnits.h"

#include "common/InitProg.h"
#include "common/Translate.h"
#include "scheduler/TaskSchedule.h"
#include "scheduler/WinTask.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

namespace {

QString XdgDir(const char* variable, const QString& fallbackBelowHome)
{
  const QString value = qEnvironmentVariable(variable);
  if (!value.isEmpty() && QDir::isAbsolutePath(value))
    return value;
  return QDir::homePath() + u'/' + fallbackBelowHome;
}

// A value in a unit file: specifiers are written "%%".
QString UnitValue(const QString& text)
{
  QString value = text;
  value.replace(u'%', u"%%"_s);
  return value;
}

[[noreturn]] void Unsupported(const QString& reason)
{
  throw ETaskSchedulerError(E_INVALIDARG, reason);
}

} // namespace

TSystemdPaths TSystemdPaths::Default()
{
  TSystemdPaths paths;
  paths.TasksDir = XdgDir("XDG_DATA_HOME", u".local/share"_s) + u"/ardanto/tasks"_s;
  paths.UnitDir = XdgDir("XDG_CONFIG_HOME", u".config"_s) + u"/systemd/user"_s;
  paths.StateDir = XdgDir("XDG_STATE_HOME", u".local/state"_s) + u"/ardanto/tasks"_s;
  paths.Guard = qEnvironmentVariable("ARDANTO_SCHEDULE_GUARD");
  if (paths.Guard.isEmpty() && QCoreApplication::instance()) {
    const QString beside = QCoreApplication::applicationDirPath() + u"/ardanto-schedule-guard"_s;
    if (QFileInfo(beside).isExecutable())
      paths.Guard = beside;
  }
  if (paths.Guard.isEmpty())
    paths.Guard = QStandardPaths::findExecutable(u"ardanto-schedule-guard"_s);
  return paths;
}

QString EscapeUnitNamePart(const QString& text)
{
  QString escaped;
  const QByteArray bytes = text.toUtf8();
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '/')
      escaped += u'-';
    else if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
             byte == ':' || byte == '_')
      escaped += QLatin1Char(c);
    else
      escaped += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
  }
  return escaped;
}

TTaskUnitNames TaskUnitNames(const QString& relativePath)
{
  TTaskUnitNames names;
  names.Base = u"ardanto-"_s + EscapeUnitNamePart(relativePath);
  names.Timer = names.Base + u".timer"_s;
  names.Service = names.Base + u".service"_s;
  names.RunService = names.Base + u".run.service"_s;
  // systemd takes unit names of up to 255 characters.
  if (names.RunService.size() > 255)
    throw ETaskSchedulerError(E_INVALIDARG, _("The task name \"%1\" is too long").arg(relativePath));
  return names;
}

QString QuoteExecWord(const QString& word)
{
  // A lone ";" would separate two commands even in quotes.
  if (word == u";")
    return u"\\;"_s;
  QString quoted = u"\""_s;
  for (const QChar c : word) {
    switch (c.unicode()) {
    case u'\\':
      quoted += u"\\\\"_s;
      break;
    case u'"':
      quoted += u"\\\""_s;
      break;
    case u'\n':
      quoted += u"\\n"_s;
      break;
    case u'\t':
      quoted += u"\\t"_s;
      break;
    case u'%':
      quoted += u"%%"_s;
      break;
    case u'$':
      quoted += u"$$"_s;
      break;
    default:
      if (c.unicode() < 0x20 || c.unicode() == 0x7F)
        quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
      else
        quoted += c;
    }
  }
  return quoted + u'"';
}

TTaskUnits BuildTaskUnits(const TSchedDefinition& definition, const QString& taskPath, const QString& xmlFile,
                          const QString& stateFile, const TSystemdPaths& paths)
{
  if (paths.Guard.isEmpty())
    throw ETaskSchedulerError(E_FILE_NOT_FOUND,
                              _("The helper program ardanto-schedule-guard is not installed, so tasks cannot be "
                                "scheduled"));
  const auto settings = definition.Settings();
  const QString guard = QuoteExecWord(paths.Guard);
  const QString state = QuoteExecWord(stateFile);

  // The programs, each run and recorded by the guard.
  QStringList execLines;
  const auto actions = definition.Actions();
  for (int position = 1, count = actions->Count(); position <= count; ++position) {
    const auto action = actions->Item(position);
    if (action->Type() != TASK_ACTION_EXEC)
      Unsupported(_("The task's action \"%1\" is not available on this system; only actions that start a program "
                    "are")
                      .arg(ActionTypeText(ActionTypeFromPlatform(action->Type()))));
    const QString program = DequoteTaskPath(action->Text(u"Command"_s));
    if (program.isEmpty())
      Unsupported(_("An action of the task names no program"));
    QStringList words = {guard, u"run"_s, u"--state"_s, state};
    const QString directory = DequoteTaskPath(action->Text(u"WorkingDirectory"_s));
    if (!directory.isEmpty()) {
      if (!QDir::isAbsolutePath(directory))
        Unsupported(_("The working folder \"%1\" of the task is not a full path").arg(directory));
      words << u"--cwd"_s << QuoteExecWord(directory);
    }
    words << u"--"_s << QuoteExecWord(program);
    for (const QString& argument : ardanto::SplitCommandLine(action->Text(u"Arguments"_s)))
      words << QuoteExecWord(argument);
    execLines.append(u"ExecStart="_s + words.join(u' '));
  }
  if (execLines.isEmpty())
    Unsupported(_("The task has no action"));

  // The triggers: calendar expressions, and the manager's start for logon.
  QStringList timerLines;
  qint64 randomDelay = 0;
  qint64 timeLimit = qint64(DurationToSeconds(settings->Text(u"ExecutionTimeLimit"_s)));
  const auto triggers = definition.Triggers();
  for (int position = 1, count = triggers->Count(); position <= count; ++position) {
    const auto trigger = triggers->Item(position);
    const TTriggerSchedule schedule = ScheduleOf(*trigger);
    if (!schedule.Enabled)
      continue;
    if (schedule.Type == TASK_TRIGGER_EVENT)
      Unsupported(_("Starting a task when the computer wakes up, or on another event, is not available on this "
                    "system"));
    if (!IsSchedulable(schedule.Type))
      Unsupported(_("The trigger \"%1\" is not available on this system")
                      .arg(TriggerTypeText(TriggerTypeFromPlatform(schedule.Type))));
    if (schedule.Type == TASK_TRIGGER_LOGON) {
      // The user's manager starts with the user's first session.
      timerLines.append(u"OnStartupSec="_s + QString::number(schedule.Delay));
    } else {
      if (!schedule.Start.isValid())
        Unsupported(_("A trigger of the task has no start time"));
      for (const QString& line : CalendarLines(schedule).Lines)
        timerLines.append(u"OnCalendar="_s + line);
    }
    randomDelay = std::max(randomDelay, schedule.RandomDelay);
    if (const qint64 limit = DurationToSeconds(trigger->ExecutionTimeLimit()); limit > 0)
      timeLimit = timeLimit > 0 ? std::min(timeLimit, limit) : limit;
  }

  const TTaskUnitNames names = TaskUnitNames(QString(taskPath).replace(u'\\', u'/').mid(1));
  const QString header = u"# The Ardanto task "_s + taskPath + u", written from its definition in\n# "_s + xmlFile +
                         u" each time the task is saved.\n"_s;
  const QString timeout = u"TimeoutStartSec="_s + (timeLimit > 0 ? QString::number(timeLimit) : u"infinity"_s);

  TTaskUnits units;
  units.Service = header + u"[Unit]\nDescription=Ardanto task "_s + UnitValue(taskPath) + u'\n';
  // The only one of the task's conditions the manager checks by itself.
  if (settings->Bool(u"DisallowStartIfOnBatteries"_s, true))
    units.Service += u"ConditionACPower=true\n"_s;
  units.Service += u"\n[Service]\nType=oneshot\nExecCondition="_s + guard + u" check --state "_s + state + u' ' +
                   QuoteExecWord(xmlFile) + u'\n' + execLines.join(u'\n') + u'\n' + timeout + u'\n';

  units.RunService = header + u"[Unit]\nDescription=Ardanto task "_s + UnitValue(taskPath) +
                     u" (started on demand)\n\n[Service]\nType=oneshot\n"_s + execLines.join(u'\n') + u'\n' + timeout +
                     u'\n';

  if (!timerLines.isEmpty()) {
    units.Timer = header + u"[Unit]\nDescription=Schedule of the Ardanto task "_s + UnitValue(taskPath) +
                  u"\n\n[Timer]\nUnit="_s + names.Service + u'\n' + timerLines.join(u'\n') + u'\n';
    if (settings->Bool(u"StartWhenAvailable"_s, false))
      units.Timer += u"Persistent=true\n"_s;
    // The scheduler starts on the second; the default of a minute would push starts past the guard's grace.
    units.Timer += u"AccuracySec=1s\n"_s;
    if (randomDelay > 0)
      units.Timer += u"RandomizedDelaySec="_s + QString::number(randomDelay) + u'\n';
    units.Timer += u"\n[Install]\nWantedBy=timers.target\n"_s;
  }
  return units;
}

} // namespace ardanto::scheduler
