#include "quillbox/Profiles.h"

#include "common/IniFileUtils.h"
#include "support/TestSupport.h"
#include "support/ThunderbirdProfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using ardanto::TIniEncoding;
using ardanto::test::ReadFile;
using ardanto::test::TempDir;
using quillbox::TProfileList;
using quillbox::TThunderbirdProfiles;

// A Thunderbird folder written by hand: profiles.ini, installs.ini and the
// profile folders the files name. "%ROOT%" in a file stands for the temporary folder.
class ProfilesFolder {
public:
  QString App() const { return FDir.Path() + u"/.thunderbird/"_s; }
  QString Root() const { return FDir.Path(); }
  QString ProfilesIni() const { return App() + u"profiles.ini"_s; }

  void Write(const QString& name, QByteArray bytes) const
  {
    bytes.replace("%ROOT%", FDir.Path().toUtf8());
    FDir.Write(u".thunderbird/"_s + name, bytes);
  }
  void Folders(const QStringList& relative) const
  {
    for (const QString& folder : relative)
      QDir().mkpath(QDir::cleanPath(App() + folder));
  }

private:
  TempDir FDir;
};

QStringList Listed(const TProfileList& list)
{
  return list.Names();
}

// profiles.ini of three profiles x, y, z in the folders Profiles/x.x and so on.
using TNames = std::vector<const char*>;

QStringList ToList(const TNames& names)
{
  QStringList list;
  for (const char* name : names)
    list.append(QString::fromUtf8(name));
  return list;
}

struct TReadCase {
  const char* Title;
  QByteArray Profiles;
  QByteArray Installs; // empty: no installs.ini
  TNames Folders;
  TNames Names; // listed, in order
  const char* Default;
};
void PrintTo(const TReadCase& c, std::ostream* os)
{
  *os << c.Title;
}

class ProfileReading : public ::testing::TestWithParam<TReadCase> {};

TEST_P(ProfileReading, ListsProfilesAndChoosesTheDefault)
{
  const TReadCase& c = GetParam();
  ProfilesFolder folder;
  folder.Write(u"profiles.ini"_s, c.Profiles);
  if (!c.Installs.isEmpty())
    folder.Write(u"installs.ini"_s, c.Installs);
  folder.Folders(ToList(c.Folders));

  TThunderbirdProfiles profiles(folder.App());
  EXPECT_EQ(profiles.ReadProfiles(), !c.Names.empty());
  EXPECT_EQ(Listed(profiles.ProfileList()), ToList(c.Names));
  EXPECT_EQ(profiles.ProfileList().DefProfile(), QString::fromUtf8(c.Default));
  EXPECT_TRUE(profiles.ReadProblem().isEmpty()) << profiles.ReadProblem().toStdString();
}

