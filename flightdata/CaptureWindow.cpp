#include "flightdata/CaptureWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "app/FileDialog.h"
#include "app/MainWindow.h"
#include "app/ToWideDecimal.h"
#include "device/TraceLog.h"
#include "plot/PlotSurfaces.h"
#include "resources/resource.h"

namespace {

constexpr int kCommentLength = 1024;
constexpr BYTE kTranslucentAlpha = 64;

// The display's frame: its refresh interval, 60 Hz where it does not say.
std::chrono::microseconds DisplayFrame() {
  HDC screen = GetDC(nullptr);
  int hertz = screen ? GetDeviceCaps(screen, VREFRESH) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  if (hertz <= 1) hertz = 60;  // 0 and 1 stand for the display's default
  return std::chrono::microseconds(1000000 / hertz);
}

}  // namespace

CCaptureWindow::CCaptureWindow(CAltimeter& device)
    : CStatusDialog(IDD_DOWNLOAD_DATA, device),
      stripImage(std::make_unique<Gdiplus::Bitmap>(kStripColumns, 2, PixelFormat32bppARGB)),
      selectedSet(device.flight.selectedSet) {}

CCaptureWindow::~CCaptureWindow() {
  JoinWorker();
  // The device stays disconnected until the next dialog connects it.
  Device().Close();
}

void CCaptureWindow::OnInitDialog() {
  EnableControl(IDC_DL_SAVE_SELECTED, false);
  MakeLayout();
  Anchor(IDC_STATUS_BOX, {true, true, true, true});
  for (int id : {IDC_DL_SAVE_ALL, IDC_CLOSE, IDC_DL_READ_DATA}) Anchor(id, {false, false, true, true});
  for (int id : {IDC_DL_GENERATE_CSV, IDC_DL_LIVE_UPDATE}) Anchor(id, {false, true, true, false});
  for (int id : {IDC_DL_SAVE_SELECTED, IDC_DL_CLEAR_DEVICE}) Anchor(id, {true, false, false, true});
  for (int id : {IDC_DL_COMMENT, IDC_DL_STRIP}) Anchor(id, {true, true, false, true});
  Anchor(IDC_STATUS_ICON, {true, true, false, false});
  AnchorGroupBox(IDC_DL_DEVICE_DATA_GROUP, {true, true, false, true});
  AnchorGroupBox(IDC_DL_STATUS_GROUP, {true, true, true, true});
  for (int id : {IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_SAVE_ALL}) EnableControl(id, false);
  SendDlgItemMessageW(hwnd, IDC_DL_COMMENT, EM_LIMITTEXT, kCommentLength - 1, 0);
  SetWindowSubclass(GetDlgItem(hwnd, IDC_DL_STRIP), &CCaptureWindow::StripProc, 0, reinterpret_cast<DWORD_PTR>(this));
  RegisterDeviceNotifications();
  RedrawStripImage();
  ShowCommentOf(selectedSet);
  ConnectAtOpen();
}

void CCaptureWindow::RefreshConnectionLook(bool busy) {
  // A worker that ends during the close must not touch the controls any more.
  if (Closing()) return;
  ShowConnectionIcon(IDC_STATUS_ICON, OnWorkerThread());
  const CaptureLook look = CaptureButtonStates(busy, Device().IsOpen(), Device().ImagePacketCount() > 0, ValidSet());
  EnableControl(IDC_DL_READ_DATA, look.readData);
  EnableControl(IDC_DL_CLEAR_DEVICE, look.clearDevice);
  EnableControl(IDC_DL_LIVE_UPDATE, look.liveUpdate);
  EnableControl(IDC_CLOSE, look.selectAndClose);
  EnableControl(IDC_DL_SAVE_SELECTED, look.saveSelected);
  EnableControl(IDC_DL_SAVE_COMMENT, look.saveComment);
  EnableControl(IDC_DL_COMMENT, look.comment);
  EnableControl(IDC_DL_SAVE_ALL, look.saveAll);
  if (!busy) {
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    if (style & WS_EX_LAYERED) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
    UpdateWindow(hwnd);
  }
}

void CCaptureWindow::OfferRetry() { EnableControl(IDC_DL_READ_DATA, true); }

bool CCaptureWindow::BeforeCloseWait() {
  MarkClosing();
  workerRanAtClose_ = WorkerRunning();
  RequestCancel();
  TraceLog << "Canceled IO." << std::endl;
  return true;
}

void CCaptureWindow::AfterCloseWait() {
  // An interrupted download leaves nothing behind.
  if (!workerRanAtClose_) return;
  Device().EmptyImage();
  ShowImage();
  Device().ClearFlight();
}

bool CCaptureWindow::WaitsForWorker(int controlId) const {
  switch (controlId) {
    case IDC_DL_READ_DATA:
    case IDC_DL_CLEAR_DEVICE:
    case IDC_DL_SAVE_COMMENT:
    case IDC_DL_SAVE_SELECTED:
    case IDC_DL_SAVE_ALL:
      return true;
    default:
      return false;
  }
}

