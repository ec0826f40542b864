#include "settings/ControlTasks.h"

#include <cstring>
#include <type_traits>

#include "device/TraceLog.h"
#include "settings/ControlOptionsLines.h"

namespace {

// A line in the status box for each event the emulation reports.
class EventLines : public ShowEmulationEvent {
 public:
  explicit EventLines(TaskHost& host) : host_(host) {}
  void OnEmulationEvent(uint8_t code, int requestCount) override {
    const std::wstring line = EmulationEventLine(code, requestCount);
    if (!line.empty()) host_.AppendResult(line);
  }

 private:
  TaskHost& host_;
};

}  // namespace

ControlOutcome ReadAltitudeTask(CAltimeter& altimeter, TaskHost& host) {
  host.ShowBusy(true);
  if (!altimeter.IsOpen()) {
    host.AppendStatus(kAltimeterNotFoundLine);
    host.ShowBusy(false);
    return ControlOutcome::NotConnected;
  }
  // The settings are read only as the device's handshake before the altitude;
  // the program's own record must come out of it exactly as it went in.
  static_assert(std::is_trivially_copyable_v<SettingsRecord>);
  unsigned char saved[sizeof(SettingsRecord)];
  std::memcpy(saved, &altimeter.settings, sizeof saved);
  const CommandResult read = altimeter.ReadSettings();
  altimeter.settings.ParsePacket();
  std::memcpy(&altimeter.settings, saved, sizeof saved);
  if (read != Ok) {
    host.AppendStatus(L"Failed to read settings.\r\n");
    host.ShowBusy(false);
    return ControlOutcome::Failed;
  }
  float metres = 0;
  if (altimeter.ReadAltitude(metres) != Ok) {
    host.AppendStatus(L"Failed.\r\n");
    host.ShowBusy(false);
    return ControlOutcome::Failed;
  }
  host.AppendResult(AltitudeLine(metres));
  host.ShowBusy(false);
  host.RequestRedraw();
  return ControlOutcome::Done;
}

ControlOutcome ReadVoltageTask(CAltimeter& altimeter, TaskHost& host) {
  host.ShowBusy(true);
  if (!altimeter.IsOpen()) {
    host.AppendStatus(kAltimeterNotFoundLine);
    host.ShowBusy(false);
    return ControlOutcome::NotConnected;
  }
  uint16_t tenths = 0;
  if (altimeter.ReadVoltage(tenths) != Ok) {
    host.AppendStatus(L"Failed.\r\n");
    host.ShowBusy(false);
    return ControlOutcome::Failed;
  }
  host.AppendResult(VoltageLine(tenths));
  TraceLog << "Notifying connection..." << std::endl;
  host.ShowBusy(false);
  TraceLog << "Done." << std::endl;
  return ControlOutcome::Done;
}

ControlOutcome FireLinesTask(CAltimeter& altimeter, TaskHost& host) {
  host.ShowBusy(true);
  ControlOutcome outcome = ControlOutcome::NotConnected;
  if (altimeter.IsOpen()) {
    host.AppendStatus(L"Firing both lines for 2 seconds...\r\n");
    if (altimeter.FireLines() == Ok) {
      host.AppendResult(L"Done.\r\n");
      outcome = ControlOutcome::Done;
    } else {
      host.AppendStatus(L"Failed.\r\n");
      outcome = ControlOutcome::Failed;
    }
  } else {
    host.AppendStatus(kAltimeterNotFoundLine);
  }
  host.ShowBusy(false);
  return outcome;
}

ControlOutcome EmulateLaunchTask(CAltimeter& altimeter, TaskHost& host) {
  host.ShowBusy(true);
  ControlOutcome outcome = ControlOutcome::NotConnected;
  if (altimeter.IsOpen()) {
    host.AppendResult(L"Emulating...\r\n");
    EventLines lines(host);
    const bool done = altimeter.EmulateLaunch(&lines);
    host.AppendResult(done ? L"Done.\r\n" : L"Failed.\r\n");
    outcome = done ? ControlOutcome::Done : ControlOutcome::Failed;
  } else {
    host.AppendStatus(kAltimeterNotFoundLine);
  }
  host.ShowBusy(false);
  return outcome;
}
