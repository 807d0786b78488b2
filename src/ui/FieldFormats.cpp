#include "ui/FieldFormats.h"

#include "common/FileUtils.h"
#include "common/TextFilter.h"
#include "common/Translate.h"

namespace ardanto::ui {

using namespace Qt::StringLiterals;

QString DateFieldFormat(const QLocale& locale)
{
  const QString format = locale.dateFormat(QLocale::ShortFormat);
  const qsizetype d = format.indexOf(u'd');
  const qsizetype m = format.indexOf(u'M');
  const qsizetype y = format.indexOf(u'y');
  if (y >= 0 && y < m && y < d)
    return u"yyyy-MM-dd"_s;
  if (m >= 0 && m < d)
    return u"MM/dd/yyyy"_s;
  return u"dd.MM.yyyy"_s;
}

QString TimeFieldFormat(const QLocale& locale)
{
  const QString format = locale.timeFormat(QLocale::ShortFormat);
  return format.contains(u"AP"_s, Qt::CaseInsensitive) ? u"hh:mm AP"_s : u"HH:mm"_s;
}

QString TaskFileFilter(const QString& extension)
{
  // The translated text keeps the form "name|pattern".
  const QString tasks = FormatText(_("Backup tasks|*.%s"), {extension});
  const qsizetype bar = tasks.indexOf(u'|');
  const QString name = bar < 0 ? tasks : tasks.left(bar);
  const QString pattern = bar < 0 ? u"*."_s + extension : tasks.mid(bar + 1);
  return name + u" ("_s + pattern + u");;"_s + _("all") + u" (*)"_s;
}

QString FilterDisplayText(const TTextFilter& filter)
{
  switch (filter.Mode()) {
  case fmInclude:
    return FormatText(_("only %s"), {filter.Filter()});
  case fmExclude:
    return FormatText(_("all except %s"), {filter.Filter()});
  default:
    return _("All files");
  }
}

} // namespace ardanto::ui
