#include "app/MessageTexts.h"

#include "resources/MessageTexts.h"
#include "resources/resource.h"

std::wstring MessageText(uint32_t stringId) {
  switch (stringId) {
    case IDS_SETS_SAVED:
      return L"" IDS_SETS_SAVED_TEXT;
    case IDS_SAVE_FAILED:
      return L"" IDS_SAVE_FAILED_TEXT;
    case IDS_CSV_SAVE_FAILED:
      return L"" IDS_CSV_SAVE_FAILED_TEXT;
    case IDS_ARE_YOU_SURE:
      return L"" IDS_ARE_YOU_SURE_TEXT;
    case IDS_LOAD_FAILED:
      return L"" IDS_LOAD_FAILED_TEXT;
    case IDS_ENTER_GROUND_ALTITUDE:
      return L"" IDS_ENTER_GROUND_ALTITUDE_TEXT;
    case IDS_INHIBIT_LARGE:
      return L"" IDS_INHIBIT_LARGE_TEXT;
    case IDS_LINES_DISABLED:
      return L"" IDS_LINES_DISABLED_TEXT;
    case IDS_CONNECT_BATTERY:
      return L"" IDS_CONNECT_BATTERY_TEXT;
    case IDS_UPDATE_DELICATE:
      return L"" IDS_UPDATE_DELICATE_TEXT;
    case IDS_IMPERIAL_UNITS:
      return L"" IDS_IMPERIAL_UNITS_TEXT;
    case IDS_WRITE_CLEARS_DATA:
      return L"" IDS_WRITE_CLEARS_DATA_TEXT;
    case IDS_ALTITUDE_OUT_OF_RANGE:
      return L"" IDS_ALTITUDE_OUT_OF_RANGE_TEXT;
    case IDS_VOLTAGE_OUT_OF_RANGE:
      return L"" IDS_VOLTAGE_OUT_OF_RANGE_TEXT;
    case IDS_LINE_A_TIME_RANGE:
      return L"" IDS_LINE_A_TIME_RANGE_TEXT;
    case IDS_LINE_A_ALTITUDE_RANGE:
      return L"" IDS_LINE_A_ALTITUDE_RANGE_TEXT;
    case IDS_LINE_A_DELAY_RANGE:
      return L"" IDS_LINE_A_DELAY_RANGE_TEXT;
    case IDS_LINE_A_ON_TIME_RANGE:
      return L"" IDS_LINE_A_ON_TIME_RANGE_TEXT;
    case IDS_LINE_B_TIME_RANGE:
      return L"" IDS_LINE_B_TIME_RANGE_TEXT;
    case IDS_LINE_B_ALTITUDE_RANGE:
      return L"" IDS_LINE_B_ALTITUDE_RANGE_TEXT;
    case IDS_LINE_B_DELAY_RANGE:
      return L"" IDS_LINE_B_DELAY_RANGE_TEXT;
    case IDS_LINE_B_ON_TIME_RANGE:
      return L"" IDS_LINE_B_ON_TIME_RANGE_TEXT;
    case IDS_MACH_INHIBIT_RANGE:
      return L"" IDS_MACH_INHIBIT_RANGE_TEXT;
    case IDS_MIN_BATTERY_RANGE:
      return L"" IDS_MIN_BATTERY_RANGE_TEXT;
    default:
      return std::wstring();
  }
}
