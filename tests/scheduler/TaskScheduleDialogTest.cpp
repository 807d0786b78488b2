// The schedule wizard's windows (offscreen): what the window itself decides,
// navigation, enabling, units and the boxes that cannot all be cleared, and
// one whole run of Execute through the window.

#include "scheduler/backends/memory/MemoryTaskPlatform.h"
#include "scheduler/gui/AdvancedScheduleDlg.h"
#include "scheduler/gui/CheckComboBox.h"
#include "scheduler/gui/TaskSchedDlg.h"
#include "ui/Dialogs.h"

#include "SchedulerTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimer>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

const TDateTime kNow = DateTimeOf(QDate(2025, 6, 2), QTime(10, 20, 30));

TScheduleEnvironment TestEnvironment()
{
  TScheduleEnvironment env;
  env.ProgramPath = u"/opt/ardanto/bin/quillbox"_s;
  env.UserName = u"ann"_s;
  env.SamUserName = u"ann"_s;
  env.Now = [] { return kNow; };
  return env;
}

class TaskScheduleWindow : public ::testing::Test {
protected:
  void SetUp() override
  {
    FValues = TScheduleValues::Defaults(kNow, u"ann"_s);
    FValues.TaskName = u"Quillbox-default"_s;
  }

  void Open()
  {
    FDialog.ShowValues(FValues);
    FDialog.show();
  }

  template <class T> T* Find(const QString& name)
  {
    T* widget = FDialog.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }

  TScheduleValues FValues;
  TTaskScheduleDialog FDialog{nullptr, TestEnvironment()};
};

TEST_F(TaskScheduleWindow, NextLeadsToTheAccountPageAndBecomesDone)
{
  Open();
  auto* back = Find<QPushButton>(u"bbBack"_s);
  auto* next = Find<QPushButton>(u"bbNext"_s);
  EXPECT_EQ(FDialog.windowTitle(), u"Windows Scheduled Task Wizard (Thunderbird mail backup)"_s);
  EXPECT_FALSE(back->isEnabled());
  EXPECT_EQ(next->text(), u"Next"_s);
  EXPECT_FALSE(FDialog.OnAccountPage());

  next->click();
  EXPECT_TRUE(FDialog.OnAccountPage());
  EXPECT_TRUE(back->isEnabled());
  EXPECT_EQ(next->text(), u"Done"_s);
  // The logged-on user: the name is the current user, fixed, and no password.
  EXPECT_EQ(Find<QLineEdit>(u"edUserName"_s)->text(), u"ann"_s);
  EXPECT_TRUE(Find<QLineEdit>(u"edUserName"_s)->isReadOnly());
  EXPECT_FALSE(Find<QLineEdit>(u"edPassword"_s)->isVisible());

  back->click();
  EXPECT_FALSE(FDialog.OnAccountPage());
  EXPECT_FALSE(back->isEnabled());
  EXPECT_EQ(next->text(), u"Next"_s);
  EXPECT_TRUE(FDialog.isVisible());

  Find<QRadioButton>(u"rbWeekly"_s)->click();
  next->click();
  Find<QRadioButton>(u"rbPasswordUser"_s)->click();
  EXPECT_TRUE(Find<QLineEdit>(u"edPassword"_s)->isVisible());
  EXPECT_FALSE(Find<QLineEdit>(u"edUserName"_s)->isReadOnly());
  back->click();
  EXPECT_EQ(Find<QStackedWidget>(u"pcSteps"_s)->currentWidget()->objectName(), u"tsWeekly"_s)
      << "Back returns to the step panel of the chosen kind";
  next->click();
  next->click();
  EXPECT_FALSE(FDialog.isVisible());
  EXPECT_EQ(FDialog.result(), QDialog::Accepted);
}

