// The "Download Data" dialog on real windows, on the simulated flight
// computer (virtual clock), with its message boxes and file dialogs answered
// through their seams.
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/DialogWindow.h"
#include "app/MainWindow.h"
#include "device/Altimeter.h"
#include "flightdata/CaptureWindow.h"
#include "plot/PlotSurfaces.h"
#include "resources/resource.h"
#include "simulator/SimHost.h"
#include "tests/TestSupport.h"
#include "tests/win32/DialogDriver.h"

namespace {

constexpr uint32_t kStripRed = 0xFF0000, kBlueA = 0x4020FF, kBlueB = 0x4060DF, kBlack = 0x000000;
constexpr uint32_t kGrey = 0x808080, kLightBlue = 0xB4B4FF, kPlotRed = 0xFF0000, kPlotBlue = 0x0000FF;

// The download dialog, driven, with a look at each progress report on the worker.
class CTestCapture : public DialogDriver<CCaptureWindow, CTestCapture> {
 public:
  void ShowPacket(int packetIndex) override {
    CCaptureWindow::ShowPacket(packetIndex);
    if (onProgress) onProgress(*this, packetIndex, false, false);
  }
  void ShowLivePreview(int packetIndex) override {
    CCaptureWindow::ShowLivePreview(packetIndex);
    if (onProgress) onProgress(*this, packetIndex, true, false);
  }

  bool Layered() const { return (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }
  // On the worker: until the dialog thread has begun to close (at most 5 s).
  bool WaitUntilClosing() const {
    for (int i = 0; i < 500 && !Closing(); ++i) Sleep(10);
    return Closing();
  }
  HWND Strip() const { return GetDlgItem(hwnd, IDC_DL_STRIP); }
  int StripWidth() const {
    RECT client;
    GetClientRect(Strip(), &client);
    return client.right;
  }
  // The x of a packet's column on the strip.
  int XOf(int packet) const { return static_cast<int>(packet * ((StripWidth() + 2) / 1520.0f)); }
  void ClickStrip(int x) { SendMessageW(Strip(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 4)); }
  // The strip as its procedure paints it, read back along its middle row.
  std::vector<uint32_t> StripRow() const {
    RECT client;
    GetClientRect(Strip(), &client);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(Strip(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> row(pixels + (client.bottom / 2) * client.right,
                              pixels + (client.bottom / 2 + 1) * client.right);
    for (uint32_t& p : row) p &= 0xFFFFFF;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return row;
  }

  std::function<void(CTestCapture&, int, bool, bool)> onProgress;
};

// The colours along a row, each run of equal pixels once.
std::vector<uint32_t> Runs(const std::vector<uint32_t>& row) {
  std::vector<uint32_t> runs;
  for (uint32_t p : row)
    if (runs.empty() || runs.back() != p) runs.push_back(p);
  return runs;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Asked {
  UINT id;
  UINT style;
};

struct FileRequest {
  std::wstring title, filter, extension, initialName;
  DWORD flags;
  DWORD length;
  HWND owner;
};

class CaptureWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.Started());
    ASSERT_TRUE(RegisterDialogClass(GetModuleHandleW(nullptr)));
    CAltimeter& a = Altimeter();
    a.Close();
    a.packets.clear();
    a.flight = FlightData();
    a.comments.clear();
    a.livePreview.Reset();
    SetMessageSeam([this](HWND, UINT id, const std::wstring&, UINT style) {
      asked.push_back({id, style});
      return answer;
    });
    SetFileDialogSeam([this](OPENFILENAMEW& request, bool save) {
      EXPECT_TRUE(save);
      FileRequest r{request.lpstrTitle ? request.lpstrTitle : L"",
                    L"",
                    request.lpstrDefExt ? request.lpstrDefExt : L"",
                    request.lpstrFile ? request.lpstrFile : L"",
                    request.Flags,
                    request.nMaxFile,
                    request.hwndOwner};
      for (const wchar_t* f = request.lpstrFilter; f && *f; f += wcslen(f) + 1) r.filter += std::wstring(f) + L"|";
      requests.push_back(r);
      if (answers.empty() || answers.front().empty()) {
        if (!answers.empty()) answers.pop_front();
        return false;
      }
      wcsncpy(request.lpstrFile, answers.front().c_str(), request.nMaxFile - 1);
      answers.pop_front();
      return true;
    });
  }
  void TearDown() override {
    Altimeter().Close();
    InstallHidHost(nullptr);
    SetMessageSeam(nullptr);
    SetFileDialogSeam(nullptr);
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  void UseScenario(const std::string& words) {
    std::string error;
    host = MakeSimHost(words.empty() ? "clock=virtual" : words + ",clock=virtual", error);
    ASSERT_TRUE(host) << error;
    InstallHidHost(host);
  }
  // The device's flight memory read into the program's image, without the dialog.
  void DownloadBeforehand() {
    CAltimeter& a = Altimeter();
    ASSERT_EQ(a.Connect(nullptr, false), Connected);
    ASSERT_EQ(a.ReadFlightMemory(nullptr), Ok);
    a.Close();
  }
  // The packets of the image as the device holds them.
  void ExpectPacketsAsOnTheDevice(size_t count) {
    CAltimeter& a = Altimeter();
    ASSERT_EQ(a.packets.size(), count);
    const std::vector<uint8_t>& flash = host->devices.at(0)->flash;
    for (size_t i = 0; i < count; ++i) {
      auto bytes = a.packets[i].ToBytes();
      ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin() + static_cast<ptrdiff_t>(i * 64)))
          << "packet " << i;
    }
  }
  // How many packets the device has recorded (up to the first erased one).
  size_t RecordedPackets() {
    const std::vector<uint8_t>& flash = host->devices.at(0)->flash;
    size_t n = 0;
    while (n * 64 < flash.size() && flash[n * 64] != 0xFF) ++n;
    return n;
  }
  std::wstring File(const char* name) const { return dir_.WidePath(name); }

