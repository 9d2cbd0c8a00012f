// outpost.exe as a program under Wine, driven through the shared file the
// way the Linux plug-in drives it.
#include "e2e_support.h"
#include "quill_look_ahead.h"
#include "plugin/shared_memory.h"
#include "protocol/handshake.h"
#include "x_host.h"

#include <gmock/gmock.h>

#include <atomic>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char kPluginPath[] = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";

// outpost.exe under /usr/bin/wine with its output in a log file.
class OutpostRun
{
public:
	explicit OutpostRun (std::vector<std::string> args)
	{
		char path[] = "/tmp/qm_outpost_log_XXXXXX";
		const int log = ::mkstemp (path);
		logPath_ = path;
		std::vector<std::string> all {"/usr/bin/wine", OUTPOST_EXE};
		all.insert (all.end (), args.begin (), args.end ());
		std::vector<char*> argv;
		for (auto& a : all)
			argv.push_back (a.data ());
		argv.push_back (nullptr);
		pid_ = ::fork ();
		if (pid_ == 0)
		{
			::dup2 (log, STDOUT_FILENO);
			::dup2 (log, STDERR_FILENO);
			::execv (argv[0], argv.data ());
			::_exit (127);
		}
		::close (log);
	}
	~OutpostRun ()
	{
		if (pid_ > 0 && exitCode_ < 0)
		{
			::kill (pid_, SIGKILL);
			::waitpid (pid_, nullptr, 0);
		}
		::unlink (logPath_.c_str ());
	}
	// Exit code, or -1 when it did not exit in time.
	int waitExit (double seconds)
	{
		if (exitCode_ >= 0)
			return exitCode_;
		waitFor (
		    [&] {
			    int status = 0;
			    if (::waitpid (pid_, &status, WNOHANG) == pid_)
				    exitCode_ = WIFEXITED (status) ? WEXITSTATUS (status) : 128;
			    return exitCode_ >= 0;
		    },
		    seconds);
		return exitCode_;
	}
	std::string log () const { return readText (logPath_); }

private:
	pid_t pid_ = -1;
	int exitCode_ = -1;
	std::string logPath_;
};

// A shared file created like the plug-in creates it, with outpost serving it.
class Served : public ::testing::Test
{
protected:
	void start (double sampleRate = 48000.0, const std::string& plugin = kPluginPath)
	{
		path = "/tmp/tandem_e2e_" + std::to_string (::getpid ()) + ".shm";
		ASSERT_TRUE (shm.create (path).success);
		shm.audioData ()->sampleRate = sampleRate;
		shm.audioData ()->numSamples = 512;
		Tandem::fullFence ();
		outpost = std::make_unique<OutpostRun> (std::vector<std::string> {path, plugin});
		ASSERT_TRUE (waitFor (
		    [&] {
			    Tandem::fullFence ();
			    return shm.audioData ()->audioReady.load () == 1;
		    },
		    30.0))
		    << outpost->log ();
		if (sampleRate > 0.0)
		{
			ASSERT_TRUE (activate (sampleRate));
		}
	}
	// Activates the served processor as the plug-in does when the host
	// activates it, processing on.
	bool activate (double sampleRate)
	{
		Tandem::SessionData* session = shm.sessionData ();
		session->sampleRate = sampleRate;
		session->maxSamplesPerBlock = 512;
		session->processMode = Vst::kRealtime;
		session->symbolicSampleSize = Vst::kSample32;
		session->processing.store (1);
		return command (Tandem::CommandCode::Activate) && session->activateResult == kResultOk;
	}
	// Posts a command and waits for its acknowledgement.
	bool command (Tandem::CommandCode code) { return command (static_cast<int32_t> (code)); }
	bool command (int32_t code)
	{
		Tandem::UICommand* ui = shm.uiCommand ();
		ui->command = code;
		ui->processed.store (false, std::memory_order_release);
		return waitFor ([&] { return ui->processed.load (std::memory_order_acquire); }, 10.0);
	}
	// One block through the audio region; false when outpost did not answer.
	bool block (int channels, int samples, double seconds = 5.0)
	{
		Tandem::AudioData* audio = shm.audioData ();
		audio->numChannels = channels;
		audio->numSamples = samples;
		audio->sampleRate = 48000.0;
		Tandem::postBlock (*audio);
		return waitFor (
		    [&] {
			    Tandem::fullFence ();
			    return audio->outputReady.load () != 0;
		    },
		    seconds);
	}
	// Quill's parameters as a GetState reads them.
	Quill::QuillParams savedParams ()
	{
		Tandem::StateData* state = shm.stateData ();
		state->stateReady.store (false);
		Quill::QuillParams params {-1.0, -1.0};
		if (command (Tandem::CommandCode::GetState))
			Quill::decodeState (state->stateBuffer, static_cast<size_t> (state->stateSize), params);
		return params;
	}
	// The first block outpost processes sounds as Quill computes it with `params`.
	void expectBlockSoundsWith (Quill::QuillParams params)
	{
		auto* audio = shm.audioData ();
		for (int c = 0; c < 2; ++c)
			for (int i = 0; i < 256; ++i)
				audio->inputBuffers[c][i] = signal (c, i);
		ASSERT_TRUE (block (2, 256));
		QuillModel model (48000.0, params);
		std::vector<float> expected[2] = {std::vector<float> (256), std::vector<float> (256)};
		const float* in[2] = {audio->inputBuffers[0], audio->inputBuffers[1]};
		float* out[2] = {expected[0].data (), expected[1].data ()};
		model.dsp.process (in, out, 2, 256);
		for (int i = 0; i < 256; ++i)
			ASSERT_NEAR (audio->outputBuffers[0][i], expected[0][i], 2e-6f) << i;
	}
	void TearDown () override
	{
		if (outpost && shm.isMapped () && outpost->waitExit (0) < 0)
		{
			command (Tandem::CommandCode::Shutdown);
			outpost->waitExit (10.0);
		}
	}

