#include "quill_message.h"

#include <cstring>

using namespace Steinberg;

namespace Quill {

const double* QuillAttributes::find (AttrID id) const
{
	if (!id)
		return nullptr;
	for (const auto& entry : numbers_)
		if (entry.first == id)
			return &entry.second;
	return nullptr;
}

tresult PLUGIN_API QuillAttributes::setFloat (AttrID id, double value)
{
	if (!id)
		return kInvalidArgument;
	for (auto& entry : numbers_)
	{
		if (entry.first == id)
		{
			entry.second = value;
			return kResultOk;
		}
	}
	numbers_.emplace_back (id, value);
	return kResultOk;
}

tresult PLUGIN_API QuillAttributes::getFloat (AttrID id, double& value)
{
	const double* found = find (id);
	if (!found)
		return kResultFalse;
	value = *found;
	return kResultOk;
}

tresult PLUGIN_API QuillAttributes::setInt (AttrID id, int64 value)
{
	return setFloat (id, static_cast<double> (value));
}

tresult PLUGIN_API QuillAttributes::getInt (AttrID id, int64& value)
{
	const double* found = find (id);
	if (!found)
		return kResultFalse;
	value = static_cast<int64> (*found);
	return kResultOk;
}

// Quill's messages carry numbers only.
tresult PLUGIN_API QuillAttributes::setString (AttrID, const Vst::TChar*)
{
	return kNotImplemented;
}
tresult PLUGIN_API QuillAttributes::getString (AttrID, Vst::TChar*, uint32)
{
	return kNotImplemented;
}
tresult PLUGIN_API QuillAttributes::setBinary (AttrID, const void*, uint32)
{
	return kNotImplemented;
}
tresult PLUGIN_API QuillAttributes::getBinary (AttrID, const void*&, uint32&)
{
	return kNotImplemented;
}

QuillMessage::QuillMessage () : attributes_ (new QuillAttributes) {}

QuillMessage::~QuillMessage ()
{
	attributes_->release ();
}

} // namespace Quill
