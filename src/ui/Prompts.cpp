#include "ui/Prompts.h"

#include "ui/Dialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

bool Answered(const QString& label, QString& value, bool& result)
{
  TScopedResponders* responders = CurrentResponders();
  if (responders == nullptr || !responders->Text)
    return false;
  result = responders->Text(label, value);
  return true;
}

} // namespace

bool PromptPassword(QWidget* parent, const QString& title, const QString& label, QString& value)
{
  bool result = false;
  if (Answered(label, value, result))
    return result;
  bool ok = false;
  const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Password, value, &ok);
  if (ok)
    value = text;
  return ok;
}

bool PromptWithHistory(QWidget* parent, const QString& title, const QString& label, const QStringList& history,
                       QString& value)
{
  bool result = false;
  if (Answered(label, value, result))
    return result;
  QDialog dialog(parent);
  dialog.setObjectName(u"HistoryPrompt"_s);
  dialog.setWindowTitle(title);
  auto* box = new QComboBox(&dialog);
  box->setObjectName(u"cbxValue"_s);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->addItems(history);
  box->setEditText(value);
  box->setMinimumContentsLength(32);
  auto* caption = new QLabel(label, &dialog);
  caption->setBuddy(box);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(caption);
  layout->addWidget(box);
  layout->addWidget(OkCancelButtons(&dialog));
  if (dialog.exec() != QDialog::Accepted)
    return false;
  value = box->currentText();
  return true;
}

QStringList ChooseFiles(QWidget* parent, const TFileRequest& request)
{
  if (TScopedResponders* responders = CurrentResponders(); responders != nullptr && responders->File) {
    const QString answer = responders->File(request);
    return answer.isEmpty() ? QStringList() : answer.split(u'\n');
  }
  QFileDialog dialog(parent, request.Title, request.Folder, request.Filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (dialog.exec() != QDialog::Accepted)
    return {};
  return dialog.selectedFiles();
}

} // namespace ardanto::ui
