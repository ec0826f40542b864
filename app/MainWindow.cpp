// Start-up, the main window procedure, the message loop and the menu commands.
#include "app/MainWindow.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "app/CommandLine.h"
#include "app/DialogWindow.h"
#include "app/FileDialog.h"
#include "app/MainWindowSurfaces.h"
#include "app/ProgramInfo.h"
#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "firmware/UpdateWindow.h"
#include "flightdata/CaptureWindow.h"
#include "resources/resource.h"
#include "settings/AboutWindow.h"
#include "settings/ChipLoadWindow.h"
#include "settings/ControlOptionsWindow.h"

namespace {

constexpr int kMinimumWidth = 420;
constexpr int kMinimumHeight = 320;

HWND g_mainWindow = nullptr;

// One buffer per command, each emptied before its dialog is shown.
wchar_t g_openFileName[kFileNameLength];
wchar_t g_csvFileName[kFileNameLength];
wchar_t g_xmlFileName[kFileNameLength];

struct ExportKind {
  const wchar_t* filter;  // name and pattern, double-terminated
  const wchar_t* title;
  const wchar_t* extension;
  wchar_t* fileName;
  bool (CAltimeter::*write)(int32_t set, const std::wstring& path);
};

void Export(HWND owner, const ExportKind& kind) {
  CAltimeter& altimeter = Altimeter();
  if (altimeter.flight.altitudeMsl.empty()) return;
  kind.fileName[0] = L'\0';
  OPENFILENAMEW request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = owner;
  request.lpstrFilter = kind.filter;
  request.lpstrFile = kind.fileName;
  request.nMaxFile = kFileNameLength;
  request.lpstrTitle = kind.title;
  request.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  request.lpstrDefExt = kind.extension;
  if (!ShowFileDialog(request, true)) return;
  kind.fileName[kFileNameLength - 1] = L'\0';
  const int32_t set = altimeter.flight.selectedSet;
  TraceLog << "Current Set: " << set << std::endl;
  if (!(altimeter.*kind.write)(set, kind.fileName)) ShowMessage(owner, IDS_SAVE_FAILED, MB_ICONERROR);
}

// After a size change: the surfaces at the new client size, and the plot again.
void ResizeHandling(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  ReleaseSurfaces();
  if (client.right == 0 || client.bottom == 0) return;  // no surfaces until the next resize
  SetPlotSize(window, client.right, client.bottom);
  if (!CreateSurfaces(window, true)) return;
  RequestRedraw();
}

LRESULT OnCreate(HWND window) {
  g_mainWindow = window;
  RECT client{};
  GetClientRect(window, &client);
  ReleaseSurfaces();
  SetPlotSize(window, client.right, client.bottom);
  CreateSurfaces(window, false);
  return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case ID_FILE_OPEN:
      OpenDataSet(window);
      break;
    case ID_FILE_EXPORT_CSV:
      ExportCsv(window);
      break;
    case ID_FILE_EXPORT_XML:
      ExportXml(window);
      break;
    case ID_FILE_EXIT:
      SendMessageW(window, WM_CLOSE, 0, 0);
      break;
    case ID_TOOLS_DEVICE_SETTINGS: {
      CChipLoadWindow chipLoad;
      RunDialog(chipLoad, window);
      break;
    }
    case ID_TOOLS_UPDATE_FIRMWARE: {
      CUpdateWindow update;
      RunDialog(update, window);
      break;
    }
    case ID_TOOLS_CONTROL_DEVICE: {
      CControlOptionsWindow control;
      RunDialog(control, window);
      break;
    }
    case ID_TOOLS_DOWNLOAD_DATA: {
      int32_t selectedSet;
      {
        CCaptureWindow capture;
        RunDialog(capture, window);
        selectedSet = capture.selectedSet;
      }
      ShowDownloadedSet(selectedSet);
      break;
    }
    case ID_HELP_ABOUT: {
      CAboutWindow about;
      RunDialog(about, window);
      break;
    }
    default:
      break;
  }
  return 0;
}

}  // namespace

HWND MainWindowHandle() { return g_mainWindow; }

bool LoadAndShowDataSet(const std::wstring& path) {
  CAltimeter& altimeter = Altimeter();
  if (!altimeter.LoadDataSet(path)) return false;
  TraceLog << "Loaded data set." << std::endl;
  altimeter.SelectPlotSet(0);
  RequestRedraw();
  return true;
}

void ShowDownloadedSet(int32_t selectedSet) {
  TraceLog << "Selected Set: " << selectedSet << std::endl;
  Altimeter().SelectPlotSet(selectedSet == -1 ? 0 : selectedSet);
  RequestRedraw();
}

void OpenDataSet(HWND owner) {
  g_openFileName[0] = L'\0';
  OPENFILENAMEW request{};
  // The short form: the dialog then has no places bar, as before.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = owner;
  request.lpstrFilter = L"ULK USB Data\0*.ulk\0";
  request.lpstrFile = g_openFileName;
  request.nMaxFile = kFileNameLength;
  request.lpstrTitle = L"Load data set";
  request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (!ShowFileDialog(request, false)) return;
  g_openFileName[kFileNameLength - 1] = L'\0';
  if (!LoadAndShowDataSet(g_openFileName)) ShowMessage(owner, IDS_LOAD_FAILED, MB_ICONERROR);
}

