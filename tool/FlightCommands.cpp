// ulktool's flight data commands: the download dialog's "Read Data" and save
// steps, the main window's exports, and a summary of a data set file.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#define ULK_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ULK_ISATTY(fd) isatty(fd)
#endif

#include "app/MessageTexts.h"
#include "device/Altimeter.h"
#include "resources/resource.h"
#include "device/Utf8.h"
#include "flightdata/DownloadTasks.h"
#include "flightdata/FlightSummary.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

const std::string kCouldNotLoad = Narrow(MessageText(IDS_LOAD_FAILED));
const std::string kErrorSaving = Narrow(MessageText(IDS_SAVE_FAILED));
const std::string kCsvFailed = Narrow(MessageText(IDS_CSV_SAVE_FAILED));

bool StdoutIsTerminal(const ToolContext& context) {
  return &context.out == &std::cout && ULK_ISATTY(1);
}

// A bar that redraws itself on a terminal for each stored packet.
class ToolDownloadBar : public DownloadView {
 public:
  explicit ToolDownloadBar(std::ostream& out) : out_(out) {}
  ~ToolDownloadBar() override {
    if (drawn_) out_ << "\n";
  }
  void ShowPacket(int packetIndex) override {
    constexpr int kWidth = 40;
    int filled = (packetIndex + 1) * kWidth / kMaxFlashPackets;
    out_ << "\r[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), '.')
         << "] packet " << packetIndex + 1 << " of at most " << kMaxFlashPackets << std::flush;
    drawn_ = true;
  }

 private:
  std::ostream& out_;
  bool drawn_ = false;
};

// The files of an earlier download in the folder: flight-<k>.ulk (and .csv
// when CSV files are written), which a download would replace.
std::vector<std::string> EarlierDownload(const std::filesystem::path& folder, bool csv) {
  std::vector<std::string> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Narrow(it->path().filename().wstring());
    const size_t dot = name.rfind('.');
    if (name.rfind("flight-", 0) != 0 || dot == std::string::npos || dot <= 7) continue;
    const std::string number = name.substr(7, dot - 7), extension = name.substr(dot);
    if (number.find_first_not_of("0123456789") != std::string::npos) continue;
    if (extension == ".ulk" || (csv && extension == ".csv")) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

int RunDownload(ToolContext& context) {
  bool csv = context.TakeFlag("--csv");
  bool force = context.TakeFlag("--force");
  if (context.args.size() != 1) return context.Usage("download takes one folder");
  std::filesystem::path folder = FilePath(Widen(context.args[0]));
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) {
    context.err << "ulktool: " << context.args[0] << " is not a folder that can be written\n";
    return kExitFailed;
  }
  // Flights saved before are never replaced unasked: nothing is downloaded or written.
  const std::vector<std::string> earlier = EarlierDownload(folder, csv);
  if (!earlier.empty() && !force) {
    context.err << "ulktool: " << context.args[0] << " already holds";
    for (const std::string& name : earlier) context.err << " " << name;
    context.err << "\nulktool: nothing was downloaded or written; download into another folder, or give --force to "
                   "replace them\n";
    return kExitFailed;
  }

  CAltimeter altimeter;
  int connected = ConnectNormal(context, altimeter);
  if (connected != kExitOk) return connected;
  // On a terminal a bar instead of a line per packet; the count comes after the saved files.
  const bool bar = StdoutIsTerminal(context);
  std::ostringstream count;
  DownloadOutcome outcome;
  {
    ToolTaskHost host(context.err, count, false, bar ? nullptr : &context.out);
    DownloadView noPicture;
    ToolDownloadBar drawn(context.out);
    outcome = DownloadTask(altimeter, host, bar ? drawn : noPicture);
  }
  if (outcome == DownloadOutcome::NotConnected) return kExitNoDevice;
  if (outcome != DownloadOutcome::Done) return kExitFailed;

  int32_t sets = altimeter.CountDataSets();
  for (int32_t k = 0; k < sets; ++k) {
    std::string name = "flight-" + std::to_string(k + 1);
    std::filesystem::path file = folder / (name + ".ulk");
    if (!altimeter.SaveDataSet(WideName(file), k)) {
      context.err << kErrorSaving << "\n";
      return kExitFailed;
    }
    context.out << "Saved " << Narrow(WideName(file)) << "\n";
    if (csv) {
      std::filesystem::path table = folder / (name + ".csv");
      if (!altimeter.WriteCsv(k, WideName(table))) {
        context.err << kCsvFailed << "\n";
        return kExitFailed;
      }
      context.out << "Saved " << Narrow(WideName(table)) << "\n";
    }
  }
  context.out << count.str();
  return kExitOk;
}

