#pragma once

// The suite's list editor: one text per line, with adding, removing, moving
// and the defaults offered.

#include <QDialog>
#include <QStringList>

#include <functional>

class QListWidget;
class QPushButton;

namespace ardanto::ui {

class TListEditorDialog : public QDialog {
  Q_OBJECT

public:
  TListEditorDialog(QWidget* parent, const QString& title, const QString& heading, const QStringList& items,
                    const QStringList& defaults = {});

  QStringList Items() const;

  // Opens the editor; true and the edited list in items on OK. Tests answer
  // through a responder instead (see SetListResponder).
  static bool Edit(QWidget* parent, const QString& title, const QString& heading, QStringList& items,
                   const QStringList& defaults = {});

private:
  void AddItem();
  void RemoveItem();
  void MoveItem(int delta);
  void UseDefaults();
  void UpdateButtons();

  QListWidget* FList;
  QPushButton* FRemove;
  QPushButton* FUp;
  QPushButton* FDown;
  QStringList FDefaults;
};

// A test's answer to the next list editors: return false for Cancel, or
// change items and return true for OK. An empty function restores the dialog.
using TListResponder = std::function<bool(const QString& title, QStringList& items)>;
void SetListResponder(TListResponder responder);

} // namespace ardanto::ui