	Tandem::SharedMemoryCreator shm;
	std::string path;
	std::unique_ptr<OutpostRun> outpost;
};

TEST (OutpostProgram, UsageErrorsAndAMissingFileExitWithOne)
{
	OutpostRun noArgs ({});
	EXPECT_EQ (noArgs.waitExit (30.0), 1);
	std::string log = noArgs.log ();
	EXPECT_THAT (log, HasSubstr ("=== Tandem Host ===\nVersion: 0.1.0 MVP\n"));
	EXPECT_THAT (log, HasSubstr (" <shared_memory_name> <vst3_path>\n"));
	EXPECT_THAT (log, HasSubstr (" /tandem_12345 \"C:\\\\Program Files\\\\VST3\\\\Quill.vst3\"\n"));
	EXPECT_THAT (log, Not (HasSubstr ("[Outpost] Initializing")));

	OutpostRun oneArg ({"/tmp/whatever.shm"});
	EXPECT_EQ (oneArg.waitExit (30.0), 1);
	EXPECT_THAT (oneArg.log (), HasSubstr ("Usage: "));

	OutpostRun missing ({"/tmp/qm_no_such_file.shm", kPluginPath});
	EXPECT_EQ (missing.waitExit (30.0), 1);
	log = missing.log ();
	EXPECT_THAT (log, HasSubstr ("[Outpost] Failed to open file: /tmp/qm_no_such_file.shm\n[Outpost] Error: 2\n"));
	EXPECT_THAT (log, HasSubstr ("[Outpost] Failed to open shared memory\n"));
	EXPECT_THAT (log, HasSubstr ("[Outpost] Initialization failed\n"));
}

