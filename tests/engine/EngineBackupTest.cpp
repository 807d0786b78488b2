// Backups and restores by the real engine, read back by tools that are not
// ours: unzip, 7-Zip, gzip and Python's zipfile and gzip modules.

#include "EngineTestSupport.h"

#include "common/IniFileUtils.h"
#include "common/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace enginetest;
using namespace Qt::StringLiterals;
using ardanto::test::ReadFile;
using ardanto::test::WriteFile;

namespace {

enum class TForm { Plain, Zip, GZip, ZipAes, GZipAes, PlainAes };

struct TFormCase {
  const char* Name;
  TForm Form;
  bool Compress;
  bool Zip;
  bool Encrypt;
};

void PrintTo(const TFormCase& c, std::ostream* os)
{
  *os << c.Name;
}

const QString kPassword = u"Geheim 123!"_s;

bool IsAscii(const QString& text)
{
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
}

// The name a file is stored under in a form; the types in NoCompTypes are
// never compressed, but encrypted all the same.
QString StoredName(const TFormCase& c, const QString& name)
{
  const bool noCompression = name.endsWith(u".jpg"_s) || name.endsWith(u".zip"_s);
  if (c.Encrypt)
    return name + ((c.Compress && !c.Zip && !noCompression) ? u".gze"_s : u".zip"_s);
  if (!c.Compress || noCompression)
    return name;
  return name + (c.Zip ? u".zip"_s : u".gz"_s);
}

class StorageFormTest : public EngineTest, public ::testing::WithParamInterface<TFormCase> {
protected:
  // Checks one stored file against its original with tools of others.
  void CheckStored(const QString& stored, const QString& original, const QString& name)
  {
    SCOPED_TRACE(stored.toStdString());
    ASSERT_TRUE(QFileInfo::exists(stored));
    EXPECT_EQ(ModifiedNs(stored), ModifiedNs(original)) << "a copy carries its source's time";
    const QByteArray content = ReadFile(original);
    const QString out = Path(u"readback.out"_s);
    QFile::remove(out);
    if (ardanto::ExtractFileName(stored) == name) {
      EXPECT_EQ(ReadFile(stored), content);
      return;
    }
    if (stored.endsWith(u".gze"_s)) {
      // One AES stream: salt (16), password check (2), the gzip file, code (10).
      const QByteArray raw = ReadFile(stored);
      EXPECT_FALSE(raw.startsWith("\x1f\x8b"));
      if (content.size() > 16) {
        EXPECT_FALSE(raw.contains(content.left(16))) << "nothing readable without the password";
      }
      return;
    }
    if (stored.endsWith(u".gz"_s)) {
      EXPECT_EQ(RunTool(u"gzip"_s, {u"-t"_s, stored}).ExitCode, 0);
      const TToolResult read = RunTool(Python(), {ReadbackScript(), u"gzip"_s, stored, out});
      ASSERT_EQ(read.ExitCode, 0) << read.Err.toStdString();
      EXPECT_EQ(QJsonDocument::fromJson(read.Out).object()[u"name"_s].toString(), name);
      EXPECT_EQ(ReadFile(out), content);
      return;
    }
    ASSERT_TRUE(stored.endsWith(u".zip"_s));
    if (GetParam().Encrypt) {
      if (!ardanto::test::HasProgram(u"7z"_s))
        GTEST_SKIP() << "needs 7z (p7zip-full)";
      EXPECT_EQ(RunTool(u"7z"_s, {u"t"_s, u"-p"_s + kPassword, stored}).ExitCode, 0);
      EXPECT_NE(RunTool(u"7z"_s, {u"t"_s, u"-pwrong"_s, stored}).ExitCode, 0);
      const TToolResult extracted = RunTool(u"7z"_s, {u"x"_s, u"-so"_s, u"-p"_s + kPassword, stored});
      EXPECT_EQ(extracted.Out, content);
      // AE-2: the entry is method 99 and hides its CRC.
      const TToolResult listing = RunTool(u"7z"_s, {u"l"_s, u"-slt"_s, u"-p"_s + kPassword, stored});
      EXPECT_TRUE(listing.Out.contains("Method = AES-256")) << listing.Out.toStdString();
      if (IsAscii(name)) {
        EXPECT_TRUE(listing.Out.contains(QByteArray("Path = " + name.toUtf8()))) << listing.Out.toStdString();
      }
      return;
    }
    const TToolResult test = RunTool(u"unzip"_s, {u"-t"_s, stored});
    EXPECT_EQ(test.ExitCode, 0) << test.Out.toStdString();
    const TToolResult read = RunTool(Python(), {ReadbackScript(), u"zip"_s, stored, out});
    ASSERT_EQ(read.ExitCode, 0) << read.Err.toStdString();
    const QJsonObject info = QJsonDocument::fromJson(read.Out).object();
    EXPECT_EQ(info[u"names"_s].toVariant().toStringList(), QStringList{name});
    EXPECT_EQ(info[u"methods"_s].toVariant().toList().value(0).toInt(), content.isEmpty() ? 0 : 8);
    EXPECT_EQ(ReadFile(out), content);
  }

