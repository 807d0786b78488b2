#include "mail/MimeMessage.h"

#include "common/FileUtils.h"
#include "common/Translate.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Net/MediaType.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/MultipartWriter.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <sstream>

namespace ardanto::mail {

using namespace Qt::StringLiterals;

namespace {

// RFC 5322: a line holds at most 998 characters before its CRLF.
constexpr std::size_t kMaxLineLength = 998;
// Header lines are folded near this width where the text allows it.
constexpr std::size_t kFoldWidth = 78;
// "=?UTF-8?B?" + 60 Base64 characters + "?=" stays within 75 characters.
constexpr std::size_t kWordBytes = 45;
constexpr qint64 kChunk = 48 * 1024;

std::string Base64(const std::string& bytes, int lineLength)
{
  std::ostringstream out;
  Poco::Base64Encoder encoder(out);
  encoder.rdbuf()->setLineLength(lineLength);
  encoder.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  encoder.close();
  return out.str();
}

// Control characters would end a header line or break a command.
QString Sanitized(const QString& text)
{
  QString result = text;
  for (QChar& c : result)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      c = u' ';
  return result;
}

bool IsPrintableAscii(const QString& text)
{
  return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

// Encoded words of at most kWordBytes of UTF-8 each, split only between
// characters so that every word decodes on its own.
std::vector<std::string> EncodedWords(const QString& text)
{
  std::vector<std::string> words;
  std::string chunk;
  const auto flush = [&]() {
    if (!chunk.empty())
      words.push_back("=?UTF-8?B?" + Base64(chunk, 0) + "?=");
    chunk.clear();
  };
  for (const char32_t cp : text.toUcs4()) {
    const std::string bytes = QString::fromUcs4(&cp, 1).toStdString();
    if (chunk.size() + bytes.size() > kWordBytes)
      flush();
    chunk += bytes;
  }
  flush();
  return words;
}

std::string JoinFolded(const std::vector<std::string>& words)
{
  std::string result;
  for (const std::string& word : words) {
    if (!result.empty())
      result += "\r\n ";
    result += word;
  }
  return result;
}

// Folds before blanks so that lines stay near kFoldWidth; unfolding gives
// the text back unchanged.
std::string FoldAscii(const std::string& text, std::size_t used)
{
  std::string result;
  std::size_t lineLength = used;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // A token is a run of blanks followed by a run of other characters.
    std::size_t end = text.find_first_not_of(' ', pos);
    if (end == std::string::npos)
      end = text.size();
    end = std::min(text.find(' ', end), text.size());
    const std::string token = text.substr(pos, end - pos);
    const bool hasText = token.find_first_not_of(' ') != std::string::npos;
    if (!result.empty() && hasText && token.front() == ' ' && lineLength + token.size() > kFoldWidth) {
      result += "\r\n";
      lineLength = 0;
    }
    result += token;
    lineLength += token.size();
    pos = end;
  }
  return result;
}

bool IsAtextPhrase(const QString& name)
{
  static const QString specials = u"!#$%&'*+-/=?^_`{|}~ "_s;
  return std::all_of(name.cbegin(), name.cend(),
                     [](QChar c) { return (c.unicode() < 0x80 && c.isLetterOrNumber()) || specials.contains(c); });
}

std::string QuotedString(const QString& text)
{
  std::string result = "\"";
  for (const char c : text.toStdString()) {
    if (c == '"' || c == '\\')
      result += '\\';
    result += c;
  }
  return result + '"';
}

std::string FormatAddress(const TEmailAddress& address)
{
  const std::string addr = address.Address.trimmed().toStdString();
  const QString name = Sanitized(address.Name).trimmed();
  if (name.isEmpty())
    return addr;
  std::string phrase;
  if (!IsPrintableAscii(name))
    phrase = JoinFolded(EncodedWords(name));
  else if (IsAtextPhrase(name) && !name.contains(u"=?"_s))
    phrase = name.toStdString();
  else
    phrase = QuotedString(name);
  return phrase + " <" + addr + ">";
}

std::size_t MaxLineLength(const std::string& crlfText)
{
  std::size_t longest = 0;
  std::size_t start = 0;
  while (start <= crlfText.size()) {
    std::size_t end = crlfText.find("\r\n", start);
    if (end == std::string::npos)
      end = crlfText.size();
    longest = std::max(longest, end - start);
    start = end + 2;
  }
  return longest;
}

QString DomainOf(const QString& address)
{
  static const QRegularExpression domain(u"^[A-Za-z0-9.\\-]+$"_s);
  const QString part = address.section(u'@', -1).trimmed();
  if (address.contains(u'@') && domain.match(part).hasMatch())
    return part;
  return u"localhost"_s;
}

// What a text file needs to travel unencoded: no NUL bytes and no line over
// the limit once line ends are CRLF. Also tells the charset of its text.
struct TTextScan {
  bool Fit = true;
  bool NonAscii = false;
  bool ValidUtf8 = true;
};

TTextScan ScanTextFile(QFile& file)
{
  TTextScan scan;
  std::size_t lineLength = 0;
  int pendingContinuation = 0;
  QByteArray buffer(kChunk, Qt::Uninitialized);
  for (;;) {
    const qint64 n = file.read(buffer.data(), buffer.size());
    if (n < 0)
      throw EMailBuildError(
          SafeFormat(_("Cannot read the attachment \"%s\": %s"), {file.fileName(), file.errorString()}));
    if (n == 0)
      break;
    for (qint64 i = 0; i < n; ++i) {
      const auto c = static_cast<unsigned char>(buffer[i]);
      if (c == '\r' || c == '\n') {
        lineLength = 0;
      } else if (++lineLength > kMaxLineLength || c == 0) {
        scan.Fit = false;
      }
      if (c >= 0x80)
        scan.NonAscii = true;
      if (pendingContinuation > 0) {
        if ((c & 0xC0) == 0x80) {
          --pendingContinuation;
          continue;
        }
        scan.ValidUtf8 = false;
        pendingContinuation = 0;
      }
      if (c < 0x80)
        continue;
      if (c >= 0xC2 && c <= 0xDF)
        pendingContinuation = 1;
      else if (c >= 0xE0 && c <= 0xEF)
        pendingContinuation = 2;
      else if (c >= 0xF0 && c <= 0xF4)
        pendingContinuation = 3;
      else
        scan.ValidUtf8 = false;
    }
  }
  if (pendingContinuation > 0)
    scan.ValidUtf8 = false;
  return scan;
}

// Address headers keep their structure: "Name <address>" gets an encoded
// name, not one encoded word around the whole value.
std::string EncodeHeaderValue(const QString& name, const QString& value)
{
  static const QStringList addressHeaders{u"From"_s, u"Sender"_s, u"Reply-To"_s, u"To"_s, u"Cc"_s};
  static const QRegularExpression nameAndAddress(u"^\\s*(.*?)\\s*<([^<>]+)>\\s*$"_s);
  const QString clean = Sanitized(value);
  if (addressHeaders.contains(name, Qt::CaseInsensitive) && !IsPrintableAscii(clean)) {
    const QRegularExpressionMatch m = nameAndAddress.match(clean);
    if (m.hasMatch() && IsValidAddress(m.captured(2))) {
      QString display = m.captured(1);
      if (display.size() >= 2 && display.startsWith(u'"') && display.endsWith(u'"'))
        display = display.mid(1, display.size() - 2);
      return FormatAddress({display, m.captured(2)});
    }
  }
  return EncodeUnstructured(clean, static_cast<std::size_t>(name.size()));
}

} // namespace

std::string EncodeUnstructured(const QString& text, std::size_t nameLength)
{
  const QString clean = Sanitized(text);
  if (IsPrintableAscii(clean) && !clean.contains(u"=?"_s))
    return FoldAscii(clean.toStdString(), nameLength + 2);
  return JoinFolded(EncodedWords(clean));
}

std::string FormatAddressList(const TEmailAddressList& list)
{
  std::string result;
  for (const TEmailAddress& address : list) {
    if (!result.empty())
      result += ",\r\n ";
    result += FormatAddress(address);
  }
  return result;
}

std::string EncodeParameter(const std::string& name, const QString& value)
{
  const QString clean = Sanitized(value);
  if (IsPrintableAscii(clean))
    return name + "=" + QuotedString(clean);
  // RFC 2231: mail readers and Python read it; RFC 2047 words inside a
  // quoted parameter are not allowed there.
  static const std::string attrChars = "!#$&+-.^_`|~";
  std::vector<std::string> pieces(1);
  for (const char ch : clean.toStdString()) {
    const auto c = static_cast<unsigned char>(ch);
    std::string encoded;
    if (std::isalnum(c) && c < 0x80)
      encoded = std::string(1, ch);
    else if (attrChars.find(ch) != std::string::npos)
      encoded = std::string(1, ch);
    else {
      static const char hex[] = "0123456789ABCDEF";
      encoded = {'%', hex[c >> 4], hex[c & 15]};
    }
    if (pieces.back().size() + encoded.size() > 60)
      pieces.emplace_back();
    pieces.back() += encoded;
  }
  if (pieces.size() == 1)
    return name + "*=utf-8''" + pieces.front();
  std::string result;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0)
      result += ";\r\n ";
    result += name + "*" + std::to_string(i) + "*=" + (i == 0 ? "utf-8''" : "") + pieces[i];
  }
  return result;
}