TEST_F (Served, CommandsThroughTheSlot)
{
	start ();
	Tandem::UICommand* ui = shm.uiCommand ();
	Tandem::StateData* state = shm.stateData ();

	// An unknown code is only acknowledged.
	const uint64_t wine = ui->wineWindow;
	ASSERT_TRUE (command (7));
	EXPECT_EQ (ui->wineWindow, wine);
	EXPECT_FALSE (state->stateReady.load ());

	// GetState gives Quill's default state.
	state->stateReady.store (false);
	ASSERT_TRUE (command (Tandem::CommandCode::GetState));
	EXPECT_TRUE (state->stateReady.load ());
	ASSERT_EQ (state->stateSize, static_cast<int32_t> (Quill::kStateSize));
	Quill::QuillParams params {};
	ASSERT_TRUE (Quill::decodeState (state->stateBuffer, Quill::kStateSize, params));
	EXPECT_EQ (params.gain, Quill::kDefaultGain);

	// SetState applies, GetState reads it back.
	Quill::encodeState ({0.25, 0.75}, *reinterpret_cast<uint8_t (*)[Quill::kStateSize]> (state->stateBuffer));
	state->stateSize = Quill::kStateSize;
	ASSERT_TRUE (command (Tandem::CommandCode::SetState));
	std::memset (state->stateBuffer, 0, Quill::kStateSize);
	state->stateReady.store (false);
	ASSERT_TRUE (command (Tandem::CommandCode::GetState));
	ASSERT_TRUE (Quill::decodeState (state->stateBuffer, static_cast<size_t> (state->stateSize), params));
	EXPECT_EQ (params.gain, 0.25);
	EXPECT_EQ (params.tone, 0.75);

	// Sizes of no state or beyond the buffer are acknowledged and ignored.
	for (int32_t size : {0, -5, Tandem::kMaxStateSize + 1, INT32_MAX})
	{
		state->stateSize = size;
		ASSERT_TRUE (command (Tandem::CommandCode::SetState)) << size;
	}
	ASSERT_TRUE (command (Tandem::CommandCode::Shutdown));
	EXPECT_EQ (outpost->waitExit (10.0), 0);
	const std::string log = outpost->log ();
	EXPECT_THAT (log, HasSubstr ("[Outpost] *** COMMAND RECEIVED: 7 ***\n"));
	EXPECT_THAT (log, HasSubstr ("[Outpost] State saved: 24 bytes\n"));
	EXPECT_THAT (log, HasSubstr ("[Outpost] State restored: OK\n"));
	size_t restored = 0;
	for (size_t at = log.find ("[Outpost] State restored:"); at != std::string::npos;
	     at = log.find ("[Outpost] State restored:", at + 1))
		++restored;
	EXPECT_EQ (restored, 1u) << "no state handed to Quill for the bad sizes";
}

TEST_F (Served, BlockBeforeActivationPassesThroughAndTheActivationsRateIsUsed)
{
	start (0.0); // not activated yet: nothing is prepared at start
	auto* audio = shm.audioData ();
	for (int c = 0; c < 2; ++c)
		for (int i = 0; i < 128; ++i)
			audio->inputBuffers[c][i] = signal (c, i);
	ASSERT_TRUE (block (2, 128));
	for (int i = 0; i < 128; ++i)
		ASSERT_EQ (audio->outputBuffers[1][i], audio->inputBuffers[1][i]) << i;

	ASSERT_TRUE (activate (44100.0));
	ASSERT_TRUE (block (2, 128));
	QuillModel model (44100.0);
	std::vector<float> expected[2] = {std::vector<float> (128), std::vector<float> (128)};
	const float* in[2] = {audio->inputBuffers[0], audio->inputBuffers[1]};
	float* out[2] = {expected[0].data (), expected[1].data ()};
	model.dsp.process (in, out, 2, 128);
	for (int i = 0; i < 128; ++i)
		EXPECT_NEAR (audio->outputBuffers[1][i], expected[1][i], 2e-6f) << i;

	// Counts beyond the slots are clamped, never followed.
	audio->numSamples = 1 << 30;
	ASSERT_TRUE (block (100, 1 << 30));
	const std::string log = outpost->log ();
	EXPECT_THAT (log, HasSubstr ("[PluginInstance] Audio setup: 44100 Hz, 512 samples\n"));
}

