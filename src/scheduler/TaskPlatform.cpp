#include "scheduler/TaskPlatform.h"

#include "common/Translate.h"
#include "scheduler/TaskXml.h"

#include <QHash>

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

ETaskSchedulerError::ETaskSchedulerError(HRESULT code, QString message) : EArdantoError(std::move(message)), FCode(code)
{
}

namespace {

// The order of the elements in the scheduler's own exports; new elements take
// their place in it.
const QStringList& ChildOrder(const QString& parent)
{
  static const QStringList trigger = {u"Repetition"_s,      u"StartBoundary"_s,
                                      u"EndBoundary"_s,     u"ExecutionTimeLimit"_s,
                                      u"Enabled"_s,         u"Subscription"_s,
                                      u"UserId"_s,          u"StateChange"_s,
                                      u"Delay"_s,           u"RandomDelay"_s,
                                      u"ScheduleByDay"_s,   u"ScheduleByWeek"_s,
                                      u"ScheduleByMonth"_s, u"ScheduleByMonthDayOfWeek"_s,
                                      u"ValueQueries"_s};
  static const QHash<QString, QStringList> orders = {
      {u"Task"_s, {u"RegistrationInfo"_s, u"Triggers"_s, u"Principals"_s, u"Settings"_s, u"Data"_s, u"Actions"_s}},
      {u"RegistrationInfo"_s,
       {u"Date"_s, u"Author"_s, u"Version"_s, u"Description"_s, u"Documentation"_s, u"URI"_s, u"Source"_s,
        u"SecurityDescriptor"_s}},
      {u"Principal"_s, {u"UserId"_s, u"GroupId"_s, u"DisplayName"_s, u"LogonType"_s, u"RunLevel"_s}},
      {u"Settings"_s,
       {u"MultipleInstancesPolicy"_s, u"DisallowStartIfOnBatteries"_s, u"StopIfGoingOnBatteries"_s,
        u"AllowHardTerminate"_s, u"StartWhenAvailable"_s, u"RunOnlyIfNetworkAvailable"_s, u"IdleSettings"_s,
        u"AllowStartOnDemand"_s, u"Enabled"_s, u"Hidden"_s, u"RunOnlyIfIdle"_s, u"WakeToRun"_s, u"ExecutionTimeLimit"_s,
        u"DeleteExpiredTaskAfter"_s, u"Priority"_s, u"RestartOnFailure"_s}},
      {u"IdleSettings"_s, {u"Duration"_s, u"WaitTimeout"_s, u"StopOnIdleEnd"_s, u"RestartOnIdle"_s}},
      {u"RestartOnFailure"_s, {u"Interval"_s, u"Count"_s}},
      {u"Repetition"_s, {u"Interval"_s, u"Duration"_s, u"StopAtDurationEnd"_s}},
      {u"ScheduleByWeek"_s, {u"DaysOfWeek"_s, u"WeeksInterval"_s}},
      {u"ScheduleByMonth"_s, {u"DaysOfMonth"_s, u"Months"_s}},
      {u"ScheduleByMonthDayOfWeek"_s, {u"Weeks"_s, u"DaysOfWeek"_s, u"Months"_s}},
      {u"Exec"_s, {u"Command"_s, u"Arguments"_s, u"WorkingDirectory"_s}},
      {u"EventTrigger"_s, trigger},
      {u"TimeTrigger"_s, trigger},
      {u"CalendarTrigger"_s, trigger},
      {u"IdleTrigger"_s, trigger},
      {u"RegistrationTrigger"_s, trigger},
      {u"BootTrigger"_s, trigger},
      {u"LogonTrigger"_s, trigger},
      {u"SessionStateChangeTrigger"_s, trigger},
  };
  static const QStringList none;
  const auto it = orders.constFind(parent);
  return it == orders.constEnd() ? none : *it;
}

std::shared_ptr<TXmlNode> EnsurePath(std::shared_ptr<TXmlNode> node, const QStringList& path)
{
  for (const QString& name : path)
    node = node->EnsureChild(name, ChildOrder(node->Name));
  return node;
}

std::shared_ptr<TXmlNode> FindPath(std::shared_ptr<TXmlNode> node, const QStringList& path)
{
  for (const QString& name : path) {
    if (!node)
      return nullptr;
    node = node->Child(name);
  }
  return node;
}

bool TextToBool(const QString& text, bool defaultValue)
{
  const QString value = text.trimmed();
  if (value == u"true" || value == u"1")
    return true;
  if (value == u"false" || value == u"0")
    return false;
  return defaultValue;
}

[[noreturn]] void InvalidArgument(const QString& what)
{
  throw ETaskSchedulerError(E_INVALIDARG, _("Invalid value for %1").arg(what));
}

const QStringList kLogonTypes = {u""_s,
                                 u"Password"_s,
                                 u"S4U"_s,
                                 u"InteractiveToken"_s,
                                 u"Group"_s,
                                 u"ServiceAccount"_s,
                                 u"InteractiveTokenOrPassword"_s};
const QStringList kInstancePolicies = {u"Parallel"_s, u"Queue"_s, u"IgnoreNew"_s, u"StopExisting"_s};
const QStringList kWeekdays = {u"Sunday"_s,   u"Monday"_s, u"Tuesday"_s, u"Wednesday"_s,
                               u"Thursday"_s, u"Friday"_s, u"Saturday"_s};
const QStringList kMonths = {u"January"_s, u"February"_s, u"March"_s,     u"April"_s,   u"May"_s,      u"June"_s,
                             u"July"_s,    u"August"_s,   u"September"_s, u"October"_s, u"November"_s, u"December"_s};

const char* const kNewTask = R"(<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo/>
  <Triggers/>
  <Principals><Principal id="Author"/></Principals>
  <Settings>
    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>true</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>true</StopIfGoingOnBatteries>
    <AllowHardTerminate>true</AllowHardTerminate>
    <StartWhenAvailable>false</StartWhenAvailable>
    <RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>
    <IdleSettings><StopOnIdleEnd>true</StopOnIdleEnd><RestartOnIdle>false</RestartOnIdle></IdleSettings>
    <AllowStartOnDemand>true</AllowStartOnDemand>
    <Enabled>true</Enabled>
    <Hidden>false</Hidden>
    <RunOnlyIfIdle>false</RunOnlyIfIdle>
    <WakeToRun>false</WakeToRun>
    <ExecutionTimeLimit>PT72H</ExecutionTimeLimit>
    <Priority>7</Priority>
  </Settings>
  <Actions Context="Author"/>
</Task>)";

} // namespace

