// A processor and controller of the bundle's code as a host pairs them,
// its outpost serving one of Quill's test variants, with a host handler
// that records what it is told (the parameter and MIDI tests).
#pragma once

#include "e2e_support.h"

#include "../host/host_parameter_changes.h"
#include "../plugin/host_objects.h"

#include "plugin/controller.h"
#include "served_processor.h"

#include <string>
#include <vector>

namespace e2e {

using Steinberg::QuillMarlow::InstanceRegistry;
using Steinberg::QuillMarlow::QuillMarlowController;
using Steinberg::QuillMarlow::QuillMarlowProcessor;

constexpr int kBlock = 256;

// The host's handler, recording what it was told, in order.
class RecordingHandler : public QuillMarlowTest::TestHostHandler
{
public:
	tresult PLUGIN_API beginEdit (Vst::ParamID id) override { return note ("begin " + std::to_string (id)); }
	tresult PLUGIN_API performEdit (Vst::ParamID id, Vst::ParamValue v) override
	{
		return note ("perform " + std::to_string (id) + " " + std::to_string (v));
	}
	tresult PLUGIN_API endEdit (Vst::ParamID id) override { return note ("end " + std::to_string (id)); }
	tresult PLUGIN_API restartComponent (int32 flags) override { return note ("restart " + std::to_string (flags)); }
	tresult PLUGIN_API setDirty (TBool state) override { return note (state ? "dirty" : "clean"); }
	tresult PLUGIN_API requestOpenEditor (FIDString) override { return note ("open editor"); }
	tresult PLUGIN_API startGroupEdit () override { return note ("group start"); }
	tresult PLUGIN_API finishGroupEdit () override { return note ("group end"); }

	std::vector<std::string> calls;

private:
	tresult note (const std::string& call)
	{
		calls.push_back (call);
		return kResultOk;
	}
};

inline std::string text (const Vst::TChar* s)
{
	std::string out;
	for (int i = 0; i < 128 && s[i]; ++i)
		out += static_cast<char> (s[i]);
	return out;
}

// A processor and controller as a host pairs them: initialised, connected,
// the controller with the host's handler; not set up, not active.
struct Hosted
{
	// `classId`: the bundle's audio class to serve, its last one when empty.
	explicit Hosted (const char* bundle, const std::string& classId = {})
	: p (new ServedProcessor (bundle, OUTPOST_EXE, classId))
	{
		p->initialize (nullptr);
		auto* edit = static_cast<Vst::IEditController*> (QuillMarlowController::createInstance (nullptr));
		c = static_cast<QuillMarlowController*> (edit);
		c->initialize (nullptr);
		c->setComponentHandler (&handler);
		auto* controllerPoint = static_cast<Vst::IConnectionPoint*> (c);
		p->connect (controllerPoint);
		controllerPoint->connect (p);
	}
	~Hosted ()
	{
		auto* controllerPoint = static_cast<Vst::IConnectionPoint*> (c);
		p->disconnect (controllerPoint);
		controllerPoint->disconnect (p);
		c->terminate ();
		c->release ();
		p->terminate ();
		p->release ();
	}
	// Offline, every block waits for outpost's answer: none is passed
	// through because it came late.
	void start (Vst::ProcessModes mode = Vst::kRealtime)
	{
		Vst::ProcessSetup setup {mode, Vst::kSample32, kBlock, 48000.0};
		ASSERT_EQ (p->setupProcessing (setup), kResultOk);
		ASSERT_EQ (p->setActive (true), kResultOk);
		p->setProcessing (true);
	}
	// One block that outpost processed (the input ramps from 0.01 up).
	bool process (StereoBlock& block, HostParameterChanges* in, HostParameterChanges* out = nullptr)
	{
		for (int i = 0; i < kBlock; ++i)
			block.in[0][i] = block.in[1][i] = 0.01f * static_cast<float> (i + 1) / kBlock;
		Vst::ProcessData d = block.data ();
		d.inputParameterChanges = in;
		d.outputParameterChanges = out;
		const int32 before = p->audioOkCount ();
		p->process (d);
		return p->audioOkCount () > before;
	}
	// Passes the relayed edits on, as the host's run loop would, until `done`.
	bool passEditsUntil (const std::function<bool ()>& done)
	{
		return waitFor (
		    [&] {
			    c->passEdits ();
			    return done ();
		    },
		    5.0);
	}
	ServedProcessor* p;
	QuillMarlowController* c = nullptr;
	RecordingHandler handler;
};

} // namespace e2e
