#pragma once

// Single-byte code pages of files written by the suite's Windows peers.

#include <QByteArray>
#include <QString>

namespace ardanto {

// Windows-1252, the code page of settings and task files without a byte-order
// mark. The five bytes 1252 leaves undefined map to the control characters of
// the same value, as Windows itself does, so every byte round-trips.
QString DecodeWindows1252(QByteArrayView bytes);

// Encodes text as Windows-1252. Returns false (and leaves bytes unspecified)
// when a character has no place in the code page.
bool EncodeWindows1252(QStringView text, QByteArray& bytes);

// IBM code page 437, the classic code page of names in zip archives. Decoding
// follows the standard mapping (0x00..0x7F as ASCII); encoding returns false
// when a character has no place in the code page.
QString DecodeCodePage437(QByteArrayView bytes);
bool EncodeCodePage437(QStringView text, QByteArray& bytes);

} // namespace ardanto
