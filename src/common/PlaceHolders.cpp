#include "common/PlaceHolders.h"

#include "common/InitProg.h"

#include "common/LangUtils.h"
#include "common/VolumePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>

#include <functional>
#include <optional>
#include <vector>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ardanto {

const QStringList& DatePlaceholders()
{
  static const QStringList table{u"%date%"_s,   u"%yaw%"_s,  u"%dow%"_s,  u"%ldow%"_s,    u"%dnw%"_s,
                                 u"%day%"_s,    u"%week%"_s, u"%dom%"_s,  u"%wom%"_s,     u"%month%"_s,
                                 u"%lmonth%"_s, u"%year%"_s, u"%user%"_s, u"%computer%"_s};
  return table;
}

const QStringList& TimePlaceholders()
{
  static const QStringList table{u"%time%"_s,         u"%hour%"_s,   u"%minute%"_s, u"%d#?%"_s,
                                 u"%w#?%"_s,          u"%m#?%"_s,    u"%v#?%"_s,    u"%username%"_s,
                                 u"%computername%"_s, u"%volume%"_s, u"%mode%"_s};
  return table;
}

const QStringList& PathPlaceholders()
{
  static const QStringList table{u"%perspath%"_s,     u"%apppath%"_s,   u"%profile%"_s,  u"%desktop%"_s,
                                 u"%favorites%"_s,    u"%progfiles%"_s, u"%progpath%"_s, u"%username%"_s,
                                 u"%computername%"_s, u"%user%"_s,      u"%computer%"_s};
  return table;
}

const QStringList& SystemPlaceholders()
{
  static const QStringList table{
      u"%appdata%"_s,      u"%localappdata%"_s,       u"%allusersprofile%"_s,   u"%public%"_s,
      u"%programfiles%"_s, u"%commonprogramfiles%"_s, u"%programfiles(x86)%"_s, u"%commonprogramfiles(x86)%"_s,
      u"%programdata%"_s,  u"%userprofile%"_s};
  return table;
}

const QStringList& MailPlaceholders()
{
  static const QStringList table{u"%taskname%"_s, u"%username%"_s, u"%computername%"_s, u"%start%"_s,
                                 u"%end%"_s,      u"%duration%"_s, u"%status%"_s,       u"%computer%"_s};
  return table;
}

const QStringList& ExternalPlaceholders()
{
  static const QStringList table{u"%taskname%"_s, u"%dest%"_s,     u"%zipname%"_s,  u"%sysdir%"_s,  u"%taskdir%"_s,
                                 u"%progpath%"_s, u"%username%"_s, u"%password%"_s, u"%logfile%"_s, u"%status%"_s};
  return table;
}

const QStringList& LogPlaceholders()
{
  static const QStringList table{u"%date%"_s,     u"%time%"_s,         u"%yaw%"_s,  u"%yam%"_s,   u"%year%"_s,
                                 u"%username%"_s, u"%computername%"_s, u"%dest%"_s, u"%drive%"_s, u"%volume%"_s};
  return table;
}

const QStringList& PortablePlaceholders()
{
  static const QStringList table{u"%device%"_s, u"%date%"_s,   u"%yaw%"_s,  u"%dow%"_s, u"%ldow%"_s,
                                 u"%dnw%"_s,    u"%day%"_s,    u"%week%"_s, u"%dom%"_s, u"%wom%"_s,
                                 u"%month%"_s,  u"%lmonth%"_s, u"%year%"_s};
  return table;
}

namespace {

using TValue = std::function<QString()>;

// The text being expanded, as pieces of the caller's text and inserted
// values. Only the caller's pieces are searched, so an inserted value is
// never expanded again.
class TExpansion {
public:
  explicit TExpansion(const QString& text) { FParts.push_back({text, false}); }

  QString Text() const
  {
    QString result;
    for (const TPart& part : FParts)
      result += part.Text;
    return result;
  }

  bool Contains(const QString& placeholder) const
  {
    for (const TPart& part : FParts) {
      if (!part.Inserted && part.Text.contains(placeholder, Qt::CaseInsensitive))
        return true;
    }
    return false;
  }

  // Replaces every occurrence; value is asked for only when there is one.
  void Replace(const QString& placeholder, const TValue& value)
  {
    if (!Contains(placeholder))
      return;
    const QString text = value();
    std::vector<TPart> parts;
    for (TPart& part : FParts) {
      if (part.Inserted) {
        parts.push_back(std::move(part));
        continue;
      }
      qsizetype from = 0;
      for (;;) {
        const qsizetype at = part.Text.indexOf(placeholder, from, Qt::CaseInsensitive);
        if (at < 0)
          break;
        parts.push_back({part.Text.mid(from, at - from), false});
        parts.push_back({text, true});
        from = at + placeholder.size();
      }
      parts.push_back({part.Text.mid(from), false});
    }
    FParts = std::move(parts);
  }