bool IsValidHeaderName(const QString& name)
{
  return !name.isEmpty() && std::all_of(name.cbegin(), name.cend(),
                                        [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F && c != u':'; });
}

bool IsValidAddress(const QString& address)
{
  const QString trimmed = address.trimmed();
  return !trimmed.isEmpty() && std::all_of(trimmed.cbegin(), trimmed.cend(), [](QChar c) {
    return c.unicode() > 0x20 && c.unicode() < 0x7F && c != u'<' && c != u'>' && c != u',';
  });
}

TMimeMessage::TMimeMessage(const TMailContent& content)
{
  for (const TEmailAddressList* list : {&content.To, &content.Cc})
    for (const TEmailAddress& a : *list)
      if (!IsValidAddress(a.Address))
        throw EMailBuildError(SafeFormat(_("Invalid mail address: \"%s\""), {a.Address}));
  if (!content.From.Address.trimmed().isEmpty() && !IsValidAddress(content.From.Address))
    throw EMailBuildError(SafeFormat(_("Invalid mail address: \"%s\""), {content.From.Address}));

  const auto add = [this](const char* name, std::string value) { FHeaders.emplace_back(name, std::move(value)); };
  if (!content.From.Address.trimmed().isEmpty())
    add("From", FormatAddressList({content.From}));
  if (!content.To.isEmpty())
    add("To", FormatAddressList(content.To));
  if (!content.Cc.isEmpty())
    add("Cc", FormatAddressList(content.Cc));
  add("Subject", EncodeUnstructured(content.Subject, 7));
  add("Date", QDateTime::currentDateTime().toString(Qt::RFC2822Date).toStdString());
  add("Message-ID", "<" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + "@" +
                        DomainOf(content.From.Address).toStdString() + ">");
  switch (content.Priority) {
  case mpHighest:
    add("X-Priority", "1 (Highest)");
    add("Importance", "high");
    break;
  case mpHigh:
    add("X-Priority", "2 (High)");
    add("Importance", "high");
    break;
  case mpLow:
    add("X-Priority", "4 (Low)");
    add("Importance", "low");
    break;
  case mpLowest:
    add("X-Priority", "5 (Lowest)");
    add("Importance", "low");
    break;
  case mpNormal:
    break;
  }
  for (const auto& [name, value] : content.ExtraHeaders) {
    // The structure of the message is ours alone.
    if (name.startsWith(u"Content-"_s, Qt::CaseInsensitive) ||
        name.compare(u"MIME-Version"_s, Qt::CaseInsensitive) == 0 || !IsValidHeaderName(name))
      continue;
    const std::string encoded = EncodeHeaderValue(name, value);
    const auto same = std::find_if(FHeaders.begin(), FHeaders.end(), [&name](const auto& h) {
      return QString::fromStdString(h.first).compare(name, Qt::CaseInsensitive) == 0;
    });
    if (same != FHeaders.end())
      same->second = encoded;
    else
      FHeaders.emplace_back(name.toStdString(), encoded);
  }
  add("MIME-Version", "1.0");

  TEntity body;
  switch (content.ContentType) {
  case ctUtf8:
    body = TextEntity(content.Body, "plain", false);
    break;
  case ctHtml:
    if (content.Body.isEmpty()) {
      body = TextEntity(content.HTMLBody, "html", true);
    } else {
      body.Boundary = "=_alt_" + QUuid::createUuid().toString(QUuid::Id128).toStdString();
      body.Children.push_back(TextEntity(content.Body, "plain", true));
      body.Children.push_back(TextEntity(content.HTMLBody, "html", true));
    }
    break;
  case ctAscii:
  default:
    body = TextEntity(content.Body, "plain", true);
    break;
  }

  std::vector<TEntity> files;
  for (const QString& entry : content.Attachments)
    if (!entry.trimmed().isEmpty())
      files.push_back(FileEntity(entry));

  if (files.empty()) {
    FRoot = std::move(body);
  } else {
    FRoot.Boundary = "=_mix_" + QUuid::createUuid().toString(QUuid::Id128).toStdString();
    FRoot.Children.push_back(std::move(body));
    for (TEntity& file : files)
      FRoot.Children.push_back(std::move(file));
  }
  FEightBit = Finish(FRoot, files.empty() ? "multipart/alternative" : "multipart/mixed");
}

