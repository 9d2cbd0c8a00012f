// A grouped instance's way into the one outpost that serves its group in
// this host process (protocol/instance_group.h): the group it is in, the
// group file, and the two steps taken under the file's lock, entering
// (joining the running outpost, or starting it) and leaving.
#pragma once

#include "plugin/child_process.h"

#include <functional>
#include <string>
#include <sys/types.h>

namespace Steinberg {
namespace QuillMarlow {

class GroupMembership
{
public:
	// The group of an instance: the host's QUILLMARLOW_GROUP when it names
	// one (for every instance of the host), else its bundle's; empty for
	// none. A name that is not one is left out, with a line in the log.
	static std::string choose (const std::string& bundleGroup);
	// The group file of `config.group` in this host process and prefix.
	static std::string filePath (const Tandem::OutpostConfig& config);

	// Joins the group's running outpost, or else starts one with `start`
	// (given the configuration with its group file; it returns the child's
	// id, or -1). The id of the outpost that serves the instance now; -1
	// when none does.
	static pid_t enter (Tandem::OutpostConfig& config,
	                    const std::function<pid_t (const Tandem::OutpostConfig&)>& start);
	// `shutdown` posts the instance's Shutdown and waits for its answer.
	// True when the group's outpost serves no instance any more (it ends).
	static bool leave (const Tandem::OutpostConfig& config, const std::function<void ()>& shutdown);
	// Ends a group's outpost that no longer answers (SIGKILL) and collects
	// it; its other instances find it gone and are served anew.
	static void endStuckOutpost (pid_t pid);
};

} // namespace QuillMarlow
} // namespace Steinberg
