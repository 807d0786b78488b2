#pragma once

// The exception that a failing device call becomes, and its text. The device
// codes, DeviceResultFromErrno and the texts of all codes (HResultMessage)
// are in common: the copy engine names them too.

#include "common/Errors.h"
#include "common/HResult.h"

#include <QString>

namespace ardanto {

// A failing device call.
class EOleSysError : public EArdantoError {
public:
  EOleSysError(QString message, HRESULT errorCode) : EArdantoError(std::move(message)), FErrorCode(errorCode) {}
  HRESULT ErrorCode() const noexcept { return FErrorCode; }

private:
  HRESULT FErrorCode;
};

// The text of a failing call: "Error calling: " context " : " the system's
// message with " (0x%.8x)", or "<Unknown error code>".
QString OleErrorText(HRESULT code, const QString& context);

// Raises EOleSysError for a failure (negative code); does nothing otherwise.
// A detail sentence from the platform goes on a line of its own.
void OleCheck(HRESULT code, const QString& context, const QString& detail = QString());

} // namespace ardanto
