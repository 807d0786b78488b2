#pragma once

// What restoring and moving a profile's mail data need from the window:
// questions, choices between named buttons, the folder chooser, messages, and
// the look whether Thunderbird runs. Tests answer them from a script.

#include <QString>
#include <QStringList>

namespace quillbox {

// A question with a row of named buttons and "Cancel", and an optional check
// box.
struct TChoice {
  QString Title;
  QString Text;
  QStringList Buttons;  // named buttons; "Cancel" follows them
  QString CheckText;    // no check box when empty
  bool Checked = false; // in: its state at first; out: when the dialog closed
  int Focus = -1;       // index of the button with the focus; -1: "Cancel"
};

class IMailDataView {
public:
  virtual ~IMailDataView() = default;

  // A question answered "Yes" or "No".
  virtual bool AskYesNo(const QString& text) = 0;
  // The index of the button pressed; negative for "Cancel".
  virtual int Choose(TChoice& choice) = 0;
  // The folder chooser; false when cancelled.
  virtual bool SelectFolder(const QString& title, const QString& start, QString& folder) = 0;
  virtual void ShowError(const QString& text) = 0;
  // An error that opens where message boxes open by default, not at the
  // window's usual place (the restore task could not be saved).
  virtual void ShowPlainError(const QString& text) = 0;
  virtual void ShowInfo(const QString& text) = 0;
  // The window's caption, the title of the "close Thunderbird" question.
  virtual QString Caption() const = 0;
  // Whether Thunderbird runs or holds one of the folders.
  virtual bool ThunderbirdRunning(const QStringList& profileFolders) = 0;
  // Called every 100 ms while a long step runs, so the window stays responsive.
  virtual void ProcessEvents() = 0;
};

} // namespace quillbox
