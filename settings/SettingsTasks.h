// The settings operations of "Program Chip" and ulktool: read, write, reset and
// calibrate, each step in its order, written once for both. They run on the
// caller's worker; the lines, questions and looks go through the TaskHost.
#pragma once

#include <cstdint>

#include "device/Altimeter.h"
#include "device/TaskHost.h"

enum class SettingsOutcome {
  Done,            // read (checksum held), written, reset or calibrated
  DefaultsShown,   // read, but the packet failed its checksum: the defaults are shown
  Declined,        // the user did not answer Yes: nothing reached the device
  FormRefused,     // a field of the form holds no number that fits: nothing reached the device
  NotConnected,    // the channel is not open
  Failed,          // a device step failed; its line says which
};

// A read or a write that the front end may count as done.
inline bool Succeeded(SettingsOutcome outcome) { return outcome == SettingsOutcome::Done; }

// "Read Settings": the packet from the device into the record, which is shown.
// A packet that fails its checksum is never shown: the defaults are. asRead,
// when given, receives the packet as the device sent it.
SettingsOutcome ReadSettingsTask(CAltimeter& altimeter, TaskHost& host, SettingsPacket* asRead = nullptr);

// "Write Settings": asks first (string 116), takes the form into the record
// where the host has one, clears the flight memory, writes, reads back.
SettingsOutcome WriteSettingsTask(CAltimeter& altimeter, TaskHost& host);

// "Reset settings": asks first, clears the flight memory, has the device load
// its defaults, reads them back.
SettingsOutcome ResetSettingsTask(CAltimeter& altimeter, TaskHost& host);

// "Calibrate Device" at groundAltitude metres MSL (already checked): the
// altitude offset is moved by the difference to what the device measures,
// and the record written as WriteSettingsTask writes it.
SettingsOutcome CalibrateTask(CAltimeter& altimeter, TaskHost& host, uint32_t groundAltitude);
