// ulktool firmware pack / firmware info / update / leave-bootloader.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "device/TraceLog.h"
#include "device/Utf8.h"
#include "firmware/FirmwareFile.h"
#include "firmware/UpdateFileCheck.h"
#include "firmware/UpdateMessages.h"
#include "firmware/UpdateTask.h"
#include "tool/ProgressBar.h"
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

// A version option's text as a number; false (with why) when it is not one.
bool ParseVersionOption(const std::string& name, const std::string& text, uint16_t& version, std::string& problem) {
  if (text.empty()) return true;
  long long value = 0;
  if (!ParseInteger(text, 0, 0xFFFF, value)) {
    problem = name + " takes a 16-bit number such as 0x0401";
    return false;
  }
  version = static_cast<uint16_t>(value);
  return true;
}

void PrintLines(std::ostream& out, const std::vector<std::wstring>& lines) {
  for (const std::wstring& line : lines) out << Narrow(line) << "\n";
}

// --- firmware pack / firmware info

struct PackOptions {
  std::string image, out;
  std::string firmwareVersion, bootloaderVersion, formatVersion, length;
};

int RunPack(ToolContext& context, const PackOptions& o) {
  std::string problem;
  uint16_t firmwareVersion = 0, bootloaderVersion = kRequiredVersion, formatVersion = kFirmwareFormatVersion;
  if (!ParseVersionOption("--firmware-version", o.firmwareVersion, firmwareVersion, problem) ||
      !ParseVersionOption("--bootloader-version", o.bootloaderVersion, bootloaderVersion, problem) ||
      !ParseVersionOption("--format-version", o.formatVersion, formatVersion, problem))
    return context.Usage(problem);
  long long length = 0;
  const bool hasLength = !o.length.empty();
  if (hasLength && !ParseInteger(o.length, INT32_MIN, INT32_MAX, length))
    return context.Usage("--length takes a signed 32-bit number");
  const std::string& imagePath = o.image;
  const std::string& outPath = o.out;

  std::ifstream file;
  if (!IsStandardStream(imagePath)) {
    file.open(FilePath(Widen(imagePath)), std::ios::binary);
    if (!file.is_open()) {
      context.err << "ulktool: cannot open " << imagePath << "\n";
      return kExitFailed;
    }
  } else {
    context.BinaryIn();
  }
  std::istream& in = IsStandardStream(imagePath) ? context.in : file;
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
  if (IsStandardStream(outPath)) {
    context.BinaryOut();
    if (!WriteFirmware(context.out, image, static_cast<int32_t>(length), bootloaderVersion, firmwareVersion,
                       formatVersion) ||
        !context.out.flush()) {
      context.err << "ulktool: cannot write to standard output\n";
      return kExitFailed;
    }
  } else if (!WriteFirmwareFile(Widen(outPath), image, static_cast<int32_t>(length), bootloaderVersion,
                                firmwareVersion, formatVersion)) {
    context.err << "ulktool: cannot write " << outPath << "\n";
    return kExitFailed;
  }
  // With the file on standard output, what it holds is told on standard error.
  std::ostream& told = IsStandardStream(outPath) ? context.err : context.out;
  told << "Wrote " << outPath << ": firmware " << Narrow(FormatVersion(firmwareVersion)) << ", bootloader "
       << Narrow(FormatVersion(bootloaderVersion)) << ", length " << length << "\n";
  return kExitOk;
}

int RunFirmwareInfo(ToolContext& context, const std::string& path) {
  FirmwareImage image;
  UpdateVersions versions;
  FirmwareFileResult read;
  if (IsStandardStream(path)) {
    context.BinaryIn();
    read = ReadFirmware(context.in, image, versions.formatVersion, versions.requiredBootloaderVersion,
                        versions.firmwareVersion);
  } else {
    read = LoadFirmwareFile(Widen(path), image, versions.formatVersion, versions.requiredBootloaderVersion,
                            versions.firmwareVersion);
  }
  UpdateResult problem = UpdateOk;
  switch (read) {
    case FirmwareFileNotOpened:
      problem = UpdateFileNotOpened;
      break;
    case FirmwareFileWrongMagic:
      problem = UpdateNotFirmwareFile;
      break;
    case FirmwareFileEndedEarly:
      context.err << "The firmware file ends early.\n";
      return kExitFailed;
    case FirmwareFileWrongFormat:
      problem = UpdateWrongFormatVersion;
      break;
    case FirmwareFileRead:
      break;
  }
  if (problem != UpdateOk) {
    PrintLines(context.err, UpdateResultLines(problem, versions));
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
    context.err << "The length lies outside the 131072-byte image.\n";
    problem = UpdateNotFirmwareFile;
  } else if (problem == UpdateOk && FirmwareDataBeyondLength(image)) {
    context.err << "The image holds data past the blocks its length programs.\n";
    problem = UpdateNotFirmwareFile;
  } else if (problem == UpdateOk && FirmwareProgrammedBlocks(image) == 0) {
    context.err << "The image programs no block.\n";
    problem = UpdateNotFirmwareFile;
  }
  if (problem != UpdateOk) {
    PrintLines(context.err, UpdateResultLines(problem, versions));
    return kExitFailed;
  }
  return kExitOk;
}

