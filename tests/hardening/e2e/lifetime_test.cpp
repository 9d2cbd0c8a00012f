// How outposts live with their host: asleep and cheap while no block
// comes, and gone with the shared file when the host dies.
#include "e2e_support.h"
#include "figures.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

class Lifetime : public ::testing::Test
{
protected:
	void SetUp () override { ASSERT_NE (module.factory (), nullptr) << "cannot load " << QM_BUNDLE_SO; }
	BundleModule module;
};

// Gone, or left as a zombie for whoever adopted it to reap.
bool ended (pid_t pid)
{
	const std::string state = statField (pid, 3);
	return state.empty () || state == "Z";
}

// A host that crashes never terminates its processors: their outposts see
// their parent go, remove the shared file and exit.
TEST_F (Lifetime, OutpostAndSharedFileGoWithAKilledHost)
{
	int out[2];
	ASSERT_EQ (::pipe (out), 0);
	const pid_t host = ::fork ();
	ASSERT_GE (host, 0);
	if (host == 0)
	{
		::dup2 (out[1], 1);
		::execl (QM_HOST, "qm_host", QM_BUNDLE_DIR, "--blocks", "20", "--hold", "1", nullptr);
		::_exit (127);
	}
	::close (out[1]);
	std::string printed;
	char buffer[256];
	for (ssize_t n;
	     printed.find ("holding\n") == std::string::npos && (n = ::read (out[0], buffer, sizeof buffer)) > 0;)
		printed.append (buffer, static_cast<size_t> (n));
	::close (out[0]);
	ASSERT_NE (printed.find ("holding"), std::string::npos) << printed;
	std::vector<OutpostProcess> outposts;
	for (const auto& o : runningOutposts ())
		if (statField (o.pid, 4) == std::to_string (host))
			outposts.push_back (o);
	ASSERT_EQ (outposts.size (), 1u) << "the host's own outpost";
	ASSERT_TRUE (fileExists (outposts[0].sharedFile));

	ASSERT_EQ (::kill (host, SIGKILL), 0);
	ASSERT_EQ (::waitpid (host, nullptr, 0), host);
	const auto killed = std::chrono::steady_clock::now ();
	const bool gone = waitFor ([&] { return ended (outposts[0].pid) && !fileExists (outposts[0].sharedFile); }, 2.0);
	const auto ms = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now () - killed);
	figures::report ("lifetime", "host killed with SIGKILL while its outpost runs",
	                 gone ? "outpost ended and shared file removed after " + std::to_string (ms.count ()) + " ms"
	                      : "outpost or shared file still there after 2 s");
	EXPECT_TRUE (gone) << "outpost " << outposts[0].pid << (ended (outposts[0].pid) ? " ended" : " still runs") << ", "
	                   << outposts[0].sharedFile << (fileExists (outposts[0].sharedFile) ? " still there" : " removed");
}

// With no blocks coming (transport stopped) an outpost costs next to
// nothing, and the first block after the silence is processed, not dry.
TEST_F (Lifetime, IdleOutpostSleepsAndTheNextBlockIsProcessed)
{
	Processor p (module.factory (), 1024);
	ASSERT_EQ (p.activate (true), kResultOk);
	StereoBlock block (1024);
	for (int b = 0; b < 20; ++b)
	{
		block.fill (b * 1024);
		p.process (block);
	}
	const auto outposts = runningOutposts ();
	ASSERT_EQ (outposts.size (), 1u);
	std::this_thread::sleep_for (std::chrono::milliseconds (500));
	const long before = cpuTicks ("/proc/" + std::to_string (outposts[0].pid) + "/stat");
	std::this_thread::sleep_for (std::chrono::seconds (2));
	const long used = cpuTicks ("/proc/" + std::to_string (outposts[0].pid) + "/stat") - before;
	EXPECT_LE (used, ::sysconf (_SC_CLK_TCK) * 2 / 20) << "more than 5% of a core while idle";

	block.fill (20 * 1024);
	EXPECT_EQ (p.process (block), kResultOk);
	EXPECT_FALSE (block.passedThrough ()) << "the block after the silence came back dry";
	figures::report ("lifetime", "activated outpost, no blocks for 2 s, then one 1024-sample block",
	                 std::to_string (100.0 * used / ::sysconf (_SC_CLK_TCK) / 2.0) +
	                     "% of a core while idle; the block " +
	                     (block.passedThrough () ? "came back dry" : "was processed"));
}

} // namespace
} // namespace e2e
