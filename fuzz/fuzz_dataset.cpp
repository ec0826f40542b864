// A data set file as someone may e-mail it: load it, and when it loads, save
// each set, export it, and load the saved file again: the same packets,
// settings and comment must come back, and the same samples must decode.
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "device/Altimeter.h"
#include "fuzz/FuzzSupport.h"

namespace {

// One folder per process for the exports, gone when the process ends.
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
  std::wstring File(const char* name) const { return (path_ / name).wstring(); }

 private:
  std::filesystem::path path_;
};

// Sets beyond these are decoded but not saved: each costs a file round trip.
constexpr int32_t kSetsSaved = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  static ScratchFolder folder;

  CAltimeter alt;
  MemoryStream in(data, size);
  if (!alt.LoadDataSet(in)) {
    // A failed load changes nothing.
    FUZZ_CHECK(alt.packets.empty() && alt.comments.empty());
    return 0;
  }
  FUZZ_CHECK(alt.comments.size() == 1);
  FUZZ_CHECK(alt.packets.size() <= size / 64);

  const int32_t sets = alt.CountDataSets();
  for (int32_t set = 0; set < sets && set < kSetsSaved; ++set) {
    FUZZ_CHECK(alt.SelectDataSet(set));
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

  // The exports and the path forms, once per input: they cost a file each.
  FUZZ_CHECK(alt.WriteCsv(0, folder.File("set.csv")));
  FUZZ_CHECK(alt.WriteXml(0, folder.File("set.xml")));
  FUZZ_CHECK(alt.SaveDataSet(folder.File("set.ulk"), 0));
  CAltimeter fromFile;
  FUZZ_CHECK(fromFile.LoadDataSet(folder.File("set.ulk")));
  FUZZ_CHECK(fromFile.packets.size() == alt.PacketCountOfSet(0));
  return 0;
}
