// A loadable module that lacks the GetPluginFactory export.
extern "C" __declspec(dllexport) int NotAFactory ()
{
	return 42;
}
