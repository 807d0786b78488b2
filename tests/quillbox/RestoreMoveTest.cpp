// Restoring and moving a profile's mail data without a window: real
// Thunderbird profiles, the recording engine in the current folder, and every
// question, choice and folder chooser answered from a script, with what was
// asked kept as a transcript.

#include "quillbox/MoveProfile.h"
#include "quillbox/ProgramState.h"
#include "quillbox/RestoreRun.h"

#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/InitProg.h"
#include "platform/Power.h"
#include "platform/ShellFileOps.h"
#include "support/RecordingEngine.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>

#include <sys/mount.h>

namespace {

using namespace Qt::StringLiterals;
using ardanto::TUnicodeIniFile;
using ardanto::test::ReadFile;
using ardanto::test::ScopedEnv;
using ardanto::test::TempDir;
using ardanto::test::TRecordingEngine;
using quillbox::TChoice;
using quillbox::TProgramState;

// One answer of the script: Yes or No, a button with the check box's new
// state, or a folder (empty: Cancel).
struct TAnswer {
  bool Yes = false;
  int Button = -1;
  std::optional<bool> Checked = {};
  QString Folder = {};
};
TAnswer Yes()
{
  return {true};
}
TAnswer No()
{
  return {false};
}
TAnswer Press(int button, std::optional<bool> checked = {})
{
  return {false, button, checked};
}
TAnswer Cancel()
{
  return Press(-1);
}
TAnswer Folder(const QString& folder)
{
  return {false, -1, {}, folder};
}

// The buttons of the restore's choices.
constexpr int kOther = 0;
constexpr int kContinue = 1;
constexpr int kCloseContinue = 0;

class TScriptedView : public quillbox::IProgramView, public quillbox::IMailDataView {
public:
  // IProgramView and IMailDataView
  void ShowError(const QString& text) override { Transcript.append(u"error: "_s + text); }
  void ProcessEvents() override
  {
    ++Events;
    if (OnEvents)
      OnEvents();
  }
  bool RetryVolume(const QString& question) override
  {
    Transcript.append(u"retry: "_s + question);
    return false;
  }

  bool AskYesNo(const QString& text) override
  {
    Transcript.append(u"ask: "_s + text);
    return Next().Yes;
  }
  int Choose(TChoice& choice) override
  {
    Transcript.append(u"choice: "_s + choice.Text);
    Choices.push_back(choice);
    const TAnswer answer = Next();
    if (answer.Checked)
      choice.Checked = *answer.Checked;
    return answer.Button;
  }
  bool SelectFolder(const QString& title, const QString& start, QString& folder) override
  {
    Transcript.append(u"folder: "_s + title + u" @ "_s + start);
    folder = Next().Folder;
    return !folder.isEmpty();
  }
  void ShowPlainError(const QString& text) override { Transcript.append(u"plain error: "_s + text); }
  void ShowInfo(const QString& text) override { Transcript.append(u"info: "_s + text); }
  QString Caption() const override { return u"Quillbox - Backup of Thunderbird mail data"_s; }
  bool ThunderbirdRunning(const QStringList& profileFolders) override
  {
    Probed.append(profileFolders);
    if (Running.empty())
      return false;
    const bool running = Running.front();
    Running.pop_front();
    return running;
  }

  std::deque<TAnswer> Script;
  std::deque<bool> Running;
  QStringList Transcript;
  std::vector<TChoice> Choices;
  QList<QStringList> Probed;
  int Events = 0;
  std::function<void()> OnEvents;

private:
  TAnswer Next()
  {
    if (Script.empty()) {
      ADD_FAILURE() << "a dialog the script does not answer: " << Transcript.last().toStdString();
      return TAnswer{};
    }
    const TAnswer answer = Script.front();
    Script.pop_front();
    return answer;
  }
};

// A file with the folders it needs.
void Put(const QString& file, const QByteArray& bytes)
{
  QDir().mkpath(QFileInfo(file).path());
  ardanto::test::WriteFile(file, bytes);
}

QString IniValue(const QString& file, const QString& section, const QString& key)
{
  return TUnicodeIniFile::CreateForRead(file).ReadString(section, key, u"?"_s);
}

// The task as the engine read it.
QString TaskValue(const QString& taskText, const QString& section, const QString& key)
{
  TempDir dir;
  const QString file = dir.Write(u"task.ini"_s, taskText.toUtf8());
  return TUnicodeIniFile::CreateForRead(file, ardanto::TIniEncoding::Utf8NoMark).ReadString(section, key, u"?"_s);
}

// Every file and folder below folder with its size, for "nothing changed".
QStringList Tree(const QString& folder)
{
  QStringList entries;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info = it.nextFileInfo();
    entries.append(info.filePath().mid(folder.size()) + u' ' +
                   (info.isDir() ? u"dir"_s : QString::number(info.size())));
  }
  entries.sort();
  return entries;
}

class MailDataTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FHomeDir = FDir.Path() + u"/home"_s;
    ASSERT_TRUE(QDir().mkpath(FHomeDir));
    FHome = ardanto::test::CopyThunderbirdHome(FHomeDir);
    FEnvHome = std::make_unique<ScopedEnv>("HOME", FHomeDir.toUtf8());
    FEnvConfig = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (FDir.Path() + u"/config"_s).toUtf8());
    FWork = FDir.Path() + u"/work"_s;
    ASSERT_TRUE(QDir().mkpath(FWork));
    FOldFolder = QDir::currentPath();
    QDir::setCurrent(FWork);
    FEngine = std::make_unique<TRecordingEngine>(FWork);
    FOldPower = ardanto::platform::SetPowerBackend(&FPower);
    FBackup = FDir.Path() + u"/backup"_s;
    FMail = FHome.ProfileFolder(u"alpha"_s);
  }
  void TearDown() override
  {
    ardanto::platform::SetPowerBackend(FOldPower);
    QDir::setCurrent(FOldFolder);
  }

  // As the window leaves it after its start: alpha chosen, its task saved
  // and loaded.
  TProgramState& Start(const QStringList& arguments = {})
  {
    QDir().mkpath(FDir.Path() + u"/config/Ardanto6"_s);
    Put(FDir.Path() + u"/config/Ardanto6/Quillbox.ini"_s, "[Config]\nBackupDirectory=" + FBackup.toUtf8() + "\n");
    FView = std::make_unique<TScriptedView>();
    FState = std::make_unique<TProgramState>(*FView);
    FState->Create(arguments);
    EXPECT_TRUE(FState->CheckPrerequisites());
    EXPECT_TRUE(FState->ChooseProfile(u"alpha"_s));
    EXPECT_TRUE(FState->SaveTask(FState->BuTaskName, false));
    EXPECT_TRUE(FState->LoadTask(FState->BuTaskName));
    return *FState;
  }
  // Where a backup of the profile's folder lies in the backup folder.
  QString SourceInBackup() const { return FBackup + FMail; }

  TempDir FDir;
  QString FHomeDir;
  ardanto::test::ThunderbirdHome FHome;
  std::unique_ptr<ScopedEnv> FEnvHome;
  std::unique_ptr<ScopedEnv> FEnvConfig;
  QString FWork;
  QString FOldFolder;
  QString FBackup;
  QString FMail;
  std::unique_ptr<TRecordingEngine> FEngine;
  ardanto::platform::TRecordingPowerBackend FPower;
  ardanto::platform::TPowerBackend* FOldPower = nullptr;
  std::unique_ptr<TScriptedView> FView;
  std::unique_ptr<TProgramState> FState;
};

TEST(DetectBackupFormat, TellsTheStoredFormByPrefsJs)
{
  const struct {
    QStringList Files;
    int Format;
  } cases[] = {
      {{u"prefs.js.zip"_s}, 3},
      {{u"prefs.js.gz"_s, u"prefs.js.zip"_s}, 3},
      {{u"prefs.js.gz"_s}, 1},
      {{u"prefs.js.gze"_s}, 1},
      {{u"prefs.js"_s, u"prefs.js.gze"_s}, 1},
      {{u"prefs.js"_s}, 0},
      {{u"user.js"_s, u"Mail/prefs.js"_s}, -1},
      {{u"prefs.js.zip/inside"_s}, -1}, // a folder of that name is no stored file
      {{}, -1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const QString& file : c.Files)
      dir.Write(file, "x");
    EXPECT_EQ(quillbox::DetectBackupFormat(dir.Path()), c.Format) << c.Files.join(u',').toStdString();
    EXPECT_EQ(quillbox::DetectBackupFormat(dir.Path() + u'/'), c.Format);
  }
  EXPECT_EQ(quillbox::DetectBackupFormat(u"/nonexistent/backup"_s), -1);
}