  void Replace(const QString& placeholder, const QString& value)
  {
    Replace(placeholder, [&value] { return value; });
  }

  // The caller's pieces, for routines that walk the text themselves.
  QStringList SourcePieces() const
  {
    QStringList pieces;
    for (const TPart& part : FParts) {
      if (!part.Inserted)
        pieces.append(part.Text);
    }
    return pieces;
  }

private:
  struct TPart {
    QString Text;
    bool Inserted;
  };
  std::vector<TPart> FParts;
};

void ReplaceTable(TExpansion& expansion, const QStringList& table, const std::vector<TValue>& values)
{
  Q_ASSERT(static_cast<std::size_t>(table.size()) == values.size());
  for (qsizetype i = 0; i < table.size(); ++i)
    expansion.Replace(table[i], values[static_cast<std::size_t>(i)]);
}

QString Digits(int value, int width)
{
  return u"%1"_s.arg(value, width, 10, QChar(u'0'));
}

QString WithoutDots(QString name)
{
  return name.remove(u'.');
}

QString IsoYearAndWeek(const QDate& date)
{
  int year = 0;
  const int week = date.weekNumber(&year);
  return Digits(year, 4) + u'-' + Digits(week, 2);
}

// Weeks run Monday to Sunday and belong to the month that holds their Thursday.
int WeekOfMonth(const QDate& date)
{
  const QDate thursday = date.addDays(4 - date.dayOfWeek());
  return (thursday.day() - 1) / 7 + 1;
}

QString WithoutTrailingSlash(QString folder)
{
  while (folder.endsWith(u'/'))
    folder.chop(1);
  return folder;
}

QString StandardFolder(QStandardPaths::StandardLocation location)
{
  return WithoutTrailingSlash(QStandardPaths::writableLocation(location));
}

QString EnvironmentOr(const char* name, const QString& fallback)
{
  const QString value = qEnvironmentVariable(name);
  return value.isEmpty() ? fallback : WithoutTrailingSlash(value);
}

const QString kProgramsFolder = u"/opt"_s;
const QString kCommonProgramsFolder = u"/usr/lib"_s;

QString AllUsersFolder()
{
  const QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
  QString first = dataDirs.section(u':', 0, 0);
  if (first.isEmpty())
    first = u"/usr/local/share"_s;
  return EnvironmentOr("ALLUSERSPROFILE", WithoutTrailingSlash(first));
}

QString DateValue(const QDate& date)
{
  return Digits(date.year(), 4) + u'-' + Digits(date.month(), 2) + u'-' + Digits(date.day(), 2);
}

QString TimeValue(const QTime& time)
{
  return Digits(time.hour(), 2) + Digits(time.minute(), 2) + Digits(time.second(), 2);
}

// The date table; the portable table shares all of it but user and computer.
std::vector<TValue> DateValues(const QDateTime& now, const QLocale& locale)
{
  const QDate date = now.date();
  return {
      [date] { return DateValue(date); },
      [date] { return IsoYearAndWeek(date); },
      [date, locale] { return WithoutDots(locale.dayName(date.dayOfWeek(), QLocale::ShortFormat)); },
      [date, locale] { return WithoutDots(locale.dayName(date.dayOfWeek(), QLocale::LongFormat)); },
      [date] { return Digits(date.dayOfWeek(), 1); },
      [date] { return Digits(date.dayOfYear(), 3); },
      [date] { return Digits(date.weekNumber(), 2); },
      [date] { return Digits(date.day(), 2); },
      [date] { return Digits(WeekOfMonth(date), 1); },
      [date] { return Digits(date.month(), 2); },
      // The stand-alone form: "%lmonth%" mostly names a folder on its own, and
      // some languages inflect the month inside a date.
      [date, locale] { return WithoutDots(locale.standaloneMonthName(date.month(), QLocale::LongFormat)); },
      [date] { return Digits(date.year(), 4); },
      [] { return UserName(); },
      [] { return ComputerName(); },
  };
}

// "%d#N%" and its kin: the position in a cycle of N days, weeks, months or
// versions. Each distinct cycle length in the text is expanded.
void ExpandCounters(TExpansion& expansion, const QDate& date, int counter)
{
  const struct {
    QChar Letter;
    int Value;
  } kinds[] = {{u'd', date.dayOfYear()}, {u'w', date.weekNumber()}, {u'm', date.month()}, {u'v', counter}};

  for (const auto& kind : kinds) {
    const QString start = u"%"_s + kind.Letter + u'#';
    for (;;) {
      QString placeholder;
      for (const QString& piece : expansion.SourcePieces()) {
        const qsizetype at = piece.indexOf(start, 0, Qt::CaseInsensitive);
        if (at < 0)
          continue;
        const qsizetype end = piece.indexOf(u'%', at + start.size());
        if (end >= 0)
          placeholder = piece.mid(at, end + 1 - at);
        break;
      }
      if (placeholder.isEmpty())
        break;
      bool ok = false;
      const int length = placeholder.mid(start.size(), placeholder.size() - start.size() - 1).toInt(&ok);
      QString value;
      // A cycle of length 0 or less has no position in it.
      if (ok && length > 0) {
        const int width = length < 10 ? 1 : length < 100 ? 2 : 3;
        value = Digits((kind.Value - 1) % length + 1, width);
      }
      expansion.Replace(placeholder, value);
    }
  }
}

void ExpandDate(TExpansion& expansion, int counter, const QDateTime& now, const QLocale& locale)
{
  ReplaceTable(expansion, DatePlaceholders(), DateValues(now, locale));
  if (counter > 0)
    ExpandCounters(expansion, now.date(), counter);
  const QTime time = now.time();
  ReplaceTable(expansion, TimePlaceholders(),
               {
                   [time] { return TimeValue(time); },
                   [time] { return Digits(time.hour(), 2); },
                   [time] { return Digits(time.minute(), 2); },
                   [] { return QString(); },
                   [] { return QString(); },
                   [] { return QString(); },
                   [] { return QString(); },
                   [] { return UserName(); },
                   [] { return ComputerName(); },
                   [] { return QString(); },
                   [] { return QString(); },
               });
}

// "%evar(NAME)%": tokens run from one "%" to the next; the walk goes on
// behind a token's closing "%".
void ExpandEnvironmentForm(TExpansion& expansion)
{
  QStringList tokens;
  for (const QString& piece : expansion.SourcePieces()) {
    qsizetype open = piece.indexOf(u'%');
    while (open >= 0) {
      const qsizetype close = piece.indexOf(u'%', open + 1);
      if (close < 0)
        break;
      const QString token = piece.mid(open, close + 1 - open);
      if (token.startsWith(u"%evar"_s, Qt::CaseInsensitive))
        tokens.append(token);
      open = piece.indexOf(u'%', close + 1);
    }
  }
  for (const QString& token : tokens) {
    const qsizetype left = token.indexOf(u'(');
    const qsizetype right = left < 0 ? -1 : token.indexOf(u')', left + 1);
    if (right < 0)
      continue;
    const QString value = qEnvironmentVariable(token.mid(left + 1, right - left - 1).toLocal8Bit().constData());
    if (!value.isEmpty())
      expansion.Replace(token, value);
  }
}

// A device name is one folder name at most.
QString SafeDeviceName(QString name)
{
  name.replace(u'/', u'_');
  name.remove(QChar(0));
  if (!name.isEmpty() && name.count(u'.') == name.size())
    name.fill(u'_');
  return name;
}

// The label named by a volume path ":label:/rest"; nullopt for other paths.
std::optional<QString> VolumePathLabel(const QString& path)
{
  if (!path.startsWith(u':'))
    return std::nullopt;
  const qsizetype end = path.indexOf(u':', 1);
  if (end <= 1)
    return std::nullopt;
  return path.mid(1, end - 1);
}

// The mount point and label come from the same list as volume paths use, so
// "%drive%" of ":label:/x" names where ResolveVolumePath would look.
QString DriveOf(const QString& destination)
{
  if (destination.isEmpty())
    return QString();
  const auto volume =
      VolumePathLabel(destination) ? VolumeWithLabel(*VolumePathLabel(destination)) : VolumeOfPath(destination);
  return volume ? volume->RootPath : QString();
}

QString VolumeOf(const QString& destination)
{
  if (destination.isEmpty())
    return QString();
  if (const auto label = VolumePathLabel(destination))
    return *label;
  const auto volume = VolumeOfPath(destination);
  return volume ? volume->Label : QString();
}

} // namespace

