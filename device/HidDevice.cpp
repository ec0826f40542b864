#include "device/HidDevice.h"

#include <cctype>

#include "device/TraceLog.h"

uint8_t CHidDevice::commandBuffer[4];
uint8_t CHidDevice::replyBuffer[4];

std::string NarrowText(const std::wstring& text, size_t limit) {
  std::string out;
  for (wchar_t ch : text) {
    if (out.size() >= limit) break;
    uint32_t c = static_cast<uint32_t>(ch);
    out.push_back(c < 128 ? static_cast<char>(c) : '?');
  }
  return out;
}

CHidDevice::~CHidDevice() { Close(); }

CHidDevice::CHidDevice(const CHidDevice& other)
    : devicePath(other.devicePath), attributes(other.attributes) {}

CHidDevice& CHidDevice::operator=(const CHidDevice& other) {
  if (this != &other) {
    Close();
    devicePath = other.devicePath;
    attributes = other.attributes;
    overlapped = HidOverlapped{};
  }
  return *this;
}

bool CHidDevice::EnumerateInterface(uint32_t index, std::wstring& path) {
  return CurrentHidHost().InterfacePath(index, path);
}

std::vector<CHidDevice> CHidDevice::FindDevices(uint16_t productId, uint16_t version, uint16_t versionMask) {
  std::vector<CHidDevice> found;
  HidHost& host = CurrentHidHost();
  std::wstring path;
  for (uint32_t index = 0; EnumerateInterface(index, path); ++index) {
    HidHandle query = host.OpenPath(path, kNoAccess, kShareRead | kShareWrite, false);
    if (!IsValidHandle(query)) continue;
    HidAttributes attrs;
    if (host.GetAttributes(query, attrs) && attrs.vendorId == kVendorId && attrs.productId == productId &&
        (attrs.versionNumber & versionMask) == version) {
      CHidDevice record;
      record.devicePath = path;
      record.attributes = attrs;
      found.push_back(record);
    }
    host.CloseHandle(query);
  }
  return found;
}

void CHidDevice::AssignDevice(CHidDevice& other) {
  if (this == &other) return;
  Close();
  devicePath = other.devicePath;
  attributes = other.attributes;
  overlapped = other.overlapped;
  readHandle = other.readHandle;
  writeHandle = other.writeHandle;
  ioEvent = other.ioEvent;
  // The handles now belong to this record alone.
  other.overlapped = HidOverlapped{};
  other.readHandle = kInvalidHidHandle;
  other.writeHandle = kInvalidHidHandle;
  other.ioEvent = nullptr;
}

bool CHidDevice::Open() {
  if (IsOpen()) return true;
  HidHost& host = CurrentHidHost();
  readHandle = host.OpenPath(devicePath, kGenericRead, kShareWrite, true);
  writeHandle = host.OpenPath(devicePath, kGenericWrite, kShareRead, true);
  bool readValid = IsValidHandle(readHandle);
  bool writeValid = IsValidHandle(writeHandle);
  if (!readValid || !writeValid) TraceLog << "Cant get USB file handle. The file is locked." << std::endl;
  if (!readValid) TraceLog << "Invalid read handle." << std::endl;
  if (!writeValid) TraceLog << "Invalid write handle." << std::endl;
  if (readValid && writeValid) {
    // The driver keeps 32 unread reports unless told otherwise, and a flash
    // packet streams 33 replies one per frame: a worker that dawdles inside one
    // would lose words. A host that cannot raise it still works.
    constexpr uint32_t kInputRingReports = 512;
    if (host.SetInputRingSize(readHandle, kInputRingReports))
      TraceLog << "Input buffers: " << kInputRingReports << std::endl;
    else
      TraceLog << "Could not set input buffers." << std::endl;
    ioEvent = host.CreateIoEvent();
    overlapped.event = ioEvent;
    overlapped.offset = 0;
    overlapped.offsetHigh = 0;
    return true;
  }
  Close();
  return false;
}

void CHidDevice::Close() {
  HidHost* host = nullptr;
  auto hostOf = [&]() -> HidHost& {
    if (!host) host = &CurrentHidHost();
    return *host;
  };
  if (IsValidHandle(readHandle)) hostOf().CloseHandle(readHandle);
  if (IsValidHandle(writeHandle)) hostOf().CloseHandle(writeHandle);
  readHandle = kInvalidHidHandle;
  writeHandle = kInvalidHidHandle;
  if (ioEvent != nullptr) {
    hostOf().CloseIoEvent(ioEvent);
    ioEvent = nullptr;
  }
  overlapped.event = nullptr;
}

bool CHidDevice::IsOpen() const { return IsValidHandle(readHandle) && IsValidHandle(writeHandle); }

bool CHidDevice::ReadReport(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
  if (!IsValidHandle(readHandle)) return false;
  return CurrentHidHost().ReadReport(readHandle, buffer, length, overlapped, timeoutMs);
}

bool CHidDevice::WriteReport(const uint8_t* buffer, uint32_t length) {
  if (!IsValidHandle(writeHandle)) return false;
  return CurrentHidHost().WriteReport(writeHandle, buffer, length, overlapped, kWriteTimeoutMs);
}

bool CHidDevice::SendCommand(uint16_t argument, uint8_t code) {
  commandBuffer[0] = 0;
  commandBuffer[1] = static_cast<uint8_t>(argument & 0xFF);
  commandBuffer[2] = static_cast<uint8_t>(argument >> 8);
  commandBuffer[3] = code;
  return WriteReport(commandBuffer, 4);
}

bool CHidDevice::ReceiveReply(uint16_t& value, uint8_t* code, uint32_t timeoutMs) {
  for (uint8_t& b : replyBuffer) b = 0;
  if (!ReadReport(replyBuffer, 4, timeoutMs)) return false;
  value = static_cast<uint16_t>(replyBuffer[1] | (replyBuffer[2] << 8));
  if (code) *code = replyBuffer[3];
  return true;
}

bool CHidDevice::MatchesNotification(const DeviceNotification& notification) const {
  if (notification.deviceType != kDevTypDeviceInterface) {
    TraceLog << "Match Failed." << std::endl;
    return false;
  }
  std::string name = NarrowText(notification.name);
  std::string path = NarrowText(devicePath);
  TraceLog << "->" << path << std::endl;
  TraceLog << "->" << name << std::endl;
  bool equal = name.size() == path.size();
  for (size_t i = 0; equal && i < name.size(); ++i)
    equal = std::tolower(static_cast<unsigned char>(name[i])) == std::tolower(static_cast<unsigned char>(path[i]));
  if (equal) return true;
  TraceLog << "Match Failed." << std::endl;
  return false;
}
