// Whether the host entered the module (InitDll) in builds with a module
// entry; always true in the others.
#pragma once

namespace Quill {

#if defined(QUILL_MODULE_ENTRY) && QUILL_MODULE_ENTRY
bool moduleEntered ();
#else
inline bool moduleEntered ()
{
	return true;
}
#endif

} // namespace Quill
