// Pixels, shapes and PNG output of the chart canvas.
#include "canvas.h"
#include "font.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>

namespace plot {

Colour paletteColour(int n) {
    static const Colour kPalette[] = {{40, 90, 200},  {210, 60, 40},  {40, 150, 70}, {230, 140, 20},
                                      {130, 60, 170}, {20, 150, 160}, {120, 120, 120}, {190, 80, 150}};
    constexpr int kCount = sizeof(kPalette) / sizeof(kPalette[0]);
    return kPalette[((n % kCount) + kCount) % kCount];
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), rgb_(static_cast<size_t>(width) * height * 3, 255) {}

void Canvas::put(int x, int y, Colour c, double opacity) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    unsigned char* p = &rgb_[(static_cast<size_t>(y) * width_ + x) * 3];
    const unsigned char v[] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) p[i] = static_cast<unsigned char>(p[i] + (v[i] - p[i]) * opacity + 0.5);
}

void Canvas::fillRect(int x, int y, int width, int height, Colour c, double opacity) {
    for (int j = y; j < y + height; ++j)
        for (int i = x; i < x + width; ++i) put(i, j, c, opacity);
}

void Canvas::rect(int x, int y, int width, int height, Colour c) {
    line(x, y, x + width - 1, y, c);
    line(x, y + height - 1, x + width - 1, y + height - 1, c);
    line(x, y, x, y + height - 1, c);
    line(x + width - 1, y, x + width - 1, y + height - 1, c);
}

void Canvas::line(int x0, int y0, int x1, int y1, Colour c, int thickness, double opacity) {
    // Bresenham; the pen is a square of `thickness` pixels from the point.
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        for (int j = 0; j < thickness; ++j)
            for (int i = 0; i < thickness; ++i) put(x0 + i, y0 + j, c, opacity);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * error;
        if (e2 >= dy) error += dy, x0 += sx;
        if (e2 <= dx) error += dx, y0 += sy;
    }
}

void Canvas::text(int x, int y, const std::string& s, Colour c, int scale) {
    for (size_t n = 0; n < s.size(); ++n) {
        const unsigned char* columns = glyph(s[n]);
        const int left = x + static_cast<int>(n) * 6 * scale;
        for (int col = 0; col < 5; ++col)
            for (int row = 0; row < 8; ++row)
                if (columns[col] & (1 << row)) fillRect(left + col * scale, y + row * scale, scale, scale, c);
    }
}

void Canvas::verticalText(int x, int y, const std::string& s, Colour c, int scale) {
    // Turned a quarter to the left: the string's start is at the bottom.
    const int length = textWidth(s, scale);
    for (size_t n = 0; n < s.size(); ++n) {
        const unsigned char* columns = glyph(s[n]);
        const int bottom = y + length - 1 - static_cast<int>(n) * 6 * scale;
        for (int col = 0; col < 5; ++col)
            for (int row = 0; row < 8; ++row)
                if (columns[col] & (1 << row))
                    fillRect(x + row * scale, bottom - (col + 1) * scale + 1, scale, scale, c);
    }
}

bool Canvas::writePng(const std::string& path) const {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width_);
    png.height = static_cast<png_uint_32>(height_);
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, rgb_.data(), 0, nullptr) != 0;
}

}  // namespace plot
