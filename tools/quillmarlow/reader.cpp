#include "reader.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

// The lister bounds each module to 10 s itself; this is the bound for a
// lister that cannot even say so, and for Wine's own start.
constexpr auto kModuleGuard = std::chrono::seconds (15);
constexpr auto kStartGuard = std::chrono::seconds (60);

pid_t startLister (const ReadRequest& request, const std::string& list, const std::string& output,
                   const std::string& log, size_t first)
{
	std::vector<std::string> args {request.wine, request.outpost, "--list", list, output, std::to_string (first)};
	// What we printed so far must not be printed again by the child.
	std::fflush (stdout);
	std::fflush (stderr);
	const pid_t pid = ::fork ();
	if (pid != 0)
		return pid;
	::setenv ("WINEPREFIX", request.prefix.c_str (), 1);
	if (!std::getenv ("WINEDEBUG"))
		::setenv ("WINEDEBUG", "-all", 1);
	::unsetenv ("WAYLAND_DISPLAY");
	const int fd = ::open (log.c_str (), O_WRONLY | O_CREAT | O_APPEND, 0600);
	if (fd >= 0)
	{
		::dup2 (fd, 1);
		::dup2 (fd, 2);
		::close (fd);
	}
	std::vector<char*> argv;
	for (std::string& arg : args)
		argv.push_back (arg.data ());
	argv.push_back (nullptr);
	::execv (argv[0], argv.data ());
	::_exit (127);
}

void answerLine (const std::string& line, std::vector<ModuleClasses>& answers, std::vector<bool>& answered,
                 long& started, const ReadRequest& request)
{
	const nlohmann::json item = nlohmann::json::parse (line, nullptr, false);
	if (!item.is_object () || !item.contains ("index") || !item["index"].is_number_integer ())
		return;
	const long index = item["index"].get<long> ();
	if (index < 0 || static_cast<size_t> (index) >= answers.size ())
		return;
	if (item.value ("start", false))
	{
		started = index;
		return;
	}
	ModuleClasses& answer = answers[static_cast<size_t> (index)];
	answer.ok = item.value ("ok", false);
	if (!answer.ok)
	{
		answer.error = item.value ("error", std::string ("could not be read"));
	}
	else
	{
		const nlohmann::json factory = item.value ("factory", nlohmann::json::object ());
		answer.factory.vendor = factory.value ("vendor", std::string ());
		answer.factory.url = factory.value ("url", std::string ());
		answer.factory.email = factory.value ("email", std::string ());
		answer.factory.flags = factory.value ("flags", 0);
		std::string error;
		if (!Tandem::parseServedClasses (item.value ("classes", nlohmann::json::array ()).dump (), answer.classes,
		                                 error))
		{
			answer.ok = false;
			answer.error = "its class list could not be read (" + error + ")";
		}
	}
	answered[static_cast<size_t> (index)] = true;
	if (request.progress)
		request.progress (static_cast<size_t> (index), answer);
}

} // namespace

bool readModules (const ReadRequest& request, std::vector<ModuleClasses>& answers, std::string& error)
{
	answers.assign (request.windowsModules.size (), {});
	std::vector<bool> answered (answers.size (), false);
	if (answers.empty ())
		return true;

	char pattern[] = "/tmp/quillmarlow-XXXXXX";
	if (!::mkdtemp (pattern))
	{
		error = "cannot make a temporary folder in /tmp";
		return false;
	}
	const std::string temp = pattern;
	const std::string list = temp + "/modules.txt";
	const std::string output = temp + "/classes.jsonl";
	const std::string log = temp + "/outpost.log";
	{
		std::ofstream out (list, std::ios::binary);
		for (const std::string& module : request.windowsModules)
			out << module << "\n";
	}

	size_t first = 0;
	std::streamoff consumed = 0;
	bool ok = true;
	while (first < answers.size ())
	{
		const pid_t pid = startLister (request, list, output, log, first);
		if (pid < 0)
		{
			error = "cannot start " + request.wine;
			ok = false;
			break;
		}
		long started = -1;
		bool anyLine = false;
		auto lastProgress = std::chrono::steady_clock::now ();
		int status = 0;
		bool ended = false;
		bool killed = false;
		std::string partial;
		for (;;)
		{
			// New complete lines of the output.
			std::ifstream in (output, std::ios::binary);
			if (in && in.seekg (consumed))
			{
				std::string chunk ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
				size_t begin = 0;
				for (size_t end; (end = chunk.find ('\n', begin)) != std::string::npos; begin = end + 1)
				{
					answerLine (chunk.substr (begin, end - begin), answers, answered, started, request);
					anyLine = true;
					lastProgress = std::chrono::steady_clock::now ();
				}
				consumed += static_cast<std::streamoff> (begin);
			}
			if (ended)
				break;
			if (::waitpid (pid, &status, WNOHANG) == pid)
			{
				ended = true; // one more read for its last lines
				continue;
			}
			const auto quiet = std::chrono::steady_clock::now () - lastProgress;
			if (quiet > (anyLine ? kModuleGuard : kStartGuard))
			{
				::kill (pid, SIGKILL);
				::waitpid (pid, &status, 0);
				killed = true;
				ended = true;
				continue;
			}
			std::this_thread::sleep_for (std::chrono::milliseconds (20));
		}
		if (!anyLine)
		{
			error = killed ? "Wine did not start outpost.exe within 60 s"
			               : "Wine could not run outpost.exe (exit status " +
			                     std::to_string (WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status)) +
			                     "; see " + log + ")";
			ok = false;
			break;
		}
		// The module being read when the lister ended did not answer.
		if (started >= 0 && !answered[static_cast<size_t> (started)])
		{
			ModuleClasses& answer = answers[static_cast<size_t> (started)];
			answer.ok = false;
			answer.error =
			    killed ? "did not answer within 10 s"
			           : "crashed while read (outpost.exe ended with status " +
			                 std::to_string (WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status)) + ")";
			answered[static_cast<size_t> (started)] = true;
			if (request.progress)
				request.progress (static_cast<size_t> (started), answer);
		}
		size_t next = first;
		while (next < answers.size () && answered[next])
			++next;
		if (next == first)
		{
			error = "outpost.exe made no progress (see " + log + ")";
			ok = false;
			break;
		}
		first = next;
	}
	if (ok)
	{
		std::error_code ignored;
		fs::remove_all (temp, ignored);
	}
	return ok;
}

} // namespace quillmarlow
