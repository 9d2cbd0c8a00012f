// A white RGB picture in memory that cairo draws on, written as a PNG file.
#pragma once

#include <cairo.h>

#include <string>

namespace plot {

struct Colour
{
	unsigned char r, g, b;
};

constexpr Colour kBlack {0, 0, 0};
constexpr Colour kWhite {255, 255, 255};
constexpr Colour kGrid {225, 225, 225};
constexpr Colour kDarkGrey {90, 90, 90};

// The n-th colour of a palette that stays tellable apart on white.
Colour paletteColour (int n);

class Canvas
{
public:
	Canvas (int width, int height);
	~Canvas ();
	Canvas (const Canvas&) = delete;
	Canvas& operator= (const Canvas&) = delete;

	int width () const { return width_; }
	int height () const { return height_; }
	cairo_t* cairo () const { return cairo_; }

	bool writePng (const std::string& path) const;

private:
	int width_, height_;
	cairo_surface_t* surface_;
	cairo_t* cairo_;
};

} // namespace plot
