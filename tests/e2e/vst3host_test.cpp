// The command-line host as a user runs it: its errors, and a sound file
// through the real bridge.
#include "e2e_support.h"

#include <gmock/gmock.h>
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

using ::testing::HasSubstr;

struct HostRun
{
	int code;
	std::string output;
};

// Runs vst3host with its output (and outpost's) in a file.
HostRun vst3host (const std::string& args)
{
	char path[] = "/tmp/qm_vst3host_XXXXXX";
	const int fd = ::mkstemp (path);
	::close (fd);
	const std::string command = std::string (VST3HOST) + " " + args + " >" + path + " 2>&1 </dev/null";
	const int status = std::system (command.c_str ());
	HostRun run {WIFEXITED (status) ? WEXITSTATUS (status) : -1, readText (path)};
	::unlink (path);
	return run;
}

std::string scratch (const std::string& name)
{
	return "/tmp/qm_vst3host_" + std::to_string (::getpid ()) + "_" + name;
}

bool writeWav (const std::string& path, int channels, long frames, float (*sample) (int, long))
{
	SF_INFO info {};
	info.channels = channels;
	info.samplerate = 48000;
	info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
	SNDFILE* file = sf_open (path.c_str (), SFM_WRITE, &info);
	if (!file)
		return false;
	std::vector<float> pcm (static_cast<size_t> (frames) * channels);
	for (long i = 0; i < frames; ++i)
		for (int c = 0; c < channels; ++c)
			pcm[static_cast<size_t> (i) * channels + c] = sample (c, i);
	sf_writef_float (file, pcm.data (), frames);
	return sf_close (file) == 0;
}

std::vector<std::vector<float>> readWav (const std::string& path)
{
	SF_INFO info {};
	SNDFILE* file = sf_open (path.c_str (), SFM_READ, &info);
	if (!file)
		return {};
	std::vector<float> pcm (static_cast<size_t> (info.frames) * info.channels);
	sf_readf_float (file, pcm.data (), info.frames);
	sf_close (file);
	std::vector<std::vector<float>> channels (info.channels, std::vector<float> (info.frames));
	for (long i = 0; i < info.frames; ++i)
		for (int c = 0; c < info.channels; ++c)
			channels[c][i] = pcm[static_cast<size_t> (i) * info.channels + c];
	return channels;
}

const std::string kBundle = std::string (QM_BUNDLE_SO).substr (0, std::string (QM_BUNDLE_SO).find ("/Contents/"));

TEST (Vst3Host, ClearErrorsAndNonZeroExits)
{
	EXPECT_EQ (vst3host ("").code, 2);
	EXPECT_THAT (vst3host ("").output, HasSubstr ("usage: vst3host list BUNDLE"));
	EXPECT_EQ (vst3host ("frobnicate x").code, 2);
	EXPECT_EQ (vst3host ("process " + kBundle + " a.wav b.wav --block").code, 2);
	EXPECT_EQ (vst3host ("process " + kBundle + " a.wav b.wav --bogus 1").code, 2);

	HostRun r = vst3host ("list /nonexistent/Thing.vst3");
	EXPECT_EQ (r.code, 1);
	EXPECT_THAT (r.output, HasSubstr ("vst3host: no such bundle: /nonexistent/Thing.vst3"));

	// A bundle whose library exports no factory.
	const std::string dir = scratch ("bundles");
	std::system (("mkdir -p " + dir +
	              "/Fake.vst3/Contents/x86_64-linux && cp /usr/lib/x86_64-linux-gnu/libsndfile.so.1 " + dir +
	              "/Fake.vst3/Contents/x86_64-linux/Fake.so")
	                 .c_str ());
	r = vst3host ("list " + dir + "/Fake.vst3");
	EXPECT_EQ (r.code, 1);
	EXPECT_THAT (r.output, HasSubstr ("bundle has no VST 3 factory"));
	std::system (("rm -rf " + dir).c_str ());

	r = vst3host ("process " + kBundle + " /etc/passwd " + scratch ("out.wav"));
	EXPECT_EQ (r.code, 1);
	EXPECT_THAT (r.output, HasSubstr ("vst3host: cannot read /etc/passwd"));
	r = vst3host ("process " + kBundle + " /nonexistent.wav " + scratch ("out.wav"));
	EXPECT_EQ (r.code, 1);
	EXPECT_THAT (r.output, HasSubstr ("vst3host: cannot read /nonexistent.wav"));

	const std::string in = scratch ("in.wav");
	ASSERT_TRUE (writeWav (in, 2, 4800, [] (int c, long i) { return signal (c, i); }));
	r = vst3host ("process " + kBundle + " " + in + " /nonexistent/dir/out.wav");
	EXPECT_EQ (r.code, 1);
	EXPECT_THAT (r.output, HasSubstr ("vst3host: cannot write /nonexistent/dir/out.wav"));
	::unlink (in.c_str ());

	r = vst3host ("editor " + kBundle + " --seconds 0");
	::setenv ("DISPLAY", "", 1);
	r = vst3host ("editor " + kBundle);
	::setenv ("DISPLAY", WINE_TEST_DISPLAY, 1);
	EXPECT_EQ (r.code, 1);
	EXPECT_THAT (r.output, HasSubstr ("the editor needs an X display"));
}

