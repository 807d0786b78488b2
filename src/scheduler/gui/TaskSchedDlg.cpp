#include "scheduler/gui/TaskSchedDlg.h"

#include "common/Translate.h"
#include "scheduler/gui/AdvancedScheduleDlg.h"
#include "scheduler/gui/CheckComboBox.h"
#include "ui/Dialogs.h"
#include "ui/FieldFormats.h"
#include "ui/HelpKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

// The step panels of the schedule page.
enum : int { kDailyPanel, kWeeklyPanel, kMonthlyPanel, kOneTimePanel, kEventPanel };

int PanelOf(TScheduleKind kind)
{
  switch (kind) {
  case skDaily:
    return kDailyPanel;
  case skWeekly:
    return kWeeklyPanel;
  case skMonthly:
    return kMonthlyPanel;
  case skOneTime:
    return kOneTimePanel;
  case skLogon:
  case skWakeUp:
    return kEventPanel;
  }
  return kDailyPanel;
}

QStringList WeekdayTexts()
{
  return {_("Monday"), _("Tuesday"), _("Wednesday"), _("Thursday"), _("Friday"), _("Saturday"), _("Sunday")};
}

template <class T> T* Named(T* widget, const QString& name)
{
  widget->setObjectName(name);
  return widget;
}

QSpinBox* NumberBox(QWidget* parent, const QString& name, int minimum, int maximum)
{
  auto* box = Named(new QSpinBox(parent), name);
  box->setRange(minimum, maximum);
  return box;
}

} // namespace

TTaskScheduleDialog::TTaskScheduleDialog(QWidget* parent) : TTaskScheduleDialog(parent, TScheduleEnvironment::Current())
{
}

TTaskScheduleDialog::TTaskScheduleDialog(QWidget* parent, TScheduleEnvironment env)
  : QDialog(parent), FEditor(*this, std::move(env))
{
  setObjectName(u"TaskScheduleDialog"_s);
  setWindowTitle(_("Windows Scheduled Task Wizard") + u" ("_s + ScheduleActionText(paQuillbox) + u')');
  BuildWindow();
  new ui::THelpKeys(this, u"ardanto-sched.html"_s);
  ShowValues(TScheduleValues::Defaults(FEditor.Environment().Now(), FEditor.Environment().SamUserName));
}

TTaskScheduleDialog::~TTaskScheduleDialog() = default;

// ---- building

void TTaskScheduleDialog::BuildWindow()
{
  edTaskName = Named(new QLineEdit(this), u"edTaskName"_s);
  edTaskName->setReadOnly(true);
  edTaskName->setToolTip(_("Name of the scheduled task"));
  laSchedule = Named(new QLabel(this), u"laSchedule"_s);

  pcWizard = Named(new QStackedWidget(this), u"pcWizard"_s);
  tsSchedule = Named(new QWidget(pcWizard), u"tsSchedule"_s);
  rgKind = Named(new QGroupBox(_("Perform this task:"), tsSchedule), u"rgKind"_s);
  const QString kindTexts[] = {_("Daily"),         _("Weekly"),   _("Monthly"),
                               _("One time only"), _("On logon"), _("On waking up the computer")};
  const QString kindNames[] = {u"rbDaily"_s,   u"rbWeekly"_s, u"rbMonthly"_s,
                               u"rbOneTime"_s, u"rbLogon"_s,  u"rbWakeUp"_s};
  auto* kinds = new QVBoxLayout(rgKind);
  for (std::size_t i = 0; i < rbKinds.size(); ++i) {
    rbKinds[i] = Named(new QRadioButton(kindTexts[i], rgKind), kindNames[i]);
    kinds->addWidget(rbKinds[i]);
    connect(rbKinds[i], &QRadioButton::clicked, this, [this, i] { KindChosen(TScheduleKind(i)); });
  }
  kinds->addStretch();
  cbEnabled = Named(new QCheckBox(_("Schedule enabled"), tsSchedule), u"cbEnabled"_s);

  pcSteps = Named(new QStackedWidget(tsSchedule), u"pcSteps"_s);
  pcSteps->addWidget(BuildDailyPanel());
  pcSteps->addWidget(BuildWeeklyPanel());
  pcSteps->addWidget(BuildMonthlyPanel());
  pcSteps->addWidget(BuildOneTimePanel());
  pcSteps->addWidget(BuildEventPanel());

  auto* left = new QVBoxLayout;
  left->addWidget(rgKind);
  left->addWidget(cbEnabled);
  auto* schedule = new QHBoxLayout(tsSchedule);
  schedule->addLayout(left);
  schedule->addWidget(pcSteps, 1);
  pcWizard->addWidget(tsSchedule);
  tsAccount = BuildAccountPage();
  pcWizard->addWidget(tsAccount);

  bbBack = Named(new QPushButton(_("Back"), this), u"bbBack"_s);
  bbNext = Named(new QPushButton(_("Next"), this), u"bbNext"_s);
  bbCancel = Named(new QPushButton(_("Cancel"), this), u"bbCancel"_s);
  bbNext->setDefault(true);
  connect(bbBack, &QPushButton::clicked, this, &TTaskScheduleDialog::bbBackClick);
  connect(bbNext, &QPushButton::clicked, this, &TTaskScheduleDialog::bbNextClick);
  connect(bbCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bbBack);
  buttons->addWidget(bbNext);
  buttons->addWidget(bbCancel);

  auto* top = new QFormLayout;
  top->addRow(_("Task:"), edTaskName);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(laSchedule);
  layout->addWidget(pcWizard, 1);
  layout->addLayout(buttons);
}

