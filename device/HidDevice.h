// One HID device interface and the open channel to it. CAltimeter is one;
// discovery lists hold others, always with closed handles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/HidHost.h"

constexpr uint16_t kVendorId = 987;
constexpr uint16_t kApplicationProductId = 2;
constexpr uint16_t kBootloaderProductId = 1;

constexpr uint32_t kReplyTimeoutMs = 3000;
constexpr uint32_t kWriteTimeoutMs = 3000;
constexpr uint32_t kEraseTimeoutMs = 15000;

class CHidDevice {
 public:
  CHidDevice() = default;
  ~CHidDevice();
  // Copying a record copies the description only; a record with open handles
  // is moved by AssignDevice, never copied.
  CHidDevice(const CHidDevice& other);
  CHidDevice& operator=(const CHidDevice& other);

  static bool EnumerateInterface(uint32_t index, std::wstring& path);
  static std::vector<CHidDevice> FindDevices(uint16_t productId, uint16_t version, uint16_t versionMask);

  void AssignDevice(CHidDevice& other);
  bool Open();
  void Close();
  bool IsOpen() const;
  bool ReadReport(uint8_t* buffer, uint32_t length, uint32_t timeoutMs);
  bool WriteReport(const uint8_t* buffer, uint32_t length);
  bool SendCommand(uint16_t argument, uint8_t code);
  bool ReceiveReply(uint16_t& value, uint8_t* code, uint32_t timeoutMs);
  bool MatchesNotification(const DeviceNotification& notification) const;

  std::wstring devicePath;
  HidAttributes attributes;
  HidOverlapped overlapped;
  HidHandle readHandle = kInvalidHidHandle;
  HidHandle writeHandle = kInvalidHidHandle;
  HidEvent ioEvent = nullptr;

  // The channel's two report buffers, shared by every command and reply.
  static uint8_t commandBuffer[4];
  static uint8_t replyBuffer[4];
};

inline bool IsValidHandle(HidHandle handle) { return handle != kInvalidHidHandle && handle != nullptr; }

// Narrow form of a wide path for trace lines and comparisons (at most 2047
// characters; anything outside ASCII becomes '?').
std::string NarrowText(const std::wstring& text, size_t limit = 2047);
