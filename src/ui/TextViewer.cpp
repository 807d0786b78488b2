#include "ui/TextViewer.h"

#include "common/Errors.h"
#include "common/FileUtils.h"
#include "common/IniFileUtils.h"
#include "common/TextEncoding.h"
#include "common/Translate.h"
#include "ui/Dialogs.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ardanto::ui {

using namespace Qt::StringLiterals;

namespace {

const QString kPrinterSection = u"Printer"_s;
const QString kViewSection = u"View"_s;
constexpr int kMinFontSize = 6;
constexpr int kMaxFontSize = 24;

TPrintResponder gPrintResponder;

QString DecodeUtf16(QByteArrayView bytes, bool bigEndian)
{
  QStringDecoder decoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
  return decoder.decode(bytes);
}

// The page in tenths of a millimetre; a printer that gives no size is taken
// to hold a page of 2000 x 2900.
QSizeF PageTenths(const QPrinter& printer, bool landscape)
{
  const QSizeF mm = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
  if (mm.width() > 0 && mm.height() > 0)
    return mm * 10.0;
  return landscape ? QSizeF(2900, 2000) : QSizeF(2000, 2900);
}

} // namespace

TPrinterSettings ReadPrinterSettings(const QString& engineSettingsFile)
{
  TPrinterSettings s;
  if (engineSettingsFile.isEmpty())
    return s;
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(engineSettingsFile);
    s.PrtName = ini.ReadString(kPrinterSection, u"Printer"_s, s.PrtName);
    s.TopMargin = ini.ReadInteger(kPrinterSection, u"TopMargin"_s, s.TopMargin);
    s.BottomMargin = ini.ReadInteger(kPrinterSection, u"BottomMargin"_s, s.BottomMargin);
    s.LeftMargin = ini.ReadInteger(kPrinterSection, u"LeftMargin"_s, s.LeftMargin);
    s.RightMargin = ini.ReadInteger(kPrinterSection, u"RightMargin"_s, s.RightMargin);
    s.FontName = ini.ReadString(kPrinterSection, u"FontName"_s, s.FontName);
    s.FontSize = ini.ReadInteger(kPrinterSection, u"FontSize"_s, s.FontSize);
    s.FontStyle = ini.ReadInteger(kPrinterSection, u"FontStyle"_s, s.FontStyle);
    s.Orientation = ini.ReadInteger(kPrinterSection, u"Orientation"_s, s.Orientation);
  } catch (const EArdantoError&) {
    // An unreadable settings file prints with the defaults.
  }
  if (s.Orientation != 0 && s.Orientation != 1)
    s.Orientation = 0;
  return s;
}

int FontStyleBits(const QFont& font)
{
  return (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) | (font.strikeOut() ? 8 : 0);
}

void ApplyFontStyle(QFont& font, int bits)
{
  font.setBold((bits & 1) != 0);
  font.setItalic((bits & 2) != 0);
  font.setUnderline((bits & 4) != 0);
  font.setStrikeOut((bits & 8) != 0);
}

QString CodePageName(TCodePage codePage)
{
  switch (codePage) {
  case cpAutomatic:
    return _("Automatic");
  case cpUtf8:
    return u"UTF-8"_s;
  case cpUtf16LE:
    return u"UTF-16LE"_s;
  case cpUtf16BE:
    return u"UTF-16BE"_s;
  case cpWindows1252:
    return u"Windows-1252"_s;
  case cpLatin1:
    return u"ISO-8859-1"_s;
  case cpCodePage437:
    return u"IBM437"_s;
  }
  return QString();
}

QString DecodeViewerText(const QByteArray& bytes, TCodePage codePage)
{
  const QByteArrayView view(bytes);
  const bool utf8Mark = view.startsWith("\xEF\xBB\xBF");
  const bool leMark = view.startsWith("\xFF\xFE");
  const bool beMark = view.startsWith("\xFE\xFF");
  if (codePage == cpAutomatic)
    codePage = utf8Mark ? cpUtf8 : leMark ? cpUtf16LE : beMark ? cpUtf16BE : cpWindows1252;
  QString text;
  switch (codePage) {
  case cpUtf8:
    text = QString::fromUtf8(utf8Mark ? view.sliced(3) : view);
    break;
  case cpUtf16LE:
    text = DecodeUtf16(leMark ? view.sliced(2) : view, false);
    break;
  case cpUtf16BE:
    text = DecodeUtf16(beMark ? view.sliced(2) : view, true);
    break;
  case cpLatin1:
    text = QString::fromLatin1(view);
    break;
  case cpCodePage437:
    text = DecodeCodePage437(view);
    break;
  case cpWindows1252:
  case cpAutomatic:
    text = DecodeWindows1252(view);
    break;
  }
  // Dropped after decoding: the zero bytes of UTF-16 are part of its characters.
  text.remove(QChar(u'\0'));
  text.replace(u"\r\n"_s, u"\n"_s);
  text.replace(u'\r', u'\n');
  return text;
}

