// Texts of a made bundle's record (UTF-8) into VST 3's UTF-16 fields.
#pragma once

#include "pluginterfaces/base/ftypes.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace Steinberg {
namespace QuillMarlow {

// UTF-8 into UTF-16 (invalid bytes become U+FFFD), cut to the field.
inline void copyUtf16 (char16* field, size_t size, const std::string& text)
{
	std::u16string out;
	for (size_t i = 0; i < text.size ();)
	{
		const unsigned char c = static_cast<unsigned char> (text[i]);
		const int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
		char32_t code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
		bool valid = length > 0 && i + length <= text.size ();
		for (int k = 1; valid && k < length; ++k)
		{
			const unsigned char next = static_cast<unsigned char> (text[i + k]);
			valid = (next & 0xC0) == 0x80;
			code = (code << 6) | (next & 0x3F);
		}
		if (!valid || code > 0x10FFFF)
		{
			out += u'\uFFFD';
			++i;
			continue;
		}
		if (code >= 0x10000)
		{
			out += static_cast<char16_t> (0xD800 + ((code - 0x10000) >> 10));
			out += static_cast<char16_t> (0xDC00 + ((code - 0x10000) & 0x3FF));
		}
		else
			out += static_cast<char16_t> (code);
		i += length;
	}
	size_t n = std::min (out.size (), size - 1);
	if (n > 0 && n < out.size () && (out[n - 1] & 0xFC00) == 0xD800)
		--n;
	std::memset (field, 0, size * sizeof (char16));
	std::memcpy (field, out.data (), n * sizeof (char16));
}

} // namespace QuillMarlow
} // namespace Steinberg
