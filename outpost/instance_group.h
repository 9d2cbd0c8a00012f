// outpost's door for the instances of its group (protocol/instance_group.h):
// the group file mapped, its join word watched so that a posted join ends
// the main loop's wait, the join taken on the main thread and answered there.
#pragma once

#include "host_thread.h"
#include "protocol/instance_group.h"
#include "shared_file_view.h"
#include "word_waker.h"

#include <string>

namespace Tandem {

struct GroupJoin
{
	std::int32_t number = 0;
	std::string sharedFile;
	std::string vst3Path;
	std::string classId;
};

class GroupDoor
{
public:
	GroupDoor () = default;
	~GroupDoor () { close (); }
	GroupDoor (const GroupDoor&) = delete;
	GroupDoor& operator= (const GroupDoor&) = delete;

	// Maps the group file; false (logged) when it cannot. `linuxCalls`: a
	// posted join has `waker` wake the main thread at once, else the next
	// turn finds it.
	bool open (const std::string& path, bool linuxCalls, WordWaker& waker);
	bool opened () const { return region_ != nullptr; }
	// Takes joins from now on; `members`: the instances served.
	void accept (int members);
	// The join waiting, if any (its number is 0 when none is).
	GroupJoin waiting () const;
	void answer (const GroupJoin& join, bool served, int members);
	// An instance is leaving (before its Shutdown is acknowledged): when it
	// was the last, no more joins are taken, and the Linux side starts a new
	// outpost for the next.
	void leaving (int members);
	// The host is gone: removes the group file.
	void remove ();
	void close ();

private:
	std::string path_;
	SharedFileView view_;
	GroupRegion* region_ = nullptr;
	WordWaker* waker_ = nullptr;
};

} // namespace Tandem
