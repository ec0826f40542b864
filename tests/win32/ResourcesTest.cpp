// The resources compiled into this executable, as the program loads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MessageTexts.h"
#include "resources/resource.h"

namespace {

HINSTANCE Module() { return GetModuleHandleW(nullptr); }

std::wstring MenuText(HMENU menu, UINT position) {
  wchar_t text[128] = {};
  GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
  return text;
}

struct MenuEntry {
  const wchar_t* text;  // nullptr = separator
  UINT id;
};

TEST(Resources, MainMenu) {
  HMENU menu = LoadMenuW(Module(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
  ASSERT_NE(menu, nullptr);
  const std::vector<std::pair<const wchar_t*, std::vector<MenuEntry>>> expected = {
      {L"File",
       {{L"Open...", 40004}, {nullptr, 0}, {L"Export CSV...", 40009}, {L"Export XML...", 40016}, {nullptr, 0},
        {L"Exit", 40002}}},
      {L"Tools",
       {{L"Download Data...", 40006}, {L"Device Settings...", 40007}, {L"Control Device...", 40014}, {nullptr, 0},
        {L"Update Firmware...", 40011}}},
      {L"Help", {{L"About...", 40010}}},
  };
  ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(expected.size()));
  for (UINT p = 0; p < expected.size(); ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(MenuText(menu, p), expected[p].first);
    HMENU popup = GetSubMenu(menu, static_cast<int>(p));
    ASSERT_NE(popup, nullptr);
    const std::vector<MenuEntry>& items = expected[p].second;
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(items.size()));
    for (UINT i = 0; i < items.size(); ++i) {
      SCOPED_TRACE(i);
      MENUITEMINFOW info = {};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_ID;
      ASSERT_TRUE(GetMenuItemInfoW(popup, i, TRUE, &info));
      if (!items[i].text) {
        EXPECT_TRUE(info.fType & MFT_SEPARATOR);
        continue;
      }
      EXPECT_FALSE(info.fType & MFT_SEPARATOR);
      EXPECT_EQ(info.wID, items[i].id);
      EXPECT_EQ(MenuText(popup, i), items[i].text);
    }
  }
  DestroyMenu(menu);
}

TEST(Resources, StringTable) {
  const std::pair<UINT, const wchar_t*> strings[] = {
      {103, L"Data set/s saved succesfully."},
      {104, L"Error saving file. Make sure that it is not write protected or locked, and that the disk has enough "
            L"space."},
      {106, L"Failed to save the CSV file. Make sure that it is not write protected or locked, and that the disk has "
            L"enough space."},
      {107, L"Are you sure?"},
      {109, L"Could not load file. Make sure the file is valid and not locked."},
      {110, L"Please enter your aproximate MSL altitude and try again."},
      {111, L"The inhibit setting is very large. Please make sure that it is the correct setting."},
      {112, L"One or both of the ejection lines are disabled. Make sure this is correct."},
      {113, L"You may now connect the battery to the device if you want a real time launch. Click OK when connected "
            L"or ignore."},
      {114, L"Updating firmware is a delicate process.\r\nCanceling may cause your device to fail."},
      {115, L"Imperial units only apply to the beep-out of the final altitude. Everywhere else, metric units are "
            L"used."},
      {116, L"Writing settings will clear all flight data.\r\nAre you sure you want to continue?"},
      {117, L"The altitude entered is out of range. Please enter a value from 0 to 15500 meters."},
      {118, L"The minimum voltage entered is not in range."},
  };
  for (const auto& [id, text] : strings) {
    wchar_t loaded[256] = {};
    EXPECT_GT(LoadStringW(Module(), id, loaded, 256), 0) << id;
    EXPECT_STREQ(loaded, text) << id;
  }
  wchar_t none[8] = {};
  EXPECT_EQ(LoadStringW(Module(), 105, none, 8), 0);
  // The texts the portable code shows without the string table are the table's own.
  for (UINT id = 100; id < 140; ++id) {
    wchar_t loaded[256] = {};
    LoadStringW(Module(), id, loaded, 256);
    EXPECT_EQ(MessageText(id), loaded) << id;
  }
}

SIZE IconSize(HICON icon) {
  ICONINFO info = {};
  SIZE size = {0, 0};
  if (!GetIconInfo(icon, &info)) return size;
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  size = {bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2};
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return size;
}

TEST(Resources, IconsAtTheSizesTheProgramAsksFor) {
  for (int id : {IDI_PROGRAM, IDI_NOT_CONNECTED, IDI_CONNECTED}) {
    for (int side : {16, 32, CONNECTION_ICON_SIZE}) {
      SCOPED_TRACE(std::to_string(id) + " at " + std::to_string(side));
      auto icon = static_cast<HICON>(LoadImageW(Module(), MAKEINTRESOURCEW(id), IMAGE_ICON, side, side, 0));
      ASSERT_NE(icon, nullptr);
      SIZE size = IconSize(icon);
      EXPECT_EQ(size.cx, side);
      EXPECT_EQ(size.cy, side);
      DestroyIcon(icon);
    }
  }
}

TEST(Resources, BannerOnALightBlueGround) {
  auto bitmap = static_cast<HBITMAP>(
      LoadImageW(Module(), MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION dib = {};
  ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmWidth, 386);
  EXPECT_EQ(dib.dsBm.bmHeight, 109);
  ASSERT_EQ(dib.dsBm.bmBitsPixel, 24);
  // Corners are ground: blue well above red, all of it light.
  const auto* bits = static_cast<const unsigned char*>(dib.dsBm.bmBits);
  for (int row : {0, 108}) {
    for (int column : {0, 385}) {
      const unsigned char* bgr = bits + row * dib.dsBm.bmWidthBytes + column * 3;
      EXPECT_GE(bgr[0], 240);
      EXPECT_GE(bgr[1], 215);
      EXPECT_GE(bgr[2], 190);
      EXPECT_GT(bgr[0] - bgr[2], 10);
    }
  }
  DeleteObject(bitmap);
}

void RegisterDialogClassOnce() {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(Module(), L"DialogClass", &existing)) return;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefDlgProcW;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = Module();
  windowClass.hIcon = LoadIconW(Module(), MAKEINTRESOURCEW(IDI_PROGRAM));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"DialogClass";
  ASSERT_NE(RegisterClassExW(&windowClass), 0);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::wstring WindowText(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// A control's style as its template gave it: the dialog manager turns an edit
// control's WS_BORDER into WS_EX_CLIENTEDGE.
DWORD TemplateStyle(HWND control) {
  DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  if (ClassOf(control) == L"Edit" && (GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) style |= WS_BORDER;
  return style;
}

// Kinds: P push button, R auto radio, C auto check box, G group box, N number
// field, E other edit, T label, I icon, B bitmap, L etched line, F black frame.
struct ControlCase {
  int id;
  char kind;
  const wchar_t* text;
  bool enabled = true;
};

struct DialogCase {
  int id;
  const wchar_t* caption;
  int width, height;  // dialog units
  DWORD style;
  std::vector<ControlCase> controls;
};

void ExpectKind(HWND control, char kind) {
  const DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  const std::wstring cls = ClassOf(control);
  switch (kind) {
    case 'P': case 'R': case 'C': case 'G': {
      EXPECT_EQ(cls, L"Button");
      const DWORD type = kind == 'P' ? BS_PUSHBUTTON : kind == 'R' ? BS_AUTORADIOBUTTON
                         : kind == 'C' ? BS_AUTOCHECKBOX : BS_GROUPBOX;
      EXPECT_EQ(style & BS_TYPEMASK, type);
      break;
    }
    case 'N': case 'E':
      EXPECT_EQ(cls, L"Edit");
      EXPECT_EQ((style & ES_NUMBER) != 0, kind == 'N');
      break;
    default: {
      EXPECT_EQ(cls, L"Static");
      const DWORD type = kind == 'T' ? SS_LEFT : kind == 'I' ? SS_ICON : kind == 'B' ? SS_BITMAP
                         : kind == 'L' ? SS_ETCHEDHORZ : SS_BLACKFRAME;
      EXPECT_EQ(style & SS_TYPEMASK, type);
      if (kind == 'I') {
        EXPECT_NE(SendMessageW(control, STM_GETICON, 0, 0), 0);
      }
      if (kind == 'B') {
        EXPECT_NE(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
      }
    }
  }
}

const std::vector<DialogCase>& Dialogs() {
  static const std::vector<DialogCase> dialogs = {
      {IDD_PROGRAM_CHIP, L"Program Chip", 317, 304, 0x06CC0840,
       {{1008, 'G', L"Settings"}, {1025, 'G', L"Line A"}, {1013, 'R', L"Disabed"}, {1014, 'R', L"Time"},
        {1015, 'R', L"Altitude"}, {1016, 'R', L"Apogee"}, {1021, 'R', L"Altitude before apogee"},
        {1031, 'R', L"Peak climb velocity"}, {1009, 'N', L"", false}, {1011, 'N', L""}, {1027, 'N', L""},
        {1043, 'N', L""}, {1026, 'G', L"Line B"}, {1017, 'R', L"Disabed"}, {1018, 'R', L"Time"},
        {1019, 'R', L"Altitude"}, {1020, 'R', L"Apogee"}, {1022, 'R', L"Altitude before apogee"},
        {1032, 'R', L"Peak climb velocity"}, {1010, 'N', L"", false}, {1012, 'N', L""}, {1033, 'N', L""},
        {1044, 'N', L""}, {1024, 'G', L"General Settings"}, {1029, 'T', L"Mach Inhibit [s]"}, {1023, 'N', L""},
        {1028, 'R', L"Imperial"}, {1030, 'R', L"Metric"}, {1036, 'L', L""}, {1040, 'T', L"Apox. ground alt [m]"},
        {1039, 'N', L""}, {1035, 'P', L"Calibrate Device"}, {1038, 'L', L""}, {1042, 'T', L"Min battery [V]"},
        {1034, 'N', L""}, {1007, 'G', L"Status"}, {1003, 'E', L""}, {1041, 'I', nullptr},
        {1006, 'P', L"Read Settings"}, {1005, 'P', L"Write Settings", false}, {1037, 'P', L"Reset settings"},
        {1004, 'P', L"Close"}}},
      {IDD_DOWNLOAD_DATA, L"Download Data", 311, 244, 0x06CC0840,
       {{1009, 'G', L"Device Data"}, {1031, 'F', L""}, {1046, 'E', L""}, {1002, 'P', L"Save Selected"},
        {1008, 'P', L"Save Comment"}, {1011, 'P', L"Clear Device"}, {1005, 'G', L"Status"}, {1033, 'I', nullptr},
        {1003, 'E', L""}, {1032, 'C', L"Live Update"}, {1030, 'C', L"Generate Excel CSV"},
        {1006, 'P', L"Read Data"}, {1007, 'P', L"Save All"}, {1004, 'P', L"Select && Close"}}},
      {IDD_UPDATE_FIRMWARE, L"Update Firmware", 311, 125, 0x06CC0840,
       {{1007, 'G', L"Status"}, {1003, 'E', L""}, {1033, 'I', nullptr}, {1005, 'P', L"Update..."},
        {1004, 'P', L"Close"}}},
      {IDD_ABOUT, L"About", 237, 193, 0x06C808C0,
       {{1038, 'B', nullptr}, {1007, 'G', L"About"}, {1003, 'E', L""}, {1004, 'P', L"Close"}}},
      {IDD_CONTROL_OPTIONS, L"Control Options", 261, 195, 0x06CC0840,
       {{1008, 'G', L"Options"}, {1039, 'P', L"Emulate Launch..."}, {1040, 'P', L"Read Pressure"},
        {1041, 'P', L"Read Battery Voltage"}, {1042, 'P', L"Fire lines for 2 seconds"}, {1007, 'G', L"Status"},
        {1033, 'I', nullptr}, {1003, 'E', L""}, {1004, 'P', L"Close"}}},
  };
  return dialogs;
}

TEST(Resources, DialogTemplatesCreateWithEveryControl) {
  RegisterDialogClassOnce();
  for (const DialogCase& d : Dialogs()) {
    SCOPED_TRACE(d.id);
    HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(d.id), nullptr, PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    EXPECT_EQ(WindowText(dialog), d.caption);
    EXPECT_EQ(ClassOf(dialog), L"DialogClass");
    // The window keeps the template's window style bits (the DS_ bits are the template's own).
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)) & 0xFFFF0000u, d.style & 0xFFFF0000u);
    RECT units = {0, 0, d.width, d.height};
    MapDialogRect(dialog, &units);
    RECT client = {};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);

    int children = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      if (GetDlgCtrlID(child) != IDC_STATIC) ++children;
    EXPECT_EQ(children, static_cast<int>(d.controls.size()));

    for (const ControlCase& c : d.controls) {
      SCOPED_TRACE(c.id);
      HWND control = GetDlgItem(dialog, c.id);
      ASSERT_NE(control, nullptr);
      ExpectKind(control, c.kind);
      if (c.text) {
        EXPECT_EQ(WindowText(control), c.text);
      }
      EXPECT_EQ(IsWindowEnabled(control) != FALSE, c.enabled);
    }
    EXPECT_EQ(TemplateStyle(GetDlgItem(dialog, IDC_STATUS_BOX)), 0x50A108C4u);
    DestroyWindow(dialog);
  }
}

// The strip and the comment box keep their exact styles and the strip its place.
TEST(Resources, DownloadControlsKeepTheirStyles) {
  RegisterDialogClassOnce();
  HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(IDD_DOWNLOAD_DATA), nullptr, PlainDialogProc, 0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(TemplateStyle(GetDlgItem(dialog, IDC_DL_STRIP)), 0x50000107u);
  EXPECT_EQ(TemplateStyle(GetDlgItem(dialog, IDC_DL_COMMENT)), 0x50810084u);
  // The strip's rectangle in dialog units is 14, 25, 283, 24.
  RECT expected = {14, 25, 14 + 283, 25 + 24};
  MapDialogRect(dialog, &expected);
  RECT strip = {};
  GetWindowRect(GetDlgItem(dialog, IDC_DL_STRIP), &strip);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&strip), 2);
  EXPECT_EQ(strip.left, expected.left);
  EXPECT_EQ(strip.top, expected.top);
  EXPECT_EQ(strip.right, expected.right);
  EXPECT_EQ(strip.bottom, expected.bottom);
  DestroyWindow(dialog);
}

}  // namespace
