// The choosers' small pictures.  Shapes are given as signed distance
// functions and filled with exact per-pixel coverage, which keeps edges one
// pixel soft at most and lets the pictures be drawn at their true size.
#include "ChooserIcons.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace ChooserIcons {

namespace {

struct Rgb {
  double r, g, b;
};

Rgb rgbOf(FXColor c) { return Rgb{(double)FXREDVAL(c), (double)FXGREENVAL(c), (double)FXBLUEVAL(c)}; }

Rgb mix(const Rgb& a, const Rgb& b, double t) {
  return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A small RGBA canvas with premultiplied channels in 0..255.
class Canvas {
public:
  Canvas(FXint w, FXint h) : w(w), h(h), px(w * h * 4, 0.0) {}

  typedef std::function<double(double, double)> Distance;  // < 0 inside
  typedef std::function<Rgb(double, double)> Paint;

  // Lays a shape filled with `paint` over what is there.
  void fill(const Distance& shape, const Paint& paint) {
    for (FXint y = 0; y < h; y++) {
      for (FXint x = 0; x < w; x++) {
        double cx = x + 0.5, cy = y + 0.5;
        double coverage = std::min(1.0, std::max(0.0, 0.5 - shape(cx, cy)));
        if (coverage <= 0) continue;
        Rgb c = paint(cx, cy);
        double* p = &px[(y * w + x) * 4];
        p[0] = c.r * coverage + p[0] * (1 - coverage);
        p[1] = c.g * coverage + p[1] * (1 - coverage);
        p[2] = c.b * coverage + p[2] * (1 - coverage);
        p[3] = 255 * coverage + p[3] * (1 - coverage);
      }
    }
  }

  void fill(const Distance& shape, FXColor colour) {
    Rgb c = rgbOf(colour);
    fill(shape, [c](double, double) { return c; });
  }

  // Straight (not premultiplied) colours with alpha.
  std::vector<FXColor> pixels() const {
    std::vector<FXColor> out(w * h);
    for (FXint i = 0; i < w * h; i++) {
      const double* p = &px[i * 4];
      double a = p[3];
      if (a <= 0) {
        out[i] = FXRGBA(0, 0, 0, 0);
        continue;
      }
      auto channel = [a](double v) { return (FXuchar)std::lround(std::min(255.0, v * 255.0 / a)); };
      out[i] = FXRGBA(channel(p[0]), channel(p[1]), channel(p[2]), (FXuchar)std::lround(a));
    }
    return out;
  }

private:
  FXint w, h;
  std::vector<double> px;
};

double roundedRect(double x, double y, double x0, double y0, double x1, double y1, double radius) {
  double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  double qx = std::fabs(x - cx) - ((x1 - x0) / 2 - radius);
  double qy = std::fabs(y - cy) - ((y1 - y0) / 2 - radius);
  double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

double circle(double x, double y, double cx, double cy, double radius) {
  return std::hypot(x - cx, y - cy) - radius;
}

double segment(double x, double y, double ax, double ay, double bx, double by) {
  double dx = bx - ax, dy = by - ay;
  double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
  t = std::min(1.0, std::max(0.0, t));
  return std::hypot(x - (ax + t * dx), y - (ay + t * dy));
}

// A tick through three points, drawn as a stroke of the given half width.
Canvas::Distance tick(double ax, double ay, double bx, double by, double cx, double cy,
                      double halfWidth) {
  return [=](double x, double y) {
    return std::min(segment(x, y, ax, ay, bx, by), segment(x, y, bx, by, cx, cy)) - halfWidth;
  };
}

const FXColor TICK_RED = FXRGB(224, 56, 0);

}  // namespace

std::vector<FXColor> diskPixels(FXColor background) {
  const double x0 = 0.5, y0 = 1.5, x1 = 29.5, y1 = 12.5, r = 2.5;
  Canvas c(DISK_WIDTH, DISK_HEIGHT);
  c.fill([](double, double) { return -1.0; }, background);
  // Outline, then the metal body a pixel inside it.
  c.fill([=](double x, double y) { return roundedRect(x, y, x0, y0, x1, y1, r); },
         FXRGB(78, 80, 88));
  Rgb top = rgbOf(FXRGB(238, 239, 243)), bottom = rgbOf(FXRGB(176, 179, 188));
  c.fill([=](double x, double y) { return roundedRect(x, y, x0 + 1, y0 + 1, x1 - 1, y1 - 1, r - 1); },
         [=](double, double y) { return mix(top, bottom, (y - y0) / (y1 - y0)); });
  // The front bezel with its slot and activity light.
  c.fill([=](double x, double y) { return roundedRect(x, y, x0 + 1, 8.0, x1 - 1, y1 - 1, 1.5); },
         FXRGB(150, 153, 163));
  c.fill([](double x, double y) { return roundedRect(x, y, 3.0, 9.5, 17.0, 10.5, 0.0); },
         FXRGB(92, 95, 104));
  c.fill([](double x, double y) { return circle(x, y, 25.0, 10.0, 1.5); }, FXRGB(48, 208, 72));
  return c.pixels();
}

std::vector<FXColor> legendPixels(FXColor colour) {
  std::vector<FXColor> px(LEGEND_SIZE * LEGEND_SIZE, colour);
  for (FXint i = 0; i < LEGEND_SIZE; i++) {
    px[i] = px[(LEGEND_SIZE - 1) * LEGEND_SIZE + i] = FXRGB(56, 56, 56);
    px[i * LEGEND_SIZE] = px[i * LEGEND_SIZE + LEGEND_SIZE - 1] = FXRGB(56, 56, 56);
  }
  return px;
}

std::vector<FXColor> boxPixels(bool ticked) {
  Canvas c(BOX_SIZE, BOX_SIZE);
  c.fill([](double, double) { return -1.0; }, FXRGB(112, 112, 112));
  Rgb top = rgbOf(FXRGB(255, 255, 255)), bottom = rgbOf(FXRGB(228, 228, 232));
  c.fill([](double x, double y) { return roundedRect(x, y, 1, 1, BOX_SIZE - 1, BOX_SIZE - 1, 0); },
         [=](double, double y) { return mix(top, bottom, y / BOX_SIZE); });
  if (ticked) c.fill(tick(3.2, 6.6, 5.4, 9.0, 9.9, 3.6, 1.0), TICK_RED);
  return c.pixels();
}

std::vector<FXColor> badgePixels() {
  const double centre = BADGE_SIZE / 2.0;
  Canvas c(BADGE_SIZE, BADGE_SIZE);
  c.fill([=](double x, double y) { return circle(x, y, centre, centre, 8.0); }, FXRGB(128, 128, 128));
  c.fill([=](double x, double y) { return circle(x, y, centre, centre, 6.8); }, FXRGB(255, 255, 255));
  c.fill(tick(4.9, 8.8, 7.5, 11.5, 12.2, 5.6, 1.15), TICK_RED);
  return c.pixels();
}

void blendOver(FXColor* dst, FXint dstWidth, FXint dstHeight, const std::vector<FXColor>& src,
               FXint srcWidth, FXint srcHeight, FXint x, FXint y) {
  for (FXint sy = 0; sy < srcHeight; sy++) {
    FXint dy = y + sy;
    if (dy < 0 || dy >= dstHeight) continue;
    for (FXint sx = 0; sx < srcWidth; sx++) {
      FXint dx = x + sx;
      if (dx < 0 || dx >= dstWidth) continue;
      FXColor s = src[sy * srcWidth + sx];
      FXuint a = FXALPHAVAL(s);
      if (a == 0) continue;
      FXColor& d = dst[dy * dstWidth + dx];
      auto over = [a](FXuint sv, FXuint dv) { return (FXuchar)((sv * a + dv * (255 - a) + 127) / 255); };
      d = FXRGB(over(FXREDVAL(s), FXREDVAL(d)), over(FXGREENVAL(s), FXGREENVAL(d)),
                over(FXBLUEVAL(s), FXBLUEVAL(d)));
    }
  }
}

FXIcon* makeIcon(FXApp* app, const std::vector<FXColor>& pixels, FXint w, FXint h) {
  FXIcon* icon = new FXIcon(app, nullptr, 0, IMAGE_OWNED | IMAGE_OPAQUE | IMAGE_KEEP, w, h);
  memcpy(icon->getData(), pixels.data(), sizeof(FXColor) * w * h);
  return icon;
}

}  // namespace ChooserIcons
