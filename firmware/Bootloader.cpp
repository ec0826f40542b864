#include "firmware/Bootloader.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "firmware/FirmwareFile.h"
#include "firmware/UpdateFileCheck.h"

namespace {

using BootloaderReport = std::array<uint8_t, kBootloaderReportSize>;

BootloaderReport CommandReport(BootloaderCommand command) {
  BootloaderReport report{};
  report[1] = static_cast<uint8_t>(command);
  return report;
}

bool CompatibleVersion(uint16_t version) { return (version & kVersionMask) == kRequiredVersion; }

}  // namespace

UpdateResult CAltimeter::LeaveBootloader() {
  if (!Open()) return UpdateChannelNotOpened;
  BootloaderReport report = CommandReport(BootloaderCommand::LeaveBootloader);
  if (WriteReport(report.data(), kBootloaderReportSize)) {
    Close();
    cancelRequested = false;
    bootloaderMode = false;
    return UpdateOk;
  }
  TraceLog << "Failed to write." << std::endl;
  // A channel whose write failed is not trusted with the next exchange.
  Close();
  return UpdateIoError;
}

UpdateResult CAltimeter::UpdateFirmware(UpdateProgress* dialog, const std::wstring& path, uint16_t& formatVersion,
                                        uint16_t& hardwareVersion, uint16_t& requiredBootloaderVersion,
                                        uint16_t& firmwareVersion) {
  FirmwareImage image;
  UpdateVersions file{formatVersion, hardwareVersion, requiredBootloaderVersion, firmwareVersion};
  const UpdateResult checked = CheckFirmwareFile(path, image, file);
  formatVersion = file.formatVersion;
  requiredBootloaderVersion = file.requiredBootloaderVersion;
  firmwareVersion = file.firmwareVersion;
  if (checked != UpdateOk) return checked;
  const int32_t lastBlock = FirmwareLastBlock(image.length);

  // An application firmware would take these reports for commands.
  if (!bootloaderMode) return UpdateNotInBootloaderMode;
  if (!Open()) return UpdateChannelNotOpened;
  TraceLog << "MaxBlockIndex: " << lastBlock << std::endl;
  TraceLog << "Connected to device." << std::endl;

  BootloaderReport report = CommandReport(BootloaderCommand::ReadHardwareVersion);
  if (!WriteReport(report.data(), kBootloaderReportSize)) {
    TraceLog << "Failed to write." << std::endl;
    return UpdateIoError;
  }
  report.fill(0);
  if (!ReadReport(report.data(), kBootloaderReportSize, kReplyTimeoutMs)) {
    TraceLog << "Failed to read." << std::endl;
    return UpdateIoError;
  }
  hardwareVersion = static_cast<uint16_t>(report[1] | (report[2] << 8));
  if (!CompatibleVersion(hardwareVersion)) return UpdateWrongHardwareVersion;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(hardwareVersion));
  TraceLog << "Hardware Version: " << hex << std::endl;

  TraceLog << "Erasing... " << std::flush;
  if (!IsOpen()) {
    TraceLog << std::endl;
    return UpdateChannelNotOpened;
  }
  report = CommandReport(BootloaderCommand::EraseFlash);
  if (!WriteReport(report.data(), kBootloaderReportSize)) {
    TraceLog << "Failed to write." << std::endl;
    return UpdateIoError;
  }
  report.fill(0);
  if (!ReadReport(report.data(), kBootloaderReportSize, kEraseTimeoutMs)) {
    TraceLog << "Failed to read. Timeout." << std::endl;
    return UpdateIoError;
  }
  if (report[1] != 1) {
    TraceLog << std::endl;
    return UpdateProtocolError;
  }
  TraceLog << "done." << std::endl;

  for (int32_t block = 0; block <= lastBlock; ++block) {
    if (dialog) dialog->OnUpdateProgress(block, lastBlock);
    if (image.BlockIsErased(block)) continue;
    const uint32_t address = static_cast<uint32_t>(block) * kFirmwareBlockSize;
    BootloaderReport command = CommandReport(BootloaderCommand::WriteBlock);
    BootloaderReport addressReport{};
    for (int i = 0; i < 4; ++i) addressReport[1 + i] = static_cast<uint8_t>(address >> (8 * i));
    BootloaderReport data{};
    std::memcpy(data.data() + 1, image.Block(block), kFirmwareBlockSize);
    for (const BootloaderReport* out : {&command, &addressReport, &data}) {
      if (!WriteReport(out->data(), kBootloaderReportSize)) {
        TraceLog << "Failed to write." << std::endl;
        return UpdateIoError;
      }
    }
    report.fill(0);
    if (!ReadReport(report.data(), kBootloaderReportSize, kReplyTimeoutMs)) {
      TraceLog << "Failed to read." << std::endl;
      return UpdateIoError;
    }
    if (report[1] != 1) {
      TraceLog << "Protocol error." << std::endl;
      return UpdateProtocolError;
    }
  }
  return UpdateOk;
}
