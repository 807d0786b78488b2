#include "common/IniFileUtils.h"

#include "common/FileUtils.h"
#include "common/TextEncoding.h"
#include "common/Translate.h"

#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <exception>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

const QString kUnicodeSection = u"Unicode"_s;
const QString kEncodingKey = u"Encoding"_s;
const QString kUtf16LEName = u"UTF-16LE"_s;

bool IsBlank(QChar c)
{
  return c.unicode() < 0x21;
}

QStringView TrimBlanks(QStringView text)
{
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && IsBlank(text[begin]))
    ++begin;
  while (end > begin && IsBlank(text[end - 1]))
    --end;
  return text.mid(begin, end - begin);
}

QString DecodeUtf16(QByteArrayView bytes, bool bigEndian)
{
  const qsizetype count = bytes.size() / 2; // an odd last byte is no character
  QString text(count, Qt::Uninitialized);
  const auto* in = reinterpret_cast<const uchar*>(bytes.data());
  QChar* out = text.data();
  for (qsizetype i = 0; i < count; ++i, in += 2)
    out[i] = QChar(bigEndian ? qFromBigEndian<quint16>(in) : qFromLittleEndian<quint16>(in));
  return text;
}

QByteArray EncodeUtf16(QStringView text, bool bigEndian)
{
  QByteArray bytes(2 + text.size() * 2, Qt::Uninitialized);
  auto* out = reinterpret_cast<uchar*>(bytes.data());
  const quint16 bom = 0xFEFF;
  bigEndian ? qToBigEndian(bom, out) : qToLittleEndian(bom, out);
  out += 2;
  for (const QChar c : text) {
    bigEndian ? qToBigEndian<quint16>(c.unicode(), out) : qToLittleEndian<quint16>(c.unicode(), out);
    out += 2;
  }
  return bytes;
}

// Key of a "key=value" line; a null view for a line without "=".
QStringView KeyOf(const QString& line)
{
  const qsizetype eq = line.indexOf(u'=');
  return eq < 0 ? QStringView() : QStringView(line).left(eq);
}

bool SameName(QStringView a, QStringView b)
{
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

qsizetype FindKey(const QStringList& lines, const QString& key)
{
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QStringView lineKey = KeyOf(lines[i]);
    if (!lineKey.isNull() && SameName(lineKey, key))
      return i;
  }
  return -1;
}

// Integer text: decimal, "$" hexadecimal, or "0x" hexadecimal when more than
// two characters. Hexadecimal values fill the type's bits as they stand, so
// "$FFFFFFFF" reads as -1 in 32 bits.
template <typename T> bool ParseIniInteger(const QString& text, T& value)
{
  using U = std::make_unsigned_t<T>;
  QStringView s(text);
  while (!s.isEmpty() && s.front() == u' ')
    s = s.mid(1);
  bool negative = false;
  if (!s.isEmpty() && (s.front() == u'-' || s.front() == u'+')) {
    negative = s.front() == u'-';
    s = s.mid(1);
  }
  bool hex = false;
  if (s.startsWith(u'$')) {
    hex = true;
    s = s.mid(1);
  } else if (s.size() > 2 && s.startsWith(u"0x"_s, Qt::CaseInsensitive)) {
    hex = true;
    s = s.mid(2);
  }
  if (s.isEmpty())
    return false;
  const unsigned base = hex ? 16 : 10;
  const U limit =
      hex ? std::numeric_limits<U>::max() : static_cast<U>(std::numeric_limits<T>::max()) + (negative ? 1u : 0u);
  U magnitude = 0;
  for (const QChar c : s) {
    int digit = -1;
    if (c >= u'0' && c <= u'9')
      digit = c.unicode() - u'0';
    else if (hex && c >= u'a' && c <= u'f')
      digit = c.unicode() - u'a' + 10;
    else if (hex && c >= u'A' && c <= u'F')
      digit = c.unicode() - u'A' + 10;
    if (digit < 0)
      return false;
    if (magnitude > (limit - static_cast<U>(digit)) / base)
      return false;
    magnitude = magnitude * base + static_cast<U>(digit);
  }
  value = static_cast<T>(negative ? U(0) - magnitude : magnitude);
  return true;
}

