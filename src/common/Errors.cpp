#include "common/Errors.h"

namespace ardanto {

EArdantoError::EArdantoError(QString message)
  : FMessage(std::move(message)), FUtf8(FMessage.toUtf8())
{
}

const char* EArdantoError::what() const noexcept
{
  return FUtf8.constData();
}

} // namespace ardanto
