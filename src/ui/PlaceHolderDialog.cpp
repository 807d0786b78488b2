#include "ui/PlaceHolderDialog.h"

#include "common/PlaceHolders.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

QStringList DateItems()
{
  return {_("Date (e.g. 2010-12-04)"),
          _("Year and week (e.g. 2009-53)"),
          _("Short day of the week (e.g. Mon,Tue)"),
          _("Long day of the week (e.g. Monday)"),
          _("Number of day of week (Monday = 1)"),
          _("Day of year (001 .. 365)"),
          _("Week of year (01 .. 53)"),
          _("Day of month (01 .. 31)"),
          _("Week of month (1 .. 6)"),
          _("Month of year (01 .. 12)"),
          _("Name of month (e.g. January)"),
          _("Year (e.g. 2010)"),
          _("Other")};
}

QStringList TimeItems()
{
  return {_("Time (000000 .. 235959)"), _("Hour (00 .. 23)"),       _("Minute (00 .. 59)"),     _("Alternating days:"),
          _("Alternating weeks:"),      _("Alternating months:"),   _("Alternating versions:"), _("User name"),
          _("Computer name"),           _("Volume name of source"), _("Backup mode"),           _("Other")};
}

QStringList PathItems()
{
  return {_("My Documents"),  _("Application data"),
          _("User profile"),  _("Desktop"),
          _("Favorites"),     _("Program files"),
          _("Ardanto path"),  _("User name"),
          _("Computer name"), _("Other environment variables")};
}

QStringList SystemItems()
{
  return {_("User application data"), _("User local application data"),
          _("All users profile"),     _("Public files"),
          _("Program files"),         _("Common program files"),
          _("Program files (x86)"),   _("Common program files (x86)"),
          _("Program data")};
}

QStringList MailItems()
{
  return {_("Task name"),          _("User name"),          _("Computer name"),   _("Start time of action"),
          _("End time of action"), _("Duration of action"), _("Status of action")};
}

QStringList ExternalItems(bool after)
{
  QStringList items{_("Date and time"),       _("Filename of task"), _("Destination path"),
                    _("Name of zip archive"), _("System directory"), _("Backup task path"),
                    _("Ardanto path"),        _("User name"),        _("Password")};
  if (after)
    items << _("Log file") << _("Backup status");
  return items;
}

QStringList LogItems()
{
  return {_("Date (e.g. 2010-12-04)"),
          _("Time (000000 .. 235959)"),
          _("Year and week (e.g. 2009-53)"),
          _("Year and month (e.g. 2019-07)"),
          _("Year (e.g. 2010)"),
          _("User name"),
          _("Computer name"),
          _("Destination path"),
          _("Drive of destinatiom"),
          _("Volume name of destination")};
}

// Largest cycle length of each alternating item of the time page.
int CycleMaximum(int row)
{
  switch (row) {
  case 3:
    return 366;
  case 4:
    return 53;
  case 5:
    return 12;
  case 6:
    return 99;
  default:
    return 0;
  }
}

} // namespace

TPlaceHolderDialog::TPlaceHolderDialog(QWidget* parent, QPoint pos, int kind, const QString& actionText)
  : QDialog(parent), FKind(kind), FActionText(actionText), FGroup(new QGroupBox(this)), FHeading(new QLabel(this)),
    FList(new QListWidget(this)), FNumber(new QSpinBox(this))
{
  setObjectName(u"PlaceHolderDialog"_s);
  setWindowTitle(_("Insert placeholder"));
  FList->setObjectName(u"lbPlaceholders"_s);
  FNumber->setObjectName(u"edCycle"_s);
  FNumber->setMinimum(2);
  FNumber->setValue(2);
  FNumber->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);

  auto* numberRow = new QHBoxLayout;
  numberRow->addStretch();
  numberRow->addWidget(FNumber);
  auto* groupLayout = new QVBoxLayout(FGroup);
  groupLayout->addWidget(FHeading);
  groupLayout->addWidget(FList);
  groupLayout->addLayout(numberRow);

  QDialogButtonBox* buttons = OkCancelButtons(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FGroup);
  layout->addWidget(buttons);
  connect(FList, &QListWidget::currentRowChanged, this, &TPlaceHolderDialog::ItemChosen);
  connect(FList, &QListWidget::itemDoubleClicked, this, [this] {
    if (!Result().isEmpty())
      accept();
  });

  switch (kind) {
  case pkPath:
    ShowPage(pgPath);
    break;
  case pkMailSubject:
    ShowPage(pgMail);
    break;
  case pkExternalBefore:
    ShowPage(pgExternalBefore);
    break;
  case pkExternalAfter:
    ShowPage(pgExternalAfter);
    break;
  case pkLogFile:
    ShowPage(pgLog);
    break;
  case pkOtherLogs:
    ShowPage(pgOtherLogs);
    break;
  case pkPortable:
    ShowPage(pgPortable);
    break;
  default:
    ShowPage(pgDate);
    break;
  }

  adjustSize();
  if (pos.x() >= 0 && pos.y() >= 0) {
    QRect frame(pos, size());
    if (const QScreen* screen =
            QGuiApplication::screenAt(pos) ? QGuiApplication::screenAt(pos) : QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      frame.moveRight(std::min(frame.right(), area.right()));
      frame.moveBottom(std::min(frame.bottom(), area.bottom()));
      frame.moveLeft(std::max(frame.left(), area.left()));
      frame.moveTop(std::max(frame.top(), area.top()));
    }
    move(frame.topLeft());
  }
}

