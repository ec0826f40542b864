// The plot's DirectDraw surfaces and GDI+ canvas, for real under Wine.
#include <windows.h>
#include <ddraw.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <utility>

#include "device/Altimeter.h"
#include "plot/GdiPlusCanvasWin32.h"
#include "plot/PlotSurfaces.h"
#include "tests/TestSupport.h"
#include "tests/win32/WaitBound.h"

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 400;
constexpr uint32_t kLightBlue = 0xB4B4FF;

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow(int width, int height) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"UlkPlotSurfacesTest";
    RegisterClassW(&windowClass);
    registered = true;
  }
  RECT frame{0, 0, width, height};
  AdjustWindowRect(&frame, WS_POPUP, FALSE);
  HWND window = CreateWindowExW(0, L"UlkPlotSurfacesTest", L"plot", WS_POPUP | WS_VISIBLE, 0, 0,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  UpdateWindow(window);
  return window;
}

// Five samples: MapX(t) = 250 t + 50 (25 pixels a sample), MapY(v) = 325 - 2.5 v.
// The altitude's flat top runs from (100, 200) to (125, 200); Line B is on at
// sample 2, a bar from x 83 to 108 around y 325.
void FillFixtureFlight(CAltimeter& alt) {
  FlightData& f = alt.flight;
  f = FlightData();
  f.altitudeMsl = {100, 120, 150, 150, 130};
  f.altitudeAgl = {0, 20, 50, 50, 30};
  f.velocity = {0, 0, 0, 0, 0};
  f.velocityKmh = f.velocity;
  f.rawSamples = {0, 0, 0x40000000u, 0, 0};
  f.selectedSet = 0;
  alt.plotFrame = PlotFrame{0, -10, 2, 120, kWidth, kHeight};
}

struct BackBuffer {
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  bool Read() { return ReadBackBuffer(pixels, width, height); }
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  int NotIn(int x0, int y0, int x1, int y1, uint32_t colour) const {
    int count = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) count += At(x, y) != colour;
    return count;
  }
  bool AnyIn(int x0, int y0, int x1, int y1, uint32_t colour) const {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (At(x, y) == colour) return true;
    return false;
  }
};

// The download preview drawn by the same canvas on a DirectDraw surface of
// its own, the back buffer's size, as 0x00RRGGBB.
bool RenderLivePlotOnASurface(std::vector<uint32_t>& pixels) {
  IDirectDraw7* directDraw = nullptr;
  if (FAILED(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7, nullptr)))
    return false;
  directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
  DDSURFACEDESC2 description{};
  description.dwSize = sizeof description;
  description.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  description.dwWidth = kWidth;
  description.dwHeight = kHeight;
  description.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
  IDirectDrawSurface7* surface = nullptr;
  bool ok = SUCCEEDED(directDraw->CreateSurface(&description, &surface, nullptr));
  if (ok) {
    {
      GdiPlusCanvas canvas(surface, kWidth, true);
      Altimeter().RenderLivePlot(canvas);
    }
    ok = SUCCEEDED(surface->Lock(nullptr, &description, DDLOCK_WAIT | DDLOCK_READONLY, nullptr));
  }
  if (ok) {
    pixels.clear();
    const auto* bytes = static_cast<const unsigned char*>(description.lpSurface);
    for (int y = 0; y < kHeight; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(bytes + static_cast<ptrdiff_t>(y) * description.lPitch);
      for (int x = 0; x < kWidth; ++x) pixels.push_back(row[x] & 0x00FFFFFF);
    }
    surface->Unlock(nullptr);
  }
  if (surface) surface->Release();
  directDraw->Release();
  return ok;
}

// Handles what is waiting; true when a quit message with exit code 0 was among it.
bool QuitPosted() {
  MSG message;
  bool quit = false;
  // Dispatched, or an unpainted window would hand out WM_PAINT for ever.
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) quit |= message.wParam == 0;
    else DispatchMessageW(&message);
  }
  return quit;
}

