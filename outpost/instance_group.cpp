#include "instance_group.h"

#include "linux_calls.h"
#include "log/log.h"

#include <cstring>

namespace Tandem {

namespace {

template <std::size_t N>
std::string textOf (const char (&field)[N])
{
	return std::string (field, strnlen (field, N));
}

} // namespace

bool GroupDoor::open (const std::string& path, bool linuxCalls, WordWaker& waker)
{
	path_ = path;
	if (!view_.open (path, kGroupFileSize))
	{
		logError () << "[Outpost] Could not open the group file " << path << ": instances can not join";
		return false;
	}
	region_ = static_cast<GroupRegion*> (view_.base ());
	if (!groupRegionValid (*region_))
	{
		logError () << "[Outpost] The group file " << path << " is of another build: instances can not join";
		close ();
		return false;
	}
	if (linuxCalls)
	{
		waker_ = &waker;
		waker.watch (region_->request);
	}
	logInfo () << "[Outpost] Serving a group through " << path;
	return true;
}

void GroupDoor::accept (int members)
{
	if (!region_)
		return;
	region_->members.store (members, std::memory_order_relaxed);
	region_->accepting.store (1, std::memory_order_release);
}

GroupJoin GroupDoor::waiting () const
{
	GroupJoin join;
	if (!region_)
		return join;
	join.number = joinWaiting (*region_);
	if (join.number == 0)
		return join;
	join.sharedFile = textOf (region_->join.sharedFile);
	join.vst3Path = textOf (region_->join.vst3Path);
	join.classId = textOf (region_->join.classId);
	return join;
}

void GroupDoor::answer (const GroupJoin& join, bool served, int members)
{
	if (!region_)
		return;
	region_->members.store (members, std::memory_order_relaxed);
	answerJoin (*region_, join.number, served);
}

void GroupDoor::leaving (int members)
{
	if (!region_)
		return;
	if (members == 0)
		region_->accepting.store (0, std::memory_order_relaxed);
	region_->members.store (members, std::memory_order_release);
}

void GroupDoor::remove ()
{
	if (region_)
		removeLinuxFile (path_);
}

void GroupDoor::close ()
{
	if (waker_ && region_)
		waker_->unwatch (region_->request);
	waker_ = nullptr;
	region_ = nullptr;
	view_.close ();
}

} // namespace Tandem
