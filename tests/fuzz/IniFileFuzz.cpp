// Arbitrary bytes as an INI file: whatever the reader makes of them must
// survive being saved and read again, in UTF-16LE through CreateForWrite and
// in the encoding the file was read with (the way SaveHistory saves), and a
// value holding line breaks and section headers must not forge keys or
// sections in the written file.

#include "FuzzSupport.h"

#include "common/IniFileUtils.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

using namespace ardanto;
using namespace ardanto::fuzz;
using namespace Qt::StringLiterals;

namespace {

const QString kUnicode = u"Unicode"_s;
const QString kProbeSection = u"Fuzz Probe"_s;
const QString kProbeKey = u"Value"_s;

std::unique_ptr<QTemporaryDir> gScratch;

struct TSectionSnapshot {
  QString Name;
  QStringList Lines;
  QStringList Keys;
  QStringList Values;
};

// What the public interface shows of a store: section names in order, and the
// lines, keys and values of the section each name finds.
std::vector<TSectionSnapshot> Snapshot(const TUnicodeIniFile& ini)
{
  std::vector<TSectionSnapshot> sections;
  for (const QString& name : ini.ReadSections()) {
    TSectionSnapshot s{name, ini.ReadSectionValues(name), ini.ReadSection(name), {}};
    for (const QString& key : s.Keys) {
      s.Values.append(ini.ReadString(name, key, u"\x1 missing"_s));
      // The number readers must cope with any text; their results are free.
      (void)ini.ReadInteger(name, key, 0);
      (void)ini.ReadInt64(name, key, 0);
      (void)ini.ReadBool(name, key, false);
    }
    sections.push_back(std::move(s));
  }
  return sections;
}

QString Describe(const std::vector<TSectionSnapshot>& sections)
{
  QString text;
  for (const TSectionSnapshot& s : sections)
    text += u'[' + Show(s.Name) + u"] "_s + Show(s.Lines) + u'\n';
  return text;
}

bool SameSections(const std::vector<TSectionSnapshot>& a, const std::vector<TSectionSnapshot>& b)
{
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].Name != b[i].Name || a[i].Lines != b[i].Lines || a[i].Keys != b[i].Keys || a[i].Values != b[i].Values)
      return false;
  }
  return true;
}

QString WithoutBlanks(const QString& text)
{
  QString kept;
  for (const QChar c : text) {
    if (c.unicode() >= 0x21)
      kept += c;
  }
  return kept;
}

