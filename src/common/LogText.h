#pragma once

// Text that goes into a log line. Names come from devices, file systems and
// task files; a line break or another control character in one of them must
// not start a new line of its own (a forged "Backup finished" line, say).

#include <QString>

namespace ardanto {

// Control characters shown as their Unicode control pictures (U+2400 ...),
// the characters Unicode made for exactly this; line and paragraph
// separators as the newline symbol U+2424. Other text is unchanged.
QString LogSafeText(const QString& text);

} // namespace ardanto
