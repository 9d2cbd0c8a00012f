// `quillmarlow doctor`: what this system has and lacks for the bridge, one
// line each, "ok", "warning" or "problem" with what to do. Exit status 1
// only when a problem stops the bridge from working.
#include "bundle_maker.h"
#include "commands.h"
#include "made_bundles.h"
#include "test_start.h"

#include "protocol/event_data.h"
#include "protocol/parameter_data.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

struct Report
{
	int problems = 0;
	void line (const char* level, const std::string& text)
	{
		std::printf ("%-8s %s\n", level, text.c_str ());
		std::fflush (stdout);
	}
	void ok (const std::string& text) { line ("ok", text); }
	void warning (const std::string& text) { line ("warning", text); }
	void problem (const std::string& text)
	{
		line ("problem", text);
		++problems;
	}
};

// The first line a command prints, without its end; empty when it fails.
std::string firstLine (const std::string& command)
{
	FILE* pipe = ::popen ((command + " 2>/dev/null").c_str (), "r");
	if (!pipe)
		return {};
	char buffer[256] = {};
	const bool read = std::fgets (buffer, sizeof buffer, pipe) != nullptr;
	::pclose (pipe);
	std::string text = read ? buffer : "";
	while (!text.empty () && (text.back () == '\n' || text.back () == '\r'))
		text.pop_back ();
	return text;
}

std::string userName ()
{
	const char* user = std::getenv ("USER");
	return user && *user ? user : "YOUR_USER";
}

// "wine-8.0 (Debian 8.0~repack-4)" -> 8; 0 when it cannot be told.
int majorVersion (const std::string& version)
{
	const size_t dash = version.find ('-');
	return dash == std::string::npos ? 0 : std::atoi (version.c_str () + dash + 1);
}

void checkWine (Report& report, std::string& version)
{
	if (::access ("/usr/bin/wine", X_OK) != 0)
	{
		report.problem ("Wine is not installed (the bridge starts /usr/bin/wine): sudo apt-get install wine wine64");
		return;
	}
	version = firstLine ("WINEDEBUG=-all /usr/bin/wine --version");
	report.ok ("Wine found: " +
	           (version.empty () ? std::string ("/usr/bin/wine (its version did not answer)") : version));
	if (::access ("/usr/lib/wine/wine64", X_OK) != 0 && ::access ("/usr/bin/wine64", X_OK) != 0)
		report.problem (
		    "64-bit Wine is missing (plug-ins are served by a 64-bit program): sudo apt-get install wine64");
}

bool checkPrefix (Report& report, const std::string& prefix)
{
	std::ifstream system (prefix + "/system.reg");
	if (!system)
	{
		report.problem ("no Wine prefix at " + prefix + ": create it with `wineboot -i` (WINEPREFIX=" + prefix +
		                "), then install your plug-ins into it");
		return false;
	}
	std::string text;
	for (int i = 0; i < 5 && std::getline (system, text);)
		if (text.rfind ("#arch=", 0) == 0)
			break;
	if (text == "#arch=win32")
	{
		report.problem ("the Wine prefix " + prefix +
		                " is 32-bit: 64-bit plug-ins need a 64-bit prefix (make a new one "
		                "with WINEARCH=win64 wineboot -i)");
		return false;
	}
	report.ok ("Wine prefix " + prefix + " (64-bit)");
	struct stat st
	{};
	if (::stat (prefix.c_str (), &st) == 0 && st.st_uid != ::geteuid ())
		report.problem ("the Wine prefix " + prefix +
		                " belongs to another user: Wine refuses it; use a prefix of your own");
	std::error_code error;
	if (!fs::exists (prefix + "/dosdevices/z:", error))
		report.problem ("drive Z: is not mapped in " + prefix +
		                ": the bridge shares its file through it; map it back "
		                "with `winecfg` (Drives: Z: = /)");
	if (!fs::is_directory (prefix + "/drive_c/Program Files/Common Files/VST3", error))
		report.warning ("the prefix has no VST 3 folder yet: install your Windows plug-ins, then run quillmarlow sync");
	return true;
}

void checkDisplay (Report& report)
{
	const char* display = std::getenv ("DISPLAY");
	if (display && *display)
		report.ok (std::string ("X display ") + display + " for the plug-ins' editors");
	else
		report.warning ("no DISPLAY here: editors open only in hosts run under X11 or XWayland with DISPLAY set "
		                "(run quillmarlow sync there too, or Wine's desktop of the prefix has no display for a while)");
}

