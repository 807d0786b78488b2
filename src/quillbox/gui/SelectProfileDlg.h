#pragma once

// The profile chooser shown when Thunderbird has several profiles, and the
// selection steps around it.

#include <QDialog>
#include <QPoint>
#include <QStringList>

#include <functional>

class QListWidget;

namespace quillbox {

class TProfileList;

class TSelectProfileDialog : public QDialog {
  Q_OBJECT

public:
  explicit TSelectProfileDialog(QWidget* parent = nullptr);

  // Lists the shown names of the profiles with AProfile (or, when empty, the
  // default profile) selected, opens at APos (kept on screen; a negative
  // coordinate centres it) and on OK sets AProfile to the list name of the
  // chosen entry. False on Cancel.
  bool Execute(QPoint APos, TProfileList& ProfList, QString& AProfile);

  // The steps of Execute, for tests that drive the dialog without a modal loop.
  void Prepare(TProfileList& ProfList, QString& AProfile);
  void Place(QPoint APos);
  // The list name of the selected entry, the first one when none is selected.
  QString Chosen(const TProfileList& ProfList) const;

private:
  QListWidget* lbProfiles;
};

// A test's answer to the next profile choosers: items are the shown names,
// index the selected row; return false for Cancel or set index and return
// true for OK. An empty function restores the dialog.
using TProfileResponder = std::function<bool(const QStringList& items, int& index)>;
void SetProfileResponder(TProfileResponder responder);

// Lets the user choose a profile: none to choose from gives false, a single
// one is announced and taken, several go through the dialog. On success name
// is the entry's name as the list has it.
bool SelectProfile(QWidget* parent, TSelectProfileDialog& dialog, QPoint pos, TProfileList& list, QString& name);

} // namespace quillbox
