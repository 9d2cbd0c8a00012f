// ParameterListWriter: the served controller's parameters as the Linux
// controller shows them to the host. It publishes the list, units, program
// lists and values (with their strings) into the parameter region, gives
// the served controller the values the host sets, and answers the Linux
// controller's requests (string conversions, program names). Main thread,
// where the served controller lives.
#pragma once

#include "protocol/parameter_request.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace Tandem {

class ParameterListWriter
{
public:
	// Neither is owned; `controller` may be null (a plug-in without one).
	ParameterListWriter (ParameterData& region, Steinberg::Vst::IEditController* controller);
	~ParameterListWriter ();
	ParameterListWriter (const ParameterListWriter&) = delete;
	ParameterListWriter& operator= (const ParameterListWriter&) = delete;

	// Reads the list, units and program lists and publishes them when they
	// differ from what was published. Returns the restartComponent flags
	// the difference calls for (0 for the first list and for none).
	Steinberg::int32 publishList ();
	// Publishes the value of every parameter that changed, with its string.
	void publishValues ();
	// Gives the served controller the values the host set since the last call.
	void takeHostValues ();
	// Answers the posted request, if one waits; `wakeLinux` makes the
	// futex call for a Linux side asleep on the answer.
	bool serveRequest (bool wakeLinux);

private:
	void publishValue (std::int32_t index, Steinberg::Vst::ParamValue value);
	void answer (RequestArguments asked, ParameterRequest& request);

	ParameterData& region_;
	Steinberg::Vst::IEditController* controller_;
	Steinberg::Vst::IUnitInfo* units_ = nullptr;
	// What was published: ids by index, and each value.
	std::vector<Steinberg::Vst::ParamID> ids_;
	std::vector<Steinberg::Vst::ParamValue> values_;
	std::unordered_map<Steinberg::Vst::ParamID, std::int32_t> indexOf_;
	bool listed_ = false;
};

} // namespace Tandem
