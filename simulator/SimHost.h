// The simulated flight computer behind the HidHost seam, and the scenarios
// that a device spec "sim:..." chooses.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/HidHost.h"
#include "simulator/SimBus.h"
#include "simulator/SimFlightComputer.h"

class SimHost : public HidHost {
 public:
  explicit SimHost(std::shared_ptr<SimBus> bus);
  ~SimHost() override;

  bool InterfacePath(uint32_t index, std::wstring& path) override;
  HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t share, bool overlapped) override;
  void CloseHandle(HidHandle handle) override;
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  HidEvent CreateIoEvent() override;
  void CloseIoEvent(HidEvent event) override;
  bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped& record,
                  uint32_t timeoutMs) override;
  bool WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped& record,
                   uint32_t timeoutMs) override;
  bool SetInputRingSize(HidHandle handle, uint32_t reports) override;
  void Sleep(uint32_t ms) override;
  void SetDeviceChangeSink(DeviceChangeSink sink) override;

  SimBus& Bus() { return *bus_; }
  std::shared_ptr<SimBus> BusShared() { return bus_; }
  // The flight computers of the scenario, in slot order.
  std::vector<std::shared_ptr<SimFlightComputer>> devices;

 private:
  std::shared_ptr<SimBus> bus_;
  std::atomic<uintptr_t> nextEvent_{0x100};
  // On the real clock, scheduled arrivals happen even while nobody calls the host.
  std::thread pump_;
  std::atomic<bool> stop_{false};
};

// A scenario: comma-separated words and key=value options, for example
// "bootloader", "version=0x0310,two", "held", "latency=0,clock=virtual".
// The words are listed by SimScenarioHelp(). Null with a message on an unknown word.
std::shared_ptr<SimHost> MakeSimHost(const std::string& scenario, std::string& error);
std::string SimScenarioHelp();

// A simulated flight computer's interface path on the bus, as Windows writes one.
std::wstring SimDevicePath(int number, uint16_t productId);
