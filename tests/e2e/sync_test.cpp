// `quillmarlow sync` on the test prefix, with our own plug-ins installed as
// vendors install them: a module of several classes in a vendor's
// sub-folder, a copy of Quill under another folder (the same class ids),
// modules that hang or crash while read, one whose texts hold quotes and
// control characters, a file that is not a module and a plug-in whose name
// a bundle of the user's already has. Then the made
// bundles as a host uses them, class by class.
#include "e2e_support.h"

#include "plugin/served_record.h"
#include "quill_ids.h"
#include "quill_suite.h"
#include "../host/stereo_buses.h"

#include <filesystem>
#include <set>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kVst3 = fs::path (WINE_TEST_PREFIX) / "drive_c/Program Files/Common Files/VST3";
const fs::path kOurs = kVst3 / "QMSync";

std::string run (const std::string& command)
{
	std::string out;
	FILE* pipe = ::popen ((command + " 2>&1").c_str (), "r");
	char buffer[4096];
	while (pipe && std::fgets (buffer, sizeof buffer, pipe))
		out += buffer;
	if (pipe)
		::pclose (pipe);
	return out;
}

class Sync : public ::testing::Test
{
public:
	static void SetUpTestSuite ()
	{
		fs::remove_all (kOurs);
		fs::create_directories (kOurs / "Copy");
		fs::copy (SERVED_DIR "/suite/Plume", kOurs / "Plume", fs::copy_options::recursive);
		fs::copy (SERVED_DIR "/Quill.vst3", kOurs / "Copy/Quill.vst3", fs::copy_options::recursive);
		for (const char* name : {"Hang.vst3", "Crash.vst3", "Named.vst3", "Quoted.vst3"})
			fs::copy_file (fs::path (SERVED_DIR "/modules") / name, kOurs / name);
		std::ofstream (kOurs / "Notes.vst3") << "not a module";
		dir () = fs::temp_directory_path () / ("qm_sync_" + std::to_string (::getpid ()));
		fs::create_directories (dir () / "Named.vst3");
		std::ofstream (dir () / "Named.vst3/mine.txt") << "the user's";
		first () = sync ();
	}
	static void TearDownTestSuite ()
	{
		fs::remove_all (kOurs);
		fs::remove_all (dir ());
		fs::remove_all (dir ().string () + ".cache");
	}
	static std::string sync ()
	{
		return run ("XDG_CACHE_HOME='" + dir ().string () + ".cache' " + QUILLMARLOW + " sync --vst3-dir '" +
		            dir ().string () + "'");
	}
	static fs::path& dir ()
	{
		static fs::path d;
		return d;
	}
	static std::string& first ()
	{
		static std::string out;
		return out;
	}
};

bool has (const std::string& out, const std::string& line)
{
	return out.find (line) != std::string::npos;
}

TEST_F (Sync, AModuleThatHangsOrCrashesWhileReadIsSkippedAndTheRestAreMade)
{
	EXPECT_TRUE (has (first (), "skipped  QMSync/Hang.vst3: did not answer within 10 s")) << first ();
	EXPECT_TRUE (has (first (), "skipped  QMSync/Crash.vst3: crashed while read")) << first ();
	EXPECT_TRUE (has (first (), "skipped  QMSync/Notes.vst3: not a Windows module")) << first ();
	EXPECT_TRUE (has (first (), "new      QMSync/Plume/Quill Suite.vst3 -> Quill Suite.vst3 (4 classes)")) << first ();
}

TEST_F (Sync, TheSecondOfTwoPluginsWithTheSameClassIdIsSkippedNamingBoth)
{
	EXPECT_TRUE (has (first (), "new      QMSync/Copy/Quill.vst3 -> Quill.vst3")) << first ();
	EXPECT_TRUE (has (first (), "skipped  Quill.vst3: class id 51C1A7E04B1D4E119A7F0C3D2E8B5701 is already served by "
	                            "QMSync/Copy/Quill.vst3"))
	    << first ();
}

// What a module says of itself reaches the made bundle's record whole, from
// the lister's output through quillmarlow's reader.
TEST_F (Sync, AVendorTextWithQuotesAndControlCharactersComesBackWhole)
{
	Tandem::ServedRecord record;
	std::string error;
	ASSERT_TRUE (Tandem::readServedRecord ((dir () / "Quoted.vst3").string (), record, error)) << error << first ();
	EXPECT_EQ (record.factory.vendor, Quill::kSuiteQuotedVendor);
}

// A made bundle as a host uses it: its factory lists the module's classes
// under their own ids, and each audio class serves itself.
struct Made
{
	explicit Made (const fs::path& library) : handle (::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL))
	{
		auto get = handle ? reinterpret_cast<IPluginFactory* (*)()> (::dlsym (handle, "GetPluginFactory")) : nullptr;
		factory = get ? get () : nullptr;
	}
	~Made ()
	{
		if (factory)
			factory->release ();
		if (handle)
			::dlclose (handle);
	}
	void* handle;
	IPluginFactory* factory;
};

