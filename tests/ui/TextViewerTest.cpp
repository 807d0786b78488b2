// The suite's text viewer on an engine log as the engine writes it: code pages,
// section and error navigation, reloading, opening, the window's place in the
// engine settings file, and printing to PDF read back with poppler's tools.

#include "ui/TextViewer.h"

#include "common/IniFileUtils.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>

#include <gtest/gtest.h>

using namespace ardanto;
using namespace ardanto::ui;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

// Two runs of a task, each a section with one error line.
const QString kLog = u"Ardanto - tb-default - 09.03.2024 14:00:01\n"
                     "  Task file: /home/ann/Documents/Ardanto/tb-default.buj\n"
                     "  Destination: /media/backup/Thunderbird\n"
                     "  /home/ann/.thunderbird/abcd.default\n"
                     "    *** Cannot read \"/home/ann/.thunderbird/abcd.default/lock\": Permission denied\n"
                     "  1520 files copied, 3 skipped, 0 removed, 1 errors, 1.2 GB in 00:03:12\n"
                     "Ardanto - tb-default - finished 09.03.2024 14:03:13: Some files could not be copied!\n"
                     "Ardanto - tb-default - 10.03.2024 14:00:01\n"
                     "  Task file: /home/ann/Documents/Ardanto/tb-default.buj\n"
                     "    *** Grüße.txt: No space left on device\n"
                     "Ardanto - tb-default - finished 10.03.2024 14:00:09: Backup incomplete!\n"_s;

QByteArray Utf16(const QString& text, bool bigEndian)
{
  QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
  for (const QChar c : text) {
    const char high = static_cast<char>(c.unicode() >> 8), low = static_cast<char>(c.unicode() & 0xFF);
    bytes += bigEndian ? QByteArray{&high, 1} + QByteArray{&low, 1} : QByteArray{&low, 1} + QByteArray{&high, 1};
  }
  return bytes;
}

TTextViewerOptions LogOptions(const QString& file)
{
  return EngineLogViewerOptions(u"Quillbox"_s, file, QString());
}

int Line(const TTextViewer& viewer)
{
  return viewer.Editor()->textCursor().block().blockNumber();
}

QString Selected(const TTextViewer& viewer)
{
  return viewer.Editor()->textCursor().selectedText();
}

} // namespace

