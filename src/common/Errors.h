#pragma once

#include "common/HResult.h"

#include <QByteArray>
#include <QString>

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

// The text of a result code, without the code: the wording of the standard
// and device codes, the system's text of an errno value; false when there is
// none. The one table for the device layer and the copy engine.
bool HResultMessage(HRESULT code, QString& message);

} // namespace ardanto
