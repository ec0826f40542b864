#include "plot/RecordingCanvas.h"

bool RecordingCanvas::Clear(uint32_t fill) {
  if (!hasSurface_) return false;
  CanvasCall call;
  call.kind = CanvasCall::Clear;
  call.fill = fill;
  calls.push_back(call);
  return true;
}

void RecordingCanvas::DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) {
  ++lineCount_;
  if (!keepLines) return;
  CanvasCall call;
  call.kind = CanvasCall::Line;
  call.pen = pen;
  call.from = from;
  call.to = to;
  calls.push_back(call);
}

void RecordingCanvas::DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) {
  CanvasCall call;
  call.kind = CanvasCall::Text;
  call.text = text;
  call.fontFamily = font.family ? font.family : L"";
  call.fontPoints = font.points;
  call.argb = argb;
  call.x = x;
  call.y = y;
  calls.push_back(call);
}

std::vector<CanvasCall> RecordingCanvas::Of(CanvasCall::Kind kind) const {
  std::vector<CanvasCall> out;
  for (const CanvasCall& call : calls)
    if (call.kind == kind) out.push_back(call);
  return out;
}

std::vector<CanvasCall> RecordingCanvas::LinesWith(uint32_t argb, float width) const {
  std::vector<CanvasCall> out;
  for (const CanvasCall& call : calls)
    if (call.kind == CanvasCall::Line && call.pen.argb == argb && call.pen.width == width) out.push_back(call);
  return out;
}
