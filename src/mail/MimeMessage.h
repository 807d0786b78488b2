#pragma once

// The MIME message of the mail sender: header encoding (RFC 2047 words,
// RFC 2231 parameters), text bodies with CRLF lines, and file attachments
// that are streamed from disk while the message is written.

#include "common/Errors.h"
#include "mail/mMailer10.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace ardanto::mail {

// Input the message cannot be built from (an unreadable attachment, an
// invalid address or content type). The message says what and why.
class EMailBuildError : public EArdantoError {
public:
  using EArdantoError::EArdantoError;
};

struct TMailContent {
  TEmailAddress From;
  TEmailAddressList To;
  TEmailAddressList Cc;
  QString Subject;
  TContentType ContentType = ctAscii;
  QStringList Body;
  QStringList HTMLBody;
  QStringList Attachments;
  TMessagePriority Priority = mpNormal;
  QList<std::pair<QString, QString>> ExtraHeaders;
};

// Header helpers. Results are ASCII, folded with CRLF + blank where long.
std::string EncodeUnstructured(const QString& text, std::size_t nameLength);
std::string FormatAddressList(const TEmailAddressList& list);
std::string EncodeParameter(const std::string& name, const QString& value);
bool IsValidHeaderName(const QString& name);
// An address that can go into a header and an SMTP command as it is.
bool IsValidAddress(const QString& address);

class TMimeMessage {
public:
  // Checks the input and reads what is needed of the attachments (their
  // existence, and the text ones to choose their transfer encoding).
  // Raises EMailBuildError.
  explicit TMimeMessage(const TMailContent& content);

  // Writes the whole message. Attachments are read again here; a read error
  // raises EMailBuildError. Writing stops as soon as out fails.
  // The same object writes the same bytes every time.
  void Write(std::ostream& out) const;
  // Whether any part goes out with 8-bit transfer encoding.
  bool HasEightBit() const { return FEightBit; }

private:
  enum class TSource { Memory, Base64File, TextFile };
  struct TEntity {
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Content;
    TSource Source = TSource::Memory;
    QString FilePath;
    std::string Boundary;
    std::vector<TEntity> Children;
  };

  TEntity TextEntity(const QStringList& lines, const char* subtype, bool preferLatin1);
  TEntity FileEntity(const QString& entry);
  // Gives multiparts their content type; true when the entity holds 8-bit data.
  static bool Finish(TEntity& entity, const char* multipartType);
  void WriteBody(std::ostream& out, const TEntity& entity) const;
  void WriteFile(std::ostream& out, const TEntity& entity) const;

  std::vector<std::pair<std::string, std::string>> FHeaders;
  TEntity FRoot;
  bool FEightBit = false;
};

} // namespace ardanto::mail
