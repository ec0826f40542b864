// The "Update Firmware" dialog from its template, on the simulated flight
// computer: buttons pressed, the file dialog and message boxes answered
// through their seams, the status box read back.
#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/FileDialog.h"
#include "app/MainWindow.h"
#include "firmware/UpdateWindow.h"
#include "resources/resource.h"
#include "tests/TestSupport.h"
#include "tests/firmware/FirmwareFixture.h"
#include "tests/win32/DialogDriver.h"

namespace {

const std::wstring kOpened = L"Device connected in bootloader mode.\r\nDevice bootloader version: 4.00\r\n";
const std::wstring kTens = L"10%\r\n20%\r\n30%\r\n40%\r\n50%\r\n60%\r\n70%\r\n80%\r\n90%\r\n100%\r\n";
const std::wstring kSucceeded = L"New firmware version: 4.01\r\nFirmware updated successfully.\r\n";
const std::wstring kFailed = L"Failed to update firmware.\r\n";
const std::wstring kRemoved =
    L"This was most likely caused by prematurely removing the device.\r\nPlease reconnect and try again.\r\n";

// The dialog, driven by a script.
class CDrivenUpdate : public DialogDriver<CUpdateWindow, CDrivenUpdate> {
 public:
  CDrivenUpdate(CAltimeter& device, UpdateProgressLines& lines) : DialogDriver(device, lines) {}
  using CUpdateWindow::WorkerHandle;

  HANDLE Icon() const { return DialogDriver::Icon(IDC_STATUS_ICON); }
  // Until the worker has ended and the box holds what it told last.
  bool PumpUntilTold(const std::wstring& last, DWORD limitMs = 20000) {
    return PumpUntil(
        [&] {
          const std::wstring box = Box();
          return !WorkerRunning() && box.size() >= last.size() &&
                 box.compare(box.size() - last.size(), last.size(), last) == 0;
        },
        limitMs);
  }
};

struct FileRequest {
  HWND owner;
  std::wstring title, filter, extension;
  DWORD flags, maxFile;
  bool save;
  bool bufferCleared;
};

class UpdateWindow : public ::testing::Test {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    ASSERT_TRUE(RegisterDialogClass(GetModuleHandleW(nullptr)));
    Altimeter();  // made once, before any test watches the trace
    oldFiles_ = SetFileDialogSeam([this](OPENFILENAMEW& request, bool save) {
      std::wstring filter;
      for (const wchar_t* p = request.lpstrFilter; p && *p; p += wcslen(p) + 1) filter += std::wstring(p) + L"|";
      requests.push_back({request.hwndOwner, request.lpstrTitle ? request.lpstrTitle : L"", filter,
                          request.lpstrDefExt ? request.lpstrDefExt : L"", request.Flags, request.nMaxFile, save,
                          request.lpstrFile && request.lpstrFile[0] == L'\0'});
      if (answers.empty() || answers.front().empty()) {
        if (!answers.empty()) answers.erase(answers.begin());
        return false;
      }
      wcsncpy(request.lpstrFile, answers.front().c_str(), request.nMaxFile - 1);
      answers.erase(answers.begin());
      return true;
    });
    oldMessages_ = SetMessageSeam([this](HWND, UINT id, const std::wstring& text, UINT style) {
      messages.push_back({id, style});
      messageTexts.push_back(text);
      return IDOK;
    });
  }
  void TearDown() override {
    SetFileDialogSeam(oldFiles_);
    SetMessageSeam(oldMessages_);
    InstallHidHost(nullptr);
    Gdiplus::GdiplusShutdown(token_);
  }

  void UseScenario(const std::string& scenario) {
    std::string error;
    host = MakeSimHost(scenario, error);
    ASSERT_TRUE(host) << error;
    InstallHidHost(host);
  }
  // A firmware file 4.01 of a 1000-byte image with an erased second block: blocks 0 to 15.
  std::wstring GoodFile() {
    image = PatternImage(1000);
    std::fill_n(image.begin() + 64, 64, uint8_t{0xFF});
    EXPECT_TRUE(WriteFirmwareFile(dir.WidePath("good.dat"), image, 1000, 0x0400, 0x0401));
    return dir.WidePath("good.dat");
  }
  // The program image the simulated bootloader holds, as programmed from GoodFile.
  bool HoldsGoodImage() {
    std::vector<uint8_t> expected = image;
    expected.resize(kFirmwareImageSize, 0xFF);
    return host->devices.at(0)->programImage == expected;
  }

