#include "common/IniFileUtils.h"
#include "common/FileUtils.h"
#include "common/TextEncoding.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray Utf16LE(const QString& text, bool bom = true)
{
  QByteArray bytes = bom ? QByteArray("\xFF\xFE", 2) : QByteArray();
  for (const QChar c : text) {
    bytes.append(static_cast<char>(c.unicode() & 0xFF));
    bytes.append(static_cast<char>(c.unicode() >> 8));
  }
  return bytes;
}

QByteArray Utf16BE(const QString& text)
{
  QByteArray bytes("\xFE\xFF", 2);
  for (const QChar c : text) {
    bytes.append(static_cast<char>(c.unicode() >> 8));
    bytes.append(static_cast<char>(c.unicode() & 0xFF));
  }
  return bytes;
}

mode_t FileMode(const QString& name)
{
  struct stat st {};
  ::stat(QFile::encodeName(name).constData(), &st);
  return st.st_mode & 07777;
}

// What a Windows peer writes for a device task: CR LF, a comment, a line
// before the first section, blanks around keys and values.
const QString kPeerTask = u"stray line\r\n"
                          u"; written by the Windows version\r\n"
                          u"[Device]\r\n"
                          u"  Name = Café Phone  \r\n"
                          u"Dest=C:\\Backup\\%device%\r\n"
                          u"Filter=*.jpg|*.png\r\n"
                          u"\r\n"
                          u"[Dirs]\r\n"
                          u"Dir00=Phone\\DCIM\r\n"
                          u"Note=costs 5 €\r\n"_s;

void ExpectPeerTask(const TUnicodeIniFile& ini)
{
  EXPECT_EQ(ini.ReadString(u"device"_s, u"NAME"_s, u"-"_s), u"Café Phone"_s);
  EXPECT_EQ(ini.ReadString(u"Device"_s, u"Dest"_s, {}), u"C:\\Backup\\%device%"_s);
  EXPECT_EQ(ini.ReadString(u"Dirs"_s, u"Note"_s, {}), u"costs 5 €"_s);
  EXPECT_EQ(ini.ReadSections(), (QStringList{u"Device"_s, u"Dirs"_s}));
}

} // namespace

TEST(IniFile, ReadsEveryEncodingByItsMark)
{
  TempDir dir;
  QByteArray ansi;
  ASSERT_TRUE(EncodeWindows1252(kPeerTask, ansi));
  const struct {
    const char* Name;
    QByteArray Bytes;
    TIniEncoding Encoding;
  } cases[] = {
      {"windows-1252", ansi, TIniEncoding::Ansi},
      {"utf-8", QByteArray("\xEF\xBB\xBF") + kPeerTask.toUtf8(), TIniEncoding::Utf8},
      {"utf-16le", Utf16LE(kPeerTask), TIniEncoding::Utf16LE},
      {"utf-16be", Utf16BE(kPeerTask), TIniEncoding::Utf16BE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString file = dir.Write(QString::fromLatin1(c.Name) + u".pkj"_s, c.Bytes);
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
    EXPECT_EQ(ini.ReadEncoding(), c.Encoding);
    ExpectPeerTask(ini);
  }
}

TEST(IniFile, PeerFilesAreRewrittenAsUtf16WithUnicodeSectionLast)
{
  TempDir dir;
  QByteArray ansi;
  ASSERT_TRUE(EncodeWindows1252(kPeerTask, ansi));
  for (const QByteArray& original : {ansi, Utf16LE(kPeerTask)}) {
    const QString file = dir.Write(u"task.pkj"_s, original);
    {
      TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
      ini.WriteString(u"Device"_s, u"Filter"_s, u"*.heic"_s);
      ini.UpdateFile();
    }
    const QString expected = u"[Device]\r\nName=Café Phone\r\nDest=C:\\Backup\\%device%\r\nFilter=*.heic\r\n\r\n"
                             u"[Dirs]\r\nDir00=Phone\\DCIM\r\nNote=costs 5 €\r\n\r\n"
                             u"[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"_s;
    EXPECT_EQ(ReadFile(file), Utf16LE(expected));
  }
}

TEST(IniFile, NewFileBeginsWithUnicodeSectionAndProgramInfo)
{
  TempDir dir;
  const QString file = dir.File(u"Portkeep.ini"_s);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file, true);
    ini.WriteProgramInfo(u"Program"_s, u"Portkeep"_s);
    ini.WriteProgramInfo(u"Version"_s, u"6.0.0"_s);
    ini.WriteString(u"Config"_s, u"Dest"_s, u"  padded  "_s);
    ini.WriteInteger(u"Config"_s, u"Top"_s, -12);
    ini.WriteBool(u"Config"_s, u"Compress"_s, true);
    ini.WriteInt64(u"Config"_s, u"Big"_s, 5'000'000'000);
    EXPECT_EQ(ini.ReadString(u"Config"_s, u"Dest"_s, {}), u"  padded  "_s); // kept as given in memory
    ini.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file),
            Utf16LE(u"[Unicode]\r\nEncoding=UTF-16LE\r\nProgram=Portkeep\r\nVersion=6.0.0\r\n\r\n"
                    u"[Config]\r\nDest=  padded  \r\nTop=-12\r\nCompress=1\r\nBig=5000000000\r\n\r\n"_s));
  const TUnicodeIniFile back = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(back.ReadString(u"Config"_s, u"Dest"_s, {}), u"padded"_s); // trimmed on reading
  EXPECT_EQ(back.ReadInteger(u"Config"_s, u"Top"_s, 0), -12);
  EXPECT_TRUE(back.ReadBool(u"Config"_s, u"Compress"_s, false));
  EXPECT_EQ(back.ReadInt64(u"Config"_s, u"Big"_s, 0), 5'000'000'000);
  EXPECT_EQ(FileMode(file), 0600u) << "task files hold protected passwords";
}

