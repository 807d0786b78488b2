#include "portkeep/TaskSettings.h"
#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace portkeep;
using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

TTaskSettings Load(const TempDir& dir, const QByteArray& body)
{
  return ReadTaskFile(dir.Write(u"t.pkj"_s, body), TTaskSettings());
}

} // namespace

TEST(TaskFile, WritesExactlyTheTaskKeysAndReadsThemBack)
{
  TempDir dir;
  const QString file = dir.Write(u"daily.pkj"_s, "[Config]\nDeviceName=old\nTop=5\nForeign=1\n[Other]\nx=1\n");
  TTaskSettings s;
  s.DeviceName = u"Demo Phone"_s;
  s.Destination = u"/backup/%device%/%date%"_s;
  s.Overwrite = omAll;
  s.ArchBit = true;
  s.Compress = true;
  s.CompressAsZip = true;
  s.NoCompTypes = NormalizeNoCompTypes({u"jpg"_s, u"ZIP"_s, u"png"_s, u"JPG"_s});
  s.Filter.SetMode(fmInclude);
  s.Filter.SetFilter(u"*.jpg|*.png"_s);
  s.TimePeriod.Mode = tmSpan;
  s.Dirs = {u"Phone"_s, u"Phone\\DCIM\\Camera"_s};
  WriteTaskFile(file, s);

  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadSections(),
            (QStringList{u"Unicode"_s, u"Config"_s, u"FileFilter"_s, u"TimeSlot"_s, u"Directories"_s}));
  EXPECT_EQ(ini.ReadSection(u"Config"_s),
            (QStringList{u"DeviceName"_s, u"Destination"_s, u"Overwrite"_s, u"ArchBit"_s, u"Compress"_s,
                         u"CompressAsZip"_s, u"NoCompTypes"_s, u"DirCount"_s}));
  EXPECT_EQ(ini.ReadSection(u"Unicode"_s), (QStringList{u"Encoding"_s, u"Program"_s, u"Version"_s}));
  EXPECT_EQ(ini.ReadString(u"Config"_s, u"NoCompTypes"_s, {}), u"jpg,png,ZIP"_s);
  EXPECT_EQ(ini.ReadSectionValues(u"Directories"_s), (QStringList{u"Dir00=Phone"_s, u"Dir01=Phone\\DCIM\\Camera"_s}));

  const TTaskSettings back = ReadTaskFile(file, TTaskSettings());
  EXPECT_EQ(back.DeviceName, s.DeviceName);
  EXPECT_EQ(back.Destination, s.Destination);
  EXPECT_EQ(back.Overwrite, omAll);
  EXPECT_TRUE(back.ArchBit && back.Compress && back.CompressAsZip);
  EXPECT_EQ(back.NoCompTypes, s.NoCompTypes);
  EXPECT_EQ(back.Filter.Mode(), fmInclude);
  EXPECT_EQ(back.Filter.Filter(), u"*.jpg|*.png"_s);
  EXPECT_EQ(back.TimePeriod.Mode, tmSpan);
  EXPECT_DOUBLE_EQ(back.TimePeriod.Dat1, s.TimePeriod.Dat1);
  EXPECT_EQ(back.Dirs, s.Dirs);
}

