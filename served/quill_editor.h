// Quill's editor: a GDI-painted child window for the "HWND" platform.
//
// What it shows, from top to bottom: the title "Quill", the line
// "Gain: <dB> dB   Tone: <Hz> Hz", whether a host takes the controller's edits
// audio module, two bars (gain, tone) that set their parameter where they are
// clicked, and at the bottom a solid band of kBandColour, 40 pixels high and
// as wide as the editor, for screenshot tests to find.
//
// Like editors made with the common Windows GUI toolkits, it creates its
// drawing objects through COM (the Windows imaging factory) when it is
// attached, so it only opens on a thread where the host initialised COM;
// without it attached() fails and logs why.
//
// Mouse: a left click logs "[Quill] Editor click at x,y" and, on a bar, sets
// that parameter; a right click asks the frame (IPlugFrame::resizeView) to
// switch between the normal and the large size.
#pragma once

#include <windows.h>

#include "pluginterfaces/gui/iplugview.h"
#include "quill_refcount.h"

namespace Quill {

class QuillController;

// What the controller asks of its open editor, whatever draws it: to show
// values that changed.
class EditorRefresh {
public:
    virtual void refresh() = 0;

protected:
    ~EditorRefresh() = default;
};

// Sea green, RGB(0x2E, 0x8B, 0x57).
constexpr COLORREF kBandColour = RGB(0x2E, 0x8B, 0x57);
constexpr int kBandHeight = 40;
constexpr Steinberg::int32 kEditorWidth = 480;
constexpr Steinberg::int32 kEditorHeight = 300;
constexpr Steinberg::int32 kLargeEditorWidth = 640;
constexpr Steinberg::int32 kLargeEditorHeight = 400;

class QuillEditor : public Steinberg::IPlugView, public EditorRefresh {
public:
    explicit QuillEditor(QuillController* controller);

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return refs_.add(); }
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API removed() override;
    Steinberg::tresult PLUGIN_API onWheel(float) override { return Steinberg::kResultFalse; }
    Steinberg::tresult PLUGIN_API onKeyDown(Steinberg::char16, Steinberg::int16, Steinberg::int16) override {
        return Steinberg::kResultFalse;
    }
    Steinberg::tresult PLUGIN_API onKeyUp(Steinberg::char16, Steinberg::int16, Steinberg::int16) override {
        return Steinberg::kResultFalse;
    }
    Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override;
    Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;
    Steinberg::tresult PLUGIN_API onFocus(Steinberg::TBool) override { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) override;
    Steinberg::tresult PLUGIN_API canResize() override { return Steinberg::kResultTrue; }
    Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override;

    void refresh() override;
    HWND window() const { return hwnd_; }

private:
    virtual ~QuillEditor();
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC dc, const RECT& client);
    void click(int x, int y);
    void toggleSize();
    void releaseImagingFactory();

    RefCount refs_;
    QuillController* controller_;
    Steinberg::IPlugFrame* frame_ = nullptr;  // not owned, as the host owns its frame
    Steinberg::ViewRect rect_{0, 0, kEditorWidth, kEditorHeight};
    HWND hwnd_ = nullptr;
    IUnknown* imagingFactory_ = nullptr;  // held while the window exists
};

}  // namespace Quill
