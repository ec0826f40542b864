// ulktool's flight data commands: the download dialog's "Read Data" and save
// steps, the main window's exports, and a summary of a data set file.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>

#include "app/MessageTexts.h"
#include "device/Altimeter.h"
#include "resources/resource.h"
#include "device/Utf8.h"
#include "flightdata/DownloadTasks.h"
#include "flightdata/FlightJson.h"
#include "flightdata/FlightSummary.h"
#include "settings/SettingsFile.h"
#include "tool/ProgressBar.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

const std::string kCouldNotLoad = Narrow(MessageText(IDS_LOAD_FAILED));
const std::string kErrorSaving = Narrow(MessageText(IDS_SAVE_FAILED));
const std::string kCsvFailed = Narrow(MessageText(IDS_CSV_SAVE_FAILED));

// A bar for the stored packets, on a terminal.
class ToolDownloadBar : public DownloadView {
 public:
  explicit ToolDownloadBar(ProgressBar& bar) : bar_(bar) {}
  void ShowPacket(int packetIndex) override {
    bar_.Draw((packetIndex + 1) * 40 / kMaxFlashPackets, '.',
              "packet " + std::to_string(packetIndex + 1) + " of at most " + std::to_string(kMaxFlashPackets));
  }

 private:
  ProgressBar& bar_;
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

int RunDownload(ToolContext& context, const std::string& target, bool csv, bool force) {
  std::filesystem::path folder = FilePath(Widen(target));
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) {
    context.err << "ulktool: " << target << " is not a folder that can be written\n";
    return kExitFailed;
  }
  // Flights saved before are never replaced unasked: nothing is downloaded or written.
  const std::vector<std::string> earlier = EarlierDownload(folder, csv);
  if (!earlier.empty() && !force) {
    context.err << "ulktool: " << target << " already holds";
    for (const std::string& name : earlier) context.err << " " << name;
    context.err << "\nulktool: nothing was downloaded or written; download into another folder, or give --force to "
                   "replace them\n";
    return kExitFailed;
  }

  CAltimeter altimeter;
  int connected = ConnectNormal(context, altimeter);
  if (connected != kExitOk) return connected;
  // Standard output is for the saved files and the count that comes after
  // them: no line a packet, but a bar where standard error is a terminal.
  const bool bar = context.ErrIsTerminal();
  std::ostringstream count;
  DownloadOutcome outcome;
  {
    ProgressBar line(context.err);
    BarTaskHost host(context.err, count, line);
    DownloadView noPicture;
    ToolDownloadBar drawn(line);
    outcome = DownloadTask(altimeter, host, bar ? static_cast<DownloadView&>(drawn) : noPicture);
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

// A data set file named on the command line into the altimeter; "-" reads standard input.
bool LoadInput(ToolContext& context, const std::string& name, CAltimeter& altimeter) {
  if (!IsStandardStream(name)) return altimeter.LoadDataSet(Widen(name));
  context.BinaryIn();
  return altimeter.LoadDataSet(context.in);
}

// csv and xml: load, then export data set 0 as the main window does after "Open...".
int RunExport(ToolContext& context, const std::string& input, const std::string& output, bool xml) {
  CAltimeter altimeter;
  if (!LoadInput(context, input, altimeter)) {
    context.err << kCouldNotLoad << "\n";
    return kExitFailed;
  }
  if (IsStandardStream(output)) {
    context.BinaryOut();
    if (xml) altimeter.WriteXml(0, context.out);
    else altimeter.WriteCsv(0, context.out);
    context.out.flush();
    if (context.out) return kExitOk;
  } else if (xml ? altimeter.WriteXml(0, Widen(output)) : altimeter.WriteCsv(0, Widen(output))) {
    return kExitOk;
  }
  context.err << kErrorSaving << "\n";
  return kExitFailed;
}

template <bool Xml>
ToolRunner DeclareExport(CLI::App& command) {
  auto files = std::make_shared<std::pair<std::string, std::string>>();
  command.add_option("FILE", files->first, "the data set file (- for standard input)")->required();
  command.add_option("OUT", files->second, Xml ? "the XML file to write (- for standard output)"
                                                : "the CSV file to write (- for standard output)")
      ->required();
  return [files](ToolContext& context) { return RunExport(context, files->first, files->second, Xml); };
}

ToolRunner DeclareDownload(CLI::App& command) {
  struct Options {
    std::string folder;
    bool csv = false, force = false;
  };
  auto o = std::make_shared<Options>();
  command.add_option("DIR", o->folder, "the folder for flight-1.ulk, flight-2.ulk, ... (made when missing)")
      ->required();
  command.add_flag("--csv", o->csv, "a CSV file beside each data set file");
  command.add_flag("--force", o->force, "replace the files of an earlier download in DIR");
  return [o](ToolContext& context) { return RunDownload(context, o->folder, o->csv, o->force); };
}

// --- info

std::string Fixed(double value, int decimals = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

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
  for (const SettingsField& field : kSettingsFields) out << "  " << field.name << " = " << field.get(settings) << "\n";
}

// Every key whatever the file holds, null where a set has no value; the
// summary's keys are the logbook's.
void PrintJson(std::ostream& out, const Summary& summary, const std::string& comment, const SettingsRecord& settings,
               bool valid) {
  Json object;
  object["packets"] = summary.packets;
  object["dataSets"] = summary.dataSets;
  PutSummary(object, &summary.flight);
  object["comment"] = JsonText(comment);
  PutSettings(object, settings.packet, valid, settings);
  out << JsonLine(object) << "\n";
}

int RunInfo(ToolContext& context, const std::string& input, bool json) {
  // Read aside rather than loaded, so that a file whose settings fail their
  // checksum is still summarised, with settingsValid false.
  DataSetFileContents contents;
  contents.settings.LoadDefaults();
  DataSetFileStatus status;
  if (IsStandardStream(input)) {
    context.BinaryIn();
    status = ReadDataSet(context.in, contents);
  } else {
    status = ReadDataSetFile(Widen(input), contents);
  }
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

ToolRunner DeclareInfo(CLI::App& command) {
  auto o = std::make_shared<std::pair<std::string, bool>>();
  command.add_option("FILE", o->first, "the data set file (- for standard input)")->required();
  command.add_flag("--json", o->second, "one JSON object; every key always there, null where there is no value");
  return [o](ToolContext& context) { return RunInfo(context, o->first, o->second); };
}

}  // namespace

ULK_TOOL_COMMAND("download", "download DIR [--csv] [--force]",
                 "download the flight memory; save data set k as DIR/flight-<k+1>.ulk (and .csv); files of an earlier "
                 "download are replaced only with --force",
                 DeclareDownload);
ULK_TOOL_COMMAND("csv", "csv FILE.ulk OUT.csv", "export data set 0 of a file as CSV", DeclareExport<false>);
ULK_TOOL_COMMAND("xml", "xml FILE.ulk OUT.xml", "export data set 0 of a file as XML", DeclareExport<true>);
ULK_TOOL_COMMAND("info", "info FILE.ulk [--json]", "summarise the flight in a data set file", DeclareInfo);
