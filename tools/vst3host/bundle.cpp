#include "bundle.h"

#include "public.sdk/source/common/memorystream.h"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;
using namespace Steinberg;

namespace vst3host {

Bundle::~Bundle ()
{
	if (factory_)
		factory_->release ();
	if (entered_)
	{
		if (auto exit = reinterpret_cast<bool (*) ()> (::dlsym (library_, "ModuleExit")))
			exit ();
	}
	if (library_)
		::dlclose (library_);
}

bool Bundle::load (const std::string& path, std::string& error)
{
	fs::path bundle = fs::path (path).lexically_normal ();
	if (bundle.filename ().empty ())
		bundle = bundle.parent_path ();
	if (!fs::is_directory (bundle))
	{
		error = "no such bundle: " + path;
		return false;
	}
	const fs::path library = bundle / "Contents" / "x86_64-linux" / (bundle.stem ().string () + ".so");
	if (!fs::exists (library))
	{
		error = "bundle has no Linux library: " + library.string ();
		return false;
	}
	library_ = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
	if (!library_)
	{
		error = std::string ("cannot load ") + library.string () + ": " + ::dlerror ();
		return false;
	}
	if (auto entry = reinterpret_cast<bool (*) (void*)> (::dlsym (library_, "ModuleEntry")))
	{
		if (!entry (library_))
		{
			error = "ModuleEntry of " + library.string () + " failed";
			return false;
		}
		entered_ = true;
	}
	auto getFactory = reinterpret_cast<IPluginFactory* (*)()> (::dlsym (library_, "GetPluginFactory"));
	factory_ = getFactory ? getFactory () : nullptr;
	if (!factory_)
	{
		error = "bundle has no VST 3 factory: " + library.string ();
		return false;
	}
	return true;
}

PFactoryInfo Bundle::factoryInfo () const
{
	PFactoryInfo info;
	factory_->getFactoryInfo (&info);
	return info;
}

std::vector<PClassInfo2> Bundle::classes () const
{
	std::vector<PClassInfo2> result;
	IPluginFactory2* factory2 = nullptr;
	factory_->queryInterface (IPluginFactory2::iid, reinterpret_cast<void**> (&factory2));
	for (int32 i = 0; i < factory_->countClasses (); ++i)
	{
		PClassInfo2 c;
		if (factory2 && factory2->getClassInfo2 (i, &c) == kResultOk)
		{
			result.push_back (c);
			continue;
		}
		PClassInfo basic;
		if (factory_->getClassInfo (i, &basic) != kResultOk)
			continue;
		std::memcpy (c.cid, basic.cid, sizeof (TUID));
		c.cardinality = basic.cardinality;
		std::memcpy (c.category, basic.category, sizeof (basic.category));
		std::memcpy (c.name, basic.name, sizeof (basic.name));
		result.push_back (c);
	}
	if (factory2)
		factory2->release ();
	return result;
}

Effect::~Effect ()
{
	if (processing_)
		processor->setProcessing (false);
	if (active_)
		component->setActive (false);
	if (controller)
	{
		controller->terminate ();
		controller->release ();
	}
	if (processor)
		processor->release ();
	if (component)
	{
		component->terminate ();
		component->release ();
	}
}

bool Effect::create (IPluginFactory* factory, std::string& error, const std::string& name)
{
	std::string names;
	for (int32 i = 0; i < factory->countClasses (); ++i)
	{
		PClassInfo info;
		if (factory->getClassInfo (i, &info) != kResultOk || std::string (info.category) != kVstAudioEffectClass)
			continue;
		names += (names.empty () ? "" : ", ") + std::string (info.name);
		if (!name.empty () && name != info.name)
			continue;
		if (factory->createInstance (info.cid, Vst::IComponent::iid, reinterpret_cast<void**> (&component)) !=
		        kResultOk ||
		    !component)
		{
			error = std::string ("cannot create ") + info.name;
			return false;
		}
		break;
	}
	if (!component)
	{
		error = name.empty () ? "the factory offers no audio class"
		                      : "no class named \"" + name + "\"; the module offers: " + names;
		return false;
	}
	if (component->initialize (nullptr) != kResultOk)
	{
		error = "the effect failed to initialise";
		return false;
	}
	if (component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor)) != kResultOk)
	{
		error = "the effect has no audio processor";
		return false;
	}
	TUID controllerId;
	if (component->getControllerClassId (controllerId) == kResultOk &&
	    factory->createInstance (controllerId, Vst::IEditController::iid, reinterpret_cast<void**> (&controller)) ==
	        kResultOk &&
	    controller && controller->initialize (nullptr) != kResultOk)
	{
		controller->release ();
		controller = nullptr;
	}
	return true;
}