  CGdiPlusSession gdiplus_;
  std::shared_ptr<SimHost> host;
  ScratchDir dir_;
  std::vector<Asked> asked;
  std::vector<FileRequest> requests;
  std::deque<std::wstring> answers;  // an empty one cancels
  int answer = IDYES;
};

TEST_F(CaptureWindow, AfterALoadedFileTheSetIsRedAtTheLeftAndSaveAllAsksOnceWithItsTitle) {
  UseScenario("empty");
  CAltimeter& a = Altimeter();
  ASSERT_TRUE(a.LoadDataSet(FixturePath("small-flight.ulk").wstring()));
  a.SelectPlotSet(0);
  const std::wstring saved = File("loaded.ulk");
  DeleteFileW(saved.c_str());
  answers = {saved};
  {
    CTestCapture dialog;
    EXPECT_EQ(dialog.selectedSet, 0);
    dialog.script = [&](CTestCapture& d) {
      std::vector<uint32_t> row = d.StripRow();
      ASSERT_FALSE(row.empty());
      EXPECT_EQ(row.front(), kStripRed);
      EXPECT_EQ(row.back(), kBlack);
      EXPECT_EQ(Runs(row), (std::vector<uint32_t>{kStripRed, kBlack}));
      // Idle with data and the set valid; the device is connected.
      for (int id : {IDC_DL_READ_DATA, IDC_DL_CLEAR_DEVICE, IDC_DL_LIVE_UPDATE, IDC_CLOSE, IDC_DL_SAVE_SELECTED,
                     IDC_DL_SAVE_COMMENT, IDC_DL_COMMENT, IDC_DL_SAVE_ALL, IDC_DL_GENERATE_CSV})
        EXPECT_TRUE(d.Enabled(id)) << id;
      d.Press(IDC_DL_SAVE_ALL);
      d.Press(IDC_CLOSE);
    };
    dialog.Run();
  }
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].title, L"Save data set 1");
  EXPECT_EQ(requests[0].filter, L"ULK USB Data|*.ulk|");
  EXPECT_EQ(requests[0].extension, L"ulk");
  EXPECT_EQ(requests[0].flags, static_cast<DWORD>(OFN_EXPLORER | OFN_OVERWRITEPROMPT));
  EXPECT_EQ(requests[0].length, 2048u);
  EXPECT_EQ(requests[0].initialName, L"");
  EXPECT_NE(requests[0].owner, nullptr);
  EXPECT_EQ(ReadFileBytes(saved), ReadFileBytes(FixturePath("small-flight.ulk").wstring()));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_SETS_SAVED));
  EXPECT_EQ(asked[0].style, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_FALSE(a.IsOpen());  // the dialog closes the channel as it goes
}

