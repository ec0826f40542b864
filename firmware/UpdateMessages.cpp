#include "firmware/UpdateMessages.h"

#include "app/ToWideDecimal.h"
#include "device/TraceLog.h"
#include "firmware/FirmwareFile.h"

const wchar_t* const kUpdateFailed = L"Failed to update firmware.";

std::vector<std::wstring> UpdateResultLines(UpdateResult result, const UpdateVersions& versions) {
  const std::wstring expected = L"Expected version: ";
  const std::wstring removed = L"This was most likely caused by prematurely removing the device.";
  const std::wstring retry = L"Please reconnect and try again.";
  switch (result) {
    case UpdateOk:
      return {L"New firmware version: " + FormatVersion(versions.firmwareVersion),
              L"Firmware updated successfully."};
    case UpdateFileNotOpened:
      return {L"The file could not be opened."};
    case UpdateNotFirmwareFile:
      return {L"This is not a valid firmware file."};
    case UpdateWrongFormatVersion:
      return {L"Incorrect file version.", L"File version: " + FormatVersion(versions.formatVersion),
              expected + FormatVersion(kFirmwareFormatVersion)};
    case UpdateWrongFirmwareVersion:
      return {L"The firmware version is not intended for use with this software version.",
              L"New firmware version: " + FormatVersion(versions.firmwareVersion),
              expected + FormatVersion(kRequiredVersion)};
    case UpdateWrongBootloaderVersion:
      // The bootloader connect accepts only 4.0x, so its version is told as 4.00.
      return {L"The firmware version is not intended for use with this bootloader version.",
              L"Your device bootloader version: " + FormatVersion(kRequiredVersion),
              expected + FormatVersion(versions.requiredBootloaderVersion)};
    case UpdateWrongHardwareVersion:
      return {L"The firmware version is not intended for use with your hardware version.",
              L"Your hardware version: " + FormatVersion(versions.hardwareVersion),
              expected + FormatVersion(kRequiredVersion)};
    case UpdateIoError:
      return {L"There was a timeout on a read operation.", removed, retry};
    case UpdateProtocolError:
      return {L"There was a protocol error.", removed, retry};
    case UpdateNotInBootloaderMode:
      return {L"The device is not in bootloader mode."};
    case UpdateChannelNotOpened:
      return {};
  }
  return {};
}

int UpdatePercentage(int blocksDone, int blocksInAll) {
  if (blocksInAll <= 0) return 100;
  return static_cast<int>(static_cast<long long>(blocksDone) * 100 / blocksInAll);
}

std::wstring UpdateProgressLines::OnProgress(int blocksDone, int blocksInAll) {
  const int percent = UpdatePercentage(blocksDone, blocksInAll);
  TraceLog << percent << std::endl;
  const int tens = percent / 10 * 10;
  if (lastTens_.exchange(tens) == tens) return {};
  return ToWideDecimal(tens) + L"%";
}

UpdateProgressLines& ProgramProgressLines() {
  static UpdateProgressLines lines;
  return lines;
}
