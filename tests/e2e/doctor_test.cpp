// `quillmarlow doctor` as a new user runs it: on a system with Wine and a
// prefix it finds nothing that stops the bridge and starts outpost under
// Wine; without a prefix it says so as a problem and exits with 1.
#include "e2e_support.h"

#include <gmock/gmock.h>

#include <sys/wait.h>

namespace e2e {
namespace {

using ::testing::HasSubstr;

struct DoctorRun
{
	int code;
	std::string output;
};

DoctorRun doctor (const std::string& prefix)
{
	const std::string empty = "/tmp/qm_doctor_" + std::to_string (::getpid ());
	::mkdir (empty.c_str (), 0700);
	const std::string command =
	    "WINEPREFIX='" + prefix + "' " + QUILLMARLOW + " doctor --vst3-dir '" + empty + "' 2>&1 </dev/null";
	std::string out;
	FILE* pipe = ::popen (command.c_str (), "r");
	char buffer[4096];
	while (pipe && std::fgets (buffer, sizeof buffer, pipe))
		out += buffer;
	const int status = pipe ? ::pclose (pipe) : -1;
	::rmdir (empty.c_str ());
	return {WIFEXITED (status) ? WEXITSTATUS (status) : -1, out};
}

TEST (Doctor, ExitsZeroWithAPrefixAndNamesTheMissingPrefixAsAProblem)
{
	DoctorRun r = doctor (WINE_TEST_PREFIX);
	EXPECT_EQ (r.code, 0) << r.output;
	EXPECT_THAT (r.output, HasSubstr ("ok       Wine prefix " WINE_TEST_PREFIX " (64-bit)"));
	EXPECT_THAT (r.output, HasSubstr ("ok       test start: outpost served the test plug-in Quill under Wine ("));
	EXPECT_THAT (r.output, ::testing::Not (HasSubstr ("problem")));

	r = doctor ("/nonexistent/qm-doctor-prefix");
	EXPECT_EQ (r.code, 1) << r.output;
	EXPECT_THAT (r.output, HasSubstr ("problem  no Wine prefix at /nonexistent/qm-doctor-prefix: create it with "
	                                  "`wineboot -i`"));
	EXPECT_THAT (r.output, HasSubstr ("The bridge cannot work until the problems above are solved."));
}

} // namespace
} // namespace e2e
