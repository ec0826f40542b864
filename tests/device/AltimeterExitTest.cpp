// The process-wide CAltimeter closes its channel when the program exits; the
// host that opened it must still be there then.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/TestSupport.h"

namespace {

// Opens two handles and says on standard error what happens to them at exit.
class ExitWitnessHost : public HidHost {
 public:
  ~ExitWitnessHost() override { Say("host gone after " + std::to_string(closed_) + " closes\n"); }
  bool InterfacePath(uint32_t, std::wstring&) override { return false; }
  HidHandle OpenPath(const std::wstring&, uint32_t, uint32_t, bool) override {
    return reinterpret_cast<HidHandle>(static_cast<intptr_t>(++opened_));
  }
  void CloseHandle(HidHandle) override { ++closed_; }
  bool GetAttributes(HidHandle, HidAttributes&) override { return false; }
  HidEvent CreateIoEvent() override { return reinterpret_cast<HidEvent>(static_cast<intptr_t>(100)); }
  void CloseIoEvent(HidEvent) override {}
  bool ReadReport(HidHandle, uint8_t*, uint32_t, HidOverlapped&, uint32_t) override { return false; }
  bool WriteReport(HidHandle, const uint8_t*, uint32_t, HidOverlapped&, uint32_t) override { return false; }
  void Sleep(uint32_t) override {}
  void SetDeviceChangeSink(DeviceChangeSink) override {}

 private:
  static void Say(const std::string& text) {
    // Plain write: the streams may already be gone this late in the exit.
    ssize_t ignored = ::write(2, text.data(), text.size());
    (void)ignored;
  }
  int opened_ = 0;
  int closed_ = 0;
};

TEST(AltimeterExitTest, TheChannelIsClosedThroughItsHostBeforeTheHostGoes) {
  // A fresh process, so that the global object is made here and not by an
  // earlier test; it is made before any host is installed, as in the program.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CAltimeter& altimeter = Altimeter();
        InstallHidHost(std::make_shared<ExitWitnessHost>());
        altimeter.devicePath = L"witness";
        if (!altimeter.Open()) std::_Exit(3);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "host gone after 2 closes");
}

}  // namespace