// ---- elements

TSchedElement::TSchedElement(std::shared_ptr<TXmlNode> base, QStringList path)
  : FBase(std::move(base)), FPath(std::move(path))
{
}

std::shared_ptr<TXmlNode> TSchedElement::Node() const
{
  return FindPath(FBase, FPath);
}

std::shared_ptr<TXmlNode> TSchedElement::EnsureNode()
{
  return EnsurePath(FBase, FPath);
}

QString TSchedElement::Text(const QString& name) const
{
  const auto child = FindPath(Node(), {name});
  return child ? child->Text : QString();
}

void TSchedElement::SetText(const QString& name, const QString& value)
{
  if (value.isEmpty()) {
    if (const auto node = Node())
      node->RemoveChildren(name);
    return;
  }
  const auto child = EnsurePath(EnsureNode(), {name});
  child->Children.clear();
  child->Text = value;
}

bool TSchedElement::Bool(const QString& name, bool defaultValue) const
{
  return TextToBool(Text(name), defaultValue);
}

void TSchedElement::SetBool(const QString& name, bool value)
{
  SetText(name, value ? u"true"_s : u"false"_s);
}

qint64 TSchedElement::Int(const QString& name, qint64 defaultValue) const
{
  bool ok = false;
  const qint64 value = Text(name).trimmed().toLongLong(&ok);
  return ok ? value : defaultValue;
}

void TSchedElement::SetInt(const QString& name, qint64 value)
{
  SetText(name, QString::number(value));
}

QString TSchedElement::Attribute(const QString& name) const
{
  const auto node = Node();
  return node ? node->Attribute(name) : QString();
}

void TSchedElement::SetAttribute(const QString& name, const QString& value)
{
  EnsureNode()->SetAttribute(name, value);
}

// ---- principal, settings

