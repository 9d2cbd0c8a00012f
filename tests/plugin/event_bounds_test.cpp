// The event exchange against what the other process (or a host, or a served
// plug-in) may hand it: over-full blocks, a 10 MB SysEx, texts longer than
// the room or without an end, events outside their block or on buses that do
// not exist, and records another process scribbled over.
#include "protocol/block_events.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

Event note (int32 offset, int16 pitch)
{
	Event e {};
	e.sampleOffset = offset;
	e.type = Event::kNoteOnEvent;
	e.noteOn.pitch = pitch;
	return e;
}

TEST (EventBounds, TheWriterKeepsOrderUpToTheLimitAndDropsWhatDoesNotFitWhole)
{
	auto block = std::make_unique<Tandem::EventBlock> ();
	Tandem::EventWriter writer (*block, 64, 1);
	for (int32 i = 0; i < 3000; ++i)
		writer.add (note (i % 64, static_cast<int16> (i % 128)));
	EXPECT_EQ (writer.count (), Tandem::kMaxEvents);
	EXPECT_EQ (writer.cuts.full, 3000 - Tandem::kMaxEvents);

	writer.restart (*block, 64, 1);
	std::vector<uint8> huge (10 * 1024 * 1024, 0x42);
	Event sysex {};
	sysex.type = Event::kDataEvent;
	sysex.data = {static_cast<uint32> (huge.size ()), DataEvent::kMidiSysEx, huge.data ()};
	EXPECT_FALSE (writer.add (sysex)) << "a 10 MB SysEx is dropped whole";
	const TChar word[] = u"ok";
	Event text {};
	text.type = Event::kNoteExpressionTextEvent;
	text.noteExpressionText = {0, 1, 0xFFFFFFFFu, word};
	EXPECT_FALSE (writer.add (text)) << "a text longer than the room";
	text.noteExpressionText.textLen = 2;
	EXPECT_TRUE (writer.add (text));
	EXPECT_FALSE (writer.add (note (64, 60))) << "outside the block";
	EXPECT_FALSE (writer.add (note (-1, 60)));
	Event elsewhere = note (0, 60);
	elsewhere.busIndex = 1;
	EXPECT_FALSE (writer.add (elsewhere)) << "a bus that does not exist";
	Event unknown = note (0, 60);
	unknown.type = 99;
	EXPECT_FALSE (writer.add (unknown));
	writer.finish ();
	EXPECT_EQ (writer.cuts.tooLarge, 2);
	EXPECT_EQ (writer.cuts.outside, 2);
	EXPECT_EQ (writer.cuts.noBus, 1);
	EXPECT_EQ (writer.cuts.malformed, 1);
	EXPECT_EQ (block->count, 1);
}

TEST (EventBounds, TheReaderTrustsNoCountOffsetOrTextFromTheFile)
{
	auto block = std::make_unique<Tandem::EventBlock> ();
	auto scratch = std::make_unique<uint8[]> (Tandem::kMaxEventBytes);
	Tandem::EventWriter writer (*block, 64, 2);
	const TChar word[] = u"legato";
	Event text {};
	text.type = Event::kNoteExpressionTextEvent;
	text.noteExpressionText = {0, 1, 6, word};
	writer.add (text);
	writer.add (note (10, 60));
	Event second = note (20, 61);
	second.busIndex = 1;
	writer.add (second);
	writer.finish ();

	// The text's end overwritten in the file: the copy handed on still ends.
	block->bytes[12] = block->bytes[13] = 'x';
	auto list = std::make_unique<Event[]> (Tandem::kMaxEvents);
	Tandem::EventCuts cuts;
	EXPECT_EQ (Tandem::readEvents (*block, 64, 2, scratch.get (), list.get (), cuts), 3);
	EXPECT_EQ (list[0].noteExpressionText.text[6], 0);

	// A reader with one bus, a shorter block, a count beyond the array and a
	// text pointing past the bytes: nothing outside is handed on.
	block->count = 1 << 30;
	const uint64 beyond = Tandem::kMaxEventBytes;
	std::memcpy (block->records[0] + 40, &beyond, sizeof beyond);
	cuts = {};
	// (The zeroed records beyond are well-formed notes at the block's start.)
	EXPECT_EQ (Tandem::readEvents (*block, 16, 1, scratch.get (), list.get (), cuts), 1 + Tandem::kMaxEvents - 3);
	EXPECT_EQ (cuts.malformed, 1) << "the text";
	EXPECT_EQ (cuts.noBus, 1);
	EXPECT_EQ (list[0].sampleOffset, 10);
}

} // namespace
