#include "test_start.h"

#include "reader.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace Steinberg;

namespace quillmarlow {

namespace {

constexpr auto kServeBound = std::chrono::seconds (60);

double secondsSince (std::chrono::steady_clock::time_point start)
{
	return std::chrono::duration<double> (std::chrono::steady_clock::now () - start).count ();
}

[[noreturn]] void reply (int fd, const std::string& text)
{
	(void)!::write (fd, text.data (), text.size ());
	::_exit (0);
}

// In a child whose output goes to the log: the made bundle loaded as a host
// loads it, one class activated and given one block. Writes "ok SECONDS" or
// the reason it failed to `fd`.
[[noreturn]] void serveOnce (const std::string& library, const std::string& cid, int fd)
{
	auto answer = [fd] (const std::string& text) { reply (fd, text); };
	void* handle = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
	using Entry = bool (*) (void*);
	using GetFactory = IPluginFactory* (*)();
	auto entry = handle ? reinterpret_cast<Entry> (::dlsym (handle, "ModuleEntry")) : nullptr;
	auto get = handle ? reinterpret_cast<GetFactory> (::dlsym (handle, "GetPluginFactory")) : nullptr;
	if (!entry || !get || !entry (handle))
		answer (std::string ("the bridge's library did not load: ") + ::dlerror ());
	IPluginFactory* factory = get ();
	TUID id {};
	for (int i = 0; i < 16; ++i)
		id[i] = static_cast<char> (std::strtol (cid.substr (2 * i, 2).c_str (), nullptr, 16));
	Vst::IComponent* component = nullptr;
	if (!factory ||
	    factory->createInstance (id, Vst::IComponent::iid, reinterpret_cast<void**> (&component)) != kResultOk ||
	    !component || component->initialize (nullptr) != kResultOk)
		answer ("the made bundle did not create the test plug-in");
	Vst::IAudioProcessor* processor = nullptr;
	component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor));
	Vst::ProcessSetup setup {Vst::kOffline, Vst::kSample32, 256, 48000.0};
	if (!processor || processor->setupProcessing (setup) != kResultOk)
		answer ("the test plug-in refused its setup");
	component->activateBus (Vst::kAudio, Vst::kInput, 0, true);
	component->activateBus (Vst::kAudio, Vst::kOutput, 0, true);
	const auto start = std::chrono::steady_clock::now ();
	if (component->setActive (true) != kResultOk)
		answer ("the test plug-in was not activated (outpost did not serve it)");
	processor->setProcessing (true);
	std::vector<float> in[2] = {std::vector<float> (256, 0.5f), std::vector<float> (256, 0.5f)};
	std::vector<float> out[2] = {std::vector<float> (256), std::vector<float> (256)};
	float* ins[2] = {in[0].data (), in[1].data ()};
	float* outs[2] = {out[0].data (), out[1].data ()};
	Vst::AudioBusBuffers inBus {}, outBus {};
	inBus.numChannels = outBus.numChannels = 2;
	inBus.channelBuffers32 = ins;
	outBus.channelBuffers32 = outs;
	Vst::ProcessData data {};
	data.processMode = Vst::kOffline;
	data.symbolicSampleSize = Vst::kSample32;
	data.numSamples = 256;
	data.numInputs = data.numOutputs = 1;
	data.inputs = &inBus;
	data.outputs = &outBus;
	processor->process (data);
	const double seconds = secondsSince (start);
	// Quill plays at -6 dB: a block that passed through comes out equal.
	const bool processed = std::fabs (out[0][255] - 0.5f) > 0.05f;
	processor->setProcessing (false);
	component->setActive (false);
	processor->release ();
	component->terminate ();
	component->release ();
	reply (fd, processed ? "ok " + std::to_string (seconds)
	                     : std::string ("outpost did not answer: the block passed through"));
}

} // namespace

