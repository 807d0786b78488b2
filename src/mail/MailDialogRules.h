#pragma once

// The rules of the "E-Mail configuration" dialog without its widgets: the
// fields and their stored forms, the recipient and attachment lists, the TLS
// choice and the checks of OK and Test. The window only shows what these say.

#include "mail/MailData.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ardanto {

// What a recipient receives: every report (checked), reports of failed runs
// only (the third state) or none (unchecked).
enum TRecipientState : int { rsAlways = 0, rsOnError = 1, rsNever = 2 };

struct TMailRecipient {
  QString Address;
  TRecipientState State = rsAlways;
  bool operator==(const TMailRecipient&) const = default;
};
using TMailRecipients = QList<TMailRecipient>;

// "a@b,#c@d,*e@f": one entry per comma piece, "#" for errors only, "*" for
// never. Empty pieces are skipped.
TMailRecipients DecodeRecipients(const QString& stored);
QString EncodeRecipients(const TMailRecipients& recipients);

// Why an address cannot be kept in the stored list (empty when it can): a
// comma would split it, a leading "#" or "*" would be read as its state.
QString RecipientProblem(const QString& address);

// The recipient list as the dialog edits it. Addresses are unique,
// compared without regard to case.
class TRecipientList {
public:
  TRecipientList() = default;
  explicit TRecipientList(TMailRecipients items) : FItems(std::move(items)) {}

  const TMailRecipients& Items() const { return FItems; }
  qsizetype Count() const { return FItems.size(); }
  qsizetype IndexOf(const QString& address) const;
  // Appends a new address as "always"; its index, or -1 when it is empty or
  // listed already.
  qsizetype Add(const QString& address);
  // Gives an entry another address and keeps its state; false for a bad
  // index, an empty address or one another entry has.
  bool Replace(qsizetype index, const QString& address);
  // Removes an entry; the index to select afterwards (the same position, or
  // the last entry), -1 when the list is empty.
  qsizetype Remove(qsizetype index);
  void SetState(qsizetype index, TRecipientState state);

private:
  TMailRecipients FItems;
};

// The attachment list: at most kMaxMailAttachments entries, since the task
// file keeps no more.
class TAttachmentList {
public:
  TAttachmentList() = default;
  explicit TAttachmentList(QStringList items) : FItems(std::move(items)) {}
  static TAttachmentList FromCommaText(const QString& text);
  QString CommaText() const;

  const QStringList& Items() const { return FItems; }
  bool Full() const { return FItems.size() >= kMaxMailAttachments; }
  // Appends the files in order until the list is full; false when some were
  // refused for that reason. Empty names are skipped.
  bool Add(const QStringList& files);
  bool Replace(qsizetype index, const QString& file);
  // Removes the entries at the given positions.
  void Remove(QList<qsizetype> indexes);

private:
  QStringList FItems;
};

// "The maximum number of attachments is 10!"
QString AttachmentLimitText();

// The port after another TLS choice: 465 for implicit TLS, 25 for the
// others; choosing the mode that is set already keeps the port.
int PortAfterTlsChoice(TSecTransfer oldMode, TSecTransfer newMode, int port);

// What the dialog's fields hold.
struct TMailFields {
  QString Server;
  int Port = 25;
  QString User;
  QString Password;
  QString Sender;
  QString ReplyTo;
  TMailRecipients Recipients;
  QString Subject;
  TSecTransfer SecureMode = stNone;
  TMailMode LogMode = mmNone;
  TZipMode ZipMode = zmNo;
  QString CryptKey;
  QStringList Attachments;
  TMailMode SendMode = mmNone; // "Send mail after action"
  bool operator==(const TMailFields&) const = default;
};

TMailFields MailFieldsOf(const TMailData& data, TMailMode mode);
// What OK writes back: the record and the task's mail mode. The zip password
// is kept only for an encrypted zip.
void ApplyMailFields(const TMailFields& fields, TMailData& data, TMailMode& mode);

// The field a failed check sends the user to. mfRecipients opens the prompt
// for a new recipient.
enum TMailField : int { mfNone = 0, mfServer, mfUser, mfRecipients, mfReplyTo };

struct TMailCheck {
  TMailField Field = mfNone;
  QString Message;
  bool Passed() const { return Field == mfNone; }
};

// The checks of OK and Test, in their order; the first that fails counts.
TMailCheck CheckMailFields(const TMailFields& fields);

// Earlier inputs offered by the dialog, kept in the engine settings file.
struct TMailHistories {
  QStringList Servers;   // [SmtpServer], 15 at most
  QStringList Users;     // [MailUser]
  QStringList Subjects;  // [Subjects]
  QStringList Addresses; // [MailTo] Address0.., 50 at most; sender and reply-to
};
constexpr int kMailHistorySize = 15;
constexpr int kMailAddressHistorySize = 50;

// An unreadable or missing file gives empty lists.
TMailHistories LoadMailHistories(const QString& iniFile);
// Puts what OK accepted at the front of the lists.
void RememberMailInputs(TMailHistories& histories, const TMailFields& fields);
// Writes the four lists (each write replaces the file whole). Raises
// EArdantoError when the file cannot be written.
void SaveMailHistories(const QString& iniFile, const TMailHistories& histories);

} // namespace ardanto
