#include "module_info.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace quillmarlow {

namespace {

std::string text (const nlohmann::json& object, const char* key)
{
	const auto found = object.find (key);
	return found != object.end () && found->is_string () ? found->get<std::string> () : std::string ();
}

std::string joined (const nlohmann::json& list)
{
	std::string out;
	if (!list.is_array ())
		return out;
	for (const nlohmann::json& item : list)
		if (item.is_string ())
			out += (out.empty () ? "" : "|") + item.get<std::string> ();
	return out;
}

// The controller of audio class `index`, as far as the list tells.
std::string pairedController (const std::vector<Tandem::ServedClass>& classes, size_t index)
{
	std::vector<size_t> controllers;
	for (size_t i = 0; i < classes.size (); ++i)
		if (classes[i].category == Tandem::kComponentControllerClass)
			controllers.push_back (i);
	if (controllers.size () == 1)
		return classes[controllers.front ()].cid;
	for (size_t i : controllers)
		if (classes[i].name.rfind (classes[index].name, 0) == 0)
			return classes[i].cid;
	for (size_t i : controllers)
		if (i > index)
			return classes[i].cid;
	return {};
}

} // namespace

bool classesFromModuleInfo (const std::string& bundle, ModuleClasses& answer)
{
	std::ifstream in (bundle + "/Contents/Resources/moduleinfo.json", std::ios::binary);
	if (!in)
		return false;
	const nlohmann::json info = nlohmann::json::parse (in, nullptr, false, true);
	if (!info.is_object () || !info.contains ("Classes") || !info["Classes"].is_array ())
		return false;
	answer = {};
	const nlohmann::json factory = info.value ("Factory Info", nlohmann::json::object ());
	if (factory.is_object ())
	{
		answer.factory.vendor = text (factory, "Vendor");
		answer.factory.url = text (factory, "URL");
		answer.factory.email = text (factory, "E-Mail");
		const nlohmann::json flags = factory.value ("Flags", nlohmann::json::object ());
		if (flags.is_object ())
		{
			answer.factory.flags = (flags.value ("Classes Discardable", false) ? 1 : 0) |
			                       (flags.value ("Component Non Discardable", false) ? 8 : 0) |
			                       (flags.value ("Unicode", false) ? 16 : 0);
		}
	}
	bool audio = false;
	for (const nlohmann::json& item : info["Classes"])
	{
		if (!item.is_object ())
			continue;
		Tandem::ServedClass c;
		if (!Tandem::normaliseClassId (text (item, "CID"), c.cid))
			return false;
		c.category = text (item, "Category");
		c.name = text (item, "Name");
		c.vendor = text (item, "Vendor");
		c.version = text (item, "Version");
		c.sdkVersion = text (item, "SDKVersion");
		c.subCategories = joined (item.value ("Sub Categories", nlohmann::json::array ()));
		const auto flags = item.find ("Class Flags");
		c.classFlags = flags != item.end () && flags->is_number_unsigned () ? flags->get<std::uint32_t> () : 0;
		const auto cardinality = item.find ("Cardinality");
		c.cardinality = cardinality != item.end () && cardinality->is_number_integer ()
		                    ? cardinality->get<std::int32_t> ()
		                    : 0x7FFFFFFF;
		audio = audio || c.category == Tandem::kAudioModuleClass;
		answer.classes.push_back (c);
	}
	for (size_t i = 0; i < answer.classes.size (); ++i)
		if (answer.classes[i].category == Tandem::kAudioModuleClass)
			answer.classes[i].controller = pairedController (answer.classes, i);
	answer.ok = audio;
	return audio;
}

} // namespace quillmarlow