TEST(RestoreStartFolder, IsTheNearestFolderThatExists)
{
  TempDir dir;
  dir.Write(u"backup/bu-profiles.ini.txt"_s, "x");
  const QString backup = dir.Path() + u"/backup"_s;
  const struct {
    QString Source;
    QString RealDir;
    QString Start;
  } cases[] = {
      {backup, backup, backup},
      {backup + u"/bu-profiles.ini"_s, backup, backup},
      {backup + u"/home/ann/.thunderbird/x.default"_s, backup, backup},
      {u":NOTHERE:/mail/bu-profiles.ini"_s, backup + u"/%year%/x"_s, backup + u'/'},
      {u"bu-profiles.ini"_s, QString(), u"/docs/"_s},
      {u":NOTHERE:/bu-profiles.ini"_s, u":NOTHERE:/mail"_s, u"/docs/"_s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quillbox::RestoreStartFolder(c.Source, c.RealDir, u"/docs/"_s), c.Start) << c.Source.toStdString();
}

TEST_F(MailDataTest, TheRestoreStartsTheEngineWithItsTaskKeyByKey)
{
  Put(SourceInBackup() + u"/prefs.js.zip"_s, "zip");
  QString error;
  ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
  TProgramState& state = Start({u"/logdir:"_s + FDir.Path() + u"/logs"_s});
  state.Task.LogKind = quillbox::lkLong;
  state.Task.DriveId = u"Lw?"_s;
  FView->Script = {Press(kContinue)};
  ASSERT_TRUE(quillbox::StartRestore(state, *FView)) << FView->Transcript.join(u'\n').toStdString();

  const auto calls = FEngine->Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(state.ReTaskName, state.JobDir + u"tb-alpha.rsj"_s);
  EXPECT_EQ(calls[0].Arguments, (QStringList{state.ReTaskName, u"/hide"_s, u"/prompt:wait"_s, u"/restore"_s}));
  EXPECT_EQ(calls[0].WorkingFolder, FWork);
  ASSERT_TRUE(calls[0].TaskRead);

  const TUnicodeIniFile task = TUnicodeIniFile::CreateForRead(state.ReTaskName);
  EXPECT_EQ(task.ReadSections(), (QStringList{u"Unicode"_s, u"Restore"_s}));
  EXPECT_EQ(task.ReadString(u"Unicode"_s, u"Program"_s, {}), u"Ardanto"_s);
  const QList<std::pair<QString, QString>> keys = {
      {u"Source"_s, SourceInBackup()}, {u"DestDir"_s, FMail},
      {u"Origin"_s, u"0"_s},           {u"Overwrite"_s, u"0"_s},
      {u"RestoreMode"_s, u"0"_s},      {u"ClearDest"_s, u"1"_s},
      {u"LogFile"_s, u"2"_s},          {u"LogName"_s, FDir.Path() + u"/logs/%taskname%.log"_s},
      {u"CreationTime"_s, u"1"_s},     {u"CopyPermissions"_s, u"0"_s},
      {u"AllowJunctions"_s, u"0"_s},   {u"CopySummary"_s, u"0"_s},
      {u"EmptyDirs"_s, u"0"_s},        {u"UnCompress"_s, u"3"_s},
      {u"NoDecrypt"_s, u"0"_s},        {u"Password"_s, QString()},
      {u"SecurityCopies"_s, u"0"_s},   {u"BakSecMode"_s, u"0"_s},
      {u"BakDirs"_s, u"1"_s},          {u"BakFiles"_s, u"1"_s},
      {u"BakPrefix"_s, u"~"_s},        {u"BakSuffix"_s, u"bak"_s},
      {u"SyncSecMode"_s, u"0"_s},      {u"SyncDirs"_s, u"1"_s},
      {u"SyncFiles"_s, u"1"_s},        {u"SyncPrefix"_s, u"_"_s},
      {u"SyncSuffix"_s, u"sync"_s},    {u"DriveId"_s, u"Lw?"_s},
      {u"Timespan"_s, u"2"_s},         {u"IgnoreDst"_s, u"1"_s},
      {u"FtpBackup"_s, u"0"_s},
  };
  QStringList names;
  for (const auto& [key, value] : keys) {
    names.append(key);
    EXPECT_EQ(task.ReadString(u"Restore"_s, key, u"?"_s), value) << key.toStdString();
    EXPECT_EQ(TaskValue(calls[0].TaskText, u"Restore"_s, key), value) << "as the engine read it: " << key.toStdString();
  }
  EXPECT_EQ(task.ReadSection(u"Restore"_s), names) << "every key, in order, and no DirPrefix";

  // The window's first choice as the user sees it; the others are in the
  // table below by their texts.
  ASSERT_EQ(FView->Choices.size(), 1u);
  const TChoice& choice = FView->Choices[0];
  EXPECT_EQ(choice.Title, u"Restore mail data from: "_s + FBackup + u'/');
  EXPECT_EQ(choice.Buttons, (QStringList{u"Other directory"_s, u"Continue"_s}));
  EXPECT_EQ(choice.CheckText, u"Clear mail profile completely prior to restoring"_s);
  EXPECT_EQ(choice.Focus, kContinue);
  EXPECT_EQ(FView->Probed, QList<QStringList>{{FMail}}) << "Thunderbird is looked for before the engine starts";
}

// Each path through the restore's questions, from the backup folder as it
// was left to what the engine is given.
TEST_F(MailDataTest, TheRestorePathsFromTheBackupFolderToTheEngine)
{
  const QString other = FDir.Path() + u"/other"_s;
  const QString full = FDir.Path() + u"/full"_s;
  const QString data = FDir.Path() + u"/data"_s;
  const QString nodata = FDir.Path() + u"/nodata"_s;
  enum TBackup { bkNone, bkFolderOnly, bkRecorded, bkRecordedElsewhere, bkRecordedNoSource, bkRecordedNoData };
  const QString restoreChoice = u"choice: Restoring mail data to \""_s + FMail +
                                u"\" will overwrite all existing mails of profile \"Default user\"!"_s;
  const QString noInfo =
      u"ask: Could not find backup information for selected profile!\r\nSelect backup directory manually?"_s;
  const QString closeThunderbird = u"choice: Please close the running Thunderbird application\r\n"_s
                                   u"and then click \"Continue\" to start the restore!"_s;
  const QString chooseSource = u"folder: Select directory from which to restore files @ "_s;
  const QString chooseTarget = u"folder: Select directory to which to restore files @ "_s;
  const struct {
    const char* Name;
    TBackup Backup;
    std::deque<TAnswer> Script;
    std::deque<bool> Running;
    QStringList Transcript;
    // What the engine is given; no engine when Source is empty.
    QString Source = {};
    QString Target = {};
    bool Clear = false;
    int UnCompress = 3;
  } cases[] = {
      {"the recorded folder, restored into the profile with clearing",
       bkRecorded,
       {Press(kContinue)},
       {},
       {restoreChoice},
       SourceInBackup(),
       FMail,
       true},
      {"the same without clearing",
       bkRecorded,
       {Press(kContinue, false)},
       {},
       {restoreChoice},
       SourceInBackup(),
       FMail},
      {"profiles.ini changed since the backup: no",
       bkRecordedElsewhere,
       {No()},
       {},
       {u"ask: Thunderbird configuration was changed since last backup!\r\n"
        u"Restore data of profile \"Default user\" anyway?"_s}},
      {"profiles.ini changed since the backup: yes takes the source of the current folder",
       bkRecordedElsewhere,
       {Yes(), Press(kContinue)},
       {},
       {u"ask: Thunderbird configuration was changed since last backup!\r\n"
        u"Restore data of profile \"Default user\" anyway?"_s,
        restoreChoice},
       SourceInBackup(),
       FMail,
       true},
      {"no bu-profiles.ini: no", bkFolderOnly, {No()}, {}, {noInfo}},
      {"no bu-profiles.ini: a folder without Thunderbird data, then one with gzip files",
       bkFolderOnly,
       {Yes(), Folder(nodata), Folder(data), Press(kContinue)},
       {},
       {noInfo, chooseSource + FBackup, u"error: No Thunderbird data found in \""_s + nodata + u"\"!"_s,
        chooseSource + nodata, restoreChoice},
       data,
       FMail,
       true,
       1},
      {"no backup folder at all: the chooser starts above it",
       bkNone,
       {Yes(), Folder(QString())},
       {},
       {noInfo, chooseSource + FDir.Path()}},
      {"the recorded folder is gone: no",
       bkRecordedNoSource,
       {No()},
       {},
       {u"ask: Could not find backup directory \""_s + SourceInBackup() + u"\"!\r\nRestore from another directory?"_s}},
      {"the recorded folder is gone: another one",
       bkRecordedNoSource,
       {Yes(), Folder(data), Press(kContinue)},
       {},
       {u"ask: Could not find backup directory \""_s + SourceInBackup() + u"\"!\r\nRestore from another directory?"_s,
        chooseSource + FBackup, restoreChoice},
       data,
       FMail,
       true,
       1},
      {"the recorded folder holds no Thunderbird data",
       bkRecordedNoData,
       {Folder(QString())},
       {},
       {u"error: No Thunderbird data found in \""_s + SourceInBackup() + u"\"!"_s, chooseSource + SourceInBackup()}},
      {"the first choice cancelled", bkRecorded, {Cancel()}, {}, {restoreChoice}},
      {"other directory, empty: no second question, the first one's clearing kept",
       bkRecorded,
       {Press(kOther, false), Folder(other)},
       {},
       {restoreChoice, chooseTarget + FMail},
       SourceInBackup(),
       other},
      {"other directory, not empty: asked again, then an empty one",
       bkRecorded,
       {Press(kOther, true), Folder(full), Press(kOther, false), Folder(other)},
       {},
       {restoreChoice, chooseTarget + FMail, u"choice: The selected directory \""_s + full + u"\" is not empty!"_s,
        chooseTarget + full},
       SourceInBackup(),
       other},
      {"other directory, not empty: continue with clearing",
       bkRecorded,
       {Press(kOther, false), Folder(full), Press(kContinue)},
       {},
       {restoreChoice, chooseTarget + FMail, u"choice: The selected directory \""_s + full + u"\" is not empty!"_s},
       SourceInBackup(),
       full,
       true},
      {"other directory cancelled",
       bkRecorded,
       {Press(kOther), Folder(QString())},
       {},
       {restoreChoice, chooseTarget + FMail}},
      {"other directory not empty, cancelled",
       bkRecorded,
       {Press(kOther), Folder(full), Cancel()},
       {},
       {restoreChoice, chooseTarget + FMail, u"choice: The selected directory \""_s + full + u"\" is not empty!"_s}},
      {"a target that holds the backup",
       bkRecorded,
       {Press(kOther), Folder(FDir.Path()), Press(kContinue)},
       {},
       {restoreChoice, chooseTarget + FMail,
        u"choice: The selected directory \""_s + FDir.Path() + u"\" is not empty!"_s,
        u"error: The restore target \""_s + FDir.Path() + u"\" and the backup \""_s + SourceInBackup() +
            u"\" overlap"_s}},
      {"Thunderbird running, then closed",
       bkRecorded,
       {Press(kContinue), Press(kCloseContinue)},
       {true, false},
       {restoreChoice, closeThunderbird},
       SourceInBackup(),
       FMail,
       true},
      {"Thunderbird still running",
       bkRecorded,
       {Press(kContinue), Press(kCloseContinue)},
       {true, true},
       {restoreChoice, closeThunderbird, u"error: Thunderbird is still running - restore aborted!"_s}},
      {"Thunderbird running, cancelled",
       bkRecorded,
       {Press(kContinue), Cancel()},
       {true},
       {restoreChoice, closeThunderbird}},
  };
  const QByteArray profilesIni = ReadFile(FHome.ProfilesIni());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QFile::remove(FWork + u"/calls.jsonl"_s);
    QFile::remove(FHome.ProfilesIni());
    Put(FHome.ProfilesIni(), profilesIni);
    for (const QString& folder : {FBackup, other, full, data, nodata})
      QDir(folder).removeRecursively();
    QDir().mkpath(other);
    Put(full + u"/old-mail"_s, "old");
    Put(data + u"/prefs.js.gze"_s, "gze");
    Put(nodata + u"/user.js"_s, "js");
    QString error;
    switch (c.Backup) {
    case bkNone:
      break;
    case bkFolderOnly:
      QDir().mkpath(FBackup);
      break;
    case bkRecorded:
      Put(SourceInBackup() + u"/prefs.js.zip"_s, "zip");
      ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
      break;
    case bkRecordedElsewhere:
      Put(SourceInBackup() + u"/prefs.js.zip"_s, "zip");
      ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FDir.Path() + u"/old-place"_s, error));
      break;
    case bkRecordedNoSource:
      QDir().mkpath(FBackup);
      ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
      break;
    case bkRecordedNoData:
      Put(SourceInBackup() + u"/abook.sqlite.zip"_s, "zip");
      ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
      break;
    }
    TProgramState& state = Start();
    QFile::remove(state.ReTaskName);
    FView->Script = c.Script;
    FView->Running = c.Running;

    const bool restored = quillbox::StartRestore(state, *FView);
    EXPECT_EQ(FView->Transcript, c.Transcript);
    EXPECT_TRUE(FView->Script.empty()) << "every answer was asked for";
    const auto calls = FEngine->Calls();
    EXPECT_EQ(restored, !c.Source.isEmpty());
    if (c.Source.isEmpty()) {
      EXPECT_TRUE(calls.empty());
      EXPECT_EQ(ReadFile(FHome.ProfilesIni()), profilesIni);
      EXPECT_EQ(state.MailDir, FMail);
      EXPECT_FALSE(state.Task.Changed);
      continue;
    }
    ASSERT_EQ(calls.size(), 1u);
    const QString& task = calls[0].TaskText;
    EXPECT_EQ(TaskValue(task, u"Restore"_s, u"Source"_s), c.Source);
    EXPECT_EQ(TaskValue(task, u"Restore"_s, u"DestDir"_s), c.Target);
    EXPECT_EQ(TaskValue(task, u"Restore"_s, u"ClearDest"_s), c.Clear ? u"1"_s : u"0"_s);
    EXPECT_EQ(TaskValue(task, u"Restore"_s, u"UnCompress"_s), QString::number(c.UnCompress));
    // A restore into another folder makes it the profile's.
    const bool moved = c.Target != FMail;
    EXPECT_EQ(state.MailDir, c.Target);
    EXPECT_EQ(state.Task.Changed, moved);
    EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"Name"_s), u"alpha"_s);
    if (moved) {
      EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"Path"_s), c.Target);
      EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"IsRelative"_s), u"0"_s);
    } else {
      EXPECT_EQ(ReadFile(FHome.ProfilesIni()), profilesIni);
    }
  }
}