const QByteArray kXyz = "[Profile0]\nName=x\nPath=x.x\n[Profile1]\nName=y\nPath=y.y\n[Profile2]\nName=z\nPath=z.z\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileReading,
    ::testing::Values(
        TReadCase{"NoNameIsDefaultRelease",
                  "[Profile0]\nPath=a\n[Profile1]\nName=b\nPath=b\n",
                  {},
                  {"a", "b"},
                  {"default-release", "b"},
                  "default-release"},
        TReadCase{"ProfileTenAndUpIgnored",
                  "[Profile0]\nName=a\nPath=a\n[Profile10]\nName=b\nPath=b\n",
                  {},
                  {"a", "b"},
                  {"a"},
                  "a"},
        TReadCase{"SectionNumberOrderNotFileOrder",
                  "[Profile3]\nName=c\nPath=c\n[General]\nVersion=2\n[Profile1]\nName=a\nPath=a\n",
                  {},
                  {"a", "c"},
                  {"a", "c"},
                  "a"},
        TReadCase{"MissingFolderDropped",
                  "[Profile0]\nName=gone\nPath=gone\n[Profile1]\nName=a\nPath=a\n",
                  {},
                  {"a"},
                  {"a"},
                  "a"},
        TReadCase{"FirstDuplicateWithFolderWins",
                  "[Profile0]\nName=dup\nPath=gone\n[Profile1]\nName=DUP\nPath=b\n[Profile2]\nName=dup\nPath=c\n"
                  "[Profile3]\nName=d\nPath=d\n",
                  {},
                  {"b", "c", "d"},
                  {"DUP", "d"},
                  "DUP"},
        TReadCase{"RelativePathOutsideDropped",
                  "[Profile0]\nName=out\nPath=../outside\n[Profile1]\nName=deep\nPath=a/../../outside\n"
                  "[Profile2]\nName=abs\nIsRelative=0\nPath=%ROOT%/outside\n[Profile3]\nName=rel\nIsRelative=0\n"
                  "Path=outside\n",
                  {},
                  {"../outside"},
                  {"abs"},
                  "abs"},
        TReadCase{"EmptyNameDropped", "[Profile0]\nName=\nPath=a\n", {}, {"a"}, {}, ""},
        TReadCase{"NoProfileSection", "[General]\nStartWithLastProfile=1\n", {}, {}, {}, ""},
        // The Install section's own Default is not read; installs.ini's is, case and a final "/" aside.
        TReadCase{"InstallsDefaultBeatsDefaultKey",
                  "[Profile0]\nName=x\nPath=x.x\n[Profile1]\nName=y\nPath=y.y\nDefault=1\n[Profile2]\nName=z\n"
                  "Path=z.z\n[InstallAB12]\nDefault=y.y\nLocked=1\n",
                  "[AB12]\nDefault=Z.Z/\n",
                  {"x.x", "y.y", "z.z"},
                  {"x", "y", "z"},
                  "z"},
        TReadCase{"FirstDefaultKeyWithoutInstalls",
                  "[Profile0]\nName=default-release\nPath=a\n[Profile1]\nName=x\nPath=b\nDefault=1\n"
                  "[Profile2]\nName=y\nPath=c\nDefault=1\n[InstallAB12]\nDefault=a\n",
                  {},
                  {"a", "b", "c"},
                  {"default-release", "x", "y"},
                  "x"},
        TReadCase{"DefaultReleaseBeforeDefault",
                  "[Profile0]\nName=default\nPath=a\n[Profile1]\nName=Default-Release\nPath=b\n",
                  {},
                  {"a", "b"},
                  {"default", "Default-Release"},
                  "Default-Release"},
        TReadCase{"DefaultBeforeReleasePath",
                  "[Profile0]\nName=p\nPath=p.default-release\n[Profile1]\nName=default\nPath=d\n",
                  {},
                  {"p.default-release", "d"},
                  {"p", "default"},
                  "default"},
        TReadCase{"ReleasePathBeforeFirst",
                  "[Profile0]\nName=p\nPath=p.x\n[Profile1]\nName=q\nPath=q.DEFAULT-RELEASE\n",
                  {},
                  {"p.x", "q.DEFAULT-RELEASE"},
                  {"p", "q"},
                  "q"},
        TReadCase{"FirstOtherwise", kXyz, {}, {"x.x", "y.y", "z.z"}, {"x", "y", "z"}, "x"},
        TReadCase{"InstallsWithoutSectionIgnored",
                  kXyz + "[InstallAB12]\n",
                  "[CD34]\nDefault=z.z\n",
                  {"x.x", "y.y", "z.z"},
                  {"x", "y", "z"},
                  "x"}),
    [](const ::testing::TestParamInfo<TReadCase>& p) { return std::string(p.param.Title); });

TEST(ProfileList, DisplayNamesFollowTheDefault)
{
  TProfileList list;
  list.AddProfile(u"a"_s, u"a"_s, u"/t/a"_s, true, false);
  list.AddProfile(u"b"_s, u"/abs/b"_s, u"/abs/b"_s, false, true);
  EXPECT_EQ(list.DefProfile(), u"b"_s);
  // b was added before it was the default: its stored name stays plain, yet it shows as the default.
  EXPECT_EQ(list.Profile(1).ProfileName, u"b"_s);
  EXPECT_EQ(list.GetProfileName(u"B"_s), u"Default user"_s);
  EXPECT_EQ(list.GetProfileName(u"nobody"_s), u"nobody"_s);
  EXPECT_EQ(list.GetPathName(u"a"_s), u"<Thunderbird>/a"_s);
  EXPECT_EQ(list.GetPathName(u"b"_s), u"/abs/b"_s);
  EXPECT_EQ(list.GetFullPath(u"A"_s), u"/t/a"_s);
  EXPECT_TRUE(list.GetPathName(u"nobody"_s).isEmpty());

  list.SetDefault(u"a"_s);
  EXPECT_EQ(list.Profile(0).ProfileName, u"a"_s) << "named with the default of before the call";
  EXPECT_TRUE(list.Profile(0).Default);
  EXPECT_FALSE(list.Profile(1).Default);
  EXPECT_EQ(list.Profile(1).ProfileName, u"b"_s);
  list.SetDefault(u"a"_s);
  EXPECT_EQ(list.Profile(0).ProfileName, u"Default user"_s);

  list.SetDefault(u"nobody"_s);
  EXPECT_EQ(list.DefProfile(), u"nobody"_s);
  EXPECT_TRUE(list.Profile(0).Default) << "a name not in the list changes no entry";

  list.SetDefaultFromPath(u"/ABS/B/"_s);
  EXPECT_EQ(list.DefProfile(), u"b"_s);
  list.AddProfile(u"c"_s, QString(), u"/t"_s, true, false);
  list.SetDefaultFromPath(QString());
  EXPECT_EQ(list.DefProfile(), u"b"_s) << "an empty Path never matches";
}