TEST_F(TaskScheduleWindow, KindsShowTheirPanelsAndTheEventPagesTitle)
{
  Open();
  auto* steps = Find<QStackedWidget>(u"pcSteps"_s);
  const struct {
    const char* Radio;
    const char* Panel;
  } cases[] = {{"rbDaily", "tsDaily"},     {"rbWeekly", "tsWeekly"}, {"rbMonthly", "tsMonthly"},
               {"rbOneTime", "tsOneTime"}, {"rbLogon", "tsEvent"},   {"rbWakeUp", "tsEvent"}};
  for (const auto& c : cases) {
    Find<QRadioButton>(QString::fromLatin1(c.Radio))->click();
    EXPECT_EQ(steps->currentWidget()->objectName(), QString::fromLatin1(c.Panel)) << c.Radio;
  }
  EXPECT_EQ(Find<QLabel>(u"laEventTitle"_s)->text(), u"On waking up the computer:"_s);
  EXPECT_TRUE(Find<QPushButton>(u"btUserEvent"_s)->isVisible());
  EXPECT_FALSE(Find<QLabel>(u"laLogonUser"_s)->isVisible());
  Find<QRadioButton>(u"rbLogon"_s)->click();
  EXPECT_EQ(Find<QLabel>(u"laEventTitle"_s)->text(), u"On logon of:"_s);
  EXPECT_FALSE(Find<QPushButton>(u"btUserEvent"_s)->isVisible());
  EXPECT_EQ(Find<QLabel>(u"laLogonUser"_s)->text(), u"ann"_s);
  EXPECT_EQ(FDialog.Values().Kind, skLogon);

  // "Activate:" switches the event panel's start on and off.
  auto* activate = Find<QCheckBox>(u"cbActivate"_s);
  activate->click();
  EXPECT_FALSE(Find<QDateEdit>(u"deStart4"_s)->isEnabled());
  EXPECT_FALSE(FDialog.Values().Activate);
  activate->click();
  EXPECT_TRUE(Find<QTimeEdit>(u"teStart4"_s)->isEnabled());
}

TEST_F(TaskScheduleWindow, PickingAUnitResetsTheNumberAndItsLimit)
{
  Open();
  auto* number = Find<QSpinBox>(u"edRandomDelay"_s);
  auto* unit = Find<QComboBox>(u"cbxRandomDelayUnit"_s);
  EXPECT_EQ(number->value(), 30);
  EXPECT_EQ(unit->currentText(), u"seconds(s)"_s);
  EXPECT_FALSE(number->isEnabled()) << "until the delay is checked";
  Find<QCheckBox>(u"cbRandomDelay"_s)->click();
  EXPECT_TRUE(number->isEnabled());
  const struct {
    int Unit;
    int Number;
    int Limit;
    int Step;
    const char* Hint;
  } cases[] = {{duHours, 1, 24, 1, "Number of hour(s)"},
               {duMinutes, 1, 719, 10, "Number of minute(s)"},
               {duSeconds, 30, 599, 10, "Number of seconds(s)"}};
  for (const auto& c : cases) {
    number->setValue(7);
    unit->setCurrentIndex(c.Unit);
    emit unit->activated(c.Unit);
    EXPECT_EQ(number->value(), c.Number) << c.Hint;
    EXPECT_EQ(number->maximum(), c.Limit) << c.Hint;
    EXPECT_EQ(number->singleStep(), c.Step) << c.Hint;
    EXPECT_EQ(number->toolTip(), QString::fromLatin1(c.Hint));
  }
  // The event page's delay follows the same rules.
  auto* delayUnit = Find<QComboBox>(u"cbxDelayUnit"_s);
  delayUnit->setCurrentIndex(duMinutes);
  emit delayUnit->activated(duMinutes);
  EXPECT_EQ(Find<QSpinBox>(u"edDelay"_s)->maximum(), 719);

  // A loaded delay of 90 minutes is shown in minutes.
  FValues.RandomDelay = TDelayValue::FromSeconds(5400);
  Open();
  EXPECT_EQ(number->value(), 90);
  EXPECT_EQ(unit->currentIndex(), int(duMinutes));
  EXPECT_TRUE(Find<QCheckBox>(u"cbRandomDelay"_s)->isChecked());
  EXPECT_EQ(FDialog.Values().RandomDelay.Seconds(), 5400u);
}

