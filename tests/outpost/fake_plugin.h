// GoogleMock stand-ins for a served plug-in: a factory, a component (also an
// audio processor and connection point, optionally its own controller) and a
// separate controller. Reference counts are real so that tests can check
// what the instance holds and releases; everything else is mocked.
#pragma once

#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"

namespace fake {

using namespace Steinberg;
using namespace Steinberg::Vst;

class RefCounted
{
public:
	int refs = 1;
};

class MockController : public IEditController, public IConnectionPoint, public RefCounted
{
public:
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, IEditController::iid))
			return answer (static_cast<IEditController*> (this), obj);
		if (connectable && FUnknownPrivate::iidEqual (iid, IConnectionPoint::iid))
			return answer (static_cast<IConnectionPoint*> (this), obj);
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return static_cast<uint32> (++refs); }
	uint32 PLUGIN_API release () override { return static_cast<uint32> (--refs); }

	MOCK_METHOD (tresult, initialize, (FUnknown*), (override));
	MOCK_METHOD (tresult, terminate, (), (override));
	MOCK_METHOD (tresult, setComponentState, (IBStream*), (override));
	MOCK_METHOD (tresult, setState, (IBStream*), (override));
	MOCK_METHOD (tresult, getState, (IBStream*), (override));
	MOCK_METHOD (int32, getParameterCount, (), (override));
	MOCK_METHOD (tresult, getParameterInfo, (int32, ParameterInfo&), (override));
	MOCK_METHOD (tresult, getParamStringByValue, (ParamID, ParamValue, String128), (override));
	MOCK_METHOD (tresult, getParamValueByString, (ParamID, TChar*, ParamValue&), (override));
	MOCK_METHOD (ParamValue, normalizedParamToPlain, (ParamID, ParamValue), (override));
	MOCK_METHOD (ParamValue, plainParamToNormalized, (ParamID, ParamValue), (override));
	MOCK_METHOD (ParamValue, getParamNormalized, (ParamID), (override));
	MOCK_METHOD (tresult, setParamNormalized, (ParamID, ParamValue), (override));
	MOCK_METHOD (tresult, setComponentHandler, (IComponentHandler*), (override));
	MOCK_METHOD (IPlugView*, createView, (FIDString), (override));
	MOCK_METHOD (tresult, connect, (IConnectionPoint*), (override));
	MOCK_METHOD (tresult, disconnect, (IConnectionPoint*), (override));
	MOCK_METHOD (tresult, notify, (IMessage*), (override));

	bool connectable = true;

private:
	template <class I>
	tresult answer (I* self, void** obj)
	{
		addRef ();
		*obj = self;
		return kResultOk;
	}
};

// With `single` set the component also answers IEditController.
class MockComponent : public IComponent,
                      public IAudioProcessor,
                      public IConnectionPoint,
                      public IEditController,
                      public RefCounted
{
public:
	// A stereo effect's buses unless a test says otherwise.
	MockComponent ()
	{
		ON_CALL (*this, getBusCount (testing::_, testing::_))
		    .WillByDefault (testing::Invoke ([] (MediaType type, BusDirection) { return type == kAudio ? 1 : 0; }));
		ON_CALL (*this, getBusInfo (testing::_, testing::_, testing::_, testing::_))
		    .WillByDefault (testing::Invoke ([] (MediaType type, BusDirection dir, int32 index, BusInfo& info) {
			    if (type != kAudio || index != 0)
				    return kInvalidArgument;
			    info = {};
			    info.mediaType = kAudio;
			    info.direction = dir;
			    info.channelCount = 2;
			    info.busType = kMain;
			    info.flags = BusInfo::kDefaultActive;
			    return kResultOk;
		    }));
	}
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, IComponent::iid))
			return answer (static_cast<IComponent*> (this), obj);
		if (processor && FUnknownPrivate::iidEqual (iid, IAudioProcessor::iid))
			return answer (static_cast<IAudioProcessor*> (this), obj);
		if (connectable && FUnknownPrivate::iidEqual (iid, IConnectionPoint::iid))
			return answer (static_cast<IConnectionPoint*> (this), obj);
		if (single && FUnknownPrivate::iidEqual (iid, IEditController::iid))
			return answer (static_cast<IEditController*> (this), obj);
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return static_cast<uint32> (++refs); }
	uint32 PLUGIN_API release () override { return static_cast<uint32> (--refs); }

	// IPluginBase (shared by IComponent and IEditController)
	MOCK_METHOD (tresult, initialize, (FUnknown*), (override));
	MOCK_METHOD (tresult, terminate, (), (override));
	// IComponent
	MOCK_METHOD (tresult, getControllerClassId, (TUID), (override));
	MOCK_METHOD (tresult, setIoMode, (IoMode), (override));
	MOCK_METHOD (int32, getBusCount, (MediaType, BusDirection), (override));
	MOCK_METHOD (tresult, getBusInfo, (MediaType, BusDirection, int32, BusInfo&), (override));
	MOCK_METHOD (tresult, getRoutingInfo, (RoutingInfo&, RoutingInfo&), (override));
	MOCK_METHOD (tresult, activateBus, (MediaType, BusDirection, int32, TBool), (override));
	MOCK_METHOD (tresult, setActive, (TBool), (override));
	MOCK_METHOD (tresult, setState, (IBStream*), (override));
	MOCK_METHOD (tresult, getState, (IBStream*), (override));
	// IAudioProcessor
	MOCK_METHOD (tresult, setBusArrangements, (SpeakerArrangement*, int32, SpeakerArrangement*, int32), (override));
	MOCK_METHOD (tresult, getBusArrangement, (BusDirection, int32, SpeakerArrangement&), (override));
	MOCK_METHOD (tresult, canProcessSampleSize, (int32), (override));
	MOCK_METHOD (uint32, getLatencySamples, (), (override));
	MOCK_METHOD (tresult, setupProcessing, (ProcessSetup&), (override));
	MOCK_METHOD (tresult, setProcessing, (TBool), (override));
	MOCK_METHOD (tresult, process, (ProcessData&), (override));
	MOCK_METHOD (uint32, getTailSamples, (), (override));
	// IConnectionPoint
	MOCK_METHOD (tresult, connect, (IConnectionPoint*), (override));
	MOCK_METHOD (tresult, disconnect, (IConnectionPoint*), (override));
	MOCK_METHOD (tresult, notify, (IMessage*), (override));
	// IEditController (answered only when `single`)
	MOCK_METHOD (tresult, setComponentState, (IBStream*), (override));
	MOCK_METHOD (int32, getParameterCount, (), (override));
	MOCK_METHOD (tresult, getParameterInfo, (int32, ParameterInfo&), (override));
	MOCK_METHOD (tresult, getParamStringByValue, (ParamID, ParamValue, String128), (override));
	MOCK_METHOD (tresult, getParamValueByString, (ParamID, TChar*, ParamValue&), (override));
	MOCK_METHOD (ParamValue, normalizedParamToPlain, (ParamID, ParamValue), (override));
	MOCK_METHOD (ParamValue, plainParamToNormalized, (ParamID, ParamValue), (override));
	MOCK_METHOD (ParamValue, getParamNormalized, (ParamID), (override));
	MOCK_METHOD (tresult, setParamNormalized, (ParamID, ParamValue), (override));
	MOCK_METHOD (tresult, setComponentHandler, (IComponentHandler*), (override));
	MOCK_METHOD (IPlugView*, createView, (FIDString), (override));

	bool processor = true;
	bool connectable = true;
	bool single = false;

