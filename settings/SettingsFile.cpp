#include "settings/SettingsFile.h"

#include <charconv>
#include <cstdio>
#include <sstream>
#include <vector>

#define ULK_FIELD(field, type, minimum, maximum, unit)                                                     \
  SettingsField {                                                                                          \
    #field, minimum, maximum, unit, [](const SettingsRecord& r) { return static_cast<long>(r.field); },   \
        [](SettingsRecord& r, long v) { r.field = static_cast<type>(v); }                                  \
  }

// Ranges are what the packet can carry, narrowed where a wider value would be
// no setting: the line modes stop at 5, the minimum battery at the 14 V the
// settings dialog accepts, and the offset at what reads back unchanged.
const SettingsField kSettingsFields[kSettingsFieldCount] = {
    ULK_FIELD(deviceFlag, bool, 0, 1, ""),
    ULK_FIELD(deviceParam1, uint16_t, 0, 65535, ""),
    ULK_FIELD(machInhibit, uint16_t, 0, 65535, " (tenths of a second)"),
    ULK_FIELD(minBattery, uint8_t, 0, 140, " (tenths of a volt)"),
    ULK_FIELD(altitudeOffset, int32_t, -32768, 32767, " (metres)"),
    ULK_FIELD(lineAMode, uint8_t, 0, 5, " (0 disabled, 1 time, 2 apogee, 3 altitude, 4 altitude before apogee, 5 peak climb velocity)"),
    ULK_FIELD(lineBMode, uint8_t, 0, 5, " (0 disabled, 1 time, 2 apogee, 3 altitude, 4 altitude before apogee, 5 peak climb velocity)"),
    ULK_FIELD(lineAValue, uint16_t, 0, 65535, ""),
    ULK_FIELD(lineBValue, uint16_t, 0, 65535, ""),
    ULK_FIELD(imperialUnits, bool, 0, 1, " (0 metric, 1 imperial)"),
    ULK_FIELD(deviceParam2, uint16_t, 0, 65535, ""),
    ULK_FIELD(lineADelay, uint8_t, 0, 255, " (tenths of a second)"),
    ULK_FIELD(lineBDelay, uint8_t, 0, 255, " (tenths of a second)"),
    ULK_FIELD(lineAOnTime, uint8_t, 0, 255, " (tenths of a second)"),
    ULK_FIELD(lineBOnTime, uint8_t, 0, 255, " (tenths of a second)"),
};

#undef ULK_FIELD

namespace {

// Far more than any settings file with notes; a larger input is something else.
constexpr size_t kMaxSettingsFileSize = 64 * 1024;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFF);
  return text;
}

bool ParseChecksum(const std::string& text, uint16_t& checksum) {
  if (text.size() < 3 || text.size() > 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data() + 2, end, checksum, 16);
  return ec == std::errc() && ptr == end;
}

}  // namespace

const SettingsField* FindSettingsField(const std::string& name) {
  for (const SettingsField& field : kSettingsFields)
    if (name == field.name) return &field;
  return nullptr;
}

std::string ParseSettingsValue(const SettingsField& field, const std::string& text, long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (!text.empty() && ec == std::errc() && ptr == end && value >= field.minimum && value <= field.maximum) return "";
  std::ostringstream problem;
  problem << field.name << " must be a whole number from " << field.minimum << " to " << field.maximum << field.unit
          << ", not \"" << text << "\"";
  return problem.str();
}

void WriteSettingsFile(std::ostream& out, const SettingsRecord& record) {
  SettingsRecord built = record;
  built.BuildPacket();
  out << kSettingsFileSignature << "\n";
  for (const SettingsField& field : kSettingsFields) out << field.name << " = " << field.get(built) << "\n";
  out << "checksum = " << Hex4(built.ComputeChecksum()) << "\n";
}

bool ReadSettingsFile(std::istream& in, SettingsRecord& record, std::string& problem) {
  std::string text(kMaxSettingsFileSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    problem = "cannot be read";
    return false;
  }
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxSettingsFileSize) {
    problem = "too large to be a settings file";
    return false;
  }

  std::vector<std::string> lines;
  std::istringstream split(text);
  for (std::string line; std::getline(split, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (lines.empty() || lines[0] != kSettingsFileSignature) {
    problem = lines.empty() || lines[0].rfind("ULK USB settings ", 0) != 0
                  ? std::string("not a settings file (its first line is not \"") + kSettingsFileSignature + "\")"
                  : "a settings file of a format this version does not know (\"" + lines[0] + "\")";
    return false;
  }

  SettingsRecord read;
  bool seen[kSettingsFieldCount] = {};
  bool haveChecksum = false;
  uint16_t checksum = 0;
  for (size_t n = 1; n < lines.size(); ++n) {
    const std::string line = Trim(lines[n]);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(n + 1) + ": ";
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      problem = where + "expected NAME = VALUE, got \"" + line + "\"";
      return false;
    }
    const std::string name = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    if (name == "checksum") {
      if (haveChecksum) {
        problem = where + "a second checksum";
        return false;
      }
      if (!ParseChecksum(value, checksum)) {
        problem = where + "the checksum must be 0x and four hex digits, not \"" + value + "\"";
        return false;
      }
      haveChecksum = true;
      continue;
    }
    const SettingsField* field = FindSettingsField(name);
    if (!field) {
      problem = where + "unknown setting \"" + name + "\"";
      return false;
    }
    const size_t index = static_cast<size_t>(field - kSettingsFields);
    if (seen[index]) {
      problem = where + name + " appears a second time";
      return false;
    }
    long number = 0;
    const std::string refused = ParseSettingsValue(*field, value, number);
    if (!refused.empty()) {
      problem = where + refused;
      return false;
    }
    field->set(read, number);
    seen[index] = true;
  }
  for (size_t i = 0; i < kSettingsFieldCount; ++i) {
    if (!seen[i]) {
      problem = std::string(kSettingsFields[i].name) + " is missing";
      return false;
    }
  }
  if (!haveChecksum) {
    problem = "the checksum is missing";
    return false;
  }
  read.BuildPacket();
  if (read.ComputeChecksum() != checksum) {
    problem = "the checksum " + Hex4(checksum) + " does not match its settings (" + Hex4(read.ComputeChecksum()) +
              "): the file is damaged or was edited";
    return false;
  }
  record = read;
  return true;
}