TEST_F(TaskScheduleWindow, EveryEnablesTheDayCountAndTheMonthlyChoiceItsLists)
{
  Open();
  auto* days = Find<QSpinBox>(u"edDays"_s);
  EXPECT_FALSE(days->isEnabled());
  Find<QRadioButton>(u"rbEveryDays"_s)->click();
  EXPECT_TRUE(days->isEnabled());
  EXPECT_EQ(days->minimum(), 2);
  EXPECT_EQ(days->maximum(), 99);
  days->setValue(4);
  EXPECT_FALSE(FDialog.Values().EveryDay);
  EXPECT_EQ(FDialog.Values().DaysInterval, 4);
  Find<QRadioButton>(u"rbEveryDay"_s)->click();
  EXPECT_FALSE(days->isEnabled());

  auto* monthDays = Find<TCheckComboBox>(u"cbxMonthDays"_s);
  auto* weeks = Find<TCheckComboBox>(u"cbxMonthWeeks"_s);
  EXPECT_TRUE(monthDays->isEnabled());
  EXPECT_FALSE(weeks->isEnabled());
  EXPECT_EQ(weeks->DisplayText(), u"First"_s);
  EXPECT_EQ(Find<TCheckComboBox>(u"cbxMonthWeekDays"_s)->DisplayText(), u"Monday"_s);
  Find<QRadioButton>(u"rbMonthOn"_s)->click();
  EXPECT_FALSE(monthDays->isEnabled());
  EXPECT_TRUE(weeks->isEnabled());
  weeks->ToggleItem(4);
  Find<TCheckComboBox>(u"cbxMonthWeekDays"_s)->ToggleItem(6);
  EXPECT_EQ(weeks->DisplayText(), u"First, Last"_s);
  const TScheduleValues values = FDialog.Values();
  EXPECT_FALSE(values.ByDays);
  EXPECT_EQ(values.MonthWeeks, 1 | kLastWeekOfMonth);
  EXPECT_EQ(WeekdayListToScheduler(values.MonthWeekDays), kSchedMonday | kSchedSunday);
  monthDays->ToggleItem(31);
  monthDays->ToggleItem(0);
  EXPECT_EQ(FDialog.Values().MonthDays, 1u | kLastDayOfMonth);
  EXPECT_EQ(monthDays->DisplayText(), u"1, Last"_s);
}

TEST_F(TaskScheduleWindow, TheLastDayOrMonthCannotBeCleared)
{
  FValues.WeekDays = WeekdayBoxBit(1); // Tuesday
  FValues.Months = 1 << 5;             // June
  Open();
  auto* tuesday = Find<QCheckBox>(u"cbWeekDay1"_s);
  auto* monday = Find<QCheckBox>(u"cbWeekDay0"_s);
  EXPECT_FALSE(monday->isChecked());
  tuesday->click();
  EXPECT_FALSE(tuesday->isChecked());
  EXPECT_TRUE(monday->isChecked());
  EXPECT_EQ(FDialog.Values().WeekDays, kSchedMonday);
  Find<QCheckBox>(u"cbWeekDay6"_s)->click();
  monday->click();
  EXPECT_EQ(FDialog.Values().WeekDays, kSchedSunday) << "another day left checked: Monday stays off";

  Find<QCheckBox>(u"cbMonth5"_s)->click();
  EXPECT_TRUE(Find<QCheckBox>(u"cbMonth0"_s)->isChecked());
  EXPECT_EQ(FDialog.Values().Months, 1);

  // A loaded trigger without days shows none until a box is clicked.
  FValues.WeekDays = 0;
  Open();
  for (int i = 0; i < 7; ++i)
    EXPECT_FALSE(Find<QCheckBox>(u"cbWeekDay"_s + QString::number(i))->isChecked()) << i;
}

