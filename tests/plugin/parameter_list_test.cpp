// The parameter list's two halves on one thread: what outpost publishes the
// Linux controller reads back whole, and a list whose writer stopped
// half-way (outpost died while publishing) is refused after a bounded
// number of tries, the host's thread not held.
#include "protocol/parameter_list.h"

#include <gtest/gtest.h>

#include <memory>

namespace QuillMarlowTest {
namespace {

TEST (ParameterList, APublishedListIsReadWholeAndAHalfWrittenOneIsRefused)
{
	auto region = std::make_unique<Tandem::ParameterData> ();
	Tandem::ParameterList& list = region->list;
	Tandem::ListCopy copy;
	EXPECT_FALSE (Tandem::copyParameterList (list, copy)) << "nothing published yet";

	Steinberg::Vst::ParameterInfo infos[2] {};
	infos[0].id = 7;
	infos[0].title[0] = u'G';
	infos[1].id = 9;
	Steinberg::Vst::UnitInfo unit {};
	unit.id = 1;
	Tandem::publishParameterList (list, 2, infos, 2, &unit, 1, nullptr, 0);
	ASSERT_TRUE (Tandem::copyParameterList (list, copy));
	ASSERT_EQ (copy.parameters.size (), 2u);
	EXPECT_EQ (copy.parameters[0].id, 7u);
	EXPECT_EQ (copy.parameters[0].title[0], u'G');
	EXPECT_EQ (copy.parameters[1].id, 9u);
	ASSERT_EQ (copy.units.size (), 1u);
	EXPECT_EQ (copy.units[0].id, 1);
	EXPECT_TRUE (copy.programLists.empty ());

	Steinberg::Vst::String128 text {u'-', u'6', u' ', u'd', u'B', 0};
	Tandem::publishParameterValue (region->values[1], 9, 0.25, text);
	Tandem::ValueCopy value {};
	ASSERT_TRUE (Tandem::readValueEntry (region->values[1], value));
	EXPECT_EQ (value.id, 9u);
	EXPECT_EQ (value.value, 0.25);
	EXPECT_EQ (value.text[1], u'6');

	// The writer began another list and never finished it.
	Tandem::beginSequencedWrite (list.sequence);
	list.count = 1;
	EXPECT_FALSE (Tandem::copyParameterList (list, copy));
	Tandem::beginSequencedWrite (region->values[1].sequence);
	EXPECT_FALSE (Tandem::readValueEntry (region->values[1], value));
}

} // namespace
} // namespace QuillMarlowTest
