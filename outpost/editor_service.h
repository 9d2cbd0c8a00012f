// The served editor's commands (show, hide, its size, its scale) and the
// size it reports to the Linux side through the command slot.
#pragma once

#include <cstdint>

#include "protocol/tandem_protocol.h"
#include "served_instance.h"

namespace Tandem {

class EditorService
{
public:
	explicit EditorService (ServedInstance& instance) : instance_ (instance) {}

	// ShowEditor, HideEditor, CheckEditorSize, ResizeEditor, PrepareEditor
	// and SetContentScale; false for any other command.
	bool handle (CommandCode code);
	// Writes the served editor's size and resizability into the command
	// region when they differ from what was last written there.
	void publishSize ();
	// An editor is shown: its messages want a faster main loop.
	bool shown () const { return shown_; }

private:
	void show ();
	// The size commands: argument and answer travel in parentWindow.
	void handleSize (CommandCode code);

	ServedInstance& instance_;
	bool shown_ = false;
	// What publishSize last wrote; a width of 0 means nothing yet.
	std::int32_t publishedWidth_ = 0;
	std::int32_t publishedHeight_ = 0;
	bool publishedResizable_ = false;
};

} // namespace Tandem
