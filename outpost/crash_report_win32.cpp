#include "crash_report.h"

#include <windows.h>

#include <cstring>

namespace Tandem {

namespace {

// The line is built on the stack and written with one WriteFile: the crash
// may have happened anywhere, even inside the log module while it held its
// lock, or inside the allocator, so nothing here locks or allocates.
char g_pluginName[MAX_PATH];
// The instance each thread works for (a TLS slot: reading it allocates
// nothing, unlike the compiler's emulated thread_local).
DWORD g_instanceSlot = TLS_OUT_OF_INDEXES;

struct Line
{
	char text[1024];
	std::size_t length = 0;

	void add (const char* s)
	{
		while (*s && length + 1 < sizeof text)
			text[length++] = *s++;
	}
	void addHex (unsigned long long value, int minDigits)
	{
		char digits[17];
		int n = 0;
		do
		{
			digits[n++] = "0123456789abcdef"[value & 0xF];
			value >>= 4;
		} while (value && n < 16);
		while (n < minDigits && n < 16)
			digits[n++] = '0';
		add ("0x");
		while (n > 0 && length + 1 < sizeof text)
			text[length++] = digits[--n];
	}
};

const char* describe (DWORD code)
{
	switch (code)
	{
	case EXCEPTION_ACCESS_VIOLATION:
		return "access violation";
	case EXCEPTION_STACK_OVERFLOW:
		return "stack overflow";
	case EXCEPTION_ILLEGAL_INSTRUCTION:
		return "illegal instruction";
	case EXCEPTION_INT_DIVIDE_BY_ZERO:
		return "integer division by zero";
	case EXCEPTION_PRIV_INSTRUCTION:
		return "privileged instruction";
	case EXCEPTION_IN_PAGE_ERROR:
		return "page error";
	case EXCEPTION_BREAKPOINT:
		return "breakpoint";
	case 0xE06D7363:
		return "C++ exception";
	default:
		return "exception";
	}
}

// The file name of `path`, after its last separator.
const char* baseName (const char* path)
{
	const char* name = path;
	for (const char* p = path; *p; ++p)
		if (*p == '\\' || *p == '/')
			name = p + 1;
	return name;
}

LONG WINAPI reportAndEnd (EXCEPTION_POINTERS* info)
{
	const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
	const DWORD code = record ? record->ExceptionCode : 0;
	const auto address = reinterpret_cast<ULONG_PTR> (record ? record->ExceptionAddress : nullptr);

	char module[MAX_PATH] = "unknown module";
	HMODULE holder = nullptr;
	ULONG_PTR base = 0;
	if (GetModuleHandleExA (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
	                        reinterpret_cast<LPCSTR> (address), &holder) &&
	    holder && GetModuleFileNameA (holder, module, sizeof module) > 0)
		base = reinterpret_cast<ULONG_PTR> (holder);

	Line line;
	line.add ("[Outpost] CRASH: unhandled ");
	line.add (describe (code));
	line.add (" ");
	line.addHex (code, 8);
	line.add (" at ");
	line.addHex (address, 1);
	line.add (" in ");
	line.add (baseName (module));
	if (base)
	{
		line.add ("+");
		line.addHex (address - base, 1);
	}
	if (record && code == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2)
	{
		line.add (record->ExceptionInformation[0] == 1 ? " (writing " : " (reading ");
		line.addHex (record->ExceptionInformation[1], 1);
		line.add (")");
	}
	line.add (", serving ");
	line.add (g_pluginName);
	line.add (": outpost ends now\n");
	// Which instance it was: in a group's outpost, the one whose plug-in
	// crashed (the others are only brought back).
	if (g_instanceSlot != TLS_OUT_OF_INDEXES)
		if (const auto* instance = static_cast<const char*> (TlsGetValue (g_instanceSlot)))
		{
			line.add ("[Outpost] The crash was in the plug-in serving the instance of ");
			line.add (instance);
			line.add ("\n");
		}

	DWORD written = 0;
	WriteFile (GetStdHandle (STD_ERROR_HANDLE), line.text, static_cast<DWORD> (line.length), &written, nullptr);
	// At once: no debugger, no exit handlers (they could take the locks the
	// crashed thread holds). The Linux side sees the end and starts anew.
	TerminateProcess (GetCurrentProcess (), code ? code : 1);
	return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void installCrashReport (const char* pluginPath)
{
	std::strncpy (g_pluginName, pluginPath ? pluginPath : "", sizeof g_pluginName - 1);
	g_pluginName[sizeof g_pluginName - 1] = 0;
	// No Windows error boxes either: nobody is there to click them.
	SetErrorMode (SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
	SetUnhandledExceptionFilter (reportAndEnd);
	g_instanceSlot = TlsAlloc ();
}

void nameCrashInstance (const char* name)
{
	if (g_instanceSlot != TLS_OUT_OF_INDEXES)
		TlsSetValue (g_instanceSlot, const_cast<char*> (name));
}

} // namespace Tandem
