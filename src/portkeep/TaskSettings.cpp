#include "portkeep/TaskSettings.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QFileInfo>

#include <algorithm>

namespace portkeep {

using namespace Qt::StringLiterals;
using ardanto::TUnicodeIniFile;

namespace {

const QString kConfig = u"Config"_s;
const QString kFileFilter = u"FileFilter"_s;
const QString kDestination = u"Destination"_s;
const QString kDirectories = u"Directories"_s;
// How the no-compression list writes the type of names without extension; an
// empty item alone would read back as "no value", which means the default list.
const QString kNoExtension = u"<ohne>"_s;

void WriteProgramInfo(TUnicodeIniFile& ini)
{
  ini.WriteProgramInfo(u"Program"_s, u"Portkeep"_s);
  ini.WriteProgramInfo(u"Version"_s, QStringLiteral(ARDANTO_VERSION));
}

void ReadFilter(const TUnicodeIniFile& ini, ardanto::TTextFilter& filter)
{
  filter.SetRegular(ini.ReadBool(kFileFilter, u"Regular"_s, false));
  int mode = ini.ReadInteger(kFileFilter, u"FilterMode"_s, ardanto::fmOff);
  if (mode < ardanto::fmOff || mode > ardanto::fmExclude)
    mode = ardanto::fmOff;
  filter.SetMode(static_cast<ardanto::TFilterMode>(mode));
  QString text = ini.ReadString(kFileFilter, u"Filter"_s, filter.MatchAll());
  if (text == u"*.*"_s)
    text = filter.MatchAll();
  try {
    filter.SetFilter(text);
  } catch (const ardanto::EFilterError&) {
    // The filter holds its match-all text now; loading goes on without a word.
  }
  // An empty text or an invalid mask leaves a bare "*", which a file filter
  // never stores for a mask the user chose: switch it off.
  if (!filter.Regular() && filter.Filter() == u"*"_s)
    filter.SetMode(ardanto::fmOff);
}

void WriteFilter(TUnicodeIniFile& ini, const ardanto::TTextFilter& filter)
{
  ini.WriteBool(kFileFilter, u"Regular"_s, filter.Regular());
  ini.WriteInteger(kFileFilter, u"FilterMode"_s, filter.Mode());
  ini.WriteString(kFileFilter, u"Filter"_s, filter.Filter());
}

} // namespace

QStringList DefaultNoCompTypes()
{
  return u"7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,otp,ots,ott,"
         u"pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx"_s.split(u',');
}

QStringList NormalizeNoCompTypes(const QStringList& types)
{
  QStringList result;
  for (const QString& type : types) {
    const QString trimmed = type.trimmed();
    if (!result.contains(trimmed, Qt::CaseInsensitive))
      result.append(trimmed);
  }
  std::sort(result.begin(), result.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  return result;
}

QString NoCompTypesToText(const QStringList& types)
{
  if (types.isEmpty())
    return u"#"_s;
  QStringList stored = types;
  for (QString& type : stored) {
    if (type.isEmpty())
      type = kNoExtension;
  }
  return stored.join(u',');
}

QStringList NoCompTypesFromText(const QString& text)
{
  QStringList types = text.split(u',');
  for (QString& type : types) {
    if (type.trimmed() == kNoExtension)
      type.clear();
  }
  return NormalizeNoCompTypes(types);
}

TTaskSettings& TTaskSettings::operator=(const TTaskSettings& other)
{
  if (this == &other)
    return *this;
  DeviceName = other.DeviceName;
  Destination = other.Destination;
  Overwrite = other.Overwrite;
  ArchBit = other.ArchBit;
  Compress = other.Compress;
  CompressAsZip = other.CompressAsZip;
  NoCompTypes = other.NoCompTypes;
  Filter.Assign(other.Filter);
  TimePeriod = other.TimePeriod;
  Dirs = other.Dirs;
  return *this;
}

void ReadTaskValues(const TUnicodeIniFile& ini, TTaskSettings& settings, std::int32_t defaultTimeMode)
{
  int overwrite = ini.ReadInteger(kConfig, u"Overwrite"_s, omWhenOlder);
  if (overwrite < omWhenOlder || overwrite > omNone)
    overwrite = omWhenOlder;
  settings.Overwrite = overwrite;
  settings.ArchBit = ini.ReadBool(kConfig, u"ArchBit"_s, false);
  settings.Compress = ini.ReadBool(kConfig, u"Compress"_s, false);
  settings.CompressAsZip = settings.Compress && ini.ReadBool(kConfig, u"CompressAsZip"_s, false);
  const QString types = ini.ReadString(kConfig, u"NoCompTypes"_s, QString());
  if (types == u"#"_s)
    settings.NoCompTypes.clear();
  else if (!types.isEmpty())
    settings.NoCompTypes = NoCompTypesFromText(types);
  ReadFilter(ini, settings.Filter);
  ReadTimeSlot(ini, settings.TimePeriod, defaultTimeMode);
}

void WriteTaskValues(TUnicodeIniFile& ini, const TTaskSettings& settings)
{
  ini.WriteInteger(kConfig, u"Overwrite"_s, settings.Overwrite);
  ini.WriteBool(kConfig, u"ArchBit"_s, settings.ArchBit);
  ini.WriteBool(kConfig, u"Compress"_s, settings.Compress);
  ini.WriteBool(kConfig, u"CompressAsZip"_s, settings.Compress && settings.CompressAsZip);
  ini.WriteString(kConfig, u"NoCompTypes"_s, NoCompTypesToText(settings.NoCompTypes));
  WriteFilter(ini, settings.Filter);
  WriteTimeSlot(ini, settings.TimePeriod);
}

void LoadSettingsFile(const QString& fileName, TTaskSettings& settings, TProgramSettings& program)
{
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
  program.Top = ini.ReadInteger(kConfig, u"Top"_s, program.Top);
  program.Left = ini.ReadInteger(kConfig, u"Left"_s, program.Left);
  ReadTaskValues(ini, settings, tmAll);
  ardanto::LoadHistory(fileName, kDestination, QString(), false, kHistorySize, program.DestinationHistory);
}

void SaveSettingsFile(const QString& fileName, const TTaskSettings& settings, const TProgramSettings& program)
{
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(fileName);
    WriteProgramInfo(ini);
    ini.WriteInteger(kConfig, u"Top"_s, program.Top);
    ini.WriteInteger(kConfig, u"Left"_s, program.Left);
    WriteTaskValues(ini, settings);
    ini.UpdateFile();
  }
  ardanto::SaveHistory(fileName, kDestination, QString(), false, program.DestinationHistory, true);
}

QString DirKey(int index)
{
  return u"Dir"_s + QString::number(index).rightJustified(2, u'0');
}

TTaskSettings ReadTaskFile(const QString& fileName, const TTaskSettings& current, QStringList* notes)
{
  const QFileInfo info(fileName);
  if (!info.exists())
    throw ardanto::EArdantoError(ardanto::FormatText(_("Task file \"%s\" not found"), {fileName}));
  if (!info.isFile())
    throw ardanto::EArdantoError(ardanto::FormatText(_("\"%s\" is not a file"), {fileName}));
  if (info.size() > kMaxTaskFileSize)
    throw ardanto::EArdantoError(ardanto::FormatText(_("\"%s\" is too large for a backup task file"), {fileName}));
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
  if (!ini.SectionExists(kConfig) && !ini.SectionExists(kFileFilter) && !ini.SectionExists(u"TimeSlot"_s) &&
      !ini.SectionExists(kDirectories))
    throw ardanto::EArdantoError(ardanto::FormatText(_("\"%s\" is not a backup task file"), {fileName}));
  TTaskSettings settings = current;
  settings.DeviceName = ini.ReadString(kConfig, u"DeviceName"_s, QString());
  settings.Destination = ini.ReadString(kConfig, u"Destination"_s, QString());
  ReadTaskValues(ini, settings, current.TimePeriod.Mode);
  settings.Dirs.clear();
  const int count = ini.ReadInteger(kConfig, u"DirCount"_s, 0);
  // The entries are written without gaps; a count beyond them (or beyond any
  // sensible number of folders) is a damaged or hand-made file.
  const int limit = std::min(count, kMaxTaskDirs);
  int i = 0;
  for (; i < limit; ++i) {
    if (!ini.ValueExists(kDirectories, DirKey(i)))
      break;
    const QString path = ini.ReadString(kDirectories, DirKey(i), QString());
    if (!path.isEmpty())
      settings.Dirs.append(path);
  }
  if (notes != nullptr && i < count) {
    if (i < limit)
      notes->append(ardanto::FormatText(_("The task file names %d directories, but has only %d entries."), {count, i}));
    else
      notes->append(ardanto::FormatText(_("The task file names %d directories; only the first %d are read."),
                                        {count, kMaxTaskDirs}));
  }
  return settings;
}

void WriteTaskFile(const QString& fileName, const TTaskSettings& settings)
{
  TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(fileName, true);
  WriteProgramInfo(ini);
  ini.WriteString(kConfig, u"DeviceName"_s, settings.DeviceName);
  ini.WriteString(kConfig, u"Destination"_s, settings.Destination);
  WriteTaskValues(ini, settings);
  int written = 0;
  for (const QString& dir : settings.Dirs)
    ini.WriteString(kDirectories, DirKey(written++), dir);
  ini.WriteInteger(kConfig, u"DirCount"_s, written);
  ini.UpdateFile();
}

void TTaskState::MarkChanged()
{
  if (!FTaskName.isEmpty())
    FStatus = esChanged;
}

int TTaskState::AskSaveChanged(const std::function<TSaveAnswer(const QString& question)>& ask,
                               const std::function<bool()>& save)
{
  if (FStatus != esChanged)
    return 0;
  const QString question =
      ardanto::FormatText(_("Save changed task to \"%s\"?"), {ardanto::ExtractFileName(FTaskName)});
  switch (ask(question)) {
  case TSaveAnswer::Cancel:
    return 2;
  case TSaveAnswer::Yes:
    return save() ? 0 : 2;
  case TSaveAnswer::No:
    break;
  }
  if (FTaskName.isEmpty())
    return 1;
  FStatus = esSaved;
  return 0;
}

} // namespace portkeep