TEST_F(CaptureWindow, DownloadsEveryPacketWithItsLinesThenTheStripPicksASet) {
  UseScenario("");
  const size_t recorded = RecordedPackets();
  ASSERT_GT(recorded, 30u);
  std::vector<bool> busyLook;  // every control disabled during the download
  CTestCapture dialog;
  dialog.onProgress = [&](CTestCapture& d, int, bool partial, bool) {
    if (partial) return;
    bool allDisabled = true;
    for (int id : {IDC_DL_READ_DATA, IDC_DL_CLEAR_DEVICE, IDC_DL_LIVE_UPDATE, IDC_CLOSE, IDC_DL_SAVE_SELECTED,
                   IDC_DL_SAVE_COMMENT, IDC_DL_COMMENT, IDC_DL_SAVE_ALL})
      allDisabled = allDisabled && !d.Enabled(id);
    busyLook.push_back(allDisabled);
  };
  std::wstring box;
  dialog.script = [&](CTestCapture& d) {
    // Idle without data, connected.
    EXPECT_TRUE(d.Enabled(IDC_DL_READ_DATA));
    EXPECT_TRUE(d.Enabled(IDC_DL_CLEAR_DEVICE));
    for (int id : {IDC_CLOSE, IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_COMMENT, IDC_DL_SAVE_ALL})
      EXPECT_FALSE(d.Enabled(id)) << id;
    EXPECT_EQ(Runs(d.StripRow()), std::vector<uint32_t>{kBlack});
    const std::wstring before = d.Box();

    d.Press(IDC_DL_READ_DATA);
    d.WaitForIdle();
    box = d.Box().substr(before.size());
    ExpectPacketsAsOnTheDevice(recorded);

    // Idle with data, no set selected yet: three sets in the two blues.
    EXPECT_EQ(d.selectedSet, -1);
    EXPECT_TRUE(d.Enabled(IDC_DL_SAVE_ALL));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    EXPECT_FALSE(d.Enabled(IDC_DL_SAVE_SELECTED));
    EXPECT_EQ(Runs(d.StripRow()), (std::vector<uint32_t>{kBlueA, kBlueB, kBlueA, kBlack}));

    // x = 0 selects the set of packet 0; right of the last packet keeps the selection.
    d.ClickStrip(0);
    EXPECT_EQ(d.selectedSet, 0);
    EXPECT_EQ(Runs(d.StripRow()), (std::vector<uint32_t>{kStripRed, kBlueB, kBlueA, kBlack}));
    d.ClickStrip(d.StripWidth() - 2);
    EXPECT_EQ(d.selectedSet, 0);
    const int32_t middleOfSecond = (Altimeter().FirstPacketOfSet(1) + Altimeter().FirstPacketOfSet(2)) / 2;
    d.ClickStrip(d.XOf(middleOfSecond));
    EXPECT_EQ(d.selectedSet, 1);
    EXPECT_EQ(Runs(d.StripRow()), (std::vector<uint32_t>{kBlueA, kStripRed, kBlueA, kBlack}));
    for (int id : {IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_COMMENT}) EXPECT_TRUE(d.Enabled(id)) << id;

    SetDlgItemTextA(d.hwnd, IDC_DL_COMMENT, "Second flight, windy");
    d.Press(IDC_DL_SAVE_COMMENT);
    d.Press(IDC_CLOSE);
  };
  dialog.Run();
  EXPECT_EQ(dialog.selectedSet, 1);
  ASSERT_EQ(Altimeter().comments.size(), 3u);
  EXPECT_EQ(Altimeter().comments[1], "Second flight, windy");
  EXPECT_FALSE(busyLook.empty());
  EXPECT_EQ(std::count(busyLook.begin(), busyLook.end(), false), 0);

  std::wstring expected =
      L"Attempting to connect to device.\r\nAltimeter found! Reading settings...\r\nSettings read successfully.\r\n"
      L"Reading data...\r\n";
  for (size_t i = 0; i < recorded; ++i) expected += L"Packet Read: " + std::to_wstring(i) + L"\r\n";
  expected += L"Data read successfully.\r\nPackets Read: " + std::to_wstring(recorded) + L"\r\n";
  EXPECT_EQ(box, expected);
}

