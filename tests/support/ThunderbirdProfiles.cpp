#include "support/ThunderbirdProfiles.h"

#include "common/IniFileUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

namespace ardanto::test {

using namespace Qt::StringLiterals;

namespace {

// Raise when the recipe below changes, so that old masters are not reused.
constexpr int kRecipe = 1;

[[noreturn]] void Fail(const QString& what, const QByteArray& output = QByteArray())
{
  std::string text = what.toStdString();
  if (!output.isEmpty())
    text += "\n" + output.toStdString();
  throw std::runtime_error(text);
}

QProcessEnvironment ThunderbirdEnvironment(const QString& home)
{
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(u"HOME"_s, home);
  // Everything Thunderbird keeps outside its profile stays in the private HOME too.
  env.insert(u"XDG_CONFIG_HOME"_s, home + u"/.config"_s);
  env.insert(u"XDG_CACHE_HOME"_s, home + u"/.cache"_s);
  env.insert(u"XDG_DATA_HOME"_s, home + u"/.local/share"_s);
  env.insert(u"MOZ_HEADLESS"_s, u"1"_s);
  env.insert(u"MOZ_CRASHREPORTER_DISABLE"_s, u"1"_s);
  env.remove(u"DISPLAY"_s);
  env.remove(u"WAYLAND_DISPLAY"_s);
  return env;
}

QString ThunderbirdProgram()
{
  const QString program = QStandardPaths::findExecutable(u"thunderbird"_s);
  if (program.isEmpty())
    Fail(u"thunderbird is not installed (scripts/install-deps installs it)"_s);
  return program;
}

QByteArray RunThunderbird(const QString& program, const QString& home, const QStringList& args)
{
  QProcess process;
  process.setProcessEnvironment(ThunderbirdEnvironment(home));
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, args);
  if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    Fail(u"thunderbird "_s + args.join(u' ') + u" did not finish"_s, process.readAll());
  }
  const QByteArray output = process.readAll();
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    Fail(u"thunderbird "_s + args.join(u' ') + u" failed"_s, output);
  return output;
}

// Count, total size and newest change of the files below folder.
QString Snapshot(const QString& folder)
{
  qint64 count = 0;
  qint64 size = 0;
  qint64 newest = 0;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info = it.nextFileInfo();
    ++count;
    size += info.size();
    newest = std::max(newest, info.lastModified().toMSecsSinceEpoch());
  }
  return QString::number(count) + u'/' + QString::number(size) + u'/' + QString::number(newest);
}

// Starts Thunderbird in the profile until it has written its files and gone
// quiet, then ends it the way a session end would (SIGTERM).
QByteArray StartOnce(const QString& program, const QString& home, const QString& profile, const QString& folder)
{
  QProcess process;
  process.setProcessEnvironment(ThunderbirdEnvironment(home));
  process.setProcessChannelMode(QProcess::MergedChannels);
  // A group of its own, so that the signal reaches every process it starts.
  process.setChildProcessModifier([] { ::setpgid(0, 0); });
  process.start(program, {u"--headless"_s, u"-no-remote"_s, u"-P"_s, profile});
  if (!process.waitForStarted(10000))
    Fail(u"thunderbird could not be started"_s);
  const pid_t group = static_cast<pid_t>(process.processId());

  const QStringList wanted = {u"prefs.js"_s, u"abook.sqlite"_s, u"global-messages-db.sqlite"_s, u"key4.db"_s};
  QString last;
  int quietSteps = 0;
  bool ready = false;
  for (int step = 0; step < 300 && !ready; ++step) { // 60 s at most
    if (process.waitForFinished(200))
      break;
    bool all = true;
    for (const QString& name : wanted)
      all = all && QFileInfo::exists(folder + u'/' + name);
    const QString now = Snapshot(folder);
    quietSteps = now == last ? quietSteps + 1 : 0;
    last = now;
    ready = all && quietSteps >= 8;
  }
  if (process.state() != QProcess::NotRunning) {
    ::kill(-group, SIGTERM);
    if (!process.waitForFinished(20000)) {
      ::kill(-group, SIGKILL);
      process.waitForFinished(10000);
    }
  }
  const QByteArray output = process.readAll();
  if (!ready)
    Fail(u"thunderbird did not write its profile files in time"_s, output);
  return output;
}

