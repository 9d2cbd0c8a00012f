// PluginInstance state save and restore against a mocked component and
// controller.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "plugin_instance.h"
#include "protocol/tandem_protocol.h"
#include "test_output.h"

using namespace testing;
using namespace fake;
using Tandem::PluginInstance;

namespace {

class InstanceState : public Test
{
protected:
	void SetUp () override
	{
		factory.addClass ('A', "Audio Module Class", "Proc");
		factory.addClass ('C', "Component Controller Class", "Ctrl");
		factory.serveClasses ();
		ON_CALL (factory, createInstance (_, _, _))
		    .WillByDefault (Invoke ([this] (FIDString cid, FIDString, void** obj) -> tresult {
			    if (isClass (cid, 'C'))
			    {
				    if (!withController)
					    return kResultFalse;
				    controller.addRef ();
				    *obj = static_cast<IEditController*> (&controller);
			    }
			    else
			    {
				    component.addRef ();
				    *obj = static_cast<IComponent*> (&component);
			    }
			    return kResultOk;
		    }));
		ON_CALL (component, initialize (_)).WillByDefault (Return (kResultOk));
		ON_CALL (controller, initialize (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, setState (_)).WillByDefault (Return (kResultOk));
		ON_CALL (controller, setComponentState (_)).WillByDefault (Return (kResultOk));
	}
	void create ()
	{
		captureOutput ([&] {
			instance = std::make_unique<PluginInstance> (&factory);
			ASSERT_TRUE (instance->createInstance ());
		});
	}
	void TearDown () override
	{
		captureOutput ([&] { instance.reset (); });
	}

	bool withController = true;
	NiceMock<MockFactory> factory;
	NiceMock<MockComponent> component;
	NiceMock<MockController> controller;
	std::unique_ptr<PluginInstance> instance;
};

std::vector<std::uint8_t> pattern (std::size_t size)
{
	std::vector<std::uint8_t> bytes (size);
	for (std::size_t i = 0; i < size; ++i)
		bytes[i] = static_cast<std::uint8_t> (i * 31 + 7);
	return bytes;
}

} // namespace

TEST_F (InstanceState, StateOfExactlyTheCapacityIsReturnedWhole)
{
	create ();
	const std::vector<std::uint8_t> state = pattern (Tandem::kMaxStateSize);
	EXPECT_CALL (component, getState (_)).WillOnce (Invoke (writesState (state)));
	std::vector<std::uint8_t> buffer (Tandem::kMaxStateSize);
	std::int32_t size = 0;
	const Captured log =
	    captureOutput ([&] { size = instance->state ().getState (buffer.data (), Tandem::kMaxStateSize); });
	EXPECT_EQ (size, Tandem::kMaxStateSize);
	EXPECT_EQ (buffer, state);
	EXPECT_TRUE (log.hasOut ("[PluginInstance] State retrieved: 262144 bytes"));
}

TEST_F (InstanceState, StateOneByteOverTheCapacityIsRefusedUntouched)
{
	create ();
	EXPECT_CALL (component, getState (_)).WillOnce (Invoke (writesState (pattern (Tandem::kMaxStateSize + 1))));
	std::vector<std::uint8_t> buffer (Tandem::kMaxStateSize + 1, 0xEE);
	std::int32_t size = -1;
	const Captured log =
	    captureOutput ([&] { size = instance->state ().getState (buffer.data (), Tandem::kMaxStateSize); });
	EXPECT_EQ (size, 0);
	EXPECT_TRUE (log.hasErr ("[PluginInstance] State size invalid: 262145"));
	EXPECT_EQ (buffer[0], 0xEE);
}

TEST_F (InstanceState, EmptyOrRefusedStateYieldsZero)
{
	create ();
	std::vector<std::uint8_t> buffer (16);
	EXPECT_CALL (component, getState (_)).WillOnce (Invoke (writesState ({}))).WillOnce (Return (kResultFalse));
	Captured log = captureOutput ([&] { EXPECT_EQ (instance->state ().getState (buffer.data (), 16), 0); });
	EXPECT_TRUE (log.hasErr ("[PluginInstance] State size invalid: 0"));
	log = captureOutput ([&] { EXPECT_EQ (instance->state ().getState (buffer.data (), 16), 0); });
	EXPECT_TRUE (log.hasErr ("[PluginInstance] getState failed: 1"));
}

TEST_F (InstanceState, ControllerReadsTheSameBytesFromTheStart)
{
	create ();
	const std::vector<std::uint8_t> state = pattern (40);
	// The component stops reading half-way.
	EXPECT_CALL (component, setState (_)).WillOnce (Invoke ([] (IBStream* s) {
		std::uint8_t half[20];
		s->read (half, 20);
		return kResultOk;
	}));
	std::vector<std::uint8_t> seenByController;
	EXPECT_CALL (controller, setComponentState (_)).WillOnce (Invoke ([&] (IBStream* s) {
		seenByController = readAll (s);
		return kResultOk;
	}));
	const Captured log =
	    captureOutput ([&] { EXPECT_EQ (instance->state ().setState (state.data (), 40), kResultOk); });
	EXPECT_EQ (seenByController, state);
	EXPECT_TRUE (log.hasOut ("[PluginInstance] State restored: 40 bytes"));
}

// A refusal is the host's to hear; a controller without the call refuses nothing.
TEST_F (InstanceState, ControllerRefusalsAreReturnedUnlessNotImplemented)
{
	create ();
	const std::vector<std::uint8_t> state = pattern (8);
	EXPECT_CALL (controller, setComponentState (_))
	    .WillOnce (Return (kNotImplemented))
	    .WillOnce (Return (kResultFalse));
	Captured log = captureOutput ([&] { EXPECT_EQ (instance->state ().setState (state.data (), 8), kResultOk); });
	EXPECT_EQ (log.count ("controller->setComponentState returned"), 0);
	log = captureOutput ([&] { EXPECT_EQ (instance->state ().setState (state.data (), 8), kResultFalse); });
	EXPECT_TRUE (log.hasOut ("[PluginInstance] controller->setComponentState returned: 1"));
}

TEST_F (InstanceState, ComponentRefusalSkipsTheController)
{
	create ();
	const std::vector<std::uint8_t> state = pattern (8);
	EXPECT_CALL (component, setState (_)).WillOnce (Return (kResultFalse));
	EXPECT_CALL (controller, setComponentState (_)).Times (0);
	const Captured log =
	    captureOutput ([&] { EXPECT_EQ (instance->state ().setState (state.data (), 8), kResultFalse); });
	EXPECT_TRUE (log.hasErr ("[PluginInstance] component->setState failed: 1"));
}

TEST_F (InstanceState, WithoutControllerTheComponentIsStillRestored)
{
	withController = false;
	create ();
	ASSERT_EQ (instance->controller (), nullptr);
	const std::vector<std::uint8_t> state = pattern (8);
	std::vector<std::uint8_t> seenByComponent;
	EXPECT_CALL (component, setState (_)).WillOnce (Invoke ([&] (IBStream* s) {
		seenByComponent = readAll (s);
		return kResultOk;
	}));
	captureOutput ([&] { EXPECT_EQ (instance->state ().setState (state.data (), 8), kResultOk); });
	EXPECT_EQ (seenByComponent, state);
}

// The controller's own state, in and out; a controller without one (or one
// that refuses) is told apart from an empty one.
TEST_F (InstanceState, ControllerStateRoundTripsAndARefusalIsReturned)
{
	create ();
	const std::vector<std::uint8_t> state = pattern (10000);
	EXPECT_CALL (controller, getState (_))
	    .WillOnce (Invoke (writesState (state)))
	    .WillOnce (Return (kNotImplemented))
	    .WillOnce (Return (kInternalError));
	std::vector<std::uint8_t> buffer (Tandem::kMaxStateSize);
	std::int32_t size = -1;
	captureOutput ([&] {
		EXPECT_EQ (instance->state ().getControllerState (buffer.data (), Tandem::kMaxStateSize, size), kResultOk);
	});
	ASSERT_EQ (size, 10000);
	EXPECT_TRUE (std::equal (state.begin (), state.end (), buffer.begin ()));
	captureOutput ([&] {
		EXPECT_EQ (instance->state ().getControllerState (buffer.data (), Tandem::kMaxStateSize, size), kResultOk);
	});
	EXPECT_EQ (size, 0);
	const Captured failed = captureOutput ([&] {
		EXPECT_EQ (instance->state ().getControllerState (buffer.data (), Tandem::kMaxStateSize, size), kInternalError);
	});
	EXPECT_EQ (size, 0);
	EXPECT_TRUE (failed.hasErr ("[PluginInstance] controller->getState failed: " + std::to_string (kInternalError)));

	std::vector<std::uint8_t> seen;
	EXPECT_CALL (controller, setState (_))
	    .WillOnce (Invoke ([&] (IBStream* s) {
		    seen = readAll (s);
		    return kResultOk;
	    }))
	    .WillOnce (Return (kResultFalse));
	captureOutput ([&] { EXPECT_EQ (instance->state ().setControllerState (state.data (), 10000), kResultOk); });
	EXPECT_EQ (seen, state);
	const Captured refused =
	    captureOutput ([&] { EXPECT_EQ (instance->state ().setControllerState (state.data (), 10000), kResultFalse); });
	EXPECT_TRUE (refused.hasErr ("[PluginInstance] controller->setState failed: 1"));
}

TEST (InstanceStateWithoutComponent, ReportsMissingComponent)
{
	PluginInstance* instance = nullptr;
	const Captured log = captureOutput ([&] {
		instance = new PluginInstance (nullptr);
		std::uint8_t buffer[4];
		EXPECT_EQ (instance->state ().getState (buffer, 4), 0);
		EXPECT_EQ (instance->state ().setState (buffer, 4), kResultFalse);
		EXPECT_FALSE (instance->setupAudio (48000.0, 8192));
		delete instance;
	});
	EXPECT_TRUE (log.hasErr ("[PluginInstance] No component for getState"));
	EXPECT_TRUE (log.hasErr ("[PluginInstance] No component for setState"));
	EXPECT_TRUE (log.hasErr ("[PluginInstance] No component for audio setup"));
}
