// PluginInstance creation and teardown against mocked plug-in objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "fake_plugin.h"
#include "plugin_instance.h"
#include "test_output.h"

using namespace testing;
using namespace fake;
using Tandem::PluginInstance;

namespace {

const char kModule[] = "Audio Module Class";
const char kControllerClass[] = "Component Controller Class";

// A factory serving a component 'A' and a controller 'C', plus whatever a
// test adds. createInstance hands out the two mock objects.
class InstanceCreation : public Test
{
protected:
	void SetUp () override
	{
		factory.serveClasses ();
		ON_CALL (factory, createInstance (_, _, _))
		    .WillByDefault (Invoke ([this] (FIDString cid, FIDString iid, void** obj) -> tresult {
			    if (isClass (cid, 'C') && FUnknownPrivate::iidEqual (iid, IEditController::iid))
			    {
				    controller.addRef ();
				    *obj = static_cast<IEditController*> (&controller);
				    return kResultOk;
			    }
			    if (FUnknownPrivate::iidEqual (iid, IComponent::iid) && (isClass (cid, 'A') || isClass (cid, 'B')))
			    {
				    component.addRef ();
				    *obj = static_cast<IComponent*> (&component);
				    return kResultOk;
			    }
			    *obj = nullptr;
			    return kNoInterface;
		    }));
		ON_CALL (component, initialize (_)).WillByDefault (Return (kResultOk));
		ON_CALL (controller, initialize (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, getState (_)).WillByDefault (Invoke (writesState ({1, 2, 3})));
		ON_CALL (controller, setComponentState (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, connect (_)).WillByDefault (Return (kResultOk));
		ON_CALL (controller, connect (_)).WillByDefault (Return (kResultOk));
	}

	Captured create (bool expected = true)
	{
		bool created = !expected;
		const Captured log = captureOutput ([&] {
			instance = std::make_unique<PluginInstance> (&factory);
			created = instance->createInstance ();
		});
		EXPECT_EQ (created, expected) << log.out << log.err;
		return log;
	}

	void destroy ()
	{
		captureOutput ([&] { instance.reset (); });
	}

	NiceMock<MockFactory> factory;
	NiceMock<MockComponent> component;
	NiceMock<MockController> controller;
	std::unique_ptr<PluginInstance> instance;
};

} // namespace

TEST_F (InstanceCreation, TwoObjectsAreInitialisedSynchronisedAndConnectedBothWays)
{
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	FUnknown* componentContext = nullptr;
	FUnknown* controllerContext = nullptr;
	std::vector<std::uint8_t> synced;
	EXPECT_CALL (component, initialize (_)).WillOnce (DoAll (SaveArg<0> (&componentContext), Return (kResultOk)));
	EXPECT_CALL (controller, initialize (_)).WillOnce (DoAll (SaveArg<0> (&controllerContext), Return (kResultOk)));
	EXPECT_CALL (controller, setComponentState (_)).WillOnce (Invoke ([&] (IBStream* s) {
		synced = readAll (s);
		return kResultOk;
	}));
	EXPECT_CALL (component, connect (static_cast<IConnectionPoint*> (&controller))).WillOnce (Return (kResultOk));
	EXPECT_CALL (controller, connect (static_cast<IConnectionPoint*> (&component))).WillOnce (Return (kResultOk));

	const Captured log = create ();
	EXPECT_EQ (instance->controller (), static_cast<IEditController*> (&controller));
	ASSERT_NE (componentContext, nullptr);
	EXPECT_EQ (componentContext, controllerContext); // the same host context
	EXPECT_EQ (synced, (std::vector<std::uint8_t> {1, 2, 3}));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Factory has 2 classes"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Class 0: Proc (category: Audio Module Class)"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Component state: 3 bytes"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Controller state synchronized!"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] IConnectionPoint connected successfully!"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Plugin instance created successfully"));
	// Only the members' references remain: the connection points and the
	// sync stream were released.
	EXPECT_EQ (component.refs, 2);
	EXPECT_EQ (controller.refs, 2);
	EXPECT_EQ (factory.refs, 2);
	destroy ();
	EXPECT_EQ (component.refs, 1);
	EXPECT_EQ (controller.refs, 1);
	EXPECT_EQ (factory.refs, 1);
}

TEST_F (InstanceCreation, LastProcessorClassInFactoryOrderIsUsed)
{
	factory.addClass ('A', kModule, "First");
	factory.addClass ('B', kModule, "Second");
	factory.addClass ('C', kControllerClass, "Ctrl");
	factory.addClass ('D', "Other Class", "Other");
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'B'); }), _, _));
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'A'); }), _, _)).Times (0);
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'C'); }), _, _));
	const Captured log = create ();
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Found processor: First"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Found processor: Second"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Class 3: Other (category: Other Class)"));
	destroy ();
}

// A module of several classes: the class asked for by its id, with the
// controller its component names (not the last one of the factory).
TEST_F (InstanceCreation, TheClassAskedForGetsTheControllerItsComponentNames)
{
	factory.addClass ('A', kModule, "First");
	factory.addClass ('C', kControllerClass, "First's");
	factory.addClass ('B', kModule, "Second");
	factory.addClass ('E', kControllerClass, "Second's");
	ON_CALL (component, getControllerClassId (_)).WillByDefault (Invoke ([] (TUID cid) {
		std::memset (cid, 'C', sizeof (TUID));
		return kResultOk;
	}));
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'A'); }), _, _));
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'B'); }), _, _)).Times (0);
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'C'); }), _, _));
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'E'); }), _, _)).Times (0);
	bool created = false;
	const Captured log = captureOutput ([&] {
		instance = std::make_unique<PluginInstance> (&factory, "41414141414141414141414141414141");
		created = instance->createInstance ();
	});
	EXPECT_TRUE (created) << log.out << log.err;
	destroy ();
}

