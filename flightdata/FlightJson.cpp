#include "flightdata/FlightJson.h"

#include <charconv>
#include <cmath>

#include "settings/SettingsFile.h"

namespace {

// The length of the valid UTF-8 sequence at text[i], 0 when there is none
// (stray continuation bytes, overlong forms, surrogates, past U+10FFFF).
size_t Utf8SequenceAt(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return length;
}

}  // namespace

std::string TextAsUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceAt(bytes, i);
    if (length > 0) {
      out.append(bytes, i, length);
      i += length;
    } else {
      // A byte of a code page: U+0080 to U+00FF, two bytes of UTF-8.
      const unsigned char c = static_cast<unsigned char>(bytes[i++]);
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Json JsonText(const std::string& bytes) { return TextAsUtf8(bytes); }

Json JsonFigure(double value) {
  if (!std::isfinite(value)) return nullptr;
  const std::string text = FormatStreamNumber(value);
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (text.find_first_of(".e") == std::string::npos) {
    long long whole = 0;
    if (std::from_chars(begin, end, whole).ec == std::errc()) return whole;
  }
  double rounded = value;
  std::from_chars(begin, end, rounded);
  return rounded;
}

Json JsonFigure(const std::optional<double>& value) { return value ? JsonFigure(*value) : Json(nullptr); }

void PutSummary(Json& object, const FlightSummary* summary) {
  const FlightSummary none;
  const FlightSummary& s = summary ? *summary : none;
  object["samples"] = summary ? Json(s.samples) : Json(nullptr);
  object["duration"] = summary ? JsonFigure(s.duration) : Json(nullptr);
  object["groundAltitudeMsl"] = JsonFigure(s.groundAltitudeMsl);
  object["apogeeAgl"] = JsonFigure(s.apogeeAgl);
  object["apogeeTime"] = JsonFigure(s.apogeeTime);
  object["maxVelocity"] = JsonFigure(s.maxVelocity);
  object["maxVelocityTime"] = JsonFigure(s.maxVelocityTime);
  object["lineAFirstFired"] = JsonFigure(s.lineAFirstFired);
  object["lineBFirstFired"] = JsonFigure(s.lineBFirstFired);
  object["batteryMin"] = JsonFigure(s.batteryMin);
  object["temperatureMin"] = JsonFigure(s.temperatureMin);
  object["temperatureMax"] = JsonFigure(s.temperatureMax);
}

void PutSettings(Json& object, const SettingsPacket& packet, bool valid, const SettingsRecord& record) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : packet) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  object["settingsValid"] = valid;
  object["settingsPacket"] = hex;
  Json fields = Json::object();
  for (const SettingsField& field : kSettingsFields) fields[field.name] = field.get(record);
  object["settings"] = fields;
}

std::string JsonLine(const Json& value) {
  if (value.is_object() || value.is_array()) {
    const bool object = value.is_object();
    std::string line = object ? "{" : "[";
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (!first) line += ", ";
      first = false;
      if (object) line += Json(it.key()).dump(-1, ' ', false, Json::error_handler_t::replace) + ": ";
      line += JsonLine(*it);
    }
    return line + (object ? "}" : "]");
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}