TEST(TaskFile, LoadingRules)
{
  TempDir dir;
  EXPECT_TRUE(Load(dir, "[Config]\nNoCompTypes=#\n").NoCompTypes.isEmpty());
  EXPECT_EQ(Load(dir, "[Config]\n").NoCompTypes, DefaultNoCompTypes());
  EXPECT_EQ(Load(dir, "[Config]\nNoCompTypes=raw,CR2,raw\n").NoCompTypes, (QStringList{u"CR2"_s, u"raw"_s}));

  TTaskSettings zipOnly = Load(dir, "[Config]\nCompress=0\nCompressAsZip=1\n");
  EXPECT_FALSE(zipOnly.Compress);
  EXPECT_FALSE(zipOnly.CompressAsZip);
  EXPECT_EQ(Load(dir, "[Config]\nOverwrite=7\n").Overwrite, omWhenOlder);
  EXPECT_EQ(Load(dir, "[Config]\n[TimeSlot]\nTimeMode=9\n").TimePeriod.Mode, tmAll);

  const struct {
    const char* Body;
    const char16_t* Filter;
    TFilterMode Mode;
  } filters[] = {
      {"[FileFilter]\nFilterMode=1\nFilter=*.*\n", u"*.*", fmInclude},
      {"[FileFilter]\nFilterMode=2\nFilter=\n", u"*", fmOff},
      {"[FileFilter]\nFilterMode=1\nFilter=[ab\n", u"*", fmOff},
      {"[FileFilter]\nFilterMode=1\nFilter=IMG*\n", u"IMG*.*", fmInclude},
      {"[FileFilter]\nRegular=1\nFilterMode=1\nFilter=(unclosed\n", u".", fmInclude},
      {"[FileFilter]\nFilterMode=5\nFilter=*.jpg\n", u"*.jpg", fmOff},
  };
  for (const auto& f : filters) {
    const TTaskSettings s = Load(dir, f.Body);
    EXPECT_EQ(s.Filter.Filter(), QString::fromUtf16(f.Filter)) << f.Body;
    EXPECT_EQ(s.Filter.Mode(), f.Mode) << f.Body;
  }
  EXPECT_TRUE(Load(dir, "[FileFilter]\nRegular=1\nFilterMode=1\nFilter=(\n").Filter.MatchesFilter(u"any"_s));

  const TTaskSettings dirs =
      Load(dir, "[Config]\nDirCount=3\n[Directories]\nDir00=Phone\nDir01=\nDir02=Card\\DCIM\nDir03=ignored\n");
  EXPECT_EQ(dirs.Dirs, (QStringList{u"Phone"_s, u"Card\\DCIM"_s}));
  EXPECT_EQ(DirKey(0), u"Dir00"_s);
  EXPECT_EQ(DirKey(99), u"Dir99"_s);
  EXPECT_EQ(DirKey(100), u"Dir100"_s);
}

TEST(TaskFile, TypeListsRoundTrip)
{
  TempDir dir;
  const QString file = dir.File(u"t.pkj"_s);
  const struct {
    QStringList Types;
    const char16_t* Stored;
  } lists[] = {
      {{}, u"#"},
      {{QString()}, u"<ohne>"}, // only names without extension: must not read back as the default list
      {{QString(), u"jpg"_s}, u"<ohne>,jpg"},
      {{u"mp3"_s}, u"mp3"},
  };
  for (const auto& l : lists) {
    TTaskSettings s;
    s.NoCompTypes = l.Types;
    WriteTaskFile(file, s);
    EXPECT_EQ(TUnicodeIniFile::CreateForRead(file).ReadString(u"Config"_s, u"NoCompTypes"_s, {}),
              QString::fromUtf16(l.Stored));
    EXPECT_EQ(ReadTaskFile(file, TTaskSettings()).NoCompTypes, l.Types) << QString::fromUtf16(l.Stored).toStdString();
  }
  // Files of earlier versions wrote the empty type as an empty item.
  EXPECT_EQ(Load(dir, "[Config]\nNoCompTypes=,jpg\n").NoCompTypes, (QStringList{QString(), u"jpg"_s}));
}

TEST(TaskFile, DirectoryEntriesEndAtTheFirstGapOrTheLimit)
{
  TempDir dir;
  const QString file = dir.File(u"t.pkj"_s);
  // A count of two thousand million used to keep loading busy for minutes.
  WriteFile(file, "[Config]\nDirCount=2147483647\n[Directories]\nDir00=Phone\nDir01=Card\n");
  QStringList notes;
  EXPECT_EQ(ReadTaskFile(file, TTaskSettings(), &notes).Dirs, (QStringList{u"Phone"_s, u"Card"_s}));
  ASSERT_EQ(notes.size(), 1);
  EXPECT_TRUE(notes[0].contains(u"2147483647"_s)) << notes[0].toStdString();

  WriteFile(file, "[Config]\nDirCount=3\n[Directories]\nDir00=Phone\nDir02=Card\n");
  notes.clear();
  EXPECT_EQ(ReadTaskFile(file, TTaskSettings(), &notes).Dirs, QStringList{u"Phone"_s});
  EXPECT_EQ(notes, QStringList{u"The task file names 3 directories, but has only 1 entries."_s});
}

TEST(TaskFile, WhatIsNoTaskFileIsRefusedWithAMessage)
{
  TempDir dir;
  QDir().mkpath(dir.File(u"folder.pkj"_s));
  WriteFile(dir.File(u"garbage.pkj"_s), QByteArray("\x89PNG\r\n\x1a\n\0\0binary") + QByteArray(3000, '\xfe'));
  QFile large(dir.File(u"large.pkj"_s));
  ASSERT_TRUE(large.open(QIODevice::WriteOnly));
  large.write("[Config]\n");
  ASSERT_TRUE(large.resize(300LL * 1024 * 1024)); // sparse: costs no disk
  large.close();
  const struct {
    const char16_t* Name;
    const char16_t* Message;
  } cases[] = {
      {u"missing.pkj", u"not found"},
      {u"folder.pkj", u"is not a file"},
      {u"garbage.pkj", u"is not a backup task file"},
      {u"large.pkj", u"is too large"},
  };
  for (const auto& c : cases) {
    try {
      ReadTaskFile(dir.File(QString::fromUtf16(c.Name)), TTaskSettings());
      ADD_FAILURE() << "read without error: " << QString::fromUtf16(c.Name).toStdString();
    } catch (const EArdantoError& e) {
      EXPECT_TRUE(e.Message().contains(QString::fromUtf16(c.Message))) << e.Message().toStdString();
    }
  }
}

