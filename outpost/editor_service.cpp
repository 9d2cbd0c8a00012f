#include "editor_service.h"

#include "log/log.h"
#include "protocol/editor_size.h"

namespace Tandem {

bool EditorService::handle (CommandCode code)
{
	UICommand* ui = instance_.regions.uiCommand;
	PluginInstance* plugin = instance_.plugin.get ();
	switch (code)
	{
	case CommandCode::ShowEditor:
		show ();
		return true;

	case CommandCode::HideEditor:
		logInfo () << "[Outpost] Received HideEditor command";
		if (plugin)
			plugin->editor ().hide ();
		shown_ = false;
		ui->wineWindow = 0;
		return true;

	case CommandCode::CheckEditorSize:
	case CommandCode::ResizeEditor:
		handleSize (code);
		return true;

	case CommandCode::PrepareEditor:
		logInfo () << "[Outpost] Received PrepareEditor command";
		if (plugin && plugin->editor ().prepare ())
			publishSize ();
		ui->parentWindow = plugin && plugin->hasEditor ()
		                       ? packEditorSize (plugin->editor ().width (), plugin->editor ().height ())
		                       : 0;
		return true;

	case CommandCode::SetContentScale:
	{
		const std::uint64_t packed = ui->parentWindow;
		logInfo () << "[Outpost] Received SetContentScale command: " << packed << "/1000";
		const bool taken =
		    plugin && plausibleContentScale (packed) && plugin->editor ().setContentScale (packedContentScale (packed));
		if (taken)
			publishSize ();
		ui->parentWindow = taken ? 1 : 0;
		return true;
	}

	default:
		return false;
	}
}

void EditorService::show ()
{
	UICommand* ui = instance_.regions.uiCommand;
	PluginInstance* plugin = instance_.plugin.get ();
	logInfo () << "[Outpost] Received ShowEditor command";
	logInfo () << "[Outpost] Parent X11 window: 0x" << std::hex << ui->parentWindow;
	if (!plugin)
	{
		ui->wineWindow = 0;
		return;
	}
	logInfo () << "[Outpost] Using EMBEDDED WINDOW mode (X11 reparenting)";
	if (!plugin->editor ().hasWindow ())
	{
		logInfo () << "[Outpost] Creating window for first time (embedding=" << true << ")...";
		if (!plugin->editor ().createWindow (true))
		{
			logError () << "[Outpost] Failed to create window!";
			ui->wineWindow = 0;
			return;
		}
		logInfo () << "[Outpost] Attempting to create plugin editor...";
		plugin->editor ().create ();
	}
	const std::uint64_t id = plugin->editor ().x11WindowId ();
	ui->wineWindow = id;
	publishSize ();
	logInfo () << "[Outpost] Sending X11 window ID: 0x" << std::hex << id;
	logInfo () << "[Outpost] Editor size: " << plugin->editor ().width () << "x" << plugin->editor ().height ();
	logInfo () << "[Outpost] Embedding mode - Linux plugin will handle reparenting";
	plugin->editor ().show ();
	shown_ = true;
}

void EditorService::publishSize ()
{
	UICommand* ui = instance_.regions.uiCommand;
	PluginInstance* plugin = instance_.plugin.get ();
	if (!ui || !plugin || (!plugin->editor ().hasWindow () && !plugin->hasEditor ()))
		return;
	const std::int32_t width = plugin->editor ().width (), height = plugin->editor ().height ();
	const bool resizable = plugin->editor ().resizable ();
	if (width == publishedWidth_ && height == publishedHeight_ && resizable == publishedResizable_)
		return;
	writeEditorSize (*ui, width, height, resizable);
	publishedWidth_ = width;
	publishedHeight_ = height;
	publishedResizable_ = resizable;
	logInfo () << "[Outpost] Editor size reported: " << width << "x" << height << (resizable ? " (resizable)" : "");
}

void EditorService::handleSize (CommandCode code)
{
	UICommand* ui = instance_.regions.uiCommand;
	PluginInstance* plugin = instance_.plugin.get ();
	std::int32_t width = packedEditorWidth (ui->parentWindow);
	std::int32_t height = packedEditorHeight (ui->parentWindow);
	const bool resize = code == CommandCode::ResizeEditor;
	logInfo () << "[Outpost] Received " << (resize ? "ResizeEditor" : "CheckEditorSize") << " command: " << width << "x"
	           << height;
	// The size comes from the other process: an implausible one is not
	// handed to the plug-in.
	bool done = false;
	if (plugin && plausibleEditorSize (width, height))
		done = resize ? plugin->editor ().resize (width, height) : plugin->editor ().constrainSize (width, height);
	if (!done || !plausibleEditorSize (width, height))
	{
		width = plugin ? plugin->editor ().width () : 0;
		height = plugin ? plugin->editor ().height () : 0;
	}
	ui->parentWindow = packEditorSize (width, height);
	if (resize)
		publishSize ();
}

} // namespace Tandem
