// The dialog framework on real windows: a small resizable dialog built in
// memory, driven from inside its own modal loop.
#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/DialogWindow.h"
#include "resources/resource.h"
#include "device/TraceLog.h"
#include "tests/TestSupport.h"
#include "tests/win32/DialogDriver.h"

namespace {

constexpr int kGroupId = 1007;
constexpr int kWorkId = 1006;
constexpr int kIconId = IDC_STATUS_ICON;
constexpr UINT kThrow = WM_APP + 2;

// A DLGTEMPLATE in the shared form of the program's dialogs.
class DialogTemplate {
 public:
  DialogTemplate(const wchar_t* caption, short cx, short cy) {
    Align();
    Put(uint32_t{0x06CC0840});  // WS_THICKFRAME | DS_CENTER | DS_SETFONT | caption, sysmenu, clip
    Put(uint32_t{0});
    countAt_ = words_.size();
    Put(uint16_t{0});
    Put(uint16_t{0});
    Put(uint16_t{0});
    Put(uint16_t(cx));
    Put(uint16_t(cy));
    Put(uint16_t{0});  // no menu
    Text(L"DialogClass");
    Text(caption);
    Put(uint16_t{8});
    Text(L"Microsoft Sans Serif");
  }
  void Item(uint16_t classAtom, const wchar_t* text, int id, uint32_t style, short x, short y, short cx, short cy) {
    Align();
    Put(static_cast<uint32_t>(style | WS_CHILD | WS_VISIBLE));
    Put(uint32_t{0});
    Put(uint16_t(x));
    Put(uint16_t(y));
    Put(uint16_t(cx));
    Put(uint16_t(cy));
    Put(uint16_t(id));
    Put(uint16_t{0xFFFF});
    Put(classAtom);
    Text(text);
    Put(uint16_t{0});
    ++words_[countAt_];
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Put(uint16_t w) { words_.push_back(w); }
  void Put(uint32_t d) {
    Put(uint16_t(d & 0xFFFF));
    Put(uint16_t(d >> 16));
  }
  void Text(const wchar_t* s) {
    for (; *s; ++s) Put(uint16_t(*s));
    Put(uint16_t{0});
  }
  void Align() {
    if (words_.size() % 2) Put(uint16_t{0});
  }
  std::vector<uint16_t> words_;
  size_t countAt_ = 0;
};

DialogTemplate StatusDialogTemplate() {
  DialogTemplate t(L"Test", 240, 160);
  t.Item(0x0080, L"Status", kGroupId, BS_GROUPBOX, 5, 5, 230, 125);
  t.Item(0x0081, L"", IDC_STATUS_BOX, 0x50A108C4, 12, 18, 216, 105);
  t.Item(0x0080, L"Work", kWorkId, BS_PUSHBUTTON, 130, 137, 50, 14);
  t.Item(0x0080, L"Close", IDC_CLOSE, BS_PUSHBUTTON, 185, 137, 50, 14);
  t.Item(0x0082, L"", kIconId, SS_ICON, 5, 137, 20, 20);
  return t;
}

// A dialog of the common shape, built from the template above and driven.
class CTestDialog : public DialogDriver<CStatusDialog, CTestDialog> {
 public:
  explicit CTestDialog(CAltimeter& device = Altimeter()) : DialogDriver(0, device) {}
  // The framework's own calls, for the tests' scripts.
  using CStatusDialog::ConnectAtOpen;
  using CStatusDialog::RegisterDeviceNotifications;
  using CStatusDialog::ShowConnectionIcon;
  using CStatusDialog::StartWorker;
  using CStatusDialog::WorkerHandle;
  ~CTestDialog() override { JoinWorker(); }

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CLOSE) boxAtClose.push_back(Box());
    return DialogDriver::HandleMessage(window, message, wParam, lParam);
  }
  void OnInitDialog() override {
    MakeLayout();
    Anchor(IDC_STATUS_BOX, {true, true, true, true});
    Anchor(kWorkId, {false, false, true, true});
    Anchor(IDC_CLOSE, {false, false, true, true});
    AnchorGroupBox(kGroupId, {true, true, true, true});
  }
  void OnCommand(WPARAM command) override {
    if (LOWORD(command) == IDC_CLOSE) SendMessageW(hwnd, WM_CLOSE, 0, 0);
    if (LOWORD(command) == kWorkId) workerStarts.push_back(StartWorker(&CTestDialog::Worker));
  }
  bool WaitsForWorker(int controlId) const override { return defersWork && controlId == kWorkId; }
  bool BeforeCloseWait() override { return !refusesClose; }
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
    result = TRUE;
    switch (message) {
      case kThrow:
        throw 1;
      case WM_DEVICECHANGE: {
        if (connects) return false;
        DeviceNotification notification;
        changes.push_back({static_cast<uint32_t>(wParam), DecodeDeviceBroadcast(lParam, notification) ? notification.name
                                                                                                      : L"?"});
        return true;
      }
      default:
        return false;
    }
  }

  RECT ControlRect(int id) const {
    RECT r{};
    HWND control = GetDlgItem(hwnd, id);
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  void Worker() {
    if (checkDevice && !Device().IsOpen()) {
      AppendStatus(kAltimeterNotFoundLine);
      return;
    }
    for (int i = 1; i <= ticks; ++i) {
      AppendStatus(L"tick " + std::to_wstring(i) + L"\r\n");
      Sleep(60);
    }
    if (afterWork) afterWork(*this);
  }

  void RefreshConnectionLook(bool busy) override { looks.push_back(busy); }

  void RunConnectRoutine() override {
    connectThreads.push_back(GetCurrentThreadId());
    if (onConnect) onConnect(*this);
    CStatusDialog::RunConnectRoutine();
  }

  std::function<void(CTestDialog&)> onConnect;
  std::function<void(CTestDialog&)> afterWork;  // the worker's last step
  std::vector<bool> looks;                      // RefreshConnectionLook's busy, on the dialog thread
  bool checkDevice = false;  // the worker looks for the device first
  bool defersWork = false;   // "Work" pressed during a worker runs after it
  bool connects = false;     // device changes run the connect routine
  bool refusesClose = false;  // its close never ends it
  int ticks = 6;
  std::vector<bool> workerStarts;
  std::vector<DWORD> connectThreads;
  std::vector<std::wstring> boxAtClose;
  std::vector<std::pair<uint32_t, std::wstring>> changes;

 protected:
  INT_PTR Launch(HWND owner) override {
    DialogTemplate t = StatusDialogTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), owner, DialogRouterProc,
                                   reinterpret_cast<LPARAM>(this));
  }
};

