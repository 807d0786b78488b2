#include "ui/ShowFilesDialog.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"
#include "ui/HelpKeys.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int kSortRole = Qt::UserRole + 1;
constexpr int kPathRole = Qt::UserRole + 2;
constexpr int kFolderRole = Qt::UserRole + 3;

QString WithSlash(const QString& folder)
{
  return folder.endsWith(u'/') ? folder : folder + u'/';
}

bool SameFolder(const QString& a, const QString& b)
{
  return WithSlash(a).compare(WithSlash(b), Qt::CaseInsensitive) == 0;
}

// Whether folder is root or lies below it, compared by name only.
bool Within(const QString& folder, const QString& root)
{
  return WithSlash(folder).startsWith(WithSlash(root), Qt::CaseInsensitive);
}

QString DirectoryNotFound(const QString& folder)
{
  return SafeFormat(_("Directory not found:\r\n%s!"), {folder});
}

} // namespace

TFolderNavigation::TFolderNavigation(const QString& root)
  : FRoot(QDir::cleanPath(QFileInfo(root).absoluteFilePath())), FShown(FRoot)
{
}

bool TFolderNavigation::CanGoUp() const
{
  return !SameFolder(FShown, FRoot);
}

void TFolderNavigation::Open(const QString& folder)
{
  const QString path = QDir::cleanPath(QDir(FShown).absoluteFilePath(folder));
  // Names such as ".." would lead out of the tree the list was opened for.
  FShown = Within(path, FRoot) ? path : FRoot;
}

bool TFolderNavigation::Up()
{
  if (!CanGoUp())
    return false;
  const QString parent = QDir::cleanPath(FShown + u"/.."_s);
  FShown = Within(parent, FRoot) ? parent : FRoot;
  return true;
}

TShowFilesDialog::TShowFilesDialog(QWidget* parent, const QString& title, const QString& folder)
  : QDialog(parent), FNavigation(folder), edFolder(new QLineEdit(this)), lvFiles(new QTreeView(this)),
    FModel(new QStandardItemModel(this)), btUp(new QPushButton(_("One directory up"), this))
{
  setObjectName(u"ShowFilesDialog"_s);
  setWindowTitle(title.isEmpty() ? _("Show files") : title);
  edFolder->setObjectName(u"edFolder"_s);
  edFolder->setReadOnly(true);
  lvFiles->setObjectName(u"lvFiles"_s);
  lvFiles->setModel(FModel);
  lvFiles->setRootIsDecorated(false);
  lvFiles->setItemsExpandable(false);
  lvFiles->setUniformRowHeights(true);
  lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFiles->setSortingEnabled(true);
  FModel->setSortRole(kSortRole);
  FModel->setHorizontalHeaderLabels({_("Name"), _("Size"), _("Date")});
  lvFiles->header()->setSortIndicator(0, Qt::AscendingOrder);
  lvFiles->header()->setStretchLastSection(false);
  lvFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  lvFiles->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  lvFiles->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  btUp->setObjectName(u"btUp"_s);
  btUp->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(btUp);
  row->addStretch();
  row->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edFolder);
  layout->addWidget(lvFiles, 1);
  layout->addLayout(row);
  resize(640, 420);

  connect(lvFiles, &QTreeView::activated, this, &TShowFilesDialog::ItemActivated);
  connect(btUp, &QPushButton::clicked, this, &TShowFilesDialog::UpClicked);
  new THelpKeys(this, QString());
  Fill();
}

QStringList TShowFilesDialog::Names() const
{
  QStringList names;
  for (int row = 0; row < FModel->rowCount(); ++row)
    names.append(FModel->item(row, 0)->text());
  return names;
}

void TShowFilesDialog::Fill()
{
  const QString shown = FNavigation.Shown();
  edFolder->setText(QDir::toNativeSeparators(shown));
  lvFiles->setToolTip(_("Directory:") + u' ' + QDir::toNativeSeparators(shown));
  btUp->setEnabled(FNavigation.CanGoUp());

  FModel->removeRows(0, FModel->rowCount());
  const QLocale locale;
  const QFileIconProvider icons;
  const QFileInfoList entries =
      QDir(shown).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& entry : entries) {
    const bool folder = entry.isDir();
    auto* name = new QStandardItem(icons.icon(entry), entry.fileName());
    // Folders before files, then by name without regard to case.
    const QString key = (folder ? u"0"_s : u"1"_s) + entry.fileName().toLower();
    name->setData(key, kSortRole);
    name->setData(entry.absoluteFilePath(), kPathRole);
    name->setData(folder, kFolderRole);
    auto* size = new QStandardItem(folder ? QString() : locale.formattedDataSize(entry.size()));
    size->setData(folder ? qint64(-1) : entry.size(), kSortRole);
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const QDateTime modified = entry.lastModified();
    auto* date = new QStandardItem(locale.toString(modified, QLocale::ShortFormat));
    date->setData(modified, kSortRole);
    FModel->appendRow({name, size, date});
  }
  FModel->sort(lvFiles->header()->sortIndicatorSection(), lvFiles->header()->sortIndicatorOrder());
}

void TShowFilesDialog::ItemActivated(const QModelIndex& index)
{
  const QModelIndex name = index.siblingAtColumn(0);
  if (!name.isValid() || !name.data(kFolderRole).toBool())
    return;
  const QString path = name.data(kPathRole).toString();
  if (!QFileInfo(path).isDir()) {
    ShowError(this, DirectoryNotFound(path));
    Fill();
    return;
  }
  FNavigation.Open(path);
  Fill();
}

void TShowFilesDialog::UpClicked()
{
  if (FNavigation.Up())
    Fill();
}

void TShowFilesDialog::Execute(QWidget* parent, const QString& title, const QString& folder)
{
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    ShowError(parent, DirectoryNotFound(folder));
    return;
  }
  TShowFilesDialog dialog(parent, title, folder);
  dialog.exec();
}

} // namespace ardanto::ui