TEST(SettingsFile, KeepsWindowPlaceHistoriesAndForeignSections)
{
  TempDir dir;
  const QString file =
      dir.Write(u"Portkeep.ini"_s, "[Directories]\nHistory0=/home/ann\n[FileFilter]\nHistory0=*.jpg\n");
  TTaskSettings s;
  s.Compress = false;
  s.CompressAsZip = true; // not written as true without Compress
  TProgramSettings program;
  program.Top = 40;
  program.Left = 50;
  program.DestinationHistory = {u"/backup/b"_s, u"/backup/a"_s};
  SaveSettingsFile(file, s, program);

  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadString(u"Config"_s, u"CompressAsZip"_s, {}), u"0"_s);
  EXPECT_EQ(ini.ReadString(u"Directories"_s, u"History0"_s, {}), u"/home/ann"_s);
  EXPECT_EQ(ini.ReadString(u"FileFilter"_s, u"History0"_s, {}), u"*.jpg"_s);
  EXPECT_FALSE(ini.ValueExists(u"Config"_s, u"DeviceName"_s)) << "no task keys in the settings file";

  TTaskSettings loaded;
  TProgramSettings loadedProgram;
  LoadSettingsFile(file, loaded, loadedProgram);
  EXPECT_EQ(loadedProgram.Top, 40);
  EXPECT_EQ(loadedProgram.Left, 50);
  EXPECT_EQ(loadedProgram.DestinationHistory, program.DestinationHistory);

  TProgramSettings fresh;
  LoadSettingsFile(dir.File(u"missing.ini"_s), loaded, fresh);
  EXPECT_EQ(fresh.Top, -1);
}

TEST(TaskState, AskSaveChangedAnswers)
{
  const struct {
    const char* What;
    QString TaskName;
    TEditStatus Status;
    TSaveAnswer Answer;
    bool Writes; // whether saving succeeds
    int Result;
    bool Asked;
    bool Saved;
    TEditStatus After;
  } cases[] = {
      {"unchanged", u"/j/a.pkj"_s, esSaved, TSaveAnswer::Yes, true, 0, false, false, esSaved},
      {"cancel", u"/j/a.pkj"_s, esChanged, TSaveAnswer::Cancel, true, 2, true, false, esChanged},
      {"yes", u"/j/a.pkj"_s, esChanged, TSaveAnswer::Yes, true, 0, true, true, esChanged},
      {"yes, but the file cannot be written", u"/j/a.pkj"_s, esChanged, TSaveAnswer::Yes, false, 2, true, true,
       esChanged},
      {"no", u"/j/a.pkj"_s, esChanged, TSaveAnswer::No, true, 0, true, false, esSaved},
      {"no without file", QString(), esChanged, TSaveAnswer::No, true, 1, true, false, esChanged},
  };
  for (const auto& c : cases) {
    TTaskState state;
    state.SetTaskName(c.TaskName);
    state.SetEditStatus(c.Status);
    QString asked;
    bool saved = false;
    const int result = state.AskSaveChanged(
        [&](const QString& question) {
          asked = question;
          return c.Answer;
        },
        [&] {
          saved = true;
          return c.Writes;
        });
    EXPECT_EQ(result, c.Result) << c.What;
    EXPECT_EQ(!asked.isEmpty(), c.Asked) << c.What;
    EXPECT_EQ(saved, c.Saved) << c.What;
    EXPECT_EQ(state.EditStatus(), c.After) << c.What;
    if (c.Asked && !c.TaskName.isEmpty()) {
      EXPECT_EQ(asked, u"Save changed task to \"a.pkj\"?"_s);
    }
  }

  TTaskState state;
  state.MarkChanged();
  EXPECT_EQ(state.EditStatus(), esNew) << "no task file: nothing to mark";
  state.SetTaskName(u"/j/a.pkj"_s);
  state.MarkChanged();
  EXPECT_EQ(state.EditStatus(), esChanged);
}
