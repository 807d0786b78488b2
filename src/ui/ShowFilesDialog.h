#pragma once

// A list of the files of one folder, where the user may go down into its
// folders and back up, never above the folder it was opened with.

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTreeView;
class QModelIndex;

namespace ardanto::ui {

// Which folder the list shows, below its root.
class TFolderNavigation {
public:
  explicit TFolderNavigation(const QString& root);

  const QString& Root() const { return FRoot; }
  const QString& Shown() const { return FShown; }
  // Whether the shown folder is another than the root (a trailing "/" and
  // the case do not count).
  bool CanGoUp() const;
  // Shows a folder of the one shown.
  void Open(const QString& folder);
  // Shows the folder above the shown one, never one above the root. False
  // when the root is shown.
  bool Up();

private:
  QString FRoot;
  QString FShown;
};

class TShowFilesDialog : public QDialog {
  Q_OBJECT

public:
  // The title when empty: "Show files". The folder must exist.
  TShowFilesDialog(QWidget* parent, const QString& title, const QString& folder);

  const TFolderNavigation& Navigation() const { return FNavigation; }
  // The names in the list, as shown (folders first).
  QStringList Names() const;

  // The list of folder, modal; an error instead when the folder does not
  // exist.
  static void Execute(QWidget* parent, const QString& title, const QString& folder);

private:
  void Fill();
  void ItemActivated(const QModelIndex& index);
  void UpClicked();

  TFolderNavigation FNavigation;
  QLineEdit* edFolder;
  QTreeView* lvFiles;
  QStandardItemModel* FModel;
  QPushButton* btUp;
};

} // namespace ardanto::ui
