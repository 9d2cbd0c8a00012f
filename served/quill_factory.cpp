// Module entry: the plug-in factory behind GetPluginFactory. Built plain,
// with the audio module and its controller as two classes, and with
// QUILL_SINGLE_OBJECT=1, with one class that is both; QUILL_NO_EDITOR=1
// leaves the controller without an editor; QUILL_MODULE_ENTRY=1 gives the
// module an InitDll and ExitDll (quill_module_entry.cpp); QUILL_LOOK_AHEAD=1
// makes the one class the look-ahead test variant, QUILL_SESSION=1 the one
// that reports what the host told it (quill_session.h), QUILL_PARAMETERS=1 the
// one with parameters of every kind (quill_parameters.h), QUILL_MIDI_MAPPING=1
// that one with MIDI and note interfaces (quill_midi_mapping.h), QUILL_FLOOD=1 the one
// that floods its host with them (quill_flood.h), QUILL_SHAPE=<n> the one
// with the buses of that shape (quill_bus_shapes.h); QUILL_CRASH_ON_DEMAND=1
// makes the test build that crashes when asked (quill_crash.h);
// QUILL_BLOCK_STATE=1 the one that reads its states as plug-ins made with
// JUCE do (quill_block_state.h), QUILL_MESSAGE_THREAD=1 the one that takes
// its gain on the thread that created it (quill_message_thread.h);
// QUILL_CENSUS=1 adds Quill Census, which counts its instances
// (quill_census.h), to the two classes.
#include <cstring>

#include "pluginterfaces/base/ipluginbase.h"
#include "quill_bus_shapes.h"
#include "quill_census.h"
#include "quill_controller.h"
#include "quill_flood.h"
#include "quill_ids.h"
#include "quill_live_object.h"
#include "quill_module_entry.h"
#include "quill_look_ahead.h"
#include "quill_midi_mapping.h"
#include "quill_message_thread.h"
#include "quill_parameters.h"
#include "quill_processor.h"
#include "quill_session.h"
#include "quill_single.h"
#include "sdk/ref_counted.h"

#ifndef QUILL_SINGLE_OBJECT
#define QUILL_SINGLE_OBJECT 0
#endif
#ifndef QUILL_NO_EDITOR
#define QUILL_NO_EDITOR 0
#endif
#ifndef QUILL_LOOK_AHEAD
#define QUILL_LOOK_AHEAD 0
#endif
#ifndef QUILL_SESSION
#define QUILL_SESSION 0
#endif
#ifndef QUILL_PARAMETERS
#define QUILL_PARAMETERS 0
#endif
#ifndef QUILL_MIDI_MAPPING
#define QUILL_MIDI_MAPPING 0
#endif
#ifndef QUILL_FLOOD
#define QUILL_FLOOD 0
#endif
#ifndef QUILL_SHAPE
#define QUILL_SHAPE 0
#endif
#ifndef QUILL_CRASH_ON_DEMAND
#define QUILL_CRASH_ON_DEMAND 0
#endif
#ifndef QUILL_BLOCK_STATE
#define QUILL_BLOCK_STATE 0
#endif
#ifndef QUILL_MESSAGE_THREAD
#define QUILL_MESSAGE_THREAD 0
#endif
#ifndef QUILL_EDITOR
#define QUILL_EDITOR 0
#endif
#ifndef QUILL_CENSUS
#define QUILL_CENSUS 0
#endif
#if QUILL_EDITOR == 4
#include "quill_opengl_editor.h"
#endif

#if QUILL_CRASH_ON_DEMAND
#include "quill_crash.h"
#define QUILL_PROCESSOR_CLASS CrashingProcessor
#define QUILL_CONTROLLER_CLASS CrashingController
#elif QUILL_BLOCK_STATE
#include "quill_block_state.h"
#define QUILL_PROCESSOR_CLASS BlockStateProcessor
#define QUILL_CONTROLLER_CLASS BlockStateController
#else
#define QUILL_PROCESSOR_CLASS QuillProcessor
#define QUILL_CONTROLLER_CLASS QuillController
#endif

using namespace Steinberg;