TEST_F(MailDataTest, ARestoreIntoAnotherFolderMovesTheProfileWhateverTheEngineReports)
{
  Put(SourceInBackup() + u"/prefs.js"_s, "plain");
  QString error;
  ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
  const QString other = FDir.Path() + u"/other"_s;
  QDir().mkpath(other);
  TProgramState& state = Start();
  FEngine->SetExitCode(4);
  FView->Script = {Press(kOther), Folder(other)};
  EXPECT_FALSE(quillbox::StartRestore(state, *FView));
  EXPECT_EQ(FView->Transcript.last(), u"error: Error reported by Ardanto: Errors during backup!"_s);
  EXPECT_EQ(TaskValue(FEngine->Calls().at(0).TaskText, u"Restore"_s, u"UnCompress"_s), u"0"_s);
  EXPECT_EQ(state.MailDir, other);
  EXPECT_TRUE(state.Task.Changed);
  EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"Path"_s), other);
  EXPECT_EQ(state.Profiles.ProfileList().GetFullPath(u"alpha"_s), other);
  EXPECT_EQ(FView->Probed, (QList<QStringList>{{FMail, other}})) << "both folders are looked at for Thunderbird's lock";
}

TEST_F(MailDataTest, ARestoreTaskThatCannotBeSavedStartsNoEngine)
{
  Put(SourceInBackup() + u"/prefs.js.zip"_s, "zip");
  QString error;
  ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
  TProgramState& state = Start();
  const QString file = FDir.Write(u"a-file"_s, "x");
  state.ReTaskName = file + u"/tb-alpha.rsj"_s;
  FView->Script = {Press(kContinue)};
  EXPECT_FALSE(quillbox::StartRestore(state, *FView));
  ASSERT_EQ(FView->Transcript.size(), 2);
  EXPECT_TRUE(FView->Transcript[1].startsWith(u"plain error: Error saving task \""_s + state.ReTaskName + u"\"!"_s))
      << FView->Transcript[1].toStdString();
  EXPECT_TRUE(FEngine->Calls().empty());
  EXPECT_TRUE(FView->Probed.isEmpty());
}

