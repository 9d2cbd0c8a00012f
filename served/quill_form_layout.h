// Where the form editor's controls lie at scale 1, in the editor's pixels:
// the editor draws them there, tests click there.
#pragma once

namespace Quill {

struct FormBox
{
	int left, top, right, bottom;
};

constexpr int kFormWidth = 400;
constexpr int kFormHeight = 220;
constexpr FormBox kFormTextField {16, 48, 196, 80};
constexpr FormBox kFormCombo {212, 48, 384, 80};
constexpr int kFormMenuItemHeight = 24;
constexpr int kFormMenuItems = 3;
// The tone each menu item sets (normalized).
constexpr double kFormTones[kFormMenuItems] = {0.2, 0.5, 0.9};
// The menu's item colour, and the selected item's.
constexpr unsigned kFormMenuColour = 0xF4F4F0;
constexpr unsigned kFormMenuSelectedColour = 0x5090E0;

} // namespace Quill