// One processor of a made bundle's class, active from its making to its end.
struct Live
{
	Live (const Made& made, const FUID& cid)
	{
		void* obj = nullptr;
		made.factory->createInstance (cid.toTUID (), Vst::IComponent::iid, &obj);
		component = static_cast<Vst::IComponent*> (obj);
		if (!component)
			return;
		component->initialize (nullptr);
		component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor));
		Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 64, 48000.0};
		processor->setupProcessing (setup);
		active = component->setActive (true) == kResultOk;
		processor->setProcessing (true);
	}
	~Live ()
	{
		if (!component)
			return;
		processor->setProcessing (false);
		component->setActive (false);
		processor->release ();
		component->terminate ();
		component->release ();
	}
	// One block of `level` in; its last output sample.
	float process (float level)
	{
		if (!active)
			return -1;
		std::fill (block.in[0].begin (), block.in[0].end (), level);
		std::fill (block.in[1].begin (), block.in[1].end (), level);
		Vst::ProcessData data = block.data ();
		processor->process (data);
		return block.out[0].back ();
	}
	Vst::IComponent* component = nullptr;
	Vst::IAudioProcessor* processor = nullptr;
	bool active = false;
	StereoBuses block {64};
};

// The last output sample once the processors' outposts answer, each
// processing `level` in, their blocks one after another on this thread.
template <typename... Processors>
std::vector<float> serve (float level, Processors&... live)
{
	std::vector<float> last;
	for (int attempt = 0; attempt < 400; ++attempt)
	{
		last = {live.process (level)...};
		if (attempt > 20 && std::none_of (last.begin (), last.end (), [&] (float v) { return v == level; }))
			break;
		std::this_thread::sleep_for (std::chrono::milliseconds (5));
	}
	return last;
}

float serve (const Made& made, const FUID& cid, float level)
{
	Live live (made, cid);
	return serve (level, live).front ();
}

TEST_F (Sync, AMultiClassModuleIsServedClassByClass)
{
	const fs::path bundle = dir () / "Quill Suite.vst3";
	Tandem::ServedRecord record;
	std::string error;
	ASSERT_TRUE (Tandem::readServedRecord (bundle.string (), record, error)) << error;
	ASSERT_EQ (record.classes.size (), 4u);
	EXPECT_EQ (record.classes[2].subCategories, "Instrument|Synth");
	EXPECT_EQ (record.classes[0].name, "Quill Suite \xC3\x89"
	                                   "chos");
	ASSERT_EQ (record.classes[2].buses.size (), 2u);
	EXPECT_EQ (record.classes[2].buses[0].name, "Synth Out");
	EXPECT_EQ (record.classes[2].buses[1].mediaType, "event");
	EXPECT_TRUE (record.classes[2].sample64);
	EXPECT_TRUE (fs::exists (bundle / "Contents/Resources/moduleinfo.json"));

	Made made (bundle / "Contents/x86_64-linux/Quill Suite.so");
	ASSERT_NE (made.factory, nullptr);
	ASSERT_EQ (made.factory->countClasses (), 4);
	PClassInfo info {};
	made.factory->getClassInfo (2, &info);
	EXPECT_EQ (FUID::fromTUID (info.cid), Quill::kSuiteSynthUID);
	// A host loads every bundle into one process: each lists its own classes.
	{
		Made other (dir () / "Quill.vst3/Contents/x86_64-linux/Quill.so");
		ASSERT_NE (other.factory, nullptr);
		EXPECT_EQ (other.factory->countClasses (), 2);
	}
	// The effect is Quill at -6 dB; the synth fills its output with its level.
	EXPECT_NEAR (serve (made, Quill::kSuiteEffectUID, 0.8f), 0.4f, 0.02f);
	EXPECT_FLOAT_EQ (serve (made, Quill::kSuiteSynthUID, 0.8f), Quill::kSuiteSynthLevel);
}

