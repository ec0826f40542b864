#include "settings/SettingsTasks.h"

#include "app/ToWideDecimal.h"
#include "resources/resource.h"
#include "settings/SettingsForm.h"

namespace {

// The form into the record where the host has one, then the two warnings,
// after which the write goes on regardless. False, with the field's box and
// the record untouched, when a number is missing or does not fit.
bool CollectSettings(CAltimeter& altimeter, TaskHost& host) {
  SettingsControls controls;
  if (host.ReadSettingsForm(controls)) {
    const SettingsField field = CollectSettingsForm(controls, altimeter.settings);
    if (field != SettingsField::None) {
      host.Ask(FieldErrorStringId(field), TaskStyle::IconError);
      return false;
    }
  }
  if (InhibitIsLarge(altimeter.settings)) host.Ask(IDS_INHIBIT_LARGE, TaskStyle::IconWarning | TaskStyle::Ok);
  if (LineIsDisabled(altimeter.settings)) host.Ask(IDS_LINES_DISABLED, TaskStyle::IconWarning | TaskStyle::Ok);
  return true;
}

// The flight memory erased, with its lines; false (look idle) when it failed.
bool ClearFlightMemory(CAltimeter& altimeter, TaskHost& host) {
  host.AppendStatus(L"Clearing data... please wait a few seconds.\r\n");
  if (altimeter.ClearMemory() != Ok) {
    host.ShowBusy(false);
    host.AppendStatus(L"Failed to clear data.\r\n");
    return false;
  }
  host.AppendStatus(L"Data cleared.\r\n");
  return true;
}

bool ClearsFlightDataAgreed(TaskHost& host) {
  return AnsweredYes(host.Ask(IDS_WRITE_CLEARS_DATA, TaskStyle::YesNo | TaskStyle::IconWarning));
}

}  // namespace

SettingsOutcome ReadSettingsTask(CAltimeter& altimeter, TaskHost& host, SettingsPacket* asRead) {
  host.AppendStatus(L"Attempting to connect to device.\r\n");
  if (!altimeter.IsOpen()) {
    host.OfferRetry();
    host.AppendStatus(kAltimeterNotFoundLine);
    return SettingsOutcome::NotConnected;
  }
  host.AppendStatus(L"Altimeter found! Reading settings...\r\n");
  if (altimeter.ReadSettings() != Ok) {
    host.OfferRetry();
    host.AppendStatus(L"Failed to read settings.\r\n");
    return SettingsOutcome::Failed;
  }
  if (asRead) *asRead = altimeter.settings.packet;
  const bool valid = altimeter.settings.ParsePacket();
  if (valid) {
    host.AppendStatus(L"Settings read successfully.\r\n");
  } else {
    // A packet that fails its checksum is never shown.
    host.AppendStatus(L"Checksum failed. The device settings are invalid.\r\n");
    host.AppendStatus(L"Displaying default settings.\r\n");
    altimeter.settings.LoadDefaults();
    altimeter.settings.ParsePacket();
  }
  host.ShowSettings(altimeter.settings);
  host.ShowBusy(false);
  host.RequestRedraw();
  return valid ? SettingsOutcome::Done : SettingsOutcome::DefaultsShown;
}

namespace {

// The steps of a write once the user has agreed and the record holds what is
// to be written: clear, write, read back. The clear may be done already.
SettingsOutcome WriteAgreedSettings(CAltimeter& altimeter, TaskHost& host, bool cleared) {
  altimeter.settings.BuildPacket();
  if (!cleared) {
    host.AppendStatus(L"Attempting to connect to device.\r\n");
    if (!altimeter.IsOpen()) {
      host.OfferRetry();
      host.AppendStatus(kAltimeterNotFoundLine);
      return SettingsOutcome::NotConnected;
    }
    if (!ClearFlightMemory(altimeter, host)) return SettingsOutcome::Failed;
  }
  host.AppendStatus(L"Writing settings...\r\n");
  if (altimeter.WriteSettings() != Ok) {
    host.OfferRetry();
    host.AppendStatus(L"Failed to write settings.\r\n");
    return SettingsOutcome::Failed;
  }
  host.AppendStatus(L"Settings written successfully.\r\n");
  // The device stores them before it is asked for them again.
  WaitOnHostClock(100);
  altimeter.settings.ParsePacket();
  host.ShowSettings(altimeter.settings);
  host.RequestRedraw();
  ReadSettingsTask(altimeter, host);
  host.ShowBusy(false);
  return SettingsOutcome::Done;
}

}  // namespace

