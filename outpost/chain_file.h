// The chain file of the host that started outpost (protocol/chain_wake.h):
// where the outposts of instances that the host runs one after another wake
// each other.
#pragma once

#include "protocol/chain_wake.h"
#include "protocol/session_data.h"

namespace Tandem {

// outpost's place in its host's chains, from the session region: the chain
// file mapped for the rest of the process's life, and its slot there. No
// chain when the session names none, or the file is missing or of another
// build (the outpost is then woken by its own blocks).
ChainPlace openChainPlace (const SessionData& session);

// Maps the whole chain file at the Linux `path`; nullptr when it cannot.
ChainRegion* mapChainFile (const std::string& path);

} // namespace Tandem
