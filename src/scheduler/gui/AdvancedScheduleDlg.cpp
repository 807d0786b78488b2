#include "scheduler/gui/AdvancedScheduleDlg.h"

#include "common/Translate.h"
#include "ui/Dialogs.h"
#include "ui/FieldFormats.h"
#include "ui/HelpKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

QSpinBox* NumberBox(QWidget* parent, const QString& name)
{
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setMinimum(1);
  return box;
}

QComboBox* UnitBox(QWidget* parent, const QString& name, const QStringList& units)
{
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->addItems(units);
  return box;
}

QCheckBox* CheckBox(QWidget* parent, const QString& name, const QString& text)
{
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

} // namespace

void ShowNumberField(QSpinBox* number, QComboBox* unit, const TNumberField& field)
{
  number->setMaximum(std::max(field.Limit, 1));
  number->setSingleStep(field.Step);
  number->setValue(field.Number);
  unit->setCurrentIndex(field.Unit);
  number->setToolTip(_("Number of ") + unit->itemText(field.Unit));
}

TNumberField NumberFieldOf(const QSpinBox* number, const QComboBox* unit)
{
  return TNumberField{number->value(), unit->currentIndex(), number->maximum(), number->singleStep()};
}

// ---- advanced options

TAdvancedScheduleDialog::TAdvancedScheduleDialog(QWidget* parent, const TAdvancedSettings& settings, const QDate& today)
  : QDialog(parent)
{
  setObjectName(u"AdvancedScheduleDialog"_s);
  setWindowTitle(_("Advanced Schedule Options"));
  const QLocale locale;

  cbExpire = CheckBox(this, u"cbExpire"_s, _("Expire:"));
  deExpire = new QDateEdit(this);
  deExpire->setObjectName(u"deExpire"_s);
  deExpire->setDisplayFormat(ui::DateFieldFormat(locale));
  deExpire->setCalendarPopup(true);
  teExpire = new QTimeEdit(this);
  teExpire->setObjectName(u"teExpire"_s);
  teExpire->setDisplayFormat(u"HH:mm"_s);
  auto* expire = new QHBoxLayout;
  expire->addWidget(cbExpire);
  expire->addWidget(deExpire);
  expire->addWidget(teExpire);
  expire->addStretch();

  cbRepeat = CheckBox(this, u"cbRepeat"_s, _("Repeat task:"));
  pnRepeat = new QWidget(this);
  pnRepeat->setObjectName(u"pnRepeat"_s);
  edInterval = NumberBox(pnRepeat, u"edInterval"_s);
  cbxIntervalUnit = UnitBox(pnRepeat, u"cbxIntervalUnit"_s, RepeatUnitTexts());
  edDuration = NumberBox(pnRepeat, u"edDuration"_s);
  cbxDurationUnit = UnitBox(pnRepeat, u"cbxDurationUnit"_s, RepeatUnitTexts());
  cbStopAtEnd = CheckBox(pnRepeat, u"cbStopAtEnd"_s, _("Stop all running tasks at end of repetition duration"));
  auto* repeat = new QGridLayout(pnRepeat);
  repeat->addWidget(new QLabel(_("Every:"), pnRepeat), 0, 0);
  repeat->addWidget(edInterval, 0, 1);
  repeat->addWidget(cbxIntervalUnit, 0, 2);
  repeat->addWidget(new QLabel(_("for a duration of:"), pnRepeat), 1, 0);
  repeat->addWidget(edDuration, 1, 1);
  repeat->addWidget(cbxDurationUnit, 1, 2);
  repeat->addWidget(cbStopAtEnd, 2, 0, 1, 3);

  cbLimit = CheckBox(this, u"cbLimit"_s, _("Stop task if it runs longer than:"));
  edLimit = NumberBox(this, u"edLimit"_s);
  cbxLimitUnit = UnitBox(this, u"cbxLimitUnit"_s, LimitUnitTexts());
  auto* limit = new QHBoxLayout;
  limit->addWidget(cbLimit);
  limit->addWidget(edLimit);
  limit->addWidget(cbxLimitUnit);
  limit->addStretch();

  cbReRun = CheckBox(this, u"cbReRun"_s, _("Run task as soon as possible after a scheduled start is missed"));
  cbPowerOnly = CheckBox(this, u"cbPowerOnly"_s, _("Start the task only if the computer is on AC power"));
  cbStopBattery = CheckBox(this, u"cbStopBattery"_s, _("Stop if the computer switches to battery power"));
  cbWakeUp = CheckBox(this, u"cbWakeUp"_s, _("Wake the computer to run this task"));
  cbNetworkOnly = CheckBox(this, u"cbNetworkOnly"_s, _("Start the task only if a network connection is available"));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(expire);
  layout->addWidget(cbRepeat);
  layout->addWidget(pnRepeat);
  layout->addLayout(limit);
  layout->addWidget(cbReRun);
  layout->addWidget(cbPowerOnly);
  auto* battery = new QHBoxLayout;
  battery->addSpacing(20);
  battery->addWidget(cbStopBattery);
  layout->addLayout(battery);
  layout->addWidget(cbWakeUp);
  layout->addWidget(cbNetworkOnly);
  layout->addWidget(ui::OkCancelButtons(this));

  connect(cbExpire, &QCheckBox::clicked, this, &TAdvancedScheduleDialog::cbExpireClick);
  connect(cbRepeat, &QCheckBox::clicked, this, &TAdvancedScheduleDialog::cbRepeatClick);
  connect(cbLimit, &QCheckBox::clicked, this, &TAdvancedScheduleDialog::cbLimitClick);
  connect(cbPowerOnly, &QCheckBox::clicked, this, &TAdvancedScheduleDialog::cbPowerOnlyClick);
  connect(cbxIntervalUnit, &QComboBox::activated, this, &TAdvancedScheduleDialog::IntervalUnitPicked);
  connect(cbxDurationUnit, &QComboBox::activated, this, &TAdvancedScheduleDialog::DurationUnitPicked);
  connect(cbxLimitUnit, &QComboBox::activated, this, &TAdvancedScheduleDialog::LimitUnitPicked);
  new ui::THelpKeys(this, u"ardanto-sched.html"_s);

  ShowFields(AdvancedFieldsOf(settings, today));
}

