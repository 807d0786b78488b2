#pragma once

// The advanced options of a schedule: expiry, repetition, time limit and the
// power, wake-up and network conditions, and the editor of the wake-up
// kind's event query. The rules are those of scheduler/editor/ScheduleValues.h;
// these windows show them.

#include "scheduler/editor/ScheduleValues.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QPlainTextEdit;
class QSpinBox;
class QTimeEdit;
class QWidget;

namespace ardanto {

class TAdvancedScheduleDialog : public QDialog {
  Q_OBJECT

public:
  TAdvancedScheduleDialog(QWidget* parent, const TAdvancedSettings& settings, const QDate& today);

  TAdvancedFields Fields() const;
  // On OK: the settings take the fields.
  static bool Execute(QWidget* parent, TAdvancedSettings& settings);

  // What a click or a pick does, public so that tests drive them.
  void cbExpireClick();
  void cbRepeatClick();
  void cbLimitClick();
  void cbPowerOnlyClick();
  void IntervalUnitPicked(int unit);
  void DurationUnitPicked(int unit);
  void LimitUnitPicked(int unit);

private:
  void ShowFields(const TAdvancedFields& fields);

  QCheckBox* cbExpire;
  QDateEdit* deExpire;
  QTimeEdit* teExpire;
  QCheckBox* cbRepeat;
  QWidget* pnRepeat;
  QSpinBox* edInterval;
  QComboBox* cbxIntervalUnit;
  QSpinBox* edDuration;
  QComboBox* cbxDurationUnit;
  QCheckBox* cbStopAtEnd;
  QCheckBox* cbLimit;
  QSpinBox* edLimit;
  QComboBox* cbxLimitUnit;
  QCheckBox* cbReRun;
  QCheckBox* cbPowerOnly;
  QCheckBox* cbStopBattery;
  QCheckBox* cbWakeUp;
  QCheckBox* cbNetworkOnly;
};

// A number field with its unit list; shared by the wizard's pages.
void ShowNumberField(QSpinBox* number, QComboBox* unit, const TNumberField& field);
TNumberField NumberFieldOf(const QSpinBox* number, const QComboBox* unit);

class TEventQueryDialog : public QDialog {
  Q_OBJECT

public:
  TEventQueryDialog(QWidget* parent, const QString& title, const QString& query);
  QString Query() const;
  // On OK the query takes the text without its line breaks.
  static bool Execute(QWidget* parent, const QString& title, QString& query);

private:
  QPlainTextEdit* edQuery;
};

} // namespace ardanto