int TSchedPrincipal::LogonType() const
{
  const qsizetype index = kLogonTypes.indexOf(Text(u"LogonType"_s).trimmed());
  return index > 0 ? int(index) : 0;
}

void TSchedPrincipal::SetLogonType(int value)
{
  if (value < 0 || value >= kLogonTypes.size())
    InvalidArgument(u"LogonType"_s);
  SetText(u"LogonType"_s, kLogonTypes[value]);
}

int TSchedPrincipal::RunLevel() const
{
  return Text(u"RunLevel"_s).trimmed() == u"HighestAvailable" ? 1 : 0;
}

void TSchedPrincipal::SetRunLevel(int value)
{
  if (value != 0 && value != 1)
    InvalidArgument(u"RunLevel"_s);
  SetText(u"RunLevel"_s, value == 1 ? u"HighestAvailable"_s : u"LeastPrivilege"_s);
}

std::shared_ptr<TSchedIdleSettings> TSchedSettings::IdleSettings() const
{
  return std::make_shared<TSchedIdleSettings>(Base(), QStringList{u"Settings"_s, u"IdleSettings"_s});
}

std::shared_ptr<TSchedElement> TSchedSettings::RestartOnFailure() const
{
  return std::make_shared<TSchedElement>(Base(), QStringList{u"Settings"_s, u"RestartOnFailure"_s});
}

int TSchedSettings::Compatibility() const
{
  const QString version = Base()->Attribute(u"version"_s);
  bool ok = false;
  const int minor = version.section(u'.', 1, 1).toInt(&ok);
  return version.startsWith(u"1.") && ok ? minor : 2;
}

void TSchedSettings::SetCompatibility(int value)
{
  if (value < 0 || value > 9)
    InvalidArgument(u"Compatibility"_s);
  Base()->SetAttribute(u"version"_s, u"1."_s + QString::number(value));
}

int TSchedSettings::MultipleInstances() const
{
  const QString text = Text(u"MultipleInstancesPolicy"_s).trimmed();
  return text.isEmpty() ? 2 : int(kInstancePolicies.indexOf(text));
}

void TSchedSettings::SetMultipleInstances(int value)
{
  if (value < 0 || value >= kInstancePolicies.size())
    InvalidArgument(u"MultipleInstancesPolicy"_s);
  SetText(u"MultipleInstancesPolicy"_s, kInstancePolicies[value]);
}

int TSchedSettings::Priority() const
{
  return int(Int(u"Priority"_s, 7));
}

void TSchedSettings::SetPriority(int value)
{
  if (value < 0 || value > 10)
    InvalidArgument(u"Priority"_s);
  SetInt(u"Priority"_s, value);
}

// ---- triggers

TSchedTrigger::TSchedTrigger(std::shared_ptr<TXmlNode> element) : FElement(std::move(element))
{
}

int TSchedTrigger::Type() const
{
  static const QHash<QString, int> types = {{u"EventTrigger"_s, TASK_TRIGGER_EVENT},
                                            {u"TimeTrigger"_s, TASK_TRIGGER_TIME},
                                            {u"IdleTrigger"_s, TASK_TRIGGER_IDLE},
                                            {u"RegistrationTrigger"_s, TASK_TRIGGER_REGISTRATION},
                                            {u"BootTrigger"_s, TASK_TRIGGER_BOOT},
                                            {u"LogonTrigger"_s, TASK_TRIGGER_LOGON},
                                            {u"SessionStateChangeTrigger"_s, TASK_TRIGGER_SESSION_STATE_CHANGE}};
  if (FElement->Name == u"CalendarTrigger") {
    if (FElement->Child(u"ScheduleByDay"_s))
      return TASK_TRIGGER_DAILY;
    if (FElement->Child(u"ScheduleByWeek"_s))
      return TASK_TRIGGER_WEEKLY;
    if (FElement->Child(u"ScheduleByMonth"_s))
      return TASK_TRIGGER_MONTHLY;
    if (FElement->Child(u"ScheduleByMonthDayOfWeek"_s))
      return TASK_TRIGGER_MONTHLYDOW;
    return TASK_TRIGGER_CUSTOM_TRIGGER_01;
  }
  return types.value(FElement->Name, TASK_TRIGGER_CUSTOM_TRIGGER_01);
}

