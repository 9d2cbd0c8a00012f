// Reference counting and interface lookup shared by Quill's objects.
#pragma once

#include <atomic>

#include "pluginterfaces/base/funknown.h"

namespace Quill {

// Objects of the module alive now: every reference-counted object counts
// from its construction to its destruction. The module's ExitDll reports it.
inline std::atomic<int> liveObjects{0};

// Atomic reference count following the FUnknown rule: objects start at one
// reference for their creator and delete themselves when it drops to zero.
class RefCount {
public:
    RefCount() { liveObjects.fetch_add(1, std::memory_order_relaxed); }
    ~RefCount() { liveObjects.fetch_sub(1, std::memory_order_relaxed); }
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;

    Steinberg::uint32 add() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // Returns the new count; the caller deletes the object when it is 0.
    Steinberg::uint32 remove() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<Steinberg::uint32> count_{1};
};

// Answers `iid` with `object` (after adding a reference) when they match.
template <class Interface, class Object>
bool answerInterface(const Steinberg::TUID iid, Object* object, void** out) {
    if (!Steinberg::FUnknownPrivate::iidEqual(iid, Interface::iid)) return false;
    Interface* result = object;
    result->addRef();
    *out = result;
    return true;
}

}  // namespace Quill
