// The served controller's edits through outpost's component handler, against
// a mocked one-object plug-in: they reach the processor with the next block
// (or a 0-sample process() call when no block comes), and the values the
// processor reports reach the controller on the main thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "fake_plugin.h"
#include "plugin_instance.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "protocol/tandem_protocol.h"
#include "test_output.h"

using namespace testing;
using namespace fake;
using Tandem::kMaxBlockSize;
using Tandem::kMaxChannels;
using Tandem::PluginInstance;

namespace {

// What one process() call saw: its sample count and the last value of each
// changed parameter, with the number of points.
struct SeenCall
{
	int32 numSamples;
	int32 numInputs;
	std::map<ParamID, std::pair<int32, ParamValue>> changes;
};

class InstanceParameters : public Test
{
protected:
	void SetUp () override
	{
		component.single = true;
		factory.addClass ('A', "Audio Module Class", "Proc");
		factory.serveClasses ();
		ON_CALL (factory, createInstance (_, _, _)).WillByDefault (Invoke ([this] (FIDString, FIDString, void** obj) {
			component.addRef ();
			*obj = static_cast<IComponent*> (&component);
			return kResultOk;
		}));
		ON_CALL (component, initialize (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, getParameterCount ()).WillByDefault (Return (3));
		ON_CALL (component, setupProcessing (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, setComponentHandler (_)).WillByDefault (Invoke ([this] (IComponentHandler* h) {
			handler = h;
			return kResultOk;
		}));
		// The processor records the changes it got and, in its first block,
		// reports parameter 9.
		ON_CALL (component, process (_)).WillByDefault (Invoke ([this] (ProcessData& data) {
			SeenCall call {data.numSamples, data.numInputs, {}};
			IParameterChanges* in = data.inputParameterChanges;
			for (int32 i = 0; in && i < in->getParameterCount (); ++i)
			{
				IParamValueQueue* q = in->getParameterData (i);
				int32 offset = 0;
				ParamValue value = 0;
				q->getPoint (q->getPointCount () - 1, offset, value);
				call.changes[q->getParameterId ()] = {q->getPointCount (), value};
			}
			seen.push_back (call);
			if (data.outputParameterChanges && data.numSamples > 0 && seen.size () == 1)
			{
				int32 index = 0, point = 0;
				IParamValueQueue* out = data.outputParameterChanges->addParameterData (9, index);
				out->addPoint (10, 0.4, point);
				out->addPoint (0, 0.3, point);
			}
			return kResultOk;
		}));
		captureOutput ([&] {
			instance = std::make_unique<PluginInstance> (&factory);
			ASSERT_TRUE (instance->createInstance ());
			ASSERT_TRUE (instance->setupAudio (48000.0, kMaxBlockSize));
		});
		ASSERT_NE (handler, nullptr);
	}
	void TearDown () override
	{
		captureOutput ([&] { instance.reset (); });
	}
	void block ()
	{
		captureOutput ([&] { instance->processAudio (input.data (), output.data (), 64, 2); });
	}

	NiceMock<MockFactory> factory;
	NiceMock<MockComponent> component;
	std::unique_ptr<PluginInstance> instance;
	IComponentHandler* handler = nullptr;
	std::vector<SeenCall> seen;
	std::vector<float> input = std::vector<float> (kMaxChannels * kMaxBlockSize, 0.25f);
	std::vector<float> output = std::vector<float> (kMaxChannels * kMaxBlockSize);
};

} // namespace

TEST_F (InstanceParameters, EditsReachTheNextBlockAndReportedValuesReachTheController)
{
	captureOutput ([&] {
		handler->beginEdit (1);
		handler->performEdit (1, 0.2);
		handler->performEdit (1, 0.7);
		handler->performEdit (2, 0.1);
		handler->endEdit (1);
	});
	EXPECT_TRUE (instance->hasPendingEdits ());
	block ();
	block ();
	ASSERT_EQ (seen.size (), 2u);
	EXPECT_EQ (seen[0].changes.size (), 2u);
	EXPECT_EQ (seen[0].changes[1], std::make_pair (int32 {1}, 0.7));
	EXPECT_EQ (seen[0].changes[2], std::make_pair (int32 {1}, 0.1));
	EXPECT_TRUE (seen[1].changes.empty ()) << "an edit is delivered once";
	EXPECT_FALSE (instance->hasPendingEdits ());

	// Only the last value the processor reported, and only on the main thread.
	EXPECT_CALL (component, setParamNormalized (9, 0.4)).Times (1);
	instance->serviceParameters ();
	EXPECT_CALL (component, setParamNormalized (_, _)).Times (0);
	instance->serviceParameters ();
}

TEST_F (InstanceParameters, WithoutBlocksAFlushDeliversPendingEditsInAZeroSampleCall)
{
	EXPECT_TRUE (instance->flushParameterChanges ()) << "nothing pending: nothing to call";
	EXPECT_TRUE (seen.empty ());
	captureOutput ([&] { handler->performEdit (2, 0.9); });
	EXPECT_TRUE (instance->flushParameterChanges ());
	ASSERT_EQ (seen.size (), 1u);
	EXPECT_EQ (seen[0].numSamples, 0);
	EXPECT_EQ (seen[0].numInputs, 0);
	EXPECT_EQ (seen[0].changes[2], std::make_pair (int32 {1}, 0.9));
	EXPECT_FALSE (instance->hasPendingEdits ());
}
