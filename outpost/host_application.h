// HostApplication: the host context (IHostApplication) handed to the served
// plug-in's component and controller when they are initialised.
#pragma once

#include "pluginterfaces/vst/ivsthostapplication.h"
#include "sdk/ref_counted.h"

namespace Tandem {

class HostApplication : public RefCounted<Steinberg::Vst::IHostApplication>
{
public:
	HostApplication () = default;

	Steinberg::tresult PLUGIN_API getName (Steinberg::Vst::String128 name) override;
	Steinberg::tresult PLUGIN_API createInstance (Steinberg::TUID cid, Steinberg::TUID iid, void** obj) override;

private:
	virtual ~HostApplication () = default;
};

} // namespace Tandem