bool SameName(const QString& a, const QString& b)
{
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

qsizetype KeyIndex(const QStringList& lines, const QString& key)
{
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const qsizetype eq = lines[i].indexOf(u'=');
    if (eq >= 0 && QStringView(lines[i]).left(eq).compare(key, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

bool HasSection(const std::vector<TSectionSnapshot>& sections, const QString& name)
{
  for (const TSectionSnapshot& s : sections) {
    if (SameName(s.Name, name))
      return true;
  }
  return false;
}

// A later section of the same name shows the first one's lines, so a change to
// a section shows under every one of its names.
template <typename TChange>
void ChangeSection(std::vector<TSectionSnapshot>& sections, const QString& name, TChange change)
{
  for (TSectionSnapshot& s : sections) {
    if (SameName(s.Name, name))
      change(s);
  }
}

// The store CreateForWrite plus WriteString(probe) must hold, in terms of what
// was read: "Unicode" gains "Encoding" when it lacks it (or is appended), the
// probe section is appended when new and its key replaced in place or
// appended. Returns the probe's line, whose value is checked on its own.
qsizetype ExpectAfterWrite(std::vector<TSectionSnapshot>& sections)
{
  if (!HasSection(sections, kUnicode)) {
    sections.push_back({kUnicode, {u"Encoding=UTF-16LE"_s}, {u"Encoding"_s}, {u"UTF-16LE"_s}});
  } else {
    ChangeSection(sections, kUnicode, [](TSectionSnapshot& s) {
      if (KeyIndex(s.Lines, u"Encoding"_s) >= 0)
        return;
      s.Lines.append(u"Encoding=UTF-16LE"_s);
      s.Keys.append(u"Encoding"_s);
      s.Values.append(u"UTF-16LE"_s);
    });
  }
  if (!HasSection(sections, kProbeSection))
    sections.push_back({kProbeSection, {}, {}, {}});
  qsizetype probeLine = -1;
  ChangeSection(sections, kProbeSection, [&probeLine](TSectionSnapshot& s) {
    probeLine = KeyIndex(s.Lines, kProbeKey);
    if (probeLine < 0) {
      probeLine = s.Lines.size();
      s.Lines.append(kProbeKey + u'=');
      s.Keys.append(kProbeKey);
      s.Values.append(QString());
      return;
    }
    // Keys are the lines that have "=", in the same order.
    qsizetype keyIndex = 0;
    for (qsizetype i = 0; i < probeLine; ++i)
      keyIndex += s.Lines[i].contains(u'=') ? 1 : 0;
    s.Keys[keyIndex] = kProbeKey;
  });
  return probeLine;
}

// Leaves the probe's line and the values its key gives out of a comparison.
void BlankProbe(std::vector<TSectionSnapshot>& sections, qsizetype probeLine)
{
  ChangeSection(sections, kProbeSection, [probeLine](TSectionSnapshot& s) {
    s.Lines[probeLine] = kProbeKey + u'=';
    for (qsizetype i = 0; i < s.Keys.size(); ++i) {
      if (SameName(s.Keys[i], kProbeKey))
        s.Values[i] = QString();
    }
  });
}

void CheckProbe(const TUnicodeIniFile& ini, qsizetype probeLine, const QString& injected)
{
  const QStringList lines = ini.ReadSectionValues(kProbeSection);
  FUZZ_CHECK(probeLine < lines.size(), u"probe line lost: "_s + Show(lines));
  const QString line = lines[probeLine];
  FUZZ_CHECK(line.startsWith(kProbeKey + u'='), u"probe line became "_s + Show(line));
  const QString value = line.mid(kProbeKey.size() + 1);
  FUZZ_CHECK(value == ini.ReadString(kProbeSection, kProbeKey, QString()), u"probe key found elsewhere"_s);
  // Line breaks may turn into blanks and blanks at the ends go, but nothing
  // else of the value may be lost or moved into other lines.
  FUZZ_CHECK(WithoutBlanks(value) == WithoutBlanks(injected),
             u"written "_s + Show(injected) + u"\nread back "_s + Show(value));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // Saving syncs the file to disk; in memory that costs nothing, and the
  // fuzzer gets through many more inputs.
  const QString base = QDir(u"/dev/shm"_s).exists() ? u"/dev/shm"_s : QDir::tempPath();
  gScratch = std::make_unique<QTemporaryDir>(base + u"/ardanto-fuzz-ini-XXXXXX"_s);
  if (!gScratch->isValid())
    Fail("a scratch folder", gScratch->errorString());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString input = gScratch->filePath(u"input.ini"_s);
  const QString same = gScratch->filePath(u"same-encoding.ini"_s);
  WriteBytes(input, bytes);

  std::vector<TSectionSnapshot> read;
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(input);
    read = Snapshot(ini);
    // Saved in the encoding it was read with, the file must read the same.
    ini.SetEncoding(ini.ReadEncoding());
    WriteBytes(same, ini.ToBytes());
  }
  {
    const TUnicodeIniFile again = TUnicodeIniFile::CreateForRead(same);
    const std::vector<TSectionSnapshot> reread = Snapshot(again);
    FUZZ_CHECK(SameSections(read, reread),
               u"read:\n"_s + Describe(read) + u"after saving as read:\n"_s + Describe(reread));
  }

  // The same bytes as text, line breaks and "[...]" lines included: a value
  // that tries to forge sections and keys.
  const QString injected = QString::fromUtf8(bytes.left(2048));
  {
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(input);
    ini.WriteString(kProbeSection, kProbeKey, injected);
    ini.UpdateFile();
  }
  std::vector<TSectionSnapshot> expected = read;
  const qsizetype probeLine = ExpectAfterWrite(expected);

  TUnicodeIniFile reloaded = TUnicodeIniFile::CreateForRead(input);
  FUZZ_CHECK(reloaded.ReadEncoding() == TIniEncoding::Utf16LE, u"a written file is UTF-16LE"_s);
  CheckProbe(reloaded, probeLine, injected);
  std::vector<TSectionSnapshot> after = Snapshot(reloaded);
  BlankProbe(expected, probeLine);
  BlankProbe(after, probeLine);
  FUZZ_CHECK(SameSections(expected, after),
             u"expected after save:\n"_s + Describe(expected) + u"reloaded:\n"_s + Describe(after));

  // Once read and written, a file is written again byte for byte the same
  // (the first save may still hold blanks of the probe that reading trims).
  reloaded.SetEncoding(TIniEncoding::Utf16LE);
  const QByteArray normal = reloaded.ToBytes();
  WriteBytes(same, normal);
  TUnicodeIniFile second = TUnicodeIniFile::CreateForRead(same);
  second.SetEncoding(TIniEncoding::Utf16LE);
  FUZZ_CHECK(second.ToBytes() == normal, u"a file read and written again changed:\n"_s + Describe(after));
  return 0;
}