TEST_F(CaptureWindow, SavesWithTheCsvBesideAndStopsAtACancelOrAFailure) {
  UseScenario("");
  DownloadBeforehand();
  const std::wstring set1 = File("set1.ulk"), set2 = File("set2.ulk"), upper = File("Flight.ULK");
  const std::wstring lower = File("flight.ulk"), blocked = File("blocked.ulk"), blockedCsv = File("blocked.csv");
  for (const std::wstring& f : {set1, set2, upper, File("Flight.csv"), lower, File("flight.csv"), blocked})
    DeleteFileW(f.c_str());
  CreateDirectoryW(blockedCsv.c_str(), nullptr);  // a CSV that cannot be written

  CTestCapture dialog;
  dialog.script = [&](CTestCapture& d) {
    // Save All with the second of three dialogs cancelled: set 1's file only, no message.
    answers = {set1, L"", set2};
    d.Press(IDC_DL_SAVE_ALL);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].title, L"Save data set 1");
    EXPECT_EQ(requests[1].title, L"Save data set 2");
    EXPECT_EQ(requests[1].initialName, L"");
    EXPECT_TRUE(Exists(set1));
    EXPECT_FALSE(Exists(set2));
    EXPECT_TRUE(asked.empty());

    // Save Selected with the CSV beside it, whatever the case of the extension.
    d.ClickStrip(0);
    d.Check(IDC_DL_GENERATE_CSV);
    for (const std::wstring& name : {upper, lower}) {
      answers = {name};
      d.Press(IDC_DL_SAVE_SELECTED);
      ASSERT_FALSE(asked.empty());
      EXPECT_EQ(asked.back().id, static_cast<UINT>(IDS_SETS_SAVED));
    }
    EXPECT_EQ(ReadFileBytes(upper).substr(0, 4), ReadFileBytes(set1).substr(0, 4));
    EXPECT_EQ(ReadFileBytes(upper), ReadFileBytes(set1));  // not overwritten by its CSV
    EXPECT_EQ(ReadFileBytes(lower), ReadFileBytes(set1));
    const std::string csv = ReadFileBytes(File("flight.csv"));
    EXPECT_GT(csv.size(), 100u);
    EXPECT_EQ(ReadFileBytes(File("Flight.csv")), csv);

    // A data set file that cannot be created: message 104, nothing written.
    asked.clear();
    answers = {File("no-such-folder\\x.ulk")};
    d.Press(IDC_DL_SAVE_SELECTED);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_SAVE_FAILED));
    EXPECT_EQ(asked[0].style, static_cast<UINT>(MB_ICONERROR));
    // A CSV that cannot be written: message 106, the data set file stays; Save All stops there.
    asked.clear();
    requests.clear();
    answers = {blocked, set2, File("never.ulk")};
    d.Press(IDC_DL_SAVE_ALL);
    EXPECT_EQ(requests.size(), 1u);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_CSV_SAVE_FAILED));
    EXPECT_EQ(ReadFileBytes(blocked), ReadFileBytes(set1));
    d.Press(IDC_CLOSE);
  };
  dialog.Run();
  RemoveDirectoryW(blockedCsv.c_str());
}