QString TSchedTrigger::Field(const QStringList& path) const
{
  const auto node = FindPath(FElement, path);
  return node ? node->Text : QString();
}

void TSchedTrigger::SetField(const QStringList& path, const QString& value)
{
  if (!value.isEmpty()) {
    const auto node = EnsurePath(FElement, path);
    node->Children.clear();
    node->Text = value;
    return;
  }
  // Removing a field also removes the parents it leaves empty (a Repetition
  // without interval).
  for (qsizetype depth = path.size(); depth > 0; --depth) {
    const auto parent = FindPath(FElement, path.first(depth - 1));
    if (!parent)
      return;
    const auto child = parent->Child(path[depth - 1]);
    if (child && (depth == path.size() || child->Children.empty()))
      parent->RemoveChildren(path[depth - 1]);
    if (!parent->Children.empty() || depth == 1)
      return;
  }
}

std::shared_ptr<TXmlNode> TSchedTrigger::Schedule() const
{
  switch (Type()) {
  case TASK_TRIGGER_DAILY:
    return FElement->Child(u"ScheduleByDay"_s);
  case TASK_TRIGGER_WEEKLY:
    return FElement->Child(u"ScheduleByWeek"_s);
  case TASK_TRIGGER_MONTHLY:
    return FElement->Child(u"ScheduleByMonth"_s);
  case TASK_TRIGGER_MONTHLYDOW:
    return FElement->Child(u"ScheduleByMonthDayOfWeek"_s);
  default:
    return nullptr;
  }
}

int TSchedTrigger::NamedMask(const QString& list, const QStringList& names) const
{
  const auto schedule = Schedule();
  const auto node = schedule ? schedule->Child(list) : nullptr;
  int mask = 0;
  if (node)
    for (const auto& child : node->Children)
      if (const qsizetype bit = names.indexOf(child->Name); bit >= 0)
        mask |= 1 << bit;
  return mask;
}

void TSchedTrigger::SetNamedMask(const QString& list, const QStringList& names, int mask)
{
  const auto schedule = Schedule();
  if (!schedule)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(list));
  const auto node = schedule->EnsureChild(list, ChildOrder(schedule->Name));
  // Names this list does not know (another scheduler's) stay where they are.
  std::erase_if(node->Children, [&](const auto& child) { return names.contains(child->Name); });
  for (qsizetype bit = 0; bit < names.size(); ++bit)
    if (mask & (1 << bit))
      node->Children.push_back(std::make_shared<TXmlNode>(names[bit]));
}

QString TSchedTrigger::Id() const
{
  return FElement->Attribute(u"id"_s);
}

void TSchedTrigger::SetId(const QString& value)
{
  FElement->SetAttribute(u"id"_s, value);
}

bool TSchedTrigger::Enabled() const
{
  return TextToBool(Field({u"Enabled"_s}), true);
}

void TSchedTrigger::SetEnabled(bool value)
{
  SetField({u"Enabled"_s}, value ? u"true"_s : u"false"_s);
}

QString TSchedTrigger::StartBoundary() const
{
  return Field({u"StartBoundary"_s});
}

void TSchedTrigger::SetStartBoundary(const QString& value)
{
  SetField({u"StartBoundary"_s}, value);
}

QString TSchedTrigger::EndBoundary() const
{
  return Field({u"EndBoundary"_s});
}

void TSchedTrigger::SetEndBoundary(const QString& value)
{
  SetField({u"EndBoundary"_s}, value);
}

QString TSchedTrigger::ExecutionTimeLimit() const
{
  return Field({u"ExecutionTimeLimit"_s});
}

void TSchedTrigger::SetExecutionTimeLimit(const QString& value)
{
  SetField({u"ExecutionTimeLimit"_s}, value);
}

QString TSchedTrigger::RepetitionInterval() const
{
  return Field({u"Repetition"_s, u"Interval"_s});
}

void TSchedTrigger::SetRepetitionInterval(const QString& value)
{
  SetField({u"Repetition"_s, u"Interval"_s}, value);
}

QString TSchedTrigger::RepetitionDuration() const
{
  return Field({u"Repetition"_s, u"Duration"_s});
}

void TSchedTrigger::SetRepetitionDuration(const QString& value)
{
  SetField({u"Repetition"_s, u"Duration"_s}, value);
}

