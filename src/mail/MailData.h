#pragma once

// The report-mail settings of a backup task, and how a task file keeps them
// in a section of its own. The engine sends the mail from that section.

#include "mail/mMailer10.h"

#include <QString>

namespace ardanto {

class TUnicodeIniFile;

// When a mail goes out (the task's mail mode), and when the log is attached.
enum TMailMode : int { mmNone = 0, mmAlways = 1, mmError = 2 };

// How the attached log is packed.
enum TZipMode : int { zmNo = 0, zmYes = 1, zmEncrypt = 2 };

struct TMailData {
  QString SMTP;
  QString Username;
  QString Password; // in clear in memory; protected in the file
  QString Sender;   // an address, or a display name when it holds no "@"
  QString ReplyTo;
  // Entries joined with ","; "#" in front: only on errors, "*": never.
  QString Recipients;
  QString Subject;     // may hold placeholders the engine expands
  QString Attachments; // comma text of file names
  // Password of the encrypted zip of the log. Protected strings are 8-bit
  // texts, so it is kept to what Windows-1252 can hold, like Password.
  QString CryptKey;
  int Port = 25;
  TSecTransfer SecureMode = stNone;
  TMailMode LogMode = mmNone;
  TZipMode ZipMode = zmNo;

  bool operator==(const TMailData&) const = default;
};

// Most attachment keys read from a section.
constexpr int kMaxMailAttachments = 10;

// The values of a new task.
void ResetMailData(TMailData& data);

// Protected strings hold at most this many characters.
constexpr int kMaxPasswordLength = 64;

// Whether a password can be kept as a protected string: at most 64
// characters, each one Windows-1252 has a place for. Anything else would be
// cut or changed on the way and no longer be the password the user typed.
// False with the reason in reason (when given).
bool CanProtectPassword(const QString& password, QString* reason = nullptr);
// The stored form of a password (BuiltInKey, length 64, Ascii85); empty stays
// empty. Raises EArdantoError when the password cannot be kept (see above).
QString ProtectPassword(const QString& password);
// The password back; an empty text for a damaged or foreign value.
QString UnprotectPassword(const QString& stored);

// The two secrets of a record in their stored forms. Made before a file is
// touched, so that a password that cannot be kept changes nothing.
struct TMailSecrets {
  QString Password;
  QString CryptKey;
};
// Raises EArdantoError naming the secret that cannot be kept.
TMailSecrets ProtectMailSecrets(const TMailData& data);

// Reads the section over a reset record; missing keys take the reset values.
// An old "SendLog" counts as "attach always", "AsZip" 2 without a key as a
// plain zip, and at most ten "AttachmentN" keys are read.
TMailData ReadMailData(const TUnicodeIniFile& ini, const QString& section);

// Empties the section (it keeps its place in the file) and writes every key.
// Raises EArdantoError, before anything is changed, when a secret cannot be
// kept.
void WriteMailData(TUnicodeIniFile& ini, const QString& section, const TMailData& data);
// The same with secrets protected beforehand; never raises.
void WriteMailData(TUnicodeIniFile& ini, const QString& section, const TMailData& data, const TMailSecrets& secrets);

} // namespace ardanto
