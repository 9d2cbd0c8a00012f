// The built bundle as a host sees it: exports, module entry and the factory.
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Steinberg;

struct Module
{
	Module () : handle (::dlopen (QM_BUNDLE_SO, RTLD_NOW | RTLD_LOCAL)) {}
	~Module ()
	{
		if (handle)
			::dlclose (handle);
	}
	template <typename T>
	T get (const char* name) const
	{
		return reinterpret_cast<T> (::dlsym (handle, name));
	}
	void* handle;
};

using EntryFn = bool (*) (void*);
using ExitFn = bool (*) ();
using FactoryFn = IPluginFactory* (*)();

const TUID kProcessor = INLINE_UID (0x12345678, 0x12345678, 0x12345678, 0x12345678);
const TUID kController = INLINE_UID (0x87654321, 0x87654321, 0x87654321, 0x87654321);

TEST (Module, ExportsExactlyTheFourEntryPoints)
{
	std::unique_ptr<FILE, int (*) (FILE*)> nm (::popen ("nm -D --defined-only " QM_BUNDLE_SO, "r"), ::pclose);
	ASSERT_TRUE (nm);
	std::vector<std::string> names;
	char type = 0;
	char name[512];
	unsigned long long address = 0;
	while (std::fscanf (nm.get (), "%llx %c %511s", &address, &type, name) == 3)
		names.push_back (name);
	EXPECT_THAT (names,
	             ::testing::UnorderedElementsAre ("GetPluginFactory", "ModuleEntry", "ModuleExit", "moduleHandle"));
}

TEST (Module, EntryAndExitAreCounted)
{
	Module m;
	ASSERT_NE (m.handle, nullptr) << ::dlerror ();
	auto entry = m.get<EntryFn> ("ModuleEntry");
	auto exit = m.get<ExitFn> ("ModuleExit");
	auto handle = m.get<void**> ("moduleHandle");
	ASSERT_TRUE (entry && exit && handle);

	EXPECT_TRUE (entry (m.handle));
	EXPECT_EQ (*handle, m.handle);
	EXPECT_TRUE (entry (m.handle));
	EXPECT_TRUE (exit ());
	EXPECT_EQ (*handle, m.handle) << "still entered once";
	EXPECT_TRUE (exit ());
	EXPECT_EQ (*handle, nullptr);
	EXPECT_FALSE (exit ()) << "an unbalanced exit is reported";
}

TEST (Module, FactoryDescribesTheTwoClasses)
{
	Module m;
	auto getFactory = m.get<FactoryFn> ("GetPluginFactory");
	ASSERT_TRUE (getFactory);
	IPluginFactory* factory = getFactory ();
	ASSERT_NE (factory, nullptr);
	EXPECT_EQ (getFactory (), factory) << "one process-wide factory";
	EXPECT_EQ (factory->release (), 1u) << "the second call added one reference";

	PFactoryInfo info;
	ASSERT_EQ (factory->getFactoryInfo (&info), kResultOk);
	EXPECT_STREQ (info.vendor, "Marlow");
	EXPECT_EQ (info.flags, 16);
	EXPECT_EQ (std::string (info.email).rfind ("mailto:", 0), 0u);
	EXPECT_FALSE (std::string (info.url).empty ());
	ASSERT_EQ (factory->countClasses (), 2);

	IPluginFactory2* factory2 = nullptr;
	ASSERT_EQ (factory->queryInterface (IPluginFactory2::iid, reinterpret_cast<void**> (&factory2)), kResultOk);
	PClassInfo2 c0, c1;
	ASSERT_EQ (factory2->getClassInfo2 (0, &c0), kResultOk);
	ASSERT_EQ (factory2->getClassInfo2 (1, &c1), kResultOk);
	factory2->release ();
	EXPECT_EQ (FUID::fromTUID (c0.cid), FUID::fromTUID (kProcessor));
	EXPECT_EQ (c0.cardinality, 0x7FFFFFFF);
	EXPECT_STREQ (c0.category, "Audio Module Class");
	EXPECT_STREQ (c0.name, "Quill Marlow");
	EXPECT_EQ (c0.classFlags, 1u);
	EXPECT_STREQ (c0.subCategories, "Fx");
	EXPECT_STREQ (c0.vendor, "");
	EXPECT_STREQ (c0.version, "0.1.0");
	EXPECT_STREQ (c0.sdkVersion, "VST 3.8.0");
	EXPECT_EQ (FUID::fromTUID (c1.cid), FUID::fromTUID (kController));
	EXPECT_STREQ (c1.category, "Component Controller Class");
	EXPECT_STREQ (c1.name, "Quill Marlow Controller");
	EXPECT_EQ (c1.classFlags, 0u);
	EXPECT_STREQ (c1.subCategories, "");
	// On Linux the id bytes are the four words in big-endian order.
	EXPECT_EQ (static_cast<unsigned char> (c0.cid[0]), 0x12);
	EXPECT_EQ (static_cast<unsigned char> (c0.cid[3]), 0x78);
	EXPECT_EQ (static_cast<unsigned char> (c1.cid[0]), 0x87);

	// Instances of both classes, and nothing for an unknown id.
	Vst::IComponent* component = nullptr;
	ASSERT_EQ (factory->createInstance (kProcessor, Vst::IComponent::iid, reinterpret_cast<void**> (&component)),
	           kResultOk);
	ASSERT_NE (component, nullptr);
	Vst::IAudioProcessor* processor = nullptr;
	EXPECT_EQ (component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor)), kResultOk);
	TUID controllerId;
	EXPECT_EQ (component->getControllerClassId (controllerId), kResultOk);
	EXPECT_EQ (FUID::fromTUID (controllerId), FUID::fromTUID (kController));
	processor->release ();
	component->release ();

	Vst::IEditController* controller = nullptr;
	ASSERT_EQ (factory->createInstance (kController, Vst::IEditController::iid, reinterpret_cast<void**> (&controller)),
	           kResultOk);
	EXPECT_EQ (controller->initialize (nullptr), kResultOk);
	EXPECT_EQ (controller->getParameterCount (), 0) << "no processor, no served parameters";
	Vst::IUnitInfo* units = nullptr;
	ASSERT_EQ (controller->queryInterface (Vst::IUnitInfo::iid, reinterpret_cast<void**> (&units)), kResultOk)
	    << "the served plug-in's units and program lists";
	EXPECT_EQ (units->getUnitCount (), 0);
	units->release ();
	EXPECT_EQ (controller->terminate (), kResultOk);
	controller->release ();

	const TUID unknown = INLINE_UID (1, 2, 3, 4);
	void* none = reinterpret_cast<void*> (1);
	EXPECT_NE (factory->createInstance (unknown, FUnknown::iid, &none), kResultOk);
	EXPECT_EQ (none, nullptr);

	EXPECT_EQ (factory->release (), 0u);
	IPluginFactory* fresh = getFactory ();
	EXPECT_EQ (fresh->countClasses (), 2) << "a new factory after the last release";
	fresh->release ();
}

} // namespace