QString ExpandDatePlaceholders(const QString& text, int counter, const QDateTime& now, const QLocale& locale)
{
  TExpansion expansion(text);
  ExpandDate(expansion, counter, now, locale);
  return expansion.Text();
}

QString ExpandDatePlaceholders(const QString& text, int counter)
{
  return ExpandDatePlaceholders(text, counter, QDateTime::currentDateTime());
}

QString ExpandDevicePlaceholders(const QString& text, const QString& deviceName, const QDateTime& now,
                                 const QLocale& locale)
{
  TExpansion expansion(text);
  std::vector<TValue> values{[&deviceName] { return SafeDeviceName(deviceName); }};
  std::vector<TValue> dateValues = DateValues(now, locale);
  // The portable table has the date table's words up to "%year%".
  values.insert(values.end(), dateValues.begin(), dateValues.begin() + (PortablePlaceholders().size() - 1));
  ReplaceTable(expansion, PortablePlaceholders(), values);
  return expansion.Text();
}

QString ExpandDevicePlaceholders(const QString& text, const QString& deviceName)
{
  return ExpandDevicePlaceholders(text, deviceName, QDateTime::currentDateTime());
}

QString ExpandPathPlaceholders(const QString& text)
{
  TExpansion expansion(text);
  ReplaceTable(expansion, PathPlaceholders(),
               {
                   [] { return StandardFolder(QStandardPaths::DocumentsLocation); },
                   [] { return StandardFolder(QStandardPaths::GenericConfigLocation); },
                   [] { return WithoutTrailingSlash(QDir::homePath()); },
                   [] { return StandardFolder(QStandardPaths::DesktopLocation); },
                   [] { return QString(); },
                   [] { return kProgramsFolder; },
                   [] { return WithoutTrailingSlash(CurrentProgramPaths().ProgramFolder); },
                   [] { return UserName(); },
                   [] { return ComputerName(); },
                   [] { return QString(); },
                   [] { return QString(); },
               });
  ReplaceTable(expansion, SystemPlaceholders(),
               {
                   [] { return StandardFolder(QStandardPaths::GenericConfigLocation); },
                   [] { return StandardFolder(QStandardPaths::GenericDataLocation); },
                   [] { return AllUsersFolder(); },
                   [] { return EnvironmentOr("PUBLIC", StandardFolder(QStandardPaths::PublicShareLocation)); },
                   [] { return EnvironmentOr("ProgramW6432", kProgramsFolder); },
                   [] { return EnvironmentOr("CommonProgramW6432", kCommonProgramsFolder); },
                   [] { return EnvironmentOr("ProgramFiles(x86)", kProgramsFolder); },
                   [] { return EnvironmentOr("CommonProgramFiles(x86)", kCommonProgramsFolder); },
                   [] { return AllUsersFolder(); },
                   [] { return WithoutTrailingSlash(QDir::homePath()); },
               });
  return expansion.Text();
}