// Runs an action on the tracing thread, in the middle of what it is doing,
// the first time a line is traced.
class TraceHook : public std::streambuf {
 public:
  TraceHook(std::string line, std::function<void()> action) : line_(line + "\n"), action_(std::move(action)) {
    old_ = SetTraceTarget(this);
  }
  ~TraceHook() override { SetTraceTarget(old_); }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text_.append(s, static_cast<size_t>(n));
    if (action_ && text_.find(line_) != std::string::npos) std::exchange(action_, nullptr)();
    return n;
  }
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    char c = traits_type::to_char_type(ch);
    xsputn(&c, 1);
    return ch;
  }

 private:
  std::string line_;
  std::function<void()> action_;
  std::string text_;
  std::streambuf* old_;
};

class PlotSurfacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus.Started());
    window = MakeWindow(kWidth, kHeight);
    ASSERT_TRUE(window);
    SetBackBufferSize(kWidth, kHeight);
    ASSERT_TRUE(CreateSurfaces(window, true));
    FillFixtureFlight(Altimeter());
  }
  void TearDown() override {
    ReleaseSurfaces();
    SetBackBufferSize(640, 480);
    SetBlitResultsForTest({});
    Altimeter().flight = FlightData();
    Altimeter().livePreview.Reset();
    Altimeter().plotFrame = PlotFrame{};
    DestroyWindow(window);
    QuitPosted();
  }

  CGdiPlusSession gdiplus;
  HWND window = nullptr;
};

}  // namespace

TEST_F(PlotSurfacesTest, MadeSurfacesStartBlackAndTheSetIsRenderedIntoTheBackBuffer) {
  BackBuffer buffer;
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.width, kWidth);
  EXPECT_EQ(buffer.height, kHeight);
  EXPECT_EQ(buffer.At(300, 300), 0u);

  TraceCapture trace;
  RequestRedraw();
  EXPECT_TRUE(trace.Has("Updating buffer."));
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.At(500, 100), kLightBlue);
  EXPECT_TRUE(buffer.AnyIn(110, 198, 115, 202, 0xFF0000)) << "altitude curve";
  EXPECT_EQ(buffer.At(95, 325), 0x0000FFu) << "Line B bar";
  EXPECT_EQ(buffer.At(95, 318), 0x0000FFu) << "the bar is 15 pixels thick";
  EXPECT_EQ(buffer.At(95, 340), kLightBlue);
  EXPECT_TRUE(buffer.AnyIn(300, 325, 300, 326, 0x0000FF)) << "ground line";
  // The legend's text is drawn, in the fallback face where Arial is missing.
  EXPECT_GT(buffer.NotIn(10, 10, 150, 35, kLightBlue), 50) << "Smoothed altitude";
  EXPECT_GT(buffer.NotIn(10, 50, 150, 75, kLightBlue), 50) << "<Velocity> over 1 second";
  EXPECT_EQ(buffer.NotIn(200, 10, 400, 35, kLightBlue), 0);
}

TEST_F(PlotSurfacesTest, TheLivePlotIsGreyWithItsGroundAndAltitude) {
  CAltimeter& alt = Altimeter();
  alt.plotFrame = PlotFrame{7, 7, 7, 7, kWidth, kHeight};
  for (uint32_t tenths : {5000u, 5100u, 5400u, 5300u}) alt.livePreview.AddSample(tenths);
  RenderLivePlot();
  EXPECT_EQ(alt.plotFrame.xSpan, 5);
  EXPECT_EQ(alt.plotFrame.ySpan, 40);
  BackBuffer buffer;
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.At(500, 100), 0x808080u);
  // MapY(0) = 350; the curve climbs from (50, 350) towards (60, 275).
  EXPECT_TRUE(buffer.AnyIn(500, 349, 500, 351, 0x0000FF)) << "ground line";
  EXPECT_TRUE(buffer.AnyIn(54, 300, 58, 330, 0xFF0000)) << "altitude curve";
  // The preview's own picture holds what the same canvas draws on a DirectDraw
  // surface, labels included.
  std::vector<uint32_t> onASurface;
  ASSERT_TRUE(RenderLivePlotOnASurface(onASurface));
  EXPECT_GT(buffer.NotIn(100, 320, 160, 345, 0x808080), 30) << "Ground";
  EXPECT_TRUE(buffer.pixels == onASurface);
}