void checkLimits (Report& report)
{
	const std::string file = "/etc/security/limits.d/95-audio.conf";
	rlimit priority {}, memory {};
	::getrlimit (RLIMIT_RTPRIO, &priority);
	::getrlimit (RLIMIT_MEMLOCK, &memory);
	if (::geteuid () == 0 || priority.rlim_cur >= 10 || priority.rlim_cur == RLIM_INFINITY)
		report.ok (::geteuid () == 0 ? "real-time priority: allowed (root)"
		                             : "real-time priority: allowed up to " + std::to_string (priority.rlim_cur));
	else
		report.warning (
		    "real-time priority is not allowed (limit " + std::to_string (priority.rlim_cur) +
		    "): outposts' audio threads run at normal priority and may miss blocks under load. Add `@audio - "
		    "rtprio 95` to " +
		    file + ", `sudo usermod -aG audio " + userName () + "`, and log in again");
	// Each instance keeps the part of its shared file that audio touches in
	// memory: the host's process for all its instances, each outpost for its own.
	std::size_t perInstance = Tandem::kAudioPartSize;
	for (const Tandem::LockedRange& range : Tandem::kLockedBusRanges)
		perInstance += range.size;
	const std::size_t wanted = 32 * perInstance;
	if (::geteuid () == 0 || memory.rlim_cur == RLIM_INFINITY || memory.rlim_cur >= wanted)
		report.ok ("locked memory: " +
		           (memory.rlim_cur == RLIM_INFINITY || ::geteuid () == 0
		                ? std::string ("unlimited")
		                : std::to_string (memory.rlim_cur >> 20) + " MB") +
		           " (32 instances in one host need " + std::to_string (wanted >> 20) + " MB)");
	else
		report.warning ("locked memory is limited to " + std::to_string (memory.rlim_cur >> 10) + " KB: beyond " +
		                std::to_string (memory.rlim_cur / perInstance) +
		                " instances audio may wait for a page. Add `@audio - memlock unlimited` to " + file +
		                ", `sudo usermod -aG audio " + userName () + "`, and log in again");
}

void checkBundles (Report& report, const std::string& dir, const Bridge* bridge)
{
	const BundlesInDir bundles = bundlesIn (dir);
	if (bundles.made.empty ())
	{
		report.warning ("no bundles made in " + dir + " yet: run quillmarlow sync");
		return;
	}
	int fine = 0;
	for (const MadeBundle& made : bundles.made)
	{
		std::error_code error;
		if (!fs::exists (made.record.module, error))
			report.warning (made.name + ".vst3: its Windows module is gone (" + made.record.windowsModule +
			                "): run quillmarlow sync, which removes the bundle");
		else if (bridge && made.record.bridge != bridge->id)
			report.warning (made.name + ".vst3 was made with another build of the bridge: run quillmarlow sync");
		else
			++fine;
	}
	if (fine > 0)
		report.ok (std::to_string (fine) + " made bundle" + (fine == 1 ? "" : "s") + " in " + dir +
		           ": Windows module there, bridge current");
}

// Limits of Wine that plug-ins run into, as measured with Debian's Wine 8,
// and what the bridge does about each.
void checkWineLimits (Report& report, const std::string& version)
{
	const int major = majorVersion (version);
	if (major == 0)
		return;
	if (major != 8)
	{
		report.warning (version + " is not the Wine the bridge is tested with (Wine 8): its limits are not known here");
		return;
	}
	report.ok ("Wine 8: IDXGIOutput::WaitForVBlank answers E_NOTIMPL, so editors made with JUCE 7 would paint once "
	           "and never again; outpost answers it with a wait to the display's next refresh");
	report.ok ("Wine 8: what Direct3D or Direct2D present into a child window never reaches the screen, so editors "
	           "made with VSTGUI 4.14 or JUCE 8 would show one flat colour; outpost draws each frame there with GDI");
	report.ok ("Wine 8: OpenGL drawn straight into a child window is not shown, so editors that draw with OpenGL "
	           "would stay black; outpost has them draw for a hidden stand-in and draws each frame there with GDI");
	if (::access ("/usr/lib/wine/wine", X_OK) != 0 && ::access ("/usr/lib/i386-linux-gnu/wine", X_OK) != 0)
		report.ok ("32-bit Wine is not installed: only 64-bit plug-ins can be served (sync skips 32-bit ones)");
}

// The project's own test plug-in served through a bundle made as sync makes
// them (test_start.h), with its times.
void checkStart (Report& report, const Bridge& bridge, const std::string& prefix)
{
	fs::path quill = fs::path (bridge.bundle).parent_path () / "Quill.vst3";
#ifdef QM_BUILD_SERVED
	if (!fs::exists (quill))
		quill = QM_BUILD_SERVED;
#endif
	const fs::path module = quill / "Contents/x86_64-win/Quill.vst3";
	std::error_code error;
	if (!fs::exists (module, error))
	{
		report.warning ("the test plug-in is not installed (" + module.string () + "): outpost was not tried");
		return;
	}
	const TestStartResult start = testStart (bridge, prefix, module.string ());
	char times[128];
	std::snprintf (times, sizeof times, "its classes read in %.2f s, its first block processed %.2f s after activation",
	               start.readSeconds, start.serveSeconds);
	if (start.ok)
		report.ok (std::string ("test start: outpost served the test plug-in Quill under Wine (") + times + ")");
	else
		report.problem ("test start: outpost did not serve the test plug-in Quill: " + start.error +
		                (start.log.empty () ? std::string () : " (the bridge's lines: " + start.log + ")"));
}

} // namespace

int doctorCommand (const Options& options)
{
	Report report;
	std::string version;
	checkWine (report, version);
	const bool prefix = checkPrefix (report, options.prefix);
	checkLimits (report);
	checkDisplay (report);
	Bridge bridge;
	std::string why;
	const bool installed = findBridge (bridge, why);
	if (installed)
		report.ok ("bridge installed: " + bridge.bundle);
	else
		report.problem (why);
	checkBundles (report, options.dir, installed ? &bridge : nullptr);
	checkWineLimits (report, version);
	if (installed && prefix && !version.empty ())
		checkStart (report, bridge, options.prefix);
	std::printf ("%s\n", report.problems == 0 ? "Nothing stops the bridge from working."
	                                          : "The bridge cannot work until the problems above are solved.");
	return report.problems == 0 ? 0 : 1;
}

} // namespace quillmarlow
