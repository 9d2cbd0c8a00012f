// An object made once and never destroyed, for state that exit handlers may
// still use: a process that exits runs the handlers registered before a
// library was loaded after that library's static objects are gone (a host
// that releases its plug-ins from an exit handler).
//
// The object lives in the storage of the library that holds it, not on the
// heap, so unloading the library takes it along; it must then own nothing
// else (no running thread, no memory of its own).
#pragma once

#include <new>

namespace Tandem {

template <typename T>
class NeverDestroyed
{
public:
	NeverDestroyed () { new (storage_) T (); }
	NeverDestroyed (const NeverDestroyed&) = delete;
	NeverDestroyed& operator= (const NeverDestroyed&) = delete;
	T& get () { return *std::launder (reinterpret_cast<T*> (storage_)); }

private:
	alignas (T) unsigned char storage_[sizeof (T)];
};

} // namespace Tandem
