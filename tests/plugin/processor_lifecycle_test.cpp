#include "host_objects.h"
#include "test_support.h"

#include "plugin/controller.h"

#include "pluginterfaces/vst/ivsthostapplication.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace QuillMarlowTest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string shmPath (const TestProcessor& p)
{
	return "/tmp/tandem_" + std::to_string (p.instanceId ()) + ".shm";
}

TEST (ProcessorRegistry, IdsAreConsecutiveAndEveryInstanceIsCounted)
{
	testing::internal::CaptureStdout ();
	auto* a = new TestProcessor;
	auto* b = new TestProcessor;
	EXPECT_EQ (b->instanceId (), a->instanceId () + 1);
	const int32 idA = a->instanceId (), idB = b->instanceId ();
	a->release ();
	b->release ();
	const std::string out = capturedStdout ();
	const std::string a_ = "[QuillMarlow #" + std::to_string (idA) + "] ";
	const std::string b_ = "[QuillMarlow #" + std::to_string (idB) + "] ";
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] New instance created with ID: " + std::to_string (idA) + "\n"));
	EXPECT_THAT (out, HasSubstr (a_ + "Registered (total: 1)\n"));
	EXPECT_THAT (out, HasSubstr (b_ + "Registered (total: 2)\n"));
	EXPECT_THAT (out, HasSubstr (a_ + "Unregistered (remaining: 1)\n"));
	EXPECT_THAT (out, HasSubstr (b_ + "Unregistered (remaining: 0)\n"));
	// Ids start at pid * 1000 in this process (no wrap for small pids).
	if (static_cast<int64_t> (::getpid ()) * 1000 <= INT32_MAX)
	{
		EXPECT_GE (idA, static_cast<int32> (::getpid () * 1000));
	}
}

TEST (ProcessorRegistry, FindActiveCommandRegionFollowsTheMappedFiles)
{
	HostedProcessor first;
	HostedProcessor second;
	EXPECT_EQ (InstanceRegistry::findActiveUICommand (), nullptr);

	ASSERT_EQ (second->setActive (true), kResultOk);
	EXPECT_EQ (InstanceRegistry::findActiveUICommand (), second->sharedMemory ().uiCommand ());

	ASSERT_EQ (first->setActive (true), kResultOk);
	EXPECT_EQ (InstanceRegistry::findActiveUICommand (), first->sharedMemory ().uiCommand ())
	    << "the earliest-constructed processor with a mapped file wins";

	EXPECT_EQ (first->terminate (), kResultOk);
	EXPECT_EQ (InstanceRegistry::findActiveUICommand (), second->sharedMemory ().uiCommand ());
	second->cleanupSharedMemory ();
	EXPECT_EQ (InstanceRegistry::findActiveUICommand (), nullptr);
}

// A host context that answers the host interface but makes no objects.
class ContextWithoutMessages : public Vst::IHostApplication
{
public:
	tresult PLUGIN_API getName (Vst::String128 name) override
	{
		name[0] = 0;
		return kResultOk;
	}
	tresult PLUGIN_API createInstance (TUID, TUID, void** obj) override
	{
		*obj = nullptr;
		return kNotImplemented;
	}
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		return answerAs<Vst::IHostApplication> (this, iid, obj);
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
};

// Without the host's messages (no context at all, or one that cannot make
// an IMessage) each controller still learns its own processor's id.
TEST (ProcessorRegistry, ControllersLearnTheirProcessorsIdWhenTheHostMakesNoMessages)
{
	ContextWithoutMessages context;
	FUnknown* contexts[] = {nullptr, &context};
	testing::internal::CaptureStdout ();
	testing::internal::CaptureStderr ();
	for (FUnknown* hostContext : contexts)
	{
		HostedProcessor pair[2] = {HostedProcessor ("serve", 1024, 48000.0, hostContext),
		                           HostedProcessor ("serve", 1024, 48000.0, hostContext)};
		for (HostedProcessor& processor : pair)
		{
			auto* controller = new QuillMarlow::QuillMarlowController;
			ASSERT_EQ (controller->initialize (hostContext), kResultOk);
			auto* controllerPoint = static_cast<Vst::IConnectionPoint*> (controller);
			ASSERT_EQ (controllerPoint->connect (processor.p), kResultOk);
			ASSERT_EQ (processor->connect (controllerPoint), kResultOk);
			int32 learned = -1;
			EXPECT_TRUE (controller->connectedProcessor (learned));
			EXPECT_EQ (learned, processor->instanceId ());
			processor->disconnect (controllerPoint);
			controllerPoint->disconnect (processor.p);
			controller->terminate ();
			controller->release ();
		}
	}
	capturedStdout ();
	EXPECT_THAT (testing::internal::GetCapturedStderr (), Not (HasSubstr ("instance id")));
}

