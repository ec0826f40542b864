#include "settings/SettingsForm.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "resources/resource.h"

namespace {

std::wstring Decimal(uint32_t value) { return std::to_wstring(value); }

void ShowLine(uint8_t mode, uint16_t value, uint8_t delay, uint8_t onTime, LineControls& line) {
  line.checkedMode = mode <= PeakClimbVelocity ? mode : -1;
  line.time = Decimal(value / 10u);
  line.altitude = Decimal(value);
  line.delay = Decimal(delay / 10u);
  line.onTime = Decimal(onTime);
}

// The field's number when it is there and fits; else false.
bool Take(const std::wstring& text, SettingsField field, uint32_t& value) {
  return ReadNumberField(text, value) == FieldText::Number && value <= FieldMaximum(field);
}

struct CollectedLine {
  uint8_t mode;
  uint16_t value;
  uint8_t delay;
  uint8_t onTime;
};

// A number field: its record value kept where the text is what the form
// showed for it (the form shows whole seconds and volts of the tenths the
// device holds, so a field the user did not touch must not lose its tenths)
// and the kept value is one the field takes; else the typed number in the
// field's unit. False when the text holds no number that fits.
bool TakeField(const std::wstring& text, const std::wstring& shown, uint32_t kept, uint32_t unit, SettingsField field,
               uint32_t& value) {
  if (text == shown && kept <= FieldMaximum(field) * unit) {
    value = kept;
    return true;
  }
  uint32_t n = 0;
  if (!Take(text, field, n)) return false;
  value = n * unit;
  return true;
}

// One line's fields, or the first of them that cannot be taken.
SettingsField CollectLine(const LineControls& line, const LineControls& shown, uint8_t oldMode, uint16_t oldValue,
                          uint8_t oldDelay, uint8_t oldOnTime, SettingsField timeField, CollectedLine& out) {
  const SettingsField altitudeField = static_cast<SettingsField>(static_cast<int>(timeField) + 1);
  const SettingsField delayField = static_cast<SettingsField>(static_cast<int>(timeField) + 2);
  const SettingsField onTimeField = static_cast<SettingsField>(static_cast<int>(timeField) + 3);
  out.mode =
      line.checkedMode >= 0 && line.checkedMode <= PeakClimbVelocity ? static_cast<uint8_t>(line.checkedMode) : oldMode;
  out.value = oldValue;
  uint32_t n = 0;
  if (out.mode == Time) {
    if (!TakeField(line.time, shown.time, oldValue, 10, timeField, n)) return timeField;
    out.value = static_cast<uint16_t>(n);
  } else if (out.mode == Altitude || out.mode == AltitudeBeforeApogee) {
    if (!TakeField(line.altitude, shown.altitude, oldValue, 1, altitudeField, n)) return altitudeField;
    out.value = static_cast<uint16_t>(n);
  }
  if (!TakeField(line.delay, shown.delay, oldDelay, 10, delayField, n)) return delayField;
  out.delay = static_cast<uint8_t>(n);
  if (!TakeField(line.onTime, shown.onTime, oldOnTime, 1, onTimeField, n)) return onTimeField;
  out.onTime = static_cast<uint8_t>(n);
  return SettingsField::None;
}

}  // namespace

uint32_t FieldMaximum(SettingsField field) {
  switch (field) {
    case SettingsField::LineATime:
    case SettingsField::LineBTime:
    case SettingsField::MachInhibit:
      return 6553;  // tenths in 16 bits
    case SettingsField::LineAAltitude:
    case SettingsField::LineBAltitude:
      return 65535;
    case SettingsField::LineADelay:
    case SettingsField::LineBDelay:
      return 25;  // tenths in 8 bits
    case SettingsField::MinBattery:
      return kMaxBatteryVolts;
    case SettingsField::LineAOnTime:
    case SettingsField::LineBOnTime:
      return 255;
    case SettingsField::None:
      break;
  }
  return 0;
}

uint32_t FieldErrorStringId(SettingsField field) {
  switch (field) {
    case SettingsField::LineATime:
      return IDS_LINE_A_TIME_RANGE;
    case SettingsField::LineAAltitude:
      return IDS_LINE_A_ALTITUDE_RANGE;
    case SettingsField::LineADelay:
      return IDS_LINE_A_DELAY_RANGE;
    case SettingsField::LineAOnTime:
      return IDS_LINE_A_ON_TIME_RANGE;
    case SettingsField::LineBTime:
      return IDS_LINE_B_TIME_RANGE;
    case SettingsField::LineBAltitude:
      return IDS_LINE_B_ALTITUDE_RANGE;
    case SettingsField::LineBDelay:
      return IDS_LINE_B_DELAY_RANGE;
    case SettingsField::LineBOnTime:
      return IDS_LINE_B_ON_TIME_RANGE;
    case SettingsField::MachInhibit:
      return IDS_MACH_INHIBIT_RANGE;
    case SettingsField::MinBattery:
      return IDS_MIN_BATTERY_RANGE;
    case SettingsField::None:
      break;
  }
  return 0;
}

