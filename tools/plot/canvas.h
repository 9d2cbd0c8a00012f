// An RGB picture in memory: pixels, lines, rectangles, text in a built-in
// 5x7 bitmap font (scaled by whole numbers), and writing it as a PNG file.
#pragma once

#include <string>
#include <vector>

namespace plot {

struct Colour {
    unsigned char r, g, b;
};

constexpr Colour kBlack{0, 0, 0};
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kGrid{225, 225, 225};
constexpr Colour kDarkGrey{90, 90, 90};

// The n-th colour of a palette that stays tellable apart on white.
Colour paletteColour(int n);

class Canvas {
public:
    Canvas(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }

    // `opacity` 1 paints over, less mixes with what is there.
    void put(int x, int y, Colour c, double opacity = 1.0);
    void fillRect(int x, int y, int width, int height, Colour c, double opacity = 1.0);
    void rect(int x, int y, int width, int height, Colour c);
    // A line `thickness` pixels wide (a square pen).
    void line(int x0, int y0, int x1, int y1, Colour c, int thickness = 1, double opacity = 1.0);

    // Text with its top left corner at (x, y); glyphs are 5x7 pixels (and a
    // row for descenders), one pixel apart, each pixel `scale` wide.
    // Non-ASCII shows as '?'.
    void text(int x, int y, const std::string& s, Colour c, int scale = 2);
    // The same, read from bottom to top, its top left corner at (x, y).
    void verticalText(int x, int y, const std::string& s, Colour c, int scale = 2);
    static int textWidth(const std::string& s, int scale = 2) { return static_cast<int>(s.size()) * 6 * scale - scale; }
    static int textHeight(int scale = 2) { return 8 * scale; }

    bool writePng(const std::string& path) const;

private:
    int width_, height_;
    std::vector<unsigned char> rgb_;
};

}  // namespace plot