// Every made bundle carries its own copy of the bridge's library, and a host
// loads them all into one process: instances of two bundles live at once,
// one after another on one thread as a track's inserts, each with its own
// outpost and file.
TEST_F (Sync, InstancesOfTwoMadeBundlesServeSideBySideInOneProcess)
{
	Made suite (dir () / "Quill Suite.vst3/Contents/x86_64-linux/Quill Suite.so");
	Made quill (dir () / "Quill.vst3/Contents/x86_64-linux/Quill.so");
	ASSERT_NE (suite.factory, nullptr);
	ASSERT_NE (quill.factory, nullptr);
	const float alone = serve (quill, Quill::kProcessorUID, 0.8f);
	ASSERT_NE (alone, 0.8f);
	Live effect (suite, Quill::kSuiteEffectUID), other (quill, Quill::kProcessorUID),
	    synth (suite, Quill::kSuiteSynthUID);
	const std::vector<float> last = serve (0.8f, effect, other, synth);
	EXPECT_NEAR (last[0], 0.4f, 0.02f);
	EXPECT_FLOAT_EQ (last[1], alone);
	EXPECT_FLOAT_EQ (last[2], Quill::kSuiteSynthLevel);
	std::set<std::string> files;
	for (const auto& o : ownOutposts ())
		files.insert (o.sharedFile);
	EXPECT_EQ (files.size (), 3u);
}

// The group is the user's choice: set on made bundles only, all or none of
// those named, shown by list, kept when sync remakes the bundle.
TEST_F (Sync, AGroupIsSetOnMadeBundlesOnlyAndKeptWhenSyncRefreshes)
{
	const std::string group = std::string (QUILLMARLOW) + " group --vst3-dir '" + dir ().string () + "' ";
	auto groupOf = [] {
		Tandem::ServedRecord record;
		std::string error;
		Tandem::readServedRecord ((dir () / "Quill Suite.vst3").string (), record, error);
		return record.group + error;
	};
	EXPECT_TRUE (has (run (group + "'a b' 'Quill Suite'"), "'a b' is not a group name"));
	EXPECT_TRUE (has (run (group + "mix 'Quill Suite' Named.vst3"), "no bundle changed"));
	EXPECT_EQ (groupOf (), "");

	EXPECT_TRUE (has (run (group + "mix 'Quill Suite.vst3'"), "grouped  Quill Suite.vst3 in \"mix\""));
	const std::string list = run (std::string (QUILLMARLOW) + " list --vst3-dir '" + dir ().string () + "'");
	const size_t line = list.find ("Quill Suite.vst3: ");
	ASSERT_NE (line, std::string::npos) << list;
	EXPECT_EQ (list.substr (list.find ('\n', line) - 12, 12), " [group mix]") << list;
	const fs::path module = kOurs / "Plume/Quill Suite.vst3/Contents/x86_64-win/Quill Suite.vst3";
	fs::last_write_time (module, fs::last_write_time (module) + std::chrono::seconds (10));
	const std::string refreshed = sync ();
	EXPECT_TRUE (has (refreshed, "refreshed QMSync/Plume/Quill Suite.vst3")) << refreshed;
	EXPECT_EQ (groupOf (), "mix");

	EXPECT_TRUE (
	    has (run (group + "--none '" + (dir () / "Quill Suite.vst3").string () + "'"), "ungrouped Quill Suite.vst3"));
	EXPECT_EQ (groupOf (), "");
}

TEST_F (Sync, AddsRefreshesRemovesAndLeavesWhatItDidNotMakeAlone)
{
	EXPECT_TRUE (has (first (), "skipped  QMSync/Named.vst3: " + (dir () / "Named.vst3").string () +
	                                " exists and was not made by quillmarlow: left alone"))
	    << first ();
	EXPECT_EQ (readText ((dir () / "Named.vst3/mine.txt").string ()), "the user's");

	const std::string again = sync ();
	EXPECT_TRUE (has (again, "unchanged QMSync/Plume/Quill Suite.vst3 (Quill Suite.vst3)")) << again;
	// What failed to be read is not read again while it has not changed.
	EXPECT_TRUE (has (again, "skipped  QMSync/Hang.vst3: did not answer within 10 s (unchanged since then)")) << again;
	EXPECT_FALSE (has (again, "new ")) << again;

	const fs::path module = kOurs / "Plume/Quill Suite.vst3/Contents/x86_64-win/Quill Suite.vst3";
	fs::last_write_time (module, fs::last_write_time (module) + std::chrono::seconds (10));
	const std::string refreshed = sync ();
	EXPECT_TRUE (has (refreshed, "refreshed QMSync/Plume/Quill Suite.vst3 -> Quill Suite.vst3")) << refreshed;

	fs::remove_all (kOurs / "Plume");
	const std::string removed = sync ();
	EXPECT_TRUE (has (removed, "removed  Quill Suite.vst3")) << removed;
	EXPECT_FALSE (fs::exists (dir () / "Quill Suite.vst3"));
	EXPECT_TRUE (fs::exists (dir () / "Quill.vst3"));
	EXPECT_EQ (readText ((dir () / "Named.vst3/mine.txt").string ()), "the user's");
	// Nothing half-made is left behind.
	for (const auto& entry : fs::directory_iterator (dir ()))
		EXPECT_EQ (entry.path ().filename ().string ().find (".vst3."), std::string::npos) << entry.path ();
}

} // namespace
} // namespace e2e
