// Module entry of the several-classes test module (quill_suite.h). Built
// with QUILL_IDS_FROM_NAME=1, its class ids also depend on the module's
// file name, so that copies under other names are other plug-ins (bench).
// QUILL_FACTORY_FAULT=1 makes GetPluginFactory hang, =2 crash (a module
// that a scan must survive). QUILL_QUOTED_VENDOR=1 names its factory's
// vendor kSuiteQuotedVendor.
#include <cstring>
#include <string>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "quill_controller.h"
#include "quill_live_object.h"
#include "quill_processor.h"
#include "quill_suite.h"
#include "sdk/ref_counted.h"

#include <windows.h>

#ifndef QUILL_IDS_FROM_NAME
#define QUILL_IDS_FROM_NAME 0
#endif
#ifndef QUILL_FACTORY_FAULT
#define QUILL_FACTORY_FAULT 0
#endif
#ifndef QUILL_QUOTED_VENDOR
#define QUILL_QUOTED_VENDOR 0
#endif

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {
namespace {

// A class id of this module: the fixed one, or mixed with the file name.
FUID moduleId (const FUID& id)
{
	if (!QUILL_IDS_FROM_NAME)
		return id;
	HMODULE self = nullptr;
	GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
	                    reinterpret_cast<LPCWSTR> (&moduleId), &self);
	wchar_t path[MAX_PATH] = {};
	GetModuleFileNameW (self, path, MAX_PATH);
	uint32 hash = 2166136261u;
	for (const wchar_t* c = path; *c; ++c)
		hash = (hash ^ static_cast<uint32> (*c)) * 16777619u;
	return FUID (id.getLong1 () ^ hash, id.getLong2 (), id.getLong3 (), id.getLong4 ());
}

void copyName16 (const char* text, String128 name)
{
	size_t i = 0;
	for (; text[i] && i < 127; ++i)
		name[i] = static_cast<char16> (text[i]);
	name[i] = 0;
}

class SuiteEffect : public QuillProcessor
{
public:
	tresult PLUGIN_API getControllerClassId (TUID classId) override
	{
		std::memcpy (classId, moduleId (kSuiteEffectControllerUID).toTUID (), sizeof (TUID));
		return kResultOk;
	}
};

class SuiteSynth : public QuillProcessor
{
public:
	tresult PLUGIN_API getControllerClassId (TUID classId) override
	{
		std::memcpy (classId, moduleId (kSuiteSynthControllerUID).toTUID (), sizeof (TUID));
		return kResultOk;
	}
	int32 PLUGIN_API getBusCount (MediaType type, BusDirection dir) override
	{
		return (type == kAudio && dir == kOutput) || (type == kEvent && dir == kInput) ? 1 : 0;
	}
	tresult PLUGIN_API getBusInfo (MediaType type, BusDirection dir, int32 index, BusInfo& bus) override
	{
		if (index != 0 || getBusCount (type, dir) == 0)
			return kInvalidArgument;
		bus.mediaType = type;
		bus.direction = dir;
		bus.channelCount = type == kAudio ? 2 : 16;
		copyName16 (type == kAudio ? "Synth Out" : "MIDI In", bus.name);
		bus.busType = kMain;
		bus.flags = BusInfo::kDefaultActive;
		return kResultOk;
	}
	tresult PLUGIN_API activateBus (MediaType, BusDirection, int32, TBool) override { return kResultOk; }
	tresult PLUGIN_API setBusArrangements (SpeakerArrangement*, int32, SpeakerArrangement*, int32) override
	{
		return kResultTrue;
	}
	tresult PLUGIN_API canProcessSampleSize (int32 size) override
	{
		return size == kSample32 || size == kSample64 ? kResultTrue : kResultFalse;
	}
	tresult PLUGIN_API process (ProcessData& data) override
	{
		for (int32 bus = 0; bus < data.numOutputs; ++bus)
			for (int32 c = 0; c < data.outputs[bus].numChannels; ++c)
				if (float* out = data.outputs[bus].channelBuffers32 ? data.outputs[bus].channelBuffers32[c] : nullptr)
					for (int32 s = 0; s < data.numSamples; ++s)
						out[s] = kSuiteSynthLevel;
		return kResultOk;
	}
};

struct ClassEntry
{
	const FUID* cid;
	const char* category;
	const wchar_t* name;
	const char* subCategories;
	FUnknown* (*create) ();
};

const ClassEntry kClasses[] = {
    {&kSuiteEffectUID, "Audio Module Class", L"Quill Suite \u00C9chos", "Fx|Delay",
     [] { return static_cast<FUnknown*> (static_cast<IComponent*> (new SuiteEffect)); }},
    {&kSuiteEffectControllerUID, "Component Controller Class", L"Quill Suite \u00C9chos Controller", "",
     [] { return static_cast<FUnknown*> (static_cast<IEditController*> (new QuillController)); }},
    {&kSuiteSynthUID, "Audio Module Class", L"Quill Suite Synth", "Instrument|Synth",
     [] { return static_cast<FUnknown*> (static_cast<IComponent*> (new SuiteSynth)); }},
    {&kSuiteSynthControllerUID, "Component Controller Class", L"Quill Suite Synth Controller", "",
     [] { return static_cast<FUnknown*> (static_cast<IEditController*> (new QuillController)); }},
};
constexpr int32 kClassCount = static_cast<int32> (sizeof kClasses / sizeof kClasses[0]);

void copyText (char* dst, std::size_t capacity, const char* src)
{
	std::size_t i = 0;
	for (; src[i] && i + 1 < capacity; ++i)
		dst[i] = src[i];
	dst[i] = 0;
}

void copyWide (char16* dst, std::size_t capacity, const wchar_t* src)
{
	std::size_t i = 0;
	for (; src[i] && i + 1 < capacity; ++i)
		dst[i] = static_cast<char16> (src[i]);
	dst[i] = 0;
}

class SuiteFactory
: public Tandem::RefCounted<IPluginFactory3, Tandem::Indirectly<IPluginFactory2>, Tandem::Indirectly<IPluginFactory>>,
  private LiveObject
{
public:
	tresult PLUGIN_API getFactoryInfo (PFactoryInfo* info) override
	{
		if (!info)
			return kInvalidArgument;
		*info = {};
		copyText (info->vendor, sizeof info->vendor, QUILL_QUOTED_VENDOR ? kSuiteQuotedVendor : kSuiteVendor);
		copyText (info->url, sizeof info->url, "https://plume-audio.example");
		copyText (info->email, sizeof info->email, "mailto:help@plume-audio.example");
		info->flags = PFactoryInfo::kUnicode;
		return kResultOk;
	}
	int32 PLUGIN_API countClasses () override { return kClassCount; }
	tresult PLUGIN_API getClassInfo (int32 index, PClassInfo* info) override
	{
		if (!info || index < 0 || index >= kClassCount)
			return kInvalidArgument;
		*info = {};
		std::memcpy (info->cid, moduleId (*kClasses[index].cid).toTUID (), sizeof (TUID));
		info->cardinality = PClassInfo::kManyInstances;
		copyText (info->category, sizeof info->category, kClasses[index].category);
		for (std::size_t i = 0; kClasses[index].name[i] && i + 1 < sizeof info->name; ++i)
			info->name[i] = static_cast<char> (kClasses[index].name[i] < 0x80 ? kClasses[index].name[i] : '?');
		return kResultOk;
	}
	tresult PLUGIN_API getClassInfo2 (int32 index, PClassInfo2* info) override
	{
		PClassInfo basic;
		if (!info || getClassInfo (index, &basic) != kResultOk)
			return kInvalidArgument;
		*info = {};
		std::memcpy (info->cid, basic.cid, sizeof (TUID));
		info->cardinality = basic.cardinality;
		copyText (info->category, sizeof info->category, basic.category);
		copyText (info->name, sizeof info->name, basic.name);
		info->classFlags = kDistributable;
		copyText (info->subCategories, sizeof info->subCategories, kClasses[index].subCategories);
		copyText (info->vendor, sizeof info->vendor, kSuiteVendor);
		copyText (info->version, sizeof info->version, "1.2.0");
		copyText (info->sdkVersion, sizeof info->sdkVersion, "VST 3.7.2");
		return kResultOk;
	}
	tresult PLUGIN_API getClassInfoUnicode (int32 index, PClassInfoW* info) override
	{
		PClassInfo2 narrow;
		if (!info || getClassInfo2 (index, &narrow) != kResultOk)
			return kInvalidArgument;
		*info = {};
		std::memcpy (info->cid, narrow.cid, sizeof (TUID));
		info->cardinality = narrow.cardinality;
		copyText (info->category, sizeof info->category, narrow.category);
		copyWide (info->name, PClassInfo::kNameSize, kClasses[index].name);
		info->classFlags = narrow.classFlags;
		copyText (info->subCategories, sizeof info->subCategories, narrow.subCategories);
		copyWide (info->vendor, PClassInfo2::kVendorSize, L"Plume Audio");
		copyWide (info->version, PClassInfo2::kVersionSize, L"1.2.0");
		copyWide (info->sdkVersion, PClassInfo2::kVersionSize, L"VST 3.7.2");
		return kResultOk;
	}
	tresult PLUGIN_API setHostContext (FUnknown*) override { return kResultOk; }

	tresult PLUGIN_API createInstance (FIDString cid, FIDString iid, void** obj) override
	{
		if (!obj)
			return kInvalidArgument;
		*obj = nullptr;
		if (!cid || !iid)
			return kInvalidArgument;
		for (const ClassEntry& entry : kClasses)
		{
			if (!FUnknownPrivate::iidEqual (cid, moduleId (*entry.cid).toTUID ()))
				continue;
			FUnknown* object = entry.create ();
			const tresult result = object->queryInterface (iid, obj);
			object->release ();
			return result;
		}
		return kNoInterface;
	}
};

} // namespace
} // namespace Quill

extern "C" __declspec(dllexport) IPluginFactory* PLUGIN_API GetPluginFactory ()
{
	if (QUILL_FACTORY_FAULT == 1)
		Sleep (INFINITE);
	if (QUILL_FACTORY_FAULT == 2)
		*static_cast<volatile int*> (nullptr) = 1;
	return new Quill::SuiteFactory;
}
