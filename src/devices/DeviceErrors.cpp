#include "devices/DeviceErrors.h"

#include "common/Translate.h"

#include <cerrno>
#include <cstring>

namespace ardanto {

using namespace Qt::StringLiterals;

HRESULT DeviceResultFromErrno(int error)
{
  switch (error) {
  case EIO:
    return E_DEVICE_IO;
  case EFAULT:
    return E_POINTER;
  case EUSERS:
    return E_FAIL;
  default:
    return HResultFromErrno(error);
  }
}

bool HResultMessage(HRESULT code, QString& message)
{
  switch (static_cast<std::uint32_t>(code)) {
  case static_cast<std::uint32_t>(S_OK):
    message = _("The operation completed successfully.");
    return true;
  case static_cast<std::uint32_t>(E_NOTIMPL):
    message = _("Not implemented");
    return true;
  case static_cast<std::uint32_t>(E_NOINTERFACE):
    message = _("No such interface supported");
    return true;
  case static_cast<std::uint32_t>(E_POINTER):
    message = _("Invalid pointer");
    return true;
  case static_cast<std::uint32_t>(E_ABORT):
    message = _("Operation aborted");
    return true;
  case static_cast<std::uint32_t>(E_FAIL):
    message = _("Unspecified error");
    return true;
  case static_cast<std::uint32_t>(E_UNEXPECTED):
    message = _("Catastrophic failure");
    return true;
  case static_cast<std::uint32_t>(E_ACCESSDENIED):
    message = _("Access is denied.");
    return true;
  case static_cast<std::uint32_t>(E_OUTOFMEMORY):
    message = _("Not enough memory resources are available to complete this operation.");
    return true;
  case static_cast<std::uint32_t>(E_INVALIDARG):
    message = _("The parameter is incorrect.");
    return true;
  case static_cast<std::uint32_t>(E_ELEMENT_NOT_FOUND):
    message = _("Element not found.");
    return true;
  case static_cast<std::uint32_t>(E_DEVICE_BUSY):
    message = _("The requested resource is in use.");
    return true;
  case static_cast<std::uint32_t>(E_DEVICE_NOT_CONNECTED):
    message = _("The device is not connected.");
    return true;
  case static_cast<std::uint32_t>(E_DEVICE_IO):
    message = _("The request could not be performed because of an I/O device error.");
    return true;
  default:
    break;
  }
  const auto value = static_cast<std::uint32_t>(code);
  if ((value & 0xFFFF0000u) == 0x80070000u) {
    const int error = static_cast<int>(value & 0xFFFFu);
    if (::strerrordesc_np(error) != nullptr) {
      message = QString::fromLocal8Bit(std::strerror(error));
      return true;
    }
  }
  return false;
}

QString OleErrorText(HRESULT code, const QString& context)
{
  QString message;
  if (HResultMessage(code, message))
    message += QString::asprintf(" (0x%.8x)", static_cast<std::uint32_t>(code));
  else
    message = _("<Unknown error code>");
  return _("Error calling: ") + context + u" : "_s + message;
}

void OleCheck(HRESULT code, const QString& context, const QString& detail)
{
  if (SUCCEEDED(code))
    return;
  QString text = OleErrorText(code, context);
  if (!detail.isEmpty())
    text += u'\n' + detail;
  throw EOleSysError(text, code);
}

} // namespace ardanto
