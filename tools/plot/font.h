// The chart module's built-in font: 5x7 pixel glyphs of printable ASCII,
// with descenders in an eighth row.
#pragma once

namespace plot {

// The 5 column bytes of `c`, bit 0 at the top row (bit 7 the descenders' row); '?' for characters
// outside printable ASCII.
const unsigned char* glyph(char c);

}  // namespace plot