void TTaskScheduleDialog::AddStart(QWidget* panel, QLayout* layout, int index, QCheckBox* activate)
{
  const QLocale locale;
  deStart[index] = Named(new QDateEdit(panel), u"deStart"_s + QString::number(index));
  deStart[index]->setDisplayFormat(ui::DateFieldFormat(locale));
  deStart[index]->setCalendarPopup(true);
  deStart[index]->setToolTip(_("Start date"));
  teStart[index] = Named(new QTimeEdit(panel), u"teStart"_s + QString::number(index));
  teStart[index]->setDisplayFormat(u"HH:mm"_s);
  teStart[index]->setToolTip(_("Start time"));
  connect(deStart[index], &QDateEdit::dateChanged, this, [this, index] { StartDateChanged(index); });
  connect(teStart[index], &QTimeEdit::timeChanged, this, [this, index] { StartTimeChanged(index); });
  auto* row = new QHBoxLayout;
  if (activate)
    row->addWidget(activate);
  else
    row->addWidget(new QLabel(_("Start:"), panel));
  row->addWidget(deStart[index]);
  row->addWidget(teStart[index]);
  row->addStretch();
  static_cast<QBoxLayout*>(layout)->addLayout(row);
}

QPushButton* TTaskScheduleDialog::AdvancedButton(QWidget* panel)
{
  auto* button = new QPushButton(_("Advanced settings ..."), panel);
  button->setObjectName(u"btAdvanced"_s);
  connect(button, &QPushButton::clicked, this, &TTaskScheduleDialog::btAdvancedClick);
  return button;
}

QWidget* TTaskScheduleDialog::BuildDailyPanel()
{
  auto* panel = Named(new QWidget, u"tsDaily"_s);
  auto* layout = new QVBoxLayout(panel);
  AddStart(panel, layout, kDailyPanel);
  rbEveryDay = Named(new QRadioButton(_("Every day"), panel), u"rbEveryDay"_s);
  rbEveryDays = Named(new QRadioButton(_("Every"), panel), u"rbEveryDays"_s);
  edDays = NumberBox(panel, u"edDays"_s, 2, 99);
  edDays->setToolTip(_("Number of days"));
  connect(rbEveryDay, &QRadioButton::toggled, this, &TTaskScheduleDialog::DailyChosen);
  auto* every = new QHBoxLayout;
  every->addWidget(rbEveryDays);
  every->addWidget(edDays);
  every->addWidget(new QLabel(_("day(s)"), panel));
  every->addStretch();
  layout->addWidget(rbEveryDay);
  layout->addLayout(every);
  layout->addStretch();
  layout->addWidget(AdvancedButton(panel), 0, Qt::AlignRight);
  return panel;
}