bool TSchedTrigger::StopAtDurationEnd() const
{
  return TextToBool(Field({u"Repetition"_s, u"StopAtDurationEnd"_s}), false);
}

void TSchedTrigger::SetStopAtDurationEnd(bool value)
{
  // false is the default: a trigger without repetition gets no Repetition element for it.
  if (!value && !FElement->Child(u"Repetition"_s))
    return;
  SetField({u"Repetition"_s, u"StopAtDurationEnd"_s}, value ? u"true"_s : u"false"_s);
}

QString TSchedTrigger::Delay() const
{
  return Field({u"Delay"_s});
}

void TSchedTrigger::SetDelay(const QString& value)
{
  SetField({u"Delay"_s}, value);
}

QString TSchedTrigger::RandomDelay() const
{
  return Field({u"RandomDelay"_s});
}

void TSchedTrigger::SetRandomDelay(const QString& value)
{
  SetField({u"RandomDelay"_s}, value);
}

QString TSchedTrigger::UserId() const
{
  return Field({u"UserId"_s});
}

void TSchedTrigger::SetUserId(const QString& value)
{
  SetField({u"UserId"_s}, value);
}

QString TSchedTrigger::Subscription() const
{
  return Field({u"Subscription"_s});
}

void TSchedTrigger::SetSubscription(const QString& value)
{
  SetField({u"Subscription"_s}, value);
}

int TSchedTrigger::DaysInterval() const
{
  if (Type() != TASK_TRIGGER_DAILY)
    return 0;
  bool ok = false;
  const int value = Field({u"ScheduleByDay"_s, u"DaysInterval"_s}).trimmed().toInt(&ok);
  return ok ? value : 1;
}

void TSchedTrigger::SetDaysInterval(int value)
{
  if (Type() != TASK_TRIGGER_DAILY)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(u"DaysInterval"_s));
  SetField({u"ScheduleByDay"_s, u"DaysInterval"_s}, QString::number(value));
}

int TSchedTrigger::WeeksInterval() const
{
  if (Type() != TASK_TRIGGER_WEEKLY)
    return 0;
  bool ok = false;
  const int value = Field({u"ScheduleByWeek"_s, u"WeeksInterval"_s}).trimmed().toInt(&ok);
  return ok ? value : 1;
}

void TSchedTrigger::SetWeeksInterval(int value)
{
  if (Type() != TASK_TRIGGER_WEEKLY)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(u"WeeksInterval"_s));
  SetField({u"ScheduleByWeek"_s, u"WeeksInterval"_s}, QString::number(value));
}

int TSchedTrigger::DaysOfWeek() const
{
  return NamedMask(u"DaysOfWeek"_s, kWeekdays);
}

void TSchedTrigger::SetDaysOfWeek(int value)
{
  if (Type() != TASK_TRIGGER_WEEKLY && Type() != TASK_TRIGGER_MONTHLYDOW)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(u"DaysOfWeek"_s));
  SetNamedMask(u"DaysOfWeek"_s, kWeekdays, value);
}

int TSchedTrigger::MonthsOfYear() const
{
  return NamedMask(u"Months"_s, kMonths);
}

void TSchedTrigger::SetMonthsOfYear(int value)
{
  if (Type() != TASK_TRIGGER_MONTHLY && Type() != TASK_TRIGGER_MONTHLYDOW)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(u"Months"_s));
  SetNamedMask(u"Months"_s, kMonths, value);
}

quint32 TSchedTrigger::DaysOfMonth() const
{
  if (Type() != TASK_TRIGGER_MONTHLY)
    return 0;
  const auto list = FindPath(FElement, {u"ScheduleByMonth"_s, u"DaysOfMonth"_s});
  quint32 mask = 0;
  if (list) {
    for (const auto& day : list->ChildrenNamed(u"Day"_s)) {
      const QString text = day->Text.trimmed();
      bool ok = false;
      const int number = text.toInt(&ok);
      if (text == u"Last")
        mask |= 0x80000000u;
      else if (ok && number >= 1 && number <= 31)
        mask |= 1u << (number - 1);
    }
  }
  return mask;
}