void CCaptureWindow::OnCommand(WPARAM command) {
  switch (LOWORD(command)) {
    case IDC_DL_READ_DATA:
      OnReadData();
      break;
    case IDC_DL_CLEAR_DEVICE:
      OnClearDevice();
      break;
    case IDC_DL_SAVE_COMMENT:
      OnSaveComment();
      break;
    case IDC_DL_SAVE_SELECTED:
      OnSaveSelected();
      break;
    case IDC_DL_SAVE_ALL:
      OnSaveAll();
      break;
    case IDC_CLOSE:
    case IDCANCEL:  // Escape, as the dialog manager passes it on
      SendMessageW(hwnd, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

void CCaptureWindow::OnReadData() {
  // One worker at a time: the buttons are disabled meanwhile, but a command
  // can still arrive (a queued click, a keyboard accelerator).
  if (WorkerRunning()) return;
  liveUpdate_ = IsDlgButtonChecked(hwnd, IDC_DL_LIVE_UPDATE) == BST_CHECKED;
  if (liveUpdate_) {
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(hwnd, 0, kTranslucentAlpha, LWA_ALPHA);
    UpdateWindow(hwnd);
  }
  for (int id : {IDC_DL_READ_DATA, IDC_DL_CLEAR_DEVICE, IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_SAVE_ALL})
    EnableControl(id, false);
  if (!StartWorker(&CCaptureWindow::DownloadWorker)) RefreshConnectionLook(WorkerRunning());
}

void CCaptureWindow::OnClearDevice() {
  if (WorkerRunning()) return;
  // Only an explicit Yes erases: a box that failed agreed to nothing.
  if (ShowMessage(hwnd, IDS_ARE_YOU_SURE, MB_YESNO | MB_ICONWARNING) != IDYES) return;
  // "Clear Device" too: the clear runs with its button disabled.
  for (int id : {IDC_DL_READ_DATA, IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_SAVE_ALL, IDC_DL_CLEAR_DEVICE})
    EnableControl(id, false);
  if (!StartWorker(&CCaptureWindow::ClearWorker)) RefreshConnectionLook(WorkerRunning());
}

void CCaptureWindow::OnSaveComment() {
  if (WorkerRunning() || !ValidSet()) return;
  // The file keeps the comment in the system's code page, in at most 1023
  // bytes (the box takes no more characters than that).
  wchar_t wide[kCommentLength] = {};
  GetDlgItemTextW(hwnd, IDC_DL_COMMENT, wide, kCommentLength);
  char text[kCommentLength] = {};
  BOOL replaced = FALSE;
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text, kCommentLength - 1, "?", &replaced);
  Device().StoreCommentOf(selectedSet, text);
  if (replaced)
    AppendStatus(L"Some characters of the comment cannot be kept in a data set file; they were stored as '?'.\r\n");
}

void CCaptureWindow::OnSaveSelected() {
  if (WorkerRunning() || !ValidSet()) return;
  if (SaveSet(selectedSet) == SaveOutcome::Saved) ShowMessage(hwnd, IDS_SETS_SAVED, MB_ICONINFORMATION);
}

void CCaptureWindow::OnSaveAll() {
  if (WorkerRunning()) return;
  const int32_t count = Device().CountDataSets();
  for (int32_t set = 0; set < count; ++set)
    if (SaveSet(set) != SaveOutcome::Saved) return;
  ShowMessage(hwnd, IDS_SETS_SAVED, MB_ICONINFORMATION);
}

CCaptureWindow::SaveOutcome CCaptureWindow::SaveSet(int32_t set) {
  // A fresh record and an empty name for every dialog.
  wchar_t name[kFileNameLength] = {};
  const std::wstring title = L"Save data set " + ToWideDecimal(set + 1);
  OPENFILENAMEW request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = hwnd;
  request.lpstrFilter = L"ULK USB Data\0*.ulk\0";
  request.lpstrFile = name;
  request.nMaxFile = kFileNameLength;
  request.lpstrTitle = title.c_str();
  request.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT;
  request.lpstrDefExt = L"ulk";
  if (!ShowFileDialog(request, true)) return SaveOutcome::Cancelled;
  name[kFileNameLength - 1] = L'\0';
  if (!Device().SaveDataSet(name, set)) {
    ShowMessage(hwnd, IDS_SAVE_FAILED, MB_ICONERROR);
    return SaveOutcome::Failed;
  }
  if (IsDlgButtonChecked(hwnd, IDC_DL_GENERATE_CSV) == BST_CHECKED && !Device().WriteCsv(set, CsvPathBeside(name))) {
    ShowMessage(hwnd, IDS_CSV_SAVE_FAILED, MB_ICONERROR);
    return SaveOutcome::Failed;
  }
  return SaveOutcome::Saved;
}

void CCaptureWindow::DownloadWorker() {
  // The worker reads the device; the painter draws what it has read, so that
  // no drawing holds up the device's reports.
  livePace_.Forget();
  if (liveUpdate_)
    livePainter_ = std::make_unique<LivePreviewPainter>(
        DisplayFrame(), [this] { PresentLivePreview(livePace_, MainWindowHandle()); });
  DownloadTask(Device(), *this, *this);
  // The last preview is drawn, and nothing after it.
  livePainter_.reset();
}

void CCaptureWindow::ShowImage() {
  RedrawStripImage();
  InvalidateStrip();
}

void CCaptureWindow::ShowPacket(int) {
  RedrawStripImage();
  InvalidateStrip();
}

void CCaptureWindow::ShowLivePreview(int) {
  if (livePainter_) livePainter_->MarkStale();
}

bool CCaptureWindow::WaitForLivePreview(std::chrono::milliseconds bound) {
  return livePainter_ && livePainter_->WaitUntilDrawn(bound);
}

bool PresentLivePreview(LivePlotPace& pace, HWND mainWindow) {
  RECT client{};
  GetClientRect(mainWindow, &client);
  // Render and present as one step, so that no other drawing comes between them.
  std::unique_lock<std::recursive_mutex> hold = HoldBackBuffer();
  LivePlotInputs inputs = TakeLivePlotInputs(Altimeter(), client.right, client.bottom, BackBufferWrites());
  if (!pace.NeedsDrawing(inputs)) return false;
  RenderLivePlot();
  if (PresentPlot(client.right, client.bottom)) {
    inputs.surfaceWrites = BackBufferWrites();
    pace.Shown(std::move(inputs));
  } else {
    pace.Forget();
  }
  return true;
}

void CCaptureWindow::ClearWorker() { ClearTask(Device(), *this, *this); }

void CCaptureWindow::RedrawStripImage() {
  StripColumns columns;
  Device().DrawStripColumns(selectedSet, columns);
  std::lock_guard<std::mutex> lock(stripLock_);
  Gdiplus::Rect all(0, 0, kStripColumns, 2);
  Gdiplus::BitmapData data{};
  if (stripImage->LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) != Gdiplus::Ok) return;
  for (int row = 0; row < 2; ++row) {
    auto* line = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(data.Scan0) + row * data.Stride);
    std::copy(columns.begin(), columns.end(), line);
  }
  stripImage->UnlockBits(&data);
}

