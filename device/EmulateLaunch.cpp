#include <cmath>
#include <mutex>
#include <vector>

#include "device/Altimeter.h"
#include "device/TraceLog.h"

namespace {

constexpr uint8_t Code(CommandCode code) { return static_cast<uint8_t>(code); }
constexpr uint8_t Code(ReplyCode code) { return static_cast<uint8_t>(code); }

constexpr uint32_t kEventTimeoutMs = 20000;
constexpr uint32_t kCompletionTimeoutMs = 60000;
constexpr uint32_t kPauseBeforeReadMs = 10;
// The first sample stands for the ground while the device settles.
constexpr int kGroundRequests = 113;

// Truncated toward zero, low 16 bits. Done in floating point so that no value
// (huge, infinite or not a number) reaches an undefined integer conversion.
uint16_t SampleValue(double metres) {
  if (!std::isfinite(metres)) return 0;
  double low = std::fmod(std::trunc(metres), 65536.0);
  if (low < 0) low += 65536.0;
  return static_cast<uint16_t>(low);
}

}  // namespace

bool CAltimeter::EmulateLaunch(ShowEmulationEvent* dialog) {
  if (bootloaderMode) return false;
  cancelRequested = false;
  TraceLog << "Emulating Launch..." << std::endl;

  // The series is taken once: the emulation runs through the set selected now.
  std::vector<double> series;
  {
    std::lock_guard<std::recursive_mutex> lock(dataLock);
    series = flight.altitudeMsl;
  }

  if (!SendCommand(0, Code(CommandCode::StartEmulation))) {
    TraceLog << "Write Error." << std::endl;
    return false;
  }

  // A stop sends the reset alone; the device's answer to it is not awaited.
  auto stopByUser = [this] {
    TraceLog << "User ended emulation." << std::endl;
    TraceLog << "Reseting device." << std::endl;
    return SendReset();
  };

  int requestCount = 0;
  size_t sampleIndex = 0;
  bool ending = false;
  while (!ending) {
    CurrentHidHost().Sleep(kPauseBeforeReadMs);
    uint16_t value = 0;
    uint8_t code = 0;
    if (!ReceiveReply(value, &code, kEventTimeoutMs)) {
      TraceLog << "Read Error." << std::endl;
      return false;
    }
    if (dialog && (code != Code(ReplyCode::SampleRequest) || requestCount % 10 == 0))
      dialog->OnEmulationEvent(code, requestCount);

    switch (code) {
      case Code(ReplyCode::SampleRequest): {
        TraceLog << "The device is requesting ADC data. Data: ";
        if (sampleIndex >= series.size()) {
          TraceLog << "End of available data." << std::endl;
          ending = true;
          break;
        }
        uint16_t sample = SampleValue(series[sampleIndex]);
        int k = requestCount++;
        if (k >= kGroundRequests - 1) ++sampleIndex;
        TraceLog << sample << std::endl;
        if (cancelRequested) return stopByUser();
        if (!SendCommand(sample, Code(CommandCode::EmulationSample))) {
          TraceLog << "Write Error" << std::endl;
          return false;
        }
        break;
      }
      case Code(ReplyCode::LaunchDetected):
        TraceLog << "Launch detected." << std::endl;
        break;
      case Code(ReplyCode::LineAFired):
        TraceLog << "Line A fired." << std::endl;
        break;
      case Code(ReplyCode::LineBFired):
        TraceLog << "Line B fired." << std::endl;
        break;
      case Code(ReplyCode::ApogeeDetected):
        TraceLog << "Apogee!" << std::endl;
        TraceLog << "Slope: " << value << std::endl;
        break;
      case Code(ReplyCode::EndOfLaunch):
        TraceLog << "Device indicates end of launch." << std::endl;
        ending = true;
        break;
      default:
        TraceLog << "Unknown code received." << std::endl;
        ending = true;
        break;
    }
    // A device that only reports events must not keep a stopped emulation
    // reading for ever (the dialog's close would wait on it without end).
    if (!ending && code != Code(ReplyCode::SampleRequest) && cancelRequested) return stopByUser();
  }

  if (!SendReset()) return false;
  uint16_t value = 0;
  uint8_t code = 0;
  if (!ReceiveReply(value, &code, kCompletionTimeoutMs)) {
    TraceLog << "Read Error." << std::endl;
    return false;
  }
  return code == Code(ReplyCode::Completion);
}
