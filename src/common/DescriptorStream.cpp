#include "common/DescriptorStream.h"

#include <cerrno>
#include <unistd.h>

namespace ardanto {

TDescriptorReadStream::~TDescriptorReadStream()
{
  if (FHandle >= 0)
    ::close(FHandle);
}

HRESULT TDescriptorReadStream::Read(void* buffer, std::uint32_t count, std::uint32_t* bytesRead)
{
  auto* out = static_cast<char*>(buffer);
  std::uint32_t total = 0;
  HRESULT hr = S_OK;
  while (total < count) {
    const ssize_t n = ::read(FHandle, out + total, count - total);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      hr = FMapping(errno);
      break;
    }
    if (n == 0)
      break;
    total += static_cast<std::uint32_t>(n);
  }
  if (bytesRead != nullptr)
    *bytesRead = total;
  return hr;
}

} // namespace ardanto
