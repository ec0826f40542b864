// The download preview's cost on Windows (run under Wine): a full memory's
// 22,800 samples drawn into a 1280 x 1024 preview picture and presented, as the
// download's worker does it for one packet's seven progress reports. The
// packet's bus time is 35 reports of 1 ms; the figure to watch is the share of
// it that the seven reports take (goal: at most 0.1).
//
// Between two packets the worker waits for the device's reports; the bench
// waits out the rest of the packet's 35 ms in the same place. A present hands
// the blit to the drawing layer, which finishes it after the call returns (under
// Wine on its own thread), and the next use of the back buffer waits for that:
// measured back to back, without the bus time between packets, that wait lands
// on the next report. The bench prints that figure too.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "device/Altimeter.h"
#include "flightdata/CaptureWindow.h"
#include "plot/PlotSurfaces.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kSamples = 22800;
constexpr int kReportsPerPacket = 7;
constexpr double kPacketBusMs = 35.0;

double NowMs() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A flight that fills the memory: a climb, a slow descent, some noise.
std::vector<uint32_t> FlightWords() {
  std::vector<uint32_t> words(kSamples);
  uint32_t noise = 1;
  for (int i = 0; i < kSamples; ++i) {
    noise = noise * 1103515245u + 12345u;
    const double t = static_cast<double>(i) / kSamples;
    const double metres = 1320 + 2000 * std::sin(3.14159 * t) * std::exp(-2 * t) + (noise >> 16) % 20 * 0.1;
    words[static_cast<size_t>(i)] = static_cast<uint32_t>(metres * 10) | (84u << 20);
  }
  return words;
}

// The preview as the download leaves it after `samples` samples.
void FeedPreview(const std::vector<uint32_t>& words, int samples) {
  CAltimeter& altimeter = Altimeter();
  std::lock_guard<std::recursive_mutex> lock(altimeter.dataLock);
  altimeter.livePreview = LivePreview();
  for (int i = 0; i < samples; ++i) altimeter.livePreview.AddSample(words[static_cast<size_t>(i)]);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  CGdiPlusSession gdiplus;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"UlkLivePlotBench";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"UlkLivePlotBench", L"bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  SetBackBufferSize(kWidth, kHeight);
  if (!CreateSurfaces(window, true)) return 1;
  Altimeter().plotFrame.width = kWidth;
  Altimeter().plotFrame.height = kHeight;
  const std::vector<uint32_t> words = FlightWords();

  constexpr int kPackets = 40;
  std::vector<double> clear, render, present, packet, firstReport, backToBack;
  LivePlotPace pace;
  // Seven reports of one packet, the first of which sees the packet's 15 new
  // samples: their time, and that of the report that draws.
  auto packetReports = [&](int p, double& first) {
    FeedPreview(words, kSamples - 15 * (p % 2));
    const double start = NowMs();
    int drawn = 0;
    for (int r = 0; r < kReportsPerPacket; ++r) {
      drawn += PresentLivePreview(pace, window);
      if (r == 0) first = NowMs() - start;
    }
    if (drawn != 1) std::printf("packet %d drew %d times\n", p, drawn);
    return NowMs() - start;
  };
  double packetStart = NowMs();
  for (int p = 0; p < kPackets; ++p) {
    // The rest of the previous packet's bus time.
    while (NowMs() - packetStart < kPacketBusMs) Sleep(1);
    packetStart = NowMs();
    double first = 0;
    packet.push_back(packetReports(p, first));
    firstReport.push_back(first);
  }
  for (int p = 0; p < kPackets; ++p) {
    double first = 0;
    backToBack.push_back(packetReports(p, first));
  }
  // The steps of one drawing, each after the bus time.
  for (int p = 0; p < kPackets; ++p) {
    FeedPreview(words, kSamples - 15 * (p % 2));
    Sleep(static_cast<DWORD>(kPacketBusMs));
    double t0 = NowMs();
    ClearBackBuffer(0x808080);
    double t1 = NowMs();
    RenderLivePlot();
    double t2 = NowMs();
    PresentPlot(kWidth, kHeight);
    double t3 = NowMs();
    clear.push_back(t1 - t0);
    render.push_back(t2 - t1);
    present.push_back(t3 - t2);
  }
  std::printf("live plot at %d samples on %d x %d (median of %d packets)\n", kSamples, kWidth, kHeight, kPackets);
  std::printf("  colour-fill blit          %8.3f ms\n", Median(clear));
  std::printf("  RenderLivePlot            %8.3f ms\n", Median(render));
  std::printf("  PresentPlot               %8.3f ms\n", Median(present));
  std::printf("  the report that draws     %8.3f ms\n", Median(firstReport));
  std::printf("  7 reports, back to back   %8.3f ms  share %.3f (no bus time between packets)\n", Median(backToBack),
              Median(backToBack) / kPacketBusMs);
  std::printf("  7 reports, as the worker  %8.3f ms  share of the packet's bus time %.3f (goal <= 0.1)\n",
              Median(packet), Median(packet) / kPacketBusMs);
  ReleaseSurfaces();
  DestroyWindow(window);
  return 0;
}
