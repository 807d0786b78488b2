#include "ui/DesktopIconOptions.h"

#include "common/CommandLine.h"
#include "common/FileUtils.h"
#include "common/InitProg.h"
#include "common/Translate.h"

#include <array>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

struct TActionWord {
  const char16_t* Word;
  const char16_t* Value;
};

// Indexed by TShortcutAction.
constexpr std::array<TActionWord, kShortcutActionCount> kActionWords{{
    {nullptr, nullptr},
    {u"suspend", u"standby"},
    {u"suspend", u"hibernate"},
    {u"end", u"logoff"},
    {u"end", u"restart"},
    {u"end", u"shutdown"},
    {u"end", u"lockdown"},
    {u"end", u"hybrid"},
}};

// Indexed by TStatusItem.
constexpr std::array<const char16_t*, kStatusItemCount> kPromptWords{u"quiet", u"delay", u"wait", u"error", u"silent"};

bool Matches(const QString& given, const char16_t* word)
{
  return MatchesOptionWord(given, QString::fromUtf16(word));
}

// The first action of that word whose value the given value selects, in the
// order of the buttons; saNone when there is none.
TShortcutAction MatchAction(const QString& word, const QString& value)
{
  for (int i = saSleep; i < kShortcutActionCount; ++i) {
    if (word == QString::fromUtf16(kActionWords[i].Word) && Matches(value, kActionWords[i].Value))
      return TShortcutAction(i);
  }
  return saNone;
}

int MatchPrompt(const QString& value)
{
  // The words a shortcut's command line has always held, then "silent",
  // which the last item writes, so that every item reads back.
  for (int item : {siNotVisible, siAlwaysWait, siWaitOnErrors, siCloseAutomatically, siShowOnlyOnErrors}) {
    if (Matches(value, kPromptWords[item]))
      return item;
  }
  return -1;
}

} // namespace

QString ShortcutActionCaption(TShortcutAction action)
{
  switch (action) {
  case saNone:
    return _("None");
  case saSleep:
    return _("Sleep");
  case saHibernate:
    return _("Hibernate");
  case saLogoff:
    return _("Logoff");
  case saRestart:
    return _("Restart");
  case saShutdown:
    return _("Shutdown");
  case saLockShutdown:
    return _("Lock and shutdown");
  case saHybrid:
    return _("Hybrid shutdown");
  }
  return QString();
}

void TDesktopIconOptions::ReadOptions(const QString& options)
{
  for (const QString& item : SplitCommandLine(options)) {
    if (item.size() < 2 || (item.front() != u'/' && item.front() != u'-'))
      continue;
    const QString body = item.mid(1);
    const qsizetype colon = body.indexOf(u':');
    const QString given = (colon < 0 ? body : body.left(colon)).toLower();
    const QString value = colon < 0 ? QString() : body.mid(colon + 1).toLower();
    bool taken = false;
    if (Matches(given, u"end") || Matches(given, u"suspend")) {
      const TShortcutAction action = MatchAction(Matches(given, u"end") ? u"end"_s : u"suspend"_s, value);
      if (action != saNone) {
        Action = action;
        taken = true;
      }
    } else if (Matches(given, u"prompt")) {
      const int status = MatchPrompt(value);
      if (status >= 0) {
        Status = status;
        taken = true;
      }
    } else if (Matches(given, u"hide")) {
      NoSplash = true;
      taken = true;
    }
    if (!taken)
      KeptOver += u' ' + QuoteIfBlank(u'/' + body);
  }
}

QString TDesktopIconOptions::Options() const
{
  const int status = Status >= 0 && Status < kStatusItemCount ? Status : int(siCloseAutomatically);
  QString options = OptionItem(u"prompt"_s, QString::fromUtf16(kPromptWords[status]));
  if (Parallel)
    options += OptionItem(u"parallel"_s);
  if (NoSplash)
    options += OptionItem(u"hide"_s);
  if (!ActionChangeable && !Parallel)
    options += OptionItem(u"noaction"_s);
  if (Action > saNone && Action < kShortcutActionCount) {
    const TActionWord& word = kActionWords[Action];
    options += OptionItem(QString::fromUtf16(word.Word), QString::fromUtf16(word.Value));
  }
  if (ErrorMask > 0)
    options += OptionItem(u"erractions"_s, QString::number(ErrorMask));
  return options + KeptOver;
}

TShortcutTasks SplitShortcutTasks(const QString& tasks)
{
  TShortcutTasks result;
  result.Items = SplitCommandLine(tasks);
  if (result.Items.size() > 1) {
    result.Text = FormatText(_("%u selected tasks"), {int(result.Items.size())});
    result.Hint = result.Items.join(u'\n');
    result.OfferParallel = true;
  } else if (result.Items.size() == 1) {
    result.Text = result.Items.front();
  }
  return result;
}

} // namespace ardanto::ui