QWidget* TTaskScheduleDialog::BuildWeeklyPanel()
{
  auto* panel = Named(new QWidget, u"tsWeekly"_s);
  auto* layout = new QVBoxLayout(panel);
  AddStart(panel, layout, kWeeklyPanel);
  edWeeks = NumberBox(panel, u"edWeeks"_s, 1, 99);
  edWeeks->setToolTip(_("Number of weeks"));
  auto* every = new QHBoxLayout;
  every->addWidget(new QLabel(_("Every"), panel));
  every->addWidget(edWeeks);
  every->addWidget(new QLabel(_("week(s)"), panel));
  every->addStretch();
  layout->addLayout(every);
  layout->addWidget(new QLabel(_("On the following days of the week"), panel));
  auto* days = new QGridLayout;
  const QStringList texts = WeekdayTexts();
  for (int i = 0; i < int(cbWeekDays.size()); ++i) {
    cbWeekDays[i] = Named(new QCheckBox(texts[i], panel), u"cbWeekDay"_s + QString::number(i));
    days->addWidget(cbWeekDays[i], i / 4, i % 4);
    connect(cbWeekDays[i], &QCheckBox::clicked, this, [this, i] { WeekDayClick(i); });
  }
  layout->addLayout(days);
  layout->addStretch();
  layout->addWidget(AdvancedButton(panel), 0, Qt::AlignRight);
  return panel;
}

QWidget* TTaskScheduleDialog::BuildMonthlyPanel()
{
  auto* panel = Named(new QWidget, u"tsMonthly"_s);
  auto* layout = new QVBoxLayout(panel);
  AddStart(panel, layout, kMonthlyPanel);

  rbMonthDays = Named(new QRadioButton(_("Days:"), panel), u"rbMonthDays"_s);
  cbxMonthDays = Named(new TCheckComboBox(panel), u"cbxMonthDays"_s);
  QStringList dayTexts;
  QList<quint32> dayBits;
  for (int day = 1; day <= 31; ++day) {
    dayTexts.append(QString::number(day));
    dayBits.append(1u << (day - 1));
  }
  dayTexts.append(_("Last"));
  dayBits.append(kLastDayOfMonth);
  cbxMonthDays->SetItems(dayTexts, dayBits);
  cbxMonthDays->setMinimumContentsLength(20);

  rbMonthOn = Named(new QRadioButton(_("On:"), panel), u"rbMonthOn"_s);
  cbxMonthWeeks = Named(new TCheckComboBox(panel), u"cbxMonthWeeks"_s);
  cbxMonthWeeks->SetItems({_("First"), _("Second"), _("Third"), _("Fourth"), _("Last")}, {1, 2, 4, 8, 16});
  cbxMonthWeekDays = Named(new TCheckComboBox(panel), u"cbxMonthWeekDays"_s);
  cbxMonthWeekDays->SetItems(WeekdayTexts(), {1, 2, 4, 8, 16, 32, 64});
  connect(rbMonthDays, &QRadioButton::toggled, this, &TTaskScheduleDialog::MonthlyChosen);

  auto* choice = new QGridLayout;
  choice->addWidget(rbMonthDays, 0, 0);
  choice->addWidget(cbxMonthDays, 0, 1, 1, 2);
  choice->addWidget(rbMonthOn, 1, 0);
  choice->addWidget(cbxMonthWeeks, 1, 1);
  choice->addWidget(cbxMonthWeekDays, 1, 2);
  layout->addLayout(choice);

  layout->addWidget(new QLabel(_("of the following months:"), panel));
  const QString months[] = {_("Jan"), _("Feb"), _("Mar"), _("Apr"), _("May"), _("Jun"),
                            _("Jul"), _("Aug"), _("Sep"), _("Oct"), _("Nov"), _("Dec")};
  auto* grid = new QGridLayout;
  for (int i = 0; i < int(cbMonths.size()); ++i) {
    cbMonths[i] = Named(new QCheckBox(months[i], panel), u"cbMonth"_s + QString::number(i));
    grid->addWidget(cbMonths[i], i / 6, i % 6);
    connect(cbMonths[i], &QCheckBox::clicked, this, [this, i] { MonthClick(i); });
  }
  layout->addLayout(grid);
  layout->addStretch();
  layout->addWidget(AdvancedButton(panel), 0, Qt::AlignRight);
  return panel;
}

