#include "session_service.h"

#include "log/log.h"
#include "shared_file_view.h"

#include "protocol/handshake.h"

namespace Tandem {

namespace {

constexpr const char* kOtherBuild = "[Outpost] The plug-in and this outpost.exe come from different builds: ";
constexpr const char* kRefused = ". Refusing the file; reinstall QuillMarlow.vst3 as one bundle";

} // namespace

bool sharedFileSizeFits (std::int64_t size)
{
	if (size >= static_cast<std::int64_t> (kFileSize))
		return true;
	if (size >= static_cast<std::int64_t> (kSharedMemorySize))
		logError () << kOtherBuild << "the shared file has " << size << " bytes, this outpost.exe needs " << kFileSize
		            << kRefused;
	else
		logError () << "[Outpost] Failed to create file mapping";
	return false;
}

bool SessionService::acceptRegion ()
{
	SessionData& session = *instance_.regions.session;
	// Said first, also when refused: the plug-in then knows why we leave.
	session.outpostVersion.store (kSessionVersion, std::memory_order_release);
	if (sessionHeaderMatches (session))
		return true;
	if (session.magic != kSessionMagic)
		logError () << kOtherBuild << "the shared file has no session region this outpost.exe knows" << kRefused;
	else
		logError () << kOtherBuild << "the shared file speaks version " << session.version << " (" << session.size
		            << " bytes), this outpost.exe version " << kSessionVersion << " (" << sizeof (SessionData)
		            << " bytes)" << kRefused;
	return false;
}

void SessionService::activate ()
{
	SessionData& session = *instance_.regions.session;
	PluginInstance* plugin = instance_.plugin.get ();
	const Steinberg::Vst::ProcessSetup setup {session.processMode, session.symbolicSampleSize,
	                                          session.maxSamplesPerBlock, session.sampleRate};
	logInfo () << "[Outpost] Received Activate command: " << setup.sampleRate << " Hz, " << setup.maxSamplesPerBlock
	           << " samples, mode " << setup.processMode;
	// The set-up comes from the other process: one the slots cannot carry,
	// or no rate at all, is not handed to the plug-in.
	Steinberg::tresult result = Steinberg::kInvalidArgument;
	if (!plugin)
		result = Steinberg::kResultFalse;
	else if (setup.sampleRate > 0.0 && setup.maxSamplesPerBlock >= 1 && setup.maxSamplesPerBlock <= kMaxBlockSize &&
	         (setup.symbolicSampleSize == Steinberg::Vst::kSample32 ||
	          setup.symbolicSampleSize == Steinberg::Vst::kSample64))
	{
		touchBlockPages (instance_.regions, setup.maxSamplesPerBlock);
		result = plugin->activate (setup);
	}
	else
		logError () << "[Outpost] Refusing an activation outside what the file carries";
	session.activateResult = result;
	// Plug-ins apply a new latency at activation: read it after.
	latency_.publish (true);
	session.latencySamples = latency_.latency ();
	session.tailSamples = latency_.tail ();
	// The processing state the host asked for meanwhile takes effect now.
	audio_.wake ();
}

void SessionService::deactivate ()
{
	logInfo () << "[Outpost] Received Deactivate command";
	if (instance_.plugin)
		instance_.plugin->deactivate ();
}

} // namespace Tandem
