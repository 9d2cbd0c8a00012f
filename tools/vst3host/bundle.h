// A loaded Linux VST 3 bundle: its library, module entry and factory, and
// the audio effect it offers.
#pragma once

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <string>
#include <vector>

namespace vst3host {

class Bundle
{
public:
	Bundle () = default;
	~Bundle ();
	Bundle (const Bundle&) = delete;
	Bundle& operator= (const Bundle&) = delete;

	// Loads <path>/Contents/x86_64-linux/<name>.so; false with `error` set.
	bool load (const std::string& path, std::string& error);
	Steinberg::IPluginFactory* factory () const { return factory_; }
	Steinberg::PFactoryInfo factoryInfo () const;
	// Every class of the factory, in the second-generation description
	// (filled from the first-generation one where the factory has no other).
	std::vector<Steinberg::PClassInfo2> classes () const;

private:
	void* library_ = nullptr;
	bool entered_ = false;
	Steinberg::IPluginFactory* factory_ = nullptr;
};

// An audio class of a factory (an effect, an instrument, a MIDI effect)
// with its edit controller, initialised and set up for 32-bit processing;
// torn down in the right order.
class Effect
{
public:
	~Effect ();
	// The class named `name`, or the first audio class when it is empty.
	bool create (Steinberg::IPluginFactory* factory, std::string& error, const std::string& name = {});
	// Set up as a host's live playback (`realtime`) or as its render to a
	// file, where each block may take as long as the plug-in needs.
	bool setup (double sampleRate, int maxBlock, std::string& error, bool realtime = true);
	bool activate (std::string& error);

	// Channel count of the main audio bus in the given direction.
	int mainChannels (Steinberg::Vst::BusDirection direction) const;
	// Channel counts of every audio bus in the given direction.
	std::vector<int> busChannels (Steinberg::Vst::BusDirection direction) const;
	// Switches on, as hosts do before activation, the main audio buses and
	// the first event input bus, and the first event output bus when
	// `eventsOut`; false when the class has no event input.
	bool activateMainBuses (bool eventsOut);
	bool saveState (const std::string& file, std::string& error);
	bool loadState (const std::string& file, std::string& error);

	Steinberg::Vst::IComponent* component = nullptr;
	Steinberg::Vst::IAudioProcessor* processor = nullptr;
	Steinberg::Vst::IEditController* controller = nullptr;

private:
	bool active_ = false;
	bool processing_ = false;
};

} // namespace vst3host