TEST_F(MailDataTest, AProfileThatIsGoneIsNotRestored)
{
  TProgramState& state = Start();
  ASSERT_TRUE(QDir(FMail).removeRecursively());
  EXPECT_FALSE(quillbox::StartRestore(state, *FView));
  EXPECT_EQ(FView->Transcript, QStringList{u"error: Profile \"alpha\" not found!"_s});
  EXPECT_TRUE(FEngine->Calls().empty());
}

TEST_F(MailDataTest, ASecondStartWhileTheRestoreRunsIsRefusedAndTheWindowGetsItsEvents)
{
  Put(SourceInBackup() + u"/prefs.js.zip"_s, "zip");
  QString error;
  ASSERT_TRUE(quillbox::WriteBackupInfo(FBackup, u"alpha"_s, FMail, error));
  TProgramState& state = Start();
  FEngine->Hold();
  bool backup = true;
  bool restore = true;
  bool tried = false;
  FView->OnEvents = [&] {
    if (tried)
      return;
    tried = true;
    EXPECT_TRUE(state.EngineRunning());
    backup = state.StartBackup(state.BuTaskName, false);
    restore = quillbox::StartRestore(state, *FView);
    FEngine->Release();
  };
  FView->Script = {Press(kContinue)};
  EXPECT_TRUE(quillbox::StartRestore(state, *FView));
  EXPECT_GT(FView->Events, 0);
  EXPECT_FALSE(backup);
  EXPECT_FALSE(restore);
  const QString refused = u"error: "_s + quillbox::EngineStillRunningText();
  EXPECT_EQ(FView->Transcript.mid(1), (QStringList{refused, refused}));
  EXPECT_EQ(FEngine->Calls().size(), 1u);
  FEngine->Release();
}