void TSchedTrigger::SetDaysOfMonth(quint32 value)
{
  if (Type() != TASK_TRIGGER_MONTHLY)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(u"DaysOfMonth"_s));
  const auto list = EnsurePath(FElement, {u"ScheduleByMonth"_s, u"DaysOfMonth"_s});
  list->RemoveChildren(u"Day"_s);
  for (int bit = 0; bit < 32; ++bit) {
    if (value & (1u << bit)) {
      auto day = std::make_shared<TXmlNode>(u"Day"_s);
      day->Text = bit == 31 ? u"Last"_s : QString::number(bit + 1);
      list->Children.push_back(day);
    }
  }
}

bool TSchedTrigger::RunOnLastDayOfMonth() const
{
  return (DaysOfMonth() & 0x80000000u) != 0;
}

void TSchedTrigger::SetRunOnLastDayOfMonth(bool value)
{
  const quint32 days = DaysOfMonth();
  SetDaysOfMonth(value ? days | 0x80000000u : days & ~0x80000000u);
}

int TSchedTrigger::WeeksOfMonth() const
{
  if (Type() != TASK_TRIGGER_MONTHLYDOW)
    return 0;
  const auto list = FindPath(FElement, {u"ScheduleByMonthDayOfWeek"_s, u"Weeks"_s});
  int mask = 0;
  if (list) {
    for (const auto& week : list->ChildrenNamed(u"Week"_s)) {
      bool ok = false;
      const int number = week->Text.trimmed().toInt(&ok);
      if (ok && number >= 1 && number <= 4)
        mask |= 1 << (number - 1);
    }
  }
  return mask;
}

bool TSchedTrigger::RunOnLastWeekOfMonth() const
{
  const auto list = FindPath(FElement, {u"ScheduleByMonthDayOfWeek"_s, u"Weeks"_s});
  if (!list || Type() != TASK_TRIGGER_MONTHLYDOW)
    return false;
  for (const auto& week : list->ChildrenNamed(u"Week"_s))
    if (week->Text.trimmed() == u"Last")
      return true;
  return false;
}

void TSchedTrigger::SetWeeksOfMonth(int value)
{
  if (Type() != TASK_TRIGGER_MONTHLYDOW)
    throw ETaskSchedulerError(E_NOINTERFACE, _("The trigger has no %1").arg(u"Weeks"_s));
  const auto list = EnsurePath(FElement, {u"ScheduleByMonthDayOfWeek"_s, u"Weeks"_s});
  list->RemoveChildren(u"Week"_s);
  for (int bit = 0; bit < 5; ++bit) {
    if (value & (1 << bit)) {
      auto week = std::make_shared<TXmlNode>(u"Week"_s);
      week->Text = bit == 4 ? u"Last"_s : QString::number(bit + 1);
      list->Children.push_back(week);
    }
  }
}

void TSchedTrigger::SetRunOnLastWeekOfMonth(bool value)
{
  SetWeeksOfMonth(WeeksOfMonth() | (value ? 16 : 0));
}

// ---- actions

TSchedAction::TSchedAction(std::shared_ptr<TXmlNode> element) : TSchedElement(element, {}), FElement(std::move(element))
{
}

int TSchedAction::Type() const
{
  if (FElement->Name == u"ComHandler")
    return TASK_ACTION_COM_HANDLER;
  if (FElement->Name == u"SendEmail")
    return TASK_ACTION_SEND_EMAIL;
  if (FElement->Name == u"ShowMessage")
    return TASK_ACTION_SHOW_MESSAGE;
  return TASK_ACTION_EXEC;
}

QString TSchedAction::Id() const
{
  return FElement->Attribute(u"id"_s);
}

void TSchedAction::SetId(const QString& value)
{
  FElement->SetAttribute(u"id"_s, value);
}

// ---- collections

