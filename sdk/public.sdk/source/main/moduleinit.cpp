// Stand-in for the VST 3 SDK's module initialisation lists. This plug-in
// registers no initialisation or de-initialisation functions, so both lists
// are empty and running them always succeeds.
bool InitModule ()
{
	return true;
}

bool DeinitModule ()
{
	return true;
}
