// A bundle made by `quillmarlow sync`, as a host's scan sees it: a copy of
// the built library beside a record lists the served module's classes (ids,
// names in any language, vendor, categories) and factory info, and creates
// and terminates its processor without starting Wine. When the Windows
// module is gone, the activation fails with one line naming it, and audio
// passes through.
#include "plugin/served_record.h"

#include "../host/stereo_buses.h"
#include "test_support.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace Steinberg;
namespace fs = std::filesystem;

const char kEffect[] = "5E17E0000A1B2C3D4E5F60718293A4B1";
const char kEffectController[] = "5E17E0000A1B2C3D4E5F60718293A4B2";
const char kSynth[] = "5E17E0000A1B2C3D4E5F60718293A4B3";
const char kMissingModule[] = "/nonexistent/drive_c/Program Files/Common Files/VST3/Plume/Échos.vst3";

Tandem::ServedRecord suiteRecord ()
{
	Tandem::ServedRecord r;
	r.prefix = "/nonexistent";
	r.source = "/nonexistent/drive_c/Program Files/Common Files/VST3/Plume/Échos.vst3";
	r.module = kMissingModule;
	r.windowsModule = "C:\\Program Files\\Common Files\\VST3\\Plume\\Échos.vst3";
	r.factory = {"Plume Audio", "https://plume-audio.example", "mailto:help@plume-audio.example", 0};
	Tandem::ServedClass effect;
	effect.cid = kEffect;
	effect.category = Tandem::kAudioModuleClass;
	effect.name = "Échos à plume";
	effect.vendor = "Plume Audio";
	effect.version = "1.2.0";
	effect.sdkVersion = "VST 3.7.2";
	effect.subCategories = "Fx|Delay";
	effect.classFlags = 1;
	effect.controller = kEffectController;
	Tandem::ServedClass controller = effect;
	controller.cid = kEffectController;
	controller.category = Tandem::kComponentControllerClass;
	controller.name = "Échos Controller";
	controller.subCategories.clear ();
	controller.controller.clear ();
	// One object that is both: it gets the bridge's controller.
	Tandem::ServedClass synth = effect;
	synth.cid = kSynth;
	synth.name = "Synth";
	synth.subCategories = "Instrument|Synth";
	synth.controller.clear ();
	r.classes = {effect, controller, synth};
	return r;
}

std::u16string utf16 (const char16* text)
{
	return std::u16string (reinterpret_cast<const char16_t*> (text));
}

// The class id's TUID in this platform's order (held by a static FUID).
const char* tuidOf (const char* cid)
{
	static FUID ids[4];
	static int next = 0;
	uint32_t w[4];
	Tandem::classIdWords (cid, w);
	FUID& id = ids[next++ % 4];
	id = FUID (w[0], w[1], w[2], w[3]);
	return reinterpret_cast<const char*> (id.toTUID ());
}

// A copy of the built library in a made bundle of its own.
struct MadeBundle
{
	MadeBundle ()
	{
		dir = fs::temp_directory_path () / ("qm_made_" + std::to_string (::getpid ()));
		const fs::path library = dir / "Échos.vst3/Contents/x86_64-linux/Échos.so";
		fs::create_directories (library.parent_path ());
		fs::create_directories (dir / "Échos.vst3/Contents/Resources");
		fs::copy_file (QM_BUNDLE_SO, library);
		std::ofstream (dir / "Échos.vst3" / Tandem::kServedRecordFile) << Tandem::servedRecordJson (suiteRecord ());
		handle = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
		auto get = handle ? reinterpret_cast<IPluginFactory* (*)()> (::dlsym (handle, "GetPluginFactory")) : nullptr;
		IPluginFactory* f = get ? get () : nullptr;
		if (f)
			f->queryInterface (IPluginFactory3::iid, reinterpret_cast<void**> (&factory));
		if (f)
			f->release ();
	}
	~MadeBundle ()
	{
		if (factory)
			factory->release ();
		if (handle)
			::dlclose (handle);
		fs::remove_all (dir);
	}
	Vst::IComponent* create (const char* cid)
	{
		void* obj = nullptr;
		factory->createInstance (tuidOf (cid), Vst::IComponent::iid, &obj);
		return static_cast<Vst::IComponent*> (obj);
	}
	fs::path dir;
	void* handle = nullptr;
	IPluginFactory3* factory = nullptr;
};

