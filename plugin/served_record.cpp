#include "plugin/served_record.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>
#include <iterator>

namespace Tandem {

using nlohmann::json;

namespace {

template <typename T>
T field (const json& object, const char* key, T fallback)
{
	const auto found = object.find (key);
	if (found == object.end ())
		return fallback;
	try
	{
		return found->get<T> ();
	}
	catch (const json::exception&)
	{
		return fallback;
	}
}

bool readClass (const json& item, ServedClass& c, std::string& error)
{
	if (!item.is_object ())
	{
		error = "a class is not an object";
		return false;
	}
	if (!normaliseClassId (field<std::string> (item, "cid", {}), c.cid))
	{
		error = "a class id is not 32 hex digits";
		return false;
	}
	c.category = field<std::string> (item, "category", {});
	c.name = field<std::string> (item, "name", {});
	c.vendor = field<std::string> (item, "vendor", {});
	c.version = field<std::string> (item, "version", {});
	c.sdkVersion = field<std::string> (item, "sdkVersion", {});
	c.subCategories = field<std::string> (item, "subCategories", {});
	c.classFlags = field<std::uint32_t> (item, "classFlags", 0);
	c.cardinality = field<std::int32_t> (item, "cardinality", 0x7FFFFFFF);
	// A controller id that is no id names no controller.
	if (!normaliseClassId (field<std::string> (item, "controller", {}), c.controller))
		c.controller.clear ();
	c.sample64 = field<bool> (item, "sample64", false);
	c.buses.clear ();
	const auto buses = item.find ("buses");
	if (buses != item.end () && buses->is_array ())
	{
		for (const json& b : *buses)
		{
			if (!b.is_object ())
				continue;
			ServedBus bus;
			bus.mediaType = field<std::string> (b, "mediaType", "audio");
			bus.direction = field<std::string> (b, "direction", "input");
			bus.name = field<std::string> (b, "name", {});
			bus.channelCount = field<std::int32_t> (b, "channelCount", 0);
			bus.busType = field<std::string> (b, "busType", "main");
			bus.flags = field<std::uint32_t> (b, "flags", 0);
			c.buses.push_back (bus);
		}
	}
	return true;
}

json classJson (const ServedClass& c)
{
	json item = {{"cid", c.cid},
	             {"category", c.category},
	             {"name", c.name},
	             {"vendor", c.vendor},
	             {"version", c.version},
	             {"sdkVersion", c.sdkVersion},
	             {"subCategories", c.subCategories},
	             {"classFlags", c.classFlags},
	             {"cardinality", c.cardinality}};
	if (c.category == kAudioModuleClass)
	{
		item["controller"] = c.controller;
		json buses = json::array ();
		for (const ServedBus& b : c.buses)
			buses.push_back ({{"mediaType", b.mediaType},
			                  {"direction", b.direction},
			                  {"name", b.name},
			                  {"channelCount", b.channelCount},
			                  {"busType", b.busType},
			                  {"flags", b.flags}});
		item["buses"] = buses;
		item["sample64"] = c.sample64;
	}
	return item;
}

bool readClasses (const json& list, std::vector<ServedClass>& classes, std::string& error)
{
	if (!list.is_array ())
	{
		error = "no class list";
		return false;
	}
	classes.clear ();
	for (const json& item : list)
	{
		ServedClass c;
		if (!readClass (item, c, error))
			return false;
		classes.push_back (c);
	}
	return true;
}

} // namespace

bool normaliseClassId (const std::string& text, std::string& cid)
{
	if (text.size () != 32)
		return false;
	std::string out (32, '0');
	for (size_t i = 0; i < 32; ++i)
	{
		const unsigned char c = static_cast<unsigned char> (text[i]);
		if (!std::isxdigit (c))
			return false;
		out[i] = static_cast<char> (std::toupper (c));
	}
	cid = out;
	return true;
}

bool validGroupName (const std::string& name)
{
	if (name.empty () || name.size () > 64)
		return false;
	for (const char c : name)
		if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
		      c == '-'))
			return false;
	return true;
}