private:
	template <class I>
	tresult answer (I* self, void** obj)
	{
		addRef ();
		*obj = self;
		return kResultOk;
	}
};

struct ClassEntry
{
	TUID cid;
	std::string category;
	std::string name;
};

class MockFactory : public IPluginFactory, public RefCounted
{
public:
	tresult PLUGIN_API queryInterface (const TUID, void** obj) override
	{
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return static_cast<uint32> (++refs); }
	uint32 PLUGIN_API release () override { return static_cast<uint32> (--refs); }

	MOCK_METHOD (tresult, getFactoryInfo, (PFactoryInfo*), (override));
	MOCK_METHOD (int32, countClasses, (), (override));
	MOCK_METHOD (tresult, getClassInfo, (int32, PClassInfo*), (override));
	MOCK_METHOD (tresult, createInstance, (FIDString, FIDString, void**), (override));

	// Answers countClasses and getClassInfo from `classes`.
	void serveClasses ()
	{
		ON_CALL (*this, countClasses ()).WillByDefault (testing::Invoke ([this] {
			return static_cast<int32> (classes.size ());
		}));
		ON_CALL (*this, getClassInfo (testing::_, testing::_))
		    .WillByDefault (testing::Invoke ([this] (int32 index, PClassInfo* info) -> tresult {
			    if (index < 0 || index >= static_cast<int32> (classes.size ()))
				    return kInvalidArgument;
			    std::memset (static_cast<void*> (info), 0, sizeof *info);
			    std::memcpy (info->cid, classes[index].cid, sizeof (TUID));
			    std::strncpy (info->category, classes[index].category.c_str (), PClassInfo::kCategorySize - 1);
			    std::strncpy (info->name, classes[index].name.c_str (), PClassInfo::kNameSize - 1);
			    return kResultOk;
		    }));
	}

	void addClass (char tag, const std::string& category, const std::string& name)
	{
		ClassEntry entry;
		std::memset (entry.cid, tag, sizeof entry.cid);
		entry.category = category;
		entry.name = name;
		classes.push_back (entry);
	}

	std::vector<ClassEntry> classes;
};

// A class id as addClass makes it, for matching createInstance arguments.
inline bool isClass (FIDString cid, char tag)
{
	for (int i = 0; i < 16; ++i)
		if (cid[i] != tag)
			return false;
	return true;
}

// Writes `bytes` into the stream handed to getState.
inline auto writesState (std::vector<std::uint8_t> bytes)
{
	return [bytes] (IBStream* stream) -> tresult {
		if (bytes.empty ())
			return kResultOk;
		int32 written = 0;
		stream->write (const_cast<std::uint8_t*> (bytes.data ()), static_cast<int32> (bytes.size ()), &written);
		return kResultOk;
	};
}

// Reads everything from the stream handed to setState/setComponentState.
inline std::vector<std::uint8_t> readAll (IBStream* stream)
{
	std::vector<std::uint8_t> out;
	std::uint8_t byte = 0;
	int32 got = 0;
	while (stream->read (&byte, 1, &got) == kResultOk && got == 1)
		out.push_back (byte);
	return out;
}

} // namespace fake