TEST_F(CaptureWindow, ClosingDuringADownloadCancelsItAndTheMainWindowThenDrawsNothing) {
  UseScenario("");
  SetMessageSeam([](HWND, UINT, const std::wstring&, UINT) { return IDYES; });
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  TraceCapture trace;
  int32_t selected;
  {
    CTestCapture dialog;
    dialog.onProgress = [](CTestCapture& d, int packet, bool partial, bool) {
      if (packet != 40 || partial) return;
      PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
      // The reader does not wait for drawings: it would have read the whole
      // memory before the dialog thread got to the close.
      ASSERT_TRUE(d.WaitUntilClosing());
    };
    dialog.script = [](CTestCapture& d) {
      d.Check(IDC_DL_LIVE_UPDATE);
      d.Press(IDC_DL_READ_DATA);
    };
    dialog.Run(MainWindowHandle());
    EXPECT_EQ(dialog.boxAtEnd.substr(dialog.boxAtEnd.size() - 22), L"Failed to read data.\r\n");
    selected = dialog.selectedSet;
  }
  EXPECT_TRUE(trace.Has("Canceled IO."));
  EXPECT_TRUE(Altimeter().packets.empty());
  EXPECT_TRUE(Altimeter().flight.altitudeMsl.empty());
  EXPECT_TRUE(Altimeter().livePreview.altitude.empty());
  ShowDownloadedSet(selected);
  EXPECT_TRUE(trace.Has("Selected Set: -1"));
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(ReadBackBuffer(pixels, width, height));
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), kLightBlue), static_cast<ptrdiff_t>(pixels.size()));
}

TEST_F(CaptureWindow, AnErasedDeviceReadsNoPacketAndNoSetCanBeSelected) {
  UseScenario("empty");
  Altimeter().livePreview.AddSample(13200);
  CTestCapture dialog;
  dialog.script = [](CTestCapture& d) {
    d.Press(IDC_DL_READ_DATA);
    d.WaitForIdle();
    EXPECT_NE(d.Box().find(L"Data read successfully.\r\nPackets Read: 0\r\n"), std::wstring::npos);
    d.ClickStrip(0);
    EXPECT_EQ(d.selectedSet, -1);
    for (int id : {IDC_CLOSE, IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_SAVE_ALL}) EXPECT_FALSE(d.Enabled(id));
    EXPECT_TRUE(d.Enabled(IDC_DL_READ_DATA));
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  EXPECT_TRUE(Altimeter().livePreview.altitude.empty());
}

TEST_F(CaptureWindow, ClearDeviceAsksFirstThenEmptiesTheStripButKeepsThePlottedSeries) {
  UseScenario("");
  DownloadBeforehand();
  Altimeter().SelectPlotSet(0);
  const size_t series = Altimeter().flight.altitudeMsl.size();
  ASSERT_GT(series, 0u);
  CTestCapture dialog;
  dialog.script = [&](CTestCapture& d) {
    // Anything but an explicit Yes erases nothing: No, and a box that failed.
    for (int notYes : {IDNO, 0}) {
      answer = notYes;
      d.Press(IDC_DL_CLEAR_DEVICE);
      EXPECT_FALSE(d.WorkerRunning());
      EXPECT_FALSE(Altimeter().packets.empty());
      EXPECT_NE(host->devices.at(0)->flash.at(0), 0xFF);
    }
    answer = IDYES;
    d.Press(IDC_DL_CLEAR_DEVICE);
    // Clearing: these stay disabled until the worker ends.
    for (int id : {IDC_DL_READ_DATA, IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_SAVE_ALL})
      EXPECT_FALSE(d.Enabled(id)) << id;
    d.WaitForIdle();
    EXPECT_NE(d.Box().find(L"Clearing data... please wait a few seconds.\r\nData cleared successfully.\r\n"),
              std::wstring::npos);
    EXPECT_EQ(Runs(d.StripRow()), std::vector<uint32_t>{kBlack});
    EXPECT_TRUE(d.Enabled(IDC_DL_READ_DATA));
    EXPECT_FALSE(d.Enabled(IDC_DL_SAVE_ALL));
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_ARE_YOU_SURE));
  EXPECT_EQ(asked[0].style, static_cast<UINT>(MB_YESNO | MB_ICONWARNING));
  EXPECT_TRUE(Altimeter().packets.empty());
  EXPECT_EQ(Altimeter().flight.altitudeMsl.size(), series);
  EXPECT_EQ(host->devices.at(0)->flash.at(0), 0xFF);
}

