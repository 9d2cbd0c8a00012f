// The group file: how the instances of one host process that share a group
// name come to be served by one outpost.
//
// The file is /tmp/quillmarlow_group_<host pid>_<prefix hash>_<name>, made by
// the first instance of the group and kept while the host runs. The Linux
// side (every instance, whichever copy of the plug-in's library it lives in)
// takes an exclusive flock() on it around each step: starting the group's
// outpost, joining it, leaving it. So at most one join is in flight, and a
// join never meets an outpost that is leaving.
//  - starting: the instance writes `outpostPid` (its child) with `accepting`
//    0 and passes the file's path to the new outpost, which serves that
//    instance's own file first and then raises `accepting`;
//  - joining: while `accepting` is 1 and the outpost lives, the instance
//    writes its file and module into the request, bumps `request`
//    (a futex word outpost's group thread sleeps on), and sleeps on
//    `answered` until it equals it; `served` then says whether outpost serves the
//    instance (its audio thread reports ready in the instance's own file,
//    as with an outpost of its own);
//  - leaving: the instance posts Shutdown in its own file, as always;
//    outpost lowers `members`, and when none is left it lowers `accepting`
//    before it acknowledges and ends.
// Fields and their writers: magic, version, outpostPid and the request (the
// Linux side, under the flock); accepting, members, answered, served
// (outpost).
#pragma once

#include "protocol/futex.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace Tandem {

constexpr std::uint32_t kGroupMagic = 0x51475031; // "QGP1"
constexpr std::uint32_t kGroupVersion = 1;
// How long a join may take: outpost may load another module for it.
constexpr std::chrono::seconds kJoinTimeout {10};

struct GroupJoinRequest
{
	char sharedFile[512];
	char vst3Path[1024];
	char classId[40];
};

struct GroupRegion
{
	std::uint32_t magic;
	std::uint32_t version;
	std::atomic<std::int32_t> outpostPid;
	std::atomic<std::int32_t> accepting;
	std::atomic<std::int32_t> members;
	std::atomic<std::int32_t> request;
	std::atomic<std::int32_t> answered;
	std::atomic<std::int32_t> served;
	GroupJoinRequest join;
};

constexpr std::size_t kGroupFileSize = 4096;
static_assert (sizeof (GroupRegion) <= kGroupFileSize, "the group region fits its file");
static_assert (offsetof (GroupRegion, outpostPid) == 8, "both programs agree on the group region");
static_assert (offsetof (GroupRegion, join) == 32, "both programs agree on the group region");
static_assert (std::atomic<std::int32_t>::is_always_lock_free, "group words are shared between processes");

inline bool groupRegionValid (const GroupRegion& region)
{
	return region.magic == kGroupMagic && region.version == kGroupVersion;
}

// Linux side, under the flock, before starting the group's outpost.
inline void resetGroupRegion (GroupRegion& region, std::int32_t outpostPid)
{
	region.accepting.store (0, std::memory_order_relaxed);
	region.members.store (0, std::memory_order_relaxed);
	region.served.store (0, std::memory_order_relaxed);
	region.answered.store (region.request.load (std::memory_order_relaxed), std::memory_order_relaxed);
	region.magic = kGroupMagic;
	region.version = kGroupVersion;
	region.outpostPid.store (outpostPid, std::memory_order_release);
}

// Copies `text` into a field, cut to fit; false when it did not fit.
template <std::size_t N>
bool copyGroupText (char (&field)[N], const std::string& text)
{
	const std::size_t length = text.size () < N - 1 ? text.size () : N - 1;
	std::memcpy (field, text.data (), length);
	field[length] = 0;
	return length == text.size ();
}

// Linux side, under the flock: posts a join; the returned number is the one
// `joinAnswered` waits for.
inline std::int32_t postJoin (GroupRegion& region, const std::string& sharedFile, const std::string& vst3Path,
                              const std::string& classId)
{
	copyGroupText (region.join.sharedFile, sharedFile);
	copyGroupText (region.join.vst3Path, vst3Path);
	copyGroupText (region.join.classId, classId);
	const std::int32_t number = region.request.load (std::memory_order_relaxed) + 1;
	region.request.store (number, std::memory_order_release);
	futexWake (&region.request);
	return number;
}

// Linux side: whether outpost answered join `number`.
inline bool joinAnswered (const GroupRegion& region, std::int32_t number)
{
	return region.answered.load (std::memory_order_acquire) == number;
}

// Linux side: sleeps until outpost answers join `number`, or `timeout`
// passes; whether it was answered.
inline bool awaitJoinAnswer (GroupRegion& region, std::int32_t number, std::chrono::nanoseconds timeout)
{
	const std::int32_t seen = region.answered.load (std::memory_order_acquire);
	if (seen == number)
		return true;
	futexWait (&region.answered, seen, timeout.count ());
	return joinAnswered (region, number);
}

// Outpost: the number of a join waiting for its answer, or 0.
inline std::int32_t joinWaiting (const GroupRegion& region)
{
	const std::int32_t number = region.request.load (std::memory_order_acquire);
	return number != region.answered.load (std::memory_order_relaxed) ? number : 0;
}

// Outpost: answers join `number`, after counting the instance in when served.
inline void answerJoin (GroupRegion& region, std::int32_t number, bool served)
{
	region.served.store (served ? 1 : 0, std::memory_order_relaxed);
	region.answered.store (number, std::memory_order_release);
	futexWake (&region.answered);
}

} // namespace Tandem