void ExportCsv(HWND owner) {
  Export(owner, {L"Excel CSV\0*.csv\0", L"Export to CSV", L"csv", g_csvFileName, &CAltimeter::WriteCsv});
}

void ExportXml(HWND owner) {
  Export(owner, {L"XML\0*.xml\0", L"Export to XML", L"xml", g_xmlFileName, &CAltimeter::WriteXml});
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window);
    case WM_DESTROY:
      ReleaseSurfaces();
      if (g_mainWindow == window) g_mainWindow = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_MAXIMIZED)
        ResizeHandling(window);
      else
        InvalidateRect(window, nullptr, FALSE);
      break;
    case WM_PAINT: {
      RECT client{};
      GetClientRect(window, &client);
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      PresentPlotIfFree(client.right, client.bottom);
      EndPaint(window, &paint);
      ValidateRect(window, nullptr);
      break;
    }
    case WM_CLOSE:
      if (ShowMessage(window, IDS_ARE_YOU_SURE, MB_YESNO | MB_ICONWARNING) == IDNO) return 0;
      break;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {kMinimumWidth, kMinimumHeight};
      break;
    }
    case WM_WINDOWPOSCHANGED: {
      const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (position && (position->flags & SWP_FRAMECHANGED)) ResizeHandling(window);
      break;
    }
    case WM_EXITSIZEMOVE:
      ResizeHandling(window);
      break;
    case WM_COMMAND:
      OnCommand(window, wParam);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int MessageLoop(HWND mainWindow) {
  MSG message{};
  int result;
  while ((result = GetMessageW(&message, mainWindow, 0, 0)) != 0 && result != -1 && message.message != WM_QUIT) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return result;
}

void InstallDeviceHostFromEnvironment() {
  const char* spec = std::getenv("ULKUSB_DEVICE");
  std::string error;
  std::shared_ptr<HidHost> host = MakeHidHost(spec ? spec : "", error);
  if (!host) {
    TraceLog << "ULKUSB_DEVICE: " << error << "; using the real HID" << std::endl;
    host = MakePlatformHidHost();
  }
  InstallHidHost(host);
}

CProgram::CProgram(HINSTANCE instance) : instance_(instance) {}

CProgram::~CProgram() {
  if (g_mainWindow && IsWindow(g_mainWindow)) DestroyWindow(g_mainWindow);
  g_mainWindow = nullptr;
  if (classRegistered_) UnregisterClassW(L"AltInterface", instance_);
  if (gdiplusToken_) Gdiplus::GdiplusShutdown(gdiplusToken_);
}

bool CProgram::Start(const std::wstring& commandLine) {
  const std::wstring path = DataSetPathFromCommandLine(commandLine);
  InitCommonControls();
  TraceLog << "- ULK USB -" << std::endl << std::endl;
  RegisterDialogClass(instance_);

  Gdiplus::GdiplusStartupInput gdiplus;
  if (Gdiplus::GdiplusStartup(&gdiplusToken_, &gdiplus, nullptr) != Gdiplus::Ok) gdiplusToken_ = 0;

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_CLASSDC;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(65535));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"AltInterface";
  windowClass.hIconSm = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_PROGRAM));
  classRegistered_ = RegisterClassExW(&windowClass) != 0;

  HMENU menu = LoadMenuW(instance_, MAKEINTRESOURCEW(IDR_MAIN_MENU));
  HWND window = CreateWindowExW(0, L"AltInterface", kProgramTitle, WS_OVERLAPPEDWINDOW | WS_MAXIMIZE, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menu, instance_, nullptr);
  if (!window) {
    if (menu) DestroyMenu(menu);
    return false;
  }
  g_mainWindow = window;
  HDC dc = GetDC(window);
  PlotSize size = CurrentPlotSize();
  BitBlt(dc, 0, 0, size.width, size.height, nullptr, 0, 0, BLACKNESS);
  ReleaseDC(window, dc);
  ShowWindow(window, SW_MAXIMIZE);

  if (!path.empty() && !LoadAndShowDataSet(path)) {
    ShowMessage(window, IDS_LOAD_FAILED, MB_ICONERROR);
    return false;
  }
  return true;
}

int CProgram::Run() { return MessageLoop(g_mainWindow); }

int RunProgram(HINSTANCE instance, const char* commandLine) {
  std::wstring wide;
  if (commandLine && *commandLine) {
    int length = MultiByteToWideChar(CP_ACP, 0, commandLine, -1, nullptr, 0);
    if (length > 0) {
      std::vector<wchar_t> buffer(static_cast<size_t>(length));
      MultiByteToWideChar(CP_ACP, 0, commandLine, -1, buffer.data(), length);
      wide.assign(buffer.data());
    }
  }
  InstallDeviceHostFromEnvironment();
  CProgram program(instance);
  if (program.Start(wide)) program.Run();
  return 0;
}
