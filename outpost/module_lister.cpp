#include "module_lister.h"

#include "class_id.h"
#include "host_application.h"
#include "vst3_loader.h"
#include "win32.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

// Keys stay in the order written, as a reader of the output expects to see them.
using Json = nlohmann::ordered_json;

constexpr DWORD kModuleBoundMs = 10000;

HANDLE s_output = INVALID_HANDLE_VALUE;
std::atomic<int> s_current {-1};
// The last module whose answer is written: one that crashes or hangs only
// when it is freed keeps its answer (a host frees it at its very end).
std::atomic<int> s_answered {-1};
HANDLE s_moduleDone = nullptr;

// One JSON object per line. Texts are UTF-8 (utf8Text); a byte that is not
// would be replaced rather than end the lister.
void writeLine (const Json& line)
{
	DWORD written = 0;
	const std::string text = line.dump (-1, ' ', false, Json::error_handler_t::replace) + "\n";
	WriteFile (s_output, text.data (), static_cast<DWORD> (text.size ()), &written, nullptr);
	FlushFileBuffers (s_output);
}

void endWith (int index, const std::string& error)
{
	if (s_answered.load () != index)
		writeLine (Json {{"index", index}, {"ok", false}, {"error", error}});
	TerminateProcess (GetCurrentProcess (), 3);
}

LONG WINAPI reportCrash (EXCEPTION_POINTERS* info)
{
	char code[16];
	std::snprintf (code, sizeof code, "0x%08lx",
	               info && info->ExceptionRecord ? static_cast<unsigned long> (info->ExceptionRecord->ExceptionCode)
	                                             : 0ul);
	endWith (s_current.load (), std::string ("crashed while read (exception ") + code + ")");
	return EXCEPTION_EXECUTE_HANDLER;
}

// Texts a module gives as bytes: valid UTF-8 is kept, any other byte is '?'.
std::string utf8Text (const char* bytes, size_t capacity)
{
	std::string out;
	for (size_t i = 0; i < capacity && bytes[i];)
	{
		const unsigned char c = static_cast<unsigned char> (bytes[i]);
		const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
		bool valid = length > 0 && i + length <= capacity;
		for (size_t k = 1; valid && k < length; ++k)
			valid = (static_cast<unsigned char> (bytes[i + k]) & 0xC0) == 0x80;
		if (!valid)
		{
			out += '?';
			++i;
			continue;
		}
		out.append (bytes + i, length);
		i += length;
	}
	return out;
}

std::string utf8Text (const char16* text, size_t capacity)
{
	size_t length = 0;
	while (length < capacity && text[length])
		++length;
	if (length == 0)
		return {};
	const wchar_t* wide = reinterpret_cast<const wchar_t*> (text);
	const int size = WideCharToMultiByte (CP_UTF8, 0, wide, static_cast<int> (length), nullptr, 0, nullptr, nullptr);
	std::string out (static_cast<size_t> (size > 0 ? size : 0), '\0');
	if (size > 0)
		WideCharToMultiByte (CP_UTF8, 0, wide, static_cast<int> (length), &out[0], size, nullptr, nullptr);
	return out;
}

// What the component of an audio class says of itself, into `entry`: its
// controller, buses and whether it processes 64-bit samples.
void componentFields (IPluginFactory* factory, const TUID cid, HostApplication* host, Json& entry)
{
	void* object = nullptr;
	if (factory->createInstance (cid, IComponent::iid, &object) != kResultOk || !object)
		return;
	IComponent* component = static_cast<IComponent*> (object);
	if (component->initialize (host) == kResultOk)
	{
		TUID controller = {};
		if (component->getControllerClassId (controller) == kResultOk && FUID::fromTUID (controller).isValid ())
			entry["controller"] = classIdText (controller);
		Json buses = Json::array ();
		for (MediaType media : {kAudio, kEvent})
		{
			for (BusDirection direction : {kInput, kOutput})
			{
				const int32 count = component->getBusCount (media, direction);
				for (int32 i = 0; i < count && i < 256; ++i)
				{
					BusInfo bus {};
					if (component->getBusInfo (media, direction, i, bus) != kResultOk)
						continue;
					buses.push_back ({{"mediaType", media == kAudio ? "audio" : "event"},
					                  {"direction", direction == kInput ? "input" : "output"},
					                  {"name", utf8Text (bus.name, 128)},
					                  {"channelCount", bus.channelCount},
					                  {"busType", bus.busType == kAux ? "aux" : "main"},
					                  {"flags", bus.flags}});
				}
			}
		}
		entry["buses"] = std::move (buses);
		IAudioProcessor* processor = nullptr;
		bool sample64 = false;
		if (component->queryInterface (IAudioProcessor::iid, reinterpret_cast<void**> (&processor)) == kResultOk &&
		    processor)
		{
			sample64 = processor->canProcessSampleSize (kSample64) == kResultTrue;
			processor->release ();
		}
		entry["sample64"] = sample64;
		component->terminate ();
	}
	component->release ();
}

