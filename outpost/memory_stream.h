// MemoryStream: an IBStream over a growable byte vector, through which the
// served plug-in's states are taken out and put back. It reads as the SDK's
// own stream and hosts' streams do: a read near the end copies what there
// is and still succeeds, and the stream tells its size (plug-ins made with
// JUCE read a stream they cannot size in blocks and drop the short last one
// otherwise).
#pragma once

#include <cstdint>
#include <vector>

#include "pluginterfaces/base/ibstream.h"
#include "sdk/ref_counted.h"

namespace Tandem {

class MemoryStream : public RefCounted<Steinberg::IBStream, Steinberg::ISizeableStream>
{
public:
	MemoryStream () = default;

	Steinberg::tresult PLUGIN_API read (void* buffer, Steinberg::int32 numBytes,
	                                    Steinberg::int32* numBytesRead = nullptr) override;
	Steinberg::tresult PLUGIN_API write (void* buffer, Steinberg::int32 numBytes,
	                                     Steinberg::int32* numBytesWritten = nullptr) override;
	Steinberg::tresult PLUGIN_API seek (Steinberg::int64 pos, Steinberg::int32 mode,
	                                    Steinberg::int64* result = nullptr) override;
	Steinberg::tresult PLUGIN_API tell (Steinberg::int64* pos) override;

	Steinberg::tresult PLUGIN_API getStreamSize (Steinberg::int64& size) override;
	Steinberg::tresult PLUGIN_API setStreamSize (Steinberg::int64 size) override;

	// Direct access for the owner: filled before handing the stream to the
	// plug-in, read after the plug-in wrote to it.
	std::vector<std::uint8_t>& data () { return data_; }
	const std::vector<std::uint8_t>& data () const { return data_; }
	void setPosition (std::int32_t position) { position_ = position < 0 ? 0 : position; }
	std::int32_t position () const { return position_; }

private:
	virtual ~MemoryStream () = default;

	std::vector<std::uint8_t> data_;
	std::int32_t position_ = 0;
};

} // namespace Tandem