class DialogFramework : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    ASSERT_TRUE(RegisterDialogClass(GetModuleHandleW(nullptr)));
    Altimeter();  // made once, before any test watches the trace
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

  ULONG_PTR token_ = 0;
};

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  size_t n = 0;
  for (const std::string& l : lines) n += l == line;
  return n;
}

TEST_F(DialogFramework, ClosingWithoutAWorkerEndsAtOnce) {
  TraceCapture trace;
  {
    CTestDialog dialog;
    dialog.script = [](CTestDialog& d) { PostMessageW(d.hwnd, WM_CLOSE, 0, 0); };
    dialog.Run();
    EXPECT_EQ(dialog.boxAtClose.size(), 1u);
  }
  std::vector<std::string> lines = trace.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Waiting for thread to close...");
  EXPECT_EQ(lines[1], "Thread has exited.");
  EXPECT_EQ(lines[2], "DESTRUCT");
}

TEST_F(DialogFramework, ClosingDuringAWorkerRepostsAndItsLinesStillShow) {
  TraceCapture trace;
  CTestDialog dialog;
  dialog.script = [](CTestDialog& d) {
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
    SendMessageW(d.hwnd, WM_COMMAND, IDC_CLOSE, 0);
  };
  dialog.Run();
  std::vector<std::string> lines = trace.Lines();
  EXPECT_GE(CountOf(lines, "reposting close message..."), 2u);
  EXPECT_EQ(CountOf(lines, "Thread has exited."), 1u);
  EXPECT_EQ(lines.back(), "Thread has exited.");
  EXPECT_EQ(CountOf(lines, "Waiting for thread to close..."), dialog.boxAtClose.size());
  // Lines appended while the close was being retried reached the box.
  EXPECT_NE(dialog.boxAtClose.back().find(L"tick 5\r\n"), std::wstring::npos);
  EXPECT_EQ(dialog.boxAtEnd, L"tick 1\r\ntick 2\r\ntick 3\r\ntick 4\r\ntick 5\r\ntick 6\r\n");
}