// The module's factory and classes, into `line`.
void readModule (IPluginFactory* factory, Json& line)
{
	HostApplication* host = new HostApplication;
	IPluginFactory2* factory2 = nullptr;
	IPluginFactory3* factory3 = nullptr;
	factory->queryInterface (IPluginFactory2::iid, reinterpret_cast<void**> (&factory2));
	factory->queryInterface (IPluginFactory3::iid, reinterpret_cast<void**> (&factory3));
	if (factory3)
		factory3->setHostContext (host);

	PFactoryInfo info {};
	factory->getFactoryInfo (&info);
	line["factory"] = {{"vendor", utf8Text (info.vendor, sizeof info.vendor)},
	                   {"url", utf8Text (info.url, sizeof info.url)},
	                   {"email", utf8Text (info.email, sizeof info.email)},
	                   {"flags", info.flags}};
	Json classes = Json::array ();
	const int32 count = factory->countClasses ();
	for (int32 i = 0; i < count; ++i)
	{
		PClassInfo basic {};
		if (factory->getClassInfo (i, &basic) != kResultOk)
			continue;
		std::string category = utf8Text (basic.category, sizeof basic.category);
		std::string name = utf8Text (basic.name, sizeof basic.name);
		std::string vendor, version, sdkVersion, subCategories;
		uint32 flags = 0;
		PClassInfoW wide {};
		PClassInfo2 info2 {};
		if (factory3 && factory3->getClassInfoUnicode (i, &wide) == kResultOk)
		{
			name = utf8Text (wide.name, PClassInfo::kNameSize);
			vendor = utf8Text (wide.vendor, PClassInfo2::kVendorSize);
			version = utf8Text (wide.version, PClassInfo2::kVersionSize);
			sdkVersion = utf8Text (wide.sdkVersion, PClassInfo2::kVersionSize);
			subCategories = utf8Text (wide.subCategories, sizeof wide.subCategories);
			flags = wide.classFlags;
		}
		else if (factory2 && factory2->getClassInfo2 (i, &info2) == kResultOk)
		{
			vendor = utf8Text (info2.vendor, sizeof info2.vendor);
			version = utf8Text (info2.version, sizeof info2.version);
			sdkVersion = utf8Text (info2.sdkVersion, sizeof info2.sdkVersion);
			subCategories = utf8Text (info2.subCategories, sizeof info2.subCategories);
			flags = info2.classFlags;
		}
		Json entry = {{"cid", classIdText (basic.cid)},
		              {"category", category},
		              {"name", name},
		              {"vendor", vendor},
		              {"version", version},
		              {"sdkVersion", sdkVersion},
		              {"subCategories", subCategories},
		              {"classFlags", flags},
		              {"cardinality", basic.cardinality}};
		if (category == "Audio Module Class")
			componentFields (factory, basic.cid, host, entry);
		classes.push_back (std::move (entry));
	}
	line["classes"] = std::move (classes);
	if (factory3)
		factory3->release ();
	if (factory2)
		factory2->release ();
	host->release ();
}

std::vector<std::string> readList (const char* path)
{
	std::vector<std::string> lines;
	FILE* in = std::fopen (path, "rb");
	if (!in)
		return lines;
	std::string line;
	for (int c; (c = std::fgetc (in)) != EOF;)
	{
		if (c == '\n')
		{
			lines.push_back (line);
			line.clear ();
		}
		else if (c != '\r')
		{
			line += static_cast<char> (c);
		}
	}
	if (!line.empty ())
		lines.push_back (line);
	std::fclose (in);
	return lines;
}

} // namespace

int listModules (int argc, char** argv)
{
	if (argc < 5)
	{
		std::fprintf (stderr, "Usage: %s --list <list> <output> <first>\n", argv[0]);
		return 1;
	}
	const std::vector<std::string> modules = readList (argv[2]);
	s_output = CreateFileA (argv[3], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
	                        FILE_ATTRIBUTE_NORMAL, nullptr);
	if (s_output == INVALID_HANDLE_VALUE)
	{
		std::fprintf (stderr, "[Outpost] Cannot write %s\n", argv[3]);
		return 1;
	}
	// No error boxes, no debugger: a module that fails says so and ends us.
	SetErrorMode (SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
	SetUnhandledExceptionFilter (reportCrash);

	// One module at a time, each within its bound.
	s_moduleDone = CreateEventA (nullptr, FALSE, FALSE, nullptr);
	std::atomic<bool> finished {false};
	std::thread watchdog ([&] {
		while (!finished.load ())
		{
			const int index = s_current.load ();
			if (WaitForSingleObject (s_moduleDone, kModuleBoundMs) == WAIT_TIMEOUT && !finished.load () && index >= 0 &&
			    s_current.load () == index)
				endWith (index, "did not answer within 10 s");
		}
	});

	for (int index = std::atoi (argv[4]); index >= 0 && index < static_cast<int> (modules.size ()); ++index)
	{
		s_current.store (index);
		SetEvent (s_moduleDone);
		writeLine (Json {{"index", index}, {"start", true}});
		VST3Loader loader;
		Json line = {{"index", index}};
		if (!loader.load (modules[static_cast<size_t> (index)]))
		{
			line["ok"] = false;
			line["error"] = loader.error ();
		}
		else
		{
			line["ok"] = true;
			readModule (loader.factory (), line);
		}
		writeLine (line);
		s_answered.store (index);
		loader.unload ();
	}
	finished.store (true);
	SetEvent (s_moduleDone);
	watchdog.join ();
	CloseHandle (s_output);
	return 0;
}

} // namespace Tandem
