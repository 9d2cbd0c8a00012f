#include "shared_file_view.h"

#include "log/log.h"
#include "protocol/event_data.h"
#include "win32.h"

namespace Tandem {

bool SharedFileView::open (const std::string& path)
{
	return open (path, kFileSize);
}

bool SharedFileView::open (const std::string& path, std::size_t mapped)
{
	close ();
	HANDLE file = CreateFileA (path.c_str (), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
	                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	// Every error code is taken before logging: writing a line resets it.
	if (file == INVALID_HANDLE_VALUE)
	{
		const DWORD error = GetLastError ();
		logError () << "[Outpost] Failed to open file: " << path;
		logError () << "[Outpost] Error: " << error;
		return false;
	}
	// A mapping longer than the file would grow it: a shorter file is
	// refused before.
	LARGE_INTEGER size {};
	const bool fits = mapped == kFileSize ? GetFileSizeEx (file, &size) && sharedFileSizeFits (size.QuadPart)
	                                      : GetFileSizeEx (file, &size) && size.QuadPart >= std::int64_t (mapped);
	if (!fits)
	{
		CloseHandle (file);
		return false;
	}
	HANDLE mapping = CreateFileMappingA (file, nullptr, PAGE_READWRITE, 0, static_cast<DWORD> (mapped), nullptr);
	if (!mapping)
	{
		const DWORD error = GetLastError ();
		logError () << "[Outpost] Failed to create file mapping";
		logError () << "[Outpost] Error: " << error;
		CloseHandle (file);
		return false;
	}
	void* view = MapViewOfFile (mapping, FILE_MAP_ALL_ACCESS, 0, 0, mapped);
	CloseHandle (mapping); // the view keeps the mapping alive
	if (!view)
	{
		const DWORD error = GetLastError ();
		logError () << "[Outpost] Failed to map view of file";
		logError () << "[Outpost] Error: " << error;
		CloseHandle (file);
		return false;
	}
	base_ = view;
	size_ = mapped;
	handle_ = reinterpret_cast<std::intptr_t> (file);
	return true;
}

void SharedFileView::close ()
{
	if (base_)
	{
		UnmapViewOfFile (base_);
		base_ = nullptr;
	}
	if (handle_ != -1)
	{
		CloseHandle (reinterpret_cast<HANDLE> (handle_));
		handle_ = -1;
	}
}

} // namespace Tandem
