#include "common/Errors.h"

#include "common/Translate.h"

#include <cstring>

namespace ardanto {

EArdantoError::EArdantoError(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8())
{
}

const char* EArdantoError::what() const noexcept
{
  return FUtf8.constData();
}

namespace {

struct TCodeText {
  HRESULT Code;
  const char* Text;
};

constexpr TCodeText kCodeTexts[] = {
    {S_OK, N_("The operation completed successfully.")},
    {E_NOTIMPL, N_("Not implemented")},
    {E_NOINTERFACE, N_("No such interface supported")},
    {E_POINTER, N_("Invalid pointer")},
    {E_ABORT, N_("Operation aborted")},
    {E_FAIL, N_("Unspecified error")},
    {E_UNEXPECTED, N_("Catastrophic failure")},
    {E_ACCESSDENIED, N_("Access is denied.")},
    {E_OUTOFMEMORY, N_("Not enough memory resources are available to complete this operation.")},
    {E_INVALIDARG, N_("The parameter is incorrect.")},
    {E_ELEMENT_NOT_FOUND, N_("Element not found.")},
    {E_DEVICE_BUSY, N_("The requested resource is in use.")},
    {E_DEVICE_NOT_CONNECTED, N_("The device is not connected.")},
    {E_DEVICE_IO, N_("The request could not be performed because of an I/O device error.")},
};

} // namespace

bool HResultMessage(HRESULT code, QString& message)
{
  for (const TCodeText& known : kCodeTexts) {
    if (known.Code == code) {
      message = _(known.Text);
      return true;
    }
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

} // namespace ardanto
