// The class root, the dialog procedure and the skinned look.
#include "app/DialogWindow.h"

#include <gdiplus.h>

#include <memory>

#include "device/TraceLog.h"
#include "resources/resource.h"

namespace {

constexpr COLORREF kDialogBackground = RGB(196, 223, 255);
constexpr uint32_t kDefaultBackgroundArgb = 0xFFC4DFFF;
constexpr uint32_t kGroupBoxPen = 0xFFD2B48C;
constexpr uint32_t kGroupBoxCaption = 0xFFA0522D;

struct SiblingSearch {
  HWND parent;
  HWND self;
  const std::vector<std::unique_ptr<GroupBoxRecord>>* groupBoxes;
  std::vector<RECT> rectangles;  // in self's client coordinates
};

BOOL CALLBACK CollectSibling(HWND child, LPARAM data) {
  auto& search = *reinterpret_cast<SiblingSearch*>(data);
  if (GetParent(child) != search.parent || child == search.self) return TRUE;
  for (const auto& box : *search.groupBoxes)
    if (box->window == child) return TRUE;
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, search.self, reinterpret_cast<POINT*>(&r), 2);
  search.rectangles.push_back(r);
  return TRUE;
}

}  // namespace

CBaseWindow::CBaseWindow(uint32_t id) : templateId(id), backgroundBrush(CreateSolidBrush(kDialogBackground)) {}

CBaseWindow::~CBaseWindow() {
  if (backgroundBrush) DeleteObject(backgroundBrush);
}

int32_t CBaseWindow::WindowWidth() const {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r.right - r.left;
}

int32_t CBaseWindow::WindowHeight() const {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r.bottom - r.top;
}

uint32_t CBaseWindow::BackgroundArgb() {
  HDC dc = GetDC(hwnd);
  auto brush = reinterpret_cast<HBRUSH>(HandleMessage(hwnd, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(hwnd)));
  ReleaseDC(hwnd, dc);
  LOGBRUSH logBrush{};
  if (!brush || GetObjectW(brush, sizeof logBrush, &logBrush) != sizeof logBrush) return kDefaultBackgroundArgb;
  COLORREF c = logBrush.lbColor;
  return 0xFF000000u | (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

INT_PTR CBaseWindow::HandleSkinMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      // The surface is painted by WM_ERASEBKGND.
      return TRUE;
    case WM_ERASEBKGND: {
      Gdiplus::Color background(BackgroundArgb());
      Gdiplus::Graphics graphics(reinterpret_cast<HDC>(wParam));
      graphics.Clear(background);
      ValidateRect(hwnd, nullptr);
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item) {
        for (const auto& box : groupBoxes)
          if (box->window == item->hwndItem) DrawGroupBox(*item, *box);
      }
      return TRUE;
    }
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(backgroundBrush);
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(backgroundBrush);
    default:
      return FALSE;
  }
}