SettingsOutcome WriteSettingsTask(CAltimeter& altimeter, TaskHost& host) {
  if (!ClearsFlightDataAgreed(host)) {
    host.ShowBusy(false);
    return SettingsOutcome::Declined;
  }
  if (!CollectSettings(altimeter, host)) {
    host.ShowBusy(false);
    return SettingsOutcome::FormRefused;
  }
  return WriteAgreedSettings(altimeter, host, false);
}

SettingsOutcome ResetSettingsTask(CAltimeter& altimeter, TaskHost& host) {
  if (!ClearsFlightDataAgreed(host)) {
    host.ShowBusy(false);
    return SettingsOutcome::Declined;
  }
  host.ShowBusy(true);
  if (!altimeter.IsOpen()) {
    host.AppendStatus(kAltimeterNotFoundLine);
    host.ShowBusy(false);
    return SettingsOutcome::NotConnected;
  }
  if (!ClearFlightMemory(altimeter, host)) return SettingsOutcome::Failed;
  host.AppendStatus(L"Resetting...\r\n");
  if (altimeter.ResetSettings() != Ok) {
    host.AppendStatus(L"Failed to reset settings.\r\n");
    host.ShowBusy(false);
    return SettingsOutcome::Failed;
  }
  host.AppendStatus(L"Settings have been reset.\r\n");
  ReadSettingsTask(altimeter, host);
  host.ShowBusy(false);
  host.RequestRedraw();
  return SettingsOutcome::Done;
}

SettingsOutcome CalibrateTask(CAltimeter& altimeter, TaskHost& host, uint32_t groundAltitude) {
  host.ShowBusy(true);
  if (!altimeter.IsOpen()) {
    host.AppendStatus(kAltimeterNotFoundLine);
    host.ShowBusy(false);
    return SettingsOutcome::NotConnected;
  }
  // One question, before anything on the device is cleared or written.
  if (!ClearsFlightDataAgreed(host)) {
    host.AppendStatus(L"Calibration not done: nothing was cleared or written.\r\n");
    host.ShowBusy(false);
    return SettingsOutcome::Declined;
  }
  // What the form holds is written with the new offset; it is taken before
  // the device is read, which must not replace what the user typed.
  const SettingsRecord before = altimeter.settings;
  if (!CollectSettings(altimeter, host)) {
    host.AppendStatus(L"Calibration not done: nothing was cleared or written.\r\n");
    host.ShowBusy(false);
    return SettingsOutcome::FormRefused;
  }
  const SettingsRecord collected = altimeter.settings;
  if (!ClearFlightMemory(altimeter, host)) {
    altimeter.settings = before;
    return SettingsOutcome::Failed;
  }
  host.AppendStatus(L"Calibrating...\r\n");
  // The device's packet goes into a copy for the offset it holds now (the
  // defaults' when its packet is damaged); the record stays as collected.
  const bool read = altimeter.ReadSettings() == Ok;
  SettingsRecord device = altimeter.settings;
  altimeter.settings = collected;
  if (read && !device.ParsePacket()) {
    device.LoadDefaults();
    device.ParsePacket();
  }
  float measured = 0.0f;
  const bool measuredOk = read && altimeter.ReadAltitude(measured) == Ok;
  if (!measuredOk) {
    altimeter.settings = before;
    host.AppendStatus(read ? L"Failed.\r\n" : L"Failed to read settings.\r\n");
    host.ShowBusy(false);
    return SettingsOutcome::Failed;
  }
  const int32_t difference = CalibrationDifference(groundAltitude, measured);
  host.AppendStatus(L"Offset: " + ToWideDecimal(difference) + L"m\r\n");
  altimeter.settings.altitudeOffset = CalibratedOffset(device.altitudeOffset, difference);
  const SettingsOutcome written = WriteAgreedSettings(altimeter, host, true);
  if (written == SettingsOutcome::Done) {
    host.AppendStatus(L"Calibration complete.\r\n");
  } else {
    // Not on the device, so not in the record either: a later write must not
    // carry an offset that never arrived.
    altimeter.settings = before;
    host.AppendStatus(L"Failed to calibrate.\r\n");
  }
  host.ShowBusy(false);
  host.RequestRedraw();
  return written;
}
