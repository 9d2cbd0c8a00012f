// A class id as text: 32 hex digits, the way FUID writes it, the same on
// every platform whatever the byte order of its TUID. What the Linux side
// records and passes to outpost to name a class.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>

#include "pluginterfaces/base/funknown.h"

namespace Tandem {

inline std::string classIdText (const Steinberg::TUID cid)
{
	const Steinberg::FUID id = Steinberg::FUID::fromTUID (cid);
	char text[40];
	std::snprintf (text, sizeof text, "%08X%08X%08X%08X", static_cast<unsigned> (id.getLong1 ()),
	               static_cast<unsigned> (id.getLong2 ()), static_cast<unsigned> (id.getLong3 ()),
	               static_cast<unsigned> (id.getLong4 ()));
	return text;
}

inline bool sameClassId (const std::string& a, const std::string& b)
{
	if (a.size () != b.size ())
		return false;
	for (size_t i = 0; i < a.size (); ++i)
		if (std::toupper (static_cast<unsigned char> (a[i])) != std::toupper (static_cast<unsigned char> (b[i])))
			return false;
	return true;
}

} // namespace Tandem
