// Definitions in the Task Scheduler's XML: read, changed through the model
// and written back with everything the model does not know.

#include "scheduler/TaskPlatform.h"
#include "scheduler/WinTask.h"

#include "SchedulerTestSupport.h"

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::scheduler;
using namespace Qt::StringLiterals;

namespace {

// As the Windows scheduler exports a task (schtasks /query /xml), with
// elements of a newer scheduler version and of another vendor.
const char16_t* const kExport = uR"(<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.4" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Date>2023-11-05T19:42:10.1234567</Date>
    <Author>HOST\ann</Author>
    <Description>Nightly mail backup</Description>
    <URI>\Quillbox-default</URI>
  </RegistrationInfo>
  <Triggers>
    <CalendarTrigger id="nightly">
      <Repetition>
        <Interval>PT1H</Interval>
        <Duration>PT8H</Duration>
        <StopAtDurationEnd>false</StopAtDurationEnd>
      </Repetition>
      <StartBoundary>2023-11-06T02:30:00</StartBoundary>
      <EndBoundary>2024-11-05T23:59:59</EndBoundary>
      <ExecutionTimeLimit>PT72H</ExecutionTimeLimit>
      <Enabled>true</Enabled>
      <RandomDelay>PT10M</RandomDelay>
      <ScheduleByWeek>
        <DaysOfWeek>
          <Monday />
          <Friday />
        </DaysOfWeek>
        <WeeksInterval>2</WeeksInterval>
      </ScheduleByWeek>
    </CalendarTrigger>
    <WnfStateChangeTrigger>
      <StateName>7508BCA3380C960C</StateName>
    </WnfStateChangeTrigger>
  </Triggers>
  <Principals>
    <Principal id="Author">
      <UserId>S-1-5-21-1004336348-1177238915-682003330-1001</UserId>
      <LogonType>InteractiveToken</LogonType>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>true</StopIfGoingOnBatteries>
    <StartWhenAvailable>true</StartWhenAvailable>
    <IdleSettings>
      <StopOnIdleEnd>true</StopOnIdleEnd>
      <RestartOnIdle>false</RestartOnIdle>
    </IdleSettings>
    <UseUnifiedSchedulingEngine>true</UseUnifiedSchedulingEngine>
    <MaintenanceSettings>
      <Period>P1D</Period>
      <Deadline>P2D</Deadline>
    </MaintenanceSettings>
    <Priority>6</Priority>
  </Settings>
  <Data>Quillbox-default</Data>
  <Actions Context="Author">
    <Exec>
      <Command>"C:\Program Files\Ardanto6\Quillbox.exe"</Command>
      <Arguments>default /prompt:quiet /force</Arguments>
    </Exec>
  </Actions>
  <x:Vendor xmlns:x="urn:example:vendor" x:level="3">kept &amp; untouched</x:Vendor>
</Task>
)";

QByteArray Utf16WithBom(const QString& text)
{
  QByteArray bytes("\xFF\xFE", 2);
  bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  return bytes;
}