TEST_F (InstanceCreation, OneObjectDesignUsesTheComponentsController)
{
	component.single = true;
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	EXPECT_CALL (factory, createInstance (_, _, _)).Times (AnyNumber ());
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'C'); }), _, _)).Times (0);
	EXPECT_CALL (component, initialize (_)).Times (1); // not initialised again as controller
	EXPECT_CALL (component, setComponentState (_)).Times (0);
	EXPECT_CALL (component, connect (_)).Times (0);
	const Captured log = create ();
	EXPECT_EQ (instance->controller (), static_cast<IEditController*> (&component));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Got controller from component (single component design)"));
	EXPECT_EQ (log.count ("IConnectionPoint"), 0);

	// Teardown: the one object is terminated once, every reference is given
	// back.
	EXPECT_CALL (component, terminate ()).Times (1);
	destroy ();
	EXPECT_EQ (component.refs, 1);
}

TEST_F (InstanceCreation, ControllerCreationFailureStillSucceeds)
{
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	EXPECT_CALL (factory, createInstance (_, _, _)).Times (AnyNumber ());
	EXPECT_CALL (factory, createInstance (Truly ([] (FIDString cid) { return isClass (cid, 'C'); }), _, _))
	    .WillOnce (Return (kResultFalse));
	const Captured log = create (true);
	EXPECT_EQ (instance->controller (), nullptr);
	EXPECT_TRUE (log.hasErr ("[PluginInstance] Failed to create controller (error 1)"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Plugin instance created successfully"));
	destroy ();
}

TEST_F (InstanceCreation, ControllerInitialisationFailureReleasesItAndStillSucceeds)
{
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	EXPECT_CALL (controller, initialize (_)).WillOnce (Return (kResultFalse));
	EXPECT_CALL (controller, setComponentState (_)).Times (0);
	EXPECT_CALL (component, connect (_)).Times (0);
	const Captured log = create (true);
	EXPECT_EQ (instance->controller (), nullptr);
	EXPECT_EQ (controller.refs, 1);
	EXPECT_TRUE (log.hasErr ("[PluginInstance] Failed to initialize controller"));
	destroy ();
}

TEST_F (InstanceCreation, EmptyComponentStateIsNotSynchronised)
{
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	EXPECT_CALL (component, getState (_)).WillOnce (Invoke (writesState ({})));
	EXPECT_CALL (controller, setComponentState (_)).Times (0);
	const Captured log = create ();
	EXPECT_TRUE (log.hasOut ("[PluginInstance] No component state to sync"));
	destroy ();
}

TEST_F (InstanceCreation, ConnectionAndSyncFailuresAreOnlyReported)
{
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	EXPECT_CALL (controller, setComponentState (_))
	    .WillOnce (Return (kNotImplemented))
	    .WillRepeatedly (Return (kResultOk));
	EXPECT_CALL (component, connect (_)).WillOnce (Return (kResultFalse));
	EXPECT_CALL (controller, connect (_)).WillOnce (Return (kResultOk)); // made although the first failed
	const Captured log = create (true);
	EXPECT_TRUE (log.hasOut ("[PluginInstance] setComponentState returned " + std::to_string (kNotImplemented) +
	                         " (may be normal for this plugin)"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] IConnectionPoint connection returned: comp->ctrl=1, ctrl->comp=0"));
	destroy ();

	controller.connectable = false;
	const Captured second = create (true);
	EXPECT_TRUE (second.hasOut ("[PluginInstance] Controller doesn't support IConnectionPoint"));
	destroy ();
	EXPECT_EQ (component.refs, 1); // the component's connection point was given back
}

TEST_F (InstanceCreation, ComponentFailuresMakeCreationFail)
{
	factory.addClass ('C', kControllerClass, "Ctrl");
	Captured log = create (false);
	EXPECT_TRUE (log.hasErr ("[PluginInstance] No audio processor found in factory"));
	destroy ();

	factory.addClass ('A', kModule, "Proc");
	EXPECT_CALL (component, initialize (_)).WillOnce (Return (kResultFalse));
	log = create (false);
	EXPECT_TRUE (log.hasErr ("[PluginInstance] Failed to initialize component"));
	EXPECT_EQ (instance->component (), nullptr);
	EXPECT_EQ (component.refs, 1);
	destroy ();
}

TEST (InstanceWithoutFactory, FailsWithoutCallingAnything)
{
	std::unique_ptr<PluginInstance> instance;
	const Captured log = captureOutput ([&] {
		instance = std::make_unique<PluginInstance> (nullptr);
		EXPECT_FALSE (instance->createInstance ());
		instance.reset ();
	});
	EXPECT_TRUE (log.hasOut ("[PluginInstance] HostApplication created"));
	EXPECT_TRUE (log.hasErr ("[PluginInstance] No factory available"));
}

TEST_F (InstanceCreation, TeardownOrderControllerBeforeComponent)
{
	factory.addClass ('A', kModule, "Proc");
	factory.addClass ('C', kControllerClass, "Ctrl");
	create ();
	{
		InSequence order;
		EXPECT_CALL (controller, terminate ());
		EXPECT_CALL (component, terminate ());
	}
	destroy ();
}