TEST(ProfileList, LooksLikeUtf8)
{
  EXPECT_FALSE(quillbox::LooksLikeUtf8(u""));
  EXPECT_FALSE(quillbox::LooksLikeUtf8(u"plain"));
  EXPECT_FALSE(quillbox::LooksLikeUtf8(u"M\u00FCller"));      // ü as one character
  EXPECT_TRUE(quillbox::LooksLikeUtf8(u"M\u00C3\u00BCller")); // ü as its two UTF-8 bytes
  EXPECT_FALSE(quillbox::LooksLikeUtf8(u"\u00C3"));
}

struct TEncodingCase {
  const char* Title;
  QByteArray Bytes;
  QString Name;
  TIniEncoding Encoding;
};
void PrintTo(const TEncodingCase& c, std::ostream* os)
{
  *os << c.Title;
}

class ProfileEncoding : public ::testing::TestWithParam<TEncodingCase> {};

QByteArray Utf16(const QString& text, bool bigEndian)
{
  QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
  for (const QChar c : text) {
    const char high = static_cast<char>(c.unicode() >> 8);
    const char low = static_cast<char>(c.unicode() & 0xFF);
    bytes += bigEndian ? QByteArray{&high, 1} + QByteArray{&low, 1} : QByteArray{&low, 1} + QByteArray{&high, 1};
  }
  return bytes;
}

TEST_P(ProfileEncoding, ReadsNamesInTheFilesEncoding)
{
  const TEncodingCase& c = GetParam();
  ProfilesFolder folder;
  folder.Write(u"profiles.ini"_s, c.Bytes);
  folder.Folders({u"p."_s + c.Name});
  TThunderbirdProfiles profiles(folder.App());
  ASSERT_TRUE(profiles.ReadProfiles());
  EXPECT_EQ(Listed(profiles.ProfileList()), QStringList{c.Name});
  EXPECT_EQ(profiles.TbEnc(), c.Encoding);
}

QByteArray OneProfile(const QString& name)
{
  return (u"[General]\nVersion=2\n\n[Profile0]\nName="_s + name + u"\nIsRelative=1\nPath=p."_s + name + u"\n"_s)
      .toUtf8();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileEncoding,
    ::testing::Values(
        TEncodingCase{"AsciiWithoutMark", OneProfile(u"plain"_s), u"plain"_s, TIniEncoding::Ansi},
        TEncodingCase{"Utf8WithoutMark", OneProfile(u"M\u00FCller"_s), u"M\u00FCller"_s, TIniEncoding::Utf8NoMark},
        // ß is C3 9F: 9F is "Ÿ" (U+0178) in Windows-1252, whose low byte alone does not look like a continuation.
        TEncodingCase{"Utf8ByteIn1252Gap", OneProfile(u"Stra\u00DFe"_s), u"Stra\u00DFe"_s, TIniEncoding::Utf8NoMark},
        TEncodingCase{"Windows1252", "[Profile0]\nName=Caf\xE9\nPath=p.Caf\xE9\n", u"Caf\u00E9"_s, TIniEncoding::Ansi},
        TEncodingCase{"Utf8WithMark", "\xEF\xBB\xBF" + OneProfile(u"\u00E9t\u00E9"_s), u"\u00E9t\u00E9"_s,
                      TIniEncoding::Utf8},
        TEncodingCase{"Utf16LE", Utf16(QString::fromUtf8(OneProfile(u"\u65E5\u672C"_s)), false), u"\u65E5\u672C"_s,
                      TIniEncoding::Utf16LE},
        TEncodingCase{"Utf16BE", Utf16(QString::fromUtf8(OneProfile(u"\u00C5sa"_s)), true), u"\u00C5sa"_s,
                      TIniEncoding::Utf16BE}),
    [](const ::testing::TestParamInfo<TEncodingCase>& p) { return std::string(p.param.Title); });