TEST(TaskXml, AnExportOfTheSchedulerIsReadAndWrittenBackWithWhatTheModelDoesNotKnow)
{
  const QString exported = QString::fromUtf16(kExport);
  TWinTask task(TSchedDefinition::FromXml(Utf16WithBom(exported)));

  EXPECT_EQ(task.Author(), u"HOST\\ann"_s);
  EXPECT_EQ(task.UserData(), u"Quillbox-default"_s);
  EXPECT_EQ(task.LogonType(), ltToken);
  EXPECT_TRUE(task.HighestRunLevel());
  EXPECT_EQ(task.Settings()->Compatibility(), tcWin10);
  EXPECT_TRUE(task.Settings()->RunIfMissed());
  EXPECT_FALSE(task.Settings()->DisallowOnBatteries());
  EXPECT_EQ(task.Settings()->Priority(), tpNormal);
  EXPECT_EQ(task.Settings()->MultipleInstances(), miIgnoreNew);
  ASSERT_EQ(task.ActionCount(), 1);
  EXPECT_EQ(task.GetAction(0)->Path(), u"C:\\Program Files\\Ardanto6\\Quillbox.exe"_s);
  ASSERT_EQ(task.TriggerCount(), 2);
  TWinTaskTrigger* weekly = task.GetTrigger(0);
  EXPECT_EQ(weekly->TriggerType(), ttWeekly);
  EXPECT_EQ(weekly->Id(), u"nightly"_s);
  EXPECT_EQ(weekly->DaysOfWeek(), 2 | 32);
  EXPECT_EQ(weekly->WeeksInterval(), 2);
  EXPECT_EQ(weekly->Interval(), 3600u);
  EXPECT_EQ(weekly->Duration(), 28800u);
  EXPECT_EQ(weekly->RandomDelay(), 600u);
  EXPECT_EQ(weekly->ExecutionTimeLimit(), 259200u);
  EXPECT_EQ(task.GetTrigger(1)->TriggerType(), ttCustom);
  EXPECT_DOUBLE_EQ(task.Date(), DateTimeFromQDateTime(QDateTime(QDate(2023, 11, 5), QTime(19, 42, 10))));

  // Changes through the model leave the rest alone.
  weekly->SetDaysOfWeek(4);
  task.SetDescription(u"Changed"_s);
  const QString written = task.XmlText();
  EXPECT_TRUE(written.startsWith(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"_s));
  for (const char16_t* kept :
       {u"<WnfStateChangeTrigger>", u"<StateName>7508BCA3380C960C</StateName>", u"<UseUnifiedSchedulingEngine>true",
        u"<Deadline>P2D</Deadline>", u"<x:Vendor xmlns:x=\"urn:example:vendor\" x:level=\"3\">kept &amp; untouched",
        u"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"", u"<Actions Context=\"Author\">",
        u"<Date>2023-11-05T19:42:10.1234567</Date>", u"<CalendarTrigger id=\"nightly\">"})
    EXPECT_TRUE(written.contains(QString::fromUtf16(kept))) << QString::fromUtf16(kept).toStdString();
  EXPECT_TRUE(written.contains(u"<Tuesday/>"_s));
  EXPECT_FALSE(written.contains(u"<Monday"_s));
  EXPECT_TRUE(written.contains(u"<Description>Changed</Description>"_s));

  // Read back, the written text is the same again, and so is what the model sees.
  TWinTask again(TSchedDefinition::FromXml(written));
  EXPECT_EQ(again.XmlText(), written);
  EXPECT_EQ(again.GetTrigger(0)->DaysOfWeek(), 4);
  // The UTF-8 form of a file reads the same.
  EXPECT_EQ(TSchedDefinition::FromXml(again.Definition()->XmlBytes())->XmlText(), written);
}

TEST(TaskXml, ActionsOfUnknownKindsAreKeptButNotListed)
{
  TWinTask task(TSchedDefinition::FromXml(uR"(<Task><Actions>
    <Exec><Command>/usr/bin/quillbox</Command></Exec><v:Script xmlns:v="urn:v">run.js</v:Script></Actions></Task>)"_s));
  ASSERT_EQ(task.ActionCount(), 1);
  EXPECT_EQ(task.IndexOfApp(QString()), 0);
  task.Actions().ClearAll();
  EXPECT_EQ(task.ActionCount(), 0);
  EXPECT_TRUE(task.XmlText().contains(u"run.js"_s));
}

TEST(TaskXml, ANewDefinitionCarriesTheSchedulersDefaults)
{
  const auto definition = TSchedDefinition::Create();
  const auto settings = definition->Settings();
  EXPECT_EQ(settings->Text(u"ExecutionTimeLimit"_s), u"PT72H"_s);
  EXPECT_EQ(settings->Priority(), 7);
  EXPECT_EQ(settings->MultipleInstances(), 2);
  EXPECT_EQ(definition->Principal()->Attribute(u"id"_s), u"Author"_s);
  EXPECT_EQ(definition->Triggers()->Count(), 0);
  EXPECT_EQ(definition->Actions()->Count(), 0);
  // Values the scheduler's defaults stand for when an element is missing.
  const auto bare = TSchedDefinition::FromXml(u"<Task/>"_s);
  EXPECT_TRUE(bare->Settings()->Bool(u"AllowStartOnDemand"_s, true));
  EXPECT_EQ(bare->Settings()->Compatibility(), 2);
  EXPECT_EQ(bare->Settings()->MultipleInstances(), 2);
}

} // namespace