QWidget* TTaskScheduleDialog::BuildOneTimePanel()
{
  auto* panel = Named(new QWidget, u"tsOneTime"_s);
  auto* layout = new QVBoxLayout(panel);
  AddStart(panel, layout, kOneTimePanel);
  cbRandomDelay = Named(new QCheckBox(_("Delay task for up to (random delay):"), panel), u"cbRandomDelay"_s);
  edRandomDelay = NumberBox(panel, u"edRandomDelay"_s, 1, 599);
  cbxRandomDelayUnit = Named(new QComboBox(panel), u"cbxRandomDelayUnit"_s);
  cbxRandomDelayUnit->addItems(DelayUnitTexts());
  connect(cbxRandomDelayUnit, &QComboBox::activated, this,
          [this](int unit) { DelayUnitChosen(edRandomDelay, cbxRandomDelayUnit, unit); });
  connect(cbRandomDelay, &QCheckBox::toggled, edRandomDelay, &QWidget::setEnabled);
  connect(cbRandomDelay, &QCheckBox::toggled, cbxRandomDelayUnit, &QWidget::setEnabled);
  auto* delay = new QHBoxLayout;
  delay->addWidget(cbRandomDelay);
  delay->addWidget(edRandomDelay);
  delay->addWidget(cbxRandomDelayUnit);
  delay->addStretch();
  layout->addLayout(delay);
  layout->addStretch();
  layout->addWidget(AdvancedButton(panel), 0, Qt::AlignRight);
  return panel;
}

QWidget* TTaskScheduleDialog::BuildEventPanel()
{
  auto* panel = Named(new QWidget, u"tsEvent"_s);
  auto* layout = new QVBoxLayout(panel);
  laEventTitle = Named(new QLabel(panel), u"laEventTitle"_s);
  laLogonUser = Named(new QLabel(panel), u"laLogonUser"_s);
  auto* title = new QHBoxLayout;
  title->addWidget(laEventTitle);
  title->addWidget(laLogonUser);
  title->addStretch();
  layout->addLayout(title);
  cbActivate = Named(new QCheckBox(_("Activate:"), panel), u"cbActivate"_s);
  AddStart(panel, layout, kEventPanel, cbActivate);
  connect(cbActivate, &QCheckBox::toggled, deStart[kEventPanel], &QWidget::setEnabled);
  connect(cbActivate, &QCheckBox::toggled, teStart[kEventPanel], &QWidget::setEnabled);

  cbDelay = Named(new QCheckBox(_("Delay task for:"), panel), u"cbDelay"_s);
  edDelay = NumberBox(panel, u"edDelay"_s, 1, 599);
  cbxDelayUnit = Named(new QComboBox(panel), u"cbxDelayUnit"_s);
  cbxDelayUnit->addItems(DelayUnitTexts());
  connect(cbxDelayUnit, &QComboBox::activated, this,
          [this](int unit) { DelayUnitChosen(edDelay, cbxDelayUnit, unit); });
  connect(cbDelay, &QCheckBox::toggled, edDelay, &QWidget::setEnabled);
  connect(cbDelay, &QCheckBox::toggled, cbxDelayUnit, &QWidget::setEnabled);
  auto* delay = new QHBoxLayout;
  delay->addWidget(cbDelay);
  delay->addWidget(edDelay);
  delay->addWidget(cbxDelayUnit);
  delay->addStretch();
  layout->addLayout(delay);

  btUserEvent = Named(new QPushButton(_("User defined event"), panel), u"btUserEvent"_s);
  btDefaultEvent = Named(new QPushButton(_("Reset to default event"), panel), u"btDefaultEvent"_s);
  connect(btUserEvent, &QPushButton::clicked, this, &TTaskScheduleDialog::btUserEventClick);
  connect(btDefaultEvent, &QPushButton::clicked, this, &TTaskScheduleDialog::btDefaultEventClick);
  auto* events = new QHBoxLayout;
  events->addWidget(btUserEvent);
  events->addWidget(btDefaultEvent);
  events->addStretch();
  layout->addLayout(events);
  layout->addStretch();
  layout->addWidget(AdvancedButton(panel), 0, Qt::AlignRight);
  return panel;
}