qsizetype FindMarker(const QString& text, const QString& marker, qsizetype from, bool forward)
{
  if (marker.isEmpty())
    return -1;
  if (forward)
    return text.indexOf(marker, std::max<qsizetype>(from, 0));
  // lastIndexOf counts a negative start from the end.
  if (from <= 0)
    return -1;
  return text.lastIndexOf(marker, from - 1);
}

void PreparePrinter(QPrinter& printer, const TPrinterSettings& settings)
{
  if (!settings.PrtName.isEmpty() && QPrinterInfo::availablePrinterNames().contains(settings.PrtName))
    printer.setPrinterName(settings.PrtName);
  printer.setPageOrientation(settings.Orientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait);
}

bool PrintText(QPrinter& printer, const QString& text, const TPrinterSettings& settings)
{
  const bool landscape = printer.pageLayout().orientation() == QPageLayout::Landscape;
  printer.setFullPage(true);
  QPainter painter;
  if (!painter.begin(&printer))
    return false;

  const double perTenth = printer.resolution() / 254.0; // device pixels per tenth of a millimetre
  const QSizeF page = PageTenths(printer, landscape) * perTenth;
  QRectF area(settings.LeftMargin * perTenth, settings.TopMargin * perTenth,
              page.width() - (settings.LeftMargin + settings.RightMargin) * perTenth,
              page.height() - (settings.TopMargin + settings.BottomMargin) * perTenth);
  // Margins that leave no room are ignored rather than printing nothing.
  if (area.width() < page.width() / 10 || area.height() < page.height() / 10)
    area = QRectF(QPointF(0, 0), page);

  QFont font(settings.FontName);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  // 1 point is 0.353 mm.
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(settings.FontSize * 3.53 * perTenth))));
  ApplyFontStyle(font, settings.FontStyle);
  const QFont deviceFont(font, &printer);
  painter.setFont(deviceFont);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  option.setTabStopDistance(8 * QFontMetricsF(deviceFont, &printer).horizontalAdvance(u' '));

  qreal y = area.top();
  for (const QString& line : text.split(u'\n')) {
    QTextLayout layout(line, deviceFont, &printer);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
      row.setLineWidth(area.width());
      row.setPosition(QPointF(0, height));
      height += row.height();
    }
    layout.endLayout();
    for (int i = 0; i < layout.lineCount(); ++i) {
      const QTextLine row = layout.lineAt(i);
      if (y + row.height() > area.bottom() && y > area.top()) {
        printer.newPage();
        y = area.top();
      }
      row.draw(&painter, QPointF(area.left(), y - row.y()));
      y += row.height();
    }
  }
  return painter.end();
}

TTextViewerOptions EngineLogViewerOptions(const QString& programTitle, const QString& logFile,
                                          const QString& engineSettingsFile)
{
  TTextViewerOptions o;
  o.Title = programTitle + u" - "_s + _("Show log file");
  o.FileName = logFile;
  o.SettingsFile = engineSettingsFile;
  o.Printer = ReadPrinterSettings(engineSettingsFile);
  o.OpenFilter = _("Log files") + u" (*.log);;"_s + _("all") + u" (*)"_s;
  o.SectionMarker = u"Ardanto -"_s;
  o.PreviousSectionCaption = _("Previous section");
  o.NextSectionCaption = _("Next section");
  o.ErrorMarker = u"  *** "_s;
  o.PreviousErrorCaption = _("Previous error");
  o.NextErrorCaption = _("Next error");
  return o;
}

void SetPrintResponder(TPrintResponder responder)
{
  gPrintResponder = std::move(responder);
}

