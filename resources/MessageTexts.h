// The texts of the string table, one place for the .rc script (windres
// preprocesses this file) and for the portable code that needs a message's
// words without a window (ulktool). Plain #defines only.
#ifndef ULK_MESSAGE_TEXTS_H
#define ULK_MESSAGE_TEXTS_H

#define IDS_SETS_SAVED_TEXT "Data set/s saved succesfully."
#define IDS_SAVE_FAILED_TEXT "Error saving file. Make sure that it is not write protected or locked, and that the disk has enough space."
#define IDS_CSV_SAVE_FAILED_TEXT "Failed to save the CSV file. Make sure that it is not write protected or locked, and that the disk has enough space."
#define IDS_ARE_YOU_SURE_TEXT "Are you sure?"
#define IDS_LOAD_FAILED_TEXT "Could not load file. Make sure the file is valid and not locked."
#define IDS_ENTER_GROUND_ALTITUDE_TEXT "Please enter your aproximate MSL altitude and try again."
#define IDS_INHIBIT_LARGE_TEXT "The inhibit setting is very large. Please make sure that it is the correct setting."
#define IDS_LINES_DISABLED_TEXT "One or both of the ejection lines are disabled. Make sure this is correct."
#define IDS_CONNECT_BATTERY_TEXT "You may now connect the battery to the device if you want a real time launch. Click OK when connected or ignore."
#define IDS_UPDATE_DELICATE_TEXT "Updating firmware is a delicate process.\r\nCanceling may cause your device to fail."
#define IDS_IMPERIAL_UNITS_TEXT "Imperial units only apply to the beep-out of the final altitude. Everywhere else, metric units are used."
#define IDS_WRITE_CLEARS_DATA_TEXT "Writing settings will clear all flight data.\r\nAre you sure you want to continue?"
#define IDS_ALTITUDE_OUT_OF_RANGE_TEXT "The altitude entered is out of range. Please enter a value from 0 to 15500 meters."
#define IDS_VOLTAGE_OUT_OF_RANGE_TEXT "The minimum voltage entered is not in range."
#define IDS_LINE_A_TIME_RANGE_TEXT "The Line A time entered is missing or out of range. Please enter a value from 0 to 6553 seconds."
#define IDS_LINE_A_ALTITUDE_RANGE_TEXT "The Line A altitude entered is missing or out of range. Please enter a value from 0 to 65535 meters."
#define IDS_LINE_A_DELAY_RANGE_TEXT "The Line A delay entered is missing or out of range. Please enter a value from 0 to 25 seconds."
#define IDS_LINE_A_ON_TIME_RANGE_TEXT "The Line A on time entered is missing or out of range. Please enter a value from 0 to 255 tenths of a second."
#define IDS_LINE_B_TIME_RANGE_TEXT "The Line B time entered is missing or out of range. Please enter a value from 0 to 6553 seconds."
#define IDS_LINE_B_ALTITUDE_RANGE_TEXT "The Line B altitude entered is missing or out of range. Please enter a value from 0 to 65535 meters."
#define IDS_LINE_B_DELAY_RANGE_TEXT "The Line B delay entered is missing or out of range. Please enter a value from 0 to 25 seconds."
#define IDS_LINE_B_ON_TIME_RANGE_TEXT "The Line B on time entered is missing or out of range. Please enter a value from 0 to 255 tenths of a second."
#define IDS_MACH_INHIBIT_RANGE_TEXT "The Mach inhibit entered is missing or out of range. Please enter a value from 0 to 6553 seconds."
#define IDS_MIN_BATTERY_RANGE_TEXT "The minimum voltage entered is missing or out of range. Please enter a value from 0 to 14 volts."

#endif
