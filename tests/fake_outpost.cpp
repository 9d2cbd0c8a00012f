// Stand-in for Wine + outpost in the plug-in's tests. The plug-in starts it
// as `fake_outpost MODE SHARED_FILE PLUGIN_PATH`, MODE taking the place of
// outpost.exe's path:
//   dump:FILE    write the argument vector and the environment to FILE, exit 0
//   idle         never touch the file; ends on SIGTERM
//   stubborn     like idle, but ignores SIGTERM
//   serve        map the file, report audio readiness, multiply every block
//                by kGain on an audio thread that spins and sleeps like
//                outpost's, and answer GetState, SetState, the
//                controller's state commands and Shutdown;
//                SIGUSR1 stands for an edit in the served editor: the
//                state gets one more byte '+' and editCount grows
//   slow:MS      like serve, but the audio thread sleeps MS milliseconds in
//                every block before answering, as a slow served plug-in
//   commands:FILE like serve, and appends the code of every command it
//                takes to FILE, one line each
//   latency:FILE like serve, and stands in for a served plug-in whose
//                latency and tail are the two numbers in FILE, read again
//                every 10 ms; a change advances latencyReport. (The other
//                serving modes answer GetLatency with 0 and 0.)
//   refusing     like serve, but the served plug-in refuses to activate
//   otherbuild   like serve, but as an outpost.exe of a build before the
//                session region: it never says which version it speaks
//   editor:FILE  like serve, and stands in for Wine's editor window: the
//                first ShowEditor creates a top-level X11 window (blue, with
//                an amber band, _NET_WM_PID set to our pid as Wine does),
//                every ShowEditor maps it at the top level and replies its
//                id and size, HideEditor unmaps it. Clicks,
//                focus and synthetic configure notices that reach the window
//                are written to FILE, one line each.
#include "protocol/handshake.h"
#include "protocol/bus_layout.h"
#include "protocol/event_data.h"
#include "protocol/file_regions.h"
#include "protocol/parameter_data.h"
#include "protocol/state_commands.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr float kGain = 0.5f;

int dump (const char* file, int argc, char** argv)
{
	FILE* f = std::fopen (file, "w");
	if (!f)
		return 2;
	for (int i = 0; i < argc; ++i)
		std::fprintf (f, "%s\n", argv[i]);
	std::fprintf (f, "--env--\n");
	for (char** e = environ; *e; ++e)
		std::fprintf (f, "%s\n", *e);
	std::fclose (f);
	return 0;
}

// The stand-in's editor window, driven from the command loop's thread.
class FakeEditor
{
public:
	static constexpr std::uint16_t kWidth = 640;
	static constexpr std::uint16_t kHeight = 400;

	explicit FakeEditor (const char* logPath) : log_ (std::fopen (logPath, "a")) {}
	~FakeEditor ()
	{
		if (connection_)
			xcb_disconnect (connection_);
		if (log_)
			std::fclose (log_);
	}

	void show (Tandem::UICommand* ui)
	{
		if (!window_ && !create ())
		{
			ui->wineWindow = 0;
			return;
		}
		ui->wineWindow = window_;
		ui->editorWidth = kWidth;
		ui->editorHeight = kHeight;
		xcb_map_window (connection_, window_);
		xcb_flush (connection_);
		note ("shown 0x%x", window_);
	}

	void hide (Tandem::UICommand* ui)
	{
		if (window_)
		{
			xcb_unmap_window (connection_, window_);
			xcb_flush (connection_);
			note ("hidden");
		}
		ui->wineWindow = 0;
	}

