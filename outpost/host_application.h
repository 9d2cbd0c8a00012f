// HostApplication: the host context (IHostApplication) handed to the served
// plug-in's component and controller when they are initialised.
#pragma once

#include <atomic>

#include "pluginterfaces/vst/ivsthostapplication.h"

namespace Tandem {

class HostApplication : public Steinberg::Vst::IHostApplication {
public:
    HostApplication() = default;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::tresult PLUGIN_API getName(Steinberg::Vst::String128 name) override;
    Steinberg::tresult PLUGIN_API createInstance(Steinberg::TUID cid, Steinberg::TUID iid, void** obj) override;

private:
    virtual ~HostApplication() = default;

    std::atomic<Steinberg::int32> refCount_{1};
};

}  // namespace Tandem
