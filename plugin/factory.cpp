// The module's factory: one description and the two classes; in a bundle
// made by `quillmarlow sync`, the served module's classes from its record.
#include "plugin/controller.h"
#include "plugin/outpost_lifecycle.h"
#include "plugin/plugids.h"
#include "plugin/processor.h"
#include "plugin/served_factory.h"

#include "log/log.h"

#include "public.sdk/source/main/pluginfactory.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

using namespace Steinberg;
using namespace Steinberg::QuillMarlow;

namespace {

const PClassInfo2& processorEntry ()
{
	static const PClassInfo2 entry (kProcessorUID.toTUID (), PClassInfo::kManyInstances, kVstAudioEffectClass,
	                                "Quill Marlow", Vst::kDistributable, "Fx", nullptr, "0.1.0", "VST 3.8.0");
	return entry;
}

const PClassInfo2& controllerEntry ()
{
	static const PClassInfo2 entry (kControllerUID.toTUID (), PClassInfo::kManyInstances, kVstComponentControllerClass,
	                                "Quill Marlow Controller", 0, "", nullptr, "0.1.0", "VST 3.8.0");
	return entry;
}

// The factory a made bundle's record describes; null in the QuillMarlow
// bundle. A record that cannot be read leaves a made bundle without classes
// (never the QuillMarlow classes under another name).
CPluginFactory* servedFactory ()
{
	const std::string bundle = getBundlePath ();
	Tandem::ServedRecord record;
	std::string error;
	if (Tandem::readServedRecord (bundle, record, error))
		return makeServedFactory (record);
	if (error == "no record")
		return nullptr;
	Tandem::logError () << "[QuillMarlow] " << bundle << "/" << Tandem::kServedRecordFile << " cannot be read ("
	                    << error << "): this bundle lists no plug-in; run quillmarlow sync";
	return new CPluginFactory (PFactoryInfo ("Marlow", "", "", PFactoryInfo::kUnicode));
}

} // namespace

extern "C" SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory ()
{
	if (gPluginFactory)
	{
		gPluginFactory->addRef ();
		return gPluginFactory;
	}
	if ((gPluginFactory = servedFactory ()))
		return gPluginFactory;
	static const PFactoryInfo info ("Marlow", "https://marlow-audio.example", "mailto:support@marlow-audio.example",
	                                PFactoryInfo::kUnicode);
	gPluginFactory = new CPluginFactory (info);
	gPluginFactory->registerClass (&processorEntry (), QuillMarlowProcessor::createInstance, nullptr);
	gPluginFactory->registerClass (&controllerEntry (), QuillMarlowController::createInstance, nullptr);
	return gPluginFactory;
}
