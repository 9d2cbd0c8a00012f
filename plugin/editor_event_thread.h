// The editor view's X11 event thread. It does for Wine's window what a window
// manager would do for a top-level window: it tells Wine where the window is
// on the screen whenever that may have changed, and moves the keyboard focus
// into it when the pointer enters or the wrapper gets the focus. It takes
// Wine's window back when someone moves it out of the wrapper, speaks XEmbed
// with a host that does, and lets the view look at outpost's size report and
// restarts every 20 ms.
#pragma once

#include "plugin/window_tree.h"

#include <atomic>
#include <thread>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

class EditorEventThread
{
public:
	// What the thread asks of the view, on the thread.
	class Client
	{
	public:
		// Acts on a new size report of outpost.
		virtual void checkSizeReport () = 0;
		// Follows outpost's restarts; `wine` is replaced on a re-embedding.
		virtual void followOutpost (uint32 wrapper, uint32& wine) = 0;
		virtual uint16 editorWidth () const = 0;
		virtual uint16 editorHeight () const = 0;

	protected:
		~Client () = default;
	};

	EditorEventThread (WindowTree& windows, Client& client);
	~EditorEventThread () { stop (); }
	EditorEventThread (const EditorEventThread&) = delete;
	EditorEventThread& operator= (const EditorEventThread&) = delete;

	// Follows the tree's wrapper and Wine's window, and the moves of the
	// host window and its ancestors; nothing when it runs already.
	void start ();
	void stop ();
	bool running () const { return thread_.joinable (); }

private:
	void run ();

	WindowTree& windows_;
	Client& client_;
	std::thread thread_;
	std::atomic<bool> running_ {false};
	// Windows whose moves the thread follows; set before the thread starts.
	std::vector<uint32> ancestors_;
};

} // namespace QuillMarlow
} // namespace Steinberg
