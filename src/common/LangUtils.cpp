#include "common/LangUtils.h"

#include "common/CommandLine.h"
#include "common/Errors.h"
#include "common/IniFileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <libintl.h>
#include <utility>

// glibc's catalogue cache counter; bumping it makes gettext look again after
// the language changed.
extern "C" int _nl_msg_cat_cntr;

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

struct TLanguageEntry {
  int Id;
  const char* Code;
};

constexpr std::array<TLanguageEntry, 84> kLanguages{{
    {1, "ar"},   {2, "bg"},   {3, "ca"},    {4, "zh"},    {5, "cs"},   {6, "da"},   {7, "de"},   {8, "el"},
    {9, "en"},   {10, "es"},  {11, "fi"},   {12, "fr"},   {14, "hu"},  {15, "is"},  {16, "it"},  {17, "ja"},
    {18, "ko"},  {19, "nl"},  {20, "no"},   {21, "pl"},   {22, "pt"},  {23, "rm"},  {24, "ro"},  {25, "ru"},
    {26, "hr"},  {27, "sk"},  {28, "sq"},   {29, "sv"},   {30, "th"},  {31, "tr"},  {32, "ur"},  {33, "id"},
    {34, "uk"},  {35, "be"},  {36, "sl"},   {37, "et"},   {38, "lv"},  {39, "lt"},  {41, "fa"},  {42, "vi"},
    {43, "hy"},  {47, "mk"},  {48, "st"},   {51, "ve"},   {52, "xh"},  {53, "zu"},  {54, "af"},  {55, "ka"},
    {56, "fo"},  {57, "hi"},  {58, "mt"},   {59, "se"},   {60, "ga"},  {63, "kk"},  {64, "ky"},  {65, "sw"},
    {66, "tk"},  {67, "uz"},  {68, "tt"},   {70, "pa"},   {72, "or"},  {73, "ta"},  {79, "sa"},  {80, "mn"},
    {81, "bo"},  {82, "cy"},  {84, "lo"},   {86, "gl"},   {97, "ne"},  {98, "fy"},  {99, "ps"},  {106, "yo"},
    {110, "lb"}, {114, "om"}, {119, "so"},  {120, "ii"},  {128, "ug"}, {129, "mi"}, {131, "co"}, {136, "wo"},
    {145, "gd"}, {146, "ku"}, {0, nullptr}, {0, nullptr},
}};

QMutex gMutex;
QString gLanguage = u"en"_s;
TProgramPaths gPaths;
bool gPathsSet = false;

TProgramPaths DefaultProgramPaths()
{
  TProgramPaths paths;
  QString exe = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                             : QFileInfo(u"/proc/self/exe"_s).symLinkTarget();
  const QFileInfo info(exe);
  paths.ProgramFolder = SetDirName(info.absolutePath());
  paths.ProgramName = info.completeBaseName();
  paths.ConfigFolder = SetDirName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
  return paths;
}

// gettext ignores LANGUAGE while the messages locale is "C"; scheduled runs
// often start that way, so switch to the UTF-8 flavour of C, which gettext
// does not treat specially.
void EnsureMessagesLocaleAllowsLanguage()
{
  const char* current = std::setlocale(LC_MESSAGES, nullptr);
  if (current == nullptr || std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0) {
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr)
      std::setlocale(LC_MESSAGES, "C.utf8");
  }
}

} // namespace

QString LanguageCode(int languageId)
{
  const int primary = languageId & 0x3FF;
  for (const TLanguageEntry& entry : kLanguages) {
    if (entry.Code != nullptr && entry.Id == primary)
      return QString::fromLatin1(entry.Code);
  }
  return u"en"_s;
}

bool IsKnownLanguageCode(const QString& code)
{
  for (const TLanguageEntry& entry : kLanguages) {
    if (entry.Code != nullptr && code.compare(QLatin1StringView(entry.Code), Qt::CaseInsensitive) == 0)
      return true;
  }
  return false;
}

QString SystemLanguageCode()
{
  // The first variable that is set decides, in gettext's own order.
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    QString value = QString::fromLocal8Bit(qgetenv(name));
    if (value.isEmpty())
      continue;
    value = value.section(u':', 0, 0); // LANGUAGE is a list
    value = value.section(u'.', 0, 0).section(u'@', 0, 0).section(u'_', 0, 0).toLower();
    if (value == u"c"_s || value == u"posix"_s)
      return u"en"_s;
    return IsKnownLanguageCode(value) ? value : u"en"_s;
  }
  return u"en"_s;
}