TEST(ProfileEncoding, InstallsDefaultMatchesUtf8Paths)
{
  ProfilesFolder folder;
  folder.Write(u"profiles.ini"_s, u"[Profile0]\nName=a\nPath=a\nDefault=1\n[Profile1]\nName=M\u00FCller\n"
                                  u"Path=m.M\u00FCller\n[InstallAB12]\nDefault=m.M\u00FCller\n"_s.toUtf8());
  folder.Write(u"installs.ini"_s, u"[AB12]\nDefault=m.M\u00FCller\n"_s.toUtf8());
  folder.Folders({u"a"_s, u"m.M\u00FCller"_s});
  TThunderbirdProfiles profiles(folder.App());
  ASSERT_TRUE(profiles.ReadProfiles());
  EXPECT_EQ(profiles.ProfileList().DefProfile(), u"M\u00FCller"_s);
}

TEST(ThunderbirdFolder, FirstCandidateWithProfilesIni)
{
  struct TCase {
    QStringList WithIni; // candidates (0 plain, 1 snap, 2 flatpak) that hold profiles.ini
    int Expected;
  };
  const TCase cases[] = {{{}, 0}, {{u"1"_s}, 1}, {{u"2"_s}, 2}, {{u"0"_s, u"2"_s}, 0}, {{u"1"_s, u"2"_s}, 1}};
  for (const TCase& c : cases) {
    TempDir home;
    const QStringList folders = quillbox::ThunderbirdFolders(home.Path());
    ASSERT_EQ(folders.size(), 3);
    EXPECT_EQ(folders[1], home.Path() + u"/snap/thunderbird/common/.thunderbird/"_s);
    EXPECT_EQ(folders[2], home.Path() + u"/.var/app/org.mozilla.Thunderbird/.thunderbird/"_s);
    for (const QString& index : c.WithIni) {
      QDir().mkpath(folders[index.toInt()]);
      ardanto::test::WriteFile(folders[index.toInt()] + u"profiles.ini"_s, "[Profile0]\n");
    }
    // A folder without profiles.ini does not count.
    QDir().mkpath(folders[0]);
    EXPECT_EQ(quillbox::FindThunderbirdFolder(home.Path()), folders[c.Expected]) << c.WithIni.join(u',').toStdString();
  }
}

// profiles.ini as Thunderbird writes it, with the profile to move in the
// second section read: Profile0's folder is missing, so the entry's position
// in the list (0) is not its section (1).
const QByteArray kThunderbirdIni = "[General]\n"
                                   "StartWithLastProfile=1\n"
                                   "Version=2\n"
                                   "\n"
                                   "[InstallFDC34C9F024745EB]\n"
                                   "Default=Profiles/t.target\n"
                                   "Locked=1\n"
                                   "\n"
                                   "[Profile0]\n"
                                   "Name=gone\n"
                                   "IsRelative=1\n"
                                   "Path=Profiles/missing\n"
                                   "\n"
                                   "[Profile1]\n"
                                   "Name=target\n"
                                   "IsRelative=1\n"
                                   "Path=Profiles/t.target\n"
                                   "Default=1\n"
                                   "Extra=kept\n"
                                   "\n"
                                   "[Profile2]\n"
                                   "Name=other\n"
                                   "IsRelative=1\n"
                                   "Path=o.other\n"
                                   "\n";

QByteArray TargetSection(const QByteArray& relative, const QByteArray& path)
{
  return "[Profile1]\nName=target\nIsRelative=" + relative + "\nPath=" + path + "\nDefault=1\nExtra=kept\n\n";
}

