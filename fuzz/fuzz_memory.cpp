// The memory image as a device may deliver it: any packets at all, divided
// into sets, decoded, framed and drawn, and fed to the live preview as a
// download does.
#include <algorithm>

#include "device/Altimeter.h"
#include "fuzz/FuzzSupport.h"
#include "plot/RecordingCanvas.h"

namespace {

// Each set costs a walk of the image; beyond these the input only adds time.
constexpr int32_t kSetsDrawn = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  FuzzReader input(data, size);
  CAltimeter alt;
  // The window's size: anything from nothing to a very wide screen.
  alt.plotFrame.width = input.Word() & 0x3FFF;
  alt.plotFrame.height = input.Word() & 0x3FFF;
  const int canvasWidth = alt.plotFrame.width;

  int32_t starts = 0;
  while (input.Left() >= 64 && alt.packets.size() < static_cast<size_t>(kMaxFlashPackets)) {
    size_t got = 0;
    const uint8_t* bytes = input.Take(64, got);
    alt.packets.push_back(CFlashPacket::FromBytes(bytes));
    if (bytes[0] == kSetStartType) ++starts;
  }
  const int32_t sets = alt.CountDataSets();
  FUZZ_CHECK(sets == starts);
  FUZZ_CHECK(alt.FirstPacketOfSet(sets) == -1);

  size_t samples = 0;
  for (int32_t set = 0; set < sets && set < kSetsDrawn; ++set) {
    FUZZ_CHECK(alt.SelectDataSet(set));
    const FlightData& f = alt.flight;
    const size_t n = f.rawSamples.size();
    FUZZ_CHECK(n <= static_cast<size_t>(alt.PacketCountOfSet(set)) * kSamplesPerPacket);
    for (const std::vector<double>* series : {&f.altitudeMsl, &f.batteryVoltage, &f.temperature})
      FUZZ_CHECK(series->size() == n);
    for (const std::vector<double>* series :
         {&f.altitudeAgl, &f.smoothedAltitude, &f.velocity, &f.smoothedVelocity, &f.velocityKmh})
      FUZZ_CHECK(series->size() == (n == 0 ? 0 : n));
    for (double a : f.altitudeMsl) FUZZ_CHECK(a >= -500.0 && a <= 32760.0);
    samples += n;

    FUZZ_CHECK(alt.SelectPlotSet(set));
    FUZZ_CHECK(alt.plotFrame.ySpan >= 0 && alt.plotFrame.xSpan >= 0);
    RecordingCanvas canvas(canvasWidth);
    canvas.keepLines = false;
    alt.RenderPlot(canvas);
  }
  FUZZ_CHECK(samples <= alt.packets.size() * kSamplesPerPacket);

  // The live preview sees every word of every packet, as a download feeds it.
  for (const CFlashPacket& packet : alt.packets)
    for (uint32_t word : packet.samples) alt.livePreview.AddSample(word);
  FUZZ_CHECK(alt.livePreview.altitude.size() <= alt.packets.size() * kSamplesPerPacket);
  FUZZ_CHECK(alt.livePreview.bounds[2] > 0);
  RecordingCanvas live(canvasWidth);
  live.keepLines = false;
  alt.RenderLivePlot(live);
  return 0;
}
