// The "Program Chip" form without its windows: the settings record's working
// fields as the texts and radio states of the dialog's controls, and back.
// The dialog only moves these strings in and out of its controls.
#pragma once

#include <cstdint>
#include <string>

#include "settings/SettingsRecord.h"

// One line's controls. The number fields hold whole seconds, metres and
// tenths of a second as the user sees them.
struct LineControls {
  int checkedMode = -1;   // the LineMode whose radio is checked; -1 when none is
  std::wstring time;      // "Time [s]"
  std::wstring altitude;  // "Alt. [m AGL]"
  std::wstring delay;     // "Delay [s]"
  std::wstring onTime;    // "On [10th s]"
};

struct SettingsControls {
  LineControls lineA;
  LineControls lineB;
  std::wstring machInhibit;  // "Mach Inhibit [s]"
  bool imperial = false;     // "Imperial" checked, else "Metric"
  std::wstring minBattery;   // "Min battery [V]"
};

// The form fields whose number the device takes, in the order they are collected.
enum class SettingsField {
  None,
  LineATime,
  LineAAltitude,
  LineADelay,
  LineAOnTime,
  LineBTime,
  LineBAltitude,
  LineBDelay,
  LineBOnTime,
  MachInhibit,
  MinBattery,
};

// The highest minimum battery voltage the device takes, on every path that writes it.
constexpr uint32_t kMaxBatteryVolts = 14;

// The largest number each field takes: what still fits the record's field
// once it is turned into its unit (tenths of 6553 s still fit 16 bits), and
// the device's own limit of the battery voltage.
uint32_t FieldMaximum(SettingsField field);
// The message that names the field and its range, for an empty, malformed or
// too large entry.
uint32_t FieldErrorStringId(SettingsField field);

// A number field's text: digits only, surrounding blanks allowed. Empty and
// Malformed hold no number; a number too large for 32 bits is TooLarge.
enum class FieldText { Number, Empty, Malformed, TooLarge };
FieldText ReadNumberField(const std::wstring& text, uint32_t& value);

// What ShowSettings puts into the controls. A mode above 5 checks no radio.
SettingsControls ShowSettingsForm(const SettingsRecord& record);

// What CollectSettings takes into the working fields, all or nothing: when a
// number that is needed is missing, malformed or does not fit its field, the
// record is left as it was and that field is answered (the first in collect
// order); otherwise SettingsField::None. A value field is needed only in the
// mode that uses it; the other fields always. A field whose text is what
// ShowSettingsForm shows for the record keeps the record's exact value (its
// tenths), where that value is one the field takes.
SettingsField CollectSettingsForm(const SettingsControls& controls, SettingsRecord& record);

// The two warnings after a collect: Mach inhibit over 20.0 s, a disabled line.
bool InhibitIsLarge(const SettingsRecord& record);
bool LineIsDisabled(const SettingsRecord& record);

// "Calibrate Device": string 110 when the ground altitude holds no number,
// 117 above 15500 m, else 0 with the altitude in metres.
uint32_t CheckGroundAltitude(const std::wstring& text, uint32_t& groundAltitude);

// The calibration: difference = ground altitude minus the measured MSL
// altitude truncated to whole metres; the new offset is the old one plus the
// difference, limited to -128 ... 127.
int32_t CalibrationDifference(uint32_t groundAltitude, float measuredAltitude);
int32_t CalibratedOffset(int32_t altitudeOffset, int32_t difference);