HWND CBaseWindow::MakeOwnerDrawnGroupBox(int controlId) {
  HWND box = GetDlgItem(hwnd, controlId);
  if (!box) return nullptr;
  HWND parent = GetParent(box);
  RECT r;
  GetWindowRect(box, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  wchar_t caption[255] = {};
  GetDlgItemTextW(hwnd, controlId, caption, 255);
  HWND made = CreateWindowExW(0, L"Static", caption, WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!made) return nullptr;
  DestroyWindow(box);
  // Beneath the controls it frames, as the group box was.
  SetWindowPos(made, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Repainted whole on every resize, so the frame follows the new size.
  SetClassLongPtrW(made, GCL_STYLE, GetClassLongPtrW(made, GCL_STYLE) | CS_HREDRAW | CS_VREDRAW);
  auto record = std::make_unique<GroupBoxRecord>();
  record->window = made;
  wchar_t readBack[255] = {};
  GetWindowTextW(made, readBack, 255);
  record->caption = readBack;
  groupBoxes.push_back(std::move(record));
  return made;
}

void CBaseWindow::DrawGroupBox(const DRAWITEMSTRUCT& item, const GroupBoxRecord& box) {
  using namespace Gdiplus;
  const INT R = item.rcItem.right;
  const INT B = item.rcItem.bottom;
  Color background(BackgroundArgb());
  Graphics graphics(item.hDC);
  Pen pen(Color(kGroupBoxPen), 1.0f);
  SolidBrush captionBrush{Color(kGroupBoxCaption)};

  std::unique_ptr<Font> font;
  auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
  LOGFONTA logFont{};
  if (dialogFont && GetObjectA(dialogFont, sizeof logFont, &logFont) == sizeof logFont)
    font = std::make_unique<Font>(item.hDC, &logFont);
  if (!font || font->GetLastStatus() != Gdiplus::Ok) font = std::make_unique<Font>(item.hDC);

  FontFamily family;
  font->GetFamily(&family);
  INT style = font->GetStyle();
  REAL em = family.GetEmHeight(style);
  REAL size = font->GetSize();
  REAL lineHeight = em > 0 ? size * family.GetCellAscent(style) / em + size * family.GetCellDescent(style) / em : size;

  RectF bounds;
  graphics.MeasureString(box.caption.c_str(), -1, font.get(), RectF(0, 0, REAL(R), REAL(B)), &bounds);
  const REAL textWidth = bounds.Width;
  const INT yc = 1 - static_cast<INT>(lineHeight * -0.5f);

  // Controls inside the frame are left alone, so they do not flicker.
  SiblingSearch search{GetParent(box.window), box.window, &groupBoxes, {}};
  EnumChildWindows(hwnd, CollectSibling, reinterpret_cast<LPARAM>(&search));
  for (const RECT& r : search.rectangles)
    graphics.ExcludeClip(Rect(r.left, r.top, r.right - r.left, r.bottom - r.top));

  const INT captionWidth = static_cast<INT>(textWidth);
  const INT captionHeight = static_cast<INT>(lineHeight) + 10;
  if (captionWidth > 0) {
    Bitmap caption(captionWidth, captionHeight, PixelFormat32bppARGB);
    {
      Graphics onBitmap(&caption);
      onBitmap.Clear(background);
      onBitmap.DrawString(box.caption.c_str(), -1, font.get(), PointF(0, 0), &captionBrush);
    }
    graphics.DrawImage(&caption, 9, 0, captionWidth, captionHeight);
    graphics.ExcludeClip(Rect(9, 0, captionWidth, captionHeight));
  }

  auto edge = [&](INT x1, INT y1, INT x2, INT y2, Rect covered) {
    graphics.DrawLine(&pen, x1, y1, x2, y2);
    graphics.ExcludeClip(covered);
  };
  const INT x0 = static_cast<INT>(textWidth + 9 + 2);
  edge(5, yc, 7, yc, Rect(5, yc, 2, 1));
  edge(x0, yc, R - 6, yc, Rect(x0, yc, R - x0 - 6, 1));
  edge(4, B - 2, R - 5, B - 2, Rect(4, B - 2, R - 9, 1));
  edge(1, yc + 3, 1, B - 6, Rect(1, yc + 3, 1, B - yc - 9));
  edge(R - 2, yc + 3, R - 2, B - 6, Rect(R - 2, yc + 3, 1, B - yc - 9));

  graphics.Clear(background);

  graphics.DrawArc(&pen, 1, yc, 8, 8, 180.0f, 90.0f);
  graphics.DrawArc(&pen, R - 10, yc, 8, 8, 270.0f, 90.0f);
  graphics.DrawArc(&pen, 1, B - 10, 8, 8, 90.0f, 90.0f);
  graphics.DrawArc(&pen, R - 10, B - 10, 8, 8, 0.0f, 90.0f);
}

INT_PTR CALLBACK DialogRouterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const INT_PTR unhandled = message == WM_INITDIALOG ? TRUE : FALSE;
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
  auto* dialog = reinterpret_cast<CBaseWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!dialog) return unhandled;
  try {
    dialog->hwnd = window;
    if (message == kRelayedDeviceChangeMessage) {
      // Decoded here into the record a real device's WM_DEVICECHANGE carries.
      uint32_t event = 0;
      DeviceNotification notification;
      while (TakeRelayedDeviceChange(window, event, notification)) {
        std::vector<unsigned char> record = MakeDeviceBroadcast(notification);
        dialog->HandleMessage(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()));
      }
      return TRUE;
    }
    return dialog->HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    return unhandled;
  }
}

INT_PTR RunDialog(CBaseWindow& dialog, HWND owner) {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialog.templateId), owner, DialogRouterProc,
                         reinterpret_cast<LPARAM>(&dialog));
}

bool RegisterDialogClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefDlgProcW;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"DialogClass";
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void UnregisterDialogClass(HINSTANCE instance) { UnregisterClassW(L"DialogClass", instance); }