namespace Quill {
namespace {

struct ClassEntry
{
	const FUID* cid;
	const char* category;
	const char* name;
	FUnknown* (*create) ();
};

#if QUILL_SINGLE_OBJECT
// Builds with another editor are plug-ins of their own: ids and names of
// their own, so that a prefix can hold them beside Quill.
const FUID kEditorVariantUID (0x51C1A7E0, 0x4B1D4E11, 0x9A7F0C3D, 0x2E8B5703 + (QUILL_EDITOR << 8));
const char* const kEditorVariantNames[] = {"Quill Single", "Quill VBlank", "Quill Direct2D", "Quill Form",
                                           "Quill OpenGL"};
#if QUILL_EDITOR == 4
const QuillController::ViewMaker kEditorMaker = makeOpenGLEditor;
#else
const QuillController::ViewMaker kEditorMaker = nullptr;
#endif
const ClassEntry kClasses[] = {
    {&kEditorVariantUID, kAudioModuleCategory, kEditorVariantNames[QUILL_EDITOR],
     [] {
	     // Not a QuillSingle: its controller half is its own.
	     if (QUILL_MIDI_MAPPING)
		     return static_cast<FUnknown*> (static_cast<Vst::IComponent*> (new QuillMidiMapping));
	     if (QUILL_PARAMETERS)
		     return static_cast<FUnknown*> (static_cast<Vst::IComponent*> (new QuillParameters));
	     if (QUILL_SHAPE)
		     return static_cast<FUnknown*> (static_cast<Vst::IComponent*> (new QuillBusShapes (Shape (QUILL_SHAPE))));
	     QuillSingle* single = QUILL_LOOK_AHEAD       ? new QuillLookAhead
	                           : QUILL_SESSION        ? new QuillSession
	                           : QUILL_FLOOD          ? new QuillFlood
	                           : QUILL_MESSAGE_THREAD ? new QuillMessageThread
	                                                  : new QuillSingle;
	     if (QUILL_NO_EDITOR)
		     single->withoutEditor ();
	     if (QUILL_EDITOR)
		     single->useEditor (static_cast<EditorKind> (QUILL_EDITOR), kEditorMaker);
	     return static_cast<FUnknown*> (static_cast<Vst::IComponent*> (single));
     }},
};
#else
const ClassEntry kClasses[] = {
#if QUILL_CENSUS
    // Before Quill: without a class id, outpost serves the last audio class.
    {&kCensusUID, kAudioModuleCategory, "Quill Census",
     [] { return static_cast<FUnknown*> (static_cast<Vst::IComponent*> (new QuillCensus)); }},
    {&kCensusControllerUID, kControllerCategory, "Quill Census Controller",
     [] { return static_cast<FUnknown*> (static_cast<Vst::IEditController*> (new QuillCensusController)); }},
#endif
    {&kProcessorUID, kAudioModuleCategory, "Quill",
     [] { return static_cast<FUnknown*> (static_cast<Vst::IComponent*> (new QUILL_PROCESSOR_CLASS)); }},
    {&kControllerUID, kControllerCategory, "Quill Controller",
     [] {
	     auto* controller = new QUILL_CONTROLLER_CLASS;
	     if (QUILL_NO_EDITOR)
		     controller->withoutEditor ();
	     return static_cast<FUnknown*> (static_cast<Vst::IEditController*> (controller));
     }},
};
#endif
constexpr int32 kClassCount = static_cast<int32> (sizeof kClasses / sizeof kClasses[0]);

void copyText (char* dst, std::size_t capacity, const char* src)
{
	std::strncpy (dst, src, capacity - 1);
	dst[capacity - 1] = 0;
}

class QuillFactory : public Tandem::RefCounted<IPluginFactory>, private LiveObject
{
public:
	~QuillFactory () override;

	tresult PLUGIN_API getFactoryInfo (PFactoryInfo* info) override
	{
		if (!info)
			return kInvalidArgument;
		*info = {};
		copyText (info->vendor, sizeof info->vendor, "Quill Marlow");
		copyText (info->url, sizeof info->url, "");
		copyText (info->email, sizeof info->email, "");
		info->flags = PFactoryInfo::kNoFlags;
		return kResultOk;
	}

	int32 PLUGIN_API countClasses () override { return kClassCount; }

	tresult PLUGIN_API getClassInfo (int32 index, PClassInfo* info) override
	{
		if (!info || index < 0 || index >= kClassCount)
			return kInvalidArgument;
		*info = {};
		std::memcpy (info->cid, kClasses[index].cid->toTUID (), sizeof (TUID));
		info->cardinality = PClassInfo::kManyInstances;
		copyText (info->category, sizeof info->category, kClasses[index].category);
		copyText (info->name, sizeof info->name, kClasses[index].name);
		return kResultOk;
	}

	tresult PLUGIN_API createInstance (FIDString cid, FIDString iid, void** obj) override
	{
		if (!obj)
			return kInvalidArgument;
		*obj = nullptr;
		if (!cid || !iid)
			return kInvalidArgument;
		for (const ClassEntry& entry : kClasses)
		{
			if (!FUnknownPrivate::iidEqual (cid, entry.cid->toTUID ()))
				continue;
			FUnknown* object = entry.create ();
			const tresult result = object->queryInterface (iid, obj);
			object->release (); // the caller keeps the reference from queryInterface
			return result;
		}
		return kNoInterface;
	}
};

QuillFactory* s_factory = nullptr;

QuillFactory::~QuillFactory ()
{
	if (s_factory == this)
		s_factory = nullptr;
}

} // namespace
} // namespace Quill

// Each call hands out one reference to the module's factory; a module
// built with an entry has none before the host called InitDll.
extern "C" __declspec(dllexport) IPluginFactory* PLUGIN_API GetPluginFactory ()
{
	if (!Quill::moduleEntered ())
		return nullptr;
	if (Quill::s_factory)
	{
		Quill::s_factory->addRef ();
	}
	else
	{
		Quill::s_factory = new Quill::QuillFactory;
	}
	return Quill::s_factory;
}
