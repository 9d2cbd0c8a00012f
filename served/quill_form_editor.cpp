#include "quill_form_editor.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quill_controller.h"
#include "quill_dsp.h"

using namespace Steinberg;

namespace Quill {

namespace {

const char* const kMenuClass = "QuillFormMenu";
const char* const kToneNames[kFormMenuItems] = {"Dark", "Warm", "Bright"};
void fill (HDC dc, const RECT& r, COLORREF colour)
{
	HBRUSH brush = CreateSolidBrush (colour);
	FillRect (dc, &r, brush);
	DeleteObject (brush);
}

void frame (HDC dc, const RECT& r, COLORREF colour)
{
	HBRUSH brush = CreateSolidBrush (colour);
	FrameRect (dc, &r, brush);
	DeleteObject (brush);
}

int nearestTone (double tone)
{
	int best = 0;
	for (int i = 1; i < kFormMenuItems; ++i)
		if (std::fabs (kFormTones[i] - tone) < std::fabs (kFormTones[best] - tone))
			best = i;
	return best;
}

COLORREF rgbOf (unsigned rgb)
{
	return RGB (rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

bool inside (const RECT& r, int x, int y)
{
	return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

template <class Editor>
Editor* editorOf (HWND hwnd)
{
	return reinterpret_cast<Editor*> (GetWindowLongPtrA (hwnd, GWLP_USERDATA));
}

} // namespace

QuillFormEditor::QuillFormEditor (QuillController* controller)
: Extends (controller, "QuillFormEditor", ViewRect (0, 0, kFormWidth, kFormHeight))
{
}

tresult PLUGIN_API QuillFormEditor::onSize (ViewRect* newSize)
{
	if (!newSize)
		return kInvalidArgument;
	// Its size is its own: a host that asks for another is refused.
	return newSize->getWidth () == rect_.getWidth () && newSize->getHeight () == rect_.getHeight () ? kResultOk
	                                                                                                : kResultFalse;
}

tresult PLUGIN_API QuillFormEditor::checkSizeConstraint (ViewRect* rect)
{
	if (!rect)
		return kInvalidArgument;
	rect->right = rect->left + rect_.getWidth ();
	rect->bottom = rect->top + rect_.getHeight ();
	return kResultOk;
}

tresult PLUGIN_API QuillFormEditor::setContentScaleFactor (ScaleFactor factor)
{
	if (!(factor >= 0.5f && factor <= 4.0f))
		return kResultFalse;
	closeMenu ("scale changed");
	scale_ = factor;
	rect_ = ViewRect (0, 0, static_cast<int32> (std::lround (kFormWidth * scale_)),
	                  static_cast<int32> (std::lround (kFormHeight * scale_)));
	ViewRect size = rect_;
	std::printf ("[Quill] Form scale %.2f: %dx%d\n", static_cast<double> (factor), size.getWidth (), size.getHeight ());
	std::fflush (stdout);
	if (frame_ && hwnd_)
		frame_->resizeView (this, &size);
	if (hwnd_)
	{
		SetWindowPos (hwnd_, nullptr, 0, 0, size.getWidth (), size.getHeight (), SWP_NOZORDER | SWP_NOACTIVATE);
		InvalidateRect (hwnd_, nullptr, FALSE);
	}
	return kResultOk;
}

void QuillFormEditor::refresh ()
{
	if (hwnd_)
		InvalidateRect (hwnd_, nullptr, FALSE);
	if (menu_)
		InvalidateRect (menu_, nullptr, FALSE);
}

RECT QuillFormEditor::scaled (const FormBox& r) const
{
	return RECT {static_cast<LONG> (std::lround (r.left * scale_)), static_cast<LONG> (std::lround (r.top * scale_)),
	             static_cast<LONG> (std::lround (r.right * scale_)),
	             static_cast<LONG> (std::lround (r.bottom * scale_))};
}

void QuillFormEditor::paint (HDC dc)
{
	RECT client {};
	GetClientRect (hwnd_, &client);
	fill (dc, client, RGB (0x24, 0x28, 0x30));
	HFONT font = CreateFontA (static_cast<int> (std::lround (18 * scale_)), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
	                          ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
	                          DEFAULT_PITCH | FF_SWISS, "Arial");
	HGDIOBJ oldFont = SelectObject (dc, font);
	SetBkMode (dc, TRANSPARENT);
	SetTextColor (dc, RGB (0xF0, 0xF0, 0xF0));
	RECT title = scaled (FormBox {16, 12, 384, 40});
	DrawTextA (dc, "Quill Form", -1, &title, DT_LEFT | DT_SINGLELINE);

	// The text field: grey while closed, white with a caret while typing.
	char text[64];
	if (editing_)
		std::snprintf (text, sizeof text, "%s|", typedText_.c_str ());
	else
		std::snprintf (text, sizeof text, "%.1f dB", gainDb (controller_->getParamNormalized (kGainId)));
	RECT field = scaled (kFormTextField);
	fill (dc, field, editing_ ? RGB (0xFF, 0xFF, 0xFF) : RGB (0xB4, 0xB8, 0xC0));
	frame (dc, field, RGB (0x50, 0x90, 0xE0));
	SetTextColor (dc, RGB (0x10, 0x10, 0x10));
	RECT inner = field;
	InflateRect (&inner, -static_cast<int> (6 * scale_), 0);
	DrawTextA (dc, text, -1, &inner, DT_LEFT | DT_VCENTER | DT_SINGLELINE);

	// The combo box: the tone's name and an arrow.
	RECT combo = scaled (kFormCombo);
	fill (dc, combo, RGB (0x3C, 0x46, 0x5A));
	frame (dc, combo, RGB (0x90, 0xA0, 0xB0));
	SetTextColor (dc, RGB (0xF0, 0xE0, 0x90));
	inner = combo;
	InflateRect (&inner, -static_cast<int> (6 * scale_), 0);
	DrawTextA (dc, kToneNames[nearestTone (controller_->getParamNormalized (kToneId))], -1, &inner,
	           DT_LEFT | DT_VCENTER | DT_SINGLELINE);
	DrawTextA (dc, "v", -1, &inner, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
	SelectObject (dc, oldFont);
	DeleteObject (font);

	// Sixteen colours along the bottom.
	const int top = static_cast<int> (std::lround (180 * scale_));
	for (int i = 0; i < 16; ++i)
	{
		RECT band {client.right * i / 16, top, client.right * (i + 1) / 16, client.bottom};
		fill (dc, band, RGB (i * 16, 255 - i * 12, (i * 53) & 0xFF));
	}
}

void QuillFormEditor::paintMenu (HDC dc)
{
	RECT client {};
	GetClientRect (menu_, &client);
	const int current = nearestTone (controller_->getParamNormalized (kToneId));
	const int itemHeight = static_cast<int> (std::lround (kFormMenuItemHeight * scale_));
	SetBkMode (dc, TRANSPARENT);
	for (int i = 0; i < kFormMenuItems; ++i)
	{
		RECT item {0, i * itemHeight, client.right, (i + 1) * itemHeight};
		fill (dc, item, rgbOf (i == current ? kFormMenuSelectedColour : kFormMenuColour));
		SetTextColor (dc, i == current ? RGB (0xFF, 0xFF, 0xFF) : RGB (0x20, 0x20, 0x20));
		InflateRect (&item, -static_cast<int> (6 * scale_), 0);
		DrawTextA (dc, kToneNames[i], -1, &item, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
	}
	frame (dc, client, RGB (0x20, 0x20, 0x20));
}

void QuillFormEditor::click (int x, int y)
{
	// As the toolkits do: a click in the editor takes the keyboard.
	SetFocus (hwnd_);
	if (inside (scaled (kFormTextField), x, y))
	{
		if (!editing_)
		{
			editing_ = true;
			typedText_.clear ();
		}
	}
	else
	{
		editing_ = false;
		if (inside (scaled (kFormCombo), x, y))
			openMenu ();
	}
	InvalidateRect (hwnd_, nullptr, FALSE);
}

bool QuillFormEditor::key (WPARAM key)
{
	if (menu_ && key == VK_ESCAPE)
	{
		closeMenu ("escape");
		return true;
	}
	if (!editing_)
		return false;
	if (key == VK_RETURN)
	{
		char* end = nullptr;
		const double db = std::strtod (typedText_.c_str (), &end);
		editing_ = false;
		if (end != typedText_.c_str ())
		{
			std::printf ("[Quill] Typed gain %.1f dB\n", db);
			std::fflush (stdout);
			controller_->editParameter (kGainId, (db - kGainMinDb) / (kGainMaxDb - kGainMinDb));
		}
	}
	else if (key == VK_ESCAPE)
	{
		editing_ = false;
	}
	else if (key == VK_BACK)
	{
		if (!typedText_.empty ())
			typedText_.pop_back ();
	}
	else
	{
		return false; // characters come as WM_CHAR
	}
	InvalidateRect (hwnd_, nullptr, FALSE);
	return true;
}

void QuillFormEditor::typed (wchar_t c)
{
	if (!editing_ || typedText_.size () >= 12)
		return;
	if ((c >= L'0' && c <= L'9') || c == L'-' || c == L'.')
	{
		typedText_ += static_cast<char> (c);
		InvalidateRect (hwnd_, nullptr, FALSE);
	}
}

void QuillFormEditor::openMenu ()
{
	if (menu_)
		return;
	// The pop-up is a top-level window: its place is the box's place on the
	// screen, as Windows knows it.
	const RECT combo = scaled (kFormCombo);
	POINT at {combo.left, combo.bottom};
	ClientToScreen (hwnd_, &at);
	const int height = static_cast<int> (std::lround (kFormMenuItemHeight * kFormMenuItems * scale_));
	if (!openWindowClass (kMenuClass, menuProc))
		return;
	menu_ = CreateWindowExA (WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kMenuClass, "", WS_POPUP, at.x, at.y,
	                         combo.right - combo.left, height, GetAncestor (hwnd_, GA_ROOT), nullptr, moduleInstance (),
	                         this);
	if (!menu_)
	{
		closeWindowClass (kMenuClass);
		return;
	}
	std::printf ("[Quill] Menu opened at %ld,%ld\n", static_cast<long> (at.x), static_cast<long> (at.y));
	std::fflush (stdout);
	ShowWindow (menu_, SW_SHOWNOACTIVATE);
	UpdateWindow (menu_);
	// Clicks anywhere come to the menu, so that one outside can close it.
	SetCapture (menu_);
}

void QuillFormEditor::closeMenu (const char* why, int item)
{
	if (!menu_)
		return;
	HWND menu = menu_;
	menu_ = nullptr;
	if (GetCapture () == menu)
		ReleaseCapture ();
	DestroyWindow (menu);
	closeWindowClass (kMenuClass);
	std::printf ("[Quill] Menu closed: %s\n", why);
	std::fflush (stdout);
	if (item >= 0)
		controller_->editParameter (kToneId, kFormTones[item]);
	if (hwnd_)
		InvalidateRect (hwnd_, nullptr, FALSE);
}

LRESULT QuillFormEditor::message (UINT message, WPARAM wParam, LPARAM lParam)
{
	switch (message)
	{
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd_, &ps);
		paint (dc);
		EndPaint (hwnd_, &ps);
		return 0;
	}
	case WM_ERASEBKGND:
		return 1;
	case WM_LBUTTONDOWN:
		click (static_cast<short> (LOWORD (lParam)), static_cast<short> (HIWORD (lParam)));
		return 0;
	case WM_KEYDOWN:
		if (key (wParam))
			return 0;
		break;
	case WM_CHAR:
		typed (static_cast<wchar_t> (wParam));
		return 0;
	case WM_KILLFOCUS:
		closeMenu ("focus lost");
		break;
	default:
		break;
	}
	return QuillView::message (message, wParam, lParam);
}

LRESULT CALLBACK QuillFormEditor::menuProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
	if (message == WM_CREATE)
	{
		auto* create = reinterpret_cast<CREATESTRUCTA*> (lParam);
		SetWindowLongPtrA (hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (create->lpCreateParams));
		return 0;
	}
	auto* editor = editorOf<QuillFormEditor> (hwnd);
	if (!editor || editor->menu_ != hwnd)
		return DefWindowProcA (hwnd, message, wParam, lParam);
	switch (message)
	{
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd, &ps);
		editor->paintMenu (dc);
		EndPaint (hwnd, &ps);
		return 0;
	}
	case WM_ERASEBKGND:
		return 1;
	case WM_MOUSEACTIVATE:
		return MA_NOACTIVATE;
	case WM_LBUTTONDOWN:
	{
		const int x = static_cast<short> (LOWORD (lParam)), y = static_cast<short> (HIWORD (lParam));
		RECT client {};
		GetClientRect (hwnd, &client);
		if (inside (client, x, y))
		{
			const int itemHeight = static_cast<int> (std::lround (kFormMenuItemHeight * editor->scale_));
			editor->closeMenu ("item", y / itemHeight < kFormMenuItems ? y / itemHeight : kFormMenuItems - 1);
		}
		else
		{
			editor->closeMenu ("outside");
		}
		return 0;
	}
	case WM_KEYDOWN:
		if (wParam == VK_ESCAPE)
		{
			editor->closeMenu ("escape");
			return 0;
		}
		break;
	case WM_CAPTURECHANGED:
		if (reinterpret_cast<HWND> (lParam) != hwnd)
			editor->closeMenu ("outside");
		return 0;
	default:
		break;
	}
	return DefWindowProcA (hwnd, message, wParam, lParam);
}

} // namespace Quill
