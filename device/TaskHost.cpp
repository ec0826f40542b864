#include "device/TaskHost.h"

#include "device/HidHost.h"

const wchar_t* const kAltimeterNotFoundLine = L"Altimeter not found. Make sure it is properly connected to the PC.\r\n";

void WaitOnHostClock(uint32_t ms) { CurrentHidHost().Sleep(ms); }
