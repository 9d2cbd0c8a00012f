#include "generic_editor.h"
#include "log/log.h"

#include <cmath>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

const wchar_t kWindowClass[] = L"TandemGenericEditor";
const UINT_PTR kRefreshTimer = 1;
const UINT kRefreshMs = 100;
int s_openWindows = 0; // the class is registered while editor windows exist

std::wstring fromString128 (const String128 text)
{
	std::wstring out;
	for (int i = 0; i < 128 && text[i]; ++i)
		out.push_back (static_cast<wchar_t> (text[i]));
	return out;
}

std::string narrow (const std::wstring& text)
{
	std::string out;
	for (wchar_t c : text)
		out.push_back (c < 128 ? static_cast<char> (c) : '?');
	return out;
}

double clampNormalized (double value)
{
	return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value);
}

} // namespace

GenericEditor::GenericEditor (IEditController* controller, IComponentHandler* handler)
: controller_ (controller), handler_ (handler)
{
	if (controller_)
		controller_->addRef ();
	if (handler_)
		handler_->addRef ();
	const int32 count = controller_ ? controller_->getParameterCount () : 0;
	for (int32 i = 0; i < count; ++i)
	{
		ParameterInfo info {};
		if (controller_->getParameterInfo (i, info) != kResultOk)
			continue;
		if (info.flags & ParameterInfo::kIsHidden)
			continue;
		rows_.push_back ({info.id, fromString128 (info.title), fromString128 (info.units), info.stepCount,
		                  (info.flags & ParameterInfo::kIsReadOnly) != 0, -1.0});
	}
	// One row even without parameters, for the line that says so.
	const int rows = rows_.empty () ? 1 : static_cast<int> (rows_.size ());
	rect_ = ViewRect (0, 0, kWidth, 2 * kMargin + rows * kRowHeight);
}

GenericEditor::~GenericEditor ()
{
	if (hwnd_)
		removed ();
	if (handler_)
		handler_->release ();
	if (controller_)
		controller_->release ();
}