	void pump ()
	{
		if (!connection_)
			return;
		while (xcb_generic_event_t* e = xcb_poll_for_event (connection_))
		{
			const bool synthetic = (e->response_type & 0x80) != 0;
			switch (e->response_type & 0x7F)
			{
			case XCB_BUTTON_PRESS:
			{
				auto* b = reinterpret_cast<xcb_button_press_event_t*> (e);
				note ("click at (%d,%d)", b->event_x, b->event_y);
				break;
			}
			case XCB_FOCUS_IN:
				note ("focus in");
				break;
			case XCB_CONFIGURE_NOTIFY:
			{
				auto* c = reinterpret_cast<xcb_configure_notify_event_t*> (e);
				if (synthetic)
					note ("synthetic ConfigureNotify pos=(%d,%d) size=%ux%u", c->x, c->y, c->width, c->height);
				break;
			}
			default:
				break;
			}
			std::free (e);
		}
	}

private:
	bool create ()
	{
		connection_ = xcb_connect (nullptr, nullptr);
		if (xcb_connection_has_error (connection_))
		{
			note ("no display");
			return false;
		}
		xcb_screen_t* screen = xcb_setup_roots_iterator (xcb_get_setup (connection_)).data;
		window_ = xcb_generate_id (connection_);
		const std::uint32_t values[] = {0x2060a0, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
		                                              XCB_EVENT_MASK_FOCUS_CHANGE};
		xcb_create_window (connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 200, 150, kWidth, kHeight, 0,
		                   XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
		                   values);
		static const char kPidName[] = "_NET_WM_PID";
		if (auto* atom = xcb_intern_atom_reply (
		        connection_, xcb_intern_atom (connection_, 0, sizeof (kPidName) - 1, kPidName), nullptr))
		{
			const std::uint32_t pid = static_cast<std::uint32_t> (getpid ());
			xcb_change_property (connection_, XCB_PROP_MODE_REPLACE, window_, atom->atom, XCB_ATOM_CARDINAL, 32, 1,
			                     &pid);
			std::free (atom);
		}
		static const char kTitle[] = "Fake editor";
		xcb_change_property (connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
		                     sizeof (kTitle) - 1, kTitle);
		const std::uint32_t band = 0xf0a020;
		const xcb_window_t bandWindow = xcb_generate_id (connection_);
		xcb_create_window (connection_, XCB_COPY_FROM_PARENT, bandWindow, window_, 0, kBandTop, kWidth, kBandHeight, 0,
		                   XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, &band);
		xcb_map_window (connection_, bandWindow);
		xcb_flush (connection_);
		return true;
	}

	template <typename... Args>
	void note (const char* format, Args... args)
	{
		if (!log_)
			return;
		std::fprintf (log_, format, args...);
		std::fputc ('\n', log_);
		std::fflush (log_);
	}

	static constexpr std::int16_t kBandTop = 160;
	static constexpr std::uint16_t kBandHeight = 80;
	FILE* log_;
	xcb_connection_t* connection_ = nullptr;
	xcb_window_t window_ = 0;
};

// The served plug-in's latency and tail, from a file the test rewrites.
struct LatencySource
{
	const char* file = nullptr;
	std::uint32_t latency = 0;
	std::uint32_t tail = 0;

	// Reads the file again; advances the report when the values changed.
	void poll (Tandem::UICommand* ui)
	{
		if (!file)
			return;
		FILE* f = std::fopen (file, "r");
		if (!f)
			return;
		std::uint32_t l = 0, t = 0;
		const bool read = std::fscanf (f, "%" SCNu32 " %" SCNu32, &l, &t) == 2;
		std::fclose (f);
		if (!read || (l == latency && t == tail))
			return;
		latency = l;
		tail = t;
		ui->latencyReport.store (static_cast<std::uint8_t> (ui->latencyReport.load () + 1), std::memory_order_release);
	}
};

volatile std::sig_atomic_t g_edits = 0;

void countEdit (int)
{
	g_edits = g_edits + 1;
}

[[noreturn]] void sleepForever ()
{
	for (;;)
		pause ();
}

// "events": an instrument's shape, one event bus each way besides the
// stereo ones, whose events come back unchanged.
bool g_events = false;