TEST(UpdateProfilesIni, WritesTheEntrysOwnSectionAndKeepsTheRest)
{
  struct TCase {
    const char* Title;
    QString MoveTo; // below %ROOT%
    QByteArray Relative;
    QByteArray Path;
    QString Shown;
  };
  const TCase cases[] = {
      {"BelowTheFolder", u"/.thunderbird/Moved/t/"_s, "1", "Moved/t", u"<Thunderbird>/Moved/t"_s},
      {"Outside", u"/Mail/t"_s, "0", "%ROOT%/Mail/t", u"%ROOT%/Mail/t"_s},
      {"TheFolderItself", u"/.thunderbird"_s, "1", "", u"<Thunderbird>/"_s},
      // A look-alike with other case is another folder on Linux.
      {"OtherCaseIsOutside", u"/.Thunderbird/t"_s, "0", "%ROOT%/.Thunderbird/t", u"%ROOT%/.Thunderbird/t"_s},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    ProfilesFolder folder;
    folder.Write(u"profiles.ini"_s, kThunderbirdIni);
    folder.Folders({u"Profiles/t.target"_s, u"o.other"_s});
    TThunderbirdProfiles profiles(folder.App());
    ASSERT_TRUE(profiles.ReadProfiles());
    ASSERT_EQ(profiles.ProfileList().IndexOf(u"target"_s), 0);

    QString error;
    ASSERT_TRUE(profiles.UpdateProfilesIni(u"TARGET"_s, folder.Root() + c.MoveTo, error)) << error.toStdString();
    QByteArray expected = kThunderbirdIni;
    expected.replace(TargetSection("1", "Profiles/t.target"), TargetSection(c.Relative, c.Path));
    expected.replace("%ROOT%", folder.Root().toUtf8());
    EXPECT_EQ(ReadFile(folder.ProfilesIni()), expected);
    QString shown = c.Shown;
    shown.replace(u"%ROOT%"_s, folder.Root());
    EXPECT_EQ(profiles.ProfileList().GetPathName(u"target"_s), shown);
    EXPECT_EQ(profiles.ProfileList().GetFullPath(u"target"_s), QDir::cleanPath(folder.Root() + c.MoveTo));
  }
}