// ---------------------------------------------------------------------------
// Move

TEST_F(MailDataTest, AMoveOnOneFileSystemTakesTheFolderAndProfilesIniAlong)
{
  TProgramState& state = Start();
  const QStringList before = Tree(FMail);
  const QString target = FDir.Path() + u"/mail store/alpha"_s;
  FView->Script = {Yes(), Folder(target + u'/')};
  ASSERT_TRUE(quillbox::MoveMailData(state, *FView)) << FView->Transcript.join(u'\n').toStdString();
  const QString mailStart = state.UserPath + u"Mail"_s;
  EXPECT_EQ(FView->Transcript, (QStringList{u"ask: Move mail data of the selected profile to a different location?"_s,
                                            u"folder: Select new mail folder @ "_s + mailStart,
                                            u"info: Mail data successfully moved to:\r\n\""_s + target + u'"'}));
  EXPECT_EQ(Tree(target), before);
  EXPECT_TRUE(QFileInfo(FMail).isDir()) << "the old folder is made again";
  EXPECT_EQ(Tree(FMail), QStringList());
  EXPECT_FALSE(QFileInfo::exists(mailStart)) << "the chooser's start folder was made for it and is empty";
  EXPECT_EQ(state.MailDir, target);
  EXPECT_TRUE(state.Task.Changed);
  EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"Path"_s), target);
  EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"IsRelative"_s), u"0"_s);
  EXPECT_EQ(FView->Probed, QList<QStringList>{{FMail}});

  // Back below Thunderbird's folder, the path is relative again.
  const QString home = FHome.DataFolder + u"moved.alpha"_s;
  FView->Transcript.clear();
  FView->Script = {Yes(), Folder(home)};
  ASSERT_TRUE(quillbox::MoveMailData(state, *FView)) << FView->Transcript.join(u'\n').toStdString();
  EXPECT_EQ(FView->Transcript.last(), u"info: Mail data successfully moved to:\r\n\"<Thunderbird>/moved.alpha\""_s);
  EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"Path"_s), u"moved.alpha"_s);
  EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"IsRelative"_s), u"1"_s);
  EXPECT_EQ(Tree(home), before);
}

