// The settings record's working fields by name, with the ranges the tool and a
// settings file accept, and the settings file: one rocket's configuration kept
// on disk and written to a device another day.
//
// A settings file is text, one "name = value" line a field:
//
//   ULK USB settings 1
//   deviceFlag = 1
//   ...
//   lineBOnTime = 20
//   checksum = 0x02e9
//
// The first line names the format; every field appears once, in any order, as
// a whole number in its range; the checksum is the one the device keeps over
// the packet those fields make. Blank lines and lines starting with "#" are
// notes. A file that breaks any of this is refused whole.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>

#include "settings/SettingsRecord.h"

struct SettingsField {
  const char* name;
  long minimum;
  long maximum;
  const char* unit;  // " (tenths of a second)", or ""
  long (*get)(const SettingsRecord&);
  void (*set)(SettingsRecord&, long);
};

inline constexpr size_t kSettingsFieldCount = 15;
// In the packet's order.
extern const SettingsField kSettingsFields[kSettingsFieldCount];

const SettingsField* FindSettingsField(const std::string& name);

// Reads a value for the field: "" and the value when it is a whole number in
// the field's range, else why not ("lineAMode must be a whole number from 0 to 5 ..., not "9"").
std::string ParseSettingsValue(const SettingsField& field, const std::string& text, long& value);

inline constexpr const char* kSettingsFileSignature = "ULK USB settings 1";

// The record's fields as a settings file, with the checksum of the packet they make.
void WriteSettingsFile(std::ostream& out, const SettingsRecord& record);

// Reads a whole settings file. On success the record holds its fields and
// their packet; otherwise the record is untouched and problem says why.
bool ReadSettingsFile(std::istream& in, SettingsRecord& record, std::string& problem);
