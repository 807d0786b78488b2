#pragma once

// The question with a row of named buttons and "Cancel" that restore and
// move ask, with its check box.

#include "quillbox/MailDataView.h"

#include <functional>

class QWidget;

namespace quillbox {

// Shows the choice and returns the index of the button pressed, negative for
// "Cancel"; choice.Checked gets the check box's state.
int ShowChoice(QWidget* parent, TChoice& choice);

// Answers the next choices instead of the dialog (a test, or nobody being
// there to answer); an empty function restores the dialog.
using TChoiceResponder = std::function<int(TChoice& choice)>;
void SetChoiceResponder(TChoiceResponder responder);

} // namespace quillbox