void MakeMaster(const QString& program, const QString& dir)
{
  const QString home = dir + u"/home"_s;
  if (!QDir().mkpath(home))
    Fail(u"cannot create "_s + home);
  QByteArray log;
  log += RunThunderbird(program, home, {u"--headless"_s, u"-CreateProfile"_s, StartedProfile()});
  log += RunThunderbird(program, home, {u"--headless"_s, u"-CreateProfile"_s, FreshProfile()});
  ThunderbirdHome master{home, home + u"/.thunderbird/"_s};
  const QString started = master.ProfileFolder(StartedProfile());
  if (started.isEmpty() || master.ProfileFolder(FreshProfile()).isEmpty())
    Fail(u"thunderbird -CreateProfile left no profiles in "_s + master.ProfilesIni(), log);
  log += StartOnce(program, home, StartedProfile(), started);
  WriteFile(dir + u"/thunderbird.log"_s, log);
  WriteFile(dir + u"/complete"_s, QByteArray());
}

// Holds an exclusive lock on a file while it lives.
class FileLock {
public:
  explicit FileLock(const QString& fileName)
    : FHandle(::open(QFile::encodeName(fileName).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
  {
    if (FHandle < 0 || ::flock(FHandle, LOCK_EX) != 0)
      Fail(u"cannot lock "_s + fileName);
  }
  ~FileLock()
  {
    if (FHandle >= 0)
      ::close(FHandle);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

private:
  int FHandle;
};

ThunderbirdHome MakeOrFindMaster()
{
  const QString program = ThunderbirdProgram();
  const ProcessResult version = Run(program, {u"--version"_s}, 30000);
  if (!version.Started || version.ExitCode != 0)
    Fail(u"thunderbird --version failed"_s, version.Output);
  QString key = QString::fromUtf8(version.Output).trimmed();
  for (QChar& c : key) {
    if (!c.isLetterOrNumber() && c != u'.')
      c = u'-';
  }
  const QString root = QStringLiteral(ARDANTO_TEST_BINARY_DIR) + u"/test-fixtures"_s;
  if (!QDir().mkpath(root))
    Fail(u"cannot create "_s + root);
  const QString dir = root + u"/thunderbird-"_s + key + u"-r"_s + QString::number(kRecipe);
  const FileLock lock(root + u"/thunderbird.lock"_s);
  if (!QFileInfo::exists(dir + u"/complete"_s)) {
    QDir(dir).removeRecursively(); // what a failed attempt left
    MakeMaster(program, dir);
  }
  return ThunderbirdHome{dir + u"/home"_s, dir + u"/home/.thunderbird/"_s};
}

} // namespace

QString ThunderbirdHome::ProfileFolder(const QString& name) const
{
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(ProfilesIni(), TIniEncoding::Utf8NoMark);
  const QStringList sections = ini.ReadSections();
  for (const QString& section : sections) {
    if (!section.startsWith(u"Profile"_s) || ini.ReadString(section, u"Name"_s, QString()) != name)
      continue;
    const QString path = ini.ReadString(section, u"Path"_s, QString());
    return QDir::cleanPath(ini.ReadBool(section, u"IsRelative"_s, true) ? DataFolder + path : path);
  }
  return QString();
}

QStringList ThunderbirdHome::ProfileFiles(const QString& name) const
{
  const QString folder = ProfileFolder(name);
  QStringList files;
  if (folder.isEmpty())
    return files;
  const QDir base(folder);
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext())
    files.append(base.relativeFilePath(it.next()));
  files.sort();
  return files;
}

QByteArray RunThunderbird(const ThunderbirdHome& home, const QStringList& args)
{
  return RunThunderbird(ThunderbirdProgram(), home.Home, args);
}

const ThunderbirdHome& MasterThunderbirdHome()
{
  static std::optional<ThunderbirdHome> master;
  static std::string failure;
  if (!master && failure.empty()) {
    try {
      master = MakeOrFindMaster();
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (!master)
    throw std::runtime_error(failure);
  return *master;
}

ThunderbirdHome CopyThunderbirdHome(const QString& folder)
{
  const ThunderbirdHome& master = MasterThunderbirdHome();
  // cp -a keeps modes, times and the links Thunderbird leaves.
  const ProcessResult copy = Run(u"cp"_s, {u"-a"_s, QDir::cleanPath(master.DataFolder), folder + u'/'}, 60000);
  if (!copy.Started || copy.ExitCode != 0)
    Fail(u"cannot copy the Thunderbird profiles to "_s + folder, copy.Output);
  return ThunderbirdHome{folder, folder + u"/.thunderbird/"_s};
}

} // namespace ardanto::test
