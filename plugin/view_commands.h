// The editor view's side of the command slot: it posts the editor's
// commands once the slot is free, waits for outpost's acknowledgement, and
// reads what outpost answered and reported (its window, the editor's size).
// Every look at the slot is one visit of the region, under its lock: the
// processor posts into the same slot from its own threads, and may unmap it.
#pragma once

#include "plugin/command_region_link.h"
#include "plugin/window_tree.h"
#include "protocol/tandem_protocol.h"

#include <chrono>
#include <functional>

namespace Steinberg {
namespace QuillMarlow {

class ViewCommands
{
public:
	ViewCommands (CommandRegionLink& region, WindowTree& windows) : region_ (region), windows_ (windows) {}

	// Posts the command that `fill` writes (code and arguments) once the
	// slot is free, waiting up to `timeout`; with `takeAnyway` a slot still
	// busy then is taken all the same. False when nothing was posted (the
	// region is gone, or the slot stayed busy).
	bool postWhenFree (const std::function<void (Tandem::UICommand&)>& fill, std::chrono::milliseconds timeout,
	                   bool takeAnyway = false);
	// Waits up to `timeout` for outpost to acknowledge the posted command;
	// false (with its message) on a time-out or when the region went away.
	// With `withdrawShown`, Wine's window, as soon as outpost names it, is
	// withdrawn from the top level as a window manager would (see
	// WindowTree::withdrawForShow).
	bool waitForAcknowledgement (std::chrono::milliseconds timeout, bool withdrawShown = false);
	// Posts ShowEditor for the windows' host window once the slot is free.
	bool postShowEditor (std::chrono::milliseconds timeout);
	// The window outpost named in its answer to ShowEditor; 0 for none.
	uint64 wineWindow () const;
	// Posts a command whose argument and answer travel in parentWindow and
	// waits up to `timeout` for the answer; false when there is none.
	bool exchange (Tandem::CommandCode code, uint64& argument, std::chrono::milliseconds timeout);
	// Posts a size command with the size as its argument and waits for
	// outpost's answer, which replaces the size; false when there is none.
	bool exchangeEditorSize (Tandem::CommandCode code, int32& width, int32& height);
	// Reads outpost's size report: one consistent size and its report word.
	bool readSizeReport (int32& report, int32& width, int32& height) const;

private:
	CommandRegionLink& region_;
	WindowTree& windows_;
};

} // namespace QuillMarlow
} // namespace Steinberg