TEST_F(TaskScheduleWindow, TheStartIsOneValueOnEveryPanel)
{
  FValues.StartDate = QDate(2025, 7, 1);
  FValues.StartTime = QTime(8, 14, 40);
  Open();
  EXPECT_EQ(FDialog.Values().StartTime, QTime(8, 14, 40)) << "seconds are kept until the time is edited";
  Find<QDateEdit>(u"deStart2"_s)->setDate(QDate(2025, 8, 15));
  Find<QTimeEdit>(u"teStart4"_s)->setTime(QTime(21, 5));
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Find<QDateEdit>(u"deStart"_s + QString::number(i))->date(), QDate(2025, 8, 15)) << i;
    EXPECT_EQ(Find<QTimeEdit>(u"teStart"_s + QString::number(i))->time(), QTime(21, 5)) << i;
  }
  EXPECT_EQ(FDialog.Values().StartDate, QDate(2025, 8, 15));
  EXPECT_EQ(FDialog.Values().StartTime, QTime(21, 5));
}

TEST(AdvancedScheduleWindow, BatteryAndUnitsFollowTheirBoxes)
{
  TAdvancedSettings settings = TAdvancedSettings::Defaults(kNow);
  TAdvancedScheduleDialog dialog(nullptr, settings, QDate(2025, 6, 2));
  dialog.show();
  auto* power = dialog.findChild<QCheckBox*>(u"cbPowerOnly"_s);
  auto* battery = dialog.findChild<QCheckBox*>(u"cbStopBattery"_s);
  ASSERT_NE(power, nullptr);
  ASSERT_NE(battery, nullptr);
  EXPECT_EQ(dialog.windowTitle(), u"Advanced Schedule Options"_s);
  EXPECT_TRUE(battery->isChecked());
  power->click();
  EXPECT_FALSE(battery->isEnabled());
  EXPECT_FALSE(battery->isChecked());
  power->click();
  EXPECT_TRUE(battery->isEnabled());
  EXPECT_TRUE(battery->isChecked());

  EXPECT_FALSE(dialog.findChild<QWidget*>(u"pnRepeat"_s)->isEnabled());
  EXPECT_FALSE(dialog.findChild<QDateEdit*>(u"deExpire"_s)->isEnabled());
  EXPECT_EQ(dialog.findChild<QDateEdit*>(u"deExpire"_s)->date(), QDate(2026, 6, 2));
  dialog.findChild<QCheckBox*>(u"cbRepeat"_s)->click();
  EXPECT_TRUE(dialog.findChild<QWidget*>(u"pnRepeat"_s)->isEnabled());
  auto* interval = dialog.findChild<QSpinBox*>(u"edInterval"_s);
  auto* intervalUnit = dialog.findChild<QComboBox*>(u"cbxIntervalUnit"_s);
  EXPECT_EQ(interval->value(), 1);
  EXPECT_EQ(intervalUnit->currentIndex(), int(ruHours));
  intervalUnit->setCurrentIndex(ruMinutes);
  emit intervalUnit->activated(ruMinutes);
  EXPECT_EQ(interval->value(), 30);
  EXPECT_EQ(interval->maximum(), 1439);
  auto* limitUnit = dialog.findChild<QComboBox*>(u"cbxLimitUnit"_s);
  EXPECT_EQ(dialog.findChild<QSpinBox*>(u"edLimit"_s)->value(), 3);
  limitUnit->setCurrentIndex(luHours);
  emit limitUnit->activated(luHours);
  EXPECT_EQ(dialog.findChild<QSpinBox*>(u"edLimit"_s)->value(), 6);

  ApplyAdvancedFields(dialog.Fields(), settings);
  EXPECT_TRUE(settings.RepeatTask);
  EXPECT_EQ(settings.MinutesInterval, 30);
  EXPECT_EQ(settings.MinutesDuration, 480);
  EXPECT_EQ(settings.MinutesLimit, 360);
  EXPECT_FALSE(settings.UseLimit);
}

