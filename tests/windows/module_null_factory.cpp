// A module whose GetPluginFactory hands out no factory.
extern "C" __declspec(dllexport) void* GetPluginFactory ()
{
	return nullptr;
}