QWidget* TTaskScheduleDialog::BuildAccountPage()
{
  auto* page = Named(new QWidget(pcWizard), u"tsAccount"_s);
  edDescription = Named(new QLineEdit(page), u"edDescription"_s);
  auto* start = Named(new QGroupBox(_("Start this task:"), page), u"rgStart"_s);
  rbPasswordUser = Named(new QRadioButton(_("As any user with password"), start), u"rbPasswordUser"_s);
  rbLoggedOnUser = Named(new QRadioButton(_("As logged-on user"), start), u"rbLoggedOnUser"_s);
  auto* starts = new QVBoxLayout(start);
  starts->addWidget(rbPasswordUser);
  starts->addWidget(rbLoggedOnUser);
  connect(rbLoggedOnUser, &QRadioButton::toggled, this, &TTaskScheduleDialog::LogonChosen);
  edUserName = Named(new QLineEdit(page), u"edUserName"_s);
  edPassword = Named(new QLineEdit(page), u"edPassword"_s);
  edPassword->setEchoMode(QLineEdit::Password);
  laPassword = Named(new QLabel(_("Password:"), page), u"laPassword"_s);
  laPassword->setBuddy(edPassword);
  cbHighest = Named(new QCheckBox(_("Run with highest privileges"), page), u"cbHighest"_s);

  auto* form = new QFormLayout(page);
  form->addRow(_("Description:"), edDescription);
  form->addRow(start);
  form->addRow(_("User name:"), edUserName);
  form->addRow(laPassword, edPassword);
  form->addRow(cbHighest);
  return page;
}

// ---- values

void TTaskScheduleDialog::ShowValues(const TScheduleValues& values)
{
  FValues = values;
  FFilling = true;
  edTaskName->setText(values.TaskName);
  laSchedule->setText(values.ScheduleLabel);
  rbKinds[values.Kind]->setChecked(true);
  cbEnabled->setChecked(values.ScheduleEnabled);
  for (std::size_t i = 0; i < deStart.size(); ++i) {
    deStart[i]->setDate(values.StartDate);
    teStart[i]->setTime(values.StartTime);
  }

  rbEveryDay->setChecked(values.EveryDay);
  rbEveryDays->setChecked(!values.EveryDay);
  edDays->setValue(values.DaysInterval);
  DailyChosen();

  edWeeks->setValue(values.WeeksInterval);
  for (int i = 0; i < int(cbWeekDays.size()); ++i)
    cbWeekDays[i]->setChecked((values.WeekDays & WeekdayBoxBit(i)) != 0);

  rbMonthDays->setChecked(values.ByDays);
  rbMonthOn->setChecked(!values.ByDays);
  cbxMonthDays->SetMask(values.MonthDays);
  cbxMonthWeeks->SetMask(quint32(values.MonthWeeks));
  cbxMonthWeekDays->SetMask(quint32(values.MonthWeekDays));
  for (int i = 0; i < int(cbMonths.size()); ++i)
    cbMonths[i]->setChecked((values.Months & (1 << i)) != 0);
  MonthlyChosen();

  cbRandomDelay->setChecked(values.RandomDelay.Checked);
  ShowNumberField(edRandomDelay, cbxRandomDelayUnit, values.RandomDelay.Value);
  edRandomDelay->setEnabled(values.RandomDelay.Checked);
  cbxRandomDelayUnit->setEnabled(values.RandomDelay.Checked);

  cbActivate->setChecked(values.Activate);
  deStart[kEventPanel]->setEnabled(values.Activate);
  teStart[kEventPanel]->setEnabled(values.Activate);
  cbDelay->setChecked(values.EventDelay.Checked);
  ShowNumberField(edDelay, cbxDelayUnit, values.EventDelay.Value);
  edDelay->setEnabled(values.EventDelay.Checked);
  cbxDelayUnit->setEnabled(values.EventDelay.Checked);
  laLogonUser->setText(values.LogonUser);

  edDescription->setText(values.Description);
  edUserName->setText(values.UserName);
  edPassword->setText(values.Password);
  rbLoggedOnUser->setChecked(values.LoggedOnUser);
  rbPasswordUser->setChecked(!values.LoggedOnUser);
  cbHighest->setChecked(values.HighestPrivileges);
  FFilling = false;
  LogonChosen();
  KindChosen(values.Kind);
  ShowSchedulePage();
}

