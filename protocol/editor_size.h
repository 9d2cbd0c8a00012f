// The served editor's size as outpost reports it in the command slot
// (tandem_protocol.h's UICommand), both halves: outpost writes editorWidth
// and editorHeight whenever the served editor's size changes (the served
// plug-in or the host resized it); the Linux view reads them, before it
// has a window and each time the report changes.
//
// editorSizeReport is the sequence word of the size (seqlock.h):
//  - bit 0 is set while outpost writes the size;
//  - bit 1 says whether the served editor can be resized by the host;
//  - the bits above count the sizes written (0 in all: none yet).
// A reader takes width, height and report from one finished write, never a
// new width with an old height.
#pragma once

#include "protocol/seqlock.h"
#include "protocol/tandem_protocol.h"

#include <cstdint>

namespace Tandem {

constexpr std::uint32_t kEditorResizableBit = 2u;

// The report a finished write leaves after `previous`.
inline std::int32_t editorSizeReportAfter (std::int32_t previous, bool resizable)
{
	const std::uint32_t count = (static_cast<std::uint32_t> (previous) >> 2) + 1u;
	return static_cast<std::int32_t> ((count << 2) | (resizable ? kEditorResizableBit : 0u));
}

inline bool editorResizable (std::int32_t report)
{
	return (static_cast<std::uint32_t> (report) & kEditorResizableBit) != 0;
}

// outpost: reports a new size of the served editor.
inline void writeEditorSize (UICommand& ui, std::int32_t width, std::int32_t height, bool resizable)
{
	const std::int32_t before = beginSequencedWrite (ui.editorSizeReport);
	ui.editorWidth = width;
	ui.editorHeight = height;
	endSequencedWrite (ui.editorSizeReport, editorSizeReportAfter (before, resizable));
}

// Linux side: the last size reported and its report; false when outpost
// kept writing (or died half-way through a write).
inline bool readEditorSize (const UICommand& ui, std::int32_t& report, std::int32_t& width, std::int32_t& height)
{
	std::int32_t w = 0, h = 0;
	if (!readSequenced (
	        ui.editorSizeReport,
	        [&] {
		        w = ui.editorWidth;
		        h = ui.editorHeight;
	        },
	        report, 8))
		return false;
	width = w;
	height = h;
	return true;
}

} // namespace Tandem
