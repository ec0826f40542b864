// The real HID services of Windows behind the seam: SetupAPI for the walk,
// CreateFileW, HidD_GetAttributes and HidD_SetNumInputBuffers, overlapped
// ReadFile/WriteFile completed through the channel's event.
#include <windows.h>
// windows.h first: the HID and SetupAPI headers need its types. mingw's
// hidsdi.h declares C functions without saying so.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <vector>

#include "device/HidHost.h"

namespace {

class Win32HidHost : public HidHost {
 public:
  bool InterfacePath(uint32_t index, std::wstring& path) override {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data)) {
      SetupDiDestroyDeviceInfoList(set);
      return false;
    }
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    // The detail is a variable-length record; its size field names only the fixed part.
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > 65536) {
      SetupDiDestroyDeviceInfoList(set);
      return false;
    }
    std::vector<unsigned char> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    bool read = SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr) != FALSE;
    SetupDiDestroyDeviceInfoList(set);
    if (!read) return false;
    path = detail->DevicePath;
    return true;
  }

  HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t share, bool overlapped) override {
    return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0,
                       nullptr);
  }

  void CloseHandle(HidHandle handle) override { ::CloseHandle(handle); }

  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    HIDD_ATTRIBUTES attrs{};
    attrs.Size = sizeof attrs;
    if (!HidD_GetAttributes(handle, &attrs)) return false;
    attributes.size = attrs.Size;
    attributes.vendorId = attrs.VendorID;
    attributes.productId = attrs.ProductID;
    attributes.versionNumber = attrs.VersionNumber;
    return true;
  }

  bool SetInputRingSize(HidHandle handle, uint32_t reports) override {
    return HidD_SetNumInputBuffers(handle, reports) != FALSE;
  }

  HidEvent CreateIoEvent() override { return CreateEventW(nullptr, TRUE, TRUE, L""); }

  void CloseIoEvent(HidEvent event) override { ::CloseHandle(event); }

  bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped& record,
                  uint32_t timeoutMs) override {
    OVERLAPPED ov = Record(record);
    BOOL started = ReadFile(handle, buffer, length, nullptr, &ov);
    return Finish(handle, ov, started, timeoutMs);
  }

  bool WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped& record,
                   uint32_t timeoutMs) override {
    OVERLAPPED ov = Record(record);
    BOOL started = WriteFile(handle, buffer, length, nullptr, &ov);
    return Finish(handle, ov, started, timeoutMs);
  }

  void Sleep(uint32_t ms) override { ::Sleep(ms); }

  // Real arrivals and removals reach the registered windows as WM_DEVICECHANGE.
  void SetDeviceChangeSink(DeviceChangeSink) override {}

 private:
  static OVERLAPPED Record(const HidOverlapped& record) {
    OVERLAPPED ov{};
    ov.Offset = record.offset;
    ov.OffsetHigh = record.offsetHigh;
    ov.hEvent = record.event;
    return ov;
  }

  // A transfer that fails at once (other than pending) has failed: the event may
  // still be signalled from the previous one. One that times out is cancelled
  // and waited for, so it can never complete into the next exchange's buffer.
  static bool Finish(HidHandle handle, OVERLAPPED& ov, BOOL started, uint32_t timeoutMs) {
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(ov.hEvent, timeoutMs) == WAIT_OBJECT_0) return true;
    CancelIoEx(handle, &ov);
    DWORD transferred = 0;
    GetOverlappedResult(handle, &ov, &transferred, TRUE);
    return false;
  }
};

}  // namespace

std::shared_ptr<HidHost> MakePlatformHidHost() { return std::make_shared<Win32HidHost>(); }