// A time-out, a removal mid-packet and a premature end keep the packets read so far.
TEST_F(CaptureWindow, AFailedDownloadKeepsThePacketsCompletedSoFar) {
  enum Fault { TimeOut, Removal, PrematureEnd };
  for (Fault fault : {TimeOut, Removal, PrematureEnd}) {
    SCOPED_TRACE(fault);
    UseScenario("");
    CTestCapture dialog;
    dialog.script = [&](CTestCapture& d) {
      SimFlightComputer& device = *host->devices.at(0);
      // Some way into the sixth packet (35 replies a packet after the settings).
      const int at = device.repliesSent + 200;
      if (fault == TimeOut) device.faults.noReplyAt = at;
      if (fault == Removal) device.faults.removeAt = at;
      if (fault == PrematureEnd) device.faults.prematureCompletionAt = at;
      d.Press(IDC_DL_READ_DATA);
      d.WaitForIdle();
      EXPECT_NE(d.Box().find(L"Failed to read data.\r\n"), std::wstring::npos);
      if (fault != Removal) {
        EXPECT_TRUE(d.Enabled(IDC_DL_READ_DATA));
      }
      PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
    };
    dialog.Run();
    const size_t kept = Altimeter().packets.size();
    EXPECT_GE(kept, 3u);
    EXPECT_LE(kept, 6u);
    ExpectPacketsAsOnTheDevice(kept);
    InstallHidHost(nullptr);
  }
}

// Commands and device changes that arrive during a download start nothing.
// After a download that ended early the buttons are the dialog's ordinary
// look for what is there: "Read Data" follows the connection, a partial image
// can be saved, and the translucency is gone.
TEST_F(CaptureWindow, AfterEachEarlyEndOfADownloadTheButtonsFollowWhatIsThere) {
  enum End { NotOpen, SettingsFail, DownloadFail };
  for (End end : {NotOpen, SettingsFail, DownloadFail}) {
    SCOPED_TRACE(end);
    UseScenario(end == NotOpen ? "empty" : "");
    CTestCapture dialog;
    dialog.script = [&](CTestCapture& d) {
      if (end != NotOpen) {
        SimFlightComputer& device = *host->devices.at(0);
        device.faults.noReplyAt = device.repliesSent + (end == SettingsFail ? 3 : 200);
      }
      d.Check(IDC_DL_LIVE_UPDATE);
      d.Press(IDC_DL_READ_DATA);
      d.WaitForIdle();
      const bool connected = Altimeter().IsOpen();
      const bool image = !Altimeter().packets.empty();
      EXPECT_EQ(image, end == DownloadFail);
      const CaptureLook want = CaptureButtonStates(false, connected, image, false);
      EXPECT_EQ(d.Enabled(IDC_DL_READ_DATA), want.readData);
      EXPECT_EQ(d.Enabled(IDC_DL_CLEAR_DEVICE), want.clearDevice);
      EXPECT_EQ(d.Enabled(IDC_DL_LIVE_UPDATE), want.liveUpdate);
      EXPECT_EQ(d.Enabled(IDC_CLOSE), want.selectAndClose);
      EXPECT_EQ(d.Enabled(IDC_DL_SAVE_SELECTED), want.saveSelected);
      EXPECT_EQ(d.Enabled(IDC_DL_SAVE_COMMENT), want.saveComment);
      EXPECT_EQ(d.Enabled(IDC_DL_COMMENT), want.comment);
      EXPECT_EQ(d.Enabled(IDC_DL_SAVE_ALL), want.saveAll);
      EXPECT_FALSE(d.Layered());
      PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
    };
    dialog.Run();
    InstallHidHost(nullptr);
  }
}

