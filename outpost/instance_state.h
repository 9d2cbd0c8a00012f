// The served plug-in's state and its controller's own, in and out as opaque
// bytes through memory streams (main thread).
#pragma once

#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <cstdint>

namespace Tandem {

class InstanceState
{
public:
	// `singleObject`: the controller is the component's own interface, and
	// its state is the component's.
	InstanceState (Steinberg::Vst::IComponent* component, Steinberg::Vst::IEditController* controller,
	               bool singleObject)
	: component_ (component), controller_ (controller), singleObject_ (singleObject)
	{
	}

	// The component's state into `buffer`; its size, 0 when there is none
	// or it does not fit.
	std::int32_t getState (std::uint8_t* buffer, std::int32_t capacity);
	// The bytes to the component, then to the controller (setComponentState);
	// kResultOk, or the failure of the component or the controller.
	Steinberg::tresult setState (const std::uint8_t* data, std::int32_t size);
	// The controller's own state. `size` is 0 when it keeps none (also a
	// controller that is the component itself). kResultOk, or its failure.
	Steinberg::tresult getControllerState (std::uint8_t* buffer, std::int32_t capacity, std::int32_t& size);
	Steinberg::tresult setControllerState (const std::uint8_t* data, std::int32_t size);

private:
	Steinberg::Vst::IComponent* component_;
	Steinberg::Vst::IEditController* controller_;
	bool singleObject_;
};

} // namespace Tandem
