// MidiMappingReader: the served controller's MIDI and note interfaces on
// the Linux side, as the plug-in's controller shows them to the host. It
// knows which of them the served controller has from the moment the host
// connected us (outpost publishes them with the parameter list), answers
// MIDI controller assignments from a copy of the table outpost published
// (copied again only once outpost published another: after the served
// controller raised kMidiCCAssignmentChanged), and asks outpost's main
// thread, through the parameter list reader's request slot, for the rest.
// Host's user-interface thread only.
#pragma once

#include "plugin/parameter_list_reader.h"

#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/ivstphysicalui.h"

#include <vector>

namespace Steinberg {
namespace QuillMarlow {

class MidiMappingReader
{
public:
	explicit MidiMappingReader (ParameterListReader& parameters) : parameters_ (parameters) {}

	// Whether the served controller has the interface (a Tandem::kServes
	// bit). Before the host connected us nothing is known yet: true, and
	// the calls answer as a plug-in without it until then.
	bool serves (uint32 interface);

	tresult assignment (int32 bus, int16 channel, Vst::CtrlNumber controller, Vst::ParamID& id);
	int32 noteExpressionCount (int32 bus, int16 channel);
	tresult noteExpressionInfo (int32 bus, int16 channel, int32 index, Vst::NoteExpressionTypeInfo& info);
	tresult noteExpressionString (int32 bus, int16 channel, Vst::NoteExpressionTypeID id,
	                              Vst::NoteExpressionValue value, Vst::String128 string);
	tresult noteExpressionValue (int32 bus, int16 channel, Vst::NoteExpressionTypeID id, const Vst::TChar* string,
	                             Vst::NoteExpressionValue& value);
	int32 keyswitchCount (int32 bus, int16 channel);
	tresult keyswitchInfo (int32 bus, int16 channel, int32 index, Vst::KeyswitchInfo& info);
	tresult physicalUIMapping (int32 bus, int16 channel, Vst::PhysicalUIMapList& list);
	tresult midiLearn (int32 bus, int16 channel, Vst::CtrlNumber controller);
	tresult unitByBus (Vst::MediaType type, Vst::BusDirection dir, int32 bus, int32 channel, Vst::UnitID& unit);

private:
	// Asks outpost with the bus and channel; false without an answer.
	bool ask (Tandem::ParameterRequestKind kind, int32 bus, int32 channel, Vst::ParamID id, double value, int32 index,
	          const Vst::TChar* text, Tandem::ParameterRequest& answer,
	          const ParameterListReader::RegionAccess& post = nullptr,
	          const ParameterListReader::RegionAccess& take = nullptr);
	// A copy of the published mapping, the newest; false when there is none.
	bool mapping ();

	ParameterListReader& parameters_;
	// The copy: its processor and sequence, buses and ids.
	bool copied_ = false;
	int32 copiedFrom_ = 0;
	uint32 sequence_ = 0;
	int32 busCount_ = 0;
	std::vector<uint32> ids_;
};

} // namespace QuillMarlow
} // namespace Steinberg
