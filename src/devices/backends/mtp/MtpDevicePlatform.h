#pragma once

// Phones, players and cameras over MTP/PTP through libmtp.
//
// libmtp is not thread-safe, so every call into it is made under one
// process-wide lock; read streams may then be used from a copy thread while
// the main thread keeps browsing.

#include "devices/DevicePlatform.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ardanto {

struct TMtpDeviceOptions {
  // Where the USB devices' names and serial numbers are read without opening them.
  QString SysfsUsbRoot = QStringLiteral("/sys/bus/usb/devices");
  // Device nodes, to find the program that holds a busy device.
  QString DevNodeRoot = QStringLiteral("/dev/bus/usb");
  QString ProcRoot = QStringLiteral("/proc");
  // Bytes asked of the device per partial read: every request costs round trips.
  std::uint32_t ChunkSize = 1024 * 1024;
  // Bytes a device without partial reads may push ahead of the reader.
  std::size_t QueueLimit = 8 * 1024 * 1024;
  // How long a check of the connection, and closing the device, wait for a
  // call that is under way. libmtp gives up on a silent device after 20 s
  // (60 s on Android): a call that takes longer is stuck.
  std::chrono::milliseconds ProbeWait{5000};
  std::chrono::milliseconds CloseWait{75000};
};

std::shared_ptr<IDevicePlatform> CreateMtpDevicePlatform(TMtpDeviceOptions options = {});

bool IsMtpDeviceID(const QString& deviceID);

} // namespace ardanto