TScheduleValues TTaskScheduleDialog::Values() const
{
  TScheduleValues values = FValues;
  for (std::size_t i = 0; i < rbKinds.size(); ++i) {
    if (rbKinds[i]->isChecked())
      values.Kind = TScheduleKind(i);
  }
  values.ScheduleEnabled = cbEnabled->isChecked();
  values.EveryDay = rbEveryDay->isChecked();
  values.DaysInterval = edDays->value();
  values.WeeksInterval = edWeeks->value();
  values.WeekDays = 0;
  for (int i = 0; i < int(cbWeekDays.size()); ++i) {
    if (cbWeekDays[i]->isChecked())
      values.WeekDays |= WeekdayBoxBit(i);
  }
  values.ByDays = rbMonthDays->isChecked();
  values.MonthDays = cbxMonthDays->Mask();
  values.MonthWeeks = int(cbxMonthWeeks->Mask());
  values.MonthWeekDays = int(cbxMonthWeekDays->Mask());
  values.Months = 0;
  for (int i = 0; i < int(cbMonths.size()); ++i) {
    if (cbMonths[i]->isChecked())
      values.Months |= 1 << i;
  }
  values.RandomDelay.Checked = cbRandomDelay->isChecked();
  values.RandomDelay.Value = NumberFieldOf(edRandomDelay, cbxRandomDelayUnit);
  values.Activate = cbActivate->isChecked();
  values.EventDelay.Checked = cbDelay->isChecked();
  values.EventDelay.Value = NumberFieldOf(edDelay, cbxDelayUnit);
  values.Description = edDescription->text();
  values.LoggedOnUser = rbLoggedOnUser->isChecked();
  values.UserName = edUserName->text();
  values.Password = values.LoggedOnUser ? QString() : edPassword->text();
  values.HighestPrivileges = cbHighest->isChecked();
  return values;
}

void TTaskScheduleDialog::StartDateChanged(int from)
{
  if (FFilling)
    return;
  FFilling = true;
  FValues.StartDate = deStart[from]->date();
  for (QDateEdit* edit : deStart)
    edit->setDate(FValues.StartDate);
  FFilling = false;
}

void TTaskScheduleDialog::StartTimeChanged(int from)
{
  if (FFilling)
    return;
  FFilling = true;
  FValues.StartTime = teStart[from]->time();
  for (QTimeEdit* edit : teStart)
    edit->setTime(FValues.StartTime);
  FFilling = false;
}

// ---- what the controls do

void TTaskScheduleDialog::KindChosen(TScheduleKind kind)
{
  rbKinds[kind]->setChecked(true);
  pcSteps->setCurrentIndex(PanelOf(kind));
  laEventTitle->setText(EventPageTitle(kind));
  UpdateEventPanel();
}

void TTaskScheduleDialog::UpdateEventPanel()
{
  const bool wakeUp = rbKinds[skWakeUp]->isChecked();
  laLogonUser->setVisible(!wakeUp);
  btUserEvent->setVisible(wakeUp);
  btDefaultEvent->setVisible(wakeUp);
}

