#include "portkeep/gui/ContentIcons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace portkeep {

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

struct TIconSpec {
  const char* Theme; // freedesktop icon name
  QColor Color;      // badge colour when the theme has none
  char Letter;
};

bool SpecFor(TContentType type, TIconSpec& spec)
{
  switch (type) {
  case ctImage:
    spec = {"image-x-generic", QColor(0x2e, 0x8b, 0x57), 'I'};
    return true;
  case ctDocument:
    spec = {"x-office-document", QColor(0x1e, 0x5a, 0xa8), 'D'};
    return true;
  case ctContact:
    spec = {"x-office-address-book", QColor(0x8a, 0x5a, 0x2b), 'C'};
    return true;
  case ctAudio:
    spec = {"audio-x-generic", QColor(0xc7, 0x3e, 0x1d), 'A'};
    return true;
  case ctVideo:
    spec = {"video-x-generic", QColor(0x6a, 0x1b, 0x9a), 'V'};
    return true;
  case ctTelevision:
    spec = {"video-display", QColor(0x45, 0x27, 0xa0), 'T'};
    return true;
  case ctPlayList:
    spec = {"audio-x-mpegurl", QColor(0xd8, 0x6f, 0x00), 'P'};
    return true;
  case ctMemo:
    spec = {"text-x-generic", QColor(0x60, 0x7d, 0x8b), 'M'};
    return true;
  case ctEmail:
    spec = {"mail-message", QColor(0x00, 0x79, 0x6b), 'E'};
    return true;
  case ctProgram:
    spec = {"application-x-executable", QColor(0x37, 0x47, 0x4f), 'X'};
    return true;
  case ctGenericFile:
    spec = {"text-x-preview", QColor(0x75, 0x75, 0x75), 'F'};
    return true;
  case ctCalendar:
    spec = {"x-office-calendar", QColor(0xc6, 0x28, 0x28), '7'};
    return true;
  case ctGenericMessage:
    spec = {"mail-unread", QColor(0x00, 0x89, 0x7b), 'G'};
    return true;
  case ctTypeCertificate:
    spec = {"application-pkix-cert", QColor(0xaf, 0x8f, 0x00), 'Z'};
    return true;
  case ctMediaCast:
    spec = {"application-rss+xml", QColor(0xef, 0x6c, 0x00), 'R'};
    return true;
  default:
    return false;
  }
}

QIcon Badge(const TIconSpec& spec)
{
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(spec.Color);
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPixelSize(11);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(QLatin1Char(spec.Letter)));
  return QIcon(pixmap);
}

} // namespace

QIcon ContentTypeIcon(TContentType type)
{
  static QHash<int, QIcon> cache;
  const auto it = cache.constFind(type);
  if (it != cache.cend())
    return *it;
  TIconSpec spec{};
  QIcon icon;
  if (SpecFor(type, spec))
    icon = QIcon::fromTheme(QLatin1StringView(spec.Theme), Badge(spec));
  cache.insert(type, icon);
  return icon;
}

} // namespace portkeep
