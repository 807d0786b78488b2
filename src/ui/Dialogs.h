#pragma once

// Message and question boxes with named answers and an optional check box,
// text prompts, and file and folder choosers. Every one of them goes through a
// responder that tests replace, so a test answers the next question instead
// of a user.

#include <QString>
#include <QStringList>

#include <functional>

class QDialog;
class QDialogButtonBox;
class QWidget;

namespace ardanto::ui {

enum TDialogButton : int {
  dbNone = 0,
  dbYes = 1,
  dbNo = 2,
  dbCancel = 4,
  dbOk = 8,
  dbRetry = 16,
  dbAbort = 32,
  dbIgnore = 64,
};

enum class TMessageKind { Information, Question, Warning, Error };

struct TQuestion {
  TMessageKind Kind = TMessageKind::Question;
  QString Title;
  QString Text;
  int Buttons = dbOk; // set of TDialogButton
  TDialogButton Default = dbOk;
  QString CheckText;    // a check box below the text when not empty
  bool Checked = false; // in: initial state; out: state on closing
};

// Shows the box and returns the button chosen (Cancel or the default's
// opposite when the box is closed otherwise).
TDialogButton Ask(QWidget* parent, TQuestion& question);

TDialogButton AskYesNoCancel(QWidget* parent, const QString& title, const QString& text,
                             TDialogButton defaultButton = dbYes);
bool AskYesNo(QWidget* parent, const QString& title, const QString& text, bool defaultYes = true);
void ShowError(QWidget* parent, const QString& text);
void ShowWarning(QWidget* parent, const QString& text);
void ShowInfo(QWidget* parent, const QString& text);

// The "OK" and "Cancel" buttons of a dialog, wired to accept and reject.
QDialogButtonBox* OkCancelButtons(QDialog* dialog);

// A one-line text; false when cancelled.
bool PromptText(QWidget* parent, const QString& title, const QString& label, QString& value);

struct TFileRequest {
  bool Save = false; // save dialog (asks before replacing) or open (file must exist)
  QString Title;
  QString Folder;        // where the dialog starts
  QString FileName;      // proposed file
  QString Filter;        // "Backup tasks (*.pkj);;all (*)"
  QString DefaultSuffix; // added when the user gives none
};
// The chosen file's full name, or empty when cancelled.
QString ChooseFile(QWidget* parent, const TFileRequest& request);

// The responders. A test installs its own for the duration of a scope and
// gets every request; without one, real dialogs are shown.
using TQuestionResponder = std::function<TDialogButton(TQuestion&)>;
using TTextResponder = std::function<bool(const QString& label, QString& value)>;
using TFileResponder = std::function<QString(const TFileRequest&)>;
using TFolderResponder = std::function<QString(const QString& title, const QString& start)>;
// The placeholder chooser: the page kind in, the chosen placeholder out.
using TPlaceholderResponder = std::function<QString(int kind)>;
// The new-password dialog: false for Cancel, or the password and true.
using TPasswordResponder = std::function<bool(const QString& title, QString& password)>;

class TScopedResponders {
public:
  TScopedResponders();
  ~TScopedResponders();
  TScopedResponders(const TScopedResponders&) = delete;
  TScopedResponders& operator=(const TScopedResponders&) = delete;

  TQuestionResponder Question;
  TTextResponder Text;
  TFileResponder File;
  TFolderResponder Folder;
  TPlaceholderResponder Placeholder;
  TPasswordResponder Password;

private:
  TScopedResponders* FPrevious;
};

// The responders in force (the innermost scope), or null.
TScopedResponders* CurrentResponders();

} // namespace ardanto::ui