bool TMimeMessage::Finish(TEntity& entity, const char* multipartType)
{
  if (entity.Children.empty())
    return std::any_of(entity.Headers.cbegin(), entity.Headers.cend(),
                       [](const auto& h) { return h.first == "Content-Transfer-Encoding" && h.second == "8bit"; });
  bool eightBit = false;
  for (TEntity& child : entity.Children)
    eightBit = Finish(child, "multipart/alternative") || eightBit;
  entity.Headers.insert(entity.Headers.begin(),
                        {"Content-Type", std::string(multipartType) + ";\r\n boundary=\"" + entity.Boundary + "\""});
  // A multipart is labelled with the widest encoding of its parts; it is
  // never encoded itself.
  if (eightBit)
    entity.Headers.emplace_back("Content-Transfer-Encoding", "8bit");
  return eightBit;
}

TMimeMessage::TEntity TMimeMessage::TextEntity(const QStringList& lines, const char* subtype, bool preferLatin1)
{
  QString text = lines.join(u'\n');
  if (!lines.isEmpty())
    text += u'\n';
  text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
  // Latin-1 as the format asks, unless the text holds characters that
  // Latin-1 cannot carry: those would be lost, so UTF-8 is declared instead.
  const bool latin1 =
      preferLatin1 && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
  QByteArray bytes = latin1 ? text.toLatin1() : text.toUtf8();
  bytes.replace("\n", "\r\n");
  std::string data = bytes.toStdString();

  TEntity entity;
  entity.Headers.emplace_back("Content-Type",
                              std::string("text/") + subtype + "; charset=" + (latin1 ? "iso-8859-1" : "utf-8"));
  // Lines over the limit would be broken up by servers; Base64 carries them.
  if (MaxLineLength(data) > kMaxLineLength) {
    entity.Headers.emplace_back("Content-Transfer-Encoding", "base64");
    entity.Content = Base64(data, 76);
  } else {
    entity.Headers.emplace_back("Content-Transfer-Encoding", "8bit");
    entity.Content = std::move(data);
  }
  return entity;
}