  ScratchDir dir;
  std::shared_ptr<SimHost> host;
  std::vector<uint8_t> image;
  std::vector<std::wstring> answers;  // the file dialog's answers in turn; empty = cancelled
  std::vector<FileRequest> requests;
  std::vector<std::pair<UINT, UINT>> messages;
  std::vector<std::wstring> messageTexts;

 private:
  ULONG_PTR token_ = 0;
  FileDialogSeam oldFiles_;
  MessageSeam oldMessages_;
};

TEST_F(UpdateWindow, AGoodFileIsProgrammedWithItsProgressAndASecondUpdateStartsAtZero) {
  UseScenario("bootloader,latency=0,clock=virtual");
  const std::wstring file = GoodFile();
  answers = {L"", file, file};
  CAltimeter altimeter;
  UpdateProgressLines progress;
  HWND owner = nullptr;
  {
    CDrivenUpdate dialog(altimeter, progress);
    dialog.script = [&](CDrivenUpdate& d) {
      EXPECT_EQ(d.Box(), kOpened);
      EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
      EXPECT_TRUE(d.Enabled(IDC_CLOSE));

      d.Press(IDC_UP_UPDATE);  // cancelled: nothing starts
      EXPECT_FALSE(d.WorkerRunning());
      EXPECT_EQ(d.WorkerHandle(), nullptr);
      EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
      EXPECT_TRUE(d.Enabled(IDC_CLOSE));
      EXPECT_TRUE(d.firmwarePath.empty());

      d.Press(IDC_UP_UPDATE);
      EXPECT_EQ(d.firmwarePath, file);
      ASSERT_TRUE(d.PumpUntilTold(kSucceeded)) << d.Box();
      EXPECT_EQ(d.Box(), kOpened + L"Updating firmware...\r\n" + kTens + kSucceeded);
      EXPECT_TRUE(HoldsGoodImage());
      EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
      EXPECT_TRUE(d.Enabled(IDC_CLOSE));

      host->devices.at(0)->programImage.assign(kFirmwareImageSize, 0);
      d.Press(IDC_UP_UPDATE);
      ASSERT_TRUE(d.PumpUntilTold(L"0%\r\n" + kTens + kSucceeded)) << d.Box();
      EXPECT_TRUE(HoldsGoodImage());
      PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
    };
    dialog.Run();
    owner = dialog.hwnd;
  }
  // Each request: an Explorer open dialog for a .dat, on a path buffer emptied first.
  ASSERT_EQ(requests.size(), 3u);
  for (const FileRequest& r : requests) {
    EXPECT_EQ(r.owner, owner);
    EXPECT_EQ(r.title, L"Load Firmware file");
    EXPECT_EQ(r.filter, L"Firmware Code|*.dat|");
    EXPECT_EQ(r.extension, L"dat");
    EXPECT_EQ(r.flags, static_cast<DWORD>(OFN_EXPLORER));
    EXPECT_EQ(r.maxFile, kFileNameLength);
    EXPECT_FALSE(r.save);
    EXPECT_TRUE(r.bufferCleared);
  }
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(altimeter.IsOpen()) << "closing the dialog closes the channel";
}

