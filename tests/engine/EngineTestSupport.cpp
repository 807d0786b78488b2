#include "EngineTestSupport.h"

#include "common/IniFileUtils.h"
#include "mail/MailData.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>

namespace enginetest {

using namespace Qt::StringLiterals;

QString EngineProgram()
{
  return QStringLiteral(ARDANTO_ENGINE_PROGRAM);
}

QString Python()
{
  return QFileInfo::exists(u"/usr/bin/python3"_s) ? u"/usr/bin/python3"_s : u"python3"_s;
}

TToolResult RunTool(const QString& program, const QStringList& args, const QProcessEnvironment& env, int timeoutMs)
{
  TToolResult result;
  QProcess process;
  if (!env.isEmpty())
    process.setProcessEnvironment(env);
  process.start(program, args);
  if (!process.waitForStarted(10000))
    return result;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
  }
  result.Out = process.readAllStandardOutput();
  result.Err = process.readAllStandardError();
  result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return result;
}

void WriteIni(const QString& fileName, const TSections& sections)
{
  ardanto::TUnicodeIniFile ini = ardanto::TUnicodeIniFile::CreateForWrite(fileName, true);
  for (const auto& [section, keys] : sections) {
    for (const auto& [key, value] : keys)
      ini.WriteString(section, key, value);
  }
  ini.UpdateFile();
}

void EngineTest::SetUp()
{
  for (const char* folder : {"home", "config", "data", "logs"})
    QDir().mkpath(Path(QString::fromLatin1(folder)));
}

QProcessEnvironment EngineTest::Environment() const
{
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(u"HOME"_s, Path(u"home"_s));
  env.insert(u"XDG_CONFIG_HOME"_s, Path(u"config"_s));
  env.insert(u"XDG_DATA_HOME"_s, Path(u"data"_s));
  env.insert(u"LANG"_s, u"C.UTF-8"_s);
  env.remove(u"LANGUAGE"_s);
  env.remove(u"LC_ALL"_s);
  // The machine's own logind stays out of the tests.
  env.insert(u"ARDANTO_SYSTEM_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
  return env;
}

QString EngineTest::WriteBackupTask(const QString& name, const TBackupSpec& spec) const
{
  const QString file = Path(name);
  TKeys global{{u"FtpBackup"_s, u"0"_s},
               {u"Destination"_s, spec.Destination},
               {u"Note"_s, u"#Thunderbird mail backup#"_s},
               {u"DriveId"_s, u"Drv?"_s},
               {u"SendMail"_s, u"0"_s},
               {u"DeleteFile"_s, u"0"_s},
               {u"Compress"_s, spec.Compress ? u"1"_s : u"0"_s},
               {u"CompressAsZip"_s, spec.Zip ? u"1"_s : u"0"_s},
               {u"NoCompTypes"_s, spec.NoCompTypes},
               {u"Encrypt"_s, QString::number(spec.Encrypt)},
               {u"FixPassword"_s, spec.Password.isEmpty() ? u"0"_s : u"1"_s},
               {u"Password"_s, ardanto::ProtectPassword(spec.Password)},
               {u"LogFile"_s, QString::number(spec.LogFile)},
               {u"LogName"_s, spec.LogName.isEmpty() ? LogFolder() + u"/%taskname%.log"_s : spec.LogName},
               {u"Timespan"_s, QString::number(spec.Timespan)},
               {u"IgnoreDst"_s, spec.IgnoreDst ? u"1"_s : u"0"_s},
               {u"SyncMode"_s, spec.Sync ? u"1"_s : u"0"_s},
               {u"UseRecycler"_s, spec.UseRecycler ? u"1"_s : u"0"_s},
               {u"CreationTime"_s, u"1"_s},
               {u"EmptyDirs"_s, spec.EmptyDirs ? u"1"_s : u"0"_s},
               {u"ClearDest"_s, u"0"_s},
               {u"DirCount"_s, QString::number(spec.Sources.size())}};
  for (const auto& [key, value] : spec.ExtraGlobal) {
    const auto found = std::find_if(global.begin(), global.end(), [&](const auto& item) { return item.first == key; });
    if (found != global.end())
      found->second = value;
    else
      global.emplace_back(key, value);
  }
  TSections sections{{u"Global"_s, global}};
  for (int i = 0; i < spec.Sources.size(); ++i) {
    TKeys dir{{u"Enabled"_s, u"1"_s},
              {u"Source"_s, spec.Sources[i]},
              {u"Volume"_s, QString()},
              {u"Regular"_s, u"0"_s},
              {u"FilterMode"_s, spec.Filter.isEmpty() || i > 0 ? u"0"_s : u"2"_s},
              {u"Filter"_s, i > 0 ? QString() : spec.Filter},
              {u"BackupMode"_s, u"1"_s},
              {u"Exclude"_s, i > 0 ? QString() : spec.Exclude},
              {u"DirFilter"_s, i > 0 ? u"backup"_s : spec.DirFilter},
              {u"IncludeDirs"_s, u"0"_s},
              {u"SubCount"_s, u"0"_s}};
    sections.emplace_back(u"Dir"_s + QString::number(i).rightJustified(3, u'0'), dir);
  }
  WriteIni(file, sections);
  return file;
}

QString EngineTest::WriteRestoreTask(const QString& name, const TRestoreSpec& spec) const
{
  const QString file = Path(name);
  WriteIni(file, {{u"Restore"_s,
                   {{u"Source"_s, spec.Source},
                    {u"DestDir"_s, spec.Target},
                    {u"Origin"_s, u"0"_s},
                    {u"Overwrite"_s, u"0"_s},
                    {u"RestoreMode"_s, u"0"_s},
                    {u"ClearDest"_s, spec.Clear ? u"1"_s : u"0"_s},
                    {u"LogFile"_s, QString::number(spec.LogFile)},
                    {u"LogName"_s, spec.LogName.isEmpty() ? LogFolder() + u"/%taskname%.log"_s : spec.LogName},
                    {u"EmptyDirs"_s, spec.EmptyDirs ? u"1"_s : u"0"_s},
                    {u"UnCompress"_s, QString::number(spec.UnCompress)},
                    {u"NoDecrypt"_s, u"0"_s},
                    {u"Password"_s, ardanto::ProtectPassword(spec.Password)},
                    {u"DriveId"_s, u"Drv?"_s},
                    {u"Timespan"_s, u"2"_s},
                    {u"IgnoreDst"_s, u"1"_s}}}});
  return file;
}

TEngineRun EngineTest::Run(const QStringList& arguments, int timeoutMs) const
{
  const TToolResult tool = RunTool(EngineProgram(), arguments, Environment(), timeoutMs);
  TEngineRun run;
  run.ExitCode = tool.ExitCode;
  run.Output = tool.Out + tool.Err;
  if (!arguments.isEmpty()) {
    const QString log = LogFolder() + u'/' + QFileInfo(arguments.front()).completeBaseName() + u".log"_s;
    if (QFileInfo::exists(log))
      run.Log = LastSection(log);
  }
  return run;
}

QStringList EngineTest::LastSection(const QString& logFile)
{
  QByteArray bytes = ardanto::test::ReadFile(logFile);
  if (bytes.startsWith("\xEF\xBB\xBF"))
    bytes.remove(0, 3);
  const QStringList lines = QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
  qsizetype start = 0;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (lines[i].startsWith(u"Ardanto - "_s) && !lines[i].contains(u" - finished "_s))
      start = i;
  }
  return lines.mid(start);
}

