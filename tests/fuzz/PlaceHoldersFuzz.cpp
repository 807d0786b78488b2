// Arbitrary templates, device names, dates and counters through the
// placeholder routines. The rule that matters most: a device name is one
// folder name at most, so it never adds a "/" and never makes a "." or ".."
// component, whatever the template around it.

#include "FuzzSupport.h"

#include "common/PlaceHolders.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDate>
#include <QTime>

#include <array>
#include <cstddef>
#include <cstdint>

using namespace ardanto;
using namespace ardanto::fuzz;
using namespace Qt::StringLiterals;

namespace {

QString TakeText(FuzzedDataProvider& provider, std::size_t maxBytes)
{
  const std::string bytes = provider.ConsumeRandomLengthString(maxBytes);
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Locales whose day and month names differ in script, dots and length.
const QLocale& PickLocale(std::uint8_t choice)
{
  static const std::array<QLocale, 6> locales{
      QLocale::c(),
      QLocale(QLocale::English, QLocale::UnitedStates),
      QLocale(QLocale::German, QLocale::Germany),
      QLocale(QLocale::Russian, QLocale::Russia),
      QLocale(QLocale::Japanese, QLocale::Japan),
      QLocale(QLocale::Arabic, QLocale::Egypt),
  };
  return locales[choice % locales.size()];
}

// What "%device%" alone must give: "/" becomes "_", NUL characters go, and a
// name of dots only becomes as many underscores.
QString ExpectedDeviceValue(const QString& name)
{
  QString value = name;
  value.replace(u'/', u'_');
  value.remove(QChar(0));
  if (!value.isEmpty() && value.count(u'.') == value.size())
    value.fill(u'_');
  return value;
}

bool IsDotComponent(QStringView component)
{
  return component == u"." || component == u"..";
}

void CheckDeviceExpansion(const QString& text, const QString& device, const QDateTime& now, const QLocale& locale)
{
  const QString result = ExpandDevicePlaceholders(text, device, now, locale);
  const QString detail = u"template "_s + Show(text) + u", device "_s + Show(device) + u" -> "_s + Show(result);
  FUZZ_CHECK(result.count(u'/') == text.count(u'/'), u"device name added a \"/\": "_s + detail);
  FUZZ_CHECK(result.count(QChar(0)) == text.count(QChar(0)), u"NUL from the device name: "_s + detail);

  // Components correspond one to one, as the "/" are the template's own.
  const QStringList parts = text.split(u'/');
  const QStringList expanded = result.split(u'/');
  const bool deviceHasName = !ExpectedDeviceValue(device).isEmpty();
  for (qsizetype i = 0; i < parts.size() && i < expanded.size(); ++i) {
    if (deviceHasName && parts[i].contains(u"%device%"_s, Qt::CaseInsensitive))
      FUZZ_CHECK(!IsDotComponent(expanded[i]), u"device name made a dot folder: "_s + detail);
  }

  const QString alone = ExpandDevicePlaceholders(u"%DeViCe%"_s, device, now, locale);
  FUZZ_CHECK(alone == ExpectedDeviceValue(device), u"device "_s + Show(device) + u" gives "_s + Show(alone) +
                                                       u", not "_s + Show(ExpectedDeviceValue(device)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  FuzzedDataProvider provider(data, size);
  const QLocale& locale = PickLocale(provider.ConsumeIntegral<std::uint8_t>());
  // 1900-01-01 to 2100-12-31, any second of the day.
  const QDate date = QDate::fromJulianDay(provider.ConsumeIntegralInRange<qint64>(2415021, 2488434));
  const QTime time = QTime(0, 0).addSecs(provider.ConsumeIntegralInRange<int>(0, 86399));
  const QDateTime now(date, time, Qt::UTC);
  const int counter = provider.ConsumeIntegral<int>();
  const QString device = TakeText(provider, 64);
  const QString text = QString::fromUtf8(provider.ConsumeRemainingBytesAsString());

  CheckDeviceExpansion(text, device, now, locale);

  // Date, time and counter values are digits and names: no "/" of their own
  // (an invalid counter such as "%d#/%" goes as a whole, its "/" with it).
  const QString dated = ExpandDatePlaceholders(text, counter, now, locale);
  FUZZ_CHECK(dated.count(u'/') <= text.count(u'/'), u"date expansion of "_s + Show(text) + u" -> "_s + Show(dated));

  // The environment form may bring any text; only crashes count here.
  (void)ExpandDestinationPlaceholders(text, device, counter, now, locale);
  (void)ExpandPathPlaceholders(text);

  const QString before = PathBeforePlaceholders(text);
  if (!text.contains(u'%')) {
    FUZZ_CHECK(before == text, u"a path without placeholders comes back unchanged: "_s + Show(text));
  } else {
    FUZZ_CHECK(!before.contains(u'%') && text.startsWith(before) && (before.isEmpty() || before.endsWith(u'/')),
               u"path before placeholders of "_s + Show(text) + u" is "_s + Show(before));
  }
  return 0;
}
