#include "simulator/SimHost.h"

#include <chrono>
#include <cstdlib>

SimHost::SimHost(std::shared_ptr<SimBus> bus) : bus_(std::move(bus)) {}

SimHost::~SimHost() {
  stop_ = true;
  if (pump_.joinable()) pump_.join();
}

bool SimHost::InterfacePath(uint32_t index, std::wstring& path) { return bus_->InterfacePath(index, path); }

HidHandle SimHost::OpenPath(const std::wstring& path, uint32_t access, uint32_t share, bool) {
  return bus_->OpenPath(path, access, share);
}

void SimHost::CloseHandle(HidHandle handle) { bus_->CloseHandle(handle); }

bool SimHost::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  return bus_->GetAttributes(handle, attributes);
}

HidEvent SimHost::CreateIoEvent() { return reinterpret_cast<HidEvent>(nextEvent_.fetch_add(4)); }

void SimHost::CloseIoEvent(HidEvent) {}

bool SimHost::ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped&, uint32_t timeoutMs) {
  return bus_->Read(handle, buffer, length, timeoutMs);
}

bool SimHost::WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped&,
                          uint32_t timeoutMs) {
  return bus_->Write(handle, buffer, length, timeoutMs);
}

bool SimHost::SetInputRingSize(HidHandle handle, uint32_t reports) { return bus_->SetInputRing(handle, reports); }

void SimHost::Sleep(uint32_t ms) { bus_->Sleep(ms); }

void SimHost::SetDeviceChangeSink(DeviceChangeSink sink) {
  bus_->SetDeviceChangeSink(std::move(sink));
  if (bus_->Clock().RealTime() && !pump_.joinable()) {
    pump_ = std::thread([this] {
      while (!stop_) {
        bus_->Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
}

std::wstring SimDevicePath(int number, uint16_t productId) {
  return L"\\\\?\\hid#vid_03db&pid_000" + std::to_wstring(productId) + L"#sim&" + std::to_wstring(number) +
         L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

std::string SimScenarioHelp() {
  return "  sim                  one flight computer, application firmware 4.05\n"
         "  sim:version=0xNNNN   its application firmware has this version (0x0310: incompatible)\n"
         "  sim:bootloader       it is in its bootloader (version 4.00)\n"
         "  sim:bootloader-version=0xNNNN, sim:hardware-version=0xNNNN\n"
         "  sim:two              two flight computers at once\n"
         "  sim:held             the flight computer is held open by another program\n"
         "  sim:empty, sim:full, sim:glitch   no flights recorded, all 1520 packets, implausible words\n"
         "  sim:ground=METRES    ground altitude above sea level\n"
         "  sim:latency=US       time of one report on the bus in microseconds (default 1000;\n"
         "                       at 0 the device keeps pace with the reader and no report is lost)\n"
         "  sim:ring=N           unread reports the driver keeps per reader (default 32;\n"
         "                       the program raises it to 512 when it opens the device)\n"
         "  sim:clock=virtual    do not pace in real time\n"
         "  sim:image=FILE       the programmed firmware image is kept in FILE\n"
         "  sim:erase-silent, sim:refuse-block=N, sim:unplug-at-block=N   bootloader faults\n"
         "  words combine with commas: sim:two,bootloader\n";
}

namespace {

bool ParseNumber(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 0);
  return end && *end == '\0';
}

}  // namespace

std::shared_ptr<SimHost> MakeSimHost(const std::string& scenario, std::string& error) {
  SimFlightComputer::Config config;
  SimFaults faults;
  int count = 1;
  bool held = false;
  bool realTime = true;
  long latency = 1000;
  long ring = 32;
  size_t start = 0;
  while (start <= scenario.size() && !scenario.empty()) {
    size_t comma = scenario.find(',', start);
    std::string word = scenario.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? scenario.size() + 1 : comma + 1;
    std::string key = word, value;
    size_t eq = word.find('=');
    if (eq != std::string::npos) {
      key = word.substr(0, eq);
      value = word.substr(eq + 1);
    }
    long number = 0;
    bool numeric = ParseNumber(value, number);
    if (key == "bootloader" && eq == std::string::npos) {
      config.startInBootloader = true;
    } else if (key == "two" && eq == std::string::npos) {
      count = 2;
    } else if (key == "held" && eq == std::string::npos) {
      held = true;
    } else if (key == "version" && numeric && number >= 0 && number <= 0xFFFF) {
      config.applicationVersion = static_cast<uint16_t>(number);
    } else if (key == "bootloader-version" && numeric && number >= 0 && number <= 0xFFFF) {
      config.bootloaderVersion = static_cast<uint16_t>(number);
    } else if (key == "hardware-version" && numeric && number >= 0 && number <= 0xFFFF) {
      config.hardwareVersion = static_cast<uint16_t>(number);
    } else if (key == "ground" && numeric && number > -500 && number < 30000) {
      config.groundAltitude = static_cast<double>(number);
    } else if (key == "latency" && numeric && number >= 0 && number <= 1000000) {
      latency = number;
    } else if (key == "ring" && numeric && number >= long{SimBus::kMinInputRing} &&
               number <= long{SimBus::kMaxInputRing}) {
      ring = number;
    } else if (key == "image" && !value.empty()) {
      config.imagePath = value;
    } else if (key == "erase-silent" && eq == std::string::npos) {
      faults.noEraseAnswer = true;
    } else if (key == "refuse-block" && numeric && number >= 0 && number < 2048) {
      faults.refuseBlock = static_cast<int>(number);
    } else if (key == "unplug-at-block" && numeric && number >= 0 && number < 2048) {
      faults.removeAtBlock = static_cast<int>(number);
    } else if (key == "clock" && (value == "virtual" || value == "real")) {
      realTime = value == "real";
    } else if ((key == "empty" || key == "full" || key == "glitch" || key == "three") && eq == std::string::npos) {
      config.flights = key;
    } else {
      error = "unknown simulator scenario \"" + word + "\"; the scenarios are:\n" + SimScenarioHelp();
      return nullptr;
    }
  }

  auto bus = std::make_shared<SimBus>(realTime);
  bus->replyLatencyUs = static_cast<uint64_t>(latency);
  bus->inputRingReports = static_cast<uint32_t>(ring);
  auto host = std::make_shared<SimHost>(bus);
  for (int i = 0; i < count; ++i) {
    SimFlightComputer::Config c = config;
    c.seed = config.seed + static_cast<uint32_t>(i);
    auto device = std::make_shared<SimFlightComputer>(c);
    device->faults = faults;
    uint16_t product = c.startInBootloader ? 1 : 2;
    uint16_t version = c.startInBootloader ? c.bootloaderVersion : c.applicationVersion;
    int slot = bus->AddSlot(SimDevicePath(i + 1, product), product, version, device);
    bus->Plug(slot);
    if (held) bus->HoldOpen(slot);
    host->devices.push_back(device);
  }
  bus->Pump();  // the initial arrivals are not told: the devices were there first
  return host;
}
