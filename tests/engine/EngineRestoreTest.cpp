// Restores by the real engine: what it clears, what it refuses, and that no
// name in a backup can place a file outside the target.

#include "EngineTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace enginetest;
using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;
using ardanto::test::WriteFile;

namespace {

class RestoreTest : public EngineTest {
protected:
  // Backs up a small profile; returns its backup folder.
  QString BackUp(const TBackupSpec& base, const std::vector<TFixtureFile>& files)
  {
    FSource = Path(u"home/.thunderbird/p.default"_s);
    MakeTree(FSource, files);
    TBackupSpec spec = base;
    spec.Destination = Path(u"backup"_s);
    spec.Sources = {FSource};
    const TEngineRun run = Run({WriteBackupTask(u"tb-p.buj"_s, spec), u"/force"_s});
    EXPECT_EQ(run.ExitCode, 0) << run.Log.join(u'\n').toStdString();
    return BackupOf(spec.Destination, FSource);
  }
  TEngineRun Restore(const TRestoreSpec& spec, const QStringList& options = {u"/force"_s})
  {
    return Run(QStringList{WriteRestoreTask(u"tb-p.rsj"_s, spec), u"/restore"_s} + options);
  }
  static std::vector<TFixtureFile> Files()
  {
    return {{u"prefs.js"_s, "user_pref(1);\n", {}}, {u"Mail/Inbox"_s, "From -\n\nhello\n", {}}};
  }