int serve (const char* path, FakeEditor* editor = nullptr, int slowMs = 0, const char* commandLog = nullptr,
           const char* latencyFile = nullptr, bool speaksVersion = true, bool refusesActivation = false)
{
	int fd = open (path, O_RDWR);
	if (fd < 0)
		return 1;
	void* base = mmap (nullptr, Tandem::kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	close (fd);
	if (base == MAP_FAILED)
		return 1;
	const Tandem::Regions regions = Tandem::regionsAt (base);
	// Speaks the version of the file that the plug-in of this build writes.
	Tandem::SessionData* session = regions.session;
	if (speaksVersion)
		session->outpostVersion.store (Tandem::kSessionVersion, std::memory_order_release);
	auto* ui = regions.uiCommand;
	auto* audio = regions.audioData;
	auto* state = regions.stateData;
	Tandem::BusData* buses = regions.buses;
	Tandem::EventData* events = regions.events;
	if (g_events)
	{
		Tandem::writeBusList (buses->list, [] (Tandem::BusList& list) {
			const char16_t* names[4] = {u"In", u"Out", u"MIDI In", u"MIDI Out"};
			for (int kind = 0; kind < Tandem::kBusKinds; ++kind)
			{
				list.counts[kind] = 1;
				Steinberg::Vst::BusInfo info {};
				info.mediaType = kind < 2 ? Steinberg::Vst::kAudio : Steinberg::Vst::kEvent;
				info.direction = kind % 2;
				info.channelCount = kind < 2 ? 2 : 16;
				for (int i = 0; names[kind][i]; ++i)
					info.name[i] = static_cast<Steinberg::Vst::TChar> (names[kind][i]);
				info.flags = Steinberg::Vst::BusInfo::kDefaultActive;
				Tandem::BusRecord& record = Tandem::busRecord (list, kind, 0);
				Tandem::writeBusInfo (record, info);
				record.active = 1;
				record.arrangement = kind < 2 ? 3 : 0; // stereo
			}
			list.sampleSizes = Tandem::kTakes32;
		});
	}
	// Its instance's place in the host's chains, as outpost takes it.
	Tandem::ChainPlace place;
	place.follows = &ui->followsAnother;
	if (session->chainSlot != 0)
	{
		const int chainFd = open (Tandem::chainFilePath (session->chainOwner).c_str (), O_RDWR);
		void* chain =
		    chainFd < 0 ? MAP_FAILED
		                : mmap (nullptr, sizeof (Tandem::ChainRegion), PROT_READ | PROT_WRITE, MAP_SHARED, chainFd, 0);
		if (chainFd >= 0)
			close (chainFd);
		if (chain != MAP_FAILED)
		{
			place.chain = static_cast<Tandem::ChainRegion*> (chain);
			place.slot = session->chainSlot - 1;
		}
	}

	std::atomic<bool> running {true};
	std::thread audioThread ([&] {
		audio->outpostCanWake.store (1, std::memory_order_relaxed);
		audio->audioReady.store (1, std::memory_order_relaxed);
		Tandem::fullFence ();
		auto keepGoing = [&] { return running.load (std::memory_order_relaxed); };
		Tandem::BlockRhythm rhythm;
		while (keepGoing () && Tandem::waitForBlock (*audio, true, keepGoing, Tandem::kIdleSlice, &rhythm, &place))
		{
			if (slowMs > 0)
				std::this_thread::sleep_for (std::chrono::milliseconds (slowMs));
			const int channels = Tandem::clampCount (audio->numChannels, Tandem::kMaxChannels);
			const int samples = Tandem::clampCount (audio->numSamples, Tandem::kMaxBlockSize);
			Tandem::BusBlock& block = buses->block;
			if (g_events)
			{
				const int count = Tandem::clampCount (events->input.count, Tandem::kMaxEvents);
				std::memcpy (events->output.records, events->input.records, count * Tandem::kEventRecordSize);
				std::memcpy (events->output.bytes, events->input.bytes,
				             Tandem::clampCount (events->input.bytesUsed, Tandem::kMaxEventBytes));
				events->output.bytesUsed = events->input.bytesUsed;
				events->output.count = count;
			}
			if (block.pools != 1)
			{
				for (int c = 0; c < channels; ++c)
					for (int i = 0; i < samples; ++i)
						audio->outputBuffers[c][i] = audio->inputBuffers[c][i] * kGain;
			}
			else
			{
				// Buses in the pools (32-bit): output channel k from input channel k, else silence.
				auto total = [] (const std::uint8_t* counts, std::int32_t buses) {
					int sum = 0;
					for (int b = 0; b < Tandem::clampCount (buses, Tandem::kMaxAudioBuses); ++b)
						sum += counts[b];
					return std::min (sum, Tandem::poolChannels (0, 0));
				};
				const int ins = total (block.inputChannels, block.inputCount);
				const int outs = total (block.outputChannels, block.outputCount);
				const std::size_t stride = Tandem::channelStride (samples, 0);
				for (int c = 0; c < outs; ++c)
				{
					auto* to = reinterpret_cast<float*> (buses->outputPool + c * stride);
					const auto* from = reinterpret_cast<const float*> (buses->inputPool + c * stride);
					for (int i = 0; i < samples; ++i)
						to[i] = c < ins ? from[i] * kGain : 0.0f;
				}
			}
			Tandem::finishBlock (*audio);
		}
	});

	std::vector<std::uint8_t> pluginState {'f', 'a', 'k', 'e'};
	std::vector<std::uint8_t> controllerState;
	LatencySource latency {latencyFile};
	latency.poll (ui);
	std::signal (SIGUSR1, countEdit);
	int editsTaken = 0;
	for (int turn = 1; running; ++turn)
	{
		if (turn % 10 == 0)
			latency.poll (ui);
		for (; editsTaken < g_edits; ++editsTaken)
		{
			pluginState.push_back ('+');
			ui->editCount.store (editsTaken + 1, std::memory_order_relaxed);
		}
		if (!ui->processed.load (std::memory_order_acquire))
		{
			if (commandLog)
			{
				if (FILE* log = std::fopen (commandLog, "a"))
				{
					std::fprintf (log, "%d\n", ui->command);
					std::fclose (log);
				}
			}
			switch (static_cast<Tandem::CommandCode> (ui->command))
			{
			case Tandem::CommandCode::Shutdown:
				running = false;
				break;
			case Tandem::CommandCode::GetState:
				std::memcpy (state->stateBuffer, pluginState.data (), pluginState.size ());
				state->stateSize = static_cast<std::int32_t> (pluginState.size ());
				state->stateReady.store (true, std::memory_order_release);
				break;
			case Tandem::CommandCode::SetState:
				if (state->stateSize > 0 && state->stateSize <= Tandem::kMaxStateSize)
					pluginState.assign (state->stateBuffer, state->stateBuffer + state->stateSize);
				Tandem::answerResult (*ui, 0);
				break;
			case Tandem::CommandCode::GetControllerState:
				if (!controllerState.empty ())
					std::memcpy (state->stateBuffer, controllerState.data (), controllerState.size ());
				state->stateSize = static_cast<std::int32_t> (controllerState.size ());
				Tandem::answerResult (*ui, 0);
				state->stateReady.store (true, std::memory_order_release);
				break;
			case Tandem::CommandCode::SetControllerState:
				if (state->stateSize > 0 && state->stateSize <= Tandem::kMaxStateSize)
					controllerState.assign (state->stateBuffer, state->stateBuffer + state->stateSize);
				Tandem::answerResult (*ui, 0);
				break;
			case Tandem::CommandCode::Activate:
				latency.poll (ui);
				session->latencySamples = latency.latency;
				session->tailSamples = latency.tail;
				session->activateResult = refusesActivation ? 1 : 0;
				break;
			case Tandem::CommandCode::GetLatency:
				latency.poll (ui);
				ui->parentWindow = Tandem::packLatency (latency.latency, latency.tail);
				break;
			case Tandem::CommandCode::ShowEditor:
				if (editor)
					editor->show (ui);
				break;
			case Tandem::CommandCode::HideEditor:
				if (editor)
					editor->hide (ui);
				break;
			default:
				break;
			}
			ui->processed.store (true, std::memory_order_release);
		}
		if (editor)
			editor->pump ();
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
	Tandem::futexWake (&audio->inputReady);
	audioThread.join ();
	munmap (base, Tandem::kFileSize);
	return 0;
}

} // namespace

int main (int argc, char** argv)
{
	if (argc != 4)
		return 64;
	const std::string mode = argv[1];
	if (mode.rfind ("dump:", 0) == 0)
		return dump (mode.c_str () + 5, argc, argv);
	if (mode == "idle")
		sleepForever ();
	if (mode == "stubborn")
	{
		std::signal (SIGTERM, SIG_IGN);
		sleepForever ();
	}
	if (mode == "serve")
		return serve (argv[2]);
	if (mode == "events")
	{
		g_events = true;
		return serve (argv[2]);
	}
	if (mode == "otherbuild")
		return serve (argv[2], nullptr, 0, nullptr, nullptr, false);
	if (mode == "refusing")
		return serve (argv[2], nullptr, 0, nullptr, nullptr, true, true);
	if (mode.rfind ("slow:", 0) == 0)
		return serve (argv[2], nullptr, std::atoi (mode.c_str () + 5));
	if (mode.rfind ("commands:", 0) == 0)
		return serve (argv[2], nullptr, 0, mode.c_str () + 9);
	if (mode.rfind ("latency:", 0) == 0)
		return serve (argv[2], nullptr, 0, nullptr, mode.c_str () + 8);
	if (mode.rfind ("editor:", 0) == 0)
	{
		FakeEditor editor (mode.c_str () + 7);
		return serve (argv[2], &editor);
	}
	return 64;
}