  static QString ReadbackScript() { return ardanto::test::SourceDir() + u"/tests/engine/readback.py"_s; }
};

TEST_P(StorageFormTest, EachFormReadsBackAndRestoresByteForByteAndTimeForTime)
{
  const TFormCase& form = GetParam();
  const QString source = Path(u"home/.thunderbird/abc.default"_s);
  MakeTree(source, ProfileFiles());
  TBackupSpec spec;
  spec.Destination = Path(u"backup"_s);
  spec.Sources = {source};
  spec.Compress = form.Compress;
  spec.Zip = form.Zip;
  spec.Encrypt = form.Encrypt ? 1 : 0;
  spec.Password = form.Encrypt ? kPassword : QString();
  const QString task = WriteBackupTask(u"tb-abc.buj"_s, spec);

  const TEngineRun first = Run({task, u"/startapp:quillbox"_s, u"/prompt:quiet"_s, u"/hide"_s, u"/force"_s});
  ASSERT_EQ(first.ExitCode, 0) << first.Output.toStdString() << first.Log.join(u'\n').toStdString();
  EXPECT_TRUE(Errors(first.Log).isEmpty());

  const QString backup = BackupOf(spec.Destination, source);
  QStringList expected;
  for (const TFixtureFile& file : ProfileFiles()) {
    const QString name = ardanto::ExtractFileName(file.Relative);
    const QString stored = ardanto::ExtractFilePath(file.Relative) + StoredName(form, name);
    expected << stored;
    CheckStored(backup + u'/' + stored, source + u'/' + file.Relative, name);
  }
  expected.sort();
  EXPECT_EQ(FilesBelow(backup), expected);

  // Nothing changed: nothing is copied, and the copies are left alone.
  const qint64 before = ModifiedNs(backup + u'/' + expected.front());
  struct stat inode {};
  ::stat(QFile::encodeName(backup + u'/' + expected.front()).constData(), &inode);
  const TEngineRun second = Run({task, u"/force"_s});
  ASSERT_EQ(second.ExitCode, 0) << second.Log.join(u'\n').toStdString();
  EXPECT_TRUE(second.Log.join(u'\n').contains(u"  0 files copied, 7 skipped"_s))
      << second.Log.join(u'\n').toStdString();
  struct stat after {};
  ::stat(QFile::encodeName(backup + u'/' + expected.front()).constData(), &after);
  EXPECT_EQ(after.st_ino, inode.st_ino);
  EXPECT_EQ(ModifiedNs(backup + u'/' + expected.front()), before);

  // Restored into another folder, and into the original one emptied first.
  for (const bool intoOriginal : {false, true}) {
    SCOPED_TRACE(intoOriginal ? "into the original folder" : "into another folder");
    const QString target = intoOriginal ? source : Path(u"restored"_s);
    TRestoreSpec restore;
    restore.Source = backup;
    restore.Target = target;
    restore.Clear = intoOriginal;
    restore.UnCompress = form.Compress ? (form.Zip || form.Encrypt ? 3 : 1) : 0;
    restore.Password = form.Encrypt ? kPassword : QString();
    if (intoOriginal) {
      WriteFile(source + u"/prefs.js"_s, "damaged");
      WriteFile(source + u"/stray.txt"_s, "not in the backup");
    }
    const QString restoreTask = WriteRestoreTask(u"tb-abc.rsj"_s, restore);
    const TEngineRun run = Run({restoreTask, u"/hide"_s, u"/prompt:wait"_s, u"/restore"_s, u"/force"_s});
    ASSERT_EQ(run.ExitCode, 0) << run.Output.toStdString() << run.Log.join(u'\n').toStdString();
    QStringList files;
    for (const TFixtureFile& file : ProfileFiles()) {
      files << file.Relative;
      const QString restored = target + u'/' + file.Relative;
      EXPECT_EQ(ReadFile(restored), file.Content) << file.Relative.toStdString();
      EXPECT_EQ(ModifiedNs(restored), ModifiedNs(backup + u'/' + ardanto::ExtractFilePath(file.Relative) +
                                                 StoredName(form, ardanto::ExtractFileName(file.Relative))));
      EXPECT_EQ(ModifiedNs(restored) % 1000000000, 345000000) << "to the nanosecond";
    }
    files.sort();
    EXPECT_EQ(FilesBelow(target), files) << "the stray file of a cleared target went to the trash";
  }
  EXPECT_TRUE(QFileInfo::exists(TrashFiles() + u"/stray.txt"_s));
}

INSTANTIATE_TEST_SUITE_P(Forms, StorageFormTest,
                         ::testing::Values(TFormCase{"Plain", TForm::Plain, false, true, false},
                                           TFormCase{"Zip", TForm::Zip, true, true, false},
                                           TFormCase{"GZip", TForm::GZip, true, false, false},
                                           TFormCase{"ZipAes", TForm::ZipAes, true, true, true},
                                           TFormCase{"GZipAes", TForm::GZipAes, true, false, true},
                                           TFormCase{"StoredAes", TForm::PlainAes, false, true, true}),
                         [](const auto& param) { return std::string(param.param.Name); });

} // namespace

