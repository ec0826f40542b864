// The channel's own cost per report on the simulated bus with no latency.
#include <benchmark/benchmark.h>

#include "device/Altimeter.h"
#include "simulator/SimHost.h"

static void BM_SendCommandOnSimulator(benchmark::State& state) {
  std::string error;
  auto host = MakeSimHost("latency=0,clock=virtual", error);
  InstallHidHost(host);
  CAltimeter altimeter;
  altimeter.Connect(nullptr, false);
  for (auto _ : state) benchmark::DoNotOptimize(altimeter.SendCommand(0, 1));
  altimeter.Close();
  InstallHidHost(nullptr);
}
BENCHMARK(BM_SendCommandOnSimulator);