TTextViewer::TTextViewer(QWidget* parent, const TTextViewerOptions& options)
  : QDialog(parent), FOptions(options), FCodePage(options.CodePage), edText(new QPlainTextEdit(this)),
    sbStatus(new QStatusBar(this)), btCodePage(new QToolButton(this)), FCodePages(new QMenu(this))
{
  setObjectName(u"TextViewer"_s);
  setWindowTitle(options.Title);
  setSizeGripEnabled(true);
  edText->setObjectName(u"edText"_s);
  edText->setReadOnly(true);
  edText->setLineWrapMode(QPlainTextEdit::NoWrap);
  edText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  sbStatus->setObjectName(u"sbStatus"_s);
  sbStatus->setSizeGripEnabled(false);
  SetViewerFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  auto* tools = new QHBoxLayout;
  const auto button = [this, tools](const char* name, const QString& caption, const QString& hint, bool shown,
                                    std::function<void()> click) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(hint);
    b->setAutoDefault(false);
    b->setVisible(shown);
    tools->addWidget(b);
    connect(b, &QPushButton::clicked, this, std::move(click));
  };
  button("btOpen", _("Open"), _("Open another file"), (options.Buttons & vbOpen) != 0, [this] { OpenClick(); });
  button("btUpdate", _("Update"), _("Read the file again"), (options.Buttons & vbUpdate) != 0, [this] { Reload(); });
  button("btSearch", _("Search"), _("Search the text"), (options.Buttons & vbSearch) != 0, [this] { SearchClick(); });
  button("btFont", _("Font"), _("Choose the font"), (options.Buttons & vbFont) != 0, [this] { FontClick(); });
  btCodePage->setObjectName(u"btCodePage"_s);
  btCodePage->setText(_("Code page"));
  btCodePage->setToolTip(_("Choose the code page of the file"));
  btCodePage->setPopupMode(QToolButton::InstantPopup);
  btCodePage->setMenu(FCodePages);
  btCodePage->setVisible((options.Buttons & vbCodePage) != 0);
  auto* pages = new QActionGroup(this);
  for (int i = 0; i < kCodePageCount; ++i) {
    QAction* action = FCodePages->addAction(CodePageName(static_cast<TCodePage>(i)));
    action->setCheckable(true);
    action->setChecked(i == FCodePage);
    action->setData(i);
    pages->addAction(action);
    connect(action, &QAction::triggered, this, [this, i] { SetCodePage(static_cast<TCodePage>(i)); });
  }
  tools->addWidget(btCodePage);
  button("btPrint", _("Print"), _("Print the text"), (options.Buttons & vbPrint) != 0, [this] { PrintClick(); });
  tools->addStretch();

  const bool sections = !options.SectionMarker.isEmpty();
  const bool errors = !options.ErrorMarker.isEmpty();
  button("btPreviousSection", options.PreviousSectionCaption, options.PreviousSectionCaption, sections,
         [this] { PreviousSection(); });
  button("btNextSection", options.NextSectionCaption, options.NextSectionCaption, sections, [this] { NextSection(); });
  button("btPreviousError", options.PreviousErrorCaption, options.PreviousErrorCaption, errors,
         [this] { PreviousError(); });
  button("btNextError", options.NextErrorCaption, options.NextErrorCaption, errors, [this] { NextError(); });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(_("Close"));
  buttons->button(QDialogButtonBox::Close)->setObjectName(u"btClose"_s);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(tools);
  layout->addWidget(edText, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(sbStatus, 1);
  bottom->addWidget(buttons);
  layout->addLayout(bottom);

  resize(800, 560);
  if (options.Position.x() >= 0 && options.Position.y() >= 0)
    move(options.Position);
  ReadView();
  if (!options.FileName.isEmpty())
    LoadFile(options.FileName);
}

bool TTextViewer::Show(QWidget* parent, const TTextViewerOptions& options)
{
  if (!QFileInfo(options.FileName).isFile()) {
    ShowError(parent, _("File: ") + SafeFormat(_("\"%s\" not found!"), {options.FileName}));
    return false;
  }
  TTextViewer viewer(parent, options);
  viewer.exec();
  return true;
}

