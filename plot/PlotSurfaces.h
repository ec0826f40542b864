// The plot's drawing surfaces on Windows: a DirectDraw 7 primary surface with
// a clipper on the main window, and an off-screen back buffer that the plot is
// drawn into with GDI+ and blitted from. The download preview has a picture of
// its own beside the back buffer, of the same size: a DIB section drawn and
// presented with GDI alone. Under Wine each use of a DirectDraw surface (its
// context taken and given back, a blit) keeps Wine's drawing thread busy for a
// while after, and the preview is drawn up to once a display frame while the
// device streams; on a busy machine that took the processor the download's
// reader needed. Whichever of the two was drawn last is what the window is
// shown. One set for the whole program; every operation here takes the one
// lock of the back buffer, so the main thread and a dialog's worker may call
// them at any time. GDI+ must have been started.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <vector>

// The size of the back buffer that the next CreateSurfaces makes (initially
// 640 x 480). The plot frame's width and height are the caller's to set.
void SetBackBufferSize(int width, int height);
void BackBufferSize(int& width, int& height);

// Builds the surfaces for the window and clears the back buffer to black. On a
// failure everything is released, a warning is shown unless quiet, the quit
// message is posted (the program ends) and the answer is false.
bool CreateSurfaces(HWND window, bool quiet);
void ReleaseSurfaces();

// Colour-fills the whole back buffer, which is then what the window is shown;
// false when there is none or the fill fails.
bool ClearBackBuffer(uint32_t fill);

// Blits the back buffer (or the preview's picture, when it was drawn last) to
// the window's client area (0, 0, width, height), stretched if the sizes
// differ. False when there are no surfaces, when the surfaces were lost (they
// are restored; the plot is back after the next redraw) or when the blit failed.
bool PresentPlot(int width, int height);
// PresentPlot unless another thread holds the back buffer (a live download
// rendering into it, which presents itself): the window's paint must not
// queue behind it, or the dialogs on the same thread stop repainting.
bool PresentPlotIfFree(int width, int height);

// Draws the selected data set into the back buffer and invalidates the window.
void RequestRedraw();
// Draws the download preview into its picture; present it with PresentPlot.
// Nothing without surfaces.
void RenderLivePlot();

// The back buffer's lock held across several of the calls above (they take it
// again: it is recursive), for a caller whose render and present are one step.
std::unique_lock<std::recursive_mutex> HoldBackBuffer();
// How often the back buffer or the preview's picture was written, rebuilt or
// released so far: a caller that drew one can tell whether the window is
// still shown that drawing.
uint64_t BackBufferWrites();

// The pixels the window is shown (the back buffer's, or the preview's picture
// when it was drawn last) as 0x00RRGGBB, row by row (32-bit surfaces only).
bool ReadBackBuffer(std::vector<uint32_t>& pixels, int& width, int& height);

// Tests: the next blits of PresentPlot answer these results instead of blitting.
void SetBlitResultsForTest(const std::vector<HRESULT>& results);

// GDI+ for as long as it lives (tests and tools; the program starts its own).
class CGdiPlusSession {
 public:
  CGdiPlusSession();
  ~CGdiPlusSession();
  CGdiPlusSession(const CGdiPlusSession&) = delete;
  CGdiPlusSession& operator=(const CGdiPlusSession&) = delete;
  bool Started() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};
