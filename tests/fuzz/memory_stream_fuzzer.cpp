// outpost's MemoryStream driven by arbitrary sequences of read, write, seek
// and tell, checked against a plain model of a byte file with a 32-bit
// position: same results, same bytes, same position after every step.
#include "memory_stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace Steinberg;

struct Model
{
	std::vector<std::uint8_t> data;
	std::int64_t position = 0;
};

void fail (const char* what, size_t step)
{
	std::fprintf (stderr, "memory_stream_fuzzer: step %zu: %s\n", step, what);
	std::abort ();
}

// Reads a little-endian value of `bytes` bytes, as far as the input goes.
std::int64_t take (const std::uint8_t*& p, const std::uint8_t* end, int bytes)
{
	std::uint64_t v = 0;
	for (int i = 0; i < bytes && p < end; ++i, ++p)
		v |= static_cast<std::uint64_t> (*p) << (8 * i);
	if (bytes < 8 && (v >> (8 * bytes - 1)) & 1)
		v |= ~std::uint64_t {0} << (8 * bytes); // sign-extend
	return static_cast<std::int64_t> (v);
}

// Writes stay below this position, so that a test case never asks for
// gigabytes (the stream refuses writes that would end past 2^31 - 1; that
// edge is probed with writes of a size near it instead).
constexpr std::int64_t kWriteLimit = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* input, size_t size)
{
	auto* stream = new Tandem::MemoryStream ();
	Model model;
	const std::uint8_t* p = input;
	const std::uint8_t* end = input + size;
	std::vector<std::uint8_t> buffer;
	for (size_t step = 0; p < end; ++step)
	{
		const std::uint8_t op = *p++;
		switch (op % 4)
		{
		case 0:
		{ // read
			const auto n = static_cast<int32> (take (p, end, op & 0x80 ? 4 : 2));
			buffer.assign (n > 0 ? std::min<int32> (n, 1 << 16) : 0, 0xee);
			const int32 asked = n > 0 ? std::min<int32> (n, 1 << 16) : n;
			int32 got = -1;
			const tresult r = stream->read (buffer.empty () ? nullptr : buffer.data (), asked, &got);
			const std::int64_t size64 = static_cast<std::int64_t> (model.data.size ());
			const std::int64_t available = model.position < size64 ? size64 - model.position : 0;
			const std::int64_t expected = asked <= 0 ? 0 : std::min<std::int64_t> (asked, available);
			if (got != expected)
				fail ("read count", step);
			if (r != kResultOk)
				fail ("read result", step);
			if (expected > 0 && std::memcmp (buffer.data (), model.data.data () + model.position, expected) != 0)
				fail ("read bytes", step);
			model.position += expected;
			break;
		}
		case 1:
		{ // write
			const auto n = static_cast<int32> (take (p, end, 2) & 0x7fff);
			if (model.position + n > kWriteLimit)
				break;
			buffer.assign (static_cast<size_t> (n), static_cast<std::uint8_t> (op));
			int32 written = -1;
			const tresult r = stream->write (buffer.data (), n, &written);
			if (r != kResultOk || written != n)
				fail ("write", step);
			if (n > 0 && model.position + n > static_cast<std::int64_t> (model.data.size ()))
				model.data.resize (static_cast<size_t> (model.position + n), 0);
			if (n > 0)
				std::memcpy (model.data.data () + model.position, buffer.data (), n);
			model.position += n;
			break;
		}
		case 2:
		{                                            // seek
			const std::int32_t mode = (op >> 2) % 4; // 3 is not a mode: no move
			const std::int64_t pos = take (p, end, op & 0x80 ? 8 : 3);
			int64 result = -1;
			if (stream->seek (pos, mode, &result) != kResultOk)
				fail ("seek result", step);
			const std::int64_t bound = std::int64_t {1} << 40;
			const std::int64_t clamped = std::max (-bound, std::min (bound, pos));
			std::int64_t target = model.position;
			if (mode == IBStream::kIBSeekSet)
				target = clamped;
			else if (mode == IBStream::kIBSeekCur)
				target = model.position + clamped;
			else if (mode == IBStream::kIBSeekEnd)
				target = static_cast<std::int64_t> (model.data.size ()) + clamped;
			target =
			    std::max<std::int64_t> (0, std::min<std::int64_t> (target, std::numeric_limits<std::int32_t>::max ()));
			model.position = target;
			if (result != target)
				fail ("seek position", step);
			break;
		}
		default:
		{ // tell, and a write that would pass the 32-bit position
			int64 pos = -1;
			if (stream->tell (&pos) != kResultOk || pos != model.position)
				fail ("tell", step);
			if ((op & 0x80) && model.position > 0)
			{
				std::uint8_t byte = 0;
				int32 written = -1;
				const int32 huge = std::numeric_limits<int32>::max ();
				const tresult r = stream->write (&byte, huge, &written);
				// Refused whole unless it fits, which it never does here.
				if (r == kResultOk || written != 0)
					fail ("an oversized write was not refused", step);
			}
			break;
		}
		}
		if (stream->data () != model.data)
			fail ("contents differ", step);
	}
	stream->release ();
	return 0;
}