  QString FSource;
};

TEST_F(RestoreTest, ClearDestEmptiesTheTargetOnlyWhenTheSourceHoldsAProfile)
{
  const QString backup = BackUp({}, Files());
  const QString target = Path(u"target"_s);
  QDir().mkpath(target + u"/old"_s);
  WriteFile(target + u"/old/mail"_s, "old mail");
  WriteFile(target + u"/prefs.js"_s, "old prefs");

  // A folder without prefs.js in any form is no profile: nothing is cleared.
  const QString notAProfile = Path(u"backup/elsewhere"_s);
  QDir().mkpath(notAProfile);
  WriteFile(notAProfile + u"/Inbox"_s, "x");
  TRestoreSpec wrong;
  wrong.Source = notAProfile;
  wrong.Target = target;
  wrong.Clear = true;
  const TEngineRun refused = Restore(wrong);
  EXPECT_EQ(refused.ExitCode, 3);
  ASSERT_EQ(Errors(refused.Log).size(), 1) << refused.Log.join(u'\n').toStdString();
  EXPECT_TRUE(Errors(refused.Log).front().contains(u"No Thunderbird data found"_s));
  EXPECT_EQ(FilesBelow(target), (QStringList{u"old/mail"_s, u"prefs.js"_s}));
  EXPECT_EQ(ReadFile(target + u"/prefs.js"_s), QByteArray("old prefs"));

  TRestoreSpec right = wrong;
  right.Source = backup;
  const TEngineRun restored = Restore(right);
  ASSERT_EQ(restored.ExitCode, 0) << restored.Log.join(u'\n').toStdString();
  EXPECT_EQ(FilesBelow(target), (QStringList{u"Mail/Inbox"_s, u"prefs.js"_s}));
  EXPECT_EQ(ReadFile(target + u"/prefs.js"_s), QByteArray("user_pref(1);\n"));
  EXPECT_EQ(ReadFile(TrashFiles() + u"/old/mail"_s), QByteArray("old mail")) << "cleared into the trash";
  EXPECT_EQ(ReadFile(TrashFiles() + u"/prefs.js"_s), QByteArray("old prefs"));

  // Without ClearDest the target keeps what the backup does not have.
  WriteFile(target + u"/extra.txt"_s, "mine");
  right.Clear = false;
  ASSERT_EQ(Restore(right).ExitCode, 0);
  EXPECT_EQ(ReadFile(target + u"/extra.txt"_s), QByteArray("mine"));

  // The home folder itself is never cleared.
  TRestoreSpec home = right;
  home.Target = Path(u"home"_s);
  home.Clear = true;
  const TEngineRun homeRun = Restore(home);
  EXPECT_EQ(homeRun.ExitCode, 6);
  EXPECT_TRUE(QFileInfo::exists(FSource + u"/prefs.js"_s));
}

TEST_F(RestoreTest, AWrongOrMissingPasswordEndsWithSixBeforeAnythingIsWritten)
{
  TBackupSpec spec;
  spec.Encrypt = 1;
  spec.Password = u"right password"_s;
  const QString backup = BackUp(spec, Files());
  const QString target = Path(u"target"_s);
  QDir().mkpath(target);
  WriteFile(target + u"/prefs.js"_s, "keep me");

  TRestoreSpec restore;
  restore.Source = backup;
  restore.Target = target;
  restore.Clear = true;
  restore.Password = u"wrong password"_s;
  const TEngineRun wrong = Restore(restore);
  EXPECT_EQ(wrong.ExitCode, 6);
  ASSERT_FALSE(Errors(wrong.Log).isEmpty());
  EXPECT_TRUE(Errors(wrong.Log).front().contains(u"Wrong password"_s)) << wrong.Log.join(u'\n').toStdString();
  EXPECT_FALSE(wrong.Log.join(u'\n').contains(u"wrong password"_s)) << "no password ever goes into a log";
  EXPECT_EQ(FilesBelow(target), QStringList{u"prefs.js"_s});
  EXPECT_EQ(ReadFile(target + u"/prefs.js"_s), QByteArray("keep me"));
  EXPECT_FALSE(QDir(TrashFiles()).exists());

  // No password in the task, and nobody to ask.
  restore.Password.clear();
  const TEngineRun none = Restore(restore);
  EXPECT_EQ(none.ExitCode, 6);
  EXPECT_EQ(ReadFile(target + u"/prefs.js"_s), QByteArray("keep me"));

  restore.Password = u"right password"_s;
  const TEngineRun right = Restore(restore);
  ASSERT_EQ(right.ExitCode, 0) << right.Log.join(u'\n').toStdString();
  EXPECT_EQ(ReadFile(target + u"/Mail/Inbox"_s), QByteArray("From -\n\nhello\n"));
}

TEST_F(RestoreTest, NoEntryNameCanPlaceAFileOutsideTheTarget)
{
  const QString source = Path(u"crafted"_s);
  QDir().mkpath(source);
  WriteFile(source + u"/prefs.js"_s, "p");
  // Archives made by Python's zipfile: one names a path ending in the
  // archive's own name, one climbs out, one is an archive of the user's.
  const QString script = uR"py(
import sys, zipfile
folder = sys.argv[1]
with zipfile.ZipFile(folder + "/a.txt.zip", "w") as z:
    z.writestr("../../a.txt", "escaped")
with zipfile.ZipFile(folder + "/b.txt.zip", "w") as z:
    z.writestr("sub/b.txt", "in a folder")
with zipfile.ZipFile(folder + "/dots.zip", "w") as z:
    z.writestr("..", "dots")
with zipfile.ZipFile(folder + "/user.zip", "w") as z:
    z.writestr("readme.txt", "an archive of the user's own")
with zipfile.ZipFile(folder + "/c.txt.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("c.txt", "fine")
)py"_s;
  const TToolResult made = RunTool(Python(), {u"-c"_s, script, source});
  ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();
  const QByteArray userZip = ReadFile(source + u"/user.zip"_s);

  TRestoreSpec restore;
  restore.Source = source;
  restore.Target = Path(u"deep/er/target"_s);
  const TEngineRun run = Restore(restore);
  EXPECT_EQ(run.ExitCode, 4);
  EXPECT_EQ(Errors(run.Log).size(), 3) << run.Log.join(u'\n').toStdString();
  EXPECT_EQ(FilesBelow(Path(u"deep"_s)),
            (QStringList{u"er/target/c.txt"_s, u"er/target/prefs.js"_s, u"er/target/user.zip"_s}));
  EXPECT_EQ(ReadFile(restore.Target + u"/c.txt"_s), QByteArray("fine"));
  EXPECT_EQ(ReadFile(restore.Target + u"/user.zip"_s), userZip) << "restored as the file it is";
  EXPECT_FALSE(QFileInfo::exists(Path(u"a.txt"_s)));
}

TEST_F(RestoreTest, AllStoredFormsMixedComeBack)
{
  // The same profile backed up in three forms; one folder then takes a file
  // of each, as a backup whose form changed over time may hold them.
  std::vector<TFixtureFile> files = Files();
  files.push_back({u"plain.jpg"_s, "jpeg bytes", {}});
  files.push_back({u"later.txt"_s, "later", QDateTime(QDate(2022, 1, 1), QTime(8, 0, 0, 125), Qt::UTC)});
  FSource = Path(u"home/.thunderbird/p.default"_s);
  MakeTree(FSource, files);
  const auto backUp = [&](const QString& folder, bool zip, int encrypt) {
    TBackupSpec spec;
    spec.Destination = Path(u"backup/"_s + folder);
    spec.Sources = {FSource};
    spec.Zip = zip;
    spec.Encrypt = encrypt;
    spec.Password = encrypt ? u"pw"_s : QString();
    EXPECT_EQ(Run({WriteBackupTask(u"tb-"_s + folder + u".buj"_s, spec), u"/force"_s}).ExitCode, 0);
    return BackupOf(spec.Destination, FSource);
  };
  const QString zip = backUp(u"zip"_s, true, 0);
  const QString gz = backUp(u"gz"_s, false, 0);
  const QString gze = backUp(u"gze"_s, false, 1);
  const QString mixed = Path(u"mixed"_s);
  QDir().mkpath(mixed + u"/Mail"_s);
  for (const auto& [from, name] : {std::pair{zip, u"prefs.js.zip"_s}, std::pair{gz, u"Mail/Inbox.gz"_s},
                                   std::pair{gze, u"later.txt.gze"_s}, std::pair{zip, u"plain.jpg"_s}}) {
    ASSERT_TRUE(QFile::copy(from + u'/' + name, mixed + u'/' + name)) << name.toStdString();
    SetModified(mixed + u'/' + name, QDateTime::fromMSecsSinceEpoch(ModifiedNs(from + u'/' + name) / 1000000));
  }

  TRestoreSpec restore;
  restore.Source = mixed;
  restore.Target = Path(u"target"_s);
  restore.UnCompress = 1;
  restore.Password = u"pw"_s;
  const TEngineRun run = Restore(restore);
  ASSERT_EQ(run.ExitCode, 0) << run.Log.join(u'\n').toStdString();
  QStringList names;
  for (const TFixtureFile& file : files) {
    names << file.Relative;
    EXPECT_EQ(ReadFile(restore.Target + u'/' + file.Relative), file.Content) << file.Relative.toStdString();
    EXPECT_EQ(ModifiedNs(restore.Target + u'/' + file.Relative), ModifiedNs(FSource + u'/' + file.Relative));
  }
  names.sort();
  EXPECT_EQ(FilesBelow(restore.Target), names);
}

} // namespace
