#include "memory_stream.h"

#include <cstring>
#include <limits>
#include <new>

using namespace Steinberg;

namespace Tandem {

tresult PLUGIN_API MemoryStream::read (void* buffer, int32 numBytes, int32* numBytesRead)
{
	// A position at or beyond the end has nothing available.
	const std::int64_t size = static_cast<std::int64_t> (data_.size ());
	const std::int64_t available = position_ < size ? size - position_ : 0;
	std::int64_t n = numBytes < available ? numBytes : available;
	if (n < 0)
		n = 0;
	if (n > 0 && !buffer)
	{
		if (numBytesRead)
			*numBytesRead = 0;
		return kInvalidArgument;
	}
	if (n > 0)
	{
		std::memcpy (buffer, data_.data () + position_, static_cast<std::size_t> (n));
		position_ += static_cast<std::int32_t> (n);
	}
	if (numBytesRead)
		*numBytesRead = static_cast<int32> (n);
	// A short read, or one at the end, is no failure: the count tells.
	return kResultOk;
}

tresult PLUGIN_API MemoryStream::write (void* buffer, int32 numBytes, int32* numBytesWritten)
{
	if (numBytes > 0)
	{
		if (!buffer)
		{
			if (numBytesWritten)
				*numBytesWritten = 0;
			return kInvalidArgument;
		}
		// The position is 32-bit: a write that would end beyond its range is
		// refused whole rather than wrapped.
		const std::int64_t end = static_cast<std::int64_t> (position_) + numBytes;
		if (end > std::numeric_limits<std::int32_t>::max ())
		{
			if (numBytesWritten)
				*numBytesWritten = 0;
			return kResultFalse;
		}
		if (end > static_cast<std::int64_t> (data_.size ()))
		{
			try
			{
				data_.resize (static_cast<std::size_t> (end), 0); // a gap after a seek reads as zeros
			}
			catch (const std::bad_alloc&)
			{
				if (numBytesWritten)
					*numBytesWritten = 0;
				return kOutOfMemory;
			}
		}
		std::memcpy (data_.data () + position_, buffer, static_cast<std::size_t> (numBytes));
		position_ = static_cast<std::int32_t> (end);
	}
	if (numBytesWritten)
		*numBytesWritten = numBytes;
	return kResultOk;
}

tresult PLUGIN_API MemoryStream::seek (int64 pos, int32 mode, int64* result)
{
	// Bounded first so that adding it to a position or size cannot overflow.
	const std::int64_t bound = std::int64_t {1} << 40;
	if (pos > bound)
		pos = bound;
	if (pos < -bound)
		pos = -bound;
	std::int64_t target = position_;
	switch (mode)
	{
	case kIBSeekSet:
		target = pos;
		break;
	case kIBSeekCur:
		target = static_cast<std::int64_t> (position_) + pos;
		break;
	case kIBSeekEnd:
		target = static_cast<std::int64_t> (data_.size ()) + pos;
		break;
	default:
		break;
	}
	// Below 0 clamps to 0; the 32-bit position never wraps.
	if (target < 0)
		target = 0;
	if (target > std::numeric_limits<std::int32_t>::max ())
		target = std::numeric_limits<std::int32_t>::max ();
	position_ = static_cast<std::int32_t> (target);
	if (result)
		*result = position_;
	return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell (int64* pos)
{
	if (pos)
		*pos = position_;
	return kResultOk;
}

tresult PLUGIN_API MemoryStream::getStreamSize (int64& size)
{
	size = static_cast<int64> (data_.size ());
	return kResultOk;
}

tresult PLUGIN_API MemoryStream::setStreamSize (int64 size)
{
	// The same bounds as a write: a 32-bit position reaches every byte.
	if (size < 0)
		return kInvalidArgument;
	if (size > std::numeric_limits<std::int32_t>::max ())
		return kResultFalse;
	try
	{
		data_.resize (static_cast<std::size_t> (size), 0);
	}
	catch (const std::bad_alloc&)
	{
		return kOutOfMemory;
	}
	return kResultOk;
}

} // namespace Tandem
