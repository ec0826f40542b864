// The logbook of 10,000 data set files (the simulator's full memory saved a
// flight a file, in 100 folders), against what it cannot do without: reading
// every file's bytes once and decoding every set once. In one run:
//   filesPerSecond  files of the logbook a second
//   readShare       of that reading and decoding, the share spent reading
//   decodeShare     and the share spent decoding
//   ratio           logbook time / (read + decode time); the goal is at most 2
// The files are in the page cache for both, as they are just written.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <streambuf>
#include <unistd.h>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "flightdata/FlightSummary.h"
#include "flightdata/Logbook.h"
#include "simulator/SimFlightComputer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;

class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type ch) override { return traits_type::not_eof(ch); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class Collection {
 public:
  Collection() : root_(fs::temp_directory_path() / ("ulk-logbook-bench-" + std::to_string(::getpid()))) {
    SimFlightComputer::Config config;
    config.flights = "full";
    SimFlightComputer device(config);
    CAltimeter altimeter;
    for (int i = 0; i < kMaxFlashPackets; ++i) {
      CFlashPacket packet = CFlashPacket::FromBytes(&device.flash[64 * static_cast<size_t>(i)]);
      if (packet.type == kErasedType) break;
      altimeter.packets.push_back(packet);
    }
    std::vector<std::string> flights;
    for (int32_t k = 0; k < altimeter.CountDataSets(); ++k) {
      altimeter.StoreCommentOf(k, "Flight " + std::to_string(k + 1) + ", gusty; \"new\" motor");
      std::ostringstream bytes;
      altimeter.WriteDataSet(bytes, k);
      flights.push_back(bytes.str());
    }
    fs::remove_all(root_);
    for (int f = 0; f < kFolders; ++f) {
      fs::path folder = root_ / ("season-" + std::to_string(f));
      fs::create_directories(folder);
      for (int i = 0; i < kFilesPerFolder; ++i) {
        fs::path file = folder / ("flight-" + std::to_string(i) + ".ulk");
        const std::string& bytes = flights[static_cast<size_t>(f * kFilesPerFolder + i) % flights.size()];
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        files_.push_back(file);
      }
    }
  }
  ~Collection() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& Root() const { return root_; }
  const std::vector<fs::path>& Files() const { return files_; }

 private:
  fs::path root_;
  std::vector<fs::path> files_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_Logbook10000Files(benchmark::State& state) {
  SilenceTrace(true);
  Collection collection;
  Discard discard;
  std::ostream out(&discard);
  CAltimeter altimeter;
  double readSeconds = 0, decodeSeconds = 0, logbookSeconds = 0;
  size_t sets = 0;
  for (auto _ : state) {
    // The floor: each file's bytes read once (its name already known), then
    // its sets decoded once from memory.
    for (const fs::path& file : collection.Files()) {
      auto start = std::chrono::steady_clock::now();
      std::ifstream in(file, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      readSeconds += Seconds(start);

      start = std::chrono::steady_clock::now();
      std::istringstream from(std::move(bytes));
      DataSetFileContents contents;
      if (ReadDataSet(from, contents) != DataSetFileStatus::Read) state.SkipWithError("a generated file did not read");
      altimeter.packets = std::move(contents.packets);
      for (int32_t k = 0, n = altimeter.CountDataSets(); k < n; ++k) {
        altimeter.SelectDataSet(k);
        benchmark::DoNotOptimize(altimeter.flight.velocity.data());
        ++sets;
      }
      decodeSeconds += Seconds(start);
    }

    auto start = std::chrono::steady_clock::now();
    if (!WriteLogbook({collection.Root()}, LogbookFormat::Table, out)) state.SkipWithError("a file failed");
    logbookSeconds += Seconds(start);
  }
  SilenceTrace(false);
  const double files = static_cast<double>(collection.Files().size() * state.iterations());
  if (sets != collection.Files().size() * state.iterations()) state.SkipWithError("not one set a file");
  state.counters["files"] = static_cast<double>(collection.Files().size());
  state.counters["filesPerSecond"] = files / logbookSeconds;
  state.counters["readShare"] = readSeconds / (readSeconds + decodeSeconds);
  state.counters["decodeShare"] = decodeSeconds / (readSeconds + decodeSeconds);
  state.counters["ratio"] = logbookSeconds / (readSeconds + decodeSeconds);
}
BENCHMARK(BM_Logbook10000Files)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
