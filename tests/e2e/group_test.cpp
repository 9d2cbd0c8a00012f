// Instances of a Windows plug-in share its statics when they share a
// process, as every instance of a Windows host does. Quill Census
// (served/quill_census.h) counts its instances in such a static, and each
// instance reports the count of its own process: alone, each instance's
// outpost holds it only; grouped (QUILLMARLOW_GROUP naming one group for
// both), the two share one outpost and count each other.
#include "hosted_pair.h"

#include "outpost/class_id.h"
#include "quill_census_ids.h"

#include <cstdlib>

namespace e2e {
namespace {

// QUILLMARLOW_GROUP while a test's instances are made, and unset after.
class GroupVariable
{
public:
	explicit GroupVariable (const char* group)
	{
		if (group)
			::setenv ("QUILLMARLOW_GROUP", group, 1);
		else
			::unsetenv ("QUILLMARLOW_GROUP");
	}
	~GroupVariable () { ::unsetenv ("QUILLMARLOW_GROUP"); }
	GroupVariable (const GroupVariable&) = delete;
	GroupVariable& operator= (const GroupVariable&) = delete;
};

// The count an "Instances" value stands for.
long instances (Vst::ParamValue normalized)
{
	return std::lround (normalized * Quill::kCensusSteps);
}

class Group : public ::testing::TestWithParam<bool>
{};

TEST_P (Group, EachInstanceCountsTheInstancesOfItsProcess)
{
	const bool grouped = GetParam ();
	GroupVariable variable (grouped ? "census" : nullptr);
	const long expected = grouped ? 2 : 1;
	const std::string census = Tandem::classIdText (Quill::kCensusUID.toTUID ());
	Hosted first (QUILL_CENSUS_BUNDLE, census), second (QUILL_CENSUS_BUNDLE, census);
	for (Hosted* h : {&first, &second})
	{
		// The served controller's value, as outpost publishes it.
		EXPECT_TRUE (
		    waitFor ([&] { return instances (h->c->getParamNormalized (Quill::kInstancesId)) == expected; }, 30.0))
		    << "the controller says " << instances (h->c->getParamNormalized (Quill::kInstancesId));
		// The count the served processor sends back with a block.
		h->start (Vst::kOffline);
		StereoBlock block (kBlock);
		HostParameterChanges out;
		Vst::ParamValue sent = -1.0;
		EXPECT_TRUE (waitFor (
		    [&] {
			    out.clear ();
			    if (h->process (block, nullptr, &out))
				    out.last (Quill::kInstancesId, sent);
			    return instances (sent) == expected;
		    },
		    10.0))
		    << "the processor sent " << instances (sent);
	}
}

INSTANTIATE_TEST_SUITE_P (Census, Group, ::testing::Values (false, true),
                          [] (const ::testing::TestParamInfo<bool>& info) { return info.param ? "Grouped" : "Alone"; });

} // namespace
} // namespace e2e
