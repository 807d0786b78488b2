#include "devices/DeviceTypes.h"

#include <QHash>

#include <array>

namespace ardanto {

using namespace Qt::StringLiterals;

QString TGuid::ToString() const
{
  return QString::asprintf("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Data1, Data2, Data3, Data4[0],
                           Data4[1], Data4[2], Data4[3], Data4[4], Data4[5], Data4[6], Data4[7]);
}

namespace {

constexpr TGuid Guid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3, std::uint8_t b0, std::uint8_t b1,
                     std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5, std::uint8_t b6,
                     std::uint8_t b7)
{
  return TGuid{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};
}

// Most object formats are {XXXX0000-AE6C-4804-98BA-C57B46965FE7} with the
// format code in the first four digits.
constexpr TGuid FormatGuid(std::uint16_t code)
{
  return Guid(std::uint32_t(code) << 16, 0xAE6C, 0x4804, 0x98, 0xBA, 0xC5, 0x7B, 0x46, 0x96, 0x5F, 0xE7);
}

struct TContentTypeEntry {
  TGuid Id;
  bool IsFile;
};

constexpr std::array<TContentTypeEntry, kContentTypeCount> kContentTypes = {{
    {Guid(0x80E170D2, 0x1055, 0x4A3E, 0xB9, 0x52, 0x82, 0xCC, 0x4F, 0x8A, 0x86, 0x89), false}, // all
    {Guid(0x99ED0160, 0x17FF, 0x4C44, 0x9D, 0x98, 0x1D, 0x7A, 0x6F, 0x94, 0x19, 0x21), false}, // functional object
    {Guid(0x27E2E392, 0xA111, 0x48E0, 0xAB, 0x0C, 0xE1, 0x77, 0x05, 0xA0, 0x5F, 0x85), false}, // folder
    {Guid(0xEF2107D5, 0xA52A, 0x4243, 0xA2, 0x6B, 0x62, 0xD4, 0x17, 0x6D, 0x76, 0x03), true},  // image
    {Guid(0x680ADF52, 0x950A, 0x4041, 0x9B, 0x41, 0x65, 0xE3, 0x93, 0x64, 0x81, 0x55), true},  // document
    {Guid(0xEABA8313, 0x4525, 0x4707, 0x9F, 0x0E, 0x87, 0xC6, 0x80, 0x8E, 0x94, 0x35), true},  // contact
    {Guid(0x346B8932, 0x4C36, 0x40D8, 0x94, 0x15, 0x18, 0x28, 0x29, 0x1F, 0x9D, 0xE9), false}, // contact group
    {Guid(0x4AD2C85E, 0x5E2D, 0x45E5, 0x88, 0x64, 0x4F, 0x22, 0x9E, 0x3C, 0x6C, 0xF0), true},  // audio
    {Guid(0x9261B03C, 0x3D78, 0x4519, 0x85, 0xE3, 0x02, 0xC5, 0xE1, 0xF5, 0x0B, 0xB9), true},  // video
    {Guid(0x60A169CF, 0xF2AE, 0x4E21, 0x93, 0x75, 0x96, 0x77, 0xF1, 0x1C, 0x1C, 0x6E), true},  // television
    {Guid(0x1A33F7E4, 0xAF13, 0x48F5, 0x99, 0x4E, 0x77, 0x36, 0x9D, 0xFE, 0x04, 0xA3), true},  // playlist
    {Guid(0x00F0C3AC, 0xA593, 0x49AC, 0x92, 0x19, 0x24, 0xAB, 0xCA, 0x5A, 0x25, 0x63), false}, // mixed content album
    {Guid(0xAA18737E, 0x5009, 0x48FA, 0xAE, 0x21, 0x85, 0xF2, 0x43, 0x83, 0xB4, 0xE6), false}, // audio album
    {Guid(0x75793148, 0x15F5, 0x4A30, 0xA8, 0x13, 0x54, 0xED, 0x8A, 0x37, 0xE2, 0x26), false}, // image album
    {Guid(0x012B0DB7, 0xD4C1, 0x45D6, 0xB0, 0x81, 0x94, 0xB8, 0x77, 0x79, 0x61, 0x4F), false}, // video album
    {Guid(0x9CD20ECF, 0x3B50, 0x414F, 0xA6, 0x41, 0xE4, 0x73, 0xFF, 0xE4, 0x57, 0x51), true},  // memo
    {Guid(0x8038044A, 0x7E51, 0x4F8F, 0x88, 0x3D, 0x1D, 0x06, 0x23, 0xD1, 0x45, 0x33), true},  // email
    {Guid(0x0FED060E, 0x8793, 0x4B1E, 0x90, 0xC9, 0x48, 0xAC, 0x38, 0x9A, 0xC6, 0x31), false}, // appointment
    {Guid(0x63252F2C, 0x887F, 0x4CB6, 0xB1, 0xAC, 0xD2, 0x98, 0x55, 0xDC, 0xEF, 0x6C), false}, // task
    {Guid(0xD269F96A, 0x247C, 0x4BFF, 0x98, 0xFB, 0x97, 0xF3, 0xC4, 0x92, 0x20, 0xE6), true},  // program
    {Guid(0x0085E0A6, 0x8D34, 0x45D7, 0xBC, 0x5C, 0x44, 0x7E, 0x59, 0xC7, 0x3D, 0x48), true},  // generic file
    {Guid(0xA1FD5967, 0x6023, 0x49A0, 0x9D, 0xF1, 0xF8, 0x06, 0x0B, 0xE7, 0x51, 0xB0), true},  // calendar
    {Guid(0xE80EAAF8, 0xB2DB, 0x4133, 0xB6, 0x7E, 0x1B, 0xEF, 0x4B, 0x4A, 0x6E, 0x5F), true},  // generic message
    {Guid(0x031DA7EE, 0x18C8, 0x4205, 0x84, 0x7E, 0x89, 0xA1, 0x12, 0x61, 0xD0, 0xF3), false}, // network association
    {Guid(0xDC3876E8, 0xA948, 0x4060, 0x90, 0x50, 0xCB, 0xD7, 0x7E, 0x8A, 0x3D, 0x87), true},  // certificate
    {Guid(0x0BAC070A, 0x9F5F, 0x4DA4, 0xA8, 0xF6, 0x3D, 0xE4, 0x4D, 0x68, 0xFD, 0x6C), false}, // wireless profile
    {Guid(0x5E88B3CC, 0x3E65, 0x4E62, 0xBF, 0xFF, 0x22, 0x94, 0x95, 0x25, 0x3A, 0xB0), true},  // media cast
    {Guid(0x821089F5, 0x1D91, 0x4DC9, 0xBE, 0x3C, 0xBB, 0xB1, 0xB3, 0x5B, 0x18, 0xCE), false}, // section
    {Guid(0x28D8D31E, 0x249C, 0x454E, 0xAA, 0xBC, 0x34, 0x88, 0x31, 0x68, 0xE6, 0x34), true},  // unspecified
}};

struct TFormatEntry {
  TGuid Id;
  const char* Extension;
  TContentType ContentType; // what a file with this format holds
};

constexpr std::array<TFormatEntry, kObjectFormatCount> kFormats = {{
    {FormatGuid(0x3000), "", ctGenericFile},     // ofUnknown
    {FormatGuid(0x3002), "txt", ctDocument},     // ofScript
    {FormatGuid(0x3003), "", ctProgram},         // ofExecutable
    {FormatGuid(0x3004), "txt", ctDocument},     // ofText
    {FormatGuid(0x3005), "html", ctDocument},    // ofHtml
    {FormatGuid(0x3006), "dpof", ctGenericFile}, // ofDigPrintOrder
    {FormatGuid(0x3007), "aiff", ctAudio},       // ofAudioInterchange
    {FormatGuid(0x3008), "wav", ctAudio},        // ofWave
    {FormatGuid(0x3009), "mp3", ctAudio},        // ofMp3
    {FormatGuid(0x300A), "avi", ctVideo},        // ofAvi
    {FormatGuid(0x300B), "mpeg", ctVideo},       // ofMpeg
    {FormatGuid(0x300C), "asf", ctVideo},        // ofAdvStream
    {FormatGuid(0x3801), "jpg", ctImage},        // ofExif
    {FormatGuid(0x3802), "tiffep", ctImage},     // ofTiffEp
    {FormatGuid(0x3803), "flashpix", ctImage},   // ofFlashPix
    {FormatGuid(0x3804), "bmp", ctImage},        // ofBmp
    {FormatGuid(0x3805), "ciff", ctImage},       // ofCamImg
    {FormatGuid(0x3807), "gif", ctImage},        // ofGif
    {FormatGuid(0x3808), "jfif", ctImage},       // ofJpgInterchange
    {FormatGuid(0x3809), "pcd", ctImage},        // ofPtCloudData
    {FormatGuid(0x380A), "pict", ctImage},       // ofPict
    {FormatGuid(0x380B), "png", ctImage},        // ofPng
    {FormatGuid(0x380D), "tiff", ctImage},       // ofTiff
    {FormatGuid(0x380E), "tiffit", ctImage},     // ofTiffIt
    {FormatGuid(0x380F), "jp2", ctImage},        // ofJp2
    {FormatGuid(0x3810), "jpx", ctImage},        // ofJpX
    {FormatGuid(0xB881), "wim", ctImage},        // ofWinImg
    {FormatGuid(0xB901), "wma", ctAudio},        // ofWma
    {FormatGuid(0xB981), "wmv", ctVideo},        // ofWmv
    {FormatGuid(0xBA10), "wpl", ctPlayList},     // ofWplPlaylist
    {FormatGuid(0xBA11), "m3u", ctPlayList},     // ofM3uPlaylist
    {FormatGuid(0xBA12), "mpl", ctPlayList},     // ofMplPlaylist
    {FormatGuid(0xBA13), "asx", ctPlayList},     // ofAsxPlaylist
    {FormatGuid(0xBA14), "pls", ctPlayList},     // ofPlsPlaylist
    {FormatGuid(0xBA06), "", ctContactGroup},    // ofAbstractContactGroup
    {FormatGuid(0xBA0B), "", ctMediaCast},       // ofAbstractMediaCast
    {FormatGuid(0xBE02), "vcs", ctCalendar},     // ofVCalendar
    {FormatGuid(0xBE03), "ics", ctCalendar},     // ofICalendar
    {FormatGuid(0xBB81), "", ctContact},         // ofAbstractContact
    {FormatGuid(0xBB82), "vcf", ctContact},      // ofVCard2
    {FormatGuid(0xBB83), "vcf", ctContact},      // ofVCard3
    {Guid(0x077232ED, 0x102C, 0x4638, 0x9C, 0x22, 0x83, 0xF1, 0x42, 0xBF, 0xC8, 0x22), "ico", ctImage}, // ofIcon
    {FormatGuid(0xBA82), "xml", ctDocument},                                                            // ofXml
    {FormatGuid(0xB903), "aac", ctAudio},  // ofAdvAudioCoding
    {FormatGuid(0xB904), "aax", ctAudio},  // ofAudible
    {FormatGuid(0xB906), "flac", ctAudio}, // ofFlac
    {FormatGuid(0xB902), "ogg", ctAudio},  // ofOgg
    {FormatGuid(0xB982), "mp4", ctVideo},  // ofMp4
    {Guid(0x30ABA7AC, 0x6FFD, 0x4C23, 0xA3, 0x59, 0x3E, 0x9B, 0x52, 0xF3, 0xF1, 0xC8), "m4a", ctAudio}, // ofM4a
    {FormatGuid(0xB983), "mp2", ctVideo},                                                               // ofMp2
    {FormatGuid(0xBA83), "doc", ctDocument},                                                            // ofMSWord
    {FormatGuid(0xBA84), "chm", ctDocument},         // ofCompiledHtml
    {FormatGuid(0xBA85), "xls", ctDocument},         // ofMSExel
    {FormatGuid(0xBA86), "pps", ctDocument},         // ofMSPowerpoint
    {FormatGuid(0xB102), "", ctNetworkAssociation},  // ofNetworkAssoc
    {FormatGuid(0xB103), "x509", ctTypeCertificate}, // ofX509Ceritficate
    {FormatGuid(0xB104), "wfc", ctGenericFile},      // ofMSWfc
    {FormatGuid(0xB984), "3gp", ctVideo},            // of3Gp
    {Guid(0xE5172730, 0xF971, 0x41EF, 0xA1, 0x0B, 0x22, 0x71, 0xA0, 0x01, 0x9D, 0x7A), "gpa", ctAudio}, // of3Gpa
    {FormatGuid(0x3001), "", ctFolder},                                                                 // ofPropsOnly
}};

// Spellings of common files that the format table does not name.
struct TExtraExtension {
  const char* Extension;
  TObjectFormat Format;
  TContentType ContentType;
};

constexpr TExtraExtension kExtraExtensions[] = {
    {"jpeg", ofExif, ctImage},       {"jpe", ofExif, ctImage},        {"tif", ofTiff, ctImage},
    {"htm", ofHtml, ctDocument},     {"mpg", ofMpeg, ctVideo},        {"aif", ofAudioInterchange, ctAudio},
    {"heic", ofUnknown, ctImage},    {"heif", ofUnknown, ctImage},    {"webp", ofUnknown, ctImage},
    {"dng", ofUnknown, ctImage},     {"cr2", ofUnknown, ctImage},     {"cr3", ofUnknown, ctImage},
    {"nef", ofUnknown, ctImage},     {"arw", ofUnknown, ctImage},     {"raw", ofUnknown, ctImage},
    {"mov", ofUnknown, ctVideo},     {"mkv", ofUnknown, ctVideo},     {"webm", ofUnknown, ctVideo},
    {"m4v", ofMp4, ctVideo},         {"3gpp", of3Gp, ctVideo},        {"opus", ofUnknown, ctAudio},
    {"m4b", ofM4a, ctAudio},         {"pdf", ofUnknown, ctDocument},  {"rtf", ofUnknown, ctDocument},
    {"odt", ofUnknown, ctDocument},  {"ods", ofUnknown, ctDocument},  {"docx", ofUnknown, ctDocument},
    {"xlsx", ofUnknown, ctDocument}, {"pptx", ofUnknown, ctDocument}, {"ppt", ofMSPowerpoint, ctDocument},
    {"csv", ofUnknown, ctDocument},  {"md", ofText, ctDocument},      {"ical", ofICalendar, ctCalendar},
};

const QHash<QString, TFileKind>& ExtensionTable()
{
  static const QHash<QString, TFileKind> table = [] {
    QHash<QString, TFileKind> result;
    for (const auto& extra : kExtraExtensions)
      result.insert(QString::fromLatin1(extra.Extension), TFileKind{extra.Format, extra.ContentType});
    // From the end, so that of two formats with one extension the later wins
    // (txt: plain text rather than script; vcf: vCard 3).
    for (int i = kObjectFormatCount - 1; i >= 0; --i) {
      const auto& entry = kFormats[static_cast<std::size_t>(i)];
      const QString ext = QString::fromLatin1(entry.Extension);
      if (!ext.isEmpty() && !result.contains(ext))
        result.insert(ext, TFileKind{static_cast<TObjectFormat>(i), entry.ContentType});
    }
    return result;
  }();
  return table;
}

} // namespace