namespace {

// The children of one list element (Triggers, Actions) as a 1-based collection.
template <class T> class TElementList : public TSchedList<T> {
public:
  TElementList(std::shared_ptr<TXmlNode> task, QString list, std::function<QString(int)> elementOfType)
    : FTask(std::move(task)), FList(std::move(list)), FElementOfType(std::move(elementOfType))
  {
  }

  int Count() const override { return int(Items().size()); }

  std::shared_ptr<T> Item(int position) const override
  {
    const auto items = Items();
    if (position < 1 || position > int(items.size()))
      throw ETaskSchedulerError(E_INVALIDARG, _("No entry at position %1").arg(position));
    return std::make_shared<T>(items[position - 1]);
  }

  std::shared_ptr<T> Create(int type) override
  {
    const QString name = FElementOfType(type);
    if (name.isEmpty())
      throw ETaskSchedulerError(E_INVALIDARG, _("Unknown type %1").arg(type));
    auto element = std::make_shared<TXmlNode>(name);
    if (type == TASK_TRIGGER_DAILY && FList == u"Triggers") {
      auto schedule = element->EnsureChild(u"ScheduleByDay"_s);
      schedule->EnsureChild(u"DaysInterval"_s)->Text = u"1"_s;
    } else if (type == TASK_TRIGGER_WEEKLY && FList == u"Triggers") {
      auto schedule = element->EnsureChild(u"ScheduleByWeek"_s);
      schedule->EnsureChild(u"WeeksInterval"_s)->Text = u"1"_s;
    } else if (type == TASK_TRIGGER_MONTHLY && FList == u"Triggers") {
      element->EnsureChild(u"ScheduleByMonth"_s);
    } else if (type == TASK_TRIGGER_MONTHLYDOW && FList == u"Triggers") {
      element->EnsureChild(u"ScheduleByMonthDayOfWeek"_s);
    }
    EnsurePath(FTask, {FList})->Children.push_back(element);
    return std::make_shared<T>(element);
  }

  void Remove(int position) override
  {
    const auto items = Items();
    if (position < 1 || position > int(items.size()))
      throw ETaskSchedulerError(E_INVALIDARG, _("No entry at position %1").arg(position));
    const auto list = FTask->Child(FList);
    std::erase(list->Children, items[position - 1]);
  }

  void Clear() override
  {
    if (const auto list = FTask->Child(FList))
      std::erase_if(list->Children, [this](const auto& child) { return IsEntry(*child); });
  }

private:
  bool IsEntry(const TXmlNode& node) const
  {
    // Every trigger counts, those of unknown kinds as custom triggers, as the
    // scheduler lists them; an action of an unknown kind is kept but not
    // listed, as it has no type to be handled by.
    if (FList == u"Triggers")
      return true;
    for (int type = 0; type <= TASK_TRIGGER_CUSTOM_TRIGGER_01; ++type)
      if (FElementOfType(type) == node.Name)
        return true;
    return false;
  }

  std::vector<std::shared_ptr<TXmlNode>> Items() const
  {
    std::vector<std::shared_ptr<TXmlNode>> items;
    if (const auto list = FTask->Child(FList))
      for (const auto& child : list->Children)
        if (IsEntry(*child))
          items.push_back(child);
    return items;
  }

  std::shared_ptr<TXmlNode> FTask;
  QString FList;
  std::function<QString(int)> FElementOfType;
};

QString TriggerElement(int type)
{
  switch (type) {
  case TASK_TRIGGER_EVENT:
    return u"EventTrigger"_s;
  case TASK_TRIGGER_TIME:
    return u"TimeTrigger"_s;
  case TASK_TRIGGER_DAILY:
  case TASK_TRIGGER_WEEKLY:
  case TASK_TRIGGER_MONTHLY:
  case TASK_TRIGGER_MONTHLYDOW:
    return u"CalendarTrigger"_s;
  case TASK_TRIGGER_IDLE:
    return u"IdleTrigger"_s;
  case TASK_TRIGGER_REGISTRATION:
    return u"RegistrationTrigger"_s;
  case TASK_TRIGGER_BOOT:
    return u"BootTrigger"_s;
  case TASK_TRIGGER_LOGON:
    return u"LogonTrigger"_s;
  case TASK_TRIGGER_SESSION_STATE_CHANGE:
    return u"SessionStateChangeTrigger"_s;
  default:
    return {};
  }
}

QString ActionElement(int type)
{
  switch (type) {
  case TASK_ACTION_EXEC:
    return u"Exec"_s;
  case TASK_ACTION_COM_HANDLER:
    return u"ComHandler"_s;
  case TASK_ACTION_SEND_EMAIL:
    return u"SendEmail"_s;
  case TASK_ACTION_SHOW_MESSAGE:
    return u"ShowMessage"_s;
  default:
    return {};
  }
}

std::shared_ptr<TXmlNode> ParseTask(const QString* text, const QByteArray* bytes)
{
  std::shared_ptr<TXmlNode> root;
  QString error;
  const bool parsed = text ? ParseXml(*text, root, error) : ParseXml(*bytes, root, error);
  if (!parsed)
    throw ETaskSchedulerError(SCHED_E_MALFORMEDXML, error);
  if (root->Name != u"Task")
    throw ETaskSchedulerError(SCHED_E_MALFORMEDXML,
                              _("The task definition begins with <%1> instead of <Task>").arg(root->Name));
  return root;
}

} // namespace

