// Quillbox started with /lang:de speaks German: its own texts come from the
// catalogue "quillbox", the engine's result texts from the libraries'
// catalogue "ardanto-lib", both as the build tree holds them. Without a
// display every message goes to standard error, which is what is read here.

#include "support/RecordingEngine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

struct TLanguageCase {
  const char* Name;
  bool WithProfile;      // a home with the Thunderbird profile "alpha"
  bool WithBackupFolder; // /backupdir: given, so that the engine is started
  QStringList Arguments;
  QString Expected; // the message as standard error shows it
};

void PrintTo(const TLanguageCase& c, std::ostream* os)
{
  *os << c.Name;
}

class QuillboxLanguageTest : public ::testing::TestWithParam<TLanguageCase> {
protected:
  void SetUp() override
  {
    FHome = FDir.Path() + u"/home"_s;
    FWork = FDir.Path() + u"/work"_s;
    ASSERT_TRUE(QDir().mkpath(FHome));
    ASSERT_TRUE(QDir().mkpath(FWork));
    // The engine stands in the current folder, where Quillbox looks first,
    // and reports that some files failed.
    FEngine = std::make_unique<TRecordingEngine>(FWork);
    FEngine->SetExitCode(4);
  }

  // A profile folder and the list that names it are all Quillbox reads.
  void MakeProfile() const
  {
    FDir.Write(u"home/.thunderbird/profiles.ini"_s,
               "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=alpha\nIsRelative=1\nPath=ab12cd34.alpha\n"
               "Default=1\n");
    FDir.Write(u"home/.thunderbird/ab12cd34.alpha/prefs.js"_s, "// Mozilla User Preferences\n");
  }

  QString Run(const QStringList& args) const
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, FHome);
    env.insert(u"XDG_CONFIG_HOME"_s, FDir.Path() + u"/config"_s);
    env.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    // The option alone decides: the locale says English, and the catalogues
    // are found from the program's place, as they are after installing.
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    for (const QString& name : {u"LANGUAGE"_s, u"LC_ALL"_s, u"LC_MESSAGES"_s, u"ARDANTO_LOCALEDIR"_s, u"DISPLAY"_s,
                                u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
      env.remove(name);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(FWork);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QUILLBOX_PROGRAM), args);
    if (!process.waitForStarted(10000))
      return u"<not started>"_s;
    if (!process.waitForFinished(60000)) {
      process.kill();
      process.waitForFinished();
      return u"<hung> "_s + QString::fromLocal8Bit(process.readAll());
    }
    return QString::fromLocal8Bit(process.readAll());
  }

  TempDir FDir;
  QString FHome;
  QString FWork;
  std::unique_ptr<TRecordingEngine> FEngine;
};

TEST_P(QuillboxLanguageTest, ShowsTheMessage)
{
  const TLanguageCase& c = GetParam();
  if (c.WithProfile)
    MakeProfile();
  QStringList args = c.Arguments;
  if (c.WithBackupFolder)
    args.append(u"/backupdir:"_s + FDir.Path() + u"/backup"_s);
  const QString output = Run(args);
  EXPECT_TRUE(output.contains(u"Quillbox\n"_s + c.Expected + u"\n-> OK"_s)) << output.toStdString();
  // The engine is started only when the backup can go somewhere.
  EXPECT_EQ(FEngine->Calls().size(), c.WithBackupFolder ? 1u : 0u) << output.toStdString();
}

const TLanguageCase kCases[] = {
    {"NoProfiles", false, false, {u"/force"_s, u"/lang:de"_s}, u"Keine Thunderbird-Profile gefunden!"_s},
    {"UnknownProfile", true, false, {u"beta"_s, u"/force"_s, u"/lang:de"_s}, u"Profil \"beta\" nicht gefunden!"_s},
    {"NoBackupFolder", true, false, {u"alpha"_s, u"/lang:de"_s, u"/force"_s}, u"Ziel: Kein Verzeichnis angegeben!"_s},
    // Quillbox's frame around the libraries' text of the engine's exit code.
    {"EngineReport",
     true,
     true,
     {u"alpha"_s, u"/force"_s, u"/prompt:quiet"_s, u"/lang:de"_s},
     u"Von Ardanto gemeldeter Fehler: Fehler bei der Sicherung!"_s},
    // Without the option the locale's language stays.
    {"WithoutTheOption",
     true,
     true,
     {u"alpha"_s, u"/force"_s, u"/prompt:quiet"_s},
     u"Error reported by Ardanto: Errors during backup!"_s},
};

INSTANTIATE_TEST_SUITE_P(Messages, QuillboxLanguageTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TLanguageCase>& param) {
                           return std::string(param.param.Name);
                         });

} // namespace
