// The flight data on a full memory (1520 packets, 22,800 samples): decoding,
// the CSV export, the data set file, and the download against a simulated
// device that answers at once.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "simulator/SimFlightComputer.h"
#include "simulator/SimHost.h"

namespace {

// What the device needs for a full memory at one report a millisecond: 33
// replies and 2 writes per packet.
constexpr double kDeviceSecondsFullMemory = 1520 * 35 * 0.001;
// And for one packet, the budget of a decode or an export.
constexpr double kDeviceSecondsPerPacket = 0.035;

// The recorded flights of a full memory, made one data set that fills it.
void FillAsOneSet(CAltimeter& altimeter) {
  SimFlightComputer::Config config;
  config.flights = "full";
  SimFlightComputer device(config);
  altimeter.packets.clear();
  uint32_t last = 0;
  for (int i = 0; i < kMaxFlashPackets; ++i) {
    CFlashPacket packet = CFlashPacket::FromBytes(&device.flash[64 * static_cast<size_t>(i)]);
    packet.type = i == 0 ? kSetStartType : 3;
    // Where a flight ended inside a packet, the ground stays as it was.
    for (uint32_t& word : packet.samples) last = word = word == kNoSample ? last : word;
    altimeter.packets.push_back(packet);
  }
}

std::wstring BenchPath(const char* name) {
  return (std::filesystem::temp_directory_path() / name).wstring();
}

class QuietTrace {
 public:
  QuietTrace() : old_(SetTraceTarget(nullptr)) {}
  ~QuietTrace() { SetTraceTarget(old_); }

 private:
  std::streambuf* old_;
};

void Share(benchmark::State& state, double seconds, double budget, const char* name) {
  state.counters[name] = seconds / static_cast<double>(state.iterations()) / budget;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_DecodeFullMemory(benchmark::State& state) {
  QuietTrace quiet;
  CAltimeter altimeter;
  FillAsOneSet(altimeter);
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(altimeter.SelectDataSet(0));
    seconds += Seconds(start);
  }
  if (altimeter.flight.altitudeMsl.size() != 22800) state.SkipWithError("the set is not a full memory");
  Share(state, seconds, kDeviceSecondsPerPacket, "shareOfOnePacket");
}
BENCHMARK(BM_DecodeFullMemory)->Unit(benchmark::kMillisecond);

void BM_WriteCsvFullMemory(benchmark::State& state) {
  QuietTrace quiet;
  CAltimeter altimeter;
  FillAsOneSet(altimeter);
  std::wstring path = BenchPath("ulk-bench.csv");
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!altimeter.WriteCsv(0, path)) state.SkipWithError("the CSV could not be written");
    seconds += Seconds(start);
  }
  Share(state, seconds, kDeviceSecondsPerPacket, "shareOfOnePacket");
  std::filesystem::remove(std::filesystem::path(path));
}
BENCHMARK(BM_WriteCsvFullMemory)->Unit(benchmark::kMillisecond);

void BM_SaveDataSetFullMemory(benchmark::State& state) {
  QuietTrace quiet;
  CAltimeter altimeter;
  FillAsOneSet(altimeter);
  std::wstring path = BenchPath("ulk-bench.ulk");
  for (auto _ : state)
    if (!altimeter.SaveDataSet(path, 0)) state.SkipWithError("the file could not be written");
  std::filesystem::remove(std::filesystem::path(path));
}
BENCHMARK(BM_SaveDataSetFullMemory)->Unit(benchmark::kMillisecond);

void BM_LoadDataSetFullMemory(benchmark::State& state) {
  QuietTrace quiet;
  CAltimeter altimeter;
  FillAsOneSet(altimeter);
  std::wstring path = BenchPath("ulk-bench-load.ulk");
  altimeter.SaveDataSet(path, 0);
  for (auto _ : state)
    if (!altimeter.LoadDataSet(path)) state.SkipWithError("the file could not be read");
  if (altimeter.packets.size() != 1520) state.SkipWithError("the file did not hold a full memory");
  std::filesystem::remove(std::filesystem::path(path));
}
BENCHMARK(BM_LoadDataSetFullMemory)->Unit(benchmark::kMillisecond);

// hostShare: the download's time with a device that costs nothing, over the
// time the device itself needs on the bus (53.2 s). The goal is below 0.01.
void BM_DownloadFullMemory(benchmark::State& state) {
  QuietTrace quiet;
  std::string error;
  auto host = MakeSimHost("full,latency=0,clock=virtual", error);
  if (!host) {
    state.SkipWithError(error.c_str());
    return;
  }
  InstallHidHost(host);
  double seconds = 0;
  {
    CAltimeter altimeter;
    if (altimeter.Connect(nullptr, false) != Connected || altimeter.ReadSettings() != Ok) {
      state.SkipWithError("no simulated device");
    } else {
      for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (altimeter.ReadFlightMemory(nullptr) != Ok || altimeter.packets.size() != 1520)
          state.SkipWithError("the download failed");
        seconds += Seconds(start);
      }
      Share(state, seconds, kDeviceSecondsFullMemory, "hostShare");
    }
  }
  InstallHidHost(nullptr);
}
BENCHMARK(BM_DownloadFullMemory)->Unit(benchmark::kMillisecond);

}  // namespace