TEST_F(MailDataTest, AMoveThatIsRefusedOrCancelledChangesNothing)
{
  const QString full = FDir.Path() + u"/full"_s;
  enum TStart { stMissing, stExisting };
  const QString question = u"ask: Move mail data of the selected profile to a different location?"_s;
  const QString closeThunderbird =
      u"choice: Please close the running Thunderbird application\r\nand then click \"Continue\" to move mail data!"_s;
  const QString choose = u"folder: Select new mail folder @ "_s;
  const struct {
    const char* Name;
    TStart Start;
    std::deque<TAnswer> Script;
    std::deque<bool> Running;
    QStringList Transcript; // "{start}": the chooser's start folder
  } cases[] = {
      {"no", stMissing, {No()}, {}, {question}},
      {"Thunderbird still running",
       stMissing,
       {Yes(), Press(kCloseContinue)},
       {true, true},
       {question, closeThunderbird, u"error: Thunderbird is still running - cannot move mail data!"_s}},
      {"Thunderbird running, cancelled", stMissing, {Yes(), Cancel()}, {true}, {question, closeThunderbird}},
      {"the chooser cancelled: the start folder it made goes",
       stMissing,
       {Yes(), Folder(QString())},
       {},
       {question, choose + u"{start}"_s}},
      {"the chooser cancelled: a start folder that was there stays",
       stExisting,
       {Yes(), Folder(QString())},
       {},
       {question, choose + u"{start}"_s}},
      {"the profile's own folder",
       stMissing,
       {Yes(), Folder(FMail + u'/')},
       {},
       {question, choose + u"{start}"_s,
        u"error: The source directory is the same as the destination directory:\r\n"_s + FMail}},
      {"a folder that is not empty",
       stMissing,
       {Yes(), Folder(full)},
       {},
       {question, choose + u"{start}"_s,
        u"error: Error moving mail data from \""_s + FMail + u"\"\r\nto \""_s + full +
            u"\"\r\nDirectory not empty (0x00000027)"_s}},
      {"a folder inside the profile: the folders made for it go again",
       stMissing,
       {Yes(), Folder(FMail + u"/sub/inner"_s)},
       {},
       {question, choose + u"{start}"_s,
        u"error: Error moving mail data from \""_s + FMail + u"\"\r\nto \""_s + FMail +
            u"/sub/inner\"\r\nInvalid argument (0x00000016)"_s}},
      {"a folder that cannot be made",
       stMissing,
       {Yes(), Folder(FDir.Path() + u"/a-file/mail"_s)},
       {},
       {question, choose + u"{start}"_s,
        u"error: Could not create directory:\r\n\""_s + FDir.Path() + u"/a-file/mail\""_s}},
  };
  FDir.Write(u"a-file"_s, "x");
  Put(full + u"/old-mail"_s, "old");
  const QByteArray profilesIni = ReadFile(FHome.ProfilesIni());
  const QStringList before = Tree(FMail);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TProgramState& state = Start();
    const QString start = state.UserPath + u"Mail"_s;
    QDir(start).removeRecursively();
    if (c.Start == stExisting)
      QDir().mkpath(start);
    FView->Script = c.Script;
    FView->Running = c.Running;
    EXPECT_FALSE(quillbox::MoveMailData(state, *FView));
    QStringList expected = c.Transcript;
    expected.replaceInStrings(u"{start}"_s, start);
    EXPECT_EQ(FView->Transcript, expected);
    EXPECT_TRUE(FView->Script.empty()) << "every answer was asked for";
    EXPECT_EQ(Tree(FMail), before);
    EXPECT_EQ(ReadFile(FHome.ProfilesIni()), profilesIni);
    EXPECT_EQ(state.MailDir, FMail);
    EXPECT_FALSE(state.Task.Changed);
    EXPECT_EQ(QFileInfo(start).isDir(), c.Start == stExisting);
    EXPECT_EQ(Tree(full), QStringList{u"/old-mail 3"_s});
  }
}

TEST_F(MailDataTest, AProfilesIniThatCannotTakeTheNewPlaceGetsTheDataMovedBack)
{
  TProgramState& state = Start();
  const QStringList before = Tree(FMail);
  const QString target = FDir.Path() + u"/new"_s;
  // Thunderbird (or someone) rewrites profiles.ini while the chooser is open.
  QByteArray changed = ReadFile(FHome.ProfilesIni());
  changed.replace("Name=alpha", "Name=renamed");
  FView->Script = {Yes(), Folder(target)};
  Put(FHome.ProfilesIni(), changed);
  EXPECT_FALSE(quillbox::MoveMailData(state, *FView));
  ASSERT_EQ(FView->Transcript.size(), 3);
  EXPECT_TRUE(
      FView->Transcript[2].startsWith(u"error: \""_s + FHome.ProfilesIni() + u"\" has changed since it was read."_s))
      << FView->Transcript[2].toStdString();
  EXPECT_TRUE(FView->Transcript[2].endsWith(u"The mail data were moved back to \""_s + FMail + u"\"."_s))
      << FView->Transcript[2].toStdString();
  EXPECT_EQ(Tree(FMail), before);
  EXPECT_FALSE(QFileInfo::exists(target));
  EXPECT_EQ(ReadFile(FHome.ProfilesIni()), changed);
  EXPECT_EQ(state.MailDir, FMail);
  EXPECT_FALSE(state.Task.Changed);
}

