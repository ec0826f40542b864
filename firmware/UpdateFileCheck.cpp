#include "firmware/UpdateFileCheck.h"

#include "device/TraceLog.h"

UpdateResult CheckFirmwareFile(const std::wstring& path, FirmwareImage& image, UpdateVersions& versions) {
  uint16_t format = 0, bootloader = 0, firmware = 0;
  switch (LoadFirmwareFile(path, image, format, bootloader, firmware)) {
    case FirmwareFileNotOpened:
      return UpdateFileNotOpened;
    case FirmwareFileWrongMagic:
      return UpdateNotFirmwareFile;
    case FirmwareFileEndedEarly:
      return UpdateProtocolError;
    case FirmwareFileWrongFormat:
      versions.formatVersion = format;
      return UpdateWrongFormatVersion;
    case FirmwareFileRead:
      versions.formatVersion = format;
      break;
  }
  versions.requiredBootloaderVersion = bootloader;
  if ((bootloader & kVersionMask) != kRequiredVersion) return UpdateWrongBootloaderVersion;
  versions.firmwareVersion = firmware;
  if ((firmware & kVersionMask) != kRequiredVersion) return UpdateWrongFirmwareVersion;
  if (FirmwareLastBlock(image.length) < 0) {
    TraceLog << "Invalid image length: " << image.length << std::endl;
    return UpdateNotFirmwareFile;
  }
  // An update that would program part of the image, or none of it, is never
  // begun: a device left so has no whole application to start.
  if (FirmwareDataBeyondLength(image)) {
    TraceLog << "The image holds data past its length: " << image.length << std::endl;
    return UpdateNotFirmwareFile;
  }
  if (FirmwareProgrammedBlocks(image) == 0) {
    TraceLog << "The image programs no block." << std::endl;
    return UpdateNotFirmwareFile;
  }
  return UpdateOk;
}