TEST(IniFile, ParsingRules)
{
  TempDir dir;
  const QString file = dir.Write(u"rules.ini"_s, "key=before any section\n"
                                                 "[ First ]\r"
                                                 "a=1\n"
                                                 "bare line kept\n"
                                                 "\t; comment\n"
                                                 "url = http://x/?a=b=c \n"
                                                 "empty=\n"
                                                 "[first]\n"
                                                 "a=2\n"
                                                 "b=only in second\n");
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadSections(), (QStringList{u"First"_s, u"first"_s}));
  EXPECT_EQ(ini.ReadString(u"FIRST"_s, u"A"_s, {}), u"1"_s) << "lookups find the first section";
  EXPECT_EQ(ini.ReadString(u"first"_s, u"b"_s, u"default"_s), u"default"_s);
  EXPECT_EQ(ini.ReadString(u"First"_s, u"url"_s, {}), u"http://x/?a=b=c"_s);
  EXPECT_EQ(ini.ReadString(u"First"_s, u"empty"_s, u"default"_s), u""_s);
  EXPECT_EQ(ini.ReadString(u"Missing"_s, u"a"_s, u"default"_s), u"default"_s);
  EXPECT_EQ(ini.ReadSection(u"First"_s), (QStringList{u"a"_s, u"url"_s, u"empty"_s}));
  EXPECT_EQ(ini.ReadSectionValues(u"First"_s),
            (QStringList{u"a=1"_s, u"bare line kept"_s, u"url=http://x/?a=b=c"_s, u"empty="_s}));
  EXPECT_TRUE(ini.ValueExists(u"first"_s, u"EMPTY"_s));
  EXPECT_FALSE(ini.ValueExists(u"first"_s, u"bare line kept"_s));
  EXPECT_FALSE(ini.SectionExists(u""_s));
}

TEST(IniFile, ReadIntegerForms)
{
  TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(QString());
  const struct {
    const char16_t* Text;
    std::int32_t Expected;
  } cases[] = {
      {u"0x1F", 31},
      {u"0X1f", 31},
      {u"$1F", 31},
      {u"0X", -7},
      {u"12abc", -7},
      {u"", -7},
      {u"-5", -5},
      {u"+5", 5},
      {u"2147483647", 2147483647},
      {u"2147483648", -7},
      {u"-2147483648", -2147483647 - 1},
      {u"$FFFFFFFF", -1},
      {u"0x100000000", -7},
      {u"1 2", -7},
      {u"0", 0},
      {u"007", 7},
  };
  for (const auto& c : cases) {
    const QString text = QString::fromUtf16(c.Text);
    ini.WriteString(u"S"_s, u"K"_s, text);
    EXPECT_EQ(ini.ReadInteger(u"S"_s, u"K"_s, -7), c.Expected) << text.toStdString();
  }
  ini.WriteString(u"S"_s, u"K"_s, u"0x7FFFFFFFFF"_s);
  EXPECT_EQ(ini.ReadInt64(u"S"_s, u"K"_s, 0), 0x7FFFFFFFFF);
  ini.WriteString(u"S"_s, u"K"_s, u"2"_s);
  EXPECT_TRUE(ini.ReadBool(u"S"_s, u"K"_s, false)) << "any non-zero value is true";
}

