// The platform's real HID off Windows: the hidapi host where this build found
// hidapi, else a bus with no devices.
#include "device/HidHost.h"
#include "device/HidHostHidapi.h"

#ifndef _WIN32

#include <chrono>
#include <thread>

namespace {

class NoDeviceHost : public HidHost {
 public:
  bool InterfacePath(uint32_t, std::wstring&) override { return false; }
  HidHandle OpenPath(const std::wstring&, uint32_t, uint32_t, bool) override { return kInvalidHidHandle; }
  void CloseHandle(HidHandle) override {}
  bool GetAttributes(HidHandle, HidAttributes&) override { return false; }
  HidEvent CreateIoEvent() override { return nullptr; }
  void CloseIoEvent(HidEvent) override {}
  bool ReadReport(HidHandle, uint8_t*, uint32_t, HidOverlapped&, uint32_t) override { return false; }
  bool WriteReport(HidHandle, const uint8_t*, uint32_t, HidOverlapped&, uint32_t) override { return false; }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  void SetDeviceChangeSink(DeviceChangeSink) override {}
};

}  // namespace

std::shared_ptr<HidHost> MakePlatformHidHost() {
#ifdef ULK_HAVE_HIDAPI
  return MakeHidapiHost(HidapiLibraryCalls());
#else
  return std::make_shared<NoDeviceHost>();
#endif
}

#endif