TEST_F(DialogFramework, ResizingIsBoundedBelowAndMovesAnchoredControls) {
  CTestDialog dialog;
  dialog.script = [](CTestDialog& d) {
    RECT opened;
    GetWindowRect(d.hwnd, &opened);
    const int w = opened.right - opened.left, h = opened.bottom - opened.top;
    MINMAXINFO info{};
    SendMessageW(d.hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, w);
    EXPECT_EQ(info.ptMinTrackSize.y, h);

    SetWindowPos(d.hwnd, nullptr, 0, 0, w - 60, h - 40, SWP_NOMOVE | SWP_NOZORDER);
    RECT now;
    GetWindowRect(d.hwnd, &now);
    EXPECT_EQ(now.right - now.left, w);
    EXPECT_EQ(now.bottom - now.top, h);

    const RECT box = d.ControlRect(IDC_STATUS_BOX), close = d.ControlRect(IDC_CLOSE);
    ASSERT_EQ(d.groupBoxes.size(), 1u);
    RECT frame;
    GetWindowRect(d.groupBoxes[0]->window, &frame);
    MapWindowPoints(nullptr, d.hwnd, reinterpret_cast<POINT*>(&frame), 2);

    SetWindowPos(d.hwnd, nullptr, 0, 0, w + 100, h + 60, SWP_NOMOVE | SWP_NOZORDER);
    const RECT box2 = d.ControlRect(IDC_STATUS_BOX), close2 = d.ControlRect(IDC_CLOSE);
    EXPECT_EQ(box2.left, box.left);
    EXPECT_EQ(box2.top, box.top);
    EXPECT_EQ(box2.right, box.right + 100);
    EXPECT_EQ(box2.bottom, box.bottom + 60);
    EXPECT_EQ(close2.left, close.left + 100);
    EXPECT_EQ(close2.top, close.top + 60);
    EXPECT_EQ(close2.right - close2.left, close.right - close.left);
    EXPECT_EQ(close2.bottom - close2.top, close.bottom - close.top);
    RECT frame2;
    GetWindowRect(d.groupBoxes[0]->window, &frame2);
    MapWindowPoints(nullptr, d.hwnd, reinterpret_cast<POINT*>(&frame2), 2);
    EXPECT_EQ(frame2.right, frame.right + 100);
    EXPECT_EQ(frame2.bottom, frame.bottom + 60);
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
}

TEST_F(DialogFramework, ALongLogStaysScrolledToItsLastLine) {
  CTestDialog dialog;
  dialog.script = [](CTestDialog& d) {
    // From another thread, as a worker appends.
    std::thread writer([&d] {
      for (int i = 1; i <= 3000; ++i) d.AppendStatus(L"Packet Read: " + std::to_wstring(i) + L"\r\n");
    });
    writer.join();
    MSG message;
    while (PeekMessageW(&message, d.hwnd, kStatusChangedMessage, kStatusChangedMessage, PM_REMOVE))
      DispatchMessageW(&message);
    HWND box = GetDlgItem(d.hwnd, IDC_STATUS_BOX);
    const int lines = static_cast<int>(SendMessageW(box, EM_GETLINECOUNT, 0, 0));
    EXPECT_GE(lines, 3000);
    EXPECT_GT(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), 2900);
    // The last line with text lies inside the box's client area.
    const LRESULT lastLine = SendMessageW(box, EM_LINEINDEX, lines - 2, 0);
    const LRESULT where = SendMessageW(box, EM_POSFROMCHAR, lastLine, 0);
    RECT client;
    GetClientRect(box, &client);
    const int y = static_cast<short>(HIWORD(where));
    EXPECT_GE(y, 0);
    EXPECT_LT(y, client.bottom);
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  EXPECT_NE(dialog.boxAtEnd.find(L"Packet Read: 3000\r\n"), std::wstring::npos);
}

TEST_F(DialogFramework, AWorkerWithoutADeviceSaysSoAndTheDialogStaysUsable) {
  CAltimeter altimeter;
  CTestDialog dialog(altimeter);
  dialog.checkDevice = true;
  dialog.script = [](CTestDialog& d) {
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
    d.WaitForIdle(5000);
    SendMessageW(d.hwnd, WM_COMMAND, IDC_CLOSE, 0);
  };
  dialog.Run();
  EXPECT_EQ(dialog.boxAtEnd, L"Altimeter not found. Make sure it is properly connected to the PC.\r\n");
}

TEST_F(DialogFramework, AnExceptionInAHandlerCountsAsNotHandled) {
  CTestDialog dialog;
  dialog.script = [](CTestDialog& d) {
    EXPECT_EQ(SendMessageW(d.hwnd, kThrow, 0, 0), 0);
    EXPECT_TRUE(IsWindow(d.hwnd));
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
}

// Paints the owner-drawn frame into a bitmap prefilled with a marker colour.
TEST_F(DialogFramework, TheGroupBoxFrameLeavesTheControlsInsideUntouched) {
  CTestDialog dialog;
  dialog.script = [](CTestDialog& d) {
    ASSERT_EQ(d.groupBoxes.size(), 1u);
    EXPECT_EQ(d.groupBoxes[0]->caption, L"Status");
    HWND frame = d.groupBoxes[0]->window;
    RECT client;
    GetClientRect(frame, &client);
    const int w = client.right, h = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto* pixels = static_cast<uint32_t*>(bits);
    constexpr uint32_t kMarker = 0x00FF00FF;
    std::fill(pixels, pixels + w * h, kMarker);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_STATIC;
    item.hwndItem = frame;
    item.hDC = dc;
    item.rcItem = client;
    SendMessageW(d.hwnd, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
    GdiFlush();
    auto at = [&](int x, int y) { return pixels[y * w + x] & 0x00FFFFFF; };
    constexpr uint32_t kTan = 0xD2B48C, kBackground = 0xC4DFFF;
    int topEdge = -1;
    for (int y = 0; y < 30 && topEdge < 0; ++y)
      if (at(w - 20, y) == kTan) topEdge = y;
    EXPECT_GT(topEdge, 0);
    EXPECT_EQ(at(w / 2, h - 2), kTan);   // bottom edge
    EXPECT_EQ(at(1, h / 2), kTan);       // left edge
    EXPECT_EQ(at(w - 2, h / 2), kTan);   // right edge
    EXPECT_EQ(at(5, h / 2), kBackground);  // the gap between frame and box
    // The status box inside keeps what was there.
    RECT box;
    GetWindowRect(GetDlgItem(d.hwnd, IDC_STATUS_BOX), &box);
    MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&box), 2);
    EXPECT_EQ(at((box.left + box.right) / 2, (box.top + box.bottom) / 2), kMarker);
    EXPECT_EQ(at(box.left + 1, box.top + 1), kMarker);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
}

// Tells arrivals and removals from its own thread, as the simulator does.
class SinkOnlyHost : public HidHost {
 public:
  bool InterfacePath(uint32_t, std::wstring&) override { return false; }
  HidHandle OpenPath(const std::wstring&, uint32_t, uint32_t, bool) override { return kInvalidHidHandle; }
  void CloseHandle(HidHandle) override {}
  bool GetAttributes(HidHandle, HidAttributes&) override { return false; }
  HidEvent CreateIoEvent() override { return nullptr; }
  void CloseIoEvent(HidEvent) override {}
  bool ReadReport(HidHandle, uint8_t*, uint32_t, HidOverlapped&, uint32_t) override { return false; }
  bool WriteReport(HidHandle, const uint8_t*, uint32_t, HidOverlapped&, uint32_t) override { return false; }
  void Sleep(uint32_t) override {}
  void SetDeviceChangeSink(DeviceChangeSink s) override { sink = std::move(s); }
  DeviceChangeSink sink;
};

TEST_F(DialogFramework, SimulatedDeviceChangesArriveAsWmDeviceChange) {
  auto host = std::make_shared<SinkOnlyHost>();
  InstallHidHost(host);
  CTestDialog dialog;
  dialog.script = [&host](CTestDialog& d) {
    d.RegisterDeviceNotifications();
    ASSERT_TRUE(host->sink);
    std::thread bus([&host] {
      host->sink(kDeviceArrival, {kDevTypDeviceInterface, L"\\\\?\\hid#vid_03db&pid_0002#1"});
      host->sink(kDeviceRemoveComplete, {kDevTypDeviceInterface, L"\\\\?\\hid#vid_03db&pid_0001#2"});
    });
    bus.join();
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  InstallHidHost(nullptr);
  ASSERT_EQ(dialog.changes.size(), 2u);
  EXPECT_EQ(dialog.changes[0].first, kDeviceArrival);
  EXPECT_EQ(dialog.changes[0].second, L"\\\\?\\hid#vid_03db&pid_0002#1");
  EXPECT_EQ(dialog.changes[1].first, kDeviceRemoveComplete);
  EXPECT_EQ(dialog.changes[1].second, L"\\\\?\\hid#vid_03db&pid_0001#2");
}

// Without device notifications a device plugged in later is never seen: the
// trace and the status box say so.
TEST_F(DialogFramework, AFailedRegistrationForDeviceNotificationsIsTold) {
  const CStatusDialog::RegisterSeam system = CStatusDialog::deviceNotificationSeam;
  CStatusDialog::deviceNotificationSeam = [](HWND, void*) { return false; };
  TraceCapture trace;
  CTestDialog dialog;
  dialog.script = [](CTestDialog& d) {
    d.RegisterDeviceNotifications();
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  CStatusDialog::deviceNotificationSeam = system;
  EXPECT_EQ(dialog.boxAtEnd, L"Devices plugged in from now on cannot be seen. Close this window and open it again "
                             L"once the device is connected.\r\n");
  bool traced = false;
  for (const std::string& line : trace.Lines()) traced = traced || line.rfind("RegisterDeviceNotificationW failed", 0) == 0;
  EXPECT_TRUE(traced);
}

// A bootloader told to leave comes back as the application firmware: its
// arrival reaches the dialog as WM_DEVICECHANGE and connects.
TEST_F(DialogFramework, ADeviceBackFromItsBootloaderReconnectsThroughTheWindow) {
  std::string error;
  auto host = MakeSimHost("bootloader,latency=0", error);
  ASSERT_TRUE(host) << error;
  InstallHidHost(host);
  {
    CAltimeter altimeter;
    CTestDialog dialog(altimeter);
    dialog.connects = true;
    HANDLE closedIcon = nullptr, connectedIcon = nullptr;
    dialog.script = [&](CTestDialog& d) {
      d.RegisterDeviceNotifications();
      d.ConnectAtOpen();
      d.ShowConnectionIcon(kIconId);
      closedIcon = d.Icon(kIconId);
    };
    dialog.stepBoundMs = 10000;
    dialog.steps = {[&](CTestDialog& d) {
      if (d.Box().find(L"Device Connected.\r\n") == std::wstring::npos) return false;
      d.ShowConnectionIcon(kIconId);
      connectedIcon = d.Icon(kIconId);
      return true;
    }};
    dialog.Run();
    EXPECT_EQ(dialog.boxAtEnd,
              L"Device found, but is in bootloader mode.\r\n"
              L"Device disconnected.\r\n"  // the bootloader's own removal
              L"Device Connected.\r\n"
              L"Current device firmware version: 4.05\r\n");
    EXPECT_TRUE(altimeter.IsOpen());
    EXPECT_FALSE(altimeter.bootloaderMode);
    // The icon followed: not connected (109), then connected (110).
    EXPECT_NE(closedIcon, nullptr);
    EXPECT_NE(connectedIcon, nullptr);
    EXPECT_NE(closedIcon, connectedIcon);
  }
  InstallHidHost(nullptr);
}

// One worker at a time: a second press while one runs starts nothing.
TEST_F(DialogFramework, ASecondWorkerIsRefusedWhileOneRuns) {
  CTestDialog dialog;
  dialog.ticks = 3;
  dialog.script = [](CTestDialog& d) {
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
    d.WaitForIdle(5000);
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);  // the first has ended: this one runs
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  dialog.Run();
  EXPECT_EQ(dialog.workerStarts, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(dialog.boxAtEnd, L"tick 1\r\ntick 2\r\ntick 3\r\ntick 1\r\ntick 2\r\ntick 3\r\n");
}

TEST_F(DialogFramework, APressOfAnEnabledButtonDuringAWorkerRunsWhenTheWorkerHasEnded) {
  CTestDialog dialog;
  dialog.ticks = 3;
  dialog.defersWork = true;
  dialog.script = [](CTestDialog& d) {
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
    // The worker is ending: its button is enabled (this dialog's look never
    // disables it), and the press must not be lost.
    SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
  };
  // Closed once the second worker has run.
  dialog.steps = {[](CTestDialog& d) { return d.workerStarts.size() >= 2; }};
  dialog.Run();
  EXPECT_EQ(dialog.workerStarts, (std::vector<bool>{true, true}));
  EXPECT_EQ(dialog.boxAtEnd, L"tick 1\r\ntick 2\r\ntick 3\r\ntick 1\r\ntick 2\r\ntick 3\r\n");
}

// A dialog whose framework base is not its first base: the worker must still
// get the dialog itself, and must be over before the dialog's own members go,
// even when the dialog ends without the close protocol's wait.
struct WorkerFacts {
  const void* self = nullptr;
  std::atomic<bool> workerDone{false};
  bool doneBeforeMembers = false;
};

class CProgressFirstDialog : public PacketProgress, public CTestDialog {
 public:
  explicit CProgressFirstDialog(WorkerFacts& facts) : member(facts) {}
  ~CProgressFirstDialog() override { JoinWorker(); }
  void OnPacketProgress(int, bool, bool) override {}
  void SlowTask() {
    member.facts.self = this;
    Sleep(300);
    member.facts.workerDone = true;
  }
  struct Member {
    explicit Member(WorkerFacts& f) : facts(f) {}
    ~Member() { facts.doneBeforeMembers = facts.workerDone.load(); }
    WorkerFacts& facts;
  } member;
};

TEST_F(DialogFramework, AWorkerGetsItsOwnDialogAndEndsBeforeItsMembers) {
  WorkerFacts facts;
  const void* expected = nullptr;
  {
    CProgressFirstDialog dialog(facts);
    expected = &dialog;
    dialog.script = [&dialog](CTestDialog& d) {
      EXPECT_TRUE(dialog.StartWorker(&CProgressFirstDialog::SlowTask));
      EndDialog(d.hwnd, 0);  // no close protocol: the destructor must wait
    };
    dialog.Run();
  }
  EXPECT_EQ(facts.self, expected);
  EXPECT_TRUE(facts.doneBeforeMembers);
}

// An arrival during a worker reconnects once the worker has ended, on the
// dialog thread; a button pressed while a connect routine runs starts nothing.
TEST_F(DialogFramework, ReconnectsRunOnTheDialogThreadAndNeverUnderAWorker) {
  auto host = std::make_shared<SinkOnlyHost>();
  InstallHidHost(host);
  {
    CAltimeter altimeter;
    CTestDialog dialog(altimeter);
    dialog.connects = true;
    dialog.ticks = 4;
    DWORD dialogThread = 0;
    dialog.onConnect = [](CTestDialog& d) {
      // A message pumped inside the routine, as a message box would.
      SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
    };
    dialog.script = [&](CTestDialog& d) {
      dialogThread = GetCurrentThreadId();
      d.ConnectAtOpen();
      d.onConnect = nullptr;
      SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0);
      std::vector<unsigned char> record =
          MakeDeviceBroadcast({kDevTypDeviceInterface, L"\\\\?\\hid#vid_03db&pid_0002#9"});
      SendMessageW(d.hwnd, WM_DEVICECHANGE, kDeviceArrival, reinterpret_cast<LPARAM>(record.data()));
      SendMessageW(d.hwnd, WM_DEVICECHANGE, kDeviceArrival, reinterpret_cast<LPARAM>(record.data()));
      EXPECT_EQ(d.connectThreads.size(), 1u);  // waits for the worker
    };
    dialog.steps = {[](CTestDialog& d) { return d.connectThreads.size() >= 2; }};
    dialog.Run();
    EXPECT_EQ(dialog.workerStarts, (std::vector<bool>{false, true}));
    ASSERT_EQ(dialog.connectThreads.size(), 2u);  // the two arrivals: one connect
    EXPECT_EQ(dialog.connectThreads[0], dialogThread);
    EXPECT_EQ(dialog.connectThreads[1], dialogThread);
    EXPECT_EQ(dialog.boxAtEnd,
              L"Device not found.\r\ntick 1\r\ntick 2\r\ntick 3\r\ntick 4\r\nDevice not found.\r\n");
  }
  InstallHidHost(nullptr);
}

// A device change told after the worker's own last look, just before it ends,
// refreshes as busy; the dialog thread's look after the worker's end undoes it.
TEST_F(DialogFramework, TheLookIsNotLeftBusyByAChangeAtTheWorkersEnd) {
  auto host = std::make_shared<SinkOnlyHost>();
  InstallHidHost(host);
  {
    CAltimeter altimeter;
    CTestDialog dialog(altimeter);
    dialog.connects = true;
    dialog.ticks = 1;
    dialog.afterWork = [](CTestDialog& d) {
      std::vector<unsigned char> record = MakeDeviceBroadcast({kDevTypDeviceInterface, L"another device"});
      SendMessageW(d.hwnd, WM_DEVICECHANGE, kDeviceRemoveComplete, reinterpret_cast<LPARAM>(record.data()));
    };
    dialog.script = [](CTestDialog& d) { SendMessageW(d.hwnd, WM_COMMAND, kWorkId, 0); };
    dialog.stepBoundMs = 5000;
    dialog.steps = {[](CTestDialog& d) { return d.looks.size() >= 2; }};
    dialog.Run();
    ASSERT_EQ(dialog.looks.size(), 2u);
    EXPECT_TRUE(dialog.looks[0]);    // the change, while the worker still had the channel
    EXPECT_FALSE(dialog.looks[1]);   // after its end
  }
  InstallHidHost(nullptr);
}

// The driver's bounds: a dialog whose close never ends it, or whose step is
// never done, fails its test by name and is ended, so the run goes on.
TEST_F(DialogFramework, ADialogThatNeverEndsIsFailedByNameAndEndedByItsBound) {
  struct Case {
    const char* name;
    bool refusesClose;
    bool stepNeverDone;
    const char* failure;
  };
  const Case cases[] = {
      {"a close that never ends it", true, false, "the dialog \"Test\" did not end within 0.5 s"},
      {"a step that is never done", false, true, "step 0 of the dialog \"Test\" was not done within 0.3 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestDialog dialog;
    dialog.refusesClose = c.refusesClose;
    dialog.runBoundMs = 500;
    dialog.stepBoundMs = 300;
    if (c.refusesClose) dialog.script = [](CTestDialog& d) { PostMessageW(d.hwnd, WM_CLOSE, 0, 0); };
    if (c.stepNeverDone) dialog.steps = {[](CTestDialog&) { return false; }};
    EXPECT_NONFATAL_FAILURE(dialog.Run(), c.failure);
    EXPECT_FALSE(IsWindow(dialog.hwnd)) << "the dialog was left open";
    EXPECT_EQ(dialog.boxAtClose.empty(), !c.refusesClose) << "closed only by the bound";
  }
}

}  // namespace
