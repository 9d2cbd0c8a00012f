#include "chain_file.h"

#include "log/log.h"
#include "protocol/file_hold.h"

namespace Tandem {

ChainPlace openChainPlace (const SessionData& session)
{
	ChainPlace place;
	if (session.chainSlot == 0 || !validChainSlot (session.chainSlot - 1))
		return place;
	const std::string path = chainFilePath (session.chainOwner);
	// Held as the shared file is, for the rest of the process's life.
	if (holdSharedFile (path.c_str ()) < 0)
		return place;
	ChainRegion* chain = mapChainFile (path);
	if (!chain || !chainHeaderMatches (*chain))
	{
		logError () << "[Outpost] Chain file " << path << " not usable: woken by each block";
		return place;
	}
	place.chain = chain;
	place.owner = session.chainOwner;
	place.slot = session.chainSlot - 1;
	logInfo () << "[Outpost] Chain slot " << place.slot << " in " << path;
	return place;
}

} // namespace Tandem