TEST(IniFile, ReadOnlyStoreNeverTouchesTheFile)
{
  TempDir dir;
  const QByteArray original("[A]\nx=1\n");
  const QString file = dir.Write(u"ro.ini"_s, original);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
    ini.WriteString(u"A"_s, u"x"_s, u"2"_s);
    ini.EraseSection(u"A"_s);
  }
  EXPECT_EQ(ReadFile(file), original);
}

TEST(IniFile, DestructionWritesAWritableStore)
{
  TempDir dir;
  const QString file = dir.File(u"dtor.ini"_s);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    ini.WriteString(u"A"_s, u"x"_s, u"1"_s);
  }
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(file).ReadString(u"A"_s, u"x"_s, {}), u"1"_s);
}

TEST(IniFile, ExistingEncodingValueIsKeptButFileIsUtf16)
{
  TempDir dir;
  const QString file = dir.Write(u"u8.ini"_s, "\xEF\xBB\xBF[Unicode]\nEncoding=UTF-8\n[A]\nx=1\n");
  TUnicodeIniFile::CreateForWrite(file).UpdateFile();
  EXPECT_TRUE(ReadFile(file).startsWith("\xFF\xFE"));
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(file).ReadString(u"Unicode"_s, u"Encoding"_s, {}), u"UTF-8"_s);

  const QString noKey = dir.Write(u"nokey.ini"_s, "[Unicode]\nProgram=x\n[A]\n");
  TUnicodeIniFile::CreateForWrite(noKey).UpdateFile();
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(noKey);
  EXPECT_EQ(ini.ReadSectionValues(u"Unicode"_s), (QStringList{u"Program=x"_s, u"Encoding=UTF-16LE"_s}));
  EXPECT_EQ(ini.ReadSections().first(), u"Unicode"_s) << "the section stays where it was";
}

TEST(IniFile, EraseAndDelete)
{
  TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(QString(), true);
  ini.WriteString(u"A"_s, u"x"_s, u"1"_s);
  ini.WriteString(u"B"_s, u"y"_s, u"2"_s);
  ini.WriteString(u"B"_s, u"z"_s, u"3"_s);
  ini.WriteString(u"C"_s, u"w"_s, u"4"_s);
  ini.WriteString(u"b"_s, u"Y"_s, u"5"_s); // replaces in place
  EXPECT_EQ(ini.ReadSectionValues(u"B"_s), (QStringList{u"Y=5"_s, u"z=3"_s}));
  ini.DeleteKey(u"B"_s, u"z"_s);
  ini.EraseSectionValues(u"A"_s);
  ini.EraseSection(u"C"_s);
  ini.WriteString(u"D"_s, u"v"_s, u"6"_s);
  EXPECT_EQ(ini.ReadSections(), (QStringList{u"Unicode"_s, u"A"_s, u"B"_s, u"D"_s}));
  EXPECT_EQ(ini.ReadSectionValues(u"A"_s), QStringList());
  EXPECT_EQ(ini.ReadSectionValues(u"B"_s), QStringList{u"Y=5"_s});
  EXPECT_TRUE(ini.SectionExists(u"a"_s));
  EXPECT_FALSE(ini.SectionExists(u"C"_s));
}

TEST(IniFile, LineBreakInValueCannotForgeASection)
{
  TempDir dir;
  const QString file = dir.File(u"inject.ini"_s);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file, true);
    ini.WriteString(u"Task"_s, u"Note"_s, u"line one\r\n[Evil]\r\nDest=/etc"_s);
    ini.UpdateFile();
  }
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_FALSE(ini.SectionExists(u"Evil"_s));
  EXPECT_EQ(ini.ReadString(u"Task"_s, u"Note"_s, {}), u"line one  [Evil]  Dest=/etc"_s);
}

