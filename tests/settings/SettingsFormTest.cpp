#include "settings/SettingsForm.h"

#include <tuple>
#include <vector>

#include "resources/resource.h"
#include "tests/TestSupport.h"

namespace {

// Every working field, for whole-record comparisons.
auto Fields(const SettingsRecord& r) {
  return std::make_tuple(r.deviceFlag, r.deviceParam1, r.machInhibit, r.minBattery, r.altitudeOffset, r.lineAMode,
                         r.lineBMode, r.lineAValue, r.lineBValue, r.imperialUnits, r.deviceParam2, r.lineADelay,
                         r.lineBDelay, r.lineAOnTime, r.lineBOnTime);
}

// The form as the user would fill it.
SettingsControls Typed(int modeA, const wchar_t* timeA, const wchar_t* altA, const wchar_t* delayA, const wchar_t* onA,
                       int modeB, const wchar_t* timeB, const wchar_t* altB, const wchar_t* delayB, const wchar_t* onB,
                       const wchar_t* inhibit, bool imperial, const wchar_t* battery) {
  SettingsControls c;
  c.lineA = {modeA, timeA, altA, delayA, onA};
  c.lineB = {modeB, timeB, altB, delayB, onB};
  c.machInhibit = inhibit;
  c.imperial = imperial;
  c.minBattery = battery;
  return c;
}

SettingsControls Valid() {
  return Typed(Time, L"5", L"150", L"1", L"20", Altitude, L"0", L"300", L"2", L"30", L"3", false, L"8");
}

}  // namespace

TEST(SettingsFormTest, ShowPutsEachWorkingFieldInItsControl) {
  SettingsRecord r;
  r.lineAMode = Time;
  r.lineAValue = 155;  // 15.5 s: the field shows whole seconds
  r.lineADelay = 25;
  r.lineAOnTime = 17;
  r.lineBMode = 9;  // not a mode of this program: no radio
  r.lineBValue = 65535;
  r.lineBDelay = 255;
  r.lineBOnTime = 255;
  r.machInhibit = 65535;
  r.imperialUnits = true;
  r.minBattery = 84;
  const SettingsControls c = ShowSettingsForm(r);
  EXPECT_EQ(c.lineA.checkedMode, Time);
  EXPECT_EQ(c.lineA.time, L"15");
  EXPECT_EQ(c.lineA.altitude, L"155");
  EXPECT_EQ(c.lineA.delay, L"2");
  EXPECT_EQ(c.lineA.onTime, L"17");
  EXPECT_EQ(c.lineB.checkedMode, -1);
  EXPECT_EQ(c.lineB.time, L"6553");
  EXPECT_EQ(c.lineB.altitude, L"65535");
  EXPECT_EQ(c.lineB.delay, L"25");
  EXPECT_EQ(c.lineB.onTime, L"255");
  EXPECT_EQ(c.machInhibit, L"6553");
  EXPECT_TRUE(c.imperial);
  EXPECT_EQ(c.minBattery, L"8");
}