// The window is shown whichever was drawn last: the set's plot in the back
// buffer (light blue) or the download preview in its picture (grey).
TEST_F(PlotSurfacesTest, PresentsWhatWasDrawnLastToTheWindow) {
  for (uint32_t tenths : {5000u, 5100u, 5400u, 5300u}) Altimeter().livePreview.AddSample(tenths);
  const std::pair<void (*)(), COLORREF> steps[] = {
      {RequestRedraw, RGB(180, 180, 255)}, {RenderLivePlot, RGB(128, 128, 128)}, {RequestRedraw, RGB(180, 180, 255)}};
  for (const auto& [draw, expected] : steps) {
    draw();
    // The set's plot frame again: the preview's rendering sets its own.
    Altimeter().plotFrame = PlotFrame{0, -10, 2, 120, kWidth, kHeight};
    ASSERT_TRUE(PresentPlot(kWidth, kHeight));
    // Wine puts the primary surface on the screen a little later.
    COLORREF background = 0;
    for (int i = 0; i < 100 && background != expected; ++i) {
      QuitPosted();
      Sleep(20);
      HDC dc = GetDC(window);
      background = GetPixel(dc, 500, 100);
      ReleaseDC(window, dc);
    }
    EXPECT_EQ(background, expected);
  }
}

TEST_F(PlotSurfacesTest, RebuildsAtANewSize) {
  RequestRedraw();
  ReleaseSurfaces();
  SetBackBufferSize(320, 200);
  ASSERT_TRUE(CreateSurfaces(window, true));
  int width = 0, height = 0;
  BackBufferSize(width, height);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 200);
  BackBuffer buffer;
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.width, 320);
  EXPECT_EQ(buffer.height, 200);
  EXPECT_EQ(buffer.At(160, 100), 0u);
  RequestRedraw();
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.At(319, 10), kLightBlue);
  // A smaller buffer is stretched over the whole client area.
  EXPECT_TRUE(PresentPlot(kWidth, kHeight));
  // Making them again without releasing first releases the old ones itself.
  EXPECT_TRUE(CreateSurfaces(window, true));
}

