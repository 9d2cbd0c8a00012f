// The command slot (tandem_protocol.h's UICommand), both halves: the Linux
// side posts one command at a time (editor, state, latency, bus and
// shut-down commands) and waits a bounded time for outpost to acknowledge
// it; outpost's main thread takes the command, writes its answers and
// acknowledges.
//
// `processed` is the slot's flag: 1 while the slot is free (the last
// command acknowledged), 0 while a posted command waits. The poster writes
// the code and arguments first, then 0 with release order, and wakes
// outpost's main thread (which otherwise looks at the slot only every 10 to
// 50 ms); outpost writes its answers first, then 1 with release order.
//
// Several threads of the Linux side post into one slot (the host's, the
// editor's, the processor's watchers): each visits the slot through a
// `visit(use)` of its own, which runs `use` on the slot while the slot
// cannot go away and no other poster looks at it, and returns false when
// the slot is gone. Never on the audio thread: the waits sleep.
#pragma once

#include "protocol/parameter_data.h"
#include "protocol/parameter_request.h"
#include "protocol/tandem_protocol.h"

#include <chrono>
#include <thread>

namespace Tandem {

using CommandDeadline = std::chrono::steady_clock::time_point;

// outpost: whether a posted command waits in the slot.
inline bool commandWaiting (const UICommand& ui)
{
	return !ui.processed.load (std::memory_order_acquire);
}

// outpost: acknowledges the command taken, once its answers are written.
inline void acknowledgeCommand (UICommand& ui)
{
	ui.processed.store (true, std::memory_order_release);
}

// Linux side: whether outpost acknowledged the last command posted (the
// slot is free).
inline bool commandAcknowledged (const UICommand& ui)
{
	return ui.processed.load (std::memory_order_acquire);
}

// Linux side: wakes outpost's main thread for a posted command. `ui` is at
// the start of the shared file, and the parameter region's wake word is the
// one outpost's waker thread sleeps on.
inline void wakeOutpostForCommand (UICommand& ui)
{
	wakeOutpostMainThread (parametersAt (&ui)->request);
}

// Linux side: `fill(ui)` writes the command's code and arguments; then the
// flag outpost polls, and, when `wake` (a slot in a shared file), the
// wake-up.
template <typename Fill>
void postCommand (UICommand& ui, Fill&& fill, bool wake)
{
	fill (ui);
	ui.processed.store (false, std::memory_order_release);
	if (wake)
		wakeOutpostForCommand (ui);
}

// A `fill` that writes only the code.
inline auto commandOnly (CommandCode code)
{
	return [code] (UICommand& ui) { ui.command = static_cast<std::int32_t> (code); };
}

inline void postCommand (UICommand& ui, CommandCode code)
{
	postCommand (ui, commandOnly (code), true);
}

// A visit of a slot that its caller keeps mapped while it waits, and that
// no other poster takes meanwhile (the processor's, under its own lock).
inline auto slotVisit (UICommand& ui)
{
	return [&ui] (auto&& use) {
		use (ui);
		return true;
	};
}

// What came of a post or a wait.
enum class CommandTurn
{
	Done, // posted; acknowledged
	Late, // the deadline passed or the caller stopped first
	Gone, // the slot went away
};

// Linux side: posts with `fill` once the slot is free, looking every
// millisecond. Past `deadline` (or once `stopping()`), a poster that
// `takeAnyway` posts over a command that was never acknowledged, one that
// does not gives up. `waiting()` is called once when the slot is first
// found busy.
template <typename Visit, typename Fill, typename Stopping, typename Waiting>
CommandTurn postWhenFree (Visit&& visit, Fill&& fill, bool wake, CommandDeadline deadline, bool takeAnyway,
                          Stopping&& stopping, Waiting&& waiting)
{
	for (bool told = false;; told = true)
	{
		const bool late = std::chrono::steady_clock::now () >= deadline || stopping ();
		bool posted = false;
		const bool linked = visit ([&] (UICommand& ui) {
			if (!commandAcknowledged (ui) && !(late && takeAnyway))
				return;
			postCommand (ui, fill, wake);
			posted = true;
		});
		if (!linked)
			return CommandTurn::Gone;
		if (posted)
			return CommandTurn::Done;
		if (late)
			return CommandTurn::Late;
		if (!told)
			waiting ();
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
}

// Linux side: waits, looking every millisecond, until outpost acknowledged
// the command posted, `deadline` passed or `stopping()`. Each look first
// calls `look(ui, acknowledged)` in the same visit, so that an answer is
// read before another poster can take the slot.
template <typename Visit, typename Stopping, typename Look>
CommandTurn awaitAcknowledgement (Visit&& visit, CommandDeadline deadline, Stopping&& stopping, Look&& look)
{
	for (;;)
	{
		// The deadline is read before the slot: an acknowledgement that came
		// by the deadline is taken.
		const bool late = std::chrono::steady_clock::now () >= deadline || stopping ();
		bool acknowledged = false;
		const bool linked = visit ([&] (UICommand& ui) {
			acknowledged = commandAcknowledged (ui);
			look (ui, acknowledged);
		});
		if (!linked)
			return CommandTurn::Gone;
		if (acknowledged)
			return CommandTurn::Done;
		if (late)
			return CommandTurn::Late;
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
}

template <typename Visit, typename Stopping>
CommandTurn awaitAcknowledgement (Visit&& visit, CommandDeadline deadline, Stopping&& stopping)
{
	return awaitAcknowledgement (visit, deadline, stopping, [] (UICommand&, bool) {});
}

} // namespace Tandem
