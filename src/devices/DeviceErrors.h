#pragma once

// Result codes of the device layer beyond common/HResult.h, their texts, and
// the exception that a failing device call becomes.

#include "common/Errors.h"
#include "common/HResult.h"

#include <QString>

namespace ardanto {

// Codes above the errno range, so that they never read as an errno value.
constexpr HRESULT E_ELEMENT_NOT_FOUND = static_cast<HRESULT>(0x80070490u);    // no such object or property
constexpr HRESULT E_DEVICE_BUSY = static_cast<HRESULT>(0x800700AAu);          // another program holds it
constexpr HRESULT E_DEVICE_NOT_CONNECTED = static_cast<HRESULT>(0x8007048Fu); // gone, or closed
constexpr HRESULT E_DEVICE_IO = static_cast<HRESULT>(0x8007045Du);            // transfer failed

// errno value to a result code. EIO, EFAULT and EUSERS would collide with the
// standard codes of the same number, so they get their own.
HRESULT DeviceResultFromErrno(int error);

// The system's message for a code, without the code; false when there is none.
bool HResultMessage(HRESULT code, QString& message);

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
