// MidiMappingWriter: the served controller's MIDI and note interfaces as
// the Linux controller shows them to the host. It publishes which of them
// the served controller has and its MIDI controller assignments into the
// parameter region's MIDI field, and answers the Linux controller's
// requests about them (note expressions, keyswitches, physical UI mapping,
// MIDI learn, the unit of a bus). Main thread, where the served controller
// lives.
#pragma once

#include "protocol/parameter_request.h"

#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstmidilearn.h"
#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/ivstphysicalui.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace Tandem {

class MidiMappingWriter
{
public:
	// Neither is owned; either may be null (a plug-in without a controller).
	MidiMappingWriter (ParameterData& region, Steinberg::Vst::IComponent* component,
	                   Steinberg::Vst::IEditController* controller);
	~MidiMappingWriter ();
	MidiMappingWriter (const MidiMappingWriter&) = delete;
	MidiMappingWriter& operator= (const MidiMappingWriter&) = delete;

	// Publishes the interfaces and the mapping; before the parameter list.
	void publish ();
	// Publishes the mapping again (the served controller changed it).
	void publishMapping ();
	// Answers the posted request if it is one of ours; false otherwise.
	bool serveRequest (bool wakeLinux);

private:
	void answer (RequestArguments asked, ParameterRequest& request);

	ParameterData& region_;
	Steinberg::Vst::IComponent* component_;
	Steinberg::Vst::IMidiMapping* mapping_ = nullptr;
	Steinberg::Vst::INoteExpressionController* noteExpressions_ = nullptr;
	Steinberg::Vst::IKeyswitchController* keyswitches_ = nullptr;
	Steinberg::Vst::INoteExpressionPhysicalUIMapping* physicalUI_ = nullptr;
	Steinberg::Vst::IMidiLearn* midiLearn_ = nullptr;
	Steinberg::Vst::IUnitInfo* units_ = nullptr;
};

} // namespace Tandem
