// Connecting to the flight computer from ulktool as the device dialogs do.
#pragma once

#include "device/Altimeter.h"
#include "tool/Tool.h"

// Installs the device host and connects in normal mode (a bootloader is told to
// leave); the connection's status lines go to standard error. Answers kExitOk
// when connected, else the exit status to end with (kExitNoDevice, or
// kExitUsage for a bad --device).
int ConnectNormal(ToolContext& context, CAltimeter& altimeter);

// The same in bootloader mode; an application firmware is sent into the bootloader.
int ConnectBootloader(ToolContext& context, CAltimeter& altimeter);

// The line a worker shows when the device cannot be reached.
inline const char* kAltimeterNotFound = "Altimeter not found. Make sure it is properly connected to the PC.";
