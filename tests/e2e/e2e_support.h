// Helpers of the end-to-end tests: the real outpost.exe under Wine in the
// test prefix, and the built QuillMarlow.vst3 loaded with dlopen the way an
// audio host loads it.
#pragma once

#include "protocol/file_regions.h"
#include "quill_dsp.h"
#include "quill_state.h"
#include "../host/stereo_buses.h"

#include "public.sdk/source/common/memorystream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace e2e {

using namespace Steinberg;

inline std::string readText (const std::string& path)
{
	std::ifstream in (path);
	return std::string (std::istreambuf_iterator<char> (in), {});
}

// Polls `done` every 10 ms for up to `seconds`.
inline bool waitFor (const std::function<bool ()>& done, double seconds)
{
	const auto end = std::chrono::steady_clock::now () + std::chrono::duration<double> (seconds);
	while (std::chrono::steady_clock::now () < end)
	{
		if (done ())
			return true;
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}
	return done ();
}

// Processes whose command line runs outpost.exe, with the shared file each
// serves; only those of this test's Wine prefix, so that other builds on the
// machine don't count.
struct OutpostProcess
{
	pid_t pid;
	std::string sharedFile;
};

inline bool inOurPrefix (const std::string& pid)
{
	const char* prefix = std::getenv ("WINEPREFIX");
	const std::string environment = readText ("/proc/" + pid + "/environ");
	return prefix && environment.find (std::string ("WINEPREFIX=") + prefix + '\0') != std::string::npos;
}

inline std::vector<OutpostProcess> runningOutposts ()
{
	std::vector<OutpostProcess> found;
	DIR* proc = ::opendir ("/proc");
	while (dirent* entry = proc ? ::readdir (proc) : nullptr)
	{
		const pid_t pid = std::atoi (entry->d_name);
		if (pid <= 0 || !inOurPrefix (entry->d_name))
			continue;
		std::string cmdline = readText ("/proc/" + std::string (entry->d_name) + "/cmdline");
		std::vector<std::string> args;
		for (size_t start = 0; start < cmdline.size ();)
		{
			const size_t end = cmdline.find ('\0', start);
			args.push_back (cmdline.substr (start, end - start));
			start = end == std::string::npos ? cmdline.size () : end + 1;
		}
		for (size_t i = 0; i + 1 < args.size (); ++i)
			if (args[i].size () >= 11 && args[i].compare (args[i].size () - 11, 11, "outpost.exe") == 0 &&
			    args[i + 1].rfind ("/tmp/tandem_", 0) == 0)
				found.push_back ({pid, args[i + 1]});
	}
	if (proc)
		::closedir (proc);
	return found;
}

// Field `n` (1-based, as in proc(5)) of a /proc stat file, such as
// /proc/PID/stat or /proc/PID/task/TID/stat; empty when it cannot be read.
inline std::string statField (const std::string& statPath, int n)
{
	const std::string stat = readText (statPath);
	const size_t close = stat.rfind (')');
	if (close == std::string::npos)
		return {};
	std::istringstream fields (stat.substr (close + 2));
	std::string field;
	for (int i = 3; fields >> field; ++i)
		if (i == n)
			return field;
	return {};
}

inline std::string statField (pid_t pid, int n)
{
	return statField ("/proc/" + std::to_string (pid) + "/stat", n);
}

// Processor time (user + system, clock ticks) used so far by a process or
// thread, from its stat file.
inline long cpuTicks (const std::string& statPath)
{
	return std::atol (statField (statPath, 14).c_str ()) + std::atol (statField (statPath, 15).c_str ());
}

// The outposts this process started (others may run on the machine),
// oldest first.
inline std::vector<OutpostProcess> ownOutposts ()
{
	std::vector<OutpostProcess> own;
	for (const auto& o : runningOutposts ())
		if (statField (o.pid, 4) == std::to_string (::getpid ()))
			own.push_back (o);
	std::sort (own.begin (), own.end (), [] (const auto& a, const auto& b) { return a.pid < b.pid; });
	return own;
}

