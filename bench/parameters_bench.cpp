// parameters_bench: what the host's parameter calls cost through the bridge,
// with the real outpost under Wine: how soon a list is ready, a string
// conversion, the cost of automation per block, and how soon an edit in the
// served plug-in reaches the host's handler. Prints its figures.
#include "bench_support.h"

#include "host/host_parameter_changes.h"
#include "host/stereo_buses.h"
#include "quill_parameters_ids.h"

#include "plugin/controller.h"
#include "e2e/served_processor.h"

#include <cstdlib>

namespace {

using namespace Steinberg;
using bench::Clock;
using Steinberg::QuillMarlow::QuillMarlowController;
using Steinberg::QuillMarlow::QuillMarlowProcessor;

// The host's handler: notes when an edit began.
class Handler : public Vst::IComponentHandler
{
public:
	tresult PLUGIN_API queryInterface (const TUID, void** obj) override
	{
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API beginEdit (Vst::ParamID) override
	{
		began = true;
		return kResultOk;
	}
	tresult PLUGIN_API performEdit (Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
	tresult PLUGIN_API endEdit (Vst::ParamID) override { return kResultOk; }
	tresult PLUGIN_API restartComponent (int32) override { return kResultOk; }
	bool began = false;
};

// A processor and controller, initialised and connected as hosts do.
struct Hosted
{
	explicit Hosted (const char* bundle) : p (new ServedProcessor (bundle))
	{
		p->initialize (nullptr);
		c = static_cast<QuillMarlowController*> (
		    static_cast<Vst::IEditController*> (QuillMarlowController::createInstance (nullptr)));
		c->initialize (nullptr);
		c->setComponentHandler (&handler);
		connected = Clock::now ();
		p->connect (static_cast<Vst::IConnectionPoint*> (c));
		static_cast<Vst::IConnectionPoint*> (c)->connect (p);
	}
	~Hosted ()
	{
		p->disconnect (static_cast<Vst::IConnectionPoint*> (c));
		static_cast<Vst::IConnectionPoint*> (c)->disconnect (p);
		c->terminate ();
		c->release ();
		p->terminate ();
		p->release ();
	}
	bool waitUp ()
	{
		const auto until = Clock::now () + std::chrono::seconds (20);
		while (Clock::now () < until)
		{
			const Tandem::AudioData* audio = p->sharedMemory ().audioData ();
			if (audio && audio->audioReady.load () == 1)
				return true;
			std::this_thread::sleep_for (std::chrono::microseconds (200));
		}
		return false;
	}
	// The whole list as a host reads it: count, each info, each value.
	int32 readList ()
	{
		const int32 n = c->getParameterCount ();
		Vst::ParameterInfo info {};
		for (int32 i = 0; i < n; ++i)
		{
			c->getParameterInfo (i, info);
			c->getParamNormalized (info.id);
		}
		return n;
	}
	ServedProcessor* p;
	QuillMarlowController* c = nullptr;
	Handler handler;
	Clock::time_point connected;
};

double ms (double ns)
{
	return ns / 1e6;
}

void lists ()
{
	std::printf ("parameter lists (the flood variant at the size of real plug-ins), 3 trials each:\n");
	std::printf ("%10s %26s %26s\n", "parameters", "read after outpost is up", "asked right after connect");
	for (const char* count : {"61", "2083"})
	{
		::setenv ("QUILL_FLOOD_PARAMETERS", count, 1);
		std::vector<double> afterUp, fromConnect;
		for (int trial = 0; trial < 3; ++trial)
		{
			{
				Hosted h (QUILL_FLOOD_BUNDLE);
				if (!h.waitUp ())
					continue;
				const auto t0 = Clock::now ();
				h.readList ();
				afterUp.push_back (bench::nanosSince (t0));
			}
			{
				Hosted h (QUILL_FLOOD_BUNDLE);
				h.readList ();
				fromConnect.push_back (bench::nanosSince (h.connected));
			}
		}
		std::sort (afterUp.begin (), afterUp.end ());
		std::sort (fromConnect.begin (), fromConnect.end ());
		if (afterUp.empty () || fromConnect.empty ())
			continue;
		std::printf ("%10s %20.2f ms max %20.0f ms max\n", count, ms (afterUp.back ()), ms (fromConnect.back ()));
	}
	::unsetenv ("QUILL_FLOOD_PARAMETERS");
}

void conversions (Hosted& h)
{
	std::vector<double> current, other;
	Vst::String128 s {};
	const Vst::ParamValue value = h.c->getParamNormalized (Quill::kParamTone);
	for (int i = 0; i < 2000; ++i)
	{
		auto t0 = Clock::now ();
		h.c->getParamStringByValue (Quill::kParamTone, value, s);
		current.push_back (bench::nanosSince (t0));
		t0 = Clock::now ();
		h.c->getParamStringByValue (Quill::kParamTone, (i % 997) / 997.0, s);
		other.push_back (bench::nanosSince (t0));
	}
	const bench::Stats a = bench::summarise (current), b = bench::summarise (other);
	std::printf ("\ngetParamStringByValue, 2000 calls each: the current value median %.1f us, p99 %.1f us; "
	             "another value (asked of outpost) median %.1f us, p99 %.1f us, worst %.1f us\n",
	             a.median, a.p99, b.median, b.p99, b.max);
}

void edits (Hosted& h)
{
	// Round trip: the host sets the test hook, the served controller edits,
	// the edit comes back; a host's run loop would add up to its tick (10 ms).
	std::vector<double> took;
	for (int i = 0; i < 100; ++i)
	{
		h.handler.began = false;
		const auto t0 = Clock::now ();
		h.c->setParamNormalized (Quill::kParamEdit, 1.0);
		const auto until = t0 + std::chrono::seconds (2);
		while (!h.handler.began && Clock::now () < until)
		{
			h.c->passEdits ();
			std::this_thread::sleep_for (std::chrono::microseconds (100));
		}
		if (h.handler.began)
			took.push_back (bench::nanosSince (t0));
		std::this_thread::sleep_for (std::chrono::milliseconds (20));
	}
	if (took.empty ())
		return;
	const bench::Stats s = bench::summarise (took);
	std::printf ("\nan edit in the served plug-in to the host's handler (%zu trials, host value in and edit out, "
	             "polled every 0.1 ms): median %.2f ms, p99 %.2f ms\n",
	             took.size (), s.median / 1000.0, s.p99 / 1000.0);
}

void automation ()
{
	::setenv ("QUILL_FLOOD_PARAMETERS", "61", 1);
	Hosted h (QUILL_FLOOD_BUNDLE);
	::unsetenv ("QUILL_FLOOD_PARAMETERS");
	constexpr int kSamples = 64;
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, kSamples, 48000.0};
	h.p->setupProcessing (setup);
	if (h.p->setActive (true) != kResultOk)
		return;
	h.p->setProcessing (true);
	StereoBuses buses (kSamples);
	HostParameterChanges none, points;
	for (Vst::ParamID id = 0; id < 8; ++id)
		for (int32 k = 0; k < 4; ++k)
			points.add (id, k * 16, 0.1 * (id + 1) + 0.01 * k);
	auto run = [&] (HostParameterChanges* changes, std::vector<double>& into) {
		for (int i = 0; i < 2000; ++i)
		{
			Vst::ProcessData d = buses.data ();
			d.inputParameterChanges = changes;
			const auto t0 = Clock::now ();
			h.p->process (d);
			into.push_back (bench::nanosSince (t0));
		}
	};
	std::vector<double> warm, plain, automated;
	run (&none, warm);
	// Rounds side by side, so that both see the machine in the same state.
	for (int round = 0; round < 10; ++round)
	{
		run (&none, plain);
		run (&points, automated);
	}
	const bench::Stats a = bench::summarise (plain), b = bench::summarise (automated);
	std::printf ("\nblocks of 64 samples back to back, 20000 each, alternating: without automation median %.2f us "
	             "(p99 %.2f); 8 parameters x 4 points median %.2f us (p99 %.2f): %+.2f us at the median\n",
	             a.median, a.p99, b.median, b.p99, b.median - a.median);
	h.p->setProcessing (false);
	h.p->setActive (false);
}

} // namespace

int main ()
{
	if (!std::getenv ("WINEPREFIX"))
	{
		std::fprintf (stderr, "parameters_bench: set WINEPREFIX to the test prefix\n");
		return 1;
	}
	std::printf ("Parameters through the bridge (real outpost under Wine)\n");
	lists ();
	{
		Hosted h (QUILL_PARAMETERS_BUNDLE);
		h.readList ();
		conversions (h);
		edits (h);
	}
	automation ();
	return 0;
}