// csv and xml: load, then export data set 0 as the main window does after "Open...".
int RunExport(ToolContext& context, bool xml) {
  if (context.args.size() != 2) return context.Usage("needs a data set file and an output file");
  CAltimeter altimeter;
  if (!altimeter.LoadDataSet(Widen(context.args[0]))) {
    context.err << kCouldNotLoad << "\n";
    return kExitFailed;
  }
  std::wstring out = Widen(context.args[1]);
  if (!(xml ? altimeter.WriteXml(0, out) : altimeter.WriteCsv(0, out))) {
    context.err << kErrorSaving << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

int RunCsv(ToolContext& context) { return RunExport(context, false); }
int RunXml(ToolContext& context) { return RunExport(context, true); }

// --- info

std::string Fixed(double value, int decimals = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // The comment is in the code page it was typed in; as Latin-1 it is at least valid JSON.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) { return FormatStreamNumber(value); }

std::string PacketHex(const SettingsPacket& packet) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : packet) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

// What info adds to a set's summary: the whole file's image.
struct Summary {
  size_t packets = 0;
  int32_t dataSets = 0;
  FlightSummary flight;
};

Summary Summarise(CAltimeter& altimeter) {
  Summary s;
  s.packets = altimeter.packets.size();
  s.dataSets = altimeter.CountDataSets();
  altimeter.SelectDataSet(0);
  s.flight = SummariseFlight(altimeter.flight);
  return s;
}

struct SettingsField {
  const char* name;
  long value;
};

std::vector<SettingsField> SettingsFields(const SettingsRecord& r) {
  return {{"deviceFlag", r.deviceFlag},       {"deviceParam1", r.deviceParam1},   {"machInhibit", r.machInhibit},
          {"minBattery", r.minBattery},       {"altitudeOffset", r.altitudeOffset}, {"lineAMode", r.lineAMode},
          {"lineBMode", r.lineBMode},         {"lineAValue", r.lineAValue},       {"lineBValue", r.lineBValue},
          {"imperialUnits", r.imperialUnits}, {"deviceParam2", r.deviceParam2},   {"lineADelay", r.lineADelay},
          {"lineBDelay", r.lineBDelay},       {"lineAOnTime", r.lineAOnTime},     {"lineBOnTime", r.lineBOnTime}};
}

std::string FiredText(const std::optional<double>& time) { return time ? "at " + Fixed(*time) + " s" : "never"; }

void PrintText(std::ostream& out, const Summary& summary, const std::string& comment, const SettingsRecord& settings,
               bool valid) {
  const FlightSummary& s = summary.flight;
  out << "Data sets: " << summary.dataSets << "\n"
      << "Packets: " << summary.packets << "\n"
      << "Samples: " << s.samples << " (" << Fixed(s.duration) << " s)\n";
  if (s.samples > 0) {
    out << "Ground altitude: " << Fixed(*s.groundAltitudeMsl) << " m MSL\n"
        << "Apogee: " << Fixed(*s.apogeeAgl) << " m AGL at " << Fixed(*s.apogeeTime) << " s\n"
        << "Peak velocity: " << Fixed(*s.maxVelocity) << " m/s (" << Fixed(*s.maxVelocity * 3.6) << " km/h) at "
        << Fixed(*s.maxVelocityTime) << " s\n"
        << "Line A first fired: " << FiredText(s.lineAFirstFired) << "\n"
        << "Line B first fired: " << FiredText(s.lineBFirstFired) << "\n"
        << "Battery minimum: " << Fixed(*s.batteryMin) << " V\n"
        << "Temperature: " << Fixed(*s.temperatureMin) << " to " << Fixed(*s.temperatureMax) << " C\n";
  }
  out << "Comment: " << comment << "\n"
      << "Settings: checksum " << (valid ? "valid" : "invalid") << ", packet " << PacketHex(settings.packet) << "\n";
  for (const SettingsField& field : SettingsFields(settings)) out << "  " << field.name << " = " << field.value << "\n";
}

// The logbook has every key in every row; info keeps the keys it has always given.
void PrintJson(std::ostream& out, const Summary& summary, const std::string& comment, const SettingsRecord& settings,
               bool valid) {
  const FlightSummary& s = summary.flight;
  auto optional = [](const std::optional<double>& time) { return time ? JsonNumber(*time) : std::string("null"); };
  out << "{\"packets\": " << summary.packets << ", \"dataSets\": " << summary.dataSets << ", \"samples\": " << s.samples
      << ", \"duration\": " << JsonNumber(s.duration);
  if (s.samples > 0) {
    out << ", \"groundAltitudeMsl\": " << JsonNumber(*s.groundAltitudeMsl)
        << ", \"apogeeAgl\": " << JsonNumber(*s.apogeeAgl) << ", \"apogeeTime\": " << JsonNumber(*s.apogeeTime)
        << ", \"maxVelocity\": " << JsonNumber(*s.maxVelocity)
        << ", \"maxVelocityTime\": " << JsonNumber(*s.maxVelocityTime)
        << ", \"lineAFirstFired\": " << optional(s.lineAFirstFired)
        << ", \"lineBFirstFired\": " << optional(s.lineBFirstFired) << ", \"batteryMin\": " << JsonNumber(*s.batteryMin)
        << ", \"temperatureMin\": " << JsonNumber(*s.temperatureMin)
        << ", \"temperatureMax\": " << JsonNumber(*s.temperatureMax);
  } else {
    out << ", \"apogeeAgl\": null, \"apogeeTime\": null, \"maxVelocity\": null, \"maxVelocityTime\": null";
  }
  out << ", \"comment\": " << JsonString(comment) << ", \"settingsValid\": " << (valid ? "true" : "false")
      << ", \"settingsPacket\": \"" << PacketHex(settings.packet) << "\", \"settings\": {";
  bool first = true;
  for (const SettingsField& field : SettingsFields(settings)) {
    out << (first ? "" : ", ") << "\"" << field.name << "\": " << field.value;
    first = false;
  }
  out << "}}\n";
}

int RunInfo(ToolContext& context) {
  bool json = context.TakeFlag("--json");
  if (context.args.size() != 1) return context.Usage("info takes one data set file");
  // Read aside rather than loaded, so that a file whose settings fail their
  // checksum is still summarised, with settingsValid false.
  DataSetFileContents contents;
  contents.settings.LoadDefaults();
  DataSetFileStatus status = ReadDataSetFile(Widen(context.args[0]), contents);
  if (status != DataSetFileStatus::Read && status != DataSetFileStatus::InvalidSettings) {
    context.err << kCouldNotLoad << "\n";
    return kExitFailed;
  }
  bool valid = status == DataSetFileStatus::Read;
  CAltimeter altimeter;
  altimeter.packets = contents.packets;
  Summary summary = Summarise(altimeter);
  if (json) {
    PrintJson(context.out, summary, contents.comment, contents.settings, valid);
  } else {
    PrintText(context.out, summary, contents.comment, contents.settings, valid);
  }
  return kExitOk;
}

}  // namespace

ULK_TOOL_COMMAND("download", "download DIR [--csv] [--force]",
                 "download the flight memory; save data set k as DIR/flight-<k+1>.ulk (and .csv); files of an earlier "
                 "download are replaced only with --force",
                 RunDownload);
ULK_TOOL_COMMAND("csv", "csv FILE.ulk OUT.csv", "export data set 0 of a file as CSV", RunCsv);
ULK_TOOL_COMMAND("xml", "xml FILE.ulk OUT.xml", "export data set 0 of a file as XML", RunXml);
ULK_TOOL_COMMAND("info", "info FILE.ulk [--json]", "summarise the flight in a data set file", RunInfo);
