// ulktool firmware pack / firmware info / update / leave-bootloader.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#define ULK_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ULK_ISATTY(fd) isatty(fd)
#endif

#include "device/TraceLog.h"
#include "firmware/FirmwareFile.h"
#include "firmware/UpdateFileCheck.h"
#include "firmware/UpdateMessages.h"
#include "firmware/UpdateTask.h"
#include "tool/ToolDevice.h"

namespace {

// How long update waits for the bootloader to arrive after EnterBootloader,
// and how often it looks.
constexpr uint32_t kArrivalWaitMs = 20000;
constexpr uint32_t kArrivalPollMs = 250;

bool ParseInteger(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 0);
  return end && *end == '\0' && value >= low && value <= high;
}

bool ParseVersionOption(ToolContext& context, const char* name, uint16_t& version, std::string& problem) {
  std::string text;
  bool ok = true;
  if (!context.TakeOption(name, text, ok)) {
    if (!ok) problem = std::string(name) + " needs a value";
    return ok;
  }
  long long value = 0;
  if (!ParseInteger(text, 0, 0xFFFF, value)) {
    problem = std::string(name) + " takes a 16-bit number such as 0x0401";
    return false;
  }
  version = static_cast<uint16_t>(value);
  return true;
}

void PrintLines(std::ostream& out, const std::vector<std::wstring>& lines) {
  for (const std::wstring& line : lines) out << Narrow(line) << "\n";
}

// --- firmware pack / firmware info

int RunPack(ToolContext& context) {
  std::string problem;
  uint16_t firmwareVersion = 0, bootloaderVersion = kRequiredVersion, formatVersion = kFirmwareFormatVersion;
  bool hasFirmware = context.args.end() != std::find_if(context.args.begin(), context.args.end(), [](auto& a) {
                       return a == "--firmware-version" || a.rfind("--firmware-version=", 0) == 0;
                     });
  if (!ParseVersionOption(context, "--firmware-version", firmwareVersion, problem) ||
      !ParseVersionOption(context, "--bootloader-version", bootloaderVersion, problem) ||
      !ParseVersionOption(context, "--format-version", formatVersion, problem))
    return context.Usage(problem);
  if (!hasFirmware) return context.Usage("firmware pack needs --firmware-version");
  std::string lengthText;
  bool ok = true;
  bool hasLength = context.TakeOption("--length", lengthText, ok);
  if (!ok) return context.Usage("--length needs a value");
  long long length = 0;
  if (hasLength && !ParseInteger(lengthText, INT32_MIN, INT32_MAX, length))
    return context.Usage("--length takes a signed 32-bit number");
  if (context.args.size() != 3) return context.Usage("firmware pack takes IMAGE.bin and OUT.dat");
  const std::string& imagePath = context.args[1];
  const std::string& outPath = context.args[2];

  std::ifstream in(imagePath, std::ios::binary);
  if (!in.is_open()) {
    context.err << "ulktool: cannot open " << imagePath << "\n";
    return kExitFailed;
  }
  // One byte more than an image can hold tells a file that is too large.
  std::vector<uint8_t> image(static_cast<size_t>(kFirmwareImageSize) + 1);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad()) {
    context.err << "ulktool: cannot read " << imagePath << "\n";
    return kExitFailed;
  }
  image.resize(static_cast<size_t>(in.gcount()));
  if (image.size() > static_cast<size_t>(kFirmwareImageSize)) {
    context.err << "ulktool: " << imagePath << " is larger than the 131072-byte flash image\n";
    return kExitFailed;
  }
  if (!hasLength) length = static_cast<long long>(image.size());
  if (!WriteFirmwareFile(Widen(outPath), image, static_cast<int32_t>(length), bootloaderVersion, firmwareVersion,
                         formatVersion)) {
    context.err << "ulktool: cannot write " << outPath << "\n";
    return kExitFailed;
  }
  context.out << "Wrote " << outPath << ": firmware " << Narrow(FormatVersion(firmwareVersion)) << ", bootloader "
              << Narrow(FormatVersion(bootloaderVersion)) << ", length " << length << "\n";
  return kExitOk;
}