void TTaskScheduleDialog::DailyChosen()
{
  edDays->setEnabled(rbEveryDays->isChecked());
}

void TTaskScheduleDialog::MonthlyChosen()
{
  const bool byDays = rbMonthDays->isChecked();
  cbxMonthDays->setEnabled(byDays);
  cbxMonthWeeks->setEnabled(!byDays);
  cbxMonthWeekDays->setEnabled(!byDays);
}

void TTaskScheduleDialog::WeekDayClick(int /*box*/)
{
  int mask = 0;
  for (int i = 0; i < int(cbWeekDays.size()); ++i) {
    if (cbWeekDays[i]->isChecked())
      mask |= WeekdayBoxBit(i);
  }
  if (KeepOneWeekday(mask) != mask)
    cbWeekDays[0]->setChecked(true);
}

void TTaskScheduleDialog::MonthClick(int /*month*/)
{
  int mask = 0;
  for (int i = 0; i < int(cbMonths.size()); ++i) {
    if (cbMonths[i]->isChecked())
      mask |= 1 << i;
  }
  if (KeepOneMonth(mask) != mask)
    cbMonths[0]->setChecked(true);
}

void TTaskScheduleDialog::DelayUnitChosen(QSpinBox* number, QComboBox* unit, int picked)
{
  ShowNumberField(number, unit, DelayUnitPicked(picked));
}

void TTaskScheduleDialog::LogonChosen()
{
  if (FFilling)
    return;
  const bool loggedOn = rbLoggedOnUser->isChecked();
  if (loggedOn)
    edUserName->setText(FEditor.Environment().SamUserName);
  edUserName->setReadOnly(loggedOn);
  laPassword->setVisible(!loggedOn);
  edPassword->setVisible(!loggedOn);
}

void TTaskScheduleDialog::btAdvancedClick()
{
  TAdvancedScheduleDialog::Execute(this, FValues.Advanced);
}

void TTaskScheduleDialog::btUserEventClick()
{
  TEventQueryDialog::Execute(this, EventPageTitle(skWakeUp), FValues.Query);
}

void TTaskScheduleDialog::btDefaultEventClick()
{
  FValues.Query = DefaultWakeUpQuery();
}

bool TTaskScheduleDialog::OnAccountPage() const
{
  return pcWizard->currentWidget() == tsAccount;
}

void TTaskScheduleDialog::ShowSchedulePage()
{
  pcWizard->setCurrentWidget(tsSchedule);
  bbBack->setEnabled(false);
  bbNext->setText(_("Next"));
}

void TTaskScheduleDialog::bbNextClick()
{
  if (OnAccountPage()) {
    accept();
    return;
  }
  pcWizard->setCurrentWidget(tsAccount);
  bbBack->setEnabled(true);
  bbNext->setText(_("Done"));
  if (!edPassword->isHidden())
    edPassword->setFocus();
}

void TTaskScheduleDialog::bbBackClick()
{
  if (OnAccountPage())
    ShowSchedulePage();
}

// ---- the editor's view

int TTaskScheduleDialog::Execute(int index, int action, const QString& path, const QString& task,
                                 const QString& options, bool retry)
{
  setWindowTitle(_("Windows Scheduled Task Wizard") + u" ("_s + ScheduleActionText(action) + u')');
  return FEditor.Execute(index, action, path, task, options, retry);
}

bool TTaskScheduleDialog::PromptName(const QString& title, const QString& prompt, QString& name)
{
  return ui::PromptText(parentWidget(), title, prompt, name);
}

bool TTaskScheduleDialog::AskYesNo(const QString& text)
{
  return ui::AskYesNo(parentWidget(), windowTitle(), text);
}

void TTaskScheduleDialog::ShowError(const QString& text)
{
  ui::ShowError(isVisible() ? this : parentWidget(), text);
}

bool TTaskScheduleDialog::EditSchedule(TScheduleValues& values)
{
  ShowValues(values);
  if (exec() != QDialog::Accepted)
    return false;
  values = Values();
  return true;
}

} // namespace ardanto
