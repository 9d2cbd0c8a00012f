// Test variant: Quill reading its states as plug-ins made with JUCE do. Its
// component reads a state by the size the stream tells (ISizeableStream) and
// otherwise in blocks of 4096 bytes, stopping at the first result other than
// kResultTrue before keeping that block; its controller keeps a state of its
// own (as an editor keeps its page and zoom) and reads it in such blocks
// always. Both states carry their own length, so a state that lost its end
// is refused, as such a plug-in's parser would.
//
// The component's state: Quill's (quill_state.h), then its whole length as
// a little-endian uint32, then filler bytes up to that length (68 bytes until
// the host sets another). The controller's: its length, then filler; empty
// until the host sets one.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "quill_controller.h"
#include "quill_processor.h"
#include "quill_state.h"

namespace Quill {

constexpr std::size_t kBlockStateDefaultSize = 68;
constexpr std::int32_t kBlockStateReadSize = 4096;

inline std::uint8_t blockStateFiller (std::size_t index)
{
	return static_cast<std::uint8_t> (index * 7 + 3);
}

// Writes `length` into `bytes` at `at` and fills the rest after it.
inline void stampLength (std::vector<std::uint8_t>& bytes, std::size_t at)
{
	const auto length = static_cast<std::uint32_t> (bytes.size ());
	std::memcpy (bytes.data () + at, &length, 4);
	for (std::size_t i = at + 4; i < bytes.size (); ++i)
		bytes[i] = blockStateFiller (i);
}

// A component state of `size` bytes (at least kStateSize + 4) with Quill's values.
inline std::vector<std::uint8_t> blockComponentState (const QuillParams& params, std::size_t size)
{
	std::vector<std::uint8_t> bytes (size);
	std::uint8_t quill[kStateSize];
	encodeState (params, quill);
	std::memcpy (bytes.data (), quill, kStateSize);
	stampLength (bytes, kStateSize);
	return bytes;
}

// A controller state of `size` bytes (at least 4).
inline std::vector<std::uint8_t> blockControllerState (std::size_t size)
{
	std::vector<std::uint8_t> bytes (size);
	stampLength (bytes, 0);
	return bytes;
}

// Whether `bytes` holds the whole length it says it has, at `at`.
inline bool wholeLength (const std::vector<std::uint8_t>& bytes, std::size_t at)
{
	if (bytes.size () < at + 4)
		return false;
	std::uint32_t length = 0;
	std::memcpy (&length, bytes.data () + at, 4);
	return length == bytes.size ();
}

class BlockStateProcessor : public QuillProcessor
{
public:
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;

private:
	// The size of the state it was last given; main thread only.
	std::size_t size_ = kBlockStateDefaultSize;
};

class BlockStateController : public QuillController
{
public:
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;

private:
	std::vector<std::uint8_t> own_;
};

} // namespace Quill