int RunInfo(ToolContext& context) {
  if (context.args.size() != 2) return context.Usage("firmware info takes FILE.dat");
  FirmwareImage image;
  UpdateVersions versions;
  FirmwareFileResult read = LoadFirmwareFile(Widen(context.args[1]), image, versions.formatVersion,
                                             versions.requiredBootloaderVersion, versions.firmwareVersion);
  UpdateResult problem = UpdateOk;
  switch (read) {
    case FirmwareFileNotOpened:
      problem = UpdateFileNotOpened;
      break;
    case FirmwareFileWrongMagic:
      problem = UpdateNotFirmwareFile;
      break;
    case FirmwareFileEndedEarly:
      context.out << "The firmware file ends early.\n";
      return kExitFailed;
    case FirmwareFileWrongFormat:
      problem = UpdateWrongFormatVersion;
      break;
    case FirmwareFileRead:
      break;
  }
  if (problem != UpdateOk) {
    PrintLines(context.out, UpdateResultLines(problem, versions));
    return kExitFailed;
  }
  auto version = [](uint16_t v) { return Narrow(FormatVersion(v)); };
  context.out << "File version: " << version(versions.formatVersion) << "\n"
              << "Required bootloader version: " << version(versions.requiredBootloaderVersion) << "\n"
              << "Firmware version: " << version(versions.firmwareVersion) << "\n"
              << "Length: " << image.length << "\n";
  const int32_t lastBlock = FirmwareLastBlock(image.length);
  if (lastBlock >= 0) {
    // The programmed blocks as ranges; erased blocks are skipped by the update.
    std::ostringstream ranges;
    int32_t programmed = 0, start = -1;
    for (int32_t block = 0; block <= lastBlock + 1; ++block) {
      bool sent = block <= lastBlock && !image.BlockIsErased(block);
      if (sent && start < 0) start = block;
      if (!sent && start >= 0) {
        ranges << (programmed ? ", " : "") << start;
        if (block - 1 > start) ranges << "-" << block - 1;
        programmed += block - start;
        start = -1;
      }
    }
    context.out << "Blocks: 0 to " << lastBlock << ", " << programmed << " programmed";
    if (programmed) context.out << " (" << ranges.str() << ")";
    context.out << "\n";
  }
  if ((versions.requiredBootloaderVersion & kVersionMask) != kRequiredVersion) problem = UpdateWrongBootloaderVersion;
  else if ((versions.firmwareVersion & kVersionMask) != kRequiredVersion) problem = UpdateWrongFirmwareVersion;
  if (problem == UpdateOk && lastBlock < 0) {
    context.out << "The length lies outside the 131072-byte image.\n";
    problem = UpdateNotFirmwareFile;
  } else if (problem == UpdateOk && FirmwareDataBeyondLength(image)) {
    context.out << "The image holds data past the blocks its length programs.\n";
    problem = UpdateNotFirmwareFile;
  } else if (problem == UpdateOk && FirmwareProgrammedBlocks(image) == 0) {
    context.out << "The image programs no block.\n";
    problem = UpdateNotFirmwareFile;
  }
  if (problem != UpdateOk) {
    PrintLines(context.out, UpdateResultLines(problem, versions));
    return kExitFailed;
  }
  return kExitOk;
}

int RunFirmware(ToolContext& context) {
  if (context.args.empty()) return context.Usage("firmware needs pack or info");
  if (context.args[0] == "pack") return RunPack(context);
  if (context.args[0] == "info") return RunInfo(context);
  return context.Usage("unknown firmware command \"" + context.args[0] + "\"");
}

// --- update

// On a terminal, a bar for the update's progress instead of its lines.
class ToolUpdateBar : public UpdateView {
 public:
  explicit ToolUpdateBar(std::ostream& out) : out_(out) {}
  ~ToolUpdateBar() override {
    if (drawn_) out_ << "\n";
  }
  void ShowProgress(int blocksDone, int blocksInAll) override {
    int percent = UpdatePercentage(blocksDone, blocksInAll);
    if (drawn_ && percent == lastPercent_) return;
    lastPercent_ = percent;
    constexpr int kWidth = 40;
    int filled = percent * kWidth / 100;
    out_ << "\r[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), ' ')
         << "] " << percent << "%" << std::flush;
    drawn_ = true;
  }

 private:
  std::ostream& out_;
  bool drawn_ = false;
  int lastPercent_ = -1;
};

void ReportBootloaderConnect(ToolContext& context, ConnectResult result, uint16_t version) {
  switch (result) {
    case Connected:
      context.err << "Device connected in bootloader mode.\n"
                  << "Device bootloader version: " << Narrow(FormatVersion(version)) << "\n";
      break;
    case CannotOpen:
      context.err << "Device found in bootloader mode. Unable to connect to device.\n"
                     "Please ensure it is not being used by another application.\n"
                     "Removing the device and re-attaching it should correct this.\n";
      break;
    case IncompatibleVersion:
      context.err << "Device found in bootloader mode, but has incompatible bootloader version.\n"
                  << "Current device bootloader version: " << Narrow(FormatVersion(version)) << "\n"
                  << "Required device bootloader version: " << Narrow(FormatVersion(kRequiredVersion)) << "\n";
      break;
    case NotFound:
      break;
  }
}

