// PlugFrame: the IPlugFrame given to the served plug-in's editor view, so the
// view can ask for a new size of the window it lives in.
#pragma once

#include <atomic>

#include "pluginterfaces/gui/iplugview.h"
#include "win32.h"

namespace Tandem {

class PlugFrame : public Steinberg::IPlugFrame {
public:
    explicit PlugFrame(HWND hwnd) : hwnd_(hwnd) {}

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;

private:
    virtual ~PlugFrame() = default;

    HWND hwnd_;
    std::atomic<Steinberg::int32> refCount_{1};
};

}  // namespace Tandem
