// The module's factory: one description and the two classes.
#include "plugin/controller.h"
#include "plugin/plugids.h"
#include "plugin/processor.h"

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
	                                "Quill Marlow", Vst::kDistributable, "Fx", nullptr, "0.1.0",
	                                "VST 3.8.0");
	return entry;
}

const PClassInfo2& controllerEntry ()
{
	static const PClassInfo2 entry (kControllerUID.toTUID (), PClassInfo::kManyInstances,
	                                kVstComponentControllerClass, "Quill Marlow Controller", 0, "", nullptr,
	                                "0.1.0", "VST 3.8.0");
	return entry;
}

} // namespace

extern "C" SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory ()
{
	if (gPluginFactory)
	{
		gPluginFactory->addRef ();
		return gPluginFactory;
	}
	static const PFactoryInfo info ("Marlow", "https://marlow-audio.example", "mailto:support@marlow-audio.example",
	                                PFactoryInfo::kUnicode);
	gPluginFactory = new CPluginFactory (info);
	gPluginFactory->registerClass (&processorEntry (), QuillMarlowProcessor::createInstance, nullptr);
	gPluginFactory->registerClass (&controllerEntry (), QuillMarlowController::createInstance, nullptr);
	return gPluginFactory;
}
