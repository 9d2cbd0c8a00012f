// Shared helpers of the plug-in tests: a processor that starts the native
// stand-in instead of Wine, host-side buffers and streams.
#pragma once

#include "plugin/processor.h"

#include "log/log.h"

#include "public.sdk/source/common/memorystream.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace QuillMarlowTest {

// What was captured from standard output, with the lines that audio
// threads handed off written first.
inline std::string capturedStdout ()
{
	Tandem::flushLog ();
	return testing::internal::GetCapturedStdout ();
}

using namespace Steinberg;
using Steinberg::QuillMarlow::InstanceRegistry;
using Steinberg::QuillMarlow::QuillMarlowProcessor;

// Starts fake_outpost in the given mode where the product would start Wine.
class TestProcessor : public QuillMarlowProcessor
{
public:
	explicit TestProcessor (std::string mode = "serve") : mode_ (std::move (mode)) {}

	using QuillMarlowProcessor::audioOkCount;
	using QuillMarlowProcessor::cleanupSharedMemory;
	using QuillMarlowProcessor::initSharedMemory;
	using QuillMarlowProcessor::outpostPid;
	using QuillMarlowProcessor::sharedMemory;
	using QuillMarlowProcessor::timeoutCount;

	Tandem::AudioData* audio () const { return sharedMemory ().audioData (); }
	const Tandem::SharedMemoryCreator& shm () const { return sharedMemory (); }
	Tandem::UICommand* ui () const { return sharedMemory ().uiCommand (); }
	std::string mode_;

protected:
	void adjustOutpostConfig (Tandem::OutpostConfig& config) override
	{
		config.winePath = FAKE_OUTPOST_PATH;
		config.hostPath = mode_;
	}
};

// Owns a processor the way a host does: initialize, setupProcessing, and
// terminate plus release at the end.
struct HostedProcessor
{
	explicit HostedProcessor (std::string mode = "serve", int32 maxBlock = 1024, double rate = 48000.0,
	                          FUnknown* hostContext = nullptr)
	: p (new TestProcessor (std::move (mode)))
	{
		EXPECT_EQ (p->initialize (hostContext), kResultOk);
		Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, maxBlock, rate};
		EXPECT_EQ (p->setupProcessing (setup), kResultOk);
	}
	~HostedProcessor ()
	{
		p->terminate ();
		p->release ();
	}
	TestProcessor* operator->() const { return p; }
	TestProcessor* p;
};

// Non-interleaved host buffers for one bus.
struct Bus
{
	Bus (int32 channels, int32 samples) : data (channels, std::vector<float> (samples)), ptrs (channels)
	{
		for (int32 c = 0; c < channels; ++c)
			ptrs[c] = data[c].data ();
		buffers.numChannels = channels;
		buffers.silenceFlags = 0;
		buffers.channelBuffers32 = ptrs.empty () ? nullptr : ptrs.data ();
	}
	void fill (float base)
	{
		for (size_t c = 0; c < data.size (); ++c)
			for (size_t i = 0; i < data[c].size (); ++i)
				data[c][i] = base + static_cast<float> (c * 100000 + i);
	}
	std::vector<std::vector<float>> data;
	std::vector<float*> ptrs;
	Vst::AudioBusBuffers buffers {};
};

inline Vst::ProcessData block (Bus& in, Bus& out, int32 samples)
{
	Vst::ProcessData d {};
	d.processMode = Vst::kRealtime;
	d.symbolicSampleSize = Vst::kSample32;
	d.numSamples = samples;
	d.numInputs = 1;
	d.numOutputs = 1;
	d.inputs = &in.buffers;
	d.outputs = &out.buffers;
	return d;
}

// Processes one block until it went through outpost (not passed through):
// on a loaded machine the stand-in may miss the block time-out now and then.
inline bool exchangeData (TestProcessor& p, Vst::ProcessData& d)
{
	for (int attempt = 0; attempt < 500; ++attempt)
	{
		const int32 before = p.audioOkCount ();
		p.process (d);
		if (p.audioOkCount () > before)
			return true;
		std::this_thread::sleep_for (std::chrono::milliseconds (2));
	}
	return false;
}

inline bool exchange (TestProcessor& p, Bus& in, Bus& out, int32 samples)
{
	Vst::ProcessData d = block (in, out, samples);
	return exchangeData (p, d);
}

// A host stream holding `size` followed by `bytes`.
inline IPtr<MemoryStream> stateStream (int32 size, const std::vector<uint8>& bytes)
{
	auto stream = owned (new MemoryStream ());
	stream->write (&size, 4, nullptr);
	if (!bytes.empty ())
		stream->write (const_cast<uint8*> (bytes.data ()), static_cast<int32> (bytes.size ()), nullptr);
	stream->seek (0, IBStream::kIBSeekSet, nullptr);
	return stream;
}

inline std::vector<uint8> streamBytes (MemoryStream& stream)
{
	const auto* p = reinterpret_cast<const uint8*> (stream.getData ());
	return std::vector<uint8> (p, p + stream.getSize ());
}

inline std::vector<uint8> pattern (size_t size, uint8 seed)
{
	std::vector<uint8> v (size);
	for (size_t i = 0; i < size; ++i)
		v[i] = static_cast<uint8> (seed + i * 7 + (i >> 8));
	return v;
}

inline bool fileExists (const std::string& path)
{
	struct stat st
	{};
	return ::lstat (path.c_str (), &st) == 0;
}

inline bool processExists (pid_t pid)
{
	return ::kill (pid, 0) == 0;
}

} // namespace QuillMarlowTest
