#pragma once

// Texts and formats that the suite's windows share: the display formats of
// date and time fields, the file-dialog filter of task files and what a
// window shows for a filename filter.

#include <QLocale>
#include <QString>

namespace ardanto {
class TTextFilter;
}

namespace ardanto::ui {

// "MM/dd/yyyy", "dd.MM.yyyy" or "yyyy-MM-dd", by the order of the locale's
// short date format.
QString DateFieldFormat(const QLocale& locale);
// "HH:mm" for a 24-hour clock, "hh:mm AP" otherwise.
QString TimeFieldFormat(const QLocale& locale);

// "Backup tasks (*.EXT);;all (*)", the filter of task-file dialogs.
QString TaskFileFilter(const QString& extension);

// "All files", "only <filter>" or "all except <filter>".
QString FilterDisplayText(const TTextFilter& filter);

} // namespace ardanto::ui
