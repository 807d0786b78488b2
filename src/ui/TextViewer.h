#pragma once

// The suite's text viewer: shows a text file (the engine's log, the SMTP
// conversation log) with its code page detected or chosen, jumps between
// sections and errors marked by fixed texts, reloads, opens another file,
// searches, changes the font and prints. Where the window was and its font are
// kept in section "View" of the engine settings file.

#include <QByteArray>
#include <QDialog>
#include <QFont>
#include <QPoint>
#include <QString>

#include <functional>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QStatusBar;
class QToolButton;

namespace ardanto::ui {

// How printed pages look, from section "Printer" of the engine settings file.
// Margins in tenths of a millimetre.
struct TPrinterSettings {
  QString PrtName;
  int TopMargin = 150;
  int BottomMargin = 150;
  int LeftMargin = 200;
  int RightMargin = 100;
  QString FontName = QStringLiteral("Courier New");
  int FontSize = 10;   // points
  int FontStyle = 0;   // bits: 1 bold, 2 italic, 4 underline, 8 strike out
  int Orientation = 0; // 0 portrait, 1 landscape
  bool operator==(const TPrinterSettings&) const = default;
};

// The printer settings of the file; missing keys (or a missing file) give the
// defaults, an orientation other than 0 or 1 gives 0.
TPrinterSettings ReadPrinterSettings(const QString& engineSettingsFile);

// The font style bits of the settings files and their Qt counterparts.
int FontStyleBits(const QFont& font);
void ApplyFontStyle(QFont& font, int bits);

enum TCodePage : int {
  cpAutomatic = 0, // byte-order mark, else Windows-1252
  cpUtf8,
  cpUtf16LE,
  cpUtf16BE,
  cpWindows1252,
  cpLatin1,
  cpCodePage437,
};
constexpr int kCodePageCount = 7;
QString CodePageName(TCodePage codePage);

// The text of a file's bytes in a code page. A byte-order mark is not part
// of the text; NUL characters are dropped; line ends become "\n".
QString DecodeViewerText(const QByteArray& bytes, TCodePage codePage);

// Where the next (forward) or previous marker lies, searching from the
// position from (forward: a match may start there; backward: it must start
// before it); -1 when there is none.
qsizetype FindMarker(const QString& text, const QString& marker, qsizetype from, bool forward);

// Chooses the printer of the settings (when there is one of that name) and
// their orientation; the printer dialog may change both afterwards.
void PreparePrinter(QPrinter& printer, const TPrinterSettings& settings);
// Prints text on the printer's pages with the margins and the font of the
// settings. False when the printer cannot be started.
bool PrintText(QPrinter& printer, const QString& text, const TPrinterSettings& settings);

enum TViewerButton : int {
  vbOpen = 1,
  vbUpdate = 2,
  vbPrint = 4,
  vbSearch = 8,
  vbFont = 16,
  vbCodePage = 32,
  vbAll = 63,
};

struct TTextViewerOptions {
  QString Title; // " [" + the file's name + "]" is added
  QString FileName;
  QString SettingsFile; // the engine settings file; [View] is kept there when it exists
  TPrinterSettings Printer;
  TCodePage CodePage = cpAutomatic;
  int Buttons = vbAll;
  QString OpenFilter; // of the Open button: "Log files (*.log);;all (*)"
  QString SectionMarker;
  QString PreviousSectionCaption;
  QString NextSectionCaption;
  QString ErrorMarker;
  QString PreviousErrorCaption;
  QString NextErrorCaption;
  QPoint Position = QPoint(-1, -1); // where the window opens when [View] has no place
};

// The viewer of the engine's log: title "<program> - Show log file", the
// printer settings of the engine settings file, code page by mark, Open for
// "*.log" files, sections marked "Ardanto -" and errors "  *** ".
TTextViewerOptions EngineLogViewerOptions(const QString& programTitle, const QString& logFile,
                                          const QString& engineSettingsFile);

// A test's printer dialog: it sets the printer up (for PDF output) and says
// whether to print. An empty function restores the real dialog.
using TPrintResponder = std::function<bool(QPrinter& printer)>;
void SetPrintResponder(TPrintResponder responder);

class TTextViewer : public QDialog {
  Q_OBJECT

public:
  TTextViewer(QWidget* parent, const TTextViewerOptions& options);

  // Opens the viewer modally on options.FileName. A file that does not exist
  // is reported ("File: "%s" not found!") and false returned.
  static bool Show(QWidget* parent, const TTextViewerOptions& options);

  // Loads a file; false (with the reason in the status line) when it cannot
  // be read. The title names the file.
  bool LoadFile(const QString& fileName);
  // "Update": reads the file again, keeping the cursor where it was.
  bool Reload();
  void SetCodePage(TCodePage codePage);
  TCodePage CodePage() const { return FCodePage; }

  QString FileName() const { return FFileName; }
  QString Text() const;
  QString StatusText() const;
  QPlainTextEdit* Editor() const { return edText; }

  // Select the next or previous marker; false (and a status text, the cursor
  // at the end or the start) when there is none.
  bool NextSection();
  bool PreviousSection();
  bool NextError();
  bool PreviousError();
  // Selects the next match of text; false with a status text when none.
  bool Find(const QString& text, bool caseSensitive, bool backward);

  // Fixed-pitch fonts only, 6 to 24 points.
  void SetViewerFont(const QFont& font);
  QFont ViewerFont() const;

  // Opens the printer dialog (or the test's responder) and prints.
  void PrintClick();
  void OpenClick();
  void SearchClick();
  void FontClick();

  void done(int result) override;

private:
  bool Jump(const QString& marker, bool forward, const QString& notFound);
  void ReadView();
  void SaveView();
  void ShowStatus(const QString& text);

  TTextViewerOptions FOptions;
  QString FFileName;
  TCodePage FCodePage = cpAutomatic;
  QPlainTextEdit* edText;
  QStatusBar* sbStatus;
  QToolButton* btCodePage;
  QMenu* FCodePages;
};

} // namespace ardanto::ui
