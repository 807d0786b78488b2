#include "quillbox/EngineCommand.h"

#include "common/InitProg.h"

namespace quillbox {

using namespace Qt::StringLiterals;

namespace {

// Collects option items in both forms at once, so the argument list and the
// text cannot drift apart.
class TOptionItems {
public:
  void Add(const QString& word)
  {
    FArguments.append(u'/' + word);
    FText += ardanto::OptionItem(word);
  }
  void Add(const QString& word, const QString& value)
  {
    FArguments.append(u'/' + word + u':' + value);
    FText += ardanto::OptionItem(word, value);
  }
  void Append(const TOptionItems& other)
  {
    FArguments += other.FArguments;
    FText += other.FText;
  }
  const QStringList& Arguments() const { return FArguments; }
  const QString& Text() const { return FText; }

private:
  QStringList FArguments;
  QString FText;
};

TOptionItems StatusItems(int prompt, int waitSeconds, bool onTop)
{
  TOptionItems items;
  items.Add(u"prompt"_s, StatusPromptWord(prompt));
  if (StatusPromptHasWait(prompt))
    items.Add(u"wait"_s, QString::number(waitSeconds));
  items.Add(u"status"_s, onTop ? u"ontop"_s : u"normal"_s);
  items.Add(u"hide"_s);
  items.Add(u"force"_s);
  return items;
}

TEngineCommand MakeCommand(const QString& enginePath, const QString& taskFile, const TOptionItems& items)
{
  TEngineCommand command;
  command.Program = enginePath;
  command.Arguments = QStringList{taskFile} + items.Arguments();
  command.CommandLine = ardanto::QuoteIfBlank(enginePath) + u' ' + ardanto::QuoteIfBlank(taskFile) + items.Text();
  return command;
}

int ValidPrompt(int prompt)
{
  return prompt >= spWait && prompt <= spSilent ? prompt : kDefaultStatusPrompt;
}

} // namespace

QString StatusPromptWord(int prompt)
{
  static const QString words[] = {u"wait"_s, u"delay"_s, u"quiet"_s, u"error"_s, u"silent"_s};
  return words[ValidPrompt(prompt)];
}

bool StatusPromptHasWait(int prompt)
{
  const int mode = ValidPrompt(prompt);
  return mode == spDelay || mode == spError;
}

QStringList StatusOptionItems(int prompt, int waitSeconds, bool onTop)
{
  return StatusItems(prompt, waitSeconds, onTop).Arguments();
}

QString StatusOptions(int prompt, int waitSeconds, bool onTop)
{
  return StatusItems(prompt, waitSeconds, onTop).Text();
}

TEngineCommand BackupCommand(const QString& enginePath, const QString& taskFile, int prompt, int waitSeconds,
                             bool onTop)
{
  TOptionItems items;
  items.Add(u"startapp"_s, u"quillbox"_s);
  items.Append(StatusItems(prompt, waitSeconds, onTop));
  return MakeCommand(enginePath, taskFile, items);
}

TEngineCommand RestoreCommand(const QString& enginePath, const QString& restoreTaskFile)
{
  TOptionItems items;
  items.Add(u"hide"_s);
  items.Add(u"prompt"_s, u"wait"_s);
  items.Add(u"restore"_s);
  return MakeCommand(enginePath, restoreTaskFile, items);
}

} // namespace quillbox