QString TPlaceHolderDialog::PageCaption() const
{
  return FGroup->title();
}

QStringList TPlaceHolderDialog::Items() const
{
  QStringList items;
  for (int i = 0; i < FList->count(); ++i)
    items << FList->item(i)->text();
  return items;
}

QString TPlaceHolderDialog::Heading() const
{
  return FHeading->text();
}

void TPlaceHolderDialog::SelectItem(int row)
{
  FList->setCurrentRow(row);
}

bool TPlaceHolderDialog::NumberVisible() const
{
  return !FNumber->isHidden();
}

void TPlaceHolderDialog::SetNumber(int value)
{
  FNumber->setValue(value);
}

int TPlaceHolderDialog::NumberMaximum() const
{
  return FNumber->maximum();
}

void TPlaceHolderDialog::ShowPage(TPage page)
{
  FPage = page;
  QString caption;
  QStringList items;
  switch (page) {
  case pgDate:
    caption = _("Date and time");
    items = DateItems();
    break;
  case pgTime:
    caption = _("Time");
    items = TimeItems();
    break;
  case pgPath:
    caption = _("File path:");
    items = PathItems();
    break;
  case pgSystem:
    caption = _("System");
    items = SystemItems();
    break;
  case pgMail:
    caption = _("Mail subject");
    items = MailItems();
    break;
  case pgExternalBefore:
    caption = _("External programs before backup");
    items = ExternalItems(false);
    break;
  case pgExternalAfter:
    caption = _("External programs after backup");
    items = ExternalItems(true);
    break;
  case pgLog:
    caption = _("Log file");
    items = LogItems();
    break;
  case pgOtherLogs:
    caption = _("Other logs");
    items = LogItems().mid(0, 7);
    break;
  case pgPortable:
    caption = _("Portable devices");
    items = QStringList{_("Device name")} + DateItems().mid(0, 12);
    break;
  }
  FGroup->setTitle(caption);
  FHeading->setText(page == pgMail && !FActionText.isEmpty() ? _("Placeholder for") + u' ' + FActionText
                                                             : _("Placeholder for"));
  FList->blockSignals(true);
  FList->clear();
  FList->addItems(items);
  FList->setCurrentRow(0);
  FList->blockSignals(false);
  FNumber->hide();
}

void TPlaceHolderDialog::ItemChosen(int row)
{
  if (row < 0)
    return;
  const int last = FList->count() - 1;
  if ((FPage == pgDate && row == last) || ((FPage == pgExternalBefore || FPage == pgExternalAfter) && row == 0)) {
    ShowPage(FPage == pgDate ? pgTime : pgDate);
    return;
  }
  if (FPage == pgTime && row == last) {
    ShowPage(pgDate);
    return;
  }
  if (FPage == pgPath && row == last) {
    ShowPage(pgSystem);
    return;
  }
  const int maximum = FPage == pgTime ? CycleMaximum(row) : 0;
  FNumber->setVisible(maximum > 0);
  if (maximum > 0) {
    FNumber->setMaximum(maximum);
    FNumber->setValue(2);
  }
}

QString TPlaceHolderDialog::Result() const
{
  const int row = FList->currentRow();
  if (row < 0)
    return QString();
  const auto at = [row](const QStringList& table, int offset = 0) {
    const int i = row + offset;
    return i >= 0 && i < table.size() ? table[i] : QString();
  };
  switch (FPage) {
  case pgDate:
    return row == FList->count() - 1 ? QString() : at(DatePlaceholders());
  case pgTime: {
    if (row == FList->count() - 1)
      return QString();
    QString result = at(TimePlaceholders());
    if (CycleMaximum(row) > 0)
      result.replace(u'?', QString::number(FNumber->value()));
    return result;
  }
  case pgPath:
    return row == FList->count() - 1 ? QString() : at(PathPlaceholders());
  case pgSystem:
    return at(SystemPlaceholders());
  case pgMail:
    return at(MailPlaceholders());
  case pgExternalBefore:
  case pgExternalAfter:
    return row == 0 ? QString() : at(ExternalPlaceholders(), -1);
  case pgLog:
  case pgOtherLogs:
    return at(LogPlaceholders());
  case pgPortable:
    return at(PortablePlaceholders());
  }
  return QString();
}

QString TPlaceHolderDialog::Execute()
{
  if (exec() != QDialog::Accepted)
    return QString();
  return Result();
}

QString TPlaceHolderDialog::Choose(QWidget* parent, QPoint pos, int kind, const QString& actionText)
{
  if (TScopedResponders* responders = CurrentResponders(); responders != nullptr && responders->Placeholder)
    return responders->Placeholder(kind);
  TPlaceHolderDialog dialog(parent, pos, kind, actionText);
  return dialog.Execute();
}

} // namespace ardanto::ui