TEST(EventQueryWindow, ShowsOneElementALineAndGivesTheQueryBackInOne)
{
  TEventQueryDialog dialog(nullptr, u"On waking up the computer:"_s, DefaultWakeUpQuery());
  EXPECT_EQ(dialog.windowTitle(), u"On waking up the computer:"_s);
  EXPECT_EQ(dialog.Query(), DefaultWakeUpQuery());
}

// The main window's path: a name prompt answered, the wizard clicked through.
TEST(TaskScheduleExecute, RegistersWhatTheWindowShows)
{
  TMemoryTaskPlatform platform;
  ScopedTaskPlatform scoped(&platform);
  std::unique_ptr<TWinTaskScheduler> scheduler;
  ASSERT_EQ(ConnectTaskScheduler(scheduler), S_OK);
  TTaskScheduleDialog dialog(nullptr, TestEnvironment());
  dialog.InitTaskScheduler(scheduler.get());
  EXPECT_TRUE(dialog.IsAvailable());

  ui::TScopedResponders responders;
  QStringList prompts;
  responders.Text = [&](const QString& label, QString& value) {
    prompts.append(label + u'=' + value);
    return true;
  };
  QTimer::singleShot(0, &dialog, [&] {
    dialog.findChild<QRadioButton*>(u"rbWeekly"_s)->click();
    dialog.findChild<QCheckBox*>(u"cbWeekDay4"_s)->click(); // Friday besides Monday
    dialog.findChild<QPushButton*>(u"bbNext"_s)->click();
    dialog.findChild<QLineEdit*>(u"edDescription"_s)->setText(u"Mail of ann"_s);
    dialog.findChild<QPushButton*>(u"bbNext"_s)->click();
  });
  EXPECT_EQ(dialog.Execute(-1, paQuillbox, QString(), u"default"_s, u"default /prompt:quiet"_s, false), srRegistered);
  EXPECT_EQ(prompts, QStringList{u"Name of new scheduled task:=Quillbox-default"_s});
  EXPECT_EQ(dialog.GetUserTask(paQuillbox, u"default"_s), 1);
  TWinTask* task = scheduler->TaskFolder()->GetTask(0)->Definition();
  EXPECT_EQ(task->Description(), u"Mail of ann"_s);
  ASSERT_EQ(task->TriggerCount(), 1);
  EXPECT_EQ(task->GetTrigger(0)->TriggerType(), ttWeekly);
  EXPECT_EQ(task->GetTrigger(0)->DaysOfWeek(), kSchedMonday | 32);
  EXPECT_TRUE(dialog.GetStatus(1).startsWith(u"Status: Ready\r\n"_s));

  // Opened again on it, Cancel changes nothing.
  QTimer::singleShot(0, &dialog, [&] {
    EXPECT_EQ(dialog.findChild<QLineEdit*>(u"edTaskName"_s)->text(), u"Quillbox-default"_s);
    EXPECT_EQ(dialog.findChild<QLabel*>(u"laSchedule"_s)->text(), u"1st  Schedule"_s);
    EXPECT_TRUE(dialog.findChild<QCheckBox*>(u"cbWeekDay4"_s)->isChecked());
    dialog.findChild<QRadioButton*>(u"rbDaily"_s)->click();
    dialog.findChild<QPushButton*>(u"bbCancel"_s)->click();
  });
  EXPECT_EQ(dialog.Execute(1, paQuillbox, QString(), u"default"_s, u"default /prompt:quiet"_s, false), srCancelled);
  EXPECT_EQ(platform.Registrations.size(), 1);
}

} // namespace