// A line break inside a key or value would split its line in the file and
// could forge sections; it is written as a blank.
QString OneLine(const QString& line)
{
  if (!line.contains(u'\r') && !line.contains(u'\n'))
    return line;
  QString copy = line;
  copy.replace(u'\r', u' ').replace(u'\n', u' ');
  return copy;
}

} // namespace

TUnicodeIniFile::TUnicodeIniFile(const QString& fileName, bool readOnly, bool clearEntries, TIniEncoding unmarked)
  : FFileName(fileName), FReadOnly(readOnly), FUnmarked(unmarked)
{
  Load();
  if (readOnly) {
    FEncoding = FReadEncoding;
    return;
  }
  if (clearEntries) {
    FSections.clear();
    SectionsChanged();
  }
  FEncoding = TIniEncoding::Utf16LE;
  TSection* unicode = FindSection(kUnicodeSection);
  if (unicode == nullptr)
    WriteString(kUnicodeSection, kEncodingKey, kUtf16LEName);
  else if (FindKey(unicode->Lines, kEncodingKey) < 0)
    unicode->Lines.append(kEncodingKey + u'=' + kUtf16LEName);
}

TUnicodeIniFile TUnicodeIniFile::CreateForRead(const QString& fileName)
{
  return TUnicodeIniFile(fileName, true, false);
}

TUnicodeIniFile TUnicodeIniFile::CreateForRead(const QString& fileName, TIniEncoding unmarked)
{
  return TUnicodeIniFile(fileName, true, false, unmarked);
}

TUnicodeIniFile TUnicodeIniFile::CreateForWrite(const QString& fileName, bool clearEntries)
{
  return TUnicodeIniFile(fileName, false, clearEntries);
}

TUnicodeIniFile::~TUnicodeIniFile()
{
  if (FReadOnly || !FUnsaved)
    return;
  try {
    UpdateFile();
  } catch (const std::exception& e) {
    qWarning("%s", e.what());
  }
}

void TUnicodeIniFile::Load()
{
  FSections.clear();
  SectionsChanged();
  FReadEncoding = TIniEncoding::Ansi;
  if (FFileName.isEmpty() || !QFileInfo::exists(FFileName))
    return;
  const QByteArray bytes = ReadWholeFile(FFileName);
  QString text;
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    FReadEncoding = TIniEncoding::Utf8;
    text = QString::fromUtf8(QByteArrayView(bytes).sliced(3));
  } else if (bytes.startsWith("\xFF\xFE")) {
    FReadEncoding = TIniEncoding::Utf16LE;
    text = DecodeUtf16(QByteArrayView(bytes).sliced(2), false);
  } else if (bytes.startsWith("\xFE\xFF")) {
    FReadEncoding = TIniEncoding::Utf16BE;
    text = DecodeUtf16(QByteArrayView(bytes).sliced(2), true);
  } else if (FUnmarked == TIniEncoding::Utf8NoMark) {
    FReadEncoding = TIniEncoding::Utf8NoMark;
    text = QString::fromUtf8(bytes);
  } else {
    text = DecodeWindows1252(bytes);
  }
  Parse(text);
}

void TUnicodeIniFile::Parse(const QString& text)
{
  TSection* current = nullptr;
  const qsizetype size = text.size();
  const QChar* data = text.constData();
  qsizetype start = 0;
  while (start <= size) {
    qsizetype end = start;
    while (end < size && data[end] != u'\r' && data[end] != u'\n')
      ++end;
    const QStringView line = TrimBlanks(QStringView(data + start, end - start));
    // CR LF is one line end; a lone CR or LF is one too.
    qsizetype next = end + 1;
    if (end < size && data[end] == u'\r' && next < size && data[next] == u'\n')
      ++next;
    start = next;

    if (line.isEmpty() || line.front() == u';')
      continue;
    if (line.front() == u'[' && line.back() == u']' && line.size() >= 2) {
      current = &AddSection(TrimBlanks(line.mid(1, line.size() - 2)).toString());
      continue;
    }
    if (current == nullptr)
      continue; // lines before the first section have no home
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
      current->Lines.append(line.toString());
    else
      current->Lines.append(TrimBlanks(line.left(eq)) + u'=' + TrimBlanks(line.mid(eq + 1)));
  }
}

