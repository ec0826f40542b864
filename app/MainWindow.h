// The program's start-up and its one top-level window: the plot in its client
// area, the menu, and the modal dialogs the menu opens.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "app/FileDialog.h"

#include <cstdint>
#include <functional>
#include <string>

// The main window of this run (null before it is created and after it is gone).
HWND MainWindowHandle();

bool LoadAndShowDataSet(const std::wstring& path);
void OpenDataSet(HWND owner);
void ExportCsv(HWND owner);
void ExportXml(HWND owner);
// After "Download Data...": shows the set the dialog left selected, set 0 when none (-1).
void ShowDownloadedSet(int32_t selectedSet);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Answers the last GetMessageW result.
int MessageLoop(HWND mainWindow);

// The device host that ULKUSB_DEVICE names, installed for the run; the real
// HID when it is unset or not understood (the reason goes to the trace).
void InstallDeviceHostFromEnvironment();

// One run of the program, in steps that tests drive in-process.
class CProgram {
 public:
  explicit CProgram(HINSTANCE instance);
  // Destroys the main window if it is still there, unregisters its class, stops GDI+.
  ~CProgram();
  CProgram(const CProgram&) = delete;
  CProgram& operator=(const CProgram&) = delete;

  // Everything before the message loop. False when the program must end now:
  // the window could not be made, or the command line's file did not load
  // (message 109 was shown).
  bool Start(const std::wstring& commandLine);
  // The message loop, until the main window is closed.
  int Run();

 private:
  HINSTANCE instance_;
  ULONG_PTR gdiplusToken_ = 0;
  bool classRegistered_ = false;
};

// The whole run as the entry point makes it, from the narrow command line.
int RunProgram(HINSTANCE instance, const char* commandLine);
