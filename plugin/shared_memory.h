// Creates, maps, initialises and removes the file shared with outpost.
#pragma once

#include "protocol/file_regions.h"

#include <cstddef>
#include <string>

namespace Tandem {

struct CreateResult
{
	bool success;
	std::string error;
	bool inUse = false; // another creator holds the file: left as it was
};

class SharedMemoryCreator
{
public:
	SharedMemoryCreator () = default;
	~SharedMemoryCreator ();
	SharedMemoryCreator (const SharedMemoryCreator&) = delete;
	SharedMemoryCreator& operator= (const SharedMemoryCreator&) = delete;

	// Replaces whatever was held (removing the earlier file), then creates or
	// reuses the regular file of this user at `path`, sizes it, maps it and
	// writes every field's initial value. The file is opened without
	// following links, refused when it is not a regular file owned by the
	// current user or while another creator maps it, and created with mode
	// 0600.
	CreateResult create (const std::string& path);

	// Unmaps, closes and unlinks the file and clears the region pointers.
	void release ();

	bool isMapped () const;
	const std::string& path () const { return path_; }
	UICommand* uiCommand () const { return uiCommand_; }
	AudioData* audioData () const { return audioData_; }
	StateData* stateData () const { return stateData_; }
	SessionData* sessionData () const { return sessionData_; }
	ParameterData* parameterData () const { return parameterData_; }
	BusData* busData () const { return busData_; }
	EventData* eventData () const { return eventData_; }
	Regions regions () const
	{
		return {uiCommand_, audioData_, stateData_, sessionData_, parameterData_, busData_, eventData_};
	}

private:
	void unmapAndClose ();
	void initialiseRegions ();

	int fd_ = -1;
	void* data_ = nullptr;
	std::size_t size_ = 0;
	std::string path_;
	UICommand* uiCommand_ = nullptr;
	AudioData* audioData_ = nullptr;
	StateData* stateData_ = nullptr;
	SessionData* sessionData_ = nullptr;
	ParameterData* parameterData_ = nullptr;
	BusData* busData_ = nullptr;
	EventData* eventData_ = nullptr;
};

} // namespace Tandem
