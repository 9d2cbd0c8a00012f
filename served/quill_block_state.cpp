#include "quill_block_state.h"

#include "pluginterfaces/base/ibstream.h"

using namespace Steinberg;

namespace Quill {

namespace {

// JUCE's reading of a stream it cannot size: blocks of 4096 bytes, each kept
// only when the read said kResultTrue.
std::vector<std::uint8_t> readInBlocks (IBStream* stream)
{
	std::vector<std::uint8_t> all;
	std::uint8_t block[kBlockStateReadSize];
	for (;;)
	{
		int32 got = 0;
		const tresult status = stream->read (block, kBlockStateReadSize, &got);
		if (got <= 0 || status != kResultTrue)
			break;
		all.insert (all.end (), block, block + got);
	}
	return all;
}

// JUCE's reading of a stream that tells its size: one read of that size.
bool readBySize (IBStream* stream, std::vector<std::uint8_t>& bytes)
{
	FUnknown* unknown = stream;
	ISizeableStream* sizeable = nullptr;
	if (unknown->queryInterface (ISizeableStream::iid, reinterpret_cast<void**> (&sizeable)) != kResultOk || !sizeable)
		return false;
	int64 size = 0;
	const bool sized = sizeable->getStreamSize (size) == kResultOk && size > 0 && size < 100 * 1024 * 1024;
	sizeable->release ();
	if (!sized)
		return false;
	bytes.resize (static_cast<std::size_t> (size));
	int32 got = 0;
	if (stream->read (bytes.data (), static_cast<int32> (size), &got) != kResultOk || got <= 0)
		return false;
	bytes.resize (static_cast<std::size_t> (got));
	return true;
}

bool writeAll (IBStream* stream, const std::vector<std::uint8_t>& bytes)
{
	if (bytes.empty ())
		return true;
	int32 written = 0;
	return stream->write (const_cast<std::uint8_t*> (bytes.data ()), static_cast<int32> (bytes.size ()), &written) ==
	           kResultOk &&
	       written == static_cast<int32> (bytes.size ());
}

} // namespace

tresult PLUGIN_API BlockStateProcessor::setState (IBStream* state)
{
	if (!state || state->seek (0, IBStream::kIBSeekSet, nullptr) != kResultTrue)
		return kResultFalse;
	std::vector<std::uint8_t> bytes;
	if (!readBySize (state, bytes))
	{
		state->seek (0, IBStream::kIBSeekSet, nullptr);
		bytes = readInBlocks (state);
	}
	QuillParams params {};
	if (!wholeLength (bytes, kStateSize) || !decodeState (bytes.data (), bytes.size (), params))
		return kResultFalse;
	applyParameter (kGainId, params.gain);
	applyParameter (kToneId, params.tone);
	size_ = bytes.size ();
	return kResultOk;
}

tresult PLUGIN_API BlockStateProcessor::getState (IBStream* state)
{
	if (!state)
		return kInvalidArgument;
	return writeAll (state, blockComponentState (currentParams (), size_)) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API BlockStateController::setState (IBStream* state)
{
	if (!state)
		return kInvalidArgument;
	std::vector<std::uint8_t> bytes = readInBlocks (state);
	if (!wholeLength (bytes, 0))
		return kResultFalse;
	own_ = std::move (bytes);
	return kResultOk;
}

tresult PLUGIN_API BlockStateController::getState (IBStream* state)
{
	if (!state)
		return kInvalidArgument;
	return writeAll (state, own_) ? kResultOk : kResultFalse;
}

} // namespace Quill
