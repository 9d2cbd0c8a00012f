// The shared file mapped whole into outpost, opened by its Linux path
// (through drive Z: under Wine) so that the view is truly shared with the
// Linux process that created it. A file shorter than this build's is refused
// before it is mapped: a mapping longer than the file would grow it, and a
// region beyond its end would fault. Each platform has its own
// (shared_file_view_win32.cpp; shared_file_view_headless.cpp with POSIX
// calls, as Wine does it, for native builds of the application logic).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tandem {

// Whether a shared file of `size` bytes holds this build's regions; says
// why not when it does not (application_activation.cpp, beside the other
// checks of the plug-in's build).
bool sharedFileSizeFits (std::int64_t size);

class SharedFileView
{
public:
	SharedFileView () = default;
	~SharedFileView () { close (); }
	SharedFileView (const SharedFileView&) = delete;
	SharedFileView& operator= (const SharedFileView&) = delete;

	// False, with the reason logged, when the file cannot be opened or
	// mapped, or is shorter than this build's.
	bool open (const std::string& path);
	// Another file of ours (a group file): mapped over its first `size`
	// bytes; false when it is shorter.
	bool open (const std::string& path, std::size_t size);
	void close ();
	// The start of the mapped file; null while none is.
	void* base () const { return base_; }

private:
	void* base_ = nullptr;
	std::size_t size_ = 0;
	std::intptr_t handle_ = -1;
};

} // namespace Tandem
