#include "chain_file.h"

#include "log/log.h"
#include "protocol/file_hold.h"

namespace Tandem {

namespace {

// The chain file of `owner`, held and mapped once for the process: every
// instance a group's outpost serves comes from one host, so from one file.
// Kept for the rest of the process's life, as a file of a new host would be.
ChainRegion* chainFileOf (std::uint32_t owner)
{
	static std::uint32_t mappedOwner = 0;
	static ChainRegion* mapped = nullptr;
	if (mapped && mappedOwner == owner)
		return mapped;
	const std::string path = chainFilePath (owner);
	const std::int64_t held = holdSharedFile (path.c_str ());
	if (held < 0)
		return nullptr;
	ChainRegion* chain = mapChainFile (path);
	if (!chain || !chainHeaderMatches (*chain))
	{
		linuxSyscall (FileHold::kClose, held);
		logError () << "[Outpost] Chain file " << path << " not usable: woken by each block";
		return nullptr;
	}
	logInfo () << "[Outpost] Chain file " << path << " mapped";
	mappedOwner = owner;
	mapped = chain;
	return chain;
}

} // namespace

ChainPlace openChainPlace (const SessionData& session)
{
	ChainPlace place;
	if (session.chainSlot == 0 || !validChainSlot (session.chainSlot - 1))
		return place;
	ChainRegion* chain = chainFileOf (session.chainOwner);
	if (!chain)
		return place;
	place.chain = chain;
	place.owner = session.chainOwner;
	place.slot = session.chainSlot - 1;
	logInfo () << "[Outpost] Chain slot " << place.slot;
	return place;
}

} // namespace Tandem