TMimeMessage::TEntity TMimeMessage::FileEntity(const QString& entry)
{
  const qsizetype bar = entry.indexOf(u'|');
  const QString path = (bar < 0 ? entry : entry.left(bar)).trimmed();
  QString type = bar < 0 ? QString() : entry.mid(bar + 1).trimmed();

  QFile file(path);
  if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
    throw EMailBuildError(SafeFormat(_("Cannot read the attachment \"%s\": %s"),
                                     {path, QFileInfo(path).isDir() ? _("it is a folder") : file.errorString()}));
  if (type.isEmpty())
    type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
  else if (!type.contains(u'/'))
    type = u"application/"_s + type;

  // "type/subtype", optionally followed by parameters; nothing else may
  // slip into the header.
  static const QRegularExpression mediaType(
      u"^[A-Za-z0-9!#$&^_.+\\-]+/[A-Za-z0-9!#$&^_.+\\-]+[ \\t]*(;[\\x20-\\x7e]*)?$"_s);
  if (!mediaType.match(type).hasMatch())
    throw EMailBuildError(SafeFormat(_("Invalid content type \"%s\" for the attachment \"%s\"."), {type, path}));
  Poco::Net::MediaType media(type.toStdString());

  TEntity entity;
  entity.FilePath = path;
  entity.Source = TSource::Base64File;
  if (type.startsWith(u"text/plain"_s, Qt::CaseInsensitive)) {
    const TTextScan scan = ScanTextFile(file);
    if (scan.Fit) {
      entity.Source = TSource::TextFile;
      if (scan.NonAscii && !media.hasParameter("charset"))
        media.setParameter("charset", scan.ValidUtf8 ? "utf-8" : "windows-1252");
    }
  }
  const QString fileName = QFileInfo(path).fileName();
  entity.Headers.emplace_back("Content-Type", media.toString() + ";\r\n " + EncodeParameter("name", fileName));
  entity.Headers.emplace_back("Content-Transfer-Encoding", entity.Source == TSource::TextFile ? "8bit" : "base64");
  entity.Headers.emplace_back("Content-Disposition", "attachment;\r\n " + EncodeParameter("filename", fileName));
  return entity;
}

