#include "plugin/shared_memory.h"

#include "log/log.h"
#include "plugin/file_claim.h"

#include <atomic>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tandem {

namespace {

// Locks each page of the range once it is touched (kernels before 4.4:
// every page at once).
bool lockAsTouched (void* start, std::size_t size)
{
	if (::mlock2 (start, size, MLOCK_ONFAULT) == 0)
		return true;
	return (errno == ENOSYS || errno == EINVAL) && ::mlock (start, size) == 0;
}

} // namespace

SharedMemoryCreator::~SharedMemoryCreator ()
{
	unmapAndClose ();
}

bool SharedMemoryCreator::isMapped () const
{
	return data_ != nullptr && data_ != MAP_FAILED;
}

CreateResult SharedMemoryCreator::create (const std::string& path)
{
	release ();
	path_ = path;
	size_ = kFileSize;

	// A file has one creator while it is mapped: a second one, in this
	// process (another bundle's copy of this library counts instance ids
	// from the same start) or in another, leaves it as it is, and so does
	// one that finds an outpost still mapping it (its host gone a moment
	// ago: that outpost removes it as it leaves).
	FileClaim claim = claimFile (path_);
	if (claim.outcome != FileClaim::kTaken)
	{
		path_.clear ();
		return {false, claim.outcome == FileClaim::kInUse ? path + " is in use" : claim.error,
		        claim.outcome == FileClaim::kInUse};
	}
	fd_ = claim.fd;
	struct stat st
	{};
	if (::fstat (fd_, &st) == 0 && (st.st_mode & 0077) != 0)
	{
		::fchmod (fd_, 0600);
	}

	if (::ftruncate (fd_, static_cast<off_t> (size_)) != 0)
	{
		std::string error = std::string ("ftruncate failed: ") + std::strerror (errno);
		::unlink (path_.c_str ());
		::close (fd_);
		fd_ = -1;
		return {false, error};
	}

	// The part the audio path touches is locked as it is touched: /tmp is on
	// disk here, and the audio path must not wait for a page read back.
	// Beyond the channel slots, which are cleared below, only the pages a
	// session uses cost memory; the others are touched at activation. Hosts
	// limit locked memory; without the lock the bridge still works, with a
	// page fault now and then. The parameter list beyond is read as it is
	// used.
	data_ = ::mmap (nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
	if (data_ == MAP_FAILED)
	{
		std::string error = std::string ("mmap failed: ") + std::strerror (errno);
		::unlink (path_.c_str ());
		::close (fd_);
		fd_ = -1;
		data_ = nullptr;
		return {false, error};
	}

	bool locked = lockAsTouched (data_, kAudioPartSize);
	for (const LockedRange& range : kLockedBusRanges)
		locked = locked && lockAsTouched (static_cast<unsigned char*> (data_) + range.offset, range.size);
	if (!locked)
	{
		static std::atomic<bool> reported {false};
		if (!reported.exchange (true))
			logError () << "[QuillMarlow] Could not lock the shared file in memory (" << std::strerror (errno)
			            << "); audio may page-fault";
	}

	const Regions regions = regionsAt (data_);
	uiCommand_ = regions.uiCommand;
	audioData_ = regions.audioData;
	stateData_ = regions.stateData;
	sessionData_ = regions.session;
	parameterData_ = regions.parameters;
	busData_ = regions.buses;
	eventData_ = regions.events;
	initialiseRegions ();
	return {true, {}};
}

void SharedMemoryCreator::initialiseRegions ()
{
	uiCommand_->command = static_cast<std::int32_t> (CommandCode::Idle);
	uiCommand_->editCount.store (0, std::memory_order_relaxed);
	uiCommand_->processed.store (true, std::memory_order_relaxed);
	uiCommand_->editorSizeReport.store (0, std::memory_order_relaxed);
	uiCommand_->parentWindow = 0;
	uiCommand_->wineWindow = 0;
	uiCommand_->editorWidth = 800;
	uiCommand_->editorHeight = 600;

	audioData_->inputReady.store (0, std::memory_order_relaxed);
	audioData_->outputReady.store (0, std::memory_order_relaxed);
	audioData_->audioReady.store (0, std::memory_order_relaxed);
	fullFence ();
	audioData_->numSamples = 0;
	audioData_->numChannels = 2;
	audioData_->sampleRate = 48000.0;
	std::memset (audioData_->inputBuffers, 0, sizeof (audioData_->inputBuffers));
	std::memset (audioData_->outputBuffers, 0, sizeof (audioData_->outputBuffers));

	// stateBuffer keeps whatever the file held; only the size says what is valid.
	stateData_->stateReady.store (false, std::memory_order_relaxed);
	stateData_->stateSize = 0;

	// The session region says which build wrote the file; the host's
	// session is written into it before outpost needs it.
	std::memset (static_cast<void*> (sessionData_), 0, sizeof (SessionData));
	writeSessionHeader (*sessionData_);

	// No list until outpost publishes one; the rings and the request empty.
	ParameterData& parameters = *parameterData_;
	parameters.block.inputCount = 0;
	parameters.block.outputCount = 0;
	std::memset (static_cast<void*> (&parameters.request), 0, sizeof parameters.request);
	std::memset (static_cast<void*> (&parameters.hostValues), 0, offsetof (Ring, entries));
	std::memset (static_cast<void*> (&parameters.edits), 0, offsetof (Ring, entries));
	parameters.list.sequence.store (0, std::memory_order_relaxed);
	parameters.list.count = 0;

	// No buses and no events until outpost and the host give some.
	std::memset (static_cast<void*> (&busData_->block), 0, sizeof busData_->block);
	busData_->list.sequence.store (0, std::memory_order_relaxed);
	std::memset (busData_->list.counts, 0, sizeof busData_->list.counts);
	busData_->list.sampleSizes = 0;
	eventData_->input.count = eventData_->output.count = 0;
	eventData_->input.bytesUsed = eventData_->output.bytesUsed = 0;
}

void SharedMemoryCreator::unmapAndClose ()
{
	if (isMapped ())
	{
		::munmap (data_, size_);
	}
	data_ = nullptr;
	if (fd_ != -1)
	{
		// Removed while still held: once the lock is gone, another creator
		// may take the name.
		if (!path_.empty ())
		{
			::unlink (path_.c_str ());
		}
		::close (fd_);
		fd_ = -1;
	}
}

void SharedMemoryCreator::release ()
{
	unmapAndClose ();
	uiCommand_ = nullptr;
	audioData_ = nullptr;
	stateData_ = nullptr;
	sessionData_ = nullptr;
	parameterData_ = nullptr;
	busData_ = nullptr;
	eventData_ = nullptr;
	size_ = 0;
	path_.clear ();
}

} // namespace Tandem