// The comment box takes no more than a data set file keeps, and a character
// the file cannot hold is not changed silently.
TEST_F(CaptureWindow, TheCommentIsLimitedToWhatTheFileKeepsAndSaysWhatItCannotHold) {
  UseScenario("");
  DownloadBeforehand();
  Altimeter().SelectPlotSet(0);
  CTestCapture dialog;
  dialog.script = [&](CTestCapture& d) {
    EXPECT_EQ(SendDlgItemMessageW(d.hwnd, IDC_DL_COMMENT, EM_GETLIMITTEXT, 0, 0), 1023);
    d.Type(IDC_DL_COMMENT, L"Field day \x263A");
    d.Press(IDC_DL_SAVE_COMMENT);
    const std::wstring told =
        L"Some characters of the comment cannot be kept in a data set file; they were stored as '?'.\r\n";
    EXPECT_TRUE(d.PumpUntil([&] { return d.Box().find(told) != std::wstring::npos; })) << d.Box();
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  ASSERT_FALSE(Altimeter().comments.empty());
  EXPECT_EQ(Altimeter().comments[0], "Field day ?");
}

TEST_F(CaptureWindow, NoSecondWorkerOrReconnectStartsDuringADownload) {
  UseScenario("");
  const size_t recorded = RecordedPackets();
  TraceCapture trace;
  CTestCapture dialog;
  dialog.onProgress = [](CTestCapture& d, int packet, bool partial, bool) {
    if (packet != 5 || partial) return;
    for (int id : {IDC_DL_READ_DATA, IDC_DL_CLEAR_DEVICE, IDC_DL_SAVE_ALL, IDC_DL_SAVE_SELECTED})
      PostMessageW(d.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    PostMessageW(d.Strip(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, 4));
    PostMessageW(d.hwnd, WM_DEVICECHANGE, 0x8000 /* DBT_DEVICEARRIVAL */, 0);
    Sleep(300);  // the dialog thread handles them meanwhile
  };
  dialog.script = [&](CTestCapture& d) {
    const std::wstring before = d.Box();
    d.Press(IDC_DL_READ_DATA);
    d.WaitForIdle();
    const std::wstring box = d.Box().substr(before.size());
    size_t attempts = 0;
    for (size_t at = box.find(L"Attempting to connect"); at != std::wstring::npos;
         at = box.find(L"Attempting to connect", at + 1))
      ++attempts;
    EXPECT_EQ(attempts, 1u);
    EXPECT_NE(box.find(L"Packets Read: " + std::to_wstring(recorded)), std::wstring::npos);
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  ExpectPacketsAsOnTheDevice(recorded);
  EXPECT_EQ(dialog.selectedSet, -1);  // the click was ignored
  EXPECT_TRUE(asked.empty());         // no "Are you sure?" for a Clear Device
  EXPECT_TRUE(requests.empty());      // no save dialog
}

// With Live Update the main window shows the preview during the download: grey
// ground, the red curve, the blue ground line; the dialog is translucent. The
// preview is drawn once a packet, not once a report, and the screen is the
// same either way. After the dialog the chosen set's plot returns.
TEST_F(CaptureWindow, LiveUpdateDrawsTheFlightBehindATranslucentDialogAndTheSetReturnsAfter) {
  UseScenario("");
  const size_t recorded = RecordedPackets();
  SetMessageSeam([](HWND, UINT, const std::wstring&, UINT) { return IDYES; });
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  int32_t selected;
  size_t reports = 0, layered = 0, checked = 0;
  uint64_t writesBefore = 0, writesAfter = 0;
  constexpr int kWatched = 30;
  std::vector<uint64_t> drawnAt(kWatched + 1, 0);  // the back buffer's writes once each packet's preview is shown
  {
    CTestCapture dialog;
    dialog.onProgress = [&](CTestCapture& d, int packet, bool partial, bool setStart) {
      if (!partial || setStart) return;
      ++reports;
      BYTE alpha = 0;
      DWORD how = 0;
      layered += d.Layered() && GetLayeredWindowAttributes(d.hwnd, nullptr, &alpha, &how) && alpha == 64 &&
                 how == LWA_ALPHA;
      if (packet > kWatched || drawnAt[static_cast<size_t>(packet)] != 0) return;
      // The reader only marked the preview; the painter draws it.
      ASSERT_TRUE(d.WaitForLivePreview(std::chrono::milliseconds(5000))) << "packet " << packet;
      drawnAt[static_cast<size_t>(packet)] = BackBufferWrites();
      if (packet != kWatched) return;
      ++checked;
      std::vector<uint32_t> shown, fresh;
      int width = 0, height = 0;
      ASSERT_TRUE(ReadBackBuffer(shown, width, height));
      EXPECT_GT(std::count(shown.begin(), shown.end(), kGrey), static_cast<ptrdiff_t>(shown.size() * 8 / 10));
      EXPECT_GT(std::count(shown.begin(), shown.end(), kPlotRed), width);
      EXPECT_GT(std::count(shown.begin(), shown.end(), kPlotBlue), width);
      RenderLivePlot();
      ASSERT_TRUE(ReadBackBuffer(fresh, width, height));
      EXPECT_TRUE(shown == fresh) << "the painter's preview differs from one drawn on the spot";
    };
    dialog.script = [&](CTestCapture& d) {
      d.Check(IDC_DL_LIVE_UPDATE);
      writesBefore = BackBufferWrites();
      d.Press(IDC_DL_READ_DATA);
      d.WaitForIdle();
      writesAfter = BackBufferWrites();
      EXPECT_FALSE(d.Layered());
      d.ClickStrip(d.XOf(Altimeter().FirstPacketOfSet(2) + 3));
      d.Press(IDC_CLOSE);
    };
    dialog.Run(MainWindowHandle());
    selected = dialog.selectedSet;
  }
  ExpectPacketsAsOnTheDevice(recorded);
  EXPECT_EQ(checked, 1u);
  EXPECT_EQ(layered, reports);
  EXPECT_GT(reports, 6 * recorded);
  // The preview grows packet by packet: each packet's was drawn anew.
  for (int packet = 2; packet <= kWatched; ++packet)
    EXPECT_GT(drawnAt[static_cast<size_t>(packet)], drawnAt[static_cast<size_t>(packet) - 1]) << "packet " << packet;
  // At most one drawing a packet (the erased one that ends the memory too),
  // plus the test's own and the drawing again that it forces.
  EXPECT_LE(writesAfter - writesBefore, recorded + 1 + 2);

  EXPECT_EQ(selected, 2);
  ShowDownloadedSet(selected);
  EXPECT_EQ(Altimeter().flight.selectedSet, 2);
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(ReadBackBuffer(pixels, width, height));
  EXPECT_GT(std::count(pixels.begin(), pixels.end(), kLightBlue), static_cast<ptrdiff_t>(pixels.size() * 7 / 10));
  EXPECT_GT(std::count(pixels.begin(), pixels.end(), kPlotRed), width / 2);
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), kGrey), 0);
}

// Tools > Download Data... opens the dialog; afterwards the main window shows
// the set it left selected (set 0 for none).
TEST_F(CaptureWindow, TheMenuCommandOpensTheDialogAndShowsItsSetAfter) {
  UseScenario("");
  SetMessageSeam([](HWND, UINT, const std::wstring&, UINT) { return IDYES; });
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  TraceCapture trace;
  // Closed as soon as it shows.
  RunMenuDialog(ID_TOOLS_DOWNLOAD_DATA, L"Download Data", [](HWND) { return true; });
  EXPECT_TRUE(trace.Has("Selected Set: -1"));
  EXPECT_TRUE(trace.Has("DESTRUCT"));
  EXPECT_EQ(Altimeter().flight.selectedSet, 0);
  EXPECT_FALSE(Altimeter().IsOpen());
}

}  // namespace