TEST (ProcessorLifecycle, BasicsOfTheComponent)
{
	HostedProcessor p;
	EXPECT_EQ (p->canProcessSampleSize (Vst::kSample32), kResultTrue);
	EXPECT_EQ (p->canProcessSampleSize (Vst::kSample64), kResultFalse);
	EXPECT_EQ (p->getBusCount (Vst::kAudio, Vst::kInput), 1);
	EXPECT_EQ (p->getBusCount (Vst::kAudio, Vst::kOutput), 1);
	Vst::SpeakerArrangement arr = 0;
	EXPECT_EQ (p->getBusArrangement (Vst::kOutput, 0, arr), kResultTrue);
	EXPECT_EQ (arr, Vst::SpeakerArr::kStereo);
	TUID controller;
	EXPECT_EQ (p->getControllerClassId (controller), kResultOk);
	EXPECT_EQ (FUID::fromTUID (controller), FUID (0x87654321, 0x87654321, 0x87654321, 0x87654321));
	// Never activated: terminating leaves nothing to clean.
	p->cleanupSharedMemory ();
	EXPECT_FALSE (p->sharedMemory ().isMapped ());
}

TEST (ProcessorLifecycle, ActivationLaunchesWaitsForReadinessAndReuses)
{
	testing::internal::CaptureStdout ();
	pid_t pid = -1;
	std::string path;
	{
		HostedProcessor p ("serve", 512, 44100.0);
		path = shmPath (*p.p);
		ASSERT_EQ (p->setActive (true), kResultOk);
		pid = p->outpostPid ();
		EXPECT_GT (pid, 0);
		EXPECT_TRUE (fileExists (path));
		EXPECT_EQ (p->audio ()->numSamples, 512) << "audio parameters written before the launch";
		EXPECT_EQ (p->audio ()->sampleRate, 44100.0);

		EXPECT_EQ (p->setActive (false), kResultOk);
		EXPECT_EQ (p->setActive (true), kResultOk);
		EXPECT_EQ (p->outpostPid (), pid) << "a live outpost is reused";
		EXPECT_TRUE (processExists (pid));
	}
	const std::string out = capturedStdout ();
	EXPECT_FALSE (fileExists (path)) << "terminate removes the file";
	EXPECT_FALSE (processExists (pid)) << "terminate stops and reaps outpost";
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Setup: 44100 Hz, 512 samples\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Activation du plugin...\n"));
	EXPECT_THAT (out, HasSubstr ("] Fichier mappé créé: " + path + "\n"));
	EXPECT_THAT (out, HasSubstr ("] UICommand at offset 0, AudioData at offset 40\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Lancement du outpost...\n"));
	EXPECT_THAT (out,
	             HasSubstr ("[QuillMarlow] VST3 path: C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Shared file: " + path + "\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Audio params: 44100 Hz, 512 samples\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Waiting for outpost to initialize audio...\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Outpost audio ready!\n[QuillMarlow] Outpost lancé (PID: " +
	                             std::to_string (pid) + ")\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Plugin activé avec succès\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Désactivation du plugin (outpost maintenu en vie)\n"));
	EXPECT_THAT (out,
	             HasSubstr ("[QuillMarlow] outpost déjà actif (PID: " + std::to_string (pid) + "), réutilisation\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Terminaison du outpost...\n"));
}