TEST(IniFile, FailedWriteKeepsTheOldFile)
{
  TempDir dir;
  const QByteArray original = Utf16LE(u"[A]\r\nx=old\r\n"_s);
  const QString file = dir.Write(u"settings.ini"_s, original);
  ::chmod(QFile::encodeName(file).constData(), 0640);

  // A file size limit makes every write beyond it fail, as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  try {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    ini.WriteString(u"A"_s, u"x"_s, QString(4000, u'n'));
    ini.UpdateFile();
    ::setrlimit(RLIMIT_FSIZE, &old);
    FAIL() << "writing past the limit reported success";
  } catch (const EWriteFileStreamError& e) {
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(e.Message(), u"Error writing to \"%1\""_s.arg(file));
    EXPECT_EQ(e.ErrorCode(), EFBIG);
  }
  EXPECT_EQ(ReadFile(file), original);
  EXPECT_EQ(FileMode(file), 0640u);
  EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"settings.ini"_s})
      << "no temporary file is left behind";
}

TEST(IniFile, RewriteKeepsPermissionsAndFollowsLinks)
{
  TempDir dir;
  const QString real = dir.Write(u"real.ini"_s, "[A]\nx=1\n");
  ::chmod(QFile::encodeName(real).constData(), 0644);
  const QString link = dir.File(u"link.ini"_s);
  ASSERT_TRUE(QFile::link(real, link));
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(link);
    ini.WriteString(u"A"_s, u"x"_s, u"2"_s);
    ini.UpdateFile();
  }
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(real).ReadString(u"A"_s, u"x"_s, {}), u"2"_s);
  EXPECT_EQ(FileMode(real), 0644u);
}

TEST(IniFile, UnreadableFileRaisesAClearError)
{
  TempDir dir;
  const QString folder = dir.File(u"folder.ini/x"_s);
  const QString name = QFileInfo(folder).path();
  try {
    (void)TUnicodeIniFile::CreateForRead(name);
    FAIL() << "a folder was read as a file";
  } catch (const EExtFileStreamError& e) {
    EXPECT_TRUE(e.Message().startsWith(u"Cannot open file \""_s + name + u"\"."_s)) << e.Message().toStdString();
    EXPECT_EQ(e.ErrorCode(), EISDIR);
  }
}

TEST(IniFile, BadInputLoadsWithoutHarm)
{
  TempDir dir;
  QByteArray random(256 * 1024, Qt::Uninitialized);
  QRandomGenerator rng(42);
  for (char& c : random)
    c = static_cast<char>(rng.bounded(256));
  QByteArray sections;
  for (int i = 0; i < 20000; ++i)
    sections += "[S" + QByteArray::number(i) + "]\nk=" + QByteArray::number(i) + "\n";
  const QByteArray longLine = "[A]\nk=" + QByteArray(2 * 1024 * 1024, 'x') + "\n";

  struct Case {
    const char* Name;
    QByteArray Bytes;
  };
  const Case cases[] = {
      {"random bytes", random},
      {"random after utf-16 mark", QByteArray("\xFF\xFE") + random},
      {"nul bytes", QByteArray("[A]\0\nk=a\0b\n", 12)},
      {"odd utf-16 length", Utf16LE(u"[A]\r\nk=v\r\n"_s) + 'x'},
      {"unpaired surrogates", Utf16LE(u"[A]\r\nk=\xD800 \xDC00\r\n"_s)},
      {"invalid utf-8", QByteArray("\xEF\xBB\xBF[A]\nk=\xC3\x28\xFF\n")},
      {"long line", longLine},
      {"many sections", sections},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString file = dir.Write(u"bad.ini"_s, c.Bytes);
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(file);
    ini.WriteString(u"Z"_s, u"z"_s, u"1"_s);
    ini.UpdateFile();
    EXPECT_EQ(TUnicodeIniFile::CreateForRead(file).ReadString(u"Z"_s, u"z"_s, {}), u"1"_s);
  }

  const TUnicodeIniFile many = TUnicodeIniFile::CreateForRead(dir.Write(u"many.ini"_s, sections));
  for (int i = 0; i < 20000; i += 1) {
    if (many.ReadInteger(u"s"_s + QString::number(i), u"K"_s, -1) != i)
      FAIL() << "section " << i;
  }
  const TUnicodeIniFile surrogates =
      TUnicodeIniFile::CreateForRead(dir.Write(u"sur.ini"_s, Utf16LE(u"[A]\r\nk=\xD800|\r\n"_s)));
  EXPECT_EQ(surrogates.ReadString(u"A"_s, u"k"_s, {}), u"\xD800|"_s) << "kept as it was, not altered";
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(dir.Write(u"long.ini"_s, longLine)).ReadString(u"A"_s, u"k"_s, {}).size(),
            2 * 1024 * 1024);
}