QStringList EngineTest::Errors(const QStringList& log)
{
  QStringList errors;
  for (const QString& line : log) {
    if (line.startsWith(u"  *** "_s))
      errors << line.mid(6);
  }
  return errors;
}

void EngineTest::MakeTree(const QString& folder, const std::vector<TFixtureFile>& files) const
{
  for (const TFixtureFile& file : files) {
    const QString path = folder + u'/' + file.Relative;
    QDir().mkpath(QFileInfo(path).path());
    ardanto::test::WriteFile(path, file.Content);
    SetModified(path, file.Modified.isValid() ? file.Modified
                                              : QDateTime(QDate(2020, 3, 4), QTime(10, 11, 12, 345), Qt::UTC));
  }
}

std::vector<TFixtureFile> EngineTest::ProfileFiles()
{
  QByteArray mbox;
  for (int i = 0; i < 400; ++i)
    mbox += "From - Thu Mar  5 10:00:00 2020\nSubject: message " + QByteArray::number(i) + "\n\nBody text " +
            QByteArray::number(i * 7919) + "\n\n";
  QByteArray binary(70000, Qt::Uninitialized);
  quint32 x = 12345;
  for (char& c : binary) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return {{u"prefs.js"_s, "user_pref(\"mail.check\", true);\n", {}},
          {u"Mail/Local Folders/Inbox"_s, mbox, {}},
          {u"Mail/Local Folders/Inbox.msf"_s, "// mork\n", {}},
          {u"Mail/Local Folders/Unsent Messages"_s, QByteArray(), {}},
          {u"photo.jpg"_s, binary, {}},
          {u"extensions/addon.zip"_s, binary.left(4000), {}},
          {u"Dätei €.txt"_s, "unicode name\n", {}}};
}

qint64 ModifiedNs(const QString& path)
{
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
    return -1;
  return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void SetModified(const QString& path, const QDateTime& time)
{
  const qint64 ms = time.toMSecsSinceEpoch();
  const timespec times[2] = {{ms / 1000, (ms % 1000) * 1000000}, {ms / 1000, (ms % 1000) * 1000000}};
  ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

QStringList FilesBelow(const QString& folder)
{
  QStringList files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext())
    files << QDir(folder).relativeFilePath(it.next());
  files.sort();
  return files;
}

QString BackupOf(const QString& destination, const QString& source)
{
  return QDir::cleanPath(destination + u'/' + source);
}

} // namespace enginetest