void TMimeMessage::Write(std::ostream& out) const
{
  for (const auto& [name, value] : FHeaders)
    out << name << ": " << value << "\r\n";
  for (const auto& [name, value] : FRoot.Headers)
    out << name << ": " << value << "\r\n";
  out << "\r\n";
  WriteBody(out, FRoot);
}

void TMimeMessage::WriteBody(std::ostream& out, const TEntity& entity) const
{
  if (!out)
    return;
  if (!entity.Children.empty()) {
    Poco::Net::MultipartWriter writer(out, entity.Boundary);
    for (const TEntity& child : entity.Children) {
      Poco::Net::MessageHeader header;
      for (const auto& [name, value] : child.Headers)
        header.add(name, value);
      writer.nextPart(header);
      WriteBody(out, child);
      if (!out)
        return;
    }
    writer.close();
  } else if (entity.Source == TSource::Memory) {
    out.write(entity.Content.data(), static_cast<std::streamsize>(entity.Content.size()));
  } else {
    WriteFile(out, entity);
  }
}

void TMimeMessage::WriteFile(std::ostream& out, const TEntity& entity) const
{
  QFile file(entity.FilePath);
  const auto fail = [&file]() {
    return EMailBuildError(
        SafeFormat(_("Cannot read the attachment \"%s\": %s"), {file.fileName(), file.errorString()}));
  };
  if (!file.open(QIODevice::ReadOnly))
    throw fail();
  QByteArray buffer(kChunk, Qt::Uninitialized);
  if (entity.Source == TSource::Base64File) {
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(76);
    for (;;) {
      const qint64 n = file.read(buffer.data(), buffer.size());
      if (n < 0)
        throw fail();
      if (n == 0 || !out)
        break;
      encoder.write(buffer.constData(), n);
    }
    encoder.close();
    return;
  }
  // Text goes out with CRLF line ends, as 8-bit transfer requires.
  std::string converted;
  bool pendingCr = false;
  for (;;) {
    const qint64 n = file.read(buffer.data(), buffer.size());
    if (n < 0)
      throw fail();
    if (n == 0 || !out)
      break;
    converted.clear();
    for (qint64 i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (pendingCr) {
        converted += "\r\n";
        pendingCr = false;
        if (c == '\n')
          continue;
      }
      if (c == '\r')
        pendingCr = true;
      else if (c == '\n')
        converted += "\r\n";
      else
        converted += c;
    }
    out.write(converted.data(), static_cast<std::streamsize>(converted.size()));
  }
  if (pendingCr)
    out << "\r\n";
}

} // namespace ardanto::mail
