#include "failed_reads.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quillmarlow {

FailedReads::FailedReads ()
{
	const char* cache = std::getenv ("XDG_CACHE_HOME");
	const char* home = std::getenv ("HOME");
	if (cache && *cache)
		path_ = std::string (cache) + "/quillmarlow/failed.json";
	else if (home && *home)
		path_ = std::string (home) + "/.cache/quillmarlow/failed.json";
	std::ifstream in (path_, std::ios::binary);
	const nlohmann::json root = nlohmann::json::parse (in, nullptr, false);
	if (!root.is_object ())
		return;
	for (const auto& [module, item] : root.items ())
	{
		if (!item.is_object ())
			continue;
		try
		{
			entries_[module] = {item.value ("size", std::int64_t {0}), item.value ("time", std::int64_t {0}),
			                    item.value ("bridge", std::string ()), item.value ("reason", std::string ())};
		}
		catch (const nlohmann::json::exception&)
		{
		}
	}
}

std::string FailedReads::reason (const std::string& module, std::int64_t size, std::int64_t time,
                                 const std::string& bridge) const
{
	const auto found = entries_.find (module);
	if (found == entries_.end () || found->second.size != size || found->second.time != time ||
	    found->second.bridge != bridge)
		return {};
	return found->second.reason;
}

void FailedReads::failed (const std::string& module, std::int64_t size, std::int64_t time, const std::string& bridge,
                          const std::string& reason)
{
	entries_[module] = {size, time, bridge, reason};
}

void FailedReads::save () const
{
	if (path_.empty ())
		return;
	nlohmann::json root = nlohmann::json::object ();
	for (const auto& [module, entry] : entries_)
		root[module] = {{"size", entry.size}, {"time", entry.time}, {"bridge", entry.bridge}, {"reason", entry.reason}};
	std::error_code error;
	std::filesystem::create_directories (std::filesystem::path (path_).parent_path (), error);
	const std::string temp = path_ + ".new";
	{
		std::ofstream out (temp, std::ios::binary);
		out << root.dump (2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
	}
	std::filesystem::rename (temp, path_, error);
}

} // namespace quillmarlow
