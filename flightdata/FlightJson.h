// The JSON that ulktool writes (info, logbook, settings, devices): the library
// writes the text; here are the program's choices about it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "flightdata/FlightSummary.h"
#include "settings/SettingsRecord.h"

// Keys stay in the order they were put, as the documented outputs list them.
using Json = nlohmann::ordered_json;

// Bytes from a file (a comment, a path) as UTF-8: valid UTF-8 as it stands, and
// every byte that is not part of it taken as Latin-1, so nothing is dropped and
// a comment typed in a Western code page reads as it was typed.
std::string TextAsUtf8(const std::string& bytes);
Json JsonText(const std::string& bytes);

// A figure with the six significant digits the CSV export writes, a whole
// number without a fraction; null when there is none (or it is not finite).
Json JsonFigure(double value);
Json JsonFigure(const std::optional<double>& value);

// The summary's keys, "samples" to "temperatureMax", as info and the logbook
// both give them; every key null when there is no summary (a file that could
// not be read).
void PutSummary(Json& object, const FlightSummary* summary);

// "settingsValid", "settingsPacket" (the packet in hex) and "settings" (an
// object of the record's fields), as info and settings give them.
void PutSettings(Json& object, const SettingsPacket& packet, bool valid, const SettingsRecord& record);

// A value on one line, ", " between items and ": " after a key. Never throws:
// text that is somehow not UTF-8 is replaced, not refused.
std::string JsonLine(const Json& value);
