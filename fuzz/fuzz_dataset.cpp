// A data set file as someone may e-mail it: load it, and when it loads, save
// each set, export it, and load the saved file again: the same packets,
// settings and comment must come back, and the same samples must decode.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "device/Altimeter.h"
#include "fuzz/FuzzSupport.h"

namespace {

// One folder per process for the path forms, gone when the process ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    path_ = std::filesystem::temp_directory_path() / ("ulk-fuzz-dataset-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path Path(const char* name) const { return path_ / name; }
  std::wstring File(const char* name) const { return Path(name).wstring(); }
  std::string Bytes(const char* name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path path_;
};

// Sets beyond these are decoded but not saved: each costs a round trip.
constexpr int32_t kSetsSaved = 8;

// One input in this many also goes through the path forms, which cost a file
// each; which ones is decided by the input's bytes, so a run repeats.
constexpr size_t kPathFormsOneIn = 64;

size_t Count(const std::string& text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();

  CAltimeter alt;
  MemoryStream in(data, size);
  if (!alt.LoadDataSet(in)) {
    // A failed load changes nothing.
    FUZZ_CHECK(alt.packets.empty() && alt.comments.empty());
    return 0;
  }
  FUZZ_CHECK(alt.comments.size() == 1);
  FUZZ_CHECK(alt.packets.size() <= size / 64);

  // The exports of the first set, in memory: a header and a row per sample,
  // an element per sample (a comment cannot forge one: its '<' is escaped).
  // Each selects the set, which then stays selected for the round trip below.
  std::ostringstream csvStream, xmlStream;
  alt.WriteCsv(0, csvStream);
  alt.WriteXml(0, xmlStream);
  const std::string csv = csvStream.str(), xml = xmlStream.str();
  const size_t samples = alt.flight.rawSamples.size();
  FUZZ_CHECK(Count(csv, "\n") == samples + 1);
  FUZZ_CHECK(Count(xml, "\t\t\t<MSL t=\"") == samples);
  FUZZ_CHECK(xml.size() >= 6 && xml.compare(xml.size() - 6, 6, "</xml>") == 0);

  const int32_t sets = alt.CountDataSets();
  for (int32_t set = 0; set < sets && set < kSetsSaved; ++set) {
    if (set > 0) FUZZ_CHECK(alt.SelectDataSet(set));
    FUZZ_CHECK(alt.flight.selectedSet == set);
    const std::vector<uint32_t> shown = alt.flight.rawSamples;
    const int32_t first = alt.FirstPacketOfSet(set);
    const uint16_t count = alt.PacketCountOfSet(set);
    FUZZ_CHECK(first >= 0 && static_cast<size_t>(first) + count <= alt.packets.size());

    std::ostringstream saved;
    alt.WriteDataSet(saved, set);
    const std::string bytes = saved.str();
    CAltimeter again;
    MemoryStream back(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    FUZZ_CHECK(again.LoadDataSet(back));
    FUZZ_CHECK(again.packets.size() == count);
    for (uint16_t i = 0; i < count; ++i)
      FUZZ_CHECK(again.packets[i].ToBytes() == alt.packets[static_cast<size_t>(first) + i].ToBytes());
    FUZZ_CHECK(again.settings.packet == alt.settings.packet);
    FUZZ_CHECK(again.comments == std::vector<std::string>{set == 0 ? alt.comments[0] : std::string()});
    // What the plot and the CSV showed is what the saved file holds.
    FUZZ_CHECK(again.SelectDataSet(0));
    FUZZ_CHECK(again.flight.rawSamples == shown);
  }

  // The path forms are shells over the stream forms: their files hold the same
  // bytes. An implausible altitude takes the last valid one decoded before,
  // in any set, so the CSV and XML of a set depend on what was decoded last:
  // the first set is decoded once more, which leaves that state as its own
  // decode leaves it, and then written both ways.
  if (std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data), size)) % kPathFormsOneIn != 0)
    return 0;
  static ScratchFolder folder;
  FUZZ_CHECK(alt.SelectDataSet(0));
  std::ostringstream csvAgain, xmlAgain, saved;
  alt.WriteCsv(0, csvAgain);
  FUZZ_CHECK(alt.WriteCsv(0, folder.File("set.csv")));
  FUZZ_CHECK(folder.Bytes("set.csv") == csvAgain.str());
  alt.WriteXml(0, xmlAgain);
  FUZZ_CHECK(alt.WriteXml(0, folder.File("set.xml")));
  FUZZ_CHECK(folder.Bytes("set.xml") == xmlAgain.str());
  alt.WriteDataSet(saved, 0);
  FUZZ_CHECK(alt.SaveDataSet(folder.File("set.ulk"), 0));
  FUZZ_CHECK(folder.Bytes("set.ulk") == saved.str());
  CAltimeter fromFile;
  FUZZ_CHECK(fromFile.LoadDataSet(folder.File("set.ulk")));
  FUZZ_CHECK(fromFile.packets.size() == alt.PacketCountOfSet(0));
  return 0;
}
