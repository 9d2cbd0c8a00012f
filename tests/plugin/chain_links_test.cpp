// Which instance runs right behind another on the same host thread.
#include "plugin/chain_links.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace QuillMarlowTest {
namespace {

using Steinberg::QuillMarlow::ChainLinks::Turn;

bool follows (std::int32_t id, std::int64_t periodNs)
{
	const Turn turn (id, periodNs);
	return turn.followsAnother ();
}

// Long periods where a block must count as following (only a thread held
// up for seconds could miss), a tiny one where it must not.
constexpr std::int64_t kLong = 10'000'000'000, kTiny = 4;

TEST (ChainLinks, OnlyABlockRightBehindAnotherInstanceOnTheSameThreadFollows)
{
	std::thread ([] {
		EXPECT_FALSE (follows (901, kTiny)) << "the first block on a thread";
		EXPECT_TRUE (follows (902, kLong));
		EXPECT_TRUE (follows (903, kLong));
		EXPECT_FALSE (follows (903, kLong)) << "the same instance again";
		EXPECT_TRUE (follows (901, kLong)) << "the next cycle's first block, with a long gap allowed";
		// The start of a cycle: the last instance ended a quarter period ago or more.
		std::this_thread::sleep_for (std::chrono::milliseconds (2));
		EXPECT_FALSE (follows (902, 4'000'000));
		// Another thread keeps its own order.
		std::thread ([] { EXPECT_FALSE (follows (904, kTiny)); }).join ();
		EXPECT_TRUE (follows (903, kLong)) << "behind 902 on this thread";
		// Blocks without a period (no sample rate yet, empty blocks) take no part.
		EXPECT_FALSE (follows (904, 0));
		EXPECT_TRUE (follows (901, kLong)) << "behind 903: the one without a period left no trace";
	}).join ();
}

} // namespace
} // namespace QuillMarlowTest
