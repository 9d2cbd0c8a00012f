// Modules that could not be read under Wine (they failed to load, hung or
// crashed), remembered with their size and time, so that a sync does not
// start Wine and wait for them again while they have not changed. Kept in
// $XDG_CACHE_HOME/quillmarlow/failed.json (~/.cache by default).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace quillmarlow {

class FailedReads
{
public:
	FailedReads ();
	// The reason a module unchanged since it failed was given; empty when
	// it is to be read.
	std::string reason (const std::string& module, std::int64_t size, std::int64_t time,
	                    const std::string& bridge) const;
	void failed (const std::string& module, std::int64_t size, std::int64_t time, const std::string& bridge,
	             const std::string& reason);
	void read (const std::string& module) { entries_.erase (module); }
	void save () const;

private:
	struct Entry
	{
		std::int64_t size = 0, time = 0;
		std::string bridge, reason;
	};
	std::string path_;
	std::map<std::string, Entry> entries_;
};

} // namespace quillmarlow
