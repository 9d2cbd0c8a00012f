// MemoryStream and HostApplication: the byte stream the plug-in's state
// travels in, and the host context's name and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host_application.h"
#include "memory_stream.h"
#include "pluginterfaces/base/ibstream.h"
#include "test_output.h"

using namespace Steinberg;
using Tandem::HostApplication;
using Tandem::MemoryStream;

namespace {

MemoryStream* streamWith (std::vector<std::uint8_t> bytes)
{
	auto* stream = new MemoryStream;
	stream->data () = std::move (bytes);
	return stream;
}

} // namespace

// As the SDK's stream and hosts' do: plug-ins made with JUCE stop reading
// at the first result other than kResultTrue, before keeping what it gave.
TEST (MemoryStreamRead, ShortReadCopiesWhatIsThereAndSucceeds)
{
	MemoryStream* stream = streamWith ({1, 2, 3, 4});
	std::uint8_t buffer[10] = {};
	int32 got = -1;
	EXPECT_EQ (stream->read (buffer, 10, &got), kResultOk);
	EXPECT_EQ (got, 4);
	EXPECT_EQ (std::memcmp (buffer, "\1\2\3\4", 4), 0);
	int64 position = -1;
	stream->tell (&position);
	EXPECT_EQ (position, 4);
	EXPECT_EQ (stream->read (buffer, 1, &got), kResultOk);
	EXPECT_EQ (got, 0);
	stream->release ();
}

TEST (MemoryStreamRead, ExactlyTheRemainingBytesIsOk)
{
	MemoryStream* stream = streamWith ({9, 8, 7});
	std::uint8_t buffer[3];
	int32 got = 0;
	stream->seek (1, IBStream::kIBSeekSet, nullptr);
	EXPECT_EQ (stream->read (buffer, 2, &got), kResultOk);
	EXPECT_EQ (got, 2);
	EXPECT_EQ (buffer[1], 7);
	stream->release ();
}

TEST (MemoryStreamWrite, TwoWritesThenSeekAndReadBack)
{
	auto* stream = new MemoryStream;
	std::uint8_t a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
	int32 written = 0;
	EXPECT_EQ (stream->write (a, 3, &written), kResultOk);
	EXPECT_EQ (written, 3);
	EXPECT_EQ (stream->write (b, 3, &written), kResultOk);
	int64 position = 0;
	stream->tell (&position);
	EXPECT_EQ (position, 6);
	EXPECT_EQ (stream->data ().size (), 6u);
	stream->seek (0, IBStream::kIBSeekSet, &position);
	EXPECT_EQ (position, 0);
	std::uint8_t back[6] = {};
	EXPECT_EQ (stream->read (back, 6, &written), kResultOk);
	EXPECT_EQ (std::memcmp (back, "\1\2\3\4\5\6", 6), 0);
	stream->release ();
}

TEST (MemoryStreamSeek, OutsideTheDataIsSafe)
{
	MemoryStream* stream = streamWith ({1, 2, 3, 4});
	int64 position = 0;
	// Below zero clamps to the start.
	stream->seek (-10, IBStream::kIBSeekCur, &position);
	EXPECT_EQ (position, 0);
	stream->seek (-1, IBStream::kIBSeekEnd, &position);
	EXPECT_EQ (position, 3);
	// Beyond the end reads nothing...
	stream->seek (10, IBStream::kIBSeekSet, &position);
	EXPECT_EQ (position, 10);
	std::uint8_t buffer[4] = {};
	int32 got = -1;
	EXPECT_EQ (stream->read (buffer, 4, &got), kResultOk);
	EXPECT_EQ (got, 0);
	// ...and a write there fills the gap with zeros.
	std::uint8_t x = 0xAB;
	EXPECT_EQ (stream->write (&x, 1, &got), kResultOk);
	EXPECT_EQ (stream->data (), (std::vector<std::uint8_t> {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0xAB}));
	// A 64-bit offset does not wrap the 32-bit position, and an unknown
	// mode leaves it alone.
	stream->seek (int64 {1} << 32, IBStream::kIBSeekSet, &position);
	EXPECT_EQ (position, 0x7FFFFFFF);
	stream->seek (2, IBStream::kIBSeekSet, nullptr);
	stream->seek (5, 7, &position);
	EXPECT_EQ (position, 2);
	// Writing past the 32-bit range is refused, not wrapped.
	stream->seek (0x7FFFFFFF, IBStream::kIBSeekSet, nullptr);
	EXPECT_EQ (stream->write (&x, 1, &got), kResultFalse);
	EXPECT_EQ (got, 0);
	stream->release ();
}

