// One simulated flight computer: the hardware state that survives restarts
// (settings store, flight memory, the programmed image) and its two
// personalities, the application firmware and the bootloader, of which one
// answers the host at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simulator/SimBus.h"

class SimApplicationFirmware;
class SimBootloader;

// The settings a new device holds until they are written, and again after ResetSettings.
inline constexpr std::array<uint8_t, 22> kSimDefaultSettings = {0x01, 0x3C, 0x00, 0x14, 0x00, 0x50, 0x00, 0x00,
                                                                 0x32, 0x96, 0x00, 0x96, 0x00, 0x00, 0x00, 0x04,
                                                                 0x00, 0x00, 0x14, 0x14, 0xE9, 0x02};

// Faults injected into the exchanges, counted per device from its start
// (tests that aim at one exchange count from repliesSent / writesSeen).
struct SimFaults {
  // A reply that is not sent, or a completion sent early, ends the device's
  // answer: nothing more is sent until the host writes again.
  int noReplyAt = -1;              // reply number n (from 0) is never sent
  int codeAt = -1;                 // reply number n carries replyCode instead of its own code
                                   // (a bootloader answer: replyCode in place of its byte 1)
  uint8_t replyCode = 0;
  int lateAt = -1;                 // reply number n, and so those after it, go out lateByUs later
  uint64_t lateByUs = 0;
  int prematureCompletionAt = -1;  // a completion (code 5) takes the place of reply number n
  int failWriteAt = -1;            // the host's write number n (from 0) fails
  int removeAt = -1;               // the device leaves the bus instead of sending reply number n
  bool noEraseAnswer = false;      // the bootloader erases but never answers EraseFlash
  int refuseBlock = -1;            // the bootloader answers 0 to the write of block n (address n x 64)
  int removeAtBlock = -1;          // the device leaves the bus when the data of block n arrives
};

class SimFlightComputer : public SimDeviceModel {
 public:
  struct Config {
    uint16_t applicationVersion = 0x0405;
    uint16_t bootloaderVersion = 0x0400;
    uint16_t hardwareVersion = 0x0400;
    bool startInBootloader = false;
    double groundAltitude = 1320.0;  // metres above sea level
    std::string flights = "three";   // recorded flights (scenario word)
    uint32_t seed = 1;
    std::string imagePath;           // the programmed image persists in this file (scenario word image=)
  };

  explicit SimFlightComputer(const Config& config);
  ~SimFlightComputer() override;

  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override;
  // 4 bytes for the application firmware, 65 for the bootloader.
  size_t OutputReportLength() const override { return inBootloader_ ? 65 : 4; }

  // Queues one reply through the fault counter; the reply code is byte 3 of
  // an application reply (a bootloader reply is passed on as it is).
  void Reply(SimBus& bus, int slot, std::vector<uint8_t> report, uint64_t delayUs = 0);
  // Leaves the bus at once and comes back after delayUs with the other personality.
  void Restart(SimBus& bus, int slot, bool intoBootloader, uint64_t delayUs);

  bool InBootloader() const { return inBootloader_; }
  const Config& GetConfig() const { return config_; }
  SimApplicationFirmware& Application() { return *application_; }
  SimBootloader& Bootloader() { return *bootloader_; }

  SimFaults faults;
  int repliesSent = 0;
  int writesSeen = 0;
  bool answerEnded = false;  // set by the faults above, cleared by the host's next write

  // Hardware state, kept across restarts.
  std::array<uint8_t, 22> settingsStore{};
  std::vector<uint8_t> flash;         // 1520 packets of 64 bytes; 0xFF = erased
  std::vector<uint8_t> programImage;  // 128 KiB as programmed by the bootloader
  // Both line outputs are on until this time on the bus clock (µs), after FireLines.
  uint64_t linesOnUntilUs = 0;
  bool LinesOn(uint64_t nowUs) const { return nowUs < linesOnUntilUs; }

 private:
  Config config_;
  bool inBootloader_;
  std::unique_ptr<SimApplicationFirmware> application_;
  std::unique_ptr<SimBootloader> bootloader_;
};
