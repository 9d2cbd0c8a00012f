// Quill's texts in VST 3's UTF-16 strings: its own are ASCII.
#pragma once

#include <cstring>

#include "pluginterfaces/vst/vsttypes.h"

namespace Quill {

// `text` into a String128, cut to 127 characters and ended.
inline void toString128 (const char* text, Steinberg::Vst::String128 out)
{
	int i = 0;
	for (; text[i] && i < 127; ++i)
		out[i] = static_cast<Steinberg::Vst::TChar> (static_cast<unsigned char> (text[i]));
	out[i] = 0;
}

// A host's text as ASCII (anything else becomes a space), cut and ended.
inline void toNarrow (const Steinberg::Vst::TChar* text, char (&out)[64])
{
	std::memset (out, 0, sizeof out);
	for (int i = 0; i < 63 && text[i]; ++i)
		out[i] = text[i] < 128 ? static_cast<char> (text[i]) : ' ';
}

} // namespace Quill
