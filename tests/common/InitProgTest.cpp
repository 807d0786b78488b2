#include "common/InitProg.h"
#include "common/LangUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// A program in <tmp>/prog/, started from <tmp>/cwd, with a system file
// <tmp>/ardanto6.conf and PATH = <tmp>/path.
class FindEngineTest : public ::testing::Test {
public:
  void SetUp() override
  {
    FSavedPaths = CurrentProgramPaths();
    FSavedCurrent = QDir::currentPath();
    for (const char16_t* folder : {u"cwd", u"prog", u"etc", u"path"})
      QDir().mkpath(FDir.File(QString::fromUtf16(folder)));
    SetProgramPaths({FDir.File(u"prog/"_s), u"portkeep"_s, FDir.File(u"config/"_s)});
    ASSERT_TRUE(QDir::setCurrent(FDir.File(u"cwd"_s)));
  }
  void TearDown() override
  {
    QDir::setCurrent(FSavedCurrent);
    SetProgramPaths(FSavedPaths);
  }

  // An engine that answers --version, executable or not.
  QString Engine(const QString& folder, bool executable = true)
  {
    const QString file = FDir.Write(folder + u"/ardanto"_s, "#!/bin/sh\necho \"ardanto 6.2.1\"\n");
    ::chmod(QFile::encodeName(file).constData(), executable ? 0755 : 0644);
    return file;
  }
  QString SystemConf(const QString& program)
  {
    return FDir.Write(u"ardanto6.conf"_s, "[Ardanto6]\nProgram=" + program.toUtf8() + "\n");
  }

  TempDir FDir;
  TProgramPaths FSavedPaths;
  QString FSavedCurrent;
  ScopedEnv FPath{"PATH", QFile::encodeName(FDir.File(u"path"_s))};
};

TEST_F(FindEngineTest, FindsAnExecutableFileAsAnAbsolutePath)
{
  struct TCase {
    const char* Label;
    std::function<void(FindEngineTest&)> Arrange;
    const char16_t* Expected; // relative to the temporary folder; empty: none
  } cases[] = {
      {"current folder first",
       [](FindEngineTest& t) {
         t.Engine(u"cwd"_s);
         t.Engine(u"prog"_s);
       },
       u"cwd/ardanto"},
      {"not executable in the current folder",
       [](FindEngineTest& t) {
         t.Engine(u"cwd"_s, false);
         t.Engine(u"prog"_s);
       },
       u"prog/ardanto"},
      {"a folder of that name",
       [](FindEngineTest& t) {
         QDir().mkpath(t.FDir.File(u"cwd/ardanto"_s));
         t.Engine(u"prog"_s);
       },
       u"prog/ardanto"},
      {"named by the system file",
       [](FindEngineTest& t) {
         t.SystemConf(t.Engine(u"etc"_s));
         t.Engine(u"path"_s);
       },
       u"etc/ardanto"},
      {"system file names a missing file",
       [](FindEngineTest& t) {
         t.SystemConf(t.FDir.File(u"etc/gone"_s));
         t.Engine(u"path"_s);
       },
       u"path/ardanto"},
      {"system file names a file that cannot run",
       [](FindEngineTest& t) {
         t.SystemConf(t.Engine(u"etc"_s, false));
         t.Engine(u"path"_s);
       },
       u"path/ardanto"},
      {"only on PATH", [](FindEngineTest& t) { t.Engine(u"path"_s); }, u"path/ardanto"},
      {"nowhere", [](FindEngineTest& t) { t.Engine(u"path"_s, false); }, u""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    for (const char16_t* folder : {u"cwd/ardanto", u"prog/ardanto", u"etc/ardanto", u"path/ardanto"}) {
      QFile::remove(FDir.File(QString::fromUtf16(folder)));
      QDir(FDir.File(QString::fromUtf16(folder))).removeRecursively();
    }
    QFile::remove(FDir.File(u"ardanto6.conf"_s));
    c.Arrange(*this);
    const QString expected = QString::fromUtf16(c.Expected);
    EXPECT_EQ(FindEngine(FDir.File(u"ardanto6.conf"_s)), expected.isEmpty() ? QString() : FDir.File(expected));
  }
}

TEST_F(FindEngineTest, EngineInTheCurrentFolderCanBeAsked)
{
  Engine(u"cwd"_s);
  TFileVersionInfo info;
  ASSERT_TRUE(ReadVersionInfo(FindEngine(FDir.File(u"ardanto6.conf"_s)), info));
  EXPECT_EQ(info.InternalName, u"ardanto"_s);
  EXPECT_EQ(info.Version, u"6.2.1"_s);
}

} // namespace
