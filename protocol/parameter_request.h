// The request slot of the parameter region (parameter_data.h), both halves:
// the Linux controller posts one request at a time (a string conversion, a
// program name, a MIDI or note question) and waits a bounded time for its
// answer; outpost's main thread answers it from the served controller.
//
// Writers: the Linux side writes kind, id, index, value and text (and the
// MIDI field's arguments, midi_controller_data.h), then advances `posted`
// and the `wake` word outpost's waker sleeps on; outpost reads them, writes
// result, answerValue and text, then sets `answered` to `posted` and wakes
// the Linux side on it.
#pragma once

#include "protocol/futex.h"
#include "protocol/parameter_layout.h"

#include <chrono>

namespace Tandem {

// Linux side: waits for the answer to request `serial`, at most `wait`.
inline bool awaitRequestAnswer (ParameterRequest& request, std::int32_t serial,
                                std::chrono::steady_clock::duration wait)
{
	const auto deadline = std::chrono::steady_clock::now () + wait;
	for (;;)
	{
		const std::int32_t now = request.answered.load (std::memory_order_acquire);
		if (now == serial)
			return true;
		const auto left = deadline - std::chrono::steady_clock::now ();
		if (left <= std::chrono::steady_clock::duration::zero ())
			return false;
		futexWait (&request.answered, now, std::chrono::duration_cast<std::chrono::nanoseconds> (left).count ());
	}
}

// Linux side: writes a request's arguments (a null text is an empty one).
inline void writeRequest (ParameterRequest& request, ParameterRequestKind kind, std::uint32_t id, double value,
                          std::int32_t index, const Steinberg::Vst::TChar* text)
{
	request.kind = static_cast<std::int32_t> (kind);
	request.id = id;
	request.index = index;
	request.value = value;
	if (text)
		copyText (request.text, text);
	else
		request.text[0] = 0;
}

// Linux side: wakes outpost's main thread (its waker sleeps on `wake`), for
// a request or for anything else it serves.
inline void wakeOutpostMainThread (ParameterRequest& request)
{
	request.wake.fetch_add (1, std::memory_order_release);
	futexWake (&request.wake);
}

// Linux side: posts the request written into the slot and wakes outpost;
// the serial its answer will carry.
inline std::int32_t postRequest (ParameterRequest& request)
{
	const std::int32_t serial = request.posted.load (std::memory_order_relaxed) + 1;
	request.posted.store (serial, std::memory_order_release);
	wakeOutpostMainThread (request);
	return serial;
}

// What came of a request the Linux side asked.
enum class RequestTurn
{
	Answered,
	Busy,   // an earlier request is still unanswered
	Silent, // no answer within the wait
};

// Linux side: asks one request and waits at most `wait` for its answer. An
// earlier request still unanswered is waited for first when
// `waitForEarlier` (an answer that is late), else the slot is busy.
// `post()` writes the request's further arguments (the MIDI field's) before
// it is posted; `take()` reads the answer once it came.
template <typename Post, typename Take>
RequestTurn askRequest (ParameterRequest& request, ParameterRequestKind kind, std::uint32_t id, double value,
                        std::int32_t index, const Steinberg::Vst::TChar* text, bool waitForEarlier,
                        std::chrono::steady_clock::duration wait, Post&& post, Take&& take)
{
	const std::int32_t posted = request.posted.load (std::memory_order_relaxed);
	if (request.answered.load (std::memory_order_acquire) != posted &&
	    (!waitForEarlier || !awaitRequestAnswer (request, posted, wait)))
		return RequestTurn::Busy;
	writeRequest (request, kind, id, value, index, text);
	post ();
	if (!awaitRequestAnswer (request, postRequest (request), wait))
		return RequestTurn::Silent;
	take ();
	return RequestTurn::Answered;
}

// outpost: a request's arguments, out of the file: the text ended.
struct RequestArguments
{
	std::int32_t kind;
	std::uint32_t id;
	std::int32_t index;
	double value;
	Steinberg::Vst::String128 text;
};

inline RequestArguments readRequest (const ParameterRequest& request)
{
	RequestArguments arguments {request.kind, request.id, request.index, request.value, {}};
	copyText (arguments.text, request.text);
	return arguments;
}

// outpost: answers a posted request that `ours` takes (by its kind) with
// `answer` (given the RequestArguments; it writes result, answerValue or
// text), marks it answered and, when `wakeLinux`, wakes the Linux side;
// false when there was none to answer.
template <typename Ours, typename Answer>
bool answerRequest (ParameterRequest& request, bool wakeLinux, Ours&& ours, Answer&& answer)
{
	const std::int32_t posted = request.posted.load (std::memory_order_acquire);
	if (posted == request.answered.load (std::memory_order_relaxed) || !ours (request.kind))
		return false;
	request.result = Steinberg::kResultFalse;
	request.answerValue = 0.0;
	answer (readRequest (request));
	request.answered.store (posted, std::memory_order_release);
	if (wakeLinux)
		futexWake (&request.answered);
	return true;
}

} // namespace Tandem