TEST (Vst3Host, ProcessGivesQuillsResultAndStatesRoundTrip)
{
	const std::string in = scratch ("in.wav"), out = scratch ("out.wav"), again = scratch ("again.wav");
	const std::string state = scratch ("state"), restored = scratch ("restored");
	const long frames = 48000;
	ASSERT_TRUE (writeWav (in, 2, frames, [] (int c, long i) { return signal (c, i); }));

	HostRun r =
	    vst3host ("process " + kBundle + " " + in + " " + out + " --block 256 --realtime --save-state " + state);
	ASSERT_EQ (r.code, 0) << r.output;
	EXPECT_THAT (r.output, HasSubstr ("blocks: 188 (256 samples at 48000 Hz)"));
	EXPECT_THAT (r.output, HasSubstr ("changed by the plug-in: "));
	EXPECT_THAT (r.output, HasSubstr ("deadline misses: "));

	// Block by block against Quill's DSP run here; after a block that
	// passed through, the filter memory is let decay before comparing again.
	const auto input = readWav (in);
	const auto output = readWav (out);
	ASSERT_EQ (output.size (), 2u);
	ASSERT_EQ (output[0].size (), static_cast<size_t> (frames));
	QuillModel model (48000.0);
	int compared = 0, unverified = 0;
	std::vector<float> expected[2] = {std::vector<float> (256), std::vector<float> (256)};
	for (long start = 0; start + 256 <= frames; start += 256)
	{
		const bool passed =
		    std::equal (input[0].begin () + start, input[0].begin () + start + 256, output[0].begin () + start);
		if (passed)
		{
			unverified = 1024;
			continue;
		}
		const float* ins[2] = {input[0].data () + start, input[1].data () + start};
		float* outs[2] = {expected[0].data (), expected[1].data ()};
		model.dsp.process (ins, outs, 2, 256);
		if ((unverified -= 256) > -256)
			continue;
		for (int c = 0; c < 2; ++c)
			for (int i = 0; i < 256; ++i)
				ASSERT_NEAR (output[c][start + i], expected[c][i], 2e-6f * std::max (1.0f, std::fabs (expected[c][i])))
				    << "sample " << start + i;
		++compared;
	}
	EXPECT_GT (compared, 120) << "most blocks went through Quill\n" << r.output;

	r = vst3host ("process " + kBundle + " " + in + " " + again + " --load-state " + state + " --save-state " +
	              restored);
	ASSERT_EQ (r.code, 0) << r.output;
	EXPECT_EQ (readText (state), readText (restored)) << "state restored bit-exact";
	EXPECT_EQ (readText (state).size (), 4 + Quill::kStateSize);
	for (const auto& f : {in, out, again, state, restored})
		::unlink (f.c_str ());
}

