#include "plugin/view_commands.h"
#include "plugin/command_slot.h"
#include "protocol/editor_size.h"
#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr const char* kRegionGone = "[QuillMarlowView] ERROR: outpost's shared file is gone (processor terminated)";

} // namespace

bool ViewCommands::postWhenFree (const std::function<void (Tandem::UICommand&)>& fill,
                                 std::chrono::milliseconds timeout, bool takeAnyway)
{
	const Tandem::CommandTurn turn = Tandem::postWhenFree (
	    [this] (auto&& use) { return region_.with (use); }, fill, region_.inSharedFile (),
	    std::chrono::steady_clock::now () + timeout, takeAnyway, [] { return false; },
	    [] { Tandem::logInfo () << "[QuillMarlowView] Waiting for outpost to finish the previous command..."; });
	if (turn == Tandem::CommandTurn::Gone && !takeAnyway)
		Tandem::logError () << kRegionGone;
	if (turn == Tandem::CommandTurn::Late)
		Tandem::logError () << "[QuillMarlowView] TIMEOUT waiting for outpost!";
	return turn == Tandem::CommandTurn::Done;
}

bool ViewCommands::waitForAcknowledgement (std::chrono::milliseconds timeout, bool withdrawShown)
{
	uint64 named = 0;
	auto visit = [&] (auto&& use) {
		const bool linked = region_.with (use);
		// outpost names its window before it shows it.
		if (linked && withdrawShown && named != 0)
		{
			windows_.withdrawForShow (static_cast<uint32> (named));
			withdrawShown = false;
		}
		return linked;
	};
	const Tandem::CommandTurn turn = Tandem::awaitAcknowledgement (
	    visit, std::chrono::steady_clock::now () + timeout, [] { return false; },
	    [&] (Tandem::UICommand& ui, bool done) { named = done ? 0 : ui.wineWindow; });
	if (turn == Tandem::CommandTurn::Gone)
		Tandem::logError () << kRegionGone;
	if (turn == Tandem::CommandTurn::Late)
		Tandem::logError () << "[QuillMarlowView] TIMEOUT waiting for outpost!";
	return turn == Tandem::CommandTurn::Done;
}

bool ViewCommands::postShowEditor (std::chrono::milliseconds timeout)
{
	return postWhenFree (
	    [this] (Tandem::UICommand& ui) {
		    ui.parentWindow = windows_.parent ();
		    ui.wineWindow = 0;
		    ui.command = static_cast<int32> (Tandem::CommandCode::ShowEditor);
	    },
	    timeout);
}

uint64 ViewCommands::wineWindow () const
{
	uint64 window = 0;
	region_.with ([&] (Tandem::UICommand& ui) { window = ui.wineWindow; });
	return window;
}

bool ViewCommands::exchange (Tandem::CommandCode code, uint64& argument, std::chrono::milliseconds timeout)
{
	const bool posted = postWhenFree (
	    [&] (Tandem::UICommand& ui) {
		    ui.parentWindow = argument;
		    ui.command = static_cast<int32> (code);
	    },
	    timeout);
	return posted && waitForAcknowledgement (timeout) &&
	       region_.with ([&] (Tandem::UICommand& ui) { argument = ui.parentWindow; });
}

bool ViewCommands::exchangeEditorSize (Tandem::CommandCode code, int32& width, int32& height)
{
	// The host's thread waits here: a hung outpost must not hold it long.
	constexpr auto kSizeTimeout = std::chrono::seconds (2);
	uint64 answer = Tandem::packEditorSize (width, height);
	if (!exchange (code, answer, kSizeTimeout))
		return false;
	const int32 w = Tandem::packedEditorWidth (answer), h = Tandem::packedEditorHeight (answer);
	if (!Tandem::plausibleEditorSize (w, h))
		return false;
	width = w;
	height = h;
	return true;
}

bool ViewCommands::readSizeReport (int32& report, int32& width, int32& height) const
{
	bool consistent = false;
	region_.with ([&] (Tandem::UICommand& ui) { consistent = Tandem::readEditorSize (ui, report, width, height); });
	return consistent;
}

} // namespace QuillMarlow
} // namespace Steinberg