TEST (MadeBundle, ListsTheServedModulesClassesFromItsRecord)
{
	MadeBundle b;
	ASSERT_NE (b.factory, nullptr);
	PFactoryInfo info {};
	ASSERT_EQ (b.factory->getFactoryInfo (&info), kResultOk);
	EXPECT_STREQ (info.vendor, "Plume Audio");
	EXPECT_STREQ (info.url, "https://plume-audio.example");
	EXPECT_TRUE (info.flags & PFactoryInfo::kUnicode);

	// The record's three classes and the bridge's controller for the synth.
	ASSERT_EQ (b.factory->countClasses (), 4);
	PClassInfoW w {};
	PClassInfo2 c2 {};
	ASSERT_EQ (b.factory->getClassInfoUnicode (0, &w), kResultOk);
	EXPECT_EQ (std::memcmp (w.cid, tuidOf (kEffect), sizeof (TUID)), 0);
	EXPECT_EQ (utf16 (w.name), u"Échos à plume");
	EXPECT_EQ (utf16 (w.vendor), u"Plume Audio");
	EXPECT_EQ (utf16 (w.version), u"1.2.0");
	EXPECT_STREQ (w.subCategories, "Fx|Delay");
	EXPECT_EQ (w.classFlags, 1u);
	ASSERT_EQ (b.factory->getClassInfo2 (2, &c2), kResultOk);
	EXPECT_STREQ (c2.category, "Audio Module Class");
	EXPECT_STREQ (c2.subCategories, "Instrument|Synth");
	EXPECT_EQ (std::memcmp (c2.cid, tuidOf (kSynth), sizeof (TUID)), 0);
	ASSERT_EQ (b.factory->getClassInfo2 (1, &c2), kResultOk);
	EXPECT_STREQ (c2.category, "Component Controller Class");

	// A scan's create, initialise, terminate: the component names the
	// served controller, and no outpost starts.
	testing::internal::CaptureStdout ();
	Vst::IComponent* effect = b.create (kEffect);
	ASSERT_NE (effect, nullptr);
	ASSERT_EQ (effect->initialize (nullptr), kResultOk);
	TUID controller {};
	ASSERT_EQ (effect->getControllerClassId (controller), kResultOk);
	EXPECT_EQ (std::memcmp (controller, tuidOf (kEffectController), sizeof (TUID)), 0);
	effect->terminate ();
	effect->release ();
	EXPECT_EQ (testing::internal::GetCapturedStdout ().find ("Lancement du outpost"), std::string::npos);
}

TEST (MadeBundle, WhoseModuleIsGoneFailsItsActivationAndPassesAudioThrough)
{
	MadeBundle b;
	ASSERT_NE (b.factory, nullptr);
	Vst::IComponent* synth = b.create (kSynth);
	ASSERT_NE (synth, nullptr);
	ASSERT_EQ (synth->initialize (nullptr), kResultOk);
	Vst::IAudioProcessor* processor = nullptr;
	ASSERT_EQ (synth->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor)), kResultOk);
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 64, 48000.0};
	processor->setupProcessing (setup);

	testing::internal::CaptureStderr ();
	EXPECT_NE (synth->setActive (true), kResultOk);
	const std::string errors = testing::internal::GetCapturedStderr ();
	EXPECT_NE (errors.find (std::string ("The served module is gone: ") + kMissingModule), std::string::npos) << errors;

	StereoBuses block (64);
	for (int i = 0; i < 64; ++i)
		block.in[0][i] = block.in[1][i] = 0.01f * static_cast<float> (i);
	Vst::ProcessData data = block.data ();
	processor->process (data);
	EXPECT_EQ (block.out[0], block.in[0]);
	EXPECT_EQ (block.out[1], block.in[1]);

	processor->release ();
	synth->terminate ();
	synth->release ();
}

} // namespace
