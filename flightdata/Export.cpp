// A data set as a CSV table and as a small XML document. Line ends are a
// single LF and numbers are written as a default narrow stream writes them,
// since spreadsheets and scripts read these files as they have always been.
#include <charconv>

#include "device/Altimeter.h"
#include "flightdata/ReplacingFile.h"

namespace {

constexpr const char* kCsvHeader =
    "Time, Battery Voltage (Volts), Temperature (Deg. c), Altitude (MSL), Altitude (AGL), Velocity (km/h), "
    "Line A On, Line B On, Line A Cont., Line B Cont.\n";

// Rows are gathered and handed to the stream in blocks of about this size.
constexpr size_t kWriteBlock = 64 * 1024;

void Flush(std::string& buffer, std::ostream& out) {
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  buffer.clear();
}

const char* LineState(uint32_t word, int bit) { return (word >> bit) & 1u ? "1000" : "0"; }

double SampleTime(size_t i) { return static_cast<double>(static_cast<float>(i)) * 0.1; }

}  // namespace

void AppendStreamNumber(std::string& out, double value) {
  char text[64];
  // to_chars with general notation and a precision is printf's %.6g, which is
  // what a default stream writes.
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  out.append(text, result.ptr);
}

std::string FormatStreamNumber(double value) {
  std::string text;
  AppendStreamNumber(text, value);
  return text;
}

std::string CAltimeter::EscapeXml(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '&': escaped += "&amp;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

bool CAltimeter::WriteCsv(int32_t set, const std::wstring& path) {
  CReplacingFile file(path);
  if (!file.IsOpen()) return false;
  WriteCsv(set, file.Stream());
  return file.Commit();
}

void CAltimeter::WriteCsv(int32_t set, std::ostream& out) {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  SelectDataSet(set);
  std::string buffer = kCsvHeader;
  buffer.reserve(kWriteBlock + 256);
  const size_t n = flight.altitudeMsl.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t word = flight.rawSamples[i];
    AppendStreamNumber(buffer, SampleTime(i));
    buffer += ',';
    AppendStreamNumber(buffer, flight.batteryVoltage[i]);
    buffer += ',';
    AppendStreamNumber(buffer, flight.temperature[i]);
    buffer += ',';
    AppendStreamNumber(buffer, flight.altitudeMsl[i]);
    buffer += ',';
    AppendStreamNumber(buffer, flight.altitudeAgl[i]);
    buffer += ',';
    AppendStreamNumber(buffer, flight.smoothedVelocity[i] * 3.6);
    buffer += ',';
    buffer += LineState(word, 31);
    buffer += ',';
    buffer += LineState(word, 30);
    buffer += ',';
    buffer += LineState(word, 29);
    buffer += ',';
    buffer += LineState(word, 28);
    buffer += '\n';
    if (buffer.size() >= kWriteBlock) Flush(buffer, out);
  }
  Flush(buffer, out);
}

bool CAltimeter::WriteXml(int32_t set, const std::wstring& path) {
  CReplacingFile file(path);
  if (!file.IsOpen()) return false;
  WriteXml(set, file.Stream());
  return file.Commit();
}

void CAltimeter::WriteXml(int32_t set, std::ostream& out) {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  SelectDataSet(set);
  std::string buffer =
      "<xml>\n"
      "\t<flightdata version=\"1.0\">\n"
      "\t\t<device name=\"ULK USB 1.2\" />\n";
  if (set >= 0 && static_cast<size_t>(set) < comments.size()) {
    buffer += "\t\t<comments>\n\t\t\t";
    buffer += EscapeXml(comments[static_cast<size_t>(set)]);
    buffer += "\n\t\t</comments>\n";
  }
  buffer += "\t\t<data format=\"MSL\">\n";
  const size_t n = flight.altitudeMsl.size();
  for (size_t i = 0; i < n; ++i) {
    buffer += "\t\t\t<MSL t=\"";
    AppendStreamNumber(buffer, static_cast<double>(i) * 0.1);
    buffer += "\" z=\"";
    AppendStreamNumber(buffer, flight.altitudeMsl[i]);
    buffer += "\" />\n";
    if (buffer.size() >= kWriteBlock) Flush(buffer, out);
  }
  buffer +=
      "\t\t</data>\n"
      "\t</flightdata>\n"
      "</xml>";
  Flush(buffer, out);
}