void TUnicodeIniFile::SectionsChanged()
{
  FIndexValid = false;
  Changed();
}

const TUnicodeIniFile::TSection* TUnicodeIniFile::FindSection(const QString& name) const
{
  if (!FIndexValid) {
    FIndex.clear();
    FIndex.reserve(static_cast<qsizetype>(FSections.size()));
    for (std::size_t i = FSections.size(); i-- > 0;)
      FIndex.insert(FSections[i].Name.toCaseFolded(), i); // the first one wins
    FIndexValid = true;
  }
  const auto it = FIndex.constFind(name.toCaseFolded());
  return it == FIndex.cend() ? nullptr : &FSections[*it];
}

TUnicodeIniFile::TSection* TUnicodeIniFile::FindSection(const QString& name)
{
  return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

TUnicodeIniFile::TSection& TUnicodeIniFile::AddSection(const QString& name)
{
  const bool indexWasValid = FIndexValid;
  FSections.push_back(TSection{name, {}});
  Changed();
  // Appending never changes which section comes first, so the index only
  // needs the new name when it is new; vector growth keeps indexes valid.
  if (indexWasValid) {
    const QString folded = name.toCaseFolded();
    if (!FIndex.contains(folded))
      FIndex.insert(folded, FSections.size() - 1);
  }
  return FSections.back();
}

QString TUnicodeIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
  const TSection* s = FindSection(section);
  if (s == nullptr)
    return defaultValue;
  const qsizetype i = FindKey(s->Lines, key);
  if (i < 0)
    return defaultValue;
  const QString& line = s->Lines[i];
  return line.mid(line.indexOf(u'=') + 1);
}

void TUnicodeIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
  TSection* s = FindSection(section);
  if (s == nullptr)
    s = &AddSection(section);
  const qsizetype i = FindKey(s->Lines, key);
  if (i < 0)
    s->Lines.append(key + u'=' + value);
  else
    s->Lines[i] = key + u'=' + value;
  Changed();
}

std::int32_t TUnicodeIniFile::ReadInteger(const QString& section, const QString& key, std::int32_t defaultValue) const
{
  std::int32_t value = 0;
  return ParseIniInteger(ReadString(section, key, QString()), value) ? value : defaultValue;
}

void TUnicodeIniFile::WriteInteger(const QString& section, const QString& key, std::int32_t value)
{
  WriteString(section, key, QString::number(value));
}

std::int64_t TUnicodeIniFile::ReadInt64(const QString& section, const QString& key, std::int64_t defaultValue) const
{
  std::int64_t value = 0;
  return ParseIniInteger(ReadString(section, key, QString()), value) ? value : defaultValue;
}

void TUnicodeIniFile::WriteInt64(const QString& section, const QString& key, std::int64_t value)
{
  WriteString(section, key, QString::number(value));
}

bool TUnicodeIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TUnicodeIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
  WriteString(section, key, value ? u"1"_s : u"0"_s);
}

bool TUnicodeIniFile::SectionExists(const QString& section) const
{
  return FindSection(section) != nullptr;
}

bool TUnicodeIniFile::ValueExists(const QString& section, const QString& key) const
{
  const TSection* s = FindSection(section);
  return s != nullptr && FindKey(s->Lines, key) >= 0;
}

QStringList TUnicodeIniFile::ReadSection(const QString& section) const
{
  QStringList keys;
  if (const TSection* s = FindSection(section)) {
    for (const QString& line : s->Lines) {
      const QStringView key = KeyOf(line);
      if (!key.isNull())
        keys.append(key.toString());
    }
  }
  return keys;
}

QStringList TUnicodeIniFile::ReadSections() const
{
  QStringList names;
  names.reserve(static_cast<qsizetype>(FSections.size()));
  for (const TSection& s : FSections)
    names.append(s.Name);
  return names;
}

QStringList TUnicodeIniFile::ReadSectionValues(const QString& section) const
{
  const TSection* s = FindSection(section);
  return s == nullptr ? QStringList() : s->Lines;
}