// Connects to the bootloader as the update dialog does; an application
// firmware is sent into its bootloader first, and the bootloader awaited.
int ConnectForUpdate(ToolContext& context, CAltimeter& altimeter) {
  uint16_t version = 0;
  ConnectResult result = altimeter.Connect(&version, true);
  if (result != NotFound) {
    ReportBootloaderConnect(context, result, version);
    return result == Connected ? kExitOk : kExitNoDevice;
  }
  ConnectResult second = altimeter.Connect(&version, false);
  if (second == IncompatibleVersion && !altimeter.bootloaderMode) {
    // Its commands may not be ours: it is told nothing.
    context.err << "Device found, but is not in bootloader mode.\n"
                << "Device found, but has incompatible firmware version.\n"
                << "Current device firmware version: " << Narrow(FormatVersion(version)) << "\n";
    return kExitNoDevice;
  }
  if (second == IncompatibleVersion) {
    // The last device connected was a bootloader: nothing to tell.
    altimeter.Close();
    altimeter.cancelRequested = false;
    altimeter.bootloaderMode = false;
    return kExitNoDevice;
  }
  if (second != Connected) {
    context.err << "Device not found.\n";
    return kExitNoDevice;
  }
  context.err << "Device found, but is not in bootloader mode.\n";
  // The device restarts at once and may not answer the completion.
  altimeter.EnterBootloader();
  HidHost& host = CurrentHidHost();
  for (uint32_t waited = 0; waited < kArrivalWaitMs; waited += kArrivalPollMs) {
    host.Sleep(kArrivalPollMs);
    result = altimeter.Connect(&version, true);
    if (result != NotFound) {
      ReportBootloaderConnect(context, result, version);
      return result == Connected ? kExitOk : kExitNoDevice;
    }
  }
  context.err << "The device did not arrive in bootloader mode.\n";
  return kExitNoDevice;
}

int RunUpdate(ToolContext& context) {
  if (context.args.size() != 1) return context.Usage("update takes FILE.dat");
  const std::string path = context.args[0];
  if (!context.AttachDevice()) return kExitUsage;
  // A file that cannot be programmed must not send an application firmware
  // into its bootloader, where it would stay without its application.
  FirmwareImage image;
  UpdateVersions checked;
  UpdateResult check = CheckFirmwareFile(Widen(path), image, checked);
  if (check != UpdateOk) {
    PrintLines(context.out, UpdateResultLines(check, checked));
    context.out << Narrow(kUpdateFailed) << "\n";
    return kExitFailed;
  }
  CAltimeter& altimeter = Altimeter();
  int status = ConnectForUpdate(context, altimeter);
  if (status != kExitOk && status != kExitNoDevice) return status;

  UpdateResult result;
  {
    // Every line on standard output, as the tool has always written them.
    const bool bar = &context.out == &std::cout && ULK_ISATTY(1);
    ToolTaskHost host(context.out, context.out, false, bar ? nullptr : &context.out);
    ToolUpdateBar drawn(context.out);
    UpdateProgressLines progressLines;
    result = UpdateFirmwareTask(altimeter, host, Widen(path), progressLines, bar ? &drawn : nullptr);
  }
  altimeter.Close();
  if (result == UpdateOk) return kExitOk;
  return result == UpdateChannelNotOpened ? EndWithoutDevice(context) : kExitFailed;
}

// --- leave-bootloader

int RunLeaveBootloader(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("leave-bootloader takes no arguments");
  if (!context.AttachDevice()) return kExitUsage;
  CAltimeter& altimeter = Altimeter();
  uint16_t version = 0;
  ConnectResult connected = altimeter.Connect(&version, true);
  ReportBootloaderConnect(context, connected, version);
  if (connected != Connected) {
    if (connected == NotFound) context.err << "Device not found.\n";
    context.err << kAltimeterNotFound << "\n";
    return EndWithoutDevice(context);
  }
  UpdateResult result = altimeter.LeaveBootloader();
  altimeter.Close();
  if (result != UpdateOk) {
    context.out << "The bootloader could not be told to leave.\n";
    return result == UpdateChannelNotOpened ? kExitNoDevice : kExitFailed;
  }
  context.out << "The device leaves its bootloader and starts its application firmware.\n";
  return kExitOk;
}

}  // namespace

ULK_TOOL_COMMAND("firmware",
                 "firmware pack IMAGE.bin OUT.dat --firmware-version 0xNNNN [--bootloader-version 0x0400] "
                 "[--length N] [--format-version 0x0100] | firmware info FILE.dat",
                 "write a firmware file from a flash image, or describe one", RunFirmware);
ULK_TOOL_COMMAND("update", "update FILE.dat", "update the device's firmware through its bootloader", RunUpdate);
ULK_TOOL_COMMAND("leave-bootloader", "leave-bootloader", "send the bootloader back to the application firmware",
                 RunLeaveBootloader);