void TAdvancedScheduleDialog::ShowFields(const TAdvancedFields& fields)
{
  cbExpire->setChecked(fields.Expire);
  deExpire->setDate(fields.ExpireDate);
  teExpire->setTime(fields.ExpireTime);
  cbRepeat->setChecked(fields.Repeat);
  ShowNumberField(edInterval, cbxIntervalUnit, fields.Interval);
  ShowNumberField(edDuration, cbxDurationUnit, fields.Duration);
  cbStopAtEnd->setChecked(fields.StopAtEnd);
  cbLimit->setChecked(fields.Limit);
  ShowNumberField(edLimit, cbxLimitUnit, fields.LimitValue);
  cbReRun->setChecked(fields.ReRun);
  cbPowerOnly->setChecked(fields.PowerOnly);
  cbStopBattery->setChecked(fields.StopBattery);
  cbWakeUp->setChecked(fields.WakeUp);
  cbNetworkOnly->setChecked(fields.NetworkOnly);
  cbExpireClick();
  cbRepeatClick();
  cbLimitClick();
  cbStopBattery->setEnabled(fields.PowerOnly);
}

TAdvancedFields TAdvancedScheduleDialog::Fields() const
{
  TAdvancedFields fields;
  fields.Expire = cbExpire->isChecked();
  fields.ExpireDate = deExpire->date();
  fields.ExpireTime = teExpire->time();
  fields.Repeat = cbRepeat->isChecked();
  fields.Interval = NumberFieldOf(edInterval, cbxIntervalUnit);
  fields.Duration = NumberFieldOf(edDuration, cbxDurationUnit);
  fields.StopAtEnd = cbStopAtEnd->isChecked();
  fields.Limit = cbLimit->isChecked();
  fields.LimitValue = NumberFieldOf(edLimit, cbxLimitUnit);
  fields.ReRun = cbReRun->isChecked();
  fields.PowerOnly = cbPowerOnly->isChecked();
  fields.StopBattery = cbStopBattery->isChecked();
  fields.WakeUp = cbWakeUp->isChecked();
  fields.NetworkOnly = cbNetworkOnly->isChecked();
  return fields;
}

void TAdvancedScheduleDialog::cbExpireClick()
{
  deExpire->setEnabled(cbExpire->isChecked());
  teExpire->setEnabled(cbExpire->isChecked());
}

void TAdvancedScheduleDialog::cbRepeatClick()
{
  pnRepeat->setEnabled(cbRepeat->isChecked());
}

void TAdvancedScheduleDialog::cbLimitClick()
{
  edLimit->setEnabled(cbLimit->isChecked());
  cbxLimitUnit->setEnabled(cbLimit->isChecked());
}

void TAdvancedScheduleDialog::cbPowerOnlyClick()
{
  cbStopBattery->setEnabled(cbPowerOnly->isChecked());
  cbStopBattery->setChecked(cbPowerOnly->isChecked());
}

void TAdvancedScheduleDialog::IntervalUnitPicked(int unit)
{
  ShowNumberField(edInterval, cbxIntervalUnit, RepeatUnitPicked(unit));
}

void TAdvancedScheduleDialog::DurationUnitPicked(int unit)
{
  ShowNumberField(edDuration, cbxDurationUnit, RepeatUnitPicked(unit));
}

void TAdvancedScheduleDialog::LimitUnitPicked(int unit)
{
  ShowNumberField(edLimit, cbxLimitUnit, ardanto::LimitUnitPicked(unit));
}

bool TAdvancedScheduleDialog::Execute(QWidget* parent, TAdvancedSettings& settings)
{
  TAdvancedScheduleDialog dialog(parent, settings, QDate::currentDate());
  if (dialog.exec() != QDialog::Accepted)
    return false;
  ApplyAdvancedFields(dialog.Fields(), settings);
  return true;
}

// ---- event query

TEventQueryDialog::TEventQueryDialog(QWidget* parent, const QString& title, const QString& query)
  : QDialog(parent), edQuery(new QPlainTextEdit(this))
{
  setObjectName(u"EventQueryDialog"_s);
  setWindowTitle(title);
  edQuery->setObjectName(u"edQuery"_s);
  edQuery->setPlainText(QueryForEditing(query));
  edQuery->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* label = new QLabel(_("Query string to select the event:"), this);
  label->setBuddy(edQuery);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(edQuery);
  layout->addWidget(ui::OkCancelButtons(this));
  resize(640, 320);
  new ui::THelpKeys(this, u"ardanto-sched.html"_s);
}

QString TEventQueryDialog::Query() const
{
  return QueryFromEditing(edQuery->toPlainText());
}

bool TEventQueryDialog::Execute(QWidget* parent, const QString& title, QString& query)
{
  TEventQueryDialog dialog(parent, title, query);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  query = dialog.Query();
  return true;
}

} // namespace ardanto
