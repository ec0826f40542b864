#include <cstdio>

#include "device/Altimeter.h"

ConnectResult CAltimeter::Connect(uint16_t* version, bool bootloader) {
  Close();
  uint16_t productId = bootloader ? kBootloaderProductId : kApplicationProductId;
  std::vector<CHidDevice> compatible = FindDevices(productId, kRequiredVersion, kVersionMask);
  std::vector<CHidDevice> present = FindDevices(productId, 0, 0);
  if (!compatible.empty()) {
    if (version) *version = compatible.front().attributes.versionNumber;
    AssignDevice(compatible.front());
    if (Open()) {
      bootloaderMode = bootloader;
      return Connected;
    }
    return CannotOpen;
  }
  if (!present.empty()) {
    if (version) *version = present.front().attributes.versionNumber;
    return IncompatibleVersion;
  }
  return NotFound;
}

std::wstring FormatVersion(uint16_t version) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%x.%02x", static_cast<unsigned>(version >> 8), static_cast<unsigned>(version & 0xFF));
  return text;
}

std::wstring FormatVersionFamily() {
  std::wstring text = FormatVersion(kRequiredVersion);
  text.back() = L'x';
  return text;
}