TEST(UpdateProfilesIni, KeepsTheEncodingItWasReadIn)
{
  struct TCase {
    const char* Title;
    QByteArray Bytes;
    QString NewFolder;   // below the Thunderbird folder
    QByteArray Expected; // the whole file afterwards
  };
  const QString ini = u"[Profile0]\r\nName=r\u00E9\r\nPath=a\r\n\r\n"_s;
  const QString moved = u"[Profile0]\r\nName=r\u00E9\r\nPath=M\u00E4il\r\nIsRelative=1\r\nDefault=1\r\n\r\n"_s;
  const TCase cases[] = {
      {"Utf16LE", Utf16(ini, false), u"M\u00E4il"_s, Utf16(moved, false)},
      {"Utf16BE", Utf16(ini, true), u"M\u00E4il"_s, Utf16(moved, true)},
      {"Utf8WithMark", "\xEF\xBB\xBF" + ini.toUtf8(), u"M\u00E4il"_s, "\xEF\xBB\xBF" + moved.toUtf8()},
      {"Utf8WithoutMark", ini.toUtf8(), u"M\u00E4il"_s, moved.toUtf8()},
      // Plain ASCII reads the same in both; the new name is written as Thunderbird reads it, in UTF-8.
      {"AsciiGetsUtf8", "[Profile0]\nName=r\nPath=a\n", u"M\u00E4il"_s,
       "[Profile0]\nName=r\nPath=M\xC3\xA4il\nIsRelative=1\nDefault=1\n\n"},
      {"Windows1252StaysSo", "[Profile0]\nName=r\xE9\nPath=a\n", u"M\u00E4il"_s,
       "[Profile0]\nName=r\xE9\nPath=M\xE4il\nIsRelative=1\nDefault=1\n\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    ProfilesFolder folder;
    folder.Write(u"profiles.ini"_s, c.Bytes);
    folder.Folders({u"a"_s});
    TThunderbirdProfiles profiles(folder.App());
    ASSERT_TRUE(profiles.ReadProfiles());
    const QString name = profiles.ProfileList().Name(0);
    QString error;
    ASSERT_TRUE(profiles.UpdateProfilesIni(name, folder.App() + c.NewFolder, error)) << error.toStdString();
    EXPECT_EQ(ReadFile(folder.ProfilesIni()).toHex(' '), c.Expected.toHex(' '));

    // And reading it again finds the profile in its new folder.
    folder.Folders({c.NewFolder});
    TThunderbirdProfiles again(folder.App());
    ASSERT_TRUE(again.ReadProfiles());
    EXPECT_EQ(again.ProfileList().GetFullPath(name), QDir::cleanPath(folder.App() + c.NewFolder));
  }
}

// What makes UpdateProfilesIni leave the file alone: each case replaces
// profiles.ini after a good reading.
TEST(UpdateProfilesIni, NeverRewritesAFileItCannotTrust)
{
  struct TCase {
    const char* Title;
    QByteArray Replacement; // empty: a folder named profiles.ini
    const char* Reason;
  };
  const TCase cases[] = {
      {"BinaryGarbage", "[Profile1]\nName=target\nPath=Profiles/t.target\n" + QByteArray("\0\x01\xFF", 3), "binary"},
      {"OddUtf16", Utf16(QString::fromUtf8(kThunderbirdIni), false) + "x", "odd number"},
      {"BadUtf8", "\xEF\xBB\xBF" + kThunderbirdIni + "\xC3", "UTF-8"},
      {"SectionChanged", QByteArray(kThunderbirdIni).replace("Name=target", "Name=somebody"), "changed"},
      {"SectionGone", QByteArray(kThunderbirdIni).replace("[Profile1]", "[Profile7]"), "changed"},
      {"NotAFile", QByteArray(), "regular file"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    ProfilesFolder folder;
    folder.Write(u"profiles.ini"_s, kThunderbirdIni);
    folder.Folders({u"Profiles/t.target"_s, u"o.other"_s});
    TThunderbirdProfiles profiles(folder.App());
    ASSERT_TRUE(profiles.ReadProfiles());
    if (c.Replacement.isEmpty()) {
      QFile::remove(folder.ProfilesIni());
      QDir().mkpath(folder.ProfilesIni());
    } else {
      folder.Write(u"profiles.ini"_s, c.Replacement);
    }
    QString error;
    EXPECT_FALSE(profiles.UpdateProfilesIni(u"target"_s, folder.Root() + u"/elsewhere"_s, error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.Reason))) << error.toStdString();
    EXPECT_TRUE(error.contains(u"left unchanged"_s)) << error.toStdString();
    if (!c.Replacement.isEmpty()) {
      EXPECT_EQ(ReadFile(folder.ProfilesIni()), c.Replacement);
    }
    EXPECT_EQ(QDir(folder.App()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{u"Profiles"_s, u"o.other"_s, u"profiles.ini"_s}))
        << "no temporary file left";
  }
}

TEST(UpdateProfilesIni, RefusesWhatTheFilesEncodingCannotHold)
{
  ProfilesFolder folder;
  const QByteArray bytes = "[Profile0]\nName=r\xE9\nPath=a\n";
  folder.Write(u"profiles.ini"_s, bytes);
  folder.Folders({u"a"_s});
  TThunderbirdProfiles profiles(folder.App());
  ASSERT_TRUE(profiles.ReadProfiles());
  QString error;
  EXPECT_FALSE(profiles.UpdateProfilesIni(u"r\u00E9"_s, folder.App() + u"\u65E5\u672C"_s, error));
  EXPECT_TRUE(error.contains(u"encoding"_s)) << error.toStdString();
  EXPECT_EQ(ReadFile(folder.ProfilesIni()), bytes);
}

// Bad files: nothing crashes, what can be read is listed, and a file that was
// not read whole is never written back.
TEST(ProfilesIniBadInput, ReadsWhatItCanAndWritesNothingBack)
{
  struct TCase {
    const char* Title;
    QByteArray Profiles; // empty: a folder named profiles.ini
    QByteArray Installs;
    TNames Names;
    bool Problem;
  };
  QByteArray garbage;
  for (int i = 0; i < 4096; ++i)
    garbage += static_cast<char>((i * 7919 + 13) % 256);
  const QByteArray good = "[InstallAB]\n[Profile0]\nName=a\nPath=a\n[Profile1]\nName=b\nPath=b\nDefault=1\n";
  const TCase cases[] = {
      {"Garbage", garbage, {}, {}, true},
      {"GarbageAroundASection", garbage + "\n[Profile0]\nName=a\nPath=a\n" + garbage, {}, {"a"}, true},
      {"Truncated", "[Profile0]\nName=a\nPath=a\n[Profile1]\nName=b\nPa", {}, {"a", "b"}, false},
      {"TruncatedInUtf8", "\xEF\xBB\xBF[Profile0]\nName=a\nPath=a\n[Profile1]\nName=b\nPath=b\xC3", {}, {"a"}, true},
      {"OddUtf16", Utf16(QString::fromUtf8(good), false) + "\n", {}, {"a", "b"}, true},
      {"TooLarge", good + QByteArray(2 << 20, ' '), {}, {}, true},
      {"NotAFile", QByteArray(), {}, {}, true},
      {"GarbageInstalls", good, garbage, {"a", "b"}, false},
      {"InstallsNamesAFolderOutside", good, "[AB]\nDefault=../../etc\n", {"a", "b"}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    ProfilesFolder folder;
    folder.Folders({u"a"_s, u"b"_s});
    if (c.Profiles.isEmpty())
      QDir().mkpath(folder.ProfilesIni());
    else
      folder.Write(u"profiles.ini"_s, c.Profiles);
    if (!c.Installs.isEmpty())
      folder.Write(u"installs.ini"_s, c.Installs);

    TThunderbirdProfiles profiles(folder.App());
    EXPECT_EQ(profiles.ReadProfiles(), !c.Names.empty());
    EXPECT_EQ(Listed(profiles.ProfileList()), ToList(c.Names));
    EXPECT_EQ(!profiles.ReadProblem().isEmpty(), c.Problem) << profiles.ReadProblem().toStdString();
    if (c.Names.empty())
      continue;
    QString error;
    const bool written =
        profiles.UpdateProfilesIni(QString::fromUtf8(c.Names.front()), folder.Root() + u"/elsewhere"_s, error);
    EXPECT_EQ(written, !c.Problem) << error.toStdString();
    if (c.Problem) {
      EXPECT_EQ(ReadFile(folder.ProfilesIni()), c.Profiles);
    }
  }
}

TEST(ProfilesIniBadInput, UnreadableFileKeepsTheListAndIsNeverWritten)
{
  ProfilesFolder folder;
  folder.Write(u"profiles.ini"_s, "[Profile0]\nName=a\nPath=a\n");
  folder.Folders({u"a"_s});
  TThunderbirdProfiles profiles(folder.App());
  ASSERT_TRUE(profiles.ReadProfiles());
  // A folder in its place cannot be opened, even by root.
  QFile::remove(folder.ProfilesIni());
  QDir().mkpath(folder.ProfilesIni());
  EXPECT_FALSE(profiles.ReadProfiles());
  EXPECT_EQ(Listed(profiles.ProfileList()), QStringList{u"a"_s});
  EXPECT_FALSE(profiles.ReadProblem().isEmpty());
  QDir().rmdir(folder.ProfilesIni());
  folder.Write(u"profiles.ini"_s, "[Profile0]\nName=a\nPath=a\n");
  QString error;
  EXPECT_FALSE(profiles.UpdateProfilesIni(u"a"_s, folder.Root() + u"/elsewhere"_s, error))
      << "the list did not come from the file as it is now";

  QFile::remove(folder.ProfilesIni());
  EXPECT_FALSE(profiles.ReadProfiles());
  EXPECT_EQ(Listed(profiles.ProfileList()), QStringList{u"a"_s}) << "a missing file keeps the list too";
}

TEST(CheckProfile, ReportsTheMissingPieces)
{
  ProfilesFolder folder;
  TThunderbirdProfiles profiles(folder.App());
  QString dir;
  QString shown;
  QString error;
  EXPECT_FALSE(profiles.CheckProfile(u"a"_s, dir, shown, error));
  EXPECT_EQ(error, u"No Thunderbird profiles found!"_s);

  folder.Write(u"profiles.ini"_s, "[Profile0]\nName=a\nPath=Profiles/a\n");
  folder.Folders({u"Profiles/a"_s});
  EXPECT_FALSE(profiles.CheckProfile(u"b"_s, dir, shown, error));
  EXPECT_EQ(error, u"Profile \"b\" not found!"_s);
  ASSERT_TRUE(profiles.CheckProfile(u"A"_s, dir, shown, error));
  EXPECT_EQ(dir, folder.App() + u"Profiles/a"_s);
  EXPECT_EQ(shown, u"<Thunderbird>/Profiles/a"_s);
}

TEST(BackupInfo, KeepsOneEntryPerProfile)
{
  TempDir backup;
  const QString file = quillbox::BackupInfoFile(backup.Path());
  EXPECT_EQ(file, backup.Path() + u"/bu-profiles.ini"_s);
  EXPECT_TRUE(quillbox::ReadBackupInfo(file, u"a"_s).isEmpty());
  QString error;
  ASSERT_TRUE(quillbox::WriteBackupInfo(backup.Path(), u"a"_s, u"/home/ann/.thunderbird/x.a"_s, error));
  ASSERT_TRUE(quillbox::WriteBackupInfo(backup.Path() + u'/', u"M\u00FCller"_s, u"/mail/m"_s, error));
  ASSERT_TRUE(quillbox::WriteBackupInfo(backup.Path(), u"a"_s, u"/moved/a"_s, error));

  EXPECT_EQ(quillbox::ReadBackupInfo(file, u"a"_s), u"/moved/a"_s);
  EXPECT_EQ(quillbox::ReadBackupInfo(file, u"m\u00FCller"_s), u"/mail/m"_s);
  EXPECT_TRUE(quillbox::ReadBackupInfo(file, u"b"_s).isEmpty());
  const QByteArray bytes = ReadFile(file);
  EXPECT_TRUE(bytes.startsWith("\xFF\xFE")) << "the suite's own files are UTF-16LE";
  const auto ini = ardanto::TUnicodeIniFile::CreateForRead(file);
  EXPECT_EQ(ini.ReadString(u"Unicode"_s, u"Encoding"_s, QString()), u"UTF-16LE"_s);

  EXPECT_FALSE(quillbox::WriteBackupInfo(backup.Path() + u"/missing"_s, u"a"_s, u"/x"_s, error));
  EXPECT_TRUE(error.startsWith(u"Error writing to"_s)) << error.toStdString();
  EXPECT_TRUE(quillbox::ReadBackupInfo(backup.Path() + u"/missing/bu-profiles.ini"_s, u"a"_s).isEmpty());
}

// Profiles made by the real Thunderbird.
class RealThunderbird : public ::testing::Test {
protected:
  void SetUp() override { FHome = ardanto::test::CopyThunderbirdHome(FDir.Path()); }

  TempDir FDir;
  ardanto::test::ThunderbirdHome FHome;
};

TEST_F(RealThunderbird, ReadsTheProfilesThunderbirdMade)
{
  const QString app = quillbox::FindThunderbirdFolder(FHome.Home);
  EXPECT_EQ(app, FHome.DataFolder);
  TThunderbirdProfiles profiles(app);
  ASSERT_TRUE(profiles.ReadProfiles()) << profiles.ReadProblem().toStdString();
  const TProfileList& list = profiles.ProfileList();
  EXPECT_EQ(Listed(list), (QStringList{u"alpha"_s, u"beta"_s}));
  EXPECT_EQ(list.DefProfile(), u"alpha"_s) << "Thunderbird marks the first profile it made Default=1";
  for (const QString& name : {u"alpha"_s, u"beta"_s}) {
    EXPECT_EQ(list.GetFullPath(name), FHome.ProfileFolder(name));
    EXPECT_TRUE(list.GetPathName(name).startsWith(u"<Thunderbird>/"_s)) << list.GetPathName(name).toStdString();
  }
  const QStringList files = FHome.ProfileFiles(u"alpha"_s);
  for (const QString& file : {u"prefs.js"_s, u"abook.sqlite"_s, u"key4.db"_s, u"global-messages-db.sqlite"_s})
    EXPECT_TRUE(files.contains(file)) << file.toStdString();
  EXPECT_EQ(profiles.TbEnc(), TIniEncoding::Ansi);
}

// Thunderbird's own -CreateProfile reads the rewritten profiles.ini and writes
// it anew: the moved profiles are where Thunderbird now looks for them.
TEST_F(RealThunderbird, ThunderbirdFindsTheMovedProfiles)
{
  TThunderbirdProfiles profiles(FHome.DataFolder);
  ASSERT_TRUE(profiles.ReadProfiles());
  const QString outside = FHome.Home + u"/Mail \u00E4/beta"_s;
  const QString below = FHome.DataFolder + u"Profiles/alpha"_s;
  ASSERT_TRUE(QDir().mkpath(QFileInfo(outside).path()));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(below).path()));
  ASSERT_TRUE(QDir().rename(profiles.ProfileList().GetFullPath(u"beta"_s), outside));
  ASSERT_TRUE(QDir().rename(profiles.ProfileList().GetFullPath(u"alpha"_s), below));
  QString error;
  ASSERT_TRUE(profiles.UpdateProfilesIni(u"beta"_s, outside, error)) << error.toStdString();
  ASSERT_TRUE(profiles.UpdateProfilesIni(u"alpha"_s, below, error)) << error.toStdString();

  ardanto::test::RunThunderbird(FHome, {u"--headless"_s, u"-CreateProfile"_s, u"gamma"_s});
  EXPECT_EQ(FHome.ProfileFolder(u"beta"_s), outside);
  EXPECT_EQ(FHome.ProfileFolder(u"alpha"_s), below);
  EXPECT_FALSE(FHome.ProfileFolder(u"gamma"_s).isEmpty());
  const QByteArray ini = ReadFile(FHome.ProfilesIni());
  EXPECT_TRUE(ini.contains(QByteArray("Path=" + outside.toUtf8() + "\n"))) << ini.toStdString();
  EXPECT_TRUE(ini.contains("Path=Profiles/alpha\n")) << ini.toStdString();

  TThunderbirdProfiles again(FHome.DataFolder);
  ASSERT_TRUE(again.ReadProfiles());
  EXPECT_EQ(Listed(again.ProfileList()).size(), 3);
  EXPECT_EQ(again.ProfileList().GetFullPath(u"beta"_s), outside);
  EXPECT_TRUE(QFileInfo::exists(below + u"/prefs.js"_s));
}

} // namespace
