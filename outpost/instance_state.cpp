#include "instance_state.h"

#include "log/log.h"
#include "memory_stream.h"

#include <cstring>

using namespace Steinberg;

namespace Tandem {

std::int32_t InstanceState::getState (std::uint8_t* buffer, std::int32_t capacity)
{
	if (!component_)
	{
		logError () << "[PluginInstance] No component for getState";
		return 0;
	}
	MemoryStream* stream = new MemoryStream;
	const tresult result = component_->getState (stream);
	if (result != kResultOk)
	{
		logError () << "[PluginInstance] getState failed: " << result;
		stream->release ();
		return 0;
	}
	const std::int64_t size = static_cast<std::int64_t> (stream->data ().size ());
	if (size <= 0 || size > capacity || !buffer)
	{
		logError () << "[PluginInstance] State size invalid: " << size;
		stream->release ();
		return 0;
	}
	stream->setPosition (0);
	int32 numRead = 0;
	stream->read (buffer, static_cast<int32> (size), &numRead);
	stream->release ();
	logInfo () << "[PluginInstance] State retrieved: " << numRead << " bytes";
	return numRead;
}

tresult InstanceState::setState (const std::uint8_t* data, std::int32_t size)
{
	if (!component_)
	{
		logError () << "[PluginInstance] No component for setState";
		return kResultFalse;
	}
	MemoryStream* stream = new MemoryStream;
	if (size > 0 && data)
		stream->data ().assign (data, data + size);

	tresult result = component_->setState (stream);
	if (result != kResultOk)
	{
		logError () << "[PluginInstance] component->setState failed: " << result;
		stream->release ();
		return result;
	}
	if (controller_)
	{
		// The controller reads the same bytes from the start, wherever the
		// component stopped reading.
		stream->setPosition (0);
		result = controller_->setComponentState (stream);
		// A controller without the call refuses nothing.
		if (result != kResultOk && result != kNotImplemented)
		{
			logInfo () << "[PluginInstance] controller->setComponentState returned: " << result;
			stream->release ();
			return result;
		}
	}
	stream->release ();
	logInfo () << "[PluginInstance] State restored: " << size << " bytes";
	return kResultOk;
}

tresult InstanceState::getControllerState (std::uint8_t* buffer, std::int32_t capacity, std::int32_t& size)
{
	size = 0;
	if (!controller_ || singleObject_)
		return kResultOk;
	MemoryStream* stream = new MemoryStream;
	const tresult result = controller_->getState (stream);
	const std::int64_t length = static_cast<std::int64_t> (stream->data ().size ());
	if (result == kNotImplemented)
	{
		stream->release ();
		return kResultOk;
	}
	if (result != kResultOk)
	{
		logError () << "[PluginInstance] controller->getState failed: " << result;
		stream->release ();
		return result;
	}
	if (length > capacity || (length > 0 && !buffer))
	{
		logError () << "[PluginInstance] Controller state size invalid: " << length;
		stream->release ();
		return kResultFalse;
	}
	if (length > 0)
		std::memcpy (buffer, stream->data ().data (), static_cast<std::size_t> (length));
	stream->release ();
	size = static_cast<std::int32_t> (length);
	logInfo () << "[PluginInstance] Controller state retrieved: " << size << " bytes";
	return kResultOk;
}

tresult InstanceState::setControllerState (const std::uint8_t* data, std::int32_t size)
{
	if (!controller_ || singleObject_ || size <= 0 || !data)
		return kResultOk;
	MemoryStream* stream = new MemoryStream;
	stream->data ().assign (data, data + size);
	const tresult result = controller_->setState (stream);
	stream->release ();
	// A controller without a state of its own has nothing to refuse.
	if (result != kResultOk && result != kNotImplemented)
	{
		logError () << "[PluginInstance] controller->setState failed: " << result;
		return result;
	}
	logInfo () << "[PluginInstance] Controller state restored: " << size << " bytes";
	return kResultOk;
}

} // namespace Tandem