// ---- definitions

TSchedDefinition::TSchedDefinition(std::shared_ptr<TXmlNode> root) : FRoot(std::move(root))
{
}

std::shared_ptr<TSchedDefinition> TSchedDefinition::Create()
{
  const QString text = QString::fromUtf8(kNewTask);
  return std::shared_ptr<TSchedDefinition>(new TSchedDefinition(ParseTask(&text, nullptr)));
}

std::shared_ptr<TSchedDefinition> TSchedDefinition::FromXml(const QString& xml)
{
  return std::shared_ptr<TSchedDefinition>(new TSchedDefinition(ParseTask(&xml, nullptr)));
}

std::shared_ptr<TSchedDefinition> TSchedDefinition::FromXml(const QByteArray& bytes)
{
  return std::shared_ptr<TSchedDefinition>(new TSchedDefinition(ParseTask(nullptr, &bytes)));
}

std::shared_ptr<TSchedDefinition> TSchedDefinition::Clone() const
{
  return std::shared_ptr<TSchedDefinition>(new TSchedDefinition(FRoot->Clone()));
}

std::shared_ptr<TSchedRegistrationInfo> TSchedDefinition::RegistrationInfo() const
{
  return std::make_shared<TSchedRegistrationInfo>(FRoot, QStringList{u"RegistrationInfo"_s});
}

std::shared_ptr<TSchedPrincipal> TSchedDefinition::Principal() const
{
  return std::make_shared<TSchedPrincipal>(FRoot, QStringList{u"Principals"_s, u"Principal"_s});
}

std::shared_ptr<TSchedSettings> TSchedDefinition::Settings() const
{
  return std::make_shared<TSchedSettings>(FRoot, QStringList{u"Settings"_s});
}

std::shared_ptr<TSchedTriggerCollection> TSchedDefinition::Triggers() const
{
  return std::make_shared<TElementList<TSchedTrigger>>(FRoot, u"Triggers"_s, TriggerElement);
}

std::shared_ptr<TSchedActionCollection> TSchedDefinition::Actions() const
{
  return std::make_shared<TElementList<TSchedAction>>(FRoot, u"Actions"_s, ActionElement);
}

QString TSchedDefinition::Data() const
{
  const auto data = FRoot->Child(u"Data"_s);
  return data ? data->Text : QString();
}

void TSchedDefinition::SetData(const QString& value)
{
  if (value.isEmpty()) {
    FRoot->RemoveChildren(u"Data"_s);
    return;
  }
  FRoot->EnsureChild(u"Data"_s, ChildOrder(u"Task"_s))->Text = value;
}

QString TSchedDefinition::XmlText() const
{
  return WriteXml(*FRoot, u"UTF-16"_s);
}

QByteArray TSchedDefinition::XmlBytes() const
{
  return WriteXml(*FRoot, u"UTF-8"_s).toUtf8();
}

void TSchedDefinition::SetXmlText(const QString& xml)
{
  Replace(ParseTask(&xml, nullptr));
}

void TSchedDefinition::Replace(const std::shared_ptr<TXmlNode>& root)
{
  FRoot->Name = root->Name;
  FRoot->Attributes = root->Attributes;
  FRoot->Text = root->Text;
  FRoot->Children = root->Children;
}

QString JoinTaskPath(const QString& folderPath, const QString& name)
{
  return folderPath.endsWith(u'\\') ? QString(folderPath + name) : QString(folderPath + u'\\' + name);
}

} // namespace ardanto::scheduler
