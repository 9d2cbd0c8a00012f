// How an editor view reaches the command region of the outpost that serves
// it. A processor's region lives in its shared file, which the processor
// unmaps on `terminate` or destruction, possibly while a view still exists,
// and a later mapping may take the same address. So the view never keeps a
// pointer to it: every access goes through the processor registry, under its
// lock, by the processor's instance id.
#pragma once

#include "protocol/tandem_protocol.h"

#include "pluginterfaces/base/ftypes.h"

#include <functional>

namespace Steinberg {
namespace QuillMarlow {

class CommandRegionLink
{
public:
	// The region of the processor with this instance id, while it is mapped.
	static CommandRegionLink toProcessor (int32 instanceId);
	// A region that belongs to no processor (a test's, a tool's); its owner
	// keeps it alive as long as the view. A processor's region passed here is
	// linked through its processor as above.
	static CommandRegionLink toRegion (Tandem::UICommand* region);

	// False for a link to nothing.
	bool linked () const { return processor_ || region_; }
	// The region is a processor's, at the start of its whole shared file.
	bool inSharedFile () const { return processor_; }
	// Runs `use` on the region while it cannot go away; false, without
	// running it, when the region is gone (or there never was one).
	bool with (const std::function<void (Tandem::UICommand&)>& use) const;

	// Whether the processor's outpost is up (not ended or being restarted)
	// and how often it was restarted; false for a region of no processor.
	bool outpostStatus (bool& up, int32& restarts) const;

private:
	bool processor_ = false;
	int32 instanceId_ = 0;
	Tandem::UICommand* region_ = nullptr;
};

} // namespace QuillMarlow
} // namespace Steinberg