TEST_F (Served, ShutdownWhileStreamingFinishesTheBlockInProgress)
{
	start ();
	std::atomic<bool> stop {false};
	std::atomic<int> answered {0};
	std::thread streamer ([&] {
		while (!stop && block (2, 256, 1.0))
			++answered;
	});
	std::this_thread::sleep_for (std::chrono::milliseconds (300));
	ASSERT_TRUE (command (Tandem::CommandCode::Shutdown));
	stop = true;
	streamer.join ();
	EXPECT_EQ (outpost->waitExit (10.0), 0);
	EXPECT_GT (answered.load (), 10);

	const std::string log = outpost->log ();
	const std::string stopped = "[Outpost] Audio thread stopped (processed ";
	const size_t at = log.find (stopped);
	ASSERT_NE (at, std::string::npos) << log;
	const int processed = std::atoi (log.c_str () + at + stopped.size ());
	EXPECT_EQ (processed, answered.load ()) << "every block outpost took was handed back";
	const size_t joined = log.find ("[Outpost] Audio thread joined\n");
	const size_t ended = log.find ("[Outpost] Main loop ended\n");
	const size_t exiting = log.find ("[Outpost] Exiting cleanly\n");
	EXPECT_LT (at, joined);
	EXPECT_LT (joined, ended);
	EXPECT_LT (ended, exiting);
	EXPECT_EQ (log.find ("Audio thread joined", joined + 20), std::string::npos) << "joined exactly once";
	shm.release ();
}

// The X server's view of a window: exists and is viewable. The display is
// the Xvfb that the prefix fixture started on a number derived from the
// build folder (WINE_TEST_DISPLAY): Wine binds a prefix's windows to the
// display its first program saw, so every test of the prefix shares it.
bool viewable (uint32_t window)
{
	xcb_connection_t* c = xcb_connect (nullptr, nullptr);
	if (xcb_connection_has_error (c))
	{
		xcb_disconnect (c);
		return false;
	}
	xcb_get_window_attributes_reply_t* attributes =
	    xcb_get_window_attributes_reply (c, xcb_get_window_attributes (c, window), nullptr);
	const bool result = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
	free (attributes);
	xcb_disconnect (c);
	return result;
}

TEST_F (Served, ShowEditorReportsTheSameWindowEveryTime)
{
	start ();
	Tandem::UICommand* ui = shm.uiCommand ();
	ui->parentWindow = 0x1234;
	ASSERT_TRUE (command (Tandem::CommandCode::ShowEditor));
	const uint64_t first = ui->wineWindow;
	ASSERT_NE (first, 0u) << outpost->log ();
	EXPECT_GT (ui->editorWidth, 0);
	EXPECT_GT (ui->editorHeight, 0);
	EXPECT_TRUE (waitFor ([&] { return viewable (static_cast<uint32_t> (first)); }, 5.0));

	ui->wineWindow = 0;
	ASSERT_TRUE (command (Tandem::CommandCode::ShowEditor));
	EXPECT_EQ (ui->wineWindow, first);

	ASSERT_TRUE (command (Tandem::CommandCode::HideEditor));
	EXPECT_EQ (ui->wineWindow, 0u);
	EXPECT_TRUE (waitFor ([&] { return !viewable (static_cast<uint32_t> (first)); }, 5.0));

	ASSERT_TRUE (command (Tandem::CommandCode::ShowEditor));
	EXPECT_EQ (ui->wineWindow, first) << "the same window is shown again";
	EXPECT_TRUE (waitFor ([&] { return viewable (static_cast<uint32_t> (first)); }, 5.0));

	const std::string log = outpost->log ();
	EXPECT_THAT (log, HasSubstr ("[Outpost] Parent X11 window: 0x1234\n"));
	size_t creations = 0;
	for (size_t at = log.find ("Creating window for first time (embedding=1)"); at != std::string::npos;
	     at = log.find ("Creating window for first time", at + 1))
		++creations;
	EXPECT_EQ (creations, 1u);
	EXPECT_THAT (log, HasSubstr (" (container window)\n"));
}

// A click in Quill's editor is an edit its controller reports to outpost:
// the state saved next holds it although no block flowed in between, and
// the next block sounds with it.
TEST_F (Served, EditorClickReachesTheStateWithoutBlocksAndThenTheSound)
{
	start ();
	Tandem::UICommand* ui = shm.uiCommand ();
	ASSERT_TRUE (command (Tandem::CommandCode::ShowEditor));
	const uint64_t wine = ui->wineWindow;
	ASSERT_NE (wine, 0u) << outpost->log ();
	ASSERT_TRUE (waitFor ([&] { return viewable (static_cast<uint32_t> (wine)); }, 5.0));

	// A quarter along the gain bar (x 20..460 of the 480-pixel editor, y 110..138).
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY,
	                                       "mousemove --window " + std::to_string (wine) + " 130 120 click 1"));
	ASSERT_TRUE (
	    waitFor ([&] { return outpost->log ().find ("[Quill] Editor click at 130,120\n") != std::string::npos; }, 10.0))
	    << outpost->log ();

	const Quill::QuillParams params = savedParams ();
	EXPECT_EQ (params.gain, 0.25) << outpost->log ();
	EXPECT_EQ (params.tone, Quill::kDefaultTone);
	EXPECT_GT (ui->editCount.load (), 0) << "the Linux side learns that the project changed";

	expectBlockSoundsWith ({0.25, Quill::kDefaultTone});
	EXPECT_THAT (outpost->log (), HasSubstr ("[Outpost] Pending edits delivered to the processor\n"));
}

