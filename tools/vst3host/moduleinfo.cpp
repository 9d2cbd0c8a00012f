// `vst3host moduleinfo`: writes the bundle's moduleinfo.json from its
// factory, so that hosts that read it can scan without loading the library.
#include "commands.h"
#include "bundle.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace Steinberg;

namespace vst3host {

namespace {

// The keys in the order the SDK's own moduleinfo.json has them.
using Json = nlohmann::ordered_json;

// "Fx|Delay" -> ["Fx", "Delay"]
Json subCategories (const char* text)
{
	Json list = Json::array ();
	std::stringstream in (text);
	for (std::string item; std::getline (in, item, '|');)
		if (!item.empty ())
			list.push_back (item);
	return list;
}

} // namespace

int moduleInfoCommand (const std::string& path, const std::string& output)
{
	Bundle bundle;
	if (!loadBundle (bundle, path))
		return 1;
	const PFactoryInfo info = bundle.factoryInfo ();

	std::filesystem::path name = std::filesystem::path (path).lexically_normal ();
	if (name.filename ().empty ())
		name = name.parent_path ();
	Json classes = Json::array ();
	std::string version;
	for (const PClassInfo2& c : bundle.classes ())
	{
		if (version.empty ())
			version = c.version;
		char id[33];
		FUID::fromTUID (c.cid).toString (id);
		classes.push_back ({{"CID", id},
		                    {"Category", c.category},
		                    {"Name", c.name},
		                    {"Vendor", c.vendor},
		                    {"Version", c.version},
		                    {"SDKVersion", c.sdkVersion},
		                    {"Sub Categories", subCategories (c.subCategories)},
		                    {"Class Flags", c.classFlags},
		                    {"Cardinality", c.cardinality},
		                    {"Snapshots", Json::array ()}});
	}
	const Json json = {
	    {"Name", name.stem ().string ()},
	    {"Factory Info",
	     {{"Vendor", info.vendor},
	      {"URL", info.url},
	      {"E-Mail", info.email},
	      {"Flags",
	       {{"Unicode", (info.flags & PFactoryInfo::kUnicode) != 0},
	        {"Classes Discardable", (info.flags & PFactoryInfo::kClassesDiscardable) != 0},
	        {"Component Non Discardable", (info.flags & PFactoryInfo::kComponentNonDiscardable) != 0}}}}},
	    {"Compatibility", Json::array ()},
	    {"Classes", std::move (classes)},
	    {"Version", version}};
	const std::string text = json.dump (2, ' ', false, Json::error_handler_t::replace) + "\n";

	if (output.empty ())
	{
		std::fputs (text.c_str (), stdout);
		return 0;
	}
	std::ofstream out (output);
	out << text;
	if (!out)
	{
		std::fprintf (stderr, "vst3host: cannot write %s\n", output.c_str ());
		return 1;
	}
	return 0;
}

} // namespace vst3host
