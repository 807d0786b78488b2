#pragma once

// Content types and object formats of device objects: the identifiers devices
// report, and the extensions and content types the folder backend derives
// from file names.

#include "devices/DevicePlatform.h"

#include <QString>

namespace ardanto {

enum TContentType {
  ctUnknown,
  ctFunctionalObject,
  ctFolder,
  ctImage,
  ctDocument,
  ctContact,
  ctContactGroup,
  ctAudio,
  ctVideo,
  ctTelevision,
  ctPlayList,
  ctMixedContentAlbum,
  ctAudioAlbum,
  ctImageAlbum,
  ctVideoAlbum,
  ctMemo,
  ctEmail,
  ctAppointment,
  ctTask,
  ctProgram,
  ctGenericFile,
  ctCalendar,
  ctGenericMessage,
  ctNetworkAssociation,
  ctTypeCertificate,
  ctWirelessProfile,
  ctMediaCast,
  ctSection,
  ctUnspecified,
};
constexpr int kContentTypeCount = ctUnspecified + 1;

enum TObjectFormat {
  ofUnknown,
  ofScript,
  ofExecutable,
  ofText,
  ofHtml,
  ofDigPrintOrder,
  ofAudioInterchange,
  ofWave,
  ofMp3,
  ofAvi,
  ofMpeg,
  ofAdvStream,
  ofExif,
  ofTiffEp,
  ofFlashPix,
  ofBmp,
  ofCamImg,
  ofGif,
  ofJpgInterchange,
  ofPtCloudData,
  ofPict,
  ofPng,
  ofTiff,
  ofTiffIt,
  ofJp2,
  ofJpX,
  ofWinImg,
  ofWma,
  ofWmv,
  ofWplPlaylist,
  ofM3uPlaylist,
  ofMplPlaylist,
  ofAsxPlaylist,
  ofPlsPlaylist,
  ofAbstractContactGroup,
  ofAbstractMediaCast,
  ofVCalendar,
  ofICalendar,
  ofAbstractContact,
  ofVCard2,
  ofVCard3,
  ofIcon,
  ofXml,
  ofAdvAudioCoding,
  ofAudible,
  ofFlac,
  ofOgg,
  ofMp4,
  ofM4a,
  ofMp2,
  ofMSWord,
  ofCompiledHtml,
  ofMSExel,
  ofMSPowerpoint,
  ofNetworkAssoc,
  ofX509Ceritficate,
  ofMSWfc,
  of3Gp,
  of3Gpa,
  ofPropsOnly,
};
constexpr int kObjectFormatCount = ofPropsOnly + 1;

const TGuid& ContentTypeGuid(TContentType type);
// The first content type with that identifier; ctUnknown for one not in the table.
TContentType ContentTypeFromGuid(const TGuid& guid);
// Whether objects of the content type are files.
bool ContentTypeIsFile(TContentType type);

const TGuid& ObjectFormatGuid(TObjectFormat format);
TObjectFormat ObjectFormatFromGuid(const TGuid& guid);
// File-name extension without the dot; empty where the format has none.
QString ObjectFormatExtension(TObjectFormat format);

// Format and content type of a file with that extension (any case, no dot):
// the format table searched from its end, plus common spellings the table
// lacks; ofUnknown and ctGenericFile for anything else.
struct TFileKind {
  TObjectFormat Format = ofUnknown;
  TContentType ContentType = ctGenericFile;
};
TFileKind FileKindFromExtension(QStringView extension);

} // namespace ardanto

namespace ardanto {

// A POSIX time as the local date-time that devices report.
TDateTime UnixTimeToLocalDateTime(std::int64_t seconds, std::int64_t nanoseconds = 0);

} // namespace ardanto