TestStartResult testStart (const Bridge& bridge, const std::string& prefix, const std::string& module)
{
	TestStartResult result;
	ReadRequest request;
	request.outpost = bridge.outpost;
	request.prefix = prefix;
	std::string windows = "Z:" + module;
	for (char& c : windows)
		if (c == '/')
			c = '\\';
	request.windowsModules = {windows};
	std::vector<ModuleClasses> answers;
	const auto readStart = std::chrono::steady_clock::now ();
	if (!readModules (request, answers, result.error))
		return result;
	result.readSeconds = secondsSince (readStart);
	if (answers.empty () || !answers[0].ok)
	{
		result.error = "outpost could not load the test plug-in (" +
		               (answers.empty () ? std::string ("no answer") : answers[0].error) + ")";
		return result;
	}

	// Made as sync makes a bundle, in a scratch folder.
	Tandem::ServedRecord record;
	record.prefix = prefix;
	record.source = record.module = module;
	record.windowsModule = windows;
	record.bridge = bridge.id;
	record.factory = answers[0].factory;
	std::string cid;
	for (const Tandem::ServedClass& c : answers[0].classes)
	{
		if (c.category != Tandem::kAudioModuleClass && c.category != Tandem::kComponentControllerClass)
			continue;
		record.classes.push_back (c);
		if (cid.empty () && c.category == Tandem::kAudioModuleClass)
			cid = c.cid;
	}
	char scratch[] = "/tmp/quillmarlow-doctor.XXXXXX";
	if (cid.empty () || !::mkdtemp (scratch))
	{
		result.error = cid.empty () ? "the test plug-in has no audio class" : "no scratch folder in /tmp";
		return result;
	}
	const std::string name = "QuillMarlow Doctor";
	if (!makeBundle (bridge, scratch, name, record, result.error))
	{
		fs::remove_all (scratch);
		return result;
	}
	const std::string library = std::string (scratch) + "/" + name + ".vst3/Contents/x86_64-linux/" + name + ".so";
	const std::string log = std::string (scratch) + "/bridge.log";

	int pipeFds[2];
	if (::pipe (pipeFds) != 0)
	{
		result.error = "no pipe";
		fs::remove_all (scratch);
		return result;
	}
	std::fflush (stdout);
	std::fflush (stderr);
	const pid_t pid = ::fork ();
	if (pid == 0)
	{
		::close (pipeFds[0]);
		const int fd = ::open (log.c_str (), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		if (fd >= 0)
		{
			::dup2 (fd, 1);
			::dup2 (fd, 2);
			::close (fd);
		}
		::setenv ("WINEPREFIX", prefix.c_str (), 1);
		if (!std::getenv ("WINEDEBUG"))
			::setenv ("WINEDEBUG", "-all", 1);
		serveOnce (library, cid, pipeFds[1]);
	}
	::close (pipeFds[1]);
	// The child answers, or is ended at the bound (its outpost then sees
	// its host gone and ends too).
	std::string reply;
	const auto deadline = std::chrono::steady_clock::now () + kServeBound;
	::fcntl (pipeFds[0], F_SETFL, O_NONBLOCK);
	int status = 0;
	bool ended = false;
	while (!ended)
	{
		char buffer[256];
		ssize_t n = 0;
		while ((n = ::read (pipeFds[0], buffer, sizeof buffer)) > 0)
			reply.append (buffer, static_cast<size_t> (n));
		ended = pid < 0 || ::waitpid (pid, &status, WNOHANG) == pid;
		if (!ended && std::chrono::steady_clock::now () > deadline)
		{
			::kill (pid, SIGKILL);
			::waitpid (pid, &status, 0);
			ended = true;
			reply = "no answer within 60 s";
		}
		if (!ended)
			std::this_thread::sleep_for (std::chrono::milliseconds (20));
	}
	char buffer[256];
	ssize_t n = 0;
	while ((n = ::read (pipeFds[0], buffer, sizeof buffer)) > 0)
		reply.append (buffer, static_cast<size_t> (n));
	::close (pipeFds[0]);
	if (reply.rfind ("ok ", 0) == 0)
	{
		result.ok = true;
		result.serveSeconds = std::atof (reply.c_str () + 3);
	}
	else
	{
		result.error = reply.empty () ? "the test host ended without an answer" : reply;
		std::error_code error;
		const fs::path kept =
		    fs::temp_directory_path (error) / ("quillmarlow-doctor-" + std::to_string (::getpid ()) + ".log");
		fs::copy_file (log, kept, fs::copy_options::overwrite_existing, error);
		if (!error)
			result.log = kept.string ();
	}
	fs::remove_all (scratch);
	return result;
}

} // namespace quillmarlow
