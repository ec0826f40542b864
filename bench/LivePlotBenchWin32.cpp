// The download preview's cost on Windows (run under Wine): a full memory's
// 22,800 samples drawn into a 1280 x 1024 back buffer and presented, as the
// download's worker does it for one packet's seven progress reports. The
// packet's bus time is 35 reports of 1 ms; the figure to watch is the share of
// it that the seven reports take (goal: at most 0.1).
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
  std::vector<double> clear, render, present, packet, naive, firstReport;
  LivePlotPace pace;
  for (int p = 0; p < kPackets; ++p) {
    // The last packets of a full memory: 15 new samples each time.
    FeedPreview(words, kSamples - 15 * (p % 2));
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
    naive.push_back(kReportsPerPacket * (t3 - t1));

    // What the worker does: seven reports, of which the first sees the new samples.
    FeedPreview(words, kSamples - 15 * ((p + 1) % 2));
    double start = NowMs();
    int drawn = 0;
    double first = 0;
    for (int r = 0; r < kReportsPerPacket; ++r) {
      drawn += PresentLivePreview(pace, window);
      if (r == 0) first = NowMs() - start;
    }
    packet.push_back(NowMs() - start);
    firstReport.push_back(first);
    if (drawn != 1) std::printf("packet %d drew %d times\n", p, drawn);
  }
  // The drawing as the worker meets it: right after the last present.
  std::vector<double> renderAfterPresent, renderAgain;
  for (int p = 0; p < 10; ++p) {
    PresentPlot(kWidth, kHeight);
    double t0 = NowMs();
    RenderLivePlot();
    double t1 = NowMs();
    RenderLivePlot();
    double t2 = NowMs();
    renderAfterPresent.push_back(t1 - t0);
    renderAgain.push_back(t2 - t1);
  }
  std::printf("  RenderLivePlot after a present %8.3f ms, again at once %8.3f ms\n", Median(renderAfterPresent),
              Median(renderAgain));
  std::printf("live plot at %d samples on %d x %d (median of %d packets)\n", kSamples, kWidth, kHeight, kPackets);
  std::printf("  fill back buffer          %8.3f ms\n", Median(clear));
  std::printf("  RenderLivePlot            %8.3f ms\n", Median(render));
  std::printf("  PresentPlot               %8.3f ms\n", Median(present));
  std::printf("  7 reports, each drawn     %8.3f ms  share of the packet's bus time %.3f\n", Median(naive),
              Median(naive) / kPacketBusMs);
  std::printf("  the report that draws      %8.3f ms\n", Median(firstReport));
  std::printf("  7 reports, as the worker  %8.3f ms  share of the packet's bus time %.3f (goal <= 0.1)\n",
              Median(packet), Median(packet) / kPacketBusMs);
  ReleaseSurfaces();
  DestroyWindow(window);
  return 0;
}
