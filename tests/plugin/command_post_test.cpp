// The command slot's two halves on one thread: the Linux side's poster and
// outpost's acknowledgement, driven step by step. A command that waits is
// never written over by a poster that gives up at its deadline, and an
// answer is read in the look that finds the command acknowledged.
#include "protocol/command_post.h"

#include <gtest/gtest.h>

#include <chrono>

namespace QuillMarlowTest {
namespace {

using Tandem::CommandTurn;

TEST (CommandPost, AWaitingCommandIsKeptUntilOutpostAcknowledgesIt)
{
	Tandem::UICommand ui {};
	Tandem::acknowledgeCommand (ui);
	auto visit = Tandem::slotVisit (ui);
	auto never = [] { return false; };
	const auto passed = std::chrono::steady_clock::now ();
	const auto soon = passed + std::chrono::seconds (5);

	ASSERT_EQ (Tandem::postWhenFree (visit, Tandem::commandOnly (Tandem::CommandCode::GetLatency), false, soon, false,
	                                 never, [] {}),
	           CommandTurn::Done);
	ASSERT_TRUE (Tandem::commandWaiting (ui));
	EXPECT_EQ (ui.command, static_cast<int32_t> (Tandem::CommandCode::GetLatency));

	// Another poster, past its deadline: it leaves the waiting command be,
	// unless it takes the slot anyway.
	EXPECT_EQ (Tandem::postWhenFree (visit, Tandem::commandOnly (Tandem::CommandCode::HideEditor), false, passed, false,
	                                 never, [] {}),
	           CommandTurn::Late);
	EXPECT_EQ (ui.command, static_cast<int32_t> (Tandem::CommandCode::GetLatency));
	EXPECT_EQ (Tandem::awaitAcknowledgement (visit, passed, never), CommandTurn::Late) << "not acknowledged yet";

	// outpost answers, then acknowledges; the poster reads the answer.
	ASSERT_TRUE (Tandem::commandWaiting (ui));
	ui.parentWindow = Tandem::packLatency (64, 128);
	Tandem::acknowledgeCommand (ui);
	EXPECT_FALSE (Tandem::commandWaiting (ui));
	uint64_t answer = 0;
	EXPECT_EQ (Tandem::awaitAcknowledgement (visit, passed, never,
	                                         [&] (Tandem::UICommand& slot, bool done) {
		                                         if (done)
			                                         answer = slot.parentWindow;
	                                         }),
	           CommandTurn::Done);
	EXPECT_EQ (Tandem::packedLatency (answer), 64u);

	// A slot that is gone is neither posted into nor waited on.
	auto gone = [] (auto&&) { return false; };
	EXPECT_EQ (
	    Tandem::postWhenFree (gone, Tandem::commandOnly (Tandem::CommandCode::Idle), false, soon, true, never, [] {}),
	    CommandTurn::Gone);
	EXPECT_EQ (Tandem::awaitAcknowledgement (gone, soon, never), CommandTurn::Gone);

	// Past the deadline, a poster that must post takes the slot.
	ui.processed.store (false);
	EXPECT_EQ (Tandem::postWhenFree (visit, Tandem::commandOnly (Tandem::CommandCode::Deactivate), false, passed, true,
	                                 never, [] {}),
	           CommandTurn::Done);
	EXPECT_EQ (ui.command, static_cast<int32_t> (Tandem::CommandCode::Deactivate));
}

} // namespace
} // namespace QuillMarlowTest