// A standard MIDI file of one track (480 ticks a beat at the default 120
// beats a minute: a tick is 1/960 s): each message after its delta.
void writeMidi (const std::string& path, const std::vector<std::pair<int, std::string>>& messages)
{
	std::string track;
	for (const auto& [delta, bytes] : messages)
	{
		if (delta >= 128)
			track += static_cast<char> (0x80 | (delta >> 7));
		track += static_cast<char> (delta & 0x7f);
		track += bytes;
	}
	track += std::string ("\x00\xff\x2f\x00", 4);
	auto be32 = [] (size_t n) {
		return std::string {static_cast<char> (n >> 24), static_cast<char> (n >> 16), static_cast<char> (n >> 8),
		                    static_cast<char> (n)};
	};
	std::ofstream (path, std::ios::binary)
	    << std::string ("MThd\0\0\0\x06\0\0\0\x01\x01\xe0", 14) << "MTrk" << be32 (track.size ()) << track;
}

// The project's test instrument installed in the test prefix under a name
// of its own, its bundle made by sync, and notes played into it from a
// MIDI file with no sound file: each note sounds from its own sample, and
// what the instrument sends back comes out as a MIDI file.
TEST (Vst3Host, NotesFromAMidiFileSoundFromTheirTimeInAMadeInstrument)
{
	namespace fs = std::filesystem;
	const fs::path installed = fs::path (WINE_TEST_PREFIX) / "drive_c/Program Files/Common Files/VST3/QMMidi";
	const std::string made = scratch ("made"), notes = scratch ("notes.mid"), out = scratch ("synth.wav"),
	                  back = scratch ("back.mid");
	struct Cleanup
	{
		std::vector<std::string> paths;
		~Cleanup ()
		{
			for (const auto& p : paths)
				fs::remove_all (p);
		}
	} cleanup {{installed.string (), made, made + ".cache", notes, out, back}};
	fs::create_directories (installed);
	fs::copy (SERVED_DIR "/instrument/Quill.vst3", installed / "Quill Synth.vst3", fs::copy_options::recursive);
	const int synced = std::system (
	    ("XDG_CACHE_HOME='" + made + ".cache' " + QUILLMARLOW + " sync --vst3-dir '" + made + "' >/dev/null 2>&1")
	        .c_str ());
	ASSERT_EQ (synced, 0);
	const std::string bundle = "'" + made + "/Quill Synth.vst3'";

	// A (69) from 0.5 s to 1 s, C (72) from 1.25 s to 1.5 s.
	writeMidi (notes, {{480, "\x90\x45\x64"},
	                   {480, std::string ("\x80\x45\x00", 3)},
	                   {240, "\x90\x48\x64"},
	                   {240, std::string ("\x80\x48\x00", 3)}});
	HostRun r =
	    vst3host ("process " + bundle + " " + out + " --midi " + notes + " --midi-out " + back + " --block 256");
	ASSERT_EQ (r.code, 0) << r.output;
	EXPECT_THAT (r.output, HasSubstr ("MIDI messages played: 4 of 4"));
	EXPECT_THAT (r.output, HasSubstr ("(4 MIDI messages from the plug-in)"));
	const auto sound = readWav (out);
	ASSERT_EQ (sound.size (), 2u);
	ASSERT_GE (sound[0].size (), 72000u);
	// The instrument's sine starts at phase 0 on its note's sample.
	auto firstSound = [&] (size_t from) {
		for (size_t i = from; i < sound[0].size (); ++i)
			if (sound[0][i] != 0.0f)
				return i;
		return sound[0].size ();
	};
	EXPECT_EQ (firstSound (0), 24001u);
	EXPECT_EQ (firstSound (48000), 60001u);
	EXPECT_NE (sound[0][47999], 0.0f);
	EXPECT_EQ (readText (back).substr (0, 4), "MThd");
}

} // namespace
} // namespace e2e
