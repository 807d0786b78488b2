#pragma once

// The forms a backup keeps a file in, and reading them back. A file NAME is
// stored as NAME (plain), NAME.zip (a zip archive with the one entry NAME,
// deflated or stored, AES-encrypted or not), NAME.gz (a gzip file) or
// NAME.gze (a gzip file encrypted whole as one AES-256 stream).

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace ardanto {
class TWriteFileStream;
}

namespace engine {

enum TStoredForm : int { sfPlain, sfZip, sfGZip, sfGZipAes };

// ".zip", ".gz", ".gze" or nothing.
QString FormSuffix(TStoredForm form);

// A file found in a backup folder, looked into.
struct TStoredFile {
  QString Path;
  QString Name; // the original file's name: the stored name without its suffix
  TStoredForm Form = sfPlain;
  bool Encrypted = false;
  int AesStrength = 0; // 1 to 3 for AES-128, -192, -256
  // Where in the file the data are, and what the archive says of them.
  std::int64_t DataOffset = 0;
  std::int64_t DataSize = 0;
  std::int64_t Size = 0; // of the original; -1 when the form does not say
  std::uint32_t Crc = 0;
  bool CheckCrc = false;
  bool Deflated = false;
};

// Decides what a stored file is. By its name first: only NAME.zip, NAME.gz
// and NAME.gze can be anything but the file itself. Then by its content:
// NAME.zip must hold exactly one entry whose name is NAME; NAME.gz must have
// been written by the suite's gzip writer (its size field) for the name NAME.
// Anything else is a file of its own that kept its name (a zip archive of
// the user's, say), and is plain. A zip archive with one entry whose name is
// a path ending in NAME, or ".." or "." is refused: false with the reason.
bool InspectStoredFile(const QString& path, TStoredFile& file, QString& error);

// Whether password opens an encrypted stored file (its password check).
// False also when the file cannot be read; error tells which.
bool CheckStoredPassword(const TStoredFile& file, const QByteArray& password, QString& error);

// Decodes a stored file into out: decrypted, decompressed, checked against
// its CRC, its size and its authentication code. size receives the bytes
// written. False with the reason; what went to out is then to be discarded.
// writeError receives the errno of a failed write to out (0 for any other
// failure).
bool ExtractStoredFile(const TStoredFile& file, const QByteArray& password, ardanto::TWriteFileStream& out,
                       std::int64_t& size, QString& error, int* writeError = nullptr);

} // namespace engine
