#include "simulator/SimBootloader.h"

#include <algorithm>
#include <fstream>

#include "simulator/SimFlightComputer.h"

namespace {
constexpr size_t kReportSize = 65;
constexpr uint32_t kBlockSize = 64;
}  // namespace

SimBootloader::SimBootloader(SimFlightComputer& device) : device_(device) {
  const std::string& path = device_.GetConfig().imagePath;
  if (path.empty()) return;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return;  // a new device: erased flash
  std::vector<uint8_t>& image = device_.programImage;
  std::vector<uint8_t> stored(image.size(), 0xFF);
  in.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
  if (!in.bad()) image = std::move(stored);
}

SimBootloader::~SimBootloader() {
  const std::string& path = device_.GetConfig().imagePath;
  if (path.empty() || !imageChanged_) return;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(device_.programImage.data()),
            static_cast<std::streamsize>(device_.programImage.size()));
}

void SimBootloader::Answer(SimBus& bus, int slot, uint8_t byte1, uint8_t byte2, uint64_t delayUs) {
  std::vector<uint8_t> report(kReportSize, 0);
  report[1] = byte1;
  report[2] = byte2;
  device_.Reply(bus, slot, std::move(report), delayUs);
}

bool SimBootloader::OnReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) {
  // The bus fails other lengths before they get here; a model used without it ignores them.
  if (report.size() != kReportSize) return true;
  const SimFaults& faults = device_.faults;
  switch (expect_) {
    case Expect::Address:
      address_ = static_cast<uint32_t>(report[1]) | (uint32_t{report[2]} << 8) | (uint32_t{report[3]} << 16) |
                 (uint32_t{report[4]} << 24);
      expect_ = Expect::Data;
      return true;
    case Expect::Data: {
      expect_ = Expect::Command;
      std::vector<uint8_t>& image = device_.programImage;
      const bool inside = address_ <= image.size() && image.size() - address_ >= kBlockSize;
      const bool aimed = inside && address_ % kBlockSize == 0;
      const int block = static_cast<int>(address_ / kBlockSize);
      if (aimed && block == faults.removeAtBlock) {
        bus.Unplug(slot);
        return true;
      }
      if (!inside || (aimed && block == faults.refuseBlock)) {
        Answer(bus, slot, 0);
        return true;
      }
      std::copy(report.begin() + 1, report.end(), image.begin() + address_);
      imageChanged_ = true;
      Answer(bus, slot, 1);
      return true;
    }
    case Expect::Command:
      break;
  }
  switch (report[1]) {
    case 1: {
      uint16_t hardware = device_.GetConfig().hardwareVersion;
      Answer(bus, slot, static_cast<uint8_t>(hardware & 0xFF), static_cast<uint8_t>(hardware >> 8));
      return true;
    }
    case 2:
      expect_ = Expect::Address;
      return true;
    case 3:
      expect_ = Expect::Command;
      device_.Restart(bus, slot, false, kRestartUs);
      return true;
    case 4:
      std::fill(device_.programImage.begin(), device_.programImage.end(), uint8_t{0xFF});
      imageChanged_ = true;
      if (!faults.noEraseAnswer) Answer(bus, slot, 1, 0, kEraseUs);
      return true;
    default:
      return true;
  }
}