bool Effect::setup (double sampleRate, int maxBlock, std::string& error, bool realtime)
{
	Vst::ProcessSetup setup {realtime ? Vst::kRealtime : Vst::kOffline, Vst::kSample32, maxBlock, sampleRate};
	if (processor->setupProcessing (setup) != kResultOk)
	{
		error = "the effect refused the process setup";
		return false;
	}
	return true;
}

bool Effect::activate (std::string& error)
{
	if (component->setActive (true) != kResultOk)
	{
		error = "the effect failed to activate";
		return false;
	}
	active_ = true;
	processor->setProcessing (true);
	processing_ = true;
	return true;
}

int Effect::mainChannels (Vst::BusDirection direction) const
{
	Vst::BusInfo info {};
	if (component->getBusCount (Vst::kAudio, direction) < 1 ||
	    component->getBusInfo (Vst::kAudio, direction, 0, info) != kResultOk)
		return 0;
	return info.channelCount;
}

std::vector<int> Effect::busChannels (Vst::BusDirection direction) const
{
	std::vector<int> channels;
	for (int32 i = 0; i < component->getBusCount (Vst::kAudio, direction); ++i)
	{
		Vst::BusInfo info {};
		channels.push_back (component->getBusInfo (Vst::kAudio, direction, i, info) == kResultOk ? info.channelCount
		                                                                                         : 0);
	}
	return channels;
}

bool Effect::activateMainBuses (bool eventsOut)
{
	for (Vst::BusDirection direction : {Vst::kInput, Vst::kOutput})
		if (component->getBusCount (Vst::kAudio, direction) > 0)
			component->activateBus (Vst::kAudio, direction, 0, true);
	if (eventsOut && component->getBusCount (Vst::kEvent, Vst::kOutput) > 0)
		component->activateBus (Vst::kEvent, Vst::kOutput, 0, true);
	if (component->getBusCount (Vst::kEvent, Vst::kInput) < 1)
		return false;
	component->activateBus (Vst::kEvent, Vst::kInput, 0, true);
	return true;
}

bool Effect::saveState (const std::string& file, std::string& error)
{
	MemoryStream stream;
	if (component->getState (&stream) != kResultOk)
	{
		error = "the effect gave no state";
		return false;
	}
	std::ofstream out (file, std::ios::binary);
	out.write (stream.getData (), static_cast<std::streamsize> (stream.getSize ()));
	if (!out)
	{
		error = "cannot write state file " + file;
		return false;
	}
	return true;
}

bool Effect::loadState (const std::string& file, std::string& error)
{
	std::ifstream in (file, std::ios::binary);
	if (!in)
	{
		error = "cannot read state file " + file;
		return false;
	}
	std::vector<char> bytes ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
	MemoryStream stream;
	stream.write (bytes.data (), static_cast<int32> (bytes.size ()), nullptr);
	stream.seek (0, IBStream::kIBSeekSet, nullptr);
	if (component->setState (&stream) != kResultOk)
	{
		error = "the effect refused the state in " + file;
		return false;
	}
	if (controller)
	{
		stream.seek (0, IBStream::kIBSeekSet, nullptr);
		controller->setComponentState (&stream);
	}
	return true;
}

} // namespace vst3host
