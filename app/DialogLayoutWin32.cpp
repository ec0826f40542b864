// Moves the anchored controls of a dialog as it is resized, and keeps it from
// shrinking below the size it opened with.
#include "app/DialogWindow.h"

ControlAnchor::ControlAnchor(HWND window, AnchorFlags anchors) : control(window), parent(GetParent(window)) {
  RECT client{};
  GetClientRect(parent, &client);
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  geometry.left = r.left;
  geometry.top = r.top;
  geometry.width = r.right - r.left;
  geometry.height = r.bottom - r.top;
  geometry.anchors = anchors;
  geometry.parentWidth = client.right;
  geometry.parentHeight = client.bottom;
}

DialogLayout::DialogLayout(HWND window, int32_t minTrackWidth, int32_t minTrackHeight, int32_t maxTrackWidth,
                           int32_t maxTrackHeight)
    : dialog(window), minTrack{minTrackWidth, minTrackHeight}, maxTrack{maxTrackWidth, maxTrackHeight} {}

void DialogLayout::AddAnchor(HWND control, AnchorFlags anchors) {
  if (control) this->anchors.emplace_back(control, anchors);
}

void DialogLayout::AddAnchor(int controlId, AnchorFlags anchors) { AddAnchor(GetDlgItem(dialog, controlId), anchors); }

void DialogLayout::HandleMessage(UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_SIZE) {
    const int32_t width = LOWORD(lParam);
    const int32_t height = HIWORD(lParam);
    HDWP positions = BeginDeferWindowPos(static_cast<int>(anchors.size()));
    for (ControlAnchor& anchor : anchors) {
      AnchorGeometry::Move move = anchor.geometry.Step(width, height);
      // Not copying the old pixels: a moved button would keep what lay there before.
      UINT flags = SWP_NOZORDER | SWP_NOCOPYBITS | (move.move ? 0 : SWP_NOMOVE) | (move.size ? 0 : SWP_NOSIZE);
      const AnchorGeometry& g = anchor.geometry;
      if (positions) positions = DeferWindowPos(positions, anchor.control, nullptr, g.left, g.top, g.width, g.height, flags);
    }
    if (positions) EndDeferWindowPos(positions);
    // Moving the owner-drawn frames copies their pixels, and with them those
    // of the controls lying over them: repaint the lot so nothing is left behind.
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  } else if (message == WM_GETMINMAXINFO) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    TrackSize minimum{info->ptMinTrackSize.x, info->ptMinTrackSize.y};
    TrackSize maximum{info->ptMaxTrackSize.x, info->ptMaxTrackSize.y};
    ApplyTrackLimits(minTrack, maxTrack, minimum, maximum);
    info->ptMinTrackSize = {minimum.width, minimum.height};
    info->ptMaxTrackSize = {maximum.width, maximum.height};
  }
}