// A served plug-in's latency and tail are answered to GetLatency; when it
// announces a new latency (here after a restored state moved it), outpost
// reads both again and counts the change.
TEST_F (Served, LatencyAndTailAreAnsweredAndAnAnnouncedChangeIsCounted)
{
	start (48000.0, QUILL_LOOKAHEAD_BUNDLE);
	Tandem::UICommand* ui = shm.uiCommand ();
	auto answered = [&] (uint32_t latency, uint32_t tail) {
		ui->parentWindow = 0;
		return command (Tandem::CommandCode::GetLatency) && ui->parentWindow == Tandem::packLatency (latency, tail);
	};
	const uint32_t before = static_cast<uint32_t> (Quill::kDefaultTone * Quill::kLookAheadRange + 0.5);
	EXPECT_TRUE (answered (before, Quill::kLookAheadTail)) << outpost->log ();
	const uint8_t report = ui->latencyReport.load ();

	Tandem::StateData* state = shm.stateData ();
	Quill::encodeState ({Quill::kDefaultGain, 0.25},
	                    *reinterpret_cast<uint8_t (*)[Quill::kStateSize]> (state->stateBuffer));
	state->stateSize = Quill::kStateSize;
	ASSERT_TRUE (command (Tandem::CommandCode::SetState));
	EXPECT_TRUE (waitFor ([&] { return ui->latencyReport.load () != report; }, 10.0)) << outpost->log ();
	EXPECT_TRUE (answered (250, Quill::kLookAheadTail));
	const std::string log = outpost->log ();
	EXPECT_THAT (log, HasSubstr ("[ComponentHandler] Latency changed: reading latency and tail again\n"));
	EXPECT_THAT (log, HasSubstr ("[Outpost] Latency reported: 250 samples, tail 4800 samples\n"));
}

// A served plug-in without an editor of its own gets outpost's generic one,
// sized to its rows and reported like any editor; a click on a slider is an
// edit like any other.
TEST_F (Served, GenericEditorForAPlugInWithoutOneSetsStateAndSound)
{
	start (48000.0, QUILL_NOEDITOR_BUNDLE);
	Tandem::UICommand* ui = shm.uiCommand ();
	ASSERT_TRUE (command (Tandem::CommandCode::ShowEditor));
	const uint64_t wine = ui->wineWindow;
	ASSERT_NE (wine, 0u) << outpost->log ();
	EXPECT_THAT (outpost->log (), HasSubstr ("[PluginInstance] Using the generic editor (2 parameters shown)\n"));
	// Two rows of 36 pixels between margins of 12.
	EXPECT_EQ (ui->editorWidth, 480);
	EXPECT_EQ (ui->editorHeight, 96);
	ASSERT_TRUE (waitFor ([&] { return viewable (static_cast<uint32_t> (wine)); }, 5.0));

	// The gain slider runs from x 152 to 350 in the row at y 12..48.
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY,
	                                       "mousemove --window " + std::to_string (wine) + " 218 30 click 1"));
	ASSERT_TRUE (
	    waitFor ([&] { return outpost->log ().find ("[GenericEditor] Gain set to ") != std::string::npos; }, 10.0))
	    << outpost->log ();
	const double gain = 66.0 / 198.0;
	const Quill::QuillParams params = savedParams ();
	EXPECT_DOUBLE_EQ (params.gain, gain) << outpost->log ();
	EXPECT_EQ (params.tone, Quill::kDefaultTone);
	expectBlockSoundsWith ({gain, Quill::kDefaultTone});
}

} // namespace
} // namespace e2e