ToolRunner DeclareFirmware(CLI::App& command) {
  struct Options {
    PackOptions pack;
    std::string info;
    CLI::App* packCommand = nullptr;
  };
  auto o = std::make_shared<Options>();
  command.require_subcommand(1);
  o->packCommand = command.add_subcommand("pack", "write a firmware file from a flash image");
  CLI::App& pack = *o->packCommand;
  pack.add_option("IMAGE", o->pack.image, "the flash image, at most 131072 bytes (- for standard input)")->required();
  pack.add_option("OUT", o->pack.out, "the firmware file to write (- for standard output)")->required();
  pack.add_option("--firmware-version", o->pack.firmwareVersion, "the firmware's version, such as 0x0401")
      ->type_name("0xNNNN")
      ->required();
  pack.add_option("--bootloader-version", o->pack.bootloaderVersion, "the bootloader it needs (default 0x0400)")
      ->type_name("0xNNNN");
  pack.add_option("--length", o->pack.length, "the length field (default: the image's size)")->type_name("N");
  pack.add_option("--format-version", o->pack.formatVersion, "the file's format (default 0x0100)")->type_name("0xNNNN");
  CLI::App* info = command.add_subcommand("info", "describe a firmware file");
  info->add_option("FILE", o->info, "the firmware file (- for standard input)")->required();
  return [o](ToolContext& context) {
    return o->packCommand->parsed() ? RunPack(context, o->pack) : RunFirmwareInfo(context, o->info);
  };
}

// --- update

// On a terminal, a bar for the update's progress instead of its lines.
class ToolUpdateBar : public UpdateView {
 public:
  explicit ToolUpdateBar(ProgressBar& bar) : bar_(bar) {}
  void ShowProgress(int blocksDone, int blocksInAll) override {
    const int percent = UpdatePercentage(blocksDone, blocksInAll);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    bar_.Draw(percent * 40 / 100, ' ', std::to_string(percent) + "%");
  }

 private:
  ProgressBar& bar_;
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

// Standard input kept in a temporary file, for the steps that read a firmware
// file by its name (the check, then the update); removed when done.
class SpooledInput {
 public:
  ~SpooledInput() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove(path_, ignored);
  }
  // Up to one byte more than a firmware file, which the reader takes as it
  // would take a longer file.
  bool Spool(std::istream& in) {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) return false;
    std::random_device random;
    path_ = folder / ("ulktool-" + std::to_string(random()) + "-" + std::to_string(random()) + ".dat");
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    std::vector<char> bytes(kFirmwareFileSize + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || !out.is_open()) return false;
    out.write(bytes.data(), in.gcount());
    out.close();
    return !out.fail();
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

int RunUpdate(ToolContext& context, const std::string& path) {
  if (!context.AttachDevice()) return kExitUsage;
  SpooledInput spooled;
  std::wstring file = Widen(path);
  if (IsStandardStream(path)) {
    context.BinaryIn();
    if (!spooled.Spool(context.in)) {
      context.err << "ulktool: standard input could not be kept in a temporary file\n";
      return kExitFailed;
    }
    file = WideName(spooled.Path());
  }
  // A file that cannot be programmed must not send an application firmware
  // into its bootloader, where it would stay without its application.
  FirmwareImage image;
  UpdateVersions checked;
  UpdateResult check = CheckFirmwareFile(file, image, checked);
  if (check != UpdateOk) {
    PrintLines(context.err, UpdateResultLines(check, checked));
    context.err << Narrow(kUpdateFailed) << "\n";
    return kExitFailed;
  }
  CAltimeter& altimeter = Altimeter();
  int status = ConnectForUpdate(context, altimeter);
  if (status != kExitOk && status != kExitNoDevice) return status;

  UpdateResult result;
  {
    // The outcome on standard output, how it goes on standard error; the
    // percentages as a bar where standard error is a terminal, else not at all.
    const bool bar = context.ErrIsTerminal();
    ProgressBar line(context.err);
    BarTaskHost host(context.err, context.out, line);
    ToolUpdateBar drawn(line);
    UpdateProgressLines progressLines;
    result = UpdateFirmwareTask(altimeter, host, file, progressLines, bar ? &drawn : nullptr);
  }
  altimeter.Close();
  if (result == UpdateOk) return kExitOk;
  return result == UpdateChannelNotOpened ? EndWithoutDevice(context) : kExitFailed;
}

ToolRunner DeclareUpdate(CLI::App& command) {
  auto path = std::make_shared<std::string>();
  command.add_option("FILE", *path, "the firmware file (- for standard input)")->required();
  return [path](ToolContext& context) { return RunUpdate(context, *path); };
}

// --- leave-bootloader

int RunLeaveBootloader(ToolContext& context) {
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
    context.err << "The bootloader could not be told to leave.\n";
    return result == UpdateChannelNotOpened ? kExitNoDevice : kExitFailed;
  }
  context.out << "The device leaves its bootloader and starts its application firmware.\n";
  return kExitOk;
}

}  // namespace

ULK_TOOL_COMMAND("firmware",
                 "firmware pack IMAGE.bin OUT.dat --firmware-version 0xNNNN [--bootloader-version 0x0400] "
                 "[--length N] [--format-version 0x0100] | firmware info FILE.dat",
                 "write a firmware file from a flash image, or describe one", DeclareFirmware);
ULK_TOOL_COMMAND("update", "update FILE.dat", "update the device's firmware through its bootloader", DeclareUpdate);
ULK_TOOL_COMMAND("leave-bootloader", "leave-bootloader", "send the bootloader back to the application firmware",
                 [](CLI::App&) -> ToolRunner { return RunLeaveBootloader; });