bool TTextViewer::LoadFile(const QString& fileName)
{
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    ShowStatus(SafeFormat(_("Cannot read \"%s\": %s"), {fileName, file.errorString()}));
    return false;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    ShowStatus(SafeFormat(_("Cannot read \"%s\": %s"), {fileName, file.errorString()}));
    return false;
  }
  FFileName = fileName;
  edText->setPlainText(DecodeViewerText(bytes, FCodePage));
  setWindowTitle(FOptions.Title + u" ["_s + fileName + u']');
  ShowStatus(QString());
  return true;
}

bool TTextViewer::Reload()
{
  if (FFileName.isEmpty())
    return false;
  const int position = edText->textCursor().position();
  const int scroll = edText->verticalScrollBar()->value();
  if (!LoadFile(FFileName))
    return false;
  QTextCursor cursor = edText->textCursor();
  cursor.setPosition(std::min(position, edText->document()->characterCount() - 1));
  edText->setTextCursor(cursor);
  edText->verticalScrollBar()->setValue(scroll);
  return true;
}

void TTextViewer::SetCodePage(TCodePage codePage)
{
  FCodePage = codePage;
  for (QAction* action : FCodePages->actions())
    action->setChecked(action->data().toInt() == codePage);
  Reload();
}

QString TTextViewer::Text() const
{
  return edText->toPlainText();
}

QString TTextViewer::StatusText() const
{
  return sbStatus->currentMessage();
}

void TTextViewer::ShowStatus(const QString& text)
{
  if (text.isEmpty())
    sbStatus->clearMessage();
  else
    sbStatus->showMessage(text);
}

bool TTextViewer::Jump(const QString& marker, bool forward, const QString& notFound)
{
  const QString text = Text();
  QTextCursor cursor = edText->textCursor();
  const qsizetype from = forward ? cursor.selectionEnd() : cursor.selectionStart();
  const qsizetype at = FindMarker(text, marker, from, forward);
  if (at < 0) {
    cursor.movePosition(forward ? QTextCursor::End : QTextCursor::Start);
    edText->setTextCursor(cursor);
    ShowStatus(notFound);
    return false;
  }
  cursor.setPosition(static_cast<int>(at));
  cursor.setPosition(static_cast<int>(at + marker.size()), QTextCursor::KeepAnchor);
  edText->setTextCursor(cursor);
  edText->ensureCursorVisible();
  ShowStatus(QString());
  return true;
}

bool TTextViewer::NextSection()
{
  return Jump(FOptions.SectionMarker, true, _("No further sections!"));
}

bool TTextViewer::PreviousSection()
{
  return Jump(FOptions.SectionMarker, false, _("No further sections!"));
}

bool TTextViewer::NextError()
{
  return Jump(FOptions.ErrorMarker, true, _("No further errors!"));
}

bool TTextViewer::PreviousError()
{
  return Jump(FOptions.ErrorMarker, false, _("No further errors!"));
}

bool TTextViewer::Find(const QString& text, bool caseSensitive, bool backward)
{
  if (text.isEmpty())
    return false;
  QTextDocument::FindFlags flags;
  if (caseSensitive)
    flags |= QTextDocument::FindCaseSensitively;
  if (backward)
    flags |= QTextDocument::FindBackward;
  if (edText->find(text, flags)) {
    ShowStatus(QString());
    return true;
  }
  ShowStatus(SafeFormat(_("\"%s\" not found!"), {text}));
  return false;
}

void TTextViewer::SetViewerFont(const QFont& font)
{
  QFont f = font;
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  const int size = f.pointSize() > 0 ? f.pointSize() : 10;
  f.setPointSize(std::clamp(size, kMinFontSize, kMaxFontSize));
  edText->setFont(f);
}

QFont TTextViewer::ViewerFont() const
{
  return edText->font();
}

void TTextViewer::OpenClick()
{
  TFileRequest request;
  request.Title = _("Open");
  request.Folder = FFileName.isEmpty() ? QString() : QFileInfo(FFileName).absolutePath();
  request.Filter = FOptions.OpenFilter.isEmpty() ? _("all") + u" (*)"_s : FOptions.OpenFilter;
  const QString file = ChooseFile(this, request);
  if (!file.isEmpty())
    LoadFile(file);
}