namespace {

class BackupTest : public EngineTest {
protected:
  // A source folder in the sandbox's home with the given files.
  QString Source(const std::vector<TFixtureFile>& files, const QString& name = u"profile"_s)
  {
    const QString folder = Path(u"home/.thunderbird/"_s + name);
    MakeTree(folder, files);
    return folder;
  }
  TBackupSpec Spec(const QStringList& sources) const
  {
    TBackupSpec spec;
    spec.Destination = Path(u"backup"_s);
    spec.Sources = sources;
    return spec;
  }
  static QString LogText(const TEngineRun& run) { return run.Log.join(u'\n'); }
};

TEST_F(BackupTest, UpdateRuleWithTimespanAndIgnoreDst)
{
  // Each file's source is moved by its offset after the first backup; the
  // second run copies exactly those that count as changed.
  struct TCase {
    const char* Name;
    int Offset;
    bool IgnoreDst;
    bool Copied;
  };
  const TCase cases[] = {
      {"older", -100, true, false},       {"within_timespan", 2, true, false}, {"beyond_timespan", 3, true, true},
      {"one_hour", 3600, true, false},    {"hour_plus_2", 3602, true, false},  {"hour_plus_3", 3603, true, true},
      {"hour_minus_3", 3597, true, true}, {"hour_counted", 3600, false, true}, {"day", 86400, true, true},
  };
  const QDateTime base(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC);
  for (const bool ignoreDst : {true, false}) {
    std::vector<TFixtureFile> files;
    for (const TCase& c : cases) {
      if (c.IgnoreDst == ignoreDst)
        files.push_back({QString::fromLatin1(c.Name), "first", base});
    }
    const QString folder = ignoreDst ? u"dst"_s : u"nodst"_s;
    const QString source = Source(files, folder);
    TBackupSpec spec = Spec({source});
    spec.Compress = false;
    spec.IgnoreDst = ignoreDst;
    const QString task = WriteBackupTask(u"tb-"_s + folder + u".buj"_s, spec);
    ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
    for (const TCase& c : cases) {
      if (c.IgnoreDst != ignoreDst)
        continue;
      const QString path = source + u'/' + QString::fromLatin1(c.Name);
      WriteFile(path, "second");
      SetModified(path, base.addSecs(c.Offset));
    }
    const TEngineRun second = Run({task, u"/force"_s});
    ASSERT_EQ(second.ExitCode, 0) << LogText(second).toStdString();
    for (const TCase& c : cases) {
      if (c.IgnoreDst != ignoreDst)
        continue;
      const QString copy = BackupOf(spec.Destination, source) + u'/' + QString::fromLatin1(c.Name);
      EXPECT_EQ(ReadFile(copy), c.Copied ? QByteArray("second") : QByteArray("first")) << c.Name;
      EXPECT_EQ(ModifiedNs(copy), (c.Copied ? base.addSecs(c.Offset) : base).toMSecsSinceEpoch() * 1000000) << c.Name;
    }
  }
}

TEST_F(BackupTest, FolderMasksFileMasksAndTypesLeaveFilesOut)
{
  const QString source = Source({{u"prefs.js"_s, "p", {}},
                                 {u"parent.lock"_s, "l", {}},
                                 {u"session.TMP"_s, "t", {}},
                                 {u"places.sqlite-wal"_s, "w", {}},
                                 {u"old.bak"_s, "b", {}},
                                 {u"notes.txt"_s, "n", {}},
                                 {u"cache2/entries/x"_s, "c", {}},
                                 {u"Logs/a"_s, "l", {}},
                                 {u"Mail/Local Folders/Inbox"_s, "i", {}},
                                 {u"Mail/crashes/dump"_s, "d", {}},
                                 {u"Mail/datareportingx/keep"_s, "k", {}}});
  TBackupSpec spec = Spec({source});
  spec.Compress = false;
  spec.Filter = u"parent.lock|*.tmp"_s;
  spec.Exclude = u"sqlite-wal, .BAK"_s;
  spec.DirFilter = u"*cache*,log*,crash*,calendar-data,backup,datareporting"_s;
  const TEngineRun run = Run({WriteBackupTask(u"tb-masks.buj"_s, spec), u"/force"_s});
  ASSERT_EQ(run.ExitCode, 0) << LogText(run).toStdString();
  EXPECT_EQ(FilesBelow(BackupOf(spec.Destination, source)),
            (QStringList{u"Mail/Local Folders/Inbox"_s, u"Mail/datareportingx/keep"_s, u"notes.txt"_s, u"prefs.js"_s}));
}

// Values as Quillbox writes them that take more than a plain reading: comma
// text with quoted items, SyncMode as any non-zero number, a fixed password
// beyond ASCII (protected as Windows-1252, used as UTF-8 as 7-Zip takes it)
// and LogFile 0 from a forced run with /logmode:0 (no log file).
TEST_F(BackupTest, TaskValuesAsQuillboxWritesThem)
{
  const QString source = Source({{u"prefs.js"_s, "p", {}},
                                 {u"draft.my ext"_s, "quoted type", {}},
                                 {u"old.tmp"_s, "t", {}},
                                 {u"Mail/My Trash/x"_s, "quoted folder", {}},
                                 {u"Mail/My/keep"_s, "k", {}},
                                 {u"Mail/Inbox"_s, "i", {}}});
  TBackupSpec spec = Spec({source});
  spec.Encrypt = 1;
  spec.Password = u"Grüße, €uro ½"_s;
  spec.Exclude = u"\"my ext\",tmp"_s;
  spec.DirFilter = u"*cache*,\"My Trash\",backup"_s;
  spec.ExtraGlobal = {{u"SyncMode"_s, u"2"_s}};
  const QString task = WriteBackupTask(u"tb-values.buj"_s, spec);
  const TEngineRun first = Run({task, u"/force"_s});
  ASSERT_EQ(first.ExitCode, 0) << LogText(first).toStdString();
  const QString backup = BackupOf(spec.Destination, source);
  EXPECT_EQ(FilesBelow(backup), (QStringList{u"Mail/Inbox.zip"_s, u"Mail/My/keep.zip"_s, u"prefs.js.zip"_s}));
  if (ardanto::test::HasProgram(u"7z"_s)) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    const TToolResult opened =
        RunTool(u"7z"_s, {u"x"_s, u"-so"_s, u"-p"_s + spec.Password, backup + u"/prefs.js.zip"_s}, env);
    EXPECT_EQ(opened.ExitCode, 0) << opened.Err.toStdString();
    EXPECT_EQ(opened.Out, QByteArray("p"));
  }