QString ExpandDestinationPlaceholders(const QString& text, const QString& volumeName, int counter, const QDateTime& now,
                                      const QLocale& locale)
{
  TExpansion expansion(text);
  expansion.Replace(u"%volume%"_s, volumeName);
  ExpandEnvironmentForm(expansion);
  ExpandDate(expansion, counter, now, locale);
  return expansion.Text();
}

QString ExpandDestinationPlaceholders(const QString& text, const QString& volumeName, int counter)
{
  return ExpandDestinationPlaceholders(text, volumeName, counter, QDateTime::currentDateTime());
}

QString ExpandLogPlaceholders(const QString& text, const QString& destination, const QDateTime& now)
{
  TExpansion expansion(text);
  const QDate date = now.date();
  const QTime time = now.time();
  ReplaceTable(expansion, LogPlaceholders(),
               {
                   [date] { return DateValue(date); },
                   [time] { return TimeValue(time); },
                   [date] { return IsoYearAndWeek(date); },
                   [date]() -> QString { return Digits(date.year(), 4) + u'-' + Digits(date.month(), 2); },
                   [date] { return Digits(date.year(), 4); },
                   [] { return UserName(); },
                   [] { return ComputerName(); },
                   [&destination] { return destination; },
                   [&destination] { return DriveOf(destination); },
                   [&destination] { return VolumeOf(destination); },
               });
  return expansion.Text();
}

QString ExpandLogPlaceholders(const QString& text, const QString& destination)
{
  return ExpandLogPlaceholders(text, destination, QDateTime::currentDateTime());
}

QString PathBeforePlaceholders(const QString& path)
{
  if (!path.contains(u'%'))
    return path;
  QString result;
  const QStringList components = path.split(u'/');
  for (const QString& component : components) {
    if (component.contains(u'%'))
      break;
    result += component + u'/';
  }
  return result;
}

} // namespace ardanto