const TGuid& ContentTypeGuid(TContentType type)
{
  return kContentTypes[static_cast<std::size_t>(type)].Id;
}

TContentType ContentTypeFromGuid(const TGuid& guid)
{
  for (std::size_t i = 0; i < kContentTypes.size(); ++i)
    if (kContentTypes[i].Id == guid)
      return static_cast<TContentType>(i);
  return ctUnknown;
}

bool ContentTypeIsFile(TContentType type)
{
  return kContentTypes[static_cast<std::size_t>(type)].IsFile;
}

const TGuid& ObjectFormatGuid(TObjectFormat format)
{
  return kFormats[static_cast<std::size_t>(format)].Id;
}

TObjectFormat ObjectFormatFromGuid(const TGuid& guid)
{
  for (std::size_t i = 0; i < kFormats.size(); ++i)
    if (kFormats[i].Id == guid)
      return static_cast<TObjectFormat>(i);
  return ofUnknown;
}

QString ObjectFormatExtension(TObjectFormat format)
{
  return QString::fromLatin1(kFormats[static_cast<std::size_t>(format)].Extension);
}

TFileKind FileKindFromExtension(QStringView extension)
{
  if (extension.isEmpty())
    return {};
  const auto& table = ExtensionTable();
  const auto it = table.constFind(extension.toString().toLower());
  return it == table.cend() ? TFileKind{} : *it;
}

} // namespace ardanto

#include <ctime>

namespace ardanto {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

} // namespace

TDateTime UnixTimeToLocalDateTime(std::int64_t seconds, std::int64_t nanoseconds)
{
  // localtime_r directly: a device tree asks this for every object.
  const auto t = static_cast<time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr)
    return 0;
  const std::int64_t days = DaysFromCivil(std::int64_t(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday) + 25569;
  const double secondOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + nanoseconds / 1e9;
  return static_cast<double>(days) + secondOfDay / 86400.0;
}

} // namespace ardanto
