// The processor's setState fed an arbitrary host stream. The stream hands
// out the input in chunks whose sizes the input also chooses (hosts read
// projects from files, sockets and archives), and may fail a read. Whatever
// setState accepts must come back from getState byte for byte (outpost is
// not running, so the last known state is what getState saves), and the
// shared file must hold it too.
#include "fuzz_support.h"
#include "plugin/processor.h"

#include "pluginterfaces/base/ibstream.h"
#include "public.sdk/source/common/memorystream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

namespace {

using namespace Steinberg;

class ChunkedStream : public IBStream
{
public:
	ChunkedStream (const std::uint8_t* data, size_t size, std::uint8_t chunking)
	: data_ (data), size_ (size), chunking_ (chunking)
	{
	}
	tresult PLUGIN_API queryInterface (const TUID, void** obj) override
	{
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
	{
		++reads_;
		if (numBytesRead)
			*numBytesRead = 0;
		if ((chunking_ & 0x80) && reads_ == 2)
			return kResultFalse; // a failing source
		size_t n = numBytes < 0 ? 0 : static_cast<size_t> (numBytes);
		if (chunking_ & 0x40)
			n = std::min<size_t> (n, (chunking_ & 0x3f) + 1); // short reads
		n = std::min (n, size_ - position_);
		std::memcpy (buffer, data_ + position_, n);
		position_ += n;
		if (numBytesRead)
			*numBytesRead = static_cast<int32> (n);
		return n == static_cast<size_t> (numBytes) ? kResultOk : kResultFalse;
	}
	tresult PLUGIN_API write (void*, int32, int32*) override { return kNotImplemented; }
	tresult PLUGIN_API seek (int64, int32, int64*) override { return kNotImplemented; }
	tresult PLUGIN_API tell (int64* pos) override
	{
		if (pos)
			*pos = static_cast<int64> (position_);
		return kResultOk;
	}

private:
	const std::uint8_t* data_;
	size_t size_;
	size_t position_ = 0;
	std::uint8_t chunking_;
	int reads_ = 0;
};

class Processor : public QuillMarlow::QuillMarlowProcessor
{
public:
	using QuillMarlowProcessor::initSharedMemory;
	using QuillMarlowProcessor::sharedMemory;

protected:
	// No outpost ever comes: a start fails at once instead of running Wine
	// (which would first make a prefix in the user's home).
	void adjustOutpostConfig (Tandem::OutpostConfig& config) override { config.winePath = "/nonexistent/wine"; }
};

Processor* processor ()
{
	static Processor* p = [] {
		auto* created = new Processor ();
		created->initialize (nullptr);
		// Mapped but with no outpost: setState writes the file and caches.
		if (!created->initSharedMemory ())
			std::abort ();
		// The run ends with exit(): the processor then removes its file.
		std::atexit ([] {
			processor ()->terminate ();
			processor ()->release ();
		});
		return created;
	}();
	return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
	if (size < 1)
		return 0;
	Processor* p = processor ();
	std::vector<std::uint8_t> before;
	{
		MemoryStream saved;
		if (p->getState (&saved) == kResultOk)
			before.assign (reinterpret_cast<const std::uint8_t*> (saved.getData ()),
			               reinterpret_cast<const std::uint8_t*> (saved.getData ()) + saved.getSize ());
	}

	ChunkedStream stream (data + 1, size - 1, data[0]);
	const tresult accepted = p->setState (&stream);

	MemoryStream saved;
	const tresult got = p->getState (&saved);
	const auto* bytes = reinterpret_cast<const std::uint8_t*> (saved.getData ());
	const std::vector<std::uint8_t> after (bytes, bytes + saved.getSize ());
	if (accepted == kResultOk)
	{
		// The stream's first 4 + n bytes, exactly.
		if (got != kResultOk || after.size () < 5 || after.size () > size - 1 ||
		    std::memcmp (after.data (), data + 1, after.size ()) != 0)
			fail ("an accepted state does not come back as given");
		const Tandem::StateData* state = p->sharedMemory ().stateData ();
		if (state->stateSize != static_cast<std::int32_t> (after.size () - 4) ||
		    std::memcmp (state->stateBuffer, after.data () + 4, after.size () - 4) != 0)
			fail ("the shared file does not hold the accepted state");
	}
	else if (after != before)
		fail ("a refused state changed what getState saves");
	return 0;
}
