// Expands date placeholders for a fixed date-time in whatever locale the
// environment selects, so that tests can run it with LC_ALL set.
// Usage: PlaceHoldersProbe TEXT YYYY-MM-DDTHH:MM:SS

#include "common/PlaceHolders.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 3)
    return 2;
  const QDateTime when = QDateTime::fromString(args[2], Qt::ISODate);
  if (!when.isValid())
    return 2;
  QTextStream(stdout) << ardanto::ExpandDatePlaceholders(args[1], 0, when);
  return 0;
}
