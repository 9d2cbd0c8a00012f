#include "application.h"
#include "crash_report.h"
#include "module_lister.h"
#include "win32.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

// The command line as UTF-8: paths of plug-ins come in every language, and
// a narrow argv would be in the ANSI code page. The wide one comes from the
// C runtime (wmain, linked with -municode): shell32's parser would load
// shell32 and the libraries it needs at every start of outpost.
std::vector<std::string> utf8Arguments (int argc, wchar_t** wide)
{
	std::vector<std::string> args;
	for (int i = 0; i < argc; ++i)
	{
		const int size = WideCharToMultiByte (CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
		std::string arg (static_cast<size_t> (size > 0 ? size : 1), '\0');
		if (size > 0)
			WideCharToMultiByte (CP_UTF8, 0, wide[i], -1, &arg[0], size, nullptr, nullptr);
		arg.resize (std::strlen (arg.c_str ()));
		args.push_back (arg);
	}
	return args;
}

} // namespace

int wmain (int argc, wchar_t** argv)
{
	// Lines end in a plain newline: the Linux side reads them, not a console.
	_setmode (_fileno (stdout), _O_BINARY);
	_setmode (_fileno (stderr), _O_BINARY);
	std::vector<std::string> args = utf8Arguments (argc, argv);
	std::vector<char*> pointers;
	for (std::string& arg : args)
		pointers.push_back (&arg[0]);
	pointers.push_back (nullptr);
	if (argc > 1 && std::strcmp (pointers[1], "--list") == 0)
		return Tandem::listModules (argc, pointers.data ());
	// A made bundle's module, or else the fixed plug-in, is what is served.
	Tandem::installCrashReport (argc > 4 ? pointers[3] : argc > 2 ? pointers[2] : "");
	return Tandem::outpostMain (argc, pointers.data ());
}
