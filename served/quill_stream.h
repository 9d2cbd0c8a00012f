// Reading Quill's state from an IBStream (component and controller alike).
#pragma once

#include "pluginterfaces/base/ibstream.h"
#include "quill_state.h"

namespace Quill {

// Reads exactly `size` bytes; a short read is a failure.
inline bool readExactly (Steinberg::IBStream* stream, void* buffer, Steinberg::int32 size)
{
	Steinberg::int32 got = 0;
	return stream->read (buffer, size, &got) == Steinberg::kResultOk && got == size;
}

// Reads the header, then as many payload bytes as its version calls for.
inline bool readState (Steinberg::IBStream* stream, QuillParams& params)
{
	if (!stream)
		return false;
	std::uint8_t bytes[kStateSize] = {};
	if (!readExactly (stream, bytes, kStateHeaderSize))
		return false;
	const std::size_t payload = statePayloadSize (bytes, kStateHeaderSize);
	if (payload == 0 || payload > kStateSize - kStateHeaderSize)
		return false;
	if (!readExactly (stream, bytes + kStateHeaderSize, static_cast<Steinberg::int32> (payload)))
		return false;
	return decodeState (bytes, kStateHeaderSize + payload, params);
}

} // namespace Quill
