// The chain file under Wine: opened through drive Z:, mapped shared.
#include "chain_file.h"
#include "win32.h"

namespace Tandem {

ChainRegion* mapChainFile (const std::string& path)
{
	HANDLE file = CreateFileA (path.c_str (), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
	                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return nullptr;
	LARGE_INTEGER size {};
	if (!GetFileSizeEx (file, &size) || size.QuadPart < static_cast<LONGLONG> (sizeof (ChainRegion)))
	{
		CloseHandle (file);
		return nullptr;
	}
	HANDLE mapping = CreateFileMappingA (file, nullptr, PAGE_READWRITE, 0, sizeof (ChainRegion), nullptr);
	CloseHandle (file);
	if (!mapping)
		return nullptr;
	void* view = MapViewOfFile (mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof (ChainRegion));
	CloseHandle (mapping); // the view keeps the mapping alive
	return static_cast<ChainRegion*> (view);
}

} // namespace Tandem