QString LocaleDirectory()
{
  const QString fromEnv = QString::fromLocal8Bit(qgetenv("ARDANTO_LOCALEDIR"));
  if (!fromEnv.isEmpty())
    return fromEnv;
  const QString besideProgram = QDir::cleanPath(CurrentProgramPaths().ProgramFolder + u"../share/locale"_s);
  if (QFileInfo(besideProgram).isDir())
    return besideProgram;
  return QStringLiteral(ARDANTO_INSTALL_LOCALEDIR);
}

TProgramPaths CurrentProgramPaths()
{
  QMutexLocker lock(&gMutex);
  if (!gPathsSet) {
    gPaths = DefaultProgramPaths();
    gPathsSet = true;
  }
  return gPaths;
}

void SetProgramPaths(const TProgramPaths& paths)
{
  QMutexLocker lock(&gMutex);
  gPaths = paths;
  gPathsSet = true;
}

QString CurrentLanguage()
{
  QMutexLocker lock(&gMutex);
  return gLanguage;
}

void ActivateLanguage(const QString& code, const QStringList& textDomains)
{
  const QByteArray localeDir = QFile::encodeName(LocaleDirectory());
  for (const QString& domain : textDomains) {
    const QByteArray name = domain.toUtf8();
    bindtextdomain(name.constData(), localeDir.constData());
    bind_textdomain_codeset(name.constData(), "UTF-8");
  }
  EnsureMessagesLocaleAllowsLanguage();
  const QString language = code.isEmpty() ? u"en"_s : code.toLower();
  qputenv("LANGUAGE", language.toUtf8());
  ++_nl_msg_cat_cntr;
  QMutexLocker lock(&gMutex);
  gLanguage = language;
}

QString TranslateText(const char* domain, const char* msgid)
{
  // dgettext returns msgid itself when there is no translation.
  return QString::fromUtf8(dgettext(domain, msgid));
}

TLanguageSelection SelectLanguage(const QString& folder, const QString& fileName, const QStringList& textDomains,
                                  const QStringList& arguments)
{
  const TProgramPaths paths = CurrentProgramPaths();
  TLanguageSelection selection;

  const QString cfgName = fileName.isEmpty() ? paths.ProgramName + u".cfg"_s : fileName;
  const QString baseFolder = IsAbsolutePath(folder) ? SetDirName(folder) : SetDirName(paths.ConfigFolder + folder);
  QString cfgFile = baseFolder + cfgName;

  QString langOption;
  QString iniValue;
  for (const QString& arg : arguments) {
    TOptionArgument option;
    if (!SplitOptionArgument(arg, option))
      continue;
    if (option.HasValue && MatchesOptionWord(option.Word, u"lang"_s)) {
      langOption = option.Value.left(2);
    } else if (option.HasValue && MatchesOptionWord(option.Word, u"ini"_s)) {
      iniValue = ExpandEnvironmentVariables(option.Value);
    } else if (!option.HasValue && MatchesOptionWord(option.Word, u"portable"_s)) {
      selection.Portable = true;
      if (iniValue.isEmpty())
        iniValue = paths.ProgramFolder;
    }
  }

  if (!iniValue.isEmpty()) {
    const QString currentName = QFileInfo(cfgFile).fileName();
    if (iniValue.endsWith(u'/')) {
      cfgFile = iniValue + currentName;
    } else {
      const QFileInfo iniInfo(iniValue);
      const QString name = selection.Portable ? NewExt(iniInfo.fileName(), u"cfg"_s) : currentName;
      QString dir;
      if (IsAbsolutePath(iniValue))
        dir = iniInfo.path();
      else if (!iniValue.contains(u'/'))
        dir = selection.Portable ? paths.ProgramFolder : QFileInfo(cfgFile).path();
      else if (selection.Portable)
        dir = paths.ProgramFolder + iniInfo.path(); // relative folder below the program's
      else
        dir = QFileInfo(QDir::current().absoluteFilePath(iniValue)).path();
      cfgFile = AddPath(dir, name);
    }
  }
  selection.ConfigFile = cfgFile;

  QString code = langOption;
  if (code.isEmpty()) {
    // A configuration file that cannot be read must not keep the program from
    // starting; the locale decides then.
    try {
      const TUnicodeIniFile cfg = TUnicodeIniFile::CreateForRead(cfgFile);
      code = cfg.ReadString(u"Language"_s, u"LangID"_s, QString()).left(2);
    } catch (const EArdantoError& e) {
      qWarning("%s", e.what());
    }
  }
  if (code.isEmpty())
    code = SystemLanguageCode();

  ActivateLanguage(code, textDomains);
  selection.LanguageCode = CurrentLanguage();
  return selection;
}

} // namespace ardanto