TEST_F(MailDataTest, DataThatCannotGoBackEitherAreNamedWhereTheyAre)
{
  TProgramState& state = Start();
  const QStringList before = Tree(FMail);
  const QString target = FDir.Path() + u"/new"_s;
  QByteArray changed = ReadFile(FHome.ProfilesIni());
  changed.replace("Name=alpha", "Name=renamed");
  Put(FHome.ProfilesIni(), changed);
  int moves = 0;
  quillbox::SetFolderMover([&moves](const QString& from, const QString& to) {
    return ++moves == 1 ? ardanto::platform::ShellMove(from, to) : -EACCES;
  });
  FView->Script = {Yes(), Folder(target)};
  const bool moved = quillbox::MoveMailData(state, *FView);
  quillbox::SetFolderMover({});
  EXPECT_FALSE(moved);
  EXPECT_EQ(moves, 2);
  ASSERT_EQ(FView->Transcript.size(), 3);
  EXPECT_TRUE(FView->Transcript[2].endsWith(u"Error moving mail data from \""_s + target + u"\"\r\nto \""_s + FMail +
                                            u"\"\r\nPermission denied (0x0000000D)\r\n"_s +
                                            u"The mail data are now in \""_s + target + u"\"."_s))
      << FView->Transcript[2].toStdString();
  EXPECT_EQ(Tree(target), before);
  EXPECT_FALSE(QFileInfo::exists(FMail)) << "no empty folder where profiles.ini points";
  EXPECT_EQ(state.MailDir, target) << "the next backup takes the data from where they are";
  EXPECT_TRUE(state.Task.Changed);
}

// A real second file system: a tmpfs mounted in the test's folder.
class MailDataTmpfsTest : public MailDataTest {
protected:
  void SetUp() override
  {
    MailDataTest::SetUp();
    if (HasFatalFailure())
      return;
    FMountPoint = FDir.Path() + u"/tmpfs"_s;
    QDir().mkpath(FMountPoint);
  }
  void TearDown() override
  {
    if (FMounted)
      ::umount2(QFile::encodeName(FMountPoint).constData(), MNT_DETACH);
    MailDataTest::TearDown();
  }
  bool Mount(const char* size)
  {
    const QByteArray options = QByteArray("size=") + size;
    FMounted = ::mount("tmpfs", QFile::encodeName(FMountPoint).constData(), "tmpfs", 0, options.constData()) == 0;
    return FMounted;
  }

  QString FMountPoint;
  bool FMounted = false;
};

TEST_F(MailDataTmpfsTest, AMoveAcrossFileSystemsThatRunsOutOfSpaceLeavesEverythingAsItWas)
{
  if (!Mount("1m"))
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  TProgramState& state = Start();
  const QStringList before = Tree(FMail);
  ASSERT_GT(before.size(), 20) << "a used profile, larger than the file system";
  const QByteArray profilesIni = ReadFile(FHome.ProfilesIni());
  const QString target = FMountPoint + u"/alpha"_s;
  FView->Script = {Yes(), Folder(target)};
  EXPECT_FALSE(quillbox::MoveMailData(state, *FView));
  ASSERT_EQ(FView->Transcript.size(), 3);
  EXPECT_EQ(FView->Transcript[2], u"error: Error moving mail data from \""_s + FMail + u"\"\r\nto \""_s + target +
                                      u"\"\r\nNo space left on device (0x0000001C)"_s);
  EXPECT_EQ(Tree(FMail), before);
  EXPECT_EQ(ReadFile(FHome.ProfilesIni()), profilesIni);
  EXPECT_EQ(QDir(FMountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
      << "neither a partial copy nor the folder made for it";
  EXPECT_EQ(state.MailDir, FMail);
}

TEST_F(MailDataTmpfsTest, AMoveAcrossFileSystemsCopiesTheWholeProfile)
{
  if (!Mount("64m"))
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  TProgramState& state = Start();
  const QStringList before = Tree(FMail);
  QByteArray prefs = ReadFile(FMail + u"/prefs.js"_s);
  const QString target = FMountPoint + u"/mail/alpha"_s;
  FView->Script = {Yes(), Folder(target)};
  ASSERT_TRUE(quillbox::MoveMailData(state, *FView)) << FView->Transcript.join(u'\n').toStdString();
  EXPECT_EQ(Tree(target), before);
  EXPECT_EQ(ReadFile(target + u"/prefs.js"_s), prefs);
  EXPECT_EQ(Tree(FMail), QStringList());
  EXPECT_EQ(IniValue(FHome.ProfilesIni(), u"Profile0"_s, u"Path"_s), target);
}

} // namespace
