#include "mail/gui/MailTestDlg.h"

#include "common/FileUtils.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"
#include "ui/TextViewer.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ardanto {

using namespace Qt::StringLiterals;

TMailTestDialog::TMailTestDialog(QWidget* parent, const QString& message, const QString& logFile, bool error,
                                 const QString& settingsFile)
  : QDialog(parent), FLogFile(logFile), FSettingsFile(settingsFile), FError(error), laIcon(new QLabel(this)),
    laMessage(new QLabel(this)), btShow(new QPushButton(_("Show"), this)), btDelete(new QPushButton(_("Delete"), this))
{
  setObjectName(u"MailTestDialog"_s);
  setWindowTitle(_("Mail delivery status"));
  laIcon->setObjectName(u"laIcon"_s);
  const QStyle::StandardPixmap icon = error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxInformation;
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  laIcon->setPixmap(style()->standardIcon(icon, nullptr, this).pixmap(iconSize, iconSize));
  laIcon->setAlignment(Qt::AlignTop);
  laMessage->setObjectName(u"laMessage"_s);
  QString text = message;
  laMessage->setText(text.replace(u"\r\n"_s, u"\n"_s));
  laMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
  btShow->setObjectName(u"btShow"_s);
  btDelete->setObjectName(u"btDelete"_s);
  btShow->setAutoDefault(false);
  btDelete->setAutoDefault(false);

  auto* log = new QGroupBox(_("SMTP communication log"), this);
  log->setObjectName(u"gbLog"_s);
  auto* logRow = new QHBoxLayout(log);
  logRow->addWidget(btShow);
  logRow->addWidget(btDelete);
  logRow->addStretch();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(_("OK"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(u"bbOk"_s);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(btShow, &QPushButton::clicked, this, &TMailTestDialog::btShowClick);
  connect(btDelete, &QPushButton::clicked, this, &TMailTestDialog::btDeleteClick);

  auto* top = new QHBoxLayout;
  top->addWidget(laIcon);
  top->addWidget(laMessage, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(log);
  layout->addWidget(buttons);

  // Wide enough for the longest line, and a tenth more.
  const QFontMetrics metrics(laMessage->font());
  int longest = 0;
  for (const QString& line : laMessage->text().split(u'\n'))
    longest = std::max(longest, metrics.horizontalAdvance(line));
  const int margins = layout->contentsMargins().left() + layout->contentsMargins().right() + top->spacing();
  setMinimumWidth(static_cast<int>(std::lround(longest * 1.1)) + iconSize + margins);
}

void TMailTestDialog::Show(QWidget* parent, const QString& message, const QString& logFile, bool error,
                           const QString& settingsFile)
{
  TMailTestDialog dialog(parent, message, logFile, error, settingsFile);
  dialog.exec();
}

QString TMailTestDialog::Message() const
{
  return laMessage->text();
}

void TMailTestDialog::btShowClick()
{
  ui::TTextViewerOptions options;
  options.Title = QApplication::applicationName() + u" - "_s + _("SMTP communication log");
  options.FileName = FLogFile;
  options.SettingsFile = FSettingsFile;
  options.Printer = ui::ReadPrinterSettings(FSettingsFile);
  // The mailer writes its log as UTF-8 without a mark.
  options.CodePage = ui::cpUtf8;
  options.Buttons = ui::vbUpdate | ui::vbPrint | ui::vbSearch | ui::vbFont | ui::vbCodePage;
  ui::TTextViewer::Show(this, options);
}

void TMailTestDialog::btDeleteClick()
{
  if (FLogFile.isEmpty() || !QFileInfo::exists(FLogFile))
    return;
  if (!ui::AskYesNo(this, windowTitle(), SafeFormat(_("Delete log file \"%s\"?"), {FLogFile})))
    return;
  QFile file(FLogFile);
  if (!file.remove())
    ui::ShowError(this, SafeFormat(_("Could not delete \"%s\": %s"), {FLogFile, file.errorString()}));
}

} // namespace ardanto
