#include "settings/AboutText.h"

#include "app/ProgramInfo.h"
#include "device/Altimeter.h"

std::vector<std::wstring> AboutTextPieces() {
  // Every version is the program's own: the box never asks the device.
  const std::wstring family = FormatVersionFamily();
  return {
      L"Visit " + std::wstring(kProductPage) + L" for updates and further info.\r\n\r\n",
      L"Software is version " + std::wstring(L"" ULKUSB_VERSION_TEXT) + L" and is designed for:\r\n\r\n",
      L"Firmware version " + family + L"\r\n",
      L"Bootloader version " + family + L"\r\n",
      L"Hardware version " + family + L"\r\n",
  };
}
