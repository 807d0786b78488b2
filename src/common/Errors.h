#pragma once

#include <QString>
#include <QByteArray>

#include <exception>

namespace ardanto {

// Base of every exception the suite's libraries raise. The message is the text
// shown to the user, already translated.
class EArdantoError : public std::exception {
public:
  explicit EArdantoError(QString message);
  const QString& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override;

private:
  QString FMessage;
  QByteArray FUtf8;
};

} // namespace ardanto