void TTextViewer::SearchClick()
{
  auto* dialog = findChild<QDialog*>(u"SearchDialog"_s);
  if (dialog == nullptr) {
    dialog = new QDialog(this);
    dialog->setObjectName(u"SearchDialog"_s);
    dialog->setWindowTitle(_("Search"));
    auto* edit = new QLineEdit(dialog);
    edit->setObjectName(u"edSearch"_s);
    auto* matchCase = new QCheckBox(_("Match case"), dialog);
    matchCase->setObjectName(u"cbMatchCase"_s);
    auto* up = new QCheckBox(_("Search backwards"), dialog);
    up->setObjectName(u"cbBackward"_s);
    auto* next = new QPushButton(_("Find next"), dialog);
    next->setObjectName(u"btFindNext"_s);
    next->setDefault(true);
    auto* close = new QPushButton(_("Close"), dialog);
    connect(next, &QPushButton::clicked, this,
            [this, edit, matchCase, up] { Find(edit->text(), matchCase->isChecked(), up->isChecked()); });
    connect(close, &QPushButton::clicked, dialog, &QDialog::hide);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(edit);
    layout->addWidget(matchCase);
    layout->addWidget(up);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(next);
    row->addWidget(close);
    layout->addLayout(row);
  }
  if (auto* edit = dialog->findChild<QLineEdit*>(u"edSearch"_s); edit && edText->textCursor().hasSelection())
    edit->setText(edText->textCursor().selectedText());
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

void TTextViewer::FontClick()
{
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, ViewerFont(), this, _("Font"), QFontDialog::MonospacedFonts);
  if (ok)
    SetViewerFont(font);
}

void TTextViewer::PrintClick()
{
  QPrinter printer(QPrinter::HighResolution);
  PreparePrinter(printer, FOptions.Printer);
  printer.setDocName(QFileInfo(FFileName).fileName());
  bool print = false;
  if (gPrintResponder) {
    print = gPrintResponder(printer);
  } else {
    QPrintDialog dialog(&printer, this);
    print = dialog.exec() == QDialog::Accepted;
  }
  if (print && !PrintText(printer, Text(), FOptions.Printer))
    ShowError(this, _("Printing failed!"));
}

void TTextViewer::ReadView()
{
  if (FOptions.SettingsFile.isEmpty() || !QFileInfo(FOptions.SettingsFile).isFile())
    return;
  try {
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(FOptions.SettingsFile);
    const int top = ini.ReadInteger(kViewSection, u"Top"_s, -1);
    const int left = ini.ReadInteger(kViewSection, u"Left"_s, -1);
    const int height = ini.ReadInteger(kViewSection, u"Height"_s, 0);
    const int width = ini.ReadInteger(kViewSection, u"Width"_s, 0);
    if (width > 100 && height > 100)
      resize(width, height);
    // A place on a screen that is no longer there is not taken.
    const QRect place(left, top, this->width(), this->height());
    if (top >= 0 && left >= 0 && QGuiApplication::screenAt(place.center()) != nullptr)
      move(place.topLeft());
    const QString fontName = ini.ReadString(kViewSection, u"FontName"_s, QString());
    if (!fontName.isEmpty()) {
      QFont font(fontName);
      font.setPointSize(ini.ReadInteger(kViewSection, u"FontSize"_s, 10));
      ApplyFontStyle(font, ini.ReadInteger(kViewSection, u"FontStyle"_s, 0));
      SetViewerFont(font);
    }
  } catch (const EArdantoError&) {
    // The window opens where it would without the file.
  }
}

void TTextViewer::SaveView()
{
  if (FOptions.SettingsFile.isEmpty() || !QFileInfo(FOptions.SettingsFile).isFile())
    return;
  try {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(FOptions.SettingsFile);
    const QRect place = geometry();
    ini.WriteInteger(kViewSection, u"Top"_s, place.top());
    ini.WriteInteger(kViewSection, u"Left"_s, place.left());
    ini.WriteInteger(kViewSection, u"Height"_s, place.height());
    ini.WriteInteger(kViewSection, u"Width"_s, place.width());
    const QFont font = ViewerFont();
    ini.WriteString(kViewSection, u"FontName"_s, font.family());
    ini.WriteInteger(kViewSection, u"FontSize"_s, font.pointSize());
    ini.WriteInteger(kViewSection, u"FontStyle"_s, FontStyleBits(font));
    ini.UpdateFile();
  } catch (const EArdantoError& e) {
    // Only the window's place is lost; the text was never changed.
    qWarning("%s", qPrintable(e.Message()));
  }
}

void TTextViewer::done(int result)
{
  SaveView();
  QDialog::done(result);
}

} // namespace ardanto::ui
