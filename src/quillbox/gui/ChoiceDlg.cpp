#include "quillbox/gui/ChoiceDlg.h"

#include "common/Translate.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace quillbox {

using namespace Qt::StringLiterals;

namespace {

TChoiceResponder& Responder()
{
  static TChoiceResponder responder;
  return responder;
}

} // namespace

void SetChoiceResponder(TChoiceResponder responder)
{
  Responder() = std::move(responder);
}

int ShowChoice(QWidget* parent, TChoice& choice)
{
  if (Responder())
    return Responder()(choice);
  QString text = choice.Text;
  text.replace(u"\r\n"_s, u"\n"_s);
  QMessageBox box(QMessageBox::Question, choice.Title, text, QMessageBox::NoButton, parent);
  std::vector<QPushButton*> buttons;
  for (const QString& name : std::as_const(choice.Buttons))
    buttons.push_back(box.addButton(name, QMessageBox::AcceptRole));
  QPushButton* cancel = box.addButton(_("Cancel"), QMessageBox::RejectRole);
  box.setEscapeButton(cancel);
  const bool focusValid = choice.Focus >= 0 && choice.Focus < static_cast<int>(buttons.size());
  box.setDefaultButton(focusValid ? buttons[static_cast<std::size_t>(choice.Focus)] : cancel);
  QCheckBox* check = nullptr;
  if (!choice.CheckText.isEmpty()) {
    check = new QCheckBox(choice.CheckText, &box);
    check->setChecked(choice.Checked);
    box.setCheckBox(check);
  }
  box.exec();
  if (check != nullptr)
    choice.Checked = check->isChecked();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i])
      return static_cast<int>(i);
  }
  return -1;
}

} // namespace quillbox