TEST(TextViewer, CodePagesOfTheBytes)
{
  const QString text = u"Grüße – 5 €\nzweite Zeile\n"_s;
  const QByteArray ansi = "Gr\xFC\xDF"
                          "e \x96 5 \x80\r\nzweite Zeile\r\n";
  const struct {
    const char* Name;
    QByteArray Bytes;
    TCodePage CodePage;
    QString Expected;
  } cases[] = {
      {"UTF-8 mark", "\xEF\xBB\xBF" + text.toUtf8(), cpAutomatic, text},
      {"UTF-16LE mark", Utf16(text, false), cpAutomatic, text},
      {"UTF-16BE mark", Utf16(text, true), cpAutomatic, text},
      {"no mark: Windows-1252, CR LF", ansi, cpAutomatic, text},
      {"UTF-8 without mark is not guessed", u"ü"_s.toUtf8(), cpAutomatic, u"Ã¼"_s},
      {"UTF-8 chosen", u"ü"_s.toUtf8(), cpUtf8, u"ü"_s},
      {"UTF-8 chosen, mark dropped", "\xEF\xBB\xBF" + u"ü"_s.toUtf8(), cpUtf8, u"ü"_s},
      {"zero bytes dropped", QByteArray("a\0b\0\0c", 6), cpAutomatic, u"abc"_s},
      {"UTF-16 chosen without a mark", Utf16(u"ab"_s, false).mid(2), cpUtf16LE, u"ab"_s},
      {"old Mac line ends", "a\rb\r", cpWindows1252, u"a\nb\n"_s},
      {"Latin-1", "\x80\xE4", cpLatin1, u"\u0080ä"_s},
      {"code page 437", "\x84\x94", cpCodePage437, u"äö"_s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeViewerText(c.Bytes, c.CodePage), c.Expected) << c.Name;
}

TEST(TextViewer, SectionsAndErrorsOfAnEngineLog)
{
  TempDir dir;
  const QString file = dir.Write(u"tb-default.log"_s, "\xEF\xBB\xBF" + kLog.toUtf8());
  TTextViewer viewer(nullptr, LogOptions(file));
  ASSERT_EQ(viewer.Text(), kLog);
  EXPECT_EQ(viewer.windowTitle(), u"Quillbox - Show log file ["_s + file + u']');
  const struct {
    const char* Name;
    const char16_t* Caption;
  } buttons[] = {{"btPreviousSection", u"Previous section"},
                 {"btNextSection", u"Next section"},
                 {"btPreviousError", u"Previous error"},
                 {"btNextError", u"Next error"},
                 {"btOpen", u"Open"},
                 {"btUpdate", u"Update"},
                 {"btPrint", u"Print"},
                 {"btSearch", u"Search"}};
  for (const auto& b : buttons) {
    const auto* button = viewer.findChild<QPushButton*>(QString::fromLatin1(b.Name));
    ASSERT_NE(button, nullptr) << b.Name;
    EXPECT_EQ(button->text(), QString::fromUtf16(b.Caption));
    EXPECT_TRUE(button->isVisibleTo(&viewer)) << b.Name;
  }

  for (const int line : {0, 6, 7, 10}) {
    ASSERT_TRUE(viewer.NextSection()) << line;
    EXPECT_EQ(Line(viewer), line);
    EXPECT_EQ(Selected(viewer), u"Ardanto -"_s);
    EXPECT_TRUE(viewer.StatusText().isEmpty());
  }
  EXPECT_FALSE(viewer.NextSection());
  EXPECT_EQ(viewer.StatusText(), u"No further sections!"_s);
  EXPECT_TRUE(viewer.Editor()->textCursor().atEnd());
  for (const int line : {10, 7, 6, 0}) {
    ASSERT_TRUE(viewer.PreviousSection()) << line;
    EXPECT_EQ(Line(viewer), line);
  }
  EXPECT_FALSE(viewer.PreviousSection());
  EXPECT_EQ(viewer.StatusText(), u"No further sections!"_s);
  EXPECT_TRUE(viewer.Editor()->textCursor().atStart());

  for (const int line : {4, 9}) {
    ASSERT_TRUE(viewer.NextError()) << line;
    EXPECT_EQ(Line(viewer), line);
    EXPECT_EQ(Selected(viewer), u"  *** "_s);
  }
  EXPECT_FALSE(viewer.NextError());
  EXPECT_EQ(viewer.StatusText(), u"No further errors!"_s);
  EXPECT_TRUE(viewer.Editor()->textCursor().atEnd());
  ASSERT_TRUE(viewer.PreviousError());
  EXPECT_EQ(Line(viewer), 9);
  ASSERT_TRUE(viewer.PreviousError());
  EXPECT_EQ(Line(viewer), 4);
  EXPECT_FALSE(viewer.PreviousError());
  EXPECT_TRUE(viewer.Editor()->textCursor().atStart());

  // Navigation goes on from where the user put the cursor.
  QTextCursor cursor(viewer.Editor()->document()->findBlockByNumber(8));
  viewer.Editor()->setTextCursor(cursor);
  ASSERT_TRUE(viewer.PreviousSection());
  EXPECT_EQ(Line(viewer), 7);

  EXPECT_TRUE(viewer.Find(u"no SPACE"_s, false, false));
  EXPECT_EQ(Selected(viewer), u"No space"_s);
  EXPECT_FALSE(viewer.Find(u"no SPACE"_s, true, false));
  EXPECT_EQ(viewer.StatusText(), u"\"no SPACE\" not found!"_s);
}

TEST(TextViewer, OnTheLogTheEngineWrites)
{
  // Two runs of the real engine on a task whose second folder is missing:
  // two sections, each with an error.
  TempDir dir;
  for (const char* folder : {"home", "config", "data", "logs", "backup"})
    QDir().mkpath(dir.File(QString::fromLatin1(folder)));
  dir.Write(u"profile/Grüße.txt"_s, "mail\n");
  const QString task = dir.File(u"tb-default.buj"_s);
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(task, true);
    ini.WriteString(u"Global"_s, u"Destination"_s, dir.File(u"backup"_s));
    ini.WriteString(u"Global"_s, u"DriveId"_s, u"Drv?"_s);
    ini.WriteInteger(u"Global"_s, u"Compress"_s, 0);
    ini.WriteInteger(u"Global"_s, u"LogFile"_s, 2);
    ini.WriteString(u"Global"_s, u"LogName"_s, dir.File(u"logs"_s) + u"/%taskname%.log"_s);
    ini.WriteInteger(u"Global"_s, u"DirCount"_s, 2);
    int i = 0;
    for (const QString& source : {dir.File(u"profile"_s), dir.File(u"missing"_s)}) {
      const QString section = u"Dir00%1"_s.arg(i++);
      ini.WriteInteger(section, u"Enabled"_s, 1);
      ini.WriteString(section, u"Source"_s, source);
      ini.WriteInteger(section, u"BackupMode"_s, 1);
    }
    ini.UpdateFile();
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(u"HOME"_s, dir.File(u"home"_s));
  env.insert(u"XDG_CONFIG_HOME"_s, dir.File(u"config"_s));
  env.insert(u"XDG_DATA_HOME"_s, dir.File(u"data"_s));
  env.insert(u"ARDANTO_SYSTEM_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
  for (int run = 0; run < 2; ++run) {
    QProcess engine;
    engine.setProcessEnvironment(env);
    engine.start(QStringLiteral(ARDANTO_ENGINE_PROGRAM), {task, u"/prompt:quiet"_s, u"/force"_s});
    ASSERT_TRUE(engine.waitForFinished(60000));
    ASSERT_NE(engine.exitCode(), 0) << "the missing folder is an error";
  }
  const QString log = dir.File(u"logs/tb-default.log"_s);
  const QByteArray bytes = ReadFile(log);
  ASSERT_FALSE(bytes.isEmpty());

  TTextViewer viewer(nullptr, LogOptions(log));
  const QStringList lines = viewer.Text().split(u'\n');
  // UTF-8 by its mark, which is not part of the text.
  EXPECT_TRUE(viewer.Text().contains(u"    Grüße.txt\n"_s)) << viewer.Text().toStdString();
  EXPECT_TRUE(viewer.Text().startsWith(u"Ardanto - tb-default - "_s));
  QList<int> sections, errors;
  for (int i = 0; i < lines.size(); ++i) {
    if (lines[i].contains(u"Ardanto -"_s))
      sections.append(i);
    if (lines[i].contains(u"  *** "_s))
      errors.append(i);
  }
  // Each run opens and closes its section.
  ASSERT_EQ(sections.size(), 4) << viewer.Text().toStdString();
  ASSERT_EQ(errors.size(), 2) << viewer.Text().toStdString();
  for (const int line : sections) {
    ASSERT_TRUE(viewer.NextSection());
    EXPECT_EQ(Line(viewer), line);
  }
  EXPECT_FALSE(viewer.NextSection());
  EXPECT_EQ(viewer.StatusText(), u"No further sections!"_s);
  for (auto line = errors.crbegin(); line != errors.crend(); ++line) {
    ASSERT_TRUE(viewer.PreviousError());
    EXPECT_EQ(Line(viewer), *line);
    EXPECT_TRUE(lines[*line].contains(u"Source directory not found"_s)) << lines[*line].toStdString();
  }
  EXPECT_FALSE(viewer.PreviousError());
  EXPECT_EQ(viewer.StatusText(), u"No further errors!"_s);
}

TEST(TextViewer, MarkedAndUnmarkedFiles)
{
  TempDir dir;
  const QString utf16 = dir.Write(u"utf16.log"_s, Utf16(kLog, false));
  const QString ansi = dir.Write(u"ansi.log"_s, kLog.toLatin1());
  const QString utf8 = dir.Write(u"utf8.log"_s, kLog.toUtf8());
  EXPECT_EQ(TTextViewer(nullptr, LogOptions(utf16)).Text(), kLog);
  EXPECT_EQ(TTextViewer(nullptr, LogOptions(ansi)).Text(), kLog);

  TTextViewer viewer(nullptr, LogOptions(utf8));
  EXPECT_TRUE(viewer.Text().contains(u"GrÃ¼ÃŸe"_s)) << "no mark: the single-byte code page";
  viewer.SetCodePage(cpUtf8);
  EXPECT_EQ(viewer.Text(), kLog);
  EXPECT_EQ(viewer.CodePage(), cpUtf8);
}

TEST(TextViewer, UpdateOpenAndMissingFiles)
{
  TempDir dir;
  const QString file = dir.Write(u"a.log"_s, kLog.toLatin1());
  TTextViewer viewer(nullptr, LogOptions(file));
  QTextCursor cursor(viewer.Editor()->document()->findBlockByNumber(3));
  viewer.Editor()->setTextCursor(cursor);
  QFile append(file);
  ASSERT_TRUE(append.open(QIODevice::Append));
  append.write("Ardanto - tb-default - 11.03.2024 14:00:01\n");
  append.close();
  ASSERT_TRUE(viewer.Reload());
  EXPECT_TRUE(viewer.Text().endsWith(u"11.03.2024 14:00:01\n"_s));
  EXPECT_EQ(Line(viewer), 3) << "the cursor stays";

  TScopedResponders responders;
  QStringList messages;
  responders.Question = [&messages](TQuestion& q) {
    messages.append(q.Text);
    return dbOk;
  };
  const QString other = dir.Write(u"b.log"_s, "other text\n");
  TFileRequest asked;
  responders.File = [&](const TFileRequest& r) {
    asked = r;
    return other;
  };
  viewer.OpenClick();
  EXPECT_EQ(asked.Filter, u"Log files (*.log);;all (*)"_s);
  EXPECT_EQ(asked.Folder, dir.Path());
  EXPECT_EQ(viewer.Text(), u"other text\n"_s);
  EXPECT_EQ(viewer.FileName(), other);
  EXPECT_EQ(viewer.windowTitle(), u"Quillbox - Show log file ["_s + other + u']');

  EXPECT_FALSE(TTextViewer::Show(nullptr, LogOptions(dir.File(u"gone.log"_s))));
  EXPECT_EQ(messages, QStringList{u"File: \""_s + dir.File(u"gone.log"_s) + u"\" not found!"_s});
}

TEST(TextViewer, FontsAreFixedPitchFrom6To24Points)
{
  TTextViewer viewer(nullptr, TTextViewerOptions());
  viewer.SetViewerFont(QFont(u"DejaVu Sans Mono"_s, 30));
  EXPECT_EQ(viewer.ViewerFont().pointSize(), 24);
  viewer.SetViewerFont(QFont(u"DejaVu Sans Mono"_s, 4));
  EXPECT_EQ(viewer.ViewerFont().pointSize(), 6);
  EXPECT_TRUE(viewer.ViewerFont().fixedPitch());
}

TEST(TextViewer, PlaceAndFontAreKeptInTheEngineSettingsFile)
{
  TempDir dir;
  const QString log = dir.Write(u"a.log"_s, "text\n");
  const QString settings = dir.Write(u"Ardanto.ini"_s, "[Config]\r\nJobDir=/jobs\r\n");
  TTextViewerOptions options = LogOptions(log);
  options.SettingsFile = settings;
  {
    TTextViewer viewer(nullptr, options);
    viewer.resize(640, 480);
    QFont font(u"DejaVu Sans Mono"_s, 12);
    font.setBold(true);
    viewer.SetViewerFont(font);
    viewer.done(0);
  }
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(settings);
  EXPECT_EQ(ini.ReadInteger(u"View"_s, u"Width"_s, 0), 640);
  EXPECT_EQ(ini.ReadInteger(u"View"_s, u"Height"_s, 0), 480);
  EXPECT_EQ(ini.ReadInteger(u"View"_s, u"FontSize"_s, 0), 12);
  EXPECT_EQ(ini.ReadInteger(u"View"_s, u"FontStyle"_s, 0), 1);
  EXPECT_TRUE(ini.ValueExists(u"View"_s, u"Top"_s));
  EXPECT_TRUE(ini.ValueExists(u"View"_s, u"Left"_s));
  EXPECT_EQ(ini.ReadString(u"Config"_s, u"JobDir"_s, {}), u"/jobs"_s);

  TTextViewer again(nullptr, options);
  EXPECT_EQ(again.size(), QSize(640, 480));
  EXPECT_EQ(again.ViewerFont().pointSize(), 12);
  EXPECT_TRUE(again.ViewerFont().bold());

  // No settings file: none is made.
  options.SettingsFile = dir.File(u"none/Ardanto.ini"_s);
  TTextViewer(nullptr, options).done(0);
  EXPECT_FALSE(QFile::exists(options.SettingsFile));
}

TEST(TextViewer, PrinterSettingsOfTheEngineSettingsFile)
{
  TempDir dir;
  const TPrinterSettings defaults;
  EXPECT_EQ(ReadPrinterSettings(dir.File(u"missing.ini"_s)), defaults);
  EXPECT_EQ(defaults.FontName, u"Courier New"_s);
  EXPECT_EQ(defaults.LeftMargin, 200);

  const QString file =
      dir.Write(u"Ardanto.ini"_s, "[Printer]\r\nPrinter=Office\r\nTopMargin=100\r\nBottomMargin=120\r\n"
                                  "LeftMargin=250\r\nRightMargin=90\r\nFontName=DejaVu Sans Mono\r\n"
                                  "FontSize=8\r\nFontStyle=2\r\nOrientation=1\r\n");
  const TPrinterSettings s = ReadPrinterSettings(file);
  EXPECT_EQ(s.PrtName, u"Office"_s);
  EXPECT_EQ(s.TopMargin, 100);
  EXPECT_EQ(s.BottomMargin, 120);
  EXPECT_EQ(s.LeftMargin, 250);
  EXPECT_EQ(s.RightMargin, 90);
  EXPECT_EQ(s.FontName, u"DejaVu Sans Mono"_s);
  EXPECT_EQ(s.FontSize, 8);
  EXPECT_EQ(s.FontStyle, 2);
  EXPECT_EQ(s.Orientation, 1);
  EXPECT_EQ(ReadPrinterSettings(dir.Write(u"b.ini"_s, "[Printer]\r\nOrientation=3\r\n")).Orientation, 0);
}

TEST(TextViewer, PrintsTheLogToPdf)
{
  if (!HasProgram(u"pdftotext"_s) || !HasProgram(u"pdfinfo"_s))
    GTEST_SKIP() << "needs pdftotext and pdfinfo (poppler-utils)";
  TempDir dir;
  // Long enough for several pages.
  QString text = kLog;
  for (int i = 1; i <= 150; ++i)
    text += u"  copied file number %1\n"_s.arg(i);
  text += u"the last line\n"_s;

  const struct {
    int Orientation;
    bool Landscape;
  } cases[] = {{0, false}, {1, true}};
  for (const auto& c : cases) {
    const QString pdf = dir.File(u"log%1.pdf"_s.arg(c.Orientation));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    TPrinterSettings settings;
    settings.Orientation = c.Orientation;
    PreparePrinter(printer, settings);
    ASSERT_TRUE(PrintText(printer, text, settings));

    const ProcessResult extracted = test::Run(u"pdftotext"_s, {u"-layout"_s, pdf, u"-"_s});
    ASSERT_EQ(extracted.ExitCode, 0) << extracted.Output.toStdString();
    const QString out = QString::fromUtf8(extracted.Output);
    for (const QString& line : {u"Ardanto - tb-default - 09.03.2024 14:00:01"_s, u"*** Grüße.txt: No space left"_s,
                                u"copied file number 75"_s, u"the last line"_s})
      EXPECT_TRUE(out.contains(line)) << line.toStdString();
    EXPECT_GE(out.count(u'\f'), 2) << "more than one page";

    // The first word sits at the margins (20 mm left, 15 mm top: 56.7 and
    // 42.5 points) in a 10-point font.
    const QString boxes = QString::fromUtf8(test::Run(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}).Output);
    const QRegularExpressionMatch first =
        QRegularExpression(u"<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"[\\d.]+\" yMax=\"([\\d.]+)\">"_s)
            .match(boxes);
    ASSERT_TRUE(first.hasMatch()) << boxes.left(2000).toStdString();
    EXPECT_NEAR(first.captured(1).toDouble(), 56.7, 1.5);
    EXPECT_GE(first.captured(2).toDouble(), 42.0);
    EXPECT_LE(first.captured(3).toDouble(), 42.5 + 12.0);
    EXPECT_NEAR(first.captured(3).toDouble() - first.captured(2).toDouble(), 10.0, 3.0);

    const QString info = QString::fromUtf8(test::Run(u"pdfinfo"_s, {pdf}).Output);
    const QRegularExpressionMatch size = QRegularExpression(u"Page size:\\s+([\\d.]+) x ([\\d.]+)"_s).match(info);
    ASSERT_TRUE(size.hasMatch()) << info.toStdString();
    EXPECT_EQ(size.captured(1).toDouble() > size.captured(2).toDouble(), c.Landscape) << info.toStdString();
  }

  // Through the window's Print button, with the test as the printer dialog.
  const QString log = dir.Write(u"a.log"_s, "\xEF\xBB\xBF" + kLog.toUtf8());
  const QString pdf = dir.File(u"button.pdf"_s);
  SetPrintResponder([&pdf](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    return true;
  });
  TTextViewer viewer(nullptr, LogOptions(log));
  viewer.PrintClick();
  SetPrintResponder({});
  EXPECT_TRUE(QString::fromUtf8(test::Run(u"pdftotext"_s, {pdf, u"-"_s}).Output).contains(u"Backup incomplete!"_s));
}