TEST (MemoryStreamInterfaces, AnswersIBStreamAndISizeableStreamWhichTellsAndSetsTheSize)
{
	MemoryStream* stream = streamWith ({1, 2, 3, 4, 5});
	void* obj = reinterpret_cast<void*> (1);
	EXPECT_EQ (stream->queryInterface (IBStream::iid, &obj), kResultOk);
	EXPECT_EQ (obj, static_cast<void*> (static_cast<IBStream*> (stream)));
	ASSERT_EQ (stream->queryInterface (ISizeableStream::iid, &obj), kResultOk);
	auto* sizeable = static_cast<ISizeableStream*> (obj);
	int64 size = 0;
	EXPECT_EQ (sizeable->getStreamSize (size), kResultOk);
	EXPECT_EQ (size, 5);
	EXPECT_EQ (sizeable->setStreamSize (2), kResultOk);
	EXPECT_EQ (stream->data (), (std::vector<std::uint8_t> {1, 2}));
	EXPECT_EQ (sizeable->setStreamSize (-1), kInvalidArgument);
	EXPECT_EQ (sizeable->setStreamSize (int64 {1} << 32), kResultFalse);
	EXPECT_EQ (stream->addRef (), 4u); // 1 own + 2 from queryInterface + this one
	EXPECT_EQ (sizeable->release (), 3u);
	EXPECT_EQ (stream->release (), 2u);
	EXPECT_EQ (stream->release (), 1u);
	EXPECT_EQ (stream->release (), 0u);
}

TEST (HostApplicationName, FillsAPrefilledString128)
{
	auto* host = new HostApplication;
	Vst::String128 name;
	for (auto& unit : name)
		unit = 0x5A5A;
	const Captured log = captureOutput ([&] { EXPECT_EQ (host->getName (name), kResultOk); });
	const char16 expected[] = {'T', 'a', 'n', 'd', 'e', 'm', 0};
	EXPECT_EQ (std::memcmp (name, expected, sizeof expected), 0);
	EXPECT_EQ (name[127], 0);
	EXPECT_EQ (name[7], 0x5A5A); // nothing written past the terminator but the last unit
	EXPECT_TRUE (log.hasOut ("[HostApplication] getName() called, returning: Tandem"));
	EXPECT_EQ (host->release (), 0u);
}

TEST (HostApplicationObjects, RefusesToCreateInstancesAndForeignInterfaces)
{
	auto* host = new HostApplication;
	void* obj = reinterpret_cast<void*> (1);
	TUID cid = {}, iid = {};
	const Captured log = captureOutput ([&] { EXPECT_EQ (host->createInstance (cid, iid, &obj), kNotImplemented); });
	EXPECT_EQ (obj, nullptr);
	EXPECT_TRUE (log.hasOut ("[HostApplication] createInstance() called (not implemented)"));
	EXPECT_EQ (host->queryInterface (IBStream::iid, &obj), kNoInterface);
	EXPECT_EQ (host->queryInterface (Vst::IHostApplication::iid, &obj), kResultOk);
	EXPECT_EQ (obj, static_cast<void*> (host));
	EXPECT_EQ (host->release (), 1u);
	EXPECT_EQ (host->release (), 0u);
}
