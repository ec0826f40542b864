// The operations of "Control Options" and ulktool altitude / voltage / fire /
// emulate, each step in its order, written once for both. They run on the
// caller's worker; lines and looks go through the TaskHost.
#pragma once

#include "device/Altimeter.h"
#include "device/TaskHost.h"

enum class ControlOutcome {
  Done,          // the reading was shown, the lines fired, the emulation ended well
  NotConnected,  // the channel is not open
  Failed,        // a device step failed (or the emulation was cancelled); its line says which
};

// "Read Pressure": the device's altitude above sea level in metres and feet.
// The settings are read first, as the device's handshake, and the program's
// record comes out of it exactly as it went in.
ControlOutcome ReadAltitudeTask(CAltimeter& altimeter, TaskHost& host);

// "Read Battery Voltage".
ControlOutcome ReadVoltageTask(CAltimeter& altimeter, TaskHost& host);

// "Fire lines for 2 seconds".
ControlOutcome FireLinesTask(CAltimeter& altimeter, TaskHost& host);

// "Emulate Launch...": the decoded data set is fed to the device, a line for
// each event it reports. cancelRequested ends it at its next step.
ControlOutcome EmulateLaunchTask(CAltimeter& altimeter, TaskHost& host);
