// How many of the module's objects are alive, for its ExitDll to report.
#pragma once

#include <atomic>

namespace Quill {

// Objects of the module alive now: every reference-counted object counts
// from its construction to its destruction. The module's ExitDll reports it.
inline std::atomic<int> liveObjects {0};

// A base of each of the module's reference-counted classes (once: a class
// extending one of them has it already) that counts the object in
// liveObjects. Reference counting itself is Tandem::RefCounted's.
class LiveObject
{
public:
	LiveObject () { liveObjects.fetch_add (1, std::memory_order_relaxed); }
	~LiveObject () { liveObjects.fetch_sub (1, std::memory_order_relaxed); }
	LiveObject (const LiveObject&) = delete;
	LiveObject& operator= (const LiveObject&) = delete;
};

} // namespace Quill