LRESULT CALLBACK CCaptureWindow::StripProc(HWND strip, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
  auto* dialog = reinterpret_cast<CCaptureWindow*>(data);
  switch (message) {
    case WM_ERASEBKGND:
      return dialog->OnStripErase(strip, reinterpret_cast<HDC>(wParam));
    case WM_LBUTTONDOWN:
      dialog->OnStripClick(strip, lParam);
      return 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(strip, &CCaptureWindow::StripProc, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(strip, message, wParam, lParam);
}

LRESULT CCaptureWindow::OnStripErase(HWND strip, HDC dc) {
  RECT client{};
  GetClientRect(strip, &client);
  {
    Gdiplus::Graphics graphics(dc);
    graphics.Clear(Gdiplus::Color(kStripBlack));
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    std::lock_guard<std::mutex> lock(stripLock_);
    graphics.DrawImage(stripImage.get(), Gdiplus::Rect(0, 0, client.right + 2, client.bottom * 2));
  }
  ValidateRect(strip, nullptr);
  return TRUE;
}

void CCaptureWindow::OnStripClick(HWND strip, LPARAM lParam) {
  if (WorkerRunning() || Device().ImagePacketCount() == 0) return;
  RECT client{};
  GetClientRect(strip, &client);
  const uint32_t x = LOWORD(lParam);
  const int32_t packet = StripPacketAt(x, client.right);
  TraceLog << "XPos: " << x << std::endl;
  const int32_t set = Device().SetOfPacket(packet);
  if (set != -1) selectedSet = set;
  if (ValidSet()) {
    for (int id : {IDC_DL_SAVE_SELECTED, IDC_DL_SAVE_COMMENT, IDC_DL_COMMENT}) EnableControl(id, true);
    ShowCommentOf(selectedSet);
  }
  RedrawStripImage();
  InvalidateRect(strip, nullptr, TRUE);
}

bool CCaptureWindow::ValidSet() const {
  const int32_t set = selectedSet;
  return set >= 0 && set < Device().CountDataSets();
}

void CCaptureWindow::ShowCommentOf(int32_t set) {
  std::string comment;
  if (Device().CommentOf(set, comment)) SetDlgItemTextA(hwnd, IDC_DL_COMMENT, comment.c_str());
}

void CCaptureWindow::InvalidateStrip() { InvalidateRect(GetDlgItem(hwnd, IDC_DL_STRIP), nullptr, TRUE); }