// The audio region of an outpost's shared file, mapped here too, to switch
// its hand-shake to spin-only.
class AudioRegion
{
public:
	explicit AudioRegion (const std::string& path)
	{
		const int fd = ::open (path.c_str (), O_RDWR | O_CLOEXEC);
		if (fd < 0)
			return;
		void* base = ::mmap (nullptr, Tandem::kSharedMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
		::close (fd);
		if (base != MAP_FAILED)
			base_ = base;
	}
	~AudioRegion ()
	{
		if (base_)
			::munmap (base_, Tandem::kSharedMemorySize);
	}
	AudioRegion (const AudioRegion&) = delete;
	AudioRegion& operator= (const AudioRegion&) = delete;
	Tandem::AudioData* audio () const { return base_ ? Tandem::regionsAt (base_).audioData : nullptr; }

private:
	void* base_ = nullptr;
};

inline bool fileExists (const std::string& path)
{
	struct stat st
	{};
	return ::stat (path.c_str (), &st) == 0;
}

// A test signal that differs from block to block and channel to channel.
inline float signal (int channel, long sample)
{
	return 0.5f * static_cast<float> (std::sin (0.013 * sample * (channel + 1))) +
	       0.1f * static_cast<float> (((sample * 7919 + channel * 31) % 200) - 100) / 100.0f;
}

// Quill's expected output, computed natively from the plug-in's own DSP.
struct QuillModel
{
	explicit QuillModel (double rate, Quill::QuillParams params = {Quill::kDefaultGain, Quill::kDefaultTone})
	{
		dsp.prepare (rate);
		dsp.setGain (params.gain);
		dsp.setTone (params.tone);
	}
	Quill::QuillDsp dsp;
};

// Stereo host buffers of one block, filled with the test signal.
struct StereoBlock : StereoBuses
{
	explicit StereoBlock (int samples) : StereoBuses (samples) {}
	void fill (long firstSample)
	{
		for (int c = 0; c < 2; ++c)
			for (size_t i = 0; i < in[c].size (); ++i)
				in[c][i] = signal (c, firstSample + static_cast<long> (i));
	}
	bool passedThrough () const { return in[0] == out[0] && in[1] == out[1]; }
};

// The bundle loaded with dlopen, entered, with its factory.
class BundleModule
{
public:
	explicit BundleModule (const char* path = QM_BUNDLE_SO)
	{
		handle_ = ::dlopen (path, RTLD_NOW | RTLD_LOCAL);
		if (!handle_)
			return;
		auto entry = reinterpret_cast<bool (*) (void*)> (::dlsym (handle_, "ModuleEntry"));
		auto getFactory = reinterpret_cast<IPluginFactory* (*)()> (::dlsym (handle_, "GetPluginFactory"));
		if (entry && entry (handle_) && getFactory)
			factory_ = getFactory ();
	}
	~BundleModule ()
	{
		if (factory_)
			factory_->release ();
		if (auto exit = handle_ ? reinterpret_cast<bool (*) ()> (::dlsym (handle_, "ModuleExit")) : nullptr)
			exit ();
		if (handle_)
			::dlclose (handle_);
	}
	IPluginFactory* factory () const { return factory_; }

private:
	void* handle_ = nullptr;
	IPluginFactory* factory_ = nullptr;
};

// One QuillMarlow processor as a host drives it.
class Processor
{
public:
	// `classId`: the audio class to make, QuillMarlow's own by default.
	Processor (IPluginFactory* factory, int blockSize, double rate = 48000.0,
	           const FUID& classId = FUID (0x12345678, 0x12345678, 0x12345678, 0x12345678))
	: blockSize_ (blockSize), rate_ (rate)
	{
		factory->createInstance (classId.toTUID (), Vst::IComponent::iid, reinterpret_cast<void**> (&component_));
		if (!component_)
			return;
		component_->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor_));
		component_->initialize (nullptr);
		Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, blockSize, rate};
		processor_->setupProcessing (setup);
	}
	~Processor ()
	{
		if (!component_)
			return;
		component_->setActive (false);
		component_->terminate ();
		processor_->release ();
		component_->release ();
	}
	bool valid () const { return component_ && processor_; }
	Vst::IComponent* component () const { return component_; }
	tresult activate (bool on) { return component_->setActive (on); }
	// Sets the processor up again at another rate (while inactive).
	void setup (double rate)
	{
		rate_ = rate;
		Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, blockSize_, rate};
		processor_->setupProcessing (setup);
	}
	tresult process (StereoBlock& block, Vst::IParameterChanges* in = nullptr, Vst::IParameterChanges* out = nullptr)
	{
		Vst::ProcessData d = block.data ();
		d.inputParameterChanges = in;
		d.outputParameterChanges = out;
		return processor_->process (d);
	}
	std::vector<uint8> saveState (tresult* result = nullptr)
	{
		MemoryStream stream;
		const tresult r = component_->getState (&stream);
		if (result)
			*result = r;
		const auto* p = reinterpret_cast<const uint8*> (stream.getData ());
		return std::vector<uint8> (p, p + stream.getSize ());
	}
	tresult restoreState (const std::vector<uint8>& bytes)
	{
		MemoryStream stream;
		stream.write (const_cast<uint8*> (bytes.data ()), static_cast<int32> (bytes.size ()), nullptr);
		stream.seek (0, IBStream::kIBSeekSet, nullptr);
		return component_->setState (&stream);
	}
	int blockSize () const { return blockSize_; }
	double rate () const { return rate_; }

private:
	Vst::IComponent* component_ = nullptr;
	Vst::IAudioProcessor* processor_ = nullptr;
	int blockSize_;
	double rate_;
};

// A host-stream state holding Quill's parameters.
inline std::vector<uint8> quillStateStream (double gain, double tone)
{
	uint8 state[Quill::kStateSize];
	Quill::encodeState ({gain, tone}, state);
	// Sized once and filled: GCC 12 at -O3 takes an insert of these few
	// bytes for an overflow.
	std::vector<uint8> bytes (4 + Quill::kStateSize, 0);
	bytes[0] = static_cast<uint8> (Quill::kStateSize);
	std::copy (state, state + Quill::kStateSize, bytes.begin () + 4);
	return bytes;
}

} // namespace e2e