FieldText ReadNumberField(const std::wstring& text, uint32_t& value) {
  value = 0;
  const size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return FieldText::Empty;
  const size_t last = text.find_last_not_of(L" \t");
  uint64_t n = 0;
  bool tooLarge = false;
  for (size_t i = first; i <= last; ++i) {
    const wchar_t c = text[i];
    if (c < L'0' || c > L'9') return FieldText::Malformed;
    if (!tooLarge) {
      n = n * 10 + static_cast<uint64_t>(c - L'0');
      tooLarge = n > std::numeric_limits<uint32_t>::max();
    }
  }
  if (tooLarge) return FieldText::TooLarge;
  value = static_cast<uint32_t>(n);
  return FieldText::Number;
}

SettingsControls ShowSettingsForm(const SettingsRecord& r) {
  SettingsControls c;
  ShowLine(r.lineAMode, r.lineAValue, r.lineADelay, r.lineAOnTime, c.lineA);
  ShowLine(r.lineBMode, r.lineBValue, r.lineBDelay, r.lineBOnTime, c.lineB);
  c.machInhibit = Decimal(r.machInhibit / 10u);
  c.imperial = r.imperialUnits;
  c.minBattery = Decimal(r.minBattery / 10u);
  return c;
}

SettingsField CollectSettingsForm(const SettingsControls& c, SettingsRecord& r) {
  const SettingsControls shown = ShowSettingsForm(r);
  CollectedLine a{}, b{};
  SettingsField bad =
      CollectLine(c.lineA, shown.lineA, r.lineAMode, r.lineAValue, r.lineADelay, r.lineAOnTime, SettingsField::LineATime, a);
  if (bad != SettingsField::None) return bad;
  bad = CollectLine(c.lineB, shown.lineB, r.lineBMode, r.lineBValue, r.lineBDelay, r.lineBOnTime,
                    SettingsField::LineBTime, b);
  if (bad != SettingsField::None) return bad;
  uint32_t inhibit = 0, battery = 0;
  if (!TakeField(c.machInhibit, shown.machInhibit, r.machInhibit, 10, SettingsField::MachInhibit, inhibit))
    return SettingsField::MachInhibit;
  if (!TakeField(c.minBattery, shown.minBattery, r.minBattery, 10, SettingsField::MinBattery, battery))
    return SettingsField::MinBattery;

  // Everything fits: only now does the record change.
  r.lineAMode = a.mode;
  r.lineAValue = a.value;
  r.lineADelay = a.delay;
  r.lineAOnTime = a.onTime;
  r.lineBMode = b.mode;
  r.lineBValue = b.value;
  r.lineBDelay = b.delay;
  r.lineBOnTime = b.onTime;
  r.machInhibit = static_cast<uint16_t>(inhibit);
  r.imperialUnits = c.imperial;
  r.minBattery = static_cast<uint8_t>(battery);
  return SettingsField::None;
}

bool InhibitIsLarge(const SettingsRecord& r) { return r.machInhibit > 200; }

bool LineIsDisabled(const SettingsRecord& r) { return r.lineAMode == Disabled || r.lineBMode == Disabled; }

uint32_t CheckGroundAltitude(const std::wstring& text, uint32_t& groundAltitude) {
  uint32_t metres = 0;
  const FieldText read = ReadNumberField(text, metres);
  if (read == FieldText::Empty || read == FieldText::Malformed) return IDS_ENTER_GROUND_ALTITUDE;
  if (read == FieldText::TooLarge || metres > 15500) return IDS_ALTITUDE_OUT_OF_RANGE;
  groundAltitude = metres;
  return 0;
}

int32_t CalibrationDifference(uint32_t groundAltitude, float measuredAltitude) {
  // The device's altitude comes from 32 bits of tenths, so it always fits;
  // anything else (not a number) counts as no measurement at all.
  double measured = std::isfinite(measuredAltitude) ? std::trunc(static_cast<double>(measuredAltitude)) : 0.0;
  measured = std::clamp(measured, -2147483648.0, 2147483647.0);
  const int64_t difference = static_cast<int64_t>(groundAltitude) - static_cast<int64_t>(measured);
  return static_cast<int32_t>(
      std::clamp<int64_t>(difference, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t CalibratedOffset(int32_t altitudeOffset, int32_t difference) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{altitudeOffset} + difference, -128, 127));
}