// Every way out is refused while the update runs; another device's arrival
// meanwhile does not give the buttons back, nor reconnect.
TEST_F(UpdateWindow, CloseAndEscapeAreRefusedWhileTheUpdateRuns) {
  UseScenario("bootloader,latency=0");  // real time: the erase takes seconds
  answers = {GoodFile()};
  CAltimeter altimeter;
  UpdateProgressLines progress;
  CDrivenUpdate dialog(altimeter, progress);
  dialog.script = [&](CDrivenUpdate& d) {
    d.Press(IDC_UP_UPDATE);
    ASSERT_TRUE(d.WorkerRunning());
    EXPECT_FALSE(d.Enabled(IDC_UP_UPDATE));
    EXPECT_FALSE(d.Enabled(IDC_CLOSE));
    EXPECT_EQ(GetFocus(), GetDlgItem(d.hwnd, IDC_STATUS_BOX)) << "Escape needs a focus that takes keys";
    d.Press(IDC_CLOSE);
    SendMessageW(d.hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(GetDlgItem(d.hwnd, IDC_STATUS_BOX), WM_KEYDOWN, VK_ESCAPE, 0);  // IDCANCEL
    PostMessageW(d.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    std::vector<unsigned char> record = MakeDeviceBroadcast({kDevTypDeviceInterface, L"\\\\?\\hid#other#1"});
    SendMessageW(d.hwnd, WM_DEVICECHANGE, kDeviceArrival, reinterpret_cast<LPARAM>(record.data()));
    ASSERT_TRUE(d.PumpUntil([&] { return messages.size() == 4; }));
    EXPECT_TRUE(d.WorkerRunning());
    EXPECT_FALSE(d.Enabled(IDC_UP_UPDATE));
    EXPECT_FALSE(d.Enabled(IDC_CLOSE));

    // Another device's arrival leaves the connected bootloader alone: no reconnect after the worker.
    ASSERT_TRUE(d.PumpUntil([&] { return !d.WorkerRunning() && d.Enabled(IDC_CLOSE); })) << d.Box();
    EXPECT_EQ(d.Box(), kOpened + L"Updating firmware...\r\n" + kTens + kSucceeded);
    EXPECT_TRUE(HoldsGoodImage());
    EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    d.Press(IDC_CLOSE);
  };
  dialog.Run();
  const std::pair<UINT, UINT> refused{IDS_UPDATE_DELICATE, MB_OK | MB_ICONWARNING};
  EXPECT_EQ(messages, (std::vector<std::pair<UINT, UINT>>(4, refused)));
  EXPECT_EQ(messageTexts.at(0),
            L"Updating firmware is a delicate process.\r\nCanceling may cause your device to fail.");
}

struct FailureCase {
  const char* name;
  const char* scenario;
  std::function<std::wstring(UpdateWindow&)> file;
  std::wstring told;  // between "Updating firmware..." and "Failed to update firmware."
};

TEST_F(UpdateWindow, EachFailureIsToldWithItsLinesAndTheDialogStaysUsable) {
  const std::wstring timeout = L"There was a timeout on a read operation.\r\n" + kRemoved;
  const FailureCase cases[] = {
      {"format 1.01", "",
       [](UpdateWindow& t) {
         WriteFileBytes(t.dir.Path("old.dat"), FirmwareHeader(0x0101));
         return t.dir.WidePath("old.dat");
       },
       L"Incorrect file version.\r\nFile version: 1.01\r\nExpected version: 1.00\r\n"},
      {"no file", "", [](UpdateWindow& t) { return t.dir.WidePath("missing.dat"); },
       L"The file could not be opened.\r\n"},
      {"hardware 3.00", ",hardware-version=0x0300", [](UpdateWindow& t) { return t.GoodFile(); },
       L"The firmware version is not intended for use with your hardware version.\r\n"
       L"Your hardware version: 3.00\r\nExpected version: 4.00\r\n"},
      {"erase not answered", ",erase-silent", [](UpdateWindow& t) { return t.GoodFile(); }, timeout},
      {"block refused", ",refuse-block=3", [](UpdateWindow& t) { return t.GoodFile(); },
       L"10%\r\n20%\r\nThere was a protocol error.\r\n" + kRemoved},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseScenario(std::string("bootloader,latency=0,clock=virtual") + c.scenario);
    answers = {c.file(*this)};
    CAltimeter altimeter;
    UpdateProgressLines progress;
    CDrivenUpdate dialog(altimeter, progress);
    dialog.script = [&](CDrivenUpdate& d) {
      d.Press(IDC_UP_UPDATE);
      ASSERT_TRUE(d.PumpUntilTold(kFailed)) << d.Box();
      EXPECT_EQ(d.Box(), kOpened + L"Updating firmware...\r\n" + c.told + kFailed);
      EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
      EXPECT_TRUE(d.Enabled(IDC_CLOSE));
      d.Press(IDC_CLOSE);
    };
    dialog.Run();
    EXPECT_TRUE(messages.empty());
  }
}

// Removed at a block: the time-out lines; back as a bootloader it reconnects,
// and the next try programs it.
TEST_F(UpdateWindow, ADeviceRemovedMidUpdateIsToldAndCanBeUpdatedWhenItReturns) {
  UseScenario("bootloader,latency=0,clock=virtual,unplug-at-block=5");
  answers = {GoodFile(), dir.WidePath("good.dat")};
  CAltimeter altimeter;
  UpdateProgressLines progress;
  CDrivenUpdate dialog(altimeter, progress);
  dialog.script = [&](CDrivenUpdate& d) {
    const HANDLE connectedIcon = d.Icon();
    d.Press(IDC_UP_UPDATE);
    ASSERT_TRUE(d.PumpUntil([&] {
      const std::wstring box = d.Box();
      return !d.WorkerRunning() && !altimeter.IsOpen() && box.find(kFailed) != std::wstring::npos &&
             box.find(L"Device disconnected.\r\n") != std::wstring::npos;
    })) << d.Box();
    // The removal is told as it happens, among the worker's lines.
    std::wstring box = d.Box();
    box.erase(box.find(L"Device disconnected.\r\n"), 22);
    EXPECT_EQ(box, kOpened +
                       L"Updating firmware...\r\n10%\r\n20%\r\n30%\r\nThere was a timeout on a read operation.\r\n" +
                       kRemoved + kFailed);
    EXPECT_FALSE(altimeter.IsOpen());
    EXPECT_FALSE(d.Enabled(IDC_UP_UPDATE));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    EXPECT_NE(d.Icon(), connectedIcon);

    host->devices.at(0)->faults.removeAtBlock = -1;
    host->Bus().Plug(0);
    host->Bus().Pump();  // the virtual clock tells changes when the host is used
    ASSERT_TRUE(d.PumpUntilTold(kOpened)) << d.Box();
    EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
    EXPECT_EQ(d.Icon(), connectedIcon);
    d.Press(IDC_UP_UPDATE);
    ASSERT_TRUE(d.PumpUntilTold(kSucceeded)) << d.Box();
    EXPECT_TRUE(HoldsGoodImage());
    d.Press(IDC_CLOSE);
  };
  dialog.Run();
}

// Opened on the application firmware: it is sent into its bootloader, and the
// bootloader's arrival connects.
TEST_F(UpdateWindow, AnApplicationFirmwareIsSentIntoItsBootloaderAndConnectedOnArrival) {
  UseScenario("latency=0");
  CAltimeter altimeter;
  UpdateProgressLines progress;
  {
    CDrivenUpdate dialog(altimeter, progress);
    dialog.script = [&](CDrivenUpdate& d) {
      ASSERT_TRUE(d.PumpUntilTold(kOpened, 10000)) << d.Box();
      EXPECT_EQ(d.Box(), L"Device found, but is not in bootloader mode.\r\nDevice disconnected.\r\n" + kOpened);
      EXPECT_TRUE(altimeter.bootloaderMode);
      EXPECT_TRUE(d.Enabled(IDC_UP_UPDATE));
      d.Press(IDC_CLOSE);
    };
    dialog.Run();
    EXPECT_TRUE(altimeter.IsOpen());
  }
  EXPECT_FALSE(altimeter.IsOpen()) << "closing the dialog closes the channel";
}

TEST_F(UpdateWindow, WithoutADeviceTheUpdateSaysSo) {
  UseScenario("bootloader,latency=0,clock=virtual");
  answers = {GoodFile()};
  CAltimeter altimeter;
  UpdateProgressLines progress;
  CDrivenUpdate dialog(altimeter, progress);
  dialog.script = [&](CDrivenUpdate& d) {
    host->Bus().Unplug(0);
    host->Bus().Pump();
    ASSERT_TRUE(d.PumpUntilTold(L"Device disconnected.\r\n")) << d.Box();
    EXPECT_FALSE(d.Enabled(IDC_UP_UPDATE));
    d.Press(IDC_UP_UPDATE);  // as a click that came before the look changed
    ASSERT_TRUE(d.PumpUntilTold(L"Altimeter not found. Make sure it is properly connected to the PC.\r\n"));
    EXPECT_EQ(d.Box(), kOpened +
                           L"Device disconnected.\r\nAltimeter not found. Make sure it is properly connected "
                           L"to the PC.\r\n");
    EXPECT_FALSE(d.Enabled(IDC_UP_UPDATE));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    d.Press(IDC_CLOSE);
  };
  dialog.Run();
}

// "Update Firmware..." in the main window's menu opens the dialog on the
// program's altimeter, and leaves the channel closed behind it.
TEST_F(UpdateWindow, TheMenuCommandOpensIt) {
  UseScenario("bootloader,latency=0,clock=virtual");
  std::wstring box;
  {
    CProgram program(GetModuleHandleW(nullptr));
    ASSERT_TRUE(program.Start(L""));
    // Read once the box shows something, then closed.
    RunMenuDialog(ID_TOOLS_UPDATE_FIRMWARE, L"Update Firmware", [&box](HWND dialog) {
      wchar_t text[512] = {};
      if (!GetDlgItemTextW(dialog, IDC_STATUS_BOX, text, 512)) return false;
      box = text;
      return true;
    });
  }
  EXPECT_EQ(box, kOpened);
  EXPECT_FALSE(Altimeter().IsOpen());
  // The main window's end posts a quit that must not end later tests' dialogs.
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

}  // namespace
