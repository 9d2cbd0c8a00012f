// Test variants with the buses of the plug-ins musicians use, one shape per
// build (QUILL_SHAPE, see quill_factory.cpp):
//  - Instrument: no audio input, a stereo output, a MIDI input and output.
//    Each note sounds as a sine at its pitch (and tuning) from its exact
//    sample offset until its note-off; every event it gets comes back on
//    its MIDI output unchanged. It takes 64-bit samples too.
//  - SideChain: a stereo main input and a stereo side-chain (aux, inactive
//    by default); the output is the main input plus the side-chain.
//  - Midi: no audio; every event it gets comes back on its MIDI output.
//  - MultiOut: the instrument with 16 stereo outputs, each sounding the same.
//  - Mono, Surround: a wire on one mono, or one 5.1, bus each way.
// Every shape accepts only its own bus arrangements.
#pragma once

#include "quill_single.h"

namespace Quill {

enum class Shape
{
	Instrument = 1,
	SideChain = 2,
	Midi = 3,
	MultiOut = 4,
	Mono = 5,
	Surround = 6
};

class QuillBusShapes : public QuillSingle
{
public:
	explicit QuillBusShapes (Shape shape);

	Steinberg::int32 PLUGIN_API getBusCount (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir) override;
	Steinberg::tresult PLUGIN_API getBusInfo (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                          Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
	Steinberg::tresult PLUGIN_API activateBus (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                           Steinberg::int32 index, Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API setBusArrangements (Steinberg::Vst::SpeakerArrangement* inputs,
	                                                  Steinberg::int32 numIns,
	                                                  Steinberg::Vst::SpeakerArrangement* outputs,
	                                                  Steinberg::int32 numOuts) override;
	Steinberg::tresult PLUGIN_API getBusArrangement (Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
	                                                 Steinberg::Vst::SpeakerArrangement& arr) override;
	Steinberg::tresult PLUGIN_API canProcessSampleSize (Steinberg::int32 symbolicSampleSize) override;
	Steinberg::tresult PLUGIN_API setupProcessing (Steinberg::Vst::ProcessSetup& setup) override;
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;

private:
	struct Bus
	{
		const char* name;
		Steinberg::Vst::SpeakerArrangement arrangement;
		bool main;
	};
	const Bus* audioBus (Steinberg::Vst::BusDirection dir, Steinberg::int32 index) const;
	template <typename Sample>
	void render (Steinberg::Vst::ProcessData& data, Sample** (*channels) (Steinberg::Vst::AudioBusBuffers&));

	Shape shape_;
	Bus inputs_[2] = {};
	Bus outputs_[16] = {};
	Steinberg::int32 inputCount_ = 0;
	Steinberg::int32 outputCount_ = 0;
	Steinberg::int32 eventInputs_ = 0;
	Steinberg::int32 eventOutputs_ = 0;
	double rate_ = 48000.0;
	// The sounding note: its frequency, phase and level (0: none).
	double frequency_ = 0.0;
	double phase_ = 0.0;
	double level_ = 0.0;
	Steinberg::int32 notePitch_ = -1;
};

} // namespace Quill
