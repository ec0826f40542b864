// The Win32 HID host on real Windows handles (under Wine in the test run).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "device/Altimeter.h"
#include "simulator/SimHost.h"

namespace {

TEST(Win32HidHost, WalksTheHidInterfacesAndFindsNoFlightComputer) {
  InstallHidHost(MakePlatformHidHost());
  std::wstring path;
  uint32_t count = 0;
  while (CHidDevice::EnumerateInterface(count, path) && count < 1000) ++count;
  EXPECT_LT(count, 1000u);  // the walk ends
  EXPECT_TRUE(CHidDevice::FindDevices(kApplicationProductId, 0, 0).empty());
  EXPECT_TRUE(CHidDevice::FindDevices(kBootloaderProductId, 0, 0).empty());
  CAltimeter altimeter;
  EXPECT_EQ(altimeter.Connect(nullptr, false), NotFound);
  EXPECT_FALSE(altimeter.IsOpen());
  InstallHidHost(nullptr);
}

// A named pipe stands in for the device: a real handle with overlapped I/O.
class PipeTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t name[64];
    swprintf(name, 64, L"\\\\.\\pipe\\ulk-test-%lu", GetCurrentProcessId());
    server = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                              4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    host = MakePlatformHidHost();
    client = host->OpenPath(name, kGenericRead | kGenericWrite, 0, true);
    ASSERT_NE(client, kInvalidHidHandle);
    record.event = host->CreateIoEvent();
  }
  void TearDown() override {
    host->CloseIoEvent(record.event);
    host->CloseHandle(client);
    CloseHandle(server);
  }
  void ServerWrite(const void* data, DWORD size) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!WriteFile(server, data, size, &n, &ov)) GetOverlappedResult(server, &ov, &n, TRUE);
    CloseHandle(ov.hEvent);
  }
  HANDLE server = INVALID_HANDLE_VALUE;
  std::shared_ptr<HidHost> host;
  HidHandle client = kInvalidHidHandle;
  HidOverlapped record;
};

TEST_F(PipeTransfer, ReadTimesOutIsCancelledAndTheNextReadGetsTheData) {
  uint8_t late[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  DWORD start = GetTickCount();
  EXPECT_FALSE(host->ReadReport(client, late, 4, record, 100));
  EXPECT_GE(GetTickCount() - start, 90u);

  const uint8_t reply[4] = {0, 0x10, 0x27, 5};
  ServerWrite(reply, 4);
  uint8_t next[4] = {};
  ASSERT_TRUE(host->ReadReport(client, next, 4, record, 1000));
  EXPECT_EQ(std::memcmp(next, reply, 4), 0);
  // The cancelled read never completed into its buffer.
  const uint8_t untouched[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(std::memcmp(late, untouched, 4), 0);
}

TEST_F(PipeTransfer, WriteReachesTheOtherEnd) {
  const uint8_t command[4] = {0, 0x34, 0x12, 9};
  ASSERT_TRUE(host->WriteReport(client, command, 4, record, 3000));
  uint8_t got[4] = {};
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD n = 0;
  if (!ReadFile(server, got, 4, &n, &ov)) GetOverlappedResult(server, &ov, &n, TRUE);
  CloseHandle(ov.hEvent);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::memcmp(got, command, 4), 0);
}

TEST_F(PipeTransfer, TransferOnAClosedHandleFailsAtOnce) {
  HidHandle gone = client;
  host->CloseHandle(client);
  client = host->OpenPath(L"\\\\.\\pipe\\no-such-pipe", kGenericRead, 0, true);  // invalid, closed in TearDown
  uint8_t buffer[4];
  // The event is still signalled from its creation: only the immediate failure tells.
  EXPECT_FALSE(host->ReadReport(gone, buffer, 4, record, 1000));
  EXPECT_FALSE(host->WriteReport(gone, buffer, 4, record, 1000));
}

TEST(Win32Core, TheSimulatedFlightComputerConnectsInTheWindowsBuild) {
  std::string error;
  auto sim = MakeSimHost("clock=virtual", error);
  ASSERT_TRUE(sim) << error;
  InstallHidHost(sim);
  CAltimeter altimeter;
  uint16_t version = 0;
  EXPECT_EQ(altimeter.Connect(&version, false), Connected);
  EXPECT_EQ(version, 0x0405);
  EXPECT_EQ(FormatVersion(version), L"4.05");
  altimeter.Close();
  InstallHidHost(nullptr);
}

}  // namespace
