// The "Download Data" dialog: downloads the flight memory, shows it as a strip
// of data sets to pick from, saves sets with their comments (and a CSV beside
// each), erases the device, and draws the flight live in the main window while
// it arrives.
#pragma once

#include <windows.h>
// windows.h first: GDI+ needs its types.
#include <gdiplus.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "app/DialogWindow.h"
#include "flightdata/CaptureModel.h"
#include "flightdata/DownloadTasks.h"
#include "plot/LivePlotPace.h"
#include "plot/LivePreviewPainter.h"

// The preview of the program's altimeter (the one the plot surfaces draw) as
// it is now: rendered and presented in the main window's client area as one
// step, unless the window shows a preview of the same inputs already. Answers
// whether it drew.
bool PresentLivePreview(LivePlotPace& pace, HWND mainWindow);

class CCaptureWindow : public CStatusDialog, public DownloadView {
 public:
  explicit CCaptureWindow(CAltimeter& altimeter = Altimeter());
  ~CCaptureWindow() override;

  void OnInitDialog() override;
  void OnCommand(WPARAM command) override;
  bool WaitsForWorker(int controlId) const override;
  bool ClosesOnEscape() const override { return true; }
  void RefreshConnectionLook(bool busy) override;
  void OfferRetry() override;
  bool BeforeCloseWait() override;
  void AfterCloseWait() override;

  // The download's pictures, on its worker: the strip, and the live preview,
  // which the worker only marks stale for the painter to draw.
  void ShowImage() override;
  void ShowPacket(int packetIndex) override;
  void ShowLivePreview(int packetIndex) override;
  // On the worker, during a download with Live Update: waits (at most bound)
  // until the painter has drawn the last preview marked. False otherwise.
  bool WaitForLivePreview(std::chrono::milliseconds bound);

  // Draws stripImage from the memory image and selectedSet (any thread).
  void RedrawStripImage();

  // 1520 x 2 ARGB, one column per packet of the flight memory.
  std::unique_ptr<Gdiplus::Bitmap> stripImage;
  std::atomic<int32_t> selectedSet{-1};

 private:
  enum class SaveOutcome { Saved, Cancelled, Failed };

  void DownloadWorker();
  void ClearWorker();
  void OnReadData();
  void OnClearDevice();
  void OnSaveComment();
  void OnSaveSelected();
  void OnSaveAll();
  SaveOutcome SaveSet(int32_t set);
  bool ValidSet() const;
  void ShowCommentOf(int32_t set);
  void InvalidateStrip();

  static LRESULT CALLBACK StripProc(HWND strip, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data);
  LRESULT OnStripErase(HWND strip, HDC dc);
  void OnStripClick(HWND strip, LPARAM lParam);

  // Serialises the strip image between the worker that redraws it and the
  // dialog thread that paints it.
  std::mutex stripLock_;
  // "Live Update" as it was when the download started; the box is disabled
  // until it ends, and the worker must not wait on the dialog thread to read it.
  std::atomic<bool> liveUpdate_{false};
  // Whether the worker was still running when this close attempt began.
  bool workerRanAtClose_ = false;
  // The painter's own: what the main window shows of the preview.
  LivePlotPace livePace_;
  // The live preview's painter while a download with Live Update runs; made,
  // marked and ended by the worker only.
  std::unique_ptr<LivePreviewPainter> livePainter_;
};