  // SyncMode 2 synchronises; LogFile 0 leaves the lines to the standard
  // error output, the reason of a failure included.
  QFile::remove(source + u"/Mail/Inbox"_s);
  spec.LogFile = 0;
  spec.Sources << Path(u"home/gone"_s);
  WriteBackupTask(u"tb-values.buj"_s, spec);
  const QString log = LogFolder() + u"/tb-values.log"_s;
  const QByteArray before = ReadFile(log);
  const TEngineRun second = Run({task, u"/force"_s});
  EXPECT_EQ(second.ExitCode, 3);
  EXPECT_FALSE(QFileInfo::exists(backup + u"/Mail/Inbox.zip"_s));
  EXPECT_EQ(ReadFile(log), before) << "no log written";
  EXPECT_TRUE(second.Output.contains("  *** ")) << second.Output.toStdString();
  EXPECT_TRUE(second.Output.contains(QFile::encodeName(Path(u"home/gone"_s)))) << second.Output.toStdString();
  EXPECT_TRUE(second.Output.contains("Ardanto - tb-values - finished ")) << second.Output.toStdString();
}

TEST_F(BackupTest, SynchronisingMovesWhatWentIntoTheTrashAndTouchesNothingElse)
{
  const QString source = Source({{u"prefs.js"_s, "p", {}},
                                 {u"gone.txt"_s, "g", {}},
                                 {u"Mail/Old/Inbox"_s, "o", {}},
                                 {u"Mail/Keep/Inbox"_s, "k", {}},
                                 {u"calendar-data/local.sqlite"_s, "cal", {}}});
  TBackupSpec spec = Spec({source, source + u"/calendar-data"_s});
  spec.Sync = true;
  spec.UseRecycler = true;
  const QString task = WriteBackupTask(u"tb-sync.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  const QString backup = BackupOf(spec.Destination, source);
  ASSERT_TRUE(QFileInfo::exists(backup + u"/calendar-data/local.sqlite.zip"_s));

  // Things that are not the backup of this entry's files.
  WriteFile(Path(u"backup/other-entry.txt"_s), "outside the entry's folder");
  WriteFile(Path(u"outside.txt"_s), "a link in the backup points here");
  ASSERT_EQ(::symlink(QFile::encodeName(Path(u"outside.txt"_s)).constData(),
                      QFile::encodeName(backup + u"/link"_s).constData()),
            0);
  QFile::remove(source + u"/gone.txt"_s);
  ASSERT_TRUE(QDir(source + u"/Mail/Old"_s).removeRecursively());

  const TEngineRun run = Run({task, u"/force"_s});
  ASSERT_EQ(run.ExitCode, 0) << LogText(run).toStdString();
  EXPECT_EQ(FilesBelow(backup),
            (QStringList{u"Mail/Keep/Inbox.zip"_s, u"calendar-data/local.sqlite.zip"_s, u"prefs.js.zip"_s}))
      << "the other entry's backup (calendar-data, excluded from this entry) stays";
  EXPECT_TRUE(QFileInfo::exists(TrashFiles() + u"/gone.txt.zip"_s));
  EXPECT_TRUE(QFileInfo::exists(TrashFiles() + u"/Old/Inbox.zip"_s));
  EXPECT_TRUE(QFileInfo::exists(Path(u"data/Trash/info/gone.txt.zip.trashinfo"_s)));
  EXPECT_EQ(ReadFile(Path(u"outside.txt"_s)), QByteArray("a link in the backup points here"))
      << "a link is removed, never followed";
  EXPECT_FALSE(QFileInfo(backup + u"/link"_s).isSymLink());
  EXPECT_TRUE(QFileInfo::exists(Path(u"backup/other-entry.txt"_s)));
  EXPECT_TRUE(LogText(run).contains(u"3 removed"_s)) << LogText(run).toStdString();

  // Without the trash the same goes for good.
  QFile::remove(source + u"/prefs.js"_s);
  spec.UseRecycler = false;
  WriteBackupTask(u"tb-sync.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  EXPECT_FALSE(QFileInfo::exists(backup + u"/prefs.js.zip"_s));
  EXPECT_FALSE(QFileInfo::exists(TrashFiles() + u"/prefs.js.zip"_s));
}

TEST_F(BackupTest, AVanishedOrEmptySourceNeverWipesItsBackup)
{
  const QString source = Source({{u"prefs.js"_s, "p", {}}, {u"Mail/Inbox"_s, "i", {}}});
  TBackupSpec spec = Spec({source});
  spec.Sync = true;
  const QString task = WriteBackupTask(u"tb-gone.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  const QString backup = BackupOf(spec.Destination, source);
  const QStringList kept = FilesBelow(backup);
  ASSERT_EQ(kept.size(), 2);

  // An unmounted profile: the folder is there, empty.
  ASSERT_TRUE(QDir(source).removeRecursively());
  ASSERT_TRUE(QDir().mkpath(source));
  const TEngineRun empty = Run({task, u"/force"_s});
  EXPECT_EQ(empty.ExitCode, 3);
  ASSERT_EQ(Errors(empty.Log).size(), 1) << LogText(empty).toStdString();
  EXPECT_TRUE(Errors(empty.Log).front().contains(u"is empty"_s));
  EXPECT_EQ(FilesBelow(backup), kept);

  // Gone altogether.
  ASSERT_TRUE(QDir(source).removeRecursively());
  const TEngineRun gone = Run({task, u"/force"_s});
  EXPECT_EQ(gone.ExitCode, 3);
  EXPECT_TRUE(LogText(gone).contains(u"  *** Source directory not found: "_s + source)) << LogText(gone).toStdString();
  EXPECT_EQ(FilesBelow(backup), kept);
  EXPECT_TRUE(gone.Log.back().endsWith(u": Source directory not found!"_s)) << gone.Log.back().toStdString();
}

TEST_F(BackupTest, AFileWhoseFormChangedLosesItsOldFormOnceTheNewOneIsThere)
{
  const QString source = Source({{u"a.txt"_s, "aaaa", {}}, {u"b.txt"_s, "bbbb", {}}, {u"c.zip"_s, "PK", {}}});
  TBackupSpec spec = Spec({source});
  const QString task = WriteBackupTask(u"tb-form.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  const QString backup = BackupOf(spec.Destination, source);
  EXPECT_EQ(FilesBelow(backup), (QStringList{u"a.txt.zip"_s, u"b.txt.zip"_s, u"c.zip"_s}));

  spec.Zip = false;
  WriteBackupTask(u"tb-form.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  EXPECT_EQ(FilesBelow(backup), (QStringList{u"a.txt.gz"_s, u"b.txt.gz"_s, u"c.zip"_s}))
      << "c.zip is never compressed, and is no old form of c";

  spec.Compress = false;
  WriteBackupTask(u"tb-form.buj"_s, spec);
  ASSERT_EQ(Run({task, u"/force"_s}).ExitCode, 0);
  EXPECT_EQ(FilesBelow(backup), (QStringList{u"a.txt"_s, u"b.txt"_s, u"c.zip"_s}));
  EXPECT_EQ(ReadFile(backup + u"/a.txt"_s), QByteArray("aaaa"));
}

TEST_F(BackupTest, TheLogGetsOneSectionPerRunAndTheTaskItsBackupCount)
{
  const QString source = Source({{u"prefs.js"_s, "p", {}}});
  TBackupSpec spec = Spec({source});
  spec.Destination = Path(u"backup/v%v#3%"_s);
  spec.LogFile = 1;
  spec.ExtraGlobal = {{u"Custom"_s, u"kept"_s}};
  const QString task = WriteBackupTask(u"tb-count.buj"_s, spec);
  {
    ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForWrite(task);
    ini.WriteString(u"Mail"_s, u"SMTP"_s, u"smtp.example.org"_s);
    ini.UpdateFile();
  }
  for (int run = 1; run <= 4; ++run) {
    const TEngineRun result = Run({task, u"/force"_s, u"/startapp:quillbox"_s});
    ASSERT_EQ(result.ExitCode, 0) << LogText(result).toStdString();
    // The version counter cycles through 1, 2, 3.
    const QString expected = Path(u"backup/v"_s + QString::number((run - 1) % 3 + 1));
    EXPECT_TRUE(QFileInfo::exists(BackupOf(expected, source) + u"/prefs.js.zip"_s)) << run;
    EXPECT_EQ(result.Log[1], u"  Task file: "_s + task);
    EXPECT_TRUE(result.Log.contains(u"  Started by: quillbox"_s));
    EXPECT_TRUE(result.Log.contains(u"  Destination: "_s + expected)) << LogText(result).toStdString();
    EXPECT_FALSE(result.Log.contains(u"    prefs.js"_s)) << "a short log names no files";
    EXPECT_TRUE(result.Log.back().startsWith(u"Ardanto - tb-count - finished "_s));
    EXPECT_TRUE(result.Log.back().endsWith(u": OK"_s));
  }
  const QByteArray log = ReadFile(LogFolder() + u"/tb-count.log"_s);
  EXPECT_TRUE(log.startsWith("\xEF\xBB\xBF")) << "UTF-8 with a byte-order mark";
  EXPECT_EQ(log.count("\nArdanto - tb-count - finished "), 4);
  EXPECT_EQ(log.count("\xEF\xBB\xBF"), 1);

  const ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForRead(task);
  EXPECT_EQ(ini.ReadInteger(u"Global"_s, u"BackupCount"_s, 0), 5);
  EXPECT_EQ(ini.ReadString(u"Global"_s, u"Custom"_s, QString()), u"kept"_s);
  EXPECT_EQ(ini.ReadString(u"Mail"_s, u"SMTP"_s, QString()), u"smtp.example.org"_s);
  EXPECT_EQ(ini.ReadString(u"Dir000"_s, u"Source"_s, QString()), source);
  EXPECT_EQ(QFileInfo(task).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
}

TEST_F(BackupTest, HelpAndVersion)
{
  const TToolResult version = RunTool(EngineProgram(), {u"--version"_s}, Environment());
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_TRUE(QString::fromUtf8(version.Out).contains(QRegularExpression(u"^ardanto \\d+\\.\\d+\\.\\d+\\n$"_s)))
      << version.Out.toStdString();
  const TToolResult help = RunTool(EngineProgram(), {u"--help"_s}, Environment());
  EXPECT_EQ(help.ExitCode, 0);
  for (const char* text : {"Usage: ardanto TASKFILE", "/restore", "/force", "1, 6, 2, 5, 3, 4"})
    EXPECT_TRUE(help.Out.contains(text)) << text;
  const TToolResult nothing = RunTool(EngineProgram(), {}, Environment());
  EXPECT_EQ(nothing.ExitCode, 1);
  EXPECT_TRUE(nothing.Err.contains("Usage"));
}

} // namespace

namespace {

TEST_F(BackupTest, LinksAreFollowedOnlyInsideTheSourceAndSpecialFilesAreLeftOut)
{
  const QString source = Source({{u"prefs.js"_s, "p", {}}, {u"Mail/Inbox"_s, "inbox", {}}});
  WriteFile(Path(u"secret.txt"_s), "outside the profile");
  QDir().mkpath(source + u"/Mail/Empty"_s);
  const auto link = [](const QString& target, const QString& name) {
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(name).constData()) == 0;
  };
  ASSERT_TRUE(link(u"Mail/Inbox"_s, source + u"/inbox-link"_s));
  ASSERT_TRUE(link(Path(u"secret.txt"_s), source + u"/secret-link"_s));
  ASSERT_TRUE(link(u"Mail"_s, source + u"/folder-link"_s));
  ASSERT_EQ(::mkfifo(QFile::encodeName(source + u"/fifo"_s).constData(), 0600), 0);

  for (const bool emptyDirs : {true, false}) {
    TBackupSpec spec = Spec({source});
    spec.Destination = Path(emptyDirs ? u"with-empty"_s : u"without-empty"_s);
    spec.Compress = false;
    spec.EmptyDirs = emptyDirs;
    const TEngineRun run = Run({WriteBackupTask(u"tb-links.buj"_s, spec), u"/force"_s}, 20000);
    ASSERT_EQ(run.ExitCode, 0) << LogText(run).toStdString();
    const QString backup = BackupOf(spec.Destination, source);
    EXPECT_EQ(FilesBelow(backup), (QStringList{u"Mail/Inbox"_s, u"inbox-link"_s, u"prefs.js"_s}));
    EXPECT_EQ(ReadFile(backup + u"/inbox-link"_s), QByteArray("inbox")) << "stored as the file it points to";
    EXPECT_FALSE(QFileInfo(backup + u"/inbox-link"_s).isSymLink());
    EXPECT_TRUE(LogText(run).contains(u"\"secret-link\" points outside the source"_s)) << LogText(run).toStdString();
    EXPECT_EQ(QFileInfo(backup + u"/Mail/Empty"_s).isDir(), emptyDirs);
  }
}

} // namespace

namespace {

TEST_F(BackupTest, TwoFilesThatWouldShareAStoredNameAreAnErrorNotAnOverwrite)
{
  const QString source = Source({{u"notes"_s, "the notes", {}}, {u"notes.zip"_s, "an archive", {}}});
  TBackupSpec spec = Spec({source});
  const TEngineRun run = Run({WriteBackupTask(u"tb-clash.buj"_s, spec), u"/force"_s});
  EXPECT_EQ(run.ExitCode, 4);
  ASSERT_EQ(Errors(run.Log).size(), 1) << LogText(run).toStdString();
  EXPECT_TRUE(Errors(run.Log).front().contains(u"\"notes.zip\" is not backed up"_s));
  const QString backup = BackupOf(spec.Destination, source);
  EXPECT_EQ(FilesBelow(backup), QStringList{u"notes.zip"_s});
  EXPECT_EQ(RunTool(u"unzip"_s, {u"-p"_s, backup + u"/notes.zip"_s}).Out, QByteArray("the notes"));
  // The second run finds the copy up to date instead of writing it again.
  EXPECT_TRUE(LogText(Run({Path(u"tb-clash.buj"_s), u"/force"_s})).contains(u"0 files copied, 1 skipped"_s));
}

} // namespace