bool classIdWords (const std::string& cid, std::uint32_t words[4])
{
	std::string checked;
	if (!normaliseClassId (cid, checked))
		return false;
	for (int i = 0; i < 4; ++i)
		words[i] = static_cast<std::uint32_t> (std::stoul (checked.substr (i * 8, 8), nullptr, 16));
	return true;
}

bool parseServedClasses (const std::string& classesJson, std::vector<ServedClass>& classes, std::string& error)
{
	const json list = json::parse (classesJson, nullptr, false);
	if (list.is_discarded ())
	{
		error = "not JSON";
		return false;
	}
	return readClasses (list, classes, error);
}

bool parseServedRecord (const std::string& text, ServedRecord& record, std::string& error)
{
	const json root = json::parse (text, nullptr, false);
	if (root.is_discarded () || !root.is_object ())
	{
		error = "not a JSON object";
		return false;
	}
	if (field<std::string> (root, "madeBy", {}) != kServedRecordMaker)
	{
		error = "not made by quillmarlow sync";
		return false;
	}
	record.madeBy = kServedRecordMaker;
	record.version = field<int> (root, "version", 0);
	if (record.version != kServedRecordVersion)
	{
		error = "record version " + std::to_string (record.version) + ", this build reads " +
		        std::to_string (kServedRecordVersion);
		return false;
	}
	record.prefix = field<std::string> (root, "prefix", {});
	record.source = field<std::string> (root, "source", {});
	record.module = field<std::string> (root, "module", {});
	record.windowsModule = field<std::string> (root, "windowsModule", {});
	record.moduleSize = field<std::int64_t> (root, "moduleSize", 0);
	record.moduleTime = field<std::int64_t> (root, "moduleTime", 0);
	record.bridge = field<std::string> (root, "bridge", {});
	// A name edited by hand into one that is not is kept as it is: the
	// bundle still loads (its instances are served alone, with a line in
	// the log), and `quillmarlow group` can set it right.
	record.group = field<std::string> (root, "group", {});
	const json factory = root.value ("factory", json::object ());
	if (factory.is_object ())
	{
		record.factory.vendor = field<std::string> (factory, "vendor", {});
		record.factory.url = field<std::string> (factory, "url", {});
		record.factory.email = field<std::string> (factory, "email", {});
		record.factory.flags = field<std::int32_t> (factory, "flags", 0);
	}
	const auto classes = root.find ("classes");
	if (classes == root.end ())
	{
		error = "no class list";
		return false;
	}
	return readClasses (*classes, record.classes, error);
}

std::string servedRecordJson (const ServedRecord& record)
{
	json classes = json::array ();
	for (const ServedClass& c : record.classes)
		classes.push_back (classJson (c));
	json root = {{"madeBy", record.madeBy},
	             {"version", record.version},
	             {"prefix", record.prefix},
	             {"source", record.source},
	             {"module", record.module},
	             {"windowsModule", record.windowsModule},
	             {"moduleSize", record.moduleSize},
	             {"moduleTime", record.moduleTime},
	             {"bridge", record.bridge},
	             {"factory",
	              {{"vendor", record.factory.vendor},
	               {"url", record.factory.url},
	               {"email", record.factory.email},
	               {"flags", record.factory.flags}}},
	             {"classes", classes}};
	if (!record.group.empty ())
		root["group"] = record.group;
	// Texts from a module may hold any bytes: invalid UTF-8 is replaced,
	// never a reason to fail.
	return root.dump (2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool readServedRecord (const std::string& bundle, ServedRecord& record, std::string& error)
{
	std::ifstream in (bundle + "/" + kServedRecordFile, std::ios::binary);
	if (!in)
	{
		error = "no record";
		return false;
	}
	const std::string text ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
	return parseServedRecord (text, record, error);
}

} // namespace Tandem
