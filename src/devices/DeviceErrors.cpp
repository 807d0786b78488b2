#include "devices/DeviceErrors.h"

#include "common/Translate.h"

namespace ardanto {

using namespace Qt::StringLiterals;

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