tresult PLUGIN_API GenericEditor::isPlatformTypeSupported (FIDString type)
{
	return type && std::strcmp (type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API GenericEditor::attached (void* parent, FIDString type)
{
	if (!parent || isPlatformTypeSupported (type) != kResultTrue || hwnd_)
		return kResultFalse;
	HINSTANCE instance = GetModuleHandleW (nullptr);
	if (s_openWindows == 0)
	{
		WNDCLASSEXW wc {};
		wc.cbSize = sizeof wc;
		wc.style = CS_HREDRAW | CS_VREDRAW;
		wc.lpfnWndProc = windowProc;
		wc.hInstance = instance;
		wc.hCursor = LoadCursorW (nullptr, reinterpret_cast<LPCWSTR> (IDC_ARROW));
		wc.lpszClassName = kWindowClass;
		if (!RegisterClassExW (&wc) && GetLastError () != ERROR_CLASS_ALREADY_EXISTS)
			return kResultFalse;
	}
	hwnd_ = CreateWindowExW (0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, rect_.getWidth (), rect_.getHeight (),
	                         static_cast<HWND> (parent), nullptr, instance, this);
	if (!hwnd_)
	{
		if (s_openWindows == 0)
			UnregisterClassW (kWindowClass, instance);
		return kResultFalse;
	}
	++s_openWindows;
	// Values may also change through the plug-in itself (its processor, a
	// restored state): the rows follow the controller.
	SetTimer (hwnd_, kRefreshTimer, kRefreshMs, nullptr);
	logInfo () << "[GenericEditor] Showing " << rows_.size () << " parameters";
	return kResultOk;
}

tresult PLUGIN_API GenericEditor::removed ()
{
	if (!hwnd_)
		return kResultFalse;
	KillTimer (hwnd_, kRefreshTimer);
	if (dragRow_ >= 0)
		ReleaseCapture ();
	SetWindowLongPtrW (hwnd_, GWLP_USERDATA, 0);
	DestroyWindow (hwnd_);
	hwnd_ = nullptr;
	if (--s_openWindows == 0)
		UnregisterClassW (kWindowClass, GetModuleHandleW (nullptr));
	return kResultOk;
}

tresult PLUGIN_API GenericEditor::getSize (ViewRect* size)
{
	if (!size)
		return kInvalidArgument;
	*size = rect_;
	return kResultOk;
}

tresult PLUGIN_API GenericEditor::onSize (ViewRect* newSize)
{
	if (!newSize)
		return kInvalidArgument;
	// The rows do not stretch: the window keeps the size that fits them.
	if (hwnd_)
		SetWindowPos (hwnd_, nullptr, 0, 0, rect_.getWidth (), rect_.getHeight (), SWP_NOZORDER | SWP_NOACTIVATE);
	return kResultOk;
}

tresult PLUGIN_API GenericEditor::checkSizeConstraint (ViewRect* rect)
{
	if (!rect)
		return kInvalidArgument;
	rect->right = rect->left + rect_.getWidth ();
	rect->bottom = rect->top + rect_.getHeight ();
	return kResultOk;
}

RECT GenericEditor::sliderRect (int row)
{
	const int top = kMargin + row * kRowHeight;
	return RECT {kMargin + kNameWidth, top + 10, kWidth - kMargin - kValueWidth - 8, top + kRowHeight - 10};
}

int GenericEditor::rowAt (int x, int y) const
{
	for (int row = 0; row < static_cast<int> (rows_.size ()); ++row)
	{
		const RECT slider = sliderRect (row);
		// A little above and below the track counts, as on any slider.
		if (x >= slider.left && x <= slider.right && y >= slider.top - 8 && y < slider.bottom + 8)
			return row;
	}
	return -1;
}

void GenericEditor::setFromPointer (int row, int x)
{
	Row& r = rows_[static_cast<std::size_t> (row)];
	const RECT slider = sliderRect (row);
	double value = clampNormalized (static_cast<double> (x - slider.left) / (slider.right - slider.left));
	if (r.stepCount > 0)
		value = std::round (value * r.stepCount) / r.stepCount;
	// The controller shows the value, the processor gets it through the handler.
	controller_->setParamNormalized (r.id, value);
	if (handler_)
		handler_->performEdit (r.id, controller_->getParamNormalized (r.id));
	refreshValues ();
}

void GenericEditor::refreshValues ()
{
	if (!hwnd_)
		return;
	for (Row& row : rows_)
	{
		const double value = controller_->getParamNormalized (row.id);
		if (value != row.shown)
		{
			InvalidateRect (hwnd_, nullptr, FALSE);
			return;
		}
	}
}

std::wstring GenericEditor::valueText (const Row& row, double value) const
{
	String128 text {};
	std::wstring out;
	if (controller_->getParamStringByValue (row.id, value, text) == kResultOk)
		out = fromString128 (text);
	if (!row.units.empty ())
		out += L" " + row.units;
	return out;
}

void GenericEditor::paint (HDC dc)
{
	RECT client {};
	GetClientRect (hwnd_, &client);
	HBRUSH background = CreateSolidBrush (RGB (0x2B, 0x2F, 0x36));
	FillRect (dc, &client, background);
	DeleteObject (background);
	SetBkMode (dc, TRANSPARENT);
	if (rows_.empty ())
	{
		SetTextColor (dc, RGB (0xE0, 0xE0, 0xE0));
		RECT line {kMargin, kMargin, kWidth - kMargin, kMargin + kRowHeight};
		DrawTextW (dc, L"This plug-in has no parameters to show.", -1, &line, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
		return;
	}
	HBRUSH track = CreateSolidBrush (RGB (0x46, 0x4C, 0x56));
	HBRUSH fill = CreateSolidBrush (RGB (0x4C, 0x9A, 0xD8));
	HBRUSH disabled = CreateSolidBrush (RGB (0x6A, 0x6E, 0x74));
	for (int i = 0; i < static_cast<int> (rows_.size ()); ++i)
	{
		Row& row = rows_[static_cast<std::size_t> (i)];
		row.shown = controller_->getParamNormalized (row.id);
		const int top = kMargin + i * kRowHeight;
		SetTextColor (dc, row.readOnly ? RGB (0x8A, 0x8E, 0x94) : RGB (0xF0, 0xF0, 0xF0));
		RECT name {kMargin, top, kMargin + kNameWidth - 8, top + kRowHeight};
		DrawTextW (dc, row.title.c_str (), -1, &name, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
		const RECT slider = sliderRect (i);
		FillRect (dc, &slider, track);
		RECT filled = slider;
		filled.right = slider.left + static_cast<LONG> ((slider.right - slider.left) * clampNormalized (row.shown));
		FillRect (dc, &filled, row.readOnly ? disabled : fill);
		RECT value {kWidth - kMargin - kValueWidth, top, kWidth - kMargin, top + kRowHeight};
		DrawTextW (dc, valueText (row, row.shown).c_str (), -1, &value, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
	}
	DeleteObject (track);
	DeleteObject (fill);
	DeleteObject (disabled);
}

LRESULT CALLBACK GenericEditor::windowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
	if (message == WM_CREATE)
	{
		auto* create = reinterpret_cast<CREATESTRUCTW*> (lParam);
		SetWindowLongPtrW (hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (create->lpCreateParams));
		return 0;
	}
	auto* editor = reinterpret_cast<GenericEditor*> (GetWindowLongPtrW (hwnd, GWLP_USERDATA));
	if (!editor)
		return DefWindowProcW (hwnd, message, wParam, lParam);
	const int x = static_cast<short> (LOWORD (lParam));
	const int y = static_cast<short> (HIWORD (lParam));
	switch (message)
	{
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd, &ps);
		editor->paint (dc);
		EndPaint (hwnd, &ps);
		return 0;
	}
	case WM_ERASEBKGND:
		return 1;
	case WM_TIMER:
		if (wParam == kRefreshTimer)
			editor->refreshValues ();
		return 0;
	case WM_LBUTTONDOWN:
	{
		const int row = editor->rowAt (x, y);
		if (row < 0 || editor->rows_[static_cast<std::size_t> (row)].readOnly)
			return 0;
		editor->dragRow_ = row;
		SetCapture (hwnd);
		if (editor->handler_)
			editor->handler_->beginEdit (editor->rows_[static_cast<std::size_t> (row)].id);
		editor->setFromPointer (row, x);
		return 0;
	}
	case WM_MOUSEMOVE:
		if (editor->dragRow_ >= 0 && (wParam & MK_LBUTTON))
			editor->setFromPointer (editor->dragRow_, x);
		return 0;
	case WM_LBUTTONUP:
	case WM_CAPTURECHANGED:
	{
		const int row = editor->dragRow_;
		if (row < 0)
			return 0;
		editor->dragRow_ = -1;
		if (message == WM_LBUTTONUP)
			ReleaseCapture ();
		const Row& r = editor->rows_[static_cast<std::size_t> (row)];
		if (editor->handler_)
			editor->handler_->endEdit (r.id);
		logInfo () << "[GenericEditor] " << narrow (r.title) << " set to "
		           << narrow (editor->valueText (r, editor->controller_->getParamNormalized (r.id)));
		return 0;
	}
	default:
		return DefWindowProcW (hwnd, message, wParam, lParam);
	}
}

} // namespace Tandem