TEST (ProcessorLifecycle, ActivationAfterOutpostWasKilledStartsAFreshOne)
{
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	const pid_t first = p->outpostPid ();
	p->audio ()->numSamples = 77;
	p->sharedMemory ().stateData ()->stateSize = 5;
	ASSERT_EQ (p->setActive (false), kResultOk);

	ASSERT_EQ (::kill (first, SIGKILL), 0);
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	testing::internal::CaptureStdout ();
	ASSERT_EQ (p->setActive (true), kResultOk);
	const std::string out = capturedStdout ();
	EXPECT_THAT (out, Not (HasSubstr ("réutilisation")));
	EXPECT_THAT (out, HasSubstr ("Outpost audio ready!"));
	EXPECT_NE (p->outpostPid (), first);
	EXPECT_FALSE (processExists (first)) << "the dead child was reaped";
	EXPECT_EQ (p->sharedMemory ().stateData ()->stateSize, 0) << "file re-created from scratch";
	EXPECT_EQ (p->audio ()->numSamples, 1024);
}

TEST (ProcessorLifecycle, OutpostThatNeverReportsReadinessStillCountsAsLaunched)
{
	testing::internal::CaptureStdout ();
	testing::internal::CaptureStderr ();
	HostedProcessor p ("idle");
	EXPECT_EQ (p->setActive (true), kResultOk);
	const pid_t pid = p->outpostPid ();
	const std::string out = capturedStdout ();
	const std::string err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (err, HasSubstr ("[QuillMarlow] Timeout waiting for outpost audio init!\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Outpost lancé (PID: " + std::to_string (pid) + ")\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlow] Plugin activé avec succès"));
	EXPECT_TRUE (processExists (pid));
}

// An outpost.exe of another build must not misread the file: it is told
// apart, said so in one line, stopped, and audio passes through.
TEST (ProcessorLifecycle, AnOutpostOfAnotherBuildIsRefusedClearly)
{
	testing::internal::CaptureStderr ();
	HostedProcessor p ("otherbuild");
	EXPECT_EQ (p->setActive (true), kResultOk);
	const std::string err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (err, HasSubstr ("] outpost.exe comes from another build (it speaks no version of the shared file, "
	                             "this plug-in version " +
	                             std::to_string (Tandem::kSessionVersion) +
	                             "): audio passes through unprocessed; reinstall QuillMarlow.vst3 as one bundle\n"));
	EXPECT_THAT (err, Not (HasSubstr ("outpost has ended")));
	EXPECT_EQ (p->outpostPid (), -1) << "stopped";
	Bus in (2, 64), out (2, 64);
	in.fill (1.0f);
	Vst::ProcessData d = block (in, out, 64);
	p->process (d);
	EXPECT_EQ (out.data, in.data) << "passed through";
}

// A served plug-in that refuses the host's set-up fails the host's
// activation, as the plug-in itself would.
TEST (ProcessorLifecycle, AServedPlugInThatRefusesToActivateFailsTheActivation)
{
	testing::internal::CaptureStderr ();
	HostedProcessor p ("refusing", 512, 44100.0);
	EXPECT_EQ (p->setActive (true), kResultFalse);
	EXPECT_THAT (
	    testing::internal::GetCapturedStderr (),
	    HasSubstr ("] The served plug-in refused its activation at 44100 Hz, 512 samples, realtime (result 1)"));
	EXPECT_GT (p->outpostPid (), 0) << "outpost stays for the next activation";
}

TEST (ProcessorLifecycle, FailedFileCreationFailsActivation)
{
	HostedProcessor p;
	// Occupy the processor's file name with a directory: it cannot be created.
	const std::string path = shmPath (*p.p);
	ASSERT_EQ (::mkdir (path.c_str (), 0700), 0);
	testing::internal::CaptureStderr ();
	EXPECT_EQ (p->setActive (true), kResultFalse);
	const std::string err = testing::internal::GetCapturedStderr ();
	::rmdir (path.c_str ());
	EXPECT_THAT (err, HasSubstr ("] Erreur shared memory: "));
	EXPECT_THAT (err, HasSubstr ("[QuillMarlow] Erreur: Impossible d'initialiser la mémoire partagée\n"));
	EXPECT_EQ (p->outpostPid (), -1) << "nothing was started";
}

} // namespace
} // namespace QuillMarlowTest
