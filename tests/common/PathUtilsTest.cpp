#include "common/PathUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

struct Case {
  const char16_t* Input;
  const char16_t* Expected;
};

QString S(const char16_t* text)
{
  return QString::fromUtf16(text);
}

template <typename F, std::size_t N> void Check(const char* what, F f, const Case (&cases)[N])
{
  for (const Case& c : cases)
    EXPECT_EQ(f(S(c.Input)), S(c.Expected)) << what << "(" << S(c.Input).toStdString() << ")";
}

} // namespace

TEST(PathUtils, SingleArgumentOperations)
{
  Check("SetDirName", SetDirName, {{u"", u""}, {u"/a", u"/a/"}, {u"/a/", u"/a/"}});
  Check("GetExt", GetExt,
        {{u"photo.JPG", u"JPG"}, {u"/dir.d/file", u""}, {u"a.tar.gz", u"gz"}, {u"noext", u""}, {u"trail.", u""}});
  Check("DelExt", DelExt, {{u"/a.b/c.txt", u"/a.b/c"}, {u"/a.b/c", u"/a.b/c"}});
  Check("ParentDir", ParentDir, {{u"/home/ann/", u"/home"}, {u"/home/ann", u"/home"}, {u"/home", u"/"}, {u"x", u""}});
  Check("ExtractFileName", ExtractFileName, {{u"/a/b.txt", u"b.txt"}, {u"b", u"b"}});
  Check("ExtractFilePath", ExtractFilePath, {{u"/a/b.txt", u"/a/"}, {u"b", u""}});
  Check("ToLongPath", ToLongPath, {{u"/x", u"/x"}});
  EXPECT_TRUE(IsAbsolutePath(u"/home"_s));
  EXPECT_TRUE(IsAbsolutePath(u":Backup:/Mail"_s));
  EXPECT_FALSE(IsAbsolutePath(u"mtp:host=x"_s));
  EXPECT_FALSE(IsAbsolutePath(u"relative/x"_s));
}

TEST(PathUtils, ExtensionOperations)
{
  const struct {
    const char16_t* Name;
    const char16_t* Ext;
    int Mode;
    const char16_t* Expected;
  } addExt[] = {
      {u"task.PKJ", u"pkj", 0, u"task.PKJ"}, // already there, other case
      {u"task", u".pkj", 0, u"task.pkj"},
      {u"task.", u"pkj", 0, u"task.pkj"},
      {u"task.txt", u"pkj", 0, u"task.txt.pkj"},
      {u"task.txt", u"pkj", 1, u"task.pkj"},
      {u"task.pkj", u"pkj", 2, u"task.pkj.pkj"},
      {u"", u"pkj", 0, u""},
      {u"task", u"", 0, u"task"},
  };
  for (const auto& c : addExt)
    EXPECT_EQ(AddExt(S(c.Name), S(c.Ext), c.Mode), S(c.Expected)) << S(c.Name).toStdString() << " " << c.Mode;

  EXPECT_EQ(NewExt(u"/d.x/a.txt"_s, u".gz"_s), u"/d.x/a.gz"_s);
  EXPECT_EQ(NewExt(u"a.txt"_s, u""_s), u"a"_s);
  EXPECT_EQ(NewExt(u""_s, u"gz"_s), u""_s);
}

TEST(PathUtils, JoiningOperations)
{
  EXPECT_EQ(AddPath(u""_s, u"n"_s), u"n"_s);
  EXPECT_EQ(AddPath(u"/d"_s, u""_s), u"/d"_s);
  EXPECT_EQ(AddPath(u"/d"_s, u"n"_s), u"/d/n"_s);
  EXPECT_EQ(AddPath(u"/d/"_s, u"n"_s), u"/d/n"_s);
  EXPECT_EQ(MakeFileName(u"/jobs"_s, u"daily"_s, u".pkj"_s), u"/jobs/daily.pkj"_s);
  EXPECT_EQ(MakeFileName(u"/jobs/"_s, u"daily.x"_s, u"pkj"_s), u"/jobs/daily.x"_s);
  EXPECT_EQ(MakeFileName(u"/jobs"_s, u"/tmp/daily"_s, u"pkj"_s), u"/tmp/daily.pkj"_s);
  EXPECT_EQ(MakeFileName(u""_s, u"daily"_s, u"pkj"_s), u"daily.pkj"_s);
  EXPECT_EQ(ExpandPath(u"/base"_s, u"rel/x"_s), u"/base/rel/x"_s);
  EXPECT_EQ(ExpandPath(u"/base"_s, u"/abs"_s), u"/abs"_s);
}

TEST(PathUtils, ResolvedPathsSeeThroughLinksAndMissingParts)
{
  ardanto::test::TempDir dir;
  const QString real = dir.Path() + u"/real"_s;
  QDir().mkpath(real + u"/sub"_s);
  ASSERT_TRUE(QFile::link(real, dir.Path() + u"/link"_s));
  const QString base = QFileInfo(dir.Path()).canonicalFilePath();
  EXPECT_EQ(ResolvedPath(dir.Path() + u"/link/sub"_s), base + u"/real/sub"_s);
  EXPECT_EQ(ResolvedPath(dir.Path() + u"/link/new/deeper"_s), base + u"/real/new/deeper"_s) << "missing part kept";
  EXPECT_EQ(ResolvedPath(dir.Path() + u"/real/sub/../sub/"_s), base + u"/real/sub"_s);

  const struct {
    const char16_t* Path;
    const char16_t* Folder;
    bool Below;
  } cases[] = {
      {u"/a/b", u"/a", true},  {u"/a", u"/a", true},       {u"/ab", u"/a", false},
      {u"/a", u"/a/b", false}, {u"/anything", u"/", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSameOrBelow(QString::fromUtf16(c.Path), QString::fromUtf16(c.Folder)), c.Below)
        << QString::fromUtf16(c.Path).toStdString() << " in " << QString::fromUtf16(c.Folder).toStdString();
}
