#pragma once

// Result codes of the device layer and the streams it hands out. They keep the
// shape of the codes the suite's task files and logs have always shown:
// failures are negative, system errors are 0x8007xxxx with the errno value.

#include <cerrno>
#include <cstdint>

namespace ardanto {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// Codes above the errno range, so that they never read as an errno value.
constexpr HRESULT E_ELEMENT_NOT_FOUND = static_cast<HRESULT>(0x80070490u);    // no such object or property
constexpr HRESULT E_DEVICE_BUSY = static_cast<HRESULT>(0x800700AAu);          // another program holds it
constexpr HRESULT E_DEVICE_NOT_CONNECTED = static_cast<HRESULT>(0x8007048Fu); // gone, or closed
constexpr HRESULT E_DEVICE_IO = static_cast<HRESULT>(0x8007045Du);            // transfer failed

constexpr bool SUCCEEDED(HRESULT hr)
{
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
  return hr < 0;
}

// A system error (errno value) as a result code.
constexpr HRESULT HResultFromErrno(int error)
{
  return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

// errno value to the code a device reports. EIO, EFAULT and EUSERS would
// collide with the standard codes of the same number, so they get their own;
// a refusal reads as "access denied", as it does for every device.
constexpr HRESULT DeviceResultFromErrno(int error)
{
  switch (error) {
  case EIO:
    return E_DEVICE_IO;
  case EFAULT:
    return E_POINTER;
  case EUSERS:
    return E_FAIL;
  case EACCES:
  case EPERM:
    return E_ACCESSDENIED;
  default:
    return HResultFromErrno(error);
  }
}

} // namespace ardanto