void TUnicodeIniFile::EraseSection(const QString& section)
{
  const TSection* s = FindSection(section);
  if (s == nullptr)
    return;
  FSections.erase(FSections.begin() + (s - FSections.data()));
  SectionsChanged();
}

void TUnicodeIniFile::DeleteKey(const QString& section, const QString& key)
{
  TSection* s = FindSection(section);
  if (s == nullptr)
    return;
  const qsizetype i = FindKey(s->Lines, key);
  if (i >= 0) {
    s->Lines.removeAt(i);
    Changed();
  }
}

void TUnicodeIniFile::EraseSectionValues(const QString& section)
{
  if (TSection* s = FindSection(section)) {
    s->Lines.clear();
    Changed();
  }
}

void TUnicodeIniFile::WriteProgramInfo(const QString& key, const QString& value)
{
  WriteString(kUnicodeSection, key, value);
}

QByteArray TUnicodeIniFile::ToBytes() const
{
  QString text;
  for (const TSection& s : FSections) {
    text += u'[' + OneLine(s.Name) + u"]\r\n"_s;
    for (const QString& line : s.Lines)
      text += OneLine(line) + u"\r\n"_s;
    text += u"\r\n"_s;
  }
  switch (FEncoding) {
  case TIniEncoding::Utf16LE:
    return EncodeUtf16(text, false);
  case TIniEncoding::Utf16BE:
    return EncodeUtf16(text, true);
  case TIniEncoding::Utf8:
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
  case TIniEncoding::Utf8NoMark:
    return text.toUtf8();
  case TIniEncoding::Ansi: {
    QByteArray bytes;
    if (EncodeWindows1252(text, bytes))
      return bytes;
    // Text the single-byte code page cannot hold would be lost; such a file
    // is written in UTF-16LE instead, which every reader of ours understands.
    return EncodeUtf16(text, false);
  }
  }
  return QByteArray();
}

void TUnicodeIniFile::UpdateFile()
{
  const int error = FFileName.isEmpty() ? ENOENT : WriteFileAtomically(FFileName, ToBytes());
  if (error != 0)
    throw EWriteFileStreamError(FormatText(_("Error writing to \"%s\""), {FFileName}), error);
  FUnsaved = false;
}

bool ReadBoolFromIni(const QString& fileName, const QString& section, const QString& key, bool defaultValue)
{
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
  return ini.ReadBool(section, key, defaultValue);
}

void LoadHistory(const QString& fileName, const QString& section, const QString& prefix, bool decode, int count,
                 QStringList& list)
{
  const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
  if (!ini.SectionExists(section))
    return;
  const QString keyPrefix = prefix.isEmpty() ? u"History"_s : prefix;
  list.clear();
  for (int i = 0; i < count; ++i) {
    QString value = ini.ReadString(section, keyPrefix + QString::number(i), QString());
    if (value.isEmpty())
      continue;
    if (decode)
      value.replace(u'#', u'"');
    list.append(value);
  }
}

void SaveHistory(const QString& fileName, const QString& section, const QString& prefix, bool encode,
                 const QStringList& list, bool erase)
{
  TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(fileName);
  if (erase)
    ini.EraseSection(section);
  const QString keyPrefix = prefix.isEmpty() ? u"History"_s : prefix;
  const qsizetype n = std::min<qsizetype>(50, list.size());
  for (qsizetype i = 0; i < n; ++i) {
    QString value = list[i];
    if (encode)
      value.replace(u'"', u'#');
    ini.WriteString(section, keyPrefix + QString::number(i), value);
  }
  ini.UpdateFile(); // in the encoding the file was read with
}

void AddToHistory(QStringList& list, const QString& text, int maximum)
{
  if (text.isEmpty())
    return;
  for (qsizetype i = 0; i < list.size(); ++i) {
    if (list[i].compare(text, Qt::CaseInsensitive) == 0) {
      list.removeAt(i);
      list.prepend(text);
      return;
    }
  }
  if (maximum > 0) {
    while (list.size() >= maximum)
      list.removeLast();
  }
  list.prepend(text);
}

} // namespace ardanto
