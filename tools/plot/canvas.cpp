// The chart canvas: a cairo image surface and its PNG file.
#include "canvas.h"

namespace plot {

Colour paletteColour (int n)
{
	static const Colour kPalette[] = {{40, 90, 200},  {210, 60, 40},  {40, 150, 70},   {230, 140, 20},
	                                  {130, 60, 170}, {20, 150, 160}, {120, 120, 120}, {190, 80, 150}};
	constexpr int kCount = sizeof (kPalette) / sizeof (kPalette[0]);
	return kPalette[((n % kCount) + kCount) % kCount];
}

Canvas::Canvas (int width, int height)
: width_ (width), height_ (height), surface_ (cairo_image_surface_create (CAIRO_FORMAT_RGB24, width, height)),
  cairo_ (cairo_create (surface_))
{
	cairo_set_source_rgb (cairo_, 1, 1, 1);
	cairo_paint (cairo_);
}

Canvas::~Canvas ()
{
	cairo_destroy (cairo_);
	cairo_surface_destroy (surface_);
}

bool Canvas::writePng (const std::string& path) const
{
	cairo_surface_flush (surface_);
	return cairo_surface_write_to_png (surface_, path.c_str ()) == CAIRO_STATUS_SUCCESS;
}

} // namespace plot
