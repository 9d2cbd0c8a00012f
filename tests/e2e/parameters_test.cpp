// The host drives the served plug-in's parameters: a Quill with the kinds
// of parameters hosts meet (served/quill_parameters.h) is listed, converted,
// automated, metered, edited and bypassed through the bridge exactly as the
// served controller and processor do it themselves; a plug-in that floods
// the host (served/quill_flood.h) is cut without the host waiting.
#include "hosted_pair.h"

#include "quill_parameters_ids.h"

#include "pluginterfaces/vst/ivstunits.h"

#include <gmock/gmock.h>

namespace e2e {
namespace {

TEST (Parameters, TheListStringsUnitsAndValuesAreTheServedControllersBeforeActivation)
{
	Hosted h (QUILL_PARAMETERS_BUNDLE);
	ASSERT_EQ (h.c->getParameterCount (), static_cast<int32> (Quill::kParametersCount));
	for (int32 i = 0; i < static_cast<int32> (Quill::kParametersCount); ++i)
	{
		Vst::ParameterInfo info {};
		ASSERT_EQ (h.c->getParameterInfo (i, info), kResultOk);
		const Quill::ParametersInfo& served = Quill::kParametersInfo[i];
		EXPECT_EQ (info.id, static_cast<Vst::ParamID> (i));
		EXPECT_EQ (text (info.title), served.title);
		EXPECT_EQ (text (info.shortTitle), served.shortTitle);
		EXPECT_EQ (text (info.units), served.units);
		EXPECT_EQ (info.stepCount, served.stepCount);
		EXPECT_EQ (info.defaultNormalizedValue, served.defaultValue);
		EXPECT_EQ (info.flags, served.flags) << served.title;
		EXPECT_EQ (info.unitId, served.unitId);
		EXPECT_EQ (h.c->getParamNormalized (i), served.defaultValue);
	}

	// Strings: of the current value (published), and of any other (asked).
	Vst::String128 s {};
	ASSERT_EQ (h.c->getParamStringByValue (Quill::kParamMode, 0.0, s), kResultOk);
	EXPECT_EQ (text (s), "Soft");
	ASSERT_EQ (h.c->getParamStringByValue (Quill::kParamMode, 1.0, s), kResultOk);
	EXPECT_EQ (text (s), "Hard");
	Vst::ParamValue value = 0.0;
	const Vst::TChar warm[] = {'W', 'a', 'r', 'm', 0};
	ASSERT_EQ (h.c->getParamValueByString (Quill::kParamMode, const_cast<Vst::TChar*> (warm), value), kResultOk);
	EXPECT_EQ (value, 0.5);
	EXPECT_NEAR (h.c->normalizedParamToPlain (Quill::kParamTone, 0.5), Quill::parametersToneHz (0.5), 1e-9);
	EXPECT_NEAR (h.c->plainParamToNormalized (Quill::kParamTone, Quill::parametersToneHz (0.25)), 0.25, 1e-9);

	// Units and the program list behind Program.
	Vst::IUnitInfo* units = nullptr;
	ASSERT_EQ (h.c->queryInterface (Vst::IUnitInfo::iid, reinterpret_cast<void**> (&units)), kResultOk);
	ASSERT_EQ (units->getUnitCount (), 2);
	Vst::UnitInfo unit {};
	ASSERT_EQ (units->getUnitInfo (1, unit), kResultOk);
	EXPECT_EQ (unit.id, Quill::kCharacterUnit);
	EXPECT_EQ (text (unit.name), Quill::kCharacterUnitName);
	EXPECT_EQ (unit.programListId, Quill::kCharacterProgramList);
	ASSERT_EQ (units->getProgramListCount (), 1);
	Vst::ProgramListInfo list {};
	ASSERT_EQ (units->getProgramListInfo (0, list), kResultOk);
	EXPECT_EQ (list.programCount, Quill::kCharacterProgramCount);
	ASSERT_EQ (units->getProgramName (Quill::kCharacterProgramList, 2, s), kResultOk);
	EXPECT_EQ (text (s), "Dark");
	units->release ();

	// A value the host sets is the served controller's, and stays it.
	ASSERT_EQ (h.c->setParamNormalized (Quill::kParamTone, 0.25), kResultOk);
	EXPECT_EQ (h.c->getParamNormalized (Quill::kParamTone), 0.25);
	ASSERT_EQ (h.c->getParamStringByValue (Quill::kParamTone, 0.25, s), kResultOk);
	EXPECT_EQ (text (s), std::to_string (static_cast<int> (std::lround (Quill::parametersToneHz (0.25)))));
	std::this_thread::sleep_for (std::chrono::milliseconds (200));
	EXPECT_EQ (h.c->getParamNormalized (Quill::kParamTone), 0.25);
}

TEST (Parameters, AutomationStepsAtItsOffsetMetersComeBackAndBypassIsTheServedOne)
{
	Hosted h (QUILL_PARAMETERS_BUNDLE);
	h.start ();
	StereoBlock block (kBlock);
	HostParameterChanges in, out;
	in.add (Quill::kParamGain, 0, 0.25);
	in.add (Quill::kParamGain, 100, 0.5);
	ASSERT_TRUE (waitFor ([&] { return h.process (block, &in, &out); }, 10.0));
	for (int i = 0; i < kBlock; ++i)
		ASSERT_EQ (block.out[0][i], block.in[0][i] * (i < 100 ? 0.25f : 0.5f)) << "sample " << i;
	Vst::ParamValue meter = 0.0;
	ASSERT_TRUE (out.last (Quill::kParamMeter, meter)) << "the meter comes back in the same block";
	EXPECT_EQ (meter, static_cast<double> (block.in[0][kBlock - 1]));

	// The host's bypass switches the served plug-in's own.
	in.clear ();
	in.add (Quill::kParamBypass, 0, 1.0);
	ASSERT_TRUE (h.process (block, &in));
	EXPECT_EQ (block.out[0], block.in[0]);
	in.clear ();
	in.add (Quill::kParamBypass, 0, 0.0);
	ASSERT_TRUE (h.process (block, &in));
	EXPECT_EQ (block.out[0][kBlock - 1], block.in[0][kBlock - 1] * 0.5f);
}

TEST (Parameters, AnEditReachesTheHostOnceAndTheSoundFollowsTheHost)
{
	Hosted h (QUILL_PARAMETERS_BUNDLE);
	h.start ();
	StereoBlock block (kBlock);
	ASSERT_TRUE (waitFor ([&] { return h.process (block, nullptr); }, 10.0));

	// A drag in the served editor, in order, once.
	ASSERT_EQ (h.c->setParamNormalized (Quill::kParamEdit, 1.0), kResultOk);
	const std::vector<std::string> drag = {
	    "group start", "begin 0", "perform 0 0.250000", "perform 0 0.500000", "end 0", "group end", "dirty"};
	ASSERT_TRUE (h.passEditsUntil ([&] { return h.handler.calls.size () >= drag.size (); }));
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	h.c->passEdits ();
	EXPECT_EQ (h.handler.calls, drag);
	EXPECT_EQ (h.c->getParamNormalized (Quill::kParamGain), Quill::kEditDragLast);

	// A host that does not send the edit back still hears it in the sound.
	ASSERT_TRUE (waitFor (
	    [&] {
		    h.process (block, nullptr);
		    return block.out[0][0] == block.in[0][0] * 0.5f;
	    },
	    5.0));

	// Playing automation, the host drives: an edit meanwhile does not
	// override it, then or later.
	h.handler.calls.clear ();
	HostParameterChanges automation;
	automation.add (Quill::kParamGain, 0, 0.75);
	ASSERT_EQ (h.c->setParamNormalized (Quill::kParamEdit, 1.0), kResultOk);
	const auto until = std::chrono::steady_clock::now () + std::chrono::milliseconds (400);
	while (std::chrono::steady_clock::now () < until)
	{
		h.c->passEdits ();
		h.process (block, &automation);
		std::this_thread::sleep_for (std::chrono::milliseconds (5));
	}
	EXPECT_EQ (h.handler.calls, drag) << "the host heard the edit";
	ASSERT_TRUE (h.process (block, &automation));
	EXPECT_EQ (block.out[0][0], block.in[0][0] * 0.75f);
}

TEST (Parameters, AListOrValuesTheServedPlugInChangesReachTheHost)
{
	Hosted h (QUILL_PARAMETERS_BUNDLE);
	ASSERT_EQ (h.c->getParameterCount (), static_cast<int32> (Quill::kParametersCount));
	const std::string restart = "restart " + std::to_string (Vst::kParamTitlesChanged);
	auto restarted = [&] {
		return std::find (h.handler.calls.begin (), h.handler.calls.end (), restart) != h.handler.calls.end ();
	};
	auto gainTitle = [&] {
		Vst::ParameterInfo info {};
		EXPECT_EQ (h.c->getParameterInfo (Quill::kParamGain, info), kResultOk);
		return text (info.title);
	};

	// The plug-in says so.
	ASSERT_EQ (h.c->setParamNormalized (Quill::kParamMode, 1.0), kResultOk);
	ASSERT_TRUE (h.passEditsUntil (restarted));
	EXPECT_EQ (gainTitle (), Quill::kDriveTitle) << "the host reads the new list";

	// A project load: the processor's state, then the controller's; the host
	// reads the loaded values and the list they bring, at once.
	h.handler.calls.clear ();
	double values[Quill::kParametersCount] = {};
	values[Quill::kParamGain] = 0.3;
	values[Quill::kParamMode] = 0.0;
	uint8 bytes[Quill::kParametersStateSize] = {};
	Quill::encodeParametersState (values, bytes);
	MemoryStream stream;
	const uint8 size[4] = {static_cast<uint8> (sizeof bytes), 0, 0, 0};
	stream.write (const_cast<uint8*> (size), 4, nullptr);
	stream.write (bytes, sizeof bytes, nullptr);
	stream.seek (0, IBStream::kIBSeekSet, nullptr);
	ASSERT_EQ (h.p->setState (&stream), kResultOk);
	stream.seek (0, IBStream::kIBSeekSet, nullptr);
	ASSERT_EQ (h.c->setComponentState (&stream), kResultOk);
	EXPECT_TRUE (restarted ());
	EXPECT_EQ (gainTitle (), Quill::kParametersInfo[Quill::kParamGain].title);
	EXPECT_EQ (h.c->getParamNormalized (Quill::kParamGain), 0.3);
	EXPECT_EQ (h.c->getParamNormalized (Quill::kParamMode), 0.0);
}

TEST (Parameters, AFloodingPlugInIsCutAndAConversionThatNeverReturnsDoesNotHoldTheHost)
{
	Hosted h (QUILL_FLOOD_BUNDLE);
	ASSERT_EQ (h.c->getParameterCount (), Tandem::kMaxParameters);
	Vst::ParameterInfo info {};
	ASSERT_EQ (h.c->getParameterInfo (Tandem::kMaxParameters - 1, info), kResultOk);
	EXPECT_EQ (text (info.title), std::string (127, 'P')) << "ended within its array";

	Vst::String128 s {};
	const auto asked = std::chrono::steady_clock::now ();
	EXPECT_NE (h.c->getParamStringByValue (1, Quill::kFloodHangValue, s), kResultOk);
	EXPECT_NE (h.c->getParamStringByValue (1, 0.25, s), kResultOk) << "outpost is still stuck";
	EXPECT_LT (std::chrono::steady_clock::now () - asked, std::chrono::milliseconds (500));
	// What outpost published still answers.
	ASSERT_EQ (h.c->getParamStringByValue (1, 0.5, s), kResultOk);
	EXPECT_EQ (text (s), "0.50");
}

} // namespace
} // namespace e2e
