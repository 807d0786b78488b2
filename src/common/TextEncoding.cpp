#include "common/TextEncoding.h"

#include <array>

namespace ardanto {

namespace {

// 0x80..0x9F of Windows-1252; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHighControl = {
  0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

QString DecodeWindows1252(QByteArrayView bytes)
{
  QString text(bytes.size(), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    *out++ = (b >= 0x80 && b <= 0x9F) ? QChar(kHighControl[b - 0x80]) : QChar(char16_t(b));
  }
  return text;
}

bool EncodeWindows1252(QStringView text, QByteArray& bytes)
{
  bytes.resize(text.size());
  char* out = bytes.data();
  for (const QChar ch : text) {
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      *out++ = static_cast<char>(u);
      continue;
    }
    int found = -1;
    for (int i = 0; i < 32; ++i) {
      if (kHighControl[i] == u) {
        found = i;
        break;
      }
    }
    if (found < 0)
      return false;
    *out++ = static_cast<char>(0x80 + found);
  }
  return true;
}

} // namespace ardanto