TEST(IniFile, ReadBoolFromIniReadsInPassing)
{
  TempDir dir;
  const QString file = dir.Write(u"Ardanto.cfg"_s, "[Config]\nDarkMode=1\n");
  EXPECT_TRUE(ReadBoolFromIni(file, u"Config"_s, u"DarkMode"_s, false));
  EXPECT_FALSE(ReadBoolFromIni(dir.File(u"missing.cfg"_s), u"Config"_s, u"DarkMode"_s, false));
}

TEST(History, SaveAndLoadRoundTrip)
{
  TempDir dir;
  const QString file = dir.File(u"history.ini"_s);
  QStringList many;
  for (int i = 0; i < 60; ++i)
    many << u"entry %1"_s.arg(i);
  many[0] = u"say \"hi\""_s;
  SaveHistory(file, u"Filter"_s, QString(), true, many, true);

  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadEncoding(), TIniEncoding::Ansi) << "a new history file has no mark";
  EXPECT_EQ(ini.ReadString(u"Filter"_s, u"History0"_s, {}), u"say #hi#"_s);
  EXPECT_EQ(ini.ReadSection(u"Filter"_s).size(), 50);

  QStringList loaded{u"stale"_s};
  LoadHistory(file, u"Filter"_s, QString(), true, 10, loaded);
  EXPECT_EQ(loaded.size(), 10);
  EXPECT_EQ(loaded[0], u"say \"hi\""_s);
  EXPECT_EQ(loaded[9], u"entry 9"_s);

  QStringList untouched{u"kept"_s};
  LoadHistory(file, u"NoSuchSection"_s, QString(), false, 10, untouched);
  EXPECT_EQ(untouched, QStringList{u"kept"_s});

  // Erase drops old entries beyond the new list; without it they stay.
  SaveHistory(file, u"Filter"_s, u"H"_s, false, {u"a"_s}, false);
  SaveHistory(file, u"Filter"_s, u"H"_s, false, {u"b"_s}, true);
  LoadHistory(file, u"Filter"_s, u"H"_s, false, 50, loaded);
  EXPECT_EQ(loaded, QStringList{u"b"_s});
}

TEST(History, KeepsTheFileEncodingAndNeverLosesCharacters)
{
  TempDir dir;
  const QString utf16 = dir.Write(u"utf16.ini"_s, Utf16LE(u"[Config]\r\nx=1\r\n"_s));
  SaveHistory(utf16, u"Dirs"_s, QString(), false, {u"/home/ann"_s}, true);
  EXPECT_TRUE(ReadFile(utf16).startsWith("\xFF\xFE"));

  const QString ansi = dir.Write(u"ansi.ini"_s, "[Config]\nx=\xE9\n");
  SaveHistory(ansi, u"Dirs"_s, QString(), false, {u"/home/ren\u00e9"_s}, true);
  EXPECT_EQ(ReadFile(ansi), QByteArray("[Config]\r\nx=\xE9\r\n\r\n[Dirs]\r\nHistory0=/home/ren\xE9\r\n\r\n"));

  SaveHistory(ansi, u"Dirs"_s, QString(), false, {u"/home/Жанна"_s}, true);
  QStringList loaded;
  LoadHistory(ansi, u"Dirs"_s, QString(), false, 5, loaded);
  EXPECT_EQ(loaded, QStringList{u"/home/Жанна"_s});
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(ansi).ReadString(u"Config"_s, u"x"_s, {}), u"\u00e9"_s);
}

TEST(History, AddToHistory)
{
  QStringList list{u"a"_s, u"B"_s, u"c"_s};
  AddToHistory(list, QString(), 3);
  EXPECT_EQ(list, (QStringList{u"a"_s, u"B"_s, u"c"_s}));
  AddToHistory(list, u"b"_s, 3);
  EXPECT_EQ(list, (QStringList{u"b"_s, u"a"_s, u"c"_s})) << "moved up, written as given";
  AddToHistory(list, u"d"_s, 3);
  EXPECT_EQ(list, (QStringList{u"d"_s, u"b"_s, u"a"_s})) << "the last entry made room";
}