// What the user typed is exactly what the packet carries.
TEST(SettingsFormTest, TypedFieldsBuildTheirPacketByteForByte) {
  struct Case {
    SettingsControls typed;
    SettingsPacket packet;
  };
  const Case cases[] = {
      // Line A Time 5 s, Line B Altitude 300 m, delays 1 s and 2 s, Mach 3 s, Metric, 8 V.
      {Valid(), {0x01, 0x3C, 0x00, 0x1E, 0x00, 0x50, 0x00, 0x00, 0x31, 0x32, 0x00,
                 0x2C, 0x01, 0x00, 0x00, 0x04, 0x0A, 0x14, 0x14, 0x1E, 0x00, 0x00}},
      // Every field at the top of its range.
      {Typed(AltitudeBeforeApogee, L"0", L"65535", L"25", L"255", Time, L"6553", L"0", L"25", L"255", L"6553", true,
             L"14"),
       {0x01, 0x3C, 0x00, 0xFA, 0xFF, 0x8C, 0x00, 0x00, 0x14, 0xFF, 0xFF,
        0xFA, 0xFF, 0xFF, 0x00, 0x04, 0xFA, 0xFA, 0xFF, 0xFF, 0x00, 0x00}},
      // Zeros, Line A disabled and Line B at peak climb velocity keep their values.
      {Typed(Disabled, L"", L"", L"0", L"0", PeakClimbVelocity, L"x", L"", L"0", L"0", L"0", false, L"0"),
       {0x01, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x96, 0x00,
        0x96, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SettingsRecord r;
    ASSERT_EQ(CollectSettingsForm(c.typed, r), SettingsField::None);
    TraceCapture quiet;
    r.BuildPacket();
    SettingsPacket expected = c.packet;
    uint16_t sum = 190;
    for (size_t i = 0; i < 20; ++i) sum = static_cast<uint16_t>(sum + expected[i]);
    expected[20] = static_cast<uint8_t>(sum & 0xFF);
    expected[21] = static_cast<uint8_t>(sum >> 8);
    EXPECT_EQ(r.packet, expected);
  }
}

TEST(SettingsFormTest, CollectKeepsWhatHasNoControlAndAModeWithoutARadio) {
  SettingsRecord r;
  r.deviceFlag = false;
  r.deviceParam1 = 7;
  r.deviceParam2 = 9;
  r.altitudeOffset = -300;
  r.lineAMode = 12;
  r.lineAValue = 4321;
  SettingsControls typed = Valid();
  typed.lineA.checkedMode = -1;
  typed.lineA.time = L"";  // not needed: the kept mode does not use it
  ASSERT_EQ(CollectSettingsForm(typed, r), SettingsField::None);
  EXPECT_EQ(r.lineAMode, 12);
  EXPECT_EQ(r.lineAValue, 4321);
  EXPECT_FALSE(r.deviceFlag);
  EXPECT_EQ(r.deviceParam1, 7);
  EXPECT_EQ(r.deviceParam2, 9);
  EXPECT_EQ(r.altitudeOffset, -300);
  // And shown again, a record collects to itself.
  SettingsRecord shown;
  shown.lineAMode = Altitude;
  shown.lineAValue = 65535;
  shown.lineBMode = Time;
  shown.lineBValue = 65530;
  shown.lineADelay = 250;
  shown.machInhibit = 65530;
  shown.minBattery = 140;
  shown.imperialUnits = true;
  SettingsRecord again = shown;
  ASSERT_EQ(CollectSettingsForm(ShowSettingsForm(shown), again), SettingsField::None);
  EXPECT_EQ(Fields(again), Fields(shown));
}

// The form shows whole seconds and volts; a field the user left as shown
// writes back the tenths the device held, and a changed one is taken as typed.
TEST(SettingsFormTest, AFieldLeftAsShownKeepsItsTenths) {
  SettingsRecord device;
  device.lineAMode = Time;
  device.lineAValue = 25;  // 2.5 s
  device.lineADelay = 25;
  device.lineBDelay = 15;
  device.machInhibit = 25;
  device.minBattery = 85;  // 8.5 V
  SettingsRecord untouched = device;
  ASSERT_EQ(CollectSettingsForm(ShowSettingsForm(device), untouched), SettingsField::None);
  EXPECT_EQ(Fields(untouched), Fields(device));

  SettingsControls edited = ShowSettingsForm(device);
  edited.lineB.delay = L"3";
  SettingsRecord changed = device;
  ASSERT_EQ(CollectSettingsForm(edited, changed), SettingsField::None);
  EXPECT_EQ(changed.lineBDelay, 30);
  EXPECT_EQ(changed.lineADelay, 25);
  EXPECT_EQ(changed.lineAValue, 25);
  EXPECT_EQ(changed.machInhibit, 25);
  EXPECT_EQ(changed.minBattery, 85);

  // Tenths above the device's battery limit are not kept: the field is taken as shown.
  device.minBattery = 145;
  SettingsRecord limited = device;
  ASSERT_EQ(CollectSettingsForm(ShowSettingsForm(device), limited), SettingsField::None);
  EXPECT_EQ(limited.minBattery, 140);
}

// A number that is not there or does not fit is never stored in part or wrapped.
TEST(SettingsFormTest, AFieldThatDoesNotFitIsNamedAndNothingChanges) {
  struct Case {
    void (*edit)(SettingsControls&);
    SettingsField field;
    uint32_t stringId;
  };
  const Case cases[] = {
      {[](SettingsControls& c) { c.lineA.time = L"6554"; }, SettingsField::LineATime, IDS_LINE_A_TIME_RANGE},
      {[](SettingsControls& c) { c.lineA.time = L""; }, SettingsField::LineATime, IDS_LINE_A_TIME_RANGE},
      {[](SettingsControls& c) { c.lineA.time = L"7000"; }, SettingsField::LineATime, IDS_LINE_A_TIME_RANGE},
      {[](SettingsControls& c) {
         c.lineA.checkedMode = Altitude;
         c.lineA.altitude = L"70000";
       },
       SettingsField::LineAAltitude, IDS_LINE_A_ALTITUDE_RANGE},
      {[](SettingsControls& c) {
         c.lineA.checkedMode = AltitudeBeforeApogee;
         c.lineA.altitude = L"1-2";
       },
       SettingsField::LineAAltitude, IDS_LINE_A_ALTITUDE_RANGE},
      {[](SettingsControls& c) { c.lineA.delay = L"26"; }, SettingsField::LineADelay, IDS_LINE_A_DELAY_RANGE},
      {[](SettingsControls& c) { c.lineA.onTime = L"300"; }, SettingsField::LineAOnTime, IDS_LINE_A_ON_TIME_RANGE},
      {[](SettingsControls& c) {
         c.lineB.checkedMode = Time;
         c.lineB.time = L"99999999999";
       },
       SettingsField::LineBTime, IDS_LINE_B_TIME_RANGE},
      {[](SettingsControls& c) { c.lineB.altitude = L"65536"; }, SettingsField::LineBAltitude,
       IDS_LINE_B_ALTITUDE_RANGE},
      {[](SettingsControls& c) { c.lineB.delay = L" "; }, SettingsField::LineBDelay, IDS_LINE_B_DELAY_RANGE},
      {[](SettingsControls& c) { c.lineB.onTime = L"256"; }, SettingsField::LineBOnTime, IDS_LINE_B_ON_TIME_RANGE},
      {[](SettingsControls& c) { c.machInhibit = L"6554"; }, SettingsField::MachInhibit, IDS_MACH_INHIBIT_RANGE},
      // The device's limit, on every path that writes it.
      {[](SettingsControls& c) { c.minBattery = L"15"; }, SettingsField::MinBattery, IDS_MIN_BATTERY_RANGE},
      {[](SettingsControls& c) { c.minBattery = L""; }, SettingsField::MinBattery, IDS_MIN_BATTERY_RANGE},
      // The first in collect order is named.
      {[](SettingsControls& c) {
         c.minBattery = L"99";
         c.lineB.onTime = L"999";
       },
       SettingsField::LineBOnTime, IDS_LINE_B_ON_TIME_RANGE},
  };
  for (const Case& c : cases) {
    SettingsControls typed = Valid();
    c.edit(typed);
    SettingsRecord r;
    const auto before = Fields(r);
    EXPECT_EQ(CollectSettingsForm(typed, r), c.field) << static_cast<int>(c.field);
    EXPECT_EQ(Fields(r), before) << static_cast<int>(c.field);
    EXPECT_EQ(FieldErrorStringId(c.field), c.stringId);
  }
}

TEST(SettingsFormTest, NumberFieldsAcceptDigitsOnly) {
  struct Case {
    const wchar_t* text;
    FieldText read;
    uint32_t value;
  };
  const Case cases[] = {
      {L"0", FieldText::Number, 0},
      {L"007", FieldText::Number, 7},
      {L" 42 ", FieldText::Number, 42},
      {L"4294967295", FieldText::Number, 4294967295u},
      {L"4294967296", FieldText::TooLarge, 0},
      {L"", FieldText::Empty, 0},
      {L"  ", FieldText::Empty, 0},
      {L"-1", FieldText::Malformed, 0},
      {L"1.5", FieldText::Malformed, 0},
      {L"4 2", FieldText::Malformed, 0},
      {L"\x0663", FieldText::Malformed, 0},  // a digit of another script
  };
  for (const Case& c : cases) {
    uint32_t value = 99;
    EXPECT_EQ(ReadNumberField(c.text, value), c.read) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(SettingsFormTest, TheButtonsOwnChecks) {
  struct Case {
    const wchar_t* text;
    uint32_t stringId;
    uint32_t altitude;
  };
  const Case cases[] = {
      {L"", IDS_ENTER_GROUND_ALTITUDE, 7},
      {L"abc", IDS_ENTER_GROUND_ALTITUDE, 7},
      {L"0", 0, 0},
      {L"15500", 0, 15500},
      {L"15501", IDS_ALTITUDE_OUT_OF_RANGE, 7},
      {L"99999999999", IDS_ALTITUDE_OUT_OF_RANGE, 7},
  };
  for (const Case& c : cases) {
    uint32_t altitude = 7;
    EXPECT_EQ(CheckGroundAltitude(c.text, altitude), c.stringId) << c.text;
    EXPECT_EQ(altitude, c.altitude) << c.text;
  }
}

TEST(SettingsFormTest, CalibrationTruncatesTheMeasurementAndLimitsTheOffset) {
  struct Case {
    uint32_t ground;
    float measured;
    int32_t offset;
    int32_t difference;
    int32_t newOffset;
  };
  const Case cases[] = {
      {300, 287.6f, 5, 13, 18},     {300, 287.6f, 120, 13, 127},           {0, 500.9f, 0, -500, -128},
      {10, -3.7f, 0, 13, 13},       {15500, -2147483.6f, 0, 2162983, 127}, {1320, 1320.0f, -4, 0, -4},
      {1320, 1320.4f, 300, 0, 127},  // an offset from elsewhere is limited too
  };
  for (const Case& c : cases) {
    const int32_t difference = CalibrationDifference(c.ground, c.measured);
    EXPECT_EQ(difference, c.difference) << c.ground << " " << c.measured;
    EXPECT_EQ(CalibratedOffset(c.offset, difference), c.newOffset) << c.ground << " " << c.measured;
  }
}