TEST_F(PlotSurfacesTest, WithoutSurfacesNothingIsDrawnOrPresented) {
  ReleaseSurfaces();
  TraceCapture trace;
  RequestRedraw();
  RenderLivePlot();
  EXPECT_FALSE(ClearBackBuffer(0));
  EXPECT_FALSE(PresentPlot(kWidth, kHeight));
  BackBuffer buffer;
  EXPECT_FALSE(buffer.Read());
  EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(PlotSurfacesTest, PresentRetriesWhileDrawingAndRestoresLostSurfaces) {
  struct Case {
    const char* name;
    std::vector<HRESULT> results;
    bool presented;
  };
  const std::vector<Case> cases = {
      {"still drawing, then done", {DDERR_WASSTILLDRAWING, DDERR_WASSTILLDRAWING, DD_OK}, true},
      {"still drawing, then lost", {DDERR_WASSTILLDRAWING, DDERR_SURFACELOST}, false},
      {"lost", {DDERR_SURFACELOST}, false},
      {"failed", {DDERR_GENERIC}, false},
      {"never done", std::vector<HRESULT>(100, DDERR_WASSTILLDRAWING), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestRedraw();
    SetBlitResultsForTest(c.results);
    EXPECT_EQ(PresentPlot(kWidth, kHeight), c.presented);
    SetBlitResultsForTest({});
    // The surfaces are still there (restored after a loss) and present again.
    RequestRedraw();
    EXPECT_TRUE(PresentPlot(kWidth, kHeight));
  }
}

TEST_F(PlotSurfacesTest, AFailedCreationReleasesEverythingAndEndsTheProgram) {
  ReleaseSurfaces();
  QuitPosted();
  SetBackBufferSize(0, 0);
  {
    TraceCapture trace;
    EXPECT_FALSE(CreateSurfaces(window, true));
    EXPECT_TRUE(trace.Has("Direct Draw: CreateSurface (back buffer) failed, 0x80070057.")) << trace.Text();
  }
  EXPECT_TRUE(QuitPosted());
  EXPECT_FALSE(PresentPlot(kWidth, kHeight));
  EXPECT_FALSE(ClearBackBuffer(0));

  // Not quiet: the warning is shown on the window first.
  std::atomic<bool> done{false};
  std::wstring text, title;
  UINT style = 0;
  std::thread answerer([&] {
    for (int i = 0; i < 500 && !done; ++i) {
      HWND box = FindWindowW(L"#32770", L"Direct Draw Init Failed!");
      if (box) {
        wchar_t buffer[128] = {};
        GetDlgItemTextW(box, 0xFFFF, buffer, 128);
        text = buffer;
        GetWindowTextW(box, buffer, 128);
        title = buffer;
        style = GetWindow(box, GW_OWNER) == window ? 1 : 0;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(10);
    }
  });
  {
    // A box the answerer never finds would hold the run for ever.
    WaitBound bound([] { return std::string("the box \"Direct Draw Init Failed!\""); }, kRunBoundMs,
                    [] {
                      if (HWND box = FindWindowW(L"#32770", L"Direct Draw Init Failed!")) EndDialog(box, IDOK);
                    });
    EXPECT_FALSE(CreateSurfaces(window, false));
  }
  done = true;
  answerer.join();
  EXPECT_EQ(text, L"Failed to Initialize Direct Draw");
  EXPECT_EQ(title, L"Direct Draw Init Failed!");
  EXPECT_EQ(style, 1u) << "owned by the window";
  EXPECT_TRUE(QuitPosted());
}

TEST_F(PlotSurfacesTest, AnotherThreadsFillWaitsUntilARedrawEnds) {
  std::mutex m;
  std::condition_variable filled;
  bool done = false;
  bool filledDuringRedraw = false;
  std::thread other;
  {
    // Traced by the redraw after its clear, before its drawing.
    TraceHook hook("Updating buffer.", [&] {
      other = std::thread([&] {
        ClearBackBuffer(0xFF00FF);
        std::lock_guard<std::mutex> lock(m);
        done = true;
        filled.notify_all();
      });
      // Time for the fill to land in the middle of the drawing, were it let in.
      std::unique_lock<std::mutex> lock(m);
      filledDuringRedraw = filled.wait_for(lock, std::chrono::milliseconds(300), [&] { return done; });
    });
    RequestRedraw();
  }
  other.join();
  EXPECT_FALSE(filledDuringRedraw);
  // The whole redraw, then the whole fill: nothing of the plot is left on top.
  BackBuffer buffer;
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.NotIn(0, 0, kWidth - 1, kHeight - 1, 0xFF00FF), 0);
}

TEST_F(PlotSurfacesTest, LivePlotsRedrawsAndRebuildsFromTwoThreadsEndInAWholePlot) {
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    for (int i = 0; i < 40; ++i) {
      RenderLivePlot();
      PresentPlot(kWidth, kHeight);
    }
    stop = true;
  });
  int rounds = 0;
  while (!stop) {
    RequestRedraw();
    PresentPlot(kWidth, kHeight);
    if (++rounds % 5 == 0) CreateSurfaces(window, true);
  }
  worker.join();
  Altimeter().plotFrame = PlotFrame{0, -10, 2, 120, kWidth, kHeight};
  RequestRedraw();
  BackBuffer buffer;
  ASSERT_TRUE(buffer.Read());
  EXPECT_EQ(buffer.At(500, 100), kLightBlue);
  EXPECT_EQ(buffer.At(95, 325), 0x0000FFu);
}
