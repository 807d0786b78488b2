#pragma once

// The INI store of every settings file and task file of the suite.
//
// The whole file is read when the object is made. An object made for writing
// is written back whole, as UTF-16LE with a byte-order mark and CR LF line
// ends, by UpdateFile() or, failing that, when it is destroyed. Writing goes to
// a temporary file in the same folder that replaces the old file only once it
// is complete, so a failure never costs the user the file they had.

#include <QString>
#include <QStringList>

#include <QHash>

#include <cstdint>
#include <vector>

namespace ardanto {

// Utf8NoMark is UTF-8 without a byte-order mark, the form in which Thunderbird
// keeps its own INI files.
enum class TIniEncoding { Ansi, Utf8, Utf16LE, Utf16BE, Utf8NoMark };

class TUnicodeIniFile {
public:
  // Loads the file; a missing file gives an empty store. Changes are never saved.
  static TUnicodeIniFile CreateForRead(const QString& fileName);
  // The same, with text that has no byte-order mark read as unmarked (Ansi or
  // Utf8NoMark) instead of Ansi.
  static TUnicodeIniFile CreateForRead(const QString& fileName, TIniEncoding unmarked);
  // Loads the file (unless clearEntries) and sees to [Unicode] Encoding.
  static TUnicodeIniFile CreateForWrite(const QString& fileName, bool clearEntries = false);

  TUnicodeIniFile(const TUnicodeIniFile&) = delete;
  TUnicodeIniFile& operator=(const TUnicodeIniFile&) = delete;
  TUnicodeIniFile(TUnicodeIniFile&&) = delete;
  TUnicodeIniFile& operator=(TUnicodeIniFile&&) = delete;
  // Writes a writable store that UpdateFile() has not written since its last
  // change. Errors cannot leave a destructor, so code that must know whether
  // the file reached the disk calls UpdateFile() first.
  ~TUnicodeIniFile();

  const QString& FileName() const { return FFileName; }
  bool ReadOnly() const { return FReadOnly; }
  // The encoding the file had when it was read (Ansi for a missing file).
  TIniEncoding ReadEncoding() const { return FReadEncoding; }
  // The encoding UpdateFile() writes.
  TIniEncoding Encoding() const { return FEncoding; }
  void SetEncoding(TIniEncoding encoding) { FEncoding = encoding; }

  QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
  void WriteString(const QString& section, const QString& key, const QString& value);
  std::int32_t ReadInteger(const QString& section, const QString& key, std::int32_t defaultValue) const;
  void WriteInteger(const QString& section, const QString& key, std::int32_t value);
  std::int64_t ReadInt64(const QString& section, const QString& key, std::int64_t defaultValue) const;
  void WriteInt64(const QString& section, const QString& key, std::int64_t value);
  bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
  void WriteBool(const QString& section, const QString& key, bool value);

  bool SectionExists(const QString& section) const;
  bool ValueExists(const QString& section, const QString& key) const;
  QStringList ReadSection(const QString& section) const;       // keys, in order
  QStringList ReadSections() const;                            // section names, in order
  QStringList ReadSectionValues(const QString& section) const; // lines, in order

  void EraseSection(const QString& section);
  void DeleteKey(const QString& section, const QString& key);
  void EraseSectionValues(const QString& section);

  // Records program name and version in the section "Unicode".
  void WriteProgramInfo(const QString& key, const QString& value);

  // Writes the whole store now. Raises EWriteFileStreamError ("Error writing
  // to ...") when the file cannot be written; the old file is then unchanged.
  void UpdateFile();

  // The file's content as UpdateFile() would write it.
  QByteArray ToBytes() const;

private:
  struct TSection {
    QString Name;
    QStringList Lines;
  };

  TUnicodeIniFile(const QString& fileName, bool readOnly, bool clearEntries,
                  TIniEncoding unmarked = TIniEncoding::Ansi);
  void Load();
  void Parse(const QString& text);
  const TSection* FindSection(const QString& name) const;
  TSection* FindSection(const QString& name);
  TSection& AddSection(const QString& name);
  void SectionsChanged();
  void Changed() { FUnsaved = true; }

  QString FFileName;
  bool FReadOnly = true;
  bool FUnsaved = true;
  TIniEncoding FReadEncoding = TIniEncoding::Ansi;
  TIniEncoding FUnmarked = TIniEncoding::Ansi;
  TIniEncoding FEncoding = TIniEncoding::Utf16LE;
  std::vector<TSection> FSections;
  // First section of each case-folded name; rebuilt after sections go away.
  mutable QHash<QString, std::size_t> FIndex;
  mutable bool FIndexValid = false;
};

// Reads one boolean from a file in passing.
bool ReadBoolFromIni(const QString& fileName, const QString& section, const QString& key, bool defaultValue);

// History lists of input fields, kept as prefix0, prefix1, ... in a section of
// their own. With decode, "#" in a stored entry stands for a double quote.
void LoadHistory(const QString& fileName, const QString& section, const QString& prefix, bool decode, int count,
                 QStringList& list);
// Writes at most 50 entries and saves the file at once in the encoding it was
// read with. Raises EWriteFileStreamError when the file cannot be written.
void SaveHistory(const QString& fileName, const QString& section, const QString& prefix, bool encode,
                 const QStringList& list, bool erase);
// Puts text at the top of the list (moving an equal entry up), keeping at most
// maximum entries. An empty text is ignored.
void AddToHistory(QStringList& list, const QString& text, int maximum);

} // namespace ardanto
