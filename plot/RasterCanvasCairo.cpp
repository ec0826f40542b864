#include "plot/RasterCanvasCairo.h"

#include <cairo.h>

#include "device/Utf8.h"

namespace {

void SetColour(cairo_t* cairo, uint32_t rgb) {
  cairo_set_source_rgb(cairo, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

void SetColourArgb(cairo_t* cairo, uint32_t argb) {
  cairo_set_source_rgba(cairo, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                        ((argb >> 24) & 0xFF) / 255.0);
}


}  // namespace

void RasterCanvas::SurfaceRelease::operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
void RasterCanvas::ContextRelease::operator()(cairo_t* cairo) const { cairo_destroy(cairo); }

RasterCanvas::RasterCanvas(int width, int height) : width_(width), height_(height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return;
  surface_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS) {
    surface_.reset();
    return;
  }
  cairo_.reset(cairo_create(surface_.get()));
  if (cairo_status(cairo_.get()) != CAIRO_STATUS_SUCCESS) {
    cairo_.reset();
    return;
  }
  cairo_set_antialias(cairo_.get(), CAIRO_ANTIALIAS_NONE);
  cairo_set_line_cap(cairo_.get(), CAIRO_LINE_CAP_BUTT);
  Clear(0);
}

RasterCanvas::~RasterCanvas() = default;

bool RasterCanvas::Clear(uint32_t fill) {
  if (!cairo_) return false;
  cairo_new_path(cairo_.get());
  pending_ = false;
  cairo_t* cr = cairo_.get();
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  SetColour(cr, fill);
  cairo_paint(cr);
  cairo_restore(cr);
  return true;
}

void RasterCanvas::DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) {
  if (!cairo_ || !(pen.width > 0)) return;
  cairo_t* cr = cairo_.get();
  // Lines of one pen in a row go into one path and one stroke: with opaque
  // colours and no antialiasing that covers exactly the pixels that separate
  // strokes would, at a fraction of the cost.
  if (pending_ && (pen.argb != pendingPen_.argb || pen.width != pendingPen_.width)) Flush();
  if (!pending_) {
    pending_ = true;
    pendingPen_ = pen;
  }
  // An odd width centred on a pixel's middle covers whole pixels, an even one
  // centred on its corner does.
  double offset = static_cast<int>(pen.width) % 2 == 1 ? 0.5 : 0.0;
  cairo_move_to(cr, from.x + offset, from.y + offset);
  cairo_line_to(cr, to.x + offset, to.y + offset);
}

void RasterCanvas::Flush() {
  if (!pending_) return;
  pending_ = false;
  cairo_t* cr = cairo_.get();
  SetColourArgb(cr, pendingPen_.argb);
  cairo_set_line_width(cr, pendingPen_.width);
  cairo_stroke(cr);
}

void RasterCanvas::DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) {
  if (!cairo_) return;
  Flush();
  cairo_t* cr = cairo_.get();
  std::string family = font.family ? ToUtf8(font.family) : std::string();
  // Fontconfig answers a missing family with the default sans-serif face.
  cairo_select_font_face(cr, family.empty() ? "sans-serif" : family.c_str(), CAIRO_FONT_SLANT_NORMAL,
                         CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, font.points * 96.0 / 72.0);
  cairo_font_extents_t extents;
  cairo_font_extents(cr, &extents);
  SetColourArgb(cr, argb);
  cairo_move_to(cr, x, y + extents.ascent);
  cairo_show_text(cr, ToUtf8(text).c_str());
  cairo_new_path(cr);
}

bool RasterCanvas::WritePng(const std::string& path) {
  if (!surface_) return false;
  Flush();
  cairo_surface_flush(surface_.get());
  return cairo_surface_write_to_png(surface_.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool RasterCanvas::WritePng(std::ostream& out) {
  if (!surface_) return false;
  Flush();
  cairo_surface_flush(surface_.get());
  auto write = [](void* closure, const unsigned char* data, unsigned int length) {
    auto& stream = *static_cast<std::ostream*>(closure);
    stream.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
    return stream ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
  };
  return cairo_surface_write_to_png_stream(surface_.get(), write, &out) == CAIRO_STATUS_SUCCESS && out.flush();
}

uint32_t RasterCanvas::Pixel(int x, int y) {
  if (!surface_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  Flush();
  cairo_surface_flush(surface_.get());
  const unsigned char* data = cairo_image_surface_get_data(surface_.get());
  int stride = cairo_image_surface_get_stride(surface_.get());
  const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
  return row[x] & 0x00FFFFFF;
}

std::vector<uint32_t> RasterCanvas::Pixels() {
  std::vector<uint32_t> pixels;
  if (!surface_) return pixels;
  Flush();
  cairo_surface_flush(surface_.get());
  const unsigned char* data = cairo_image_surface_get_data(surface_.get());
  int stride = cairo_image_surface_get_stride(surface_.get());
  pixels.reserve(static_cast<size_t>(width_) * height_);
  for (int y = 0; y < height_; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width_; ++x) pixels.push_back(row[x] & 0x00FFFFFF);
  }
  return pixels;
}
